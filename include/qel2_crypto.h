/* Cryptographic operations on the HSM in the raw form: random numbers,
 * hashes and HMAC, RSA (PKCS#1 v1.5 and v2.2) and modular exponentiation,
 * 3DES and AES, RC4, AES-GCM, elliptic-curve points and ECDSA, and the
 * end-to-end record tunnel. Every function returns 0 or a status code; a
 * non-blocking call returns ERR_REQUEST_PENDING and its request id, and its
 * outputs are filled when the result is collected by request id
 * (Qel2CheckForCompletion, Qel2GetAllResults).
 *
 * request_id may be NULL when request_type is OSTREL_BLOCKING; every call
 * here refuses a non-blocking request without it (ERR_ARGUMENTS_BAD). Key
 * objects are named by their 64-bit handle in host order. Lengths are bytes;
 * a call reads its inputs for the lengths given and writes the outputs noted
 * with each family. */
#ifndef QEL2_CRYPTO_H
#define QEL2_CRYPTO_H

#include "qel2_defs.h"
#include "qel2_transport.h"

/* The C type of the CRT flags, spelt so that C++ callers share it. */
#ifdef __cplusplus
typedef bool Qel2Bool;
#else
typedef _Bool Qel2Bool;
#endif

QEL2_EXTERN_C_BEGIN

typedef unsigned long Ulong;

/* Curve index of the raw point and ECDSA operations below and of the TLS
 * handshakes (qel2_ssl.h). Key objects name their curve by OpenSSL curve
 * number instead: key generation and public-key creation (ulCurveID,
 * qel2_keys.h) take 415 for P-256, and P256 (2) there is refused by the HSM
 * (RET_ATTRIBUTE_VALUE_INVALID 0xAA). */
typedef enum CurveId { P192 = 0, P224 = 1, P256 = 2, P384 = 3, P521 = 4, Secp256k1 = 5 } CurveId;

typedef enum RsaBlockType { BT1 = 0, BT2 = 1, OAEP = 2, PSS = 3 } RsaBlockType;
typedef RsaBlockType RsaPaddingType;

typedef enum ResultLocation { RES_HOST = 0, RES_CTX = 1 } ResultLocation;

typedef enum CipherMode { CBC = 0, CFB = 1, ECB = 2, GCM = 3, CCM = 4, GMAC = 15 } CipherMode;

typedef enum ContextUpdate { NO_UPDATE = 0, UPDATE = 1 } ContextUpdate;

typedef enum ENCRYPT_DECRYPT_OPERATION {
  MINOR_OP_RC4_ENC_DEC = 0,
  MINOR_OP_DES3_ENC = 4,
  MINOR_OP_DES3_DEC = 5,
  MINOR_OP_AES_ENC = 6,
  MINOR_OP_AES_DEC = 7,
  MINOR_OP_AES_GCM_ENC = 8,
  MINOR_OP_AES_GCM_DEC = 9,
  MINOR_OP_RC4_ENC_DEC_WITH_CTX_UPDATE = 32
} ENCRYPT_DECRYPT_OPERATION;

/* Digest size in bytes of a hash type; 0 for any other value. */
static inline Uint32 get_hash_size(HashType t) {
  switch (t) {
    case MD5_TYPE:
      return 16;
    case SHA1_TYPE:
      return 20;
    case SHA256_TYPE:
      return 32;
    case SHA384_TYPE:
      return 48;
    case SHA512_TYPE:
      return 64;
    case SHA224_TYPE:
      return 28;
    default:
      return 0;
  }
}

/* Prime length in bytes of a curve; 0 for any other value. The point and
 * ECDSA calls read and write their primes, coordinates, r and s as
 * big-endian numbers of this many bytes. */
static inline Uint32 get_prime_length(CurveId c) {
  switch (c) {
    case P192:
      return 24;
    case P224:
      return 28;
    case P256:
      return 32;
    case P384:
      return 48;
    case P521:
      return 66;
    case Secp256k1:
      return 32;
    default:
      return 0;
  }
}

/* ---- random numbers, hashes, HMAC ----
 * random receives length bytes; hash, final_hash and hmac receive
 * get_hash_size(hash_type) bytes. */
