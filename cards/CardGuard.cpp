#include "CardGuard.h"

#include "dataservice/LensTable.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

/* One line of /proc/self/mountinfo. */
struct MountEntry {
    QString root; /* the folder of the file system that is mounted (a bind mount: not "/") */
    QString mountPoint;
    QString source; /* the device */
    dev_t dev = 0;  /* the file system's device number */
};

QList<MountEntry> mountInfo()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<MountEntry> entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        /* id parent major:minor root mount-point options [optional...] - type source super */
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-", 6);
        if (fields.size() < 7 || separator < 0 || separator + 2 >= fields.size())
            continue;
        const QList<QByteArray> numbers = fields[2].split(':');
        MountEntry entry;
        if (numbers.size() == 2)
            entry.dev = makedev(numbers[0].toUInt(), numbers[1].toUInt());
        entry.root = VolumeQuery::decodeMountField(fields[3]);
        entry.mountPoint = VolumeQuery::decodeMountField(fields[4]);
        entry.source = VolumeQuery::decodeMountField(fields[separator + 2]);
        entries << entry;
    }
    return entries;
}

/* The mount that is seen at `path` now: the last one there, as mounts stack. */
const MountEntry *mountAt(const QList<MountEntry> &entries, const QString &path)
{
    const MountEntry *found = nullptr;
    for (const MountEntry &entry : entries)
        if (entry.mountPoint == path)
            found = &entry;
    return found;
}

/* The device number of a block device node; 0 when `path` is none. */
dev_t blockDevice(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || stat(QFile::encodeName(path).constData(), &st) != 0 ||
        !S_ISBLK(st.st_mode))
        return 0;
    return st.st_rdev;
}

/* The sysfs folder of a block device (a disk or a partition); empty when unknown. */
QString sysfsOf(dev_t dev)
{
    if (dev == 0)
        return {};
    return QFileInfo(QStringLiteral("/sys/dev/block/%1:%2").arg(major(dev)).arg(minor(dev)))
        .canonicalFilePath();
}

/* The disk a sysfs block folder belongs to: its parent when it is a partition. */
QString diskFolder(const QString &sysfs)
{
    if (sysfs.isEmpty())
        return {};
    return QFileInfo::exists(sysfs + QStringLiteral("/partition")) ? QFileInfo(sysfs).path()
                                                                   : sysfs;
}

/* The physical disks below a block device, through device-mapper and RAID layers. */
QSet<QString> disksBelow(const QString &sysfs, int depth = 0)
{
    const QString disk = diskFolder(sysfs);
    if (disk.isEmpty() || depth > 8)
        return {};
    QSet<QString> disks;
    for (const QString &folder : {sysfs, disk}) {
        const QDir slaves(folder + QStringLiteral("/slaves"));
        for (const QString &name : slaves.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
            disks |= disksBelow(QFileInfo(slaves.filePath(name)).canonicalFilePath(), depth + 1);
    }
    if (disks.isEmpty())
        disks.insert(disk);
    return disks;
}

/* The disks holding the file system mounted at `path` (none when it is no block device's). */
QSet<QString> disksOfMount(const QList<MountEntry> &entries, const QString &path)
{
    const MountEntry *entry = mountAt(entries, path);
    if (!entry)
        return {};
    dev_t dev = blockDevice(entry->source);
    if (dev == 0 && major(entry->dev) != 0)
        dev = entry->dev;
    return disksBelow(sysfsOf(dev));
}

QByteArray sysfsValue(const QString &file)
{
    QFile value(file);
    return value.open(QIODevice::ReadOnly) ? value.readAll().trimmed() : QByteArray();
}

CardFacts::Attachment attachmentOf(const QString &disk)
{
    if (disk.isEmpty())
        return CardFacts::Attachment::None;
    const QString name = QFileInfo(disk).fileName();
    if (name.startsWith(QLatin1String("loop")))
        return CardFacts::Attachment::Loop;
    if (name.startsWith(QLatin1String("mmcblk")))
        return CardFacts::Attachment::Mmc;
    if (sysfsValue(disk + QStringLiteral("/removable")) == "1")
        return CardFacts::Attachment::Removable;
    if (disk.contains(QLatin1String("/usb")))
        return CardFacts::Attachment::Usb;
    return CardFacts::Attachment::Fixed;
}

/* The label written in the file system on `device`: udev's record, by-label, then blkid. */
QString deviceLabel(const QString &device, dev_t dev)
{
    QFile entry(QStringLiteral("/run/udev/data/b%1:%2").arg(major(dev)).arg(minor(dev)));
    QString label =
        entry.open(QIODevice::ReadOnly) ? VolumeQuery::udevLabel(entry.readAll()) : QString();
    if (label.isEmpty())
        label = VolumeQuery::labelFromByLabel(QStringLiteral("/dev/disk/by-label"), device);
    if (label.isEmpty())
        label = VolumeQuery::probeLabel(device);
    return label;
}

/* The device number of the file system holding `path`, or of its nearest existing parent. */
dev_t fileSystemOf(const QString &path)
{
    if (path.isEmpty())
        return 0;
    QString folder = QFileInfo(path).absoluteFilePath();
    struct stat st {};
    while (stat(QFile::encodeName(folder).constData(), &st) != 0) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return 0;
        folder = parent;
    }
    return st.st_dev;
}

