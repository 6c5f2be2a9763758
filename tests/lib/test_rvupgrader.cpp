/*
 * The firmware upgrader over a real link, with a UDP socket on loopback
 * playing the controller's loader: the frames it sends, how it follows the
 * answers, and how its context moves between links and ends.
 */
#include "crc16.h"
#include "loopback_peer.h"
#include "rvtele_frame.h"
#include "rvtele_internal.h"
#include "rvupgrader_internal.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMsgId = 0xF1;

bool wait_until(const std::function<bool()> &condition, std::chrono::milliseconds limit = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

uint32_t le32(const Bytes &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

/* An answer of the loader: addressed frame, message id 0xF1, then the payload. */
Bytes answer(const Bytes &payload, uint16_t src = 0, uint16_t dst = 0)
{
    Bytes frame(payload.size() + 10, 0);
    rvtele_addressed_frame_init(frame.data(), static_cast<uint32_t>(payload.size()), src, dst);
    frame[7] = kMsgId;
    std::copy(payload.begin(), payload.end(), frame.begin() + 9);
    rvtele_frame_seal(frame.data());
    return frame;
}

Bytes block_ack(uint32_t offset)
{
    return answer({0x06, static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8),
                   static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 24)});
}

/* Loader ready: status, two answer bytes, an 8- and a 16-character text. */
Bytes loader_ready(uint8_t status)
{
    Bytes payload = {0x01, status, 0x11, 0x22};
    for (char c : std::string("BOOT0001LOADER-1.2.3-XYZ"))
        payload.push_back(static_cast<uint8_t>(c));
    return answer(payload);
}

/* A UDP socket standing in for the controller. */
class FakeLoader {
public:
    unsigned port() const { return peer_.port; }

    /* The next datagram, remembering its sender; empty when none comes in time. */
    Bytes receive(std::chrono::milliseconds limit = 10s)
    {
        return peer_.receive(static_cast<int>(limit.count()));
    }

    /* The next upgrade frame with sub-command `command`; others are skipped. */
    Bytes expect(uint8_t command)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            Bytes frame = receive();
            if (frame.size() >= 11 && frame[7] == kMsgId && frame[9] == command)
                return frame;
        }
        return {};
    }

    /* The next data block at `offset`; other frames are skipped. */
    Bytes expect_block_at(uint32_t offset)
    {
        for (int i = 0; i < 200; ++i) {
            Bytes frame = expect(0x04);
            if (frame.empty() || le32(frame, 10) == offset)
                return frame;
        }
        return {};
    }

    void send(const Bytes &frame) { peer_.send(frame); }

private:
    LoopbackPeer peer_;
};

/* Checks one data block: length, checksum, CRC and that it carries the file at its offset. */
void check_block(const Bytes &frame, const Bytes &file)
{
    ASSERT_GE(frame.size(), 18u);
    const uint32_t offset = le32(frame, 10);
    const size_t n = frame[14];
    ASSERT_EQ(frame.size(), n + 18);
    EXPECT_EQ(frame[2], frame.size());
    EXPECT_EQ(rvtele_checksum(frame.data(), static_cast<uint32_t>(frame.size() - 1)), frame.back());
    const uint16_t crc = crc16_arc(frame.data() + 15, n);
    EXPECT_EQ(frame[15 + n], crc & 0xFF);
    EXPECT_EQ(frame[16 + n], crc >> 8);
    ASSERT_LE(offset + n, file.size());
    EXPECT_TRUE(std::equal(frame.begin() + 15, frame.begin() + 15 + static_cast<long>(n),
                           file.begin() + offset))
        << "block at " << offset << " does not hold the file's bytes there";
}

