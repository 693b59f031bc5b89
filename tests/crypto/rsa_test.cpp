// RSA on the HSM: PKCS#1 v1.5 signatures per NIST's SigGen file, block type
// 2 and OAEP encryptions decrypted by OpenSSL on the host (and the reverse),
// PSS signatures verified both ways, modular exponentiation against
// BN_mod_exp, the "2" variants' length words (also collected later), the
// requests as framed and the argument checks.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <functional>
#include <string>

#include "crypto_fixture.h"

using namespace crypto_test;

namespace {

Bytes bn_bytes(const BIGNUM *b, size_t width) {
  Bytes out(width);
  BN_bn2binpad(b, out.data(), int(width));
  return out;
}
Bytes param(EVP_PKEY *k, const char *name, size_t width) {
  BIGNUM *b = nullptr;
  EVP_PKEY_get_bn_param(k, name, &b);
  Bytes out = bn_bytes(b, width);
  BN_free(b);
  return out;
}
void append(Bytes &to, const Bytes &b) { to.insert(to.end(), b.begin(), b.end()); }

const Bytes kSha256Info = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                           0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

Bytes sha256(const Bytes &m) {
  Bytes h(32);
  unsigned n = 0;
  EVP_Digest(m.data(), m.size(), h.data(), &n, EVP_sha256(), nullptr);
  return h;
}

class Rsa : public CryptoTest {
 protected:
  void SetUp() override {
    CryptoTest::SetUp();
    if (!key_) key_ = EVP_RSA_gen(2048);
    const size_t m = 256, h = 128;
    n_ = param(key_, OSSL_PKEY_PARAM_RSA_N, m);
    e_ = param(key_, OSSL_PKEY_PARAM_RSA_E, m);
    d_ = param(key_, OSSL_PKEY_PARAM_RSA_D, m);
    Bytes block = n_;
    append(block, d_);
    for (const char *p :
         {OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_FACTOR1,
          OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_COEFFICIENT1})
      append(crt_, param(key_, p, h));
    append(block, crt_);
    append(block, e_);
    priv_ = rsa(3, n_, e_, block);
    pub_ = rsa(2, n_, e_, {});
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(key_);
    key_ = nullptr;
  }

  uint64_t rsa(uint32_t cls, const Bytes &n, const Bytes &e, const Bytes &value) {
    hsmsim::ObjectSeed s;
    std::string exp_text;
    BIGNUM *b = BN_bin2bn(e.data(), int(e.size()), nullptr);
    char *dec = BN_bn2dec(b);
    exp_text = dec;
    OPENSSL_free(dec);
    BN_free(b);
    s.attributes = {hsmsim::ObjectAttr::number(OBJ_ATTR_CLASS, cls),
                    hsmsim::ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 0),
                    hsmsim::ObjectAttr::bytes(OBJ_ATTR_MODULUS, n),
                    cls == 2 ? hsmsim::ObjectAttr::text(OBJ_ATTR_PUBLIC_EXPONENT, exp_text)
                             : hsmsim::ObjectAttr::bytes(OBJ_ATTR_PUBLIC_EXPONENT, e)};
    s.key = value;
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }

  // OpenSSL on the host with the same key.
  Bytes host(bool encrypt, int pad, const EVP_MD *md, const Bytes &in) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr);
    encrypt ? EVP_PKEY_encrypt_init(c) : EVP_PKEY_decrypt_init(c);
    EVP_PKEY_CTX_set_rsa_padding(c, pad);
    if (md) EVP_PKEY_CTX_set_rsa_oaep_md(c, md);
    size_t n = 512;
    Bytes out(n);
    const int ok = encrypt ? EVP_PKEY_encrypt(c, out.data(), &n, in.data(), in.size())
                           : EVP_PKEY_decrypt(c, out.data(), &n, in.data(), in.size());
    EVP_PKEY_CTX_free(c);
    out.resize(ok == 1 ? n : 0);
    return out;
  }

  static EVP_PKEY *key_;
  Bytes n_, e_, d_, crt_;
  uint64_t priv_ = 0, pub_ = 0;
};
EVP_PKEY *Rsa::key_ = nullptr;

