// The blobs of backup and restore: each sealed with AES-256-GCM under a
// partition's key backup key (its head authenticated), and the plain forms
// they carry (users, configurations, keys, partition objects). Parsers take
// any bytes and refuse what is not well formed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace hsmsim::hsm::backup {

enum class Kind : uint8_t { PartitionConfig = 1, HsmConfig = 2, User = 3, Key = 4, Object = 5 };

inline constexpr size_t kHeadLen = 8;  // "QBK1", kind, 3 zero bytes
inline constexpr size_t kNonceLen = 12;
inline constexpr size_t kTagLen = 16;
inline constexpr size_t kSealOverhead = kHeadLen + kNonceLen + kTagLen;

// head ‖ nonce ‖ ciphertext ‖ tag; empty when the key is not 32 bytes.
std::vector<uint8_t> seal(std::span<const uint8_t> kbk, Kind, std::span<const uint8_t> plain);
// The plain bytes; none when the blob is not one of that kind sealed under kbk.
std::optional<std::vector<uint8_t>> open(std::span<const uint8_t> kbk, Kind,
                                         std::span<const uint8_t> blob);

// ---- users: one fixed-size record each, so every sealed record is as long ----
inline constexpr size_t kNameField = 32;
inline constexpr size_t kPasswordField = 64;
inline constexpr size_t kUserPlainLen = 4 + kNameField + 1 + kPasswordField + 4 + 1;
inline constexpr size_t kUserBlobLen = kUserPlainLen + kSealOverhead;

struct UserRecord {
  uint32_t type = 0;
  std::string name;
  std::vector<uint8_t> password;
  uint32_t failures = 0;
  bool locked = false;
};
// Empty when the name or password does not fit its field.
std::vector<uint8_t> user_bytes(const UserRecord &);
std::optional<UserRecord> user_from(std::span<const uint8_t>);

// ---- a partition's own settings (partition-scope configuration) ----
struct PartitionSettings {
  uint8_t fips_state = 0;
  uint32_t policy_bits = 0;
  uint16_t max_users = 0;
  uint8_t key_import = 0, key_export = 0;
  uint32_t node_id = 0;
  std::vector<uint8_t> m_values;  // M value of each service
  int32_t c_timeout = 0, a_timeout = 0;
};
std::vector<uint8_t> partition_settings_bytes(const PartitionSettings &);
std::optional<PartitionSettings> partition_settings_from(std::span<const uint8_t>);

// ---- the HSM's configuration: its own entry, or a partition's entry ----
struct HsmConfig {
  bool partition_entry = false;
  // The HSM's entry.
  std::string label, group_id;
  uint32_t login_failure_count = 0, min_pswd = 0, max_pswd = 0, cloning = 0, kek_method = 0;
  uint8_t flags = 0, cert_auth = 0;
  uint32_t node_id = 0;
  // A partition's entry.
  std::string name;
  PartitionSettings settings;
};
std::vector<uint8_t> hsm_config_bytes(const HsmConfig &);
std::optional<HsmConfig> hsm_config_from(std::span<const uint8_t>);

// ---- a key: its owner and the users it is shared with by name, then the
// serialised object ----
struct KeyBlob {
  std::string owner;
  uint8_t m_value = 0;
  std::vector<std::string> shared;
  std::vector<uint8_t> object;
};
std::vector<uint8_t> key_bytes(const KeyBlob &);
std::optional<KeyBlob> key_from(std::span<const uint8_t>);

// ---- a partition object: private data by name, or one certificate ----
struct ObjectBlob {
  uint8_t object_class = 0, object_id = 0;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> items;
};
std::vector<uint8_t> object_blob_bytes(const ObjectBlob &);
std::optional<ObjectBlob> object_blob_from(std::span<const uint8_t>);

}  // namespace hsmsim::hsm::backup
