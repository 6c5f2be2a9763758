/*
 * Geotagging a photo in memory: the position of the camera at the moment the
 * photo was shot goes into its EXIF (libexiv2, in process), and the few EXIF
 * fields the photo information files carry are read from the same parse.
 * The photo tool's orientation reset writes through the same path.
 * Everything works on bytes: the offload engine reads each photo from its
 * card once and writes the result to the save folder itself.
 */
#ifndef DATASERVICE_GEOTAGGER_H
#define DATASERVICE_GEOTAGGER_H

#include <QByteArray>
#include <QString>

struct GeoPosition {
    double lon; /* degrees, east positive */
    double lat; /* degrees, north positive */
    double alt; /* metres */
};

/* What a photo information line says of a photo. */
struct PhotoInfo {
    QString make;
    QString model;
    double focalLength = 0; /* millimetres, as the photo says after tagging */
    int width = 0;          /* pixels, from the JPEG frame header */
    int height = 0;
    QString dateTimeOriginal; /* "YYYY:MM:DD hh:mm:ss" as stored; empty when none */
    qint64 shotTime = 0;      /* DateTimeOriginal read as local time, seconds since 1970; 0: none */
};

namespace Geotagger {

/* Call once before workers tag photos in parallel (the EXIF library's own set-up). */
void initialize();

/*
 * An angle's EXIF rational text, from its absolute value rounded to six
 * significant digits: degrees, minutes and millionths of seconds, each step
 * truncated ("30/1 7/1 24599999/1000000" for 30.123456).
 */
QString coordinateRational(double degrees);
/* An altitude's absolute value rounded to six significant digits, in millimetres over 1000. */
QString altitudeRational(double metres);

/*
 * The photo `jpeg` with `position` written into its EXIF: GPSLatitude and
 * GPSLatitudeRef (N/S), GPSLongitude and GPSLongitudeRef (E/W), GPSAltitude
 * and GPSAltitudeRef (0 above sea level, 1 below), and FocalLength 30/1 only
 * when the photo has none. Every other tag and every byte of the image data
 * stay as they were. With no position nothing is written and `tagged` is a
 * copy. `info` is read in the same pass (after tagging).
 *
 * False, with `error` naming the reason, when the photo's EXIF cannot be
 * written (not a JPEG, truncated); `tagged` is then untouched and `info`
 * holds what could be read.
 */
bool tag(const QByteArray &jpeg, const GeoPosition *position, QByteArray *tagged, PhotoInfo *info,
         QString *error);

/*
 * The same as tag(), without copying the image data: `headers` are the new
 * bytes up to the start of scan, and the photo's own bytes from `imageStart`
 * on complete the tagged photo. With no position, `headers` is empty and
 * `imageStart` 0: the photo is written as it is.
 */
bool tagHeaders(const QByteArray &jpeg, const GeoPosition *position, QByteArray *headers,
                qsizetype *imageStart, PhotoInfo *info, QString *error);

/*
 * The photo `photo`, a JPEG or a PNG (told by its bytes, not its name), with
 * its EXIF orientation (Exif.Image.Orientation) set to `orientation` (1 to 8)
 * as one short; a photo without EXIF or without the tag gets it. Every other
 * tag stays. For a JPEG only the headers are rewritten, as by tagHeaders():
 * `headers` are the new bytes up to the start of scan and the photo's own
 * bytes from `imageStart` on complete it. For a PNG, whose EXIF the library
 * rewrites along with the whole file, `headers` is the whole new file and
 * `imageStart` is photo.size(). When the photo already says `orientation`,
 * `headers` is empty and `imageStart` 0: there is nothing to write.
 * `previous` gets the orientation the photo had, 0 when it had none.
 *
 * False, with `error` naming the reason, when the orientation cannot be
 * written (neither JPEG nor PNG, truncated, damaged); the outputs are then
 * untouched.
 */
bool setOrientation(const QByteArray &photo, int orientation, QByteArray *headers,
                    qsizetype *imageStart, int *previous, QString *error);

/*
 * Where the image data of a JPEG begins (its first start-of-scan marker), or
 * -1 when `jpeg` ends before it or is no JPEG. `scanHeaderEnd` gets the end of
 * the scan header when it is inside `jpeg`, else -1.
 */
qsizetype imageDataStart(const QByteArray &jpeg, qsizetype *scanHeaderEnd = nullptr);

/* The photo information fields of a photo; empty fields and zeros where it has none. */
PhotoInfo readInfo(const QByteArray &jpeg);

} // namespace Geotagger

#endif
