// The stand-in's TLS engine against OpenSSL's own implementations: the PRF
// of each version against the TLS1-PRF KDF, and record protection of the
// ciphers libssl no longer offers (RC4, DES, 3DES) against records built
// here from EVP primitives.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/provider.h>

#include <string>

#include "host_tls.h"
#include "hsm/tls/prf.h"
#include "hsm/tls/record.h"

namespace {

using namespace hsmsim::hsm::tls;

Bytes pattern(size_t n, uint8_t start) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(start + 7 * i);
  return b;
}
Bytes cat(const Bytes &a, const Bytes &b) {
  Bytes o = a;
  o.insert(o.end(), b.begin(), b.end());
  return o;
}

Bytes openssl_prf(const char *md, const Bytes &secret, const std::string &label, const Bytes &seed,
                  size_t len) {
  return tls_test::host_prf(md, secret, label, seed, len);
}

TEST(TlsPrf, AgreesWithOpenSslForEveryVersionAndOddSecrets) {
  struct Row {
    uint32_t version;
    const char *prf_md, *openssl_md;
    size_t secret_len, out_len;
  } rows[] = {
      {ver::kTls10, nullptr, "MD5-SHA1", 48, 104},  // key block of AES-256-CBC-SHA
      {ver::kTls11, nullptr, "MD5-SHA1", 47, 12},   // odd: the halves share a byte
      {ver::kDtls10, nullptr, "MD5-SHA1", 1, 48},  {ver::kTls12, "SHA256", "SHA256", 48, 72},
      {ver::kDtls12, "SHA384", "SHA384", 48, 100}, {ver::kTls12, "SHA512", "SHA512", 33, 12},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.version);
    const Bytes secret = pattern(r.secret_len, 3), seed = pattern(64, 100);
    EXPECT_EQ(openssl_prf(r.openssl_md, secret, "key expansion", seed, r.out_len),
              prf(r.version, r.prf_md, secret, "key expansion", seed, r.out_len));
  }
}

TEST(TlsPrf, MasterSecretKeyBlockAndFinishedUseTheirLabelsAndRandomOrder) {
  const Bytes pre = pattern(48, 1), cr = pattern(32, 50), sr = pattern(32, 90);
  const Bytes master = master_secret(ver::kTls12, "SHA256", pre, cr, sr);
  EXPECT_EQ(openssl_prf("SHA256", pre, "master secret", cat(cr, sr), 48), master);
  EXPECT_EQ(openssl_prf("SHA256", master, "key expansion", cat(sr, cr), 40),
            key_block(ver::kTls12, "SHA256", master, cr, sr, 40));
  const Bytes msgs = pattern(300, 9);
  Bytes md5(16), sha1(20);
  EVP_Digest(msgs.data(), msgs.size(), md5.data(), nullptr, EVP_md5(), nullptr);
  EVP_Digest(msgs.data(), msgs.size(), sha1.data(), nullptr, EVP_sha1(), nullptr);
  EXPECT_EQ(openssl_prf("MD5-SHA1", master, "client finished", cat(md5, sha1), 12),
            verify_data(ver::kTls11, nullptr, master, true, msgs));
  Bytes h(32);
  EVP_Digest(msgs.data(), msgs.size(), h.data(), nullptr, EVP_sha256(), nullptr);
  EXPECT_EQ(openssl_prf("SHA256", master, "server finished", h, 12),
            verify_data(ver::kTls12, "SHA256", master, false, msgs));
}

// ---- record protection of the suites libssl no longer offers ----

