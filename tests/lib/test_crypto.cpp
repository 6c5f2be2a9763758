/*
 * CRC-16/ARC, AES-128 decryption and the firmware file helpers, checked
 * against published reference values and against a small AES-128 cipher of
 * the test's own (forward direction, S-box built from logarithm tables).
 */
#include "aes128.h"
#include "crc16.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
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

/* The forward AES-128 cipher, used only to build encrypted test files. */
class TestCipher {
public:
    explicit TestCipher(const Bytes &key)
    {
        /* S-box from logarithm tables of generator 3, then the affine map. */
        uint8_t exp[255], log[256] = {};
        for (int i = 0, x = 1; i < 255; ++i, x ^= xtime(static_cast<uint8_t>(x)))
            log[exp[i] = static_cast<uint8_t>(x)] = static_cast<uint8_t>(i);
        for (int a = 0; a < 256; ++a) {
            const uint8_t inv = a ? exp[(255 - log[a]) % 255] : 0;
            sbox_[a] = 0x63;
            for (int r = 0; r < 5; ++r)
                sbox_[a] ^= static_cast<uint8_t>(inv << r | inv >> (8 - r));
        }
        std::memcpy(rk_, key.data(), 16);
        for (int i = 4, rcon = 1; i < 44; ++i) {
            uint8_t t[4];
            for (int j = 0; j < 4; ++j)
                t[j] = i % 4 ? rk_[4 * i - 4 + j] : sbox_[rk_[4 * i - 4 + (j + 1) % 4]];
            if (i % 4 == 0) {
                t[0] ^= static_cast<uint8_t>(rcon);
                rcon = xtime(static_cast<uint8_t>(rcon));
            }
            for (int j = 0; j < 4; ++j)
                rk_[4 * i + j] = rk_[4 * i - 16 + j] ^ t[j];
        }
    }

    Bytes encrypt_block(Bytes s) const
    {
        for (int round = 0; round <= 10; ++round) {
            if (round > 0) {
                Bytes t(16);
                for (int i = 0; i < 16; ++i) /* SubBytes and ShiftRows */
                    t[i] = sbox_[s[i % 4 + 4 * ((i / 4 + i % 4) % 4)]];
                for (int c = 0; c < 4; ++c) /* MixColumns, all but the last round */
                    for (int r = 0; r < 4; ++r) {
                        const uint8_t *a = &t[4 * c];
                        s[4 * c + r] = round == 10 ? a[r]
                                                   : a[r] ^ a[0] ^ a[1] ^ a[2] ^ a[3] ^
                                                         xtime(a[r] ^ a[(r + 1) % 4]);
                    }
            }
            for (int i = 0; i < 16; ++i)
                s[i] ^= rk_[16 * round + i];
        }
        return s;
    }

    Bytes cbc_encrypt(Bytes chain, const Bytes &plain) const
    {
        Bytes out;
        for (size_t at = 0; at < plain.size(); at += 16) {
            for (int i = 0; i < 16; ++i)
                chain[i] ^= plain[at + i];
            chain = encrypt_block(chain);
            out.insert(out.end(), chain.begin(), chain.end());
        }
        return out;
    }

private:
    static uint8_t xtime(uint8_t a) { return static_cast<uint8_t>(a << 1 ^ (a & 0x80 ? 0x1B : 0)); }

    uint8_t sbox_[256];
    uint8_t rk_[176];
};

