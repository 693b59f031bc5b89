// The stand-in's crypto engine against OpenSSL's own results and published
// vectors: the key value formats, generation, and the primitives that add
// behaviour over OpenSSL (formats, codes, parity, point encodings). Also the
// raw request form of the call layer.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>

#include <bit>
#include <map>
#include <string>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/generate.h"
#include "hsm/engine/values.h"
#include "hsm/objects/object.h"
#include "hsm/ops/crypto_key.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"
#include "hsm/tls/prf.h"
#include "hsm/tls/suite.h"

namespace eng = hsmsim::hsm::engine;
namespace code = hsmsim::code;
using eng::Bytes;
using eng::Key;

namespace {

Bytes hex(const std::string &s) {
  Bytes b;
  for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(std::stoi(s.substr(i, 2), nullptr, 16));
  return b;
}
Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

// OpenSSL's own reading of a key parameter, big-endian.
Bytes param(EVP_PKEY *k, const char *name, size_t width = 0) {
  BIGNUM *b = nullptr;
  if (EVP_PKEY_get_bn_param(k, name, &b) != 1) return {};
  size_t n = width ? width : static_cast<size_t>(BN_num_bytes(b));
  Bytes out(n);
  BN_bn2binpad(b, out.data(), static_cast<int>(n));
  BN_free(b);
  return out;
}
Bytes slice(const Bytes &b, size_t at, size_t n) {
  return Bytes(b.begin() + at, b.begin() + at + n);
}

// A key made by OpenSSL directly, not through the engine.
Key openssl_key(const char *alg, const char *arg) {
  EVP_PKEY *k = arg ? EVP_PKEY_Q_keygen(nullptr, nullptr, alg, arg)
                    : EVP_PKEY_Q_keygen(nullptr, nullptr, alg, static_cast<size_t>(2048));
  return Key::adopt(k);
}

// OpenSSL verifies what the engine signed (an oracle outside the engine).
bool openssl_verifies(EVP_PKEY *pub, const char *md, const Bytes &msg, const Bytes &sig) {
  EVP_MD_CTX *c = EVP_MD_CTX_new();
  bool ok = EVP_DigestVerifyInit_ex(c, nullptr, md, nullptr, nullptr, pub, nullptr) == 1 &&
            EVP_DigestVerify(c, sig.data(), sig.size(), msg.data(), msg.size()) == 1;
  EVP_MD_CTX_free(c);
  return ok;
}

}  // namespace

TEST(EngineValues, RsaComponentBlockIsLaidOutAsDocumentedAndReadBack) {
  Key k = openssl_key("RSA", nullptr);
  ASSERT_FALSE(k.empty());
  Bytes block = eng::rsa_private_block(k);
  const size_t m = 256, h = 128;
  ASSERT_EQ(block.size(), 3 * m + 5 * h);
  EVP_PKEY *p = k.pkey();
  EXPECT_EQ(slice(block, 0, m), param(p, OSSL_PKEY_PARAM_RSA_N, m));
  EXPECT_EQ(slice(block, m, m), param(p, OSSL_PKEY_PARAM_RSA_D, m));
  EXPECT_EQ(slice(block, 2 * m, h), param(p, OSSL_PKEY_PARAM_RSA_FACTOR2, h));          // q
  EXPECT_EQ(slice(block, 2 * m + h, h), param(p, OSSL_PKEY_PARAM_RSA_EXPONENT2, h));    // d mod q-1
  EXPECT_EQ(slice(block, 2 * m + 2 * h, h), param(p, OSSL_PKEY_PARAM_RSA_FACTOR1, h));  // p
  EXPECT_EQ(slice(block, 2 * m + 3 * h, h), param(p, OSSL_PKEY_PARAM_RSA_EXPONENT1, h));
  EXPECT_EQ(slice(block, 2 * m + 4 * h, h), param(p, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, h));
  EXPECT_EQ(slice(block, 2 * m + 5 * h, m), param(p, OSSL_PKEY_PARAM_RSA_E, m));

  // Read back, with and without the CRT fields, it signs what OpenSSL verifies.
  Bytes no_crt = block;
  std::fill(no_crt.begin() + 2 * m, no_crt.begin() + 2 * m + 5 * h, 0);
  for (const Bytes &b : {block, no_crt}) {
    Key back;
    ASSERT_EQ(eng::rsa_private_from_block(b, back), 0u);
    EXPECT_EQ(eng::private_value(back), block == b ? block : no_crt);
    Bytes sig;
    ASSERT_EQ(eng::sign_message(back, "SHA256", {}, text("msg"), sig), 0u);
    EXPECT_TRUE(openssl_verifies(p, "SHA256", text("msg"), sig));
  }

  // Blocks that are not a key.
  Bytes wrong_p = block;
  wrong_p[2 * m + 2 * h + 5] ^= 1;
  Key bad;
  for (const Bytes &b : {wrong_p, Bytes(block.begin(), block.end() - 1), Bytes(11, 0), Bytes{}})
    EXPECT_EQ(eng::rsa_private_from_block(b, bad), code::kAttributeValueInvalid) << b.size();
}

