// Importing keys: every import is an unwrap into a new object. Plain key
// bytes pass through a wrap on the HSM first; the new object is described
// by arguments (the template built here) or by the caller's template.
#include <cstdio>

#include "mgmt/keys/keys_internal.h"
#include "mgmt/wrap/wrap_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;
using namespace qel2::wrap;

namespace {

constexpr Uint32 kMaxKeyType = 32;
constexpr Uint8 kNotGiven = 255;

// A new object described by arguments.
struct ImportArgs {
  Uint32 key_type = 0;
  Uint32 input = PLAIN;
  Uint32 mech = 0;
  const Uint8 *iv = nullptr;
  Uint32 crt_len = 0, pub_exp = 0, mod_bits = 0, curve = 0;
  tmpl::ObjectAccess access;
};

// Class of an importable key type: secret for generic secret, RC4, 3DES and
// AES; private for RSA, DSA and EC; 0 for the rest.
Uint32 import_class(Uint32 type) {
  switch (type) {
    case KEY_TYPE_GENERIC_SECRET:
    case KEY_TYPE_RC4:
    case KEY_TYPE_DES3:
    case KEY_TYPE_AES:
      return OBJ_CLASS_SECRET_KEY;
    case KEY_TYPE_RSA:
    case KEY_TYPE_DSA:
    case KEY_TYPE_EC:
      return OBJ_CLASS_PRIVATE_KEY;
    default:
      return 0;
  }
}

// The template from the arguments, then the plain unwrap request; `req`
// carries the key bytes, the unwrapping key and the outputs.
Uint32 unwrap_common(const ImportArgs &a, UnwrapArgs req) {
  if (a.key_type >= kMaxKeyType || !req.handle || !req.key) return ERR_INVALID_INPUT;
  const Uint32 cls = import_class(a.key_type);
  if (!cls) return ERR_INVALID_INPUT;
  const tmpl::ObjectAccess &who = a.access;
  if (a.input > ENCRYPTED_RAW || who.location > 1) return ERR_INVALID_INPUT;
  if (who.label && reserved_label(who.label, who.label_len)) return ERR_BAD_LABEL;
  tmpl::BuildArgs b = tmpl::build_args(TEMPLATE_MODE_UNWRAP, cls, a.key_type, who);
  b.key_len = req.key_len;
  b.mod_bits = a.mod_bits;
  b.crt_len = a.crt_len;
  b.pub_exp = a.pub_exp;
  b.curve_id = a.curve;
  Uint32 size = 0, count = 0;
  FreedBuffer tmpl(build_template(b, &size, &count));
  if (!tmpl) return ERR_SET_TEMPLATE;
  if (Uint32 r = validateTemplateFromUser2(size, tmpl.get(), &count, TEMPLATE_MODE_UNWRAP))
    return r;
  req.input = a.input;
  req.mech = a.mech;
  req.iv = a.iv;
  req.iv_len = get_key_wrap_iv_len(a.mech);
  req.tmpl = tmpl.get();
  req.tmpl_len = size;
  req.count = count;
  req.location = who.location;
  return unwrap_with_template_common(req);
}

UnwrapArgs request(Uint32 session, const Uint8 *key, Uint32 key_len, Uint64 unwrapping,
                   Uint64 *handle) {
  UnwrapArgs r;
  r.session = session;
  r.key = key;
  r.key_len = key_len;
  r.unwrapping = unwrapping;
  r.handle = handle;
  return r;
}

// The arguments every by-arguments import shares.
ImportArgs described(Uint32 key_type, InputType input, Uint32 crt_len, Uint32 pub_exp,
                     Uint32 mod_bits, Uint32 curve, const Uint32 *sessions, Uint8 n_sessions,
                     const Uint16 *users, Uint8 n_users, const Uint8 *id, Uint32 id_len,
                     const Uint8 *label, Uint32 label_len, const Uint8 *iv, Uint32 mech,
                     Uint8 location) {
  ImportArgs a;
  a.key_type = key_type;
  a.input = input;
  a.crt_len = crt_len;
  a.pub_exp = pub_exp;
  a.mod_bits = mod_bits;
  a.curve = curve;
  // No M value or extended arguments unless the variant gives them; extractable.
  a.access = {sessions, n_sessions, users,     n_users,  0, id,
              id_len,   label,      label_len, location, 1, nullptr};
  a.iv = iv;
  a.mech = mech;
  return a;
}

// The private and secret imports of plain keys as token objects with 4241
// and a zero IV (the key-encryption key arguments are not used).
Uint32 import_plain(Uint32 session, Uint64 unwrapping, Uint32 key_type, const Uint8 *key,
                    Uint32 key_len, const Uint8 *label, Uint32 label_len, Uint32 crt_len,
                    Uint32 pub_exp, Uint32 mod_bits, Uint32 curve, Uint64 *handle) {
  static const Uint8 kZeroIv[8] = {};
  const ImportArgs a =
      described(key_type, PLAIN, crt_len, pub_exp, mod_bits, curve, nullptr, 0, nullptr, 0, nullptr,
                0, label, label_len, kZeroIv, CRYPTO_MECH_AES_KEY_WRAP_PAD, 1);
  return unwrap_common(a, request(session, key, key_len, unwrapping, handle));
}

// The imports with a caller's template: validated in unwrap mode (a
// failure is ERR_INVALID_INPUT), the IV length by mechanism, location not given.
Uint32 template_import(UnwrapArgs r, Uint8 *tmpl, Uint32 size, InputType input, Uint32 mech,
                       const Uint8 *iv) {
  if (validateTemplateFromUser2(size, tmpl, &r.count, TEMPLATE_MODE_UNWRAP))
    return ERR_INVALID_INPUT;
  r.input = input;
  r.mech = mech;
  r.iv = iv;
  r.iv_len = get_key_wrap_iv_len(mech);
  r.tmpl = tmpl;
  r.tmpl_len = size;
  r.location = kNotGiven;
  return unwrap_with_template_common(r);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2ImportKey4(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                  Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint8 ucKeyLocation, Uint64 ulUnwrappingKeyHandle,
                                  Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse,
                                  Uint32 *attestedLength, Uint8 bExtractable) {
  ImportArgs a = described(ulKeyType, KeyInput, ulCrtLen, ulPubExp, ulModLenInBits, ulCurveID,
                           pSessions, ulSessCount, pUsers, ulCount, pID, ulIDLen, pLabel,
                           ulLabelLen, pIV, ulMech, ucKeyLocation);
  a.access.extractable = bExtractable;
  UnwrapArgs r =
      request(ulSessionHandle, pKey, ulKeyLen, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped);
  r.attested = attestedResponse;
  r.attested_len = attestedLength;
  return unwrap_common(a, r);
}

QEL2_EXPORT Uint32 Qel2ImportKey3(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                  Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint8 ucKeyLocation, Uint64 ulUnwrappingKeyHandle,
                                  Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse,
                                  Uint32 *attestedLength) {
  return Qel2ImportKey4(ulSessionHandle, ulKeyType, KeyInput, pKey, ulKeyLen, ulCrtLen, ulPubExp,
                        ulModLenInBits, ulCurveID, pSessions, ulSessCount, pUsers, ulCount, pID,
                        ulIDLen, pLabel, ulLabelLen, pIV, ulMech, ucKeyLocation,
                        ulUnwrappingKeyHandle, pulKeyHandleUnwrapped, attestedResponse,
                        attestedLength, 1);
}

QEL2_EXPORT Uint32 Qel2ImportKey(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                 Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                 Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                 Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                 Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pIV,
                                 Uint32 ulMech, Uint8 ucKeyLocation, Uint64 ulUnwrappingKeyHandle,
                                 Uint64 *pulKeyHandleUnwrapped) {
  return Qel2ImportKey4(ulSessionHandle, ulKeyType, KeyInput, pKey, ulKeyLen, ulCrtLen, ulPubExp,
                        ulModLenInBits, ulCurveID, pSessions, ulSessCount, pUsers, ulCount, pID,
                        ulIDLen, pLabel, ulLabelLen, pIV, ulMech, ucKeyLocation,
                        ulUnwrappingKeyHandle, pulKeyHandleUnwrapped, nullptr, nullptr, 1);
}

QEL2_EXPORT Uint32 Qel2ImportKey2(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                  Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint8 ucKeyLocation, Uint64 ulUnwrappingKeyHandle,
                                  Uint64 *pulKeyHandleUnwrapped, Uint8 *pAttrObj,
                                  Uint32 *ulAttrLen) {
  const ImportArgs a = described(ulKeyType, KeyInput, ulCrtLen, ulPubExp, ulModLenInBits, ulCurveID,
                                 pSessions, ulSessCount, pUsers, ulCount, pID, ulIDLen, pLabel,
                                 ulLabelLen, pIV, ulMech, ucKeyLocation);
  UnwrapArgs r =
      request(ulSessionHandle, pKey, ulKeyLen, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped);
  r.attrs = pAttrObj;
  r.attr_len = ulAttrLen;
  return unwrap_common(a, r);
}

QEL2_EXPORT Uint32 Qel2ImportKey6(
    Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput, Uint32 ulMech, Uint8 *pIV,
    Uint32 /*ulIVLen: the mechanism's IV length is used*/, Uint8 *pKey, Uint32 ulKeyLen,
    Uint32 ulCrtLen, Uint32 ulPubExp, Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
    Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue, Uint8 *pID, Uint32 ulIDLen,
    Uint8 *pLabel, Uint32 ulLabelLen, Uint8 ucKeyLocation, extendedTemplateArgs *extArgs,
    Uint64 ulUnwrappingKeyHandle, Uint64 *pulKeyHandleUnwrapped, Uint8 *pAttrObj, Uint32 *ulAttrLen,
    Uint8 *attestedResponse, Uint32 *attestedLength, Uint32 *request_id) {
  ImportArgs a = described(ulKeyType, KeyInput, ulCrtLen, ulPubExp, ulModLenInBits, ulCurveID,
                           pSessions, ulSessCount, pUsers, ulCount, pID, ulIDLen, pLabel,
                           ulLabelLen, pIV, ulMech, ucKeyLocation);
  a.access.m_value = ulMValue;
  a.access.ext = extArgs;
  UnwrapArgs r =
      request(ulSessionHandle, pKey, ulKeyLen, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped);
  r.attrs = pAttrObj;
  r.attr_len = ulAttrLen;
  r.attested = attestedResponse;
  r.attested_len = attestedLength;
  r.request_id = request_id;
  return unwrap_common(a, r);
}

QEL2_EXPORT Uint32 Qel2ImportKey5(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint32 ulMech, Uint8 *pIV, Uint32 ulIVLen, Uint8 *pKey,
                                  Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                  Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                  Uint8 ucKeyLocation, extendedTemplateArgs *extArgs,
                                  Uint64 ulUnwrappingKeyHandle, Uint64 *pulKeyHandleUnwrapped,
                                  Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint8 *attestedResponse,
                                  Uint32 *attestedLength, Uint32 *request_id) {
  return Qel2ImportKey6(ulSessionHandle, ulKeyType, KeyInput, ulMech, pIV, ulIVLen, pKey, ulKeyLen,
                        ulCrtLen, ulPubExp, ulModLenInBits, ulCurveID, pSessions, ulSessCount,
                        pUsers, ulCount, 0, pID, ulIDLen, pLabel, ulLabelLen, ucKeyLocation,
                        extArgs, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped, pAttrObj, ulAttrLen,
                        attestedResponse, attestedLength, request_id);
}

QEL2_EXPORT Uint32 Qel2ImportRSAPrivateKey(Uint32 ulSessionHandle, Uint8 * /*kek*/,
                                           Uint32 /*kek_size*/, Uint64 ulUnwrappingKeyHandle,
                                           Uint8 *pKey, Uint32 ulKeyLen, Uint8 *pLabel,
                                           Uint32 ulLabelLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                           Uint64 *pulKeyHandleUnwrapped) {
  return import_plain(ulSessionHandle, ulUnwrappingKeyHandle, KEY_TYPE_RSA, pKey, ulKeyLen, pLabel,
                      ulLabelLen, ulCrtLen, ulPubExp, 0, 0, pulKeyHandleUnwrapped);
}

QEL2_EXPORT Uint32 Qel2ImportDSAPrivateKey(Uint32 ulSessionHandle, Uint8 * /*kek*/,
                                           Uint32 /*kek_size*/, Uint64 ulUnwrappingKeyHandle,
                                           Uint8 *pKey, Uint32 ulKeyLen, Uint8 *pLabel,
                                           Uint32 ulLabelLen, Uint32 ulModLenInBits,
                                           Uint64 *pulKeyHandleUnwrapped) {
  return import_plain(ulSessionHandle, ulUnwrappingKeyHandle, KEY_TYPE_DSA, pKey, ulKeyLen, pLabel,
                      ulLabelLen, 0, 0, ulModLenInBits, 0, pulKeyHandleUnwrapped);
}

QEL2_EXPORT Uint32 Qel2ImportECDSAPrivateKey(Uint32 ulSessionHandle, Uint8 * /*kek*/,
                                             Uint32 /*kek_size*/, Uint64 ulUnwrappingKeyHandle,
                                             Uint8 *pKey, Uint32 ulKeyLen, Uint8 *pLabel,
                                             Uint32 ulLabelLen, Uint32 ulCurveID,
                                             Uint64 *pulKeyHandleUnwrapped) {
  return import_plain(ulSessionHandle, ulUnwrappingKeyHandle, KEY_TYPE_EC, pKey, ulKeyLen, pLabel,
                      ulLabelLen, 0, 0, 0, ulCurveID, pulKeyHandleUnwrapped);
}

QEL2_EXPORT Uint32 Qel2ImportSymmetricKey(Uint32 ulSessionHandle, Uint8 * /*pKek*/,
                                          Uint32 /*ulKekSize*/, Uint64 ulUnwrappingKeyHandle,
                                          Uint32 ulKeyType, Uint8 *pKey, Uint32 ulKeyLen,
                                          Uint8 *pLabel, Uint32 ulLabelLen,
                                          Uint64 *pulKeyHandleUnwrapped) {
  return import_plain(ulSessionHandle, ulUnwrappingKeyHandle, ulKeyType, pKey, ulKeyLen, pLabel,
                      ulLabelLen, 0, 0, 0, 0, pulKeyHandleUnwrapped);
}

QEL2_EXPORT Uint32 Qel2ImportKeyTemplate(Uint32 ulSessionHandle, InputType keyInput, Uint32 ulMech,
                                         Uint8 *pIV, Uint8 *pKey, Uint32 ulKeySize,
                                         Uint8 *pTemplate, Uint32 ulTemplateSize,
                                         Uint64 ulUnwrappingKeyHandle,
                                         Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse,
                                         Uint32 *attestedLength) {
  UnwrapArgs r =
      request(ulSessionHandle, pKey, ulKeySize, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped);
  r.attested = attestedResponse;
  r.attested_len = attestedLength;
  return template_import(r, pTemplate, ulTemplateSize, keyInput, ulMech, pIV);
}

QEL2_EXPORT Uint32 Qel2ImportKeyPkcs(Uint32 ulSessionHandle, Uint32 /*ulKeyType*/,
                                     InputType KeyInput, Uint8 *pKey, Uint32 ulKeyLen,
                                     Uint32 /*ulCrtLen*/, Uint32 /*ulPubExp*/,
                                     Uint32 /*ulModLenInBits*/, Uint32 /*ulCurveID*/, Uint8 *pIV,
                                     Uint32 ulMech, Uint32 ulTemplateSize, Uint8 *pTemplate,
                                     Uint64 ulUnwrappingKeyHandle, Uint64 *pulKeyHandleUnwrapped,
                                     Uint8 *pAttrObj, Uint32 *ulAttrLen) {
  UnwrapArgs r =
      request(ulSessionHandle, pKey, ulKeyLen, ulUnwrappingKeyHandle, pulKeyHandleUnwrapped);
  r.attrs = pAttrObj;
  r.attr_len = ulAttrLen;
  return template_import(r, pTemplate, ulTemplateSize, KeyInput, ulMech, pIV);
}

QEL2_EXPORT Uint32 Qel2ImportUnWrapKey(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                       Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                       Uint8 *pIV, Uint8 *pTemplate, Uint32 ulTemplateSize,
                                       Uint32 ulAttributeCount, Uint64 *pulKeyHandleUnwrapped,
                                       Uint8 *attestedResponse, Uint32 *attestedLength,
                                       Uint32 *request_id, Uint8 ucKeyLocation) {
  // The caller's template and count are used as given.
  UnwrapArgs r = request(ulSessionHandle, pWrappedKey, ulWrappedKeyLen, ulUnwrappingKeyHandle,
                         pulKeyHandleUnwrapped);
  r.input = ENCRYPTED;
  r.mech = CRYPTO_MECH_AES_KEY_WRAP_PAD;
  r.iv = pIV;
  r.iv_len = 8;
  r.tmpl = pTemplate;
  r.tmpl_len = ulTemplateSize;
  r.count = ulAttributeCount;
  r.attested = attestedResponse;
  r.attested_len = attestedLength;
  r.request_id = request_id;
  r.location = ucKeyLocation;
  return unwrap_with_template_common(r);
}

}  // extern "C"
