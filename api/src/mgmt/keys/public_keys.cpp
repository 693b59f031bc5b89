// Public key objects made from key material the caller holds: an RSA
// modulus and exponent, or the public data of a DSA or EC key.
#include <cstdio>

#include "mgmt/keys/keys_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

Uint32 Qel2CreateObjectWithTemplateCommon(Uint32 ulSessionHandle, Uint8 *pKeyData,
                                          Uint32 ulKeyDataLen, Uint32 ulPubTemplateSize,
                                          Uint8 *pPubTemplate, Uint32 ulAttributeCount,
                                          Uint64 *pulHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen,
                                          Uint32 *request_id) {
  if (!pPubTemplate || ulPubTemplateSize == 0 || !pulHandle) return ERR_INVALID_INPUT;
  const uint8_t token_flags = template_token_flags(ulPubTemplateSize, pPubTemplate);
  const uint32_t session = masked_session(ulSessionHandle);
  const AttrOut attrs{pAttrObj, ulAttrLen};
  const Uint32 capacity = attrs.asked() ? *ulAttrLen : 0;

  CommandRecord<sizeof(CreateObjectCommand)> cmd;
  put_keygen_header(cmd.w, session, attrs.asked());
  ObjectHead head;
  put_object_head(head, ulAttributeCount, ulPubTemplateSize);
  uint8_t key_len_word[4];
  put_be32(key_len_word, ulKeyDataLen);
  uint8_t resp[sizeof(CreateObjectResponse)] = {};
  MgmtRequest rq(KQ_CREATE_OBJECT, session);
  rq.token_flags(token_flags);
  rq.command(cmd)
      .command(head)
      .in(pPubTemplate, ulPubTemplateSize)
      .in(key_len_word, sizeof key_len_word);
  if (pKeyData && ulKeyDataLen) rq.in(pKeyData, ulKeyDataLen);
  rq.out_local(resp, sizeof resp);
  add_keygen_outputs(rq, attrs, nullptr);
  rq.send(OSTREL_BLOCKING, request_id);

  const Uint32 r = rq.result();
  const MgmtRequest::Decode d = rq.decode();
  if (d == MgmtRequest::Decode::kNo) return r;
  if (d == MgmtRequest::Decode::kYes)
    *pulHandle = be64_at(resp + offsetof(CreateObjectResponse, ulNewObjHandle));
  if (!attrs.asked()) return r;
  uint64_t needed = 0;
  if (!one_object_needed(pAttrObj, rq.received(1), &needed)) {
    // A size answer without the head tells nothing more; a success without
    // it was answered short, unless the buffer could not even hold the head.
    if (d == MgmtRequest::Decode::kSize) return r;
    if (capacity >= sizeof(Object)) return TESSALINE_INVALID_MSG;
    needed = sizeof(Object);
  }
  if (Uint32 e = report_attr_len(attrs, needed, "Output buffer is smaller than data from FW"))
    return d == MgmtRequest::Decode::kSize ? r : e;
  return r;
}

Uint32 Qel2CreateObjectCommon(Uint32 ulSessionHandle, const PublicKeyArgs &a, Uint64 *pulHandle,
                              Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint32 *request_id) {
  if (a.access.label_len > kMaxLabelLen) return ERR_DATA_LEN_RANGE;
  if (a.key_type == KEY_TYPE_RSA && static_cast<int32_t>(a.pub_exp) <= 0) return ERR_INVALID_INPUT;
  // Lengths in bits must fit the template's 32-bit numbers.
  if (a.mod_len > UINT32_MAX / 8 || a.prime_len > UINT32_MAX / 8) return ERR_SET_TEMPLATE;
  tmpl::BuildArgs b =
      tmpl::build_args(TEMPLATE_MODE_CREATE, OBJ_CLASS_PUBLIC_KEY, a.key_type, a.access);
  b.mod_bits = a.mod_len * 8;
  b.modulus = a.key_data;
  b.pub_exp = a.pub_exp;
  b.curve_id = a.curve;
  b.prime_bits = a.prime_len * 8;
  b.prime = a.prime;
  b.base_len = a.base_len;
  b.base = a.base;
  Uint32 size = 0, count = 0;
  FreedBuffer tmpl(build_template(b, &size, &count));
  if (!tmpl) return ERR_SET_TEMPLATE;
  if (Uint32 r = validateTemplateFromUser2(size, tmpl.get(), &count, TEMPLATE_MODE_CREATE))
    return r;
  return Qel2CreateObjectWithTemplateCommon(ulSessionHandle, a.key_data, a.key_data_len, size,
                                            tmpl.get(), count, pulHandle, pAttrObj, ulAttrLen,
                                            request_id);
}

