// The version range check and the smart-card utility handshake over a plain
// socket and over the host's SSL functions.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "qel2_helpers.h"
#include "qel2_transport.h"

// The host's SSL library, as the handshake finds it at run time: here an
// "SSL connection" is just a descriptor.
namespace {
struct FakeSsl {
  int fd;
  int reads = 0;
  int writes = 0;
};
}  // namespace
extern "C" int SSL_read(void *ssl, void *buf, int num) {
  auto *s = static_cast<FakeSsl *>(ssl);
  s->reads++;
  return read_conn_data(s->fd, buf, static_cast<size_t>(num));
}
extern "C" int SSL_write(void *ssl, const void *buf, int num) {
  auto *s = static_cast<FakeSsl *>(ssl);
  s->writes++;
  return static_cast<int>(send(s->fd, buf, static_cast<size_t>(num), MSG_NOSIGNAL));
}

namespace {

ComponentVersion v(uint8_t major, uint8_t minor) { return ComponentVersion{major, minor}; }

sc_handshake_t record(int32_t cmd, int32_t rc, uint8_t major, uint8_t minor) {
  return sc_handshake_t{cmd, rc, v(major, minor)};
}

class Scard : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  void TearDown() override {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  // Runs the handshake on fds_[0] and returns its result and output.
  int handshake(int initiator, std::string *out) {
    testing::internal::CaptureStdout();
    int r = do_scard_handshake(&fds_[0], initiator, 0);
    *out = testing::internal::GetCapturedStdout();
    return r;
  }
  void peer_send(const sc_handshake_t &rec) {
    ASSERT_EQ(write(fds_[1], &rec, sizeof rec), static_cast<ssize_t>(sizeof rec));
  }
  sc_handshake_t peer_read() {
    sc_handshake_t rec{};
    EXPECT_EQ(read_conn_data(fds_[1], &rec, sizeof rec), static_cast<int>(sizeof rec));
    return rec;
  }
  int fds_[2] = {-1, -1};
};

}  // namespace

TEST(VersionCompatible, OneOutsideTheInclusiveRange) {
  const struct {
    ComponentVersion ver, lo, hi;
    uint8_t outside;
  } cases[] = {
      {v(2, 3), v(2, 3), v(2, 3), 0},  {v(2, 2), v(2, 3), v(2, 3), 1},
      {v(2, 4), v(2, 3), v(2, 3), 1},  {v(1, 9), v(2, 3), v(2, 3), 1},
      {v(3, 0), v(2, 3), v(2, 3), 1},  {v(1, 5), v(1, 5), v(3, 2), 0},
      {v(2, 0), v(1, 5), v(3, 2), 0},  {v(3, 2), v(1, 5), v(3, 2), 0},
      {v(1, 4), v(1, 5), v(3, 2), 1},  {v(3, 3), v(1, 5), v(3, 2), 1},
      {v(2, 99), v(1, 5), v(3, 2), 0},
  };
  for (const auto &c : cases)
    EXPECT_EQ(version_compatible(c.ver, c.lo, c.hi), c.outside)
        << int(c.ver.major) << "." << int(c.ver.minor);
}

TEST_F(Scard, BothSidesCompleteOverASocket) {
  int peer_fd = fds_[1];
  int peer_result = -2;
  std::thread responder([&] { peer_result = do_scard_handshake(&peer_fd, 0, 0); });
  std::string out;
  EXPECT_EQ(handshake(1, &out), 0);
  responder.join();
  EXPECT_EQ(peer_result, 0);
  EXPECT_NE(out.find("Dual Factor Utility version received:2.05\n"), std::string::npos);
}

TEST_F(Scard, ResponderReadsFirstThenSends) {
  peer_send(record(1, 0, 2, 5));
  std::string out;
  EXPECT_EQ(handshake(0, &out), 0);
  sc_handshake_t mine = peer_read();
  EXPECT_EQ(mine.command_type, 1);
  EXPECT_EQ(mine.response_code, 0);
  EXPECT_EQ(mine.version.major, 2);
  EXPECT_EQ(mine.version.minor, 5);
}

TEST_F(Scard, PeerRecordsThatFail) {
  const struct {
    sc_handshake_t rec;
    const char *message;
  } cases[] = {
      {record(1, 7, 2, 5), "Smart card utility version validation failed"},
      {record(2, 0, 2, 5), "Smart card utility version validation failed"},
      {record(1, 0, 2, 6),
       "Dual Factor Utility version received:2.06\nVersion Mismatch with SmartCard Util, "
       "Received Version: 2.6, supported range: 2.5 to 2.5\n"},
  };
  for (const auto &c : cases) {
    peer_send(c.rec);
    std::string out;
    EXPECT_EQ(handshake(0, &out), -1);
    EXPECT_EQ(out, c.message);
  }
}

TEST_F(Scard, ShortReadsClosedPeersAndNullConnections) {
  sc_handshake_t rec = record(1, 0, 2, 5);
  ASSERT_EQ(write(fds_[1], &rec, 4), 4);
  close(fds_[1]);
  fds_[1] = -1;
  std::string out;
  EXPECT_EQ(handshake(0, &out), -1);
  EXPECT_EQ(out, "SSL_read failed");
  // Sending to the closed peer fails without a SIGPIPE.
  EXPECT_EQ(handshake(1, &out), -1);
  EXPECT_EQ(out, "Failed to send handshake");

  testing::internal::CaptureStdout();
  EXPECT_EQ(do_scard_handshake(nullptr, 1, 0), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid scard conn");
}

TEST_F(Scard, OverTheHostsSslFunctions) {
  FakeSsl ssl{fds_[0]};
  int peer_fd = fds_[1];
  int peer_result = -2;
  std::thread responder([&] { peer_result = do_scard_handshake(&peer_fd, 0, 0); });
  testing::internal::CaptureStdout();
  EXPECT_EQ(do_scard_handshake(&ssl, 1, 1), 0);
  testing::internal::GetCapturedStdout();
  responder.join();
  EXPECT_EQ(peer_result, 0);
  EXPECT_EQ(ssl.writes, 1);
  EXPECT_EQ(ssl.reads, 1);
}
