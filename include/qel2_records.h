/* Management command and response records, the information records and the
 * user, session and identifier definitions shared by the SDK.
 *
 * Every integer field of these records travels big-endian: the structures
 * describe the bytes as the HSM sends and receives them. HSMInfo,
 * PartitionInfo and the raw responses reach the caller unconverted; only
 * Qel2GetSessionInfo hands out a SessionInfo in host order. */
#ifndef QEL2_RECORDS_H
#define QEL2_RECORDS_H

#include "qel2_defs.h"

QEL2_EXTERN_C_BEGIN

/* ---- identifiers ---- */
#define QEL2_SESSION_HANDLE_MASK 0x3FFFFFFFu /* what requests carry of a session handle */
#define QEL2_APP_ID_MASK 0x3FFFC000u         /* what requests carry of an application id */
#define QEL2_DEVICE_SHIFT 30                 /* device index: bits 30-31 */
#define QEL2_APP_INDEX_SHIFT 14              /* application index: bits 14-23 */
#define QEL2_APP_INDEX_MASK 0x3FFu
#define QEL2_PARTITION_SHIFT 24 /* session handle: partition in bits 24-29 */
#define QEL2_PARTITION_MASK 0x3Fu
#define QEL2_MAX_DEVICES 16
#define QEL2_MAX_APPLICATIONS 1024

/* ---- user types ---- */
typedef enum UserType {
  KQ_CRYPTO_USER = 1,
  KQ_CRYPTO_OFFICER = 2,
  KQ_CRYPTO_PCO = 3,
  KQ_2FA_CRYPTO_USER = 4,
  KQ_APPLIANCE_USER = 5,
  KQ_CRYPTO_PRE_OFFICER = 6
} UserType;

/* ---- sessions ---- */
typedef enum SessionFlag { FLAG_RW_SESSION = 2, FLAG_SERIAL_SESSION = 4 } SessionFlag;

/* C++ gets the 32-bit underlying type C uses anyway, so that a state read
 * from a raw (big-endian) record is still a value of the type. */
