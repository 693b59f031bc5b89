// The TLS handshakes on an SSL context: RSA key exchange (KQ_VNX_KEY_CMD
// 0x2005/0x2003 full, 0x0005/0x0003 verify), a given or held premaster
// secret (0x200A full, 0x000A verify), ECDH with a key object (0x2015, its
// TLS part in a control word), finished messages after a verify (0x000B)
// and resumption (0x000C). Each derives the master secret and both write
// states into the context; the full ones return the finished messages,
// the verify ones the digest a certificate-verify signature covers.
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "hsm/engine/values.h"
#include "hsm/objects/access.h"
#include "hsm/objects/object.h"
#include "hsm/ops/table.h"
#include "hsm/ops/tls_request.h"
#include "hsm/records.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

using namespace tlsop;
using tls::Connection;

constexpr uint16_t kEncryptMaster = 0x4000;  // opcode: return (resume: take) the master secret
constexpr uint16_t kPremasterGiven = 0x1000;
constexpr uint16_t kEcdhGenerate = 0x0800;
constexpr uint64_t kRsaKeyBit = 1ull << 49;
constexpr size_t kRandomLen = 32;
constexpr uint8_t kHandshakeType = 22;

// What a handshake request carries besides its key exchange.
struct Handshake {
  Word w;
  uint8_t party = tls::kPartyUnknown;
  SeqBlock seq;
  In client_random, server_random, messages;
  bool return_master = false;
};

// The outputs of a finished block: one segment per message (a DTLS sink in
// front of an encrypted one), then both plain ones when all are returned.
size_t finished_outputs(const Word &w) {
  if (w.finished & 0x400) return 2 * (tls::dtls(w.version) ? 2 : 1) + 2;
  size_t n = 0;
  for (uint16_t plain : {0x100, 0x200}) n += (w.finished & plain) || !tls::dtls(w.version) ? 1 : 2;
  return n;
}

// The verify data: MD5 || SHA-1 of the messages up to 0x800, the digest of
// the signing hash for TLS 1.2.
Bytes verify_digest(const Word &w, In messages) {
  if (!tls::tls12(w.version)) return tls::handshake_hash(tls::ver::kTls10, nullptr, messages);
  Bytes out;
  const char *md = tls::hash_name(w.sign_hash);
  if (md) engine::digest(md, messages, out);
  return out;
}
size_t verify_size(const Word &w) {
  return tls::tls12(w.version) ? tls::hash_size(w.sign_hash) : 36;
}

// Master secret, key block and write states into the context.
uint32_t start_keys(SslContext &ctx, const Handshake &h, Bytes master) {
  auto conn = std::make_shared<Connection>();
  conn->kind = tls::RecordKind{h.w.version, tls::suite(h.w.cipher), h.w.hash};
  conn->party = h.party;
  conn->client_random.assign(h.client_random.begin(), h.client_random.end());
  conn->server_random.assign(h.server_random.begin(), h.server_random.end());
  if (master.size() != tls::kMasterLen) return code::kError;
  Bytes kb = tls::key_block(h.w.version, conn->prf_md(), master, h.client_random, h.server_random,
                            conn->kind.key_block_len());
  const bool ok = !kb.empty() && tls::install(conn->kind, kb, conn->client, conn->server);
  engine::wipe(kb);
  if (!ok) return code::kError;
  ctx.master = Secret(std::move(master));
  ctx.tls = std::move(conn);
  return code::kOk;
}

Bytes finished_message(uint32_t version, In msg_seq, const Bytes &verify) {
  const bool d = tls::dtls(version);
  Bytes m(tls::finished_size(version), 0);
  m[0] = 20;
  m[3] = tls::kVerifyLen;
  if (d && msg_seq.size() == 8) {
    m[4] = msg_seq[6];
    m[5] = msg_seq[7];
  }
  if (d) m[11] = tls::kVerifyLen;
  std::copy_n(verify.begin(), std::min(verify.size(), tls::kVerifyLen), m.end() - tls::kVerifyLen);
  return m;
}

