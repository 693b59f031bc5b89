// RC4 with its state in an HSM context: a key object is loaded into the
// context once, then data runs through the key stream, the advanced state
// saved back or not.
#include "crypto/raw_request.h"

using namespace qel2::crypto;

extern "C" {

QEL2_EXPORT Uint32 Qel2InitializeRc4(Uint32 session_handle, request_type request_type,
                                     Uint64 context_handle, Uint64 key_handle, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_context(context_handle, true)) return r;
  // Never the DMA bit, and the descriptor's DMA mode stays 0.
  RawRequest rq(KQ_NON_SSL_VANTOR_CMD, 0x0901, RawRequest::masked(session_handle));
  rq.ctx(context_handle).key(key_handle);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2EncryptRc4(Uint32 session_handle, request_type request_type,
                                  Uint64 context_handle, ContextUpdate context_update,
                                  Uint16 length, Uint8 *input, Uint8 *output, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_context(context_handle)) return r;
  if (length > kMaxCipherLen) return ERR_UNSUPPORTED_INPUT_LENGTH;
  if (static_cast<uint32_t>(context_update) > UPDATE) return ERR_ARGUMENTS_BAD;
  const uint8_t minor =
      context_update == UPDATE ? MINOR_OP_RC4_ENC_DEC_WITH_CTX_UPDATE : MINOR_OP_RC4_ENC_DEC;
  RawRequest rq(KQ_VANTOR_CMD, opcode(major::kCipher, minor), RawRequest::masked(session_handle));
  rq.ctx(context_handle).dma_mode().in(input, length).out(output, length);
  return rq.send(request_type, request_id);
}

}  // extern "C"
