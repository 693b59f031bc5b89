// End to end against the stand-in HSM itself (no scripted answers): login
// with right and wrong passwords, lock-out, closing all sessions.
#include <gtest/gtest.h>

#include <string>

#include "sim_fixture.h"

using namespace mgmt_test;
namespace defaults = hsmsim::defaults;

namespace {

const Uint8 *u8(const std::string &s) { return reinterpret_cast<const Uint8 *>(s.data()); }

class EndToEnd : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(0u, Qel2Initialize3(0, OSTREL_DIRECT, defaults::kPartition, &app_));
    ASSERT_EQ(0u, Qel2OpenSession2(app_, &session_));
  }
  Uint32 login(const std::string &user, const std::string &password, Uint32 type = KQ_CRYPTO_USER) {
    return Qel2LoginHSM(session_, type, u8(user), static_cast<Uint32>(user.size()), u8(password),
                        static_cast<Uint32>(password.size()));
  }
  Uint32 app_ = 0, session_ = 0;
};

TEST_F(EndToEnd, RightAndWrongPassword) {
  Uint32 state = 99;
  ASSERT_EQ(0u, Qel2GetLoginStatus(session_, &state));
  EXPECT_EQ(STATE_RW_PUBLIC_SESSION, state);

  EXPECT_EQ(RET_USER_LOGIN_FAILURE, login(defaults::kUserName, "not the password"));
  Uint32 failures = 0;
  ASSERT_EQ(0u,
            Qel2GetLoginFailureCount(session_, KQ_CRYPTO_USER, u8(std::string(defaults::kUserName)),
                                     static_cast<Uint32>(strlen(defaults::kUserName)), &failures));
  EXPECT_EQ(1u, failures);

  ASSERT_EQ(0u, login(defaults::kUserName, defaults::kUserPassword));
  ASSERT_EQ(0u, Qel2GetLoginStatus(session_, &state));
  EXPECT_EQ(STATE_RW_USER_FUNCTIONS, state);
  ASSERT_EQ(0u, Qel2LogoutHSM2(session_));
  ASSERT_EQ(0u, Qel2GetLoginStatus(session_, &state));
  EXPECT_EQ(STATE_RW_PUBLIC_SESSION, state);

  ASSERT_EQ(0u, Qel2CloseSession(session_));
  SessionInfo info;
  EXPECT_NE(0u, Qel2GetSessionInfo(session_, &info));
  ASSERT_EQ(0u, Qel2Shutdown2(app_));
  EXPECT_TRUE(d().hsm().applications().empty());
}

TEST_F(EndToEnd, BusyHsmIsRetriedAndTheFinalAnswerStands) {
  d().hsm().inject_retry(KQ_LOGIN, 2);
  EXPECT_EQ(RET_USER_LOGIN_FAILURE, login(defaults::kUserName, "wrong"));
  EXPECT_EQ(3u, sent_requests(d(), KQ_LOGIN).size());
  d().hsm().inject_retry(KQ_LOGIN, 2);
  EXPECT_EQ(0u, login(defaults::kUserName, defaults::kUserPassword));
  EXPECT_EQ(6u, sent_requests(d(), KQ_LOGIN).size());
}

TEST_F(EndToEnd, UserIsLockedAfterTheFailureLimit) {
  d().hsm().set_login_failure_limit(3, 3);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(RET_USER_LOGIN_FAILURE, login(defaults::kUserName, "guess"));
  Uint32 r = login(defaults::kUserName, defaults::kUserPassword);
  EXPECT_NE(0u, r);
  EXPECT_EQ(RET_USER_LOGIN_FAIL_COUNT, r);
  auto user = d().hsm().user(defaults::kPartition, defaults::kUserName);
  ASSERT_TRUE(user.has_value());
  EXPECT_TRUE(user->locked);
  // The officer is a different user and still gets in.
  EXPECT_EQ(0u, login(defaults::kOfficerName, defaults::kOfficerPassword, KQ_CRYPTO_OFFICER));
}

TEST_F(EndToEnd, CloseAllSessionsEndsEverySessionOfTheApplication) {
  Uint32 more[3] = {};
  for (Uint32 &s : more) ASSERT_EQ(0u, Qel2OpenSession2(app_, &s));
  EXPECT_EQ(4u, d().hsm().sessions().size());
  ASSERT_EQ(0u, Qel2CloseAllSessions(more[1]));
  EXPECT_TRUE(d().hsm().sessions().empty());
  SessionInfo info;
  EXPECT_EQ(RET_INVALID_SESSION, Qel2GetSessionInfo(session_, &info));
}

TEST_F(EndToEnd, InformationRecords) {
  HSMInfo hsm;
  ASSERT_EQ(0u, Qel2GetHSMInfo(0, &hsm));
  EXPECT_EQ(defaults::kFipsState, __builtin_bswap32(hsm.uiFipsState));
  EXPECT_EQ(defaults::kLoginFailureLimit, __builtin_bswap32(hsm.uiUserLoginFailureCount));
  EXPECT_EQ(1u, __builtin_bswap32(hsm.uiSessionCount));
  PartitionInfo part;
  ASSERT_EQ(0u, Qel2GetPartitionInfo(session_, u8(std::string(defaults::kPartition)),
                                     static_cast<Uint32>(strlen(defaults::kPartition)), &part));
  EXPECT_STREQ(defaults::kPartition, reinterpret_cast<const char *>(part.name));
  EXPECT_EQ(defaults::kFipsState, part.FipsState);
  EXPECT_EQ(1u, __builtin_bswap32(part.SessionCount));
  EXPECT_EQ(RET_INVALID_PARTITION_ID,
            Qel2GetPartitionInfo(session_, u8(std::string("NO_SUCH")), 7, &part));
}

}  // namespace
