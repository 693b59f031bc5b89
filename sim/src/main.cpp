// hsm-sim: the stand-in daemon and HSM as a process, for demos and manual runs.
#include <signal.h>

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <hsmsim/daemon.h>

namespace {

void usage() {
  std::fprintf(
      stderr,
      "usage: hsm-sim [--daemon-id N] [--tcp [PORT]]\n"
      "  --daemon-id N  listen on the UNIX socket of daemon id N (default: a free id)\n"
      "  --tcp [PORT]   listen on TCP 127.0.0.1:PORT instead (default port: any free one)\n");
}

bool parse_number(const char *s, unsigned long max, unsigned long &out) {
  if (!s || !*s) return false;
  char *end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(s, &end, 10);
  if (errno || *end || v > max) return false;
  out = v;
  return true;
}

// A bad command line: says what was wrong, then how to call.
int refuse(const std::string &what) {
  std::fprintf(stderr, "hsm-sim: %s\n", what.c_str());
  usage();
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  hsmsim::Daemon::Options opts;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    unsigned long v = 0;
    if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else if (a == "--daemon-id") {
      if (i + 1 >= argc) return refuse("--daemon-id needs a number");
      if (!parse_number(argv[i + 1], 2147483646, v) || v == 0)
        return refuse("--daemon-id \"" + std::string(argv[i + 1]) +
                      "\": not a number from 1 to 2147483646");
      opts.daemon_id = static_cast<uint32_t>(v);
      ++i;
    } else if (a == "--tcp") {
      opts.tcp = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') {
        if (!parse_number(argv[i + 1], 65535, v))
          return refuse("--tcp \"" + std::string(argv[i + 1]) +
                        "\": not a port number from 0 to 65535");
        opts.port = static_cast<uint16_t>(v);
        ++i;
      }
    } else {
      return refuse("unknown option \"" + a + "\"");
    }
  }

  // Block the stop signals before any thread starts, then wait for one.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  try {
    hsmsim::Daemon daemon(opts);
    daemon.set_capture(false);
    std::printf("hsm-sim listening on %s\n", daemon.endpoint().c_str());
    std::printf("  export tessaline_daemon_id=%u\n", daemon.daemon_id());
    std::printf("  export tessaline_daemon_socket_type=%s\n",
                daemon.tcp() ? "TCPSOCKET" : "UNIXSOCKET");
    if (daemon.tcp()) std::printf("  export tessaline_daemon_tcp_port=%u\n", daemon.port());
    namespace def = hsmsim::defaults;
    std::printf("partitions and users:\n");
    std::printf("  %s  crypto user     \"%s\" password \"%s\"\n", def::kPartition, def::kUserName,
                def::kUserPassword);
    std::printf("  %s  crypto officer  \"%s\" password \"%s\"\n", def::kPartition,
                def::kOfficerName, def::kOfficerPassword);
    std::printf("  %s  crypto officer  \"%s\" password \"%s\"\n", def::kAdminPartition,
                def::kAdminName, def::kAdminPassword);
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stop, &sig);
    std::printf("hsm-sim stopping (signal %d)\n", sig);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
