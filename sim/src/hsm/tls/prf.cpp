#include "hsm/tls/prf.h"

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

}  // namespace

Bytes prf(uint32_t version, const char *prf_md, In secret, std::string_view label, In seed,
          size_t len) {
  Bytes out;
  if (engine::tls1_prf(tls12(version) ? prf_md : "MD5-SHA1", secret, cat({text(label), seed}), len,
                       out))
    return {};
  return out;
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