class Upgrader : public testing::Test {
protected:
    void SetUp() override
    {
        testing::internal::CaptureStdout();
        char pattern[] = "/tmp/tavrin-upg-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        rvtele_module_init();
        link_ = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", loader_.port(), 4096);
        ASSERT_NE(link_, nullptr);
        ASSERT_EQ(rvtele_start(link_), 0);
        ASSERT_EQ(loader_.receive().size(), 36u); /* hello: the loader learns the link */
        up_ = rvupgrader_request(link_, kMsgId);
        ASSERT_NE(up_, nullptr);
    }
    void TearDown() override
    {
        rvupgrader_stop(up_);
        rvupgrader_request(nullptr, kMsgId); /* lets go of the link */
        rvtele_free(link_);
        rvtele_module_exit();
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
    std::string write(const std::string &name, const Bytes &bytes) const
    {
        const std::string file = (dir_ / name).string();
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    static Bytes image(size_t n)
    {
        Bytes out(n);
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
        return out;
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

    /* Start sending `file` and take the exchange up to the upgrading stage. */
    void start_and_reach_upgrading(const std::string &file)
    {
        ASSERT_EQ(rvupgrader_prepare_firmware(up_, file.c_str(), 0, 0, "0"), 0);
        ASSERT_EQ(rvupgrader_start(up_), 0);
        ASSERT_FALSE(loader_.expect(0x02).empty());
        loader_.send(loader_ready(1));
        ASSERT_FALSE(loader_.expect(0x03).empty());
        loader_.send(answer({0x03}));
        ASSERT_TRUE(stage_becomes(RVUPGRADER_UPGRADING));
    }

    FakeLoader loader_;
    rvtele_t *link_ = nullptr;
    rvupgrader_t *up_ = nullptr;
    fs::path dir_;
};

TEST_F(Upgrader, SendsA400ByteFileThroughEveryStage)
{
    const Bytes file = image(400);
    const std::string path = write("fw.bin", file);
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, path.c_str(), 3, 22, "20180510xyz"), 0);
    EXPECT_EQ(view().file_length, 400u);
    EXPECT_EQ(view().file_crc, crc16_arc(file.data(), file.size()));
    ASSERT_EQ(rvupgrader_start(up_), 0);
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_GOTO_LOADER);

    const Bytes go = loader_.expect(0x02);
    ASSERT_EQ(go.size(), 11u);
    EXPECT_EQ(go, answer({0x02})); /* ids 0, reserved 0, checksum */

    /* Loader ready: its status reaches the telemetry handle. */
    loader_.send(loader_ready(2));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_ANNOUNCE));
    EXPECT_EQ(std::atomic_ref<uint32_t>(link_->loader_status).load(std::memory_order_relaxed), 2u);
    EXPECT_EQ(view().answer[0], 2);
    EXPECT_EQ(view().answer[1], 0x11);
    EXPECT_EQ(view().answer[2], 0x22);
    EXPECT_STREQ(view().text8, "BOOT0001");
    EXPECT_STREQ(view().text16, "LOADER-1.2.3-XYZ");

    const Bytes announce = loader_.expect(0x03);
    ASSERT_EQ(announce.size(), 29u);
    EXPECT_EQ(le32(announce, 10), 400u);
    EXPECT_EQ(le32(announce, 14), crc16_arc(file.data(), file.size()));
    EXPECT_EQ(announce[18], 3);
    EXPECT_EQ(announce[19], 22);
    EXPECT_EQ(std::string(announce.begin() + 20, announce.begin() + 28), "20180510");
    EXPECT_EQ(rvtele_checksum(announce.data(), 28), announce[28]);

    loader_.send(answer({0x03}));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_UPGRADING));
    const Bytes first = loader_.expect_block_at(0);
    ASSERT_EQ(first.size(), 218u);
    check_block(first, file);

    loader_.send(block_ack(200));
    const Bytes second = loader_.expect_block_at(200);
    ASSERT_EQ(second.size(), 218u);
    check_block(second, file);
    EXPECT_TRUE(wait_until([&] { return rvupgrader_get_progress(up_) == 50; }));
    EXPECT_EQ(rvupgrader_get_rev(up_), 0);

    loader_.send(block_ack(400));
    ASSERT_TRUE(wait_until([&] { return rvupgrader_get_stage(up_) >= RVUPGRADER_OVER; }));
    EXPECT_EQ(rvupgrader_get_progress(up_), 100);
    EXPECT_EQ(loader_.expect(0x05), answer({0x05}));
    EXPECT_TRUE(wait_until([&] { return rvupgrader_get_rev(up_) == 1; }));

    loader_.send(answer({0x07, 0x5A, 0xA5}));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_DONE));
    EXPECT_EQ(view().answer[1], 0x5A);
    EXPECT_EQ(view().answer[2], 0xA5);
    EXPECT_EQ(rvupgrader_set(up_), up_);
    EXPECT_EQ(rvupgrader_get_rev(up_), 0);
    EXPECT_EQ(setprogressempty(up_), up_);
    EXPECT_EQ(rvupgrader_get_progress(up_), 0);

    /* Started again without a new request: a fresh transfer from the start of the file. */
    ASSERT_EQ(rvupgrader_start(up_), 0);
    EXPECT_FALSE(loader_.expect(0x02).empty());
    loader_.send(loader_ready(1));
    EXPECT_FALSE(loader_.expect(0x03).empty());
    loader_.send(answer({0x03}));
    check_block(loader_.expect_block_at(0), file);
}

