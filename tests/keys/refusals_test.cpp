// Arguments refused before any traffic: the code each function gives and
// that no request reached the daemon.
#include <functional>

#include "keys_fixture.h"

using namespace keys_test;

namespace {

Uint64 g_a, g_b;
Bytes g_big(200, 'x');
Uint8 *label129 = g_big.data();

Uint32 secret(Uint32 s, Uint32 type, Uint32 len) {
  return Qel2GenerateSymmetricKey(s, type, len, nullptr, 0, nullptr, 0, 0, nullptr, 0, u8("k"), 1,
                                  STORAGE_FLASH, &g_a);
}
Uint32 pkcs_secret(Uint32 s, Uint32 type, Uint32 len) {
  Bytes t = Be{}.attr(OBJ_ATTR_CLASS, "4\n").attr(OBJ_ATTR_KEY_TYPE, std::to_string(type) + "\n");
  return Qel2GenerateSymmetricKeyPkcs(s, type, len, Uint32(t.size()), t.data(), &g_a, nullptr,
                                      nullptr);
}
Uint32 pbe(Uint32 s, Uint8 *label, Uint32 label_len, Uint32 iterations, Uint32 password_len = 6) {
  return Qel2GeneratePBEKey(s, nullptr, 0, nullptr, 0, nullptr, 0, label, label_len, u8("secret"),
                            password_len, u8("salt"), 4, iterations, nullptr, STORAGE_FLASH, 0,
                            &g_a);
}
Uint32 pair(Uint32 s, Uint32 type, Uint32 bits, Uint32 e, Uint32 m_value = 1,
            Uint8 location = STORAGE_FLASH, Uint8 *priv_label = u8("priv"),
            Uint32 priv_label_len = 4) {
  return Qel2GenerateKeyPair2(s, type, bits, e, 415, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, 0,
                              m_value, nullptr, 0, u8("pub"), 3, priv_label, priv_label_len,
                              location, 0, &g_a, &g_b);
}
Uint32 pair_template(Uint32 s, const std::string &pub_class) {
  Bytes pub = Be{}.attr(OBJ_ATTR_CLASS, pub_class + "\n").attr(OBJ_ATTR_KEY_TYPE, "3\n");
  Bytes priv = Be{}.attr(OBJ_ATTR_CLASS, "3\n").attr(OBJ_ATTR_KEY_TYPE, "3\n");
  return Qel2GenerateKeyPairTemplate(s, pub.data(), Uint32(pub.size()), priv.data(),
                                     Uint32(priv.size()), 0, &g_a, &g_b, nullptr);
}
Uint32 derive(Uint32 s, Uint32 key_type, Uint32 label_len, Uint32 ctx_len, Uint8 sessions = 0,
              Uint8 users = 0, Uint32 key_label_len = 1) {
  DeriveSymKeyArgs a{};
  a.ulSessionHandle = s;
  a.hBaseKey = 16;
  a.counter.ulWidthInBits = 32;
  a.ulPrfType = 3;
  a.prfLabel = g_big.data();
  a.ulPrfLabelLen = label_len;
  a.prfCtx = g_big.data();
  a.ulPrfCtxLen = ctx_len;
  KeyArgs k{};
  k.pKeyLabel = g_big.data();
  k.ulKeyLabelLen = key_label_len;
  k.ulKeyLen = 32;
  k.ulKeyType = key_type;
  k.ucKeyLocation = STORAGE_FLASH;
  k.ucNumKeySessions = sessions;
  k.ucNumKeyOwners = users;
  return Qel2DeriveKey(&a, &k);
}

struct Refusal {
  const char *name;
  std::function<Uint32(Uint32)> call;
  Uint32 code;
};

const std::vector<Refusal> &refusals() {
  static const std::vector<Refusal> t = {
      {"DES is not generated", [](Uint32 s) { return secret(s, KEY_TYPE_DES, 8); },
       ERR_INVALID_INPUT},
      {"type 17", [](Uint32 s) { return secret(s, 17, 16); }, ERR_INVALID_INPUT},
      {"AES of 20 bytes", [](Uint32 s) { return secret(s, KEY_TYPE_AES, 20); }, ERR_INVALID_INPUT},
      {"RC4 of 257 bytes", [](Uint32 s) { return secret(s, KEY_TYPE_RC4, 257); },
       ERR_INVALID_INPUT},
      {"caller template: RC4 of 256 bytes",
       [](Uint32 s) { return pkcs_secret(s, KEY_TYPE_RC4, 256); }, ERR_INVALID_INPUT},
      {"caller template: generic secret of 0 bytes",
       [](Uint32 s) { return pkcs_secret(s, KEY_TYPE_GENERIC_SECRET, 0); }, ERR_INVALID_INPUT},
      {"template without a key type",
       [](Uint32 s) {
         Bytes t = Be{}.attr(OBJ_ATTR_CLASS, "4\n").attr(OBJ_ATTR_LABEL, "k");
         return Qel2GenerateSymmetricKeyTemplate(s, t.data(), Uint32(t.size()), &g_a, nullptr);
       },
       ERR_INVALID_INPUT},
      {"password-based: label of 129 bytes", [](Uint32 s) { return pbe(s, label129, 129, 1); },
       ERR_DATA_LEN_RANGE},
      {"password-based: no label", [](Uint32 s) { return pbe(s, nullptr, 3, 1); },
       ERR_INVALID_INPUT},
      {"password-based: label Public", [](Uint32 s) { return pbe(s, u8("Public"), 6, 1); },
       ERR_BAD_LABEL},
      {"password-based: 10001 iterations", [](Uint32 s) { return pbe(s, u8("k"), 1, 10001); },
       ERR_INVALID_INPUT},
      // Summed in 64 bits: a 32-bit sum would wrap below the limit.
      {"password-based: data beyond 8192 bytes",
       [](Uint32 s) { return pbe(s, u8("k"), 1, 1, 0xFFFFFFF0u); }, ERR_BUFFER_TOO_BIG},
      {"RSA modulus of 512 bits", [](Uint32 s) { return pair(s, KEY_TYPE_RSA, 512, 65537); },
       ERR_UNSUPPORTED_MOD_LEN},
      {"RSA modulus of 1000 bits", [](Uint32 s) { return pair(s, KEY_TYPE_RSA, 1000, 65537); },
       ERR_UNSUPPORTED_MOD_LEN},
      {"RSA even exponent before the modulus",
       [](Uint32 s) { return pair(s, KEY_TYPE_RSA, 512, 65536); }, ERR_INVALID_INPUT},
      {"RSA exponent negative as signed",
       [](Uint32 s) { return pair(s, KEY_TYPE_RSA, 2048, 0x80000001u); }, ERR_INVALID_INPUT},
      {"RSA M value 0", [](Uint32 s) { return pair(s, KEY_TYPE_RSA, 2048, 65537, 0); },
       ERR_INVALID_INPUT},
      {"RSA M value 9", [](Uint32 s) { return pair(s, KEY_TYPE_RSA, 2048, 65537, 9); },
       ERR_INVALID_INPUT},
      {"location 255", [](Uint32 s) { return pair(s, KEY_TYPE_EC, 0, 0, 0, 255); },
       ERR_INVALID_INPUT},
      {"private label Private",
       [](Uint32 s) { return pair(s, KEY_TYPE_EC, 0, 0, 0, 1, u8("Private"), 7); }, ERR_BAD_LABEL},
      {"key pair label of 129 bytes",
       [](Uint32 s) { return pair(s, KEY_TYPE_EC, 0, 0, 0, 1, label129, 129); }, ERR_INVALID_INPUT},
      {"key pair type 2", [](Uint32 s) { return pair(s, 2, 0, 0, 0); }, ERR_INVALID_INPUT},
      {"key pair template: public class 3", [](Uint32 s) { return pair_template(s, "3"); },
       ERR_INVALID_INPUT},
      {"public key: label of 129 bytes",
       [](Uint32 s) {
         return Qel2CreateRSAPublicKey(s, g_big.data(), 64, 65537, nullptr, 0, label129, 129,
                                       STORAGE_FLASH, &g_a);
       },
       ERR_DATA_LEN_RANGE},
      {"public key: RSA exponent 0",
       [](Uint32 s) {
         return Qel2CreateRSAPublicKey(s, g_big.data(), 64, 0, nullptr, 0, u8("k"), 1,
                                       STORAGE_FLASH, &g_a);
       },
       ERR_INVALID_INPUT},
      {"importing an RSA public key, always",
       [](Uint32 s) {
         return Qel2ImportRSAPublicKey(s, nullptr, 0, u8("k"), 1, g_big.data(), 64, STORAGE_FLASH,
                                       &g_a);
       },
       ERR_INVALID_INPUT},
      {"derivation to an RSA key", [](Uint32 s) { return derive(s, KEY_TYPE_RSA, 16, 16); },
       ERR_INVALID_INPUT},
      {"derivation: key label of 129 bytes",
       [](Uint32 s) { return derive(s, KEY_TYPE_AES, 16, 16, 0, 0, 129); }, ERR_INVALID_INPUT},
      {"derivation: label and context of 8953 bytes",
       [](Uint32 s) { return derive(s, KEY_TYPE_AES, 8000, 953); }, ERR_INVALID_INPUT},
      // 0xFFFFFFF0 + 0x40 + 48 wraps to 0x60 in 32 bits.
      {"derivation: lengths whose 32-bit sum wraps",
       [](Uint32 s) { return derive(s, KEY_TYPE_AES, 0xFFFFFFF0u, 0x40); }, ERR_INVALID_INPUT},
      {"derivation: no context", [](Uint32 s) { return derive(s, KEY_TYPE_AES, 16, 0); },
       ERR_INVALID_INPUT},
      {"derivation: 9 sessions", [](Uint32 s) { return derive(s, KEY_TYPE_AES, 16, 16, 9); },
       ERR_INVALID_INPUT},
      {"derivation: 9 users", [](Uint32 s) { return derive(s, KEY_TYPE_AES, 16, 16, 0, 9); },
       ERR_INVALID_INPUT},
      {"derivation: no arguments", [](Uint32) { return Qel2DeriveKey(nullptr, nullptr); },
       ERR_INVALID_INPUT},
  };
  return t;
}

class Refusals : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  Uint32 session_ = 0;
};

