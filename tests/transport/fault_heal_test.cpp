// One framing fault, then a daemon that answers every request whole and in
// order: the thread's stream comes back within two requests, whatever the
// answers carry (no payload, zeros, a pattern) and wherever the fault left
// the stream, for blocking requests and for non-blocking ones collected by
// single and list polls. Answers that came whole before a fault are kept,
// and a correct daemon that stalls at any byte still costs only the
// time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "qel2_transport.h"
#include "scripted_fixture.h"

using namespace kept;

namespace {

constexpr size_t kSize = 16;  // the output of every request after the fault

enum class Carries { kNothing, kZeros, kPattern };
const struct {
  const char *what;
  Carries carries;
} kAnswers[] = {
    {"header-only answers", Carries::kNothing},
    {"answers of 16 zero bytes", Carries::kZeros},
    {"answers of 16 patterned bytes", Carries::kPattern},
};

Bytes payload_of(Carries c, uint8_t seed) {
  switch (c) {
    case Carries::kNothing:
      return {};
    case Carries::kZeros:
      return Bytes(kSize, 0);
    case Carries::kPattern:
      return tt::pattern(kSize, seed);
  }
  return {};
}

// What a request's output holds once its own answer came.
Bytes output_of(Carries c, uint8_t seed) {
  return c == Carries::kNothing ? Bytes(kSize, 0) : payload_of(c, seed);
}

// The fault: behind a good answer of `size` bytes, the first `kept` bytes of
// the same header again (the daemon began to write it twice), or, with
// `kept` 0, the answer announcing 8 bytes less than it carries.
struct Fault {
  const char *what;
  size_t size;
  size_t kept;
};
const Fault kFaults[] = {
    {"3 header bytes behind a 16-byte answer", 16, 3},
    {"10 header bytes behind a 16-byte answer", 16, 10},
    {"50 header bytes behind a 16-byte answer", 16, 50},
    {"a 16-byte answer announcing 8", 16, 0},
    {"10 header bytes behind an 8136-byte answer", 8192 - 56, 10},
    {"3 header bytes behind a 20000-byte answer", 20000, 3},
    {"50 header bytes behind a 20000-byte answer", 20000, 50},
    {"a 20000-byte answer announcing 8 less", 20000, 0},
};

enum class Mode { kBlocking, kSinglePolls, kListPolls };

class Heal : public Stream {
 protected:
  void make_fault(const Fault &f) {
    Call faulty(f.size);
    const Fault fault = f;
    peer_.expect([fault](const Request &r) {
      const Bytes a = reply(r, tt::pattern(fault.size, 1));
      if (fault.kept == 0)
        return cat(tt::header_announcing(r.req_id, static_cast<uint32_t>(fault.size - 8)),
                   tail(a, 56));
      return cat(a, head(a, fault.kept));
    });
    const Int32 r = quietly(faulty);
    ASSERT_EQ(r, 0);
    const size_t good = f.kept == 0 ? f.size - 8 : f.size;
    EXPECT_EQ(head(faulty.out, good), head(tt::pattern(f.size, 1), good));
  }

  // Blocking requests until one succeeds: at most two fail, each within one
  // waiting time.
  void blocking_until_healed(Carries carries) {
    int failed = 0;
    for (uint8_t seed = 3;; ++seed) {
      Call next(kSize);
      peer_.expect(replying(payload_of(carries, seed)));
      const auto t0 = std::chrono::steady_clock::now();
      const Int32 r = quietly(next);
      EXPECT_LT(ms_since(t0), 300 + 150);  // one waiting time (60 units), and room
      if (r == 0) {
        EXPECT_EQ(next.rb.status, 0);
        EXPECT_EQ(next.out, output_of(carries, seed));
        return;
      }
      EXPECT_TRUE(r == TESSALINE_INVALID_MSG || r == TESSALINE_SOCKET_RCV_TIMEOUT) << r;
      ASSERT_LT(++failed, 3) << "the third request after the fault must succeed";
    }
  }

