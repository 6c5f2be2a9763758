/*
 * Formatting a card through udisks2 on the system bus, the way a desktop
 * user without root does it (polkit may ask for a password): the card's
 * block object is resolved from its device, its file system unmounted, the
 * block formatted as exFAT with the label, and the new file system mounted
 * where udisks2 puts it.
 */
#include "CardFormatter.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QFileInfo>
#include <QThread>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.UDisks2");
const QString blockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString filesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");

constexpr int formatTimeoutMs = 10 * 60 * 1000;
constexpr int callTimeoutMs = 60 * 1000;

/* The udisks2 object of a block device: asked of the manager, else by its name. */
QString blockObject(const QString &device)
{
    QDBusInterface manager(service, QStringLiteral("/org/freedesktop/UDisks2/Manager"),
                           QStringLiteral("org.freedesktop.UDisks2.Manager"),
                           QDBusConnection::systemBus());
    manager.setTimeout(callTimeoutMs);
    const QDBusReply<QList<QDBusObjectPath>> found =
        manager.call(QStringLiteral("ResolveDevice"), QVariantMap{{QStringLiteral("path"), device}},
                     QVariantMap());
    if (found.isValid() && !found.value().isEmpty())
        return found.value().first().path();
    return QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + QFileInfo(device).fileName();
}

} // namespace

namespace CardFormatter {

bool udisksAvailable()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(service);
    return registered.isValid() && registered.value();
}

bool formatWithUDisks(const Volume &card, const QString &label, QString *mountPath, QString *error)
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    const QString object = blockObject(card.device);

    QDBusInterface filesystem(service, object, filesystemInterface, bus);
    filesystem.setTimeout(callTimeoutMs);
    const QDBusMessage unmounted = filesystem.call(QStringLiteral("Unmount"), QVariantMap());
    if (unmounted.type() == QDBusMessage::ErrorMessage &&
        unmounted.errorName() != QLatin1String("org.freedesktop.UDisks2.Error.NotMounted")) {
        *error = QStringLiteral("udisks2 unmount of %1 failed: %2")
                     .arg(object, unmounted.errorMessage());
        return false;
    }

    QDBusInterface block(service, object, blockInterface, bus);
    block.setTimeout(formatTimeoutMs);
    const QDBusMessage formatted = block.call(QStringLiteral("Format"), QStringLiteral("exfat"),
                                              QVariantMap{{QStringLiteral("label"), label}});
    if (formatted.type() == QDBusMessage::ErrorMessage) {
        *error =
            QStringLiteral("udisks2 format of %1 failed: %2").arg(object, formatted.errorMessage());
        return false;
    }

    /* The new file system's interface shows up on the object a moment after the format. */
    QString why;
    for (int attempt = 0; attempt < 50; ++attempt) {
        QDBusInterface fresh(service, object, filesystemInterface, bus);
        fresh.setTimeout(callTimeoutMs);
        const QDBusReply<QString> mounted = fresh.call(QStringLiteral("Mount"), QVariantMap());
        if (mounted.isValid()) {
            *mountPath = mounted.value();
            VolumeQuery::forgetLabels();
            return true;
        }
        why = mounted.error().message();
        QThread::msleep(200);
    }
    *error = QStringLiteral("udisks2 mount of %1 failed: %2").arg(object, why);
    return false;
}

} // namespace CardFormatter
