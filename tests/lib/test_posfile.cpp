/*
 * POS transfer manager: requests on the wire, file entries, record frames,
 * recovery of lost 'Q' records, completion, and the lock between the receive
 * thread and the caller. A UDP socket stands in for the camera.
 */
#include "loopback_peer.h"
#include "posfile_internal.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put_be32(Bytes &f, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        f[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void seal(Bytes &f)
{
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < f.size(); ++i)
        sum = static_cast<uint8_t>(sum + f[i]);
    f.back() = static_cast<uint8_t>(0x100 - sum);
}

/* A request as the camera expects it. */
Bytes request(uint8_t sub, uint8_t argument, uint32_t start = 0, uint32_t size = 0)
{
    Bytes f(36, 0);
    f[0] = 0xEB, f[1] = 0x90, f[2] = 36, f[3] = 'C';
    f[4] = f[5] = sub;
    f[6] = f[7] = argument;
    if (sub == 0x2E) {
        put_be32(f, 8, start);
        put_be32(f, 12, size);
    }
    seal(f);
    return f;
}

Bytes p_frame(uint8_t number)
{
    Bytes f(36, 0);
    f[0] = 0xEB, f[1] = 0x90, f[2] = 36, f[3] = 'P';
    f[4] = number;
    put_be32(f, 5, 0x00010000u);
    put_be32(f, 9, 0x11223344u);
    const uint8_t start[6] = {23, 6, 14, 3, 0, 0};
    std::memcpy(&f[13], start, 6);
    put_be32(f, 19, 0x00010000u + 52 * 240);
    put_be32(f, 23, 0x55667788u);
    const uint8_t end[6] = {23, 6, 14, 3, 6, 0};
    std::memcpy(&f[27], end, 6);
    f[33] = 2;
    f[34] = 0x5A;
    seal(f);
    return f;
}

Bytes o_frame(int16_t id)
{
    Bytes f(36, 0);
    f[0] = 0xEB, f[1] = 0x90, f[2] = 36, f[3] = 'O';
    f[4] = static_cast<uint8_t>(id >> 8), f[5] = static_cast<uint8_t>(id);
    put_be32(f, 12, 1163000000);
    put_be32(f, 16, 399000000);
    seal(f);
    return f;
}

/* A 'Q' frame whose ID is its record number, so rows show which records were written. */
Bytes q_frame(uint32_t offset, uint8_t length = 52)
{
    Bytes f(61, 0);
    f[0] = 0xEB, f[1] = 0x90, f[2] = 61, f[3] = 'Q';
    put_be32(f, 4, offset);
    f[8] = length;
    const uint32_t id = offset / (length ? length : 52);
    f[9] = static_cast<uint8_t>(id >> 8), f[10] = static_cast<uint8_t>(id);
    put_be32(f, 17, 1163000000);
    put_be32(f, 21, 399000000);
    f[30] = 20; /* speed */
    seal(f);
    return f;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/* The first cell of every data row of a table. */
std::vector<int> row_ids(const std::string &path)
{
    std::vector<int> ids;
    std::istringstream lines(slurp(path));
    std::string line;
    std::getline(lines, line); /* header */
    while (std::getline(lines, line))
        ids.push_back(std::stoi(line));
    return ids;
}

class PosManager : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pos_manager_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        table = dir + "/pos.xls";
        testing::internal::CaptureStdout();
        rvtele_module_init();
        link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", camera.port, TAVRIN_RING_CAPACITY);
        mgr = posfile_manager_init(link);
        const int started = rvtele_start(link);
        testing::internal::GetCapturedStdout();
        ASSERT_NE(mgr, nullptr);
        ASSERT_EQ(started, 0);
        ASSERT_EQ(camera.receive().size(), 36u); /* hello */
    }
    void TearDown() override
    {
        testing::internal::CaptureStdout();
        posfile_manager_exit(mgr);
        rvtele_free(link);
        rvtele_module_exit();
        testing::internal::GetCapturedStdout();
        const std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    int feed(const Bytes &frame)
    {
        return posfile_handle_frame(mgr, frame.data(), static_cast<int>(frame.size()));
    }
    /* Nothing was sent since the last receive: the next request is the first to arrive. */
    void expect_nothing_sent()
    {
        ASSERT_EQ(posfile_info_request(mgr, 1), 0);
        EXPECT_EQ(camera.receive(), request(0x26, 1));
    }
    uint32_t received() { return posfile_load(mgr->bytes_received); }
    void start_offset_download(uint8_t file, uint32_t expected, int record_size = 52)
    {
        ASSERT_EQ(posfile_file_request_offset(mgr, file, table.c_str(), expected, record_size), 0);
        ASSERT_EQ(camera.receive(), request(0x2E, file, 0, expected));
    }
    void close_table() { ASSERT_EQ(_ofrm_closefile(mgr), 0); }

    LoopbackPeer camera;
    rvtele_t *link = nullptr;
    posfile_manager_t *mgr = nullptr;
    std::string dir;
    std::string table;
};

