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
QEL2_FLEXIBLE_ARRAY_BEGIN
typedef struct token_info {
  token_t t;
  Uint16 num_approvals;
  Uint16 req_num_approvers;
  Uint8 approvers[][QEL2_TOKEN_NAME_FIELD];
} token_info_t;
QEL2_FLEXIBLE_ARRAY_END
QEL2_STATIC_ASSERT(offsetof(token_info_t, num_approvals) == 80, "num_approvals at 80");
QEL2_STATIC_ASSERT(offsetof(token_info_t, req_num_approvers) == 82, "req_num_approvers at 82");
QEL2_STATIC_ASSERT(offsetof(token_info_t, approvers) == 84, "approvers at 84");
QEL2_STATIC_ASSERT(sizeof(token_info_t) == 88, "token_info_t is 88 bytes (head padded to 8)");

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
/* ---- firmware and bootloader update ---- */
#define QEL2_FW_CHUNK 8160u    /* image bytes of one chunk request */
#define QEL2_FW_AUTH_MAX 1024u /* bytes of an authentication code */

QEL2_EXPORT Uint32 Qel2FirmwareUpdateBegin(Uint32 ulSessionHandle, Uint32 ulFirmwareLen);
QEL2_EXPORT Uint32 Qel2BootloaderUpdateBegin(Uint32 ulSessionHandle, Uint32 ulBootloaderLen);
QEL2_EXPORT Uint32 Qel2FirmwareUpdateChunk(Uint32 ulSessionHandle, Uint8 *pFirmware,
                                           Uint32 ulFirmwareLen);
QEL2_EXPORT Uint32 Qel2FirmwareUpdateEnd(Uint32 ulSessionHandle, Uint8 *pChecksum,
                                         Uint32 ulChecksumLen, Uint32 ZeroizeOnUpdate);
QEL2_EXPORT Uint32 Qel2FirmwareUpdate(Uint32 ulSessionHandle, Int8 *firmware_file,
                                      Uint32 firmware_len, Int8 *auth_file, Uint32 auth_len);
QEL2_EXPORT Uint32 Qel2FirmwareUpdate2(Uint32 ulSessionHandle, Int8 *firmware_file,
                                       Uint32 firmware_len, Int8 *auth_file, Uint32 auth_len,
                                       Uint32 ZeroizeOnUpdate);
QEL2_EXPORT Uint32 Qel2FirmwareUpdateNew(Uint32 ulSessionHandle, Int8 *firmware_file,
                                         Uint32 firmware_len, Int8 *auth_file, Uint32 auth_len,
                                         Uint32 ZeroizeOnUpdate);
QEL2_EXPORT Uint32 Qel2BootloaderUpdate(Uint32 ulSessionHandle, Int8 *bootloader_file,
                                        Uint32 bootloader_len, Int8 *auth_file, Uint32 auth_len);

/* ---- cloning: each result length is in/out (buffer size in, blob length out) ---- */
QEL2_EXPORT Uint32 Qel2CloneSourceInit(Uint32 ulSessionHandle, Uint8 *source_init_data,
                                       Uint32 *source_init_dlen);
QEL2_EXPORT Uint32 Qel2Clone2SourceInit(Uint32 ulSessionHandle, Uint8 part_no,
                                        Uint8 *cert_auth_data, Uint32 cert_auth_data_len,
                                        Uint8 *source_init_data, Uint32 *source_init_dlen);
QEL2_EXPORT Uint32 Qel2CloneTargetInit(Uint32 ulSessionHandle, Uint8 *source_init_data,
                                       Uint32 source_init_dlen, Uint8 *target_init_data,
                                       Uint32 *target_init_dlen);
QEL2_EXPORT Uint32 Qel2Clone2TargetInit(Uint32 ulSessionHandle, Uint8 part_no,
                                        Uint8 *source_init_data, Uint32 source_init_dlen,
                                        Uint8 *cert_auth_data, Uint32 cert_auth_data_len,
                                        Uint8 *target_init_data, Uint32 *target_init_dlen);
QEL2_EXPORT Uint32 Qel2CloneSourceStage1(Uint32 ulSessionHandle, Uint8 *target_init_data,
                                         Uint32 target_init_dlen, Uint8 *source_stage1_data,
                                         Uint32 *source_stage1_dlen);
