/*
 * Loading a POS table: a per-lens table of 1,000,000 rows, written once by
 * the library's row writer into a temporary file, read back with
 * MyExcelObject::load. Reports rows per second.
 */
#include "../pos/MyExcelObject.h"
#include "posfile_internal.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr int kRows = 1000000;

void put_be(uint8_t *at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

/* A survey line flown north at 20 m/s, one record a second; the Front lens exposes late. */
bool writeLensTable(const std::string &path)
{
    FILE *main = fopen("/dev/null", "wb");
    FILE *lens[POSFILE_LENSES] = {fopen(path.c_str(), "wb")};
    if (!main || !lens[0])
        return false;
    _ofrm_initexcelheadoffsetsingle(lens[0]);
    for (int i = 0; i < kRows; ++i) {
        uint8_t f[POSFILE_Q_FRAME_LEN] = {0xEB, 0x90, POSFILE_Q_FRAME_LEN, 'Q'};
        f[8] = POSFILE_RECORD_LONG;
        put_be(f + 9, static_cast<uint32_t>(i + 1), 2);
        put_be(f + 11, static_cast<uint32_t>(i % 300), 2);
        put_be(f + 15, static_cast<uint32_t>(35900 + i % 200), 2);
        put_be(f + 17, static_cast<uint32_t>(1163000000 + i * 3), 4);
        put_be(f + 21, static_cast<uint32_t>(399000000 + i * 180), 4);
        put_be(f + 25, static_cast<uint32_t>(520000 + i % 5000), 4);
        put_be(f + 29, 20, 2);
        put_be(f + 31, static_cast<uint32_t>(i % 36000), 2);
        put_be(f + 33, static_cast<uint32_t>(1686711600 + i), 4);
        f[37] = static_cast<uint8_t>(i % 250), f[39] = 2;
        put_be(f + 40, static_cast<uint32_t>(1200 + i % 97), 4);
        posfile_write_q_row(main, lens, 1, f);
    }
    fclose(main);
    return fclose(lens[0]) == 0;
}

void BM_LoadPerLensTable(benchmark::State &state)
{
    char pattern[] = "/tmp/pos_reader_bench_XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    close(fd);
    const std::string path = pattern;
    if (!writeLensTable(path)) {
        state.SkipWithError("table not written");
        remove(pattern);
        return;
    }
    int64_t rows = 0;
    for (auto _ : state) {
        MyExcelObject table;
        table.load(QString::fromStdString(path));
        if (table.positionList.size() != kRows || table.skippedLines != 0) {
            state.SkipWithError("rows lost");
            break;
        }
        rows += table.positionList.size();
        benchmark::DoNotOptimize(table.timeList.constData());
    }
    state.SetItemsProcessed(rows);
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    remove(pattern);
}
BENCHMARK(BM_LoadPerLensTable)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
