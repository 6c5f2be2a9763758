// Volumes and their labels, and the watcher that sees them come and go: first over fake mount
// tables, then (Cards*) on real loop-device cards.
#include "platform/QDeviceWatcher.h"
#include "platform/VolumeQuery.h"

#include "LoopVolume.h"
#include "TestFiles.h"

#include <QtTest>
#include <gtest/gtest.h>

void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

void PrintTo(const Volume &v, std::ostream *out)
{
    *out << "{label \"" << v.label.toStdString() << "\", mount \"" << v.mountPath.toStdString()
         << "\", device " << v.device.toStdString() << ", type " << v.fsType.toStdString() << '}';
}

namespace {

/* The watcher needs an event loop: one application for the whole run. */
struct ApplicationEnvironment : testing::Environment {
    int argc = 1;
    char name[16] = "volume_tests";
    char *argv[2] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    void SetUp() override { app = std::make_unique<QCoreApplication>(argc, argv); }
    void TearDown() override { app.reset(); }
};
[[maybe_unused]] testing::Environment *const application =
    testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

QStringList paths(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &call : spy)
        list.append(call.value(0).toString());
    return list;
}

/* Wait until `spy` has caught a signal with `path`, or give up after `ms`. */
bool caught(QSignalSpy &spy, const QString &path, int ms = 10000)
{
    const QDeadlineTimer deadline(ms);
    while (!paths(spy).contains(path)) {
        if (deadline.hasExpired())
            return false;
        spy.wait(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

} // namespace

TEST(VolumeParsing, MountsTableGivesBlockDevicesWithDecodedPaths)
{
    const QByteArray table = "proc /proc proc rw,relatime 0 0\n"
                             "/dev/vda / ext4 rw,relatime 0 0\n"
                             "tmpfs /tmp tmpfs rw 0 0\n"
                             "/dev/loop3 /media/KORVELLA\\040POS\\011\\134x fuseblk rw 0 0\n"
                             "devpts /dev/pts devpts rw 0 0\n"
                             "/dev/sdb1 /mnt/shadow tmpfs rw 0 0\n"
                             "/dev/sdc1 /mnt/\\346\\227\\240\\0 vfat rw 0 0\n"
                             "/dev/broken\n"
                             "\n";
    const QList<Volume> volumes = VolumeQuery::parseMounts(table);
    ASSERT_EQ(volumes.size(), 3);
    EXPECT_EQ(volumes[0], (Volume{QString(), "/", "/dev/vda", "ext4"}));
    EXPECT_EQ(volumes[1], (Volume{QString(), "/media/KORVELLA POS\t\\x", "/dev/loop3", "fuseblk"}));
    // A lone backslash that starts no escape stays as it is.
    EXPECT_EQ(volumes[2].mountPath, QString::fromUtf8("/mnt/\xe6\x97\xa0\\0"));
}

TEST(VolumeParsing, UdevNamesEntriesAndByLabelLinks)
{
    EXPECT_EQ(VolumeQuery::decodeUdevName("KORVELLA\\x20POS\\x2fA"), "KORVELLA POS/A");
    EXPECT_EQ(VolumeQuery::decodeUdevName("\\xe6\\x97\\xa0"), QString::fromUtf8("\xe6\x97\xa0"));
    EXPECT_EQ(VolumeQuery::decodeUdevName("BAD\\xZ1\\x2"), "BAD\\xZ1\\x2");
    // The escaped label wins over the one with blanks made '_', whichever comes first.
    EXPECT_EQ(VolumeQuery::udevLabel("S:disk/by-label/A\nE:ID_FS_LABEL=KORVELLA_POS\n"
                                     "E:ID_FS_LABEL_ENC=KORVELLA\\x20POS\nE:ID_FS_TYPE=exfat\n"),
              "KORVELLA POS");
    EXPECT_EQ(VolumeQuery::udevLabel("E:ID_FS_LABEL=CARD\nE:ID_FS_TYPE=exfat\n"), "CARD");
    EXPECT_EQ(VolumeQuery::udevLabel("E:ID_FS_TYPE=ext4\nE:ID_FS_LABELX=NO\n"), QString());
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString dev = root.filePath("dev"), byLabel = root.filePath("by-label");
    ASSERT_TRUE(QDir().mkpath(dev) && QDir().mkpath(byLabel));
    for (const char *name : {"loop1", "loop2", "loop3"})
        ASSERT_TRUE(writeFile(dev + "/" + name, {}));
    ASSERT_TRUE(QFile::link("../dev/loop2", byLabel + "/KORVELLA\\x20POS"));
    ASSERT_TRUE(QFile::link(dev + "/loop1", byLabel + "/OTHER"));
    ASSERT_TRUE(QFile::link(dev + "/gone", byLabel + "/DANGLING"));
    EXPECT_EQ(VolumeQuery::labelFromByLabel(byLabel, dev + "/loop2"), "KORVELLA POS");
    EXPECT_EQ(VolumeQuery::labelFromByLabel(byLabel, dev + "/../dev/loop1"), "OTHER");
    EXPECT_EQ(VolumeQuery::labelFromByLabel(byLabel, dev + "/loop3"), QString());
    EXPECT_EQ(VolumeQuery::labelFromByLabel(byLabel, dev + "/gone"), QString());
    EXPECT_EQ(VolumeQuery::labelFromByLabel(root.filePath("none"), dev + "/loop2"), QString());
}

TEST(VolumeLookup, InstalledSourceAndSearchByLabel)
{
    const QList<Volume> fake = {{"SYSTEM", "/", "/dev/vda", "ext4"},
                                {"KORVELLAPOS", "/media/a", "/dev/loop0", "fuseblk"},
                                {"korvellapos2", "/media/b", "/dev/loop1", "fuseblk"}};
    VolumeQuery::setSource([fake] { return fake; });
    EXPECT_EQ(VolumeQuery::mountedVolumes(), fake);
    EXPECT_EQ(VolumeQuery::findByLabel(fake, "vellapos", Qt::CaseInsensitive)->mountPath,
              "/media/a");
    EXPECT_EQ(VolumeQuery::findByLabel(fake, "vellapos", Qt::CaseSensitive)->mountPath, "/media/b");
    EXPECT_FALSE(VolumeQuery::findByLabel(fake, "Center", Qt::CaseInsensitive));
    VolumeQuery::setSource({});
    for (const Volume &volume : VolumeQuery::mountedVolumes())
        EXPECT_NE(volume.mountPath, "/media/a"); // the system again, not the fake
}

TEST(DeviceWatcher, ReportsEachChangeOncePollsUnaskedAndNeedsItsTable)
{
    QTemporaryDir dir;
    const QString table = dir.filePath("mounts");
    const QByteArray base = "proc /proc proc rw 0 0\n/dev/vda / ext4 rw 0 0\n";
    ASSERT_TRUE(writeFile(table, base));
    QDeviceWatcher watcher(table);
    watcher.setPollInterval(0);
    QSignalSpy added(&watcher, &QDeviceWatcher::deviceAdded);
    QSignalSpy removed(&watcher, &QDeviceWatcher::deviceRemoved);
    QSignalSpy changed(&watcher, &QDeviceWatcher::deviceChanged);
    ASSERT_TRUE(watcher.start());
    watcher.rescan(); // what was mounted at the start is not news
    EXPECT_TRUE(added.isEmpty());
    ASSERT_TRUE(writeFile(table, base + "/dev/loop0 /media/KOR\\040A fuseblk rw 0 0\n"
                                        "tmpfs /run/user tmpfs rw 0 0\n"));
    watcher.rescan();
    watcher.rescan();
    EXPECT_EQ(paths(added), QStringList{"/media/KOR A"});
    ASSERT_TRUE(writeFile(table, base + "/dev/loop1 /media/KOR\\040A fuseblk rw 0 0\n"));
    watcher.rescan();
    EXPECT_EQ(paths(changed), QStringList{"/media/KOR A"});
    ASSERT_TRUE(writeFile(table, "/dev/vda / ext4 rw 0 0\n"));
    watcher.rescan();
    watcher.rescan();
    EXPECT_EQ(paths(removed), QStringList{"/media/KOR A"});
    EXPECT_EQ(added.size(), 1);
    EXPECT_EQ(changed.size(), 1);
    EXPECT_TRUE(watcher.stop());
    EXPECT_FALSE(watcher.stop());
    ASSERT_TRUE(writeFile(table, base + "/dev/loop2 /media/B fuseblk rw 0 0\n"));
    watcher.rescan(); // stopped: nothing
    EXPECT_EQ(added.size(), 1);
    /* With a poll interval it finds changes unasked. */
    QDeviceWatcher polling(table);
    polling.setPollInterval(20);
    QSignalSpy polled(&polling, &QDeviceWatcher::deviceAdded);
    ASSERT_TRUE(polling.start());
    ASSERT_TRUE(writeFile(table, base + "/dev/sdb1 /media/card vfat rw 0 0\n"));
    EXPECT_TRUE(caught(polled, "/media/card", 5000));
    QDeviceWatcher missing(dir.filePath("no-such-table"));
    EXPECT_FALSE(missing.start());
    EXPECT_FALSE(missing.isRunning());
}

// --- Real cards: root, loop devices and FUSE, else skipped. ---

std::optional<Volume> at(const QString &mountPath)
{
    for (const Volume &volume : VolumeQuery::systemVolumes()) {
        if (volume.mountPath == mountPath)
            return volume;
    }
    return std::nullopt;
}

TEST(Cards, FiveCardsTheirLabelsTheWatcherAndNothingLeftAfterwards)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    QStringList gone; // mount paths and images
    {
        std::vector<std::unique_ptr<LoopVolume>> cards;
        for (const char *lens : {"Center", "Left", "Right", "Front", "Back"}) {
            cards.push_back(std::make_unique<LoopVolume>(lens));
            ASSERT_TRUE(cards.back()->ok()) << lens << ": " << cards.back()->whyNot();
        }
        QStringList devices;
        for (const auto &card : cards) {
            const QString mountPath = QString::fromStdString(card->mountPath());
            const QString device = QString::fromStdString(card->device());
            EXPECT_EQ(at(mountPath), (Volume{QString::fromStdString(card->label()), mountPath,
                                             device, "fuseblk"}));
            devices.append(device);
            gone << mountPath << QString::fromStdString(card->image());
        }
        devices.removeDuplicates();
        EXPECT_EQ(devices.size(), 5);
        // Remounted between two queries: the remembered label stands until it is forgotten.
        LoopVolume &card = *cards.front();
        const QString mountPath = gone.first();
        ASSERT_TRUE(card.unmount() && card.relabel("NEWLABEL") && card.mount()) << card.whyNot();
        EXPECT_EQ(at(mountPath).value_or(Volume{}).label, "Center");
        VolumeQuery::forgetLabels();
        EXPECT_EQ(at(mountPath).value_or(Volume{}).label, "NEWLABEL");
        // The watcher sees the card go and come back, on the kernel's word alone (no poll); a
        // query that saw the card gone probes it afresh when it is back.
        QDeviceWatcher watcher;
        watcher.setPollInterval(0);
        QSignalSpy added(&watcher, &QDeviceWatcher::deviceAdded);
        QSignalSpy removed(&watcher, &QDeviceWatcher::deviceRemoved);
        ASSERT_TRUE(watcher.start());
        ASSERT_TRUE(card.unmount()) << card.whyNot();
        EXPECT_TRUE(caught(removed, mountPath));
        EXPECT_FALSE(at(mountPath));
        ASSERT_TRUE(card.relabel("Center") && card.mount()) << card.whyNot();
        EXPECT_TRUE(caught(added, mountPath));
        EXPECT_EQ(at(mountPath).value_or(Volume{}).label, "Center");
        // Other tests may mount cards meanwhile; this one went and came once each.
        EXPECT_EQ(paths(removed).count(mountPath), 1);
        EXPECT_EQ(paths(added).count(mountPath), 1);
    }
    for (const QString &path : std::as_const(gone)) {
        EXPECT_FALSE(at(path)) << path.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    }
}
