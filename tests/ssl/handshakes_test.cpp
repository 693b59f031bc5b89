// The RSA, premaster and ECDH handshakes: the requests as framed (worked
// examples and the edge cases of each), the premaster halves and the
// control word byte for byte, exact-length caller buffers behind rounded
// segments, the refusals made before anything is sent, and a non-blocking
// ECDH whose rounded outputs belong to the pending request.
#include "ssl_fixture.h"

namespace ssl_test {
namespace {

class Handshakes : public SslTest {
 protected:
  // Finished buffers by mask (bit 0 enc client, 1 enc server, 2 plain
  // client, 3 plain server) and the encrypted master secret when ems.
  struct Fin {
    Uint8 *ec, *es, *uc, *us, *ems;
  };
  static Fin fins(Bufs &b, unsigned mask, bool ems) {
    return {mask & 1 ? *b.ec : nullptr, mask & 2 ? *b.es : nullptr, mask & 4 ? *b.uc : nullptr,
            mask & 8 ? *b.us : nullptr, ems ? *b.ems_out : nullptr};
  }
  Uint32 rsa_full(Bufs &b, CipherType c, HashType h, SslVersion v, Uint16 mod, unsigned mask,
                  bool ems, Uint64 key = kKeyHandle) {
    const Fin f = fins(b, mask, ems);
    return Qel2RsaServerFull(session_, OSTREL_BLOCKING, kCtx, &key, c, h, v, mod, *b.pms, *b.crand,
                             *b.srand, *b.cms, *b.cseq, *b.civ, *b.sms, *b.sseq, *b.siv, 100, *b.hs,
                             f.ec, f.es, f.uc, f.us, f.ems, nullptr);
  }
  Uint32 rsa_verify(Bufs &b, CipherType c, HashType h, HashType sh, SslVersion v, Uint16 mod,
                    bool ems) {
    Uint64 key = kKeyHandle;
    return Qel2RsaServerVerify(session_, OSTREL_BLOCKING, kCtx, &key, c, h, sh, v, mod, *b.pms,
                               *b.crand, *b.srand, 100, *b.hs, *b.vd, ems ? *b.ems_out : nullptr,
                               nullptr);
  }
  Uint32 other_full(Bufs &b, CipherType c, HashType h, SslVersion v, SslPartyType p, Uint16 len,
                    Uint8 *pms, unsigned mask, bool ems) {
    const Fin f = fins(b, mask, ems);
    return Qel2OtherFull(session_, OSTREL_BLOCKING, kCtx, c, h, v, p, len, pms, *b.crand, *b.srand,
                         *b.cms, *b.cseq, *b.civ, *b.sms, *b.sseq, *b.siv, 100, *b.hs, f.ec, f.es,
                         f.uc, f.us, f.ems, nullptr);
  }
  Uint32 other_verify(Bufs &b, CipherType c, HashType h, HashType sh, SslVersion v, Uint16 len,
                      Uint8 *pms, bool ems) {
    return Qel2OtherVerify(session_, OSTREL_BLOCKING, kCtx, c, h, sh, v, len, pms, *b.crand,
                           *b.srand, 100, *b.hs, *b.vd, ems ? *b.ems_out : nullptr, nullptr);
  }
  Uint32 ecdh_full(Bufs &b, CipherType c, HashType h, SslVersion v, SslPartyType p, CurveId cid,
                   bool generate, unsigned mask, bool ems) {
    const Fin f = fins(b, mask, ems);
    return Qel2ECDHFull(session_, OSTREL_BLOCKING, kCtx, c, h, v, p, cid, *b.prime, kKeyHandle,
                        *b.px, *b.py, generate ? *b.gx : nullptr, *b.gy, *b.crand, *b.srand, *b.cms,
                        *b.cseq, *b.civ, *b.sms, *b.sseq, *b.siv, 100, *b.hs, *b.pubx, *b.puby,
                        f.ec, f.es, f.uc, f.us, f.ems, nullptr);
  }
  Uint32 ecdh_verify(Bufs &b, CipherType c, HashType h, HashType vh, SslVersion v, CurveId cid,
                     bool generate, bool ems) {
    return Qel2ECDHVerify(session_, OSTREL_BLOCKING, kCtx, c, h, vh, v, cid, *b.prime, kKeyHandle,
                          *b.px, *b.py, *b.gx, *b.gy, *b.crand, *b.srand, 100, *b.hs,
                          generate ? *b.pubx : nullptr, *b.puby, *b.vd, ems ? *b.ems_out : nullptr,
                          nullptr);
  }
};

using V = std::vector<In>;
using O = std::vector<uint16_t>;
constexpr uint16_t kVnx = KQ_VNX_KEY_CMD, kVan = KQ_VANTOR_CMD;
const V kHello{{32, kCrand}, {32, kSrand}, {100, kHs}};
// The point multiplications of an ECDH request, P-byte segments: the own
// point's first in the generate form, then the shared secret's.
V points(uint16_t p, bool generate) {
  V v;
  if (generate) v.insert(v.end(), {{p, kGx}, {p, kGy}, {8, kKey}, {p, kPrime}});
  v.insert(v.end(), {{p, kPeerX}, {p, kPeerY}, {8, kKey}, {p, kPrime}});
  return v;
}
V cat(std::initializer_list<V> parts) {
  V out;
  for (const V &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(Handshakes, RsaLayouts) {
  check_layouts({
      {"full TLS 1.2 AES-128 SHA-384, modulus 128, everything returned",
       [&](Bufs &b) { return rsa_full(b, AES_128, SHA384_TYPE, VER_TLS1_2, 128, 0xF, true); }, kVnx,
       0x6005, 128, 0x67AC, 0,
       cat({{{8, kCseq}, {16, kCiv}, {8, kSseq}, {16, kSiv}, {8, kKey}, {128, kPms}, {64, kIv384}},
            kHello}),
       O{48, 96, 96, 16, 16}},
      {"full TLS, modulus 136: the large opcode, no master secret",
       [&](Bufs &b) { return rsa_full(b, AES_128, SHA1_TYPE, VER_TLS, 136, 0xF, false); }, kVnx,
       0x2003, 136, 0x07AA, 0, cat({{{8, kKey}, {136, kPms}}, kHello}), O{48, 48, 16, 16}},
      {"full SSL 3.0 SHA-384, modulus 64: the initial value for every version",
       [&](Bufs &b) { return rsa_full(b, AES_128, SHA384_TYPE, VER3_0, 64, 0xF, false); }, kVnx,
       0x2005, 64, 0x07AC, 0, cat({{{8, kKey}, {64, kPms}, {64, kIv384}}, kHello}),
       O{96, 96, 40, 40}},
      {"full, modulus 512",
       [&](Bufs &b) { return rsa_full(b, RC4_128, MD5_TYPE, VER_TLS, 512, 0x3, false); }, kVnx,
       0x2003, 512, 0x00C1, 0, cat({{{8, kKey}, {512, kPms}}, kHello}), O{32, 32}},
      {"verify TLS: 36 bytes whatever the signing hash",
       [&](Bufs &b) { return rsa_verify(b, AES_128, SHA1_TYPE, SHA512_TYPE, VER_TLS, 128, true); },
       kVnx, 0x4005, 128, 0x00AA, 0, cat({{{8, kKey}, {128, kPms}}, kHello}), O{48, 36}},
      {"verify TLS 1.2 SHA-512 signed with SHA-384: both initial values, SHA-384 first",
       [&](Bufs &b) {
         return rsa_verify(b, AES_128, SHA512_TYPE, SHA384_TYPE, VER_TLS1_2, 128, false);
       },
       kVnx, 0x0005, 128, 0x64AD, 0,
       cat({{{8, kKey}, {128, kPms}, {64, kIv384}, {64, kIv512}}, kHello}), O{48}},
      {"verify with a cipher outside the table, sent unchanged",
       [&](Bufs &b) {
         return rsa_verify(b, CipherType(99), SHA1_TYPE, SHA1_TYPE, VER_TLS, 256, false);
       },
       kVnx, 0x0003, 256, 0x039A, 0, cat({{{8, kKey}, {256, kPms}}, kHello}), O{36}},
      {"verify TLS 1.2 signed with a hash outside 1 to 6: no verify data",
       [&](Bufs &b) {
         return rsa_verify(b, AES_128, SHA256_TYPE, HashType(9), VER_TLS1_2, 64, false);
       },
       kVnx, 0x0005, 64, 0x29AF, 0, cat({{{8, kKey}, {64, kPms}}, kHello}), O{0}},
  });
}

TEST_F(Handshakes, PremasterLayouts) {
  static Uint8 pms[600];
  std::memset(pms, kPms, sizeof pms);
  check_layouts({
      {"full TLS AES-128 SHA-1 client, 48 bytes",
       [&](Bufs &b) {
         return other_full(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 48, pms, 0xF, true);
       },
       kVan, 0x700A, 48, 0x07AA, 0, cat({{{48, kPms}}, kHello}), O{48, 48, 48, 16, 16}},
      {"full TLS 1.2 AES-128 SHA-384 server, 47 bytes",
       [&](Bufs &b) {
         return other_full(b, AES_128, SHA384_TYPE, VER_TLS1_2, SSL_SERVER, 47, pms, 0xF, true);
       },
       kVan, 0x700A, 0x802F, 0x67AC, 0,
       cat({{{8, kCseq}, {16, kCiv}, {8, kSseq}, {16, kSiv}, {64, kIv384}, {48, kPms}}, kHello}),
       O{48, 96, 96, 16, 16}},
      {"full from the context's premaster: no segment, the length still in param1",
       [&](Bufs &b) {
         return other_full(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 48, nullptr, 0xF, false);
       },
       kVan, 0x200A, 48, 0x07AA, 0, kHello, O{48, 48, 16, 16}},
      {"full TLS SHA-384: no initial value",
       [&](Bufs &b) {
         return other_full(b, AES_128, SHA384_TYPE, VER_TLS, SSL_SERVER, 48, pms, 0xF, false);
       },
       kVan, 0x300A, 48, 0x07AC, 0, cat({{{48, kPms}}, kHello}), O{80, 80, 16, 16}},
      {"full DTLS client: the client's half of the sequence block",
       [&](Bufs &b) {
         return other_full(b, AES_128, SHA1_TYPE, VER_DTLS, SSL_CLIENT, 48, pms, 0xF, false);
       },
       kVan, 0x300A, 0x4030, 0x17AA, 0,
       cat({{{8, kCms}, {8, kCseq}, {16, kCiv}, {48, kPms}}, kHello}), O{8, 64, 8, 64, 24, 24}},
      {"full TLS 1.1, 512 bytes: two 256-byte slots",
       [&](Bufs &b) {
         return other_full(b, RC4_128, SHA1_TYPE, VER_TLS1_1, SSL_SERVER, 512, pms, 0xF, false);
       },
       kVan, 0x300A, 0x8200, 0x17C6, 0, cat({{{8, kCseq}, {8, kSseq}, {512, kPms}}, kHello}),
       O{36, 36, 16, 16}},
      {"verify TLS 1.2, 513 bytes: sent whole, rounded",
       [&](Bufs &b) {
         return other_verify(b, AES_128, SHA1_TYPE, SHA1_TYPE, VER_TLS1_2, 513, pms, false);
       },
       kVan, 0x100A, 513, 0x22AE, 0, cat({{{520, kPms}}, kHello}), O{20}},
      {"verify TLS, 47 bytes: split",
       [&](Bufs &b) {
         return other_verify(b, AES_128, SHA1_TYPE, SHA1_TYPE, VER_TLS, 47, pms, true);
       },
       kVan, 0x500A, 47, 0x00AA, 0, cat({{{48, kPms}}, kHello}), O{48, 36}},
      {"verify SSL 3.0, 47 bytes exactly",
       [&](Bufs &b) {
         return other_verify(b, AES_128, SHA1_TYPE, SHA1_TYPE, VER3_0, 47, pms, false);
       },
       kVan, 0x100A, 47, 0x00AE, 0, cat({{{47, kPms}}, kHello}), O{36}},
      {"verify TLS 1.2 SHA-256 signed with SHA-224, the PRF hash has no initial value",
       [&](Bufs &b) {
         return other_verify(b, AES_128, SHA256_TYPE, SHA224_TYPE, VER_TLS1_2, 48, nullptr, false);
       },
       kVan, 0x000A, 48, 0x26AF, 0, cat({{{32, kIv224}}, kHello}), O{28}},
      {"verify TLS 1.2 with PRF hash 7: its initial value is an empty segment",
       [&](Bufs &b) {
         return other_verify(b, AES_128, AESCMAC_TYPE, SHA256_TYPE, VER_TLS1_2, 48, nullptr, false);
       },
       kVan, 0x000A, 48, 0x63AF, 0, cat({{{0, kAny}}, kHello}), O{32}},
  });
}

TEST_F(Handshakes, EcdhLayouts) {
  check_layouts({
      {"full TLS 1.2 AES-128 SHA-384 client P-256, generate form",
       [&](Bufs &b) {
         return ecdh_full(b, AES_128, SHA384_TYPE, VER_TLS1_2, SSL_CLIENT, P256, true, 0xF, true);
       },
       kVnx, 0x2815, 0x2002, 0, 0,
       cat({{{8, 0x60}},
            points(32, true),
            {{8, kCseq}, {16, kCiv}, {8, kSseq}, {16, kSiv}, {64, kIv384}},
            kHello}),
       O{32, 32, 48, 96, 96, 16, 16}},
      {"full TLS P-224: plain form, 32-byte coordinate segments",
       [&](Bufs &b) {
         return ecdh_full(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, P224, false, 0xF, false);
       },
       kVnx, 0x2015, 0x2001, 0, 0, cat({{{8, 0x20}}, points(32, false), kHello}),
       O{48, 48, 16, 16}},
      {"full TLS SHA-384: the initial value for every version",
       [&](Bufs &b) {
         return ecdh_full(b, AES_128, SHA384_TYPE, VER_TLS, SSL_SERVER, P384, false, 0x3, false);
       },
       kVnx, 0x2015, 0x3003, 0, 0, cat({{{8, 0x20}}, points(48, false), {{64, kIv384}}, kHello}),
       O{80, 80}},
      {"full P-521: 72-byte segments",
       [&](Bufs &b) {
         return ecdh_full(b, AES_GCM_128, SHA256_TYPE, VER_TLS, SSL_SERVER, P521, true, 0x3, false);
       },
       kVnx, 0x2815, 0x4804, 0, 0, cat({{{8, 0x20}}, points(72, true), kHello}), O{72, 72, 32, 32}},
      {"full, curve 6: empty coordinates",
       [&](Bufs &b) {
         return ecdh_full(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, CurveId(6), false, 0xF,
                          false);
       },
       kVnx, 0x2015, 0x0006, 0, 0, cat({{{8, 0x20}}, points(0, false), kHello}), O{48, 48, 16, 16}},
      {"verify TLS 1.2 PRF SHA-512 signed with SHA-384",
       [&](Bufs &b) {
         return ecdh_verify(b, AES_128, SHA512_TYPE, SHA384_TYPE, VER_TLS1_2, P256, false, false);
       },
       kVnx, 0x2015, 0x2002, 0, 0,
       cat({{{8, 0x00}}, points(32, false), {{64, kIv384}, {64, kIv512}}, kHello}), O{48}},
      {"verify TLS SHA-384: no initial value, 36 bytes",
       [&](Bufs &b) {
         return ecdh_verify(b, AES_128, SHA384_TYPE, SHA384_TYPE, VER_TLS, P256, true, true);
       },
       kVnx, 0x2815, 0x2002, 0, 0, cat({{{8, 0x40}}, points(32, true), kHello}), O{32, 32, 48, 36}},
  });
}

// The control word of the TLS part, byte for byte.
TEST_F(Handshakes, EcdhControlWords) {
  struct Row {
    std::string name;
    std::function<Uint32(Bufs &)> call;
    Bytes want;
  };
  const Row rows[] = {
      {"full, the worked example",
       [&](Bufs &b) {
         return ecdh_full(b, AES_128, SHA384_TYPE, VER_TLS1_2, SSL_CLIENT, P256, true, 0xF, true);
       },
       {0x60, 0x0A, 0x40, 0x20, 0x67, 0xAC, 0x01, 0x14}},
      {"verify TLS 1.2 SHA-512 / SHA-384",
       [&](Bufs &b) {
         return ecdh_verify(b, AES_128, SHA512_TYPE, SHA384_TYPE, VER_TLS1_2, P256, false, false);
       },
       {0x00, 0x0A, 0x00, 0x20, 0x64, 0xAD, 0x01, 0x24}},
      {"full DTLS server P-521, no master secret",
       [&](Bufs &b) {
         return ecdh_full(b, RC4_128, SHA1_TYPE, VER_DTLS, SSL_SERVER, P521, false, 0xF, false);
       },
       // 8 + 8 sequence, 64 randoms, 100 handshake.
       {0x20, 0x0A, 0x80, 0x42, 0x17, 0xC2, 0x00, 0xB4}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    d().clear_captured();
    answer_empty(KQ_VNX_KEY_CMD, 0x2815);
    answer_empty(KQ_VNX_KEY_CMD, 0x2015);
    Bufs b;
    r.call(b);
    const Request w = sent_last(d());
    ASSERT_FALSE(w.in.empty());
    EXPECT_EQ(r.want, w.input(0));
  }
}

// The key segments: bit 49 marks the RSA server key; ECDH sends the handle
// as given. The descriptor's key handle stays 0 in both.
TEST_F(Handshakes, KeySegments) {
  answer_empty(KQ_VNX_KEY_CMD, 0x2005);
  answer_empty(KQ_VNX_KEY_CMD, 0x2015);
  Bufs b;
  rsa_full(b, AES_128, SHA1_TYPE, VER_TLS, 128, 0xF, false, 0x0000'1234'5678'9ABCull);
  Request w = sent_last(d());
  EXPECT_EQ(0x0002'1234'5678'9ABCull, be64(w.input(0)));
  EXPECT_EQ(0u, w.key_handle);
  ecdh_full(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, P256, false, 0xF, false);
  w = sent_last(d());
  EXPECT_EQ(kKeyHandle, be64(w.input(3)));
  EXPECT_EQ(0u, w.key_handle);
}

TEST_F(Handshakes, PremasterHalves) {
  answer_empty(KQ_VANTOR_CMD, 0x300A);
  Bytes secret(47);
  for (size_t i = 0; i < secret.size(); ++i) secret[i] = Uint8(i + 1);
  Bufs b;
  other_full(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, 47, secret.data(), 0xF, false);
  const Request w = sent_last(d());
  Bytes want(secret.begin(), secret.begin() + 24);
  want.insert(want.end(), secret.begin() + 23, secret.end());
  EXPECT_EQ(want, w.input(0));
  EXPECT_EQ(48, w.in[0].offset);

  // 5 bytes: halves of 3 in 8-byte slots, zero after each.
  d().clear_captured();
  other_full(b, AES_128, SHA1_TYPE, VER_TLS1_1, SSL_CLIENT, 5, secret.data(), 0xF, false);
  EXPECT_EQ((Bytes{1, 2, 3, 0, 0, 0, 0, 0, 3, 4, 5, 0, 0, 0, 0, 0}), sent_last(d()).input(4));
}

// Exact-length caller buffers behind rounded segments: the bytes go from
// zero-padded copies (ASan sees any read past the caller's buffer), the
// wire keeps the rounded size and the meaningful length.
TEST_F(Handshakes, ExactLengthBuffersBehindRoundedSegments) {
  answer_empty(KQ_VANTOR_CMD, 0x300A);
  std::vector<Uint8> secret(47, 0x99);
  Bufs b;
  other_full(b, AES_128, SHA1_TYPE, VER_TLS1_2, SSL_CLIENT, 47, secret.data(), 0xF, false);
  Request w = sent_last(d());
  Bytes want(47, 0x99);
  want.push_back(0);
  EXPECT_EQ(want, w.input(4));
  EXPECT_EQ(47, w.in[4].offset);

  // P-521: coordinates and prime of 66 bytes, public point answered into
  // 66-byte buffers; then the two encrypted finished messages.
  Bytes answer_bytes(72, 0xA1);
  answer_bytes.insert(answer_bytes.end(), 72, 0xA2);
  answer_bytes.insert(answer_bytes.end(), 2 * 48, 0xF1);
  answer(KQ_VNX_KEY_CMD, 0x2815, answer_bytes);
  std::vector<Uint8> gx(66, 0x11), gy(66, 0x12), prime(66, 0x13), px(66, 0x14), py(66, 0x15);
  std::vector<Uint8> pub_x(66), pub_y(66);
  ASSERT_EQ(0u, Qel2ECDHFull(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                             SSL_CLIENT, P521, prime.data(), kKeyHandle, px.data(), py.data(),
                             gx.data(), gy.data(), *b.crand, *b.srand, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, 100, *b.hs, pub_x.data(), pub_y.data(),
                             *b.ec, *b.es, nullptr, nullptr, nullptr, nullptr));
  w = sent_last(d());
  for (size_t i : {1, 2, 4, 5, 6, 8}) {
    SCOPED_TRACE(i);
    ASSERT_EQ(72u, w.in[i].bytes.size());
    EXPECT_EQ(66, w.in[i].offset);
    EXPECT_EQ(Bytes(6, 0), Bytes(w.in[i].bytes.begin() + 66, w.in[i].bytes.end()));
  }
  EXPECT_EQ(Bytes(66, 0x11), Bytes(w.in[1].bytes.begin(), w.in[1].bytes.begin() + 66));
  EXPECT_EQ(72, w.out[0].size);
  EXPECT_EQ(66, w.out[0].offset);
  EXPECT_EQ(Bytes(66, 0xA1), Bytes(pub_x.begin(), pub_x.end()));
  EXPECT_EQ(Bytes(66, 0xA2), Bytes(pub_y.begin(), pub_y.end()));
}

TEST_F(Handshakes, RefusedBeforeSending) {
  static Uint8 huge[0xFFFF];
  static Uint8 pms[600];
  check_refusals({
      {"RSA: non-blocking without an id",
       [&](Bufs &b) {
         Uint64 key = kKeyHandle;
         return Qel2RsaServerVerify(session_, OSTREL_NON_BLOCKING, kCtx, &key, AES_128, SHA1_TYPE,
                                    SHA1_TYPE, VER_TLS, 128, *b.pms, *b.crand, *b.srand, 0, nullptr,
                                    *b.vd, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"RSA: modulus 60",
       [&](Bufs &b) { return rsa_full(b, AES_128, SHA1_TYPE, VER_TLS, 60, 0xF, false); },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"RSA: modulus 56 with hash 9: the suite first",
       [&](Bufs &b) { return rsa_full(b, AES_128, HashType(9), VER_TLS, 56, 0xF, false); },
       ERR_BAD_CIPHER_OR_MAC},
      {"RSA: modulus 56",
       [&](Bufs &b) { return rsa_full(b, AES_128, SHA1_TYPE, VER_TLS, 56, 0xF, false); },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"RSA: modulus 520",
       [&](Bufs &b) { return rsa_full(b, AES_128, SHA1_TYPE, VER_TLS, 520, 0xF, false); },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"RSA verify: modulus 520",
       [&](Bufs &b) { return rsa_verify(b, AES_128, SHA1_TYPE, SHA1_TYPE, VER_TLS, 520, false); },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"RSA verify: modulus 60 whatever the suite",
       [&](Bufs &b) {
         return rsa_verify(b, CipherType(99), HashType(99), SHA1_TYPE, VER_TLS, 60, false);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"RSA: cipher 10",
       [&](Bufs &b) { return rsa_full(b, CipherType(10), SHA1_TYPE, VER_TLS, 128, 0xF, false); },
       ERR_BAD_CIPHER_OR_MAC},
      {"RSA: no key handle",
       [&](Bufs &b) {
         return Qel2RsaServerFull(session_, OSTREL_BLOCKING, kCtx, nullptr, AES_128, SHA1_TYPE,
                                  VER_TLS, 128, *b.pms, *b.crand, *b.srand, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, 0, nullptr, *b.ec, *b.es,
                                  nullptr, nullptr, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"RSA verify: no key handle",
       [&](Bufs &b) {
         return Qel2RsaServerVerify(session_, OSTREL_BLOCKING, kCtx, nullptr, AES_128, SHA1_TYPE,
                                    SHA1_TYPE, VER_TLS, 128, *b.pms, *b.crand, *b.srand, 0, nullptr,
                                    *b.vd, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"RSA: no encrypted premaster secret",
       [&](Bufs &b) {
         Uint64 key = kKeyHandle;
         return Qel2RsaServerFull(session_, OSTREL_BLOCKING, kCtx, &key, AES_128, SHA1_TYPE,
                                  VER_TLS, 128, nullptr, *b.crand, *b.srand, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, 0, nullptr, *b.ec, *b.es,
                                  nullptr, nullptr, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"RSA: no buffer for the server message",
       [&](Bufs &b) { return rsa_full(b, AES_128, SHA1_TYPE, VER_TLS, 128, 0x5, true); },
       ERR_ARGUMENTS_BAD},
      {"RSA verify: no verify data buffer",
       [&](Bufs &b) {
         Uint64 key = kKeyHandle;
         return Qel2RsaServerVerify(session_, OSTREL_BLOCKING, kCtx, &key, AES_128, SHA1_TYPE,
                                    SHA256_TYPE, VER_TLS1_2, 128, *b.pms, *b.crand, *b.srand, 0,
                                    nullptr, nullptr, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"premaster: context misaligned",
       [&](Bufs &b) {
         return Qel2OtherVerify(session_, OSTREL_BLOCKING, kCtx + 2, AES_128, SHA1_TYPE, SHA1_TYPE,
                                VER_TLS, 48, pms, *b.crand, *b.srand, 0, nullptr, *b.vd, nullptr,
                                nullptr);
       },
       ERR_ILLEGAL_CONTEXT_HANDLE},
      {"premaster: hash 0",
       [&](Bufs &b) {
         return other_full(b, AES_128, HashType(0), VER_TLS, SSL_CLIENT, 48, pms, 0xF, false);
       },
       ERR_BAD_CIPHER_OR_MAC},
      {"premaster: 513 bytes split under TLS 1.1",
       [&](Bufs &b) {
         return other_full(b, AES_128, SHA1_TYPE, VER_TLS1_1, SSL_CLIENT, 513, pms, 0xF, false);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"premaster verify: 513 bytes split under DTLS",
       [&](Bufs &b) {
         return other_verify(b, AES_128, SHA1_TYPE, SHA1_TYPE, VER_DTLS, 513, pms, false);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"premaster: no server random",
       [&](Bufs &b) {
         return Qel2OtherFull(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                              SSL_CLIENT, 48, pms, *b.crand, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, 0, nullptr, *b.ec, *b.es, nullptr, nullptr,
                              nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"premaster: a data length past 16 bits (a long certificate chain)",
       [&](Bufs &b) {
         return Qel2OtherFull(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                              SSL_CLIENT, 48, pms, *b.crand, *b.srand, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, 0xFFFF, huge, *b.ec, *b.es, nullptr,
                              nullptr, nullptr, nullptr);
       },
       ERR_ILLEGAL_INPUT_LENGTH},
      {"ECDH: cipher 10",
       [&](Bufs &b) {
         return ecdh_full(b, CipherType(10), SHA1_TYPE, VER_TLS, SSL_CLIENT, P256, false, 0xF,
                          false);
       },
       ERR_BAD_CIPHER_OR_MAC},
      {"ECDH verify: non-blocking without an id",
       [&](Bufs &b) {
         return Qel2ECDHVerify(session_, OSTREL_NON_BLOCKING, kCtx, AES_128, SHA1_TYPE, SHA1_TYPE,
                               VER_TLS, P256, *b.prime, kKeyHandle, *b.px, *b.py, nullptr, nullptr,
                               *b.crand, *b.srand, 0, nullptr, nullptr, nullptr, *b.vd, nullptr,
                               nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"ECDH: no peer point",
       [&](Bufs &b) {
         return Qel2ECDHFull(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, VER_TLS,
                             SSL_CLIENT, P256, *b.prime, kKeyHandle, nullptr, *b.py, nullptr,
                             nullptr, *b.crand, *b.srand, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, 0, nullptr, nullptr, nullptr, *b.ec, *b.es, nullptr,
                             nullptr, nullptr, nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"ECDH verify: no prime",
       [&](Bufs &b) {
         return Qel2ECDHVerify(session_, OSTREL_BLOCKING, kCtx, AES_128, SHA1_TYPE, SHA1_TYPE,
                               VER_TLS, P384, nullptr, kKeyHandle, *b.px, *b.py, nullptr, nullptr,
                               *b.crand, *b.srand, 0, nullptr, nullptr, nullptr, *b.vd, nullptr,
                               nullptr);
       },
       ERR_ARGUMENTS_BAD},
      {"ECDH: no buffer for the client message",
       [&](Bufs &b) {
         return ecdh_full(b, AES_128, SHA1_TYPE, VER_TLS, SSL_CLIENT, P256, true, 0xA, false);
       },
       ERR_ARGUMENTS_BAD},
  });
}

// The generate form answered after the call returned: the rounded copies
// behind the 66-byte public coordinates belong to the pending request and
// reach the caller's buffers when it is collected.
TEST_F(Handshakes, NonBlockingEcdhDeliversThePublicPoint) {
  d().set_nonblocking_delay(std::chrono::milliseconds(50));
  Bytes a(72, 0xB1);
  a.insert(a.end(), 72, 0xB2);
  a.insert(a.end(), 2 * 32, 0xF1);  // GCM finished messages under TLS
  answer(KQ_VNX_KEY_CMD, 0x2815, a);
  Bufs b;
  std::vector<Uint8> pub_x(66), pub_y(66);
  Uint32 id = 0xFFFFFFFF;
  [&] {
    EXPECT_EQ(
        Uint32(ERR_REQUEST_PENDING),
        Qel2ECDHFull(session_, OSTREL_NON_BLOCKING, kCtx, AES_GCM_128, SHA1_TYPE, VER_TLS,
                     SSL_SERVER, P521, *b.prime, kKeyHandle, *b.px, *b.py, *b.gx, *b.gy, *b.crand,
                     *b.srand, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 100, *b.hs,
                     pub_x.data(), pub_y.data(), *b.ec, *b.es, nullptr, nullptr, nullptr, &id));
  }();
  EXPECT_NE(0xFFFFFFFFu, id);
  EXPECT_EQ(Bytes(66, 0), Bytes(pub_x.begin(), pub_x.end()));  // not before collection
  EXPECT_EQ(0u, collect(id));
  EXPECT_EQ(Bytes(66, 0xB1), Bytes(pub_x.begin(), pub_x.end()));
  EXPECT_EQ(Bytes(66, 0xB2), Bytes(pub_y.begin(), pub_y.end()));
  EXPECT_EQ(Bytes(32, 0xF1), Bytes(b.ec.b.begin(), b.ec.b.begin() + 32));
}

}  // namespace
}  // namespace ssl_test
