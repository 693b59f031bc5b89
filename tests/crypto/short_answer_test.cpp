// Answers that fill less than an operation's outputs: every raw-form
// operation with fixed-size outputs refuses them with TESSALINE_INVALID_MSG
// instead of reporting a success over buffers the HSM never wrote; outputs
// whose length the HSM states in a length word are bounded by that word and
// by the caller's buffer. The answers are scripted, so the stand-in's own
// shapes play no part.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "crypto_fixture.h"

using namespace crypto_test;

namespace {

constexpr Uint64 kKey = 0x42, kCtx = 0x1000;

// Bytes of a big-endian length word followed by that many result bytes.
Bytes stated(size_t word_len, size_t n, size_t word_value) {
  Bytes b(word_len, 0);
  for (size_t i = 0; i < word_len; ++i) b[word_len - 1 - i] = Uint8(word_value >> (8 * i));
  b.insert(b.end(), n, 0x5C);
  return b;
}

// One operation and the whole answer it needs; call sends it with the
// request type and request-id pointer given.
struct Row {
  std::string name;
  uint16_t command_type, opcode;
  Bytes whole;
  std::function<Uint32(request_type, Uint32 *)> call;
};

class ShortAnswer : public CryptoTest {
 protected:
  void script(uint16_t command_type, uint16_t opcode, Bytes payload, uint32_t status = 0) {
    hsmsim::Answer a;
    a.payload = std::move(payload);
    a.status = status;
    d().clear_scripts();
    d().script(command_type, opcode, a);
  }

