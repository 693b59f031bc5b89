// 3DES and AES with a key on the HSM: CBC with the caller's IV, ECB, and
// AES-CTR; the plain builders, the capacity ("2") and mode-selecting variants
// and the aliases.
#include <cstdio>

#include "crypto/raw_request.h"

using namespace qel2::crypto;

namespace {

constexpr uint8_t kDesIv = 8, kAesIv = 16;

// One cipher request: [iv] [key segment] [input], then the output segment
// when there is one; command type 4, the application's DMA mode.
struct CipherRequest {
  uint16_t opcode;
  uint16_t param1 = 0;
  const Uint8 *iv = nullptr;
  uint32_t iv_len = 0;  // 0: no IV segment (ECB)
  bool has_output = true;
  uint32_t out_size = 0, out_meaningful = 0;
  // Bytes a success must deliver: the whole output, or for a capacity
  // larger than the result the result's length.
  uint32_t out_need = kWholeOutput;
  static constexpr uint32_t kWholeOutput = 0xFFFFFFFF;
};

Uint32 send_cipher(const CipherRequest &c, Uint32 session_handle, request_type rt, Uint16 length,
                   const Uint8 *input, Uint8 *output, Uint64 key_handle, Uint32 *request_id) {
  RawRequest rq(KQ_NON_SSL_VANTOR_CMD, c.opcode, RawRequest::masked(session_handle));
  rq.params(c.param1, 0).dma_mode();
  if (c.iv_len) rq.in(c.iv, c.iv_len);
  rq.key(key_handle).in(input, length);
  if (c.has_output) {
    if (c.out_need == CipherRequest::kWholeOutput)
      rq.out(output, c.out_size, c.out_meaningful);
    else
      rq.out_upto(output, c.out_size, c.out_need);
  }
  return rq.send(rt, request_id);
}

uint32_t check_length(Uint16 length) {
  return length > kMaxCipherLen ? static_cast<uint32_t>(ERR_UNSUPPORTED_INPUT_LENGTH) : 0u;
}

uint32_t check_mode(CipherMode mode, const char *message) {
  if (mode == CBC || mode == ECB) return 0;
  puts(message);
  return ERR_ARGUMENTS_BAD;
}

uint16_t mode_param(CipherMode mode) { return static_cast<uint16_t>(mode * 8); }

// The capacity variants: output segment of the caller's capacity, when an
// output buffer is given; the result has the size `natural` (the input's
// length, rounded to whole blocks by an encryption).
Uint32 send_capacity(uint16_t opcode, uint32_t iv_len, uint32_t natural, Uint32 session_handle,
                     request_type rt, Uint16 length, const Uint8 *input, Uint8 *output,
                     const Ulong *capacity, const Uint8 *iv, Uint64 key_handle,
                     Uint32 *request_id) {
  const uint32_t cap = static_cast<uint32_t>(*capacity);
  CipherRequest c{
      opcode, 0, iv, iv_len, output != nullptr, cap, cap, cap < natural ? cap : natural};
  return send_cipher(c, session_handle, rt, length, input, output, key_handle, request_id);
}

Uint32 aes_by_mode(bool encrypt, Uint32 session_handle, request_type rt, Uint16 length,
                   Uint8 *input, Uint8 *output, CipherMode mode, Uint8 *iv, Uint64 key_handle,
                   Uint32 *request_id) {
  if (!input || !output || (mode != ECB && !iv)) {
    puts("Invalid Arguments ");
    return ERR_ARGUMENTS_BAD;
  }
  if (uint32_t r = check_nonblocking(rt, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  if (uint32_t r = check_mode(mode, encrypt ? "Unsupported AES encryption mode input"
                                            : "Unsupported AES decryption mode input"))
    return r;
  const uint16_t size = encrypt && mode == CBC ? r16_16(length) : length;
  CipherRequest c{opcode(major::kCipher, encrypt ? MINOR_OP_AES_ENC : MINOR_OP_AES_DEC),
                  mode_param(mode),
                  iv,
                  mode == CBC ? kAesIv : 0u,
                  true,
                  size,
                  length};
  return send_cipher(c, session_handle, rt, length, input, output, key_handle, request_id);
}

Uint32 des3_by_mode(bool encrypt, Uint32 session_handle, request_type rt, Uint16 length,
                    Uint8 *input, Uint8 *output, CipherMode mode, Uint8 *iv, Uint64 key_handle,
                    Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(rt, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  if (uint32_t r = check_mode(mode, "Unsupported dsa encryption mode input")) return r;
  CipherRequest c{opcode(major::kCipher, encrypt ? MINOR_OP_DES3_ENC : MINOR_OP_DES3_DEC),
                  mode_param(mode),
                  iv,
                  mode == CBC ? kDesIv : 0u,
                  output != nullptr,
                  r8_16(length),
                  length};
  return send_cipher(c, session_handle, rt, length, input, output, key_handle, request_id);
}

Uint32 aes_ctr(uint16_t op, Uint32 session_handle, request_type rt, Uint16 length, Uint8 *input,
               Uint8 *output, Uint8 *iv, Uint64 key_handle, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(rt, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  CipherRequest c{op, length, iv, kAesIv, output != nullptr, length, length};
  return send_cipher(c, session_handle, rt, length, input, output, key_handle, request_id);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2Encrypt3Des(Uint32 session_handle, request_type request_type, Uint16 length,
                                   Uint8 *input, Uint8 *output, Uint8 *iv, Uint64 key_handle,
                                   Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  CipherRequest c{
      opcode(major::kCipher, MINOR_OP_DES3_ENC), 0, iv, kDesIv, true, r8_16(length), length};
  return send_cipher(c, session_handle, request_type, length, input, output, key_handle,
                     request_id);
}

QEL2_EXPORT Uint32 Qel2Decrypt3Des(Uint32 session_handle, request_type request_type, Uint16 length,
                                   Uint8 *input, Uint8 *output, Uint8 *iv, Uint64 key_handle,
                                   Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  CipherRequest c{opcode(major::kCipher, MINOR_OP_DES3_DEC), 0, iv, kDesIv, true, length, length};
  return send_cipher(c, session_handle, request_type, length, input, output, key_handle,
                     request_id);
}

QEL2_EXPORT Uint32 Qel2EncryptAes(Uint32 session_handle, request_type request_type, Uint16 length,
                                  Uint8 *input, Uint8 *output, Uint8 *iv, Uint64 key_handle,
                                  Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  CipherRequest c{
      opcode(major::kCipher, MINOR_OP_AES_ENC), 0, iv, kAesIv, true, r16_16(length), length};
  return send_cipher(c, session_handle, request_type, length, input, output, key_handle,
                     request_id);
}

QEL2_EXPORT Uint32 Qel2DecryptAes(Uint32 session_handle, request_type request_type, Uint16 length,
                                  Uint8 *input, Uint8 *output, Uint8 *iv, Uint64 key_handle,
                                  Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (length % 16 != 0) return ERR_ILLEGAL_INPUT_LENGTH;
  if (uint32_t r = check_length(length)) return r;
  CipherRequest c{opcode(major::kCipher, MINOR_OP_AES_DEC), 0, iv, kAesIv, true, length, length};
  return send_cipher(c, session_handle, request_type, length, input, output, key_handle,
                     request_id);
}

QEL2_EXPORT Uint32 Qel2Encrypt3Des2(Uint32 session_handle, request_type request_type, Uint16 length,
                                    Uint8 *input, Uint8 *output, Ulong *output_len_ptr, Uint8 *iv,
                                    Uint64 key_handle, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (!output_len_ptr) return ERR_ARGUMENTS_BAD;
  if (uint32_t r = check_length(length)) return r;
  return send_capacity(opcode(major::kCipher, MINOR_OP_DES3_ENC), kDesIv, r8_16(length),
                       session_handle, request_type, length, input, output, output_len_ptr, iv,
                       key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2Decrypt3Des2(Uint32 session_handle, request_type request_type, Uint16 length,
                                    Uint8 *input, Uint8 *output, Ulong *output_len_ptr, Uint8 *iv,
                                    Uint64 key_handle, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  if (!output_len_ptr) return ERR_ARGUMENTS_BAD;
  return send_capacity(opcode(major::kCipher, MINOR_OP_DES3_DEC), kDesIv, length, session_handle,
                       request_type, length, input, output, output_len_ptr, iv, key_handle,
                       request_id);
}

QEL2_EXPORT Uint32 Qel2EncryptAes2(Uint32 session_handle, request_type request_type, Uint16 length,
                                   Uint8 *input, Uint8 *output, Ulong *output_len_ptr, Uint8 *iv,
                                   Uint64 key_handle, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (!output_len_ptr) return ERR_ARGUMENTS_BAD;
  if (uint32_t r = check_length(length)) return r;
  return send_capacity(opcode(major::kCipher, MINOR_OP_AES_ENC), kAesIv, r16_16(length),
                       session_handle, request_type, length, input, output, output_len_ptr, iv,
                       key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2DecryptAes2(Uint32 session_handle, request_type request_type, Uint16 length,
                                   Uint8 *input, Uint8 *output, Ulong *output_len_ptr, Uint8 *iv,
                                   Uint64 key_handle, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (length % 16 != 0) return ERR_ILLEGAL_INPUT_LENGTH;
  if (uint32_t r = check_length(length)) return r;
  if (!output_len_ptr) return ERR_ARGUMENTS_BAD;
  return send_capacity(opcode(major::kCipher, MINOR_OP_AES_DEC), kAesIv, length, session_handle,
                       request_type, length, input, output, output_len_ptr, iv, key_handle,
                       request_id);
}

QEL2_EXPORT Uint32 Qel2Encrypt3DesByCipherMode(Uint32 session_handle, request_type request_type,
                                               Uint16 length, Uint8 *input, Uint8 *output,
                                               CipherMode des_mode, Uint8 *iv, Uint64 key_handle,
                                               Uint32 *request_id) {
  return des3_by_mode(true, session_handle, request_type, length, input, output, des_mode, iv,
                      key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2Decrypt3DesByCipherMode(Uint32 session_handle, request_type request_type,
                                               Uint16 length, Uint8 *input, Uint8 *output,
                                               CipherMode des_mode, Uint8 *iv, Uint64 key_handle,
                                               Uint32 *request_id) {
  return des3_by_mode(false, session_handle, request_type, length, input, output, des_mode, iv,
                      key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2EncryptAesByCipherMode(Uint32 session_handle, request_type request_type,
                                              Uint16 length, Uint8 *input, Uint8 *output,
                                              CipherMode aes_mode, Uint8 *iv, Uint64 key_handle,
                                              Uint32 *request_id) {
  return aes_by_mode(true, session_handle, request_type, length, input, output, aes_mode, iv,
                     key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2DecryptAesByCipherMode(Uint32 session_handle, request_type request_type,
                                              Uint16 length, Uint8 *input, Uint8 *output,
                                              CipherMode aes_mode, Uint8 *iv, Uint64 key_handle,
                                              Uint32 *request_id) {
  return aes_by_mode(false, session_handle, request_type, length, input, output, aes_mode, iv,
                     key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2Encrypt3DesECB(Uint32 session_handle, request_type request_type,
                                      Uint16 length, Uint8 *input, Uint8 *output, Uint64 key_handle,
                                      Uint32 *request_id) {
  return Qel2Encrypt3DesByCipherMode(session_handle, request_type, length, input, output, ECB,
                                     nullptr, key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2Decrypt3DesECB(Uint32 session_handle, request_type request_type,
                                      Uint16 length, Uint8 *input, Uint8 *output, Uint64 key_handle,
                                      Uint32 *request_id) {
  return Qel2Decrypt3DesByCipherMode(session_handle, request_type, length, input, output, ECB,
                                     nullptr, key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2EncryptAesECB(Uint32 session_handle, request_type request_type,
                                     Uint16 length, Uint8 *input, Uint8 *output, Uint64 key_handle,
                                     Uint32 *request_id) {
  return Qel2EncryptAesByCipherMode(session_handle, request_type, length, input, output, ECB,
                                    nullptr, key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2DecryptAesECB(Uint32 session_handle, request_type request_type,
                                     Uint16 length, Uint8 *input, Uint8 *output, Uint64 key_handle,
                                     Uint32 *request_id) {
  return Qel2DecryptAesByCipherMode(session_handle, request_type, length, input, output, ECB,
                                    nullptr, key_handle, request_id);
}

QEL2_EXPORT Uint32 Qel2EncryptAesCtr(Uint32 session_handle, request_type request_type,
                                     Uint16 length, Uint8 *input, Uint8 *output, Uint8 *iv,
                                     Uint64 key_handle, Uint32 *request_id) {
  return aes_ctr(0x0018, session_handle, request_type, length, input, output, iv, key_handle,
                 request_id);
}

QEL2_EXPORT Uint32 Qel2DecryptAesCtr(Uint32 session_handle, request_type request_type,
                                     Uint16 length, Uint8 *input, Uint8 *output, Uint8 *iv,
                                     Uint64 key_handle, Uint32 *request_id) {
  return aes_ctr(0x0118, session_handle, request_type, length, input, output, iv, key_handle,
                 request_id);
}

// The CBC names are the plain builders under another name.
#define QEL2_CBC_ALIAS(alias, target)                                                       \
  QEL2_EXPORT Uint32 alias(Uint32 session_handle, request_type request_type, Uint16 length, \
                           Uint8 *input, Uint8 *output, Uint8 *iv, Uint64 key_handle,       \
                           Uint32 *request_id) {                                            \
    return target(session_handle, request_type, length, input, output, iv, key_handle,      \
                  request_id);                                                              \
  }
QEL2_CBC_ALIAS(Qel2Encrypt3DesCBC, Qel2Encrypt3Des)
QEL2_CBC_ALIAS(Qel2Decrypt3DesCBC, Qel2Decrypt3Des)
QEL2_CBC_ALIAS(Qel2EncryptAesCBC, Qel2EncryptAes)
QEL2_CBC_ALIAS(Qel2DecryptAesCBC, Qel2DecryptAes)
#undef QEL2_CBC_ALIAS

}  // extern "C"
