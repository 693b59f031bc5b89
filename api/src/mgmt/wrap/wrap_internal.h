// What the wrap operations share: the mechanism table and the host-buffer
// wrap worker that key export, unwrap and import call.
#ifndef QEL2_MGMT_WRAP_WRAP_INTERNAL_H
#define QEL2_MGMT_WRAP_WRAP_INTERNAL_H

#include <cstdint>

#include "qel2_wrap.h"

namespace qel2::wrap {

// One row of the wrap mechanism table.
struct MechInfo {
  uint32_t mech;
  uint32_t iv_len;
  uint64_t initial_value;
};
// The row of a mechanism; a row of IV length 0 and value 0 for numbers not
// in the table.
MechInfo mech_info(uint32_t mech);

// The host-buffer wrap (flag 1) or unwrap (flag 0) with any mechanism:
// length rules, key capability check, host padding for 4242, the request.
Uint32 aes_wrap_unwrap_pad(Uint32 session, Uint64 key, const Uint8 *data, Uint32 data_len,
                           Uint64 iv, Uint8 *result, Uint32 *result_len, Uint8 flag,
                           Uint32 *request_id, Uint32 mech);

// The 8 bytes at iv as a 64-bit value, first byte first.
uint64_t iv_value(const Uint8 *iv);

}  // namespace qel2::wrap

#endif
