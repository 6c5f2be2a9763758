#include "DiskTask.h"

#include "CardFinder.h"
#include "FileHash.h"
#include "ZipVolume.h"
#include "platform/WholeFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>

namespace {

/*
 * A photo's headers are read in blocks of this size until its image data
 * begins; headers longer than the limit are not tagged.
 */
constexpr qsizetype headBlock = 64 * 1024;
constexpr qsizetype maxHeaders = 16 << 20;
/*
 * The copy buffer: small enough to stay in the processor's cache, which
 * moves bytes from a card to the disk faster than a large one.
 */
constexpr size_t copyBlock = 128 * 1024;
/*
 * Reads and writes go in blocks of this size: a FUSE card answers many
 * moderate reads faster than one read of a whole photo.
 */
constexpr size_t ioBlock = 1u << 20;
/* A task file listing more entries than this is damaged. */
constexpr int32_t maxEntries = 10000000;

template <typename T> T load(const T &field)
{
    return std::atomic_ref<T>(const_cast<T &>(field)).load(std::memory_order_relaxed);
}
template <typename T> void store(T &field, T value)
{
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

QString systemError(int code = errno)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString text(const char *field, size_t size)
{
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, size)));
}

bool validDisk(int disk)
{
    if (disk >= 0 && disk <= 5)
        return true;
    std::printf("invalid disk number: %d.\n", disk);
    return false;
}

/* Write all of `size` bytes, going on after short writes and interrupts. */
bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::min(size, ioBlock));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

/* Read up to `size` bytes; fewer only at the end of the file. -1 on an error. */
ssize_t readFull(int fd, char *data, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, std::min(size - got, ioBlock));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

void failTask(DiskTaskRun *run, const QString &reason)
{
    std::lock_guard<std::mutex> guard(run->mutex);
    run->error = reason;
}

/* A copy that reached its final name, and what is known of it. */
struct MadeCopy {
    CopiedFile file;
    PhotoInfo info;
    bool hasInfo = false; /* a JPEG photo: its line of the photo information file */
    bool geotagged = false;
};

/* What reading a copy back from the disk found. */
struct ReadBack {
    bool done = false;    /* it could be synced and read; else `error` says why */
    bool matched = false; /* its bytes on the disk hash to what was written */
    QString error;
};

/*
 * Sync a copy and its folder, drop its cached pages and read it from the
 * disk, comparing its XXH64 with `expected`. Touches nothing but the copy:
 * it runs beside the worker, which copies the next file meanwhile.
 */
ReadBack readBack(const QString &folder, const QString &path, quint64 expected,
                  const std::function<void(const QString &)> &before)
{
    if (before)
        before(path);
    ReadBack result;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fdatasync(fd) != 0) {
        result.error = QStringLiteral("cannot sync %1: %2").arg(path, systemError());
        if (fd >= 0)
            ::close(fd);
        return result;
    }
    ::close(fd);
    if (!WholeFile::syncFolder(folder)) {
        result.error = QStringLiteral("cannot sync %1: %2").arg(folder, systemError());
        return result;
    }
    int code = 0;
    const std::optional<quint64> onDisk = FileHash::coldFile(path, &code);
    if (!onDisk) {
        result.error = QStringLiteral("cannot read back %1: %2").arg(path, systemError(code));
        return result;
    }
    result.done = true;
    result.matched = *onDisk == expected;
    if (!result.matched)
        result.error = QStringLiteral("the copy %1 read back from the disk does not match the "
                                      "bytes written (XXH64 %2, expected %3)")
                           .arg(path, FileHash::hex(*onDisk), FileHash::hex(expected));
    return result;
}

/*
 * One file of the card, copied into the lens folder: written under a hidden
 * temporary name and renamed when whole. JPEG photos are read whole and
 * geotagged in memory; anything else is streamed unchanged. The bytes read
 * from the card and the bytes written each get their XXH64 on the way.
 */