#ifdef __cplusplus
typedef enum _SessionState : Uint32 {
#else
typedef enum _SessionState {
#endif
  STATE_RO_PUBLIC_SESSION = 0,
  STATE_RO_USER_FUNCTIONS = 1,
  STATE_RW_PUBLIC_SESSION = 2,
  STATE_RW_USER_FUNCTIONS = 3,
  STATE_RW_CO_FUNCTIONS = 4,
  STATE_RW_APP_USER_FUNCTIONS = 5,
  STATE_RW_PRE_CO_FUNCTIONS = 6,
  STATE_RW_PUBLIC_CO_DEFAULT_SESSION = 7
} SessionState;
QEL2_STATIC_ASSERT(sizeof(SessionState) == 4, "SessionState is 32-bit");

typedef struct _SessionInfo {
  Uint32 slotID;
  SessionState state;
  Uint32 flags;
  Uint32 deviceError;
} SessionInfo;
QEL2_STATIC_ASSERT(sizeof(SessionInfo) == 16, "SessionInfo is 16 bytes");
QEL2_STATIC_ASSERT(offsetof(SessionInfo, state) == 4, "state at 4");
QEL2_STATIC_ASSERT(offsetof(SessionInfo, flags) == 8, "flags at 8");
QEL2_STATIC_ASSERT(offsetof(SessionInfo, deviceError) == 12, "deviceError at 12");

/* ---- common heads ---- */

/* Bits of the common-flags word by value; the word is sent big-endian. */
typedef struct CommonFlags {
  Uint32 common_flag : 8;
  Uint32 get_new_attrs : 4;
  Uint32 get_nd_attrs : 1;
  Uint32 isPkcsPad : 1;
  Uint32 rsvd : 18;
} CommonFlags;
#define QEL2_COMMON_FLAG_SHIFT 0
#define QEL2_GET_NEW_ATTRS_SHIFT 8
#define QEL2_GET_ND_ATTRS_SHIFT 12
#define QEL2_IS_PKCS_PAD_SHIFT 13

typedef struct CommandHeaderWithSession {
  Uint32 reserved[2];
  Uint32 ulFlags;
  Uint32 ulSessionHandle;
  union {
    Uint32 reserved1;
    CommonFlags commonFlags;
  };
} CommandHeaderWithSession;
QEL2_STATIC_ASSERT(sizeof(CommandHeaderWithSession) == 20, "CommandHeaderWithSession is 20 bytes");
QEL2_STATIC_ASSERT(offsetof(CommandHeaderWithSession, ulFlags) == 8, "ulFlags at 8");
QEL2_STATIC_ASSERT(offsetof(CommandHeaderWithSession, ulSessionHandle) == 12,
                   "ulSessionHandle at 12");
QEL2_STATIC_ASSERT(offsetof(CommandHeaderWithSession, reserved1) == 16, "reserved1 at 16");

typedef struct CommandHeaderWithNoSession {
  Uint8 reserved[12];
  Uint32 login_nonce;
} CommandHeaderWithNoSession;
QEL2_STATIC_ASSERT(sizeof(CommandHeaderWithNoSession) == 16,
                   "CommandHeaderWithNoSession is 16 bytes");
QEL2_STATIC_ASSERT(offsetof(CommandHeaderWithNoSession, login_nonce) == 12, "login_nonce at 12");

typedef struct ResponseHeader {
  Uint32 ulResponseCode;
  Uint32 ulFlags;
  Uint32 ulTotalSize;
  Uint32 ulBufferSize;
} ResponseHeader;
QEL2_STATIC_ASSERT(sizeof(ResponseHeader) == 16, "ResponseHeader is 16 bytes");

typedef struct StdSessionCommand {
  CommandHeaderWithSession header;
} StdSessionCommand;
typedef StdSessionCommand ZeroizeCommand;
typedef StdSessionCommand ShutdownCommand;
typedef StdSessionCommand GetSessionInfoCommand;
typedef StdSessionCommand LogoutCommand;
typedef StdSessionCommand CreateObjectCommand;
typedef StdSessionCommand FindObjectsCommand;
typedef StdSessionCommand AuditSignCommand;
typedef StdSessionCommand CloseSessionCommand;
QEL2_STATIC_ASSERT(sizeof(StdSessionCommand) == 20, "StdSessionCommand is 20 bytes");

typedef struct StdNoSessionCommand {
  CommandHeaderWithNoSession header;
} StdNoSessionCommand;
QEL2_STATIC_ASSERT(sizeof(StdNoSessionCommand) == 16, "StdNoSessionCommand is 16 bytes");

typedef struct StdResponse {
  ResponseHeader header;
} StdResponse;
typedef StdResponse AppFinalizeResponse;
typedef StdResponse CloseSessionResponse;
typedef StdResponse LoginResponse;
typedef StdResponse DeleteObjectResponse;
typedef StdResponse SetAttributeResponse;
typedef StdResponse ZeroizeResponse;
QEL2_STATIC_ASSERT(sizeof(StdResponse) == 16, "StdResponse is 16 bytes");

/* ---- application start and end ---- */
#define QEL2_PARTITION_NAME_FIELD 16 /* name field; at most 15 characters */

typedef struct AppInitCommandNew {
  CommandHeaderWithNoSession header;
  Uint8 token_name[QEL2_PARTITION_NAME_FIELD];
} AppInitCommandNew;
QEL2_STATIC_ASSERT(sizeof(AppInitCommandNew) == 32, "AppInitCommandNew is 32 bytes");
QEL2_STATIC_ASSERT(offsetof(AppInitCommandNew, token_name) == 16, "token_name at 16");

typedef struct AppInitResponse {
  ResponseHeader header;
  Uint32 ulAppIdentifier;
} AppInitResponse;
QEL2_STATIC_ASSERT(sizeof(AppInitResponse) == 20, "AppInitResponse is 20 bytes");

typedef struct AppFinalizeCommand {
  CommandHeaderWithNoSession header;
  Uint32 ulAppIdentifier;
  Uint32 ulAppLoginNonce;
} AppFinalizeCommand;
QEL2_STATIC_ASSERT(sizeof(AppFinalizeCommand) == 24, "AppFinalizeCommand is 24 bytes");
QEL2_STATIC_ASSERT(offsetof(AppFinalizeCommand, ulAppIdentifier) == 16, "ulAppIdentifier at 16");
QEL2_STATIC_ASSERT(offsetof(AppFinalizeCommand, ulAppLoginNonce) == 20, "ulAppLoginNonce at 20");

/* ---- sessions ---- */
typedef struct OpenSessionCommand {
  CommandHeaderWithNoSession header;
  Uint32 ulSessionType;
  Uint16 slotID;
  Uint16 rsvd1;
  Uint32 rsvd2;
  Uint32 ulAppId;
  Uint8 make_master;
  Uint8 pad[3];
} OpenSessionCommand;
QEL2_STATIC_ASSERT(sizeof(OpenSessionCommand) == 36, "OpenSessionCommand is 36 bytes");
QEL2_STATIC_ASSERT(offsetof(OpenSessionCommand, ulSessionType) == 16, "ulSessionType at 16");
QEL2_STATIC_ASSERT(offsetof(OpenSessionCommand, slotID) == 20, "slotID at 20");
QEL2_STATIC_ASSERT(offsetof(OpenSessionCommand, rsvd2) == 24, "rsvd2 at 24");
QEL2_STATIC_ASSERT(offsetof(OpenSessionCommand, ulAppId) == 28, "ulAppId at 28");
QEL2_STATIC_ASSERT(offsetof(OpenSessionCommand, make_master) == 32, "make_master at 32");

#define QEL2_SERVER_RANDOM_LEN 32

typedef struct OpenSessionResponse {
  ResponseHeader header;
  Uint32 ulSessionHandle;
} OpenSessionResponse;
QEL2_STATIC_ASSERT(sizeof(OpenSessionResponse) == 20, "OpenSessionResponse is 20 bytes");
QEL2_STATIC_ASSERT(offsetof(OpenSessionResponse, ulSessionHandle) == 16, "ulSessionHandle at 16");

typedef struct AuthorizeSessionCommand {
  CommandHeaderWithSession header;
  Uint32 targetSession;
} AuthorizeSessionCommand;
QEL2_STATIC_ASSERT(sizeof(AuthorizeSessionCommand) == 24, "AuthorizeSessionCommand is 24 bytes");

typedef struct ClosePartitionSessionsCommand {
  CommandHeaderWithSession header;
  Uint8 partition_name[QEL2_PARTITION_NAME_FIELD];
} ClosePartitionSessionsCommand;
QEL2_STATIC_ASSERT(sizeof(ClosePartitionSessionsCommand) == 36,
                   "ClosePartitionSessionsCommand is 36 bytes");

typedef struct GetSessionInfoResponse {
  ResponseHeader header;
  SessionInfo info;
} GetSessionInfoResponse;
QEL2_STATIC_ASSERT(sizeof(GetSessionInfoResponse) == 32, "GetSessionInfoResponse is 32 bytes");
QEL2_STATIC_ASSERT(offsetof(GetSessionInfoResponse, info) == 16, "info at 16");

/* Session-encryption handshake segment sizes. */
#define QEL2_ENCRYPTED_PMS_LEN 256
#define QEL2_CLIENT_RANDOM_LEN 32
#define QEL2_CLIENT_FINISH_IV_LEN 8
#define QEL2_ENCRYPTED_FINISH_LEN 40

/* ---- login ---- */
#define QEL2_LOGIN_NAME_FIELD 32
#define QEL2_LOGIN_BODY_LEN 421    /* the whole login body, whatever the password */
#define QEL2_LOGIN_SECRET_ROOM 356 /* room for the password and the signature */
#define QEL2_LOGIN_SIGNATURE_LEN 256
#define QEL2_LOGIN_FLAG_SIGNED 0x40000000u

typedef struct LoginCommand {
  CommandHeaderWithSession header;
  Uint32 ulUserType;
  Uint32 ulNameLen;
  Uint8 ucName[QEL2_LOGIN_NAME_FIELD];
  Uint32 ulPswdLen;
} LoginCommand;
QEL2_STATIC_ASSERT(sizeof(LoginCommand) == 64, "LoginCommand is 64 bytes");
QEL2_STATIC_ASSERT(offsetof(LoginCommand, ulUserType) == 20, "ulUserType at 20");
QEL2_STATIC_ASSERT(offsetof(LoginCommand, ulNameLen) == 24, "ulNameLen at 24");
QEL2_STATIC_ASSERT(offsetof(LoginCommand, ucName) == 28, "ucName at 28");
QEL2_STATIC_ASSERT(offsetof(LoginCommand, ulPswdLen) == 60, "ulPswdLen at 60");

typedef struct GetLFCRequest {
  Uint32 ulUserType;
  Uint8 name[QEL2_LOGIN_NAME_FIELD];
} GetLFCRequest;
QEL2_STATIC_ASSERT(sizeof(GetLFCRequest) == 36, "GetLFCRequest is 36 bytes");

/* ---- HSM and partition information ---- */
typedef struct MfgId {
  Uint32 dev_id;
  Uint32 class_code;
  Uint32 vendor_id;
  Uint32 subsystem_id;
} MfgId;
QEL2_STATIC_ASSERT(sizeof(MfgId) == 16, "MfgId is 16 bytes");

typedef struct _HSMInfo {
  Uint8 label[50];
  Uint8 model[32];
  Uint8 serialNumber[32];
  Uint32 uiFlags;
  Uint32 uiMaxSessionCount;
  Uint32 uiSessionCount;
  Uint32 uiMaxRwSessionCount;
  Uint32 uiRwSessionCount;
  Uint32 uiMaxPinLen;
  Uint32 uiMinPinLen;
  Uint32 uiTotalRAM;
  Uint32 uiFreeRAM;
  Uint32 uiTotalFlash;
  Uint32 uiFreeFlash;
  Uint32 uiUserLoginFailureCount;
  Uint32 uiCOLoginFailureCount;
  Uint32 uiFipsState;
  Uint32 uiMaxUserKeys;
  Uint32 uiOccupiedUserKeys;
  Uint32 uiMaxSSLContexts;
  Uint32 uiAvailableSSLContexts;
  Uint32 uiMasterConfig;
  Uint32 uiSlaveConfig;
  MfgId manufacturerID;
  struct {
    Uint8 major;
    Uint8 minor;
  } hardwareVersion;
  struct {
    Uint8 major;
    Uint8 minor;
  } firmwareVersion;
  Uint8 utcTime[16];
  Uint32 uiMaxSessionKeys;
  Uint32 uiOccupiedSessionKeys;
  Uint32 uiCloningMethod;
  Uint32 uiKekMethod;
  Uint32 uiAuthPath;
  Int32 uiTemperature;
  Uint8 buildNum[16];
  Uint8 firmwareString[64];
  Uint8 partNumber[64];
  Uint8 vendor_key_fingerprint[8];
  Uint8 MCO_key_fingerprint[8];
  Uint32 filesys_available[4];
  Uint32 fpa_que_available[4];
  Uint32 num_fds;
  char rtcTime[128];
  Uint8 bootloaderString[64];
} HSMInfo;
QEL2_STATIC_ASSERT(sizeof(HSMInfo) == 644, "HSMInfo is 644 bytes");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, model) == 50, "model at 50");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, serialNumber) == 82, "serialNumber at 82");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, uiFlags) == 116, "uiFlags at 116");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, uiMaxPinLen) == 136, "uiMaxPinLen at 136");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, uiUserLoginFailureCount) == 160,
                   "uiUserLoginFailureCount at 160");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, uiFipsState) == 168, "uiFipsState at 168");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, uiSlaveConfig) == 192, "uiSlaveConfig at 192");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, manufacturerID) == 196, "manufacturerID at 196");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, hardwareVersion) == 212, "hardwareVersion at 212");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, firmwareVersion) == 214, "firmwareVersion at 214");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, utcTime) == 216, "utcTime at 216");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, uiMaxSessionKeys) == 232, "uiMaxSessionKeys at 232");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, uiTemperature) == 252, "uiTemperature at 252");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, buildNum) == 256, "buildNum at 256");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, firmwareString) == 272, "firmwareString at 272");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, partNumber) == 336, "partNumber at 336");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, vendor_key_fingerprint) == 400,
                   "vendor_key_fingerprint at 400");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, MCO_key_fingerprint) == 408, "MCO_key_fingerprint at 408");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, filesys_available) == 416, "filesys_available at 416");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, fpa_que_available) == 432, "fpa_que_available at 432");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, num_fds) == 448, "num_fds at 448");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, rtcTime) == 452, "rtcTime at 452");
