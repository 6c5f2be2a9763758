/* CRC-16/ARC, the checksum of firmware files and of every firmware block. */
#ifndef TAVRIN_CRC16_H
#define TAVRIN_CRC16_H

#include <cstddef>
#include <cstdint>

/*
 * CRC-16/ARC (polynomial 0x8005 reflected, initial value 0, no final XOR) of
 * `n` bytes. Pass the result of a previous call as `crc` to continue over
 * data that arrives in pieces.
 */
uint16_t crc16_arc(const uint8_t *data, size_t n, uint16_t crc = 0);

#endif
