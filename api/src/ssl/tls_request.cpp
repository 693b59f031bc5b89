#include "ssl/tls_request.h"

#include <cstring>

#include "common/be_codec.h"
#include "qel2_errors.h"

namespace qel2::ssl {

uint16_t mac_size(CipherType c, HashType h) {
  if (get_cipher_mode(c) == SSL_CIPHER_MODE_GCM) return kGcmTagLen;
  return static_cast<uint16_t>(get_hash_size(h));
}

uint32_t iv_len(CipherType c) {
  const Int32 n = get_ssl_explicit_iv_length(c);
  return n > 0 ? static_cast<uint32_t>(n) : 0u;
}

uint32_t check_common(uint32_t req_type, const Uint32 *request_id, uint64_t context_handle) {
  // Every non-zero type goes out non-blocking: its answer lands in the
  // caller's buffers after the call, collected by nobody without an id.
  if (uint32_t r = crypto::check_nonblocking(req_type, request_id)) return r;
  return crypto::check_context(context_handle);
}

uint32_t check_suite(CipherType c, HashType h) {
  const bool hash_ok = h >= MD5_TYPE && h <= SHA224_TYPE;
  return hash_ok && get_ssl_explicit_iv_length(c) >= 0
             ? 0u
             : static_cast<uint32_t>(ERR_BAD_CIPHER_OR_MAC);
}

uint32_t check_handshake(uint32_t req_type, const Uint32 *request_id, uint64_t context_handle,
                         CipherType c, HashType h) {
  if (uint32_t r = check_common(req_type, request_id, context_handle)) return r;
  return check_suite(c, h);
}

uint16_t opcode(uint16_t base) { return static_cast<uint16_t>(base | crypto::dma_bit()); }

uint16_t tls_word(SslVersion v, CipherType c, HashType h) {
  return static_cast<uint16_t>(static_cast<uint32_t>(v) << 2 | 0x80u | static_cast<uint32_t>(h) |
                               static_cast<uint32_t>(c) << 3);
}

uint16_t prf_flag(SslVersion v, HashType h) {
  return tls12(v) && static_cast<int>(h) > 3 ? 0x4000 : 0;
}

uint16_t verify_word(SslVersion v, CipherType c, HashType h, HashType sign_h) {
  uint32_t w = tls_word(v, c, h);
  if (tls12(v)) w |= static_cast<uint32_t>(sign_h) << 8 | (static_cast<uint32_t>(h) >> 2) << 14;
  return static_cast<uint16_t>(w);
}

uint16_t size_word(SslVersion v, SslPartyType party, uint16_t len) {
  uint16_t w = len;
  if (explicit_iv(v)) {
    if (party == SSL_CLIENT) w |= 0x4000;
    if (party == SSL_SERVER) w |= 0x8000;
  }
  return w;
}

uint16_t Finished::flags() const {
  if (both_forms()) return 0x700;
  uint16_t f = 0;
  if (!enc_client) f |= 0x100;
  if (!enc_server) f |= 0x200;
  return f;
}

uint16_t handshake_word(SslVersion v, CipherType c, HashType h, const Finished &f) {
  return static_cast<uint16_t>(tls_word(v, c, h) | prf_flag(v, h) | f.flags());
}

TlsRequest::TlsRequest(uint16_t command_type, uint16_t opcode, uint32_t session_handle,
                       uint64_t ctx_ptr)
    : rq_(command_type, opcode, crypto::RawRequest::masked(session_handle)) {
  rq_.ctx(ctx_ptr).dma_mode();
}

TlsRequest::~TlsRequest() { explicit_bzero(halves_, sizeof halves_); }

TlsRequest &TlsRequest::params(uint16_t param1, uint16_t param2) {
  rq_.params(param1, param2);
  return *this;
}

TlsRequest &TlsRequest::in(const void *data, uint32_t n) {
  rq_.in(data, n);
  in_total_ += n;
  return *this;
}

TlsRequest &TlsRequest::in_rounded(const void *data, uint32_t len) {
  rq_.in_rounded(data, len);
  in_total_ += crypto::r8(len);
  return *this;
}

TlsRequest &TlsRequest::key(uint64_t handle) {
  put_be64(key_be_, handle);
  return in(key_be_, sizeof key_be_);
}

TlsRequest &TlsRequest::sha2_iv(HashType h) {
  if (iv_count_ >= 2) return *this;
  crypto::Sha2Iv &iv = ivs_[iv_count_++];
  iv = crypto::get_sha2_iv(h);  // size 0 for a type without one
  return in(iv.bytes, iv.size);
}

TlsRequest &TlsRequest::prf_iv(HashType h) {
  if (h >= SHA384_TYPE && h <= SHA224_TYPE) sha2_iv(h);
  return *this;
}

TlsRequest &TlsRequest::verify_ivs(SslVersion v, HashType h, HashType sign_h) {
  if (!tls12(v)) return *this;
  prf_iv(sign_h);
  if (static_cast<int>(h) >= SHA384_TYPE && h != sign_h) sha2_iv(h);
  return *this;
}

TlsRequest &TlsRequest::handshake(SslVersion v, CipherType c, HashType h, uint16_t param1,
                                  const Finished &f, const Sequence &s) {
  return params(param1, handshake_word(v, c, h, f)).sequence(v, c, s);
}

TlsRequest &TlsRequest::sequence(SslVersion v, CipherType c, const Sequence &s) {
  if (!explicit_iv(v)) return *this;
  const uint32_t iv = iv_len(c);
  if (dtls(v)) in(s.client_msg_seq, kSeqLen);
  in(s.client_seq, kSeqLen);
  if (iv) in(s.client_iv, iv);
  if (v == VER_DTLS) return *this;  // the client half only
  if (dtls(v)) in(s.server_msg_seq, kSeqLen);
  in(s.server_seq, kSeqLen);
  if (iv) in(s.server_iv, iv);
  return *this;
}

TlsRequest &TlsRequest::premaster(SslVersion v, uint16_t len, const Uint8 *pms) {
  if (!pms) return *this;
  if (v == VER3_0) return in(pms, len);
  if (!split_premaster(v)) return in_rounded(pms, len);
  // RFC 2246, 5: halves of ceil(len / 2) bytes, sharing the middle byte
  // when len is odd. The caller refused anything longer than 512 bytes.
  const uint32_t half = (len + 1u) / 2, slot = crypto::r8(half);
  if (2 * slot > sizeof halves_) return in(nullptr, 2 * slot);  // refused at send
  std::memcpy(halves_, pms, half);
  std::memcpy(halves_ + slot, pms + len - half, half);
  return in(halves_, 2 * slot);
}

TlsRequest &TlsRequest::point(const Uint8 *x, const Uint8 *y, uint64_t key, const Uint8 *prime,
                              uint32_t plen) {
  return in_rounded(x, plen).in_rounded(y, plen).key(key).in_rounded(prime, plen);
}

TlsRequest &TlsRequest::hello(const Uint8 *client_random, const Uint8 *server_random,
                              uint16_t handshake_length, const Uint8 *handshake) {
  return in(client_random, kRandomLen)
      .in(server_random, kRandomLen)
      .in(handshake, handshake_length);
}

TlsRequest &TlsRequest::out(void *buf, uint32_t size) {
  rq_.out(buf, size);
  out_total_ += size;
  ++out_count_;
  return *this;
}

TlsRequest &TlsRequest::out_upto(void *buf, uint32_t size, uint32_t need) {
  rq_.out_upto(buf, size, need);
  out_total_ += size;
  ++out_count_;
  return *this;
}

TlsRequest &TlsRequest::out_rounded(void *dest, uint32_t len) {
  rq_.out_rounded(dest, len);
  out_total_ += crypto::r8(len);
  ++out_count_;
  return *this;
}

TlsRequest &TlsRequest::sink(uint32_t size) {
  rq_.discard(size);
  out_total_ += size;
  ++out_count_;
  return *this;
}

TlsRequest &TlsRequest::master_secret(Uint8 *encrypt_master_secret) {
  if (encrypt_master_secret) out(encrypt_master_secret, kMasterSecretLen);
  return *this;
}

TlsRequest &TlsRequest::finished(SslVersion v, CipherType c, HashType h, const Finished &f) {
  // Each message needs a buffer to land in, whichever form it takes.
  if ((!f.enc_client && !f.unenc_client) || (!f.enc_server && !f.unenc_server))
    no_finished_buffer_ = true;
  const uint32_t plain = get_finished_size(v);
  uint32_t enc = get_record_size(c, static_cast<uint16_t>(plain), mac_size(c, h), 0);
  if (explicit_iv(v)) enc += iv_len(c);
  const bool both = f.both_forms();
  Uint8 *const enc_bufs[2] = {f.enc_client, f.enc_server};
  Uint8 *const plain_bufs[2] = {f.unenc_client, f.unenc_server};
  for (int i = 0; i < 2; ++i) {
    if (!enc_bufs[i]) {
      out(plain_bufs[i], plain);
      continue;
    }
    if (dtls(v)) sink(kSinkLen);  // one per encrypted message, discarded
    out(enc_bufs[i], enc);
  }
  if (both) out(f.unenc_client, plain).out(f.unenc_server, plain);
  return *this;
}

TlsRequest &TlsRequest::verify_data(SslVersion v, HashType sign_h, Uint8 *verify_data) {
  return out(verify_data, tls12(v) ? get_hash_size(sign_h) : kLegacyVerifyLen);
}

uint32_t TlsRequest::send(uint32_t req_type, Uint32 *request_id) {
  // dlen and rlen travel in 16 bits: a longer request would go out with a
  // descriptor that disagrees with its segments.
  if (in_total_ > 0xFFFF || out_total_ > 0xFFFF) return ERR_ILLEGAL_INPUT_LENGTH;
  if (no_finished_buffer_) return ERR_ARGUMENTS_BAD;
  return rq_.send(req_type, request_id);
}

}  // namespace qel2::ssl

// The one out-of-line size function; the library's requests use the
// internal table directly.
extern "C" QEL2_EXPORT void get_sha2_iv(HashType auth, uint8_t *ptr, uint32_t *plen) {
  const qel2::crypto::Sha2Iv iv = qel2::crypto::get_sha2_iv(auth);
  if (iv.size == 0 || !ptr || !plen) return;
  std::memcpy(ptr, iv.bytes, iv.size);
  *plen = iv.size;
}
