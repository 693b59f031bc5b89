#include "hsm/ops/crypto_key.h"

#include "hsm/codes.h"
#include "hsm/records.h"

namespace hsmsim::hsm {

bool crypto_key(HsmState &st, Call &c, size_t segment, engine::Key &key,
                const obj::Object **object) {
  uint64_t handle = 0;
  if (!c.key_handle(segment, handle)) return c.refuse(code::kInvalidInput), false;
  obj::Actor actor;
  if (uint32_t r = obj::actor_of(st, c.req.session_handle & kSessionMask, actor))
    return c.refuse(r), false;
  obj::Object *o = nullptr;
  if (uint32_t r = obj::object_for(st, actor, handle, obj::Right::Use, o))
    return c.refuse(r), false;
  if (uint32_t r = o->key_material(key)) return c.refuse(r), false;
  if (object) *object = o;
  return true;
}

}  // namespace hsmsim::hsm
