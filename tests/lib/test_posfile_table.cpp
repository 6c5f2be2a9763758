/* POS tables: header variants, cell formats, time forms and per-lens rows, byte for byte. */
#include "posfile_internal.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

/* A record as the camera stores it, before encoding into a frame. */
struct Record {
    int16_t id = 1;
    uint16_t pitch = 0;
    uint16_t roll = 0;
    uint16_t heading = 0;
    int32_t lon = 0;
    int32_t lat = 0;
    int32_t alt = 0;
    int16_t speed = 0;
    uint16_t psi = 0;     /* 'Q': hundredths of a degree */
    int32_t psi_o = 0;    /* 'O': 1/128 degree */
    uint8_t time[6] = {}; /* calendar fields, or seconds (big-endian) and milliseconds (little) */
    uint8_t time_type = 0;
    int32_t offsets[5] = {};
    uint8_t length = 52;
};

void be16(std::vector<uint8_t> &f, int at, uint32_t v)
{
    f[at] = static_cast<uint8_t>(v >> 8);
    f[at + 1] = static_cast<uint8_t>(v);
}

void be32(std::vector<uint8_t> &f, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        f[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

std::vector<uint8_t> o_frame(const Record &r)
{
    std::vector<uint8_t> f(36, 0);
    f[0] = 0xEB, f[1] = 0x90, f[2] = 36, f[3] = 'O';
    be16(f, 4, static_cast<uint16_t>(r.id));
    be16(f, 6, r.pitch);
    be16(f, 8, r.roll);
    be16(f, 10, r.heading);
    be32(f, 12, static_cast<uint32_t>(r.lon));
    be32(f, 16, static_cast<uint32_t>(r.lat));
    be32(f, 20, static_cast<uint32_t>(r.alt));
    be32(f, 24, static_cast<uint32_t>(r.psi_o));
    std::copy(r.time, r.time + 6, f.begin() + 28);
    f[34] = r.time_type;
    return f;
}

std::vector<uint8_t> q_frame(const Record &r, uint32_t offset = 0)
{
    std::vector<uint8_t> f(61, 0);
    f[0] = 0xEB, f[1] = 0x90, f[2] = 61, f[3] = 'Q';
    be32(f, 4, offset);
    f[8] = r.length;
    be16(f, 9, static_cast<uint16_t>(r.id));
    be16(f, 11, r.pitch);
    be16(f, 13, r.roll);
    be16(f, 15, r.heading);
    be32(f, 17, static_cast<uint32_t>(r.lon));
    be32(f, 21, static_cast<uint32_t>(r.lat));
    be32(f, 25, static_cast<uint32_t>(r.alt));
    be16(f, 29, static_cast<uint16_t>(r.speed));
    be16(f, 31, r.psi);
    std::copy(r.time, r.time + 6, f.begin() + 33);
    f[39] = r.time_type;
    for (int i = 0; i < 5; ++i)
        be32(f, 40 + 4 * i, static_cast<uint32_t>(r.offsets[i]));
    return f;
}

/* Seconds since 1970 and milliseconds in the record's epoch time form. */
void set_epoch(Record &r, uint32_t seconds, uint16_t milliseconds)
{
    for (int i = 0; i < 4; ++i)
        r.time[i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
    r.time[4] = static_cast<uint8_t>(milliseconds);
    r.time[5] = static_cast<uint8_t>(milliseconds >> 8);
    r.time_type = 2;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string moved(double value)
{
    char text[64];
    snprintf(text, sizeof text, "%.7lf \t", value);
    return text;
}

/* Tables in a fresh directory; TZ fixed so that the epoch form is reproducible. */
class PosTable : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "CST-8", 1);
        tzset();
        char pattern[] = "/tmp/pos_table_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        for (FILE *&stream : lens)
            if (stream)
                fclose(stream);
        std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string path(const std::string &name) const { return dir + "/" + name; }

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

    std::string dir;
    FILE *lens[5] = {};
};

Record sample_q()
{
    Record r;
    r.id = -2;
    r.pitch = 123;
    r.roll = 35950;
    r.heading = 9000;
    r.lon = 1163000000;
    r.lat = 399000000;
    r.alt = 520123;
    r.speed = 21;
    r.psi = 18000;
    const uint8_t calendar[6] = {16, 12, 31, 20, 0, 0};
    std::copy(calendar, calendar + 6, r.time);
    r.time_type = 1;
    const int32_t offsets[5] = {1800, -1, 2500, 0, -5};
    std::copy(offsets, offsets + 5, r.offsets);
    return r;
}

const char Q_CELLS[] = "-2 \t116.3000000 \t39.9000000 \t520.123 \t90.00 \t1.2 \t359.5 \t180.00 "
                       "\t21.0 \t2017-01-01 04-00-00 \t";

TEST_F(PosTable, HeaderVariants)
{
    EXPECT_EQ(table_of(_ofrm_initexcelhead),
              "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tTime\t \r\n");
    EXPECT_EQ(table_of(_ofrm_initexcelheadoffsetsingle),
              "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \r\n");
    EXPECT_EQ(table_of([](FILE *s) { _ofrm_initexcelhead_offset(s, 32); }),
              "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \r\n");
    EXPECT_EQ(table_of([](FILE *s) { _ofrm_initexcelhead_offset(s, 52); }),
              "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\toffset1\toffset2\t"
              "offset3\toffset4\toffset5\t \r\n");
    EXPECT_EQ(table_of([](FILE *s) { _ofrm_initexcelhead_offset(s, 0); }), "");
    EXPECT_EQ(table_of([](FILE *s) { _ofrm_initexcelhead_offset(s, -52); }), "");
    /* No stream: nothing to write, nothing to crash. */
    _ofrm_initexcelhead(nullptr);
    _ofrm_initexcelhead_offset(nullptr, 52);
    _ofrm_initexcelheadoffsetsingle(nullptr);
}

TEST_F(PosTable, PlainRowDecodesUnsignedAnglesSignedPositionsAndPsiIn128ths)
{
    Record r;
    r.id = 7;
    r.pitch = 0xFE0C; /* read unsigned: 650.36 */
    r.roll = 250;
    r.heading = 35999;
    r.lon = 0x451C95D8; /* 115.9501272 */
    r.lat = -339876543;
    r.alt = -1234;
    r.psi_o = -129; /* -1.0078125 */
    EXPECT_EQ(table_of([&](FILE *s) { posfile_write_o_row(s, o_frame(r).data()); }),
              "7 \t115.9501272 \t-33.9876543 \t-1.234 \t359.99 \t650.4 \t2.5 \t-1.01 \t \t \r\n");

    r.psi_o = 16; /* 0.125: printf rounds the exact half to even */
    r.lon = -1;
    r.lat = 0;
    r.alt = 2147483647;
    set_epoch(r, 1686711600, 1999);
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
    Record r = sample_q();
    auto time_cell = [&](const Record &rec) {
        const std::string row = q_row(rec, 7);
        const size_t end = row.rfind(" \t \r\n");
        const size_t start = row.rfind('\t', end - 1) + 1;
        return row.substr(start, end - start);
    };
    /* Calendar form, types 1 and 3: eight hours later, carried into the next year. */
    EXPECT_EQ(time_cell(r), "2017-01-01 04-00-00");
    r.time_type = 3;
    EXPECT_EQ(time_cell(r), "2017-01-01 04-00-00");
    /* All six bytes 0 stay 0. */
    std::fill(r.time, r.time + 6, 0);
    EXPECT_EQ(time_cell(r), "2000-00-00 00-00-00");
    /* No time at all. */
    r.time_type = 0;
    r.time[0] = 23;
    EXPECT_EQ(time_cell(r), "2000-00-00 00-00-00");
    /* Epoch form in local time (UTC+8); whole seconds of the milliseconds are added. */
    set_epoch(r, 1686711600, 999);
    EXPECT_EQ(time_cell(r), "2023-06-14 11-00-00");
    set_epoch(r, 1686711600 + 59, 1000);
    EXPECT_EQ(time_cell(r), "2023-06-14 11-00-60");
    set_epoch(r, 1483199999, 0); /* 2016-12-31 15:59:59 UTC */
    EXPECT_EQ(time_cell(r), "2016-12-31 23-59-59");
    /* Only bits 0 and 1 of the flags count. */
    set_epoch(r, 1686711600, 0);
    r.time_type = 0xFE;
    EXPECT_EQ(time_cell(r), "2023-06-14 11-00-00");
}

TEST_F(PosTable, LensRowsFollowTheirOffsets)
{
    Record r = sample_q();
    const int32_t offsets[5] = {0, -5, 2000, 0, 0};
    std::copy(offsets, offsets + 5, r.offsets);
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
