// The key schedule of TLS 1.0 to 1.2 (and DTLS): the PRF, master secret,
// key block and finished verify data.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace hsmsim::hsm::tls {

using Bytes = std::vector<uint8_t>;
using In = std::span<const uint8_t>;

// The PRF of a version (OpenSSL's TLS1-PRF, engine::tls1_prf): TLS 1.0 and
// 1.1 (and the DTLS versions built on them) XOR P_MD5 over the secret's
// first half with P_SHA1 over its second half (halves of ceil(n/2) bytes);
// the TLS 1.2 versions use P_<prf_md>. Empty on an OpenSSL failure.
Bytes prf(uint32_t version, const char *prf_md, In secret, std::string_view label, In seed,
          size_t len);

// The digest the finished messages cover: MD5 || SHA-1 of the handshake
// messages up to TLS 1.1, the PRF hash for TLS 1.2.
Bytes handshake_hash(uint32_t version, const char *prf_md, In messages);

inline constexpr size_t kMasterLen = 48;
inline constexpr size_t kVerifyLen = 12;

Bytes master_secret(uint32_t version, const char *prf_md, In premaster, In client_random,
                    In server_random);
Bytes key_block(uint32_t version, const char *prf_md, In master, In client_random, In server_random,
                size_t len);
// 12 bytes of "client finished" or "server finished".
Bytes verify_data(uint32_t version, const char *prf_md, In master, bool client, In messages);

}  // namespace hsmsim::hsm::tls
