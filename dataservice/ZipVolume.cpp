#include "ZipVolume.h"

#include "FileHash.h"
#include "platform/LocalTime.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

/*
 * The undo record (".packN.zip.undo" beside "packN.zip"), little-endian:
 *   "ORVXZUN1"               magic
 *   u8                       1 when the volume existed before the append, 0 when it did not
 *   u64                      the volume's length before the append
 *   u64                      where its central directory began (the append writes from here)
 *   bytes                    the volume from that offset to its end (central directory and
 *                            end records)
 *   u32                      CRC-32 of everything before it
 * It is written to ".packN.zip.undo.tmp", synced and renamed, so that it is either absent or
 * whole. Its presence means an append may have left the volume half-written.
 */

namespace ZipVolume {
namespace {

constexpr qint64 BlockSize = 1 << 20;
constexpr char UndoMagic[8] = {'O', 'R', 'V', 'X', 'Z', 'U', 'N', '1'};
constexpr qint64 UndoFixedSize = 8 + 1 + 8 + 8 + 4;
constexpr quint64 Zip32Limit = 0xFFFFFFFFu;

struct Undo {
    bool existed = false;
    quint64 length = 0;
    quint64 centralStart = 0;
    QByteArray tail;
};

/* A POSIX descriptor closed on scope exit. */
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    /* Close now and report whether the close itself succeeded. */
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

QString systemError(int err = errno)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString folderOf(const QString &path)
{
    return QFileInfo(path).path();
}

QString undoPath(const QString &volumePath)
{
    const QFileInfo info(volumePath);
    return info.path() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".undo");
}

QString undoTempPath(const QString &volumePath)
{
    return undoPath(volumePath) + QStringLiteral(".tmp");
}

bool syncFolder(const QString &folder, QString *why)
{
    Fd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() || ::fsync(fd.get()) != 0) {
        *why = QStringLiteral("cannot sync the folder %1: %2").arg(folder, systemError());
        return false;
    }
    return true;
}

/* pread or pwrite a whole range, going on after short transfers and interruptions. */
template <typename Transfer, typename Byte>
bool wholeRange(Transfer transfer, int fd, quint64 offset, Byte *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = transfer(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        offset += quint64(n);
        size -= n;
    }
    return true;
}

bool readAt(int fd, quint64 offset, char *data, qint64 size)
{
    return wholeRange(::pread, fd, offset, data, size);
}

bool writeAt(int fd, quint64 offset, const char *data, qint64 size)
{
    return wholeRange(::pwrite, fd, offset, data, size);
}

quint64 readLe(const char *p, int bytes)
{
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | quint8(p[i]);
    return v;
}

void appendLe(QByteArray &out, quint64 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char(quint8(v >> (8 * i))));
}

quint32 crcOf(const char *data, qint64 size, quint32 crc = 0)
{
    while (size > 0) {
        const uInt n = uInt(qMin<qint64>(size, BlockSize));
        crc = quint32(crc32(crc, reinterpret_cast<const Bytef *>(data), n));
        data += n;
        size -= n;
    }
    return crc;
}

/*
 * Where the central directory of the volume begins, found as minizip finds it when it opens
 * a volume for adding: the last end-of-central-directory signature within the final 64 KiB,
 * the Zip64 end record when its locator stands just before, and the directory's size counted
 * back from the end record. minizip writes the new entry from exactly there.
 */
