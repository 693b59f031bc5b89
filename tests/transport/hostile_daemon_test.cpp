// A daemon that lies about lengths, trickles, goes away and comes back, and
// threads that come and go: no call waits past its time-out, every thread
// recovers, and no descriptor or record is left behind.
#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "qel2_sdk.h"
#include "sim_fixture.h"

using hsmsim::Answer;
using hsmsim::kEchoCommandType;
using tt::Bytes;
using namespace std::chrono_literals;

namespace {

int open_descriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n - 1;  // the directory's own
}

// The stand-in closes its side of a connection a little after the library.
bool descriptors_settle_at(int want) {
  for (int i = 0; i < 300; ++i) {
    if (open_descriptors() <= want) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

int records_in_table() {
  int n = 0;
  pthread_mutex_lock(&cli_th_tbl_lock);
  if (orx_tessaline_cli_threads_table)
    for (int i = 0; i < THREAD_TABLE_BUCKETS; ++i)
      for (thread_info *t = orx_tessaline_cli_threads_table[i].next; t; t = t->next) ++n;
  pthread_mutex_unlock(&cli_th_tbl_lock);
  return n;
}

class Hostile : public tt::SimTransport {
 protected:
  // One waiting unit of 10 ms: an echo request (time-out 10 s + 30) may take
  // 400 ms for the rest of a message and 600 ms for its first bytes.
  static constexpr long kUnitMs = 10;
  static constexpr long kFirstWaitMs = 60 * kUnitMs;
  void SetUp() override {
    tt::SimTransport::SetUp();
    transport_seam_set_second_ms(kUnitMs);
    // The stand-in has accepted the starting thread's connection once it answered.
    ASSERT_TRUE(echo_ok(0));
  }
};

TEST_F(Hostile, AnnouncementTheRequestCannotUseDropsTheConnection) {
  struct Case {
    const char *what;
    uint32_t announced;  // 100 bytes follow the header
    Int32 want;
    // The bytes this answer leaves are taken for the next message: the next
    // request finds the stream out of step at once and drops the connection.
    bool next_out_of_step;
  };
  const Case cases[] = {
      {"0xFFFFFFFF", 0xFFFFFFFFu, TESSALINE_INVALID_MSG, false},  // refused when read
      {"4 more than sent", 104, TESSALINE_SOCKET_RCV_TIMEOUT, true},
      {"4 fewer than sent", 96, 0, true},   // 4 bytes left: they may begin a message
      {"16 fewer than sent", 84, 0, true},  // so may 16
      {"60 fewer than sent", 40, TESSALINE_INVALID_MSG, false},  // 60 cannot
  };
  size_t accepted = d().connections_accepted();
  Uint16 opcode = 40;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Answer lie;
    lie.announced_len = c.announced;
    lie.count = 1;
    d().script(kEchoCommandType, ++opcode, lie);
    Bytes in = tt::pattern(100, 5), out(100, 0);
    request_buffer rb = echo_request(in, out, opcode);
    testing::internal::CaptureStdout();
    auto t0 = std::chrono::steady_clock::now();
    const Int32 r = send(rb);
    EXPECT_LT(tt::ms_since(t0), kFirstWaitMs);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, c.want);
    Bytes want_out(100, 0);  // a refused answer reaches no output
    if (c.want == 0) std::copy(in.begin(), in.begin() + c.announced, want_out.begin());
    EXPECT_EQ(out, want_out);
    if (c.next_out_of_step) {
      Bytes in2 = tt::pattern(64, 7), out2(64, 0);
      request_buffer next = echo_request(in2, out2);
      testing::internal::CaptureStdout();
      EXPECT_EQ(send(next), TESSALINE_INVALID_MSG);
      testing::internal::GetCapturedStdout();
      EXPECT_EQ(d().connections_accepted(), accepted);
    }
    EXPECT_TRUE(echo_ok(7));  // on a new connection, and in step
    EXPECT_EQ(d().connections_accepted(), ++accepted);
  }

  // A record announced 16 bytes short fills what it announced; the 16 bytes
  // it leaves make the next request find the stream out of step.
  Answer short_record;
  short_record.payload = Bytes(72, 0xEE);
  short_record.announced_len = 56u;
  short_record.count = 1;
  d().script_control(HSM_HEALTH_DUMP, short_record);
  Bytes hb(72, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(orx_tessaline_cli_send_daemon(hb.data(), HSM_HEALTH_DUMP, 0, nullptr, nullptr), 0);
  testing::internal::GetCapturedStdout();
  Bytes want_hb(72, 0);
  std::fill(want_hb.begin(), want_hb.begin() + 56, 0xEE);
  EXPECT_EQ(hb, want_hb);
  Bytes in2 = tt::pattern(64, 8), out2(64, 0);
  request_buffer next = echo_request(in2, out2);
  testing::internal::CaptureStdout();
  EXPECT_EQ(send(next), TESSALINE_INVALID_MSG);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(echo_ok(8));
  EXPECT_EQ(d().connections_accepted(), ++accepted);
}

TEST_F(Hostile, TrickledAnswerEndsAtItsTimeout) {
  // Units of 50 ms here: the rest of a message within 2 s, its first bytes
  // within 3 s. The trickle lasts about 3 s: it is cut a second before its
  // end, and its end comes a second before the next request's wait for it
  // would, so a loaded machine has a second's room either way.
  constexpr long kUnit = 50, kFirst = 60 * kUnit, kRest = 40 * kUnit;
  transport_seam_set_second_ms(kUnit);
  Answer trickle;
  trickle.chunk = 4;  // 156 bytes in 39 pieces
  trickle.chunk_pause = 77ms;
  trickle.count = 1;
  d().script(kEchoCommandType, 60, trickle);
  const size_t accepted = d().connections_accepted();
  Bytes in = tt::pattern(100, 1), out(100, 0);
  request_buffer rb = echo_request(in, out, 60);
  testing::internal::CaptureStdout();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(send(rb), TESSALINE_SOCKET_RCV_TIMEOUT);
  long waited = tt::ms_since(t0);
  testing::internal::GetCapturedStdout();
  EXPECT_GE(waited, kRest - 10);
  EXPECT_LT(waited, kFirst);
  // The connection and what came of the answer stay: the next request
  // finishes the trickled answer, then gets its own, on the same connection.
  testing::internal::CaptureStdout();
  EXPECT_TRUE(echo_ok(2));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(d().connections_accepted(), accepted);
}

TEST_F(Hostile, PendingEntriesOfADroppedConnectionEndAsForARemovedRecord) {
  d().set_nonblocking_delay(2s);
  Bytes in(8, 1), out(8, 0);
  request_buffer nb = echo_request(in, out);
  ASSERT_EQ(send(nb, 1), 0);
  Answer cut;
  cut.close_after = 20;
  cut.count = 1;
  d().script(kEchoCommandType, 70, cut);
  Bytes out2(8, 0);
  request_buffer rb = echo_request(in, out2, 70);
  testing::internal::CaptureStdout();
  EXPECT_EQ(send(rb), TESSALINE_SOCKET_RCV_PEER_DOWN);
  EXPECT_EQ(Qel2CheckForCompletion(nb.request_id), TESSALINE_INVALID_REQID);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, Bytes(8, 0));
}

