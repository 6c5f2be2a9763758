/* The receive ring, and frames: building, cutting them out of the ring, dispatch. */
#include "fixtures.h"
#include "rvbuffer.h"

#include <numeric>
#include <random>

namespace {

Bytes sequence(uint8_t first, size_t n)
{
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

/* Every start offset, fill and length, against a model that keeps the newest capacity - 1 bytes. */
TEST(RingBuffer, WrapsAroundAtEveryOffsetAndRefusesNoCapacity)
{
    EXPECT_EQ(rvbuffer_alloc(0), nullptr);
    EXPECT_EQ(rvbuffer_free(nullptr), -1);
    const uint32_t capacity = 8;
    for (uint32_t offset = 0; offset < capacity; ++offset) {
        for (uint32_t held = 0; held < capacity; ++held) {
            for (uint32_t n = 0; n <= capacity + 2; ++n) {
                SCOPED_TRACE(testing::Message()
                             << "offset " << offset << " held " << held << " n " << n);
                rvbuffer *rb = rvbuffer_alloc(capacity);
                /* Move both indices to `offset`; skipping on empty changes nothing. */
                const auto pad = sequence(200, offset);
                rvbuffer_put(rb, pad.data(), offset);
                rvbuffer_skip(rb, offset);
                rvbuffer_skip(rb, 3);

                Bytes model = sequence(100, held);
                rvbuffer_put(rb, model.data(), held);
                const auto more = sequence(1, n);
                ASSERT_EQ(rvbuffer_put(rb, more.data(), n), std::min(n, capacity - 1));
                model.insert(model.end(), more.begin(), more.end());
                if (model.size() > capacity - 1)
                    model.erase(model.begin(), model.end() - (capacity - 1));

                ASSERT_EQ(rvbuffer_stored(rb), model.size());
                ASSERT_EQ(rvbuffer_space(rb), capacity - 1 - model.size());
                Bytes peeked(capacity, 0xAA);
                ASSERT_EQ(rvbuffer_peek(rb, peeked.data(), capacity), model.size());
                peeked.resize(model.size());
                ASSERT_EQ(peeked, model);
                if (!model.empty()) {
                    rvbuffer_skip(rb, 1);
                    ASSERT_EQ(rvbuffer_peek(rb, peeked.data(), capacity), model.size() - 1);
                    ASSERT_TRUE(std::equal(model.begin() + 1, model.end(), peeked.begin()));
                }
                rvbuffer_skip(rb, 100); /* at most what is stored */
                ASSERT_EQ(rvbuffer_stored(rb), 0u);
                ASSERT_EQ(rvbuffer_space(rb), capacity - 1);
                rvbuffer_free(rb);
            }
        }
    }
}

/* A ring fed with bytes, from which frames are cut as the receive thread does. */
class Decoder {
public:
    Decoder() : rb_(rvbuffer_alloc(4096)) {}
    ~Decoder() { rvbuffer_free(rb_); }

    void feed(const Bytes &bytes) { rvbuffer_put(rb_, bytes.data(), uint32_t(bytes.size())); }
    /* The frames cut out, and in `printed` what the decoder printed meanwhile. */
    std::vector<Bytes> frames(std::string *printed = nullptr)
    {
        std::vector<Bytes> out;
        uint8_t buf[RVTELE_FRAME_BUFFER];
        const std::string text = stdout_of([&] {
            for (int n; (n = rvtele_frame_extract(rb_, buf, sizeof buf)) > 0;)
                out.emplace_back(buf, buf + n);
        });
        if (printed)
            *printed = text;
        return out;
    }
    rvbuffer *ring() { return rb_; }

private:
    rvbuffer *rb_;
};

TEST(Frame, AddressedHeaderIsExact)
{
    const Bytes frame = addressed(0xF1, {0x02}, 0x1234, 0xABCD);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 7),
              (Bytes{0xEB, 0x90, 11, 0x34, 0x12, 0xCD, 0xAB}));
    EXPECT_EQ(std::accumulate(frame.begin(), frame.end(), 0u) % 256, 0u);
}

TEST(FrameExtraction, PartialFrameWaitsForItsTailAndAWholeOneForABufferItFits)
{
    const struct {
        Bytes frame;
        size_t first_read;
    } cases[] = {
        {command('B'), 20},                   /* split over two reads */
        {command('B'), 3},                    /* header shorter than four bytes */
        {command('Q', Bytes(56, 3), 61), 40}, /* a long frame */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.frame.size() << " bytes, " << c.first_read << " first");
        Decoder decoder;
        decoder.feed(Bytes(c.frame.begin(), c.frame.begin() + static_cast<long>(c.first_read)));
        EXPECT_TRUE(decoder.frames().empty());
        EXPECT_EQ(rvbuffer_stored(decoder.ring()), c.first_read);
        decoder.feed(Bytes(c.frame.begin() + static_cast<long>(c.first_read), c.frame.end()));
        uint8_t small[16]; /* too small a buffer: reported, and the frame stays for a larger one */
        EXPECT_EQ(rvtele_frame_extract(decoder.ring(), small, sizeof small), -2);
        EXPECT_EQ(decoder.frames(), std::vector<Bytes>{c.frame});
    }
}

