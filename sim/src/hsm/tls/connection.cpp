#include "hsm/tls/connection.h"

#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "hsm/state/ssl_contexts.h"

namespace hsmsim::hsm {

const Secret &SslContexts::resume_key() {
  if (!resume_key_) {
    std::vector<uint8_t> k(32);
    engine::fill_random(k);
    resume_key_ = Secret(std::move(k));
  }
  return *resume_key_;
}

namespace tls {

namespace {
Bytes run(In key, In in, bool enc) {
  static const uint8_t zero_iv[16] = {};
  Bytes out;
  if (in.size() != kMasterLen ||
      engine::cipher("AES-256-CBC", key, zero_iv, enc, false, in, out) != 0)
    return {};
  return out;
}
}  // namespace

Bytes seal_master(In key, In master) { return run(key, master, true); }
Bytes open_master(In key, In sealed) { return run(key, sealed, false); }

}  // namespace tls
}  // namespace hsmsim::hsm
