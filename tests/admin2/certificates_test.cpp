// Certificate-based authentication: the sub-operations as sent (parameters,
// segments, presence bits), certificates stored per subject and read back,
// blobs longer than the caller's buffer, and the refusals before traffic.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "admin_fixture.h"
#include "qel2_admin2.h"

using namespace admin_test;

namespace {

class Certificates : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    session_ = officer_session();
  }
  static std::vector<uint8_t> blob(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i);
    return v;
  }
  Uint32 session_ = 0;
};

TEST_F(Certificates, StoredPerSubjectAndReadBack) {
  const CertSubject all[] = {OSTREL_CERT,
                             HSM_CERT,
                             PARTITION_OWNER_CERT,
                             PARTITION_CERT,
                             PARTITION_CERT_ISSUED_BY_HSM,
                             HSM_OWNER_CERT,
                             HSM_CERT_ISSUED_BY_HO};
  for (CertSubject s : all) {
    auto cert = blob(300 + s, static_cast<uint8_t>(s));
    const bool storable = s != OSTREL_CERT && s != PARTITION_CERT_ISSUED_BY_HSM;
    d().clear_captured();
    EXPECT_EQ(storable ? 0u : Uint32{RET_INVALID_INPUT},
              Qel2StoreCert(session_, s, cert.data(), static_cast<Uint32>(cert.size())))
        << s;
    auto sent = sent_requests(d(), KQ_CERT_AUTH_STORE_CERT);
    ASSERT_EQ(storable ? 1u : 0u, sent.size()) << s;
    if (!storable) continue;
    EXPECT_EQ(KQ_CERT_AUTH_CMD, sent[0].command_type);
    EXPECT_EQ(0, sent[0].param1);
    EXPECT_EQ(s, sent[0].param2);
    EXPECT_EQ(std::vector<uint16_t>{static_cast<uint16_t>(cert.size())}, sent[0].in_sizes());
    EXPECT_TRUE(sent[0].out_sizes().empty());
  }
  // Read back by subject; every subject is asked for.
  for (CertSubject s : all) {
    std::vector<uint8_t> back(1000);
    Uint32 n = static_cast<Uint32>(back.size());
    const Uint32 r = Qel2GetCert(session_, s, back.data(), &n);
    auto sent = sent_requests(d(), KQ_CERT_AUTH_GET_CERT);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(s, sent.back().param2);
    EXPECT_EQ((std::vector<uint16_t>{4, 1000}), sent.back().out_sizes());
    if (s == OSTREL_CERT || s == PARTITION_CERT_ISSUED_BY_HSM) {
      EXPECT_EQ(Uint32{RET_INVALID_INPUT}, r);  // the stand-in holds none
      continue;
    }
    ASSERT_EQ(0u, r) << s;
    back.resize(n);
    EXPECT_EQ(blob(300 + s, static_cast<uint8_t>(s)), back) << s;
  }
}

