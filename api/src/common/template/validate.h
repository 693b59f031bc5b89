// Bounded forms of the template checks, on attribute views.
#ifndef QEL2_COMMON_TEMPLATE_VALIDATE_H
#define QEL2_COMMON_TEMPLATE_VALIDATE_H

#include <cstddef>
#include <cstdint>

#include "common/template/attr_walk.h"

namespace qel2::tmpl {

// The rules for one attribute of an object of the given class and type.
uint32_t validate_attribute(const AttrView &a, uint32_t key_class, uint32_t key_type, uint8_t mode);

// The rules that hold for every class.
uint32_t validate_common(const AttrView &a, uint8_t mode);

// A nested wrap/unwrap template of `len` bytes (Object head + attributes);
// `attr_type` only names it in messages.
uint32_t validate_nested_template(uint32_t attr_type, const uint8_t *obj, size_t len);

}  // namespace qel2::tmpl

#endif
