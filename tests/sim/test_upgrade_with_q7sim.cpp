/*
 * Firmware upgrades by orvex-cli against the simulated camera's loader with
 * every fault of the radio, and the simulated loader itself: it must accept
 * only a complete image with the announced length and CRC, so that it can
 * judge the upgrade.
 */
#include "exchange_table.h"
#include "sim_loader.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
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

/* The exchange's time-out for the rows that stall, and a margin for starting programs. */
constexpr qint64 stallMs = 2000;
constexpr qint64 marginMs = 10000;

TEST(ExchangeUnderFaults, FirmwareUpgrade)
{
    /* Six blocks, the last one of 50 bytes. */
    const Bytes image = firmware(1050, 1);
    QTemporaryDir source;
    const QString file = source.filePath(QStringLiteral("firmware.bin"));
    std::ofstream(file.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char *>(image.data()),
               static_cast<std::streamsize>(image.size()));
    const QStringList stall = {"--timeout", QString::number(stallMs / 1000)};
    runExchange(
        {{"upgrade", file, "--yes"}, {"--loader-image", "{dir}/received.bin"}, stallMs + marginMs},
        radioFaults({
            /* A loader that takes the announce and acknowledges nothing, or stops half-way. */
            {{"--loader-stall-at", "0"}, "the upgrade stopped progressing", stall},
            {{"--loader-stall-at", "600"}, "the upgrade stopped progressing", stall},
        }),
        [&](const FaultRow &row, const CliRun &run, const CliRun &, const QString &dir) {
            /* The loader keeps only a whole image with the announced length and CRC. */
            const std::string received = dir.toStdString() + "/received.bin";
            if (row.failure) {
                EXPECT_FALSE(fs::exists(received));
                return;
            }
            std::ifstream in(received, std::ios::binary);
            EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), image);
            EXPECT_TRUE(run.err.contains(QStringLiteral("upgrade: 100%"))) << run.err.toStdString();
        });
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
