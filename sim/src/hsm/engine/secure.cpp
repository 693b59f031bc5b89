#include "hsm/engine/secure.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <string.h>

#include <random>

namespace hsmsim::hsm::engine {

bool random_bytes(std::span<uint8_t> out) {
  return out.empty() || RAND_bytes(out.data(), static_cast<int>(out.size())) == 1;
}

void fill_random(std::span<uint8_t> out) {
  if (random_bytes(out)) return;
  static thread_local std::mt19937 gen{std::random_device{}()};
  for (auto &b : out) b = static_cast<uint8_t>(gen());
}

void wipe(std::span<uint8_t> secret) {
  if (!secret.empty()) explicit_bzero(secret.data(), secret.size());
}

bool equal_ct(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && (a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0);
}

}  // namespace hsmsim::hsm::engine
