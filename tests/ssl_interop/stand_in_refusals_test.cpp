// What the stand-in refuses in TLS requests, as a table: contexts and write
// states it does not know, suites it does not run, words that disagree
// with the context, segments that fit no layout, and records that do not
// verify. Each refusal carries no payload.
#include "offload.h"
#include "sign_fixture.h"

namespace tls_test {
namespace {

using keys_test::LoggedIn;

// TLS 1.2, AES-128-CBC, HMAC-SHA1.
const Suite kSuite = {"AES128-SHA", TLS1_2_VERSION, 0x801, 5, 2, 0x002F, 20, 16, 16};

class StandInRefusals : public LoggedIn {
 protected:
  uint64_t context() {
    Uint64 ctx = 0;
    EXPECT_EQ(0u, Qel2AllocContext3(session_, &ctx));
    return ctx;
  }
  // A premaster handshake's request (server side, both finished messages
  // plain) with the word, party bits and premaster segment as given.
  Reply other_full(RawOffload &hsm, uint64_t ctx, uint16_t word, uint16_t size_word,
                   std::vector<Bytes> premaster = {Bytes(48, 3)}) {
    std::vector<Bytes> ins = {be64(0), Bytes(16), be64(0), Bytes(16)};
    ins.insert(ins.end(), premaster.begin(), premaster.end());
    ins.insert(ins.end(), {Bytes(32, 1), Bytes(32, 2), Bytes(50, 4)});
    return hsm.run(1, premaster.empty() ? 0x200A : 0x300A, size_word, word, ctx, ins, {16, 16});
  }
};

TEST_F(StandInRefusals, EveryRefusalIsAStatusWithoutPayload) {
  RawOffload hsm(d().hsm(), session_, kSuite);
  const uint64_t keyed = context(), fresh = context(), freed = context();
  ASSERT_EQ(0u, Qel2FreeContext3(session_, freed));
  const uint16_t word = kSuite.full_word(0x300);
  ASSERT_EQ(0u, other_full(hsm, keyed, word, 0x8000 | 48).status);
  const Bytes body = hsm.encrypt(keyed, false, 1, 3, Bytes(40, 7));
  ASSERT_EQ(Bytes(40, 7), hsm.decrypt(keyed, false, 1, 3, body)) << "the peer's view opens it";
  Bytes tampered = body;
  tampered[20] ^= 1;
  const Bytes rec(body.begin() + 16, body.end()), bad_rec(tampered.begin() + 16, tampered.end());
  const Bytes tail(rec.end() - 32, rec.end()), bad_tail(bad_rec.end() - 32, bad_rec.end());
  const uint16_t dec = kSuite.record_word(true);
  auto decrypt = [&](uint64_t at, uint16_t w, const Bytes &r, const Bytes &t) {
    return hsm.run(1, 0x300D, uint16_t(r.size()), w, at,
                   {be64(1), Bytes(body.begin(), body.begin() + 16), t, r}, {uint32_t(r.size())});
  };
  keys_test::Pkey ec(EVP_EC_gen("P-256"));
  const uint64_t ec_key = sign_test::seed(d(), ec.get()).priv;

  struct Row {
    const char *what;
    Reply reply;
    uint32_t status;
  } rows[] = {
      {"a record of the server's state opens with the client's state",
       decrypt(keyed + 256, dec, rec, tail), 0x0C},
      {"a changed record", decrypt(keyed + 456, dec, bad_rec, bad_tail), 0x0C},
      {"no write state at that offset", decrypt(keyed + 8, dec, rec, tail), 0x4000020C},
      {"a context without a handshake", decrypt(fresh + 256, dec, rec, tail), 0x81},
      {"a freed context", decrypt(freed + 256, dec, rec, tail), 0x4000020C},
      {"another cipher than the handshake's",
       decrypt(keyed + 256, uint16_t(dec + (2 << 3)), rec, tail), 0x4000018A},
      {"a last-two-blocks copy that differs", decrypt(keyed + 256, dec, rec, Bytes(32)), 0x02},
      {"a record shorter than its last-two-blocks copy",
       decrypt(keyed + 256, dec, Bytes(16), Bytes(32)), 0x02},
      {"an encrypted record sized for no padding",
       hsm.run(1, 0x300D, 40, kSuite.record_word(false), keyed + 456,
               {be64(2), Bytes(16), Bytes(40)}, {uint32_t(kSuite.encrypted_size(40) + 1)}),
       0x02},
      {"an export cipher", other_full(hsm, fresh, uint16_t((word & ~0x78) | 9 << 3), 0x8000 | 48),
       0x4000018A},
      {"SSL 3.0", other_full(hsm, fresh, uint16_t((1 << 2) | 0x80 | 2 | 5 << 3 | 0x300), 48),
       0x4000018A},
      {"both party bits", other_full(hsm, fresh, word, 0xC000 | 48), 0x02},
      {"a premaster segment of another length", other_full(hsm, fresh, word, 0x8000 | 47), 0x02},
      {"no premaster given or held", other_full(hsm, fresh, word, 0x8000 | 48, {}), 0x81},
      {"an EC key for the RSA exchange",
       hsm.run(3, 0x2003, 256, word, fresh,
               {be64(0), Bytes(16), be64(0), Bytes(16), be64(ec_key | 1ull << 49), Bytes(256),
                Bytes(32), Bytes(32), Bytes(10)},
               {16, 16}),
       0x118},
      {"finished on a context without a handshake",
       hsm.run(1, 0x000B, 0x8000, word, fresh, {be64(0), Bytes(16), be64(0), Bytes(16), Bytes(9)},
               {16, 16}),
       0x81},
      {"a sealed master secret of another length",
       hsm.run(1, 0x400C, 0x8000, word, fresh,
               {be64(0), Bytes(16), be64(0), Bytes(16), Bytes(47), Bytes(32), Bytes(32), Bytes(9)},
               {16, 16}),
       0x02},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(r.status, r.reply.status);
    for (const Bytes &o : r.reply.outs) EXPECT_TRUE(o.empty());
  }
}

}  // namespace
}  // namespace tls_test
