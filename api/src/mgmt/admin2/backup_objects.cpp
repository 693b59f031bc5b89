// Keys and partition objects out one by one as encrypted blobs and back in.
// The partition number rides in the header's last word (key backup, object
// requests) or in the record (key restore).
#include <cstdio>

#include "mgmt/admin2/backup_common.h"
#include "mgmt/mgmt_common.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;
using namespace qel2::mgmt::backup;

namespace {

constexpr size_t kBackupKeyLen = 32;
constexpr uint32_t kBlobAnswerLen = 20;  // BackupKeyResponse, BackupObjectResponse
constexpr size_t kRestoreKeyLen = 28;
constexpr uint32_t kRestoreKeyAnswerLen = 32;
constexpr size_t kBackupObjectLen = 24;
constexpr size_t kRestoreObjectLen = 32;

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2BackupKey(Uint32 ulSessionHandle, Uint32 partition_index, Uint64 ulKeyHandle,
                                 Uint8 *pKeyData, Uint32 *pulKeyDataLen) {
  if (pulKeyDataLen == nullptr) return RET_INVALID_INPUT;
  CommandRecord<kBackupKeyLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, 0, partition_of(ulSessionHandle, partition_index));
  cmd.w.u32(0).u64(ulKeyHandle);
  uint8_t resp[kBlobAnswerLen] = {};
  MgmtRequest rq(KQ_BACKUP_KEY, ulSessionHandle);
  rq.command(cmd).out_local(resp, sizeof resp);
  const uint32_t cap = pKeyData ? segment_cap(*pulKeyDataLen, kBlobAnswerLen) : 0;
  if (pKeyData != nullptr) rq.out(pKeyData, cap);
  rq.params(0, static_cast<uint16_t>(kBlobAnswerLen + cap));
  rq.send();
  if (Uint32 r = rq.status_result()) return r;
  if (rq.received(0) < kBlobAnswerLen) return TESSALINE_INVALID_MSG;
  const Uint32 needed = be32_at(resp + 16);
  Uint32 r = 0;
  if (*pulKeyDataLen < needed) {
    printf("Provided buffer of size %u is too small than required %u\n", *pulKeyDataLen, needed);
    r = ERR_ARGUMENTS_BAD;
  } else if (pKeyData != nullptr) {
    if (Uint32 bad = rq.check_arrived(1, needed)) return bad;
  }
  *pulKeyDataLen = needed;
  return r;
}

QEL2_EXPORT Uint32 Qel2RestoreKey(Uint32 ulSessionHandle, Uint32 partition_index,
                                  Uint8 preserve_handle, Uint8 *pKeyData, Uint32 ulKeyDataLen,
                                  Uint64 *ulRestoredKeyHandle) {
  if (pKeyData == nullptr || ulRestoredKeyHandle == nullptr) return RET_INVALID_INPUT;
  CommandRecord<kRestoreKeyLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, preserve_handle ? 1 : 0);
  cmd.w.u32(partition_of(ulSessionHandle, partition_index)).u32(ulKeyDataLen);
  uint8_t resp[kRestoreKeyAnswerLen] = {};
  MgmtRequest rq(KQ_RESTORE_KEY, ulSessionHandle);
  rq.command(cmd).in(pKeyData, ulKeyDataLen).out_local(resp, sizeof resp);
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  if (Uint32 r = rq.status_result()) return r;
  if (rq.received(0) < kRestoreKeyAnswerLen) return TESSALINE_INVALID_MSG;
  *ulRestoredKeyHandle = be64_at(resp + 24);
  return 0;
}

QEL2_EXPORT Uint32 Qel2BackupObject(Uint32 ulSessionHandle, Uint32 partition_index,
                                    ObjectClass Class, ObjectID ID, Uint8 *pObjectData,
                                    Uint32 *pulObjectDataLen) {
  if (pulObjectDataLen == nullptr) return ERR_ARGUMENTS_BAD;
  CommandRecord<kBackupObjectLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, 0, partition_of(ulSessionHandle, partition_index));
  cmd.w.u8(static_cast<uint8_t>(Class)).u8(static_cast<uint8_t>(ID)).zeros(2);
  uint8_t resp[kBlobAnswerLen] = {};
  MgmtRequest rq(KQ_BACKUP_OBJECT, ulSessionHandle);
  rq.command(cmd).out_local(resp, sizeof resp);
  // Without a buffer the call asks for the size: no segment the HSM could
  // believe it may fill.
  if (pObjectData != nullptr) rq.out(pObjectData, segment_cap(*pulObjectDataLen, kBlobAnswerLen));
  rq.send();
  Uint32 r = rq.status_result();
  if (rq.status_decode() == MgmtRequest::Decode::kNo) return r;
  if (rq.received(0) < kBlobAnswerLen) return TESSALINE_INVALID_MSG;
  const Uint32 needed = be32_at(resp + 16);
  if (*pulObjectDataLen < needed) {
    printf("Provided buffer is smaller than required %u\n", needed);
    if (r == 0) r = ERR_BUFFER_TOO_SMALL;
  } else if (r == 0 && pObjectData != nullptr) {
    if (Uint32 bad = rq.check_arrived(1, needed)) return bad;
  }
  *pulObjectDataLen = needed;
  return r;
}

QEL2_EXPORT Uint32 Qel2RestoreObject(Uint32 ulSessionHandle, Uint32 partition_index,
                                     ObjectClass Class, ObjectID ID, Uint8 *pObjectData,
                                     Uint32 ulObjectLen) {
  if (pObjectData == nullptr || ulObjectLen == 0) return ERR_ARGUMENTS_BAD;
  CommandRecord<kRestoreObjectLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, 0, partition_of(ulSessionHandle, partition_index));
  cmd.w.u32(0).u8(static_cast<uint8_t>(Class)).u8(static_cast<uint8_t>(ID)).zeros(2);
  cmd.w.u32(ulObjectLen);
  MgmtRequest rq(KQ_RESTORE_OBJECT, ulSessionHandle);
  rq.command(cmd).in(pObjectData, ulObjectLen).out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.status_result();
}

}  // extern "C"
