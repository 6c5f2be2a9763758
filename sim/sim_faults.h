/* What the simulated WiFi link does to the camera's datagrams. */
#ifndef Q7SIM_SIM_FAULTS_H
#define Q7SIM_SIM_FAULTS_H

#include "sim_frames.h"
#include "sim_options.h"

#include <optional>
#include <random>

namespace q7sim {

class FaultInjector {
public:
    FaultInjector(const FaultOptions &options, uint32_t seed);

    /* The datagrams that actually leave for one datagram the camera sends. */
    std::vector<Bytes> apply(Bytes datagram);

private:
    bool chance(double probability);

    FaultOptions options_;
    std::mt19937 random_;
    std::optional<Bytes> held_; /* a datagram waiting to be sent out of order */
};

} // namespace q7sim

#endif
