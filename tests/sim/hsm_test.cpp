// The stand-in HSM's main road: applications, sessions, login and the
// information records, driven by raw management requests.
#include <gtest/gtest.h>

#include "hsm_client.h"

using hsmsim::Daemon;
using hsmsim::SessionState;
using hsmsim::UserType;
namespace def = hsmsim::defaults;
using simtest::Be;
using simtest::be32;
using simtest::HsmClient;

namespace {

constexpr uint32_t kInvalidInput = 0x81, kInvalidCommand = 0x82, kAppNotInitialized = 0x8A,
                   kInvalidSession = 0x8B, kAlreadyLoggedIn = 0x9F, kAnotherLoggedIn = 0x9E,
                   kNotLoggedIn = 0xA0, kLoginFailure = 0xA3, kLocked = 0xA4, kResultSize = 0xB7,
                   kNoPartition = 0xBD, kWrongPartition = 0xBE, kNoUser = 0xCE, kRetry = 0x40000053;

struct HsmFixture : ::testing::Test {
  Daemon d;
  HsmClient c{d};

  // An application of the partition and one read-write session.
  struct Opened {
    uint32_t app, nonce, session;
  };
  Opened open(const std::string &partition = def::kPartition) {
    auto a = c.app_init(partition);
    EXPECT_EQ(a.code, 0u);
    auto s = c.open_session(a.id, a.nonce);
    EXPECT_EQ(s.code, 0u);
    return {a.id, a.nonce, s.handle};
  }
};

}  // namespace

TEST_F(HsmFixture, ApplicationsGetIdsAndNoncesOfTheirPartition) {
  auto a = c.app_init(def::kPartition);
  auto b = c.app_init(def::kPartition);
  auto admin = c.app_init(def::kAdminPartition);
  ASSERT_EQ(a.code, 0u);
  EXPECT_NE(a.id & 0x3FFFC000, 0u);
  EXPECT_EQ(a.id & ~0x3FFFC000u, 0u);
  EXPECT_EQ((a.id >> 24) & 0x3F, 1u);
  EXPECT_EQ((admin.id >> 24) & 0x3F, 0u);
  EXPECT_NE(admin.id & 0x3FFFC000, 0u);  // the index keeps partition 0's ids non-zero
  EXPECT_NE(a.nonce, 0u);
  EXPECT_NE((a.id >> 14) & 0x3FF, (b.id >> 14) & 0x3FF);
  EXPECT_EQ(c.app_init("NO_SUCH").code, kNoPartition);
  ASSERT_TRUE(d.hsm().application(a.id));
  EXPECT_EQ(d.hsm().application(a.id)->nonce, a.nonce);

  EXPECT_EQ(c.app_finalize(a.id, a.nonce + 1), kAppNotInitialized);
  EXPECT_EQ(c.app_finalize(a.id, a.nonce), 0u);
  EXPECT_EQ(c.app_finalize(a.id, a.nonce), kAppNotInitialized);
  EXPECT_FALSE(d.hsm().application(a.id));
}

TEST_F(HsmFixture, OpeningASessionChecksTheNonce) {
  auto a = c.app_init(def::kPartition);
  EXPECT_EQ(c.open_session(a.id, a.nonce ^ 1).code, kAppNotInitialized);
  EXPECT_EQ(c.open_session(a.id + (1 << 14), a.nonce).code, kAppNotInitialized);
  auto s = c.open_session(a.id, a.nonce, 2);
  ASSERT_EQ(s.code, 0u);
  EXPECT_EQ(s.handle & 0xC0000000, 0u);
  EXPECT_EQ((s.handle >> 24) & 0x3F, 1u);
  EXPECT_EQ((s.handle >> 14) & 0x3FF, (a.id >> 14) & 0x3FF);
  auto info = c.session_info(s.handle);
  EXPECT_EQ(info.code, 0u);
  EXPECT_EQ(info.slot, 1u);
  EXPECT_EQ(info.state, 2u);  // read-write, public
  EXPECT_EQ(info.flags, 2u);
  // The device bits of a handle are not the HSM's: they are ignored.
  EXPECT_EQ(c.session_info(s.handle | 0x40000000).code, 0u);

  // A read-only session; with the server random in a second output segment.
  auto m = c.call(
      36, {Be().nonce_header(a.nonce).u32(0).u16(1).u16(0).u32(0).u32(a.id).u8(0).zeros(3).b},
      {20, 32}, a.id);
  ASSERT_EQ(m.code, 0u);
  ASSERT_EQ(m.payload.size(), 52u);
  EXPECT_NE(std::vector<uint8_t>(m.payload.begin() + 20, m.payload.end()),
            std::vector<uint8_t>(32, 0));
  EXPECT_EQ(c.session_info(be32(m.payload, 16)).state, 0u);
  EXPECT_EQ(d.hsm().sessions().size(), 2u);
}

