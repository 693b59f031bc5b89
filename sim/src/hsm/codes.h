// The response codes and request statuses the stand-in HSM answers with.
#pragma once

#include <cstdint>

namespace hsmsim::code {

inline constexpr uint32_t kOk = 0;
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
inline constexpr uint32_t kUserLoginFailCount = 0xA4;  // RET_USER_LOGIN_FAIL_COUNT: user locked
inline constexpr uint32_t kUserTypeInvalid = 0xA5;     // RET_USER_TYPE_INVALID
inline constexpr uint32_t kResultSize = 0xB7;          // RET_RESULT_SIZE
inline constexpr uint32_t kInvalidPartitionId =
    0xBD;  // RET_INVALID_PARTITION_ID: no partition of that name
inline constexpr uint32_t kInvalidSessForPartition = 0xBE;  // RET_INVALID_SESS_ID_FOR_PARTITION
inline constexpr uint32_t kUserDoesNotExist = 0xCE;         // RET_USER_DOES_NOT_EXIST
inline constexpr uint32_t kMaxAppsReached = 0xD9;           // RET_MAX_APPS_REACHED

inline constexpr uint32_t kRetryOp = 0x40000053;  // TESSALINE_RETRY_OP, a request status

}  // namespace hsmsim::code
