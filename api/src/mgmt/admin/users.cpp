// Users of a partition: create, delete, list page by page, change password.
// Passwords, public keys and signatures travel as the caller gives them.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "qel2_admin.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr uint32_t kNameField = QEL2_USER_NAME_FIELD;
constexpr uint32_t kPublicKeyFlag = 0x40000000;  // first byte of ulFlags 0x40
constexpr size_t kListHeadLen = 24;              // ResponseHeader, total count, count
constexpr uint32_t kUserRecordLen = 64;          // CreateUserCommand / SetPINCommand
constexpr size_t kDeleteUserLen = 64;            // header, type, name length, name, reserved
constexpr size_t kListUsersLen = 28;             // header, begin index, count

// User names are C strings: the stated length must be the name's own,
// counted up to 32 characters.
bool length_matches(const Uint8 *name, Uint32 name_len) {
  return strnlen(reinterpret_cast<const char *>(name), kNameField) == name_len;
}

// A name that fills the whole field leaves no room for its NUL.
Uint32 check_name(const Uint8 *name, Uint32 name_len) {
  if (!length_matches(name, name_len)) return ERR_INVALID_INPUT;
  if (name_len >= kNameField) return ERR_INVALID_STRING_OP;
  return 0;
}

bool valid_name_chars(const Uint8 *name, Uint32 name_len) {
  for (Uint32 i = 0; i < name_len && name[i]; ++i)
    if (!std::isalnum(name[i]) && name[i] != '_') return false;
  return true;
}

uint16_t create_opcode(Uint32 type) {
  switch (type) {
    case KQ_CRYPTO_USER:
      return KQ_CREATE_USER;
    case KQ_CRYPTO_OFFICER:
      return KQ_CREATE_CO;
    case KQ_APPLIANCE_USER:
      return KQ_CREATE_APPLIANCE_USER;
    case KQ_CRYPTO_PRE_OFFICER:
      return KQ_CREATE_PRE_OFFICER;
    default:
      return 0;
  }
}

// The record shared by create and change password, then its segments:
// password (when any), public key, signature. Sends blocking.
struct UserRecordRequest {
  CommandRecord<kUserRecordLen> cmd;
  uint8_t resp[sizeof(StdResponse)] = {};
  MgmtRequest rq;

  UserRecordRequest(uint16_t opcode, Uint32 handle, Uint32 type, const Uint8 *name, Uint32 name_len,
                    const Uint8 *pswd, Uint32 pswd_len, const Uint8 *pub, const Uint8 *sig)
      : rq(opcode, handle) {
    put_session_header(cmd.w, handle, pub ? kPublicKeyFlag : 0);
    cmd.w.u32(type).u32(name_len).fixed(name, name_len, kNameField).u32(pswd_len);
    rq.command(cmd);
    if (pswd_len) rq.in(pswd, pswd_len);
    if (pub) rq.in(pub, QEL2_USER_PUBLIC_KEY_LEN);
    if (sig) rq.in(sig, QEL2_USER_SIGNATURE_LEN);
    rq.out(resp, sizeof resp);
  }
};

}  // namespace

Uint32 Qel2CreateUserCommon(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                            Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                            const Uint8 *pPublicKey, const Uint8 *pSignature, void *buffer_ev) {
  if (enc_pswd == nullptr || name == nullptr) return ERR_INVALID_INPUT;
  if (!length_matches(name, name_len)) return ERR_INVALID_INPUT;
  if (!valid_name_chars(name, name_len)) {
    printf("\n\nUser name validation failed for CREATE_USER\n");
    return RET_INVALID_INPUT;
  }
  uint16_t opcode = create_opcode(ulUserType);
  if (opcode == 0) return ERR_INVALID_INPUT;
  if (Uint32 r = check_name(name, name_len)) return r;

  Uint32 handle = masked_session(ulSessionHandle);
  UserRecordRequest u(opcode, handle, ulUserType, name, name_len, enc_pswd, pswd_len, pPublicKey,
                      pSignature);
  if (Uint32 r = u.rq.check_data_len()) return r;
  if (buffer_ev) return u.rq.callback_args(buffer_ev).send();
  u.rq.send();
  return u.rq.result();
}

Uint32 Qel2ChangeUserPswdCommon(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                const Uint8 *pPublicKey, const Uint8 *pSignature) {
  if (pswd_len == 0 || name == nullptr || enc_pswd == nullptr) return ERR_INVALID_INPUT;
  if (Uint32 r = check_name(name, name_len)) return r;
  Uint32 handle = masked_session(ulSessionHandle);
  UserRecordRequest u(KQ_CHANGE_PSWD, handle, ulUserType, name, name_len, enc_pswd, pswd_len,
                      pPublicKey, pSignature);
  if (Uint32 r = u.rq.check_data_len()) return r;
  u.rq.send();
  return u.rq.result();
}

