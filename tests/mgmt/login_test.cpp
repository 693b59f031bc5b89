// Login and logout: the fixed 421-byte body, the argument checks and the
// retry while the daemon or the HSM is busy.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim_fixture.h"

using namespace mgmt_test;

namespace {

const Uint8 *u8(const char *s) { return reinterpret_cast<const Uint8 *>(s); }

class Login : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    session_ = start_session(1);  // device 1: the handle has bit 30 set
  }
  Uint32 session_ = 0;
};

TEST_F(Login, BodyIsAlways421BytesInTheseSegments) {
  Uint8 sig[256];
  memset(sig, 0x5C, sizeof sig);
  struct Case {
    const char *what;
    Uint32 pswd_len;
    const Uint8 *signature;
    Uint32 user_type;
    std::vector<uint16_t> segments;
    Uint32 flags, sent_type;
  } cases[] = {
      {"8-byte password", 8, nullptr, KQ_CRYPTO_USER, {64, 8, 348, 1}, 0, 1},
      {"with a signature", 8, sig, KQ_CRYPTO_USER, {64, 8, 256, 92, 1}, 0x40000000, 1},
      {"empty password", 0, nullptr, KQ_CRYPTO_OFFICER, {64, 356, 1}, 0, 2},
      {"two-factor user goes as crypto user",
       8,
       nullptr,
       KQ_2FA_CRYPTO_USER,
       {64, 8, 348, 1},
       0x40000000,
       1},
      {"signature fills the room", 100, sig, KQ_CRYPTO_USER, {64, 100, 256, 0, 1}, 0x40000000, 1},
      {"password fills the room", 356, nullptr, KQ_CRYPTO_USER, {64, 356, 0, 1}, 0, 1},
  };
  std::vector<Uint8> pswd(356, 'p');
  script_std(KQ_LOGIN);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    d().clear_captured();
    ASSERT_EQ(0u, Qel2LoginHSM3(session_, c.user_type, u8("crypto_user"), 11, pswd.data(),
                                c.pswd_len, c.signature, 1));
    auto m = sent_requests(d(), KQ_LOGIN);
    ASSERT_EQ(1u, m.size());
    EXPECT_EQ(c.segments, m[0].in_sizes());
    EXPECT_EQ(421, m[0].dlen);
    EXPECT_EQ(421, m[0].param1);
    EXPECT_EQ(16, m[0].rlen);
    EXPECT_EQ(16, m[0].param2);
    EXPECT_EQ(session_ & 0x3FFFFFFF, m[0].sess_handle);
    auto body = m[0].body();
    ASSERT_EQ(421u, body.size());
    std::vector<uint8_t> head(Be{}.zeros(8)
                                  .u32(c.flags)
                                  .u32(session_ & 0x3FFFFFFF)
                                  .u32(0)
                                  .u32(c.sent_type)
                                  .u32(11)
                                  .text("crypto_user", 32)
                                  .u32(c.pswd_len));
    EXPECT_EQ(head, std::vector<uint8_t>(body.begin(), body.begin() + 64));
    size_t off = 64 + c.pswd_len;
    EXPECT_EQ(std::vector<uint8_t>(c.pswd_len, 'p'),
              std::vector<uint8_t>(body.begin() + 64, body.begin() + long(off)));
    if (c.signature) {
      EXPECT_EQ(0x5C, body[off]);
      EXPECT_EQ(0x5C, body[off + 255]);
      off += 256;
    }
    EXPECT_EQ(std::vector<uint8_t>(420 - off, 0),
              std::vector<uint8_t>(body.begin() + long(off), body.end() - 1));
    EXPECT_EQ(1, body[420]);  // block-unauthenticated-sessions byte
  }
}

