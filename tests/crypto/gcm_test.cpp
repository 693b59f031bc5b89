// AES-GCM and GMAC: NIST known answers both ways (tags of 4 to 16 bytes,
// forged ones refused), ciphertexts opened by OpenSSL on the host, the
// requests as framed, the argument checks and a non-blocking window.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>
#include <set>
#include <string>

#include "crypto_fixture.h"

using namespace crypto_test;

namespace {

constexpr uint8_t kAesKey = 31;

Bytes iv16(const Bytes &iv12) {
  Bytes iv = iv12;
  iv.resize(16, 0);
  return iv;
}

// One record per combination the key picks, 96-bit IVs only.
template <typename Key>
std::vector<Record> gcm_records(const std::string &file, size_t max, Key key) {
  std::set<std::string> seen;
  return load(file, max, [&](const Record &r) {
    const std::string k = key(r);  // empty: not wanted
    return r["IV"].size() == 24 && !k.empty() && seen.insert(k).second;
  });
}

class Gcm : public CryptoTest {};

TEST_F(Gcm, EncryptKnownAnswers) {
  for (const char *bits : {"128", "256"}) {
    const std::string file = std::string("ciphers/AES/GCM/gcmEncryptExtIV") + bits + ".rsp";
    auto recs = gcm_records(file, 25, [](const Record &r) {
      return r["Tag"].size() == 32
                 ? std::to_string(r["PT"].size()) + "/" + std::to_string(r["AAD"].size())
                 : std::string();
    });
    SKIP_WITHOUT(recs, file);
    for (const auto &r : recs) {
      const uint64_t k = secret(kAesKey, r.bytes("Key"));
      Bytes iv = iv16(r.bytes("IV")), aad = r.bytes("AAD"), pt = r.bytes("PT");
      Bytes ct(pt.size()), tag(16);
      ASSERT_EQ(0u, Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, Uint16(aad.size()),
                                      aad.data(), Uint16(pt.size()), pt.data(), ct.data(),
                                      tag.data(), nullptr))
          << file << " " << r["Count"];
      EXPECT_EQ(r.bytes("CT"), ct) << file << " " << r["Count"];
      EXPECT_EQ(r.bytes("Tag"), tag) << file << " " << r["Count"];
      // The IV the HSM used: the initial counter block.
      Bytes j0 = r.bytes("IV");
      j0.insert(j0.end(), {0, 0, 0, 1});
      EXPECT_EQ(j0, iv);
    }
  }
}

TEST_F(Gcm, DecryptKnownAnswersWithShortTagsAndForgeries) {
  const std::string file = "ciphers/AES/GCM/gcmDecrypt128.rsp";
  auto recs = gcm_records(file, 24, [](const Record &r) {
    const size_t t = r["Tag"].size();
    if (t != 32 && t != 24 && t != 16 && t != 8) return std::string();
    return std::to_string(t) + "/" + std::to_string(r["PT"].size() + r["CT"].size()) + "/" +
           std::to_string(r["AAD"].size()) + (r.has("FAIL") ? "F" : "");
  });
  SKIP_WITHOUT(recs, file);
  int forged = 0;
  for (const auto &r : recs) {
    const uint64_t k = secret(kAesKey, r.bytes("Key"));
    Bytes iv = iv16(r.bytes("IV")), aad = r.bytes("AAD"), ct = r.bytes("CT"), tag = r.bytes("Tag");
    Bytes pt(ct.size() + 1);
    const Uint32 got = Qel2DecryptAesGcm(
        session_, OSTREL_BLOCKING, iv.data(), k, Uint16(aad.size()), aad.data(), Uint16(ct.size()),
        ct.data(), Uint16(tag.size()), tag.data(), pt.data(), nullptr);
    if (r.has("FAIL")) {
      ++forged;
      EXPECT_EQ(0x12u, got) << "Count " << r["Count"];
    } else {
      ASSERT_EQ(0u, got) << "Count " << r["Count"];
      pt.resize(ct.size());
      EXPECT_EQ(r.bytes("PT"), pt) << "Count " << r["Count"];
    }
  }
  EXPECT_GT(forged, 0);
}

