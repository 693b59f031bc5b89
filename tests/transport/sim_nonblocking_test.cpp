// Non-blocking requests against the stand-in: their entries, answers met by
// other exchanges, single and list polls, callbacks and the SDK wrappers.
#include <algorithm>
#include <atomic>

#include "daemon_intf/sdk_state.h"
#include "sim_fixture.h"

using hsmsim::Answer;
using hsmsim::kEchoCommandType;
using tt::Bytes;
using namespace std::chrono_literals;

namespace {

class NonBlocking : public tt::SimTransport {
 protected:
  // Sends a non-blocking echo; returns its request id.
  Uint32 start_echo(const Bytes &in, Bytes &out, Uint16 opcode = 1, callback_fn cb = nullptr,
                    void *args = nullptr) {
    request_buffer rb = echo_request(in, out, opcode);
    EXPECT_EQ(orx_tessaline_cli_send_daemon(&rb, HSM_QEL1_OPERATION, 1, cb, args), 0);
    EXPECT_EQ(static_cast<Uint32>(rb.status), ERR_REQUEST_PENDING);
    return rb.request_id;
  }
  // A blocking round trip: the daemon answers in order, so every non-blocking
  // answer sent before it has been read when it returns.
  void barrier() { ASSERT_TRUE(echo_ok(0x42)); }
  // Polls until the request is no longer pending (5 s at most).
  static Uint32 wait_done(Uint32 id) {
    Uint32 r = ERR_REQUEST_PENDING;
    for (int i = 0; i < 5000 && r == ERR_REQUEST_PENDING; ++i) {
      r = poll(id);
      if (r == ERR_REQUEST_PENDING) std::this_thread::sleep_for(1ms);
    }
    return r;
  }
  static Uint32 poll(Uint32 id) {
    testing::internal::CaptureStdout();
    Uint32 r = Qel2CheckForCompletion(id);
    last_output_ = testing::internal::GetCapturedStdout();
    return r;
  }
  static inline std::string last_output_;
};

struct Seen {
  std::atomic<int> calls{0};
  Uint32 req_id = 0;
  Int32 status = 0;
  void *args = nullptr;
};
void record_callback(void *entry) {
  auto *e = static_cast<req_status *>(entry);
  auto *seen = static_cast<Seen *>(e->args);
  seen->calls++;
  seen->req_id = e->req_id;
  seen->status = e->status;
  seen->args = e->args;
}

}  // namespace

TEST_F(NonBlocking, ResultIsCollectedOnceByItsId) {
  Bytes in = tt::pattern(40, 3), out(40, 0);
  Seen seen;
  Uint32 id = start_echo(in, out, 1, record_callback, &seen);
  EXPECT_EQ(id, 0u);
  ASSERT_TRUE(d().wait_captured(1, 2s));
  EXPECT_EQ(d().captured().at(0).req_type, 1);
  EXPECT_EQ(wait_done(id), 0u);
  EXPECT_EQ(out, in);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.req_id, id);
  EXPECT_EQ(seen.status, 0);
  EXPECT_EQ(seen.args, &seen);

  EXPECT_EQ(poll(id), TESSALINE_INVALID_REQID);
  EXPECT_EQ(last_output_, "Invalid Request ID : 0\n");
  EXPECT_EQ(poll(1234), TESSALINE_INVALID_REQID);
}

TEST_F(NonBlocking, PendingPollReturnsAtOnceAndKeepsTheEntry) {
  d().set_nonblocking_delay(400ms);
  Bytes in = tt::pattern(8, 1), out(8, 0);
  Uint32 id = start_echo(in, out);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(poll(id), ERR_REQUEST_PENDING);
  EXPECT_LT(tt::ms_since(t0), 100);
  EXPECT_EQ(out, Bytes(8, 0));
  EXPECT_EQ(wait_done(id), 0u);
  EXPECT_EQ(out, in);
}

