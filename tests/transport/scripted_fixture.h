// A thread's connection against a daemon whose every byte the test places
// (ScriptedPeer), with one waiting unit of 5 ms: the requests, answers and
// fixtures the stream tests share.
#pragma once

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"
#include "scripted_peer.h"

namespace kept {

using tt::Bytes;
using tt::ScriptedPeer;
using Request = ScriptedPeer::Request;

// A request with one input and one output segment of n bytes.
struct Call {
  Bytes in = Bytes(4, 1);
  Bytes out;
  request_buffer rb{};
  explicit Call(size_t n) : out(n, 0) {
    tt::add_input(rb, in);
    tt::add_output(rb, out);
    rb.opcode = 1;
    rb.command_type = 1;
    rb.timeout = 10;  // T = 40 units
  }
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;
  Int32 send(Uint32 req_type = 0) {
    return orx_tessaline_cli_send_daemon(&rb, HSM_QEL1_OPERATION, req_type, nullptr, nullptr);
  }
};

inline Bytes reply(const Request &r, const Bytes &payload) {
  return tt::answer(r.req_id, 0, payload, r.req_type);
}
inline ScriptedPeer::Responder replying(const Bytes &payload, const Bytes &behind = {}) {
  return [payload, behind](const Request &r) {
    Bytes a = reply(r, payload);
    a.insert(a.end(), behind.begin(), behind.end());
    return a;
  };
}
inline ScriptedPeer::Responder silent() {
  return [](const Request &) { return Bytes{}; };
}
inline Bytes cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Kept : public ::testing::Test {
 protected:
  // One waiting unit of 5 ms: a request (T = 40 units) waits 300 ms for the
  // first bytes of its answer and 200 ms for the rest of a message.
  void SetUp() override {
    setenv("tessaline_daemon_id", std::to_string(peer_.daemon_id()).c_str(), 1);
    unsetenv("tessaline_daemon_socket_type");
    transport_seam_set_config_path("/nonexistent/qel2-transport-test.cfg");
    transport_seam_set_second_ms(5);
    ASSERT_EQ(transport_seam_start(), 0);
    ASSERT_TRUE(peer_.wait_accepted(1));
  }
  void TearDown() override {
    transport_seam_stop();
    transport_seam_set_second_ms(1000);
    transport_seam_set_config_path(nullptr);
  }
  // Sends c non-blocking; the daemon holds its answer for the test to write.
  void send_held(Call &c) {
    peer_.expect(silent());
    ASSERT_EQ(c.send(1), 0);
  }
  static Uint32 poll(Uint32 id) {
    testing::internal::CaptureStdout();
    Uint32 r = Qel2CheckForCompletion(id);
    testing::internal::GetCapturedStdout();
    return r;
  }

  ScriptedPeer peer_;
};

// Kept, with the calls the stream tests make quietly and their polls.
class Stream : public Kept {
 protected:
  // Polls until the request is no longer pending (its answer is on its way).
  static Uint32 collect(Uint32 id) {
    for (int i = 0; i < 1000; ++i) {
      const Uint32 r = poll(id);
      if (r != ERR_REQUEST_PENDING) return r;
      usleep(1000);
    }
    return ERR_REQUEST_PENDING;
  }
  // Waits until n bytes are queued on the thread's socket, then polls once.
  static Uint32 poll_once_queued(Uint32 id, int n) {
    const thread_record *t = get_thread_info();
    int queued = 0;
    for (int i = 0; i < 2000 && t && queued < n; ++i) {
      if (ioctl(t->socket_fd, FIONREAD, &queued) != 0) break;
      if (queued < n) usleep(1000);
    }
    EXPECT_GE(queued, n) << "bytes queued for the poll";
    return poll(id);
  }
  static Int32 quietly(Call &c, Uint32 req_type = 0) {
    testing::internal::CaptureStdout();
    const Int32 r = c.send(req_type);
    testing::internal::GetCapturedStdout();
    return r;
  }
};

inline long ms_since(std::chrono::steady_clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count());
}

inline Bytes head(const Bytes &b, size_t n) {
  return Bytes(b.begin(), b.begin() + static_cast<long>(n));
}
inline Bytes tail(const Bytes &b, size_t from) {
  return Bytes(b.begin() + static_cast<long>(from), b.end());
}

}  // namespace kept
