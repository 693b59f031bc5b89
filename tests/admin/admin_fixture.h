// The library against a stand-in of the test's own, the HSM unscripted:
// an officer's session of a partition, ready to administer.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim_fixture.h"

namespace admin_test {

namespace defaults = hsmsim::defaults;
using namespace mgmt_test;

inline const Uint8 *u8(const std::string &s) { return reinterpret_cast<const Uint8 *>(s.c_str()); }
inline Uint32 len(const std::string &s) { return static_cast<Uint32>(s.size()); }

class AdminTest : public SimTest {
 protected:
  // Starts device dev for the partition and opens a session; 0 on failure.
  Uint32 open(const std::string &partition, int dev = 0) {
    Uint32 app = 0, session = 0;
    if (Qel2Initialize3(dev, OSTREL_DIRECT, partition.c_str(), &app) != 0) return 0;
    app_[dev] = app;
    if (Qel2OpenSession2(app, &session) != 0) return 0;
    return session;
  }
  Uint32 login(Uint32 session, Uint32 type, const std::string &name, const std::string &pswd) {
    return Qel2LoginHSM(session, type, u8(name), len(name), u8(pswd), len(pswd));
  }
  // A session of partition 1 with its crypto officer logged in.
  Uint32 officer_session() {
    Uint32 s = open(defaults::kPartition);
    EXPECT_EQ(0u, login(s, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
    d().clear_captured();
    return s;
  }
  // A session of partition 0 with the HSM's administrator logged in.
  Uint32 admin_session(int dev = 0) {
    Uint32 s = open(defaults::kAdminPartition, dev);
    EXPECT_EQ(0u, login(s, KQ_CRYPTO_OFFICER, defaults::kAdminName, defaults::kAdminPassword));
    d().clear_captured();
    return s;
  }
  Uint32 app_[QEL2_MAX_DEVICES] = {};  // application id of each device opened
};

}  // namespace admin_test