TEST_F(NonBlocking, AnswerMetDuringABlockingWaitIsReportedWithoutTraffic) {
  Bytes in = tt::pattern(16, 7), out(16, 0);
  Uint32 id = start_echo(in, out);
  barrier();
  EXPECT_EQ(out, in);  // already there before any poll
  const size_t before = d().captured().size();
  EXPECT_EQ(poll(id), 0u);
  EXPECT_EQ(d().captured().size(), before);
}

TEST_F(NonBlocking, AnswersInAnyOrderFillTheirOwnSegments) {
  d().set_nonblocking_delay(100ms);  // released together, newest first
  std::vector<Bytes> ins, outs(6);
  std::vector<Uint32> ids;
  for (int i = 0; i < 6; ++i) {
    ins.push_back(tt::pattern(32 + i, static_cast<uint8_t>(i * 11)));
    outs[i].assign(32 + i, 0);
  }
  for (int i = 0; i < 6; ++i) ids.push_back(start_echo(ins[i], outs[i]));
  std::this_thread::sleep_for(200ms);
  for (int i = 5; i >= 0; --i) {
    EXPECT_EQ(wait_done(ids[i]), 0u) << i;
    EXPECT_EQ(outs[i], ins[i]) << i;
  }
}

TEST_F(NonBlocking, AnswerWithoutPayloadReturnsItsStatus) {
  Answer failing;
  failing.status = 0x30000081;
  failing.payload = Bytes{};
  d().script(kEchoCommandType, 2, failing);
  Bytes in(4, 1), out(4, 0);
  Uint32 id = start_echo(in, out, 2);
  ASSERT_TRUE(d().wait_captured(1, 2s));
  EXPECT_EQ(wait_done(id), 0x30000081u);
}

TEST_F(NonBlocking, ListPollCollectsFinishedKeepsPendingReportsFailures) {
  Answer failing;
  failing.status = 0x1234;
  d().script(kEchoCommandType, 2, failing);
  Answer never;
  never.drop = true;
  d().script(kEchoCommandType, 3, never);
  Bytes in(4, 1), o1(4, 0), o2(4, 0), o3(4, 0);
  Seen seen;
  Uint32 ok = start_echo(in, o1, 1, record_callback, &seen);
  Uint32 bad = start_echo(in, o2, 2, record_callback, &seen);
  Uint32 pending = start_echo(in, o3, 3, record_callback, &seen);
  barrier();

  request_status list[4] = {{ok, 0xEE, 0}, {bad, 0xEE, 0}, {pending, 0xEE, 0}, {777, 0xEE, 0}};
  Uint32 count = 99;
  EXPECT_EQ(Qel2GetAllResults(0, list, 13, &count), ERR_ILLEGAL_INPUT_LENGTH);
  EXPECT_EQ(Qel2GetAllResults(0, list, 0, &count), ERR_ILLEGAL_INPUT_LENGTH);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Qel2GetAllResults(0, list, sizeof list, &count), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid Request ID : 777\n");
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(list[0].status, 0u);
  EXPECT_EQ(list[1].status, 0x1234u);
  EXPECT_EQ(list[2].status, ERR_REQUEST_PENDING);
  EXPECT_EQ(list[3].status, 0xEEu);
  EXPECT_EQ(seen.calls, 2);
  EXPECT_EQ(poll(ok), TESSALINE_INVALID_REQID);
  EXPECT_EQ(poll(bad), TESSALINE_INVALID_REQID);
  EXPECT_EQ(poll(pending), ERR_REQUEST_PENDING);
}

TEST_F(NonBlocking, WrappedIdCounterSkipsIdsStillPending) {
  Answer never;
  never.drop = true;
  d().script(kEchoCommandType, 3, never);
  Bytes in_old = tt::pattern(8, 1), out_old(8, 0);
  const Uint32 old_id = start_echo(in_old, out_old, 3);
  ASSERT_EQ(old_id, 0u);
  ASSERT_EQ(transport_seam_set_req_ids(kFirstBlockingReqId, kNonBlockingIdLimit - 1), 0);
  Bytes in_last = tt::pattern(8, 2), out_last(8, 0);
  EXPECT_EQ(start_echo(in_last, out_last), kNonBlockingIdLimit - 1);
  Bytes in_new = tt::pattern(8, 3), out_new(8, 0);
  const Uint32 new_id = start_echo(in_new, out_new);  // the counter wraps past 0, still pending
  EXPECT_EQ(new_id, 1u);
  EXPECT_EQ(wait_done(new_id), 0u);
  EXPECT_EQ(out_new, in_new);
  EXPECT_EQ(wait_done(kNonBlockingIdLimit - 1), 0u);
  EXPECT_EQ(out_last, in_last);
  EXPECT_EQ(out_old, Bytes(8, 0));  // no other answer landed in its buffers
  EXPECT_EQ(poll(old_id), ERR_REQUEST_PENDING);
}

