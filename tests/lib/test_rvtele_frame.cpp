#include "rvtele_frame.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes make_frame(uint8_t letter, uint8_t length = 36, uint8_t fill = 0)
{
    Bytes frame(length, fill);
    rvtele_command_frame_init(frame.data(), length);
    frame[3] = letter;
    rvtele_frame_seal(frame.data());
    return frame;
}

/* An 11-byte addressed frame with message id `msg_id` and sub-command `sub`. */
Bytes addressed(uint8_t msg_id, uint8_t sub = 0)
{
    Bytes frame(11, 0);
    rvtele_addressed_frame_init(frame.data(), 1, 0, 0);
    frame[7] = msg_id;
    frame[9] = sub;
    rvtele_frame_seal(frame.data());
    return frame;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

/* A ring fed with bytes, from which frames are cut as the receive thread does. */
class Decoder {
public:
    Decoder() : rb_(rvbuffer_alloc(4096)) {}
    ~Decoder() { rvbuffer_free(rb_); }

    void feed(const Bytes &bytes)
    {
        rvbuffer_put(rb_, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    /* The frames cut out, and in `printed` what the decoder printed meanwhile. */
    std::vector<Bytes> frames(std::string *printed = nullptr)
    {
        std::vector<Bytes> out;
        uint8_t buf[RVTELE_FRAME_BUFFER];
        int n;
        testing::internal::CaptureStdout();
        while ((n = rvtele_frame_extract(rb_, buf, sizeof buf)) > 0)
            out.emplace_back(buf, buf + n);
        const std::string text = testing::internal::GetCapturedStdout();
        if (printed)
            *printed = text;
        return out;
    }
    uint32_t stored() const { return rvbuffer_stored(rb_); }
    rvbuffer *ring() { return rb_; }

private:
    rvbuffer *rb_;
};

TEST(Frame, HelloAndAddressedHeadersAreExact)
{
    uint8_t hello[RVTELE_COMMAND_FRAME_LEN];
    rvtele_hello_frame(hello);
    Bytes expected(36, 0);
    expected[0] = 0xEB, expected[1] = 0x90, expected[2] = 0x24, expected[35] = 0x61;
    EXPECT_EQ(Bytes(hello, hello + 36), expected);

    uint8_t frame[11] = {};
    rvtele_addressed_frame_init(frame, 1, 0x1234, 0xABCD);
    frame[7] = 0xF1;
    frame[9] = 0x02;
    rvtele_frame_seal(frame);
    EXPECT_EQ(Bytes(frame, frame + 7), (Bytes{0xEB, 0x90, 11, 0x34, 0x12, 0xCD, 0xAB}));
    EXPECT_EQ(std::accumulate(frame, frame + 11, 0u) % 256, 0u);
}

TEST(FrameExtraction, PartialFrameWaitsInTheRingForItsTail)
{
    const struct {
        Bytes frame;
        size_t first_read;
    } cases[] = {
        {make_frame('B'), 20},        /* split over two reads */
        {make_frame('B'), 3},         /* header shorter than four bytes */
        {make_frame('Q', 61, 3), 40}, /* a long frame */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.frame.size() << " bytes, " << c.first_read << " first");
        Decoder decoder;
        decoder.feed(Bytes(c.frame.begin(), c.frame.begin() + static_cast<long>(c.first_read)));
        EXPECT_TRUE(decoder.frames().empty());
        EXPECT_EQ(decoder.stored(), c.first_read);
        decoder.feed(Bytes(c.frame.begin() + static_cast<long>(c.first_read), c.frame.end()));
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
    const Bytes frame = make_frame('C', 36, 7);
    /* A corrupted 36-byte frame that hides a valid 11-byte frame in its content. */
    const Bytes inner = addressed(0xF1, 0x06);
    Bytes outer = make_frame('C');
    std::copy(inner.begin(), inner.end(), outer.begin() + 6);
    outer[35] = static_cast<uint8_t>(outer[35] + 1);
    struct Case {
        Bytes stream, frame;
        std::string printed;
    };
    std::vector<Case> cases = {{concat({Bytes{1, 2, 3, 0xEB, 0x00, 0x90, 0x55}, frame}), frame, ""},
                               {outer, inner, mismatch(outer.data(), 36)}};
    for (uint8_t length = 0; length < 4; ++length) {
        const Bytes head = {0xEB, 0x90, length, 0x00};
        cases.push_back({concat({head, frame}), frame, mismatch(head.data(), length ? length : 1)});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases.data());
        Decoder decoder;
        decoder.feed(c.stream);
        std::string printed;
        EXPECT_EQ(decoder.frames(&printed), std::vector<Bytes>{c.frame});
        EXPECT_EQ(printed, c.printed);
    }
}

TEST(FrameExtraction, FrameLargerThanTheCallersBufferIsReported)
{
    Decoder decoder;
    decoder.feed(make_frame('C'));
    uint8_t small[16];
    EXPECT_EQ(rvtele_frame_extract(decoder.ring(), small, sizeof small), -2);
    EXPECT_EQ(decoder.stored(), 36u);
}

/*
 * Valid frames of every length mixed with garbage: plain noise without sync
 * bytes, and fake headers whose checksum fails, some of them claiming a
 * length that reaches into the next real frame. The stream is cut into random
 * reads. Every real frame must come out once, in order, and nothing else.
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
        /*
         * A fake that happens to pass its checksum over what follows is made to
         * fail; from the last one back, so that no fix undoes a later check.
         */
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

TEST(FrameDispatch, LaterRegistrationSeesTheFrameFirstAndADeclineFallsThrough)
{
    std::vector<int> calls;
    Tagged first{&calls, 1};
    Tagged second{&calls, 2};
    ProcessorTable table;
    ASSERT_EQ(table.add('C', RVTELE_KIND_COMMAND, record, &first), 0);
    ASSERT_EQ(table.add('C', RVTELE_KIND_COMMAND, record, &second), 0);
    const Bytes frame = make_frame('C');
    const struct {
        int first_result, second_result, dispatched;
        std::vector<int> calls;
    } cases[] = {
        {0, 0, 0, {2}},
        {0, 1, 0, {2, 1}},  /* the later one declines: the earlier one gets it */
        {1, 1, -1, {2, 1}}, /* nobody takes it */
    };
    for (const auto &c : cases) {
        first.result = c.first_result;
        second.result = c.second_result;
        calls.clear();
        EXPECT_EQ(table.dispatch(frame.data(), 36), c.dispatched);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST(FrameDispatch, KindsMatchTheirOwnByte)
{
    std::vector<int> calls;
    Tagged command{&calls, 1};
    Tagged by_address{&calls, 2};
    ProcessorTable table;
    table.add(0xF1, RVTELE_KIND_COMMAND, record, &command);
    table.add(0xF1, RVTELE_KIND_ADDRESSED, record, &by_address);
    EXPECT_EQ(table.dispatch(addressed(0xF1).data(), 11), 0);
    EXPECT_EQ(table.dispatch(make_frame(0xF1).data(), 36), 0);
    EXPECT_EQ(calls, (std::vector<int>{2, 1}));
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

    testing::internal::CaptureStdout();
    EXPECT_EQ(table.remove('A', RVTELE_KIND_COMMAND), 2);
    const std::string printed = testing::internal::GetCapturedStdout();
    char line[64];
    std::snprintf(line, sizeof line, "Free processer: %d %p\n", 'A',
                  reinterpret_cast<void *>(record));
    EXPECT_EQ(printed, std::string(line) + line);
    EXPECT_EQ(table.count(), 1);
    EXPECT_EQ(table.dispatch(make_frame('A').data(), 36), -1);
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
    testing::internal::CaptureStdout();
    EXPECT_EQ(table.dispatch(make_frame('C').data(), 36), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(self.add_result, -1);
    EXPECT_EQ(self.remove_result, -1);
    EXPECT_EQ(table.count(), 1);
}

} // namespace
