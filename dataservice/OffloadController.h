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
#include "PhotoInfoFile.h"
#include "TaskConfig.h"
#include "platform/VolumeQuery.h"
#include "pos/MyExcelObject.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

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
    bool resume(const QList<Volume> &volumes, QString *error);
    /* Stop every worker between files (waits for the files being copied). */
    void stop();

    bool isRunning() const;
    QString saveDir() const { return m_plan.saveDir; }
    /* The BlocksExchange files written at completion. */
    QStringList exchangeFiles() const { return m_exchangeFiles; }
    /* Combined POS records for geotagging, in table order. */
    qsizetype positionCount() const { return m_positions.size(); }
    QList<LensSummary> summary() const;
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
};

#endif
