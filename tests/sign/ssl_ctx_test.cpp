// SSL contexts and premaster secrets: what the requests carry, the null
// outputs refused, and contexts allocated, used and freed on the stand-in.
#include "sign_fixture.h"

namespace sign_test {
namespace {

class SslCtxWire : public SessionWire {
 protected:
  void answer_vnx(uint16_t opcode, Bytes p, int count = -1) {
    d().script(KQ_MGMT_VNX_CMD, opcode, payload(std::move(p), count));
  }
};

TEST_F(SslCtxWire, AllocationIsBlockingAndWritesOnlyOnSuccess) {
  answer_vnx(KQ_ALLOC_SSL_CTX, resp(0).u64(0x1234'5678'9ABC'DEF0ull), 1);
  Uint64 ctx = 7;
  ASSERT_EQ(0u, Qel2AllocContext(session_ | 0x80000000u, OSTREL_NON_BLOCKING, &ctx, nullptr));
  EXPECT_EQ(0x1234'5678'9ABC'DEF0ull, ctx);
  Request m = sent_only(d(), KQ_ALLOC_SSL_CTX);
  EXPECT_EQ(KQ_MGMT_VNX_CMD, m.command_type);
  EXPECT_EQ(0, m.incnt);
  EXPECT_EQ((std::vector<uint16_t>{24}), m.out_sizes());
  EXPECT_EQ(0, m.dlen);
  EXPECT_EQ(24, m.rlen);
  EXPECT_EQ(24, m.param2);
  EXPECT_EQ(120u, m.timeout);
  EXPECT_EQ(session_ & 0x3FFFFFFFu, m.sess_handle);

  answer_vnx(KQ_ALLOC_SSL_CTX, resp(0x40000106).u64(0x99), 1);
  EXPECT_EQ(0x40000106u, Qel2AllocContextNew(session_, &ctx));
  EXPECT_EQ(0x1234'5678'9ABC'DEF0ull, ctx);
}

TEST_F(SslCtxWire, FreeNamesTheContextAndAnEventArgumentTakesTheTransportStatus) {
  answer_vnx(KQ_FREE_SSL_CTX, resp(0x4000020C));
  int ev = 0;
  EXPECT_EQ(0u, Qel2FreeContextCli(session_, 0xABC0, &ev));
  EXPECT_EQ(0x4000020Cu, Qel2FreeContext3(session_, 0xABC0));
  EXPECT_EQ(0x4000020Cu, Qel2FreeContext(session_, OSTREL_NON_BLOCKING, 0xABC0, nullptr));
  const auto frees = sent_requests(d(), KQ_FREE_SSL_CTX);
  for (const Request &m : frees) {
    EXPECT_EQ(0xABC0u, m.ctx_ptr);
    EXPECT_EQ(0, m.incnt);
    EXPECT_EQ((std::vector<uint16_t>{16}), m.out_sizes());
    EXPECT_EQ(16, m.rlen);
  }
  EXPECT_EQ(3u, frees.size());
}

TEST_F(SslCtxWire, PremasterCarriesTheVersionBytes) {
  Bytes secret(48, 0x5A);
  answer_vnx(KQ_GEN_PMK, resp(0).bytes(secret), 1);
  Uint8 out[48] = {};
  ASSERT_EQ(0u, Qel2GeneratePremasterSecret(session_, 0x7770, 3, 3, out));
  EXPECT_EQ(secret, Bytes(out, out + 48));
  Request m = sent_only(d(), KQ_GEN_PMK);
  EXPECT_EQ(Bytes(Be{}.zeros(20).u8(3).u8(3).u16(48)), m.body());
  EXPECT_EQ(KQ_MGMT_VNX_CMD, m.command_type);
  EXPECT_EQ((std::vector<uint16_t>{16, 48}), m.out_sizes());
  EXPECT_EQ(0, m.param1);
  EXPECT_EQ(64, m.param2);
  EXPECT_EQ(24, m.dlen);
  EXPECT_EQ(64, m.rlen);
  EXPECT_EQ(0x7770u, last_ctx(KQ_GEN_PMK));

  // A secret cut short is not delivered as whole.
  answer_vnx(KQ_GEN_PMK, resp(0).bytes(Bytes(10, 1)));
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), Qel2GeneratePremasterSecret(session_, 16, 3, 3, out));
}

TEST_F(SslCtxWire, NullOutputsAreRefusedBeforeSending) {
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT),
            Qel2AllocContext(session_, OSTREL_BLOCKING, nullptr, nullptr));
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), Qel2AllocContext3(session_, nullptr));
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), Qel2AllocContextNew(session_, nullptr));
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), Qel2GeneratePremasterSecret(session_, 16, 3, 3, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
}

