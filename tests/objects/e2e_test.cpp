// End to end against the stand-in's object store (no scripted answers):
// objects are seeded through its test hooks, then found, read, changed,
// shared, masked and re-inserted, destroyed and tombstoned through the SDK,
// and a key is recreated from the template rebuilt from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "common/template/attr_walk.h"
#include "mgmt/objects/objects_internal.h"
#include "obj_fixture.h"

using namespace obj_test;
using hsmsim::ObjectAttr;
using hsmsim::ObjectSeed;
namespace defaults = hsmsim::defaults;

namespace {

const Uint8 *u8(const std::string &s) { return reinterpret_cast<const Uint8 *>(s.data()); }

class EndToEnd : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(session_ = log_in(support::kCryptoUser));
    user_id_ = d().hsm().user(defaults::kPartition, defaults::kUserName)->id;
  }

  uint64_t seed(const ObjectSeed &s) {
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }
  uint64_t aes(const std::string &label, bool token = true) {
    ObjectSeed s;
    s.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 4),
                    ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
                    ObjectAttr::text(OBJ_ATTR_LABEL, label),
                    ObjectAttr::number(OBJ_ATTR_VALUE_LEN, 32),
                    ObjectAttr::flag(OBJ_ATTR_ENCRYPT, true),
                    ObjectAttr::flag(OBJ_ATTR_DECRYPT, true),
                    ObjectAttr::number(OBJ_ATTR_TOKEN, token ? 1 : 0)};
    if (!token) s.session = session_ & 0x3FFFFFFF;
    return seed(s);
  }
  Bytes attribute(uint64_t key, uint32_t type) {
    Uint8 buf[256] = {};
    Uint32 len = sizeof buf;
    EXPECT_EQ(0u, Qel2GetAttribute(session_, key, type, buf, &len));
    return Bytes(buf, buf + std::min<Uint32>(len, sizeof buf));
  }

  Uint32 session_ = 0, user_id_ = 0;
};

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }
bool ok_or_183(Uint32 r) { return r == 0 || r == RET_RESULT_SIZE; }

TEST_F(EndToEnd, FindByLabelAndByTemplate) {
  const uint64_t k1 = aes("k1"), k2 = aes("k2");
  // By label: the count first, then the handles.
  // (The stand-in answers a count-only search that found more than it was
  // given room for with 183; the count comes back either way.)
  Uint32 n = 0;
  ASSERT_TRUE(ok_or_183(Qel2FindKeyFromIndexAsCount2(
      session_, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 255, nullptr, 0, nullptr, 0, nullptr, 0,
      u8(std::string("k2")), 2, nullptr, 0, nullptr, &n, nullptr)));
  ASSERT_EQ(1u, n);
  Uint64 found[4] = {};
  n = 4;
  ASSERT_EQ(0u, Qel2FindKeyFromIndexAsCount2(session_, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 255, nullptr,
                                             0, nullptr, 0, nullptr, 0, u8(std::string("k2")), 2,
                                             nullptr, 0, found, &n, nullptr));
  ASSERT_EQ(1u, n);
  EXPECT_EQ(k2, found[0]);

  // By class and type: both.
  n = 4;
  ASSERT_EQ(0u, Qel2FindKey(session_, 0, 4, 31, 255, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                            nullptr, 0, 0, found, &n));
  ASSERT_EQ(2u, n);
  EXPECT_EQ(std::set<uint64_t>({k1, k2}), std::set<uint64_t>(found, found + 2));

  // By the caller's template.
  Bytes t = Be{}.attr(OBJ_ATTR_CLASS, "4\n").attr(OBJ_ATTR_LABEL, "k1");
  n = 4;
  ASSERT_EQ(0u, Qel2FindKeyPkcs(session_, 0, Uint32(t.size()), t.data(), found, &n));
  ASSERT_EQ(1u, n);
  EXPECT_EQ(k1, found[0]);

  // The user's objects.
  Uint64 mine[8] = {};
  Uint8 status[8] = {};
  n = 8;
  ASSERT_EQ(0u, Qel2FindAllKeysFromIndex(session_, 0, Uint16(user_id_), mine, status, &n));
  EXPECT_EQ(2u, n);
  n = 0;
  ASSERT_TRUE(ok_or_183(Qel2FindAllKeys(session_, Uint16(user_id_), &n)));
  EXPECT_EQ(2u, n);
}

