/*
 * POS transfer manager: requests on the wire, file entries, record frames, recovery of lost 'Q'
 * records, completion, and the lock between the receive thread and the caller. POS tables:
 * header variants, cell formats, time forms and per-lens rows, byte for byte.
 */
#include "fixtures.h"
#include "posfile_internal.h"
#include "tavrin/tavrin.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

namespace {

/* A request as the camera expects it. */
Bytes request(uint8_t sub, uint8_t argument, uint32_t start = 0, uint32_t size = 0)
{
    Bytes body = {sub, sub, argument, argument, 0, 0, 0, 0, 0, 0, 0, 0};
    put_be(body, 4, start, 4);
    put_be(body, 8, size, 4);
    return command('C', body);
}

/*
 * The 'P' frame of file `number`: from 0x10000 (second address 0x11223344) at 23-06-14
 * 03:00:00 to 240 records of 52 bytes later at 03:06:00, downloaded twice.
 */
Bytes p_frame(uint8_t number)
{
    return command('P',
                   {number, 0,    1,    0,    0,    0x11, 0x22, 0x33, 0x44, 23, 6, 14, 3, 0, 0,   0,
                    1,      0x30, 0xC0, 0x55, 0x66, 0x77, 0x88, 23,   6,    14, 3, 6,  0, 2, 0x5A});
}

Bytes o_record(int16_t id)
{
    return o_frame({.id = id, .lon = 1163000000, .lat = 399000000});
}

/* A 'Q' frame whose ID is its record number, so rows show which records were written. */
Bytes q_record(uint32_t offset, uint8_t length = 52)
{
    const auto id = static_cast<int16_t>(offset / (length ? length : 52));
    return q_frame({.id = id, .lon = 1163000000, .lat = 399000000, .speed = 20, .length = length},
                   offset);
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

    int feed(const Bytes &f) { return posfile_handle_frame(mgr, f.data(), int(f.size())); }
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
    ASSERT_TRUE(wait_until([&] { return posfile_load(mgr->valid_mask) != 0; }));
    EXPECT_EQ(posfile_load(mgr->valid_mask), 1u << 2);
    const posfile_entry_t want = {3,       0x10000,    0x11223344,           {23, 6, 14, 3, 0, 0},
                                  0x130C0, 0x55667788, {23, 6, 14, 3, 6, 0}, 2,
                                  0x5A};
    posfile_entry_t entry{};
    ASSERT_EQ(posfile_info_get(mgr, 3, &entry), 0);
    EXPECT_EQ(std::memcmp(&entry, &want, sizeof want), 0);

    for (int refused : {posfile_info_get(mgr, 4, &entry), posfile_info_get(mgr, 3, nullptr),
                        posfile_info_get(mgr, 15, &entry), posfile_info_get(nullptr, 3, &entry),
                        posfile_info_clear(mgr, 15)})
        EXPECT_EQ(refused, -1);

    /* Numbers outside 1 to 14 enter nothing; entries are forgotten up to 14, or all with 0. */
    for (uint8_t number : {0, 14, 15, 200})
        EXPECT_EQ(feed(p_frame(number)), 0);
    EXPECT_EQ(posfile_info_clear(mgr, 14), 0);
    EXPECT_EQ(posfile_load(mgr->valid_mask), 1u << 2);
    EXPECT_EQ(posfile_info_clear(mgr, 0), 0);
    EXPECT_EQ(posfile_load(mgr->valid_mask), 0u);
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
}

TEST_F(PosManager, LostOffsetRecordsAreRequestedOnceFromTheLastGoodOffset)
{
    start_offset_download(4, 10 * 52);
    feed_q({0, 52, 156});
    EXPECT_EQ(received(), 104u);
    EXPECT_EQ(camera.receive(), request(0x2E, 4, 104, 520));
    EXPECT_TRUE(contains(printed(), "收到offset:156,currentOFrmTotalSize:104\n"));

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
    /* Taken, the caller wants the next file: the marker repeated ends nothing more. */
    posfile_store(mgr->transfer_state, POSFILE_WANT_NEXT);
    ASSERT_EQ(feed(p_frame(255)), 0);
    EXPECT_EQ(state(), POSFILE_WANT_NEXT);

    /* Records between the markers, their first lost each time: the camera is asked again. */
    start_offset_download(3, 3 * 52);
    feed_q({0});
    for (int marker = 0; marker < 4; ++marker) {
        feed_q({104});
        EXPECT_EQ(camera.receive(), request(0x2E, 3, 52, 156));
        ASSERT_EQ(feed(p_frame(255)), 0);
        EXPECT_EQ(camera.receive(), request(0x2E, 3, 52, 156));
    }
    feed_q({52, 104});
    ASSERT_EQ(feed(p_frame(255)), 0);
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1, 2}));

    /* A camera that keeps ending without more records is believed in the end. */
    start_offset_download(3, 3 * 52);
    feed_q({0});
    for (int marker = 0; marker < POSFILE_EARLY_END_LIMIT; ++marker) {
        ASSERT_EQ(feed(p_frame(255)), 0);
        EXPECT_EQ(camera.receive(), request(0x2E, 3, 52, 156));
        EXPECT_EQ(state(), POSFILE_REQUESTED);
    }
    ASSERT_EQ(feed(p_frame(255)), 0);
    EXPECT_TRUE(contains(printed(), "ended by the camera at 52 of 156"));
    EXPECT_EQ(state(), POSFILE_FINISHED);
    EXPECT_EQ(posfile_load(mgr->main_table), nullptr);
    EXPECT_EQ(received(), 52u);
}

