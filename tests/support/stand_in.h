// A stand-in daemon and HSM of the test's own (its own daemon id), the
// library pointed at it and cleaned up after each test, and a login to the
// stand-in's HSM as seeded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include <hsmsim/daemon.h>
#include <hsmsim/hsm.h>

#include "qel2.h"

namespace support {

// Who logs in where; folders differ in user type, partition and device.
struct Account {
  const char *partition = hsmsim::defaults::kPartition;
  Uint32 user_type = KQ_CRYPTO_USER;
  const char *name = hsmsim::defaults::kUserName;
  const char *password = hsmsim::defaults::kUserPassword;
  int device = 0;
};
inline constexpr Account kCryptoUser{};  // the crypto user of PARTITION_1
inline constexpr Account kOfficer{.user_type = KQ_CRYPTO_OFFICER,
                                  .name = hsmsim::defaults::kOfficerName,
                                  .password = hsmsim::defaults::kOfficerPassword};
inline constexpr Account kAdmin{.partition = hsmsim::defaults::kAdminPartition,
                                .user_type = KQ_CRYPTO_OFFICER,
                                .name = hsmsim::defaults::kAdminName,
                                .password = hsmsim::defaults::kAdminPassword};

class StandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_ = std::make_unique<hsmsim::Daemon>();
    daemon_->export_env();
  }
  void TearDown() override {
    Qel2SDKCleanup();
    daemon_.reset();
  }
  hsmsim::Daemon &d() { return *daemon_; }

  // Starts the library on the device for the partition and opens a session;
  // 0 when a step fails, which is no test failure (callers may expect it).
  Uint32 open(const std::string &partition, int dev = 0) {
    Uint32 app = 0, session = 0;
    if (Qel2Initialize3(dev, OSTREL_DIRECT, partition.c_str(), &app) != 0) return 0;
    apps_[dev] = app;
    if (Qel2OpenSession2(app, &session) != 0) return 0;
    return session;
  }
  Uint32 login(Uint32 session, Uint32 type, const std::string &name, const std::string &password) {
    return Qel2LoginHSM(session, type, reinterpret_cast<const Uint8 *>(name.data()),
                        Uint32(name.size()), reinterpret_cast<const Uint8 *>(password.data()),
                        Uint32(password.size()));
  }
  // Starts, opens a session and logs in as `who`, then forgets what was
  // captured; the session handle. A step that fails is a fatal failure
  // (callers stop on it with ASSERT_NO_FATAL_FAILURE).
  Uint32 log_in(const Account &who = kCryptoUser) {
    Uint32 session = 0;
    [&] {
      Uint32 app = 0;
      ASSERT_EQ(0u, Qel2Initialize3(who.device, OSTREL_DIRECT, who.partition, &app))
          << who.partition;
      apps_[who.device] = app;
      ASSERT_EQ(0u, Qel2OpenSession2(app, &session));
      ASSERT_EQ(0u, login(session, who.user_type, who.name, who.password)) << who.name;
    }();
    d().clear_captured();
    return session;
  }

  std::unique_ptr<hsmsim::Daemon> daemon_;
  Uint32 apps_[QEL2_MAX_DEVICES] = {};  // the application id each device was started with
};

}  // namespace support