TEST_F(Rsa, Pkcs1v15SignaturesPerNist) {
  const char *file = "asymmetric/RSA/FIPS_186-2/SigGen15_186-2.txt";
  std::map<std::string, int> per_mod;
  std::string mod;
  auto recs = load(file, 40, [&](const Record &r) {
    if (r.has("n") || r.has("d")) return true;
    return r["SHAAlg"] == "SHA256" && per_mod[std::to_string(r["Msg"].size()) + mod]++ < 2;
  });
  SKIP_WITHOUT(recs, file);
  Bytes n, e, d;
  int checked = 0;
  for (const auto &r : recs) {
    if (r.has("n")) n = r.bytes("n");
    if (r.has("d")) e = r.bytes("e"), d = r.bytes("d");
    if (!r.has("SHAAlg") || n.size() > 256 || per_mod[std::to_string(n.size())]++ >= 2) continue;
    Bytes block = n;
    append(block, d);
    append(block, Bytes(5 * (n.size() / 2), 0));  // no CRT components
    append(block, e);
    const uint64_t k = rsa(3, n, e, block);
    Bytes info = kSha256Info;
    append(info, sha256(r.bytes("Msg")));
    Bytes sig(n.size());
    ASSERT_EQ(0u, Qel2Pkcs1v15Enc(session_, OSTREL_BLOCKING, k, BT1, Uint16(n.size()),
                                  Uint16(info.size()), info.data(), sig.data(), nullptr));
    EXPECT_EQ(r.bytes("S"), sig) << "mod " << n.size() * 8;
    // Block type 1 "decryption" recovers the DigestInfo with the public exponent.
    Bytes back(n.size());
    Uint16 len = 0;
    ASSERT_EQ(0u, Qel2Pkcs1v15Dec(session_, OSTREL_BLOCKING, k, BT1, Uint16(n.size()), sig.data(),
                                  back.data(), RES_HOST, &len, nullptr));
    back.resize(info.size());
    EXPECT_EQ(info, back);
    ++checked;
  }
  EXPECT_GE(checked, 2);
}

TEST_F(Rsa, BlockType2BothWaysWithOpenSsl) {
  Bytes msg(40, 0x4D), ct(256);
  ASSERT_EQ(0u, Qel2Pkcs1v15Enc(session_, OSTREL_BLOCKING, pub_, BT2, 256, 40, msg.data(),
                                ct.data(), nullptr));
  EXPECT_EQ(msg, host(false, RSA_PKCS1_PADDING, nullptr, ct));
  ASSERT_EQ(0u, Qel2Pkcs1v15CrtEnc(session_, OSTREL_BLOCKING, priv_, BT2, 256, 40, msg.data(),
                                   ct.data(), nullptr));
  EXPECT_EQ(msg, host(false, RSA_PKCS1_PADDING, nullptr, ct));
  // Host-encrypted, decrypted on the HSM: the plain form leaves the length
  // big-endian as sent, the "2" forms in host order.
  Bytes c = host(true, RSA_PKCS1_PADDING, nullptr, msg), out(256);
  Uint16 len16 = 0;
  ASSERT_EQ(0u, Qel2Pkcs1v15Dec(session_, OSTREL_BLOCKING, priv_, BT2, 256, c.data(), out.data(),
                                RES_HOST, &len16, nullptr));
  EXPECT_EQ(0x2800, len16);
  EXPECT_EQ(msg, Bytes(out.begin(), out.begin() + 40));
  len16 = 256;
  ASSERT_EQ(0u, Qel2Pkcs1v15Dec2(session_, OSTREL_BLOCKING, priv_, BT2, 256, c.data(), out.data(),
                                 RES_HOST, &len16, nullptr));
  EXPECT_EQ(40, len16);
  Ulong len = 256;
  ASSERT_EQ(0u, Qel2Pkcs1v15CrtDec2(session_, OSTREL_BLOCKING, priv_, BT2, 256, c.data(),
                                    out.data(), RES_HOST, &len, nullptr));
  EXPECT_EQ(40u, len);
  // A public key cannot decrypt.
  EXPECT_EQ(0x118u, Qel2Pkcs1v15Dec(session_, OSTREL_BLOCKING, pub_, BT2, 256, c.data(), out.data(),
                                    RES_HOST, &len16, nullptr));
  // The "2" encryption: a size query, then the result.
  Ulong need = 0;
  ASSERT_EQ(0u, Qel2Pkcs1v15Enc2(session_, OSTREL_BLOCKING, pub_, BT2, 40, msg.data(), nullptr,
                                 &need, nullptr));
  EXPECT_EQ(256u, need);
  EXPECT_EQ(2, sent_last(d()).rlen);
  ASSERT_EQ(0u, Qel2Pkcs1v15Enc2(session_, OSTREL_BLOCKING, pub_, BT2, 40, msg.data(), ct.data(),
                                 &need, nullptr));
  EXPECT_EQ(msg, host(false, RSA_PKCS1_PADDING, nullptr, ct));
  Ulong small = 100;
  EXPECT_EQ(Uint32(RET_RESULT_SIZE), Qel2Pkcs1v15Enc2(session_, OSTREL_BLOCKING, pub_, BT2, 40,
                                                      msg.data(), ct.data(), &small, nullptr));
  EXPECT_EQ(256u, small);
}

