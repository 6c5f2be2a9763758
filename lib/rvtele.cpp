/*
 * The telemetry link: a transport, a ring buffer and the receive thread
 * Tele_Recv that cuts frames out of what arrives and hands them to the
 * registered processors.
 */
#include "rvcomm.h"
#include "rvtele_frame.h"
#include "rvtele_internal.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <pthread.h>
#include <system_error>
#include <thread>

/* How long the receive thread waits for input before it looks at the running flag. */
constexpr int RECEIVE_POLL_MS = 50;
/* Datagrams read in one wake-up before the running flag is looked at again. */
constexpr int RECEIVE_BURST = 256;

struct rvtele_state {
    ProcessorTable processors;
    std::mutex control; /* start, stop and free */
    std::mutex sending; /* keeps the transport alive while a frame leaves */
    std::thread receiver;
    std::atomic<uint32_t> running{0};
    std::atomic<int> holders{1};
    bool freed = false; /* rvtele_free was called */
};

namespace {

/* The link whose receive thread this is, if any. */
thread_local const rvtele_state *receiving_state = nullptr;

void Tele_Recv(rvtele_t *tele)
{
    rvtele_state *state = tele->state;
    receiving_state = state;
    uint8_t buf[RVTELE_FRAME_BUFFER];
    while (state->running.load(std::memory_order_acquire)) {
        const int ready = rvcomm_wait(tele->comm, RECEIVE_POLL_MS);
        if (ready < 0) {
            /* Transport failed or hung up: do not spin, keep looking at the flag. */
            std::this_thread::sleep_for(std::chrono::milliseconds(RECEIVE_POLL_MS));
            continue;
        }
        /*
         * Drain what is ready, cutting frames after every datagram so that a
         * burst from the camera neither waits in a full socket buffer nor
         * overflows the ring.
         */
        for (int turn = 0; ready > 0 && turn < RECEIVE_BURST; ++turn) {
            const int n = rvcomm_read(tele->comm, buf, sizeof buf);
            if (n <= 0)
                break;
            rvtele_receive(tele, buf, static_cast<uint32_t>(n));
        }
    }
}

bool on_receive_thread(const rvtele_state *state)
{
    return receiving_state == state;
}

} // namespace

