/*
 * A POS table read back for the image data service (MyExcelObject::load): the ".xls"
 * tables the POS page writes, or whatever file the operator picks instead.
 *
 * Invariants: a readable file always loads, and every position read is a finite number.
 */
#include "FuzzSupport.h"
#include "pos/MyExcelObject.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = fuzz::scratchPath("pos.xls");
    fuzz::writeFile(path, data, size);

    MyExcelObject table;
    FUZZ_CHECK(table.load(QString::fromStdString(path)));
    FUZZ_CHECK(table.error.isEmpty());
    FUZZ_CHECK(table.skippedLines >= 0);
    for (const PosPoint &p : table.positionList)
        FUZZ_CHECK(std::isfinite(p.lon) && std::isfinite(p.lat) && std::isfinite(p.alt));
    return 0;
}
