/* Geotagging photos in memory, read back with exiftool, and the photo information files. */
#include "dataservice/Geotagger.h"
#include "dataservice/PhotoInfoFile.h"

#include "TestFiles.h"
#include "TestJpeg.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

namespace {

QJsonObject exifOf(const QByteArray &jpeg, const QString &path)
{
    return writeFile(path, jpeg) ? exiftoolJson(path) : QJsonObject();
}

TEST(Geotagger, RationalTexts)
{
    using Geotagger::altitudeRational, Geotagger::coordinateRational;
    const std::pair<QString, const char *> cases[] = {
        {coordinateRational(30.5), "30/1 30/1 0/1000000"},
        {coordinateRational(30.123456), "30/1 7/1 24599999/1000000"},  // 30.1235, steps truncated
        {coordinateRational(-30.123456), "30/1 7/1 24599999/1000000"}, // sign: in the Ref tag
        {coordinateRational(0), "0/1 0/1 0/1000000"},
        {coordinateRational(0.25), "0/1 15/1 0/1000000"},
        {coordinateRational(179.9999996), "180/1 0/1 0/1000000"},
        {altitudeRational(523.456), "523456/1000"},
        {altitudeRational(-12.5), "12500/1000"},
        {altitudeRational(1.001), "1001/1000"}, // 1000.9999999999999 mm in doubles
        {altitudeRational(0), "0/1000"},
        {altitudeRational(1234567.8), "1234570000/1000"},
    };
    for (const auto &[got, want] : cases)
        EXPECT_EQ(got, QLatin1String(want));
}

/* Each photo tagged alone, then all at once on five threads (one per lens): the same bytes. */
TEST(Geotagger, WritesPositionAndKeepsTheRest)
{
    QTemporaryDir dir;
    std::vector<QByteArray> inputs, outputs;
    const struct {
        const char *name;
        TestExif exif;
        std::optional<GeoPosition> pos;
        double focal; // after tagging
    } rows[] = {
        {"north-east",
         {"Orvex", "Q7 Center", "2024:05:06 07:08:09", 24.5},
         {{116.391234, 39.907654, 523.456}},
         24.5},
        {"south-west, below sea level",
         {"Orvex", "Q7 Left", "2023:12:31 23:59:59"},
         {{-70.123456, -33.456789, -12.5}},
         30},
        {"zero, no EXIF at all", {"", "", "", 0, false}, {{0, 0, 0}}, 30},
        {"no position", {"Orvex", "Q7 Back", "2024:01:02 03:04:05", 35}, std::nullopt, 35},
    };
    int seed = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray input = makeTestJpeg(160, 120, row.exif, ++seed);
        QByteArray tagged;
        PhotoInfo info;
        QString error;
        ASSERT_TRUE(Geotagger::tag(input, row.pos ? &*row.pos : nullptr, &tagged, &info, &error))
            << error.toStdString();
        ASSERT_FALSE(jpegImageData(input).isEmpty());
        EXPECT_EQ(jpegImageData(tagged), jpegImageData(input));
        inputs.push_back(input), outputs.push_back(tagged);

        const QJsonObject before = exifOf(input, dir.filePath("in.jpg"));
        const QJsonObject after = exifOf(tagged, dir.filePath("out.jpg"));
        ASSERT_FALSE(after.isEmpty());
        const auto number = [&after](const char *key) {
            return after.value(QLatin1String(key)).toDouble(-999);
        };
        for (const char *key : {"Make", "Model", "DateTimeOriginal", "ISO", "ExposureTime"})
            EXPECT_EQ(after.value(QLatin1String(key)), before.value(QLatin1String(key))) << key;
        EXPECT_DOUBLE_EQ(number("FocalLength"), row.focal);
        if (row.pos) {
            const GeoPosition &p = *row.pos;
            auto near = [](double v) { return 5e-6 * std::fabs(v) + 1e-8; }; // six digits
            EXPECT_NEAR(number("GPSLatitude"), p.lat, near(p.lat)); // signed from value and Ref
            EXPECT_NEAR(number("GPSLongitude"), p.lon, near(p.lon));
            EXPECT_NEAR(number("GPSAltitude"), p.alt, near(p.alt));
            EXPECT_EQ(number("GPSAltitudeRef"), p.alt < 0 ? 1 : 0);
            EXPECT_EQ(after.value(QLatin1String("GPSVersionID")), QLatin1String("2 2 0 0"));
        } else {
            EXPECT_EQ(tagged, input);
            EXPECT_FALSE(after.contains(QLatin1String("GPSLatitude")));
        }

        const QString &date = row.exif.dateTimeOriginal;
        EXPECT_EQ(info.make, row.exif.make);
        EXPECT_EQ(info.model, row.exif.model);
        EXPECT_EQ(info.dateTimeOriginal, date);
        EXPECT_EQ(info.shotTime,
                  date.isEmpty()
                      ? 0 // read as local time
                      : QDateTime::fromString(date, "yyyy:MM:dd hh:mm:ss").toSecsSinceEpoch());
        EXPECT_DOUBLE_EQ(info.focalLength, row.focal);
        EXPECT_EQ(info.width, 160);
        EXPECT_EQ(info.height, 120);
    }

