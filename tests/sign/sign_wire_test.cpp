// What the signing requests carry, read back with the test's own reader,
// and the refusals made before anything is sent.
#include "sign_fixture.h"

namespace sign_test {
namespace {

using SignWire = SessionWire;

TEST_F(SignWire, SignCarriesItsRecordAndSegments) {
  answer(KQ_SIGN, resp(0, 0, 3, 3).bytes({7, 8, 9}));
  Uint8 msg[5] = {1, 2, 3, 4, 5};
  Uint8 sig[16] = {};
  Uint32 len = sizeof sig;
  ASSERT_EQ(0u, Qel2RsaSign(session_ | 0x40000000u, msg, 5, sig, &len, 0x1'0000'0022ull));
  EXPECT_EQ(3u, len);
  EXPECT_EQ(9, sig[2]);
  Request m = sent_only(d(), KQ_SIGN);
  EXPECT_EQ(0, m.command_type);
  EXPECT_EQ(120u, m.timeout);
  EXPECT_EQ((std::vector<uint16_t>{40, 5}), m.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{16, 16}), m.out_sizes());
  EXPECT_EQ(45, m.dlen);
  EXPECT_EQ(45, m.param1);
  EXPECT_EQ(32, m.rlen);
  EXPECT_EQ(32, m.param2);
  EXPECT_EQ(0x1'0000'0022ull, m.key_handle);
  const Bytes b = m.body();
  EXPECT_EQ(1u, be32(b, 8));  // dropInternalHashing
  EXPECT_EQ(session_ & 0x3FFFFFFFu, be32(b, 12));
  EXPECT_EQ(5u, be32(b, 20));
  EXPECT_EQ(0u, be32(b, 24));
  EXPECT_EQ(6u, be32(b, 28));
  EXPECT_EQ(0x1'0000'0022ull, be64(b, 32));
  EXPECT_EQ(Bytes(msg, msg + 5), Bytes(b.begin() + 40, b.end()));
}

TEST_F(SignWire, VerifySendsTheSignatureFirstAndTheLowHandle) {
  answer(KQ_VERIFY, resp(0));
  Uint8 msg[3] = {1, 2, 3}, sig[2] = {0xAA, 0xBB};
  ASSERT_EQ(0u, Qel2Verify(session_, msg, 3, sig, 2, 0x5'0000'0011ull, MECH_ECDSA_SHA256));
  Request m = sent_only(d(), KQ_VERIFY);
  EXPECT_EQ((std::vector<uint16_t>{40, 2, 3}), m.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{16}), m.out_sizes());
  EXPECT_EQ(45, m.dlen);
  EXPECT_EQ(16, m.rlen);
  EXPECT_EQ(0x5'0000'0011ull, m.key_handle);
  const Bytes b = m.body();
  EXPECT_EQ(0u, be32(b, 8));  // Qel2Verify hashes on the HSM
  EXPECT_EQ(2u, be32(b, 20));
  EXPECT_EQ(3u, be32(b, 24));
  EXPECT_EQ(4163u, be32(b, 28));
  EXPECT_EQ(0x11u, be32(b, 36));
  EXPECT_EQ((Bytes{0xAA, 0xBB, 1, 2, 3}), Bytes(b.begin() + 40, b.end()));
}

TEST_F(SignWire, ResultSizeGivesTheLengthAndOtherFailuresLeaveIt) {
  Uint8 msg[1] = {}, sig[1] = {};
  answer(KQ_SIGN, resp(RET_RESULT_SIZE, 0, 256, 256), 1);
  Uint32 len = 0;
  EXPECT_EQ(Uint32(RET_RESULT_SIZE), Qel2Sign(session_, msg, 1, sig, &len, 1, 64));
  EXPECT_EQ(256u, len);
  answer(KQ_SIGN, resp(RET_KEY_ACCESS_DENIED, 0, 256, 256), 1);
  len = 1;
  EXPECT_EQ(Uint32(RET_KEY_ACCESS_DENIED), Qel2Sign(session_, msg, 1, sig, &len, 1, 64));
  EXPECT_EQ(1u, len);
  // A success that claims more than the buffer holds is not delivered.
  answer(KQ_SIGN, resp(0, 0, 9, 9).bytes({1}), 1);
  EXPECT_EQ(Uint32(ERR_BUFFER_TOO_SMALL), Qel2Sign(session_, msg, 1, sig, &len, 1, 64));
  EXPECT_EQ(1u, len);
}

TEST_F(SignWire, RefusalsSendNothing) {
  static Uint8 big[8200] = {};
  Uint8 sig[4] = {};
  Uint32 len = sizeof sig;
  struct Row {
    const char *what;
    Uint32 got;
    Uint32 want;
  } rows[] = {
      {"sign null msg", Qel2Sign(session_, nullptr, 1, sig, &len, 1, 6), ERR_INVALID_INPUT},
      {"sign null sig", Qel2Sign(session_, big, 1, nullptr, &len, 1, 6), ERR_INVALID_INPUT},
      {"sign null len", Qel2Sign(session_, big, 1, sig, nullptr, 1, 6), ERR_INVALID_INPUT},
      {"sign 8153", Qel2Sign(session_, big, 8153, sig, &len, 1, 6), ERR_BUFFER_TOO_BIG},
      {"sign near 4 GiB", Qel2Sign(session_, big, 0xFFFFFFF0u, sig, &len, 1, 6),
       ERR_BUFFER_TOO_BIG},
      {"verify null msg", Qel2Verify(session_, nullptr, 1, sig, 1, 1, 6), ERR_INVALID_INPUT},
      {"verify null sig", Qel2Verify(session_, big, 1, nullptr, 1, 1, 6), ERR_INVALID_INPUT},
      {"verify 8000+153", Qel2Verify(session_, big, 8000, big, 153, 1, 6), ERR_BUFFER_TOO_BIG},
      {"verify wrapping sum", Qel2Verify(session_, big, 0xFFFFFFFFu, big, 2, 1, 6),
       ERR_BUFFER_TOO_BIG},
  };
  for (const auto &r : rows) EXPECT_EQ(r.want, r.got) << r.what;
  EXPECT_EQ(0u, sent_count(d()));

  // The largest requests that fit are sent.
  answer(KQ_SIGN, resp(0));
  answer(KQ_VERIFY, resp(0));
  EXPECT_EQ(0u, Qel2Sign(session_, big, 8152, sig, &len, 1, 6));
  EXPECT_EQ(0u, Qel2Verify(session_, big, 8000, big, 152, 1, 6));
  EXPECT_EQ(8192, sent_only(d(), KQ_SIGN).dlen);
  EXPECT_EQ(8192, sent_only(d(), KQ_VERIFY).dlen);
}

}  // namespace
}  // namespace sign_test