TEST_F(Certificates, BlobsLongerThanTheBufferAreTooSmall) {
  auto cert = blob(500, 1);
  ASSERT_EQ(0u, Qel2StoreCert(session_, HSM_CERT, cert.data(), 500));
  std::vector<uint8_t> buf(499);
  Uint32 n = 499;
  EXPECT_EQ(Uint32{ERR_BUFFER_TOO_SMALL}, Qel2GetCert(session_, HSM_CERT, buf.data(), &n));
  EXPECT_EQ(500u, n);
  n = 0;  // a size query
  EXPECT_EQ(Uint32{ERR_BUFFER_TOO_SMALL}, Qel2GetCert(session_, HSM_CERT, buf.data(), &n));
  EXPECT_EQ(500u, n);

  Uint32 kex_len = 100;
  std::vector<uint8_t> kex(128);
  EXPECT_EQ(Uint32{ERR_BUFFER_TOO_SMALL}, Qel2SourceKeyExchange(session_, 3, kex.data(), &kex_len));
  EXPECT_EQ(128u, kex_len);
  EXPECT_EQ(0u, Qel2SourceKeyExchange(session_, 3, kex.data(), &kex_len));

  // The certificate request: partition and HSM only, the text in full.
  std::vector<uint8_t> req(200);
  n = 200;
  ASSERT_EQ(0u, Qel2GetCertReq(session_, PARTITION_CERT, req.data(), &n));
  EXPECT_EQ("-----CERTIFICATE REQUEST: partition 1 subject 8-----\n",
            std::string(req.begin(), req.begin() + n));
  testing::internal::CaptureStdout();
  EXPECT_EQ(Uint32{RET_INVALID_INPUT},
            Qel2GetCertReq(session_, PARTITION_OWNER_CERT, req.data(), &n));
  EXPECT_EQ("\n\tCert Subject is neither PARTITION nor HSM for GET_CERT_REQ command\n",
            testing::internal::GetCapturedStdout());

  // A length word claiming more than arrived is not read as the blob.
  d().script(KQ_CERT_AUTH_CMD, KQ_CERT_AUTH_GET_CERT, payload(Be{}.u32(40).zeros(10), 1));
  n = 100;
  EXPECT_EQ(Uint32{TESSALINE_INVALID_MSG}, Qel2GetCert(session_, HSM_CERT, buf.data(), &n));

  // The peer certificate's random: 183 still reports the length needed.
  Uint8 rnd[16];
  Uint32 rl = sizeof rnd;
  EXPECT_EQ(Uint32{RET_RESULT_SIZE},
            Qel2CertAuthPeerCertVerify(session_, cert.data(), 500, 2, rnd, &rl));
  EXPECT_EQ(32u, rl);
}

TEST_F(Certificates, ValidationAndExchangesAsSent) {
  auto cert = blob(500, 7), kex = blob(90, 9);
  Uint8 target_random[64] = {}, source_random[64] = {};
  std::vector<uint8_t> source_kex(200);
  Uint32 len = 55;
  ASSERT_EQ(0u, Qel2ValidateCert(session_, 3, cert.data(), 500, nullptr, nullptr, 0, nullptr,
                                 nullptr, &len));
  EXPECT_EQ(0u, len);
  len = 200;
  ASSERT_EQ(0u, Qel2ValidateCert(session_, 3, cert.data(), 500, target_random, kex.data(), 90,
                                 source_random, source_kex.data(), &len));
  EXPECT_EQ(128u, len);
  Uint8 random[64];
  ASSERT_EQ(0u, Qel2GetSourceRandom(session_, 4, random));
  ASSERT_EQ(0u, Qel2TargetKeyExchange(session_, 5, kex.data(), 90));
  Uint8 sig[256], share[48];
  ASSERT_EQ(0u, Qel2StoreKBKShare(session_, 0x1F, 32, 2, share, sizeof share, sig, sizeof sig));

  auto v = sent_requests(d(), KQ_CERT_AUTH_VALIDATE_TARGET_CERTS);
  ASSERT_EQ(2u, v.size());
  EXPECT_EQ(std::vector<uint16_t>({4, 500}), v[0].in_sizes());
  EXPECT_TRUE(v[0].out_sizes().empty());
  EXPECT_EQ(3, v[0].param1);
  EXPECT_EQ(0, v[0].param2);
  EXPECT_EQ(500u, be32(v[0].body(), 0));
  EXPECT_EQ(std::vector<uint16_t>({4, 500, 64, 4, 90}), v[1].in_sizes());
  EXPECT_EQ(std::vector<uint16_t>({64, 4, 200}), v[1].out_sizes());
  EXPECT_EQ(15, v[1].param2);
  EXPECT_EQ(4 + 500 + 64 + 4 + 90, v[1].dlen);
  EXPECT_EQ(64 + 4 + 200, v[1].rlen);
  EXPECT_EQ(90u, be32(v[1].body(), 568));

  auto r = sent_requests(d(), KQ_CERT_AUTH_GET_SOURCE_RANDOM);
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ(std::vector<uint16_t>{64}, r[0].out_sizes());
  EXPECT_EQ(4, r[0].param1);
  auto t = sent_requests(d(), KQ_CERT_AUTH_TARGET_KEY_EXCHANGE);
  ASSERT_EQ(1u, t.size());
  EXPECT_EQ(std::vector<uint16_t>{90}, t[0].in_sizes());
  EXPECT_EQ(5, t[0].param1);
  EXPECT_EQ(90, t[0].dlen);

  // The share: whole session handle, the signature before the share.
  auto k = sent_requests(d(), KQ_STORE_KBK_SHARE);
  ASSERT_EQ(1u, k.size());
  EXPECT_EQ(KQ_MGMT_CMD, k[0].command_type);
  EXPECT_EQ(session_, k[0].sess_handle);
  EXPECT_EQ(std::vector<uint16_t>({52, 256, 48}), k[0].in_sizes());
  auto b = k[0].body();
  EXPECT_EQ(0x1Fu, be32(b, 20));
  EXPECT_EQ(48u, be32(b, 24));
  EXPECT_EQ(256u, be32(b, 28));
  EXPECT_EQ(2, b[48]);
  EXPECT_EQ(0, memcmp(b.data() + 52, sig, 256));
}