QEL2_EXPORT Uint32 Qel2Clone2SourceStage1(Uint32 ulSessionHandle, Uint8 part_no,
                                          Uint8 *target_init_data, Uint32 target_init_dlen,
                                          Uint8 *source_stage1_data, Uint32 *source_stage1_dlen);
QEL2_EXPORT Uint32 Qel2CloneTargetStage1(Uint32 ulSessionHandle, Uint8 *source_stage1_data,
                                         Uint32 source_stage1_dlen, Uint8 *target_stage1_data,
                                         Uint32 *target_stage1_dlen);
QEL2_EXPORT Uint32 Qel2Clone2TargetStage1(Uint32 ulSessionHandle, Uint8 part_no,
                                          Uint8 *source_stage1_data, Uint32 source_stage1_dlen,
                                          Uint8 *target_stage1_data, Uint32 *target_stage1_dlen);

/* ---- diagnostics and core dumps ---- */
typedef struct Diagnostics {
  Uint32 total_dev_count;
  Uint32 active_dev_count;
  Uint32 tunnel_timeout_cnt;
  Uint32 crypto_timeout_cnt;
  Uint8 name[16];
  Uint8 status;
  Uint8 reserved[95];
} Diagnostics;
QEL2_STATIC_ASSERT(sizeof(Diagnostics) == 128, "Diagnostics is 128 bytes");

/* As the HSM sends it: every number big-endian. */
typedef struct HSMDiagInfo {
  Uint32 fpa_que_available[4];
  Uint32 uiTotalRAM;
  Uint32 uiFreeRAM;
  Uint32 uiNumFds;
  Uint32 uiMgmtReboot;
  Uint32 uiBPCounter;
  Uint8 diag_version;
  Uint8 ucPassthroughCoreFileExist;
  Uint8 ucMgmtCoreFileExist;
  Uint8 temperature;
  Diagnostics stats[32];
  Uint8 mmc_slc_health;
  Uint8 mmc_mlc_health;
  Uint8 mmc_eol;
  Int8 rtcTime[128];
  Uint8 reserved[1877];
} HSMDiagInfo;
QEL2_STATIC_ASSERT(sizeof(HSMDiagInfo) == 6144, "HSMDiagInfo is 6144 bytes");
QEL2_STATIC_ASSERT(offsetof(HSMDiagInfo, stats) == 40, "stats at 40");
QEL2_STATIC_ASSERT(offsetof(HSMDiagInfo, rtcTime) == 4139, "rtcTime at 4139");

typedef enum CoreDumpFileFlag {
  NO_CORE_FILE_FLAG = 0,
  PASSTHROUGH_CORE_FILE_FLAG = 1,
  MGMT_DAEMON_CORE_FILE_FLAG = 2
} CoreDumpFileFlag;

#define HSM_CORE_DUMP_GET 0
#define HSM_CORE_DUMP_RESET 1
typedef struct CoreDumpStatusStruct {
  int operation;
  int core_dump_flag;
} CoreDumpStatusStruct;

struct hb_diag; /* the daemon's health record (qel2_transport.h) */
QEL2_EXPORT Uint32 Qel2HealthDump(int dev_id, struct hb_diag *buffer);
QEL2_EXPORT Uint32 Qel2DumpItFetch(Uint32 ulSessionHandle, Int8 *diag, Uint32 *diag_len);
QEL2_EXPORT Uint32 Qel2DumpIt(Uint32 ulSessionHandle, Int8 *diag_file);
QEL2_EXPORT Uint32 Qel2InvokeFips(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel2GetHSMDiagInfo(Uint32 ulSessionHandle, HSMDiagInfo *stats);
QEL2_EXPORT int Qel2GetCoreFlag(int ulSessionHandle);
QEL2_EXPORT int Qel2ResetCoreFlag(int ulSessionHandle, CoreDumpFileFlag which_file);
QEL2_EXPORT Uint32 Qel2GetCoreDump(Uint32 ulSessionHandle, char *dump_file,
                                   CoreDumpFileFlag which_file, uint32_t backup_num, int cmd_flag);
QEL2_EXPORT Uint32 Qel2DeleteCoreDump(Uint32 ulSessionHandle, CoreDumpFileFlag which_file,
                                      int cmd_flag);

QEL2_EXTERN_C_END

#endif