namespace {

PublicKeyArgs public_args(Uint32 type, Uint32 mod_len, Uint32 pub_exp, Uint32 curve,
                          Uint32 prime_len, Uint8 *prime, Uint32 base_len, Uint8 *base,
                          Uint8 *key_data, Uint32 key_data_len, Uint32 *sessions, Uint8 n_sessions,
                          Uint16 *users, Uint8 n_users, Uint8 *id, Uint32 id_len, Uint8 *label,
                          Uint32 label_len, Uint8 location, extendedTemplateArgs *ext = nullptr) {
  PublicKeyArgs a;
  a.key_type = type;
  a.mod_len = mod_len;
  a.pub_exp = pub_exp;
  a.curve = curve;
  a.prime_len = prime_len;
  a.prime = prime;
  a.base_len = base_len;
  a.base = base;
  a.key_data = key_data;
  a.key_data_len = key_data_len;
  // Public keys have no M value and are always extractable.
  a.access = {sessions, n_sessions, users,     n_users,  0, id,
              id_len,   label,      label_len, location, 1, ext};
  return a;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2CreatePublicKey(Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen,
                                       Uint32 ulPubExp, Uint32 ulCurveID, Uint32 ulPrimeLen,
                                       Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
                                       Uint8 *pKeyData, Uint32 ulKeyDataLen, Uint32 *pSessions,
                                       Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                       Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                       Uint8 ucKeyLocation, Uint64 *pulHandle) {
  return Qel2CreateObjectCommon(
      ulSessionHandle,
      public_args(ulKeyType, ulModLen, ulPubExp, ulCurveID, ulPrimeLen, pPrime, ulBaseLen, pBase,
                  pKeyData, ulKeyDataLen, pSessions, ulSessCount, pUsers, ulCount, pID, ulIDLen,
                  pLabel, ulLabelLen, ucKeyLocation),
      pulHandle, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2CreatePublicKey2(Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen,
                                        Uint32 ulPubExp, Uint32 ulCurveID, Uint32 ulPrimeLen,
                                        Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
                                        Uint8 *pKeyData, Uint32 ulKeyDataLen, Uint32 *pSessions,
                                        Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount,
                                        Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                        Uint32 ulLabelLen, Uint8 ucKeyLocation, Uint8 /*p_no*/,
                                        Uint64 *pulHandle) {
  return Qel2CreateObjectCommon(
      ulSessionHandle,
      public_args(ulKeyType, ulModLen, ulPubExp, ulCurveID, ulPrimeLen, pPrime, ulBaseLen, pBase,
                  pKeyData, ulKeyDataLen, pSessions, ulSessCount, pUsers, ulCount, pID, ulIDLen,
                  pLabel, ulLabelLen, ucKeyLocation),
      pulHandle, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2CreatePublicKey3(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen, Uint32 ulPubExp, Uint32 ulCurveID,
    Uint32 ulPrimeLen, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase, Uint8 *pKeyData,
    Uint32 ulKeyDataLen, Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount,
    Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 ucKeyLocation,
    Uint8 /*p_no*/, Uint64 *pulHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint32 *request_id) {
  return Qel2CreateObjectCommon(
      ulSessionHandle,
      public_args(ulKeyType, ulModLen, ulPubExp, ulCurveID, ulPrimeLen, pPrime, ulBaseLen, pBase,
                  pKeyData, ulKeyDataLen, pSessions, ulSessCount, pUsers, ulCount, pID, ulIDLen,
                  pLabel, ulLabelLen, ucKeyLocation),
      pulHandle, pAttrObj, ulAttrLen, request_id);
}

QEL2_EXPORT Uint32 Qel2CreatePublicKey4(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen, Uint32 ulPubExp, Uint32 ulCurveID,
    Uint32 ulPrimeLen, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase, Uint8 *pKeyData,
    Uint32 ulKeyDataLen, Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount,
    Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 ucKeyLocation,
    extendedTemplateArgs *extArgs, Uint8 /*p_no*/, Uint64 *pulHandle, Uint8 *pAttrObj,
    Uint32 *ulAttrLen, Uint32 *request_id) {
  return Qel2CreateObjectCommon(
      ulSessionHandle,
      public_args(ulKeyType, ulModLen, ulPubExp, ulCurveID, ulPrimeLen, pPrime, ulBaseLen, pBase,
                  pKeyData, ulKeyDataLen, pSessions, ulSessCount, pUsers, ulCount, pID, ulIDLen,
                  pLabel, ulLabelLen, ucKeyLocation, extArgs),
      pulHandle, pAttrObj, ulAttrLen, request_id);
}

QEL2_EXPORT Uint32 Qel2CreateRSAPublicKey(Uint32 ulSessionHandle, Uint8 *pModulus, Uint32 ulModLen,
                                          Uint32 ulPubExp, Uint8 *pID, Uint32 ulIDLen,
                                          Uint8 *pLabel, Uint32 ulLabelLen, Uint8 ucKeyLocation,
                                          Uint64 *pulHandle) {
  return Qel2CreateObjectCommon(
      ulSessionHandle,
      public_args(KEY_TYPE_RSA, ulModLen, ulPubExp, 0, 0, nullptr, 0, nullptr, pModulus, ulModLen,
                  nullptr, 0, nullptr, 0, pID, ulIDLen, pLabel, ulLabelLen, ucKeyLocation),
      pulHandle, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2ImportRSAPublicKey(Uint32 ulSessionHandle, Uint8 *pID, Uint32 ulIDLen,
                                          Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pKeyData,
                                          Uint32 ulKeyDataLen, Uint8 ucKeyLocation,
                                          Uint64 *pulHandle) {
  // Modulus length and exponent 0: the worker's exponent rule refuses every call.
  return Qel2CreateObjectCommon(
      ulSessionHandle,
      public_args(KEY_TYPE_RSA, 0, 0, 0, 0, nullptr, 0, nullptr, pKeyData, ulKeyDataLen, nullptr, 0,
                  nullptr, 0, pID, ulIDLen, pLabel, ulLabelLen, ucKeyLocation),
      pulHandle, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2CreatePublicKeyPkcs(Uint32 ulSessionHandle, Uint32 /*ulKeyType*/,
                                           Uint32 /*ulModLen*/, Uint32 /*ulPubExp*/,
                                           Uint8 *pKeyData, Uint32 ulKeyDataLen,
                                           Uint32 ulPubTemplateSize, Uint8 *pPubTemplate,
                                           Uint8 /*p_no*/, Uint64 *pulHandle, Uint8 *pAttrObj,
                                           Uint32 *ulAttrLen) {
  Uint32 count = 0;
  if (validateTemplateFromUser2(ulPubTemplateSize, pPubTemplate, &count, TEMPLATE_MODE_CREATE))
    return ERR_INVALID_INPUT;
  return Qel2CreateObjectWithTemplateCommon(ulSessionHandle, pKeyData, ulKeyDataLen,
                                            ulPubTemplateSize, pPubTemplate, count, pulHandle,
                                            pAttrObj, ulAttrLen, nullptr);
}

QEL2_EXPORT Uint32 Qel2CreatePublicKeyTemplate(Uint32 ulSessionHandle, Uint8 *keyData,
                                               Uint32 keyDataLen, Uint8 *pPubTemplate,
                                               Uint32 ulPubTemplateSize, Uint64 *pulHandle) {
  Uint32 count = 0;
  if (validateTemplateFromUser2(ulPubTemplateSize, pPubTemplate, &count, TEMPLATE_MODE_CREATE))
    return ERR_INVALID_INPUT;
  return Qel2CreateObjectWithTemplateCommon(ulSessionHandle, keyData, keyDataLen, ulPubTemplateSize,
                                            pPubTemplate, count, pulHandle, nullptr, nullptr,
                                            nullptr);
}

}  // extern "C"
