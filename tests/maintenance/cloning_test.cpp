// Cloning: the four steps between two partitions of the stand-in carry the
// source partition's key backup key to the target (compared through KBK
// exports, whose wrapping is deterministic); the records as sent; the limits
// summed without wrapping; short buffers and size queries.
#include <gtest/gtest.h>

#include <functional>

#include "maintenance_fixture.h"

using namespace maint_test;

namespace {

constexpr const char *kTargetPartition = "PARTITION_2";
constexpr const char *kTargetOfficer = "officer_two";
constexpr const char *kTargetPassword = "password_two";

class Cloning : public MaintenanceTest {
 protected:
  void SetUp() override {
    MaintenanceTest::SetUp();
    ASSERT_TRUE(d().hsm().add_partition(kTargetPartition));
    ASSERT_TRUE(d().hsm().add_user(kTargetPartition, kTargetOfficer,
                                   hsmsim::UserType::CryptoOfficer, kTargetPassword));
    source_ = officer_session();  // device 0, partition 1
    ASSERT_NO_FATAL_FAILURE(target_ = log_in({.partition = kTargetPartition,
                                              .user_type = KQ_CRYPTO_OFFICER,
                                              .name = kTargetOfficer,
                                              .password = kTargetPassword,
                                              .device = 2}));
  }
  // The KBK of a partition, wrapped once: equal blobs, equal keys.
  std::vector<uint8_t> kbk(Uint32 partition) {
    std::vector<uint8_t> b(256);
    Uint32 n = 256;
    EXPECT_EQ(0u, Qel2ExportKBK(admin_, b.data(), &n, nullptr, nullptr, partition, 0x1090));
    b.resize(n);
    return b;
  }
  using Step = std::function<Uint32(const std::vector<uint8_t> &, Uint8 *, Uint32 *)>;
  // Runs a step into a 1 KiB buffer and returns its blob.
  static std::vector<uint8_t> run(const Step &step, const std::vector<uint8_t> &in,
                                  Uint32 expect = 0) {
    std::vector<uint8_t> out(1024);
    Uint32 n = 1024;
    EXPECT_EQ(expect, step(in, out.data(), &n));
    out.resize(expect == 0 ? n : 0);
    return out;
  }
  Uint32 source_ = 0, target_ = 0;
};

TEST_F(Cloning, SourceKeyBackupKeyReachesTheTarget) {
  const auto before = kbk(1);
  ASSERT_NE(before, kbk(2));
  auto u = [](const std::vector<uint8_t> &v) { return const_cast<Uint8 *>(v.data()); };
  auto sz = [](const std::vector<uint8_t> &v) { return static_cast<Uint32>(v.size()); };

  const auto src_init = run([&](const std::vector<uint8_t> &, Uint8 *o,
                                Uint32 *n) { return Qel2CloneSourceInit(source_, o, n); },
                            {});
  const auto tgt_init =
      run([&](const std::vector<uint8_t> &in, Uint8 *o,
              Uint32 *n) { return Qel2CloneTargetInit(target_, u(in), sz(in), o, n); },
          src_init);
  const auto src_stage1 =
      run([&](const std::vector<uint8_t> &in, Uint8 *o,
              Uint32 *n) { return Qel2CloneSourceStage1(source_, u(in), sz(in), o, n); },
          tgt_init);
  const auto tgt_stage1 =
      run([&](const std::vector<uint8_t> &in, Uint8 *o,
              Uint32 *n) { return Qel2CloneTargetStage1(target_, u(in), sz(in), o, n); },
          src_stage1);
  EXPECT_EQ(32u, src_init.size());
  EXPECT_EQ(32u, tgt_init.size());
  EXPECT_EQ(60u, src_stage1.size());
  EXPECT_EQ(32u, tgt_stage1.size());
  EXPECT_EQ(before, kbk(1));
  EXPECT_EQ(before, kbk(2));

  // Each request sends the previous blob and receives the next.
  const uint16_t ops[] = {KQ_CLONE_SOURCE_INIT, KQ_CLONE_TARGET_INIT, KQ_CLONE_SOURCE_STAGE1,
                          KQ_CLONE_TARGET_STAGE1};
  const std::vector<uint8_t> *sent[] = {nullptr, &src_init, &tgt_init, &src_stage1};
  for (size_t i = 0; i < 4; ++i) {
    auto m = sent_requests(d(), ops[i]).at(0);
    const uint32_t partition = i % 2 == 0 ? 1 : 2;
    EXPECT_EQ(partition, be32(m.body(), 16)) << i;
    EXPECT_EQ(sent[i] ? sent[i]->size() : 0, be32(m.body(), 20)) << i;
    if (sent[i]) {
      ASSERT_EQ(2u, m.in.size()) << i;
      EXPECT_EQ(*sent[i], m.input(1)) << i;
    } else {
      EXPECT_EQ(1u, m.in.size());
    }
    EXPECT_EQ((std::vector<uint16_t>{20, 1024}), m.out_sizes()) << i;
    EXPECT_EQ(20 + 1024, m.param2) << i;
  }
}

TEST_F(Cloning, SecondFormNamesThePartitionsAndCarriesCertificateData) {
  const auto before = kbk(1);
  std::vector<uint8_t> cert = pattern(100, 9), a(64), b(64), c(64), e(64);
  Uint32 na = 64, nb = 64, nc = 64, ne = 64;
  // The administrator's session (partition 0) is the source of partition 1.
  ASSERT_EQ(0u, Qel2Clone2SourceInit(admin_, 1, cert.data(), 100, a.data(), &na));
  ASSERT_EQ(0u, Qel2Clone2TargetInit(target_, 2, a.data(), na, cert.data(), 100, b.data(), &nb));
  ASSERT_EQ(0u, Qel2Clone2SourceStage1(admin_, 1, b.data(), nb, c.data(), &nc));
  ASSERT_EQ(0u, Qel2Clone2TargetStage1(target_, 0, c.data(), nc, e.data(), &ne));
  EXPECT_EQ(before, kbk(2));

  auto init = sent_requests(d(), KQ_CLONE_SOURCE_INIT).at(0);
  EXPECT_EQ((std::vector<uint16_t>{28, 4, 100}), init.in_sizes());
  EXPECT_EQ(1u, be32(init.body(), 16));
  EXPECT_EQ(0u, be32(init.body(), 20));
  EXPECT_EQ(100u, be32(init.input(1), 0));
  EXPECT_EQ(cert, init.input(2));
  EXPECT_EQ(admin_ & 0x3FFFFFFF, init.sess_handle);
  EXPECT_EQ(admin_ & 0x3FFFFFFF, be32(init.body(), 12));
  EXPECT_EQ(28u + 4 + 100, init.dlen);
  EXPECT_EQ(28u + 4 + 100, init.param1);
  auto target = sent_requests(d(), KQ_CLONE_TARGET_INIT).at(0);
  EXPECT_EQ((std::vector<uint16_t>{28, 32, 4, 100}), target.in_sizes());
  // Partition 0 named: the session's own (2).
  EXPECT_EQ(2u, be32(sent_requests(d(), KQ_CLONE_TARGET_STAGE1).at(0).body(), 16));
}

TEST_F(Cloning, StandInEndsExchangesOutOfOrderOrTampered) {
  std::vector<uint8_t> a(64), b(64), c(64), e(64);
  Uint32 na = 64, nb = 64, nc = 64, ne = 64;
  // A stage without its init, and a partition the session does not own.
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2CloneSourceStage1(source_, a.data(), 32, c.data(), &nc));
  EXPECT_EQ(Uint32{RET_INVALID_SESS_ID_FOR_PARTITION},
            Qel2Clone2SourceInit(target_, 1, nullptr, 0, a.data(), &na));

