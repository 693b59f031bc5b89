// Whole TLS connections between libssl and the HSM, the test writing the
// rest of the protocol: RSA key exchange with the server's key on the HSM
// (TLS 1.0, 1.1, 1.2; CBC and GCM), resumption from the sealed master
// secret in a fresh context, and ECDHE as the client with a key the HSM
// generated. Finished records must equal libssl's byte for byte, and
// application records cross both ways. Each runs twice: through the SDK's
// calls, and with requests laid out by the test (the stand-in on its own).
#include <openssl/core_names.h>

#include "sdk_offload.h"
#include "sign_fixture.h"

namespace tls_test {
namespace {

using keys_test::LoggedIn;

const Suite kRsaSuites[] = {
    {"AES128-SHA", TLS1_VERSION, 0, 5, 2, 0x002F, 20, 16, 0},
    {"AES256-SHA", TLS1_1_VERSION, 0x401, 7, 2, 0x0035, 20, 16, 16},
    {"AES128-SHA256", TLS1_2_VERSION, 0x801, 5, 3, 0x003C, 32, 16, 16},
    {"AES128-GCM-SHA256", TLS1_2_VERSION, 0x801, 4, 3, 0x009C, 0, 0, 8},
    {"AES256-GCM-SHA384", TLS1_2_VERSION, 0x801, 6, 4, 0x009D, 0, 0, 8},
};

class Interop : public LoggedIn, public ::testing::WithParamInterface<bool> {
 protected:
  std::unique_ptr<Offload> offload(const Suite &s) {
    if (GetParam()) return std::make_unique<SdkOffload>(session_, s);
    return std::make_unique<RawOffload>(d().hsm(), session_, s);
  }
  uint64_t ctx_ = 0;
  uint64_t new_context() {
    Uint64 ctx = 0;
    EXPECT_EQ(0u, Qel2AllocContext3(session_, &ctx));
    return ctx;
  }

  // Application data both ways once both sides hold their keys; `seq` the
  // next sequence numbers of the client's and the server's records.
  void exchange(Offload &hsm, Peer &peer, const Suite &s, uint64_t ctx, bool hsm_is_client,
                uint64_t seq) {
    const Bytes ping = random_bytes(300), pong = random_bytes(1000);
    Bytes got;
    if (hsm_is_client) {
      peer.give(record(23, s.wire(), hsm.encrypt(ctx, true, seq, 3, ping)));
      EXPECT_EQ(ping, peer.read());
    } else {
      peer.write(ping);
      // TLS 1.0 CBC sends an empty record ahead of the data.
      for (const Record &r : records(peer.take())) {
        ASSERT_EQ(23, r.type);
        got = cat({got, hsm.decrypt(ctx, true, seq++, 3, r.body)});
      }
      EXPECT_EQ(ping, got);
    }
    if (hsm_is_client) {
      peer.write(pong);
      for (const Record &r : records(peer.take()))
        got = cat({got, hsm.decrypt(ctx, false, seq++, 3, r.body)});
      EXPECT_EQ(pong, got);
    } else {
      peer.give(record(23, s.wire(), hsm.encrypt(ctx, false, 1, 3, pong)));
      EXPECT_EQ(pong, peer.read());
    }
  }

