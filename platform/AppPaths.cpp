#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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

QString findReadOnly(const QString &name)
{
    const QString beside = programDir() + QLatin1Char('/') + name;
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed =
        QStandardPaths::locate(QStandardPaths::AppDataLocation, name, QStandardPaths::LocateFile);
    return installed.isEmpty() ? beside : installed;
}

} // namespace AppPaths
