// Session information, raw (big-endian) and converted to host order.
#include <cstdio>

#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

extern "C" {

QEL2_EXPORT Uint32 Qel2GetSessionInfo2(Uint32 ulSessionHandle,
                                       GetSessionInfoResponse *respGetSessionInfo,
                                       request_type req_type, Uint32 *request_id) {
  if (ulSessionHandle == 0 || ulSessionHandle == 0xFFFFFFFFu) {
    printf("invalid session handle");
    return ERR_INVALID_INPUT;
  }
  if (respGetSessionInfo == nullptr) {
    printf("null respGetSessionInfo pointer");
    return ERR_INVALID_INPUT;
  }
  if (Uint32 r = check_request_id_arg(req_type, request_id)) return r;

  CommandRecord<sizeof(GetSessionInfoCommand)> cmd;
  put_session_header(cmd.w, masked_session(ulSessionHandle));
  MgmtRequest rq(KQ_GET_SESSION_INFO, masked_session(ulSessionHandle));
  rq.command(cmd).out(respGetSessionInfo, sizeof *respGetSessionInfo);
  rq.send(req_type, request_id);
  return rq.async_result();
}

QEL2_EXPORT Uint32 Qel2GetSessionInfo(Uint32 ulSessionHandle, SessionInfo *info) {
  if (info == nullptr) return ERR_INVALID_INPUT;
  GetSessionInfoResponse resp = {};
  Uint32 r = Qel2GetSessionInfo2(ulSessionHandle, &resp, OSTREL_BLOCKING, nullptr);
  if (r != 0) return r;
  BeReader rd(&resp.info, sizeof resp.info);
  SessionInfo host;
  host.slotID = rd.u32();
  host.state = static_cast<SessionState>(rd.u32());
  host.flags = rd.u32();
  host.deviceError = rd.u32();
  *info = host;
  return 0;
}

}  // extern "C"
