// Whether an object is what a search template asks for.
#pragma once

#include "hsm/objects/object.h"
#include "hsm/objects/template.h"

namespace hsmsim::hsm::obj {

// Every attribute of the template must equal the object's: flags the object
// lacks count as false; labels compare up to their first NUL; a key check
// value matches right-aligned (a 64-bit number's leading zero bytes do not
// count) and an all-zero one matches anything. OBJ_ATTR_ACCESS, an empty
// user or session list and an M value of 0 match anything; listed users
// must be the owner or share the object, listed sessions must share it or
// be its session.
bool matches(const Object &, const ParsedTemplate &);

}  // namespace hsmsim::hsm::obj