TEST_F(Rsa, OaepBothWaysWithOpenSsl) {
  Bytes msg(100, 0x21), ct(256), out(256);
  ASSERT_EQ(0u, Qel2Pkcs1v22Enc(session_, OSTREL_BLOCKING, pub_, OAEP, SHA256_TYPE, false, 256, 100,
                                msg.data(), ct.data(), nullptr));
  EXPECT_EQ(msg, host(false, RSA_PKCS1_OAEP_PADDING, EVP_sha256(), ct));
  Bytes c = host(true, RSA_PKCS1_OAEP_PADDING, EVP_sha256(), msg);
  Uint32 len_be = 0;
  ASSERT_EQ(0u, Qel2Pkcs1v22Dec(session_, OSTREL_BLOCKING, priv_, OAEP, SHA256_TYPE, true, 256,
                                c.data(), out.data(), &len_be, RES_HOST, nullptr));
  EXPECT_EQ(100u, __builtin_bswap32(len_be));
  EXPECT_EQ(msg, Bytes(out.begin(), out.begin() + 100));
  Ulong len = 256;
  ASSERT_EQ(0u, Qel2Pkcs1v22Dec2(session_, OSTREL_BLOCKING, priv_, OAEP, SHA256_TYPE, false, 256,
                                 c.data(), out.data(), &len, RES_HOST, nullptr));
  EXPECT_EQ(100u, len);
  c[5] ^= 1;
  EXPECT_EQ(0x1Bu, Qel2Pkcs1v22Dec2(session_, OSTREL_BLOCKING, priv_, OAEP, SHA256_TYPE, false, 256,
                                    c.data(), out.data(), &len, RES_HOST, nullptr));
}

TEST_F(Rsa, PssSignedAndVerifiedBothWays) {
  const Bytes h = sha256(Bytes(10, 1));
  Bytes sig(256), dec(256);
  ASSERT_EQ(0u, Qel2Pkcs1v22Sign(session_, OSTREL_BLOCKING, priv_, PSS, SHA256_TYPE, true, 256, 32,
                                 const_cast<Uint8 *>(h.data()), sig.data(), nullptr));
  EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr);
  EVP_PKEY_verify_init(c);
  EVP_PKEY_CTX_set_rsa_padding(c, RSA_PKCS1_PSS_PADDING);
  EVP_PKEY_CTX_set_signature_md(c, EVP_sha256());
  EXPECT_EQ(1, EVP_PKEY_verify(c, sig.data(), sig.size(), h.data(), h.size()));
  EVP_PKEY_CTX_free(c);
  ASSERT_EQ(0u, Qel2Pkcs1v22Verify(session_, OSTREL_BLOCKING, pub_, PSS, SHA256_TYPE, 256, 32,
                                   const_cast<Uint8 *>(h.data()), sig.data(), dec.data(), nullptr));
  EXPECT_EQ(0xBC, dec[255]);  // the encoded message block ends with 0xBC
  Ulong len = 256;
  sig[10] ^= 1;
  EXPECT_EQ(0x12u, Qel2Pkcs1v22Verify2(session_, OSTREL_BLOCKING, pub_, PSS, SHA256_TYPE, 256, 32,
                                       const_cast<Uint8 *>(h.data()), sig.data(), dec.data(), &len,
                                       nullptr));
  Ulong slen = 256;
  ASSERT_EQ(0u, Qel2Pkcs1v22Sign2(session_, OSTREL_BLOCKING, priv_, PSS, SHA256_TYPE, false, 32,
                                  const_cast<Uint8 *>(h.data()), sig.data(), &slen, nullptr));
  EXPECT_EQ(256u, slen);
}

