// Users: the records as sent, the refusals before any traffic, paging, and
// the stand-in's user rules (created users log in, passwords change).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "admin_fixture.h"
#include "qel2_admin.h"

using namespace admin_test;

namespace {

class Users : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    session_ = officer_session();
  }
  Uint32 create(Uint32 type, const std::string &name, const std::string &pswd) {
    return Qel2CreateUser(session_, type, u8(name), len(name), u8(pswd), len(pswd));
  }
  Uint32 session_ = 0;
};

TEST_F(Users, CreateAndChangeRecordsAsSent) {
  std::vector<Uint8> pub(512, 0xAB), sig(256, 0xCD);
  const std::string pw = "password";
  struct Case {
    const char *what;
    std::function<Uint32()> call;
    uint16_t opcode;
    std::vector<uint16_t> segments;
    uint32_t flags, type;
  } cases[] = {
      {"crypto user",
       [&] { return Qel2CreateCUPIN(session_, u8("u_1"), 3, u8(pw), 8); },
       KQ_CREATE_USER,
       {64, 8},
       0,
       1},
      {"officer",
       [&] { return Qel2CreateCOPIN(session_, u8("u_2"), 3, u8(pw), 8); },
       KQ_CREATE_CO,
       {64, 8},
       0,
       2},
      {"appliance user",
       [&] { return create(KQ_APPLIANCE_USER, "u_3", pw); },
       KQ_CREATE_APPLIANCE_USER,
       {64, 8},
       0,
       5},
      {"pre-officer",
       [&] { return create(KQ_CRYPTO_PRE_OFFICER, "u_4", pw); },
       KQ_CREATE_PRE_OFFICER,
       {64, 8},
       0,
       6},
      {"key and signature",
       [&] {
         return Qel2CreateUser2(session_, KQ_CRYPTO_USER, u8("u_5"), 3, u8(pw), 8, pub.data(),
                                sig.data());
       },
       KQ_CREATE_USER,
       {64, 8, 512, 256},
       0x40000000,
       1},
      {"no password",
       [&] { return create(KQ_CRYPTO_USER, "u_6", ""); },
       KQ_CREATE_USER,
       {64},
       0,
       1},
      {"change with a key",
       [&] {
         return Qel2ChangeUserPswd(session_, 7, u8("u_1"), 3, u8(pw), 8, pub.data(), nullptr);
       },
       KQ_CHANGE_PSWD,
       {64, 8, 512},
       0x40000000,
       7},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    d().clear_captured();
    c.call();
    auto m = sent_requests(d(), c.opcode);
    ASSERT_EQ(1u, m.size());
    EXPECT_EQ(c.segments, m[0].in_sizes());
    uint32_t total = 0;
    for (auto s : c.segments) total += s;
    EXPECT_EQ(total, m[0].dlen);
    EXPECT_EQ(std::vector<uint16_t>{16}, m[0].out_sizes());
    auto b = m[0].body();
    EXPECT_EQ(c.flags, be32(b, 8));
    EXPECT_EQ(session_ & 0x3FFFFFFF, be32(b, 12));
    EXPECT_EQ(c.type, be32(b, 20));
    EXPECT_EQ(3u, be32(b, 24));
    EXPECT_EQ(0, b[31]);  // the name's NUL
    EXPECT_EQ(c.segments.size() > 1 ? 8u : 0u, be32(b, 60));
    EXPECT_EQ(120u, m[0].timeout);
  }
}

TEST_F(Users, DeleteAndListRecordsAsSent) {
  Qel2DeleteUser(session_, KQ_CRYPTO_USER, u8("nobody"), 6);
  auto del = sent_requests(d(), KQ_DELETE_USER);
  ASSERT_EQ(1u, del.size());
  EXPECT_EQ(std::vector<uint16_t>{64}, del[0].in_sizes());
  auto b = del[0].body();
  EXPECT_EQ(1u, be32(b, 20));
  EXPECT_EQ(6u, be32(b, 24));
  EXPECT_EQ(0, memcmp(b.data() + 28, "nobody\0", 7));
  EXPECT_EQ(0u, be32(b, 60));

  UserInfo users[3];
  Uint32 count = 3;
  Qel2ListUsers(session_, 7, users, &count, nullptr);
  count = 5;
  Qel2ListUsers(session_, 0, nullptr, &count, nullptr);
  auto list = sent_requests(d(), KQ_LIST_USERS);
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(std::vector<uint16_t>{28}, list[0].in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{24, 132}), list[0].out_sizes());
  EXPECT_EQ(24 + 132, list[0].rlen);
  EXPECT_EQ(7u, be32(list[0].body(), 20));
  EXPECT_EQ(3u, be32(list[0].body(), 24));
  EXPECT_EQ(std::vector<uint16_t>{24}, list[1].out_sizes());  // counts only
  EXPECT_EQ(24 + 5 * 44, list[1].rlen);
}