class SslCtxE2e : public LoggedIn {};

TEST_F(SslCtxE2e, ContextsAreAllocatedUsedAndFreedOnce) {
  Uint64 a = 0, b = 0;
  ASSERT_EQ(0u, Qel2AllocContext3(session_, &a));
  ASSERT_EQ(0u, Qel2AllocContextNew(session_, &b));
  EXPECT_NE(a, b);
  for (Uint64 h : {a, b}) {
    EXPECT_NE(0u, h);
    EXPECT_EQ(0u, h % 16);
  }
  EXPECT_EQ(2u, d().hsm().ssl_context_count(defaults::kPartition));

  Uint8 secret[48] = {};
  ASSERT_EQ(0u, Qel2GeneratePremasterSecret(session_, a, 3, 3, secret));
  EXPECT_EQ(3, secret[0]);
  EXPECT_EQ(3, secret[1]);
  EXPECT_EQ(Bytes(secret, secret + 48), d().hsm().ssl_context_secret(a));

  EXPECT_EQ(0u, Qel2FreeContextNew(session_, a));
  EXPECT_EQ(0x4000020Cu, Qel2FreeContextNew(session_, a));  // freed already
  EXPECT_EQ(0x4000020Cu, Qel2GeneratePremasterSecret(session_, a, 3, 3, secret));
  EXPECT_EQ(0x4000020Cu, Qel2FreeContext3(session_, 0x10));  // never allocated
  EXPECT_EQ(0u, Qel2FreeContext3(session_, b));
  EXPECT_EQ(0u, d().hsm().ssl_context_count(defaults::kPartition));
}

TEST_F(SslCtxE2e, AnotherApplicationsContextIsRefused) {
  Uint64 mine = 0;
  ASSERT_EQ(0u, Qel2AllocContext3(session_, &mine));
  Uint32 app2 = 0, session2 = 0;
  ASSERT_EQ(0u, Qel2Initialize3(0, OSTREL_DIRECT, defaults::kPartition, &app2));
  ASSERT_NE(app_, app2);
  ASSERT_EQ(0u, Qel2OpenSession2(app2, &session2));
  Uint8 secret[48] = {};
  EXPECT_EQ(0x4000020Cu, Qel2GeneratePremasterSecret(session2, mine, 3, 1, secret));
  EXPECT_EQ(0x4000020Cu, Qel2FreeContextNew(session2, mine));
  EXPECT_EQ(0u, Qel2FreeContextNew(session_, mine));
}

TEST_F(SslCtxE2e, ThePartitionsCapIsKept) {
  std::vector<Uint64> held;
  Uint64 h = 0;
  while (Qel2AllocContext3(session_, &h) == 0 && held.size() < 2000) held.push_back(h);
  EXPECT_EQ(1024u, held.size());
  EXPECT_EQ(0x40000106u, Qel2AllocContext3(session_, &h));
  EXPECT_EQ(0u, Qel2FreeContext3(session_, held.back()));
  EXPECT_EQ(0u, Qel2AllocContext3(session_, &h));
}

}  // namespace
}  // namespace sign_test
