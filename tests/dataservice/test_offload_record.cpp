/*
 * The offload record and XXH64SUMS: a record read back holds what was
 * written; lines it cannot trust are skipped and counted, never misread; a
 * resume cuts a torn tail and never appends to a file that is no record of
 * its version. The checksum list is checked by xxhsum itself.
 */
#include "dataservice/ChecksumList.h"
#include "dataservice/FileHash.h"
#include "dataservice/OffloadRecord.h"

#include "TestFiles.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

using OffloadRecord::FileLine, OffloadRecord::FileTime;

void appendBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append) && f.write(bytes) == bytes.size());
}

FileLine sample(int n)
{
    const QString name = QString("航线 %1.JPG").arg(n);
    return FileLine(n % 5, "5A1B-09C3", "Center \"A\"\\", "DCIM/100MSDCF/" + name, 8123456 + n,
                    FileTime{-1714551302 + n, 999999999 - n}, 0xfedcba9876543210ULL + quint64(n),
                    "Center/" + name, 8123790, 0x0123456789abcdefULL, n % 2 == 0,
                    QDateTime::fromMSecsSinceEpoch(1714551303042 + n, Qt::UTC));
}

const QByteArray Header =
    R"({"format":"orvex-offload-record","version":1,"created":"2024-05-01T08:15:02.125Z"})"
    "\n";

void expectSame(const FileLine &a, const FileLine &b)
{
    EXPECT_EQ(OffloadRecord::line(a), OffloadRecord::line(b));
    EXPECT_EQ(a.time, b.time);
}

