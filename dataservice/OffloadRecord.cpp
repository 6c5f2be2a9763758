#include "OffloadRecord.h"

#include "FileHash.h"
#include "LensTable.h"
#include "platform/WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QVariant>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <limits>

namespace OffloadRecord {
namespace {

const QString Format = QStringLiteral("orvex-offload-record");
/* How every header this program writes begins: a torn first line is recognised by it. */
const QByteArray HeaderStart = R"({"format":"orvex-offload-record","version":1,"created":")";

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

/* A JSON string literal. */
QByteArray quoted(const QString &text)
{
    QByteArray out("\"");
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += QByteArray("\\u00") + QByteArray::number(int(c), 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

QByteArray isoTime(const QDateTime &time)
{
    const QDateTime utc = time.isValid() ? time.toUTC() : QDateTime::currentDateTimeUtc();
    return quoted(utc.toString(Qt::ISODateWithMs));
}

QByteArray lensKey(int disk)
{
    return quoted(disk >= 0 && disk < LensTable::count ? LensTable::lens(disk).key : QString());
}

enum class Kind { Header, File, Volume, Garbage, Foreign };

/* A line's object, checked field by field; the first failed check makes it garbage. */
class Fields {
public:
    explicit Fields(const QJsonObject &object) : m_object(object) {}
    bool ok() const { return m_ok; }

    /* The object has exactly these keys. */
    void keys(std::initializer_list<const char *> names)
    {
        m_ok = m_ok && m_object.size() == qsizetype(names.size());
        for (const char *name : names)
            m_ok = m_ok && m_object.contains(QLatin1String(name));
    }
    QString text(const char *name, bool mayBeEmpty = true)
    {
        const QJsonValue value = m_object.value(QLatin1String(name));
        const QString text = value.toString();
        m_ok =
            m_ok && value.isString() && (mayBeEmpty || !text.isEmpty()) && !text.contains(QChar(0));
        return text;
    }
    qint64 integer(const char *name, qint64 low, qint64 high)
    {
        const QJsonValue value = m_object.value(QLatin1String(name));
        const qint64 number = value.toInteger();
        /* Integral JSON numbers come back as qlonglong; 1.5 or 1e30 stay double. */
        m_ok = m_ok && value.isDouble() && value.toVariant().typeId() == QMetaType::LongLong &&
               number >= low && number <= high;
        return number;
    }
    bool flag(const char *name)
    {
        const QJsonValue value = m_object.value(QLatin1String(name));
        m_ok = m_ok && value.isBool();
        return value.toBool();
    }
    quint64 hash(const char *name)
    {
        const std::optional<quint64> hash = FileHash::fromHex(text(name));
        m_ok = m_ok && hash.has_value();
        return hash.value_or(0);
    }
    QDateTime time(const char *name)
    {
        const QString text = this->text(name);
        const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
        m_ok = m_ok && time.isValid() && text.endsWith(QLatin1Char('Z'));
        return time.toUTC();
    }
    int lens(const char *name)
    {
        const QString key = text(name);
        for (const Lens &lens : LensTable::lenses())
            if (lens.key == key)
                return lens.disk;
        m_ok = false;
        return -1;
    }
    QString path(const char *name)
    {
        const QString path = text(name);
        m_ok = m_ok && isRecordPath(path);
        return path;
    }

private:
    QJsonObject m_object;
    bool m_ok = true;
};

struct Parsed {
    Kind kind = Kind::Garbage;
    int version = 0;
    QDateTime created;
    FileLine file;
    VolumeLine volume;
};

Parsed parse(const QByteArray &text)
{
    Parsed parsed;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return parsed;
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QLatin1String("version"));
    const bool integral = version.isDouble() && version.toVariant().typeId() == QMetaType::LongLong;
    parsed.version = integral ? int(version.toInteger()) : 0;
    parsed.kind = Kind::Foreign;
    Fields f(object);
    if (object.contains(QLatin1String("format"))) {
        if (object.value(QLatin1String("format")) != Format || !integral)
            return parsed;
        parsed.kind = Kind::Header;
        if (parsed.version != Version)
            return parsed;
        f.keys({"format", "version", "created"});
        parsed.created = f.time("created");
    } else {
        const QJsonValue kind = object.value(QLatin1String("kind"));
        if (!integral || parsed.version != Version)
            return parsed;
        if (kind == QLatin1String("file")) {
            parsed.kind = Kind::File;
            FileLine &l = parsed.file;
            f.keys({"kind", "version", "lens", "card_uuid", "card_label", "card_path", "size",
                    "mtime", "mtime_ns", "source_xxh64", "copy", "copy_size", "copy_xxh64",
                    "verified", "time"});
            l.disk = f.lens("lens");
            l.cardUuid = f.text("card_uuid", false);
            l.cardLabel = f.text("card_label");
            l.cardPath = f.path("card_path");
            l.size = f.integer("size", 0, std::numeric_limits<qint64>::max());
            l.mtime.seconds = f.integer("mtime", std::numeric_limits<qint64>::min(),
                                        std::numeric_limits<qint64>::max());
            l.mtime.nanoseconds = qint32(f.integer("mtime_ns", 0, 999999999));
            l.sourceHash = f.hash("source_xxh64");
            l.copy = f.path("copy");
            l.copySize = f.integer("copy_size", 0, std::numeric_limits<qint64>::max());
            l.copyHash = f.hash("copy_xxh64");
            l.verified = f.flag("verified");
            l.time = f.time("time");
        } else if (kind == QLatin1String("volume")) {
            parsed.kind = Kind::Volume;
            VolumeLine &l = parsed.volume;
            f.keys({"kind", "version", "lens", "volume", "size", "xxh64", "tested", "time"});
            l.disk = f.lens("lens");
            l.volume = f.path("volume");
            l.size = f.integer("size", 0, std::numeric_limits<qint64>::max());
            l.hash = f.hash("xxh64");
            l.tested = f.flag("tested");
            l.time = f.time("time");
        } else {
            return parsed;
        }
    }
    if (!f.ok())
        parsed.kind = Kind::Garbage;
    return parsed;
}

QByteArray headerLine()
{
    return HeaderStart + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1() +
           "\"}\n";
}

} // namespace

QString fileName()
{
    return QStringLiteral("offload-record.jsonl");
}

QString pathIn(const QString &saveDir)
{
    return saveDir + QLatin1Char('/') + fileName();
}

bool isRecordPath(const QString &path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    for (const QStringView part : QStringView(path).split(QLatin1Char('/')))
        if (part.isEmpty() || part == u"." || part == u"..")
            return false;
    return true;
}

QByteArray line(const FileLine &e)
{
    return "{\"kind\":\"file\",\"version\":" + QByteArray::number(Version) +
           ",\"lens\":" + lensKey(e.disk) + ",\"card_uuid\":" + quoted(e.cardUuid) +
           ",\"card_label\":" + quoted(e.cardLabel) + ",\"card_path\":" + quoted(e.cardPath) +
           ",\"size\":" + QByteArray::number(e.size) +
           ",\"mtime\":" + QByteArray::number(e.mtime.seconds) +
           ",\"mtime_ns\":" + QByteArray::number(e.mtime.nanoseconds) +
           ",\"source_xxh64\":" + quoted(FileHash::hex(e.sourceHash)) +
           ",\"copy\":" + quoted(e.copy) + ",\"copy_size\":" + QByteArray::number(e.copySize) +
           ",\"copy_xxh64\":" + quoted(FileHash::hex(e.copyHash)) +
           ",\"verified\":" + (e.verified ? "true" : "false") + ",\"time\":" + isoTime(e.time) +
           "}\n";
}

QByteArray line(const VolumeLine &e)
{
    return "{\"kind\":\"volume\",\"version\":" + QByteArray::number(Version) +
           ",\"lens\":" + lensKey(e.disk) + ",\"volume\":" + quoted(e.volume) +
           ",\"size\":" + QByteArray::number(e.size) +
           ",\"xxh64\":" + quoted(FileHash::hex(e.hash)) +
           ",\"tested\":" + (e.tested ? "true" : "false") + ",\"time\":" + isoTime(e.time) + "}\n";
}

std::optional<Contents> read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error =
            QStringLiteral("cannot read the offload record %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error =
            QStringLiteral("cannot read the offload record %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QList<QByteArray> lines = bytes.split('\n');
    Contents contents;
    /* The piece after the last "\n": empty, or a line whose writing was cut short. */
    if (!lines.takeLast().isEmpty())
        contents.torn = 1;
    if (lines.isEmpty())
        return contents;
    const Parsed header = parse(lines.first());
    if (header.kind != Kind::Header) {
        *error = QStringLiteral("%1 is no offload record").arg(path);
        return std::nullopt;
    }
    contents.version = header.version;
    contents.created = header.created;
    if (header.version != Version)
        ++contents.foreign;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        Parsed parsed = parse(lines[i]);
        switch (parsed.kind) {
        case Kind::File:
            contents.files.append(std::move(parsed.file));
            break;
        case Kind::Volume:
            contents.volumes.append(std::move(parsed.volume));
            break;
        case Kind::Foreign:
            ++contents.foreign;
            break;
        case Kind::Header: /* a header belongs on the first line only */
        case Kind::Garbage:
            ++contents.garbage;
            break;
        }
    }
    return contents;
}

} // namespace OffloadRecord

