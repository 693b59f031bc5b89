// The HSM's half of a connection through the SDK's TLS calls.
#pragma once

#include "offload.h"
#include "qel2.h"

namespace tls_test {

class SdkOffload : public Offload {
 public:
  SdkOffload(Uint32 session, const Suite &s) : Offload(s), session_(session) {}

  Reply rsa_full(uint64_t ctx, uint64_t key, const Bytes &epms, const Bytes &cr, const Bytes &sr,
                 const Bytes &hs, const Bytes &civ, const Bytes &siv) override {
    Seq q(civ, siv);
    Reply r{0, {Bytes(48), fin(), fin(), Bytes(16), Bytes(16)}};
    Uint64 k = key;
    Bytes e = epms, c = cr, v = sr, h = hs;
    r.status = Qel2RsaServerFull(session_, OSTREL_BLOCKING, ctx, &k, cipher(), hash(), version(),
                                 Uint16(e.size()), e.data(), c.data(), v.data(), nullptr,
                                 q.cseq.data(), q.civ(), nullptr, q.sseq.data(), q.siv(),
                                 Uint16(h.size()), h.data(), r.outs[1].data(), r.outs[2].data(),
                                 r.outs[3].data(), r.outs[4].data(), r.outs[0].data(), nullptr);
    return r;
  }
  Reply rsa_verify(uint64_t ctx, uint64_t key, const Bytes &epms, const Bytes &cr, const Bytes &sr,
                   const Bytes &hs) override {
    Reply r{0, {Bytes(48), Bytes(s_.tls12() ? 32 : 36)}};
    Uint64 k = key;
    Bytes e = epms, c = cr, v = sr, h = hs;
    r.status = Qel2RsaServerVerify(session_, OSTREL_BLOCKING, ctx, &k, cipher(), hash(),
                                   SHA256_TYPE, version(), Uint16(e.size()), e.data(), c.data(),
                                   v.data(), Uint16(h.size()), h.data(), r.outs[1].data(),
                                   r.outs[0].data(), nullptr);
    return r;
  }
  Reply finished(uint64_t ctx, const Bytes &hs, const Bytes &civ, const Bytes &siv) override {
    Seq q(civ, siv);
    Reply r{0, {fin(), fin(), Bytes(16), Bytes(16)}};
    Bytes h = hs;
    r.status = Qel2FinishedFinish(
        session_, OSTREL_BLOCKING, ctx, cipher(), hash(), version(), SSL_SERVER, nullptr,
        q.cseq.data(), q.civ(), nullptr, q.sseq.data(), q.siv(), Uint16(h.size()), h.data(),
        r.outs[0].data(), r.outs[1].data(), r.outs[2].data(), r.outs[3].data(), nullptr);
    return r;
  }
  Reply resume(uint64_t ctx, const Bytes &sealed, const Bytes &cr, const Bytes &sr, const Bytes &hs,
               const Bytes &civ, const Bytes &siv) override {
    Seq q(civ, siv);
    Reply r{0, {Bytes(16), fin()}};
    Bytes m = sealed, c = cr, v = sr, h = hs;
    r.status = Qel2Resume(session_, OSTREL_BLOCKING, ctx, cipher(), hash(), version(), SSL_SERVER,
                          c.data(), v.data(), m.data(), nullptr, q.cseq.data(), q.civ(), nullptr,
                          q.sseq.data(), q.siv(), Uint16(h.size()), h.data(), nullptr,
                          r.outs[1].data(), r.outs[0].data(), nullptr, nullptr);
    return r;
  }
  Reply ecdh(uint64_t ctx, uint64_t key, const Bytes &g, const Bytes &peer, const Bytes &prime,
             const Bytes &cr, const Bytes &sr, const Bytes &hs, const Bytes &civ,
             const Bytes &siv) override {
    Seq q(civ, siv);
    Reply r{0, {Bytes(32), Bytes(32), fin(), Bytes(16)}};
    Bytes p = prime, gx(g.begin() + 1, g.begin() + 33), gy(g.begin() + 33, g.end()),
          px(peer.begin() + 1, peer.begin() + 33), py(peer.begin() + 33, peer.end()), c = cr,
          v = sr, h = hs;
    r.status = Qel2ECDHFull(
        session_, OSTREL_BLOCKING, ctx, cipher(), hash(), version(), SSL_CLIENT, P256, p.data(),
        key, px.data(), py.data(), gx.data(), gy.data(), c.data(), v.data(), nullptr, q.cseq.data(),
        q.civ(), nullptr, q.sseq.data(), q.siv(), Uint16(h.size()), h.data(), r.outs[0].data(),
        r.outs[1].data(), r.outs[2].data(), nullptr, nullptr, r.outs[3].data(), nullptr, nullptr);
    return r;
  }

  Bytes encrypt(uint64_t ctx, bool client_state, uint64_t seq, uint8_t message_type,
                const Bytes &msg) override {
    Bytes s = be64(seq), iv = random_bytes(s_.eiv), m = msg, rec(s_.padded_size(msg.size()));
    Uint16 len = 0;
    EXPECT_EQ(0u,
              Qel2EncryptRecord(session_, OSTREL_BLOCKING, ctx, cipher(), hash(), version(),
                                client_state ? SSL_CLIENT : SSL_SERVER, MessageType(message_type),
                                Uint16(s_.pad_blocks()), s.data(), iv.data(), Uint16(m.size()),
                                m.data(), &len, rec.data(), nullptr));
    EXPECT_EQ(rec.size(), len);
    return rec;
  }
  Bytes decrypt(uint64_t ctx, bool client_state, uint64_t seq, uint8_t message_type,
                const Bytes &body) override {
    Bytes s = be64(seq), iv(body.begin(), body.begin() + long(s_.eiv)),
          rec(body.begin() + long(s_.eiv), body.end()), msg(rec.size());
    Uint16 len = 0;
    const Uint32 r = Qel2DecryptRecord(session_, OSTREL_BLOCKING, ctx, cipher(), hash(), version(),
                                       client_state ? SSL_SERVER : SSL_CLIENT,
                                       MessageType(message_type), s.data(), iv.data(),
                                       Uint16(rec.size()), rec.data(), &len, msg.data(), nullptr);
    EXPECT_EQ(0u, r);
    if (r) return {};
    msg.resize(len);
    return msg;
  }

 private:
  // Sequence numbers 0 and the explicit IVs (any size is fine: the SDK
  // reads only what the cipher needs).
  struct Seq {
    Bytes cseq = Bytes(8), sseq = Bytes(8), c, s;
    Seq(const Bytes &civ, const Bytes &siv) : c(civ), s(siv) {
      c.resize(16);
      s.resize(16);
    }
    Uint8 *civ() { return c.data(); }
    Uint8 *siv() { return s.data(); }
  };
  Bytes fin() const { return Bytes(s_.encrypted_size(16)); }
  CipherType cipher() const { return CipherType(s_.cipher); }
  HashType hash() const { return HashType(s_.hash); }
  SslVersion version() const { return SslVersion(s_.version); }

  Uint32 session_;
};

}  // namespace tls_test
