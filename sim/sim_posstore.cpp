#include "sim_posstore.h"

#include "sim_camera.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace q7sim {

namespace {

enum PosCommand : uint8_t {
    kInfo = 0x26,
    kDownload = 0x27,
    kCancel = 0x28,
    kRemove = 0x29,
    kRemoveAll = 0x2A,
    kDownloadFrom = 0x2E,
    kDownloadComplete = 0x2F,
};

/* Records (exposures) of files 1 to 14: hundreds to thousands. */
constexpr int kRecordCounts[kPosFiles] = {240,  420,  980, 1500, 2600, 360, 760,
                                          1200, 3100, 540, 880,  1650, 300, 2000};
constexpr double kExposureInterval = 1.5; /* seconds between records */
constexpr uint32_t kFirstAddress = 0x00010000;
/* 2016-12-31 15:55:00 UTC: the first calendar-time file runs into the new year in local time. */
constexpr int64_t kCalendarStart = 1483199700;
/* 2023-06-14 03:00:00 UTC */
constexpr int64_t kEpochStart = 1686711600;
/* Records sent at most per pump, so that a stalled loop does not burst. */
constexpr size_t kBurst = 32;
constexpr double kMaxLag = 0.05;

void put_s16(Bytes &b, int at, int value)
{
    put_be16(b, at, static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(value))));
}

void put_s32(Bytes &b, int at, int64_t value)
{
    put_be32(b, at, static_cast<uint32_t>(static_cast<int32_t>(value)));
}

/* An angle in degrees as the camera stores it: hundredths, 0 to 359.99. */
uint16_t angle_hundredths(double degrees)
{
    long value = std::lround(degrees * 100) % 36000;
    if (value < 0)
        value += 36000;
    return static_cast<uint16_t>(value);
}

std::array<uint8_t, 6> utc_fields(int64_t seconds)
{
    const time_t t = static_cast<time_t>(seconds);
    tm utc{};
    gmtime_r(&t, &utc);
    return {static_cast<uint8_t>(utc.tm_year + 1900 - 2000),
            static_cast<uint8_t>(utc.tm_mon + 1),
            static_cast<uint8_t>(utc.tm_mday),
            static_cast<uint8_t>(utc.tm_hour),
            static_cast<uint8_t>(utc.tm_min),
            static_cast<uint8_t>(utc.tm_sec)};
}

double firmware_number(const Options &options)
{
    double scale = 10;
    while (options.version_minor >= scale)
        scale *= 10;
    return options.version_major + options.version_minor / scale;
}

} // namespace

int PosStore::record_size_for_serial(const std::string &serial)
{
    if (serial.rfind("Q7X", 0) == 0 && serial.size() >= 4) {
        switch (serial[3]) {
        case '1':
        case '2':
        case '3':
            return 32;
        case '4':
        case '5':
            return 52;
        default:
            return 0;
        }
    }
    return serial.rfind("Q7", 0) == 0 ? 32 : 0;
}

PosStore::PosStore(const Options &options) : options_(options)
{
    record_size_ = record_size_for_serial(options.serial);
    if (record_size_ == 0)
        record_size_ = 32;
    uint32_t address = kFirstAddress;
    for (int number = 1; number <= kPosFiles; ++number) {
        build_file(number, address);
        address = files_[static_cast<size_t>(number - 1)]->end_address;
    }
}

/*
 * One sortie: records every 1.5 s along the survey lines. Files alternate
 * between calendar time (type 1 or 3) and seconds since 1970 (type 2); every
 * fourth file begins with records taken before the GPS fix (no time, no
 * position). Lens offsets: Front and Back expose late, Left and Center on
 * time, Right now and then not at all (negative).
 */
