/*
 * POS tables: tab-separated text with an ".xls" name that spreadsheet
 * programs open and the program's table reader reads back.
 *
 * Every header cell is the name and a tab; every data cell is the value, a
 * blank and a tab; every line ends with a blank, CR and LF. Tables are opened
 * in binary mode and the CR is written explicitly, so that they are byte for
 * byte the tables the camera's Windows tools have always written.
 *
 * Rows are formatted into a line buffer and written with one fwrite. Cells
 * whose value is an integer count of a decimal unit (1e-7 degree, 0.001 m,
 * 0.01 degree) are printed from that integer, which is exactly what printf
 * prints for the scaled double; the others go through snprintf.
 */
#include "posfile_internal.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

namespace {

const char LINE_END[] = " \r\n";

const char HEAD_PLAIN[] = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tTime\t";
const char HEAD_SPEED[] = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t";
const char HEAD_OFFSETS[] = "offset1\toffset2\toffset3\toffset4\toffset5\t";

/* Decoding of the big- and little-endian numbers of a record. */
int16_t be_s16(const uint8_t *p)
{
    return static_cast<int16_t>(p[0] << 8 | p[1]);
}
uint16_t be_u16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
int32_t be_s32(const uint8_t *p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 |
                                static_cast<uint32_t>(p[1]) << 16 |
                                static_cast<uint32_t>(p[2]) << 8 | p[3]);
}
int16_t le_s16(const uint8_t *p)
{
    return static_cast<int16_t>(p[0] | p[1] << 8);
}

/* A line of cells under construction. */
class Line {
public:
    void put(const char *text, size_t length)
    {
        if (length > sizeof text_ - length_)
            length = sizeof text_ - length_;
        std::memcpy(text_ + length_, text, length);
        length_ += length;
    }
    void put(const Line &other) { put(other.text_, other.length_); }
    void end() { put(LINE_END, sizeof LINE_END - 1); }

    /* "%d \t" */
    void cell_int(int64_t value) { cell_fixed(value, 0); }

    /* The value value / 10^decimals as printf's "%.<decimals>f \t" prints it. */
    void cell_fixed(int64_t value, int decimals)
    {
        char digits[24];
        int count = 0;
        uint64_t magnitude =
            value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0 || count <= decimals);
        char out[32];
        size_t n = 0;
        if (value < 0)
            out[n++] = '-';
        for (int i = count - 1; i >= 0; --i) {
            out[n++] = digits[i];
            if (i == decimals && decimals > 0)
                out[n++] = '.';
        }
        out[n++] = ' ';
        out[n++] = '\t';
        put(out, n);
    }

    /* A cell through printf; the format carries the blank and tab. */
    __attribute__((format(printf, 2, 3))) void cell_printf(const char *format, ...)
    {
        va_list args;
        va_start(args, format);
        const int n = vsnprintf(text_ + length_, sizeof text_ - length_, format, args);
        va_end(args);
        if (n > 0)
            length_ += static_cast<size_t>(n) < sizeof text_ - length_ ? static_cast<size_t>(n)
                                                                       : sizeof text_ - length_ - 1;
    }

    void write(FILE *stream) const { fwrite(text_, 1, length_, stream); }

private:
    char text_[512];
    size_t length_ = 0;
};

/*
 * The time cell of a record from its six time bytes and its flags byte.
 * Returns false for a record without time.
 */
bool time_text(const uint8_t *t, uint8_t flags, char *out, size_t size)
{
    switch (flags & 0x03) {
    case 2: {
        /* Seconds since 1970 (big-endian), milliseconds little-endian. */
        const time_t seconds = be_s32(t);
        const int milliseconds = le_s16(t + 4);
        tm local{};
        if (!localtime_r(&seconds, &local))
            return false;
        snprintf(out, size, "%d-%02d-%02d %02d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                 local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec + milliseconds / 1000);
        return true;
    }
    case 1:
    case 3: {
        uint8_t c[6];
        std::memcpy(c, t, sizeof c);
        _utc2localtime(&c[0], &c[1], &c[2], &c[3], &c[4], &c[5]);
        snprintf(out, size, "%d-%02d-%02d %02d-%02d-%02d", c[0] + 2000, c[1], c[2], c[3], c[4],
                 c[5]);
        return true;
    }
    default:
        return false;
    }
}

void time_cell(Line &line, const char *text)
{
    line.put(text, std::strlen(text));
    line.put(" \t", 2);
}

/* Days from 1970-01-01 to a proleptic Gregorian date (month 1 to 12). */
int64_t days_from_civil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t &y, int64_t &m, int64_t &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}

