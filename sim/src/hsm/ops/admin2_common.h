// Shared steps of the second part of administration: the logged-in session
// a request names, and the fixed-width names of its records.
#pragma once

#include <string>

#include "hsm/ops/call.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

// The session of the request's handle with a user logged in through its
// application; else null with the refusal (RET_INVALID_SESSION,
// RET_USER_NOT_LOGGED_IN) in *refused.
Session *logged_in_session(HsmState &, uint32_t handle, uint32_t *refused);

// A NUL-padded name field of `width` bytes, up to its first NUL.
std::string name_field(wire::BeReader &r, size_t width);

}  // namespace hsmsim::hsm
