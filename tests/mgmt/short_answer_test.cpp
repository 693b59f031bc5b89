// Answers shorter than what an operation decodes are invalid messages, not
// zero-filled successes; requests nobody could collect are refused; stated
// lengths are checked before the bytes they describe are read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "sim_fixture.h"

using namespace mgmt_test;

namespace {

class ShortAnswer : public SimTest {};

TEST_F(ShortAnswer, HeadOnlySuccessesAreInvalidMessages) {
  const uint32_t app = start();
  script_open_session();
  uint32_t session = 0;
  ASSERT_EQ(0u, Qel2OpenSession2(app, &session));
  struct Case {
    const char *what;
    uint16_t opcode;
    std::function<Uint32()> call;
  } cases[] = {
      {"open session", KQ_OPEN_SESSION,
       [&] {
         Uint32 h = 0x55;
         Uint32 r = Qel2OpenSession2(app, &h);
         EXPECT_EQ(0x55u, h);
         return r;
       }},
      {"HSM information", KQ_TOKEN_INFO,
       [&] {
         HSMInfo info{};
         return Qel2GetHSMInfo(0, &info);
       }},
      {"partition information", KQ_PARTITION_INFO,
       [&] {
         PartitionInfo info{};
         return Qel2GetPartitionInfo(session, reinterpret_cast<const Uint8 *>("P1"), 2, &info);
       }},
      {"session information", KQ_GET_SESSION_INFO,
       [&] {
         SessionInfo info{};
         return Qel2GetSessionInfo(session, &info);
       }},
      {"application initialise", KQ_APP_INITIALIZE,
       [&] {
         Uint32 id = 0x77;
         Uint32 r = Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &id);
         EXPECT_EQ(0u, id);
         return r;
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    d().clear_scripts();
    d().script(KQ_MGMT_CMD, c.opcode, payload(resp(0)));
    EXPECT_EQ(TESSALINE_INVALID_MSG, c.call());
  }
}

TEST_F(ShortAnswer, EmptyVersionAnswerAndShortText) {
  const uint32_t session = start_session();
  Uint8 version[100];
  Uint32 len = sizeof version;
  d().script(KQ_MGMT_CMD, KQ_GET_VERSION, payload({}));
  EXPECT_EQ(TESSALINE_INVALID_MSG, Qel2FWVersion(session, version, &len));
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_GET_VERSION, payload({'1', '.', '2', 0}));
  len = sizeof version;
  EXPECT_EQ(0u, Qel2FWVersion(session, version, &len));
  EXPECT_EQ(4u, len);
  EXPECT_STREQ("1.2", reinterpret_cast<const char *>(version));
}

// Any non-zero request type goes out non-blocking; without a request id
// nobody could collect it, so it is refused before sending.
TEST_F(ShortAnswer, UncollectableNonBlockingRequestsAreRefused) {
  const uint32_t app = start();
  d().clear_captured();
  GetSessionInfoResponse info;
  OpenSessionResponse open;
  Uint8 in[256] = {}, out1[64], out2[64];
  for (request_type t : {OSTREL_SPEED, OSTREL_KERNEL}) {
    SCOPED_TRACE(t);
    EXPECT_EQ(ERR_ARGUMENTS_BAD, Qel2GetSessionInfo2(0x1234, &info, t, nullptr));
    EXPECT_EQ(ERR_ARGUMENTS_BAD, Qel2OpenEncryptSession2(app, t, &open, 0, nullptr, nullptr));
    EXPECT_EQ(ERR_ARGUMENTS_BAD,
              Qel2EncryptSession(0x1234, t, in, in, in, in, 16, out1, out2, nullptr));
  }
  EXPECT_EQ(0u, sent_count(d()));
}

// The stated length of a login name is refused before the name is read
// (under ASan a read past the 3-byte name fails the test).
TEST_F(ShortAnswer, LoginNameLengthCheckedBeforeReading) {
  const uint32_t session = start_session();
  std::unique_ptr<Uint8[]> name(new Uint8[3]{'a', 'b', 'c'});
  const Uint8 pswd[8] = {};
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2LoginHSM(session, KQ_CRYPTO_USER, name.get(), 1000, pswd, 8));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, sent_count(d()));
}

}  // namespace
