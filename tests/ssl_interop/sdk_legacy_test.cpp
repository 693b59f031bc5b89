// Suites libssl no longer offers (RC4, DES, 3DES, MD5 MACs) and the DTLS
// versions, end to end through the SDK: a premaster handshake on the HSM,
// then its finished messages and records compared with ones built on the
// host from OpenSSL's own PRF, ciphers and HMAC.
#include <openssl/core_names.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/provider.h>

#include "qel2.h"
#include "sign_fixture.h"
#include "tls_peer.h"

namespace tls_test {
namespace {

using keys_test::LoggedIn;

struct Host {
  OSSL_LIB_CTX *lib = OSSL_LIB_CTX_new();
  OSSL_PROVIDER *def = OSSL_PROVIDER_load(lib, "default"),
                *legacy = OSSL_PROVIDER_load(lib, "legacy");
  ~Host() {
    OSSL_PROVIDER_unload(legacy);
    OSSL_PROVIDER_unload(def);
    OSSL_LIB_CTX_free(lib);
  }
};
Host &host() {
  static Host h;
  return h;
}

Bytes prf(const char *md, const Bytes &secret, const std::string &label, const Bytes &seed,
          size_t len) {
  EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
  EVP_KDF_CTX *kc = EVP_KDF_CTX_new(kdf);
  Bytes full = cat({Bytes(label.begin(), label.end()), seed}), out(len);
  OSSL_PARAM p[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char *>(md), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<uint8_t *>(secret.data()),
                                        secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, full.data(), full.size()),
      OSSL_PARAM_construct_end()};
  EXPECT_EQ(1, EVP_KDF_derive(kc, out.data(), len, p));
  EVP_KDF_CTX_free(kc);
  EVP_KDF_free(kdf);
  return out;
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
  bool dtls() const { return version == 0x800 || version == 0xC00; }
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
  EVP_CIPHER *c = EVP_CIPHER_fetch(host().lib, r.evp, nullptr);
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

class SdkLegacy : public LoggedIn {};

TEST_F(SdkLegacy, FinishedMessagesAndRecordsMatchTheHost) {
  const Row rows[] = {
      {"TLS 1.0 RC4-128 SHA-1", 0, 8, 2, 0x0301, "RC4", 16, 0, 0, 48},
      {"TLS 1.0 3DES MD5", 0, 14, 1, 0x0301, "DES-EDE3-CBC", 24, 8, 0, 48},
      {"TLS 1.1 DES SHA-1, odd premaster", 0x401, 12, 2, 0x0302, "DES-CBC", 8, 8, 8, 47},
      {"DTLS 1.0 3DES SHA-1", 0x800, 14, 2, 0xFEFF, "DES-EDE3-CBC", 24, 8, 8, 48},
      {"DTLS 1.2 AES-128 SHA-256", 0xC00, 5, 3, 0xFEFD, "AES-128-CBC", 16, 16, 16, 48},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    Uint64 ctx = 0;
    ASSERT_EQ(0u, Qel2AllocContext3(session_, &ctx));
    Bytes pm = random_bytes(r.premaster_len), cr = random_bytes(32), sr = random_bytes(32),
          hs = random_bytes(200), cmsn = {0, 0, 0, 0, 0, 0, 0, 5}, smsn = {0, 0, 0, 0, 0, 0, 0, 6},
          cseq = {0, 1, 0, 0, 0, 0, 0, 0}, sseq = {0, 1, 0, 0, 0, 0, 0, 0}, civ = random_bytes(16),
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
    const Bytes want_s = finished("server finished", cat({hs, want_c}), 6);
    EXPECT_EQ(want_c, plain_c);
    EXPECT_EQ(want_s, plain_s);
    const Bytes seq0 = r.version >= 2 ? cseq : Bytes(8);
    const Bytes e_c(civ.begin(), civ.begin() + long(r.eiv)),
        e_s(siv.begin(), siv.begin() + long(r.eiv));
    EXPECT_EQ(protect(r, client, seq0, 22, want_c, e_c), enc_c) << "client finished record";
    EXPECT_EQ(protect(r, server, r.version >= 2 ? sseq : Bytes(8), 22, want_s, e_s), enc_s)
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

}  // namespace
}  // namespace tls_test
