// The login state of a session and the login failure count of a user.
#include <cstring>

#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {
constexpr uint32_t kFailCountMask = 0x3FFFFFFF;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2GetLoginStatus(Uint32 ulSessionHandle, Uint32 *status) {
  SessionInfo info;
  Uint32 r = Qel2GetSessionInfo(ulSessionHandle, &info);
  if (r == 0 && status) *status = info.state;
  return r;
}

QEL2_EXPORT Uint32 Qel2GetLoginFailureCount(Uint32 ulSessionHandle, Uint32 ulUserType,
                                            const Uint8 *userName, Uint32 userNameLength,
                                            Uint32 *pulFailCount) {
  if (userNameLength < 1 || userNameLength > QEL2_LOGIN_NAME_FIELD || userName == nullptr ||
      pulFailCount == nullptr)
    return ERR_INVALID_INPUT;
  if (userNameLength == QEL2_LOGIN_NAME_FIELD) return ERR_INVALID_STRING_OP;

  CommandRecord<sizeof(GetLFCRequest)> cmd;
  cmd.w.u32(ulUserType)
      .fixed(userName, strnlen(reinterpret_cast<const char *>(userName), userNameLength),
             QEL2_LOGIN_NAME_FIELD);
  MgmtRequest rq(KQ_GET_LOGIN_FAILURE_CNT, masked_session(ulSessionHandle));
  rq.command(cmd)
      .out_std_response()
      .lengths(sizeof(GetLFCRequest), sizeof(StdResponse))
      .params(0, 0);
  rq.send();
  Uint32 r = rq.result();
  ResponseHead head;
  *pulFailCount = rq.response_head(&head) ? (head.flags & kFailCountMask) : 0;
  return r;
}

}  // extern "C"
