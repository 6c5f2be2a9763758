/*
 * Tables from the raw POS files of the USB POS volume: a main table per file
 * and, for 52-byte records in per-lens mode, the five lens tables in which
 * each record's position is moved along the GPS track by the lens's exposure
 * offset. Tables go to temporary names and are renamed when complete.
 *
 * start() writes on a thread of its own and reports by signal; exportFile()
 * is the same work done synchronously.
 */
#ifndef POS_USBPOSEXPORT_H
#define POS_USBPOSEXPORT_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <thread>

struct UsbExportJob {
    QString source; /* raw POS file */
    QString table;  /* main table's final path; lens tables go beside it */
};

class UsbPosExport : public QObject {
    Q_OBJECT

public:
    /* Records done and records in all; return false to stop. */
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    explicit UsbPosExport(QObject *parent = nullptr);
    ~UsbPosExport() override;

    /* Export the jobs in order on the export thread; false when one already runs. */
    bool start(const QList<UsbExportJob> &jobs, int recordSize, bool perLens);
    void cancel() { m_cancel.store(true); }
    bool isRunning() const { return m_running.load(); }

    /*
     * Export one file now. `written` gets the tables made; false with `error`
     * (an English line naming the file) when a file cannot be read or written,
     * or when `progress` asked to stop.
     */
    static bool exportFile(const UsbExportJob &job, int recordSize, bool perLens,
                           const Progress &progress, QStringList *written, QString *error);

    /* The status line after `done` of `count` files at `percent`. */
    static QString statusText(int recordSize, bool perLens, int done, int count, int percent);

signals:
    void progressChanged(int percent, const QString &status);
    void finished(bool ok, const QString &message, const QStringList &written);

private:
    void run(QList<UsbExportJob> jobs, int recordSize, bool perLens);

    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_cancel{false};
};

#endif
