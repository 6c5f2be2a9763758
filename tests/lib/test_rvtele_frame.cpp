#include "rvtele_frame.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes make_frame(uint8_t letter, uint8_t length = 36, uint8_t fill = 0)
{
    Bytes frame(length, fill);
    rvtele_command_frame_init(frame.data(), length);
    if (length > 3)
        frame[3] = letter;
    rvtele_frame_seal(frame.data());
    return frame;
}

/* A ring fed with bytes, from which frames are cut as the receive thread does. */
class Decoder {
public:
    explicit Decoder(uint32_t capacity = 4096) : rb_(rvbuffer_alloc(capacity)) {}
    ~Decoder() { rvbuffer_free(rb_); }

    void feed(const Bytes &bytes)
    {
        rvbuffer_put(rb_, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    std::vector<Bytes> frames()
    {
        std::vector<Bytes> out;
        uint8_t buf[RVTELE_FRAME_BUFFER];
        int n;
        while ((n = rvtele_frame_extract(rb_, buf, sizeof buf)) > 0)
            out.emplace_back(buf, buf + n);
        return out;
    }

    uint32_t stored() const { return rvbuffer_stored(rb_); }
    rvbuffer *ring() { return rb_; }

private:
    rvbuffer *rb_;
};

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST(Frame, HelloIsTheExact36Bytes)
{
    uint8_t hello[RVTELE_COMMAND_FRAME_LEN];
    rvtele_hello_frame(hello);
    Bytes expected(36, 0);
    expected[0] = 0xEB;
    expected[1] = 0x90;
    expected[2] = 0x24;
    expected[35] = 0x61;
    EXPECT_EQ(Bytes(hello, hello + 36), expected);
}

TEST(Frame, AddressedFrameHeader)
{
    uint8_t frame[11] = {};
    rvtele_addressed_frame_init(frame, 1, 0x1234, 0xABCD);
    frame[7] = 0xF1;
    frame[9] = 0x02;
    rvtele_frame_seal(frame);
    EXPECT_EQ(frame[2], 11);
    EXPECT_EQ(frame[3], 0x34);
    EXPECT_EQ(frame[4], 0x12);
    EXPECT_EQ(frame[5], 0xCD);
    EXPECT_EQ(frame[6], 0xAB);
    unsigned sum = 0;
    for (uint8_t b : frame)
        sum += b;
    EXPECT_EQ(sum % 256, 0u);
}

TEST(FrameExtraction, GarbageBeforeAValidFrameYieldsExactlyThatFrame)
{
    Decoder decoder;
    const Bytes frame = make_frame('C', 36, 7);
    decoder.feed(concat({Bytes{1, 2, 3, 0xEB, 0x00, 0x90, 0x55}, frame}));
    const auto frames = decoder.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], frame);
    EXPECT_EQ(decoder.stored(), 0u);
}

TEST(FrameExtraction, FrameSplitOverTwoReadsArrivesWithTheSecondPart)
{
    Decoder decoder;
    const Bytes frame = make_frame('B');
    decoder.feed(Bytes(frame.begin(), frame.begin() + 20));
    EXPECT_TRUE(decoder.frames().empty());
    EXPECT_EQ(decoder.stored(), 20u);
    decoder.feed(Bytes(frame.begin() + 20, frame.end()));
    const auto frames = decoder.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], frame);
}

TEST(FrameExtraction, ShortHeaderWaitsForFourBytes)
{
    Decoder decoder;
    decoder.feed(Bytes{0xEB, 0x90, 36});
    EXPECT_TRUE(decoder.frames().empty());
    EXPECT_EQ(decoder.stored(), 3u);
}

TEST(FrameExtraction, BadChecksumCostsTheSyncPairAndResynchronisesInside)
{
    /* A corrupted 36-byte frame that hides a valid 11-byte frame in its content. */
    Bytes inner(11, 0);
    rvtele_addressed_frame_init(inner.data(), 1, 0, 0);
    inner[7] = 0xF1;
    inner[9] = 0x06;
    rvtele_frame_seal(inner.data());
    Bytes outer = make_frame('C');
    std::copy(inner.begin(), inner.end(), outer.begin() + 6);
    const uint8_t good = outer[35];
    outer[35] = static_cast<uint8_t>(good + 1);

    Decoder decoder;
    decoder.feed(outer);
    testing::internal::CaptureStdout();
    const auto frames = decoder.frames();
    const std::string printed = testing::internal::GetCapturedStdout();

    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], inner);
    char expected[80];
    std::snprintf(expected, sizeof expected, "header Match, checksum didnot match. calc:%x != %x\n",
                  rvtele_checksum(outer.data(), 35), outer[35]);
    EXPECT_EQ(printed, expected);
}

TEST(FrameExtraction, LengthBelowFourIsRejectedLikeABadChecksum)
{
    for (uint8_t length = 0; length < 4; ++length) {
        Decoder decoder;
        const Bytes frame = make_frame('A');
        decoder.feed(concat({Bytes{0xEB, 0x90, length, 0x00}, frame}));
        testing::internal::CaptureStdout();
        const auto frames = decoder.frames();
        const std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_EQ(frames.size(), 1u) << "length " << int(length);
        EXPECT_EQ(frames[0], frame);
        EXPECT_NE(printed.find("header Match, checksum didnot match."), std::string::npos);
    }
}

