#include "WifiNetwork.h"

#include <QProcess>
#include <QStringList>

namespace {

WIFI::Source &installed_source()
{
    static WIFI::Source source;
    return source;
}

/* Run a program with arguments (never through a shell); its output, or nothing. */
bool run(const QString &program, const QStringList &arguments, QString &output)
{
    QProcess process;
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForFinished(3000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    output = QString::fromUtf8(process.readAllStandardOutput());
    return true;
}

} // namespace

namespace WIFI {

int systemSSid(QString &ssid)
{
    ssid.clear();
    QString output;
    if (run(QStringLiteral("iwgetid"), {QStringLiteral("-r")}, output)) {
        ssid = output.trimmed();
        return 0;
    }
    /* nmcli -t prints "yes:NAME" for the active connection; colons in names come escaped. */
    if (run(QStringLiteral("nmcli"),
            {QStringLiteral("-t"), QStringLiteral("-f"), QStringLiteral("active,ssid"),
             QStringLiteral("dev"), QStringLiteral("wifi")},
            output)) {
        for (const QString &line : output.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("yes:"))) {
                ssid = line.mid(4).replace(QLatin1String("\\:"), QLatin1String(":"));
                break;
            }
        }
        return 0;
    }
    return -1;
}

int getSSid(QString &ssid)
{
    if (installed_source())
        return installed_source()(ssid);
    return systemSSid(ssid);
}

void setSource(Source source)
{
    installed_source() = std::move(source);
}

} // namespace WIFI
