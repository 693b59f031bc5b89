// Exporting the bytes of a public key object.
#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

extern "C" {

QEL2_EXPORT Uint32 Qel2ExportPublicKey2(Uint32 ulSessionHandle, Uint64 ulPubKey, Uint8 *pKeyBuf,
                                        Uint32 *pulBufLen, Uint32 *request_id) {
  if (!pulBufLen) return ERR_INVALID_INPUT;
  const uint32_t session = masked_session(ulSessionHandle);
  const Uint32 capacity = *pulBufLen;

  uint8_t cmd[sizeof(ExportPublicKeyCommand)] = {};
  BeWriter w(cmd, sizeof cmd);
  put_object_command(w, session, ulPubKey);
  uint8_t resp[sizeof(StdResponse)] = {};
  uint8_t trailer = 0;  // one byte the HSM sends after the key; dropped
  MgmtRequest rq(KQ_EXPORT_PUB_KEY, session);
  rq.in(cmd, sizeof cmd).out(resp, sizeof resp).key_handle(ulPubKey);
  if (pKeyBuf) rq.out(pKeyBuf, capacity).out(&trailer, sizeof trailer);
  rq.send(OSTREL_BLOCKING, request_id);

  const Uint32 r = rq.result();
  if (r != 0 && r != RET_RESULT_SIZE) return r;
  ResponseHead head;
  if (!rq.response_head(&head)) return TESSALINE_INVALID_MSG;
  *pulBufLen = head.buffer_size;
  // A success that claims more key bytes than the buffer took is a short buffer.
  if (r == 0 && pKeyBuf && head.buffer_size > capacity) return ERR_BUFFER_TOO_SMALL;
  return r;
}

QEL2_EXPORT Uint32 Qel2ExportPublicKey(Uint32 ulSessionHandle, Uint64 ulPubKey, Uint8 *pKeyBuf,
                                       Uint32 *pulBufLen) {
  return Qel2ExportPublicKey2(ulSessionHandle, ulPubKey, pKeyBuf, pulBufLen, nullptr);
}

}  // extern "C"
