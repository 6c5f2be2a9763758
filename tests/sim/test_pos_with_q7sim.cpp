/*
 * The camera's POS slots listed and its POS files downloaded by orvex-cli
 * from q7sim, for each firmware generation and with every fault of the
 * radio. The tables must be exactly the ones the simulator's own records
 * imply, or the download must fail by name and leave no table; the expected
 * text is formatted here from the records, independently of the library's
 * writer.
 */
#include "exchange_table.h"
#include "sim_posstore.h"
#include "tavrin/tavrin.h"

#include <QDir>
#include <QJsonArray>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

using q7sim::Bytes;

const char *const LENS_NAMES[5] = {"Front", "Right", "Back", "Left", "Center"};

/* ---- Expected tables, from the records ---------------------------------- */

int16_t s16(const Bytes &r, int at)
{
    return static_cast<int16_t>(r[at] << 8 | r[at + 1]);
}
uint16_t u16(const Bytes &r, int at)
{
    return static_cast<uint16_t>(r[at] << 8 | r[at + 1]);
}
int32_t s32(const Bytes &r, int at)
{
    return static_cast<int32_t>(q7sim::get_be32(r, at));
}

std::string format(const char *fmt, double value)
{
    char text[64];
    snprintf(text, sizeof text, fmt, value);
    return text;
}
std::string format_int(long value)
{
    return std::to_string(value) + " \t";
}

/* Six calendar bytes in UTC (year - 2000 first), eight hours on: the camera's zone. */
tm camera_zone(const uint8_t *t)
{
    tm utc{};
    utc.tm_year = t[0] + 100;
    utc.tm_mon = t[1] - 1;
    utc.tm_mday = t[2];
    utc.tm_hour = t[3];
    utc.tm_min = t[4];
    utc.tm_sec = t[5];
    const time_t shifted = timegm(&utc) + 8 * 3600;
    gmtime_r(&shifted, &utc);
    return utc;
}

