// Requests whose command is the session header alone (StdSessionCommand).
#ifndef QEL2_MGMT_ADMIN_HEADER_COMMAND_H
#define QEL2_MGMT_ADMIN_HEADER_COMMAND_H

#include <cstdint>

#include "qel2_defs.h"

namespace qel2::mgmt {

// Sends the 20-byte header of the (masked) session, the answer into resp;
// returns the three-layer result.
Uint32 header_command(uint16_t opcode, Uint32 masked_handle, void *resp, uint32_t resp_len);

}  // namespace qel2::mgmt

#endif
