// Who may use a new object (sessions, users, M value, id, label, location,
// extractable, extended arguments) reaches every key family's template as
// the exported builder lays it out from the same arguments: the template
// each call sends, read from what the stand-in captured, against
// SetTemplate3 called with the values that family passes.
#include <functional>

#include "keys_fixture.h"

using namespace keys_test;

namespace {

Uint32 g_sessions[2] = {7, 9};
Uint16 g_users[2] = {1, 2};
constexpr Uint8 kMValue = 2;
constexpr Uint32 kCurve = 415;  // P-256 by its OpenSSL number
const Bytes g_nested = Be{}.u32(0).u32(1).u32(22).attr(OBJ_ATTR_CLASS, "4\n");
Bytes g_ekcv = {1, 2, 3}, g_kcv = {4, 5, 6}, g_point(65, 0x04), g_wrapped(40, 0x5A);
Uint8 g_iv[8] = {};
Uint64 g_h1, g_h2, g_keys[4];
Uint32 g_n;

extendedTemplateArgs extras() {
  extendedTemplateArgs x{};
  x.pWrapTemplate = const_cast<Uint8 *>(g_nested.data());
  x.pUnWrapTemplate = const_cast<Uint8 *>(g_nested.data());
  x.ulWrapTemplateLen = x.ulUnWrapTemplateLen = Uint32(g_nested.size());
  x.ucDerive = 1;
  x.ulEKCVLen = Uint32(g_ekcv.size());
  x.pEKCV = g_ekcv.data();
  return x;
}
extendedTemplateArgs g_ext = extras();

// What SetTemplate3 builds, with its attribute count.
struct Built {
  Bytes bytes;
  Uint32 count = 0;
};
Built built(Uint8 *t, Uint32 size, Uint32 count) {
  Built b{t ? Bytes(t, t + size) : Bytes{}, count};
  std::free(t);
  return b;
}

// The template of one family: the mode, class and type it builds with, the
// key-size values it adds, and what it passes of the access group.
struct Expect {
  Uint8 mode;
  Uint32 key_class, key_type;
  Uint32 m_value;
  const char *label;
  Uint32 key_len = 0, mod_bits = 0;
  const Uint8 *modulus = nullptr;
  Uint32 curve = 0;
  const Uint8 *kcv = nullptr;
  Uint32 kcv_len = 0;
  Uint8 extractable = 0;
  const extendedTemplateArgs *ext = &g_ext;
};
Built expected(const Expect &e) {
  Uint32 size = 0, count = 0;
  Uint8 *t = SetTemplate3(0, e.mode, e.key_class, e.key_type, STORAGE_RAM, g_sessions, 2, g_users,
                          2, e.m_value, u8("id-1"), 4, u8(e.label), Uint32(strlen(e.label)), e.kcv,
                          e.kcv_len, e.key_len, e.mod_bits, e.modulus, 0, 0, e.curve, 0, nullptr, 0,
                          nullptr, e.extractable, e.ext, &size, &count);
  return built(t, size, count);
}

// One call builds both templates of a key pair: each row reads one of them.
void generate_ec_pair(Uint32 s) {
  Qel2GenerateKeyPair5(s, KEY_TYPE_EC, 0, 0, kCurve, 0, nullptr, 0, nullptr, g_sessions, 2, g_users,
                       2, kMValue, u8("id-1"), 4, u8("pub"), 3, u8("priv"), 4, STORAGE_RAM, 0,
                       &g_ext, 0, &g_h1, &g_h2, nullptr, nullptr, nullptr, nullptr);
}

struct Row {
  const char *name;
  uint16_t opcode;
  std::function<void(Uint32 session)> call;
  size_t segment;  // the template's input segment; its Object head is the one before
  Expect expect;
};

class AccessGroup : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  Uint32 session_ = 0;
};

