// Key values in the forms the HSM keeps, imports and exports (sim/README.md,
// "Key values"). Every function that reads a value returns 0 or
// RET_ATTRIBUTE_VALUE_INVALID (a value that does not decode or is not a
// consistent key), RET_KEY_SIZE_RANGE where a size rule applies.
#pragma once

#include <cstdint>
#include <span>

#include "hsm/engine/key.h"

namespace hsmsim::hsm::engine {

// ---- RSA ----
// Private value: the component block, all big-endian and right-aligned,
// for a modulus of m bytes and h = m / 2:
//   n (m), d (m), q (h), d mod (q-1) (h), p (h), d mod (p-1) (h), q^-1 mod p (h), e (m)
// 3m + 5h bytes. A block whose five CRT fields are all zero is a key without
// CRT components. The public value: the modulus and the public exponent.
uint32_t rsa_private_from_block(std::span<const uint8_t> block, Key &out);
Bytes rsa_private_block(const Key &);
uint32_t rsa_public_from(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent,
                         Key &out);
Bytes rsa_modulus(const Key &);   // m bytes
Bytes rsa_exponent(const Key &);  // without leading zeros

// ---- EC (curve by OpenSSL curve number) ----
// Private value: the scalar, big-endian, as wide as the group order (shorter
// values are read as left-padded). Public value: the uncompressed point
// 04 || X || Y, each coordinate as wide as the field.
uint32_t ec_private_from_scalar(int curve_nid, std::span<const uint8_t> scalar, Key &out);
uint32_t ec_public_from_point(int curve_nid, std::span<const uint8_t> point, Key &out);
Bytes ec_private_scalar(const Key &);
Bytes ec_public_point(const Key &);
int ec_curve(const Key &);  // 0 when not an EC key (Key::curve)

// ---- DSA ----
// Domain parameters p, q, g (the object's prime, subprime and base).
// Private value: x, big-endian, as wide as q. Public value: y, as wide as p.
struct DsaDomain {
  Bytes p, q, g;
};
uint32_t dsa_private_from_value(const DsaDomain &, std::span<const uint8_t> x, Key &out);
uint32_t dsa_public_from_value(const DsaDomain &, std::span<const uint8_t> y, Key &out);
DsaDomain dsa_domain(const Key &);
Bytes dsa_private_value(const Key &);
Bytes dsa_public_value(const Key &);

// ---- any kind ----

// A public key in a PEM "PUBLIC KEY" block, both ways: an empty Key for
// bytes that hold none (or a key neither RSA, DSA nor EC); empty bytes when
// the key cannot be written.
Key public_key_from_pem(std::span<const uint8_t> pem);
Bytes public_key_pem(const Key &);

// The DER SubjectPublicKeyInfo of a public key from its parts as a key
// object keeps them (an EC curve by OpenSSL curve number, any point form
// OpenSSL reads); false when a part is empty or OpenSSL refuses them.
bool rsa_public_der(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent,
                    Bytes &out);
bool ec_public_der(int curve_nid, std::span<const uint8_t> point, Bytes &out);
bool dsa_public_der(const DsaDomain &, std::span<const uint8_t> y, Bytes &out);
// What a key object keeps: its value (the secret bytes or the private value
// above; empty for a public key) and its public data (EC point or DSA y;
// empty for secret and RSA keys, whose public parts are attributes).
Bytes private_value(const Key &);
Bytes public_data(const Key &);

}  // namespace hsmsim::hsm::engine
