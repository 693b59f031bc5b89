#include "mgmt/admin/header_command.h"

#include "request/mgmt_request.h"

namespace qel2::mgmt {

Uint32 header_command(uint16_t opcode, Uint32 masked_handle, void *resp, uint32_t resp_len) {
  CommandRecord<sizeof(StdSessionCommand)> cmd;
  put_session_header(cmd.w, masked_handle);
  MgmtRequest rq(opcode, masked_handle);
  rq.command(cmd).out(resp, resp_len);
  rq.send();
  return rq.result();
}

}  // namespace qel2::mgmt
