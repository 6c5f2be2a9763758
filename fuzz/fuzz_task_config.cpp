/*
 * Taskconfig.xml, read when the image data page or orvex-cli offload --resume looks for a
 * transfer to continue (TaskConfig::read).
 *
 * Invariants: a file the reader accepts can be written again (TaskConfig::write), and
 * what is written reads back to the same file: nothing read is lost or changed on the way
 * (positions are kept to six significant digits, as the writer always keeps them).
 */
#include "FuzzSupport.h"
#include "dataservice/TaskConfig.h"

#include <QFile>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string input = fuzz::scratchPath("Taskconfig.xml");
    static const QString inputPath = QString::fromStdString(input);
    static const QString first = QString::fromStdString(fuzz::scratchPath("first.xml"));
    static const QString second = QString::fromStdString(fuzz::scratchPath("second.xml"));
    fuzz::writeFile(input, data, size);

    QString error;
    const std::optional<TaskConfig> config = TaskConfig::read(inputPath, &error);
    if (!config) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    const bool written = config->write(first, &error);
    if (!written)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    FUZZ_CHECK(written);
    const std::optional<TaskConfig> again = TaskConfig::read(first, &error);
    if (!again)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->write(second, &error));
    FUZZ_CHECK(contents(first) == contents(second));
    return 0;
}
