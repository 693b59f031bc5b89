/* The Qel3 family: a shorter interface over the Qel2 functions. Each wrapper
 * calls one Qel2 function (two of them choose between two) with fixed values
 * for what it drops: device 0, partition 0, no session lists, no signatures,
 * mechanism 4241 for the key-wrap calls. Apart from the rules noted below, a
 * wrapper returns its target's status unchanged; where the target takes a
 * byte or a 16-bit value, only the low byte or 16 bits are passed on. */
#ifndef QEL3_H
#define QEL3_H

#include "qel2_admin.h"
#include "qel2_admin2.h"
#include "qel2_defs.h"
#include "qel2_keys.h"
#include "qel2_objects.h"
#include "qel2_records.h"
#include "qel2_sdk.h"
#include "qel2_sign.h"
#include "qel2_wrap.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- start-up, sessions, login, information ---- */
QEL2_EXPORT Uint32 Qel3Initialize(Uint32 *pulAppID);
QEL2_EXPORT Uint32 Qel3Shutdown(Uint32 ulAppID);
QEL2_EXPORT Uint32 Qel3OpenSession(Uint32 ulAppID, Uint32 *pulSessionHandle);
QEL2_EXPORT Uint32 Qel3LoginHSM(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3LogoutHSM(Uint32 ulSessionHandle, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3GetLoginStatus(Uint32 ulSessionHandle, Uint32 *status);
QEL2_EXPORT Uint32 Qel3GetHSMInfo(Uint32 ulSessionHandle, HSMInfo *info);
/* The partition named by what the caller left in info's name field. */
QEL2_EXPORT Uint32 Qel3GetPartitionInfo(Uint32 ulSessionHandle, PartitionInfo *info,
                                        Uint32 *request_id);

/* ---- HSM administration ---- */
QEL2_EXPORT Uint32 Qel3InitHSM(Uint32 ulSessionHandle, BoardConfiguration *pConfig);
QEL2_EXPORT Uint32 Qel3InitHSMDone(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel3CreateUser(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                  Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                  const Uint8 *pPublicKey, const Uint8 *pSignature);
QEL2_EXPORT Uint32 Qel3ChangeUserPswd(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                      Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                      const Uint8 *pPublicKey, const Uint8 *pSignature);
QEL2_EXPORT Uint32 Qel3ListUsers(Uint32 ulSessionHandle, Uint32 LastFoundUserID, UserInfo *pUsers,
                                 Uint32 *pulCount, Uint32 *pulTotalCount, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3DeleteUser(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                  Uint32 name_len);
QEL2_EXPORT Uint32 Qel3SetNodeId(Uint32 ulSessionHandle, Uint32 ulNodeId);
/* zeroizeCerts (its low byte) non-zero: the vendor zeroize that also clears
 * certificates; zero: the plain zeroize. */
QEL2_EXPORT Uint32 Qel3ZeroizeHSM(Uint32 ulSessionHandle, Uint32 zeroizeCerts);
QEL2_EXPORT Uint32 Qel3GetPartnSingleKeyHandleHash(Uint32 ulSessionHandle, Uint64 ulObjectHandle,
                                                   HashType hash_type, Uint8 *hash);
QEL2_EXPORT Uint32 Qel3GetPartnKeyHandlesHash(Uint32 ulSessionHandle, HashType hash_type,
                                              Uint8 *hash);

/* ---- key-encryption keys ---- */
QEL2_EXPORT Uint32 Qel3GenKeyEncKey(Uint32 ulSessionHandle, Uint32 kek_method, Uint8 *nonce_in,
                                    Uint32 *nonce_out_len, Uint8 *nonce_out);
QEL2_EXPORT Uint32 Qel3GenPswdEncKey(Uint32 ulSessionHandle, Uint8 *nonce_in, Uint32 *nonce_out_len,
                                     Uint8 *nonce_out);

/* ---- cloning ---- */
QEL2_EXPORT Uint32 Qel3CloneSourceInit(Uint32 ulSessionHandle, Uint8 *source_init_data,
                                       Uint32 *source_init_dlen);
QEL2_EXPORT Uint32 Qel3CloneTargetInit(Uint32 ulSessionHandle, Uint8 *source_init_data,
                                       Uint32 source_init_dlen, Uint8 *target_init_data,
                                       Uint32 *target_init_dlen);
QEL2_EXPORT Uint32 Qel3CloneSourceStage1(Uint32 ulSessionHandle, Uint8 *target_init_data,
                                         Uint32 target_init_dlen, Uint8 *source_stage1_data,
                                         Uint32 *source_stage1_dlen);
QEL2_EXPORT Uint32 Qel3CloneTargetStage1(Uint32 ulSessionHandle, Uint8 *source_stage1_data,
                                         Uint32 source_stage1_dlen, Uint8 *target_stage1_data,
                                         Uint32 *target_stage1_dlen);

/* ---- backup and restore of the session's partition (partition 0, no
 * signature) ---- */
QEL2_EXPORT Uint32 Qel3BackupBegin(Uint32 ulSessionHandle, Uint32 use_pre_shared_keys);
QEL2_EXPORT Uint32 Qel3BackupEnd(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel3BackupConfig(Uint32 ulSessionHandle, Uint8 *pEncConfig,
                                    Uint32 *ulEncConfigLen);
QEL2_EXPORT Uint32 Qel3BackupUsersFromIndex(Uint32 ulSessionHandle, Uint32 *ulUserIndex,
                                            Uint8 *pEncUserInfo, Uint32 *ulEncUserInfoLen,
                                            Uint32 *ulUserCount, Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel3BackupUsers(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                   Uint32 *ulEncUserInfoLen, Uint32 *ulUserCount,
                                   Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel3BackupKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint8 *pKeyData,
                                 Uint32 *pulKeyDataLen);
QEL2_EXPORT Uint32 Qel3RestoreBegin(Uint32 ulSessionHandle, Uint32 use_pre_shared_keys);
QEL2_EXPORT Uint32 Qel3RestoreEnd(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel3RestoreConfig(Uint32 ulSessionHandle, Uint8 *pConfig, Uint32 ulConfigLen);
QEL2_EXPORT Uint32 Qel3RestoreUsersFromIndex(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                             Uint32 ulEncUserInfoLen, Uint32 *restoredUserIndex,
                                             Uint32 ulUserCount, Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel3RestoreUsers(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                    Uint32 ulEncUserInfoLen, Uint32 ulUserCount, Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel3RestoreKey(Uint32 ulSessionHandle, Uint32 preserve_handle, Uint8 *pKeyData,
                                  Uint32 ulKeyDataLen, Uint64 *ulRestoredKeyHandle);

/* ---- certificates and key backup key shares (target partition 0) ---- */
QEL2_EXPORT Uint32 Qel3StoreCert(Uint32 ulSessionHandle, CertSubject subject, Uint8 *pCert,
                                 Uint32 ulCertLen);
QEL2_EXPORT Uint32 Qel3GetCert(Uint32 ulSessionHandle, CertSubject subject, Uint8 *pCert,
                               Uint32 *ulCertLen);
QEL2_EXPORT Uint32 Qel3GetCertReq(Uint32 ulSessionHandle, Uint8 *pCertReq, Uint32 *ulCertReqLen);
QEL2_EXPORT Uint32 Qel3GetSourceRandom(Uint32 ulSessionHandle, Uint8 *pSourceRandom);
QEL2_EXPORT Uint32 Qel3ValidateCert(Uint32 ulSessionHandle, Uint8 *pTargetCert,
                                    Uint32 ulTargetCertLen, Uint8 *pTargetRandom,
                                    Uint8 *pTargetKeyExchange, Uint32 ulTargetKeyExchangeLen,
                                    Uint8 *pSourceRandom, Uint8 *pSourceKeyExchange,
                                    Uint32 *ulSourceKeyExchangeLen);
QEL2_EXPORT Uint32 Qel3SourceKeyExchange(Uint32 ulSessionHandle, Uint8 *pSourceKeyExchange,
                                         Uint32 *ulSourceKeyExchangeLen);
QEL2_EXPORT Uint32 Qel3TargetKeyExchange(Uint32 ulSessionHandle, Uint8 *pTargetKeyExchange,
                                         Uint32 ulTargetKeyExchangeLen);
QEL2_EXPORT Uint32 Qel3StoreKBKShare(Uint32 ulSessionHandle, Uint8 *enc_key, Uint32 enc_key_len);

/* ---- M-of-N ---- */
QEL2_EXPORT Uint32 Qel3GetMValue(Uint32 ulSessionHandle, Service ServiceNumber, Uint8 *pMValue);
QEL2_EXPORT Uint32 Qel3SetMValue(Uint32 ulSessionHandle, Service ServiceNumber, Uint32 MValue);
QEL2_EXPORT Uint32 Qel3GetToken(Uint32 ulSessionHandle, Service ServiceNumber,
                                Uint64 KeyToBeApproved, Int8 *UserName, token_t *pToken,
                                Uint32 *pulTokenLen, Uint32 flags);
QEL2_EXPORT Uint32 Qel3ApproveToken(Uint32 ulSessionHandle, token_t *t, Uint32 num_tokens,
                                    Uint8 *mtokens_blob, Uint32 num_approvals, Uint8 *approval_blob,
                                    Uint32 *approval_status);
QEL2_EXPORT Uint32 Qel3ListTokens(Uint32 ulSessionHandle, token_info_t *token_info,
                                  Uint32 *ptoken_info_size, Uint32 *num_tokens);
/* A token of 80 bytes. */
QEL2_EXPORT Uint32 Qel3DeleteToken(Uint32 ulSessionHandle, token_t *pToken,
                                   DelTokenFlag ulDelFlags);

/* ---- key objects ---- */
QEL2_EXPORT Uint32 Qel3DeleteKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3ShareKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 share,
                                const Uint16 *pUsers, Uint32 ulUserCount, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3GetKeyInfo(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint16 *pUsers,
                                  Uint8 *pUserCount, Uint8 *pMValue, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3ExtractMaskedObject(Uint32 ulSessionHandle, Uint64 ulObjectHandle,
                                           Uint8 *pMaskedObject, Uint32 *pulMaskedObjectLen,
                                           Uint32 *request_id);
/* Inserted with force-insert on. */
QEL2_EXPORT Uint32 Qel3InsertMaskedObject(Uint32 ulSessionHandle, Uint64 *pulObjectHandle,
                                          const Uint8 *pMaskedObject, Uint32 ulMaskedObjectLen,
                                          Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3ExportPublicKey(Uint32 ulSessionHandle, Uint64 ulPubKey, Uint8 *pKeyBuf,
                                       Uint32 *pulBufLen, Uint32 *request_id);
/* ulAtt 512 (OBJ_ATTR_ALL) reads every attribute. */
QEL2_EXPORT Uint32 Qel3GetAttribute(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAtt,
                                    Uint8 *pAttrBuf, Uint32 *pulBufLen, Uint8 *attestedResponse,
                                    Uint32 *attestedLength, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3SetAttribute(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAtt,
                                    Uint8 *pAttrBuf, Uint32 ulBufLen, Uint32 *request_id);

/* ---- key search ---- */
/* A key array too small for every match still returns 0 (the count says how
 * many matched); without a key array the count comes with 183. */
QEL2_EXPORT Uint32 Qel3FindKey(Uint32 ulSessionHandle, Uint32 ulSearchIndex, Uint32 ulKeyClass,
                               Uint32 ulKeyType, Uint32 ucKeyLocation, const Uint16 *pUsers,
                               Uint32 ulUserCount, const Uint8 *pID, Uint32 ulIDLen,
                               const Uint8 *pbLabel, Uint32 ulLabelLen, const Uint8 *pModulus,
                               Uint32 ulModLen, const Uint8 *pKCV, Uint32 ulKCVLen, Uint64 *pulKeys,
                               Uint32 *pulNumOfKeys, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3FindSingleKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                     Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3FindAllKeys(Uint32 ulSessionHandle, Uint16 ulUser, Uint64 *pulKeys,
                                   Uint8 *pulKeyInfo, Uint32 *pulNumOfKeys);

/* ---- key generation and creation (no session lists, partition 0) ---- */
QEL2_EXPORT Uint32 Qel3GenerateSymmetricKey(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                            Uint32 ulKeyLen, Uint16 *pUsers, Uint32 ulCount,
                                            Uint32 ulMValue, Uint8 *pID, Uint32 ulIDLen,
                                            Uint8 *pLabel, Uint32 ulLabelLen, Uint32 ucKeyLocation,
                                            Uint32 bExtractable, Uint64 *pulKeyHandle,
                                            KeyGenAttest *keygenattest, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3GenerateKeyPair(Uint32 ulSessionHandle, Uint32 ulKeyType,
                                       Uint32 ulModLenInBits, Uint32 ulPubExp, Uint32 ulCurveID,
                                       Uint16 *pUsers, Uint32 ulCount, Uint32 ulMValue, Uint8 *pID,
                                       Uint32 ulIDLen, Uint8 *pPubKeyLabel, Uint32 ulPubLabelLen,
                                       Uint8 *pPrivKeyLabel, Uint32 ulPrivLabelLen,
                                       Uint32 ucKeyLocation, Uint32 bExtractable,
                                       Uint64 *pulPublicKey, Uint64 *pulPrivateKey,
                                       KeyGenAttest *keygenattest, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3GeneratePBEKey(Uint32 ulSessionHandle, Uint16 *pUsers, Uint32 ulCount,
                                      Uint8 ulMValue, Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel,
                                      Uint32 ulLabelLen, Uint8 *pPassword, Uint32 ulPasswordLen,
                                      Uint8 *pSaltValue, Uint32 ulSaltValueLen,
                                      Uint32 ulIterationCount, Uint8 *pIV, Uint32 ucKeyLocation,
                                      Uint8 bUseCKM_PBE_SHA1_DES3_EDE_CBC_OLD, Uint32 bExtractable,
                                      Uint64 *pulKeyHandle, KeyGenAttest *keygenattest,
                                      Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3CreatePublicKey(Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen,
                                       Uint32 ulPubExp, Uint32 ulCurveID, Uint8 *pKeyData,
                                       Uint32 ulKeyDataLen, Uint16 *pUsers, Uint32 ulUserCount,
                                       Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                       Uint32 ucKeyLocation, Uint64 *pulHandle, Uint32 *request_id);

/* ---- wrap and unwrap (mechanism 4241 unless named) ---- */
QEL2_EXPORT Uint32 Qel3WrapKeyWithTemplate(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                           Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint8 *pWrappedKey,
                                           Uint32 *pulWrappedKeyLen, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3WrapKey(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                               Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint8 *pWrappedKey,
                               Uint32 *pulWrappedKeyLen, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3ExportWrapKey(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                     Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint8 *pWrappedKey,
                                     Uint32 *pulWrappedKeyLen, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3ExportWrapKeyWithMech(Uint32 ulSessionHandle, Uint64 ulWrappingKeyHandle,
                                             Uint64 ulKeyHandleToWrap, Uint8 *pIV, Uint32 ulMech,
                                             Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                             Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3WrapHostKey(Uint32 ulSessionHandle, Uint8 *pKey, Uint32 ulKeyLen,
                                   Uint64 ulAesKeyHandle, Uint8 *pIV, Uint8 *pWrappedKey,
                                   Uint32 *pulWrappedKeyLen, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3ImportWrapKey(Uint32 ulSessionHandle, Uint8 *pKey, Uint32 ulKeyLen,
                                     Uint64 ulAesKeyHandle, Uint8 *pIV, Uint8 *pWrappedKey,
                                     Uint32 *pulWrappedKeyLen, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3UnWrapHostKey(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                     Uint32 ulWrappedKeyLen, Uint8 *pKey, Uint32 *pulKeyLen,
                                     Uint64 ulAesKeyHandle, Uint8 *pIV, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3ExportUnwrapKey(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                       Uint32 ulWrappedKeyLen, Uint8 *pKey, Uint32 *pulKeyLen,
                                       Uint64 ulAesKeyHandle, Uint8 *pIV, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel3ExportUnwrapKeyWithMech(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                               Uint32 ulWrappedKeyLen, Uint8 *pKey,
                                               Uint32 *pulKeyLen, Uint64 ulUnwrappingKeyHandle,
                                               Uint32 ulMech, Uint8 *pIV, Uint32 *request_id);

QEL2_EXPORT Uint32 Qel3UnWrapKey(Uint32 ulSessionHandle, Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen,
                                 Uint64 ulUnwrappingKeyHandle, Uint8 *pIV, Uint8 *pTemplate,
                                 Uint32 ulTemplateSize, Uint32 ulAttributeCount,
                                 Uint64 *pulKeyHandleUnwrapped, Uint8 *attestedResponse,
                                 Uint32 *attestedLength, Uint32 *request_id, Uint8 ucKeyLocation);
QEL2_EXPORT Uint32 Qel3ImportUnWrapKey(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                       Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                       Uint8 *pIV, Uint8 *pTemplate, Uint32 ulTemplateSize,
                                       Uint32 ulAttributeCount, Uint64 *pulKeyHandleUnwrapped,
                                       Uint8 *attestedResponse, Uint32 *attestedLength,
                                       Uint32 *request_id, Uint8 ucKeyLocation);
QEL2_EXPORT Uint32 Qel3UnWrapKeyWithSize(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                         Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                         Uint8 *pIV, Uint32 ulKeyType, Uint32 ulKeySize,
                                         Uint32 ulModLenInBits, Uint32 bTemplateExists,
                                         Uint8 *pLabel, Uint32 ulLabelLen, Uint64 *ulNewKey,
                                         Uint32 ucKeyLocation, Uint32 bExtractable, Uint32 ulMech,
                                         Uint32 *request_id);
/* A wrapped key with template: the blob's own template, checked, with the
 * blob's key data unwrapped by 4241 (ERR_INVALID_INPUT for a blob refused). */
QEL2_EXPORT Uint32 Qel3UnWrapKeyWithCommonTemplate(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                                   Uint32 ulWrappedKeyLen,
                                                   Uint64 ulUnwrappingKeyHandle, Uint8 *pIV,
                                                   Uint64 *pulKeyHandleUnwrapped,
                                                   Uint8 *attestedResponse, Uint32 *attestedLength,
                                                   Uint32 *request_id, Uint8 ucKeyLocation);

/* Builds an unwrap template into pTemplate (up to 4096 bytes): 0, or
 * RET_INVALID_INPUT when no template could be built. The first form makes
 * the key extractable. */
QEL2_EXPORT Uint32 Qel3CreateUnwrapTemplate(Uint32 ulKeyClass, Uint32 ulKeyType,
                                            Uint8 ucKeyLocation, Uint16 *pUsers, Uint32 ulUserCount,
                                            Uint32 ulMValue, Uint8 *pbID, Uint32 ulIDLen,
                                            Uint8 *pbLabel, Uint32 ulLabLen, Uint32 ulKeyLen,
                                            Uint32 ulModLenInBits, Uint32 ulPubExp,
                                            Uint32 ulCurveId, Uint8 *pTemplate,
                                            Uint32 *pulTemplateSz, Uint32 *pulAtribCount);
QEL2_EXPORT Uint32 Qel3CreateUnwrapTemplate2(
    Uint32 ulKeyClass, Uint32 ulKeyType, Uint8 ucKeyLocation, Uint16 *pUsers, Uint32 ulUserCount,
    Uint32 ulMValue, Uint8 *pbID, Uint32 ulIDLen, Uint8 *pbLabel, Uint32 ulLabLen, Uint32 ulKeyLen,
    Uint32 ulModLenInBits, Uint32 ulPubExp, Uint32 ulCurveId, Uint32 bExtractable, Uint8 *pTemplate,
    Uint32 *pulTemplateSz, Uint32 *pulAtribCount);

/* ---- signatures ---- */
QEL2_EXPORT Uint32 Qel3Sign(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint64 key_handle,
                            Uint32 signMech, Uint32 dropInternalHashing, Uint8 *sig,
                            Uint32 *sig_len);
QEL2_EXPORT Uint32 Qel3Verify(Uint32 ulSessionHandle, Uint8 *msg, Uint32 msg_len, Uint8 *sig,
                              Uint32 sig_len, Uint64 key_handle, Uint32 ulMech,
                              Uint32 dropInternalHashing);

#ifdef __cplusplus
}
#endif

#endif
