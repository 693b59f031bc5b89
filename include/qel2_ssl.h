/* TLS and DTLS offload on SSL contexts held by the HSM: the RSA, premaster
 * and ECDH handshakes, finished messages, resumption, and record encryption
 * and decryption; the numbering of versions, ciphers, parties and record
 * types, and the size functions the requests are built from.
 *
 * Every operation returns 0 or a status code. A context handle must be
 * non-zero and a multiple of 8 (of 16 when bit 63 is set). A non-blocking
 * call (any non-zero request type) returns ERR_REQUEST_PENDING and its
 * request id; its outputs are filled when the result is collected
 * (Qel2CheckForCompletion, Qel2GetAllResults), so caller buffers must stay
 * valid until then. Sequence numbers are 8 bytes; explicit IVs are
 * get_ssl_explicit_iv_length bytes; randoms are 32 bytes; an encrypted
 * master secret is 48 bytes. */
#ifndef QEL2_SSL_H
#define QEL2_SSL_H

#include "qel2_crypto.h"
#include "qel2_defs.h"
#include "qel2_transport.h"

QEL2_EXTERN_C_BEGIN

/* Protocol versions. Values of 2 and above carry explicit IVs and sequence
 * numbers; 0x400, 0x800 and 0xC00 are DTLS; values above 0x800 use the
 * TLS 1.2 PRF. */
typedef enum SslVersion QEL2_ENUM_U32 {
  VER_TLS = 0,
  VER3_0 = 1,
  VER_DTLS = 0x400,
  VER_TLS1_1 = 0x401,
  VER_DTLS_POST_RFC = 0x800,
  VER_TLS1_2 = 0x801,
  VER_DTLS1_2 = 0xC00
} SslVersion;

typedef enum CipherType {
  UNSUPPORTED_CIPHER = -1,
  AES_GCM_128 = 4,
  AES_128 = 5,
  AES_GCM_256 = 6,
  AES_192 = 6, /* the same value: AES-GCM with a 256-bit key */
  AES_256 = 7,
  RC4_128 = 8,
  RC4_EXPORT_40 = 9,
  RC4_EXPORT_56 = 11,
  DES = 12,
  DES_EXPORT_40 = 13,
  DES3_192 = 14,
  DES_EXPORT_56 = 15
} CipherType;

typedef enum SslPartyType { SSL_SERVER = 0, SSL_CLIENT = 1 } SslPartyType;

/* The record's content type. */
typedef enum MessageType {
  CHANGE_CIPHER_SPEC = 0,
  ALERT = 1,
  HANDSHAKE = 2,
  APP_DATA = 3
} MessageType;

/* The choices a caller makes by passing or omitting buffers. */
typedef enum MasterSecretReturn { NOT_RETURNED = 0, RETURN_ENCRYPTED = 1 } MasterSecretReturn;
typedef enum MasterSecretInput { READ_FROM_CONTEXT = 0, INPUT_ENCRYPTED = 1 } MasterSecretInput;
typedef enum ClientFinishMessageOutput {
  RETURN_CLIENT_FINISHED_ENCRYPTED = 0,
  RETURN_CLIENT_FINISHED_UNENCRYPTED = 1
} ClientFinishMessageOutput;
typedef enum ServerFinishMessageOutput {
  RETURN_SERVER_FINISHED_ENCRYPTED = 0,
  RETURN_SERVER_FINISHED_UNENCRYPTED = 1
} ServerFinishMessageOutput;
typedef enum ClientServerFinishMessageOutput {
  NOT_REQUIRED = -1,
  RETURN_CLIENT_SERVER_FINISHED_ENCRYPTED_UNENCRYPTED = 1
} ClientServerFinishMessageOutput;

/* The control word heading an ECDH handshake request: the TLS part's
 * opcode, size word, parameter word and data length, each big-endian. */
typedef struct cmd {
  Uint16 opcode;
  Uint16 param1;
  Uint16 param2;
  Uint16 dlen;
} cmd;
QEL2_STATIC_ASSERT(sizeof(cmd) == 8, "cmd is 8 bytes");

