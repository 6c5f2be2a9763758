/*
 * AES-128 inverse cipher. The S-box and its inverse are computed at compile
 * time from their definition (multiplicative inverse in GF(2^8) followed by
 * the affine map), so there is no hand-copied table to get wrong.
 */
#include "aes128.h"

#include <array>
#include <cstring>

namespace {

constexpr uint8_t xtime(uint8_t a)
{
    return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0x00));
}

/* Product in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1. */
constexpr uint8_t gmul(uint8_t a, uint8_t b)
{
    uint8_t product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

/* a^254, the multiplicative inverse of a (0 for 0). */
constexpr uint8_t ginv(uint8_t a)
{
    uint8_t result = 1;
    uint8_t base = a;
    for (unsigned e = 254; e; e >>= 1) {
        if (e & 1)
            result = gmul(result, base);
        base = gmul(base, base);
    }
    return a ? result : 0;
}

constexpr uint8_t rotl8(uint8_t x, int n)
{
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

struct Boxes {
    std::array<uint8_t, 256> forward{};
    std::array<uint8_t, 256> inverse{};
};

constexpr Boxes make_boxes()
{
    Boxes boxes;
    for (unsigned i = 0; i < 256; ++i) {
        const uint8_t b = ginv(static_cast<uint8_t>(i));
        const uint8_t s =
            static_cast<uint8_t>(b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4) ^ 0x63);
        boxes.forward[i] = s;
        boxes.inverse[s] = static_cast<uint8_t>(i);
    }
    return boxes;
}

constexpr Boxes kBoxes = make_boxes();
static_assert(kBoxes.forward[0x00] == 0x63 && kBoxes.forward[0x53] == 0xED);
static_assert(kBoxes.inverse[0x63] == 0x00);

void add_round_key(uint8_t state[16], const uint8_t *round_key)
{
    for (int i = 0; i < 16; ++i)
        state[i] ^= round_key[i];
}

/* State bytes are in input order: byte r + 4c is row r of column c. */
void inv_shift_rows(uint8_t s[16])
{
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[r + 4 * c] = s[r + 4 * ((c - r + 4) % 4)];
    std::memcpy(s, t, sizeof t);
}

void inv_sub_bytes(uint8_t s[16])
{
    for (int i = 0; i < 16; ++i)
        s[i] = kBoxes.inverse[s[i]];
}

void inv_mix_columns(uint8_t s[16])
{
    for (int c = 0; c < 4; ++c) {
        uint8_t *col = s + 4 * c;
        const uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = gmul(a0, 14) ^ gmul(a1, 11) ^ gmul(a2, 13) ^ gmul(a3, 9);
        col[1] = gmul(a0, 9) ^ gmul(a1, 14) ^ gmul(a2, 11) ^ gmul(a3, 13);
        col[2] = gmul(a0, 13) ^ gmul(a1, 9) ^ gmul(a2, 14) ^ gmul(a3, 11);
        col[3] = gmul(a0, 11) ^ gmul(a1, 13) ^ gmul(a2, 9) ^ gmul(a3, 14);
    }
}

} // namespace

void aes128_expand_key(Aes128Key *out, const uint8_t key[AES128_KEY])
{
    uint8_t *w = out->round_keys;
    std::memcpy(w, key, AES128_KEY);
    uint8_t rcon = 1;
    for (int i = 4; i < 44; ++i) {
        uint8_t word[4];
        std::memcpy(word, w + 4 * (i - 1), 4);
        if (i % 4 == 0) {
            /* RotWord, SubWord, then the round constant. */
            const uint8_t first = word[0];
            word[0] = static_cast<uint8_t>(kBoxes.forward[word[1]] ^ rcon);
            word[1] = kBoxes.forward[word[2]];
            word[2] = kBoxes.forward[word[3]];
            word[3] = kBoxes.forward[first];
            rcon = xtime(rcon);
        }
        for (int j = 0; j < 4; ++j)
            w[4 * i + j] = static_cast<uint8_t>(w[4 * (i - 4) + j] ^ word[j]);
    }
}

void aes128_decrypt_block(const Aes128Key *key, const uint8_t in[AES128_BLOCK],
                          uint8_t out[AES128_BLOCK])
{
    uint8_t state[AES128_BLOCK];
    std::memcpy(state, in, sizeof state);
    add_round_key(state, key->round_keys + 10 * AES128_BLOCK);
    for (int round = 9; round >= 1; --round) {
        inv_shift_rows(state);
        inv_sub_bytes(state);
        add_round_key(state, key->round_keys + round * AES128_BLOCK);
        inv_mix_columns(state);
    }
    inv_shift_rows(state);
    inv_sub_bytes(state);
    add_round_key(state, key->round_keys);
    std::memcpy(out, state, sizeof state);
}

void aes128_cbc_decrypt(const Aes128Key *key, const uint8_t iv[AES128_BLOCK], const uint8_t *in,
                        uint8_t *out, size_t n)
{
    uint8_t chain[AES128_BLOCK];
    std::memcpy(chain, iv, sizeof chain);
    for (size_t at = 0; at + AES128_BLOCK <= n; at += AES128_BLOCK) {
        uint8_t cipher[AES128_BLOCK];
        std::memcpy(cipher, in + at, sizeof cipher); /* kept: out may overwrite in */
        aes128_decrypt_block(key, cipher, out + at);
        for (size_t i = 0; i < AES128_BLOCK; ++i)
            out[at + i] ^= chain[i];
        std::memcpy(chain, cipher, sizeof chain);
    }
}
