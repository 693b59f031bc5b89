#include "hsm/tls/prf.h"

#include <openssl/crypto.h>
#include <string.h>

#include "hsm/engine/crypto.h"
#include "hsm/tls/suite.h"

namespace hsmsim::hsm::tls {

namespace {

Bytes cat(std::initializer_list<In> parts) {
  Bytes out;
  for (In p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
In text(std::string_view s) { return {reinterpret_cast<const uint8_t *>(s.data()), s.size()}; }

// P_hash of RFC 5246, 5.
Bytes p_hash(const char *md, In secret, In seed, size_t len) {
  Bytes out, a(seed.begin(), seed.end()), block;
  while (out.size() < len) {
    if (engine::hmac(md, secret, a, block)) return {};
    a = block;
    if (engine::hmac(md, secret, cat({a, seed}), block)) return {};
    out.insert(out.end(), block.begin(), block.end());
  }
  out.resize(len);
  OPENSSL_cleanse(a.data(), a.size());
  OPENSSL_cleanse(block.data(), block.size());
  return out;
}

}  // namespace

Bytes prf_halves(In s1, In s2, std::string_view label, In seed, size_t len) {
  const Bytes full_seed = cat({text(label), seed});
  Bytes out = p_hash("MD5", s1, full_seed, len);
  Bytes other = p_hash("SHA1", s2, full_seed, len);
  if (out.size() != len || other.size() != len) return {};
  for (size_t i = 0; i < len; ++i) out[i] ^= other[i];
  OPENSSL_cleanse(other.data(), other.size());
  return out;
}

Bytes prf(uint32_t version, const char *prf_md, In secret, std::string_view label, In seed,
          size_t len) {
  if (tls12(version)) return p_hash(prf_md, secret, cat({text(label), seed}), len);
  const size_t half = (secret.size() + 1) / 2;
  return prf_halves(secret.first(half), secret.last(half), label, seed, len);
}

Bytes handshake_hash(uint32_t version, const char *prf_md, In messages) {
  Bytes a, b;
  if (tls12(version)) {
    if (engine::digest(prf_md, messages, a)) return {};
    return a;
  }
  if (engine::digest("MD5", messages, a) || engine::digest("SHA1", messages, b)) return {};
  return cat({a, b});
}

Bytes master_secret(uint32_t version, const char *prf_md, In premaster, In client_random,
                    In server_random) {
  return prf(version, prf_md, premaster, "master secret", cat({client_random, server_random}),
             kMasterLen);
}

Bytes key_block(uint32_t version, const char *prf_md, In master, In client_random, In server_random,
                size_t len) {
  return prf(version, prf_md, master, "key expansion", cat({server_random, client_random}), len);
}

Bytes verify_data(uint32_t version, const char *prf_md, In master, bool client, In messages) {
  const Bytes h = handshake_hash(version, prf_md, messages);
  if (h.empty()) return {};
  return prf(version, prf_md, master, client ? "client finished" : "server finished", h,
             kVerifyLen);
}

}  // namespace hsmsim::hsm::tls
