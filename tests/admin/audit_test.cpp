// Audit logs: the fetch request as sent, refusals before any traffic, the
// stand-in's entries (one per request) fetched blocking, non-blocking and
// above 64 KiB, signed and finalised.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "admin_fixture.h"
#include "qel2_admin.h"

using namespace admin_test;

namespace {

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t entry_be32(const cmbLogEntry &e, size_t off) {
  const auto *p = reinterpret_cast<const uint8_t *>(&e) + off;
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint16_t entry_opcode(const cmbLogEntry &e) {
  return be16(reinterpret_cast<const uint8_t *>(&e) + 24);
}

class Audit : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    session_ = officer_session();
  }
  Uint32 waiting() {
    Uint32 n = 0;
    EXPECT_EQ(0u, Qel2GetAuditLogInfo(session_, &n));
    return n;
  }
  // Empties the log: fetched entries leave it.
  void drain() {
    std::vector<cmbLogEntry> sink(QEL2_MAX_AUDIT_LOGS);
    Uint32 n = QEL2_MAX_AUDIT_LOGS;
    ASSERT_EQ(0u, Qel2GetAuditLogs(session_, &n, sink.data()));
  }
  Uint32 session_ = 0;
};

TEST_F(Audit, FetchRequestAsSentAndRefusals) {
  std::vector<cmbLogEntry> logs(QEL2_MAX_AUDIT_LOGS);
  Uint32 n = QEL2_MAX_AUDIT_LOGS;
  Qel2GetAuditLogs(session_, &n, logs.data());
  auto m = sent_requests(d(), KQ_PARTN_GET_AUDIT_LOGS);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(std::vector<uint16_t>{24}, m[0].in_sizes());
  EXPECT_EQ(6026u, be32(m[0].body(), 20));
  // 24 and 530288 bytes; the 16-bit fields keep the low bits.
  EXPECT_EQ((std::vector<uint16_t>{24, 530288 & 0xFFFF}), m[0].out_sizes());
  EXPECT_EQ(6024, m[0].rlen);
  EXPECT_EQ(6024, m[0].param2);

  d().clear_captured();
  Uint32 zero = 0, too_many = 6027, one = 1;
  Uint8 sign[256];
  struct Case {
    const char *what;
    std::function<Uint32()> call;
    Uint32 code;
  } cases[] = {
      {"none asked", [&] { return Qel2GetAuditLogs(session_, &zero, logs.data()); },
       ERR_INVALID_INPUT},
      {"6027 asked", [&] { return Qel2GetAuditLogs(session_, &too_many, logs.data()); },
       ERR_INVALID_INPUT},
      {"null count", [&] { return Qel2GetAuditLogs(session_, nullptr, logs.data()); },
       ERR_INVALID_INPUT},
      {"null entries", [&] { return Qel2GetAuditLogs(session_, &one, nullptr); },
       ERR_INVALID_INPUT},
      {"non-blocking, null entries",
       [&] { return Qel2GetAuditLogsNonBlocking(session_, &one, nullptr, &zero); },
       ERR_INVALID_INPUT},
      {"non-blocking, no request id (nobody could collect it)",
       [&] { return Qel2GetAuditLogsNonBlocking(session_, &one, logs.data(), nullptr); },
       ERR_ARGUMENTS_BAD},
      {"info, null count", [&] { return Qel2GetAuditLogInfo(session_, nullptr); },
       RET_INVALID_INPUT},
      {"sign, null buffer", [&] { return Qel2GetAuditLogSign(session_, nullptr); },
       ERR_INVALID_INPUT},
      {"finalise, length 16",
       [&] { return Qel2FinalizeLogs(session_, u8("PARTITION_1_LONG"), 16); }, ERR_INVALID_INPUT},
      {"finalise, length 0", [&] { return Qel2FinalizeLogs(session_, u8("P"), 0); },
       ERR_INVALID_INPUT},
      {"finalise, null name", [&] { return Qel2FinalizeLogs(session_, nullptr, 5); },
       ERR_INVALID_INPUT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.code, c.call());
  }
  EXPECT_EQ(0u, sent_count(d()));
  (void)sign;
}

TEST_F(Audit, AnswerClaimingMoreEntriesThanAskedIsTooSmall) {
  d().script(KQ_MGMT_CMD, KQ_PARTN_GET_AUDIT_LOGS, payload(resp(0).u32(0).u32(9).zeros(2 * 88)));
  std::vector<cmbLogEntry> logs(2);
  Uint32 n = 2;
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2GetAuditLogs(session_, &n, logs.data()));
  EXPECT_EQ(9u, n);
}