TEST_F(PosManager, RequestsAreExactCommandFrames)
{
    ASSERT_EQ(posfile_info_request(mgr, 3), 0);
    Bytes info(36, 0);
    const uint8_t head[] = {0xEB, 0x90, 0x24, 0x43, 0x26, 0x26, 0x03, 0x03};
    std::copy(head, head + 8, info.begin());
    info[35] = 0xCC;
    EXPECT_EQ(camera.receive(), info);

    ASSERT_EQ(posfile_file_request(mgr, 5, table.c_str()), 0);
    EXPECT_EQ(camera.receive(), request(0x27, 5));
    EXPECT_EQ(posfile_load(mgr->transfer_state), POSFILE_REQUESTED);
    ASSERT_EQ(posfile_file_request_offset(mgr, 6, table.c_str(), 0x01020A28u, 52), 0);
    EXPECT_EQ(camera.receive(), request(0x2E, 6, 0, 0x01020A28u));
    ASSERT_EQ(posfile_file_success(mgr, 6), 0);
    EXPECT_EQ(camera.receive(), request(0x2F, 6));
    ASSERT_EQ(posfile_file_remove(mgr, 9), 0);
    EXPECT_EQ(camera.receive(), request(0x29, 9));
    ASSERT_EQ(posfile_file_remove_all(mgr), 0);
    EXPECT_EQ(camera.receive(), request(0x2A, 0));
    ASSERT_EQ(posfile_file_cancelRequest(mgr), 0);
    EXPECT_EQ(camera.receive(), request(0x28, 0));

    /* Numbers outside 1 to 14 are refused before anything is sent. */
    testing::internal::CaptureStdout();
    EXPECT_EQ(posfile_info_request(mgr, 0), -1);
    EXPECT_EQ(posfile_info_request(mgr, 15), -1);
    EXPECT_EQ(posfile_file_remove(mgr, 0), -1);
    EXPECT_EQ(posfile_file_remove(mgr, 15), -1);
    EXPECT_EQ(posfile_info_request(nullptr, 3), -1);
    EXPECT_EQ(posfile_file_request(nullptr, 3, table.c_str()), -1);
    EXPECT_EQ(posfile_file_request_offset(nullptr, 3, table.c_str(), 52, 52), -1);
    EXPECT_EQ(posfile_file_cancelRequest(nullptr), -1);
    EXPECT_EQ(posfile_file_success(nullptr, 3), -1);
    EXPECT_EQ(posfile_file_remove_all(nullptr), -1);
    EXPECT_EQ(posfile_process(nullptr), 0u);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(posfile_info_request(mgr, 14), 0);
    EXPECT_EQ(camera.receive(), request(0x26, 14));
}

