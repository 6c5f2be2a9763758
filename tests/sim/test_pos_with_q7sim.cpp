/*
 * POS downloads from the simulated camera over loopback, driven as the POS
 * download page drives them, for each firmware generation. The tables must
 * be exactly the ones the simulator's own records imply; the expected text is
 * formatted here from the records, independently of the library's writer.
 */
#include "posfile_internal.h"
#include "sim_posstore.h"
#include "sim_process.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
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
        tm utc{};
        utc.tm_year = r[24] + 100;
        utc.tm_mon = r[25] - 1;
        utc.tm_mday = r[26];
        utc.tm_hour = r[27];
        utc.tm_min = r[28];
        utc.tm_sec = r[29];
        const time_t shifted = timegm(&utc) + 8 * 3600;
        gmtime_r(&shifted, &t);
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
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/* Equal texts, or the first line where they differ. */
testing::AssertionResult same_table(const std::string &path, const std::string &expected)
{
    const std::string actual = slurp(path);
    if (actual == expected)
        return testing::AssertionSuccess();
    std::istringstream a(actual);
    std::istringstream e(expected);
    std::string la;
    std::string le;
    for (int line = 1;; ++line) {
        const bool more_a = static_cast<bool>(std::getline(a, la));
        const bool more_e = static_cast<bool>(std::getline(e, le));
        if (!more_a || !more_e || la != le)
            return testing::AssertionFailure()
                   << path << " line " << line << "\n  got:      " << (more_a ? la : "(end)")
                   << "\n  expected: " << (more_e ? le : "(end)");
    }
}

/* ---- The download page, as far as the transfer goes ------------------- */

struct Camera {
    double firmware;
    std::string serial;
};

class Page {
public:
    Page(posfile_manager_t *mgr, double firmware, int record_size, uint32_t lens_mode)
        : mgr_(mgr), firmware_(firmware), record_size_(record_size)
    {
        posfile_store(mgr_->lens_mode, lens_mode);
    }

    /* List slots 1 to 14, asking again while an answer is missing. */
    std::vector<posfile_entry_t> list()
    {
        std::vector<posfile_entry_t> entries;
        for (int slot = 1; slot <= POSFILE_MAX_FILES; ++slot) {
            posfile_entry_t entry{};
            for (int tick = 0; tick < 200; ++tick) {
                posfile_info_request(mgr_, slot);
                std::this_thread::sleep_for(5ms);
                if (posfile_info_get(mgr_, slot, &entry) == 0)
                    break;
            }
            entries.push_back(entry);
        }
        return entries;
    }

    /* Table path of selection row r, as the page names it. */
    std::string table_path(size_t r) const
    {
        if (selection_.size() == 1)
            return save_path_;
        return save_path_.substr(0, save_path_.find('.')) + std::to_string(r + 1) + ".xls";
    }
    static std::string lens_path(const std::string &path, int lens)
    {
        return path.substr(0, path.find(".xls")) + LENS_NAMES[lens] + ".xls";
    }