class FileCopy {
public:
    FileCopy(DiskTask *task, const QString &source, const QString &destination)
        : m_task(task), m_source(source), m_destination(destination)
    {
        const int slash = static_cast<int>(destination.lastIndexOf(QLatin1Char('/')));
        m_folder = destination.left(slash);
        m_temp = destination.left(slash + 1) + QLatin1Char('.') + destination.mid(slash + 1) +
                 QStringLiteral(".part");
    }
    ~FileCopy()
    {
        if (m_in >= 0)
            ::close(m_in);
        if (m_out >= 0)
            ::close(m_out);
        if (!m_committed)
            ::unlink(QFile::encodeName(m_temp).constData());
    }

    /*
     * Copy the file; `crc`, when given, gets the CRC-32 of the copy's bytes,
     * `made` the copy and what it was hashed to. With read-back on, the copy's
     * write-back to the disk is started before it is closed, so that reading
     * it back finds it on its way.
     */
    bool run(int photoIndex, QString *error, quint32 *crc, MadeCopy *made)
    {
        const DiskTaskChecks &checks = m_task->checks;
        m_wantCrc = crc != nullptr;
        m_in = ::open(QFile::encodeName(m_source).constData(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (m_in < 0 || ::fstat(m_in, &info) != 0) {
            *error = QStringLiteral("cannot read %1: %2").arg(m_source, systemError());
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            *error = QStringLiteral("%1 is not a file").arg(m_source);
            return false;
        }
        m_out = ::open(QFile::encodeName(m_temp).constData(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_out < 0) {
            *error = QStringLiteral("cannot create %1: %2").arg(m_temp, systemError());
            return false;
        }
        const bool ok = photoIndex >= 0 ? copyPhoto(photoIndex, error) : stream(error);
        if (!ok)
            return false;
        /* A file that grew or shrank while it was read is not the file that was listed. */
        if (m_read != info.st_size) {
            *error = QStringLiteral("%1 changed while it was read (%2 bytes listed, %3 read)")
                         .arg(m_source)
                         .arg(info.st_size)
                         .arg(m_read);
            return false;
        }
        const qint64 written = ::lseek(m_out, 0, SEEK_CUR);
        if (checks.readBack)
            ::sync_file_range(m_out, 0, 0, SYNC_FILE_RANGE_WRITE);
        if (::close(m_out) != 0) {
            m_out = -1;
            *error = QStringLiteral("cannot write %1: %2").arg(m_temp, systemError());
            return false;
        }
        m_out = -1;
        if (::rename(QFile::encodeName(m_temp).constData(),
                     QFile::encodeName(m_destination).constData()) != 0) {
            *error = QStringLiteral("cannot rename %1 to %2: %3")
                         .arg(m_temp, m_destination, systemError());
            return false;
        }
        m_committed = true;
        made->file = CopiedFile{m_source,
                                info.st_size,
                                info.st_mtim.tv_sec,
                                static_cast<qint32>(info.st_mtim.tv_nsec),
                                checks.hash ? m_sourceHash.digest() : 0,
                                m_destination,
                                written,
                                checks.hash ? m_copyHash.digest() : 0,
                                false};
        made->info = m_info;
        made->hasInfo = m_infoValid;
        made->geotagged = m_geotagged;
        if (crc)
            *crc = m_crc;
        return true;
    }

private:
    /*
     * A JPEG photo: its headers are read into memory and geotagged there; the
     * new headers are written, then the photo's image data is streamed from
     * the card unchanged. A photo that cannot be tagged is copied as it is.
     */
    bool copyPhoto(int photoIndex, QString *error)
    {
        QByteArray head;
        qsizetype scan = -1;
        qsizetype scanEnd = -1;
        while (head.size() < maxHeaders) {
            const qsizetype before = head.size();
            head.resize(before + headBlock);
            const ssize_t got = readFull(m_in, head.data() + before, headBlock);
            if (got < 0) {
                *error = QStringLiteral("cannot read %1: %2").arg(m_source, systemError());
                return false;
            }
            took(head.constData() + before, got);
            head.resize(before + got);
            scan = Geotagger::imageDataStart(head, &scanEnd);
            if (scanEnd >= 0 || got == 0 || (scan < 0 && !head.startsWith("\xFF\xD8")))
                break;
        }

        QString why;
        QByteArray headers;
        if (scanEnd < 0) {
            why = QStringLiteral("not a JPEG, or its headers are damaged");
        } else {
            GeoPosition position{};
            const bool located =
                m_task->hooks.position && m_task->hooks.position(photoIndex, &position);
            /* The headers, the scan header and an end marker stand for the whole photo. */
            const QByteArray shortened = head.left(scanEnd) + QByteArray("\xFF\xD9", 2);
            qsizetype imageStart = 0;
            if (Geotagger::tagHeaders(shortened, located ? &position : nullptr, &headers,
                                      &imageStart, &m_info, &why)) {
                if (located) {
                    ++m_task->run->geotagged;
                    m_geotagged = true;
                    head.remove(0, scan); /* the new headers replace the old ones */
                }
                why.clear();
            }
        }
        if (!why.isEmpty()) {
            headers.clear();
            m_info = Geotagger::readInfo(head);
            skip(QStringLiteral("EXIF not written: %1").arg(why));
        }
        m_infoValid = true;
        if (!put(headers.constData(), headers.size()) || !put(head.constData(), head.size())) {
            *error = QStringLiteral("cannot write %1: %2").arg(m_temp, systemError());
            return false;
        }
        m_task->run->bytesWritten += headers.size() + head.size();
        m_endsWithImage = markerNearEnd(head.constData(), static_cast<size_t>(head.size()));
        if (!stream(error))
            return false;
        if (headers.isEmpty() || m_endsWithImage)
            return true;
        /*
         * A photo cut short has no end-of-image marker: it is not changed, but
         * copied as it is, read from the card once more (cut photos are rare).
         */
        m_task->run->geotagged -= 1;
        m_geotagged = false;
        m_info = Geotagger::readInfo(head);
        skip(QStringLiteral("EXIF not written: truncated JPEG: no end-of-image marker"));
        m_task->run->bytesWritten -= ::lseek(m_out, 0, SEEK_CUR);
        m_crc = 0;
        m_read = 0;
        m_sourceHash.reset();
        m_copyHash.reset();
        if (::ftruncate(m_out, 0) != 0 || ::lseek(m_out, 0, SEEK_SET) != 0 ||
            ::lseek(m_in, 0, SEEK_SET) != 0) {
            *error = QStringLiteral("cannot write %1: %2").arg(m_temp, systemError());
            return false;
        }
        return stream(error);
    }

    /* The rest of the file, to its end, through the task's small buffer. */
    bool stream(QString *error)
    {
        std::vector<char> &buffer = m_task->run->buffer;
        for (;;) {
            const ssize_t got = readFull(m_in, buffer.data(), buffer.size());
            if (got < 0) {
                *error = QStringLiteral("cannot read %1: %2").arg(m_source, systemError());
                return false;
            }
            if (got == 0)
                return true;
            took(buffer.data(), got);
            m_endsWithImage = markerNearEnd(buffer.data(), static_cast<size_t>(got));
            if (!put(buffer.data(), got)) {
                *error = QStringLiteral("cannot write %1: %2").arg(m_temp, systemError());
                return false;
            }
            m_task->run->bytesWritten += got;
        }
    }

    /* Bytes read from the card. */
    void took(const char *data, qsizetype size)
    {
        m_read += size;
        if (m_task->checks.hash)
            m_sourceHash.add(data, size);
    }

    /* Write to the copy, keeping the CRC-32 and the XXH64 of what it holds. */
    bool put(const char *data, qsizetype size)
    {
        if (m_wantCrc)
            m_crc = static_cast<quint32>(
                crc32_z(m_crc, reinterpret_cast<const Bytef *>(data), static_cast<size_t>(size)));
        if (m_task->checks.hash)
            m_copyHash.add(data, size);
        return writeAll(m_out, data, static_cast<size_t>(size));
    }

    /* An end-of-image marker in the last bytes of a block (padding may follow it). */
    bool markerNearEnd(const char *block, size_t size)
    {
        const size_t from = size > 4096 ? size - 4096 : 0;
        for (size_t i = size; i-- > from + 1;)
            if (static_cast<uchar>(block[i - 1]) == 0xFF && static_cast<uchar>(block[i]) == 0xD9)
                return true;
        /* A short last block: the marker may sit in the block before it. */
        return size < 4096 && m_endsWithImage;
    }

    void skip(const QString &reason)
    {
        ++m_task->run->skipped;
        std::lock_guard<std::mutex> guard(m_task->run->mutex);
        m_task->run->skippedFiles.push_back({m_source, reason});
    }

    DiskTask *m_task;
    QString m_source;
    QString m_destination;
    QString m_folder;
    QString m_temp;
    int m_in = -1;
    int m_out = -1;
    bool m_committed = false;
    bool m_infoValid = false;
    bool m_geotagged = false;
    bool m_endsWithImage = false; /* the bytes streamed so far end with an end-of-image marker */
    bool m_wantCrc = false;
    quint32 m_crc = 0; /* CRC-32 of the bytes written to the copy, when wanted */
    qint64 m_read = 0; /* bytes read from the card */
    FileHash::Xxh64 m_sourceHash;
    FileHash::Xxh64 m_copyHash;
    PhotoInfo m_info;
};

/* Rewrite the task file's header: the record with its counters as they are now. */
void saveHeader(DiskTask *task)
{
    disk_task_t header = task->record;
    std::memset(header.runtime_slots, 0, sizeof header.runtime_slots);
    header.running = load(task->record.running);
    header.finished = load(task->record.finished);
    header.next_index = load(task->record.next_index);
    if (::pwrite(task->run->taskFile, &header, sizeof header, 0) !=
        static_cast<ssize_t>(sizeof header))
        std::printf("update %s disk task file error: %s\n", task->record.task_file,
                    std::strerror(errno));
}

/* The number of the volume being filled: 2 for "pack2.zip" (or "pack2"). */
int volumeNumber(const disk_task_t &r)
{
    const QString current = text(r.volume_name, sizeof r.volume_name);
    const int k = static_cast<int>(current.lastIndexOf(QLatin1Char('k')));
    return QStringView(current).mid(k + 1).split(u'.').first().toInt();
}

/*
 * Every volume of a lens whose files are all done is closed for good: each
 * is named to the hook, which knows those it has seen already.
 */
bool closeVolumes(DiskTask *task, QString *error)
{
    const disk_task_t &r = task->record;
    if (!r.split || !task->hooks.volumeClosed)
        return true;
    const QString folder = text(r.zip_folder, sizeof r.zip_folder);
    for (int number = 1; number <= volumeNumber(r); ++number) {
        const QString volume = folder + QStringLiteral("pack%1.zip").arg(number);
        if (QFileInfo::exists(volume) && !task->hooks.volumeClosed(volume, error))
            return false;
    }
    return true;
}

/*
 * Pack the copy of a file into the lens's current zip volume. A volume holds
 * files while its size stays within the limit; a file that would pass it
 * opens the next volume ("pack2.zip" after "pack1"), and a file larger than
 * the limit gets a volume of its own. After a (re)start the volume is first
 * mended if a killed run left it half-appended, and a file it already holds
 * as its last entry is not packed again. The entry is added without waiting
 * for the disk: `pending` gets the volume, to be committed before the photo
 * counts as done (it stays empty when nothing was added).
 */
bool packIntoVolume(DiskTask *task, const QString &copy, quint32 crc, const QString &name,
                    bool firstOfRun, QString *pending, QString *error)
{
    disk_task_t &r = task->record;
    const qint64 size = QFileInfo(copy).size();
    const double limit = r.volume_limit_mib * 1048576.0;
    uint64_t bytes = r.volume_bytes + static_cast<uint64_t>(size);
    QString volume = text(r.volume_path, sizeof r.volume_path);
    if (r.volume_bytes > 0 && static_cast<double>(bytes) > limit) {
        /* The volume filled so far is closed for good: its last entry was committed. */
        if (task->hooks.volumeClosed && !task->hooks.volumeClosed(volume, error))
            return false;
        const QString next = QStringLiteral("pack%1.zip").arg(volumeNumber(r) + 1);
        volume = text(r.zip_folder, sizeof r.zip_folder) + next;
        if (!disk_task_set_text(r.volume_name, next) ||
            !disk_task_set_text(r.volume_path, volume)) {
            *error = QStringLiteral("the volume path %1 is too long").arg(volume);
            return false;
        }
        r.volume_bytes = 0; /* a new volume holds nothing yet */
        bytes = static_cast<uint64_t>(size);
        firstOfRun = false;
    }
    if (firstOfRun) {
        if (!ZipVolume::recover(volume, error))
            return false;
        const QStringList held = ZipVolume::entries(volume);
        if (!held.isEmpty() && held.last() == name) {
            r.volume_bytes = bytes;
            return true;
        }
    }
    const QByteArray password =
        r.use_password ? QByteArray(r.password, static_cast<qsizetype>(strnlen(r.password, 256)))
                       : QByteArray();
    if (!ZipVolume::addFileDeferred(volume, copy, name, password, error, crc))
        return false;
    r.volume_bytes = bytes;
    *pending = volume;
    return true;
}

void work(DiskTask *task)
{
    DiskTaskRun *run = task->run.get();
    disk_task_t &record = task->record;
    const QString destination = text(record.dest_folder, sizeof record.dest_folder);
    const bool readBackOn = task->checks.hash && task->checks.readBack;
    bool firstOfRun = true;
    if (run->resumed && task->hooks.resumed) {
        QStringList done;
        for (int32_t i = 0; i < load(record.next_index); ++i)
            if (run->photoIndex[static_cast<size_t>(i)] >= 0) {
                const QString source = QString::fromUtf8(run->files[static_cast<size_t>(i)].path);
                done << destination + source.mid(source.lastIndexOf(QLatin1Char('/')));
            }
        task->hooks.resumed(done);
    }
    const auto copyFile = [&](int index, MadeCopy *made, quint32 *crc, QString *error) {
        const file_info_t &entry = run->files[static_cast<size_t>(index)];
        const QString source = text(entry.path, sizeof entry.path);
        FileCopy copy(task, source, destination + source.mid(source.lastIndexOf(QLatin1Char('/'))));
        if (copy.run(run->photoIndex[static_cast<size_t>(index)], error, crc, made))
            return true;
        std::printf("open %s file error.\n", entry.path);
        return false;
    };
    /*
     * A file counts as done (next_index) only once its copy was read back and
     * matched and, with zip volumes, its entry committed; meanwhile the next
     * file is copied, so that the card, the disk and the read-back work side
     * by side. A killed run resumes with the file that was not yet counted.
     */
    QString pendingVolume;
    struct Pending {
        int index = -1;
        MadeCopy made;
        std::future<ReadBack> check;
    } pending;
    const auto finish = [&](QString *error) {
        if (pending.index < 0)
            return true;
        const int index = std::exchange(pending.index, -1);
        MadeCopy &made = pending.made;
        if (readBackOn) {
            ReadBack checked = pending.check.get();
            if (checked.done && !checked.matched) {
                /* The bad copy is made once more and read back at once. */
                run->bytesWritten -= made.file.copySize;
                run->geotagged -= made.geotagged ? 1 : 0;
                if (!copyFile(index, &made, nullptr, error))
                    return false;
                checked = readBack(destination, made.file.copy, made.file.copyHash,
                                   task->hooks.beforeReadBack);
                if (checked.done && !checked.matched) {
                    ::unlink(QFile::encodeName(made.file.copy).constData());
                    checked.error += QStringLiteral("; it was copied twice");
                }
            }
            if (!checked.matched) {
                *error = checked.error;
                return false;
            }
            made.file.verified = true;
            ++run->verified;
        }
        if (task->hooks.copied && !task->hooks.copied(made.file, error))
            return false;
        if (made.hasInfo && task->hooks.photoWritten)
            task->hooks.photoWritten(made.file.copy, made.info);
        if (!pendingVolume.isEmpty() &&
            !ZipVolume::commit(std::exchange(pendingVolume, QString()), error))
            return false;
        ++run->written;
        store(record.next_index, load(record.next_index) + 1);
        saveHeader(task);
        return true;
    };
    QString error;
    for (int32_t next = load(record.next_index);; ++next) {
        if (!load(record.running) || next >= record.file_num)
            break;
        MadeCopy made;
        quint32 crc = 0;
        if (!copyFile(next, &made, record.split ? &crc : nullptr, &error) || !finish(&error))
            break;
        if (record.split) {
            const QString name = QFileInfo(made.file.copy).fileName();
            if (!packIntoVolume(task, made.file.copy, crc, name, firstOfRun, &pendingVolume,
                                &error)) {
                std::printf("zip %s file error.\n", qPrintable(made.file.source));
                break;
            }
        }
        firstOfRun = false;
        pending.index = next;
        pending.made = std::move(made);
        if (readBackOn)
            pending.check =
                std::async(std::launch::async, readBack, destination, pending.made.file.copy,
                           pending.made.file.copyHash, task->hooks.beforeReadBack);
    }
    QString finishError;
    if (!finish(&finishError) && error.isEmpty())
        error = finishError;
    if (error.isEmpty() && load(record.next_index) == record.file_num)
        closeVolumes(task, &error);
    if (!error.isEmpty())
        failTask(run, error);
    store(record.finished, 1);
    saveHeader(task);
    if (task->hooks.ended)
        task->hooks.ended();
}

} // namespace

bool disk_task_load(DiskTask *task, QString *error)
{
    disk_task_t &record = task->record;
    const QString path = text(record.task_file, sizeof record.task_file);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot open the task file %1: %2").arg(path, systemError());
        return false;
    }
    auto damaged = [&](const QString &why) {
        ::close(fd);
        *error = QStringLiteral("task file %1 is damaged: %2").arg(path, why);
        return false;
    };
    disk_task_t stored{};
    if (readFull(fd, reinterpret_cast<char *>(&stored), sizeof stored) !=
        static_cast<ssize_t>(sizeof stored))
        return damaged(QStringLiteral("its header is short"));
    if (stored.file_num < 0 || stored.file_num > maxEntries || stored.next_index < 0 ||
        stored.next_index > stored.file_num)
        return damaged(
            QStringLiteral("%1 of %2 files done").arg(stored.next_index).arg(stored.file_num));
    /* The list must be there before room is made for it: a damaged count asks for gigabytes. */
    const size_t listBytes = static_cast<size_t>(stored.file_num) * sizeof(file_info_t);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || static_cast<size_t>(info.st_size) < sizeof stored + listBytes)
        return damaged(QStringLiteral("its file list is short"));
    auto run = std::make_unique<DiskTaskRun>();
    run->files.resize(static_cast<size_t>(stored.file_num));
    if (readFull(fd, reinterpret_cast<char *>(run->files.data()), listBytes) !=
        static_cast<ssize_t>(listBytes))
        return damaged(QStringLiteral("its file list is short"));
    int photos = 0;
    for (file_info_t &entry : run->files) {
        entry.path[sizeof entry.path - 1] = '\0';
        run->photoIndex.push_back(CardFinder::isJpegName(QString::fromUtf8(entry.path)) ? photos++
                                                                                        : -1);
    }
    /*
     * The volume being filled is the one the task file names: it is written
     * after every file, so it is right even after the process was killed.
     */
    if (record.split && stored.split && stored.volume_path[0] != '\0') {
        std::memcpy(record.volume_path, stored.volume_path, sizeof record.volume_path);
        std::memcpy(record.volume_name, stored.volume_name, sizeof record.volume_name);
        record.volume_path[sizeof record.volume_path - 1] = '\0';
        record.volume_name[sizeof record.volume_name - 1] = '\0';
        record.volume_bytes = stored.volume_bytes;
    }
    run->taskFile = fd;
    run->buffer.resize(copyBlock);
    store(record.file_num, stored.file_num);
    store(record.next_index, stored.next_index);
    task->run = std::move(run);
    return true;
}

