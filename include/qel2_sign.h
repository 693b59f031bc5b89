/* Signing and verifying with key objects on the HSM, SSL contexts and
 * premaster secrets, ECDH into an SSL context, the EAP-FAST key operations
 * and FIPS random numbers.
 *
 * Every function returns a 32-bit status (0 on success) and is blocking.
 * The records below describe the bytes as they travel: every integer field
 * is big-endian. */
#ifndef QEL2_SIGN_H
#define QEL2_SIGN_H

#include "qel2_defs.h"
#include "qel2_records.h"
#include "qel2_transport.h"

QEL2_EXTERN_C_BEGIN

/* ---- sign and verify mechanisms (ulMech, sent unchanged) ---- */
typedef enum SignVerifyMech {
  MECH_SHA1_RSA_PKCS = 6,
  MECH_SHA256_RSA_PKCS = 64,
  MECH_SHA384_RSA_PKCS = 65,
  MECH_SHA512_RSA_PKCS = 66,
  MECH_SHA224_RSA_PKCS = 70,
  MECH_SHA1_RSA_PKCS_PSS = 14,
  MECH_SHA256_RSA_PKCS_PSS = 67,
  MECH_SHA384_RSA_PKCS_PSS = 68,
  MECH_SHA512_RSA_PKCS_PSS = 69,
  MECH_SHA224_RSA_PKCS_PSS = 71,
  MECH_DSA_SHA1 = 18,
  MECH_DSA_SHA224 = 19,
  MECH_DSA_SHA256 = 20,
  MECH_DSA_SHA384 = 21,
  MECH_DSA_SHA512 = 22,
  MECH_ECDSA_SHA1 = 4162,
  MECH_ECDSA_SHA256 = 4163,
  MECH_ECDSA_SHA384 = 4164,
  MECH_ECDSA_SHA512 = 4165,
  MECH_ECDSA_SHA224 = 4166
} SignVerifyMech;

/* ---- records ---- */

/* header.ulFlags = dropInternalHashing (the message is then the digest). */
typedef struct SignCommand {
  CommandHeaderWithSession header;
  Uint32 ulMsgLen;
  Uint32 ulPad;
  Uint32 ulMechCode;
  Uint64 ulPrivateKey;
} SignCommand;
QEL2_STATIC_ASSERT(sizeof(SignCommand) == 40, "SignCommand is 40 bytes");

typedef struct VerifyCommand {
  CommandHeaderWithSession header;
  Uint32 ulSigLen;
  Uint32 ulMsgLen;
  Uint32 ulMechCode;
  Uint32 ulPad;
  Uint32 ulKeyHandle; /* the low 32 bits of the public key's handle */
} VerifyCommand;
QEL2_STATIC_ASSERT(sizeof(VerifyCommand) == 40, "VerifyCommand is 40 bytes");

typedef StdResponse SignResponse; /* ulBufferSize: the signature length */
typedef StdResponse VerifyResponse;

typedef struct TlsEcdhCommand {
  CommandHeaderWithSession header;
  Uint32 ulCurveId;
  Uint32 ulPublicKeySize;
  Uint32 ulPrivateKeyHandle; /* low 32 bits */
} TlsEcdhCommand;
QEL2_STATIC_ASSERT(sizeof(TlsEcdhCommand) == 32, "TlsEcdhCommand is 32 bytes");

typedef struct EapFastExportSKSCommand {
  CommandHeaderWithSession header;
  Uint32 ulMasterSecretOffset;
  Uint32 ulMasterSecretLen;
  Uint32 ulWrapperKeyHandle;
  Uint32 ulKeyMaterialSize;
  Uint32 __ulPad;
  Uint64 ulIV;
} EapFastExportSKSCommand;
QEL2_STATIC_ASSERT(sizeof(EapFastExportSKSCommand) == 48, "EapFastExportSKSCommand is 48 bytes");

typedef struct EapFastPacHandshakeCommand {
  CommandHeaderWithSession header;
  Uint32 ulPacKeyOffset;
  Uint32 ulPacKeyLen;
  Uint32 ulWrapperKeyHandle;
  Uint32 ulPacOpaqueSize;
  Uint32 ulKeyMaterialSize;
  Uint64 ulIV;
} EapFastPacHandshakeCommand;
QEL2_STATIC_ASSERT(sizeof(EapFastPacHandshakeCommand) == 48,
                   "EapFastPacHandshakeCommand is 48 bytes");

typedef StdResponse TlsEcdhResponse;
typedef StdResponse EapFastExportSKSResponse;
typedef StdResponse EapFastPacHandshakeResponse;

typedef struct AllocSSLContextResponse {
  ResponseHeader header;
  Uint64 context_handle;
} AllocSSLContextResponse;
QEL2_STATIC_ASSERT(sizeof(AllocSSLContextResponse) == 24, "AllocSSLContextResponse is 24 bytes");

typedef StdResponse FreeSSLContextResponse;

/* ssl_version: major version in the first byte, minor in the second. */
typedef struct GeneratePMKCommand {
  CommandHeaderWithSession header;
  Uint16 ssl_version;
  Uint16 pmk_len;
} GeneratePMKCommand;
QEL2_STATIC_ASSERT(sizeof(GeneratePMKCommand) == 24, "GeneratePMKCommand is 24 bytes");

