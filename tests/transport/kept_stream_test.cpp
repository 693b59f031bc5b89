// What a thread's connection keeps between exchanges, against a daemon whose
// every byte the test places: bytes behind a complete answer, the part of an
// answer a time-out cut, and announcements no request could take.
#include <gtest/gtest.h>

#include <string>

#include "scripted_fixture.h"

using namespace kept;

// The bytes that came in the same read behind a complete answer: the answer
// is returned; a late or stray answer behind it is judged and dropped at
// once, and a message that began is finished by the next exchange.
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
    testing::internal::CaptureStdout();
    EXPECT_EQ(complete.send(), 0);
    const std::string at_arrival = testing::internal::GetCapturedStdout();
    EXPECT_EQ(complete.out, tt::pattern(16, 6));
    if (c.behind == kLateAnswer)
      printed = "Invalid req_id " + std::to_string(static_cast<int>(late_id)) + " actual " +
                std::to_string(static_cast<int>(complete.rb.request_id)) +
                " in Message Header: Ignoring the Message\n";
    EXPECT_EQ(at_arrival, printed);

    // The pending request's answer follows (its rest, when it began already).
    peer_.write(c.behind == kFirstBytesOfAPendingAnswer
                    ? Bytes(pending_answer.begin() + 4, pending_answer.end())
                    : pending_answer);
    Call next(16);
    peer_.expect(replying(tt::pattern(16, 7)));
    testing::internal::CaptureStdout();
    EXPECT_EQ(next.send(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
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