TEST(EngineValues, EcScalarGivesOpenSslsPointOnEveryCurve) {
  struct Case {
    const char *curve;
    int nid;
    size_t width;
  };
  for (auto c : {Case{"P-256", NID_X9_62_prime256v1, 32}, Case{"P-384", NID_secp384r1, 48},
                 Case{"P-521", NID_secp521r1, 66}, Case{"secp256k1", NID_secp256k1, 32}}) {
    SCOPED_TRACE(c.curve);
    Key ref = openssl_key("EC", c.curve);
    ASSERT_FALSE(ref.empty());
    Bytes scalar = eng::ec_private_scalar(ref);
    EXPECT_EQ(scalar, param(ref.pkey(), OSSL_PKEY_PARAM_PRIV_KEY, c.width));
    EXPECT_EQ(eng::ec_curve(ref), c.nid);

    Key k;
    ASSERT_EQ(eng::ec_private_from_scalar(c.nid, scalar, k), 0u);
    Bytes point = eng::ec_public_point(ref);
    ASSERT_EQ(point.size(), 1 + 2 * c.width);
    EXPECT_EQ(eng::public_data(k), point);
    EXPECT_EQ(eng::private_value(k), scalar);

    // The point alone is a public key that verifies the imported key's signatures.
    Key pub;
    ASSERT_EQ(eng::ec_public_from_point(c.nid, point, pub), 0u);
    EXPECT_FALSE(pub.has_private());
    Bytes digest(32, 7), sig;
    ASSERT_EQ(eng::sign(k, {}, digest, sig), 0u);
    EXPECT_EQ(eng::verify(pub, {}, digest, sig), 0u);
    digest[0] ^= 1;
    EXPECT_EQ(eng::verify(pub, {}, digest, sig), code::kSignatureMismatch);

    Bytes off_curve = point;
    off_curve.back() ^= 1;
    Bytes order = param(ref.pkey(), "order", c.width);
    for (const Bytes &s : {Bytes(c.width, 0), order, Bytes(c.width + 1, 1)})
      EXPECT_EQ(eng::ec_private_from_scalar(c.nid, s, k), code::kAttributeValueInvalid);
    EXPECT_EQ(eng::ec_public_from_point(c.nid, off_curve, pub), code::kAttributeValueInvalid);
  }
  Key k;
  EXPECT_EQ(eng::generate_ec(NID_undef, k), code::kAttributeValueInvalid);
}

TEST(EngineValues, DsaValueAndDomainMakeTheKeyAgain) {
  Key k;
  ASSERT_EQ(eng::generate_dsa(1024, k), 0u);
  EXPECT_EQ(k.bits(), 1024u);
  eng::DsaDomain dom = eng::dsa_domain(k);
  EXPECT_EQ(dom.p.size(), 128u);
  EXPECT_EQ(dom.q.size(), 20u);
  Bytes x = eng::private_value(k), y = eng::public_data(k);
  EXPECT_EQ(x.size(), 20u);
  EXPECT_EQ(y, param(k.pkey(), OSSL_PKEY_PARAM_PUB_KEY, 128));

  Key back, pub;
  ASSERT_EQ(eng::dsa_private_from_value(dom, x, back), 0u);
  EXPECT_EQ(eng::public_data(back), y);  // y = g^x mod p computed again
  ASSERT_EQ(eng::dsa_public_from_value(dom, y, pub), 0u);
  Bytes sig;
  ASSERT_EQ(eng::sign_message(back, "SHA256", {}, text("m"), sig), 0u);
  EXPECT_TRUE(openssl_verifies(k.pkey(), "SHA256", text("m"), sig));
  EXPECT_EQ(eng::verify_message(pub, "SHA256", {}, text("m"), sig), 0u);

  // Fresh keys under the same domain.
  Key sibling;
  ASSERT_EQ(eng::generate_dsa(dom, sibling), 0u);
  EXPECT_EQ(eng::dsa_domain(sibling).p, dom.p);
  EXPECT_NE(eng::private_value(sibling), x);
  EXPECT_EQ(eng::dsa_private_from_value(dom, dom.q, back), code::kAttributeValueInvalid);
  EXPECT_EQ(eng::generate_dsa(1536, back), code::kKeySizeRange);
}

