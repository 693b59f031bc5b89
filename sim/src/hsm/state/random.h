// Random bytes for the HSM's identifiers, nonces and own keys.
#pragma once

#include <openssl/rand.h>

#include <cstdint>
#include <random>
#include <span>

namespace hsmsim::hsm {

// From the system's generator; without it the stand-in still runs on a
// seeded engine (its values guard nothing real).
inline void fill_random(std::span<uint8_t> out) {
  if (out.empty() || RAND_bytes(out.data(), static_cast<int>(out.size())) == 1) return;
  static thread_local std::mt19937 gen{std::random_device{}()};
  for (auto &b : out) b = static_cast<uint8_t>(gen());
}

}  // namespace hsmsim::hsm
