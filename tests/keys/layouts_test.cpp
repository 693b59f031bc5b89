// The requests as they travel, byte for byte, read with the tests' own
// reader from what the stand-in captured (answers scripted).
#include <functional>

#include "keys_fixture.h"

using namespace keys_test;

namespace {

constexpr uint64_t kNewHandle = 0x0000000012345678ull;

// AES-256 token key "k1", no id, sessions, users or M value, extractable:
// the builder's 15 attributes of 168 bytes.
constexpr uint32_t kAesTemplateLen = 168, kAesTemplateCount = 15;

struct Layout {
  const char *name;
  uint16_t opcode;
  std::function<Uint32(Uint32 session)> call;
  std::vector<uint16_t> in_sizes, out_sizes;
  uint32_t timeout;
  uint8_t attest;
  std::function<void(const Request &, Uint32 session)> check;
  Bytes attrs{};  // attribute data the answer carries after its record
};

class Layouts : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  Uint32 session_ = 0;
};

Bytes session_header(Uint32 session, uint32_t common = 0, uint32_t reserved0 = 0) {
  return Be{}.u32(reserved0).u32(0).u32(0).u32(session & 0x3FFFFFFF).u32(common);
}
Bytes object_head(uint32_t count, uint32_t len) { return Be{}.u32(0).u32(count).u32(len + 12); }

Uint8 g_attrs[64];
Uint32 g_attrs_len;
KeyGenAttest g_attest;
Uint32 g_request_id;
Uint64 g_h1, g_h2;
Bytes g_modulus(256, 0xB5);

