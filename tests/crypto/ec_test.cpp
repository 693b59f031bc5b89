// Elliptic-curve points and ECDSA: NIST signatures with the file's k (P-224
// to P-521, exact-size buffers for the 28- and 66-byte coordinates),
// signatures with a fresh k verified by OpenSSL on the host, point
// arithmetic against OpenSSL, the requests as framed and the checks.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <functional>
#include <string>

#include "crypto_fixture.h"
#include "request/app_state.h"

using namespace crypto_test;

namespace {

struct CurveCase {
  CurveId cid;
  int nid;
  const char *section;
  const EVP_MD *(*md)();
};
const CurveCase kCurves[] = {{P224, NID_secp224r1, "P-224,SHA-224", EVP_sha224},
                             {P256, NID_X9_62_prime256v1, "P-256,SHA-256", EVP_sha256},
                             {P384, NID_secp384r1, "P-384,SHA-384", EVP_sha384},
                             {P521, NID_secp521r1, "P-521,SHA-512", EVP_sha512}};

Bytes digest(const EVP_MD *md, const Bytes &m) {
  Bytes h(EVP_MD_get_size(md));
  unsigned n = 0;
  EVP_Digest(m.data(), m.size(), h.data(), &n, md, nullptr);
  return h;
}

// An exactly sized heap copy: any access past it is an ASan error.
struct Exact {
  std::unique_ptr<Uint8[]> p;
  size_t n;
  explicit Exact(const Bytes &b) : p(new Uint8[b.size() ? b.size() : 1]), n(b.size()) {
    std::copy(b.begin(), b.end(), p.get());
  }
  explicit Exact(size_t len) : p(new Uint8[len]()), n(len) {}
  Uint8 *get() { return p.get(); }
  Bytes bytes() const { return Bytes(p.get(), p.get() + n); }
};

Bytes prime_of(int nid) {
  EC_GROUP *g = EC_GROUP_new_by_curve_name(nid);
  BIGNUM *p = BN_new();
  EC_GROUP_get_curve(g, p, nullptr, nullptr, nullptr);
  Bytes out(BN_num_bytes(p));
  BN_bn2bin(p, out.data());
  BN_free(p);
  EC_GROUP_free(g);
  return out;
}

// k * G on the host, as X and Y of the field's width.
std::pair<Bytes, Bytes> host_mul(int nid, const Bytes &k) {
  EC_GROUP *g = EC_GROUP_new_by_curve_name(nid);
  EC_POINT *r = EC_POINT_new(g);
  BIGNUM *bk = BN_bin2bn(k.data(), int(k.size()), nullptr), *x = BN_new(), *y = BN_new();
  EC_POINT_mul(g, r, bk, nullptr, nullptr, nullptr);
  EC_POINT_get_affine_coordinates(g, r, x, y, nullptr);
  const size_t w = (EC_GROUP_get_degree(g) + 7) / 8;
  Bytes bx(w), by(w);
  BN_bn2binpad(x, bx.data(), int(w));
  BN_bn2binpad(y, by.data(), int(w));
  BN_free(bk), BN_free(x), BN_free(y), EC_POINT_free(r), EC_GROUP_free(g);
  return {bx, by};
}

class Ec : public CryptoTest {
 protected:
  uint64_t ec_key(int nid, const Bytes &priv, const Bytes &qx, const Bytes &qy) {
    hsmsim::ObjectSeed s;
    s.attributes = {hsmsim::ObjectAttr::number(OBJ_ATTR_CLASS, 3),
                    hsmsim::ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 3),
                    hsmsim::ObjectAttr::number(OBJ_ATTR_MODULUS_BITS, uint32_t(nid))};
    s.key = priv;
    s.public_data = {0x04};
    append(s.public_data, qx);
    append(s.public_data, qy);
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }
  static void append(Bytes &a, const Bytes &b) { a.insert(a.end(), b.begin(), b.end()); }
};

