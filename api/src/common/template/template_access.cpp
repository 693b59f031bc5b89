// Finding and overwriting one attribute in a template.
#include <cstdio>
#include <cstring>

#include "common/template/attr_walk.h"
#include "qel2_errors.h"
#include "qel2_template.h"

extern "C" {

QEL2_EXPORT int UpdateAttribute(Uint8 *pTemplate, Uint32 ulTemplateSize, Uint32 ulAttributeType,
                                const Uint8 *ucAttributeValue, Uint32 ucAttributeLen) {
  if (!pTemplate || !ucAttributeValue) {
    printf("Null parameters are passed");
    return ERR_INVALID_INPUT;
  }
  if (ulTemplateSize <= qel2::tmpl::kAttrHeadSize - 1) return ERR_INVALID_INPUT;

  // A template whose attributes run past its size ends the search as a
  // missing attribute: nothing past the template is read or written.
  qel2::tmpl::AttrView a;
  if (!qel2::tmpl::find_attr(pTemplate, ulTemplateSize, ulAttributeType, &a))
    return ERR_DATA_LEN_RANGE;
  if (a.size < ucAttributeLen) {
    printf("Memcpy failed while coping attribute value");
    return ERR_INVALID_MEMCPY_OP;
  }
  std::memcpy(const_cast<uint8_t *>(a.value), ucAttributeValue, ucAttributeLen);
  return 0;
}

QEL2_EXPORT Attribute *get_attribute_template(Uint8 *pTemplate, Uint32 attr_type,
                                              Uint32 ulTemplateSize) {
  if (!pTemplate) {
    printf("%s %d pTemplate is NULL\n", __func__, __LINE__);
    return nullptr;
  }
  qel2::tmpl::AttrView a;
  if (!qel2::tmpl::find_attr(pTemplate, ulTemplateSize, attr_type, &a)) return nullptr;
  return reinterpret_cast<Attribute *>(const_cast<uint8_t *>(a.head));
}

}  // extern "C"
