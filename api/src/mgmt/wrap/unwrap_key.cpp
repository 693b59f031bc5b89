// Unwrapping a wrapped key into a new key object (opcode 226): the plain and
// the extended (AES-GCM tag, additional data) request, plain input wrapped
// on the HSM first, and the public entries whose template comes from the
// caller or from a wrapped key with template.
#include <cstdio>
#include <cstring>
#include <vector>

#include "mgmt/objects/objects_internal.h"
#include "mgmt/wrap/wrap_internal.h"
#include "qel2_errors.h"
#include "qel2_keys.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace qel2::wrap {

namespace {

constexpr uint32_t kMaxWrappedKey = 8192;
constexpr uint32_t kPlainRoom = 32;  // what wrapping a plain key may add
constexpr size_t kHandleOffset = sizeof(ResponseHeader);
// The attestation's copy of the answer: byte 21 lies in the handle's copy;
// its bit 0x02 marks a session object.
constexpr size_t kAttestedSessionByte = 21;
constexpr Uint8 kAttestedSessionBit = 0x02;

bool plain_input(uint32_t input) { return (input & ENCRYPTED) == 0; }

// What differs between the two requests.
struct Form {
  bool extended = false;
  const extendedArgs *ext = nullptr;
};

// The steps both requests share once the IV is chosen: the work copy (and
// the wrap of plain input), the token flags, the command and segments, the
// send, the status, the handle and the attestation mark.
Uint32 send_unwrap(const UnwrapArgs &a, const Uint8 *iv, uint32_t iv_len, Form form) {
  if (!a.tmpl && a.tmpl_len) return ERR_INVALID_INPUT;
  const bool gcm = form.extended && a.mech == CRYPTO_MECH_AES_GCM;
  const extendedArgs none{};
  const extendedArgs &x = form.ext ? *form.ext : none;
  if (gcm && ((x.ulAadLen && !x.pAad) || (x.GcmTagLen && !x.pGcmTag))) return ERR_INVALID_INPUT;

  const bool plain = plain_input(a.input);
  std::vector<Uint8> work;
  work.reserve(uint64_t{a.key_len} + (plain ? kPlainRoom : 0));
  work.assign(a.key, a.key + a.key_len);
  struct Wipe {
    std::vector<Uint8> &v;
    ~Wipe() { explicit_bzero(v.data(), v.size()); }
  } wipe{work};
  Uint32 n = a.key_len;
  if (plain) {
    work.resize(a.key_len + kPlainRoom);
    Uint32 cap = a.key_len + kPlainRoom;
    Uint8 iv8[8];
    iv8_of(iv, iv_len, iv8);
    const Uint32 r = form.extended
                         ? Qel2WrapHostKey2(a.session, work.data(), a.key_len, work.data(), &cap,
                                            a.unwrapping, a.mech, iv8, nullptr)
                         : Qel2ImportWrapKey(a.session, work.data(), a.key_len, work.data(), &cap,
                                             a.unwrapping, a.mech, iv8, nullptr);
    if (r) return r;
    n = std::min<Uint32>(cap, a.key_len + kPlainRoom);
  }

  const uint8_t token_flags = template_token_flags(a.tmpl_len, a.tmpl);
  const uint32_t session = masked_session(a.session);
  const bool want_attrs = a.attrs && a.attr_len;
  uint32_t common = QEL2_GET_NEW_ATTRS | pkcs_flag(a.mech);
  if (!form.extended) common |= a.hash & 0xFF;
  CommandRecord<sizeof(UnwrapKeyCommand)> cmd;
  put_session_header(cmd.w, session, a.input >> 1, common, want_attrs ? 1 : 0);
  cmd.w.u32(sent_mech(a.mech)).u64(a.unwrapping).u32(0).u32(0);
  Uint8 len_word[4];
  BeWriter(len_word, sizeof len_word).u32(n);
  Uint8 head[sizeof(Object)];
  BeWriter(head, sizeof head).u32(0).u32(a.count).u32(a.tmpl_len + 12u);
  const Uint8 tag_len = x.GcmTagLen;

  MgmtRequest rq(KQ_UNWRAP_KEY2, session);
  rq.token_flags(token_flags);
  rq.command(cmd).in(len_word, sizeof len_word).in(work.data(), n);
  if (gcm) rq.in(&tag_len, 1).in(x.pGcmTag, x.GcmTagLen);
  rq.in(head, sizeof head).in(a.tmpl, a.tmpl_len).in(iv, iv_len);
  if (gcm) rq.in(x.pAad, x.ulAadLen);
  Uint8 resp[sizeof(UnwrapKeyResponse)] = {};
  rq.out_local(resp, sizeof resp).key_handle(a.unwrapping);
  if (want_attrs) rq.out(a.attrs, *a.attr_len);
  // The partly completed cluster passes; the response code is then the result.
  rq.cluster_rule(ClusterRule::kResponseCode);
  // Lengths travel in 16 bits: a request they cannot state is not sent.
  if (Uint32 r = rq.check_data_len(kMaxSegmentLen)) return r;

  Uint32 refused = 0;
  bool attested_copy = false;
  if (a.attested && a.attested_len) {
    refused = attestation_refusal(&rq, a.attested, a.attested_len);
    if (!refused) {
      appendAttestation(&rq, a.attested, a.attested_len);
      attested_copy = true;
    }
  } else {
    rq.send(OSTREL_BLOCKING);
  }
  if (a.request_id) *a.request_id = rq.request_id();
  const Uint32 r = refused ? refused : rq.result();
  *a.handle = be64_at(resp + kHandleOffset);
  // Marked only in a copy that was made: a refused buffer may be too short.
  if (attested_copy && a.location == 0) a.attested[kAttestedSessionByte] |= kAttestedSessionBit;
  return r;
}

}  // namespace

