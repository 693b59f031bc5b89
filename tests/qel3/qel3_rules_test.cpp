// The Qel3 wrappers with rules of their own, against the stand-in's HSM.
#include <cstring>

#include "qel2_attributes.h"
#include "qel3_fixture.h"

namespace qel3_test {
namespace {

using admin_test::len;
using admin_test::u8;
namespace defaults = hsmsim::defaults;

TEST_F(Qel3Test, StartsLogsInAndShutsDownThroughTheShortForms) {
  Uint32 app = 0, session = 0;
  ASSERT_EQ(0u, Qel3Initialize(&app));
  ASSERT_EQ(0u, Qel3OpenSession(app, &session));
  const std::string user = defaults::kOfficerName, pswd = defaults::kOfficerPassword;
  Uint32 rid = 0;
  EXPECT_EQ(
      0u, Qel3LoginHSM(session, KQ_CRYPTO_OFFICER, u8(user), len(user), u8(pswd), len(pswd), &rid));
  Uint32 status = 0;
  EXPECT_EQ(0u, Qel3GetLoginStatus(session, &status));
  EXPECT_EQ(0u, Qel3Shutdown(app));
}

class FindKey : public Qel3Test {
 protected:
  void SetUp() override {
    Qel3Test::SetUp();
    s_ = officer_session();
    Uint8 label[] = "k";
    for (int i = 0; i < 3; ++i) {
      Uint64 h = 0;
      ASSERT_EQ(0u, Qel3GenerateSymmetricKey(s_, KEY_TYPE_AES, 32, nullptr, 0, 0, nullptr, 0, label,
                                             1, STORAGE_FLASH, 1, &h, nullptr, nullptr));
    }
  }
  Uint32 find(Uint64 *keys, Uint32 *count) {
    return Qel3FindKey(s_, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, STORAGE_FLASH, nullptr, 0,
                       nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, keys, count, nullptr);
  }
  Uint32 s_ = 0;
};

TEST_F(FindKey, AShortKeyArrayIsAResultAndNoArrayKeeps183) {
  // The target answers a key array with room for one of three matches with 183.
  Uint64 keys[3] = {}, ctx = 0;
  Uint32 count = 1;
  ASSERT_EQ(static_cast<Uint32>(RET_RESULT_SIZE),
            Qel2FindKeyFromIndexAsCount3(s_, 0, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES,
                                         STORAGE_FLASH, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                                         0, nullptr, 0, nullptr, 0, keys, &count, &ctx, nullptr));
  keys[0] = 0;
  count = 1;
  EXPECT_EQ(0u, find(keys, &count));
  EXPECT_EQ(1u, count);
  EXPECT_NE(0u, keys[0]);

  count = 0;
  EXPECT_EQ(static_cast<Uint32>(RET_RESULT_SIZE), find(nullptr, &count));
  EXPECT_EQ(3u, count);

  count = 3;
  EXPECT_EQ(0u, find(keys, &count));
  EXPECT_EQ(3u, count);
}

TEST_F(FindKey, ANullCountIsRefusedBeforeAnyRequest) {
  d().clear_captured();
  Uint64 keys[3];
  EXPECT_EQ(static_cast<Uint32>(ERR_INVALID_INPUT), find(keys, nullptr));
  EXPECT_TRUE(d().captured().empty());
}

TEST_F(Qel3Test, PartitionInfoNamesThePartitionFromTheRecord) {
  const Uint32 s = officer_session();
  PartitionInfo info{};
  std::memcpy(info.name, defaults::kPartition, std::strlen(defaults::kPartition));
  EXPECT_EQ(0u, Qel3GetPartitionInfo(s, &info, nullptr));
  EXPECT_STREQ(defaults::kPartition, reinterpret_cast<const char *>(info.name));

  PartitionInfo other{};
  std::memcpy(other.name, "NO_SUCH_ONE", 11);
  EXPECT_NE(0u, Qel3GetPartitionInfo(s, &other, nullptr));

  d().clear_captured();
  EXPECT_EQ(static_cast<Uint32>(ERR_INVALID_INPUT), Qel3GetPartitionInfo(s, nullptr, nullptr));
  EXPECT_TRUE(d().captured().empty());
}

// The unwrap template builder: what it builds is the template SetTemplate3
// builds for unwrapping with the CRT length of the modulus.
struct TemplateCase {
  const char *name;
  Uint32 key_class, key_type, key_len, mod_bits, pub_exp, curve, extractable;
  Uint32 crt_len;
};

TEST(UnwrapTemplate, EqualsTheUnwrapModeTemplateByteForByte) {
  Uint16 users[1] = {5};
  Uint8 id[3] = {9, 8, 7};
  Uint8 label[4] = {'k', 'e', 'y', '1'};
  const TemplateCase cases[] = {
      {"RSA 2048: CRT length 640", OBJ_CLASS_PRIVATE_KEY, KEY_TYPE_RSA, 0, 2048, 65537, 0, 1, 640},
      {"AES-256, not extractable", OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 32, 0, 0, 0, 0, 0},
      {"EC P-256", OBJ_CLASS_PRIVATE_KEY, KEY_TYPE_EC, 0, 0, 0, 2, 1, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Uint32 size = 0, count = 0;
    Uint8 *want = SetTemplate3(0, TEMPLATE_MODE_UNWRAP, c.key_class, c.key_type, 1, nullptr, 0,
                               users, 1, 1, id, 3, label, 4, nullptr, 0, c.key_len, c.mod_bits,
                               nullptr, c.crt_len, c.pub_exp, c.curve, 0, nullptr, 0, nullptr,
                               static_cast<Uint8>(c.extractable), nullptr, &size, &count);
    ASSERT_NE(nullptr, want);
    std::vector<Uint8> got(4096, 0xEE);
    Uint32 got_size = 0, got_count = 0;
    ASSERT_EQ(0u,
              Qel3CreateUnwrapTemplate2(c.key_class, c.key_type, 1, users, 1, 1, id, 3, label, 4,
                                        c.key_len, c.mod_bits, c.pub_exp, c.curve,
                                        c.extractable | 0x100, got.data(), &got_size, &got_count));
    EXPECT_EQ(size, got_size);
    EXPECT_EQ(count, got_count);
    EXPECT_EQ(0, std::memcmp(want, got.data(), size));
    EXPECT_EQ(0xEE, got[got_size]);  // nothing written past the template
    if (c.extractable) {
      std::vector<Uint8> first(4096);
      ASSERT_EQ(0u, Qel3CreateUnwrapTemplate(c.key_class, c.key_type, 1, users, 1, 1, id, 3, label,
                                             4, c.key_len, c.mod_bits, c.pub_exp, c.curve,
                                             first.data(), &got_size, &got_count));
      EXPECT_EQ(0, std::memcmp(want, first.data(), size));
    }
    free(want);
  }
}

TEST(UnwrapTemplate, RefusesMissingOutputsAndATemplateTooLargeToBuild) {
  Uint8 out[4096];
  Uint32 size = 0, count = 0;
  auto build = [&](Uint8 *id, Uint32 id_len, Uint8 *t, Uint32 *sz, Uint32 *n) {
    return Qel3CreateUnwrapTemplate(OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 1, nullptr, 0, 0, id,
                                    id_len, nullptr, 0, 32, 0, 0, 0, t, sz, n);
  };
  EXPECT_EQ(static_cast<Uint32>(RET_INVALID_INPUT), build(nullptr, 0, nullptr, &size, &count));
  EXPECT_EQ(static_cast<Uint32>(RET_INVALID_INPUT), build(nullptr, 0, out, nullptr, &count));
  EXPECT_EQ(static_cast<Uint32>(RET_INVALID_INPUT), build(nullptr, 0, out, &size, nullptr));
  // An ID that cannot fit the builder's 4096 bytes: no template, nothing written.
  std::vector<Uint8> id(5000, 'x');
  std::memset(out, 0xEE, sizeof out);
  size = count = 77;
  EXPECT_EQ(static_cast<Uint32>(RET_INVALID_INPUT), build(id.data(), 5000, out, &size, &count));
  EXPECT_EQ(0xEE, out[0]);
  EXPECT_EQ(77u, size);
}

}  // namespace
}  // namespace qel3_test

namespace qel3_test {
namespace {

TEST_F(Qel3Test, UnwrapsAWrappedKeyWithItsOwnTemplate) {
  const Uint32 s = officer_session();
  Uint8 id[] = {0xC0, 0xFF, 0xEE}, label[] = "wrapped";
  Uint64 key = 0;
  ASSERT_EQ(0u, Qel3GenerateSymmetricKey(s, KEY_TYPE_AES, 32, nullptr, 0, 0, id, sizeof id, label,
                                         7, STORAGE_FLASH, 1, &key, nullptr, nullptr));
  Uint8 iv[8] = {};
  std::vector<Uint8> blob(4096);
  Uint32 blob_len = static_cast<Uint32>(blob.size());
  ASSERT_EQ(0u, Qel3WrapKeyWithTemplate(s, 4, key, iv, blob.data(), &blob_len, nullptr));
  blob.resize(blob_len);

  // A blob whose template length runs past its end is refused before any request.
  std::vector<Uint8> bad = blob;
  bad[4] = 0x7F;
  d().clear_captured();
  Uint64 h = 0;
  EXPECT_EQ(static_cast<Uint32>(ERR_INVALID_INPUT),
            Qel3UnWrapKeyWithCommonTemplate(s, bad.data(), static_cast<Uint32>(bad.size()), 4, iv,
                                            &h, nullptr, nullptr, nullptr, STORAGE_FLASH));
  EXPECT_TRUE(d().captured().empty());

  ASSERT_EQ(0u, Qel3UnWrapKeyWithCommonTemplate(s, blob.data(), blob_len, 4, iv, &h, nullptr,
                                                nullptr, nullptr, STORAGE_FLASH));
  EXPECT_NE(0u, h);
  EXPECT_NE(key, h);
  // The new key carries the wrapped key's ID: a search by it finds both.
  Uint64 found[4] = {};
  Uint32 count = 4;
  EXPECT_EQ(0u, Qel3FindKey(s, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, STORAGE_FLASH, nullptr, 0, id,
                            sizeof id, nullptr, 0, nullptr, 0, nullptr, 0, found, &count, nullptr));
  EXPECT_EQ(2u, count);
}

}  // namespace
}  // namespace qel3_test
