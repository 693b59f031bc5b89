// A password kept by the HSM: compared in constant time, wiped when dropped.
#pragma once

#include <openssl/crypto.h>
#include <string.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hsmsim::hsm {

class Secret {
 public:
  Secret() = default;
  explicit Secret(std::span<const uint8_t> b) : bytes_(b.begin(), b.end()) {}
  explicit Secret(const std::string& s) : bytes_(s.begin(), s.end()) {}
  Secret(const Secret& o) : bytes_(o.bytes_) {}
  Secret& operator=(const Secret& o) {
    if (this != &o) {
      wipe();
      bytes_ = o.bytes_;
    }
    return *this;
  }
  Secret(Secret&& o) noexcept : bytes_(std::move(o.bytes_)) {}
  Secret& operator=(Secret&& o) noexcept {
    if (this != &o) {
      wipe();
      bytes_ = std::move(o.bytes_);
    }
    return *this;
  }
  ~Secret() { wipe(); }

  bool matches(std::span<const uint8_t> given) const {
    if (given.size() != bytes_.size()) return false;
    return bytes_.empty() || CRYPTO_memcmp(given.data(), bytes_.data(), bytes_.size()) == 0;
  }

 private:
  void wipe() {
    if (!bytes_.empty()) explicit_bzero(bytes_.data(), bytes_.size());
    bytes_.clear();
  }
  std::vector<uint8_t> bytes_;
};

}  // namespace hsmsim::hsm
