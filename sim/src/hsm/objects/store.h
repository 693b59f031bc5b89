// The HSM's key objects, all partitions together, by handle; the search
// contexts of continued searches; and the HSM's own keys for masking objects
// and attesting answers.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "hsm/objects/object.h"

namespace hsmsim::hsm::obj {

inline constexpr uint64_t kHandleMask =
    0x7FFFFFF;  // handles below 2^27; bits 27-31 name the cluster server
inline constexpr uint64_t kFirstHandle =
    16;  // 1-15 stay for the HSM's fixed keys (4: the fixed wrapping key)
inline constexpr size_t kMaxObjects = 1u << 20;

// A search that continues over several requests: the handles it matched
// when it started, for the session that started it.
struct SearchContext {
  uint32_t session = 0;
  std::vector<uint64_t> handles;
};

class SearchContexts {
 public:
  static constexpr size_t kMax = 256;  // the oldest is dropped beyond this

  uint64_t open(uint32_t session, std::vector<uint64_t> handles);  // its non-zero id
  SearchContext *find(uint64_t id, uint32_t session);
  void close(uint64_t id) { ctx_.erase(id); }
  void end_session(uint32_t session);
  void clear() { ctx_.clear(); }
  size_t size() const { return ctx_.size(); }

 private:
  std::map<uint64_t, SearchContext> ctx_;
  uint64_t next_ = 1;
};

class ObjectStore {
 public:
  ObjectStore();

  // The live or tombstoned object of a handle (its server bits ignored), or none.
  Object *find(uint64_t handle);
  // Stores `o` under a fresh handle, or under `at` when that is given, in
  // range and free. Returns the handle, 0 when none could be given.
  uint64_t add(Object o, uint64_t at = 0);
  bool erase(uint64_t handle);

  // A session ended: its session objects go, shares and searches drop it.
  void end_session(uint32_t session);
  // Every object and search goes; the HSM's own keys stay.
  void clear();

  template <typename F>
  void each(F f) {  // ascending handles
    for (auto &[h, o] : objects_) f(o);
  }
  template <typename F>
  void each(F f) const {
    for (const auto &[h, o] : objects_) f(o);
  }
  uint32_t count(uint8_t partition, bool token) const;  // live objects
  uint32_t count_all(bool token) const;                 // of every partition

  SearchContexts &searches() { return searches_; }
  std::span<const uint8_t> masking_key() const { return masking_key_.bytes(); }
  std::span<const uint8_t> attestation_key() const { return attestation_key_.bytes(); }
  // The AES-256 key at handle 4 of every partition (wrap and unwrap, never extracted).
  std::span<const uint8_t> fixed_wrapping_key() const { return fixed_wrapping_key_.bytes(); }
  void set_fixed_wrapping_key(std::vector<uint8_t> k) {
    fixed_wrapping_key_ = Secret(std::move(k));
  }

 private:
  uint64_t free_handle();

  std::map<uint64_t, Object> objects_;
  uint64_t next_ = kFirstHandle;
  SearchContexts searches_;
  Secret masking_key_;      // AES-256 key wrap of masked objects
  Secret attestation_key_;  // HMAC key of attestations
  Secret fixed_wrapping_key_;
};

}  // namespace hsmsim::hsm::obj
