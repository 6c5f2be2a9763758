/*
 * POS tables read back by the reader: those the library's download writes and those made from
 * USB POS files (positions and times; lens tables move and drop rows by their offsets), bad
 * tables, the reader thread, and the POS page's names and texts.
 */
#include "pos/MyExcelObject.h"
#include "pos/MyReadExcelThread.h"
#include "pos/PosRules.h"
#include "pos/UsbPosExport.h"
#include "pos/UsbPosFiles.h"
#include "posfile_internal.h"
#include "tavrin/tavrin.h"

#include "TestFiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr quint32 kNone = MyExcelObject::InvalidTime;

/*
 * The table writers turn UTC calendar fields into local time with a fixed +8 h, while the reader
 * reads the Time text as the computer's local time: the two agree under a fixed UTC+8 zone
 * (POSIX "CST-8", Asia/Shanghai's offset without its 1986-91 summer times or tzdata).
 */
const int beijingTime = (setenv("TZ", "CST-8", 1), tzset(), 0);

/* A camera record, as a USB POS file stores it and a 'Q' frame carries it. */
struct Record {
    int16_t id;
    int32_t lon, lat, alt; /* 1e-7 degree, mm */
    int16_t speed;
    uint16_t psi;     /* hundredths of a degree */
    int64_t utc;      /* seconds since 1970 */
    uint8_t timeType; /* 0 none, 1 calendar fields in UTC, 2 seconds */
    int32_t offsets[5];
};

/* A record of 32 or 52 bytes as the camera stores it, big-endian. */
QByteArray encode(const Record &x, int size)
{
    QByteArray r(size, '\0');
    const auto be = [&r](int at, int64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            r[at + i] = char(value >> (8 * (bytes - 1 - i)));
    };
    be(0, x.id, 2), be(6, 1234, 2), be(8, x.lon, 4), be(12, x.lat, 4), be(16, x.alt, 4);
    if (size == 32)
        be(20, x.psi * 128 / 100, 4);
    else
        be(20, x.speed, 2), be(22, x.psi, 2);
    for (int i = 0; size == 52 && i < 5; ++i)
        be(31 + 4 * i, x.offsets[i], 4);
    if (x.timeType == 2) /* and 999 ms, little-endian: below a second, not added */
        be(24, x.utc, 4), r[28] = char(0xE7), r[29] = 0x03;
    const time_t t = time_t(x.utc);
    tm u{};
    gmtime_r(&t, &u);
    const int fields[6] = {u.tm_year - 100, u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec};
    for (int i = 0; x.timeType == 1 && i < 6; ++i)
        r[24 + i] = char(fields[i]);
    r[30] = char(x.timeType);
    return r;
}

/*
 * A flight across midnight and the new year in local time, in both time forms; a record before
 * the fix without time, negative coordinates and altitude, longitude exactly 0.
 */
const std::vector<Record> flight = {
    {1, 0, 0, 500000, 0, 0, 0, 0, {0, 0, 0, 0, 0}},
    {2, 1163351344, 399115668, 520000, 20, 9000, 1483228798, 1, {1800, -1, 2500, 0, 0}},
    {3, 1163353344, -399117668, 520250, 21, 18000, 1483228799, 2, {0, 0, 12500, 0, -5}},
    {4, -1163355344, 399119668, -1500, 19, 27000, 1483228800, 1, {2000, 0, 0, 0, 0}},
    {5, 0, 399121668, 521000, 20, 4500, 1483228801, 2, {300, 0, 300, 0, 0}},
};

/* A main table read back: every record's position and time, nothing skipped. */
void expectFlight(const QString &path)
{
    const MyExcelObject table = MyExcelObject::read(path);
    EXPECT_TRUE(table.error.isEmpty()) << table.error.toStdString();
    EXPECT_EQ(table.lineCount, int(flight.size()) + 1);
    EXPECT_EQ(table.skippedLines, 0);
    ASSERT_EQ(table.positionList.size(), qsizetype(flight.size()));
    ASSERT_EQ(table.timeList.size(), qsizetype(flight.size()));
    for (size_t i = 0; i < flight.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(table.positionList[i].lon, flight[i].lon * 1e-7, 1e-9);
        EXPECT_NEAR(table.positionList[i].lat, flight[i].lat * 1e-7, 1e-9);
        EXPECT_NEAR(table.positionList[i].alt, flight[i].alt * 1e-3, 1e-9);
        EXPECT_EQ(table.timeList[i], flight[i].utc ? quint32(flight[i].utc) : kNone);
    }
}

