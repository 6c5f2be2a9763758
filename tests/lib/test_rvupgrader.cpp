/*
 * The firmware upgrader over a real link, with a UDP socket on loopback
 * playing the controller's loader: the frames it sends, how it follows the
 * answers, and how its context moves between links and ends.
 */
#include "crc16.h"
#include "fixtures.h"
#include "rvtele_frame.h"
#include "rvtele_internal.h"
#include "rvupgrader_internal.h"
#include "tavrin/tavrin.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMsgId = 0xF1;

/* Polls `condition` for up to ten seconds. */
template <typename Condition> bool wait_until(Condition condition)
{
    for (int i = 0; i < 5000 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return condition();
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

Bytes image(size_t n)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
    return out;
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
    uint32_t loader_status() const
    {
        return std::atomic_ref<uint32_t>(link->loader_status).load(std::memory_order_relaxed);
    }

    /* The next upgrade frame with sub-command `command`, and at `offset` if given; others skipped.
     */
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
    const Bytes file = image(800);
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, write("fw.bin", file).c_str(), 3, 22, "20180510xyz"),
              0);
    ASSERT_EQ(rvupgrader_start(up_), 0);
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_GOTO_LOADER);
    EXPECT_EQ(expect(0x02), answer({0x02})); /* ids 0, reserved 0, checksum */

    /* Loader ready: its status reaches the telemetry handle. */
    loader.send(loader_ready(2));
    ASSERT_TRUE(stage_becomes(RVUPGRADER_ANNOUNCE));
    EXPECT_EQ(loader_status(), 2u);
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
    ASSERT_EQ(rvupgrader_prepare_firmware(up_, write("fw.bin", image(600)).c_str(), 0, 0, "0"), 0);
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
    EXPECT_NE(loader_status(), 7u);

    rvupgrader_stop(up_);
    const std::string text = printed();
    EXPECT_NE(text.find("Upgrade Error: not wanted Frame. src_id:-1x1234 dst_id:0x5678 "
                        "msg-id:0xf1 sub-cmd:0x9\n"),
              std::string::npos);
    EXPECT_NE(text.find("Upgarde Down-Direction:ACK 3, Stage: 1\n"), std::string::npos);
    EXPECT_NE(text.find("Change Stage to UPGRADING: 3\n"), std::string::npos);
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
        const std::string file = path(c.name);
        printed();
        EXPECT_EQ(rvupgrader_prepare_firmware(up_, file.c_str(), 0, 0, "0"), 0);
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
    EXPECT_EQ(rvupgrader_request(link, kMsgId), up_);
    EXPECT_EQ(unregister_rvtele_processer_v2(link, kMsgId), 1);
    EXPECT_EQ(rvupgrader_request(link, kMsgId), up_);

    /* A running upgrade ends and is forgotten when the context moves. */
    const std::string fw = write("fw.bin", image(400));
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

    /*
     * The program frees that link (between upgrades: a free racing a send is
     * the link's own business): the record stays valid and sends fail.
     */
    EXPECT_EQ(rvupgrader_stop(up_), 0);
    EXPECT_EQ(rvtele_free(other), 0);
    ASSERT_EQ(rvupgrader_restart(up_), 0);
    EXPECT_TRUE(wait_until([&] { return view().send_failing == 1; }));
    EXPECT_EQ(rvupgrader_get_stage(up_), RVUPGRADER_GOTO_LOADER);
    rvupgrader_request(link, kMsgId); /* drops the last hold on it */
    EXPECT_NE(printed().find("Upgrade Error: cannot send to the camera"), std::string::npos);
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

} // namespace
