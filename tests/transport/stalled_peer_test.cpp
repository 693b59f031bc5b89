// A daemon that stops reading in the middle of a request: the half-sent
// message must not stay on the connection the thread goes on using.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"
#include "test_util.h"

namespace {

// Listens on the daemon's abstract name, accepts, and never reads.
class StalledDaemon {
 public:
  explicit StalledDaemon(uint32_t id) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string name = "#/etc/ostrel/daemon_socket" + std::to_string(id);
    std::copy(name.begin(), name.end(), a.sun_path);
    a.sun_path[0] = 0;
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
          listen(fd_, 8) == 0;
    if (ok_) acceptor_ = std::thread([this] { run(); });
  }
  ~StalledDaemon() {
    shutdown(fd_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    for (int c : conns_) close(c);
    close(fd_);
  }
  bool ok() const { return ok_; }
  int accepted() const { return accepted_.load(); }
  // A connect completes before accept() returns: wait a little for it.
  int accepted_after_settling(int want) const {
    for (int i = 0; i < 200 && accepted_.load() < want; ++i) usleep(10000);
    return accepted_.load();
  }

 private:
  void run() {
    for (;;) {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      int small = 4096;
      setsockopt(c, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
      conns_.push_back(c);
      ++accepted_;
    }
  }
  int fd_ = -1;
  bool ok_ = false;
  std::atomic<int> accepted_{0};
  std::vector<int> conns_;
  std::thread acceptor_;
};

TEST(StalledPeer, HalfSentRequestDropsTheConnectionAndTheNextRequestReconnects) {
  const uint32_t id = 1500000000u + static_cast<uint32_t>(getpid() % 100000000);
  StalledDaemon daemon(id);
  ASSERT_TRUE(daemon.ok());
  setenv("tessaline_daemon_id", std::to_string(id).c_str(), 1);
  unsetenv("tessaline_daemon_socket_type");
  transport_seam_set_config_path("/nonexistent/qel2-transport-test.cfg");
  transport_seam_set_second_ms(5);  // T = 31 s -> 155 ms
  ASSERT_EQ(transport_seam_start(), 0);

  tt::Bytes big(8 << 20, 0x5A), out(16, 0);
  request_buffer rb{};
  tt::add_input(rb, big);
  tt::add_output(rb, out);
  rb.opcode = 1;
  rb.timeout = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(orx_tessaline_cli_send_daemon(&rb, HSM_QEL1_OPERATION, 1, nullptr, nullptr),
            static_cast<Int32>(TESSALINE_SOCKET_SND_PARTIAL_FATAL));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(daemon.accepted_after_settling(1), 1);

  // The next request goes out whole on a new connection.
  tt::Bytes small(8, 1);
  request_buffer rb2{};
  tt::add_input(rb2, small);
  tt::add_output(rb2, out);
  rb2.opcode = 1;
  rb2.timeout = 1;
  EXPECT_EQ(orx_tessaline_cli_send_daemon(&rb2, HSM_QEL1_OPERATION, 1, nullptr, nullptr), 0);
  EXPECT_EQ(daemon.accepted_after_settling(2), 2);

  transport_seam_stop();
  transport_seam_set_second_ms(1000);
  transport_seam_set_config_path(nullptr);
}

}  // namespace
