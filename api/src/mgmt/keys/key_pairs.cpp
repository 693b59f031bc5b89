// RSA, DSA and EC key pair generation, from separate arguments (the library
// builds both templates) or from two templates the caller built.
#include <cstdio>

#include "common/template/attr_walk.h"
#include "mgmt/keys/keys_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

// The generation mechanism of a key pair type; 0 for none.
Uint32 pair_mechanism(Uint32 type) {
  switch (type) {
    case KEY_TYPE_RSA:
      return QEL2_MECH_RSA_KEY_PAIR_GEN;
    case KEY_TYPE_DSA:
      return QEL2_MECH_DSA_KEY_PAIR_GEN;
    case KEY_TYPE_EC:
      return QEL2_MECH_EC_KEY_PAIR_GEN;
    default:
      return 0;
  }
}

// The mechanism with the RSA rules (the exponent, taken as signed, positive
// and odd; then the modulus above 512 bits and a multiple of 256): 0 and
// the mechanism, or the refusal.
Uint32 key_pair_mechanism(Uint32 type, Uint32 mod_bits, Uint32 pub_exp, Uint32 *mech) {
  if (type == KEY_TYPE_RSA) {
    const auto e = static_cast<int32_t>(pub_exp);
    if (e <= 0 || e % 2 == 0) return ERR_INVALID_INPUT;
    if (mod_bits <= 512 || mod_bits % 256 != 0) return ERR_UNSUPPORTED_MOD_LEN;
  }
  *mech = pair_mechanism(type);
  return *mech ? 0 : ERR_INVALID_INPUT;
}

Uint32 check_pair_label(const Uint8 *label, Uint32 len) {
  if (!label) return 0;
  if (len > kMaxLabelLen) return ERR_INVALID_INPUT;
  return reserved_label(label, len) ? ERR_BAD_LABEL : 0;
}

}  // namespace

namespace qel2::mgmt {

uint32_t key_pair_needed(const Uint8 *data, uint64_t got, Uint32 capacity, uint64_t *needed) {
  const uint64_t head = tmpl::kObjectHeadSize;
  if (got < head) {
    if (capacity >= head) return TESSALINE_INVALID_MSG;
    *needed = head;
    return 0;
  }
  const uint64_t h1 = be32_at(data + offsetof(Object, obj_size));
  if (capacity < h1 + 2 * head) {
    *needed = h1 + head;
    return 0;
  }
  if (got < h1 + 2 * head) return TESSALINE_INVALID_MSG;
  const uint64_t h2 = be32_at(data + h1 + head + offsetof(Object, obj_size));
  *needed = h1 + h2 + 2 * head;
  return 0;
}

}  // namespace qel2::mgmt

Uint32 Qel2GenerateKeyPairWithTemplateCommon(Uint32 ulSessionHandle, Uint32 ulMech,
                                             Uint8 *pPubTemplate, Uint32 ulPubTemplateSize,
                                             Uint32 ulPubAttributeCount, Uint8 *pPrivTemplate,
                                             Uint32 ulPrivTemplateSize, Uint32 ulPrivAttributeCount,
                                             Uint64 *pulPublicKey, Uint64 *pulPrivateKey,
                                             Uint8 *pAttrObj, Uint32 *ulAttrLen,
                                             KeyGenAttest *keygenattest, Uint32 *request_id) {
  if (!pulPublicKey || !pulPrivateKey || !pPubTemplate || !pPrivTemplate ||
      ulPubTemplateSize == 0 || ulPrivTemplateSize == 0)
    return ERR_INVALID_INPUT;
  const uint8_t token_flags =
      template_token_flags(ulPubTemplateSize, pPubTemplate, pPrivTemplate, ulPrivTemplateSize);
  const uint32_t session = masked_session(ulSessionHandle);
  const AttrOut attrs{pAttrObj, ulAttrLen};
  const Uint32 capacity = attrs.asked() ? *ulAttrLen : 0;

  CommandRecord<sizeof(GenerateKeyPairCommand)> cmd;
  put_keygen_header(cmd.w, session, attrs.asked());
  cmd.w.u32(ulMech).u16(0).u16(0);
  ObjectHead pub_head, priv_head;
  put_object_head(pub_head, ulPubAttributeCount, ulPubTemplateSize);
  put_object_head(priv_head, ulPrivAttributeCount, ulPrivTemplateSize);
  uint8_t resp[sizeof(GenerateKeyPairResponse)] = {};
  MgmtRequest rq(KQ_GENERATE_KEY_PAIR, session, KQ_MGMT_CMD, kLongTimeout);
  rq.token_flags(token_flags);
  rq.command(cmd)
      .command(pub_head)
      .in(pPubTemplate, ulPubTemplateSize)
      .command(priv_head)
      .in(pPrivTemplate, ulPrivTemplateSize)
      .out_local(resp, sizeof resp);
  add_keygen_outputs(rq, attrs, keygenattest);
  rq.send(OSTREL_BLOCKING, request_id);

  const Uint32 r = rq.result();
  if (!rq.decodable()) return r;
  *pulPublicKey = be64_at(resp + offsetof(GenerateKeyPairResponse, ulPublicKey));
  *pulPrivateKey = be64_at(resp + offsetof(GenerateKeyPairResponse, ulPrivateKey));
  if (!attrs.asked()) return r;
  uint64_t needed = 0;
  if (Uint32 e = key_pair_needed(pAttrObj, rq.received(1), capacity, &needed)) return e;
  if (Uint32 e = report_attr_len(attrs, needed, "Buffer is smaller than response")) return e;
  return r;
}

