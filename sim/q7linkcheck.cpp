/*
 * q7linkcheck: open a Tavrin link to a camera, greet it and print the frames
 * that arrive for a few seconds. Usage: q7linkcheck [address] [port] [seconds]
 */
#include "rvtele_internal.h"
#include "tavrin/tavrin.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<int> frames_seen{0};

int print_frame(void *, const uint8_t *frame, int length)
{
    frames_seen.fetch_add(1, std::memory_order_relaxed);
    const bool command = frame[3] >= 'A' && frame[3] <= 'Z';
    printf("%s frame %c%s(%2d bytes):", command ? "command  " : "addressed",
           command ? frame[3] : '-', command ? " " : "", length);
    for (int i = 0; i < length; ++i)
        printf(" %02x", frame[i]);
    printf("\n");
    fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *address = argc > 1 ? argv[1] : "127.0.0.1";
    const auto port = static_cast<uint32_t>(argc > 2 ? std::atoi(argv[2]) : TAVRIN_CAMERA_PORT);
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 3;

    rvtele_module_init();
    rvtele_t *link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, address, port, TAVRIN_RING_CAPACITY);
    if (!link) {
        fprintf(stderr, "q7linkcheck: cannot create a link to %s:%u\n", address, port);
        rvtele_module_exit();
        return 1;
    }
    for (uint8_t letter : {'A', 'B', 'C', 'R'})
        register_rvtele_processer(link, letter, print_frame, nullptr);
    register_rvtele_processer_v2(link, RVUPGRADER_MSG_ID, print_frame, nullptr);

    int status = 0;
    if (rvtele_start(link) != 0) {
        fprintf(stderr, "q7linkcheck: cannot start the link\n");
        status = 1;
    } else {
        printf("q7linkcheck: greeted %s:%u, listening for %d s\n", address, port, seconds);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        rvtele_stop(link);
        printf("q7linkcheck: %d frames received\n", frames_seen.load());
        if (frames_seen.load() == 0)
            status = 1;
    }
    rvtele_free(link);
    rvtele_module_exit();
    return status;
}