TEST_F(Audit, OneEntryPerRequestFetchedOldestFirst) {
  drain();
  SessionInfo si;
  ASSERT_EQ(0u, Qel2GetSessionInfo(session_, &si));
  Uint32 fails = 0;
  Qel2GetLoginFailureCount(session_, KQ_CRYPTO_USER, u8("nobody"), 6, &fails);  // refused: 0xCE
  EXPECT_EQ(2u, waiting());

  std::vector<cmbLogEntry> logs(5);
  Uint32 n = 5;
  ASSERT_EQ(0u, Qel2GetAuditLogs(session_, &n, logs.data()));
  ASSERT_EQ(2u, n);  // fewer than asked
  EXPECT_EQ(KQ_GET_SESSION_INFO, entry_opcode(logs[0]));
  EXPECT_EQ(KQ_GET_LOGIN_FAILURE_CNT, entry_opcode(logs[1]));
  EXPECT_EQ(0u, entry_be32(logs[0], 20));
  EXPECT_EQ(RET_USER_DOES_NOT_EXIST, entry_be32(logs[1], 20));
  EXPECT_EQ(session_ & 0x3FFFFFFF, entry_be32(logs[0], 16));
  EXPECT_EQ(entry_be32(logs[0], 4) + 1, entry_be32(logs[1], 4));  // sequence numbers
  EXPECT_EQ(KQ_CRYPTO_OFFICER, entry_be32(logs[0], 40));          // who was logged in
  EXPECT_EQ(0u, waiting());
}

TEST_F(Audit, NonBlockingFetchAndAnswersAbove64KiB) {
  drain();
  SessionInfo si;
  const Uint32 made = 800;  // 800 entries of 88 bytes: 70400 bytes
  for (Uint32 i = 0; i < made; ++i) ASSERT_EQ(0u, Qel2GetSessionInfo(session_, &si));

  std::vector<cmbLogEntry> logs(QEL2_MAX_AUDIT_LOGS);
  Uint32 n = 3, id = 0;
  ASSERT_EQ(ERR_REQUEST_PENDING, Qel2GetAuditLogsNonBlocking(session_, &n, logs.data(), &id));
  EXPECT_EQ(3u, n);  // left as it was
  Uint32 r = ERR_REQUEST_PENDING;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (r == ERR_REQUEST_PENDING && std::chrono::steady_clock::now() < deadline) {
    r = Qel2CheckForCompletion(id);
    if (r == ERR_REQUEST_PENDING) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(0u, r);
  EXPECT_EQ(KQ_GET_SESSION_INFO, entry_opcode(logs[2]));

  n = QEL2_MAX_AUDIT_LOGS;
  ASSERT_EQ(0u, Qel2GetAuditLogs(session_, &n, logs.data()));
  EXPECT_EQ(made - 3, n);
  EXPECT_EQ(KQ_GET_SESSION_INFO, entry_opcode(logs[n - 1]));
  EXPECT_NE(0u, entry_be32(logs[n - 1], 4));
}

TEST_F(Audit, SignedOverWhatWasFetchedAndFinalised) {
  drain();
  Uint8 s1[256] = {}, s2[256] = {}, s3[256] = {};
  ASSERT_EQ(0u, Qel2GetAuditLogSign(session_, s1));
  ASSERT_EQ(0u, Qel2GetAuditLogSign(session_, s2));
  EXPECT_EQ(0, memcmp(s1, s2, 256));  // nothing fetched in between
  EXPECT_NE(std::vector<Uint8>(s1, s1 + 256), std::vector<Uint8>(256, 0));
  SessionInfo si;
  ASSERT_EQ(0u, Qel2GetSessionInfo(session_, &si));
  drain();
  ASSERT_EQ(0u, Qel2GetAuditLogSign(session_, s3));
  EXPECT_NE(0, memcmp(s1, s3, 256));

  ASSERT_EQ(0u, Qel2GetSessionInfo(session_, &si));
  EXPECT_EQ(1u, waiting());
  // The name is taken up to the stated length.
  ASSERT_EQ(0u, Qel2FinalizeLogs(session_, u8("PARTITION_1 and more"), 11));
  auto f = sent_requests(d(), KQ_FINALIZE_LOGS);
  ASSERT_EQ(1u, f.size());
  EXPECT_EQ(std::vector<uint16_t>{36}, f[0].in_sizes());
  EXPECT_EQ(0, memcmp(f[0].body().data() + 20, "PARTITION_1\0\0\0\0\0", 16));
  EXPECT_EQ(0u, waiting());
  EXPECT_EQ(RET_INVALID_PARTITION_ID, Qel2FinalizeLogs(session_, u8("NO_SUCH"), 7));
}

}  // namespace