const std::vector<Layout> &layouts() {
  static const std::vector<Layout> table = {
      {"secret key from arguments",
       KQ_GENERATE_KEY,
       [](Uint32 s) {
         return Qel2GenerateSymmetricKey(s, KEY_TYPE_AES, 32, nullptr, 0, nullptr, 0, 0, nullptr, 0,
                                         u8("k1"), 2, STORAGE_FLASH, &g_h1);
       },
       {24, 12, kAesTemplateLen},
       {24},
       120,
       0,
       [](const Request &m, Uint32 s) {
         EXPECT_EQ(Be{}.bytes(session_header(s)).u32(4224).v, m.input(0));
         EXPECT_EQ(object_head(kAesTemplateCount, kAesTemplateLen), m.input(1));
         EXPECT_EQ(kAesTemplateLen + 36u, m.dlen);
       }},
      {"secret key with its attributes",
       KQ_GENERATE_KEY,
       [](Uint32 s) {
         g_attrs_len = sizeof g_attrs;
         return Qel2GenerateSymmetricKey2(s, KEY_TYPE_AES, 32, nullptr, 0, nullptr, 0, 0, nullptr,
                                          0, u8("k1"), 2, STORAGE_FLASH, &g_h1, g_attrs,
                                          &g_attrs_len);
       },
       {24, 12, kAesTemplateLen},
       {24, 64},
       120,
       0,
       [](const Request &m, Uint32 s) {
         EXPECT_EQ(Be{}.bytes(session_header(s, 0x100, 1)).u32(4224).v, m.input(0));
       },
       object_head(0, 0)},
      {"secret key with an attestation",
       KQ_GENERATE_KEY,
       [](Uint32 s) {
         return Qel2GenerateSymmetricKey3(s, KEY_TYPE_DES3, 24, nullptr, 0, nullptr, 0, 0, nullptr,
                                          0, u8("k1"), 2, STORAGE_FLASH, 0, &g_h1, &g_attest,
                                          &g_request_id);
       },
       {24, 12, 0},
       {24, 952},
       120,
       1,
       [](const Request &m, Uint32 s) {
         EXPECT_EQ(Be{}.bytes(session_header(s)).u32(305).v, m.input(0));
       }},
      {"password-based key without a salt",
       KQ_GENERATE_PBE_KEY,
       [](Uint32 s) {
         return Qel2GeneratePBEKey(s, nullptr, 0, nullptr, 0, nullptr, 0, u8("pbe"), 3,
                                   u8("secret"), 6, u8("salt"), 0, 10000, nullptr, STORAGE_FLASH, 1,
                                   &g_h1);
       },
       {24, 4, 6, 4, 4, 12, 0},
       {24},
       120,
       0,
       [](const Request &m, Uint32 s) {
         EXPECT_EQ(Be{}.bytes(session_header(s)).u32(0x820D).v, m.input(0));
         EXPECT_EQ(Be{}.u32(6).v, m.input(1));
         EXPECT_EQ(Bytes({'s', 'e', 'c', 'r', 'e', 't'}), m.input(2));
         EXPECT_EQ(Be{}.u32(0).v, m.input(3));  // the salt's length word alone
         EXPECT_EQ(Be{}.u32(10000).v, m.input(4));
         EXPECT_EQ(48u + 6 + m.in[6].size, m.dlen);
       }},
      {"RSA key pair",
       KQ_GENERATE_KEY_PAIR,
       [](Uint32 s) {
         return Qel2RSAGenKeyPair(s, 2048, 65537, nullptr, 0, u8("pub"), 3, u8("priv"), 4,
                                  STORAGE_FLASH, &g_h1, &g_h2);
       },
       {28, 12, 0, 12, 0},
       {984},
       1080,
       0,
       [](const Request &m, Uint32 s) {
         EXPECT_EQ(Be{}.bytes(session_header(s)).u32(10).u32(0).v, m.input(0));
         EXPECT_EQ(m.in[2].size + 12u, be32(m.input(1), 8));
         EXPECT_EQ(m.in[4].size + 12u, be32(m.input(3), 8));
         EXPECT_EQ(52u + m.in[2].size + m.in[4].size, m.dlen);
       }},
      {"RSA public key from its modulus",
       KQ_CREATE_OBJECT,
       [](Uint32 s) {
         return Qel2CreateRSAPublicKey(s, g_modulus.data(), 256, 65537, nullptr, 0, u8("rsa"), 3,
                                       STORAGE_FLASH, &g_h1);
       },
       {20, 12, 0, 4, 256},
       {24},
       120,
       0,
       [](const Request &m, Uint32 s) {
         EXPECT_EQ(session_header(s), m.input(0));
         EXPECT_EQ(Be{}.u32(256).v, m.input(3));
         EXPECT_EQ(g_modulus, m.input(4));
         const Bytes &t = m.input(2);
         const Bytes bits = Be{}.attr(OBJ_ATTR_MODULUS_BITS, "2048\n");
         EXPECT_NE(t.end(), std::search(t.begin(), t.end(), bits.begin(), bits.end()));
         const Bytes mod = Be{}.attr(OBJ_ATTR_MODULUS, g_modulus);
         EXPECT_NE(t.end(), std::search(t.begin(), t.end(), mod.begin(), mod.end()));
       }},
      {"public key from a caller template without key data",
       KQ_CREATE_OBJECT,
       [](Uint32 s) {
         Bytes t = Be{}.attr(OBJ_ATTR_CLASS, "2\n").attr(OBJ_ATTR_KEY_TYPE, "3\n");
         return Qel2CreatePublicKeyTemplate(s, nullptr, 0, t.data(), Uint32(t.size()), &g_h1);
       },
       {20, 12, 20, 4},
       {24},
       120,
       0,
       [](const Request &m, Uint32) { EXPECT_EQ(Be{}.u32(0).v, m.input(3)); }},
      {"derivation",
       KQ_DERIVE_KEY,
       [](Uint32 s) {
         static Bytes label(16, 'L'), context(32, 'C');
         DeriveSymKeyArgs a{};
         a.ulSessionHandle = s;
         a.hBaseKey = 0x0000000900000077ull;
         a.counter.bLittleEndian = 0;  // goes out as 1 all the same
         a.counter.ulWidthInBits = 16;
         a.dkm.dkmLengthMethod = 2;
         a.dkm.ulWidthInBits = 24;
         a.ulPrfType = 3;
         a.prfLabel = label.data();
         a.ulPrfLabelLen = 16;
         a.prfCtx = context.data();
         a.ulPrfCtxLen = 32;
         Bytes t = Be{}.attr(OBJ_ATTR_CLASS, "4\n");
         return Qel2DeriveKeyHmacKdfpkcs(&a, t.data(), Uint32(t.size()), 1);
       },
       {40, 96, 12, 10},
       {24},
       120,
       0,
       [](const Request &m, Uint32 s) {
         EXPECT_EQ(Be{}.bytes(session_header(s)).u32(3).u64(0x0000000900000077ull).u32(96).u32(0).v,
                   m.input(0));
         Bytes want = Be{}.u8(1)
                          .zeros(7)
                          .u64(16)
                          .u32(2)
                          .u8(1)
                          .zeros(3)
                          .u64(24)
                          .attr(1, Bytes(16, 'L'))
                          .attr(2, Bytes(32, 'C'));
         EXPECT_EQ(want, m.input(1));
         EXPECT_EQ(object_head(1, 10), m.input(2));
         EXPECT_EQ(0x0000000900000077ull, m.key_handle);
         EXPECT_EQ(158u, m.dlen);
       }},
  };
  return table;
}

TEST_F(Layouts, RecordsAndSegmentsAsTheyTravel) {
  for (const auto &l : layouts()) {
    SCOPED_TRACE(l.name);
    d().clear_captured();
    d().clear_scripts();
    const size_t record = l.opcode == KQ_GENERATE_KEY_PAIR ? 984 : 24;
    answer(l.opcode, Be{}.bytes(resp(0).u64(kNewHandle).zeros(record - 24)).bytes(l.attrs));
    EXPECT_EQ(0u, l.call(session_));
    Request m = sent_only(d(), l.opcode);
    ASSERT_EQ(l.in_sizes.size(), m.in.size());
    for (size_t i = 0; i < l.in_sizes.size(); ++i)
      if (l.in_sizes[i]) {
        EXPECT_EQ(l.in_sizes[i], m.in[i].size) << "input " << i;
      }
    EXPECT_EQ(l.out_sizes, m.out_sizes());
    EXPECT_EQ(l.timeout, m.timeout);
    EXPECT_EQ(l.attest, m.attest);
    EXPECT_EQ(0, m.command_type);
    EXPECT_EQ(session_ & 0x3FFFFFFFu, m.sess_handle);
    l.check(m, session_);
  }
}

}  // namespace
