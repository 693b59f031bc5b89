// Process-wide state of the transport: the daemon endpoint, and the SDK
// start markers the rest of the library sees through transport.h. Written
// only during SDK start and shutdown, which callers run from one thread;
// read without a lock everywhere else.
#ifndef QEL2_DAEMON_INTF_SDK_STATE_H
#define QEL2_DAEMON_INTF_SDK_STATE_H

#include "daemon_intf/transport.h"
#include "qel2_defs.h"

// Where the daemon listens (filled by orx_tessaline_cli_get_daemon_sock).
struct app_config {
  Uint32 daemon_id;     // 1 to 2147483646
  bool tcp;             // true: TCP to 127.0.0.1; false: abstract UNIX-domain socket
  int port;             // TCP port; only its low 16 bits are used
  char sock_path[100];  // "#/etc/ostrel/daemon_socket<id>"; the '#' becomes the leading 0 byte
};

extern app_config a_conf;

#endif