// Encrypted on the HSM, opened by OpenSSL on the host; an AAD of 13 bytes
// in a buffer of exactly 13 (ASan sees any read past it).
TEST_F(Gcm, OpenedByOpenSsl) {
  const Bytes key(32, 0x6B);
  const uint64_t k = secret(kAesKey, key);
  Bytes iv = iv16(Bytes(12, 0x31)), pt(40, 0x50), ct(40), tag(16);
  std::unique_ptr<Uint8[]> aad(new Uint8[13]);
  for (int i = 0; i < 13; ++i) aad[i] = Uint8(i);
  ASSERT_EQ(0u, Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, 13, aad.get(), 40,
                                  pt.data(), ct.data(), tag.data(), nullptr));
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  int n = 0;
  Bytes back(40);
  ASSERT_EQ(1, EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key.data(), iv.data()));
  EVP_DecryptUpdate(ctx, nullptr, &n, aad.get(), 13);
  EVP_DecryptUpdate(ctx, back.data(), &n, ct.data(), 40);
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag.data());
  EXPECT_EQ(1, EVP_DecryptFinal_ex(ctx, back.data() + n, &n));
  EVP_CIPHER_CTX_free(ctx);
  EXPECT_EQ(pt, back);
  // GMAC: the AAD alone, checked by the HSM both ways.
  Bytes iv2 = iv16(Bytes(12, 0x32)), mac(16);
  ASSERT_EQ(0u, Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv2.data(), k, 13, aad.get(), 0,
                                  nullptr, nullptr, mac.data(), nullptr));
  Bytes iv3 = iv16(Bytes(12, 0x32));
  EXPECT_EQ(0u, Qel2DecryptAesGcm(session_, OSTREL_BLOCKING, iv3.data(), k, 13, aad.get(), 0,
                                  nullptr, 16, mac.data(), nullptr, nullptr));
  mac[0] ^= 1;
  EXPECT_EQ(0x12u, Qel2DecryptAesGcm(session_, OSTREL_BLOCKING, iv3.data(), k, 13, aad.get(), 0,
                                     nullptr, 16, mac.data(), nullptr, nullptr));
}

TEST_F(Gcm, RequestLayouts) {
  const uint64_t k = secret(kAesKey, Bytes(16, 1));
  Bytes iv(16, 2), aad(300, 0xAA), in(64, 3), out(64), tag(16, 4);
  Ulong cap10 = 10, cap64 = 64;
  expect_layout(
      d(),
      {
          {.name = "encrypt A 13 L 40",
           .call =
               [&] {
                 return Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, 13, aad.data(),
                                          40, in.data(), out.data(), tag.data(), nullptr);
               },
           .opcode = 0x080E,
           .param1 = 40,
           .param2 = 0x0021,
           .dlen = 88,
           .rlen = 72,
           .ins = {{8, 8}, {16, 16}, {8, 8}, {16, 13}, {40, 40}},
           .outs = {{16, 16}, {40, 40}, {16, 16}}},
          {.name = "GMAC",
           .call =
               [&] {
                 return Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, 16, aad.data(),
                                          0, nullptr, nullptr, tag.data(), nullptr);
               },
           .opcode = 0x080E,
           .param1 = 0,
           .param2 = 0x8021,
           .dlen = 48,
           .rlen = 32,
           .ins = {{8, 8}, {16, 16}, {8, 8}, {16, 16}},
           .outs = {{16, 16}, {16, 16}}},
          {.name = "encrypt 2, capacity 10",
           .call =
               [&] {
                 return Qel2EncryptAesGcm2(session_, OSTREL_BLOCKING, iv.data(), k, 0, nullptr, 40,
                                           in.data(), out.data(), &cap10, tag.data(), nullptr);
               },
           .opcode = 0x080E,
           .param1 = 40,
           .param2 = 0x0021,
           .dlen = 72,
           .rlen = 42,
           .ins = {{8, 8}, {16, 16}, {8, 8}, {40, 40}},
           .outs = {{16, 16}, {10, 10}, {16, 16}}},
          {.name = "decrypt GMAC tag 16",
           .call =
               [&] {
                 return Qel2DecryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, 0, nullptr, 0,
                                          nullptr, 16, tag.data(), nullptr, nullptr);
               },
           .opcode = 0x090E,
           .param1 = 0,
           .param2 = 0x8038,
           .dlen = 48,
           .rlen = 0,
           .ins = {{8, 8}, {16, 16}, {8, 8}, {16, 16}},
           .outs = {}},
          {.name = "decrypt tag 12",
           .call =
               [&] {
                 return Qel2DecryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, 0, nullptr, 32,
                                          in.data(), 12, tag.data(), out.data(), nullptr);
               },
           .opcode = 0x090E,
           .param1 = 32,
           .param2 = 0x0030,
           .dlen = 76,
           .rlen = 32,
           .ins = {{8, 8}, {16, 16}, {8, 8}, {32, 32}, {12, 12}},
           .outs = {{32, 32}}},
          {.name = "decrypt 2, no output",
           .call =
               [&] {
                 return Qel2DecryptAesGcm2(session_, OSTREL_BLOCKING, iv.data(), k, 0, nullptr, 32,
                                           in.data(), 4, tag.data(), nullptr, &cap64, nullptr);
               },
           .opcode = 0x090E,
           .param1 = 32,
           .param2 = 0x0020,
           .dlen = 68,
           .rlen = 0,
           .ins = {{8, 8}, {16, 16}, {8, 8}, {32, 32}, {4, 4}},
           .outs = {}},
      },
      {.command_type = 4});
  // The AAD length word and the zero padding of a 13-byte AAD.
  d().clear_captured();
  Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, 13, aad.data(), 16, in.data(),
                    out.data(), tag.data(), nullptr);
  const Request w = sent_last(d());
  EXPECT_EQ((Bytes{0, 13, 0, 0, 0, 0, 0, 0}), w.input(0));
  EXPECT_EQ((Bytes{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0, 0, 0}),
            Bytes(w.in[3].bytes.begin() + 8, w.in[3].bytes.end()));
  d().clear_captured();
  Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, 0x0102, aad.data(), 16, in.data(),
                    out.data(), tag.data(), nullptr);
  EXPECT_EQ((Bytes{1, 2, 0, 0, 0, 0, 0, 0}), sent_last(d()).input(0));
}

