// The template builder of the key calls: SetTemplate3 and its short form.
#include <cstdio>

#include "common/template/builder_parts.h"
#include "qel2_template.h"

namespace qel2::tmpl {
namespace {

bool is_des3_or_aes_secret(const BuildArgs &a) {
  return a.key_class == OBJ_CLASS_SECRET_KEY &&
         (a.key_type == KEY_TYPE_DES3 || a.key_type == KEY_TYPE_AES);
}

bool add_wrap_flags(TemplateWriter &w, const BuildArgs &a) {
  if (!a.in(kModesCreateGenUnwrap)) return true;
  const bool rsa = a.key_type == KEY_TYPE_RSA;
  if ((is_des3_or_aes_secret(a) || (a.key_class == OBJ_CLASS_PUBLIC_KEY && rsa)) &&
      !w.flag(OBJ_ATTR_WRAP, true))
    return false;
  if ((is_des3_or_aes_secret(a) || (a.key_class == OBJ_CLASS_PRIVATE_KEY && rsa)) &&
      !w.flag(OBJ_ATTR_UNWRAP, true))
    return false;
  return true;
}

bool add_sharing(TemplateWriter &w, const BuildArgs &a) {
  const uint32_t shared = uint32_t{a.n_users} + 1;
  if (!add_access(w, a.n_users)) return false;
  if (a.m_value != 0 && a.m_value > shared) {
    printf("key m_value = %u and shared user count = %u\n", a.m_value, shared);
    return false;
  }
  return add_users(w, a.users, a.n_users) && add_m_value(w, a.m_value);
}

bool add_label_and_id(TemplateWriter &w, const BuildArgs &a) {
  if (a.label_len != 0) {
    if (!add_bytes_if_given(w, OBJ_ATTR_LABEL, a.label, a.label_len)) return false;
  } else if (a.in(kModesCreateGenDerive)) {
    return false;
  }
  return add_bytes_if_given(w, OBJ_ATTR_ID, a.id, a.id_len);
}

bool add_usage_flags(TemplateWriter &w, const BuildArgs &a) {
  if (a.find()) return true;
  const bool secret = a.key_class == OBJ_CLASS_SECRET_KEY;
  const bool rsa = a.key_type == KEY_TYPE_RSA;
  if (a.key_class == OBJ_CLASS_PRIVATE_KEY) {
    if (!w.flag(OBJ_ATTR_SIGN, true)) return false;
  } else if ((secret || rsa) && !w.flag(OBJ_ATTR_ENCRYPT, true)) {
    return false;
  }
  if (a.key_class == OBJ_CLASS_PUBLIC_KEY) {
    if (!w.flag(OBJ_ATTR_VERIFY, true)) return false;
  } else if ((secret || rsa) && !w.flag(OBJ_ATTR_DECRYPT, true)) {
    return false;
  }
  if (a.key_class == OBJ_CLASS_PRIVATE_KEY || secret) {
    if (!w.flag(OBJ_ATTR_PRIVATE, true) || !w.flag(OBJ_ATTR_SENSITIVE, true)) return false;
    if (a.extractable <= 1 && !w.flag(OBJ_ATTR_EXTRACTABLE, a.extractable == 1)) return false;
  }
  return true;
}

bool add_search_extras(TemplateWriter &w, const BuildArgs &a) {
  if (!a.find()) return true;
  if (!add_domain_params(w, a)) return false;
  if (!add_bytes_if_given(w, OBJ_ATTR_KCV, a.kcv, a.kcv_len)) return false;
  const extendedTemplateArgs *ext = a.ext;
  if (!ext) return true;
  if (!add_bytes_if_given(w, OBJ_ATTR_EKCV, ext->pEKCV, ext->ulEKCVLen)) return false;
  if (ext->ucDerive <= 1 && !w.number(OBJ_ATTR_DERIVE, ext->ucDerive)) return false;
  return true;
}

bool add_nested_templates(TemplateWriter &w, const BuildArgs &a) {
  const extendedTemplateArgs *ext = a.ext;
  if (!ext) return true;
  if ((a.key_class != OBJ_CLASS_PRIVATE_KEY || a.find()) &&
      !add_bytes_if_given(w, OBJ_ATTR_WRAP_TEMPLATE, ext->pWrapTemplate, ext->ulWrapTemplateLen))
    return false;
  if ((a.key_class != OBJ_CLASS_PUBLIC_KEY || a.find()) &&
      !add_bytes_if_given(w, OBJ_ATTR_UNWRAP_TEMPLATE, ext->pUnWrapTemplate,
                          ext->ulUnWrapTemplateLen))
    return false;
  return true;
}

bool build(TemplateWriter &w, const BuildArgs &a) {
  return add_class(w, a) && add_wrap_flags(w, a) &&
         add_type_and_location(w, a, kModesCreateGenDeriveUnwrap) && add_sharing(w, a) &&
         add_label_and_id(w, a) && add_usage_flags(w, a) && add_key_size_attrs(w, a) &&
         add_search_extras(w, a) && add_nested_templates(w, a);
}

}  // namespace

uint8_t *set_template3(const BuildArgs &a, uint32_t *pulTemplateSz, uint32_t *pulAtribCount) {
  return run_builder(a, build, pulTemplateSz, pulAtribCount);
}

}  // namespace qel2::tmpl

