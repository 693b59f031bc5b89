// Login and logout, resent while the daemon or the HSM answers "retry".
#include <unistd.h>

#include <cstdio>

#include "mgmt/mgmt_common.h"
#include "mgmt/session/mgmt_workers.h"
#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr int kMaxResends = 100;
constexpr uint32_t kNameLimit = QEL2_LOGIN_NAME_FIELD;
const uint8_t kZeroFiller[QEL2_LOGIN_SECRET_ROOM] = {};
static_assert(sizeof(LoginCommand) + QEL2_LOGIN_SECRET_ROOM + 1 == QEL2_LOGIN_BODY_LEN);

bool asks_for_retry(const MgmtRequest &rq) {
  if (rq.request_status() == TESSALINE_RETRY_OP) return true;
  ResponseHead head;
  return rq.response_head(&head) && head.code == TESSALINE_RETRY_OP;
}

// Sends, then resends (at most 100 times, a pause after each) while the
// answer says "retry". Each resend restores the output sizes and clears the
// response, so the final answer alone decides the result.
Uint32 send_with_retry(MgmtRequest &rq, Uint32 *request_id) {
  Uint32 t = rq.send();
  for (int i = 0; t == 0 && i < kMaxResends && asks_for_retry(rq); ++i) {
    t = rq.send();
    usleep(retry_pause_us());
  }
  if (request_id) *request_id = rq.request_id();
  return t != 0 ? t : rq.result();
}

// A stated length beyond the name field is refused before any byte is read.
Uint32 check_name(const Uint8 *name, Uint32 name_len) {
  if (name_len > kNameLimit || bounded_name_len(name, name_len, kNameLimit) != name_len) {
    printf("Invalid input of username or password length");
    return ERR_INVALID_INPUT;
  }
  if (name_len >= kNameLimit) return ERR_INVALID_STRING_OP;
  return 0;
}

}  // namespace

Uint32 Qel2LoginHSMCommon(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                          Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                          const Uint8 *pSignature, Uint8 ucBlock_unauth_sess, Uint32 *request_id) {
  if (enc_pswd == nullptr || name == nullptr) {
    printf("Invalid username or password");
    return ERR_INVALID_INPUT;
  }
  if (Uint32 r = check_name(name, name_len)) return r;
  // The body has room for 356 bytes of password and signature together.
  uint64_t secret_len = uint64_t{enc_pswd_len} + (pSignature ? QEL2_LOGIN_SIGNATURE_LEN : 0);
  if (secret_len > QEL2_LOGIN_SECRET_ROOM) {
    printf("Invalid input of username or password length");
    return ERR_INVALID_INPUT;
  }

  Uint32 handle = masked_session(ulSessionHandle);
  bool signed_login = pSignature != nullptr || ulUserType == KQ_2FA_CRYPTO_USER;
  CommandRecord<sizeof(LoginCommand)> cmd;
  put_session_header(cmd.w, handle, signed_login ? QEL2_LOGIN_FLAG_SIGNED : 0);
  cmd.w.u32(ulUserType == KQ_2FA_CRYPTO_USER ? Uint32{KQ_CRYPTO_USER} : ulUserType)
      .u32(name_len)
      .fixed(name, name_len, QEL2_LOGIN_NAME_FIELD)
      .u32(enc_pswd_len);

  Uint8 block = ucBlock_unauth_sess;
  MgmtRequest rq(KQ_LOGIN, handle);
  rq.command(cmd);
  if (enc_pswd_len != 0) rq.in(enc_pswd, enc_pswd_len);
  if (pSignature) rq.in(pSignature, QEL2_LOGIN_SIGNATURE_LEN);
  rq.in(kZeroFiller, static_cast<uint32_t>(QEL2_LOGIN_SECRET_ROOM - secret_len)).in(&block, 1);
  rq.out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  return send_with_retry(rq, request_id);
}

Uint32 Qel2LogoutHSMCommon(Uint32 ulSessionHandle, Uint32 *request_id) {
  Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<sizeof(LogoutCommand)> cmd;
  put_session_header(cmd.w, handle);
  MgmtRequest rq(KQ_LOGOUT, handle);
  rq.command(cmd).out_std_response();
  return send_with_retry(rq, request_id);
}

extern "C" {

QEL2_EXPORT Uint32 Qel2LoginHSM(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len) {
  return Qel2LoginHSMCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, enc_pswd_len,
                            nullptr, 0, nullptr);
}

QEL2_EXPORT Uint32 Qel2LoginHSMNew(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                   Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                   const Uint8 *pSignature) {
  return Qel2LoginHSMCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, enc_pswd_len,
                            pSignature, 0, nullptr);
}

QEL2_EXPORT Uint32 Qel2LoginHSM2(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                 Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                 const Uint8 *pSignature) {
  return Qel2LoginHSMCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, enc_pswd_len,
                            pSignature, 0, nullptr);
}

QEL2_EXPORT Uint32 Qel2LoginHSM3(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                 Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                 const Uint8 *pSignature, Uint8 ucBlock_unauth_sess) {
  return Qel2LoginHSMCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, enc_pswd_len,
                            pSignature, ucBlock_unauth_sess, nullptr);
}

QEL2_EXPORT Uint32 Qel2LoginHSM4(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                 Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                 Uint32 *request_id) {
  return Qel2LoginHSMCommon(ulSessionHandle, ulUserType, name, name_len, enc_pswd, enc_pswd_len,
                            nullptr, 0, request_id);
}

QEL2_EXPORT Uint32 Qel2LogoutHSM(Uint32 ulSessionHandle, Uint32 ulUserType) {
  if (ulUserType != KQ_CRYPTO_USER && ulUserType != KQ_CRYPTO_OFFICER) return ERR_INVALID_INPUT;
  return Qel2LogoutHSMCommon(ulSessionHandle, nullptr);
}

QEL2_EXPORT Uint32 Qel2LogoutHSM2(Uint32 ulSessionHandle) {
  return Qel2LogoutHSMCommon(ulSessionHandle, nullptr);
}

QEL2_EXPORT Uint32 Qel2LogoutHSM3(Uint32 ulSessionHandle, Uint32 *request_id) {
  return Qel2LogoutHSMCommon(ulSessionHandle, request_id);
}

}  // extern "C"
