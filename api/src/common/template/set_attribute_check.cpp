// The check of one attribute that a set-attribute request is about to write.
#include <algorithm>
#include <cstdio>

#include "common/template/attr_reader.h"
#include "common/template/attr_walk.h"
#include "common/template/validate.h"
#include "qel2_errors.h"
#include "qel2_template.h"

namespace {

// Reads a small attribute of the object (class, key type) as decimal text.
Uint32 read_number_attribute(qel2::tmpl::GetAttributeFn get, Uint32 session, Uint64 key,
                             Uint32 attr, uint32_t *out) {
  Uint8 buf[4] = {};
  Uint32 len = sizeof buf;
  const Uint32 rc = get(session, key, attr, buf, &len);
  if (rc != 0) return rc;
  *out =
      static_cast<uint32_t>(qel2::tmpl::read_decimal_i32(buf, std::min<size_t>(len, sizeof buf)));
  return 0;
}

}  // namespace

extern "C" QEL2_EXPORT Uint32 validate_setAttribute_template(Uint32 ulSessionHandle,
                                                             Uint64 ulKeyHandle, Uint32 ulAttrID,
                                                             Uint8 *pAttrBuf, Uint32 ulBufLen) {
  using namespace qel2::tmpl;
  if (ulAttrID == OBJ_ATTR_TRUSTED) return 0;
  const GetAttributeFn get = attribute_reader();

  uint32_t key_class = 0;
  if (Uint32 rc =
          read_number_attribute(get, ulSessionHandle, ulKeyHandle, OBJ_ATTR_CLASS, &key_class))
    return rc;
  uint32_t key_type = KEY_TYPE_ANY;
  if (read_number_attribute(get, ulSessionHandle, ulKeyHandle, OBJ_ATTR_KEY_TYPE, &key_type) != 0)
    key_type = KEY_TYPE_ANY;

  // The attribute is checked in place, without copying the caller's value
  // (no 8 + ulBufLen allocation to overflow). A missing value reads as
  // zeros; no rule looks further into zeros than a nested template head.
  static const uint8_t kZeros[kObjectHeadSize] = {};
  AttrView a;
  a.type = ulAttrID;
  if (pAttrBuf && ulBufLen != 0) {
    a.size = ulBufLen;
    a.value = pAttrBuf;
  } else {
    a.size = std::min<uint32_t>(ulBufLen, sizeof kZeros);
    a.value = kZeros;
  }
  return validate_attribute(a, key_class, key_type, TEMPLATE_MODE_SET_ATTRIBUTE);
}
