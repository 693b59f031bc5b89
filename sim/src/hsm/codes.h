// Every code the stand-in HSM answers with: the firmware's response codes
// (management answers, and request statuses of requests it refuses), the
// crypto engine's codes (request statuses of raw-form requests) and the
// daemon's request statuses.
#pragma once

#include <cstdint>

namespace hsmsim::code {

inline constexpr uint32_t kOk = 0;

// The crypto engine (raw-form requests carry these as the request status).
inline constexpr uint32_t kBadOpcode = 0x01;  // ERR_BAD_OPCODE
inline constexpr uint32_t kBadRecord = 0x02;  // ERR_BAD_RECORD: segments not as the operation needs
inline constexpr uint32_t kPointAtInfinity = 0x06;    // ERR_POINT_AT_INFINITY
inline constexpr uint32_t kUnsupportedOpcode = 0x07;  // ERR_UNSUPPORTED_OPCODE
inline constexpr uint32_t kUnsupportedCurve = 0x08;   // ERR_UNSUPPORTED_CURVE
inline constexpr uint32_t kUnsupportedPrime = 0x09;   // ERR_UNSUPPORTED_PRIME
inline constexpr uint32_t kBadAdnlLen = 0x0A;         // ERR_BAD_ADNL_LEN
inline constexpr uint32_t kBadHmacDigest = 0x0C;      // ERR_BAD_HMAC_DIGEST
inline constexpr uint32_t kBadPadLen = 0x0E;          // ERR_BAD_PAD_LEN
inline constexpr uint32_t kBadLength = 0x0F;          // ERR_BAD_LENGTH
inline constexpr uint32_t kBadGcmKeyLength = 0x10;    // ERR_BAD_GCM_KEY_LENGTH
inline constexpr uint32_t kSignatureMismatch = 0x12;  // ERR_SIGNATURE_MISMATCH_V2
inline constexpr uint32_t kBadAuthType = 0x18;        // ERR_BAD_AUTH_TYPE: hash type
inline constexpr uint32_t kBadEncryptType = 0x19;     // ERR_BAD_ENCRYPT_TYPE: mode or padding word
inline constexpr uint32_t kBadPkcsData = 0x1B;        // ERR_BAD_PKCS_DATA
inline constexpr uint32_t kBadAesType = 0x24;         // ERR_BAD_AES_TYPE
inline constexpr uint32_t kBadPublicKey = 0x28;       // ERR_BAD_PUBLIC_KEY
inline constexpr uint32_t kBadDsivParam = 0x3C;       // ERR_BAD_DSIV_INCORRECT_PARAM: strict checks

// The firmware.
inline constexpr uint32_t kError = 0x80;           // RET_ERROR
inline constexpr uint32_t kInvalidInput = 0x81;    // RET_INVALID_INPUT
inline constexpr uint32_t kInvalidCommand = 0x82;  // RET_INVALID_COMMAND: opcode not served
inline constexpr uint32_t kAppNotInitialized =
    0x8A;  // RET_APP_NOT_INITIALIZED: unknown app id or wrong nonce
inline constexpr uint32_t kInvalidSession = 0x8B;       // RET_INVALID_SESSION
inline constexpr uint32_t kMaxSessions = 0x8C;          // RET_MAX_SESSIONS
inline constexpr uint32_t kUserAnotherLoggedIn = 0x9E;  // RET_USER_ANOTHER_ALREADY_LOGGED_IN
inline constexpr uint32_t kUserAlreadyLoggedIn = 0x9F;  // RET_USER_ALREADY_LOGGED_IN
inline constexpr uint32_t kUserNotLoggedIn = 0xA0;      // RET_USER_NOT_LOGGED_IN
inline constexpr uint32_t kUserLoginFailure =
    0xA3;  // RET_USER_LOGIN_FAILURE: wrong password or unknown user
inline constexpr uint32_t kUserLoginFailCount = 0xA4;     // RET_USER_LOGIN_FAIL_COUNT: user locked
inline constexpr uint32_t kUserTypeInvalid = 0xA5;        // RET_USER_TYPE_INVALID
inline constexpr uint32_t kUserPermissionDenied = 0xA7;   // RET_USER_PERMISION_DENIED
inline constexpr uint32_t kInvalidObjHandle = 0xA8;       // RET_INVALID_OBJ_HANDLE
inline constexpr uint32_t kAttributeValueInvalid = 0xAA;  // RET_ATTRIBUTE_VALUE_INVALID
inline constexpr uint32_t kMaxObjectsReached = 0xAB;      // RET_MAX_OBJECTS_REACHED
inline constexpr uint32_t kAttributeReadOnly = 0xAE;      // RET_ATTRIBUTE_READ_ONLY
inline constexpr uint32_t kAttributeTypeInvalid = 0xAF;   // RET_ATTRIBUTE_TYPE_INVALID
inline constexpr uint32_t kTemplateInconsistent = 0xB0;   // RET_TEMPLATE_INCONSISTENT
inline constexpr uint32_t kKeySizeRange = 0xB1;           // RET_KEY_SIZE_RANGE
inline constexpr uint32_t kResultSize = 0xB7;             // RET_RESULT_SIZE
inline constexpr uint32_t kInvalidPartitionId =
    0xBD;  // RET_INVALID_PARTITION_ID: no partition of that name
inline constexpr uint32_t kInvalidSessForPartition = 0xBE;  // RET_INVALID_SESS_ID_FOR_PARTITION
inline constexpr uint32_t kKeyAccessDenied = 0xC6;          // RET_KEY_ACCESS_DENIED
inline constexpr uint32_t kUserDoesNotExist = 0xCE;         // RET_USER_DOES_NOT_EXIST
inline constexpr uint32_t kInvalidMValue = 0xD1;            // RET_INVALID_M_VALUE
inline constexpr uint32_t kRestoreConsistency = 0xD6;       // RET_RESTORE_OBJECT_CONSISTENCY_ERR
inline constexpr uint32_t kRestoreOwner = 0xD7;             // RET_RESTORE_OBJECT_OWNER_ERR
inline constexpr uint32_t kMaxAppsReached = 0xD9;           // RET_MAX_APPS_REACHED
inline constexpr uint32_t kInvalidTombstoneObject = 0x101;  // RET_INVALID_TOMBSTONE_OBJECT
inline constexpr uint32_t kNotTombstoned = 0x102;           // RET_NOT_TOMBSTONED
inline constexpr uint32_t kTombstoned = 0x103;              // RET_TOMBSTONED
inline constexpr uint32_t kKeyTypeInconsistent = 0x118;     // RET_KEY_TYPE_INCONSISTENT
inline constexpr uint32_t kFunctionNotPermitted = 0x119;    // RET_FUNCTION_NOT_PERMITTED
inline constexpr uint32_t kKeyUnextractable = 0x11E;        // RET_KEY_UNEXTRACTABLE
inline constexpr uint32_t kInvalidCryptoMechanism = 0x11F;  // RET_INVALID_CRYPTO_MECHANISM

// The verdict of a management-form verification.
inline constexpr uint32_t kSignatureVerificationFailed = 0xEF;  // RET_SIGNATURE_VERIFICATION_FAILED

// The daemon.
inline constexpr uint32_t kRetryOp = 0x40000053;  // TESSALINE_RETRY_OP, a request status

// ---- administration ----
inline constexpr uint32_t kHsmNotInitialized = 0x87;         // RET_HSM_NOT_INITIALIZED
inline constexpr uint32_t kHsmInitInProgress = 0x88;         // RET_HSM_INIT_IN_PROGRESS
inline constexpr uint32_t kHsmAlreadyInitialized = 0x89;     // RET_HSM_ALREADY_INITIALIZED
inline constexpr uint32_t kUserExists = 0xA6;                // RET_USER_EXIST
inline constexpr uint32_t kPermissionDenied = 0xA7;          // RET_USER_PERMISION_DENIED
inline constexpr uint32_t kInvalidObjectHandle = 0xA8;       // RET_INVALID_OBJ_HANDLE
inline constexpr uint32_t kInvalidPolicy = 0xB2;             // RET_INVALID_POLICY
inline constexpr uint32_t kInvalidPolicyValue = 0xB4;        // RET_INVALID_POLICY_VALUE
inline constexpr uint32_t kInvalidPartitionSize = 0xBF;      // RET_INVALID_PARTITION_SIZE
inline constexpr uint32_t kMaxUsers = 0xC0;                  // RET_MAX_USERS
inline constexpr uint32_t kMaxPartitions = 0xC3;             // RET_MAX_PARTITIONS
inline constexpr uint32_t kPartitionExists = 0xC4;           // RET_PARTITION_EXISTS
inline constexpr uint32_t kLoggedInUserChangeDenied = 0xC8;  // RET_LOGGED_IN_USER_CHANGE_DENIED
inline constexpr uint32_t kPartitionDelDenied = 0xCA;        // RET_PARTITION_DEL_DENIED
inline constexpr uint32_t kPartitionHasUsers = 0xDD;         // RET_PARTITION_ALREADY_HAS_USERS
inline constexpr uint32_t kPartitionHasObjects = 0xE0;       // RET_PARTITION_ALREADY_HAS_OBJECTS
inline constexpr uint32_t kPswdLenMismatch = 0xFF;           // RET_PSWD_LEN_MISMATCH
inline constexpr uint32_t kLogEmpty = 0x106;                 // RET_LOG_EMPTY

// ---- backup and restore ----
inline constexpr uint32_t kOperationInProgress = 0xB8;    // RET_OPERATION_IN_PROGRESS
inline constexpr uint32_t kKeyStoreFull = 0xD8;           // RET_PARTITION_KEY_STORE_FULL
inline constexpr uint32_t kNoUsersToBackup = 0xDC;        // RET_NO_USERS_TO_BACKUP
inline constexpr uint32_t kIntegrityCheckFailed = 0x104;  // RET_INTEGRITY_CHECK_FAILED
// ---- maintenance: firmware, cloning, diagnostics ----
inline constexpr uint32_t kZeroize = 0xFA;  // RET_ZEROIZE: a firmware update that zeroised the HSM

}  // namespace hsmsim::code
