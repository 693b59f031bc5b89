#include "hsm/objects/store.h"

#include <algorithm>

#include "hsm/engine/secure.h"

namespace hsmsim::hsm::obj {

namespace {

std::vector<uint8_t> random_key(size_t n) {
  std::vector<uint8_t> k(n);
  engine::fill_random(k);
  return k;
}

}  // namespace

uint64_t SearchContexts::open(uint32_t session, std::vector<uint64_t> handles) {
  while (ctx_.size() >= kMax) ctx_.erase(ctx_.begin());
  uint64_t id = next_++;
  ctx_[id] = SearchContext{session, std::move(handles)};
  return id;
}

SearchContext *SearchContexts::find(uint64_t id, uint32_t session) {
  auto it = ctx_.find(id);
  if (it == ctx_.end() || it->second.session != session) return nullptr;
  return &it->second;
}

void SearchContexts::end_session(uint32_t session) {
  std::erase_if(ctx_, [&](const auto &kv) { return kv.second.session == session; });
}

ObjectStore::ObjectStore()
    : masking_key_(random_key(32)),
      attestation_key_(random_key(32)),
      fixed_wrapping_key_(random_key(32)) {}

Object *ObjectStore::find(uint64_t handle) {
  auto it = objects_.find(handle & kHandleMask);
  return it == objects_.end() ? nullptr : &it->second;
}

uint64_t ObjectStore::free_handle() {
  for (uint64_t n = 0; n < kHandleMask; ++n) {
    uint64_t h = next_;
    next_ = next_ >= kHandleMask ? kFirstHandle : next_ + 1;
    if (!objects_.count(h)) return h;
  }
  return 0;
}

uint64_t ObjectStore::add(Object o, uint64_t at) {
  if (objects_.size() >= kMaxObjects) return 0;
  uint64_t h = 0;
  if (at) {
    if (at < kFirstHandle || at > kHandleMask || objects_.count(at)) return 0;
    h = at;
  } else {
    h = free_handle();
    if (!h) return 0;
  }
  o.handle = h;
  if (!o.material_made) {
    o.material_code = engine::key_of(o, o.material);
    o.material_made = true;
  }
  objects_.emplace(h, std::move(o));
  return h;
}

bool ObjectStore::erase(uint64_t handle) { return objects_.erase(handle & kHandleMask) > 0; }

void ObjectStore::end_session(uint32_t session) {
  session &= 0x3FFFFFFF;
  if (session == 0) return;
  std::erase_if(objects_, [&](const auto &kv) { return kv.second.session == session; });
  for (auto &[h, o] : objects_) std::erase(o.sessions, session);
  searches_.end_session(session);
}

void ObjectStore::clear() {
  objects_.clear();
  searches_.clear();
  next_ = kFirstHandle;
}

uint32_t ObjectStore::count(uint8_t partition, bool token) const {
  uint32_t n = 0;
  for (const auto &[h, o] : objects_)
    if (o.partition == partition && !o.tombstoned && o.token() == token) ++n;
  return n;
}

uint32_t ObjectStore::count_all(bool token) const {
  uint32_t n = 0;
  for (const auto &[h, o] : objects_)
    if (!o.tombstoned && o.token() == token) ++n;
  return n;
}

}  // namespace hsmsim::hsm::obj
