// The stand-in HSM's object store through its requests: reading and
// changing attributes, key information and sharing, destruction and
// tombstones, search and its paging, masked objects, session objects.
#include <gtest/gtest.h>

#include <algorithm>

#include "object_client.h"

using hsmsim::Daemon;
using hsmsim::ObjectAttr;
using hsmsim::ObjectSeed;
using hsmsim::UserType;
namespace def = hsmsim::defaults;
using simtest::Be;
using simtest::be32;
using simtest::be64;
using simtest::bytes;
using simtest::ObjectClient;
using simtest::Tmpl;

namespace {

constexpr uint32_t kInvalidInput = 0x81, kInvalidSession = 0x8B, kNotLoggedIn = 0xA0,
                   kPermissionDenied = 0xA7, kInvalidHandle = 0xA8, kReadOnly = 0xAE,
                   kTypeInvalid = 0xAF, kInconsistent = 0xB0, kResultSize = 0xB7,
                   kWrongPartition = 0xBE, kAccessDenied = 0xC6, kInvalidMValue = 0xD1,
                   kRestoreConsistency = 0xD6, kSessionTombstone = 0x101, kNotTombstoned = 0x102,
                   kTombstoned = 0x103, kUnextractable = 0x11E;

// Attribute numbers.
constexpr uint32_t kClass = 0, kToken = 1, kLabel = 3, kValue = 0x11, kKeyType = 0x100, kId = 0x102,
                   kSensitive = 0x103, kEncrypt = 0x104, kSign = 0x108, kModulus = 0x120,
                   kModulusBits = 0x121, kExponent = 0x122, kValueLen = 0x161, kExtractable = 0x162,
                   kAccess = 0x171, kKcv = 0x173;

// The fixture's partition has the officer (id 1), the crypto user (id 2)
// and a second crypto user, alice (id 3).
struct Objects : ::testing::Test {
  Daemon d;
  ObjectClient c{d};
  uint32_t user = 0, officer = 0, alice = 0;

  void SetUp() override {
    ASSERT_TRUE(d.hsm().add_user(def::kPartition, "alice", UserType::CryptoUser, "alice_password"));
    user = c.login_session(def::kUserName, def::kUserPassword);
    officer = c.login_session(def::kOfficerName, def::kOfficerPassword, 2);
    alice = c.login_session("alice", "alice_password");
    ASSERT_TRUE(user && officer && alice);
  }

  uint64_t aes(const std::string &label, std::vector<uint8_t> key = std::vector<uint8_t>(32, 0x11),
               std::string owner = def::kUserName) {
    ObjectSeed s;
    s.owner = owner;
    s.attributes = {ObjectAttr::number(kClass, 4), ObjectAttr::number(kKeyType, 31),
                    ObjectAttr::text(kLabel, label), ObjectAttr::flag(kEncrypt, true)};
    s.key = std::move(key);
    auto r = d.hsm().seed_object(s);
    EXPECT_EQ(r.code, 0u);
    return r.handle;
  }
  uint64_t seed(ObjectSeed s) {
    auto r = d.hsm().seed_object(s);
    EXPECT_EQ(r.code, 0u);
    return r.handle;
  }
};

}  // namespace

TEST_F(Objects, SingleAttributesReadAsText) {
  uint64_t k = aes("k1");
  EXPECT_EQ(c.attr(user, k, kClass), bytes("4"));
  EXPECT_EQ(c.attr(user, k, kKeyType), bytes("31"));
  EXPECT_EQ(c.attr(user, k, kValueLen), bytes("32"));
  EXPECT_EQ(c.attr(user, k, kEncrypt), bytes("1"));
  EXPECT_EQ(c.attr(user, k, kSign), bytes("0"));       // usage flags default to false
  EXPECT_EQ(c.attr(user, k, kSensitive), bytes("1"));  // and keys to sensitive
  EXPECT_EQ(c.attr(user, k, kToken), bytes("1"));
  EXPECT_EQ(c.attr(user, k, kLabel), bytes("k1"));
  EXPECT_EQ(c.attr(user, k, kAccess), bytes("1"));
  // The key check value of AES: the first 3 bytes of a zero block encrypted.
  EXPECT_EQ(c.attr(user, k, kKcv).size(), 3u);
  EXPECT_EQ(c.attr(user, aes("zero", std::vector<uint8_t>(16, 0)), kKcv),
            (std::vector<uint8_t>{0x66, 0xE9, 0x4B}));

  EXPECT_EQ(c.get_attr(user, k, kId, 16).code, kTypeInvalid);
  EXPECT_EQ(c.get_attr(user, k, kValue, 64).code, kUnextractable);
  // The size alone, and a buffer too short: RET_RESULT_SIZE with the length.
  auto size = c.get_attr(user, k, kLabel, 0);
  EXPECT_EQ(size.code, kResultSize);
  EXPECT_EQ(be32(size.payload, 16), 2u);
  auto shortbuf = c.get_attr(user, k, kValueLen, 1);
  EXPECT_EQ(shortbuf.code, kResultSize);
  EXPECT_EQ(be32(shortbuf.payload, 16), 2u);
  EXPECT_EQ(shortbuf.payload.size(), 20u);
}

