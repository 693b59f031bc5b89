/* HSM administration, second part: partition private data, certificates,
 * key backup keys, M-of-N quorum tokens and M values, and the printing of
 * tokens. Records the HSM produces travel big-endian and are kept so by the
 * caller. */
#ifndef QEL2_ADMIN2_H
#define QEL2_ADMIN2_H

#include "qel2_defs.h"

QEL2_EXTERN_C_BEGIN

/* ---- partition private data ---- */
#define QEL2_PRIV_DATA_CHUNK 8140u /* data bytes of one update request */
#define QEL2_PRIV_DATA_NAME_MAX 15u

QEL2_EXPORT Uint32 Qel2UpdatePartnPriveDataChunk(Uint32 ulSessionHandle, Uint8 *pname,
                                                 Uint32 name_len, Uint8 *pData, Uint32 ulDataLen,
                                                 Uint32 ulTotalLen, Uint32 ulOffset,
                                                 Uint32 ulBeginEndFlag);
QEL2_EXPORT Uint32 Qel2UpdatePartnPriveData(Uint32 ulSessionHandle, Uint8 *pname, Uint32 name_len,
                                            Uint8 *pData, Uint32 ulDataLen, Uint32 ulOffset);
QEL2_EXPORT Uint32 Qel2GetPartnPriveDatachunk(Uint32 ulSessionHandle, Uint8 *pname, Uint32 name_len,
                                              Uint8 *pData, Uint32 *ulDataLen, Uint32 ulOffset);
QEL2_EXPORT Uint32 Qel2GetPartnPriveData(Uint32 ulSessionHandle, Uint8 *pname, Uint32 name_len,
                                         Uint8 *pdata, Uint32 *ulDataLen, Uint32 ulOffset);
QEL2_EXPORT Uint32 Qel2DeletePartnPriveData(Uint32 ulSessionHandle, Uint8 *pname, Uint32 name_len);

/* ---- certificate-based authentication ---- */
typedef enum CertSubject {
  OSTREL_CERT = 1,
  HSM_CERT = 2,
  PARTITION_OWNER_CERT = 4,
  PARTITION_CERT = 8,
  PARTITION_CERT_ISSUED_BY_HSM = 16,
  HSM_OWNER_CERT = 32,
  HSM_CERT_ISSUED_BY_HO = 64
} CertSubject;

#define QEL2_CERT_RANDOM_LEN 64u

QEL2_EXPORT Uint32 Qel2CertAuthPeerCertVerify(Uint32 ulSessionHandle, Uint8 *cert, Uint32 cert_len,
                                              Uint8 srv_type, Uint8 *random, Uint32 *rand_len);
QEL2_EXPORT Uint32 Qel2CertAuthSecureBoot(Uint32 dev_id, Uint8 *sig, Uint32 sig_len);
QEL2_EXPORT Uint32 Qel2StoreCert(Uint32 ulSessionHandle, CertSubject subject, Uint8 *pCert,
                                 Uint32 ulCertLen);
QEL2_EXPORT Uint32 Qel2GetCertReq(Uint32 ulSessionHandle, CertSubject subject, Uint8 *pCertReq,
                                  Uint32 *ulCertReqLen);
QEL2_EXPORT Uint32 Qel2GetCert(Uint32 ulSessionHandle, CertSubject subject, Uint8 *pCert,
                               Uint32 *ulCertLen);
QEL2_EXPORT Uint32 Qel2GetSourceRandom(Uint32 ulSessionHandle, Uint8 targetPartitionNo,
                                       Uint8 *pSourceRandom);
QEL2_EXPORT Uint32 Qel2ValidateCert(Uint32 ulSessionHandle, Uint8 targetPartitionNo,
                                    Uint8 *pTargetCert, Uint32 ulTargetCertLen,
                                    Uint8 *pTargetRandom, Uint8 *pTargetKeyExchange,
                                    Uint32 ulTargetKeyExchangeLen, Uint8 *pSourceRandom,
                                    Uint8 *pSourceKeyExchange, Uint32 *ulSourceKeyExchangeLen);
