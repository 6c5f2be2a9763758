/*
 * The camera's identity as the device pages and orvex-cli show it, and the
 * rules that hang on its firmware version: version texts, versions compared
 * as decimal numbers (4.5 is newer than 4.41), the firmware generation, and
 * the decision of the version check against UpdateConfig.xml. Plain
 * functions, no widgets.
 */
#ifndef PAGES_DEVICEIDENTITY_H
#define PAGES_DEVICEIDENTITY_H

#include "tavrin/tavrin.h"

#include <QString>

namespace DeviceIdentity {

/* Major, a point and minor: 4.41; minor 5 gives 4.5. */
QString versionNumber(int major, int minor);
/* The firmware version as shown: "V" and the number (V4.41). */
QString versionText(int major, int minor);
/* The hardware version as shown for the handle's model flag: V1.0 or V2.0. */
QString hardwareText(int modelFlag);

/*
 * Whether `text` is a version number: digits, optionally a point and more
 * digits ("4", "4.5", "4.41"), surrounding blanks allowed.
 */
bool isVersionNumber(const QString &text);
/*
 * Two version numbers compared as decimal numbers: negative, 0 or positive
 * as `a` is below, equal to or above `b` (4.5 > 4.41, 4.40 == 4.4).
 * Something that is no version number counts as below every version number.
 */
int compareVersions(const QString &a, const QString &b);

/* New firmware: 4.41 or later compared as a decimal number (so 4.5 and 5.0 are new). */
bool isNewFirmware(int major, int minor);

/* What one tick of the device page's version check decides. */
enum class VersionCheck {
    Stop,  /* nothing newer is configured (or no version is): stop checking */
    Retry, /* the camera has not told its version yet: try again at the next tick */
    Offer  /* the configured version is newer: stop checking and offer the upgrade */
};
/* `configured`: UpdateConfig.xml's version (may be empty); `current`: the camera's ("0.0" unknown).
 */
VersionCheck versionCheck(const QString &configured, const QString &current);

/* What the identity refresh reads from the camera handle. */
struct Identity {
    QString serial;
    int major = 0;
    int minor = 0;
    int modelFlag = 0;
    QString version() const { return versionNumber(major, minor); }
    bool versionKnown() const { return major != 0 || minor != 0; }
};
/* Read from the handle with whole-field loads (the receive thread writes it); empty for none. */
Identity read(const q7x_t *camera);

/*
 * After an upgrade has finished: forget the version the handle holds, so that
 * the connection manager asks again, and on new firmware the self-check too,
 * which the restarted firmware performs afresh.
 */
void forgetVersion(q7x_t *camera);

} // namespace DeviceIdentity

#endif
