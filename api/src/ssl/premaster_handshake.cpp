// The handshake from a premaster secret the caller holds in plain or the
// context already holds (generated there, or left by ECDH or EAP-FAST):
// the whole handshake, or up to the certificate-verify digest.
#include "qel2_errors.h"
#include "ssl/tls_request.h"

using namespace qel2::ssl;

namespace {

// The PRF halves of a given secret fit two 256-byte slots.
bool premaster_fits(SslVersion v, Uint16 len, const Uint8 *pms) {
  return !pms || !split_premaster(v) || len <= kMaxSplitPremaster;
}

uint16_t other_base(const Uint8 *pms, const Uint8 *encrypt_master_secret) {
  return static_cast<uint16_t>(op::kOther | (pms ? op::kPremasterGiven : 0) |
                               (encrypt_master_secret ? op::kMasterSecret : 0));
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2OtherFull(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, SslVersion ssl_version, SslPartyType ssl_party, Uint16 pre_master_length,
    Uint8 *pre_master_secret, Uint8 *client_random, Uint8 *server_random, Uint8 *client_msg_seq_num,
    Uint8 *client_seq_num, Uint8 *client_iv, Uint8 *server_msg_seq_num, Uint8 *server_seq_num,
    Uint8 *server_iv, Uint16 handshake_length, Uint8 *handshake, Uint8 *enc_client_finished_message,
    Uint8 *enc_server_finished_message, Uint8 *unenc_client_finished_message,
    Uint8 *unenc_server_finished_message, Uint8 *encrypt_master_secret, Uint32 *request_id) {
  if (Uint32 r = check_handshake(request_type, request_id, context_handle, cipher_type, hash_type))
    return r;
  if (!premaster_fits(ssl_version, pre_master_length, pre_master_secret))
    return ERR_ILLEGAL_INPUT_LENGTH;
  const Finished fin{enc_client_finished_message, enc_server_finished_message,
                     unenc_client_finished_message, unenc_server_finished_message};
  TlsRequest rq(KQ_VANTOR_CMD,
                opcode(op::kFull | other_base(pre_master_secret, encrypt_master_secret)),
                session_handle, context_handle);
  rq.handshake(ssl_version, cipher_type, hash_type,
               size_word(ssl_version, ssl_party, pre_master_length), fin,
               {client_msg_seq_num, client_seq_num, client_iv, server_msg_seq_num, server_seq_num,
                server_iv});
  if (explicit_iv(ssl_version)) rq.prf_iv(hash_type);
  rq.premaster(ssl_version, pre_master_length, pre_master_secret);
  rq.hello(client_random, server_random, handshake_length, handshake);
  rq.master_secret(encrypt_master_secret).finished(ssl_version, cipher_type, hash_type, fin);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2OtherVerify(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, HashType sign_hash_type, SslVersion ssl_version, Uint16 pre_master_length,
    Uint8 *pre_master_secret, Uint8 *client_random, Uint8 *server_random, Uint16 handshake_length,
    Uint8 *handshake, Uint8 *verify_data, Uint8 *encrypt_master_secret, Uint32 *request_id) {
  if (Uint32 r = check_common(request_type, request_id, context_handle)) return r;
  if (!premaster_fits(ssl_version, pre_master_length, pre_master_secret))
    return ERR_ILLEGAL_INPUT_LENGTH;
  TlsRequest rq(KQ_VANTOR_CMD, opcode(other_base(pre_master_secret, encrypt_master_secret)),
                session_handle, context_handle);
  rq.params(pre_master_length, verify_word(ssl_version, cipher_type, hash_type, sign_hash_type));
  rq.verify_ivs(ssl_version, hash_type, sign_hash_type);
  rq.premaster(ssl_version, pre_master_length, pre_master_secret);
  rq.hello(client_random, server_random, handshake_length, handshake);
  rq.master_secret(encrypt_master_secret).verify_data(ssl_version, sign_hash_type, verify_data);
  return rq.send(request_type, request_id);
}

}  // extern "C"
