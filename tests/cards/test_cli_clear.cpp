/*
 * orvex-cli clear on real exFAT cards (loop devices through FUSE): four lens
 * cards are formatted with their labels and hold exactly their own card files
 * afterwards (a file a card lacked comes from the shipped replacement folder);
 * a card without AVF_INFO, a data volume and a bind-mounted folder named like
 * a card are left as they were; unconfirmed, nothing changes at all. (The
 * offload record's say over which cards are cleared unattended is tested with
 * the verified offload.)
 */
#include "CliRun.h"
#include "LoopVolume.h"
#include "MountNamespace.h"
#include "TestFiles.h"
#include "dataservice/TaskConfig.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <sys/mount.h>
#include <utility>

namespace {

const QStringList cardFiles = {"PRIVATE/SONY/SONYCARD.IND", "AVF_INFO/AVIN0001.BNP",
                               "AVF_INFO/AVIN0001.INP", "AVF_INFO/AVIN0001.INT",
                               "AVF_INFO/PRV00001.BIN"};

CliRun cli(const QStringList &args, const QString &dataDir, const QByteArray &input = {})
{
    return runCli({.args = args, .dataDir = dataDir, .input = input});
}

QString blkid(const std::string &device, const char *tag)
{
    QProcess probe;
    probe.start(QStringLiteral("blkid"),
                {"-p", "-o", "value", "-s", tag, QString::fromStdString(device)});
    probe.waitForFinished(10000);
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

/* Every file of a folder tree: relative path -> bytes. */
using Files = std::map<std::string, std::string>;
Files contents(const std::string &root)
{
    const QDir dir(QString::fromStdString(root));
    Files files;
    QDirIterator it(dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[dir.relativeFilePath(path).toStdString()] = readAll(path).toStdString();
    }
    return files;
}

QJsonObject entry(const QJsonArray &list, const QString &lens, const QString &drive = {})
{
    for (const QJsonValue &value : list)
        if (value[QStringLiteral("lens")] == lens &&
            (drive.isEmpty() || value[QStringLiteral("drive")] == drive))
            return value.toObject();
    return {};
}

TEST(ClearCards, FourCardsClearedOthersLeftAsTheyWere)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    if (const std::string why = isolateMounts(); !why.empty())
        GTEST_SKIP() << "no mount namespace of its own: " << why;

    /* Four good cards; Back lacks PRV00001.BIN, which the shipped folder provides. */
    const QStringList good = {"Center", "Left", "Right", "Back"};
    std::vector<std::unique_ptr<LoopVolume>> cards;
    std::map<QString, Files> expected;
    for (const QString &label : good) {
        cards.push_back(std::make_unique<LoopVolume>(label.toStdString()));
        ASSERT_TRUE(cards.back()->ok()) << cards.back()->whyNot();
        const QString root = QString::fromStdString(cards.back()->mountPath());
        for (const QString &file : cardFiles) {
            const QByteArray bytes =
                (label + ':' + file).toUtf8() + QByteArray(300, char(label.size()));
            std::string &want = expected[label][file.toStdString()];
            if (label == "Back" && file.endsWith("PRV00001.BIN")) {
                want = readAll(QFileInfo(ORVEX_CLI_PATH).path() + "/K4相机替换文件/" + file)
                           .toStdString();
            } else {
                want = bytes.toStdString();
                writeFile(root + '/' + file, bytes);
            }
        }
        for (int n = 1; n <= 3; ++n)
            writeFile(root + QStringLiteral("/DCIM/100MSDCF/DSC0000%1.JPG").arg(n), "photo");
    }
    ASSERT_EQ(expected["Back"]["AVF_INFO/PRV00001.BIN"].size(), 1024u) << "shipped folder missing";

    /* Not to be touched: a Front card without AVF_INFO, a data volume, a folder named Front. */
    LoopVolume front("Front"), data("Data"), unlabelled("");
    for (LoopVolume *volume : {&front, &data, &unlabelled})
        ASSERT_TRUE(volume->ok()) << volume->whyNot();
    writeFile(QString::fromStdString(front.mountPath()) + "/DCIM/100MSDCF/DSC00001.JPG", "front");
    writeFile(QString::fromStdString(front.mountPath()) + "/PRIVATE/SONY/SONYCARD.IND", "front");
    writeFile(QString::fromStdString(data.mountPath()) + "/AVF_INFO/AVIN0001.BNP", "data");
    const QString inner = QString::fromStdString(unlabelled.mountPath()) + "/Front";
    writeFile(inner + "/AVF_INFO/AVIN0001.BNP", "inner");
    QTemporaryDir work;
    const QString bound = work.filePath("Front");
    ASSERT_TRUE(QDir().mkpath(bound));
    ASSERT_EQ(mount(QFile::encodeName(inner).constData(), QFile::encodeName(bound).constData(),
                    nullptr, MS_BIND, nullptr),
              0)
        << std::strerror(errno);
    struct Unbind {
        QByteArray path;
        void operator()()
        {
            if (!path.isEmpty())
                umount2(std::exchange(path, {}).constData(), MNT_DETACH);
        }
        ~Unbind() { (*this)(); }
    } unbind{QFile::encodeName(bound)};
    std::map<const LoopVolume *, std::pair<QString, Files>> before;
    for (const auto *volume : {&front, &data, &unlabelled, cards[0].get(), cards[1].get(),
                               cards[2].get(), cards[3].get()})
        before[volume] = {blkid(volume->device(), "UUID"), contents(volume->mountPath())};

    /* The last completed transfer holds DSC00001.JPG of the Center card. */
    const QString dataDir = work.filePath("data");
    QDir().mkpath(dataDir);
    TaskConfig config;
    config.saveDir = work.filePath("save");
    config.success = true;
    QString error;
    ASSERT_TRUE(config.write(TaskConfig::path(dataDir), &error)) << error.toStdString();
    writeFile(dataDir + "/center.txt", "照片路径,Model,make,focallength,width,height,time\n" +
                                           config.saveDir.toUtf8() +
                                           "/Center/DSC00001.JPG,K4,Orvex,35,640,480,0,\n");

    /* Unconfirmed: closed input, "n", anything else. */
    for (const QByteArray &answer : {QByteArray(), QByteArray("n\n"), QByteArray("maybe\n")}) {
        const CliRun run = cli({"clear", "--json"}, dataDir, answer);
        EXPECT_EQ(run.status, 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("Erase these cards? [y/N]")) << run.err.toStdString();
        const QJsonArray listed = run.json["cards"].toArray();
        EXPECT_EQ(entry(listed, "center")["not_transferred"].toInt(), 2);
        EXPECT_EQ(entry(listed, "left")["not_transferred"].toInt(), 3);
        EXPECT_TRUE(entry(listed, "front", bound)["refusal"].toString().contains(
            "not a volume of its own"));
        EXPECT_TRUE(entry(listed, "front", QString::fromStdString(front.mountPath()))["refusal"]
                        .toString()
                        .contains("no AVF_INFO"));
    }
    EXPECT_EQ(cli({"clear", "--lens", "middle"}, dataDir).status, 2);
    for (const auto &[volume, state] : before)
        EXPECT_EQ(contents(volume->mountPath()), state.second) << volume->label();

    /* From here the Front card is refused by the guard alone, not as one of two Fronts. */
    unbind();
    /* No offload record holds the photos: --force, else the cards would be kept as unsafe. */
    const CliRun run = cli({"clear", "--yes", "--force", "--json"}, dataDir);
    EXPECT_EQ(run.status, 1) << "the Front card is refused: " << run.err.toStdString();
    const QJsonArray cleared = run.json["cleared"].toArray();
    for (size_t i = 0; i < cards.size(); ++i) {
        const LoopVolume &card = *cards[i];
        const QString label = good[int(i)];
        EXPECT_TRUE(entry(cleared, label.toLower())["ok"].toBool()) << run.err.toStdString();
        ASSERT_TRUE(card.mounted()) << card.label();
        EXPECT_EQ(blkid(card.device(), "LABEL"), label);
        EXPECT_NE(blkid(card.device(), "UUID"), before[&card].first) << card.label();
        EXPECT_EQ(contents(card.mountPath()), expected[label])
            << card.label() << ": exactly its files";
        EXPECT_EQ(readAll(dataDir + "/cardfiles/" + label.toLower() + "/AVF_INFO/AVIN0001.BNP")
                      .toStdString(),
                  expected[label]["AVF_INFO/AVIN0001.BNP"]);
    }
    EXPECT_TRUE(entry(cleared, "front")["reason"].toString().contains("no AVF_INFO"));
    for (const auto *volume : {&front, &data, &unlabelled}) {
        EXPECT_EQ(blkid(volume->device(), "UUID"), before[volume].first) << volume->label();
        EXPECT_EQ(contents(volume->mountPath()), before[volume].second) << volume->label();
    }

    const CliRun listed = cli({"cards", "--json"}, dataDir);
    for (const auto &card : cards) {
        const QJsonObject found =
            entry(listed.json["cards"].toArray(), QString::fromStdString(card->label()).toLower());
        EXPECT_GT(found["total"].toInteger(), 30'000'000) << card->label();
        EXPECT_GT(found["free"].toInteger(), 0);
        EXPECT_LE(found["free"].toInteger(), found["total"].toInteger());
    }
}

} // namespace
