/*
 * orvex-cli cards and offload on five real exFAT cards (loop devices through
 * FUSE): every file of each photo folder reaches its lens folder, each JPEG
 * photo carries the position of its POS record (read back with exiftool)
 * with its image data untouched, what cannot be tagged is copied as it was,
 * and the cards' bytes are the same afterwards.
 */
#include "CliRun.h"
#include "LoopVolume.h"
#include "TestFiles.h"
#include "TestJpeg.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

CliRun cli(const QStringList &args, const QString &dataDir)
{
    return runCli({.args = args, .dataDir = dataDir});
}

/* Two POS tables, a line in the north-east, then one in the south-west: taken in table order. */
const QList<PosRow> northEast = {{116.3351344, 39.9115668, 520.0, "2023-06-14 11-00-01"},
                                 {116.3353344, 39.9117668, 521.25, "2023-06-14 11-00-02"},
                                 {116.3355344, 39.91197, 522.5, "2023-06-14 11-00-03"}};
const QList<PosRow> southWest = {{-58.3816123, -34.6037456, 25.5, "2023-06-14 11-00-01"},
                                 {-58.3818123, -34.6035456, 26.0, "2023-06-14 11-00-02"},
                                 {-58.3820123, -34.6033456, -3.25, "2023-06-14 11-00-03"},
                                 {-58.3822123, -34.6031456, 27.0, "2023-06-14 11-00-04"},
                                 {-58.3824123, -34.6029456, 28.0, "2023-06-14 11-00-05"}};

const char *const labels[] = {"Center", "Left", "Right", "Front", "Back"};

