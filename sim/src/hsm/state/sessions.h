// Open sessions. A handle is partition << 24 | application index << 14 | a
// number from 1 to 16383 that the application has not in use.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace hsmsim::hsm {

inline constexpr uint32_t kFlagRwSession = 2;
inline constexpr uint32_t kFlagSerialSession = 4;
inline constexpr size_t kMaxSessions = 2048;

struct Session {
  uint32_t handle = 0;
  uint16_t app_index = 0;
  uint8_t partition = 0;
  uint16_t slot = 0;
  uint32_t flags = 0;
  uint32_t authorized_by = 0;  // session that authorised this one, 0 for none

  bool rw() const { return (flags & kFlagRwSession) != 0; }
};

class Sessions {
 public:
  Session *find(uint32_t handle) {
    auto it = sessions_.find(handle & 0x3FFFFFFF);
    return it == sessions_.end() ? nullptr : &it->second;
  }

  // None when the HSM or the application has no room left.
  Session *open(uint8_t partition, uint16_t app_index, uint16_t slot, uint32_t flags) {
    if (sessions_.size() >= kMaxSessions) return nullptr;
    uint32_t base = (uint32_t{partition} << 24) | (uint32_t{app_index} << 14);
    for (uint32_t n = 1; n < 0x4000; ++n) {
      uint32_t h = base | n;
      if (sessions_.count(h)) continue;
      Session s;
      s.handle = h;
      s.app_index = app_index;
      s.partition = partition;
      s.slot = slot;
      s.flags = flags;
      return &(sessions_[h] = s);
    }
    return nullptr;
  }

  void close(uint32_t handle) { sessions_.erase(handle & 0x3FFFFFFF); }

  // Closes every session that `pred` selects; returns the applications touched.
  template <typename Pred>
  std::vector<uint16_t> close_if(Pred pred) {
    std::vector<uint16_t> apps;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (pred(it->second)) {
        apps.push_back(it->second.app_index);
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
    return apps;
  }

  size_t count_of_app(uint16_t app_index) const {
    size_t n = 0;
    for (const auto &[h, s] : sessions_) n += s.app_index == app_index ? 1 : 0;
    return n;
  }
  template <typename Pred>
  uint32_t count_if(Pred pred) const {
    uint32_t n = 0;
    for (const auto &[h, s] : sessions_) n += pred(s) ? 1 : 0;
    return n;
  }
  const std::map<uint32_t, Session> &all() const { return sessions_; }
  void clear() { sessions_.clear(); }

 private:
  std::map<uint32_t, Session> sessions_;
};

}  // namespace hsmsim::hsm
