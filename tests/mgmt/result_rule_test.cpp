// The management request convention: descriptor filling and the
// three-layer result rule.
#include <gtest/gtest.h>

#include "sim_fixture.h"

using namespace mgmt_test;
using qel2::mgmt::MgmtRequest;

namespace {

class ResultRule : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    start();
    d().clear_captured();
  }
  // Sends a 20-byte command with a 16-byte response under opcode.
  MgmtRequest &send(uint16_t opcode) {
    rq_ = std::make_unique<MgmtRequest>(opcode, 0x00012345);
    rq_->in(cmd_, sizeof cmd_).out(resp_, sizeof resp_);
    rq_->send();
    return *rq_;
  }
  uint8_t cmd_[20] = {};
  uint8_t resp_[16] = {};
  std::unique_ptr<MgmtRequest> rq_;
};

struct Case {
  const char *what;
  uint16_t opcode;
  uint32_t status;
  std::optional<std::vector<uint8_t>> answer;
  uint32_t want;
  bool decodable;
};

TEST_F(ResultRule, LayersInOrder) {
  const std::vector<uint8_t> ok = resp(0), refused = resp(RET_INVALID_SESSION);
  const Case cases[] = {
      {"all layers pass", KQ_GET_SESSION_INFO, 0, ok, 0, true},
      {"response code", KQ_GET_SESSION_INFO, 0, refused, RET_INVALID_SESSION, false},
      {"request status beats code 0", KQ_GET_SESSION_INFO, TESSALINE_RETRY_OP, ok,
       TESSALINE_RETRY_OP, false},
      {"request status beats a code", KQ_GET_SESSION_INFO, TESSALINE_SERVER_NOT_READY, refused,
       TESSALINE_SERVER_NOT_READY, false},
      {"result too large", KQ_GET_SESSION_INFO, 0, std::vector<uint8_t>(resp(RET_RESULT_SIZE)),
       RET_RESULT_SIZE, false},
      {"cluster-incomplete on a plain opcode", KQ_GET_SESSION_INFO,
       RET_CLUSTER_OPERATION_INCOMPLETE, ok, RET_CLUSTER_OPERATION_INCOMPLETE, false},
      {"cluster-incomplete on login", KQ_LOGIN, RET_CLUSTER_OPERATION_INCOMPLETE, ok,
       RET_CLUSTER_OPERATION_INCOMPLETE, false},
      {"cluster-incomplete on object creation passes", KQ_CREATE_OBJECT,
       RET_CLUSTER_OPERATION_INCOMPLETE, ok, RET_CLUSTER_OPERATION_INCOMPLETE, true},
      {"cluster-incomplete then an HSM failure", KQ_CREATE_OBJECT, RET_CLUSTER_OPERATION_INCOMPLETE,
       refused, RET_INVALID_SESSION, false},
      {"other cluster code on object creation", KQ_CREATE_OBJECT, RET_CLUSTER_SERVER_CLOSE, ok,
       RET_CLUSTER_SERVER_CLOSE, false},
      {"cluster-incomplete on sharing yields the response code", KQ_SHARE_OBJECT,
       RET_CLUSTER_OPERATION_INCOMPLETE, ok, 0, true},
      {"cluster-incomplete on an attribute change yields the response code", KQ_MODIFY_OBJECT,
       RET_CLUSTER_OPERATION_INCOMPLETE, ok, 0, true},
      {"cluster-incomplete on masked insertion is returned", KQ_INSERT_MASKED_OBJECT,
       RET_CLUSTER_OPERATION_INCOMPLETE, ok, RET_CLUSTER_OPERATION_INCOMPLETE, true},
      {"answer shorter than the response header", KQ_GET_SESSION_INFO, 0,
       std::vector<uint8_t>(8, 0), TESSALINE_INVALID_MSG, false},
      {"answer without payload", KQ_GET_SESSION_INFO, 0, std::vector<uint8_t>{},
       TESSALINE_INVALID_MSG, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    d().clear_scripts();
    hsmsim::Answer a;
    a.status = c.status;
    a.payload = c.answer;
    d().script(KQ_MGMT_CMD, c.opcode, a);
    MgmtRequest &rq = send(c.opcode);
    EXPECT_EQ(0u, rq.transport_status());
    EXPECT_EQ(c.want, rq.result());
    EXPECT_EQ(c.decodable, rq.decodable());
  }
}

TEST_F(ResultRule, TransportFailureIsReturnedAndTheRecordNotRead) {
  hsmsim::Answer a;
  a.close_after = 0;
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, a);
  MgmtRequest &rq = send(KQ_GET_SESSION_INFO);
  EXPECT_NE(0u, rq.transport_status());
  EXPECT_EQ(rq.transport_status(), rq.result());
  EXPECT_FALSE(rq.decodable());
  qel2::mgmt::ResponseHead head;
  EXPECT_FALSE(rq.response_head(&head));
}

