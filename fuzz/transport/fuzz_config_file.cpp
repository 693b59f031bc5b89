// Arbitrary configuration files through the reader, for each setting and
// through the whole endpoint configuration.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "daemon_intf/sdk_state.h"
#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_path = "/tmp/qel2-fuzz-config-" + std::to_string(getpid()) + ".cfg";
  transport_seam_set_config_path(g_path.c_str());
  for (const char *v :
       {"tessaline_daemon_socket_type", "tessaline_daemon_tcp_port", "tessaline_daemon_id"})
    unsetenv(v);
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
  atexit([] { unlink(g_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *f = fopen(g_path.c_str(), "wb");
  if (!f) return 0;
  if (size) fwrite(data, 1, size, f);
  fclose(f);
  for (int what : {kConfDaemonId, kConfSocketType, kConfPort}) {
    memset(&a_conf, 0, sizeof a_conf);
    read_configuration(g_path.c_str(), what);
    if (a_conf.daemon_id > 2147483646u) abort();
  }
  if (orx_tessaline_cli_get_daemon_sock() == 0) {
    if (a_conf.daemon_id < 1 || a_conf.daemon_id > 2147483646u) abort();
    if (strnlen(a_conf.sock_path, sizeof a_conf.sock_path) >= sizeof a_conf.sock_path) abort();
    if (a_conf.tcp && a_conf.port == 0) abort();
  }
  return 0;
}