TEST_F(Login, ArgumentRefusalsSendNothing) {
  std::string n31(31, 'n'), n32(32, 'n');
  char unterminated[5] = {'a', 'l', 'i', 'c', 'e'};
  Uint8 sig[256] = {};
  std::vector<Uint8> big(400, 'p');
  testing::internal::CaptureStdout();
  struct {
    const char *what;
    Uint32 got, want;
  } cases[] = {
      {"no name", Qel2LoginHSM(session_, 1, nullptr, 3, u8("pw"), 2), ERR_INVALID_INPUT},
      {"no password", Qel2LoginHSM(session_, 1, u8("bob"), 3, nullptr, 2), ERR_INVALID_INPUT},
      {"name shorter than stated", Qel2LoginHSM(session_, 1, u8("bob"), 4, u8("pw"), 2),
       ERR_INVALID_INPUT},
      {"32-character name", Qel2LoginHSM(session_, 1, u8(n32.c_str()), 32, u8("pw"), 2),
       ERR_INVALID_STRING_OP},
      {"stated 40", Qel2LoginHSM(session_, 1, u8(n32.c_str()), 40, u8("pw"), 2), ERR_INVALID_INPUT},
      {"password beyond the room", Qel2LoginHSM(session_, 1, u8("bob"), 3, big.data(), 357),
       ERR_INVALID_INPUT},
      {"password and signature beyond the room",
       Qel2LoginHSM2(session_, 1, u8("bob"), 3, big.data(), 101, sig), ERR_INVALID_INPUT},
      {"huge password length", Qel2LoginHSM(session_, 1, u8("bob"), 3, big.data(), 0xFFFFFFFF),
       ERR_INVALID_INPUT},
      {"logout as PCO", Qel2LogoutHSM(session_, KQ_CRYPTO_PCO), ERR_INVALID_INPUT},
  };
  std::string out = testing::internal::GetCapturedStdout();
  for (const auto &c : cases) EXPECT_EQ(c.want, c.got) << c.what;
  EXPECT_EQ(0u, sent_count(d()));
  EXPECT_NE(std::string::npos, out.find("Invalid username or password"));
  EXPECT_NE(std::string::npos, out.find("Invalid input of username or password length"));

  // 31 characters, and a name not terminated after its stated length, are
  // fine: no byte past the stated length is read.
  script_std(KQ_LOGIN);
  EXPECT_EQ(0u, Qel2LoginHSM(session_, 1, u8(n31.c_str()), 31, u8("pw"), 2));
  EXPECT_EQ(
      0u, Qel2LoginHSM(session_, 1, reinterpret_cast<const Uint8 *>(unterminated), 5, u8("pw"), 2));
  auto m = sent_requests(d(), KQ_LOGIN);
  ASSERT_EQ(2u, m.size());
  EXPECT_EQ(std::vector<uint8_t>(Be{}.text("alice", 32)),
            std::vector<uint8_t>(m[1].in[0].bytes.begin() + 28, m[1].in[0].bytes.begin() + 60));
}

TEST_F(Login, RetryStatusTwiceThenSuccessAsksThreeTimes) {
  d().script(KQ_MGMT_CMD, KQ_LOGIN, status(TESSALINE_RETRY_OP, 2));
  script_std(KQ_LOGIN);
  qel2::mgmt::set_retry_pause_us(20000);
  auto t0 = std::chrono::steady_clock::now();
  Uint32 id = 0;
  EXPECT_EQ(0u, Qel2LoginHSM4(session_, 1, u8("bob"), 3, u8("pw"), 2, &id));
  auto elapsed = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(elapsed, std::chrono::milliseconds(40));  // two pauses
  auto m = sent_requests(d(), KQ_LOGIN);
  ASSERT_EQ(3u, m.size());
  auto all = d().captured();
  EXPECT_EQ(all.back().req_id, id);  // the id of the last send
  EXPECT_NE(all[all.size() - 2].req_id, id);
  EXPECT_EQ(m[0].body(), m[2].body());
}

