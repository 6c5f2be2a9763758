/*
 * POS table writing on the receive path: 52-byte offset-tagged records in
 * per-lens mode, each moved to five lens positions, written to real files in
 * a temporary directory. Reports records per second.
 */
#include "posfile_internal.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kRecords = 10000;

void put_be(std::vector<uint8_t> &f, int at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        f[at + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

/* A survey line flown north at 20 m/s, every lens exposed late. */
std::vector<std::vector<uint8_t>> flight()
{
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < kRecords; ++i) {
        std::vector<uint8_t> f(61, 0);
        f[0] = 0xEB, f[1] = 0x90, f[2] = 61, f[3] = 'Q';
        put_be(f, 4, static_cast<uint32_t>(i * 52), 4);
        f[8] = 52;
        put_be(f, 9, static_cast<uint32_t>(i + 1), 2);
        put_be(f, 11, static_cast<uint32_t>(35900 + i % 200), 2);
        put_be(f, 13, static_cast<uint32_t>(i % 300), 2);
        put_be(f, 15, 170, 2);
        put_be(f, 17, static_cast<uint32_t>(1163000000 + i * 3), 4);
        put_be(f, 21, static_cast<uint32_t>(399000000 + i * 270), 4);
        put_be(f, 25, static_cast<uint32_t>(520000 + i % 5000), 4);
        put_be(f, 29, 20, 2);
        put_be(f, 31, static_cast<uint32_t>(i % 36000), 2);
        put_be(f, 33, static_cast<uint32_t>(1686711600 + i * 2), 4);
        f[37] = static_cast<uint8_t>(i % 250), f[38] = 0, f[39] = 2;
        for (int lens = 0; lens < 5; ++lens)
            put_be(f, 40 + 4 * lens, static_cast<uint32_t>(1200 + 300 * lens + i % 97), 4);
        const int sum = [&] {
            int s = 0;
            for (int k = 0; k < 60; ++k)
                s += f[k];
            return s;
        }();
        f[60] = static_cast<uint8_t>(-sum);
        frames.push_back(std::move(f));
    }
    return frames;
}

void BM_OffsetRecordsWithFiveLensTables(benchmark::State &state)
{
    const auto frames = flight();
    char pattern[] = "/tmp/posfile_bench_XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string dir = pattern;
    rvtele_module_init();
    rvtele_t *link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 9, TAVRIN_RING_CAPACITY);
    posfile_manager_t *mgr = posfile_manager_init(link);
    posfile_store(mgr->lens_mode, 1);
    posfile_store(mgr->expected_size, kRecords * 52u);
    long written = 0;
    for (auto _ : state) {
        const std::string main = dir + "/flight.xls";
        posfile_ofrm_openfile_offset(mgr, main.c_str(), 52);
        for (int lens = 0; lens < 5; ++lens) {
            FILE *stream = fopen((dir + "/lens" + std::to_string(lens) + ".xls").c_str(), "wb+");
            _ofrm_initexcelheadoffsetsingle(stream);
            posfile_store(mgr->lens_tables[lens], stream);
        }
        for (const auto &f : frames)
            posfile_handle_frame(mgr, f.data(), static_cast<int>(f.size()));
        _ofrm_closefile(mgr);
        for (FILE *&stream : mgr->lens_tables) {
            fclose(stream);
            stream = nullptr;
        }
        written += kRecords;
    }
    if (posfile_process(mgr) != kRecords * 52u)
        state.SkipWithError("records refused");
    state.SetItemsProcessed(written);
    posfile_manager_exit(mgr);
    rvtele_free(link);
    rvtele_module_exit();
    const std::string command = "rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0)
        state.SkipWithError("temporary directory not removed");
}
BENCHMARK(BM_OffsetRecordsWithFiveLensTables)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
