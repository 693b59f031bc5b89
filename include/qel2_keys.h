/* New keys on the HSM: secret keys, password-based 3DES keys, RSA, DSA and
 * EC key pairs, public key objects from their components, and SP 800-108
 * counter-mode key derivation.
 *
 * Every function returns a 32-bit status (0 on success). The records below
 * describe the bytes as they travel: every integer field is big-endian.
 *
 * The arguments the generation and creation calls share:
 * - ucKeyLocation: STORAGE_RAM (0, a session object) or STORAGE_FLASH (1, a
 *   token object), the KeyLocation values of qel2_template.h; new keys take
 *   one of these two.
 * - ulCurveID: the curve of an EC key as an OpenSSL curve number, 415 for
 *   P-256 (NID_X9_62_prime256v1), 715 P-384, 716 P-521, 714 secp256k1. The
 *   CurveId indices of qel2_crypto.h are for the raw point and ECDSA calls:
 *   P256 (2) names no curve here, and the HSM refuses the key with
 *   RET_ATTRIBUTE_VALUE_INVALID (0xAA).
 * - IDs, labels, templates, passwords and salts: a pointer and a length in
 *   bytes, read only. Modulus and prime lengths are bits where the name says
 *   InBits.
 * - pAttrObj with ulAttrLen (optional; asked for only when both are given):
 *   *ulAttrLen in, the room in pAttrObj; out, the length of the new objects'
 *   attributes. When they do not fit, the call returns ERR_BUFFER_TOO_SMALL,
 *   and the key exists: its handles are stored.
 * - keygenattest, attest_info: NULL, or room for the 952-byte KeyGenAttest.
 * - request_id: may be NULL; these calls block. */
#ifndef QEL2_KEYS_H
#define QEL2_KEYS_H

#include "qel2_defs.h"
#include "qel2_records.h"
#include "qel2_template.h"

QEL2_EXTERN_C_BEGIN

/* ---- generation mechanisms ---- */
#define QEL2_MECH_GENERIC_SECRET_KEY_GEN 848u
#define QEL2_MECH_RC4_KEY_GEN 272u
#define QEL2_MECH_DES3_KEY_GEN 305u
#define QEL2_MECH_AES_KEY_GEN 4224u
#define QEL2_MECH_PBE_SHA1_DES3_EDE_CBC 0x8203u
#define QEL2_MECH_PBE_SHA1_DES3_EDE_CBC_OLD 0x820Du
#define QEL2_MECH_RSA_KEY_PAIR_GEN 10u
#define QEL2_MECH_DSA_KEY_PAIR_GEN 16u
#define QEL2_MECH_EC_KEY_PAIR_GEN 4160u

/* The common-flags value that asks for the new objects' attributes
 * (get_new_attrs = 1). */
#define QEL2_GET_NEW_ATTRS 0x100u

/* ---- records ---- */

/* header.reserved[0] = 1 and header.commonFlags = QEL2_GET_NEW_ATTRS when the
 * new object's attributes are asked for. */
typedef struct GenerateKeyCommand {
  CommandHeaderWithSession header;
  Uint32 ulGescMechCode;
} GenerateKeyCommand;
QEL2_STATIC_ASSERT(sizeof(GenerateKeyCommand) == 24, "GenerateKeyCommand is 24 bytes");

typedef struct GenerateKeyResponse {
  ResponseHeader header;
  Uint64 ulNewKeyHandle;
} GenerateKeyResponse;
QEL2_STATIC_ASSERT(sizeof(GenerateKeyResponse) == 24, "GenerateKeyResponse is 24 bytes");
QEL2_STATIC_ASSERT(offsetof(GenerateKeyResponse, ulNewKeyHandle) == 16, "ulNewKeyHandle at 16");

typedef struct GenerateKeyPairCommand {
  CommandHeaderWithSession header;
  Uint32 ulGescMechCode;
  Uint16 obj_offset[2]; /* both 0 */
} GenerateKeyPairCommand;
QEL2_STATIC_ASSERT(sizeof(GenerateKeyPairCommand) == 28, "GenerateKeyPairCommand is 28 bytes");

