// OpenSSL on the host as the tests' oracle: its TLS1-PRF and a library
// context with the legacy provider for RC4 and single DES.
#pragma once

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/provider.h>

#include <string>
#include <vector>

namespace tls_test {

struct LegacyLib {
  OSSL_LIB_CTX *lib = OSSL_LIB_CTX_new();
  OSSL_PROVIDER *def = OSSL_PROVIDER_load(lib, "default"),
                *legacy = OSSL_PROVIDER_load(lib, "legacy");
  ~LegacyLib() {
    OSSL_PROVIDER_unload(legacy);
    OSSL_PROVIDER_unload(def);
    OSSL_LIB_CTX_free(lib);
  }
};
inline OSSL_LIB_CTX *legacy_lib() {
  static LegacyLib l;
  return l.lib;
}

// OpenSSL's TLS1-PRF; "MD5-SHA1" is the TLS 1.0/1.1 PRF.
inline std::vector<uint8_t> host_prf(const char *md, const std::vector<uint8_t> &secret,
                                     const std::string &label, const std::vector<uint8_t> &seed,
                                     size_t len) {
  EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
  EVP_KDF_CTX *kc = EVP_KDF_CTX_new(kdf);
  std::vector<uint8_t> full(label.begin(), label.end()), out(len);
  full.insert(full.end(), seed.begin(), seed.end());
  OSSL_PARAM p[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char *>(md), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<uint8_t *>(secret.data()),
                                        secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, full.data(), full.size()),
      OSSL_PARAM_construct_end()};
  EXPECT_EQ(1, EVP_KDF_derive(kc, out.data(), len, p));
  EVP_KDF_CTX_free(kc);
  EVP_KDF_free(kdf);
  return out;
}

}  // namespace tls_test
