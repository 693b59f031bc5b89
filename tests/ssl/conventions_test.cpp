// The size functions of the public header and the SHA-2 initial values, by
// the tables the requests are built from.
#include "ssl_fixture.h"

namespace ssl_test {
namespace {

TEST(SslSizes, CipherTable) {
  struct Row {
    int cipher;
    Int32 iv;
    SslCipherMode mode;
  } rows[] = {
      {AES_GCM_128, 8, SSL_CIPHER_MODE_GCM},
      {AES_128, 16, SSL_CIPHER_MODE_BLOCK},
      {AES_GCM_256, 8, SSL_CIPHER_MODE_GCM},
      {AES_256, 16, SSL_CIPHER_MODE_BLOCK},
      {RC4_128, 0, SSL_CIPHER_MODE_STREAM},
      {RC4_EXPORT_40, 0, SSL_CIPHER_MODE_STREAM},
      {RC4_EXPORT_56, 0, SSL_CIPHER_MODE_STREAM},
      {DES, 8, SSL_CIPHER_MODE_BLOCK},
      {DES_EXPORT_40, 8, SSL_CIPHER_MODE_BLOCK},
      {DES3_192, 8, SSL_CIPHER_MODE_BLOCK},
      {DES_EXPORT_56, 8, SSL_CIPHER_MODE_BLOCK},
      {0, -1, SSL_CIPHER_MODE_NONE},
      {3, -1, SSL_CIPHER_MODE_NONE},
      {10, -1, SSL_CIPHER_MODE_NONE},
      {16, -1, SSL_CIPHER_MODE_NONE},
      {-1, -1, SSL_CIPHER_MODE_NONE},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(r.iv, get_ssl_explicit_iv_length(CipherType(r.cipher))) << r.cipher;
    EXPECT_EQ(r.mode, get_cipher_mode(CipherType(r.cipher))) << r.cipher;
  }
  EXPECT_EQ(AES_GCM_256, AES_192);
}

TEST(SslSizes, FinishedAndRecordSizes) {
  EXPECT_EQ(16u, get_finished_size(VER_TLS));
  EXPECT_EQ(40u, get_finished_size(VER3_0));
  for (SslVersion v : {VER_DTLS, VER_DTLS_POST_RFC, VER_DTLS1_2})
    EXPECT_EQ(24u, get_finished_size(v));
  for (SslVersion v : {VER_TLS1_1, VER_TLS1_2}) EXPECT_EQ(16u, get_finished_size(v));
  EXPECT_EQ(0u, get_finished_size(SslVersion(2)));
  // payload 100, SHA-1 MAC, padding blocks.
  EXPECT_EQ(128, get_record_size(AES_128, 100, 20, 0));
  EXPECT_EQ(192, get_record_size(AES_256, 100, 48, 2));
  EXPECT_EQ(128, get_record_size(DES3_192, 100, 20, 0));
  EXPECT_EQ(144, get_record_size(DES, 100, 20, 2));
  EXPECT_EQ(120, get_record_size(RC4_128, 100, 20, 7));
  EXPECT_EQ(116, get_record_size(AES_GCM_128, 100, 16, 3));
  // Computed in 16 bits.
  EXPECT_EQ(Uint16((0xFFF0 + 20 + 16) & ~15), get_record_size(AES_128, 0xFFF0, 20, 0));
}

TEST(SslSizes, ContextOffsets) {
  struct Row {
    CipherType c;
    SslVersion v;
    int party;
    int enc;
    Uint32 want;
  } rows[] = {
      // The client's own write state: its encryption and the server's decryption.
      {AES_128, VER_TLS, SSL_CLIENT, 1, 176},
      {AES_128, VER_TLS, SSL_SERVER, 0, 176},
      {RC4_128, VER_TLS1_2, SSL_CLIENT, 1, 256},
      {DES, VER_DTLS1_2, SSL_SERVER, 0, 256},
      {AES_GCM_128, VER_DTLS_POST_RFC, SSL_CLIENT, 1, 176},
      // The server's, by cipher family.
      {RC4_128, VER_TLS, SSL_SERVER, 1, 496},
      {RC4_EXPORT_56, VER_TLS1_2, SSL_CLIENT, 0, 656},
      {DES3_192, VER_TLS1_1, SSL_SERVER, 1, 272},
      {DES_EXPORT_40, VER_TLS1_2, SSL_SERVER, 1, 456},
      {AES_256, VER3_0, SSL_CLIENT, 0, 304},
      {AES_GCM_256, VER_DTLS1_2, SSL_SERVER, 1, 456},
      // Any non-zero party encrypts as the client; any but the client
      // decrypts as the server.
      {AES_128, VER_TLS, 7, 1, 176},
      {AES_128, VER_TLS, 7, 0, 176},
  };
  for (const Row &r : rows)
    EXPECT_EQ(r.want, get_context_offset(r.c, r.v, SslPartyType(r.party), r.enc))
        << r.c << " " << r.v << " " << r.party << " " << r.enc;
}

TEST(SslSizes, Sha2InitialValues) {
  Uint8 out[64] = {};
  Uint32 len = 0;
  get_sha2_iv(SHA224_TYPE, out, &len);
  ASSERT_EQ(32u, len);
  EXPECT_EQ((Bytes{0xc1, 0x05, 0x9e, 0xd8}), Bytes(out, out + 4));
  EXPECT_EQ((Bytes{0xbe, 0xfa, 0x4f, 0xa4}), Bytes(out + 28, out + 32));
  get_sha2_iv(SHA512_TYPE, out, &len);
  ASSERT_EQ(64u, len);
  EXPECT_EQ((Bytes{0x6a, 0x09, 0xe6, 0x67, 0xf3, 0xbc, 0xc9, 0x08}), Bytes(out, out + 8));
  EXPECT_EQ((Bytes{0x5b, 0xe0, 0xcd, 0x19, 0x13, 0x7e, 0x21, 0x79}), Bytes(out + 56, out + 64));
  get_sha2_iv(SHA384_TYPE, out, &len);
  ASSERT_EQ(64u, len);
  EXPECT_EQ((Bytes{0xcb, 0xbb, 0x9d, 0x5d, 0xc1, 0x05, 0x9e, 0xd8}), Bytes(out, out + 8));
  // No initial value: nothing written, the length left as it was.
  for (HashType h : {MD5_TYPE, SHA1_TYPE, SHA256_TYPE, AESCMAC_TYPE}) {
    Uint8 untouched[64];
    std::memset(untouched, 0xEE, sizeof untouched);
    len = 1234;
    get_sha2_iv(h, untouched, &len);
    EXPECT_EQ(1234u, len);
    EXPECT_EQ(Bytes(64, 0xEE), Bytes(untouched, untouched + 64));
  }
}

}  // namespace
}  // namespace ssl_test