/* The decoder's message for a header whose checksum, over n - 1 bytes, is not bytes[n - 1]. */
std::string mismatch(const uint8_t *bytes, uint32_t n)
{
    char text[80];
    std::snprintf(text, sizeof text, "header Match, checksum didnot match. calc:%x != %x\n",
                  rvtele_checksum(bytes, n - 1), bytes[n - 1]);
    return text;
}

/* Each bad header costs its sync pair and one message; the decoder then finds the next frame. */
TEST(FrameExtraction, GarbageBadChecksumsAndLengthsBelowFourAreSkipped)
{
    const Bytes frame = command('C', Bytes(31, 7));
    /* A corrupted 36-byte frame that hides a valid 11-byte frame in its content. */
    const Bytes inner = addressed(0xF1, {0x06});
    Bytes outer = command('C');
    std::copy(inner.begin(), inner.end(), outer.begin() + 6);
    outer[35] = static_cast<uint8_t>(outer[35] + 1);
    struct Case {
        Bytes garbage; /* before `frame` */
        std::vector<Bytes> frames;
        std::string printed;
    };
    std::vector<Case> cases = {{{1, 2, 3, 0xEB, 0x00, 0x90, 0x55}, {frame}, ""},
                               {outer, {inner, frame}, mismatch(outer.data(), 36)}};
    for (uint8_t length = 0; length < 4; ++length) {
        const Bytes head = {0xEB, 0x90, length, 0x00};
        cases.push_back({head, {frame}, mismatch(head.data(), length ? length : 1)});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases.data());
        Decoder decoder;
        decoder.feed(c.garbage);
        decoder.feed(frame);
        std::string printed;
        EXPECT_EQ(decoder.frames(&printed), c.frames);
        EXPECT_EQ(printed, c.printed);
    }
}

/*
 * Valid frames of every length mixed with garbage: noise without sync bytes, and fake headers whose
 * checksum fails, some claiming a length that reaches into the next real frame. The stream is cut
 * into random reads. Every real frame must come out once, in order, and nothing else.
 */
TEST(FrameExtraction, RandomStreamOfFramesAndGarbage)
{
    std::mt19937 random(20261206);
    auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    /* Any byte but the first sync byte, so that no header hides where none is meant. */
    auto not_sync = [&] {
        const auto byte = static_cast<uint8_t>(uniform(0, 255));
        return byte == 0xEB ? uint8_t{0x02} : byte;
    };

    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        Bytes stream;
        std::vector<Bytes> sent;
        std::vector<size_t> fakes;
        for (int i = 0; i < 300; ++i) {
            const int kind = uniform(0, 3);
            if (kind == 0) { /* noise */
                for (int k = uniform(1, 40); k > 0; --k)
                    stream.push_back(not_sync());
            } else if (kind == 1) { /* fake header */
                fakes.push_back(stream.size());
                stream.insert(stream.end(), {0xEB, 0x90, not_sync(), not_sync()});
            } else { /* a real frame */
                Bytes frame(static_cast<size_t>(uniform(4, 255)));
                for (auto &byte : frame)
                    byte = static_cast<uint8_t>(uniform(0, 255));
                rvtele_command_frame_init(frame.data(), static_cast<uint8_t>(frame.size()));
                rvtele_frame_seal(frame.data());
                sent.push_back(frame);
                stream.insert(stream.end(), frame.begin(), frame.end());
            }
        }
        /* A fake claiming more bytes than the stream has left would wait forever: end cleanly. */
        stream.insert(stream.end(), 255, 0x00);
        /* Fakes that pass their checksum are spoilt, last first so that no fix undoes another. */
        for (auto it = fakes.rbegin(); it != fakes.rend(); ++it) {
            const size_t at = *it;
            const size_t length = stream[at + 2];
            if (length >= 4 && rvtele_checksum(&stream[at], static_cast<uint32_t>(length - 1)) ==
                                   stream[at + length - 1])
                stream[at + 3] = stream[at + 3] == 0x03 ? 0x04 : 0x03;
        }

        Decoder decoder;
        std::vector<Bytes> received;
        size_t messages = 0;
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min<size_t>(uniform(1, 1024), stream.size() - at);
            decoder.feed(Bytes(stream.begin() + static_cast<long>(at),
                               stream.begin() + static_cast<long>(at + n)));
            std::string printed;
            for (auto &frame : decoder.frames(&printed))
                received.push_back(std::move(frame));
            for (size_t p = printed.find("checksum didnot match"); p != std::string::npos;
                 p = printed.find("checksum didnot match", p + 1))
                ++messages;
            at += n;
        }
        ASSERT_EQ(received, sent);
        EXPECT_EQ(messages, fakes.size());
    }
}

