// Keys made on the host by OpenSSL and seeded into the launcher's stand-in
// for the Java cryptography scenarios; the Java side learns their handles,
// public keys and secret values from the environment (QEL2_JNI_*).
#pragma once

#include <hsmsim/daemon.h>

#include <string>

namespace jce_keys {

// Seeds an RSA-2048 pair, a P-256 pair, an AES-256 and a 3DES key owned by
// `owner` and exports what Java needs. Throws std::runtime_error on failure.
void seed_and_export(hsmsim::Daemon &d, const std::string &owner);

}  // namespace jce_keys