QEL2_EXPORT Uint32 Qel2Random(Uint32 session_handle, OperationMode operation_mode, Uint16 length,
                              Uint8 *random, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Hmac(Uint32 session_handle, request_type request_type, HashType hash_type,
                            Uint64 key_handle, Uint16 message_length, Uint8 *message, Uint8 *hmac,
                            Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Hash(Uint32 session_handle, request_type request_type, HashType hash_type,
                            Uint16 message_length, Uint8 *message, Uint8 *hash, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2HashStart(Uint32 session_handle, request_type request_type,
                                 Uint64 context_handle, HashType hash_type, Uint16 message_length,
                                 Uint8 *message, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2HashUpdate(Uint32 session_handle, request_type request_type,
                                  Uint64 context_handle, HashType hash_type, Uint16 message_length,
                                  Uint8 *message, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2HashFinish(Uint32 session_handle, request_type request_type,
                                  Uint64 context_handle, HashType hash_type, Uint16 message_length,
                                  Uint8 *message, Uint8 *final_hash, Uint32 *request_id);

/* ---- 3DES and AES: CBC, ECB, CTR ----
 * length: the input bytes, at most 0x7FF0. iv (read only): 8 bytes for 3DES,
 * 16 for AES-CBC and AES-CTR; ECB takes none. output: CBC encryption rounds
 * up to whole blocks, so 3DES writes length rounded up to 8 bytes (so do its
 * ECB and ByCipherMode calls, both ways) and AES-CBC encryption length
 * rounded up to 16; the 3DES CBC decryption, AES decryption, AES-ECB and CTR
 * write length bytes. AES-CBC decryption (Qel2DecryptAes, Qel2DecryptAes2)
 * takes whole 16-byte blocks only. The "2" variants read *output_len_ptr as
 * the room in output and never write it. */
#define QEL2_CIPHER_FN(name)                                                               \
  QEL2_EXPORT Uint32 name(Uint32 session_handle, request_type request_type, Uint16 length, \
                          Uint8 *input, Uint8 *output, Uint8 *iv, Uint64 key_handle,       \
                          Uint32 *request_id)
QEL2_CIPHER_FN(Qel2Encrypt3Des);
QEL2_CIPHER_FN(Qel2Decrypt3Des);
QEL2_CIPHER_FN(Qel2EncryptAes);
QEL2_CIPHER_FN(Qel2DecryptAes);
QEL2_CIPHER_FN(Qel2EncryptAesCtr);
QEL2_CIPHER_FN(Qel2DecryptAesCtr);
QEL2_CIPHER_FN(Qel2Encrypt3DesCBC);
QEL2_CIPHER_FN(Qel2Decrypt3DesCBC);
QEL2_CIPHER_FN(Qel2EncryptAesCBC);
QEL2_CIPHER_FN(Qel2DecryptAesCBC);
#undef QEL2_CIPHER_FN

#define QEL2_CIPHER2_FN(name)                                                              \
  QEL2_EXPORT Uint32 name(Uint32 session_handle, request_type request_type, Uint16 length, \
                          Uint8 *input, Uint8 *output, Ulong *output_len_ptr, Uint8 *iv,   \
                          Uint64 key_handle, Uint32 *request_id)
QEL2_CIPHER2_FN(Qel2Encrypt3Des2);
QEL2_CIPHER2_FN(Qel2Decrypt3Des2);
QEL2_CIPHER2_FN(Qel2EncryptAes2);
QEL2_CIPHER2_FN(Qel2DecryptAes2);
#undef QEL2_CIPHER2_FN

#define QEL2_CIPHER_MODE_FN(name, mode)                                                    \
  QEL2_EXPORT Uint32 name(Uint32 session_handle, request_type request_type, Uint16 length, \
                          Uint8 *input, Uint8 *output, CipherMode mode, Uint8 *iv,         \
                          Uint64 key_handle, Uint32 *request_id)
QEL2_CIPHER_MODE_FN(Qel2Encrypt3DesByCipherMode, des_mode);
QEL2_CIPHER_MODE_FN(Qel2Decrypt3DesByCipherMode, des_mode);
QEL2_CIPHER_MODE_FN(Qel2EncryptAesByCipherMode, aes_mode);
QEL2_CIPHER_MODE_FN(Qel2DecryptAesByCipherMode, aes_mode);
#undef QEL2_CIPHER_MODE_FN

#define QEL2_CIPHER_ECB_FN(name)                                                           \
  QEL2_EXPORT Uint32 name(Uint32 session_handle, request_type request_type, Uint16 length, \
                          Uint8 *input, Uint8 *output, Uint64 key_handle, Uint32 *request_id)
QEL2_CIPHER_ECB_FN(Qel2Encrypt3DesECB);
QEL2_CIPHER_ECB_FN(Qel2Decrypt3DesECB);
QEL2_CIPHER_ECB_FN(Qel2EncryptAesECB);
QEL2_CIPHER_ECB_FN(Qel2DecryptAesECB);
#undef QEL2_CIPHER_ECB_FN

/* ---- AES-GCM ----
 * iv: 16 bytes, read and written: it carries a 12-byte IV in its first 12
 * bytes, and encryption overwrites all 16 with the IV the HSM used, so a
 * 12-byte array is too small. aad: aad_len bytes, read only. input and
 * output: length bytes (at most 0x7FF0; 0 authenticates the aad alone).
 * Encryption writes a 16-byte tag; decryption reads tag_length bytes (4 to
 * 16, a multiple of 4), and its output must not be used unless it returns 0.
 * The "2" variants read *output_len_ptr and *output_data_len as the room in
 * output and never write them. */
QEL2_EXPORT Uint32 Qel2EncryptAesGcm(Uint32 session_handle, request_type request_type, Uint8 *iv,
                                     Uint64 key_handle, Uint16 aad_len, Uint8 *aad, Uint16 length,
                                     Uint8 *input, Uint8 *output, Uint8 *tag, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2EncryptAesGcm2(Uint32 session_handle, request_type request_type, Uint8 *iv,
                                      Uint64 key_handle, Uint16 aad_len, Uint8 *aad, Uint16 length,
                                      Uint8 *input, Uint8 *output, Ulong *output_len_ptr,
                                      Uint8 *tag, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2DecryptAesGcm(Uint32 session_handle, request_type request_type, Uint8 *iv,
                                     Uint64 key_handle, Uint16 aad_len, Uint8 *aad, Uint16 length,
                                     Uint8 *input, Uint16 tag_length, Uint8 *tag, Uint8 *output,
                                     Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2DecryptAesGcm2(Uint32 session_handle, request_type request_type, Uint8 *iv,
                                      Uint64 key_handle, Uint16 aad_len, Uint8 *aad, Uint16 length,
                                      Uint8 *input, Uint16 tag_length, Uint8 *tag, Uint8 *output,
                                      Ulong *output_data_len, Uint32 *request_id);

/* ---- RSA PKCS#1 v1.5 ----
 * modlength: the modulus in bytes; result holds modlength bytes. The plain
 * decryptions put the 2-byte result length in *out_length as the HSM sends
 * it (big-endian). The "2" variants take the room in result through their
 * length pointer and write back the result's length (host order) when the
 * status is 0 or RET_RESULT_SIZE; a NULL result asks for the length only.
 * result_location RES_CTX keeps a decrypted result in the HSM context whose
 * handle the first 8 bytes of result hold. */
QEL2_EXPORT Uint32 Qel2Pkcs1v15Enc(Uint32 session_handle, request_type request_type,
                                   Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                   Uint16 datalength, Uint8 *data, Uint8 *result,
                                   Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v15CrtEnc(Uint32 session_handle, request_type request_type,
                                      Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                      Uint16 datalength, Uint8 *data, Uint8 *result,
                                      Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v15Enc2(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaBlockType block_type, Uint16 datalength,
                                    Uint8 *data, Uint8 *result, Ulong *result_len_ptr,
                                    Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v15CrtEnc2(Uint32 session_handle, request_type request_type,
                                       Uint64 key_handle, RsaBlockType block_type,
                                       Uint16 datalength, Uint8 *data, Uint8 *result,
                                       Ulong *result_len_ptr, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v15Dec(Uint32 session_handle, request_type request_type,
                                   Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                   Uint8 *data, Uint8 *result, Uint32 result_location,
                                   Uint16 *out_length, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v15CrtDec(Uint32 session_handle, request_type request_type,
                                      Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                      Uint8 *data, Uint8 *result, Uint32 result_loc,
                                      Uint16 *out_length, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v15Dec2(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                    Uint8 *data, Uint8 *result, Uint32 result_location,
                                    Uint16 *out_length, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v15CrtDec2(Uint32 session_handle, request_type request_type,
                                       Uint64 key_handle, RsaBlockType block_type, Uint16 modlength,
                                       Uint8 *data, Uint8 *result, Uint32 result_loc,
                                       Ulong *out_length_ptr, Uint32 *request_id);

/* ---- RSA PKCS#1 v2.2 and modular exponentiation ----
 * As v1.5 above. Qel2Pkcs1v22Dec writes modlength - 4 bytes of result and
 * the 4-byte message length as sent (big-endian) in *result_len; signatures
 * and r are modlength (mlen) bytes; mHashLen must be the hash type's size. */
QEL2_EXPORT Uint32 Qel2Pkcs1v22Enc(Uint32 session_handle, request_type request_type,
                                   Uint64 key_handle, RsaPaddingType padding_type,
                                   HashType hash_type, Qel2Bool isCRT, Uint16 modlength,
                                   Uint16 datalength, Uint8 *data, Uint8 *result,
                                   Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v22Enc2(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaPaddingType padding_type,
                                    HashType hash_type, Qel2Bool isCRT, Uint16 datalength,
                                    Uint8 *data, Uint8 *result, Ulong *result_len_ptr,
                                    Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v22Dec(Uint32 session_handle, request_type request_type,
                                   Uint64 key_handle, RsaPaddingType padding_type,
                                   HashType hash_type, Qel2Bool isCRT, Uint16 modlength,
                                   Uint8 *data, Uint8 *result, Uint32 *result_len,
                                   Uint32 result_location, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v22Dec2(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaPaddingType padding_type,
                                    HashType hash_type, Qel2Bool isCRT, Uint16 modlength,
                                    Uint8 *data, Uint8 *result, Ulong *result_len,
                                    Uint32 result_location, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v22Sign(Uint32 session_handle, request_type request_type,
                                    Uint64 key_handle, RsaPaddingType padding_type,
                                    HashType hash_type, Qel2Bool isCRT, Uint16 modlength,
                                    Uint16 mHashLen, Uint8 *mHash, Uint8 *pSignature,
                                    Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v22Sign2(Uint32 session_handle, request_type request_type,
                                     Uint64 key_handle, RsaPaddingType padding_type,
                                     HashType hash_type, Qel2Bool isCRT, Uint16 mHashLen,
                                     Uint8 *mHash, Uint8 *pSignature, Ulong *pSignature_len,
                                     Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v22Verify(Uint32 session_handle, request_type request_type,
                                      Uint64 key_handle, RsaPaddingType padding_type,
                                      HashType hash_type, Uint16 modlength, Uint16 mHashLen,
                                      Uint8 *mHash, Uint8 *pSignature, Uint8 *pDecSignature,
                                      Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2Pkcs1v22Verify2(Uint32 session_handle, request_type request_type,
                                       Uint64 key_handle, RsaPaddingType padding_type,
                                       HashType hash_type, Uint16 modlength, Uint16 mHashLen,
                                       Uint8 *mHash, Uint8 *pSignature, Uint8 *pDecSignature,
                                       Ulong *pDecSign_len, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ModExp(Uint32 session_handle, request_type request_type, Uint16 alen,
                              Uint8 *a, Uint16 elen, Uint8 *e, Uint16 mlen, Uint8 *m, Uint8 *r,
                              Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ModExpCrt(Uint32 session_handle, request_type request_type, Uint16 alen,
                                 Uint8 *a, Uint16 crt_len, Uint8 *crt_components, Uint16 mlen,
                                 Uint8 *m, Uint8 *r, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ModExpWithKeyOnHSM(Uint32 session_handle, request_type request_type,
                                          Uint64 key_handle, Qel2Bool isCRT, Uint16 alen, Uint8 *a,
                                          Uint16 mlen, Uint8 *r, Uint32 *request_id);

/* ---- RC4 with its state in an HSM context ---- */
QEL2_EXPORT Uint32 Qel2InitializeRc4(Uint32 session_handle, request_type request_type,
                                     Uint64 context_handle, Uint64 key_handle, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2EncryptRc4(Uint32 session_handle, request_type request_type,
                                  Uint64 context_handle, ContextUpdate context_update,
                                  Uint16 length, Uint8 *input, Uint8 *output, Uint32 *request_id);

/* ---- end-to-end record tunnel ---- */
QEL2_EXPORT Uint32 Qel2E2ESubmitRecord(Uint32 session_handle, request_type request_type,
                                       Uint8 *host_write_seq, Uint8 *host_inp_record,
                                       Uint16 inp_record_sz, Uint8 *fw_write_seq,
                                       Uint8 *fw_outp_record, Uint16 outp_record_sz, Uint32 timeout,
                                       Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2E2ESubmitRecordErr(Uint32 session_handle, request_type request_type,
                                          Uint8 *host_write_seq, Uint8 *host_inp_record,
                                          Uint16 inp_record_sz, Uint8 *fw_write_seq,
                                          Uint8 *fw_outp_record, Uint16 outp_record_sz,
                                          Uint8 *err_info, Uint16 *updated_rlen, Uint32 timeout,
                                          Uint32 *request_id);

/* ---- elliptic-curve points and ECDSA ----
 * Primes, coordinates, r and s are get_prime_length(cid) bytes; k and the
 * hash have their own lengths (a hash longer than the prime is cut to the
 * prime's length). Qel2ECDSASign2 reads the prime length from *prime_len
 * and writes back the length of r (and of s). key_handle_le: the key
 * object's handle, as for the other calls. */
QEL2_EXPORT Uint32 Qel2PointAdd(Uint32 session_handle, request_type request_type, CurveId cid,
                                Uint8 *prime, Uint8 *p1x, Uint8 *p1y, Uint8 *p2x, Uint8 *p2y,
                                Uint8 *p3x, Uint8 *p3y, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2PointDouble(Uint32 session_handle, request_type request_type, CurveId cid,
                                   Uint8 *prime, Uint8 *p1x, Uint8 *p1y, Uint8 *p2x, Uint8 *p2y,
                                   Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2PointMul(Uint32 session_handle, request_type request_type, CurveId cid,
                                Uint8 *prime, Uint8 *scalar, Uint32 scalar_length, Uint8 *p1x,
                                Uint8 *p1y, Uint8 *p2x, Uint8 *p2y, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2PointMulWithScalarOnHSM(Uint32 session_handle, request_type request_type,
                                               CurveId cid, Uint8 *prime, Uint64 key_handle_le,
                                               Uint8 *p1x, Uint8 *p1y, Uint8 *p2x, Uint8 *p2y,
                                               Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ECDSASign(Uint32 session_handle, request_type request_type, CurveId cid,
                                 Uint64 key_handle_le, Uint8 *k, Uint16 ulKLen, Uint8 *pHash,
                                 Uint16 ulHashLen, Uint8 *r, Uint8 *s, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ECDSASign2(Uint32 session_handle, request_type request_type,
                                  Uint64 key_handle_le, Uint8 *k, Uint16 *prime_len, Uint8 *pHash,
                                  Uint16 ulHashLen, Uint8 *r, Uint8 *s, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ECDSAVerify2(Uint32 session_handle, request_type request_type,
                                    Uint16 prime_length, Uint64 key_handle_le, Uint8 *pHash,
                                    Uint16 ulHashLen, Uint8 *r, Uint8 *s,
                                    Uint8 key_operation_checks_only, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ECDSAVerify(Uint32 session_handle, request_type request_type, CurveId cid,
                                   Uint8 *Qx, Uint8 *Qy, Uint8 *pHash, Uint16 ulHashLen, Uint8 *r,
                                   Uint8 *s, Uint32 *request_id);

QEL2_EXTERN_C_END

#endif
