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
    /* Stop every worker between files (waits for the files being copied). */
    void stop();

    bool isRunning() const;
    /* Combined POS records for geotagging, in table order. */
    qsizetype positionCount() const { return m_positions.size(); }
    QList<LensSummary> summary() const;
    /* Photos done and planned over all lenses. */
    void totals(int *done, int *planned, qint64 *bytes) const;

    /* The data folder's task and information files of a lens ("center.log"). */
    static QString taskFilePath(const QString &dataDir, int disk);

signals:
    void progressChanged(int done, int planned);
    void lensFailed(int disk, const QString &reason);
    /* Every lens ended; `ok` when each did all of its files. */
    void finished(bool ok);

private:
    void poll();

    OffloadPlan m_plan;
    QList<GeoPosition> m_positions;
    std::vector<std::unique_ptr<DiskTask>> m_tasks;
    std::vector<std::unique_ptr<PhotoInfoFile>> m_infoFiles;
    QList<int> m_reportedFailures;
    QTimer m_timer;
    bool m_running = false;
};

#endif