TEST(EngineGenerate, SizesExponentsAndParity) {
  Key k;
  ASSERT_EQ(eng::generate_rsa(1024, hex("010001"), k), 0u);
  EXPECT_EQ(k.bits(), 1024u);
  EXPECT_EQ(eng::rsa_exponent(k), hex("010001"));
  ASSERT_EQ(eng::generate_rsa(1024, hex("03"), k), 0u);
  EXPECT_EQ(eng::rsa_exponent(k), hex("03"));
  struct Bad {
    uint32_t bits;
    Bytes e;
    uint32_t code;
  };
  for (const auto &b :
       {Bad{512, hex("010001"), code::kKeySizeRange}, Bad{1100, hex("010001"), code::kKeySizeRange},
        Bad{8448, hex("010001"), code::kKeySizeRange},
        Bad{1024, hex("010000"), code::kAttributeValueInvalid},
        Bad{1024, hex("01"), code::kAttributeValueInvalid},
        Bad{1024, Bytes(9, 0xFF), code::kAttributeValueInvalid}})
    EXPECT_EQ(eng::generate_rsa(b.bits, b.e, k), b.code) << b.bits;

  for (uint8_t type : {uint8_t{21}, uint8_t{19}}) {  // 3DES, DES
    ASSERT_EQ(eng::generate_secret(type, 24, k), 0u);
    for (uint8_t b : k.bytes()) EXPECT_EQ(std::popcount(b) % 2, 1);
  }
  Bytes a(k.bytes().begin(), k.bytes().end());
  ASSERT_EQ(eng::generate_secret(21, 24, k), 0u);
  EXPECT_NE(Bytes(k.bytes().begin(), k.bytes().end()), a);
  EXPECT_EQ(eng::generate_secret(31, 0, k), code::kKeySizeRange);
  EXPECT_EQ(eng::generate_secret(16, 4097, k), code::kKeySizeRange);
}

TEST(EngineKeyOf, ObjectsGiveTheirKeys) {
  namespace obj = hsmsim::hsm::obj;
  Key ref = openssl_key("EC", "P-256");
  obj::Object priv;
  priv.attrs[obj::attr::kClass] = {obj::key_class::kPrivate};
  priv.attrs[obj::attr::kKeyType] = {obj::key_type::kEc};
  priv.attrs[obj::attr::kModulusBits] = obj::kept_number(NID_X9_62_prime256v1);
  priv.key = hsmsim::hsm::Secret(eng::private_value(ref));
  priv.public_data = eng::public_data(ref);
  obj::Object pub = priv;
  pub.attrs[obj::attr::kClass] = {obj::key_class::kPublic};
  obj::Object secret;
  secret.attrs[obj::attr::kClass] = {obj::key_class::kSecret};
  secret.attrs[obj::attr::kKeyType] = {obj::key_type::kAes};
  secret.key = hsmsim::hsm::Secret(hex("000102030405060708090a0b0c0d0e0f"));

  Key k;
  ASSERT_EQ(eng::key_of(priv, k), 0u);
  EXPECT_TRUE(k.has_private());
  EXPECT_EQ(eng::public_data(k), priv.public_data);
  ASSERT_EQ(eng::key_of(pub, k), 0u);
  EXPECT_FALSE(k.has_private());
  ASSERT_EQ(eng::key_of(secret, k), 0u);
  EXPECT_EQ(k.kind(), eng::Kind::Secret);
  EXPECT_EQ(k.bits(), 128u);

  priv.attrs[obj::attr::kModulusBits] = obj::kept_number(NID_secp384r1);  // the wrong curve
  EXPECT_EQ(eng::key_of(priv, k), code::kKeyTypeInconsistent);
  pub.public_data.clear();
  EXPECT_EQ(eng::key_of(pub, k), code::kKeyTypeInconsistent);
}

