// Finished messages and resumption: the requests as framed (the finished
// block's forms, sizes and DTLS sinks, the sequence block by version, the
// SHA-2 initial value by version), the refusals made before anything is
// sent, and a non-blocking request whose sinks outlive the call.
#include "ssl_fixture.h"

namespace ssl_test {
namespace {

constexpr uint16_t kFin = 0x000B, kRes = 0x000C, kResEms = 0x400C;

class FinishedResume : public SslTest {
 protected:
  // All four finished buffers unless a mask drops some: bit 0 enc client,
  // 1 enc server, 2 plain client, 3 plain server.
  Uint32 fin(Bufs &b, CipherType c, HashType h, SslVersion v, SslPartyType p, Uint16 hs_len = 100,
             unsigned bufs = 0xF, request_type rt = OSTREL_BLOCKING, Uint32 *id = nullptr) {
    return Qel2FinishedFinish(session_, rt, kCtx, c, h, v, p, *b.cms, *b.cseq, *b.civ, *b.sms,
                              *b.sseq, *b.siv, hs_len, *b.hs, bufs & 1 ? *b.ec : nullptr,
                              bufs & 2 ? *b.es : nullptr, bufs & 4 ? *b.uc : nullptr,
                              bufs & 8 ? *b.us : nullptr, id);
  }
  Uint32 res(Bufs &b, CipherType c, HashType h, SslVersion v, SslPartyType p, bool ems,
             unsigned bufs = 0xF) {
    return Qel2Resume(session_, OSTREL_BLOCKING, kCtx, c, h, v, p, *b.crand, *b.srand,
                      ems ? *b.ems : nullptr, *b.cms, *b.cseq, *b.civ, *b.sms, *b.sseq, *b.siv, 100,
                      *b.hs, bufs & 1 ? *b.ec : nullptr, bufs & 2 ? *b.es : nullptr,
                      bufs & 4 ? *b.uc : nullptr, bufs & 8 ? *b.us : nullptr, nullptr);
  }
};

TEST_F(FinishedResume, Layouts) {
  using V = std::vector<In>;
  using O = std::vector<uint16_t>;
  const V seq12{{8, kCseq}, {16, kCiv}, {8, kSseq}, {16, kSiv}};
  check_layouts({
      {"resume TLS 1.2 AES-128 SHA-384 server with the encrypted master secret",
       [&](Bufs &b) { return res(b, AES_128, SHA384_TYPE, VER_TLS1_2, SSL_SERVER, true); },
       KQ_VANTOR_CMD, kResEms, 0x8000, 0x67AC, 0,
       V{{8, kCseq},
         {16, kCiv},
         {8, kSseq},
         {16, kSiv},
         {48, kEms},
         {64, kIv384},
         {32, kCrand},
         {32, kSrand},
         {100, kHs}},
       O{96, 96, 16, 16}},
      {"resume from the context: randoms straight after the sequence block",
       [&](Bufs &b) { return res(b, AES_128, SHA1_TYPE, VER_TLS1_2, SSL_CLIENT, false); },
       KQ_VANTOR_CMD, kRes, 0x4000, 0x27AE, 0,
       V{{8, kCseq}, {16, kCiv}, {8, kSseq}, {16, kSiv}, {32, kCrand}, {32, kSrand}, {100, kHs}},
       O{64, 64, 16, 16}},
      {"resume TLS SHA-384: the initial value for every version, after the master secret",
       [&](Bufs &b) { return res(b, AES_128, SHA384_TYPE, VER_TLS, SSL_SERVER, true); },
       KQ_VANTOR_CMD, kResEms, 0, 0x07AC, 0,
       V{{48, kEms}, {64, kIv384}, {32, kCrand}, {32, kSrand}, {100, kHs}}, O{80, 80, 16, 16}},
      {"resume DTLS: the client's half of the sequence block only",
       [&](Bufs &b) { return res(b, DES, SHA224_TYPE, VER_DTLS, SSL_CLIENT, false, 0x3); },
       KQ_VANTOR_CMD, kRes, 0x4000, 0x10E6, 0,
       V{{8, kCms}, {8, kCseq}, {8, kCiv}, {32, kIv224}, {32, kCrand}, {32, kSrand}, {100, kHs}},
       O{8, 64, 8, 64}},
      {"finish TLS: the handshake messages alone",
       [&](Bufs &b) { return fin(b, AES_128, SHA384_TYPE, VER_TLS, SSL_CLIENT); }, KQ_VANTOR_CMD,
       kFin, 0, 0x07AC, 0, V{{100, kHs}}, O{80, 80, 16, 16}},
      {"finish DTLS: the client's half of the sequence block only",
       [&](Bufs &b) { return fin(b, AES_128, SHA1_TYPE, VER_DTLS, SSL_SERVER); }, KQ_VANTOR_CMD,
       kFin, 0x8000, 0x17AA, 0, V{{8, kCms}, {8, kCseq}, {16, kCiv}, {100, kHs}},
       O{8, 64, 8, 64, 24, 24}},
      {"finish TLS 1.1 SHA-512: the initial value after the sequence block",
       [&](Bufs &b) { return fin(b, AES_256, SHA512_TYPE, VER_TLS1_1, SSL_SERVER, 100, 0xC); },
       KQ_VANTOR_CMD, kFin, 0x8000, 0x13BD, 0,
       V{{8, kCseq}, {16, kCiv}, {8, kSseq}, {16, kSiv}, {64, kIv512}, {100, kHs}}, O{16, 16}},
      {"finish DTLS post-RFC: all six sequence segments",
       [&](Bufs &b) { return fin(b, AES_128, SHA256_TYPE, VER_DTLS_POST_RFC, SSL_SERVER); },
       KQ_VANTOR_CMD, kFin, 0x8000, 0x27AB, 0,
       V{{8, kCms}, {8, kCseq}, {16, kCiv}, {8, kSms}, {8, kSseq}, {16, kSiv}, {100, kHs}},
       O{8, 80, 8, 80, 24, 24}},
      {"finish TLS 1.2 RC4: no IV segments",
       [&](Bufs &b) { return fin(b, RC4_128, SHA1_TYPE, VER_TLS1_2, SSL_CLIENT, 100, 0x3); },
       KQ_VANTOR_CMD, kFin, 0x4000, 0x20C6, 0, V{{8, kCseq}, {8, kSseq}, {100, kHs}}, O{36, 36}},
      {"server message plain: its buffer, and 0x200 only",
       [&](Bufs &b) { return fin(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 100, 0xD); },
       KQ_VANTOR_CMD, kFin, 0, 0x02AA, 0, V{{100, kHs}}, O{48, 16}},
      {"client message plain",
       [&](Bufs &b) { return fin(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 100, 0x6); },
       KQ_VANTOR_CMD, kFin, 0, 0x01AA, 0, V{{100, kHs}}, O{16, 48}},
      {"both messages plain",
       [&](Bufs &b) { return fin(b, AES_128, SHA1_TYPE, VER3_0, SSL_CLIENT, 100, 0xC); },
       KQ_VANTOR_CMD, kFin, 0, 0x03AE, 0, V{{100, kHs}}, O{40, 40}},
      {"an empty handshake",
       [&](Bufs &b) { return fin(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 0); }, KQ_VANTOR_CMD,
       kFin, 0, 0x07AA, 0, V{{0, kAny}}, O{48, 48, 16, 16}},
  });
}

TEST_F(FinishedResume, DtlsOnlyEncryptedWithDma) {
  global_dma_mode = OSTREL_SCATTER_GATHER;
  check_layouts({
      {"finish DTLS 1.2 GCM SHA-1 client, only the encrypted buffers",
       [&](Bufs &b) { return fin(b, AES_GCM_128, SHA1_TYPE, VER_DTLS1_2, SSL_CLIENT, 100, 0x3); },
       KQ_VANTOR_CMD, 0x008B, 0x4000, 0x30A2, 0,
       std::vector<In>{
           {8, kCms}, {8, kCseq}, {8, kCiv}, {8, kSms}, {8, kSseq}, {8, kSiv}, {100, kHs}},
       std::vector<uint16_t>{8, 48, 8, 48}},
  });
  global_dma_mode = OSTREL_DIRECT;
}

// The encrypted finished message's size by version and cipher (MAC of
// SHA-1), read from the request: a record of the finished size plus the
// explicit IV for explicit-IV versions.
TEST_F(FinishedResume, EncryptedFinishedSizes) {
  struct Row {
    SslVersion v;
    uint16_t aes, gcm, rc4, des;
  } rows[] = {
      {VER_TLS, 48, 32, 36, 40},     {VER3_0, 64, 56, 60, 64},
      {VER_DTLS, 64, 48, 44, 56},    {VER_DTLS_POST_RFC, 64, 48, 44, 56},
      {VER_DTLS1_2, 64, 48, 44, 56}, {VER_TLS1_1, 64, 40, 36, 48},
      {VER_TLS1_2, 64, 40, 36, 48},
  };
  hsmsim::Answer empty;
  empty.payload = Bytes{};
  d().script(KQ_VANTOR_CMD, kFin, empty);
  for (const Row &r : rows) {
    const std::pair<CipherType, uint16_t> cells[] = {
        {AES_128, r.aes}, {AES_GCM_128, r.gcm}, {RC4_128, r.rc4}, {DES, r.des}};
    for (auto [c, want] : cells) {
      d().clear_captured();
      Bufs b;
      fin(b, c, SHA1_TYPE, r.v, SSL_SERVER, 100, 0x3);
      const Request w = sent_last(d());
      const bool sinks = r.v == VER_DTLS || r.v == VER_DTLS_POST_RFC || r.v == VER_DTLS1_2;
      const std::vector<uint16_t> expect =
          sinks ? std::vector<uint16_t>{8, want, 8, want} : std::vector<uint16_t>{want, want};
      std::vector<uint16_t> got;
      for (const Segment &s : w.out) got.push_back(s.size);
      EXPECT_EQ(expect, got) << r.v << " cipher " << c;
    }
  }
}

TEST_F(FinishedResume, RefusedBeforeSending) {
  static Uint8 huge[0xFFFF];
  check_refusals({
      {"non-blocking without an id",
       [&](Bufs &b) {
         return fin(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 100, 0xF, OSTREL_NON_BLOCKING);
       },
       ERR_ARGUMENTS_BAD},
      {"context 0",
       [&](Bufs &b) {
         return Qel2Resume(session_, OSTREL_BLOCKING, 0, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT,
                           *b.crand, *b.srand, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, 0, nullptr, *b.ec, *b.es, nullptr, nullptr, nullptr);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"hash 7", [&](Bufs &b) { return fin(b, AES_128, AESCMAC_TYPE, VER_TLS, SSL_CLIENT); },
       ERR_BAD_CIPHER_OR_MAC},
      {"cipher 16",
       [&](Bufs &b) { return res(b, CipherType(16), SHA1_TYPE, VER_TLS, SSL_CLIENT, false); },
       ERR_BAD_CIPHER_OR_MAC},
      {"the suite before the buffers",
       [&](Bufs &b) { return fin(b, CipherType(2), SHA1_TYPE, VER_TLS, SSL_CLIENT, 100, 0); },
       ERR_BAD_CIPHER_OR_MAC},
      {"no buffer for the client message",
       [&](Bufs &b) { return fin(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 100, 0xA); },
       ERR_ARGUMENTS_BAD},
      {"no buffer for the server message",
       [&](Bufs &b) { return res(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, false, 0x5); },
       ERR_ARGUMENTS_BAD},
      {"no buffers at all",
       [&](Bufs &b) { return fin(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 100, 0); },
       ERR_ARGUMENTS_BAD},
      {"no handshake messages",
       [&](Bufs &b) {
         return Qel2FinishedFinish(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                                   SSL_CLIENT, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   10, nullptr, *b.ec, *b.es, nullptr, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"no sequence number where the version needs one",
       [&](Bufs &b) {
         return Qel2FinishedFinish(session_, OSTREL_BLOCKING, kCtx, RC4_128, SHA1_TYPE, VER_TLS1_1,
                                   SSL_CLIENT, nullptr, *b.cseq, nullptr, nullptr, nullptr, nullptr,
                                   10, *b.hs, *b.ec, *b.es, nullptr, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"no random",
       [&](Bufs &b) {
         return Qel2Resume(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT,
                           *b.crand, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, 0, nullptr, *b.ec, *b.es, nullptr, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"a data length past 16 bits",
       [&](Bufs &b) {
         return Qel2FinishedFinish(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS1_2,
                                   SSL_CLIENT, nullptr, *b.cseq, *b.civ, nullptr, *b.sseq, *b.siv,
                                   0xFFFF, huge, *b.ec, *b.es, nullptr, nullptr, nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
  });
  // The same handshake without the sequence block fits and goes out.
  hsmsim::Answer empty;
  empty.payload = Bytes{};
  d().script(KQ_VANTOR_CMD, kFin, empty);
  Bufs b;
  Qel2FinishedFinish(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0xFFFF, huge, *b.ec,
                     *b.es, nullptr, nullptr, nullptr);
  EXPECT_EQ(0xFFFF, sent_last(d()).dlen);
}

// DTLS with both forms of both messages, answered after the call returned:
// the two sinks are skipped, every message lands in its own buffer.
TEST_F(FinishedResume, NonBlockingDtlsFinishedKeepsItsSinks) {
  d().set_nonblocking_delay(std::chrono::milliseconds(50));
  Bytes a;
  auto put = [&a](size_t n, Uint8 v) { a.insert(a.end(), n, v); };
  put(8, 0xEE), put(64, 0xC0), put(8, 0xEE), put(64, 0x5E), put(24, 0xC1), put(24, 0x51);
  answer(KQ_VANTOR_CMD, kFin, a);
  auto b = std::make_unique<Bufs>();
  Uint32 id = 0xFFFFFFFF;  // written by the call
  [&] {
    EXPECT_EQ(Uint32(ERR_REQUEST_PENDING), fin(*b, AES_128, SHA1_TYPE, VER_DTLS, SSL_CLIENT, 100,
                                               0xF, OSTREL_NON_BLOCKING, &id));
  }();
  EXPECT_NE(0xFFFFFFFFu, id);
  EXPECT_EQ(0u, collect(id));
  EXPECT_EQ(Bytes(64, 0xC0), Bytes(b->ec.b.begin(), b->ec.b.begin() + 64));
  EXPECT_EQ(Bytes(64, 0x5E), Bytes(b->es.b.begin(), b->es.b.begin() + 64));
  EXPECT_EQ(Bytes(24, 0xC1), Bytes(b->uc.b.begin(), b->uc.b.begin() + 24));
  EXPECT_EQ(Bytes(24, 0x51), Bytes(b->us.b.begin(), b->us.b.begin() + 24));
  EXPECT_EQ(0, b->ec.b[64]);  // nothing past the message
}

}  // namespace
}  // namespace ssl_test
