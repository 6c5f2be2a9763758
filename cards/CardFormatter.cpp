#include "CardFormatter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int unmountTimeoutMs = 30 * 1000;
constexpr int mkfsTimeoutMs = 10 * 60 * 1000; /* a quick format; a slow card reader takes a while */
constexpr int mountTimeoutMs = 30 * 1000;
constexpr int releaseTimeoutMs = 15 * 1000;

/* A tool by name: in $PATH, then in the system folders a user's $PATH may lack. */
QString findTool(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/sbin"),
                   QStringLiteral("/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    return path;
}

QString readTrimmed(QTemporaryFile &file)
{
    file.seek(0);
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}

/*
 * Run a tool with an argument list (never a shell) and wait at most
 * `timeoutMs`; a tool that takes longer is killed. Its output goes to
 * temporary files rather than pipes: a FUSE mount helper leaves a daemon
 * behind that keeps them open, and a pipe closed under it would end it.
 */
bool runTool(const QString &name, const QStringList &args, int timeoutMs, QString *error)
{
    const QString what = name + QLatin1Char(' ') + args.join(QLatin1Char(' '));
    const QString program = findTool(name);
    if (program.isEmpty()) {
        *error = QStringLiteral("%1 is not installed").arg(name);
        return false;
    }
    QTemporaryFile out, err;
    if (!out.open() || !err.open()) {
        *error = QStringLiteral("%1: no temporary file for its output: %2")
                     .arg(what, out.errorString() + err.errorString());
        return false;
    }
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(out.fileName());
    process.setStandardErrorFile(err.fileName());
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        *error = QStringLiteral("%1: cannot start: %2").arg(what, process.errorString());
        return false;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        *error = QStringLiteral("%1: no end within %2 s; stopped").arg(what).arg(timeoutMs / 1000);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        QString message = readTrimmed(err);
        if (message.isEmpty())
            message = readTrimmed(out);
        *error = QStringLiteral("%1: %2%3")
                     .arg(what,
                          process.exitStatus() == QProcess::NormalExit
                              ? QStringLiteral("exit %1").arg(process.exitCode())
                              : QStringLiteral("crashed"),
                          message.isEmpty() ? QString() : QStringLiteral(": ") + message);
        return false;
    }
    return true;
}

bool mountedAt(const QString &device, const QString &mountPath)
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    for (const Volume &volume : VolumeQuery::parseMounts(mounts.readAll()))
        if (volume.device == device && volume.mountPath == mountPath)
            return true;
    return false;
}

bool unmount(const Volume &card, QString *error)
{
    /* Busy for a moment now and then, e.g. while a scan still reads it: try again then. */
    for (int attempt = 0; attempt < 20; ++attempt) {
        const bool ran =
            runTool(QStringLiteral("umount"), {card.mountPath}, unmountTimeoutMs, error);
        if (!mountedAt(card.device, card.mountPath))
            return true;
        if (ran)
            *error = QStringLiteral("%1 is still mounted after umount").arg(card.mountPath);
        QThread::msleep(100);
    }
    *error = QStringLiteral("unmount failed: %1").arg(*error);
    return false;
}

/* Wait until nothing holds the device any more (the driver of the old mount lets go late). */
bool waitReleased(const QString &device, QString *error)
{
    for (int waited = 0;; waited += 50) {
        const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        const int cause = errno;
        if (cause != EBUSY || waited >= releaseTimeoutMs) {
            *error = QStringLiteral("%1 is not free after unmounting: %2")
                         .arg(device, QString::fromLocal8Bit(std::strerror(cause)));
            return false;
        }
        QThread::msleep(50);
    }
}

/*
 * Mount the new exFAT file system again at the card's place: with the kernel's
 * driver where the card had a kernel mount, with the FUSE driver where it had
 * FUSE or the kernel refuses.
 */
bool mountAgain(const Volume &card, QString *error)
{
    if (!QDir().mkpath(card.mountPath)) {
        *error = QStringLiteral("cannot make the mount folder %1 again").arg(card.mountPath);
        return false;
    }
    QStringList tried;
    for (int attempt = 0; attempt < 3 && !mountedAt(card.device, card.mountPath); ++attempt) {
        QString why;
        if (card.fsType != QLatin1String("fuseblk")) {
            if (runTool(
                    QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("exfat"), card.device, card.mountPath},
                    mountTimeoutMs, &why))
                break;
            tried << why;
        }
        if (runTool(QStringLiteral("mount.exfat-fuse"), {card.device, card.mountPath},
                    mountTimeoutMs, &why))
            break;
        tried << why;
        QThread::msleep(200);
    }
    if (mountedAt(card.device, card.mountPath))
        return true;
    *error =
        QStringLiteral("mount failed: %1")
            .arg(tried.isEmpty() ? card.mountPath + QStringLiteral(" is not in the mount table")
                                 : tried.join(QStringLiteral("; ")));
    return false;
}

bool formatWithTools(const Volume &card, const QString &label, QString *mountPath, QString *error)
{
    if (!unmount(card, error) || !waitReleased(card.device, error))
        return false;
    QString why;
    if (!runTool(QStringLiteral("mkfs.exfat"), {QStringLiteral("-L"), label, card.device},
                 mkfsTimeoutMs, &why)) {
        QString again;
        *error = QStringLiteral("format failed: %1").arg(why);
        if (!mountAgain(card, &again))
            *error += QStringLiteral("; left unmounted: %1").arg(again);
        return false;
    }
    if (!mountAgain(card, error))
        return false;
    *mountPath = card.mountPath;
    VolumeQuery::forgetLabels();
    return true;
}

} // namespace

namespace CardFormatter {

Way autoWay()
{
    return geteuid() == 0 || !udisksAvailable() ? Way::Tools : Way::UDisks;
}

bool format(const Volume &card, const QString &label, QString *mountPath, QString *error, Way way)
{
    if (card.device.isEmpty() || card.mountPath.isEmpty()) {
        *error = QStringLiteral("no device or mount path to format");
        return false;
    }
    if (way == Way::Auto)
        way = autoWay();
    if (way == Way::UDisks)
        return formatWithUDisks(card, label, mountPath, error);
    return formatWithTools(card, label, mountPath, error);
}

} // namespace CardFormatter
