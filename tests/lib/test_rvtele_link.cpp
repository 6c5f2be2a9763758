#include "fixtures.h"
#include "rvtele_frame.h"
#include "rvtele_internal.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/* Receive threads of this process: they carry the name Tele_Recv. */
int receive_threads()
{
    int count = 0;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        count += std::getline(comm, name) && name == "Tele_Recv";
    }
    return count;
}

/* A command frame with `letter` and `tag` in bytes 3 and 4, or an addressed one with `msg_id`. */
std::vector<uint8_t> command_frame(uint8_t letter, uint8_t tag)
{
    std::vector<uint8_t> frame(36, 0);
    rvtele_command_frame_init(frame.data(), 36);
    frame[3] = letter;
    frame[4] = tag;
    rvtele_frame_seal(frame.data());
    return frame;
}

std::vector<uint8_t> addressed_frame(uint8_t msg_id)
{
    std::vector<uint8_t> frame(11, 0);
    rvtele_addressed_frame_init(frame.data(), 1, 0, 0);
    frame[7] = msg_id;
    rvtele_frame_seal(frame.data());
    return frame;
}

struct Counter {
    std::atomic<int> frames{0};
    std::atomic<int> last_tag{-1};
};

int count_frame(void *context, const uint8_t *frame, int)
{
    auto *counter = static_cast<Counter *>(context);
    counter->last_tag.store(frame[4], std::memory_order_relaxed);
    counter->frames.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

/* Polls for up to three seconds until `value` reaches `at_least`. */
bool wait_for(const std::atomic<int> &value, int at_least)
{
    for (int i = 0; i < 1500 && value.load() < at_least; ++i)
        std::this_thread::sleep_for(2ms);
    return value.load() >= at_least;
}

using Link = LinkTest;

TEST_F(Link, StartsGreetingOnceStopsPromptlyAndStartsAgain)
{
    Counter status;
    register_rvtele_processer(link, 'A', count_frame, &status);
    uint8_t hello[RVTELE_COMMAND_FRAME_LEN];
    rvtele_hello_frame(hello);
    ASSERT_EQ(receive_threads(), 0);
    ASSERT_EQ(rvtele_start(link), 0);
    EXPECT_EQ(camera.receive(), std::vector<uint8_t>(hello, hello + 36));
    EXPECT_EQ(link->loader_status, 0u);
    EXPECT_EQ(receive_threads(), 1);
    EXPECT_EQ(rvtele_start(link), 0); /* already started: no second thread */
    EXPECT_EQ(receive_threads(), 1);

    const auto before = Clock::now(); /* nothing ever arrived */
    ASSERT_EQ(rvtele_stop(link), 0);
    EXPECT_LT(Clock::now() - before, 1s);
    EXPECT_EQ(receive_threads(), 0);
    EXPECT_EQ(rvtele_stop(link), 0); /* harmless twice */

    ASSERT_EQ(rvtele_start(link), 0);
    EXPECT_FALSE(camera.receive().empty()); /* greeted again, from a new socket */
    camera.send(command_frame('A', 9));
    EXPECT_TRUE(wait_for(status.frames, 1));
    EXPECT_EQ(status.last_tag.load(), 9);
}

TEST_F(Link, FramesFromTheCameraReachTheirProcessors)
{
    Counter status;
    Counter loader;
    ASSERT_EQ(register_rvtele_processer(link, 'C', count_frame, &status), 0);
    ASSERT_EQ(register_rvtele_processer_v2(link, 0xF1, count_frame, &loader), 0);
    ASSERT_EQ(rvtele_start(link), 0);
    camera.receive();

    /* One datagram with two frames and garbage between, then one frame in two datagrams. */
    std::vector<uint8_t> datagram = command_frame('C', 1);
    datagram.insert(datagram.end(), {0x00, 0xEB, 0x11});
    const auto addressed = addressed_frame(0xF1);
    datagram.insert(datagram.end(), addressed.begin(), addressed.end());
    camera.send(datagram);
    const auto split = command_frame('C', 2);
    camera.send(std::vector<uint8_t>(split.begin(), split.begin() + 10));
    camera.send(std::vector<uint8_t>(split.begin() + 10, split.end()));

    EXPECT_TRUE(wait_for(status.frames, 2));
    EXPECT_TRUE(wait_for(loader.frames, 1));
    EXPECT_EQ(status.last_tag.load(), 2);
}

TEST_F(Link, ProcessorsComeAndGoWhileFramesFlow)
{
    Counter counter;
    ASSERT_EQ(rvtele_start(link), 0);
    camera.receive();
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        const auto frame = addressed_frame(0x33);
        while (sending.load()) {
            camera.send(frame);
            std::this_thread::sleep_for(100us);
        }
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(register_rvtele_processer_v2(link, 0x33, count_frame, &counter), 0);
        std::this_thread::sleep_for(1ms);
        ASSERT_EQ(unregister_rvtele_processer_v2(link, 0x33), 1);
    }
    /* Once removal has returned, the callback never runs again. */
    const int seen = counter.frames.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(counter.frames.load(), seen);
    sending.store(false);
    sender.join();
    EXPECT_GT(seen, 0);
}

