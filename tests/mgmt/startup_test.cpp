// Library start-up and shutdown.
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "daemon_intf/transport.h"
#include "request/app_state.h"
#include "sim_fixture.h"

using namespace mgmt_test;

namespace {

bool eventually(const std::function<bool()> &cond) {
  for (int i = 0; i < 200; ++i) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return cond();
}

using Startup = SimTest;

TEST_F(Startup, InitialiseChecksTheVersionAndSendsTheNameCutTo15) {
  script_app_init();
  Uint32 app = 0;
  ASSERT_EQ(0u, Qel2Initialize3(0, OSTREL_SCATTER_GATHER, "PARTITION_123456789X", &app));
  EXPECT_EQ(kAppIdentifier, app);
  EXPECT_EQ(kNonce, login_nonce[0][21]);
  EXPECT_EQ(OSTREL_SCATTER_GATHER, global_dma_mode);

  auto all = d().captured();
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(GET_DAEMON_VERSION, all[0].operation);
  Request m = decode_request(all[1]);
  EXPECT_EQ(KQ_APP_INITIALIZE, m.opcode);
  EXPECT_EQ(0u, m.sess_handle);
  EXPECT_EQ(32, m.dlen);
  EXPECT_EQ(32, m.param1);
  EXPECT_EQ(20, m.rlen);
  EXPECT_EQ(20, m.param2);
  EXPECT_EQ(120u, m.timeout);
  std::vector<uint8_t> want(16, 0);
  for (char c : std::string("PARTITION_12345")) want.push_back(uint8_t(c));
  want.push_back(0);
  EXPECT_EQ(want, m.body());
}

TEST_F(Startup, DeviceOneKeepsItsOwnNonceAndShutsDownWithIt) {
  script_app_init(0x00054000, 0x11112222);
  Uint32 app = 0;
  ASSERT_EQ(0u, Qel2Initialize3(1, OSTREL_DIRECT, "PARTITION_1", &app));
  EXPECT_EQ(0x40054000u, app);
  EXPECT_EQ(0x11112222u, login_nonce[1][21]);

  script_std(KQ_APP_FINALIZE);
  ASSERT_EQ(0u, Qel2Shutdown2(app));
  auto fin = sent_requests(d(), KQ_APP_FINALIZE);
  ASSERT_EQ(1u, fin.size());
  EXPECT_EQ(0x00054000u, fin[0].sess_handle);
  EXPECT_EQ(24, fin[0].dlen);
  EXPECT_EQ(16, fin[0].rlen);
  std::vector<uint8_t> want(Be{}.zeros(16).u32(0x00054000).u32(0x11112222));
  EXPECT_EQ(want, fin[0].body());
}

TEST_F(Startup, SecondInitialiseAddsAnApplicationOnTheSameConnection) {
  d().script(KQ_MGMT_CMD, KQ_APP_INITIALIZE, payload(resp(0, 7).u32(0x00004000), 1));
  d().script(KQ_MGMT_CMD, KQ_APP_INITIALIZE, payload(resp(0, 8).u32(0x00008000), 1));
  Uint32 a1 = 0, a2 = 0;
  ASSERT_EQ(0u, Qel2Initialize2(0, OSTREL_DIRECT, &a1));
  ASSERT_EQ(0u, Qel2Initialize2(0, OSTREL_DIRECT, &a2));
  EXPECT_EQ(0x4000u, a1);
  EXPECT_EQ(0x8000u, a2);
  EXPECT_EQ(7u, login_nonce[0][1]);
  EXPECT_EQ(8u, login_nonce[0][2]);
  EXPECT_EQ(1u, d().connections_accepted());
  // The default partition name.
  auto inits = sent_requests(d(), KQ_APP_INITIALIZE);
  ASSERT_EQ(2u, inits.size());
  EXPECT_EQ(std::vector<uint8_t>(Be{}.zeros(16).text("PARTITION_1", 16)), inits[0].body());
}

TEST_F(Startup, DaemonOfAnotherVersionIsRefusedAndDropped) {
  d().set_daemon_version(2, 4);
  script_app_init();
  Uint32 app = 0xFFFFFFFF;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_VERSION_MISMATCH, Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos,
            out.find("Version Mismatch with daemon, received: 2.4, supported range: 2.3 to 2.3\n"));
  EXPECT_EQ(0x0204u, app);
  EXPECT_EQ(0u, sent_requests(d(), KQ_APP_INITIALIZE).size());
  EXPECT_EQ(0xFFFFFFFFu, Qel2GetDriverState(0));
  EXPECT_TRUE(eventually([&] { return d().connections_open() == 0; }));
}

TEST_F(Startup, FailedInitialiseRefusesEveryRequestUntilCleanup) {
  d().script(KQ_MGMT_CMD, KQ_APP_INITIALIZE, payload(resp(RET_APP_NOT_INITIALIZED), 1));
  Uint32 app = 0xFFFFFFFF;
  testing::internal::CaptureStdout();
  EXPECT_EQ(RET_APP_NOT_INITIALIZED, Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(
      0u,
      out.find("Qel2InitializeCommon:1018 error 138 : HSM Error: Application is not registered"));
  EXPECT_EQ(0u, app);
  EXPECT_TRUE(eventually([&] { return d().connections_open() == 0; }));

  d().clear_captured();
  Uint32 session = 0;
  HSMInfo info;
  EXPECT_EQ(TESSALINE_INVALID_OPERATION, Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app));
  EXPECT_EQ(TESSALINE_INVALID_OPERATION, Qel2OpenSession2(kAppIdentifier, &session));
  EXPECT_EQ(TESSALINE_INVALID_OPERATION, Qel2GetHSMInfo(0, &info));
  EXPECT_EQ(0u, d().captured().size());

  Qel2SDKCleanup();
  script_app_init();
  EXPECT_EQ(0u, Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app));
  EXPECT_EQ(kAppIdentifier, app);
}

