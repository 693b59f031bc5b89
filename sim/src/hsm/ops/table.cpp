#include "hsm/ops/table.h"

namespace hsmsim::hsm {

const HandlerTable &handlers() {
  static const HandlerTable table = [] {
    HandlerTable t;
    add_application_ops(t);
    add_session_ops(t);
    add_login_ops(t);
    add_keygen_ops(t);
    add_info_ops(t);
    add_object_store_ops(t);
    add_admin_user_ops(t);
    add_admin_partition_ops(t);
    add_admin_policy_ops(t);
    add_admin_hsm_ops(t);
    add_admin_audit_ops(t);
    add_wrap_host_buffer_ops(t);
    add_wrap_key_ops(t);
    add_crypto_digest_ops(t);
    add_crypto_cipher_ops(t);
    add_crypto_gcm_ops(t);
    add_crypto_rsa_ops(t);
    add_crypto_rc4_ops(t);
    add_crypto_tunnel_ops(t);
    add_crypto_ec_ops(t);
    add_admin2_private_data_ops(t);
    add_admin2_mofn_ops(t);
    add_admin2_certificate_ops(t);
    add_admin2_kbk_ops(t);
    add_sign_ops(t);
    add_ssl_ctx_ops(t);
    add_unwrap_key_ops(t);
    add_admin2_kek_ops(t);
    add_admin2_backup_ops(t);
    add_maintenance_firmware_ops(t);
    add_maintenance_clone_ops(t);
    add_maintenance_diag_ops(t);
    add_tls_handshake_ops(t);
    add_tls_record_ops(t);
    return t;
  }();
  return table;
}

}  // namespace hsmsim::hsm
