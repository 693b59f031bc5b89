// The algorithms the engine uses, fetched once each: a fetch looks through
// OpenSSL's provider store under its locks, which costs more than many of
// the operations themselves and serialises threads that fetch at once.
#include <openssl/ec.h>
#include <openssl/provider.h>

#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "hsm/engine/ossl.h"

namespace hsmsim::hsm::engine::ossl {

namespace {

// Released at exit, before OpenSSL's own clean-up (which was registered
// when the constructor's first OpenSSL call initialised the library),
// together with the legacy library context.
class Registry {
 public:
  Registry() {
    legacy_ = OSSL_LIB_CTX_new();
    if (legacy_) {
      providers_[0] = OSSL_PROVIDER_load(legacy_, "default");
      providers_[1] = OSSL_PROVIDER_load(legacy_, "legacy");
    }
  }
  ~Registry() {
    for (auto &[n, m] : mds_) EVP_MD_free(m);
    for (auto &[n, c] : ciphers_) EVP_CIPHER_free(c);
    for (auto &[n, m] : macs_) EVP_MAC_free(m);
    for (auto &[n, k] : kdfs_) EVP_KDF_free(k);
    for (auto &[n, g] : groups_) EC_GROUP_free(g);
    for (OSSL_PROVIDER *p : providers_)
      if (p) OSSL_PROVIDER_unload(p);
    OSSL_LIB_CTX_free(legacy_);
  }
  Registry(const Registry &) = delete;
  Registry &operator=(const Registry &) = delete;

  // The entry of `key` in `map`, made by `make` on first use (not kept when null).
  template <typename K, typename T, typename Make>
  T *get(std::map<K, T *> &map, const K &key, Make make) {
    {
      std::shared_lock read(mu_);
      auto it = map.find(key);
      if (it != map.end()) return it->second;
    }
    std::unique_lock write(mu_);
    auto it = map.find(key);
    if (it != map.end()) return it->second;
    T *made = make();
    if (made) map.emplace(key, made);
    return made;
  }

  std::map<std::string, EVP_MD *> mds_;
  std::map<std::string, EVP_CIPHER *> ciphers_;
  std::map<std::string, EVP_MAC *> macs_;
  std::map<std::string, EVP_KDF *> kdfs_;
  std::map<int, EC_GROUP *> groups_;
  OSSL_LIB_CTX *legacy_ = nullptr;

 private:
  std::shared_mutex mu_;
  OSSL_PROVIDER *providers_[2] = {};
};

Registry &registry() {
  static Registry r;
  return r;
}

}  // namespace

const EVP_MD *md(const char *name) {
  if (!name) return nullptr;
  Registry &r = registry();
  return r.get(r.mds_, std::string(name), [&] { return EVP_MD_fetch(nullptr, name, nullptr); });
}

const EVP_CIPHER *cipher(const char *name) {
  if (!name) return nullptr;
  Registry &r = registry();
  return r.get(r.ciphers_, std::string(name), [&] {
    EVP_CIPHER *c = EVP_CIPHER_fetch(nullptr, name, nullptr);
    if (!c && r.legacy_) c = EVP_CIPHER_fetch(r.legacy_, name, nullptr);
    return c;
  });
}

EVP_MAC *mac(const char *name) {
  if (!name) return nullptr;
  Registry &r = registry();
  return r.get(r.macs_, std::string(name), [&] { return EVP_MAC_fetch(nullptr, name, nullptr); });
}

EVP_KDF *kdf(const char *name) {
  if (!name) return nullptr;
  Registry &r = registry();
  return r.get(r.kdfs_, std::string(name), [&] { return EVP_KDF_fetch(nullptr, name, nullptr); });
}

const EC_GROUP *group(int curve_nid) {
  if (curve_nid <= 0) return nullptr;
  Registry &r = registry();
  return r.get(r.groups_, curve_nid, [&] { return EC_GROUP_new_by_curve_name(curve_nid); });
}

}  // namespace hsmsim::hsm::engine::ossl
