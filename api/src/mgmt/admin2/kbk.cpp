// Key backup key export and import: the HSM hands out the key under which
// backed-up keys leave it, as three wrapped parts or one blob wrapped under
// a mechanism, and takes it back for a partition. The library moves the
// wrapped bytes only. As the backup requests, these send the whole session
// handle, take the partition from it when none is named, and return the
// request status without reading the response code.
#include <cstdio>

#include "mgmt/mgmt_common.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kWrapCmdLen = 28;
constexpr size_t kWrapRespLen = 28;
constexpr size_t kUnwrapCmdLen = 40;
constexpr Uint32 kThreeParts = 0;

Uint32 partition_of(Uint32 handle, Uint32 partition_no) {
  return partition_no != 0 ? partition_no : (handle >> 24) & 0x3F;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2ExportKBK(Uint32 ulSessionHandle, Uint8 *pWrappedKey_1,
                                 Uint32 *pulWrappedKeyLen_1, Uint32 *pulWrappedKeyLen_2,
                                 Uint32 *pulWrappedKeyLen_3, Uint32 partition_no, Uint32 ulMech) {
  if (pulWrappedKeyLen_1 == nullptr || pWrappedKey_1 == nullptr) return ERR_ARGUMENTS_BAD;
  if (ulMech == kThreeParts && (pulWrappedKeyLen_2 == nullptr || pulWrappedKeyLen_3 == nullptr))
    return ERR_ARGUMENTS_BAD;
  if (uint64_t{kWrapRespLen} + *pulWrappedKeyLen_1 > kMaxSegmentLen) return ERR_BUFFER_TOO_BIG;
  CommandRecord<kWrapCmdLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.u32(ulMech).u32(partition_of(ulSessionHandle, partition_no));
  uint8_t resp[kWrapRespLen] = {};
  MgmtRequest rq(KQ_WRAP_KBK, ulSessionHandle);
  rq.command(cmd).out_local(resp, sizeof resp).out(pWrappedKey_1, *pulWrappedKeyLen_1);
  rq.send();
  Uint32 r = rq.status_result();
  if (rq.status_decode() == MgmtRequest::Decode::kNo) return r;
  if (rq.received(0) < kWrapRespLen) return TESSALINE_INVALID_MSG;
  const Uint32 k1 = be32_at(resp + 16), k2 = be32_at(resp + 20), k3 = be32_at(resp + 24);
  const uint64_t needed = uint64_t{k1} + k2 + k3;  // no wrap past the check
  if (needed > *pulWrappedKeyLen_1) {
    printf("Provided buffer is smaller than required %llu\n",
           static_cast<unsigned long long>(needed));
    if (r == 0) r = ERR_BUFFER_TOO_SMALL;
  } else if (r == 0) {
    if (Uint32 bad = rq.check_arrived(1, needed)) return bad;
  }
  *pulWrappedKeyLen_1 = k1;
  if (ulMech == kThreeParts) {
    *pulWrappedKeyLen_2 = k2;
    *pulWrappedKeyLen_3 = k3;
  }
  return r;
}

QEL2_EXPORT Uint32 Qel2ImportKBK(Uint32 ulSessionHandle, Uint8 *pkey_1, Uint8 *pkey_2,
                                 Uint8 *pkey_3, Uint32 ulKeyLen_1, Uint32 ulKeyLen_2,
                                 Uint32 ulKeyLen_3, Uint32 partition_no, Uint32 ulMech) {
  if (pkey_1 == nullptr || ulKeyLen_1 == 0) return ERR_ARGUMENTS_BAD;
  const bool parts = ulMech == kThreeParts;
  if (parts && (pkey_2 == nullptr || pkey_3 == nullptr || ulKeyLen_2 == 0 || ulKeyLen_3 == 0))
    return ERR_ARGUMENTS_BAD;
  CommandRecord<kUnwrapCmdLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.u32(ulMech).u32(partition_of(ulSessionHandle, partition_no)).u32(ulKeyLen_1);
  cmd.w.u32(parts ? ulKeyLen_2 : 0).u32(parts ? ulKeyLen_3 : 0);
  MgmtRequest rq(KQ_UNWRAP_KBK, ulSessionHandle);
  rq.command(cmd).in(pkey_1, ulKeyLen_1);
  if (parts) rq.in(pkey_2, ulKeyLen_2).in(pkey_3, ulKeyLen_3);
  rq.out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.status_result();
}

}  // extern "C"
