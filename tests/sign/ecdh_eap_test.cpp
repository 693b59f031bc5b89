// ECDH into an SSL context, the EAP-FAST key operations and FIPS random
// numbers: what the requests carry, the limits compared in 64 bits, and the
// secrets checked against OpenSSL on the host.
#include <openssl/kdf.h>

#include "sign_fixture.h"

namespace sign_test {
namespace {

class EcdhEapWire : public SessionWire {
 protected:
  Uint8 server_[48], client_[48], seed_[56];
};

TEST_F(EcdhEapWire, EcdhCarriesThePeerKeyAndTheContext) {
  answer(KQ_ECC_DH, resp(0));
  static Uint8 pub[8200] = {0x04};
  ASSERT_EQ(0u, Qel2Ecdh(session_, pub, 65, 0x3'0000'0044ull, 2, 0x8880));
  Request m = sent_only(d(), KQ_ECC_DH);
  EXPECT_EQ(97, m.dlen);
  EXPECT_EQ(97, m.param1);
  EXPECT_EQ(16, m.rlen);
  EXPECT_EQ((std::vector<uint16_t>{32, 65}), m.in_sizes());
  EXPECT_EQ(0x3'0000'0044ull, m.key_handle);
  const Bytes b = m.body();
  EXPECT_EQ(2u, be32(b, 20));
  EXPECT_EQ(0x41u, be32(b, 24));
  EXPECT_EQ(0x44u, be32(b, 28));
  EXPECT_EQ(0x8880u, last_ctx(KQ_ECC_DH));

  EXPECT_EQ(0u, Qel2Ecdh(session_, pub, 8160, 1, 2, 16));
  d().clear_captured();
  EXPECT_EQ(Uint32(ERR_BUFFER_TOO_BIG), Qel2Ecdh(session_, pub, 8161, 1, 2, 16));
  EXPECT_EQ(Uint32(ERR_BUFFER_TOO_BIG), Qel2Ecdh(session_, pub, 0xFFFFFFF0u, 1, 2, 16));
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), Qel2Ecdh(session_, nullptr, 65, 1, 2, 16));
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(EcdhEapWire, EapFastSendsTheServerRandomFirst) {
  std::memset(server_, 0x55, 48);
  std::memset(client_, 0xCC, 48);
  answer(KQ_EXPORT_SKS, resp(0).bytes(Bytes(56, 0x5E)));
  ASSERT_EQ(0u, Qel2EapFastExportSks(session_, 4, 48, 72, client_, server_, seed_, 0x21,
                                     0x0102030405060708ull, 0x9990));
  EXPECT_EQ(Bytes(56, 0x5E), Bytes(seed_, seed_ + 56));
  Request m = sent_only(d(), KQ_EXPORT_SKS);
  EXPECT_EQ((std::vector<uint16_t>{48, 48, 48}), m.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{16, 56}), m.out_sizes());
  EXPECT_EQ(144, m.dlen);
  EXPECT_EQ(72, m.rlen);
  EXPECT_EQ(0x21u, m.key_handle);
  EXPECT_EQ(0x9990u, last_ctx(KQ_EXPORT_SKS));
  const Bytes b = m.body();
  EXPECT_EQ((Bytes(Be{}.u32(4).u32(48).u32(0x21).u32(72).u32(0).u64(0x0102030405060708ull))),
            Bytes(b.begin() + 20, b.begin() + 48));
  EXPECT_EQ(0x55, b[48]);
  EXPECT_EQ(0xCC, b[96]);

  answer(KQ_PAC_KEY_HS, resp(0).bytes(Bytes(56, 1)));
  static Uint8 opaque[8100] = {};
  ASSERT_EQ(0u, Qel2EapFastPacHs(session_, opaque, 8048, 8, 32, 72, 9, client_, server_, seed_,
                                 0x22, 0x9990));
  Request p = sent_only(d(), KQ_PAC_KEY_HS);
  EXPECT_EQ(8192, p.dlen);
  EXPECT_EQ((std::vector<uint16_t>{48, 8048, 48, 48}), p.in_sizes());
  const Bytes pb = p.body();
  EXPECT_EQ((Bytes(Be{}.u32(8).u32(32).u32(0x22).u32(8048).u32(72).u64(9))),
            Bytes(pb.begin() + 20, pb.begin() + 48));
  EXPECT_EQ(0x55, pb[48 + 8048]);

