// What a thread's connection keeps between exchanges, against a daemon whose
// every byte the test places: bytes behind a complete answer, the part of an
// answer a time-out cut, and announcements no request could take.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"
#include "scripted_peer.h"

using tt::Bytes;
using tt::ScriptedPeer;
using Request = ScriptedPeer::Request;

namespace {

// A request with one input and one output segment of n bytes.
struct Call {
  Bytes in = Bytes(4, 1);
  Bytes out;
  request_buffer rb{};
  explicit Call(size_t n) : out(n, 0) {
    tt::add_input(rb, in);
    tt::add_output(rb, out);
    rb.opcode = 1;
    rb.command_type = 1;
    rb.timeout = 10;  // T = 40 units
  }
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;
  Int32 send(Uint32 req_type = 0) {
    return orx_tessaline_cli_send_daemon(&rb, HSM_QEL1_OPERATION, req_type, nullptr, nullptr);
  }
};

Bytes reply(const Request &r, const Bytes &payload) {
  return tt::answer(r.req_id, 0, payload, r.req_type);
}
ScriptedPeer::Responder replying(const Bytes &payload, const Bytes &behind = {}) {
  return [payload, behind](const Request &r) {
    Bytes a = reply(r, payload);
    a.insert(a.end(), behind.begin(), behind.end());
    return a;
  };
}
ScriptedPeer::Responder silent() {
  return [](const Request &) { return Bytes{}; };
}
Bytes cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Kept : public ::testing::Test {
 protected:
  // One waiting unit of 5 ms: a request (T = 40 units) waits 300 ms for the
  // first bytes of its answer and 200 ms for the rest of a message.
  void SetUp() override {
    setenv("tessaline_daemon_id", std::to_string(peer_.daemon_id()).c_str(), 1);
    unsetenv("tessaline_daemon_socket_type");
    transport_seam_set_config_path("/nonexistent/qel2-transport-test.cfg");
    transport_seam_set_second_ms(5);
    ASSERT_EQ(transport_seam_start(), 0);
    ASSERT_TRUE(peer_.wait_accepted(1));
  }
  void TearDown() override {
    transport_seam_stop();
    transport_seam_set_second_ms(1000);
    transport_seam_set_config_path(nullptr);
  }
  static Uint32 poll(Uint32 id) {
    testing::internal::CaptureStdout();
    Uint32 r = Qel2CheckForCompletion(id);
    testing::internal::GetCapturedStdout();
    return r;
  }

  ScriptedPeer peer_;
};

}  // namespace

// The bytes that came in the same read behind a complete answer begin the
// next message: the answer is returned, and the next exchange drops a late
// or stray answer or finishes the one that began.
TEST_F(Kept, CompleteAnswerIsReturnedWhateverCameBehindIt) {
  enum Behind { kLateAnswer, kStrayAnswer, kFirstBytesOfAPendingAnswer };
  const struct {
    const char *what;
    Behind behind;
  } cases[] = {
      {"a late answer to a request that timed out", kLateAnswer},
      {"a stray answer", kStrayAnswer},
      {"the first 4 bytes of a pending request's answer", kFirstBytesOfAPendingAnswer},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    const size_t seen = peer_.requests();
    Call pending(8);
    peer_.expect(silent());
    ASSERT_EQ(pending.send(1), 0);
    Call timed_out(8);
    peer_.expect(silent());
    testing::internal::CaptureStdout();
    EXPECT_EQ(timed_out.send(), TESSALINE_SOCKET_RCV_TIMEOUT);
    testing::internal::GetCapturedStdout();
    const Uint32 late_id = peer_.request(seen + 1).req_id;

    const Bytes pending_answer = tt::answer(pending.rb.request_id, 0, tt::pattern(8, 3), 1);
    Bytes behind;
    std::string printed;
    switch (c.behind) {
      case kLateAnswer:
        behind = tt::answer(late_id, 0, tt::pattern(8, 4));
        break;
      case kStrayAnswer:
        behind = tt::answer(99, 0, tt::pattern(5, 5), 1);
        printed = "Invalid req_id 99 in Message Header: Ignoring the Message\n";
        break;
      case kFirstBytesOfAPendingAnswer:
        behind = Bytes(pending_answer.begin(), pending_answer.begin() + 4);
        break;
    }
    Call complete(16);
    peer_.expect(replying(tt::pattern(16, 6), behind));
    EXPECT_EQ(complete.send(), 0);
    EXPECT_EQ(complete.out, tt::pattern(16, 6));

    // The pending request's answer follows (its rest, when it began already).
    peer_.write(c.behind == kFirstBytesOfAPendingAnswer
                    ? Bytes(pending_answer.begin() + 4, pending_answer.end())
                    : pending_answer);
    Call next(16);
    peer_.expect(replying(tt::pattern(16, 7)));
    testing::internal::CaptureStdout();
    EXPECT_EQ(next.send(), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.behind == kLateAnswer)
      printed = "Invalid req_id " + std::to_string(static_cast<int>(late_id)) + " actual " +
                std::to_string(static_cast<int>(next.rb.request_id)) +
                " in Message Header: Ignoring the Message\n";
    EXPECT_EQ(out, printed);
    EXPECT_EQ(next.out, tt::pattern(16, 7));
    EXPECT_EQ(poll(pending.rb.request_id), 0u);
    EXPECT_EQ(pending.out, tt::pattern(8, 3));
    EXPECT_EQ(peer_.accepted(), accepted);  // one connection throughout
  }
}

