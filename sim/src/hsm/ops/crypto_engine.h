// What every raw cryptographic request shares on the HSM's side: the engine
// codes, the session and key checks (with the strict checks that catch
// byte-order mistakes), the request's segments, the OpenSSL objects it needs
// and the contexts that live on the HSM between requests.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "hsm/objects/access.h"
#include "hsm/ops/call.h"

namespace hsmsim::hsm {
class HandlerTable;
namespace obj {
struct Object;
}

namespace crypto {

// Engine codes, answered as the request status.
namespace ec {
inline constexpr uint32_t kBadRecord = 0x02;  // ERR_BAD_RECORD: segments not as the opcode needs
inline constexpr uint32_t kPointAtInfinity = 0x06;    // ERR_POINT_AT_INFINITY
inline constexpr uint32_t kUnsupportedCurve = 0x08;   // ERR_UNSUPPORTED_CURVE
inline constexpr uint32_t kBadAdnlLen = 0x0A;         // ERR_BAD_ADNL_LEN
inline constexpr uint32_t kBadPadLen = 0x0E;          // ERR_BAD_PAD_LEN: padding bytes not zero
inline constexpr uint32_t kBadLength = 0x0F;          // ERR_BAD_LENGTH
inline constexpr uint32_t kSignatureMismatch = 0x12;  // ERR_SIGNATURE_MISMATCH (also GCM tags)
inline constexpr uint32_t kBadAuthType = 0x18;        // ERR_BAD_AUTH_TYPE: hash type
inline constexpr uint32_t kBadEncryptType = 0x19;     // ERR_BAD_ENCRYPT_TYPE: cipher mode, padding
inline constexpr uint32_t kBadPkcsData = 0x1B;        // ERR_BAD_PKCS_DATA: padding check failed
inline constexpr uint32_t kBadPublicKey = 0x28;       // ERR_BAD_PUBLIC_KEY: point not on the curve
inline constexpr uint32_t kBadDsivParam = 0x3C;       // ERR_BAD_DSIV_INCORRECT_PARAM: strict checks
inline constexpr uint32_t kInvalidInput = 0x81;       // RET_INVALID_INPUT: unknown context
inline constexpr uint32_t kResultSize = 0xB7;         // RET_RESULT_SIZE
inline constexpr uint32_t kKeyTypeInconsistent = 0x118;  // RET_KEY_TYPE_INCONSISTENT
}  // namespace ec

// Running digests, RC4 states and decrypted results kept on the HSM, by
// context handle. A context belongs to the partition that filled it.
struct MdCtxFree {
  void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};
struct HashContext {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> md;
  uint16_t hash_type = 0;
};
struct Rc4State {
  uint8_t s[256] = {};
  uint8_t i = 0, j = 0;
  ~Rc4State() { OPENSSL_cleanse(s, sizeof s); }
};
struct Contexts {
  std::map<std::pair<uint8_t, uint64_t>, HashContext> hashes;
  std::map<std::pair<uint8_t, uint64_t>, Rc4State> rc4;
  std::map<std::pair<uint8_t, uint64_t>, std::vector<uint8_t>> results;  // RSA into a context
  void clear() {
    hashes.clear();
    rc4.clear();
    for (auto &[k, v] : results) OPENSSL_cleanse(v.data(), v.size());
    results.clear();
  }
};

// One raw request on its way through a handler.
class RawCall {
 public:
  RawCall(HsmState &st, Call &c) : st_(st), c_(c) {}

  HsmState &state() { return st_; }
  const HsmRequest &req() const { return c_.req; }
  uint16_t p1() const { return c_.req.param1; }
  uint16_t p2() const { return c_.req.param2; }
  size_t inputs() const { return c_.req.inputs.size(); }
  std::span<const uint8_t> in(size_t i) const {
    return i < c_.req.inputs.size() ? c_.req.inputs[i] : std::span<const uint8_t>{};
  }
  size_t outputs() const { return c_.req.output_sizes.size(); }
  uint32_t out_cap(size_t i) const { return c_.out.capacity(i); }
  void put(size_t i, std::vector<uint8_t> bytes) { c_.out.segment(i) = std::move(bytes); }
  void put(size_t i, std::span<const uint8_t> bytes) {
    c_.out.segment(i).assign(bytes.begin(), bytes.end());
  }
  // Ends the request with that engine code; returns false for use in ifs.
  bool fail(uint32_t code) {
    c_.status = code;
    return false;
  }
  uint32_t status() const { return c_.status; }

  // The request's session must be open and logged in (RET_INVALID_SESSION,
  // RET_USER_NOT_LOGGED_IN); its partition is then known.
  bool session();
  uint8_t partition() const { return partition_; }
  // The key object of the key segment: strict mode requires the segment to
  // hold the descriptor's key handle big-endian; then the object must exist
  // and be usable by the session's user, and be of one of the key types.
  obj::Object *key(std::span<const uint8_t> key_segment, std::initializer_list<uint8_t> types);
  // Strict: a rounded segment's bytes past its meaningful length are zero.
  bool padded(std::span<const uint8_t> seg, size_t meaningful);
  // Strict: the SHA-2 initial value a request sent is the standard one.
  bool sha2_iv(uint16_t hash_type, std::span<const uint8_t> iv);

 private:
  HsmState &st_;
  Call &c_;
  uint8_t partition_ = 0;
  uint32_t user_ = 0;
  obj::Actor actor_;
};

// Strict checks on (the default) or off, for the whole process.
void set_strict(bool on);
bool strict();

// Digest of a HashType (1-6), null otherwise.
const EVP_MD *md_of(uint16_t hash_type);
// The FIPS 180-4 initial value a request sends for SHA-384, SHA-512 and
// SHA-224, big-endian; empty for the other types.
std::vector<uint8_t> sha2_iv_bytes(uint16_t hash_type);

// Registers h for opcode op with and without the DMA bit.
void add_dma_pair(HandlerTable &t, uint16_t command_type, uint16_t op, Handler h);

}  // namespace crypto
}  // namespace hsmsim::hsm