  d().clear_captured();
  struct Row {
    Uint32 got, want;
  } rows[] = {
      {Qel2EapFastPacHs(session_, opaque, 8049, 0, 1, 0, 0, client_, server_, seed_, 1, 16),
       ERR_BUFFER_TOO_BIG},
      {Qel2EapFastPacHs(session_, opaque, 65500, 0, 1, 0, 0, client_, server_, seed_, 1, 16),
       ERR_BUFFER_TOO_BIG},
      {Qel2EapFastPacHs(session_, opaque, 0xFFFFFFC0u, 0, 1, 0, 0, client_, server_, seed_, 1, 16),
       ERR_BUFFER_TOO_BIG},
      {Qel2EapFastPacHs(session_, nullptr, 1, 0, 1, 0, 0, client_, server_, seed_, 1, 16),
       ERR_INVALID_INPUT},
      {Qel2EapFastPacHs(session_, opaque, 1, 0, 1, 0, 0, client_, server_, nullptr, 1, 16),
       ERR_INVALID_INPUT},
      {Qel2EapFastExportSks(session_, 0, 0, 0, nullptr, server_, seed_, 1, 0, 16),
       ERR_INVALID_INPUT},
      {Qel2EapFastExportSks(session_, 0, 0, 0, client_, server_, nullptr, 1, 0, 16),
       ERR_INVALID_INPUT},
  };
  for (const auto &r : rows) EXPECT_EQ(r.want, r.got);
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(EcdhEapWire, FipsRandomDeliversExactlyWhatWasAsked) {
  d().script(KQ_MGMT_VNX_CMD, KQ_FIPS_RAND, payload(Bytes(32, 0xAB), 1));
  Uint8 buf[32] = {};
  ASSERT_EQ(0u, Qel2GenerateFipsRandom(session_, buf, 32));
  EXPECT_EQ(Bytes(32, 0xAB), Bytes(buf, buf + 32));
  Request m = sent_only(d(), KQ_FIPS_RAND);
  EXPECT_EQ(KQ_MGMT_VNX_CMD, m.command_type);
  EXPECT_EQ(0, m.incnt);
  EXPECT_EQ((std::vector<uint16_t>{32}), m.out_sizes());
  EXPECT_EQ(32, m.rlen);
  EXPECT_EQ(32, m.param2);
  EXPECT_EQ(0, m.dlen);
  EXPECT_EQ(0, m.param1);

  d().script(KQ_MGMT_VNX_CMD, KQ_FIPS_RAND, payload(Bytes(10, 1), 1));
  EXPECT_EQ(Uint32(TESSALINE_INVALID_MSG), Qel2GenerateFipsRandom(session_, buf, 32));
  d().clear_captured();
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), Qel2GenerateFipsRandom(session_, nullptr, 32));
  EXPECT_EQ(0u, sent_count(d()));
}

// Length 0 asks for nothing: no buffer is needed, one empty output segment
// goes out.
TEST_F(EcdhEapWire, FipsRandomOfLengthZeroNeedsNoBuffer) {
  d().script(KQ_MGMT_VNX_CMD, KQ_FIPS_RAND, payload(Bytes{}, 1));
  ASSERT_EQ(0u, Qel2GenerateFipsRandom(session_, nullptr, 0));
  Request m = sent_only(d(), KQ_FIPS_RAND);
  EXPECT_EQ((std::vector<uint16_t>{0}), m.out_sizes());
  EXPECT_EQ(0, m.rlen);
  EXPECT_EQ(0, m.param2);
}

// A TLS 1.2 PRF (P_SHA256) on the host.
Bytes prf(const Bytes &secret, const std::string &label, const Uint8 *server, const Uint8 *client,
          size_t len) {
  Bytes seed(server, server + 48);
  seed.insert(seed.end(), client, client + 48);
  EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
  EVP_KDF_CTX *ctx = EVP_KDF_CTX_new(kdf);
  EVP_KDF_free(kdf);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char *>("SHA256"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<uint8_t *>(secret.data()),
                                        secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, const_cast<char *>(label.data()),
                                        label.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, seed.data(), seed.size()),
      OSSL_PARAM_construct_end()};
  Bytes out(len);
  EXPECT_EQ(1, EVP_KDF_derive(ctx, out.data(), out.size(), params));
  EVP_KDF_CTX_free(ctx);
  return out;
}

