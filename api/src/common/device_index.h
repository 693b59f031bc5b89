// The one check of a device index against the device tables' size.
#ifndef QEL2_COMMON_DEVICE_INDEX_H
#define QEL2_COMMON_DEVICE_INDEX_H

#include <cstdint>

#include "qel2_records.h"

namespace qel2 {

// Devices 0 to QEL2_MAX_DEVICES - 1 have rows in the per-device tables.
inline constexpr int64_t kMaxDevices = QEL2_MAX_DEVICES;
inline bool valid_device_index(int64_t dev_id) { return dev_id >= 0 && dev_id < kMaxDevices; }

}  // namespace qel2

#endif
