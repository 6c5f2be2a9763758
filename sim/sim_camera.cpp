#include "sim_camera.h"

#include <cmath>
#include <cstring>
#include <string>

namespace q7sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 111320.0;
constexpr double kLineLength = 3000; /* metres flown along one survey line */
constexpr double kLineSpacing = 250; /* metres between lines */
constexpr double kSpeed = 20;        /* metres per second */
constexpr double kStartLongitude = 116.30;
constexpr double kStartLatitude = 39.90;
constexpr uint16_t kAltitude = 520; /* metres */

/* Strategy kinds of work-parameter byte 0 that make the camera expose by itself. */
constexpr uint8_t kTimed = 2;
constexpr uint8_t kDistance = 3;

enum SubCommand : uint8_t {
    kShutter = 0x31,
    kWorkOff = 0x32,
    kWorkOn = 0x33,
    kWorkParams = 0x34,
    kReleaseDate = 0xFD,
    kIdentity = 0xFE,
};

/* Up to `length` characters of `text` at `at`; a shorter text leaves zeros after it. */
void put_text(Bytes &frame, int at, const std::string &text, size_t length)
{
    for (size_t i = 0; i < length && i < text.size(); ++i)
        frame[static_cast<size_t>(at) + i] = static_cast<uint8_t>(text[i]);
}

} // namespace

Position survey_position(double seconds)
{
    /* Lines run north and south, one after another to the east, joined by a turn. */
    const double turn = kLineSpacing * kPi / 2;
    const double leg = kLineLength + turn;
    const double flown = seconds * kSpeed;
    const int line = static_cast<int>(flown / leg);
    const double into = flown - line * leg;
    const bool northbound = line % 2 == 0;
    double north = 0;
    double east = line * kLineSpacing;
    double track = northbound ? 0 : 180;
    if (into < kLineLength) {
        north = northbound ? into : kLineLength - into;
    } else {
        /* Half circle to the next line. */
        const double angle = (into - kLineLength) / turn * kPi;
        const double radius = kLineSpacing / 2;
        east += radius - radius * std::cos(angle);
        north = northbound ? kLineLength + radius * std::sin(angle) : -radius * std::sin(angle);
        const double degrees = angle * 180 / kPi;
        track = northbound ? degrees : 180 - degrees;
    }
    const double lat = kStartLatitude + north / kMetresPerDegree;
    const double lon = kStartLongitude + east / (kMetresPerDegree * std::cos(lat * kPi / 180));
    return {lon, lat, track, kSpeed};
}

Camera::Camera(const Options &options) : options_(options)
{
    /* A timed strategy of one photograph every 2 s, started 60 s after power-on. */
    params_[0] = 2;
    params_[1] = 3;
    params_[4] = 1;
    params_[6] = 60;
    params_[8] = 100;
    params_[12] = 15;
    params_[13] = 200;
    params_[14] = 100;
    params_[16] = 1;
    params_[17] = 1;
    params_[18] = 100;
    params_[20] = 20;
    params_[22] = 0x2C; /* 300 tenths of a metre */
    params_[23] = 0x01;
    for (long i = 0; i < options.exposures; ++i)
        expose();
}

bool Camera::firmware_new() const
{
    /* 4.41 or later as a decimal number: minor 5 is 4.5, later than 4.41. */
    if (options_.version_major != 4)
        return options_.version_major > 4;
    long scale = 10;
    while (options_.version_minor >= scale)
        scale *= 10;
    return options_.version_minor * 100L >= 41 * scale;
}

void Camera::expose()
{
    ++total_;
    for (size_t i = 0; i < counts_.size(); ++i)
        if (!(options_.faulty_cameras & (1u << i)))
            ++counts_[i];
}

void Camera::advance(double seconds)
{
    now_ = seconds;
    /* A timed strategy exposes every interval; a distance strategy every interval flown. */
    double interval = 0;
    if (params_[0] == kTimed)
        interval = (params_[20] | params_[21] << 8) / 10.0;
    else if (params_[0] == kDistance)
        interval = (params_[22] | params_[23] << 8) / 10.0 / kSpeed;
    if (!working_ || interval <= 0) {
        last_exposure_ = now_;
        return;
    }
    while (now_ - last_exposure_ >= interval) {
        last_exposure_ += interval;
        expose();
    }
}