extern "C" {

TAVRIN_API int rvtele_module_init(void)
{
    rvcomm_ops_register(RVCOMM_MAGIC_SERIAL, rvcomm_serial_ops());
    rvcomm_ops_register(RVCOMM_MAGIC_NETWORK, rvcomm_network_ops());
    return 0;
}

TAVRIN_API void rvtele_module_exit(void)
{
    rvcomm_ops_clear();
}

TAVRIN_API rvtele_t *rvtele_alloc(uint32_t magic_code, const char *name, uint32_t parameter,
                                  uint32_t ring_capacity)
{
    auto *tele = new (std::nothrow) rvtele_t{};
    auto *state = new (std::nothrow) rvtele_state;
    if (!tele || !state) {
        printf("Error: rvtele_alloc Out Of Memory\n");
        goto fail;
    }
    tele->state = state;
    tele->comm = rvcomm_alloc(magic_code, name, parameter);
    if (!tele->comm) {
        printf("Error: rvtele_alloc alloc rvcomm error. magic_code:0x%x\n", magic_code);
        goto fail;
    }
    tele->buffer = rvbuffer_alloc(ring_capacity);
    if (!tele->buffer)
        goto fail;
    return tele;

fail:
    if (tele)
        rvcomm_free(tele->comm);
    delete state;
    delete tele;
    return nullptr;
}

TAVRIN_API int rvtele_free(rvtele_t *tele)
{
    if (!tele)
        return -1;
    if (rvtele_stop(tele) != 0)
        return -1;
    {
        std::lock_guard<std::mutex> guard(tele->state->control);
        if (tele->state->freed) {
            printf("Error: rvtele_free: link %p already freed.\n", static_cast<void *>(tele));
            return -1;
        }
        tele->state->freed = true;
        std::lock_guard<std::mutex> send_guard(tele->state->sending);
        rvcomm_free(tele->comm);
        tele->comm = nullptr;
        rvbuffer_free(tele->buffer);
        tele->buffer = nullptr;
    }
    rvtele_unref(tele);
    return 0;
}

TAVRIN_API int rvtele_start(rvtele_t *tele)
{
    if (!tele)
        return -1;
    rvtele_state *state = tele->state;
    std::lock_guard<std::mutex> guard(state->control);
    if (state->receiver.joinable())
        return 0;
    int opened;
    {
        std::lock_guard<std::mutex> send_guard(state->sending);
        opened = rvcomm_open(tele->comm);
    }
    if (opened == -1) {
        printf("RV-Tele-Start Open Comm Error.\n");
        return -1;
    }
    state->running.store(1, std::memory_order_release);
    try {
        state->receiver = std::thread(Tele_Recv, tele);
        /* Named before start returns, so that tools and tests can tell it apart. */
        pthread_setname_np(state->receiver.native_handle(), "Tele_Recv");
    } catch (const std::system_error &) {
        state->running.store(0, std::memory_order_release);
        printf("RV-Tele-Start create thread Error.\n");
        return -1;
    }
    uint8_t hello[RVTELE_COMMAND_FRAME_LEN];
    rvtele_hello_frame(hello);
    rvtele_send(tele, hello, sizeof hello);
    return 0;
}

TAVRIN_API int rvtele_stop(rvtele_t *tele)
{
    if (!tele)
        return -1;
    rvtele_state *state = tele->state;
    if (on_receive_thread(state)) {
        printf("Error: rvtele_stop called from a frame processor.\n");
        return -1;
    }
    std::lock_guard<std::mutex> guard(state->control);
    if (state->receiver.joinable()) {
        state->running.store(0, std::memory_order_release);
        state->receiver.join();
    }
    /* No send may be using the socket while it is closed and its number reused. */
    std::lock_guard<std::mutex> send_guard(state->sending);
    rvcomm_close(tele->comm);
    return 0;
}

TAVRIN_API int register_rvtele_processer_v2(rvtele_t *tele, uint8_t key,
                                            rvtele_processer_fn callback, void *context)
{
    if (!tele)
        return -1;
    return tele->state->processors.add(key, RVTELE_KIND_ADDRESSED, callback, context);
}

TAVRIN_API int unregister_rvtele_processer_v2(rvtele_t *tele, uint8_t key)
{
    if (!tele)
        return -1;
    return tele->state->processors.remove(key, RVTELE_KIND_ADDRESSED);
}

} // extern "C"

void rvtele_receive(rvtele_t *tele, const uint8_t *bytes, uint32_t length)
{
    rvbuffer_put(tele->buffer, bytes, length);
    uint8_t frame[RVTELE_FRAME_BUFFER];
    int n;
    while ((n = rvtele_frame_extract(tele->buffer, frame, sizeof frame)) > 0)
        tele->state->processors.dispatch(frame, n);
}

int register_rvtele_processer(rvtele_t *tele, uint8_t key, rvtele_processer_fn callback,
                              void *context)
{
    if (!tele)
        return -1;
    return tele->state->processors.add(key, RVTELE_KIND_COMMAND, callback, context);
}

int unregister_rvtele_processer(rvtele_t *tele, uint8_t key)
{
    if (!tele)
        return -1;
    return tele->state->processors.remove(key, RVTELE_KIND_COMMAND);
}

int rvtele_send(rvtele_t *tele, const uint8_t *bytes, int length)
{
    if (!tele || !bytes)
        return -1;
    /* Any thread may send (GUI, upgrade worker); the lock keeps free from
     * releasing the transport under a send. */
    std::lock_guard<std::mutex> guard(tele->state->sending);
    return rvcomm_write(tele->comm, bytes, length);
}

void rvtele_ref(rvtele_t *tele)
{
    tele->state->holders.fetch_add(1, std::memory_order_relaxed);
}

void rvtele_unref(rvtele_t *tele)
{
    if (tele->state->holders.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    delete tele->state;
    delete tele;
}
