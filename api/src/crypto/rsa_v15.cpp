// RSA with PKCS#1 v1.5 padding (block types 1 and 2) and a key on the HSM:
// encryption and decryption, plain and CRT key forms, plain and
// length-prefixed ("2") variants.
#include <cstdio>

#include "crypto/raw_request.h"

using namespace qel2::crypto;

namespace {

enum : uint8_t { kDec = 1, kCrtDec = 2, kEnc = 3, kCrtEnc = 4 };

// [key segment] [data]; command type as the result place says.
struct RsaRequest : RawRequest {
  RsaRequest(uint16_t command_type, uint16_t op, Uint32 session_handle, uint16_t param1,
             uint16_t param2, Uint64 key_handle, const Uint8 *data, uint32_t data_len)
      : RawRequest(command_type, op, masked(session_handle)) {
    params(param1, param2).dma_mode().key(key_handle).in(data, data_len);
  }
};

uint32_t check_data_length(Uint16 modlength, Uint16 datalength) {
  return static_cast<int>(datalength) < static_cast<int>(modlength) - 10
             ? 0u
             : static_cast<uint32_t>(ERR_DATA_LEN_RANGE);
}

Uint32 encrypt(uint8_t minor, bool crt, Uint32 session_handle, request_type rt, Uint64 key_handle,
               RsaBlockType block_type, Uint16 modlength, Uint16 datalength, Uint8 *data,
               Uint8 *result, Uint32 *request_id) {
  if (uint32_t r = check_data_length(modlength, datalength)) return r;
  if (!modulus_ok(modlength, crt)) return ERR_ILLEGAL_INPUT_LENGTH;
  RsaRequest rq(KQ_NON_SSL_VANTOR_CMD, opcode(rsa_major(modlength), minor), session_handle,
                modlength, static_cast<uint16_t>(block_type), key_handle, data, datalength);
  rq.out(result, modlength);
  return rq.send(rt, request_id);
}

// The "2" encryptions: always the large-modulus major; the HSM returns the length.
Uint32 encrypt2(uint8_t minor, Uint32 session_handle, request_type rt, Uint64 key_handle,
                RsaBlockType block_type, Uint16 datalength, Uint8 *data, Uint8 *result,
                Ulong *result_len_ptr, Uint32 *request_id) {
  RsaRequest rq(KQ_NON_SSL_VANTOR_CMD, opcode(major::kRsaLarge, minor), session_handle, 0,
                static_cast<uint16_t>(block_type), key_handle, data, datalength);
  rq.attest(1).length_word([result_len_ptr](uint16_t n) { *result_len_ptr = n; }, true);
  if (result) rq.out(result, static_cast<uint32_t>(*result_len_ptr)).stated();
  return rq.send(rt, request_id);
}

// The plain decryptions: the 2-byte length word as the HSM sends it
// (big-endian), then the result area; nothing to the host in context form.
Uint32 decrypt(uint8_t minor, Uint32 session_handle, request_type rt, Uint64 key_handle,
               RsaBlockType block_type, Uint16 modlength, Uint8 *data, Uint8 *result,
               Uint32 result_location, Uint16 *out_length, Uint32 *request_id) {
  ResultPlace place;
  if (uint32_t r = result_place(result_location, result, place)) return r;
  RsaRequest rq(place.command_type, opcode(rsa_major(modlength), minor), session_handle, modlength,
                static_cast<uint16_t>(block_type), key_handle, data, modlength);
  rq.ctx(place.ctx).lengths(static_cast<uint16_t>(modlength + 8),
                            static_cast<uint16_t>(modlength + 2));
  if (!place.to_context) rq.out_length(out_length, 2).out(result, modlength).stated();
  return rq.send(rt, request_id);
}

// The "2" decryptions: the length word converted to host order and written
// with the width of the caller's length (also a context request: 0).
template <typename Len>
Uint32 decrypt2(uint8_t minor, Uint32 session_handle, request_type rt, Uint64 key_handle,
                RsaBlockType block_type, Uint16 modlength, Uint8 *data, Uint8 *result,
                Uint32 result_location, Len *out_length, Uint32 *request_id) {
  ResultPlace place;
  if (uint32_t r = result_place(result_location, result, place)) return r;
  const uint32_t cap = static_cast<uint32_t>(*out_length);
  RsaRequest rq(place.command_type, opcode(rsa_major(modlength), minor), session_handle, modlength,
                static_cast<uint16_t>(block_type), key_handle, data, modlength);
  rq.ctx(place.ctx);
  auto write = [out_length](uint16_t n) { *out_length = static_cast<Len>(n); };
  if (place.to_context) {
    rq.length_without_word(write, false)
        .lengths(static_cast<uint16_t>(modlength + 8), static_cast<uint16_t>(cap));
  } else {
    rq.attest(1).length_word(write, false);
    if (result) rq.out(result, cap).stated();
  }
  return rq.send(rt, request_id);
}

uint32_t check_block_type(RsaBlockType block_type, bool message) {
  if (static_cast<uint32_t>(block_type) <= BT2) return 0;
  if (message) puts("Invalid block type");
  return ERR_ILLEGAL_BLOCK_TYPE;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2Pkcs1v15Enc(Uint32 session_handle, request_type request_type,
                                   Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                   Uint16 datalength, Uint8 *data, Uint8 *result,
                                   Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_block_type(block_type, false)) return r;
  return encrypt(kEnc, false, session_handle, request_type, key_handle, block_type, modlength,
                 datalength, data, result, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v15CrtEnc(Uint32 session_handle, request_type request_type,
                                      Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                      Uint16 datalength, Uint8 *data, Uint8 *result,
                                      Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  return encrypt(kCrtEnc, true, session_handle, request_type, key_handle, block_type, modlength,
                 datalength, data, result, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v15Enc2(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaBlockType block_type, Uint16 datalength,
                                    Uint8 *data, Uint8 *result, Ulong *result_len_ptr,
                                    Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_block_type(block_type, false)) return r;
  if (!result_len_ptr) return ERR_ARGUMENTS_BAD;
  return encrypt2(kEnc, session_handle, request_type, key_handle, block_type, datalength, data,
                  result, result_len_ptr, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v15CrtEnc2(Uint32 session_handle, request_type request_type,
                                       Uint64 key_handle, RsaBlockType block_type,
                                       Uint16 datalength, Uint8 *data, Uint8 *result,
                                       Ulong *result_len_ptr, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (!result_len_ptr) return ERR_ARGUMENTS_BAD;
  return encrypt2(kCrtEnc, session_handle, request_type, key_handle, block_type, datalength, data,
                  result, result_len_ptr, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v15Dec(Uint32 session_handle, request_type request_type,
                                   Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                   Uint8 *data, Uint8 *result, Uint32 result_location,
                                   Uint16 *out_length, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_block_type(block_type, true)) return r;
  if (!modulus_ok(modlength, false)) return ERR_ILLEGAL_INPUT_LENGTH;
  return decrypt(kDec, session_handle, request_type, key_handle, block_type, modlength, data,
                 result, result_location, out_length, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v15CrtDec(Uint32 session_handle, request_type request_type,
                                      Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                      Uint8 *data, Uint8 *result, Uint32 result_loc,
                                      Uint16 *out_length, Uint32 *request_id) {
  if (!modulus_ok(modlength, true)) return ERR_ILLEGAL_INPUT_LENGTH;
  // Refused like the others: an answer nobody could collect.
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  return decrypt(kCrtDec, session_handle, request_type, key_handle, block_type, modlength, data,
                 result, result_loc, out_length, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v15Dec2(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                    Uint8 *data, Uint8 *result, Uint32 result_location,
                                    Uint16 *out_length, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_block_type(block_type, true)) return r;
  if (!out_length) return ERR_ARGUMENTS_BAD;
  if (!modulus_ok(modlength, false)) return ERR_ILLEGAL_INPUT_LENGTH;
  return decrypt2(kDec, session_handle, request_type, key_handle, block_type, modlength, data,
                  result, result_location, out_length, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v15CrtDec2(Uint32 session_handle, request_type request_type,
                                       Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                       Uint8 *data, Uint8 *result, Uint32 result_loc,
                                       Ulong *out_length_ptr, Uint32 *request_id) {
  if (!out_length_ptr) return ERR_ARGUMENTS_BAD;
  if (!modulus_ok(modlength, true)) return ERR_ILLEGAL_INPUT_LENGTH;
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  return decrypt2(kCrtDec, session_handle, request_type, key_handle, block_type, modlength, data,
                  result, result_loc, out_length_ptr, request_id);
}

}  // extern "C"
