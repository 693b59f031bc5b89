// The key of a raw-form request: the object its key segment names, for the
// user logged in on the session of the request header, as engine key
// material.
#pragma once

#include <cstddef>

#include "hsm/engine/key.h"
#include "hsm/objects/access.h"
#include "hsm/ops/call.h"

namespace hsmsim::hsm {

struct HsmState;

// True with the key (and the object, when asked for) of the 8-byte key
// segment `segment`. Otherwise the request is refused and false returned:
// RET_INVALID_INPUT (no 8-byte segment), RET_INVALID_SESSION,
// RET_USER_NOT_LOGGED_IN, RET_INVALID_OBJ_HANDLE, RET_TOMBSTONED,
// RET_KEY_ACCESS_DENIED, RET_KEY_TYPE_INCONSISTENT (no usable key material).
bool crypto_key(HsmState &, Call &, size_t segment, engine::Key &key,
                const obj::Object **object = nullptr);

}  // namespace hsmsim::hsm