TEST_F(Hostile, ThreadsRecoverWhenTheDaemonRestarts) {
  constexpr int kThreads = 256;
  transport_seam_set_second_ms(50);  // first bytes within 3 s: room for a loaded machine
  const uint32_t id = d().daemon_id();
  const int baseline = open_descriptors();
  std::atomic<int> connected{0}, tried{0}, recovered{0}, stage{0};
  std::atomic<long> longest{0};  // from the daemon's stop on
  std::atomic<std::chrono::steady_clock::time_point> restarted{std::chrono::steady_clock::now()};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      // A loaded machine may make the first round trips slow: retry them.
      for (int attempt = 0; attempt < 20; ++attempt)
        if (echo_ok(static_cast<uint8_t>(i))) {
          ++connected;
          break;
        }
      ++tried;
      while (stage.load() < 1) std::this_thread::sleep_for(1ms);
      for (;;) {
        auto t0 = std::chrono::steady_clock::now();
        bool ok = echo_ok(static_cast<uint8_t>(i));
        long took = tt::ms_since(t0);
        long seen = longest.load();
        while (took > seen && !longest.compare_exchange_weak(seen, took)) {
        }
        if (ok && stage.load() == 2) {
          ++recovered;
          break;
        }
        if (stage.load() == 2 && tt::ms_since(restarted.load()) > 60000) break;  // give up
        std::this_thread::sleep_for(5ms);
      }
    });
  for (int i = 0; i < 6000 && tried.load() < kThreads; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(connected.load(), kThreads);

  testing::internal::CaptureStdout();
  daemon_.reset();  // the daemon goes away under the threads' requests
  stage = 1;
  std::this_thread::sleep_for(200ms);
  daemon_ = std::make_unique<hsmsim::Daemon>(hsmsim::Daemon::Options{id, false, 0});
  d().set_capture(false);
  restarted = std::chrono::steady_clock::now();
  stage = 2;
  for (auto &t : threads) t.join();
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(recovered.load(), kThreads);
  EXPECT_LT(longest.load(), 60 * 50 + 3000);  // nothing waited past its time-out
  // The threads are gone, and so are their records and descriptors.
  EXPECT_EQ(records_in_table(), 1);
  EXPECT_TRUE(descriptors_settle_at(baseline)) << open_descriptors() << " > " << baseline;
}