/* One line between two good ones: how it is counted; the good ones are read as written. */
TEST(OffloadRecord, SkipsAndCountsLinesItCannotTrust)
{
    const QByteArray good = OffloadRecord::line(sample(3)).trimmed();
    const auto edited = [&](const char *from, const char *to) {
        return QByteArray(good).replace(from, to);
    };
    const struct {
        const char *name;
        QByteArray text;
        int garbage, foreign;
    } rows[] = {
        {"not JSON", "hello", 1, 0},
        {"JSON array", "[1,2]", 1, 0},
        {"another version", edited(R"("version":1)", R"("version":2)"), 0, 1},
        {"foreign object", R"({"name":"DSC00001.JPG","size":1})", 0, 1},
        {"unknown kind", R"({"kind":"note","version":1,"text":"x"})", 0, 1},
        {"second header", Header.trimmed(), 1, 0},
        {"missing field", edited(R"(,"verified":false)", ""), 1, 0},
        {"extra field", edited(R"("kind":"file",)", R"("kind":"file","extra":1,)"), 1, 0},
        {"upper-case hash", edited("fedcba987654", "FEDCBA987654"), 1, 0},
        {"size as text", edited(R"("size":8123459)", R"("size":"8123459")"), 1, 0},
        {"fractional size", edited(R"("size":8123459)", R"("size":8123459.5)"), 1, 0},
        {"ns too big", edited(R"("mtime_ns":999999996)", R"("mtime_ns":1000000000)"), 1, 0},
        {"copy outside the save folder", edited("Center/航线", "../航线"), 1, 0},
        {"absolute card path", edited("DCIM/100MSDCF", "/DCIM/100MSDCF"), 1, 0},
        {"unknown lens", edited(R"("lens":"front")", R"("lens":"top")"), 1, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString path = OffloadRecord::pathIn(dir.path());
        OffloadRecordWriter writer;
        QString error;
        ASSERT_TRUE(writer.open(path, false, &error) && writer.append(sample(3), &error));
        appendBytes(path, row.text + '\n');
        ASSERT_TRUE(writer.append(sample(4), &error));
        appendBytes(path, good.left(40)); // a torn last line after every row
        const auto record = OffloadRecord::read(path, &error);
        ASSERT_TRUE(record) << error.toStdString();
        ASSERT_EQ(record->files.size(), 2);
        expectSame(record->files[0], sample(3));
        expectSame(record->files[1], sample(4));
        EXPECT_EQ(record->torn, 1);
        EXPECT_EQ(record->garbage, row.garbage);
        EXPECT_EQ(record->foreign, row.foreign);
    }
}

/*
 * What open() finds and what it leaves; the lines appended then, a file and a volume line, read
 * back as written. One writer at a time, and never a line the reader would refuse.
 */
TEST(OffloadRecord, WritesReadsBackAndResumesOnlyItsOwnRecords)
{
    const QByteArray line = OffloadRecord::line(sample(5));
    const OffloadRecord::VolumeLine volume{
        4, "Back/pack1.zip", 1LL << 32, 0x1122ff, true, QDateTime::currentDateTimeUtc()};
    FileLine outside = sample(2);
    outside.copy = "../elsewhere.JPG";
    const struct {
        const char *name;
        std::optional<QByteArray> before; /* none: no file yet */
        int filesAfter;                   /* 0: open() refuses */
        const char *refusal = "";
    } rows[] = {
        {"no file", std::nullopt, 1},
        {"whole record", Header + line, 2},
        {"torn last line", Header + line + line.left(77), 2},
        {"torn header", Header.left(20), 1},
        {"empty file", "", 1},
        {"another version", QByteArray(Header).replace("\"version\":1", "\"version\":2") + line, 0,
         "another version"},
        {"another version, more in its header",
         QByteArray(Header).replace("\"version\":1", "\"version\":2,\"hash\":\"xxh3\"") + line, 0,
         "another version"},
        {"not a record", "photo list\nDSC00001.JPG\n", 0, "no offload record"},
        {"not a record, no line break", "photo list", 0, "no offload record"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString path = OffloadRecord::pathIn(dir.path());
        ASSERT_TRUE(!row.before || writeFile(path, *row.before));
        OffloadRecordWriter writer, second;
        QString error;
        ASSERT_EQ(writer.open(path, true, &error), row.filesAfter > 0) << error.toStdString();
        if (!row.filesAfter) {
            EXPECT_TRUE(error.contains(row.refusal)) << error.toStdString();
            EXPECT_EQ(readAll(path), *row.before) << "a file it may not append to is left alone";
            continue;
        }
        EXPECT_FALSE(second.open(path, true, &error)) << "two writers on one record";
        EXPECT_FALSE(writer.append(outside, &error));
        ASSERT_TRUE(writer.append(volume, &error) && writer.append(sample(6), &error));
        writer.close();
        const auto record = OffloadRecord::read(path, &error);
        ASSERT_TRUE(record) << error.toStdString();
        EXPECT_TRUE(readAll(path).startsWith(R"({"format":"orvex-offload-record","version":1,)"));
        EXPECT_TRUE(record->created.isValid());
        ASSERT_EQ(record->files.size(), row.filesAfter);
        expectSame(record->files.first(), sample(row.filesAfter == 2 ? 5 : 6));
        expectSame(record->files.last(), sample(6));
        ASSERT_EQ(record->volumes.size(), 1);
        EXPECT_EQ(OffloadRecord::line(record->volumes[0]), OffloadRecord::line(volume));
        EXPECT_EQ(record->torn + record->garbage + record->foreign, 0);
    }
}

/* xxhsum -c in the folder: its exit code (-1 when it did not run) and what it printed. */
std::pair<int, QString> xxhsumCheck(const QString &folder)
{
    QProcess xxhsum;
    xxhsum.setWorkingDirectory(folder);
    xxhsum.setProcessChannelMode(QProcess::MergedChannels);
    xxhsum.start("xxhsum", {"-c", ChecksumList::fileName()});
    xxhsum.waitForFinished(30000);
    return {xxhsum.exitStatus() == QProcess::NormalExit ? xxhsum.exitCode() : -1,
            QString::fromUtf8(xxhsum.readAll())};
}

TEST(ChecksumList, XxhsumChecksTheList)
{
    if (QStandardPaths::findExecutable("xxhsum").isEmpty())
        GTEST_SKIP() << "xxhsum is not installed";
    QTemporaryDir dir;
    const QMap<QString, QByteArray> files = {{"DSC 0001.JPG", QByteArray(3 << 20, 'a')},
                                             {"航线 02 照片.jpg", "second"},
                                             {"back\\slash.jpg", ""},
                                             {"sub/DSC0003.JPG", "third"}};
    QList<ChecksumList::Entry> entries;
    QString error;
    for (const char *prefix : {"old ", ""}) { // the second update replaces every line
        entries.clear();
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            ASSERT_TRUE(writeFile(dir.filePath(it.key()), prefix + it.value()));
            entries.append({it.key(), *FileHash::coldFile(dir.filePath(it.key()))});
        }
        ASSERT_TRUE(ChecksumList::update(dir.path(), entries, &error)) << error.toStdString();
    }
    EXPECT_EQ(ChecksumList::read(dir.path(), &error), entries);
    EXPECT_FALSE(ChecksumList::update(dir.path(), {{"two\nlines.jpg", 1}}, &error));
    auto [status, output] = xxhsumCheck(dir.path());
    EXPECT_EQ(status, 0) << output.toStdString();

    ASSERT_TRUE(writeFile(dir.filePath("航线 02 照片.jpg"), "secOnd"));
    std::tie(status, output) = xxhsumCheck(dir.path());
    EXPECT_NE(status, 0);
    EXPECT_TRUE(output.contains("航线 02 照片.jpg: FAILED")) << output.toStdString();

    /* A line without a file name is not read as an entry for "". */
    ASSERT_TRUE(writeFile(dir.filePath("XXH64SUMS"), "0123456789abcdef  \n"));
    EXPECT_FALSE(ChecksumList::read(dir.path(), &error));
    EXPECT_TRUE(error.contains("line 1")) << error.toStdString();
}

} // namespace