std::vector<Bytes> Camera::on_command(const Bytes &frame)
{
    if (frame.size() != kCommandFrameLength || frame[3] != 'C' || frame[4] != frame[5])
        return {};
    switch (frame[4]) {
    case kShutter:
        expose();
        return {};
    case kWorkOff:
        working_ = false;
        return {};
    case kWorkOn:
        working_ = true;
        last_exposure_ = now_;
        return {};
    case kWorkParams:
        std::memcpy(params_.data(), &frame[6], params_.size());
        return {config_frame()};
    case kIdentity:
        return {identity_frame(), release_date_frame()};
    case kReleaseDate:
        return {release_date_frame()};
    default:
        return {};
    }
}

Bytes Camera::config_frame() const
{
    Bytes frame = command_frame('A');
    frame[4] = static_cast<uint8_t>(mode());
    frame[5] = working_ ? 1 : 0;
    put_be16(frame, 6, 0);
    std::memcpy(&frame[8], params_.data(), params_.size());
    frame[34] = 0;
    seal(frame);
    return frame;
}

Bytes Camera::position_frame() const
{
    const Position at = survey_position(now_);
    Bytes frame = command_frame('B');
    put_be32(frame, 4,
             static_cast<uint32_t>(static_cast<int32_t>(std::lround(at.longitude * 1e6))));
    put_be32(frame, 8, static_cast<uint32_t>(static_cast<int32_t>(std::lround(at.latitude * 1e6))));
    put_be16(frame, 14, kAltitude);
    frame[16] = static_cast<uint8_t>(options_.satellites);
    frame[17] = options_.satellites >= 4 ? 4 : 0; /* fix type */
    put_be16(frame, 18, static_cast<uint32_t>(std::lround(at.speed * 5)));
    put_be16(frame, 20, static_cast<uint32_t>(std::lround(at.track_deg * 5)));
    frame[22] = 5; /* 1.0 after / 5 */
    frame[33] = 1; /* GPS receiver present */
    seal(frame);
    return frame;
}

Bytes Camera::status_frame() const
{
    Bytes frame = command_frame('C');
    put_be16(frame, 5, total_ & 0xFFFF);
    put_be16(frame, 8, 0);
    frame[12] = 0;
    put_be16(frame, 13, 240); /* supply, 24.0 V */
    for (int i = 0; i < 5; ++i)
        put_be16(frame, 15 + 2 * i, counts_[static_cast<size_t>(i)]);
    if (firmware_new()) {
        /* Bit i: camera i + 1 reports itself in order; bit 7: self-check passed. */
        uint8_t in_order = 0x80;
        for (int i = 0; i < 5; ++i)
            if (!(options_.faulty_cameras & (1u << i)))
                in_order |= static_cast<uint8_t>(1u << i);
        frame[25] = in_order;
    }
    put_be16(frame, 27, options_.landing_gear ? 1 : 0); /* landing-gear signal */
    frame[29] = 0;
    put_be16(frame, 30, 385); /* 38.5 degrees inside the housing */
    seal(frame);
    return frame;
}

Bytes Camera::identity_frame() const
{
    Bytes frame = command_frame('R');
    frame[4] = kIdentity;
    frame[12] = static_cast<uint8_t>(options_.version_major);
    frame[13] = static_cast<uint8_t>(options_.version_minor);
    put_text(frame, 14, options_.serial, 15);
    seal(frame);
    return frame;
}

Bytes Camera::release_date_frame() const
{
    Bytes frame = command_frame('R');
    frame[4] = kReleaseDate;
    put_text(frame, 10, options_.release_date, 10);
    seal(frame);
    return frame;
}

std::vector<Bytes> Camera::status_frames() const
{
    return {config_frame(), position_frame(), status_frame()};
}

} // namespace q7sim
