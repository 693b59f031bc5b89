// Wrapping a key object with another (opcode 225): the plain and the
// extended (IV, additional data, GCM tag) request, the template prefix that
// lets the key be recreated, the plain export, and the public entries.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mgmt/objects/objects_internal.h"
#include "mgmt/wrap/wrap_internal.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace qel2::wrap {

namespace {

constexpr uint32_t kNoHash = 0xFFFFFFFF;

bool plain_output(uint32_t format) { return (format & ENCRYPTED) == 0; }

void put_wrap_command(BeWriter &w, uint32_t session, uint32_t common_flags, uint32_t mech,
                      uint64_t wrapping, uint64_t key) {
  put_session_header(w, session, 0, common_flags);
  w.u32(sent_mech(mech)).u64(wrapping).u64(key);
}

// The length rules shared by both requests once the answer allows decoding,
// and the plain export. unwrap runs the second step of a plain export.
template <typename Unwrap>
Uint32 finish_wrap(MgmtRequest &rq, const Uint8 *resp, Uint8 *out, Uint32 *len, Uint32 capacity,
                   uint32_t format, unsigned out_seg, Unwrap unwrap) {
  const Uint32 r = rq.result();
  const auto d = rq.decode();
  if (d == MgmtRequest::Decode::kNo) return r;
  const Uint32 key_len = be32_at(resp + sizeof(ResponseHeader));
  *len = key_len;
  if (d == MgmtRequest::Decode::kSize) return r;
  if (key_len > capacity) return ERR_BUFFER_TOO_SMALL;
  if (!out) return r;
  if (Uint32 bad = rq.check_arrived(out_seg, key_len)) return bad;
  if (!plain_output(format)) return 0;
  return unwrap(key_len);
}

}  // namespace

// The plain request.
Uint32 wrap_common(Uint32 session_handle, Uint64 wrapping, Uint64 key, const Uint8 *iv,
                   uint32_t iv_len, uint32_t mech, uint32_t hash, uint32_t format, Uint8 *out,
                   Uint32 *len) {
  if (!len) return ERR_INVALID_INPUT;
  const Uint8 *use_iv = nullptr;
  uint32_t use_len = 0;
  if (!pick_iv(mech, iv, iv_len, &use_iv, &use_len)) return ERR_INVALID_INPUT;
  if (mech == CRYPTO_MECH_AES_KEY_WRAP_PAD) {
    // The zero check reads 8 bytes: any other length is no IV of this mechanism.
    if (use_len != 8 || !zero_iv8(use_iv, use_len)) {
      printf("IV must be zero for KEY_WRAP_PAD");
      return ERR_INVALID_INPUT;
    }
  }
  const uint32_t session = masked_session(session_handle);
  CommandRecord<sizeof(WrapKeyCommand)> cmd;
  put_wrap_command(cmd.w, session, (hash & 0xFF) | pkcs_flag(mech), mech, wrapping, key);
  Uint8 resp[sizeof(WrapKeyResponse)] = {};
  const Uint32 capacity = *len;
  MgmtRequest rq(KQ_WRAP_KEY2, session);
  rq.command(cmd);
  if (use_len) rq.in(use_iv, use_len);
  rq.out_local(resp, sizeof resp).key_handle(key);
  if (out) rq.out(out, std::min<uint32_t>(capacity, kMaxSegmentLen - sizeof resp));
  rq.send(OSTREL_BLOCKING);
  return finish_wrap(rq, resp, out, len, capacity, format, 1, [&](Uint32 key_len) -> Uint32 {
    const uint32_t m = sent_mech(mech);
    if (m != CRYPTO_MECH_AES_KEY_WRAP_PAD && m != CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD) {
      printf("Error : Mechanism %u not supported\n", m);
      return ERR_INVALID_INPUT;
    }
    Uint8 iv8[8];
    iv8_of(use_iv, use_len, iv8);
    return Qel2ExportUnwrapKey(session, out, key_len, out, len, wrapping, m, iv8, nullptr);
  });
}

