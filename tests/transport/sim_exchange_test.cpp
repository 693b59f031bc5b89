// Full requests and control operations against the stand-in: the bytes on
// the wire, the answers spread over the caller's segments, time-outs, ids.
#include <poll.h>

#include <algorithm>

#include "qel2_opcodes.h"
#include "sim_fixture.h"

using hsmsim::Answer;
using hsmsim::kEchoCommandType;
using tt::Bytes;
using tt::get_le;
using tt::put_le;
using namespace std::chrono_literals;

namespace {
class Wire : public tt::SimTransport {};
class WireTcp : public tt::SimTransport {
 protected:
  void SetUp() override { start(true); }
};
}  // namespace

TEST_F(Wire, RequestBytesAsTheDaemonReceivesThem) {
  Bytes in0 = tt::pattern(8, 1), in1 = tt::pattern(70000, 2);
  Bytes out0(16, 0), out1(70000, 0);
  request_buffer rb{};
  tt::add_input(rb, in0, 5);  // meaningful: 5 bytes, the rest goes as zeros
  tt::add_input(rb, in1);
  tt::add_output(rb, out0, 3);
  tt::add_output(rb, out1);
  rb.command_type = kEchoCommandType;
  rb.opcode = 77;
  rb.session_handle = 0x00ABCDEF;
  rb.timeout = 10;
  rb.ctx = 0x1122334455667788ull;
  rb.key_handle = 42;
  ASSERT_EQ(send(rb), 0);

  auto cap = d().captured();
  ASSERT_EQ(cap.size(), 1u);
  const Bytes &m = cap[0].bytes;
  const size_t len = 96 + 6 * 4 + 8 + 70000;
  ASSERT_EQ(m.size(), len);
  Bytes want(96 + 24, 0);
  put_le(want, 4, 0x40000000, 4);
  put_le(want, 8, 0x00ABCDEF, 4);
  put_le(want, 16, (len - 56) & 0xFFFF, 2);
  put_le(want, 18, (16 + 70000) & 0xFFFF, 2);
  put_le(want, 20, 77, 2);
  put_le(want, 40, 0x1122334455667788ull, 8);
  want[48] = 'W';
  put_le(want, 54, (16 + 70000) >> 16, 2);
  want[57] = 2;
  want[58] = 2;
  put_le(want, 68, kEchoCommandType, 2);
  put_le(want, 76, 10, 4);
  put_le(want, 88, 42, 8);
  const uint32_t seg[4][3] = {
      {0, 5, 8}, {0, 0, 70000 & 0xFFFF}, {1, 3, 16}, {1, 0, 70000 & 0xFFFF}};
  for (int i = 0; i < 4; ++i) {
    want[96 + 6 * i] = static_cast<uint8_t>(seg[i][0]);
    put_le(want, 96 + 6 * i + 2, seg[i][1], 2);
    put_le(want, 96 + 6 * i + 4, seg[i][2], 2);
  }
  want.insert(want.end(), in0.begin(), in0.begin() + 5);
  want.insert(want.end(), 3, 0);
  want.insert(want.end(), in1.begin(), in1.end());
  EXPECT_EQ(m, want);

  // The echo spread over both outputs: 8 + 70000 bytes for 16 + 70000 of room.
  EXPECT_EQ(rb.request_id, 0x40000000u);
  EXPECT_EQ(rb.status, 0);
  EXPECT_EQ(rb.outsize[0], 16u);
  EXPECT_EQ(rb.outsize[1], 69992u);
  EXPECT_TRUE(std::equal(in1.begin() + 8, in1.end(), out1.begin()));
}

