/*
 * The program's settings, kept where Qt keeps them for the user
 * (~/.config/Orvex/Orvex.conf on Linux). The camera's address may also be
 * given on the command line: --camera-address A [--camera-port P].
 */
#ifndef PLATFORM_APPSETTINGS_H
#define PLATFORM_APPSETTINGS_H

#include <QString>
#include <QStringList>

namespace AppSettings {

/* The Q7's address on its own WiFi network unless the user sets another. */
inline const QString defaultCameraAddress = QStringLiteral("192.168.1.10");
constexpr unsigned defaultCameraPort = 8899;

QString cameraAddress();
unsigned cameraPort();
void setCameraAddress(const QString &address);
void setCameraPort(unsigned port);

/*
 * Apply the command-line options (for this run; they are not saved); returns
 * false with a message for an address that is no dotted IPv4 address or a
 * bad port.
 */
bool applyCommandLine(const QStringList &arguments, QString &error);

/*
 * Override the address (when not empty) and the port (when not 0) for this
 * run, as orvex-cli's global options do; false with a message for a bad value.
 */
bool setCameraOverride(const QString &address, unsigned port, QString &error);

/* True for 127.0.0.0/8: a simulated camera on this computer, no WiFi to check. */
bool isLoopback(const QString &address);

} // namespace AppSettings

#endif
