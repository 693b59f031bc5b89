// Protocol versions, record ciphers and MAC hashes as the TLS requests
// number them, with what the engine needs of each: key and IV sizes, block
// size, explicit IV, the version bytes a record's MAC covers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hsmsim::hsm::tls {

namespace ver {
inline constexpr uint32_t kTls10 = 0;
inline constexpr uint32_t kSsl30 = 1;
inline constexpr uint32_t kDtlsOld = 0x400;  // DTLS before its RFC
inline constexpr uint32_t kTls11 = 0x401;
inline constexpr uint32_t kDtls10 = 0x800;
inline constexpr uint32_t kTls12 = 0x801;
inline constexpr uint32_t kDtls12 = 0xC00;
}  // namespace ver

inline constexpr bool known_version(uint32_t v) {
  return v == ver::kTls10 || v == ver::kSsl30 || v == ver::kDtlsOld || v == ver::kTls11 ||
         v == ver::kDtls10 || v == ver::kTls12 || v == ver::kDtls12;
}
// Versions whose records carry an explicit IV and whose requests carry the
// sequence block.
inline constexpr bool explicit_iv(uint32_t v) { return v >= 2; }
inline constexpr bool dtls(uint32_t v) {
  return v == ver::kDtlsOld || v == ver::kDtls10 || v == ver::kDtls12;
}
inline constexpr bool tls12(uint32_t v) { return v > ver::kDtls10; }
// The finished handshake message: header and verify data.
inline constexpr size_t finished_size(uint32_t v) { return dtls(v) ? 24 : 16; }
// The version field of the record header (and of the MAC input).
uint16_t wire_version(uint32_t v);

enum class Mode : uint8_t { Gcm, Cbc, Stream };

struct Suite {
  uint32_t cipher = 0;  // CipherType
  Mode mode = Mode::Cbc;
  const char *evp = nullptr;  // the engine's cipher name (single DES and RC4 from OpenSSL's
                              // legacy provider)
  size_t key_len = 0;
  size_t fixed_iv = 0;     // IV bytes taken from the key block (TLS 1.0 CBC IV, GCM salt)
  size_t block = 0;        // CBC block size
  size_t explicit_iv = 0;  // explicit IV of the explicit-IV versions
};

// The suite of a CipherType the engine runs; null for the others, export
// ciphers (9, 11, 13, 15) included.
const Suite *suite(uint32_t cipher);
// The explicit IV length the requests use for a cipher of the table (also
// for export ciphers); 0 for stream ciphers and unknown values.
size_t request_iv_length(uint32_t cipher);
bool request_cipher(uint32_t cipher);  // in the cipher table at all

// HashType 1 to 6: OpenSSL digest name and size; null / 0 otherwise.
const char *hash_name(uint32_t hash_type);
size_t hash_size(uint32_t hash_type);

}  // namespace hsmsim::hsm::tls