    Geotagger::initialize();
    std::atomic<int> mismatches = 0;
    std::vector<std::thread> workers;
    for (size_t i = 0; i < 5; ++i) {
        workers.emplace_back([&, row = i % std::size(rows)] {
            const GeoPosition *at = rows[row].pos ? &*rows[row].pos : nullptr;
            for (int n = 0; n < 20; ++n) {
                QByteArray out;
                mismatches +=
                    !Geotagger::tag(inputs[row], at, &out, nullptr, nullptr) || out != outputs[row];
            }
        });
    }
    for (auto &w : workers)
        w.join();
    EXPECT_EQ(mismatches, 0);
}

TEST(Geotagger, RefusesWhatItCannotTag)
{
    const QByteArray good = makeTestJpeg(160, 120, {"Orvex", "Q7", "2024:05:06 07:08:09", 24}, 7);
    const qsizetype scan = good.size() - jpegImageData(good).size();
    ASSERT_LT(scan, good.size());

    const GeoPosition here{116.4, 39.9, 50};
    const struct {
        const char *name;
        QByteArray bytes;
        GeoPosition pos;
        int width; // what the headers still tell
    } rows[] = {
        {"empty", QByteArray(), here, 0},
        {"text", QByteArray("not a photo, just words"), here, 0},
        {"TIFF", QByteArray("II*\0\x08\0\0\0\0\0", 10), here, 0},
        {"cut in the headers", good.left(scan / 2), here, 0},
        {"cut in the image data", good.left(scan + (good.size() - scan) / 2), here, 160},
        {"latitude beyond the pole", good, {116.4, 91, 50}, 160},
        {"altitude not a number", good, {116.4, 39.9, std::nan("")}, 160},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QByteArray tagged("untouched");
        PhotoInfo info;
        QString error;
        EXPECT_FALSE(Geotagger::tag(row.bytes, &row.pos, &tagged, &info, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(tagged, QByteArray("untouched"));
        EXPECT_EQ(info.width, row.width);
    }

    // Only the eight EXIF orientations can be set. (Damaged headers are fuzz_geotagger's.)
    for (const int orientation : {0, 9}) {
        QByteArray headers("untouched");
        qsizetype start = -1;
        QString error;
        EXPECT_FALSE(
            Geotagger::setOrientation(good, orientation, &headers, &start, nullptr, &error));
        EXPECT_TRUE(error.contains("1 to 8")) << error.toStdString();
    }
}

TEST(PhotoInfoFile, KeepsOldFilesAndAppendsLines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("center.txt");
    {
        PhotoInfoFile file(dir.path(), "center");
        EXPECT_EQ(file.path(), path);
        // Two fresh starts, likely within one second: two dated files, nothing lost.
        for (const char *old : {"first transfer\n", "second transfer\n"}) {
            ASSERT_TRUE(writeFile(path, old));
            QString error;
            ASSERT_TRUE(file.startFresh(&error)) << error.toStdString();
            EXPECT_FALSE(QFile::exists(path));
        }
        const QStringList kept = QDir(dir.path()).entryList({"center-*.txt"});
        const QRegularExpression dated("^center-\\d{8}-\\d{6}(-2)?\\.txt$");
        ASSERT_EQ(kept.size(), 2);
        EXPECT_TRUE(dated.match(kept[0]).hasMatch() && dated.match(kept[1]).hasMatch());
        const QByteArray both = readAll(dir.filePath(kept[0])) + readAll(dir.filePath(kept[1]));
        EXPECT_TRUE(both == "first transfer\nsecond transfer\n" ||
                    both == "second transfer\nfirst transfer\n");

        const std::pair<const char *, PhotoInfo> rows[] = {
            {"/save/Center/DSC00001.JPG",
             {"Orvex", "Q7 Center", 24.4, 6000, 4000, "2024:05:06 07:08:09", 1714950489}},
            {"/save/Center/无EXIF.JPG", {}},
            {"/save/Center/DSC00003.JPG", {"Maker, Inc.", "Q7\nX", 30, 8, 8, "", 0}},
        };
        for (const auto &[photo, info] : rows) {
            QString error;
            ASSERT_TRUE(file.append(QString::fromUtf8(photo), info, &error)) << error.toStdString();
        }
    }
    PhotoInfoFile again(dir.path(), "center"); // a later run of the program
    ASSERT_TRUE(again.append("/save/Center/DSC00004.JPG", {}, nullptr));

    const QByteArray header = "照片路径,Model,make,focallength,width,height,time\n";
    EXPECT_EQ(readAll(path), header +
                                 "/save/Center/DSC00001.JPG,Q7 Center,Orvex,24,6000,4000,"
                                 "1714950489,2024:05:06 07:08:09\n"
                                 "/save/Center/无EXIF.JPG,,,0,0,0,0,\n"
                                 "/save/Center/DSC00003.JPG,Q7 X,Maker  Inc.,30,8,8,0,\n" +
                                 header + "/save/Center/DSC00004.JPG,,,0,0,0,0,\n");
}

} // namespace
