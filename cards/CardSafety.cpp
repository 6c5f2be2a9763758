#include "CardSafety.h"

#include "dataservice/TaskConfig.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

/* Where copies are looked up: the card's UUID (upper case) and the path on the card. */
QString copyKey(const QString &uuid, const QString &path)
{
    return uuid.toUpper() + QLatin1Char('\n') + path;
}

QString timeText(const OffloadRecord::FileTime &time)
{
    return QDateTime::fromSecsSinceEpoch(time.seconds, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral(".%1Z").arg(time.nanoseconds, 9, 10, QLatin1Char('0'));
}

/* Walk `folder` (shown as `relative`) depth first; false with `error` at the first failure. */
bool walk(const QByteArray &folder, const QString &relative, QList<CardFile> *files, QString *error)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        *error =
            QStringLiteral("cannot list %1: %2").arg(QFile::decodeName(folder), systemError(errno));
        return false;
    }
    QList<QByteArray> names;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    const int err = errno;
    ::closedir(dir);
    if (err != 0) {
        *error =
            QStringLiteral("cannot list %1: %2").arg(QFile::decodeName(folder), systemError(err));
        return false;
    }
    std::sort(names.begin(), names.end());
    for (const QByteArray &name : std::as_const(names)) {
        const QByteArray path = folder + '/' + name;
        const QString shown = relative + QLatin1Char('/') + QFile::decodeName(name);
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0) {
            *error = QStringLiteral("cannot read %1: %2")
                         .arg(QFile::decodeName(path), systemError(errno));
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!walk(path, shown, files, error))
                return false;
        } else {
            files->append({shown,
                           qint64(st.st_size),
                           {qint64(st.st_mtim.tv_sec), qint32(st.st_mtim.tv_nsec)}});
        }
    }
    return true;
}

/* Whether the copy a line names stands in its save folder with the recorded size. */
bool copyStands(const RecordedCopies::Copy &copy)
{
    struct stat st {};
    const QByteArray path = QFile::encodeName(copy.saveDir + QLatin1Char('/') + copy.line.copy);
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           qint64(st.st_size) == copy.line.copySize;
}

} // namespace

namespace CardSafety {

QString reasonText(UnsafeFile::Reason reason)
{
    switch (reason) {
    case UnsafeFile::NeverOffloaded:
        return QStringLiteral("never offloaded");
    case UnsafeFile::Changed:
        return QStringLiteral("changed since");
    case UnsafeFile::NotReadBack:
        return QStringLiteral("not read back");
    case UnsafeFile::CopyMissing:
        return QStringLiteral("copy missing");
    }
    return QString();
}

RecordedCopies loadRecords(const QString &dataDir, const QStringList &saveFolders)
{
    RecordedCopies result;
    QStringList folders = saveFolders;
    /* The last transfer's save folder, as Taskconfig.xml names it. */
    QString ignored;
    const std::optional<TaskConfig> config = TaskConfig::read(TaskConfig::path(dataDir), &ignored);
    if (config && !config->saveDir.isEmpty())
        folders.prepend(config->saveDir);
    QSet<QString> seen;
    for (const QString &folder : std::as_const(folders)) {
        const QString absolute = QFileInfo(folder).absoluteFilePath();
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (seen.contains(canonical.isEmpty() ? absolute : canonical))
            continue;
        seen.insert(canonical.isEmpty() ? absolute : canonical);
        const QString path = OffloadRecord::pathIn(absolute);
        if (!QFileInfo::exists(path)) {
            result.notes << QStringLiteral("no offload record in %1").arg(absolute);
            continue;
        }
        QString error;
        const std::optional<OffloadRecord::Contents> contents = OffloadRecord::read(path, &error);
        if (!contents) {
            result.notes << error;
            continue;
        }
        result.records << path;
        if (contents->torn)
            result.notes
                << QStringLiteral("%1: its last line was cut short and is not counted").arg(path);
        if (contents->garbage + contents->foreign > 0)
            result.notes << QStringLiteral("%1: %2 lines unreadable or of another version are "
                                           "not counted")
                                .arg(path)
                                .arg(contents->garbage + contents->foreign);
        /* A later line for a copy stands for it: an earlier one describes bytes no longer there. */
        QHash<QString, qsizetype> lastFor;
        for (qsizetype i = 0; i < contents->files.size(); ++i)
            lastFor.insert(contents->files[i].copy, i);
        for (qsizetype i = 0; i < contents->files.size(); ++i)
            if (lastFor.value(contents->files[i].copy) == i)
                result.copies.append({contents->files[i], absolute});
    }
    return result;
}

std::optional<QList<CardFile>> listFiles(const QString &mountPath, QString *error)
{
    QList<CardFile> files;
    const QDir root(mountPath);
    if (!root.exists()) {
        *error = QStringLiteral("the card's folder %1 is not there").arg(mountPath);
        return std::nullopt;
    }
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (name.compare(QLatin1String("DCIM"), Qt::CaseInsensitive) != 0)
            continue;
        if (!walk(QFile::encodeName(root.filePath(name)), name, &files, error))
            return std::nullopt;
    }
    return files;
}