// The binary form the template-rebuilding code reads: Object head, then in
// ascending number each attribute with booleans, class and key type as one
// byte and lengths as 32 bits; never the key value.
TEST_F(Objects, AllAttributesAreTheKeptForm) {
  uint64_t k = aes("k1");
  auto size = c.get_all(user, k, 0);
  ASSERT_EQ(size.code, kResultSize);
  uint32_t len = be32(size.payload, 16);
  auto a = c.get_all(user, k, len);
  ASSERT_EQ(a.code, 0u);
  ASSERT_EQ(be32(a.payload, 16), len);
  std::vector<uint8_t> data(a.payload.begin() + 20, a.payload.end());
  ASSERT_EQ(data.size(), len);
  EXPECT_EQ(be32(data, 0), 0u);
  uint32_t count = be32(data, 4);
  EXPECT_EQ(be32(data, 8), len - 12);  // the attribute bytes after the head
  std::map<uint32_t, std::vector<uint8_t>> attrs;
  uint32_t last = 0;
  size_t off = 12;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t type = be32(data, off), n = be32(data, off + 4);
    ASSERT_LE(off + 8 + n, data.size());
    EXPECT_TRUE(i == 0 || type > last);
    last = type;
    attrs[type] = {data.begin() + off + 8, data.begin() + off + 8 + n};
    off += 8 + n;
  }
  EXPECT_EQ(off, data.size());
  EXPECT_EQ(attrs[kClass], (std::vector<uint8_t>{4}));
  EXPECT_EQ(attrs[kKeyType], (std::vector<uint8_t>{31}));
  EXPECT_EQ(attrs[kToken], (std::vector<uint8_t>{1}));
  EXPECT_EQ(attrs[kLabel], bytes("k1"));
  EXPECT_EQ(attrs[kValueLen], (std::vector<uint8_t>{0, 0, 0, 32}));
  EXPECT_FALSE(attrs.count(kValue));
  EXPECT_EQ(d.hsm().object_all_attributes(k), data);

  // Attested: the answer's segments at full size, then 256 bytes.
  auto att = c.call(34, {ObjectClient::handle_cmd(user, k)}, {20, len + 4, 256}, user, 0, true);
  ASSERT_EQ(att.code, 0u);
  EXPECT_EQ(att.payload.size(), 20 + len + 4 + 256);
}

TEST_F(Objects, WhoMayDoWhat) {
  uint64_t mine = aes("mine");
  // Another user's key, a handle nobody has, and no login.
  EXPECT_EQ(c.get_attr(alice, mine, kClass, 8).code, kAccessDenied);
  EXPECT_EQ(c.simple(17, alice, mine), kAccessDenied);
  EXPECT_EQ(c.get_attr(user, mine + 1000, kClass, 8).code, kInvalidHandle);
  EXPECT_EQ(c.get_attr(user, 0, kClass, 8).code, kInvalidHandle);
  auto app = c.hsm().app_init(def::kPartition);
  auto anon = c.hsm().open_session(app.id, app.nonce);
  EXPECT_EQ(c.get_attr(anon.handle, mine, kClass, 8).code, kNotLoggedIn);
  EXPECT_EQ(c.get_attr(0x3FFFFFFF, mine, kClass, 8).code, kInvalidSession);
  // Objects of another partition are not there.
  ASSERT_TRUE(d.hsm().add_partition("P2"));
  ASSERT_TRUE(d.hsm().add_user("P2", "bob", UserType::CryptoUser, "bob_password"));
  uint32_t bob = c.login_session("bob", "bob_password", 1, "P2");
  EXPECT_EQ(c.get_attr(bob, mine, kClass, 8).code, kInvalidHandle);
  EXPECT_EQ(c.find(22, bob, Tmpl(), 8, 0, 0, 1).code, kWrongPartition);

  // Shared with alice: she reads it, but only the owner changes or destroys it.
  Be share;
  share.bytes(ObjectClient::handle_cmd(user, mine, 1));
  auto list = Be().text("users:", 8).u8(1).u16(3).b;
  ASSERT_EQ(c.call(18, {share.b, list}, {16}, user).code, 0u);
  EXPECT_EQ(c.attr(alice, mine, kLabel), bytes("mine"));
  EXPECT_EQ(c.set_attr(alice, mine, kLabel, bytes("hers")), kAccessDenied);
  EXPECT_EQ(c.simple(17, alice, mine), kAccessDenied);
  EXPECT_EQ(c.set_attr(user, mine, kLabel, bytes("ours")), 0u);
  EXPECT_EQ(c.attr(alice, mine, kLabel), bytes("ours"));
}

