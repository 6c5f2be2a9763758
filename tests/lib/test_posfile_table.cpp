/* POS tables: header variants, cell formats, time forms and per-lens rows, byte for byte. */
#include "fixtures.h"
#include "pos_frames.h"
#include "posfile_internal.h"
#include "tavrin/tavrin.h"

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Time = std::array<uint8_t, 6>;

/* Seconds since 1970 and milliseconds in the record's epoch time form. */
Time epoch(uint32_t seconds, uint16_t milliseconds)
{
    return {static_cast<uint8_t>(seconds >> 24), static_cast<uint8_t>(seconds >> 16),
            static_cast<uint8_t>(seconds >> 8),  static_cast<uint8_t>(seconds),
            static_cast<uint8_t>(milliseconds),  static_cast<uint8_t>(milliseconds >> 8)};
}

void set_time(Record &r, const Time &time, uint8_t type)
{
    std::copy(time.begin(), time.end(), r.time);
    r.time_type = type;
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

    void open_lens_tables()
    {
        for (int i = 0; i < 5; ++i)
            lens[i] = fopen(path("lens" + std::to_string(i) + ".xls").c_str(), "wb");
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
            .offsets = {1800, -1, 2500, 0, -5}};
}

const char Q_CELLS[] = "-2 \t116.3000000 \t39.9000000 \t520.123 \t90.00 \t1.2 \t359.5 \t180.00 "
                       "\t21.0 \t2017-01-01 04-00-00 \t";

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
    set_time(r, epoch(1686711600, 1999), 2);
    EXPECT_EQ(table_of([&](FILE *s) { posfile_write_o_row(s, o_frame(r).data()); }),
              "7 \t-0.0000001 \t0.0000000 \t2147483.647 \t359.99 \t650.4 \t2.5 \t0.12 \t"
              "2023-06-14 11-00-01 \t \r\n");
}

TEST_F(PosTable, OffsetRowCarriesSpeedTimeAndOffsetsByLensMode)
{
    const Record r = sample_q();
    EXPECT_EQ(q_row(r, 0), std::string(Q_CELLS) + "1800 \t-1 \t2500 \t0 \t-5 \t \r\n");
    /* Modes other than 0 and 1 leave the offsets out. */
    EXPECT_EQ(q_row(r, 7), std::string(Q_CELLS) + " \r\n");
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
        {{}, 3, "2000-00-00 00-00-00"},   /* all six bytes 0 stay 0 */
        {{23}, 0, "2000-00-00 00-00-00"}, /* no time at all */
        /* Epoch form in local time (UTC+8); whole seconds of the milliseconds are added. */
        {epoch(1686711600, 999), 2, "2023-06-14 11-00-00"},
        {epoch(1686711600 + 59, 1000), 2, "2023-06-14 11-00-60"},
        {epoch(1483199999, 0), 2, "2016-12-31 23-59-59"},    /* 2016-12-31 15:59:59 UTC */
        {epoch(1686711600, 0), 0xFE, "2023-06-14 11-00-00"}, /* only flag bits 0 and 1 count */
    };
    for (const auto &c : cases) {
        Record r = sample_q();
        set_time(r, c.time, c.type);
        const std::string row = q_row(r, 7);
        const size_t end = row.rfind(" \t \r\n");
        const size_t start = row.rfind('\t', end - 1) + 1;
        EXPECT_EQ(row.substr(start, end - start), c.cell) << "time type " << int(c.type);
    }
}

TEST_F(PosTable, LensRowsFollowTheirOffsets)
{
    Record r = sample_q();
    std::copy_n(std::array{0, -5, 2000, 0, 0}.begin(), 5, r.offsets);
    open_lens_tables();
    fclose(lens[3]); /* a lens table that could not be opened is skipped */
    lens[3] = nullptr;
    q_row(r, 0); /* lens rows only in mode 1 */
    q_row(r, 7);
    EXPECT_EQ(q_row(r, 1), std::string(Q_CELLS) + "0 \t-5 \t2000 \t0 \t0 \t \r\n");

    const std::string unchanged = std::string(Q_CELLS) + " \r\n";
    EXPECT_EQ(lens_text(0), unchanged); /* Front */
    EXPECT_EQ(lens_text(1), "");        /* Right: not exposed */
    double lon = 116.3;
    double lat = 39.9;
    CalcNextPoint(116.3, 39.9, 2000 * 21 * 1e-6, 180.0, &lon, &lat);
    EXPECT_LT(lat, 39.9); /* moved south, along the track */
    std::string back = unchanged;
    back.replace(back.find("116.3000000 \t"), 25, moved(lon) + moved(lat));
    EXPECT_EQ(lens_text(2), back);
    EXPECT_EQ(slurp(path("lens3.xls")), "");
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
        std::array<uint8_t, 6> in, out;
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
    testing::internal::CaptureStdout();
    uint8_t y = 1;
    _utc2localtime(&y, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("_utc2localtime"), std::string::npos);
    EXPECT_EQ(y, 1);
}

} // namespace