/* The time cell's text; empty when the record has no time. */
std::string time_text(const Bytes &r)
{
    char text[64];
    tm t{};
    switch (r[30] & 3) {
    case 2: {
        const time_t seconds = s32(r, 24);
        localtime_r(&seconds, &t);
        const int milliseconds = static_cast<int16_t>(r[28] | r[29] << 8);
        t.tm_sec += milliseconds / 1000;
        break;
    }
    case 1:
    case 3: {
        if (!(r[24] | r[25] | r[26] | r[27] | r[28] | r[29])) {
            t.tm_year = 100;
            t.tm_mon = -1;
            break;
        }
        t = camera_zone(&r[24]);
        break;
    }
    default:
        return "";
    }
    snprintf(text, sizeof text, "%d-%02d-%02d %02d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1,
             t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string plain_row(const Bytes &r)
{
    return format_int(s16(r, 0)) + format("%.7lf \t", s32(r, 8) * 0.0000001) +
           format("%.7lf \t", s32(r, 12) * 0.0000001) + format("%.3f \t", s32(r, 16) * 0.001) +
           format("%.2f \t", u16(r, 6) * 0.01) + format("%.1f \t", u16(r, 2) * 0.01) +
           format("%.1f \t", u16(r, 4) * 0.01) + format("%.2f \t", s32(r, 20) * 0.0078125) +
           time_text(r) + " \t \r\n";
}

/* The ten cells of an offset-tagged record, with its position replaced by `position`. */
std::string offset_cells(const Bytes &r, const std::string &position)
{
    const std::string time = time_text(r);
    return format_int(s16(r, 0)) + position + format("%.3f \t", s32(r, 16) * 0.001) +
           format("%.2f \t", u16(r, 6) * 0.01) + format("%.1f \t", u16(r, 2) * 0.01) +
           format("%.1f \t", u16(r, 4) * 0.01) + format("%.2f \t", u16(r, 22) * 0.01) +
           format("%.1f \t", static_cast<float>(s16(r, 20))) +
           (time.empty() ? "2000-00-00 00-00-00" : time) + " \t";
}

std::string own_position(const Bytes &r)
{
    return format("%.7lf \t", s32(r, 8) * 0.0000001) + format("%.7lf \t", s32(r, 12) * 0.0000001);
}

std::string offset_row(const Bytes &r)
{
    std::string row = offset_cells(r, own_position(r));
    if (r.size() == 52)
        for (int k = 0; k < 5; ++k)
            row += format_int(s32(r, 31 + 4 * k));
    return row + " \r\n";
}

/* The record's row in lens table `lens` (0 Front .. 4 Center); empty when that lens did not expose.
 */
std::string lens_row(const Bytes &r, int lens)
{
    const int32_t offset = s32(r, 31 + 4 * lens);
    if (offset < 0)
        return "";
    if (offset == 0)
        return offset_cells(r, own_position(r)) + " \r\n";
    const double lon = s32(r, 8) * 0.0000001;
    const double lat = s32(r, 12) * 0.0000001;
    const float speed = s16(r, 20);
    double moved_lon = lon;
    double moved_lat = lat;
    CalcNextPoint(lon, lat, static_cast<double>(static_cast<float>(offset) * speed) * 1e-6,
                  u16(r, 22) * 0.01, &moved_lon, &moved_lat);
    const std::string position = (s32(r, 8) == 0 ? format_int(0) : format("%.7lf \t", moved_lon)) +
                                 (s32(r, 12) == 0 ? format_int(0) : format("%.7lf \t", moved_lat));
    return offset_cells(r, position) + " \r\n";
}

const std::string HEAD_PLAIN = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tTime\t \r\n";
const std::string HEAD_SPEED =
    "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \r\n";
const std::string HEAD_OFFSETS = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t"
                                 "offset1\toffset2\toffset3\toffset4\toffset5\t \r\n";

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

/* Equal texts, or the first line where they differ. */
testing::AssertionResult same_table(const std::string &path, const std::string &expected)
{
    const std::string actual = slurp(path);
    if (actual == expected)
        return testing::AssertionSuccess();
    const auto at = static_cast<size_t>(
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
        actual.begin());
    const size_t line = at ? actual.rfind('\n', at - 1) + 1 : 0; /* the same in both */
    const auto text = [line](const std::string &t) {
        return t.substr(line, t.find('\n', line) - line);
    };
    return testing::AssertionFailure()
           << path << " line " << std::count(actual.begin(), actual.begin() + line, '\n') + 1
           << "\n  got:      " << text(actual) << "\n  expected: " << text(expected);
}

/* ---- The exchanges ------------------------------------------------------ */

constexpr qint64 marginMs = 10000;

/* Every row's camera, unless the row says otherwise: 4.5, 52-byte records. */
const std::vector<std::string> acknowledging = {"--rate",          "20",         "--serial",
                                                "Q7X420230614001", "--firmware", "4.5"};

/* The store of the camera a row simulates, and its firmware. */
struct Camera {
    std::string serial = "Q7X420230614001";
    double firmware = 4.5;
    q7sim::PosStore store() const
    {
        q7sim::Options options;
        options.serial = serial;
        return q7sim::PosStore(options);
    }
};

Camera cameraOf(const FaultRow &row)
{
    Camera camera;
    for (size_t i = 0; i + 1 < row.sim.size(); ++i) {
        if (row.sim[i] == "--serial")
            camera.serial = row.sim[i + 1];
        if (row.sim[i] == "--firmware")
            camera.firmware = std::stod(row.sim[i + 1]);
    }
    return camera;
}

TEST(ExchangeUnderFaults, PosSlotsListed)
{
    const CliRun reference = runExchange(
        {{"pos", "list", "--json"}, acknowledging, 2000 + marginMs},
        radioFaults({{{"--silent-on", "26"}, "listed no POS slot for 2 s", {"--timeout", "2"}}}),
        sameJson);
    const q7sim::PosStore store = Camera{}.store();
    const QJsonArray files = reference.json[QStringLiteral("files")].toArray();
    ASSERT_EQ(files.size(), q7sim::kPosFiles);
    for (int number = 1; number <= q7sim::kPosFiles; ++number) {
        const q7sim::PosFile &file = *store.file(number);
        const tm start = camera_zone(file.start_time.data());
        char time[32];
        strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &start);
        const QJsonObject listed = files[number - 1].toObject();
        EXPECT_EQ(listed, QJsonObject({{"id", number},
                                       {"slot", number},
                                       {"time", time},
                                       {"records", static_cast<int>(file.records.size())},
                                       {"bytes", static_cast<qint64>(file.size())},
                                       {"downloads", 0}}));
    }
}

/* Files 1 and 6 downloaded whole, or a named failure that keeps only the files before it. */
void sameTables(const FaultRow &row, const CliRun &, const CliRun &, const QString &dir)
{
    const Camera camera = cameraOf(row);
    const q7sim::PosStore store = camera.store();
    const bool offsets = camera.firmware >= 3.31;
    const bool lenses = offsets && store.record_size() == 52;
    const QStringList written = QDir(dir).entryList({"pos*"}, QDir::Files);
    if (!row.failure) {
        EXPECT_EQ(written.size(), lenses ? 12 : 2) << written.join(' ').toStdString();
    }
    for (int number : {1, 6}) {
        const QString name = QStringLiteral("pos%1").arg(number);
        if (row.failure && (number == 6 || !written.contains(name + ".xls"))) {
            EXPECT_TRUE(written.filter(name).isEmpty()) << written.join(' ').toStdString();
            continue;
        }
        const std::string table = (dir + "/" + name).toStdString();
        std::string main = offsets ? (lenses ? HEAD_OFFSETS : HEAD_SPEED) : HEAD_PLAIN;
        for (const Bytes &r : store.file(number)->records)
            main += offsets ? offset_row(r) : plain_row(r);
        EXPECT_TRUE(same_table(table + ".xls", main));
        for (int lens = 0; lens < 5 && lenses; ++lens) {
            std::string rows = HEAD_SPEED;
            for (const Bytes &r : store.file(number)->records)
                rows += lens_row(r, lens);
            EXPECT_TRUE(same_table(table + LENS_NAMES[lens] + ".xls", rows));
        }
    }
}

TEST(ExchangeUnderFaults, PosFilesDownloaded)
{
    /* The tables' local times, as the program's environment has them. */
    setenv("TZ", "CST-8", 1);
    tzset();
    const auto with = [](std::vector<std::string> camera, std::vector<std::string> more) {
        camera.insert(camera.end(), more.begin(), more.end());
        return camera;
    };
    const QStringList stall = {"--timeout", "2"};
    /* Before 4.5 the camera ends each file itself. */
    const std::vector<std::string> ending = {"--serial", "Q7X520230614001", "--firmware", "4.41"};
    /* Before 3.31 records carry no offset: a repeat is dropped, but nothing lost or out of
     * order can be asked for again. */
    const std::vector<std::string> plain = {"--serial", "Q7A160800012345", "--firmware", "3.30"};
    runExchange({{"pos", "download", "1", "6", "--out", "{dir}/pos.xls", "--per-lens", "--json"},
                 acknowledging,
                 2000 + marginMs},
                radioFaults({
                    {{"--short-file", "6"}, "timed out", stall},
                    {{"--silent-after-records", "300"}, "timed out", stall},
                    {with(ending, {"--loss", "0.1", "--duplicate", "0.2", "--reorder", "0.2",
                                   "--corrupt", "0.1", "--garbage", "0.3"})},
                    {with(ending, {"--short-file", "6"}), "the camera ended the file short"},
                    {{"--serial", "Q7X320230614001", "--firmware", "4.41"}}, /* 32-byte records */
                    {plain},
                    {with(plain, {"--duplicate", "0.5", "--garbage", "0.5"})},
                    {with(plain, {"--duplicate", "0.5", "--corrupt", "0.3"}), "timed out", stall},
                    {with(plain, {"--reorder", "0.5"}), "the camera ended the file short"},
                }),
                sameTables);
}

} // namespace
