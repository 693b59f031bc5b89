// Reading the head of a session command (CommandHeaderWithSession) and
// finding what it names. Each lookup answers the failure itself and then
// returns null.
#pragma once

#include "hsm/ops/call.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

// The session the command names, its header in `h`: RET_INVALID_INPUT for a
// short record, RET_INVALID_SESSION for an unknown session.
Session *session_of_command(HsmState &, Call &, SessionHeader &h);

// The partition named by the 16-byte name after the header. Refused as
// above, with RET_INVALID_PARTITION_ID for an unknown name and
// RET_INVALID_SESS_ID_FOR_PARTITION when the session is of another
// partition (sessions of partition 0 may name any).
Partition *partition_of_command(HsmState &, Call &);

}  // namespace hsmsim::hsm