int64_t floor_div(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

constexpr int64_t LOCAL_SHIFT_SECONDS = 8 * 3600;

int open_table(posfile_manager_t *mgr, const char *path, int record_size, bool plain)
{
    if (!mgr || !path) {
        printf("Error: posfile_ofrm_openfile: no %s.\n", mgr ? "path" : "manager");
        return -1;
    }
    PosManager *pm = posfile_private(mgr);
    std::lock_guard<std::mutex> guard(pm->lock);
    if (FILE *previous = posfile_load(mgr->main_table)) {
        /* A download that was never closed: keep what it wrote. */
        fclose(previous);
        posfile_store(mgr->main_table, nullptr);
    }
    posfile_reset_download(pm, PosDownload::none);
    FILE *table = fopen(path, "wb+");
    if (!table) {
        printf("Error: posfile_ofrm_openfile: cannot create %s: %s\n", path, strerror(errno));
        return -1;
    }
    if (plain)
        _ofrm_initexcelhead(table);
    else
        _ofrm_initexcelhead_offset(table, record_size);
    posfile_store(mgr->bytes_received, 0u);
    posfile_reset_download(pm, plain ? PosDownload::plain : PosDownload::offset);
    posfile_store(mgr->main_table, table);
    return 0;
}

} // namespace

void posfile_write_o_row(FILE *table, const uint8_t *f)
{
    Line line;
    line.cell_int(be_s16(f + 4));
    line.cell_fixed(be_s32(f + 12), 7);
    line.cell_fixed(be_s32(f + 16), 7);
    line.cell_fixed(be_s32(f + 20), 3);
    line.cell_fixed(be_u16(f + 10), 2);
    line.cell_printf("%.1f \t", be_u16(f + 6) * 0.01);
    line.cell_printf("%.1f \t", be_u16(f + 8) * 0.01);
    line.cell_printf("%.2f \t", be_s32(f + 24) * 0.0078125);
    char time[64];
    if (time_text(f + 28, f[34], time, sizeof time))
        time_cell(line, time);
    else
        line.put(" \t", 2);
    line.end();
    line.write(table);
}

void posfile_write_q_row(FILE *table, FILE *lens[POSFILE_LENSES], uint32_t lens_mode,
                         const uint8_t *f)
{
    const int32_t lon_raw = be_s32(f + 17);
    const int32_t lat_raw = be_s32(f + 21);
    const int16_t speed_raw = be_s16(f + 29);
    const uint16_t psi_raw = be_u16(f + 31);

    /* The cells every row of this record shares, around the position. */
    Line id;
    id.cell_int(be_s16(f + 9));
    Line position;
    position.cell_fixed(lon_raw, 7);
    position.cell_fixed(lat_raw, 7);
    Line rest;
    rest.cell_fixed(be_s32(f + 25), 3);
    rest.cell_fixed(be_u16(f + 15), 2);
    rest.cell_printf("%.1f \t", be_u16(f + 11) * 0.01);
    rest.cell_printf("%.1f \t", be_u16(f + 13) * 0.01);
    rest.cell_fixed(psi_raw, 2);
    rest.cell_fixed(static_cast<int64_t>(speed_raw) * 10, 1);
    char time[64];
    time_cell(rest, time_text(f + 33, f[39], time, sizeof time) ? time : "2000-00-00 00-00-00");

    Line main;
    main.put(id);
    main.put(position);
    main.put(rest);
    if (f[8] != POSFILE_RECORD_SHORT && lens_mode <= 1) {
        for (int i = 0; i < POSFILE_LENSES; ++i)
            main.cell_int(be_s32(f + 40 + 4 * i));
    }
    main.end();
    main.write(table);

    if (f[8] == POSFILE_RECORD_SHORT || lens_mode != 1 || !lens)
        return;

    const double lon = lon_raw * 0.0000001;
    const double lat = lat_raw * 0.0000001;
    const float speed = speed_raw;
    const double bearing = psi_raw * 0.01;
    for (int i = 0; i < POSFILE_LENSES; ++i) {
        const int32_t offset = be_s32(f + 40 + 4 * i);
        FILE *stream = posfile_load(lens[i]);
        if (offset < 0 || !stream)
            continue;
        Line row;
        row.put(id);
        if (offset == 0) {
            row.put(position);
        } else {
            /* Exposure delay (us) times speed (m/s), multiplied in single precision. */
            const double distance =
                static_cast<double>(static_cast<float>(offset) * speed) * 0.000001;
            double moved_lon = lon;
            double moved_lat = lat;
            CalcNextPoint(lon, lat, distance, bearing, &moved_lon, &moved_lat);
            if (lon_raw == 0)
                row.cell_int(0);
            else
                row.cell_printf("%.7lf \t", moved_lon);
            if (lat_raw == 0)
                row.cell_int(0);
            else
                row.cell_printf("%.7lf \t", moved_lat);
        }
        row.put(rest);
        row.end();
        row.write(stream);
    }
}

