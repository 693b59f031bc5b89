// The response codes of the object store's operations.
#pragma once

#include <cstdint>

#include "hsm/codes.h"

namespace hsmsim::hsm::obj::rc {

inline constexpr uint32_t kOk = code::kOk;
inline constexpr uint32_t kInvalidInput = code::kInvalidInput;        // RET_INVALID_INPUT
inline constexpr uint32_t kInvalidSession = code::kInvalidSession;    // RET_INVALID_SESSION
inline constexpr uint32_t kUserNotLoggedIn = code::kUserNotLoggedIn;  // RET_USER_NOT_LOGGED_IN
inline constexpr uint32_t kResultSize = code::kResultSize;            // RET_RESULT_SIZE
inline constexpr uint32_t kInvalidPartitionId = code::kInvalidPartitionId;
inline constexpr uint32_t kInvalidSessForPartition = code::kInvalidSessForPartition;
inline constexpr uint32_t kUserDoesNotExist = code::kUserDoesNotExist;  // RET_USER_DOES_NOT_EXIST
inline constexpr uint32_t kUserPermissionDenied = 0xA7;                 // RET_USER_PERMISION_DENIED
inline constexpr uint32_t kInvalidObjHandle = 0xA8;                     // RET_INVALID_OBJ_HANDLE
inline constexpr uint32_t kAttributeValueInvalid = 0xAA;    // RET_ATTRIBUTE_VALUE_INVALID
inline constexpr uint32_t kMaxObjectsReached = 0xAB;        // RET_MAX_OBJECTS_REACHED
inline constexpr uint32_t kAttributeReadOnly = 0xAE;        // RET_ATTRIBUTE_READ_ONLY
inline constexpr uint32_t kAttributeTypeInvalid = 0xAF;     // RET_ATTRIBUTE_TYPE_INVALID
inline constexpr uint32_t kTemplateInconsistent = 0xB0;     // RET_TEMPLATE_INCONSISTENT
inline constexpr uint32_t kKeySizeRange = 0xB1;             // RET_KEY_SIZE_RANGE
inline constexpr uint32_t kKeyAccessDenied = 0xC6;          // RET_KEY_ACCESS_DENIED
inline constexpr uint32_t kInvalidMValue = 0xD1;            // RET_INVALID_M_VALUE
inline constexpr uint32_t kRestoreConsistency = 0xD6;       // RET_RESTORE_OBJECT_CONSISTENCY_ERR
inline constexpr uint32_t kRestoreOwner = 0xD7;             // RET_RESTORE_OBJECT_OWNER_ERR
inline constexpr uint32_t kInvalidTombstoneObject = 0x101;  // RET_INVALID_TOMBSTONE_OBJECT
inline constexpr uint32_t kNotTombstoned = 0x102;           // RET_NOT_TOMBSTONED
inline constexpr uint32_t kTombstoned = 0x103;              // RET_TOMBSTONED
inline constexpr uint32_t kKeyTypeInconsistent = 0x118;     // RET_KEY_TYPE_INCONSISTENT
inline constexpr uint32_t kKeyUnextractable = 0x11E;        // RET_KEY_UNEXTRACTABLE
inline constexpr uint32_t kInvalidCryptoMechanism = 0x11F;  // RET_INVALID_CRYPTO_MECHANISM

}  // namespace hsmsim::hsm::obj::rc