/* One key of a key-generation attestation, as the HSM writes it. */
typedef struct KeyInfoForAttest {
  Uint64 handle;
  Uint32 mod_bits;
  Uint32 mod_size;
  Uint32 crt_size;
  Uint32 size;
  Uint8 class_code;
  Uint8 type;
  Uint8 wrap;
  Uint8 unwrap;
  Uint8 is_private;
  Uint8 encrypt;
  Uint8 decrypt;
  Uint8 sign;
  Uint8 verify;
  Uint8 local;
  Uint8 sensitive;
  Uint8 extractable;
  Uint8 status;
  Int8 num_sessns;
  Int8 num_users;
  Uint8 label[128];
  Uint8 id[128];
  Uint8 tombstoned;
  Uint32 exp_len;
  Uint32 m_value;
  Uint32 nodeid;
  Int16 users[8];
  Uint8 kcv[8];
  Uint32 rsvd;
} KeyInfoForAttest;
QEL2_STATIC_ASSERT(sizeof(KeyInfoForAttest) == 336, "KeyInfoForAttest is 336 bytes");
QEL2_STATIC_ASSERT(offsetof(KeyInfoForAttest, label) == 39, "label at 39");
QEL2_STATIC_ASSERT(offsetof(KeyInfoForAttest, exp_len) == 296, "exp_len at 296");
QEL2_STATIC_ASSERT(offsetof(KeyInfoForAttest, users) == 308, "users at 308");
QEL2_STATIC_ASSERT(offsetof(KeyInfoForAttest, rsvd) == 332, "rsvd at 332");

/* The key-generation attestation; handed to the caller unread. */
typedef struct KeyGenAttest {
  Uint32 op;
  Uint32 rsvd;
  Uint64 priv_key;
  Uint64 pub_key;
  KeyInfoForAttest key1_info_data;
  KeyInfoForAttest key2_info_data;
  Uint8 signature[256];
} KeyGenAttest;
QEL2_STATIC_ASSERT(sizeof(KeyGenAttest) == 952, "KeyGenAttest is 952 bytes");
QEL2_STATIC_ASSERT(offsetof(KeyGenAttest, key2_info_data) == 360, "key2_info_data at 360");
QEL2_STATIC_ASSERT(offsetof(KeyGenAttest, signature) == 696, "signature at 696");

typedef struct GenerateKeyPairResponse {
  ResponseHeader header;
  Uint64 ulPublicKey;
  Uint64 ulPrivateKey;
  KeyGenAttest key_attest;
} GenerateKeyPairResponse;
QEL2_STATIC_ASSERT(sizeof(GenerateKeyPairResponse) == 984, "GenerateKeyPairResponse is 984 bytes");
QEL2_STATIC_ASSERT(offsetof(GenerateKeyPairResponse, key_attest) == 32, "key_attest at 32");

typedef struct CreateObjectResponse {
  ResponseHeader header;
  Uint64 ulNewObjHandle;
} CreateObjectResponse;
QEL2_STATIC_ASSERT(sizeof(CreateObjectResponse) == 24, "CreateObjectResponse is 24 bytes");

/* ---- key derivation (SP 800-108, counter mode) ---- */

typedef struct SP800_108_COUNTER_FORMAT {
  Uint8 bLittleEndian;
  Uint64 ulWidthInBits;
} SP800_108_COUNTER_FORMAT;

typedef struct SP800_108_DKM_LENGTH_FORMAT {
  Uint32 dkmLengthMethod;
  Uint8 bLittleEndian;
  Uint64 ulWidthInBits;
} SP800_108_DKM_LENGTH_FORMAT;

/* Attribute types of the label and context in the parameter block. */
#define DERIVED_KEY_LABEL 1u
#define DERIVED_KEY_CONTEXT 2u
/* The parameter block: 48 bytes plus label and context, at most this many. */
#define QEL2_KDF_PARAMS_MAX 9000u
#define QEL2_KDF_PARAMS_FIXED 48u

typedef struct DeriveSymKeyArgs {
  Uint32 ulSessionHandle;
  Uint64 hBaseKey;
  SP800_108_COUNTER_FORMAT counter;
  SP800_108_DKM_LENGTH_FORMAT dkm;
  uint32_t ulPrfType; /* passed to the HSM unchanged */
  Uint32 ulPrfLabelLen;
  Uint8 *prfLabel;
  Uint8 *prfCtx;
  Uint32 ulPrfCtxLen;
  Uint64 ulDerivedKeyHandle; /* out */
  Uint32 rsvd[4];
} DeriveSymKeyArgs;

/* The derived key's properties; the sharing lists are held in the record. */
#define QEL2_KEY_ARGS_MAX_SHARES 8
typedef struct KeyArgs {
  Uint8 *pKeyLabel;
  Uint8 *pKeyID;
  Uint32 ulKeyIDLen;
  Uint32 ulKeyLabelLen;
  Uint32 ulKeyLen;
  Uint32 ulKeyType;
  Uint32 ulMValue;
  Uint32 pSessions[QEL2_KEY_ARGS_MAX_SHARES];
  Uint16 pUsers[QEL2_KEY_ARGS_MAX_SHARES];
  Uint8 ucKeyLocation;
  Uint8 ucNumKeyOwners;
  Uint8 ucNumKeySessions;
  Uint8 bExtractable;
  Uint8 rsvd[936];
} KeyArgs;
QEL2_STATIC_ASSERT(sizeof(KeyArgs) == 1024, "KeyArgs is 1024 bytes");