Uint32 Qel2ListUsersCommon(Uint32 ulSessionHandle, Uint32 LastFoundUserID, UserInfo *pUsers,
                           Uint32 *pulCount, Uint32 *pulTotalCount, Uint32 *request_id) {
  if (LastFoundUserID > QEL2_MAX_USER_INDEX || pulCount == nullptr) return ERR_INVALID_INPUT;
  Uint32 wanted = *pulCount;
  if (wanted > QEL2_MAX_LIST_USERS) {
    printf("Cannot list %d users at once, Only %d users can be retrieved at a time\n",
           static_cast<int>(wanted), QEL2_MAX_LIST_USERS);
    return ERR_INVALID_INPUT;
  }
  Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kListUsersLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u32(LastFoundUserID).u32(wanted);
  uint8_t head[kListHeadLen] = {};
  MgmtRequest rq(KQ_LIST_USERS, handle);
  rq.command(cmd).out(head, sizeof head);
  if (pUsers) rq.out(pUsers, static_cast<uint32_t>(sizeof(UserInfo) * wanted));
  // The response length names the whole page, also when only the counts are fetched.
  const auto page = static_cast<uint16_t>(kListHeadLen + sizeof(UserInfo) * wanted);
  rq.lengths(kListUsersLen, page).params(kListUsersLen, page);
  rq.send();
  if (request_id) *request_id = rq.request_id();

  Uint32 r = rq.result();
  // 183: the head still tells the counts.
  if (rq.decode() == MgmtRequest::Decode::kNo) return r;
  BeReader rd(head + kResponseHeaderLen, sizeof head - kResponseHeaderLen);
  Uint32 total = rd.u32();
  Uint32 count = rd.u32();
  if (r == 0 && pUsers && wanted != 0 && count > wanted) r = ERR_BUFFER_TOO_SMALL;
  *pulCount = count;
  if (pulTotalCount) *pulTotalCount = total;
  return r;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2CreateUser(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                  Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len) {
  return Qel2CreateUserCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, pswd_len,
                              nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2CreateUserNew(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                     Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                     const Uint8 *pPublicKey, const Uint8 *pSignature) {
  return Qel2CreateUserCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, pswd_len,
                              pPublicKey, pSignature, nullptr);
}

QEL2_EXPORT Uint32 Qel2CreateUser2(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                   Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                   const Uint8 *pPublicKey, const Uint8 *pSignature) {
  return Qel2CreateUserNew(ulSessionHandle, ulUserType, name, name_len, enc_pswd, pswd_len,
                           pPublicKey, pSignature);
}

QEL2_EXPORT Uint32 Qel2CreateUserNew2(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                      Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                      const Uint8 *pPublicKey, const Uint8 *pSignature,
                                      void *buffer_ev) {
  return Qel2CreateUserCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, pswd_len,
                              pPublicKey, pSignature, buffer_ev);
}

QEL2_EXPORT Uint32 Qel2CreateCOPIN(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                   const Uint8 *enc_pswd, Uint32 pswd_len) {
  return Qel2CreateUserCommon(ulSessionHandle, KQ_CRYPTO_OFFICER, name, name_len, enc_pswd,
                              pswd_len, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2CreateCUPIN(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                   const Uint8 *enc_pswd, Uint32 pswd_len) {
  return Qel2CreateUserCommon(ulSessionHandle, KQ_CRYPTO_USER, name, name_len, enc_pswd, pswd_len,
                              nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2DeleteUser(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                  Uint8 name_len) {
  if (name == nullptr || !length_matches(name, name_len)) {
    printf("\n Invalid username len [%d] and Max len [%d]", static_cast<int>(name_len),
           static_cast<int>(kNameField));
    return ERR_INVALID_INPUT;
  }
  if (name_len >= kNameField) return ERR_INVALID_STRING_OP;
  Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kDeleteUserLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u32(ulUserType).u32(name_len).fixed(name, name_len, kNameField).u32(0);
  uint8_t resp[sizeof(StdResponse)] = {};
  MgmtRequest rq(KQ_DELETE_USER, handle);
  rq.command(cmd).out(resp, sizeof resp);
  rq.send();
  return rq.result();
}

QEL2_EXPORT Uint32 Qel2ListUsers(Uint32 ulSessionHandle, Uint32 LastFoundUserID, UserInfo *pUsers,
                                 Uint32 *pulCount, Uint32 *pulTotalCount) {
  return Qel2ListUsersCommon(ulSessionHandle, LastFoundUserID, pUsers, pulCount, pulTotalCount,
                             nullptr);
}

QEL2_EXPORT Uint32 Qel2ListUsers2(Uint32 ulSessionHandle, Uint32 LastFoundUserID, UserInfo *pUsers,
                                  Uint32 *pulCount, Uint32 *pulTotalCount, Uint32 *request_id) {
  return Qel2ListUsersCommon(ulSessionHandle, LastFoundUserID, pUsers, pulCount, pulTotalCount,
                             request_id);
}

QEL2_EXPORT Uint32 Qel2ChangeUserPswd(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                      Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                      const Uint8 *pPublicKey, const Uint8 *pSignature) {
  return Qel2ChangeUserPswd2(ulSessionHandle, ulUserType, name, name_len, enc_pswd, pswd_len,
                             pPublicKey, pSignature);
}

QEL2_EXPORT Uint32 Qel2ChangeUserPswd2(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                       Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                       const Uint8 *pPublicKey, const Uint8 *pSignature) {
  return Qel2ChangeUserPswdCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, pswd_len,
                                  pPublicKey, pSignature);
}

}  // extern "C"