TEST_F(Ec, NistSignaturesWithTheFilesK) {
  const char *file = "asymmetric/ECDSA/FIPS_186-3/SigGen.txt";
  for (const auto &cc : kCurves) {
    auto recs = load(file, 2, [&](const Record &r) { return r.section == cc.section; });
    SKIP_WITHOUT(recs, file);
    for (const auto &r : recs) {
      const Bytes qx = r.bytes("Qx"), qy = r.bytes("Qy");
      const uint64_t key = ec_key(cc.nid, r.bytes("d"), qx, qy);
      const uint32_t plen = get_prime_length(cc.cid);
      Exact k(r.bytes("k")), h(digest(cc.md(), r.bytes("Msg"))), rr(plen), ss(plen);
      ASSERT_EQ(0u, Qel2ECDSASign(session_, OSTREL_BLOCKING, cc.cid, key, k.get(), Uint16(k.n),
                                  h.get(), Uint16(h.n), rr.get(), ss.get(), nullptr))
          << cc.section;
      EXPECT_EQ(r.bytes("R"), rr.bytes()) << cc.section;
      EXPECT_EQ(r.bytes("S"), ss.bytes()) << cc.section;
      Exact x(qx), y(qy);
      EXPECT_EQ(0u, Qel2ECDSAVerify(session_, OSTREL_BLOCKING, cc.cid, x.get(), y.get(), h.get(),
                                    Uint16(h.n), rr.get(), ss.get(), nullptr));
      EXPECT_EQ(0u, Qel2ECDSAVerify2(session_, OSTREL_BLOCKING, Uint16(plen), key, h.get(),
                                     Uint16(h.n), rr.get(), ss.get(), 0, nullptr));
      // The "2" form: the prime length in, the length of r back.
      Uint16 plen2 = Uint16(plen);
      Exact r2(plen), s2(plen);
      ASSERT_EQ(0u, Qel2ECDSASign2(session_, OSTREL_BLOCKING, key, k.get(), &plen2, h.get(),
                                   Uint16(h.n), r2.get(), s2.get(), nullptr));
      EXPECT_EQ(plen, plen2);
      EXPECT_EQ(r.bytes("S"), s2.bytes());
      ss.get()[0] ^= 1;
      EXPECT_EQ(0x12u, Qel2ECDSAVerify(session_, OSTREL_BLOCKING, cc.cid, x.get(), y.get(), h.get(),
                                       Uint16(h.n), rr.get(), ss.get(), nullptr));
    }
  }
}

TEST_F(Ec, FreshSignatureVerifiedByOpenSsl) {
  EVP_PKEY *pk = EVP_EC_gen("P-256");
  BIGNUM *bd = nullptr;
  EVP_PKEY_get_bn_param(pk, OSSL_PKEY_PARAM_PRIV_KEY, &bd);
  Bytes d(32);
  BN_bn2binpad(bd, d.data(), 32);
  BN_free(bd);
  auto q = host_mul(NID_X9_62_prime256v1, d);
  const uint64_t key = ec_key(NID_X9_62_prime256v1, d, q.first, q.second);
  Bytes k(32), h = digest(EVP_sha256(), Bytes(7, 7)), r(32), s(32);
  ASSERT_EQ(0u, Qel2Random(session_, OSTREL_BLOCKING, 32, k.data(), nullptr));
  k[0] &= 0x7F;  // below the order
  ASSERT_EQ(0u, Qel2ECDSASign(session_, OSTREL_BLOCKING, P256, key, k.data(), 32, h.data(), 32,
                              r.data(), s.data(), nullptr));
  ECDSA_SIG *sig = ECDSA_SIG_new();
  ECDSA_SIG_set0(sig, BN_bin2bn(r.data(), 32, nullptr), BN_bin2bn(s.data(), 32, nullptr));
  unsigned char *der = nullptr;
  const int der_len = i2d_ECDSA_SIG(sig, &der);
  EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_pkey(nullptr, pk, nullptr);
  EVP_PKEY_verify_init(c);
  EXPECT_EQ(1, EVP_PKEY_verify(c, der, size_t(der_len), h.data(), h.size()));
  EVP_PKEY_CTX_free(c);
  OPENSSL_free(der);
  ECDSA_SIG_free(sig);
  EVP_PKEY_free(pk);
}

