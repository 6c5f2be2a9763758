/*
 * The mounted volumes and their labels: what the program finds cards by. A
 * volume's "drive" is its mount path. The list comes from /proc/self/mounts
 * (block devices only); each label from udev's database, /dev/disk/by-label,
 * a blkid probe, and last the mount folder's name. Tests install a fake source.
 */
#ifndef PLATFORM_VOLUMEQUERY_H
#define PLATFORM_VOLUMEQUERY_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

struct Volume {
    QString label;
    QString mountPath;
    QString device;
    QString fsType;

    bool operator==(const Volume &) const = default;
};

namespace VolumeQuery {

/* The mounted volumes, from the installed source or else the system. */
QList<Volume> mountedVolumes();

/* The query mountedVolumes uses; none restores the system query. */
using Source = std::function<QList<Volume>()>;
void setSource(Source source);

/*
 * The system query. Labels are remembered per (device, mount path) while that
 * mount stays, so a repeated query probes nothing again. Safe from any thread.
 */
QList<Volume> systemVolumes();
/* Drop the remembered labels (after a volume was formatted with a new label). */
void forgetLabels();

/* The label blkid reads from a device; empty when there is none or it cannot be told. */
QString probeLabel(const QString &device);

/*
 * The file-system UUID of a device (an exFAT card's volume serial, "5A1B-09C3"):
 * from udev's database, /dev/disk/by-uuid, else a blkid probe. Asked afresh each
 * time, never remembered: a card swapped in the same reader between two questions
 * must not pass for the one before. Empty when it cannot be told.
 */
QString volumeUuid(const QString &device);

/* The first volume whose label contains `text`. */
std::optional<Volume> findByLabel(const QList<Volume> &volumes, const QString &text,
                                  Qt::CaseSensitivity cs = Qt::CaseInsensitive);

/*
 * The pieces of the system query, open for tests.
 */

/* Block-device volumes in the text of a mounts file, labels left empty. */
QList<Volume> parseMounts(const QByteArray &text);
/* A field of a mounts file with its octal escapes (\040 for a blank...) decoded. */
QString decodeMountField(const QByteArray &field);
/* A udev-encoded name (\x20 for a blank...) decoded. */
QString decodeUdevName(const QString &name);
/* The label in the text of a udev database entry (/run/udev/data/b8:1); empty when none. */
QString udevLabel(const QByteArray &entry);
/* The UUID in the text of a udev database entry; empty when none. */
QString udevUuid(const QByteArray &entry);
/*
 * The label of `device` among the symbolic links of a by-label folder; empty when none.
 * (The same for the UUIDs of a by-uuid folder.)
 */
QString labelFromByLabel(const QString &byLabelDir, const QString &device);

} // namespace VolumeQuery

#endif