OffloadRecordWriter::~OffloadRecordWriter()
{
    close();
}

bool OffloadRecordWriter::isOpen() const
{
    QMutexLocker lock(&m_mutex);
    return m_fd >= 0;
}

void OffloadRecordWriter::close()
{
    QMutexLocker lock(&m_mutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool OffloadRecordWriter::open(const QString &path, bool syncEachLine, QString *error)
{
    using OffloadRecord::systemError;
    close();
    QMutexLocker lock(&m_mutex);
    const auto failed = [&](const QString &why, int fd) {
        *error = QStringLiteral("offload record %1: %2").arg(path, why);
        if (fd >= 0)
            ::close(fd);
        return false;
    };
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return failed(systemError(errno), -1);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return failed(QStringLiteral("another transfer is writing it"), fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return failed(systemError(errno), fd);
    qint64 size = st.st_size;
    m_cutOff = 0;

    if (size > 0) {
        /* Its first line must be this version's header; anything else is left alone. */
        QByteArray head(int(std::min<qint64>(size, 65536)), '\0');
        if (::pread(fd, head.data(), size_t(head.size()), 0) != head.size())
            return failed(systemError(errno), fd);
        const qsizetype end = head.indexOf('\n');
        if (end < 0) {
            const bool tornHeader =
                size == head.size() && (OffloadRecord::HeaderStart.startsWith(head) ||
                                        head.startsWith(OffloadRecord::HeaderStart));
            if (!tornHeader)
                return failed(QStringLiteral("the file is no offload record"), fd);
        } else {
            const OffloadRecord::Parsed header = OffloadRecord::parse(head.left(end));
            if (header.kind != OffloadRecord::Kind::Header)
                return failed(QStringLiteral("the file is no offload record"), fd);
            if (header.version != OffloadRecord::Version)
                return failed(QStringLiteral("written by another version of the program "
                                             "(record version %1)")
                                  .arg(header.version),
                              fd);
        }
        /* Cut a torn last line back to the end of the last whole one. */
        char last = 0;
        if (::pread(fd, &last, 1, size - 1) != 1)
            return failed(systemError(errno), fd);
        if (last != '\n') {
            qint64 keep = 0;
            QByteArray chunk;
            for (qint64 pos = size; pos > 0 && keep == 0;) {
                const qint64 from = std::max<qint64>(0, pos - 65536);
                chunk.resize(pos - from);
                if (::pread(fd, chunk.data(), size_t(chunk.size()), from) != chunk.size())
                    return failed(systemError(errno), fd);
                const qsizetype at = chunk.lastIndexOf('\n');
                if (at >= 0)
                    keep = from + at + 1;
                pos = from;
            }
            if (::ftruncate(fd, keep) != 0 || ::fdatasync(fd) != 0)
                return failed(systemError(errno), fd);
            m_cutOff = size - keep;
            size = keep;
        }
    }
    if (size == 0) {
        const QByteArray header = OffloadRecord::headerLine();
        if (::write(fd, header.constData(), size_t(header.size())) != header.size() ||
            ::fsync(fd) != 0)
            return failed(systemError(errno), fd);
        size = header.size();
        /* The record's name in its folder survives a power cut too. */
        WholeFile::syncFolder(QFileInfo(path).absolutePath());
    }
    m_fd = fd;
    m_path = path;
    m_size = size;
    m_syncEachLine = syncEachLine;
    m_broken = false;
    return true;
}

bool OffloadRecordWriter::append(const OffloadRecord::FileLine &entry, QString *error)
{
    const QByteArray bytes = OffloadRecord::line(entry);
    if (OffloadRecord::parse(bytes.chopped(1)).kind != OffloadRecord::Kind::File) {
        *error = QStringLiteral("offload record: no valid line for %1 (lens %2, card %3)")
                     .arg(entry.cardPath)
                     .arg(entry.disk)
                     .arg(entry.cardUuid);
        return false;
    }
    return appendLine(bytes, error);
}

bool OffloadRecordWriter::append(const OffloadRecord::VolumeLine &entry, QString *error)
{
    const QByteArray bytes = OffloadRecord::line(entry);
    if (OffloadRecord::parse(bytes.chopped(1)).kind != OffloadRecord::Kind::Volume) {
        *error = QStringLiteral("offload record: no valid line for the volume %1 (lens %2)")
                     .arg(entry.volume)
                     .arg(entry.disk);
        return false;
    }
    return appendLine(bytes, error);
}

bool OffloadRecordWriter::appendLine(const QByteArray &bytes, QString *error)
{
    QMutexLocker lock(&m_mutex);
    if (m_fd < 0 || m_broken) {
        *error = m_fd < 0 ? QStringLiteral("offload record: not open")
                          : QStringLiteral("offload record %1: a failed line could not be "
                                           "cut off again; no further lines")
                                .arg(m_path);
        return false;
    }
    qint64 done = 0;
    int err = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR) {
            err = n == 0 ? EIO : errno;
            break;
        }
    }
    if (err != 0) {
        if (done > 0 && ::ftruncate(m_fd, m_size) != 0)
            m_broken = true;
        *error =
            QStringLiteral("offload record %1: %2").arg(m_path, OffloadRecord::systemError(err));
        return false;
    }
    m_size += bytes.size();
    if (m_syncEachLine && ::fdatasync(m_fd) != 0) {
        *error =
            QStringLiteral("offload record %1: %2").arg(m_path, OffloadRecord::systemError(errno));
        return false;
    }
    return true;
}

bool OffloadRecordWriter::sync(QString *error)
{
    QMutexLocker lock(&m_mutex);
    if (m_fd >= 0 && ::fdatasync(m_fd) == 0)
        return true;
    *error =
        QStringLiteral("offload record %1: %2")
            .arg(m_path, m_fd < 0 ? QStringLiteral("not open") : OffloadRecord::systemError(errno));
    return false;
}
