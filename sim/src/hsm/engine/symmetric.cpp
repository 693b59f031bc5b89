// Digests, MACs, symmetric ciphers and key derivation.
#include <openssl/core_names.h>

#include <cstring>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/ossl.h"

namespace hsmsim::hsm::engine {

using ossl::Ptr;

namespace {
const EVP_MD *fetch_md(const char *md) { return ossl::md(md); }
char *param_text(const char *s) { return const_cast<char *>(s); }
void *param_bytes(In b) { return const_cast<uint8_t *>(b.data()); }
}  // namespace

uint32_t digest(const char *md, In data, Bytes &out) {
  Digest d(md);
  if (!d.ok()) return code::kUnsupportedOpcode;
  if (!d.update(data)) return code::kError;
  return d.finish(out);
}

Digest::Digest(const char *md) {
  const EVP_MD *m = fetch_md(md);
  ctx_ = m ? EVP_MD_CTX_new() : nullptr;
  if (ctx_ && EVP_DigestInit_ex2(ctx_, m, nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    ctx_ = nullptr;
  }
}
Digest::Digest(const Digest &o) : ctx_(o.ctx_ ? EVP_MD_CTX_new() : nullptr) {
  if (ctx_ && EVP_MD_CTX_copy_ex(ctx_, o.ctx_) != 1) {
    EVP_MD_CTX_free(ctx_);
    ctx_ = nullptr;
  }
}
Digest::~Digest() { EVP_MD_CTX_free(ctx_); }
bool Digest::update(In data) {
  return ctx_ && (data.empty() || EVP_DigestUpdate(ctx_, data.data(), data.size()) == 1);
}
uint32_t Digest::finish(Bytes &out) {
  if (!ctx_) return code::kError;
  out.assign(EVP_MAX_MD_SIZE, 0);
  unsigned n = 0;
  int ok = EVP_DigestFinal_ex(ctx_, out.data(), &n);
  EVP_MD_CTX_free(ctx_);
  ctx_ = nullptr;
  if (ok != 1) return code::kError;
  out.resize(n);
  return code::kOk;
}

namespace {
uint32_t mac(const char *alg, OSSL_PARAM *params, In key, In data, Bytes &out) {
  EVP_MAC *m = ossl::mac(alg);
  Ptr<EVP_MAC_CTX> ctx(m ? EVP_MAC_CTX_new(m) : nullptr);
  if (!ctx) return code::kUnsupportedOpcode;
  if (EVP_MAC_init(ctx.get(), key.data(), key.size(), params) != 1) return code::kBadLength;
  size_t n = 0;
  out.assign(EVP_MAX_MD_SIZE, 0);
  if (EVP_MAC_update(ctx.get(), data.data(), data.size()) != 1 ||
      EVP_MAC_final(ctx.get(), out.data(), &n, out.size()) != 1)
    return code::kError;
  out.resize(n);
  return code::kOk;
}
}  // namespace

uint32_t hmac(const char *md, In key, In data, Bytes &out) {
  if (!fetch_md(md)) return code::kUnsupportedOpcode;
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, param_text(md), 0),
                         OSSL_PARAM_construct_end()};
  return mac("HMAC", params, key, data, out);
}

uint32_t cmac_aes(In key, In data, Bytes &out) {
  const char *name = aes_name(key.size(), "CBC");
  if (!name) return code::kBadLength;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, param_text(name), 0),
      OSSL_PARAM_construct_end()};
  return mac("CMAC", params, key, data, out);
}

const char *aes_name(size_t key_len, const char *mode) {
  struct Row {
    const char *mode, *n128, *n192, *n256;
  };
  static constexpr Row kRows[] = {
      {"CBC", "AES-128-CBC", "AES-192-CBC", "AES-256-CBC"},
      {"ECB", "AES-128-ECB", "AES-192-ECB", "AES-256-ECB"},
      {"CTR", "AES-128-CTR", "AES-192-CTR", "AES-256-CTR"},
      {"GCM", "AES-128-GCM", "AES-192-GCM", "AES-256-GCM"},
      {"wrap", "id-aes128-wrap", "id-aes192-wrap", "id-aes256-wrap"},
      {"wrap-pad", "id-aes128-wrap-pad", "id-aes192-wrap-pad", "id-aes256-wrap-pad"},
  };
  for (const auto &r : kRows)
    if (std::strcmp(r.mode, mode) == 0)
      return key_len == 16 ? r.n128 : key_len == 24 ? r.n192 : key_len == 32 ? r.n256 : nullptr;
  return nullptr;
}