TEST_F(Startup, ShutdownDropsEveryConnection) {
  Uint32 app = start();
  script_std(KQ_APP_FINALIZE);
  ASSERT_EQ(0u, Qel2Shutdown2(app));
  EXPECT_EQ(0xFFFFFFFFu, Qel2GetDriverState(0));
  EXPECT_EQ(OSTREL_DIRECT, global_dma_mode);
  EXPECT_EQ(-1, process_id);
  EXPECT_TRUE(eventually([&] { return d().connections_open() == 0; }));
  Uint32 session;
  EXPECT_EQ(TESSALINE_INVALID_OPERATION, Qel2OpenSession2(app, &session));
  // And the library starts again.
  EXPECT_EQ(kAppIdentifier, start());
}

TEST_F(Startup, ShutdownRefusedByTheHsmKeepsTheConnections) {
  Uint32 app = start();
  script_std(KQ_APP_FINALIZE, RET_INVALID_SESSION);
  EXPECT_EQ(RET_INVALID_SESSION, Qel2Shutdown2(app));
  script_open_session();
  Uint32 session = 0;
  EXPECT_EQ(0u, Qel2OpenSession2(app, &session));
  EXPECT_EQ(1u, d().connections_accepted());
  d().clear_scripts();
  script_std(KQ_APP_FINALIZE, 0);
  EXPECT_EQ(0u, Qel2Shutdown2(app));
}

TEST_F(Startup, ShutdownWithoutStartIsRefusedWithoutTraffic) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_LIB_NOT_INITIALIZED, Qel2Shutdown2(kAppIdentifier));
  EXPECT_EQ("Qel2Shutdown: Application is not initialized ",
            testing::internal::GetCapturedStdout());
  start();
  EXPECT_EQ(ERR_LIB_NOT_INITIALIZED, Qel2Shutdown2(0xC0003FFF));  // no application bits
  EXPECT_EQ(0u, sent_requests(d(), KQ_APP_FINALIZE).size());
}

TEST_F(Startup, ForkedChildNeitherFinalisesNorUsesTheParentsConnection) {
  Uint32 app = start();
  script_open_session();
  script_std(KQ_APP_FINALIZE);
  d().clear_captured();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Uint32 r1 = Qel2Shutdown2(app);
    Uint32 session = 0;
    Uint32 r2 = Qel2OpenSession2(app, &session);
    _exit(r1 == 0 && r2 == 0 ? 0 : 1);
  }
  int st = 0;
  ASSERT_EQ(child, waitpid(child, &st, 0));
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(0, WEXITSTATUS(st));
  EXPECT_EQ(0u, sent_requests(d(), KQ_APP_FINALIZE).size());
  auto opens = sent_requests(d(), KQ_OPEN_SESSION);
  ASSERT_EQ(1u, opens.size());
  EXPECT_NE(0, opens[0].connection);  // the child's own connection
  EXPECT_EQ(0u, Qel2Shutdown2(app));
  EXPECT_EQ(1u, sent_requests(d(), KQ_APP_FINALIZE).size());
}

TEST_F(Startup, PeerVersionRecord) {
  EXPECT_EQ(ERR_INVALID_INPUT, get_peer_version(nullptr));
  Uint8 v[4] = {};
  ASSERT_EQ(0u, get_version(v));
  EXPECT_EQ((std::vector<Uint8>{2, 3, 2, 3}), std::vector<Uint8>(v, v + 4));
  EXPECT_EQ(0u, Qel2GetDriverState(0));
  EXPECT_EQ(ERR_LIB_INITIALIZED, Qel2SDKInit(0, -1));
}

TEST_F(Startup, EpollOnADeviceNotStarted) {
  struct epoll_event ev = {};
  testing::internal::CaptureStdout();
  EXPECT_EQ(-2, Qel2EpollInit(&ev, 4, 0));
  EXPECT_EQ(-2, Qel2EpollInit(&ev, 4, 16));
  EXPECT_EQ("epoll_ctl failedepoll_ctl failed", testing::internal::GetCapturedStdout());
  EXPECT_EQ(EPOLLIN, ev.events);
}

TEST_F(Startup, DeviceIndexesOutsideTheTablesAreRefused) {
  Uint32 app = 0, session = 0;
  HSMInfo info;
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2Initialize(16, OSTREL_DIRECT));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2Initialize(-1, OSTREL_DIRECT));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2Initialize3(16, OSTREL_DIRECT, "P", &app));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2InitializeNew(99, OSTREL_DIRECT, "P"));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2SDKInit(16, -1));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2Shutdown(16));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2OpenSession(-3, &session));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetHSMInfo(16, &info));
  EXPECT_EQ(0u, d().captured().size());
  EXPECT_EQ(0u, d().connections_accepted());
}

}  // namespace