void PosStore::build_file(int number, uint32_t start_address)
{
    PosFile file;
    file.number = static_cast<uint8_t>(number);
    const int count = kRecordCounts[number - 1];
    const int time_type = number % 3 == 2 ? 2 : number % 3 == 1 ? 1 : 3;
    const int64_t start = time_type == 2 ? kEpochStart + number * 86400LL
                                         : kCalendarStart + (number / 3) * 37 * 86400LL;
    const int unfixed = number % 4 == 0 ? 3 : 0;
    const double flight_start = number * 700.0;
    int64_t first_time = 0;
    int64_t last_time = 0;
    for (int i = 0; i < count; ++i) {
        Bytes r(static_cast<size_t>(record_size_), 0);
        const double t = flight_start + i * kExposureInterval;
        const Position at = survey_position(t);
        const bool fixed = i >= unfixed;
        put_s16(r, 0, i + 1);
        put_be16(r, 2, angle_hundredths(1.5 * std::sin(i * 0.13)));
        put_be16(r, 4, angle_hundredths(2.5 * std::sin(i * 0.07) + (i % 50 == 7 ? 12 : 0)));
        put_be16(r, 6, angle_hundredths(at.track_deg + 1.7));
        if (fixed) {
            put_s32(r, 8, std::llround(at.longitude * 1e7));
            put_s32(r, 12, std::llround(at.latitude * 1e7));
        }
        put_s32(r, 16, std::llround((520 + 5 * std::sin(i * 0.05)) * 1000));
        if (record_size_ == 52) {
            put_s16(r, 20, static_cast<int>(at.speed) + i % 3 - 1);
            put_be16(r, 22, angle_hundredths(at.track_deg));
        } else {
            put_s32(r, 20, std::llround(at.track_deg * 128));
        }
        const int64_t seconds = start + static_cast<int64_t>(i * kExposureInterval);
        if (fixed) {
            if (time_type == 2) {
                const int milliseconds = (i % 2) * 500 + (i * 37) % 300;
                put_s32(r, 24, seconds);
                put_le16(r, 28, static_cast<uint32_t>(milliseconds));
            } else {
                const auto fields = utc_fields(seconds);
                for (size_t k = 0; k < fields.size(); ++k)
                    r[24 + k] = fields[k];
            }
            r[30] = static_cast<uint8_t>(time_type);
            if (first_time == 0)
                first_time = seconds;
            last_time = seconds;
        }
        if (record_size_ == 52) {
            const int offsets[5] = {
                1800 + (i * 37) % 400,                            /* Front */
                number % 5 == 0 || i % 9 == 0 ? -1 : 0,           /* Right */
                2500 + (i % 5) * 100 + (i % 97 == 0 ? 10000 : 0), /* Back */
                0,                                                /* Left */
                i % 13 == 0 ? -5 : 0,                             /* Center */
            };
            for (int k = 0; k < 5; ++k)
                put_s32(r, 31 + 4 * k, offsets[k]);
        }
        file.records.push_back(std::move(r));
    }
    file.start_address = start_address;
    file.start_address2 = start_address / static_cast<uint32_t>(record_size_);
    file.end_address = start_address + static_cast<uint32_t>(count * record_size_);
    file.end_address2 = file.end_address / static_cast<uint32_t>(record_size_);
    file.start_time = utc_fields(first_time);
    file.end_time = utc_fields(last_time);
    files_[static_cast<size_t>(number - 1)] = std::move(file);
}

const PosFile *PosStore::file(int number) const
{
    if (number < 1 || number > kPosFiles || !files_[static_cast<size_t>(number - 1)])
        return nullptr;
    return &*files_[static_cast<size_t>(number - 1)];
}

/* Firmware before 4.5 announces the end of every download by itself. */
bool PosStore::sends_end_marker_unasked() const
{
    return firmware_number(options_) < 4.5 - 1e-9;
}

uint32_t PosStore::sendable(const PosFile &f) const
{
    if (f.number != options_.short_file)
        return f.size();
    const uint32_t size = static_cast<uint32_t>(record_size_);
    return f.size() / size / 2 * size;
}

