/* The POS table reader: tables the library writes read back, bad input, and the reader thread. */
#include "pos/MyExcelObject.h"
#include "pos/MyReadExcelThread.h"
#include "posfile_internal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr quint32 kNone = MyExcelObject::InvalidTime;

/* The table writers turn UTC calendar fields into local time with a fixed +8 h, while the reader
   reads the Time text as the computer's local time: the two agree under a fixed UTC+8 zone
   (POSIX "CST-8", Asia/Shanghai's offset without its 1986-91 summer times or tzdata). */
class PosReader : public testing::Test {
protected:
    void SetUp() override
    {
        oldTz = qgetenv("TZ");
        qputenv("TZ", "CST-8");
        tzset();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override
    {
        oldTz.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldTz);
        tzset();
    }
    QString path(const QString &name) const { return dir.filePath(name); }

    QByteArray oldTz;
    QTemporaryDir dir;
};

/* A record; `utc` is what the reader must give back, written literally (from `date -u`). */
struct Record {
    int32_t lon, lat, alt;
    int timeType;   /* 0 none, 1 calendar fields in UTC, 2 seconds since 1970 (= utc) */
    uint8_t cal[6]; /* year - 2000, month, day, hour, minute, second */
    quint32 utc;
};

void be(uint8_t *at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = uint8_t(value >> (8 * (bytes - 1 - i)));
}

/* The record's six time bytes and flags byte at `t`. */
void putTime(uint8_t *t, const Record &r)
{
    if (r.timeType == 1)
        std::copy(r.cal, r.cal + 6, t);
    if (r.timeType == 2) {
        be(t, r.utc, 4);
        t[4] = 0xE7, t[5] = 0x03; /* 999 ms (little-endian): below a second, not added */
    }
    t[6] = uint8_t(r.timeType);
}

FILE *create(const QString &path)
{
    return fopen(QFile::encodeName(path).constData(), "wb");
}

TEST_F(PosReader, LibraryTablesRoundTrip)
{
    const std::vector<Record> records = {
        {1163000000, 399000000, 520123, 1, {23, 6, 14, 2, 20, 30}, 1686709230},
        {-1223456789, -339876543, -1500, 0, {}, kNone},
        {1163012345, 399012345, 521000, 2, {}, 1686711629},
        {1163024690, 399024690, 0, 1, {16, 12, 31, 20, 0, 0}, 1483214400}, /* local: 2017 */
    };
    /* Record size 0: 'O' rows. In lens mode the main table and the Front table are read. */
    const struct {
        const char *file;
        int recordSize;
        bool lensMode;
    } cases[] = {{"o.xls", 0, false},
                 {"q32.xls", 32, false},
                 {"q52.xls", 52, false},
                 {"main.xls", 52, true},
                 {"front.xls", 52, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        FILE *main = create(path(c.lensMode ? "main.xls" : c.file));
        FILE *lens[POSFILE_LENSES] = {c.lensMode ? create(path("front.xls")) : nullptr};
        ASSERT_TRUE(main && (lens[0] || !c.lensMode));
        c.recordSize ? _ofrm_initexcelhead_offset(main, c.recordSize) : _ofrm_initexcelhead(main);
        if (lens[0])
            _ofrm_initexcelheadoffsetsingle(lens[0]);
        for (const Record &r : records) {
            uint8_t f[POSFILE_Q_FRAME_LEN] = {0xEB, 0x90};
            const int at = c.recordSize ? 17 : 12; /* Lon, Lat, Alt, and 16 bytes on the time */
            be(f + at, uint32_t(r.lon), 4), be(f + at + 4, uint32_t(r.lat), 4);
            be(f + at + 8, uint32_t(r.alt), 4), putTime(f + at + 16, r);
            if (!c.recordSize) {
                posfile_write_o_row(main, f);
                continue;
            }
            f[8] = uint8_t(c.recordSize), be(f + 29, 20, 2); /* length and speed */
            posfile_write_q_row(main, lens, c.lensMode, f);  /* offsets 0: rows unchanged */
        }
        fclose(main);
        if (lens[0])
            fclose(lens[0]);

        const MyExcelObject table = MyExcelObject::read(path(c.file));
        EXPECT_TRUE(table.error.isEmpty()) << table.error.toStdString();
        EXPECT_EQ(table.lineCount, int(records.size()) + 1);
        EXPECT_EQ(table.skippedLines, 0);
        ASSERT_EQ(table.positionList.size(), qsizetype(records.size()));
        ASSERT_EQ(table.timeList.size(), qsizetype(records.size()));
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_NEAR(table.positionList[i].lon, records[i].lon * 1e-7, 1e-9) << i;
            EXPECT_NEAR(table.positionList[i].lat, records[i].lat * 1e-7, 1e-9) << i;
            EXPECT_NEAR(table.positionList[i].alt, records[i].alt * 1e-3, 1e-9) << i;
            EXPECT_EQ(table.timeList[i], records[i].utc) << i;
        }
    }
}

/* Hand-written tables: counts, skipped lines and values, never a crash. */
TEST_F(PosReader, BadInput)
{
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
        const char *name;
        QString file;
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
        const QString file = path(c.file);
        if (c.text) {
            QDir().mkpath(QFileInfo(file).path());
            QFile out(file);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(c.text->data(), qint64(c.text->size()));
        }
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
    EXPECT_TRUE(MyExcelObject::read(path("none.xls")).error.contains("No such file"));
}

/* Objects cross to the receiver's thread; the thread ends after each batch and starts again. */
TEST_F(PosReader, ThreadDeliversEveryQueuedTable)
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
    auto waitFor = [&](size_t count) {
        const QDeadlineTimer deadline(10000);
        while (got.size() < count && !deadline.hasExpired()) {
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
            loop.exec();
        }
    };
    reader.load(path("one.xls"));
    reader.load(path("two.xls"));
    waitFor(2);
    reader.wait();
    reader.load(path("three.xls"));
    waitFor(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0]->fileName, "one.xls");
    EXPECT_EQ(got[1]->fileName, "two.xls");
    EXPECT_EQ(got[2]->fileName, "three.xls");
}

} // namespace