TEST_F(Users, RefusedBeforeAnyTraffic) {
  const std::string pw = "password";
  std::string name31(31, 'a'), name32(32, 'a');
  std::vector<Uint8> big(7400, 'p'), pub(512), sig(256);
  Uint32 count = 201, zero = 0;
  struct Case {
    const char *what;
    std::function<Uint32()> call;
    Uint32 code;
  } cases[] = {
      {"type 3", [&] { return create(KQ_CRYPTO_PCO, "x", pw); }, ERR_INVALID_INPUT},
      {"type 4", [&] { return create(KQ_2FA_CRYPTO_USER, "x", pw); }, ERR_INVALID_INPUT},
      {"hyphen in the name", [&] { return create(KQ_CRYPTO_USER, "officer-01", pw); },
       RET_INVALID_INPUT},
      {"32-character name", [&] { return create(KQ_CRYPTO_USER, name32, pw); },
       ERR_INVALID_STRING_OP},
      {"length not the name's",
       [&] { return Qel2CreateUser(session_, 1, u8("abc"), 4, u8(pw), 8); }, ERR_INVALID_INPUT},
      {"null name", [&] { return Qel2CreateUser(session_, 1, nullptr, 0, u8(pw), 8); },
       ERR_INVALID_INPUT},
      {"null password", [&] { return Qel2CreateUser(session_, 1, u8("a"), 1, nullptr, 0); },
       ERR_INVALID_INPUT},
      {"7400-byte password and attachments",
       [&] {
         return Qel2CreateUserNew(session_, 1, u8("a"), 1, big.data(), 7400, pub.data(),
                                  sig.data());
       },
       ERR_BUFFER_TOO_BIG},
      {"password length near 4 GiB",
       [&] {
         return Qel2CreateUserNew(session_, 1, u8("a"), 1, big.data(), 0xFFFFFD00u, pub.data(),
                                  sig.data());
       },
       ERR_BUFFER_TOO_BIG},
      {"change with an empty password",
       [&] { return Qel2ChangeUserPswd2(session_, 1, u8("a"), 1, u8(pw), 0, nullptr, nullptr); },
       ERR_INVALID_INPUT},
      {"change, 32-character name",
       [&] {
         return Qel2ChangeUserPswd2(session_, 1, u8(name32), 32, u8(pw), 8, nullptr, nullptr);
       },
       ERR_INVALID_STRING_OP},
      {"change near 4 GiB",
       [&] {
         return Qel2ChangeUserPswd2(session_, 1, u8("a"), 1, big.data(), 0xFFFFFFF0u, nullptr,
                                    nullptr);
       },
       ERR_BUFFER_TOO_BIG},
      {"delete, length not the name's", [&] { return Qel2DeleteUser(session_, 1, u8("abc"), 2); },
       ERR_INVALID_INPUT},
      {"delete, null name", [&] { return Qel2DeleteUser(session_, 1, nullptr, 1); },
       ERR_INVALID_INPUT},
      {"delete, 32-character name", [&] { return Qel2DeleteUser(session_, 1, u8(name32), 32); },
       ERR_INVALID_STRING_OP},
      {"list 201", [&] { return Qel2ListUsers(session_, 0, nullptr, &count, nullptr); },
       ERR_INVALID_INPUT},
      {"list after 1025", [&] { return Qel2ListUsers(session_, 1025, nullptr, &zero, nullptr); },
       ERR_INVALID_INPUT},
      {"list, null count", [&] { return Qel2ListUsers(session_, 0, nullptr, nullptr, nullptr); },
       ERR_INVALID_INPUT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.code, c.call());
  }
  EXPECT_EQ(0u, sent_count(d()));
  EXPECT_EQ(0u, create(KQ_CRYPTO_USER, name31, pw));  // 31 characters go
}