TEST_F(Certificates, RefusedBeforeAnyTraffic) {
  Uint8 buf[64] = {};
  Uint32 n = 64;
  std::vector<uint8_t> big(8193);
  struct Case {
    const char *what;
    Uint32 expect;
    std::function<Uint32()> call;
  } cases[] = {
      {"peer cert of 0", ERR_INVALID_INPUT,
       [&] { return Qel2CertAuthPeerCertVerify(session_, buf, 0, 1, buf, &n); }},
      {"peer without random length", ERR_INVALID_INPUT,
       [&] { return Qel2CertAuthPeerCertVerify(session_, buf, 4, 1, buf, nullptr); }},
      {"get cert without buffer", ERR_ARGUMENTS_BAD,
       [&] { return Qel2GetCert(session_, HSM_CERT, nullptr, &n); }},
      {"unknown subject", RET_INVALID_INPUT,
       [&] { return Qel2GetCert(session_, static_cast<CertSubject>(3), buf, &n); }},
      {"request without length", ERR_ARGUMENTS_BAD,
       [&] { return Qel2GetCertReq(session_, HSM_CERT, buf, nullptr); }},
      {"certificate past the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2StoreCert(session_, HSM_CERT, big.data(), 8193); }},
      {"validation without the length", ERR_INVALID_INPUT,
       [&] {
         return Qel2ValidateCert(session_, 1, buf, 4, nullptr, nullptr, 0, nullptr, nullptr,
                                 nullptr);
       }},
      {"validation past the limit", ERR_BUFFER_TOO_BIG,
       [&] {
         return Qel2ValidateCert(session_, 1, big.data(), 8190, nullptr, nullptr, 0, nullptr,
                                 nullptr, &n);
       }},
      {"source exchange without buffer", ERR_INVALID_INPUT,
       [&] { return Qel2SourceKeyExchange(session_, 1, nullptr, &n); }},
      {"target exchange without blob", ERR_INVALID_INPUT,
       [&] { return Qel2TargetKeyExchange(session_, 1, nullptr, 4); }},
      {"source random without buffer", ERR_INVALID_INPUT,
       [&] { return Qel2GetSourceRandom(session_, 1, nullptr); }},
      {"share without signature", ERR_INVALID_INPUT,
       [&] { return Qel2StoreKBKShare(session_, 1, 0, 0, buf, 4, nullptr, 4); }},
      {"share past the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2StoreKBKShare(session_, 1, 0, 0, big.data(), 8100, buf, 64); }},
  };
  testing::internal::CaptureStdout();
  for (const auto &c : cases) EXPECT_EQ(c.expect, c.call()) << c.what;
  EXPECT_EQ("Invalid certificate \n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0u, sent_count(d()));
}

}  // namespace