TEST_F(PosManager, EntryFramesFillTheTableAndTheValidMask)
{
    EXPECT_EQ(feed(p_frame(3)), 0);
    EXPECT_EQ(posfile_load(mgr->valid_mask), 1u << 2);
    posfile_entry_t entry{};
    ASSERT_EQ(posfile_info_get(mgr, 3, &entry), 0);
    EXPECT_EQ(entry.number, 3);
    EXPECT_EQ(entry.start_address, 0x00010000u);
    EXPECT_EQ(entry.start_address2, 0x11223344u);
    EXPECT_EQ(entry.end_address - entry.start_address, 52u * 240);
    EXPECT_EQ(entry.end_address2, 0x55667788u);
    EXPECT_EQ(entry.start_time[0], 23);
    EXPECT_EQ(entry.end_time[4], 6);
    EXPECT_EQ(entry.download_count, 2);
    EXPECT_EQ(entry.reserved, 0x5A);

    EXPECT_EQ(posfile_info_get(mgr, 4, &entry), -1);
    EXPECT_EQ(posfile_info_get(mgr, 3, nullptr), -1);
    EXPECT_EQ(posfile_info_get(mgr, 15, &entry), -1);
    EXPECT_EQ(posfile_info_get(nullptr, 3, &entry), -1);
    for (uint8_t number : {0, 15, 200})
        EXPECT_EQ(feed(p_frame(number)), 0);
    EXPECT_EQ(posfile_load(mgr->valid_mask), 1u << 2);
}

