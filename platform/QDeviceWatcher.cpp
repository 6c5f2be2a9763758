#include "QDeviceWatcher.h"

#include "VolumeQuery.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

QDeviceWatcher::QDeviceWatcher(QObject *parent)
    : QDeviceWatcher(QStringLiteral("/proc/self/mounts"), parent)
{
}

QDeviceWatcher::QDeviceWatcher(const QString &mountsFile, QObject *parent)
    : QObject(parent), m_mountsFile(mountsFile), m_poll(new QTimer(this))
{
    connect(m_poll, &QTimer::timeout, this, &QDeviceWatcher::rescan);
}

QDeviceWatcher::~QDeviceWatcher()
{
    stop();
}

bool QDeviceWatcher::start()
{
    if (m_running)
        return true;
    QHash<QString, QString> mounts;
    if (!readMounts(mounts))
        return false;
    m_known = std::move(mounts);

    /*
     * The kernel raises POLLPRI | POLLERR on an open mount table whenever a mount comes or goes;
     * reading it again is what we do anyway. A plain file never raises them, which is harmless.
     */
    m_fd = ::open(QFile::encodeName(m_mountsFile).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &QDeviceWatcher::rescan);
    }
    if (m_pollInterval > 0)
        m_poll->start(m_pollInterval);
    m_running = true;
    return true;
}

bool QDeviceWatcher::stop()
{
    if (!m_running)
        return false;
    m_poll->stop();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_running = false;
    return true;
}

void QDeviceWatcher::setPollInterval(int msec)
{
    m_pollInterval = std::max(0, msec);
    if (!m_running)
        return;
    if (m_pollInterval > 0)
        m_poll->start(m_pollInterval);
    else
        m_poll->stop();
}

void QDeviceWatcher::rescan()
{
    if (!m_running)
        return;
    QHash<QString, QString> now;
    if (!readMounts(now))
        return;

    QStringList added, removed, changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const auto before = m_known.constFind(it.key());
        if (before == m_known.cend())
            added.append(it.key());
        else if (*before != it.value())
            changed.append(it.key());
    }
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it) {
        if (!now.contains(it.key()))
            removed.append(it.key());
    }
    m_known = std::move(now);

    /* A slot may stop the watcher, restart it or even delete it: emit from our own lists. */
    removed.sort();
    added.sort();
    changed.sort();
    const QPointer<QDeviceWatcher> alive(this);
    for (const QString &path : std::as_const(removed)) {
        if (alive)
            emit deviceRemoved(path);
    }
    for (const QString &path : std::as_const(added)) {
        if (alive)
            emit deviceAdded(path);
    }
    for (const QString &path : std::as_const(changed)) {
        if (alive)
            emit deviceChanged(path);
    }
}

bool QDeviceWatcher::readMounts(QHash<QString, QString> &mounts) const
{
    QFile file(m_mountsFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    mounts.clear();
    /* The same path mounted twice counts once: the last mount is the one seen there. */
    for (const Volume &volume : VolumeQuery::parseMounts(file.readAll()))
        mounts.insert(volume.mountPath, volume.device);
    return true;
}
