#include "sim_faults.h"

namespace q7sim {

FaultInjector::FaultInjector(const FaultOptions &options, uint32_t seed)
    : options_(options), random_(seed)
{
}

bool FaultInjector::chance(double probability)
{
    return probability > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < probability;
}

std::vector<Bytes> FaultInjector::apply(Bytes datagram)
{
    std::vector<Bytes> out;
    if (chance(options_.loss))
        return out;
    if (chance(options_.corrupt))
        datagram.back() ^= 0x5A;
    if (chance(options_.garbage)) {
        /* Bytes that can never start a frame: no sync byte among them. */
        const int count = std::uniform_int_distribution<int>(1, 24)(random_);
        Bytes noise;
        for (int i = 0; i < count; ++i) {
            auto byte = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(random_));
            noise.push_back(byte == kSync0 ? 0x00 : byte);
        }
        datagram.insert(datagram.begin(), noise.begin(), noise.end());
    }
    const int copies = chance(options_.duplicate) ? 2 : 1;
    if (!held_ && chance(options_.reorder)) {
        held_ = datagram;
        return out;
    }
    for (int i = 0; i < copies; ++i)
        out.push_back(datagram);
    if (held_) {
        out.push_back(std::move(*held_));
        held_.reset();
    }
    return out;
}

} // namespace q7sim