TEST_F(PosManager, PlainRecordsCount32BytesEachUntilTheEndMarkerClosesTheTable)
{
    EXPECT_EQ(feed(o_frame(1)), -1); /* no table yet */
    EXPECT_EQ(posfile_load(mgr->record_counter), 0u);
    ASSERT_EQ(posfile_file_request(mgr, 2, table.c_str()), 0);
    camera.receive();
    for (int16_t id = 1; id <= 3; ++id)
        ASSERT_EQ(feed(o_frame(id)), 0);
    EXPECT_EQ(posfile_process(mgr), 96u);
    EXPECT_EQ(posfile_load(mgr->record_counter), 3u);
    EXPECT_EQ(posfile_load(mgr->activity), 1u);

    /* The end marker counts only when the caller has set its flag. */
    EXPECT_EQ(feed(p_frame(255)), 0);
    EXPECT_EQ(posfile_load(mgr->transfer_state), POSFILE_REQUESTED);
    EXPECT_NE(posfile_load(mgr->main_table), nullptr);
    posfile_store(mgr->end_marker_flag, 1);
    EXPECT_EQ(feed(p_frame(255)), 0);
    EXPECT_EQ(posfile_load(mgr->transfer_state), POSFILE_FINISHED);
    EXPECT_EQ(posfile_load(mgr->main_table), nullptr);
    EXPECT_EQ(row_ids(table), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(feed(o_frame(4)), -1);
    EXPECT_EQ(_ofrm_closefile(mgr), -1);
}

TEST_F(PosManager, LostOffsetRecordIsRequestedOnceFromTheLastGoodOffset)
{
    posfile_store(mgr->current_file, 4);
    start_offset_download(4, 10 * 52);
    testing::internal::CaptureStderr();
    for (uint32_t offset : {0u, 52u, 156u})
        ASSERT_EQ(feed(q_frame(offset)), 0);
    EXPECT_EQ(received(), 104u);
    EXPECT_EQ(camera.receive(), request(0x2E, 4, 104, 520));
    EXPECT_NE(
        testing::internal::GetCapturedStderr().find("收到offset:156,currentOFrmTotalSize:104\n"),
        std::string::npos);

    /* Further mismatches before a record is accepted send nothing more. */
    ASSERT_EQ(feed(q_frame(208)), 0);
    expect_nothing_sent();
    for (uint32_t offset : {104u, 156u, 208u})
        ASSERT_EQ(feed(q_frame(offset)), 0);
    EXPECT_EQ(received(), 260u);
    EXPECT_EQ(posfile_load(mgr->record_counter), 7u);

    /* A repeated record is a mismatch too: the camera is asked to go on from here. */
    testing::internal::CaptureStderr();
    ASSERT_EQ(feed(q_frame(104)), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(camera.receive(), request(0x2E, 4, 260, 520));
    close_table();
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(PosManager, RestartWhoseFirstRecordIsLostIsRequestedAgain)
{
    posfile_store(mgr->current_file, 2);
    start_offset_download(2, 10 * 52);
    testing::internal::CaptureStderr();
    ASSERT_EQ(feed(q_frame(0)), 0);
    ASSERT_EQ(feed(q_frame(104)), 0); /* 52 lost */
    EXPECT_EQ(camera.receive(), request(0x2E, 2, 52, 520));
    ASSERT_EQ(feed(q_frame(156)), 0); /* still the old stream */
    ASSERT_EQ(feed(q_frame(104)), 0); /* the camera went back, but 52 was lost again */
    EXPECT_EQ(camera.receive(), request(0x2E, 2, 52, 520));
    ASSERT_EQ(feed(q_frame(156)), 0);
    for (uint32_t offset : {52u, 104u, 156u})
        ASSERT_EQ(feed(q_frame(offset)), 0);
    testing::internal::GetCapturedStderr();
    expect_nothing_sent();
    close_table();
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(PosManager, EarlyEndMarkerAsksForTheRestInsteadOfClosingAShortTable)
{
    posfile_store(mgr->current_file, 3);
    posfile_store(mgr->end_marker_flag, 1);
    start_offset_download(3, 3 * 52);
    testing::internal::CaptureStdout();
    ASSERT_EQ(feed(q_frame(0)), 0);
    ASSERT_EQ(feed(q_frame(52)), 0);
    ASSERT_EQ(feed(p_frame(255)), 0); /* the last record was lost */
    EXPECT_EQ(camera.receive(), request(0x2E, 3, 104, 156));
    EXPECT_EQ(posfile_load(mgr->transfer_state), POSFILE_REQUESTED);
    ASSERT_EQ(feed(q_frame(104)), 0);
    ASSERT_EQ(feed(p_frame(255)), 0);
    EXPECT_EQ(posfile_load(mgr->transfer_state), POSFILE_FINISHED);
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1, 2}));

    /* A camera that keeps ending without more records is believed at the fourth marker. */
    start_offset_download(3, 3 * 52);
    ASSERT_EQ(feed(q_frame(0)), 0);
    for (int marker = 0; marker < 3; ++marker) {
        ASSERT_EQ(feed(p_frame(255)), 0);
        EXPECT_EQ(camera.receive(), request(0x2E, 3, 52, 156));
        EXPECT_EQ(posfile_load(mgr->transfer_state), POSFILE_REQUESTED);
    }
    ASSERT_EQ(feed(p_frame(255)), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ended by the camera at 52 of 156"),
              std::string::npos);
    EXPECT_EQ(posfile_load(mgr->transfer_state), POSFILE_FINISHED);
    EXPECT_EQ(posfile_load(mgr->main_table), nullptr);
    EXPECT_EQ(received(), 52u);
}

TEST_F(PosManager, SilentOffsetDownloadIsAskedAgainByThePolling)
{
    posfile_set_stall_interval(mgr, 0);
    posfile_store(mgr->current_file, 7);
    start_offset_download(7, 3 * 52);
    ASSERT_EQ(feed(q_frame(0)), 0);
    EXPECT_EQ(posfile_process(mgr), 52u); /* news since the last poll: nothing to do */
    expect_nothing_sent();
    testing::internal::CaptureStdout();
    EXPECT_EQ(posfile_process(mgr), 52u);
    EXPECT_EQ(camera.receive(), request(0x2E, 7, 52, 156));
    ASSERT_EQ(feed(q_frame(52)), 0);
    ASSERT_EQ(feed(q_frame(104)), 0);

    /* Complete and acknowledged, but the end marker was lost: acknowledge again. */
    ASSERT_EQ(posfile_file_success(mgr, 7), 0);
    EXPECT_EQ(camera.receive(), request(0x2F, 7));
    posfile_store(mgr->end_marker_flag, 1);
    posfile_process(mgr);
    posfile_process(mgr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(camera.receive(), request(0x2F, 7));
    ASSERT_EQ(feed(p_frame(255)), 0);
    posfile_process(mgr);
    posfile_process(mgr);
    expect_nothing_sent();

    /* A cancelled download is not revived, by the polling or by a gap. */
    start_offset_download(7, 3 * 52);
    ASSERT_EQ(posfile_file_cancelRequest(mgr), 0);
    EXPECT_EQ(camera.receive(), request(0x28, 0));
    ASSERT_EQ(feed(q_frame(52)), 0);
    posfile_process(mgr);
    posfile_process(mgr);
    expect_nothing_sent();

    /* Plain downloads carry no offsets: the polling never asks again. */
    ASSERT_EQ(posfile_file_request(mgr, 1, table.c_str()), 0);
    camera.receive();
    posfile_process(mgr);
    posfile_process(mgr);
    expect_nothing_sent();
}

TEST_F(PosManager, ShortRecordInAnOffsetFrameEndsItsRowAndCounts32Bytes)
{
    start_offset_download(1, 64, 32);
    ASSERT_EQ(feed(q_frame(0, 32)), 0);
    ASSERT_EQ(feed(q_frame(32, 32)), 0);
    EXPECT_EQ(received(), 64u);
    close_table();
    const std::string text = slurp(table);
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1}));
    EXPECT_EQ(text.substr(text.size() - 3), " \r\n");
}

