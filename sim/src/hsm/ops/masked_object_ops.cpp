// Masked objects: an object taken out of the HSM wrapped under the HSM's
// masking key, and put back (as a new object, or under a handle the caller
// names). The user-info variants carry the owner, the users it is shared
// with and its M value along.
#include "hsm/objects/create.h"
#include "hsm/objects/masking.h"
#include "hsm/ops/object_common.h"

namespace hsmsim::hsm::objop {

namespace {

namespace rc = obj::rc;
using obj::Object;

// Session header (byte 16: the object class, 0 for any), object type, the
// handle, the masking mechanism (0, the only one).
void extract_masked(HsmState &st, Call &c) {
  auto r = c.reader();
  Head head = read_head(st, r);
  r.u32();
  uint64_t handle = r.u64();
  uint32_t mech = r.u32();
  if (!head.code && !r.ok()) head.code = rc::kInvalidInput;
  if (head.code) return c.fail(head.code);
  if (mech != 0) return c.fail(rc::kInvalidCryptoMechanism);
  Object *o = nullptr;
  if (uint32_t code = obj::object_for(st, head.actor, handle, obj::Right::Manage, o))
    return c.fail(code);
  uint8_t cls = static_cast<uint8_t>(head.h.common_flags >> 24);
  if (cls != 0 && cls != o->key_class()) return c.fail(rc::kKeyTypeInconsistent);
  auto masked =
      obj::mask_object(*o, c.req.opcode == kExtractMaskedObjectUser, st.objects.masking_key());
  if (!masked) return c.fail(rc::kRestoreConsistency);
  auto len = static_cast<uint32_t>(masked->size());
  const uint32_t field[] = {len};
  // Without a second segment the caller asks for the length alone.
  bool size_query = data_segments(c) < 2;
  bool fits = len <= room(c, 1);
  uint32_t code = size_query || fits ? rc::kOk : rc::kResultSize;
  c.respond(record(code, len, fits ? len : 0, field));
  if (fits) c.out.segment(1) = std::move(*masked);
}

// The owner and shares a masked object brings along must exist here.
uint32_t restore_users(HsmState &st, uint8_t partition, Object &o) {
  Partition *p = st.partitions.at(partition);
  if (!p) return rc::kRestoreOwner;
  auto exists = [&](uint32_t id) {
    for (const auto &u : p->users)
      if (u.id == id) return true;
    return false;
  };
  if (!exists(o.owner)) return rc::kRestoreOwner;
  for (uint16_t u : o.users)
    if (!exists(u)) return rc::kRestoreOwner;
  return rc::kOk;
}

// Puts `o` under `at` (0: a fresh handle). A taken handle is replaced only
// with `force` and when the actor may manage what is there.
uint32_t place(HsmState &st, const obj::Actor &a, Object o, uint64_t at, bool force,
               uint64_t &handle) {
  at &= obj::kHandleMask;
  if (at) {
    if (Object *old = st.objects.find(at)) {
      if (!force) return rc::kInvalidObjHandle;
      if (old->partition != a.partition || !obj::can_manage(a, *old)) return rc::kKeyAccessDenied;
      st.objects.erase(at);
    }
    handle = st.objects.add(std::move(o), at);
    return handle ? rc::kOk : rc::kInvalidObjHandle;
  }
  handle = st.objects.add(std::move(o));
  return handle ? rc::kOk : rc::kMaxObjectsReached;
}

// Session header (last word: force insert), a reserved word, the handle
// wanted (0: any), then the masked object's length and bytes.
void insert_masked(HsmState &st, Call &c) {
  auto r = c.reader();
  Head head = read_head(st, r);
  r.u32();
  uint64_t at = r.u64();
  uint32_t len = r.u32();
  if (!head.code && (!r.ok() || !r.has(len))) head.code = rc::kInvalidInput;
  if (head.code) return c.fail(head.code);
  obj::Unmasked u;
  if (uint32_t code = obj::unmask_object(r.bytes(len), st.objects.masking_key(), u))
    return c.fail(code);
  Object &o = u.object;
  o.partition = head.actor.partition;
  o.tombstoned = false;
  o.sessions.clear();
  o.session = o.token() ? 0 : head.actor.session;
  if (u.user_info && c.req.opcode == kInsertMaskedObjectUser) {
    if (uint32_t code = restore_users(st, o.partition, o)) return c.fail(code);
  } else {
    o.owner = head.actor.user;
    o.users.clear();
    o.m_value = 0;
  }
  uint64_t handle = 0;
  if (uint32_t code = place(st, head.actor, std::move(o), at, head.h.common_flags != 0, handle))
    return c.fail(code);
  std::vector<uint8_t> rec = std_response(rc::kOk);
  wire::BeWriter(rec).u64(handle);
  c.respond(std::move(rec));
}

}  // namespace

void add_masked_object_ops(HandlerTable &t) {
  t.add(kMgmtCommand, kExtractMaskedObject, extract_masked);
  t.add(kMgmtCommand, kExtractMaskedObjectUser, extract_masked);
  t.add(kMgmtCommand, kInsertMaskedObject, insert_masked);
  t.add(kMgmtCommand, kInsertMaskedObjectUser, insert_masked);
}

}  // namespace hsmsim::hsm::objop