TEST_F(PosManager, SilentOffsetDownloadIsAskedAgainByThePolling)
{
    posfile_set_stall_interval(mgr, 0);
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
    EXPECT_EQ(row_ids(table), (std::vector<int>{0, 1}));
    EXPECT_TRUE(slurp(table).ends_with("\t2000-00-00 00-00-00 \t \r\n")) << slurp(table);
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
    EXPECT_TRUE(contains(messages, "'Q' frame of 36 bytes"));
    EXPECT_TRUE(contains(messages, "record of 0 bytes"));
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
    EXPECT_TRUE(contains(printed(), "cannot create"));
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
    posfile_manager_t *other = posfile_manager_init(link);
    ASSERT_EQ(posfile_file_request_offset(other, 5, path("2.xls").c_str(), 520, 52), 0);
    camera.receive();
    start_offset_download(5, 520);
    feed(q_record(104));
    posfile_handle_frame(other, q_record(104).data(), 61);
    EXPECT_EQ(camera.receive(), request(0x2E, 5, 0, 520));
    EXPECT_EQ(camera.receive(), request(0x2E, 5, 0, 520)) << "the other manager asked nothing";
    posfile_manager_exit(other);
}

using Time = std::array<uint8_t, 6>;

/* Seconds since 1970 and milliseconds in the record's epoch time form. */
Time epoch(uint32_t seconds, uint16_t milliseconds)
{
    return {static_cast<uint8_t>(seconds >> 24), static_cast<uint8_t>(seconds >> 16),
            static_cast<uint8_t>(seconds >> 8),  static_cast<uint8_t>(seconds),
            static_cast<uint8_t>(milliseconds),  static_cast<uint8_t>(milliseconds >> 8)};
}

std::string moved(double value)
{
    char text[64];
    snprintf(text, sizeof text, "%.7lf \t", value);
    return text;
}

/* Tables in a fresh directory; TZ fixed so that the epoch form is reproducible. */
class PosTable : public ScratchTest {
protected:
    void SetUp() override
    {
        setenv("TZ", "CST-8", 1);
        tzset();
        ScratchTest::SetUp();
    }
    void TearDown() override
    {
        for (FILE *stream : lens)
            if (stream)
                fclose(stream);
        ScratchTest::TearDown();
    }

    /* Write rows with `write` into a fresh table and return its text. */
    template <typename Write> std::string table_of(Write write)
    {
        const std::string file = path("t.xls");
        FILE *stream = fopen(file.c_str(), "wb");
        write(stream);
        fclose(stream);
        return slurp(file);
    }

    std::string q_row(const Record &r, uint32_t lens_mode = 0)
    {
        return table_of(
            [&](FILE *s) { posfile_write_q_row(s, lens, lens_mode, q_frame(r).data()); });
    }

    std::string lens_text(int i)
    {
        fclose(lens[i]);
        lens[i] = nullptr;
        return slurp(path("lens" + std::to_string(i) + ".xls"));
    }

    FILE *lens[5] = {};
};