// Both finished messages in handshake order (the client's first in a full
// handshake, the server's first in a resumption), each covering the
// messages and the finished message before it. A message returned
// encrypted is protected with its side's write state, which that advances;
// one returned plain only leaves its write state alone, as the caller then
// protects or opens that record through the record operations.
void finish(Call &c, SslContext &ctx, const Handshake &h, bool server_first, size_t out) {
  Connection &conn = *ctx.tls;
  const uint32_t v = h.w.version;
  Bytes messages(h.messages.begin(), h.messages.end());
  Bytes plain[2];  // client, server
  for (int i = 0; i < 2; ++i) {
    const bool client = (i == 0) != server_first;
    Bytes vd = tls::verify_data(v, conn.prf_md(), ctx.master->bytes(), client, messages);
    if (vd.empty()) return c.refuse(code::kError);
    Bytes &m = plain[client ? 0 : 1];
    m = finished_message(v, client ? h.seq.client_msg_seq : h.seq.server_msg_seq, vd);
    messages.insert(messages.end(), m.begin(), m.end());
  }
  const bool both = h.w.finished & 0x400;
  Bytes record[2], seq[2];
  bool as_plain[2];
  for (int i = 0; i < 2; ++i) {
    as_plain[i] = !both && (h.w.finished & (i == 0 ? 0x100 : 0x200));
    if (as_plain[i]) continue;
    tls::WriteState &ws = i == 0 ? conn.client : conn.server;
    In given = i == 0 ? h.seq.client_seq : h.seq.server_seq;
    seq[i] = tls::explicit_iv(v) ? Bytes(given.begin(), given.end()) : tls::seq_bytes(ws.seq);
    if (uint32_t r =
            tls::protect(conn.kind, ws, kHandshakeType, seq[i],
                         i == 0 ? h.seq.client_iv : h.seq.server_iv, plain[i], 0, record[i]))
      return c.refuse(r);
    ++ws.seq;
  }
  for (int i = 0; i < 2; ++i) {
    if (as_plain[i]) {
      if (!c.put(out++, plain[i])) return;
      continue;
    }
    if (tls::dtls(v) && !c.put(out++, seq[i])) return;
    if (!c.put(out++, record[i])) return;
  }
  if (both && (!c.put(out++, plain[0]) || !c.put(out, plain[1]))) return;
}

// After the key exchange, from output `out` on: the sealed master secret
// when asked for, then the finished block (full) or the verify data.
void conclude(HsmState &st, Call &c, SslContext &ctx, const Handshake &h, Form f, size_t out = 0) {
  if (h.return_master) {
    Bytes sealed = tls::seal_master(st.ssl_contexts.resume_key().bytes(), ctx.master->bytes());
    if (sealed.empty()) return c.refuse(code::kError);
    if (!c.put(out++, sealed)) return;
  }
  if (f == Form::Full) return finish(c, ctx, h, false, out);
  Bytes vd = verify_digest(h.w, h.messages);
  if (vd.size() != verify_size(h.w)) return c.refuse(code::kBadAuthType);
  c.put(out, vd);
}

// The randoms and the messages that end every handshake request.
bool read_tail(Segments &s, Handshake &h) {
  h.client_random = s.take(kRandomLen);
  h.server_random = s.take(kRandomLen);
  h.messages = s.messages();
  return s.done();
}

// SHA-2 initial values of the verify operations (TLS 1.2 only): the
// signing hash's, then the PRF hash's when that differs.
void read_verify_ivs(Segments &s, const Word &w) {
  if (!tls::tls12(w.version)) return;
  s.sha2_iv(w.sign_hash);
  if (w.hash >= 4 && w.hash != w.sign_hash) s.sha2_iv(w.hash);
}

bool outputs_fit(const Call &c, const Handshake &h, Form f, size_t before = 0) {
  return c.out.count() == before + h.return_master + (f == Form::Full ? finished_outputs(h.w) : 1);
}