    /* Download the selection; false when a file does not finish within the limit. */
    bool download(const std::vector<posfile_entry_t> &selection, const std::string &save_path)
    {
        selection_ = selection;
        save_path_ = save_path;
        cursor_ = 0;
        posfile_store(mgr_->bytes_received, 0);
        posfile_store(mgr_->transfer_state, POSFILE_WANT_NEXT);
        auto file_deadline = Clock::now() + 30s;
        while (cursor_ < selection_.size()) {
            if (Clock::now() > file_deadline)
                return false;
            if (tick())
                file_deadline = Clock::now() + 30s;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

private:
    uint32_t size() const
    {
        const posfile_entry_t &e = selection_[cursor_];
        return e.end_address - e.start_address;
    }

    void start_file()
    {
        const std::string path = table_path(cursor_);
        const uint8_t number = selection_[cursor_].number;
        posfile_store(mgr_->current_file, number);
        posfile_store(mgr_->expected_size, size());
        expected_ = static_cast<int64_t>(size());
        if (firmware_ < 3.31) {
            posfile_file_request(mgr_, number, path.c_str());
            return;
        }
        if (firmware_ < 4.5)
            posfile_store(mgr_->end_marker_flag, 1);
        if (record_size_ == 52 && posfile_load(mgr_->lens_mode) == 1) {
            for (int lens = 0; lens < 5; ++lens) {
                FILE *stream = fopen(lens_path(path, lens).c_str(), "wb+");
                if (!stream)
                    break;
                _ofrm_initexcelheadoffsetsingle(stream);
                posfile_store(mgr_->lens_tables[lens], stream);
            }
        }
        posfile_file_request_offset(mgr_, number, path.c_str(), size(), record_size_);
    }

    void finish_file()
    {
        posfile_store(mgr_->activity, 0);
        posfile_store(mgr_->record_counter, 0);
        _ofrm_closefile(mgr_);
        for (FILE *&stream : mgr_->lens_tables) {
            if (FILE *open = posfile_load(stream)) {
                fclose(open);
                posfile_store(stream, nullptr);
            }
        }
        if (firmware_ >= 4.5)
            posfile_store(mgr_->end_marker_flag, 0);
        ++cursor_;
        if (cursor_ < selection_.size()) {
            posfile_store(mgr_->transfer_state, POSFILE_WANT_NEXT);
            if (firmware_ >= 4.5) {
                acknowledged_ = false;
                posfile_store(mgr_->bytes_received, 0);
            }
        }
    }

    /* One timer tick; true when a file finished. */
    bool tick()
    {
        if (posfile_load(mgr_->transfer_state) == POSFILE_WANT_NEXT) {
            start_file();
            return false;
        }
        const uint32_t received = posfile_process(mgr_);
        if (firmware_ < 4.5) {
            if (received == size())
                posfile_store(mgr_->transfer_state, POSFILE_FINISHED);
        } else if (received == expected_) {
            posfile_file_success(mgr_, selection_[cursor_].number);
            posfile_store(mgr_->end_marker_flag, 1);
            acknowledged_ = true;
            expected_ = -1;
        }
        const bool finished = posfile_load(mgr_->transfer_state) == POSFILE_FINISHED &&
                              (firmware_ < 4.5 || acknowledged_);
        if (finished)
            finish_file();
        return finished;
    }

    posfile_manager_t *mgr_;
    double firmware_;
    int record_size_;
    std::vector<posfile_entry_t> selection_;
    std::string save_path_;
    size_t cursor_ = 0;
    int64_t expected_ = -1;
    bool acknowledged_ = false;
};

/* ---- A link to a simulated camera ----------------------------------------- */

class PosWithSimulator : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "CST-8", 1);
        tzset();
        char pattern[] = "/tmp/pos_sim_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
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

    /* Start the simulator with the camera's identity and extra options, and connect. */
    void connect(const std::string &serial, const std::string &firmware,
                 std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"--serial", serial, "--firmware", firmware};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim->running()) << sim->error();
        q7sim::Options options;
        options.serial = serial;
        store = std::make_unique<q7sim::PosStore>(options);
        testing::internal::CaptureStdout();
        rvtele_module_init();
        link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", sim->port(), TAVRIN_RING_CAPACITY);
        mgr = posfile_manager_init(link);
        const int started = rvtele_start(link);
        testing::internal::GetCapturedStdout();
        ASSERT_NE(mgr, nullptr);
        ASSERT_EQ(started, 0);
    }

    /* Entries of the given file numbers from a fresh listing, checked against the store. */
    std::vector<posfile_entry_t> select(Page &page, std::initializer_list<int> numbers)
    {
        const std::vector<posfile_entry_t> listing = page.list();
        std::vector<posfile_entry_t> chosen;
        for (int number : numbers) {
            const posfile_entry_t &entry = listing[static_cast<size_t>(number - 1)];
            const q7sim::PosFile *file = store->file(number);
            EXPECT_EQ(entry.number, number);
            EXPECT_EQ(entry.end_address - entry.start_address, file->size());
            EXPECT_EQ(entry.start_address, file->start_address);
            EXPECT_EQ(entry.start_time[1], file->start_time[1]);
            chosen.push_back(entry);
        }
        return chosen;
    }

    std::string expected_main(int number, bool offsets) const
    {
        const auto &records = store->file(number)->records;
        std::string text =
            offsets ? (store->record_size() == 52 ? HEAD_OFFSETS : HEAD_SPEED) : HEAD_PLAIN;
        for (const Bytes &r : records)
            text += offsets ? offset_row(r) : plain_row(r);
        return text;
    }
    std::string expected_lens(int number, int lens) const
    {
        std::string text = HEAD_SPEED;
        for (const Bytes &r : store->file(number)->records)
            text += lens_row(r, lens);
        return text;
    }

    /* Download `numbers` the page's way and compare every table with the records. */
    void download_and_compare(double firmware, uint32_t lens_mode,
                              std::initializer_list<int> numbers)
    {
        Page page(mgr, firmware, store->record_size(), lens_mode);
        const std::vector<posfile_entry_t> chosen = select(page, numbers);
        const std::string save = dir + "/flight.xls";
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool done = page.download(chosen, save);
        testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(done) << "download stalled";
        size_t row = 0;
        for (int number : numbers) {
            const std::string path = page.table_path(row++);
            const bool offsets = firmware >= 3.31;
            EXPECT_TRUE(same_table(path, expected_main(number, offsets)));
            const bool lens_tables = offsets && lens_mode == 1 && store->record_size() == 52;
            for (int lens = 0; lens < 5 && lens_tables; ++lens)
                EXPECT_TRUE(same_table(Page::lens_path(path, lens), expected_lens(number, lens)));
        }
    }

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<q7sim::PosStore> store;
    rvtele_t *link = nullptr;
    posfile_manager_t *mgr = nullptr;
    std::string dir;
};

