// Per-device and per-application state of the SDK: application ids, login
// nonces and the DMA mode. Written at application initialise and shutdown
// (callers do those from one thread) and read without a lock.
#ifndef QEL2_REQUEST_APP_STATE_H
#define QEL2_REQUEST_APP_STATE_H

#include <cstdint>

#include "common/device_index.h"
#include "qel2_records.h"
#include "qel2_transport.h"

// Application id per device for the device-number forms of the API.
extern Uint32 global_application_id[QEL2_MAX_DEVICES];
// Login nonce per device and application index, host order.
extern Uint32 login_nonce[QEL2_MAX_DEVICES][QEL2_MAX_APPLICATIONS];
// DMA mode of the last successful application initialise.
extern DmaMode global_dma_mode;

namespace qel2::mgmt {

inline bool valid_device(int dev_id) { return valid_device_index(dev_id); }
inline uint32_t device_of(uint32_t id) { return id >> QEL2_DEVICE_SHIFT; }
inline uint32_t app_index_of(uint32_t id) {
  return (id >> QEL2_APP_INDEX_SHIFT) & QEL2_APP_INDEX_MASK;
}
inline uint32_t partition_of(uint32_t session) {
  return (session >> QEL2_PARTITION_SHIFT) & QEL2_PARTITION_MASK;
}

// The nonce of the application an application id or session handle names
// (device bits 30-31, application index bits 14-23; always inside the table).
inline uint32_t nonce_for(uint32_t id) { return login_nonce[device_of(id)][app_index_of(id)]; }
inline void store_nonce(uint32_t id, uint32_t nonce) {
  login_nonce[device_of(id)][app_index_of(id)] = nonce;
}

}  // namespace qel2::mgmt

#endif
