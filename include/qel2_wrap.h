/* Key wrap on the HSM: AES key wrap of bytes the caller holds, with an AES
 * key object that stays on the HSM, and the table of wrap mechanisms.
 *
 * Every function returns a 32-bit status (0 on success). The records below
 * describe the bytes as they travel: every integer field is big-endian. */
#ifndef QEL2_WRAP_H
#define QEL2_WRAP_H

#include "qel2_defs.h"
#include "qel2_records.h"
#include "qel2_template.h"

QEL2_EXTERN_C_BEGIN

/* ---- wrap mechanisms (32-bit ulMech values) ---- */
#define CRYPTO_MECH_RSA_PKCS_KEY_WRAP 1u /* sent as 9 with isPkcsPad */
#define CRYPTO_MECH_RSA_OAEP_KEY_WRAP 9u
#define CRYPTO_MECH_DES3_KEY_WRAP 310u
#define CRYPTO_MECH_RSA_AES_KEY_WRAP 4180u
#define CRYPTO_MECH_AES_CBC_PAD 4229u
#define CRYPTO_MECH_AES_GCM 4231u
#define CRYPTO_MECH_AES_KEY_WRAP 4240u          /* RFC 3394 */
#define CRYPTO_MECH_AES_KEY_WRAP_PAD 4241u      /* RFC 5649; the caller's IV must be zero */
#define CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD 4242u /* PKCS padding on the host, then RFC 3394 */

/* The fixed wrapping key every partition holds. */
#define QEL2_FIXED_WRAPPING_KEY 4u

/* ulFlag of the host-buffer wrap. */
#define QEL2_AES_UNWRAP 0u
#define QEL2_AES_WRAP 1u

/* The largest data a host-buffer wrap carries. */
#define QEL2_AES_WRAP_MAX_DATA 8192u

/* Opcode 227: the mechanism travels in header.ulFlags. */
typedef struct NistAesWrapUnwrapCommand {
  CommandHeaderWithSession header;
  Uint32 reserved;
  Uint64 ulKeyHandle;
  Uint32 ulFlag; /* 1 wrap, 0 unwrap */
  Uint32 ulBufferSize;
  Uint64 ulIV;
} NistAesWrapUnwrapCommand;
QEL2_STATIC_ASSERT(sizeof(NistAesWrapUnwrapCommand) == 48, "NistAesWrapUnwrapCommand is 48 bytes");

/* The RFC 3394 initial value A6 x 8, then eight zero bytes. */
QEL2_EXPORT extern const Uint8 wrap_iv[16];

/* IV length of a wrap mechanism (0 for numbers not in the table). */
QEL2_EXPORT Uint32 get_key_wrap_iv_len(Uint32 ulMech);
/* Initial value of a wrap mechanism: 0xA6A6A6A6A6A6A6A6 for 4240 and 4242,
 * 0xA65959A600000000 for 4241, 0 otherwise. */
QEL2_EXPORT Uint64 get_key_wrap_initial_value(Uint32 ulMech);

/* ---- host-buffer AES key wrap (uFlag 1 wrap, 0 unwrap) ----
 * A missing result buffer, or a capacity below the result length, stores the
 * length needed and returns ERR_BUFFER_TOO_SMALL without a wrap request. */

/* Mechanism 4241; pResultData must hold the whole result. */
QEL2_EXPORT Uint32 Qel2AesWrapUnwrapBuffer(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint8 *pData,
                                           Uint32 ulDataLen, Uint64 ulIV, Uint8 *pResultData,
                                           Uint8 uFlag);
