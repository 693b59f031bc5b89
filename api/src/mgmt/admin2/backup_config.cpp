// The configuration of a partition, or of the HSM and its partitions' entries,
// out as one encrypted blob and back in.
#include <cstdio>
#include <cstring>

#include "mgmt/admin2/backup_common.h"
#include "mgmt/mgmt_common.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;
using namespace qel2::mgmt::backup;

namespace {

constexpr size_t kBackupConfigLen = 24;
constexpr uint32_t kConfigAnswerLen = 20;
constexpr size_t kRestoreConfigLen = 32;
constexpr size_t kRestoreHsmConfigLen = 72;
constexpr size_t kNameField = 16;
constexpr Uint32 kMaxPartitionIndex = 32;

// Partition scope: rlen counts the answer record and the blob; HSM scope the
// blob alone.
Uint32 backup_config(bool hsm, Uint32 handle, const uint8_t *record, const BeWriter &w,
                     Uint8 *pEncConfig, Uint32 *ulEncConfigLen) {
  uint8_t resp[kConfigAnswerLen] = {};
  const uint32_t cap = segment_cap(*ulEncConfigLen, kConfigAnswerLen);
  MgmtRequest rq(hsm ? KQ_BACKUP_HSM_CONFIG : KQ_BACKUP_CONFIG, handle);
  rq.command(record, w).out_local(resp, sizeof resp).out(pEncConfig, cap);
  const uint16_t dlen = static_cast<uint16_t>(kBackupConfigLen);
  const uint16_t rlen = static_cast<uint16_t>(hsm ? cap : cap + kConfigAnswerLen);
  rq.params(dlen, rlen).lengths(dlen, rlen);
  rq.send();
  Uint32 r = rq.status_result();
  if (rq.status_decode() == MgmtRequest::Decode::kNo) return r;
  if (rq.received(0) < kConfigAnswerLen) return TESSALINE_INVALID_MSG;
  const Uint32 needed = be32_at(resp + 16);
  if (*ulEncConfigLen < needed) {
    if (!hsm) puts("Buffer is too small");
    if (r == 0) r = ERR_BUFFER_TOO_SMALL;
  } else if (r == 0) {
    if (Uint32 bad = rq.check_arrived(1, needed)) return bad;
  }
  *ulEncConfigLen = needed;
  return r;
}

Uint32 restore_config(uint16_t opcode, Uint32 handle, const uint8_t *record, const BeWriter &w,
                      Uint8 *pConfig, Uint32 ulConfigLen) {
  MgmtRequest rq(opcode, handle);
  rq.command(record, w).in(pConfig, ulConfigLen).out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.status_result();
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2BackupConfig(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pEncConfig,
                                    Uint32 *ulEncConfigLen) {
  if (pEncConfig == nullptr || ulEncConfigLen == nullptr) return ERR_ARGUMENTS_BAD;
  CommandRecord<kBackupConfigLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.u32(partition_of(ulSessionHandle, p_no));
  return backup_config(false, ulSessionHandle, cmd.bytes, cmd.w, pEncConfig, ulEncConfigLen);
}

QEL2_EXPORT Uint32 Qel2BackupHSMConfig(Uint32 ulSessionHandle, Uint8 *pEncConfig,
                                       Uint32 *ulEncConfigLen, Uint8 ulPartitionIndex) {
  if (pEncConfig == nullptr || ulEncConfigLen == nullptr) return ERR_ARGUMENTS_BAD;
  CommandRecord<kBackupConfigLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.u8(ulPartitionIndex).zeros(3);
  return backup_config(true, ulSessionHandle, cmd.bytes, cmd.w, pEncConfig, ulEncConfigLen);
}

QEL2_EXPORT Uint32 Qel2RestoreConfig(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pConfig,
                                     Uint32 ulConfigLen) {
  if (pConfig == nullptr || ulConfigLen == 0) return ERR_ARGUMENTS_BAD;
  CommandRecord<kRestoreConfigLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.u32(0).u32(ulConfigLen).u32(partition_of(ulSessionHandle, p_no));
  return restore_config(KQ_RESTORE_CONFIG, ulSessionHandle, cmd.bytes, cmd.w, pConfig, ulConfigLen);
}

QEL2_EXPORT Uint32 Qel2RestoreHSMConfig(Uint32 ulSessionHandle, Uint8 *pConfig, Uint32 ulConfigLen,
                                        Uint32 ulPartitionIndex, Uint32 ulKeyStoreSize,
                                        Uint32 ulSSLSize, Uint32 ulAcclrDevSize, Uint8 *pname) {
  if (ulConfigLen == 0 || pConfig == nullptr || ulPartitionIndex > kMaxPartitionIndex)
    return ERR_ARGUMENTS_BAD;
  uint8_t name[kNameField] = {};
  if (ulPartitionIndex != 0) {
    if (ulKeyStoreSize == 0 || ulSSLSize == 0 || ulAcclrDevSize == 0) {
      printf("Invalid key store size for partition : %u \n", ulPartitionIndex);
      return ERR_ARGUMENTS_BAD;
    }
    // A partition's entry names its partition; without a name there is none.
    if (pname == nullptr) return ERR_ARGUMENTS_BAD;
    const size_t n = strnlen(reinterpret_cast<const char *>(pname), kNameField);
    if (n >= kNameField) return ERR_INVALID_STRING_OP;
    memcpy(name, pname, n);
  }
  CommandRecord<kRestoreHsmConfigLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.u32(ulConfigLen).u32(ulPartitionIndex).u32(ulKeyStoreSize).u32(ulSSLSize);
  cmd.w.u32(ulAcclrDevSize).bytes(name, sizeof name).zeros(kNameField);
  return restore_config(KQ_RESTORE_HSM_CONFIG, ulSessionHandle, cmd.bytes, cmd.w, pConfig,
                        ulConfigLen);
}

}  // extern "C"
