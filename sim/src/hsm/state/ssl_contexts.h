// SSL contexts: working areas that hold one TLS connection's secrets, each
// owned by the application that allocated it. Handles are 16-byte aligned
// and never reused while the HSM runs, so a freed handle stays unknown.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "hsm/state/secret.h"

namespace hsmsim::hsm {

namespace tls {
struct Connection;  // the write states and suite of the last TLS handshake
}

struct SslContext {
  uint8_t partition = 0;
  uint16_t app_index = 0;        // the owner
  std::optional<Secret> secret;  // premaster secret or ECDH shared secret
  std::optional<Secret> master;  // master secret of a PAC or TLS handshake
  std::shared_ptr<tls::Connection> tls{};
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
    map_[h] = SslContext{partition, app_index, std::nullopt, std::nullopt, nullptr};
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
  // The context an address inside it belongs to (a handle plus the offset
  // of one of its write states), for its owner; null otherwise.
  SslContext *owned_at(uint64_t addr, uint8_t partition, uint16_t app_index, uint64_t &offset) {
    auto it = map_.upper_bound(addr);
    if (it == map_.begin()) return nullptr;
    --it;
    offset = addr - it->first;
    if (offset >= kStride) return nullptr;
    return owned(it->first, partition, app_index);
  }
  // The key that encrypts master secrets handed out for resumption; made
  // on first use, one per HSM.
  const Secret &resume_key();
  void erase(uint64_t handle) { map_.erase(handle); }
  const SslContext *find(uint64_t handle) const {
    auto it = map_.find(handle);
    return it == map_.end() ? nullptr : &it->second;
  }

 private:
  std::map<uint64_t, SslContext> map_;
  std::optional<Secret> resume_key_;
  uint64_t next_ = kFirstHandle;
};

}  // namespace hsmsim::hsm
