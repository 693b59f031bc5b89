// Random bytes, digests and HMAC: known answers from the NIST and RFC files,
// the requests as framed, the argument checks, non-blocking windows and the
// stand-in's strict checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "crypto_fixture.h"
#include "request/app_state.h"

using namespace crypto_test;

namespace {

// The message of a NIST/RFC record: Len is in bits, "Msg = 00" for Len 0.
Bytes message(const Record &r) {
  Bytes m = r.bytes("Msg");
  m.resize(std::stoul(r["Len"]) / 8);
  return m;
}

struct HashFile {
  HashType type;
  const char *file;
};
const HashFile kShaFiles[] = {{SHA1_TYPE, "hashes/SHA1/SHA1ShortMsg.rsp"},
                              {SHA224_TYPE, "hashes/SHA2/SHA224ShortMsg.rsp"},
                              {SHA256_TYPE, "hashes/SHA2/SHA256ShortMsg.rsp"},
                              {SHA384_TYPE, "hashes/SHA2/SHA384ShortMsg.rsp"},
                              {SHA512_TYPE, "hashes/SHA2/SHA512ShortMsg.rsp"}};

// A handful per file: empty, one byte, one block and beyond.
std::vector<Record> sha_records(const char *file) {
  return load(file, 6, [](const Record &r) {
    const auto len = std::stoul(r["Len"]);
    return len == 0 || len == 8 || len == 440 || len == 512 || len == 1024 || len == 1536;
  });
}

class Digest : public CryptoTest {
 protected:
  // The three steps over a context: first third with the start, the middle
  // in an update, the rest with the finish.
  Uint32 three_steps(HashType t, Bytes m, Bytes &out, uint64_t ctx = 0x1000) {
    const Uint16 a = Uint16(m.size() / 3), b = Uint16(m.size() - m.size() / 3);
    out.assign(64, 0);
    m.push_back(0);  // a readable byte even for an empty message
    if (Uint32 r = Qel2HashStart(session_, OSTREL_BLOCKING, ctx, t, a, m.data(), nullptr)) return r;
    if (Uint32 r =
            Qel2HashUpdate(session_, OSTREL_BLOCKING, ctx, t, Uint16(b - a), m.data() + a, nullptr))
      return r;
    const Uint16 rest = Uint16(m.size() - 1 - b);
    Uint32 r =
        Qel2HashFinish(session_, OSTREL_BLOCKING, ctx, t, rest, m.data() + b, out.data(), nullptr);
    out.resize(get_hash_size(t));
    return r;
  }
};

TEST_F(Digest, ShaKnownAnswersOneShotAndInThreeSteps) {
  for (const auto &f : kShaFiles) {
    auto recs = sha_records(f.file);
    SKIP_WITHOUT(recs, f.file);
    for (const auto &r : recs) {
      Bytes m = message(r);
      Bytes out(get_hash_size(f.type));
      ASSERT_EQ(0u, Qel2Hash(session_, OSTREL_BLOCKING, f.type, Uint16(m.size()), m.data(),
                             out.data(), nullptr))
          << f.file << " Len " << r["Len"];
      EXPECT_EQ(r.bytes("MD"), out) << f.file << " Len " << r["Len"];
      Bytes stepped;
      ASSERT_EQ(0u, three_steps(f.type, m, stepped)) << f.file;
      EXPECT_EQ(r.bytes("MD"), stepped) << f.file << " Len " << r["Len"];
    }
  }
}

TEST_F(Digest, Md5OnlyInThreeSteps) {
  auto recs = load("hashes/MD5/rfc-1321.txt", 7);
  SKIP_WITHOUT(recs, "rfc-1321.txt");
  for (const auto &r : recs) {
    Bytes out;
    ASSERT_EQ(0u, three_steps(MD5_TYPE, message(r), out));
    EXPECT_EQ(r.bytes("MD"), out) << "Len " << r["Len"];
  }
  Uint8 h[16];
  Uint8 m[1] = {0x61};
  EXPECT_EQ(Uint32(ERR_ARGUMENTS_BAD),
            Qel2Hash(session_, OSTREL_BLOCKING, MD5_TYPE, 1, m, h, nullptr));
}

TEST_F(Digest, HmacRfc4231) {
  const HashFile files[] = {{SHA224_TYPE, "HMAC/rfc-4231-sha224.txt"},
                            {SHA256_TYPE, "HMAC/rfc-4231-sha256.txt"},
                            {SHA384_TYPE, "HMAC/rfc-4231-sha384.txt"},
                            {SHA512_TYPE, "HMAC/rfc-4231-sha512.txt"}};
  for (const auto &f : files) {
    auto recs = load(f.file, 10);
    SKIP_WITHOUT(recs, f.file);
    for (const auto &r : recs) {
      const uint64_t key = secret(16, r.bytes("Key"));
      Bytes m = r.bytes("Msg"), out(get_hash_size(f.type));
      ASSERT_EQ(0u, Qel2Hmac(session_, OSTREL_BLOCKING, f.type, key, Uint16(m.size()), m.data(),
                             out.data(), nullptr))
          << f.file;
      EXPECT_EQ(r.bytes("MD"), out) << f.file << " key " << r["Key"];
    }
  }
}

TEST_F(Digest, RandomBytes) {
  Bytes a(48, 0), b(48, 0);
  ASSERT_EQ(0u, Qel2Random(session_, OSTREL_BLOCKING, 48, a.data(), nullptr));
  ASSERT_EQ(0u, Qel2Random(session_, OSTREL_BLOCKING, 48, b.data(), nullptr));
  EXPECT_NE(a, b);
  EXPECT_NE(Bytes(48, 0), a);
  Uint8 none[1];
  EXPECT_EQ(0u, Qel2Random(session_, OSTREL_BLOCKING, 0, none, nullptr));
  EXPECT_EQ(0u, sent_last(d()).out[0].size);
}

TEST_F(Digest, RandomRefusesANullBufferAndAShortAnswer) {
  EXPECT_EQ(Uint32(ERR_ARGUMENTS_BAD), Qel2Random(session_, OSTREL_BLOCKING, 16, nullptr, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
  hsmsim::Answer a;
  a.payload = Bytes(5, 0xAB);
  a.count = 1;
  d().script(KQ_VANTOR_CMD, 0x0101, a);
  Bytes out(16, 0);
  EXPECT_NE(0u, Qel2Random(session_, OSTREL_BLOCKING, 16, out.data(), nullptr));
}

// Length 0 asks for nothing: no buffer is needed, an empty output segment
// goes out.
TEST_F(Digest, RandomOfLengthZeroNeedsNoBuffer) {
  EXPECT_EQ(0u, Qel2Random(session_, OSTREL_BLOCKING, 0, nullptr, nullptr));
  ASSERT_EQ(1u, sent_count(d()));
  const Request w = sent_last(d());
  ASSERT_EQ(1u, w.out.size());
  EXPECT_EQ(0, w.out[0].size);
  EXPECT_EQ(0, w.rlen);
  EXPECT_EQ(0, w.param1);
}

// The requests as framed, byte for byte where the convention fixes them.
TEST_F(Digest, RequestLayouts) {
  Uint8 msg[5] = {1, 2, 3, 4, 5}, out[64];
  const uint64_t key = secret(16, Bytes(32, 7));
  expect_layout(
      d(),
      {
          {.name = "SHA-256",
           .call =
               [&] {
                 return Qel2Hash(session_ | 0x40000000, OSTREL_BLOCKING, SHA256_TYPE, 5, msg, out,
                                 nullptr);
               },
           .command_type = 1,
           .opcode = 0x0606,
           .param1 = 0,
           .param2 = 3,
           .dlen = 5,
           .rlen = 32,
           .ins = {5},
           .outs = {{32, 24}}},
          {.name = "SHA-384",
           .call =
               [&] {
                 return Qel2Hash(session_, OSTREL_BLOCKING, SHA384_TYPE, 5, msg, out, nullptr);
               },
           .command_type = 1,
           .opcode = 0x0606,
           .param1 = 0,
           .param2 = 4,
           .dlen = 69,
           .rlen = 48,
           .ins = {64, 5},
           .outs = {{48, 24}}},
          {.name = "SHA-224",
           .call =
               [&] {
                 return Qel2Hash(session_, OSTREL_BLOCKING, SHA224_TYPE, 5, msg, out, nullptr);
               },
           .command_type = 1,
           .opcode = 0x0606,
           .param1 = 0,
           .param2 = 6,
           .dlen = 37,
           .rlen = 28,
           .ins = {32, 5},
           .outs = {{28, 24}}},
          {.name = "empty message",
           .call =
               [&] {
                 return Qel2Hash(session_, OSTREL_BLOCKING, SHA1_TYPE, 0, nullptr, out, nullptr);
               },
           .command_type = 1,
           .opcode = 0x0606,
           .param1 = 0,
           .param2 = 2,
           .dlen = 0,
           .rlen = 20,
           .ins = {0},
           .outs = {{20, 24}}},
          {.name = "HMAC SHA-256",
           .call =
               [&] {
                 return Qel2Hmac(session_, OSTREL_BLOCKING, SHA256_TYPE, key, 5, msg, out, nullptr);
               },
           .command_type = 4,
           .opcode = 0x0607,
           .param1 = 8,
           .param2 = 3,
           .dlen = 13,
           .rlen = 32,
           .ins = {8, 5},
           .outs = {{32, 24}}},
          {.name = "HMAC SHA-512",
           .call =
               [&] {
                 return Qel2Hmac(session_, OSTREL_BLOCKING, SHA512_TYPE, key, 5, msg, out, nullptr);
               },
           .command_type = 4,
           .opcode = 0x0607,
           .param1 = 8,
           .param2 = 5,
           .dlen = 77,
           .rlen = 64,
           .ins = {64, 8, 5},
           .outs = {{64, 24}}},
          {.name = "random",
           .call = [&] { return Qel2Random(session_, OSTREL_BLOCKING, 40, out, nullptr); },
           .command_type = 1,
           .opcode = 0x0101,
           .param1 = 40,
           .param2 = 0,
           .dlen = 0,
           .rlen = 40,
           .ins = {},
           .outs = {{40, 40}}},
          {.name = "start MD5",
           .call =
               [&] {
                 return Qel2HashStart(session_, OSTREL_BLOCKING, 0x2000, MD5_TYPE, 0, nullptr,
                                      nullptr);
               },
           .command_type = 1,
           .opcode = 0x0206,
           .param1 = 0,
           .param2 = 1,
           .dlen = 0,
           .rlen = 0,
           .ins = {},
           .outs = {}},
          {.name = "start SHA-512",
           .call =
               [&] {
                 return Qel2HashStart(session_, OSTREL_BLOCKING, 0x2000, SHA512_TYPE, 5, msg,
                                      nullptr);
               },
           .command_type = 1,
           .opcode = 0x0206,
           .param1 = 0,
           .param2 = 5,
           .dlen = 69,
           .rlen = 0,
           .ins = {64, 5},
           .outs = {}},
          {.name = "update, empty",
           .call =
               [&] {
                 return Qel2HashUpdate(session_, OSTREL_BLOCKING, 0x2000, SHA512_TYPE, 0, msg,
                                       nullptr);
               },
           .command_type = 1,
           .opcode = 0x0006,
           .param1 = 0,
           .param2 = 5,
           .dlen = 0,
           .rlen = 0,
           .ins = {0},
           .outs = {}},
          {.name = "finish",
           .call =
               [&] {
                 return Qel2HashFinish(session_, OSTREL_BLOCKING, 0x2000, SHA512_TYPE, 0, nullptr,
                                       out, nullptr);
               },
           .command_type = 1,
           .opcode = 0x0406,
           .param1 = 0,
           .param2 = 5,
           .dlen = 0,
           .rlen = 64,
           .ins = {},
           .outs = {{64, 24}}},
      },
      {.result = 0, .msg_type = 0x57, .timeout = 10, .session = session_ & 0x3FFFFFFF});
  // SHA-384's initial value, big-endian: H0 first.
  d().clear_captured();
  Qel2Hash(session_, OSTREL_BLOCKING, SHA384_TYPE, 5, msg, out, nullptr);
  const Bytes iv = sent_last(d()).input(0);
  EXPECT_EQ((Bytes{0xcb, 0xbb, 0x9d, 0x5d, 0xc1, 0x05, 0x9e, 0xd8}),
            Bytes(iv.begin(), iv.begin() + 8));
  // The key segment: the handle big-endian, and in host order in the descriptor.
  d().clear_captured();
  Qel2Hmac(session_, OSTREL_BLOCKING, SHA1_TYPE, key, 5, msg, out, nullptr);
  EXPECT_EQ(key, be64(sent_last(d()).input(0)));
  EXPECT_EQ(key, sent_last(d()).key_handle);
  EXPECT_EQ(0u, sent_last(d()).ctx_ptr);
}

TEST_F(Digest, DmaBit) {
  Uint8 msg[3] = {1, 2, 3}, out[64];
  const uint64_t key = secret(16, Bytes(20, 9));
  global_dma_mode = OSTREL_SCATTER_GATHER;
  EXPECT_EQ(0u, Qel2Random(session_, OSTREL_BLOCKING, 4, out, nullptr));
  EXPECT_EQ(0x0181, sent_last(d()).opcode);
  EXPECT_EQ(0, sent_last(d()).dma_mode);
  EXPECT_EQ(0u, Qel2Hmac(session_, OSTREL_BLOCKING, SHA1_TYPE, key, 3, msg, out, nullptr));
  EXPECT_EQ(0x0687, sent_last(d()).opcode);
  EXPECT_EQ(1, sent_last(d()).dma_mode);
  global_dma_mode = OSTREL_DIRECT;
}

TEST_F(Digest, ArgumentChecksSendNothing) {
  Uint8 msg[4] = {}, out[64];
  Uint32 id = 0;
  struct Case {
    const char *name;
    std::function<Uint32()> call;
    Uint32 want;
  };
  const Case cases[] = {
      {"hash: null message with a length",
       [&] { return Qel2Hash(session_, OSTREL_BLOCKING, SHA256_TYPE, 5, nullptr, out, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"hash: null output",
       [&] { return Qel2Hash(session_, OSTREL_BLOCKING, SHA256_TYPE, 4, msg, nullptr, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"hash: non-blocking without id",
       [&] { return Qel2Hash(session_, OSTREL_NON_BLOCKING, SHA256_TYPE, 4, msg, out, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"hash: speed mode without id",
       [&] { return Qel2Hash(session_, OSTREL_SPEED, SHA256_TYPE, 4, msg, out, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"hash: type 7",
       [&] { return Qel2Hash(session_, OSTREL_BLOCKING, AESCMAC_TYPE, 4, msg, out, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"start: type 0",
       [&] { return Qel2HashStart(session_, OSTREL_BLOCKING, 8, HashType(0), 4, msg, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"start: context 0",
       [&] { return Qel2HashStart(session_, OSTREL_BLOCKING, 0, SHA1_TYPE, 4, msg, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"start: null message with a length",
       [&] { return Qel2HashStart(session_, OSTREL_BLOCKING, 8, SHA1_TYPE, 4, nullptr, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"update: null message",
       [&] { return Qel2HashUpdate(session_, OSTREL_BLOCKING, 8, SHA1_TYPE, 0, nullptr, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"finish: null output",
       [&] {
         return Qel2HashFinish(session_, OSTREL_BLOCKING, 8, SHA1_TYPE, 0, nullptr, nullptr,
                               nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"finish: null message with a length",
       [&] {
         return Qel2HashFinish(session_, OSTREL_BLOCKING, 8, SHA1_TYPE, 2, nullptr, out, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"hmac: MD5",
       [&] { return Qel2Hmac(session_, OSTREL_BLOCKING, MD5_TYPE, 16, 4, msg, out, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"hmac: null output",
       [&] { return Qel2Hmac(session_, OSTREL_BLOCKING, SHA1_TYPE, 16, 4, msg, nullptr, nullptr); },
       ERR_ARGUMENTS_BAD},
      {"random: non-blocking without id",
       [&] { return Qel2Random(session_, OSTREL_NON_BLOCKING, 4, out, nullptr); },
       ERR_ARGUMENTS_BAD},
  };
  for (const auto &c : cases) EXPECT_EQ(c.want, c.call()) << c.name;
  EXPECT_EQ(0u, sent_count(d()));
  // A blocking call with an id pointer reports the id it used.
  EXPECT_EQ(0u, Qel2Random(session_, OSTREL_BLOCKING, 4, out, &id));
  EXPECT_NE(0u, id);
}

// A window of non-blocking digests and HMACs, collected in reverse order:
// each output arrives where its caller asked, after the call returned.
TEST_F(Digest, NonBlockingWindowCollectedOutOfOrder) {
  const uint64_t key = secret(16, Bytes(24, 0x42));
  constexpr int kN = 12;
  std::vector<Bytes> msgs(kN), outs(kN, Bytes(64, 0));
  std::vector<Uint32> ids(kN);
  for (int i = 0; i < kN; ++i) {
    msgs[i] = Bytes(size_t(i * 13), uint8_t(i));
    msgs[i].push_back(uint8_t(i));
    const HashType t = HashType(2 + i % 5);
    const Uint32 r = i % 2 ? Qel2Hmac(session_, OSTREL_NON_BLOCKING, t, key, Uint16(msgs[i].size()),
                                      msgs[i].data(), outs[i].data(), &ids[i])
                           : Qel2Hash(session_, OSTREL_NON_BLOCKING, t, Uint16(msgs[i].size()),
                                      msgs[i].data(), outs[i].data(), &ids[i]);
    ASSERT_EQ(Uint32(ERR_REQUEST_PENDING), r);
  }
  for (int i = kN - 1; i >= 0; --i) ASSERT_EQ(0u, collect(ids[i])) << i;
  for (int i = 0; i < kN; ++i) {
    const HashType t = HashType(2 + i % 5);
    Bytes want(64, 0);
    if (i % 2)
      Qel2Hmac(session_, OSTREL_BLOCKING, t, key, Uint16(msgs[i].size()), msgs[i].data(),
               want.data(), nullptr);
    else
      Qel2Hash(session_, OSTREL_BLOCKING, t, Uint16(msgs[i].size()), msgs[i].data(), want.data(),
               nullptr);
    EXPECT_EQ(want, outs[i]) << i;
  }
}

// What the stand-in refuses: a key segment in the wrong byte order, a SHA-2
// initial value that is not the standard one, and steps without a start.
TEST_F(Digest, StandInStrictChecks) {
  const uint64_t key = secret(16, Bytes(16, 1));
  Bytes le(8), msg(4, 0x55);
  for (int i = 0; i < 8; ++i) le[i] = uint8_t(key >> (8 * i));
  hsmsim::HsmRequest rq;
  rq.command_type = 4;
  rq.opcode = 0x0607;
  rq.param1 = 8;
  rq.param2 = SHA256_TYPE;
  rq.session_handle = session_;
  rq.key_handle = key;
  rq.inputs = {le, msg};
  rq.output_sizes = {32};
  EXPECT_EQ(0x3Cu, d().hsm().execute(rq).status);
  Bytes iv(64, 0);
  rq.command_type = 1;
  rq.opcode = 0x0606;
  rq.param2 = SHA384_TYPE;
  rq.inputs = {iv, msg};
  EXPECT_EQ(0x3Cu, d().hsm().execute(rq).status);
  Uint8 out[32];
  EXPECT_EQ(0x81u,
            Qel2HashUpdate(session_, OSTREL_BLOCKING, 0x3000, SHA256_TYPE, 4, msg.data(), nullptr));
  EXPECT_EQ(0x81u, Qel2HashFinish(session_, OSTREL_BLOCKING, 0x3000, SHA256_TYPE, 0, nullptr, out,
                                  nullptr));
}

}  // namespace
