/*
 * q7linkcheck: open a Tavrin link and camera handle to a camera, ask for its
 * identity and print the decoded state once a second.
 * Usage: q7linkcheck [address] [port] [seconds]
 */
#include "tavrin/tavrin.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

template <typename T> T get(T &field)
{
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

/* Text fields are written byte by byte on the receive thread; read them the same way. */
template <size_t N> void get_text(char (&field)[N], char (&out)[N])
{
    for (size_t i = 0; i < N; ++i)
        out[i] = get(field[i]);
    out[N - 1] = '\0';
}

void print_state(q7x_t *cam)
{
    char serial[sizeof cam->serial_number];
    char date[sizeof cam->release_date];
    get_text(cam->serial_number, serial);
    get_text(cam->release_date, date);
    printf("index %u  mode %d  satellites %u  lon %.6f lat %.6f  exposures %u [",
           q7x_get_index(cam), q7x_get_mode(cam), get(cam->satellites), get(cam->coordinate1),
           get(cam->coordinate2), get(cam->total_exposures));
    for (int i = 0; i < 5; ++i)
        printf(i ? " %u" : "%u", get(cam->exposure_counts[i]));
    printf("]  faults 0x%02x  SN %s  V%u.%u  released %s\n", get(cam->fault_mask), serial,
           get(cam->version_major), get(cam->version_minor), date);
    fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    const char *address = argc > 1 ? argv[1] : "127.0.0.1";
    const auto port = static_cast<uint32_t>(argc > 2 ? std::atoi(argv[2]) : TAVRIN_CAMERA_PORT);
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 3;

    rvtele_module_init();
    rvtele_t *link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, address, port, TAVRIN_RING_CAPACITY);
    q7x_t *cam = link ? q7x_alloc(link) : nullptr;
    if (!cam) {
        fprintf(stderr, "q7linkcheck: cannot create a link to %s:%u\n", address, port);
        rvtele_free(link);
        rvtele_module_exit();
        return 1;
    }

    int status = 0;
    if (rvtele_start(link) != 0) {
        fprintf(stderr, "q7linkcheck: cannot start the link\n");
        status = 1;
    } else {
        printf("q7linkcheck: greeted %s:%u, listening for %d s\n", address, port, seconds);
        for (int second = 0; second < seconds; ++second) {
            /* Ask once a second until the camera has said who it is. */
            if (get(cam->version_major) == 0 && get(cam->version_minor) == 0)
                q7x_get_version(cam);
            std::this_thread::sleep_for(std::chrono::seconds(1));
            print_state(cam);
        }
        rvtele_stop(link);
        if (q7x_get_index(cam) == 0) {
            printf("q7linkcheck: no camera frames received\n");
            status = 1;
        }
    }
    rvtele_free(link);
    q7x_free(cam);
    rvtele_module_exit();
    return status;
}