bool centralDirectoryStart(int fd, quint64 length, quint64 *start)
{
    constexpr quint64 EndSize = 22, LocatorSize = 20, End64Size = 56;
    if (length < EndSize)
        return false;
    const quint64 window = qMin<quint64>(length, 0xFFFF + EndSize);
    QByteArray back(qsizetype(window), Qt::Uninitialized);
    if (!readAt(fd, length - window, back.data(), qint64(window)))
        return false;
    qint64 at = -1;
    for (qint64 i = qint64(window) - 4; i >= 0; --i) {
        if (back.at(i) == 'P' && back.at(i + 1) == 'K' && back.at(i + 2) == 5 &&
            back.at(i + 3) == 6) {
            at = i;
            break;
        }
    }
    if (at < 0 || quint64(at) + EndSize > window)
        return false;
    const quint64 endPos = length - window + quint64(at);
    const char *end = back.constData() + at;
    quint64 recordPos = endPos;
    quint64 size = readLe(end + 12, 4);
    quint64 offset = readLe(end + 16, 4);

    if (endPos >= LocatorSize) {
        char locator[LocatorSize];
        if (!readAt(fd, endPos - LocatorSize, locator, LocatorSize))
            return false;
        if (readLe(locator, 4) == 0x07064b50 && readLe(locator + 4, 4) == 0 &&
            readLe(locator + 16, 4) == 1) {
            const quint64 pos64 = readLe(locator + 8, 8);
            char end64[End64Size];
            if (pos64 + End64Size <= length && readAt(fd, pos64, end64, End64Size) &&
                readLe(end64, 4) == 0x06064b50) {
                recordPos = pos64;
                size = readLe(end64 + 40, 8);
                offset = readLe(end64 + 48, 8);
            }
        }
    }
    if (offset > recordPos || size > recordPos - offset)
        return false;
    *start = recordPos - size;
    return true;
}

QByteArray encodeUndo(const Undo &undo)
{
    QByteArray out(UndoMagic, sizeof UndoMagic);
    out.append(char(undo.existed ? 1 : 0));
    appendLe(out, undo.length, 8);
    appendLe(out, undo.centralStart, 8);
    out.append(undo.tail);
    appendLe(out, crcOf(out.constData(), out.size()), 4);
    return out;
}

bool decodeUndo(const QByteArray &in, Undo *undo)
{
    if (in.size() < UndoFixedSize || !in.startsWith(QByteArray(UndoMagic, sizeof UndoMagic)))
        return false;
    const char *p = in.constData();
    if (readLe(p + in.size() - 4, 4) != crcOf(p, in.size() - 4))
        return false;
    undo->existed = p[8] == 1;
    undo->length = readLe(p + 9, 8);
    undo->centralStart = readLe(p + 17, 8);
    undo->tail = in.mid(25, in.size() - UndoFixedSize);
    return undo->centralStart <= undo->length &&
           undo->length - undo->centralStart == quint64(undo->tail.size());
}

