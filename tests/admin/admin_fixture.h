// The library against a stand-in of the test's own, the HSM unscripted:
// an officer's session of a partition, ready to administer.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim_fixture.h"
#include "stand_in.h"
#include "wire.h"

namespace admin_test {

namespace defaults = hsmsim::defaults;
using namespace mgmt_test;
using namespace support;

inline const Uint8 *u8(const std::string &s) { return reinterpret_cast<const Uint8 *>(s.c_str()); }
inline Uint32 len(const std::string &s) { return static_cast<Uint32>(s.size()); }

class AdminTest : public SimTest {
 protected:
  // A session of partition 1 with its crypto officer logged in.
  Uint32 officer_session() { return log_in(kOfficer); }
  // A session of partition 0 on device dev with the HSM's administrator logged in.
  Uint32 admin_session(int dev = 0) {
    Account admin = kAdmin;
    admin.device = dev;
    return log_in(admin);
  }
};

}  // namespace admin_test
