/*
 * CRC-16/ARC, table-driven on bytes. The reflected form of polynomial 0x8005
 * is 0xA001; the table holds the remainder of every byte value.
 */
#include "crc16.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> make_table()
{
    std::array<uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t r = static_cast<uint16_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<uint16_t>((r & 1) ? (r >> 1) ^ 0xA001 : r >> 1);
        table[byte] = r;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = make_table();

} // namespace

uint16_t crc16_arc(const uint8_t *data, size_t n, uint16_t crc)
{
    for (size_t i = 0; i < n; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}