/* NIST SP 800-38A, F.2: CBC-AES128. */
const Bytes kSpKey = hex("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kSpIv = hex("000102030405060708090a0b0c0d0e0f");
const Bytes kSpPlain = hex("6bc1bee22e409f96e93d7e117393172a"
                           "ae2d8a571e03ac9c9eb76fac45af8e51"
                           "30c81c46a35ce411e5fbc1191a0a52ef"
                           "f69f2445df4f9b17ad2b417be66c3710");
const Bytes kSpCipher = hex("7649abac8119b246cee98e9b12e9197d"
                            "5086cb9b507219ee95db113a917678b2"
                            "73bed6b8e3c1743b7116e69e22229516"
                            "3ff1caa1681fac09120eca307586e1a7");

/* FIPS 197 examples: appendix C.1 and appendix B. */
struct BlockVector {
    const char *key;
    const char *plain;
    const char *cipher;
};
const BlockVector kFipsVectors[] = {
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
};

TEST(Crc16Arc, MatchesCheckValuesAndContinuesOverPieces)
{
    EXPECT_EQ(crc16_arc(text_bytes("abc").data(), 3), 0x9738);
    EXPECT_EQ(crc16_arc(text_bytes("123456789").data(), 9), 0xBB3D);
    EXPECT_EQ(crc16_arc(nullptr, 0), 0);

    /* Every byte value, against the bit-by-bit textbook form. */
    Bytes data(1000);
    uint16_t reference = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 37 + (i >> 3));
        reference ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            reference =
                static_cast<uint16_t>(reference & 1 ? reference >> 1 ^ 0xA001 : reference >> 1);
    }
    const uint16_t whole = crc16_arc(data.data(), data.size());
    EXPECT_EQ(whole, reference);
    const uint16_t first = crc16_arc(data.data(), 333);
    EXPECT_EQ(crc16_arc(data.data() + 333, data.size() - 333, first), whole);
}

TEST(Aes128, MatchesFips197AndSp80038aAsDoesTheTestCipher)
{
    for (const BlockVector &v : kFipsVectors) {
        Aes128Key key;
        aes128_expand_key(&key, hex(v.key).data());
        Bytes block = hex(v.cipher);
        aes128_decrypt_block(&key, block.data(), block.data()); /* in place */
        EXPECT_EQ(block, hex(v.plain)) << v.key;
        /* The test's own cipher is only trusted once it reproduces the references. */
        EXPECT_EQ(TestCipher(hex(v.key)).encrypt_block(hex(v.plain)), hex(v.cipher));
    }

    /* CBC, also in place: the chain must use the ciphertext, not the output over it. */
    Aes128Key key;
    aes128_expand_key(&key, kSpKey.data());
    Bytes buffer = kSpCipher;
    aes128_cbc_decrypt(&key, kSpIv.data(), buffer.data(), buffer.data(), buffer.size());
    EXPECT_EQ(buffer, kSpPlain);
    EXPECT_EQ(TestCipher(kSpKey).cbc_encrypt(kSpIv, kSpPlain), kSpCipher);
}

/* The key and initialisation vector of encrypted firmware files. */
const Bytes kFirmwareKey = hex("7c2e91a4d05b3f68e14a9b2c6d8f0375");
const Bytes kFirmwareIv = hex("4b90c3e17a2d5f86b1e09c4d3a7f6e28");

class FirmwareFiles : public testing::Test {
protected:
    void SetUp() override
    {
        testing::internal::CaptureStdout();
        char pattern[] = "/tmp/tavrin-fw-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        testing::internal::GetCapturedStdout();
        fs::remove_all(dir_);
    }

