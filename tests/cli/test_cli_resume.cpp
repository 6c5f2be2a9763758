/*
 * A transfer that is killed and resumed ends with exactly the files of one
 * that was not: `orvex-cli offload` in volume mode with a password and sortie
 * separation over five exFAT loop cards, killed with SIGKILL or stopped with
 * SIGINT at 20 seeded moments and resumed each time, against an uninterrupted run of the same
 * cards. Compared: every plain copy, every entry extracted from the zip
 * volumes (by unzip), the photo information files and the BlocksExchange
 * files; no temporary file may be left, and the cards stay as they were.
 */
#include "ComparableRecord.h"
#include "LoopVolume.h"
#include "TestFiles.h"
#include "TestJpeg.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <random>

namespace {

const char *const labels[] = {"Center", "Left", "Right", "Front", "Back"};
const char password[] = "s3cret!";

/* Every file below `root` by relative path; zip volumes by their extracted entries. */
QMap<QString, QByteArray> contents(const QString &root, QStringList *leftovers)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QDir(root).relativeFilePath(path);
        if (name.endsWith(QLatin1String(".part")) || name.contains(QLatin1String(".undo")))
            *leftovers << name;
        if (!name.endsWith(QLatin1String(".zip"))) {
            files[name] = QCryptographicHash::hash(comparableRecord(name, readAll(path)),
                                                   QCryptographicHash::Sha256);
            continue;
        }
        QTemporaryDir out;
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {"-q", "-P", password, path, "-d", out.path()});
        unzip.waitForFinished(60000);
        files[name + "!status"] = QByteArray::number(unzip.exitCode());
        QDirIterator entries(out.path(), QDir::Files);
        while (entries.hasNext()) {
            const QString entry = entries.next();
            files[name + '!' + QFileInfo(entry).fileName()] =
                QCryptographicHash::hash(readAll(entry), QCryptographicHash::Sha256);
        }
    }
    return files;
}

QString writeTable(const QString &path, int firstMinute)
{
    QList<PosRow> rows;
    for (int i = 0; i < 6; ++i)
        rows.append({116.3351344 + 2e-5 * i + 1e-7 * firstMinute, 39.9115668 + 2e-5 * i, 500.0 + i,
                     QStringLiteral("2023-06-14 11-%1-%2")
                         .arg(firstMinute, 2, 10, QLatin1Char('0'))
                         .arg(2 * i, 2, 10, QLatin1Char('0'))});
    writeFile(path, posTable(rows));
    return path;
}

/*
 * Runs orvex-cli; with `stopAfterMs` it sends `signal` then: SIGKILL ends it at once (-9 is
 * returned), SIGINT asks the workers to stop between files (its exit status is returned).
 */
int run(const QStringList &args, const QString &data, int stopAfterMs = -1, int signal = SIGKILL)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVEX_DATA_DIR"), data);
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral(ORVEX_CLI_PATH), args);
    process.waitForStarted();
    /* Taken now: once the process has ended its id reads 0, and kill(0) hits the whole group. */
    const pid_t pid = static_cast<pid_t>(process.processId());
    if (stopAfterMs >= 0 && pid > 0 && !process.waitForFinished(stopAfterMs)) {
        ::kill(pid, signal);
        process.waitForFinished();
        /* A SIGINT that came before the program could catch it ended it as SIGKILL does. */
        if (signal == SIGKILL || process.exitStatus() == QProcess::CrashExit)
            return -9;
    }
    process.waitForFinished(300000);
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (status != 0 && status != 130) /* what it said goes into the test's output */
        std::fprintf(stderr, "%s %s\n", qPrintable(args.join(' ')),
                     process.readAllStandardError().constData());
    return status;
}

