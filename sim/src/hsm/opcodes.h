// The command types and opcodes the stand-in HSM serves: management opcodes
// (command type 0, big-endian records) and the raw-form opcode word of the
// cryptographic requests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hsmsim::hsm {

// Command types (request descriptor).
inline constexpr uint16_t kMgmtCommand = 0;          // KQ_MGMT_CMD: management records
inline constexpr uint16_t kCryptoCommand = 1;        // KQ_VANTOR_CMD: raw form, no key object
inline constexpr uint16_t kMgmtVnxCommand = 2;       // KQ_MGMT_VNX_CMD: management records
inline constexpr uint16_t kTlsKeyCommand = 3;        // KQ_VNX_KEY_CMD: TLS with a key object
inline constexpr uint16_t kCryptoKeyCommand = 4;     // KQ_NON_SSL_VANTOR_CMD: raw form, key object
inline constexpr uint16_t kCryptoCtxKeyCommand = 7;  // KQ_VNX_CTX_KEY_CMD: result kept in a context
inline constexpr uint16_t kTunnelCommand = 0xEEE0;   // FW_TUNNEL_INPUT_CMD

// Requests of the management form answer a ResponseHeader record in output
// segment 0; every other command type is of the raw form (Call::raw()).
inline constexpr bool is_management_form(uint16_t command_type) {
  return command_type == kMgmtCommand || command_type == kMgmtVnxCommand;
}

// Raw-form opcode word: minor << 8 | DMA bit << 7 | major. Handlers are
// registered under raw_opcode(major, minor); the DMA bit of a request is
// not part of the lookup.
inline constexpr uint16_t kDmaBit = 0x80;
inline constexpr uint16_t raw_opcode(uint8_t major, uint8_t minor) {
  return static_cast<uint16_t>(minor << 8 | (major & 0x7F));
}
inline constexpr uint8_t major_of(uint16_t opcode) { return opcode & 0x7F; }
inline constexpr uint8_t minor_of(uint16_t opcode) { return static_cast<uint8_t>(opcode >> 8); }

// Major operations of the raw form.
namespace major {
inline constexpr uint8_t kRandom = 0x01;  // also RC4 key load (minor 9)
inline constexpr uint8_t kRsaLarge = 0x02;
inline constexpr uint8_t kRsa = 0x04;
inline constexpr uint8_t kHash = 0x06;
inline constexpr uint8_t kHmac = 0x07;
inline constexpr uint8_t kTunnel = 0x0D;
inline constexpr uint8_t kCipher = 0x0E;
inline constexpr uint8_t kAesCtr = 0x18;
inline constexpr uint8_t kEc = 0x1E;
}  // namespace major

// Management opcodes.
namespace op {
inline constexpr uint16_t kLogin = 13;
inline constexpr uint16_t kLogout = 14;
inline constexpr uint16_t kCreateObject = 15;
inline constexpr uint16_t kGetObjectInfo = 16;
inline constexpr uint16_t kDestroyObject = 17;
inline constexpr uint16_t kShareObject = 18;
inline constexpr uint16_t kGetAttributeValue = 19;
inline constexpr uint16_t kGetAttributeSize = 20;
inline constexpr uint16_t kModifyObject = 21;
inline constexpr uint16_t kFindObjects = 22;
inline constexpr uint16_t kGenerateKey = 23;
inline constexpr uint16_t kGenerateKeyPair = 25;
inline constexpr uint16_t kUnwrapKey = 27;
inline constexpr uint16_t kExportPubKey = 31;
inline constexpr uint16_t kGetAllAttributeSize = 33;
inline constexpr uint16_t kGetAllAttributeValue = 34;
inline constexpr uint16_t kOpenSession = 36;
inline constexpr uint16_t kCloseAllSessions = 37;
inline constexpr uint16_t kCloseSession = 38;
inline constexpr uint16_t kGetSessionInfo = 39;
inline constexpr uint16_t kClosePartitionSessions = 43;
inline constexpr uint16_t kTombstoneObject = 45;
inline constexpr uint16_t kDeleteTombstonedObject = 46;
inline constexpr uint16_t kSign = 49;
inline constexpr uint16_t kVerify = 50;
inline constexpr uint16_t kEccDh = 51;
inline constexpr uint16_t kDeriveKey = 69;
inline constexpr uint16_t kPacKeyHs = 96;
inline constexpr uint16_t kExportSks = 97;
inline constexpr uint16_t kExtractMaskedObject = 129;
inline constexpr uint16_t kInsertMaskedObject = 130;
inline constexpr uint16_t kAppInitialize = 146;
inline constexpr uint16_t kAppFinalize = 147;
inline constexpr uint16_t kTokenInfo = 148;
inline constexpr uint16_t kGetVersion = 152;
inline constexpr uint16_t kGeneratePbeKey = 155;
inline constexpr uint16_t kPartitionInfo = 162;
inline constexpr uint16_t kFindObjectsFromIndex = 191;
inline constexpr uint16_t kFindObjectsUsingCount = 205;
inline constexpr uint16_t kFindAllObjectsUsingCount = 206;
inline constexpr uint16_t kAuthorizeSession = 221;
inline constexpr uint16_t kWrapKey2 = 225;
inline constexpr uint16_t kUnwrapKey2 = 226;
inline constexpr uint16_t kNistAesWrapUnwrap2 = 227;
inline constexpr uint16_t kExtractMaskedObjectUser = 240;
inline constexpr uint16_t kInsertMaskedObjectUser = 241;
inline constexpr uint16_t kFindAllObjectsInRange = 242;
inline constexpr uint16_t kFindAllObjects = 243;
inline constexpr uint16_t kGetLoginFailureCount = 254;
}  // namespace op

