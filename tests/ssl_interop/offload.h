// The HSM's half of a TLS connection: handshake and record requests sent
// to the test's stand-in, laid out here from the request conventions (not
// by the library), so the stand-in is checked on its own.
#pragma once

#include <gtest/gtest.h>

#include <hsmsim/hsm.h>

#include "tls_peer.h"

namespace tls_test {

// A suite as the requests number it, with what the test needs to size records.
struct Suite {
  const char *name;  // OpenSSL's
  int proto;         // TLS1_VERSION ...
  uint32_t version;  // SslVersion
  uint32_t cipher, hash;
  uint16_t id;  // the suite's number on the wire
  size_t mac, block, eiv;
  bool gcm() const { return cipher == 4 || cipher == 6; }
  bool tls12() const { return version > 0x800; }
  uint16_t wire() const {
    return proto == TLS1_VERSION ? 0x0301 : proto == TLS1_1_VERSION ? 0x0302 : 0x0303;
  }
  size_t record_size(size_t n) const { return gcm() ? n + 16 : (n + mac + block) & ~(block - 1); }
  size_t encrypted_size(size_t n) const { return record_size(n) + eiv; }
  // Application records carry two extra blocks of padding where the cipher
  // pads: the peer must take them, and the HSM must size them as asked.
  size_t pad_blocks() const { return block ? 2 : 0; }
  size_t padded_size(size_t n) const { return encrypted_size(n) + pad_blocks() * block; }
  uint16_t client_offset() const { return tls12() ? 256 : 176; }
  uint16_t server_offset() const { return tls12() ? 456 : 304; }
  uint16_t full_word(uint16_t finished_flags) const {
    return uint16_t((version << 2) | 0x80 | hash | (cipher << 3) |
                    (hash > 3 && tls12() ? 0x4000 : 0) | finished_flags);
  }
  uint16_t record_word(bool decrypt) const {
    return uint16_t(hash | (cipher << 3) | (version << 2) | (decrypt ? 0x80 : 0) |
                    (tls12() && hash > 3 ? 0x4000 : 0));
  }
  uint16_t party(bool client) const { return version >= 2 ? (client ? 0x4000 : 0x8000) : 0; }
};

inline Bytes be64(uint64_t v) {
  Bytes b(8);
  for (int i = 7; i >= 0; --i, v >>= 8) b[size_t(i)] = uint8_t(v);
  return b;
}
inline Bytes sha384_iv() {
  static const uint64_t h[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
  Bytes out;
  for (uint64_t w : h) out = cat({out, be64(w)});
  return out;
}

struct Reply {
  uint32_t status = 0;
  std::vector<Bytes> outs;
};

// The HSM's half of a connection, through one of two roads: requests laid
// out here (the stand-in on its own) or the SDK's calls.
class Offload {
 public:
  explicit Offload(const Suite &s) : s_(s) {}
  virtual ~Offload() = default;
  // Server side, RSA key exchange, all four finished buffers and the sealed
  // master secret: outs = sealed, encrypted client and server finished,
  // plain client and server finished.
  virtual Reply rsa_full(uint64_t ctx, uint64_t key, const Bytes &epms, const Bytes &cr,
                         const Bytes &sr, const Bytes &hs, const Bytes &civ, const Bytes &siv) = 0;
  // Server side, RSA key exchange stopped after the master secret: outs =
  // sealed master secret, verify data (signing hash SHA-256 for TLS 1.2).
  virtual Reply rsa_verify(uint64_t ctx, uint64_t key, const Bytes &epms, const Bytes &cr,
                           const Bytes &sr, const Bytes &hs) = 0;
  // The finished messages after a verify, all four buffers.
  virtual Reply finished(uint64_t ctx, const Bytes &hs, const Bytes &civ, const Bytes &siv) = 0;
  // Server side resumption from the sealed master secret: outs = plain
  // client finished, encrypted server finished.
  virtual Reply resume(uint64_t ctx, const Bytes &sealed, const Bytes &cr, const Bytes &sr,
                       const Bytes &hs, const Bytes &civ, const Bytes &siv) = 0;
  // Client side ECDH, generate form (P-256): outs = own x, own y, encrypted
  // client finished, plain server finished.
  virtual Reply ecdh(uint64_t ctx, uint64_t key, const Bytes &g, const Bytes &peer,
                     const Bytes &prime, const Bytes &cr, const Bytes &sr, const Bytes &hs,
                     const Bytes &civ, const Bytes &siv) = 0;
  // Record protection with the client's or the server's write state; the
  // fragment of a record body (explicit IV first), empty after a refusal.
  virtual Bytes encrypt(uint64_t ctx, bool client_state, uint64_t seq, uint8_t message_type,
                        const Bytes &msg) = 0;
  virtual Bytes decrypt(uint64_t ctx, bool client_state, uint64_t seq, uint8_t message_type,
                        const Bytes &body) = 0;

 protected:
  Suite s_;
};

// Requests laid out from the conventions and handed to the stand-in.
class RawOffload : public Offload {
 public:
  RawOffload(hsmsim::Hsm &hsm, uint32_t session, const Suite &s)
      : Offload(s), hsm_(hsm), session_(session) {}

  Reply run(uint16_t command_type, uint16_t opcode, uint16_t p1, uint16_t p2, uint64_t ctx,
            const std::vector<Bytes> &ins, const std::vector<uint32_t> &outs) {
    hsmsim::HsmRequest q;
    q.command_type = command_type;
    q.opcode = opcode;
    q.param1 = p1;
    q.param2 = p2;
    q.session_handle = session_;
    q.ctx_ptr = ctx;
    for (const auto &b : ins) q.inputs.emplace_back(b);
    q.output_sizes = outs;
    hsmsim::HsmReply r = hsm_.execute(q);
    Reply out{r.status, {}};
    size_t pos = 0;
    for (uint32_t cap : outs) {
      const size_t at = std::min(pos, r.payload.size());
      const size_t n = std::min<size_t>(cap, r.payload.size() - at);
      out.outs.emplace_back(r.payload.begin() + long(at), r.payload.begin() + long(at + n));
      pos += cap;
    }
    return out;
  }

  // The sequence block with sequence numbers 0 (the finished records).
  std::vector<Bytes> seq_block(const Bytes &client_iv, const Bytes &server_iv) const {
    if (s_.version < 2) return {};
    return {be64(0), client_iv, be64(0), server_iv};
  }
  std::vector<Bytes> sha2() const {
    return s_.hash == 4 ? std::vector<Bytes>{sha384_iv()} : std::vector<Bytes>{};
  }
  uint32_t fin() const { return uint32_t(s_.encrypted_size(16)); }

  Reply rsa_full(uint64_t ctx, uint64_t key, const Bytes &epms, const Bytes &cr, const Bytes &sr,
                 const Bytes &hs, const Bytes &civ, const Bytes &siv) override {
    std::vector<Bytes> ins = seq_block(civ, siv);
    ins.push_back(be64(key | 1ull << 49));
    ins.push_back(epms);
    for (auto &b : sha2()) ins.push_back(b);
    ins.insert(ins.end(), {cr, sr, hs});
    const uint16_t opcode = uint16_t(0x6000 | (epms.size() <= 128 ? 5 : 3));
    return run(3, opcode, uint16_t(epms.size()), s_.full_word(0x700), ctx, ins,
               {48, fin(), fin(), 16, 16});
  }
  Reply rsa_verify(uint64_t ctx, uint64_t key, const Bytes &epms, const Bytes &cr, const Bytes &sr,
                   const Bytes &hs) override {
    std::vector<Bytes> ins = {be64(key | 1ull << 49), epms};
    if (s_.tls12() && s_.hash == 4) ins.push_back(sha384_iv());
    ins.insert(ins.end(), {cr, sr, hs});
    uint16_t word = uint16_t((s_.version << 2) | 0x80 | s_.hash | (s_.cipher << 3));
    if (s_.tls12()) word = uint16_t(word | 3 << 8 | (s_.hash >> 2) << 14);
    const uint16_t opcode = uint16_t(0x4000 | (epms.size() <= 128 ? 5 : 3));
    return run(3, opcode, uint16_t(epms.size()), word, ctx, ins, {48, s_.tls12() ? 32u : 36u});
  }
  Reply finished(uint64_t ctx, const Bytes &hs, const Bytes &civ, const Bytes &siv) override {
    std::vector<Bytes> ins = seq_block(civ, siv);
    if (s_.version >= 2)
      for (auto &b : sha2()) ins.push_back(b);
    ins.push_back(hs);
    return run(1, 0x000B, s_.party(false), s_.full_word(0x700), ctx, ins, {fin(), fin(), 16, 16});
  }
  Reply resume(uint64_t ctx, const Bytes &sealed, const Bytes &cr, const Bytes &sr, const Bytes &hs,
               const Bytes &civ, const Bytes &siv) override {
    std::vector<Bytes> ins = seq_block(civ, siv);
    ins.push_back(sealed);
    for (auto &b : sha2()) ins.push_back(b);
    ins.insert(ins.end(), {cr, sr, hs});
    return run(1, 0x400C, s_.party(false), s_.full_word(0x100), ctx, ins, {16, fin()});
  }
  Reply ecdh(uint64_t ctx, uint64_t key, const Bytes &g, const Bytes &peer, const Bytes &prime,
             const Bytes &cr, const Bytes &sr, const Bytes &hs, const Bytes &civ,
             const Bytes &siv) override {
    std::vector<Bytes> tls_part = seq_block(civ, siv);
    for (auto &b : sha2()) tls_part.push_back(b);
    tls_part.insert(tls_part.end(), {cr, sr, hs});
    size_t dlen = 0;
    for (const auto &b : tls_part) dlen += b.size();
    const Bytes control =
        cat({u16(0x200A), u16(s_.party(true) | 32), u16(s_.full_word(0x200)), u16(dlen)});
    const Bytes k = be64(key);
    std::vector<Bytes> ins = {control,
                              Bytes(g.begin() + 1, g.begin() + 33),
                              Bytes(g.begin() + 33, g.end()),
                              k,
                              prime,
                              Bytes(peer.begin() + 1, peer.begin() + 33),
                              Bytes(peer.begin() + 33, peer.end()),
                              k,
                              prime};
    ins.insert(ins.end(), tls_part.begin(), tls_part.end());
    return run(3, 0x2815, 0x2002, 0, ctx, ins, {32, 32, fin(), 16});
  }

  Bytes encrypt(uint64_t ctx, bool client_state, uint64_t seq, uint8_t message_type,
                const Bytes &msg) override {
    std::vector<Bytes> ins;
    if (s_.version >= 2) ins = {be64(seq), random_bytes(s_.eiv)};
    ins.push_back(msg);
    Reply r = run(1, uint16_t(message_type << 12 | 0x0D), uint16_t(msg.size()),
                  uint16_t(s_.record_word(false) | s_.pad_blocks() << 8),
                  ctx + (client_state ? s_.client_offset() : s_.server_offset()), ins,
                  {uint32_t(s_.padded_size(msg.size()))});
    EXPECT_EQ(0u, r.status);
    return r.outs[0];
  }
  Bytes decrypt(uint64_t ctx, bool client_state, uint64_t seq, uint8_t message_type,
                const Bytes &body) override {
    std::vector<Bytes> ins;
    Bytes rec(body.begin() + long(s_.eiv), body.end());
    if (s_.version >= 2) ins = {be64(seq), Bytes(body.begin(), body.begin() + long(s_.eiv))};
    if (!s_.gcm()) ins.push_back(Bytes(rec.end() - long(2 * s_.block), rec.end()));
    ins.push_back(rec);
    Reply r =
        run(1, uint16_t(message_type << 12 | 0x0D), uint16_t(rec.size()), s_.record_word(true),
            ctx + (client_state ? s_.client_offset() : s_.server_offset()), ins,
            {uint32_t(rec.size())});
    EXPECT_EQ(0u, r.status);
    if (r.status) return {};
    Bytes m = r.outs[0];
    if (s_.gcm()) {
      EXPECT_EQ(rec.size() - 16, m.size());
      return m;
    }
    const size_t strip = s_.mac + (m.empty() ? 0 : m.back() + 1u);
    m.resize(m.size() >= strip ? m.size() - strip : 0);
    return m;
  }

 private:
  hsmsim::Hsm &hsm_;
  uint32_t session_;
};

}  // namespace tls_test