  std::vector<Row> rows() {
    const Uint32 s = session_;
    return {
        {"random", 1, 0x0101, Bytes(16, 1),
         [=, this](request_type t, Uint32 *id) { return Qel2Random(s, t, 16, out_, id); }},
        {"hash SHA-256", 1, 0x0606, Bytes(32, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Hash(s, t, SHA256_TYPE, 3, in_, out_, id);
         }},
        {"hash finish SHA-384", 1, 0x0406, Bytes(48, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2HashFinish(s, t, kCtx, SHA384_TYPE, 0, nullptr, out_, id);
         }},
        {"HMAC SHA-1", 4, 0x0607, Bytes(20, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Hmac(s, t, SHA1_TYPE, kKey, 3, in_, out_, id);
         }},
        {"3DES-CBC encrypt of 13 bytes: 16", 4, 0x040E, Bytes(16, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Encrypt3Des(s, t, 13, in_, out_, iv_, kKey, id);
         }},
        {"3DES-CBC decrypt", 4, 0x050E, Bytes(16, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Decrypt3Des(s, t, 16, in_, out_, iv_, kKey, id);
         }},
        {"AES-CBC encrypt in place of 20 bytes: 32", 4, 0x060E, Bytes(32, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2EncryptAes(s, t, 20, in_, in_, iv_, kKey, id);
         }},
        {"AES-CBC decrypt", 4, 0x070E, Bytes(32, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2DecryptAes(s, t, 32, in_, out_, iv_, kKey, id);
         }},
        {"AES-ECB encrypt", 4, 0x060E, Bytes(16, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2EncryptAesECB(s, t, 16, in_, out_, kKey, id);
         }},
        {"AES-CTR", 4, 0x0018, Bytes(10, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2EncryptAesCtr(s, t, 10, in_, out_, iv_, kKey, id);
         }},
        {"3DES capacity 100 for 13 bytes: 16 needed", 4, 0x040E, Bytes(16, 1),
         [=, this](request_type t, Uint32 *id) {
           cap_ = 100;
           return Qel2Encrypt3Des2(s, t, 13, in_, out_, &cap_, iv_, kKey, id);
         }},
        {"AES decrypt capacity 64 for 32 bytes", 4, 0x070E, Bytes(32, 1),
         [=, this](request_type t, Uint32 *id) {
           cap_ = 64;
           return Qel2DecryptAes2(s, t, 32, in_, out_, &cap_, iv_, kKey, id);
         }},
        {"GCM encrypt: IV, data, tag", 4, 0x080E, Bytes(16 + 40 + 16, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2EncryptAesGcm(s, t, iv_, kKey, 13, in_, 40, in_, out_, tag_, id);
         }},
        {"GCM \"2\" encrypt, capacity 10", 4, 0x080E, Bytes(16 + 10 + 16, 1),
         [=, this](request_type t, Uint32 *id) {
           cap_ = 10;
           return Qel2EncryptAesGcm2(s, t, iv_, kKey, 0, nullptr, 40, in_, out_, &cap_, tag_, id);
         }},
        {"GCM decrypt", 4, 0x090E, Bytes(40, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2DecryptAesGcm(s, t, iv_, kKey, 0, nullptr, 40, in_, 16, tag_, out_, id);
         }},
        {"GCM \"2\" decrypt, capacity 64 for 40 bytes", 4, 0x090E, Bytes(40, 1),
         [=, this](request_type t, Uint32 *id) {
           cap_ = 64;
           return Qel2DecryptAesGcm2(s, t, iv_, kKey, 0, nullptr, 40, in_, 16, tag_, out_, &cap_,
                                     id);
         }},
        {"RC4", 1, 0x000E, Bytes(10, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2EncryptRc4(s, t, kCtx, NO_UPDATE, 10, in_, out_, id);
         }},
        {"tunnel: the firmware's sequence; the record may be empty", 0xEEE0, 0x300D, Bytes(8, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2E2ESubmitRecord(s, t, in_, in_, 20, out_, out_ + 8, 100, 10, id);
         }},
        {"point addition on P-521: 72 + 66", 1, 0x001E, Bytes(72 + 66, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2PointAdd(s, t, P521, in_, in_, in_, in_, in_, out_, out_ + 72, id);
         }},
        {"point doubling on P-256", 1, 0x101E, Bytes(64, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2PointDouble(s, t, P256, in_, in_, in_, out_, out_ + 32, id);
         }},
        {"point multiplication with a key", 4, 0x201E, Bytes(64, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2PointMulWithScalarOnHSM(s, t, P256, in_, kKey, in_, in_, out_, out_ + 32, id);
         }},
        {"ECDSA signature on P-384: r and s", 4, 0x601E, Bytes(96, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2ECDSASign(s, t, P384, kKey, in_, 48, in_, 48, out_, out_ + 48, id);
         }},
        {"v1.5 encryption: the modulus length", 4, 0x0304, Bytes(128, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Pkcs1v15Enc(s, t, kKey, BT2, 128, 20, in_, out_, id);
         }},
        {"v1.5 decryption: word 5, then 5 bytes", 4, 0x0104, stated(2, 5, 5),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Pkcs1v15Dec(s, t, kKey, BT2, 128, in_, out_, RES_HOST, &len16_, id);
         }},
        {"v1.5 \"2\" decryption: word 5, then 5 bytes", 4, 0x0104, stated(2, 5, 5),
         [=, this](request_type t, Uint32 *id) {
           len16_ = 128;
           return Qel2Pkcs1v15Dec2(s, t, kKey, BT2, 128, in_, out_, RES_HOST, &len16_, id);
         }},
        {"v1.5 \"2\" encryption: word 128, then 128 bytes", 4, 0x0302, stated(2, 128, 128),
         [=, this](request_type t, Uint32 *id) {
           cap_ = 256;
           return Qel2Pkcs1v15Enc2(s, t, kKey, BT2, 20, in_, out_, &cap_, id);
         }},
        {"v2.2 encryption", 4, 0x0004, Bytes(128, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Pkcs1v22Enc(s, t, kKey, OAEP, SHA1_TYPE, false, 128, 20, in_, out_, id);
         }},
        {"v2.2 decryption: the area, then the 4-byte word 5", 4, 0x0004,
         [] {
           Bytes b(124, 1);
           const Bytes w = stated(4, 0, 5);
           b.insert(b.end(), w.begin(), w.end());
           return b;
         }(),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Pkcs1v22Dec(s, t, kKey, OAEP, SHA1_TYPE, false, 128, in_, out_, &len32_,
                                  RES_HOST, id);
         }},
        {"v2.2 signature", 4, 0x0804, Bytes(256, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Pkcs1v22Sign(s, t, kKey, PSS, SHA256_TYPE, true, 256, 32, in_, out_, id);
         }},
        {"v2.2 \"2\" signature: word 256, then 256 bytes", 4, 0x0804, stated(2, 256, 256),
         [=, this](request_type t, Uint32 *id) {
           cap_ = 512;
           return Qel2Pkcs1v22Sign2(s, t, kKey, PSS, SHA256_TYPE, true, 32, in_, out_, &cap_, id);
         }},
        {"v2.2 verification: the decrypted block", 4, 0x0004, Bytes(128, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2Pkcs1v22Verify(s, t, kKey, PSS, SHA1_TYPE, 128, 20, in_, in_, out_, id);
         }},
        {"modular exponentiation", 1, 0x0002, Bytes(256, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2ModExp(s, t, 3, in_, 3, in_, 256, in_, out_, id);
         }},
        {"exponentiation with a key", 4, 0x0804, Bytes(128, 1),
         [=, this](request_type t, Uint32 *id) {
           return Qel2ModExpWithKeyOnHSM(s, t, kKey, true, 128, in_, 128, out_, id);
         }},
    };
  }

  // Each row answered with nothing and with one byte less (both refused),
  // then whole (0); outcome sends the row and tells its final status.
  void each_row(const std::function<Uint32(const Row &)> &outcome) {
    for (const Row &r : rows()) {
      SCOPED_TRACE(r.name);
      ASSERT_FALSE(r.whole.empty());
      for (size_t n : {size_t{0}, r.whole.size() - 1}) {
        script(r.command_type, r.opcode, Bytes(r.whole.begin(), r.whole.begin() + long(n)));
        EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), outcome(r)) << n << " bytes";
      }
      script(r.command_type, r.opcode, r.whole);
      EXPECT_EQ(0u, outcome(r));
    }
  }

  // Collects one request by list polls of it alone: its list entry's
  // status; what the polls counted as results is added to *counted.
  Uint32 collect_listed(Uint32 id, Uint32 *counted) {
    request_status item{id, ERR_REQUEST_PENDING, 0};
    for (int i = 0; i < 2000 && item.status == ERR_REQUEST_PENDING; ++i) {
      Uint32 n = 0;
      EXPECT_EQ(0u, Qel2GetAllResults(0, &item, sizeof item, &n));
      *counted += n;
      if (item.status == ERR_REQUEST_PENDING) usleep(1000);
    }
    return item.status;
  }

  Uint8 in_[512] = {};    // inputs, also the in-place buffer of AES-CBC
  Uint8 out_[1024] = {};  // outputs
  Uint8 iv_[16] = {}, tag_[16] = {};
  Uint16 len16_ = 0;
  Uint32 len32_ = 0;
  Ulong cap_ = 0;
};