TEST_F(Ec, PointArithmeticAgainstOpenSsl) {
  for (const auto &cc : kCurves) {
    const uint32_t plen = get_prime_length(cc.cid);
    auto g = host_mul(cc.nid, {1}), g2 = host_mul(cc.nid, {2}), g3 = host_mul(cc.nid, {3}),
         g5 = host_mul(cc.nid, {5});
    Exact prime(prime_of(cc.nid)), gx(g.first), gy(g.second), g2x(g2.first), g2y(g2.second);
    Exact x(plen), y(plen);
    ASSERT_EQ(0u, Qel2PointDouble(session_, OSTREL_BLOCKING, cc.cid, prime.get(), gx.get(),
                                  gy.get(), x.get(), y.get(), nullptr));
    EXPECT_EQ(g2.first, x.bytes());
    EXPECT_EQ(g2.second, y.bytes());
    ASSERT_EQ(0u, Qel2PointAdd(session_, OSTREL_BLOCKING, cc.cid, prime.get(), gx.get(), gy.get(),
                               g2x.get(), g2y.get(), x.get(), y.get(), nullptr));
    EXPECT_EQ(g3.first, x.bytes());
    Exact five(Bytes{5});
    ASSERT_EQ(0u, Qel2PointMul(session_, OSTREL_BLOCKING, cc.cid, prime.get(), five.get(), 1,
                               gx.get(), gy.get(), x.get(), y.get(), nullptr));
    EXPECT_EQ(g5.first, x.bytes());
    EXPECT_EQ(g5.second, y.bytes());
    // With the private key of a key object: d * G is its public point.
    const uint64_t key = ec_key(cc.nid, {3}, g3.first, g3.second);
    ASSERT_EQ(0u, Qel2PointMulWithScalarOnHSM(session_, OSTREL_BLOCKING, cc.cid, prime.get(), key,
                                              gx.get(), gy.get(), x.get(), y.get(), nullptr));
    EXPECT_EQ(g3.second, y.bytes());
  }
}

