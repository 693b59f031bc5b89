// The stand-in daemon seen from a bare socket: framing, echo, control
// operations, malformed input, scripting and non-blocking answers.
#include <gtest/gtest.h>

#include <sys/un.h>

#include <atomic>
#include <thread>

#include "raw_client.h"

using namespace std::chrono_literals;
using hsmsim::Answer;
using hsmsim::Daemon;
using hsmsim::kEchoCommandType;
using simtest::RawClient;
using simtest::Request;

namespace {

Request echo(std::vector<std::vector<uint8_t>> inputs, std::vector<uint32_t> outputs,
             uint32_t id = 0x40000000) {
  Request r;
  r.command_type = kEchoCommandType;
  r.opcode = 1;
  r.req_id = id;
  r.inputs = std::move(inputs);
  r.outputs = std::move(outputs);
  return r;
}

std::vector<uint8_t> concat(const std::vector<std::vector<uint8_t>> &parts, size_t cut) {
  std::vector<uint8_t> all;
  for (const auto &p : parts) all.insert(all.end(), p.begin(), p.end());
  if (all.size() > cut) all.resize(cut);
  return all;
}

class DaemonBoth : public ::testing::TestWithParam<bool> {
 protected:
  Daemon d{Daemon::Options{0, GetParam(), 0}};
};

}  // namespace

TEST_P(DaemonBoth, EchoCutsToOutputSizesAndAnswersTheRequestId) {
  RawClient c(d);
  ASSERT_TRUE(c.connected());
  std::vector<std::vector<uint8_t>> in = {simtest::pattern(10, 1), simtest::pattern(30, 2)};
  struct Case {
    std::vector<uint32_t> outs;
    size_t expect;
  } cases[] = {{{8, 8}, 16}, {{100}, 40}, {{}, 0}, {{40}, 40}};
  uint32_t id = 0x40000010;
  for (const auto &k : cases) {
    auto r = c.call(echo(in, k.outs, id));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0u);
    EXPECT_EQ(r->req_id, id);
    EXPECT_EQ(r->req_type, 0);
    EXPECT_EQ(r->payload, concat(in, k.expect));
    ++id;
  }
}

TEST_P(DaemonBoth, SegmentsOverSixtyFourKiBKeepTheStreamInStep) {
  RawClient c(d);
  ASSERT_TRUE(c.connected());
  // 70000 bytes declare 4464 in their 16-bit descriptor; 65536 exactly declares 0.
  for (size_t big : {size_t{70000}, size_t{65536}, size_t{140000}}) {
    d.clear_captured();
    std::vector<std::vector<uint8_t>> in = {simtest::pattern(16, 3), simtest::pattern(big, 4)};
    auto r = c.call(echo(in, {static_cast<uint32_t>(big + 16)}));
    ASSERT_TRUE(r) << big;
    EXPECT_EQ(r->status, 0u);
    EXPECT_EQ(r->payload, concat(in, big + 16)) << big;
    auto cap = d.captured();
    ASSERT_EQ(cap.size(), 1u);
    EXPECT_EQ(cap[0].bytes.size(), 96 + 6 * 3 + 16 + big);
    // The next request on the same connection is framed from the right place.
    auto r2 = c.call(echo({{1, 2, 3}}, {3}, 0x40000100));
    ASSERT_TRUE(r2);
    EXPECT_EQ(r2->req_id, 0x40000100u);
    EXPECT_EQ(r2->payload, (std::vector<uint8_t>{1, 2, 3}));
  }
}

TEST_P(DaemonBoth, ControlOperations) {
  RawClient c(d);
  ASSERT_TRUE(c.connected());
  struct Case {
    uint8_t op;
    uint8_t type;
    uint16_t out;
    size_t len;
  } cases[] = {
      {4, 0x56, 72, 72}, {5, 0x56, 2, 2}, {8, 0x55, 2, 2}, {9, 0x41, 0, 0}, {10, 0x55, 256, 0}};
  uint32_t id = 0x40000000;
  for (const auto &k : cases) {
    ASSERT_TRUE(c.send_bytes(simtest::control(k.op, id, k.type, k.out)));
    auto r = c.read_reply();
    ASSERT_TRUE(r) << int(k.op);
    EXPECT_EQ(r->status, 0u);
    EXPECT_EQ(r->req_id, id);
    EXPECT_EQ(r->payload.size(), k.len) << int(k.op);
    if (k.op == 8) {
      EXPECT_EQ(r->payload, (std::vector<uint8_t>{2, 3}));
    }
    ++id;
  }
  d.set_daemon_version(2, 4);
  ASSERT_TRUE(c.send_bytes(simtest::control(8, 7, 0x55, 2)));
  auto r = c.read_reply();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->payload, (std::vector<uint8_t>{2, 4}));
}

