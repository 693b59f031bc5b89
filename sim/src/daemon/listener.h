// The daemon's listening sockets: the abstract UNIX-domain name that ends in
// the daemon id, or TCP on 127.0.0.1.
#pragma once

#include <cstdint>
#include <string>

namespace hsmsim::daemon {

// The 108-byte abstract name: a zero byte, "/etc/ostrel/daemon_socket",
// the id in decimal, zero bytes to the end.
std::string abstract_name(uint32_t daemon_id);

// A listening socket, or -1 with errno set.
int listen_unix(uint32_t daemon_id);
int listen_tcp(uint16_t port, uint16_t &bound_port);

}  // namespace hsmsim::daemon
