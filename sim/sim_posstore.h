/*
 * The controller's POS store: numbered POS files of a flight, listed, sent
 * record by record and deleted on the ground program's request.
 */
#ifndef Q7SIM_SIM_POSSTORE_H
#define Q7SIM_SIM_POSSTORE_H

#include "sim_frames.h"
#include "sim_options.h"

namespace q7sim {

class PosStore {
public:
    explicit PosStore(const Options &options);

    /* Whether a command frame's sub-command belongs to the POS store. */
    static bool handles(uint8_t sub_command) { return sub_command >= 0x26 && sub_command <= 0x2F; }

    /* Immediate replies to one POS command frame. */
    std::vector<Bytes> on_command(const Bytes &frame);
    /* Record frames due by `seconds` while a download runs. */
    std::vector<Bytes> pump(double seconds);
    /* True while a download is sending records. */
    bool busy() const { return false; }

private:
    Options options_;
};

} // namespace q7sim

#endif
