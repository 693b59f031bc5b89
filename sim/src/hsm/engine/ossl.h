// OpenSSL handles the engine owns (RAII), big-number conversions, and the
// algorithms fetched once each. Private to the engine: nothing outside
// src/hsm/engine/ includes it (or any OpenSSL header).
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/param_build.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace hsmsim::hsm::engine::ossl {

struct Free {
  void operator()(BIGNUM *b) const { BN_clear_free(b); }
  void operator()(BIO *b) const { BIO_free(b); }
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
  void operator()(BN_CTX *c) const { BN_CTX_free(c); }
  void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
  void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
  void operator()(EVP_MD *m) const { EVP_MD_free(m); }
  void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
  void operator()(EVP_CIPHER *c) const { EVP_CIPHER_free(c); }
  void operator()(EVP_MAC *m) const { EVP_MAC_free(m); }
  void operator()(EVP_MAC_CTX *c) const { EVP_MAC_CTX_free(c); }
  void operator()(EVP_KDF *k) const { EVP_KDF_free(k); }
  void operator()(EVP_KDF_CTX *c) const { EVP_KDF_CTX_free(c); }
  void operator()(OSSL_PARAM_BLD *b) const { OSSL_PARAM_BLD_free(b); }
  void operator()(OSSL_PARAM *p) const { OSSL_PARAM_free(p); }
  void operator()(EC_GROUP *g) const { EC_GROUP_free(g); }
  void operator()(EC_POINT *p) const { EC_POINT_clear_free(p); }
};
template <typename T>
using Ptr = std::unique_ptr<T, Free>;

// Fetched on first use, kept until exit (fetched.cpp), shared by every
// thread: null for a null or unknown name.
const EVP_MD *md(const char *name);
// From the default provider, else from OpenSSL's legacy provider (single
// DES, RC4), loaded into a library context of the engine's own so the
// process's default one stays as it is.
const EVP_CIPHER *cipher(const char *name);
EVP_MAC *mac(const char *name);
EVP_KDF *kdf(const char *name);
// The curve of that OpenSSL curve number; null for an unknown one.
const EC_GROUP *group(int curve_nid);

inline Ptr<BIGNUM> bn(std::span<const uint8_t> be) {
  return Ptr<BIGNUM>(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr));
}
// Big-endian, left-padded to `width` (0: the number's own length); empty
// when it does not fit.
inline std::vector<uint8_t> bytes(const BIGNUM *b, size_t width = 0) {
  if (!b) return {};
  size_t n = static_cast<size_t>(BN_num_bytes(b));
  if (width == 0) width = n;
  if (n > width) return {};
  std::vector<uint8_t> out(width);
  if (BN_bn2binpad(b, out.data(), static_cast<int>(width)) < 0) return {};
  return out;
}

// Named numbers and strings for EVP_PKEY_fromdata; keeps them alive until built.
class Params {
 public:
  Params() : bld_(OSSL_PARAM_BLD_new()) {}
  Params &number(const char *name, std::span<const uint8_t> be) {
    Ptr<BIGNUM> b = bn(be);
    if (!bld_ || !b || !OSSL_PARAM_BLD_push_BN(bld_.get(), name, b.get()))
      ok_ = false;
    else
      nums_.push_back(std::move(b));
    return *this;
  }
  Params &number(const char *name, const BIGNUM *b) {
    if (!bld_ || !b || !OSSL_PARAM_BLD_push_BN(bld_.get(), name, b)) ok_ = false;
    return *this;
  }
  Params &octets(const char *name, std::span<const uint8_t> b) {
    if (!bld_ || !OSSL_PARAM_BLD_push_octet_string(bld_.get(), name, b.data(), b.size()))
      ok_ = false;
    return *this;
  }
  Params &text(const char *name, const char *s) {
    if (!bld_ || !s || !OSSL_PARAM_BLD_push_utf8_string(bld_.get(), name, s, 0)) ok_ = false;
    return *this;
  }
  // The key of algorithm `alg` (EVP_PKEY_KEYPAIR or EVP_PKEY_PUBLIC_KEY), or null.
  EVP_PKEY *build(const char *alg, int selection) {
    if (!ok_ || !bld_) return nullptr;
    Ptr<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(bld_.get()));
    Ptr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, alg, nullptr));
    EVP_PKEY *key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1)
      return nullptr;
    return key;
  }

 private:
  Ptr<OSSL_PARAM_BLD> bld_;
  std::vector<Ptr<BIGNUM>> nums_;
  bool ok_ = true;
};

}  // namespace hsmsim::hsm::engine::ossl