namespace {
const EVP_CIPHER *fetch_cipher(const char *name) { return ossl::cipher(name); }
bool is_wrap(const EVP_CIPHER *c) { return EVP_CIPHER_get_mode(c) == EVP_CIPH_WRAP_MODE; }
}  // namespace

uint32_t cipher(const char *name, In key, In iv, bool encrypt, bool pad, In data, Bytes &out) {
  const EVP_CIPHER *c = fetch_cipher(name);
  if (!c) return code::kUnsupportedOpcode;
  size_t iv_len = static_cast<size_t>(EVP_CIPHER_get_iv_length(c));
  bool wrap = is_wrap(c);
  // A key wrap takes its IV when given, its default without one.
  if (static_cast<size_t>(EVP_CIPHER_get_key_length(c)) != key.size() ||
      (iv.size() != iv_len && !(wrap && iv.empty())))
    return code::kBadLength;
  size_t block = static_cast<size_t>(EVP_CIPHER_get_block_size(c));
  if (!wrap && block > 1 && !pad && data.size() % block != 0) return code::kBadLength;
  if (!wrap && block > 1 && pad && !encrypt && (data.empty() || data.size() % block != 0))
    return code::kBadLength;
  Ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return code::kError;
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  if (EVP_CipherInit_ex2(ctx.get(), c, key.data(), iv.empty() ? nullptr : iv.data(),
                         encrypt ? 1 : 0, nullptr) != 1)
    return code::kBadLength;
  if (!wrap) EVP_CIPHER_CTX_set_padding(ctx.get(), pad ? 1 : 0);
  out.assign(data.size() + block + 16, 0);
  int n = 0, fin = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) != 1)
    return wrap ? (encrypt ? code::kBadLength : code::kSignatureMismatch) : code::kBadLength;
  if (EVP_CipherFinal_ex(ctx.get(), out.data() + n, &fin) != 1)
    return pad && !encrypt ? code::kBadPkcsData : code::kBadLength;
  out.resize(static_cast<size_t>(n + fin));
  return code::kOk;
}

RunningCipher::RunningCipher(const char *name, In key, bool encrypt) {
  const EVP_CIPHER *c = fetch_cipher(name);
  ctx_ = c ? EVP_CIPHER_CTX_new() : nullptr;
  if (ctx_ && EVP_CipherInit_ex2(ctx_, c, key.data(), nullptr, encrypt ? 1 : 0, nullptr) != 1) {
    EVP_CIPHER_CTX_free(ctx_);
    ctx_ = nullptr;
  }
}
RunningCipher::~RunningCipher() { EVP_CIPHER_CTX_free(ctx_); }
bool RunningCipher::update(In in, Bytes &out) {
  int n = 0;
  out.resize(in.size());
  if (in.empty()) return true;
  return ctx_ &&
         EVP_CipherUpdate(ctx_, out.data(), &n, in.data(), static_cast<int>(in.size())) == 1 &&
         static_cast<size_t>(n) == in.size();
}

namespace {
Ptr<EVP_CIPHER_CTX> gcm_ctx(const char *name, In key, In iv, bool encrypt, uint32_t &err) {
  const EVP_CIPHER *c = fetch_cipher(name);
  err = code::kUnsupportedOpcode;
  if (!c || EVP_CIPHER_get_mode(c) != EVP_CIPH_GCM_MODE) return nullptr;
  err = code::kBadGcmKeyLength;
  if (static_cast<size_t>(EVP_CIPHER_get_key_length(c)) != key.size()) return nullptr;
  err = code::kBadLength;
  if (iv.empty()) return nullptr;
  Ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  size_t iv_len = iv.size();
  OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_AEAD_IVLEN, &iv_len),
                         OSSL_PARAM_construct_end()};
  if (!ctx || EVP_CipherInit_ex2(ctx.get(), c, nullptr, nullptr, encrypt, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_params(ctx.get(), params) != 1 ||
      EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(), iv.data(), encrypt, nullptr) != 1)
    return nullptr;
  err = code::kOk;
  return ctx;
}
bool gcm_run(EVP_CIPHER_CTX *ctx, In aad, In data, Bytes &out) {
  int n = 0;
  if (!aad.empty() &&
      EVP_CipherUpdate(ctx, nullptr, &n, aad.data(), static_cast<int>(aad.size())) != 1)
    return false;
  out.assign(data.size() + 16, 0);
  if (EVP_CipherUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size())) != 1)
    return false;
  out.resize(static_cast<size_t>(n));
  return true;
}
}  // namespace