TEST_F(HsmFixture, LoginLogoutAndSessionStates) {
  auto o = open();
  EXPECT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword), 0u);
  EXPECT_EQ(c.session_info(o.session).state, 3u);
  // The login belongs to the application: its other sessions see it.
  auto other = c.open_session(o.app, o.nonce, 0);
  EXPECT_EQ(c.session_info(other.handle).state, 1u);
  EXPECT_EQ(d.hsm().session(o.session)->state, SessionState::RwUser);
  EXPECT_EQ(d.hsm().application(o.app)->logged_in_user, std::string(def::kUserName));

  EXPECT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword), kAlreadyLoggedIn);
  EXPECT_EQ(c.login(o.session, 2, def::kOfficerName, def::kOfficerPassword), kAnotherLoggedIn);
  EXPECT_EQ(c.logout(o.session), 0u);
  EXPECT_EQ(c.logout(o.session), kNotLoggedIn);
  EXPECT_EQ(c.session_info(o.session).state, 2u);

  EXPECT_EQ(c.login(o.session, 2, def::kOfficerName, def::kOfficerPassword), 0u);
  EXPECT_EQ(c.session_info(o.session).state, 4u);
}

TEST_F(HsmFixture, WrongPasswordsCountAndLockTheUser) {
  d.hsm().set_login_failure_limit(3, 3);
  auto o = open();
  struct Case {
    uint32_t type;
    const char *name;
    const char *pw;
    uint32_t code;
  } refused[] = {
      {1, def::kUserName, "wrong_password", kLoginFailure},
      {1, "nobody", def::kUserPassword, kLoginFailure},
      {2, def::kUserName, def::kUserPassword, kLoginFailure},  // the user is not an officer
      {9, def::kUserName, def::kUserPassword, 0xA5},
  };
  for (const auto &k : refused)
    EXPECT_EQ(c.login(o.session, k.type, k.name, k.pw), k.code) << k.name;
  EXPECT_EQ(d.hsm().user(def::kPartition, def::kUserName)->login_failures, 1u);
  auto count = c.fail_count(o.session, 1, def::kUserName);
  EXPECT_EQ(count.code, 0u);
  EXPECT_EQ(be32(count.payload, 4), 1u);
  EXPECT_EQ(c.fail_count(o.session, 1, "nobody").code, kNoUser);

  EXPECT_EQ(c.login(o.session, 1, def::kUserName, "wrong_password"), kLoginFailure);
  EXPECT_EQ(c.login(o.session, 1, def::kUserName, "wrong_password"), kLoginFailure);
  EXPECT_TRUE(d.hsm().user(def::kPartition, def::kUserName)->locked);
  EXPECT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword), kLocked);

  d.hsm().unlock_user(def::kPartition, def::kUserName);
  EXPECT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword), 0u);
  EXPECT_EQ(d.hsm().user(def::kPartition, def::kUserName)->login_failures, 0u);
}

