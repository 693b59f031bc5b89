// The HSM's operations, one handler per (command type, opcode). Each topic
// adds its handlers; the table is built once.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "hsm/opcodes.h"
#include "hsm/ops/call.h"

namespace hsmsim::hsm {

// How a request holds its partition's lock (the partition of its session
// handle): shared, so requests of a partition run side by side and a long
// one does not stall the others; or whole, for changes to the partition as a
// whole, which wait until its running requests have finished.
enum class PartitionLock { Shared, Whole };

class HandlerTable {
 public:
  struct Entry {
    Handler handler = nullptr;
    PartitionLock lock = PartitionLock::Shared;
  };

  void add(uint16_t command_type, uint16_t opcode, Handler h,
           PartitionLock lock = PartitionLock::Shared) {
    map_[key(command_type, opcode)] = Entry{h, lock};
  }
  // Raw-form opcodes are found without their DMA bit.
  Entry entry(uint16_t command_type, uint16_t opcode) const {
    if (!is_management_form(command_type)) opcode &= static_cast<uint16_t>(~kDmaBit);
    auto it = map_.find(key(command_type, opcode));
    return it == map_.end() ? Entry{} : it->second;
  }
  Handler find(uint16_t command_type, uint16_t opcode) const {
    return entry(command_type, opcode).handler;
  }

 private:
  static uint32_t key(uint16_t ct, uint16_t op) { return (uint32_t{ct} << 16) | op; }
  std::unordered_map<uint32_t, Entry> map_;
};

const HandlerTable &handlers();

// One registration per topic.
void add_application_ops(HandlerTable &);
void add_session_ops(HandlerTable &);
void add_login_ops(HandlerTable &);
void add_keygen_ops(HandlerTable &);  // key generation, creation and derivation
void add_info_ops(HandlerTable &);
void add_object_store_ops(HandlerTable &);  // key objects, attributes, search, masked objects
void add_admin_user_ops(HandlerTable &);
void add_admin_partition_ops(HandlerTable &);
void add_admin_policy_ops(HandlerTable &);
void add_admin_hsm_ops(HandlerTable &);
void add_admin_audit_ops(HandlerTable &);
void add_wrap_host_buffer_ops(HandlerTable &);  // AES key wrap of host bytes
void add_wrap_key_ops(HandlerTable &);          // wrap and export of key objects
void add_crypto_digest_ops(HandlerTable &);     // random, digests, HMAC
void add_crypto_cipher_ops(HandlerTable &);     // 3DES, AES: CBC, ECB, CTR
void add_crypto_gcm_ops(HandlerTable &);        // AES-GCM, GMAC
void add_crypto_rsa_ops(HandlerTable &);        // PKCS#1 v1.5 and v2.2, modular exponentiation
void add_crypto_rc4_ops(HandlerTable &);        // RC4 with its state in a context
void add_crypto_tunnel_ops(HandlerTable &);     // end-to-end record tunnel (an echo)
void add_crypto_ec_ops(HandlerTable &);         // EC points, ECDSA
void add_admin2_private_data_ops(HandlerTable &);
void add_admin2_mofn_ops(HandlerTable &);
void add_admin2_certificate_ops(HandlerTable &);
void add_admin2_kbk_ops(HandlerTable &);
void add_sign_ops(HandlerTable &);     // signing and verifying with key objects
void add_ssl_ctx_ops(HandlerTable &);  // SSL contexts, premaster, ECDH, EAP-FAST, FIPS random
// Unwrap of wrapped keys into new key objects.
void add_unwrap_key_ops(HandlerTable &);

// Key-encryption and password-encryption keys.
void add_admin2_kek_ops(HandlerTable &);
void add_admin2_backup_ops(HandlerTable &);         // backup and restore
void add_maintenance_firmware_ops(HandlerTable &);  // firmware and bootloader update
void add_maintenance_clone_ops(HandlerTable &);     // cloning a partition's key backup key
void add_maintenance_diag_ops(HandlerTable &);      // diagnostics, FIPS self-tests, core dumps
void add_tls_handshake_ops(HandlerTable &);         // TLS handshakes on a context
void add_tls_record_ops(HandlerTable &);  // TLS record protection with a context's write states

}  // namespace hsmsim::hsm
