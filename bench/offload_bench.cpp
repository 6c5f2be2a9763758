/*
 * The offload against five parallel `cp -r`: five exFAT cards on loop
 * devices (through FUSE, as the cards are here), each holding camera-like
 * 12 MB JPEG photos with a POS table (every photo geotagged). First what the
 * verified offload costs: five `cp -r`, and the offload without hashes,
 * hashed without read-back, and verified (every copy synced and read back
 * from the disk), each followed by `sync`: the time until the copies are on
 * the disk. Then volume mode, without and with a
 * password, against copy mode (through orvex-cli). Before every run the
 * cards are mounted afresh and the page cache dropped, and the order of the
 * runs rotates between rounds. Then the resident memory of an offload of a
 * card holding a 3 GB video.
 *
 *   offload_bench [PHOTOS_PER_CARD [ROUNDS [VIDEO_GB [SAVE_ROOT [VOLUME_ROUNDS [CARD_MBPS]]]]]]
 *   (as root; VOLUME_ROUNDS: rounds of the volume-mode comparison, ROUNDS when not given, 0
 *   skips it)
 *
 * SAVE_ROOT (default: the home folder) holds the copies; /dev/shm keeps the
 * disk's write-back, which varies from run to run, out of the comparison.
 *
 * CARD_MBPS (default 0: as fast as the loop devices go) limits each card's
 * reads to that many MB/s through the block I/O controller, as a card reader
 * does (UHS-I cards read at about 90 MB/s). Unlimited, the loop cards are
 * read from memory at several GB/s and the offload is bound by the processor,
 * so that every cycle spent hashing shows in the wall time; a real card's
 * reader leaves the processor waiting.
 */
#include "LoopVolume.h"
#include "TestJpeg.h"

#include "dataservice/OffloadController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const char *const labels[] = {"Center", "Left", "Right", "Front", "Back"};