TEST_F(Upgrader, AnswersOutOfTurnChangeNothing)
{
    const Bytes file = image(600);
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, write("fw.bin", file).c_str(), 0, 0, "0"), 0);
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
    EXPECT_EQ(process(block_ack(900)), 0); /* beyond the file: no progress above 100 */
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_UPGRADING);
    EXPECT_LE(rvupgrader_get_progress(up_), 100);

    /* Frames the upgrader does not want are passed on; short ones are not read. */
    EXPECT_EQ(process(answer({0x09}, 0x1234, 0x5678)), -1);
    EXPECT_EQ(process(answer({0x06, 0x10})), -1);
    EXPECT_EQ(view().acked_offset, 900u);
    EXPECT_EQ(process(answer({0x01, 7})), -1);
    EXPECT_NE(std::atomic_ref<uint32_t>(link_->loader_status).load(std::memory_order_relaxed), 7u);

    rvupgrader_stop(up_);
    const std::string text = printed();
    EXPECT_NE(text.find("Upgrade Error: not wanted Frame. src_id:-1x1234 dst_id:0x5678 "
                        "msg-id:0xf1 sub-cmd:0x9\n"),
              std::string::npos);
    EXPECT_NE(text.find("Upgarde Down-Direction:ACK 3, Stage: 1\n"), std::string::npos);
    EXPECT_NE(text.find("Change Stage to UPGRADING: 3\n"), std::string::npos);
}

TEST_F(Upgrader, ResendsUntilAcknowledgedAndEveryBlockCarriesItsOwnOffset)
{
    const Bytes file = image(600);
    start_and_reach_upgrading(write("fw.bin", file));

    /* Unanswered, the same block comes again. */
    const Bytes first = loader_.expect_block_at(0);
    EXPECT_EQ(loader_.expect_block_at(0), first);
    check_block(first, file);

    loader_.send(block_ack(200));
    check_block(loader_.expect_block_at(200), file);
    loader_.send(block_ack(400));
    check_block(loader_.expect_block_at(400), file);

    /* A late repeat of an earlier acknowledgement: the block in flight goes again, as itself. */
    loader_.send(block_ack(200));
    ASSERT_TRUE(wait_until([&] { return view().acked_offset == 200; }));
    for (int i = 0; i < 3; ++i) {
        const Bytes block = loader_.expect(0x04);
        ASSERT_FALSE(block.empty());
        check_block(block, file);
    }

    loader_.send(block_ack(600));
    ASSERT_TRUE(wait_until([&] { return rvupgrader_get_stage(up_) >= RVUPGRADER_OVER; }));
    EXPECT_EQ(rvupgrader_get_progress(up_), 100);
    EXPECT_FALSE(loader_.expect(0x05).empty());
}

