// TLS record encryption and decryption (KQ_VANTOR_CMD, opcode
// message type << 12 | 0x0D) with a write state of a context: ctx_ptr is
// the context's handle plus the offset of the client's or the server's
// write state. The suite is the one the context's last handshake ran; the
// request's parameter word must name it.
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/ops/table.h"
#include "hsm/ops/tls_request.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

using namespace tlsop;

constexpr uint16_t kDecrypt = 0x80;  // parameter word

uint64_t client_offset(uint32_t v) { return tls::tls12(v) ? 256 : 176; }
uint64_t server_state_offset(uint32_t v, const tls::Suite &s) {
  if (s.mode == tls::Mode::Stream) return tls::tls12(v) ? 656 : 496;
  if (tls::tls12(v)) return 456;
  return s.block == 8 ? 272 : 304;  // DES family, AES and GCM
}

void record(HsmState &st, Call &c) {
  uint64_t offset = 0;
  SslContext *ctx = context_at(st, c, offset);
  if (!ctx) return;
  tls::Connection *conn = ctx->tls.get();
  if (!conn || !ctx->master) return c.refuse(code::kInvalidInput);
  const tls::RecordKind &k = conn->kind;
  const tls::Suite &s = *k.suite;
  const uint32_t v = k.version;
  tls::WriteState *ws = offset == client_offset(v)            ? &conn->client
                        : offset == server_state_offset(v, s) ? &conn->server
                                                              : nullptr;
  if (!ws) return c.refuse(kContextHandleInvalid);

  const uint8_t message_type = static_cast<uint8_t>(c.req.opcode >> 12);
  if (message_type > 3) return c.refuse(code::kBadOpcode);
  const uint8_t content_type = static_cast<uint8_t>(20 + message_type);
  const bool decrypt = c.req.param2 & kDecrypt;
  const bool eiv = tls::explicit_iv(v) && s.explicit_iv;
  const size_t len = c.req.param1;

  Segments in(c);
  In seq, iv, tail;
  if (tls::explicit_iv(v)) seq = in.take(8);
  if (eiv) iv = in.take(s.explicit_iv);
  if (decrypt && s.mode == tls::Mode::Cbc) tail = in.take(2 * s.block);
  In data = in.take(len);
  if (!in.done()) return c.refuse(code::kBadRecord);
  const bool sink = tls::dtls(v) && !(decrypt && s.mode == tls::Mode::Gcm);
  if (c.out.count() != 1u + sink) return c.refuse(code::kBadRecord);
  const size_t out = sink ? 1 : 0;

  uint32_t word = k.hash_type | (s.cipher << 3) | (v << 2);
  if (tls::tls12(v) && k.hash_type > 3) word |= 0x4000;
  size_t pad_blocks = 0;
  if (decrypt) {
    word |= kDecrypt;
  } else if (s.mode == tls::Mode::Cbc) {
    // The padding the caller sized the record for: its whole blocks beyond
    // the needed ones.
    const size_t body = c.out.capacity(out) - (eiv ? s.explicit_iv : 0);
    const size_t needed = (len + k.trailer() + s.block) & ~(s.block - 1);
    if (c.out.capacity(out) < (eiv ? s.explicit_iv : 0) || body < needed ||
        (body - needed) % s.block)
      return c.refuse(code::kBadRecord);
    pad_blocks = (body - needed) / s.block;
    word |= (pad_blocks & 0xFF) << 8;
  }
  if (static_cast<uint16_t>(word) != c.req.param2) return c.refuse(kBadCipherOrMac);
  // The copy of the last two blocks must be the record's own (a record
  // shorter than it cannot be one).
  if (!tail.empty() &&
      (data.size() < tail.size() ||
       !std::equal(tail.begin(), tail.end(), data.end() - tail.size(), data.end())))
    return c.refuse(code::kBadRecord);

  const Bytes seq_used =
      tls::explicit_iv(v) ? Bytes(seq.begin(), seq.end()) : tls::seq_bytes(ws->seq);
  Bytes result;
  const uint32_t r =
      decrypt ? tls::unprotect(k, *ws, content_type, seq_used, iv, data, result)
              : tls::protect(k, *ws, content_type, seq_used, iv, data, pad_blocks, result);
  if (r) return c.refuse(r);
  ++ws->seq;
  if (sink) {
    Bytes echo = seq_used;
    if (decrypt) echo.insert(echo.end(), iv.begin(), iv.end());
    if (!c.put(0, echo)) return;
  }
  c.put(out, result);
}

}  // namespace

void add_tls_record_ops(HandlerTable &t) {
  for (uint16_t type = 0; type < 4; ++type)
    t.add(kCryptoCommand, static_cast<uint16_t>(type << 12 | 0x0D), record);
}

}  // namespace hsmsim::hsm
