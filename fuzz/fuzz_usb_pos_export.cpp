/*
 * A raw POS file of the camera's USB POS volume turned into POS tables
 * (UsbPosExport::exportFile), and the tables read back as the image data service reads
 * them (MyExcelObject::load).
 *
 * Input: byte 0, bit 0: 52-byte records rather than 32; bit 1: the five lens tables too.
 * The rest is the file.
 *
 * Invariants: the export succeeds; the main table reads back one row per whole record,
 * none skipped, each with the record's longitude, latitude and altitude; a lens table
 * has a row for each record at most.
 */
#include "FuzzSupport.h"
#include "pos/MyExcelObject.h"
#include "pos/PosRules.h"
#include "pos/UsbPosExport.h"

#include <QFile>

namespace {

int32_t be32(const uint8_t *p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 |
                                static_cast<uint32_t>(p[1]) << 16 |
                                static_cast<uint32_t>(p[2]) << 8 | p[3]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const std::string source = fuzz::scratchPath("pos.bin");
    static const QString table = QString::fromStdString(fuzz::scratchPath("pos.xls"));
    const int recordSize = data[0] & 1 ? 52 : 32;
    const bool perLens = (data[0] & 2) != 0 && recordSize == 52;
    const uint8_t *file = data + 1;
    const size_t fileSize = size - 1;
    fuzz::writeFile(source, file, fileSize);

    QStringList written;
    QString error;
    const bool exported = UsbPosExport::exportFile({QString::fromStdString(source), table},
                                                   recordSize, perLens, {}, &written, &error);
    if (!exported)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    FUZZ_CHECK(exported);
    FUZZ_CHECK(written.size() == (perLens ? 6 : 1));

    const qsizetype records = static_cast<qsizetype>(fileSize / recordSize);
    const MyExcelObject main = MyExcelObject::read(table);
    FUZZ_CHECK(main.error.isEmpty());
    FUZZ_CHECK(main.skippedLines == 0);
    FUZZ_CHECK(main.positionList.size() == records);
    FUZZ_CHECK(main.timeList.size() == records);
    for (qsizetype k = 0; k < records; ++k) {
        const uint8_t *r = file + k * recordSize;
        const PosPoint &p = main.positionList[k];
        FUZZ_CHECK(p.lon == be32(r + 8) / 1e7);
        FUZZ_CHECK(p.lat == be32(r + 12) / 1e7);
        FUZZ_CHECK(p.alt == be32(r + 16) / 1e3);
    }
    for (int lens = 0; perLens && lens < PosRules::lensNames.size(); ++lens) {
        const MyExcelObject t = MyExcelObject::read(PosRules::lensTablePath(table, lens));
        FUZZ_CHECK(t.error.isEmpty());
        FUZZ_CHECK(t.positionList.size() + t.skippedLines <= records);
    }
    for (const QString &path : written)
        QFile::remove(path);
    return 0;
}
