/*
 * Photos for tests: a noisy JPEG of any size, made with QImage (no application
 * object is needed), with camera-like EXIF added by exiftool; the image data of
 * a JPEG; and what exiftool reads from a file. exiftool must be installed.
 */
#ifndef TESTS_TESTJPEG_H
#define TESTS_TESTJPEG_H

#include <QByteArray>
#include <QJsonObject>
#include <QString>

struct TestExif {
    QString make, model, dateTimeOriginal; /* empty: no tag */
    double focalLength = 0;                /* millimetres; 0: no tag */
    /*
     * False: the photo has no EXIF at all (only the JFIF header QImage writes).
     * True: the fields above plus ExposureTime 1/1000 and ISO 100, so that there
     * are always tags besides them.
     */
    bool withExif = true;
};

/*
 * A JPEG of width x height pixels: a colour gradient under per-pixel noise that
 * `seed` decides, at a quality that gives camera-like sizes (a 4000x3000 photo
 * is about 6 to 10 MB). Empty when encoding or exiftool failed.
 */
QByteArray makeTestJpeg(int width, int height, const TestExif &exif, int seed);

/* The bytes from the first start-of-scan marker (FF DA) on; empty when there is none. */
QByteArray jpegImageData(const QByteArray &jpeg);

/* `exiftool -json -n` of the file: its first object, empty when exiftool failed. */
QJsonObject exiftoolJson(const QString &path);

#endif