typedef struct DeriveKeyRequest {
  CommandHeaderWithSession header;
  Uint32 prfType;
  Uint64 hBaseKey;
  Uint32 kdf_params_len;
  Uint32 rsvd;
} DeriveKeyRequest;
QEL2_STATIC_ASSERT(sizeof(DeriveKeyRequest) == 40, "DeriveKeyRequest is 40 bytes");
QEL2_STATIC_ASSERT(offsetof(DeriveKeyRequest, hBaseKey) == 24, "hBaseKey at 24");

typedef struct DeriveKeyResponse {
  ResponseHeader header;
  Uint64 hDerivedKey;
} DeriveKeyResponse;
QEL2_STATIC_ASSERT(sizeof(DeriveKeyResponse) == 24, "DeriveKeyResponse is 24 bytes");

/* ---- secret keys ---- */

/* True when the size (bytes) suits the secret key type: generic secret 0-4096,
 * RC4 0-256, 3DES 24, AES 16, 24 or 32. */
QEL2_EXPORT Uint8 is_valid_symmetric_key_type_size(Uint32 ulKeyType, Uint32 ulKeySize);

QEL2_EXPORT Uint32 Qel2GenerateSymmetricKey(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                            Uint32 ulKeyLen, Uint32 *pSessions, Uint8 ulSessCount,
                                            Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue,
                                            Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                            Uint32 ulLabelLen, Uint8 ucKeyLocation,
                                            Uint64 *pulKeyHandle);
QEL2_EXPORT Uint32 Qel2GenerateSymmetricKey2(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                             Uint32 ulKeyLen, Uint32 *pSessions, Uint8 ulSessCount,
                                             Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue,
                                             Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                             Uint32 ulLabelLen, Uint8 ucKeyLocation,
                                             Uint64 *pulKeyHandle, Uint8 *pAttrObj,
                                             Uint32 *ulAttrLen);
