// Known keys made on the host by OpenSSL, seeded into the test's own
// stand-in in its documented value formats, and host-side signing and
// verification to check the HSM against.
#pragma once

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>
#include <string>

#include "keys_fixture.h"

namespace sign_test {

using namespace keys_test;

inline Bytes bn_param(EVP_PKEY *k, const char *name, size_t width = 0) {
  BIGNUM *bn = nullptr;
  EXPECT_EQ(1, EVP_PKEY_get_bn_param(k, name, &bn)) << name;
  size_t n = width ? width : size_t(BN_num_bytes(bn));
  Bytes out(n);
  EXPECT_EQ(int(n), BN_bn2binpad(bn, out.data(), int(n))) << name;
  BN_free(bn);
  return out;
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Pkey host_rsa() { return Pkey(EVP_RSA_gen(2048)); }
inline Pkey host_ec(const char *curve) { return Pkey(EVP_EC_gen(curve)); }
inline Pkey host_dsa() {
  EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
  EVP_PKEY *params = nullptr, *key = nullptr;
  EVP_PKEY_paramgen_init(pc);
  EVP_PKEY_CTX_set_dsa_paramgen_bits(pc, 2048);
  EVP_PKEY_CTX_set_dsa_paramgen_q_bits(pc, 256);
  EVP_PKEY_paramgen(pc, &params);
  EVP_PKEY_CTX_free(pc);
  EVP_PKEY_CTX *kc = EVP_PKEY_CTX_new_from_pkey(nullptr, params, nullptr);
  EVP_PKEY_keygen_init(kc);
  EVP_PKEY_keygen(kc, &key);
  EVP_PKEY_CTX_free(kc);
  EVP_PKEY_free(params);
  return Pkey(key);
}

// Private (class 3) and public (class 2) key objects of a host key.
struct Seeded {
  uint64_t priv = 0, pub = 0;
};
inline Seeded seed(hsmsim::Daemon &d, EVP_PKEY *k) {
  using hsmsim::ObjectAttr;
  Seeded out;
  hsmsim::ObjectSeed priv, pub;
  if (EVP_PKEY_is_a(k, "RSA")) {
    const size_t m = size_t(EVP_PKEY_get_size(k)), h = m / 2;
    Bytes n = bn_param(k, OSSL_PKEY_PARAM_RSA_N, m), e = bn_param(k, OSSL_PKEY_PARAM_RSA_E);
    const std::vector<ObjectAttr> attrs = {ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 0),
                                           ObjectAttr::bytes(OBJ_ATTR_MODULUS, n),
                                           ObjectAttr::bytes(OBJ_ATTR_PUBLIC_EXPONENT, e)};
    priv.attributes = pub.attributes = attrs;
    // n, d, q, d mod (q-1), p, d mod (p-1), q^-1 mod p, e.
    priv.key = cat(
        {n, bn_param(k, OSSL_PKEY_PARAM_RSA_D, m), bn_param(k, OSSL_PKEY_PARAM_RSA_FACTOR2, h),
         bn_param(k, OSSL_PKEY_PARAM_RSA_EXPONENT2, h), bn_param(k, OSSL_PKEY_PARAM_RSA_FACTOR1, h),
         bn_param(k, OSSL_PKEY_PARAM_RSA_EXPONENT1, h),
         bn_param(k, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, h), bn_param(k, OSSL_PKEY_PARAM_RSA_E, m)});
  } else if (EVP_PKEY_is_a(k, "EC")) {
    char group[64] = {};
    EVP_PKEY_get_utf8_string_param(k, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr);
    const int nid = OBJ_sn2nid(group);
    const size_t order = size_t(EVP_PKEY_get_bits(k) + 7) / 8;
    priv.attributes = pub.attributes = {ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 3),
                                        ObjectAttr::number(OBJ_ATTR_MODULUS_BITS, Uint32(nid))};
    priv.key = bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY, order);
    Bytes point(256);
    size_t len = 0;
    EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &len);
    point.resize(len);
    priv.public_data = pub.public_data = point;
  } else {
    Bytes p = bn_param(k, OSSL_PKEY_PARAM_FFC_P), q = bn_param(k, OSSL_PKEY_PARAM_FFC_Q);
    priv.attributes = pub.attributes = {
        ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 1), ObjectAttr::bytes(OBJ_ATTR_PRIME, p),
        ObjectAttr::bytes(OBJ_ATTR_SUBPRIME, q),
        ObjectAttr::bytes(OBJ_ATTR_BASE, bn_param(k, OSSL_PKEY_PARAM_FFC_G, p.size()))};
    priv.key = bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY, q.size());
    priv.public_data = pub.public_data = bn_param(k, OSSL_PKEY_PARAM_PUB_KEY, p.size());
  }
  priv.attributes.push_back(ObjectAttr::number(OBJ_ATTR_CLASS, 3));
  pub.attributes.push_back(ObjectAttr::number(OBJ_ATTR_CLASS, 2));
  auto a = d.hsm().seed_object(priv), b = d.hsm().seed_object(pub);
  EXPECT_EQ(0u, a.code);
  EXPECT_EQ(0u, b.code);
  out.priv = a.handle;
  out.pub = b.handle;
  return out;
}