QEL2_EXPORT Uint32 Qel2SourceKeyExchange(Uint32 ulSessionHandle, Uint8 targetPartitionNo,
                                         Uint8 *pSourceKeyExchange, Uint32 *ulSourceKeyExchangeLen);
QEL2_EXPORT Uint32 Qel2TargetKeyExchange(Uint32 ulSessionHandle, Uint8 targetPartitionNo,
                                         Uint8 *pTargetKeyExchange, Uint32 ulTargetKeyExchangeLen);
QEL2_EXPORT Uint32 Qel2StoreKBKShare(Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 plain_key_len,
                                     Uint8 owner, Uint8 *enc_key, Uint32 enc_key_len, Uint8 *sig,
                                     Uint32 sig_len);

/* ---- key backup key export and import ---- */
QEL2_EXPORT Uint32 Qel2ExportKBK(Uint32 ulSessionHandle, Uint8 *pWrappedKey_1,
                                 Uint32 *pulWrappedKeyLen_1, Uint32 *pulWrappedKeyLen_2,
                                 Uint32 *pulWrappedKeyLen_3, Uint32 partition_no, Uint32 ulMech);
QEL2_EXPORT Uint32 Qel2ImportKBK(Uint32 ulSessionHandle, Uint8 *pkey_1, Uint8 *pkey_2,
                                 Uint8 *pkey_3, Uint32 ulKeyLen_1, Uint32 ulKeyLen_2,
                                 Uint32 ulKeyLen_3, Uint32 partition_no, Uint32 ulMech);

/* ---- M-of-N quorum tokens ---- */
typedef enum Service {
  BACKUP_BY_CU = 0,
  BACKUP_BY_CO = 1,
  CLONING = 2,
  USER_MGMT = 3,
  MISC_CO = 4,
  USE_KEY = 5,
  MANAGE_KEY = 6
} Service;

typedef enum DelTokenFlag {
  DEL_GIVEN_TOKEN = 0,
  DEL_ALL_PARTN_TOKEN = 2,
  DEL_ALL_USER_TOKENS = 4
} DelTokenFlag;

#define QEL2_TOKEN_SIZE 80u
#define QEL2_TOKEN_INFO_HEAD 84u
#define QEL2_TOKEN_NAME_FIELD 32u
#define QEL2_APPROVAL_SIZE 289u

/* A token as the HSM produced it: every number big-endian. */
typedef struct token {
  Uint16 t_id;
  Uint16 s_id;
  Uint32 n_id;
  Uint64 key_handle;
  Uint8 rand[16];
  Uint8 r_user[QEL2_TOKEN_NAME_FIELD];
  Uint64 c_time;
  Uint64 a_time;
} token_t;
QEL2_STATIC_ASSERT(sizeof(token_t) == 80, "token is 80 bytes");

/* One record of token information: an 84-byte head and num_approvals names
 * (walk records by QEL2_TOKEN_INFO_HEAD + 32 x num_approvals, not by sizeof). */
typedef struct token_info {
  token_t t;
  Uint16 num_approvals;
  Uint16 req_num_approvers;
  Uint8 approvers[][QEL2_TOKEN_NAME_FIELD];
} token_info_t;

QEL2_EXPORT Uint32 Qel2GetMValue(Uint32 ulSessionHandle, Service ServiceNumber, Uint8 *pMValue);
QEL2_EXPORT Uint32 Qel2SetMValue(Uint32 ulSessionHandle, Service ServiceNumber, Uint8 MValue);
QEL2_EXPORT Uint32 Qel2RegisterMofNKey(Uint32 ulSessionHandle, Uint32 ulUserType, Uint8 *name,
                                       Uint32 name_len, Uint8 *pswd, Uint32 pswd_len,
                                       Uint8 *pPublicKey, Uint8 *pSignature);
