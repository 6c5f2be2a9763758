/*
 * Frames of the link: builders, checksum, extraction from the ring buffer and
 * dispatch to registered processors. No socket code lives here, so the
 * decoder can be fed bytes directly.
 */
#ifndef TAVRIN_RVTELE_FRAME_H
#define TAVRIN_RVTELE_FRAME_H

#include "rvbuffer.h"
#include "tavrin/tavrin.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

/* Key kinds: command frames match byte 3, addressed frames byte 7. */
constexpr uint8_t RVTELE_KIND_COMMAND = 1;
constexpr uint8_t RVTELE_KIND_ADDRESSED = 2;

/* Size of the receive thread's buffer, and so of the longest frame cut out. */
constexpr uint32_t RVTELE_FRAME_BUFFER = 1024;

/* The 8-bit two's complement of the sum of bytes [0, n). */
uint8_t rvtele_checksum(const uint8_t *bytes, uint32_t n);

/* Write sync bytes and the length byte of a frame of `length` bytes. */
void rvtele_command_frame_init(uint8_t *frame, uint8_t length);
/* Write the checksum into the last byte; the length is read from byte 2. */
void rvtele_frame_seal(uint8_t *frame);
/* Write sync, length = payload + 10 and the two ids (little-endian). */
void rvtele_addressed_frame_init(uint8_t *frame, uint32_t payload_len, uint16_t src_id,
                                 uint16_t dst_id);

/* The hello frame: a command frame with an empty content. */
void rvtele_hello_frame(uint8_t frame[RVTELE_COMMAND_FRAME_LEN]);

/*
 * Cut at most one frame out of the ring into out (capacity cap). Returns the
 * frame length; -1 when the ring holds no complete frame (a partial frame
 * stays in the ring); -2 when the frame would not fit into out. Bytes that
 * cannot start a frame are dropped; a frame with a bad checksum costs its two
 * sync bytes and a message, and the search resumes inside it.
 */
int rvtele_frame_extract(rvbuffer *rb, uint8_t *out, uint32_t cap);

/*
 * Frame processors of one link, newest first. Registration, removal and
 * dispatch are serialised by one lock held while callbacks run, so that once
 * removal returns its callback can no longer be running.
 */
class ProcessorTable {
public:
    ProcessorTable() = default;
    ~ProcessorTable();
    ProcessorTable(const ProcessorTable &) = delete;
    ProcessorTable &operator=(const ProcessorTable &) = delete;

    /* 0; -1 for no callback, no memory or a call from inside a callback. */
    int add(uint8_t key, uint8_t kind, rvtele_processer_fn callback, void *context);
    /* Number removed; -1 when the table is empty or called from a callback. */
    int remove(uint8_t key, uint8_t kind);
    /* 0 when a processor handled the frame, -1 when none did. */
    int dispatch(const uint8_t *frame, int length);
    int count() const;

private:
    struct Node {
        rvtele_processer_fn callback;
        void *context;
        uint8_t key;
        uint8_t kind;
        Node *next;
    };

    bool called_from_callback() const;

    mutable std::mutex lock_;
    Node *head_ = nullptr;
    int count_ = 0;
    std::atomic<std::thread::id> dispatching_{};
};

#endif
