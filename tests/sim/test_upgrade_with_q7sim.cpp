/*
 * Firmware upgrades against the simulated camera's loader over real UDP, and
 * the simulated loader itself: it must accept only a complete image with the
 * announced length and CRC, so that it can judge the library.
 */
#include "sim_loader.h"
#include "sim_process.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

Bytes firmware(size_t n, uint32_t seed)
{
    Bytes out(n);
    for (auto &b : out) {
        seed = seed * 1664525 + 1013904223;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

class UpgradeWithSimulator : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/q7sim-upg-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char *name) const { return (dir_ / name).string(); }

    static Bytes read(const std::string &file)
    {
        std::ifstream in(file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    /*
     * Upgrade `image` through q7sim started with `faults`, as the upgrade page
     * does it; returns what the loader wrote once it accepted the image.
     */
    Bytes upgrade(const Bytes &image, const std::vector<std::string> &faults)
    {
        const std::string source = path("firmware.bin");
        std::ofstream(source, std::ios::binary)
            .write(reinterpret_cast<const char *>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        std::vector<std::string> args = {"--loader-image", path("received.bin")};
        args.insert(args.end(), faults.begin(), faults.end());
        SimProcess sim(args);
        EXPECT_TRUE(sim.running()) << sim.error();
        if (!sim.running())
            return {};

        testing::internal::CaptureStdout();
        rvtele_module_init();
        rvtele_t *link =
            rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", sim.port(), TAVRIN_RING_CAPACITY);
        EXPECT_EQ(rvtele_start(link), 0);
        rvupgrader_t *up = rvupgrader_request(link, RVUPGRADER_MSG_ID);
        rvupgrader_prepare_firmware(up, source.c_str(), 0, 0, "0");
        EXPECT_EQ(rvupgrader_start(up), 0);
        rvupgrader_set(up);

        /* Poll as the progress dialog does. */
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (rvupgrader_get_stage(up) != RVUPGRADER_DONE &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);

        stage_ = rvupgrader_get_stage(up);
        progress_ = rvupgrader_get_progress(up);
        finished_ = rvupgrader_get_rev(up);
        loader_status_ =
            std::atomic_ref<uint32_t>(link->loader_status).load(std::memory_order_relaxed);
        rvupgrader_stop(up);
        rvupgrader_request(nullptr, RVUPGRADER_MSG_ID);
        rvtele_free(link);
        rvtele_module_exit();
        testing::internal::GetCapturedStdout();
        return read(path("received.bin"));
    }

    fs::path dir_;
    int stage_ = -1;
    int progress_ = -1;
    int finished_ = -1;
    uint32_t loader_status_ = 0;
};

TEST_F(UpgradeWithSimulator, ImageArrivesWholeAndTheUpgradeCompletes)
{
    const Bytes image = firmware(3000, 1); /* 15 blocks, the last one of 200 bytes */
    const Bytes received = upgrade(image, {});
    EXPECT_EQ(stage_, RVUPGRADER_DONE);
    EXPECT_EQ(progress_, 100);
    EXPECT_EQ(finished_, 1);
    EXPECT_EQ(loader_status_, 1u); /* the loader's "ready" status */
    EXPECT_EQ(received, image);
}

TEST_F(UpgradeWithSimulator, ImageSurvivesALossyLinkThroughResends)
{
    /* A short last block, and answers lost, repeated and held back. */
    const Bytes image = firmware(2345, 2);
    const Bytes received = upgrade(image, {"--loss", "0.2", "--duplicate", "0.2", "--reorder",
                                           "0.2", "--corrupt", "0.05", "--seed", "11"});
    EXPECT_EQ(stage_, RVUPGRADER_DONE);
    EXPECT_EQ(progress_, 100);
    EXPECT_EQ(finished_, 1);
    EXPECT_EQ(received, image);
}

/* The simulated loader on its own: frames in, answers out. */
class SimLoader : public testing::Test {
protected:
    static Bytes frame(const Bytes &payload)
    {
        return q7sim::addressed_frame(0, 0, q7sim::kLoaderMessageId, payload);
    }
    static Bytes announce(uint32_t length, uint16_t crc)
    {
        Bytes payload(19, 0);
        payload[0] = 0x03;
        q7sim::put_le32(payload, 1, length);
        q7sim::put_le32(payload, 5, crc);
        return frame(payload);
    }
    static Bytes block(uint32_t offset, const Bytes &data)
    {
        Bytes payload = {0x04, 0, 0, 0, 0, static_cast<uint8_t>(data.size())};
        q7sim::put_le32(payload, 1, offset);
        payload.insert(payload.end(), data.begin(), data.end());
        const uint16_t crc = q7sim::loader_crc16(data.data(), data.size());
        payload.push_back(static_cast<uint8_t>(crc));
        payload.push_back(static_cast<uint8_t>(crc >> 8));
        return frame(payload);
    }
};

TEST_F(SimLoader, BadImageIsNeverAccepted)
{
    const Bytes image = firmware(150, 4);
    const std::string out = (fs::temp_directory_path() / "q7sim-never-written.bin").string();
    fs::remove(out);
    q7sim::Loader loader(out);

    /* Wrong CRC announced. */
    loader.on_frame(
        announce(150, static_cast<uint16_t>(q7sim::loader_crc16(image.data(), 150) ^ 1)));
    loader.on_frame(block(0, image));
    EXPECT_TRUE(loader.on_frame(frame({0x05})).empty());

    /* Short of the announced length. */
    loader.on_frame(announce(151, q7sim::loader_crc16(image.data(), 150)));
    loader.on_frame(block(0, image));
    EXPECT_TRUE(loader.on_frame(frame({0x05})).empty());

    EXPECT_EQ(loader.images_accepted(), 0);
    EXPECT_FALSE(fs::exists(out));
}

} // namespace
