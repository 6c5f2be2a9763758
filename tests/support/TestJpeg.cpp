#include "TestJpeg.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdint>

namespace {

bool runExiftool(const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("exiftool"), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

} // namespace

QByteArray makeTestJpeg(int width, int height, const TestExif &exif, int seed)
{
    QImage img(width, height, QImage::Format_RGB32);
    if (img.isNull())
        return {};
    uint64_t s = 0x9E3779B97F4A7C15ull ^ (uint64_t(uint32_t(seed)) * 0xBF58476D1CE4E5B9ull);
    auto next = [&s] {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    };
    const int offset = int(next() & 0x7f);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<uint32_t *>(img.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const uint64_t n = next();
            const int r = (x * 255 / width + offset) % 256 + int(n & 0x3f) - 32;
            const int g = y * 255 / height + int((n >> 8) & 0x3f) - 32;
            const int b = (x + y) * 255 / (width + height) + int((n >> 16) & 0x3f) - 32;
            line[x] = 0xff000000u | uint32_t(std::clamp(r, 0, 255) << 16) |
                      uint32_t(std::clamp(g, 0, 255) << 8) | uint32_t(std::clamp(b, 0, 255));
        }
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!img.save(&buffer, "JPEG", 92))
        return {};
    if (!exif.withExif)
        return jpeg;

    QTemporaryFile file(QStringLiteral("/tmp/testjpeg-XXXXXX.jpg"));
    if (!file.open() || file.write(jpeg) != jpeg.size() || !file.flush())
        return {};
    QStringList args{QStringLiteral("-overwrite_original"), QStringLiteral("-q"),
                     QStringLiteral("-ExposureTime=1/1000"), QStringLiteral("-ISO=100")};
    if (!exif.make.isEmpty())
        args << QStringLiteral("-Make=") + exif.make;
    if (!exif.model.isEmpty())
        args << QStringLiteral("-Model=") + exif.model;
    if (!exif.dateTimeOriginal.isEmpty())
        args << QStringLiteral("-DateTimeOriginal=") + exif.dateTimeOriginal;
    if (exif.focalLength != 0)
        args << QStringLiteral("-FocalLength=") + QString::number(exif.focalLength);
    args << file.fileName();
    if (!runExiftool(args))
        return {};
    QFile result(file.fileName());
    if (!result.open(QIODevice::ReadOnly))
        return {};
    return result.readAll();
}

QByteArray jpegImageData(const QByteArray &jpeg)
{
    const auto *d = reinterpret_cast<const unsigned char *>(jpeg.constData());
    const qsizetype n = jpeg.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return {};
    qsizetype i = 2;
    while (i + 1 < n) {
        if (d[i] != 0xFF)
            return {};
        while (i + 1 < n && d[i + 1] == 0xFF)
            ++i; // fill bytes
        if (i + 1 >= n)
            return {};
        const unsigned char marker = d[i + 1];
        if (marker == 0xDA)
            return jpeg.mid(i);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        if (i + 3 >= n)
            return {};
        i += 2 + ((qsizetype(d[i + 2]) << 8) | d[i + 3]);
    }
    return {};
}

QJsonObject exiftoolJson(const QString &path)
{
    QByteArray out;
    if (!runExiftool({QStringLiteral("-json"), QStringLiteral("-n"), path}, &out))
        return {};
    const QJsonArray all = QJsonDocument::fromJson(out).array();
    return all.isEmpty() ? QJsonObject() : all.first().toObject();
}
