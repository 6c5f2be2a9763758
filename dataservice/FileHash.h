/*
 * XXH64 (seed 0, libxxhash) of byte streams and files: what the verified
 * offload hashes the card's files and their copies with, and the value
 * `xxhsum -H64` prints. A cold read asks the kernel to drop the file's cached
 * pages before it reads, so the bytes come from the disk rather than from
 * memory. Pages that are still dirty cannot be dropped: whoever wrote the
 * file syncs it (fsync or fdatasync) before reading it back cold.
 */
#ifndef DATASERVICE_FILEHASH_H
#define DATASERVICE_FILEHASH_H

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>

namespace FileHash {

/* Streaming XXH64 for bytes hashed as they pass (a copy hashed while it is written). */
class Xxh64 {
public:
    Xxh64();
    ~Xxh64();
    Xxh64(const Xxh64 &) = delete;
    Xxh64 &operator=(const Xxh64 &) = delete;

    void add(const char *data, qint64 size);
    void add(const QByteArray &bytes) { add(bytes.constData(), bytes.size()); }
    /* The hash of everything added since construction or reset(); adding may go on. */
    quint64 digest() const;
    void reset();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/* XXH64 of a buffer. */
quint64 of(const QByteArray &bytes);

/* Bytes read so far by a cold read; return false to stop it. */
using Progress = std::function<bool(qint64 bytesRead)>;

/*
 * XXH64 of the file at `path`, read cold: its cached pages are dropped
 * (posix_fadvise DONTNEED), then it is read in 1 MiB blocks and its pages are
 * dropped again, so a large verification does not flush the page cache.
 * Opens the file read-only: a file on a read-only volume reads as well.
 * Nothing on failure, with `errorCode` [out] set to the errno (ENOENT: the
 * file does not exist; ECANCELED: `progress` said stop). Any thread.
 */
std::optional<quint64> coldFile(const QString &path, int *errorCode = nullptr,
                                const Progress &progress = {});

/* A hash as xxhsum prints it: 16 lowercase hex digits. */
QString hex(quint64 hash);
/* The hash of exactly 16 lowercase hex digits; nothing for anything else. */
std::optional<quint64> fromHex(QStringView text);

} // namespace FileHash

#endif
