#include "Geotagger.h"

#include "platform/LocalTime.h"

#include <exiv2/exiv2.hpp>

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

std::once_flag g_initOnce;

void ensureInitialized()
{
    std::call_once(g_initOnce, [] {
        // Reasons go back to the caller; the library's own warnings would only
        // clutter the output of five workers.
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        // Namespaces that photos bring along are registered with the XMP toolkit as
        // they are parsed; five workers parse at once.
        static std::recursive_mutex xmpLock;
        Exiv2::XmpParser::initialize(
            [](void *, bool lock) {
                if (lock)
                    xmpLock.lock();
                else
                    xmpLock.unlock();
            },
            nullptr);
    });
}

/* v with six significant digits, as "%g" prints it and strtod reads it back (any locale). */
double sixDigits(double v)
{
    char text[64];
    const auto printed = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6);
    double back = v;
    std::from_chars(text, printed.ptr, back, std::chars_format::general);
    return back;
}

QString whole(double v)
{
    return QString::number(v, 'f', 0);
}

/* Offset of the first start-of-scan marker, or -1 when the headers do not reach one. */
qsizetype startOfScan(const QByteArray &jpeg)
{
    const auto *d = reinterpret_cast<const unsigned char *>(jpeg.constData());
    const qsizetype n = jpeg.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return -1;
    qsizetype i = 2;
    while (i + 1 < n && d[i] == 0xFF) {
        while (i + 1 < n && d[i + 1] == 0xFF)
            ++i; // fill bytes before a marker
        if (i + 1 >= n)
            return -1;
        const unsigned char marker = d[i + 1];
        if (marker == 0xDA)
            return i;
        if (marker == 0xD9)
            return -1;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        if (i + 3 >= n)
            return -1;
        i += 2 + ((qsizetype(d[i + 2]) << 8) | d[i + 3]);
    }
    return -1;
}

bool isJpegStart(const QByteArray &jpeg)
{
    return jpeg.size() >= 3 && jpeg.startsWith("\xFF\xD8\xFF");
}

Exiv2::ExifData::const_iterator findTag(const Exiv2::ExifData &exif, const char *key)
{
    return exif.findKey(Exiv2::ExifKey(key));
}

/* A text tag's bytes up to the first NUL, at most maxChars characters. */
QString textTag(const Exiv2::ExifData &exif, const char *key, qsizetype maxChars)
{
    const auto it = findTag(exif, key);
    if (it == exif.end() || it->size() <= 0)
        return {};
    QByteArray raw(it->size(), '\0');
    it->copy(reinterpret_cast<Exiv2::byte *>(raw.data()), Exiv2::littleEndian);
    const qsizetype nul = raw.indexOf('\0');
    if (nul >= 0)
        raw.truncate(nul);
    return QString::fromUtf8(raw).left(maxChars);
}

double numberTag(const Exiv2::ExifData &exif, const char *key)
{
    const auto it = findTag(exif, key);
    if (it == exif.end() || it->count() <= 0)
        return 0;
    double v = 0;
    const Exiv2::TypeId type = it->typeId();
    if (type == Exiv2::unsignedRational) {
        // The library hands an unsigned rational over as a signed one: take the bits back.
        const Exiv2::Rational r = it->toRational(0);
        const uint32_t num = uint32_t(r.first), den = uint32_t(r.second);
        v = den == 0 ? 0 : double(num) / double(den);
    } else if (type == Exiv2::signedRational) {
        const Exiv2::Rational r = it->toRational(0);
        v = r.second == 0 ? 0 : double(r.first) / double(r.second);
    } else {
        v = it->toFloat(0); // a camera that wrote another number type
    }
    return std::isfinite(v) ? v : 0;
}