extern "C" {

QEL2_EXPORT Uint8 *SetTemplate3(int dev_id, Uint8 mode, Uint32 ulKeyClass, Uint32 ulKeyType,
                                Uint8 ucKeyLocation, const Uint32 *pSessions,
                                Uint8 ucNumKeySessions, const Uint16 *pUsers, Uint8 ucNumKeyOwners,
                                Uint32 ulMValue, const Uint8 *pbID, Uint32 ulIDLen,
                                const Uint8 *pbLabel, Uint32 ulLabLen, const Uint8 *pKCV,
                                Uint32 ulKCVLen, Uint32 ulKeyLen, Uint32 ulModLenInBits,
                                const Uint8 *pModulus, Uint32 ulCrtLen, Uint32 ulPubExp,
                                Uint32 ulCurveId, Uint32 ulPrimeLenInBits, const Uint8 *pPrime,
                                Uint32 ulBaseLen, const Uint8 *pBase, Uint8 bExtractable,
                                const extendedTemplateArgs *extArgs, Uint32 *pulTemplateSz,
                                Uint32 *pulAtribCount) {
  (void)dev_id;
  using namespace qel2::tmpl;
  const BuildArgs a{mode,           ulKeyClass,
                    ulKeyType,      ucKeyLocation,
                    pSessions,      ucNumKeySessions,
                    pUsers,         ucNumKeyOwners,
                    ulMValue,       pbID,
                    ulIDLen,        pbLabel,
                    ulLabLen,       pKCV,
                    ulKCVLen,       ulKeyLen,
                    ulModLenInBits, pModulus,
                    ulCrtLen,       ulPubExp,
                    ulCurveId,      ulPrimeLenInBits,
                    pPrime,         ulBaseLen,
                    pBase,          bExtractable,
                    extArgs};
  return set_template3(a, pulTemplateSz, pulAtribCount);
}

QEL2_EXPORT Uint8 *SetTemplate2(int dev_id, Uint8 mode, Uint32 ulKeyClass, Uint32 ulKeyType,
                                Uint8 ucKeyLocation, const Uint32 *pSessions,
                                Uint8 ucNumKeySessions, const Uint16 *pUsers, Uint8 ucNumKeyOwners,
                                Uint32 ulMValue, const Uint8 *pbID, Uint32 ulIDLen,
                                const Uint8 *pbLabel, Uint32 ulLabLen, Uint32 ulKeyLen,
                                Uint32 ulModLenInBits, const Uint8 *pModulus, Uint32 ulCrtLen,
                                Uint32 ulPubExp, Uint32 ulCurveId, Uint32 ulPrimeLenInBits,
                                const Uint8 *pPrime, Uint32 ulBaseLen, const Uint8 *pBase,
                                Uint8 bExtractable, Uint32 *pulTemplateSz, Uint32 *pulAtribCount) {
  return SetTemplate3(dev_id, mode, ulKeyClass, ulKeyType, ucKeyLocation, pSessions,
                      ucNumKeySessions, pUsers, ucNumKeyOwners, ulMValue, pbID, ulIDLen, pbLabel,
                      ulLabLen, nullptr, 0, ulKeyLen, ulModLenInBits, pModulus, ulCrtLen, ulPubExp,
                      ulCurveId, ulPrimeLenInBits, pPrime, ulBaseLen, pBase, bExtractable, nullptr,
                      pulTemplateSz, pulAtribCount);
}

}  // extern "C"
