// The attribute name table, for code that needs a name without the console
// line that attr_type_to_name prints for unknown numbers.
#ifndef QEL2_COMMON_TEMPLATE_ATTR_NAMES_H
#define QEL2_COMMON_TEMPLATE_ATTR_NAMES_H

#include <cstdint>

namespace qel2::tmpl {

// The OBJ_ATTR_ name of a number, or nullptr when it has none.
const char *attr_name(uint32_t type);

}  // namespace qel2::tmpl

#endif
