// Backup and restore against the stand-in, end to end: an initialised HSM,
// a partition with its users, private data and keys, backed up whole and
// restored into a fresh partition and into a second stand-in (its key
// backup key imported first); every user and every key attribute compared.
// Then what a restore must refuse: a foreign key backup key, an altered
// blob, a wrong integrity value (which zeroises what was restored).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "admin_fixture.h"
#include "qel2_admin.h"
#include "qel2_admin2.h"

using namespace admin_test;
using hsmsim::ObjectAttr;
using hsmsim::ObjectSeed;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kDomainKey(32, 0x3C);  // the KBK-wrapping key both stand-ins share

// Everything a backup hands out, in order.
struct Backup {
  Bytes config;
  std::vector<Bytes> users;  // one sealed record each
  Uint32 user_len = 0;
  std::vector<Bytes> keys;
  Bytes private_data;
  Bytes owner_cert;
  Bytes icv;
};

class BackupScenario : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    ASSERT_TRUE(d().hsm().set_kbk_wrapping_key(kDomainKey));
  }

  // Zeroise, initialise, and a partition "src" with two users, private data
  // and keys.
  Uint32 prepare_source() {
    Uint32 admin = admin_session();
    EXPECT_EQ(0u, Qel2ZeroizeHSM(admin));
    Qel2SDKCleanup();
    admin = admin_session();
    const char *params[] = {"label", "vault", "group_id", "blue"};
    EXPECT_EQ(0u, Qel2InitHSMNew(admin, const_cast<char **>(params), 4));
    EXPECT_EQ(0u, Qel2InitHSMDone(admin));
    Qel2SDKCleanup();
    EXPECT_TRUE(d().hsm().set_kbk_wrapping_key(kDomainKey));  // zeroising took it
    admin = admin_session();
    EXPECT_EQ(0u, Qel2CreatePartition(admin, u8("src"), 3, 2000, 8, 1, 0));
    EXPECT_EQ(0u, Qel2CreatePartition(admin, u8("dst"), 3, 2000, 8, 1, 0));
    Uint32 s = open("src", 1);
    EXPECT_EQ(0u, login(s, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
    for (auto [n, p] : {std::pair{"ann", "ann_pass1"}, std::pair{"ben", "ben_pass22"}})
      EXPECT_EQ(0u, Qel2CreateCUPIN(s, u8(n), len(n), u8(p), len(p)));
    EXPECT_EQ(0u, Qel2LogoutHSM2(s));
    EXPECT_EQ(0u, login(s, KQ_CRYPTO_USER, "ann", "ann_pass1"));
    Bytes blob(3000);
    for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 13);
    EXPECT_EQ(0u, Qel2UpdatePartnPriveData(s, const_cast<Uint8 *>(u8("ledger")), 6, blob.data(),
                                           Uint32(blob.size()), 0));
    seed_keys();
    Bytes cert(700, 0xCE);
    EXPECT_EQ(0u, Qel2StoreCert(s, PARTITION_OWNER_CERT, cert.data(), Uint32(cert.size())));
    EXPECT_EQ(0u, Qel2LogoutHSM2(s));
    EXPECT_EQ(0u, login(s, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
    admin_ = admin;
    return s;
  }

  void seed_keys() {
    const uint16_t ben = uint16_t(d().hsm().user("src", "ben")->id);
    ObjectSeed aes;
    aes.partition = "src";
    aes.owner = "ann";
    aes.attributes = {
        ObjectAttr::number(OBJ_ATTR_CLASS, 4),        ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
        ObjectAttr::text(OBJ_ATTR_LABEL, "payments"), ObjectAttr::number(OBJ_ATTR_VALUE_LEN, 32),
        ObjectAttr::flag(OBJ_ATTR_ENCRYPT, true),     ObjectAttr::flag(OBJ_ATTR_DECRYPT, true),
        ObjectAttr::flag(OBJ_ATTR_EXTRACTABLE, false)};
    aes.shared_users = {ben};
    ASSERT_EQ(0u, d().hsm().seed_object(aes).code);
    // An EC pair of ben's, from OpenSSL.
    EVP_PKEY *k = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    ASSERT_NE(nullptr, k);
    Bytes d32(32), point(65);
    BIGNUM *priv = nullptr;
    EVP_PKEY_get_bn_param(k, "priv", &priv);
    BN_bn2binpad(priv, d32.data(), 32);
    BN_free(priv);
    size_t plen = 0;
    EVP_PKEY_get_octet_string_param(k, "pub", point.data(), point.size(), &plen);
    EVP_PKEY_free(k);
    for (uint32_t cls : {3u, 2u}) {
      ObjectSeed ec;
      ec.partition = "src";
      ec.owner = "ben";
      ec.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, cls),
                       ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 3),
                       ObjectAttr::number(OBJ_ATTR_MODULUS_BITS, 415),
                       ObjectAttr::text(OBJ_ATTR_LABEL, cls == 3 ? "signer" : "signer.pub")};
      if (cls == 3) ec.key = d32;
      ec.public_data = point;
      ec.m_value = 0;
      ASSERT_EQ(0u, d().hsm().seed_object(ec).code);
    }
  }

  // Begin, configuration, users in pages of two, each key, the private
  // data, end with the ICV.
  Backup back_up(Uint32 s) {
    Backup b;
    EXPECT_EQ(0u, Qel2BackupBegin(s, 0, 0, nullptr, 0, 0));
    b.config.resize(512);
    Uint32 n = 512;
    EXPECT_EQ(0u, Qel2BackupConfig(s, 0, b.config.data(), &n));
    b.config.resize(n);
    Uint32 index = 0, r = 0;
    do {
      Bytes page(300);  // two records of the stand-in's length
      Uint32 plen = 300, count = 0;
      r = Qel2BackupUsersFromIndex(s, 0, &index, page.data(), &plen, &count, 0);
      EXPECT_TRUE(r == 0 || r == RET_RESULT_SIZE) << std::hex << r;
      for (Uint32 i = 0; i < count && r <= RET_RESULT_SIZE; ++i)
        b.users.emplace_back(page.begin() + i * plen, page.begin() + (i + 1) * plen);
      b.user_len = plen;
    } while (r == RET_RESULT_SIZE);
    for (const auto &o : d().hsm().objects("src")) {
      Uint32 klen = 0;
      // The size first (a short buffer, as the key backup reports it).
      EXPECT_EQ(Uint32(ERR_ARGUMENTS_BAD), Qel2BackupKey(s, 0, o.handle, nullptr, &klen));
      Bytes k(klen);
      EXPECT_EQ(0u, Qel2BackupKey(s, 0, o.handle, k.data(), &klen));
      b.keys.push_back(k);
    }
    Uint32 olen = 0;
    EXPECT_EQ(Uint32(ERR_BUFFER_TOO_SMALL),
              Qel2BackupObject(s, 0, PARTITION_DATA, UNKNOWN, nullptr, &olen));
    b.private_data.resize(olen);
    EXPECT_EQ(0u, Qel2BackupObject(s, 0, PARTITION_DATA, UNKNOWN, b.private_data.data(), &olen));
    b.owner_cert.resize(1024);
    olen = 1024;
    EXPECT_EQ(0u, Qel2BackupObject(s, 0, ALL, PO_CERT, b.owner_cert.data(), &olen));
    b.owner_cert.resize(olen);
    b.icv.resize(64);
    Uint32 ilen = 64;
    EXPECT_EQ(0u, Qel2BackupEnd2(s, 0, 0, b.icv.data(), &ilen));
    b.icv.resize(ilen);
    return b;
  }

  // The same steps the other way; the result of the end.
  Uint32 restore(Uint32 s, const Backup &b, const Bytes &icv) {
    EXPECT_EQ(0u, Qel2RestoreBegin(s, 0, 0, nullptr, 0, 0));
    Bytes cfg = b.config;
    EXPECT_EQ(0u, Qel2RestoreConfig(s, 0, cfg.data(), Uint32(cfg.size())));
    Bytes all;
    for (const auto &u : b.users) all.insert(all.end(), u.begin(), u.end());
    Uint32 reached = 0;
    EXPECT_EQ(0u, Qel2RestoreUsersFromIndex(s, 0, all.data(), b.user_len, &reached,
                                            Uint32(b.users.size()), 0));
    EXPECT_EQ(b.users.size(), reached);
    for (const auto &k : b.keys) {
      Bytes copy = k;
      Uint64 h = 0;
      EXPECT_EQ(0u, Qel2RestoreKey(s, 0, 0, copy.data(), Uint32(copy.size()), &h));
      EXPECT_NE(0u, h);
    }
    Bytes pd = b.private_data;
    EXPECT_EQ(0u, Qel2RestoreObject(s, 0, PARTITION_DATA, UNKNOWN, pd.data(), Uint32(pd.size())));
    Bytes oc = b.owner_cert;
    EXPECT_EQ(0u, Qel2RestoreObject(s, 0, ALL, PO_CERT, oc.data(), Uint32(oc.size())));
    Bytes i = icv;
    return Qel2RestoreEnd2(s, 0, 0, i.data(), Uint32(i.size()));
  }

  // The source's key backup key into another partition (of this or another stand-in).
  Bytes export_kbk(Uint32 admin, Uint32 partition) {
    Bytes parts(256);
    Uint32 l1 = 256, l2 = 0, l3 = 0;
    EXPECT_EQ(0u, Qel2ExportKBK(admin, parts.data(), &l1, &l2, &l3, partition, 0));
    EXPECT_EQ(120u, l1 + l2 + l3);
    parts.resize(120);
    return parts;
  }
  Uint32 import_kbk(Uint32 admin, Bytes parts, Uint32 partition) {
    return Qel2ImportKBK(admin, parts.data(), parts.data() + 40, parts.data() + 80, 40, 40, 40,
                         partition, 0);
  }

  Uint32 admin_ = 0;
};