void refuse_decoded(Call &c, Decoded d) {
  if (d == Decoded::Suite) return c.refuse(kBadCipherOrMac);
  if (d == Decoded::Layout) return c.refuse(code::kBadRecord);
}

// The context a handshake names by its handle (no write-state offset);
// null after refusing the request.
SslContext *handshake_context(HsmState &st, Call &c) {
  uint64_t offset = 0;
  SslContext *ctx = context_at(st, c, offset);
  if (ctx && offset != 0) return c.refuse(kContextHandleInvalid), nullptr;
  return ctx;
}

// The key object of a key segment for the request's session.
uint32_t key_object(HsmState &st, const Call &c, uint64_t handle, engine::Key &key) {
  obj::Actor a;
  if (uint32_t r = obj::actor_of(st, c.req.session_handle & kSessionMask, a)) return r;
  obj::Object *o = nullptr;
  if (uint32_t r = obj::object_for(st, a, handle, obj::Right::Use, o)) return r;
  return o->key_material(key);
}
uint64_t be64(In b) {
  uint64_t v = 0;
  for (uint8_t x : b) v = v << 8 | x;
  return v;
}

// The version the client offered: from the ClientHello that opens the
// messages, else the request's own.
unsigned client_version(const Handshake &h) {
  const size_t at = tls::dtls(h.w.version) ? 12 : 4;
  if (h.messages.size() >= at + 2 && h.messages[0] == 1)
    return unsigned{h.messages[at]} << 8 | h.messages[at + 1];
  return tls::wire_version(h.w.version);
}

// The TLS steps after the key exchange, from a premaster secret.
void from_premaster(HsmState &st, Call &c, SslContext &ctx, const Handshake &h, Form f,
                    In premaster, size_t out = 0) {
  Bytes master = tls::master_secret(h.w.version, h.w.hash > 3 ? tls::hash_name(h.w.hash) : "SHA256",
                                    premaster, h.client_random, h.server_random);
  if (master.empty()) return c.refuse(code::kError);
  if (uint32_t r = start_keys(ctx, h, std::move(master))) return c.refuse(r);
  conclude(st, c, ctx, h, f, out);
}

// ---- RSA key exchange ----

void rsa_exchange(HsmState &st, Call &c, Form f) {
  SslContext *ctx = handshake_context(st, c);
  if (!ctx) return;
  const uint16_t modlen = c.req.param1;
  if (modlen % 8 || modlen < 64 || modlen > 512) return c.refuse(code::kBadLength);
  Handshake h;
  In key_seg, encrypted;
  const Decoded d = decode(f, c.req.param2, [&](const Word &w) {
    h = Handshake{};
    h.w = w;
    h.return_master = c.req.opcode & kEncryptMaster;
    Segments s(c);
    if (f == Form::Full) h.seq = read_seq_block(s, w.version, w.cipher);
    key_seg = s.take(8);
    encrypted = s.take(modlen);
    if (f == Form::Full)
      s.sha2_iv(w.hash);
    else
      read_verify_ivs(s, w);
    return read_tail(s, h) && outputs_fit(c, h, f);
  });
  if (d != Decoded::Ok) return refuse_decoded(c, d);
  engine::Key key;
  if (uint32_t r = key_object(st, c, be64(key_seg) & ~kRsaKeyBit, key)) return c.refuse(r);
  if (key.kind() != engine::Kind::Rsa || !key.has_private())
    return c.refuse(code::kKeyTypeInconsistent);
  if ((key.bits() + 7) / 8 != modlen) return c.refuse(code::kBadLength);
  // The decryption with the request's own copy of the key runs without the
  // state lock; the context is looked up again afterwards.
  Bytes premaster;
  if (c.unlocked(
          [&] { return engine::rsa_tls_premaster(key, encrypted, client_version(h), premaster); }))
    return c.refuse(code::kError);
  ctx = handshake_context(st, c);
  if (ctx) from_premaster(st, c, *ctx, h, f, premaster);
  engine::wipe(premaster);
}

