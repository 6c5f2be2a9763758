#include "OrientationReset.h"

#include "dataservice/Geotagger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* A photo larger than this is no camera's: refuse it instead of reading it into memory. */
constexpr qint64 largestPhoto = qint64(1) << 30;

QString systemError(int error)
{
    return qt_error_string(error);
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

/*
 * Replaces the file at `path` (whose status is `original`) by `head` followed
 * by `tail`: a temporary file in the same folder gets the bytes, the file's
 * mode and owner, is flushed and renamed over the photo. An empty reason on
 * success.
 */
QString replaceFile(const QString &path, const struct stat &original, const QByteArray &head,
                    const char *tail, qsizetype tailSize)
{
    const QString folder = QFileInfo(path).absolutePath();
    // A name of our own rather than one made from the photo's: a long photo name
    // cannot push it past the file system's limit, and a rerun never takes it for a photo.
    QByteArray temp = QFile::encodeName(folder + QStringLiteral("/.orvex-orientation-XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return QStringLiteral("cannot write in its folder: ") + systemError(errno);
    // The owner only where the process may give it (as root, or its own file); the
    // mode after it, since a change of owner clears the set-id bits.
    if (::fchown(fd, original.st_uid, original.st_gid) != 0) {
        // not ours to give: the copy stays with the process's owner
    }
    int err = 0;
    errno = 0; // a short write that sets none is reported as an input/output error
    if (::fchmod(fd, original.st_mode & 07777) != 0 ||
        !writeAll(fd, head.constData(), head.size()) || !writeAll(fd, tail, tailSize) ||
        ::fsync(fd) != 0)
        err = errno != 0 ? errno : EIO;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.constData());
        return QStringLiteral("cannot write the changed photo: ") + systemError(err);
    }
    // The rename itself survives a power cut once the folder is flushed.
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

/* The photos under `folder` (see collectPhotos); false with `why` when `folder` cannot be listed.
 */
bool collect(const QString &folder, QStringList *photos, QList<OrientationFailure> *failures,
             QString *why)
{
    /*
     * Listed with the system's own calls rather than QDir: QDir silently drops
     * a name that is not valid UTF-8 (a card written under a GBK system), and
     * such a photo must be reported, not lost.
     */
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr) {
        *why = QStringLiteral("cannot list the folder: ") + systemError(errno);
        return false;
    }
    QStringList files, subFolders;
    while (const struct dirent *entry = ::readdir(dir)) {
        const QByteArray raw(entry->d_name);
        if (raw == "." || raw == "..")
            continue;
        struct stat status {};
        // Not followed: a link is neither a file nor a folder of the tree.
        if (::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone since it was listed
        const bool isFolder = S_ISDIR(status.st_mode);
        if (!isFolder && !S_ISREG(status.st_mode))
            continue;
        const QString name = QFile::decodeName(raw);
        if (QFile::encodeName(name) != raw) {
            if (isFolder)
                failures->append({folder + QLatin1Char('/') + name,
                                  QStringLiteral("the folder's name is not valid UTF-8: "
                                                 "its photos cannot be reached")});
            else if (OrientationReset::isPhotoName(name))
                failures->append({folder + QLatin1Char('/') + name,
                                  QStringLiteral("the file name is not valid UTF-8: "
                                                 "the photo cannot be opened by it")});
            continue;
        }
        (isFolder ? subFolders : files) << name;
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    std::sort(subFolders.begin(), subFolders.end());
    for (const QString &name : std::as_const(files))
        if (OrientationReset::isPhotoName(name))
            photos->append(folder + QLatin1Char('/') + name);
    for (const QString &name : std::as_const(subFolders)) {
        const QString sub = folder + QLatin1Char('/') + name;
        QString reason;
        if (!collect(sub, photos, failures, &reason))
            failures->append({sub, reason});
    }
    return true;
}

} // namespace

bool OrientationReset::isPhotoName(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix();
    return suffix == QLatin1String("jpg") || suffix == QLatin1String("JPG") ||
           suffix == QLatin1String("jpeg") || suffix == QLatin1String("png");
}

bool OrientationReset::collectPhotos(const QString &folder, QStringList *photos,
                                     QList<OrientationFailure> *failures, QString *error)
{
    const QFileInfo info(folder);
    if (!info.exists()) {
        *error = QStringLiteral("no such folder");
        return false;
    }
    if (!info.isDir()) {
        *error = QStringLiteral("not a folder");
        return false;
    }
    return collect(QDir(folder).absolutePath(), photos, failures, error);
}

OrientationReset::Result OrientationReset::resetPhoto(const QString &path, QString *reason)
{
    auto fail = [reason](const QString &why) {
        *reason = why;
        return Result::Failed;
    };
    const QByteArray name = QFile::encodeName(path);
    struct stat original {};
    if (::lstat(name.constData(), &original) != 0)
        return fail(QStringLiteral("cannot read: ") + systemError(errno));
    if (!S_ISREG(original.st_mode))
        return fail(QStringLiteral("not a regular file"));
    if (original.st_size > largestPhoto)
        return fail(QStringLiteral("too large for a photo (%1 bytes)").arg(original.st_size));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read: ") + file.errorString());
    const QByteArray photo = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot read: ") + file.errorString());
    file.close();

    QByteArray headers;
    qsizetype imageStart = 0;
    QString error;
    if (!Geotagger::setOrientation(photo, 1, &headers, &imageStart, nullptr, &error))
        return fail(error);
    if (headers.isEmpty())
        return Result::Unchanged;
    const QString written = replaceFile(path, original, headers, photo.constData() + imageStart,
                                        photo.size() - imageStart);
    if (!written.isEmpty())
        return fail(written);
    return Result::Changed;
}

OrientationSummary OrientationReset::run(const QString &folder,
                                         const std::function<void(int count)> &counted,
                                         const std::function<void(int done, int total)> &progress,
                                         const std::function<bool()> &stop)
{
    OrientationSummary summary;
    QStringList photos;
    if (!collectPhotos(folder, &photos, &summary.failures, &summary.error))
        return summary;
    summary.found = int(photos.size());
    if (counted)
        counted(summary.found);
    Geotagger::initialize();
    for (int i = 0; i < summary.found; ++i) {
        if (stop && stop()) {
            summary.stopped = true;
            break;
        }
        QString reason;
        switch (resetPhoto(photos.at(i), &reason)) {
        case Result::Changed:
            ++summary.changed;
            break;
        case Result::Unchanged:
            ++summary.unchanged;
            break;
        case Result::Failed:
            summary.failures.append({photos.at(i), reason});
            break;
        }
        if (progress)
            progress(i + 1, summary.found);
    }
    return summary;
}
