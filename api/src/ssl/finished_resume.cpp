// Handshakes that start from a master secret: the finished messages after a
// verify operation, and resumption from the context's or an encrypted copy.
#include "qel2_errors.h"
#include "ssl/tls_request.h"

using namespace qel2::ssl;

extern "C" {

QEL2_EXPORT Uint32 Qel2FinishedFinish(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, SslVersion ssl_version, SslPartyType ssl_party, Uint8 *client_msg_seq_num,
    Uint8 *client_seq_num, Uint8 *client_iv, Uint8 *server_msg_seq_num, Uint8 *server_seq_num,
    Uint8 *server_iv, Uint16 handshake_length, Uint8 *handshake, Uint8 *enc_client_finished_message,
    Uint8 *enc_server_finished_message, Uint8 *unenc_client_finished_message,
    Uint8 *unenc_server_finished_message, Uint32 *request_id) {
  if (Uint32 r = check_handshake(request_type, request_id, context_handle, cipher_type, hash_type))
    return r;
  const Finished fin{enc_client_finished_message, enc_server_finished_message,
                     unenc_client_finished_message, unenc_server_finished_message};
  TlsRequest rq(KQ_VANTOR_CMD, opcode(op::kFinished), session_handle, context_handle);
  rq.handshake(ssl_version, cipher_type, hash_type, size_word(ssl_version, ssl_party, 0), fin,
               {client_msg_seq_num, client_seq_num, client_iv, server_msg_seq_num, server_seq_num,
                server_iv});
  if (explicit_iv(ssl_version)) rq.prf_iv(hash_type);
  rq.in(handshake, handshake_length);
  rq.finished(ssl_version, cipher_type, hash_type, fin);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2Resume(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, SslVersion ssl_version, SslPartyType ssl_party, Uint8 *client_random,
    Uint8 *server_random, Uint8 *encrypt_master_secret, Uint8 *client_msg_seq_num,
    Uint8 *client_seq_num, Uint8 *client_iv, Uint8 *server_msg_seq_num, Uint8 *server_seq_num,
    Uint8 *server_iv, Uint16 handshake_length, Uint8 *handshake, Uint8 *enc_client_finished_message,
    Uint8 *enc_server_finished_message, Uint8 *unenc_client_finished_message,
    Uint8 *unenc_server_finished_message, Uint32 *request_id) {
  if (Uint32 r = check_handshake(request_type, request_id, context_handle, cipher_type, hash_type))
    return r;
  const Finished fin{enc_client_finished_message, enc_server_finished_message,
                     unenc_client_finished_message, unenc_server_finished_message};
  const uint16_t base = op::kResume | (encrypt_master_secret ? op::kMasterSecret : 0);
  TlsRequest rq(KQ_VANTOR_CMD, opcode(base), session_handle, context_handle);
  rq.handshake(ssl_version, cipher_type, hash_type, size_word(ssl_version, ssl_party, 0), fin,
               {client_msg_seq_num, client_seq_num, client_iv, server_msg_seq_num, server_seq_num,
                server_iv});
  // The earlier session's master secret, as the HSM encrypted it.
  if (encrypt_master_secret) rq.in(encrypt_master_secret, kMasterSecretLen);
  rq.prf_iv(hash_type);
  rq.hello(client_random, server_random, handshake_length, handshake);
  rq.finished(ssl_version, cipher_type, hash_type, fin);
  return rq.send(request_type, request_id);
}

}  // extern "C"