/* "YYYY:MM:DD hh:mm:ss" as local time; 0 when the text is not such a time. */
qint64 localSeconds(const QString &text)
{
    if (text.size() < 19)
        return 0;
    auto number = [&text](int pos, int len, int lo, int hi, int *out) {
        int v = 0;
        for (int i = pos; i < pos + len; ++i) {
            if (text.at(i).unicode() < '0' || text.at(i).unicode() > '9')
                return false;
            v = v * 10 + (text.at(i).unicode() - '0');
        }
        *out = v;
        return v >= lo && v <= hi;
    };
    int year, month, day, hour, minute, second;
    if (!number(0, 4, 1900, 9999, &year) || !number(5, 2, 1, 12, &month) ||
        !number(8, 2, 1, 31, &day) || !number(11, 2, 0, 23, &hour) ||
        !number(14, 2, 0, 59, &minute) || !number(17, 2, 0, 60, &second))
        return 0;
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    time_t seconds;
    {
        std::lock_guard<std::mutex> lock(localTimeLock());
        seconds = mktime(&t);
    }
    return seconds == time_t(-1) ? 0 : qint64(seconds);
}

void fillInfo(const Exiv2::Image &image, PhotoInfo *info)
{
    const Exiv2::ExifData &exif = image.exifData();
    info->make = textTag(exif, "Exif.Image.Make", 31);
    info->model = textTag(exif, "Exif.Image.Model", 39);
    info->focalLength = numberTag(exif, "Exif.Photo.FocalLength");
    info->width = image.pixelWidth();
    info->height = image.pixelHeight();
    info->dateTimeOriginal = textTag(exif, "Exif.Photo.DateTimeOriginal", 19);
    info->shotTime = localSeconds(info->dateTimeOriginal);
}

/*
 * exiv2 hands out its objects in std::auto_ptr (its AutoPtr), which newer compilers warn of:
 * they are moved into std::unique_ptr at once.
 */
using ImagePtr = std::unique_ptr<Exiv2::Image>;

ImagePtr openImage(const QByteArray &bytes, int type)
{
    ImagePtr image(Exiv2::ImageFactory::open(
                       reinterpret_cast<const Exiv2::byte *>(bytes.constData()), long(bytes.size()))
                       .release());
    if (image.get() == nullptr || image->imageType() != type)
        throw std::runtime_error(type == Exiv2::ImageType::png ? "not a PNG" : "not a JPEG");
    return image;
}

ImagePtr openJpeg(const QByteArray &jpeg)
{
    return openImage(jpeg, Exiv2::ImageType::jpeg);
}

void setTag(Exiv2::ExifData &exif, const char *key, Exiv2::TypeId type, const QString &text)
{
    const std::unique_ptr<Exiv2::Value> value(Exiv2::Value::create(type).release());
    if (value->read(text.toStdString()) != 0)
        throw std::runtime_error(std::string("cannot make the value of ") + key);
    exif[key].setValue(value.get());
}

/* The GPS tags of `pos`, and a focal length when the photo has none. */
void writePosition(Exiv2::ExifData &exif, const GeoPosition &pos)
{
    setTag(exif, "Exif.GPSInfo.GPSLatitudeRef", Exiv2::asciiString,
           pos.lat < 0 ? QStringLiteral("S") : QStringLiteral("N"));
    setTag(exif, "Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational,
           Geotagger::coordinateRational(pos.lat));
    setTag(exif, "Exif.GPSInfo.GPSLongitudeRef", Exiv2::asciiString,
           pos.lon < 0 ? QStringLiteral("W") : QStringLiteral("E"));
    setTag(exif, "Exif.GPSInfo.GPSLongitude", Exiv2::unsignedRational,
           Geotagger::coordinateRational(pos.lon));
    setTag(exif, "Exif.GPSInfo.GPSAltitudeRef", Exiv2::unsignedByte,
           pos.alt < 0 ? QStringLiteral("1") : QStringLiteral("0"));
    setTag(exif, "Exif.GPSInfo.GPSAltitude", Exiv2::unsignedRational,
           Geotagger::altitudeRational(pos.alt));
    if (findTag(exif, "Exif.GPSInfo.GPSVersionID") == exif.end())
        setTag(exif, "Exif.GPSInfo.GPSVersionID", Exiv2::unsignedByte, QStringLiteral("2 2 0 0"));
    const auto focal = findTag(exif, "Exif.Photo.FocalLength");
    if (focal == exif.end() || focal->count() <= 0)
        setTag(exif, "Exif.Photo.FocalLength", Exiv2::unsignedRational, QStringLiteral("30/1"));
}

