// Requests about one existing object that go to the cluster server holding
// it: key information, sharing, destruction and tombstones. Their commands
// carry the handle as that server knows it (the low 27 bits).
#include <algorithm>
#include <cstdio>

#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kObjectCommandLen = sizeof(GetObjectInfoCommand);
// The answer has room for this many sessions and users.
constexpr size_t kMaxShareEntries = 8;

// Copies the shared sessions or users of a key-information answer. A null
// array asks for the count; a count smaller than the key's is 183 with the
// count needed and nothing copied.
template <typename T>
Uint32 copy_share_entries(uint8_t have, BeReader entries, T *dst, Uint8 *count) {
  if (have == 0) {
    *count = 0;
    return 0;
  }
  const uint8_t room = *count;
  *count = have;
  if (dst == nullptr) return 0;
  if (room < have) return RET_RESULT_SIZE;
  const size_t n = std::min<size_t>(have, kMaxShareEntries);
  for (size_t i = 0; i < n; ++i)
    dst[i] = sizeof(T) == 4 ? static_cast<T>(entries.u32()) : static_cast<T>(entries.u16());
  return 0;
}

// The share list: a session block and a user block, each present only when
// its count is not zero.
size_t build_share_list(uint8_t *list, size_t cap, const Uint32 *sessions, uint8_t n_sessions,
                        const Uint16 *users, uint8_t n_users) {
  BeWriter w(list, cap);
  if (n_sessions) {
    w.fixed(QEL2_SHARE_SESSIONS_NAME, sizeof QEL2_SHARE_SESSIONS_NAME - 1, QEL2_SHARE_NAME_FIELD)
        .u8(n_sessions);
    for (uint8_t i = 0; i < n_sessions; ++i) w.u32(sessions[i]);
  }
  if (n_users) {
    w.fixed(QEL2_SHARE_USERS_NAME, sizeof QEL2_SHARE_USERS_NAME - 1, QEL2_SHARE_NAME_FIELD)
        .u8(n_users);
    for (uint8_t i = 0; i < n_users; ++i) w.u16(users[i]);
  }
  return w.ok() ? w.size() : 0;
}

// Destroy, tombstone, destroy-tombstoned: the bare command, a bare answer.
Uint32 send_object_command(Uint16 opcode, Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                           bool whole_handle_in_descriptor, Uint32 *request_id) {
  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<kObjectCommandLen> cmd;
  put_object_command(cmd.w, session, object_local_handle(ulKeyHandle));
  MgmtRequest rq(opcode, session);
  rq.command(cmd).out_std_response().object(ulKeyHandle);
  if (whole_handle_in_descriptor) rq.key_handle(ulKeyHandle);
  rq.send(OSTREL_BLOCKING, request_id);
  return rq.result();
}

}  // namespace

Uint32 Qel2GetKeyInfoCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *pSessions,
                            Uint8 *pSessCount, Uint16 *pUsers, Uint8 *pUserCount, Uint8 *pMValue,
                            Uint32 *request_id) {
  if (!pSessCount || !pUserCount || !pMValue) return ERR_INVALID_INPUT;
  const uint32_t session = masked_session(ulSessionHandle);
  // The HSM reads a 68-byte command: the record, then zeros.
  CommandRecord<QEL2_GET_OBJECT_INFO_SEGMENT> cmd;
  put_object_command(cmd.w, session, object_local_handle(ulKeyHandle));
  cmd.w.zeros(QEL2_GET_OBJECT_INFO_SEGMENT - kObjectCommandLen);
  uint8_t resp[sizeof(GetObjectInfoResponse)] = {};
  MgmtRequest rq(KQ_GET_OBJECT_INFO, session);
  rq.command(cmd).out_local(resp, sizeof resp).key_handle(ulKeyHandle).object(ulKeyHandle);
  rq.send(OSTREL_BLOCKING, request_id);
  if (Uint32 r = rq.result()) return r;

  const uint8_t sess_count = resp[offsetof(GetObjectInfoResponse, SessCount)];
  const uint8_t user_byte = resp[offsetof(GetObjectInfoResponse, UserCount)];
  BeReader sessions(resp + offsetof(GetObjectInfoResponse, sessions), 4 * QEL2_MAX_SHARED_SESSIONS);
  BeReader users(resp + offsetof(GetObjectInfoResponse, users), 2 * QEL2_MAX_SHARED_USERS);
  if (Uint32 r = copy_share_entries(sess_count, sessions, pSessions, pSessCount)) return r;
  *pMValue = user_byte & 0x0F;
  if (Uint32 r =
          copy_share_entries(static_cast<uint8_t>(user_byte >> 4), users, pUsers, pUserCount))
    return r;
  return 0;
}

