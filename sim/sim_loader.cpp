#include "sim_loader.h"

#include <cstring>

namespace q7sim {

namespace {

enum LoaderCommand : uint8_t {
    kGotoLoader = 0x02,
    kLoaderReady = 0x01,
};

constexpr uint8_t kLoaderStatusReady = 1;

} // namespace

Bytes Loader::reply(const Bytes &payload) const
{
    return addressed_frame(0, 0, kLoaderMessageId, payload);
}

std::vector<Bytes> Loader::on_frame(const Bytes &frame)
{
    if (frame.size() < 11 || frame[7] != kLoaderMessageId)
        return {};
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
    default:
        return {};
    }
}

} // namespace q7sim
