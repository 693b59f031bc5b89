// Making a new object from a creation template: the checks every creating
// operation shares (class and key type, usage flags, key size, sharing
// lists, M value), the defaults, and the attributes the HSM derives itself
// (value length, key check value, modulus length, never-extractable, ...).
// Used by the test hooks now and by key generation, creation and unwrap.
#pragma once

#include <cstdint>
#include <vector>

#include "hsm/objects/object.h"
#include "hsm/objects/template.h"

namespace hsmsim::hsm {
struct HsmState;
}

namespace hsmsim::hsm::obj {

struct Creator {
  uint8_t partition = 0;
  uint32_t owner = 0;  // user id
  uint32_t session =
      0;  // the session a session object ends with; 0: none (then only token objects)
};

struct Material {
  std::vector<uint8_t> key;  // secret value or private key; empty: a secret key gets random bytes
  std::vector<uint8_t> public_data;  // EC point or DSA public value
  bool local = false;                // made on the HSM (OBJ_ATTR_LOCAL)
};

// 0 and the object (not yet stored), or the code: RET_TEMPLATE_INCONSISTENT
// (class, key type, usage flags or value length that do not fit together),
// RET_ATTRIBUTE_VALUE_INVALID (OBJ_ATTR_PRIVATE false), RET_KEY_SIZE_RANGE,
// RET_INVALID_INPUT (more than 8 users or sessions), RET_USER_DOES_NOT_EXIST,
// RET_INVALID_SESSION (a shared session not of the partition, or a session
// object without a session), RET_INVALID_M_VALUE (above the users + 1).
uint32_t build_object(HsmState &, const Creator &, const ParsedTemplate &, Material, Object &out);

// The key check value of a secret key: the first 3 bytes of a zero block
// encrypted with it (AES, 3DES); empty for other types.
std::vector<uint8_t> key_check_value(uint8_t key_type, std::span<const uint8_t> key);

// Whether a key of that class may have the usage flag set (a public key
// never decrypts, unwraps or signs; a private key never encrypts, wraps or verifies).
bool usage_allowed(uint8_t key_class, uint32_t flag);

// Sharing lists set from a template or a share request, checked against the
// partition: ids that exist, no more than 8 of each, the owner dropped.
uint32_t check_users(HsmState &, uint8_t partition, uint32_t owner, std::vector<uint16_t> &users);
uint32_t check_sessions(HsmState &, uint8_t partition, std::vector<uint32_t> &sessions);

}  // namespace hsmsim::hsm::obj
