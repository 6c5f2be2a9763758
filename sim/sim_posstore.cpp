#include "sim_posstore.h"

namespace q7sim {

PosStore::PosStore(const Options &options) : options_(options) {}

std::vector<Bytes> PosStore::on_command(const Bytes &)
{
    return {};
}

std::vector<Bytes> PosStore::pump(double)
{
    return {};
}

} // namespace q7sim
