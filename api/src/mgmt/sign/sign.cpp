// Signing a message with a private key object; the signature comes back in
// the caller's buffer, its length in the answer's buffer size.
#include "qel2_errors.h"
#include "qel2_sign.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr uint32_t kSignCommandLen = sizeof(SignCommand);

Uint32 Qel2SignCommon(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                      Uint32 *sig_len, Uint64 key_handle, Uint32 ulMech,
                      Uint32 dropInternalHashing) {
  if (!sig || !sig_len || !msg) return ERR_INVALID_INPUT;
  // 64-bit sum: a length near 4 GiB must not wrap below the limit.
  if (uint64_t{msg_len} + kSignCommandLen > kMaxDataLen) return ERR_BUFFER_TOO_BIG;
  const uint32_t session = masked_session(ulSessionHandle);
  const Uint32 capacity = *sig_len;

  CommandRecord<kSignCommandLen> cmd;
  put_session_header(cmd.w, session, dropInternalHashing);
  cmd.w.u32(msg_len).u32(0).u32(ulMech).u64(key_handle);
  MgmtRequest rq(KQ_SIGN, session);
  rq.command(cmd).in(msg, msg_len).out_std_response().out(sig, capacity).key_handle(key_handle);
  rq.send();

  const Uint32 r = rq.result();
  if (rq.decode() == MgmtRequest::Decode::kNo) return r;
  ResponseHead head;
  rq.response_head(&head);
  if (r == 0) {
    // A success that claims more than the buffer holds or than arrived is
    // not a signature the caller can use.
    if (head.buffer_size > capacity) return ERR_BUFFER_TOO_SMALL;
    if (Uint32 bad = rq.check_arrived(1, head.buffer_size)) return bad;
  }
  *sig_len = head.buffer_size;
  return r;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2Sign2(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                             Uint32 *sig_len, Uint64 key_handle, Uint32 ulMech,
                             Uint32 dropInternalHashing) {
  return Qel2SignCommon(ulSessionHandle, msg, msg_len, sig, sig_len, key_handle, ulMech,
                        dropInternalHashing);
}

QEL2_EXPORT Uint32 Qel2Sign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                            Uint32 *sig_len, Uint64 key_handle, Uint32 ulMech) {
  return Qel2SignCommon(ulSessionHandle, msg, msg_len, sig, sig_len, key_handle, ulMech, 0);
}

// The shorthands sign a digest the caller made (SHA-1 for their mechanisms).
QEL2_EXPORT Uint32 Qel2RsaSign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                               Uint32 *sig_len, Uint64 ulKeyHandle) {
  return Qel2SignCommon(ulSessionHandle, msg, msg_len, sig, sig_len, ulKeyHandle,
                        MECH_SHA1_RSA_PKCS, 1);
}

QEL2_EXPORT Uint32 Qel2DsaSign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                               Uint32 *sig_len, Uint64 ulKeyHandle) {
  return Qel2SignCommon(ulSessionHandle, msg, msg_len, sig, sig_len, ulKeyHandle, MECH_DSA_SHA1, 1);
}

QEL2_EXPORT Uint32 Qel2EcdsaSign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                                 Uint32 *sig_len, Uint64 ulKeyHandle) {
  return Qel2SignCommon(ulSessionHandle, msg, msg_len, sig, sig_len, ulKeyHandle, MECH_ECDSA_SHA1,
                        1);
}

}  // extern "C"
