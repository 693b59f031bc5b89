// Who may administer: the session a request names, its application logged
// in as an officer (crypto officer or partition officer), and for
// HSM-wide requests one of the administrators' partition 0.
#pragma once

#include "hsm/ops/call.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

inline constexpr uint8_t kAdminPartition = 0;

// 0 with *out set, else the refusal: RET_INVALID_SESSION, RET_USER_NOT_LOGGED_IN,
// or RET_USER_PERMISION_DENIED for another user type or, with hsm_wide, a
// session outside partition 0.
uint32_t officer_session(HsmState &, uint32_t handle, bool hsm_wide, Session **out);

// The session header's session, checked as above; the refusal is answered
// as the response code and null returned.
Session *officer_of_command(HsmState &, Call &, bool hsm_wide, SessionHeader *h = nullptr);

// The user logged in through a session's application, or null.
User *logged_in_user(HsmState &, const Session &);

}  // namespace hsmsim::hsm