TEST_F(Rsa, ModularExponentiationAgainstBnModExp) {
  Bytes a(256, 0x33), r(256), r_crt(256), r_key(256);
  a[0] = 0x12;
  BIGNUM *ba = BN_bin2bn(a.data(), 256, nullptr), *bd = BN_bin2bn(d_.data(), 256, nullptr),
         *bn = BN_bin2bn(n_.data(), 256, nullptr), *br = BN_new();
  BN_CTX *ctx = BN_CTX_new();
  BN_mod_exp(br, ba, bd, bn, ctx);
  const Bytes want = bn_bytes(br, 256);
  BN_free(ba), BN_free(bd), BN_free(bn), BN_free(br), BN_CTX_free(ctx);
  ASSERT_EQ(0u, Qel2ModExp(session_, OSTREL_BLOCKING, 256, a.data(), 256, d_.data(), 256, n_.data(),
                           r.data(), nullptr));
  EXPECT_EQ(want, r);
  ASSERT_EQ(0u, Qel2ModExpCrt(session_, OSTREL_BLOCKING, 256, a.data(), Uint16(crt_.size()),
                              crt_.data(), 256, n_.data(), r_crt.data(), nullptr));
  EXPECT_EQ(want, r_crt);
  ASSERT_EQ(0u, Qel2ModExpWithKeyOnHSM(session_, OSTREL_BLOCKING, priv_, true, 256, a.data(), 256,
                                       r_key.data(), nullptr));
  EXPECT_EQ(want, r_key);
  // Inputs in the order modulus, exponent, base; the large-modulus major.
  d().clear_captured();
  Qel2ModExp(session_, OSTREL_BLOCKING, 256, a.data(), 3, e_.data() + 253, 256, n_.data(), r.data(),
             nullptr);
  const Request w = sent_last(d());
  EXPECT_EQ(0x0002, w.opcode);
  EXPECT_EQ(1, w.command_type);
  EXPECT_EQ(256, w.param1);
  EXPECT_EQ(3, w.param2);
  EXPECT_EQ(n_, w.input(0));
  EXPECT_EQ(a, w.input(2));
}

