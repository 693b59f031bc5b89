// Masked objects: an object serialised and wrapped under the HSM's masking
// key with AES-256 key wrap with padding (id-aes256-wrap-pad), so that only
// this HSM can put it back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hsm/objects/object.h"

namespace hsmsim::hsm::obj {

// The masked form of `o`; with user info it carries the owner, the users it
// is shared with and the M value. Its length is 8 more than a multiple of 16.
std::optional<std::vector<uint8_t>> mask_object(const Object &o, bool user_info,
                                                std::span<const uint8_t> key);

struct Unmasked {
  Object object;  // attributes, key material, handle it had; owner and shares only with user info
  bool user_info = false;
};

// 0 and the object, or RET_RESTORE_OBJECT_CONSISTENCY_ERR when the bytes are
// not a masked object of this HSM.
uint32_t unmask_object(std::span<const uint8_t> masked, std::span<const uint8_t> key,
                       Unmasked &out);

// The serialised form that masking wraps, for callers that seal it under a
// key of their own (backups); the caller wipes it.
std::vector<uint8_t> object_bytes(const Object &o, bool user_info);
// 0 and the object from its serialised form, or
// RET_RESTORE_OBJECT_CONSISTENCY_ERR.
uint32_t object_from_bytes(std::span<const uint8_t> plain, Unmasked &out);

}  // namespace hsmsim::hsm::obj
