#include "UsbPosExport.h"

#include "PosRules.h"
#include "platform/LocalTime.h"
#include "tavrin/tavrin.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int lensCount = 5;
/* Records read and converted at a time; progress is reported between blocks. */
constexpr int blockRecords = 8192;

int16_t s16(const uint8_t *p)
{
    return static_cast<int16_t>(p[0] << 8 | p[1]);
}
uint16_t u16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
int32_t s32(const uint8_t *p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 |
                                static_cast<uint32_t>(p[1]) << 16 |
                                static_cast<uint32_t>(p[2]) << 8 | p[3]);
}

/* One table line under construction: cells end with a blank and a tab, lines with " \r\n". */
class Row {
public:
    void append(const Row &other) { put(other.m_text, other.m_length); }
    void put(const char *text, size_t length)
    {
        length = std::min(length, sizeof m_text - m_length);
        std::memcpy(m_text + m_length, text, length);
        m_length += length;
    }
    /* "%d \t" */
    void integer(long long value) { fixed(value, 0); }
    /* value / 10^decimals, as "%.<decimals>f \t" prints the scaled number. */
    void fixed(long long value, int decimals)
    {
        char digits[24];
        int count = 0;
        unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
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
    void real(const char *format, double value)
    {
        char out[64];
        const int n = std::snprintf(out, sizeof out, format, value);
        if (n > 0)
            put(out, static_cast<size_t>(std::min(n, static_cast<int>(sizeof out) - 1)));
    }
    void text(const char *value)
    {
        put(value, std::strlen(value));
        put(" \t", 2);
    }
    void end() { put(" \r\n", 3); }
    bool write(FILE *stream) const { return std::fwrite(m_text, 1, m_length, stream) == m_length; }

private:
    char m_text[640];
    size_t m_length = 0;
};

/*
 * The Time cell of a record: seconds since 1970 (type 2) shown in local time,
 * or UTC calendar fields (bit 0) moved to Beijing time; a record without time
 * repeats the table's previous time text.
 */
void recordTime(const uint8_t *r, char *previous, size_t size)
{
    const uint8_t type = r[30] & 0x03;
    if (type == 2) {
        const time_t seconds = s32(r + 24);
        const int milliseconds = static_cast<int16_t>(r[28] | r[29] << 8);
        tm local{};
        {
            std::lock_guard<std::mutex> lock(localTimeLock());
            if (!localtime_r(&seconds, &local))
                return;
        }
        std::snprintf(previous, size, "%d-%02d-%02d %02d-%02d-%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                      local.tm_sec + milliseconds / 1000);
    } else if (type & 1) {
        uint8_t c[6];
        std::memcpy(c, r + 24, sizeof c);
        _utc2localtime(&c[0], &c[1], &c[2], &c[3], &c[4], &c[5]);
        std::snprintf(previous, size, "%d-%02d-%02d %02d-%02d-%02d", c[0] + 2000, c[1], c[2], c[3],
                      c[4], c[5]);
    }
}

struct Table {
    QString path;
    QString temp;
    FILE *file = nullptr;
};

class TableSet {
public:
    ~TableSet() { discard(); }

    bool open(const QString &path, QString *error)
    {
        Table table;
        table.path = path;
        table.temp = path + QStringLiteral(".part");
        table.file = std::fopen(QFile::encodeName(table.temp).constData(), "wb");
        if (!table.file) {
            *error = QStringLiteral("cannot create %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        std::setvbuf(table.file, nullptr, _IOFBF, 1 << 16);
        m_tables.push_back(table);
        return true;
    }
    FILE *at(size_t i) const { return m_tables[i].file; }

    /* Close every table and give each its final name; false with `error` on the first failure. */
    bool commit(QStringList *written, QString *error)
    {
        for (Table &t : m_tables) {
            const bool ok = std::fflush(t.file) == 0 && !std::ferror(t.file);
            const int saved = errno;
            const bool closed = std::fclose(t.file) == 0;
            t.file = nullptr;
            if (!ok || !closed) {
                *error =
                    QStringLiteral("cannot write %1: %2")
                        .arg(t.path, QString::fromLocal8Bit(std::strerror(ok ? errno : saved)));
                return false;
            }
        }
        for (Table &t : m_tables) {
            if (std::rename(QFile::encodeName(t.temp).constData(),
                            QFile::encodeName(t.path).constData()) != 0) {
                *error = QStringLiteral("cannot rename %1 to %2: %3")
                             .arg(t.temp, t.path, QString::fromLocal8Bit(std::strerror(errno)));
                return false;
            }
            t.temp.clear();
            if (written)
                *written << t.path;
        }
        m_tables.clear();
        return true;
    }

    void discard()
    {
        for (Table &t : m_tables) {
            if (t.file)
                std::fclose(t.file);
            if (!t.temp.isEmpty())
                QFile::remove(t.temp);
        }
        m_tables.clear();
    }

private:
    std::vector<Table> m_tables;
};

/* Rows of one record into the open tables. */
bool writeRecord(const uint8_t *r, int recordSize, bool perLens, TableSet &tables, char *time,
                 size_t timeSize)
{
    const int32_t lonRaw = s32(r + 8);
    const int32_t latRaw = s32(r + 12);
    recordTime(r, time, timeSize);

    Row id;
    id.integer(s16(r));
    Row rest; /* Alt to Psi_GPS */
    rest.fixed(s32(r + 16), 3);
    rest.fixed(u16(r + 6), 2);
    rest.real("%.1f \t", u16(r + 2) * 0.01);
    rest.real("%.1f \t", u16(r + 4) * 0.01);

    Row main;
    main.append(id);
    main.fixed(lonRaw, 7);
    main.fixed(latRaw, 7);
    main.append(rest);
    if (recordSize == 32) {
        main.real("%.2f \t", s32(r + 20) * 0.0078125);
        main.text(time);
        main.end();
        return main.write(tables.at(0));
    }

    const int16_t speed = s16(r + 20);
    const uint16_t psi = u16(r + 22);
    Row tail; /* Psi_GPS, Speed, Time */
    tail.fixed(psi, 2);
    tail.real("%.1f \t", static_cast<double>(speed));
    tail.text(time);
    main.append(tail);
    for (int lens = 0; lens < lensCount; ++lens)
        main.integer(s32(r + 31 + 4 * lens));
    main.end();
    if (!main.write(tables.at(0)))
        return false;
    if (!perLens)
        return true;

    const double lon = lonRaw * 0.0000001;
    const double lat = latRaw * 0.0000001;
    for (int lens = 0; lens < lensCount; ++lens) {
        const int32_t offset = s32(r + 31 + 4 * lens);
        if (offset < 0)
            continue; /* this camera did not expose */
        Row row;
        row.append(id);
        if (offset == 0) {
            row.fixed(lonRaw, 7);
            row.fixed(latRaw, 7);
        } else {
            /* Exposure delay (us) times speed (m/s): the metres flown since the record. */
            const double distance = offset * static_cast<double>(speed) * 1e-6;
            double movedLon = lon;
            double movedLat = lat;
            CalcNextPoint(lon, lat, distance, psi * 0.01, &movedLon, &movedLat);
            if (lonRaw == 0)
                row.integer(0);
            else
                row.real("%.7lf \t", movedLon);
            if (latRaw == 0)
                row.integer(0);
            else
                row.real("%.7lf \t", movedLat);
        }
        row.append(rest);
        row.append(tail);
        row.end();
        if (!row.write(tables.at(static_cast<size_t>(1 + lens))))
            return false;
    }
    return true;
}

} // namespace

UsbPosExport::UsbPosExport(QObject *parent) : QObject(parent) {}

UsbPosExport::~UsbPosExport()
{
    m_cancel.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

QString UsbPosExport::statusText(int recordSize, bool perLens, int done, int count, int percent)
{
    if (recordSize == 52 && !perLens)
        return QStringLiteral("%1/%2 ,已下载:%3%").arg(done).arg(count).arg(percent);
    return QStringLiteral("共:%1个 ,已下载:%2%").arg(count).arg(percent);
}

bool UsbPosExport::exportFile(const UsbExportJob &job, int recordSize, bool perLens,
                              const Progress &progress, QStringList *written, QString *error)
{
    if (recordSize != 32 && recordSize != 52) {
        *error = QStringLiteral("%1: POS record size %2 is neither 32 nor 52")
                     .arg(job.source)
                     .arg(recordSize);
        return false;
    }
    perLens = perLens && recordSize == 52;
    QFile source(job.source);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(job.source, source.errorString());
        return false;
    }
    /* A file that ends inside a record is exported up to its last whole record. */
    const qint64 total = source.size() / recordSize;

    TableSet tables;
    if (!tables.open(job.table, error))
        return false;
    if (perLens)
        for (int lens = 0; lens < lensCount; ++lens)
            if (!tables.open(PosRules::lensTablePath(job.table, lens), error))
                return false;
    if (recordSize == 32) {
        _ofrm_initexcelhead(tables.at(0));
    } else {
        _ofrm_initexcelhead_offset(tables.at(0), 52);
        for (int lens = 0; perLens && lens < lensCount; ++lens)
            _ofrm_initexcelheadoffsetsingle(tables.at(static_cast<size_t>(1 + lens)));
    }

    std::vector<uint8_t> block(
        static_cast<size_t>(std::min<qint64>(blockRecords, total) * recordSize));
    char time[64] = "";
    qint64 done = 0;
    while (done < total) {
        const qint64 want = std::min<qint64>(blockRecords, total - done);
        const qint64 bytes = source.read(reinterpret_cast<char *>(block.data()), want * recordSize);
        if (bytes != want * recordSize) {
            *error = QStringLiteral("cannot read %1: %2")
                         .arg(job.source, bytes < 0 ? source.errorString()
                                                    : QStringLiteral("the file got shorter"));
            return false;
        }
        for (qint64 k = 0; k < want; ++k)
            if (!writeRecord(block.data() + k * recordSize, recordSize, perLens, tables, time,
                             sizeof time)) {
                *error = QStringLiteral("cannot write the tables of %1: %2")
                             .arg(job.table, QString::fromLocal8Bit(std::strerror(errno)));
                return false;
            }
        done += want;
        if (progress && !progress(done, total)) {
            *error = QStringLiteral("export of %1 stopped").arg(job.source);
            return false;
        }
    }
    return tables.commit(written, error);
}

bool UsbPosExport::start(const QList<UsbExportJob> &jobs, int recordSize, bool perLens)
{
    if (m_running.load())
        return false;
    if (m_thread.joinable())
        m_thread.join();
    m_cancel.store(false);
    m_running.store(true);
    m_thread = std::thread(&UsbPosExport::run, this, jobs, recordSize, perLens);
    return true;
}

void UsbPosExport::run(QList<UsbExportJob> jobs, int recordSize, bool perLens)
{
    QStringList written;
    QString error;
    bool ok = true;
    const int count = static_cast<int>(jobs.size());
    for (int k = 0; ok && k < count; ++k) {
        int lastPercent = -1;
        const Progress progress = [&](qint64 done, qint64 total) {
            const int percent = total ? static_cast<int>(done * 100 / total) : 100;
            if (percent != lastPercent) {
                lastPercent = percent;
                emit progressChanged(percent,
                                     statusText(recordSize, perLens, k + 1, count, percent));
            }
            return !m_cancel.load();
        };
        ok = exportFile(jobs[k], recordSize, perLens, progress, &written, &error);
        if (ok)
            emit progressChanged(100, statusText(recordSize, perLens, k + 1, count, 100));
    }
    m_running.store(false);
    emit finished(ok, ok ? QString() : error, written);
}
