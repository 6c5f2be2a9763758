/*
 * The offload record: "offload-record.jsonl" in the save folder, one per
 * transfer (a resume keeps appending to it). It lists every file copied from a
 * lens card with what its copy was checked against, and is what says a card
 * may be cleared (CardSafety) and what `orvex-cli verify` re-reads copies by.
 *
 * Format, version 1: UTF-8 JSON Lines, one JSON object per line, every line
 * ended by "\n". The writer puts the keys in the order shown; a reader takes
 * any order but wants exactly these keys with these types.
 *
 * Line 1, the header:
 *   {"format":"orvex-offload-record","version":1,"created":"2024-05-01T08:15:02.125Z"}
 *
 * A copied file, appended once its copy is on the disk:
 *   {"kind":"file","version":1,"lens":"center","card_uuid":"5A1B-09C3","card_label":"Center",
 *    "card_path":"DCIM/100MSDCF/DSC00001.JPG","size":8123456,"mtime":1714551302,
 *    "mtime_ns":120000000,"source_xxh64":"0f1e2d3c4b5a6978","copy":"Center/DSC00001.JPG",
 *    "copy_size":8123790,"copy_xxh64":"8796a5b4c3d2e1f0","verified":true,
 *    "time":"2024-05-01T08:15:03.042Z"}
 *   (one line in the file; wrapped here)
 *
 *   lens           center, left, right, front or back
 *   card_uuid      the card's file-system UUID as blkid prints it (exFAT: "5A1B-09C3")
 *   card_label     the card's volume label
 *   card_path      the file on the card, relative to the card's root
 *   size, mtime, mtime_ns
 *                  the card file's size in bytes and modification time (seconds since
 *                  1970-01-01 UTC; nanoseconds 0..999999999) when it was read
 *   source_xxh64   XXH64 (seed 0) of the bytes read from the card
 *   copy           the copy, relative to the save folder
 *   copy_size, copy_xxh64
 *                  the copy's size and XXH64 as written (a geotagged copy differs from the
 *                  card's file)
 *   verified       true: the copy was synced to the disk, read back cold and matched
 *                  copy_xxh64. false: read-back was off; such a line never makes a card safe
 *                  to clear
 *   time           when the line was written (for a verified copy: when it was verified)
 *
 * A zip volume, appended once the volume is closed for good and again if it changes:
 *   {"kind":"volume","version":1,"lens":"center","volume":"Center/pack1.zip","size":4294967296,
 *    "xxh64":"00112233445566ff","tested":true,"time":"2024-05-01T08:40:11.500Z"}
 *   tested         true when the volume was read back after it was closed and found whole
 *
 * Hashes are 16 lowercase hex digits, as xxhsum prints them. Times are ISO 8601 UTC with
 * milliseconds. Paths are '/'-separated, relative, not empty, without "." or ".." parts or NUL.
 * Every line carries its version, so lines a later program appends are told apart. A later
 * line for the same copy or volume stands for it instead of an earlier one (a copy made again).
 *
 * Crash safety: each line is appended with one write(2) of the whole line with its "\n", so a
 * crash can tear only the last line (no "\n"); the writer cuts such a tail off before appending
 * again. Readers skip and count the torn last line, lines that are no JSON object or break the
 * rules above (garbage), and objects of another format, version or kind (foreign).
 */
#ifndef DATASERVICE_OFFLOADRECORD_H
#define DATASERVICE_OFFLOADRECORD_H

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>

#include <optional>

namespace OffloadRecord {

constexpr int Version = 1;

/* "offload-record.jsonl" */
QString fileName();
/* The record of a save folder. */
QString pathIn(const QString &saveDir);

/* A modification time as stat(2) gives it. */
struct FileTime {
    qint64 seconds = 0;
    qint32 nanoseconds = 0;
    bool operator==(const FileTime &) const = default;
};

/* A "file" line. */
struct FileLine {
    int disk = -1; /* the lens (LensTable) */
    QString cardUuid;
    QString cardLabel;
    QString cardPath;
    qint64 size = 0;
    FileTime mtime;
    quint64 sourceHash = 0;
    QString copy;
    qint64 copySize = 0;
    quint64 copyHash = 0;
    bool verified = false;
    QDateTime time; /* UTC; the writer fills in now when invalid */
};

/* A "volume" line. */
struct VolumeLine {
    int disk = -1;
    QString volume;
    qint64 size = 0;
    quint64 hash = 0;
    bool tested = false;
    QDateTime time;
};

/* What a record holds, lines in file order. */
struct Contents {
    QDateTime created;
    int version = Version; /* the header's */
    QList<FileLine> files;
    QList<VolumeLine> volumes;
    int torn = 0;    /* a last line without its "\n" */
    int garbage = 0; /* no JSON object, or breaking the rules of its kind */
    int foreign = 0; /* another format, version or kind */
};

/*
 * Read the record at `path`. Nothing, with `error` naming the file, when it
 * cannot be read or its first line is not this format's header (of any
 * version). A header of another version is counted foreign and each line is
 * still judged by its own version.
 */
std::optional<Contents> read(const QString &path, QString *error);

/* The line for an entry, with its "\n": what the writer appends. */
QByteArray line(const FileLine &entry);
QByteArray line(const VolumeLine &entry);

/* Whether a path may stand in a record: relative, '/'-separated, no "." or ".." parts, no NUL. */
bool isRecordPath(const QString &path);

} // namespace OffloadRecord

/*
 * Appends lines to a record. Safe from any thread: the lens workers share one
 * writer, each line is one write(2) under its lock. A second writer on the
 * same record, in this or another process, is refused while one is open.
 */
class OffloadRecordWriter {
public:
    OffloadRecordWriter() = default;
    ~OffloadRecordWriter();
    OffloadRecordWriter(const OffloadRecordWriter &) = delete;
    OffloadRecordWriter &operator=(const OffloadRecordWriter &) = delete;

    /*
     * Create the record at `path` with its header (the file and its folder
     * synced), or continue the existing one: a torn last line is cut off
     * first. `syncEachLine`: fdatasync after every line, so a line appended
     * survives a power cut. False with `error` when it cannot be opened or
     * the file is not a record of this version; such a file is left untouched.
     */
    bool open(const QString &path, bool syncEachLine, QString *error);
    /*
     * Append one line. False with `error` when the entry breaks the format's
     * rules (nothing is written) or the write fails (what was written of the
     * line is cut off again; if even that fails, the writer refuses further lines).
     */
    bool append(const OffloadRecord::FileLine &entry, QString *error);
    bool append(const OffloadRecord::VolumeLine &entry, QString *error);
    /* Flush what was appended to the disk (the end of a transfer without syncEachLine). */
    bool sync(QString *error);
    /* Close; harmless when not open. */
    void close();

    bool isOpen() const;
    /* Bytes of a torn last line that open() cut off. */
    qint64 cutOff() const { return m_cutOff; }

private:
    bool appendLine(const QByteArray &bytes, QString *error);

    mutable QMutex m_mutex;
    int m_fd = -1;
    QString m_path;
    qint64 m_size = 0;
    qint64 m_cutOff = 0;
    bool m_syncEachLine = false;
    bool m_broken = false;
};

#endif
