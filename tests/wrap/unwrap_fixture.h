// Unwrapping keys wrapped on the host: an AES unwrapping key of known value,
// an RSA one made by OpenSSL, the host's ciphers, and templates built by the
// library's own builder.
#pragma once

#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <cstdlib>

#include "sign_fixture.h"
#include "wrap_fixture.h"

namespace unwrap_test {

using namespace wrap_test;
using sign_test::bn_param;
using sign_test::cat;

constexpr Uint32 kNoHash = 0xFFFFFFFF;

// AES-CBC with PKCS#7 (or any EVP cipher with an IV) on the host.
inline Bytes host_encrypt(const char *name, const Bytes &key, const Bytes &iv, const Bytes &in) {
  EVP_CIPHER *c = EVP_CIPHER_fetch(nullptr, name, nullptr);
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n = 0, m = 0;
  bool ok = c && ctx && EVP_EncryptInit_ex2(ctx, c, key.data(), iv.data(), nullptr) == 1 &&
            EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
            EVP_EncryptFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(c);
  out.resize(ok ? size_t(n + m) : 0);
  return out;
}

// AES-256-GCM on the host: the ciphertext, the tag in `tag`.
inline Bytes host_gcm(const Bytes &key, const Bytes &iv, const Bytes &aad, const Bytes &in,
                      size_t tag_len, Bytes &tag) {
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n = 0, m = 0;
  tag.assign(tag_len, 0);
  bool ok = EVP_EncryptInit_ex2(ctx, EVP_aes_256_gcm(), key.data(), iv.data(), nullptr) == 1 &&
            EVP_EncryptUpdate(ctx, nullptr, &n, aad.data(), int(aad.size())) == 1 &&
            EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
            EVP_EncryptFinal_ex(ctx, out.data() + n, &m) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, int(tag_len), tag.data()) == 1;
  EVP_CIPHER_CTX_free(ctx);
  out.resize(ok ? size_t(n + m) : 0);
  return out;
}

// RSA encryption on the host: OAEP with `md` (SHA-1 when null) or PKCS#1 v1.5.
inline Bytes host_rsa_encrypt(EVP_PKEY *k, int padding, const char *md, const Bytes &in) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr);
  size_t n = 0;
  bool ok = ctx && EVP_PKEY_encrypt_init(ctx) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
            (!md || EVP_PKEY_CTX_set_rsa_oaep_md_name(ctx, md, nullptr) == 1) &&
            EVP_PKEY_encrypt(ctx, nullptr, &n, in.data(), in.size()) == 1;
  Bytes out(ok ? n : 0);
  ok = ok && EVP_PKEY_encrypt(ctx, out.data(), &n, in.data(), in.size()) == 1;
  EVP_PKEY_CTX_free(ctx);
  out.resize(ok ? n : 0);
  return out;
}

// The stand-in's RSA private value: n, d, q, d mod (q-1), p, d mod (p-1),
// q^-1 mod p, e, right-aligned in fields of the modulus or half its width.
inline Bytes rsa_block(EVP_PKEY *k) {
  const size_t m = size_t(EVP_PKEY_get_size(k)), h = m / 2;
  return cat(
      {bn_param(k, OSSL_PKEY_PARAM_RSA_N, m), bn_param(k, OSSL_PKEY_PARAM_RSA_D, m),
       bn_param(k, OSSL_PKEY_PARAM_RSA_FACTOR2, h), bn_param(k, OSSL_PKEY_PARAM_RSA_EXPONENT2, h),
       bn_param(k, OSSL_PKEY_PARAM_RSA_FACTOR1, h), bn_param(k, OSSL_PKEY_PARAM_RSA_EXPONENT1, h),
       bn_param(k, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, h), bn_param(k, OSSL_PKEY_PARAM_RSA_E, m)});
}

class UnwrapTest : public WrapTest {
 protected:
  // An AES key that may unwrap (and, for plain input, encrypt).
  uint64_t unwrapping_aes(const Bytes &value, bool unwrap = true) {
    ObjectSeed s;
    s.attributes = {
        ObjectAttr::number(OBJ_ATTR_CLASS, 4), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
        ObjectAttr::flag(OBJ_ATTR_UNWRAP, unwrap), ObjectAttr::flag(OBJ_ATTR_ENCRYPT, true),
        ObjectAttr::flag(OBJ_ATTR_DECRYPT, true)};
    s.key = value;
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }
  // An RSA private key of the host's that may unwrap.
  uint64_t unwrapping_rsa(EVP_PKEY *k) {
    ObjectSeed s;
    s.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 3), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 0),
                    ObjectAttr::bytes(OBJ_ATTR_MODULUS, bn_param(k, OSSL_PKEY_PARAM_RSA_N)),
                    ObjectAttr::bytes(OBJ_ATTR_PUBLIC_EXPONENT, bn_param(k, OSSL_PKEY_PARAM_RSA_E)),
                    ObjectAttr::flag(OBJ_ATTR_UNWRAP, true)};
    s.key = rsa_block(k);
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }
  // A secret key's unwrap template from the library's builder.
  static Bytes secret_template(Uint32 type, Uint32 len, Uint8 location = 1,
                               const std::string &id = "") {
    Uint32 size = 0, count = 0;
    const std::string label = "unwrapped";
    Uint8 *t = SetTemplate3(0, TEMPLATE_MODE_UNWRAP, OBJ_CLASS_SECRET_KEY, type, location, nullptr,
                            0, nullptr, 0, 0, id.empty() ? nullptr : u8(id), Uint32(id.size()),
                            u8(label), Uint32(label.size()), nullptr, 0, len, 0, nullptr, 0, 0, 0,
                            0, nullptr, 0, nullptr, 1, nullptr, &size, &count);
    Bytes out = t ? Bytes(t, t + size) : Bytes{};
    std::free(t);
    return out;
  }
  // Qel2UnWrapWithTemplate2 of `wrapped` into an AES key object of `len` bytes.
  Uint32 unwrap2(uint64_t kek, Uint32 mech, Bytes iv, Uint32 hash, Bytes wrapped, uint64_t *h,
                 Uint32 len = 32) {
    Bytes t = secret_template(KEY_TYPE_AES, len);
    return Qel2UnWrapWithTemplate2(session_, wrapped.data(), Uint32(wrapped.size()), kek,
                                   iv.empty() ? nullptr : iv.data(), Uint32(iv.size()), mech, hash,
                                   t.data(), Uint32(t.size()), 0, h, nullptr, nullptr, nullptr, 1);
  }
};

}  // namespace unwrap_test
