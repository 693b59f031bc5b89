// Opening, authorising, inspecting and closing sessions.
#include <gtest/gtest.h>

#include <string>

#include "sim_fixture.h"

using namespace mgmt_test;

namespace {

using Sessions = SimTest;

TEST_F(Sessions, OpenCarriesTheNonceOfTheDeviceAndReturnsTheDeviceBits) {
  script_app_init(0x00054000, 0x5555AAAA);
  Uint32 app = 0;
  ASSERT_EQ(0u, Qel2Initialize3(1, OSTREL_DIRECT, "PARTITION_1", &app));
  script_open_session(0x0105C007);
  d().clear_captured();
  Uint32 session = 0;
  ASSERT_EQ(0u, Qel2OpenSession2(app, &session));
  EXPECT_EQ(0x4105C007u, session);

  auto m = sent_requests(d(), KQ_OPEN_SESSION);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(0x00054000u, m[0].sess_handle);
  EXPECT_EQ(36, m[0].dlen);
  EXPECT_EQ(20, m[0].rlen);
  std::vector<uint8_t> want(Be{}.zeros(12)
                                .u32(0x5555AAAA)
                                .u32(FLAG_RW_SESSION)
                                .u16(1)
                                .u16(0)
                                .u32(0)
                                .u32(0x00054000)
                                .u8(0)
                                .zeros(3));
  EXPECT_EQ(want, m[0].body());
}

TEST_F(Sessions, OpenWithServerRandom) {
  Uint32 app = start();
  std::vector<uint8_t> answer = resp(0).u32(0x77);
  for (int i = 0; i < 32; ++i) answer.push_back(uint8_t(0xC0 + i));
  d().script(KQ_MGMT_CMD, KQ_OPEN_SESSION, payload(answer));
  d().clear_captured();
  Uint8 random[32] = {};
  Uint32 session = 0;
  ASSERT_EQ(0u,
            Qel2OpenSession5(9, app, FLAG_RW_SESSION | FLAG_SERIAL_SESSION, &session, 1, random));
  EXPECT_EQ(0x77u, session);
  EXPECT_EQ(0xC0, random[0]);
  EXPECT_EQ(0xDF, random[31]);
  auto m = sent_requests(d(), KQ_OPEN_SESSION);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(52, m[0].rlen);
  EXPECT_EQ(52, m[0].param2);
  EXPECT_EQ((std::vector<uint16_t>{20, 32}), m[0].out_sizes());
  auto body = m[0].body();
  EXPECT_EQ(6u, be32(body, 16));
  EXPECT_EQ(0x00090000u, be32(body, 20));  // slot 9, then rsvd1
  EXPECT_EQ(1, body[32]);                  // make-master byte
}

TEST_F(Sessions, ArgumentRefusalsSendNothing) {
  Uint32 app = start();
  d().clear_captured();
  Uint32 session = 0;
  OpenSessionResponse raw;
  GetSessionInfoResponse info_raw;
  SessionInfo info;
  Uint8 pms[256] = {}, cr[32] = {}, iv[8] = {}, out1[40], out2[40];
  testing::internal::CaptureStdout();
  struct {
    const char *what;
    Uint32 got, want;
  } cases[] = {
      {"open without output", Qel2OpenSession2(app, nullptr), ERR_INVALID_INPUT},
      {"open for no application", Qel2OpenSession2(0xC0003FFF, &session), ERR_LIB_NOT_INITIALIZED},
      {"encrypted open for no application",
       Qel2OpenEncryptSession2(0x3FFF, OSTREL_BLOCKING, &raw, 0, nullptr, nullptr),
       ERR_LIB_NOT_INITIALIZED},
      {"encrypted open non-blocking without id",
       Qel2OpenEncryptSession2(app, OSTREL_NON_BLOCKING, &raw, 0, nullptr, nullptr),
       ERR_ARGUMENTS_BAD},
      {"encrypted open without response",
       Qel2OpenEncryptSession2(app, OSTREL_BLOCKING, nullptr, 0, nullptr, nullptr),
       ERR_INVALID_INPUT},
      {"handshake non-blocking without id",
       Qel2EncryptSession(1, OSTREL_NON_BLOCKING, pms, cr, iv, pms, 10, out1, out2, nullptr),
       ERR_ARGUMENTS_BAD},
      {"handshake without inputs",
       Qel2EncryptSession(1, OSTREL_BLOCKING, nullptr, cr, iv, pms, 10, out1, out2, nullptr),
       ERR_INVALID_INPUT},
      {"info of handle 0", Qel2GetSessionInfo2(0, &info_raw, OSTREL_BLOCKING, nullptr),
       ERR_INVALID_INPUT},
      {"info of handle all ones", Qel2GetSessionInfo(0xFFFFFFFF, &info), ERR_INVALID_INPUT},
      {"info without response", Qel2GetSessionInfo2(5, nullptr, OSTREL_BLOCKING, nullptr),
       ERR_INVALID_INPUT},
      {"host info without output", Qel2GetSessionInfo(5, nullptr), ERR_INVALID_INPUT},
      {"partition name longer than stated",
       Qel2ClosePartitionSessions(5, reinterpret_cast<const Uint8 *>("PARTITION_1"), 12),
       ERR_INVALID_INPUT},
      {"partition name of 16",
       Qel2ClosePartitionSessions(5, reinterpret_cast<const Uint8 *>("PARTITION_123456"), 16),
       ERR_INVALID_INPUT},
      {"no partition name", Qel2ClosePartitionSessions(5, nullptr, 3), ERR_INVALID_INPUT},
  };
  std::string out = testing::internal::GetCapturedStdout();
  for (const auto &c : cases) EXPECT_EQ(c.want, c.got) << c.what;
  EXPECT_EQ(0u, d().captured().size());
  EXPECT_NE(std::string::npos, out.find("null request_id pointer in non blocking request"));
  EXPECT_NE(std::string::npos, out.find("invalid session handle"));
  EXPECT_NE(std::string::npos, out.find("null respGetSessionInfo pointer"));
  EXPECT_NE(std::string::npos, out.find("\n Invalid partition len [12] and Max len [15]"));
}

TEST_F(Sessions, EncryptedOpenLeavesTheRawAnswer) {
  Uint32 app = start();
  d().script(KQ_MGMT_CMD, KQ_OPEN_SESSION, payload(resp(0).u32(0x01020304)));
  OpenSessionResponse raw;
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2OpenEncryptSession2(app, OSTREL_BLOCKING, &raw, 0, nullptr, &id));
  const Uint8 *b = reinterpret_cast<const Uint8 *>(&raw.ulSessionHandle);
  EXPECT_EQ((std::vector<Uint8>{1, 2, 3, 4}), std::vector<Uint8>(b, b + 4));
  EXPECT_GE(id, 0x40000000u);
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_OPEN_SESSION, payload(resp(RET_MAX_SESSIONS)));
  EXPECT_EQ(RET_MAX_SESSIONS,
            Qel2OpenEncryptSession2(app, OSTREL_BLOCKING, &raw, 0, nullptr, nullptr));
}

