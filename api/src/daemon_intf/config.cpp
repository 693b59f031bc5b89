// Where the daemon listens: environment variables first, then the
// application configuration file; and connecting one socket there.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "daemon_intf/sdk_state.h"
#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_transport.h"

namespace {

constexpr const char *kDefaultConfigFile = "/opt/hsm/data/application.cfg";
constexpr long long kMaxDaemonId = 2147483646;
constexpr int kDefaultPort = 1111;
constexpr int kLineMax = 128;  // 127 characters and the terminator

std::atomic<const char *> g_config_path{nullptr};

bool is_tcp_value(const char *v) { return strcmp(v, "TCPSOCKET") == 0; }

// One "key=value" setting; false for a line without "=".
bool split_line(char *line, char **key, char **value) {
  char *eq = strchr(line, '=');
  if (!eq) return false;
  *eq = '\0';
  *key = line;
  *value = eq + 1;
  return true;
}

// Applies one key/value to a_conf when it is the setting asked for; false on
// an invalid daemon id.
bool apply_setting(const char *conf_file, int what, const char *key, const char *value) {
  switch (what) {
    case kConfSocketType:
      if (strcmp(key, "SOCKET_TYPE") == 0 && is_tcp_value(value)) a_conf.tcp = true;
      return true;
    case kConfPort:
      if (strcmp(key, "PORT") == 0) a_conf.port = static_cast<int>(strtol(value, nullptr, 10));
      return true;
    case kConfDaemonId: {
      if (strcmp(key, "DAEMON_ID") != 0) return true;
      long long id = strtoll(value, nullptr, 10);
      if (id <= 0 || id > kMaxDaemonId) {
        printf("ERROR: Invalid daemon_id (%s) configured in file: %s, valid [1 to %d]\n", value,
               conf_file, static_cast<int>(kMaxDaemonId));
        return false;
      }
      a_conf.daemon_id = static_cast<Uint32>(id);
      return true;
    }
    default:
      return true;
  }
}

int read_daemon_id_from_env(const char *env) {
  long long id = strtoll(env, nullptr, 10);
  if (id < 1 || id > kMaxDaemonId) {
    printf("Invalid env configured for \"tessaline_daemon_id\", valid [1 to %d]\n",
           static_cast<int>(kMaxDaemonId));
    return -1;
  }
  a_conf.daemon_id = static_cast<Uint32>(id);
  return 0;
}

}  // namespace

void transport_seam_set_config_path(const char *path) { g_config_path.store(path); }

const char *transport_config_path() {
  const char *p = g_config_path.load();
  return p ? p : kDefaultConfigFile;
}

int read_configuration(const char *conf_file, int what) {
  FILE *f = fopen(conf_file, "re");
  if (!f) {
    printf("%s is not present\n", conf_file);
    return -1;
  }
  char line[kLineMax];
  int line_no = 0;
  int rc = 0;
  while (fgets(line, sizeof line, f)) {
    ++line_no;
    line[strcspn(line, "\n")] = '\0';
    if (line[0] == '\0' || line[0] == '#') continue;
    char *key = nullptr;
    char *value = nullptr;
    if (!split_line(line, &key, &value)) {
      printf("ERROR %s: Line %d: Invalid line :%s\n", conf_file, line_no, line);
      rc = -1;
      break;
    }
    if (!apply_setting(conf_file, what, key, value)) {
      rc = -1;
      break;
    }
  }
  fclose(f);
  return rc;
}

int orx_tessaline_cli_get_daemon_sock(void) {
  const char *conf_file = transport_config_path();
  memset(&a_conf, 0, sizeof a_conf);

  if (const char *type = getenv("tessaline_daemon_socket_type"))
    a_conf.tcp = is_tcp_value(type);
  else
    (void)read_configuration(conf_file, kConfSocketType);  // it prints why it failed

  if (a_conf.tcp) {
    if (const char *port = getenv("tessaline_daemon_tcp_port"))
      a_conf.port = static_cast<int>(strtol(port, nullptr, 10));
    else
      (void)read_configuration(conf_file, kConfPort);
    if (a_conf.port == 0) a_conf.port = kDefaultPort;
  }

  if (const char *id = getenv("tessaline_daemon_id")) {
    if (read_daemon_id_from_env(id) != 0) return -1;
  } else if (read_configuration(conf_file, kConfDaemonId) != 0) {
    return -1;
  }
  if (a_conf.daemon_id == 0) {  // the file named no id
    printf("No daemon id configured in %s or \"tessaline_daemon_id\"\n", conf_file);
    return -1;
  }

  int n = snprintf(a_conf.sock_path, sizeof a_conf.sock_path, "#/etc/ostrel/daemon_socket%u",
                   a_conf.daemon_id);
  if (n < 0 || n > 99) return -1;
  return 0;
}

// A stream socket connected to addr, or -1. A refused connection prints
// connect_failed when there is one.
static socket_t connect_stream(int family, const sockaddr *addr, socklen_t len,
                               const char *connect_failed) {
  socket_t fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    printf("Failed to create socket ");
    return -1;
  }
  if (connect(fd, addr, len) != 0) {
    if (connect_failed) printf("%s", connect_failed);
    close(fd);
    return -1;
  }
  return fd;
}

static socket_t connect_unix() {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, a_conf.sock_path, strnlen(a_conf.sock_path, sizeof a_conf.sock_path));
  addr.sun_path[0] = '\0';  // abstract namespace: all 108 bytes are the name
  return connect_stream(AF_UNIX, reinterpret_cast<sockaddr *>(&addr), sizeof addr,
                        "Failed to connect socket ");
}

static socket_t connect_tcp() {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = inet_addr("127.0.0.1");
  addr.sin_port = htons(static_cast<Uint16>(a_conf.port));
  return connect_stream(AF_INET, reinterpret_cast<sockaddr *>(&addr), sizeof addr, nullptr);
}

socket_t connect_daemon_socket() { return a_conf.tcp ? connect_tcp() : connect_unix(); }
