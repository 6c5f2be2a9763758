#include "rvbuffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

struct Ring {
    explicit Ring(uint32_t capacity) : rb(rvbuffer_alloc(capacity)) {}
    ~Ring() { rvbuffer_free(rb); }
    rvbuffer *rb;
};

std::vector<uint8_t> drain(rvbuffer *rb)
{
    std::vector<uint8_t> out(rvbuffer_stored(rb));
    EXPECT_EQ(rvbuffer_peek(rb, out.data(), static_cast<uint32_t>(out.size())), out.size());
    rvbuffer_skip(rb, static_cast<uint32_t>(out.size()));
    return out;
}

std::vector<uint8_t> sequence(uint8_t first, size_t n)
{
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(RingBuffer, AllocRefusesZeroCapacityAndFreeRefusesNull)
{
    EXPECT_EQ(rvbuffer_alloc(0), nullptr);
    EXPECT_EQ(rvbuffer_free(nullptr), -1);
}

TEST(RingBuffer, OverflowKeepsTheNewestCapacityMinusOneBytes)
{
    Ring ring(8);
    const auto first = sequence(1, 4);
    ASSERT_EQ(rvbuffer_put(ring.rb, first.data(), 4), 4u);
    const auto second = sequence(10, 5);
    rvbuffer_put(ring.rb, second.data(), 5);
    EXPECT_EQ(rvbuffer_stored(ring.rb), 7u);
    EXPECT_EQ(rvbuffer_space(ring.rb), 0u);
    EXPECT_EQ(drain(ring.rb), (std::vector<uint8_t>{3, 4, 10, 11, 12, 13, 14}));
}

TEST(RingBuffer, InputLargerThanCapacityKeepsItsTail)
{
    Ring ring(8);
    const auto bytes = sequence(0, 20);
    rvbuffer_put(ring.rb, bytes.data(), 20);
    EXPECT_EQ(drain(ring.rb), sequence(13, 7));
}

TEST(RingBuffer, PeekAndSkipOnEmptyDoNothing)
{
    Ring ring(8);
    uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(rvbuffer_peek(ring.rb, out, 4), 0u);
    EXPECT_EQ(out[0], 0xAA);
    rvbuffer_skip(ring.rb, 3);
    EXPECT_EQ(rvbuffer_stored(ring.rb), 0u);
    const auto bytes = sequence(1, 3);
    rvbuffer_put(ring.rb, bytes.data(), 3);
    EXPECT_EQ(drain(ring.rb), bytes);
}

TEST(RingBuffer, SkipConsumesAtMostWhatIsStored)
{
    Ring ring(8);
    const auto bytes = sequence(1, 3);
    rvbuffer_put(ring.rb, bytes.data(), 3);
    rvbuffer_skip(ring.rb, 100);
    EXPECT_EQ(rvbuffer_stored(ring.rb), 0u);
    EXPECT_EQ(rvbuffer_space(ring.rb), 7u);
}

/* Every start offset and every length, with and without overflow, against a plain model. */
TEST(RingBuffer, WrapsAroundAtEveryOffset)
{
    const uint32_t capacity = 8;
    for (uint32_t offset = 0; offset < capacity; ++offset) {
        for (uint32_t held = 0; held < capacity; ++held) {
            for (uint32_t n = 0; n <= capacity + 2; ++n) {
                Ring ring(capacity);
                /* Move both indices to `offset`. */
                const auto pad = sequence(200, offset);
                rvbuffer_put(ring.rb, pad.data(), offset);
                rvbuffer_skip(ring.rb, offset);

                std::vector<uint8_t> model = sequence(100, held);
                rvbuffer_put(ring.rb, model.data(), held);
                const auto more = sequence(1, n);
                rvbuffer_put(ring.rb, more.data(), n);
                model.insert(model.end(), more.begin(), more.end());
                if (model.size() > capacity - 1)
                    model.erase(model.begin(), model.end() - (capacity - 1));

                SCOPED_TRACE(testing::Message()
                             << "offset " << offset << " held " << held << " n " << n);
                ASSERT_EQ(rvbuffer_stored(ring.rb), model.size());
                ASSERT_EQ(rvbuffer_space(ring.rb), capacity - 1 - model.size());
                std::vector<uint8_t> peeked(model.size());
                ASSERT_EQ(rvbuffer_peek(ring.rb, peeked.data(), capacity), model.size());
                ASSERT_EQ(peeked, model);
                if (!model.empty()) {
                    rvbuffer_skip(ring.rb, 1);
                    model.erase(model.begin());
                    ASSERT_EQ(drain(ring.rb), model);
                }
            }
        }
    }
}

} // namespace
