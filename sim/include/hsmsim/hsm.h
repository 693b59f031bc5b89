// The stand-in HSM behind the daemon: partitions, users, applications,
// sessions and login state; executes the requests the daemon forwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
  uint64_t op_ctx = 0;                               // header op_ctx
  std::vector<std::span<const uint8_t>> inputs{};    // input segments
  std::vector<uint32_t> output_sizes{};              // capacities of the output segments
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
inline constexpr const char* kAdminPartition = "PARTITION_0";  // partition 0
inline constexpr const char* kPartition = "PARTITION_1";       // partition 1, the library's default
inline constexpr const char* kAdminName = "admin";             // crypto officer of PARTITION_0
inline constexpr const char* kAdminPassword = "admin_password";
inline constexpr const char* kOfficerName = "crypto_officer";  // crypto officer of PARTITION_1
inline constexpr const char* kOfficerPassword = "officer_password";
inline constexpr const char* kUserName = "crypto_user";        // crypto user of PARTITION_1
inline constexpr const char* kUserPassword = "user_password";
inline constexpr uint32_t kFipsState = 2;                      // HSM and partitions: FIPS level 2
inline constexpr uint32_t kLoginFailureLimit = 10;             // failed logins before a user is locked
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
  uint32_t flags = 0;   // 2 read-write, 4 serial
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

class Hsm {
 public:
  Hsm();
  ~Hsm();
  Hsm(const Hsm&) = delete;
  Hsm& operator=(const Hsm&) = delete;

  HsmReply execute(const HsmRequest&);

  // Back to the seeded state: default partitions and users, no application,
  // no session, no injected status, default identity.
  void reset();

  // ---- configuration (for tests) ----
  // Adds a partition; false when the name exists, is empty or longer than 15, or no slot is free.
  bool add_partition(const std::string& name);
  std::vector<std::string> partitions() const;
  // Adds or replaces a user of a partition; false when the partition does not exist
  // or the name is empty or longer than 31 characters.
  bool add_user(const std::string& partition, const std::string& name, UserType type, const std::string& password);
  bool remove_user(const std::string& partition, const std::string& name);
  std::optional<UserView> user(const std::string& partition, const std::string& name) const;
  std::vector<UserView> users(const std::string& partition) const;
  void unlock_user(const std::string& partition, const std::string& name);
  void set_login_failure_limit(uint32_t crypto_users, uint32_t officers);

  void set_fips_state(uint32_t state);                                     // HSMInfo uiFipsState
  bool set_partition_fips_state(const std::string& partition, uint8_t state);  // PartitionInfo FipsState
  void set_serial_number(const std::string& serial);                      // HSMInfo serialNumber
  void set_bootloader_string(const std::string& text);                    // HSMInfo bootloaderString ("" allowed)
  void set_firmware_version(uint8_t major, uint8_t minor);
  std::array<uint8_t, 2> firmware_version() const;  // HSM_GET_FW_VERSION answer

  // The next `times` requests of that opcode get this request status and are not executed.
  void inject_request_status(uint16_t opcode, uint32_t status, int times, uint16_t command_type = 0);
  void inject_retry(uint16_t opcode, int times);  // TESSALINE_RETRY_OP 0x40000053

  // ---- observation ----
  std::vector<SessionView> sessions() const;
  std::optional<SessionView> session(uint32_t handle) const;  // any device bits are ignored
  std::vector<ApplicationView> applications() const;
  std::optional<ApplicationView> application(uint32_t app_id) const;

 private:
  std::unique_ptr<hsm::HsmState> state_;
};

}  // namespace hsmsim
