// One key object of the HSM: where it lives, who may use it, its attributes
// in the kept form, its key material and the engine's key made from it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "hsm/engine/key.h"
#include "hsm/objects/attributes.h"
#include "hsm/state/secret.h"

namespace hsmsim::hsm::obj {

inline constexpr size_t kMaxShares = 8;  // sessions and users an object is shared with, each

struct Object {
  uint64_t handle = 0;
  uint8_t partition = 0;
  uint32_t owner = 0;    // user id within the partition
  uint32_t session = 0;  // session objects: the session they end with; 0 for token objects
  std::vector<uint32_t> sessions;  // sessions it is shared with
  std::vector<uint16_t> users;     // users it is shared with, the owner not among them
  uint8_t m_value = 0;             // approvals needed to use it
  bool tombstoned = false;
  std::map<uint32_t, std::vector<uint8_t>> attrs;  // kept forms, by number
  Secret key;  // secret value, or the private key; opaque to the store
  std::vector<uint8_t>
      public_data;  // EC point or DSA public value of the key pair; empty when none
  // The key the engine computes with, made from the above (engine::key_of)
  // once: when the store takes the object (ObjectStore::add), unless the
  // operation that made the key handed it over. None of it changes once
  // stored (key attributes are read-only). A request takes a copy, which
  // shares the OpenSSL key: it stays alive while the request computes with
  // it, also when the object is destroyed meanwhile.
  engine::Key material;
  uint32_t material_code = 0;  // 0, or why there is none (RET_KEY_TYPE_INCONSISTENT)
  bool material_made = false;

  const std::vector<uint8_t> *get(uint32_t type) const {
    auto it = attrs.find(type);
    return it == attrs.end() ? nullptr : &it->second;
  }
  std::optional<uint32_t> number(uint32_t type) const {
    const auto *v = get(type);
    if (!v) return std::nullopt;
    return kept_to_number(*v);
  }
  bool flag(uint32_t type) const { return number(type).value_or(0) != 0; }
  bool token() const { return flag(attr::kToken); }
  // The engine's key for a request: 0 and the key, or material_code.
  uint32_t key_material(engine::Key &out) const;
  // Hands over the key of the operation that made the object: it must be
  // the key engine::key_of would make of the object.
  void set_material(engine::Key k) {
    material = std::move(k);
    material_code = 0;
    material_made = true;
  }
  uint8_t key_class() const { return static_cast<uint8_t>(number(attr::kClass).value_or(0xFF)); }
  uint8_t key_type() const { return static_cast<uint8_t>(number(attr::kKeyType).value_or(0xFF)); }
};

// How a kept attribute of that number reads (vendor-defined: the CRT length).
Kind kind_of(uint32_t type);

// The object's attributes as the all-attribute read answers them and as a
// new object's attributes are returned: an Object head (reserved 0, count,
// size of the attribute bytes after the head), then type, size and kept
// value of each attribute in ascending number; key material never appears.
std::vector<uint8_t> all_attributes_data(const Object &);

// The value a single-attribute read answers, or the code: RET_ATTRIBUTE_TYPE_INVALID
// for an attribute the object does not have, RET_KEY_UNEXTRACTABLE for key
// material that may not leave.
uint32_t attribute_value(const Object &, uint32_t type, std::vector<uint8_t> &out);

}  // namespace hsmsim::hsm::obj