Bytes PosStore::entry_frame(const PosFile &f) const
{
    Bytes frame = command_frame('P');
    frame[4] = f.number;
    put_be32(frame, 5, f.start_address);
    put_be32(frame, 9, f.start_address2);
    for (size_t k = 0; k < 6; ++k)
        frame[13 + k] = f.start_time[k];
    put_be32(frame, 19, f.end_address);
    put_be32(frame, 23, f.end_address2);
    for (size_t k = 0; k < 6; ++k)
        frame[27 + k] = f.end_time[k];
    frame[33] = f.download_count;
    frame[34] = 0;
    seal(frame);
    return frame;
}

Bytes PosStore::end_marker()
{
    Bytes frame = command_frame('P');
    frame[4] = kPosEndMarker;
    seal(frame);
    return frame;
}

Bytes PosStore::record_frame(const Bytes &record)
{
    Bytes frame = command_frame('O');
    for (size_t k = 0; k < 31 && k < record.size(); ++k)
        frame[4 + k] = record[k];
    seal(frame);
    return frame;
}

Bytes PosStore::offset_record_frame(uint32_t offset, const Bytes &record)
{
    Bytes frame = command_frame('Q', 61);
    put_be32(frame, 4, offset);
    frame[8] = static_cast<uint8_t>(record.size());
    for (size_t k = 0; k < 51 && k < record.size(); ++k)
        frame[9 + k] = record[k];
    seal(frame);
    return frame;
}

std::vector<Bytes> PosStore::on_command(const Bytes &frame)
{
    if (frame.size() != kCommandFrameLength || frame[3] != 'C' || frame[4] != frame[5])
        return {};
    const int number = frame[6];
    const PosFile *target = file(number);
    switch (frame[4]) {
    case kInfo: {
        if (target)
            return {entry_frame(*target)};
        /* The store has 14 slots: an emptied one answers with a blank entry. */
        if (number < 1 || number > kPosFiles)
            return {end_marker()};
        PosFile blank;
        blank.number = static_cast<uint8_t>(number);
        return {entry_frame(blank)};
    }
    case kDownload:
    case kDownloadFrom: {
        if (!target) {
            stream_.active = false;
            return {end_marker()};
        }
        stream_ = Stream{};
        stream_.active = true;
        stream_.tagged = frame[4] == kDownloadFrom;
        stream_.file = number;
        if (stream_.tagged) {
            const uint32_t from = get_be32(frame, 8);
            const uint32_t size = static_cast<uint32_t>(record_size_);
            stream_.offset = std::min(from / size * size, sendable(*target));
        }
        return {};
    }
    case kCancel:
        stream_.active = false;
        return {};
    case kRemove:
        if (stream_.file == number)
            stream_.active = false;
        if (target)
            files_[static_cast<size_t>(number - 1)].reset();
        return {};
    case kRemoveAll:
        stream_.active = false;
        for (auto &slot : files_)
            slot.reset();
        return {};
    case kDownloadComplete:
        if (target)
            ++files_[static_cast<size_t>(number - 1)]->download_count;
        return {end_marker()};
    default:
        return {};
    }
}

std::vector<Bytes> PosStore::pump(double seconds)
{
    std::vector<Bytes> out;
    if (!stream_.active)
        return out;
    const PosFile *source = file(stream_.file);
    if (!source) {
        stream_.active = false;
        return out;
    }
    if (stream_.next_at < 0 || seconds - stream_.next_at > kMaxLag)
        stream_.next_at = seconds;
    const double period = 1.0 / options_.pos_rate;
    const uint32_t size = static_cast<uint32_t>(record_size_);
    const uint32_t end = sendable(*source);
    while (stream_.active && stream_.next_at <= seconds && out.size() < kBurst) {
        if (stream_.offset < end) {
            const Bytes &record = source->records[stream_.offset / size];
            out.push_back(stream_.tagged ? offset_record_frame(stream_.offset, record)
                                         : record_frame(record));
            stream_.offset += size;
            stream_.next_at += period;
            ++records_sent_;
        }
        if (stream_.offset >= end) {
            stream_.active = false;
            if (sends_end_marker_unasked())
                out.push_back(end_marker());
        }
    }
    return out;
}

} // namespace q7sim
