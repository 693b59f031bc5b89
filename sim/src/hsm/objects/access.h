// Who is asking: the session of a request, its partition and the user
// logged in on its application; and what that user may do with an object.
#pragma once

#include <cstdint>

#include "hsm/objects/object.h"

namespace hsmsim::hsm {
struct HsmState;
struct Session;
struct Partition;
}  // namespace hsmsim::hsm

namespace hsmsim::hsm::obj {

struct Actor {
  uint32_t session = 0;  // 30 bits
  uint8_t partition = 0;
  uint32_t user = 0;  // user id within the partition
  uint32_t user_type = 0;
};

// 0 and the actor behind a session handle, or RET_INVALID_SESSION (no such
// session) or RET_USER_NOT_LOGGED_IN.
uint32_t actor_of(HsmState &, uint32_t session_handle, Actor &out);

bool is_officer(uint32_t user_type);

// Use: read, search, inform about. The owner and the users it is shared
// with; a session object also only from its own session and the sessions it
// is shared with.
bool can_use(const Actor &, const Object &);
// Manage: change, share, destroy, mask: the owner, within the use rule.
bool can_manage(const Actor &, const Object &);

enum class Right { Use, Manage };

// The live object of a handle for an actor: RET_INVALID_OBJ_HANDLE when
// there is none in the actor's partition, RET_TOMBSTONED when it is
// tombstoned, RET_KEY_ACCESS_DENIED without the right.
uint32_t object_for(HsmState &, const Actor &, uint64_t handle, Right, Object *&out);

}  // namespace hsmsim::hsm::obj
