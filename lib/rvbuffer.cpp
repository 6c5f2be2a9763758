#include "rvbuffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

rvbuffer *rvbuffer_alloc(uint32_t capacity)
{
    if (capacity == 0)
        return nullptr;
    auto *rb = static_cast<rvbuffer *>(std::calloc(1, sizeof(rvbuffer)));
    if (!rb) {
        printf("Error rvbuffer_alloc: Out of Memory.\n");
        return nullptr;
    }
    rb->data = static_cast<uint8_t *>(std::malloc(capacity));
    if (!rb->data) {
        printf("Error rvbuffer_alloc: Out of Memory(%d).\n", static_cast<int>(capacity));
        std::free(rb);
        return nullptr;
    }
    rb->capacity = capacity;
    return rb;
}

int rvbuffer_free(rvbuffer *rb)
{
    if (!rb)
        return -1;
    std::free(rb->data);
    std::free(rb);
    return 0;
}

uint32_t rvbuffer_stored(const rvbuffer *rb)
{
    if (rb->write >= rb->read)
        return rb->write - rb->read;
    return rb->capacity - rb->read + rb->write;
}

uint32_t rvbuffer_space(const rvbuffer *rb)
{
    return rb->capacity - 1 - rvbuffer_stored(rb);
}

uint32_t rvbuffer_put(rvbuffer *rb, const void *src, uint32_t n)
{
    const auto *bytes = static_cast<const uint8_t *>(src);
    const bool overflow = n > rvbuffer_space(rb);
    const uint32_t keep = rb->capacity - 1;
    if (n > keep) {
        /* Only the newest capacity - 1 bytes can survive. */
        bytes += n - keep;
        n = keep;
    }
    if (n == 0)
        return 0;
    const uint32_t first = n < rb->capacity - rb->write ? n : rb->capacity - rb->write;
    std::memcpy(rb->data + rb->write, bytes, first);
    std::memcpy(rb->data, bytes + first, n - first);
    rb->write = (rb->write + n) % rb->capacity;
    if (overflow)
        rb->read = rb->write == rb->capacity - 1 ? 0 : rb->write + 1;
    return n;
}

uint32_t rvbuffer_peek(const rvbuffer *rb, void *dst, uint32_t n)
{
    const uint32_t stored = rvbuffer_stored(rb);
    if (n > stored)
        n = stored;
    if (n == 0)
        return 0;
    auto *out = static_cast<uint8_t *>(dst);
    const uint32_t first = n < rb->capacity - rb->read ? n : rb->capacity - rb->read;
    std::memcpy(out, rb->data + rb->read, first);
    std::memcpy(out + first, rb->data, n - first);
    return n;
}

void rvbuffer_skip(rvbuffer *rb, uint32_t n)
{
    const uint32_t stored = rvbuffer_stored(rb);
    if (n > stored)
        n = stored;
    rb->read = (rb->read + n) % rb->capacity;
}
