// Suites libssl no longer offers (RC4, DES, 3DES, MD5 MACs) and the DTLS
// versions, end to end through the SDK: a premaster handshake on the HSM,
// then its finished messages and records compared with ones built on the
// host from OpenSSL's own PRF, ciphers and HMAC.
#include <openssl/core_names.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/provider.h>

#include "host_tls.h"
#include "qel2.h"
#include "sign_fixture.h"
#include "tls_peer.h"

namespace tls_test {
namespace {

using keys_test::LoggedIn;

Bytes prf(const char *md, const Bytes &secret, const std::string &label, const Bytes &seed,
          size_t len) {
  return host_prf(md, secret, label, seed, len);
}
Bytes digest(const EVP_MD *md, const Bytes &in) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  EVP_Digest(in.data(), in.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

struct Row {
  const char *name;
  uint32_t version, cipher, hash;
  uint16_t wire;
  const char *evp;  // the host's cipher
  size_t key_len, block, eiv;
  uint16_t premaster_len;
  bool dtls() const { return version == 0x400 || version == 0x800 || version == 0xC00; }
  bool tls12() const { return version > 0x800; }
};

// One direction's protection as the host computes it; `stream` carries RC4.
struct HostState {
  Bytes mac_key, key, iv;
  EVP_CIPHER_CTX *rc4 = nullptr;
  ~HostState() { EVP_CIPHER_CTX_free(rc4); }
};

Bytes protect(const Row &r, HostState &w, const Bytes &seq, uint8_t type, const Bytes &data,
              const Bytes &eiv) {
  const EVP_MD *md = r.hash == 1 ? EVP_md5() : r.hash == 2 ? EVP_sha1() : EVP_sha256();
  Bytes mac(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  const Bytes in = cat({seq, {type}, u16(r.wire), u16(data.size()), data});
  HMAC(md, w.mac_key.data(), int(w.mac_key.size()), in.data(), in.size(), mac.data(), &n);
  mac.resize(n);
  Bytes plain = cat({data, mac}), out(plain.size() + 32);
  if (r.block) {
    const size_t pad = r.block - plain.size() % r.block;
    plain.insert(plain.end(), pad, uint8_t(pad - 1));
  }
  EVP_CIPHER *c = EVP_CIPHER_fetch(legacy_lib(), r.evp, nullptr);
  int len = 0;
  if (!r.block) {
    if (!w.rc4) {
      w.rc4 = EVP_CIPHER_CTX_new();
      EVP_EncryptInit_ex2(w.rc4, c, w.key.data(), nullptr, nullptr);
    }
    EVP_EncryptUpdate(w.rc4, out.data(), &len, plain.data(), int(plain.size()));
  } else {
    EVP_CIPHER_CTX *x = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex2(x, c, w.key.data(), eiv.empty() ? w.iv.data() : eiv.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(x, 0);
    EVP_EncryptUpdate(x, out.data(), &len, plain.data(), int(plain.size()));
    EVP_CIPHER_CTX_free(x);
  }
  EVP_CIPHER_free(c);
  out.resize(size_t(len));
  if (r.block && eiv.empty()) w.iv.assign(out.end() - long(r.block), out.end());
  return cat({eiv, out});
}

using SdkLegacy = LoggedIn;

TEST_F(SdkLegacy, FinishedMessagesAndRecordsMatchTheHost) {
  const Row rows[] = {
      {"TLS 1.0 RC4-128 SHA-1", 0, 8, 2, 0x0301, "RC4", 16, 0, 0, 48},
      {"TLS 1.0 3DES MD5", 0, 14, 1, 0x0301, "DES-EDE3-CBC", 24, 8, 0, 48},
      {"TLS 1.1 DES SHA-1, odd premaster", 0x401, 12, 2, 0x0302, "DES-CBC", 8, 8, 8, 47},
      {"DTLS 1.0 3DES SHA-1", 0x800, 14, 2, 0xFEFF, "DES-EDE3-CBC", 24, 8, 8, 48},
      {"DTLS 1.2 AES-128 SHA-256", 0xC00, 5, 3, 0xFEFD, "AES-128-CBC", 16, 16, 16, 48},
      // The client's numbers only: the server's message takes them too.
      {"DTLS before its RFC, AES-256 SHA-1", 0x400, 7, 2, 0x0100, "AES-256-CBC", 32, 16, 16, 48},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    Uint64 ctx = 0;
    ASSERT_EQ(0u, Qel2AllocContext3(session_, &ctx));
    Bytes pm = random_bytes(r.premaster_len), cr = random_bytes(32), sr = random_bytes(32),
          hs = random_bytes(200), cmsn = {0, 0, 0, 0, 0, 0, 0, 5}, smsn = {0, 0, 0, 0, 0, 0, 0, 6},
          cseq = {0, 1, 0, 0, 0, 0, 0, 0}, sseq = {0, 1, 0, 0, 0, 0, 0, 9}, civ = random_bytes(16),
          siv = random_bytes(16);
    const size_t mac = r.hash == 1 ? 16 : r.hash == 2 ? 20 : 32, fin = r.dtls() ? 24 : 16;
    const size_t enc = (r.block ? (fin + mac + r.block) & ~(r.block - 1) : fin + mac) + r.eiv;
    Bytes enc_c(enc), enc_s(enc), plain_c(fin), plain_s(fin);
    ASSERT_EQ(
        0u, Qel2OtherFull(session_, OSTREL_BLOCKING, ctx, CipherType(r.cipher), HashType(r.hash),
                          SslVersion(r.version), SSL_CLIENT, r.premaster_len, pm.data(), cr.data(),
                          sr.data(), cmsn.data(), cseq.data(), civ.data(), smsn.data(), sseq.data(),
                          siv.data(), Uint16(hs.size()), hs.data(), enc_c.data(), enc_s.data(),
                          plain_c.data(), plain_s.data(), nullptr, nullptr));

    const char *prf_md = r.tls12() ? "SHA256" : "MD5-SHA1";
    const Bytes master = prf(prf_md, pm, "master secret", cat({cr, sr}), 48);
    const size_t iv_len = r.version == 0 ? r.block : 0;
    const Bytes kb =
        prf(prf_md, master, "key expansion", cat({sr, cr}), 2 * (mac + r.key_len + r.block));
    HostState client, server;
    client.mac_key.assign(kb.begin(), kb.begin() + long(mac));
    server.mac_key.assign(kb.begin() + long(mac), kb.begin() + long(2 * mac));
    client.key.assign(kb.begin() + long(2 * mac), kb.begin() + long(2 * mac + r.key_len));
    server.key.assign(kb.begin() + long(2 * mac + r.key_len),
                      kb.begin() + long(2 * mac + 2 * r.key_len));
    const size_t ivs = 2 * mac + 2 * r.key_len;
    client.iv.assign(kb.begin() + long(ivs), kb.begin() + long(ivs + iv_len));
    server.iv.assign(kb.begin() + long(ivs + iv_len), kb.begin() + long(ivs + 2 * iv_len));

    auto hash_of = [&](const Bytes &m) {
      return r.tls12() ? digest(EVP_sha256(), m)
                       : cat({digest(EVP_md5(), m), digest(EVP_sha1(), m)});
    };
    auto finished = [&](const char *label, const Bytes &m, uint8_t msg_seq) {
      const Bytes head =
          r.dtls() ? Bytes{20, 0, 0, 12, 0, msg_seq, 0, 0, 0, 0, 0, 12} : Bytes{20, 0, 0, 12};
      return cat({head, prf(prf_md, master, label, hash_of(m), 12)});
    };
    const Bytes want_c = finished("client finished", hs, 5);
    const bool old_dtls = r.version == 0x400;
    const Bytes want_s = finished("server finished", cat({hs, want_c}), old_dtls ? 5 : 6);
    EXPECT_EQ(want_c, plain_c);
    EXPECT_EQ(want_s, plain_s);
    const Bytes seq0 = r.version >= 2 ? cseq : Bytes(8);
    const Bytes e_c(civ.begin(), civ.begin() + long(r.eiv)),
        e_s = old_dtls ? e_c : Bytes(siv.begin(), siv.begin() + long(r.eiv));
    EXPECT_EQ(protect(r, client, seq0, 22, want_c, e_c), enc_c) << "client finished record";
    EXPECT_EQ(
        protect(r, server, r.version >= 2 ? (old_dtls ? cseq : sseq) : Bytes(8), 22, want_s, e_s),
        enc_s)
        << "server finished record";

    // Application data: the client's record from the HSM equals the host's;
    // the host's server record opens on the HSM.
    Bytes msg = random_bytes(77), seq1 = {0, 1, 0, 0, 0, 0, 0, 1}, iv = random_bytes(16);
    if (r.version < 2) seq1 = {0, 0, 0, 0, 0, 0, 0, 1};
    const Bytes e(iv.begin(), iv.begin() + long(r.eiv));
    Bytes rec(enc + 200);
    Uint16 rec_len = 0;
    ASSERT_EQ(0u, Qel2EncryptRecord(session_, OSTREL_BLOCKING, ctx, CipherType(r.cipher),
                                    HashType(r.hash), SslVersion(r.version), SSL_CLIENT, APP_DATA,
                                    0, seq1.data(), iv.data(), Uint16(msg.size()), msg.data(),
                                    &rec_len, rec.data(), nullptr));
    rec.resize(rec_len);
    EXPECT_EQ(protect(r, client, seq1, 23, msg, e), rec) << "client record";
    const Bytes from_server = protect(r, server, seq1, 23, msg, e);
    Bytes body(from_server.begin() + long(r.eiv), from_server.end()), out(body.size());
    Uint16 out_len = 0;
    ASSERT_EQ(0u, Qel2DecryptRecord(session_, OSTREL_BLOCKING, ctx, CipherType(r.cipher),
                                    HashType(r.hash), SslVersion(r.version), SSL_CLIENT, APP_DATA,
                                    seq1.data(), iv.data(), Uint16(body.size()), body.data(),
                                    &out_len, out.data(), nullptr));
    EXPECT_EQ(msg, Bytes(out.begin(), out.begin() + out_len)) << "server record";
  }
}

// The verify forms then the finished messages give what the full forms
// give, and ECDH with a key the HSM generated gives what the host's ECDH
// secret gives as a plain premaster secret.
TEST_F(SdkLegacy, VerifyFormsAndEcdhAgreeWithTheFullPremasterHandshake) {
  Uint64 pub = 0, priv = 0;
  ASSERT_EQ(
      0u, Qel2GenerateKeyPair(session_, KEY_TYPE_EC, 0, 0, NID_X9_62_prime256v1, 0, nullptr, 0,
                              nullptr, nullptr, 0, nullptr, 0, nullptr, 0, keys_test::u8("pub"), 3,
                              keys_test::u8("priv"), 4, STORAGE_FLASH, &pub, &priv));
  keys_test::Pkey own = keys_test::parse_spki(exported(pub)), peer(EVP_EC_gen("P-256"));
  // The host's side of the agreement: the premaster secret to expect.
  EVP_PKEY_CTX *dc = EVP_PKEY_CTX_new(peer.get(), nullptr);
  Bytes pm(32);
  size_t pm_len = pm.size();
  EVP_PKEY_derive_init(dc);
  EVP_PKEY_derive_set_peer(dc, own.get());
  ASSERT_EQ(1, EVP_PKEY_derive(dc, pm.data(), &pm_len));
  EVP_PKEY_CTX_free(dc);
  Bytes point(65), prime(32);
  size_t len = 0;
  EVP_PKEY_get_octet_string_param(peer.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), 65, &len);
  Bytes px(point.begin() + 1, point.begin() + 33), py(point.begin() + 33, point.end());
  BIGNUM *p = BN_new();
  EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
  EC_GROUP_get_curve(g, p, nullptr, nullptr, nullptr);
  BN_bn2binpad(p, prime.data(), 32);
  BN_free(p);
  EC_GROUP_free(g);

  struct Row {
    SslVersion version;
    CipherType cipher;
    HashType hash, sign;
    size_t verify_len;
  } rows[] = {{VER_TLS, AES_128, SHA1_TYPE, SHA1_TYPE, 36},
              {VER_TLS1_2, AES_GCM_256, SHA384_TYPE, SHA512_TYPE, 64},
              {VER_TLS1_1, DES3_192, SHA1_TYPE, SHA1_TYPE, 36}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.version * 100 + r.cipher);
    Bytes cr = random_bytes(32), sr = random_bytes(32), hs = random_bytes(150),
          seq = {0, 0, 0, 0, 0, 0, 0, 0}, civ = random_bytes(16), siv = random_bytes(16);
    const size_t fin = r.cipher == AES_GCM_256 ? 40 : r.cipher == DES3_192 ? 48 : 48;
    auto context = [&] {
      Uint64 ctx = 0;
      EXPECT_EQ(0u, Qel2AllocContext3(session_, &ctx));
      return ctx;
    };
    struct Out {
      Bytes enc_c, enc_s, un_c, un_s;
    };
    auto outs = [&] { return Out{Bytes(fin), Bytes(fin), Bytes(16), Bytes(16)}; };
    auto finish = [&](Uint64 ctx, Out &o) {
      return Qel2FinishedFinish(session_, OSTREL_BLOCKING, ctx, r.cipher, r.hash, r.version,
                                SSL_SERVER, nullptr, seq.data(), civ.data(), nullptr, seq.data(),
                                siv.data(), Uint16(hs.size()), hs.data(), o.enc_c.data(),
                                o.enc_s.data(), o.un_c.data(), o.un_s.data(), nullptr);
    };
    Out full = outs(), verified = outs(), ecdh = outs(), ecdh_verified = outs();
    ASSERT_EQ(0u, Qel2OtherFull(session_, OSTREL_BLOCKING, context(), r.cipher, r.hash, r.version,
                                SSL_SERVER, 32, pm.data(), cr.data(), sr.data(), nullptr,
                                seq.data(), civ.data(), nullptr, seq.data(), siv.data(),
                                Uint16(hs.size()), hs.data(), full.enc_c.data(), full.enc_s.data(),
                                full.un_c.data(), full.un_s.data(), nullptr, nullptr));
    Bytes vd(r.verify_len), vd2(r.verify_len), sealed(48);
    const Uint64 a = context();
    ASSERT_EQ(0u, Qel2OtherVerify(session_, OSTREL_BLOCKING, a, r.cipher, r.hash, r.sign, r.version,
                                  32, pm.data(), cr.data(), sr.data(), Uint16(hs.size()), hs.data(),
                                  vd.data(), sealed.data(), nullptr));
    ASSERT_EQ(0u, finish(a, verified));
    const Bytes want_vd = r.version == VER_TLS1_2
                              ? digest(EVP_sha512(), hs)
                              : cat({digest(EVP_md5(), hs), digest(EVP_sha1(), hs)});
    EXPECT_EQ(want_vd, vd);
    ASSERT_EQ(0u, Qel2ECDHFull(session_, OSTREL_BLOCKING, context(), r.cipher, r.hash, r.version,
                               SSL_SERVER, P256, prime.data(), priv, px.data(), py.data(), nullptr,
                               nullptr, cr.data(), sr.data(), nullptr, seq.data(), civ.data(),
                               nullptr, seq.data(), siv.data(), Uint16(hs.size()), hs.data(),
                               nullptr, nullptr, ecdh.enc_c.data(), ecdh.enc_s.data(),
                               ecdh.un_c.data(), ecdh.un_s.data(), nullptr, nullptr));
    const Uint64 b = context();
    ASSERT_EQ(0u, Qel2ECDHVerify(session_, OSTREL_BLOCKING, b, r.cipher, r.hash, r.sign, r.version,
                                 P256, prime.data(), priv, px.data(), py.data(), nullptr, nullptr,
                                 cr.data(), sr.data(), Uint16(hs.size()), hs.data(), nullptr,
                                 nullptr, vd2.data(), nullptr, nullptr));
    ASSERT_EQ(0u, finish(b, ecdh_verified));
    EXPECT_EQ(want_vd, vd2);
    for (const Out *o : {&verified, &ecdh, &ecdh_verified}) {
      EXPECT_EQ(full.enc_c, o->enc_c);
      EXPECT_EQ(full.enc_s, o->enc_s);
      EXPECT_EQ(full.un_c, o->un_c);
      EXPECT_EQ(full.un_s, o->un_s);
    }
  }
}

}  // namespace
}  // namespace tls_test
