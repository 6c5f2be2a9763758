#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef ORVEX_DATA_INSTALL_DIR
#error "ORVEX_DATA_INSTALL_DIR must name the installed data folder"
#endif

namespace AppPaths {

QString dataDir()
{
    QString dir = qEnvironmentVariable("ORVEX_DATA_DIR");
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir);
    return dir;
}

QString dumpDir()
{
    const QString dir = dataDir() + QStringLiteral("/R7Izurudizi/dump");
    return QDir().mkpath(dir) ? dir : QString();
}

QString programDir()
{
    return QCoreApplication::applicationDirPath();
}

QString installedDataDir()
{
    return QStringLiteral(ORVEX_DATA_INSTALL_DIR);
}

QStringList sharedDirs()
{
    QStringList dirs{programDir()};
    const QString user = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!user.isEmpty())
        dirs << user;
    dirs << installedDataDir();
    dirs.removeDuplicates();
    return dirs;
}

QString findShared(const QString &name, QStringList *lookedIn)
{
    const QStringList dirs = sharedDirs();
    if (lookedIn) {
        lookedIn->clear();
        for (const QString &dir : dirs)
            lookedIn->append(QDir::toNativeSeparators(dir));
    }
    for (const QString &dir : dirs) {
        const QString path = dir + QLatin1Char('/') + name;
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

QString findReadOnly(const QString &name)
{
    const QString found = findShared(name);
    return found.isEmpty() ? programDir() + QLatin1Char('/') + name : found;
}

} // namespace AppPaths
