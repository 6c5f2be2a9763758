/*
 * Frame extraction plus dispatch over a buffer of valid 36-byte frames, fed
 * to the ring in 1024-byte reads as the receive thread does.
 */
#include "rvbuffer.h"
#include "rvtele_frame.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

int count_frame(void *context, const uint8_t *, int)
{
    ++*static_cast<long *>(context);
    return 0;
}

std::vector<uint8_t> status_stream(size_t frames)
{
    std::vector<uint8_t> stream;
    const uint8_t letters[3] = {'A', 'B', 'C'};
    for (size_t i = 0; i < frames; ++i) {
        uint8_t frame[36] = {};
        rvtele_command_frame_init(frame, 36);
        frame[3] = letters[i % 3];
        for (int k = 4; k < 35; ++k)
            frame[k] = static_cast<uint8_t>(i * 7 + k);
        rvtele_frame_seal(frame);
        stream.insert(stream.end(), frame, frame + 36);
    }
    return stream;
}

void BM_ExtractAndDispatch(benchmark::State &state)
{
    const std::vector<uint8_t> stream = status_stream(10000);
    rvbuffer *ring = rvbuffer_alloc(4096);
    ProcessorTable table;
    long handled = 0;
    /* The camera handle's four processors plus the upgrader's. */
    for (uint8_t key : {'A', 'B', 'C', 'R'})
        table.add(key, RVTELE_KIND_COMMAND, count_frame, &handled);
    table.add(0xF1, RVTELE_KIND_ADDRESSED, count_frame, &handled);

    uint8_t buf[RVTELE_FRAME_BUFFER];
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += 1024) {
            const size_t n = std::min<size_t>(1024, stream.size() - at);
            rvbuffer_put(ring, stream.data() + at, static_cast<uint32_t>(n));
            int length;
            while ((length = rvtele_frame_extract(ring, buf, sizeof buf)) > 0)
                table.dispatch(buf, length);
        }
    }
    if (handled != static_cast<long>(state.iterations()) * 10000)
        state.SkipWithError("frames lost");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    rvbuffer_free(ring);
}
BENCHMARK(BM_ExtractAndDispatch);

} // namespace

BENCHMARK_MAIN();
