// Where the daemon listens: environment variables, the configuration file,
// and the sockets opened from them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "daemon_intf/sdk_state.h"
#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"

namespace {

class Config : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *v :
         {"tessaline_daemon_socket_type", "tessaline_daemon_tcp_port", "tessaline_daemon_id"})
      unsetenv(v);
    char tmpl[] = "/tmp/qel2-config-XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = tmpl;
    transport_seam_set_config_path(path_.c_str());
    memset(&a_conf, 0, sizeof a_conf);
  }
  void TearDown() override {
    transport_seam_set_config_path(nullptr);
    unlink(path_.c_str());
  }
  void write_file(const std::string &text) { std::ofstream(path_, std::ios::trunc) << text; }
  // read_configuration for one setting, with its output.
  int read(int what, std::string *out = nullptr) {
    testing::internal::CaptureStdout();
    int r = read_configuration(path_.c_str(), what);
    std::string o = testing::internal::GetCapturedStdout();
    if (out) *out = o;
    return r;
  }
  int get_sock(std::string *out = nullptr) {
    testing::internal::CaptureStdout();
    int r = orx_tessaline_cli_get_daemon_sock();
    std::string o = testing::internal::GetCapturedStdout();
    if (out) *out = o;
    return r;
  }
  std::string path_;
};

}  // namespace

TEST_F(Config, FileKeysAreComparedWholeWithoutTrimming) {
  const struct {
    const char *text;
    int rc;
    Uint32 id;
  } cases[] = {
      {"DAEMON_ID = 3\n", 0, 0},
      {"DAEMON_ID=3\n", 0, 3},
      {"# comment\n\nDAEMON_ID=4\nOTHER=1\n", 0, 4},
      {"DAEMON_ID=4\nDAEMON_ID=9\n", 0, 9},  // the last one counts
      {"DAEMON_ID=2147483646", 0, 2147483646},
      {"DAEMON_ID=3\r\n", 0, 3},  // strtoll stops at the carriage return
  };
  for (const auto &c : cases) {
    a_conf.daemon_id = 0;
    write_file(c.text);
    EXPECT_EQ(read(kConfDaemonId), c.rc) << c.text;
    EXPECT_EQ(a_conf.daemon_id, c.id) << c.text;
  }
}

TEST_F(Config, InvalidDaemonIdsAndLinesFail) {
  for (const char *bad : {"0", "-5", "2147483647", "abc"}) {
    write_file(std::string("DAEMON_ID=") + bad + "\n");
    std::string out;
    EXPECT_EQ(read(kConfDaemonId, &out), -1) << bad;
    EXPECT_EQ(out, std::string("ERROR: Invalid daemon_id (") + bad +
                       ") configured in file: " + path_ + ", valid [1 to 2147483646]\n");
  }
  // A line without "=" stops the reading, even before a valid line.
  write_file("SOCKET_TYPE=TCPSOCKET\nbroken line\nDAEMON_ID=5\n");
  a_conf.daemon_id = 0;
  std::string out;
  EXPECT_EQ(read(kConfDaemonId, &out), -1);
  EXPECT_EQ(out, "ERROR " + path_ + ": Line 2: Invalid line :broken line\n");
  EXPECT_EQ(a_conf.daemon_id, 0u);
}

TEST_F(Config, LongLinesAreReadInPiecesOf127Characters) {
  // A 200-character comment: its second piece does not begin with "#".
  write_file("#" + std::string(199, 'x') + "\nDAEMON_ID=5\n");
  std::string out;
  EXPECT_EQ(read(kConfDaemonId, &out), -1);
  EXPECT_EQ(out, "ERROR " + path_ + ": Line 2: Invalid line :" + std::string(73, 'x') + "\n");
  // A line of exactly 127 characters leaves its newline as an empty line 2.
  write_file("X=" + std::string(125, 'y') + "\nbad\n");
  EXPECT_EQ(read(kConfDaemonId, &out), -1);
  EXPECT_NE(out.find("Line 3: Invalid line :bad"), std::string::npos);
}

