/* Photo information lines read back, photos assigned to sorties, BlocksExchange files. */
#include "dataservice/BlocksExchangeWriter.h"

#include "TestFiles.h"

#include <QDateTime>
#include <QDomDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

namespace {

const qint64 B = QDateTime(QDate(2024, 5, 1), QTime(9, 0, 0)).toSecsSinceEpoch();

QByteArray line(const char *name, qint64 time, const char *model = "ILCE-5100")
{
    return QStringLiteral("/save/x/%1,%2,SONY,35,6000,4000,%3,2024:05:01 09:00:00\n")
        .arg(QLatin1String(name), QLatin1String(model))
        .arg(time)
        .toUtf8();
}

QString written(const QString &path, const QByteArray &bytes)
{
    return writeFile(path, bytes) ? path : QString();
}

QStringList childNames(const QDomElement &parent)
{
    QStringList names;
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        names << e.tagName();
    return names;
}

QString text(const QDomElement &e, const char *path)
{
    QDomElement at = e;
    for (const QString &name : QString::fromLatin1(path).split('/'))
        at = at.firstChildElement(name);
    return at.text();
}

TEST(BlocksExchange, Assign)
{
    const Sortie s0{{100, 104}, {}}, s1{{106, 110}, {}}, none{};
    const qint64 min = std::numeric_limits<qint64>::min();
    const qint64 max = std::numeric_limits<qint64>::max();
    const struct {
        const char *name;
        QList<Sortie> sorties;
        QList<qint64> times;
        QList<QList<int>> want;
    } cases[] = {
        {"offset from the first line", {s0}, {500, 497, 498, 506, 507}, {{0, 2, 3}}},
        {"overlapping windows", {s0, s1}, {100, 103, 105, 107, 112, 113}, {{0, 1, 2}, {2, 3, 4}}},
        {"empty sortie matches nothing", {s0, none}, {100, 101}, {{0, 1}, {}}},
        {"offset from the first sortie with times", {none, s1}, {0, 6, 7}, {{}, {0, 1}}},
        {"garbage times", {s0}, {min, max, min + 2}, {{0, 2}}},
        {"no photos", {s0}, {}, {{}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QList<PhotoLine> lines;
        for (qint64 t : c.times)
            lines.append(PhotoLine{"p", "", "", "", 0, 0, t, ""});
        EXPECT_EQ(BlocksExchangeWriter::assign(c.sorties, lines), c.want);
    }
}

/*
 * Two sorties ten minutes apart; Right's clock is 100 s ahead of the POS table, Left's 50 s
 * behind, Centre's 3601 s ahead. Front and Back have no source. Left's information file has
 * lines that are no photo lines, a photo listed twice (its last line counts, at the place of its
 * first), a comma in a name and a torn last line.
 */
TEST(BlocksExchange, WritesOneFilePerSortie)
{
    QTemporaryDir dir;
    const auto pos = [](int k, int i) {
        return GeoPosition{116.1234567 + k, 39.9 + 0.001 * i, 500.0 + i};
    };
    QList<Sortie> sorties(2);
    for (int k = 0; k < 2; ++k) {
        for (int i = 0; i < 4 - k; ++i) { // four records, then three
            sorties[k].times << quint32(B + 600 * k + 2 * i);
            sorties[k].positions << pos(k, i);
        }
    }
    const QByteArray right = line("r1.jpg", B + 100) + line("r2.jpg", B + 102) +
                             line("r3.jpg", B + 109) + line("r4.jpg", B + 698) +
                             line("r5.jpg", B + 702) + line("r6.jpg", B + 704) +
                             line("r7.jpg", B + 706);
    const QByteArray header = "照片路径,Model,make,focallength,width,height,time\n";
    const QByteArray left = header + line("l1.jpg", B - 50) + "garbage\n" + line("l2.jpg", B - 46) +
                            "\n/x/c.jpg,M,K,35,wide,4000,104,d\n/x/d.jpg,M,K,35,6000,4000,1e3,d\n" +
                            header + line("l,3.jpg", B - 42) + line("l2.jpg", B - 45) +
                            line("l4.jpg", B + 552) + "/save/x/l5.jpg,ILCE";
    const QByteArray centre =
        line("c1.jpg", B + 3601) + line("c2.jpg", B + 3901) + line("c3.jpg", B + 4203);
    QList<LensPhotos> lenses;
    QList<int> skipped;
    for (const auto &[disk, bytes] : {std::pair{0, centre}, {1, left}, {2, right}}) {
        const QString file = written(dir.filePath(QString::number(disk)), bytes);
        lenses.append({disk, BlocksExchangeWriter::readPhotoLines(file, &skipped.emplaceBack())});
    }
    EXPECT_EQ(skipped, QList<int>({0, 4, 0})); // garbage, width, time, torn last line
    QByteArray parsed;
    for (const PhotoLine &l : lenses[1].lines)
        parsed += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8\n")
                      .arg(l.path, l.model, l.make, l.focalLength, QString::number(l.width),
                           QString::number(l.height), QString::number(l.time), l.dateText)
                      .toUtf8();
    EXPECT_EQ(parsed, line("l1.jpg", B - 50) + line("l2.jpg", B - 45) + line("l,3.jpg", B - 42) +
                          line("l4.jpg", B + 552));
    QString error;
    EXPECT_TRUE(
        BlocksExchangeWriter::readPhotoLines(dir.filePath("none"), &skipped[0], &error).isEmpty());
    EXPECT_TRUE(error.contains(dir.filePath("none"))) << error.toStdString();
    written(dir.filePath("第1架次.xml"), "stale");

    QStringList files;
    ASSERT_TRUE(BlocksExchangeWriter::write(dir.path(), sorties, lenses, &files, &error))
        << error.toStdString();
    EXPECT_EQ(files, QStringList({dir.filePath("第1架次.xml"), dir.filePath("第2架次.xml")}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3 + 2); // no temporaries left

    // Per file: each group's name, then each photo's Id, path and POS record ("-": no Pose).
    const QString want[] = {
        R"(Photogroup 1: 1 .\Right\r1.jpg@0 2 .\Right\r2.jpg@1 )"
        R"(Photogroup 2: 3 .\Left\l1.jpg@0 4 .\Left\l2.jpg@1 5 .\Left\l,3.jpg@2 )"
        R"(Photogroup 3: 6 .\Center\c1.jpg@0 )",
        R"(Photogroup 1: 1 .\Right\r4.jpg@0 2 .\Right\r5.jpg@1 3 .\Right\r6.jpg@2 )"
        R"(4 .\Right\r7.jpg@- Photogroup 2: 5 .\Left\l4.jpg@0 Photogroup 3: 6 .\Center\c3.jpg@0 )",
    };
    QDomDocument docs[2];
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(docs[k].setContent(readAll(files.value(k))));
        const QDomElement root = docs[k].documentElement();
        EXPECT_EQ(root.tagName() + root.attribute("version"), "BlocksExchange3.2");
        EXPECT_EQ(childNames(root), QStringList({"SpatialReferenceSystems", "Block"}));
        const QDomElement srs = root.firstChildElement().firstChildElement("SRS");
        EXPECT_EQ(childNames(srs), QStringList({"Id", "Name", "Definition"}));
        const QDomElement block = root.firstChildElement("Block");
        EXPECT_EQ(childNames(block), QStringList({"Name", "Description", "SRSId", "Photogroups"}));
        EXPECT_EQ(text(block, "Name"), QString("Block_%1.xml").arg(k + 1));

        QString got;
        const QDomElement groups = block.firstChildElement("Photogroups");
        for (QDomElement g = groups.firstChildElement(); !g.isNull(); g = g.nextSiblingElement()) {
            EXPECT_EQ(childNames(g).mid(0, 7),
                      QStringList({"Name", "ImageDimensions", "CameraModelType", "FocalLength",
                                   "SensorSize", "ExifData", "AspectRatio"}));
            got += text(g, "Name") + ": ";
            for (QDomElement p = g.firstChildElement("Photo"); !p.isNull();
                 p = p.nextSiblingElement("Photo")) {
                const QDomElement c = p.firstChildElement("Pose").firstChildElement("Center");
                QString record = c.isNull() ? "-" : "?";
                for (int i = 0; i < 4 && !c.isNull(); ++i) {
                    const GeoPosition w = pos(k, i);
                    if (text(c, "x") == QString::number(w.lon, 'g', 6) &&
                        text(c, "y") == QString::number(w.lat, 'g', 6) &&
                        text(c, "z") == QString::number(w.alt, 'g', 6))
                        record = QString::number(i);
                }
                got += text(p, "Id") + ' ' + text(p, "ImagePath") + '@' + record + ' ';
            }
        }
        EXPECT_EQ(got, want[k]);
    }
    const QDomElement group = docs[0].elementsByTagName("Photogroup").at(1).toElement(); // Left
    EXPECT_EQ(text(group, "ImageDimensions/Width") + text(group, "FocalLength") +
                  text(group, "ExifData/Model"),
              "600035ILCE-5100");
    const QDomElement l2 = group.elementsByTagName("Photo").at(1).toElement();
    EXPECT_EQ(text(l2, "Pose/Center/x"), "116.123"); // six significant digits
    EXPECT_EQ(text(l2, "ExifData/DateTimeOriginal"), // the last line of a repeated photo
              QDateTime::fromSecsSinceEpoch(B - 45).toString("yyyy-MM-dd hh:mm:ss"));
}

} // namespace
