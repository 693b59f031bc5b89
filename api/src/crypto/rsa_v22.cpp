// RSA with the padding word of PKCS#1 v2.2 (OAEP encryption and decryption,
// PSS signing and verification of a hash) and raw modular exponentiation:
// key-less with a given exponent or CRT components, or with the private key
// of a key object.
#include <cstdio>

#include "crypto/raw_request.h"

using namespace qel2::crypto;

namespace {

enum : uint8_t { kPlainForm = 0, kCrtForm = 8 };

uint16_t form_opcode(bool crt) { return opcode(major::kRsa, crt ? kCrtForm : kPlainForm); }

uint16_t enc_word(RsaPaddingType p, HashType h) {
  return static_cast<uint16_t>(p | h << 2 | 0x8000);
}
uint16_t dec_word(HashType h) { return static_cast<uint16_t>(h * 4 + 2); }
uint16_t sign_word(HashType h) { return static_cast<uint16_t>(h * 4 | 0x8003); }
uint16_t verify_word(HashType h) { return static_cast<uint16_t>(h * 4 + 3); }

struct V22Request : RawRequest {
  V22Request(uint16_t command_type, uint16_t op, Uint32 session_handle, uint16_t param1,
             uint16_t param2, Uint64 key_handle)
      : RawRequest(command_type, op, masked(session_handle)) {
    params(param1, param2).dma_mode().key(key_handle);
  }
};

// Data-length limit of the encryption by padding type (signed comparisons).
uint32_t check_data_length(RsaPaddingType p, HashType h, Uint16 modlength, Uint16 datalength) {
  const int k = modlength, len = datalength, hlen = static_cast<int>(get_hash_size(h));
  bool ok = true;
  if (p == BT1 || p == BT2) ok = len < k - 10;
  if (p == OAEP) ok = len < k - 2 * hlen - 1;
  return ok ? 0u : static_cast<uint32_t>(ERR_DATA_LEN_RANGE);
}

// Signing and verification take PSS only, and a hash of the type's length.
uint32_t check_pss(RsaPaddingType p, HashType h, Uint16 hash_len, const char *message) {
  if (p != PSS) {
    fputs(message, stdout);
    return ERR_ARGUMENTS_BAD;
  }
  if (hash_len != get_hash_size(h)) {
    fputs("Invalid input length", stdout);
    return ERR_ARGUMENTS_BAD;
  }
  return 0;
}

template <typename Len>
void length_word(RawRequest &rq, Len *len, bool transport_counts) {
  rq.attest(1).length_word([len](uint16_t n) { *len = static_cast<Len>(n); }, transport_counts);
}

Uint32 mod_exp(uint8_t minor, Uint32 session_handle, request_type rt, Uint16 alen, const Uint8 *a,
               Uint16 xlen, const Uint8 *x, Uint16 mlen, const Uint8 *m, Uint8 *r,
               Uint32 *request_id) {
  if (mlen < 17 || mlen > 512) return ERR_ILLEGAL_INPUT_LENGTH;
  // Refused like the others: an answer nobody could collect.
  if (uint32_t e = check_nonblocking(rt, request_id)) return e;
  RawRequest rq(KQ_VANTOR_CMD, opcode(rsa_major(mlen), minor), RawRequest::masked(session_handle));
  rq.params(mlen, xlen).dma_mode().in(m, mlen).in(x, xlen).in(a, alen).out(r, mlen);
  return rq.send(rt, request_id);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2Pkcs1v22Enc(Uint32 session_handle, request_type request_type,
                                   Uint64 key_handle, RsaPaddingType padding_type,
                                   HashType hash_type, Qel2Bool isCRT, Uint16 modlength,
                                   Uint16 datalength, Uint8 *data, Uint8 *result,
                                   Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_data_length(padding_type, hash_type, modlength, datalength)) return r;
  V22Request rq(KQ_NON_SSL_VANTOR_CMD, form_opcode(isCRT), session_handle, modlength,
                enc_word(padding_type, hash_type), key_handle);
  rq.in(data, datalength).out(result, modlength);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v22Enc2(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaPaddingType padding_type,
                                    HashType hash_type, Qel2Bool isCRT, Uint16 datalength,
                                    Uint8 *data, Uint8 *result, Ulong *result_len_ptr,
                                    Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (!result_len_ptr) return ERR_ARGUMENTS_BAD;
  V22Request rq(KQ_NON_SSL_VANTOR_CMD, form_opcode(isCRT), session_handle, 0,
                enc_word(padding_type, hash_type), key_handle);
  rq.in(data, datalength);
  length_word(rq, result_len_ptr, true);
  if (result) rq.out(result, static_cast<uint32_t>(*result_len_ptr)).stated();
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v22Dec(Uint32 session_handle, request_type request_type,
                                   Uint64 key_handle, RsaPaddingType padding_type,
                                   HashType hash_type, Qel2Bool isCRT, Uint16 modlength,
                                   Uint8 *data, Uint8 *result, Uint32 *result_len,
                                   Uint32 result_location, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (padding_type != OAEP) return ERR_ARGUMENTS_BAD;
  // A modulus length below 4 would wrap the result area's size.
  if (!modulus_ok(modlength, false)) return ERR_ILLEGAL_INPUT_LENGTH;
  ResultPlace place;
  if (uint32_t r = result_place(result_location, result, place)) return r;
  V22Request rq(place.command_type, form_opcode(isCRT), session_handle, modlength,
                dec_word(hash_type), key_handle);
  rq.in(data, modlength).ctx(place.ctx);
  if (place.to_context)
    rq.lengths(static_cast<uint16_t>(modlength + 8), modlength);
  else
    rq.out(result, modlength - 4u).stated().out_length(result_len, 4);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v22Dec2(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaPaddingType padding_type,
                                    HashType hash_type, Qel2Bool isCRT, Uint16 modlength,
                                    Uint8 *data, Uint8 *result, Ulong *result_len,
                                    Uint32 result_location, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (!result_len || padding_type != OAEP) return ERR_ARGUMENTS_BAD;
  if (!modulus_ok(modlength, false)) return ERR_ILLEGAL_INPUT_LENGTH;
  ResultPlace place;
  if (uint32_t r = result_place(result_location, result, place)) return r;
  const uint32_t cap = static_cast<uint32_t>(*result_len);
  V22Request rq(place.command_type, form_opcode(isCRT), session_handle, modlength,
                dec_word(hash_type), key_handle);
  rq.in(data, modlength).ctx(place.ctx);
  if (place.to_context) {
    rq.length_without_word([result_len](uint16_t n) { *result_len = n; }, false)
        .lengths(static_cast<uint16_t>(modlength + 8), static_cast<uint16_t>(cap));
  } else {
    length_word(rq, result_len, false);
    if (result) rq.out(result, cap).stated();
  }
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v22Sign(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaPaddingType padding_type,
                                    HashType hash_type, Qel2Bool isCRT, Uint16 modlength,
                                    Uint16 mHashLen, Uint8 *mHash, Uint8 *pSignature,
                                    Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_pss(padding_type, hash_type, mHashLen, "Invalid padding type for signing"))
    return r;
  V22Request rq(KQ_NON_SSL_VANTOR_CMD, form_opcode(isCRT), session_handle, modlength,
                sign_word(hash_type), key_handle);
  rq.in(mHash, mHashLen).out(pSignature, modlength);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v22Sign2(Uint32 session_handle, request_type request_type,
                                     Uint64 key_handle, RsaPaddingType padding_type,
                                     HashType hash_type, Qel2Bool isCRT, Uint16 mHashLen,
                                     Uint8 *mHash, Uint8 *pSignature, Ulong *pSignature_len,
                                     Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r = check_pss(padding_type, hash_type, mHashLen, "Invalid padding type for signing"))
    return r;
  if (!pSignature_len) return ERR_ARGUMENTS_BAD;
  V22Request rq(KQ_NON_SSL_VANTOR_CMD, form_opcode(isCRT), session_handle, 0, sign_word(hash_type),
                key_handle);
  rq.in(mHash, mHashLen);
  length_word(rq, pSignature_len, false);
  if (pSignature) rq.out(pSignature, static_cast<uint32_t>(*pSignature_len)).stated();
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v22Verify(Uint32 session_handle, request_type request_type,
                                      Uint64 key_handle, RsaPaddingType padding_type,
                                      HashType hash_type, Uint16 modlength, Uint16 mHashLen,
                                      Uint8 *mHash, Uint8 *pSignature, Uint8 *pDecSignature,
                                      Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r =
          check_pss(padding_type, hash_type, mHashLen, "Invalid padding type for verifying"))
    return r;
  V22Request rq(KQ_NON_SSL_VANTOR_CMD, form_opcode(false), session_handle, modlength,
                verify_word(hash_type), key_handle);
  rq.in(pSignature, modlength).in(mHash, mHashLen).out(pDecSignature, modlength);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Pkcs1v22Verify2(Uint32 session_handle, request_type request_type,
                                       Uint64 key_handle, RsaPaddingType padding_type,
                                       HashType hash_type, Uint16 modlength, Uint16 mHashLen,
                                       Uint8 *mHash, Uint8 *pSignature, Uint8 *pDecSignature,
                                       Ulong *pDecSign_len, Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(request_type, request_id)) return r;
  if (uint32_t r =
          check_pss(padding_type, hash_type, mHashLen, "Invalid padding type for verifying"))
    return r;
  if (!pDecSign_len) return ERR_ARGUMENTS_BAD;
  V22Request rq(KQ_NON_SSL_VANTOR_CMD, form_opcode(false), session_handle, modlength,
                verify_word(hash_type), key_handle);
  rq.in(pSignature, modlength).in(mHash, mHashLen);
  length_word(rq, pDecSign_len, false);
  if (pDecSignature) rq.out(pDecSignature, static_cast<uint32_t>(*pDecSign_len)).stated();
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2ModExp(Uint32 session_handle, request_type request_type, Uint16 alen,
                              Uint8 *a, Uint16 elen, Uint8 *e, Uint16 mlen, Uint8 *m, Uint8 *r,
                              Uint32 *request_id) {
  return mod_exp(kPlainForm, session_handle, request_type, alen, a, elen, e, mlen, m, r,
                 request_id);
}

QEL2_EXPORT Uint32 Qel2ModExpCrt(Uint32 session_handle, request_type request_type, Uint16 alen,
                                 Uint8 *a, Uint16 crt_len, Uint8 *crt_components, Uint16 mlen,
                                 Uint8 *m, Uint8 *r, Uint32 *request_id) {
  return mod_exp(kCrtForm, session_handle, request_type, alen, a, crt_len, crt_components, mlen, m,
                 r, request_id);
}

QEL2_EXPORT Uint32 Qel2ModExpWithKeyOnHSM(Uint32 session_handle, request_type request_type,
                                          Uint64 key_handle, Qel2Bool isCRT, Uint16 alen, Uint8 *a,
                                          Uint16 mlen, Uint8 *r, Uint32 *request_id) {
  // Refused like the others: an answer nobody could collect.
  if (uint32_t e = check_nonblocking(request_type, request_id)) return e;
  V22Request rq(KQ_NON_SSL_VANTOR_CMD, form_opcode(isCRT), session_handle, mlen, 0, key_handle);
  rq.in(a, alen).out(r, mlen);
  return rq.send(request_type, request_id);
}

}  // extern "C"