TEST_F(Ec, RequestLayouts) {
  Bytes buf(128, 0), out(128), h(64, 0xAB), k(66, 1);
  const uint64_t key = 0x1234;
  Uint16 plen = 32;
  global_dma_mode = OSTREL_SCATTER_GATHER;
  expect_layout(
      d(),
      {
          {.name = "P-521 add",
           .call =
               [&] {
                 return Qel2PointAdd(session_, OSTREL_BLOCKING, P521, buf.data(), buf.data(),
                                     buf.data(), buf.data(), buf.data(), out.data(), out.data(),
                                     nullptr);
               },
           .command_type = 1,
           .opcode = 0x009E,
           .param1 = 4,
           .param2 = 0,
           .dlen = 360,
           .rlen = 144,
           .ins = {{72, 66}, {72, 66}, {72, 66}, {72, 66}, {72, 66}},
           .outs = {{72, 66}, {72, 66}}},
          {.name = "P-256 mul, 20-byte scalar",
           .call =
               [&] {
                 return Qel2PointMul(session_, OSTREL_BLOCKING, P256, buf.data(), buf.data(), 20,
                                     buf.data(), buf.data(), out.data(), out.data(), nullptr);
               },
           .command_type = 1,
           .opcode = 0x209E,
           .param1 = 2,
           .param2 = 20,
           .dlen = 120,
           .rlen = 64,
           .ins = {{32, 32}, {32, 32}, {24, 20}, {32, 32}},
           .outs = {{32, 32}, {32, 32}}},
          {.name = "P-256 sign, SHA-512 hash",
           .call =
               [&] {
                 return Qel2ECDSASign(session_, OSTREL_BLOCKING, P256, key, k.data(), 32, h.data(),
                                      64, out.data(), out.data(), nullptr);
               },
           .command_type = 4,
           .opcode = 0x601E,
           .param1 = 0x2002,
           .param2 = 0,
           .dlen = 80,
           .rlen = 64,
           .ins = {{8, 8}, {32, 32}, {8, 8}, {32, 32}},
           .outs = {{32, 32}, {32, 32}}},
          {.name = "P-384 sign, SHA-1 hash",
           .call =
               [&] {
                 return Qel2ECDSASign(session_, OSTREL_BLOCKING, P384, key, k.data(), 48, h.data(),
                                      20, out.data(), out.data(), nullptr);
               },
           .command_type = 4,
           .opcode = 0x601E,
           .param1 = 0x3003,
           .param2 = 0,
           .dlen = 88,
           .rlen = 96,
           .ins = {{8, 8}, {48, 48}, {8, 8}, {24, 20}},
           .outs = {{48, 48}, {48, 48}}},
          {.name = "sign 2 without r and s",
           .call =
               [&] {
                 return Qel2ECDSASign2(session_, OSTREL_BLOCKING, key, k.data(), &plen, h.data(),
                                       32, nullptr, nullptr, nullptr);
               },
           .command_type = 4,
           .opcode = 0x601E,
           .param1 = 0x2000,
           .param2 = 0,
           .dlen = 80,
           .rlen = 66,
           .ins = {{8, 8}, {32, 32}, {8, 8}, {32, 32}},
           .outs = {{2, 2}}},
          {.name = "verify 2, checks only",
           .call =
               [&] {
                 return Qel2ECDSAVerify2(session_, OSTREL_BLOCKING, 0, key, nullptr, 0, nullptr,
                                         nullptr, 1, nullptr);
               },
           .command_type = 4,
           .opcode = 0x701E,
           .param1 = 0,
           .param2 = 0,
           .dlen = 16,
           .rlen = 0,
           .ins = {{8, 8}, {0, 0}, {0, 0}, {8, 8}, {0, 0}},
           .outs = {}},
          {.name = "P-224 verify",
           .call =
               [&] {
                 return Qel2ECDSAVerify(session_, OSTREL_BLOCKING, P224, buf.data(), buf.data(),
                                        h.data(), 28, buf.data(), buf.data(), nullptr);
               },
           .command_type = 1,
           .opcode = 0x701E,
           .param1 = 0x1C01,
           .param2 = 0,
           .dlen = 168,
           .rlen = 0,
           .ins = {{8, 8}, {32, 28}, {32, 28}, {32, 28}, {32, 28}, {32, 28}},
           .outs = {}},
      },
      {.dma_mode = 1});
  global_dma_mode = OSTREL_DIRECT;
  d().clear_captured();
  Qel2ECDSASign(session_, OSTREL_BLOCKING, P256, key, k.data(), 32, h.data(), 64, out.data(),
                out.data(), nullptr);
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0, 0x20, 0, 0x20}), sent_last(d()).input(0));
  // A 20-byte hash on P-384: the padding travels as zeros.
  d().clear_captured();
  Qel2ECDSASign(session_, OSTREL_BLOCKING, P384, key, k.data(), 48, h.data(), 20, out.data(),
                out.data(), nullptr);
  const Bytes hash_seg = sent_last(d()).input(3);
  EXPECT_EQ((Bytes{0, 0, 0, 0}), Bytes(hash_seg.begin() + 20, hash_seg.end()));
}

