// The HSM's operations, one handler per (command type, opcode). Each topic
// adds its handlers; the table is built once.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "hsm/ops/call.h"

namespace hsmsim::hsm {

// Management opcodes served so far.
namespace op {
inline constexpr uint16_t kLogin = 13;
inline constexpr uint16_t kLogout = 14;
inline constexpr uint16_t kOpenSession = 36;
inline constexpr uint16_t kCloseAllSessions = 37;
inline constexpr uint16_t kCloseSession = 38;
inline constexpr uint16_t kGetSessionInfo = 39;
inline constexpr uint16_t kClosePartitionSessions = 43;
inline constexpr uint16_t kAppInitialize = 146;
inline constexpr uint16_t kAppFinalize = 147;
inline constexpr uint16_t kTokenInfo = 148;
inline constexpr uint16_t kGetVersion = 152;
inline constexpr uint16_t kPartitionInfo = 162;
inline constexpr uint16_t kAuthorizeSession = 221;
inline constexpr uint16_t kGetLoginFailureCount = 254;
}  // namespace op

inline constexpr uint16_t kMgmtCommand = 0;

class HandlerTable {
 public:
  void add(uint16_t command_type, uint16_t opcode, Handler h) {
    map_[key(command_type, opcode)] = h;
  }
  Handler find(uint16_t command_type, uint16_t opcode) const {
    auto it = map_.find(key(command_type, opcode));
    return it == map_.end() ? nullptr : it->second;
  }

 private:
  static uint32_t key(uint16_t ct, uint16_t op) { return (uint32_t{ct} << 16) | op; }
  std::unordered_map<uint32_t, Handler> map_;
};

const HandlerTable &handlers();

// One registration per topic.
void add_application_ops(HandlerTable &);
void add_session_ops(HandlerTable &);
void add_login_ops(HandlerTable &);
void add_info_ops(HandlerTable &);
void add_object_store_ops(HandlerTable &);   // key objects, attributes, search, masked objects
void add_crypto_digest_ops(HandlerTable &);  // random, digests, HMAC
void add_crypto_cipher_ops(HandlerTable &);  // 3DES, AES: CBC, ECB, CTR

}  // namespace hsmsim::hsm
