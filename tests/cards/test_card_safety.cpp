/*
 * Safe to clear: the rules over listed card files and records written by the
 * record writer; then `orvex-cli verify --cards` on a real exFAT card (loop
 * device through FUSE), which lists every file under DCIM at any depth.
 */
#include "CliRun.h"
#include "LoopVolume.h"
#include "MountNamespace.h"
#include "TestFiles.h"
#include "cards/CardSafety.h"
#include "dataservice/OffloadRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

using OffloadRecord::FileLine;

/* A verified line for `file` of card `uuid`, its copy written into `save`. */
FileLine recorded(const QString &save, const QString &uuid, const CardFile &file,
                  const QString &copy)
{
    const QByteArray bytes = "copy of " + file.path.toUtf8();
    EXPECT_TRUE(writeFile(save + '/' + copy, bytes));
    return {0, uuid, "Center",     file.path, file.size, file.mtime,
            0, copy, bytes.size(), 0,         true,      {}};
}

TEST(CardSafety, EveryFileNeedsAVerifiedCopyOfThisCardAsItIsNow)
{
    QTemporaryDir dir;
    const QString save = dir.path() + "/save";
    const QString card = "5A1B-09C3";
    const auto file = [](const char *name, qint64 seconds = 1000, qint32 ns = 500) {
        return CardFile{QString("DCIM/100MSDCF/") + name, 4096, {seconds, ns}};
    };
    const auto line = [&](const char *name, const QString &uuid = {}) {
        return recorded(save, uuid.isEmpty() ? card : uuid, file(name), QString("Center/") + name);
    };
    /* What the card holds now, what the record says, and the verdict (nothing: safe). */
    struct Row {
        CardFile now;
        std::optional<FileLine> line;
        const char *expected;
    };
    std::vector<Row> rows = {
        {file("A.JPG"), line("A.JPG"), nullptr},
        {file("B.JPG"), line("B.JPG", "5A1B-09C4"), "never offloaded"},
        {file("C.JPG", 1001), line("C.JPG"), "changed since"},
        {file("D.JPG", 1000, 501), line("D.JPG"), "changed since"},
        {file("E.JPG"), {}, "never offloaded"},
        {file("F.JPG"), line("F.JPG"), "not read back"},
        {file("G.JPG"), line("G.JPG"), "copy missing"},
        {file("H.JPG"), line("H.JPG"), "never offloaded"},
        {file("I.JPG"), line("I.JPG"), "copy missing"},
    };
    rows[5].line->verified = false;
    ASSERT_TRUE(QFile::remove(save + "/Center/G.JPG"));
    ASSERT_TRUE(writeFile(save + "/Center/I.JPG", "cut")); /* not the size it was verified at */

    OffloadRecordWriter writer;
    QString error;
    ASSERT_TRUE(writer.open(OffloadRecord::pathIn(save), false, &error)) << error.toStdString();
    for (const Row &row : rows) {
        if (row.line) {
            ASSERT_TRUE(writer.append(*row.line, &error)) << error.toStdString();
        }
    }
    /* H's copy was made again later from another card's file: its line no longer stands. */
    FileLine other = *rows[7].line;
    other.cardUuid = "0000-0001";
    ASSERT_TRUE(writer.append(other, &error));
    writer.close();

    const RecordedCopies records = CardSafety::loadRecords(dir.path() + "/data", {save});
    ASSERT_EQ(records.records, QStringList{OffloadRecord::pathIn(save)});
    QList<CardFile> now;
    for (const Row &row : rows)
        now << row.now;
    const CardVerdict verdict = CardSafety::judge(card.toLower(), now, records);
    EXPECT_EQ(verdict.files, int(rows.size()));
    EXPECT_FALSE(verdict.isSafe());
    QStringList expected, found;
    for (const Row &row : rows)
        if (row.expected)
            expected << row.now.path + ": " + row.expected;
    for (const UnsafeFile &unsafe : verdict.unsafe)
        found << unsafe.path + ": " + CardSafety::reasonText(unsafe.reason);
    EXPECT_EQ(found.join('\n').toStdString(), expected.join('\n').toStdString());
    EXPECT_EQ(verdict.safe, verdict.files - expected.size());
}

QJsonObject verifyCards(const QString &dataDir, const QString &save, int *status)
{
    const CliRun run =
        runCli({.args = {"--data-dir", dataDir, "verify", "--cards", "--save", save, "--json"},
                .timeoutMs = 60000});
    *status = run.status;
    return run.json;
}

TEST(CardSafetyCards, VerifyCardsListsEveryFileUnderDcim)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    if (const std::string why = isolateMounts(); !why.empty())
        GTEST_SKIP() << why;
    LoopVolume volume("Center");
    ASSERT_TRUE(volume.ok()) << volume.whyNot();
    const QString root = QString::fromStdString(volume.mountPath());
    const QString uuid = VolumeQuery::volumeUuid(QString::fromStdString(volume.device()));
    ASSERT_FALSE(uuid.isEmpty());

    QTemporaryDir dir;
    const QString save = dir.path() + "/save";
    OffloadRecordWriter writer;
    QString error;
    ASSERT_TRUE(QDir().mkpath(save) && writer.open(OffloadRecord::pathIn(save), true, &error))
        << error.toStdString();
    for (const QString path : {"DCIM/100MSDCF/DSC00001.JPG", "DCIM/100MSDCF/航线/DSC00002.JPG",
                               "DCIM/101MSDCF/deeper/still/DSC00003.ARW"}) {
        ASSERT_TRUE(writeFile(root + '/' + path, "photo " + path.toUtf8()));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(root + '/' + path).constData(), &st), 0);
        const CardFile file{path, st.st_size, {st.st_mtim.tv_sec, qint32(st.st_mtim.tv_nsec)}};
        ASSERT_TRUE(writer.append(
            recorded(save, uuid, file, "Center/" + QFileInfo(path).fileName()), &error));
    }
    writeFile(root + "/AVF_INFO/AVIN0001.BNP", "card file, not under DCIM");

    int status = -1;
    QJsonObject report = verifyCards(dir.path() + "/data", save, &status);
    ASSERT_EQ(report["cards"].toArray().size(), 1);
    QJsonObject verdict = report["cards"][0].toObject();
    EXPECT_EQ(status, 0) << QJsonDocument(report).toJson().toStdString();
    EXPECT_EQ(verdict["uuid"].toString(), uuid);
    EXPECT_EQ(verdict["files"].toInt(), 3);
    EXPECT_EQ(verdict["safe"].toInt(), 3);

    ASSERT_TRUE(writeFile(root + "/DCIM/101MSDCF/deeper/DSC00004.JPG", "taken after the offload"));
    report = verifyCards(dir.path() + "/data", save, &status);
    verdict = report["cards"][0].toObject();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(verdict["safe"].toInt(), 3);
    EXPECT_EQ(verdict["unsafe_files"][0]["path"].toString(), "DCIM/101MSDCF/deeper/DSC00004.JPG");
    EXPECT_EQ(verdict["unsafe_files"][0]["reason"].toString(), "never offloaded");
}

} // namespace