TEST_F(Ec, ChecksAndTheSanityQuery) {
  Bytes buf(72), h(32);
  struct Case {
    const char *name;
    std::function<Uint32()> call;
    Uint32 want;
  };
  const Case cases[] = {
      {"sign: hash 33 before the curve",
       [&] {
         return Qel2ECDSASign(session_, OSTREL_BLOCKING, CurveId(6), 16, buf.data(), 32, h.data(),
                              33, buf.data(), buf.data(), nullptr);
       },
       ERR_UNSUPPORTED_INPUT_LENGTH},
      {"sign: curve 6",
       [&] {
         return Qel2ECDSASign(session_, OSTREL_BLOCKING, CurveId(6), 16, buf.data(), 32, h.data(),
                              32, buf.data(), buf.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"sign: null k",
       [&] {
         return Qel2ECDSASign(session_, OSTREL_BLOCKING, P256, 16, nullptr, 32, h.data(), 32,
                              buf.data(), buf.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"sign: null r",
       [&] {
         return Qel2ECDSASign(session_, OSTREL_BLOCKING, P256, 16, buf.data(), 32, h.data(), 32,
                              nullptr, buf.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"sign 2: null length",
       [&] {
         return Qel2ECDSASign2(session_, OSTREL_BLOCKING, 16, buf.data(), nullptr, h.data(), 32,
                               buf.data(), buf.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"add: null coordinate",
       [&] {
         return Qel2PointAdd(session_, OSTREL_BLOCKING, P256, buf.data(), buf.data(), nullptr,
                             buf.data(), buf.data(), buf.data(), buf.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"mul: curve 6",
       [&] {
         return Qel2PointMul(session_, OSTREL_BLOCKING, CurveId(6), buf.data(), buf.data(), 4,
                             buf.data(), buf.data(), buf.data(), buf.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"double: non-blocking without id",
       [&] {
         return Qel2PointDouble(session_, OSTREL_NON_BLOCKING, P256, buf.data(), buf.data(),
                                buf.data(), buf.data(), buf.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"verify 2: prime length 0",
       [&] {
         return Qel2ECDSAVerify2(session_, OSTREL_BLOCKING, 0, 16, h.data(), 32, buf.data(),
                                 buf.data(), 0, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"verify 2: checks only, non-blocking without id",
       [&] {
         return Qel2ECDSAVerify2(session_, OSTREL_NON_BLOCKING, 0, 16, nullptr, 0, nullptr, nullptr,
                                 1, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"verify: hash 21",
       [&] {
         return Qel2ECDSAVerify(session_, OSTREL_BLOCKING, P256, buf.data(), buf.data(), h.data(),
                                21, buf.data(), buf.data(), nullptr);
       },
       ERR_UNSUPPORTED_INPUT_LENGTH},
  };
  for (const auto &c : cases) EXPECT_EQ(c.want, c.call()) << c.name;
  EXPECT_EQ(0u, sent_count(d()));
  // The checks-only query of a usable key: the HSM's 183 becomes 291.
  auto g = host_mul(NID_X9_62_prime256v1, {7});
  const uint64_t key = ec_key(NID_X9_62_prime256v1, {7}, g.first, g.second);
  EXPECT_EQ(Uint32(RET_KEY_OPERATION_SANITY_OK),
            Qel2ECDSAVerify2(session_, OSTREL_BLOCKING, 0, key, nullptr, 0, nullptr, nullptr, 1,
                             nullptr));
}

TEST_F(Ec, NonBlockingSign2ConvertsThePrimeLengthOnCollection) {
  auto g = host_mul(NID_X9_62_prime256v1, {9});
  const uint64_t key = ec_key(NID_X9_62_prime256v1, {9}, g.first, g.second);
  Bytes k(32, 0), h(32, 0x11), r(32), s(32);
  k[31] = 5;
  Uint16 plen = 32;
  Uint32 id = 0;
  ASSERT_EQ(Uint32(ERR_REQUEST_PENDING),
            Qel2ECDSASign2(session_, OSTREL_NON_BLOCKING, key, k.data(), &plen, h.data(), 32,
                           r.data(), s.data(), &id));
  EXPECT_EQ(32, plen);
  ASSERT_EQ(0u, collect(id));
  EXPECT_EQ(32, plen);  // 64 big-endian from the HSM, halved
  Bytes r1(32), s1(32);
  ASSERT_EQ(0u, Qel2ECDSASign(session_, OSTREL_BLOCKING, P256, key, k.data(), 32, h.data(), 32,
                              r1.data(), s1.data(), nullptr));
  EXPECT_EQ(r1, r);
  EXPECT_EQ(s1, s);
}

}  // namespace
