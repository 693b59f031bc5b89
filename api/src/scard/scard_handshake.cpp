// Version handshake with the smart-card (dual-factor) utility, over a plain
// socket or over an SSL connection that the host process supplies. The SSL
// functions are looked up at run time: the library does not link an SSL
// library of its own.
#include <dlfcn.h>
#include <sys/socket.h>

#include <cstdio>

#include "qel2_helpers.h"
#include "qel2_transport.h"

namespace {

using SslReadFn = int (*)(void *ssl, void *buf, int num);
using SslWriteFn = int (*)(void *ssl, const void *buf, int num);

constexpr Int32 kHandshakeCommand = 1;
constexpr ComponentVersion kScardVersion = {2, 5};

template <typename Fn>
Fn host_ssl_function(const char *name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

bool send_record(void *conn, bool ssl, const sc_handshake_t &rec) {
  long n = -1;
  if (ssl) {
    if (auto fn = host_ssl_function<SslWriteFn>("SSL_write")) n = fn(conn, &rec, sizeof rec);
  } else {
    // A utility that went away must not kill the host with SIGPIPE.
    n = send(*static_cast<int *>(conn), &rec, sizeof rec, MSG_NOSIGNAL);
  }
  if (n != static_cast<long>(sizeof rec)) {
    printf("Failed to send handshake");
    return false;
  }
  return true;
}

bool read_record(void *conn, bool ssl, sc_handshake_t *rec) {
  long n = -1;
  if (ssl) {
    if (auto fn = host_ssl_function<SslReadFn>("SSL_read")) n = fn(conn, rec, sizeof *rec);
  } else {
    n = read_conn_data(*static_cast<int *>(conn), rec, sizeof *rec);
  }
  if (n != static_cast<long>(sizeof *rec)) {
    printf("SSL_read failed");
    return false;
  }
  return true;
}

bool peer_record_acceptable(const sc_handshake_t &peer) {
  if (peer.command_type != kHandshakeCommand || peer.response_code != 0) {
    printf("Smart card utility version validation failed");
    return false;
  }
  printf("Dual Factor Utility version received:%d.%02d\n", peer.version.major, peer.version.minor);
  if (version_compatible(peer.version, kScardVersion, kScardVersion)) {
    printf(
        "Version Mismatch with SmartCard Util, Received Version: %d.%d, supported range: "
        "%d.%d to %d.%d\n",
        peer.version.major, peer.version.minor, kScardVersion.major, kScardVersion.minor,
        kScardVersion.major, kScardVersion.minor);
    return false;
  }
  return true;
}

}  // namespace

int do_scard_handshake(void *conn, int hs_initiator, int ssl) {
  if (!conn) {
    printf("Invalid scard conn");
    return -1;
  }
  const sc_handshake_t mine{kHandshakeCommand, 0, kScardVersion};
  if (hs_initiator && !send_record(conn, ssl, mine)) return -1;
  sc_handshake_t peer{};
  if (!read_record(conn, ssl, &peer)) return -1;
  if (!peer_record_acceptable(peer)) return -1;
  if (!hs_initiator && !send_record(conn, ssl, mine)) return -1;
  return 0;
}