// A time-out in the middle of an answer keeps the connection and what came
// of the answer; the next exchange finishes it first, and the thread's
// pending requests are collected as usual.
TEST_F(Kept, AnswerCutByATimeoutIsFinishedOnTheSameConnection) {
  const struct {
    const char *what;
    size_t cut;  // bytes of the answer before the time-out
  } cases[] = {
      {"in the header", 20},
      {"after the header", 56},
      {"in the payload", 56 + 5},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    const size_t seen = peer_.requests();
    Call answered(8);  // its answer comes during the cut one's wait
    peer_.expect(replying(tt::pattern(8, 1)));
    ASSERT_EQ(answered.send(1), 0);
    Call cut(16);
    const size_t at = c.cut;
    peer_.expect([at](const Request &r) {
      Bytes a = reply(r, tt::pattern(16, 2));
      a.resize(at);
      return a;
    });
    testing::internal::CaptureStdout();
    EXPECT_EQ(cut.send(), TESSALINE_SOCKET_RCV_TIMEOUT);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(cut.out, Bytes(16, 0));
    const Bytes rest = reply(peer_.request(seen + 1), tt::pattern(16, 2));
    peer_.write(Bytes(rest.begin() + static_cast<long>(at), rest.end()));

    Call next(16);
    peer_.expect(replying(tt::pattern(16, 3)));
    testing::internal::CaptureStdout();
    EXPECT_EQ(next.send(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Invalid req_id in Message Header: Ignoring the Message");
    EXPECT_EQ(next.out, tt::pattern(16, 3));
    EXPECT_EQ(poll(answered.rb.request_id), 0u);
    EXPECT_EQ(answered.out, tt::pattern(8, 1));
    EXPECT_EQ(peer_.accepted(), accepted);
  }
}

// An announcement that no request of the thread could take is refused as
// soon as it is read, not waited out; the stream cannot be trusted past it,
// so the connection goes and the thread's next request connects anew.
TEST_F(Kept, AnnouncementNoRequestCanTakeFailsAtOnceAndDropsTheConnection) {
  transport_seam_set_second_ms(100);  // waiting it out would take 4 s
  enum Whose { kAwaited, kPendingRequests, kNobodys };
  const struct {
    const char *what;
    Whose whose;
    bool met_by_poll;
  } cases[] = {
      {"the awaited answer", kAwaited, false},
      {"a pending request's answer, met by a blocking wait", kPendingRequests, false},
      {"a pending request's answer, met by a poll", kPendingRequests, true},
      {"an answer nobody waits for", kNobodys, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    Call pending(32);
    peer_.expect(silent());
    ASSERT_EQ(pending.send(1), 0);
    const Uint32 pending_id = pending.rb.request_id;
    const Whose whose = c.whose;
    auto lie = [whose, pending_id](Uint32 awaited) {
      const Uint32 id = whose == kAwaited ? awaited : whose == kPendingRequests ? pending_id : 77;
      return cat(tt::header_announcing(id, 0xFFFFFFFFu, whose == kPendingRequests ? 1 : 0),
                 tt::pattern(100, 9));
    };
    Call waiting(16);
    testing::internal::CaptureStdout();
    Uint32 r;
    if (c.met_by_poll) {
      peer_.write(lie(0));
      r = Qel2CheckForCompletion(pending_id);
    } else {
      peer_.expect([lie](const Request &q) { return lie(q.req_id); });
      r = static_cast<Uint32>(waiting.send());
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, TESSALINE_INVALID_MSG);
    EXPECT_NE(out.find("announces 4294967295 bytes: dropping the connection"), std::string::npos)
        << out;
    EXPECT_EQ(waiting.out, Bytes(16, 0));
    EXPECT_EQ(pending.out, Bytes(32, 0));

    Call next(8);
    EXPECT_EQ(next.send(), 0);
    EXPECT_EQ(peer_.accepted(), accepted + 1);
  }
}
