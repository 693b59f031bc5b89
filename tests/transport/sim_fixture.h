// A stand-in daemon per test and the connection table started through the
// transport's seam.
#pragma once

#include <gtest/gtest.h>

#include <hsmsim/daemon.h>

#include <chrono>
#include <memory>
#include <thread>

#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"
#include "test_util.h"

namespace tt {

class SimTransport : public ::testing::Test {
 protected:
  void SetUp() override { start(false); }
  void TearDown() override {
    transport_seam_stop();
    transport_seam_set_second_ms(1000);
    transport_seam_set_config_path(nullptr);
    daemon_.reset();
  }
  void start(bool tcp) {
    transport_seam_stop();
    daemon_ = std::make_unique<hsmsim::Daemon>(hsmsim::Daemon::Options{0, tcp, 0});
    daemon_->export_env();
    transport_seam_set_config_path("/nonexistent/qel2-transport-test.cfg");
    ASSERT_EQ(transport_seam_start(), 0);
  }
  hsmsim::Daemon &d() { return *daemon_; }

  // An echo request: the answer is the inputs back to back, cut to the outputs.
  static request_buffer echo_request(const Bytes &in, Bytes &out, Uint16 opcode = 1) {
    request_buffer rb{};
    add_input(rb, in);
    add_output(rb, out);
    rb.command_type = hsmsim::kEchoCommandType;
    rb.opcode = opcode;
    rb.timeout = 10;
    return rb;
  }
  static Int32 send(request_buffer &rb, Uint32 req_type = 0) {
    return orx_tessaline_cli_send_daemon(&rb, HSM_QEL1_OPERATION, req_type, nullptr, nullptr);
  }
  // One blocking echo round trip; true when it came back intact.
  static bool echo_ok(uint8_t seed, size_t n = 64) {
    Bytes in = pattern(n, seed), out(n, 0);
    request_buffer rb = echo_request(in, out);
    return send(rb) == 0 && rb.status == 0 && out == in && rb.outsize[0] == n;
  }

  std::unique_ptr<hsmsim::Daemon> daemon_;
};

inline long ms_since(std::chrono::steady_clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count());
}

}  // namespace tt