INSTANTIATE_TEST_SUITE_P(UnixAndTcp, DaemonBoth, ::testing::Values(false, true),
                         [](const auto &i) { return i.param ? "tcp" : "unix"; });

TEST(Daemon, ListensOnTheExactAbstractName) {
  Daemon d;
  ASSERT_NE(d.daemon_id(), 0u);
  std::string name = "/etc/ostrel/daemon_socket" + std::to_string(d.daemon_id());
  auto try_connect = [&](socklen_t len) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path + 1, name.data(), name.size());
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), len) == 0;
    ::close(fd);
    return ok;
  };
  EXPECT_TRUE(try_connect(sizeof(sockaddr_un)));  // 110: the whole 108-byte path
  EXPECT_EQ(sizeof(sockaddr_un), 110u);
  EXPECT_FALSE(
      try_connect(static_cast<socklen_t>(2 + 1 + name.size())));  // the short name is another name
}

TEST(Daemon, TwoDaemonsGetDifferentIdsAndAFixedIdIsExclusive) {
  Daemon a, b;
  EXPECT_NE(a.daemon_id(), b.daemon_id());
  EXPECT_THROW(Daemon(Daemon::Options{a.daemon_id(), false, 0}), std::runtime_error);
}

TEST(Daemon, ClusterStatusKnowsReplicatedRequestsOnly) {
  Daemon d;
  RawClient c(d);
  Request login;  // opcode 13 is replicated across a cluster
  login.opcode = 13;
  login.req_id = 0x40000005;
  login.inputs = {std::vector<uint8_t>(20, 0)};
  login.outputs = {16};
  ASSERT_TRUE(c.call(login));
  Request info = login;  // 37 is not
  info.opcode = 37;
  info.req_id = 0x40000006;
  ASSERT_TRUE(c.call(info));

  ASSERT_TRUE(c.send_bytes(simtest::control(10, 0x40000005, 0x55, 256)));
  auto r = c.read_reply();
  ASSERT_TRUE(r);
  ASSERT_EQ(r->payload.size(), 256u);
  EXPECT_EQ(simtest::get<uint32_t>(r->payload, 0), 0u);  // node 0
  EXPECT_EQ(simtest::get<uint32_t>(r->payload, 8), 0xFFFFFFFFu);
  ASSERT_TRUE(c.send_bytes(simtest::control(10, 0x40000006, 0x55, 256)));
  r = c.read_reply();
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->payload.empty());
}

TEST(Daemon, MalformedRequestsGetAStatusOrAClosedConnection) {
  Daemon d;
  auto full = [] { return simtest::build(echo({{1, 2, 3, 4}}, {4})); };
  struct Case {
    const char *what;
    std::function<void(std::vector<uint8_t> &)> spoil;
    uint32_t status;
    bool closes;
  } cases[] = {
      {"unknown operation, header only",
       [](auto &m) {
         m.resize(56);
         m[49] = 7;
         simtest::put<uint16_t>(m, 16, 0);
       },
       0x40000048, false},
      {"unknown operation with a body", [](auto &m) { m[49] = 15; }, 0x40000048, true},
      {"33 input segments", [](auto &m) { m[57] = 33; }, 0x4000004B, true},
      {"in_len that does not add up", [](auto &m) { simtest::put<uint16_t>(m, 16, 41); },
       0x4000004B, true},
      {"segment directions swapped",
       [](auto &m) {
         m[96] = 1;
         m[102] = 0;
       },
       0x4000004B, false},
  };
  for (const auto &k : cases) {
    RawClient c(d);
    ASSERT_TRUE(c.connected());
    auto m = full();
    k.spoil(m);
    ASSERT_TRUE(c.send_bytes(m)) << k.what;
    auto r = c.read_reply();
    ASSERT_TRUE(r) << k.what;
    EXPECT_EQ(r->status, k.status) << k.what;
    if (k.closes) {
      EXPECT_TRUE(c.closed_by_peer()) << k.what;
    } else {
      auto ok = c.call(echo({{9}}, {1}, 0x40000002));
      ASSERT_TRUE(ok) << k.what;
      EXPECT_EQ(ok->payload, std::vector<uint8_t>{9}) << k.what;
    }
  }
  // A header cut short, then the peer leaves: nothing to answer, nothing breaks.
  {
    RawClient c(d);
    auto m = full();
    m.resize(20);
    ASSERT_TRUE(c.send_bytes(m));
  }
  RawClient c(d);
  EXPECT_TRUE(c.call(echo({{5}}, {1})));
}

