/*
 * The firmware upgrader over a real link, a UDP socket on loopback playing the controller's
 * loader: the frames it sends, how it follows the answers, how its context moves and ends. And
 * its files: CRC-16/ARC, AES-128 decryption and the firmware file helpers.
 */
#include "aes128.h"
#include "crc16.h"
#include "fixtures.h"
#include "record_fields.h"
#include "rvtele_internal.h"
#include "rvupgrader_internal.h"
#include "tavrin/tavrin.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sys/resource.h>

namespace {

constexpr uint8_t kMsgId = 0xF1;

uint32_t le32(const Bytes &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

/* An answer of the loader, or a command of the upgrader: `payload` from byte 9. */
Bytes answer(const Bytes &payload)
{
    return addressed(kMsgId, payload);
}

/* `head`, then `v` little-endian. */
Bytes with_le32(Bytes head, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        head.push_back(static_cast<uint8_t>(v >> 8 * i));
    return head;
}

Bytes block_ack(uint32_t offset)
{
    return answer(with_le32({0x06}, offset));
}

/* Loader ready: status, two answer bytes, an 8- and a 16-character text. */
Bytes loader_ready(uint8_t status)
{
    Bytes payload = {0x01, status, 0x11, 0x22};
    for (char c : std::string("BOOT0001LOADER-1.2.3-XYZ"))
        payload.push_back(static_cast<uint8_t>(c));
    return answer(payload);
}

/* The data block of `file` at `offset`: offset, length, 200 bytes of the file, their CRC. */
Bytes block_of(const Bytes &file, uint32_t offset)
{
    Bytes payload = with_le32({0x04}, offset);
    payload.push_back(200);
    payload.insert(payload.end(), file.begin() + offset, file.begin() + offset + 200);
    const uint16_t crc = crc16_arc(&file[offset], 200);
    payload.insert(payload.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    return answer(payload);
}

/* The controller's loader is the camera of the link; the hello lets it learn the link. */
class Upgrader : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        start_link();
        up_ = rvupgrader_request(link, kMsgId);
        ASSERT_NE(up_, nullptr);
    }
    void TearDown() override
    {
        rvupgrader_stop(up_);
        rvupgrader_request(nullptr, kMsgId); /* lets go of the link */
        LinkTest::TearDown();
    }

    rvupgrader_view view() const
    {
        rvupgrader_view v;
        rvupgrader_get_view(up_, &v);
        return v;
    }
    bool stage_becomes(int stage)
    {
        return wait_until([&] { return rvupgrader_get_stage(up_) == stage; });
    }

    /* The next upgrade frame with sub-command `command` (at `offset` if given); others skipped. */
    Bytes expect(uint8_t command, int64_t offset = -1)
    {
        for (int i = 0; i < 200; ++i) {
            const Bytes f = loader.receive(10000);
            if (f.empty())
                break;
            if (f.size() >= 11 && f[7] == kMsgId && f[9] == command &&
                (offset < 0 || (f.size() >= 14 && le32(f, 10) == offset)))
                return f;
        }
        return {};
    }

    LoopbackPeer &loader = camera;
    rvupgrader_t *up_ = nullptr;
};

TEST_F(Upgrader, SendsAFileThroughEveryStageAndResendsWhatIsNotAcknowledged)
{
    const Bytes file = pattern(800);
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, write("fw.bin", file).c_str(), 3, 22, "20180510xyz"),
              0);
    ASSERT_EQ(rvupgrader_start(up_), 0);
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_GOTO_LOADER);
    EXPECT_EQ(expect(0x02), answer({0x02})); /* ids 0, reserved 0, checksum */

    /* Loader ready: its status reaches the telemetry handle. */
    loader.send(loader_ready(2));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_ANNOUNCE));
    EXPECT_EQ(get(link->loader_status), 2u);
    const rvupgrader_view ready = view();
    EXPECT_EQ(Bytes(ready.answer, ready.answer + 3), (Bytes{2, 0x11, 0x22}));
    EXPECT_STREQ(ready.text8, "BOOT0001");
    EXPECT_STREQ(ready.text16, "LOADER-1.2.3-XYZ");

    /* Announce: length and CRC of the file, the two announce bytes, eight characters of the tag. */
    Bytes announce = with_le32(with_le32({0x03}, 800), crc16_arc(file.data(), file.size()));
    announce.insert(announce.end(), {3, 22, '2', '0', '1', '8', '0', '5', '1', '0'});
    EXPECT_EQ(expect(0x03), answer(announce));

    /* Blocks of 200 bytes; unanswered, the same block comes again. */
    loader.send(answer({0x03}));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_UPGRADING));
    EXPECT_EQ(expect(0x04, 0), block_of(file, 0));
    EXPECT_EQ(expect(0x04, 0), block_of(file, 0));
    for (uint32_t offset : {200, 400}) {
        loader.send(block_ack(offset));
        EXPECT_EQ(expect(0x04, offset), block_of(file, offset));
    }
    EXPECT_TRUE(wait_until([&] { return rvupgrader_get_progress(up_) == 50; }));
    EXPECT_EQ(rvupgrader_get_rev(up_), 0);

    /* A late repeat of an earlier acknowledgement: the block in flight goes again, as itself. */
    loader.send(block_ack(200));
    ASSERT_TRUE(wait_until([&] { return view().acked_offset == 200; }));
    for (int i = 0; i < 3; ++i) {
        const Bytes block = expect(0x04);
        ASSERT_GE(block.size(), 14u);
        ASSERT_LT(le32(block, 10), file.size());
        EXPECT_EQ(block, block_of(file, le32(block, 10)));
    }
    loader.send(block_ack(600));
    EXPECT_EQ(expect(0x04, 600), block_of(file, 600));

    loader.send(block_ack(800));
    ASSERT_TRUE(wait_until([&] { return rvupgrader_get_stage(up_) >= RVUPGRADER_OVER; }));
    EXPECT_EQ(rvupgrader_get_progress(up_), 100);
    EXPECT_EQ(expect(0x05), answer({0x05}));
    EXPECT_TRUE(wait_until([&] { return rvupgrader_get_rev(up_) == 1; }));
    loader.send(answer({0x07, 0x5A, 0xA5}));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_DONE));
    EXPECT_EQ(view().answer[1], 0x5A);
    EXPECT_EQ(view().answer[2], 0xA5);
    EXPECT_EQ(rvupgrader_set(up_), up_);
    EXPECT_EQ(rvupgrader_get_rev(up_), 0);
    EXPECT_EQ(setprogressempty(up_), up_);
    EXPECT_EQ(rvupgrader_get_progress(up_), 0);

    /* Started again without a new request: a fresh transfer from the start of the file. */
    ASSERT_EQ(rvupgrader_start(up_), 0);
    EXPECT_FALSE(expect(0x02).empty());
    loader.send(loader_ready(1));
    EXPECT_FALSE(expect(0x03).empty());
    loader.send(answer({0x03}));
    EXPECT_EQ(expect(0x04, 0), block_of(file, 0));
}

