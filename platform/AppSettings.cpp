#include "AppSettings.h"

#include <QCommandLineParser>
#include <QSettings>

#include <arpa/inet.h>

namespace AppSettings {

namespace {
const QString addressKey = QStringLiteral("camera/address");
const QString portKey = QStringLiteral("camera/port");

/* Command-line values: they hold for this run and are not saved. */
QString addressOverride;
unsigned portOverride = 0;

/* A dotted IPv4 address; `out` gets its four bytes in network order. */
bool parseIPv4(const QString &text, in_addr *out = nullptr)
{
    in_addr address{};
    const bool ok = inet_pton(AF_INET, text.toLatin1().constData(), &address) == 1;
    if (ok && out)
        *out = address;
    return ok;
}

bool isIPv4(const QString &text)
{
    return parseIPv4(text);
}
} // namespace

QString cameraAddress()
{
    if (!addressOverride.isEmpty())
        return addressOverride;
    const QString address = QSettings().value(addressKey, defaultCameraAddress).toString();
    return isIPv4(address) ? address : defaultCameraAddress;
}

unsigned cameraPort()
{
    if (portOverride != 0)
        return portOverride;
    bool ok = false;
    const unsigned port = QSettings().value(portKey, defaultCameraPort).toUInt(&ok);
    return ok && port > 0 && port < 65536 ? port : defaultCameraPort;
}

void setCameraAddress(const QString &address)
{
    QSettings().setValue(addressKey, address);
}

void setCameraPort(unsigned port)
{
    QSettings().setValue(portKey, port);
}

bool applyCommandLine(const QStringList &arguments, QString &error)
{
    QCommandLineParser parser;
    const QCommandLineOption address(QStringLiteral("camera-address"),
                                     QStringLiteral("IPv4 address of the camera."),
                                     QStringLiteral("address"));
    const QCommandLineOption port(QStringLiteral("camera-port"),
                                  QStringLiteral("UDP port of the camera."),
                                  QStringLiteral("port"));
    const QCommandLineOption screenshots(QStringLiteral("screenshots"),
                                         QStringLiteral("Save screenshots into a folder and quit."),
                                         QStringLiteral("folder"));
    parser.addOptions({address, port, screenshots});
    parser.addHelpOption();
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(address)) {
        const QString value = parser.value(address);
        if (!isIPv4(value)) {
            error = QStringLiteral("--camera-address: '%1' is no IPv4 address").arg(value);
            return false;
        }
        addressOverride = value;
    }
    if (parser.isSet(port)) {
        bool ok = false;
        const unsigned value = parser.value(port).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            error = QStringLiteral("--camera-port: '%1' is no port").arg(parser.value(port));
            return false;
        }
        portOverride = value;
    }
    return true;
}

bool setCameraOverride(const QString &address, unsigned port, QString &error)
{
    if (!address.isEmpty() && !isIPv4(address)) {
        error = QStringLiteral("--camera-address: '%1' is no IPv4 address").arg(address);
        return false;
    }
    if (port > 65535) {
        error = QStringLiteral("--camera-port: '%1' is no port").arg(port);
        return false;
    }
    if (!address.isEmpty())
        addressOverride = address;
    if (port != 0)
        portOverride = port;
    return true;
}

bool isLoopback(const QString &address)
{
    in_addr parsed{};
    return parseIPv4(address, &parsed) && (ntohl(parsed.s_addr) >> 24) == 127;
}

} // namespace AppSettings
