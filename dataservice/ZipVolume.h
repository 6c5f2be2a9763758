/*
 * Zip volumes of a lens ("pack1.zip", "pack2.zip" ... in the lens folder):
 * photos added one by one as stored entries (deflate at level 0), optionally
 * with traditional PKWARE encryption, through minizip over zlib; Zip64 where
 * an entry or a volume passes 4 GB. A volume is closed after every photo.
 *
 * Crash safety: before an entry is added, what the append will overwrite (the
 * volume's central directory and end records) is saved beside the volume; a
 * volume left half-appended by a killed process is put back to its state
 * after its last whole entry by recover(), which a resume calls first.
 */
#ifndef DATASERVICE_ZIPVOLUME_H
#define DATASERVICE_ZIPVOLUME_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace ZipVolume {

/* Whether a password can protect entries: printable ASCII, not empty. */
bool passwordUsable(const QByteArray &password, QString *why = nullptr);

/*
 * Add the file at `filePath` to the volume at `volumePath` (created when it
 * does not exist) as the entry `entryName`, encrypted with `password` unless
 * it is empty. The entry's time is the file's modification time. False with
 * `error` (naming the volume or the file) when it cannot be done; the volume
 * is then as it was before. `crc`, the file's CRC-32 when the caller knows it
 * (from writing the file), spares an encrypted entry a reading of the file
 * before it is packed; the file is still checked against it as it is packed.
 */
bool addFile(const QString &volumePath, const QString &filePath, const QString &entryName,
             const QByteArray &password, QString *error, std::optional<quint32> crc = {});

/*
 * addFile() without waiting for the disk: the entry is written and its
 * write-back started, and the volume stays recoverable to its state before
 * the entry until commit() is called. Nothing else may be added to the volume
 * before that. Lets the caller go on with other work (the next copy) while
 * the disk catches up.
 */
bool addFileDeferred(const QString &volumePath, const QString &filePath, const QString &entryName,
                     const QByteArray &password, QString *error, std::optional<quint32> crc = {});

/* Wait until the entry added by addFileDeferred() is on the disk, then make it final. */
bool commit(const QString &volumePath, QString *error);

/*
 * Put a volume whose last append was interrupted back to its state after its
 * last whole entry. True when the volume is whole (or does not exist); false
 * with `error` when it cannot be mended.
 */
bool recover(const QString &volumePath, QString *error);

/* The entry names of a volume in order; empty with `error` when it cannot be read. */
QStringList entries(const QString &volumePath, QString *error = nullptr);

/*
 * Test a closed volume as it is on the disk: its cached pages are dropped,
 * then every entry is read through minizip (decrypted with `password` when
 * one is given) and its CRC-32 checked; the volume's XXH64 goes to `hash`,
 * taken from the bytes the test read. False with `error` naming the volume
 * and the first bad entry. The volume must have been synced (commit()).
 */
bool test(const QString &volumePath, const QByteArray &password, quint64 *hash, QString *error);

} // namespace ZipVolume

#endif
