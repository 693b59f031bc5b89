// Every mechanism signs on the HSM and verifies with OpenSSL on the host;
// host signatures verify on the HSM, and a tampered message or signature
// gets the HSM's verdict.
#include "sign_fixture.h"

namespace sign_test {
namespace {

struct Keys {
  Pkey rsa, ec256, ec384, dsa;
};
Keys &host_keys() {
  static Keys k{host_rsa(), host_ec("P-256"), host_ec("P-384"), host_dsa()};
  return k;
}

class SignE2e : public LoggedIn {
 protected:
  Seeded keys(EVP_PKEY *k) { return seed(d(), k); }
};

struct MechCase {
  Uint32 mech;
  const char *md;
  char kind;  // 'r' RSA v1.5, 'p' RSA-PSS, 'd' DSA, 'e' ECDSA (P-256), 'E' ECDSA (P-384)
};
constexpr MechCase kMechs[] = {
    {MECH_SHA1_RSA_PKCS, "SHA1", 'r'},
    {MECH_SHA224_RSA_PKCS, "SHA224", 'r'},
    {MECH_SHA256_RSA_PKCS, "SHA256", 'r'},
    {MECH_SHA384_RSA_PKCS, "SHA384", 'r'},
    {MECH_SHA512_RSA_PKCS, "SHA512", 'r'},
    {MECH_SHA1_RSA_PKCS_PSS, "SHA1", 'p'},
    {MECH_SHA224_RSA_PKCS_PSS, "SHA224", 'p'},
    {MECH_SHA256_RSA_PKCS_PSS, "SHA256", 'p'},
    {MECH_SHA384_RSA_PKCS_PSS, "SHA384", 'p'},
    {MECH_SHA512_RSA_PKCS_PSS, "SHA512", 'p'},
    {MECH_DSA_SHA1, "SHA1", 'd'},
    {MECH_DSA_SHA224, "SHA224", 'd'},
    {MECH_DSA_SHA256, "SHA256", 'd'},
    {MECH_DSA_SHA384, "SHA384", 'd'},
    {MECH_DSA_SHA512, "SHA512", 'd'},
    {MECH_ECDSA_SHA1, "SHA1", 'e'},
    {MECH_ECDSA_SHA224, "SHA224", 'e'},
    {MECH_ECDSA_SHA256, "SHA256", 'e'},
    {MECH_ECDSA_SHA384, "SHA384", 'E'},
    {MECH_ECDSA_SHA512, "SHA512", 'E'},
};

EVP_PKEY *key_for(char kind) {
  auto &k = host_keys();
  switch (kind) {
    case 'd':
      return k.dsa.get();
    case 'e':
      return k.ec256.get();
    case 'E':
      return k.ec384.get();
    default:
      return k.rsa.get();
  }
}
// Width of r and of s: 32 for DSA with a 256-bit q and P-256, 48 for P-384.
size_t half(char kind) { return kind == 'E' ? 48 : 32; }
bool rsa(char kind) { return kind == 'r' || kind == 'p'; }

TEST_F(SignE2e, EveryMechanismAgreesWithOpenSsl) {
  const std::string text = "a message signed on the HSM";
  Bytes msg(text.begin(), text.end());
  for (const auto &c : kMechs) {
    SCOPED_TRACE(testing::Message() << "mechanism " << c.mech);
    EVP_PKEY *host = key_for(c.kind);
    const Seeded obj = keys(host);
    const bool pss = c.kind == 'p';

    // HSM signature, checked on the host.
    Bytes sig(512);
    Uint32 len = Uint32(sig.size());
    ASSERT_EQ(
        0u, Qel2Sign(session_, msg.data(), Uint32(msg.size()), sig.data(), &len, obj.priv, c.mech));
    sig.resize(len);
    if (rsa(c.kind)) {
      EXPECT_EQ(256u, len);
      EXPECT_TRUE(host_verify(host, c.md, pss, msg, sig));
    } else {
      EXPECT_EQ(2 * half(c.kind), len);  // r || s
      EXPECT_TRUE(host_verify(host, c.md, false, msg, to_der(sig)));
    }
    EXPECT_EQ(
        0u, Qel2Verify(session_, msg.data(), Uint32(msg.size()), sig.data(), len, obj.pub, c.mech));

    // Host signature, checked on the HSM; then tampered.
    Bytes hs = host_sign(host, c.md, pss, msg);
    if (!rsa(c.kind)) hs = to_raw(hs, half(c.kind));
    EXPECT_EQ(0u, Qel2Verify(session_, msg.data(), Uint32(msg.size()), hs.data(), Uint32(hs.size()),
                             obj.pub, c.mech));
    Bytes bad_msg = msg;
    bad_msg[0] ^= 1;
    EXPECT_EQ(Uint32(RET_SIGNATURE_VERIFICATION_FAILED),
              Qel2Verify(session_, bad_msg.data(), Uint32(bad_msg.size()), hs.data(),
                         Uint32(hs.size()), obj.pub, c.mech));
    Bytes bad_sig = hs;
    bad_sig[bad_sig.size() / 2 + 3] ^= 0x40;
    EXPECT_EQ(Uint32(RET_SIGNATURE_VERIFICATION_FAILED),
              Qel2Verify(session_, msg.data(), Uint32(msg.size()), bad_sig.data(),
                         Uint32(bad_sig.size()), obj.pub, c.mech));
  }
}

// The shorthands sign and verify a SHA-1 digest made by the caller.
TEST_F(SignE2e, ShorthandsSignTheCallersDigest) {
  const std::string text = "hashed by the caller";
  Bytes msg(text.begin(), text.end()), digest(20);
  unsigned n = 0;
  EVP_Digest(msg.data(), msg.size(), digest.data(), &n, EVP_sha1(), nullptr);
  using SignFn = Uint32 (*)(Uint32, Uint8 *, Uint32, Uint8 *, Uint32 *, Uint64);
  using VerifyFn = Uint32 (*)(Uint32, Uint8 *, Uint32, Uint8 *, Uint32, Uint64);
  struct Row {
    SignFn sign;
    VerifyFn verify;
    char kind;
  } rows[] = {{Qel2RsaSign, Qel2RsaVerify, 'r'},
              {Qel2DsaSign, Qel2DsaVerify, 'd'},
              {Qel2EcdsaSign, Qel2EcdsaVerify, 'e'}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.kind);
    EVP_PKEY *host = key_for(row.kind);
    const Seeded obj = keys(host);
    Bytes sig(512);
    Uint32 len = Uint32(sig.size());
    ASSERT_EQ(0u, row.sign(session_, digest.data(), 20, sig.data(), &len, obj.priv));
    sig.resize(len);
    EXPECT_TRUE(host_verify(host, "SHA1", false, msg, rsa(row.kind) ? sig : to_der(sig)));
    EXPECT_EQ(0u, row.verify(session_, digest.data(), 20, sig.data(), len, obj.pub));
    digest[5] ^= 1;
    EXPECT_EQ(Uint32(RET_SIGNATURE_VERIFICATION_FAILED),
              row.verify(session_, digest.data(), 20, sig.data(), len, obj.pub));
    digest[5] ^= 1;
  }
}

TEST_F(SignE2e, ShortBufferReportsTheLengthNeeded) {
  const Seeded obj = keys(host_keys().rsa.get());
  Uint8 msg[] = "m";
  Uint8 sig[256];
  Uint32 len = 0;
  EXPECT_EQ(Uint32(RET_RESULT_SIZE),
            Qel2Sign(session_, msg, 1, sig, &len, obj.priv, MECH_SHA256_RSA_PKCS));
  EXPECT_EQ(256u, len);
  EXPECT_EQ(0u, Qel2Sign(session_, msg, 1, sig, &len, obj.priv, MECH_SHA256_RSA_PKCS));
}

// Keys of the wrong kind or half and unknown mechanisms are the HSM's refusals.
TEST_F(SignE2e, HsmRefusesKeysAndMechanismsThatDoNotFit) {
  const Seeded r = keys(host_keys().rsa.get());
  const Seeded e = keys(host_keys().ec256.get());
  Uint8 msg[] = "m";
  Uint8 sig[512];
  struct Row {
    uint64_t key;
    Uint32 mech;
    Uint32 code;
  } rows[] = {{r.pub, MECH_SHA256_RSA_PKCS, RET_KEY_TYPE_INCONSISTENT},
              {e.priv, MECH_SHA256_RSA_PKCS, RET_KEY_TYPE_INCONSISTENT},
              {r.priv, 12345, RET_INVALID_CRYPTO_MECHANISM},
              {0x7FFF, MECH_SHA256_RSA_PKCS, RET_INVALID_OBJ_HANDLE}};
  for (const auto &row : rows) {
    Uint32 len = sizeof sig;
    EXPECT_EQ(row.code, Qel2Sign(session_, msg, 1, sig, &len, row.key, row.mech)) << row.mech;
    EXPECT_EQ(Uint32(sizeof sig), len);
  }
}

}  // namespace
}  // namespace sign_test
