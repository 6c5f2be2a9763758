/*
 * Exporting USB POS files: 1,000,000 raw records into tables, 32-byte
 * records into one table, 52-byte records into the main table alone and
 * with the five lens tables. Reports records per second; in per-lens mode
 * every record makes a row in each of the six tables.
 */
#include "../pos/UsbPosExport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kRecords = 1000000;

void put_be(uint8_t *at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

/* A survey line flown north at 20 m/s, one record a second, in seconds-since-1970 time. */
QString writeSource(const QString &folder, int size)
{
    const QString path = folder + QStringLiteral("/POS%1.DAT").arg(size);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    std::vector<uint8_t> r(static_cast<size_t>(size));
    for (int i = 0; i < kRecords; ++i) {
        std::fill(r.begin(), r.end(), 0);
        put_be(&r[0], static_cast<uint32_t>(i + 1), 2);
        put_be(&r[2], static_cast<uint32_t>(i % 300), 2);
        put_be(&r[6], static_cast<uint32_t>(35900 + i % 200), 2);
        put_be(&r[8], static_cast<uint32_t>(1163000000 + i * 3), 4);
        put_be(&r[12], static_cast<uint32_t>(399000000 + i * 180), 4);
        put_be(&r[16], static_cast<uint32_t>(520000 + i % 1000), 4);
        put_be(&r[20], 20, 2);
        put_be(&r[24], static_cast<uint32_t>(1686711600 + i), 4);
        r[30] = 2;
        if (size == 52)
            for (int lens = 0; lens < 5; ++lens)
                put_be(&r[31 + 4 * static_cast<size_t>(lens)],
                       static_cast<uint32_t>(lens == 2   ? 2500
                                             : lens == 1 ? -1
                                                         : 0),
                       4);
        file.write(reinterpret_cast<const char *>(r.data()), size);
    }
    return path;
}

void exportRecords(benchmark::State &state)
{
    const int size = static_cast<int>(state.range(0));
    const bool perLens = state.range(1) != 0;
    QTemporaryDir dir;
    const QString source = writeSource(dir.path(), size);
    if (source.isEmpty()) {
        state.SkipWithError("cannot write the source file");
        return;
    }
    for (auto _ : state) {
        QStringList written;
        QString error;
        if (!UsbPosExport::exportFile({source, dir.filePath(QStringLiteral("t.xls"))}, size,
                                      perLens, {}, &written, &error)) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
    }
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(kRecords) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(exportRecords)
    ->Args({32, 0})
    ->Args({52, 0})
    ->Args({52, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
