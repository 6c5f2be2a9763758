/*
 * The firmware upgrader: sends a firmware file to the controller's loader
 * over a running link with a stop-and-wait exchange of addressed frames
 * (goto-loader, announce, blocks of at most 200 bytes each acknowledged with
 * the new offset, upgrade-over). Firmware files themselves (length and CRC,
 * encrypted files) are handled in firmware_file.cpp.
 *
 * Threads: the caller (request, prepare, start, stop, getters), the upgrade
 * worker (sends frames, reads the file) and the link's receive thread (runs
 * the processor on the loader's answers). Everything the three share is an
 * atomic; the file, the block buffer and the read position belong to the
 * worker while it runs and to the caller, under the control lock, otherwise.
 */
#include "aes128.h"
#include "crc16.h"
#include "rvtele_frame.h"
#include "rvtele_internal.h"
#include "rvupgrader_internal.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

/* Sub-commands of the loader exchange (byte 9). */
constexpr uint8_t ANSWER_LOADER_READY = 0x01;
constexpr uint8_t CMD_GOTO_LOADER = 0x02;
constexpr uint8_t CMD_ANNOUNCE = 0x03; /* also the loader's "announce accepted" */
constexpr uint8_t CMD_DATA_BLOCK = 0x04;
constexpr uint8_t CMD_UPGRADE_OVER = 0x05;
constexpr uint8_t ANSWER_BLOCK_ACK = 0x06;
constexpr uint8_t ANSWER_COMPLETE = 0x07;

/* Frame lengths (payload + 10) and the shortest answers worth reading. */
constexpr int COMMAND_FRAME_LEN = 11;
constexpr uint32_t ANNOUNCE_PAYLOAD = 19;
constexpr uint32_t BLOCK_MAX = 200;
constexpr uint32_t BLOCK_DATA_AT = 15;
constexpr uint32_t DATA_FRAME_MAX = BLOCK_MAX + 18;
constexpr int READY_ANSWER_LEN = 38;    /* texts end at byte 36 */
constexpr int BLOCK_ACK_LEN = 15;       /* offset in bytes 10-13 */
constexpr int COMPLETE_ANSWER_LEN = 13; /* answer bytes 10 and 11 */

constexpr size_t TAG_LEN = 8;
constexpr auto relaxed = std::memory_order_relaxed;

void put_le32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_le32(const uint8_t *at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

} // namespace

struct rvupgrader {
    rvupgrader() = default;
    ~rvupgrader();
    rvupgrader(const rvupgrader &) = delete;
    rvupgrader &operator=(const rvupgrader &) = delete;

    /* Serialises request, prepare, start, restart and stop. */
    std::mutex control;

    /*
     * The link and message id change only under `control`, with no worker
     * running and no processor registered, so the worker (started later) and
     * the processor (registered later) see them without further ordering.
     */
    rvtele_t *link = nullptr;
    uint8_t msg_id = 0;

    /* The firmware to send, from rvupgrader_prepare_firmware. */
    std::string path; /* under `control` */
    std::atomic<uint8_t> announce1{0};
    std::atomic<uint8_t> announce2{0};
    std::atomic<uint32_t> file_length{0};
    std::atomic<uint32_t> file_crc{0};
    std::atomic<uint64_t> tag{0}; /* 8 characters, NUL-padded, byte 0 lowest */

    /* What the loader answered (written on the receive thread). */
    std::atomic<uint8_t> answer[3] = {};
    std::atomic<char> text8[8] = {};
    std::atomic<char> text16[16] = {};
    std::atomic<uint8_t> frame_seen{0};
    std::atomic<uint8_t> answered{0};

    std::atomic<uint8_t> stage{RVUPGRADER_IDLE};
    std::atomic<uint8_t> progress{0};
    std::atomic<uint32_t> acked{0};
    std::atomic<uint32_t> finished{0};
    std::atomic<uint8_t> send_failing{0}; /* the worker's last send failed */

