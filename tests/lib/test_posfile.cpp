/*
 * POS transfer manager: requests on the wire, file entries, record frames,
 * recovery of lost 'Q' records, completion, and the lock between the receive
 * thread and the caller. A UDP socket stands in for the camera.
 */
#include "fixtures.h"
#include "pos_frames.h"
#include "posfile_internal.h"
#include "tavrin/tavrin.h"

#include <atomic>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

/* A request as the camera expects it. */
Bytes request(uint8_t sub, uint8_t argument, uint32_t start = 0, uint32_t size = 0)
{
    Bytes body = {sub, sub, argument, argument, 0, 0, 0, 0, 0, 0, 0, 0};
    put_be(body, 4, start, 4);
    put_be(body, 8, size, 4);
    return pos_frame(36, 'C', body);
}

/*
 * The 'P' frame of file `number`: from 0x10000 (second address 0x11223344) at
 * 23-06-14 03:00:00 to 240 records of 52 bytes later at 03:06:00, downloaded twice.
 */
Bytes p_frame(uint8_t number)
{
    return pos_frame(36, 'P', {number, 0,  1, 0,  0, 0x11, 0x22, 0x33, 0x44, 23,   6,
                               14,     3,  0, 0,  0, 1,    0x30, 0xC0, 0x55, 0x66, 0x77,
                               0x88,   23, 6, 14, 3, 6,    0,    2,    0x5A});
}

Bytes o_record(int16_t id)
{
    Record r;
    r.id = id, r.lon = 1163000000, r.lat = 399000000;
    return o_frame(r);
}

/* A 'Q' frame whose ID is its record number, so rows show which records were written. */
Bytes q_record(uint32_t offset, uint8_t length = 52)
{
    Record r;
    r.id = static_cast<int16_t>(offset / (length ? length : 52));
    r.lon = 1163000000, r.lat = 399000000, r.speed = 20, r.length = length;
    return q_frame(r, offset);
}

/* The first cell of every data row of a table. */
std::vector<int> row_ids(const std::string &path)
{
    std::istringstream lines(slurp(path));
    std::string line;
    std::getline(lines, line); /* header */
    std::vector<int> ids;
    while (std::getline(lines, line))
        ids.push_back(std::stoi(line));
    return ids;
}

class PosManager : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        table = path("pos.xls");
        mgr = posfile_manager_init(link);
        ASSERT_NE(mgr, nullptr);
        start_link();
    }
    void TearDown() override
    {
        posfile_manager_exit(mgr);
        LinkTest::TearDown();
    }

    int feed(const Bytes &f, posfile_manager_t *to = nullptr)
    {
        return posfile_handle_frame(to ? to : mgr, f.data(), static_cast<int>(f.size()));
    }
    void feed_q(std::initializer_list<uint32_t> offsets, uint8_t length = 52)
    {
        for (uint32_t offset : offsets)
            ASSERT_EQ(feed(q_record(offset, length)), 0) << offset;
    }
    /* The call succeeded and `frame` is the next datagram to reach the camera. */
    void sends(int result, const Bytes &frame)
    {
        ASSERT_EQ(result, 0);
        EXPECT_EQ(camera.receive(), frame);
    }
    /* After `polls` polls, nothing was sent since the last receive. */
    void nothing_sent(int polls = 0)
    {
        while (polls-- > 0)
            posfile_process(mgr);
        sends(posfile_info_request(mgr, 1), request(0x26, 1));
    }
    void start_offset_download(uint8_t file, uint32_t expected, int record_size = 52)
    {
        sends(posfile_file_request_offset(mgr, file, table.c_str(), expected, record_size),
              request(0x2E, file, 0, expected));
    }
    uint32_t received() { return posfile_load(mgr->bytes_received); }
    uint8_t state() { return posfile_load(mgr->transfer_state); }
    void close_table() { ASSERT_EQ(_ofrm_closefile(mgr), 0); }

    posfile_manager_t *mgr = nullptr;
    std::string table;
};