TEST_F(PosManager, MalformedFramesAreRefusedWithAMessage)
{
    start_offset_download(1, 520);
    testing::internal::CaptureStdout();
    Bytes truncated = q_frame(0);
    truncated.resize(36);
    EXPECT_EQ(feed(truncated), -1);
    Bytes long_o = o_frame(1);
    long_o.resize(61);
    EXPECT_EQ(feed(long_o), -1);
    EXPECT_EQ(posfile_load(mgr->record_counter), 0u);
    EXPECT_EQ(feed(q_frame(0, 0)), 0); /* record length 0 would never advance */
    EXPECT_EQ(received(), 0u);
    EXPECT_EQ(posfile_handle_frame(mgr, nullptr, 61), -1);
    Bytes other = o_frame(1);
    other[3] = 'C';
    EXPECT_EQ(feed(other), -1);
    const std::string messages = testing::internal::GetCapturedStdout();
    EXPECT_NE(messages.find("'Q' frame of 36 bytes"), std::string::npos);
    EXPECT_NE(messages.find("record of 0 bytes"), std::string::npos);
    close_table();
    EXPECT_TRUE(row_ids(table).empty());
}

TEST_F(PosManager, TablesOpenAndCloseCleanly)
{
    testing::internal::CaptureStdout();
    const std::string missing = dir + "/no/such/dir/pos.xls";
    EXPECT_EQ(posfile_file_request_offset(mgr, 1, missing.c_str(), 52, 52), -1);
    EXPECT_EQ(posfile_ofrm_openfile(mgr, nullptr), -1);
    EXPECT_EQ(posfile_ofrm_openfile(nullptr, table.c_str()), -1);
    EXPECT_EQ(_ofrm_closefile(nullptr), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("cannot create"), std::string::npos);
    EXPECT_EQ(posfile_load(mgr->main_table), nullptr);
    EXPECT_EQ(_ofrm_closefile(mgr), -1);
    expect_nothing_sent();

    /* A table left open by an earlier download is closed, rows kept, when the next opens. */
    start_offset_download(1, 520);
    ASSERT_EQ(feed(q_frame(0)), 0);
    const std::string second = dir + "/second.xls";
    ASSERT_EQ(posfile_ofrm_openfile(mgr, second.c_str()), 0);
    EXPECT_EQ(row_ids(table), std::vector<int>{0});
    EXPECT_EQ(received(), 0u);
    ASSERT_EQ(feed(o_frame(9)), 0);

    /* Exit closes a table still open and keeps its rows. */
    testing::internal::CaptureStdout();
    posfile_manager_exit(mgr);
    posfile_manager_exit(nullptr);
    testing::internal::GetCapturedStdout();
    mgr = nullptr;
    EXPECT_EQ(row_ids(second), std::vector<int>{9});
}

