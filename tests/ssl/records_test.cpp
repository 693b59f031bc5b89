// Record encryption and decryption: the requests as framed, the refusals
// made before anything is sent, the host-side padding check and stripping,
// and non-blocking requests whose discarded DTLS segments outlive the call.
#include "ssl_fixture.h"

namespace ssl_test {
namespace {

constexpr uint16_t kApp = 0x300D, kHandshake = 0x200D;

Uint32 enc(Bufs &b, CipherType c, HashType h, SslVersion v, SslPartyType p, MessageType t,
           Uint16 pad, Uint16 len, request_type rt = OSTREL_BLOCKING, Uint64 ctx = kCtx) {
  return Qel2EncryptRecord(0, rt, ctx, c, h, v, p, t, pad, *b.cseq, *b.civ, len, *b.msg, &b.len,
                           *b.out, &b.id);
}
Uint32 dec(Bufs &b, CipherType c, HashType h, SslVersion v, SslPartyType p, Uint16 len,
           request_type rt = OSTREL_BLOCKING) {
  return Qel2DecryptRecord(0, rt, kCtx, c, h, v, p, APP_DATA, *b.cseq, *b.civ, len, *b.rec, &b.len,
                           *b.out, &b.id);
}

class Records : public SslTest {
 protected:
  // Wires the calls with the fixture's session.
  Uint32 E(Bufs &b, CipherType c, HashType h, SslVersion v, SslPartyType p, MessageType t,
           Uint16 pad, Uint16 len) {
    return Qel2EncryptRecord(session_, OSTREL_BLOCKING, kCtx, c, h, v, p, t, pad, *b.cseq, *b.civ,
                             len, *b.msg, &b.len, *b.out, &b.id);
  }
  Uint32 D(Bufs &b, CipherType c, HashType h, SslVersion v, SslPartyType p, Uint16 len) {
    return Qel2DecryptRecord(session_, OSTREL_BLOCKING, kCtx, c, h, v, p, APP_DATA, *b.cseq, *b.civ,
                             len, *b.rec, &b.len, *b.out, &b.id);
  }
};

TEST_F(Records, Layouts) {
  using V = std::vector<In>;
  using O = std::vector<uint16_t>;
  check_layouts({
      {"encrypt TLS AES-128 SHA-1 server",
       [&](Bufs &b) { return E(b, AES_128, SHA1_TYPE, VER_TLS, SSL_SERVER, APP_DATA, 0, 100); },
       KQ_VANTOR_CMD, kApp, 100, 0x002A, 304, V{{100, kMsg}}, O{128}},
      {"encrypt TLS 1.1 AES-128 SHA-384 server handshake pad 2",
       [&](Bufs &b) {
         return E(b, AES_128, SHA384_TYPE, VER_TLS1_1, SSL_SERVER, HANDSHAKE, 2, 100);
       },
       KQ_VANTOR_CMD, kHandshake, 100, 0x122C, 304, V{{8, kCseq}, {16, kCiv}, {100, kMsg}}, O{208}},
      {"encrypt DTLS RC4 SHA-1 server: a sink ahead of the record",
       [&](Bufs &b) { return E(b, RC4_128, SHA1_TYPE, VER_DTLS, SSL_SERVER, APP_DATA, 0, 100); },
       KQ_VANTOR_CMD, kApp, 100, 0x1042, 496, V{{8, kCseq}, {100, kMsg}}, O{8, 120}},
      {"decrypt TLS 1.2 AES-128 SHA-1 server",
       [&](Bufs &b) { return D(b, AES_128, SHA1_TYPE, VER_TLS1_2, SSL_SERVER, 96); }, KQ_VANTOR_CMD,
       kApp, 96, 0x20AE, 256, V{{8, kCseq}, {16, kCiv}, {32, kRec}, {96, kRec}}, O{96}},
      {"decrypt TLS DES SHA-1 server",
       [&](Bufs &b) { return D(b, DES, SHA1_TYPE, VER_TLS, SSL_SERVER, 96); }, KQ_VANTOR_CMD, kApp,
       96, 0x00E2, 176, V{{16, kRec}, {96, kRec}}, O{96}},
      {"encrypt TLS 1.2 GCM SHA-384 client: PRF flag, client state",
       [&](Bufs &b) {
         return E(b, AES_GCM_256, SHA384_TYPE, VER_TLS1_2, SSL_CLIENT, APP_DATA, 0, 100);
       },
       KQ_VANTOR_CMD, kApp, 100, 0x6034, 256, V{{8, kCseq}, {8, kCiv}, {100, kMsg}}, O{124}},
      {"decrypt DTLS GCM client: never a sink",
       [&](Bufs &b) { return D(b, AES_GCM_128, SHA256_TYPE, VER_DTLS, SSL_CLIENT, 40); },
       KQ_VANTOR_CMD, kApp, 40, 0x10A3, 304, V{{8, kCseq}, {8, kCiv}, {40, kRec}}, O{40}},
      {"decrypt DTLS RC4: an 8-byte sink",
       [&](Bufs &b) { return D(b, RC4_128, SHA1_TYPE, VER_DTLS, SSL_SERVER, 40); }, KQ_VANTOR_CMD,
       kApp, 40, 0x10C2, 176, V{{8, kCseq}, {40, kRec}}, O{8, 40}},
      {"decrypt DTLS 1.2 DES: a 16-byte sink",
       [&](Bufs &b) { return D(b, DES3_192, SHA1_TYPE, VER_DTLS1_2, SSL_CLIENT, 40); },
       KQ_VANTOR_CMD, kApp, 40, 0x30F2, 456, V{{8, kCseq}, {8, kCiv}, {16, kRec}, {40, kRec}},
       O{16, 40}},
      {"decrypt DTLS AES: a 24-byte sink",
       [&](Bufs &b) { return D(b, AES_256, MD5_TYPE, VER_DTLS_POST_RFC, SSL_SERVER, 48); },
       KQ_VANTOR_CMD, kApp, 48, 0x20B9, 176, V{{8, kCseq}, {16, kCiv}, {32, kRec}, {48, kRec}},
       O{24, 48}},
      {"encrypt the longest message",
       [&](Bufs &b) {
         static Uint8 big[0x4400] = {kMsg};
         static Uint8 record[0x4400 + 20];
         return Qel2EncryptRecord(session_, OSTREL_BLOCKING, kCtx, RC4_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, 0, nullptr, nullptr, 0x4400, big, &b.len,
                                  record, nullptr);
       },
       KQ_VANTOR_CMD, kApp, 0x4400, 0x0042, 176, V{{0x4400, kMsg}}, O{0x4400 + 20}},
  });
}

TEST_F(Records, EncryptReportsTheRecordLengthEvenWhenRefused) {
  answer(KQ_VANTOR_CMD, kApp, {}, 0x40000185);
  Bufs b;
  EXPECT_EQ(0x40000185u, E(b, AES_128, SHA384_TYPE, VER_TLS1_1, SSL_SERVER, APP_DATA, 2, 100));
  EXPECT_EQ(208, b.len);
}

TEST_F(Records, ShortestCbcRecordSendsItsWholeBodyTwice) {
  answer_empty(KQ_VANTOR_CMD, kApp);
  Bufs b;
  for (int i = 0; i < 32; ++i) b.rec.b[size_t(i)] = Uint8(i);
  D(b, AES_128, SHA1_TYPE, VER_TLS, SSL_SERVER, 32);
  const Request w = sent_last(d());
  ASSERT_EQ(2u, w.in.size());
  EXPECT_EQ(Bytes(b.rec.b.begin(), b.rec.b.begin() + 32), w.input(0));
  EXPECT_EQ(w.input(0), w.input(1));
}

TEST_F(Records, RefusedBeforeSending) {
  const Uint64 bit63 = 0x8000'0000'0000'0000ull;
  check_refusals({
      {"non-blocking without an id",
       [&](Bufs &b) {
         return Qel2EncryptRecord(session_, OSTREL_NON_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, 0, nullptr, nullptr, 10, *b.msg, &b.len,
                                  *b.out, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"decrypt non-blocking without an id",
       [&](Bufs &b) {
         return Qel2DecryptRecord(session_, OSTREL_NON_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, nullptr, nullptr, 32, *b.rec, &b.len,
                                  *b.out, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"context 0",
       [&](Bufs &b) {
         return enc(b, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0, 10, OSTREL_BLOCKING,
                    0);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"context not a multiple of 8",
       [&](Bufs &b) {
         return enc(b, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0, 10, OSTREL_BLOCKING,
                    kCtx + 4);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"context with bit 63 not a multiple of 16",
       [&](Bufs &b) {
         return enc(b, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0, 10, OSTREL_BLOCKING,
                    bit63 | 0x18);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"the context before the lengths",
       [&](Bufs &b) {
         return enc(b, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0, 0x4401,
                    OSTREL_BLOCKING, 0);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"message of 0x4401",
       [&](Bufs &b) {
         return enc(b, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0, 0x4401);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"the length before the cipher",
       [&](Bufs &b) {
         return enc(b, CipherType(3), SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0, 0x4401);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"cipher 3",
       [&](Bufs &b) {
         return enc(b, CipherType(3), SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0, 10);
       },
       ERR_BAD_CIPHER_OR_MAC},
      {"cipher 10",
       [&](Bufs &b) {
         return enc(b, CipherType(10), SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0, 10);
       },
       ERR_BAD_CIPHER_OR_MAC},
      {"cipher 16",
       [&](Bufs &b) { return dec(b, CipherType(16), SHA1_TYPE, VER_TLS, SSL_CLIENT, 32); },
       ERR_BAD_CIPHER_OR_MAC},
      {"hash 0",
       [&](Bufs &b) { return enc(b, AES_128, HashType(0), VER_TLS, SSL_CLIENT, APP_DATA, 0, 10); },
       ERR_BAD_CIPHER_OR_MAC},
      {"hash 7", [&](Bufs &b) { return dec(b, AES_128, AESCMAC_TYPE, VER_TLS, SSL_CLIENT, 32); },
       ERR_BAD_CIPHER_OR_MAC},
      {"pad count above 255",
       [&](Bufs &b) { return enc(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 256, 10); },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"no record length",
       [&](Bufs &b) {
         return Qel2EncryptRecord(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, 0, nullptr, nullptr, 10, *b.msg, nullptr,
                                  *b.out, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"no message",
       [&](Bufs &b) {
         return Qel2EncryptRecord(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, 0, nullptr, nullptr, 10, nullptr, &b.len,
                                  *b.out, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"no sequence number for TLS 1.1",
       [&](Bufs &b) {
         return Qel2EncryptRecord(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS1_1,
                                  SSL_CLIENT, APP_DATA, 0, nullptr, *b.civ, 10, *b.msg, &b.len,
                                  *b.out, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"no record buffer",
       [&](Bufs &b) {
         return Qel2EncryptRecord(session_, OSTREL_BLOCKING, kCtx, RC4_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, 0, nullptr, nullptr, 10, *b.msg, &b.len,
                                  nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"record of 0x4401",
       [&](Bufs &b) { return dec(b, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 0x4401); },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"AES-CBC record of one block",
       [&](Bufs &b) { return dec(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 16); },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"DES record below two blocks",
       [&](Bufs &b) { return dec(b, DES, SHA1_TYPE, VER_TLS, SSL_CLIENT, 15); },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"blocking decryption without a length",
       [&](Bufs &b) {
         return Qel2DecryptRecord(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, nullptr, nullptr, 32, *b.rec, nullptr,
                                  *b.out, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"no record",
       [&](Bufs &b) {
         return Qel2DecryptRecord(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, nullptr, nullptr, 32, nullptr, &b.len,
                                  *b.out, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"no message buffer",
       [&](Bufs &b) {
         return Qel2DecryptRecord(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                                  SSL_CLIENT, APP_DATA, nullptr, nullptr, 32, *b.rec, &b.len,
                                  nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
  });
}

// Every non-zero request type goes out non-blocking: without a request id
// pointer nobody could collect the answer that lands in the caller's
// buffers, so each TLS call refuses it before sending; with one it is sent.
TEST_F(Records, EveryNonBlockingTypeNeedsARequestId) {
  const Uint32 s = session_;
  struct Row {
    std::string name;
    std::function<Uint32(Bufs &, request_type, Uint32 *)> call;
  };
  const std::vector<Row> rows = {
      {"record encryption",
       [&](Bufs &b, request_type rt, Uint32 *id) {
         return Qel2EncryptRecord(s, rt, kCtx, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA, 0,
                                  nullptr, nullptr, 10, *b.msg, &b.len, *b.out, id);
       }},
      {"record decryption",
       [&](Bufs &b, request_type rt, Uint32 *id) {
         return Qel2DecryptRecord(s, rt, kCtx, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, APP_DATA,
                                  nullptr, nullptr, 30, *b.rec, &b.len, *b.out, id);
       }},
      {"finished",
       [&](Bufs &b, request_type rt, Uint32 *id) {
         return Qel2FinishedFinish(s, rt, kCtx, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, 100, *b.hs, *b.ec,
                                   *b.es, nullptr, nullptr, id);
       }},
      {"premaster handshake",
       [&](Bufs &b, request_type rt, Uint32 *id) {
         return Qel2OtherVerify(s, rt, kCtx, AES_128, SHA1_TYPE, SHA1_TYPE, VER_TLS, 48, *b.pms,
                                *b.crand, *b.srand, 100, *b.hs, *b.vd, nullptr, id);
       }},
  };
  std::vector<std::unique_ptr<Bufs>> pending;  // outlive the requests sent
  for (const Row &r : rows) {
    for (request_type rt : {OSTREL_NON_BLOCKING, OSTREL_SPEED, OSTREL_KERNEL}) {
      SCOPED_TRACE(r.name + ", type " + std::to_string(rt));
      d().clear_captured();
      pending.push_back(std::make_unique<Bufs>());
      testing::internal::CaptureStdout();
      const Uint32 got = r.call(*pending.back(), rt, nullptr);
      const std::string out = testing::internal::GetCapturedStdout();
      EXPECT_EQ(Uint32(ERR_ARGUMENTS_BAD), got);
      EXPECT_EQ("null request_id pointer in non blocking request", out);
      EXPECT_EQ(0u, sent_count(d()));
      Uint32 id = 0xFFFFFFFF;  // written by the call
      EXPECT_EQ(Uint32(ERR_REQUEST_PENDING), r.call(*pending.back(), rt, &id));
      EXPECT_NE(0xFFFFFFFFu, id);
      EXPECT_TRUE(d().wait_captured(1, std::chrono::milliseconds(2000)));
    }
  }
}

TEST_F(Records, ContextAlignmentThatPasses) {
  const Uint64 bit63 = 0x8000'0000'0000'0000ull;
  for (Uint64 ctx : {bit63 | 0x10, Uint64{8}, Uint64{0x7FF8}}) {
    d().clear_captured();
    answer_empty(KQ_VANTOR_CMD, kApp);
    Bufs b;
    Qel2EncryptRecord(session_, OSTREL_BLOCKING, ctx, RC4_128, SHA1_TYPE, VER_TLS, SSL_CLIENT,
                      APP_DATA, 0, nullptr, nullptr, 10, *b.msg, &b.len, *b.out, nullptr);
    EXPECT_EQ(1u, sent_count(d())) << ctx;
    EXPECT_EQ(ctx + 176, sent_last(d()).ctx_ptr);
  }
}

// A decrypted AES-CBC record of 96 bytes whose last bytes are the padding.
Bytes cbc_plain(uint8_t pad, size_t len = 96) {
  Bytes m(len, 0x41);
  for (size_t i = len - pad - 1; i < len; ++i) m[i] = pad;
  return m;
}

TEST_F(Records, DecryptChecksAndStripsThePadding) {
  struct Row {
    std::string name;
    SslVersion v;
    Bytes answer;
    Uint32 want;
    Uint16 len;  // 0xEEEE: left alone
  };
  Bytes flipped = cbc_plain(3);
  flipped[93] = 4;
  Bytes short_answer = cbc_plain(3);
  short_answer.pop_back();
  Bytes big_pad = cbc_plain(0);
  big_pad[95] = 200;
  const Row rows[] = {
      {"padding of 3", VER_TLS, cbc_plain(3), 0, 72},
      {"a padding byte differs", VER_TLS1_2, flipped, ERR_BAD_RECORD, 72},
      {"SSL 3.0 does not check padding bytes", VER3_0, flipped, 0, 72},
      {"padding longer than the record", VER_TLS, big_pad, ERR_BAD_RECORD, 0xEEEE},
      {"the HSM answered short", VER_TLS, short_answer, ERR_BAD_RECORD, 0xEEEE},
      {"nothing answered", VER_TLS, Bytes{}, ERR_BAD_RECORD, 0xEEEE},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    d().clear_scripts();
    answer(KQ_VANTOR_CMD, kApp, r.answer);
    Bufs b;
    // Stale bytes in the caller's buffer must not pass for the HSM's.
    b.out.b.fill(3);
    EXPECT_EQ(r.want, D(b, AES_128, SHA1_TYPE, r.v, SSL_SERVER, 96));
    EXPECT_EQ(r.len, b.len);
  }
}

TEST_F(Records, DecryptStreamAndGcmLengths) {
  struct Row {
    std::string name;
    CipherType c;
    HashType h;
    Uint16 record;
    size_t answered;
    Uint32 want;
    Uint16 len;
  } rows[] = {
      {"GCM", AES_GCM_128, SHA384_TYPE, 100, 100, 0, 84},
      {"GCM answered without the tag", AES_GCM_256, SHA1_TYPE, 100, 84, 0, 84},
      {"GCM answered short", AES_GCM_256, SHA1_TYPE, 100, 83, ERR_BAD_RECORD, 0xEEEE},
      {"GCM record shorter than its tag", AES_GCM_128, SHA1_TYPE, 10, 10, ERR_BAD_RECORD, 0xEEEE},
      {"RC4 with SHA-1", RC4_128, SHA1_TYPE, 100, 100, 0, 80},
      {"RC4 record shorter than its MAC", RC4_128, SHA1_TYPE, 19, 19, ERR_BAD_RECORD, 0xEEEE},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    d().clear_scripts();
    answer(KQ_VANTOR_CMD, kApp, Bytes(r.answered, 0x41));
    Bufs b;
    EXPECT_EQ(r.want, D(b, r.c, r.h, VER_TLS, SSL_CLIENT, r.record));
    EXPECT_EQ(r.len, b.len);
  }
}

// The sink's bytes are skipped: the message starts after them and the
// length is judged on the message segment alone.
TEST_F(Records, BlockingDtlsDecryptSkipsTheSink) {
  Bytes a(24, 0xEE);  // explicit IV + 8 under AES-CBC
  const Bytes plain = cbc_plain(3, 48);
  a.insert(a.end(), plain.begin(), plain.end());
  answer(KQ_VANTOR_CMD, kApp, a);
  Bufs b;
  EXPECT_EQ(0u, D(b, AES_256, SHA1_TYPE, VER_DTLS1_2, SSL_SERVER, 48));
  EXPECT_EQ(24, b.len);
  EXPECT_EQ(plain, Bytes(b.out.b.begin(), b.out.b.begin() + 48));
}

TEST_F(Records, HsmRefusalLeavesTheLengthAlone) {
  answer(KQ_VANTOR_CMD, kApp, cbc_plain(3), 0x40000185);
  Bufs b;
  EXPECT_EQ(0x40000185u, D(b, AES_128, SHA1_TYPE, VER_TLS, SSL_SERVER, 96));
  EXPECT_EQ(0xEEEE, b.len);
}

// The answer arrives after the call returned: the sink is the pending
// request's (a discard segment), the record lands in the caller's buffer.
TEST_F(Records, NonBlockingDtlsRecordsKeepTheirSinks) {
  d().set_nonblocking_delay(std::chrono::milliseconds(50));
  Bytes sink_and_record(8, 0xAB);
  for (int i = 0; i < 120; ++i) sink_and_record.push_back(Uint8(i));
  answer(KQ_VANTOR_CMD, kApp, sink_and_record);
  auto b = std::make_unique<Bufs>();
  Uint32 id = 0xFFFFFFFF;  // written by the call
  [&] {                    // a frame that is gone when the answer arrives
    EXPECT_EQ(Uint32(ERR_REQUEST_PENDING),
              Qel2EncryptRecord(session_, OSTREL_NON_BLOCKING, kCtx, RC4_128, SHA1_TYPE, VER_DTLS,
                                SSL_SERVER, APP_DATA, 0, *b->cseq, nullptr, 100, *b->msg, &b->len,
                                *b->out, &id));
  }();
  EXPECT_NE(0xFFFFFFFFu, id);
  EXPECT_EQ(120, b->len);
  EXPECT_EQ(0u, collect(id));
  for (int i = 0; i < 120; ++i) ASSERT_EQ(Uint8(i), b->out.b[size_t(i)]) << i;

  // Decryption under DTLS with a block cipher: a 16-byte sink; the caller
  // strips the padding itself.
  d().clear_scripts();
  answer(KQ_VANTOR_CMD, kApp, [] {
    Bytes a(16, 0xCD);
    for (int i = 0; i < 40; ++i) a.push_back(Uint8(0x80 + i));
    return a;
  }());
  b = std::make_unique<Bufs>();
  id = 0xFFFFFFFF;
  [&] {
    EXPECT_EQ(Uint32(ERR_REQUEST_PENDING),
              Qel2DecryptRecord(session_, OSTREL_NON_BLOCKING, kCtx, DES3_192, SHA1_TYPE,
                                VER_DTLS1_2, SSL_CLIENT, APP_DATA, *b->cseq, *b->civ, 40, *b->rec,
                                nullptr, *b->out, &id));
  }();
  EXPECT_EQ(0u, collect(id));
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Uint8(0x80 + i), b->out.b[size_t(i)]) << i;
}

}  // namespace
}  // namespace ssl_test