// What makes a partition's users and keys: compared across partitions and
// stand-ins by name and label, not by handle or id.
struct UserFace {
  hsmsim::UserType type;
  bool operator==(const UserFace &) const = default;
};
std::map<std::string, UserFace> users_of(hsmsim::Hsm &h, const std::string &p) {
  std::map<std::string, UserFace> out;
  for (const auto &u : h.users(p)) out[u.name] = {u.type};
  return out;
}

struct KeyFace {
  std::string owner;
  std::vector<std::string> shared;
  uint8_t m_value;
  std::map<uint32_t, Bytes> attributes;
  Bytes key, public_data;
  bool token;
  bool operator==(const KeyFace &) const = default;
};
std::map<std::string, KeyFace> keys_of(hsmsim::Hsm &h, const std::string &p) {
  std::map<std::string, KeyFace> out;
  for (const auto &o : h.objects(p)) {
    KeyFace f{o.owner_name, {}, o.m_value, o.attributes, o.key, o.public_data, o.token};
    for (uint16_t id : o.shared_users)
      for (const auto &u : h.users(p))
        if (u.id == id) f.shared.push_back(u.name);
    const auto &label = o.attributes.at(OBJ_ATTR_LABEL);
    out[std::string(label.begin(), label.end())] = f;
  }
  return out;
}