TEST_F(Refusals, BeforeAnyTraffic) {
  std::vector<std::pair<Uint32, size_t>> got;
  testing::internal::CaptureStdout();
  for (const auto &r : refusals()) got.emplace_back(r.call(session_), sent_count(d()));
  const std::string out = testing::internal::GetCapturedStdout();
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(refusals()[i].name);
    EXPECT_EQ(refusals()[i].code, got[i].first);
    EXPECT_EQ(0u, got[i].second);
  }
  EXPECT_NE(std::string::npos, out.find("Error DES key generation is not supported currently"));
  EXPECT_NE(std::string::npos, out.find("Error passed key size 20 invalid for key type 31"));
  EXPECT_NE(std::string::npos, out.find("ERROR input is more than one mtu"));
  EXPECT_NE(std::string::npos, out.find("prf Context must passed"));
  EXPECT_NE(std::string::npos, out.find("Invalid OBJ_ATTR_CLASS attribute 3 passed in Public Key"));
}

TEST(KeySizes, ArgumentFormLimits) {
  struct Case {
    Uint32 type, size;
    Uint8 ok;
  } cases[] = {{KEY_TYPE_GENERIC_SECRET, 0, 1},
               {KEY_TYPE_GENERIC_SECRET, 4096, 1},
               {KEY_TYPE_GENERIC_SECRET, 4097, 0},
               {KEY_TYPE_RC4, 0, 1},
               {KEY_TYPE_RC4, 256, 1},
               {KEY_TYPE_RC4, 257, 0},
               {KEY_TYPE_DES, 8, 0},
               {KEY_TYPE_DES3, 24, 1},
               {KEY_TYPE_DES3, 16, 0},
               {KEY_TYPE_AES, 24, 1},
               {KEY_TYPE_AES, 20, 0},
               {17, 16, 0}};
  testing::internal::CaptureStdout();
  for (const auto &c : cases)
    EXPECT_EQ(c.ok, is_valid_symmetric_key_type_size(c.type, c.size))
        << "type " << c.type << " size " << c.size;
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string::npos, out.find("key type 17"));  // other types: silently
}

}  // namespace
