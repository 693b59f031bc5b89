// Secret key generation: generic secrets, RC4, 3DES and AES keys, from
// separate arguments (the library builds the template) or from a template
// the caller built.
#include <cstdio>

#include "mgmt/keys/keys_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

// Sizes the caller-template form accepts: no empty keys, RC4 below 256.
bool pkcs_size_ok(Uint32 type, Uint32 len) {
  switch (type) {
    case KEY_TYPE_GENERIC_SECRET:
      return len >= 1 && len <= 4096;
    case KEY_TYPE_RC4:
      return len >= 1 && len <= 255;
    case KEY_TYPE_DES3:
      return len == 24;
    case KEY_TYPE_AES:
      return len == 16 || len == 24 || len == 32;
    default:
      return false;
  }
}

}  // namespace

Uint32 Qel2GenerateKeyWithTemplateCommon(Uint32 ulSessionHandle, Uint32 ulMech, Uint8 *pTemplate,
                                         Uint32 ulTemplateSize, Uint32 ulAttributeCount,
                                         Uint64 *pulKeyHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen,
                                         KeyGenAttest *keygenattest, Uint32 *request_id) {
  if (!pTemplate || ulTemplateSize == 0 || !pulKeyHandle) return ERR_INVALID_INPUT;
  const uint8_t token_flags = template_token_flags(ulTemplateSize, pTemplate);
  const uint32_t session = masked_session(ulSessionHandle);
  const AttrOut attrs{pAttrObj, ulAttrLen};
  const Uint32 capacity = attrs.asked() ? *ulAttrLen : 0;

  CommandRecord<sizeof(GenerateKeyCommand)> cmd;
  put_keygen_header(cmd.w, session, attrs.asked());
  cmd.w.u32(ulMech);
  ObjectHead head;
  put_object_head(head, ulAttributeCount, ulTemplateSize);
  uint8_t resp[sizeof(GenerateKeyResponse)] = {};
  MgmtRequest rq(KQ_GENERATE_KEY, session);
  rq.token_flags(token_flags);
  rq.command(cmd).command(head).in(pTemplate, ulTemplateSize).out_local(resp, sizeof resp);
  add_keygen_outputs(rq, attrs, keygenattest);
  rq.send(OSTREL_BLOCKING, request_id);

  const Uint32 r = rq.result();
  if (!rq.decodable()) return r;
  *pulKeyHandle = be64_at(resp + offsetof(GenerateKeyResponse, ulNewKeyHandle));
  if (!attrs.asked()) return r;
  uint64_t needed = 0;
  if (!one_object_needed(pAttrObj, rq.received(1), &needed)) {
    // Not even the head arrived: a buffer too short for it learns the head's
    // size first; a longer one was answered short.
    if (capacity >= sizeof(Object)) return TESSALINE_INVALID_MSG;
    needed = sizeof(Object);
  }
  if (Uint32 e = report_attr_len(attrs, needed, "Output buffer is smaller than data from FW"))
    return e;
  return r;
}

Uint32 Qel2GenerateKeyCommon(Uint32 ulSessionHandle, const SecretKeyArgs &a, Uint64 *pulKeyHandle,
                             Uint8 *pAttrObj, Uint32 *ulAttrLen, KeyGenAttest *keygenattest,
                             Uint32 *request_id) {
  if (a.key_type == KEY_TYPE_DES) {
    printf("%s %d Error DES key generation is not supported currently\n", __func__, __LINE__);
    return ERR_INVALID_INPUT;
  }
  if (!is_valid_symmetric_key_type_size(a.key_type, a.key_len)) return ERR_INVALID_INPUT;
  const Uint32 mech = secret_key_mechanism(a.key_type);
  tmpl::BuildArgs b =
      tmpl::build_args(TEMPLATE_MODE_KEY_GEN, OBJ_CLASS_SECRET_KEY, a.key_type, a.access);
  b.key_len = a.key_len;
  Uint32 size = 0, count = 0;
  FreedBuffer tmpl(build_template(b, &size, &count));
  if (!tmpl) return ERR_SET_TEMPLATE;
  if (Uint32 r = validateTemplateFromUser2(size, tmpl.get(), &count, TEMPLATE_MODE_KEY_GEN))
    return r;
  return Qel2GenerateKeyWithTemplateCommon(ulSessionHandle, mech, tmpl.get(), size, count,
                                           pulKeyHandle, pAttrObj, ulAttrLen, keygenattest,
                                           request_id);
}

