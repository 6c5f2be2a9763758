/*
 * Tells when a volume is mounted or unmounted, by its mount path (the "drive"
 * the pages know volumes by). It watches the mount table: the kernel flags
 * /proc/self/mounts as exceptional when it changes, and a slow poll stands in
 * should an event dispatcher not report that.
 */
#ifndef PLATFORM_QDEVICEWATCHER_H
#define PLATFORM_QDEVICEWATCHER_H

#include <QHash>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

class QDeviceWatcher : public QObject {
    Q_OBJECT

public:
    /* `mountsFile` is the mount table to watch; tests give a file of their own. */
    explicit QDeviceWatcher(QObject *parent = nullptr);
    explicit QDeviceWatcher(const QString &mountsFile, QObject *parent = nullptr);
    ~QDeviceWatcher() override;

    /* Take the present mounts as known and watch for changes; false when the table is unreadable.
     */
    bool start();
    /* Stop watching; false when it was not watching. */
    bool stop();
    bool isRunning() const { return m_running; }

    /* The interval of the fallback poll in milliseconds (2000 by default); 0 turns it off. */
    void setPollInterval(int msec);
    int pollInterval() const { return m_pollInterval; }

public slots:
    /* Read the mount table again and report what changed since the last reading. */
    void rescan();

signals:
    void deviceAdded(const QString &mountPath);
    void deviceRemoved(const QString &mountPath);
    /* Still mounted at the same path, but another device now. */
    void deviceChanged(const QString &mountPath);

private:
    bool readMounts(QHash<QString, QString> &mounts) const;

    QString m_mountsFile;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_poll = nullptr;
    int m_pollInterval = 2000;
    bool m_running = false;
    /* mount path -> device, as of the last reading */
    QHash<QString, QString> m_known;
};

#endif
