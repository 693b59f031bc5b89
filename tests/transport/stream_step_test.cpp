// A thread's stream against a daemon whose every byte the test places: one
// framing fault costs at most two requests, a slow daemon none, a message
// that came before a request was sent never answers it (also behind a large
// answer), the cluster-status query and a pending request with the same id
// keep their own answers (also when the query's answer comes late), a
// replaced connection keeps the answers that came, and a poll that finishes
// an answer an earlier exchange began reports it at once.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "qel2_transport.h"
#include "scripted_fixture.h"

using namespace kept;

// After one framing fault the daemon behaves again. The bytes the fault left
// take the start of the next answer; at most two requests fail, each within
// one waiting time, the second at the latest finds the message begun before
// it was sent still unfinished and drops the connection, and the third
// succeeds on a new one. Before, every later request of the thread waited
// out its whole time-out, for ever.
TEST_F(Stream, OneFramingFaultCostsAtMostTwoRequests) {
  enum Fault { kPartialHeader, kPartialPayload, kAnnouncedShort };
  const struct {
    const char *what;
    Fault fault;
  } cases[] = {
      {"the first 10 bytes of a header left behind an answer", kPartialHeader},
      {"a header and 20 of its 100 payload bytes left behind an answer", kPartialPayload},
      {"an answer announcing 8 bytes less than it carries", kAnnouncedShort},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    Call faulty(16);
    const Fault fault = c.fault;
    peer_.expect([fault](const Request &r) {
      switch (fault) {
        case kPartialHeader:
          return cat(reply(r, tt::pattern(16, 1)), head(tt::answer(12345, 0, Bytes(8, 0)), 10));
        case kPartialPayload:
          return cat(reply(r, tt::pattern(16, 1)),
                     cat(tt::header_announcing(12345, 100), tt::pattern(20, 2)));
        case kAnnouncedShort:
          return cat(tt::header_announcing(r.req_id, 8, r.req_type), tt::pattern(16, 1));
      }
      return Bytes{};
    });
    EXPECT_EQ(quietly(faulty), 0);
    EXPECT_EQ(head(faulty.out, c.fault == kAnnouncedShort ? 8 : 16),
              head(tt::pattern(16, 1), c.fault == kAnnouncedShort ? 8 : 16));

    // From here on the daemon answers every request whole and alone.
    int failed = 0;
    std::string printed;
    for (uint8_t seed = 3;; ++seed) {
      Call next(16);
      peer_.expect(replying(tt::pattern(16, seed)));
      const auto t0 = std::chrono::steady_clock::now();
      testing::internal::CaptureStdout();
      const Int32 r = next.send();
      printed = testing::internal::GetCapturedStdout();
      EXPECT_LT(ms_since(t0), 300 + 150);  // one waiting time (60 units), and room
      if (r == 0) {
        EXPECT_EQ(next.out, tt::pattern(16, seed));
        break;
      }
      ASSERT_LT(++failed, 3) << "the third request after the fault must succeed";
      EXPECT_TRUE(r == TESSALINE_INVALID_MSG || r == TESSALINE_SOCKET_RCV_TIMEOUT) << r;
      if (r == TESSALINE_INVALID_MSG) {
        EXPECT_NE(printed.find("dropping the connection"), std::string::npos) << printed;
      }
    }
    EXPECT_GE(failed, 1);
    EXPECT_EQ(peer_.accepted(), accepted + 1);
  }
}