TEST_F(PosManager, RequestsAreExactCommandFrames)
{
    Bytes info = {0xEB, 0x90, 0x24, 0x43, 0x26, 0x26, 0x03, 0x03};
    info.resize(35);
    info.push_back(0xCC);
    sends(posfile_info_request(mgr, 3), info);
    const char *t = table.c_str();
    sends(posfile_file_request(mgr, 5, t), request(0x27, 5));
    EXPECT_EQ(state(), POSFILE_REQUESTED);
    sends(posfile_file_request_offset(mgr, 6, t, 0x01020A28u, 52),
          request(0x2E, 6, 0, 0x01020A28u));
    sends(posfile_file_success(mgr, 6), request(0x2F, 6));
    sends(posfile_file_remove(mgr, 9), request(0x29, 9));
    sends(posfile_file_remove_all(mgr), request(0x2A, 0));
    sends(posfile_file_cancelRequest(mgr), request(0x28, 0));

    /* Numbers outside 1 to 14, and a missing manager, are refused before anything is sent. */
    for (int refused :
         {posfile_info_request(mgr, 0), posfile_info_request(mgr, 15), posfile_file_remove(mgr, 0),
          posfile_file_remove(mgr, 15), posfile_info_request(nullptr, 3),
          posfile_file_request(nullptr, 3, t), posfile_file_request_offset(nullptr, 3, t, 52, 52),
          posfile_file_cancelRequest(nullptr), posfile_file_success(nullptr, 3),
          posfile_file_remove_all(nullptr)})
        EXPECT_EQ(refused, -1);
    EXPECT_EQ(posfile_process(nullptr), 0u);
    sends(posfile_info_request(mgr, 14), request(0x26, 14));
}

