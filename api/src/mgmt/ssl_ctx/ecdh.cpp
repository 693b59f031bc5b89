// ECDH between a private key object and a peer's public key; the shared
// secret stays in the SSL context.
#include "qel2_errors.h"
#include "qel2_sign.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

extern "C" {

QEL2_EXPORT Uint32 Qel2Ecdh(Uint32 ulSessionHandle, Uint8 *pub_key, Uint32 pub_key_len,
                            Uint64 key_handle, Uint32 ulCurveID, Uint64 context_ptr) {
  if (!pub_key) return ERR_INVALID_INPUT;
  // 64-bit sum: a length near 4 GiB must not wrap below the limit.
  if (uint64_t{pub_key_len} + sizeof(TlsEcdhCommand) > kMaxDataLen) return ERR_BUFFER_TOO_BIG;
  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<sizeof(TlsEcdhCommand)> cmd;
  put_session_header(cmd.w, session);
  cmd.w.u32(ulCurveID).u32(pub_key_len).u32(static_cast<uint32_t>(key_handle));
  MgmtRequest rq(KQ_ECC_DH, session);
  rq.command(cmd).in(pub_key, pub_key_len).out_std_response();
  rq.ctx_ptr(context_ptr).key_handle(key_handle);
  rq.send();
  return rq.result();
}

}  // extern "C"
