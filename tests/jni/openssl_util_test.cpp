// Host-side helpers of the bridge against OpenSSL on the host: RSA-PSS
// blocks through real RSA keys, PKCS#8 components against the key's own
// parameters, the numbering tables and the curve table.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "curve_data.h"
#include "qel2_crypto.h"
#include "qel2_errors.h"
#include "qel2_openssl_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct PkeyFree {
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
struct CtxFree {
  void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

const EVP_MD *md_of(HashType t) {
  switch (t) {
    case SHA1_TYPE:
      return EVP_sha1();
    case SHA256_TYPE:
      return EVP_sha256();
    case SHA384_TYPE:
      return EVP_sha384();
    case SHA512_TYPE:
      return EVP_sha512();
    case SHA224_TYPE:
      return EVP_sha224();
    default:
      return nullptr;
  }
}

Bytes random_bytes(size_t n) {
  Bytes b(n);
  RAND_bytes(b.data(), static_cast<int>(n));
  return b;
}

// x^d mod n or x^e mod n with no padding: the HSM's half of a PSS signature.
Bytes raw_rsa(EVP_PKEY *k, bool private_op, const Bytes &in) {
  Ctx c(EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr));
  EXPECT_EQ(1, private_op ? EVP_PKEY_decrypt_init(c.get()) : EVP_PKEY_encrypt_init(c.get()));
  EVP_PKEY_CTX_set_rsa_padding(c.get(), RSA_NO_PADDING);
  size_t n = in.size();
  Bytes out(n);
  const int ok = private_op ? EVP_PKEY_decrypt(c.get(), out.data(), &n, in.data(), in.size())
                            : EVP_PKEY_encrypt(c.get(), out.data(), &n, in.data(), in.size());
  EXPECT_EQ(1, ok);
  out.resize(n);
  return out;
}

Ctx pss_ctx(EVP_PKEY *k, bool sign, HashType t, int salt) {
  Ctx c(EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr));
  EXPECT_EQ(1, sign ? EVP_PKEY_sign_init(c.get()) : EVP_PKEY_verify_init(c.get()));
  EVP_PKEY_CTX_set_rsa_padding(c.get(), RSA_PKCS1_PSS_PADDING);
  EVP_PKEY_CTX_set_signature_md(c.get(), md_of(t));
  EVP_PKEY_CTX_set_rsa_mgf1_md(c.get(), md_of(t));
  EVP_PKEY_CTX_set_rsa_pss_saltlen(c.get(), salt);
  return c;
}

class Pss : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (size_t bits : {1024u, 2048u}) keys_.emplace_back(EVP_RSA_gen(static_cast<unsigned>(bits)));
  }
  static void TearDownTestSuite() { keys_.clear(); }
  static std::vector<Pkey> keys_;
};
std::vector<Pkey> Pss::keys_;

// Blocks made here, exponentiated with the private key, verify in OpenSSL;
// OpenSSL's PSS signatures, opened with the public key, check here.
TEST_F(Pss, AgreesWithOpenSslBothWays) {
  for (const Pkey &k : keys_) {
    const int mod = EVP_PKEY_get_size(k.get());
    for (HashType t : {SHA1_TYPE, SHA256_TYPE, SHA384_TYPE, SHA512_TYPE, SHA224_TYPE}) {
      const int hlen = static_cast<int>(get_hash_size(t));
      const int max_salt = std::min(hlen, mod - hlen - 2);
      for (int salt : {0, 1, hlen / 2, max_salt}) {
        SCOPED_TRACE(std::to_string(mod) + " bytes, hash " + std::to_string(t) + ", salt " +
                     std::to_string(salt));
        Bytes hash = random_bytes(static_cast<size_t>(hlen));
        Bytes em(static_cast<size_t>(mod));
        ASSERT_EQ(0, tzl_add_rsa_pss_padding(em.data(), hash.data(), t, mod, salt));
        EXPECT_EQ(0, em[0] & 0x80);
        EXPECT_EQ(0xBC, em.back());
        const Bytes sig = raw_rsa(k.get(), true, em);
        Ctx v = pss_ctx(k.get(), false, t, salt);
        EXPECT_EQ(1, EVP_PKEY_verify(v.get(), sig.data(), sig.size(), hash.data(), hash.size()));

        Ctx s = pss_ctx(k.get(), true, t, salt);
        size_t n = static_cast<size_t>(mod);
        Bytes theirs(n);
        ASSERT_EQ(1, EVP_PKEY_sign(s.get(), theirs.data(), &n, hash.data(), hash.size()));
        Bytes block = raw_rsa(k.get(), false, theirs);
        EXPECT_EQ(0, tzl_verify_rsa_pss_padding(block.data(), hash.data(), t, mod, salt));
        block[mod / 2] ^= 1;
        EXPECT_EQ(RET_ERROR, tzl_verify_rsa_pss_padding(block.data(), hash.data(), t, mod, salt));
      }
    }
  }
}

