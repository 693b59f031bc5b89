// The public half of a key object as exported: DER SubjectPublicKeyInfo.
#pragma once

#include <cstdint>
#include <vector>

#include "hsm/objects/object.h"

namespace hsmsim::hsm::obj {

// 0 and the DER SubjectPublicKeyInfo of a public or private key object:
// RSA from OBJ_ATTR_MODULUS and OBJ_ATTR_PUBLIC_EXPONENT; EC from the curve
// in OBJ_ATTR_MODULUS_BITS and the point in the public data; DSA from
// OBJ_ATTR_PRIME, OBJ_ATTR_SUBPRIME, OBJ_ATTR_BASE and the public value.
// RET_KEY_TYPE_INCONSISTENT for secret keys and keys lacking those parts.
uint32_t public_key_der(const Object &, std::vector<uint8_t> &out);

}  // namespace hsmsim::hsm::obj
