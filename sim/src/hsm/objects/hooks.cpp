// The object store's face for tests: seeding objects as a creating request
// would make them, and looking at what the store holds.
#include <hsmsim/hsm.h>

#include "hsm/objects/codes.h"
#include "hsm/objects/create.h"
#include "hsm/objects/template.h"
#include "hsm/state/hsm_state.h"
#include "wire/be_codec.h"

namespace hsmsim {

using namespace hsmsim::hsm;

ObjectAttr ObjectAttr::number(uint32_t type, uint32_t v) { return text(type, std::to_string(v)); }
ObjectAttr ObjectAttr::flag(uint32_t type, bool v) {
  return ObjectAttr{type, {static_cast<uint8_t>(v ? '1' : '0'), 0}};
}
ObjectAttr ObjectAttr::bytes(uint32_t type, std::span<const uint8_t> v) {
  return ObjectAttr{type, std::vector<uint8_t>(v.begin(), v.end())};
}
ObjectAttr ObjectAttr::text(uint32_t type, const std::string &s) {
  return ObjectAttr{type, std::vector<uint8_t>(s.begin(), s.end())};
}

namespace {

// The seed as the template a creating request would carry.
std::vector<uint8_t> seed_template(const ObjectSeed &seed) {
  std::vector<uint8_t> t;
  wire::BeWriter w(t);
  for (const auto &a : seed.attributes)
    w.u32(a.type).u32(static_cast<uint32_t>(a.value.size())).bytes(a.value);
  if (!seed.shared_sessions.empty()) {
    w.u32(obj::attr::kVendorDefined)
        .u32(static_cast<uint32_t>(9 + 4 * seed.shared_sessions.size()));
    w.bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t *>("sessns:"), 7)).u8(0);
    w.u8(static_cast<uint8_t>(seed.shared_sessions.size()));
    for (uint32_t s : seed.shared_sessions) w.u32(s);
  }
  w.u32(obj::attr::kVendorDefined).u32(static_cast<uint32_t>(8 + 2 * seed.shared_users.size()));
  w.bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t *>("users:"), 6)).u16(0);
  for (uint16_t u : seed.shared_users) w.u16(u);
  w.u32(obj::attr::kVendorDefined).u32(12);
  w.bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t *>("m_value:"), 8))
      .u32(seed.m_value);
  return t;
}

ObjectView view_of(HsmState &st, const obj::Object &o) {
  ObjectView v;
  v.handle = o.handle;
  Partition *p = st.partitions.at(o.partition);
  if (p) {
    v.partition = p->name;
    for (const auto &u : p->users)
      if (u.id == o.owner) v.owner_name = u.name;
  }
  v.owner = o.owner;
  v.token = o.token();
  v.session = o.session;
  v.shared_sessions = o.sessions;
  v.shared_users = o.users;
  v.m_value = o.m_value;
  v.tombstoned = o.tombstoned;
  for (const auto &[type, kept] : o.attrs)
    if (obj::kind_of(type) != obj::Kind::Secret)
      v.attributes[type] = obj::read_form(obj::kind_of(type), kept);
  v.key.assign(o.key.bytes().begin(), o.key.bytes().end());
  v.public_data = o.public_data;
  return v;
}

}  // namespace

ObjectResult Hsm::seed_object(const ObjectSeed &seed) {
  std::lock_guard lock(state_->mu);
  HsmState &st = *state_;
  Partition *p = st.partitions.by_name(seed.partition);
  if (!p) return {obj::rc::kInvalidPartitionId, 0};
  User *u = p->find_user(seed.owner);
  if (!u) return {obj::rc::kUserDoesNotExist, 0};
  obj::Creator creator{p->index, u->id, 0};
  if (seed.session) {
    Session *s = st.sessions.find(seed.session);
    if (!s || s->partition != p->index) return {obj::rc::kInvalidSession, 0};
    creator.session = s->handle;
  }
  obj::ParsedTemplate t;
  if (uint32_t code = obj::parse_template(seed_template(seed), obj::Purpose::Create, t))
    return {code, 0};
  obj::Object o;
  obj::Material m{seed.key, seed.public_data, seed.local};
  if (uint32_t code = obj::build_object(st, creator, t, std::move(m), o)) return {code, 0};
  uint64_t h = st.objects.add(std::move(o));
  return {h ? obj::rc::kOk : obj::rc::kMaxObjectsReached, h};
}

std::vector<ObjectView> Hsm::objects(const std::string &partition) const {
  std::lock_guard lock(state_->mu);
  std::vector<ObjectView> out;
  state_->objects.each([&](const obj::Object &o) {
    ObjectView v = view_of(*state_, o);
    if (partition.empty() || v.partition == partition) out.push_back(std::move(v));
  });
  return out;
}

std::optional<ObjectView> Hsm::object(uint64_t handle) const {
  std::lock_guard lock(state_->mu);
  obj::Object *o = state_->objects.find(handle);
  if (!o) return std::nullopt;
  return view_of(*state_, *o);
}

std::optional<std::vector<uint8_t>> Hsm::object_attribute(uint64_t handle, uint32_t type) const {
  std::lock_guard lock(state_->mu);
  obj::Object *o = state_->objects.find(handle);
  std::vector<uint8_t> v;
  if (!o || obj::attribute_value(*o, type, v) != obj::rc::kOk) return std::nullopt;
  return v;
}

std::optional<std::vector<uint8_t>> Hsm::object_all_attributes(uint64_t handle) const {
  std::lock_guard lock(state_->mu);
  obj::Object *o = state_->objects.find(handle);
  if (!o) return std::nullopt;
  return obj::all_attributes_data(*o);
}

bool Hsm::set_fixed_wrapping_key(std::span<const uint8_t> key) {
  if (key.size() != 32) return false;
  std::lock_guard lock(state_->mu);
  state_->objects.set_fixed_wrapping_key({key.begin(), key.end()});
  return true;
}

bool Hsm::destroy_object(uint64_t handle) {
  std::lock_guard lock(state_->mu);
  return state_->objects.erase(handle);
}

uint32_t Hsm::object_count(const std::string &partition, bool token) const {
  std::lock_guard lock(state_->mu);
  Partition *p = state_->partitions.by_name(partition);
  return p ? state_->objects.count(p->index, token) : 0;
}

size_t Hsm::open_searches() const {
  std::lock_guard lock(state_->mu);
  return state_->objects.searches().size();
}

}  // namespace hsmsim
