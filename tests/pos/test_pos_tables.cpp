/*
 * Tables from USB POS files, read back by the table reader: every record's
 * position and time survive the trip, lens tables move and drop the rows
 * their offsets say, and names follow the page's rules.
 */
#include "pos/MyExcelObject.h"
#include "pos/PosRules.h"
#include "pos/UsbPosExport.h"
#include "pos/UsbPosFiles.h"
#include "tavrin/tavrin.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

struct Record {
    int16_t id;
    int32_t lon; /* 1e-7 degree */
    int32_t lat;
    int32_t alt; /* mm */
    int16_t speed;
    uint16_t psi;     /* hundredths of a degree */
    int64_t utc;      /* seconds since 1970; 0: no time */
    uint8_t timeType; /* 1 calendar fields, 2 seconds */
    int32_t offsets[5];
};

void putBe(std::vector<uint8_t> &r, size_t at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        r[at + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

/* A record as the camera stores it. */
std::vector<uint8_t> encode(const Record &x, int size)
{
    std::vector<uint8_t> r(static_cast<size_t>(size), 0);
    putBe(r, 0, static_cast<uint16_t>(x.id), 2);
    putBe(r, 6, 1234, 2); /* heading 12.34 */
    putBe(r, 8, static_cast<uint32_t>(x.lon), 4);
    putBe(r, 12, static_cast<uint32_t>(x.lat), 4);
    putBe(r, 16, static_cast<uint32_t>(x.alt), 4);
    if (size == 52) {
        putBe(r, 20, static_cast<uint16_t>(x.speed), 2);
        putBe(r, 22, x.psi, 2);
        for (int i = 0; i < 5; ++i)
            putBe(r, 31 + 4 * static_cast<size_t>(i), static_cast<uint32_t>(x.offsets[i]), 4);
    } else {
        putBe(r, 20, static_cast<uint32_t>(x.psi * 128 / 100), 4);
    }
    if (x.utc && x.timeType == 2) {
        putBe(r, 24, static_cast<uint32_t>(x.utc), 4);
        r[28] = 0xF4, r[29] = 0x01; /* 500 ms, little-endian */
    } else if (x.utc) {
        const time_t t = static_cast<time_t>(x.utc);
        tm u{};
        gmtime_r(&t, &u);
        const int fields[6] = {u.tm_year - 100, u.tm_mon + 1, u.tm_mday,
                               u.tm_hour,       u.tm_min,     u.tm_sec};
        for (int i = 0; i < 6; ++i)
            r[24 + static_cast<size_t>(i)] = static_cast<uint8_t>(fields[i]);
    }
    r[30] = x.utc ? x.timeType : 0;
    return r;
}

/* A flight across midnight and both time forms, a record before the fix, lon exactly 0. */
const std::vector<Record> flight = {
    {1, 0, 0, 500000, 0, 0, 0, 0, {0, 0, 0, 0, 0}},
    {2, 1163351344, 399115668, 520000, 20, 9000, 1483228798, 1, {1800, -1, 2500, 0, 0}},
    {3, 1163353344, -399117668, 520250, 21, 18000, 1483228799, 2, {0, 0, 12500, 0, -5}},
    {4, -1163355344, 399119668, -1500, 19, 27000, 1483228800, 1, {2000, 0, 0, 0, 0}},
    {5, 0, 399121668, 521000, 20, 4500, 1483228801, 2, {300, 0, 300, 0, 0}},
};

class UsbTables : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        /* The camera's calendar fields are read as Beijing time: make that the local zone. */
        setenv("TZ", "Asia/Shanghai", 1);
        tzset();
    }

    QString writeSource(const QString &name, int size, int extraBytes = 0)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        for (const Record &record : flight) {
            const std::vector<uint8_t> bytes = encode(record, size);
            file.write(reinterpret_cast<const char *>(bytes.data()),
                       static_cast<qint64>(bytes.size()));
        }
        file.write(QByteArray(extraBytes, '\x7f'));
        return file.fileName();
    }

    QTemporaryDir dir;
};

TEST_F(UsbTables, RecordsRoundTripThroughTheReader)
{
    for (int size : {32, 52}) {
        SCOPED_TRACE(size);
        const QString source = writeSource(QStringLiteral("POS%1.bin").arg(size), size, size - 1);
        const UsbPosListing listing = UsbPosFiles::list(dir.path(), size);
        ASSERT_TRUE(listing.problems.isEmpty());
        const UsbPosFile *file = nullptr;
        for (const UsbPosFile &f : listing.files)
            if (f.path == source)
                file = &f;
        ASSERT_TRUE(file);
        EXPECT_EQ(file->records, 5);
        EXPECT_EQ(file->trailingBytes, size - 1);

        const QString table = dir.filePath(QStringLiteral("out %1/t.xls").arg(size));
        QDir().mkpath(QFileInfo(table).path());
        QStringList written;
        QString error;
        ASSERT_TRUE(UsbPosExport::exportFile({source, table}, size, true, {}, &written, &error))
            << error.toStdString();
        EXPECT_EQ(written.size(), size == 52 ? 6 : 1);

        MyExcelObject main;
        ASSERT_TRUE(main.load(table));
        ASSERT_EQ(main.positionList.size(), 5);
        EXPECT_EQ(main.skippedLines, 0);
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            EXPECT_DOUBLE_EQ(main.positionList[i].lon, flight[i].lon * 1e-7);
            EXPECT_DOUBLE_EQ(main.positionList[i].lat, flight[i].lat * 1e-7);
            EXPECT_DOUBLE_EQ(main.positionList[i].alt, flight[i].alt * 1e-3);
            /* A record without time shows the previous time: the first has none at all. */
            const quint32 expected =
                flight[i].utc ? static_cast<quint32>(flight[i].utc) : MyExcelObject::InvalidTime;
            EXPECT_EQ(main.timeList[i], expected);
        }
    }
}