QEL2_EXPORT Uint32 Qel2RegisterMofNKey2(Uint32 ulSessionHandle, Uint32 ulUserType, Uint8 *name,
                                        Uint32 name_len, Uint8 *pswd, Uint32 pswd_len,
                                        Uint8 *pPublicKey, Uint8 *pSignature, void *buffer_ev,
                                        Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2GetToken(Uint32 ulSessionHandle, Service ServiceNumber,
                                Uint64 KeyToBeApproved, Int8 *UserName, token_t *pToken,
                                Uint32 *pulTokenLen, Uint32 flags);
QEL2_EXPORT Uint32 Qel2GetToken2(Uint32 ulSessionHandle, Service ServiceNumber,
                                 Uint64 KeyToBeApproved, Int8 *UserName, token_t *pToken,
                                 Uint32 *pulTokenLen, Uint32 flags, void *buffer_ev,
                                 Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2GetTokenInfo(Uint32 ulSessionHandle, token_t *t, token_info_t *ti,
                                    Uint32 *ti_size);
QEL2_EXPORT Uint32 Qel2GetTokenInfo2(Uint32 ulSessionHandle, token_t *t, token_info_t *ti,
                                     Uint32 *ti_size, void *buffer_ev, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ApproveToken(Uint32 ulSessionHandle, token_t *t, Uint16 num_tokens,
                                    Uint8 *mtokens_blob, Uint16 num_approvals, Uint8 *approval_blob,
                                    Uint32 *approval_status);
QEL2_EXPORT Uint32 Qel2ApproveToken2(Uint32 ulSessionHandle, token_t *t, Uint16 num_tokens,
                                     Uint8 *mtokens_blob, Uint16 num_approvals,
                                     Uint8 *approval_blob, Uint32 *approval_status, void *buffer_ev,
                                     Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ListTokens(Uint32 ulSessionHandle, token_info_t *token_info,
                                  Uint32 *ptoken_info_size, Uint32 *num_tokens);
QEL2_EXPORT Uint32 Qel2ListTokens2(Uint32 ulSessionHandle, token_info_t *token_info,
                                   Uint32 *ptoken_info_size, Uint32 *num_tokens, void *buffer_ev,
                                   Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ListTokens3(Uint32 ulSessionHandle, Uint32 ulBeginIndex,
                                   token_info_t *token_info, Uint32 *ptoken_info_size,
                                   Uint32 *num_tokens, Uint32 *parsed_tokens);
QEL2_EXPORT Uint32 Qel2ListTokens4(Uint32 ulSessionHandle, Uint32 ulBeginIndex,
                                   token_info_t *token_info, Uint32 *ptoken_info_size,
                                   Uint32 *num_tokens, void *buffer_ev, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2DeleteToken(Uint32 ulSessionHandle, token_t *pToken, Uint32 ulTokenLen,
                                   DelTokenFlag ulDelFlags);
QEL2_EXPORT Uint32 Qel2DeleteToken2(Uint32 ulSessionHandle, token_t *pToken, Uint32 ulTokenLen,
                                    DelTokenFlag ulDelFlags, void *buffer_ev, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2GetTokenTimeout(Uint32 ulSessionHandle, Int32 *c_timeout, Int32 *a_timeout);
QEL2_EXPORT Uint32 Qel2GetTokenTimeout2(Uint32 ulSessionHandle, Int32 *c_timeout, Int32 *a_timeout,
                                        void *buffer_ev, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2SetTokenTimeout(Uint32 ulSessionHandle, Int32 c_timeout, Int32 a_timeout,
                                       Uint32 flags);
QEL2_EXPORT Uint32 Qel2SetTokenTimeout2(Uint32 ulSessionHandle, Int32 c_timeout, Int32 a_timeout,
                                        Uint32 flags, void *buffer_ev, Uint32 *request_id);

/* ---- printing tokens on standard output ---- */
QEL2_EXPORT int Qel2PrintToken(token_t *token, uint32_t tlen, int flag);
QEL2_EXPORT int Qel2PrintTokenInfo(uint8_t *info, uint32_t ti_size, int num_tokens);
QEL2_EXPORT int Qel2PrintTokenInfo2(uint8_t *info, uint32_t ti_size, int num_tokens,
                                    Uint32 ulBeginIndex);
QEL2_EXPORT int Qel2PrintTokenInfo3(uint8_t *info, uint32_t ti_size, int num_tokens,
                                    Uint32 ulBeginIndex);

/* ---- key-encryption and password-encryption key establishment ----
 * The host's public key is read from "/opt/hsm/pxdv<dev>/<name>_<partition>"
 * (device and partition from the session handle); method 0 (ECDH) stores the
 * HSM's public key as "kek_hsm_pub_key.pem" beside it. nonce_in is 32 bytes;
 * *nonce_out_len is the nonce buffer's size on entry and the HSM nonce's
 * length on return. */
#define QEL2_KEK_NONCE_LEN 32u
#define QEL2_KEK_KEY_FILE_MAX 1024u /* longest host public key file */
#define QEL2_KEK_RSA_NONCE_MIN 256u /* nonce buffer of method 1 */

QEL2_EXPORT Uint32 Qel2GenKeyEncKeyNew(Uint32 ulSessionHandle, Uint8 kek_method, Uint8 *nonce_in,
                                       Uint32 *nonce_out_len, Uint8 *nonce_out);
QEL2_EXPORT Uint32 Qel2GenKeyEncKey(Uint32 ulSessionHandle, Uint8 *nonce_in, Uint8 *nonce_out);
QEL2_EXPORT Uint32 Qel2GenPswdEncKey(Uint32 ulSessionHandle, Uint8 *nonce_in, Uint32 *nonce_out_len,
                                     Uint8 *nonce_out);
/* ---- backup and restore ----
 * Partition scope (isHSM 0) and HSM scope (isHSM non-zero). The blobs are
 * the HSM's, kept by the caller and handed back in the same order; the
 * HSM's refusals are the returned status. A partition number of 0 means the
 * session's own partition. */
typedef enum ObjectClass { ALL = 0, PUBLIC = 1, PRIVATE = 2, PARTITION_DATA = 3 } ObjectClass;
typedef enum ObjectID {
  UNKNOWN = 0,
  PARTITION_KEY = 1,
  PARTITION_CSR = 2,
  PO_CERT = 3,
  PARTITION_CERT_ISSUED_BY_PO = 4
} ObjectID;

#define QEL2_RESTORE_USERS_MAX 1024u      /* users one restore may announce */
#define QEL2_RESTORE_USER_RECORD_MAX 608u /* bytes of one encrypted user record */
#define QEL2_RESTORE_USERS_PER_REQUEST 30u

QEL2_EXPORT Uint32 Qel2BackupBegin(Uint32 ulSessionHandle, Uint8 isHSM, Uint8 ulPartitionNo,
                                   Uint8 *sig_data, Uint32 sig_len, Uint8 use_pre_shared_keys);
QEL2_EXPORT Uint32 Qel2RestoreBegin(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM,
                                    Uint8 *sig_data, Uint32 sig_len, Uint8 ulFlags8);
QEL2_EXPORT Uint32 Qel2BackupEnd(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM);
QEL2_EXPORT Uint32 Qel2BackupEnd2(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM, Uint8 *pICV,
                                  Uint32 *pICVLen);
QEL2_EXPORT Uint32 Qel2RestoreEnd(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM);
QEL2_EXPORT Uint32 Qel2RestoreEnd2(Uint32 ulSessionHandle, Uint8 p_no, Uint8 isHSM, Uint8 *pICV,
                                   Uint32 ulICVLen);
QEL2_EXPORT Uint32 Qel2BackupConfig(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pEncConfig,
                                    Uint32 *ulEncConfigLen);
QEL2_EXPORT Uint32 Qel2BackupHSMConfig(Uint32 ulSessionHandle, Uint8 *pEncConfig,
                                       Uint32 *ulEncConfigLen, Uint8 ulPartitionIndex);
QEL2_EXPORT Uint32 Qel2RestoreConfig(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pConfig,
                                     Uint32 ulConfigLen);
QEL2_EXPORT Uint32 Qel2RestoreHSMConfig(Uint32 ulSessionHandle, Uint8 *pConfig, Uint32 ulConfigLen,
                                        Uint32 ulPartitionIndex, Uint32 ulKeyStoreSize,
                                        Uint32 ulSSLSize, Uint32 ulAcclrDevSize, Uint8 *pname);
QEL2_EXPORT Uint32 Qel2BackupUsersFromIndex(Uint32 ulSessionHandle, Uint8 p_no, Uint32 *ulUserIndex,
                                            Uint8 *pEncUserInfo, Uint32 *ulEncUserInfoLen,
                                            Uint32 *ulUserCount, Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel2BackupUsers(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pEncUserInfo,
                                   Uint32 *ulEncUserInfoLen, Uint32 *ulUserCount,
                                   Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel2BackupHSMUsersFromIndex(Uint32 ulSessionHandle, Uint32 *ulUserIndex,
                                               Uint8 *pEncUserInfo, Uint32 *ulEncUserInfoLen,
                                               Uint32 *ulUserCount, Uint32 ulUserType,
                                               Uint8 ulPartitionIndex);
QEL2_EXPORT Uint32 Qel2BackupHSMUsers(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                      Uint32 *ulEncUserInfoLen, Uint32 *ulUserCount,
                                      Uint32 ulUserType, Uint8 ulPartitionIndex);
QEL2_EXPORT Uint32 Qel2RestoreUsersFromIndex(Uint32 ulSessionHandle, Uint8 p_no,
                                             Uint8 *pEncUserInfo, Uint32 ulEncUserInfoLen,
                                             Uint32 *restoredUserIndex, Uint32 ulUserCount,
                                             Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel2RestoreUsers(Uint32 ulSessionHandle, Uint8 p_no, Uint8 *pEncUserInfo,
                                    Uint32 ulEncUserInfoLen, Uint32 ulUserCount, Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel2RestoreHSMUsersFromIndex(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                                Uint32 ulEncUserInfoLen, Uint32 *restoredUserIndex,
                                                Uint32 ulUserCount, Uint32 ulUserType,
                                                Uint32 ulPartitionIndex);
QEL2_EXPORT Uint32 Qel2RestoreHSMUsers(Uint32 ulSessionHandle, Uint8 *pEncUserInfo,
                                       Uint32 ulEncUserInfoLen, Uint32 ulUserCount,
                                       Uint32 ulUserType, Uint32 ulPartitionIndex);
QEL2_EXPORT Uint32 Qel2BackupKey(Uint32 ulSessionHandle, Uint32 partition_index, Uint64 ulKeyHandle,
                                 Uint8 *pKeyData, Uint32 *pulKeyDataLen);
QEL2_EXPORT Uint32 Qel2RestoreKey(Uint32 ulSessionHandle, Uint32 partition_index,
                                  Uint8 preserve_handle, Uint8 *pKeyData, Uint32 ulKeyDataLen,
                                  Uint64 *ulRestoredKeyHandle);
QEL2_EXPORT Uint32 Qel2BackupObject(Uint32 ulSessionHandle, Uint32 partition_index,
                                    ObjectClass Class, ObjectID ID, Uint8 *pObjectData,
                                    Uint32 *pulObjectDataLen);
QEL2_EXPORT Uint32 Qel2RestoreObject(Uint32 ulSessionHandle, Uint32 partition_index,
                                     ObjectClass Class, ObjectID ID, Uint8 *pObjectData,
                                     Uint32 ulObjectLen);

QEL2_EXTERN_C_END

#endif