/* The undo record is made durable before the volume is touched. */
bool writeUndo(const QString &volumePath, const Undo &undo, QString *why)
{
    const QString temp = undoTempPath(volumePath);
    const QByteArray bytes = encodeUndo(undo);
    Fd fd(::open(QFile::encodeName(temp).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                 0644));
    if (!fd.valid() || !writeAt(fd.get(), 0, bytes.constData(), bytes.size()) ||
        ::fsync(fd.get()) != 0 || !fd.close()) {
        *why = QStringLiteral("cannot write %1: %2").arg(temp, systemError());
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    if (::rename(QFile::encodeName(temp).constData(),
                 QFile::encodeName(undoPath(volumePath)).constData()) != 0) {
        *why = QStringLiteral("cannot rename %1: %2").arg(temp, systemError());
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    return syncFolder(folderOf(volumePath), why);
}

bool removeUndo(const QString &volumePath, QString *why)
{
    const QString path = undoPath(volumePath);
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
        *why = QStringLiteral("cannot remove %1: %2").arg(path, systemError());
        return false;
    }
    return syncFolder(folderOf(volumePath), why);
}

/* Put the volume back as the undo record describes it; doing it twice does no harm. */
bool restore(const QString &volumePath, const Undo &undo, QString *why)
{
    const QByteArray native = QFile::encodeName(volumePath);
    if (!undo.existed) {
        if (::unlink(native.constData()) != 0 && errno != ENOENT) {
            *why = QStringLiteral("cannot remove %1: %2").arg(volumePath, systemError());
            return false;
        }
        return syncFolder(folderOf(volumePath), why);
    }
    Fd fd(::open(native.constData(), O_RDWR | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        *why = QStringLiteral("cannot open %1: %2").arg(volumePath, systemError());
        return false;
    }
    if (quint64(st.st_size) < undo.centralStart) {
        *why = QStringLiteral("%1 is shorter (%2 bytes) than its last whole entry (%3 bytes)")
                   .arg(volumePath)
                   .arg(st.st_size)
                   .arg(undo.centralStart);
        return false;
    }
    if (::ftruncate(fd.get(), off_t(undo.centralStart)) != 0 ||
        !writeAt(fd.get(), undo.centralStart, undo.tail.constData(), undo.tail.size()) ||
        ::fsync(fd.get()) != 0 || !fd.close()) {
        *why = QStringLiteral("cannot rewrite %1: %2").arg(volumePath, systemError());
        return false;
    }
    return true;
}

bool opens(const QString &volumePath, QString *why)
{
    unzFile zip = unzOpen64(QFile::encodeName(volumePath).constData());
    if (!zip) {
        *why = QStringLiteral("%1 is damaged: it does not open as a zip volume").arg(volumePath);
        return false;
    }
    unzClose(zip);
    return true;
}

/* MS-DOS date (high word) and time (low word) of a local time, within 1980 to 2107. */
uLong dosDateTime(const QDateTime &local)
{
    const QDate date = local.date();
    const QTime time = local.time();
    if (!local.isValid() || date.year() < 1980)
        return (1u << 21) | (1u << 16); // 1980-01-01 00:00:00
    if (date.year() > 2107)
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    return (uLong(date.year() - 1980) << 25) | (uLong(date.month()) << 21) |
           (uLong(date.day()) << 16) | (uLong(time.hour()) << 11) | (uLong(time.minute()) << 5) |
           uLong(time.second() / 2);
}

/* The CRC-32 of a whole file, read in blocks; false when it is not `size` bytes long. */
bool fileCrc(QFile &file, qint64 size, std::vector<char> &block, quint32 *crc)
{
    quint32 value = 0;
    qint64 total = 0;
    for (;;) {
        const qint64 n = file.read(block.data(), BlockSize);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        value = crcOf(block.data(), n, value);
        total += n;
    }
    *crc = value;
    return total == size && file.seek(0);
}

/*
 * Entries with a password are deflated and encrypted here and handed to minizip raw. The Debian
 * build of minizip 1.1 reads zlib's CRC table (4-byte entries) through an `unsigned long`
 * pointer, so on 64-bit systems its own traditional encryption gives entries that no other
 * tool opens. The deflate parameters are the ones minizip uses for the other entries.
 */
/* The traditional PKWARE cipher's three keys, set up from a password. */
class PkwareKeys {
public:
    explicit PkwareKeys(const QByteArray &password) : m_table(get_crc_table())
    {
        for (const char c : password)
            update(quint8(c));
    }

    /* Encrypt in place. The keys are held in locals: a store through the byte pointer could
     * alias the members, which would keep them out of registers. */
    void encrypt(Bytef *data, unsigned size) { run<true>(data, size); }
    void decrypt(Bytef *data, unsigned size) { run<false>(data, size); }

private:
    quint32 crcByte(quint32 crc, quint8 c) const { return m_table[(crc ^ c) & 0xff] ^ (crc >> 8); }
    void update(quint8 c)
    {
        m_keys[0] = crcByte(m_keys[0], c);
        m_keys[1] = (m_keys[1] + (m_keys[0] & 0xff)) * 134775813u + 1;
        m_keys[2] = crcByte(m_keys[2], quint8(m_keys[1] >> 24));
    }
    template <bool Encrypting> void run(Bytef *data, unsigned size)
    {
        const z_crc_t *table = m_table;
        quint32 k0 = m_keys[0], k1 = m_keys[1], k2 = m_keys[2];
        for (unsigned i = 0; i < size; ++i) {
            const quint32 t = (k2 & 0xffff) | 2;
            const quint8 stream = quint8((t * (t ^ 1)) >> 8);
            const quint8 plain = Encrypting ? data[i] : quint8(data[i] ^ stream);
            data[i] ^= stream;
            k0 = table[(k0 ^ plain) & 0xff] ^ (k0 >> 8);
            k1 = (k1 + (k0 & 0xff)) * 134775813u + 1;
            k2 = table[(k2 ^ (k1 >> 24)) & 0xff] ^ (k2 >> 8);
        }
        m_keys[0] = k0;
        m_keys[1] = k1;
        m_keys[2] = k2;
    }

    const z_crc_t *m_table;
    quint32 m_keys[3] = {0x12345678, 0x23456789, 0x34567890};
};

class EncryptingDeflater {
public:
    explicit EncryptingDeflater(const QByteArray &password) : m_keys(password), m_out(64 * 1024) {}
    ~EncryptingDeflater()
    {
        if (m_started)
            deflateEnd(&m_stream);
    }
    EncryptingDeflater(const EncryptingDeflater &) = delete;
    EncryptingDeflater &operator=(const EncryptingDeflater &) = delete;

    /* The 12-byte header: ten random bytes, then the high word of the entry's CRC-32. */
    bool start(zipFile zip, quint32 crc)
    {
        m_started = deflateInit2(&m_stream, 0, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL,
                                 Z_DEFAULT_STRATEGY) == Z_OK;
        quint8 header[12];
        QRandomGenerator::system()->generate(header, header + 10);
        header[10] = quint8(crc >> 16);
        header[11] = quint8(crc >> 24);
        m_keys.encrypt(header, sizeof header);
        return m_started && zipWriteInFileInZip(zip, header, sizeof header) == ZIP_OK;
    }
    bool write(zipFile zip, const char *data, qint64 size)
    {
        return deflateInto(zip, data, size, Z_NO_FLUSH);
    }
    bool finish(zipFile zip) { return deflateInto(zip, nullptr, 0, Z_FINISH); }

private:
    bool deflateInto(zipFile zip, const char *data, qint64 size, int flush)
    {
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_stream.avail_in = uInt(size);
        int rc = Z_OK;
        do {
            m_stream.next_out = m_out.data();
            m_stream.avail_out = uInt(m_out.size());
            rc = deflate(&m_stream, flush);
            if (rc == Z_STREAM_ERROR)
                return false;
            const unsigned produced = unsigned(m_out.size() - m_stream.avail_out);
            m_keys.encrypt(m_out.data(), produced);
            if (produced > 0 && zipWriteInFileInZip(zip, m_out.data(), produced) != ZIP_OK)
                return false;
        } while (m_stream.avail_out == 0);
        return flush != Z_FINISH || rc == Z_STREAM_END;
    }
    PkwareKeys m_keys;
    z_stream m_stream{};
    bool m_started = false;
    std::vector<Bytef> m_out;
};

} // namespace

bool passwordUsable(const QByteArray &password, QString *why)
{
    QString reason;
    if (password.isEmpty())
        reason = QStringLiteral("the password is empty");
    else if (password.size() > 255)
        reason = QStringLiteral("the password is longer than 255 characters");
    for (const char c : password) {
        if (reason.isEmpty() && (quint8(c) < 0x20 || quint8(c) > 0x7E))
            reason = QStringLiteral("the password must be printable ASCII");
    }
    if (why)
        *why = reason;
    return reason.isEmpty();
}

bool recover(const QString &volumePath, QString *error)
{
    QString why;
    ::unlink(QFile::encodeName(undoTempPath(volumePath)).constData()); // the volume was untouched
    const QString undoFile = undoPath(volumePath);
    if (!QFileInfo::exists(undoFile)) {
        if (!QFileInfo::exists(volumePath) || opens(volumePath, &why))
            return true;
        if (error)
            *error = why;
        return false;
    }
    QFile file(undoFile);
    Undo undo;
    bool ok = file.open(QIODevice::ReadOnly);
    if (!ok)
        why = QStringLiteral("cannot read %1: %2").arg(undoFile, file.errorString());
    else if (!(ok = decodeUndo(file.readAll(), &undo)))
        why = QStringLiteral("cannot mend %1: its undo record %2 is damaged")
                  .arg(volumePath, undoFile);
    ok = ok && restore(volumePath, undo, &why) && removeUndo(volumePath, &why) &&
         (!undo.existed || opens(volumePath, &why));
    if (!ok && error)
        *error = why;
    return ok;
}

namespace {

bool append(const QString &volumePath, const QString &filePath, const QString &entryName,
            const QByteArray &password, QString *error, std::optional<quint32> knownCrc,
            bool deferred)
{
    QString why;
    const auto failed = [&](const QString &reason) {
        if (error)
            *error = QStringLiteral("cannot add %1 to the zip volume %2: %3")
                         .arg(filePath, volumePath, reason);
        return false;
    };

    if (!password.isEmpty() && !passwordUsable(password, &why))
        return failed(why);
    const QByteArray name = entryName.toUtf8();
    if (name.isEmpty() || name.size() > 0xFFFF || name.contains('\0'))
        return failed(QStringLiteral("unusable entry name \"%1\"").arg(entryName));

    const QFileInfo source(filePath);
    if (!source.exists())
        return failed(QStringLiteral("the file does not exist"));
    if (!source.isFile())
        return failed(QStringLiteral("not a regular file"));
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return failed(file.errorString());
    const qint64 size = file.size();
    uLong dosTime;
    {
        std::lock_guard<std::mutex> lock(localTimeLock());
        dosTime = dosDateTime(source.lastModified());
    }

    // An earlier append that never finished is undone before this one starts.
    if (QFileInfo::exists(undoPath(volumePath)) && !recover(volumePath, &why))
        return failed(why);

    std::vector<char> block(BlockSize);
    quint32 crc = knownCrc.value_or(0);
    if (!password.isEmpty() && !knownCrc && !fileCrc(file, size, block, &crc))
        return failed(QStringLiteral("the file cannot be read whole"));

    const QByteArray nativeVolume = QFile::encodeName(volumePath);
    Undo undo;
    {
        Fd fd(::open(nativeVolume.constData(), O_RDONLY | O_CLOEXEC));
        struct stat st;
        if (!fd.valid() && errno != ENOENT)
            return failed(systemError());
        undo.existed = fd.valid();
        if (undo.existed) {
            if (::fstat(fd.get(), &st) != 0)
                return failed(systemError());
            undo.length = quint64(st.st_size);
            if (!centralDirectoryStart(fd.get(), undo.length, &undo.centralStart))
                return failed(QStringLiteral("the volume is not a whole zip volume"));
            undo.tail.resize(qsizetype(undo.length - undo.centralStart));
            if (!readAt(fd.get(), undo.centralStart, undo.tail.data(), undo.tail.size()))
                return failed(systemError());
        }
    }

    // Zip64 only where a plain entry cannot hold it: stored deflate blocks add a few bytes per
    // block, so the margin keeps the deflated size and the volume's end below 4 GB.
    const quint64 margin = quint64(size) / 1024 + 65536 + 2 * quint64(name.size());
    const int zip64 =
        quint64(size) + margin >= Zip32Limit || undo.length + quint64(size) + margin >= Zip32Limit;

    if (!writeUndo(volumePath, undo, &why))
        return failed(why);
    // From here on every failure puts the volume back before returning.
    const auto undone = [&](const QString &reason) {
        QString more;
        if (!restore(volumePath, undo, &more) || !removeUndo(volumePath, &more))
            return failed(reason + QStringLiteral("; left for recovery: ") + more);
        return failed(reason);
    };

    zipFile zip = zipOpen64(nativeVolume.constData(),
                            undo.existed ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE);
    if (!zip)
        return undone(undo.existed ? QStringLiteral("the volume cannot be opened for adding")
                                   : QStringLiteral("the volume cannot be created"));

    zip_fileinfo info{};
    info.dosDate = dosTime;
    info.tmz_date.tm_year = uInt((dosTime >> 25) + 1980);
    info.tmz_date.tm_mon = uInt(((dosTime >> 21) & 0x0F) - 1);
    info.tmz_date.tm_mday = uInt((dosTime >> 16) & 0x1F);
    info.tmz_date.tm_hour = uInt((dosTime >> 11) & 0x1F);
    info.tmz_date.tm_min = uInt((dosTime >> 5) & 0x3F);
    info.tmz_date.tm_sec = uInt((dosTime & 0x1F) * 2);
    constexpr uLong VersionMadeBy = 0;     // as minizip writes it
    constexpr uLong Utf8NameFlag = 0x0800; // general-purpose bit 11
    constexpr uLong EncryptedFlag = 0x0001;
    std::optional<EncryptingDeflater> encrypter;
    if (!password.isEmpty())
        encrypter.emplace(password);
    QString problem;
    int rc = zipOpenNewFileInZip4_64(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                     Z_DEFLATED, 0, encrypter ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                     Z_DEFAULT_STRATEGY, nullptr, 0, VersionMadeBy,
                                     Utf8NameFlag | (encrypter ? EncryptedFlag : 0), zip64);
    if (rc != ZIP_OK || (encrypter && !encrypter->start(zip, crc)))
        problem = QStringLiteral("the entry cannot be started");

    /* Write-back of the volume is started as the entry grows, so that the sync at its end
     * waits for little more than the last blocks. */
    Fd volumeFd(::open(nativeVolume.constData(), O_RDONLY | O_CLOEXEC));
    constexpr qint64 WriteBackStep = 8 * BlockSize;
    qint64 writeBackAt = WriteBackStep;
    quint32 written = 0;
    qint64 total = 0;
    while (problem.isEmpty()) {
        const qint64 n = file.read(block.data(), BlockSize);
        if (n < 0)
            problem = file.errorString();
        if (n <= 0)
            break;
        written = crcOf(block.data(), n, written);
        total += n;
        if (total > size)
            problem = QStringLiteral("the file grew while it was packed");
        else if (encrypter ? !encrypter->write(zip, block.data(), n)
                           : zipWriteInFileInZip(zip, block.data(), unsigned(n)) != ZIP_OK)
            problem = QStringLiteral("the volume cannot be written");
        if (total >= writeBackAt && volumeFd.valid()) {
            ::sync_file_range(volumeFd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
            writeBackAt = total + WriteBackStep;
        }
    }
    if (problem.isEmpty() && total != size)
        problem = QStringLiteral("the file shrank while it was packed");
    if (problem.isEmpty() && (encrypter || knownCrc) && written != crc)
        problem = QStringLiteral("the file changed while it was packed");
    if (problem.isEmpty() &&
        (encrypter ? !encrypter->finish(zip) || zipCloseFileInZipRaw64(zip, quint64(size), crc)
                   : zipCloseFileInZip(zip)))
        problem = QStringLiteral("the entry cannot be closed");
    // zipClose also ends an entry left open by a failure; the volume is put back anyway then.
    if ((rc = zipClose(zip, nullptr)) != ZIP_OK && problem.isEmpty())
        problem = QStringLiteral("the volume cannot be closed (minizip error %1)").arg(rc);
    if (!problem.isEmpty())
        return undone(problem);

    if (!volumeFd.valid())
        return undone(QStringLiteral("cannot open the volume: %1").arg(systemError()));
    if (deferred) {
        ::sync_file_range(volumeFd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        return true;
    }
    if (::fsync(volumeFd.get()) != 0 || !volumeFd.close())
        return undone(QStringLiteral("cannot sync the volume: %1").arg(systemError()));
    if (!removeUndo(volumePath, &why)) /* also makes a new volume's name durable */
        return undone(why);
    return true;
}

} // namespace

bool addFile(const QString &volumePath, const QString &filePath, const QString &entryName,
             const QByteArray &password, QString *error, std::optional<quint32> crc)
{
    return append(volumePath, filePath, entryName, password, error, crc, false);
}

bool addFileDeferred(const QString &volumePath, const QString &filePath, const QString &entryName,
                     const QByteArray &password, QString *error, std::optional<quint32> crc)
{
    return append(volumePath, filePath, entryName, password, error, crc, true);
}

bool commit(const QString &volumePath, QString *error)
{
    QString why;
    Fd fd(::open(QFile::encodeName(volumePath).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid() || ::fsync(fd.get()) != 0 || !fd.close())
        why = QStringLiteral("cannot sync the zip volume %1: %2").arg(volumePath, systemError());
    else if (removeUndo(volumePath, &why))
        return true;
    if (error)
        *error = why;
    return false;
}

QStringList entries(const QString &volumePath, QString *error)
{
    QStringList names;
    unzFile zip = unzOpen64(QFile::encodeName(volumePath).constData());
    if (!zip) {
        if (error)
            *error = QStringLiteral("cannot read the zip volume %1").arg(volumePath);
        return {};
    }
    unz_global_info64 global;
    int rc = unzGetGlobalInfo64(zip, &global);
    if (rc == UNZ_OK)
        rc = global.number_entry == 0 ? UNZ_END_OF_LIST_OF_FILE : unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        unz_file_info64 info;
        rc = unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0);
        if (rc != UNZ_OK)
            break;
        QByteArray name(qsizetype(info.size_filename) + 1, '\0');
        rc = unzGetCurrentFileInfo64(zip, &info, name.data(), uLong(name.size()), nullptr, 0,
                                     nullptr, 0);
        if (rc != UNZ_OK)
            break;
        name.chop(1);
        names.append(QString::fromUtf8(name));
        rc = unzGoToNextFile(zip);
    }
    unzClose(zip);
    if (rc != UNZ_END_OF_LIST_OF_FILE) {
        if (error)
            *error = QStringLiteral("cannot list the zip volume %1: its central directory is "
                                    "damaged")
                         .arg(volumePath);
        return {};
    }
    return names;
}

namespace {

/* Read an entry through minizip, which checks its CRC-32 at the end. */
bool testPlain(unzFile zip, std::vector<char> &block, QString *why)
{
    int n = 0;
    int rc = unzOpenCurrentFile(zip);
    while (rc == UNZ_OK && (n = unzReadCurrentFile(zip, block.data(), unsigned(block.size()))) > 0)
        ;
    const int closed = rc == UNZ_OK ? unzCloseCurrentFile(zip) : rc;
    if (rc == UNZ_OK && n == 0 && closed == UNZ_OK)
        return true;
    *why = closed == UNZ_CRCERROR ? QStringLiteral("fails its CRC-32 check")
                                  : QStringLiteral("cannot be read back");
    return false;
}

/*
 * An encrypted entry is read raw through minizip (whose own decryption is the
 * one that fails on 64-bit systems), decrypted and inflated here, and the
 * CRC-32 and size of what comes out checked against its header.
 */
bool testEncrypted(unzFile zip, const unz_file_info64 &info, const QByteArray &password,
                   std::vector<char> &block, QString *why)
{
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK ||
        (method != 0 && method != Z_DEFLATED)) {
        *why = QStringLiteral("cannot be read back");
        return false;
    }
    PkwareKeys keys(password);
    z_stream inflater{};
    const bool deflated = method == Z_DEFLATED;
    if (deflated && inflateInit2(&inflater, -MAX_WBITS) != Z_OK) {
        unzCloseCurrentFile(zip);
        *why = QStringLiteral("cannot be read back");
        return false;
    }
    std::vector<Bytef> out(block.size());
    quint32 crc = 0;
    quint64 size = 0;
    qint64 header = 12; /* the cipher's header bytes still to skip */
    int rc = Z_OK;
    int n = 0;
    while ((n = unzReadCurrentFile(zip, block.data(), unsigned(block.size()))) > 0) {
        auto *data = reinterpret_cast<Bytef *>(block.data());
        keys.decrypt(data, unsigned(n));
        const qint64 skip = std::min<qint64>(header, n);
        header -= skip;
        data += skip;
        const unsigned left = unsigned(n - skip);
        if (!deflated) {
            crc = quint32(crc32_z(crc, data, left));
            size += left;
            continue;
        }
        inflater.next_in = data;
        inflater.avail_in = left;
        while (inflater.avail_in > 0 && rc == Z_OK) {
            inflater.next_out = out.data();
            inflater.avail_out = uInt(out.size());
            rc = inflate(&inflater, Z_NO_FLUSH);
            const size_t produced = out.size() - inflater.avail_out;
            crc = quint32(crc32_z(crc, out.data(), produced));
            size += produced;
        }
        if (rc != Z_OK && rc != Z_STREAM_END)
            break;
    }
    if (deflated)
        inflateEnd(&inflater);
    unzCloseCurrentFile(zip);
    if (n < 0 || header > 0 || (deflated && rc != Z_STREAM_END)) {
        *why = QStringLiteral("cannot be read back (wrong password or damaged data)");
        return false;
    }
    if (crc != info.crc || size != info.uncompressed_size) {
        *why = QStringLiteral("fails its CRC-32 check");
        return false;
    }
    return true;
}

} // namespace

bool test(const QString &volumePath, const QByteArray &password, quint64 *hash, QString *error)
{
    const QByteArray path = QFile::encodeName(volumePath);
    Fd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        *error = QStringLiteral("cannot read the zip volume %1: %2").arg(volumePath, systemError());
        return false;
    }
    /* The test reads what the disk holds: pages still cached from writing are dropped first. */
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    unzFile zip = unzOpen64(path.constData());
    if (!zip) {
        *error = QStringLiteral("zip volume %1: not a readable zip file").arg(volumePath);
        return false;
    }
    std::vector<char> block(1 << 20);
    QString bad;
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK && bad.isEmpty()) {
        char name[1024] = {};
        unz_file_info64 info;
        rc = unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
        if (rc != UNZ_OK)
            break;
        QString why;
        if ((info.flag & 1) != 0 ? !testEncrypted(zip, info, password, block, &why)
                                 : !testPlain(zip, block, &why))
            bad = QStringLiteral("its entry %1 %2").arg(QString::fromUtf8(name), why);
        else
            rc = unzGoToNextFile(zip);
    }
    unzClose(zip);
    if (bad.isEmpty() && rc != UNZ_END_OF_LIST_OF_FILE)
        bad = QStringLiteral("its central directory is damaged");
    if (!bad.isEmpty()) {
        *error = QStringLiteral("zip volume %1 failed its test: %2").arg(volumePath, bad);
        return false;
    }
    /* The pages the test read are the disk's: hashing them needs no second read from the disk. */
    FileHash::Xxh64 sum;
    for (;;) {
        const ssize_t got = ::read(fd.get(), block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error =
                QStringLiteral("cannot read the zip volume %1: %2").arg(volumePath, systemError());
            return false;
        }
        if (got == 0)
            break;
        sum.add(block.data(), got);
    }
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    *hash = sum.digest();
    return true;
}

} // namespace ZipVolume
