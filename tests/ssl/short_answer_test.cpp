// Answers that fill less than a TLS operation's outputs (finished messages,
// the encrypted master secret, verify_data, the own public point, the
// protected record) are refused with TESSALINE_INVALID_MSG instead of a
// success over buffers the HSM never wrote.
#include "ssl_fixture.h"

namespace ssl_test {
namespace {

// One operation and the length of the whole answer it needs; call sends it
// with the request type and request-id pointer given.
struct Row {
  std::string name;
  uint16_t command_type, opcode;
  size_t whole;
  std::function<Uint32(Bufs &, request_type, Uint32 *)> call;
};

class ShortTls : public SslTest {
 protected:
  std::vector<Row> rows() {
    const Uint32 s = session_;
    return {
        {"record encryption: the record", KQ_VANTOR_CMD, 0x300D, 128,
         [=](Bufs &b, request_type t, Uint32 *id) {
           return Qel2EncryptRecord(s, t, kCtx, AES_128, SHA1_TYPE, VER_TLS, SSL_SERVER, APP_DATA,
                                    0, nullptr, nullptr, 100, *b.msg, &b.len, *b.out, id);
         }},
        {"DTLS record encryption: sink and record", KQ_VANTOR_CMD, 0x300D, 8 + 120,
         [=](Bufs &b, request_type t, Uint32 *id) {
           return Qel2EncryptRecord(s, t, kCtx, RC4_128, SHA1_TYPE, VER_DTLS, SSL_SERVER, APP_DATA,
                                    0, *b.cseq, nullptr, 100, *b.msg, &b.len, *b.out, id);
         }},
        {"RSA full: master secret and finished block", KQ_VNX_KEY_CMD, 0x6005,
         48 + 48 + 48 + 16 + 16,
         [=, this](Bufs &b, request_type t, Uint32 *id) {
           return Qel2RsaServerFull(s, t, kCtx, &key_, AES_128, SHA1_TYPE, VER_TLS, 128, *b.pms,
                                    *b.crand, *b.srand, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, 100, *b.hs, *b.ec, *b.es, *b.uc, *b.us, *b.ems_out,
                                    id);
         }},
        {"RSA verify: master secret and verify_data", KQ_VNX_KEY_CMD, 0x4005, 48 + 36,
         [=, this](Bufs &b, request_type t, Uint32 *id) {
           return Qel2RsaServerVerify(s, t, kCtx, &key_, AES_128, SHA1_TYPE, SHA1_TYPE, VER_TLS,
                                      128, *b.pms, *b.crand, *b.srand, 100, *b.hs, *b.vd,
                                      *b.ems_out, id);
         }},
        {"premaster full: finished block", KQ_VANTOR_CMD, 0x300A, 48 + 48,
         [=](Bufs &b, request_type t, Uint32 *id) {
           return Qel2OtherFull(s, t, kCtx, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 48, *b.pms,
                                *b.crand, *b.srand, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, 100, *b.hs, *b.ec, *b.es, nullptr, nullptr, nullptr, id);
         }},
        {"premaster verify, TLS 1.2 SHA-384: verify_data of 48", KQ_VANTOR_CMD, 0x100A, 48,
         [=](Bufs &b, request_type t, Uint32 *id) {
           return Qel2OtherVerify(s, t, kCtx, AES_128, SHA256_TYPE, SHA384_TYPE, VER_TLS1_2, 48,
                                  *b.pms, *b.crand, *b.srand, 100, *b.hs, *b.vd, nullptr, id);
         }},
        {"ECDH full on P-521: own point (72 + 72) and finished block", KQ_VNX_KEY_CMD, 0x2815,
         72 + 72 + 48 + 48,
         [=](Bufs &b, request_type t, Uint32 *id) {
           return Qel2ECDHFull(s, t, kCtx, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, P521, *b.prime,
                               kKeyHandle, *b.px, *b.py, *b.gx, *b.gy, *b.crand, *b.srand, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, 100, *b.hs, *b.pubx,
                               *b.puby, *b.ec, *b.es, nullptr, nullptr, nullptr, id);
         }},
        {"ECDH verify on P-256: own point and verify_data", KQ_VNX_KEY_CMD, 0x2815, 32 + 32 + 36,
         [=](Bufs &b, request_type t, Uint32 *id) {
           return Qel2ECDHVerify(s, t, kCtx, AES_128, SHA1_TYPE, SHA1_TYPE, VER_TLS, P256, *b.prime,
                                 kKeyHandle, *b.px, *b.py, *b.gx, *b.gy, *b.crand, *b.srand, 100,
                                 *b.hs, *b.pubx, *b.puby, *b.vd, nullptr, id);
         }},
        {"finished: both forms of both messages", KQ_VANTOR_CMD, 0x000B, 48 + 48 + 16 + 16,
         [=](Bufs &b, request_type t, Uint32 *id) {
           return Qel2FinishedFinish(s, t, kCtx, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, 100, *b.hs, *b.ec,
                                     *b.es, *b.uc, *b.us, id);
         }},
        {"resume: plain finished messages", KQ_VANTOR_CMD, 0x000C, 16 + 16,
         [=](Bufs &b, request_type t, Uint32 *id) {
           return Qel2Resume(s, t, kCtx, AES_128, SHA1_TYPE, VER_TLS, SSL_SERVER, *b.crand,
                             *b.srand, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, 100, *b.hs, nullptr, nullptr, *b.uc, *b.us, id);
         }},
    };
  }

  // Each row answered with nothing and with one byte less (both refused),
  // then whole (0); outcome sends the row and tells its final status.
  void each_row(const std::function<Uint32(const Row &, Bufs &)> &outcome) {
    for (const Row &r : rows()) {
      SCOPED_TRACE(r.name);
      for (size_t n : {size_t{0}, r.whole - 1}) {
        d().clear_scripts();
        answer(r.command_type, r.opcode, Bytes(n, 0xA5));
        Bufs b;
        EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), outcome(r, b)) << n << " bytes";
      }
      d().clear_scripts();
      answer(r.command_type, r.opcode, Bytes(r.whole, 0xA5));
      Bufs b;
      EXPECT_EQ(0u, outcome(r, b));
    }
  }

  Uint64 key_ = kKeyHandle;
};

TEST_F(ShortTls, EveryOutputMustArriveWhole) {
  each_row([](const Row &r, Bufs &b) { return r.call(b, OSTREL_BLOCKING, nullptr); });
}

// The same answers to non-blocking requests: the poll reports the refusal.
TEST_F(ShortTls, NonBlockingOutputMustArriveWhole) {
  each_row([this](const Row &r, Bufs &b) {
    const Uint32 sent = r.call(b, OSTREL_NON_BLOCKING, &b.id);
    EXPECT_EQ(Uint32(ERR_REQUEST_PENDING), sent);
    return sent == ERR_REQUEST_PENDING ? collect(b.id) : sent;
  });
}

}  // namespace
}  // namespace ssl_test