TEST_F(NonBlocking, ListPollOfMoreThan65535EntriesEnds) {
  const Uint32 n = 70000;
  std::vector<request_status> list(n);
  for (Uint32 i = 0; i < n; ++i) list[i] = {0x20000000u + i, 0, 0};
  Uint32 count = 5;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Qel2GetAllResults(0, list.data(), n * sizeof(request_status), &count), 0u);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(static_cast<size_t>(std::count(out.begin(), out.end(), '\n')), n);
  EXPECT_EQ(count, 0u);
}

TEST_F(NonBlocking, EntriesGoWithTheirRecordWithoutCallbacks) {
  d().set_nonblocking_delay(10s);
  Bytes in(4, 1), out(4, 0);
  Seen seen;
  Uint32 id = start_echo(in, out, 1, record_callback, &seen);
  orx_tessaline_cli_unregister_thread();
  EXPECT_EQ(poll(id), TESSALINE_INVALID_REQID);
  EXPECT_EQ(seen.calls, 0);
}

TEST_F(NonBlocking, IdlePollIsCheap) {
  d().set_nonblocking_delay(10s);
  Bytes in(4, 1), out(4, 0);
  Uint32 id = start_echo(in, out);
  const int n = 2000;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) ASSERT_EQ(Qel2CheckForCompletion(id), ERR_REQUEST_PENDING);
  EXPECT_LT(tt::ms_since(t0), 2000);  // well under a millisecond each, even instrumented
}

TEST_F(NonBlocking, SdkWrappersRefuseBadArgumentsBeforeTraffic) {
  request_status list[1] = {};
  Uint32 count = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Qel2GetAllResults(0, nullptr, 12, &count), ERR_ARGUMENTS_BAD);
  EXPECT_EQ(Qel2GetAllResults(0, list, 12, nullptr), ERR_ARGUMENTS_BAD);
  EXPECT_EQ(Qel2GetAllResults(16, list, 12, &count), ERR_ARGUMENTS_BAD);
  EXPECT_EQ(Qel2CheckForCompletion2(16, 0), ERR_ARGUMENTS_BAD);
  EXPECT_EQ(Qel2GetReqClusterStatus(0, nullptr, 1), ERR_ARGUMENTS_BAD);
  EXPECT_EQ(Qel2GetDriverState(16), ERR_ARGUMENTS_BAD);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(d().captured().empty());
  EXPECT_EQ(Qel2FlushRequest(5), 0u);
  EXPECT_EQ(Qel2FlushAllRequests(0), 0u);
}

TEST_F(NonBlocking, ClusterStatusOfAnUnknownRequestIsAllOnes) {
  op_error_state_t nodes[32];
  memset(nodes, 0, sizeof nodes);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Qel2GetReqClusterStatus(0, nodes, 0x40000123), 0u);
  testing::internal::GetCapturedStdout();
  for (const auto &n : nodes) {
    EXPECT_EQ(n.node, 0xFFFFFFFFu);
    EXPECT_EQ(n.rc, 0xFFFFFFFFu);
  }
}

TEST_F(NonBlocking, DriverStateFollowsTheStart) {
  EXPECT_EQ(Qel2GetDriverState(0), 0u);
  transport_seam_stop();
  EXPECT_EQ(Qel2GetDriverState(0), 0xFFFFFFFFu);
  EXPECT_EQ(Qel2CheckForCompletion(0), TESSALINE_INVALID_OPERATION);
}
