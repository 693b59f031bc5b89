// RC4 with its state on the HSM (RFC 6229 key streams at their offsets,
// with and without saving the state) and the end-to-end record tunnel (the
// stand-in's echo), each with its requests as framed and its checks.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "crypto_fixture.h"
#include "request/app_state.h"

using namespace crypto_test;

namespace {

constexpr uint8_t kRc4Key = 18;

class Rc4 : public CryptoTest {};

TEST_F(Rc4, Rfc6229KeyStreamsAtTheirOffsets) {
  for (const char *bits : {"40", "128", "256"}) {
    const std::string file = std::string("ciphers/ARC4/rfc-6229-") + bits + ".txt";
    std::string first_key;
    auto recs = load(file, 18, [&](const Record &r) {
      if (first_key.empty()) first_key = r["KEY"];
      return r["KEY"] == first_key;
    });
    SKIP_WITHOUT(recs, file);
    const uint64_t ctx = 0x8000000000001000ull;  // bit 63 set: a multiple of 16
    ASSERT_EQ(0u, Qel2InitializeRc4(session_, OSTREL_BLOCKING, ctx,
                                    secret(kRc4Key, recs[0].bytes("KEY")), nullptr));
    size_t pos = 0;
    for (const auto &r : recs) {
      const size_t off = std::stoul(r["OFFSET"]);
      Bytes skip(off - pos), out(16), again(16), pt = r.bytes("PLAINTEXT");
      if (!skip.empty()) {
        ASSERT_EQ(0u, Qel2EncryptRc4(session_, OSTREL_BLOCKING, ctx, UPDATE, Uint16(skip.size()),
                                     skip.data(), skip.data(), nullptr));
      }
      // Without saving the state the same stream comes again.
      ASSERT_EQ(0u, Qel2EncryptRc4(session_, OSTREL_BLOCKING, ctx, NO_UPDATE, 16, pt.data(),
                                   again.data(), nullptr));
      ASSERT_EQ(0u, Qel2EncryptRc4(session_, OSTREL_BLOCKING, ctx, UPDATE, 16, pt.data(),
                                   out.data(), nullptr));
      EXPECT_EQ(r.bytes("CIPHERTEXT"), out) << file << " offset " << off;
      EXPECT_EQ(out, again) << file << " offset " << off;
      pos = off + 16;
    }
  }
}

TEST_F(Rc4, RequestsAndChecks) {
  Bytes in(32, 1), out(32);
  const uint64_t key = secret(kRc4Key, Bytes(16, 2));
  global_dma_mode = OSTREL_SCATTER_GATHER;
  ASSERT_EQ(0u, Qel2InitializeRc4(session_, OSTREL_BLOCKING, 0x10, key, nullptr));
  Request w = sent_last(d());
  EXPECT_EQ(0x0901, w.opcode);
  EXPECT_EQ(4, w.command_type);
  EXPECT_EQ(0, w.dma_mode);
  EXPECT_EQ(0x10u, w.ctx_ptr);
  EXPECT_EQ(8, w.dlen);
  EXPECT_EQ(0, w.rlen);
  EXPECT_EQ(key, be64(w.input(0)));
  ASSERT_EQ(0u, Qel2EncryptRc4(session_, OSTREL_BLOCKING, 0x10, UPDATE, 32, in.data(), out.data(),
                               nullptr));
  EXPECT_EQ(0x208E, sent_last(d()).opcode);
  EXPECT_EQ(1, sent_last(d()).command_type);
  EXPECT_EQ(1, sent_last(d()).dma_mode);
  ASSERT_EQ(0u, Qel2EncryptRc4(session_, OSTREL_BLOCKING, 0x10, NO_UPDATE, 32, in.data(),
                               out.data(), nullptr));
  EXPECT_EQ(0x008E, sent_last(d()).opcode);
  global_dma_mode = OSTREL_DIRECT;
  d().clear_captured();
  // A context handle of 0 passes the load (the HSM's to judge), not the encryption.
  Qel2InitializeRc4(session_, OSTREL_BLOCKING, 0, key, nullptr);
  EXPECT_EQ(1u, sent_count(d()));
  d().clear_captured();
  struct Case {
    const char *name;
    std::function<Uint32()> call;
    Uint32 want;
  };
  const Case cases[] = {
      {"context 0",
       [&] {
         return Qel2EncryptRc4(session_, OSTREL_BLOCKING, 0, UPDATE, 4, in.data(), out.data(),
                               nullptr);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"bit 63, multiple of 8 only",
       [&] {
         return Qel2EncryptRc4(session_, OSTREL_BLOCKING, 0x8000000000000008ull, UPDATE, 4,
                               in.data(), out.data(), nullptr);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"load: bit 63, multiple of 8 only",
       [&] {
         return Qel2InitializeRc4(session_, OSTREL_BLOCKING, 0x8000000000000008ull, key, nullptr);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"misaligned",
       [&] {
         return Qel2EncryptRc4(session_, OSTREL_BLOCKING, 12, UPDATE, 4, in.data(), out.data(),
                               nullptr);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"update 2",
       [&] {
         return Qel2EncryptRc4(session_, OSTREL_BLOCKING, 16, ContextUpdate(2), 4, in.data(),
                               out.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"length 0x7FF1",
       [&] {
         return Qel2EncryptRc4(session_, OSTREL_BLOCKING, 16, UPDATE, 0x7FF1, in.data(), out.data(),
                               nullptr);
       },
       ERR_UNSUPPORTED_INPUT_LENGTH},
      {"non-blocking without id",
       [&] { return Qel2InitializeRc4(session_, OSTREL_NON_BLOCKING, 16, key, nullptr); },
       ERR_ARGUMENTS_BAD},
  };
  for (const auto &c : cases) EXPECT_EQ(c.want, c.call()) << c.name;
  EXPECT_EQ(0u, sent_count(d()));
  // A context nothing was loaded into.
  EXPECT_EQ(0x81u, Qel2EncryptRc4(session_, OSTREL_BLOCKING, 0x2000, UPDATE, 4, in.data(),
                                  out.data(), nullptr));
}

class Tunnel : public CryptoTest {};

TEST_F(Tunnel, EchoedRecordAndSequence) {
  Bytes seq = {0, 0, 0, 0, 0, 0, 1, 0xFF}, rec(100), fw_seq(8), answer(200, 0xEE);
  for (size_t i = 0; i < rec.size(); ++i) rec[i] = Uint8(i);
  ASSERT_EQ(0u, Qel2E2ESubmitRecord(session_ | 0x40000000, OSTREL_BLOCKING, seq.data(), rec.data(),
                                    100, fw_seq.data(), answer.data(), 200, 30, nullptr));
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0, 0, 2, 0}), fw_seq);
  EXPECT_EQ(rec, Bytes(answer.begin(), answer.begin() + 100));
  const Request w = sent_last(d());
  EXPECT_EQ(0xEEE0, w.command_type);
  EXPECT_EQ(0x300D, w.opcode);
  EXPECT_EQ(92, w.param1);
  EXPECT_EQ(0x20A7, w.param2);
  EXPECT_EQ(108, w.dlen);
  EXPECT_EQ(208, w.rlen);
  EXPECT_EQ(30u, w.timeout);
  EXPECT_EQ(session_ | 0x40000000, w.sess_handle);  // the whole handle
  ASSERT_EQ(2u, w.in.size());
  ASSERT_EQ(2u, w.out.size());
  EXPECT_EQ(8, w.in[0].size);
  EXPECT_EQ(100, w.in[1].size);
  EXPECT_EQ(8, w.out[0].size);
  EXPECT_EQ(200, w.out[1].size);
  // The Err form carries the same request; nothing is written through its extra pointers.
  Uint8 err = 0x5A;
  Uint16 rlen = 0x1234;
  ASSERT_EQ(0u,
            Qel2E2ESubmitRecordErr(session_, OSTREL_BLOCKING, seq.data(), rec.data(), 100,
                                   fw_seq.data(), answer.data(), 200, &err, &rlen, 30, nullptr));
  EXPECT_EQ(0x5A, err);
  EXPECT_EQ(0x1234, rlen);
  // A 4-byte record: param1 wraps in 16 bits.
  d().clear_captured();
  Qel2E2ESubmitRecord(session_, OSTREL_BLOCKING, seq.data(), rec.data(), 4, fw_seq.data(),
                      answer.data(), 200, 30, nullptr);
  EXPECT_EQ(0xFFFC, sent_last(d()).param1);
}

TEST_F(Tunnel, Checks) {
  Bytes seq(8), rec(16), fw(8), ans(16);
  Uint8 err = 0;
  EXPECT_EQ(Uint32(ERR_ARGUMENTS_BAD),
            Qel2E2ESubmitRecord(session_, OSTREL_BLOCKING, seq.data(), nullptr, 16, fw.data(),
                                ans.data(), 16, 10, nullptr));
  EXPECT_EQ(Uint32(ERR_ARGUMENTS_BAD),
            Qel2E2ESubmitRecordErr(session_, OSTREL_BLOCKING, seq.data(), rec.data(), 16, fw.data(),
                                   ans.data(), 16, &err, nullptr, 10, nullptr));
  EXPECT_EQ(Uint32(ERR_ARGUMENTS_BAD),
            Qel2E2ESubmitRecord(session_, OSTREL_NON_BLOCKING, seq.data(), rec.data(), 16,
                                fw.data(), ans.data(), 16, 10, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
  Uint32 id = 0;
  ASSERT_EQ(Uint32(ERR_REQUEST_PENDING),
            Qel2E2ESubmitRecord(session_, OSTREL_NON_BLOCKING, seq.data(), rec.data(), 16,
                                fw.data(), ans.data(), 16, 10, &id));
  EXPECT_EQ(0u, collect(id));
  EXPECT_EQ(rec, ans);
}

}  // namespace
