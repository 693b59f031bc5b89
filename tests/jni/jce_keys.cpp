#include "jce_keys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace jce_keys {
namespace {

using Bytes = std::vector<uint8_t>;
using hsmsim::ObjectAttr;

// PKCS#11 numbering, as the HSM's templates carry it.
constexpr uint32_t kAttrClass = 0x0, kAttrKeyType = 0x100, kAttrModulus = 0x120,
                   kAttrModulusBits = 0x121, kAttrPublicExponent = 0x122;
// Usage flags the SDK checks before it sends (the host-buffer wrap reads Encrypt).
constexpr uint32_t kAttrEncrypt = 0x104, kAttrDecrypt = 0x105, kAttrWrap = 0x106,
                   kAttrUnwrap = 0x107;
constexpr uint32_t kClassPublic = 2, kClassPrivate = 3, kClassSecret = 4;
constexpr uint32_t kKeyRsa = 0, kKeyEc = 3, kKeyDes3 = 21, kKeyAes = 31;

struct PkeyFree {
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

void fail(const std::string &what) { throw std::runtime_error("seeding: " + what); }

Bytes bn_param(EVP_PKEY *k, const char *name, size_t width) {
  BIGNUM *bn = nullptr;
  if (EVP_PKEY_get_bn_param(k, name, &bn) != 1) fail(name);
  Bytes out(width ? width : static_cast<size_t>(BN_num_bytes(bn)));
  BN_bn2binpad(bn, out.data(), static_cast<int>(out.size()));
  BN_clear_free(bn);
  return out;
}

std::string hex(const Bytes &b) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t v : b) {
    s += digits[v >> 4];
    s += digits[v & 15];
  }
  return s;
}

Bytes spki(EVP_PKEY *k) {
  const int n = i2d_PUBKEY(k, nullptr);
  if (n <= 0) fail("public key encoding");
  Bytes out(static_cast<size_t>(n));
  unsigned char *p = out.data();
  i2d_PUBKEY(k, &p);
  return out;
}

void put_env(const char *name, const std::string &value) {
  if (setenv(name, value.c_str(), 1) != 0) fail(name);
}

uint64_t seed(hsmsim::Daemon &d, hsmsim::ObjectSeed s, const std::string &owner) {
  s.owner = owner;
  const auto r = d.hsm().seed_object(s);
  if (r.code != 0) fail("object refused with code " + std::to_string(r.code));
  return r.handle;
}

void seed_rsa(hsmsim::Daemon &d, const std::string &owner) {
  Pkey k(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}));
  if (!k) fail("RSA key");
  const size_t m = 256, h = 128;
  const Bytes n = bn_param(k.get(), OSSL_PKEY_PARAM_RSA_N, m);
  const Bytes e = bn_param(k.get(), OSSL_PKEY_PARAM_RSA_E, 0);
  // The key value: n, d, q, d mod (q-1), p, d mod (p-1), q^-1 mod p, e.
  hsmsim::ObjectSeed priv;
  priv.attributes = {ObjectAttr::number(kAttrClass, kClassPrivate),
                     ObjectAttr::number(kAttrKeyType, kKeyRsa), ObjectAttr::bytes(kAttrModulus, n),
                     ObjectAttr::bytes(kAttrPublicExponent, e)};
  priv.key = n;
  const std::pair<const char *, size_t> parts[] = {
      {OSSL_PKEY_PARAM_RSA_D, m},         {OSSL_PKEY_PARAM_RSA_FACTOR2, h},
      {OSSL_PKEY_PARAM_RSA_EXPONENT2, h}, {OSSL_PKEY_PARAM_RSA_FACTOR1, h},
      {OSSL_PKEY_PARAM_RSA_EXPONENT1, h}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, h},
      {OSSL_PKEY_PARAM_RSA_E, m}};
  for (const auto &[name, width] : parts) {
    const Bytes v = bn_param(k.get(), name, width);
    priv.key.insert(priv.key.end(), v.begin(), v.end());
  }
  hsmsim::ObjectSeed pub;
  pub.attributes = {ObjectAttr::number(kAttrClass, kClassPublic),
                    ObjectAttr::number(kAttrKeyType, kKeyRsa), ObjectAttr::bytes(kAttrModulus, n),
                    ObjectAttr::text(kAttrPublicExponent, "65537")};
  put_env("QEL2_JNI_RSA_PRIV", std::to_string(seed(d, priv, owner)));
  put_env("QEL2_JNI_RSA_PUB", std::to_string(seed(d, pub, owner)));
  put_env("QEL2_JNI_RSA_SPKI", hex(spki(k.get())));
}

void seed_ec(hsmsim::Daemon &d, const std::string &owner) {
  Pkey k(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!k) fail("EC key");
  Bytes point(65);
  size_t len = 0;
  if (EVP_PKEY_get_octet_string_param(k.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(),
                                      &len) != 1 ||
      len != point.size())
    fail("EC point");
  hsmsim::ObjectSeed priv;
  priv.attributes = {ObjectAttr::number(kAttrClass, kClassPrivate),
                     ObjectAttr::number(kAttrKeyType, kKeyEc),
                     ObjectAttr::number(kAttrModulusBits, NID_X9_62_prime256v1)};
  priv.key = bn_param(k.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32);
  priv.public_data = point;
  put_env("QEL2_JNI_EC_PRIV", std::to_string(seed(d, priv, owner)));
  put_env("QEL2_JNI_EC_SPKI", hex(spki(k.get())));
}

void seed_secret(hsmsim::Daemon &d, const std::string &owner, uint32_t key_type, size_t len,
                 const char *handle_var, const char *value_var) {
  hsmsim::ObjectSeed s;
  s.attributes = {ObjectAttr::number(kAttrClass, kClassSecret),
                  ObjectAttr::number(kAttrKeyType, key_type),
                  ObjectAttr::flag(kAttrEncrypt, true),
                  ObjectAttr::flag(kAttrDecrypt, true),
                  ObjectAttr::flag(kAttrWrap, true),
                  ObjectAttr::flag(kAttrUnwrap, true)};
  s.key.resize(len);
  if (RAND_bytes(s.key.data(), static_cast<int>(len)) != 1) fail("secret key");
  put_env(handle_var, std::to_string(seed(d, s, owner)));
  put_env(value_var, hex(s.key));
}

}  // namespace

void seed_and_export(hsmsim::Daemon &d, const std::string &owner) {
  seed_rsa(d, owner);
  seed_ec(d, owner);
  seed_secret(d, owner, kKeyAes, 32, "QEL2_JNI_AES", "QEL2_JNI_AES_VALUE");
  seed_secret(d, owner, kKeyDes3, 24, "QEL2_JNI_DES3", "QEL2_JNI_DES3_VALUE");
}

}  // namespace jce_keys
