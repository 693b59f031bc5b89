// The crypto engine's key material: secret keys as bytes (wiped when the
// last copy goes), RSA, DSA and EC keys as OpenSSL EVP_PKEY objects, built
// once and shared by every copy (a copy keeps the key alive, also while the
// object it came from is destroyed). Handlers get a Key from an object
// (Object::engine_key, made by key_of when the object is stored) or from
// generation (generate.h), and hand it to the operations of crypto.h.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "hsm/state/secret.h"

// OpenSSL's key, by name only: the engine's callers never look inside it.
typedef struct evp_pkey_st EVP_PKEY;

namespace hsmsim::hsm::obj {
struct Object;
}

namespace hsmsim::hsm::engine {

using Bytes = std::vector<uint8_t>;

enum class Kind : uint8_t { None, Secret, Rsa, Dsa, Ec };

class Key {
 public:
  Key() = default;
  static Key secret(std::span<const uint8_t> bytes);
  // Takes ownership of `pkey`; an algorithm other than RSA, DSA or EC gives an empty Key.
  static Key adopt(EVP_PKEY *pkey);

  Kind kind() const { return kind_; }
  bool empty() const { return kind_ == Kind::None; }
  // Secret keys: the value.
  std::span<const uint8_t> bytes() const {
    return secret_ ? secret_->bytes() : std::span<const uint8_t>{};
  }
  // RSA, DSA, EC: the OpenSSL key (null for secret keys).
  EVP_PKEY *pkey() const { return pkey_.get(); }
  // What every request asks of a key, read once when it is made.
  // Whether the private half is present (secret keys: always).
  bool has_private() const { return has_private_; }
  // Secret keys: bits of the value; RSA: modulus; DSA: prime p; EC: group order.
  uint32_t bits() const { return bits_; }
  // EC keys: OpenSSL's number of the curve; 0 for other keys and explicit curves.
  int curve() const { return curve_; }

 private:
  Kind kind_ = Kind::None;
  std::shared_ptr<const Secret> secret_;
  std::shared_ptr<EVP_PKEY> pkey_;
  bool has_private_ = false;
  uint32_t bits_ = 0;
  int curve_ = 0;
};

// The key material of a key object, from its class, key type, value and
// attributes in the formats of values.h: 0, or RET_KEY_TYPE_INCONSISTENT
// (no usable material: a public key asked for its private half, a missing
// attribute, a value that does not decode). Reads and checks the value (an
// RSA key's pairwise check takes milliseconds): the store runs it once per
// object (ObjectStore::add); requests take the key the object keeps.
uint32_t key_of(const obj::Object &, Key &out);

// OpenSSL's curve number of a CurveId of the cryptographic requests
// (0 P-192, 1 P-224, 2 P-256, 3 P-384, 4 P-521, 5 secp256k1); 0 for others.
int curve_nid(uint32_t curve_id);
// The OpenSSL digest name of a HashType (1 MD5, 2 SHA-1, 3 SHA-256, 4
// SHA-384, 5 SHA-512, 6 SHA-224); null for others (AES-CMAC 7 included).
const char *digest_name(uint32_t hash_type);

}  // namespace hsmsim::hsm::engine