/* A lens table read back: the records whose offset is not negative, moved along the track. */
void expectLensTable(const QString &main, int lens)
{
    SCOPED_TRACE(PosRules::lensNames[lens].toStdString());
    MyExcelObject read;
    ASSERT_TRUE(read.load(PosRules::lensTablePath(main, lens)));
    int row = 0;
    for (const Record &record : flight) {
        const int32_t offset = record.offsets[lens];
        if (offset < 0)
            continue; /* that camera did not expose */
        ASSERT_LT(row, read.positionList.size());
        const PosPoint &p = read.positionList[row++];
        double lon = record.lon * 1e-7, lat = record.lat * 1e-7;
        if (offset > 0)
            CalcNextPoint(lon, lat, offset * record.speed * 1e-6, record.psi * 0.01, &lon, &lat);
        EXPECT_NEAR(p.lon, record.lon == 0 ? 0.0 : lon, 1e-7);
        EXPECT_NEAR(p.lat, record.lat == 0 ? 0.0 : lat, 1e-7);
        EXPECT_DOUBLE_EQ(p.alt, record.alt * 1e-3);
    }
    EXPECT_EQ(row, read.positionList.size());
}

FILE *create(const QString &path)
{
    return fopen(QFile::encodeName(path).constData(), "wb");
}

/* Record size 0: 'O' rows. In lens mode every other lens table is open (and gets rows). */
TEST(PosTables, LibraryTablesReadBack)
{
    QTemporaryDir dir;
    const struct {
        const char *file;
        int recordSize;
        bool lensMode;
    } cases[] = {{"o.xls", 0, false},
                 {"q32.xls", 32, false},
                 {"q52.xls", 52, false},
                 {"lens.xls", 52, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(c.file);
        FILE *main = create(path);
        FILE *lens[POSFILE_LENSES] = {};
        for (int i = 0; c.lensMode && i < POSFILE_LENSES; i += 2) {
            ASSERT_TRUE(lens[i] = create(PosRules::lensTablePath(path, i)));
            _ofrm_initexcelheadoffsetsingle(lens[i]);
        }
        ASSERT_TRUE(main);
        c.recordSize ? _ofrm_initexcelhead_offset(main, c.recordSize) : _ofrm_initexcelhead(main);
        for (const Record &r : flight) { /* after the frame's header: 4 bytes for 'O', 9 for 'Q' */
            QByteArray f = QByteArray(c.recordSize ? 9 : 4, '\0') +
                           encode(r, c.recordSize ? c.recordSize : 32);
            f.append(QByteArray(POSFILE_Q_FRAME_LEN - f.size(), '\0'));
            f[8] = char(c.recordSize);
            const auto *frame = reinterpret_cast<const uint8_t *>(f.constData());
            c.recordSize ? posfile_write_q_row(main, lens, c.lensMode, frame)
                         : posfile_write_o_row(main, frame);
        }
        fclose(main);
        expectFlight(path);
        for (int i = 0; c.lensMode && i < POSFILE_LENSES; i += 2) {
            fclose(lens[i]);
            expectLensTable(path, i);
        }
    }
}

/* Files with trailing bytes; size 52: the five lens tables too. */
TEST(PosTables, UsbFilesReadBack)
{
    QTemporaryDir dir;
    for (int size : {32, 52}) {
        SCOPED_TRACE(size);
        QByteArray bytes;
        for (const Record &record : flight)
            bytes += encode(record, size);
        const QString source = dir.filePath(QStringLiteral("POS%1.bin").arg(size));
        ASSERT_TRUE(writeFile(source, bytes + QByteArray(size - 1, '\x7f')));
        const UsbPosListing listing = UsbPosFiles::list(dir.path(), size);
        ASSERT_TRUE(listing.problems.isEmpty());
        ASSERT_EQ(listing.files.size(), size == 32 ? 1 : 2); /* in name order */
        EXPECT_EQ(listing.files.last().path, source);
        EXPECT_EQ(listing.files.last().records, 5);
        EXPECT_EQ(listing.files.last().trailingBytes, size - 1);

        const QString table = dir.filePath(QStringLiteral("out %1/t.xls").arg(size));
        QDir().mkpath(QFileInfo(table).path());
        QStringList written;
        QString error;
        ASSERT_TRUE(UsbPosExport::exportFile({source, table}, size, true, {}, &written, &error))
            << error.toStdString();
        EXPECT_EQ(written.size(), size == 52 ? 6 : 1);
        expectFlight(table); /* a record without time shows the previous time; the first: none */
        for (int lens = 0; size == 52 && lens < 5; ++lens)
            expectLensTable(table, lens);
    }

    /* A failed or stopped export leaves no table and no temporary file behind. */
    const QString source = dir.filePath("POS52.bin"),
                  before = QDir(dir.path()).entryList(QDir::Files).join(' ');
    QStringList written;
    QString error;
    const QString missingFolder = dir.filePath("no such folder/t.xls");
    EXPECT_FALSE(UsbPosExport::exportFile({source, missingFolder}, 52, true, {}, &written, &error));
    EXPECT_TRUE(error.contains("no such folder"));
    const QString stopped = dir.filePath("stopped.xls");
    EXPECT_FALSE(UsbPosExport::exportFile(
        {source, stopped}, 52, true, [](qint64, qint64) { return false; }, &written, &error));
    EXPECT_TRUE(written.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"POS32.bin", "POS52.bin"}));
}