extern "C" {

TAVRIN_API int posfile_ofrm_openfile(posfile_manager_t *mgr, const char *path)
{
    return open_table(mgr, path, 0, true);
}

TAVRIN_API int posfile_ofrm_openfile_offset(posfile_manager_t *mgr, const char *path,
                                            int record_size)
{
    return open_table(mgr, path, record_size, false);
}

TAVRIN_API int _ofrm_closefile(posfile_manager_t *mgr)
{
    if (!mgr) {
        printf("Error: _ofrm_closefile: no manager.\n");
        return -1;
    }
    PosManager *pm = posfile_private(mgr);
    std::lock_guard<std::mutex> guard(pm->lock);
    FILE *table = posfile_load(mgr->main_table);
    /* No table: the camera's end marker has closed it already. */
    if (!table)
        return -1;
    posfile_store(mgr->main_table, nullptr);
    posfile_reset_download(pm, PosDownload::none);
    return fclose(table);
}

TAVRIN_API void _ofrm_initexcelhead(FILE *stream)
{
    if (!stream)
        return;
    fflush(stream);
    fputs(HEAD_PLAIN, stream);
    fputs(LINE_END, stream);
}

TAVRIN_API void _ofrm_initexcelhead_offset(FILE *stream, int record_size)
{
    if (!stream)
        return;
    fflush(stream);
    if (record_size <= 0)
        return;
    fputs(HEAD_SPEED, stream);
    if (record_size != POSFILE_RECORD_SHORT)
        fputs(HEAD_OFFSETS, stream);
    fputs(LINE_END, stream);
}

TAVRIN_API void _ofrm_initexcelheadoffsetsingle(FILE *stream)
{
    if (!stream)
        return;
    fflush(stream);
    fputs(HEAD_SPEED, stream);
    fputs(LINE_END, stream);
}

TAVRIN_API int16_t _posfile_big2littles(uint32_t value)
{
    return static_cast<int16_t>((value & 0xFFu) << 8 | (value >> 8 & 0xFFu));
}

TAVRIN_API int16_t _posfile_big2littleus(uint32_t value)
{
    return _posfile_big2littles(value);
}

TAVRIN_API int32_t __posfile_big2littlel(uint32_t value)
{
    return static_cast<int32_t>((value & 0xFFu) << 24 | (value & 0xFF00u) << 8 |
                                (value >> 8 & 0xFF00u) | value >> 24);
}

TAVRIN_API int32_t __posfile_big2littleul(uint32_t value)
{
    return __posfile_big2littlel(value);
}

TAVRIN_API void _utc2localtime(uint8_t *year, uint8_t *month, uint8_t *day, uint8_t *hour,
                               uint8_t *minute, uint8_t *second)
{
    if (!year || !month || !day || !hour || !minute || !second) {
        printf("Error: _utc2localtime: missing field.\n");
        return;
    }
    if ((*year | *month | *day | *hour | *minute | *second) == 0)
        return;
    /* Out-of-range fields carry over as a calendar does (month 13 is January of the next year). */
    const int64_t month0 = static_cast<int64_t>(*month) - 1;
    const int64_t y = 2000 + *year + floor_div(month0, 12);
    const int64_t m = month0 - floor_div(month0, 12) * 12 + 1;
    const int64_t days = days_from_civil(y, m, 1) + *day - 1;
    const int64_t seconds =
        days * 86400 + *hour * 3600 + *minute * 60 + *second + LOCAL_SHIFT_SECONDS;
    const int64_t shifted_days = floor_div(seconds, 86400);
    const int64_t in_day = seconds - shifted_days * 86400;
    int64_t ny;
    int64_t nm;
    int64_t nd;
    civil_from_days(shifted_days, ny, nm, nd);
    *year = static_cast<uint8_t>(ny - 2000);
    *month = static_cast<uint8_t>(nm);
    *day = static_cast<uint8_t>(nd);
    *hour = static_cast<uint8_t>(in_day / 3600);
    *minute = static_cast<uint8_t>(in_day / 60 % 60);
    *second = static_cast<uint8_t>(in_day % 60);
}

} // extern "C"
