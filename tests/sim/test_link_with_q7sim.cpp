/* The link against the simulated camera, over real UDP on loopback. */
#include "rvtele_frame.h"
#include "rvtele_internal.h"
#include "sim_process.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

/* Everything the processors saw, checked for validity as it arrives. */
struct Seen {
    std::mutex lock;
    std::vector<std::vector<uint8_t>> frames;
    std::atomic<int> count{0};
    std::atomic<int> invalid{0};
};

int keep_frame(void *context, const uint8_t *frame, int length)
{
    auto *seen = static_cast<Seen *>(context);
    const bool checksum_ok =
        rvtele_checksum(frame, static_cast<uint32_t>(length - 1)) == frame[length - 1];
    const bool status = frame[3] == 'A' || frame[3] == 'B' || frame[3] == 'C';
    if (!checksum_ok || frame[2] != length || (status && length != 36))
        seen->invalid.fetch_add(1);
    std::lock_guard<std::mutex> guard(seen->lock);
    seen->frames.emplace_back(frame, frame + length);
    seen->count.fetch_add(1);
    return 0;
}

bool wait_for(const std::atomic<int> &value, int at_least, std::chrono::milliseconds limit = 5s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (value.load() < at_least) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class SimLink {
public:
    explicit SimLink(const SimProcess &sim)
    {
        testing::internal::CaptureStdout();
        rvtele_module_init();
        link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", sim.port(), TAVRIN_RING_CAPACITY);
        for (uint8_t letter : {'A', 'B', 'C'})
            register_rvtele_processer(link, letter, keep_frame, &status);
        register_rvtele_processer_v2(link, 0xF1, keep_frame, &loader);
        testing::internal::GetCapturedStdout();
    }
    ~SimLink()
    {
        rvtele_free(link);
        rvtele_module_exit();
    }

    rvtele_t *link;
    Seen status;
    Seen loader;
};

void send_goto_loader(rvtele_t *link)
{
    uint8_t frame[11] = {};
    rvtele_addressed_frame_init(frame, 1, 0, 0);
    frame[7] = 0xF1;
    frame[9] = 0x02;
    rvtele_frame_seal(frame);
    ASSERT_EQ(rvtele_send(link, frame, sizeof frame), 11);
}

TEST(LinkWithSimulator, FaultyRadioDeliversOnlyValidFramesAndKeepsRunning)
{
    SimProcess sim({"--rate", "100", "--loss", "0.2", "--duplicate", "0.2", "--reorder", "0.2",
                    "--garbage", "0.3", "--corrupt", "0.2", "--seed", "7"});
    ASSERT_TRUE(sim.running()) << sim.error();
    SimLink simlink(sim);
    testing::internal::CaptureStdout(); /* checksum messages */
    ASSERT_EQ(rvtele_start(simlink.link), 0);

    EXPECT_TRUE(wait_for(simlink.status.count, 150));
    /* Still running: answers keep arriving after the storm. */
    for (int attempt = 0; attempt < 20 && simlink.loader.count.load() == 0; ++attempt) {
        send_goto_loader(simlink.link);
        wait_for(simlink.loader.count, 1, 200ms);
    }
    const int before = simlink.status.count.load();
    EXPECT_TRUE(wait_for(simlink.status.count, before + 30));
    rvtele_stop(simlink.link);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_GE(simlink.loader.count.load(), 1);
    EXPECT_EQ(simlink.status.invalid.load(), 0);
    EXPECT_EQ(simlink.loader.invalid.load(), 0);
    /* Corrupted frames were seen and rejected. */
    EXPECT_NE(printed.find("header Match, checksum didnot match."), std::string::npos);
}

} // namespace
