#include "rvtele_frame.h"

#include <cstdio>
#include <cstring>
#include <new>

uint8_t rvtele_checksum(const uint8_t *bytes, uint32_t n)
{
    uint8_t sum = 0;
    for (uint32_t i = 0; i < n; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(0x100 - sum);
}

void rvtele_command_frame_init(uint8_t *frame, uint8_t length)
{
    frame[0] = RVTELE_SYNC0;
    frame[1] = RVTELE_SYNC1;
    frame[2] = length;
}

void rvtele_frame_seal(uint8_t *frame)
{
    const uint8_t length = frame[2];
    frame[length - 1] = rvtele_checksum(frame, length - 1u);
}

void rvtele_addressed_frame_init(uint8_t *frame, uint32_t payload_len, uint16_t src_id,
                                 uint16_t dst_id)
{
    frame[0] = RVTELE_SYNC0;
    frame[1] = RVTELE_SYNC1;
    frame[2] = static_cast<uint8_t>(payload_len + 10);
    frame[3] = static_cast<uint8_t>(src_id & 0xFF);
    frame[4] = static_cast<uint8_t>(src_id >> 8);
    frame[5] = static_cast<uint8_t>(dst_id & 0xFF);
    frame[6] = static_cast<uint8_t>(dst_id >> 8);
}

void rvtele_hello_frame(uint8_t frame[RVTELE_COMMAND_FRAME_LEN])
{
    std::memset(frame, 0, RVTELE_COMMAND_FRAME_LEN);
    rvtele_command_frame_init(frame, RVTELE_COMMAND_FRAME_LEN);
    rvtele_frame_seal(frame);
}

int rvtele_frame_extract(rvbuffer *rb, uint8_t *out, uint32_t cap)
{
    uint8_t head[4];
    for (;;) {
        if (rvbuffer_stored(rb) < sizeof head)
            return -1;
        rvbuffer_peek(rb, head, sizeof head);
        if (head[0] != RVTELE_SYNC0 || head[1] != RVTELE_SYNC1) {
            rvbuffer_skip(rb, 1);
            continue;
        }
        const uint32_t length = head[2];
        uint8_t calc;
        uint8_t received;
        if (length < 4) {
            /* Too short to hold content and checksum: never a frame. */
            const uint32_t n = length == 0 ? 1 : length;
            calc = rvtele_checksum(head, n - 1);
            received = head[n - 1];
        } else {
            if (rvbuffer_stored(rb) < length)
                return -1;
            if (length > cap)
                return -2;
            rvbuffer_peek(rb, out, length);
            calc = rvtele_checksum(out, length - 1);
            received = out[length - 1];
            if (calc == received) {
                rvbuffer_skip(rb, length);
                return static_cast<int>(length);
            }
        }
        rvbuffer_skip(rb, 2);
        printf("header Match, checksum didnot match. calc:%x != %x\n", calc, received);
    }
}

ProcessorTable::~ProcessorTable()
{
    while (head_) {
        Node *next = head_->next;
        delete head_;
        head_ = next;
    }
}

bool ProcessorTable::called_from_callback() const
{
    return dispatching_.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

int ProcessorTable::add(uint8_t key, uint8_t kind, rvtele_processer_fn callback, void *context)
{
    if (!callback)
        return -1;
    if (called_from_callback()) {
        printf("Error: register_rvtele_processer: called from a frame processor.\n");
        return -1;
    }
    Node *node = new (std::nothrow) Node{callback, context, key, kind, nullptr};
    if (!node) {
        printf("Error: register_rvtele_processer: Out Of Memory.\n");
        return -1;
    }
    std::lock_guard<std::mutex> guard(lock_);
    node->next = head_;
    head_ = node;
    ++count_;
    return 0;
}

int ProcessorTable::remove(uint8_t key, uint8_t kind)
{
    if (called_from_callback()) {
        printf("Error: unregister_rvtele_processer: called from a frame processor.\n");
        return -1;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (count_ <= 0)
        return -1;
    int removed = 0;
    for (Node **link = &head_; *link;) {
        Node *node = *link;
        if (node->kind == kind && node->key == key) {
            printf("Free processer: %d %p\n", key, reinterpret_cast<void *>(node->callback));
            *link = node->next;
            delete node;
            --count_;
            ++removed;
        } else {
            link = &node->next;
        }
    }
    return removed;
}

int ProcessorTable::dispatch(const uint8_t *frame, int length)
{
    if (length < 4)
        return -1;
    std::lock_guard<std::mutex> guard(lock_);
    dispatching_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    int result = -1;
    for (Node *node = head_; node; node = node->next) {
        const bool addressed = node->kind == RVTELE_KIND_ADDRESSED;
        if (addressed && length < 8)
            continue;
        const uint8_t byte = addressed ? frame[7] : frame[3];
        if (byte != node->key || !node->callback)
            continue;
        if (node->callback(node->context, frame, length) == 0) {
            result = 0;
            break;
        }
    }
    dispatching_.store(std::thread::id{}, std::memory_order_relaxed);
    return result;
}

int ProcessorTable::count() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return count_;
}