  const auto before = kbk(2);
  ASSERT_EQ(0u, Qel2CloneSourceInit(source_, a.data(), &na));
  ASSERT_EQ(0u, Qel2CloneTargetInit(target_, a.data(), na, b.data(), &nb));
  ASSERT_EQ(0u, Qel2CloneSourceStage1(source_, b.data(), nb, c.data(), &nc));
  c[20] ^= 1;
  EXPECT_EQ(Uint32{RET_SIGNATURE_VERIFICATION_FAILED},
            Qel2CloneTargetStage1(target_, c.data(), nc, e.data(), &ne));
  EXPECT_EQ(before, kbk(2));
  // The exchange ended with the failure.
  c[20] ^= 1;
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2CloneTargetStage1(target_, c.data(), nc, e.data(), &ne));
}

TEST_F(Cloning, ResultLengths) {
  std::vector<uint8_t> buf(100);
  Uint32 n = 100;
  auto answer = [&](uint32_t code, uint32_t size, size_t carried) {
    d().script(KQ_MGMT_CMD, KQ_CLONE_SOURCE_INIT, payload(resp(code).u32(size).zeros(carried), 1));
  };
  // More than the buffer holds: the length needed.
  answer(0, 200, 100);
  EXPECT_EQ(Uint32{ERR_BUFFER_TOO_SMALL}, Qel2CloneSourceInit(source_, buf.data(), &n));
  EXPECT_EQ(200u, n);
  // Within the buffer but more than arrived: not taken as the blob.
  n = 100;
  answer(0, 50, 10);
  EXPECT_EQ(Uint32{TESSALINE_INVALID_MSG}, Qel2CloneSourceInit(source_, buf.data(), &n));
  EXPECT_EQ(100u, n);
  // An empty blob.
  answer(0, 0, 0);
  EXPECT_EQ(0u, Qel2CloneSourceInit(source_, buf.data(), &n));
  EXPECT_EQ(0u, n);
  // A refusal leaves the length alone.
  n = 100;
  answer(RET_USER_PERMISION_DENIED, 77, 0);
  EXPECT_EQ(Uint32{RET_USER_PERMISION_DENIED}, Qel2CloneSourceInit(source_, buf.data(), &n));
  EXPECT_EQ(100u, n);

  // Size queries against the stand-in: no buffer sends no second segment.
  d().clear_captured();
  n = 0;
  EXPECT_EQ(Uint32{RET_RESULT_SIZE}, Qel2CloneSourceInit(source_, nullptr, &n));
  EXPECT_EQ(32u, n);
  n = 500;  // a length without a buffer holds nothing
  EXPECT_EQ(Uint32{RET_RESULT_SIZE}, Qel2CloneSourceInit(source_, nullptr, &n));
  EXPECT_EQ(32u, n);
  for (const auto &m : sent_requests(d(), KQ_CLONE_SOURCE_INIT)) {
    EXPECT_EQ(std::vector<uint16_t>{20}, m.out_sizes());
    EXPECT_EQ(20, m.rlen);
  }
  // With the length learnt, the step runs.
  buf.resize(n);
  EXPECT_EQ(0u, Qel2CloneSourceInit(source_, buf.data(), &n));
}