class EcdhEapE2e : public LoggedIn {
 protected:
  void SetUp() override {
    LoggedIn::SetUp();
    ASSERT_EQ(0u, Qel2AllocContext3(session_, &ctx_));
    for (int i = 0; i < 48; ++i) {
      server_[i] = Uint8(i);
      client_[i] = Uint8(0xF0 - i);
    }
  }
  Uint64 ctx_ = 0;
  Uint8 server_[48], client_[48];
};

TEST_F(EcdhEapE2e, EcdhSecretStaysInTheContextAndFeedsTheSeed) {
  Pkey mine = host_ec("P-256"), peer = host_ec("P-256");
  const Seeded obj = seed(d(), mine.get());
  Bytes point(65);
  size_t n = 0;
  EVP_PKEY_get_octet_string_param(peer.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), 65, &n);
  ASSERT_EQ(0u, Qel2Ecdh(session_, point.data(), Uint32(n), obj.priv, 2, ctx_));

  // The host derives the same secret from the peer's side.
  EVP_PKEY_CTX *dc = EVP_PKEY_CTX_new(peer.get(), nullptr);
  EVP_PKEY_derive_init(dc);
  EVP_PKEY_derive_set_peer(dc, mine.get());
  size_t len = 0;
  EVP_PKEY_derive(dc, nullptr, &len);
  Bytes shared(len);
  EVP_PKEY_derive(dc, shared.data(), &len);
  EVP_PKEY_CTX_free(dc);
  EXPECT_EQ(shared, d().hsm().ssl_context_secret(ctx_));

  Uint8 seed56[56] = {};
  ASSERT_EQ(0u, Qel2EapFastExportSks(session_, 0, 0, 72, client_, server_, seed56, 0, 0, ctx_));
  EXPECT_EQ(prf(shared, "key expansion", server_, client_, 56), Bytes(seed56, seed56 + 56));

  // A curve other than the key's, a point off the curve, a freed context.
  point[40] ^= 1;
  EXPECT_EQ(Uint32(RET_INVALID_INPUT),
            Qel2Ecdh(session_, point.data(), Uint32(n), obj.priv, 2, ctx_));
  point[40] ^= 1;
  EXPECT_EQ(Uint32(RET_INVALID_INPUT),
            Qel2Ecdh(session_, point.data(), Uint32(n), obj.priv, 3, ctx_));
  ASSERT_EQ(0u, Qel2FreeContext3(session_, ctx_));
  EXPECT_EQ(0x4000020Cu, Qel2Ecdh(session_, point.data(), Uint32(n), obj.priv, 2, ctx_));
}

TEST_F(EcdhEapE2e, PacHandshakeFollowsItsConvention) {
  Bytes opaque(80);
  for (size_t i = 0; i < opaque.size(); ++i) opaque[i] = Uint8(i * 7);
  Uint8 seed56[56] = {};
  ASSERT_EQ(0u, Qel2EapFastPacHs(session_, opaque.data(), 80, 16, 32, 72, 0, client_, server_,
                                 seed56, 0, ctx_));
  const Bytes pac_key(opaque.begin() + 16, opaque.begin() + 48);
  const Bytes master = prf(pac_key, "PAC to master secret label hash", server_, client_, 48);
  EXPECT_EQ(prf(master, "key expansion", server_, client_, 56), Bytes(seed56, seed56 + 56));
  // The PAC-Key must lie within the PAC-Opaque.
  EXPECT_EQ(Uint32(RET_INVALID_INPUT), Qel2EapFastPacHs(session_, opaque.data(), 80, 64, 32, 72, 0,
                                                        client_, server_, seed56, 0, ctx_));
  // A context without a secret has nothing to export.
  Uint64 empty = 0;
  ASSERT_EQ(0u, Qel2AllocContext3(session_, &empty));
  EXPECT_EQ(Uint32(RET_INVALID_INPUT),
            Qel2EapFastExportSks(session_, 0, 0, 72, client_, server_, seed56, 0, 0, empty));
}

TEST_F(EcdhEapE2e, FipsRandomBeyondOneSegmentComesInPieces) {
  Bytes buf(70000, 0);
  ASSERT_EQ(0u, Qel2GenerateFipsRandom(session_, buf.data(), Uint32(buf.size())));
  size_t zeros = 0;
  for (size_t i = 65000; i < buf.size(); ++i) zeros += buf[i] == 0;
  EXPECT_LT(zeros, 100u);  // the tail came from the second piece
  EXPECT_EQ(2u, sent_requests(d(), KQ_FIPS_RAND).size());
}

}  // namespace
}  // namespace sign_test