    /* The worker and its sleep, which stop cuts short. */
    std::atomic<uint32_t> running{0};
    std::thread worker;
    std::mutex sleep_lock;
    std::condition_variable wake;

    /* The worker's own state (the caller's while no worker runs). */
    FILE *file = nullptr;
    uint32_t bytes_read = 0;
    uint32_t last_read = 0;
    uint8_t data_frame[DATA_FRAME_MAX] = {};
};

namespace {

/* The library's one upgrader. Its destructor ends a running upgrade at exit. */
rvupgrader the_upgrader;

bool is_context(const rvupgrader *up, const char *function)
{
    if (up == &the_upgrader)
        return true;
    printf("Error: %s: %p is not the upgrader context.\n", function, static_cast<const void *>(up));
    return false;
}

/* Move the stage only if it is still `from`, so that concurrent moves are not lost. */
bool move_stage(rvupgrader *up, uint8_t from, uint8_t to)
{
    return up->stage.compare_exchange_strong(from, to, std::memory_order_acq_rel);
}

void send_frame(rvupgrader *up, const uint8_t *frame, int length)
{
    const bool failed = rvtele_send(up->link, frame, length) != length;
    /* One message per run of failures (closed or freed link), not one per turn. */
    if (failed && !up->send_failing.load(relaxed))
        printf("Upgrade Error: cannot send to the camera (link closed or freed).\n");
    up->send_failing.store(failed, relaxed);
}

void send_command(rvupgrader *up, uint8_t command)
{
    uint8_t frame[COMMAND_FRAME_LEN];
    rvtele_addressed_frame_init(frame, 1, 0, 0);
    frame[7] = up->msg_id;
    frame[8] = 0;
    frame[9] = command;
    rvtele_frame_seal(frame);
    send_frame(up, frame, sizeof frame);
}

void send_announce(rvupgrader *up)
{
    uint8_t frame[ANNOUNCE_PAYLOAD + 10];
    rvtele_addressed_frame_init(frame, ANNOUNCE_PAYLOAD, 0, 0);
    frame[7] = up->msg_id;
    frame[8] = 0;
    frame[9] = CMD_ANNOUNCE;
    put_le32(frame + 10, up->file_length.load(relaxed));
    put_le32(frame + 14, up->file_crc.load(relaxed));
    frame[18] = up->announce1.load(relaxed);
    frame[19] = up->announce2.load(relaxed);
    const uint64_t tag = up->tag.load(relaxed);
    for (size_t i = 0; i < TAG_LEN; ++i)
        frame[20 + i] = static_cast<uint8_t>(tag >> (8 * i));
    rvtele_frame_seal(frame);
    send_frame(up, frame, sizeof frame);
}

/*
 * One turn of the upgrading stage. When the controller has confirmed
 * everything read so far, the next block is read; otherwise the block in
 * flight goes again. A block always carries its own position in the file,
 * so a late or repeated acknowledgement cannot label data with the wrong
 * offset.
 */
void send_data_block(rvupgrader *up)
{
    uint8_t *frame = up->data_frame;
    if (up->acked.load(relaxed) == up->bytes_read) {
        const size_t n = fread(frame + BLOCK_DATA_AT, 1, BLOCK_MAX, up->file);
        if (ferror(up->file)) {
            printf("Upgrade Error: reading firmware file error.\n");
            move_stage(up, RVUPGRADER_UPGRADING, RVUPGRADER_FAILED);
            return;
        }
        if (n > 0) {
            up->bytes_read += static_cast<uint32_t>(n);
            up->last_read = static_cast<uint32_t>(n);
        } else {
            printf("Upgarde Will Over, reading firmware Over.\n");
            up->last_read = 0;
            move_stage(up, RVUPGRADER_UPGRADING, RVUPGRADER_OVER);
        }
    }
    const uint32_t n = up->last_read;
    rvtele_addressed_frame_init(frame, n + 8, 0, 0);
    frame[7] = up->msg_id;
    frame[8] = 0;
    frame[9] = CMD_DATA_BLOCK;
    put_le32(frame + 10, up->bytes_read - n);
    frame[14] = static_cast<uint8_t>(n);
    const uint16_t crc = crc16_arc(frame + BLOCK_DATA_AT, n);
    frame[BLOCK_DATA_AT + n] = static_cast<uint8_t>(crc & 0xFF);
    frame[BLOCK_DATA_AT + n + 1] = static_cast<uint8_t>(crc >> 8);
    rvtele_frame_seal(frame);
    send_frame(up, frame, static_cast<int>(n + 18));
}

void upgrade_worker(rvupgrader *up)
{
    while (up->running.load(std::memory_order_acquire)) {
        auto turn = 100ms;
        switch (up->stage.load(std::memory_order_acquire)) {
        case RVUPGRADER_GOTO_LOADER:
            if (up->answered.load(relaxed)) {
                move_stage(up, RVUPGRADER_GOTO_LOADER, RVUPGRADER_ANNOUNCE);
            } else {
                printf("Send CMD goto-Loader 0x02\n");
                send_command(up, CMD_GOTO_LOADER);
            }
            break;
        case RVUPGRADER_ANNOUNCE:
            printf("Send CMD prepare upgrade 0x03\n");
            send_announce(up);
            break;
        case RVUPGRADER_UPGRADING:
            send_data_block(up);
            turn = 150ms;
            break;
        case RVUPGRADER_OVER:
            printf("Send CMD upgrade over 0x05\n");
            send_command(up, CMD_UPGRADE_OVER);
            up->finished.store(1, relaxed);
            break;
        default: /* idle, done, failed */
            turn = 1000ms;
            break;
        }
        std::unique_lock<std::mutex> guard(up->sleep_lock);
        up->wake.wait_for(guard, turn,
                          [up] { return up->running.load(std::memory_order_acquire) == 0; });
    }
}

/* End the worker (it wakes at once) and close the file. Under `control`. */
void stop_worker(rvupgrader *up)
{
    if (up->worker.joinable()) {
        {
            std::lock_guard<std::mutex> guard(up->sleep_lock);
            up->running.store(0, std::memory_order_release);
        }
        up->wake.notify_all();
        up->worker.join();
    }
    up->running.store(0, std::memory_order_release);
    if (up->file) {
        fclose(up->file);
        up->file = nullptr;
    }
}

/* Remove the processor from the link and let go of the link. Under `control`. */
void detach(rvupgrader *up)
{
    if (!up->link)
        return;
    unregister_rvtele_processer_v2(up->link, up->msg_id);
    rvtele_unref(up->link);
    up->link = nullptr;
}

/* Forget the previous upgrade. Under `control`, with no worker and no processor. */
void clear(rvupgrader *up)
{
    up->msg_id = 0;
    up->path.clear();
    up->announce1.store(0, relaxed);
    up->announce2.store(0, relaxed);
    up->file_length.store(0, relaxed);
    up->file_crc.store(0, relaxed);
    up->tag.store(0, relaxed);
    for (auto &byte : up->answer)
        byte.store(0, relaxed);
    for (auto &c : up->text8)
        c.store(0, relaxed);
    for (auto &c : up->text16)
        c.store(0, relaxed);
    up->frame_seen.store(0, relaxed);
    up->answered.store(0, relaxed);
    up->stage.store(RVUPGRADER_IDLE, relaxed);
    up->progress.store(0, relaxed);
    up->acked.store(0, relaxed);
    up->finished.store(0, relaxed);
    up->bytes_read = 0;
    up->last_read = 0;
    std::memset(up->data_frame, 0, sizeof up->data_frame);
    up->send_failing.store(0, relaxed);
}

/* Under `control`. */
int start_locked(rvupgrader *up)
{
    stop_worker(up);
    FILE *file = fopen(up->path.c_str(), "rb");
    if (!file) {
        printf("Error: cannot open Firmware File %s. Upgrade Start Failed.\n", up->path.c_str());
        return -1;
    }
    if (up->file_length.load(relaxed) == 0) {
        /* Unreadable when prepared, empty or encrypted: the loader would get junk. */
        fclose(file);
        printf("Error: nothing to send from Firmware File %s (empty, unreadable or encrypted). "
               "Upgrade Start Failed.\n",
               up->path.c_str());
        return -1;
    }
    if (!up->link)
        printf("Warning: the upgrader is not attached to a link; no frame will leave.\n");

    /* A new transfer from the start of the file, as the file is read from there. */
    up->file = file;
    up->bytes_read = 0;
    up->last_read = 0;
    up->send_failing.store(0, relaxed);
    up->acked.store(0, relaxed);
    up->progress.store(0, relaxed);
    up->answered.store(0, relaxed);
    up->frame_seen.store(0, relaxed);
    up->stage.store(RVUPGRADER_GOTO_LOADER, std::memory_order_release);
    up->running.store(1, std::memory_order_release);
    try {
        up->worker = std::thread(upgrade_worker, up);
    } catch (const std::system_error &) {
        up->running.store(0, std::memory_order_release);
        up->stage.store(RVUPGRADER_IDLE, std::memory_order_release);
        fclose(up->file);
        up->file = nullptr;
        printf("RV-upgrader start Failed.\n");
        return -1;
    }
    return 0;
}

} // namespace