QEL2_EXPORT Uint32 Qel2GenerateSymmetricKey3(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                             Uint32 ulKeyLen, Uint32 *pSessions, Uint8 ulSessCount,
                                             Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue,
                                             Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                             Uint32 ulLabelLen, Uint8 ucKeyLocation,
                                             Uint8 bExtractable, Uint64 *pulKeyHandle,
                                             KeyGenAttest *keygenattest, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2GenerateSymmetricKey4(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulKeyLen, Uint32 *pSessions, Uint8 ulSessCount,
    Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue, Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
    Uint32 ulLabelLen, Uint8 ucKeyLocation, Uint8 bExtractable, extendedTemplateArgs *extArgs,
    Uint64 *pulKeyHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen, KeyGenAttest *keygenattest,
    Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2GenerateSymmetricKeyPkcs(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                                Uint32 ulKeyLen, Uint32 ulTemplateSize,
                                                Uint8 *pTemplate, Uint64 *pulKeyHandle,
                                                Uint8 *pAttrObj, Uint32 *ulAttrLen);
QEL2_EXPORT Uint32 Qel2GenerateSymmetricKeyTemplate(Uint32 ulSessionHandle, Uint8 *pTemplate,
                                                    Uint32 ulTemplateSize, Uint64 *pulKey,
                                                    KeyGenAttest *attest_info);

/* ---- password-based 3DES keys (pIV is accepted and not used) ---- */

QEL2_EXPORT Uint32 Qel2GeneratePBEKey(Uint32 ulSessionHandle, Uint32 *pSessions, Uint8 ulSessCount,
                                      Uint16 *pUsers, Uint8 ulCount, Uint8 *pID, Uint32 ulIDLen,
                                      Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pPassword,
                                      Uint32 ulPasswordLen, Uint8 *pSaltValue,
                                      Uint32 ulSaltValueLen, Uint32 ulIterationCount, Uint8 *pIV,
                                      Uint8 ucKeyLocation, Uint8 bUseCKM_PBE_SHA1_DES3_EDE_CBC_OLD,
                                      Uint64 *pulKeyHandle);
QEL2_EXPORT Uint32 Qel2GeneratePBEKey2(Uint32 ulSessionHandle, Uint32 *pSessions, Uint8 ulSessCount,
                                       Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue, Uint8 *pID,
                                       Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                       Uint8 *pPassword, Uint32 ulPasswordLen, Uint8 *pSaltValue,
                                       Uint32 ulSaltValueLen, Uint32 ulIterationCount, Uint8 *pIV,
                                       Uint8 ucKeyLocation, Uint8 bUseCKM_PBE_SHA1_DES3_EDE_CBC_OLD,
                                       Uint8 bExtractable, Uint64 *pulKeyHandle,
                                       KeyGenAttest *keygenattest, Uint32 *request_id);

/* ---- key pairs ---- */

QEL2_EXPORT Uint32 Qel2GenerateKeyPair(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLenInBits, Uint32 ulPubExp,
    Uint32 ulCurveID, Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
    Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID, Uint32 ulIDLen,
    Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen, Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
    Uint8 ucKeyLocation, Uint64 *pulPublicKey, Uint64 *pulPrivateKey);
QEL2_EXPORT Uint32 Qel2GenerateKeyPair2(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                        Uint32 ulModLenInBits, Uint32 ulPubExp, Uint32 ulCurveID,
                                        Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen,
                                        Uint8 *pBase, Uint32 *pSessions, Uint8 ulSessCount,
                                        Uint16 *pUsers, Uint8 ulCount, Uint32 ulMValue, Uint8 *pID,
                                        Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                        Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                        Uint8 ucKeyLocation, Uint8 p_no, Uint64 *pulPublicKey,
                                        Uint64 *pulPrivateKey);
QEL2_EXPORT Uint32 Qel2GenerateKeyPair3(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                        Uint32 ulModLenInBits, Uint32 ulPubExp, Uint32 ulCurveID,
                                        Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen,
                                        Uint8 *pBase, Uint32 *pSessions, Uint8 ulSessCount,
                                        Uint16 *pUsers, Uint8 ulCount, Uint32 ulMValue, Uint8 *pID,
                                        Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                        Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                        Uint8 ucKeyLocation, Uint8 p_no, Uint64 *pulPublicKey,
                                        Uint64 *pulPrivateKey, Uint8 *pAttrObj, Uint32 *ulAttrLen);
QEL2_EXPORT Uint32 Qel2GenerateKeyPair4(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLenInBits, Uint32 ulPubExp,
    Uint32 ulCurveID, Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
    Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint32 ulMValue,
    Uint8 *pID, Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen, Uint8 *pPrivKeyLabel,
    Uint32 ulPrivLabelLen, Uint8 ucKeyLocation, Uint8 bExtractable, Uint8 p_no,
    Uint64 *pulPublicKey, Uint64 *pulPrivateKey, KeyGenAttest *keygenattest, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2GenerateKeyPair5(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLenInBits, Uint32 ulPubExp,
    Uint32 ulCurveID, Uint32 ulPrimeLenInBits, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
    Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint32 ulMValue,
    Uint8 *pID, Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen, Uint8 *pPrivKeyLabel,
    Uint32 ulPrivLabelLen, Uint8 ucKeyLocation, Uint8 bExtractable, extendedTemplateArgs *extArgs,
    Uint8 p_no, Uint64 *pulPublicKey, Uint64 *pulPrivateKey, Uint8 *pAttrObj, Uint32 *ulAttrLen,
    KeyGenAttest *keygenattest, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2RSAGenKeyPair(Uint32 ulSessionHandle, Uint32 ulModLenInBits, Uint32 ulPubExp,
                                     Uint8 *pID, Uint32 ulIDLen, Uint8 *pPubKeyLabel,
                                     Uint32 ulPubLabelLen, Uint8 *pPrivKeyLabel,
                                     Uint32 ulPrivLabelLen, Uint8 ucKeyLocation,
                                     Uint64 *pulPublicKey, Uint64 *pulPrivateKey);
QEL2_EXPORT Uint32 Qel2DSAGenKeyPair(Uint32 ulSessionHandle, Uint32 ulModLenInBits, Uint8 *pID,
                                     Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                     Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                     Uint8 ucKeyLocation, Uint64 *pulPublicKey,
                                     Uint64 *pulPrivateKey);
QEL2_EXPORT Uint32 Qel2ECCGenKeyPair(Uint32 ulSessionHandle, Uint32 ulCurveID, Uint8 *pID,
                                     Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                     Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                     Uint8 ucKeyLocation, Uint64 *pulPublicKey,
                                     Uint64 *pulPrivateKey);
QEL2_EXPORT Uint32 Qel2GenerateKeyPairPkcs(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                           Uint32 ulModLenInBits, Uint32 ulPubExp,
                                           Uint32 ulPubTemplateSize, Uint8 *pPubTemplate,
                                           Uint32 ulPrivTemplateSize, Uint8 *pPrivTemplate,
                                           Uint8 p_no, Uint64 *pulPublicKey, Uint64 *pulPrivateKey,
                                           Uint8 *pAttrObj, Uint32 *ulAttrLen);
QEL2_EXPORT Uint32 Qel2GenerateKeyPairTemplate(Uint32 ulSessionHandle, Uint8 *pPubTemplate,
                                               Uint32 ulPubTemplateSize, Uint8 *pPriTemplate,
                                               Uint32 ulPriTemplateSize, Uint8 p_no,
                                               Uint64 *pulPublicKey, Uint64 *pulPrivateKey,
                                               KeyGenAttest *attest_info);

/* ---- public key objects (p_no is accepted and not used) ---- */

QEL2_EXPORT Uint32 Qel2CreatePublicKey(Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen,
                                       Uint32 ulPubExp, Uint32 ulCurveID, Uint32 ulPrimeLen,
                                       Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
                                       Uint8 *pKeyData, Uint32 ulKeyDataLen, Uint32 *pSessions,
                                       Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                       Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                       Uint8 ucKeyLocation, Uint64 *pulHandle);
QEL2_EXPORT Uint32 Qel2CreatePublicKey2(Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen,
                                        Uint32 ulPubExp, Uint32 ulCurveID, Uint32 ulPrimeLen,
                                        Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase,
                                        Uint8 *pKeyData, Uint32 ulKeyDataLen, Uint32 *pSessions,
                                        Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount,
                                        Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                        Uint32 ulLabelLen, Uint8 ucKeyLocation, Uint8 p_no,
                                        Uint64 *pulHandle);
QEL2_EXPORT Uint32 Qel2CreatePublicKey3(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen, Uint32 ulPubExp, Uint32 ulCurveID,
    Uint32 ulPrimeLen, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase, Uint8 *pKeyData,
    Uint32 ulKeyDataLen, Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount,
    Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 ucKeyLocation, Uint8 p_no,
    Uint64 *pulHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2CreatePublicKey4(
    Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen, Uint32 ulPubExp, Uint32 ulCurveID,
    Uint32 ulPrimeLen, Uint8 *pPrime, Uint32 ulBaseLen, Uint8 *pBase, Uint8 *pKeyData,
    Uint32 ulKeyDataLen, Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount,
    Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 ucKeyLocation,
    extendedTemplateArgs *extArgs, Uint8 p_no, Uint64 *pulHandle, Uint8 *pAttrObj,
    Uint32 *ulAttrLen, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2CreateRSAPublicKey(Uint32 ulSessionHandle, Uint8 *pModulus, Uint32 ulModLen,
                                          Uint32 ulPubExp, Uint8 *pID, Uint32 ulIDLen,
                                          Uint8 *pLabel, Uint32 ulLabelLen, Uint8 ucKeyLocation,
                                          Uint64 *pulHandle);
/* Refused with ERR_INVALID_INPUT after the label-length check: nothing is sent. */
QEL2_EXPORT Uint32 Qel2ImportRSAPublicKey(Uint32 ulSessionHandle, Uint8 *pID, Uint32 ulIDLen,
                                          Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pKeyData,
                                          Uint32 ulKeyDataLen, Uint8 ucKeyLocation,
                                          Uint64 *pulHandle);
QEL2_EXPORT Uint32 Qel2CreatePublicKeyPkcs(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                           Uint32 ulModLen, Uint32 ulPubExp, Uint8 *pKeyData,
                                           Uint32 ulKeyDataLen, Uint32 ulPubTemplateSize,
                                           Uint8 *pPubTemplate, Uint8 p_no, Uint64 *pulHandle,
                                           Uint8 *pAttrObj, Uint32 *ulAttrLen);
QEL2_EXPORT Uint32 Qel2CreatePublicKeyTemplate(Uint32 ulSessionHandle, Uint8 *keyData,
                                               Uint32 keyDataLen, Uint8 *pPubTemplate,
                                               Uint32 ulPubTemplateSize, Uint64 *pulHandle);

/* ---- key derivation ---- */

QEL2_EXPORT Uint32 Qel2DeriveKey(DeriveSymKeyArgs *pArgs, KeyArgs *pKeyArgs);
/* The caller's template is sent as it comes. */
QEL2_EXPORT Uint32 Qel2DeriveKeyHmacKdfpkcs(DeriveSymKeyArgs *pArgs, Uint8 *pTemplate,
                                            Uint32 ulTemplateSize, Uint32 ulAttributeCount);

QEL2_EXTERN_C_END

#endif
