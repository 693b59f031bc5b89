// Two threads each get a connection of their own.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "sim_fixture.h"

using namespace mgmt_test;

namespace {

using Threads = SimTest;

TEST_F(Threads, EachThreadUsesItsOwnConnection) {
  Uint32 app = start();
  script_open_session();
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, payload(resp(0).u32(1).u32(2).u32(2).u32(0)));
  d().clear_captured();
  Uint32 results[2] = {1, 1};
  auto work = [&](int i) {
    Uint32 session = 0;
    Uint32 r = Qel2OpenSession2(app, &session);
    for (int k = 0; k < 20 && r == 0; ++k) {
      SessionInfo info;
      r = Qel2GetSessionInfo(session, &info);
      if (r == 0 && info.state != STATE_RW_PUBLIC_SESSION) r = 1;
    }
    results[i] = r;
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  EXPECT_EQ(0u, results[0]);
  EXPECT_EQ(0u, results[1]);
  std::set<int> connections;
  for (const auto &c : d().captured()) connections.insert(c.connection);
  EXPECT_EQ(2u, connections.size());
  EXPECT_EQ(0u, connections.count(0));  // neither used the starting thread's connection
  EXPECT_EQ(3u, d().connections_accepted());
}

}  // namespace
