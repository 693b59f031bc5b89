// Key search: the handles of the objects that match a template, paged by a
// search index (and, for the counted form, a continuation context), and the
// list of the objects a user owns.
#include <algorithm>

#include "hsm/objects/match.h"
#include "hsm/objects/template.h"
#include "hsm/ops/object_common.h"

namespace hsmsim::hsm::objop {

namespace {

namespace rc = obj::rc;
using obj::Object;

constexpr size_t kHandleSize = 8;
constexpr size_t kUserRecordSize = 9;  // handle, status byte

// Status byte of an object in a user's list.
constexpr uint8_t kLive = 0;
constexpr uint8_t kTombstoned = 1;
constexpr uint8_t kSessionObject = 2;

// The search command: the search index (32 bits at 0 for the counted form,
// else 64 bits at 0 of which the low 32 count), flags, session, and the last
// header word: the partition (template search) or the user (user's objects).
struct FindCommand {
  uint32_t index = 0;
  uint32_t session = 0;
  uint32_t last = 0;
};
FindCommand read_find_command(wire::BeReader &r, bool index32) {
  FindCommand f;
  f.index = index32 ? r.u32() : static_cast<uint32_t>(r.u64() & 0xFFFFFFFF);
  if (index32) r.u32();
  r.u32();
  f.session = r.u32() & kSessionMask;
  f.last = r.u32();
  return f;
}

// The page from `index`: as many entries as the output has room for, the
// number left from `index` in the record; RET_RESULT_SIZE when more are left
// than were sent.
template <typename Entry>
size_t answer_page(Call &c, const std::vector<Entry> &all, uint32_t index, size_t entry_size,
                   void (*put)(wire::BeWriter &, const Entry &)) {
  size_t left = index < all.size() ? all.size() - index : 0;
  size_t sent = std::min(left, room(c, 1) / entry_size);
  const uint32_t fields[] = {static_cast<uint32_t>(left), 0};
  c.respond(record(left > sent ? rc::kResultSize : rc::kOk,
                   static_cast<uint32_t>(left * entry_size),
                   static_cast<uint32_t>(sent * entry_size), fields));
  if (sent) {
    wire::BeWriter w(c.out.segment(1));
    for (size_t i = 0; i < sent; ++i) put(w, all[index + i]);
  }
  return sent;
}

void put_handle(wire::BeWriter &w, const uint64_t &h) { w.u64(h); }

std::vector<uint64_t> matching(HsmState &st, const obj::Actor &a, const obj::ParsedTemplate &t) {
  std::vector<uint64_t> out;
  st.objects.each([&](const Object &o) {
    if (!o.tombstoned && obj::can_use(a, o) && obj::matches(o, t)) out.push_back(o.handle);
  });
  return out;
}

// Handles of a continued search that still stand for the actor.
std::vector<uint64_t> still_there(HsmState &st, const obj::Actor &a,
                                  const std::vector<uint64_t> &handles) {
  std::vector<uint64_t> out;
  for (uint64_t h : handles) {
    Object *o = st.objects.find(h);
    if (o && !o->tombstoned && obj::can_use(a, *o)) out.push_back(h);
  }
  return out;
}

// Then the Object head (reserved, count, size = template + 12) and the template.
void find_objects(HsmState &st, Call &c) {
  bool counted = c.req.opcode == kFindObjectsUsingCount;
  auto r = c.reader();
  FindCommand f = read_find_command(r, counted);
  r.u32();
  r.u32();  // attribute count: the template's length rules
  uint32_t obj_size = r.u32();
  if (!r.ok() || obj_size < 12 || !r.has(obj_size - 12)) return c.fail(rc::kInvalidInput);
  auto tmpl = r.bytes(obj_size - 12);

  obj::Actor a;
  if (uint32_t code = obj::actor_of(st, f.session, a)) return c.fail(code);
  if (f.last > 0xFF || !st.partitions.at(static_cast<uint8_t>(f.last)))
    return c.fail(rc::kInvalidPartitionId);
  if (f.last != a.partition) return c.fail(rc::kInvalidSessForPartition);
  obj::ParsedTemplate t;
  if (uint32_t code = obj::parse_template(tmpl, obj::Purpose::Find, t)) return c.fail(code);

  uint64_t ctx = counted ? c.req.op_ctx : 0;
  std::vector<uint64_t> handles;
  if (ctx) {
    obj::SearchContext *sc = st.objects.searches().find(ctx, a.session);
    if (!sc) return c.fail(rc::kInvalidInput);
    handles = still_there(st, a, sc->handles);
  } else {
    handles = matching(st, a, t);
  }
  size_t sent = answer_page<uint64_t>(c, handles, f.index, kHandleSize, put_handle);
  if (!counted) return;
  // The counted form hands back a context when it sent a page and matches
  // are left over (a count alone opens none).
  bool done = f.index + sent >= handles.size();
  if (ctx && done) st.objects.searches().close(ctx);
  if (!ctx && !done && sent > 0) ctx = st.objects.searches().open(a.session, std::move(handles));
  c.op_ctx = done ? 0 : ctx;
}

struct UserEntry {
  uint64_t handle;
  uint8_t status;
};
void put_user_entry(wire::BeWriter &w, const UserEntry &e) { w.u64(e.handle).u8(e.status); }

// A user's objects: the user itself, or a crypto officer, may list them.
void find_user_objects(HsmState &st, Call &c) {
  auto r = c.reader();
  FindCommand f = read_find_command(r, true);
  if (!r.ok()) return c.fail(rc::kInvalidInput);
  obj::Actor a;
  if (uint32_t code = obj::actor_of(st, f.session, a)) return c.fail(code);
  uint32_t user = f.last & 0xFFFF;
  Partition *p = st.partitions.at(a.partition);
  bool exists = p && std::any_of(p->users.begin(), p->users.end(),
                                 [&](const User &u) { return u.id == user; });
  if (!exists) return c.fail(rc::kUserDoesNotExist);
  if (user != a.user && !obj::is_officer(a.user_type)) return c.fail(rc::kUserPermissionDenied);
  std::vector<UserEntry> list;
  st.objects.each([&](const Object &o) {
    if (o.partition != a.partition || o.owner != user) return;
    list.push_back({o.handle, o.tombstoned ? kTombstoned : o.token() ? kLive : kSessionObject});
  });
  answer_page<UserEntry>(c, list, f.index, kUserRecordSize, put_user_entry);
}

}  // namespace

void add_find_ops(HandlerTable &t) {
  t.add(kMgmtCommand, kFindObjects, find_objects);
  t.add(kMgmtCommand, kFindObjectsFromIndex, find_objects);
  t.add(kMgmtCommand, kFindObjectsUsingCount, find_objects);
  t.add(kMgmtCommand, kFindAllObjectsInRange, find_user_objects);
  t.add(kMgmtCommand, kFindAllObjectsUsingCount, find_user_objects);
  t.add(kMgmtCommand, kFindAllObjects, find_user_objects);
}

}  // namespace hsmsim::hsm::objop