TEST_F(Objects, ChangingAttributes) {
  uint64_t k = aes("k");
  EXPECT_EQ(c.set_attr(user, k, kClass, bytes("3\n")), kReadOnly);
  EXPECT_EQ(c.set_attr(user, k, kValueLen, bytes("16\n")), kReadOnly);
  EXPECT_EQ(c.set_attr(user, k, 4, bytes("1")), kTypeInvalid);
  EXPECT_EQ(c.set_attr(user, k, kSign, bytes("yes")), 0xAAu);
  EXPECT_EQ(c.set_attr(user, k, kSign, {'1', 0}), 0u);
  EXPECT_EQ(c.attr(user, k, kSign), bytes("1"));
  // One way only: sensitive stays sensitive, unextractable stays so.
  EXPECT_EQ(c.set_attr(user, k, kSensitive, {'0', 0}), kReadOnly);
  EXPECT_EQ(c.set_attr(user, k, kExtractable, {'0', 0}), 0u);
  EXPECT_EQ(c.set_attr(user, k, kExtractable, {'1', 0}), kReadOnly);
  EXPECT_EQ(c.set_attr(user, k, kToken, {'0', 0}), kReadOnly);
  // A private key never encrypts.
  ObjectSeed rsa;
  rsa.attributes = {ObjectAttr::number(kClass, 3), ObjectAttr::number(kKeyType, 0)};
  rsa.key = {1, 2, 3};
  uint64_t priv = seed(rsa);
  EXPECT_EQ(c.set_attr(user, priv, kEncrypt, {'1', 0}), kInconsistent);
  EXPECT_EQ(c.set_attr(user, priv, kEncrypt, {'0', 0}), 0u);
  // Malformed: the value runs past the end.
  auto cmd = Be().bytes(ObjectClient::handle_cmd(user, k)).u32(kLabel).u32(10).b;
  EXPECT_EQ(c.call(21, {cmd, bytes("abc")}, {16}, user).code, kInvalidInput);
}

TEST_F(Objects, KeyInformationSharingAndMValue) {
  ObjectSeed s;
  s.attributes = {ObjectAttr::number(kClass, 4), ObjectAttr::number(kKeyType, 31),
                  ObjectAttr::number(kValueLen, 16)};
  s.shared_users = {1};
  s.m_value = 2;
  uint64_t k = seed(s);
  auto info_cmd = [&](uint32_t sess) {
    auto cmd = ObjectClient::handle_cmd(sess, k);
    cmd.resize(68, 0);
    return c.call(16, {cmd}, {68}, sess);
  };
  auto info = info_cmd(user);
  ASSERT_EQ(info.code, 0u);
  ASSERT_EQ(info.payload.size(), 68u);
  EXPECT_EQ(info.payload[16], 0u);     // sessions
  EXPECT_EQ(info.payload[17], 0x12u);  // one user, M value 2
  EXPECT_EQ(info.payload[52], 0u);
  EXPECT_EQ(info.payload[53], 1u);

  auto share = [&](uint32_t word, std::vector<uint8_t> list) {
    return c.call(18, {ObjectClient::handle_cmd(user, k, word), list}, {16}, user).code;
  };
  auto users = [](std::vector<uint16_t> ids) {
    Be b;
    b.text("users:", 8).u8(uint8_t(ids.size()));
    for (auto u : ids) b.u16(u);
    return b.b;
  };
  Be sessions;
  sessions.text("sessns:", 8).u8(1).u32(alice);
  auto both = sessions.b;
  auto alice_user = users({3});
  both.insert(both.end(), alice_user.begin(), alice_user.end());
  EXPECT_EQ(share(1, both), 0u);
  info = info_cmd(user);
  EXPECT_EQ(info.payload[16], 1u);
  EXPECT_EQ(be32(info.payload, 20), alice);
  EXPECT_EQ(info.payload[17], 0x22u);
  EXPECT_EQ(c.attr(user, k, kAccess), bytes("3"));

  EXPECT_EQ(share(1, users({99})), 0xCEu);        // no such user
  EXPECT_EQ(share(1, users({})), kInvalidInput);  // empty block
  EXPECT_EQ(share(1, bytes("nonsense:")), kInvalidInput);
  EXPECT_EQ(share(0, users({3})), 0u);              // unshare alice: users 1, M 2 still fits
  EXPECT_EQ(share(0, users({1})), kInvalidMValue);  // would leave M 2 with the owner alone
  EXPECT_EQ(info_cmd(user).payload[17], 0x12u);
}