TEST(Daemon, RandomBytesNeverCrashIt) {
  Daemon d;
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 200; ++round) {
    RawClient c(d);
    ASSERT_TRUE(c.connected());
    auto m = simtest::build(echo({simtest::pattern(next() % 64, 1)}, {8}));
    for (int k = 0; k < 4; ++k) m[next() % m.size()] = static_cast<uint8_t>(next() >> 16);
    m.resize(next() % (m.size() + 1));
    c.send_bytes(m);
    ::shutdown(c.fd(), SHUT_WR);
    c.read_reply(200);  // an answer or none, both fine
  }
  RawClient c(d);
  EXPECT_TRUE(c.call(echo({{1}}, {1})));
}

TEST(Daemon, CapturesEveryRequestInArrivalOrder) {
  Daemon d;
  RawClient a(d), b(d);
  Request r = echo({{1, 2}}, {2}, 0x40000009);
  r.sess_handle = 0x1234;
  r.req_type = 0;
  ASSERT_TRUE(a.call(r));
  ASSERT_TRUE(b.send_bytes(simtest::control(8, 0x40000001, 0x55, 2)));
  ASSERT_TRUE(b.read_reply());
  auto cap = d.captured();
  ASSERT_EQ(cap.size(), 2u);
  EXPECT_EQ(cap[0].bytes, simtest::build(r));
  EXPECT_EQ(cap[0].command_type, kEchoCommandType);
  EXPECT_EQ(cap[0].opcode, 1);
  EXPECT_EQ(cap[0].msg_type, 0x57);
  EXPECT_EQ(cap[0].req_id, 0x40000009u);
  EXPECT_EQ(cap[0].sess_handle, 0x1234u);
  EXPECT_EQ(cap[0].connection, 0);
  EXPECT_EQ(cap[1].operation, 8);
  EXPECT_EQ(cap[1].command_type, 0);
  EXPECT_EQ(cap[1].connection, 1);
  EXPECT_EQ(d.connections_accepted(), 2u);
  d.clear_captured();
  EXPECT_TRUE(d.captured().empty());
}

TEST(Daemon, ScriptedAnswersApplyInOrderForTheirCount) {
  Daemon d;
  RawClient c(d);
  d.script(kEchoCommandType, 1, Answer{.status = 0x40000053, .count = 2});
  d.script(kEchoCommandType, 1,
           Answer{.payload = std::vector<uint8_t>{7, 7},
                  .req_id = 99u,
                  .serveridx = 3,
                  .op_ctx = 0xABCD,
                  .count = 1});
  std::vector<uint32_t> statuses;
  for (int i = 0; i < 3; ++i) {
    auto r = c.call(echo({{1}}, {1}));
    ASSERT_TRUE(r);
    statuses.push_back(r->status);
    if (i == 2) {
      EXPECT_EQ(r->payload, (std::vector<uint8_t>{7, 7}));
    }
  }
  // Two answers from the first script, then the second one (status 0, its own payload).
  EXPECT_EQ(statuses, (std::vector<uint32_t>{0x40000053, 0x40000053, 0}));
  // Other opcodes are not touched.
  Request other = echo({{4}}, {1});
  other.opcode = 2;
  auto r = c.call(other);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->payload, std::vector<uint8_t>{4});
}