TEST_F(Wire, AnswersAreSpreadAndCutOverTheOutputs) {
  struct Case {
    size_t in;
    std::vector<uint32_t> outs;
    std::vector<uint32_t> sizes_after;
  } cases[] = {
      {10, {8, 8}, {8, 2}},
      {20, {8, 8}, {8, 8}},
      {0, {16, 4096}, {0, 0}},
      {65536, {32768, 32768}, {32768, 32768}},  // out_len 0, out_len2 1
  };
  for (const auto &c : cases) {
    Bytes in = tt::pattern(c.in, 5);
    std::vector<Bytes> outs;
    for (uint32_t n : c.outs) outs.emplace_back(n, 0xEE);
    request_buffer rb{};
    if (c.in) tt::add_input(rb, in);
    for (Bytes &o : outs) tt::add_output(rb, o);
    rb.command_type = kEchoCommandType;
    ASSERT_EQ(send(rb), 0);
    Bytes got;
    for (size_t i = 0; i < outs.size(); ++i) {
      EXPECT_EQ(rb.outsize[i], c.sizes_after[i]) << c.in << " seg " << i;
      got.insert(got.end(), outs[i].begin(), outs[i].begin() + rb.outsize[i]);
      EXPECT_TRUE(std::all_of(outs[i].begin() + rb.outsize[i], outs[i].end(),
                              [](uint8_t b) { return b == 0xEE; }));
    }
    size_t copied = std::min<size_t>(c.in, c.outs[0] + c.outs[1]);
    EXPECT_EQ(got, Bytes(in.begin(), in.begin() + copied));
  }
}

TEST_F(Wire, StatusAndContextOfTheAnswerReachTheCaller) {
  Answer a;
  a.status = 0x30000081;
  a.op_ctx = 0x5555AAAA5555AAAAull;
  d().script(kEchoCommandType, 3, a);
  Bytes in = tt::pattern(4, 1), out(4, 0);
  request_buffer rb = echo_request(in, out, 3);
  rb.ctx = 7;
  ASSERT_EQ(send(rb), 0);  // a request status is not a transport failure
  EXPECT_EQ(static_cast<Uint32>(rb.status), 0x30000081u);
  EXPECT_EQ(rb.ctx, 0x5555AAAA5555AAAAull);
  EXPECT_EQ(d().captured().at(0).bytes.at(40), 7);
}

