// An operator's day against the stand-in, end to end: zeroise, initialise,
// a partition with its users, passwords, listing, deletion, resizing,
// policies and the audit log.
#include <gtest/gtest.h>

#include <vector>

#include "admin_fixture.h"
#include "qel2_admin.h"
#include "request/mgmt_request.h"

using namespace admin_test;

namespace {

class Scenario : public AdminTest {};

// After a zeroise or the end of initialisation every request fails until
// the library is cleaned up and started again.
void restart() { Qel2SDKCleanup(); }

TEST_F(Scenario, ZeroiseInitialiseAndAdminister) {
  Uint32 admin = admin_session();
  // A certificate request shares opcode 0 with zeroise: it is not one (the
  // peer-certificate handler refuses the malformed record).
  {
    uint8_t cmd[20] = {}, resp[16] = {};
    qel2::mgmt::MgmtRequest rq(0, admin & 0x3FFFFFFF, KQ_CERT_AUTH_CMD);
    rq.in(cmd, sizeof cmd).out(resp, sizeof resp);
    ASSERT_EQ(0u, rq.send());
    EXPECT_EQ(RET_INVALID_INPUT, rq.result());
    EXPECT_EQ(2u, d().hsm().partitions().size());
  }
  ASSERT_EQ(0u, Qel2ZeroizeHSM(admin));
  SessionInfo si;
  EXPECT_EQ(TESSALINE_INVALID_OPERATION, Qel2GetSessionInfo(admin, &si));
  restart();
  EXPECT_EQ((std::vector<std::string>{defaults::kAdminPartition}), d().hsm().partitions());

  // Initialise: a second initialisation is refused; ending it drops the connections.
  admin = admin_session();
  ASSERT_NE(0u, admin);
  const char *params[] = {"label",   "day_one", "group_id",      "blue",
                          "node_id", "42",      "hsm_audit_log", "1"};
  ASSERT_EQ(0u, Qel2InitHSMNew(admin, const_cast<char **>(params), 8));
  EXPECT_EQ(RET_HSM_INIT_IN_PROGRESS, Qel2InitHSMNew(admin, const_cast<char **>(params), 8));
  Uint8 label[50];
  ASSERT_EQ(0u, Qel2GetHSMLabel(admin, label));
  EXPECT_STREQ("day_one", reinterpret_cast<char *>(label));
  ASSERT_EQ(0u, Qel2InitHSMDone(admin));
  EXPECT_EQ(TESSALINE_INVALID_OPERATION, Qel2GetHSMLabel(admin, label));
  restart();
  admin = admin_session();
  EXPECT_EQ(RET_HSM_ALREADY_INITIALIZED, Qel2InitHSMDone(admin));  // refused: connections stay
  EXPECT_EQ(0u, Qel2GetHSMLabel(admin, label));
  EXPECT_EQ(RET_HSM_ALREADY_INITIALIZED, Qel2InitHSMNew(admin, const_cast<char **>(params), 8));
  PartitionInfo pi;
  ASSERT_EQ(0u, Qel2GetPartitionInfo(admin, u8(defaults::kAdminPartition), 11, &pi));
  EXPECT_STREQ("blue", reinterpret_cast<char *>(pi.g_id));
  EXPECT_EQ(0x04, reinterpret_cast<uint8_t *>(&pi)[84]);  // audit enabled
  EXPECT_EQ(42u, __builtin_bswap32(pi.node_id));
  HSMInfo hi;
  ASSERT_EQ(0u, Qel2GetHSMInfo2(admin, &hi));
  EXPECT_STREQ("day_one", reinterpret_cast<char *>(hi.label));
  EXPECT_EQ(20u, __builtin_bswap32(hi.uiUserLoginFailureCount));  // the pair form's default

  // A partition, its officer, two users who each log in.
  ASSERT_EQ(0u, Qel2CreatePartition(admin, u8("sales"), 5, 2000, 8, 1, 0));
  Uint32 s = open("sales", 1);
  ASSERT_NE(0u, s);
  ASSERT_EQ(0u, login(s, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
  ASSERT_EQ(0u, Qel2CreateCUPIN(s, u8("ann"), 3, u8("ann_pass1"), 9));
  ASSERT_EQ(0u, Qel2CreateCUPIN(s, u8("ben"), 3, u8("ben_pass1"), 9));
  ASSERT_EQ(0u, Qel2LogoutHSM2(s));
  for (auto [name, pswd] : {std::pair{"ann", "ann_pass1"}, std::pair{"ben", "ben_pass1"}}) {
    ASSERT_EQ(0u, login(s, KQ_CRYPTO_USER, name, pswd)) << name;
    ASSERT_EQ(0u, Qel2LogoutHSM2(s));
  }
  // Ann changes her password; the old one stops working.
  ASSERT_EQ(0u, login(s, KQ_CRYPTO_USER, "ann", "ann_pass1"));
  ASSERT_EQ(0u, Qel2ChangeUserPswd(s, KQ_CRYPTO_USER, u8("ann"), 3, u8("ann_pass2"), 9, nullptr,
                                   nullptr));
  ASSERT_EQ(0u, Qel2LogoutHSM2(s));
  EXPECT_EQ(RET_USER_LOGIN_FAILURE, login(s, KQ_CRYPTO_USER, "ann", "ann_pass1"));
  ASSERT_EQ(0u, login(s, KQ_CRYPTO_USER, "ann", "ann_pass2"));
  ASSERT_EQ(0u, Qel2LogoutHSM2(s));

  // The officer lists and deletes.
  ASSERT_EQ(0u, login(s, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
  UserInfo users[10];
  Uint32 count = 10, total = 0;
  ASSERT_EQ(0u, Qel2ListUsers(s, 0, users, &count, &total));
  ASSERT_EQ(3u, count);
  EXPECT_STREQ("ben", reinterpret_cast<char *>(users[2].userName));
  ASSERT_EQ(0u, Qel2DeleteUser(s, KQ_CRYPTO_USER, u8("ben"), 3));
  count = 10;
  ASSERT_EQ(0u, Qel2ListUsers(s, 0, users, &count, &total));
  EXPECT_EQ(2u, total);
  EXPECT_EQ(RET_USER_LOGIN_FAILURE, [&] {
    Qel2LogoutHSM2(s);
    return login(s, KQ_CRYPTO_USER, "ben", "ben_pass1");
  }());
  ASSERT_EQ(0u, login(s, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));

  // Resize and read back; the policies.
  ASSERT_EQ(0u, Qel2ResizePartition(admin, u8("sales"), 5, 4000, 1, 0, 0, 0, 0, 0));
  ASSERT_EQ(0u, Qel2GetPartitionInfo(admin, u8("sales"), 5, &pi));
  EXPECT_EQ(4000u, be32(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&pi),
                                             reinterpret_cast<uint8_t *>(&pi + 1)),
                        52));
  Uint8 policies[64];
  getPolicyArgs g{admin, 0, sizeof policies, policies};
  ASSERT_EQ(0u, Qel2GetPolicySet(&g));
  EXPECT_EQ(3, g.num_policies);

  // The partition's audit log: what the officer and the users did.
  Uint32 waiting = 0;
  ASSERT_EQ(0u, Qel2GetAuditLogInfo(s, &waiting));
  ASSERT_GT(waiting, 10u);
  std::vector<cmbLogEntry> logs(waiting);
  Uint32 n = waiting;
  ASSERT_EQ(0u, Qel2GetAuditLogs(s, &n, logs.data()));
  EXPECT_EQ(waiting, n);
  int logins = 0;
  for (const auto &e : logs) logins += e.log_header.opcode == __builtin_bswap16(KQ_LOGIN);
  EXPECT_GE(logins, 6);
  Uint8 sign[256];
  ASSERT_EQ(0u, Qel2GetAuditLogSign(s, sign));
  ASSERT_EQ(0u, Qel2FinalizeLogs(s, u8("sales"), 5));
  ASSERT_EQ(0u, Qel2GetAuditLogInfo(s, &waiting));
  EXPECT_EQ(0u, waiting);

  // A forced delete takes the partition with its users.
  EXPECT_EQ(RET_PARTITION_ALREADY_HAS_USERS, Qel2DeletePartition(admin, u8("sales"), 5));
  ASSERT_EQ(0u, Qel2DeletePartition2(admin, u8("sales"), 5, 1));
  EXPECT_EQ((std::vector<std::string>{defaults::kAdminPartition}), d().hsm().partitions());
}

TEST_F(Scenario, RefusedZeroiseKeepsTheConnections) {
  Uint32 s1 = officer_session();
  EXPECT_EQ(RET_USER_PERMISION_DENIED, Qel2VendorZeroizeHSM(s1, 1));
  SessionInfo si;
  EXPECT_EQ(0u, Qel2GetSessionInfo(s1, &si));
  auto z = sent_requests(d(), KQ_VENDOR_ZEROIZE);
  ASSERT_EQ(1u, z.size());
  EXPECT_EQ(std::vector<uint16_t>{24}, z[0].in_sizes());
  EXPECT_EQ(1, z[0].body()[20]);
  EXPECT_EQ(2u, d().hsm().partitions().size());
}

}  // namespace