TEST_F(Cloning, RefusedBeforeAnyTraffic) {
  std::vector<uint8_t> blob(9000), cert(300), out(64);
  Uint32 n = 64;
  struct Case {
    const char *what;
    Uint32 expect;
    std::function<Uint32()> call;
  } cases[] = {
      {"blob over the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2CloneTargetInit(source_, blob.data(), 9000, out.data(), &n); }},
      // 28 + 8000 + 4 + 300 > 8192
      {"blob and certificate data over the limit", ERR_BUFFER_TOO_BIG,
       [&] {
         return Qel2Clone2TargetInit(source_, 0, blob.data(), 8000, cert.data(), 300, out.data(),
                                     &n);
       }},
      // 28 + 100 + 4 + the length wraps to 112 in 32 bits.
      {"certificate length that wraps", ERR_BUFFER_TOO_BIG,
       [&] {
         return Qel2Clone2TargetInit(source_, 0, blob.data(), 100, cert.data(), 0xFFFFFFF0u,
                                     out.data(), &n);
       }},
      {"no result length", ERR_INVALID_INPUT,
       [&] { return Qel2CloneSourceInit(source_, out.data(), nullptr); }},
      {"no request blob", ERR_INVALID_INPUT,
       [&] { return Qel2CloneSourceStage1(source_, nullptr, 32, out.data(), &n); }},
      {"no certificate data", ERR_INVALID_INPUT,
       [&] { return Qel2Clone2SourceInit(source_, 1, nullptr, 10, out.data(), &n); }},
  };
  for (const auto &c : cases) EXPECT_EQ(c.expect, c.call()) << c.what;
  EXPECT_EQ(0u, sent_count(d()));
  EXPECT_EQ(64u, n);
}

}  // namespace
