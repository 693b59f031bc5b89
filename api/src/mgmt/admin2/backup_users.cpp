// Users out in pages of encrypted records, from an index the HSM hands back
// for the next page. A page the caller's buffer cannot hold is refused
// whole and the index stays, so that no user is skipped.
#include <cstdio>

#include "mgmt/admin2/backup_common.h"
#include "mgmt/mgmt_common.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;
using namespace qel2::mgmt::backup;

namespace {

constexpr size_t kPartitionRecordLen = 28;
constexpr size_t kHsmRecordLen = 24;
constexpr uint32_t kUsersAnswerLen = 28;
constexpr Uint32 kPaged = 1;  // second reserved word: the request names its start index

struct Page {
  Uint32 *index;
  Uint8 *buf;
  Uint32 *len;
  Uint32 *count;
};

// rlen: partition scope the caller's buffer, HSM scope the answer record.
Uint32 users_page(bool hsm, Uint32 handle, const uint8_t *record, const BeWriter &w,
                  const Page &pg) {
  uint8_t resp[kUsersAnswerLen] = {};
  const uint32_t cap = segment_cap(*pg.len, kUsersAnswerLen);
  MgmtRequest rq(hsm ? KQ_BACKUP_HSM_USERS : KQ_BACKUP_USERS, handle);
  rq.command(record, w).out_local(resp, sizeof resp).out(pg.buf, cap);
  const uint16_t dlen = static_cast<uint16_t>(hsm ? kHsmRecordLen : kPartitionRecordLen);
  const uint16_t rlen = static_cast<uint16_t>(hsm ? kUsersAnswerLen : cap);
  rq.params(dlen, rlen).lengths(dlen, rlen);
  rq.send();
  Uint32 r = rq.status_result();
  const bool arrived = rq.received(0) >= kUsersAnswerLen;
  if (rq.status_decode() != MgmtRequest::Decode::kNo) {
    if (!arrived) return TESSALINE_INVALID_MSG;
    ResponseHead head;
    read_response_head(resp, sizeof resp, &head);
    const Uint32 each = be32_at(resp + 16), total = be32_at(resp + 20), here = be32_at(resp + 24);
    const uint64_t needed = uint64_t{here} * each;
    const Uint32 given = *pg.len;
    *pg.len = each;
    *pg.count = here;
    if (given < needed || cap < needed) {
      printf("Provided buffer is smaller than required: %llu \n",
             static_cast<unsigned long long>(needed));
      return ERR_BUFFER_TOO_SMALL;  // the index stays where this page began
    }
    if (Uint32 bad = rq.check_arrived(1, needed)) return bad;
    if (here < total) r = RET_RESULT_SIZE;  // more users follow
    if (pg.index != nullptr) *pg.index = head.flags;
    return r;
  }
  if (arrived) {
    *pg.count = be32_at(resp + 24);
    if (pg.index != nullptr) *pg.index = be32_at(resp + 4);
  }
  return r;
}

bool bad_page(const Page &pg) {
  return pg.buf == nullptr || pg.len == nullptr || pg.count == nullptr;
}

Uint32 Qel2BackupUsersCommon(Uint32 ulSessionHandle, Uint8 p_no, Uint32 *ulUserIndex,
                             Uint8 *pEncUserInfo, Uint32 *ulEncUserInfoLen, Uint32 *ulUserCount,
                             Uint32 ulUserType) {
  const Page pg{ulUserIndex, pEncUserInfo, ulEncUserInfoLen, ulUserCount};
  if (bad_page(pg)) return ERR_ARGUMENTS_BAD;
  CommandRecord<kPartitionRecordLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, 0, 0, ulUserIndex ? *ulUserIndex : 0, kPaged);
  cmd.w.u32(ulUserType).u32(partition_of(ulSessionHandle, p_no));
  return users_page(false, ulSessionHandle, cmd.bytes, cmd.w, pg);
}

Uint32 Qel2BackupHSMUsersCommon(Uint32 ulSessionHandle, Uint32 *ulUserIndex, Uint8 *pEncUserInfo,
                                Uint32 *ulEncUserInfoLen, Uint32 *ulUserCount, Uint32 ulUserType,
                                Uint8 ulPartitionIndex) {
  const Page pg{ulUserIndex, pEncUserInfo, ulEncUserInfoLen, ulUserCount};
  if (bad_page(pg) || (ulUserType != KQ_CRYPTO_USER && ulUserType != KQ_CRYPTO_OFFICER))
    return ERR_ARGUMENTS_BAD;
  CommandRecord<kHsmRecordLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, 0, 0, ulUserIndex ? *ulUserIndex : 0, kPaged);
  cmd.w.u8(ulPartitionIndex).u8(static_cast<uint8_t>(ulUserType)).zeros(2);
  return users_page(true, ulSessionHandle, cmd.bytes, cmd.w, pg);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2BackupUsersFromIndex(Uint32 ulSessionHandle, Uint8 p_no, Uint32 *ulUserIndex,
                                            Uint8 *pEncUserInfo, Uint32 *ulEncUserInfoLen,
                                            Uint32 *ulUserCount, Uint32 ulUserType) {
  return Qel2BackupUsersCommon(ulSessionHandle, p_no, ulUserIndex, pEncUserInfo, ulEncUserInfoLen,
                               ulUserCount, ulUserType);
}

QEL2_EXPORT Uint32 Qel2BackupUsers(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pEncUserInfo,
                                   Uint32 *ulEncUserInfoLen, Uint32 *ulUserCount,
                                   Uint32 ulUserType) {
  return Qel2BackupUsersCommon(ulSessionHandle, p_no, nullptr, pEncUserInfo, ulEncUserInfoLen,
                               ulUserCount, ulUserType);
}

QEL2_EXPORT Uint32 Qel2BackupHSMUsersFromIndex(Uint32 ulSessionHandle, Uint32 *ulUserIndex,
                                               Uint8 *pEncUserInfo, Uint32 *ulEncUserInfoLen,
                                               Uint32 *ulUserCount, Uint32 ulUserType,
                                               Uint8 ulPartitionIndex) {
  return Qel2BackupHSMUsersCommon(ulSessionHandle, ulUserIndex, pEncUserInfo, ulEncUserInfoLen,
                                  ulUserCount, ulUserType, ulPartitionIndex);
}

QEL2_EXPORT Uint32 Qel2BackupHSMUsers(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                      Uint32 *ulEncUserInfoLen, Uint32 *ulUserCount,
                                      Uint32 ulUserType, Uint8 ulPartitionIndex) {
  return Qel2BackupHSMUsersCommon(ulSessionHandle, nullptr, pEncUserInfo, ulEncUserInfoLen,
                                  ulUserCount, ulUserType, ulPartitionIndex);
}

}  // extern "C"