// A scripted stand-in with a session: what the requests carry.
class SessionWire : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  // The descriptor's context word of the last request of this opcode (0xDEAD: none).
  uint64_t last_ctx(uint16_t opcode) {
    const auto m = sent_requests(d(), opcode);
    return m.empty() ? 0xDEAD : m.back().ctx_ptr;
  }
  Uint32 session_ = 0;
};

// r || s (each `width` bytes) and DER, both ways.
inline Bytes to_der(const Bytes &raw) {
  const size_t w = raw.size() / 2;
  ECDSA_SIG *s = ECDSA_SIG_new();
  ECDSA_SIG_set0(s, BN_bin2bn(raw.data(), int(w), nullptr),
                 BN_bin2bn(raw.data() + w, int(w), nullptr));
  int n = i2d_ECDSA_SIG(s, nullptr);
  Bytes der(size_t(n > 0 ? n : 0));
  unsigned char *p = der.data();
  i2d_ECDSA_SIG(s, &p);
  ECDSA_SIG_free(s);
  return der;
}
inline Bytes to_raw(const Bytes &der, size_t w) {
  const unsigned char *p = der.data();
  ECDSA_SIG *s = d2i_ECDSA_SIG(nullptr, &p, long(der.size()));
  const BIGNUM *r = nullptr, *sv = nullptr;
  ECDSA_SIG_get0(s, &r, &sv);
  Bytes raw(2 * w);
  BN_bn2binpad(r, raw.data(), int(w));
  BN_bn2binpad(sv, raw.data() + w, int(w));
  ECDSA_SIG_free(s);
  return raw;
}

// Host signature and verification of a message (digest = nullptr: the
// message is the digest). PSS salts are as long as the digest.
inline int set_pss(EVP_PKEY_CTX *pc, bool pss) {
  if (!pss) return 1;
  return EVP_PKEY_CTX_set_rsa_padding(pc, RSA_PKCS1_PSS_PADDING) == 1 &&
         EVP_PKEY_CTX_set_rsa_pss_saltlen(pc, RSA_PSS_SALTLEN_DIGEST) == 1;
}
inline bool host_verify(EVP_PKEY *k, const char *md, bool pss, const Bytes &msg, const Bytes &sig) {
  EVP_MD_CTX *c = EVP_MD_CTX_new();
  EVP_PKEY_CTX *pc = nullptr;
  bool ok = EVP_DigestVerifyInit_ex(c, &pc, md, nullptr, nullptr, k, nullptr) == 1 &&
            set_pss(pc, pss) == 1 &&
            EVP_DigestVerify(c, sig.data(), sig.size(), msg.data(), msg.size()) == 1;
  EVP_MD_CTX_free(c);
  return ok;
}
inline Bytes host_sign(EVP_PKEY *k, const char *md, bool pss, const Bytes &msg) {
  EVP_MD_CTX *c = EVP_MD_CTX_new();
  EVP_PKEY_CTX *pc = nullptr;
  size_t n = 0;
  Bytes sig;
  if (EVP_DigestSignInit_ex(c, &pc, md, nullptr, nullptr, k, nullptr) == 1 &&
      set_pss(pc, pss) == 1 && EVP_DigestSign(c, nullptr, &n, msg.data(), msg.size()) == 1) {
    sig.resize(n);
    EXPECT_EQ(1, EVP_DigestSign(c, sig.data(), &n, msg.data(), msg.size()));
    sig.resize(n);
  }
  EVP_MD_CTX_free(c);
  return sig;
}

}  // namespace sign_test