// The extended request: IV, additional data and, for AES-GCM, the IV used
// and the tag back in the caller's buffers.
Uint32 wrap_common_extended(Uint32 session_handle, Uint64 wrapping, Uint64 key, uint32_t mech,
                            uint32_t format, Uint8 *out, Uint32 *len, extendedArgs *ext) {
  if (!len) return ERR_INVALID_INPUT;
  extendedArgs none{};
  extendedArgs &a = ext ? *ext : none;
  const Uint8 *use_iv = nullptr;
  uint32_t use_len = 0;
  // Without an IV only the zero-IV mechanisms go (RSA included in none).
  if (!a.pIV && !zero_iv_allowed(mech)) return ERR_INVALID_INPUT;
  pick_iv(mech, a.pIV, a.IVLen, &use_iv, &use_len);
  const bool gcm = mech == CRYPTO_MECH_AES_GCM;
  if ((a.ulAadLen && !a.pAad) || (gcm && a.GcmTagLen && !a.pGcmTag)) return ERR_INVALID_INPUT;
  const uint32_t session = masked_session(session_handle);
  CommandRecord<sizeof(WrapKeyCommand)> cmd;
  put_wrap_command(cmd.w, session, pkcs_flag(mech), mech, wrapping, key);
  Uint8 resp[sizeof(WrapKeyResponse)] = {};
  const Uint32 capacity = *len;
  MgmtRequest rq(KQ_WRAP_KEY2, session);
  rq.command(cmd).in(use_iv, use_len).in(a.pAad, a.ulAadLen);
  rq.out_local(resp, sizeof resp).key_handle(key);
  unsigned out_seg = 1;
  if (gcm) {
    rq.out(a.pIV, a.IVLen).out(a.pGcmTag, a.GcmTagLen);
    out_seg = 3;
  }
  if (out) rq.out(out, std::min<uint32_t>(capacity, kMaxSegmentLen - 64));
  rq.send(OSTREL_BLOCKING);
  return finish_wrap(rq, resp, out, len, capacity, format, out_seg, [&](Uint32 key_len) {
    Uint8 iv8[8];
    iv8_of(use_iv, use_len, iv8);
    return Qel2UnWrapHostKey2(session, out, key_len, out, len, wrapping, mech, iv8, nullptr);
  });
}

// The template prefix around a request (run(out, len) sends it).
template <typename Run>
Uint32 with_template(Uint32 session, Uint64 key, Uint8 no_template, Uint8 *out, Uint32 *len,
                     Run run) {
  if (!len) return ERR_INVALID_INPUT;
  if (no_template) return run(out, len);
  Uint32 t_len = 0, count = 0;
  Uint8 *tmpl = GetTemplate(session, key, &t_len, &count);
  if (!tmpl) return ERR_GET_TEMPLATE;
  const uint64_t prefix = uint64_t{t_len} + 8;
  if (!out || *len <= prefix) {
    free(tmpl);
    return ERR_INVALID_INPUT;
  }
  std::memcpy(out, &count, 4);
  std::memcpy(out + 4, &t_len, 4);
  std::memcpy(out + 8, tmpl, t_len);
  free(tmpl);
  Uint32 rest = static_cast<Uint32>(*len - prefix);
  const Uint32 r = run(out + prefix, &rest);
  if (r == 0 || r == RET_RESULT_SIZE || r == ERR_BUFFER_TOO_SMALL)
    *len = static_cast<Uint32>(std::min<uint64_t>(rest + prefix, UINT32_MAX));
  return r;
}

}  // namespace qel2::wrap