Uint32 Qel2GenerateKeyPairCommon(Uint32 ulSessionHandle, const KeyPairArgs &a, Uint64 *pulPublicKey,
                                 Uint64 *pulPrivateKey, Uint8 *pAttrObj, Uint32 *ulAttrLen,
                                 KeyGenAttest *keygenattest, Uint32 *request_id) {
  const tmpl::ObjectAccess &priv_access = a.access;
  if (a.key_type == KEY_TYPE_RSA && (priv_access.m_value < 1 || priv_access.m_value > 8))
    return ERR_INVALID_INPUT;
  if (priv_access.location > STORAGE_FLASH) return ERR_INVALID_INPUT;
  if (Uint32 r = check_pair_label(a.pub_label, a.pub_label_len)) return r;
  if (Uint32 r = check_pair_label(priv_access.label, priv_access.label_len)) return r;
  Uint32 mech = 0;
  if (Uint32 r = key_pair_mechanism(a.key_type, a.mod_bits, a.pub_exp, &mech)) return r;

  // Both templates carry the same key sizes.
  auto pair_template = [&a](uint32_t key_class, const tmpl::ObjectAccess &who) {
    tmpl::BuildArgs b = tmpl::build_args(TEMPLATE_MODE_KEY_GEN, key_class, a.key_type, who);
    b.mod_bits = a.mod_bits;
    b.pub_exp = a.pub_exp;
    b.curve_id = a.curve;
    b.prime_bits = a.prime_bits;
    b.prime = a.prime;
    b.base_len = a.base_len;
    b.base = a.base;
    return b;
  };
  tmpl::ObjectAccess pub_access = priv_access;
  pub_access.label = a.pub_label;
  pub_access.label_len = a.pub_label_len;
  pub_access.m_value = 0;
  Uint32 pub_size = 0, pub_count = 0;
  FreedBuffer pub(
      build_template(pair_template(OBJ_CLASS_PUBLIC_KEY, pub_access), &pub_size, &pub_count));
  if (!pub) return ERR_SET_TEMPLATE;
  if (Uint32 r = validateTemplateFromUser2(pub_size, pub.get(), &pub_count, TEMPLATE_MODE_KEY_GEN))
    return r;
  Uint32 priv_size = 0, priv_count = 0;
  FreedBuffer priv(
      build_template(pair_template(OBJ_CLASS_PRIVATE_KEY, priv_access), &priv_size, &priv_count));
  if (!priv) return ERR_SET_TEMPLATE;
  if (Uint32 r =
          validateTemplateFromUser2(priv_size, priv.get(), &priv_count, TEMPLATE_MODE_KEY_GEN))
    return r;
  return Qel2GenerateKeyPairWithTemplateCommon(
      ulSessionHandle, mech, pub.get(), pub_size, pub_count, priv.get(), priv_size, priv_count,
      pulPublicKey, pulPrivateKey, pAttrObj, ulAttrLen, keygenattest, request_id);
}

