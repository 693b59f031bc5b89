// The partition's audit log: the number of entries waiting, a batch of
// fixed-size entries (blocking or non-blocking), the HSM's signature over
// the log, and finalising a partition's logs. Entries are carried unchanged.
#include <cstdio>
#include <cstring>

#include "mgmt/admin/header_command.h"
#include "mgmt/mgmt_common.h"
#include "qel2_admin.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kAuditInfoRespLen = 20;
constexpr size_t kAuditHeadLen = 24;  // ResponseHeader, reserved word, entries returned
constexpr size_t kSignRespLen = sizeof(ResponseHeader) + QEL2_AUDIT_SIGN_LEN;
constexpr uint32_t kMaxName = QEL2_PARTITION_NAME_FIELD - 1;
constexpr size_t kFetchCmdLen = 24;     // header, entries asked for
constexpr size_t kFinalizeCmdLen = 36;  // header, partition name

}  // namespace

Uint32 Qel2GetAuditLogsCommon(Uint32 ulSessionHandle, Uint32 *numLogs, cmbLogEntry *cmbLogs,
                              Uint32 *request_id, Uint8 non_blocking) {
  if (numLogs == nullptr || *numLogs < 1 || *numLogs > QEL2_MAX_AUDIT_LOGS || cmbLogs == nullptr)
    return ERR_INVALID_INPUT;
  const Uint32 req_type = non_blocking ? OSTREL_NON_BLOCKING : OSTREL_BLOCKING;
  if (Uint32 r = check_request_id_arg(req_type, request_id)) return r;
  const Uint32 wanted = *numLogs;
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kFetchCmdLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u32(wanted);
  // The answer head is read here when blocking; a non-blocking fetch's head
  // goes to scratch its pending entry owns.
  uint8_t head[kAuditHeadLen] = {};
  const uint32_t entries = wanted * static_cast<uint32_t>(sizeof(cmbLogEntry));
  // The 16-bit response length keeps the low bits; the segments the full sizes.
  const auto rlen = static_cast<uint16_t>(kAuditHeadLen + entries);
  MgmtRequest rq(KQ_PARTN_GET_AUDIT_LOGS, handle);
  rq.command(cmd).out_local(head, kAuditHeadLen).out(cmbLogs, entries);
  rq.lengths(kFetchCmdLen, rlen).params(kFetchCmdLen, rlen);
  rq.send(req_type, request_id);
  if (non_blocking) return rq.async_result();
  const Uint32 r = rq.result();
  if (r != 0) return r;
  // An answer that claims more entries than the buffer holds is reported,
  // count included, rather than taken as the number of entries received.
  *numLogs = be32_at(head + 20);
  return *numLogs > wanted ? static_cast<Uint32>(ERR_BUFFER_TOO_SMALL) : 0u;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2GetAuditLogInfo(Uint32 ulSessionHandle, Uint32 *numLogs) {
  if (numLogs == nullptr) return RET_INVALID_INPUT;
  uint8_t resp[kAuditInfoRespLen] = {};
  const Uint32 r = header_command(KQ_PARTN_GET_AUDIT_DETAILS, masked_session(ulSessionHandle), resp,
                                  sizeof resp);
  if (r == 0) *numLogs = be32_at(resp + 16);
  return r;
}

QEL2_EXPORT Uint32 Qel2GetAuditLogs(Uint32 ulSessionHandle, Uint32 *numLogs, cmbLogEntry *cmbLogs) {
  return Qel2GetAuditLogsCommon(ulSessionHandle, numLogs, cmbLogs, nullptr, 0);
}

QEL2_EXPORT Uint32 Qel2GetAuditLogsNonBlocking(Uint32 ulSessionHandle, Uint32 *numLogs,
                                               cmbLogEntry *cmbLogs, Uint32 *request_id) {
  return Qel2GetAuditLogsCommon(ulSessionHandle, numLogs, cmbLogs, request_id, 1);
}

QEL2_EXPORT Uint32 Qel2GetAuditLogSign(Uint32 ulSessionHandle, Uint8 *sign) {
  if (sign == nullptr) return ERR_INVALID_INPUT;
  uint8_t resp[kSignRespLen] = {};
  const Uint32 r =
      header_command(KQ_PARTN_GET_AUDIT_SIGN, masked_session(ulSessionHandle), resp, sizeof resp);
  if (r == 0) std::memcpy(sign, resp + sizeof(ResponseHeader), QEL2_AUDIT_SIGN_LEN);
  return r;
}

QEL2_EXPORT Uint32 Qel2FinalizeLogs(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len) {
  if (name == nullptr || name_len < 1 || name_len > kMaxName) {
    printf("\n Invalid partition len [%d] and Max len [%d]", static_cast<int>(name_len),
           static_cast<int>(kMaxName));
    return ERR_INVALID_INPUT;
  }
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kFinalizeCmdLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.fixed(name, bounded_name_len(name, name_len, kMaxName), QEL2_PARTITION_NAME_FIELD);
  uint8_t resp[sizeof(StdResponse)] = {};
  MgmtRequest rq(KQ_FINALIZE_LOGS, handle);
  rq.command(cmd).out(resp, sizeof resp);
  rq.send();
  return rq.result();
}

}  // extern "C"
