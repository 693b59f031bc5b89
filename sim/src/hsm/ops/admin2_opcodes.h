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
inline constexpr uint16_t kStoreKbkShare = 217;
inline constexpr uint16_t kWrapKbk = 166;
inline constexpr uint16_t kUnwrapKbk = 167;

// Command type KQ_CERT_AUTH_CMD: the opcode is the sub-operation.
inline constexpr uint16_t kCertAuthCommand = 9;
namespace cert {
inline constexpr uint16_t kRecvPeerCert = 0;
inline constexpr uint16_t kSecureBoot = 1;
inline constexpr uint16_t kStoreCert = 2;
inline constexpr uint16_t kGetCertReq = 3;
inline constexpr uint16_t kGetCert = 4;
inline constexpr uint16_t kGetSourceRandom = 5;
inline constexpr uint16_t kValidateTargetCerts = 6;
inline constexpr uint16_t kSourceKeyExchange = 7;
inline constexpr uint16_t kTargetKeyExchange = 8;
}  // namespace cert

}  // namespace hsmsim::hsm::op