TEST_F(ShortAnswer, EveryFixedSizeOutputMustArriveWhole) {
  each_row([](const Row &r) { return r.call(OSTREL_BLOCKING, nullptr); });
}

// The same answers to non-blocking requests: the poll reports the refusal,
// and a refused answer's length word is not converted into the caller's
// length.
TEST_F(ShortAnswer, NonBlockingFixedSizeOutputMustArriveWhole) {
  each_row([this](const Row &r) {
    Uint32 id = 0;
    const Uint32 sent = r.call(OSTREL_NON_BLOCKING, &id);
    EXPECT_EQ(Uint32(ERR_REQUEST_PENDING), sent);
    if (sent != ERR_REQUEST_PENDING) return sent;
    const Ulong cap = cap_;  // the "2" variants' converted length
    const Uint32 status = collect(id);
    if (status != 0) {
      EXPECT_EQ(cap, cap_) << "a length was handed out";
    }
    return status;
  });
}

// A list poll reports the refusal in the request's entry and does not count
// it among the results; a whole answer after it is counted.
TEST_F(ShortAnswer, ListPollReportsTheRefusalUncounted) {
  const Uint32 s = session_;
  // In place: an empty answer would leave the plaintext to pass for ciphertext.
  script(4, 0x060E, Bytes{});
  Uint32 id = 0, counted = 0;
  ASSERT_EQ(Uint32(ERR_REQUEST_PENDING),
            Qel2EncryptAes(s, OSTREL_NON_BLOCKING, 20, in_, in_, iv_, kKey, &id));
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), collect_listed(id, &counted));
  EXPECT_EQ(0u, counted);
  script(1, 0x0101, Bytes(16, 1));
  ASSERT_EQ(Uint32(ERR_REQUEST_PENDING), Qel2Random(s, OSTREL_NON_BLOCKING, 16, out_, &id));
  EXPECT_EQ(0u, collect_listed(id, &counted));
  EXPECT_EQ(1u, counted);
}

