// An application that defines functions named like the library's exported
// helpers (namesakes.c) must not change what the library calls inside: the
// library binds its own calls to its own definitions. This program links
// libqel2.so the way an application does, so the dynamic linker would hand
// the library the application's definitions if it were allowed to.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include <hsmsim/daemon.h>

#include "qel2.h"

extern "C" int namesake_calls;

namespace {

const Uint8 *u8(const char *s) { return reinterpret_cast<const Uint8 *>(s); }

class Namesakes : public ::testing::Test {
 protected:
  void SetUp() override { namesake_calls = 0; }
};

// Start-up runs the daemon version handshake through get_peer_version and
// version_compatible; the application's versions answer "failed" and "not
// compatible".
TEST_F(Namesakes, StartUpSessionAndLoginUseTheLibrarysOwnHelpers) {
  hsmsim::Daemon daemon;
  daemon.export_env();

  Uint32 app = 0, session = 0;
  ASSERT_EQ(0u, Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app));
  ASSERT_EQ(0u, Qel2OpenSession2(app, &session));
  const char user[] = "crypto_user", pswd[] = "user_password";
  EXPECT_EQ(0u, Qel2LoginHSM(session, KQ_CRYPTO_USER, u8(user), sizeof user - 1, u8(pswd),
                             sizeof pswd - 1));
  EXPECT_EQ(0u, Qel2LogoutHSM2(session));
  EXPECT_EQ(0u, Qel2CloseSession(session));
  EXPECT_EQ(0u, Qel2Shutdown2(app));
  EXPECT_EQ(0, namesake_calls);
}

// The smart-card handshake reads the peer's record with read_conn_data; the
// application's version fails every read.
TEST_F(Namesakes, SmartCardHandshakeReadsWithTheLibrarysReader) {
  int fds[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
  sc_handshake_t peer = {};
  peer.command_type = 1;
  peer.version.major = 2;
  peer.version.minor = 5;
  ASSERT_EQ(static_cast<ssize_t>(sizeof peer), write(fds[1], &peer, sizeof peer));

  EXPECT_EQ(0, do_scard_handshake(&fds[0], /*hs_initiator=*/0, /*ssl=*/0));
  sc_handshake_t reply = {};
  // The responder sent its record before returning: no waiting here.
  EXPECT_EQ(static_cast<ssize_t>(sizeof reply), recv(fds[1], &reply, sizeof reply, MSG_DONTWAIT));
  EXPECT_EQ(1, reply.command_type);
  EXPECT_EQ(2, reply.version.major);
  EXPECT_EQ(5, reply.version.minor);
  EXPECT_EQ(0, namesake_calls);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
