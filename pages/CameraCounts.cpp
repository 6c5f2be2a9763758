#include "CameraCounts.h"

#include "shell/CameraFields.h"
#include "shell/StatusDisplay.h"

namespace CameraCounts {

bool working(int major, int minor, int faultMask, int camera)
{
    const bool bit = faultMask & (1 << (camera - 1));
    return StatusDisplay::isNewFirmware(major, minor) ? bit : !bit;
}

QList<int> faultyCameras(int major, int minor, int faultMask)
{
    QList<int> faulty;
    for (int camera = 1; camera <= cameraCount; ++camera)
        if (!working(major, minor, faultMask, camera))
            faulty << camera;
    return faulty;
}

Counts read(const q7x_t *camera)
{
    using CameraFields::load;
    Counts counts;
    counts.total = load(camera->total_exposures);
    const int major = load(camera->version_major);
    const int minor = load(camera->version_minor);
    const int mask = load(camera->fault_mask);
    for (int i = 0; i < cameraCount; ++i) {
        counts.photos[static_cast<size_t>(i)] = load(camera->exposure_counts[i]);
        counts.working[static_cast<size_t>(i)] = working(major, minor, mask, i + 1);
    }
    return counts;
}

} // namespace CameraCounts