TEST_F(Link, RecordOutlivesFreeWhileAHolderRemains)
{
    rvtele_ref(link); /* as a camera handle does */
    Counter counter;
    register_rvtele_processer(link, 'A', count_frame, &counter);
    EXPECT_EQ(rvtele_start(link), 0);
    EXPECT_EQ(rvtele_free(link), 0);
    EXPECT_EQ(link->comm, nullptr);
    EXPECT_EQ(rvtele_free(link), -1); /* a second free is refused while the record lives */
    EXPECT_EQ(rvtele_start(link), -1);
    EXPECT_EQ(unregister_rvtele_processer(link, 'A'), 1);
    EXPECT_EQ(rvtele_send(link, reinterpret_cast<const uint8_t *>("x"), 1), -1);
    rvtele_unref(link); /* the last holder releases the record */
    link = nullptr;
}

TEST_F(Link, MissingHandlesCallbacksAndUnusableTransportsAreRefused)
{
    const auto *x = reinterpret_cast<const uint8_t *>("x");
    for (int refused : {rvtele_free(nullptr), rvtele_start(nullptr), rvtele_stop(nullptr),
                        register_rvtele_processer_v2(nullptr, 1, count_frame, nullptr),
                        unregister_rvtele_processer_v2(nullptr, 1), rvtele_send(nullptr, x, 1),
                        register_rvtele_processer_v2(link, 1, nullptr, nullptr),
                        unregister_rvtele_processer_v2(link, 1) /* none registered */,
                        rvtele_send(link, nullptr, 1)})
        EXPECT_EQ(refused, -1);
    EXPECT_EQ(rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 9, 0), nullptr);
    EXPECT_EQ(rvtele_alloc(0x41, "127.0.0.1", 9, 64), nullptr);
    rvtele_t *bad = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "not-an-address", 8899, 64);
    EXPECT_EQ(rvtele_start(bad), -1);
    EXPECT_EQ(rvtele_stop(bad), 0);
    EXPECT_EQ(rvtele_free(bad), 0);
    const std::string text = printed();
    EXPECT_NE(text.find("Error: rvtele_alloc alloc rvcomm error. magic_code:0x41\n"),
              std::string::npos);
    EXPECT_NE(text.find("RV-Tele-Start Open Comm Error.\n"), std::string::npos);
}

struct StopFromCallback {
    rvtele_t *link;
    std::atomic<int> result{1};
};

int stop_own_link(void *context, const uint8_t *, int)
{
    auto *self = static_cast<StopFromCallback *>(context);
    self->result.store(rvtele_stop(self->link));
    return 0;
}

TEST_F(Link, StopFromAProcessorIsRefusedInsteadOfDeadlocking)
{
    StopFromCallback self{link};
    register_rvtele_processer(link, 'C', stop_own_link, &self);
    ASSERT_EQ(rvtele_start(link), 0);
    camera.receive();
    camera.send(command_frame('C', 0));
    for (int i = 0; i < 1500 && self.result.load() == 1; ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(self.result.load(), -1);
}

} // namespace