TEST_F(Objects, DestroyAndTombstones) {
  uint64_t a = aes("a"), b = aes("b");
  EXPECT_EQ(c.simple(46, user, a), kNotTombstoned);
  EXPECT_EQ(c.simple(45, user, a), 0u);
  EXPECT_EQ(c.simple(45, user, a), kTombstoned);
  EXPECT_EQ(c.get_attr(user, a, kClass, 8).code, kTombstoned);
  EXPECT_EQ(c.simple(17, user, a), kTombstoned);
  EXPECT_TRUE(ObjectClient::handles(c.find(22, user, Tmpl().raw(kLabel, bytes("a")), 8)).empty());
  EXPECT_EQ(c.simple(46, alice, a), kAccessDenied);
  EXPECT_EQ(c.simple(46, user, a), 0u);
  EXPECT_FALSE(d.hsm().object(a));
  EXPECT_EQ(c.simple(17, user, b), 0u);
  EXPECT_EQ(c.simple(17, user, b), kInvalidHandle);
  // Session objects cannot be tombstoned.
  ObjectSeed s;
  s.session = user;
  s.attributes = {ObjectAttr::number(kClass, 4), ObjectAttr::number(kKeyType, 31),
                  ObjectAttr::number(kToken, 0), ObjectAttr::number(kValueLen, 24)};
  EXPECT_EQ(c.simple(45, user, seed(s)), kSessionTombstone);
  // The server index bits of a handle are not the HSM's.
  uint64_t e = aes("e");
  EXPECT_EQ(c.attr(user, e | (3u << 27), kLabel), bytes("e"));
}

TEST_F(Objects, SearchFollowsTheTemplate) {
  uint64_t k1 = aes("k1", std::vector<uint8_t>(16, 1));
  uint64_t k2 = aes("k2", std::vector<uint8_t>(32, 2));
  ObjectSeed shared;
  shared.attributes = {ObjectAttr::number(kClass, 4), ObjectAttr::number(kKeyType, 21),
                       ObjectAttr::text(kLabel, "k3")};
  shared.key = std::vector<uint8_t>(24, 3);
  shared.shared_users = {1};
  shared.m_value = 2;
  uint64_t k3 = seed(shared);
  ObjectSeed pub;
  pub.attributes = {ObjectAttr::number(kClass, 2), ObjectAttr::number(kKeyType, 0),
                    ObjectAttr::bytes(kModulus, std::vector<uint8_t>(8, 0xC5)),
                    ObjectAttr::number(kExponent, 65537)};
  uint64_t p = seed(pub);
  aes("k1", std::vector<uint8_t>(16, 1), "alice");  // not the user's
  uint64_t gone = aes("k1");
  ASSERT_EQ(c.simple(45, user, gone), 0u);

  auto found = [&](const Tmpl &t) {
    auto a = c.find(22, user, t, 16);
    EXPECT_EQ(a.code, 0u);
    return ObjectClient::handles(a);
  };
  using H = std::vector<uint64_t>;
  EXPECT_EQ(found(Tmpl()), (H{k1, k2, k3, p}));
  EXPECT_EQ(found(Tmpl().num(kClass, 4)), (H{k1, k2, k3}));
  EXPECT_EQ(found(Tmpl().num(kClass, 4).num(kKeyType, 31)), (H{k1, k2}));
  EXPECT_EQ(found(Tmpl().raw(kLabel, {'k', '1', 0})), (H{k1}));  // labels compare up to their NUL
  EXPECT_EQ(found(Tmpl().num(kValueLen, 32)), (H{k2}));
  EXPECT_EQ(found(Tmpl().num(kToken, 1).flag(kEncrypt, true)), (H{k1, k2}));
  EXPECT_EQ(found(Tmpl().flag(kSign, false).num(kClass, 2)), (H{p}));  // absent flags are false
  // What the search-by-arguments template always carries matches anything.
  EXPECT_EQ(found(Tmpl().num(kAccess, 1).users({}).m_value(0)), (H{k1, k2, k3, p}));
  EXPECT_EQ(found(Tmpl().users({1})), (H{k3}));
  EXPECT_EQ(found(Tmpl().users({2})), (H{k1, k2, k3, p}));  // the owner
  EXPECT_EQ(found(Tmpl().m_value(2)), (H{k3}));
  EXPECT_EQ(found(Tmpl().raw(kModulus, std::vector<uint8_t>(8, 0xC5)).num(kModulusBits, 64)),
            (H{p}));
  EXPECT_EQ(found(Tmpl().num(kExponent, 65537).num(kClass, 2)), (H{p}));
  // Key check values: an all-zero one matches anything, a short one right-aligned in 8 bytes
  // matches.
  EXPECT_EQ(found(Tmpl().raw(kKcv, std::vector<uint8_t>(8, 0)).num(kClass, 4)), (H{k1, k2, k3}));
  auto kcv = c.attr(user, k2, kKcv);
  std::vector<uint8_t> kcv8(5, 0);
  kcv8.insert(kcv8.end(), kcv.begin(), kcv.end());
  EXPECT_EQ(found(Tmpl().raw(kKcv, kcv8)), (H{k2}));
  EXPECT_EQ(found(Tmpl().raw(kKcv, kcv)), (H{k2}));
  // Alice sees her own key and, once shared, k1.
  EXPECT_EQ(ObjectClient::handles(c.find(22, alice, Tmpl().raw(kLabel, bytes("k1")), 16)).size(),
            1u);
  // A malformed template is refused, not half-read.
  auto bad = Tmpl().num(kClass, 4);
  bad.b.pop_back();
  EXPECT_EQ(c.find(22, user, bad, 4).code, kInvalidInput);
}

