// Key generation. RSA and DSA generation may take seconds: handlers run it
// inside Call::unlocked so that other requests go on meanwhile.
#pragma once

#include <cstdint>
#include <span>

#include "hsm/engine/key.h"
#include "hsm/engine/values.h"

namespace hsmsim::hsm::engine {

// Random secret key of `len` bytes (1 to 4096; else RET_KEY_SIZE_RANGE);
// DES and 3DES keys get odd parity in every byte. The object store applies
// the sizes per key type (build_object).
uint32_t generate_secret(uint8_t key_type, size_t len, Key &out);

// RSA: modulus bits above 512, up to 8192, a multiple of 256
// (RET_KEY_SIZE_RANGE); public exponent big-endian, odd, at least 3 and at
// most 64 bits (RET_ATTRIBUTE_VALUE_INVALID).
uint32_t generate_rsa(uint32_t modulus_bits, std::span<const uint8_t> exponent, Key &out);

// DSA with freshly generated domain parameters: prime bits 1024 (q of 160
// bits), 2048 or 3072 (q of 256 bits); else RET_KEY_SIZE_RANGE.
uint32_t generate_dsa(uint32_t prime_bits, Key &out);
// DSA under given domain parameters (RET_ATTRIBUTE_VALUE_INVALID when unusable).
uint32_t generate_dsa(const DsaDomain &, Key &out);

// EC on the curve of that OpenSSL curve number (RET_ATTRIBUTE_VALUE_INVALID
// for a curve OpenSSL does not know).
uint32_t generate_ec(int curve_nid, Key &out);

// DES/3DES odd parity, in place.
void set_odd_parity(std::span<uint8_t> key);

}  // namespace hsmsim::hsm::engine