TEST_F(Config, SocketTypeAndPortFromTheFile) {
  write_file("SOCKET_TYPE=TCPSOCKET\nPORT=70000\nDAEMON_ID=12\n");
  ASSERT_EQ(get_sock(), 0);
  EXPECT_TRUE(a_conf.tcp);
  EXPECT_EQ(a_conf.port, 70000);
  EXPECT_EQ(a_conf.daemon_id, 12u);
  for (const char *type : {"SOCKET_TYPE=tcpsocket\n", "SOCKET_TYPE=TCPSOCKET \n",
                           "SOCKET_TYPE=TCPSOCKET\r\n", "SOCKET_TYPE=TCPSOCKETS\n"}) {
    write_file(std::string(type) + "DAEMON_ID=12\n");
    ASSERT_EQ(get_sock(), 0);
    EXPECT_FALSE(a_conf.tcp) << type;
  }
  write_file("SOCKET_TYPE=TCPSOCKET\nPORT=word\nDAEMON_ID=12\n");
  ASSERT_EQ(get_sock(), 0);
  EXPECT_EQ(a_conf.port, 1111);
}

TEST_F(Config, EnvironmentWinsOverTheFile) {
  write_file("SOCKET_TYPE=TCPSOCKET\nPORT=2000\nDAEMON_ID=12\n");
  setenv("tessaline_daemon_socket_type", "tcpsocket", 1);
  ASSERT_EQ(get_sock(), 0);
  EXPECT_FALSE(a_conf.tcp);
  EXPECT_STREQ(a_conf.sock_path, "#/etc/ostrel/daemon_socket12");

  setenv("tessaline_daemon_socket_type", "TCPSOCKET", 1);
  setenv("tessaline_daemon_tcp_port", "notanumber", 1);
  setenv("tessaline_daemon_id", "2147483646", 1);
  ASSERT_EQ(get_sock(), 0);
  EXPECT_TRUE(a_conf.tcp);
  EXPECT_EQ(a_conf.port, 1111);
  EXPECT_EQ(a_conf.daemon_id, 2147483646u);
  EXPECT_STREQ(a_conf.sock_path, "#/etc/ostrel/daemon_socket2147483646");

  for (const char *bad : {"0", "-5", "2147483647"}) {
    setenv("tessaline_daemon_id", bad, 1);
    std::string out;
    EXPECT_EQ(get_sock(&out), -1) << bad;
    EXPECT_EQ(out, "Invalid env configured for \"tessaline_daemon_id\", valid [1 to 2147483646]\n");
  }
}

TEST_F(Config, DaemonIdIsRequiredForBothSocketTypes) {
  unlink(path_.c_str());
  std::string out;
  EXPECT_EQ(get_sock(&out), -1);
  const std::string missing = path_ + " is not present\n";
  EXPECT_EQ(out, missing + missing);  // socket type, then daemon id

  setenv("tessaline_daemon_socket_type", "TCPSOCKET", 1);
  setenv("tessaline_daemon_tcp_port", "1234", 1);
  EXPECT_EQ(get_sock(&out), -1);
  EXPECT_EQ(out, missing);

  write_file("PORT=5\n");  // a file without an id
  EXPECT_EQ(get_sock(), -1);
}

TEST_F(Config, UnixNameIsAll108BytesAndTheSocketIsCloseOnExec) {
  // A listener bound to exactly the name the library must use.
  const Uint32 id = 2000000000u + static_cast<Uint32>(getpid() % 100000);
  int l = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(l, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string name = "/etc/ostrel/daemon_socket" + std::to_string(id);
  memcpy(addr.sun_path + 1, name.data(), name.size());
  ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(l, 4), 0);

  setenv("tessaline_daemon_id", std::to_string(id).c_str(), 1);
  setenv("tessaline_daemon_socket_type", "UNIXSOCKET", 1);
  ASSERT_EQ(get_sock(), 0);
  socket_t fd = connect_daemon_socket();
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  close(fd);

  // The same name with a shorter address length is another socket.
  close(l);
  testing::internal::CaptureStdout();
  EXPECT_EQ(connect_daemon_socket(), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to connect socket ");
}

TEST_F(Config, TcpPortKeepsItsLow16Bits) {
  int l = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(l, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(4464);
  if (bind(l, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    close(l);
    GTEST_SKIP() << "port 4464 is in use";
  }
  ASSERT_EQ(listen(l, 4), 0);
  setenv("tessaline_daemon_socket_type", "TCPSOCKET", 1);
  setenv("tessaline_daemon_tcp_port", "70000", 1);  // 70000 & 0xFFFF = 4464
  setenv("tessaline_daemon_id", "1", 1);
  ASSERT_EQ(get_sock(), 0);
  socket_t fd = connect_daemon_socket();
  EXPECT_GE(fd, 0);
  if (fd >= 0) {
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    close(fd);
  }
  close(l);
}