TEST_F(PosWithSimulator, PlainDownloadsBeforeFirmware331)
{
    connect("Q7X120230614001", "3.30");
    ASSERT_EQ(store->record_size(), 32);
    download_and_compare(3.30, 0, {1, 6, 13});
}

TEST_F(PosWithSimulator, OffsetDownloadsWithLensTablesEndedByTheCameraBefore45)
{
    connect("Q7X520230614001", "4.41");
    ASSERT_EQ(store->record_size(), 52);
    download_and_compare(4.41, 1, {1, 2, 4});
}

TEST_F(PosWithSimulator, OffsetDownloadsAcknowledgedFrom45)
{
    connect("Q7X420230614001", "4.5");
    download_and_compare(4.5, 1, {13, 6});
    /* The camera counted the acknowledged downloads. */
    posfile_entry_t entry{};
    posfile_store(mgr->valid_mask, 0u);
    for (int tick = 0; tick < 200 && posfile_info_get(mgr, 13, &entry) != 0; ++tick) {
        posfile_info_request(mgr, 13);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(entry.download_count, 1);
}

TEST_F(PosWithSimulator, ShortRecordsInOffsetFrames)
{
    connect("Q7X320230614001", "4.41");
    ASSERT_EQ(store->record_size(), 32);
    download_and_compare(4.41, 1, {1});
}

TEST_F(PosWithSimulator, LostRecordsAreFetchedAgainFrom45)
{
    connect("Q7X520230614001", "4.5", {"--loss", "0.1", "--seed", "11"});
    download_and_compare(4.5, 1, {1, 2, 3});
}

TEST_F(PosWithSimulator, LostAndReorderedRecordsAreFetchedAgainBefore45)
{
    connect("Q7X520230614001", "3.31",
            {"--loss", "0.1", "--reorder", "0.1", "--duplicate", "0.02", "--seed", "5"});
    download_and_compare(3.31, 1, {1, 2, 3});
}

TEST_F(PosWithSimulator, PlainDownloadUnderLossEndsShortAndSaysSo)
{
    connect("Q7X120230614001", "3.30", {"--loss", "0.1", "--seed", "3"});
    Page page(mgr, 3.30, 32, 0);
    const std::vector<posfile_entry_t> chosen = select(page, {2});
    const std::string path = dir + "/short.xls";
    posfile_store(mgr->expected_size, chosen[0].end_address - chosen[0].start_address);
    ASSERT_EQ(posfile_file_request(mgr, 2, path.c_str()), 0);
    /* Wait until the camera has sent everything: the record count stops moving. */
    uint32_t last = 0;
    for (int quiet = 0, tick = 0; quiet < 100 && tick < 4000; ++tick) {
        std::this_thread::sleep_for(5ms);
        const uint32_t now = posfile_load(mgr->record_counter);
        quiet = now != 0 && now == last ? quiet + 1 : 0;
        last = now;
    }
    ASSERT_EQ(_ofrm_closefile(mgr), 0);
    const uint32_t received = posfile_process(mgr);
    EXPECT_LT(received, chosen[0].end_address - chosen[0].start_address);
    EXPECT_EQ(received % 32, 0u);

    /* What did arrive is written, in order, exactly. */
    std::istringstream rows(slurp(path));
    std::string line;
    std::getline(rows, line);
    EXPECT_EQ(line + "\n", HEAD_PLAIN);
    size_t written = 0;
    size_t next = 0;
    const auto &records = store->file(2)->records;
    while (std::getline(rows, line)) {
        ++written;
        while (next < records.size() && plain_row(records[next]) != line + "\n")
            ++next;
        ASSERT_LT(next, records.size()) << "row not among the records, or out of order: " << line;
        ++next;
    }
    EXPECT_EQ(written, received / 32);
}

} // namespace