TEST_F(Objects, SearchPages) {
  std::vector<uint64_t> keys;
  for (int i = 0; i < 5; ++i) keys.push_back(aes("p"));
  auto t = Tmpl().raw(kLabel, bytes("p"));
  // Count only: RET_RESULT_SIZE with the number of matches.
  auto count = c.find(205, user, t, 0);
  EXPECT_EQ(count.code, kResultSize);
  EXPECT_EQ(be32(count.payload, 16), 5u);
  EXPECT_EQ(c.find(205, user, Tmpl().raw(kLabel, bytes("none")), 0).code, 0u);
  // Room for 2 of 5, then from index 2 and 4; the count is what is left from the index.
  auto p0 = c.find(191, user, t, 2, 0);
  EXPECT_EQ(p0.code, kResultSize);
  EXPECT_EQ(be32(p0.payload, 16), 5u);
  EXPECT_EQ(ObjectClient::handles(p0), (std::vector<uint64_t>{keys[0], keys[1]}));
  auto p2 = c.find(191, user, t, 2, 2);
  EXPECT_EQ(ObjectClient::handles(p2), (std::vector<uint64_t>{keys[2], keys[3]}));
  auto p4 = c.find(191, user, t, 2, 4);
  EXPECT_EQ(p4.code, 0u);
  EXPECT_EQ(be32(p4.payload, 16), 1u);
  EXPECT_EQ(ObjectClient::handles(p4), (std::vector<uint64_t>{keys[4]}));
  EXPECT_EQ(be32(c.find(191, user, t, 2, 9).payload, 16), 0u);

  // The counted form continues over the matches it started with.
  auto first = c.find(205, user, t, 2, 0);
  ASSERT_NE(first.op_ctx, 0u);
  EXPECT_EQ(c.find(22, user, t, 2).op_ctx, 0u);  // only the counted form hands out contexts
  aes("p");                                      // not part of the running search
  ASSERT_EQ(c.simple(17, user, keys[3]), 0u);    // gone since
  auto next = c.find(205, user, t, 2, 2, first.op_ctx);
  EXPECT_EQ(next.code, 0u);
  EXPECT_EQ(ObjectClient::handles(next), (std::vector<uint64_t>{keys[2], keys[4]}));
  EXPECT_EQ(next.op_ctx, 0u);
  EXPECT_EQ(d.hsm().open_searches(), 0u);
  EXPECT_EQ(c.find(205, user, t, 2, 2, first.op_ctx).code, kInvalidInput);  // finished
  // Another session cannot continue it; closing the session drops it.
  auto again = c.find(205, user, t, 1, 0);
  EXPECT_EQ(c.find(205, alice, t, 1, 1, again.op_ctx).code, kInvalidInput);
  EXPECT_EQ(d.hsm().open_searches(), 1u);
  EXPECT_EQ(c.hsm().close_session(user, c.nonce(user)), 0u);
  EXPECT_EQ(d.hsm().open_searches(), 0u);
}

