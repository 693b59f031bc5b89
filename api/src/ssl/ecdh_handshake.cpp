// ECDH with the private key on the HSM, chained with the TLS steps of the
// premaster handshake in one request. The request's own parameters describe
// the curve, so the TLS part's travel in an 8-byte control word ahead of
// the segments.
#include "common/be_codec.h"
#include "qel2_errors.h"
#include "ssl/tls_request.h"

using namespace qel2;
using namespace qel2::ssl;

namespace {

// The control word's place and the point multiplications: in the generate
// form (all of Gx, Gy, pub_x, pub_y given) the own public point first, then
// always the shared secret from the peer's point.
class EcdhRequest {
 public:
  EcdhRequest(Uint32 session_handle, Uint64 context_handle, CurveId cid, bool generate)
      : plen_(get_prime_length(cid)),
        rq_(KQ_VNX_KEY_CMD, opcode(op::kEcdh | (generate ? op::kEcdhGenerate : 0)), session_handle,
            context_handle),
        generate_(generate) {
    rq_.params(static_cast<uint16_t>(static_cast<uint32_t>(cid) | crypto::r8(plen_) << 8), 0);
    rq_.in(control_, sizeof control_);
  }
  TlsRequest &points(const Uint8 *prime, Uint64 key, const Uint8 *peer_x, const Uint8 *peer_y,
                     const Uint8 *gx, const Uint8 *gy) {
    if (generate_) rq_.point(gx, gy, key, prime, plen_);
    rq_.point(peer_x, peer_y, key, prime, plen_);
    tls_start_ = rq_.in_total();
    return rq_;
  }
  // The control word, once the TLS part's segments are listed; then the
  // own public point's outputs.
  TlsRequest &control(uint16_t tls_opcode, uint16_t param1, uint16_t param2, Uint8 *pub_x,
                      Uint8 *pub_y) {
    BeWriter w(control_, sizeof control_);
    w.u16(tls_opcode).u16(param1).u16(param2);
    w.u16(static_cast<uint16_t>(rq_.in_total() - tls_start_));
    if (generate_) rq_.out_rounded(pub_x, plen_).out_rounded(pub_y, plen_);
    return rq_;
  }
  uint16_t plen() const { return static_cast<uint16_t>(plen_); }

 private:
  uint32_t plen_;
  TlsRequest rq_;
  bool generate_;
  uint64_t tls_start_ = 0;
  uint8_t control_[sizeof(cmd)] = {};
};

bool generate_form(const Uint8 *gx, const Uint8 *gy, const Uint8 *pub_x, const Uint8 *pub_y) {
  return gx && gy && pub_x && pub_y;
}

uint16_t tls_opcode(uint16_t base, const Uint8 *encrypt_master_secret) {
  return opcode(static_cast<uint16_t>(base | (encrypt_master_secret ? op::kMasterSecret : 0)));
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2ECDHFull(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, SslVersion ssl_version, SslPartyType ssl_party, CurveId cid, Uint8 *prime,
    Uint64 key_handle_le, Uint8 *peer_pub_x, Uint8 *peer_pub_y, Uint8 *Gx, Uint8 *Gy,
    Uint8 *client_random, Uint8 *server_random, Uint8 *client_msg_seq_num, Uint8 *client_seq_num,
    Uint8 *client_iv, Uint8 *server_msg_seq_num, Uint8 *server_seq_num, Uint8 *server_iv,
    Uint16 handshake_length, Uint8 *handshake, Uint8 *pub_x, Uint8 *pub_y,
    Uint8 *enc_client_finished_message, Uint8 *enc_server_finished_message,
    Uint8 *unenc_client_finished_message, Uint8 *unenc_server_finished_message,
    Uint8 *encrypt_master_secret, Uint32 *request_id) {
  // The curve is not tested: an unknown one goes out with empty segments.
  if (Uint32 r = check_handshake(request_type, request_id, context_handle, cipher_type, hash_type))
    return r;
  const Finished fin{enc_client_finished_message, enc_server_finished_message,
                     unenc_client_finished_message, unenc_server_finished_message};
  EcdhRequest e(session_handle, context_handle, cid, generate_form(Gx, Gy, pub_x, pub_y));
  TlsRequest &rq = e.points(prime, key_handle_le, peer_pub_x, peer_pub_y, Gx, Gy);
  rq.sequence(ssl_version, cipher_type,
              {client_msg_seq_num, client_seq_num, client_iv, server_msg_seq_num, server_seq_num,
               server_iv});
  rq.prf_iv(hash_type);  // for every version
  rq.hello(client_random, server_random, handshake_length, handshake);
  e.control(tls_opcode(op::kFull | op::kOther, encrypt_master_secret),
            size_word(ssl_version, ssl_party, e.plen()),
            handshake_word(ssl_version, cipher_type, hash_type, fin), pub_x, pub_y);
  rq.master_secret(encrypt_master_secret).finished(ssl_version, cipher_type, hash_type, fin);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2ECDHVerify(Uint32 session_handle, request_type request_type,
                                  Uint64 context_handle, CipherType cipher_type,
                                  HashType prf_hash_type, HashType verify_hash_type,
                                  SslVersion ssl_version, CurveId cid, Uint8 *prime,
                                  Uint64 key_handle_le, Uint8 *peer_pub_x, Uint8 *peer_pub_y,
                                  Uint8 *Gx, Uint8 *Gy, Uint8 *client_random, Uint8 *server_random,
                                  Uint16 handshake_length, Uint8 *handshake, Uint8 *pub_x,
                                  Uint8 *pub_y, Uint8 *verify_data, Uint8 *encrypt_master_secret,
                                  Uint32 *request_id) {
  // Hash types, cipher and curve reach the HSM as passed.
  if (Uint32 r = check_common(request_type, request_id, context_handle)) return r;
  EcdhRequest e(session_handle, context_handle, cid, generate_form(Gx, Gy, pub_x, pub_y));
  TlsRequest &rq = e.points(prime, key_handle_le, peer_pub_x, peer_pub_y, Gx, Gy);
  rq.verify_ivs(ssl_version, prf_hash_type, verify_hash_type);
  rq.hello(client_random, server_random, handshake_length, handshake);
  e.control(tls_opcode(op::kOther, encrypt_master_secret), e.plen(),
            verify_word(ssl_version, cipher_type, prf_hash_type, verify_hash_type), pub_x, pub_y);
  rq.master_secret(encrypt_master_secret).verify_data(ssl_version, verify_hash_type, verify_data);
  return rq.send(request_type, request_id);
}

}  // extern "C"