/* How a cipher protects a record. */
typedef enum SslCipherMode {
  SSL_CIPHER_MODE_NONE = 0, /* not a TLS cipher */
  SSL_CIPHER_MODE_STREAM = 1,
  SSL_CIPHER_MODE_BLOCK = 2,
  SSL_CIPHER_MODE_GCM = 3
} SslCipherMode;

/* ---- size functions ---- */

/* Explicit IV length of a cipher: 8 (GCM, DES family), 16 (AES-CBC), 0
 * (RC4); -1 for a value that is not a TLS cipher. */
static inline Int32 get_ssl_explicit_iv_length(CipherType cipher_type) {
  switch ((int)cipher_type) {
    case AES_GCM_128:
    case AES_GCM_256:
      return 8;
    case AES_128:
    case AES_256:
      return 16;
    case RC4_128:
    case RC4_EXPORT_40:
    case RC4_EXPORT_56:
      return 0;
    case DES:
    case DES_EXPORT_40:
    case DES3_192:
    case DES_EXPORT_56:
      return 8;
    default:
      return -1;
  }
}

static inline SslCipherMode get_cipher_mode(CipherType cipher_type) {
  switch ((int)cipher_type) {
    case AES_GCM_128:
    case AES_GCM_256:
      return SSL_CIPHER_MODE_GCM;
    case AES_128:
    case AES_256:
    case DES:
    case DES_EXPORT_40:
    case DES3_192:
    case DES_EXPORT_56:
      return SSL_CIPHER_MODE_BLOCK;
    case RC4_128:
    case RC4_EXPORT_40:
    case RC4_EXPORT_56:
      return SSL_CIPHER_MODE_STREAM;
    default:
      return SSL_CIPHER_MODE_NONE;
  }
}

/* Size of a finished message: 16 (TLS), 40 (SSL 3.0), 24 (DTLS); 0 for any
 * other value. */
static inline Uint32 get_finished_size(SslVersion ssl_version) {
  switch ((unsigned)ssl_version) {
    case VER_TLS:
    case VER_TLS1_1:
    case VER_TLS1_2:
      return 16;
    case VER3_0:
      return 40;
    case VER_DTLS:
    case VER_DTLS_POST_RFC:
    case VER_DTLS1_2:
      return 24;
    default:
      return 0;
  }
}

/* Length of a protected record body (without an explicit IV), in 16 bits.
 * hash_size is the MAC size (16, the tag, for GCM); pad_length counts extra
 * whole padding blocks of a block cipher. */
static inline Uint16 get_record_size(CipherType cipher_type, Uint16 payload_length,
                                     Uint16 hash_size, Uint16 pad_length) {
  const Uint32 body = (Uint16)((Uint32)payload_length + hash_size);
  switch ((int)cipher_type) {
    case AES_128:
    case AES_256:
      return (Uint16)((body + 16u * pad_length + 16u) & ~15u);
    case DES:
    case DES_EXPORT_40:
    case DES3_192:
    case DES_EXPORT_56:
      return (Uint16)((body + 8u * pad_length + 8u) & ~7u);
    default:
      return (Uint16)body;
  }
}

/* Offset in the context of the write state a record operation uses:
 * encryption by the client and decryption by the server use the client's;
 * encryption by the server and decryption by the client the server's. For
 * encryption any non-zero party counts as the client, for decryption any
 * party but SSL_CLIENT as the server. */
static inline Uint32 get_context_offset(CipherType cipher_type, SslVersion ssl_version,
                                        SslPartyType ssl_party, int enc) {
  const int tls12 = (unsigned)ssl_version > VER_DTLS_POST_RFC;
  const int client_state = enc ? ssl_party != SSL_SERVER : ssl_party != SSL_CLIENT;
  if (client_state) return tls12 ? 256 : 176;
  switch ((int)cipher_type) {
    case RC4_128:
    case RC4_EXPORT_40:
    case RC4_EXPORT_56:
      return tls12 ? 656 : 496;
    case DES:
    case DES_EXPORT_40:
    case DES3_192:
    case DES_EXPORT_56:
      return tls12 ? 456 : 272;
    case AES_GCM_128:
    case AES_128:
    case AES_GCM_256:
    case AES_256:
      return tls12 ? 456 : 304;
    default:
      return 0;
  }
}

