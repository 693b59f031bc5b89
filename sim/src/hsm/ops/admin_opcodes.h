// Opcodes of the administration requests (command type 0 unless stated).
// Several share numbers with opcodes of other command types: the table
// keys handlers on both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hsmsim::hsm {

inline constexpr uint16_t kFwPartitionInfoCommand = 0xFEFF;  // raw partition table, opcode 0
inline constexpr size_t kUserRecordSize = 64;                // CreateUserCommand / SetPINCommand

namespace op {
inline constexpr uint16_t kZeroize = 0;
inline constexpr uint16_t kInitToken = 1;
inline constexpr uint16_t kCreateUser = 3;
inline constexpr uint16_t kCreateOfficer = 4;
inline constexpr uint16_t kVendorZeroize = 6;
inline constexpr uint16_t kChangePassword = 9;
inline constexpr uint16_t kKeyHandlesHash = 32;
inline constexpr uint16_t kCreatePreOfficer = 35;
inline constexpr uint16_t kSetNodeId = 47;
inline constexpr uint16_t kSingleKeyHandleHash = 52;
inline constexpr uint16_t kSetPolicy = 113;
inline constexpr uint16_t kGetPolicySet = 114;
inline constexpr uint16_t kInitDone = 149;
inline constexpr uint16_t kSlaveConfig = 154;
inline constexpr uint16_t kCreatePartition = 158;
inline constexpr uint16_t kDeletePartition = 159;
inline constexpr uint16_t kResizePartition = 160;
inline constexpr uint16_t kDeleteUser = 161;
inline constexpr uint16_t kAllPartitionInfo = 165;
inline constexpr uint16_t kGetPartitionCount = 184;
inline constexpr uint16_t kGetHsmLabel = 189;
inline constexpr uint16_t kAuditDetails = 208;
inline constexpr uint16_t kAuditLogs = 209;
inline constexpr uint16_t kAuditSign = 213;
inline constexpr uint16_t kFinalizeLogs = 223;
inline constexpr uint16_t kShutdown = 244;
inline constexpr uint16_t kCreateApplianceUser = 252;
inline constexpr uint16_t kListUsers = 253;
inline constexpr uint16_t kRawPartitionTable = 0;        // command type kFwPartitionInfoCommand
inline constexpr uint16_t kTranslatePartitionTable = 1;  // command type kFwPartitionInfoCommand
}  // namespace op

}  // namespace hsmsim::hsm