// A length word that claims more than the caller's buffer holds is refused,
// and the caller's length is left as it was.
TEST_F(ShortAnswer, LengthWordBeyondTheCallersBufferIsRefused) {
  const Uint32 s = session_;
  // r and s of 32 bytes each: the word says 0xFFFF for both together.
  Bytes big = stated(2, 64, 0xFFFF);
  script(4, 0x601E, big);
  Uint16 plen = 32;
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), Qel2ECDSASign2(s, OSTREL_BLOCKING, kKey, in_, &plen, in_,
                                                          32, out_, out_ + 32, nullptr));
  EXPECT_EQ(32, plen);
  // 66 for both: one byte per output more than 32.
  script(4, 0x601E, stated(2, 64, 66));
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), Qel2ECDSASign2(s, OSTREL_BLOCKING, kKey, in_, &plen, in_,
                                                          32, out_, out_ + 32, nullptr));
  EXPECT_EQ(32, plen);
  script(4, 0x601E, stated(2, 64, 64));
  EXPECT_EQ(
      0u, Qel2ECDSASign2(s, OSTREL_BLOCKING, kKey, in_, &plen, in_, 32, out_, out_ + 32, nullptr));
  EXPECT_EQ(32, plen);

  // A signature capacity of 16 and a word of 17.
  script(4, 0x0804, stated(2, 16, 17));
  cap_ = 16;
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG),
            Qel2Pkcs1v22Sign2(s, OSTREL_BLOCKING, kKey, PSS, SHA256_TYPE, true, 32, in_, out_,
                              &cap_, nullptr));
  EXPECT_EQ(16u, cap_);
  // The plain v1.5 decryption: a word beyond the modulus length.
  script(4, 0x0104, stated(2, 128, 129));
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), Qel2Pkcs1v15Dec(s, OSTREL_BLOCKING, kKey, BT2, 128, in_,
                                                           out_, RES_HOST, &len16_, nullptr));
  // The plain v2.2 decryption: a 4-byte word beyond the 124-byte area.
  Bytes area(124, 1);
  const Bytes w = stated(4, 0, 125);
  area.insert(area.end(), w.begin(), w.end());
  script(4, 0x0004, area);
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG),
            Qel2Pkcs1v22Dec(s, OSTREL_BLOCKING, kKey, OAEP, SHA1_TYPE, false, 128, in_, out_,
                            &len32_, RES_HOST, nullptr));
}

// RET_RESULT_SIZE reports the length needed: without the word there is
// none to report. A size query (no result buffer) is bounded by nothing.
TEST_F(ShortAnswer, ResultSizeNeedsItsLengthWord) {
  const Uint32 s = session_;
  script(4, 0x0804, Bytes{}, RET_RESULT_SIZE);
  cap_ = 16;
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG),
            Qel2Pkcs1v22Sign2(s, OSTREL_BLOCKING, kKey, PSS, SHA256_TYPE, true, 32, in_, out_,
                              &cap_, nullptr));
  EXPECT_EQ(16u, cap_);
  script(4, 0x0804, stated(2, 0, 256), RET_RESULT_SIZE);
  EXPECT_EQ(Uint32(RET_RESULT_SIZE), Qel2Pkcs1v22Sign2(s, OSTREL_BLOCKING, kKey, PSS, SHA256_TYPE,
                                                       true, 32, in_, out_, &cap_, nullptr));
  EXPECT_EQ(256u, cap_);
  script(4, 0x0804, stated(2, 0, 256));
  cap_ = 0;
  EXPECT_EQ(0u, Qel2Pkcs1v22Sign2(s, OSTREL_BLOCKING, kKey, PSS, SHA256_TYPE, true, 32, in_,
                                  nullptr, &cap_, nullptr));
  EXPECT_EQ(256u, cap_);
}

// Collected by a poll, a short answer is refused as a blocking one is, and
// its length word is not handed out.
TEST_F(ShortAnswer, NonBlockingShortAnswerLeavesTheLengthAlone) {
  const Uint32 s = session_;
  struct Row {
    std::string name;
    Bytes answer;
  } rows[] = {{"no word", Bytes{}},
              {"word without r and s", stated(2, 0, 48)},
              {"word beyond the buffers", stated(2, 64, 0xFFFF)}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    script(4, 0x601E, r.answer);
    Uint16 plen = 32;
    Uint32 id = 0;
    ASSERT_EQ(Uint32(ERR_REQUEST_PENDING), Qel2ECDSASign2(s, OSTREL_NON_BLOCKING, kKey, in_, &plen,
                                                          in_, 32, out_, out_ + 32, &id));
    EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), collect(id));
    EXPECT_EQ(32, plen);
  }
  script(4, 0x601E, stated(2, 64, 48));
  Uint16 plen = 32;
  Uint32 id = 0;
  ASSERT_EQ(Uint32(ERR_REQUEST_PENDING), Qel2ECDSASign2(s, OSTREL_NON_BLOCKING, kKey, in_, &plen,
                                                        in_, 32, out_, out_ + 32, &id));
  EXPECT_EQ(0u, collect(id));
  EXPECT_EQ(24, plen);
}

}  // namespace
