// The earlier template builder, kept for applications: same encodings as
// SetTemplate3, older choice and order of attributes.
#include <cstdio>

#include "common/template/builder_parts.h"
#include "qel2_template.h"

namespace qel2::tmpl {
namespace {

constexpr uint8_t kNoOwners = 255;

// Class, the flags of the creating modes, then type and location.
bool add_head(TemplateWriter &w, const BuildArgs &a) {
  if (!add_class(w, a)) return false;
  if (a.in(kModesCreateGenUnwrap)) {
    if (!w.flag(OBJ_ATTR_EXTRACTABLE, true)) return false;
    if (a.key_class == OBJ_CLASS_SECRET_KEY && a.key_type == KEY_TYPE_AES &&
        (!w.flag(OBJ_ATTR_WRAP, true) || !w.flag(OBJ_ATTR_UNWRAP, true)))
      return false;
  }
  // Derive mode takes a template without type or location here.
  return add_type_and_location(w, a, kModesCreateGenUnwrap);
}

bool add_owners(TemplateWriter &w, const BuildArgs &a) {
  if (a.n_users == kNoOwners) {
    if (a.in(kModesCreateGenUnwrap)) {
      printf("Owner Attribute %d is unsupported for this mode\n", a.n_users);
      return false;
    }
    return true;
  }
  if (!add_access(w, a.n_users)) return false;
  if (a.n_users != 0 && (!add_users(w, a.users, a.n_users) || !add_m_value(w, a.m_value)))
    return false;
  return true;
}

bool add_names(TemplateWriter &w, const BuildArgs &a) {
  if (a.label_len != 0) {
    if (!add_bytes_if_given(w, OBJ_ATTR_LABEL, a.label, a.label_len)) return false;
  } else if (a.in(kModesCreateGen)) {
    return false;
  }
  return add_bytes_if_given(w, OBJ_ATTR_KCV, a.kcv, a.kcv_len) &&
         add_bytes_if_given(w, OBJ_ATTR_ID, a.id, a.id_len);
}

bool add_usage_flags(TemplateWriter &w, const BuildArgs &a) {
  const bool rsa_outside_find = a.key_type == KEY_TYPE_RSA && !a.find();
  switch (a.key_class) {
    case OBJ_CLASS_PRIVATE_KEY:
      return w.flag(OBJ_ATTR_SIGN, true) && (!rsa_outside_find || w.flag(OBJ_ATTR_DECRYPT, true)) &&
             w.flag(OBJ_ATTR_PRIVATE, true) && w.flag(OBJ_ATTR_SENSITIVE, true);
    case OBJ_CLASS_SECRET_KEY:
      return w.flag(OBJ_ATTR_ENCRYPT, true) && w.flag(OBJ_ATTR_DECRYPT, true) &&
             w.flag(OBJ_ATTR_PRIVATE, true) && w.flag(OBJ_ATTR_SENSITIVE, true);
    case OBJ_CLASS_PUBLIC_KEY:
      return (!rsa_outside_find || w.flag(OBJ_ATTR_ENCRYPT, true)) && w.flag(OBJ_ATTR_VERIFY, true);
    default:
      return !rsa_outside_find ||
             (w.flag(OBJ_ATTR_ENCRYPT, true) && w.flag(OBJ_ATTR_DECRYPT, true));
  }
}

bool build(TemplateWriter &w, const BuildArgs &a) {
  return add_head(w, a) && add_owners(w, a) && add_names(w, a) && add_usage_flags(w, a) &&
         add_key_size_attrs(w, a) && add_domain_params(w, a);
}

}  // namespace
}  // namespace qel2::tmpl

extern "C" QEL2_EXPORT Uint8 *SetTemplate(
    int dev_id, Uint8 mode, Uint32 ulKeyClass, Uint32 ulKeyType, Uint8 ucKeyLocation,
    const Uint32 *pSessions, Uint8 ucNumKeySessions, const Uint16 *pUsers, Uint8 ucNumKeyOwners,
    Uint32 ulMValue, const Uint8 *pbID, Uint32 ulIDLen, const Uint8 *pbLabel, Uint32 ulLabLen,
    const Uint8 *pKCV, Uint32 ulKCVLen, Uint32 ulKeyLen, Uint32 ulModLenInBits,
    const Uint8 *pModulus, Uint32 ulCrtLen, Uint32 ulPubExp, Uint32 ulCurveId,
    Uint32 ulPrimeLenInBits, const Uint8 *pPrime, Uint32 ulBaseLen, const Uint8 *pBase,
    Uint32 *pulTemplateSz, Uint32 *pulAtribCount) {
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
                    pBase};
  return run_builder(a, build, pulTemplateSz, pulAtribCount);
}
