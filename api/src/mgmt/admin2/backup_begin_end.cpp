// Begin and end of a backup or a restore. A backup's end can hand out an
// integrity value over everything exported; the restore's end gives it back
// so the HSM can check what it took in.
#include "mgmt/admin2/backup_common.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;
using namespace qel2::mgmt::backup;

namespace qel2::mgmt::backup {

namespace {
constexpr size_t kBeginLen = 28;
constexpr size_t kEndLen = 24;
}  // namespace

Uint32 begin_request(uint16_t opcode, Uint32 handle, Uint32 flags, Uint32 partition, Uint8 *sig,
                     Uint32 sig_len) {
  CommandRecord<kBeginLen> cmd;
  put_session_header(cmd.w, handle, flags);
  cmd.w.u32(0).u32(partition);
  uint8_t sig_word[4];
  BeWriter(sig_word, sizeof sig_word).u32(sig_len);
  MgmtRequest rq(opcode, handle);
  rq.command(cmd);
  if (sig != nullptr && sig_len != 0) rq.in(sig_word, sizeof sig_word).in(sig, sig_len);
  rq.out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.status_result();
}

Uint32 end_request(uint16_t opcode, Uint32 handle, Uint32 partition, Uint8 *icv, Uint32 icv_len,
                   Uint32 *icv_len_out) {
  CommandRecord<kEndLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u32(partition);
  MgmtRequest rq(opcode, handle);
  rq.command(cmd);
  uint8_t icv_word[4];
  BeWriter(icv_word, sizeof icv_word).u32(icv_len);
  if (icv_len_out != nullptr) {
    // Backup side: the HSM writes the ICV's length, big-endian, into the
    // caller's own length word, then the ICV.
    const uint32_t cap = segment_cap(*icv_len_out, 4);
    rq.out(icv_len_out, 4).out(icv, cap);
  } else if (icv != nullptr && icv_len != 0) {
    rq.in(icv_word, sizeof icv_word).in(icv, icv_len);
  }
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  Uint32 r = rq.status_result();
  if (r == 0 && icv_len_out != nullptr) {
    if (rq.received(0) < 4) return TESSALINE_INVALID_MSG;
    *icv_len_out = from_be32(*icv_len_out);
  }
  return r;
}

}  // namespace qel2::mgmt::backup

namespace {

Uint32 Qel2BackupEndCommon(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM, Uint8 *pICV,
                           Uint32 *pICVLen) {
  const bool with_icv = pICV != nullptr && pICVLen != nullptr;
  return end_request(scoped(isHSM, KQ_BACKUP_END, KQ_BACKUP_HSM_END), ulSessionHandle,
                     partition_of(ulSessionHandle, p_no), with_icv ? pICV : nullptr, 0,
                     with_icv ? pICVLen : nullptr);
}

Uint32 Qel2RestoreEndCommon(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM, Uint8 *pICV,
                            Uint32 ulICVLen) {
  return end_request(scoped(isHSM, KQ_RESTORE_END, KQ_RESTORE_HSM_END), ulSessionHandle,
                     partition_of(ulSessionHandle, p_no), pICV, ulICVLen, nullptr);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2BackupBegin(Uint32 ulSessionHandle, Uint8 isHSM, Uint8 ulPartitionNo,
                                   Uint8 *sig_data, Uint32 sig_len, Uint8 use_pre_shared_keys) {
  return begin_request(scoped(isHSM, KQ_BACKUP_BEGIN, KQ_BACKUP_HSM_BEGIN), ulSessionHandle,
                       use_pre_shared_keys ? 1 : 0, partition_of(ulSessionHandle, ulPartitionNo),
                       sig_data, sig_len);
}

QEL2_EXPORT Uint32 Qel2RestoreBegin(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM,
                                    Uint8 *sig_data, Uint32 sig_len, Uint8 ulFlags8) {
  return begin_request(scoped(isHSM, KQ_RESTORE_BEGIN, KQ_RESTORE_HSM_BEGIN), ulSessionHandle,
                       ulFlags8, partition_of(ulSessionHandle, p_no), sig_data, sig_len);
}

QEL2_EXPORT Uint32 Qel2BackupEnd(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM) {
  return Qel2BackupEndCommon(ulSessionHandle, p_no, isHSM, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2BackupEnd2(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM, Uint8 *pICV,
                                  Uint32 *pICVLen) {
  return Qel2BackupEndCommon(ulSessionHandle, p_no, isHSM, pICV, pICVLen);
}

QEL2_EXPORT Uint32 Qel2RestoreEnd(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM) {
  return Qel2RestoreEndCommon(ulSessionHandle, p_no, isHSM, nullptr, 0);
}

QEL2_EXPORT Uint32 Qel2RestoreEnd2(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM, Uint8 *pICV,
                                   Uint32 ulICVLen) {
  return Qel2RestoreEndCommon(ulSessionHandle, p_no, isHSM, pICV, ulICVLen);
}

}  // extern "C"
