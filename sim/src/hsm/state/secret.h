// Secret bytes the HSM keeps (passwords, key material): wiped when dropped
// or replaced, compared in constant time.
#pragma once

#include <string.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hsm/engine/secure.h"

namespace hsmsim::hsm {

class Secret {
 public:
  Secret() = default;
  explicit Secret(std::vector<uint8_t> &&b) : bytes_(std::move(b)) { b.clear(); }
  explicit Secret(const std::string &s) : bytes_(s.begin(), s.end()) {}
  Secret(const Secret &o) : bytes_(o.bytes_) {}
  Secret &operator=(const Secret &o) {
    if (this != &o) {
      wipe();
      bytes_ = o.bytes_;
    }
    return *this;
  }
  Secret(Secret &&o) noexcept : bytes_(std::move(o.bytes_)) { o.bytes_.clear(); }
  Secret &operator=(Secret &&o) noexcept {
    if (this != &o) {
      wipe();
      bytes_ = std::move(o.bytes_);
      o.bytes_.clear();
    }
    return *this;
  }
  ~Secret() { wipe(); }

  std::span<const uint8_t> bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }

  bool matches(std::span<const uint8_t> given) const { return engine::equal_ct(given, bytes_); }

 private:
  void wipe() {
    if (!bytes_.empty()) explicit_bzero(bytes_.data(), bytes_.size());
    bytes_.clear();
  }
  std::vector<uint8_t> bytes_;
};

}  // namespace hsmsim::hsm
