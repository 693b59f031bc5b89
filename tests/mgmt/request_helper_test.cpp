// The request helper's own steps: command records checked before sending,
// outputs owned by a pending request instead of the frame that sent it,
// rounded and discarded segments, and the raw result form.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <thread>

#include "daemon_intf/transport_seam.h"
#include "sim_fixture.h"

// Writes into a returned frame must fail the run under ASan.
extern "C" const char *__asan_default_options() { return "detect_stack_use_after_return=1"; }

using namespace mgmt_test;
using qel2::mgmt::CommandRecord;
using qel2::mgmt::Completion;
using qel2::mgmt::MgmtRequest;

namespace {

class RequestHelper : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    start();
    d().clear_captured();
  }
  // Polls until the request is no longer pending.
  static Uint32 collect(Uint32 id) {
    for (int i = 0; i < 500; ++i) {
      Uint32 r = Qel2CheckForCompletion(id);
      if (r != ERR_REQUEST_PENDING) return r;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ERR_REQUEST_PENDING;
  }
};

bool on_this_stack(uint64_t p) {
  pthread_attr_t a;
  void *base = nullptr;
  size_t size = 0;
  pthread_getattr_np(pthread_self(), &a);
  pthread_attr_getstack(&a, &base, &size);
  pthread_attr_destroy(&a);
  auto lo = reinterpret_cast<uintptr_t>(base);
  return p >= lo && p < lo + size;
}

// What the completion callback saw of the converted output.
Uint32 g_seen_by_callback = 0;
Uint32 *g_value = nullptr;
void record_callback(void *) { g_seen_by_callback = *g_value; }

// An operation of the usual shape: command and response record in its own
// frame, the response's word at 16 converted when the answer is collected.
Uint32 send_nonblocking(Uint32 *id, Uint32 *value, Uint32 *finished) {
  CommandRecord<20> cmd;
  qel2::mgmt::put_session_header(cmd.w, 0x1234);
  uint8_t resp[20] = {};
  MgmtRequest rq(KQ_GET_SESSION_INFO, 0x1234);
  g_value = value;
  rq.command(cmd)
      .out_local(resp, sizeof resp)
      .on_complete([=](const Completion &c) {
        ++*finished;
        if (c.answered && c.received(0) == 20) *value = qel2::be32_at(c.seg(0) + 16);
      })
      .callback(record_callback, nullptr);
  rq.send(OSTREL_NON_BLOCKING, id);
  return rq.async_result();
}

TEST_F(RequestHelper, NonBlockingOutputsBelongToThePendingRequest) {
  d().set_nonblocking_delay(std::chrono::milliseconds(50));
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, payload(resp(0).u32(0xC0FFEE01)));
  Uint32 id = 0, value = 0, finished = 0;
  ASSERT_EQ(ERR_REQUEST_PENDING, send_nonblocking(&id, &value, &finished));
  // No segment of the pending entry points into this thread's stack.
  {
    Uint64 outptr[MAX_SEGMENTS] = {};
    Uint16 outcnt = 0;
    ASSERT_EQ(0, transport_seam_pending_outputs(id, outptr, &outcnt));  // the thread's entry
    for (unsigned i = 0; i < outcnt; ++i) EXPECT_FALSE(on_this_stack(outptr[i])) << i;
  }
  EXPECT_EQ(0u, finished);
  EXPECT_EQ(0u, collect(id));
  EXPECT_EQ(1u, finished);
  EXPECT_EQ(0xC0FFEE01u, value);
  EXPECT_EQ(0xC0FFEE01u, g_seen_by_callback);  // outputs are finished before the callback
}

TEST_F(RequestHelper, ListPollsFinishTheOutputsToo) {
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, payload(resp(0).u32(0x0BADCAFE)));
  Uint32 id = 0, value = 0, finished = 0;
  ASSERT_EQ(ERR_REQUEST_PENDING, send_nonblocking(&id, &value, &finished));
  request_status rs{id, 0, 0};
  Uint32 done = 0;
  for (int i = 0; i < 500 && done == 0; ++i) {
    ASSERT_EQ(0u, Qel2GetAllResults(0, &rs, sizeof rs, &done));
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(1u, done);
  EXPECT_EQ(1u, finished);
  EXPECT_EQ(0x0BADCAFEu, value);
}

TEST_F(RequestHelper, DroppedRequestsFinishWithoutCopying) {
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, [] {
    hsmsim::Answer a;
    a.drop = true;
    return a;
  }());
  Uint32 id = 0, value = 0, finished = 0;
  ASSERT_EQ(ERR_REQUEST_PENDING, send_nonblocking(&id, &value, &finished));
  Qel2SDKCleanup();  // deletes the table with the entry in it
  EXPECT_EQ(1u, finished);
  EXPECT_EQ(0u, value);
}

// A non-blocking send refused before it had a status entry (no connection
// table) finishes its outputs once, unanswered.
TEST_F(RequestHelper, ARefusedNonBlockingSendFinishesItsOutputsOnce) {
  Qel2SDKCleanup();
  Uint32 id = 0, value = 0, finished = 0;
  EXPECT_EQ(TESSALINE_INVALID_OPERATION, send_nonblocking(&id, &value, &finished));
  EXPECT_EQ(1u, finished);
  EXPECT_EQ(0u, value);
}