TEST(OffloadCards, FiveCardsCopiedGeotaggedAndLeftAsTheyWere)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    std::vector<std::unique_ptr<LoopVolume>> cards;
    for (const char *label : labels) {
        cards.push_back(std::make_unique<LoopVolume>(label, 48));
        ASSERT_TRUE(cards.back()->ok()) << cards.back()->whyNot();
    }
    const QByteArray photo = makeTestJpeg(640, 480,
                                          {QStringLiteral("Korvella"), QStringLiteral("K7 oblique"),
                                           QStringLiteral("2023:06:14 11:00:01"), 35.0, true},
                                          1);
    const QByteArray bare = makeTestJpeg(320, 240, {{}, {}, {}, 0, false}, 2);
    ASSERT_FALSE(photo.isEmpty());
    ASSERT_FALSE(bare.isEmpty());

    /* Each card: photos 0001-0005 in DCIM/100MEDIA; the Back card gets the odd ones too. */
    QStringList names = {QStringLiteral("K0001.JPG"), QStringLiteral("K0002.JPG"),
                         QStringLiteral("K0003.jpg"), QStringLiteral("K0004.JPG"),
                         QStringLiteral("K0005.JPG")};
    for (size_t i = 0; i < cards.size(); ++i) {
        const QString folder = QString::fromStdString(cards[i]->mountPath()) + "/DCIM/100MEDIA";
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(
            QDir().mkpath(QString::fromStdString(cards[i]->mountPath()) + "/DCIM/099EMPTY"));
        for (int k = 0; k < names.size(); ++k)
            ASSERT_TRUE(writeFile(folder + '/' + names[k], k == 1 ? bare : photo));
    }
    const QString back = QString::fromStdString(cards[4]->mountPath()) + "/DCIM/100MEDIA";
    ASSERT_TRUE(writeFile(back + QStringLiteral("/K0000 航拍.JPG"), photo));
    ASSERT_TRUE(writeFile(back + QStringLiteral("/K0002a.JPG"), photo.left(photo.size() / 3)));
    ASSERT_TRUE(writeFile(back + QStringLiteral("/NOTES.TXT"), "flight 7, lens back\n"));
    ASSERT_TRUE(QDir().mkpath(back + QStringLiteral("/SUB")));
    ASSERT_TRUE(writeFile(back + QStringLiteral("/SUB/K9999.JPG"), photo));

    QTemporaryDir work;
    const QString data = work.filePath(QStringLiteral("data"));
    QDir().mkpath(data);

    const CliRun found = cli({"cards", "--json"}, data);
    ASSERT_EQ(found.status, 0) << found.err.toStdString();
    int seen = 0;
    for (const QJsonValue &card : found.json[QStringLiteral("cards")].toArray())
        for (const auto &volume : cards)
            if (card[QStringLiteral("drive")].toString().toStdString() == volume->mountPath()) {
                ++seen;
                EXPECT_TRUE(
                    card[QStringLiteral("photo_folder")].toString().endsWith("/DCIM/100MEDIA"));
                EXPECT_EQ(card[QStringLiteral("label")].toString().toStdString(), volume->label());
            }
    EXPECT_EQ(seen, 5);

    /*
     * The cards' bytes before. The FUSE exFAT driver stamps an access time on
     * every read unless it is mounted noatime; mounted so for the offload,
     * any change of a card's bytes would be a write of ours.
     */
    std::vector<QString> before;
    for (auto &card : cards) {
        ASSERT_TRUE(card->unmount());
        before.push_back(sha256(QString::fromStdString(card->image())));
        ASSERT_TRUE(card->mount("noatime"));
    }

    const QString ne = work.filePath(QStringLiteral("ne.xls"));
    const QString sw = work.filePath(QStringLiteral("sw table.xls"));
    ASSERT_TRUE(writeFile(ne, posTable(northEast)) && writeFile(sw, posTable(southWest)));
    const QString save = work.filePath(QStringLiteral("save"));
    QStringList args = {"offload", "--save", save, "--pos", ne, "--pos", sw, "--pos", ne, "--json"};
    for (size_t i = 0; i < cards.size(); ++i)
        args << "--lens"
             << QStringLiteral("%1=%2/DCIM/100MEDIA")
                    .arg(QString::fromLatin1(labels[i]).toLower(),
                         QString::fromStdString(cards[i]->mountPath()));
    const CliRun offload = cli(args, data);
    ASSERT_EQ(offload.status, 0) << offload.err.toStdString();
    EXPECT_EQ(offload.json[QStringLiteral("pos_records")].toInt(), 8); /* ne given twice: once */

    const QList<PosRow> combined = northEast + southWest;
    for (const QJsonValue &lens : offload.json[QStringLiteral("lenses")].toArray()) {
        const QString key = lens[QStringLiteral("lens")].toString();
        SCOPED_TRACE(key.toStdString());
        const bool isBack = key == QLatin1String("back");
        const QString source = lens[QStringLiteral("source")].toString();
        const QString folder = lens[QStringLiteral("folder")].toString();
        EXPECT_TRUE(lens[QStringLiteral("error")].isNull());
        EXPECT_EQ(lens[QStringLiteral("planned")].toInt(), isBack ? 8 : 5);
        EXPECT_EQ(lens[QStringLiteral("done")].toInt(), isBack ? 8 : 5);
        EXPECT_EQ(lens[QStringLiteral("files_written")].toInt(), isBack ? 8 : 5);
        EXPECT_EQ(lens[QStringLiteral("skipped")].toInt(), isBack ? 1 : 0);
        /* Name order by bytes: "K0000 航拍", K0001, K0002, K0002a, K0003, ...; the text file last.
         */
        QStringList photos = names;
        if (isBack)
            photos = {QStringLiteral("K0000 航拍.JPG"),
                      names[0],
                      names[1],
                      QStringLiteral("K0002a.JPG"),
                      names[2],
                      names[3],
                      names[4]};
        EXPECT_EQ(lens[QStringLiteral("geotagged")].toInt(), isBack ? 6 : 5);
        for (int k = 0; k < photos.size(); ++k) {
            SCOPED_TRACE(photos[k].toStdString());
            const QByteArray original = readAll(source + '/' + photos[k]);
            const QByteArray copy = readAll(folder + '/' + photos[k]);
            ASSERT_FALSE(copy.isEmpty());
            if (photos[k] == QLatin1String("K0002a.JPG")) {
                EXPECT_TRUE(copy == original); /* truncated: copied as it was */
                continue;
            }
            EXPECT_TRUE(jpegImageData(copy) == jpegImageData(original));
            const QJsonObject exif = exiftoolJson(folder + '/' + photos[k]);
            const PosRow &p = combined[k];
            /* Angles are written to six significant digits. */
            EXPECT_NEAR(exif[QStringLiteral("GPSLatitude")].toDouble(), p.lat,
                        5e-6 * std::fabs(p.lat));
            EXPECT_NEAR(exif[QStringLiteral("GPSLongitude")].toDouble(), p.lon,
                        5e-6 * std::fabs(p.lon));
            EXPECT_NEAR(exif[QStringLiteral("GPSAltitude")].toDouble(), p.alt, 1e-3);
            EXPECT_EQ(exif[QStringLiteral("GPSAltitudeRef")].toInt(), p.alt < 0 ? 1 : 0);
            EXPECT_DOUBLE_EQ(exif[QStringLiteral("FocalLength")].toDouble(),
                             original == bare ? 30.0 : 35.0);
            if (original != bare) {
                EXPECT_EQ(exif[QStringLiteral("Model")].toString(), QStringLiteral("K7 oblique"));
            }
        }
        if (isBack) {
            EXPECT_EQ(readAll(folder + QStringLiteral("/NOTES.TXT")), "flight 7, lens back\n");
            EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/SUB")));
            EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/K9999.JPG")));
        }
        EXPECT_TRUE(QDir(folder)
                        .entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden)
                        .isEmpty());
        /* One information line per photo, after the header. */
        const QList<QByteArray> lines = readAll(data + '/' + key + ".txt").trimmed().split('\n');
        EXPECT_EQ(lines.size(), 1 + photos.size());
    }

    for (size_t i = 0; i < cards.size(); ++i) {
        ASSERT_TRUE(cards[i]->unmount());
        EXPECT_EQ(sha256(QString::fromStdString(cards[i]->image())), before[i]) << labels[i];
    }
}

