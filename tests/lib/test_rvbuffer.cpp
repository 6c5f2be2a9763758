#include "rvbuffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

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

/*
 * Every start offset, every fill and every length, with and without overflow,
 * against a plain model that keeps the newest capacity - 1 bytes.
 */
TEST(RingBuffer, WrapsAroundAtEveryOffset)
{
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

                std::vector<uint8_t> model = sequence(100, held);
                rvbuffer_put(rb, model.data(), held);
                const auto more = sequence(1, n);
                ASSERT_EQ(rvbuffer_put(rb, more.data(), n), std::min(n, capacity - 1));
                model.insert(model.end(), more.begin(), more.end());
                if (model.size() > capacity - 1)
                    model.erase(model.begin(), model.end() - (capacity - 1));

                ASSERT_EQ(rvbuffer_stored(rb), model.size());
                ASSERT_EQ(rvbuffer_space(rb), capacity - 1 - model.size());
                std::vector<uint8_t> peeked(capacity, 0xAA);
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

} // namespace
