/* The camera handle against the simulated camera, over real UDP on loopback. */
#include "record_fields.h"
#include "sim_process.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

/* Poll `condition` until it holds or `limit` has passed. */
template <typename Condition> bool eventually(Condition condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

/* q7sim with a link and a camera handle connected to it, as the program connects. */
class Connected {
public:
    explicit Connected(std::vector<std::string> args)
        : sim([&] {
              args.insert(args.end(), {"--rate", "20"});
              return args;
          }())
    {
        rvtele_module_init();
        link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", sim.port(), TAVRIN_RING_CAPACITY);
        cam = q7x_alloc(link);
        started = sim.running() && cam && rvtele_start(link) == 0;
    }
    ~Connected()
    {
        rvtele_free(link);
        q7x_free(cam);
        rvtele_module_exit();
    }

    /* Started, and a status frame is in, so that counts and mask hold the camera's state. */
    bool reporting() const
    {
        return started && eventually([&] { return q7x_get_index(cam) >= 3; }, 5s);
    }

    /* Ask for the identity every half second, as the program does, until it comes. */
    bool identify()
    {
        for (int attempt = 0; attempt < 10; ++attempt) {
            q7x_get_version(cam);
            if (eventually([&] { return get(cam->version_major) != 0; }, 500ms))
                return true;
        }
        return false;
    }

    SimProcess sim;
    rvtele_t *link = nullptr;
    q7x_t *cam = nullptr;
    bool started = false;
};

TEST(CameraWithSimulator, ReportsItsStateAndIdentityOnRequest)
{
    Connected c({"--serial", "Q7X416120000042", "--firmware", "4.41", "--release-date",
                 "2021-05-06", "--satellites", "9"});
    ASSERT_TRUE(c.reporting()) << c.sim.error();
    const uint32_t seen = q7x_get_index(c.cam);
    EXPECT_TRUE(eventually([&] { return q7x_get_index(c.cam) >= seen + 6; }, 5s));
    EXPECT_EQ(get(c.cam->version_major), 0) << "the camera does not identify itself unasked";

    ASSERT_TRUE(c.identify());
    EXPECT_TRUE(eventually([&] { return text(c.cam->release_date) == "2021-05-06"; }, 2s))
        << text(c.cam->release_date);
    EXPECT_EQ(text(c.cam->serial_number), "Q7X416120000042");
    EXPECT_EQ(get(c.cam->version_major), 4);
    EXPECT_EQ(get(c.cam->version_minor), 41);
    EXPECT_EQ(get(c.cam->model_flag), 2);

    EXPECT_EQ(q7x_get_valid(c.cam), 1);
    EXPECT_EQ(q7x_get_mode(c.cam), 1) << "debug mode while the work mode is off";
    EXPECT_EQ(get(c.cam->satellites), 9u);
    EXPECT_NE(get(c.cam->flags) & Q7X_FLAG_GPS_FIX, 0u);
    EXPECT_NEAR(get(c.cam->coordinate1), 116.3, 0.5);
    EXPECT_NEAR(get(c.cam->coordinate2), 39.9, 0.5);
    EXPECT_TRUE(eventually([&] { return get(c.cam->self_check) == 1; }, 5s))
        << "4.41 reports its self-check in the next status frame";
}

TEST(CameraWithSimulator, SentWorkParametersComeBackUnchangedAndSetTheMode)
{
    Connected c({});
    ASSERT_TRUE(c.reporting()) << c.sim.error();

    q7x_work_param_t param;
    auto *bytes = reinterpret_cast<uint8_t *>(&param);
    for (int i = 0; i < 24; ++i)
        bytes[i] = static_cast<uint8_t>(0x31 + 7 * i);
    param.strategy = Q7X_STRATEGY_IO;
    ASSERT_EQ(q7x_set_work_param(c.cam, &param), 36);
    EXPECT_TRUE(eventually(
        [&] {
            q7x_work_param_t reported;
            q7x_get_work_param(&reported, c.cam);
            return std::memcmp(&reported, &param, sizeof param) == 0;
        },
        5s));
    EXPECT_EQ(q7x_get_fixtime(c.cam), param.timed_interval);

    q7x_change_work_mode(c.cam, 1);
    EXPECT_TRUE(eventually([&] { return q7x_get_mode(c.cam) == Q7X_STRATEGY_IO; }, 5s));
    q7x_change_work_mode(c.cam, 0);
    EXPECT_TRUE(eventually([&] { return q7x_get_mode(c.cam) == Q7X_STRATEGY_DEBUG; }, 5s));
}

TEST(CameraWithSimulator, TestExposureRaisesAllFiveCounts)
{
    Connected c({});
    ASSERT_TRUE(c.reporting()) << c.sim.error();
    ASSERT_TRUE(c.identify());
    const uint32_t total = get(c.cam->total_exposures);
    ASSERT_EQ(q7x_shutter(c.cam), 0);
    EXPECT_TRUE(eventually(
        [&] {
            for (auto &count : c.cam->exposure_counts)
                if (get(count) != total + 1)
                    return false;
            return get(c.cam->total_exposures) == total + 1;
        },
        5s));
    EXPECT_EQ(get(c.cam->fault_mask), 0x1F) << "all five in order (firmware 4.41)";
}

class FaultyCameraWithSimulator : public testing::TestWithParam<const char *> {};

TEST_P(FaultyCameraWithSimulator, ShowsInTheFaultMaskWithTheFirmwaresMeaning)
{
    const std::string firmware = GetParam();
    Connected c({"--firmware", firmware, "--faulty", "3,5"});
    ASSERT_TRUE(c.reporting()) << c.sim.error();
    ASSERT_TRUE(c.identify());
    ASSERT_EQ(q7x_shutter(c.cam), 0);
    ASSERT_TRUE(eventually([&] { return get(c.cam->total_exposures) >= 1; }, 5s));

    /* Cameras 3 and 5 took no picture. */
    EXPECT_TRUE(eventually([&] { return get(c.cam->exposure_counts[0]) == 1; }, 5s));
    EXPECT_EQ(get(c.cam->exposure_counts[2]), 0);
    EXPECT_EQ(get(c.cam->exposure_counts[4]), 0);
    if (firmware == "4.40") {
        /* A set bit: the camera lags the total. */
        EXPECT_TRUE(eventually([&] { return get(c.cam->fault_mask) == 0b10100; }, 5s))
            << int(get(c.cam->fault_mask));
    } else {
        /* A set bit: the camera reports itself in order. */
        EXPECT_TRUE(eventually([&] { return get(c.cam->fault_mask) == 0b01011; }, 5s))
            << int(get(c.cam->fault_mask));
        EXPECT_EQ(get(c.cam->self_check), 1);
    }
}

/* 4.5 and 5.0 are later than 4.41 as decimal numbers: the new meaning. */
INSTANTIATE_TEST_SUITE_P(Firmware, FaultyCameraWithSimulator,
                         testing::Values("4.40", "4.41", "4.5", "5.0"));

} // namespace