TEST_F(PosManager, FramesFromTheLinkReachTheManager)
{
    camera.send(p_frame(2));
    for (int i = 0; i < 400 && !(posfile_load(mgr->valid_mask) & 2u); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(posfile_load(mgr->valid_mask), 2u);
}

TEST_F(PosManager, CallerAndReceiveThreadShareTheManagerSafely)
{
    constexpr uint32_t kLimit = 1000000;
    start_offset_download(1, kLimit * 52);
    std::atomic<uint32_t> refused_at{0};
    std::thread receiver([&] {
        /* Records in order until the caller closes the table under them. */
        for (uint32_t i = 0; i < kLimit; ++i) {
            feed(p_frame(static_cast<uint8_t>(1 + i % 14)));
            if (feed(q_frame(i * 52)) != 0) {
                refused_at.store(i);
                break;
            }
        }
    });
    /* The caller polls and reads entries while records arrive, then closes the table. */
    posfile_entry_t entry{};
    while (received() < 500 * 52) {
        posfile_process(mgr);
        posfile_info_get(mgr, 1 + static_cast<int>(received() / 52 % 14), &entry);
    }
    close_table();
    const uint32_t at_close = received();
    receiver.join();

    EXPECT_EQ(received(), at_close); /* nothing accepted after the close */
    EXPECT_EQ(refused_at.load(), at_close / 52);
    const std::vector<int> ids = row_ids(table);
    ASSERT_EQ(ids.size(), at_close / 52);
    for (size_t i = 0; i < ids.size(); ++i)
        ASSERT_EQ(ids[i], static_cast<int>(i % 65536 < 32768 ? i % 65536 : i % 65536 - 65536));
    EXPECT_EQ(posfile_load(mgr->valid_mask), 0x3FFFu);
}

TEST(PosManagers, EachManagerKeepsItsOwnReRequestState)
{
    LoopbackPeer cameras[2];
    rvtele_t *links[2];
    posfile_manager_t *managers[2];
    char pattern[] = "/tmp/pos_two_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    testing::internal::CaptureStdout();
    rvtele_module_init();
    for (int i = 0; i < 2; ++i) {
        links[i] = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", cameras[i].port, 4096);
        managers[i] = posfile_manager_init(links[i]);
        ASSERT_EQ(rvtele_start(links[i]), 0);
        cameras[i].receive();
        const std::string path = dir + "/" + std::to_string(i) + ".xls";
        ASSERT_EQ(posfile_file_request_offset(managers[i], 5, path.c_str(), 520, 52), 0);
        cameras[i].receive();
    }
    testing::internal::CaptureStderr();
    for (int i = 0; i < 2; ++i) {
        const Bytes gap = q_frame(104);
        posfile_handle_frame(managers[i], gap.data(), static_cast<int>(gap.size()));
        EXPECT_EQ(cameras[i].receive(), request(0x2E, 5, 0, 520)) << "manager " << i;
    }
    testing::internal::GetCapturedStderr();
    for (int i = 0; i < 2; ++i) {
        posfile_manager_exit(managers[i]);
        rvtele_free(links[i]);
    }
    rvtele_module_exit();
    testing::internal::GetCapturedStdout();
    const std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(command.c_str()), 0);
}

} // namespace
