// Users back in: at most 30 encrypted records a request (the request's 32
// segments hold the record, one length word per user and the data), the
// record announcing the caller's whole count; the HSM answers the index it
// reached.
#include <algorithm>

#include "mgmt/admin2/backup_common.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;
using namespace qel2::mgmt::backup;

namespace {

constexpr size_t kRestoreUsersLen = 32;

// n length words and n records after the command record. The data is held
// to what one segment can carry, summed in 64 bits: a record length from
// the caller must not wrap past the check.
Uint32 restore_users(uint16_t opcode, Uint32 handle, const uint8_t *record, const BeWriter &w,
                     Uint8 *data, Uint32 each, Uint32 count, Uint32 *restored_index) {
  const Uint32 n = std::min<Uint32>(count, QEL2_RESTORE_USERS_PER_REQUEST);
  const uint64_t bytes = uint64_t{n} * each;
  if (bytes > kMaxSegmentLen) return ERR_BUFFER_TOO_BIG;
  uint8_t words[QEL2_RESTORE_USERS_PER_REQUEST][4];
  MgmtRequest rq(opcode, handle);
  rq.command(record, w);
  for (Uint32 i = 0; i < n; ++i) {
    BeWriter(words[i], 4).u32(each);
    rq.in(words[i], 4);
  }
  if (n != 0) rq.in(data, static_cast<uint32_t>(bytes));
  rq.out_std_response();
  if (Uint32 r = rq.check_data_len(kMaxSegmentLen)) return r;
  rq.send();
  Uint32 r = rq.status_result();
  if (r == 0 && restored_index != nullptr) {
    ResponseHead head;
    if (!rq.response_head(&head)) return TESSALINE_INVALID_MSG;
    *restored_index = head.flags;
  }
  return r;
}

Uint32 Qel2RestoreUsersCommon(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pEncUserInfo,
                              Uint32 ulEncUserInfoLen, Uint32 *restoredUserIndex,
                              Uint32 ulUserCount, Uint32 ulUserType) {
  if (ulUserCount > QEL2_RESTORE_USERS_MAX || ulEncUserInfoLen == 0 || pEncUserInfo == nullptr)
    return ERR_ARGUMENTS_BAD;
  if (ulUserCount == 0) return RET_NO_USERS_TO_RESTORE;
  if (ulEncUserInfoLen > QEL2_RESTORE_USER_RECORD_MAX) return ERR_ARGUMENTS_BAD;
  CommandRecord<kRestoreUsersLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, 0, 0, 1);
  cmd.w.u8(static_cast<uint8_t>(ulUserType)).zeros(3).u32(ulUserCount);
  cmd.w.u32(partition_of(ulSessionHandle, p_no));
  return restore_users(KQ_RESTORE_USERS, ulSessionHandle, cmd.bytes, cmd.w, pEncUserInfo,
                       ulEncUserInfoLen, ulUserCount, restoredUserIndex);
}

Uint32 Qel2RestoreHSMUsersCommon(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                 Uint32 ulEncUserInfoLen, Uint32 *restoredUserIndex,
                                 Uint32 ulUserCount, Uint32 ulUserType, Uint32 ulPartitionIndex) {
  if (pEncUserInfo == nullptr || ulEncUserInfoLen == 0) return ERR_ARGUMENTS_BAD;
  CommandRecord<kRestoreUsersLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.u32(ulUserCount).u32(ulPartitionIndex).u8(static_cast<uint8_t>(ulUserType)).zeros(3);
  return restore_users(KQ_RESTORE_HSM_USERS, ulSessionHandle, cmd.bytes, cmd.w, pEncUserInfo,
                       ulEncUserInfoLen, ulUserCount, restoredUserIndex);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2RestoreUsersFromIndex(Uint32 ulSessionHandle, Uint8 p_no,
                                             Uint8 *pEncUserInfo, Uint32 ulEncUserInfoLen,
                                             Uint32 *restoredUserIndex, Uint32 ulUserCount,
                                             Uint32 ulUserType) {
  return Qel2RestoreUsersCommon(ulSessionHandle, p_no, pEncUserInfo, ulEncUserInfoLen,
                                restoredUserIndex, ulUserCount, ulUserType);
}

QEL2_EXPORT Uint32 Qel2RestoreUsers(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pEncUserInfo,
                                    Uint32 ulEncUserInfoLen, Uint32 ulUserCount,
                                    Uint32 ulUserType) {
  return Qel2RestoreUsersCommon(ulSessionHandle, p_no, pEncUserInfo, ulEncUserInfoLen, nullptr,
                                ulUserCount, ulUserType);
}

QEL2_EXPORT Uint32 Qel2RestoreHSMUsersFromIndex(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                                Uint32 ulEncUserInfoLen, Uint32 *restoredUserIndex,
                                                Uint32 ulUserCount, Uint32 ulUserType,
                                                Uint32 ulPartitionIndex) {
  return Qel2RestoreHSMUsersCommon(ulSessionHandle, pEncUserInfo, ulEncUserInfoLen,
                                   restoredUserIndex, ulUserCount, ulUserType, ulPartitionIndex);
}

QEL2_EXPORT Uint32 Qel2RestoreHSMUsers(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                       Uint32 ulEncUserInfoLen, Uint32 ulUserCount,
                                       Uint32 ulUserType, Uint32 ulPartitionIndex) {
  return Qel2RestoreHSMUsersCommon(ulSessionHandle, pEncUserInfo, ulEncUserInfoLen, nullptr,
                                   ulUserCount, ulUserType, ulPartitionIndex);
}

}  // extern "C"