Bytes evp(const char *name, const Bytes &key, const Bytes &iv, const Bytes &in) {
  EVP_CIPHER *c = EVP_CIPHER_fetch(tls_test::legacy_lib(), name, nullptr);
  EXPECT_NE(nullptr, c) << name;
  EVP_CIPHER_CTX *x = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n = 0;
  EVP_EncryptInit_ex2(x, c, key.data(), iv.empty() ? nullptr : iv.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(x, 0);
  EVP_EncryptUpdate(x, out.data(), &n, in.data(), int(in.size()));
  out.resize(size_t(n));
  EVP_CIPHER_CTX_free(x);
  EVP_CIPHER_free(c);
  return out;
}

Bytes hmac_sha1(const Bytes &key, const Bytes &in) {
  Bytes out(20);
  unsigned n = 0;
  HMAC(EVP_sha1(), key.data(), int(key.size()), in.data(), in.size(), out.data(), &n);
  return out;
}

Bytes mac_input(uint64_t seq, uint8_t type, uint16_t version, const Bytes &data) {
  Bytes m = seq_bytes(seq);
  m.insert(m.end(), {type, uint8_t(version >> 8), uint8_t(version), uint8_t(data.size() >> 8),
                     uint8_t(data.size())});
  return cat(m, data);
}

TEST(TlsRecord, LegacySuitesMatchRecordsBuiltFromEvp) {
  struct Row {
    uint32_t cipher, version;
    const char *evp;
    size_t key_len, block;
  } rows[] = {
      {8, ver::kTls10, "RC4", 16, 0},
      {12, ver::kTls10, "DES-CBC", 8, 8},
      {14, ver::kTls11, "DES-EDE3-CBC", 24, 8},
      {14, ver::kDtls10, "DES-EDE3-CBC", 24, 8},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.evp);
    RecordKind k{r.version, suite(r.cipher), 2};
    const Bytes kb = pattern(k.key_block_len(), 17);
    WriteState client, server, peer_client, peer_server;
    ASSERT_TRUE(install(k, kb, client, server));
    ASSERT_TRUE(install(k, kb, peer_client, peer_server));
    const Bytes mac_key(kb.begin(), kb.begin() + 20),
        key(kb.begin() + 40, kb.begin() + 40 + long(r.key_len)),
        fixed_iv(kb.begin() + 40 + 2 * long(r.key_len),
                 kb.begin() + 40 + 2 * long(r.key_len) + long(r.block));
    const Bytes eiv = explicit_iv(r.version) && r.block ? pattern(8, 77) : Bytes{};
    // Two records: the stream and the chained IV of TLS 1.0 carry over.
    Bytes stream_in, expect;
    Bytes chain = fixed_iv;
    for (uint64_t seq = 0; seq < 2; ++seq) {
      const Bytes data = pattern(37 + seq, uint8_t(seq));
      Bytes plain =
          cat(data, hmac_sha1(mac_key, mac_input(seq, 23, wire_version(r.version), data)));
      Bytes body;
      ASSERT_EQ(0u, protect(k, client, 23, seq_bytes(seq), eiv, data, 1, body));
      if (r.block) {
        const size_t pad = r.block - plain.size() % r.block + r.block;
        plain.insert(plain.end(), pad, uint8_t(pad - 1));
        const Bytes ct = evp(r.evp, key, eiv.empty() ? chain : eiv, plain);
        expect = cat(eiv, ct);
        chain.assign(ct.end() - long(r.block), ct.end());
      } else {
        stream_in = cat(stream_in, plain);
        const Bytes all = evp(r.evp, key, {}, stream_in);
        expect.assign(all.end() - long(plain.size()), all.end());
      }
      EXPECT_EQ(expect, body) << seq;
      // The peer opens it with its own copy of the client's write state.
      Bytes out;
      const Bytes ct(body.begin() + long(eiv.size()), body.end());
      ASSERT_EQ(0u, unprotect(k, peer_client, 23, seq_bytes(seq), eiv, ct, out));
      EXPECT_EQ(data, Bytes(out.begin(), out.begin() + long(data.size())));
    }
  }
}

TEST(TlsRecord, TamperedRecordsAndOverlongPaddingAreRefused) {
  for (uint32_t cipher : {5u, 4u, 8u}) {
    SCOPED_TRACE(cipher);
    RecordKind k{ver::kTls12, suite(cipher), cipher == 4 ? 3u : 2u};
    const Bytes kb = pattern(k.key_block_len(), 5);
    WriteState c1, s1, c2, s2;
    ASSERT_TRUE(install(k, kb, c1, s1));
    ASSERT_TRUE(install(k, kb, c2, s2));
    const Bytes iv = pattern(suite(cipher)->explicit_iv, 1), data = pattern(40, 2);
    Bytes body, out;
    ASSERT_EQ(0u, protect(k, c1, 23, seq_bytes(1), iv, data, 0, body));
    Bytes ct(body.begin() + long(iv.size()), body.end());
    ct[3] ^= 1;
    EXPECT_EQ(0x0Cu, unprotect(k, c2, 23, seq_bytes(1), iv, ct, out));  // ERR_BAD_HMAC_DIGEST
  }
  RecordKind k{ver::kTls11, suite(5), 2};
  WriteState c, s;
  ASSERT_TRUE(install(k, pattern(k.key_block_len(), 1), c, s));
  Bytes body;
  // 15 extra blocks: 16 * 16 = 256 bytes of padding fit; 16 extra do not.
  EXPECT_EQ(0u, protect(k, c, 23, seq_bytes(0), pattern(16, 0), pattern(12, 0), 15, body));
  EXPECT_EQ(0x0Eu, protect(k, c, 23, seq_bytes(0), pattern(16, 0), pattern(12, 0), 16, body));
}

}  // namespace