TEST_F(UsbTables, LensTablesMoveAndDropRowsByOffset)
{
    const QString source = writeSource(QStringLiteral("lens.bin"), 52);
    const QString table = dir.filePath(QStringLiteral("pos.xls"));
    QStringList written;
    QString error;
    ASSERT_TRUE(UsbPosExport::exportFile({source, table}, 52, true, {}, &written, &error));
    for (int lens = 0; lens < 5; ++lens) {
        SCOPED_TRACE(PosRules::lensNames[lens].toStdString());
        MyExcelObject read;
        ASSERT_TRUE(read.load(PosRules::lensTablePath(table, lens)));
        int row = 0;
        for (const Record &record : flight) {
            const int32_t offset = record.offsets[lens];
            if (offset < 0)
                continue; /* that camera did not expose */
            ASSERT_LT(row, read.positionList.size());
            const PosPoint &p = read.positionList[row++];
            double lon = record.lon * 1e-7;
            double lat = record.lat * 1e-7;
            if (offset > 0)
                CalcNextPoint(lon, lat, offset * record.speed * 1e-6, record.psi * 0.01, &lon,
                              &lat);
            EXPECT_NEAR(p.lon, record.lon == 0 ? 0.0 : lon, 1e-7);
            EXPECT_NEAR(p.lat, record.lat == 0 ? 0.0 : lat, 1e-7);
            EXPECT_DOUBLE_EQ(p.alt, record.alt * 1e-3);
        }
        EXPECT_EQ(row, read.positionList.size());
    }
}

TEST_F(UsbTables, FailedExportLeavesNoTable)
{
    const QString source = writeSource(QStringLiteral("x.bin"), 52);
    QStringList written;
    QString error;
    const QString missingFolder = dir.filePath(QStringLiteral("no such folder/t.xls"));
    EXPECT_FALSE(UsbPosExport::exportFile({source, missingFolder}, 52, true, {}, &written, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("no such folder")));
    const QString table = dir.filePath(QStringLiteral("stopped.xls"));
    EXPECT_FALSE(UsbPosExport::exportFile(
        {source, table}, 52, true, [](qint64, qint64) { return false; }, &written, &error));
    EXPECT_TRUE(written.isEmpty());
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files))
        EXPECT_FALSE(name.endsWith(QLatin1String(".xls")) || name.endsWith(QLatin1String(".part")))
            << name.toStdString();
}

TEST(PosRules, NamesAndTexts)
{
    /* Several files: the chosen name's stem, not the first "." of the whole path. */
    EXPECT_EQ(PosRules::downloadPath(QStringLiteral("/d/my.dir/pos.xls"), 2, 3),
              QStringLiteral("/d/my.dir/pos3.xls"));
    EXPECT_EQ(PosRules::downloadPath(QStringLiteral("/d/my.dir/pos.xls"), 1, 3),
              QStringLiteral("/d/my.dir/pos.xls"));
    EXPECT_EQ(PosRules::downloadPath(QStringLiteral("/d/a.b/pos"), 3, 10),
              QStringLiteral("/d/a.b/pos10.xls"));
    EXPECT_EQ(PosRules::lensTablePath(QStringLiteral("/d/x.y/p.xls"), 2),
              QStringLiteral("/d/x.y/pBack.xls"));
    EXPECT_EQ(PosRules::usbTableName(QStringLiteral("20170101080000"), 2, 1),
              QStringLiteral("20170101080000POS点数据2.xls"));

    const uint8_t zero[6] = {};
    const uint8_t newYear[6] = {16, 12, 31, 20, 5, 9};
    EXPECT_EQ(PosRules::listTimeText(zero), QStringLiteral("2000-00-00 00:00:00"));
    EXPECT_EQ(PosRules::listTimeText(newYear), QStringLiteral("2017-01-01 04:05:09"));
    EXPECT_EQ(PosRules::digitsTimeText(newYear), QStringLiteral("20170101040509"));

    struct {
        const char *serial;
        int size;
    } serials[] = {
        {"Q7X500000012345", 52}, {"Q7X4", 52}, {"Q7X2", 32}, {"Q7A1", 32}, {"Q7X9", 0}, {"R7", 0}};
    for (const auto &s : serials)
        EXPECT_EQ(PosRules::recordSizeForSerial(QLatin1String(s.serial)), s.size) << s.serial;
    EXPECT_EQ(PosRules::protocolFor(PosRules::firmwareNumber(3, 30)), PosRules::Protocol::Plain);
    EXPECT_EQ(PosRules::protocolFor(PosRules::firmwareNumber(3, 31)),
              PosRules::Protocol::EndMarker);
    EXPECT_EQ(PosRules::protocolFor(PosRules::firmwareNumber(4, 41)),
              PosRules::Protocol::EndMarker);
    EXPECT_EQ(PosRules::protocolFor(PosRules::firmwareNumber(4, 5)),
              PosRules::Protocol::Acknowledged);
    EXPECT_EQ(PosRules::protocolFor(PosRules::firmwareNumber(5, 0)),
              PosRules::Protocol::Acknowledged);
}

} // namespace
