// Information record of a named partition, handed over as the HSM sent it.
#include <cstdio>
#include <cstring>

#include "mgmt/session/mgmt_workers.h"
#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {
constexpr uint32_t kMaxPartitionNameLen = QEL2_PARTITION_NAME_FIELD - 1;
constexpr size_t kInfoOffset = offsetof(GetPartitionInfoResponse, info);
}  // namespace

Uint32 Qel2GetPartitionInfoCommon(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                  PartitionInfo *info, Uint32 *request_id) {
  if (info == nullptr) return ERR_INVALID_INPUT;
  if (name == nullptr || name_len < 1 || name_len > kMaxPartitionNameLen) {
    printf("\nInvalid partition name len [%d] and Max len [%d]", static_cast<int>(name_len),
           static_cast<int>(kMaxPartitionNameLen));
    return ERR_INVALID_INPUT;
  }
  Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<sizeof(GetPartitionInfoCommand)> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.fixed(name, name_len, QEL2_PARTITION_NAME_FIELD);
  uint8_t resp[sizeof(GetPartitionInfoResponse)] = {};
  MgmtRequest rq(KQ_PARTITION_INFO, handle);
  rq.command(cmd).out_local(resp, sizeof resp);
  rq.send(OSTREL_BLOCKING, request_id);
  Uint32 r = rq.result();
  if (r == 0) std::memcpy(info, resp + kInfoOffset, sizeof *info);
  return r;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2GetPartitionInfo(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                        PartitionInfo *info) {
  return Qel2GetPartitionInfoCommon(ulSessionHandle, name, name_len, info, nullptr);
}

QEL2_EXPORT Uint32 Qel2GetPartitionInfo2(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                         PartitionInfo *info, Uint32 *request_id) {
  return Qel2GetPartitionInfoCommon(ulSessionHandle, name, name_len, info, request_id);
}

}  // extern "C"