Uint32 unwrap_with_template_common(const UnwrapArgs &a) {
  if (!a.key || !a.handle) return ERR_INVALID_INPUT;
  const Uint8 *iv = nullptr;
  uint32_t iv_len = 0;
  if (!pick_iv(a.mech, a.iv, a.iv_len, &iv, &iv_len)) return ERR_INVALID_INPUT;
  if (a.key_len == 0 || a.key_len > kMaxWrappedKey) {
    printf("\n\tInvalid wrapped key length %u\n", a.key_len);
    return ERR_INVALID_INPUT;
  }
  if (a.mech == CRYPTO_MECH_AES_KEY_WRAP_PAD && !zero_iv8(iv, iv_len)) {
    printf("IV must be zero for KEY_WRAP_PAD with latest fw");
    return ERR_INVALID_INPUT;
  }
  return send_unwrap(a, iv, iv_len, Form{});
}

Uint32 unwrap_with_template_common_extended(const UnwrapArgs &a, const extendedArgs *ext) {
  if (!a.key || !a.handle) return ERR_INVALID_INPUT;
  const Uint8 *iv = nullptr;
  uint32_t iv_len = 0;
  const Uint8 *given = ext ? ext->pIV : nullptr;
  // Without an IV only the zero-IV mechanisms go.
  if (!given && !zero_iv_allowed(a.mech)) return ERR_INVALID_INPUT;
  pick_iv(a.mech, given, ext ? ext->IVLen : 0, &iv, &iv_len);
  if (a.key_len == 0 || a.key_len > kMaxWrappedKey) {
    printf("\n\tInvalid wrapped key length %u\n", a.key_len);
    return ERR_INVALID_INPUT;
  }
  return send_unwrap(a, iv, iv_len, Form{true, ext});
}

}  // namespace qel2::wrap