TEST_F(Upgrader, AnswersOutOfTurnChangeNothing)
{
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, write("fw.bin", pattern(600)).c_str(), 0, 0, "0"),
              0);
    ASSERT_EQ(rvupgrader_start(up_), 0);

    /* The processor is called as the receive thread would call it. */
    auto process = [this](const Bytes &frame) {
        return rvupgrader_process_frame(up_, frame.data(), static_cast<int>(frame.size()));
    };
    EXPECT_EQ(process(answer({0x03})), 0); /* announce accepted, but nothing was announced */
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_GOTO_LOADER);

    EXPECT_EQ(process(loader_ready(1)), 0);
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_ANNOUNCE);
    EXPECT_EQ(process(block_ack(200)), 0); /* stored, but the transfer has not begun */
    EXPECT_EQ(view().acked_offset, 200u);
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_ANNOUNCE);
    EXPECT_EQ(rvupgrader_get_progress(up_), 0);
    EXPECT_EQ(process(answer({0x07, 1, 0})), 0); /* complete, but nothing was sent */
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_ANNOUNCE);

    EXPECT_EQ(process(answer({0x03})), 0);
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_UPGRADING);
    EXPECT_EQ(rvupgrader_restart(up_), 0); /* announce again, keep the offsets */
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_ANNOUNCE);
    EXPECT_EQ(process(answer({0x03})), 0);
    EXPECT_EQ(view().acked_offset, 200u);
    EXPECT_EQ(process(block_ack(601)), 0); /* one byte beyond the file: no progress, no end */
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_UPGRADING);
    EXPECT_EQ(rvupgrader_get_progress(up_), 0);

    /* Frames the upgrader does not want are passed on; short ones are not read. */
    EXPECT_EQ(process(addressed(kMsgId, {0x09}, 0x1234, 0x5678)), -1);
    EXPECT_EQ(process(answer({0x06, 0x10})), -1);
    EXPECT_EQ(view().acked_offset, 601u);
    EXPECT_EQ(process(answer({0x01, 7})), -1);
    EXPECT_NE(get(link->loader_status), 7u);
    EXPECT_EQ(process(addressed(kMsgId, {})), -1); /* ten bytes: no sub-command */

    rvupgrader_stop(up_);
    const std::string text = printed();
    EXPECT_TRUE(contains(text, "Upgrade Error: ACK 601 beyond the file length 600.\n"));
    EXPECT_TRUE(contains(text, "Upgrade Error: frame of 10 bytes has no sub-command.\n"));
    EXPECT_TRUE(contains(text, "Upgrade Error: not wanted Frame. src_id:-1x1234 dst_id:0x5678 "
                               "msg-id:0xf1 sub-cmd:0x9\n"));
    EXPECT_TRUE(contains(text, "Upgarde Down-Direction:ACK 3, Stage: 1\n"));
    EXPECT_TRUE(contains(text, "Change Stage to UPGRADING: 3\n"));
}

