// Key objects by handle: information on sharing and M value, sharing and
// unsharing, destroying, tombstoning, destroying a tombstoned object, and
// the export of a public key.
#include <algorithm>
#include <cstring>

#include "hsm/objects/create.h"
#include "hsm/objects/public_key.h"
#include "hsm/ops/object_common.h"

namespace hsmsim::hsm::objop {

namespace {

namespace rc = obj::rc;
using obj::Object;
using obj::Right;

// Every command here: session header, a reserved word, the 64-bit handle.
struct HandleCommand {
  Head head;
  uint64_t handle = 0;
};
HandleCommand read_handle_command(HsmState &st, wire::BeReader &r) {
  HandleCommand cmd;
  cmd.head = read_head(st, r);
  r.u32();
  cmd.handle = r.u64();
  if (!r.ok()) cmd.head.code = rc::kInvalidInput;
  return cmd;
}

// The object a handle command names, when the caller holds the right;
// otherwise the call has failed and none is returned.
Object *handle_target(HsmState &st, Call &c, Right right) {
  auto r = c.reader();
  HandleCommand cmd = read_handle_command(st, r);
  if (cmd.head.code) {
    c.fail(cmd.head.code);
    return nullptr;
  }
  Object *o = nullptr;
  if (uint32_t code = obj::object_for(st, cmd.head.actor, cmd.handle, right, o)) {
    c.fail(code);
    return nullptr;
  }
  return o;
}

void get_object_info(HsmState &st, Call &c) {
  Object *o = handle_target(st, c, Right::Use);
  if (!o) return;
  std::vector<uint8_t> rec = std_response(rc::kOk);
  wire::BeWriter w(rec);
  w.u8(static_cast<uint8_t>(o->sessions.size()));
  w.u8(static_cast<uint8_t>((o->users.size() << 4) | (o->m_value & 0x0F))).zeros(2);
  for (size_t i = 0; i < obj::kMaxShares; ++i) w.u32(i < o->sessions.size() ? o->sessions[i] : 0);
  for (size_t i = 0; i < obj::kMaxShares; ++i) w.u16(i < o->users.size() ? o->users[i] : 0);
  c.respond(std::move(rec));
}

// The share list: blocks of an 8-byte name, a count and the entries:
// "sessns:" (32-bit session handles) and "users:" (16-bit user ids).
struct ShareList {
  std::vector<uint32_t> sessions;
  std::vector<uint16_t> users;
};
bool read_share_list(wire::BeReader &r, ShareList &out) {
  bool sessions = false, users = false;
  while (r.remaining() > 0) {
    auto name = r.bytes(8);
    uint8_t n = r.u8();
    if (!r.ok() || n == 0) return false;
    if (std::memcmp(name.data(), "sessns:\0", 8) == 0 && !sessions) {
      sessions = true;
      for (uint8_t i = 0; i < n; ++i) out.sessions.push_back(r.u32() & kSessionMask);
    } else if (std::memcmp(name.data(), "users:\0\0", 8) == 0 && !users) {
      users = true;
      for (uint8_t i = 0; i < n; ++i) out.users.push_back(r.u16());
    } else {
      return false;
    }
  }
  return r.ok() && (sessions || users);
}

template <typename T>
void merge(std::vector<T> &into, const std::vector<T> &add) {
  for (T x : add)
    if (std::find(into.begin(), into.end(), x) == into.end()) into.push_back(x);
}
template <typename T>
void remove_all(std::vector<T> &from, const std::vector<T> &drop) {
  std::erase_if(from, [&](T x) { return std::find(drop.begin(), drop.end(), x) != drop.end(); });
}

void share_object(HsmState &st, Call &c) {
  auto r = c.reader();
  HandleCommand cmd = read_handle_command(st, r);
  ShareList list;
  if (!cmd.head.code && !read_share_list(r, list)) cmd.head.code = rc::kInvalidInput;
  if (cmd.head.code) return c.fail(cmd.head.code);
  Object *o = nullptr;
  if (uint32_t code = obj::object_for(st, cmd.head.actor, cmd.handle, Right::Manage, o))
    return c.fail(code);
  std::vector<uint32_t> sessions = o->sessions;
  std::vector<uint16_t> users = o->users;
  if (cmd.head.h.common_flags == 1) {
    if (uint32_t code = obj::check_users(st, o->partition, o->owner, list.users))
      return c.fail(code);
    if (uint32_t code = obj::check_sessions(st, o->partition, list.sessions)) return c.fail(code);
    merge(users, list.users);
    merge(sessions, list.sessions);
    if (users.size() > obj::kMaxShares || sessions.size() > obj::kMaxShares)
      return c.fail(rc::kInvalidInput);
  } else {
    remove_all(users, list.users);
    remove_all(sessions, list.sessions);
    if (o->m_value > users.size() + 1) return c.fail(rc::kInvalidMValue);
  }
  o->users = std::move(users);
  o->sessions = std::move(sessions);
  c.ok();
}

void destroy_object(HsmState &st, Call &c) {
  Object *o = handle_target(st, c, Right::Manage);
  if (!o) return;
  if (!o->flag(obj::attr::kDestroyable)) return c.fail(rc::kKeyAccessDenied);
  st.objects.erase(o->handle);
  c.ok();
}

void tombstone_object(HsmState &st, Call &c) {
  Object *o = handle_target(st, c, Right::Manage);
  if (!o) return;
  if (!o->token()) return c.fail(rc::kInvalidTombstoneObject);
  o->tombstoned = true;
  c.ok();
}

void delete_tombstoned_object(HsmState &st, Call &c) {
  auto r = c.reader();
  HandleCommand cmd = read_handle_command(st, r);
  if (cmd.head.code) return c.fail(cmd.head.code);
  Object *o = st.objects.find(cmd.handle);
  if (!o || o->partition != cmd.head.actor.partition || !o->tombstoned)
    return c.fail(rc::kNotTombstoned);
  if (!obj::can_manage(cmd.head.actor, *o)) return c.fail(rc::kKeyAccessDenied);
  st.objects.erase(o->handle);
  c.ok();
}

// The key's DER SubjectPublicKeyInfo in output segment 1; its length in
// the header's buffer size, also when it does not fit (RET_RESULT_SIZE).
void export_public_key(HsmState &st, Call &c) {
  Object *o = handle_target(st, c, Right::Use);
  if (!o) return;
  std::vector<uint8_t> der;
  if (uint32_t code = obj::public_key_der(*o, der)) return c.fail(code);
  auto len = static_cast<uint32_t>(der.size());
  bool fits = len <= room(c, 1);
  c.respond(std_response(fits ? rc::kOk : rc::kResultSize, 0, len, len));
  if (fits) c.out.segment(1) = std::move(der);
}

}  // namespace

void add_object_info_ops(HandlerTable &t) {
  t.add(kMgmtCommand, kGetObjectInfo, get_object_info);
  t.add(kMgmtCommand, kShareObject, share_object);
  t.add(kMgmtCommand, kDestroyObject, destroy_object);
  t.add(kMgmtCommand, kTombstoneObject, tombstone_object);
  t.add(kMgmtCommand, kDeleteTombstonedObject, delete_tombstoned_object);
  t.add(kMgmtCommand, kExportPubKey, export_public_key);
}

}  // namespace hsmsim::hsm::objop
