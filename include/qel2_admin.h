/* HSM administration: initialisation and configuration, users, partitions
 * and policies, HSM control and audit logs. Records the caller fills or
 * receives travel big-endian unless stated otherwise. */
#ifndef QEL2_ADMIN_H
#define QEL2_ADMIN_H

#include "qel2_defs.h"
#include "qel2_records.h"

QEL2_EXTERN_C_BEGIN

/* ---- HSM initialisation and configuration ---- */
typedef enum BoardFipsState { KQ_NON_FIPS = 0, KQ_FIPS_LVL2 = 2, KQ_FIPS_LVL3 = 3 } BoardFipsState;

/* The whole board configuration of initialisation; a wire record, so every
 * 32-bit field holds its value big-endian. */
typedef struct BoardConfiguration {
  Uint32 fipsState;
  Uint8 reserved[27];
  Uint8 backup_by_mco : 1;
  Uint8 block_delete_user : 1;
  Uint8 hsmAuditEnable : 1;
  Uint8 reserved_flags : 5;
  Uint32 loginFailureCount;
  Uint32 secretKeyWrapping;
  Uint32 secretKeyUnWrapping;
  Uint32 privateKeyWrapping;
  Uint32 privateKeyUnWrapping;
  Uint32 maxPswdLength;
  Uint32 minPswdLength;
  Uint32 cloning;
  Uint8 g_id[32];
  Uint8 label[50];
  Uint8 pad[2];
  Uint32 kek_method;
  Uint8 certAuth;
  Uint8 pad2[3];
  Uint32 nodeid;
} BoardConfiguration;
QEL2_STATIC_ASSERT(sizeof(BoardConfiguration) == 160, "BoardConfiguration is 160 bytes");
QEL2_STATIC_ASSERT(offsetof(BoardConfiguration, loginFailureCount) == 32, "at 32");
QEL2_STATIC_ASSERT(offsetof(BoardConfiguration, g_id) == 64, "g_id at 64");
QEL2_STATIC_ASSERT(offsetof(BoardConfiguration, label) == 96, "label at 96");
QEL2_STATIC_ASSERT(offsetof(BoardConfiguration, kek_method) == 148, "kek_method at 148");
QEL2_STATIC_ASSERT(offsetof(BoardConfiguration, certAuth) == 152, "certAuth at 152");
QEL2_STATIC_ASSERT(offsetof(BoardConfiguration, nodeid) == 156, "nodeid at 156");

typedef struct InitTokenCommand {
  CommandHeaderWithSession header;
  BoardConfiguration config;
  Uint8 g_pswd[32];
} InitTokenCommand;
QEL2_STATIC_ASSERT(sizeof(InitTokenCommand) == 212, "InitTokenCommand is 212 bytes");

/* In memory, host order. */
typedef struct hsmConfigArgs {
  Uint32 ulSessionHandle;
  Uint32 ulHsmConfigType;  /* 1: block delete user */
  Uint32 ulHsmConfigValue; /* 1: enable */
} hsmConfigArgs;

