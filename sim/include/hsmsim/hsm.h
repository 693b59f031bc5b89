// The stand-in HSM behind the daemon: partitions, users, applications,
// sessions and login state; executes the requests the daemon forwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hsmsim {

namespace hsm {
struct HsmState;
}

// One request as the daemon hands it to the HSM.
struct HsmRequest {
  uint16_t command_type = 0;
  uint16_t opcode = 0;
  uint16_t param1 = 0, param2 = 0;
  uint16_t dlen = 0, rlen = 0;
  uint8_t attest = 0;
  uint32_t session_handle = 0;  // header sess_handle
  uint64_t key_handle = 0;
  uint64_t ctx_ptr = 0;
  uint64_t op_ctx = 0;                             // header op_ctx
  std::vector<std::span<const uint8_t>> inputs{};  // input segments
  std::vector<uint32_t> output_sizes{};            // capacities of the output segments
  int connection = 0;
};

struct HsmReply {
  uint32_t status = 0;             // request status (the engine's code for cryptographic requests)
  std::vector<uint8_t> payload{};  // output segments back to back, as far as produced
  uint64_t op_ctx = 0;
};

// User types (UserType numbering).
enum class UserType : uint32_t {
  CryptoUser = 1,
  CryptoOfficer = 2,
  PartitionCryptoOfficer = 3,
  TwoFactorCryptoUser = 4,
  ApplianceUser = 5,
  PreCryptoOfficer = 6,
};

// SessionState numbering.
enum class SessionState : uint32_t {
  RoPublic = 0,
  RoUser = 1,
  RwPublic = 2,
  RwUser = 3,
  RwOfficer = 4,
  RwApplianceUser = 5,
  RwPreOfficer = 6,
  RwPublicOfficerDefault = 7,
};

// What a fresh stand-in holds (also after Hsm::reset()).
namespace defaults {
inline constexpr const char *kAdminPartition = "PARTITION_0";  // partition 0
inline constexpr const char *kPartition = "PARTITION_1";       // partition 1, the library's default
inline constexpr const char *kAdminName = "admin";             // crypto officer of PARTITION_0
inline constexpr const char *kAdminPassword = "admin_password";
inline constexpr const char *kOfficerName = "crypto_officer";  // crypto officer of PARTITION_1
inline constexpr const char *kOfficerPassword = "officer_password";
inline constexpr const char *kUserName = "crypto_user";  // crypto user of PARTITION_1
inline constexpr const char *kUserPassword = "user_password";
inline constexpr uint32_t kFipsState = 2;           // HSM and partitions: FIPS level 2
inline constexpr uint32_t kLoginFailureLimit = 10;  // failed logins before a user is locked
}  // namespace defaults

struct UserView {
  uint32_t id = 0;
  std::string name{};
  UserType type = UserType::CryptoUser;
  uint32_t login_failures = 0;
  bool locked = false;
};

struct SessionView {
  uint32_t handle = 0;  // 30 bits, as the HSM gave it
  uint32_t app_id = 0;
  uint8_t partition = 0;
  uint16_t slot = 0;
  uint32_t flags = 0;  // 2 read-write, 4 serial
  SessionState state = SessionState::RoPublic;
};

struct ApplicationView {
  uint32_t app_id = 0;  // bits 24-29 partition, 14-23 index
  uint8_t partition = 0;
  uint32_t nonce = 0;
  std::optional<std::string> logged_in_user{};
  std::optional<UserType> logged_in_type{};
  size_t sessions = 0;
};

// ---- key objects (the object store; see sim/README.md "Key objects") ----

// One attribute of a seeded object, its value in a template's form: numbers
// as decimal text ("32", a newline or NUL after the digits allowed), flags
// "1"/"0" (or one byte 1/0), byte strings as they are.
struct ObjectAttr {
  uint32_t type = 0;
  std::vector<uint8_t> value{};

