// Applications registered by application initialise: each has an id whose
// bits 14-23 are its index (unique on the HSM) and bits 24-29 its partition,
// a login nonce, and the login state its sessions share.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace hsmsim::hsm {

inline constexpr uint16_t kMaxApplications = 1023;  // indexes 1..1023

struct LoginState {
  std::string user;
  uint32_t type = 0;
};

struct Application {
  uint32_t id = 0;
  uint16_t index = 0;
  uint8_t partition = 0;
  uint32_t nonce = 0;
  std::optional<LoginState> login;
};

inline uint16_t app_index_of(uint32_t id_or_handle) {
  return static_cast<uint16_t>((id_or_handle >> 14) & 0x3FF);
}

class Applications {
 public:
  Application *find(uint32_t app_id) {
    auto it = apps_.find(app_index_of(app_id));
    if (it == apps_.end() || it->second.id != (app_id & 0x3FFFC000)) return nullptr;
    return &it->second;
  }
  Application *by_index(uint16_t index) {
    auto it = apps_.find(index);
    return it == apps_.end() ? nullptr : &it->second;
  }
  Application *add(uint8_t partition, uint32_t nonce) {
    for (uint16_t n = 0; n < kMaxApplications; ++n) {
      uint16_t index = static_cast<uint16_t>((next_ + n - 1) % kMaxApplications + 1);
      if (apps_.count(index)) continue;
      next_ = static_cast<uint16_t>(index % kMaxApplications + 1);
      Application a;
      a.index = index;
      a.partition = partition;
      a.id = (uint32_t{partition} << 24) | (uint32_t{index} << 14);
      a.nonce = nonce;
      return &(apps_[index] = a);
    }
    return nullptr;
  }
  void remove(uint16_t index) { apps_.erase(index); }
  void clear() { apps_.clear(); }
  const std::map<uint16_t, Application> &all() const { return apps_; }

 private:
  std::map<uint16_t, Application> apps_;
  uint16_t next_ = 1;
};

}  // namespace hsmsim::hsm
