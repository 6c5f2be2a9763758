/*
 * POS transfer manager: lists the camera's POS files, downloads one file at a
 * time record by record into a POS table, and asks the camera to delete
 * files.
 *
 * The manager is a frame processor for the camera's 'O' (plain record), 'P'
 * (file entry or end marker) and 'Q' (offset-tagged record) frames, which
 * arrive on the link's receive thread; requests leave from the caller's
 * thread. Fields of the shared record are read and written with relaxed
 * atomics; the file table and the main table stream are guarded by the
 * manager's lock, so that a row is never written to a stream being closed.
 *
 * Offset-tagged downloads repair themselves: a record out of order triggers a
 * request to send the file again from the last good offset, and the records
 * that follow are dropped until the camera is back in order.
 */
#include "posfile_internal.h"
#include "rvtele_frame.h"
#include "rvtele_internal.h"

#include <cstring>
#include <new>

namespace {

/* Sub-commands of the requests (bytes 4 and 5 of a command frame). */
enum PosRequest : uint8_t {
    REQ_INFO = 0x26,
    REQ_DOWNLOAD = 0x27,
    REQ_CANCEL = 0x28,
    REQ_REMOVE = 0x29,
    REQ_REMOVE_ALL = 0x2A,
    REQ_DOWNLOAD_FROM = 0x2E,
    REQ_COMPLETE = 0x2F,
};

constexpr uint8_t LETTER_COMMAND = 'C';
constexpr uint8_t LETTER_RECORD = 'O';
constexpr uint8_t LETTER_ENTRY = 'P';
constexpr uint8_t LETTER_OFFSET_RECORD = 'Q';

uint32_t be32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void put_be32(uint8_t *p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

bool valid_number(int file_number)
{
    return file_number >= 1 && file_number <= POSFILE_MAX_FILES;
}

/* Send one request; 0 when it left, -1 (with a message) when the link refused it. */
int send_request(posfile_manager_t *mgr, uint8_t sub_command, uint8_t argument,
                 const uint32_t *range = nullptr)
{
    uint8_t frame[RVTELE_COMMAND_FRAME_LEN] = {};
    rvtele_command_frame_init(frame, RVTELE_COMMAND_FRAME_LEN);
    frame[3] = LETTER_COMMAND;
    frame[4] = frame[5] = sub_command;
    frame[6] = frame[7] = argument;
    if (range) {
        put_be32(frame + 8, range[0]);
        put_be32(frame + 12, range[1]);
    }
    rvtele_frame_seal(frame);
    if (rvtele_send(mgr->link, frame, sizeof frame) < 0) {
        printf("Error: posfile: request 0x%02x for file %u could not be sent.\n", sub_command,
               argument);
        return -1;
    }
    return 0;
}

/* Ask the camera to send the current file again from the bytes received (lock held). */
void request_rest(PosManager *pm)
{
    posfile_manager_t *mgr = &pm->pub;
    const uint32_t range[2] = {posfile_load(mgr->bytes_received), posfile_load(mgr->expected_size)};
    send_request(mgr, REQ_DOWNLOAD_FROM, static_cast<uint8_t>(posfile_load(mgr->current_file)),
                 range);
    pm->rerequest = true;
}

void count_record_frame(posfile_manager_t *mgr)
{
    posfile_store(mgr->activity, 1u);
    std::atomic_ref<uint32_t>(mgr->record_counter).fetch_add(1, std::memory_order_relaxed);
}

/* An offset download is open and not cancelled, so lost records may be asked for (lock held). */
bool repairable(PosManager *pm)
{
    return pm->download == PosDownload::offset && !pm->cancelled &&
           posfile_load(pm->pub.main_table);
}

/* A repairable download has not yet received the expected size (lock held). */
bool download_short(PosManager *pm)
{
    posfile_manager_t *mgr = &pm->pub;
    const uint32_t expected = posfile_load(mgr->expected_size);
    return repairable(pm) && expected > 0 && posfile_load(mgr->bytes_received) < expected;
}

/* The download is over, whole or short: close its main table (lock held). */
void finish_download(PosManager *pm, FILE *table)
{
    posfile_store(pm->pub.transfer_state, POSFILE_FINISHED);
    posfile_store(pm->pub.main_table, nullptr);
    posfile_reset_download(pm, PosDownload::none);
    fclose(table);
}

int handle_entry(PosManager *pm, const uint8_t *f)
{
    posfile_manager_t *mgr = &pm->pub;
    const uint8_t number = f[4];
    if (number == POSFILE_END_MARKER) {
        if (posfile_load(mgr->end_marker_flag) != 1)
            return 0;
        std::lock_guard<std::mutex> guard(pm->lock);
        if (download_short(pm)) {
            /*
             * The camera says it is done but records are missing (the last
             * ones were lost, or this marker overtook them, or it is a late
             * one from the previous file): ask for the rest rather than
             * close a short table. A camera that answers its requests with
             * the marker alone, no record between, is taken at its word in
             * the end; one that still sends records is asked again, since
             * the first of them being lost each time is no proof it has
             * none (the caller's stall time-out bounds the asking).
             */
            if (pm->early_ends < POSFILE_EARLY_END_LIMIT) {
                ++pm->early_ends;
                printf("posfile: end marker at %u of %u bytes, asking for the rest.\n",
                       posfile_load(mgr->bytes_received), posfile_load(mgr->expected_size));
                request_rest(pm);
                return 0;
            }
            printf("Error: posfile: file %u ended by the camera at %u of %u bytes.\n",
                   posfile_load(mgr->current_file), posfile_load(mgr->bytes_received),
                   posfile_load(mgr->expected_size));
        }
        /*
         * Only a requested file is ended. Between files (the last one taken,
         * the next not yet asked for) a repeated or late marker ends nothing:
         * taken for the next file's end, it would close the last one twice.
         */
        uint8_t requested = POSFILE_REQUESTED;
        if (!std::atomic_ref<uint8_t>(mgr->transfer_state)
                 .compare_exchange_strong(requested, POSFILE_FINISHED, std::memory_order_relaxed))
            return 0;
        if (FILE *table = posfile_load(mgr->main_table))
            finish_download(pm, table);
        return 0;
    }
    if (!valid_number(number))
        return 0;
    posfile_entry_t entry;
    entry.number = number;
    entry.start_address = be32(f + 5);
    entry.start_address2 = be32(f + 9);
    std::memcpy(entry.start_time, f + 13, sizeof entry.start_time);
    entry.end_address = be32(f + 19);
    entry.end_address2 = be32(f + 23);
    std::memcpy(entry.end_time, f + 27, sizeof entry.end_time);
    entry.download_count = f[33];
    entry.reserved = f[34];
    /* Entry and valid bit together, so that a clearing in between cannot split them. */
    std::lock_guard<std::mutex> guard(pm->lock);
    std::memcpy(&mgr->files[number - 1], &entry, sizeof entry);
    std::atomic_ref<uint32_t>(mgr->valid_mask)
        .fetch_or(1u << (number - 1), std::memory_order_relaxed);
    return 0;
}

int handle_record(PosManager *pm, const uint8_t *f)
{
    posfile_manager_t *mgr = &pm->pub;
    std::lock_guard<std::mutex> guard(pm->lock);
    FILE *table = posfile_load(mgr->main_table);
    if (!table)
        return -1;
    count_record_frame(mgr);
    /*
     * Plain records carry no offset, only the camera's record ID, which rises
     * through a file. The same record again is a repeated datagram: dropped.
     * An ID that does not rise came out of order, which a plain download
     * cannot put right: it ends short rather than write rows in the wrong
     * order (the images are matched to the rows by their order).
     */
    constexpr size_t record_at = 4;
    if (pm->have_plain_record) {
        if (std::memcmp(f + record_at, pm->plain_record, sizeof pm->plain_record) == 0)
            return 0;
        const auto id = [](const uint8_t *r) { return static_cast<uint16_t>(r[0] << 8 | r[1]); };
        if (static_cast<int16_t>(id(f + record_at) - id(pm->plain_record)) <= 0) {
            printf("Error: posfile: record %d of file %u came after record %d; the download "
                   "ends short.\n",
                   static_cast<int16_t>(id(f + record_at)), posfile_load(mgr->current_file),
                   static_cast<int16_t>(id(pm->plain_record)));
            finish_download(pm, table);
            return 0;
        }
    }
    posfile_write_o_row(table, f);
    std::memcpy(pm->plain_record, f + record_at, sizeof pm->plain_record);
    pm->have_plain_record = true;
    posfile_store(mgr->bytes_received, posfile_load(mgr->bytes_received) + POSFILE_RECORD_SHORT);
    return 0;
}

int handle_offset_record(PosManager *pm, const uint8_t *f)
{
    posfile_manager_t *mgr = &pm->pub;
    std::lock_guard<std::mutex> guard(pm->lock);
    FILE *table = posfile_load(mgr->main_table);
    if (!table)
        return -1;
    count_record_frame(mgr);
    ++pm->q_frames;
    /* The camera still sends records: a marker before them all is no proof it has no more. */
    pm->early_ends = 0;

    const uint32_t offset = be32(f + 4);
    const uint8_t length = f[8];
    const uint32_t received = posfile_load(mgr->bytes_received);
    if (offset == received) {
        if (length != POSFILE_RECORD_SHORT && length != POSFILE_RECORD_LONG) {
            printf("Error: posfile: record of %u bytes at offset %u ignored.\n", length, offset);
            return 0;
        }
        posfile_write_q_row(table, mgr->lens_tables, posfile_load(mgr->lens_mode), f);
        posfile_store(mgr->bytes_received, received + length);
        pm->rerequest = false;
        pm->last_offset = offset;
        return 0;
    }
    /*
     * Lost or repeated: ask once for the rest and drop frames until the
     * camera is back at the offset wanted. If the stream goes back while
     * the request is outstanding, the camera has restarted and its first
     * record was lost too: ask again, or the download would wait forever.
     * A repeat below the bytes received is no such restart: asking again
     * for each would restart the camera's stream over and over.
     */
    if (repairable(pm) && (!pm->rerequest || (offset > received && offset <= pm->last_offset))) {
        fprintf(stderr,
                "此时有丢数据的情况,此时有丢数据的情况，此时有丢数据的情况，此时有丢数据的情况,"
                "此时有丢数据的情况,收到offset:%d,currentOFrmTotalSize:%d\n",
                static_cast<int>(offset), static_cast<int>(received));
        request_rest(pm);
    }
    pm->last_offset = offset;
    return 0;
}

int process_frame(void *context, const uint8_t *frame, int length)
{
    return posfile_handle_frame(static_cast<posfile_manager_t *>(context), frame, length);
}

const uint8_t PROCESSOR_LETTERS[] = {LETTER_RECORD, LETTER_ENTRY, LETTER_OFFSET_RECORD};

} // namespace

void posfile_reset_download(PosManager *pm, PosDownload download)
{
    pm->download = download;
    pm->cancelled = false;
    pm->rerequest = false;
    pm->last_offset = 0;
    pm->success_sent = false;
    pm->early_ends = 0;
    pm->have_plain_record = false;
    pm->q_frames = 0;
    pm->watched_frames = 0;
    pm->watched_since = std::chrono::steady_clock::now();
}

int posfile_handle_frame(posfile_manager_t *mgr, const uint8_t *frame, int length)
{
    if (!mgr || !frame || length < 4)
        return -1;
    PosManager *pm = posfile_private(mgr);
    const uint8_t letter = frame[3];
    const int wanted = letter == LETTER_OFFSET_RECORD ? POSFILE_Q_FRAME_LEN : POSFILE_O_FRAME_LEN;
    if (letter != LETTER_RECORD && letter != LETTER_ENTRY && letter != LETTER_OFFSET_RECORD)
        return -1;
    if (length != wanted) {
        printf("Error: posfile: '%c' frame of %d bytes, expected %d; dropped.\n", letter, length,
               wanted);
        return -1;
    }
    switch (letter) {
    case LETTER_ENTRY:
        return handle_entry(pm, frame);
    case LETTER_RECORD:
        return handle_record(pm, frame);
    default:
        return handle_offset_record(pm, frame);
    }
}

void posfile_set_stall_interval(posfile_manager_t *mgr, int milliseconds)
{
    PosManager *pm = posfile_private(mgr);
    std::lock_guard<std::mutex> guard(pm->lock);
    pm->stall_interval = std::chrono::milliseconds(milliseconds);
}

extern "C" {

TAVRIN_API posfile_manager_t *posfile_manager_init(rvtele_t *tele)
{
    if (!tele) {
        printf("Error: posfile_manager_init: no link.\n");
        return nullptr;
    }
    auto *pm = new (std::nothrow) PosManager{};
    if (!pm) {
        printf("Error: posfile_manager_init failed Out of Memory.\n");
        return nullptr;
    }
    pm->stall_interval = POSFILE_STALL_INTERVAL;
    posfile_reset_download(pm, PosDownload::none);
    pm->pub.link = tele;
    size_t registered = 0;
    for (; registered < sizeof PROCESSOR_LETTERS; ++registered)
        if (register_rvtele_processer(tele, PROCESSOR_LETTERS[registered], process_frame,
                                      &pm->pub) != 0)
            break;
    if (registered != sizeof PROCESSOR_LETTERS) {
        printf("Error: posfile_manager_init failed Out of Memory.\n");
        for (size_t i = 0; i < registered; ++i)
            unregister_rvtele_processer(tele, PROCESSOR_LETTERS[i]);
        delete pm;
        return nullptr;
    }
    rvtele_ref(tele);
    return &pm->pub;
}

TAVRIN_API void posfile_manager_exit(posfile_manager_t *mgr)
{
    if (!mgr)
        return;
    PosManager *pm = posfile_private(mgr);
    /* Once removal returns, no processor of this manager runs or will run. */
    for (uint8_t letter : PROCESSOR_LETTERS)
        unregister_rvtele_processer(mgr->link, letter);
    if (FILE *table = posfile_load(mgr->main_table)) {
        /* Keep the rows of a download that was never closed. */
        fclose(table);
        mgr->main_table = nullptr;
    }
    rvtele_unref(mgr->link);
    delete pm;
}

TAVRIN_API int posfile_info_request(posfile_manager_t *mgr, int file_number)
{
    if (!mgr || !valid_number(file_number)) {
        printf("Error: posfile_info_request: %s.\n",
               mgr ? "file number outside 1 to 14" : "no manager");
        return -1;
    }
    return send_request(mgr, REQ_INFO, static_cast<uint8_t>(file_number));
}

TAVRIN_API int posfile_info_get(posfile_manager_t *mgr, int file_number, posfile_entry_t *entry)
{
    if (!mgr || !valid_number(file_number) || !entry)
        return -1;
    const uint32_t bit = 1u << (file_number - 1);
    if (!(posfile_load(mgr->valid_mask) & bit))
        return -1;
    std::lock_guard<std::mutex> guard(posfile_private(mgr)->lock);
    std::memcpy(entry, &mgr->files[file_number - 1], sizeof *entry);
    return 0;
}

TAVRIN_API int posfile_info_clear(posfile_manager_t *mgr, int file_number)
{
    if (!mgr || file_number < 0 || file_number > POSFILE_MAX_FILES) {
        printf("Error: posfile_info_clear: %s.\n",
               mgr ? "file number outside 0 to 14" : "no manager");
        return -1;
    }
    std::lock_guard<std::mutex> guard(posfile_private(mgr)->lock);
    if (file_number == 0) {
        std::memset(mgr->files, 0, sizeof mgr->files);
        posfile_store(mgr->valid_mask, 0u);
    } else {
        std::memset(&mgr->files[file_number - 1], 0, sizeof mgr->files[0]);
        std::atomic_ref<uint32_t>(mgr->valid_mask)
            .fetch_and(~(1u << (file_number - 1)), std::memory_order_relaxed);
    }
    return 0;
}

TAVRIN_API int posfile_file_request(posfile_manager_t *mgr, int file_number, const char *table_path)
{
    if (!mgr) {
        printf("Error: posfile_file_request: no manager.\n");
        return -1;
    }
    posfile_store(mgr->current_file, static_cast<uint32_t>(file_number));
    if (posfile_ofrm_openfile(mgr, table_path) != 0)
        return -1;
    posfile_store(mgr->transfer_state, POSFILE_REQUESTED);
    return send_request(mgr, REQ_DOWNLOAD, static_cast<uint8_t>(file_number));
}

TAVRIN_API int posfile_file_request_offset(posfile_manager_t *mgr, int file_number,
                                           const char *table_path, uint32_t expected_size,
                                           int record_size)
{
    if (!mgr) {
        printf("Error: posfile_file_request_offset: no manager.\n");
        return -1;
    }
    /* Re-requests name the file and the size; keep them with the download. */
    posfile_store(mgr->current_file, static_cast<uint32_t>(file_number));
    posfile_store(mgr->expected_size, expected_size);
    if (posfile_ofrm_openfile_offset(mgr, table_path, record_size) != 0)
        return -1;
    posfile_store(mgr->transfer_state, POSFILE_REQUESTED);
    const uint32_t range[2] = {0, expected_size};
    return send_request(mgr, REQ_DOWNLOAD_FROM, static_cast<uint8_t>(file_number), range);
}

TAVRIN_API int posfile_file_cancelRequest(posfile_manager_t *mgr)
{
    if (!mgr) {
        printf("Error: posfile_file_cancelRequest: no manager.\n");
        return -1;
    }
    {
        std::lock_guard<std::mutex> guard(posfile_private(mgr)->lock);
        posfile_private(mgr)->cancelled = true;
    }
    return send_request(mgr, REQ_CANCEL, 0);
}

TAVRIN_API int posfile_file_success(posfile_manager_t *mgr, int file_number)
{
    if (!mgr) {
        printf("Error: posfile_file_success: no manager.\n");
        return -1;
    }
    {
        std::lock_guard<std::mutex> guard(posfile_private(mgr)->lock);
        posfile_private(mgr)->success_sent = true;
        posfile_private(mgr)->success_file = static_cast<uint8_t>(file_number);
    }
    return send_request(mgr, REQ_COMPLETE, static_cast<uint8_t>(file_number));
}

TAVRIN_API int posfile_file_remove(posfile_manager_t *mgr, int file_number)
{
    if (!mgr || !valid_number(file_number)) {
        printf("Error: posfile_file_remove: %s.\n",
               mgr ? "file number outside 1 to 14" : "no manager");
        return -1;
    }
    return send_request(mgr, REQ_REMOVE, static_cast<uint8_t>(file_number));
}

TAVRIN_API int posfile_file_remove_all(posfile_manager_t *mgr)
{
    if (!mgr) {
        printf("Error: posfile_file_remove_all: no manager.\n");
        return -1;
    }
    return send_request(mgr, REQ_REMOVE_ALL, 0);
}

/*
 * Bytes received. The caller polls this while a download runs, so it also
 * watches offset downloads: when no record has come for the stall interval,
 * the camera is asked again for what is missing (the last records were lost
 * and nothing follows them to reveal the gap), or, once everything has come
 * and the completion was sent, for its end marker again.
 */
TAVRIN_API uint32_t posfile_process(posfile_manager_t *mgr)
{
    if (!mgr)
        return 0;
    PosManager *pm = posfile_private(mgr);
    std::lock_guard<std::mutex> guard(pm->lock);
    const uint32_t received = posfile_load(mgr->bytes_received);
    if (!repairable(pm))
        return received;
    const auto now = std::chrono::steady_clock::now();
    if (pm->q_frames != pm->watched_frames) {
        pm->watched_frames = pm->q_frames;
        pm->watched_since = now;
        return received;
    }
    const uint32_t expected = posfile_load(mgr->expected_size);
    if (expected > 0 && received < expected) {
        if (now - pm->watched_since < pm->stall_interval)
            return received;
        pm->watched_since = now;
        printf("posfile: file %u silent at %u of %u bytes, asking for the rest.\n",
               posfile_load(mgr->current_file), received, expected);
        request_rest(pm);
    } else if (pm->success_sent && posfile_load(mgr->end_marker_flag) == 1) {
        /*
         * The camera counts every completion it hears as a download: ask again
         * only after a longer silence, so that a slow answer is not counted twice.
         */
        if (now - pm->watched_since < POSFILE_COMPLETE_RESEND_FACTOR * pm->stall_interval)
            return received;
        pm->watched_since = now;
        send_request(mgr, REQ_COMPLETE, pm->success_file);
    }
    return received;
}

} // extern "C"
