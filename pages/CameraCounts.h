/*
 * The five still cameras as the device debug page and orvex-cli show them:
 * the controller's shutter releases, each camera's photographs, and whether
 * each works, with the fault mask read by the firmware generation's rule.
 */
#ifndef PAGES_CAMERACOUNTS_H
#define PAGES_CAMERACOUNTS_H

#include "tavrin/tavrin.h"

#include <QList>
#include <array>

namespace CameraCounts {

constexpr int cameraCount = 5;

struct Counts {
    quint32 total = 0;                         /* shutter releases the controller reports */
    std::array<quint16, cameraCount> photos{}; /* cameras 1 to 5 */
    std::array<bool, cameraCount> working{};
};

/*
 * Whether still camera `camera` (1 to 5) works: new firmware sets its bit
 * while the camera reports itself in order, older firmware sets it when the
 * camera has fallen behind the total.
 */
bool working(int major, int minor, int faultMask, int camera);

/* The numbers (1 to 5) of the cameras that do not work. */
QList<int> faultyCameras(int major, int minor, int faultMask);

/* The figures of a camera handle, read field by field as the receive thread writes them. */
Counts read(const q7x_t *camera);

} // namespace CameraCounts

#endif