QString systemFolderOf(const QString &mountPath)
{
    for (const char *exact : {"/", "/home"})
        if (mountPath == QLatin1String(exact))
            return mountPath;
    for (const char *tree : {"/boot", "/usr", "/var", "/etc"}) {
        const QLatin1String top(tree);
        if (mountPath == top || mountPath.startsWith(top + QLatin1Char('/')))
            return mountPath;
    }
    return {};
}

bool hasFolder(const QString &parent, const QString &name)
{
    /* Card file systems ignore case; so does the lookup. */
    const QStringList folders = QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &folder : folders)
        if (folder.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

namespace CardGuard {

CardFacts gather(const Volume &volume, int disk, const QString &saveFolder, const QString &dataDir)
{
    CardFacts facts;
    facts.disk = disk;
    facts.mountPath = volume.mountPath;
    facts.device = volume.device;

    const QString path = QDir::cleanPath(volume.mountPath);
    const QList<MountEntry> entries = mountInfo();
    const MountEntry *mount = mountAt(entries, path);
    facts.ownMount = !volume.mountPath.isEmpty() && mount && mount->root == QLatin1String("/") &&
                     mount->source == volume.device;
    facts.systemFolder = systemFolderOf(path);

    const dev_t dev = blockDevice(volume.device);
    if (dev != 0) {
        facts.label = deviceLabel(volume.device, dev);
        const QString sysfs = sysfsOf(dev);
        const QString disk = diskFolder(sysfs);
        facts.attachment = attachmentOf(disk);
        facts.readOnly = sysfsValue(sysfs + QStringLiteral("/ro")) == "1" ||
                         sysfsValue(disk + QStringLiteral("/ro")) == "1";
        const QSet<QString> system = disksOfMount(entries, QStringLiteral("/")) |
                                     disksOfMount(entries, QStringLiteral("/home"));
        facts.onSystemDisk = disksBelow(sysfs).intersects(system);
    }

    facts.hasAvfInfo = hasFolder(path, QStringLiteral("AVF_INFO"));
    if (facts.ownMount) {
        const dev_t card = fileSystemOf(path);
        const QList<std::pair<QString, QString>> folders = {
            {AppPaths::programDir(), QStringLiteral("the program folder")},
            {QDir::homePath(), QStringLiteral("the home folder")},
            {saveFolder, QStringLiteral("the save folder")},
            {dataDir, QStringLiteral("the data folder")},
        };
        for (const auto &[folder, name] : folders)
            if (card != 0 && fileSystemOf(folder) == card)
                facts.holds << name;
    }
    return facts;
}

QString refusal(const CardFacts &facts)
{
    const bool lensKnown = facts.disk >= 0 && facts.disk < LensTable::count;
    const QString key = lensKnown ? LensTable::lens(facts.disk).key : QStringLiteral("(none)");
    QStringList why;
    if (!lensKnown)
        why << QStringLiteral("no lens was named for it");
    if (!facts.ownMount)
        why << QStringLiteral("it is not a volume of its own mounted there but a folder");
    if (facts.label.isEmpty())
        why << QStringLiteral("its file system has no label");
    else if (lensKnown && LensTable::diskForLabel(facts.label) != facts.disk)
        why << QStringLiteral("its label '%1' is not lens %2's (%3)")
                   .arg(facts.label, key, LensTable::lens(facts.disk).labels.join(u'/'));
    if (!facts.systemFolder.isEmpty())
        why << QStringLiteral("it is mounted at the system folder %1").arg(facts.systemFolder);
    if (facts.onSystemDisk)
        why << QStringLiteral("it is on the disk that holds / or /home");
    for (const QString &folder : facts.holds)
        why << QStringLiteral("it holds %1").arg(folder);
    if (facts.attachment == CardFacts::Attachment::None)
        why << QStringLiteral("it is not mounted from a block device");
    else if (facts.attachment == CardFacts::Attachment::Fixed)
        why << QStringLiteral("it is on a fixed disk, not a removable, SD, USB or loop device");
    if (facts.readOnly)
        why << QStringLiteral("it is write-protected");
    if (!facts.hasAvfInfo)
        why << QStringLiteral("it has no AVF_INFO folder, so it is no camera card");
    if (why.isEmpty())
        return {};
    return QStringLiteral("lens %1: %2 (%3) is not cleared: %4")
        .arg(key, facts.mountPath.isEmpty() ? QStringLiteral("(no mount path)") : facts.mountPath,
             facts.device.isEmpty() ? QStringLiteral("no device") : facts.device,
             why.join(QStringLiteral("; ")));
}

QString check(const Volume &volume, int disk, const QString &saveFolder, const QString &dataDir)
{
    return refusal(gather(volume, disk, saveFolder, dataDir));
}

} // namespace CardGuard