TEST_F(BackupScenario, RestoredIntoAFreshPartitionAndAnotherStandIn) {
  const Uint32 s = prepare_source();
  ASSERT_FALSE(HasFailure());
  const Backup b = back_up(s);
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(3u, b.users.size());  // the officer and both users
  EXPECT_EQ(3u, b.keys.size());
  EXPECT_EQ(32u, b.icv.size());
  const auto want_users = users_of(d().hsm(), "src");
  const auto want_keys = keys_of(d().hsm(), "src");
  ASSERT_EQ(3u, want_keys.size());

  // A fresh partition of this stand-in: its own KBK cannot open the blobs
  // until the source's is imported.
  const Uint32 src_no = (s >> 24) & 0x3F;
  const Bytes kbk = export_kbk(admin_, src_no);
  Uint32 t = open("dst", 2);
  ASSERT_EQ(0u, login(t, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
  ASSERT_EQ(0u, Qel2RestoreBegin(t, 0, 0, nullptr, 0, 0));
  Bytes cfg = b.config;
  EXPECT_EQ(Uint32(RET_RESTORE_OBJECT_CONSISTENCY_ERR),
            Qel2RestoreConfig(t, 0, cfg.data(), Uint32(cfg.size())));
  ASSERT_EQ(0u, Qel2RestoreEnd(t, 0, 0));
  ASSERT_EQ(0u, import_kbk(admin_, kbk, (t >> 24) & 0x3F));
  ASSERT_EQ(0u, restore(t, b, b.icv));
  EXPECT_EQ(want_users, users_of(d().hsm(), "dst"));
  EXPECT_EQ(want_keys, keys_of(d().hsm(), "dst"));
  // The users log in with their own passwords; the private data reads back.
  ASSERT_EQ(0u, Qel2LogoutHSM2(t));
  ASSERT_EQ(0u, login(t, KQ_CRYPTO_USER, "ben", "ben_pass22"));
  Bytes got(4000);
  Uint32 n = 4000;
  ASSERT_EQ(0u, Qel2GetPartnPriveData(t, const_cast<Uint8 *>(u8("ledger")), 6, got.data(), &n, 0));
  ASSERT_EQ(3000u, n);
  for (size_t i = 0; i < n; ++i) ASSERT_EQ(uint8_t(i * 13), got[i]) << i;
  n = 4000;
  ASSERT_EQ(0u, Qel2GetCert(t, PARTITION_OWNER_CERT, got.data(), &n));
  EXPECT_EQ(Bytes(700, 0xCE), Bytes(got.begin(), got.begin() + n));

  // A second stand-in of the same domain: a fresh partition there.
  Qel2SDKCleanup();
  hsmsim::Daemon other;
  ASSERT_TRUE(other.hsm().set_kbk_wrapping_key(kDomainKey));
  ASSERT_TRUE(other.hsm().add_partition("copy"));
  other.export_env();
  Uint32 admin2 = admin_session();
  Uint32 c = open("copy", 1);
  ASSERT_EQ(0u, import_kbk(admin2, kbk, (c >> 24) & 0x3F));
  ASSERT_TRUE(other.hsm().add_user("copy", defaults::kOfficerName, hsmsim::UserType::CryptoOfficer,
                                   defaults::kOfficerPassword));
  ASSERT_EQ(0u, login(c, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
  ASSERT_EQ(0u, restore(c, b, b.icv));
  EXPECT_EQ(want_users, users_of(other.hsm(), "copy"));
  EXPECT_EQ(want_keys, keys_of(other.hsm(), "copy"));
  Qel2SDKCleanup();
  d().export_env();
}

TEST_F(BackupScenario, RestoreRefusesWhatDoesNotBelong) {
  const Uint32 s = prepare_source();
  ASSERT_FALSE(HasFailure());
  const Backup b = back_up(s);
  ASSERT_FALSE(HasFailure());
  Uint32 t = open("dst", 2);
  ASSERT_EQ(0u, import_kbk(admin_, export_kbk(admin_, (s >> 24) & 0x3F), (t >> 24) & 0x3F));
  ASSERT_EQ(0u, login(t, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
  const auto users_before = users_of(d().hsm(), "dst");

  // An altered key blob is not taken; nor is a key whose owner is not there.
  ASSERT_EQ(0u, Qel2RestoreBegin(t, 0, 0, nullptr, 0, 0));
  Bytes k = b.keys[0];
  k[k.size() / 2] ^= 1;
  Uint64 h = 0;
  EXPECT_EQ(Uint32(RET_RESTORE_OBJECT_CONSISTENCY_ERR),
            Qel2RestoreKey(t, 0, 0, k.data(), Uint32(k.size()), &h));
  k = b.keys[0];
  EXPECT_EQ(Uint32(RET_RESTORE_OBJECT_OWNER_ERR),
            Qel2RestoreKey(t, 0, 0, k.data(), Uint32(k.size()), &h));
  EXPECT_EQ(0u, h);
  // A backup cannot begin while the restore runs.
  EXPECT_EQ(Uint32(RET_OPERATION_IN_PROGRESS), Qel2BackupBegin(t, 0, 0, nullptr, 0, 0));
  ASSERT_EQ(0u, Qel2RestoreEnd(t, 0, 0));
  // Outside a run nothing is taken.
  EXPECT_EQ(Uint32(RET_INVALID_INPUT), Qel2RestoreKey(t, 0, 0, k.data(), Uint32(k.size()), &h));

  // A whole restore with a wrong ICV: refused at the end, and what it
  // brought is gone again.
  Bytes wrong = b.icv;
  wrong[0] ^= 0x80;
  EXPECT_EQ(Uint32(RET_INTEGRITY_CHECK_FAILED), restore(t, b, wrong));
  EXPECT_EQ(users_before, users_of(d().hsm(), "dst"));
  EXPECT_TRUE(d().hsm().objects("dst").empty());
  // Blobs given out of order fail the check as well.
  Backup swapped = b;
  std::swap(swapped.keys[0], swapped.keys[1]);
  EXPECT_EQ(Uint32(RET_INTEGRITY_CHECK_FAILED), restore(t, swapped, b.icv));
  EXPECT_EQ(0u, restore(t, b, b.icv));
  EXPECT_EQ(3u, d().hsm().objects("dst").size());
}

// The HSM scope from the administrators' partition: the HSM's own entry and
// a partition's entry with its officers, restored as a partition that did
// not exist.
TEST_F(BackupScenario, HsmScopeRoundTrip) {
  const Uint32 s = prepare_source();
  ASSERT_FALSE(HasFailure());
  const Uint8 src_no = Uint8((s >> 24) & 0x3F);
  const Uint32 a = admin_;
  ASSERT_EQ(0u, Qel2BackupBegin(a, 1, 0, nullptr, 0, 0));
  Bytes hsm_cfg(512), part_cfg(512), users(1024), icv(32);
  Uint32 hl = 512, pl = 512, ul = 1024, count = 0, il = 32;
  ASSERT_EQ(0u, Qel2BackupHSMConfig(a, hsm_cfg.data(), &hl, 0));
  ASSERT_EQ(0u, Qel2BackupHSMConfig(a, part_cfg.data(), &pl, src_no));
  // A buffer too small for one record: told so, and the page is not lost.
  Uint32 index = 0, small = 100;
  EXPECT_EQ(Uint32(ERR_BUFFER_TOO_SMALL),
            Qel2BackupHSMUsersFromIndex(a, &index, users.data(), &small, &count, KQ_CRYPTO_OFFICER,
                                        src_no));
  EXPECT_EQ(0u, index);
  EXPECT_EQ(1u, count);
  EXPECT_LT(100u, small);  // one record's length
  ASSERT_EQ(0u, Qel2BackupHSMUsersFromIndex(a, &index, users.data(), &ul, &count, KQ_CRYPTO_OFFICER,
                                            src_no));
  ASSERT_EQ(1u, count);
  EXPECT_EQ(small, ul);
  EXPECT_EQ(1u, index);
  ASSERT_EQ(0u, Qel2BackupEnd2(a, 0, 1, icv.data(), &il));
  ASSERT_EQ(32u, il);

  ASSERT_EQ(0u, Qel2RestoreBegin(a, 0, 1, nullptr, 0, 0));
  // The HSM's entry is not a partition's.
  Uint8 other[] = "other";
  EXPECT_EQ(Uint32(RET_RESTORE_OBJECT_CONSISTENCY_ERR),
            Qel2RestoreHSMConfig(a, hsm_cfg.data(), hl, 8, 1000, 16, 2, other));
  ASSERT_EQ(0u, Qel2RestoreHSMConfig(a, hsm_cfg.data(), hl, 0, 0, 0, 0, nullptr));
  Uint8 name[] = "again";
  ASSERT_EQ(0u, Qel2RestoreHSMConfig(a, part_cfg.data(), pl, 7, 1000, 16, 2, name));
  Uint32 reached = 0;
  ASSERT_EQ(0u,
            Qel2RestoreHSMUsersFromIndex(a, users.data(), ul, &reached, 1, KQ_CRYPTO_OFFICER, 7));
  EXPECT_EQ(1u, reached);
  ASSERT_EQ(0u, Qel2RestoreEnd2(a, 0, 1, icv.data(), il));
  const auto made = d().hsm().users("again");
  ASSERT_EQ(1u, made.size());
  EXPECT_EQ(defaults::kOfficerName, made[0].name);
  Uint8 label[50] = {};
  ASSERT_EQ(0u, Qel2GetHSMLabel(a, label));
  EXPECT_STREQ("vault", reinterpret_cast<char *>(label));
  // The restored officer logs in to the restored partition.
  Uint32 g = open("again", 2);
  EXPECT_EQ(7u, (g >> 24) & 0x3F);
  EXPECT_EQ(0u, login(g, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
}

}  // namespace