namespace {

SecretKeyArgs secret_args(Uint32 type, Uint32 len, Uint32 *sessions, Uint8 n_sessions,
                          Uint16 *users, Uint8 n_users, Uint8 m_value, Uint8 *id, Uint32 id_len,
                          Uint8 *label, Uint32 label_len, Uint8 location, Uint8 extractable = 1,
                          extendedTemplateArgs *ext = nullptr) {
  return {type,
          len,
          {sessions, n_sessions, users, n_users, m_value, id, id_len, label, label_len, location,
           extractable, ext}};
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2GenerateSymmetricKey(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                            Uint32 ulKeyLen, Uint32 *pSessions, Uint8 ulSessCount,
                                            Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue,
                                            Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                            Uint32 ulLabelLen, Uint8 ucKeyLocation,
                                            Uint64 *pulKeyHandle) {
  return Qel2GenerateKeyCommon(
      ulSessionHandle,
      secret_args(ulKeyType, ulKeyLen, pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID,
                  ulIDLen, pLabel, ulLabelLen, ucKeyLocation),
      pulKeyHandle, nullptr, nullptr, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GenerateSymmetricKey2(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                             Uint32 ulKeyLen, Uint32 *pSessions, Uint8 ulSessCount,
                                             Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue,
                                             Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                             Uint32 ulLabelLen, Uint8 ucKeyLocation,
                                             Uint64 *pulKeyHandle, Uint8 *pAttrObj,
                                             Uint32 *ulAttrLen) {
  return Qel2GenerateKeyCommon(
      ulSessionHandle,
      secret_args(ulKeyType, ulKeyLen, pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID,
                  ulIDLen, pLabel, ulLabelLen, ucKeyLocation),
      pulKeyHandle, pAttrObj, ulAttrLen, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GenerateSymmetricKey3(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                             Uint32 ulKeyLen, Uint32 *pSessions, Uint8 ulSessCount,
                                             Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue,
                                             Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                             Uint32 ulLabelLen, Uint8 ucKeyLocation,
                                             Uint8 bExtractable, Uint64 *pulKeyHandle,
                                             KeyGenAttest *keygenattest, Uint32 *request_id) {
  return Qel2GenerateKeyCommon(
      ulSessionHandle,
      secret_args(ulKeyType, ulKeyLen, pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID,
                  ulIDLen, pLabel, ulLabelLen, ucKeyLocation, bExtractable),
      pulKeyHandle, nullptr, nullptr, keygenattest, request_id);
}

QEL2_EXPORT Uint32 Qel2GenerateSymmetricKey4(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulKeyLen, Uint32 *pSessions, Uint8 ulSessCount,
    Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue, Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
    Uint32 ulLabelLen, Uint8 ucKeyLocation, Uint8 bExtractable, extendedTemplateArgs *extArgs,
    Uint64 *pulKeyHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen, KeyGenAttest *keygenattest,
    Uint32 *request_id) {
  return Qel2GenerateKeyCommon(
      ulSessionHandle,
      secret_args(ulKeyType, ulKeyLen, pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID,
                  ulIDLen, pLabel, ulLabelLen, ucKeyLocation, bExtractable, extArgs),
      pulKeyHandle, pAttrObj, ulAttrLen, keygenattest, request_id);
}

QEL2_EXPORT Uint32 Qel2GenerateSymmetricKeyPkcs(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                                Uint32 ulKeyLen, Uint32 ulTemplateSize,
                                                Uint8 *pTemplate, Uint64 *pulKeyHandle,
                                                Uint8 *pAttrObj, Uint32 *ulAttrLen) {
  // The size is only checked: the template carries the key's length.
  if (!pkcs_size_ok(ulKeyType, ulKeyLen)) return ERR_INVALID_INPUT;
  Uint32 count = 0;
  if (validateTemplateFromUser2(ulTemplateSize, pTemplate, &count, TEMPLATE_MODE_KEY_GEN))
    return ERR_INVALID_INPUT;
  return Qel2GenerateKeyWithTemplateCommon(ulSessionHandle, secret_key_mechanism(ulKeyType),
                                           pTemplate, ulTemplateSize, count, pulKeyHandle, pAttrObj,
                                           ulAttrLen, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GenerateSymmetricKeyTemplate(Uint32 ulSessionHandle, Uint8 *pTemplate,
                                                    Uint32 ulTemplateSize, Uint64 *pulKey,
                                                    KeyGenAttest *attest_info) {
  Uint32 count = 0;
  if (validateTemplateFromUser2(ulTemplateSize, pTemplate, &count, TEMPLATE_MODE_KEY_GEN))
    return ERR_INVALID_INPUT;
  int32_t type = 0;
  if (!template_number(pTemplate, ulTemplateSize, OBJ_ATTR_KEY_TYPE, &type)) {
    printf("\n\tError: Key type attribute (OBJ_ATTR_KEY_TYPE) is not passed in Template");
    return ERR_INVALID_INPUT;
  }
  // DES has no generation mechanism, so the table refuses it with the rest.
  const Uint32 mech = type < 0 ? 0 : secret_key_mechanism(static_cast<Uint32>(type));
  if (mech == 0) return ERR_INVALID_INPUT;
  return Qel2GenerateKeyWithTemplateCommon(ulSessionHandle, mech, pTemplate, ulTemplateSize, count,
                                           pulKey, nullptr, nullptr, attest_info, nullptr);
}

}  // extern "C"