TEST(OffloadCards, RefusesBeforeCopyingAnything)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    LoopVolume card("Front", 16);
    ASSERT_TRUE(card.ok()) << card.whyNot();
    const QString folder = QString::fromStdString(card.mountPath()) + "/DCIM/100MEDIA";
    QDir().mkpath(folder);
    writeFile(folder + "/K0001.JPG", "not really a photo");
    QTemporaryDir work;
    const QString lens = QStringLiteral("front=") + folder;
    struct Case {
        QStringList args;
        int status;
        const char *says;
    } cases[] = {
        {{"--save", work.filePath("s1"), "--lens", lens, "--pos", work.filePath("none.xls")},
         1,
         "none.xls"},
        {{"--save", QString::fromStdString(card.mountPath()) + "/OUT", "--lens", lens},
         1,
         "is on the card"},
        {{"--save", "/proc/orvex-test", "--lens", lens}, 1, "/proc/orvex-test"},
        {{"--save", work.filePath("s2"), "--lens", "middle=" + folder}, 2, "middle"},
        {{"--lens", lens}, 2, "--save"},
    };
    for (const Case &c : cases) {
        const CliRun run = cli(QStringList{"offload"} + c.args, work.path());
        EXPECT_EQ(run.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.says))) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(work.filePath("s1/Front")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(card.mountPath()) + "/OUT"));
}

/* The photos a BlocksExchange file lists, as "ImagePath x y" (no Pose: "ImagePath -"). */
QStringList exchangePhotos(const QString &path)
{
    QDomDocument document;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file))
        return {QStringLiteral("unreadable ") + path};
    QStringList photos;
    const QDomNodeList list = document.elementsByTagName(QStringLiteral("Photo"));
    for (int i = 0; i < list.size(); ++i) {
        const QDomElement photo = list.at(i).toElement();
        const QDomElement center = photo.firstChildElement(QStringLiteral("Pose"))
                                       .firstChildElement(QStringLiteral("Center"));
        photos << photo.firstChildElement(QStringLiteral("ImagePath")).text() + ' ' +
                      (center.isNull()
                           ? QStringLiteral("-")
                           : center.firstChildElement(QStringLiteral("x")).text() + ' ' +
                                 center.firstChildElement(QStringLiteral("y")).text());
    }
    return photos;
}