Record sample_q()
{
    return {.id = -2,
            .pitch = 123,
            .roll = 35950,
            .heading = 9000,
            .lon = 1163000000,
            .lat = 399000000,
            .alt = 520123,
            .speed = 21,
            .psi = 18000,
            .time = {16, 12, 31, 20, 0, 0},
            .time_type = 1,
            .offsets = {0, -5, 2000, 0, 0}};
}

/* The cells of the sample's row before its time, and with its time. */
const std::string Q_HEAD =
    "-2 \t116.3000000 \t39.9000000 \t520.123 \t90.00 \t1.2 \t359.5 \t180.00 \t21.0 \t";
const std::string Q_CELLS = Q_HEAD + "2017-01-01 04-00-00 \t";

TEST_F(PosTable, HeaderVariants)
{
    const std::string cells = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\t";
    const std::string single = cells + "Speed\tTime\t \r\n";
    EXPECT_EQ(table_of(_ofrm_initexcelhead), cells + "Time\t \r\n");
    EXPECT_EQ(table_of(_ofrm_initexcelheadoffsetsingle), single);
    EXPECT_EQ(table_of([](FILE *s) { _ofrm_initexcelhead_offset(s, 32); }), single);
    EXPECT_EQ(table_of([](FILE *s) { _ofrm_initexcelhead_offset(s, 52); }),
              cells + "Speed\tTime\toffset1\toffset2\toffset3\toffset4\toffset5\t \r\n");
    for (int size : {0, -52})
        EXPECT_EQ(table_of([&](FILE *s) { _ofrm_initexcelhead_offset(s, size); }), "");
    /* No stream: nothing to write, nothing to crash. */
    _ofrm_initexcelhead(nullptr);
    _ofrm_initexcelhead_offset(nullptr, 52);
    _ofrm_initexcelheadoffsetsingle(nullptr);
}

TEST_F(PosTable, PlainRowDecodesUnsignedAnglesSignedPositionsAndPsiIn128ths)
{
    /* Pitch 0xFE0C read unsigned: 650.36; longitude 115.9501272; psi -1.0078125. */
    Record r{.id = 7,
             .pitch = 0xFE0C,
             .roll = 250,
             .heading = 35999,
             .lon = 0x451C95D8,
             .lat = -339876543,
             .alt = -1234,
             .psi_o = -129};
    EXPECT_EQ(table_of([&](FILE *s) { posfile_write_o_row(s, o_frame(r).data()); }),
              "7 \t115.9501272 \t-33.9876543 \t-1.234 \t359.99 \t650.4 \t2.5 \t-1.01 \t \t \r\n");

    r.psi_o = 16; /* 0.125: printf rounds the exact half to even */
    r.lon = -1, r.lat = 0, r.alt = 2147483647;
    r.time = epoch(1686711600, 1999), r.time_type = 2;
    EXPECT_EQ(table_of([&](FILE *s) { posfile_write_o_row(s, o_frame(r).data()); }),
              "7 \t-0.0000001 \t0.0000000 \t2147483.647 \t359.99 \t650.4 \t2.5 \t0.12 \t"
              "2023-06-14 11-00-01 \t \r\n");
}

TEST_F(PosTable, TimeForms)
{
    const struct {
        Time time;
        uint8_t type;
        const char *cell;
    } cases[] = {
        /* Calendar form, types 1 and 3: eight hours later, carried into the next year. */
        {{16, 12, 31, 20, 0, 0}, 1, "2017-01-01 04-00-00"},
        {{16, 12, 31, 20, 0, 0}, 3, "2017-01-01 04-00-00"},
        {{23}, 0, "2000-00-00 00-00-00"}, /* no time at all */
        /* Epoch form in local time (UTC+8); whole seconds of the milliseconds are added. */
        {epoch(1686711600, 999), 2, "2023-06-14 11-00-00"},
        {epoch(1686711600 + 59, 1000), 2, "2023-06-14 11-00-60"},
        {epoch(1483199999, 0), 2, "2016-12-31 23-59-59"},    /* 2016-12-31 15:59:59 UTC */
        {epoch(1686711600, 0), 0xFE, "2023-06-14 11-00-00"}, /* only flag bits 0 and 1 count */
    };
    for (const auto &c : cases) {
        Record r = sample_q();
        r.time = c.time, r.time_type = c.type;
        EXPECT_EQ(q_row(r, 7), Q_HEAD + c.cell + " \t \r\n") << "time type " << int(c.type);
    }
}

