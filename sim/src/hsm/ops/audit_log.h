// The audit log every request of a session leaves in its partition's log.
#pragma once

#include "hsm/ops/call.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

// Called after each request has been executed.
void record_audit(HsmState &, const HsmRequest &, Call &);

}  // namespace hsmsim::hsm