QEL2_EXPORT Uint32 Qel2AesWrapUnwrapBuffer2(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                            Uint8 *pData, Uint32 ulDataLen, Uint64 ulIV,
                                            Uint8 *pResultData, Uint8 uFlag, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2AesWrapUnwrapBuffer3(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                            Uint8 *pData, Uint32 ulDataLen, Uint64 ulIV,
                                            Uint8 *pResultData, Uint32 *pulResultDataLen,
                                            Uint8 uFlag, Uint32 *request_id);
/* ulMech 4240, 4241 or 4242. */
QEL2_EXPORT Uint32 Qel2AesWrapUnwrapBuffer4(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                            Uint8 *pData, Uint32 ulDataLen, Uint64 ulIV,
                                            Uint8 *pResultData, Uint32 *pulResultDataLen,
                                            Uint8 uFlag, Uint32 ulMech, Uint32 *request_id);
/* pIV: 8 bytes, first byte first (RET_INVALID_INPUT when null). */
QEL2_EXPORT Uint32 Qel2WrapHostKey2(Uint32 ulSessionHandle, Uint8 *pKey, Uint32 ulKeyLen,
                                    Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                    Uint64 ulUnwrappingKeyHandle, Uint32 ulMech, Uint8 *pIV,
                                    Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2UnWrapHostKey2(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                      Uint32 ulWrappedKeyLen, Uint8 *pKey, Uint32 *pulKeyLen,
                                      Uint64 ulUnwrappingKeyHandle, Uint32 ulMech, Uint8 *pIV,
                                      Uint32 *request_id);
/* As the two above, for mechanisms 4241 and 4242 only. */
QEL2_EXPORT Uint32 Qel2ImportWrapKey(Uint32 ulSessionHandle, Uint8 *pKey, Uint32 ulKeyLen,
                                     Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                     Uint64 ulUnwrappingKeyHandle, Uint32 ulMech, Uint8 *pIV,
                                     Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ExportUnwrapKey(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                       Uint32 ulWrappedKeyLen, Uint8 *pKey, Uint32 *pulKeyLen,
                                       Uint64 ulUnwrappingKeyHandle, Uint32 ulMech, Uint8 *pIV,
                                       Uint32 *request_id);

/* ---- key wrap and export (opcode 225) ---- */

/* Form of a key going in or out: plain value or wrapped bytes (the RAW bit,
 * 2, is not sent). */
typedef enum InputType { PLAIN = 0, ENCRYPTED = 1, PLAIN_RAW = 2, ENCRYPTED_RAW = 3 } InputType;
typedef InputType OutputType;

/* IV, additional data and tag of the extended (AES-GCM) wrap and unwrap;
 * the caller owns it and the buffers it points to. */
typedef struct extendedArgs {
  Uint8 *pAad;
  Uint32 ulAadLen;
  Uint8 *pIV;
  Uint8 *pGcmTag;
  Uint8 IVLen;
  Uint8 GcmTagLen;
} extendedArgs;

/* commonFlags: the low byte holds the hash type (0xFF: none); isPkcsPad
 * marks mechanism 1, sent as 9. */
#define QEL2_WRAP_IS_PKCS_PAD 0x2000u

typedef struct WrapKeyCommand {
  CommandHeaderWithSession header;
  Uint32 ulGescMechCode;
  Uint64 ulWrappingKey;
  Uint64 ulKeyToWrap;
} WrapKeyCommand;
QEL2_STATIC_ASSERT(sizeof(WrapKeyCommand) == 40, "WrapKeyCommand is 40 bytes");

typedef struct WrapKeyResponse {
  ResponseHeader header;
  Uint32 ulKeyLen;
} WrapKeyResponse;
QEL2_STATIC_ASSERT(sizeof(WrapKeyResponse) == 20, "WrapKeyResponse is 20 bytes");

/* Wrapped key with template (unless bNoTemplate): attribute count and
 * template length T (host order, 32-bit each), the template, the wrapped
 * key. The length is in/out: capacity on entry, length written or needed. */
QEL2_EXPORT Uint32 Qel2WrapKey(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                               Uint64 ulKeyHandleToWrap, Uint8 *pWrappedKey,
                               Uint32 *pulWrappedKeyLen);
QEL2_EXPORT Uint32 Qel2WrapKey2(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen);
QEL2_EXPORT Uint32 Qel2WrapKey3(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                Uint32 ulFormat, Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen);
QEL2_EXPORT Uint32 Qel2ExportWrapKey(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                     Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                     Uint32 ulFormat, Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                     Uint8 bNoTemplate, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2WrapKey4(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                Uint32 ulFormat, Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                Uint8 bNoTemplate, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2WrapKeyNew(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                  Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                  Uint32 ulFormat, Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                  Uint8 bNoTemplate, Uint32 *request_id);
/* Mechanisms 4240, 4241, 4242, 4180, 1, 9 and 310 only. */
QEL2_EXPORT Uint32 Qel2WrapKey5(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                Uint32 hashType, Uint32 ulFormat, Uint8 *pWrappedKey,
                                Uint32 *pulWrappedKeyLen, Uint8 bNoTemplate, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2WrapKeyExtended(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                       Uint64 ulKeyHandleToWrap, Uint32 ulMech, Uint32 ulFormat,
                                       Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                       extendedArgs *pExtArgs);
/* AES-GCM (4231) returns the IV it used and the tag in pExtArgs' buffers. */
QEL2_EXPORT Uint32 Qel2WrapWithTemplateExtended(Uint32 ulSessionHandle, Uint8 bNoTemplate,
                                                OutputType KeyOutput, Uint32 ulMech,
                                                Uint64 ulWrappingKeyHandle,
                                                Uint64 ulKeyHandleToWrap, Uint8 *pWrappedKey,
                                                Uint32 *pulWrappedKeyLen, extendedArgs *pExtArgs,
                                                Uint32 *request_id);
/* The key's plain value: wrapped, then unwrapped with the same key (4241
 * and 4242 only). */
QEL2_EXPORT Uint32 Qel2ExportKey(Uint32 ulSessionHandle, Uint8 *pIV, Uint32 ulMech,
                                 Uint64 ulWrappingKeyHandle, Uint64 ulKeyHandleToWrap, Uint8 *pKey,
                                 Uint32 *pulKeyLen);
QEL2_EXPORT Uint32 Qel2ExportSymmetricKey(Uint32 ulSessionHandle, Uint64 ulKeyHandleToWrap,
                                          Uint64 ulWrappingKeyHandle, Uint8 *pKey,
                                          Uint32 *pulKeyLen, Uint64 ulIV);
QEL2_EXPORT Uint32 Qel2ExportPrivateKey(Uint32 ulSessionHandle, Uint64 ulKeyHandleToWrap,
                                        Uint64 ulWrappingKeyHandle, Uint8 *pKey, Uint32 *pulKeyLen,
                                        Uint64 ulIV);

/* ---- key unwrap (opcode 226) ----
 * A new key object from a wrapped key and an attribute template. PLAIN and
 * PLAIN_RAW input is wrapped on the HSM with the unwrapping key first; the
 * RAW bit travels in header.ulFlags. The new handle is written also when
 * the unwrap fails (0 without an answer). With attestation, a session
 * object (location 0) is marked by bit 0x02 of byte 21 of the attested
 * copy. Location: 0 session object, 1 token object, 255 not given. */

typedef struct UnwrapKeyCommand {
  CommandHeaderWithSession header; /* reserved[0] = 1 asks for the attributes */
  Uint32 ulGescMechCode;
  Uint64 ulUnwrappingKey;
  Uint32 pad_len;
  Uint32 padding;
} UnwrapKeyCommand;
QEL2_STATIC_ASSERT(sizeof(UnwrapKeyCommand) == 40, "UnwrapKeyCommand is 40 bytes");

typedef struct UnwrapKeyResponse {
  ResponseHeader header;
  Uint64 ulKeyHandle;
} UnwrapKeyResponse;
QEL2_STATIC_ASSERT(sizeof(UnwrapKeyResponse) == 24, "UnwrapKeyResponse is 24 bytes");

/* The caller's template as given; IV, AES-GCM tag and additional data from
 * pExtArgs. */
QEL2_EXPORT Uint32 Qel2UnwrapWithTemplateExtended(
    Uint32 ulSessionHandle, InputType KeyInput, Uint32 ulMech, Uint8 *pKey, Uint32 ulKeyLen,
    Uint8 *pTemplate, Uint32 ulTemplateSize, Uint32 ulAttributeCount, Uint64 ulUnwrappingKeyHandle,
    Uint64 *pulKeyHandleUnwrapped, Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint8 *attestedResponse,
    Uint32 *attestedLength, Uint8 ucKeyLocation, extendedArgs *pExtArgs, Uint32 *request_id);
/* The caller's template, checked in unwrap mode (its count is recounted);
 * mechanism 4241 with an 8-byte IV. */
QEL2_EXPORT Uint32 Qel2UnWrapWithTemplate(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                          Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                          Uint8 *pIV, Uint8 *pTemplate, Uint32 ulTemplateSize,
                                          Uint32 ulAttributeCount, Uint64 *pulKeyHandleUnwrapped,
                                          Uint8 *attestedResponse, Uint32 *attestedLength,
                                          Uint32 *request_id, Uint8 ucKeyLocation);
/* Mechanisms 1, 9, 306, 307, 309, 310, 4180, 4231, 4240, 4241 and 4242;
 * the caller's IV, IV length and hash. */
QEL2_EXPORT Uint32 Qel2UnWrapWithTemplate2(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                           Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                           Uint8 *pIV, Uint32 ulIvLen, Uint32 ulMech,
                                           Uint32 hashType, Uint8 *pTemplate, Uint32 ulTemplateSize,
                                           Uint32 ulAttributeCount, Uint64 *pulKeyHandleUnwrapped,
                                           Uint8 *attestedResponse, Uint32 *attestedLength,
                                           Uint32 *request_id, Uint8 ucKeyLocation);
QEL2_EXPORT Uint32 Qel2UnWrapWithTemplate3(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                           Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                           Uint8 *pIV, Uint32 ulIvLen, Uint32 ulMech,
                                           Uint32 hashType, Uint8 *pTemplate, Uint32 ulTemplateSize,
                                           Uint32 ulAttributeCount, Uint64 *pulKeyHandleUnwrapped,
                                           Uint8 *attestedResponse, Uint32 *attestedLength,
                                           Uint32 *request_id, Uint8 *pAttrObj, Uint32 *ulAttrLen,
                                           Uint8 ucKeyLocation);

/* From a wrapped key with template (decodeTemplate; a refused blob is
 * ERR_INVALID_INPUT). Qel2UnWrapKey: a token object, 4241 with a zero IV. */
QEL2_EXPORT Uint32 Qel2UnWrapKey(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                 Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint64 *pulKeyHandle);
/* Always 4241 with the caller's 8-byte IV; ulMech only selects the key-data
 * rule of the decoding. */
QEL2_EXPORT Uint32 Qel2UnWrapKey2(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                  Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint8 ucKeyLocation, Uint64 *pulKeyHandle);
QEL2_EXPORT Uint32 Qel2UnWrapKey3(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                  Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint32 ulFormat, Uint8 ucKeyLocation,
                                  Uint64 *pulKeyHandle);
QEL2_EXPORT Uint32 Qel2UnWrapKeyNew(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                    Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 *pIV,
                                    Uint32 ulMech, Uint32 ulFormat, Uint8 ucKeyLocation,
                                    Uint64 *pulKeyHandle);
/* Mechanisms 4240, 4241, 4242, 4180, 1, 9 and 310 (tested after decoding). */
QEL2_EXPORT Uint32 Qel2UnWrapKey5(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                  Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint32 hashtype, Uint32 ulFormat,
                                  Uint8 ucKeyLocation, Uint64 *pulKeyHandle,
                                  Uint8 *attestedResponse, Uint32 *attestedLength, Uint32 *req_id);
QEL2_EXPORT Uint32 Qel2UnWrapKeyExtended(Uint32 ulSessionHandle, Uint64 ulUnwrappingKeyHandle,
                                         Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint32 ulMech,
                                         Uint32 ulFormat, Uint8 ucKeyLocation, Uint64 *pulKeyHandle,
                                         Uint8 *attestedResponse, Uint32 *attestedLength,
                                         extendedArgs *pExtArgs, Uint32 *request_id);

/* An AES-wrapped key (4240, 4241, 4242) into a new object of the stated type,
 * size (0 for 4242) and modulus bits: the template from a wrapped key with
 * template (bTemplateExists; checked against the stated values) or built
 * from them and the label; OBJ_ATTR_VALUE_LEN with the stated size is added
 * when the template has none. The IV is 8 bytes (none: zeros). */
QEL2_EXPORT Uint32 Qel2UnWrapKeyWithSize(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                         Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                         Uint8 *pIV, Uint32 ulKeyType, Uint32 ulKeySize,
                                         Uint32 ulModLenInBits, Uint8 bTemplateExists,
                                         Uint8 *pLabel, Uint32 ulLabelLen, Uint64 *ulNewKey,
                                         Uint8 ucKeyLocation, Uint8 bExtractable, Uint32 ulMech,
                                         Uint32 *request_id);

/* ---- key import: an unwrap into a new object ----
 * Plain input (PLAIN, PLAIN_RAW) is wrapped on the HSM with the unwrapping
 * key first (4241 or 4242 only). The by-arguments forms build the template
 * (key types 0, 1, 3, 16, 18, 21, 31; a label "public" or "private" is
 * ERR_BAD_LABEL); the IV length is the mechanism's. */
QEL2_EXPORT Uint32 Qel2ImportKey(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                 Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                 Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                 Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                 Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pIV,
                                 Uint32 ulMech, Uint8 ucKeyLocation, Uint64 ulUnwrappingKeyHandle,
                                 Uint64 *pulKeyHandleUnwrapped);
QEL2_EXPORT Uint32 Qel2ImportKey2(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                  Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint8 ucKeyLocation, Uint64 ulUnwrappingKeyHandle,
                                  Uint64 *pulKeyHandleUnwrapped, Uint8 *pAttrObj,
                                  Uint32 *ulAttrLen);
QEL2_EXPORT Uint32 Qel2ImportKey3(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                  Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint8 ucKeyLocation, Uint64 ulUnwrappingKeyHandle,
                                  Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse,
                                  Uint32 *attestedLength);
QEL2_EXPORT Uint32 Qel2ImportKey4(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                  Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pIV,
                                  Uint32 ulMech, Uint8 ucKeyLocation, Uint64 ulUnwrappingKeyHandle,
                                  Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse,
                                  Uint32 *attestedLength, Uint8 bExtractable);
/* ulIVLen is not used: the mechanism's IV length is. */
QEL2_EXPORT Uint32 Qel2ImportKey5(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint32 ulMech, Uint8 *pIV, Uint32 ulIVLen, Uint8 *pKey,
                                  Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 *pID,
                                  Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                  Uint8 ucKeyLocation, extendedTemplateArgs *extArgs,
                                  Uint64 ulUnwrappingKeyHandle, Uint64 *pulKeyHandleUnwrapped,
                                  Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint8 *attestedResponse,
                                  Uint32 *attestedLength, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ImportKey6(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                  Uint32 ulMech, Uint8 *pIV, Uint32 ulIVLen, Uint8 *pKey,
                                  Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                  Uint32 ulModLenInBits, Uint32 ulCurveID, Uint32 *pSessions,
                                  Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount, Uint8 ulMValue,
                                  Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                  Uint8 ucKeyLocation, extendedTemplateArgs *extArgs,
                                  Uint64 ulUnwrappingKeyHandle, Uint64 *pulKeyHandleUnwrapped,
                                  Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint8 *attestedResponse,
                                  Uint32 *attestedLength, Uint32 *request_id);
/* Plain keys as token objects, 4241 with a zero IV; kek and its size are
 * not used. */
QEL2_EXPORT Uint32 Qel2ImportRSAPrivateKey(Uint32 ulSessionHandle, Uint8 *kek, Uint32 kek_size,
                                           Uint64 ulUnwrappingKeyHandle, Uint8 *pKey,
                                           Uint32 ulKeyLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                           Uint32 ulCrtLen, Uint32 ulPubExp,
                                           Uint64 *pulKeyHandleUnwrapped);
QEL2_EXPORT Uint32 Qel2ImportDSAPrivateKey(Uint32 ulSessionHandle, Uint8 *kek, Uint32 kek_size,
                                           Uint64 ulUnwrappingKeyHandle, Uint8 *pKey,
                                           Uint32 ulKeyLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                           Uint32 ulModLenInBits, Uint64 *pulKeyHandleUnwrapped);
QEL2_EXPORT Uint32 Qel2ImportECDSAPrivateKey(Uint32 ulSessionHandle, Uint8 *kek, Uint32 kek_size,
                                             Uint64 ulUnwrappingKeyHandle, Uint8 *pKey,
                                             Uint32 ulKeyLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                             Uint32 ulCurveID, Uint64 *pulKeyHandleUnwrapped);
QEL2_EXPORT Uint32 Qel2ImportSymmetricKey(Uint32 ulSessionHandle, Uint8 *pKek, Uint32 ulKekSize,
                                          Uint64 ulUnwrappingKeyHandle, Uint32 ulKeyType,
                                          Uint8 *pKey, Uint32 ulKeyLen, Uint8 *pLabel,
                                          Uint32 ulLabelLen, Uint64 *pulKeyHandleUnwrapped);
/* The caller's template, checked in unwrap mode (a failure is
 * ERR_INVALID_INPUT before any request). */
QEL2_EXPORT Uint32 Qel2ImportKeyTemplate(Uint32 ulSessionHandle, InputType keyInput, Uint32 ulMech,
                                         Uint8 *pIV, Uint8 *pKey, Uint32 ulKeySize,
                                         Uint8 *pTemplate, Uint32 ulTemplateSize,
                                         Uint64 ulUnwrappingKeyHandle,
                                         Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse,
                                         Uint32 *attestedLength);
/* ulKeyType, ulCrtLen, ulPubExp, ulModLenInBits and ulCurveID are not used. */
QEL2_EXPORT Uint32 Qel2ImportKeyPkcs(Uint32 ulSessionHandle, Uint32 ulKeyType, InputType KeyInput,
                                     Uint8 *pKey, Uint32 ulKeyLen, Uint32 ulCrtLen, Uint32 ulPubExp,
                                     Uint32 ulModLenInBits, Uint32 ulCurveID, Uint8 *pIV,
                                     Uint32 ulMech, Uint32 ulTemplateSize, Uint8 *pTemplate,
                                     Uint64 ulUnwrappingKeyHandle, Uint64 *pulKeyHandleUnwrapped,
                                     Uint8 *pAttrObj, Uint32 *ulAttrLen);
/* A wrapped key (4241, the caller's 8-byte IV) with the caller's template
 * and count as given. */
QEL2_EXPORT Uint32 Qel2ImportUnWrapKey(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                       Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                       Uint8 *pIV, Uint8 *pTemplate, Uint32 ulTemplateSize,
                                       Uint32 ulAttributeCount, Uint64 *pulKeyHandleUnwrapped,
                                       Uint8 *attestedResponse, Uint32 *attestedLength,
                                       Uint32 *request_id, Uint8 ucKeyLocation);

/* ---- wrapped key with template: decoding ---- */

/* Splits a wrapped key with template: stores the count, the template length
 * and a pointer to the template inside the blob, checks the template against
 * the allow-list and the key data's length for the mechanism, requires an
 * OBJ_ATTR_ID and then sets OBJ_ATTR_TOKEN in place ('1' for location 1,
 * '0' otherwise). Returns the offset of the key data, or 0 when the blob is
 * refused (a refused blob is left unchanged). */
QEL2_EXPORT Uint32 decodeTemplate(Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 ucKeyLocation,
                                  Uint32 ulMech, Uint8 **pTemplate, Uint32 *ulTemplateSize,
                                  Uint32 *ulAttributeCount);
/* 0, or ERR_INVALID_INPUT for a template outside the allow-list, a record
 * crossing its end, or a count that differs from its records. */
QEL2_EXPORT Uint32 validateWrappedKeyTemplate(const Uint8 *pTemplate, Uint32 ulTemplateSize,
                                              Uint32 ulAttributeCount);
/* One record (head and value) against the allow-list: 0 or ERR_INVALID_INPUT. */
QEL2_EXPORT Uint32 checkValidAttribute(const Attribute *pAttr);

QEL2_EXTERN_C_END

#endif