TEST_F(Hostile, ExitedThreadsLeaveNoRecordNorDescriptor) {
  transport_seam_set_second_ms(1000);  // no time-out here, however loaded the machine
  const int baseline = open_descriptors();
  const size_t accepted = d().connections_accepted();
  for (int round = 0; round < 4; ++round) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 64; ++i) threads.emplace_back([i] { EXPECT_TRUE(echo_ok(i)); });
    for (auto &t : threads) t.join();
  }
  EXPECT_EQ(d().connections_accepted(), accepted + 256);
  EXPECT_EQ(records_in_table(), 1);
  EXPECT_TRUE(descriptors_settle_at(baseline)) << open_descriptors() << " > " << baseline;

  // A thread that gets an exited thread's id (threads' ids come back soon)
  // connects anew instead of inheriting its connection.
  std::thread([] { EXPECT_TRUE(echo_ok(1)); }).join();
  std::thread([] { EXPECT_TRUE(echo_ok(2)); }).join();
  EXPECT_EQ(d().connections_accepted(), accepted + 258);
}

TEST_F(Hostile, FailedStartLeavesNoTableAndTheNextStartWorks) {
  transport_seam_stop();
  const std::string good = std::to_string(d().daemon_id());
  const std::string nobody = std::to_string(d().daemon_id() + 104729u);
  testing::internal::CaptureStdout();
  for (int round = 0; round < 2; ++round) {
    setenv("tessaline_daemon_id", nobody.c_str(), 1);
    EXPECT_EQ(Qel2SDKInit(0, -1), TESSALINE_SOCKET_CONNECT);
    EXPECT_EQ(orx_tessaline_cli_threads_table, nullptr);  // nothing leaks
    setenv("tessaline_daemon_id", good.c_str(), 1);
    EXPECT_EQ(Qel2SDKInit(0, -1), 0u);  // not refused as a second start
    EXPECT_TRUE(echo_ok(3));
    Qel2SDKCleanup();
  }
  testing::internal::GetCapturedStdout();
}

}  // namespace
