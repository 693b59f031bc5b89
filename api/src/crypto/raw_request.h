// The raw-form request convention of the cryptographic operations, in one
// place: the opcode word with its DMA bit, the key segment, rounded segments
// with their meaningful length, the 10-second time-out, the non-blocking
// check, the length words of the "2" variants, the context-result and
// context-handle rules and the SHA-2 initial values. An operation checks its
// arguments in its own order, then describes its segments here and sends.
//
// Ownership: inputs are copied into the message during the send, so they may
// live anywhere. Outputs the library reads or converts itself (length words,
// the zero-padded scratch behind rounded outputs) belong to the pending
// request of a non-blocking call and are finished when it is collected;
// nothing a later answer writes points into a returned frame.
//
// Whole answers: with no response record to say what arrived, a success
// must fill every fixed-size output (out(), out_rounded(): their size or
// meaningful length), or the caller would read its own stale bytes as the
// HSM's; an output whose length the HSM states in a length word (stated())
// must hold what the word says, and the word must not claim more than the
// caller's buffer. A blocking call that gets less returns
// TESSALINE_INVALID_MSG and hands out no length. A non-blocking one is
// judged by the same rule when its answer fills the request's status entry:
// the entry records TESSALINE_INVALID_MSG, so the single poll, the list poll
// and a completion callback all report it, and no length is handed out.
#ifndef QEL2_CRYPTO_RAW_REQUEST_H
#define QEL2_CRYPTO_RAW_REQUEST_H

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "qel2_crypto.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

namespace qel2::crypto {

inline constexpr uint32_t kCryptoTimeout = 10;     // seconds
inline constexpr uint16_t kMaxCipherLen = 0x7FF0;  // bytes of data per symmetric request
inline constexpr uint32_t kHashOutOffset = 24;     // what hash and HMAC outputs carry as offset

inline constexpr uint32_t r8(uint32_t n) { return (n + 7u) & ~7u; }
inline constexpr uint16_t r8_16(uint16_t n) { return static_cast<uint16_t>((n + 7u) & ~7u); }
inline constexpr uint16_t r16_16(uint16_t n) { return static_cast<uint16_t>((n + 15u) & ~15u); }

// Opcode families (bits 0-6 of the opcode word).
namespace major {
inline constexpr uint8_t kRandom = 0x01;
inline constexpr uint8_t kRsaLarge = 0x02;  // modulus of 129 to 512 bytes
inline constexpr uint8_t kRsa = 0x04;       // 17 to 128 bytes, v2.2 and key-on-HSM requests
inline constexpr uint8_t kHash = 0x06;
inline constexpr uint8_t kHmac = 0x07;
inline constexpr uint8_t kTunnel = 0x0D;
inline constexpr uint8_t kCipher = 0x0E;
inline constexpr uint8_t kAesCtr = 0x18;
inline constexpr uint8_t kEc = 0x1E;
}  // namespace major

// minor << 8 | DMA bit << 7 | major, the DMA bit being the application's
// DMA mode. Operations that never carry the bit spell their opcode out.
uint16_t opcode(uint8_t major, uint8_t minor);
// The DMA bit alone (0x80 or 0).
uint16_t dma_bit();

// Messages of the non-blocking check: most operations print the lower-case
// one, the hash family, the EC operations and the tunnel the upper-case one.
enum class NbMessage { kLower, kUpper };
// ERR_ARGUMENTS_BAD (after the message, no line end) when a request that
// goes out non-blocking has nowhere to put its request id, so that its
// answer could never be collected; 0 otherwise.
uint32_t check_nonblocking(uint32_t req_type, const Uint32 *request_id,
                           NbMessage m = NbMessage::kLower);
// Context-handle rule: not 0 (unless zero_ok), a multiple of 16 when bit 63
// is set, else of 8; ERR_ILLEGAL_CONTEXT_HANDLE otherwise.
uint32_t check_context(uint64_t ctx, bool zero_ok = false);
// RSA modulus length: 17..512 bytes (the CRT forms: 34..512 and even).
bool modulus_ok(uint32_t modlength, bool crt);
// Major opcode by the modulus length.
uint8_t rsa_major(uint32_t modlength);

// Context-result rule of RSA decryption: RES_CTX sends the request with
// command type 7 and the context handle held in the first 8 bytes of the
// result buffer (host order), and no output segment.
struct ResultPlace {
  bool to_context = false;
  uint64_t ctx = 0;
  uint16_t command_type = KQ_NON_SSL_VANTOR_CMD;
};
// ERR_ARGUMENTS_BAD when the context form has no buffer to read the handle from.
uint32_t result_place(uint32_t result_location, const Uint8 *result, ResultPlace &out);

// The FIPS 180-4 initial hash value of SHA-384, SHA-512 and SHA-224 as the
// requests send it (64, 64 and 32 bytes); empty for any other type.
struct Sha2Iv {
  uint8_t bytes[64] = {};
  uint32_t size = 0;
};
Sha2Iv get_sha2_iv(HashType t);

class RawRequest {
 public:
  // session_handle as sent (most operations mask it, see masked()).
  RawRequest(uint16_t command_type, uint16_t opcode, uint32_t session_handle,
             uint32_t timeout = kCryptoTimeout);
  ~RawRequest();
  RawRequest(const RawRequest &) = delete;
  RawRequest &operator=(const RawRequest &) = delete;
  static uint32_t masked(uint32_t session_handle) { return mgmt::masked_session(session_handle); }

