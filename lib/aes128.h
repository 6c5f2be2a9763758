/*
 * AES-128 decryption (FIPS 197) and its CBC chaining, for encrypted firmware
 * files. Only the inverse cipher is needed: the library never encrypts.
 */
#ifndef TAVRIN_AES128_H
#define TAVRIN_AES128_H

#include <cstddef>
#include <cstdint>

constexpr size_t AES128_BLOCK = 16;
constexpr size_t AES128_KEY = 16;

/* The eleven round keys of one cipher key. */
struct Aes128Key {
    uint8_t round_keys[11 * AES128_BLOCK];
};

/* Expand a 16-byte cipher key into its round keys. */
void aes128_expand_key(Aes128Key *out, const uint8_t key[AES128_KEY]);

/* Decrypt one 16-byte block; `in` and `out` may be the same buffer. */
void aes128_decrypt_block(const Aes128Key *key, const uint8_t in[AES128_BLOCK],
                          uint8_t out[AES128_BLOCK]);

/*
 * CBC-decrypt `n` bytes (a multiple of 16) starting from `iv`, which is left
 * unchanged. `in` and `out` may be the same buffer.
 */
void aes128_cbc_decrypt(const Aes128Key *key, const uint8_t iv[AES128_BLOCK], const uint8_t *in,
                        uint8_t *out, size_t n);

#endif