/* The FIPS 180-4 initial hash value of SHA-384 and SHA-512 (eight 64-bit
 * words) or SHA-224 (eight 32-bit words), big-endian, into ptr; *plen is set
 * to 64, 64 or 32. For any other type nothing is written and *plen is left
 * as it was. */
QEL2_EXPORT void get_sha2_iv(HashType auth, uint8_t *ptr, uint32_t *plen);

/* ---- handshakes ---- */

/* The four finished buffers: with all four given both messages come back in
 * both forms; otherwise each message comes back encrypted into its enc_
 * buffer when that is given, else plain into its unenc_ buffer (one of the
 * two is required). An encrypted finished message is a record of the
 * version's finished size, with the explicit IV for versions of 2 and
 * above. */

/* RSA key exchange, server side: the premaster secret encrypted under the
 * server's key (modlength bytes, 64 to 512, a multiple of 8). */
QEL2_EXPORT Uint32 Qel2RsaServerFull(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, Uint64 *key_handle_le,
    CipherType cipher_type, HashType hash_type, SslVersion ssl_version, Uint16 modlength,
    Uint8 *encrypt_premaster_secret, Uint8 *client_random, Uint8 *server_random,
    Uint8 *client_msg_seq_num, Uint8 *client_seq_num, Uint8 *client_iv, Uint8 *server_msg_seq_num,
    Uint8 *server_seq_num, Uint8 *server_iv, Uint16 handshake_length, Uint8 *handshake,
    Uint8 *enc_client_finished_message, Uint8 *enc_server_finished_message,
    Uint8 *unenc_client_finished_message, Uint8 *unenc_server_finished_message,
    Uint8 *encrypt_master_secret, Uint32 *request_id);
/* Stops after the master secret: verify_data receives the digest a client
 * certificate-verify signature covers (36 bytes up to TLS 1.1, else the
 * digest size of sign_hash_type). */
QEL2_EXPORT Uint32 Qel2RsaServerVerify(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, Uint64 *key_handle_le,
    CipherType cipher_type, HashType hash_type, HashType sign_hash_type, SslVersion ssl_version,
    Uint16 modlength, Uint8 *encrypt_premaster_secret, Uint8 *client_random, Uint8 *server_random,
    Uint16 handshake_length, Uint8 *handshake, Uint8 *verify_data, Uint8 *encrypt_master_secret,
    Uint32 *request_id);

/* A premaster secret given in plain (pre_master_secret) or held by the
 * context (pre_master_secret NULL). */