/* Hand-written tables: counts, skipped lines and values, never a crash. */
TEST(PosTables, BadInput)
{
    QTemporaryDir dir;
    const std::string head = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \n";
    const std::string row1 =
        "1 \t116.5 \t39.5 \t50.000 \t0 \t0 \t0 \t0 \t20 \t2023-06-14 10-20-30 \n";
    const std::string row2 =
        "2 \t116.6 \t39.6 \t51.000 \t0 \t0 \t0 \t0 \t20 \t2023/06/14 11:00:00 \n";
    const std::string table52 = "ID Lon Lat Alt Heading Pitch Roll Psi_GPS Speed Time offset1 "
                                "offset2 offset3 offset4 offset5\n";
    const quint32 t1 = 1686709230, t2 = 1686711600; /* 02:20:30 and 03:00:00 UTC */
    const PosPoint p1 = {116.5, 39.5, 50}, p2 = {116.6, 39.6, 51};
    auto crlf = [](const std::string &t) {
        return QByteArray::fromStdString(t).replace("\n", "\r\n").toStdString();
    };
    struct Case {
        const char *name, *file;
        std::optional<std::string> text; /* none: the file does not exist */
        int lineCount, skipped;
        std::vector<PosPoint> points;
        std::vector<quint32> times;
    };
    auto C = [](const char *name, const char *file, std::optional<std::string> text, int lines,
                int skipped, std::vector<PosPoint> points, std::vector<quint32> times) {
        return Case{name, file, std::move(text), lines, skipped, points, times};
    };
    const Case cases[] = {
        C("lf", "a.xls", head + row1 + row2, 3, 0, {p1, p2}, {t1, t2}),
        C("crlf", "a.xls", crlf(head + row1 + row2), 3, 0, {p1, p2}, {t1, t2}),
        C("utf-8 path, blanks", "路 径/pos 表.xls", head + row1 + row2, 3, 0, {p1, p2}, {t1, t2}),
        C("garbage lines", "a.xls", crlf(head + row1 + "hello world\n\n1 2 3\n" + row2), 6, 2,
          {p1, p2}, {t1, t2}),
        C("truncated last line", "a.xls", head + row1 + row2 + "3 \t116.7 \t39", 4, 1, {p1, p2},
          {t1, t2}),
        C("lines above the header", "a.xls", "1 2 3 4\n" + head + row1, 3, 1, {p1}, {t1}),
        C("comma tokens", "a.xls", head + "1 116.5,3 39.5 50,1 0 0 0 0 20 \n", 4, 0, {p1}, {kNone}),
        /* With time, without (offsets move one column left), and cut short after offset3. */
        C("52-byte main table", "a.xls",
          table52 + "1 116.5 39.5 50 0 0 0 0 20 2023-06-14 10-20-30 1 2 3 4 5\n" +
              "2 116.6 39.6 51 0 0 0 0 20 \t 1 2 3 4 5\n" +
              "3 116.7 39.7 52 0 0 0 0 20 2023-06-14 10-20-30 1 2 3\n",
          4, 1, {p1, p2}, {t1, kNone}),
        C("columns after Time", "a.xls",
          "ID Time Lon Lat Alt\n1 2023-06-14 10-20-30 116.5 39.5 50\n2 116.6 39.6 51\n", 3, 0,
          {p1, p2}, {t1, kNone}),
        C("no number, invalid times", "a.xls",
          head + "1 116.5 x 50 0 0 0 0 20 2023-06-14 10-20-30\n" +
              "1 116.5 39.5 50 0 0 0 0 20 2023-02-29 23-00-00\n" +
              "1 116.5 39.5 50 0 0 0 0 20 2023-06-14 24-00-00\n",
          4, 1, {p1, p1}, {kNone, kNone}),
        /* No header: a counter runs across lines, position at 2-4, date and time at 15 and 16. */
        C("headerless", "a.xls",
          "1 116.5 39.5 50 0 0 0 0 0 0 0 0 0 0 2023-06-14\n10-20-30 7 116.6 39.6 51\n", 2, 0,
          {p1, p2}, {t1}),
        C("empty", "a.xls", "", 0, 0, {}, {}),
        C("missing", "none.xls", std::nullopt, 0, 0, {}, {}),
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.filePath(c.file);
        ASSERT_TRUE(!c.text || writeFile(file, QByteArray::fromStdString(*c.text)));
        MyExcelObject table;
        EXPECT_EQ(table.load(file), c.text.has_value());
        EXPECT_EQ(table.error.isEmpty(), c.text.has_value()) << table.error.toStdString();
        EXPECT_EQ(table.path, file);
        EXPECT_EQ(table.fileName, QFileInfo(file).fileName());
        EXPECT_EQ(table.lineCount, c.lineCount);
        EXPECT_EQ(table.skippedLines, c.skipped);
        EXPECT_EQ(std::vector<quint32>(table.timeList.begin(), table.timeList.end()), c.times);
        EXPECT_EQ(std::vector<PosPoint>(table.positionList.begin(), table.positionList.end()),
                  c.points);
    }
    EXPECT_TRUE(MyExcelObject::read(dir.filePath("none.xls")).error.contains("No such file"));
}