TEST_F(ResultRule, DescriptorCarriesSumsOpcodeAndTimeout) {
  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, payload(resp(0)));
  uint8_t a[20] = {}, b[7] = {}, out0[16], out1[40];
  MgmtRequest rq(KQ_GET_SESSION_INFO, 0x2ABCDEF1);
  rq.in(a, sizeof a).in(b, sizeof b).out(out0, sizeof out0).out(out1, sizeof out1);
  ASSERT_EQ(0u, rq.send());
  auto m = sent_requests(d(), KQ_GET_SESSION_INFO);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(27, m[0].dlen);
  EXPECT_EQ(27, m[0].param1);
  EXPECT_EQ(56, m[0].rlen);
  EXPECT_EQ(56, m[0].param2);
  EXPECT_EQ(120u, m[0].timeout);
  EXPECT_EQ(0, m[0].command_type);
  EXPECT_EQ(0x56, m[0].msg_type);
  EXPECT_EQ(0x2ABCDEF1u, m[0].sess_handle);
  EXPECT_EQ((std::vector<uint16_t>{20, 7}), m[0].in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{16, 40}), m[0].out_sizes());
}

TEST_F(ResultRule, DataLimitIs8192Bytes) {
  std::vector<uint8_t> data(8193);
  MgmtRequest big(KQ_GET_SESSION_INFO, 0);
  big.in(data.data(), 8193);
  EXPECT_EQ(ERR_BUFFER_TOO_BIG, big.check_data_len());
  MgmtRequest fits(KQ_GET_SESSION_INFO, 0);
  fits.in(data.data(), 8192);
  EXPECT_EQ(0u, fits.check_data_len());
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(ResultRule, NonBlockingNeedsARequestIdPointer) {
  GetSessionInfoResponse r;
  EXPECT_EQ(ERR_ARGUMENTS_BAD, Qel2GetSessionInfo2(0x1234, &r, OSTREL_NON_BLOCKING, nullptr));
  EXPECT_EQ(0u, sent_count(d()));

  d().script(KQ_MGMT_CMD, KQ_GET_SESSION_INFO, payload(resp(0).u32(1).u32(3).u32(2).u32(0)));
  Uint32 id = 0xFFFFFFFF;
  EXPECT_EQ(ERR_REQUEST_PENDING, Qel2GetSessionInfo2(0x1234, &r, OSTREL_NON_BLOCKING, &id));
  ASSERT_TRUE(d().wait_captured(1, std::chrono::seconds(5)));
  auto m = sent_requests(d(), KQ_GET_SESSION_INFO);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(1, m[0].req_type);
  EXPECT_LT(id, 0x40000000u);  // a non-blocking id
  // Any non-zero request type goes out non-blocking.
  Uint32 id2 = 0;
  EXPECT_EQ(ERR_REQUEST_PENDING, Qel2GetSessionInfo2(0x1234, &r, OSTREL_SPEED, &id2));
  EXPECT_NE(id, id2);
  // A blocking request with a pointer also reports its id.
  Uint32 id3 = 0;
  EXPECT_EQ(0u, Qel2GetSessionInfo2(0x1234, &r, OSTREL_BLOCKING, &id3));
  EXPECT_GE(id3, 0x40000000u);
}

}  // namespace
