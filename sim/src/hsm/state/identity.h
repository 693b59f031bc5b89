// What the HSM says about itself in its information record, and the limits
// it enforces HSM-wide.
#pragma once

#include <cstdint>
#include <string>

namespace hsmsim::hsm {

struct Identity {
  std::string label = "hsm-sim";
  std::string model = "SIM-HSM-1";
  std::string serial = "3.1-SIM-000001";  // begins "major.minor" of the hardware
  uint8_t fw_major = 3, fw_minor = 2;
  std::string firmware_text = "hsm-sim firmware 3.2";
  std::string build = "sim-3.2.0";
  std::string part_number = "SIM-HSM-0001";
  std::string bootloader = "1.0";
  uint32_t fips_state = 2;  // FIPS level 2
  uint32_t user_fail_limit = 10;
  uint32_t officer_fail_limit = 10;
  uint32_t max_pin = 32, min_pin = 7;
  uint32_t max_user_keys = 16384;
  uint32_t max_session_keys = 16384;
  uint32_t max_ssl_contexts = 32768;
  int32_t temperature = 45;
};

}  // namespace hsmsim::hsm
