// orvex-cli orientation over a folder tree with blanks and Chinese names, read back with
// exiftool: the photos with a taken suffix end with orientation 1 and their image unchanged,
// everything else keeps every byte, the photos it cannot change are named, and no temporary
// file is left behind.
#include "CliRun.h"
#include "TestJpeg.h"

#include <QImage>
#include <QtCore>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

CliRun cli(const QStringList &args)
{
    return runCli({.args = args, .timeoutMs = 120000});
}

/* Everything under `root` but folders: name and bytes. */
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        files.insert(file.fileName(), file.open(QIODevice::ReadOnly) ? file.readAll() : "");
    }
    return files;
}

/* Locked: refused when its folder could be made unwritable, else reset. */
enum Expect { Reset, Kept, Refused, Locked };

} // namespace

TEST(OrientationCli, ResetsTheTreeKeepsTheRestAndNamesWhatItCannotChange)
{
    QTemporaryDir temp;
    const QString root = temp.filePath(QStringLiteral("照片 根"));
    const QString locked = root + QStringLiteral("/只读 夹");
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/子 目录/.隐藏 夹")) && QDir().mkpath(locked));
    const QByteArray jpeg = makeTestJpeg(96, 64, {"Orvex", "Q7", "2024:05:06 07:08:09", 24}, 1);
    const QByteArray bare = makeTestJpeg(96, 64, {{}, {}, {}, 0, false}, 2);
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(image.save(&buffer, "PNG") && !jpeg.isEmpty() && !bare.isEmpty());
    const qsizetype headerEnd = jpeg.size() - jpegImageData(jpeg).size();
    const struct {
        QString name;
        QByteArray bytes;
        int orientation; // written with exiftool before the run; 0: none
        Expect expect;
    } rows[] = {
        {"a 1.jpg", jpeg, 6, Reset},
        {"B 2.JPG", jpeg, 8, Reset},
        {"c.jpeg", jpeg, 3, Reset},
        {".hidden.jpg", jpeg, 6, Reset},
        {"e 图.png", png, 6, Reset},
        {"子 目录/无方向.jpg", bare, 0, Reset},
        {"子 目录/.隐藏 夹/g.jpg", jpeg, 1, Kept}, // already 1: not rewritten
        {"d.JPEG", jpeg, 6, Kept},
        {"f.PNG", png, 6, Kept},
        {"notes.txt", "words", 0, Kept},
        {"子 目录/.JPG", "not a photo", 0, Refused},
        {"子 目录/截断.jpg", jpeg.left(headerEnd / 2), 0, Refused},
        {"只读 夹/h.jpg", jpeg, 6, Locked},
    };
    for (const auto &row : rows) {
        QFile file(root + QLatin1Char('/') + row.name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(row.bytes) == row.bytes.size());
        file.close();
        if (row.orientation) {
            ASSERT_EQ(QProcess::execute("exiftool",
                                        {"-q", "-overwrite_original", "-n",
                                         QStringLiteral("-Orientation=%1").arg(row.orientation),
                                         file.fileName()}),
                      0);
        }
    }
    QFile::setPermissions(root + QStringLiteral("/a 1.jpg"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    // A link is not followed: the photo outside the tree keeps its orientation.
    QFile::copy(root + QStringLiteral("/a 1.jpg"), temp.filePath(QStringLiteral("outside.jpg")));
    QFile::link(temp.filePath(QStringLiteral("outside.jpg")), root + QStringLiteral("/link.jpg"));
    // A name in GBK on a UTF-8 system cannot be opened by its decoded name, not even by root.
    const QByteArray gbk = QFile::encodeName(root) + "/gbk-\xD5\xD5\xC6\xAC.jpg";
    const int fd = ::open(gbk.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_TRUE(fd >= 0 && ::write(fd, jpeg.constData(), size_t(jpeg.size())) == jpeg.size());
    ::close(fd);
    // A folder that cannot be written: read-only for a user, immutable for root (where the
    // file system and the container allow it).
    const bool asRoot = ::geteuid() == 0;
    const bool lockable = asRoot
                              ? QProcess::execute(QStringLiteral("chattr"), {"+i", locked}) == 0
                              : QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    const auto cleanup = qScopeGuard([&] { // what QTemporaryDir cannot remove by itself
        if (asRoot)
            QProcess::execute(QStringLiteral("chattr"), {"-i", locked});
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ::unlink(gbk.constData());
    });
    const QMap<QString, QByteArray> before = snapshot(temp.path());
    const CliRun run = cli({QStringLiteral("orientation"), root, QStringLiteral("--json")});
    const QMap<QString, QByteArray> after = snapshot(temp.path());
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_EQ(before.keys(), after.keys()) << "a file appeared or vanished";
    EXPECT_EQ(run.json.value("found").toInt(), 10);
    EXPECT_EQ(run.json.value("changed").toInt(), lockable ? 6 : 7);
    EXPECT_EQ(run.json.value("unchanged").toInt(), 1);
    EXPECT_EQ(run.json.value("failures").toArray().size(), lockable ? 4 : 3);
    EXPECT_TRUE(run.err.contains(QRegularExpression(QStringLiteral("gbk-.*not valid UTF-8"))))
        << run.err.toStdString();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        const QString path = root + QLatin1Char('/') + row.name;
        const Expect expect = row.expect == Locked ? (lockable ? Refused : Reset) : row.expect;
        EXPECT_EQ(run.err.contains(row.name.section(QLatin1Char('/'), -1)), expect == Refused)
            << run.err.toStdString();
        if (expect != Reset) {
            EXPECT_EQ(after.value(path), before.value(path));
            continue;
        }
        const QJsonObject exif = exiftoolJson(path);
        EXPECT_EQ(exif.value("Orientation").toInt(), 1);
        if (row.name.endsWith(QLatin1String(".png"))) {
            EXPECT_EQ(QImage::fromData(after.value(path)), QImage::fromData(before.value(path)));
            continue;
        }
        EXPECT_EQ(jpegImageData(after.value(path)), jpegImageData(before.value(path)));
        if (row.bytes == jpeg) { // EXPECT_EQ is an if of its own
            EXPECT_EQ(exif.value("Make").toString(), QStringLiteral("Orvex"));
        }
    }
    struct stat mode {};
    ASSERT_EQ(::stat(QFile::encodeName(root + QStringLiteral("/a 1.jpg")).constData(), &mode), 0);
    EXPECT_EQ(mode.st_mode & 07777, 0640u);
    EXPECT_EQ(after.value(temp.filePath(QStringLiteral("outside.jpg"))),
              before.value(temp.filePath(QStringLiteral("outside.jpg"))));
    // A second run finds nothing left to change; a missing folder and a bad call fail clearly.
    const CliRun again = cli({QStringLiteral("orientation"), root, QStringLiteral("--json")});
    EXPECT_EQ(again.json.value("changed").toInt(), 0);
    EXPECT_EQ(again.json.value("unchanged").toInt(), lockable ? 7 : 8);
    EXPECT_EQ(snapshot(temp.path()), after);
    const struct {
        QStringList args;
        int status;
        const char *says;
    } calls[] = {{{temp.filePath("无")}, 1, "no such folder"},
                 {{}, 2, "needs a folder"},
                 {{root, root}, 2, "unexpected argument"},
                 {{root, "--fast"}, 2, "--fast"}};
    for (const auto &call : calls) {
        const CliRun bad = cli(QStringList{QStringLiteral("orientation")} + call.args);
        EXPECT_EQ(bad.status, call.status) << call.says;
        EXPECT_TRUE(bad.err.contains(QLatin1String(call.says))) << bad.err.toStdString();
    }
}
