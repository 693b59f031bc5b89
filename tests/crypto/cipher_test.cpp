// 3DES and AES in CBC, ECB and CTR: NIST and RFC 3686 known answers through
// every variant, the requests as framed, the argument checks and a
// non-blocking window.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <functional>
#include <map>
#include <string>

#include "crypto_fixture.h"
#include "request/app_state.h"

using namespace crypto_test;

namespace {

constexpr uint8_t kAesKey = 31, kDes3Key = 21;

// One way to run a cipher: (length, in, out, iv, key) -> status.
using Variant = std::function<Uint32(Uint16, Uint8 *, Uint8 *, Uint8 *, Uint64)>;

class Cipher : public CryptoTest {
 protected:
  // Each record through the next variant in turn; returns how many ran.
  void check_file(const std::string &file, uint8_t key_type, const std::vector<Variant> &enc,
                  const std::vector<Variant> &dec, size_t per_section = 3) {
    auto recs = load(file, 2 * per_section,
                     [n = std::map<std::string, size_t>{}, per_section](const Record &r) mutable {
                       return n[r.section]++ < per_section;
                     });
    SKIP_WITHOUT(recs, file);
    size_t i = 0;
    for (const auto &r : recs) {
      Bytes key = r.has("KEY") ? r.bytes("KEY") : r.bytes("KEY1");
      if (r.has("KEY2")) {
        for (const char *k : {"KEY2", "KEY3"}) {
          Bytes part = r.bytes(k);
          key.insert(key.end(), part.begin(), part.end());
        }
      }
      const uint64_t h = secret(key_type, key);
      const bool encrypt = r.section == "ENCRYPT";
      Bytes in = r.bytes(encrypt ? "PLAINTEXT" : "CIPHERTEXT");
      const Bytes want = r.bytes(encrypt ? "CIPHERTEXT" : "PLAINTEXT");
      Bytes iv = r.has("IV") ? r.bytes("IV") : Bytes(16, 0);
      Bytes out(in.size() + 16, 0xEE);
      const auto &runs = encrypt ? enc : dec;
      const Variant &run = runs[i++ % runs.size()];
      ASSERT_EQ(0u, run(Uint16(in.size()), in.data(), out.data(), iv.data(), h))
          << file << " " << r.section << " " << r["COUNT"];
      out.resize(want.size());
      EXPECT_EQ(want, out) << file << " " << r.section << " " << r["COUNT"];
    }
  }
  Variant plain(Uint32 (*f)(Uint32, request_type, Uint16, Uint8 *, Uint8 *, Uint8 *, Uint64,
                            Uint32 *)) {
    return [this, f](Uint16 l, Uint8 *in, Uint8 *out, Uint8 *iv, Uint64 k) {
      return f(session_, OSTREL_BLOCKING, l, in, out, iv, k, nullptr);
    };
  }
  Variant capacity(Uint32 (*f)(Uint32, request_type, Uint16, Uint8 *, Uint8 *, Ulong *, Uint8 *,
                               Uint64, Uint32 *)) {
    return [this, f](Uint16 l, Uint8 *in, Uint8 *out, Uint8 *iv, Uint64 k) {
      Ulong cap = l;
      return f(session_, OSTREL_BLOCKING, l, in, out, &cap, iv, k, nullptr);
    };
  }
  Variant by_mode(Uint32 (*f)(Uint32, request_type, Uint16, Uint8 *, Uint8 *, CipherMode, Uint8 *,
                              Uint64, Uint32 *),
                  CipherMode m) {
    return [this, f, m](Uint16 l, Uint8 *in, Uint8 *out, Uint8 *iv, Uint64 k) {
      return f(session_, OSTREL_BLOCKING, l, in, out, m, iv, k, nullptr);
    };
  }
  Variant ecb(Uint32 (*f)(Uint32, request_type, Uint16, Uint8 *, Uint8 *, Uint64, Uint32 *)) {
    return [this, f](Uint16 l, Uint8 *in, Uint8 *out, Uint8 *, Uint64 k) {
      return f(session_, OSTREL_BLOCKING, l, in, out, k, nullptr);
    };
  }
};

TEST_F(Cipher, AesCbcAndEcbKnownAnswers) {
  for (const char *bits : {"128", "192", "256"}) {
    check_file(std::string("ciphers/AES/CBC/CBCMMT") + bits + ".rsp", kAesKey,
               {plain(Qel2EncryptAes), plain(Qel2EncryptAesCBC), capacity(Qel2EncryptAes2),
                by_mode(Qel2EncryptAesByCipherMode, CBC)},
               {plain(Qel2DecryptAes), plain(Qel2DecryptAesCBC), capacity(Qel2DecryptAes2),
                by_mode(Qel2DecryptAesByCipherMode, CBC)},
               4);
    check_file(std::string("ciphers/AES/ECB/ECBMMT") + bits + ".rsp", kAesKey,
               {ecb(Qel2EncryptAesECB), by_mode(Qel2EncryptAesByCipherMode, ECB)},
               {ecb(Qel2DecryptAesECB), by_mode(Qel2DecryptAesByCipherMode, ECB)});
  }
}

TEST_F(Cipher, TripleDesCbcAndEcbKnownAnswers) {
  check_file("ciphers/3DES/CBC/TCBCMMT3.rsp", kDes3Key,
             {plain(Qel2Encrypt3Des), plain(Qel2Encrypt3DesCBC), capacity(Qel2Encrypt3Des2),
              by_mode(Qel2Encrypt3DesByCipherMode, CBC)},
             {plain(Qel2Decrypt3Des), plain(Qel2Decrypt3DesCBC), capacity(Qel2Decrypt3Des2),
              by_mode(Qel2Decrypt3DesByCipherMode, CBC)},
             4);
  check_file("ciphers/3DES/ECB/TECBMMT3.rsp", kDes3Key,
             {ecb(Qel2Encrypt3DesECB), by_mode(Qel2Encrypt3DesByCipherMode, ECB)},
             {ecb(Qel2Decrypt3DesECB), by_mode(Qel2Decrypt3DesByCipherMode, ECB)});
}

TEST_F(Cipher, AesCtrRfc3686BothWays) {
  for (const char *bits : {"128", "192", "256"}) {
    const std::string file = std::string("ciphers/AES/CTR/aes-") + bits + "-ctr.txt";
    auto recs = load(file, 3);
    SKIP_WITHOUT(recs, file);
    for (const auto &r : recs) {
      const uint64_t k = secret(kAesKey, r.bytes("KEY"));
      Bytes iv = r.bytes("IV"), pt = r.bytes("PLAINTEXT"), ct(pt.size()), back(pt.size());
      ASSERT_EQ(0u, Qel2EncryptAesCtr(session_, OSTREL_BLOCKING, Uint16(pt.size()), pt.data(),
                                      ct.data(), iv.data(), k, nullptr));
      EXPECT_EQ(r.bytes("CIPHERTEXT"), ct) << file << " " << r["COUNT"];
      ASSERT_EQ(0u, Qel2DecryptAesCtr(session_, OSTREL_BLOCKING, Uint16(ct.size()), ct.data(),
                                      back.data(), iv.data(), k, nullptr));
      EXPECT_EQ(pt, back) << file;
    }
  }
}

TEST_F(Cipher, RequestLayouts) {
  const uint64_t aes = secret(kAesKey, Bytes(16, 3)), des = secret(kDes3Key, Bytes(24, 5));
  Bytes in(0x7FF0, 0x11), out(0x8000), iv(16, 0x22);
  Ulong cap = 100;
  // Results are not checked: requests without an output segment are the HSM's to refuse.
  expect_layout(d(),
                {
                    {.name = "3DES-CBC 13",
                     .call =
                         [&] {
                           return Qel2Encrypt3Des(session_, OSTREL_BLOCKING, 13, in.data(),
                                                  out.data(), iv.data(), des, nullptr);
                         },
                     .opcode = 0x040E,
                     .param1 = 0,
                     .dlen = 29,
                     .rlen = 16,
                     .ins = {8, 8, 13},
                     .outs = {{16, 13}}},
                    {.name = "3DES-CBC 2, capacity 100",
                     .call =
                         [&] {
                           return Qel2Encrypt3Des2(session_, OSTREL_BLOCKING, 13, in.data(),
                                                   out.data(), &cap, iv.data(), des, nullptr);
                         },
                     .opcode = 0x040E,
                     .param1 = 0,
                     .dlen = 29,
                     .rlen = 100,
                     .ins = {8, 8, 13},
                     .outs = {{100, 100}}},
                    {.name = "3DES-ECB 13",
                     .call =
                         [&] {
                           return Qel2Encrypt3DesECB(session_, OSTREL_BLOCKING, 13, in.data(),
                                                     out.data(), des, nullptr);
                         },
                     .opcode = 0x040E,
                     .param1 = 16,
                     .dlen = 21,
                     .rlen = 16,
                     .ins = {8, 13},
                     .outs = {{16, 13}}},
                    {.name = "3DES by mode, no output",
                     .call =
                         [&] {
                           return Qel2Encrypt3DesByCipherMode(session_, OSTREL_BLOCKING, 16,
                                                              in.data(), nullptr, CBC, iv.data(),
                                                              des, nullptr);
                         },
                     .opcode = 0x040E,
                     .param1 = 0,
                     .dlen = 32,
                     .rlen = 0,
                     .ins = {8, 8, 16},
                     .outs = {}},
                    {.name = "AES-CBC 0x7FF0",
                     .call =
                         [&] {
                           return Qel2EncryptAes(session_, OSTREL_BLOCKING, 0x7FF0, in.data(),
                                                 out.data(), iv.data(), aes, nullptr);
                         },
                     .opcode = 0x060E,
                     .param1 = 0,
                     .dlen = 0x7FF0 + 24,
                     .rlen = 0x7FF0,
                     .ins = {16, 8, 0x7FF0},
                     .outs = {{0x7FF0, 0x7FF0}}},
                    {.name = "AES-CBC 20",
                     .call =
                         [&] {
                           return Qel2EncryptAes(session_, OSTREL_BLOCKING, 20, in.data(),
                                                 out.data(), iv.data(), aes, nullptr);
                         },
                     .opcode = 0x060E,
                     .param1 = 0,
                     .dlen = 44,
                     .rlen = 32,
                     .ins = {16, 8, 20},
                     .outs = {{32, 20}}},
                    {.name = "AES-ECB 32",
                     .call =
                         [&] {
                           return Qel2EncryptAesECB(session_, OSTREL_BLOCKING, 32, in.data(),
                                                    out.data(), aes, nullptr);
                         },
                     .opcode = 0x060E,
                     .param1 = 16,
                     .dlen = 40,
                     .rlen = 32,
                     .ins = {8, 32},
                     .outs = {{32, 32}}},
                    {.name = "AES-CBC decrypt 32",
                     .call =
                         [&] {
                           return Qel2DecryptAes(session_, OSTREL_BLOCKING, 32, in.data(),
                                                 out.data(), iv.data(), aes, nullptr);
                         },
                     .opcode = 0x070E,
                     .param1 = 0,
                     .dlen = 56,
                     .rlen = 32,
                     .ins = {16, 8, 32},
                     .outs = {{32, 32}}},
                    {.name = "AES-CTR 21",
                     .call =
                         [&] {
                           return Qel2EncryptAesCtr(session_, OSTREL_BLOCKING, 21, in.data(),
                                                    out.data(), iv.data(), aes, nullptr);
                         },
                     .opcode = 0x0018,
                     .param1 = 21,
                     .dlen = 45,
                     .rlen = 21,
                     .ins = {16, 8, 21},
                     .outs = {{21, 21}}},
                    {.name = "AES-CTR decrypt, no output",
                     .call =
                         [&] {
                           return Qel2DecryptAesCtr(session_, OSTREL_BLOCKING, 21, in.data(),
                                                    nullptr, iv.data(), aes, nullptr);
                         },
                     .opcode = 0x0118,
                     .param1 = 21,
                     .dlen = 45,
                     .rlen = 0,
                     .ins = {16, 8, 21},
                     .outs = {}},
                },
                {.command_type = 4, .param2 = 0, .timeout = 10});
  EXPECT_EQ(100u, cap);  // read, never written
  // AES-CTR never carries the DMA bit; the descriptor's DMA mode still follows.
  global_dma_mode = OSTREL_SCATTER_GATHER;
  EXPECT_EQ(0u, Qel2EncryptAesCtr(session_, OSTREL_BLOCKING, 16, in.data(), out.data(), iv.data(),
                                  aes, nullptr));
  EXPECT_EQ(0x0018, sent_last(d()).opcode);
  EXPECT_EQ(1, sent_last(d()).dma_mode);
  EXPECT_EQ(0u, Qel2EncryptAes(session_, OSTREL_BLOCKING, 16, in.data(), out.data(), iv.data(), aes,
                               nullptr));
  EXPECT_EQ(0x068E, sent_last(d()).opcode);
  global_dma_mode = OSTREL_DIRECT;
}

TEST_F(Cipher, ZeroPaddedEncryptionMatchesOpenSsl) {
  const Bytes key(24, 0x5A);
  const uint64_t des = secret(kDes3Key, key);
  Bytes in(13, 0x61), iv(8, 0x07), out(16, 0xEE);
  ASSERT_EQ(0u, Qel2Encrypt3Des(session_, OSTREL_BLOCKING, 13, in.data(), out.data(), iv.data(),
                                des, nullptr));
  Bytes padded = in;
  padded.resize(16, 0);
  Bytes want(32);
  int n = 0, m = 0;
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv.data());
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, want.data(), &n, padded.data(), 16);
  EVP_EncryptFinal_ex(ctx, want.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  want.resize(size_t(n + m));
  EXPECT_EQ(want, out);
}