TEST_F(Objects, ObjectsOfAUser) {
  uint64_t a = aes("a"), b = aes("b");
  aes("c", std::vector<uint8_t>(16, 9), "alice");
  ASSERT_EQ(c.simple(45, user, b), 0u);
  auto list = [&](uint16_t opcode, uint32_t sess, uint32_t uid, uint32_t room_records,
                  uint32_t index = 0) {
    Be cmd;
    cmd.u32(index).u32(0).u32(0).u32(sess).u32(uid);
    std::vector<uint32_t> out = {24};
    if (room_records) out.push_back(room_records * 9);
    return c.call(opcode, {cmd.b}, out, sess);
  };
  auto mine = list(242, user, 2, 10);
  ASSERT_EQ(mine.code, 0u);
  EXPECT_EQ(be32(mine.payload, 16), 2u);
  ASSERT_EQ(mine.payload.size(), 24u + 18u);
  EXPECT_EQ(be64(mine.payload, 24), a);
  EXPECT_EQ(mine.payload[32], 0u);
  EXPECT_EQ(be64(mine.payload, 33), b);
  EXPECT_EQ(mine.payload[41], 1u);  // tombstoned
  auto count = list(243, user, 2, 0);
  EXPECT_EQ(count.code, kResultSize);
  EXPECT_EQ(be32(count.payload, 16), 2u);
  EXPECT_EQ(be32(list(206, user, 2, 1, 1).payload, 16), 1u);
  EXPECT_EQ(list(242, user, 3, 10).code, kPermissionDenied);
  EXPECT_EQ(be32(list(242, officer, 3, 10).payload, 16), 1u);  // an officer lists anyone's
  EXPECT_EQ(list(242, officer, 77, 10).code, 0xCEu);
}

TEST_F(Objects, MaskedRoundTrip) {
  ObjectSeed s;
  s.attributes = {ObjectAttr::number(kClass, 4), ObjectAttr::number(kKeyType, 31),
                  ObjectAttr::text(kLabel, "m"), ObjectAttr::flag(kSign, true)};
  s.key = std::vector<uint8_t>(32, 0x5A);
  s.shared_users = {3};
  s.m_value = 1;
  uint64_t k = seed(s);
  auto before = *d.hsm().object(k);

  auto extract = [&](uint16_t opcode, uint64_t h, uint32_t room, uint8_t cls = 0) {
    Be cmd;
    cmd.u32(0).u32(0).u32(0).u32(user).u32(uint32_t(cls) << 24).u32(0);
    simtest::u64(cmd, h).u32(0);
    std::vector<uint32_t> out = {20};
    if (room) out.push_back(room);
    return c.call(opcode, {cmd.b}, out, user);
  };
  auto size = extract(240, k, 0);
  ASSERT_EQ(size.code, 0u);  // the size query answers success
  uint32_t len = be32(size.payload, 16);
  EXPECT_EQ((len - 8) % 16, 0u);
  EXPECT_EQ(extract(240, k, len - 8).code, kResultSize);
  EXPECT_EQ(extract(240, k, len, 3).code, 0x118u);  // not a private key
  auto full = extract(240, k, len);
  ASSERT_EQ(full.code, 0u);
  std::vector<uint8_t> masked(full.payload.begin() + 20, full.payload.end());
  ASSERT_EQ(masked.size(), len);
  EXPECT_EQ(std::search(masked.begin(), masked.end(), before.key.begin(), before.key.end()),
            masked.end());

  auto insert = [&](uint16_t opcode, const std::vector<uint8_t> &m, uint64_t at = 0,
                    uint32_t force = 0, uint32_t sess = 0) {
    sess = sess ? sess : user;
    Be cmd;
    cmd.u32(0).u32(0).u32(0).u32(sess).u32(force).u32(0);
    simtest::u64(cmd, at);
    return c.call(opcode, {cmd.b, Be().u32(uint32_t(m.size())).b, m}, {24}, sess);
  };
  ASSERT_EQ(c.simple(17, user, k), 0u);
  auto back = insert(241, masked);
  ASSERT_EQ(back.code, 0u);
  uint64_t h = be64(back.payload, 16);
  EXPECT_NE(h, k);
  auto after = *d.hsm().object(h);
  EXPECT_EQ(after.key, before.key);
  EXPECT_EQ(after.attributes, before.attributes);
  EXPECT_EQ(after.shared_users, before.shared_users);
  EXPECT_EQ(after.m_value, 1u);
  // Without user info the one who inserts owns it, shared with no one.
  auto plain = insert(130, masked, 0, 0, alice);
  ASSERT_EQ(plain.code, 0u);
  auto hers = *d.hsm().object(be64(plain.payload, 16));
  EXPECT_EQ(hers.owner_name, "alice");
  EXPECT_TRUE(hers.shared_users.empty());
  // Under a handle of choice: refused while taken, replaced when forced.
  EXPECT_EQ(insert(241, masked, h).code, kInvalidHandle);
  auto forced = insert(241, masked, h, 1);
  ASSERT_EQ(forced.code, 0u);
  EXPECT_EQ(be64(forced.payload, 16), h);
  auto free_at = insert(241, masked, 5000);
  EXPECT_EQ(be64(free_at.payload, 16), 5000u);
  EXPECT_EQ(insert(241, masked, 4).code, kInvalidHandle);  // the HSM's own handles
  // Anything but this HSM's masked object is refused.
  auto tampered = masked;
  tampered[len / 2] ^= 1;
  EXPECT_EQ(insert(241, tampered).code, kRestoreConsistency);
  EXPECT_EQ(insert(241, std::vector<uint8_t>(40, 0)).code, kRestoreConsistency);
  EXPECT_EQ(insert(241, std::vector<uint8_t>(8, 0)).code, kRestoreConsistency);
  Daemon other;
  ObjectClient oc(other);
  uint32_t there = oc.login_session(def::kUserName, def::kUserPassword);
  Be cmd;
  cmd.u32(0).u32(0).u32(0).u32(there).u32(0).u32(0).u32(0).u32(0);
  EXPECT_EQ(oc.call(241, {cmd.b, Be().u32(len).b, masked}, {24}, there).code, kRestoreConsistency);
}