TEST(FrameExtraction, LongFrameWaitsInTheRingForItsTail)
{
    Decoder decoder;
    const Bytes frame = make_frame('Q', 61, 3);
    decoder.feed(Bytes(frame.begin(), frame.begin() + 40));
    EXPECT_TRUE(decoder.frames().empty());
    EXPECT_EQ(decoder.stored(), 40u);
    decoder.feed(Bytes(frame.begin() + 40, frame.end()));
    const auto frames = decoder.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], frame);
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

    for (int round = 0; round < 40; ++round) {
        Bytes stream;
        std::vector<Bytes> sent;
        std::vector<size_t> fakes;
        for (int i = 0; i < 300; ++i) {
            switch (uniform(0, 3)) {
            case 0: { /* noise */
                const int n = uniform(1, 40);
                for (int k = 0; k < n; ++k) {
                    const auto byte = static_cast<uint8_t>(uniform(0, 255));
                    stream.push_back(byte == 0xEB ? 0x01 : byte);
                }
                break;
            }
            case 1: { /* fake header */
                fakes.push_back(stream.size());
                /* No sync byte after the pair, so no second header hides in the fake. */
                auto not_sync = [&] {
                    const auto byte = static_cast<uint8_t>(uniform(0, 255));
                    return byte == 0xEB ? uint8_t{0x02} : byte;
                };
                stream.insert(stream.end(), {0xEB, 0x90, not_sync(), not_sync()});
                break;
            }
            default: { /* a real frame */
                Bytes frame(static_cast<size_t>(uniform(4, 255)));
                for (auto &byte : frame)
                    byte = static_cast<uint8_t>(uniform(0, 255));
                frame[0] = 0xEB;
                frame[1] = 0x90;
                frame[2] = static_cast<uint8_t>(frame.size());
                rvtele_frame_seal(frame.data());
                sent.push_back(frame);
                stream.insert(stream.end(), frame.begin(), frame.end());
            }
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
        testing::internal::CaptureStdout();
        for (size_t at = 0; at < stream.size();) {
            const size_t n =
                std::min<size_t>(static_cast<size_t>(uniform(1, 1024)), stream.size() - at);
            decoder.feed(Bytes(stream.begin() + static_cast<long>(at),
                               stream.begin() + static_cast<long>(at + n)));
            for (auto &frame : decoder.frames())
                received.push_back(std::move(frame));
            at += n;
        }
        const std::string printed = testing::internal::GetCapturedStdout();

        ASSERT_EQ(received.size(), sent.size()) << "round " << round;
        for (size_t i = 0; i < sent.size(); ++i)
            ASSERT_EQ(received[i], sent[i]) << "round " << round << " frame " << i;
        size_t messages = 0;
        for (size_t at = printed.find("checksum didnot match"); at != std::string::npos;
             at = printed.find("checksum didnot match", at + 1))
            ++messages;
        EXPECT_EQ(messages, fakes.size()) << "round " << round;
    }
}

/* --- dispatch --- */

struct Call {
    int who;
    int length;
};

struct Recorder {
    std::vector<Call> calls;
    int result = 0;
};

struct Tagged {
    Recorder *recorder;
    int who;
    int result;
};

int record(void *context, const uint8_t *, int length)
{
    auto *tag = static_cast<Tagged *>(context);
    tag->recorder->calls.push_back({tag->who, length});
    return tag->result;
}

TEST(FrameDispatch, LaterRegistrationSeesTheFrameFirst)
{
    Recorder recorder;
    Tagged first{&recorder, 1, 0};
    Tagged second{&recorder, 2, 0};
    ProcessorTable table;
    ASSERT_EQ(table.add('C', RVTELE_KIND_COMMAND, record, &first), 0);
    ASSERT_EQ(table.add('C', RVTELE_KIND_COMMAND, record, &second), 0);
    const Bytes frame = make_frame('C');

    EXPECT_EQ(table.dispatch(frame.data(), 36), 0);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].who, 2);

    second.result = 1; /* the later one declines: the earlier one gets it */
    recorder.calls.clear();
    EXPECT_EQ(table.dispatch(frame.data(), 36), 0);
    ASSERT_EQ(recorder.calls.size(), 2u);
    EXPECT_EQ(recorder.calls[0].who, 2);
    EXPECT_EQ(recorder.calls[1].who, 1);

    first.result = 1; /* nobody takes it */
    recorder.calls.clear();
    EXPECT_EQ(table.dispatch(frame.data(), 36), -1);
    EXPECT_EQ(recorder.calls.size(), 2u);
}

TEST(FrameDispatch, KindsMatchTheirOwnByte)
{
    Recorder recorder;
    Tagged command{&recorder, 1, 0};
    Tagged addressed{&recorder, 2, 0};
    ProcessorTable table;
    table.add(0xF1, RVTELE_KIND_COMMAND, record, &command);
    table.add(0xF1, RVTELE_KIND_ADDRESSED, record, &addressed);

    Bytes frame(11, 0);
    rvtele_addressed_frame_init(frame.data(), 1, 0, 0);
    frame[7] = 0xF1;
    rvtele_frame_seal(frame.data());
    EXPECT_EQ(table.dispatch(frame.data(), 11), 0);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].who, 2);

    recorder.calls.clear();
    const Bytes command_frame = make_frame(0xF1);
    EXPECT_EQ(table.dispatch(command_frame.data(), 36), 0);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].who, 1);
}

TEST(FrameDispatch, RemovalCountsAndPrints)
{
    Recorder recorder;
    Tagged tag{&recorder, 1, 0};
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

    const Bytes frame = make_frame('A');
    EXPECT_EQ(table.dispatch(frame.data(), 36), -1);
    EXPECT_TRUE(recorder.calls.empty());
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
    const Bytes frame = make_frame('C');
    testing::internal::CaptureStdout();
    EXPECT_EQ(table.dispatch(frame.data(), 36), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(self.add_result, -1);
    EXPECT_EQ(self.remove_result, -1);
    EXPECT_EQ(table.count(), 1);
}

} // namespace