TEST_F(EndToEnd, ReadAndChangeAttributes) {
  const uint64_t k = aes("k1");
  EXPECT_EQ(text("4"), attribute(k, OBJ_ATTR_CLASS));
  EXPECT_EQ(text("k1"), attribute(k, OBJ_ATTR_LABEL));

  // All attributes: the size, then the data, an Object head and its attributes.
  Uint32 len = 0;
  ASSERT_TRUE(ok_or_183(Qel2GetAllAttributes(session_, k, nullptr, &len)));
  Bytes all(len);
  ASSERT_EQ(0u, Qel2GetAllAttributes(session_, k, all.data(), &len));
  EXPECT_EQ(all.size(), len);
  qel2::tmpl::ObjectView obj;
  ASSERT_TRUE(qel2::tmpl::read_object_head(all.data(), len - 20, &obj));
  EXPECT_GT(obj.attr_count, 4u);

  // Attested: the answer, then a 256-byte attestation.
  Uint8 cls[4] = {};
  len = sizeof cls;
  Bytes attested(20 + 4 + 256);
  Uint32 attested_len = Uint32(attested.size());
  ASSERT_EQ(0u, Qel2GetAttribute2(session_, k, OBJ_ATTR_CLASS, cls, &len, attested.data(),
                                  &attested_len, nullptr));
  EXPECT_EQ(280u, attested_len);
  EXPECT_EQ('4', attested[20]);
  EXPECT_NE(Bytes(256, 0), Bytes(attested.begin() + 24, attested.end()));

  // Changing the label, and the checks before a change.
  Uint8 label[] = {'n', 'e', 'w'};
  ASSERT_EQ(0u, Qel2SetAttribute(session_, k, OBJ_ATTR_LABEL, label, sizeof label));
  EXPECT_EQ(text("new"), attribute(k, OBJ_ATTR_LABEL));
  Uint8 one[] = {'1', 0}, zero[] = {'0', 0};
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2SetAttribute(session_, k, OBJ_ATTR_PRIVATE, zero, 2));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(0u, Qel2SetAttribute(session_, k, OBJ_ATTR_DECRYPT, one, 2));

  // The RSA public key as modulus and exponent, and as exported bytes.
  Bytes modulus(64, 0xA5);
  modulus[0] = 0xC1;
  ObjectSeed pub;
  pub.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 2), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 0),
                    ObjectAttr::bytes(OBJ_ATTR_MODULUS, modulus),
                    ObjectAttr::number(OBJ_ATTR_PUBLIC_EXPONENT, 65537)};
  const uint64_t p = seed(pub);
  Uint8 mod[128] = {};
  Uint32 mod_len = sizeof mod;
  Uint32 exponent = 0;
  ASSERT_EQ(0u, Qel2ExportRSAPublicKeyPlain(session_, p, mod, &mod_len, &exponent));
  EXPECT_EQ(64u, mod_len);
  EXPECT_EQ(modulus, Bytes(mod, mod + 64));
  EXPECT_EQ(0x00010001u, __builtin_bswap32(exponent) >> 8);  // 01 00 01, as the HSM keeps it
  Uint32 der_len = 0;
  ASSERT_EQ(RET_RESULT_SIZE, Qel2ExportPublicKey(session_, p, nullptr, &der_len));
  ASSERT_GT(der_len, 64u);
  Bytes der(der_len);
  ASSERT_EQ(0u, Qel2ExportPublicKey(session_, p, der.data(), &der_len));
  EXPECT_EQ(0x30, der[0]);
  // Signing is not for public keys: refused by the check, nothing changed.
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2SetAttribute(session_, p, OBJ_ATTR_SIGN, one, 2));
  testing::internal::GetCapturedStdout();
}

TEST_F(EndToEnd, TokenFlagThroughSetAttribute) {
  const uint64_t k = aes("session key", false);
  ASSERT_FALSE(d().hsm().object(k)->token);
  Uint8 one[] = {'1', 0}, zero[] = {'0', 0};
  ASSERT_EQ(0u, Qel2SetAttribute(session_, k, OBJ_ATTR_TOKEN, one, 2));
  EXPECT_TRUE(d().hsm().object(k)->token);
  EXPECT_EQ(text("1"), attribute(k, OBJ_ATTR_TOKEN));
  // A token object does not go back to the session.
  EXPECT_NE(0u, Qel2SetAttribute(session_, k, OBJ_ATTR_TOKEN, zero, 2));
  EXPECT_TRUE(d().hsm().object(k)->token);
}

TEST_F(EndToEnd, ShareAndKeyInformation) {
  ASSERT_TRUE(d().hsm().add_user(defaults::kPartition, "alice", hsmsim::UserType::CryptoUser,
                                 "alice_password"));
  const Uint16 alice = Uint16(d().hsm().user(defaults::kPartition, "alice")->id);
  const uint64_t k = aes("shared");
  ASSERT_EQ(0u, Qel2ShareKey(session_, k, 1, nullptr, 0, &alice, 1, nullptr));
  Uint16 users[8] = {};
  Uint8 sess_count = 8, user_count = 8, m = 0xEE;
  ASSERT_EQ(0u, Qel2GetKeyInfo(session_, k, nullptr, &sess_count, users, &user_count, &m, nullptr));
  EXPECT_EQ(0, sess_count);
  EXPECT_EQ(1, user_count);
  EXPECT_EQ(alice, users[0]);
  EXPECT_EQ((std::vector<uint16_t>{alice}), d().hsm().object(k)->shared_users);

  ASSERT_EQ(0u, Qel2ShareKey(session_, k, 0, nullptr, 0, &alice, 1, nullptr));
  EXPECT_TRUE(d().hsm().object(k)->shared_users.empty());
}

