/* Byte ring buffer between the transport and the frame extractor. */
#ifndef TAVRIN_RVBUFFER_H
#define TAVRIN_RVBUFFER_H

#include <cstdint>

/*
 * One byte is always kept free, so a buffer of capacity c stores at most
 * c - 1 bytes; equal indices mean empty. Touched by one thread only.
 */
struct rvbuffer {
    uint8_t *data;
    uint32_t capacity;
    uint32_t read;
    uint32_t write;
};

/* New empty buffer; NULL for capacity 0 or no memory. */
rvbuffer *rvbuffer_alloc(uint32_t capacity);
/* 0; -1 for NULL. */
int rvbuffer_free(rvbuffer *rb);

uint32_t rvbuffer_stored(const rvbuffer *rb);
uint32_t rvbuffer_space(const rvbuffer *rb);

/*
 * Copy n bytes in. When they do not fit, the oldest bytes are dropped and the
 * buffer ends full with the newest capacity - 1 bytes. Returns the number of
 * source bytes copied in.
 */
uint32_t rvbuffer_put(rvbuffer *rb, const void *src, uint32_t n);
/* Copy min(n, stored) bytes out without consuming them; returns the count. */
uint32_t rvbuffer_peek(const rvbuffer *rb, void *dst, uint32_t n);
/* Consume min(n, stored) bytes. */
void rvbuffer_skip(rvbuffer *rb, uint32_t n);

#endif
