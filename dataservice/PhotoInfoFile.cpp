#include "PhotoInfoFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

/* EXIF text must not break the line apart: no field separator, no line break. */
QString fieldText(QString text)
{
    for (QChar &c : text) {
        if (c == u',' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PhotoInfoFile::PhotoInfoFile(const QString &dataDir, const QString &key)
    : m_path(dataDir + QLatin1Char('/') + key + QStringLiteral(".txt"))
{
}

PhotoInfoFile::~PhotoInfoFile()
{
    if (m_file)
        std::fclose(m_file);
}

bool PhotoInfoFile::startFresh(QString *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr; // the next line opens the new file, header first
    }
    if (!QFileInfo::exists(m_path))
        return true;

    const QFileInfo current(m_path);
    const QString stem = current.absolutePath() + QLatin1Char('/') + current.completeBaseName() +
                         QLatin1Char('-') +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    for (int n = 1; n < 1000; ++n) {
        const QString target =
            stem + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + QStringLiteral(".txt");
        if (QFileInfo::exists(target))
            continue;
        QFile file(m_path);
        if (file.rename(target)) // never replaces an existing file
            return true;
        if (!QFileInfo::exists(target)) {
            if (error)
                *error = QStringLiteral("cannot rename %1 to %2: %3")
                             .arg(m_path, target, file.errorString());
            return false;
        }
    }
    if (error)
        *error = QStringLiteral("cannot rename %1: no free dated name").arg(m_path);
    return false;
}

namespace {

const char header[] = "照片路径,Model,make,focallength,width,height,time\n";

QByteArray lineOf(const QString &photoPath, const PhotoInfo &info)
{
    const QString line =
        photoPath + QLatin1Char(',') + fieldText(info.model) + QLatin1Char(',') +
        fieldText(info.make) + QLatin1Char(',') + QString::number(std::llround(info.focalLength)) +
        QLatin1Char(',') + QString::number(info.width) + QLatin1Char(',') +
        QString::number(info.height) + QLatin1Char(',') + QString::number(info.shotTime) +
        QLatin1Char(',') + fieldText(info.dateTimeOriginal) + QLatin1Char('\n');
    return line.toUtf8();
}

/* The information of a photo in the save folder, from its headers only. */
PhotoInfo infoOfCopy(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return PhotoInfo();
    QByteArray head;
    qsizetype scanEnd = -1;
    while (head.size() < (16 << 20)) {
        const QByteArray block = file.read(64 * 1024);
        head += block;
        Geotagger::imageDataStart(head, &scanEnd);
        if (block.isEmpty() || scanEnd >= 0 || !head.startsWith("\xFF\xD8"))
            break;
    }
    return Geotagger::readInfo(scanEnd >= 0 ? head.left(scanEnd) + QByteArray("\xFF\xD9", 2)
                                            : head);
}

} // namespace

bool PhotoInfoFile::rebuild(const QStringList &copies, QString *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    QByteArray text = copies.isEmpty() ? QByteArray() : QByteArray(header);
    for (const QString &copy : copies)
        text += lineOf(copy, infoOfCopy(copy));
    const QString temp = m_path + QStringLiteral(".part");
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
        !file.flush()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(temp, file.errorString());
        return false;
    }
    file.close();
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(m_path).constData()) !=
        0) {
        if (error)
            *error = QStringLiteral("cannot rename %1 to %2: %3").arg(temp, m_path, systemError());
        return false;
    }
    if (!copies.isEmpty())
        m_file = std::fopen(QFile::encodeName(m_path).constData(), "abe");
    return true;
}

bool PhotoInfoFile::append(const QString &photoPath, const PhotoInfo &info, QString *error)
{
    const QByteArray bytes = lineOf(photoPath, info);

    std::lock_guard<std::mutex> lock(m_mutex);
    auto fail = [&](const QString &what) {
        if (error)
            *error = QStringLiteral("%1 %2: %3").arg(what, m_path, systemError());
        return false;
    };
    if (!m_file) {
        FILE *file = std::fopen(QFile::encodeName(m_path).constData(), "abe");
        if (!file)
            return fail(QStringLiteral("cannot open"));
        if (std::fwrite(header, 1, sizeof header - 1, file) != sizeof header - 1 ||
            std::fflush(file) != 0) {
            const QString why = systemError();
            std::fclose(file);
            if (error)
                *error = QStringLiteral("cannot write %1: %2").arg(m_path, why);
            return false;
        }
        m_file = file;
    }
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_file) != size_t(bytes.size()) ||
        std::fflush(m_file) != 0) {
        std::clearerr(m_file);
        return fail(QStringLiteral("cannot write"));
    }
    return true;
}