TEST_F(EndToEnd, DestroyAndTombstone) {
  const uint64_t gone = aes("gone"), tomb = aes("tomb");
  ASSERT_EQ(0u, Qel2DeleteKey(session_, gone));
  EXPECT_FALSE(d().hsm().object(gone));
  EXPECT_NE(0u, Qel2DeleteKey(session_, gone));

  EXPECT_NE(0u, Qel2DeleteTombstoneKey(session_, tomb));  // not tombstoned yet
  ASSERT_EQ(0u, Qel2TombstoneKey(session_, tomb));
  EXPECT_TRUE(d().hsm().object(tomb)->tombstoned);
  Uint32 len = 0;
  EXPECT_NE(0u, Qel2GetAttribute(session_, tomb, OBJ_ATTR_CLASS, nullptr, &len));
  ASSERT_EQ(0u, Qel2DeleteTombstoneKey(session_, tomb));
  EXPECT_FALSE(d().hsm().object(tomb));
}

TEST_F(EndToEnd, MaskedExportAndReinsert) {
  const uint64_t k = aes("masked");
  const auto before = *d().hsm().object(k);
  Uint8 probe[1];
  Uint32 len = 0;
  ASSERT_EQ(0u, Qel2ExtractMaskedObjectWithUserInfo(session_, k, probe, &len, nullptr));
  ASSERT_EQ(0u, (len - 8) % 16);
  Bytes masked(len);
  ASSERT_EQ(0u, Qel2ExtractMaskedObjectWithUserInfo(session_, k, masked.data(), &len, nullptr));
  ASSERT_EQ(masked.size(), len);

  ASSERT_EQ(0u, Qel2DeleteKey(session_, k));
  Uint64 back = 0;
  ASSERT_EQ(0u,
            Qel2InsertMaskedObjectWithUserInfo(session_, &back, masked.data(), len, 0, nullptr));
  ASSERT_NE(0u, back);
  const auto after = *d().hsm().object(back);
  EXPECT_EQ(before.key, after.key);
  EXPECT_EQ(before.attributes, after.attributes);

  // The older pair, with an object class.
  len = Uint32(masked.size());
  ASSERT_EQ(0u, Qel2ExtractMaskedObject(session_, back, 4, masked.data(), &len));
  Uint64 again = 0;
  ASSERT_EQ(0u, Qel2InsertMaskedObject(session_, &again, masked.data(), len, 0));
  EXPECT_EQ(before.key, d().hsm().object(again)->key);
}

TEST_F(EndToEnd, EqualKeyFromTheRebuiltTemplate) {
  ObjectSeed s;
  s.attributes = {
      ObjectAttr::number(OBJ_ATTR_CLASS, 4),         ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
      ObjectAttr::text(OBJ_ATTR_LABEL, "original"),  ObjectAttr::number(OBJ_ATTR_VALUE_LEN, 32),
      ObjectAttr::flag(OBJ_ATTR_ENCRYPT, true),      ObjectAttr::flag(OBJ_ATTR_WRAP, true),
      ObjectAttr::bytes(OBJ_ATTR_ID, Bytes{1, 2, 3})};
  const uint64_t k = seed(s);
  const auto original = *d().hsm().object(k);

  Uint32 size = 0, count = 0;
  std::unique_ptr<Uint8, decltype(&free)> tmpl(GetTemplate(session_, k, &size, &count), &free);
  ASSERT_TRUE(tmpl);
  ObjectSeed copy;
  copy.key = original.key;
  qel2::tmpl::AttrWalker walk(tmpl.get(), size);
  qel2::tmpl::AttrView a;
  while (walk.next(&a))
    copy.attributes.push_back(ObjectAttr{a.type, Bytes(a.value, a.value + a.size)});
  ASSERT_FALSE(walk.malformed());
  ASSERT_EQ(count, copy.attributes.size());
  const uint64_t k2 = seed(copy);
  auto recreated = *d().hsm().object(k2);
  EXPECT_EQ(original.key, recreated.key);
  // The rebuilt label carries a terminating NUL, which the new key keeps.
  EXPECT_EQ(Bytes(Be{}.text("original").u8(0)), recreated.attributes[OBJ_ATTR_LABEL]);
  recreated.attributes[OBJ_ATTR_LABEL] = text("original");
  EXPECT_EQ(original.attributes, recreated.attributes);

  // Public keys are not rebuilt.
  ObjectSeed pub;
  pub.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 2), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 0),
                    ObjectAttr::bytes(OBJ_ATTR_MODULUS, Bytes(64, 0xC3)),
                    ObjectAttr::number(OBJ_ATTR_PUBLIC_EXPONENT, 3)};
  const uint64_t p = seed(pub);
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, GetTemplate(session_, p, &size, &count));
  EXPECT_EQ("Invalid key class for this operation 2\n", testing::internal::GetCapturedStdout());
}

}  // namespace
