// What administration sets on the HSM: its lifecycle, the board
// configuration of initialisation, the policy set, node id and slave
// configuration, and the audit log of each partition.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace hsmsim::hsm {

// The board configuration as initialisation sent it (host order).
struct BoardConfig {
  uint32_t fips_state = 2;
  uint8_t flags = 0;  // bit 0 backup by MCO, bit 1 block delete user, bit 2 audit enable
  uint32_t login_failure_count = 10;
  uint32_t secret_key_wrap = 1, secret_key_unwrap = 1;
  uint32_t private_key_wrap = 0, private_key_unwrap = 0;
  uint32_t max_pswd = 32, min_pswd = 7;
  uint32_t cloning = 0;
  std::string group_id;
  std::string label = "hsm-sim";
  uint32_t kek_method = 0;
  uint8_t cert_auth = 0;
  uint32_t node_id = 0;

  bool block_delete_user() const { return flags & 2; }
};

struct PolicyEntry {
  uint32_t id = 0;
  std::vector<uint8_t> value;
};

inline constexpr size_t kAuditEntrySize = 88;
inline constexpr size_t kAuditLogLimit = 16384;  // entries kept per partition; the oldest go

struct AuditLog {
  std::deque<std::array<uint8_t, kAuditEntrySize>> pending;  // not yet fetched
  std::array<uint8_t, 32> chain{};  // SHA-256 chain over every entry fetched since finalising
  uint64_t next_seq = 1;
};

enum class Lifecycle { Zeroised, Initialising, Initialised };

struct AdminState {
  Lifecycle lifecycle = Lifecycle::Initialised;
  BoardConfig config;
  std::vector<PolicyEntry> policies;
  uint32_t slave_config = 0;
  uint32_t reboot_counter = 1;
  uint32_t shutdowns = 0;
  std::map<uint8_t, AuditLog> audit;  // by partition index

  // The policies a fresh or zeroised HSM holds.
  static std::vector<PolicyEntry> default_policies() {
    return {PolicyEntry{1, {0, 0, 0, 1}}, PolicyEntry{2, {0, 0, 0, 0}},
            PolicyEntry{3, {0, 0, 0, 32}}};
  }
  AdminState() : policies(default_policies()) {}
};

}  // namespace hsmsim::hsm
