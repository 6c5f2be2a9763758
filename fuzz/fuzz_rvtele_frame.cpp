/*
 * The link's receive path: bytes as they arrive from the camera are cut into frames
 * (rvtele_frame_extract) and dispatched to the processors a connected program has
 * registered: the camera handle, the POS transfer manager with a download open, and the
 * firmware upgrader.
 *
 * Input: byte 0 sets the size of the datagrams the rest is delivered in (1 to 1021 bytes);
 * byte 1 sets up the download: bit 0 a plain one ('O' records) rather than one of offset-
 * tagged records, bit 1 lets the end marker finish it, bits 2-3 the lens mode, bits 4-7 the
 * expected size in eight-record steps. The rest is the byte stream.
 */
#include "FuzzSupport.h"
#include "posfile_internal.h"
#include "rvtele_internal.h"
#include "tavrin/tavrin.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t LONG_RECORD = 52;

FILE **lensTables()
{
    static FILE *tables[POSFILE_LENSES] = {};
    if (!tables[0])
        for (FILE *&table : tables)
            table = std::fopen("/dev/null", "wb");
    return tables;
}

bool terminated(const char *text, size_t size)
{
    return std::memchr(text, '\0', size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    rvtele_module_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const uint32_t datagram = 1u + data[0] * 4u;
    const uint8_t setup = data[1];

    rvtele_t *tele =
        rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", TAVRIN_CAMERA_PORT, TAVRIN_RING_CAPACITY);
    FUZZ_CHECK(tele != nullptr);
    q7x_t *cam = q7x_alloc(tele);
    posfile_manager_t *pos = posfile_manager_init(tele);
    rvupgrader_t *upgrader = rvupgrader_request(tele, RVUPGRADER_MSG_ID);
    FUZZ_CHECK(cam && pos && upgrader);

    /* The link is never opened: the requests the manager sends go nowhere. */
    pos->end_marker_flag = setup & 2 ? 1 : 0;
    pos->lens_mode = setup >> 2 & 3;
    std::memcpy(pos->lens_tables, lensTables(), sizeof pos->lens_tables);
    const uint32_t expected = (setup >> 4) * 8 * LONG_RECORD;
    if (setup & 1)
        posfile_file_request(pos, 1, "/dev/null");
    else
        posfile_file_request_offset(pos, 1, "/dev/null", expected, LONG_RECORD);
    posfile_set_stall_interval(pos, 0);

    for (size_t at = 2; at < size; at += datagram) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(datagram, size - at));
        rvtele_receive(tele, data + at, n);
        posfile_process(pos);
    }

    FUZZ_CHECK(terminated(cam->serial_number, sizeof cam->serial_number));
    FUZZ_CHECK(terminated(cam->release_date, sizeof cam->release_date));
    FUZZ_CHECK((pos->valid_mask >> POSFILE_MAX_FILES) == 0);
    for (int number = 1; number <= POSFILE_MAX_FILES; ++number) {
        posfile_entry_t entry;
        if (posfile_info_get(pos, number, &entry) == 0)
            FUZZ_CHECK(entry.number == number);
    }
    const int progress = rvupgrader_get_progress(upgrader);
    FUZZ_CHECK(progress >= 0 && progress <= 100);

    rvupgrader_request(nullptr, 0);
    posfile_manager_exit(pos);
    q7x_free(cam);
    rvtele_free(tele);
    return 0;
}