TEST(PssChecks, RefusesWhatTheLimitsExclude) {
  Bytes em(513), hash(64);
  struct Case {
    const char *name;
    HashType type;
    int mod, salt;
    int want;
  };
  const Case cases[] = {
      {"modulus 127", SHA256_TYPE, 127, 0, ERR_ARGUMENTS_BAD},
      {"modulus 513", SHA256_TYPE, 513, 0, ERR_ARGUMENTS_BAD},
      {"modulus 128", SHA256_TYPE, 128, 0, 0},
      {"modulus 512", SHA256_TYPE, 512, 32, 0},
      {"SHA-256, 128 bytes, salt 32", SHA256_TYPE, 128, 32, 0},
      {"SHA-256, 128 bytes, salt 33", SHA256_TYPE, 128, 33, ERR_ARGUMENTS_BAD},
      {"SHA-512, 128 bytes, salt 62", SHA512_TYPE, 128, 62, 0},
      {"SHA-512, 128 bytes, salt 63", SHA512_TYPE, 128, 63, ERR_ARGUMENTS_BAD},
      {"negative salt", SHA256_TYPE, 128, -1, ERR_ARGUMENTS_BAD},
      {"MD5", MD5_TYPE, 128, 0, ERR_ARGUMENTS_BAD},
      {"hash type 7", AESCMAC_TYPE, 128, 0, ERR_ARGUMENTS_BAD},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, tzl_add_rsa_pss_padding(em.data(), hash.data(), c.type, c.mod, c.salt));
    if (c.want == 0) {
      EXPECT_EQ(0, tzl_verify_rsa_pss_padding(em.data(), hash.data(), c.type, c.mod, c.salt));
      // Another salt length does not check.
      EXPECT_EQ(RET_ERROR, tzl_verify_rsa_pss_padding(em.data(), hash.data(), c.type, c.mod,
                                                      c.salt == 0 ? 1 : c.salt - 1));
    } else {
      EXPECT_EQ(c.want, tzl_verify_rsa_pss_padding(em.data(), hash.data(), c.type, c.mod, c.salt));
    }
  }
  EXPECT_EQ(ERR_ARGUMENTS_BAD, tzl_add_rsa_pss_padding(nullptr, hash.data(), SHA256_TYPE, 128, 0));
  EXPECT_EQ(ERR_ARGUMENTS_BAD, tzl_verify_rsa_pss_padding(em.data(), nullptr, SHA256_TYPE, 128, 0));

  testing::internal::CaptureStdout();
  tzl_add_rsa_pss_padding(em.data(), hash.data(), MD5_TYPE, 128, 0);
  tzl_verify_rsa_pss_padding(em.data(), hash.data(), SHA256_TYPE, 100, 0);
  tzl_add_rsa_pss_padding(em.data(), hash.data(), SHA256_TYPE, 128, 40);
  EXPECT_EQ("Invalid hashType\nInvalid modulus size 100\nInvalid salt length \n",
            testing::internal::GetCapturedStdout());
}

Bytes pkcs8(EVP_PKEY *k) {
  PKCS8_PRIV_KEY_INFO *p8 = EVP_PKEY2PKCS8(k);
  const int n = i2d_PKCS8_PRIV_KEY_INFO(p8, nullptr);
  Bytes der(static_cast<size_t>(n));
  unsigned char *p = der.data();
  i2d_PKCS8_PRIV_KEY_INFO(p8, &p);
  PKCS8_PRIV_KEY_INFO_free(p8);
  return der;
}

Bytes param(EVP_PKEY *k, const char *name, size_t width) {
  BIGNUM *b = nullptr;
  EXPECT_EQ(1, EVP_PKEY_get_bn_param(k, name, &b)) << name;
  Bytes out(width);
  BN_bn2binpad(b, out.data(), static_cast<int>(width));
  BN_free(b);
  return out;
}