// Both routes tell alike what each output segment received: a short answer
// fills the leading segments, the segment it ends in gets its part and the
// rest get nothing.
TEST_F(RequestHelper, BothRoutesReportWhatEachSegmentReceived) {
  struct Case {
    size_t answer_len;
    uint32_t got0, got1;
  } cases[] = {{40, 16, 16}, {24, 16, 8}, {10, 10, 0}, {0, 0, 0}};
  for (bool to_server : {false, true}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message() << (to_server ? "server " : "plain ") << c.answer_len);
      d().clear_scripts();
      d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO,
                 payload(std::vector<uint8_t>(c.answer_len, 0x42)));
      uint8_t cmd[20] = {}, a[16] = {}, b[16] = {};
      MgmtRequest rq(KQ_GET_SESSION_INFO, 0);
      rq.in(cmd, sizeof cmd).out(a, sizeof a).out(b, sizeof b);
      ASSERT_EQ(0u, to_server ? rq.send_to_server(3) : rq.send());
      EXPECT_EQ(c.got0, rq.received(0));
      EXPECT_EQ(c.got1, rq.received(1));
    }
  }
}

TEST_F(RequestHelper, RecordsWrittenShortOrLongAreRefused) {
  CommandRecord<20> short_rec;
  short_rec.w.u32(1);
  CommandRecord<4> long_rec;
  long_rec.w.u32(1).u32(2);
  for (bool use_short : {true, false}) {
    MgmtRequest rq(KQ_GET_SESSION_INFO, 0);
    if (use_short)
      rq.command(short_rec);
    else
      rq.command(long_rec);
    EXPECT_EQ(ERR_INVALID_INPUT, rq.send());
  }
  EXPECT_EQ(0u, sent_count(d()));
}

// A caller buffer shorter than its segment receives its share; a discarded
// segment is skipped; both for blocking and non-blocking requests.
TEST_F(RequestHelper, RoundedCopiesAndDiscardedSegments) {
  std::vector<uint8_t> answer = resp(0);
  for (uint8_t i = 0; i < 24; ++i) answer.push_back(static_cast<uint8_t>(0x80 + i));
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, payload(answer));
  for (uint32_t type : {0u, 1u}) {
    SCOPED_TRACE(type);
    uint8_t head[16] = {}, rounded[14] = {}, tail[8] = {};
    rounded[13] = 0xEE;  // beyond the 13 bytes the caller asked for
    Uint32 id = 0;
    {
      MgmtRequest rq(KQ_GET_SESSION_INFO, 0);
      uint8_t cmd[20] = {};
      rq.in(cmd, sizeof cmd).out(head, 16).out_copy(rounded, 13, 16).out_discard(0).out(tail, 8);
      rq.send(type, &id);
      if (type == 0) {
        EXPECT_EQ(0u, rq.result());
      }
    }
    if (type == 1) {
      EXPECT_EQ(0u, collect(id));
    }
    EXPECT_EQ(0x80, rounded[0]);
    EXPECT_EQ(0x8C, rounded[12]);
    EXPECT_EQ(0xEE, rounded[13]);
    EXPECT_EQ(0x90, tail[0]);
    EXPECT_EQ(0x97, tail[7]);
  }
  // A segment nobody reads is advanced over.
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, payload(answer));
  uint8_t head[16] = {}, tail[4] = {};
  MgmtRequest rq(KQ_GET_SESSION_INFO, 0);
  uint8_t cmd[20] = {};
  rq.in(cmd, sizeof cmd).out(head, 16).out_discard(20).out(tail, 4);
  ASSERT_EQ(0u, rq.send());
  EXPECT_EQ(0u, rq.result());
  EXPECT_EQ(0x94, tail[0]);
  EXPECT_EQ(0x97, tail[3]);
}

TEST_F(RequestHelper, RawFormIsTransportThenRequestStatus) {
  struct Case {
    uint32_t status;
    std::vector<uint8_t> answer;
    uint32_t want;
  } cases[] = {
      {0, {}, 0},                           // no response record is needed
      {0x00000041, {1, 2, 3}, 0x00000041},  // the HSM's verdict
      {RET_CLUSTER_OPERATION_INCOMPLETE, {}, RET_CLUSTER_OPERATION_INCOMPLETE},
  };
  for (const Case &c : cases) {
    d().clear_scripts();
    hsmsim::Answer a;
    a.status = c.status;
    a.payload = c.answer;
    d().script(KQ_VANTOR_CMD, KQ_CREATE_OBJECT, a);  // a raw opcode numbered like a mgmt one
    uint8_t in[8] = {}, out[8] = {};
    MgmtRequest rq(KQ_CREATE_OBJECT, 0, KQ_VANTOR_CMD, 10);
    rq.in(in, sizeof in).out(out, sizeof out);
    ASSERT_EQ(0u, rq.send());
    EXPECT_EQ(c.want, rq.result());
    EXPECT_EQ(c.want == 0, rq.decodable());
  }
}

}  // namespace
