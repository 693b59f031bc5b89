// Random bytes, one-shot and three-step digests, and HMAC with a key on the HSM.
#include <cstdio>

#include "crypto/raw_request.h"

using namespace qel2::crypto;

namespace {

enum : uint8_t {
  kMinorRandom = 1,
  kMinorUpdate = 0,
  kMinorStart = 2,
  kMinorFinish = 4,
  kMinorOneShot = 6
};

bool hash_type_known(HashType t) { return t >= MD5_TYPE && t <= SHA224_TYPE; }

// The message and checks shared by the three steps: the type, then the context.
uint32_t check_step(HashType t, uint64_t ctx) {
  if (!hash_type_known(t)) {
    puts("Invalid Hash type.");
    return ERR_ARGUMENTS_BAD;
  }
  if (ctx == 0) {
    puts("Invalid Context Handle.");
    return ERR_ARGUMENTS_BAD;
  }
  return 0;
}

// A three-step request: command type 1, the hash type in param2, the context.
struct StepRequest : RawRequest {
  StepRequest(uint8_t minor, Uint32 session_handle, uint64_t ctx, HashType t)
      : RawRequest(KQ_VANTOR_CMD, opcode(major::kHash, minor), masked(session_handle)) {
    params(0, static_cast<uint16_t>(t)).ctx(ctx).dma_mode();
  }
};

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2Random(Uint32 session_handle, OperationMode operation_mode, Uint16 length,
                              Uint8 *random, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(operation_mode, request_id)) return r;
  // Length 0 asks for nothing: it goes out with an empty output segment.
  if (!random && length != 0) return ERR_ARGUMENTS_BAD;
  RawRequest rq(KQ_VANTOR_CMD, opcode(major::kRandom, kMinorRandom),
                RawRequest::masked(session_handle));
  rq.params(length, 0).out(random, length);
  return rq.send(operation_mode, request_id);
}

QEL2_EXPORT Uint32 Qel2Hmac(Uint32 session_handle, request_type request_type, HashType hash_type,
                            Uint64 key_handle, Uint16 message_length, Uint8 *message, Uint8 *hmac,
                            Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (hash_type == MD5_TYPE) {
    puts("Unsupported hash type MD5 ");
    return ERR_ARGUMENTS_BAD;
  }
  const Sha2Iv iv = get_sha2_iv(hash_type);
  const uint32_t h = get_hash_size(hash_type);
  RawRequest rq(KQ_NON_SSL_VANTOR_CMD, opcode(major::kHmac, kMinorOneShot),
                RawRequest::masked(session_handle));
  rq.params(8, static_cast<uint16_t>(hash_type)).dma_mode();
  if (static_cast<int>(hash_type) > SHA256_TYPE) rq.in(iv.bytes, iv.size);
  rq.key(key_handle).in(message, message_length).out(hmac, h, kHashOutOffset);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Hash(Uint32 session_handle, request_type request_type, HashType hash_type,
                            Uint16 message_length, Uint8 *message, Uint8 *hash,
                            Uint32 *request_id) {
  if ((message_length != 0 && !message) || !hash) {
    fputs("NULL message / hash pointer in request", stdout);
    return ERR_ARGUMENTS_BAD;
  }
  if (uint32_t r = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return r;
  if (hash_type == MD5_TYPE) {
    puts("Unsupported hash type MD5 ");
    return ERR_ARGUMENTS_BAD;
  }
  if (!hash_type_known(hash_type)) {
    puts("Invalid Hash Size.");
    return ERR_ARGUMENTS_BAD;
  }
  const Sha2Iv iv = get_sha2_iv(hash_type);
  RawRequest rq(KQ_VANTOR_CMD, opcode(major::kHash, kMinorOneShot),
                RawRequest::masked(session_handle));
  rq.params(0, static_cast<uint16_t>(hash_type)).dma_mode();
  if (iv.size) rq.in(iv.bytes, iv.size);
  rq.in(message, message_length).out(hash, get_hash_size(hash_type), kHashOutOffset);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2HashStart(Uint32 session_handle, request_type request_type,
                                 Uint64 context_handle, HashType hash_type, Uint16 message_length,
                                 Uint8 *message, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return r;
  if (uint32_t r = check_step(hash_type, context_handle)) return r;
  const Sha2Iv iv = get_sha2_iv(hash_type);
  StepRequest rq(kMinorStart, session_handle, context_handle, hash_type);
  if (iv.size) rq.in(iv.bytes, iv.size);
  // A length without its message is refused, as the one-shot digest does.
  if (message_length != 0) rq.in(message, message_length);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2HashUpdate(Uint32 session_handle, request_type request_type,
                                  Uint64 context_handle, HashType hash_type, Uint16 message_length,
                                  Uint8 *message, Uint32 *request_id) {
  if (!message) {
    fputs("NULL message pointer in request", stdout);
    return ERR_ARGUMENTS_BAD;
  }
  if (uint32_t r = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return r;
  if (uint32_t r = check_step(hash_type, context_handle)) return r;
  StepRequest rq(kMinorUpdate, session_handle, context_handle, hash_type);
  rq.in(message, message_length);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2HashFinish(Uint32 session_handle, request_type request_type,
                                  Uint64 context_handle, HashType hash_type, Uint16 message_length,
                                  Uint8 *message, Uint8 *final_hash, Uint32 *request_id) {
  if (!final_hash) {
    fputs("NULL final hash pointer in request", stdout);
    return ERR_ARGUMENTS_BAD;
  }
  if (uint32_t r = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return r;
  if (uint32_t r = check_step(hash_type, context_handle)) return r;
  StepRequest rq(kMinorFinish, session_handle, context_handle, hash_type);
  if (message_length != 0) rq.in(message, message_length);
  rq.out(final_hash, get_hash_size(hash_type), kHashOutOffset);
  return rq.send(request_type, request_id);
}

}  // extern "C"
