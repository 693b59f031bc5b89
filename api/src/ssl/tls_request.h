// What every TLS offload request shares, in one place: the version groups,
// the common checks, the TLS parameter word and the size word, the sequence
// block, the SHA-2 initial-value segment, the finished block with its DTLS
// sinks, and the frame (command type, DMA bit, masked session, 10-second
// time-out, dlen and rlen as the sums of the segments). An operation checks
// its arguments in its own order, then lists its segments here and sends.
//
// Ownership: inputs are copied into the message when it is framed, so the
// request's own small inputs (key, SHA-2 initial values, premaster halves,
// control word) live in this object. The DTLS sinks are discard segments:
// the transport skips their bytes, so nothing of the sending frame is left
// for a non-blocking answer to write into. Rounded copies of exact-length
// caller buffers belong to the pending request.
#ifndef QEL2_SSL_TLS_REQUEST_H
#define QEL2_SSL_TLS_REQUEST_H

#include <cstdint>

#include "crypto/raw_request.h"
#include "qel2_ssl.h"

namespace qel2::ssl {

inline constexpr uint32_t kSeqLen = 8;
inline constexpr uint32_t kRandomLen = 32;
inline constexpr uint32_t kMasterSecretLen = 48;
inline constexpr uint32_t kSinkLen = 8;
inline constexpr uint32_t kLegacyVerifyLen = 36;  // MD5 + SHA-1 up to TLS 1.1
inline constexpr uint16_t kMaxRecordLen = 0x4400;
inline constexpr uint32_t kMaxSplitPremaster = 512;
inline constexpr uint16_t kGcmTagLen = 16;

// Opcode bases (without the DMA bit).
namespace op {
inline constexpr uint16_t kFull = 0x2000;      // OR'ed into a handshake's base
inline constexpr uint16_t kRsaSmall = 0x0005;  // modulus of 64 to 128 bytes
inline constexpr uint16_t kRsaLarge = 0x0003;  // 129 to 512 bytes
inline constexpr uint16_t kOther = 0x000A;     // premaster (also ECDH's TLS part)
inline constexpr uint16_t kFinished = 0x000B;
inline constexpr uint16_t kResume = 0x000C;
inline constexpr uint16_t kRecord = 0x000D;  // OR message_type << 12
inline constexpr uint16_t kEcdh = 0x2015;
inline constexpr uint16_t kEcdhGenerate = 0x0800;  // own public point first
inline constexpr uint16_t kPremasterGiven = 0x1000;
inline constexpr uint16_t kMasterSecret = 0x4000;  // encrypted master secret in or out
}  // namespace op

// Version groups: the value is tested, not taken apart.
inline bool explicit_iv(SslVersion v) { return static_cast<uint32_t>(v) >= 2; }
inline bool dtls(SslVersion v) {
  return v == VER_DTLS || v == VER_DTLS_POST_RFC || v == VER_DTLS1_2;
}
inline bool tls12(SslVersion v) { return static_cast<uint32_t>(v) > VER_DTLS_POST_RFC; }
// TLS 1.0/1.1 style premaster halves (every version up to 0x800 but SSL 3.0).
inline bool split_premaster(SslVersion v) { return !tls12(v) && v != VER3_0; }

// MAC size of a record: the GCM tag, else the digest of the hash type.
uint16_t mac_size(CipherType c, HashType h);
// The cipher's explicit IV length, 0 for a cipher outside the table.
uint32_t iv_len(CipherType c);

// A non-blocking request (any non-zero type) without a request id pointer
// (ERR_ARGUMENTS_BAD, with the message), then the context handle
// (ERR_ILLEGAL_CONTEXT_HANDLE).
uint32_t check_common(uint32_t req_type, const Uint32 *request_id, uint64_t context_handle);
// Hash type 1 to 6 and a cipher of the table, else ERR_BAD_CIPHER_OR_MAC.
uint32_t check_suite(CipherType c, HashType h);
// The common checks, then the suite: the order of most handshakes.
uint32_t check_handshake(uint32_t req_type, const Uint32 *request_id, uint64_t context_handle,
                         CipherType c, HashType h);

// The opcode with the DMA bit of the application.
uint16_t opcode(uint16_t base);
// ssl_version << 2 | 0x80 | hash | cipher << 3, cut to 16 bits.
uint16_t tls_word(SslVersion v, CipherType c, HashType h);
// 0x4000 for TLS 1.2 versions with a hash type above 3.
uint16_t prf_flag(SslVersion v, HashType h);
// The verify operations' word: for TLS 1.2 the signing hash and the PRF hash
// flag instead.
uint16_t verify_word(SslVersion v, CipherType c, HashType h, HashType sign_h);
// The length, with the party bit for explicit-IV versions.
uint16_t size_word(SslVersion v, SslPartyType party, uint16_t len);

struct Sequence {
  const Uint8 *client_msg_seq = nullptr, *client_seq = nullptr, *client_iv = nullptr;
  const Uint8 *server_msg_seq = nullptr, *server_seq = nullptr, *server_iv = nullptr;
};

struct Finished {
  Uint8 *enc_client = nullptr, *enc_server = nullptr;
  Uint8 *unenc_client = nullptr, *unenc_server = nullptr;
  bool both_forms() const { return enc_client && enc_server && unenc_client && unenc_server; }
  // The finished-output flags of the parameter word.
  uint16_t flags() const;
};

// The parameter word of the full, finished and resume operations.
uint16_t handshake_word(SslVersion v, CipherType c, HashType h, const Finished &f);

class TlsRequest {
 public:
  TlsRequest(uint16_t command_type, uint16_t opcode, uint32_t session_handle, uint64_t ctx_ptr);
  ~TlsRequest();

