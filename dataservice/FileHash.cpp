#include "FileHash.h"

#include <QFile>

#include <xxhash.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace FileHash {

struct Xxh64::State {
    XXH64_state_t *state = XXH64_createState();
    ~State() { XXH64_freeState(state); }
};

Xxh64::Xxh64() : m_state(std::make_unique<State>())
{
    reset();
}

Xxh64::~Xxh64() = default;

void Xxh64::add(const char *data, qint64 size)
{
    if (size > 0)
        XXH64_update(m_state->state, data, size_t(size));
}

quint64 Xxh64::digest() const
{
    return XXH64_digest(m_state->state);
}

void Xxh64::reset()
{
    XXH64_reset(m_state->state, 0);
}

quint64 of(const QByteArray &bytes)
{
    return XXH64(bytes.constData(), size_t(bytes.size()), 0);
}

std::optional<quint64> coldFile(const QString &path, int *errorCode, const Progress &progress)
{
    int err = 0;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errorCode)
            *errorCode = errno;
        return std::nullopt;
    }
    /* Advice only: a file system that keeps no page cache of its own may refuse it. */
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    constexpr size_t BlockSize = 1 << 20;
    std::vector<char> block(BlockSize);
    Xxh64 hash;
    qint64 done = 0;
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            err = errno;
            break;
        }
        if (n == 0)
            break;
        hash.add(block.data(), n);
        done += n;
        if (progress && !progress(done)) {
            err = ECANCELED;
            break;
        }
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    if (err != 0) {
        if (errorCode)
            *errorCode = err;
        return std::nullopt;
    }
    return hash.digest();
}

QString hex(quint64 hash)
{
    return QStringLiteral("%1").arg(hash, 16, 16, QLatin1Char('0'));
}

std::optional<quint64> fromHex(QStringView text)
{
    if (text.size() != 16)
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        int digit = -1;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | quint64(digit);
    }
    return value;
}

} // namespace FileHash