typedef StdResponse GeneratePMKResponse;

/* ---- signing and verifying (the message: at most 8152 bytes; message and
 * signature together for verifying) ---- */

/* *sig_len: the capacity of sig on entry, the signature length on return
 * (also the length needed with RET_RESULT_SIZE 183). sig must not be NULL
 * (ERR_INVALID_INPUT, nothing sent): a buffer too short asks for the length.
 * The same holds for Qel2Sign2, Qel2RsaSign, Qel2DsaSign and Qel2EcdsaSign. */
QEL2_EXPORT Uint32 Qel2Sign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                            Uint32 *sig_len, Uint64 key_handle, Uint32 ulMech);
QEL2_EXPORT Uint32 Qel2Sign2(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                             Uint32 *sig_len, Uint64 key_handle, Uint32 ulMech,
                             Uint32 dropInternalHashing);
QEL2_EXPORT Uint32 Qel2RsaSign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                               Uint32 *sig_len, Uint64 ulKeyHandle);
QEL2_EXPORT Uint32 Qel2DsaSign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                               Uint32 *sig_len, Uint64 ulKeyHandle);
QEL2_EXPORT Uint32 Qel2EcdsaSign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                                 Uint32 *sig_len, Uint64 ulKeyHandle);

/* The result is the verdict: 0 for a valid signature. */
QEL2_EXPORT Uint32 Qel2Verify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                              Uint32 sig_len, Uint64 key_handle, Uint32 ulMech);
QEL2_EXPORT Uint32 Qel2Verify2(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                               Uint32 sig_len, Uint64 key_handle, Uint32 ulMech,
                               Uint32 dropInternalHashing);
QEL2_EXPORT Uint32 Qel2RsaVerify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                                 Uint32 sig_len, Uint64 ulKeyHandle);
QEL2_EXPORT Uint32 Qel2DsaVerify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                                 Uint32 sig_len, Uint64 ulKeyHandle);
QEL2_EXPORT Uint32 Qel2EcdsaVerify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                                   Uint32 sig_len, Uint64 ulKeyHandle);

/* ---- SSL contexts and premaster secrets ---- */

/* operation_mode and request_id are ignored: the request is always blocking. */
QEL2_EXPORT Uint32 Qel2AllocContext(Uint32 ulSessionHandle, OperationMode operation_mode,
                                    Uint64 *context_handle, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2AllocContext3(Uint32 ulSessionHandle, Uint64 *context_handle);
QEL2_EXPORT Uint32 Qel2AllocContextNew(Uint32 ulSessionHandle, Uint64 *context_handle);
QEL2_EXPORT Uint32 Qel2FreeContext(Uint32 ulSessionHandle, OperationMode operation_mode,
                                   Uint64 context_handle, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2FreeContextNew(Uint32 ulSessionHandle, Uint64 context_handle);
QEL2_EXPORT Uint32 Qel2FreeContext3(Uint32 ulSessionHandle, Uint64 context_handle);
/* With an event argument the transport status alone is returned. */
QEL2_EXPORT Uint32 Qel2FreeContextCli(Uint32 ulSessionHandle, Uint64 context_handle,
                                      void *buffer_ev);
/* secret receives 48 bytes; the HSM keeps them in the context too. */
QEL2_EXPORT Uint32 Qel2GeneratePremasterSecret(Uint32 ulSessionHandle, Uint64 ctx_ptr,
                                               Uint8 client_version_major,
                                               Uint8 client_version_minor, Uint8 *secret);

/* ---- ECDH into a context, EAP-FAST, FIPS random ---- */

/* The shared secret stays in the context. */
QEL2_EXPORT Uint32 Qel2Ecdh(Uint32 ulSessionHandle, Uint8 *pub_key, Uint32 pub_key_len,
                            Uint64 key_handle, Uint32 ulCurveID, Uint64 context_ptr);
/* The randoms are 48 bytes each; ucSessionKeySeed receives 56 bytes. */
QEL2_EXPORT Uint32 Qel2EapFastExportSks(Uint32 ulSessionHandle, Uint32 ulMasterSecretOffset,
                                        Uint32 ulMasterSecretLen, Uint32 ulTlsKeyMaterialSize,
                                        Uint8 *ucClientRandom, Uint8 *ucServerRandom,
                                        Uint8 *ucSessionKeySeed, Uint32 ulWrapperKeyHandle,
                                        Uint64 ulIV, Uint64 ulContextHandle);
QEL2_EXPORT Uint32 Qel2EapFastPacHs(Uint32 ulSessionHandle, Uint8 *ucPacOpaque,
                                    Uint32 ulPacOpaqueSize, Uint32 ulPacKeyOffset,
                                    Uint32 ulPacKeyLen, Uint32 ulKeyMaterialSize, Uint64 ulIV,
                                    Uint8 *ucClientRandom, Uint8 *ucServerRandom,
                                    Uint8 *ucSessionKeySeed, Uint32 ulWrapperKeyHandle,
                                    Uint64 ulContextHandle);
/* rand_len bytes from the HSM's FIPS generator; lengths above 65535 are
 * asked for in pieces. */
QEL2_EXPORT Uint32 Qel2GenerateFipsRandom(Uint32 ulSessionHandle, Uint8 *rand, Uint32 rand_len);

QEL2_EXTERN_C_END

#endif