TEST(ResumeCards, StoppedTwentyTimesEndsWithTheFilesOfAnUninterruptedRun)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    /* Eight photos a lens: four shot during the first sortie, four during the second. */
    QList<QByteArray> photos;
    for (int k = 0; k < 8; ++k) {
        const QString time = QStringLiteral("2023:06:14 11:%1:%2")
                                 .arg(k < 4 ? 0 : 10, 2, 10, QLatin1Char('0'))
                                 .arg(2 * (k % 4), 2, 10, QLatin1Char('0'));
        photos << makeTestJpeg(800, 600, {"Korvella", "K7", time, 35.0, true}, k);
        ASSERT_FALSE(photos.last().isEmpty());
    }
    std::vector<std::unique_ptr<LoopVolume>> cards;
    QStringList lensArgs;
    for (const char *label : labels) {
        cards.push_back(std::make_unique<LoopVolume>(label, 24));
        ASSERT_TRUE(cards.back()->ok()) << cards.back()->whyNot();
        const QString folder = QString::fromStdString(cards.back()->mountPath()) + "/DCIM/100MEDIA";
        QDir().mkpath(folder);
        for (int k = 0; k < photos.size(); ++k)
            writeFile(folder + QStringLiteral("/K%1.JPG").arg(k, 4, 10, QLatin1Char('0')),
                      photos[k]);
        writeFile(folder + "/NOTES.TXT", label);
        lensArgs << "--lens" << QString::fromLatin1(label).toLower() + '=' + folder;
    }
    QTemporaryDir work;
    const QString first = writeTable(work.filePath("sortie1.xls"), 0);
    const QString second = writeTable(work.filePath("sortie2.xls"), 10);
    const QString cardPhoto =
        QString::fromStdString(cards[0]->mountPath()) + "/DCIM/100MEDIA/K0003.JPG";
    const QString cardBefore = sha256(cardPhoto);
    auto fresh = [&](const QString &save) {
        return QStringList{"offload", "--save",    save,      "--pos", first,        "--pos",
                           second,    "--sorties", "--split", "1MB",   "--password", password} +
               lensArgs;
    };
    const QString referenceData = work.filePath("data-reference");
    const QString killedData = work.filePath("data-killed");
    QDir().mkpath(referenceData);
    QDir().mkpath(killedData);

    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(run(fresh(work.filePath("reference")), referenceData), 0);
    const int duration = static_cast<int>(std::max<qint64>(clock.elapsed(), 200));

    /* Moments within the first eighth of a whole run: each run gets a little further. */
    /* ORVEX_RESUME_SEED chooses other moments, for a longer campaign by hand. */
    const unsigned seed = qEnvironmentVariableIsSet("ORVEX_RESUME_SEED")
                              ? qEnvironmentVariable("ORVEX_RESUME_SEED").toUInt()
                              : 20261207u;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> moment(0, std::max(duration / 8, 60));
    /* Every other round is a stop (SIGINT, exit 130), as the page's pause: the workers end
     * between files and the record and task files are closed in order. */
    QStringList command = fresh(work.filePath("killed"));
    int kills = 0, stops = 0;
    bool finished = false;
    for (int round = 0; round < 20 && !finished; ++round) {
        const int status = run(command, killedData, moment(random), round % 2 ? SIGINT : SIGKILL);
        kills += status == -9;
        stops += status == 130;
        finished = status == 0; /* it ended before its signal */
        ASSERT_TRUE(finished || status == -9 || (status == 130 && round % 2))
            << "status " << status;
        /* Resume once the first start got as far as recording the transfer. */
        if (QFile::exists(killedData + "/Taskconfig.xml"))
            command = {"offload", "--resume"};
    }
    if (!finished) {
        ASSERT_EQ(run(command, killedData), 0);
    }
    /* A stop lets the workers finish their files, so the runs get further than after a kill. */
    EXPECT_GE(kills + stops, 4);
    EXPECT_GE(stops, 1);

    QStringList leftovers;
    const auto reference = contents(work.filePath("reference"), &leftovers);
    const auto killed = contents(work.filePath("killed"), &leftovers);
    EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(' ').toStdString();
    EXPECT_EQ(killed.keys(), reference.keys());
    for (auto it = reference.begin(); it != reference.end(); ++it)
        EXPECT_EQ(killed.value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_TRUE(reference.contains(QStringLiteral("第1架次.xml")));
    EXPECT_TRUE(reference.contains(QStringLiteral("第2架次.xml")));
    EXPECT_TRUE(reference.contains(QStringLiteral("Back/pack2.zip!K0004.JPG")))
        << reference.keys().join(' ').toStdString();
    std::printf("kills: %d, stops: %d\n", kills, stops);
    /* The killed runs' record: one verified line per card file, a tested line per volume. */
    QMap<QString, int> fileLines;
    QSet<QString> volumeLines;
    for (const QByteArray &line :
         readAll(work.filePath("killed/offload-record.jsonl")).split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o["kind"] == "file")
            fileLines[o["lens"].toString() + ':' + o["card_path"].toString()] +=
                o["verified"].toBool() ? 1 : 100;
        if (o["kind"] == "volume" && o["tested"].toBool())
            volumeLines << o["volume"].toString();
    }
    EXPECT_EQ(fileLines.size(), qsizetype(std::size(labels)) * (photos.size() + 1));
    for (auto it = fileLines.cbegin(); it != fileLines.cend(); ++it)
        EXPECT_EQ(it.value(), 1) << it.key().toStdString();
    QSet<QString> zips;
    for (const QString &name : killed.keys())
        if (name.endsWith(QLatin1String(".zip!status")))
            zips << name.chopped(7);
    EXPECT_EQ(volumeLines, zips);
    for (const char *lens : {"center", "left", "right", "front", "back"})
        EXPECT_EQ(
            readAll(killedData + '/' + lens + ".txt"),
            readAll(referenceData + '/' + lens + ".txt")
                .replace(work.filePath("reference").toUtf8(), work.filePath("killed").toUtf8()))
            << lens;
    EXPECT_EQ(sha256(cardPhoto), cardBefore);
}

} // namespace