    /* What the library printed since the last call; capturing goes on. */
    std::string printed()
    {
        std::string text = testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        return text;
    }
    std::string path(const std::string &name) const { return (dir_ / name).string(); }
    std::string write(const std::string &name, const Bytes &bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }
    static Bytes read(const std::string &file)
    {
        std::ifstream in(file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const auto &entry : fs::directory_iterator(dir_))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    /* An encrypted file of `plain`: each 256-byte chunk chained afresh from the IV. */
    static Bytes encrypt_file(const Bytes &plain)
    {
        Bytes file = text_bytes("OVRE\x01\x02\x03\x04");
        const TestCipher cipher(kFirmwareKey);
        for (size_t at = 0; at < plain.size(); at += 256) {
            const size_t n = std::min<size_t>(256, plain.size() - at);
            Bytes chunk(plain.begin() + static_cast<long>(at),
                        plain.begin() + static_cast<long>(at + n));
            chunk.resize((n + 15) / 16 * 16, 0);
            const Bytes encrypted = cipher.cbc_encrypt(kFirmwareIv, chunk);
            file.insert(file.end(), encrypted.begin(), encrypted.begin() + static_cast<long>(n));
        }
        return file;
    }

    static Bytes pattern(size_t n)
    {
        Bytes out(n);
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(i * 7 + 3);
        return out;
    }

    fs::path dir_;
};

TEST_F(FirmwareFiles, PlainFilesGiveLengthAndCrcEncryptedOnesTheirMagic)
{
    rvupgrader_fileinfo_t info{};
    ASSERT_EQ(rvupgrader_get_fileinfo(write("check.bin", text_bytes("123456789")).c_str(), &info),
              0);
    EXPECT_EQ(info.length, 9u);
    EXPECT_EQ(info.crc, 0xBB3Du);

    /* Larger than one read buffer. */
    const Bytes big = pattern(40000);
    ASSERT_EQ(rvupgrader_get_fileinfo(write("big.bin", big).c_str(), &info), 0);
    EXPECT_EQ(info.length, 40000u);
    EXPECT_EQ(info.crc, crc16_arc(big.data(), big.size()));

    ASSERT_EQ(rvupgrader_get_fileinfo(write("empty.bin", {}).c_str(), &info), 0);
    EXPECT_EQ(info.length, 0u);
    EXPECT_EQ(info.crc, 0u);

    EXPECT_EQ(rvupgrader_get_fileinfo(write("enc.bin", text_bytes("OVRE1234body")).c_str(), &info),
              -1);
    EXPECT_EQ(rvupgrader_get_fileinfo(path("missing.bin").c_str(), &info), -1);
    EXPECT_EQ(rvupgrader_get_fileinfo(dir_.c_str(), &info), -1);
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
    /* 8 + 300 bytes: a chunk of 256 and one of 44 whose last block is short. */
    const Bytes plain = pattern(300);
    const Bytes file = encrypt_file(plain);
    ASSERT_EQ(file.size(), 308u);
    const std::string dst = path("plain.bin");
    ASSERT_EQ(rvupgrader_file_decrypt(write("fw.bin", file).c_str(), dst.c_str()), 1);
    EXPECT_NE(printed().find("fread success.\n"), std::string::npos);

    const Bytes out = read(dst);
    ASSERT_EQ(out.size(), 300u);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 288, out.begin()));
    /*
     * The 12 bytes of the short block are deciphered as a whole block padded
     * with zeros, chained to the block before it in the second chunk.
     */
    Bytes padded(file.begin() + 8 + 256 + 32, file.end());
    padded.resize(16, 0);
    Aes128Key key;
    aes128_expand_key(&key, kFirmwareKey.data());
    uint8_t tail[16];
    aes128_decrypt_block(&key, padded.data(), tail);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(out[288 + i], tail[i] ^ file[8 + 256 + 16 + i]) << i;

    /* Whole chunks come back exactly; a header alone gives an empty file. */
    const Bytes two_chunks = pattern(512);
    ASSERT_EQ(
        rvupgrader_file_decrypt(write("fw2.bin", encrypt_file(two_chunks)).c_str(), dst.c_str()),
        1);
    EXPECT_EQ(read(dst), two_chunks);
    ASSERT_EQ(
        rvupgrader_file_decrypt(write("fw3.bin", text_bytes("OVRE0000")).c_str(), dst.c_str()), 1);
    EXPECT_TRUE(read(dst).empty());
}

TEST_F(FirmwareFiles, FailedDecryptionLeavesTheDestinationAsItWas)
{
    const Bytes previous = text_bytes("previous firmware");
    const std::string dst = write("plain.bin", previous);
    const std::string src = write("fw.bin", encrypt_file(pattern(3000)));

    EXPECT_EQ(rvupgrader_file_decrypt(path("missing.bin").c_str(), dst.c_str()), -1);
    EXPECT_EQ(rvupgrader_file_decrypt(write("short.bin", text_bytes("OVRE")).c_str(), dst.c_str()),
              -1);
    EXPECT_EQ(rvupgrader_file_decrypt(dir_.c_str(), dst.c_str()), -1);
    EXPECT_EQ(rvupgrader_file_decrypt(src.c_str(), path("no/such/dir/out.bin").c_str()), -1);

    /*
     * A write that fails half-way (file size limit) leaves no partial image.
     * The captured output starts afresh so that it stays under the limit.
     */
    printed();
    struct sigaction ignore = {};
    struct sigaction old_action = {};
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
    EXPECT_EQ(names(), (std::vector<std::string>{"fw.bin", "plain.bin", "short.bin"}));
}

} // namespace