TEST_F(Rsa, RequestLayouts) {
  Bytes data(512, 1), out(512);
  Ulong cap = 300;
  Uint16 len16 = 0;
  Uint32 len32 = 0;
  Uint8 ctx_result[8];
  const uint64_t ctx = 0x7000;
  std::memcpy(ctx_result, &ctx, 8);
  const uint64_t k = priv_;
  expect_layout(
      d(),
      {
          {.name = "v1.5 enc 128",
           .call =
               [&] {
                 return Qel2Pkcs1v15Enc(session_, OSTREL_BLOCKING, k, BT2, 128, 117, data.data(),
                                        out.data(), nullptr);
               },
           .command_type = 4,
           .opcode = 0x0304,
           .param1 = 128,
           .param2 = 1,
           .dlen = 125,
           .rlen = 128,
           .ins = {8, 117},
           .outs = {128}},
          {.name = "v1.5 CRT enc 130, block type 5",
           .call =
               [&] {
                 return Qel2Pkcs1v15CrtEnc(session_, OSTREL_BLOCKING, k, RsaBlockType(5), 130, 10,
                                           data.data(), out.data(), nullptr);
               },
           .command_type = 4,
           .opcode = 0x0402,
           .param1 = 130,
           .param2 = 5,
           .dlen = 18,
           .rlen = 130,
           .ins = {8, 10},
           .outs = {130}},
          {.name = "v1.5 enc 2 size query",
           .call =
               [&] {
                 return Qel2Pkcs1v15Enc2(session_, OSTREL_BLOCKING, k, BT2, 10, data.data(),
                                         nullptr, &cap, nullptr);
               },
           .command_type = 4,
           .opcode = 0x0302,
           .param1 = 0,
           .param2 = 1,
           .dlen = 18,
           .rlen = 2,
           .ins = {8, 10},
           .outs = {2},
           .attest = 1},
          {.name = "v1.5 dec to a context",
           .call =
               [&] {
                 return Qel2Pkcs1v15Dec(session_, OSTREL_BLOCKING, k, BT2, 256, data.data(),
                                        ctx_result, RES_CTX, &len16, nullptr);
               },
           .command_type = 7,
           .opcode = 0x0102,
           .param1 = 256,
           .param2 = 1,
           .dlen = 264,
           .rlen = 258,
           .ins = {8, 256},
           .outs = {},
           .ctx_ptr = ctx},
          {.name = "v1.5 dec 2",
           .call =
               [&] {
                 len16 = 300;
                 return Qel2Pkcs1v15Dec2(session_, OSTREL_BLOCKING, k, BT2, 256, data.data(),
                                         out.data(), RES_HOST, &len16, nullptr);
               },
           .command_type = 4,
           .opcode = 0x0102,
           .param1 = 256,
           .param2 = 1,
           .dlen = 264,
           .rlen = 302,
           .ins = {8, 256},
           .outs = {2, 300},
           .attest = 1},
          {.name = "v2.2 enc OAEP SHA-256",
           .call =
               [&] {
                 return Qel2Pkcs1v22Enc(session_, OSTREL_BLOCKING, k, OAEP, SHA256_TYPE, true, 256,
                                        190, data.data(), out.data(), nullptr);
               },
           .command_type = 4,
           .opcode = 0x0804,
           .param1 = 256,
           .param2 = 0x800E,
           .dlen = 198,
           .rlen = 256,
           .ins = {8, 190},
           .outs = {256}},
          {.name = "v2.2 dec SHA-1",
           .call =
               [&] {
                 return Qel2Pkcs1v22Dec(session_, OSTREL_BLOCKING, k, OAEP, SHA1_TYPE, false, 256,
                                        data.data(), out.data(), &len32, RES_HOST, nullptr);
               },
           .command_type = 4,
           .opcode = 0x0004,
           .param1 = 256,
           .param2 = 0x000A,
           .dlen = 264,
           .rlen = 256,
           .ins = {8, 256},
           .outs = {252, 4}},
          {.name = "v2.2 sign SHA-384",
           .call =
               [&] {
                 return Qel2Pkcs1v22Sign(session_, OSTREL_BLOCKING, k, PSS, SHA384_TYPE, false, 256,
                                         48, data.data(), out.data(), nullptr);
               },
           .command_type = 4,
           .opcode = 0x0004,
           .param1 = 256,
           .param2 = 0x8013,
           .dlen = 56,
           .rlen = 256,
           .ins = {8, 48},
           .outs = {256}},
          {.name = "v2.2 verify SHA-512",
           .call =
               [&] {
                 return Qel2Pkcs1v22Verify(session_, OSTREL_BLOCKING, k, PSS, SHA512_TYPE, 256, 64,
                                           data.data(), data.data(), out.data(), nullptr);
               },
           .command_type = 4,
           .opcode = 0x0004,
           .param1 = 256,
           .param2 = 0x0017,
           .dlen = 328,
           .rlen = 256,
           .ins = {8, 256, 64},
           .outs = {256}},
          {.name = "exponentiation with the key",
           .call =
               [&] {
                 return Qel2ModExpWithKeyOnHSM(session_, OSTREL_BLOCKING, k, true, 256, data.data(),
                                               512, out.data(), nullptr);
               },
           .command_type = 4,
           .opcode = 0x0804,
           .param1 = 512,
           .param2 = 0,
           .dlen = 264,
           .rlen = 512,
           .ins = {8, 256},
           .outs = {512}},
      },
      {.attest = 0});
}

