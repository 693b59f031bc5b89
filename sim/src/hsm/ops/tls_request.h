// What the TLS handlers share: the context a request addresses, the input
// segments read in order, and the parameter words, which the stand-in
// decodes by re-encoding its candidates (version, hash, cipher) and taking
// the first whose segments fit, since the words let the version's low bit
// and the hash's third bit fall on the same place.
#pragma once

#include <cstdint>
#include <vector>

#include "hsm/ops/call.h"
#include "hsm/state/ssl_contexts.h"
#include "hsm/tls/connection.h"

namespace hsmsim::hsm::tlsop {

using tls::Bytes;
using tls::In;

inline constexpr uint32_t kBadCipherOrMac = 0x4000018A;        // ERR_BAD_CIPHER_OR_MAC
inline constexpr uint32_t kContextHandleInvalid = 0x4000020C;  // ERR_CONTEXT_HANDLE_INVALID

// The input segments of a request, read front to back; a segment of
// another size than asked fails the whole reading.
class Segments {
 public:
  explicit Segments(const Call &c) : c_(c) {}
  In take(size_t n) {
    if (!ok_ || i_ >= c_.input_count() || c_.input(i_).size() != n) return fail();
    return c_.input(i_++);
  }
  // A segment rounded up to a multiple of 8, zeros past its meaningful bytes.
  In rounded(size_t meaningful) {
    In s = take((meaningful + 7) & ~size_t{7});
    for (size_t i = meaningful; i < s.size(); ++i)
      if (s[i]) return fail();
    return s.first(ok_ ? meaningful : 0);
  }
  // The SHA-2 initial value of a hash type (SHA-384, SHA-512, SHA-224);
  // nothing for other types.
  void sha2_iv(uint32_t hash_type);
  // The handshake messages, the last segment: empty when none is left.
  In messages() {
    if (ok_ && i_ == c_.input_count()) return {};
    In s = ok_ && i_ + 1 == c_.input_count() ? c_.input(i_++) : fail();
    return s;
  }
  bool ok() const { return ok_; }
  bool done() const { return ok_ && i_ == c_.input_count(); }
  size_t position() const { return i_; }

 private:
  In fail() {
    ok_ = false;
    return {};
  }
  const Call &c_;
  size_t i_ = 0;
  bool ok_ = true;
};

// The sequence block of the explicit-IV versions. VER_DTLS sends the
// client's half only; the server's record then uses the same numbers.
struct SeqBlock {
  In client_msg_seq, client_seq, client_iv, server_msg_seq, server_seq, server_iv;
};
SeqBlock read_seq_block(Segments &, uint32_t version, uint32_t cipher);

// The TLS parameter word.
struct Word {
  uint32_t version = 0, cipher = 0, hash = 0, sign_hash = 0;
  uint16_t finished = 0;  // finished-output flags (0x100, 0x200, 0x400)
};
enum class Form { Full, Verify };
uint16_t encode(Form, const Word &);

// Decodes `word` by its candidates in order (hash types ascending, then
// versions, then signing hashes), calling `fits` with each whose encoding is
// `word` and whose suite the engine runs, until one returns true.
// Ok: one fitted; Suite: none fitted the word with a suite the engine runs
// (ERR_BAD_CIPHER_OR_MAC); Layout: some did, but no segments fitted.
enum class Decoded { Ok, Suite, Layout };
template <typename Fits>
Decoded decode(Form f, uint16_t word, Fits fits) {
  static constexpr uint32_t kVersions[] = {0, 1, 0x400, 0x401, 0x800, 0x801, 0xC00};
  const uint16_t flags = static_cast<uint16_t>(f == Form::Full ? word & 0x700 : 0);
  // SSL 3.0 is not run. A word it explains with MD5, SHA-1 or SHA-256 is
  // refused, although VER_TLS with SHA-512 or SHA-224 (MACs no TLS 1.0
  // suite has) reads the same.
  for (uint32_t h = 1; h <= 3; ++h)
    if (encode(f, Word{tls::ver::kSsl30, (word >> 3) & 0xFu, h, 0, flags}) == word)
      return Decoded::Suite;
  bool any = false;
  for (uint32_t h = 1; h <= 6; ++h) {
    for (uint32_t v : kVersions) {
      const bool pair = f == Form::Verify && tls::tls12(v);
      for (uint32_t sh = pair ? 1 : 0; sh <= (pair ? 6u : 0u); ++sh) {
        Word w{v, (word >> 3) & 0xFu, h, sh, flags};
        if (encode(f, w) != word || !tls::suite(w.cipher) || v == tls::ver::kSsl30) continue;
        if (f == Form::Full && (w.finished & 0x400) && w.finished != 0x700) continue;
        any = true;
        if (fits(w)) return Decoded::Ok;
      }
    }
  }
  return any ? Decoded::Layout : Decoded::Suite;
}

// Party bits of a size word: explicit-IV versions name exactly one side,
// the others none. False for any other combination.
bool party_of(uint32_t version, uint16_t size_word, uint8_t &party);

// The requesting session's context at ctx_ptr (a handle, or a handle plus a
// write-state offset); null after refusing the request.
SslContext *context_at(HsmState &, Call &, uint64_t &offset);

}  // namespace hsmsim::hsm::tlsop
