#include "hsm/ops/tls_request.h"

#include <algorithm>

#include "hsm/codes.h"
#include "hsm/objects/access.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/records.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm::tlsop {

void Segments::sha2_iv(uint32_t hash_type) {
  const Bytes want = crypto::sha2_iv_bytes(hash_type);
  if (want.empty()) return;
  In got = take(want.size());
  if (ok_ && !std::equal(got.begin(), got.end(), want.begin())) fail();
}

SeqBlock read_seq_block(Segments &s, uint32_t v, uint32_t cipher) {
  SeqBlock b;
  if (!tls::explicit_iv(v)) return b;
  const size_t iv = tls::request_iv_length(cipher);
  if (tls::dtls(v)) b.client_msg_seq = s.take(8);
  b.client_seq = s.take(8);
  if (iv) b.client_iv = s.take(iv);
  if (v == tls::ver::kDtlsOld) {
    b.server_msg_seq = b.client_msg_seq;
    b.server_seq = b.client_seq;
    b.server_iv = b.client_iv;
    return b;
  }
  if (tls::dtls(v)) b.server_msg_seq = s.take(8);
  b.server_seq = s.take(8);
  if (iv) b.server_iv = s.take(iv);
  return b;
}

uint16_t encode(Form f, const Word &w) {
  uint32_t word = (w.version << 2) | 0x80 | w.hash | (w.cipher << 3);
  if (f == Form::Full) {
    if (w.hash > 3 && tls::tls12(w.version)) word |= 0x4000;
    word |= w.finished;
  } else if (tls::tls12(w.version)) {
    word |= (w.sign_hash << 8) | ((w.hash >> 2) << 14);
  }
  return static_cast<uint16_t>(word);
}

bool party_of(uint32_t version, uint16_t size_word, uint8_t &party) {
  const uint16_t bits = size_word & 0xC000;
  if (!tls::explicit_iv(version)) {
    party = tls::kPartyUnknown;
    return bits == 0;
  }
  party = bits == 0x4000 ? tls::kPartyClient : tls::kPartyServer;
  return bits == 0x4000 || bits == 0x8000;
}

SslContext *context_at(HsmState &st, Call &c, uint64_t &offset) {
  obj::Actor a;
  if (uint32_t r = obj::actor_of(st, c.req.session_handle & kSessionMask, a))
    return c.refuse(r), nullptr;
  Session *s = st.sessions.find(c.req.session_handle & kSessionMask);
  SslContext *ctx =
      s ? st.ssl_contexts.owned_at(c.req.ctx_ptr, s->partition, s->app_index, offset) : nullptr;
  if (!ctx) c.refuse(kContextHandleInvalid);
  return ctx;
}

}  // namespace hsmsim::hsm::tlsop
