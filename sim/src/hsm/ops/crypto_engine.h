// What the raw cryptographic handlers share beyond the engine: the session
// check of key-less requests, the key of a key segment with the strict
// checks that catch byte-order mistakes, and the contexts that live on the
// HSM between requests (running digests, RC4 states, decrypted results).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "hsm/engine/crypto.h"
#include "hsm/engine/key.h"
#include "hsm/engine/secure.h"
#include "hsm/ops/call.h"

namespace hsmsim::hsm {

namespace obj {
struct Object;
}

namespace crypto {

struct HashContext {
  std::unique_ptr<engine::Digest> digest;
  uint32_t hash_type = 0;
};
struct Rc4State {
  uint8_t s[256] = {};
  uint8_t i = 0, j = 0;
  ~Rc4State() { engine::wipe(s); }
};
// By partition and context handle: a context belongs to the partition that
// filled it.
struct Contexts {
  using Id = std::pair<uint8_t, uint64_t>;
  std::map<Id, HashContext> hashes;
  std::map<Id, Rc4State> rc4;
  std::map<Id, engine::Bytes> results;  // RSA decryptions kept on the HSM
  void clear() {
    hashes.clear();
    rc4.clear();
    for (auto &r : results) engine::wipe(r.second);
    results.clear();
  }
};

// Strict checks, on unless switched off for the whole process: the key
// segment holds the descriptor's key handle big-endian, the SHA-2 initial
// value is the standard one, rounded segments are zero past their
// meaningful length. A failure answers ERR_BAD_DSIV_INCORRECT_PARAM (or
// ERR_BAD_PAD_LEN for padding).
void set_strict(bool on);
bool strict();

// One raw request on its way through a handler.
class RawCall {
 public:
  RawCall(HsmState &st, Call &c) : st_(st), c_(c) {}

  HsmState &state() { return st_; }
  Call &call() { return c_; }
  const HsmRequest &req() const { return c_.req; }
  uint16_t p1() const { return c_.req.param1; }
  uint16_t p2() const { return c_.req.param2; }
  size_t inputs() const { return c_.input_count(); }
  std::span<const uint8_t> in(size_t i) const { return c_.input(i); }
  size_t outputs() const { return c_.out.count(); }
  uint32_t out_cap(size_t i) const { return c_.out.capacity(i); }
  bool put(size_t i, std::span<const uint8_t> b) { return c_.put(i, b); }
  // Refuses the request with that code; false, for use in conditions.
  bool fail(uint32_t code) {
    c_.refuse(code);
    return false;
  }
  uint32_t status() const { return c_.status; }
  // A result of the engine: true for 0, else the request is refused with it.
  bool ok(uint32_t engine_code) { return engine_code == 0 || fail(engine_code); }

  // The session of the header must be open and logged in; its partition is
  // then known.
  bool session();
  uint8_t partition() const { return partition_; }
  // The key of the key segment `seg`: strict mode first compares it with the
  // descriptor's key handle; then the object must be usable by the
  // session's user and of one of the key types (PKCS#11 numbering).
  bool key(size_t seg, std::initializer_list<uint8_t> types, engine::Key &out);
  // Strict: a rounded segment's bytes past its meaningful length are zero.
  bool padded(std::span<const uint8_t> seg, size_t meaningful);
  // Strict: the SHA-2 initial value the request sent is the standard one.
  bool sha2_iv(uint32_t hash_type, std::span<const uint8_t> iv);

 private:
  HsmState &st_;
  Call &c_;
  uint8_t partition_ = 0;
};

// The FIPS 180-4 initial value requests send for SHA-384, SHA-512 and
// SHA-224 (64, 64, 32 bytes, big-endian words); empty for other types.
engine::Bytes sha2_iv_bytes(uint32_t hash_type);

}  // namespace crypto
}  // namespace hsmsim::hsm
