#include "WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace WholeFile {

bool syncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    errno = err;
    return synced;
}

bool replace(const QString &file, const QByteArray &bytes, mode_t mode, QString *why)
{
    const QFileInfo info(file);
    const QByteArray target = QFile::encodeName(file);
    /*
     * Temporaries are ".NAME.XXXXXX" beside the file. Those of earlier writes that a kill left
     * behind go first; names are compared as text, since NAME may hold wildcard characters.
     */
    const QString prefix = QLatin1Char('.') + info.fileName() + QLatin1Char('.');
    const QDir folder = info.absoluteDir();
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (name.size() == prefix.size() + 6 && name.startsWith(prefix))
            ::unlink(QFile::encodeName(folder.filePath(name)).constData());
    QByteArray temp = QFile::encodeName(folder.filePath(prefix)) + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    int err = ::fchmod(fd, mode) == 0 ? 0 : errno;
    for (qsizetype done = 0; err == 0 && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            err = n == 0 ? EIO : errno;
    }
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temp.constData(), target.constData()) != 0)
        err = errno;
    if (err != 0) {
        *why = QString::fromLocal8Bit(std::strerror(err));
        ::unlink(temp.constData());
        return false;
    }
    syncFolder(info.absolutePath()); // the rename itself survives a power cut
    return true;
}

} // namespace WholeFile