void rsa_full(HsmState &st, Call &c) { rsa_exchange(st, c, Form::Full); }
void rsa_verify(HsmState &st, Call &c) { rsa_exchange(st, c, Form::Verify); }

// ---- premaster secret given or held ----

// The premaster segment: up to 0x800 (but SSL 3.0) the PRF's two halves,
// each at the start of its own slot of ceil(L/2) rounded up to 8; for TLS
// 1.2 the secret rounded up to 8.
Bytes read_premaster(Segments &s, uint32_t v, size_t len) {
  if (tls::tls12(v)) {
    In p = s.rounded(len);
    return Bytes(p.begin(), p.end());
  }
  const size_t half = (len + 1) / 2, slot = (half + 7) & ~size_t{7};
  In seg = s.take(2 * slot);
  if (!s.ok() || len == 0) return {};
  In s1 = seg.first(half), s2 = seg.subspan(slot, half);
  for (size_t i = half; i < slot; ++i)
    if (seg[i] || seg[slot + i]) return {};
  // For odd lengths the halves share the middle byte.
  if (len % 2 && s1.back() != s2.front()) return {};
  Bytes p(s1.begin(), s1.end());
  p.insert(p.end(), s2.begin() + static_cast<std::ptrdiff_t>(2 * half - len), s2.end());
  return p;
}

void other_exchange(HsmState &st, Call &c, Form f) {
  SslContext *ctx = handshake_context(st, c);
  if (!ctx) return;
  const bool given = c.req.opcode & kPremasterGiven;
  Handshake h;
  Bytes premaster;
  const Decoded d = decode(f, c.req.param2, [&](const Word &w) {
    h = Handshake{};
    h.w = w;
    h.return_master = c.req.opcode & kEncryptMaster;
    size_t len = c.req.param1;
    if (f == Form::Full) {
      if (!party_of(w.version, c.req.param1, h.party)) return false;
      len &= 0x3FFF;
    }
    Segments s(c);
    if (f == Form::Full) {
      h.seq = read_seq_block(s, w.version, w.cipher);
      if (tls::explicit_iv(w.version)) s.sha2_iv(w.hash);
    } else {
      read_verify_ivs(s, w);
    }
    if (given) {
      premaster = read_premaster(s, w.version, len);
      if (premaster.empty()) return false;
    }
    return read_tail(s, h) && outputs_fit(c, h, f);
  });
  if (d != Decoded::Ok) return refuse_decoded(c, d);
  if (!given) {
    if (!ctx->secret) return c.refuse(code::kInvalidInput);
    premaster.assign(ctx->secret->bytes().begin(), ctx->secret->bytes().end());
  }
  from_premaster(st, c, *ctx, h, f, premaster);
  engine::wipe(premaster);
}

void other_full(HsmState &st, Call &c) { other_exchange(st, c, Form::Full); }
void other_verify(HsmState &st, Call &c) { other_exchange(st, c, Form::Verify); }

// ---- ECDH ----

size_t prime_length(uint32_t cid) {
  static constexpr size_t kLen[] = {24, 28, 32, 48, 66, 32};
  return cid < 6 ? kLen[cid] : 0;
}

// One point multiplication's operands: the point, the key segment, the prime.
struct Mul {
  In x, y, key, prime;
};

