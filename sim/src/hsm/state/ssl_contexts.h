// SSL contexts: working areas that hold one TLS connection's secrets, each
// owned by the application that allocated it. Handles are 16-byte aligned
// and never reused while the HSM runs, so a freed handle stays unknown.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "hsm/state/secret.h"

namespace hsmsim::hsm {

struct SslContext {
  uint8_t partition = 0;
  uint16_t app_index = 0;        // the owner
  std::optional<Secret> secret;  // premaster secret or ECDH shared secret
  std::optional<Secret> master;  // master secret of a PAC handshake
};

class SslContexts {
 public:
  static constexpr uint64_t kFirstHandle = 0x0000'5000'0000'0000ull;
  static constexpr uint64_t kStride = 0x1000;  // room of one context

  size_t count(uint8_t partition) const {
    size_t n = 0;
    for (const auto &[h, c] : map_) n += c.partition == partition;
    return n;
  }
  uint64_t add(uint8_t partition, uint16_t app_index) {
    const uint64_t h = next_;
    next_ += kStride;
    map_[h] = SslContext{partition, app_index, std::nullopt, std::nullopt};
    return h;
  }
  // The context of a handle for its owner; null for an unknown handle and
  // for another application's context.
  SslContext *owned(uint64_t handle, uint8_t partition, uint16_t app_index) {
    auto it = map_.find(handle);
    if (it == map_.end() || it->second.partition != partition || it->second.app_index != app_index)
      return nullptr;
    return &it->second;
  }
  void erase(uint64_t handle) { map_.erase(handle); }
  const SslContext *find(uint64_t handle) const {
    auto it = map_.find(handle);
    return it == map_.end() ? nullptr : &it->second;
  }

 private:
  std::map<uint64_t, SslContext> map_;
  uint64_t next_ = kFirstHandle;
};

}  // namespace hsmsim::hsm