TEST_F(Objects, SessionObjectsEndWithTheirSession) {
  auto session_key = [&](uint32_t sess, std::vector<uint32_t> shared = {}) {
    ObjectSeed s;
    s.session = sess;
    s.shared_sessions = shared;
    s.attributes = {ObjectAttr::number(kClass, 4), ObjectAttr::number(kKeyType, 31),
                    ObjectAttr::number(kToken, 0), ObjectAttr::number(kValueLen, 16)};
    return seed(s);
  };
  uint32_t second = c.login_session(def::kUserName, def::kUserPassword);
  ASSERT_NE(second, 0u);
  uint64_t a = session_key(user, {second});
  uint64_t b = session_key(user);
  uint64_t kept = session_key(user);
  uint64_t token = aes("t");
  // Its own session and the sessions it is shared with use it.
  EXPECT_EQ(c.attr(second, a, kToken), bytes("0"));
  EXPECT_EQ(c.get_attr(second, b, kToken, 8).code, kAccessDenied);
  // Made persistent, it outlives the session.
  EXPECT_EQ(c.set_attr(user, kept, kToken, {'1', 0}), 0u);
  EXPECT_EQ(d.hsm().object_count(def::kPartition, false), 2u);
  EXPECT_EQ(d.hsm().object_count(def::kPartition, true), 2u);
  auto info = c.hsm().partition_info(user, def::kPartition);  // token and session keys at 56 and 64
  ASSERT_EQ(info.code, 0u);
  EXPECT_EQ(be32(info.payload, 16 + 56), 2u);
  EXPECT_EQ(be32(info.payload, 16 + 64), 2u);

  ASSERT_EQ(c.hsm().close_session(user, c.nonce(user)), 0u);
  EXPECT_FALSE(d.hsm().object(a));
  EXPECT_FALSE(d.hsm().object(b));
  EXPECT_TRUE(d.hsm().object(kept));
  EXPECT_TRUE(d.hsm().object(token));
  // A session object needs a session; a shared session must be one of the partition.
  ObjectSeed none;
  none.attributes = {ObjectAttr::number(kClass, 4), ObjectAttr::number(kKeyType, 31),
                     ObjectAttr::number(kToken, 0), ObjectAttr::number(kValueLen, 16)};
  EXPECT_EQ(d.hsm().seed_object(none).code, kInvalidSession);
  uint64_t c2 = session_key(second, {alice});
  EXPECT_EQ(d.hsm().object(c2)->shared_sessions, (std::vector<uint32_t>{alice}));
  // Sessions shared with drop out when they end; the whole application's close ends the rest.
  ASSERT_EQ(c.hsm().close_session(alice, c.nonce(alice)), 0u);
  EXPECT_TRUE(d.hsm().object(c2)->shared_sessions.empty());
  d.hsm().reset();
  EXPECT_TRUE(d.hsm().objects().empty());
}