void ecdh(HsmState &st, Call &c) {
  SslContext *ctx = handshake_context(st, c);
  if (!ctx) return;
  const uint32_t cid = c.req.param1 & 0xFF;
  const size_t plen = prime_length(cid), P = (plen + 7) & ~size_t{7};
  const int nid = engine::curve_nid(cid);
  if (!plen || !nid || (c.req.param1 >> 8) != P) return c.refuse(code::kUnsupportedCurve);
  const bool generate = c.req.opcode & kEcdhGenerate;

  Segments s(c);
  In control = s.take(8);
  Mul gen, peer;
  auto read_mul = [&](Mul &m) {
    m.x = s.rounded(plen);
    m.y = s.rounded(plen);
    m.key = s.take(8);
    m.prime = s.rounded(plen);
  };
  if (generate) read_mul(gen);
  read_mul(peer);
  if (!s.ok()) return c.refuse(code::kBadRecord);
  const size_t tls_from = s.position();
  const uint16_t op = static_cast<uint16_t>(control[0] << 8 | control[1]) & ~kDmaBit;
  const uint16_t size_word = static_cast<uint16_t>(control[2] << 8 | control[3]);
  const uint16_t word = static_cast<uint16_t>(control[4] << 8 | control[5]);
  const uint16_t dlen = static_cast<uint16_t>(control[6] << 8 | control[7]);
  if ((op & ~kEncryptMaster) != 0x200A && (op & ~kEncryptMaster) != 0x000A)
    return c.refuse(code::kBadOpcode);
  const Form f = (op & 0x2000) ? Form::Full : Form::Verify;
  const size_t before = generate ? 2 : 0;

  Handshake h;
  const Decoded d = decode(f, word, [&](const Word &w) {
    h = Handshake{};
    h.w = w;
    h.return_master = op & kEncryptMaster;
    if (f == Form::Full) {
      if (!party_of(w.version, size_word, h.party) || (size_word & 0x3FFF) != plen) return false;
    } else if (size_word != plen) {
      return false;
    }
    Segments t(c);
    size_t part = 0;
    for (size_t i = 0; i < tls_from; ++i) t.take(c.input(i).size());
    for (size_t i = tls_from; i < c.input_count(); ++i) part += c.input(i).size();
    if (static_cast<uint16_t>(part) != dlen) return false;
    if (f == Form::Full) {
      h.seq = read_seq_block(t, w.version, w.cipher);
      t.sha2_iv(w.hash);
    } else {
      read_verify_ivs(t, w);
    }
    return read_tail(t, h) && outputs_fit(c, h, f, before);
  });
  if (d != Decoded::Ok) return refuse_decoded(c, d);

  const Bytes prime = engine::ec_prime(nid);
  for (const Mul *m : {&gen, &peer}) {
    if (m == &gen && !generate) continue;
    if (!std::equal(prime.begin(), prime.end(), m->prime.begin(), m->prime.end()))
      return c.refuse(code::kUnsupportedPrime);
    if (m->key.size() != 8 ||
        (generate && !std::equal(gen.key.begin(), gen.key.end(), peer.key.begin(), peer.key.end())))
      return c.refuse(code::kBadRecord);
  }
  engine::Key key;
  if (uint32_t r = key_object(st, c, be64(peer.key), key)) return c.refuse(r);
  if (key.kind() != engine::Kind::Ec || !key.has_private() || engine::ec_curve(key) != nid)
    return c.refuse(code::kKeyTypeInconsistent);
  auto point = [&](const Mul &m) {
    Bytes p = {4};
    p.insert(p.end(), m.x.begin(), m.x.end());
    p.insert(p.end(), m.y.begin(), m.y.end());
    return p;
  };
  // The multiplications with the key's private scalar run without the state
  // lock; the context is looked up again afterwards.
  Bytes own, shared;
  uint32_t own_code = 0, shared_code = 0;
  c.unlocked([&] {
    Bytes scalar = engine::ec_private_scalar(key);
    if (generate) own_code = engine::ec_mul(nid, scalar, point(gen), own);
    if (!own_code) shared_code = engine::ec_mul(nid, scalar, point(peer), shared);
    engine::wipe(scalar);
  });
  if (own_code) return c.refuse(own_code);
  ctx = handshake_context(st, c);
  if (!ctx) return engine::wipe(shared);
  if (generate) {
    Bytes x(P, 0), y(P, 0);
    std::copy_n(own.begin() + 1, plen, x.begin());
    std::copy_n(own.begin() + 1 + static_cast<std::ptrdiff_t>(plen), plen, y.begin());
    if (!c.put(0, x) || !c.put(1, y)) return engine::wipe(shared);
  }
  if (shared_code) return c.refuse(shared_code);
  Bytes premaster(shared.begin() + 1, shared.begin() + 1 + static_cast<std::ptrdiff_t>(plen));
  engine::wipe(shared);
  ctx->secret = Secret(Bytes(premaster));
  from_premaster(st, c, *ctx, h, f, premaster, before);
  engine::wipe(premaster);
}