TEST_F(PosManager, EntryFramesFromTheLinkFillTheTableAndTheValidMask)
{
    camera.send(p_frame(3));
    for (int i = 0; i < 400 && !posfile_load(mgr->valid_mask); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(posfile_load(mgr->valid_mask), 1u << 2);
    const posfile_entry_t want = {3,       0x10000,    0x11223344,           {23, 6, 14, 3, 0, 0},
                                  0x130C0, 0x55667788, {23, 6, 14, 3, 6, 0}, 2,
                                  0x5A};
    posfile_entry_t entry{};
    ASSERT_EQ(posfile_info_get(mgr, 3, &entry), 0);
    EXPECT_EQ(std::memcmp(&entry, &want, sizeof want), 0);

    for (int refused : {posfile_info_get(mgr, 4, &entry), posfile_info_get(mgr, 3, nullptr),
                        posfile_info_get(mgr, 15, &entry), posfile_info_get(nullptr, 3, &entry)})
        EXPECT_EQ(refused, -1);
    for (uint8_t number : {0, 15, 200})
        EXPECT_EQ(feed(p_frame(number)), 0);
    EXPECT_EQ(posfile_load(mgr->valid_mask), 1u << 2);
}

TEST_F(PosManager, PlainRecordsCount32BytesEachUntilTheEndMarkerClosesTheTable)
{
    EXPECT_EQ(feed(o_record(1)), -1); /* no table yet */
    EXPECT_EQ(posfile_load(mgr->record_counter), 0u);
    sends(posfile_file_request(mgr, 2, table.c_str()), request(0x27, 2));
    for (int16_t id = 1; id <= 3; ++id)
        ASSERT_EQ(feed(o_record(id)), 0);
    EXPECT_EQ(posfile_process(mgr), 96u);
    EXPECT_EQ(posfile_load(mgr->record_counter), 3u);
    EXPECT_EQ(posfile_load(mgr->activity), 1u);

    /* The end marker counts only when the caller has set its flag. */
    EXPECT_EQ(feed(p_frame(255)), 0);
    EXPECT_EQ(state(), POSFILE_REQUESTED);
    EXPECT_NE(posfile_load(mgr->main_table), nullptr);
    posfile_store(mgr->end_marker_flag, 1);
    EXPECT_EQ(feed(p_frame(255)), 0);
    EXPECT_EQ(state(), POSFILE_FINISHED);
    EXPECT_EQ(posfile_load(mgr->main_table), nullptr);
    EXPECT_EQ(row_ids(table), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(feed(o_record(4)), -1);
    EXPECT_EQ(_ofrm_closefile(mgr), -1);
}

TEST_F(PosManager, LostOffsetRecordsAreRequestedOnceFromTheLastGoodOffset)
{
    posfile_store(mgr->current_file, 4);
    start_offset_download(4, 10 * 52);
    feed_q({0, 52, 156});
    EXPECT_EQ(received(), 104u);
    EXPECT_EQ(camera.receive(), request(0x2E, 4, 104, 520));
    EXPECT_NE(printed().find("收到offset:156,currentOFrmTotalSize:104\n"), std::string::npos);

    /* Further mismatches before a record is accepted send nothing more. */
    feed_q({208});
    nothing_sent();
    feed_q({104, 156, 208});
    EXPECT_EQ(received(), 260u);
    EXPECT_EQ(posfile_load(mgr->record_counter), 7u);

    /* A repeated record is a mismatch too: the camera is asked to go on from here. */
    feed_q({104});
    EXPECT_EQ(camera.receive(), request(0x2E, 4, 260, 520));
    close_table();
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1, 2, 3, 4}));

    /* A restart whose first record is lost is asked for again. */
    posfile_store(mgr->current_file, 2);
    start_offset_download(2, 10 * 52);
    feed_q({0, 104}); /* 52 lost */
    EXPECT_EQ(camera.receive(), request(0x2E, 2, 52, 520));
    feed_q({156, 104}); /* the old stream, then the camera went back, but 52 was lost again */
    EXPECT_EQ(camera.receive(), request(0x2E, 2, 52, 520));
    feed_q({156, 52, 104, 156});
    nothing_sent();
    close_table();
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(PosManager, EarlyEndMarkerAsksForTheRestInsteadOfClosingAShortTable)
{
    posfile_store(mgr->current_file, 3);
    posfile_store(mgr->end_marker_flag, 1);
    start_offset_download(3, 3 * 52);
    feed_q({0, 52});
    ASSERT_EQ(feed(p_frame(255)), 0); /* the last record was lost */
    EXPECT_EQ(camera.receive(), request(0x2E, 3, 104, 156));
    EXPECT_EQ(state(), POSFILE_REQUESTED);
    feed_q({104});
    ASSERT_EQ(feed(p_frame(255)), 0);
    EXPECT_EQ(state(), POSFILE_FINISHED);
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1, 2}));

    /* A camera that keeps ending without more records is believed at the fourth marker. */
    start_offset_download(3, 3 * 52);
    feed_q({0});
    for (int marker = 0; marker < 3; ++marker) {
        ASSERT_EQ(feed(p_frame(255)), 0);
        EXPECT_EQ(camera.receive(), request(0x2E, 3, 52, 156));
        EXPECT_EQ(state(), POSFILE_REQUESTED);
    }
    ASSERT_EQ(feed(p_frame(255)), 0);
    EXPECT_NE(printed().find("ended by the camera at 52 of 156"), std::string::npos);
    EXPECT_EQ(state(), POSFILE_FINISHED);
    EXPECT_EQ(posfile_load(mgr->main_table), nullptr);
    EXPECT_EQ(received(), 52u);
}

TEST_F(PosManager, SilentOffsetDownloadIsAskedAgainByThePolling)
{
    posfile_set_stall_interval(mgr, 0);
    posfile_store(mgr->current_file, 7);
    start_offset_download(7, 3 * 52);
    feed_q({0});
    EXPECT_EQ(posfile_process(mgr), 52u); /* news since the last poll: nothing to do */
    nothing_sent();
    EXPECT_EQ(posfile_process(mgr), 52u);
    EXPECT_EQ(camera.receive(), request(0x2E, 7, 52, 156));
    feed_q({52, 104});

    /* Complete and acknowledged, but the end marker was lost: acknowledge again. */
    sends(posfile_file_success(mgr, 7), request(0x2F, 7));
    posfile_store(mgr->end_marker_flag, 1);
    posfile_process(mgr);
    posfile_process(mgr);
    EXPECT_EQ(camera.receive(), request(0x2F, 7));
    ASSERT_EQ(feed(p_frame(255)), 0);
    nothing_sent(2);

    /* A cancelled download is not revived, by the polling or by a gap. */
    start_offset_download(7, 3 * 52);
    sends(posfile_file_cancelRequest(mgr), request(0x28, 0));
    feed_q({52});
    nothing_sent(2);

    /* Plain downloads carry no offsets: the polling never asks again. */
    sends(posfile_file_request(mgr, 1, table.c_str()), request(0x27, 1));
    nothing_sent(2);
}

