/* Inside views of the firmware upgrader, for the library's own tests. */
#ifndef TAVRIN_RVUPGRADER_INTERNAL_H
#define TAVRIN_RVUPGRADER_INTERNAL_H

#include "tavrin/tavrin.h"

#include <cstdint>

/*
 * The upgrader's frame processor, as registered on the link: handles one
 * answer of the controller's loader. 0 when handled, -1 to pass it on.
 */
int rvupgrader_process_frame(void *context, const uint8_t *frame, int length);

/* A snapshot of what the upgrader has recorded. */
struct rvupgrader_view {
    uint32_t file_length;
    uint32_t file_crc;
    uint32_t acked_offset;
    uint8_t frame_seen;
    uint8_t answered;
    uint8_t send_failing; /* the worker's latest send failed */
    uint8_t answer[3];    /* loader status, then the two bytes of the latest answer */
    char text8[9];        /* NUL-terminated copies of the loader's texts */
    char text16[17];
    char tag[9];
};

void rvupgrader_get_view(rvupgrader_t *up, rvupgrader_view *out);

#endif