// ---- finished after a verify, and resumption ----

// What both start with: the word, party bits without a length, and the
// sequence block.
bool read_master_head(const Call &c, const Word &w, Segments &s, Handshake &h) {
  h = Handshake{};
  h.w = w;
  if (!party_of(w.version, c.req.param1, h.party) || (c.req.param1 & 0x3FFF)) return false;
  h.seq = read_seq_block(s, w.version, w.cipher);
  return true;
}

void finished(HsmState &st, Call &c) {
  SslContext *ctx = handshake_context(st, c);
  if (!ctx) return;
  Handshake h;
  const Decoded d = decode(Form::Full, c.req.param2, [&](const Word &w) {
    Segments s(c);
    if (!read_master_head(c, w, s, h)) return false;
    if (tls::explicit_iv(w.version)) s.sha2_iv(w.hash);
    h.messages = s.messages();
    return s.done() && outputs_fit(c, h, Form::Full);
  });
  if (d != Decoded::Ok) return refuse_decoded(c, d);
  const Connection *conn = ctx->tls.get();
  if (!conn || !ctx->master) return c.refuse(code::kInvalidInput);
  if (conn->kind.version != h.w.version || conn->kind.suite->cipher != h.w.cipher ||
      conn->kind.hash_type != h.w.hash)
    return c.refuse(kBadCipherOrMac);
  finish(c, *ctx, h, false, 0);
}

void resume(HsmState &st, Call &c) {
  SslContext *ctx = handshake_context(st, c);
  if (!ctx) return;
  const bool sealed = c.req.opcode & kEncryptMaster;
  Handshake h;
  In sealed_master;
  const Decoded d = decode(Form::Full, c.req.param2, [&](const Word &w) {
    Segments s(c);
    if (!read_master_head(c, w, s, h)) return false;
    if (sealed) sealed_master = s.take(tls::kMasterLen);
    s.sha2_iv(w.hash);
    return read_tail(s, h) && outputs_fit(c, h, Form::Full);
  });
  if (d != Decoded::Ok) return refuse_decoded(c, d);
  Bytes master;
  if (sealed) {
    master = tls::open_master(st.ssl_contexts.resume_key().bytes(), sealed_master);
  } else if (ctx->master) {
    master.assign(ctx->master->bytes().begin(), ctx->master->bytes().end());
  }
  if (master.size() != tls::kMasterLen) return c.refuse(code::kInvalidInput);
  if (uint32_t r = start_keys(*ctx, h, std::move(master))) return c.refuse(r);
  finish(c, *ctx, h, true, 0);
}

}  // namespace

void add_tls_handshake_ops(HandlerTable &t) {
  for (uint16_t base : {0x0005, 0x0003}) {
    for (uint16_t flag : {uint16_t{0}, kEncryptMaster}) {
      t.add(kTlsKeyCommand, static_cast<uint16_t>(0x2000 | base | flag), rsa_full);
      t.add(kTlsKeyCommand, static_cast<uint16_t>(base | flag), rsa_verify);
    }
  }
  for (uint16_t flags : {0, 0x1000, 0x4000, 0x5000}) {
    t.add(kCryptoCommand, static_cast<uint16_t>(0x200A | flags), other_full);
    t.add(kCryptoCommand, static_cast<uint16_t>(0x000A | flags), other_verify);
  }
  t.add(kTlsKeyCommand, 0x2015, ecdh);
  t.add(kTlsKeyCommand, 0x2815, ecdh);
  t.add(kCryptoCommand, 0x000B, finished);
  t.add(kCryptoCommand, 0x000C, resume);
  t.add(kCryptoCommand, 0x400C, resume);
}

}  // namespace hsmsim::hsm
