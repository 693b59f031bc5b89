// Authorising and closing sessions.
#include <cstdio>
#include <cstring>

#include "mgmt/mgmt_common.h"
#include "mgmt/session/mgmt_workers.h"
#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/app_state.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr uint32_t kMaxPartitionNameLen = QEL2_PARTITION_NAME_FIELD - 1;
constexpr char kPartitionZero[] = "PARTITION_0";

// Sends a request whose answer is a bare StdResponse.
Uint32 send_std(MgmtRequest &rq) {
  rq.out_std_response();
  rq.send();
  return rq.result();
}

// Closing the sessions of a partition ends the caller's own connections,
// except when a partition-0 session closes another partition's sessions.
bool drops_connections(Uint32 masked_handle, const Uint8 *name, Uint8 name_len) {
  if (partition_of(masked_handle) != 0) return true;
  return name_len == sizeof kPartitionZero - 1 && std::memcmp(name, kPartitionZero, name_len) == 0;
}

}  // namespace

Uint32 Qel2AuthorizeSessionCommon(Uint32 ulSessionHandle, Uint32 ulTargetSessionHandle) {
  CommandRecord<sizeof(AuthorizeSessionCommand)> cmd;
  put_session_header(cmd.w, masked_session(ulSessionHandle));
  cmd.w.u32(ulTargetSessionHandle);
  MgmtRequest rq(KQ_AUTHORIZE_SESSION, masked_session(ulSessionHandle));
  return send_std(rq.command(cmd));
}

Uint32 Qel2CloseSessionCommon(Uint32 ulSessionHandle) {
  CommandRecord<sizeof(CloseSessionCommand)> cmd;
  put_session_header(cmd.w, masked_session(ulSessionHandle), nonce_for(ulSessionHandle));
  MgmtRequest rq(KQ_CLOSE_SESSION, masked_session(ulSessionHandle));
  return send_std(rq.command(cmd));
}

extern "C" {

QEL2_EXPORT Uint32 Qel2AuthorizeSession(Uint32 ulSessionHandle, Uint32 ulTargetSessionHandle) {
  return Qel2AuthorizeSessionCommon(ulSessionHandle, ulTargetSessionHandle);
}

QEL2_EXPORT Uint32 Qel2CloseSession(Uint32 ulSessionHandle) {
  return Qel2CloseSessionCommon(ulSessionHandle);
}

QEL2_EXPORT Uint32 Qel2CloseAllSessions(Uint32 ulSessionHandle) {
  // No command record: the handle travels in the message header only.
  MgmtRequest rq(KQ_CLOSE_ALL_SESSIONS, masked_session(ulSessionHandle));
  return send_std(rq);
}

QEL2_EXPORT Uint32 Qel2ClosePartitionSessions(Uint32 ulSessionHandle, const Uint8 *name,
                                              Uint8 name_len) {
  if (name == nullptr || name_len > kMaxPartitionNameLen ||
      bounded_name_len(name, name_len, kMaxPartitionNameLen) != name_len) {
    printf("\n Invalid partition len [%d] and Max len [%d]", name_len,
           static_cast<int>(kMaxPartitionNameLen));
    return ERR_INVALID_INPUT;
  }
  Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<sizeof(ClosePartitionSessionsCommand)> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.fixed(name, name_len, QEL2_PARTITION_NAME_FIELD);
  MgmtRequest rq(KQ_CLOSE_PARTITION_SESSIONS, handle);
  Uint32 r = send_std(rq.command(cmd));
  if (r != 0) return r;
  if (drops_connections(handle, name, name_len)) orx_tessaline_cli_delete_threads_table();
  return 0;
}

}  // extern "C"