TEST_F(Upgrader, StartRefusesAFileWithNothingToSend)
{
    write("encrypted.bin", {'O', 'V', 'R', 'E', 0, 0, 0, 0, 1, 2, 3});
    write("empty.bin", {});
    for (const std::string name : {"missing.bin", "encrypted.bin", "empty.bin"}) {
        printed();
        EXPECT_EQ(rvupgrader_prepare_firmware(up_, path(name).c_str(), 0, 0, "0"), 0);
        EXPECT_EQ(view().file_length, 0u) << name;
        EXPECT_EQ(view().file_crc, 0u) << name;
        EXPECT_EQ(rvupgrader_start(up_), -1) << name;
        EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_IDLE) << name;
        const std::string text = printed();
        EXPECT_TRUE(contains(text, "prepare-firmware: len: 0 crc: 0x0\n")) << text;
        EXPECT_TRUE(contains(text, name == "missing.bin"
                                       ? "Error: cannot open Firmware File"
                                       : "Error: nothing to send from Firmware File"))
            << text;
        EXPECT_TRUE(contains(text, "Upgrade Start Failed.\n")) << text;
    }
}

TEST_F(Upgrader, RequestMovesTheOneProcessorAndForgetsTheUpgrade)
{
    /* Requested twice on the same link: still one processor. */
    EXPECT_EQ(rvupgrader_request(link, kMsgId), up_);
    EXPECT_EQ(unregister_rvtele_processer_v2(link, kMsgId), 1);
    EXPECT_EQ(rvupgrader_request(link, kMsgId), up_);

    /* A running upgrade ends and is forgotten when the context moves. */
    const std::string fw = write("fw.bin", pattern(400));
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, fw.c_str(), 0, 0, "0"), 0);
    ASSERT_EQ(rvupgrader_start(up_), 0);
    ASSERT_FALSE(expect(0x02).empty());

    rvtele_t *other = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", loader.port, 4096);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(rvtele_start(other), 0);
    EXPECT_EQ(rvupgrader_request(other, kMsgId), up_);
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_IDLE);
    EXPECT_EQ(view().file_length, 0u);
    EXPECT_EQ(view().tag[0], '\0');
    EXPECT_LE(unregister_rvtele_processer_v2(link, kMsgId), 0);
    EXPECT_EQ(rvupgrader_start(up_), -1); /* no firmware prepared any more */

    /* Answers now arrive through the other link. */
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, fw.c_str(), 0, 0, "0"), 0);
    ASSERT_EQ(rvupgrader_start(up_), 0);
    ASSERT_FALSE(expect(0x02).empty());
    loader.send(loader_ready(1));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_ANNOUNCE));
    EXPECT_EQ(view().send_failing, 0);

    /* The program frees that link between upgrades: the record stays valid and sends fail. */
    EXPECT_EQ(rvupgrader_stop(up_), 0);
    EXPECT_EQ(rvtele_free(other), 0);
    ASSERT_EQ(rvupgrader_restart(up_), 0);
    EXPECT_TRUE(wait_until([&] { return view().send_failing == 1; }));
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_GOTO_LOADER);
    rvupgrader_request(link, kMsgId); /* drops the last hold on it */
    EXPECT_TRUE(contains(printed(), "Upgrade Error: cannot send to the camera"));
}