rvupgrader::~rvupgrader()
{
    /* At exit or unload: no joinable thread may outlive this object. */
    std::lock_guard<std::mutex> guard(control);
    stop_worker(this);
    detach(this);
}

int rvupgrader_process_frame(void *context, const uint8_t *frame, int length)
{
    auto *up = static_cast<rvupgrader *>(context);
    up->frame_seen.store(1, relaxed);
    if (length < COMMAND_FRAME_LEN) {
        printf("Upgrade Error: frame of %d bytes has no sub-command.\n", length);
        return -1;
    }
    const uint8_t command = frame[9];
    const uint8_t stage = up->stage.load(std::memory_order_acquire);
    printf("Upgarde Down-Direction:ACK %d, Stage: %d\n", command, stage);

    const int needed = command == ANSWER_LOADER_READY ? READY_ANSWER_LEN
                       : command == ANSWER_BLOCK_ACK  ? BLOCK_ACK_LEN
                       : command == ANSWER_COMPLETE   ? COMPLETE_ANSWER_LEN
                                                      : COMMAND_FRAME_LEN;
    if (length < needed) {
        printf("Upgrade Error: answer 0x%x too short: %d bytes, %d needed.\n", command, length,
               needed);
        return -1;
    }

    switch (command) {
    case ANSWER_LOADER_READY:
        if (up->link)
            std::atomic_ref<uint32_t>(up->link->loader_status).store(frame[10], relaxed);
        for (int i = 0; i < 3; ++i)
            up->answer[i].store(frame[10 + i], relaxed);
        for (int i = 0; i < 8; ++i)
            up->text8[i].store(static_cast<char>(frame[13 + i]), relaxed);
        for (int i = 0; i < 16; ++i)
            up->text16[i].store(static_cast<char>(frame[21 + i]), relaxed);
        up->answered.store(1, relaxed);
        move_stage(up, RVUPGRADER_GOTO_LOADER, RVUPGRADER_ANNOUNCE);
        break;
    case CMD_ANNOUNCE:
        if (move_stage(up, RVUPGRADER_ANNOUNCE, RVUPGRADER_UPGRADING))
            printf("Change Stage to UPGRADING: %d\n", RVUPGRADER_UPGRADING);
        break;
    case ANSWER_BLOCK_ACK: {
        const uint32_t offset = get_le32(frame + 10);
        up->acked.store(offset, relaxed);
        up->answered.store(1, relaxed);
        printf("ACK: 0x%x %d\n", offset, static_cast<int>(offset));
        if (stage != RVUPGRADER_UPGRADING)
            break;
        const uint32_t file_length = up->file_length.load(relaxed);
        if (offset > file_length) {
            printf("Upgrade Error: ACK %u beyond the file length %u.\n", offset, file_length);
            break;
        }
        if (file_length > 0)
            up->progress.store(static_cast<uint8_t>(uint64_t{offset} * 100 / file_length), relaxed);
        if (offset == file_length)
            move_stage(up, RVUPGRADER_UPGRADING, RVUPGRADER_OVER);
        break;
    }
    case ANSWER_COMPLETE:
        up->answer[1].store(frame[10], relaxed);
        up->answer[2].store(frame[11], relaxed);
        up->answered.store(1, relaxed);
        move_stage(up, RVUPGRADER_OVER, RVUPGRADER_DONE);
        break;
    default:
        printf("Upgrade Error: not wanted Frame. src_id:-1x%x dst_id:0x%x msg-id:0x%x "
               "sub-cmd:0x%x\n",
               frame[3] | frame[4] << 8, frame[5] | frame[6] << 8, frame[7], command);
        return -1;
    }
    return 0;
}