TEST(Pkcs8Components, MatchTheKeysParametersRightAlignedAndZeroFilled) {
  for (unsigned bits : {1024u, 2048u}) {
    Pkey k(EVP_RSA_gen(bits));
    const Bytes der = pkcs8(k.get());
    const size_t mod = bits / 8, half = mod / 2, total = 3 * mod + 5 * half;
    Bytes block;
    const std::pair<const char *, size_t> fields[] = {{OSSL_PKEY_PARAM_RSA_N, mod},
                                                      {OSSL_PKEY_PARAM_RSA_D, mod},
                                                      {OSSL_PKEY_PARAM_RSA_FACTOR2, half},
                                                      {OSSL_PKEY_PARAM_RSA_EXPONENT2, half},
                                                      {OSSL_PKEY_PARAM_RSA_FACTOR1, half},
                                                      {OSSL_PKEY_PARAM_RSA_EXPONENT1, half},
                                                      {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, half},
                                                      {OSSL_PKEY_PARAM_RSA_E, mod}};
    for (const auto &[name, width] : fields) {
      const Bytes v = param(k.get(), name, width);
      block.insert(block.end(), v.begin(), v.end());
    }
    // A dirty buffer: e (3 bytes in a field of mod bytes) shows the zero fill.
    Bytes out(total + 4, 0xEE);
    Uint32 len = static_cast<Uint32>(out.size()), mod_len = 0;
    ASSERT_EQ(
        0u, getRawKeyFromRsaPkcs8(const_cast<Uint8 *>(der.data()), static_cast<Uint32>(der.size()),
                                  out.data(), &len, &mod_len));
    EXPECT_EQ(total, len);
    EXPECT_EQ(mod, mod_len);
    EXPECT_EQ(block, Bytes(out.begin(), out.begin() + static_cast<long>(total)));
    EXPECT_EQ(Bytes(4, 0xEE), Bytes(out.end() - 4, out.end())) << "past the block";

    Bytes small(total - 1, 0xEE);
    len = static_cast<Uint32>(small.size());
    mod_len = 99;
    EXPECT_EQ(ERR_BUFFER_TOO_SMALL,
              getRawKeyFromRsaPkcs8(const_cast<Uint8 *>(der.data()),
                                    static_cast<Uint32>(der.size()), small.data(), &len, &mod_len));
    EXPECT_EQ(total, len);
    EXPECT_EQ(99u, mod_len);
    EXPECT_EQ(Bytes(total - 1, 0xEE), small);
  }
}

TEST(Pkcs8Components, RefusesWhatIsNotAnRsaPrivateKey) {
  Pkey ec(EVP_EC_gen("P-256"));
  const Bytes ec_der = pkcs8(ec.get());
  Bytes garbage = random_bytes(200);
  Bytes out(2000);
  Uint32 len = 2000, mod = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_KEY_INCONSISTENT,
            getRawKeyFromRsaPkcs8(const_cast<Uint8 *>(ec_der.data()),
                                  static_cast<Uint32>(ec_der.size()), out.data(), &len, &mod));
  EXPECT_EQ("failed to convert to get RSA key \n\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(ERR_KEY_INCONSISTENT,
            getRawKeyFromRsaPkcs8(garbage.data(), 200, out.data(), &len, &mod));
  // A truncated encoding is not read past its stated length.
  Pkey rsa(EVP_RSA_gen(1024));
  const Bytes der = pkcs8(rsa.get());
  EXPECT_EQ(ERR_KEY_INCONSISTENT,
            getRawKeyFromRsaPkcs8(const_cast<Uint8 *>(der.data()),
                                  static_cast<Uint32>(der.size() - 1), out.data(), &len, &mod));
  EXPECT_EQ(ERR_ARGUMENTS_BAD, getRawKeyFromRsaPkcs8(nullptr, 10, out.data(), &len, &mod));
  EXPECT_EQ(ERR_ARGUMENTS_BAD, getRawKeyFromRsaPkcs8(garbage.data(), 10, nullptr, &len, &mod));
  EXPECT_EQ(ERR_ARGUMENTS_BAD,
            getRawKeyFromRsaPkcs8(garbage.data(), 10, out.data(), nullptr, &mod));
  EXPECT_EQ(ERR_ARGUMENTS_BAD,
            getRawKeyFromRsaPkcs8(garbage.data(), 10, out.data(), &len, nullptr));
}