TEST_F(HsmFixture, UsersSeededForTestsAndPerPartition) {
  ASSERT_TRUE(d.hsm().add_partition("PARTITION_7"));
  EXPECT_FALSE(d.hsm().add_partition("PARTITION_7"));
  ASSERT_TRUE(d.hsm().add_user("PARTITION_7", "alice", UserType::CryptoUser, "alice_password"));
  auto o = open("PARTITION_7");
  EXPECT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword),
            kLoginFailure);  // not in this partition
  EXPECT_EQ(c.login(o.session, 1, "alice", "alice_password"), 0u);
  EXPECT_EQ(d.hsm().users("PARTITION_7").size(), 1u);
  EXPECT_TRUE(d.hsm().remove_user("PARTITION_7", "alice"));
  EXPECT_FALSE(d.hsm().user("PARTITION_7", "alice"));
}

TEST_F(HsmFixture, UnknownSessionsAndShortRecordsAreRefused) {
  auto o = open();
  uint32_t ghost = o.session + 1;
  EXPECT_EQ(c.session_info(ghost).code, kInvalidSession);
  EXPECT_EQ(c.login(ghost, 1, def::kUserName, def::kUserPassword), kInvalidSession);
  EXPECT_EQ(c.logout(ghost), kInvalidSession);
  EXPECT_EQ(c.close_session(ghost, o.nonce), kInvalidSession);
  EXPECT_EQ(c.call(37, {}, {16}, ghost).code, kInvalidSession);
  EXPECT_EQ(c.partition_info(ghost, def::kPartition).code, kInvalidSession);

  EXPECT_EQ(c.call(39, {{0, 0, 0}}, {32}).code, kInvalidInput);
  EXPECT_EQ(c.call(146, {std::vector<uint8_t>(20, 0)}, {20}).code, kInvalidInput);
  EXPECT_EQ(
      c.call(13,
             {Be().session_header(o.session).u32(1).u32(11).text(def::kUserName, 32).u32(400).b},
             {16}, o.session)
          .code,
      kInvalidInput);  // password longer than the body's room
  EXPECT_EQ(c.call(999, {}, {16}).code, kInvalidCommand);
  // Answers that do not fit the output segment.
  auto small = c.call(39, {Be().session_header(o.session).b}, {16}, o.session);
  EXPECT_EQ(small.code, kResultSize);
  EXPECT_EQ(be32(small.payload, 8), 32u);
}

TEST_F(HsmFixture, ClosingSessions) {
  auto o = open();
  ASSERT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword), 0u);
  EXPECT_EQ(c.close_session(o.session, o.nonce + 1), kAppNotInitialized);
  EXPECT_EQ(c.close_session(o.session, o.nonce), 0u);
  EXPECT_EQ(c.session_info(o.session).code, kInvalidSession);
  // The application's last session gone, its login is gone too.
  EXPECT_FALSE(d.hsm().application(o.app)->logged_in_user);

  auto s1 = c.open_session(o.app, o.nonce).handle;
  auto s2 = c.open_session(o.app, o.nonce).handle;
  auto other = open();
  EXPECT_EQ(c.call(37, {}, {16}, s1).code, 0u);  // all sessions of the caller's application
  EXPECT_EQ(c.session_info(s2).code, kInvalidSession);
  EXPECT_EQ(c.session_info(other.session).code, 0u);

  // A partition's sessions: from within it, or from partition 0.
  ASSERT_TRUE(d.hsm().add_partition("PARTITION_2"));
  auto p2 = open("PARTITION_2");
  auto close_partition = [&](uint32_t sess, const std::string &name) {
    return c.call(43, {Be().session_header(sess).text(name, 16).b}, {16}, sess).code;
  };
  EXPECT_EQ(close_partition(other.session, "PARTITION_2"), kWrongPartition);
  EXPECT_EQ(close_partition(other.session, "NO_SUCH"), kNoPartition);
  auto admin = open(def::kAdminPartition);
  EXPECT_EQ(close_partition(admin.session, "PARTITION_2"), 0u);
  EXPECT_EQ(c.session_info(p2.session).code, kInvalidSession);
  EXPECT_EQ(c.session_info(other.session).code, 0u);
  EXPECT_EQ(close_partition(other.session, def::kPartition), 0u);
  EXPECT_EQ(c.session_info(other.session).code, kInvalidSession);
}