void rvupgrader_get_view(rvupgrader_t *up, rvupgrader_view *out)
{
    *out = rvupgrader_view{};
    out->file_length = up->file_length.load(relaxed);
    out->file_crc = up->file_crc.load(relaxed);
    out->acked_offset = up->acked.load(relaxed);
    out->frame_seen = up->frame_seen.load(relaxed);
    out->answered = up->answered.load(relaxed);
    out->send_failing = up->send_failing.load(relaxed);
    for (int i = 0; i < 3; ++i)
        out->answer[i] = up->answer[i].load(relaxed);
    for (int i = 0; i < 8; ++i)
        out->text8[i] = up->text8[i].load(relaxed);
    for (int i = 0; i < 16; ++i)
        out->text16[i] = up->text16[i].load(relaxed);
    const uint64_t tag = up->tag.load(relaxed);
    for (size_t i = 0; i < TAG_LEN; ++i)
        out->tag[i] = static_cast<char>(tag >> (8 * i));
}

extern "C" {

/*
 * Attach the one upgrader to `tele` for message id `msg_id`: stops a running
 * upgrade, removes the processor from the previous link and drops the
 * reference on it, forgets the previous upgrade and registers on the new link,
 * holding a reference on it. Caller's thread; not from a frame processor.
 * Returns the context (also for a NULL link, which leaves it detached).
 */
TAVRIN_API rvupgrader_t *rvupgrader_request(rvtele_t *tele, uint8_t msg_id)
{
    rvupgrader *up = &the_upgrader;
    std::lock_guard<std::mutex> guard(up->control);
    stop_worker(up);
    if (tele)
        rvtele_ref(tele); /* before letting go of the old one, which may be the same */
    detach(up);
    clear(up);
    if (!tele) {
        printf("rvupgrader_request: no link; the upgrader is detached.\n");
        return up;
    }
    up->link = tele;
    up->msg_id = msg_id;
    if (register_rvtele_processer_v2(tele, msg_id, rvupgrader_process_frame, up) != 0) {
        printf("Error: rvupgrader_request: cannot register on the link; the upgrader stays "
               "detached.\n");
        up->link = nullptr;
        up->msg_id = 0;
        rvtele_unref(tele);
    }
    return up;
}

/*
 * Record the firmware to send: path, announce bytes, tag (at most 8
 * characters, NUL-padded), and the file's length and CRC. A file that cannot
 * be read, or is encrypted, is recorded with length 0 and CRC 0, which
 * rvupgrader_start then refuses. @return 0; -1 for a wrong context.
 */
TAVRIN_API int rvupgrader_prepare_firmware(rvupgrader_t *up, const char *path, uint8_t announce1,
                                           uint8_t announce2, const char *tag)
{
    if (!is_context(up, "rvupgrader_prepare_firmware"))
        return -1;
    std::lock_guard<std::mutex> guard(up->control);
    up->path = path ? path : "";
    up->announce1.store(announce1, relaxed);
    up->announce2.store(announce2, relaxed);
    uint64_t packed = 0;
    for (size_t i = 0; tag && i < TAG_LEN && tag[i]; ++i)
        packed |= uint64_t{static_cast<uint8_t>(tag[i])} << (8 * i);
    up->tag.store(packed, relaxed);

    rvupgrader_fileinfo_t info{};
    if (!path || rvupgrader_get_fileinfo(path, &info) != 0)
        info = rvupgrader_fileinfo_t{};
    up->file_length.store(info.length, relaxed);
    up->file_crc.store(info.crc, relaxed);
    printf("prepare-firmware: len: %d crc: 0x%x\n", static_cast<int>(info.length), info.crc);
    return 0;
}

/*
 * Start (or start over) sending the prepared file: goto-loader, announce,
 * blocks, upgrade-over. @return 0; -1 when the file cannot be opened, holds
 * nothing to send, or the worker cannot start.
 */
TAVRIN_API int rvupgrader_start(rvupgrader_t *up)
{
    if (!is_context(up, "rvupgrader_start"))
        return -1;
    std::lock_guard<std::mutex> guard(up->control);
    return start_locked(up);
}

/*
 * While an upgrade runs, announce the file again and go on from the current
 * offset; otherwise start. @return 0; -1 as rvupgrader_start.
 */
TAVRIN_API int rvupgrader_restart(rvupgrader_t *up)
{
    if (!is_context(up, "rvupgrader_restart"))
        return -1;
    std::lock_guard<std::mutex> guard(up->control);
    if (up->worker.joinable()) {
        up->stage.store(RVUPGRADER_ANNOUNCE, std::memory_order_release);
        return 0;
    }
    return start_locked(up);
}

/*
 * End the worker (joined; it wakes at once) and close the file. Harmless when
 * nothing runs. @return 0; -1 for a wrong context.
 */
TAVRIN_API int rvupgrader_stop(rvupgrader_t *up)
{
    if (!is_context(up, "rvupgrader_stop"))
        return -1;
    std::lock_guard<std::mutex> guard(up->control);
    stop_worker(up);
    return 0;
}

/* @return the stage (enum rvupgrader_stage); -1 for a wrong context. */
TAVRIN_API int rvupgrader_get_stage(rvupgrader_t *up)
{
    return up == &the_upgrader ? up->stage.load(std::memory_order_acquire) : -1;
}

/* @return the progress in percent (0 to 100); -1 for a wrong context. */
TAVRIN_API int rvupgrader_get_progress(rvupgrader_t *up)
{
    return up == &the_upgrader ? up->progress.load(relaxed) : -1;
}

/* Set the progress to 0. @return the context; NULL for a wrong context. */
TAVRIN_API rvupgrader_t *setprogressempty(rvupgrader_t *up)
{
    if (up != &the_upgrader)
        return nullptr;
    up->progress.store(0, relaxed);
    return up;
}

/* Clear the finished flag. @return the context; NULL for a wrong context. */
TAVRIN_API rvupgrader_t *rvupgrader_set(rvupgrader_t *up)
{
    if (up != &the_upgrader)
        return nullptr;
    up->finished.store(0, relaxed);
    return up;
}

/* @return 1 once upgrade-over was sent since rvupgrader_set, else 0; -1 for a wrong context. */
TAVRIN_API int rvupgrader_get_rev(rvupgrader_t *up)
{
    return up == &the_upgrader ? static_cast<int>(up->finished.load(relaxed)) : -1;
}

} // extern "C"