  RawRequest &params(uint16_t param1, uint16_t param2);
  // dlen and rlen when they are not the sums of the segment sizes.
  RawRequest &lengths(uint16_t dlen, uint16_t rlen);
  RawRequest &ctx(uint64_t ctx_ptr);
  RawRequest &attest(uint8_t a);
  // request_buffer.dma_mode = the application's DMA mode (all but two operations).
  RawRequest &dma_mode();

  // Input segment of n bytes, meaningful length n.
  RawRequest &in(const void *data, uint32_t n);
  // The key segment: the handle big-endian in an 8-byte input, and in host
  // order in request_buffer.key_handle.
  RawRequest &key(uint64_t handle);
  // Rounded input: R8(len) bytes with meaningful length len. A caller
  // buffer of len bytes is never read past its end: when len is not a
  // multiple of 8 the bytes go from a zero-padded copy (send() then answers
  // ERR_DEVICE_MEMORY when it could not be made).
  RawRequest &in_rounded(const void *data, uint32_t len);

  // Output segment into a caller buffer: size bytes, meaningful length
  // `meaningful` (default: size); a success fills all size bytes.
  RawRequest &out(void *buf, uint32_t size);
  RawRequest &out(void *buf, uint32_t size, uint32_t meaningful);
  // Rounded output: R8(len) bytes into owned zeroed scratch, meaningful
  // length len; the first len bytes reach dest when the request succeeds,
  // and a success holds at least those.
  RawRequest &out_rounded(void *dest, uint32_t len);
  // Output of at most size bytes whose length the answer decides: a success
  // holds at least `need` of them (a capacity larger than the result, a
  // record of any length).
  RawRequest &out_upto(void *buf, uint32_t size, uint32_t need);
  // Output segment of size bytes nobody reads: the transport skips them, so
  // no storage outlives (or dies before) a non-blocking answer.
  RawRequest &discard(uint32_t size);
  // Marks the last output as sized by the length word: the word (its share
  // of it, see length_word) must not exceed the output's meaningful length,
  // and a success holds as many bytes as the word says.
  RawRequest &stated();
  // The 2-byte big-endian length word of the "2" variants, an output
  // segment owned by the request; write receives it in host order once the
  // request completes whole with status 0 or RET_RESULT_SIZE. `shares`: how
  // many stated outputs the word counts together (an ECDSA signature's word
  // counts r and s). With transport_counts, a blocking send that failed in
  // the transport writes nothing (the encryption variants test the call's
  // result; the others the request status alone).
  RawRequest &length_word(std::function<void(uint16_t)> write, bool transport_counts,
                          uint8_t shares = 1);
  // The same rule without a segment (a decryption into an HSM context): the
  // length is 0.
  RawRequest &length_without_word(std::function<void(uint16_t)> write, bool transport_counts);
  // A length word of `width` bytes (2 or 4) delivered into the caller's own
  // buffer as the HSM sends it, big-endian: a fixed-size output that also
  // bounds the stated() outputs.
  RawRequest &out_length(void *buf, uint8_t width);

  // Refuses a null pointer behind a non-empty segment (ERR_ARGUMENTS_BAD),
  // sends, stores the request id when a pointer is given (also after a
  // failed send), and returns the transport status, else the request status,
  // else TESSALINE_INVALID_MSG for a blocking answer that is not whole. A
  // non-blocking request carries the same judgement to its status entry.
  uint32_t send(uint32_t req_type, Uint32 *request_id);

  // Bytes the blocking answer placed in output segment i.
  uint32_t received(unsigned i) const { return rq_.received(i); }
  request_buffer &raw() { return rq_.raw(); }

 private:
  // What a successful answer must hold, per output segment, and where the
  // length word is; copied into the finisher of a non-blocking request.
  struct Whole {
    enum class Kind : uint8_t { kAny, kBytes, kStated };
    struct Fill {
      Kind kind = Kind::kAny;
      uint32_t bytes = 0;  // kBytes: at least this many; kStated: at most
    };
    Fill fill[MAX_SEGMENTS] = {};
    unsigned count = 0;
    bool word = false;
    unsigned word_seg = 0;
    uint8_t word_width = 2;
    uint8_t shares = 1;
    bool word_needed_for_size = false;  // the library converts it: 183 needs it too

    // The word in host order; false when it did not arrive whole.
    bool word_value(const uint8_t *const segs[], const uint32_t got[], uint32_t *value) const;
    // false when an answer of this status lacks what the outputs need.
    bool holds(uint32_t status, const uint8_t *const segs[], const uint32_t got[]) const;
    // true when some answer could fail holds().
    bool demands() const;
  };

  void set_in_offset(uint32_t meaningful);
  void set_out_offset(uint32_t meaningful);
  void expect(Whole::Kind kind, uint32_t bytes);

  mgmt::MgmtRequest rq_;
  struct Scratch {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t size;
  };
  std::vector<Scratch> scratch_;  // padded copies of inputs, wiped (they may be secrets)
  uint8_t key_be_[8] = {};
  uint8_t word_[2] = {};
  std::function<void(uint16_t)> write_len_;
  bool has_word_ = false;
  bool len_transport_counts_ = false;
  Whole whole_;
  bool null_segment_ = false;
  bool alloc_failed_ = false;
};

}  // namespace qel2::crypto

#endif
