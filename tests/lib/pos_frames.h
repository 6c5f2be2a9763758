/* The camera's POS frames built from a record, and file reading, for the POS tests. */
#ifndef TESTS_LIB_POS_FRAMES_H
#define TESTS_LIB_POS_FRAMES_H

#include "rvtele_frame.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

/* A record as the camera stores it, before encoding into a frame. */
struct Record {
    int16_t id = 1;
    uint16_t pitch = 0, roll = 0, heading = 0;
    int32_t lon = 0, lat = 0, alt = 0;
    int16_t speed = 0;
    uint16_t psi = 0;     /* 'Q': hundredths of a degree */
    int32_t psi_o = 0;    /* 'O': 1/128 degree */
    uint8_t time[6] = {}; /* calendar fields, or seconds (big-endian) and milliseconds (little) */
    uint8_t time_type = 0;
    int32_t offsets[5] = {};
    uint8_t length = 52;
};

/* Write `value` big-endian into `width` bytes at `at`. */
inline void put_be(Bytes &f, size_t at, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        f[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

/* A sealed frame of `length` bytes with `letter` in byte 3 and, from byte 4, `body`. */
inline Bytes pos_frame(uint8_t length, char letter, const Bytes &body = {})
{
    Bytes f(length, 0);
    rvtele_command_frame_init(f.data(), length);
    f[3] = static_cast<uint8_t>(letter);
    std::copy(body.begin(), body.end(), f.begin() + 4);
    rvtele_frame_seal(f.data());
    return f;
}

/* The fields of `r` from `at` on, in the order both record frames share. */
inline size_t put_position(Bytes &f, size_t at, const Record &r)
{
    put_be(f, at, static_cast<uint16_t>(r.id), 2);
    put_be(f, at + 2, r.pitch, 2);
    put_be(f, at + 4, r.roll, 2);
    put_be(f, at + 6, r.heading, 2);
    put_be(f, at + 8, static_cast<uint32_t>(r.lon), 4);
    put_be(f, at + 12, static_cast<uint32_t>(r.lat), 4);
    put_be(f, at + 16, static_cast<uint32_t>(r.alt), 4);
    return at + 20;
}

inline Bytes o_frame(const Record &r)
{
    Bytes f(36, 0);
    put_position(f, 4, r);
    put_be(f, 24, static_cast<uint32_t>(r.psi_o), 4);
    std::copy(r.time, r.time + 6, f.begin() + 28);
    f[34] = r.time_type;
    return pos_frame(36, 'O', Bytes(f.begin() + 4, f.end() - 1));
}

inline Bytes q_frame(const Record &r, uint32_t offset = 0)
{
    Bytes f(61, 0);
    put_be(f, 4, offset, 4);
    f[8] = r.length;
    put_position(f, 9, r);
    put_be(f, 29, static_cast<uint16_t>(r.speed), 2);
    put_be(f, 31, r.psi, 2);
    std::copy(r.time, r.time + 6, f.begin() + 33);
    f[39] = r.time_type;
    for (int i = 0; i < 5; ++i)
        put_be(f, 40 + 4 * i, static_cast<uint32_t>(r.offsets[i]), 4);
    return pos_frame(61, 'Q', Bytes(f.begin() + 4, f.end() - 1));
}

inline std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

#endif