  TlsRequest &params(uint16_t param1, uint16_t param2);
  TlsRequest &in(const void *data, uint32_t n);
  // R8(len) bytes, len meaningful, from a zero-padded copy when len is not
  // a multiple of 8 (the caller's buffer holds exactly len bytes).
  TlsRequest &in_rounded(const void *data, uint32_t len);
  // The key handle big-endian in 8 bytes; the descriptor's key handle stays 0.
  TlsRequest &key(uint64_t handle);
  // The hash type's initial value: 64, 64 or 32 bytes, and a segment of
  // length 0 for a type without one.
  TlsRequest &sha2_iv(HashType h);
  // The hash type's initial value when it has one (hash types 4 to 6).
  TlsRequest &prf_iv(HashType h);
  // The SHA-2 initial values of the verify operations (TLS 1.2 only): the
  // signing hash's, then the PRF hash's when it differs.
  TlsRequest &verify_ivs(SslVersion v, HashType h, HashType sign_h);
  // param1, the parameter word with the PRF-hash and finished-output flags,
  // and the sequence block: how the full, finished and resume requests begin.
  TlsRequest &handshake(SslVersion v, CipherType c, HashType h, uint16_t param1, const Finished &f,
                        const Sequence &s);
  // Sequence numbers and explicit IVs (explicit-IV versions only).
  TlsRequest &sequence(SslVersion v, CipherType c, const Sequence &s);
  // The premaster-secret segment (nothing when pms is NULL): SSL 3.0 the
  // secret as given; other versions up to 0x800 the two PRF halves, each at
  // the start of a slot rounded to 8 bytes (at most 512 bytes in all);
  // TLS 1.2 the secret rounded to 8 bytes with len meaningful.
  TlsRequest &premaster(SslVersion v, uint16_t len, const Uint8 *pms);
  // One point multiplication: x, y, the key, the prime, each coordinate
  // and the prime plen bytes in a segment rounded to 8.
  TlsRequest &point(const Uint8 *x, const Uint8 *y, uint64_t key, const Uint8 *prime,
                    uint32_t plen);
  // The randoms and the handshake messages, as every handshake ends.
  TlsRequest &hello(const Uint8 *client_random, const Uint8 *server_random,
                    uint16_t handshake_length, const Uint8 *handshake);

  // Outputs a success fills whole (the rounded one: its len bytes).
  TlsRequest &out(void *buf, uint32_t size);
  TlsRequest &out_rounded(void *dest, uint32_t len);
  // An output of at most size bytes of which a success holds at least need.
  TlsRequest &out_upto(void *buf, uint32_t size, uint32_t need);
  TlsRequest &sink(uint32_t size);
  // The encrypted master secret's 48-byte output when one is asked for.
  TlsRequest &master_secret(Uint8 *encrypt_master_secret);
  // The finished block; a message with neither buffer refuses the request.
  TlsRequest &finished(SslVersion v, CipherType c, HashType h, const Finished &f);
  // verify_data: 36 bytes up to 0x800, else the signing hash's digest size.
  TlsRequest &verify_data(SslVersion v, HashType sign_h, Uint8 *verify_data);

  // Bytes of input segments so far.
  uint64_t in_total() const { return in_total_; }
  unsigned out_count() const { return out_count_; }

  // Refuses a dlen or rlen that would wrap (ERR_ILLEGAL_INPUT_LENGTH), a
  // missing finished buffer or a null buffer behind a non-empty segment
  // (ERR_ARGUMENTS_BAD); sends, stores the request id when a pointer is
  // given, and returns the transport status, else the HSM's, else
  // TESSALINE_INVALID_MSG for an answer short of the outputs (the raw
  // request's rule).
  uint32_t send(uint32_t req_type, Uint32 *request_id);
  uint32_t received(unsigned i) const { return rq_.received(i); }

 private:
  crypto::RawRequest rq_;
  uint64_t in_total_ = 0;
  uint64_t out_total_ = 0;
  unsigned out_count_ = 0;
  bool no_finished_buffer_ = false;
  uint8_t key_be_[8] = {};
  crypto::Sha2Iv ivs_[2];
  unsigned iv_count_ = 0;
  uint8_t halves_[kMaxSplitPremaster] = {};  // wiped: a premaster secret
};

}  // namespace qel2::ssl

#endif