namespace {

bool startWorker(DiskTask *task, int disk, QString *error, bool resumed = false)
{
    if (!disk_task_load(task, error)) {
        std::printf("load %d disk task file error.\n", disk);
        return false;
    }
    task->run->resumed = resumed;
    std::memset(task->record.runtime_slots, 0, sizeof task->record.runtime_slots);
    store(task->record.running, 1);
    store(task->record.finished, 0);
    task->run->thread = std::thread(work, task);
    return true;
}

/* The folder's files in the order of their UTF-8 names' bytes. */
bool listFolder(const QString &folder, std::vector<file_info_t> *entries, QString *error)
{
    QDir dir(folder);
    if (!dir.exists()) {
        *error = QStringLiteral("cannot read the folder %1").arg(folder);
        return false;
    }
    QList<QByteArray> names;
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        names << name.toUtf8();
    std::sort(names.begin(), names.end());
    const QByteArray prefix = folder.toUtf8() + '/';
    for (const QByteArray &name : std::as_const(names)) {
        const QByteArray path = prefix + name;
        file_info_t entry{};
        if (static_cast<size_t>(path.size()) >= sizeof entry.path) {
            *error = QStringLiteral("the path of %1 is longer than %2 bytes; nothing was copied")
                         .arg(QString::fromUtf8(path))
                         .arg(sizeof entry.path - 1);
            return false;
        }
        std::memcpy(entry.path, path.constData(), static_cast<size_t>(path.size()));
        entries->push_back(entry);
    }
    return true;
}

} // namespace

