// What the wrap, unwrap and host-buffer wrap handlers share: their codes
// and the key that wraps or unwraps (the fixed wrapping key at handle 4 of
// every partition, or a key object with the capability asked for).
#pragma once

#include <cstdint>

#include "hsm/engine/key.h"
#include "hsm/objects/access.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm::wrapop {

namespace rc {
inline constexpr uint32_t kIntegrityCheckFailed = 0x104;  // RET_INTEGRITY_CHECK_FAILED
inline constexpr uint32_t kUnwrappingKeyTypeInconsistent = 0x11A;
inline constexpr uint32_t kUnwrappingKeyInvalid = 0x11B;
inline constexpr uint32_t kWrappingKeyTypeInconsistent = 0x11C;
inline constexpr uint32_t kWrappingKeyInvalid = 0x11D;
inline constexpr uint32_t kKeyPadAmbiguity = 0x120;  // RET_KEY_PAD_AMBIGUITY: padding failure
inline constexpr uint32_t kInvalidWrapFlag = 0xCF;   // RET_INVALID_WRAP_FLAG
}  // namespace rc

inline constexpr uint64_t kFixedWrappingKey = 4;

// The key of a wrap (wrap true) or unwrap for the actor: handle 4 is the
// fixed AES-256 wrapping key; any other handle a usable object whose
// `capability` attribute is set (else the wrapping or unwrapping key's
// invalid code) and which is an AES key when `aes_only` (else its type
// inconsistent code). 0, or the code.
uint32_t wrapping_key(HsmState &, const obj::Actor &, uint64_t handle, bool wrap,
                      uint32_t capability, bool aes_only, engine::Key &key);

// The engine's verdict on an unwrap or decryption as an answer's code.
uint32_t unwrap_code(uint32_t engine_code);

}  // namespace hsmsim::hsm::wrapop