QEL2_STATIC_ASSERT(offsetof(HSMInfo, bootloaderString) == 580, "bootloaderString at 580");

typedef struct GetHSMInfoResponse {
  ResponseHeader header;
  Uint32 ulDataSize;
  HSMInfo info;
} GetHSMInfoResponse;
QEL2_STATIC_ASSERT(sizeof(GetHSMInfoResponse) == 664, "GetHSMInfoResponse is 664 bytes");
QEL2_STATIC_ASSERT(offsetof(GetHSMInfoResponse, info) == 20, "info at 20");
/* Older HSMs answer only up to and including partNumber. */
#define QEL2_HSM_INFO_RESPONSE_OLD_LEN 420

typedef struct PartitionInfo {
  Uint8 name[16];
  Uint8 status;
  Uint8 reserved1[3];
  Uint32 MaxPinLen;
  Uint32 MinPinLen;
  Uint32 SessionCount;
  Uint32 RwSessionCount;
  Uint32 partn_policy_bits;
  Uint16 MaxUsers;
  Uint16 AvailableUsers;
  Uint8 AuditStatus : 2;
  Uint8 status_reserved : 6;
  Uint8 reserved;
  Uint8 KeyImport;
  Uint8 KeyExport;
  Uint8 FipsState;
  Uint8 reserved3[3];
  Uint32 MaxKeys;
  Uint32 OccupiedTokenKeys;
  Uint32 reserved4;
  Uint32 OccupiedSessionKeys;
  Uint32 MaxSSLContexts;
  Uint32 OccupiedSSLContexts;
  Uint8 MaxAcclrDevs;
  Uint8 reserved5[7];
  Uint8 backup_by_mco : 1;
  Uint8 block_delete_user : 1;
  Uint8 hsmAuditEnable : 1;
  Uint8 reserved_flags : 5;
  Uint8 CloningMethod;
  Uint8 KekMethod;
  Uint8 certAuth;
  Uint16 NValue;
  Uint8 MValue[5];
  Uint8 reserved6;
  Uint32 node_id;
  Uint8 g_id[32];
  union {
    Uint8 MCO_key_fingerprint[8];
    Uint8 PCO_key_fingerprint[8];
  };
  Uint8 reserved7[108];
} PartitionInfo;
QEL2_STATIC_ASSERT(sizeof(PartitionInfo) == 248, "PartitionInfo is 248 bytes");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, status) == 16, "status at 16");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, MaxPinLen) == 20, "MaxPinLen at 20");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, partn_policy_bits) == 36, "partn_policy_bits at 36");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, MaxUsers) == 40, "MaxUsers at 40");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, AvailableUsers) == 42, "AvailableUsers at 42");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, reserved) == 45, "reserved at 45");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, KeyImport) == 46, "KeyImport at 46");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, FipsState) == 48, "FipsState at 48");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, MaxKeys) == 52, "MaxKeys at 52");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, OccupiedSessionKeys) == 64, "OccupiedSessionKeys at 64");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, OccupiedSSLContexts) == 72, "OccupiedSSLContexts at 72");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, MaxAcclrDevs) == 76, "MaxAcclrDevs at 76");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, CloningMethod) == 85, "CloningMethod at 85");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, certAuth) == 87, "certAuth at 87");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, NValue) == 88, "NValue at 88");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, MValue) == 90, "MValue at 90");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, reserved6) == 95, "reserved6 at 95");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, node_id) == 96, "node_id at 96");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, g_id) == 100, "g_id at 100");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, MCO_key_fingerprint) == 132, "fingerprint at 132");
QEL2_STATIC_ASSERT(offsetof(PartitionInfo, reserved7) == 140, "reserved7 at 140");

typedef struct GetPartitionInfoCommand {
  CommandHeaderWithSession header;
  Uint8 ucPartitionName[QEL2_PARTITION_NAME_FIELD];
} GetPartitionInfoCommand;
QEL2_STATIC_ASSERT(sizeof(GetPartitionInfoCommand) == 36, "GetPartitionInfoCommand is 36 bytes");

typedef struct GetPartitionInfoResponse {
  ResponseHeader header;
  PartitionInfo info;
} GetPartitionInfoResponse;
QEL2_STATIC_ASSERT(sizeof(GetPartitionInfoResponse) == 264,
                   "GetPartitionInfoResponse is 264 bytes");

#define QEL2_FW_VERSION_LEN 50 /* what Qel2FWVersion reports as the version length */

QEL2_EXTERN_C_END

#endif