TEST_F(Objects, SeedingChecksLikeCreation) {
  auto code = [&](std::vector<ObjectAttr> attrs, std::vector<uint8_t> key = {}) {
    ObjectSeed s;
    s.attributes = std::move(attrs);
    s.key = std::move(key);
    return d.hsm().seed_object(s).code;
  };
  using A = ObjectAttr;
  EXPECT_EQ(code({A::number(kClass, 4), A::number(kKeyType, 0), A::number(kValueLen, 16)}),
            kInconsistent);
  EXPECT_EQ(code({A::number(kClass, 4), A::number(kKeyType, 31), A::number(kValueLen, 20)}), 0xB1u);
  EXPECT_EQ(code({A::number(kClass, 4), A::number(kKeyType, 31), A::number(kValueLen, 16)},
                 std::vector<uint8_t>(32)),
            kInconsistent);
  EXPECT_EQ(code({A::number(kClass, 4), A::number(kKeyType, 31)}),
            kInconsistent);  // no length, no key
  EXPECT_EQ(code({A::number(kClass, 2), A::number(kKeyType, 0), A::flag(kSign, true)}),
            kInconsistent);
  EXPECT_EQ(code({A::number(kClass, 4), A::number(kKeyType, 31), A::number(kValueLen, 16),
                  A::flag(2, false)}),
            0xAAu);
  ObjectSeed m;
  m.attributes = {A::number(kClass, 4), A::number(kKeyType, 31), A::number(kValueLen, 16)};
  m.m_value = 2;
  EXPECT_EQ(d.hsm().seed_object(m).code, kInvalidMValue);
  m.shared_users = {1, 2};  // the owner is dropped: M 2 still fits one other user
  auto r = d.hsm().seed_object(m);
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(d.hsm().object(r.handle)->shared_users, (std::vector<uint16_t>{1}));
  EXPECT_EQ(d.hsm().object(r.handle)->key.size(), 16u);  // random, of the stated length
}

TEST_F(Objects, PublicKeyExport) {
  // An RSA public key: its SubjectPublicKeyInfo from modulus and exponent.
  std::vector<uint8_t> n(64, 0xA5);
  n[0] = 0xC1;
  n.back() = 0x01;
  ObjectSeed pub;
  pub.attributes = {ObjectAttr::number(kClass, 2), ObjectAttr::number(kKeyType, 0),
                    ObjectAttr::bytes(kModulus, n), ObjectAttr::number(kExponent, 65537)};
  uint64_t p = seed(pub);
  EXPECT_EQ(c.attr(user, p, kModulusBits), bytes("512"));
  EXPECT_EQ(c.attr(user, p, kExponent), (std::vector<uint8_t>{1, 0, 1}));
  auto size = c.call(31, {ObjectClient::handle_cmd(user, p)}, {16}, user);
  ASSERT_EQ(size.code, kResultSize);
  uint32_t len = be32(size.payload, 12);
  EXPECT_GT(len, 64u);
  auto full = c.call(31, {ObjectClient::handle_cmd(user, p)}, {16, len, 1}, user);
  ASSERT_EQ(full.code, 0u);
  EXPECT_EQ(be32(full.payload, 12), len);
  std::vector<uint8_t> der(full.payload.begin() + 16, full.payload.begin() + 16 + len);
  EXPECT_EQ(der[0], 0x30);
  EXPECT_NE(std::search(der.begin(), der.end(), n.begin(), n.end()), der.end());
  // A secret key has no public half.
  EXPECT_EQ(c.call(31, {ObjectClient::handle_cmd(user, aes("s"))}, {16, 100, 1}, user).code,
            0x118u);
}

// Requests cut anywhere are refused, never read past their end.
TEST_F(Objects, ShortRequestsAreRefused) {
  uint64_t k = aes("k");
  auto full = Be().bytes(ObjectClient::handle_cmd(user, k)).u32(kLabel).u32(1).u8('x').b;
  const uint16_t opcodes[] = {16, 17,  18,  19,  20,  21,  22,  31,  33,  34, 45,
                              46, 129, 130, 191, 205, 206, 240, 241, 242, 243};
  for (uint16_t op : opcodes) {
    for (size_t n : {size_t{0}, size_t{12}, size_t{19}, size_t{23}, size_t{31}}) {
      SCOPED_TRACE("opcode " + std::to_string(op) + " cut to " + std::to_string(n));
      auto a = c.call(op, {std::vector<uint8_t>(full.begin(), full.begin() + n)}, {24, 64}, user);
      EXPECT_EQ(a.status, 0u);
      EXPECT_NE(a.code, 0u);
    }
  }
  EXPECT_TRUE(d.hsm().object(k));
}