DiskTaskRun::~DiskTaskRun()
{
    if (thread.joinable())
        thread.join();
    if (taskFile >= 0)
        ::close(taskFile);
}

DiskTask::~DiskTask()
{
    store(record.running, 0);
    run.reset();
}

bool disk_task_set_text(char (&field)[256], const QString &value)
{
    const QByteArray bytes = value.toUtf8();
    std::memset(field, 0, sizeof field);
    if (static_cast<size_t>(bytes.size()) >= sizeof field)
        return false;
    std::memcpy(field, bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

int disk_task_create(DiskTask *task, int disk, QString *error)
{
    QString ignored;
    QString &why = error ? *error : ignored;
    if (!validDisk(disk)) {
        why = QStringLiteral("invalid disk number %1").arg(disk);
        return -1;
    }
    task->record.disk = disk;
    std::vector<file_info_t> entries;
    if (!listFolder(text(task->record.source_folder, sizeof task->record.source_folder), &entries,
                    &why)) {
        std::printf("create %d disk task file error.\n", disk);
        return -1;
    }
    /* The new task file goes to a temporary name first: an old one stays whole until then. */
    disk_task_t header = task->record;
    std::memset(header.runtime_slots, 0, sizeof header.runtime_slots);
    header.running = header.finished = 0;
    header.file_num = static_cast<int32_t>(entries.size());
    header.next_index = 0;
    const QString path = text(task->record.task_file, sizeof task->record.task_file);
    const QString temp = path + QStringLiteral(".part");
    QFile file(temp);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         file.write(reinterpret_cast<const char *>(&header), sizeof header) ==
                             static_cast<qint64>(sizeof header) &&
                         file.write(reinterpret_cast<const char *>(entries.data()),
                                    static_cast<qint64>(entries.size() * sizeof(file_info_t))) ==
                             static_cast<qint64>(entries.size() * sizeof(file_info_t)) &&
                         file.flush();
    file.close();
    if (!written || std::rename(QFile::encodeName(temp).constData(),
                                QFile::encodeName(path).constData()) != 0) {
        QFile::remove(temp);
        why = QStringLiteral("cannot write the task file %1: %2").arg(path, file.errorString());
        std::printf("create %d disk task file error.\n", disk);
        return -1;
    }
    return startWorker(task, disk, &why) ? 0 : -1;
}

int disk_task_resume(DiskTask *task, int disk, QString *error)
{
    QString ignored;
    QString &why = error ? *error : ignored;
    if (!validDisk(disk)) {
        why = QStringLiteral("invalid disk number %1").arg(disk);
        return -1;
    }
    if (task->run && task->run->thread.joinable())
        disk_task_stop(task, disk);
    task->record.disk = disk;
    return startWorker(task, disk, &why, true) ? 0 : -1;
}

int disk_task_stop(DiskTask *task, int disk)
{
    if (!validDisk(disk))
        return -1;
    store(task->record.running, 0);
    if (task->run && task->run->thread.joinable())
        task->run->thread.join();
    return 0;
}

int disk_task_done(const DiskTask *task)
{
    return load(task->record.next_index);
}

int disk_task_planned(const DiskTask *task)
{
    return load(task->record.file_num);
}

bool disk_task_running(const DiskTask *task)
{
    return load(task->record.running) != 0;
}

bool disk_task_finished(const DiskTask *task)
{
    return load(task->record.finished) != 0;
}

QString disk_task_error(const DiskTask *task)
{
    if (!task->run)
        return QString();
    std::lock_guard<std::mutex> guard(task->run->mutex);
    return task->run->error;
}