CardVerdict judge(const QString &uuid, const QList<CardFile> &files, const RecordedCopies &records)
{
    CardVerdict verdict;
    verdict.uuid = uuid;
    QMultiHash<QString, const RecordedCopies::Copy *> byPath;
    for (const RecordedCopies::Copy &copy : records.copies)
        byPath.insert(copyKey(copy.line.cardUuid, copy.line.cardPath), &copy);
    for (const CardFile &file : files) {
        ++verdict.files;
        const QList<const RecordedCopies::Copy *> lines = byPath.values(copyKey(uuid, file.path));
        const RecordedCopies::Copy *sameFile = nullptr; /* same size and time, not verified */
        const RecordedCopies::Copy *verified = nullptr; /* verified, copy not standing */
        const RecordedCopies::Copy *other = nullptr;    /* another size or time */
        bool safe = false;
        for (const RecordedCopies::Copy *copy : lines) {
            if (copy->line.size != file.size || copy->line.mtime != file.mtime) {
                other = copy;
            } else if (!copy->line.verified) {
                sameFile = copy;
            } else if (copyStands(*copy)) {
                safe = true;
                break;
            } else {
                verified = copy;
            }
        }
        if (safe) {
            ++verdict.safe;
            continue;
        }
        UnsafeFile unsafe{file.path, UnsafeFile::NeverOffloaded, {}};
        if (verified) {
            unsafe.reason = UnsafeFile::CopyMissing;
            unsafe.detail = QStringLiteral("%1/%2 is gone or no longer %3 bytes")
                                .arg(verified->saveDir, verified->line.copy)
                                .arg(verified->line.copySize);
        } else if (sameFile) {
            unsafe.reason = UnsafeFile::NotReadBack;
            unsafe.detail = QStringLiteral("%1/%2 was not read back after it was written")
                                .arg(sameFile->saveDir, sameFile->line.copy);
        } else if (other) {
            unsafe.reason = UnsafeFile::Changed;
            unsafe.detail = QStringLiteral("now %1 bytes, modified %2; recorded %3 bytes, "
                                           "modified %4")
                                .arg(file.size)
                                .arg(timeText(file.mtime))
                                .arg(other->line.size)
                                .arg(timeText(other->line.mtime));
        } else {
            unsafe.detail = QStringLiteral("no offload record lists it");
        }
        verdict.unsafe.append(unsafe);
    }
    return verdict;
}

CardVerdict check(const Volume &volume, int disk, const RecordedCopies &records)
{
    QString error;
    const QString uuid = VolumeQuery::volumeUuid(volume.device);
    std::optional<QList<CardFile>> files;
    if (uuid.isEmpty())
        error = QStringLiteral("the file-system UUID of %1 (%2) cannot be read")
                    .arg(volume.device, volume.mountPath);
    else
        files = listFiles(volume.mountPath, &error);
    CardVerdict verdict = files ? judge(uuid, *files, records) : CardVerdict{};
    verdict.uuid = uuid;
    verdict.disk = disk;
    verdict.volume = volume;
    verdict.error = error;
    return verdict;
}

} // namespace CardSafety