TEST(Daemon, ScriptedFaults) {
  Daemon d;
  {  // payload, id, server index and op_ctx replaced
    RawClient c(d);
    d.script(kEchoCommandType, 1,
             Answer{.payload = std::vector<uint8_t>{7, 7},
                    .req_id = 99u,
                    .serveridx = 3,
                    .op_ctx = 0xABCD,
                    .count = 1});
    auto r = c.call(echo({{1}}, {1}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->req_id, 99u);
    EXPECT_EQ(r->payload, (std::vector<uint8_t>{7, 7}));
    EXPECT_EQ(r->serveridx, 3);
    EXPECT_EQ(r->op_ctx, 0xABCDu);
  }
  {  // chunks with pauses still make one whole answer
    RawClient c(d);
    d.script(kEchoCommandType, 1, Answer{.chunk = 10, .chunk_pause = 5ms, .count = 1});
    auto r = c.call(echo({simtest::pattern(50, 1)}, {50}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->payload, simtest::pattern(50, 1));
  }
  {  // cut off after 30 bytes
    RawClient c(d);
    d.script(kEchoCommandType, 1, Answer{.close_after = size_t{30}, .count = 1});
    ASSERT_TRUE(c.send_bytes(simtest::build(echo({{1}}, {1}))));
    std::vector<uint8_t> got(30);
    ASSERT_TRUE(c.read_exact(got.data(), 30));
    EXPECT_TRUE(c.closed_by_peer());
  }
  {  // dropped: no answer; the connection goes on
    RawClient c(d);
    d.script(kEchoCommandType, 1, Answer{.drop = true, .count = 1});
    ASSERT_TRUE(c.send_bytes(simtest::build(echo({{1}}, {1}, 1))));
    EXPECT_FALSE(c.read_reply(100));
    auto r = c.call(echo({{2}}, {1}, 2));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->req_id, 2u);
  }
  {  // delayed answer overtaken by the next one
    RawClient c(d);
    d.script(kEchoCommandType, 1, Answer{.delay = 150ms, .count = 1});
    ASSERT_TRUE(c.send_bytes(simtest::build(echo({{1}}, {1}, 10))));
    ASSERT_TRUE(c.send_bytes(simtest::build(echo({{2}}, {1}, 11))));
    auto first = c.read_reply();
    auto second = c.read_reply();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->req_id, 11u);
    EXPECT_EQ(second->req_id, 10u);
  }
  {  // an announced length that differs from the bytes sent
    RawClient c(d);
    d.script(kEchoCommandType, 1,
             Answer{.payload = std::vector<uint8_t>(4, 1), .announced_len = 2u, .count = 1});
    auto r = c.call(echo({{1}}, {1}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->payload.size(), 2u);
  }
  {  // control operations are scripted by operation
    RawClient c(d);
    d.script_control(8, Answer{.payload = std::vector<uint8_t>{2, 2}, .count = 1});
    d.script_control(9, Answer{.status = 0x40000058, .count = 1});
    ASSERT_TRUE(c.send_bytes(simtest::control(8, 1, 0x55, 2)));
    auto r = c.read_reply();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->payload, (std::vector<uint8_t>{2, 2}));
    ASSERT_TRUE(c.send_bytes(simtest::control(9, 2, 0x41, 0)));
    r = c.read_reply();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x40000058u);
  }
  d.script(kEchoCommandType, 1, Answer{.status = 5});
  d.clear_scripts();
  RawClient c(d);
  auto r = c.call(echo({{1}}, {1}));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0u);
}

TEST(Daemon, NonBlockingAnswersComeLaterNewestFirstAndBlockingOnesOvertake) {
  Daemon d;
  d.set_nonblocking_delay(100ms);
  RawClient c(d);
  for (uint32_t id = 0; id < 3; ++id) {
    Request r = echo({{static_cast<uint8_t>(id)}}, {1}, id);
    r.req_type = 1;
    ASSERT_TRUE(c.send_bytes(simtest::build(r)));
  }
  auto blocking = c.call(echo({{9}}, {1}, 0x40000000));
  ASSERT_TRUE(blocking);
  EXPECT_EQ(blocking->req_id, 0x40000000u);
  EXPECT_EQ(blocking->req_type, 0);
  std::vector<uint32_t> order;
  for (int i = 0; i < 3; ++i) {
    auto r = c.read_reply();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->req_type, 1);
    EXPECT_EQ(r->payload, std::vector<uint8_t>{static_cast<uint8_t>(r->req_id)});
    order.push_back(r->req_id);
  }
  EXPECT_EQ(order, (std::vector<uint32_t>{2, 1, 0}));
}

