// AES-GCM and GMAC with a key on the HSM: encryption returns the
// ciphertext, the IV the HSM used and a 16-byte tag; decryption checks a
// tag of 4 to 16 bytes.
#include <cstdio>

#include "crypto/raw_request.h"

using namespace qel2::crypto;

namespace {

constexpr uint32_t kIvLen = 16, kTagLen = 16;
constexpr uint16_t kGmac = 0x8000;     // param2: no data, the AAD alone is authenticated
constexpr uint16_t kEncWord = 0x0021;  // param2 of the encryption

// The inputs every GCM request starts with: the AAD length word, the IV,
// the key segment, the AAD (rounded) and the data.
struct GcmRequest : RawRequest {
  uint8_t aad_word[8] = {};
  GcmRequest(uint8_t minor, Uint32 session_handle, uint16_t param2, const Uint8 *iv,
             Uint64 key_handle, Uint16 aad_len, const Uint8 *aad, Uint16 length, const Uint8 *input)
      : RawRequest(KQ_NON_SSL_VANTOR_CMD, opcode(major::kCipher, minor), masked(session_handle)) {
    qel2::put_be16(aad_word, aad_len);
    params(length, static_cast<uint16_t>(param2 | (length == 0 ? kGmac : 0))).dma_mode();
    in(aad_word, sizeof aad_word).in(iv, kIvLen).key(key_handle);
    if (aad_len) in_rounded(aad, aad_len);
    if (length) in(input, length);
  }
};

uint32_t check_length(Uint16 length) {
  return length > kMaxCipherLen ? static_cast<uint32_t>(ERR_UNSUPPORTED_INPUT_LENGTH) : 0u;
}

// Tags of 4 to 16 bytes in steps of 4; a longer one would run into the
// other bits of the parameter word.
uint32_t check_tag_length(Uint16 tag_length) {
  return tag_length == 0 || tag_length % 4 != 0 || tag_length > kTagLen
             ? static_cast<uint32_t>(ERR_INVALID_INPUT)
             : 0u;
}

uint16_t dec_word(Uint16 tag_length) {
  return static_cast<uint16_t>(0x20 | ((tag_length / 4 - 1) << 3));
}

Uint32 encrypt(Uint32 session_handle, request_type rt, Uint8 *iv, Uint64 key_handle, Uint16 aad_len,
               Uint8 *aad, Uint16 length, Uint8 *input, Uint8 *output, bool has_output,
               uint32_t out_size, Uint8 *tag, Uint32 *request_id) {
  GcmRequest rq(MINOR_OP_AES_GCM_ENC, session_handle, kEncWord, iv, key_handle, aad_len, aad,
                length, input);
  rq.out(iv, kIvLen);
  if (has_output) rq.out(output, out_size);
  rq.out(tag, kTagLen);
  return rq.send(rt, request_id);
}

// The plaintext has the data's length, whatever capacity holds it.
Uint32 decrypt(Uint32 session_handle, request_type rt, Uint8 *iv, Uint64 key_handle, Uint16 aad_len,
               Uint8 *aad, Uint16 length, Uint8 *input, Uint16 tag_length, Uint8 *tag,
               Uint8 *output, bool has_output, uint32_t out_size, Uint32 *request_id) {
  GcmRequest rq(MINOR_OP_AES_GCM_DEC, session_handle, dec_word(tag_length), iv, key_handle, aad_len,
                aad, length, input);
  rq.in(tag, tag_length);
  if (has_output) rq.out_upto(output, out_size, out_size < length ? out_size : length);
  return rq.send(rt, request_id);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2EncryptAesGcm(Uint32 session_handle, request_type request_type, Uint8 *iv,
                                     Uint64 key_handle, Uint16 aad_len, Uint8 *aad, Uint16 length,
                                     Uint8 *input, Uint8 *output, Uint8 *tag, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  return encrypt(session_handle, request_type, iv, key_handle, aad_len, aad, length, input, output,
                 length != 0, length, tag, request_id);
}

QEL2_EXPORT Uint32 Qel2EncryptAesGcm2(Uint32 session_handle, request_type request_type, Uint8 *iv,
                                      Uint64 key_handle, Uint16 aad_len, Uint8 *aad, Uint16 length,
                                      Uint8 *input, Uint8 *output, Ulong *output_len_ptr,
                                      Uint8 *tag, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (!output_len_ptr || !tag || !iv) {
    puts("iv/output_len_ptr/tag is null");
    return ERR_ARGUMENTS_BAD;
  }
  if (uint32_t r = check_length(length)) return r;
  const uint32_t size = static_cast<uint32_t>(length < *output_len_ptr ? length : *output_len_ptr);
  return encrypt(session_handle, request_type, iv, key_handle, aad_len, aad, length, input, output,
                 output != nullptr, size, tag, request_id);
}

QEL2_EXPORT Uint32 Qel2DecryptAesGcm(Uint32 session_handle, request_type request_type, Uint8 *iv,
                                     Uint64 key_handle, Uint16 aad_len, Uint8 *aad, Uint16 length,
                                     Uint8 *input, Uint16 tag_length, Uint8 *tag, Uint8 *output,
                                     Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_length(length)) return r;
  if (uint32_t r = check_tag_length(tag_length)) return r;
  return decrypt(session_handle, request_type, iv, key_handle, aad_len, aad, length, input,
                 tag_length, tag, output, length != 0, length, request_id);
}

QEL2_EXPORT Uint32 Qel2DecryptAesGcm2(Uint32 session_handle, request_type request_type, Uint8 *iv,
                                      Uint64 key_handle, Uint16 aad_len, Uint8 *aad, Uint16 length,
                                      Uint8 *input, Uint16 tag_length, Uint8 *tag, Uint8 *output,
                                      Ulong *output_data_len, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (!output_data_len) {
    puts("output_data_len is null");
    return ERR_ARGUMENTS_BAD;
  }
  if (uint32_t r = check_length(length)) return r;
  if (uint32_t r = check_tag_length(tag_length)) return r;
  return decrypt(session_handle, request_type, iv, key_handle, aad_len, aad, length, input,
                 tag_length, tag, output, output != nullptr,
                 static_cast<uint32_t>(*output_data_len), request_id);
}

}  // extern "C"