TEST_F(Gcm, ArgumentChecks) {
  Bytes iv(16), in(32), out(32), tag(20);
  Ulong cap = 32;
  struct Case {
    const char *name;
    std::function<Uint32()> call;
    Uint32 want;
  };
  auto dec = [&](Uint16 tag_len) {
    return Qel2DecryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), 16, 0, nullptr, 32, in.data(),
                             tag_len, tag.data(), out.data(), nullptr);
  };
  const Case cases[] = {
      {"tag 0", [&] { return dec(0); }, ERR_INVALID_INPUT},
      {"tag 6", [&] { return dec(6); }, ERR_INVALID_INPUT},
      {"tag 15", [&] { return dec(15); }, ERR_INVALID_INPUT},
      {"tag 20", [&] { return dec(20); }, ERR_INVALID_INPUT},
      {"length 0x7FF1",
       [&] {
         return Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), 16, 0, nullptr, 0x7FF1,
                                  in.data(), out.data(), tag.data(), nullptr);
       },
       ERR_UNSUPPORTED_INPUT_LENGTH},
      {"non-blocking without id",
       [&] {
         return Qel2EncryptAesGcm(session_, OSTREL_NON_BLOCKING, iv.data(), 16, 0, nullptr, 32,
                                  in.data(), out.data(), tag.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"encrypt 2 without tag",
       [&] {
         return Qel2EncryptAesGcm2(session_, OSTREL_BLOCKING, iv.data(), 16, 0, nullptr, 32,
                                   in.data(), out.data(), &cap, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"decrypt 2 without capacity",
       [&] {
         return Qel2DecryptAesGcm2(session_, OSTREL_BLOCKING, iv.data(), 16, 0, nullptr, 32,
                                   in.data(), 16, tag.data(), out.data(), nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"AAD length without AAD",
       [&] {
         return Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), 16, 5, nullptr, 32,
                                  in.data(), out.data(), tag.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"no IV",
       [&] {
         return Qel2EncryptAesGcm(session_, OSTREL_BLOCKING, nullptr, 16, 0, nullptr, 32, in.data(),
                                  out.data(), tag.data(), nullptr);
       },
       ERR_ARGUMENTS_BAD},
  };
  for (const auto &c : cases) EXPECT_EQ(c.want, c.call()) << c.name;
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(Gcm, NonBlockingWindowCollectedOutOfOrder) {
  const uint64_t k = secret(kAesKey, Bytes(16, 0x77));
  constexpr int kN = 8;
  std::vector<Bytes> ivs(kN), aads(kN), ins(kN), outs(kN), tags(kN, Bytes(16));
  std::vector<Uint32> ids(kN);
  for (int i = 0; i < kN; ++i) {
    ivs[i] = iv16(Bytes(12, uint8_t(i)));
    aads[i] = Bytes(size_t(5 + i), uint8_t(0xA0 + i));
    ins[i] = Bytes(size_t(20 + 7 * i), uint8_t(i));
    outs[i] = Bytes(ins[i].size());
    ASSERT_EQ(Uint32(ERR_REQUEST_PENDING),
              Qel2EncryptAesGcm(session_, OSTREL_NON_BLOCKING, ivs[i].data(), k,
                                Uint16(aads[i].size()), aads[i].data(), Uint16(ins[i].size()),
                                ins[i].data(), outs[i].data(), tags[i].data(), &ids[i]));
  }
  for (int i = kN - 1; i >= 0; --i) ASSERT_EQ(0u, collect(ids[i])) << i;
  for (int i = 0; i < kN; ++i) {
    Bytes iv = iv16(Bytes(12, uint8_t(i))), back(ins[i].size());
    EXPECT_EQ(0u, Qel2DecryptAesGcm(session_, OSTREL_BLOCKING, iv.data(), k, Uint16(aads[i].size()),
                                    aads[i].data(), Uint16(outs[i].size()), outs[i].data(), 16,
                                    tags[i].data(), back.data(), nullptr))
        << i;
    EXPECT_EQ(ins[i], back) << i;
  }
}

}  // namespace