uint32_t gcm_encrypt(const char *name, In key, In iv, In aad, In data, size_t tag_len, Bytes &out,
                     Bytes &tag) {
  if (tag_len < 4 || tag_len > 16) return code::kBadLength;
  uint32_t err = 0;
  Ptr<EVP_CIPHER_CTX> ctx = gcm_ctx(name, key, iv, true, err);
  if (!ctx) return err;
  int fin = 0;
  uint8_t end[16];
  tag.assign(tag_len, 0);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_CIPHER_PARAM_AEAD_TAG, tag.data(), tag_len),
      OSSL_PARAM_construct_end()};
  if (!gcm_run(ctx.get(), aad, data, out) || EVP_CipherFinal_ex(ctx.get(), end, &fin) != 1 ||
      EVP_CIPHER_CTX_get_params(ctx.get(), params) != 1)
    return code::kError;
  return code::kOk;
}

uint32_t gcm_decrypt(const char *name, In key, In iv, In aad, In data, In tag, Bytes &out) {
  if (tag.size() < 4 || tag.size() > 16) return code::kBadLength;
  uint32_t err = 0;
  Ptr<EVP_CIPHER_CTX> ctx = gcm_ctx(name, key, iv, false, err);
  if (!ctx) return err;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_CIPHER_PARAM_AEAD_TAG, param_bytes(tag), tag.size()),
      OSSL_PARAM_construct_end()};
  int fin = 0;
  uint8_t end[16];
  if (EVP_CIPHER_CTX_set_params(ctx.get(), params) != 1 || !gcm_run(ctx.get(), aad, data, out))
    return code::kError;
  if (EVP_CipherFinal_ex(ctx.get(), end, &fin) != 1) {
    explicit_bzero(out.data(), out.size());
    out.clear();
    return code::kSignatureMismatch;
  }
  return code::kOk;
}

uint32_t kbkdf_counter_hmac(const char *md, In key, In label, In context, size_t out_len,
                            Bytes &out) {
  if (!fetch_md(md)) return code::kUnsupportedOpcode;
  if (key.empty() || out_len == 0) return code::kBadLength;
  EVP_KDF *kdf = ossl::kdf("KBKDF");
  Ptr<EVP_KDF_CTX> ctx(kdf ? EVP_KDF_CTX_new(kdf) : nullptr);
  if (!ctx) return code::kUnsupportedOpcode;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_MODE, param_text("COUNTER"), 0),
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_MAC, param_text("HMAC"), 0),
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, param_text(md), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, param_bytes(key), key.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, param_bytes(label), label.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, param_bytes(context), context.size()),
      OSSL_PARAM_construct_end()};
  out.assign(out_len, 0);
  if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) {
    out.clear();
    return code::kError;
  }
  return code::kOk;
}

uint32_t pkcs12_kdf(const char *md, In password, In salt, uint64_t iterations, int id, size_t len,
                    Bytes &out) {
  EVP_KDF *kdf = ossl::kdf("PKCS12KDF");
  Ptr<EVP_KDF_CTX> ctx(kdf ? EVP_KDF_CTX_new(kdf) : nullptr);
  if (!ctx || !fetch_md(md)) return code::kUnsupportedOpcode;
  uint8_t empty = 0;  // OpenSSL takes no null for an empty string
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD,
                                        password.empty() ? &empty : param_bytes(password),
                                        password.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT,
                                        salt.empty() ? &empty : param_bytes(salt), salt.size()),
      OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &iterations),
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, param_text(md), 0),
      OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS12_ID, &id),
      OSSL_PARAM_construct_end()};
  out.assign(len, 0);
  if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) {
    explicit_bzero(out.data(), out.size());
    out.clear();
    return code::kError;
  }
  return code::kOk;
}

uint32_t tls1_prf(const char *md, In secret, In seed, size_t len, Bytes &out) {
  // EVP_KDF_fetch(NULL, "TLS1-PRF", NULL), once (ossl::kdf).
  EVP_KDF *kdf = ossl::kdf("TLS1-PRF");
  Ptr<EVP_KDF_CTX> ctx(kdf ? EVP_KDF_CTX_new(kdf) : nullptr);
  if (!ctx || !fetch_md(md)) return code::kUnsupportedOpcode;
  uint8_t empty = 0;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, param_text(md), 0),
      OSSL_PARAM_construct_octet_string(
          OSSL_KDF_PARAM_SECRET, secret.empty() ? &empty : param_bytes(secret), secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, param_bytes(seed), seed.size()),
      OSSL_PARAM_construct_end()};
  out.assign(len, 0);
  if (len == 0 || EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) {
    explicit_bzero(out.data(), out.size());
    out.clear();
    return code::kError;
  }
  return code::kOk;
}

}  // namespace hsmsim::hsm::engine