TEST_F(Users, ListingPagesInIdOrder) {
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(0u, create(KQ_CRYPTO_USER, "pager_" + std::to_string(i), "password"));
  // Seeded: crypto_officer (1), crypto_user (2); then the five above.
  std::vector<std::string> names;
  Uint32 last = 0, total = 0;
  for (;;) {
    UserInfo page[3];
    Uint32 count = 3;
    ASSERT_EQ(0u, Qel2ListUsers2(session_, last, page, &count, &total, nullptr));
    for (Uint32 i = 0; i < count; ++i) {
      names.emplace_back(reinterpret_cast<const char *>(page[i].userName));
      last = be32(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&page[i]),
                                       reinterpret_cast<uint8_t *>(&page[i]) + 4),
                  0);  // user ids arrive big-endian
    }
    if (count < 3) break;
  }
  EXPECT_EQ(7u, total);
  EXPECT_EQ((std::vector<std::string>{"crypto_officer", "crypto_user", "pager_0", "pager_1",
                                      "pager_2", "pager_3", "pager_4"}),
            names);

  Uint32 count = 4;
  ASSERT_EQ(0u, Qel2ListUsers(session_, 0, nullptr, &count, &total));  // counts only
  EXPECT_EQ(4u, count);
}

TEST_F(Users, AnswerWithMoreUsersThanAskedIsTooSmall) {
  d().script(KQ_MGMT_CMD, KQ_LIST_USERS, payload(resp(0).u32(9).u32(3).zeros(3 * 44)));
  UserInfo page[2];
  Uint32 count = 2, total = 0, id = 0;
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2ListUsers2(session_, 0, page, &count, &total, &id));
  EXPECT_EQ(3u, count);
  EXPECT_EQ(9u, total);
  EXPECT_NE(0u, id);
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_LIST_USERS, payload(resp(RET_RESULT_SIZE).u32(9).u32(6)));
  count = 2;
  EXPECT_EQ(RET_RESULT_SIZE, Qel2ListUsers(session_, 0, page, &count, nullptr));
  EXPECT_EQ(6u, count);
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_LIST_USERS, payload(resp(RET_USER_PERMISION_DENIED).u32(9).u32(6)));
  count = 2;
  EXPECT_EQ(RET_USER_PERMISION_DENIED, Qel2ListUsers(session_, 0, page, &count, nullptr));
  EXPECT_EQ(2u, count);  // untouched
}

TEST_F(Users, CreatedUsersLogInAndChangePasswords) {
  ASSERT_EQ(0u, create(KQ_CRYPTO_USER, "alice", "alice_pw1"));
  EXPECT_EQ(RET_USER_EXIST, create(KQ_CRYPTO_USER, "alice", "other_pw1"));
  EXPECT_EQ(RET_INVALID_INPUT, create(KQ_CRYPTO_USER, "bob", "short"));  // below 7
  ASSERT_EQ(0u, Qel2ChangeUserPswd(session_, KQ_CRYPTO_USER, u8("alice"), 5, u8("alice_pw2"), 9,
                                   nullptr, nullptr));
  EXPECT_EQ(RET_USER_DOES_NOT_EXIST, Qel2ChangeUserPswd(session_, KQ_CRYPTO_OFFICER, u8("alice"), 5,
                                                        u8("alice_pw3"), 9, nullptr, nullptr));
  ASSERT_EQ(0u, Qel2LogoutHSM2(session_));

  EXPECT_EQ(RET_USER_LOGIN_FAILURE, login(session_, KQ_CRYPTO_USER, "alice", "alice_pw1"));
  ASSERT_EQ(0u, login(session_, KQ_CRYPTO_USER, "alice", "alice_pw2"));
  // A crypto user changes her own password, not another's, and creates nobody.
  EXPECT_EQ(0u, Qel2ChangeUserPswd(session_, KQ_CRYPTO_USER, u8("alice"), 5, u8("alice_pw4"), 9,
                                   nullptr, nullptr));
  EXPECT_EQ(RET_USER_PERMISION_DENIED,
            Qel2ChangeUserPswd(session_, KQ_CRYPTO_USER, u8(defaults::kUserName),
                               len(defaults::kUserName), u8("stolen_pw"), 9, nullptr, nullptr));
  EXPECT_EQ(RET_USER_PERMISION_DENIED, create(KQ_CRYPTO_USER, "carol", "carol_pw1"));
  EXPECT_EQ(RET_USER_PERMISION_DENIED, Qel2DeleteUser(session_, KQ_CRYPTO_USER, u8("alice"), 5));
  ASSERT_EQ(0u, Qel2LogoutHSM2(session_));

  ASSERT_EQ(0u,
            login(session_, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
  EXPECT_EQ(RET_USER_DOES_NOT_EXIST, Qel2DeleteUser(session_, KQ_CRYPTO_OFFICER, u8("alice"), 5));
  EXPECT_EQ(0u, Qel2DeleteUser(session_, KQ_CRYPTO_USER, u8("alice"), 5));
  EXPECT_FALSE(d().hsm().user(defaults::kPartition, "alice"));
  EXPECT_EQ(RET_USER_DOES_NOT_EXIST, Qel2DeleteUser(session_, KQ_CRYPTO_USER, u8("alice"), 5));
}

}  // namespace
