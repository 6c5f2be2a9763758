/*
 * CRC-16/ARC, AES-128 decryption and the firmware file helpers, checked
 * against published reference values.
 */
#include "aes128.h"
#include "crc16.h"
#include "fixtures.h"
#include "tavrin/tavrin.h"

#include <csignal>
#include <cstring>
#include <set>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string &text)
{
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes text_bytes(const char *text)
{
    return Bytes(text, text + std::strlen(text));
}

Bytes pattern(size_t n)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(i * 7 + 3);
    return out;
}

/* The key and initialisation vector of encrypted firmware files. */
const Bytes kFirmwareKey = hex("7c2e91a4d05b3f68e14a9b2c6d8f0375");
const Bytes kFirmwareIv = hex("4b90c3e17a2d5f86b1e09c4d3a7f6e28");

/*
 * What the body of an encrypted firmware file deciphers to: CBC from the fixed
 * vector, chained afresh every 256 bytes; a short last block is deciphered
 * padded with zeros and cut. Only the single-block decryption, held to the
 * FIPS 197 vectors below, is the library's.
 */
Bytes decipher(Bytes body)
{
    const size_t n = body.size();
    body.resize((n + 15) / 16 * 16, 0);
    Aes128Key key;
    aes128_expand_key(&key, kFirmwareKey.data());
    Bytes out(body.size());
    for (size_t at = 0; at < body.size(); at += 16) {
        aes128_decrypt_block(&key, &body[at], &out[at]);
        for (size_t i = 0; i < 16; ++i)
            out[at + i] ^= at % 256 ? body[at - 16 + i] : kFirmwareIv[i];
    }
    out.resize(n);
    return out;
}

/* An encrypted firmware file: the magic, four more header bytes, then `body`. */
Bytes encrypted(const Bytes &body)
{
    Bytes file = text_bytes("OVRE\x01\x02\x03\x04");
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

TEST(Crc16Arc, MatchesCheckValuesAndContinuesOverPieces)
{
    EXPECT_EQ(crc16_arc(text_bytes("abc").data(), 3), 0x9738);
    EXPECT_EQ(crc16_arc(text_bytes("123456789").data(), 9), 0xBB3D);
    EXPECT_EQ(crc16_arc(nullptr, 0), 0);

    /* Every byte value, against the bit-by-bit textbook form, whole and in two pieces. */
    Bytes data(1000);
    uint16_t reference = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        reference ^= data[i] = static_cast<uint8_t>(i * 37 + (i >> 3));
        for (int bit = 0; bit < 8; ++bit)
            reference = static_cast<uint16_t>(reference >> 1 ^ (reference & 1 ? 0xA001 : 0));
    }
    EXPECT_EQ(crc16_arc(data.data(), data.size()), reference);
    EXPECT_EQ(crc16_arc(data.data() + 333, data.size() - 333, crc16_arc(data.data(), 333)),
              reference);
}

TEST(Aes128, DecryptsTheFips197AndSp80038aVectors)
{
    /* FIPS 197 appendix C.1 and appendix B: key, plaintext, ciphertext. */
    const char *const blocks[][3] = {
        {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
         "3925841d02dc09fbdc118597196a0b32"},
    };
    for (const auto &v : blocks) {
        Aes128Key key;
        aes128_expand_key(&key, hex(v[0]).data());
        Bytes block = hex(v[2]);
        aes128_decrypt_block(&key, block.data(), block.data()); /* in place */
        EXPECT_EQ(block, hex(v[1])) << v[0];
    }

    /* NIST SP 800-38A F.2.2, in place: the chain is the ciphertext, not the output over it. */
    Aes128Key key;
    aes128_expand_key(&key, hex("2b7e151628aed2a6abf7158809cf4f3c").data());
    const Bytes iv = hex("000102030405060708090a0b0c0d0e0f");
    Bytes buffer = hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                       "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    aes128_cbc_decrypt(&key, iv.data(), buffer.data(), buffer.data(), buffer.size());
    EXPECT_EQ(buffer, hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                          "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710"));
}