TEST(Daemon, PipelinedRequestsInOneWrite) {
  Daemon d;
  RawClient c(d);
  auto a = simtest::build(echo({{1}}, {1}, 1));
  auto b = simtest::build(echo({simtest::pattern(70000, 2)}, {70000}, 2));
  auto e = simtest::build(echo({{3}}, {1}, 3));
  a.insert(a.end(), b.begin(), b.end());
  a.insert(a.end(), e.begin(), e.end());
  ASSERT_TRUE(c.send_bytes(a));
  for (uint32_t id = 1; id <= 3; ++id) {
    auto r = c.read_reply();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->req_id, id);
  }
}

TEST(Daemon, RequestWithoutInputsEndsAtItsDescriptors) {
  // No input segment can go on past 64 KiB, so what follows in the same
  // write is the next message even when it cannot begin a request.
  Daemon d;
  RawClient c(d);
  auto m = simtest::build(echo({}, {4}, 1));
  auto unknown = simtest::control(7, 2, 0x56, 0);
  m.insert(m.end(), unknown.begin(), unknown.end());
  ASSERT_TRUE(c.send_bytes(m));
  auto r = c.read_reply(2000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->req_id, 1u);
  EXPECT_EQ(r->status, 0u);
  auto r2 = c.read_reply(2000);
  ASSERT_TRUE(r2);
  EXPECT_EQ(r2->req_id, 2u);
  EXPECT_EQ(r2->status, 0x40000048u);
}

TEST(Daemon, ServesManyConnectionsAtOnce) {
  Daemon d;
  d.set_capture(false);
  constexpr int kClients = 300;
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<RawClient>(d));
    ASSERT_TRUE(clients.back()->connected());
  }
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 10; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < kClients; i += 10)
        for (uint32_t k = 0; k < 5; ++k) {
          auto r = clients[static_cast<size_t>(i)]->call(echo({{static_cast<uint8_t>(i)}}, {1}, k));
          if (r && r->req_id == k && r->payload[0] == static_cast<uint8_t>(i)) ++good;
        }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(good.load(), kClients * 5);
  EXPECT_EQ(d.connections_accepted(), size_t{kClients});
  EXPECT_EQ(d.connections_open(), size_t{kClients});
  clients.clear();
  for (int i = 0; i < 200 && d.connections_open() != 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(d.connections_open(), 0u);
}

TEST(Daemon, ExportEnvNamesTheEndpoint) {
  Daemon u;
  u.export_env();
  EXPECT_EQ(std::string(getenv("tessaline_daemon_id")), std::to_string(u.daemon_id()));
  EXPECT_STRNE(getenv("tessaline_daemon_socket_type"), "TCPSOCKET");
  Daemon t(Daemon::Options{0, true, 0});
  t.export_env();
  EXPECT_STREQ(getenv("tessaline_daemon_socket_type"), "TCPSOCKET");
  EXPECT_EQ(std::string(getenv("tessaline_daemon_tcp_port")), std::to_string(t.port()));
}

TEST(Daemon, WaitCapturedTimesOut) {
  Daemon d;
  EXPECT_FALSE(d.wait_captured(1, 20ms));
  RawClient c(d);
  ASSERT_TRUE(c.send_bytes(simtest::control(4, 1, 0x56, 72)));
  EXPECT_TRUE(d.wait_captured(1, 2000ms));
}

TEST(Daemon, WaitIdleWaitsForAnswersStillOnTheirWay) {
  Daemon d;
  EXPECT_TRUE(d.wait_idle(0ms));
  RawClient c(d);
  ASSERT_TRUE(c.call(echo({{1}}, {1}, 1)));
  EXPECT_TRUE(d.wait_idle(2000ms));
  EXPECT_EQ(d.requests_read(), 1u);
  EXPECT_EQ(d.requests_answered(), 1u);
  // A delayed answer is not answered while it waits for the writer.
  d.script(kEchoCommandType, 1, Answer{.delay = 500ms, .count = 1});
  ASSERT_TRUE(c.send_bytes(simtest::build(echo({{2}}, {1}, 2))));
  ASSERT_TRUE(d.wait_captured(2, 2000ms));
  EXPECT_FALSE(d.wait_idle(20ms));
  EXPECT_EQ(d.requests_read(), 2u);
  EXPECT_EQ(d.requests_answered(), 1u);
  EXPECT_TRUE(d.wait_idle(5000ms));
  EXPECT_EQ(d.requests_answered(), 2u);
  auto r = c.read_reply();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->req_id, 2u);
}
