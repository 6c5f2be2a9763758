/*
 * What the main window's status panel shows for a camera state: the strategy
 * text, the colours of the five camera icons, the fault text and the GPS text.
 * Plain functions, so that every rule can be checked without a window.
 */
#ifndef SHELL_STATUSDISPLAY_H
#define SHELL_STATUSDISPLAY_H

#include <QString>
#include <array>
#include <optional>

namespace StatusDisplay {

struct Strategy {
    QString caption; // "当前策略：" or "采集策略："
    QString value;
};

/* From the mode, the fixed time (tenths of a second) and the distance interval (tenths of a metre).
 */
Strategy strategy(int mode, int fixTime, int distanceInterval);

/* Icons in panel order. */
enum Icon { Top, Right, Bottom, Left, Centre, IconCount };

struct Cameras {
    std::array<bool, IconCount> yellow{}; // false: white
    QString faultText;
    bool changed = true; // false: leave icons and keep the previous fault text's place
};

/* New firmware: 4.41 or later as a decimal number (4.5 and 5.0 are new, 4.40 is not). */
bool isNewFirmware(int major, int minor);

/*
 * Icons and fault text from the fault mask. For new firmware a set bit means
 * the camera works and a self-check still running leaves the icons alone;
 * for old firmware a set bit means the camera is at fault.
 */
Cameras cameras(int major, int minor, int faultMask, int selfCheck);

/* GPS text from the fix query (1, 0, -1) and satellites; none: keep the previous text. */
std::optional<QString> gpsText(int gpsFix, int satellites);

} // namespace StatusDisplay

#endif