TEST_F(HsmFixture, HsmInfoComesFromTheState) {
  open();
  d.hsm().set_fips_state(0xFFFFFFFF);
  auto m = c.call(148, {}, {664});
  ASSERT_EQ(m.code, 0u);
  ASSERT_EQ(m.payload.size(), 664u);
  EXPECT_EQ(be32(m.payload, 16), 644u);
  const size_t info = 20;
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&m.payload[info + 82])), "3.1-SIM-000001");
  EXPECT_EQ(be32(m.payload, info + 124), 1u);  // sessions open
  EXPECT_EQ(be32(m.payload, info + 132), 1u);  // read-write ones
  EXPECT_EQ(be32(m.payload, info + 140), 7u);  // shortest password
  EXPECT_EQ(be32(m.payload, info + 160), def::kLoginFailureLimit);
  EXPECT_EQ(be32(m.payload, info + 168), 0xFFFFFFFFu);
  EXPECT_EQ(m.payload[info + 214], 3);  // firmware 3.2
  EXPECT_EQ(m.payload[info + 215], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&m.payload[info + 580])), "1.0");

  d.hsm().set_bootloader_string("");
  auto old = c.call(148, {}, {420});
  ASSERT_EQ(old.code, 0u);
  EXPECT_EQ(old.payload.size(), 420u);
  EXPECT_EQ(c.call(148, {}, {100}).code, kResultSize);

  auto v = c.call(152, {}, {100});
  EXPECT_EQ(v.status, 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(v.payload.data())), "hsm-sim firmware 3.2");
}

TEST_F(HsmFixture, PartitionInfoComesFromTheState) {
  auto o = open();
  d.hsm().set_partition_fips_state(def::kPartition, 0xFF);
  auto m = c.partition_info(o.session, def::kPartition);
  ASSERT_EQ(m.code, 0u);
  ASSERT_EQ(m.payload.size(), 264u);
  const size_t info = 16;
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&m.payload[info])), def::kPartition);
  EXPECT_EQ(be32(m.payload, info + 28), 1u);  // sessions of this partition
  EXPECT_EQ(m.payload[info + 48], 0xFF);
  EXPECT_EQ(c.partition_info(o.session, def::kAdminPartition).code, kWrongPartition);
  EXPECT_EQ(c.partition_info(o.session, "NO_SUCH").code, kNoPartition);
  auto admin = open(def::kAdminPartition);
  EXPECT_EQ(c.partition_info(admin.session, def::kPartition).code, 0u);
}

TEST_F(HsmFixture, InjectedRetryStatusIsNotExecuted) {
  auto o = open();
  d.hsm().inject_retry(13, 2);
  EXPECT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword), kRetry);
  EXPECT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword), kRetry);
  EXPECT_FALSE(d.hsm().application(o.app)->logged_in_user);
  EXPECT_EQ(c.login(o.session, 1, def::kUserName, def::kUserPassword), 0u);
}

TEST_F(HsmFixture, ResetRestoresTheSeededState) {
  auto o = open();
  d.hsm().add_partition("EXTRA");
  d.hsm().set_fips_state(3);
  d.hsm().reset();
  EXPECT_TRUE(d.hsm().sessions().empty());
  EXPECT_TRUE(d.hsm().applications().empty());
  EXPECT_EQ(d.hsm().partitions(),
            (std::vector<std::string>{def::kAdminPartition, def::kPartition}));
  EXPECT_EQ(c.session_info(o.session).code, kInvalidSession);
  ASSERT_TRUE(d.hsm().user(def::kAdminPartition, def::kAdminName));
  EXPECT_EQ(d.hsm().user(def::kAdminPartition, def::kAdminName)->type, UserType::CryptoOfficer);
}
