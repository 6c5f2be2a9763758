#include "VolumeQuery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QProcess>
#include <QSet>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

VolumeQuery::Source &installed_source()
{
    static VolumeQuery::Source source;
    return source;
}

/* Labels already found, per (device, mount path), for the mounts still present. */
struct LabelCache {
    QMutex mutex;
    QHash<QPair<QString, QString>, QString> labels;
};

LabelCache &label_cache()
{
    static LabelCache cache;
    return cache;
}

/* File systems that sit on a /dev/ node now and then but are never a volume one saves to. */
bool is_pseudo(const QString &fsType)
{
    static const QSet<QString> pseudo = {
        QStringLiteral("proc"),     QStringLiteral("sysfs"),     QStringLiteral("devtmpfs"),
        QStringLiteral("devpts"),   QStringLiteral("tmpfs"),     QStringLiteral("ramfs"),
        QStringLiteral("cgroup"),   QStringLiteral("cgroup2"),   QStringLiteral("overlay"),
        QStringLiteral("squashfs"), QStringLiteral("autofs"),    QStringLiteral("mqueue"),
        QStringLiteral("debugfs"),  QStringLiteral("tracefs"),   QStringLiteral("securityfs"),
        QStringLiteral("pstore"),   QStringLiteral("bpf"),       QStringLiteral("configfs"),
        QStringLiteral("fusectl"),  QStringLiteral("hugetlbfs"), QStringLiteral("binfmt_misc"),
        QStringLiteral("nsfs"),
    };
    return pseudo.contains(fsType);
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* udev's database entry of a block device; empty when there is none. */
QByteArray udev_entry(const QString &device)
{
    struct stat st {};
    if (stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return {};
    QFile entry(
        QStringLiteral("/run/udev/data/b%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev)));
    if (!entry.open(QIODevice::ReadOnly))
        return {};
    return entry.readAll();
}

QString label_from_udev(const QString &device)
{
    return VolumeQuery::udevLabel(udev_entry(device));
}

/* One tag blkid reads from the device itself (-p: not its cache, which may be old). */
QString blkid_value(const QString &device, const QString &tag)
{
    QProcess blkid;
    blkid.start(QStringLiteral("blkid"),
                {QStringLiteral("-p"), QStringLiteral("-o"), QStringLiteral("value"),
                 QStringLiteral("-s"), tag, device},
                QIODevice::ReadOnly);
    if (!blkid.waitForStarted(2000))
        return {};
    if (!blkid.waitForFinished(2000) || blkid.exitStatus() != QProcess::NormalExit) {
        blkid.kill();
        blkid.waitForFinished(1000);
        return {};
    }
    if (blkid.exitCode() != 0)
        return {};
    return QString::fromUtf8(blkid.readAllStandardOutput()).trimmed();
}

QString label_from_folder(const QString &mountPath)
{
    const QString name = QFileInfo(mountPath).fileName();
    return name.isEmpty() ? mountPath : name;
}

QString find_label(const Volume &volume)
{
    QString label = label_from_udev(volume.device);
    if (label.isEmpty())
        label = VolumeQuery::labelFromByLabel(QStringLiteral("/dev/disk/by-label"), volume.device);
    if (label.isEmpty())
        label = VolumeQuery::probeLabel(volume.device);
    if (label.isEmpty())
        label = label_from_folder(volume.mountPath);
    return label;
}

} // namespace

namespace VolumeQuery {

QList<Volume> mountedVolumes()
{
    if (installed_source())
        return installed_source()();
    return systemVolumes();
}

void setSource(Source source)
{
    installed_source() = std::move(source);
}

QList<Volume> systemVolumes()
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return {};
    /* A proc file reports no size: read it to the end rather than by its size. */
    QList<Volume> volumes = parseMounts(mounts.readAll());

    LabelCache &cache = label_cache();
    QHash<QPair<QString, QString>, QString> present;
    for (Volume &volume : volumes) {
        const QPair<QString, QString> key(volume.device, volume.mountPath);
        {
            QMutexLocker lock(&cache.mutex);
            const auto known = cache.labels.constFind(key);
            if (known != cache.labels.cend())
                volume.label = *known;
        }
        /* The probe may take a while: it runs without holding the cache. */
        if (volume.label.isEmpty())
            volume.label = find_label(volume);
        present.insert(key, volume.label);
    }
    {
        /* Mounts gone since the last query are forgotten, so a remount is probed afresh. */
        QMutexLocker lock(&cache.mutex);
        cache.labels = std::move(present);
    }
    return volumes;
}

void forgetLabels()
{
    LabelCache &cache = label_cache();
    QMutexLocker lock(&cache.mutex);
    cache.labels.clear();
}

QString probeLabel(const QString &device)
{
    return blkid_value(device, QStringLiteral("LABEL"));
}

QString volumeUuid(const QString &device)
{
    QString uuid = udevUuid(udev_entry(device));
    if (uuid.isEmpty())
        uuid = labelFromByLabel(QStringLiteral("/dev/disk/by-uuid"), device);
    if (uuid.isEmpty())
        uuid = blkid_value(device, QStringLiteral("UUID"));
    return uuid;
}

std::optional<Volume> findByLabel(const QList<Volume> &volumes, const QString &text,
                                  Qt::CaseSensitivity cs)
{
    for (const Volume &volume : volumes) {
        if (volume.label.contains(text, cs))
            return volume;
    }
    return std::nullopt;
}

QList<Volume> parseMounts(const QByteArray &text)
{
    QList<Volume> volumes;
    for (const QByteArray &line : text.split('\n')) {
        /* device mount-path type options dump pass; blanks inside fields come escaped */
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3)
            continue;
        Volume volume;
        volume.device = decodeMountField(fields[0]);
        volume.mountPath = decodeMountField(fields[1]);
        volume.fsType = decodeMountField(fields[2]);
        if (!volume.device.startsWith(QLatin1String("/dev/")) || volume.mountPath.isEmpty() ||
            is_pseudo(volume.fsType))
            continue;
        volumes.append(volume);
    }
    return volumes;
}

QString decodeMountField(const QByteArray &field)
{
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            bytes.append(
                char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
            i += 3;
        } else {
            bytes.append(field[i]);
        }
    }
    return QString::fromUtf8(bytes);
}

QString decodeUdevName(const QString &name)
{
    const QByteArray text = name.toUtf8();
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            hex_digit(text[i + 2]) >= 0 && hex_digit(text[i + 3]) >= 0) {
            bytes.append(char(hex_digit(text[i + 2]) * 16 + hex_digit(text[i + 3])));
            i += 3;
        } else {
            bytes.append(text[i]);
        }
    }
    return QString::fromUtf8(bytes);
}

QString udevLabel(const QByteArray &entry)
{
    /* ID_FS_LABEL has blanks turned into '_'; ID_FS_LABEL_ENC keeps them, escaped. */
    QString plain;
    for (const QByteArray &line : entry.split('\n')) {
        if (line.startsWith("E:ID_FS_LABEL_ENC="))
            return decodeUdevName(QString::fromUtf8(line.mid(18)));
        if (line.startsWith("E:ID_FS_LABEL="))
            plain = QString::fromUtf8(line.mid(14));
    }
    return plain;
}

QString udevUuid(const QByteArray &entry)
{
    QString plain;
    for (const QByteArray &line : entry.split('\n')) {
        if (line.startsWith("E:ID_FS_UUID_ENC="))
            return decodeUdevName(QString::fromUtf8(line.mid(17)));
        if (line.startsWith("E:ID_FS_UUID="))
            plain = QString::fromUtf8(line.mid(13));
    }
    return plain;
}

QString labelFromByLabel(const QString &byLabelDir, const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QDir dir(byLabelDir);
    const QStringList links =
        dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &link : links) {
        if (QFileInfo(dir.filePath(link)).canonicalFilePath() == target)
            return decodeUdevName(link);
    }
    return {};
}

} // namespace VolumeQuery