Uint32 Qel2ShareKeyCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint8 share,
                          const Uint32 *pSessions, Uint8 ulSessCount, const Uint16 *pUsers,
                          Uint8 ulUserCount, Uint32 *request_id) {
  if (ulSessCount > QEL2_MAX_SHARED_SESSIONS || ulUserCount > QEL2_MAX_SHARED_USERS)
    return ERR_INVALID_INPUT;
  if (ulSessCount == 0 && ulUserCount == 0) return ERR_INVALID_INPUT;
  if ((ulSessCount && !pSessions) || (ulUserCount && !pUsers)) return ERR_INVALID_INPUT;

  uint8_t list[2 * (QEL2_SHARE_NAME_FIELD + 1) + 4 * QEL2_MAX_SHARED_SESSIONS +
               2 * QEL2_MAX_SHARED_USERS] = {};
  const size_t list_len =
      build_share_list(list, sizeof list, pSessions, ulSessCount, pUsers, ulUserCount);
  if (list_len == 0) return ERR_INVALID_INPUT;

  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<kObjectCommandLen> cmd;
  put_object_command(cmd.w, session, object_local_handle(ulKeyHandle), share ? 1u : 0u);
  MgmtRequest rq(KQ_SHARE_OBJECT, session);
  rq.command(cmd)
      .in(list, static_cast<uint32_t>(list_len))
      .out_std_response()
      .key_handle(ulKeyHandle)
      .object(ulKeyHandle);
  rq.send(OSTREL_BLOCKING, request_id);
  return rq.result();
}

Uint32 Qel2DeleteKeyCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *request_id) {
  return send_object_command(KQ_DESTROY_OBJECT, ulSessionHandle, ulKeyHandle, true, request_id);
}

Uint32 Qel2TombstoneKeyCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle) {
  return send_object_command(KQ_TOMBSTONE_OBJECT, ulSessionHandle, ulKeyHandle, false, nullptr);
}

Uint32 Qel2DeleteTombstoneKeyCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle) {
  return send_object_command(KQ_DELETE_TOMBSTONED_OBJECT, ulSessionHandle, ulKeyHandle, false,
                             nullptr);
}

extern "C" {

QEL2_EXPORT Uint32 Qel2GetKeyInfo(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *pSessions,
                                  Uint8 *pSessCount, Uint16 *pUsers, Uint8 *pUserCount,
                                  Uint8 *pMValue, Uint32 *request_id) {
  return Qel2GetKeyInfoCommon(ulSessionHandle, ulKeyHandle, pSessions, pSessCount, pUsers,
                              pUserCount, pMValue, request_id);
}

QEL2_EXPORT Uint32 Qel2ShareKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint8 share,
                                const Uint32 *pSessions, Uint8 ulSessCount, const Uint16 *pUsers,
                                Uint8 ulUserCount, Uint32 *request_id) {
  return Qel2ShareKeyCommon(ulSessionHandle, ulKeyHandle, share, pSessions, ulSessCount, pUsers,
                            ulUserCount, request_id);
}

QEL2_EXPORT Uint32 Qel2DeleteKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle) {
  return Qel2DeleteKeyCommon(ulSessionHandle, ulKeyHandle, nullptr);
}

QEL2_EXPORT Uint32 Qel2DeleteKey2(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *request_id) {
  return Qel2DeleteKeyCommon(ulSessionHandle, ulKeyHandle, request_id);
}

QEL2_EXPORT Uint32 Qel2TombstoneKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle) {
  return Qel2TombstoneKeyCommon(ulSessionHandle, ulKeyHandle);
}

QEL2_EXPORT Uint32 Qel2DeleteTombstoneKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle) {
  return Qel2DeleteTombstoneKeyCommon(ulSessionHandle, ulKeyHandle);
}

}  // extern "C"
