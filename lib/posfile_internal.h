/*
 * Library-internal side of the POS transfer manager and the POS table writer.
 *
 * The manager record the program sees (posfile_manager_t) is the first member
 * of a private record that adds a lock and the state of the download in
 * progress. The lock serialises everything that touches the file table and
 * the main table stream: 'P' entries, row writing, opening and closing.
 */
#ifndef TAVRIN_POSFILE_INTERNAL_H
#define TAVRIN_POSFILE_INTERNAL_H

#include "tavrin/tavrin.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <type_traits>

/* Frame lengths of the camera's POS messages. */
constexpr int POSFILE_O_FRAME_LEN = 36; /* 'O' and 'P' */
constexpr int POSFILE_Q_FRAME_LEN = 61;
constexpr int POSFILE_LENSES = 5;

/* Record lengths a 'Q' frame can carry. */
constexpr uint8_t POSFILE_RECORD_SHORT = 32;
constexpr uint8_t POSFILE_RECORD_LONG = 52;

/*
 * End markers a short offset download survives, with no record between them, before the camera
 * is taken at its word. Each costs one answer of the camera, so a short file is still known
 * within a moment, while a lossy link seldom loses the last records this often in a row (a
 * repeated marker datagram counts again, so the limit leaves room for repeats).
 */
constexpr uint8_t POSFILE_EARLY_END_LIMIT = 10;

/* How long an offset download may stay silent before the caller's polling asks again. */
constexpr std::chrono::milliseconds POSFILE_STALL_INTERVAL{1000};
/* Silence, in stall intervals, before the completion of a download is sent again. */
constexpr int POSFILE_COMPLETE_RESEND_FACTOR = 3;

/* Which kind of download the open main table belongs to. */
enum class PosDownload : uint8_t {
    none,  /* no table open */
    plain, /* 'O' records, no offsets */
    offset /* 'Q' records, offset-tagged */
};

struct PosManager {
    posfile_manager_t pub; /* must stay first: the program holds &pub */
    std::mutex lock;

    PosDownload download;
    /* The caller cancelled this download: nothing is asked for again. */
    bool cancelled;
    /* A download-from-offset request is outstanding: no record accepted since. */
    bool rerequest;
    /* Offset of the last 'Q' frame seen in this download. */
    uint32_t last_offset;
    /* posfile_file_success was sent for this download, and for which file. */
    bool success_sent;
    uint8_t success_file;
    /* End markers that came while the download was short, since the last record accepted. */
    uint8_t early_ends;
    /* The last record of a plain download written, once one was (bytes 4-34 of its frame). */
    bool have_plain_record;
    uint8_t plain_record[POSFILE_O_FRAME_LEN - 5];

    /* Watchdog of posfile_process: 'Q' frames of this download, as seen at the last poll. */
    uint64_t q_frames;
    uint64_t watched_frames;
    std::chrono::steady_clock::time_point watched_since;
    std::chrono::milliseconds stall_interval;
};
static_assert(std::is_standard_layout_v<PosManager>, "the public record must be at offset 0");

inline PosManager *posfile_private(posfile_manager_t *mgr)
{
    return reinterpret_cast<PosManager *>(mgr);
}

/* Forget everything about the previous download (caller holds the lock). */
void posfile_reset_download(PosManager *pm, PosDownload download);

/*
 * Hand one frame from the camera to the manager, as its processors do.
 * 0 when handled; -1 when refused (not a POS letter, wrong length, no table).
 */
int posfile_handle_frame(posfile_manager_t *mgr, const uint8_t *frame, int length);

/* Silence after which posfile_process asks again (tests shorten it; 0: every poll without news). */
void posfile_set_stall_interval(posfile_manager_t *mgr, int milliseconds);

/* Rows of the tables; the caller holds the manager's lock. */
/* An 'O' frame (36 bytes): one row of the plain table. */
void posfile_write_o_row(FILE *table, const uint8_t *frame);
/*
 * A 'Q' frame (61 bytes): one row of the main table and, in lens mode 1,
 * one row in each open lens table whose offset is not negative.
 */
void posfile_write_q_row(FILE *table, FILE *lens[POSFILE_LENSES], uint32_t lens_mode,
                         const uint8_t *frame);

/* Relaxed atomic access to the shared record's plain fields. */
template <typename T> T posfile_load(T &field)
{
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}
template <typename T, typename V> void posfile_store(T &field, V value)
{
    std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_relaxed);
}

#endif
