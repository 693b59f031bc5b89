// RSA key exchange on the server side: the client's premaster secret,
// encrypted under the server's key held by the HSM, decrypted there into the
// context; the whole handshake, or up to the certificate-verify digest.
#include "qel2_errors.h"
#include "ssl/tls_request.h"

using namespace qel2::ssl;

namespace {

// The key segment of these requests names the private key with this bit.
constexpr uint64_t kRsaKeyBit = 0x2000000000000ull;

bool modulus_ok(Uint16 modlength) { return modlength >= 64 && modlength <= 512; }

// 0x5 for a modulus up to 128 bytes, 0x3 above.
uint16_t rsa_base(Uint16 modlength, const Uint8 *encrypt_master_secret) {
  const uint16_t base = modlength <= 128 ? op::kRsaSmall : op::kRsaLarge;
  return static_cast<uint16_t>(base | (encrypt_master_secret ? op::kMasterSecret : 0));
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2RsaServerFull(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, Uint64 *key_handle_le,
    CipherType cipher_type, HashType hash_type, SslVersion ssl_version, Uint16 modlength,
    Uint8 *encrypt_premaster_secret, Uint8 *client_random, Uint8 *server_random,
    Uint8 *client_msg_seq_num, Uint8 *client_seq_num, Uint8 *client_iv, Uint8 *server_msg_seq_num,
    Uint8 *server_seq_num, Uint8 *server_iv, Uint16 handshake_length, Uint8 *handshake,
    Uint8 *enc_client_finished_message, Uint8 *enc_server_finished_message,
    Uint8 *unenc_client_finished_message, Uint8 *unenc_server_finished_message,
    Uint8 *encrypt_master_secret, Uint32 *request_id) {
  if (Uint32 r = check_common(request_type, request_id, context_handle)) return r;
  if (modlength % 8 != 0) return ERR_ILLEGAL_INPUT_LENGTH;
  if (Uint32 r = check_suite(cipher_type, hash_type)) return r;
  if (!modulus_ok(modlength)) return ERR_ILLEGAL_INPUT_LENGTH;
  if (!key_handle_le) return ERR_ARGUMENTS_BAD;
  const Finished fin{enc_client_finished_message, enc_server_finished_message,
                     unenc_client_finished_message, unenc_server_finished_message};
  TlsRequest rq(KQ_VNX_KEY_CMD, opcode(op::kFull | rsa_base(modlength, encrypt_master_secret)),
                session_handle, context_handle);
  // Server operations: the modulus length alone, no party bits.
  rq.handshake(ssl_version, cipher_type, hash_type, modlength, fin,
               {client_msg_seq_num, client_seq_num, client_iv, server_msg_seq_num, server_seq_num,
                server_iv});
  rq.key(*key_handle_le | kRsaKeyBit).in(encrypt_premaster_secret, modlength);
  rq.prf_iv(hash_type);  // for every version
  rq.hello(client_random, server_random, handshake_length, handshake);
  rq.master_secret(encrypt_master_secret).finished(ssl_version, cipher_type, hash_type, fin);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2RsaServerVerify(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, Uint64 *key_handle_le,
    CipherType cipher_type, HashType hash_type, HashType sign_hash_type, SslVersion ssl_version,
    Uint16 modlength, Uint8 *encrypt_premaster_secret, Uint8 *client_random, Uint8 *server_random,
    Uint16 handshake_length, Uint8 *handshake, Uint8 *verify_data, Uint8 *encrypt_master_secret,
    Uint32 *request_id) {
  if (Uint32 r = check_common(request_type, request_id, context_handle)) return r;
  // Hash types and cipher reach the HSM as passed.
  if (modlength % 8 != 0 || !modulus_ok(modlength)) return ERR_ILLEGAL_INPUT_LENGTH;
  if (!key_handle_le) return ERR_ARGUMENTS_BAD;
  TlsRequest rq(KQ_VNX_KEY_CMD, opcode(rsa_base(modlength, encrypt_master_secret)), session_handle,
                context_handle);
  rq.params(modlength, verify_word(ssl_version, cipher_type, hash_type, sign_hash_type));
  rq.key(*key_handle_le | kRsaKeyBit).in(encrypt_premaster_secret, modlength);
  rq.verify_ivs(ssl_version, hash_type, sign_hash_type);
  rq.hello(client_random, server_random, handshake_length, handshake);
  rq.master_secret(encrypt_master_secret).verify_data(ssl_version, sign_hash_type, verify_data);
  return rq.send(request_type, request_id);
}

}  // extern "C"