TEST_F(AccessGroup, EveryFamilyBuildsItsTemplateFromTheSameArguments) {
  static KeyArgs derived{};
  derived.pKeyLabel = u8("drv");
  derived.ulKeyLabelLen = 3;
  derived.pKeyID = u8("id-1");
  derived.ulKeyIDLen = 4;
  derived.ulKeyLen = 32;
  derived.ulKeyType = KEY_TYPE_AES;
  derived.ulMValue = kMValue;
  derived.pSessions[0] = 7;
  derived.pSessions[1] = 9;
  derived.ucNumKeySessions = 2;
  derived.pUsers[0] = 1;
  derived.pUsers[1] = 2;
  derived.ucNumKeyOwners = 2;
  derived.ucKeyLocation = STORAGE_RAM;
  derived.bExtractable = 0;

  const Row rows[] = {
      {"secret key",
       KQ_GENERATE_KEY,
       [](Uint32 s) {
         Qel2GenerateSymmetricKey4(s, KEY_TYPE_AES, 32, g_sessions, 2, g_users, 2, kMValue,
                                   u8("id-1"), 4, u8("sec"), 3, STORAGE_RAM, 0, &g_ext, &g_h1,
                                   nullptr, nullptr, nullptr, nullptr);
       },
       2,
       {.mode = TEMPLATE_MODE_KEY_GEN,
        .key_class = OBJ_CLASS_SECRET_KEY,
        .key_type = KEY_TYPE_AES,
        .m_value = kMValue,
        .label = "sec",
        .key_len = 32}},
      {"password-based key",
       KQ_GENERATE_PBE_KEY,
       [](Uint32 s) {
         Qel2GeneratePBEKey2(s, g_sessions, 2, g_users, 2, kMValue, u8("id-1"), 4, u8("pbe"), 3,
                             u8("secret"), 6, u8("salt"), 4, 1000, nullptr, STORAGE_RAM, 0, 0,
                             &g_h1, nullptr, nullptr);
       },
       7,
       {.mode = TEMPLATE_MODE_KEY_GEN,
        .key_class = OBJ_CLASS_SECRET_KEY,
        .key_type = KEY_TYPE_DES3,
        .m_value = kMValue,
        .label = "pbe",
        .ext = nullptr}},
      {"key pair, public template",
       KQ_GENERATE_KEY_PAIR,
       generate_ec_pair,
       2,
       {.mode = TEMPLATE_MODE_KEY_GEN,
        .key_class = OBJ_CLASS_PUBLIC_KEY,
        .key_type = KEY_TYPE_EC,
        .m_value = 0,
        .label = "pub",
        .curve = kCurve}},
      {"key pair, private template",
       KQ_GENERATE_KEY_PAIR,
       generate_ec_pair,
       4,
       {.mode = TEMPLATE_MODE_KEY_GEN,
        .key_class = OBJ_CLASS_PRIVATE_KEY,
        .key_type = KEY_TYPE_EC,
        .m_value = kMValue,
        .label = "priv",
        .curve = kCurve}},
      {"public key",
       KQ_CREATE_OBJECT,
       [](Uint32 s) {
         Qel2CreatePublicKey4(s, KEY_TYPE_EC, 0, 0, kCurve, 0, nullptr, 0, nullptr, g_point.data(),
                              Uint32(g_point.size()), g_sessions, 2, g_users, 2, u8("id-1"), 4,
                              u8("ec"), 2, STORAGE_RAM, &g_ext, 0, &g_h1, nullptr, nullptr,
                              nullptr);
       },
       2,
       {.mode = TEMPLATE_MODE_CREATE,
        .key_class = OBJ_CLASS_PUBLIC_KEY,
        .key_type = KEY_TYPE_EC,
        .m_value = 0,
        .label = "ec",
        .modulus = g_point.data(),
        .curve = kCurve,
        .extractable = 1}},
      {"import",
       KQ_UNWRAP_KEY2,
       [](Uint32 s) {
         Qel2ImportKey6(s, KEY_TYPE_AES, ENCRYPTED, CRYPTO_MECH_AES_KEY_WRAP_PAD, g_iv, 8,
                        g_wrapped.data(), Uint32(g_wrapped.size()), 0, 0, 0, 0, g_sessions, 2,
                        g_users, 2, kMValue, u8("id-1"), 4, u8("imp"), 3, STORAGE_RAM, &g_ext, 0x77,
                        &g_h1, nullptr, nullptr, nullptr, nullptr, nullptr);
       },
       4,
       {.mode = TEMPLATE_MODE_UNWRAP,
        .key_class = OBJ_CLASS_SECRET_KEY,
        .key_type = KEY_TYPE_AES,
        .m_value = kMValue,
        .label = "imp",
        .key_len = 40,
        .extractable = 1}},
      {"search",
       KQ_FIND_OBJECTS,
       [](Uint32 s) {
         g_n = 4;
         Qel2FindKey3(s, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, STORAGE_RAM, g_sessions, 2, g_users,
                      2, u8("id-1"), 4, u8("fnd"), 3, nullptr, 0, g_kcv.data(),
                      Uint32(g_kcv.size()), &g_ext, g_keys, &g_n);
       },
       2,
       {.mode = TEMPLATE_MODE_FIND,
        .key_class = OBJ_CLASS_SECRET_KEY,
        .key_type = KEY_TYPE_AES,
        .m_value = 0,
        .label = "fnd",
        .kcv = g_kcv.data(),
        .kcv_len = Uint32(g_kcv.size()),
        .extractable = 255}},
      {"derivation",
       KQ_DERIVE_KEY,
       [](Uint32 s) {
         DeriveSymKeyArgs a{};
         a.ulSessionHandle = s;
         a.hBaseKey = 0x77;
         a.counter.ulWidthInBits = 32;
         a.dkm.ulWidthInBits = 32;
         a.prfLabel = u8("prf");
         a.ulPrfLabelLen = 3;
         a.prfCtx = u8("ctx");
         a.ulPrfCtxLen = 3;
         Qel2DeriveKey(&a, &derived);
       },
       3,
       {.mode = TEMPLATE_MODE_DERIVE,
        .key_class = OBJ_CLASS_SECRET_KEY,
        .key_type = KEY_TYPE_AES,
        .m_value = kMValue,
        .label = "drv",
        .key_len = 32,
        .ext = nullptr}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    d().clear_captured();
    const Built want = expected(r.expect);
    ASSERT_FALSE(want.bytes.empty());
    r.call(session_);
    const Request m = sent_only(d(), r.opcode);
    ASSERT_GT(m.in.size(), r.segment);
    EXPECT_EQ(want.bytes, m.input(r.segment));
    EXPECT_EQ(Be{}.u32(0).u32(want.count).u32(Uint32(want.bytes.size()) + 12).v,
              m.input(r.segment - 1));
  }
}

}  // namespace
