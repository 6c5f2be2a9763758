/*
 * The EXIF of a photo as the offload reads and writes it (Geotagger): the fields of the
 * photo information line (readInfo), the position written into a JPEG's headers
 * (tagHeaders) and the photo tool's orientation reset of a JPEG or PNG (setOrientation).
 *
 * Invariants: a tagged photo is its new headers followed by the photo's own image data,
 * and reads back the fields tagging reported; a photo whose orientation was reset needs
 * no second reset and reports the orientation it was given.
 */
#include "FuzzSupport.h"
#include "dataservice/Geotagger.h"

namespace {

bool operator==(const PhotoInfo &a, const PhotoInfo &b)
{
    return a.make == b.make && a.model == b.model && a.focalLength == b.focalLength &&
           a.width == b.width && a.height == b.height && a.dateTimeOriginal == b.dateTimeOriginal &&
           a.shotTime == b.shotTime;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Geotagger::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray photo(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    Geotagger::readInfo(photo);

    const GeoPosition position{-116.3912345, 39.9071234, -12.5};
    QByteArray headers;
    qsizetype imageStart = 0;
    PhotoInfo tagged;
    QString error;
    if (Geotagger::tagHeaders(photo, &position, &headers, &imageStart, &tagged, &error)) {
        const QByteArray copy = headers + photo.mid(imageStart);
        FUZZ_CHECK(Geotagger::imageDataStart(copy) == headers.size());
        FUZZ_CHECK(Geotagger::readInfo(copy) == tagged);
    }

    const int orientation = 6;
    int previous = -1;
    if (Geotagger::setOrientation(photo, orientation, &headers, &imageStart, &previous, &error) &&
        !headers.isEmpty()) {
        const QByteArray turned = headers + photo.mid(imageStart);
        QByteArray again;
        qsizetype againStart = -1;
        FUZZ_CHECK(
            Geotagger::setOrientation(turned, orientation, &again, &againStart, &previous, &error));
        FUZZ_CHECK(again.isEmpty() && againStart == 0);
        FUZZ_CHECK(previous == orientation);
    }
    return 0;
}