  // The server side of a full RSA handshake: hello, certificate and done by
  // the test, the key exchange and both finished messages by the HSM.
  // Returns the sealed master secret.
  Bytes rsa_handshake(Offload &hsm, Peer &client, const Suite &s, uint64_t ctx, uint64_t key,
                      const Bytes &cert_der, Bytes &session_id, bool verify_first = false) {
    EXPECT_FALSE(client.step());
    auto hello = messages(records(client.take()));
    if (hello.size() != 1 || hello[0][0] != 1) return ADD_FAILURE(), Bytes{};
    const Bytes cr(hello[0].begin() + 6, hello[0].begin() + 38), sr = random_bytes(32);
    session_id = random_bytes(32);
    const Bytes flight =
        cat({handshake(2, cat({u16(s.wire()),
                               sr,
                               {32},
                               session_id,
                               u16(s.id),
                               {0},
                               u16(5),
                               {0xFF, 0x01, 0x00, 0x01, 0x00}})),
             handshake(11, cat({u24(cert_der.size() + 3), u24(cert_der.size()), cert_der})),
             handshake(14, {})});
    client.give(record(22, s.wire(), flight));
    EXPECT_FALSE(client.step());
    auto recs = records(client.take());
    if (recs.size() != 3) return ADD_FAILURE() << recs.size(), Bytes{};
    const Bytes &cke = recs[0].body, &finished = recs[2].body;
    EXPECT_EQ(20, recs[1].type);
    const Bytes epms(cke.begin() + 6, cke.end());  // after the header and its length
    const Bytes hs = cat({hello[0], flight, cke});

    const Bytes client_iv(finished.begin(), finished.begin() + long(s.eiv));
    Reply r;
    if (verify_first) {
      // The verify form, then the finished messages over the same messages
      // (where a client certificate-verify message would be added).
      Reply v = hsm.rsa_verify(ctx, key, epms, cr, sr, hs);
      EXPECT_EQ(0u, v.status);
      Bytes want(EVP_MAX_MD_SIZE);
      unsigned n = 0;
      if (s.tls12()) {
        EVP_Digest(hs.data(), hs.size(), want.data(), &n, EVP_sha256(), nullptr);
      } else {
        EVP_Digest(hs.data(), hs.size(), want.data(), &n, EVP_md5(), nullptr);
        EVP_Digest(hs.data(), hs.size(), want.data() + 16, &n, EVP_sha1(), nullptr);
        n = 36;
      }
      want.resize(n);
      EXPECT_EQ(want, v.outs[1]) << "verify data";
      r = hsm.finished(ctx, hs, client_iv, random_bytes(s.eiv));
      r.outs.insert(r.outs.begin(), v.outs[0]);
    } else {
      r = hsm.rsa_full(ctx, key, epms, cr, sr, hs, client_iv, random_bytes(s.eiv));
    }
    EXPECT_EQ(0u, r.status);
    if (r.status) return {};
    EXPECT_EQ(finished, r.outs[1]) << "the client's finished record";
    EXPECT_EQ((Bytes{20, 0, 0, 12}), Bytes(r.outs[3].begin(), r.outs[3].begin() + 4));
    client.give(cat({record(20, s.wire(), {1}), record(22, s.wire(), r.outs[2])}));
    EXPECT_TRUE(client.step());
    return r.outs[0];
  }
};

TEST_P(Interop, RsaServerHandshakesAndRecordsWithLibssl) {
  keys_test::Pkey k1024(EVP_RSA_gen(1024)), k2048(EVP_RSA_gen(2048));
  for (const Suite &s : kRsaSuites) {
    SCOPED_TRACE(s.name);
    EVP_PKEY *host = s.proto == TLS1_VERSION ? k1024.get() : k2048.get();
    const uint64_t key = sign_test::seed(d(), host).priv;
    X509 *cert = certificate(host);
    auto owned = offload(s);
    // In one request, and in the verify form then the finished messages.
    for (bool verify_first : {false, true}) {
      const uint64_t ctx = new_context();
      Peer client(false, s.proto, s.name);
      Bytes sid;
      EXPECT_EQ(48u,
                rsa_handshake(*owned, client, s, ctx, key, der_of(cert), sid, verify_first).size());
      exchange(*owned, client, s, ctx, false, 1);
    }
    X509_free(cert);
  }
}

TEST_P(Interop, ResumptionFromTheSealedMasterSecretInAFreshContext) {
  keys_test::Pkey host(EVP_RSA_gen(2048));
  const uint64_t key = sign_test::seed(d(), host.get()).priv;
  X509 *cert = certificate(host.get());
  for (const Suite &s : {kRsaSuites[0], kRsaSuites[2], kRsaSuites[4]}) {
    SCOPED_TRACE(s.name);
    auto owned = offload(s);
    Offload &hsm = *owned;
    Peer first(false, s.proto, s.name);
    Bytes sid;
    const Bytes sealed = rsa_handshake(hsm, first, s, new_context(), key, der_of(cert), sid);
    SSL_SESSION *session = SSL_get1_session(first.ssl());

    Peer again(false, s.proto, s.name);
    SSL_set_session(again.ssl(), session);
    SSL_SESSION_free(session);
    EXPECT_FALSE(again.step());
    auto hello = messages(records(again.take()));
    ASSERT_EQ(1u, hello.size());
    const Bytes cr(hello[0].begin() + 6, hello[0].begin() + 38), sr = random_bytes(32);
    ASSERT_EQ(sid, Bytes(hello[0].begin() + 39, hello[0].begin() + 71)) << "offers the session";
    const Bytes sh = handshake(2, cat({u16(s.wire()),
                                       sr,
                                       {32},
                                       sid,
                                       u16(s.id),
                                       {0},
                                       u16(5),
                                       {0xFF, 0x01, 0x00, 0x01, 0x00}}));
    // The server's finished goes first; the client's comes back plain, to
    // check the client's record against.
    const uint64_t ctx = new_context();
    Reply r = hsm.resume(ctx, sealed, cr, sr, cat({hello[0], sh}), random_bytes(s.eiv),
                         random_bytes(s.eiv));
    ASSERT_EQ(0u, r.status);
    again.give(cat(
        {record(22, s.wire(), sh), record(20, s.wire(), {1}), record(22, s.wire(), r.outs[1])}));
    EXPECT_TRUE(again.step());
    auto recs = records(again.take());
    ASSERT_EQ(2u, recs.size());
    EXPECT_EQ(r.outs[0], hsm.decrypt(ctx, true, 0, 2, recs[1].body)) << "the client's finished";
    exchange(hsm, again, s, ctx, false, 1);
  }
  X509_free(cert);
}

// The client side of ECDHE-RSA with a P-256 key the HSM generated: its
// public point (read back through the SDK) goes into the key exchange, and
// the generate form's own point must agree with it.
TEST_P(Interop, EcdheClientWithAnHsmGeneratedKey) {
  const Suite suites[] = {
      {"ECDHE-RSA-AES128-GCM-SHA256", TLS1_2_VERSION, 0x801, 4, 3, 0xC02F, 0, 0, 8},
      {"ECDHE-RSA-AES256-SHA", TLS1_VERSION, 0, 7, 2, 0xC014, 20, 16, 0},
  };
  keys_test::Pkey server_key(EVP_RSA_gen(2048));
  X509 *cert = certificate(server_key.get());
  for (const Suite &s : suites) {
    SCOPED_TRACE(s.name);
    Uint64 pub = 0, priv = 0;
    ASSERT_EQ(0u,
              Qel2GenerateKeyPair(session_, KEY_TYPE_EC, 0, 0, NID_X9_62_prime256v1, 0, nullptr, 0,
                                  nullptr, nullptr, 0, nullptr, 0, nullptr, 0, keys_test::u8("pub"),
                                  3, keys_test::u8("priv"), 4, STORAGE_FLASH, &pub, &priv));
    keys_test::Pkey own = keys_test::parse_spki(exported(pub));
    Bytes point(65);
    size_t len = 0;
    ASSERT_EQ(1, EVP_PKEY_get_octet_string_param(own.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                                 point.size(), &len));

    Peer server(true, s.proto, s.name, server_key.get(), cert);
    SSL_set1_groups_list(server.ssl(), "P-256");
    auto owned = offload(s);
    Offload &hsm = *owned;
    const Bytes cr = random_bytes(32);
    const Bytes exts = cat({{0x00, 0x0A, 0x00, 0x04, 0x00, 0x02, 0x00, 0x17},  // P-256
                            {0x00, 0x0B, 0x00, 0x02, 0x01, 0x00},              // uncompressed
                            {0x00, 0x0D, 0x00, 0x06, 0x00, 0x04, 0x04, 0x01, 0x02, 0x01},
                            {0xFF, 0x01, 0x00, 0x01, 0x00}});
    const Bytes hello = handshake(
        1, cat({u16(s.wire()), cr, {0}, u16(2), u16(s.id), {1, 0}, u16(exts.size()), exts}));
    server.give(record(22, 0x0301, hello));
    EXPECT_FALSE(server.step());
    auto flight = messages(records(server.take()));
    ASSERT_EQ(4u, flight.size());
    const Bytes sr(flight[0].begin() + 6, flight[0].begin() + 38);
    const Bytes &ske = flight[2];
    ASSERT_EQ((Bytes{3, 0x00, 0x17, 65}), Bytes(ske.begin() + 4, ske.begin() + 8));
    const Bytes peer_x(ske.begin() + 9, ske.begin() + 41),
        peer_y(ske.begin() + 41, ske.begin() + 73);
    const Bytes cke = handshake(16, cat({{65}, point}));
    const Bytes hs = cat({hello, flight[0], flight[1], flight[2], flight[3], cke});

    EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
    BIGNUM *p = BN_new();
    EC_GROUP_get_curve(g, p, nullptr, nullptr, nullptr);
    Bytes prime(32), gen(65);
    BN_bn2binpad(p, prime.data(), 32);
    EC_POINT_point2oct(g, EC_GROUP_get0_generator(g), POINT_CONVERSION_UNCOMPRESSED, gen.data(), 65,
                       nullptr);
    BN_free(p);
    EC_GROUP_free(g);

    // The client's finished comes back encrypted, the server's plain.
    ctx_ = new_context();
    Reply r = hsm.ecdh(ctx_, priv, gen, cat({{4}, peer_x, peer_y}), prime, cr, sr, hs,
                       random_bytes(s.eiv), random_bytes(s.eiv));
    ASSERT_EQ(0u, r.status);
    EXPECT_EQ(point, cat({{4}, r.outs[0], r.outs[1]})) << "the generate form's own point";

    server.give(cat(
        {record(22, s.wire(), cke), record(20, s.wire(), {1}), record(22, s.wire(), r.outs[2])}));
    EXPECT_TRUE(server.step()) << "libssl took the client's finished";
    auto recs = records(server.take());
    ASSERT_EQ(2u, recs.size());
    EXPECT_EQ(r.outs[3], hsm.decrypt(ctx_, false, 0, 2, recs[1].body)) << "the server's finished";
    exchange(hsm, server, s, ctx_, true, 1);
  }
  X509_free(cert);
}

INSTANTIATE_TEST_SUITE_P(Roads, Interop, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Sdk" : "Requests"; });

}  // namespace
}  // namespace tls_test