TEST_F(PosTable, OffsetRowCarriesItsOffsetsInModes0And1AndLensRowsFollowThemInMode1)
{
    Record r = sample_q();
    for (int i = 0; i < 5; ++i) /* a lens table that could not be opened (3) is skipped */
        lens[i] = i == 3 ? nullptr : fopen(path("lens" + std::to_string(i) + ".xls").c_str(), "wb");
    const std::string with_offsets = Q_CELLS + "0 \t-5 \t2000 \t0 \t0 \t \r\n";
    const std::string unchanged = Q_CELLS + " \r\n";
    EXPECT_EQ(q_row(r, 0), with_offsets); /* lens rows only in mode 1 */
    EXPECT_EQ(q_row(r, 7), unchanged);    /* other modes leave the offsets out */
    EXPECT_EQ(q_row(r, 1), with_offsets);

    EXPECT_EQ(lens_text(0), unchanged); /* Front */
    EXPECT_EQ(lens_text(1), "");        /* Right: not exposed */
    double lon = 0, lat = 0;
    CalcNextPoint(116.3, 39.9, 2000 * 21 * 1e-6, 180.0, &lon, &lat);
    EXPECT_LT(lat, 39.9); /* moved south, along the track */
    std::string back = unchanged;
    back.replace(back.find("116.3000000 \t"), 25, moved(lon) + moved(lat));
    EXPECT_EQ(lens_text(2), back);
    EXPECT_EQ(lens_text(4), unchanged); /* Center */

    /* A longitude of exactly 0 stays a whole 0; the latitude still moves. */
    r.lon = 0;
    lens[2] = fopen(path("lens2.xls").c_str(), "wb");
    q_row(r, 1);
    CalcNextPoint(0, 39.9, 2000 * 21 * 1e-6, 180.0, &lon, &lat);
    const std::string start = "-2 \t0 \t" + moved(lat);
    EXPECT_EQ(lens_text(2).substr(0, start.size()), start);
}

TEST(PosConversions, ByteOrder)
{
    EXPECT_EQ(static_cast<uint32_t>(__posfile_big2littlel(0x11223344u)), 0x44332211u);
    EXPECT_EQ(__posfile_big2littleul(0x11223344u), __posfile_big2littlel(0x11223344u));
    EXPECT_EQ(__posfile_big2littlel(0x000000FFu), static_cast<int32_t>(0xFF000000u));
    EXPECT_EQ(static_cast<uint16_t>(_posfile_big2littles(0x1234u)), 0x3412u);
    EXPECT_EQ(_posfile_big2littles(0x0080u), -32768);
    EXPECT_EQ(_posfile_big2littleus(0xABCD1234u), _posfile_big2littles(0x1234u));
}

TEST(PosConversions, UtcToLocalShiftsEightHoursWithFullCarry)
{
    struct Case {
        Time in, out;
    };
    const Case cases[] = {
        {{16, 12, 31, 20, 0, 0}, {17, 1, 1, 4, 0, 0}},   /* into the next year */
        {{20, 2, 28, 16, 30, 5}, {20, 2, 29, 0, 30, 5}}, /* leap day */
        {{19, 2, 28, 16, 0, 0}, {19, 3, 1, 0, 0, 0}},
        {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}}, /* no time: unchanged */
        {{23, 6, 14, 3, 59, 59}, {23, 6, 14, 11, 59, 59}},
        {{16, 13, 1, 0, 0, 0}, {17, 1, 1, 8, 0, 0}}, /* month 13 carries like a calendar */
    };
    for (const Case &c : cases) {
        auto t = c.in;
        _utc2localtime(&t[0], &t[1], &t[2], &t[3], &t[4], &t[5]);
        EXPECT_EQ(t, c.out) << int(c.in[0]) << "-" << int(c.in[1]) << "-" << int(c.in[2]);
    }
    uint8_t y = 1;
    EXPECT_TRUE(contains(
        stdout_of([&] { _utc2localtime(&y, nullptr, nullptr, nullptr, nullptr, nullptr); }),
        "_utc2localtime"));
    EXPECT_EQ(y, 1);
}

} // namespace
