/*
 * The verified offload end to end on five exFAT cards: the copies and zip
 * volumes that an offload records are what `xxhsum -c` and `orvex-cli verify`
 * find; a card is safe to clear only while every file under its DCIM folder
 * has a verified copy, and `clear --yes` clears the safe cards only, unless
 * --force is given too.
 */
#include "CliRun.h"
#include "LoopVolume.h"
#include "MountNamespace.h"
#include "TestFiles.h"
#include "TestJpeg.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

const char *const labels[] = {"Center", "Left", "Right", "Front", "Back"};

TEST(VerifiedOffload, RecordedCopiesVerifyAndOnlySafeCardsAreCleared)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    if (const std::string why = isolateMounts(); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_FALSE(QStandardPaths::findExecutable("xxhsum").isEmpty()) << "xxhsum is not installed";
    std::vector<std::unique_ptr<LoopVolume>> cards;
    for (const char *label : labels) {
        cards.push_back(std::make_unique<LoopVolume>(label, 24));
        ASSERT_TRUE(cards.back()->ok()) << cards.back()->whyNot();
        const QString folder = QString::fromStdString(cards.back()->mountPath()) + "/DCIM/100MEDIA";
        for (int k = 0; k < 4; ++k)
            ASSERT_TRUE(writeFile(folder + QStringLiteral("/K%1.JPG").arg(k),
                                  makeTestJpeg(640, 480, {"Korvella", "K7", {}, 35.0, true}, k)));
        ASSERT_TRUE(writeFile(folder + "/NOTES.TXT", label));
        /* The still camera's card file: what makes the volume a camera card for the clearing. */
        const QString avf = QString::fromStdString(cards.back()->mountPath()) + "/AVF_INFO";
        ASSERT_TRUE(writeFile(avf + "/AVIN0001.BNP", "card file"));
    }
    QTemporaryDir work;
    const QString data = work.filePath("data");
    const QString save = work.filePath("save");
    QDir().mkpath(data);
    CliRun run = runCli(
        {.args = {"offload", "--save", save, "--split", "1MB", "--password", "pw-1", "--json"},
         .dataDir = data});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.json["all_verified"].toBool());
    for (const QJsonValue lens : run.json["lenses"].toArray()) {
        EXPECT_EQ(lens["copied"].toInt(), 5) << lens["lens"].toString().toStdString();
        EXPECT_EQ(lens["verified"].toInt(), 5) << lens["lens"].toString().toStdString();
    }

    /* Standard tools agree, without Orvex: every copy and volume of each lens folder. */
    for (const char *label : labels) {
        QProcess xxhsum;
        xxhsum.setWorkingDirectory(save + '/' + label);
        xxhsum.start("xxhsum", {"-c", "XXH64SUMS"});
        ASSERT_TRUE(xxhsum.waitForFinished(60000));
        const QString said = xxhsum.readAll();
        EXPECT_EQ(xxhsum.exitCode(), 0) << label << ": " << said.toStdString();
        QFile list(save + '/' + label + "/XXH64SUMS");
        ASSERT_TRUE(list.open(QIODevice::ReadOnly));
        const qsizetype listed = list.readAll().count('\n');
        EXPECT_GE(listed, 6) << label; /* five copies and at least one volume */
        EXPECT_EQ(said.count(": OK"), listed) << label << ": " << said.toStdString();
    }
    run = runCli({.args = {"verify", save}, .dataDir = data});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    run = runCli({.args = {"verify", "--cards"}, .dataDir = data});
    EXPECT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();

    /* A photo taken after the offload: its card is no longer safe, and is not cleared. */
    const QString back = QString::fromStdString(cards[4]->mountPath());
    ASSERT_TRUE(writeFile(back + "/DCIM/101MEDIA/LATER.JPG", "taken after the offload"));
    run = runCli({.args = {"verify", "--cards", "--json"}, .dataDir = data});
    EXPECT_EQ(run.status, 1);
    for (const QJsonValue card : run.json["cards"].toArray())
        EXPECT_EQ(card["unsafe_files"].toArray().size(), card["lens"] == "back" ? 1 : 0)
            << card["lens"].toString().toStdString();
    const QString photoBefore = sha256(back + "/DCIM/100MEDIA/K0.JPG");
    run = runCli({.args = {"clear", "--yes", "--json"}, .dataDir = data});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("back (Back): 1 file without a verified copy; not cleared"))
        << run.err.toStdString();
    for (const QJsonValue card : run.json["cards"].toArray()) {
        EXPECT_EQ(card["safe"].toBool(), card["lens"] != "back");
        EXPECT_EQ(card["unverified"].toInt(), card["lens"] == "back" ? 1 : 0);
    }
    QStringList cleared;
    for (const QJsonValue outcome : run.json["cleared"].toArray())
        if (outcome["ok"].toBool())
            cleared << outcome["lens"].toString();
    EXPECT_EQ(cleared, QStringList({"center", "left", "right", "front"}));
    EXPECT_EQ(sha256(back + "/DCIM/100MEDIA/K0.JPG"), photoBefore);
    EXPECT_TRUE(QFile::exists(back + "/DCIM/101MEDIA/LATER.JPG"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(cards[0]->mountPath()) + "/DCIM"));
    /* Forced, the card is cleared all the same. */
    run = runCli({.args = {"clear", "--lens", "back", "--yes", "--force"}, .dataDir = data});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(back + "/DCIM"));

    /* Copies damaged after the offload: verify names each one. */
    ASSERT_TRUE(flipByte(save + "/Center/K1.JPG", 100));
    ASSERT_TRUE(QFile::remove(save + "/Left/K2.JPG"));
    ASSERT_TRUE(flipByte(save + "/Right/pack1.zip", 200));
    run = runCli({.args = {"verify", save}, .dataDir = data});
    EXPECT_EQ(run.status, 1);
    for (const char *bad :
         {"Center/K1.JPG: mismatched", "Left/K2.JPG: missing", "Right/pack1.zip: mismatched"})
        EXPECT_TRUE(run.err.contains(bad)) << bad << "\n" << run.err.toStdString();
}

} // namespace