/* --- dispatch --- */

/* A processor that records `who` in `calls` and answers `result`. */
struct Tagged {
    std::vector<int> *calls;
    int who;
    int result = 0;
};

int record(void *context, const uint8_t *, int)
{
    auto *tag = static_cast<Tagged *>(context);
    tag->calls->push_back(tag->who);
    return tag->result;
}

TEST(FrameDispatch, NewestSeesTheFrameFirstADeclineFallsThroughAndKindsMatchTheirOwnByte)
{
    std::vector<int> calls;
    Tagged first{&calls, 1}, second{&calls, 2}, by_letter{&calls, 3}, by_address{&calls, 4};
    ProcessorTable table;
    ASSERT_EQ(table.add('C', RVTELE_KIND_COMMAND, record, &first), 0);
    ASSERT_EQ(table.add('C', RVTELE_KIND_COMMAND, record, &second), 0);
    ASSERT_EQ(table.add(0xF1, RVTELE_KIND_COMMAND, record, &by_letter), 0);
    ASSERT_EQ(table.add(0xF1, RVTELE_KIND_ADDRESSED, record, &by_address), 0);
    const struct {
        Bytes frame;
        int length, first_result, second_result, dispatched;
        std::vector<int> calls;
    } cases[] = {
        {command('C'), 36, 0, 0, 0, {2}},
        {command('C'), 36, 0, 1, 0, {2, 1}},  /* the later one declines: the earlier one gets it */
        {command('C'), 36, 1, 1, -1, {2, 1}}, /* nobody takes it */
        {addressed(0xF1), 11, 0, 0, 0, {4}},  /* byte 7 */
        {command(0xF1), 36, 0, 0, 0, {3}},    /* byte 3 */
        /* Seven bytes hold no byte 7: the key lying just beyond them is not read. */
        {addressed(0xF1), 7, 0, 0, -1, {}},
    };
    for (const auto &c : cases) {
        first.result = c.first_result;
        second.result = c.second_result;
        calls.clear();
        EXPECT_EQ(table.dispatch(c.frame.data(), c.length), c.dispatched) << &c - cases;
        EXPECT_EQ(calls, c.calls) << &c - cases;
    }
}

TEST(FrameDispatch, RemovalCountsAndPrints)
{
    std::vector<int> calls;
    Tagged tag{&calls, 1};
    ProcessorTable table;
    EXPECT_EQ(table.remove('A', RVTELE_KIND_COMMAND), -1); /* no processors at all */
    EXPECT_EQ(table.add('A', RVTELE_KIND_COMMAND, nullptr, &tag), -1);
    table.add('A', RVTELE_KIND_COMMAND, record, &tag);
    table.add('A', RVTELE_KIND_COMMAND, record, &tag);
    table.add('A', RVTELE_KIND_ADDRESSED, record, &tag);
    EXPECT_EQ(table.remove('B', RVTELE_KIND_COMMAND), 0);

    stdout_of([&] { EXPECT_EQ(table.remove('A', RVTELE_KIND_COMMAND), 2); });
    EXPECT_EQ(table.count(), 1);
    EXPECT_EQ(table.dispatch(command('A').data(), 36), -1);
    EXPECT_TRUE(calls.empty());
}

struct Reentrant {
    ProcessorTable *table;
    int add_result = 0;
    int remove_result = 0;
};

int reenter(void *context, const uint8_t *, int)
{
    auto *self = static_cast<Reentrant *>(context);
    self->add_result = self->table->add('X', RVTELE_KIND_COMMAND, reenter, context);
    self->remove_result = self->table->remove('C', RVTELE_KIND_COMMAND);
    return 0;
}

TEST(FrameDispatch, ProcessorChangingTheTableFromItsCallbackIsRefusedNotDeadlocked)
{
    ProcessorTable table;
    Reentrant self{&table};
    table.add('C', RVTELE_KIND_COMMAND, reenter, &self);
    stdout_of([&] { EXPECT_EQ(table.dispatch(command('C').data(), 36), 0); });
    EXPECT_EQ(self.add_result, -1);
    EXPECT_EQ(self.remove_result, -1);
    EXPECT_EQ(table.count(), 1);
}

} // namespace
