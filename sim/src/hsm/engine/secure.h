// What the HSM's state needs of the engine besides keys: random bytes for
// identifiers, nonces and its own keys, and comparing secrets in constant
// time.
#pragma once

#include <cstdint>
#include <span>

namespace hsmsim::hsm::engine {

// From OpenSSL's generator (seeded by the system's); false on its failure.
bool random_bytes(std::span<uint8_t> out);
// The same, never failing: without the generator the stand-in still runs on
// a seeded engine (its values guard nothing real).
void fill_random(std::span<uint8_t> out);

// Overwrites secret bytes with zeros (explicit_bzero: not optimised away).
void wipe(std::span<uint8_t> secret);

// Whether a and b hold the same bytes; the time depends on their lengths only.
bool equal_ct(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace hsmsim::hsm::engine
