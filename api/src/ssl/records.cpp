// Record protection with the write states an SSL context holds: encryption
// into a record body, decryption with the padding checked and MAC and
// padding stripped from the reported length on the host.
#include "qel2_errors.h"
#include "ssl/tls_request.h"

using namespace qel2::ssl;

namespace {

// hash | cipher << 3 | version << 2, and the PRF-hash flag; the record
// operations set bit 7 and the pad count themselves.
uint16_t record_word(SslVersion v, CipherType c, HashType h) {
  return static_cast<uint16_t>(static_cast<uint32_t>(h) | static_cast<uint32_t>(c) << 3 |
                               static_cast<uint32_t>(v) << 2 | prf_flag(v, h));
}

uint16_t record_opcode(MessageType t) {
  return opcode(static_cast<uint16_t>(static_cast<uint32_t>(t) << 12 | op::kRecord));
}

uint64_t write_state(Uint64 context_handle, CipherType c, SslVersion v, SslPartyType party,
                     bool enc) {
  return context_handle + get_context_offset(c, v, party, enc ? 1 : 0);
}

// The record's sequence number and explicit IV.
void record_sequence(TlsRequest &rq, SslVersion v, CipherType c, const Uint8 *seq,
                     const Uint8 *iv) {
  if (!explicit_iv(v)) return;
  rq.in(seq, kSeqLen);
  if (const uint32_t n = iv_len(c)) rq.in(iv, n);
}

uint32_t block_size(CipherType c) { return c == AES_128 || c == AES_256 ? 16u : 8u; }

// MAC and padding off the decrypted record, judged only on the bytes the
// HSM delivered: anything short is a bad record, never a success.
Uint32 strip(CipherType c, SslVersion v, uint16_t mac, const Uint8 *message, uint16_t len,
             uint32_t delivered, Uint16 *message_length) {
  if (get_cipher_mode(c) != SSL_CIPHER_MODE_BLOCK) {
    if (len < mac || delivered < uint32_t{len} - mac) return ERR_BAD_RECORD;
    *message_length = static_cast<Uint16>(len - mac);
    return 0;
  }
  if (delivered < len) return ERR_BAD_RECORD;
  const uint32_t pad = message[len - 1];
  if (pad + 1 + mac > len) return ERR_BAD_RECORD;
  *message_length = static_cast<Uint16>(len - mac - pad - 1);
  if (v == VER3_0) return 0;  // SSL 3.0 padding bytes are arbitrary
  for (uint32_t i = len - pad - 1; i < len; ++i)
    if (message[i] != pad) return ERR_BAD_RECORD;
  return 0;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2EncryptRecord(Uint32 session_handle, request_type request_type,
                                     Uint64 context_handle, CipherType cipher_type,
                                     HashType hash_type, SslVersion ssl_version,
                                     SslPartyType ssl_party, MessageType message_type,
                                     Uint16 pad_length, Uint8 *record_seq_num, Uint8 *record_IV,
                                     Uint16 message_length, Uint8 *message, Uint16 *record_length,
                                     Uint8 *record, Uint32 *request_id) {
  if (Uint32 r = check_common(request_type, request_id, context_handle)) return r;
  if (message_length > kMaxRecordLen) return ERR_ILLEGAL_INPUT_LENGTH;
  if (Uint32 r = check_suite(cipher_type, hash_type)) return r;
  // The pad count travels in 8 bits: a larger one would make the HSM's
  // record shorter than the length reported here.
  if (pad_length > 0xFF) return ERR_ILLEGAL_INPUT_LENGTH;
  if (!record_length) return ERR_ARGUMENTS_BAD;
  uint16_t len =
      get_record_size(cipher_type, message_length, mac_size(cipher_type, hash_type), pad_length);
  if (explicit_iv(ssl_version)) len = static_cast<uint16_t>(len + iv_len(cipher_type));
  *record_length = len;

  TlsRequest rq(KQ_VANTOR_CMD, record_opcode(message_type), session_handle,
                write_state(context_handle, cipher_type, ssl_version, ssl_party, true));
  rq.params(message_length, static_cast<uint16_t>(record_word(ssl_version, cipher_type, hash_type) |
                                                  pad_length << 8));
  record_sequence(rq, ssl_version, cipher_type, record_seq_num, record_IV);
  rq.in(message, message_length);
  if (dtls(ssl_version)) rq.sink(kSinkLen);
  rq.out(record, len);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2DecryptRecord(Uint32 session_handle, request_type request_type,
                                     Uint64 context_handle, CipherType cipher_type,
                                     HashType hash_type, SslVersion ssl_version,
                                     SslPartyType ssl_party, MessageType message_type,
                                     Uint8 *record_seq_num, Uint8 *record_IV, Uint16 record_length,
                                     Uint8 *record, Uint16 *message_length, Uint8 *message,
                                     Uint32 *request_id) {
  if (Uint32 r = check_common(request_type, request_id, context_handle)) return r;
  const SslCipherMode mode = get_cipher_mode(cipher_type);
  const uint32_t block = block_size(cipher_type);
  if (record_length > kMaxRecordLen) return ERR_ILLEGAL_INPUT_LENGTH;
  if (mode == SSL_CIPHER_MODE_BLOCK && record_length < 2 * block) return ERR_ILLEGAL_INPUT_LENGTH;
  if (Uint32 r = check_suite(cipher_type, hash_type)) return r;
  // A blocking call reports the message length; a non-blocking caller
  // works it out itself.
  const bool blocking = request_type == OSTREL_BLOCKING;
  if (blocking && !message_length) return ERR_ARGUMENTS_BAD;

  TlsRequest rq(KQ_VANTOR_CMD, record_opcode(message_type), session_handle,
                write_state(context_handle, cipher_type, ssl_version, ssl_party, false));
  rq.params(record_length,
            static_cast<uint16_t>(record_word(ssl_version, cipher_type, hash_type) | 0x80));
  record_sequence(rq, ssl_version, cipher_type, record_seq_num, record_IV);
  // The last two blocks again: the HSM reads the padding from them.
  if (mode == SSL_CIPHER_MODE_BLOCK)
    rq.in(record ? record + record_length - 2 * block : nullptr, 2 * block);
  rq.in(record, record_length);
  if (dtls(ssl_version) && mode != SSL_CIPHER_MODE_GCM) rq.sink(iv_len(cipher_type) + kSeqLen);
  const unsigned message_seg = rq.out_count();
  // How much must arrive is the padding's and the MAC's to tell (strip).
  rq.out_upto(message, record_length, 0);
  if (Uint32 r = rq.send(request_type, request_id)) return r;
  if (!blocking) return 0;
  return strip(cipher_type, ssl_version, mac_size(cipher_type, hash_type), message, record_length,
               rq.received(message_seg), message_length);
}

}  // extern "C"