namespace {

using namespace qel2::wrap;

constexpr Uint32 kNoHash = 0xFFFFFFFF;
constexpr Uint8 kTokenObject = 1;

bool template_unwrap_mech(Uint32 mech) {
  switch (mech) {
    case CRYPTO_MECH_RSA_PKCS_KEY_WRAP:
    case CRYPTO_MECH_RSA_OAEP_KEY_WRAP:
    case 306:
    case 307:
    case 309:
    case CRYPTO_MECH_DES3_KEY_WRAP:
    case CRYPTO_MECH_RSA_AES_KEY_WRAP:
    case CRYPTO_MECH_AES_GCM:
    case CRYPTO_MECH_AES_KEY_WRAP:
    case CRYPTO_MECH_AES_KEY_WRAP_PAD:
    case CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD:
      return true;
    default:
      return false;
  }
}

// A caller's template checked in unwrap mode; the count validation makes
// replaces the caller's.
Uint32 validated(UnwrapArgs &a, Uint8 *tmpl, Uint32 size) {
  Uint32 count = 0;
  if (Uint32 r = validateTemplateFromUser2(size, tmpl, &count, TEMPLATE_MODE_UNWRAP)) return r;
  a.tmpl = tmpl;
  a.tmpl_len = size;
  a.count = count;
  return 0;
}

// The template and key data of a wrapped key with template, decoded for the
// location and mechanism given; false when the blob is refused.
bool from_blob(UnwrapArgs &a, Uint8 *blob, Uint32 blob_len, Uint8 location, Uint32 mech) {
  Uint8 *tmpl = nullptr;
  Uint32 size = 0, count = 0;
  const Uint32 off = decodeTemplate(blob, blob_len, location, mech, &tmpl, &size, &count);
  if (off == 0) return false;
  a.tmpl = tmpl;
  a.tmpl_len = size;
  a.count = count;
  a.key = blob + off;
  a.key_len = blob_len - off;
  return true;
}

UnwrapArgs base_args(Uint32 session, Uint64 unwrapping, Uint64 *handle, Uint8 location) {
  UnwrapArgs a;
  a.session = session;
  a.unwrapping = unwrapping;
  a.handle = handle;
  a.location = location;
  return a;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2UnwrapWithTemplateExtended(
    Uint32 ulSessionHandle, InputType KeyInput, Uint32 ulMech, Uint8 *pKey, Uint32 ulKeyLen,
    Uint8 *pTemplate, Uint32 ulTemplateSize, Uint32 ulAttributeCount, Uint64 ulUnwrappingKeyHandle,
    Uint64 *pulKeyHandleUnwrapped, Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint8 *attestedResponse,
    Uint32 *attestedLength, Uint8 ucKeyLocation, extendedArgs *pExtArgs, Uint32 *request_id) {
  UnwrapArgs a =
      base_args(ulSessionHandle, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped, ucKeyLocation);
  a.input = KeyInput;
  a.mech = ulMech;
  a.key = pKey;
  a.key_len = ulKeyLen;
  a.tmpl = pTemplate;
  a.tmpl_len = ulTemplateSize;
  a.count = ulAttributeCount;
  a.attrs = pAttrObj;
  a.attr_len = ulAttrLen;
  a.attested = attestedResponse;
  a.attested_len = attestedLength;
  a.request_id = request_id;
  return unwrap_with_template_common_extended(a, pExtArgs);
}

QEL2_EXPORT Uint32 Qel2UnWrapWithTemplate3(
    Uint32 ulSessionHandle, Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen,
    Uint64 ulUnwrappingKeyHandle, Uint8 *pIV, Uint32 ulIvLen, Uint32 ulMech, Uint32 hashType,
    Uint8 *pTemplate, Uint32 ulTemplateSize, Uint32 /*ulAttributeCount: validation counts*/,
    Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse, Uint32 *attestedLength,
    Uint32 *request_id, Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint8 ucKeyLocation) {
  if (!template_unwrap_mech(ulMech)) return ERR_INVALID_INPUT;
  UnwrapArgs a =
      base_args(ulSessionHandle, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped, ucKeyLocation);
  if (Uint32 r = validated(a, pTemplate, ulTemplateSize)) return r;
  a.mech = ulMech;
  a.hash = hashType;
  a.iv = pIV;
  a.iv_len = ulIvLen;
  a.key = pWrappedKey;
  a.key_len = ulWrappedKeyLen;
  a.attrs = pAttrObj;
  a.attr_len = ulAttrLen;
  a.attested = attestedResponse;
  a.attested_len = attestedLength;
  a.request_id = request_id;
  return unwrap_with_template_common(a);
}

QEL2_EXPORT Uint32 Qel2UnWrapWithTemplate2(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                           Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                           Uint8 *pIV, Uint32 ulIvLen, Uint32 ulMech,
                                           Uint32 hashType, Uint8 *pTemplate, Uint32 ulTemplateSize,
                                           Uint32 ulAttributeCount, Uint64 *pulKeyHandleUnwrapped,
                                           Uint8 *attestedResponse, Uint32 *attestedLength,
                                           Uint32 *request_id, Uint8 ucKeyLocation) {
  return Qel2UnWrapWithTemplate3(
      ulSessionHandle, pWrappedKey, ulWrappedKeyLen, ulUnwrappingKeyHandle, pIV, ulIvLen, ulMech,
      hashType, pTemplate, ulTemplateSize, ulAttributeCount, pulKeyHandleUnwrapped,
      attestedResponse, attestedLength, request_id, nullptr, nullptr, ucKeyLocation);
}

QEL2_EXPORT Uint32 Qel2UnWrapWithTemplate(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                          Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                          Uint8 *pIV, Uint8 *pTemplate, Uint32 ulTemplateSize,
                                          Uint32 /*ulAttributeCount: validation counts*/,
                                          Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse,
                                          Uint32 *attestedLength, Uint32 *request_id,
                                          Uint8 ucKeyLocation) {
  UnwrapArgs a =
      base_args(ulSessionHandle, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped, ucKeyLocation);
  if (Uint32 r = validated(a, pTemplate, ulTemplateSize)) return r;
  a.mech = CRYPTO_MECH_AES_KEY_WRAP_PAD;
  a.iv = pIV;
  a.iv_len = 8;
  a.key = pWrappedKey;
  a.key_len = ulWrappedKeyLen;
  a.attested = attestedResponse;
  a.attested_len = attestedLength;
  a.request_id = request_id;
  return unwrap_with_template_common(a);
}

QEL2_EXPORT Uint32 Qel2UnWrapKey2(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                  Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint8 ucKeyLocation, Uint64 *pulKeyHandle) {
  UnwrapArgs a = base_args(ulSessionHandle, ulUnwrappingKeyHandle, pulKeyHandle, ucKeyLocation);
  if (!from_blob(a, pWrappedKey, ulWrappedKeyLen, ucKeyLocation, ulMech)) return ERR_INVALID_INPUT;
  // The mechanism only chose the key-data rule: the unwrap is always 4241.
  a.mech = CRYPTO_MECH_AES_KEY_WRAP_PAD;
  a.iv = pIV;
  a.iv_len = 8;
  return unwrap_with_template_common(a);
}

QEL2_EXPORT Uint32 Qel2UnWrapKey(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                 Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint64 *pulKeyHandle) {
  UnwrapArgs a = base_args(ulSessionHandle, ulUnwrappingKeyHandle, pulKeyHandle, 255);
  if (!from_blob(a, pWrappedKey, ulWrappedKeyLen, kTokenObject, CRYPTO_MECH_AES_KEY_WRAP_PAD))
    return ERR_INVALID_INPUT;
  static const Uint8 kZeroIv[8] = {};
  a.mech = CRYPTO_MECH_AES_KEY_WRAP_PAD;
  a.iv = kZeroIv;
  a.iv_len = sizeof kZeroIv;
  return unwrap_with_template_common(a);
}

QEL2_EXPORT Uint32 Qel2UnWrapKey5(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                  Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint32 hashtype, Uint32 ulFormat,
                                  Uint8 ucKeyLocation, Uint64 *pulKeyHandle,
                                  Uint8 *attestedResponse, Uint32 *attestedLength, Uint32 *req_id) {
  UnwrapArgs a = base_args(ulSessionHandle, ulUnwrappingKeyHandle, pulKeyHandle, ucKeyLocation);
  if (!from_blob(a, pWrappedKey, ulWrappedKeyLen, ucKeyLocation, ulMech)) return ERR_INVALID_INPUT;
  if (!checked_key_mech(ulMech)) return ERR_INVALID_INPUT;
  a.input = ulFormat | ENCRYPTED;
  a.mech = ulMech;
  a.hash = hashtype;
  a.iv = pIV;
  a.iv_len = get_key_wrap_iv_len(ulMech);
  a.attested = attestedResponse;
  a.attested_len = attestedLength;
  a.request_id = req_id;
  return unwrap_with_template_common(a);
}

QEL2_EXPORT Uint32 Qel2UnWrapKey3(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                  Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint32 ulFormat, Uint8 ucKeyLocation,
                                  Uint64 *pulKeyHandle) {
  UnwrapArgs a = base_args(ulSessionHandle, ulUnwrappingKeyHandle, pulKeyHandle, ucKeyLocation);
  if (!from_blob(a, pWrappedKey, ulWrappedKeyLen, ucKeyLocation, ulMech)) return ERR_INVALID_INPUT;
  a.input = ulFormat | ENCRYPTED;
  a.mech = ulMech;
  a.hash = kNoHash;
  a.iv = pIV;
  a.iv_len = get_key_wrap_iv_len(ulMech);
  return unwrap_with_template_common(a);
}

QEL2_EXPORT Uint32 Qel2UnWrapKeyNew(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                    Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 *pIV,
                                    Uint32 ulMech, Uint32 ulFormat, Uint8 ucKeyLocation,
                                    Uint64 *pulKeyHandle) {
  return Qel2UnWrapKey3(ulSessionHandle, ulUnwrappingKeyHandle, pWrappedKey, ulWrappedKeyLen, pIV,
                        ulMech, ulFormat, ucKeyLocation, pulKeyHandle);
}

QEL2_EXPORT Uint32 Qel2UnWrapKeyExtended(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                         Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint32 ulMech,
                                         Uint32 ulFormat, Uint8 ucKeyLocation, Uint64 *pulKeyHandle,
                                         Uint8 *attestedResponse, Uint32 *attestedLength,
                                         extendedArgs *pExtArgs, Uint32 *request_id) {
  UnwrapArgs a = base_args(ulSessionHandle, ulUnwrappingKeyHandle, pulKeyHandle, ucKeyLocation);
  if (!from_blob(a, pWrappedKey, ulWrappedKeyLen, ucKeyLocation, ulMech)) return ERR_INVALID_INPUT;
  a.input = ulFormat | ENCRYPTED;
  a.mech = ulMech;
  a.attested = attestedResponse;
  a.attested_len = attestedLength;
  a.request_id = request_id;
  return unwrap_with_template_common_extended(a, pExtArgs);
}

}  // extern "C"
