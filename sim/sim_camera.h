/*
 * The camera's controller as the ground program sees it: its mode and work
 * parameters, a position flown along survey lines, the five still cameras'
 * exposure counts and faults, and its identity.
 */
#ifndef Q7SIM_SIM_CAMERA_H
#define Q7SIM_SIM_CAMERA_H

#include "sim_frames.h"
#include "sim_options.h"

#include <array>

namespace q7sim {

struct Position {
    double longitude;
    double latitude;
    double track_deg; /* direction of flight, degrees clockwise from north */
    double speed;     /* metres per second */
};

/* Where the aircraft is `seconds` after the start: back and forth along survey lines. */
Position survey_position(double seconds);

class Camera {
public:
    explicit Camera(const Options &options);

    /* Replies to one command frame ('C' in byte 3) from the ground. */
    std::vector<Bytes> on_command(const Bytes &frame);
    /* Advance the clock to `seconds` (exposures of a running timed or distance strategy). */
    void advance(double seconds);
    /* One status round: 'A', 'B' and 'C' frames. */
    std::vector<Bytes> status_frames() const;

    Bytes config_frame() const;
    Bytes position_frame() const;
    Bytes status_frame() const;
    Bytes identity_frame() const;
    Bytes release_date_frame() const;
    /* The firmware reported from now on (after an upgrade). */
    void set_firmware(int major, int minor)
    {
        options_.version_major = major;
        options_.version_minor = minor;
    }

    /* The strategy in force while the work mode is on; debug mode (1) while it is off. */
    int mode() const { return working_ ? params_[0] : 1; }
    const std::array<uint8_t, 24> &work_params() const { return params_; }
    uint32_t total_exposures() const { return total_; }
    uint16_t exposures(int camera) const { return counts_.at(static_cast<size_t>(camera)); }

private:
    void expose();
    bool firmware_new() const;

    Options options_;
    std::array<uint8_t, 24> params_{};
    bool working_ = false;
    double now_ = 0;
    double last_exposure_ = 0; /* time of the last exposure of a running strategy */
    uint32_t total_ = 0;
    std::array<uint16_t, 5> counts_{};
};

} // namespace q7sim

#endif