// Opcodes of command type KQ_MGMT_VNX_CMD (management records).
namespace vnx {
inline constexpr uint16_t kAllocSslCtx = 1;
inline constexpr uint16_t kFreeSslCtx = 2;
inline constexpr uint16_t kGenPmk = 4;
inline constexpr uint16_t kFipsRand = 5;
}  // namespace vnx

// ---- administration (command type 0 unless stated). Several share numbers
// with opcodes of other command types: the table keys handlers on both. ----
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

namespace op {
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
}  // namespace op

// Key-encryption and password-encryption key establishment.
namespace op {
inline constexpr uint16_t kGenKeyEncKey = 28;
inline constexpr uint16_t kGenPswdEncKey = 29;
}  // namespace op

// Backup and restore: partition scope, then HSM scope where there is one.
namespace op {
inline constexpr uint16_t kBackupBegin = 168, kBackupHsmBegin = 169;
inline constexpr uint16_t kBackupConfig = 170, kBackupHsmConfig = 171;
inline constexpr uint16_t kBackupUsers = 172, kBackupHsmUsers = 173;
inline constexpr uint16_t kBackupEnd = 174, kBackupHsmEnd = 175;
inline constexpr uint16_t kRestoreBegin = 176, kRestoreHsmBegin = 177;
inline constexpr uint16_t kRestoreConfig = 178, kRestoreHsmConfig = 183;
inline constexpr uint16_t kRestoreUsers = 179, kRestoreHsmUsers = 182;
inline constexpr uint16_t kRestoreEnd = 180, kRestoreHsmEnd = 181;
inline constexpr uint16_t kBackupKey = 187, kRestoreKey = 188;
inline constexpr uint16_t kBackupObject = 203, kRestoreObject = 204;
}  // namespace op

// ---- maintenance (command type 0 unless stated) ----
inline constexpr uint16_t kDiagCommand = 8;  // KQ_DIAG_CMD: the diagnostic dump, opcode 0
namespace op {
inline constexpr uint16_t kFwUpdate = 5;
inline constexpr uint16_t kGetCoreDump = 7;
inline constexpr uint16_t kDeleteCoreDump = 8;
inline constexpr uint16_t kCloneSourceInit = 80;
inline constexpr uint16_t kCloneTargetInit = 81;
inline constexpr uint16_t kCloneSourceStage1 = 82;
inline constexpr uint16_t kCloneTargetStage1 = 83;
inline constexpr uint16_t kFwUpdateBegin = 150;
inline constexpr uint16_t kFwUpdateEnd = 151;
inline constexpr uint16_t kInvokeFips = 157;
inline constexpr uint16_t kGetHsmDiagInfo = 229;
inline constexpr uint16_t kDiagDump = 0;  // command type kDiagCommand
}  // namespace op

}  // namespace hsmsim::hsm
