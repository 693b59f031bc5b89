// Information records other topics answer with too.
#pragma once

#include <cstdint>
#include <vector>

#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

// The 248-byte PartitionInfo record of a partition, big-endian.
std::vector<uint8_t> partition_info(HsmState &, const Partition &);

}  // namespace hsmsim::hsm