TEST_F(Rsa, ArgumentChecks) {
  Bytes data(512), out(512);
  Uint16 len16 = 0;
  Uint32 len32 = 0;
  struct Case {
    const char *name;
    std::function<Uint32()> call;
    Uint32 want;
  };
  const Case cases[] = {
      {"v1.5 data too long",
       [&] {
         return Qel2Pkcs1v15Enc(session_, OSTREL_BLOCKING, 16, BT2, 128, 118, data.data(),
                                out.data(), nullptr);
       },
       ERR_DATA_LEN_RANGE},
      {"v1.5 modulus 513",
       [&] {
         return Qel2Pkcs1v15Enc(session_, OSTREL_BLOCKING, 16, BT2, 513, 10, data.data(),
                                out.data(), nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"v1.5 modulus 16",
       [&] {
         return Qel2Pkcs1v15Enc(session_, OSTREL_BLOCKING, 16, BT2, 16, 1, data.data(), out.data(),
                                nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"v1.5 block type 2",
       [&] {
         return Qel2Pkcs1v15Enc(session_, OSTREL_BLOCKING, 16, OAEP, 128, 10, data.data(),
                                out.data(), nullptr);
       },
       ERR_ILLEGAL_BLOCK_TYPE},
      {"v1.5 CRT odd modulus",
       [&] {
         return Qel2Pkcs1v15CrtEnc(session_, OSTREL_BLOCKING, 16, BT2, 129, 10, data.data(),
                                   out.data(), nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"v1.5 dec block type",
       [&] {
         return Qel2Pkcs1v15Dec(session_, OSTREL_BLOCKING, 16, OAEP, 128, data.data(), out.data(),
                                RES_HOST, &len16, nullptr);
       },
       ERR_ILLEGAL_BLOCK_TYPE},
      {"v1.5 CRT dec non-blocking without id",
       [&] {
         return Qel2Pkcs1v15CrtDec(session_, OSTREL_NON_BLOCKING, 16, BT2, 128, data.data(),
                                   out.data(), RES_HOST, &len16, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"v1.5 dec 2 without length",
       [&] {
         return Qel2Pkcs1v15Dec2(session_, OSTREL_BLOCKING, 16, BT2, 128, data.data(), out.data(),
                                 RES_HOST, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"v1.5 dec to a context without a buffer",
       [&] {
         return Qel2Pkcs1v15Dec(session_, OSTREL_BLOCKING, 16, BT2, 128, data.data(), nullptr,
                                RES_CTX, &len16, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"v2.2 OAEP data too long",
       [&] {
         return Qel2Pkcs1v22Enc(session_, OSTREL_BLOCKING, 16, OAEP, SHA256_TYPE, false, 256, 191,
                                data.data(), out.data(), nullptr);
       },
       ERR_DATA_LEN_RANGE},
      {"v2.2 dec not OAEP",
       [&] {
         return Qel2Pkcs1v22Dec(session_, OSTREL_BLOCKING, 16, PSS, SHA1_TYPE, false, 256,
                                data.data(), out.data(), &len32, RES_HOST, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"v2.2 dec modulus 3",
       [&] {
         return Qel2Pkcs1v22Dec(session_, OSTREL_BLOCKING, 16, OAEP, SHA1_TYPE, false, 3,
                                data.data(), out.data(), &len32, RES_HOST, nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"v2.2 dec modulus 513",
       [&] {
         return Qel2Pkcs1v22Dec(session_, OSTREL_BLOCKING, 16, OAEP, SHA1_TYPE, false, 513,
                                data.data(), out.data(), &len32, RES_HOST, nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"v2.2 sign not PSS",
       [&] {
         return Qel2Pkcs1v22Sign(session_, OSTREL_BLOCKING, 16, OAEP, SHA256_TYPE, false, 256, 32,
                                 data.data(), out.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"v2.2 sign hash length",
       [&] {
         return Qel2Pkcs1v22Sign(session_, OSTREL_BLOCKING, 16, PSS, SHA384_TYPE, false, 256, 32,
                                 data.data(), out.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"v2.2 verify 2 without length",
       [&] {
         return Qel2Pkcs1v22Verify2(session_, OSTREL_BLOCKING, 16, PSS, SHA256_TYPE, 256, 32,
                                    data.data(), data.data(), out.data(), nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"modexp modulus 16",
       [&] {
         return Qel2ModExp(session_, OSTREL_BLOCKING, 16, data.data(), 3, data.data(), 16,
                           data.data(), out.data(), nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"modexp non-blocking without id",
       [&] {
         return Qel2ModExp(session_, OSTREL_NON_BLOCKING, 16, data.data(), 3, data.data(), 64,
                           data.data(), out.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"key exponentiation non-blocking without id",
       [&] {
         return Qel2ModExpWithKeyOnHSM(session_, OSTREL_NON_BLOCKING, 16, false, 16, data.data(),
                                       16, out.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
  };
  for (const auto &c : cases) EXPECT_EQ(c.want, c.call()) << c.name;
  EXPECT_EQ(0u, sent_count(d()));
}

// The length words of non-blocking "2" requests reach the callers' lengths
// when the requests are collected, out of order; nothing is written into
// the frames that sent them.
TEST_F(Rsa, NonBlockingLengthWordsConvertedOnCollection) {
  Bytes msg(30, 7), c = host(true, RSA_PKCS1_PADDING, nullptr, msg);
  const Bytes h = sha256(msg);
  std::vector<Bytes> outs(6, Bytes(256));
  std::vector<Ulong> lens(6, 256);
  Uint16 len16 = 256;
  std::vector<Uint32> ids(6);
  auto issue = [&](int i) -> Uint32 {
    switch (i) {
      case 0:
        return Qel2Pkcs1v15Enc2(session_, OSTREL_NON_BLOCKING, pub_, BT2, 30, msg.data(),
                                outs[0].data(), &lens[0], &ids[0]);
      case 1:
        return Qel2Pkcs1v15Dec2(session_, OSTREL_NON_BLOCKING, priv_, BT2, 256, c.data(),
                                outs[1].data(), RES_HOST, &len16, &ids[1]);
      case 2:
        return Qel2Pkcs1v15CrtDec2(session_, OSTREL_NON_BLOCKING, priv_, BT2, 256, c.data(),
                                   outs[2].data(), RES_HOST, &lens[2], &ids[2]);
      case 3:
        return Qel2Pkcs1v22Sign2(session_, OSTREL_NON_BLOCKING, priv_, PSS, SHA256_TYPE, true, 32,
                                 const_cast<Uint8 *>(h.data()), outs[3].data(), &lens[3], &ids[3]);
      case 4:
        return Qel2Pkcs1v22Enc2(session_, OSTREL_NON_BLOCKING, pub_, OAEP, SHA1_TYPE, false, 30,
                                msg.data(), nullptr, &lens[4], &ids[4]);
      default:
        return Qel2Pkcs1v15Enc2(session_, OSTREL_NON_BLOCKING, pub_, BT2, 30, msg.data(), nullptr,
                                &lens[5], &ids[5]);
    }
  };
  for (int i = 0; i < 6; ++i) ASSERT_EQ(Uint32(ERR_REQUEST_PENDING), issue(i)) << i;
  EXPECT_EQ(256u, lens[0]);  // untouched until collected
  EXPECT_EQ(256, len16);
  for (int i : {4, 1, 5, 0, 3, 2}) EXPECT_EQ(0u, collect(ids[i])) << i;
  EXPECT_EQ(256u, lens[0]);
  EXPECT_EQ(30, len16);
  EXPECT_EQ(30u, lens[2]);
  EXPECT_EQ(256u, lens[3]);
  EXPECT_EQ(256u, lens[4]);
  EXPECT_EQ(256u, lens[5]);
  EXPECT_EQ(msg, Bytes(outs[1].begin(), outs[1].begin() + 30));
  EXPECT_EQ(msg, host(false, RSA_PKCS1_PADDING, nullptr, outs[0]));
}

}  // namespace