pid_t spawn(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

/* Wait for the children; false when one failed. `maxRssKb` gets the largest resident size. */
bool waitAll(const std::vector<pid_t> &pids, long *maxRssKb = nullptr)
{
    bool ok = true;
    for (pid_t pid : pids) {
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            ok = false;
        if (maxRssKb)
            *maxRssKb = std::max(*maxRssKb, usage.ru_maxrss);
    }
    return ok;
}

void dropCaches(std::vector<std::unique_ptr<LoopVolume>> &cards)
{
    for (auto &card : cards) {
        card->unmount();
        card->mount();
    }
    ::sync();
    if (FILE *f = std::fopen("/proc/sys/vm/drop_caches", "w")) {
        std::fputs("3\n", f);
        std::fclose(f);
    }
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/*
 * Limits the reads of block devices to a number of bytes per second, through
 * the cgroup v1 block I/O controller's root group (it limits every process).
 * The limits are lifted at exit, also when the benchmark is interrupted: the
 * loop devices outlive it, and a limit left behind would slow whatever uses
 * them next.
 */
namespace ReadLimit {

const char *const control = "/sys/fs/cgroup/blkio/blkio.throttle.read_bps_device";
char lifts[8][32]; /* "major:minor 0", written by the signal handler */
int liftCount = 0;

/* One rule into the controller; open, write and close only, so the signal handler may call it. */
bool write(const char *line, size_t size)
{
    const int fd = ::open(control, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, line, size) == ssize_t(size);
    return ::close(fd) == 0 && ok;
}

void liftAll()
{
    for (int i = 0; i < liftCount; ++i)
        write(lifts[i], std::strlen(lifts[i]));
}

void onSignal(int sig)
{
    liftAll();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

bool add(const std::string &device, unsigned long long bytesPerSecond)
{
    struct stat st;
    if (liftCount == 8 || ::stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    const std::string rule =
        std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) + " ";
    std::snprintf(lifts[liftCount], sizeof lifts[0], "%s0", rule.c_str());
    if (liftCount++ == 0) {
        std::atexit(liftAll);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    const std::string limit = rule + std::to_string(bytesPerSecond);
    return write(limit.c_str(), limit.size());
}

} // namespace ReadLimit

} // namespace

/* One transfer through the engine in this process; true when every lens did all its files. */
bool offloadInProcess(const OffloadPlan &plan)
{
    OffloadController controller;
    QString error;
    if (!controller.prepare(plan, VolumeQuery::mountedVolumes(), &error) ||
        !controller.start(&error)) {
        std::fprintf(stderr, "offload_bench: %s\n", qPrintable(error));
        return false;
    }
    bool ok = false;
    QEventLoop loop;
    QObject::connect(&controller, &OffloadController::finished, &loop, [&](bool done) {
        ok = done;
        loop.quit();
    });
    loop.exec();
    return ok;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int photos = argc > 1 ? std::atoi(argv[1]) : 24;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const int videoGb = argc > 3 ? std::atoi(argv[3]) : 3;
    const QString saveRoot = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QDir::homePath();
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty()) {
        std::fprintf(stderr, "offload_bench: %s\n", why.c_str());
        return 1;
    }
    const QByteArray photo = makeTestJpeg(5500, 4100,
                                          {QStringLiteral("Korvella"), QStringLiteral("K7"),
                                           QStringLiteral("2023:06:14 11:00:01"), 35.0, true},
                                          7);
    std::printf("photo: %.1f MB, %d per card, 5 cards\n", photo.size() / 1e6, photos);
    const unsigned cardMb = static_cast<unsigned>(photos * photo.size() / 1000000 + 64);
    std::vector<std::unique_ptr<LoopVolume>> cards;
    for (const char *label : labels) {
        cards.push_back(std::make_unique<LoopVolume>(label, cardMb));
        if (!cards.back()->ok()) {
            std::fprintf(stderr, "offload_bench: %s\n", cards.back()->whyNot().c_str());
            return 1;
        }
        const QString folder = QString::fromStdString(cards.back()->mountPath()) + "/DCIM/100MEDIA";
        QDir().mkpath(folder);
        for (int k = 0; k < photos; ++k)
            writeFile(folder + QStringLiteral("/K%1.JPG").arg(k, 4, 10, QLatin1Char('0')), photo);
    }
    const double cardMBps = argc > 6 ? std::atof(argv[6]) : 0;
    if (cardMBps > 0) {
        for (const auto &card : cards)
            if (!ReadLimit::add(card->device(), static_cast<unsigned long long>(cardMBps * 1e6))) {
                std::fprintf(stderr,
                             "offload_bench: cannot limit the reads of %s (needs the "
                             "cgroup v1 blkio controller)\n",
                             card->device().c_str());
                return 1;
            }
        std::printf("each card's reads limited to %.0f MB/s\n", cardMBps);
    }
    QTemporaryDir work(saveRoot + "/orvex-bench-XXXXXX");
    QByteArray table = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \r\n";
    for (int k = 0; k < photos; ++k)
        table += QStringLiteral("%1 \t116.%2 \t39.%3 \t520.000 \t1.70 \t0.0 \t0.0 \t0.00 \t20.0 \t"
                                "2023-06-14 11-00-00 \t \r\n")
                     .arg(k + 1)
                     .arg(3351344 + k * 200)
                     .arg(9115668 + k * 200)
                     .toUtf8();
    writeFile(work.filePath("pos.xls"), table);
    const std::string cli = ORVEX_CLI_PATH;
    const std::string data = work.filePath("data").toStdString();
    QDir().mkpath(QString::fromStdString(data));
    setenv("ORVEX_DATA_DIR", data.c_str(), 1);

    /*
     * Four ways in turn, their order rotating between rounds, caches dropped
     * before each: five `cp -r` followed by `sync` (until the copies are on the
     * disk), and the offload without hashes, with hashes but no read-back, and
     * verified (hashes, each copy synced and read back).
     */
    const char *const ways[] = {"cp -r x5 + sync", "offload without hashes",
                                "offload hashed, no read-back", "offload verified"};
    std::vector<double> hashRatios, verifyRatios, plainRatios;
    std::vector<double> times[4];
    for (int round = 0; round < rounds; ++round) {
        double seconds[4] = {};
        for (int turn = 0; turn < 4; ++turn) {
            const int way = (turn + round) % 4;
            const QString save = work.filePath(QStringLiteral("way%1").arg(way));
            QDir(save).removeRecursively();
            QDir().mkpath(save);
            dropCaches(cards);
            QElapsedTimer clock;
            clock.start();
            bool ok = true;
            if (way == 0) {
                std::vector<pid_t> pids;
                for (size_t i = 0; i < cards.size(); ++i)
                    pids.push_back(spawn({"cp", "-r", cards[i]->mountPath() + "/DCIM/100MEDIA",
                                          save.toStdString() + "/" + labels[i]}));
                ok = waitAll(pids) && waitAll({spawn({"sync"})});
            } else {
                OffloadPlan plan;
                plan.saveDir = save;
                plan.posTables = {work.filePath("pos.xls")};
                for (size_t i = 0; i < cards.size(); ++i)
                    plan.sources.append(
                        {int(i), QString::fromStdString(cards[i]->mountPath()) + "/DCIM/100MEDIA"});
                plan.hashes = way >= 2;
                plan.readBack = way == 3;
                /* Until the copies are on the disk, as for cp: a verified run has synced them. */
                ok = offloadInProcess(plan) && waitAll({spawn({"sync"})});
            }
            if (!ok) {
                std::fprintf(stderr, "offload_bench: a run of %s failed\n", ways[way]);
                return 1;
            }
            seconds[way] = clock.elapsed() / 1000.0;
        }
        for (int way = 0; way < 4; ++way)
            times[way].push_back(seconds[way]);
        hashRatios.push_back(seconds[2] / seconds[1]);
        verifyRatios.push_back(seconds[3] / seconds[0]);
        plainRatios.push_back(seconds[1] / seconds[0]);
        std::printf("round %d: %s %.2f s, %s %.2f s, %s %.2f s, %s %.2f s\n", round + 1, ways[0],
                    seconds[0], ways[1], seconds[1], ways[2], seconds[2], ways[3], seconds[3]);
        std::fflush(stdout);
    }
    for (auto *r : {&hashRatios, &verifyRatios, &plainRatios})
        std::sort(r->begin(), r->end());
    std::printf("median ratio hashed / without hashes: %.3f\n", hashRatios[hashRatios.size() / 2]);
    std::printf("median ratio verified / cp -r + sync: %.3f\n",
                verifyRatios[verifyRatios.size() / 2]);
    std::printf("median ratio without hashes / cp -r + sync: %.3f\n",
                plainRatios[plainRatios.size() / 2]);
    /* On a noisy machine the medians of the times say more than the medians of the ratios. */
    double median[4];
    for (int way = 0; way < 4; ++way) {
        std::sort(times[way].begin(), times[way].end());
        median[way] = times[way][times[way].size() / 2];
        std::printf("median time %s: %.2f s\n", ways[way], median[way]);
    }
    std::printf("ratio of median times, hashed / without hashes: %.3f, verified / cp -r + sync: "
                "%.3f\n",
                median[2] / median[1], median[3] / median[0]);

    /* Volume mode (zip volumes beside the copies), without and with a password, against copy
     * mode; the order of the three turns rotates between rounds. */
    const char *const modes[] = {"copy mode", "volume mode", "volume mode with a password"};
    std::vector<double> volumeRatios[2];
    const int volumeRounds = argc > 5 ? std::atoi(argv[5]) : rounds;
    for (int round = 0; round < volumeRounds; ++round) {
        double seconds[3] = {0, 0, 0};
        for (int turn = 0; turn < 3; ++turn) {
            const int mode = (turn + round) % 3;
            const QString save = work.filePath(QStringLiteral("mode%1").arg(mode));
            QDir(save).removeRecursively();
            dropCaches(cards);
            std::vector<std::string> args = {cli,      "offload",
                                             "--save", save.toStdString(),
                                             "--pos",  work.filePath("pos.xls").toStdString()};
            if (mode > 0) {
                args.push_back("--split");
                args.push_back("4GB");
            }
            if (mode > 1) {
                args.push_back("--password");
                args.push_back("s3cret!");
            }
            for (size_t i = 0; i < cards.size(); ++i) {
                args.push_back("--lens");
                args.push_back(QString::fromLatin1(labels[i]).toLower().toStdString() + "=" +
                               cards[i]->mountPath() + "/DCIM/100MEDIA");
            }
            QElapsedTimer clock;
            clock.start();
            if (!waitAll({spawn(args)})) {
                std::fprintf(stderr, "offload_bench: a %s run failed\n", modes[mode]);
                return 1;
            }
            seconds[mode] = clock.elapsed() / 1000.0;
        }
        for (int mode = 1; mode < 3; ++mode)
            volumeRatios[mode - 1].push_back(seconds[mode] / seconds[0]);
        std::printf("round %d: copy mode %.2f s, volume mode %.2f s (ratio %.3f), with a password "
                    "%.2f s (ratio %.3f)\n",
                    round + 1, seconds[0], seconds[1], volumeRatios[0].back(), seconds[2],
                    volumeRatios[1].back());
        std::fflush(stdout);
    }
    for (int mode = 1; mode < 3 && volumeRounds > 0; ++mode) {
        std::vector<double> &r = volumeRatios[mode - 1];
        std::sort(r.begin(), r.end());
        std::printf("median ratio %s / copy mode: %.3f\n", modes[mode], r[r.size() / 2]);
    }

    if (videoGb > 0) {
        /* Memory: a card with a long video beside its photos. */
        for (auto &card : cards)
            card->unmount();
        LoopVolume video("Center", static_cast<unsigned>(videoGb * 1024 + 256));
        const QString folder = QString::fromStdString(video.mountPath()) + "/DCIM/100MEDIA";
        QDir().mkpath(folder);
        for (int k = 0; k < 4; ++k)
            writeFile(folder + QStringLiteral("/K%1.JPG").arg(k, 4, 10, QLatin1Char('0')), photo);
        {
            QFile mov(folder + "/K0002.MOV");
            mov.open(QIODevice::WriteOnly);
            const QByteArray block(8 << 20, '\x5a');
            for (int i = 0; i < videoGb * 128; ++i)
                mov.write(block);
        }
        dropCaches(cards);
        const QString save = work.filePath("video");
        long rss = 0;
        const bool ok = waitAll({spawn({cli, "offload", "--save", save.toStdString(), "--pos",
                                        work.filePath("pos.xls").toStdString(), "--lens",
                                        "center=" + folder.toStdString()})},
                                &rss);
        std::printf("offload of a card with a %d GB video: %s, peak resident memory %.1f MB\n",
                    videoGb, ok ? "done" : "FAILED", rss / 1024.0);
    }
    return 0;
}