TEST(EnginePrimitives, PublishedVectors) {
  Bytes out, tag;
  // FIPS 180-2 "abc"; RFC 4231 case 2.
  ASSERT_EQ(eng::digest(eng::digest_name(3), text("abc"), out), 0u);
  EXPECT_EQ(out, hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  ASSERT_EQ(eng::hmac("SHA256", text("Jefe"), text("what do ya want for nothing?"), out), 0u);
  EXPECT_EQ(out, hex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
  // Incremental, copied half-way.
  eng::Digest d("SHA256");
  d.update(text("a"));
  eng::Digest copy(d);
  copy.update(text("bc"));
  ASSERT_EQ(copy.finish(out), 0u);
  EXPECT_EQ(out, hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  // RFC 4493 example 2.
  ASSERT_EQ(eng::cmac_aes(hex("2b7e151628aed2a6abf7158809cf4f3c"),
                          hex("6bc1bee22e409f96e93d7e117393172a"), out),
            0u);
  EXPECT_EQ(out, hex("070a16b46b4d4144f79bdd9dd04a287c"));
  // RFC 3394 4.1: a 128-bit key wrapped with a 128-bit KEK, and back.
  Bytes kek = hex("000102030405060708090a0b0c0d0e0f"),
        key = hex("00112233445566778899aabbccddeeff");
  ASSERT_EQ(eng::cipher(eng::aes_name(16, "wrap"), kek, {}, true, false, key, out), 0u);
  EXPECT_EQ(out, hex("1fa68b0a8112b447aef34bd8fb5a7b829d3e862371d2cfe5"));
  Bytes back;
  ASSERT_EQ(eng::cipher("id-aes128-wrap", kek, {}, false, false, out, back), 0u);
  EXPECT_EQ(back, key);
  out[3] ^= 1;
  EXPECT_EQ(eng::cipher("id-aes128-wrap", kek, {}, false, false, out, back),
            code::kSignatureMismatch);
  // GCM test case 2 (zero key, IV and block); a changed tag fails.
  Bytes z16(16, 0), z12(12, 0);
  ASSERT_EQ(eng::gcm_encrypt("AES-128-GCM", z16, z12, {}, z16, 16, out, tag), 0u);
  EXPECT_EQ(out, hex("0388dace60b6a392f328c2b971b2fe78"));
  EXPECT_EQ(tag, hex("ab6e47d42cec13bdf53a67b21257bddf"));
  ASSERT_EQ(eng::gcm_decrypt("AES-128-GCM", z16, z12, {}, out, tag, back), 0u);
  EXPECT_EQ(back, z16);
  tag[0] ^= 1;
  EXPECT_EQ(eng::gcm_decrypt("AES-128-GCM", z16, z12, {}, out, tag, back),
            code::kSignatureMismatch);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(eng::gcm_encrypt("AES-128-GCM", Bytes(15, 0), z12, {}, z16, 16, out, tag),
            code::kBadGcmKeyLength);
  // 4^13 mod 497.
  ASSERT_EQ(eng::modexp(hex("04"), hex("0d"), hex("01f1"), out), 0u);
  EXPECT_EQ(out, hex("01bd"));
  EXPECT_EQ(eng::modexp(hex("04"), hex("0d"), hex("01f0"), out), code::kBadLength);
}

// The TLS PRF of every version family: the SHA-256 vector published with
// RFC 5246's PRF (100 bytes of "test label"), and outputs of the PRF the
// stand-in computed by hand before it used OpenSSL's TLS1-PRF: TLS 1.0/1.1
// over odd and even secrets (the halves share the middle byte when odd),
// the TLS 1.2 hashes SHA-384, SHA-512 and SHA-224.
TEST(EnginePrimitives, TlsPrfKnownAnswers) {
  namespace tls = hsmsim::hsm::tls;
  auto pattern = [](size_t n, uint8_t start) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(start + 7 * i);
    return b;
  };
  struct Case {
    uint32_t version;
    const char *md, *label;
    Bytes secret, seed;
    const char *expect;
  };
  const Case cases[] = {
      {tls::ver::kTls12, "SHA256", "test label", hex("9bbe436ba940f017b17652849a71db35"),
       hex("a0ba9f936cda311827a6f796ffd5198c"),
       "e3f229ba727be17b8d122620557cd453c2aab21d07c3d495329b52d4e61edb5a6b301791e90d35c9c9a46b4e1"
       "4baf9af0fa022f7077def17abfd3797c0564bab4fbc91666e9def9b97fce34f796789baa48082d122ee42c5a7"
       "2e5a5110fff70187347b66"},
      {tls::ver::kTls10, nullptr, "key expansion", pattern(47, 3), pattern(64, 100),
       "3cfcefeb1ffdf0f04394681e745fcefbb1b9eb9e18249b9e915c458e8e38c5a62188eca3ecc661b0ca6552cb4"
       "d65a8f9bc4dc3dff41d03fe84a5a89c866609b5d2d57e5cefa3fd51a741fb23f0f00860f921f9093cfff0e6ad"
       "adbb6c628396189cf8281706837d3b"},
      {tls::ver::kTls11, nullptr, "master secret", pattern(48, 3), pattern(64, 100),
       "0575b0c61d8480f820326866fafd2be1c8bd883d71021f876954e0138421a8950a422ff220e1d33c0b745471e"
       "70a5498"},
      {tls::ver::kTls12, "SHA384", "client finished", pattern(48, 3), pattern(48, 9),
       "99fe6ca8fa31a440f3f870c1"},
      {tls::ver::kDtls12, "SHA512", "key expansion", pattern(33, 5), pattern(64, 1),
       "03c74ea91ffe5af13975054d924f7457bcc9c9190fe6ef0b3200f8330e06652155e5bea60b1596ab71d2e3ecd"
       "abc3ee64e1b668f331b88d19485f677e5342617ef4362b8a3145519"},
      {tls::ver::kTls12, "SHA224", "key expansion", pattern(1, 5), pattern(64, 1),
       "cd14c5a83909542af0dc85b2f5d1cac6151849d9245add90a57f8e0c4b6d7c7ee6e01ac8901779d7"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes want = hex(c.expect);
    EXPECT_EQ(tls::prf(c.version, c.md, c.secret, c.label, c.seed, want.size()), want);
  }
  Bytes out;
  EXPECT_EQ(eng::tls1_prf("no-such-digest", hex("01"), text("x"), 12, out),
            code::kUnsupportedOpcode);
}

TEST(EnginePrimitives, CipherLengthsAndPadding) {
  Bytes key(16, 1), iv(16, 2), out, back;
  struct Case {
    const char *name;
    Bytes key, iv;
    bool pad;
    size_t len;
    uint32_t code;
  };
  for (const auto &c :
       {Case{"AES-128-CBC", key, iv, false, 32, 0}, Case{"AES-128-CBC", key, iv, true, 20, 0},
        Case{"AES-128-CBC", key, iv, false, 20, code::kBadLength},
        Case{"AES-128-CBC", Bytes(15, 1), iv, false, 16, code::kBadLength},
        Case{"AES-128-CBC", key, Bytes(8, 1), false, 16, code::kBadLength},
        Case{"AES-128-CTR", key, iv, false, 7, 0},
        Case{"DES-EDE3-CBC", Bytes(24, 3), Bytes(8, 4), false, 16, 0},
        Case{"NO-SUCH-CIPHER", key, iv, false, 16, code::kUnsupportedOpcode}}) {
    SCOPED_TRACE(c.name);
    Bytes data(c.len, 9);
    ASSERT_EQ(eng::cipher(c.name, c.key, c.iv, true, c.pad, data, out), c.code);
    if (c.code) continue;
    ASSERT_EQ(eng::cipher(c.name, c.key, c.iv, false, c.pad, out, back), 0u);
    EXPECT_EQ(back, data);
  }
  // A padding that does not decode.
  ASSERT_EQ(eng::cipher("AES-128-CBC", key, iv, true, false, Bytes(16, 0), out), 0u);
  EXPECT_EQ(eng::cipher("AES-128-CBC", key, iv, false, true, out, back), code::kBadPkcsData);
}

TEST(EnginePrimitives, RsaPaddingsSignaturesAndAgreement) {
  Key k;
  ASSERT_EQ(eng::generate_rsa(2048, hex("010001"), k), 0u);
  Key pub;
  ASSERT_EQ(eng::rsa_public_from(eng::rsa_modulus(k), eng::rsa_exponent(k), pub), 0u);
  Bytes ct, pt, sig;
  eng::RsaPadding oaep{RSA_PKCS1_OAEP_PADDING, "SHA256"};
  Bytes label_l = text("L"), label_m = text("M");  // the padding only points at its label
  oaep.label = label_l;
  ASSERT_EQ(eng::rsa_encrypt(pub, oaep, text("secret"), ct), 0u);
  ASSERT_EQ(eng::rsa_decrypt(k, oaep, ct, pt), 0u);
  EXPECT_EQ(pt, text("secret"));
  eng::RsaPadding other_label = oaep;
  other_label.label = label_m;
  EXPECT_EQ(eng::rsa_decrypt(k, other_label, ct, pt), code::kBadPkcsData);
  EXPECT_EQ(eng::rsa_decrypt(pub, oaep, ct, pt), code::kKeyTypeInconsistent);

  // Raw RSA is the modular exponentiation with the private exponent.
  Bytes block(256, 0);
  block[255] = 5;
  ASSERT_EQ(eng::rsa_decrypt(k, {RSA_NO_PADDING}, block, pt), 0u);
  Bytes d = param(k.pkey(), OSSL_PKEY_PARAM_RSA_D), n = eng::rsa_modulus(k), viaexp;
  ASSERT_EQ(eng::modexp(block, d, n, viaexp), 0u);
  EXPECT_EQ(pt, viaexp);

  eng::RsaPadding pss{RSA_PKCS1_PSS_PADDING, "SHA256"};
  pss.salt_len = 32;
  ASSERT_EQ(eng::sign_message(k, "SHA256", pss, text("m"), sig), 0u);
  EXPECT_EQ(eng::verify_message(pub, "SHA256", pss, text("m"), sig), 0u);
  EXPECT_EQ(eng::verify_message(pub, "SHA256", {}, text("m"), sig), code::kSignatureMismatch);

  // ECDSA signature forms and ECDH; points by arithmetic.
  Key a = openssl_key("EC", "P-256"), b = openssl_key("EC", "P-256");
  Bytes digest(32, 1), raw, der, s1, s2;
  ASSERT_EQ(eng::sign(a, {}, digest, sig), 0u);
  ASSERT_TRUE(eng::ecdsa_raw(sig, 32, raw));
  EXPECT_EQ(raw.size(), 64u);
  ASSERT_TRUE(eng::ecdsa_der(raw, der));
  EXPECT_EQ(eng::verify(a, {}, digest, der), 0u);
  EXPECT_FALSE(eng::ecdsa_raw(Bytes(5, 0x30), 32, raw));
  ASSERT_EQ(eng::derive(a, b, s1), 0u);
  ASSERT_EQ(eng::derive(b, a, s2), 0u);
  EXPECT_EQ(s1, s2);
  EXPECT_EQ(eng::derive(a, k, s1), code::kKeyTypeInconsistent);

  const int p256 = NID_X9_62_prime256v1;
  Bytes pa = eng::ec_public_point(a), pb = eng::ec_public_point(b), out, dbl, twice, sum;
  ASSERT_EQ(eng::ec_mul(p256, eng::ec_private_scalar(a), {}, out), 0u);
  EXPECT_EQ(out, pa);
  ASSERT_EQ(eng::ec_mul(p256, eng::ec_private_scalar(a), pb, out), 0u);
  EXPECT_EQ(Bytes(out.begin() + 1, out.begin() + 33), s1);  // ECDH is the x of a * B
  ASSERT_EQ(eng::ec_add(p256, pa, {}, dbl), 0u);
  ASSERT_EQ(eng::ec_mul(p256, hex("02"), pa, twice), 0u);
  ASSERT_EQ(eng::ec_add(p256, pa, pa, sum), 0u);
  EXPECT_EQ(dbl, twice);
  EXPECT_EQ(sum, twice);
  Bytes order = param(a.pkey(), "order");
  EXPECT_EQ(eng::ec_mul(p256, order, pa, out), code::kPointAtInfinity);
  pa.back() ^= 1;
  EXPECT_EQ(eng::ec_add(p256, pa, pb, out), code::kBadPublicKey);
  EXPECT_EQ(eng::ec_mul(0, hex("02"), {}, out), code::kUnsupportedCurve);
}

TEST(EnginePrimitives, Sp800108CounterModeIsHmacOfCounterLabelContextAndLength) {
  Bytes key(32, 0x11), label = text("label"), context = text("ctx"), out;
  ASSERT_EQ(eng::kbkdf_counter_hmac("SHA256", key, label, context, 40, out), 0u);
  // K(i) = HMAC(key, [i]32 || label || 00 || context || [L bits]32), concatenated.
  Bytes expect;
  for (uint8_t i = 1; expect.size() < 40; ++i) {
    Bytes in = {0, 0, 0, i};
    in.insert(in.end(), label.begin(), label.end());
    in.push_back(0);
    in.insert(in.end(), context.begin(), context.end());
    for (uint8_t b : {0, 0, 1, 64}) in.push_back(b);  // 320 bits
    Bytes block;
    ASSERT_EQ(eng::hmac("SHA256", key, in, block), 0u);
    expect.insert(expect.end(), block.begin(), block.end());
  }
  expect.resize(40);
  EXPECT_EQ(out, expect);
  EXPECT_EQ(eng::kbkdf_counter_hmac("SHA256", {}, label, context, 16, out), code::kBadLength);
}

TEST(RawForm, ResultsStatusesAndTheDmaBit) {
  using namespace hsmsim::hsm;
  hsmsim::HsmRequest req;
  req.command_type = kCryptoKeyCommand;
  req.output_sizes = {4, 8};
  Bytes handle = hex("0000000000000123");
  req.inputs = {handle};
  Call c(req);
  EXPECT_TRUE(c.raw());
  uint64_t h = 0;
  EXPECT_TRUE(c.key_handle(0, h));
  EXPECT_EQ(h, 0x123u);
  EXPECT_FALSE(c.key_handle(1, h));
  EXPECT_TRUE(c.put(0, hex("01020304")));
  EXPECT_TRUE(c.put(1, hex("05")));
  EXPECT_EQ(c.out.payload(), hex("0102030405"));  // no header; segment 0 at full size
  EXPECT_FALSE(c.put(1, Bytes(9, 0)));
  EXPECT_EQ(c.status, code::kResultSize);
  EXPECT_FALSE(c.put(2, hex("00")));
  c.refuse(code::kBadLength);
  EXPECT_EQ(c.status, code::kBadLength);
  EXPECT_TRUE(c.out.payload().empty());

  HandlerTable t;
  Handler fn = [](HsmState &, Call &) {};
  t.add(kCryptoCommand, raw_opcode(major::kHmac, 6), fn);
  t.add(kMgmtCommand, 0x86, fn);
  EXPECT_EQ(t.find(kCryptoCommand, 0x0607), fn);
  EXPECT_EQ(t.find(kCryptoCommand, 0x0687), fn);   // DMA bit set
  EXPECT_EQ(t.find(kMgmtCommand, 0x06), nullptr);  // management opcodes are whole
  EXPECT_EQ(t.find(kMgmtCommand, 0x86), fn);
}

// An HSM state with the crypto user logged in on a session of the default
// partition, for handler steps called directly.
struct LoggedIn {
  hsmsim::hsm::HsmState st;
  hsmsim::hsm::Partition *p = nullptr;
  hsmsim::hsm::Session *s = nullptr;
  LoggedIn() {
    using namespace hsmsim::hsm;
    p = st.partitions.by_name(hsmsim::defaults::kPartition);
    Application *app = p ? st.apps.add(p->index, 7) : nullptr;
    if (!app) return;
    app->login = LoginState{hsmsim::defaults::kUserName, 1};
    s = st.sessions.open(p->index, app_index_of(app->id), 1, 2);
  }
  // A token object of `owner` with that class, key type, value and public data.
  uint64_t add(const char *owner, uint8_t cls, uint8_t type, Bytes value,
               std::map<uint32_t, Bytes> attrs = {}, Bytes public_data = {}) {
    namespace obj = hsmsim::hsm::obj;
    obj::Object o;
    o.partition = p->index;
    o.owner = p->find_user(owner)->id;
    o.attrs = std::move(attrs);
    o.attrs[obj::attr::kClass] = {cls};
    o.attrs[obj::attr::kKeyType] = {type};
    o.attrs[obj::attr::kToken] = {1};
    o.key = hsmsim::hsm::Secret(std::move(value));
    o.public_data = std::move(public_data);
    return st.objects.add(std::move(o));
  }
  static Bytes be64(uint64_t h) {
    Bytes b(8);
    for (int i = 7; i >= 0; --i, h >>= 8) b[i] = static_cast<uint8_t>(h);
    return b;
  }
};

TEST(RawForm, KeySegmentNamesAnObjectTheSessionMayUse) {
  using namespace hsmsim::hsm;
  namespace obj = hsmsim::hsm::obj;
  LoggedIn in;
  ASSERT_TRUE(in.s);
  HsmState &st = in.st;
  Session *s = in.s;

  auto add = [&](const char *owner, Bytes value) {
    return in.add(owner, obj::key_class::kSecret, obj::key_type::kAes, std::move(value));
  };
  auto be64 = LoggedIn::be64;
  uint64_t mine = add(hsmsim::defaults::kUserName, Bytes(16, 0x42));
  uint64_t officers = add(hsmsim::defaults::kOfficerName, Bytes(16, 0x43));
  uint64_t empty = add(hsmsim::defaults::kUserName, {});

  struct Case {
    Bytes segment;
    uint32_t session;
    uint32_t code;
  };
  for (const auto &c : {Case{be64(mine), s->handle, 0},
                        Case{be64(mine | 1ull << 28), s->handle, 0},  // server bits ignored
                        Case{Bytes(4, 0), s->handle, code::kInvalidInput},
                        Case{be64(mine), s->handle + 1, code::kInvalidSession},
                        Case{be64(9999), s->handle, code::kInvalidObjHandle},
                        Case{be64(officers), s->handle, code::kKeyAccessDenied},
                        Case{be64(empty), s->handle, code::kKeyTypeInconsistent}}) {
    hsmsim::HsmRequest req;
    req.command_type = kCryptoKeyCommand;
    req.session_handle = c.session;
    req.inputs = {c.segment};
    req.output_sizes = {16};
    Call call(req);
    eng::Key key;
    EXPECT_EQ(crypto_key(st, call, 0, key), c.code == 0);
    EXPECT_EQ(call.status, c.code);
    if (c.code == 0) {
      EXPECT_EQ(Bytes(key.bytes().begin(), key.bytes().end()), Bytes(16, 0x42));
    }
  }
}

// A key object's engine key is made once, when the object is stored: every
// request gets the same OpenSSL key, and the copy a request took stays
// usable when the object is destroyed meanwhile.
TEST(RawForm, AnObjectsKeyIsMadeOnceAndARequestsCopyOutlivesTheObject) {
  using namespace hsmsim::hsm;
  namespace obj = hsmsim::hsm::obj;
  LoggedIn in;
  ASSERT_TRUE(in.s);
  Key ref = openssl_key("EC", "P-256");
  const uint64_t h = in.add(hsmsim::defaults::kUserName, obj::key_class::kPrivate,
                            obj::key_type::kEc, eng::private_value(ref),
                            {{obj::attr::kModulusBits, obj::kept_number(NID_X9_62_prime256v1)}},
                            eng::public_data(ref));
  const Bytes segment = LoggedIn::be64(h);
  hsmsim::HsmRequest req;
  req.command_type = kCryptoKeyCommand;
  req.session_handle = in.s->handle;
  req.inputs = {segment};
  Key first, second;
  Call c1(req), c2(req);
  ASSERT_TRUE(crypto_key(in.st, c1, 0, first));
  ASSERT_TRUE(crypto_key(in.st, c2, 0, second));
  ASSERT_NE(first.pkey(), nullptr);
  EXPECT_EQ(first.pkey(), second.pkey());

  ASSERT_TRUE(in.st.objects.erase(h));
  second = Key();
  Bytes sig;
  ASSERT_EQ(eng::sign_message(first, "SHA256", {}, text("after the object"), sig), 0u);
  EXPECT_TRUE(openssl_verifies(ref.pkey(), "SHA256", text("after the object"), sig));
  Call gone(req);
  EXPECT_FALSE(crypto_key(in.st, gone, 0, second));
  EXPECT_EQ(gone.status, code::kInvalidObjHandle);
}