// A message the daemon sent behind an answer, carrying the id the thread
// gives next, arrived before that request was sent: it is judged against
// the requests outstanding then (none has its id) and dropped, whether it
// came whole or its rest comes after the request went. The request gets
// its own answer.
TEST_F(Stream, AMessageThatCameBeforeARequestNeverAnswersIt) {
  const struct {
    const char *what;
    bool nonblocking;  // the next request, and the stray's id kind
    bool whole;        // the stray came whole behind the answer
  } cases[] = {
      {"the next blocking id, whole", false, true},
      {"the next blocking id, its header's first 30 bytes", false, false},
      {"the next non-blocking id, whole", true, true},
      {"the next non-blocking id, its header's first 30 bytes", true, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    // An outstanding non-blocking request tells the next non-blocking id.
    Call outstanding(8);
    peer_.expect(silent());
    ASSERT_EQ(outstanding.send(1), 0);

    Call answered(16);
    peer_.expect([&c, &outstanding](const Request &r) {
      const Bytes stray = c.nonblocking
                              ? tt::answer(outstanding.rb.request_id + 1, 0, tt::pattern(16, 9), 1)
                              : tt::answer(r.req_id + 1, 0, tt::pattern(16, 9));
      return cat(reply(r, tt::pattern(16, 1)), c.whole ? stray : head(stray, 30));
    });
    EXPECT_EQ(quietly(answered), 0);
    EXPECT_EQ(answered.out, tt::pattern(16, 1));

    // The request the stray's id belongs to; the stray's rest comes first.
    Call next(16);
    peer_.expect([&c](const Request &r) {
      const Bytes stray = tt::answer(r.req_id, 0, tt::pattern(16, 9), r.req_type);
      return cat(c.whole ? Bytes{} : tail(stray, 30), reply(r, tt::pattern(16, 7)));
    });
    if (c.nonblocking) {
      ASSERT_EQ(quietly(next, 1), 0);
      ASSERT_EQ(next.rb.request_id, outstanding.rb.request_id + 1);
      EXPECT_EQ(collect(next.rb.request_id), 0u);
    } else {
      EXPECT_EQ(quietly(next), 0);
    }
    EXPECT_EQ(next.out, tt::pattern(16, 7));
    EXPECT_EQ(peer_.accepted(), accepted);
  }
}

// Qel2GetReqClusterStatus asks for the per-node results of a request by its
// id, while the request itself may still be pending under the same id. The
// request's answer (marked non-blocking) goes to its entry and the query
// waits on for its own, in either order and whatever the request's size:
// neither call takes the other's answer, and the pending request is not
// lost with the connection.
TEST_F(Stream, ClusterStatusBesideAPendingRequestTakesNeitherAnswer) {
  const struct {
    const char *what;
    size_t size;         // the pending request's output
    bool cluster_first;  // the query's answer comes before the request's
  } cases[] = {
      {"a request answer smaller than the cluster record", 8, false},
      {"a request answer larger than the cluster record", 300, false},
      {"the cluster record first", 300, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    Call pending(c.size);
    peer_.expect(silent());
    ASSERT_EQ(pending.send(1), 0);
    const Uint32 id = pending.rb.request_id;
    const Bytes record = tt::pattern(sizeof(op_error_state_t) * 32, 4);
    peer_.expect([&c, &record](const Request &r) {
      const Bytes request_answer = tt::answer(r.req_id, 0, tt::pattern(c.size, 3), 1);
      const Bytes cluster_answer = tt::answer(r.req_id, 0, record);
      return c.cluster_first ? cat(cluster_answer, request_answer)
                             : cat(request_answer, cluster_answer);
    });
    op_error_state_t nodes[32] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(Qel2GetReqClusterStatus(0, nodes, id), 0u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Bytes(reinterpret_cast<Uint8 *>(nodes), reinterpret_cast<Uint8 *>(nodes + 32)),
              record);
    EXPECT_EQ(collect(id), 0u);
    EXPECT_EQ(pending.out, tt::pattern(c.size, 3));
    EXPECT_EQ(peer_.accepted(), accepted);
  }
}

// A poll that reads the rest of an answer an earlier exchange began (behind
// a blocking answer, or cut off by an earlier poll) returns its result in
// the same poll.
TEST_F(Stream, APollThatFinishesAKeptAnswerReportsIt) {
  const struct {
    const char *what;
    bool behind_an_answer;  // else the first poll read the answer's beginning
  } cases[] = {
      {"begun behind a blocking answer", true},
      {"begun under an earlier poll", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Call pending(16);
    peer_.expect(silent());
    ASSERT_EQ(pending.send(1), 0);
    const Bytes answer = tt::answer(pending.rb.request_id, 0, tt::pattern(16, 5), 1);
    if (c.behind_an_answer) {
      Call blocking(8);
      peer_.expect(replying(tt::pattern(8, 1), head(answer, 20)));
      ASSERT_EQ(quietly(blocking), 0);
    } else {
      peer_.write(head(answer, 20));
      EXPECT_EQ(poll_once_queued(pending.rb.request_id, 20), ERR_REQUEST_PENDING);
    }
    peer_.write(tail(answer, 20));
    EXPECT_EQ(poll_once_queued(pending.rb.request_id, int(answer.size()) - 20), 0u);
    EXPECT_EQ(pending.out, tt::pattern(16, 5));
  }
}

// A correct but slow daemon: the answer to pending request Q begins behind
// blocking answer A, and during blocking call B the daemon finishes it, then
// begins B's own answer (or pending request P's) and stalls past B's
// time-out. B gets the ordinary time-out; nothing else is lost: Q's answer
// is reported, P stays pending or gets its answer, the connection stays,
// and the next request succeeds.
TEST_F(Stream, ASlowDaemonAfterAKeptMessageCostsOnlyTheTimeOut) {
  const struct {
    const char *what;
    bool cut_own;  // else P's answer is the one cut
    size_t cut;    // bytes of the cut message that come before the time-out
  } cases[] = {
      {"B's answer cut in its header", true, 20},
      {"B's answer cut in its payload", true, 56 + 5},
      {"P's answer cut in its header", false, 20},
      {"P's answer cut in its payload", false, 56 + 5},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    Call q(16), p(16);
    send_held(q);
    send_held(p);
    const Bytes q_answer = tt::answer(q.rb.request_id, 0, tt::pattern(16, 5), 1);
    const Bytes p_answer = tt::answer(p.rb.request_id, 0, tt::pattern(16, 6), 1);

    Call a(8);
    peer_.expect(replying(tt::pattern(8, 1), head(q_answer, 30)));
    ASSERT_EQ(quietly(a), 0);

    Call b(16);
    Bytes cut_message;
    peer_.expect([&](const Request &r) {
      cut_message = c.cut_own ? reply(r, tt::pattern(16, 2)) : p_answer;
      return cat(tail(q_answer, 30), head(cut_message, c.cut));
    });
    EXPECT_EQ(quietly(b), TESSALINE_SOCKET_RCV_TIMEOUT);
    peer_.write(tail(cut_message, c.cut));  // the daemon finishes what it began

    Call next(16);
    peer_.expect(replying(tt::pattern(16, 7)));
    EXPECT_EQ(quietly(next), 0);
    EXPECT_EQ(next.out, tt::pattern(16, 7));
    EXPECT_EQ(poll(q.rb.request_id), 0u);
    EXPECT_EQ(q.out, tt::pattern(16, 5));
    if (c.cut_own) {
      EXPECT_EQ(poll(p.rb.request_id), ERR_REQUEST_PENDING);
      peer_.write(p_answer);
    }
    EXPECT_EQ(collect(p.rb.request_id), 0u);
    EXPECT_EQ(p.out, tt::pattern(16, 6));
    EXPECT_EQ(peer_.accepted(), accepted);
  }
}

// A complete stray carrying the id the thread gives next, written in the
// same write as a large answer (one read straight into its own buffer, or
// one that ends exactly at the end of the receive buffer), came before that
// request was sent: it never answers it.
TEST_F(Stream, AStrayBehindALargeAnswerNeverAnswersTheNextRequest) {
  const struct {
    const char *what;
    size_t size;       // the answer's payload
    bool nonblocking;  // the next request, and the stray's id kind
  } cases[] = {
      {"20000 bytes, next blocking id", 20000, false},
      {"8136 bytes, next blocking id", 8192 - 56, false},
      {"20000 bytes, next non-blocking id", 20000, true},
      {"8136 bytes, next non-blocking id", 8192 - 56, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Call outstanding(8);
    send_held(outstanding);

    Call large(c.size);
    peer_.expect([&c, &outstanding](const Request &r) {
      const Bytes stray = c.nonblocking
                              ? tt::answer(outstanding.rb.request_id + 1, 0, tt::pattern(16, 9), 1)
                              : tt::answer(r.req_id + 1, 0, tt::pattern(16, 9));
      return cat(reply(r, tt::pattern(c.size, 1)), stray);
    });
    EXPECT_EQ(quietly(large), 0);
    EXPECT_EQ(large.out, tt::pattern(c.size, 1));

    Call next(16);
    if (c.nonblocking) {
      peer_.expect(silent());
      ASSERT_EQ(quietly(next, 1), 0);
      ASSERT_EQ(next.rb.request_id, outstanding.rb.request_id + 1);
      EXPECT_EQ(poll(next.rb.request_id), ERR_REQUEST_PENDING);
      peer_.write(tt::answer(next.rb.request_id, 0, tt::pattern(16, 7), 1));
      EXPECT_EQ(collect(next.rb.request_id), 0u);
    } else {
      peer_.expect(replying(tt::pattern(16, 7)));
      EXPECT_EQ(quietly(next), 0);
    }
    EXPECT_EQ(next.out, tt::pattern(16, 7));
  }
}

// Qel2GetReqClusterStatus(X) times out while non-blocking request X is
// pending; its answer (marked blocking, id X) comes later. A poll of X
// never takes that record for the request's answer: X stays pending until
// its own answer comes, alone or behind the late record.
TEST_F(Stream, ALateClusterRecordIsNotThePendingRequestsAnswer) {
  const struct {
    const char *what;
    bool own_answer_behind;  // the request's answer follows the late record
  } cases[] = {
      {"the late record alone", false},
      {"the late record, then the request's answer", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int accepted = peer_.accepted();
    Call pending(300);
    send_held(pending);
    const Uint32 id = pending.rb.request_id;
    peer_.expect(silent());
    op_error_state_t nodes[32] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(Qel2GetReqClusterStatus(0, nodes, id), Uint32{TESSALINE_SOCKET_RCV_TIMEOUT});
    testing::internal::GetCapturedStdout();

    const Bytes late = tt::answer(id, 0, tt::pattern(sizeof nodes, 4));
    const Bytes own = tt::answer(id, 0, tt::pattern(300, 3), 1);
    peer_.write(c.own_answer_behind ? cat(late, own) : late);
    if (c.own_answer_behind) {
      EXPECT_EQ(collect(id), 0u);
    } else {
      EXPECT_EQ(poll_once_queued(id, int(late.size())), ERR_REQUEST_PENDING);
      peer_.write(own);
      EXPECT_EQ(collect(id), 0u);
    }
    EXPECT_EQ(pending.out, tt::pattern(300, 3));
    EXPECT_EQ(peer_.accepted(), accepted);
  }
}

// A connection replaced after a fault frees the entries still waiting (their
// answers cannot come on the new one) and keeps those already answered.
TEST_F(Stream, AReplacedConnectionKeepsTheAnswersThatCame) {
  const int accepted = peer_.accepted();
  Call answered(16), waiting(16);
  send_held(answered);
  send_held(waiting);
  Call a(8);
  peer_.expect(
      replying(tt::pattern(8, 1), tt::answer(answered.rb.request_id, 0, tt::pattern(16, 5), 1)));
  ASSERT_EQ(quietly(a), 0);

  Call faulty(16);  // an announcement no request can take: the stream is out of step
  peer_.expect([](const Request &r) { return tt::header_announcing(r.req_id, 0xFFFFFFFFu); });
  EXPECT_EQ(quietly(faulty), TESSALINE_INVALID_MSG);

  Call next(16);
  peer_.expect(replying(tt::pattern(16, 7)));
  EXPECT_EQ(quietly(next), 0);
  EXPECT_EQ(peer_.accepted(), accepted + 1);
  EXPECT_EQ(poll(answered.rb.request_id), 0u);
  EXPECT_EQ(answered.out, tt::pattern(16, 5));
  EXPECT_EQ(poll(waiting.rb.request_id), Uint32{TESSALINE_INVALID_REQID});
}