using ExifEdit = std::function<void(Exiv2::ExifData &)>;

/* The tags an edit writes (writePosition's FocalLength only when the photo has none). */
using ExifKeys = std::initializer_list<const char *>;
const ExifKeys positionKeys = {"Exif.GPSInfo.GPSLatitudeRef",  "Exif.GPSInfo.GPSLatitude",
                               "Exif.GPSInfo.GPSLongitudeRef", "Exif.GPSInfo.GPSLongitude",
                               "Exif.GPSInfo.GPSAltitudeRef",  "Exif.GPSInfo.GPSAltitude",
                               "Exif.GPSInfo.GPSVersionID",    "Exif.Photo.FocalLength"};
const ExifKeys orientationKeys = {"Exif.Image.Orientation"};

/*
 * Throws unless the image `written` of `type` reads back with the EXIF of `edited`: the
 * tags `keys` with their values, and the fields of the photo information line. The
 * library patches a damaged EXIF in place where it can, and drops the EXIF chunk of a
 * damaged PNG without IHDR: either can leave a photo without the new tags or without tags
 * it had.
 */
void checkWritten(const QByteArray &written, int type, const Exiv2::Image &edited, ExifKeys keys)
{
    const auto image = openImage(written, type);
    image->readMetadata();
    for (const char *key : keys) {
        const auto meant = findTag(edited.exifData(), key);
        if (meant == edited.exifData().end())
            continue;
        const auto back = findTag(image->exifData(), key);
        if (back == image->exifData().end() || back->toString() != meant->toString())
            throw std::runtime_error(std::string("the EXIF written does not read back: ") + key);
    }
    PhotoInfo meant;
    PhotoInfo back;
    fillInfo(edited, &meant);
    fillInfo(*image, &back);
    if (back.make != meant.make || back.model != meant.model ||
        back.focalLength != meant.focalLength || back.dateTimeOriginal != meant.dateTimeOriginal)
        throw std::runtime_error("the EXIF written does not read back: the camera's tags");
}

/*
 * The image `bytes` of `type` with its EXIF changed by `edit`, which writes the
 * tags `keys`, as the library writes it and checked to read back so; `info`
 * (when given) is read from the written metadata. Throws on failure.
 */
QByteArray rewriteMetadata(const QByteArray &bytes, int type, const ExifEdit &edit, ExifKeys keys,
                           PhotoInfo *info)
{
    const ImagePtr image = openImage(bytes, type);
    image->readMetadata();
    edit(image->exifData());
    image->writeXmpFromPacket(true); // the camera's XMP packet as it was, not re-serialised
    image->writeMetadata();

    Exiv2::BasicIo &io = image->io();
    if (io.open() != 0)
        throw std::runtime_error("cannot read the written photo back");
    const long size = io.size();
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    const long got = io.read(reinterpret_cast<Exiv2::byte *>(out.data()), size);
    io.close();
    if (got != size)
        throw std::runtime_error("cannot read the written photo back");
    checkWritten(out, type, *image, keys);
    if (info)
        fillInfo(*image, info);
    return out;
}

/* "cannot write EXIF: <why>" of the exception in flight. */
QString writeFailure()
{
    try {
        throw;
    } catch (const Exiv2::AnyError &e) {
        return QStringLiteral("cannot write EXIF: ") + QString::fromLocal8Bit(e.what());
    } catch (const std::exception &e) {
        return QStringLiteral("cannot write EXIF: ") + QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("cannot write EXIF");
    }
}