namespace {

using namespace qel2::wrap;

Uint32 wrap_with_template(Uint32 session, Uint64 wrapping, Uint64 key, Uint8 *iv, Uint32 mech,
                          Uint32 hash, Uint32 format, Uint8 *out, Uint32 *len, Uint8 no_template) {
  return with_template(session, key, no_template, out, len, [&](Uint8 *o, Uint32 *l) {
    return wrap_common(session, wrapping, key, iv, get_key_wrap_iv_len(mech), mech, hash, format, o,
                       l);
  });
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2WrapKey(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                               Uint64 ulKeyHandleToWrap, Uint8 *pWrappedKey,
                               Uint32 *pulWrappedKeyLen) {
  Uint8 zero_iv[8] = {};
  return wrap_with_template(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, zero_iv,
                            CRYPTO_MECH_AES_KEY_WRAP_PAD, kNoHash, ENCRYPTED, pWrappedKey,
                            pulWrappedKeyLen, 0);
}

QEL2_EXPORT Uint32 Qel2WrapKey2(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen) {
  return wrap_with_template(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, pIV, ulMech,
                            kNoHash, ENCRYPTED, pWrappedKey, pulWrappedKeyLen, 0);
}

QEL2_EXPORT Uint32 Qel2WrapKey3(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                Uint32 ulFormat, Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen) {
  return wrap_with_template(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, pIV, ulMech,
                            kNoHash, ulFormat | ENCRYPTED, pWrappedKey, pulWrappedKeyLen, 0);
}

QEL2_EXPORT Uint32 Qel2ExportWrapKey(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                     Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                     Uint32 ulFormat, Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                     Uint8 bNoTemplate, Uint32 * /*request_id: never filled*/) {
  return wrap_with_template(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, pIV, ulMech,
                            kNoHash, ulFormat | ENCRYPTED, pWrappedKey, pulWrappedKeyLen,
                            bNoTemplate);
}

QEL2_EXPORT Uint32 Qel2WrapKey4(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                Uint32 ulFormat, Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                Uint8 bNoTemplate, Uint32 *request_id) {
  return Qel2ExportWrapKey(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, pIV, ulMech,
                           ulFormat, pWrappedKey, pulWrappedKeyLen, bNoTemplate, request_id);
}

QEL2_EXPORT Uint32 Qel2WrapKeyNew(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                  Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                  Uint32 ulFormat, Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                  Uint8 bNoTemplate, Uint32 *request_id) {
  return Qel2ExportWrapKey(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, pIV, ulMech,
                           ulFormat, pWrappedKey, pulWrappedKeyLen, bNoTemplate, request_id);
}

QEL2_EXPORT Uint32 Qel2WrapKey5(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                Uint32 hashType, Uint32 ulFormat, Uint8 *pWrappedKey,
                                Uint32 *pulWrappedKeyLen, Uint8 bNoTemplate,
                                Uint32 * /*request_id: never filled*/) {
  if (!checked_key_mech(ulMech)) return ERR_INVALID_INPUT;
  return wrap_with_template(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, pIV, ulMech,
                            hashType, ulFormat | ENCRYPTED, pWrappedKey, pulWrappedKeyLen,
                            bNoTemplate);
}

QEL2_EXPORT Uint32 Qel2WrapWithTemplateExtended(Uint32 ulSessionHandle, Uint8 bNoTemplate,
                                                OutputType KeyOutput, Uint32 ulMech,
                                                Uint64 ulWrappingKeyHandle,
                                                Uint64 ulKeyHandleToWrap, Uint8 *pWrappedKey,
                                                Uint32 *pulWrappedKeyLen, extendedArgs *pExtArgs,
                                                Uint32 * /*request_id: never filled*/) {
  return with_template(ulSessionHandle, ulKeyHandleToWrap, bNoTemplate, pWrappedKey,
                       pulWrappedKeyLen, [&](Uint8 *o, Uint32 *l) {
                         return wrap_common_extended(ulSessionHandle, ulWrappingKeyHandle,
                                                     ulKeyHandleToWrap, ulMech, KeyOutput, o, l,
                                                     pExtArgs);
                       });
}

QEL2_EXPORT Uint32 Qel2WrapKeyExtended(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                       Uint64 ulKeyHandleToWrap, Uint32 ulMech, Uint32 ulFormat,
                                       Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                       extendedArgs *pExtArgs) {
  return Qel2WrapWithTemplateExtended(ulSessionHandle, 0, OutputType(ulFormat | ENCRYPTED), ulMech,
                                      ulWrappingKeyHandle, ulKeyHandleToWrap, pWrappedKey,
                                      pulWrappedKeyLen, pExtArgs, nullptr);
}

QEL2_EXPORT Uint32 Qel2ExportKey(Uint32 ulSessionHandle, Uint8 *pIV, Uint32 ulMech,
                                 Uint64 ulWrappingKeyHandle, Uint64 ulKeyHandleToWrap, Uint8 *pKey,
                                 Uint32 *pulKeyLen) {
  return wrap_common(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, pIV,
                     get_key_wrap_iv_len(ulMech), ulMech, kNoHash, PLAIN, pKey, pulKeyLen);
}

QEL2_EXPORT Uint32 Qel2ExportSymmetricKey(Uint32 ulSessionHandle, Uint64 ulKeyHandleToWrap,
                                          Uint64 ulWrappingKeyHandle, Uint8 *pKey,
                                          Uint32 *pulKeyLen, Uint64 ulIV) {
  // The IV is ulIV's bytes as they lie in memory.
  Uint8 iv[8];
  std::memcpy(iv, &ulIV, sizeof iv);
  return wrap_common(ulSessionHandle, ulWrappingKeyHandle, ulKeyHandleToWrap, iv, sizeof iv,
                     CRYPTO_MECH_AES_KEY_WRAP_PAD, kNoHash, PLAIN, pKey, pulKeyLen);
}

QEL2_EXPORT Uint32 Qel2ExportPrivateKey(Uint32 ulSessionHandle, Uint64 ulKeyHandleToWrap,
                                        Uint64 ulWrappingKeyHandle, Uint8 *pKey, Uint32 *pulKeyLen,
                                        Uint64 ulIV) {
  return Qel2ExportSymmetricKey(ulSessionHandle, ulKeyHandleToWrap, ulWrappingKeyHandle, pKey,
                                pulKeyLen, ulIV);
}

}  // extern "C"
