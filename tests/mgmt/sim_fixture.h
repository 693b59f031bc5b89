// A stand-in daemon of the test's own, with the library pointed at it and
// the application-level answers scripted so the tests do not depend on the
// HSM's state.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include <hsmsim/daemon.h>

#include "qel2.h"
#include "request/mgmt_request.h"
#include "stand_in.h"
#include "wire_view.h"

namespace mgmt_test {

inline constexpr uint32_t kAppIdentifier = 0x00054000;  // application index 21
inline constexpr uint32_t kNonce = 0xA1B2C3D4;
inline constexpr uint32_t kHsmSession = 0x0105C007;  // partition 1, application index 23

class SimTest : public support::StandIn {
 protected:
  void SetUp() override {
    qel2::mgmt::set_retry_pause_us(0);
    StandIn::SetUp();
  }
  void TearDown() override {
    StandIn::TearDown();
    qel2::mgmt::set_retry_pause_us(200000);
  }

  void script_app_init(uint32_t app_identifier = kAppIdentifier, uint32_t nonce = kNonce) {
    d().script(KQ_MGMT_CMD, KQ_APP_INITIALIZE, payload(resp(0, nonce).u32(app_identifier)));
  }
  void script_open_session(uint32_t hsm_handle = kHsmSession) {
    d().script(KQ_MGMT_CMD, KQ_OPEN_SESSION, payload(resp(0).u32(hsm_handle)));
  }
  void script_std(uint16_t opcode, uint32_t code = 0) {
    d().script(KQ_MGMT_CMD, opcode, payload(resp(code)));
  }

  // Starts the library for device dev and returns the application id.
  uint32_t start(int dev = 0, const char *partition = "PARTITION_1") {
    script_app_init();
    uint32_t app = 0;
    EXPECT_EQ(0u, Qel2Initialize3(dev, OSTREL_DIRECT, partition, &app));
    return app;
  }
  // Starts the library and opens a session; returns the session handle.
  uint32_t start_session(int dev = 0) {
    uint32_t app = start(dev);
    script_open_session();
    uint32_t session = 0;
    EXPECT_EQ(0u, Qel2OpenSession2(app, &session));
    d().clear_captured();
    return session;
  }
};

}  // namespace mgmt_test