TEST_F(Sessions, EncryptionHandshakeSegments) {
  Uint32 session = start_session();
  d().script(KQ_MGMT_CMD, KQ_ENCRYPT_SESSION, payload(std::vector<uint8_t>(80, 0x5A)));
  Uint8 pms[256], cr[32], iv[8], hs[100], cf[40] = {}, sf[40] = {};
  memset(pms, 1, sizeof pms);
  memset(cr, 2, sizeof cr);
  memset(iv, 3, sizeof iv);
  memset(hs, 4, sizeof hs);
  Uint32 h = session | 0xC0000000;
  ASSERT_EQ(0u, Qel2EncryptSession(h, OSTREL_BLOCKING, pms, cr, iv, hs, 100, cf, sf, nullptr));
  EXPECT_EQ(0x5A, cf[39]);
  EXPECT_EQ(0x5A, sf[0]);
  auto m = sent_requests(d(), KQ_ENCRYPT_SESSION);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(396, m[0].dlen);
  EXPECT_EQ(80, m[0].rlen);
  EXPECT_EQ(0, m[0].param1);
  EXPECT_EQ(0, m[0].param2);
  EXPECT_EQ(1080u, m[0].timeout);
  EXPECT_EQ(h, m[0].sess_handle);  // unmasked
  EXPECT_EQ((std::vector<uint16_t>{256, 32, 8, 100}), m[0].in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{40, 40}), m[0].out_sizes());
  // The HSM's verdict is the request status.
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_ENCRYPT_SESSION, status(RET_INVALID_INPUT));
  EXPECT_EQ(RET_INVALID_INPUT,
            Qel2EncryptSession(h, OSTREL_BLOCKING, pms, cr, iv, hs, 100, cf, sf, nullptr));
}

TEST_F(Sessions, AuthoriseMasksOnlyTheCallersHandle) {
  Uint32 session = start_session();
  script_std(KQ_AUTHORIZE_SESSION);
  ASSERT_EQ(0u, Qel2AuthorizeSession(session | 0x40000000, 0xC0000123));
  auto m = sent_requests(d(), KQ_AUTHORIZE_SESSION);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(session, m[0].sess_handle);
  std::vector<uint8_t> want(Be{}.zeros(12).u32(session).u32(0).u32(0xC0000123));
  EXPECT_EQ(want, m[0].body());
}

