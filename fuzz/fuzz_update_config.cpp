/*
 * UpdateConfig.xml, which names the firmware the device page offers and its version
 * (readUpdateConfig).
 *
 * Invariants: a file is taken without a problem exactly when it named both the firmware
 * file and the version; the firmware's path is absolute and the version has no blanks
 * around it.
 */
#include "FuzzSupport.h"
#include "pages/FirmwareUpgrade.h"

#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = fuzz::scratchPath("UpdateConfig.xml");
    fuzz::writeFile(path, data, size);

    const UpdateConfig config = readUpdateConfig(QString::fromStdString(path));
    const bool named = !config.firmwarePath.isEmpty() && !config.newestVersion.isEmpty();
    if (config.problem.isEmpty())
        FUZZ_CHECK(named);
    else
        FUZZ_CHECK(!named || config.problem.contains(QLatin1String("line")));
    FUZZ_CHECK(config.firmwarePath.isEmpty() || QFileInfo(config.firmwarePath).isAbsolute());
    FUZZ_CHECK(config.newestVersion == config.newestVersion.trimmed());
    return 0;
}