  static ObjectAttr number(uint32_t type, uint32_t v);
  static ObjectAttr flag(uint32_t type, bool v);
  static ObjectAttr bytes(uint32_t type, std::span<const uint8_t> v);
  static ObjectAttr text(uint32_t type, const std::string &s);  // the characters, no NUL
};

// An object put straight into the store, as a creating request would make it.
struct ObjectSeed {
  std::string partition = defaults::kPartition;
  std::string owner = defaults::kUserName;  // a user of the partition
  uint32_t session = 0;  // the session a session object (OBJ_ATTR_TOKEN 0) ends with
  std::vector<ObjectAttr> attributes{};  // at least OBJ_ATTR_CLASS and OBJ_ATTR_KEY_TYPE
  std::vector<uint8_t> key{};            // secret value or private key; an empty secret key gets
                                         // OBJ_ATTR_VALUE_LEN random bytes
  std::vector<uint8_t> public_data{};    // EC point (uncompressed) or DSA public value
  std::vector<uint16_t> shared_users{};  // user ids
  std::vector<uint32_t> shared_sessions{};
  uint8_t m_value = 0;
  bool local = false;  // OBJ_ATTR_LOCAL: made on the HSM
};

struct ObjectResult {
  uint32_t code = 0;  // the HSM's response code; 0: stored
  uint64_t handle = 0;
};

struct ObjectView {
  uint64_t handle = 0;
  std::string partition{};
  uint32_t owner = 0;  // user id
  std::string owner_name{};
  bool token = true;
  uint32_t session = 0;  // session objects: the session they end with
  std::vector<uint32_t> shared_sessions{};
  std::vector<uint16_t> shared_users{};
  uint8_t m_value = 0;
  bool tombstoned = false;
  std::map<uint32_t, std::vector<uint8_t>> attributes{};  // as a single-attribute read answers them
  std::vector<uint8_t> key{};
  std::vector<uint8_t> public_data{};
};

// A key-encryption or password-encryption key as the HSM agreed it.
struct KeyEstablishmentView {
  uint8_t method = 0;                   // 0 ECDH, 1 RSA (from the host key's type)
  std::vector<uint8_t> premaster{};     // ECDH shared secret, or the secret encrypted to the host
  std::vector<uint8_t> master_key{};    // 64 bytes (see sim/README.md)
  std::vector<uint8_t> host_nonce{};    // 32 bytes
  std::vector<uint8_t> target_nonce{};  // the HSM's nonce (RSA: the encrypted secret)
};

// ---- maintenance (for tests; see sim/README.md "Maintenance") ----
// A firmware or bootloader image the HSM accepted.
struct InstalledImage {
  bool bootloader = false;
  uint32_t length = 0;
  std::vector<uint8_t> sha256{};
  uint32_t zeroize = 0;  // ZeroizeOnUpdate of its end
};

class Hsm {
 public:
  Hsm();
  ~Hsm();
  Hsm(const Hsm &) = delete;
  Hsm &operator=(const Hsm &) = delete;

  HsmReply execute(const HsmRequest &);

  // Back to the seeded state: default partitions and users, no application,
  // no session, no injected status, default identity.
  void reset();

  // ---- configuration (for tests) ----
  // Adds a partition; false when the name exists, is empty or longer than 15, or no slot is free.
  bool add_partition(const std::string &name);
  std::vector<std::string> partitions() const;
  // Adds or replaces a user of a partition; false when the partition does not exist
  // or the name is empty or longer than 31 characters.
  bool add_user(const std::string &partition, const std::string &name, UserType type,
                const std::string &password);
  bool remove_user(const std::string &partition, const std::string &name);
  std::optional<UserView> user(const std::string &partition, const std::string &name) const;
  std::vector<UserView> users(const std::string &partition) const;
  void unlock_user(const std::string &partition, const std::string &name);
  void set_login_failure_limit(uint32_t crypto_users, uint32_t officers);