TEST_F(Wire, ControlOperations) {
  // 4: the 72-byte health record.
  hb_diag hb;
  memset(&hb, 0xAB, sizeof hb);
  EXPECT_EQ(orx_tessaline_cli_send_daemon(&hb, HSM_HEALTH_DUMP, 0, nullptr, nullptr), 0);
  EXPECT_EQ(hb.vantor_chips, 1u);
  EXPECT_EQ(hb.vantor_cores, 16u);
  EXPECT_EQ(hb.heartbeat_crypto.state, 1u);
  // 5 and 8: two bytes.
  d().hsm().set_firmware_version(4, 2);
  VersionNumber fw{};
  EXPECT_EQ(orx_tessaline_cli_send_daemon(&fw, HSM_GET_FW_VERSION, 0, nullptr, nullptr), 0);
  EXPECT_EQ(fw.major, 4);
  EXPECT_EQ(fw.minor, 2);
  d().set_daemon_version(2, 4);
  ComponentVersion dv{};
  EXPECT_EQ(orx_tessaline_cli_send_daemon(&dv, GET_DAEMON_VERSION, 1, nullptr, nullptr), 0);
  EXPECT_EQ(dv.major, 2);
  EXPECT_EQ(dv.minor, 4);
  // 9: a notice with the caller's message type letter.
  Uint32 letter = 'Q';
  EXPECT_EQ(orx_tessaline_cli_send_daemon(nullptr, HSM_OZV_SERVER_OPERATION, 0, nullptr, &letter),
            0);
  // 10: an id the daemon has no cluster record for.
  cluster_req_status cs{};
  cs.request_id = 0x40000000;
  cs.status = 0x1234;
  testing::internal::CaptureStdout();
  EXPECT_EQ(orx_tessaline_cli_send_daemon(&cs, CLUSTER_REQUEST_STATUS, 0, nullptr, nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\n\tReceived empty cluster error info from the daemon\n\tMight not be a cluster "
            "operation");
  EXPECT_TRUE(std::all_of(reinterpret_cast<uint8_t *>(cs.op_err),
                          reinterpret_cast<uint8_t *>(cs.op_err) + sizeof cs.op_err,
                          [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(cs.status, 0x1234u);  // not written

  auto cap = d().captured();
  ASSERT_EQ(cap.size(), 5u);
  const struct {
    uint8_t op, letter, req_type;
    uint32_t id;
    uint16_t out_len;
  } want[] = {{4, 'V', 0, 0x40000000, 72},
              {5, 'V', 0, 0x40000001, 2},
              {8, 'U', 1, 0x40000002, 2},
              {9, 'Q', 0, 0x40000003, 0},
              {10, 'U', 0, 0x40000000, 256}};
  for (size_t i = 0; i < cap.size(); ++i) {
    EXPECT_EQ(cap[i].bytes.size(), 56u);
    EXPECT_EQ(cap[i].operation, want[i].op);
    EXPECT_EQ(cap[i].msg_type, want[i].letter);
    EXPECT_EQ(cap[i].req_type, want[i].req_type);
    EXPECT_EQ(cap[i].req_id, want[i].id);
    EXPECT_EQ(cap[i].opcode, 255);
    EXPECT_EQ(get_le(cap[i].bytes, 18, 2), want[i].out_len);
    EXPECT_EQ(get_le(cap[i].bytes, 16, 2), 0u);
  }
}

TEST_F(Wire, ClusterResultsOfAReplicatedRequest) {
  Answer a;
  a.payload = Bytes(16, 0);
  a.status = 0x30000081;
  d().script(0, KQ_CREATE_OBJECT, a);
  Bytes in(20, 0), out(16, 0);
  request_buffer rb{};
  tt::add_input(rb, in);
  tt::add_output(rb, out);
  rb.opcode = KQ_CREATE_OBJECT;
  ASSERT_EQ(send(rb), 0);
  op_error_state_t nodes[32];
  memset(nodes, 0, sizeof nodes);
  EXPECT_EQ(Qel2GetReqClusterStatus(0, nodes, rb.request_id), 0u);
  EXPECT_EQ(nodes[0].node, 0u);
  EXPECT_EQ(nodes[0].rc, 0x30000081u);
  EXPECT_EQ(nodes[1].node, 0xFFFFFFFFu);
}

TEST_F(Wire, ShortControlAnswersFillOnlyWhatCame) {
  Answer a;
  a.payload = Bytes(10, 0x11);
  d().script_control(HSM_HEALTH_DUMP, a);
  Answer one;
  one.payload = Bytes{9};
  d().script_control(GET_DAEMON_VERSION, one);
  Answer empty;
  empty.payload = Bytes{};
  d().script_control(HSM_GET_FW_VERSION, empty);

  Bytes hb(72, 0xAB);
  EXPECT_EQ(orx_tessaline_cli_send_daemon(hb.data(), HSM_HEALTH_DUMP, 0, nullptr, nullptr), 0);
  EXPECT_EQ(Bytes(hb.begin(), hb.begin() + 10), Bytes(10, 0x11));
  EXPECT_EQ(Bytes(hb.begin() + 10, hb.end()), Bytes(62, 0xAB));
  Bytes ver{0xCC, 0xCC};
  EXPECT_EQ(orx_tessaline_cli_send_daemon(ver.data(), GET_DAEMON_VERSION, 0, nullptr, nullptr), 0);
  EXPECT_EQ(ver, (Bytes{9, 0xCC}));
  ver = {0xCC, 0xCC};
  EXPECT_EQ(orx_tessaline_cli_send_daemon(ver.data(), HSM_GET_FW_VERSION, 0, nullptr, nullptr), 0);
  EXPECT_EQ(ver, (Bytes{0xCC, 0xCC}));

  // A health answer without payload says so.
  d().clear_scripts();
  Answer none;
  none.payload = Bytes{};
  d().script_control(HSM_HEALTH_DUMP, none);
  testing::internal::CaptureStdout();
  EXPECT_EQ(orx_tessaline_cli_send_daemon(hb.data(), HSM_HEALTH_DUMP, 0, nullptr, nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nReceived empty response from the daemon ");
}

TEST_F(Wire, RefusedAndLocalOperationsSendNothing) {
  Bytes any(300, 0);
  for (unsigned op : {7u, 11u, 15u, 0xc010c007u})
    EXPECT_EQ(
        orx_tessaline_cli_send_daemon(any.data(), static_cast<op_type>(op), 0, nullptr, nullptr),
        TESSALINE_INVALID_OPERATION)
        << op;
  EXPECT_EQ(orx_tessaline_cli_send_daemon(nullptr, HSM_GET_DRIVER_STATE, 0, nullptr, nullptr), 0);
  for (op_type op : {HSM_QEL1_OPERATION, HSM_QEL1_TRANSLATE_PARTITION_INFO, HSM_REQUEST_STATUS,
                     HSM_ALL_REQUEST_STATUS, HSM_HEALTH_DUMP, HSM_GET_FW_VERSION,
                     GET_DAEMON_VERSION, CLUSTER_REQUEST_STATUS, HSM_OZV_SERVER_OPERATION}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(orx_tessaline_cli_send_daemon(nullptr, op, 0, nullptr, nullptr), ERR_ARGUMENTS_BAD)
        << op;
    testing::internal::GetCapturedStdout();
  }
  request_status_list rl{};
  rl.cnt = 3;
  testing::internal::CaptureStdout();
  EXPECT_EQ(orx_tessaline_cli_send_daemon(&rl, HSM_ALL_REQUEST_STATUS, 0, nullptr, nullptr),
            ERR_ARGUMENTS_BAD);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(orx_tessaline_cli_send_daemon_new(nullptr, 0), ERR_ARGUMENTS_BAD);
  // Counts outside the model are refused before any id is used.
  request_buffer rb{};
  rb.incnt = 40;
  testing::internal::CaptureStdout();
  EXPECT_EQ(send(rb), ERR_ARGUMENTS_BAD);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(echo_ok(1));
  auto cap = d().captured();
  ASSERT_EQ(cap.size(), 1u);
  EXPECT_EQ(cap[0].req_id, 0x40000000u);
}

TEST_F(Wire, TokenFlagsOfObjectCreatingRequests) {
  Bytes in(4, 1), out(4, 0);
  struct Case {
    uint16_t opcode;
    uint8_t token, both;
    uint8_t flags;
    uint8_t token_after, both_after;
  } cases[] = {
      {KQ_CREATE_OBJECT, 1, 0, 1, 1, 0},
      {KQ_GENERATE_KEY, 0, 0, 0, 1, 0},
      {KQ_GENERATE_KEY_PAIR, 0, 1, 2, 1, 0},
      {KQ_UNWRAP_KEY2, 1, 1, 3, 1, 0},
      {KQ_INSERT_MASKED_OBJECT_USER, 0, 0, 0, 1, 0},
      {KQ_DESTROY_OBJECT, 0, 1, 0, 0, 1},  // not object-creating: flags untouched
      {1, 0, 0, 0, 0, 0},
  };
  for (const auto &c : cases) {
    d().clear_captured();
    bIsToken_op = c.token;
    bIsTokenAndSession_op = c.both;
    request_buffer rb = echo_request(in, out, c.opcode);
    ASSERT_EQ(send(rb), 0);
    EXPECT_EQ(d().captured().at(0).flags, c.flags) << c.opcode;
    EXPECT_EQ(bIsToken_op, c.token_after) << c.opcode;
    EXPECT_EQ(bIsTokenAndSession_op, c.both_after) << c.opcode;
  }
  bIsToken_op = 1;
  bIsTokenAndSession_op = 0;
}

TEST_F(Wire, ServerDirectedSendMarksNewHandlesWithTheAnsweringServer) {
  // Handles at 16 (public, high bits set) and 24 (private), big-endian.
  Bytes answer(32, 0);
  answer[16] = 0xFF;
  answer[23] = 0x05;
  answer[31] = 0x09;
  Answer a;
  a.payload = answer;
  a.serveridx = 3;
  a.count = 1;
  d().script(0, KQ_GENERATE_KEY_PAIR, a);
  Answer failed = a;
  failed.status = 0x30000081;
  failed.count = -1;
  d().script(0, KQ_GENERATE_KEY_PAIR, failed);
  Answer other = a;
  other.count = -1;
  d().script(2, KQ_GENERATE_KEY_PAIR, other);

  Bytes in(10, 1);
  auto run = [&](Uint16 command_type, Bytes &out) {
    request_buffer rb{};
    tt::add_input(rb, in);
    tt::add_output(rb, out);
    rb.opcode = KQ_GENERATE_KEY_PAIR;
    rb.command_type = command_type;
    rb.ctx = 99;
    EXPECT_EQ(orx_tessaline_cli_send_daemon_new(&rb, 3), 0);
    EXPECT_EQ(rb.outsize[0], out.size());  // sizes stay as given
    EXPECT_EQ(rb.ctx, 99u);                // and so does the context
  };
  Bytes out(48, 0xEE);
  run(0, out);
  EXPECT_EQ(Bytes(out.begin() + 16, out.begin() + 24), (Bytes{0, 0, 0, 0, 0x18, 0, 0, 0x05}));
  EXPECT_EQ(Bytes(out.begin() + 24, out.begin() + 32), (Bytes{0, 0, 0, 0, 0x18, 0, 0, 0x09}));
  EXPECT_EQ(Bytes(out.begin() + 32, out.end()), Bytes(16, 0xEE));  // past the answer: untouched

  for (Uint16 command_type : {0, 2}) {  // a failed answer, and another command type
    Bytes out2(32, 0);
    run(command_type, out2);
    EXPECT_EQ(out2, answer) << command_type;
  }

  auto cap = d().captured();
  ASSERT_EQ(cap.size(), 3u);
  EXPECT_EQ(cap[0].flags, 3);                  // the server index in byte 50
  EXPECT_EQ(get_le(cap[0].bytes, 40, 8), 0u);  // no op_ctx
}

TEST_F(Wire, TimeoutLeavesTheCallersFieldsAndTheLateAnswerIsDropped) {
  transport_seam_set_second_ms(5);  // T = 10 + 30 -> 200 ms, first read at least 300 ms
  Answer late;
  late.delay = 700ms;
  late.count = 1;
  d().script(kEchoCommandType, 100, late);  // not a replicated opcode
  Bytes in = tt::pattern(8, 1), out(8, 0);
  request_buffer rb = echo_request(in, out, 100);
  rb.status = -7;
  rb.request_id = 12345;
  testing::internal::CaptureStdout();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(send(rb), TESSALINE_SOCKET_RCV_TIMEOUT);
  long waited = tt::ms_since(t0);
  std::string out_text = testing::internal::GetCapturedStdout();
  EXPECT_GE(waited, 290);
  EXPECT_LT(waited, 650);
  EXPECT_NE(out_text.find("Error Receiving the Message from Daemon"), std::string::npos);
  EXPECT_EQ(rb.status, -7);
  EXPECT_EQ(rb.request_id, 12345u);
  EXPECT_EQ(out, Bytes(8, 0));

  pollfd queued{get_thread_info()->socket_fd, POLLIN, 0};
  ASSERT_EQ(::poll(&queued, 1, 5000), 1);  // the late answer has arrived
  testing::internal::CaptureStdout();
  EXPECT_TRUE(echo_ok(2));
  EXPECT_NE(testing::internal::GetCapturedStdout().find(
                "Invalid req_id 1073741824 actual 1073741825 in Message Header: Ignoring the "
                "Message\n"),
            std::string::npos);
}

TEST_F(Wire, WaitingTimeFollowsTheRequestsTimeoutAndOpcode) {
  transport_seam_set_second_ms(20);  // short, yet far above a round trip
  Bytes in(4, 0), out(4, 0);
  const struct {
    uint16_t opcode;
    uint32_t timeout;
    int64_t wait;
  } cases[] = {{1, 120, 150},
               {KQ_DESTROY_OBJECT, 120, 450},
               {KQ_CREATE_OBJECT, 120, 450},
               {1, 10, 60},
               {1, 0xFFFFFFF0u, 0xFFFFFFF0ll + 30}};
  for (const auto &c : cases) {
    request_buffer rb = echo_request(in, out, c.opcode);
    rb.timeout = c.timeout;
    ASSERT_EQ(send(rb), 0);
    EXPECT_EQ(get_thread_info()->rcvtimeo_ms, c.wait * 20) << c.opcode << " " << c.timeout;
  }
  ComponentVersion v{};
  ASSERT_EQ(orx_tessaline_cli_send_daemon(&v, GET_DAEMON_VERSION, 0, nullptr, nullptr), 0);
  EXPECT_EQ(get_thread_info()->rcvtimeo_ms, 60 * 20);
}

TEST_F(Wire, RequestIdsWrapInTheirRanges) {
  ASSERT_EQ(transport_seam_set_req_ids(0xFFFFFFFE, 0x3FFFFFFF), 0);
  Bytes in(4, 1), out(4, 0);
  for (int i = 0; i < 3; ++i) {
    request_buffer rb = echo_request(in, out);
    ASSERT_EQ(send(rb), 0);
  }
  for (int i = 0; i < 2; ++i) {
    request_buffer rb = echo_request(in, out);
    ASSERT_EQ(send(rb, 1), 0);
  }
  ASSERT_TRUE(d().wait_captured(5, 5s));
  auto cap = d().captured();
  ASSERT_EQ(cap.size(), 5u);
  EXPECT_EQ(cap[0].req_id, 0xFFFFFFFEu);
  EXPECT_EQ(cap[1].req_id, 0x40000000u);
  EXPECT_EQ(cap[2].req_id, 0x40000001u);
  EXPECT_EQ(cap[3].req_id, 0x3FFFFFFFu);
  EXPECT_EQ(cap[4].req_id, 0u);
}

TEST_F(Wire, ClosedConnectionIsDroppedAndTheNextRequestReconnects) {
  Answer cut;
  cut.close_after = 20;
  cut.count = 1;
  d().script(kEchoCommandType, 5, cut);
  Bytes in(4, 1), out(4, 0);
  request_buffer rb = echo_request(in, out, 5);
  testing::internal::CaptureStdout();
  EXPECT_EQ(send(rb), TESSALINE_SOCKET_RCV_PEER_DOWN);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(echo_ok(3));
  EXPECT_EQ(d().connections_accepted(), 2u);
}

TEST_F(WireTcp, EchoOverTcp) {
  EXPECT_TRUE(echo_ok(4, 100000));
  ComponentVersion v{};
  EXPECT_EQ(orx_tessaline_cli_send_daemon(&v, GET_DAEMON_VERSION, 0, nullptr, nullptr), 0);
  EXPECT_EQ(v.major, 2);
  EXPECT_EQ(v.minor, 3);
}

TEST_F(Wire, AnswerCutByATimeoutIsFinishedByTheNextRequestOnTheSameConnection) {
  transport_seam_set_second_ms(10);  // T = 40 s -> 400 ms for the rest of a message
  Answer slow;
  slow.chunk = 40;
  slow.chunk_pause = 900ms;
  slow.count = 1;
  d().script(kEchoCommandType, 100, slow);
  Bytes in = tt::pattern(100, 1), out(100, 0);
  request_buffer rb = echo_request(in, out, 100);
  testing::internal::CaptureStdout();
  EXPECT_EQ(send(rb), TESSALINE_SOCKET_RCV_TIMEOUT);  // 40 header bytes, then a pause
  thread_info *t = get_thread_info();
  EXPECT_EQ(t->pend.pending, 1);
  EXPECT_EQ(t->pend.header, 1);
  EXPECT_EQ(t->pend.stored_len, 40u);

  // The next request first finishes the cut answer (a late one now, dropped)
  // and then gets its own, on the same connection.
  transport_seam_set_second_ms(1000);
  Bytes in2 = tt::pattern(20, 9), out2(20, 0);
  request_buffer rb2 = echo_request(in2, out2, 1);
  EXPECT_EQ(send(rb2), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(out2, in2);
  EXPECT_EQ(t->pend.pending, 0);
  EXPECT_EQ(d().connections_accepted(), 1u);
}

TEST_F(Wire, NonBlockingAnswerInPiecesIsAssembledAcrossPolls) {
  Answer pieces;
  pieces.chunk = 7;
  pieces.chunk_pause = 5ms;
  d().script(kEchoCommandType, 100, pieces);
  Bytes in = tt::pattern(300, 3), out(300, 0);
  request_buffer rb = echo_request(in, out, 100);
  ASSERT_EQ(send(rb, 1), 0);
  Uint32 r = ERR_REQUEST_PENDING;
  int polls = 0;
  for (; polls < 5000 && r == ERR_REQUEST_PENDING; ++polls) {
    r = Qel2CheckForCompletion(rb.request_id);
    if (r == ERR_REQUEST_PENDING) std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(r, 0u);
  EXPECT_GT(polls, 3);  // several polls met part of the answer
  EXPECT_EQ(out, in);
}
