// The TLS state an SSL context holds after a handshake: the suite the
// handshake ran, the caller's side, the randoms, and the write state of
// each direction. The master secret itself stays in SslContext::master.
#pragma once

#include <cstdint>

#include "hsm/state/secret.h"
#include "hsm/tls/record.h"

namespace hsmsim::hsm::tls {

inline constexpr uint8_t kPartyUnknown = 0, kPartyClient = 1, kPartyServer = 2;

struct Connection {
  RecordKind kind;
  uint8_t party = kPartyUnknown;
  Bytes client_random, server_random;
  WriteState client, server;

  // The PRF's hash: the suite's from SHA-384 up in TLS 1.2, else SHA-256
  // (the versions before ignore it).
  const char *prf_md() const { return kind.hash_type > 3 ? kind.mac_md() : "SHA256"; }
};

// The 48-byte copy of a master secret handed out for resumption: AES-256-CBC
// under the HSM's resumption key, zero IV, no padding (a master secret is
// three whole blocks of random bytes). Empty on a failure or a wrong size.
Bytes seal_master(In key, In master);
Bytes open_master(In key, In sealed);

}  // namespace hsmsim::hsm::tls
