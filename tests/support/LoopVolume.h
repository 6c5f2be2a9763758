/*
 * A card for tests: an exFAT image in a temporary folder, attached to a loop
 * device and mounted through FUSE, with the label given. Everything it made is
 * taken down again when it goes, also after a step that failed. Several may
 * exist at once. Needs root, loop devices, /dev/fuse and the exFAT tools;
 * unavailableReason() tells beforehand whether this machine has them.
 */
#ifndef TESTS_LOOPVOLUME_H
#define TESTS_LOOPVOLUME_H

#include <string>

class LoopVolume {
public:
    explicit LoopVolume(std::string label, unsigned megabytes = 32);
    ~LoopVolume();
    LoopVolume(const LoopVolume &) = delete;
    LoopVolume &operator=(const LoopVolume &) = delete;

    /* Made, attached and mounted (later unmounts do not change it). */
    bool ok() const { return ok_; }
    /* What went wrong, with the failing tool's own message. */
    const std::string &whyNot() const { return whyNot_; }

    const std::string &label() const { return label_; }
    const std::string &mountPath() const { return mountPath_; }
    /* The loop device, /dev/loopN. */
    const std::string &device() const { return device_; }
    const std::string &image() const { return image_; }

    /* Whether the mount table shows it mounted at mountPath() now. */
    bool mounted() const;
    /* Unmount; true once it is no longer mounted. */
    bool unmount();
    /* Mount again at the same path; true once it is mounted. */
    bool mount(const std::string &options = std::string()); /* e.g. "noatime" */
    /* Give the file system another label; only while unmounted. */
    bool relabel(const std::string &label);

    /* Why such volumes cannot be made here; empty when they can. Probes, changes nothing. */
    static std::string unavailableReason();

private:
    bool fail(const std::string &why);
    /* Wait until the driver of the last mount has let go of the device. */
    bool released();

    std::string label_;
    std::string dir_;
    std::string image_;
    std::string device_;
    std::string mountPath_;
    std::string whyNot_;
    bool ok_ = false;
};

#endif
