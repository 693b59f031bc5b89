// Several threads against a daemon that is correct but slow and messy
// (ChaosPeer): every request gets its own answer or fails for a reason the
// daemon gave, within its waiting time.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "chaos_peer.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"
#include "qel2_transport.h"

using chaos::Clock;
using chaos::Tag;
using tt::Bytes;

namespace {

constexpr int kUnitMs = 20;  // TSan on two loaded cores answers well within 60 units
constexpr int kThreads = 6;
constexpr int kSteps = 60;
constexpr long kBlockingBoundMs = (60 + 25) * kUnitMs;  // the first wait, and room
constexpr long kPollBoundMs = 20 * kUnitMs;             // a poll never waits
constexpr Uint32 kUntouched = 0xA5A5A5A5u;

int open_fds() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

long ms_since(Clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

std::string hex(Uint32 v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08x", v);
  return b;
}

// Violations by kind, each with its count and first few examples.
class Findings {
 public:
  static constexpr const char *kKinds[] = {
      "wrong payload",   "blocking failure", "send or poll failure", "lost request",
      "never collected", "odd status",       "call too slow",
  };
  void add(const char *kind, const std::string &example) {
    std::lock_guard lock(mu_);
    Kind &k = kinds_[kind];
    if (++k.count <= 3) k.examples += "\n    " + example;
  }
  int count(const char *kind) const {
    std::lock_guard lock(mu_);
    auto it = kinds_.find(kind);
    return it == kinds_.end() ? 0 : it->second.count;
  }
  std::string examples(const char *kind) const {
    std::lock_guard lock(mu_);
    auto it = kinds_.find(kind);
    return it == kinds_.end() ? "" : it->second.examples;
  }

 private:
  struct Kind {
    int count = 0;
    std::string examples;
  };
  mutable std::mutex mu_;
  std::map<std::string, Kind> kinds_;
};

// A request with its tag as input and one output segment of n bytes.
struct Request {
  Tag tag;
  Bytes in;
  Bytes out;
  request_buffer rb{};
  int closes_before = 0;  // closes of the thread's connections done before it went
  Request(Tag t, size_t n) : tag(t), in(chaos::tag_bytes(t)), out(n, 0) {
    tt::add_input(rb, in);
    tt::add_output(rb, out);
    rb.opcode = 1;
    rb.command_type = 1;
    rb.timeout = 10;  // T = 40 units
  }
  std::string name() const {
    return "thread " + std::to_string(tag.thread) + " #" + std::to_string(tag.seq) + " (" +
           std::to_string(out.size()) + " bytes)";
  }
  bool answered_right() const { return out == chaos::payload_for(tag, out.size()); }
};

// One test thread: a random mix of blocking and non-blocking requests,
// single and list polls, then polls until every request is accounted for.
class Worker {
 public:
  Worker(uint32_t index, uint32_t seed, chaos::ChaosPeer &peer, Findings &f)
      : w_(index), seed_(seed), rng_(seed * 7919u + index), peer_(peer), f_(f) {}

  void run() {
    for (int i = 0; i < kSteps; ++i) {
      const int dice = static_cast<int>(rng_() % 100);
      if (dice < 40)
        blocking();
      else if (dice < 75 && open_.size() < 24)
        nonblocking();
      else if (dice < 90 && !open_.empty())
        single_poll(rng_() % open_.size());
      else if (!open_.empty())
        list_poll(rng_() % 2 == 0);
    }
    // Held answers all go out once requests stop; a stalled answer ends
    // within 80 units of its request.
    const auto deadline = Clock::now() + std::chrono::milliseconds(150 * kUnitMs);
    while (!open_.empty() && Clock::now() < deadline) {
      if (rng_() % 4 == 0)
        list_poll(false);
      else
        for (size_t i = open_.size(); i-- > 0;) single_poll(i);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (const auto &r : open_) f_.add("never collected", where() + r->name());
  }

 private:
  std::string where() const { return "seed " + std::to_string(seed_) + ": "; }
  size_t size() {
    const int r = static_cast<int>(rng_() % 100);
    if (r < 70) return 8 + rng_() % 249;
    if (r < 95) return 257 + rng_() % 3800;
    return 8192 + rng_() % 12000;  // more than the library's receive buffer
  }
  // A failure the daemon caused by closing the thread's connection; each
  // close answers for one failed call (the next call connects anew).
  bool close_excuses() {
    const int c = peer_.closes_begun(w_);
    if (c <= closes_owned_) return false;
    closes_owned_ = c;
    return true;
  }
  void check_time(const char *what, Clock::time_point t0, long bound, const Request &r) {
    const long ms = ms_since(t0);
    if (ms > bound)
      f_.add("call too slow", where() + what + " of " + r.name() + " took " + std::to_string(ms) +
                                  " ms, bound " + std::to_string(bound));
  }
  void check_payload(const char *what, const Request &r) {
    if (!r.answered_right())
      f_.add("wrong payload",
             where() + what + " of " + r.name() + " got " + chaos::owner_of(r.out) + " payload");
  }
  // Reported unknown: only a close since it went may have taken it.
  void unknown(const char *what, const Request &r) {
    if (peer_.closes_begun(w_) <= r.closes_before)
      f_.add("lost request", where() + what + " reports " + r.name() + " unknown, no close");
  }

  void blocking() {
    Request r({w_, ++seq_}, size());
    const auto t0 = Clock::now();
    const Int32 s = orx_tessaline_cli_send_daemon(&r.rb, HSM_QEL1_OPERATION, 0, nullptr, nullptr);
    check_time("blocking request", t0, kBlockingBoundMs, r);
    if (s == 0) {
      if (r.rb.status != 0)
        f_.add("odd status", where() + "blocking " + r.name() + " status " +
                                 hex(static_cast<Uint32>(r.rb.status)));
      check_payload("blocking request", r);
    } else if (!(s == TESSALINE_SOCKET_RCV_TIMEOUT && peer_.stalled(r.tag)) && !close_excuses()) {
      f_.add("blocking failure", where() + r.name() + ": " + hex(static_cast<Uint32>(s)) +
                                     (peer_.stalled(r.tag) ? " (its answer stalled)" : "") +
                                     " after " + std::to_string(ms_since(t0)) + " ms");
    }
  }

  void nonblocking() {
    auto r = std::make_unique<Request>(Tag{w_, ++seq_}, size());
    r->closes_before = peer_.closes_done(w_);
    const auto t0 = Clock::now();
    const Int32 s = orx_tessaline_cli_send_daemon(&r->rb, HSM_QEL1_OPERATION, 1, nullptr, nullptr);
    check_time("non-blocking send", t0, kPollBoundMs, *r);
    if (s == 0)
      open_.push_back(std::move(r));
    else if (!close_excuses())
      f_.add("send or poll failure",
             where() + "non-blocking send of " + r->name() + ": " + hex(static_cast<Uint32>(s)));
  }

  void single_poll(size_t i) {
    const Request &r = *open_[i];
    const auto t0 = Clock::now();
    const Uint32 s = Qel2CheckForCompletion(r.rb.request_id);
    check_time("single poll", t0, kPollBoundMs, r);
    if (s == ERR_REQUEST_PENDING) return;
    if (s == 0) {
      check_payload("single poll", r);
    } else if (s == TESSALINE_INVALID_REQID) {
      unknown("single poll", r);
    } else {
      // The entry stays; a later poll tells what became of it.
      if (!close_excuses())
        f_.add("send or poll failure", where() + "single poll of " + r.name() + ": " + hex(s));
      return;
    }
    peer_.collected(w_, r.rb.request_id);
    open_.erase(open_.begin() + static_cast<long>(i));
  }

  void list_poll(bool some) {
    std::vector<size_t> picked;
    for (size_t i = 0; i < open_.size(); ++i)
      if (!some || rng_() % 2) picked.push_back(i);
    if (picked.empty()) return;
    std::vector<request_status> items;
    for (size_t i : picked) items.push_back({open_[i]->rb.request_id, kUntouched, 0});
    Uint32 results = 0;
    const auto t0 = Clock::now();
    const Uint32 s = Qel2GetAllResults(
        0, items.data(), static_cast<Uint32>(items.size() * sizeof(request_status)), &results);
    check_time("list poll", t0, kPollBoundMs, *open_[picked[0]]);
    // The items are filled even when the call fails.
    std::vector<bool> done(open_.size(), false);
    for (size_t k = 0; k < picked.size(); ++k) {
      const Request &r = *open_[picked[k]];
      const Uint32 st = items[k].status;
      if (st == ERR_REQUEST_PENDING) continue;
      done[picked[k]] = true;
      if (st == 0)
        check_payload("list poll", r);
      else if (st == kUntouched)
        unknown("list poll", r);
      else
        f_.add("odd status", where() + "list poll gave " + r.name() + " status " + hex(st));
    }
    if (s != 0 && !close_excuses())
      f_.add("send or poll failure", where() + "list poll: " + hex(s));
    for (size_t i = open_.size(); i-- > 0;) {
      if (!done[i]) continue;
      peer_.collected(w_, open_[i]->rb.request_id);
      open_.erase(open_.begin() + static_cast<long>(i));
    }
  }

  const uint32_t w_;
  const uint32_t seed_;
  std::mt19937 rng_;
  chaos::ChaosPeer &peer_;
  Findings &f_;
  uint32_t seq_ = 0;
  int closes_owned_ = 0;
  std::vector<std::unique_ptr<Request>> open_;  // sent, not yet accounted for
};

}  // namespace

// Every blocking request gets its own payload, or times out because its
// answer stalled, or fails after a close of its connection; every
// non-blocking one is collected once with its own payload, or is unknown
// after a close; no call outlasts its bound; no descriptor stays behind.
TEST(ChaosStream, EveryRequestGetsItsOwnAnswerOrAReasonFromTheDaemon) {
  const uint32_t seeds[] = {1, 2, 3, 4};
  for (const uint32_t seed : seeds) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const int fds_before = open_fds();
    const auto t0 = Clock::now();
    Findings f;
    chaos::ChaosPeer::Stats stats{};
    std::string printed;
    {
      chaos::Settings settings;
      settings.seed = seed;
      settings.unit_ms = kUnitMs;
      chaos::ChaosPeer peer(settings);
      setenv("tessaline_daemon_id", std::to_string(peer.daemon_id()).c_str(), 1);
      unsetenv("tessaline_daemon_socket_type");
      transport_seam_set_config_path("/nonexistent/qel2-transport-test.cfg");
      transport_seam_set_second_ms(kUnitMs);
      ASSERT_EQ(transport_seam_start(), 0) << "seed " << seed;
      testing::internal::CaptureStdout();
      {
        std::vector<std::unique_ptr<Worker>> workers;
        std::vector<std::thread> threads;
        for (uint32_t w = 0; w < kThreads; ++w)
          workers.push_back(std::make_unique<Worker>(w, seed, peer, f));
        for (auto &w : workers) threads.emplace_back([&w] { w->run(); });
        for (auto &t : threads) t.join();
      }
      printed = testing::internal::GetCapturedStdout();
      transport_seam_stop();
      transport_seam_set_second_ms(1000);
      transport_seam_set_config_path(nullptr);
      stats = peer.stats();
    }
    size_t drops = 0;
    for (size_t at = 0; (at = printed.find("dropping the connection", at)) != std::string::npos;
         ++at)
      ++drops;
    std::printf(
        "seed %u: %ld ms; %d requests, %d stalled, %d closes, %d strays, %d held answers "
        "released behind later ones; the library dropped a connection %zu times\n",
        seed, ms_since(t0), stats.requests, stats.stalls, stats.closes, stats.strays,
        stats.held_behind, drops);
    for (const char *kind : Findings::kKinds)
      EXPECT_EQ(f.count(kind), 0) << "seed " << seed << ": " << kind << f.examples(kind);
    EXPECT_EQ(open_fds(), fds_before) << "seed " << seed << ": descriptors left open";
  }
}