/*
 * The headers of `jpeg` rewritten with `edit`, leaving the image data alone:
 * `headers` are the new bytes up to the start of scan, and the photo's own
 * bytes from `imageStart` on complete it. An empty reason on success.
 */
QString rewriteJpegHeaders(const QByteArray &jpeg, const ExifEdit &edit, ExifKeys keys,
                           PhotoInfo *info, QByteArray *headers, qsizetype *imageStart)
{
    if (!isJpegStart(jpeg))
        return QStringLiteral("not a JPEG");
    const qsizetype scan = startOfScan(jpeg);
    if (scan < 0)
        return QStringLiteral("truncated or damaged JPEG: the headers end before the image");
    if (jpeg.lastIndexOf(QByteArrayView("\xFF\xD9", 2)) <= scan)
        return QStringLiteral("truncated JPEG: no end-of-image marker");

    /*
     * The EXIF library rewrites the headers and copies everything from the
     * start of scan on. Hand it the headers with the scan header and an end
     * marker only: the image data never passes through it, and the photo's
     * own bytes from the start of scan follow the new headers unchanged.
     */
    const qsizetype scanHeader =
        scan + 4 <= jpeg.size()
            ? 2 + ((qsizetype(uchar(jpeg[scan + 2])) << 8) | uchar(jpeg[scan + 3]))
            : 0;
    if (scanHeader < 4 || scan + scanHeader > jpeg.size())
        return QStringLiteral("damaged JPEG: the scan header is cut");
    const QByteArray tail = jpeg.mid(scan, scanHeader) + QByteArray("\xFF\xD9", 2);
    const QByteArray shortened = jpeg.left(scan) + tail;

    QByteArray result;
    try {
        result = rewriteMetadata(shortened, Exiv2::ImageType::jpeg, edit, keys, info);
    } catch (...) {
        return writeFailure();
    }
    const qsizetype resultScan = startOfScan(result);
    if (resultScan < 0 || result.mid(resultScan) != tail)
        return QStringLiteral("cannot write EXIF without changing the image data");
    result.truncate(resultScan);
    *headers = std::move(result);
    *imageStart = scan;
    return {};
}

} // namespace

void Geotagger::initialize()
{
    ensureInitialized();
}

QString Geotagger::coordinateRational(double degrees)
{
    const double v = sixDigits(std::fabs(degrees));
    const double d = std::trunc(v);
    const double m = (v - d) * 60;
    const double minutes = std::trunc(m);
    const double s = std::trunc((m - minutes) * 60000000.0);
    return whole(d) + QStringLiteral("/1 ") + whole(minutes) + QStringLiteral("/1 ") + whole(s) +
           QStringLiteral("/1000000");
}

QString Geotagger::altitudeRational(double metres)
{
    return whole(std::round(sixDigits(std::fabs(metres)) * 1000)) + QStringLiteral("/1000");
}

bool Geotagger::tagHeaders(const QByteArray &jpeg, const GeoPosition *position, QByteArray *headers,
                           qsizetype *imageStart, PhotoInfo *info, QString *error)
{
    ensureInitialized();
    PhotoInfo scratch;
    PhotoInfo *out = info ? info : &scratch;
    auto fail = [&](const QString &why) {
        *out = readInfo(jpeg);
        if (error)
            *error = why;
        return false;
    };

    if (!position) {
        *out = readInfo(jpeg);
        *headers = QByteArray();
        *imageStart = 0;
        return true;
    }
    const GeoPosition &pos = *position;
    // An EXIF rational holds 32 bits: the altitude's millimetres must fit.
    if (!std::isfinite(pos.lat) || !std::isfinite(pos.lon) || !std::isfinite(pos.alt) ||
        std::fabs(pos.lat) > 90 || std::fabs(pos.lon) > 180 || std::fabs(pos.alt) > 4.0e6)
        return fail(QStringLiteral("position out of range (lon %1, lat %2, alt %3)")
                        .arg(pos.lon)
                        .arg(pos.lat)
                        .arg(pos.alt));
    const QString why = rewriteJpegHeaders(
        jpeg, [&pos](Exiv2::ExifData &exif) { writePosition(exif, pos); }, positionKeys, out,
        headers, imageStart);
    return why.isEmpty() || fail(why);
}

