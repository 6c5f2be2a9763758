#include "sim_loader.h"

#include <cstdio>
#include <cstring>

namespace q7sim {

namespace {

enum LoaderCommand : uint8_t {
    kLoaderReady = 0x01,
    kGotoLoader = 0x02,
    kAnnounce = 0x03,
    kDataBlock = 0x04,
    kUpgradeOver = 0x05,
    kBlockAck = 0x06,
    kUpgradeComplete = 0x07,
};

constexpr uint8_t kLoaderStatusReady = 1;
constexpr size_t kAnnounceLength = 29;
constexpr size_t kBlockMax = 200;

} // namespace

uint16_t loader_crc16(const uint8_t *data, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

Bytes Loader::reply(const Bytes &payload) const
{
    return addressed_frame(0, 0, kLoaderMessageId, payload);
}

std::vector<Bytes> Loader::on_frame(const Bytes &frame)
{
    if (frame.size() < 11 || frame[7] != kLoaderMessageId)
        return {};
    if (stalled()) {
        if (!stall_reported_)
            fprintf(stderr, "q7sim: loader: stalled after %zu bytes\n", image_.size());
        stall_reported_ = true;
        return {};
    }
    switch (frame[9]) {
    case kGotoLoader: {
        active_ = true;
        /* Status, two answer bytes, an 8-character and a 16-character text. */
        Bytes payload(28, 0);
        payload[0] = kLoaderReady;
        payload[1] = kLoaderStatusReady;
        payload[2] = 1;
        payload[3] = 0;
        std::memcpy(&payload[4], "Q7BOOT01", 8);
        std::memcpy(&payload[12], "Q7-LOADER-V1.0.0", 16);
        return {reply(payload)};
    }
    case kAnnounce:
        return on_announce(frame);
    case kDataBlock:
        return on_block(frame);
    case kUpgradeOver:
        return on_over();
    default:
        fprintf(stderr, "q7sim: loader: unknown sub-command 0x%02x\n", frame[9]);
        return {};
    }
}

std::vector<Bytes> Loader::on_announce(const Bytes &frame)
{
    if (frame.size() != kAnnounceLength) {
        fprintf(stderr, "q7sim: loader: announce of %zu bytes ignored\n", frame.size());
        return {};
    }
    const uint32_t length = get_le32(frame, 10);
    const uint32_t crc = get_le32(frame, 14);
    /* The same image announced again (a restart) goes on from what has arrived. */
    if (!announced_ || length != expected_length_ || crc != expected_crc_) {
        announced_ = true;
        expected_length_ = length;
        expected_crc_ = crc;
        image_.clear();
        judged_ = false;
        good_ = false;
    }
    return {reply({kAnnounce})};
}

std::vector<Bytes> Loader::on_block(const Bytes &frame)
{
    if (!announced_) {
        fprintf(stderr, "q7sim: loader: data block before any announce ignored\n");
        return {};
    }
    const size_t n = frame.size() >= 18 ? frame[14] : 0;
    if (frame.size() < 18 || n > kBlockMax || frame.size() != n + 18) {
        fprintf(stderr, "q7sim: loader: malformed data block of %zu bytes ignored\n", frame.size());
        return {};
    }
    const uint32_t offset = get_le32(frame, 10);
    const uint16_t crc = get_le16(frame, 15 + static_cast<int>(n));
    if (loader_crc16(&frame[15], n) != crc) {
        fprintf(stderr, "q7sim: loader: block at %u fails its CRC\n", offset);
    } else if (offset == image_.size() && n > 0) {
        if (image_.size() + n > expected_length_)
            fprintf(stderr, "q7sim: loader: block at %u runs past the announced %u bytes\n", offset,
                    expected_length_);
        else
            image_.insert(image_.end(), frame.begin() + 15,
                          frame.begin() + 15 + static_cast<long>(n));
    }
    /* Anything else (a repeated block) is acknowledged with what the loader has. */
    Bytes payload(5, 0);
    payload[0] = kBlockAck;
    put_le32(payload, 1, static_cast<uint32_t>(image_.size()));
    return {reply(payload)};
}

std::vector<Bytes> Loader::on_over()
{
    if (!announced_)
        return {};
    if (!judged_) {
        judged_ = true;
        const uint16_t crc = loader_crc16(image_.data(), image_.size());
        if (image_.size() != expected_length_ || crc != expected_crc_) {
            fprintf(stderr,
                    "q7sim: loader: bad image: %zu of %u bytes, CRC 0x%04x, announced 0x%04x\n",
                    image_.size(), expected_length_, crc, expected_crc_);
        } else if (write_image()) {
            good_ = true;
            ++accepted_;
        }
    }
    if (!good_)
        return {};
    return {reply({kUpgradeComplete, 0x01, 0x00})};
}

bool Loader::write_image() const
{
    if (image_path_.empty())
        return true;
    /* Whole or nothing: a reader never sees a partial image. */
    const std::string part = image_path_ + ".part";
    FILE *file = fopen(part.c_str(), "wb");
    bool ok = file && fwrite(image_.data(), 1, image_.size(), file) == image_.size();
    if (file && fclose(file) != 0)
        ok = false;
    if (ok && rename(part.c_str(), image_path_.c_str()) != 0)
        ok = false;
    if (!ok) {
        fprintf(stderr, "q7sim: loader: cannot write the image to %s\n", image_path_.c_str());
        remove(part.c_str());
    }
    return ok;
}

} // namespace q7sim
