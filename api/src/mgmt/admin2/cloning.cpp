// Cloning: the caller carries opaque blobs between a source and a target
// session; each of the four steps sends the previous step's blob and
// receives the next. One worker and one record serve them all.
#include <algorithm>

#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kCmdLen = 28;   // CloneCommand
constexpr size_t kRespLen = 20;  // CloneResponse
constexpr uint32_t kPartitionShift = 24, kPartitionMask = 0x3F;

// A blob given with a length needs its bytes; an absent one is sent as none.
bool blob_ok(const Uint8 *p, Uint32 len) { return p != nullptr || len == 0; }

Uint32 Qel2CloneMethodCommon(Uint32 session, Uint8 part_no, uint16_t opcode, const Uint8 *req,
                             Uint32 req_len, const Uint8 *cert, Uint32 cert_len, Uint8 *result,
                             Uint32 *dlen) {
  if (dlen == nullptr || !blob_ok(req, req_len) || !blob_ok(cert, cert_len))
    return ERR_INVALID_INPUT;
  if (req_len > kMaxDataLen) return ERR_BUFFER_TOO_BIG;
  const uint32_t partition = part_no != 0 ? part_no : (session >> kPartitionShift) & kPartitionMask;
  CommandRecord<kCmdLen> cmd;
  put_session_header(cmd.w, masked_session(session), 0, partition);
  cmd.w.u32(req_len).u32(0);
  uint8_t cert_word[4] = {};
  BeWriter(cert_word, sizeof cert_word).u32(cert_len);

  MgmtRequest rq(opcode, masked_session(session));
  rq.command(cmd);
  if (req_len != 0) rq.in(req, req_len);
  if (cert_len != 0) rq.in(cert_word, sizeof cert_word).in(cert, cert_len);
  // Summed in 64 bits by the request: no blob length wraps past the limit.
  if (Uint32 r = rq.check_data_len()) return r;

  // No buffer holds nothing, whatever *dlen says: the call is a size query.
  const Uint32 cap = result != nullptr ? *dlen : 0;
  uint8_t resp[kRespLen] = {};
  rq.out_local(resp, sizeof resp);
  if (cap != 0) rq.out(result, std::min<Uint32>(cap, kMaxSegmentLen - kRespLen));
  rq.send();
  Uint32 r = rq.result();
  if (rq.decode() == MgmtRequest::Decode::kNo) return r;
  const Uint32 blob_len = be32_at(resp + 16);  // ulSize
  if (r == 0 && blob_len <= cap)
    if (Uint32 bad = rq.check_arrived(1, blob_len)) return bad;
  *dlen = blob_len;
  if (r == 0 && blob_len > cap) r = ERR_BUFFER_TOO_SMALL;
  return r;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2CloneSourceInit(Uint32 ulSessionHandle, Uint8 *source_init_data,
                                       Uint32 *source_init_dlen) {
  return Qel2CloneMethodCommon(ulSessionHandle, 0, KQ_CLONE_SOURCE_INIT, nullptr, 0, nullptr, 0,
                               source_init_data, source_init_dlen);
}

QEL2_EXPORT Uint32 Qel2Clone2SourceInit(Uint32 ulSessionHandle, Uint8 part_no,
                                        Uint8 *cert_auth_data, Uint32 cert_auth_data_len,
                                        Uint8 *source_init_data, Uint32 *source_init_dlen) {
  return Qel2CloneMethodCommon(ulSessionHandle, part_no, KQ_CLONE_SOURCE_INIT, nullptr, 0,
                               cert_auth_data, cert_auth_data_len, source_init_data,
                               source_init_dlen);
}

QEL2_EXPORT Uint32 Qel2CloneTargetInit(Uint32 ulSessionHandle, Uint8 *source_init_data,
                                       Uint32 source_init_dlen, Uint8 *target_init_data,
                                       Uint32 *target_init_dlen) {
  return Qel2CloneMethodCommon(ulSessionHandle, 0, KQ_CLONE_TARGET_INIT, source_init_data,
                               source_init_dlen, nullptr, 0, target_init_data, target_init_dlen);
}

QEL2_EXPORT Uint32 Qel2Clone2TargetInit(Uint32 ulSessionHandle, Uint8 part_no,
                                        Uint8 *source_init_data, Uint32 source_init_dlen,
                                        Uint8 *cert_auth_data, Uint32 cert_auth_data_len,
                                        Uint8 *target_init_data, Uint32 *target_init_dlen) {
  return Qel2CloneMethodCommon(ulSessionHandle, part_no, KQ_CLONE_TARGET_INIT, source_init_data,
                               source_init_dlen, cert_auth_data, cert_auth_data_len,
                               target_init_data, target_init_dlen);
}

QEL2_EXPORT Uint32 Qel2CloneSourceStage1(Uint32 ulSessionHandle, Uint8 *target_init_data,
                                         Uint32 target_init_dlen, Uint8 *source_stage1_data,
                                         Uint32 *source_stage1_dlen) {
  return Qel2CloneMethodCommon(ulSessionHandle, 0, KQ_CLONE_SOURCE_STAGE1, target_init_data,
                               target_init_dlen, nullptr, 0, source_stage1_data,
                               source_stage1_dlen);
}

QEL2_EXPORT Uint32 Qel2Clone2SourceStage1(Uint32 ulSessionHandle, Uint8 part_no,
                                          Uint8 *target_init_data, Uint32 target_init_dlen,
                                          Uint8 *source_stage1_data, Uint32 *source_stage1_dlen) {
  return Qel2CloneMethodCommon(ulSessionHandle, part_no, KQ_CLONE_SOURCE_STAGE1, target_init_data,
                               target_init_dlen, nullptr, 0, source_stage1_data,
                               source_stage1_dlen);
}

QEL2_EXPORT Uint32 Qel2CloneTargetStage1(Uint32 ulSessionHandle, Uint8 *source_stage1_data,
                                         Uint32 source_stage1_dlen, Uint8 *target_stage1_data,
                                         Uint32 *target_stage1_dlen) {
  return Qel2CloneMethodCommon(ulSessionHandle, 0, KQ_CLONE_TARGET_STAGE1, source_stage1_data,
                               source_stage1_dlen, nullptr, 0, target_stage1_data,
                               target_stage1_dlen);
}

QEL2_EXPORT Uint32 Qel2Clone2TargetStage1(Uint32 ulSessionHandle, Uint8 part_no,
                                          Uint8 *source_stage1_data, Uint32 source_stage1_dlen,
                                          Uint8 *target_stage1_data, Uint32 *target_stage1_dlen) {
  return Qel2CloneMethodCommon(ulSessionHandle, part_no, KQ_CLONE_TARGET_STAGE1, source_stage1_data,
                               source_stage1_dlen, nullptr, 0, target_stage1_data,
                               target_stage1_dlen);
}

}  // extern "C"