QEL2_EXPORT Uint32 Qel2InitHSM(Uint32 ulSessionHandle, Int8 *config_file);
/* pParams: ulNumParams strings, name and value alternating. */
QEL2_EXPORT Uint32 Qel2InitHSMNew(Uint32 ulSessionHandle, char **pParams, Uint32 ulNumParams);
/* Sends the caller's record unchanged. */
QEL2_EXPORT Uint32 Qel2InitHSMNimbrel(Uint32 ulSessionHandle, BoardConfiguration *pConfig);
/* On success every daemon connection of the process is dropped. */
QEL2_EXPORT Uint32 Qel2InitHSMDone(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel2SetHSMConfig(hsmConfigArgs *pArgs);

/* ---- users ---- */
#define QEL2_USER_NAME_FIELD 32
#define QEL2_USER_PUBLIC_KEY_LEN 512
#define QEL2_USER_SIGNATURE_LEN 256
#define QEL2_MAX_LIST_USERS 200
#define QEL2_MAX_USER_INDEX 1024

/* One user of a listing, integers big-endian as the HSM sent them. */
typedef struct UserInfo {
  Uint32 userID;
  Uint32 ulUserType;
  Uint8 userName[QEL2_USER_NAME_FIELD];
  Uint32 loginFailureCount;
} UserInfo;
QEL2_STATIC_ASSERT(sizeof(UserInfo) == 44, "UserInfo is 44 bytes");

QEL2_EXPORT Uint32 Qel2CreateUser(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                  Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len);
/* pPublicKey: null or 512 bytes; pSignature: null or 256 bytes. */
QEL2_EXPORT Uint32 Qel2CreateUserNew(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                     Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                     const Uint8 *pPublicKey, const Uint8 *pSignature);
QEL2_EXPORT Uint32 Qel2CreateUser2(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                   Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                   const Uint8 *pPublicKey, const Uint8 *pSignature);
/* With buffer_ev the transport's result is returned as soon as the exchange ends. */
QEL2_EXPORT Uint32 Qel2CreateUserNew2(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                      Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                      const Uint8 *pPublicKey, const Uint8 *pSignature,
                                      void *buffer_ev);
QEL2_EXPORT Uint32 Qel2CreateCOPIN(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                   const Uint8 *enc_pswd, Uint32 pswd_len);
QEL2_EXPORT Uint32 Qel2CreateCUPIN(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                   const Uint8 *enc_pswd, Uint32 pswd_len);
QEL2_EXPORT Uint32 Qel2DeleteUser(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                  Uint8 name_len);
/* pulCount: in, users wanted (at most 200); out, users returned. */
QEL2_EXPORT Uint32 Qel2ListUsers(Uint32 ulSessionHandle, Uint32 LastFoundUserID, UserInfo *pUsers,
                                 Uint32 *pulCount, Uint32 *pulTotalCount);
QEL2_EXPORT Uint32 Qel2ListUsers2(Uint32 ulSessionHandle, Uint32 LastFoundUserID, UserInfo *pUsers,
                                  Uint32 *pulCount, Uint32 *pulTotalCount, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ChangeUserPswd(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                      Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                      const Uint8 *pPublicKey, const Uint8 *pSignature);
QEL2_EXPORT Uint32 Qel2ChangeUserPswd2(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                       Uint32 name_len, const Uint8 *enc_pswd, Uint32 pswd_len,
                                       const Uint8 *pPublicKey, const Uint8 *pSignature);

/* ---- partitions and policies ---- */
#define QEL2_MAX_PARTITIONS 33
#define QEL2_HSM_LABEL_LEN 50
#define QEL2_RAW_PARTITION_TABLE_LEN 1024
#define QEL2_INVALID_PARTITION_COUNT 0xFFFFFFFFu

/* One policy: id and size, then size bytes of value. Big-endian in the
 * policy set the HSM returns; host order in setPolicyArgs. */
QEL2_FLEXIBLE_ARRAY_BEGIN
typedef struct Policy {
  Uint32 id;
  Uint32 size;
  Uint8 value[];
} Policy;
QEL2_FLEXIBLE_ARRAY_END
QEL2_STATIC_ASSERT(sizeof(Policy) == 8, "Policy head is 8 bytes");
QEL2_STATIC_ASSERT(offsetof(Policy, value) == 8, "Policy value at 8");

typedef struct getPolicyArgs {
  Uint32 ulSessionHandle;
  Uint16 num_policies; /* out */
  Uint16 total_size;   /* in: room in policies; out: bytes of the set */
  Uint8 *policies;     /* null asks for the counts only */
} getPolicyArgs;

typedef struct setPolicyArgs {
  Uint32 ulSessionHandle;
  Policy *policy;
} setPolicyArgs;

QEL2_EXPORT Uint32 Qel2CreatePartition(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                       Uint32 key_store_size, Uint32 max_ssl_ctx,
                                       Uint32 max_crpto_dev, Uint8 wrap_flag);
QEL2_EXPORT Uint32 Qel2CreatePartition2(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                        Uint32 key_store_size, Uint32 max_ssl_ctx,
                                        Uint32 max_crpto_dev, Uint8 wrap_flag, const Uint8 *AltName,
                                        Uint32 ulAltNameLen);
QEL2_EXPORT Uint32 Qel2CreatePartition3(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                        Uint32 key_store_size, Uint32 max_ssl_ctx,
                                        Uint32 max_crpto_dev, Uint8 wrap_flag, const Uint8 *AltName,
                                        Uint32 ulAltNameLen, Uint8 partn_idx);
QEL2_EXPORT Uint32 Qel2CreatePartitionNew(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                          Uint32 key_store_size, Uint32 max_ssl_ctx,
                                          Uint32 max_crpto_dev, Uint8 wrap_flag,
                                          const Uint8 *AltName, Uint32 ulAltNameLen,
                                          Uint8 partn_idx);
QEL2_EXPORT Uint32 Qel2DeletePartition(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len);
/* forceDelete bit 0 forces the deletion. */
QEL2_EXPORT Uint32 Qel2DeletePartition2(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                        Uint8 forceDelete);
QEL2_EXPORT Uint32 Qel2ResizePartition(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                       Uint32 newKeySize, Uint8 keys_inc, Uint32 newCtxSize,
                                       Uint8 ctxs_inc, Uint32 newAcclrSize, Uint8 acclr_inc,
                                       Uint8 backupPolicyChange);
/* info: 33 records as sent; every count pointer is optional. */
QEL2_EXPORT Uint32 Qel2GetAllPartitionInfo(Uint32 ulSessionHandle, PartitionInfo *info,
                                           Uint32 *total_partitions, Uint32 *free_partitions,
                                           Uint32 *total_keys, Uint32 *free_keys,
                                           Uint32 *total_ssl_ctx, Uint32 *free_ssl_ctx,
                                           Uint32 *total_acclr_dev, Uint32 *free_acclr_dev);
/* The four arrays hold 33 entries each. */
QEL2_EXPORT Uint32 Qel2GetPartitionCount(Uint32 ulSessionHandle, Uint8 *partition_count,
                                         Uint8 *partition_index, Uint32 *partition_key_size,
                                         Uint32 *partition_ssl_size, Uint32 *partition_acclr_size);
/* label: at least 50 bytes. */
QEL2_EXPORT Uint32 Qel2GetHSMLabel(Uint32 ulSessionHandle, Uint8 *label);
/* partn_info: 1024 bytes. */
QEL2_EXPORT Uint32 Qel2PartitionInfo(int dev_id, uint8_t *partn_info, Uint32 *max_partns,
                                     Uint32 application_id);
/* fw_info: the 1024-byte raw table; partn_info: 33 PartitionInfo records. */
QEL2_EXPORT Uint32 Qel2TranslatePartitionInfo(int dev_id, void *partn_info, void *fw_info);
QEL2_EXPORT Uint32 Qel2GetPolicySet(getPolicyArgs *args);
QEL2_EXPORT Uint32 Qel2SetPolicy(setPolicyArgs *args);

/* ---- HSM control ---- */
QEL2_EXPORT Uint32 Qel2SetNodeId(Uint32 ulSessionHandle, Uint32 ulNodeId);
/* hash: room for the digest of hash_type. */
QEL2_EXPORT Uint32 Qel2GetPartnSingleKeyHandleHash(Uint32 ulSessionHandle, Uint64 ulObjectHandle,
                                                   HashType hash_type, Uint8 *hash);
QEL2_EXPORT Uint32 Qel2GetPartnKeyHandlesHash(Uint32 ulSessionHandle, HashType hash_type,
                                              Uint8 *hash);
QEL2_EXPORT Uint32 Qel2ShutdownHSM(Uint32 ulSessionHandle);
/* On success every daemon connection of the process is dropped. */
QEL2_EXPORT Uint32 Qel2ZeroizeHSM(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel2VendorZeroizeHSM(Uint32 ulSessionHandle, Uint8 reset_type);
QEL2_EXPORT Uint32 Qel2SetSlaveConfig(Uint32 ulSessionHandle, Uint32 ulSlaveCfg);

/* ---- audit logs ---- */
#define QEL2_AUDIT_ENTRY_LEN 88
#define QEL2_MAX_AUDIT_LOGS 6026
#define QEL2_AUDIT_SIGN_LEN 256

/* The 40-byte head of an entry; the library carries entries unchanged. */
typedef struct audit_log_header_t {
  Uint64 seq_num;
  Uint64 time_in;
  Uint32 session_handle;
  Uint32 response_code;
  Uint16 opcode;
  Uint16 command_type;
  Uint32 reboot_ctr;
  Uint8 log_type;
  Uint8 reserved0;
  Uint8 version; /* major in the low 4 bits, minor in the high 4 */
  Uint8 reserved[5];
} audit_log_header_t;
QEL2_STATIC_ASSERT(sizeof(audit_log_header_t) == 40, "audit_log_header_t is 40 bytes");

/* One entry as the HSM sent it: the head and 48 bytes of details whose
 * layout depends on the entry. */
typedef struct cmbLogEntryV1 {
  audit_log_header_t log_header;
  Uint8 details[48];
} cmbLogEntryV1;
typedef cmbLogEntryV1 cmbLogEntry;
QEL2_STATIC_ASSERT(sizeof(cmbLogEntryV1) == 88, "cmbLogEntryV1 is 88 bytes");

QEL2_EXPORT Uint32 Qel2GetAuditLogInfo(Uint32 ulSessionHandle, Uint32 *numLogs);
/* numLogs: in, entries wanted (1 to 6026); out, entries returned. */
QEL2_EXPORT Uint32 Qel2GetAuditLogs(Uint32 ulSessionHandle, Uint32 *numLogs, cmbLogEntry *cmbLogs);
/* Returns ERR_REQUEST_PENDING with the request id; the entries reach cmbLogs
 * when the answer is collected. */
QEL2_EXPORT Uint32 Qel2GetAuditLogsNonBlocking(Uint32 ulSessionHandle, Uint32 *numLogs,
                                               cmbLogEntry *cmbLogs, Uint32 *request_id);
/* sign: 256 bytes. */
QEL2_EXPORT Uint32 Qel2GetAuditLogSign(Uint32 ulSessionHandle, Uint8 *sign);
QEL2_EXPORT Uint32 Qel2FinalizeLogs(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len);

QEL2_EXTERN_C_END

#endif