TEST_F(PosManager, ShortRecordInAnOffsetFrameEndsItsRowAndCounts32Bytes)
{
    start_offset_download(1, 64, 32);
    feed_q({0, 32}, 32);
    EXPECT_EQ(received(), 64u);
    close_table();
    const std::string text = slurp(table);
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1}));
    EXPECT_EQ(text.substr(text.size() - 3), " \r\n");
}

TEST_F(PosManager, MalformedFramesAreRefusedWithAMessage)
{
    start_offset_download(1, 520);
    Bytes truncated = q_record(0), long_o = o_record(1), other = o_record(1);
    truncated.resize(36);
    long_o.resize(61);
    other[3] = 'C';
    EXPECT_EQ(feed(truncated), -1);
    EXPECT_EQ(feed(long_o), -1);
    EXPECT_EQ(posfile_load(mgr->record_counter), 0u);
    feed_q({0}, 0); /* record length 0 would never advance */
    EXPECT_EQ(received(), 0u);
    EXPECT_EQ(posfile_handle_frame(mgr, nullptr, 61), -1);
    EXPECT_EQ(feed(other), -1);
    const std::string messages = printed();
    EXPECT_NE(messages.find("'Q' frame of 36 bytes"), std::string::npos);
    EXPECT_NE(messages.find("record of 0 bytes"), std::string::npos);
    close_table();
    EXPECT_TRUE(row_ids(table).empty());
}

TEST_F(PosManager, TablesOpenAndCloseCleanly)
{
    const std::string missing = path("no/such/dir/pos.xls");
    EXPECT_EQ(posfile_file_request_offset(mgr, 1, missing.c_str(), 52, 52), -1);
    EXPECT_EQ(posfile_ofrm_openfile(mgr, nullptr), -1);
    EXPECT_EQ(posfile_ofrm_openfile(nullptr, table.c_str()), -1);
    EXPECT_EQ(_ofrm_closefile(nullptr), -1);
    EXPECT_NE(printed().find("cannot create"), std::string::npos);
    EXPECT_EQ(posfile_load(mgr->main_table), nullptr);
    EXPECT_EQ(_ofrm_closefile(mgr), -1);
    nothing_sent();

    /* A table left open by an earlier download is closed, rows kept, when the next opens. */
    start_offset_download(1, 520);
    feed_q({0});
    const std::string second = path("second.xls");
    ASSERT_EQ(posfile_ofrm_openfile(mgr, second.c_str()), 0);
    EXPECT_EQ(row_ids(table), std::vector<int>{0});
    EXPECT_EQ(received(), 0u);
    ASSERT_EQ(feed(o_record(9)), 0);

    /* Exit closes a table still open and keeps its rows. */
    posfile_manager_exit(mgr);
    posfile_manager_exit(nullptr);
    mgr = nullptr;
    EXPECT_EQ(row_ids(second), std::vector<int>{9});
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
            if (feed(q_record(i * 52)) != 0) {
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
        ASSERT_EQ(ids[i], static_cast<int16_t>(i));
    EXPECT_EQ(posfile_load(mgr->valid_mask), 0x3FFFu);
}

TEST_F(PosManager, EachManagerKeepsItsOwnReRequestState)
{
    LoopbackPeer other_camera;
    rvtele_t *other_link =
        rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", other_camera.port, TAVRIN_RING_CAPACITY);
    posfile_manager_t *other = posfile_manager_init(other_link);
    ASSERT_EQ(rvtele_start(other_link), 0);
    other_camera.receive();
    ASSERT_EQ(posfile_file_request_offset(other, 5, path("2.xls").c_str(), 520, 52), 0);
    other_camera.receive();
    start_offset_download(5, 520);
    feed(q_record(104));
    feed(q_record(104), other);
    EXPECT_EQ(camera.receive(), request(0x2E, 5, 0, 520));
    EXPECT_EQ(other_camera.receive(), request(0x2E, 5, 0, 520));
    posfile_manager_exit(other);
    rvtele_free(other_link);
}

} // namespace
