/*
 * A whole transfer of the lens cards into the save folder: it checks the
 * plan, loads the POS tables, builds one offload task per lens, starts and
 * stops them, and announces progress, per-lens failures and the end by
 * signal. The image data page and orvex-cli both drive it; it holds no
 * widget. Its signals come from a timer on the thread that owns it.
 */
#ifndef DATASERVICE_OFFLOADCONTROLLER_H
#define DATASERVICE_OFFLOADCONTROLLER_H

#include "DiskTask.h"
#include "LensTable.h"
#include "OffloadRecord.h"
#include "PhotoInfoFile.h"
#include "TaskConfig.h"
#include "platform/VolumeQuery.h"
#include "pos/MyExcelObject.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <memory>
#include <mutex>

struct OffloadPlan {
    QString saveDir;
    /* The lenses to offload (LensTable disk numbers) and their photo folders. */
    QList<QPair<int, QString>> sources;
    /* POS tables in the order they were added; a path given twice counts once. */
    QStringList posTables;
    /* One BlocksExchange file per POS table at completion. */
    bool sorties = false;
    /* Zip volumes of at most this many MiB beside the copies; 0: none. */
    double splitMiB = 0;
    QString splitText; /* as the user gave it ("4GB") */
    /* Entries of the volumes encrypted with this; empty: none. */
    QByteArray password;
    /*
     * Every copy synced and read back from the disk before it counts, zip
     * volumes tested when closed. Off: the hashes are still recorded, marked
     * as not read back, and such copies make no card safe to clear.
     */
    bool readBack = true;
    /* XXH64 of what is read and written; off only to measure what hashing costs. */
    bool hashes = true;
};

struct LensSummary {
    int disk = -1;
    QString source;
    QString folder; /* the lens folder in the save directory */
    int planned = 0;
    int done = 0;
    int geotagged = 0;
    int skipped = 0;
    int written = 0;
    /* Files of this lens's card folder in the offload record: copied, and of them verified. */
    int copied = 0;
    int verified = 0;
    qint64 bytesWritten = 0;
    QList<SkippedFile> skippedFiles;
    QString error; /* why the lens ended early; empty when it did not */
    bool finished = false;
};

class OffloadController : public QObject {
    Q_OBJECT

public:
    explicit OffloadController(QObject *parent = nullptr);
    ~OffloadController() override;

    /*
     * Check the plan and load its POS tables; false with `error` (one line
     * naming the folder, the table or the lens) when the transfer cannot
     * start. Nothing is written.
     */
    bool prepare(const OffloadPlan &plan, const QList<Volume> &volumes, QString *error);
    /* Start every lens of the prepared plan afresh; false with `error`. */
    bool start(QString *error);
    /*
     * Continue the transfer that Taskconfig.xml in the data folder describes,
     * with its own options, from the lenses' task files; false with `error`
     * when there is none to continue or it cannot be.
     */
    bool resume(const QList<Volume> &volumes, QString *error, bool readBack = true);
    /* Stop every worker between files (waits for the files being copied). */
    void stop();

    bool isRunning() const;
    QString saveDir() const { return m_plan.saveDir; }
    /* The BlocksExchange files written at completion. */
    QStringList exchangeFiles() const { return m_exchangeFiles; }
    /* Combined POS records for geotagging, in table order. */
    qsizetype positionCount() const { return m_positions.size(); }
    QList<LensSummary> summary() const;
    /* Whether every file of every lens has a verified copy in the offload record. */
    bool allVerified() const;
    /* The offload record of the save folder. */
    QString recordPath() const;
    /* Photos done and planned over all lenses. */
    void totals(int *done, int *planned, qint64 *bytes) const;

    /* A volume size as "4GB", "700MB" or "1.5gb", in MiB; -1 when it is no such size. */
    static double parseSize(const QString &text);

    /* The data folder's task and information files of a lens ("center.log"). */
    static QString taskFilePath(const QString &dataDir, int disk);

signals:
    void progressChanged(int done, int planned);
    void lensFailed(int disk, const QString &reason);
    /* Every lens ended; `ok` when each did all of its files (and the exchange files were written).
     */
    void finished(bool ok);
    /* Completion could not write what it had to (Taskconfig.xml, BlocksExchange files). */
    void problem(const QString &message);

private:
    void poll();
    bool startTasks(bool resuming, QString *error);
    bool loadTables(const QStringList &paths, QString *error);
    /*
     * Taskconfig.xml as things stand; `success` when the transfer is complete.
     * The workers must not run (their records are read), or be about to start.
     */
    void saveConfig(bool success, bool write = true);
    void writeConfig();
    void complete(bool ok);
    /* Open the save folder's record and learn what it holds of these cards. */
    bool openRecord(QString *error);
    /* Hooks of a lens's worker, on its thread: record a copy, test a volume, list the sums. */
    bool recordCopy(int disk, const CopiedFile &file, QString *error);
    bool recordVolume(int disk, const QString &volumePath, QString *error);
    void writeChecksums(int disk);

    OffloadPlan m_plan;
    QList<GeoPosition> m_positions;
    QList<QPair<QString, MyExcelObject>> m_tables;
    QStringList m_exchangeFiles;
    TaskConfig m_config;
    std::vector<std::unique_ptr<DiskTask>> m_tasks;
    std::vector<std::unique_ptr<PhotoInfoFile>> m_infoFiles;
    QList<int> m_reportedFailures;
    QTimer m_timer;
    bool m_running = false;

    /* Where a lens's photo folder lies: the card's UUID, label and mount folder. */
    struct CardOrigin {
        QString uuid;
        QString label;
        QString root;
    };
    QList<Volume> m_volumes;
    std::array<CardOrigin, LensTable::count> m_origins;
    OffloadRecordWriter m_record;
    /* Guards what the workers' hooks share: the members below. */
    mutable std::mutex m_recordMutex;
    QSet<QByteArray> m_recordedLines; /* lines already in the record, without their time */
    /* Per lens: card path -> verified, and copy or volume name in the lens folder -> XXH64. */
    std::array<QHash<QString, bool>, LensTable::count> m_cardFiles;
    std::array<QMap<QString, quint64>, LensTable::count> m_sums;
    std::array<QStringList, LensTable::count> m_cardPaths; /* the task's files, card-relative */
    QHash<QString, QPair<qint64, quint64>> m_volumeLines;  /* volume -> size, XXH64 recorded */
    QStringList m_listFailures;
};

#endif