TEST(MappingTables, TheirEntriesAndEnds) {
  struct Case {
    const char *name;
    int got, want;
  };
  testing::internal::CaptureStdout();
  const Case cases[] = {
      {"curve 1", get_openssl_curve_id(UTIL_EC_CURVE_ID_X9_62_prime192v1), NID_X9_62_prime192v1},
      {"curve 2", get_openssl_curve_id(UTIL_EC_CURVE_ID_X9_62_prime256v1), NID_X9_62_prime256v1},
      {"curve 3", get_openssl_curve_id(UTIL_EC_CURVE_ID_sect163k1), NID_sect163k1},
      {"curve 12", get_openssl_curve_id(UTIL_EC_CURVE_ID_sect571r1), NID_sect571r1},
      {"curve 13", get_openssl_curve_id(UTIL_EC_CURVE_ID_secp224r1), NID_secp224r1},
      {"curve 14", get_openssl_curve_id(UTIL_EC_CURVE_ID_secp384r1), NID_secp384r1},
      {"curve 15", get_openssl_curve_id(UTIL_EC_CURVE_ID_secp521r1), NID_secp521r1},
      {"curve 16", get_openssl_curve_id(UTIL_EC_CURVE_ID_secp256k1), NID_secp256k1},
      {"curve 0", get_openssl_curve_id(0), 0},
      {"curve 17", get_openssl_curve_id(17), 0},
      {"RSA", get_key_type(EVP_PKEY_RSA), 0},
      {"DSA", get_key_type(EVP_PKEY_DSA), 1},
      {"EC", get_key_type(EVP_PKEY_EC), 3},
      {"key type 0", get_key_type(0), -1},
      {"wrap 0", get_wrap_mechanism(0), 4229},
      {"wrap 4", get_wrap_mechanism(4), 4241},
      {"wrap 8", get_wrap_mechanism(8), 9},
      {"wrap 9", get_wrap_mechanism(9), 4231},
      {"wrap 10", get_wrap_mechanism(10), -1},
      {"sign 0", get_sign_mechanism(0), 6},
      {"sign 4", get_sign_mechanism(4), 70},
      {"sign 9", get_sign_mechanism(9), 71},
      {"sign 11", get_sign_mechanism(11), 19},
      {"sign 16", get_sign_mechanism(16), 4166},
      {"sign 17", get_sign_mechanism(17), 4163},
      {"sign 19", get_sign_mechanism(19), 4165},
      {"sign 20", get_sign_mechanism(20), -1},
      {"derive 0", get_derive_mechanism(0), 4176},
      {"derive 1", get_derive_mechanism(1), 33},
      {"derive 2", get_derive_mechanism(2), -1},
      {"derive 2^32-1", get_derive_mechanism(0xFFFFFFFFu), -1},
  };
  EXPECT_EQ("Invalid EC Curve ID 0\nInvalid EC Curve ID 17\n",
            testing::internal::GetCapturedStdout());
  for (const Case &c : cases) EXPECT_EQ(c.want, c.got) << c.name;
}

Bytes bn_bytes(const BIGNUM *b, size_t width) {
  Bytes out(width);
  BN_bn2binpad(b, out.data(), static_cast<int>(width));
  return out;
}

TEST(CurveTable, HoldsTheCurvesOpenSslKnows) {
  const int nids[] = {NID_X9_62_prime192v1, NID_secp224r1, NID_X9_62_prime256v1,
                      NID_secp384r1,        NID_secp521r1, NID_secp256k1};
  for (int cid = 0; cid < 6; ++cid) {
    SCOPED_TRACE(cid);
    EC_GROUP *g = EC_GROUP_new_by_curve_name(nids[cid]);
    ASSERT_NE(nullptr, g);
    BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new(), *x = BN_new(), *y = BN_new();
    ASSERT_EQ(1, EC_GROUP_get_curve(g, p, a, b, nullptr));
    ASSERT_EQ(1, EC_POINT_get_affine_coordinates(g, EC_GROUP_get0_generator(g), x, y, nullptr));
    const size_t len = jce::curve_prime_length(cid);
    EXPECT_EQ(len, (static_cast<size_t>(EC_GROUP_get_degree(g)) + 7) / 8);
    const jce::ec_curve &c = jce::curve[cid];
    auto table = [len](const Uint8 *v) { return Bytes(v, v + len); };
    EXPECT_EQ(bn_bytes(p, len), table(c.p));
    EXPECT_EQ(bn_bytes(a, len), table(c.a));
    EXPECT_EQ(bn_bytes(b, len), table(c.b));
    EXPECT_EQ(bn_bytes(x, len), table(c.x));
    EXPECT_EQ(bn_bytes(y, len), table(c.y));
    EXPECT_EQ(bn_bytes(EC_GROUP_get0_order(g), len), table(c.order));
    EXPECT_TRUE(BN_is_one(EC_GROUP_get0_cofactor(g)));
    const size_t seed_len = jce::curve_seed_length(cid);
    const Uint8 *seed = EC_GROUP_get0_seed(g);
    if (seed) {
      EXPECT_EQ(EC_GROUP_get_seed_len(g), seed_len);
      EXPECT_EQ(Bytes(seed, seed + seed_len), Bytes(c.seed, c.seed + seed_len));
    } else {
      EXPECT_EQ(Bytes(32, 0), Bytes(c.seed, c.seed + seed_len));
    }
    BN_free(p), BN_free(a), BN_free(b), BN_free(x), BN_free(y);
    EC_GROUP_free(g);
  }
  EXPECT_EQ(0u, jce::curve_prime_length(6));
  EXPECT_EQ(0u, jce::curve_seed_length(-1));
}

}  // namespace