TEST_F(Login, RetryNeverTurnsAnHsmRefusalIntoSuccess) {
  struct Case {
    const char *what;
    hsmsim::Answer busy;
  } cases[] = {
      {"retry status without payload",
       [] {
         hsmsim::Answer a = status(TESSALINE_RETRY_OP, 2);
         a.payload = std::vector<uint8_t>{};
         return a;
       }()},
      {"retry as response code", payload(resp(TESSALINE_RETRY_OP), 2)},
      {"retry status with a short payload",
       [] {
         hsmsim::Answer a = status(TESSALINE_RETRY_OP, 2);
         a.payload = std::vector<uint8_t>(4, 0);
         return a;
       }()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    d().clear_scripts();
    d().clear_captured();
    d().script(KQ_MGMT_CMD, KQ_LOGIN, c.busy);
    script_std(KQ_LOGIN, RET_USER_LOGIN_FAILURE);
    EXPECT_EQ(RET_USER_LOGIN_FAILURE, Qel2LoginHSM(session_, 1, u8("bob"), 3, u8("wrong"), 5));
    EXPECT_EQ(3u, sent_requests(d(), KQ_LOGIN).size());
    // Every resend asks for the full response record again.
    for (const Request &m : sent_requests(d(), KQ_LOGIN))
      EXPECT_EQ((std::vector<uint16_t>{16}), m.out_sizes());
  }
}

TEST_F(Login, RetryStopsAfterOneHundredResends) {
  d().script(KQ_MGMT_CMD, KQ_LOGIN, status(TESSALINE_RETRY_OP));
  EXPECT_EQ(TESSALINE_RETRY_OP, Qel2LoginHSM(session_, 1, u8("bob"), 3, u8("pw"), 2));
  EXPECT_EQ(101u, sent_requests(d(), KQ_LOGIN).size());
}

TEST_F(Login, TransportFailureDuringRetryEndsTheCall) {
  d().script(KQ_MGMT_CMD, KQ_LOGIN, status(TESSALINE_RETRY_OP, 1));
  hsmsim::Answer close;
  close.close_after = 0;
  d().script(KQ_MGMT_CMD, KQ_LOGIN, close);
  Uint32 id = 0;
  Uint32 r = Qel2LoginHSM4(session_, 1, u8("bob"), 3, u8("pw"), 2, &id);
  EXPECT_GE(r, 0x40000041u);
  EXPECT_LE(r, 0x4000004Au);
  EXPECT_EQ(2u, sent_requests(d(), KQ_LOGIN).size());
}

TEST_F(Login, LogoutRecordAndRetry) {
  d().script(KQ_MGMT_CMD, KQ_LOGOUT, status(TESSALINE_RETRY_OP, 1));
  script_std(KQ_LOGOUT);
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2LogoutHSM3(session_, &id));
  auto m = sent_requests(d(), KQ_LOGOUT);
  ASSERT_EQ(2u, m.size());
  EXPECT_EQ(session_ & 0x3FFFFFFF, m[1].sess_handle);
  EXPECT_EQ(20, m[1].dlen);
  EXPECT_EQ(16, m[1].rlen);
  EXPECT_EQ(std::vector<uint8_t>(Be{}.zeros(12).u32(session_ & 0x3FFFFFFF).u32(0)), m[1].body());
  EXPECT_EQ(d().captured().back().req_id, id);
  d().clear_scripts();
  script_std(KQ_LOGOUT, RET_INVALID_SESSION);
  EXPECT_EQ(RET_INVALID_SESSION, Qel2LogoutHSM(session_, KQ_CRYPTO_OFFICER));
  EXPECT_EQ(RET_INVALID_SESSION, Qel2LogoutHSM2(session_));
}

TEST_F(Login, FailureCount) {
  d().script(KQ_MGMT_CMD, KQ_GET_LOGIN_FAILURE_CNT, payload(resp(0, 0xC0000003)));
  Uint32 count = 99;
  ASSERT_EQ(0u, Qel2GetLoginFailureCount(session_, KQ_CRYPTO_USER, u8("bobby"), 3, &count));
  EXPECT_EQ(3u, count);
  auto m = sent_requests(d(), KQ_GET_LOGIN_FAILURE_CNT);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(36, m[0].dlen);
  EXPECT_EQ(16, m[0].rlen);
  EXPECT_EQ(0, m[0].param1);
  EXPECT_EQ(0, m[0].param2);
  EXPECT_EQ(std::vector<uint8_t>(Be{}.u32(1).text("bob", 32)), m[0].body());

  // The count is stored whatever the outcome; 0 when no answer came.
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_GET_LOGIN_FAILURE_CNT, payload(resp(RET_INVALID_USER, 5)));
  EXPECT_EQ(RET_INVALID_USER, Qel2GetLoginFailureCount(session_, 1, u8("bob"), 3, &count));
  EXPECT_EQ(5u, count);
  hsmsim::Answer close;
  close.close_after = 0;
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_GET_LOGIN_FAILURE_CNT, close);
  EXPECT_NE(0u, Qel2GetLoginFailureCount(session_, 1, u8("bob"), 3, &count));
  EXPECT_EQ(0u, count);

  d().clear_captured();
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetLoginFailureCount(session_, 1, u8("bob"), 0, &count));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetLoginFailureCount(session_, 1, u8("bob"), 33, &count));
  EXPECT_EQ(ERR_INVALID_STRING_OP, Qel2GetLoginFailureCount(session_, 1, u8("bob"), 32, &count));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetLoginFailureCount(session_, 1, nullptr, 3, &count));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetLoginFailureCount(session_, 1, u8("bob"), 3, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
}

TEST(LoginPause, DefaultsTo200Milliseconds) { EXPECT_EQ(200000u, qel2::mgmt::retry_pause_us()); }

}  // namespace