/* Starts an upgrade (of any readable file) on a link that never opens, frees the link, exits. */
[[noreturn]] void exit_during_upgrade()
{
    rvtele_module_init();
    rvtele_t *link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 9, 4096);
    rvupgrader_t *up = rvupgrader_request(link, kMsgId);
    rvupgrader_prepare_firmware(up, "/proc/self/exe", 0, 0, "0");
    if (rvupgrader_start(up) != 0)
        std::_Exit(4);
    rvtele_free(link); /* the upgrader keeps the record until exit */
    std::exit(0);
}

TEST(UpgraderContext, ExitWithAnUpgradeRunningEndsCleanly)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    /* The static context's worker is stopped and joined at exit, never left joinable. */
    EXPECT_EXIT(exit_during_upgrade(), testing::ExitedWithCode(0), "");
}

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

/* The key and initialisation vector of encrypted firmware files. */
const Bytes kFirmwareKey = hex("7c2e91a4d05b3f68e14a9b2c6d8f0375");
const Bytes kFirmwareIv = hex("4b90c3e17a2d5f86b1e09c4d3a7f6e28");

/*
 * What the body of an encrypted firmware file deciphers to: CBC from the fixed vector, chained
 * afresh every 256 bytes; a short last block is deciphered padded with zeros and cut. Only the
 * single-block decryption, held to the FIPS 197 vectors below, is the library's.
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

TEST(Crc16Arc, MatchesTheBitwiseFormAndContinuesOverPieces)
{
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
    EXPECT_TRUE(
        contains(text, "rvupgrader_get_fileinfo error: cannot open file " + path("missing.bin")));
    EXPECT_TRUE(contains(text, "is encrypted"));

    EXPECT_EQ(rvupgrader_file_is_encrypt(write("enc.bin", text_bytes("OVRE")).c_str()), 1);
    EXPECT_EQ(rvupgrader_file_is_encrypt(write("plain.bin", text_bytes("OVRF1234")).c_str()), 0);
    EXPECT_EQ(rvupgrader_file_is_encrypt(write("short.bin", text_bytes("OV")).c_str()), 0);
    EXPECT_EQ(rvupgrader_file_is_encrypt(path("missing.bin").c_str()), -1);
}

TEST_F(FirmwareFiles, DecryptsChunkByChunkFromTheFixedVector)
{
    /* 8 + 300 bytes: chunks of 256 and 44 (a short last block); whole chunks; a header alone. */
    const std::string dst = path("plain.bin");
    for (size_t n : {300, 512, 0}) {
        const Bytes body = pattern(n);
        ASSERT_EQ(rvupgrader_file_decrypt(write("fw.bin", encrypted(body)).c_str(), dst.c_str()),
                  1);
        EXPECT_EQ(slurp<Bytes>(dst), decipher(body)) << n;
    }
    EXPECT_TRUE(contains(printed(), "fread success.\n"));
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
    EXPECT_TRUE(contains(printed(), "short.bin is shorter than its 8-byte header"));

    /* A write that fails half-way (file size limit; the capture restarted above) leaves nothing. */
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
    EXPECT_TRUE(contains(printed(), "cannot write"));

    EXPECT_EQ(slurp<Bytes>(dst), previous);
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir_))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"fw.bin", "plain.bin", "short.bin"}));
}

} // namespace