namespace {

KeyPairArgs pair_args(Uint32 type, Uint32 mod_bits, Uint32 pub_exp, Uint32 curve, Uint32 prime_bits,
                      Uint8 *prime, Uint32 base_len, Uint8 *base, Uint32 *sessions,
                      Uint8 n_sessions, Uint16 *users, Uint8 n_users, Uint32 m_value, Uint8 *id,
                      Uint32 id_len, Uint8 *pub_label, Uint32 pub_label_len, Uint8 *priv_label,
                      Uint32 priv_label_len, Uint8 location, Uint8 extractable = 1,
                      extendedTemplateArgs *ext = nullptr) {
  KeyPairArgs a;
  a.key_type = type;
  a.mod_bits = mod_bits;
  a.pub_exp = pub_exp;
  a.curve = curve;
  a.prime_bits = prime_bits;
  a.prime = prime;
  a.base_len = base_len;
  a.base = base;
  // The M value is taken as 8 bits.
  a.access = {sessions,    n_sessions, users,      n_users,        static_cast<Uint8>(m_value),
              id,          id_len,     priv_label, priv_label_len, location,
              extractable, ext};
  a.pub_label = pub_label;
  a.pub_label_len = pub_label_len;
  return a;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2GenerateKeyPair(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLenInBits, Uint32 ulPubExp,
    Uint32 ulCurveID, Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
    Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID, Uint32 ulIDLen,
    Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen, Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
    Uint8 ucKeyLocation, Uint64 *pulPublicKey, Uint64 *pulPrivateKey) {
  return Qel2GenerateKeyPairCommon(
      ulSessionHandle,
      pair_args(ulKeyType, ulModLenInBits, ulPubExp, ulCurveID, ulPrimeLenInBits, pPrime, ulBaseLen,
                pBase, pSessions, ulSessCount, pUsers, ulCount, 1, pID, ulIDLen, pPubKeyLabel,
                ulPubLabelLen, pPrivKeyLabel, ulPrivLabelLen, ucKeyLocation),
      pulPublicKey, pulPrivateKey, nullptr, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GenerateKeyPair2(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                        Uint32 ulModLenInBits, Uint32 ulPubExp, Uint32 ulCurveID,
                                        Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen,
                                        Uint8 *pBase, Uint32 *pSessions, Uint8 ulSessCount,
                                        Uint16 *pUsers, Uint8 ulCount, Uint32 ulMValue, Uint8 *pID,
                                        Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                        Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                        Uint8 ucKeyLocation, Uint8 /*p_no*/, Uint64 *pulPublicKey,
                                        Uint64 *pulPrivateKey) {
  return Qel2GenerateKeyPairCommon(
      ulSessionHandle,
      pair_args(ulKeyType, ulModLenInBits, ulPubExp, ulCurveID, ulPrimeLenInBits, pPrime, ulBaseLen,
                pBase, pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID, ulIDLen,
                pPubKeyLabel, ulPubLabelLen, pPrivKeyLabel, ulPrivLabelLen, ucKeyLocation),
      pulPublicKey, pulPrivateKey, nullptr, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GenerateKeyPair3(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                        Uint32 ulModLenInBits, Uint32 ulPubExp, Uint32 ulCurveID,
                                        Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen,
                                        Uint8 *pBase, Uint32 *pSessions, Uint8 ulSessCount,
                                        Uint16 *pUsers, Uint8 ulCount, Uint32 ulMValue, Uint8 *pID,
                                        Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                        Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                        Uint8 ucKeyLocation, Uint8 /*p_no*/, Uint64 *pulPublicKey,
                                        Uint64 *pulPrivateKey, Uint8 *pAttrObj, Uint32 *ulAttrLen) {
  return Qel2GenerateKeyPairCommon(
      ulSessionHandle,
      pair_args(ulKeyType, ulModLenInBits, ulPubExp, ulCurveID, ulPrimeLenInBits, pPrime, ulBaseLen,
                pBase, pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID, ulIDLen,
                pPubKeyLabel, ulPubLabelLen, pPrivKeyLabel, ulPrivLabelLen, ucKeyLocation),
      pulPublicKey, pulPrivateKey, pAttrObj, ulAttrLen, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GenerateKeyPair4(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLenInBits, Uint32 ulPubExp,
    Uint32 ulCurveID, Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
    Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint32 ulMValue,
    Uint8 *pID, Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen, Uint8 *pPrivKeyLabel,
    Uint32 ulPrivLabelLen, Uint8 ucKeyLocation, Uint8 bExtractable, Uint8 /*p_no*/,
    Uint64 *pulPublicKey, Uint64 *pulPrivateKey, KeyGenAttest *keygenattest, Uint32 *request_id) {
  return Qel2GenerateKeyPairCommon(
      ulSessionHandle,
      pair_args(ulKeyType, ulModLenInBits, ulPubExp, ulCurveID, ulPrimeLenInBits, pPrime, ulBaseLen,
                pBase, pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID, ulIDLen,
                pPubKeyLabel, ulPubLabelLen, pPrivKeyLabel, ulPrivLabelLen, ucKeyLocation,
                bExtractable),
      pulPublicKey, pulPrivateKey, nullptr, nullptr, keygenattest, request_id);
}

QEL2_EXPORT Uint32 Qel2GenerateKeyPair5(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLenInBits, Uint32 ulPubExp,
    Uint32 ulCurveID, Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
    Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint32 ulMValue,
    Uint8 *pID, Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen, Uint8 *pPrivKeyLabel,
    Uint32 ulPrivLabelLen, Uint8 ucKeyLocation, Uint8 bExtractable, extendedTemplateArgs *extArgs,
    Uint8 /*p_no*/, Uint64 *pulPublicKey, Uint64 *pulPrivateKey, Uint8 *pAttrObj, Uint32 *ulAttrLen,
    KeyGenAttest *keygenattest, Uint32 *request_id) {
  return Qel2GenerateKeyPairCommon(
      ulSessionHandle,
      pair_args(ulKeyType, ulModLenInBits, ulPubExp, ulCurveID, ulPrimeLenInBits, pPrime, ulBaseLen,
                pBase, pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID, ulIDLen,
                pPubKeyLabel, ulPubLabelLen, pPrivKeyLabel, ulPrivLabelLen, ucKeyLocation,
                bExtractable, extArgs),
      pulPublicKey, pulPrivateKey, pAttrObj, ulAttrLen, keygenattest, request_id);
}

QEL2_EXPORT Uint32 Qel2RSAGenKeyPair(Uint32 ulSessionHandle, Uint32 ulModLenInBits, Uint32 ulPubExp,
                                     Uint8 *pID, Uint32 ulIDLen, Uint8 *pPubKeyLabel,
                                     Uint32 ulPubLabelLen, Uint8 *pPrivKeyLabel,
                                     Uint32 ulPrivLabelLen, Uint8 ucKeyLocation,
                                     Uint64 *pulPublicKey, Uint64 *pulPrivateKey) {
  return Qel2GenerateKeyPairCommon(
      ulSessionHandle,
      pair_args(KEY_TYPE_RSA, ulModLenInBits, ulPubExp, 0, 0, nullptr, 0, nullptr, nullptr, 0,
                nullptr, 0, 1, pID, ulIDLen, pPubKeyLabel, ulPubLabelLen, pPrivKeyLabel,
                ulPrivLabelLen, ucKeyLocation),
      pulPublicKey, pulPrivateKey, nullptr, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2DSAGenKeyPair(Uint32 ulSessionHandle, Uint32 ulModLenInBits, Uint8 *pID,
                                     Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                     Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                     Uint8 ucKeyLocation, Uint64 *pulPublicKey,
                                     Uint64 *pulPrivateKey) {
  return Qel2GenerateKeyPairCommon(
      ulSessionHandle,
      pair_args(KEY_TYPE_DSA, ulModLenInBits, 0, 0, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, 0,
                0, pID, ulIDLen, pPubKeyLabel, ulPubLabelLen, pPrivKeyLabel, ulPrivLabelLen,
                ucKeyLocation),
      pulPublicKey, pulPrivateKey, nullptr, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2ECCGenKeyPair(Uint32 ulSessionHandle, Uint32 ulCurveID, Uint8 *pID,
                                     Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                     Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                     Uint8 ucKeyLocation, Uint64 *pulPublicKey,
                                     Uint64 *pulPrivateKey) {
  return Qel2GenerateKeyPairCommon(
      ulSessionHandle,
      pair_args(KEY_TYPE_EC, 0, 0, ulCurveID, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, 0, 1,
                pID, ulIDLen, pPubKeyLabel, ulPubLabelLen, pPrivKeyLabel, ulPrivLabelLen,
                ucKeyLocation),
      pulPublicKey, pulPrivateKey, nullptr, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GenerateKeyPairPkcs(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                           Uint32 ulModLenInBits, Uint32 ulPubExp,
                                           Uint32 ulPubTemplateSize, Uint8 *pPubTemplate,
                                           Uint32 ulPrivTemplateSize, Uint8 *pPrivTemplate,
                                           Uint8 /*p_no*/, Uint64 *pulPublicKey,
                                           Uint64 *pulPrivateKey, Uint8 *pAttrObj,
                                           Uint32 *ulAttrLen) {
  Uint32 pub_count = 0, priv_count = 0;
  if (validateTemplateFromUser2(ulPubTemplateSize, pPubTemplate, &pub_count,
                                TEMPLATE_MODE_KEY_GEN) ||
      validateTemplateFromUser2(ulPrivTemplateSize, pPrivTemplate, &priv_count,
                                TEMPLATE_MODE_KEY_GEN))
    return ERR_INVALID_INPUT;
  Uint32 mech = 0;
  if (Uint32 r = key_pair_mechanism(ulKeyType, ulModLenInBits, ulPubExp, &mech)) return r;
  return Qel2GenerateKeyPairWithTemplateCommon(
      ulSessionHandle, mech, pPubTemplate, ulPubTemplateSize, pub_count, pPrivTemplate,
      ulPrivTemplateSize, priv_count, pulPublicKey, pulPrivateKey, pAttrObj, ulAttrLen, nullptr,
      nullptr);
}

QEL2_EXPORT Uint32 Qel2GenerateKeyPairTemplate(Uint32 ulSessionHandle, Uint8 *pPubTemplate,
                                               Uint32 ulPubTemplateSize, Uint8 *pPriTemplate,
                                               Uint32 ulPriTemplateSize, Uint8 /*p_no*/,
                                               Uint64 *pulPublicKey, Uint64 *pulPrivateKey,
                                               KeyGenAttest *attest_info) {
  int32_t cls = 0;
  if (!template_number(pPubTemplate, ulPubTemplateSize, OBJ_ATTR_CLASS, &cls)) {
    printf("\n\tError: Key class attribute (OBJ_ATTR_CLASS) is not passed in Public Key Template");
    return ERR_INVALID_INPUT;
  }
  if (cls != OBJ_CLASS_PUBLIC_KEY) {
    printf("\n\tError: Invalid OBJ_ATTR_CLASS attribute %d passed in Public Key Template\n", cls);
    return ERR_INVALID_INPUT;
  }
  if (!template_number(pPriTemplate, ulPriTemplateSize, OBJ_ATTR_CLASS, &cls)) {
    printf("\n\tError: Key class attribute (OBJ_ATTR_CLASS) is not passed in Private Key Template");
    return ERR_INVALID_INPUT;
  }
  if (cls != OBJ_CLASS_PRIVATE_KEY) {
    printf("\n\tError: Invalid OBJ_ATTR_CLASS attribute %d passed in Private Key Template\n", cls);
    return ERR_INVALID_INPUT;
  }
  Uint32 pub_count = 0, priv_count = 0;
  if (validateTemplateFromUser2(ulPubTemplateSize, pPubTemplate, &pub_count,
                                TEMPLATE_MODE_KEY_GEN) ||
      validateTemplateFromUser2(ulPriTemplateSize, pPriTemplate, &priv_count,
                                TEMPLATE_MODE_KEY_GEN))
    return ERR_INVALID_INPUT;
  int32_t type = 0;
  if (!template_number(pPubTemplate, ulPubTemplateSize, OBJ_ATTR_KEY_TYPE, &type)) {
    printf(
        "\n\tError: Key type attribute (OBJ_ATTR_KEY_TYPE) is not passed in Public key Template");
    return ERR_INVALID_INPUT;
  }
  // No RSA rules here: the templates carry the key's sizes.
  const Uint32 mech = type < 0 ? 0 : pair_mechanism(static_cast<Uint32>(type));
  if (mech == 0) return ERR_INVALID_INPUT;
  return Qel2GenerateKeyPairWithTemplateCommon(
      ulSessionHandle, mech, pPubTemplate, ulPubTemplateSize, pub_count, pPriTemplate,
      ulPriTemplateSize, priv_count, pulPublicKey, pulPrivateKey, nullptr, nullptr, attest_info,
      nullptr);
}

}  // extern "C"
