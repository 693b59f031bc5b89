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

  CommandRecord<sizeof(ExportPublicKeyCommand)> cmd;
  put_object_command(cmd.w, session, ulPubKey);
  MgmtRequest rq(KQ_EXPORT_PUB_KEY, session);
  rq.command(cmd).out_std_response().key_handle(ulPubKey);
  // One byte the HSM sends after the key is dropped.
  if (pKeyBuf) rq.out(pKeyBuf, capacity).out_discard(1);
  rq.send(OSTREL_BLOCKING, request_id);

  const Uint32 r = rq.result();
  if (rq.decode() == MgmtRequest::Decode::kNo) return r;
  ResponseHead head;
  rq.response_head(&head);
  // Key bytes the buffer could hold must have arrived.
  if (r == 0 && pKeyBuf && head.buffer_size <= capacity)
    if (Uint32 bad = rq.check_arrived(1, head.buffer_size)) return bad;
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