  void set_fips_state(uint32_t state);  // HSMInfo uiFipsState
  bool set_partition_fips_state(const std::string &partition,
                                uint8_t state);         // PartitionInfo FipsState
  void set_serial_number(const std::string &serial);    // HSMInfo serialNumber
  void set_bootloader_string(const std::string &text);  // HSMInfo bootloaderString ("" allowed)
  void set_firmware_version(uint8_t major, uint8_t minor);
  std::array<uint8_t, 2> firmware_version() const;  // HSM_GET_FW_VERSION answer

  // The next `times` requests of that opcode get this request status and are not executed.
  void inject_request_status(uint16_t opcode, uint32_t status, int times,
                             uint16_t command_type = 0);
  void inject_retry(uint16_t opcode, int times);  // TESSALINE_RETRY_OP 0x40000053
  // Requests of (command_type, opcode) run `work` in place of a handler, as a
  // long operation (key-pair generation) runs: holding only their partition's
  // lock (shared, or alone with `whole_partition`), not the HSM's state
  // lock; then status 0, no payload. An empty `work` removes it; reset()
  // removes all.
  void set_slow_operation(uint16_t command_type, uint16_t opcode, std::function<void()> work,
                          bool whole_partition = false);

  // ---- observation ----
  std::vector<SessionView> sessions() const;
  std::optional<SessionView> session(uint32_t handle) const;  // any device bits are ignored
  std::vector<ApplicationView> applications() const;
  std::optional<ApplicationView> application(uint32_t app_id) const;

  // ---- key objects (for tests) ----
  // Stores an object built from the seed (the checks and defaults of a
  // creating request apply); its handle, or the response code of the refusal.
  ObjectResult seed_object(const ObjectSeed &);
  std::vector<ObjectView> objects(const std::string &partition = "") const;  // "": every partition
  std::optional<ObjectView> object(uint64_t handle) const;
  // One attribute as a single-attribute read answers it; none when the object lacks it.
  std::optional<std::vector<uint8_t>> object_attribute(uint64_t handle, uint32_t type) const;
  // The all-attribute answer's data (Object head and attributes).
  std::optional<std::vector<uint8_t>> object_all_attributes(uint64_t handle) const;
  bool destroy_object(uint64_t handle);
  uint32_t object_count(const std::string &partition,
                        bool token) const;  // live token or session objects
  size_t open_searches() const;             // continuation contexts of searches still held
  // The value of the fixed wrapping key (handle 4 of every partition, AES-256);
  // false for another length.
  bool set_fixed_wrapping_key(std::span<const uint8_t> key);

  // ---- SSL contexts (for tests) ----
  // The secret a context holds (premaster or ECDH shared secret); none for
  // an unknown context or one without a secret. Tests only: the HSM never
  // returns it.
  std::optional<std::vector<uint8_t>> ssl_context_secret(uint64_t handle) const;
  size_t ssl_context_count(const std::string &partition) const;

  // ---- key-encryption keys (for tests) ----
  // The last key-encryption (password_key false) or password-encryption key
  // established for the partition; none before one. Tests only: the HSM
  // never returns the secret.
  std::optional<KeyEstablishmentView> key_establishment(const std::string &partition,
                                                        bool password_key) const;
  // ---- key backup keys (for tests) ----
  // The HSM-wide key that wraps exported key backup keys (AES-256); two
  // stand-ins given the same one take each other's exported KBKs, as HSMs of
  // one domain do. False for another length.
  bool set_kbk_wrapping_key(std::span<const uint8_t> key);
  // ---- maintenance (for tests) ----
  std::vector<InstalledImage> installed_images() const;  // oldest first
  // What a diagnostic dump streams from now on (by default a text of the HSM's state).
  void set_diagnostic_dump(std::vector<uint8_t> bytes);
  // Plants a core dump of file flag 1 or 2 under a backup number (0: the
  // current one); empty bytes remove it. False for another flag or more than
  // 8192 bytes.
  bool set_core_dump(uint32_t which_file, uint32_t backup_num, std::vector<uint8_t> bytes);

 private:
  std::unique_ptr<hsm::HsmState> state_;
};

}  // namespace hsmsim
