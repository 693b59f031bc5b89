// A libssl endpoint over memory BIOs, and the record and handshake framing
// the tests' own half of a connection writes and reads.
#pragma once

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <vector>

namespace tls_test {

using Bytes = std::vector<uint8_t>;

inline Bytes random_bytes(size_t n) {
  Bytes b(n);
  RAND_bytes(b.data(), int(n));
  return b;
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes o;
  for (const auto &p : parts) o.insert(o.end(), p.begin(), p.end());
  return o;
}
inline Bytes u16(size_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes u24(size_t v) { return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

struct Record {
  uint8_t type = 0;
  Bytes body;
};
inline Bytes record(uint8_t type, uint16_t version, const Bytes &body) {
  return cat({{type}, u16(version), u16(body.size()), body});
}
inline std::vector<Record> records(const Bytes &stream) {
  std::vector<Record> out;
  size_t pos = 0;
  while (pos + 5 <= stream.size()) {
    const size_t n = size_t(stream[pos + 3]) << 8 | stream[pos + 4];
    if (pos + 5 + n > stream.size()) break;
    out.push_back(
        {stream[pos], Bytes(stream.begin() + long(pos + 5), stream.begin() + long(pos + 5 + n))});
    pos += 5 + n;
  }
  EXPECT_EQ(stream.size(), pos) << "a record cut short";
  return out;
}
inline Bytes handshake(uint8_t type, const Bytes &body) {
  return cat({{type}, u24(body.size()), body});
}
// The handshake messages of a run of plain handshake records.
inline std::vector<Bytes> messages(const std::vector<Record> &recs) {
  Bytes all;
  for (const auto &r : recs)
    if (r.type == 22) all = cat({all, r.body});
  std::vector<Bytes> out;
  for (size_t pos = 0; pos + 4 <= all.size();) {
    const size_t n = size_t(all[pos + 1]) << 16 | size_t(all[pos + 2]) << 8 | all[pos + 3];
    out.emplace_back(all.begin() + long(pos), all.begin() + long(pos + 4 + n));
    pos += 4 + n;
  }
  return out;
}

// One libssl connection in memory; extended master secret, encrypt-then-MAC
// and tickets off, security level 0 so that TLS 1.0 and 1.1 run.
class Peer {
 public:
  Peer(bool server, int version, const char *ciphers, EVP_PKEY *key = nullptr,
       X509 *cert = nullptr) {
    ctx_ = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
    SSL_CTX_set_security_level(ctx_, 0);
    SSL_CTX_set_min_proto_version(ctx_, version);
    SSL_CTX_set_max_proto_version(ctx_, version);
    SSL_CTX_set_options(
        ctx_, SSL_OP_NO_EXTENDED_MASTER_SECRET | SSL_OP_NO_ENCRYPT_THEN_MAC | SSL_OP_NO_TICKET);
    SSL_CTX_set_session_cache_mode(ctx_, server ? SSL_SESS_CACHE_SERVER : SSL_SESS_CACHE_CLIENT);
    EXPECT_EQ(1, SSL_CTX_set_cipher_list(ctx_, ciphers)) << ciphers;
    if (key) {
      EXPECT_EQ(1, SSL_CTX_use_certificate(ctx_, cert));
      EXPECT_EQ(1, SSL_CTX_use_PrivateKey(ctx_, key));
    }
    ssl_ = SSL_new(ctx_);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl_, in_, out_);
    if (server)
      SSL_set_accept_state(ssl_);
    else
      SSL_set_connect_state(ssl_);
  }
  ~Peer() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
  }
  Peer(const Peer &) = delete;
  Peer &operator=(const Peer &) = delete;

  SSL *ssl() { return ssl_; }
  // Runs the handshake as far as it goes; true when it is complete.
  bool step() {
    const int r = SSL_do_handshake(ssl_);
    if (r == 1) return true;
    const int e = SSL_get_error(ssl_, r);
    EXPECT_TRUE(e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
        << "libssl: " << ERR_error_string(ERR_get_error(), nullptr);
    return false;
  }
  Bytes take() {
    Bytes b(size_t(BIO_ctrl_pending(out_)));
    if (!b.empty()) BIO_read(out_, b.data(), int(b.size()));
    return b;
  }
  void give(const Bytes &b) { BIO_write(in_, b.data(), int(b.size())); }
  void write(const Bytes &b) { ASSERT_EQ(int(b.size()), SSL_write(ssl_, b.data(), int(b.size()))); }
  Bytes read() {
    Bytes b(20000);
    const int n = SSL_read(ssl_, b.data(), int(b.size()));
    EXPECT_GT(n, 0) << "libssl: " << ERR_error_string(ERR_get_error(), nullptr);
    b.resize(n > 0 ? size_t(n) : 0);
    return b;
  }

 private:
  SSL_CTX *ctx_ = nullptr;
  SSL *ssl_ = nullptr;
  BIO *in_ = nullptr, *out_ = nullptr;
};

// A certificate for `key`, signed by a throwaway key (nobody verifies it).
inline X509 *certificate(EVP_PKEY *key) {
  EVP_PKEY *signer = EVP_EC_gen("P-256");
  X509 *x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  X509_gmtime_adj(X509_getm_notBefore(x), 0);
  X509_gmtime_adj(X509_getm_notAfter(x), 3600);
  X509_set_pubkey(x, key);
  X509_NAME *n = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("hsm"),
                             -1, -1, 0);
  X509_set_issuer_name(x, n);
  X509_sign(x, signer, EVP_sha256());
  EVP_PKEY_free(signer);
  return x;
}
inline Bytes der_of(X509 *x) {
  int n = i2d_X509(x, nullptr);
  Bytes out(size_t(n > 0 ? n : 0));
  unsigned char *p = out.data();
  i2d_X509(x, &p);
  return out;
}

}  // namespace tls_test
