// Partitions and the users of each. Partition 0 is the administrators'
// partition; the HSM has room for 32 more.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hsm/state/secret.h"

namespace hsmsim::hsm {

inline constexpr size_t kPartitionSlots = 33;
inline constexpr size_t kMaxNameLen = 31;  // user names
inline constexpr size_t kMaxPartitionName = 15;

struct User {
  uint32_t id = 0;
  std::string name;
  uint32_t type = 0;
  Secret password;
  uint32_t failures = 0;  // consecutive failed logins
  bool locked = false;
};

struct Partition {
  uint8_t index = 0;
  std::string name;
  uint8_t fips_state = 2;
  uint8_t status = 1;  // active
  uint32_t policy_bits = 0;
  uint16_t max_users = 64;
  uint32_t max_keys = 16384;
  uint32_t max_ssl_contexts = 1024;
  uint8_t max_acclr_devs = 8;
  uint8_t key_import = 1, key_export = 1;
  uint32_t node_id = 0;
  std::vector<User> users;
  uint32_t next_user_id = 1;

  User *find_user(const std::string &n) {
    for (auto &u : users)
      if (u.name == n) return &u;
    return nullptr;
  }
};

class Partitions {
 public:
  Partitions() : slots_(kPartitionSlots) {}

  Partition *by_name(const std::string &name) {
    for (auto &p : slots_)
      if (p && p->name == name) return p.get();
    return nullptr;
  }
  Partition *at(uint8_t index) { return index < slots_.size() ? slots_[index].get() : nullptr; }

  // The new partition, in the first free slot (or `index` when given); none
  // when the name exists, is too long or no slot is free.
  Partition *add(const std::string &name, std::optional<uint8_t> index = std::nullopt) {
    if (name.empty() || name.size() > kMaxPartitionName || by_name(name)) return nullptr;
    size_t i = 0;
    if (index) {
      i = *index;
      if (i >= slots_.size() || slots_[i]) return nullptr;
    } else {
      while (i < slots_.size() && slots_[i]) ++i;
      if (i == slots_.size()) return nullptr;
    }
    slots_[i] = std::make_unique<Partition>();
    slots_[i]->index = static_cast<uint8_t>(i);
    slots_[i]->name = name;
    return slots_[i].get();
  }

  void remove(uint8_t index) {
    if (index < slots_.size()) slots_[index].reset();
  }

  template <typename F>
  void each(F f) const {
    for (const auto &p : slots_)
      if (p) f(*p);
  }
  size_t count() const {
    size_t n = 0;
    for (const auto &p : slots_) n += p ? 1 : 0;
    return n;
  }

 private:
  std::vector<std::unique_ptr<Partition>> slots_;
};

}  // namespace hsmsim::hsm