TEST_F(Cipher, ArgumentChecks) {
  Bytes in(64), out(64), iv(16);
  Ulong cap = 64;
  struct Case {
    const char *name;
    std::function<Uint32()> call;
    Uint32 want;
  };
  const Case cases[] = {
      {"AES-CBC decrypt 17",
       [&] {
         return Qel2DecryptAes(session_, OSTREL_BLOCKING, 17, in.data(), out.data(), iv.data(), 16,
                               nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"AES-CBC 0x7FF1",
       [&] {
         return Qel2EncryptAes(session_, OSTREL_BLOCKING, 0x7FF1, in.data(), out.data(), iv.data(),
                               16, nullptr);
       },
       ERR_UNSUPPORTED_INPUT_LENGTH},
      {"3DES 0x7FF1 non-blocking without id",
       [&] {
         return Qel2Encrypt3Des(session_, OSTREL_NON_BLOCKING, 0x7FF1, in.data(), out.data(),
                                iv.data(), 16, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"AES-CTR 0x7FF1",
       [&] {
         return Qel2DecryptAesCtr(session_, OSTREL_BLOCKING, 0x7FF1, in.data(), out.data(),
                                  iv.data(), 16, nullptr);
       },
       ERR_UNSUPPORTED_INPUT_LENGTH},
      {"AES 2 without capacity",
       [&] {
         return Qel2EncryptAes2(session_, OSTREL_BLOCKING, 16, in.data(), out.data(), nullptr,
                                iv.data(), 16, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"AES 2 decrypt 17 before capacity",
       [&] {
         return Qel2DecryptAes2(session_, OSTREL_BLOCKING, 17, in.data(), out.data(), nullptr,
                                iv.data(), 16, nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"3DES 2 decrypt 0x7FF1 before capacity",
       [&] {
         return Qel2Decrypt3Des2(session_, OSTREL_BLOCKING, 0x7FF1, in.data(), out.data(), nullptr,
                                 iv.data(), 16, nullptr);
       },
       ERR_UNSUPPORTED_INPUT_LENGTH},
      {"3DES by mode CFB",
       [&] {
         return Qel2Encrypt3DesByCipherMode(session_, OSTREL_BLOCKING, 8, in.data(), out.data(),
                                            CFB, iv.data(), 16, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"AES by mode GCM",
       [&] {
         return Qel2DecryptAesByCipherMode(session_, OSTREL_BLOCKING, 16, in.data(), out.data(),
                                           GCM, iv.data(), 16, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"AES by mode CBC without IV, before the non-blocking check",
       [&] {
         return Qel2EncryptAesByCipherMode(session_, OSTREL_NON_BLOCKING, 16, in.data(), out.data(),
                                           CBC, nullptr, 16, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"AES-CBC without IV",
       [&] {
         return Qel2EncryptAes(session_, OSTREL_BLOCKING, 16, in.data(), out.data(), nullptr, 16,
                               nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"3DES without input",
       [&] {
         return Qel2Decrypt3Des(session_, OSTREL_BLOCKING, 16, nullptr, out.data(), iv.data(), 16,
                                nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"AES-ECB without output",
       [&] {
         return Qel2EncryptAesECB(session_, OSTREL_BLOCKING, 16, in.data(), nullptr, 16, nullptr);
       },
       ERR_ARGUMENTS_BAD},
  };
  for (const auto &c : cases) EXPECT_EQ(c.want, c.call()) << c.name;
  EXPECT_EQ(0u, sent_count(d()));
  (void)cap;
  // Whole blocks are the HSM's to require where the library does not check.
  const uint64_t aes = secret(kAesKey, Bytes(16, 1));
  EXPECT_EQ(0x0Fu, Qel2DecryptAesByCipherMode(session_, OSTREL_BLOCKING, 17, in.data(), out.data(),
                                              CBC, iv.data(), aes, nullptr));
  // A key of another type is refused by the HSM.
  EXPECT_EQ(0x118u, Qel2Encrypt3Des(session_, OSTREL_BLOCKING, 8, in.data(), out.data(), iv.data(),
                                    aes, nullptr));
}

TEST_F(Cipher, NonBlockingWindowCollectedOutOfOrder) {
  const uint64_t aes = secret(kAesKey, Bytes(32, 0x3C));
  constexpr int kN = 10;
  std::vector<Bytes> ins(kN), outs(kN), ivs(kN, Bytes(16, 0x09));
  std::vector<Uint32> ids(kN);
  for (int i = 0; i < kN; ++i) {
    ins[i] = Bytes(size_t(16 * (i + 1)), uint8_t(i));
    outs[i] = Bytes(ins[i].size(), 0);
    ASSERT_EQ(Uint32(ERR_REQUEST_PENDING),
              Qel2EncryptAes(session_, OSTREL_NON_BLOCKING, Uint16(ins[i].size()), ins[i].data(),
                             outs[i].data(), ivs[i].data(), aes, &ids[i]));
  }
  for (int i : {3, 9, 0, 5, 1, 8, 2, 7, 4, 6}) ASSERT_EQ(0u, collect(ids[i])) << i;
  for (int i = 0; i < kN; ++i) {
    Bytes want(ins[i].size());
    ASSERT_EQ(0u, Qel2EncryptAes(session_, OSTREL_BLOCKING, Uint16(ins[i].size()), ins[i].data(),
                                 want.data(), ivs[i].data(), aes, nullptr));
    EXPECT_EQ(want, outs[i]) << i;
  }
}

}  // namespace