TEST_F(Sessions, InfoInHostOrderAndRaw) {
  Uint32 session = start_session();
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO,
             payload(resp(0).u32(1).u32(STATE_RW_USER_FUNCTIONS).u32(6).u32(0)));
  SessionInfo info = {};
  ASSERT_EQ(0u, Qel2GetSessionInfo(session | 0x80000000, &info));
  EXPECT_EQ(1u, info.slotID);
  EXPECT_EQ(STATE_RW_USER_FUNCTIONS, info.state);
  EXPECT_EQ(6u, info.flags);
  Uint32 state = 0;
  ASSERT_EQ(0u, Qel2GetLoginStatus(session, &state));
  EXPECT_EQ(3u, state);
  GetSessionInfoResponse raw;
  ASSERT_EQ(0u, Qel2GetSessionInfo2(session, &raw, OSTREL_BLOCKING, nullptr));
  EXPECT_EQ(__builtin_bswap32(3u), static_cast<Uint32>(raw.info.state));

  auto m = sent_requests(d(), KQ_GET_SESSION_INFO);
  ASSERT_EQ(3u, m.size());
  EXPECT_EQ(session, m[0].sess_handle);
  EXPECT_EQ(20, m[0].dlen);
  EXPECT_EQ(32, m[0].rlen);
  EXPECT_EQ(session, be32(m[0].body(), 12));

  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, payload(resp(RET_INVALID_SESSION)));
  info.slotID = 77;
  EXPECT_EQ(RET_INVALID_SESSION, Qel2GetSessionInfo(session, &info));
  EXPECT_EQ(77u, info.slotID);  // not written on failure
}

TEST_F(Sessions, CloseCarriesTheNonceOfTheSessionsApplication) {
  script_app_init(0x00054000, 0x22223333);
  Uint32 app = 0;
  ASSERT_EQ(0u, Qel2Initialize3(2, OSTREL_DIRECT, "PARTITION_1", &app));
  script_std(KQ_CLOSE_SESSION);
  Uint32 session = 0x80000000 | 0x01054321;  // device 2, application index 21
  ASSERT_EQ(0u, Qel2CloseSession(session));
  auto m = sent_requests(d(), KQ_CLOSE_SESSION);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(0x01054321u, m[0].sess_handle);
  std::vector<uint8_t> want(Be{}.zeros(8).u32(0x22223333).u32(0x01054321).u32(0));
  EXPECT_EQ(want, m[0].body());
}

TEST_F(Sessions, CloseAllSendsNoCommandRecord) {
  Uint32 session = start_session();
  script_std(KQ_CLOSE_ALL_SESSIONS);
  ASSERT_EQ(0u, Qel2CloseAllSessions(session | 0x40000000));
  auto m = sent_requests(d(), KQ_CLOSE_ALL_SESSIONS);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(0, m[0].incnt);
  EXPECT_EQ(0, m[0].dlen);
  EXPECT_EQ(16, m[0].rlen);
  EXPECT_EQ(16, m[0].param2);
  EXPECT_EQ(session, m[0].sess_handle);
}

TEST_F(Sessions, ClosingPartitionSessionsDropsConnectionsOnlyWhenOwnPartitionIsClosed) {
  struct Case {
    Uint32 handle;
    const char *name;
    bool drops;
  } cases[] = {
      {0x00004001, "PARTITION_1", false},  // partition-0 session closing another partition
      {0x00004001, "PARTITION_0", true},   // partition-0 session closing its own
      {0x01004001, "PARTITION_1", true},   // a session of partition 1
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Uint32 app = start();
    script_std(KQ_CLOSE_PARTITION_SESSIONS);
    d().clear_captured();
    Uint8 len = static_cast<Uint8>(strlen(c.name));
    ASSERT_EQ(0u, Qel2ClosePartitionSessions(c.handle | 0x40000000,
                                             reinterpret_cast<const Uint8 *>(c.name), len));
    auto m = sent_requests(d(), KQ_CLOSE_PARTITION_SESSIONS);
    ASSERT_EQ(1u, m.size());
    EXPECT_EQ(c.handle, m[0].sess_handle);
    std::vector<uint8_t> want(Be{}.zeros(12).u32(c.handle).u32(0).text(c.name, 16));
    EXPECT_EQ(want, m[0].body());
    script_open_session();
    Uint32 session = 0;
    EXPECT_EQ(c.drops ? Uint32{TESSALINE_INVALID_OPERATION} : 0u, Qel2OpenSession2(app, &session));
    Qel2SDKCleanup();
  }
}

TEST_F(Sessions, RefusedClosingKeepsConnections) {
  Uint32 app = start();
  script_std(KQ_CLOSE_PARTITION_SESSIONS, RET_INVALID_USER);
  EXPECT_EQ(RET_INVALID_USER, Qel2ClosePartitionSessions(
                                  0x01004001, reinterpret_cast<const Uint8 *>("PARTITION_1"), 11));
  script_open_session();
  Uint32 session = 0;
  EXPECT_EQ(0u, Qel2OpenSession2(app, &session));
}

}  // namespace
