/*
 * The name of the WiFi network the computer is connected to. The program
 * asks through WIFI::getSSid; tests install a fake source of their own.
 */
#ifndef PLATFORM_WIFINETWORK_H
#define PLATFORM_WIFINETWORK_H

#include <QString>
#include <functional>

namespace WIFI {

/* Fills `ssid` (empty when not connected); 0 on success, -1 when it cannot be told. */
int getSSid(QString &ssid);

/* The lookup getSSid uses; none restores the system lookup. */
using Source = std::function<int(QString &)>;
void setSource(Source source);

/* The system lookup: `iwgetid -r`, then nmcli's active WiFi connection. */
int systemSSid(QString &ssid);

} // namespace WIFI

#endif