/*
 * Copy mode with sorties: two POS tables ten minutes apart; the Front camera's
 * clock is right, the Back camera's 100 s fast. Each photo goes to the sortie
 * its time (moved by its lens's offset) falls in, and takes that sortie's
 * records in turn.
 */
TEST(OffloadCards, SortiesByShootingTimeWithEachLensClock)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    LoopVolume front("Front", 16);
    LoopVolume back("Back", 16);
    ASSERT_TRUE(front.ok() && back.ok()) << front.whyNot() << back.whyNot();
    /* Seconds after 11:00:00 of the photos; the second sortie starts at 11:10:00. */
    const int shots[] = {0, 2, 4, 600, 602, 300};
    QStringList lensArgs;
    for (auto [card, fast] : {std::pair{&front, 0}, std::pair{&back, 100}}) {
        const QString folder = QString::fromStdString(card->mountPath()) + "/DCIM/100MEDIA";
        QDir().mkpath(folder);
        for (int k = 0; k < 6; ++k) {
            const int t = shots[k] + fast;
            const QString time = QStringLiteral("2023:06:14 11:%1:%2")
                                     .arg(t / 60, 2, 10, QLatin1Char('0'))
                                     .arg(t % 60, 2, 10, QLatin1Char('0'));
            ASSERT_TRUE(writeFile(folder + QStringLiteral("/K%1.JPG").arg(k),
                                  makeTestJpeg(64, 48, {"Korvella", "K7", time, 35.0, true}, k)));
        }
        lensArgs << "--lens" << QString::fromStdString(card->label()).toLower() + '=' + folder;
    }
    QTemporaryDir work;
    /* Sortie 1: records at 11:00:00, :02 (two); sortie 2: 11:10:00 to :04 (three). */
    auto table = [&](const QString &name, int minute, int count, double lat) {
        QList<PosRow> rows;
        for (int i = 0; i < count; ++i)
            rows.append({116.0 + i / 100.0, lat + i, 500,
                         QStringLiteral("2023-06-14 11-%1-%2")
                             .arg(minute, 2, 10, QLatin1Char('0'))
                             .arg(2 * i, 2, 10, QLatin1Char('0'))});
        writeFile(work.filePath(name), posTable(rows));
        return work.filePath(name);
    };
    const QString second = table("second.xls", 10, 3, 20.0);
    const QString first = table("first.xls", 0, 2, 10.0);
    /* Given late flight first: the sorties are still numbered by time. */
    const CliRun run = cli(QStringList{"offload", "--save", work.filePath("save"), "--pos", second,
                                       "--pos", first, "--sorties", "--json"} +
                               lensArgs,
                           work.path());
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    /*
     * Sortie 1 spans 11:00:00-11:00:02, widened by 2 s: K0 (0 s), K1 (2 s) and K2 (4 s) fall in,
     * K2 beyond its two records (no Pose); K3 and K4 belong to sortie 2; K5 (5 minutes) to none.
     * Back: its first photo sets its offset to -100 s, so it matches as Front does.
     */
    const QStringList one = {".\\Back\\K0.JPG 116 10",     ".\\Back\\K1.JPG 116.01 11",
                             ".\\Back\\K2.JPG -",          ".\\Front\\K0.JPG 116 10",
                             ".\\Front\\K1.JPG 116.01 11", ".\\Front\\K2.JPG -"};
    const QStringList two = {".\\Back\\K3.JPG 116 20", ".\\Back\\K4.JPG 116.01 21",
                             ".\\Front\\K3.JPG 116 20", ".\\Front\\K4.JPG 116.01 21"};
    EXPECT_EQ(exchangePhotos(work.filePath(QStringLiteral("save/第1架次.xml"))), one);
    EXPECT_EQ(exchangePhotos(work.filePath(QStringLiteral("save/第2架次.xml"))), two);
    EXPECT_EQ(run.json[QStringLiteral("exchange_files")].toArray().size(), 2);
}

} // namespace
