// Opcodes of the second part of administration (command type 0 unless stated).
#pragma once

#include <cstdint>

namespace hsmsim::hsm::op {

inline constexpr uint16_t kGetMValue = 163;
inline constexpr uint16_t kSetMValue = 164;
inline constexpr uint16_t kPartnStorageUpdate = 192;
inline constexpr uint16_t kPartnStorageGet = 193;
inline constexpr uint16_t kPartnStorageDelete = 194;
inline constexpr uint16_t kGetToken = 218;
inline constexpr uint16_t kApproveToken = 219;
inline constexpr uint16_t kListTokens = 220;
inline constexpr uint16_t kDeleteToken = 222;
inline constexpr uint16_t kTokenTimeout = 224;

}  // namespace hsmsim::hsm::op
