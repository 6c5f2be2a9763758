/*
 * The offload record of a save folder ("offload-record.jsonl"), read as card safety and
 * orvex-cli verify read it (OffloadRecord::read), and opened for appending as a resumed
 * transfer opens it (OffloadRecordWriter::open), which checks its header and cuts a torn
 * last line.
 *
 * Invariants: every line the reader accepts, the writer appends again and the reader reads
 * back the same; a record the writer opened reads back whole, with the lines it had.
 */
#include "FuzzSupport.h"
#include "dataservice/OffloadRecord.h"

#include <QFile>

using namespace OffloadRecord;

namespace {

bool same(const FileLine &a, const FileLine &b)
{
    return a.disk == b.disk && a.cardUuid == b.cardUuid && a.cardLabel == b.cardLabel &&
           a.cardPath == b.cardPath && a.size == b.size && a.mtime == b.mtime &&
           a.sourceHash == b.sourceHash && a.copy == b.copy && a.copySize == b.copySize &&
           a.copyHash == b.copyHash && a.verified == b.verified && a.time == b.time;
}

bool same(const VolumeLine &a, const VolumeLine &b)
{
    return a.disk == b.disk && a.volume == b.volume && a.size == b.size && a.hash == b.hash &&
           a.tested == b.tested && a.time == b.time;
}

template <typename Line> bool same(const QList<Line> &a, const QList<Line> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string input = fuzz::scratchPath("offload-record.jsonl");
    static const QString inputPath = QString::fromStdString(input);
    static const QString copyPath = QString::fromStdString(fuzz::scratchPath("rewritten.jsonl"));
    fuzz::writeFile(input, data, size);

    QString error;
    const std::optional<Contents> read = OffloadRecord::read(inputPath, &error);
    if (read) {
        QFile::remove(copyPath);
        {
            OffloadRecordWriter writer;
            FUZZ_CHECK(writer.open(copyPath, false, &error));
            for (const FileLine &line : read->files)
                FUZZ_CHECK(writer.append(line, &error));
            for (const VolumeLine &line : read->volumes)
                FUZZ_CHECK(writer.append(line, &error));
        }
        const std::optional<Contents> again = OffloadRecord::read(copyPath, &error);
        FUZZ_CHECK(again);
        FUZZ_CHECK(same(again->files, read->files));
        FUZZ_CHECK(same(again->volumes, read->volumes));
        FUZZ_CHECK(again->torn == 0 && again->garbage == 0 && again->foreign == 0);
    }

    OffloadRecordWriter resumed;
    if (resumed.open(inputPath, false, &error)) {
        resumed.close();
        const std::optional<Contents> opened = OffloadRecord::read(inputPath, &error);
        FUZZ_CHECK(opened);
        FUZZ_CHECK(opened->torn == 0);
        if (read) {
            FUZZ_CHECK(same(opened->files, read->files));
            FUZZ_CHECK(same(opened->volumes, read->volumes));
        }
    }
    return 0;
}
