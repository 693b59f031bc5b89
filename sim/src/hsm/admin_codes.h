// Response codes of the administration requests (beside hsm/codes.h).
#pragma once

#include <cstdint>

namespace hsmsim::code {

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

}  // namespace hsmsim::code
