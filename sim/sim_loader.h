/*
 * The controller's loader, reached with addressed frames of message id 0xF1:
 * it takes a firmware image block by block and checks it.
 */
#ifndef Q7SIM_SIM_LOADER_H
#define Q7SIM_SIM_LOADER_H

#include "sim_frames.h"

namespace q7sim {

constexpr uint8_t kLoaderMessageId = 0xF1;

class Loader {
public:
    /* Replies to one addressed frame for the loader. */
    std::vector<Bytes> on_frame(const Bytes &frame);

    bool active() const { return active_; }

private:
    Bytes reply(const Bytes &payload) const;

    bool active_ = false;
};

} // namespace q7sim

#endif
