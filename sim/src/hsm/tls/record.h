// Record protection of one direction: the write state a handshake derives
// (MAC key, cipher key, IV or GCM salt, running RC4 stream, implicit
// sequence number) and the record body it makes from a fragment and back.
#pragma once

#include <cstdint>
#include <memory>

#include "hsm/engine/crypto.h"
#include "hsm/tls/prf.h"
#include "hsm/tls/suite.h"

namespace hsmsim::hsm::tls {

// What a record's protection depends on besides the keys.
struct RecordKind {
  uint32_t version = 0;
  const Suite *suite = nullptr;
  uint32_t hash_type = 0;  // the MAC's HashType (GCM: the PRF's, no MAC)
  const char *mac_md() const { return hash_name(hash_type); }
  size_t mac_len() const { return suite && suite->mode == Mode::Gcm ? 0 : hash_size(hash_type); }
  // Bytes the protection adds after the fragment before padding: MAC or tag.
  size_t trailer() const { return suite && suite->mode == Mode::Gcm ? 16 : mac_len(); }
  size_t key_block_len() const {
    return suite ? 2 * (mac_len() + suite->key_len + suite->fixed_iv) : 0;
  }
};

struct WriteState {
  Bytes mac_key, key, iv;  // iv: CBC IV chained from record to record (TLS 1.0), GCM salt
  uint64_t seq = 0;        // the next implicit sequence number (versions without the block)
  std::unique_ptr<engine::RunningCipher> stream;  // RC4, running from record to record
  WriteState() = default;
  WriteState(const WriteState &) = delete;
  WriteState &operator=(const WriteState &) = delete;
  WriteState &operator=(WriteState &&) = default;
  WriteState(WriteState &&) = default;
  ~WriteState();
};

// The client's and the server's write state from a key block of
// kind.key_block_len() bytes; false on an OpenSSL failure.
bool install(const RecordKind &, In key_block, WriteState &client, WriteState &server);

// The record body of `fragment` of content `type` under sequence number
// `seq` (8 bytes: the implicit number, or DTLS epoch and number): explicit
// IV (when the version has one) then the protected bytes. `pad_blocks`
// whole blocks of padding are added beyond the needed ones (CBC only).
// 0, or ERR_BAD_PAD_LEN for padding above 255 bytes, ERR_BAD_LENGTH for an
// explicit IV of the wrong size, RET_ERROR for an OpenSSL failure.
uint32_t protect(const RecordKind &, WriteState &, uint8_t type, In seq, In explicit_iv,
                 In fragment, size_t pad_blocks, Bytes &body);

// The reverse, with `body` the record body without its explicit IV. `out`
// receives the decrypted bytes: CBC with MAC and padding, RC4 with the MAC,
// GCM the fragment alone. ERR_BAD_LENGTH for a body that cannot be a record,
// ERR_BAD_HMAC_DIGEST for a MAC, tag or padding that does not verify.
uint32_t unprotect(const RecordKind &, WriteState &, uint8_t type, In seq, In explicit_iv, In body,
                   Bytes &out);

// The 8 bytes of a sequence number.
Bytes seq_bytes(uint64_t seq);

}  // namespace hsmsim::hsm::tls