  // Non-blocking requests, each answered at once, until one is collected with
  // its own answer: at most two are lost, and every one is reported (its
  // poll tells it failed or is unknown) rather than pending for ever.
  void nonblocking_until_healed(Carries carries, bool list) {
    struct Open {
      std::unique_ptr<Call> call;
      uint8_t seed;
    };
    std::vector<Open> open;
    int lost = 0;
    bool healed = false;
    // Polls every open request once; drops those reported.
    auto poll_all = [&] {
      std::vector<Uint32> got(open.size(), ERR_REQUEST_PENDING);
      if (list) {
        std::vector<request_status> items;
        for (const Open &o : open) items.push_back({o.call->rb.request_id, 0xA5A5A5A5u, 0});
        Uint32 n = 0;
        testing::internal::CaptureStdout();
        Qel2GetAllResults(0, items.data(), Uint32(items.size() * sizeof(request_status)), &n);
        testing::internal::GetCapturedStdout();
        for (size_t i = 0; i < items.size(); ++i) got[i] = items[i].status;
      } else {
        for (size_t i = 0; i < open.size(); ++i) got[i] = poll(open[i].call->rb.request_id);
      }
      for (size_t i = open.size(); i-- > 0;) {
        if (got[i] == ERR_REQUEST_PENDING) continue;
        const bool own = got[i] == 0 && open[i].call->out == output_of(carries, open[i].seed);
        if (own && i + 1 == open.size()) healed = true;
        if (!own) ++lost;
        open.erase(open.begin() + static_cast<long>(i));
      }
    };
    for (uint8_t seed = 3; !healed; ++seed) {
      ASSERT_LT(seed, 6) << "the third request after the fault must be collected";
      open.push_back({std::make_unique<Call>(kSize), seed});
      peer_.expect(replying(payload_of(carries, seed)));
      ASSERT_EQ(quietly(*open.back().call, 1), 0);
      // Its answer is on its way: polls find it at once, unless the stream
      // is out of step; then within a waiting time (60 units), as a caller
      // polling for its result would.
      const size_t before = open.size();
      for (int i = 0; i < 400 && !healed && open.size() == before; ++i) {
        usleep(1000);
        poll_all();
      }
    }
    // Every earlier request is reported by its next poll at the latest.
    poll_all();
    EXPECT_TRUE(open.empty()) << open.size() << " requests still pending";
    EXPECT_LE(lost, 2);
  }
};

TEST_F(Heal, OneFramingFaultCostsAtMostTwoRequestsWhateverTheAnswersCarry) {
  const struct {
    const char *what;
    Mode mode;
  } modes[] = {
      {"blocking requests", Mode::kBlocking},
      {"non-blocking requests, single polls", Mode::kSinglePolls},
      {"non-blocking requests, list polls", Mode::kListPolls},
  };
  for (const auto &m : modes) {
    for (const Fault &f : kFaults) {
      for (const auto &a : kAnswers) {
        SCOPED_TRACE(std::string(m.what) + "; " + f.what + "; then " + a.what);
        make_fault(f);
        if (m.mode == Mode::kBlocking)
          blocking_until_healed(a.carries);
        else
          nonblocking_until_healed(a.carries, m.mode == Mode::kListPolls);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// An answer to a pending request that came whole behind the awaited one,
// before bytes that cannot begin a message, is kept for its poll when the
// connection goes, whatever the awaited answer's size.
TEST_F(Heal, AnAnswerThatCameWholeBeforeAFaultIsCollected) {
  const struct {
    const char *what;
    size_t size;
  } cases[] = {
      {"behind a 16-byte answer", 16},
      {"behind an 8136-byte answer", 8192 - 56},
      {"behind a 20000-byte answer", 20000},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    Call pending(kSize);
    send_held(pending);
    Call b(c.size);
    const Bytes pending_answer = tt::answer(pending.rb.request_id, 0, tt::pattern(kSize, 5), 1);
    peer_.expect([&](const Request &r) {
      return cat(cat(reply(r, tt::pattern(c.size, 1)), pending_answer),
                 tt::header_announcing(r.req_id + 1, 0, 7));  // no message has request type 7
    });
    EXPECT_EQ(quietly(b), TESSALINE_INVALID_MSG);
    EXPECT_EQ(poll(pending.rb.request_id), 0u);
    EXPECT_EQ(pending.out, tt::pattern(kSize, 5));
    Call next(kSize);
    peer_.expect(replying(tt::pattern(kSize, 7)));
    EXPECT_EQ(quietly(next), 0);
    EXPECT_EQ(next.out, tt::pattern(kSize, 7));
    EXPECT_EQ(peer_.accepted(), accepted + 1);
  }
}

// A correct daemon that stalls the call's own answer, or a pending request's,
// at any byte past the call's time-out and then finishes it costs that call
// its time-out and nothing more: the next request succeeds on the same
// connection, the pending request gets its answer.
TEST_F(Heal, ACorrectDaemonStalledAtAnyByteCostsOnlyTheTimeOut) {
  const struct {
    const char *what;
    bool own;  // else the pending request's answer stalls
    Carries carries;
    size_t cut;  // bytes of the stalled answer before the time-out
  } cases[] = {
      {"own header-only answer, 3 bytes", true, Carries::kNothing, 3},
      {"own header-only answer, 50 bytes", true, Carries::kNothing, 50},
      {"own answer, 7 bytes", true, Carries::kPattern, 7},
      {"own answer, 60 bytes", true, Carries::kZeros, 60},
      {"pending header-only answer, 3 bytes", false, Carries::kNothing, 3},
      {"pending header-only answer, 10 bytes", false, Carries::kNothing, 10},
      {"pending answer, 60 bytes", false, Carries::kPattern, 60},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    Call pending(kSize);
    send_held(pending);
    const Bytes pending_answer = tt::answer(pending.rb.request_id, 0, payload_of(c.carries, 5), 1);
    Call b(kSize);
    Bytes stalled;
    peer_.expect([&](const Request &r) {
      stalled = c.own ? reply(r, payload_of(c.carries, 2)) : pending_answer;
      return head(stalled, c.cut);
    });
    EXPECT_EQ(quietly(b), TESSALINE_SOCKET_RCV_TIMEOUT);
    peer_.write(tail(stalled, c.cut));
    if (c.own) peer_.write(pending_answer);

    Call next(kSize);
    peer_.expect(replying(tt::pattern(kSize, 7)));
    EXPECT_EQ(quietly(next), 0);
    EXPECT_EQ(next.out, tt::pattern(kSize, 7));
    EXPECT_EQ(collect(pending.rb.request_id), 0u);
    EXPECT_EQ(pending.out, output_of(c.carries, 5));
    EXPECT_EQ(peer_.accepted(), accepted);
  }
}

}  // namespace