TEST_F(Upgrader, StartRefusesAFileWithNothingToSend)
{
    const struct {
        const char *name;
        const char *why;
    } cases[] = {
        {"missing.bin", "Error: cannot open Firmware File"},
        {"encrypted.bin", "Error: nothing to send from Firmware File"},
        {"empty.bin", "Error: nothing to send from Firmware File"},
    };
    write("encrypted.bin", {'O', 'V', 'R', 'E', 0, 0, 0, 0, 1, 2, 3});
    write("empty.bin", {});
    for (const auto &c : cases) {
        const std::string path = (dir_ / c.name).string();
        printed();
        EXPECT_EQ(rvupgrader_prepare_firmware(up_, path.c_str(), 0, 0, "0"), 0);
        EXPECT_EQ(view().file_length, 0u) << c.name;
        EXPECT_EQ(view().file_crc, 0u) << c.name;
        EXPECT_EQ(rvupgrader_start(up_), -1) << c.name;
        EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_IDLE) << c.name;
        const std::string text = printed();
        EXPECT_NE(text.find("prepare-firmware: len: 0 crc: 0x0\n"), std::string::npos) << text;
        EXPECT_NE(text.find(c.why), std::string::npos) << text;
        EXPECT_NE(text.find("Upgrade Start Failed.\n"), std::string::npos) << text;
    }
}

TEST_F(Upgrader, RequestMovesTheOneProcessorAndForgetsTheUpgrade)
{
    /* Requested twice on the same link: still one processor. */
    EXPECT_EQ(rvupgrader_request(link_, kMsgId), up_);
    EXPECT_EQ(unregister_rvtele_processer_v2(link_, kMsgId), 1);
    EXPECT_EQ(rvupgrader_request(link_, kMsgId), up_);

    /* A running upgrade ends and is forgotten when the context moves. */
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, write("fw.bin", image(400)).c_str(), 0, 0, "0"), 0);
    ASSERT_EQ(rvupgrader_start(up_), 0);
    ASSERT_FALSE(loader_.expect(0x02).empty());

    rvtele_t *other = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", loader_.port(), 4096);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(rvtele_start(other), 0);
    EXPECT_EQ(rvupgrader_request(other, kMsgId), up_);
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_IDLE);
    EXPECT_EQ(view().file_length, 0u);
    EXPECT_EQ(view().tag[0], '\0');
    EXPECT_LE(unregister_rvtele_processer_v2(link_, kMsgId), 0);
    EXPECT_EQ(rvupgrader_start(up_), -1); /* no firmware prepared any more */

    /* Answers now arrive through the other link. */
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, write("fw.bin", image(400)).c_str(), 0, 0, "0"), 0);
    ASSERT_EQ(rvupgrader_start(up_), 0);
    ASSERT_FALSE(loader_.expect(0x02).empty());
    loader_.send(loader_ready(1));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_ANNOUNCE));
    EXPECT_EQ(view().send_failing, 0);

    /*
     * The program frees that link (between upgrades: a free racing a send is
     * the link's own business): the record stays valid and sends fail.
     */
    EXPECT_EQ(rvupgrader_stop(up_), 0);
    EXPECT_EQ(rvtele_free(other), 0);
    ASSERT_EQ(rvupgrader_restart(up_), 0);
    EXPECT_TRUE(wait_until([&] { return view().send_failing == 1; }));
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_GOTO_LOADER);
    rvupgrader_request(link_, kMsgId); /* drops the last hold on it */
    EXPECT_NE(printed().find("Upgrade Error: cannot send to the camera"), std::string::npos);
}

/* Starts an upgrade on a link that never opens, frees the link and exits at once. */
[[noreturn]] void exit_during_upgrade()
{
    char pattern[] = "/tmp/tavrin-exit-XXXXXX";
    const int fd = mkstemp(pattern);
    const char data[64] = {1, 2, 3};
    if (fd < 0 || ::write(fd, data, sizeof data) != sizeof data)
        std::_Exit(3);
    close(fd);
    rvtele_module_init();
    rvtele_t *link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 9, 4096);
    rvupgrader_t *up = rvupgrader_request(link, kMsgId);
    rvupgrader_prepare_firmware(up, pattern, 0, 0, "0");
    const int started = rvupgrader_start(up);
    unlink(pattern);
    if (started != 0)
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

} // namespace
