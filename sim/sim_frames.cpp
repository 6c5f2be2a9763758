#include "sim_frames.h"

namespace q7sim {

void seal(Bytes &frame)
{
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < frame.size(); ++i)
        sum = static_cast<uint8_t>(sum + frame[i]);
    frame.back() = static_cast<uint8_t>(-sum);
}

bool checksum_ok(const Bytes &frame)
{
    uint8_t sum = 0;
    for (uint8_t byte : frame)
        sum = static_cast<uint8_t>(sum + byte);
    return !frame.empty() && sum == 0;
}

Bytes command_frame(uint8_t letter, int length)
{
    Bytes frame(static_cast<size_t>(length), 0);
    frame[0] = kSync0;
    frame[1] = kSync1;
    frame[2] = static_cast<uint8_t>(length);
    frame[3] = letter;
    return frame;
}

Bytes addressed_frame(uint16_t src_id, uint16_t dst_id, uint8_t msg_id, const Bytes &payload)
{
    Bytes frame(payload.size() + 10, 0);
    frame[0] = kSync0;
    frame[1] = kSync1;
    frame[2] = static_cast<uint8_t>(frame.size());
    put_le16(frame, 3, src_id);
    put_le16(frame, 5, dst_id);
    frame[7] = msg_id;
    frame[8] = 0;
    for (size_t i = 0; i < payload.size(); ++i)
        frame[9 + i] = payload[i];
    seal(frame);
    return frame;
}

std::vector<Bytes> split_frames(const Bytes &datagram)
{
    std::vector<Bytes> frames;
    size_t at = 0;
    while (at + 4 <= datagram.size()) {
        const size_t length = datagram[at + 2];
        if (datagram[at] != kSync0 || datagram[at + 1] != kSync1 || length < 4 ||
            at + length > datagram.size()) {
            ++at;
            continue;
        }
        Bytes frame(datagram.begin() + static_cast<long>(at),
                    datagram.begin() + static_cast<long>(at + length));
        if (checksum_ok(frame)) {
            frames.push_back(std::move(frame));
            at += length;
        } else {
            ++at;
        }
    }
    return frames;
}

void put_be16(Bytes &frame, int at, uint32_t value)
{
    frame[at] = static_cast<uint8_t>(value >> 8);
    frame[at + 1] = static_cast<uint8_t>(value);
}

void put_be32(Bytes &frame, int at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        frame[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void put_le16(Bytes &frame, int at, uint32_t value)
{
    frame[at] = static_cast<uint8_t>(value);
    frame[at + 1] = static_cast<uint8_t>(value >> 8);
}

void put_le32(Bytes &frame, int at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        frame[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_be32(const Bytes &frame, int at)
{
    return static_cast<uint32_t>(frame[at]) << 24 | static_cast<uint32_t>(frame[at + 1]) << 16 |
           static_cast<uint32_t>(frame[at + 2]) << 8 | frame[at + 3];
}

uint32_t get_le32(const Bytes &frame, int at)
{
    return static_cast<uint32_t>(frame[at + 3]) << 24 | static_cast<uint32_t>(frame[at + 2]) << 16 |
           static_cast<uint32_t>(frame[at + 1]) << 8 | frame[at];
}

uint16_t get_le16(const Bytes &frame, int at)
{
    return static_cast<uint16_t>(frame[at] | frame[at + 1] << 8);
}

} // namespace q7sim