bool Geotagger::setOrientation(const QByteArray &photo, int orientation, QByteArray *headers,
                               qsizetype *imageStart, int *previous, QString *error)
{
    ensureInitialized();
    int before = 0;
    bool normal = false; // the photo already says `orientation`, as one short
    const ExifEdit edit = [&](Exiv2::ExifData &exif) {
        const auto it = findTag(exif, "Exif.Image.Orientation");
        if (it != exif.end() && it->count() > 0) {
            before = int(it->toLong(0));
            normal =
                it->count() == 1 && it->typeId() == Exiv2::unsignedShort && before == orientation;
        }
        exif["Exif.Image.Orientation"] = uint16_t(orientation);
    };
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (orientation < 1 || orientation > 8)
        return fail(QStringLiteral("orientation %1 is not one of 1 to 8").arg(orientation));

    QByteArray written;
    qsizetype start = 0;
    if (isJpegStart(photo)) {
        const QString why =
            rewriteJpegHeaders(photo, edit, orientationKeys, nullptr, &written, &start);
        if (!why.isEmpty())
            return fail(why);
    } else if (photo.startsWith("\x89PNG\r\n\x1a\n")) {
        // A PNG's EXIF sits in a chunk of its own: the whole file passes through the
        // library, which copies the image chunks as they are.
        try {
            written = rewriteMetadata(photo, Exiv2::ImageType::png, edit, orientationKeys, nullptr);
        } catch (...) {
            return fail(writeFailure());
        }
        start = photo.size();
    } else {
        return fail(QStringLiteral("neither a JPEG nor a PNG image"));
    }
    if (previous)
        *previous = before;
    if (normal) {
        *headers = QByteArray();
        *imageStart = 0;
    } else {
        *headers = std::move(written);
        *imageStart = start;
    }
    return true;
}

qsizetype Geotagger::imageDataStart(const QByteArray &jpeg, qsizetype *scanHeaderEnd)
{
    const qsizetype scan = isJpegStart(jpeg) ? startOfScan(jpeg) : -1;
    if (scanHeaderEnd) {
        *scanHeaderEnd = -1;
        if (scan >= 0 && scan + 4 <= jpeg.size()) {
            const qsizetype end =
                scan + 2 + ((qsizetype(uchar(jpeg[scan + 2])) << 8) | uchar(jpeg[scan + 3]));
            if (end <= jpeg.size())
                *scanHeaderEnd = end;
        }
    }
    return scan;
}

bool Geotagger::tag(const QByteArray &jpeg, const GeoPosition *position, QByteArray *tagged,
                    PhotoInfo *info, QString *error)
{
    QByteArray headers;
    qsizetype imageStart = 0;
    if (!tagHeaders(jpeg, position, &headers, &imageStart, info, error))
        return false;
    if (tagged)
        *tagged = position ? headers + jpeg.mid(imageStart) : jpeg;
    return true;
}

PhotoInfo Geotagger::readInfo(const QByteArray &jpeg)
{
    ensureInitialized();
    PhotoInfo info;
    if (!isJpegStart(jpeg))
        return info;
    ImagePtr image;
    try {
        image = openJpeg(jpeg);
        image->readMetadata();
    } catch (...) {
        // What the headers gave before the damage is still worth having.
    }
    try {
        if (image.get() != nullptr)
            fillInfo(*image, &info);
    } catch (...) {
        info = PhotoInfo();
    }
    return info;
}