/* Objects cross to the receiver's thread; the thread ends after each batch and starts again. */
TEST(PosTables, ThreadDeliversEveryQueuedTable)
{
    int argc = 1;
    char name[] = "test";
    char *argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    MyReadExcelThread reader;
    QObject receiver;
    std::vector<std::unique_ptr<MyExcelObject>> got;
    QEventLoop loop;
    QObject::connect(&reader, &MyReadExcelThread::newObject, &receiver, [&](MyExcelObject *o) {
        EXPECT_EQ(QThread::currentThread(), receiver.thread());
        got.emplace_back(o);
        loop.quit();
    });
    const auto waitFor = [&](size_t count) {
        const QDeadlineTimer deadline(10000);
        while (got.size() < count && !deadline.hasExpired()) {
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
            loop.exec();
        }
    };
    /* A long first table: the second is queued while the thread still reads it. */
    QTemporaryDir dir;
    const QStringList paths = {dir.filePath("one.xls"), dir.filePath("two.xls"), "three.xls"};
    ASSERT_TRUE(
        writeFile(paths[0], "ID Lon Lat Alt\n" + QByteArray("1 116.5 39.5 50\n").repeated(50000)));
    reader.load(paths[0]);
    reader.load(paths[1]);
    waitFor(2);
    reader.wait();
    reader.load(paths[2]);
    waitFor(3);
    ASSERT_EQ(got.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(got[i]->path, paths[i]);
    EXPECT_EQ(got[0]->positionList.size(), 50000);
}

TEST(PosRules, NamesAndTexts)
{
    const uint8_t zero[6] = {}, newYear[6] = {16, 12, 31, 20, 5, 9};
    /* Several files: the chosen name's stem, not the first "." of the whole path. */
    const std::pair<QString, const char *> names[] = {
        {PosRules::downloadPath("/d/my.dir/pos.xls", 2, 3), "/d/my.dir/pos3.xls"},
        {PosRules::downloadPath("/d/my.dir/pos.xls", 1, 3), "/d/my.dir/pos.xls"},
        {PosRules::downloadPath("/d/a.b/pos", 3, 10), "/d/a.b/pos10.xls"},
        {PosRules::lensTablePath("/d/x.y/p.xls", 2), "/d/x.y/pBack.xls"},
        {PosRules::usbTableName("20170101080000", 2, 1), "20170101080000POS点数据2.xls"},
        {PosRules::listTimeText(zero), "2000-00-00 00:00:00"},
        {PosRules::listTimeText(newYear), "2017-01-01 04:05:09"},
        {PosRules::digitsTimeText(newYear), "20170101040509"},
    };
    for (const auto &[got, want] : names)
        EXPECT_EQ(got, QString::fromUtf8(want));

    const std::pair<const char *, int> serials[] = {
        {"Q7X500000012345", 52}, {"Q7X4", 52}, {"Q7X2", 32}, {"Q7A1", 32}, {"Q7X9", 0}, {"R7", 0}};
    for (const auto &[serial, size] : serials)
        EXPECT_EQ(PosRules::recordSizeForSerial(QLatin1String(serial)), size) << serial;
    using P = PosRules::Protocol;
    const std::tuple<int, int, P> firmwares[] = {{3, 30, P::Plain},
                                                 {3, 31, P::EndMarker},
                                                 {4, 41, P::EndMarker},
                                                 {4, 5, P::Acknowledged},
                                                 {5, 0, P::Acknowledged}};
    for (const auto &[major, minor, protocol] : firmwares)
        EXPECT_EQ(PosRules::protocolFor(PosRules::firmwareNumber(major, minor)), protocol)
            << major << '.' << minor;
}

} // namespace