using FirmwareFiles = ScratchTest;

TEST_F(FirmwareFiles, PlainFilesGiveLengthAndCrcEncryptedOnesTheirMagic)
{
    const Bytes big = pattern(40000); /* larger than one read buffer */
    const struct {
        const char *name;
        Bytes bytes;
        uint32_t crc;
    } plain[] = {{"check.bin", text_bytes("123456789"), 0xBB3D},
                 {"big.bin", big, crc16_arc(big.data(), big.size())},
                 {"empty.bin", {}, 0}};
    rvupgrader_fileinfo_t info{};
    for (const auto &p : plain) {
        ASSERT_EQ(rvupgrader_get_fileinfo(write(p.name, p.bytes).c_str(), &info), 0) << p.name;
        EXPECT_EQ(info.length, p.bytes.size()) << p.name;
        EXPECT_EQ(info.crc, p.crc) << p.name;
    }
    for (const std::string &refused :
         {write("enc.bin", text_bytes("OVRE1234body")), path("missing.bin"), dir_.string()})
        EXPECT_EQ(rvupgrader_get_fileinfo(refused.c_str(), &info), -1) << refused;
    EXPECT_EQ(rvupgrader_get_fileinfo(nullptr, &info), -1);
    const std::string text = printed();
    EXPECT_NE(text.find("rvupgrader_get_fileinfo error: cannot open file " + path("missing.bin")),
              std::string::npos);
    EXPECT_NE(text.find("is encrypted"), std::string::npos);

    EXPECT_EQ(rvupgrader_file_is_encrypt(write("enc.bin", text_bytes("OVRE")).c_str()), 1);
    EXPECT_EQ(rvupgrader_file_is_encrypt(write("plain.bin", text_bytes("OVRF1234")).c_str()), 0);
    EXPECT_EQ(rvupgrader_file_is_encrypt(write("short.bin", text_bytes("OV")).c_str()), 0);
    EXPECT_EQ(rvupgrader_file_is_encrypt(path("missing.bin").c_str()), -1);
}

TEST_F(FirmwareFiles, DecryptsChunkByChunkFromTheFixedVector)
{
    /*
     * 8 + 300 bytes: a chunk of 256 and one of 44 whose last block is short;
     * whole chunks; a header alone gives an empty file.
     */
    const std::string dst = path("plain.bin");
    for (size_t n : {300, 512, 0}) {
        const Bytes body = pattern(n);
        ASSERT_EQ(rvupgrader_file_decrypt(write("fw.bin", encrypted(body)).c_str(), dst.c_str()),
                  1);
        EXPECT_EQ(read(dst), decipher(body)) << n;
    }
    EXPECT_NE(printed().find("fread success.\n"), std::string::npos);
}

TEST_F(FirmwareFiles, FailedDecryptionLeavesTheDestinationAsItWas)
{
    const Bytes previous = text_bytes("previous firmware");
    const std::string dst = write("plain.bin", previous);
    const std::string src = write("fw.bin", encrypted(pattern(3000)));
    for (const std::string &bad :
         {path("missing.bin"), write("short.bin", text_bytes("OVRE")), dir_.string()})
        EXPECT_EQ(rvupgrader_file_decrypt(bad.c_str(), dst.c_str()), -1) << bad;
    EXPECT_EQ(rvupgrader_file_decrypt(src.c_str(), path("no/such/dir/out.bin").c_str()), -1);

    /*
     * A write that fails half-way (file size limit) leaves no partial image.
     * The captured output starts afresh so that it stays under the limit.
     */
    printed();
    struct sigaction ignore = {}, old_action = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old_action);
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = rvupgrader_file_decrypt(src.c_str(), dst.c_str());
    setrlimit(RLIMIT_FSIZE, &old_limit);
    sigaction(SIGXFSZ, &old_action, nullptr);
    EXPECT_EQ(result, -1);
    EXPECT_NE(printed().find("cannot write"), std::string::npos);

    EXPECT_EQ(read(dst), previous);
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir_))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"fw.bin", "plain.bin", "short.bin"}));
}

} // namespace