QEL2_EXPORT Uint32 Qel2OtherFull(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, SslVersion ssl_version, SslPartyType ssl_party, Uint16 pre_master_length,
    Uint8 *pre_master_secret, Uint8 *client_random, Uint8 *server_random, Uint8 *client_msg_seq_num,
    Uint8 *client_seq_num, Uint8 *client_iv, Uint8 *server_msg_seq_num, Uint8 *server_seq_num,
    Uint8 *server_iv, Uint16 handshake_length, Uint8 *handshake, Uint8 *enc_client_finished_message,
    Uint8 *enc_server_finished_message, Uint8 *unenc_client_finished_message,
    Uint8 *unenc_server_finished_message, Uint8 *encrypt_master_secret, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2OtherVerify(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, HashType sign_hash_type, SslVersion ssl_version, Uint16 pre_master_length,
    Uint8 *pre_master_secret, Uint8 *client_random, Uint8 *server_random, Uint16 handshake_length,
    Uint8 *handshake, Uint8 *verify_data, Uint8 *encrypt_master_secret, Uint32 *request_id);

/* ECDH with the private key on the HSM. With all of Gx, Gy, pub_x and
 * pub_y given the HSM first returns the own public point. Coordinates and
 * the prime are big-endian numbers of the curve's prime length. */
QEL2_EXPORT Uint32 Qel2ECDHFull(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, SslVersion ssl_version, SslPartyType ssl_party, CurveId cid, Uint8 *prime,
    Uint64 key_handle_le, Uint8 *peer_pub_x, Uint8 *peer_pub_y, Uint8 *Gx, Uint8 *Gy,
    Uint8 *client_random, Uint8 *server_random, Uint8 *client_msg_seq_num, Uint8 *client_seq_num,
    Uint8 *client_iv, Uint8 *server_msg_seq_num, Uint8 *server_seq_num, Uint8 *server_iv,
    Uint16 handshake_length, Uint8 *handshake, Uint8 *pub_x, Uint8 *pub_y,
    Uint8 *enc_client_finished_message, Uint8 *enc_server_finished_message,
    Uint8 *unenc_client_finished_message, Uint8 *unenc_server_finished_message,
    Uint8 *encrypt_master_secret, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ECDHVerify(Uint32 session_handle, request_type request_type,
                                  Uint64 context_handle, CipherType cipher_type,
                                  HashType prf_hash_type, HashType verify_hash_type,
                                  SslVersion ssl_version, CurveId cid, Uint8 *prime,
                                  Uint64 key_handle_le, Uint8 *peer_pub_x, Uint8 *peer_pub_y,
                                  Uint8 *Gx, Uint8 *Gy, Uint8 *client_random, Uint8 *server_random,
                                  Uint16 handshake_length, Uint8 *handshake, Uint8 *pub_x,
                                  Uint8 *pub_y, Uint8 *verify_data, Uint8 *encrypt_master_secret,
                                  Uint32 *request_id);

/* The finished messages of a handshake a verify operation began. */
QEL2_EXPORT Uint32 Qel2FinishedFinish(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, SslVersion ssl_version, SslPartyType ssl_party, Uint8 *client_msg_seq_num,
    Uint8 *client_seq_num, Uint8 *client_iv, Uint8 *server_msg_seq_num, Uint8 *server_seq_num,
    Uint8 *server_iv, Uint16 handshake_length, Uint8 *handshake, Uint8 *enc_client_finished_message,
    Uint8 *enc_server_finished_message, Uint8 *unenc_client_finished_message,
    Uint8 *unenc_server_finished_message, Uint32 *request_id);
/* An abbreviated handshake: the master secret from the context, or from the
 * 48-byte encrypted copy an earlier handshake returned. */
QEL2_EXPORT Uint32 Qel2Resume(
    Uint32 session_handle, request_type request_type, Uint64 context_handle, CipherType cipher_type,
    HashType hash_type, SslVersion ssl_version, SslPartyType ssl_party, Uint8 *client_random,
    Uint8 *server_random, Uint8 *encrypt_master_secret, Uint8 *client_msg_seq_num,
    Uint8 *client_seq_num, Uint8 *client_iv, Uint8 *server_msg_seq_num, Uint8 *server_seq_num,
    Uint8 *server_iv, Uint16 handshake_length, Uint8 *handshake, Uint8 *enc_client_finished_message,
    Uint8 *enc_server_finished_message, Uint8 *unenc_client_finished_message,
    Uint8 *unenc_server_finished_message, Uint32 *request_id);

/* ---- records ---- */

/* message_length up to 0x4400; pad_length extra whole padding blocks (at
 * most 255). *record_length receives the record body's length (with the
 * explicit IV) before the request is sent; record must hold it. */
QEL2_EXPORT Uint32 Qel2EncryptRecord(Uint32 session_handle, request_type request_type,
                                     Uint64 context_handle, CipherType cipher_type,
                                     HashType hash_type, SslVersion ssl_version,
                                     SslPartyType ssl_party, MessageType message_type,
                                     Uint16 pad_length, Uint8 *record_seq_num, Uint8 *record_IV,
                                     Uint16 message_length, Uint8 *message, Uint16 *record_length,
                                     Uint8 *record, Uint32 *request_id);
/* record is the body without its explicit IV (record_IV); message must hold
 * record_length bytes. A blocking call strips MAC and padding from
 * *message_length and answers ERR_BAD_RECORD for padding that does not
 * check; a non-blocking caller strips them itself. */
QEL2_EXPORT Uint32 Qel2DecryptRecord(Uint32 session_handle, request_type request_type,
                                     Uint64 context_handle, CipherType cipher_type,
                                     HashType hash_type, SslVersion ssl_version,
                                     SslPartyType ssl_party, MessageType message_type,
                                     Uint8 *record_seq_num, Uint8 *record_IV, Uint16 record_length,
                                     Uint8 *record, Uint16 *message_length, Uint8 *message,
                                     Uint32 *request_id);

QEL2_EXTERN_C_END

#endif
