/*
 * Frames as the camera builds and reads them. The simulator has its own code
 * for this rather than Tavrin's, so that the two check each other.
 */
#ifndef Q7SIM_SIM_FRAMES_H
#define Q7SIM_SIM_FRAMES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace q7sim {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSync0 = 0xEB;
constexpr uint8_t kSync1 = 0x90;
constexpr int kCommandFrameLength = 36;

/* Negated 8-bit sum of every byte but the last; written into the last byte. */
void seal(Bytes &frame);
bool checksum_ok(const Bytes &frame);

/* A command frame of `length` bytes with `letter` in byte 3 and zero content. */
Bytes command_frame(uint8_t letter, int length = kCommandFrameLength);

/* An addressed frame: ids, message id, reserved 0, then the payload (sub-command first). */
Bytes addressed_frame(uint16_t src_id, uint16_t dst_id, uint8_t msg_id, const Bytes &payload);

/* Cut the checksummed frames out of one received datagram. */
std::vector<Bytes> split_frames(const Bytes &datagram);

void put_be16(Bytes &frame, int at, uint32_t value);
void put_be32(Bytes &frame, int at, uint32_t value);
void put_le16(Bytes &frame, int at, uint32_t value);
void put_le32(Bytes &frame, int at, uint32_t value);
uint32_t get_be32(const Bytes &frame, int at);
uint32_t get_le32(const Bytes &frame, int at);
uint16_t get_le16(const Bytes &frame, int at);

} // namespace q7sim

#endif
