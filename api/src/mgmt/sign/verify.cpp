// Verifying a signature with a public key object; the HSM's verdict is the
// result.
#include "qel2_errors.h"
#include "qel2_sign.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr uint32_t kVerifyCommandLen = sizeof(VerifyCommand);

Uint32 Qel2VerifyCommon(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                        Uint32 sig_len, Uint64 key_handle, Uint32 ulMech,
                        Uint32 dropInternalHashing) {
  if (!msg || !sig) return ERR_INVALID_INPUT;
  // 64-bit sum: two lengths near 4 GiB must not wrap below the limit.
  if (uint64_t{msg_len} + sig_len + kVerifyCommandLen > kMaxDataLen) return ERR_BUFFER_TOO_BIG;
  const uint32_t session = masked_session(ulSessionHandle);

  CommandRecord<kVerifyCommandLen> cmd;
  put_session_header(cmd.w, session, dropInternalHashing);
  cmd.w.u32(sig_len).u32(msg_len).u32(ulMech).u32(0).u32(static_cast<uint32_t>(key_handle));
  MgmtRequest rq(KQ_VERIFY, session);
  // The signature goes before the message.
  rq.command(cmd).in(sig, sig_len).in(msg, msg_len).out_std_response().key_handle(key_handle);
  rq.send();
  return rq.result();
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2Verify2(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                               Uint32 sig_len, Uint64 key_handle, Uint32 ulMech,
                               Uint32 dropInternalHashing) {
  return Qel2VerifyCommon(ulSessionHandle, msg, msg_len, sig, sig_len, key_handle, ulMech,
                          dropInternalHashing);
}

QEL2_EXPORT Uint32 Qel2Verify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                              Uint32 sig_len, Uint64 key_handle, Uint32 ulMech) {
  return Qel2VerifyCommon(ulSessionHandle, msg, msg_len, sig, sig_len, key_handle, ulMech, 0);
}

// The shorthands verify over a digest the caller made (SHA-1).
QEL2_EXPORT Uint32 Qel2RsaVerify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                                 Uint32 sig_len, Uint64 ulKeyHandle) {
  return Qel2VerifyCommon(ulSessionHandle, msg, msg_len, sig, sig_len, ulKeyHandle,
                          MECH_SHA1_RSA_PKCS, 1);
}

QEL2_EXPORT Uint32 Qel2DsaVerify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                                 Uint32 sig_len, Uint64 ulKeyHandle) {
  return Qel2VerifyCommon(ulSessionHandle, msg, msg_len, sig, sig_len, ulKeyHandle, MECH_DSA_SHA1,
                          1);
}

QEL2_EXPORT Uint32 Qel2EcdsaVerify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                                   Uint32 sig_len, Uint64 ulKeyHandle) {
  return Qel2VerifyCommon(ulSessionHandle, msg, msg_len, sig, sig_len, ulKeyHandle, MECH_ECDSA_SHA1,
                          1);
}

}  // extern "C"
