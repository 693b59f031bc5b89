#include "daemon/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hsmsim::daemon {

namespace {
constexpr int kBacklog = 1024;

int fail_and_close(int fd) {
  int e = errno;
  ::close(fd);
  errno = e;
  return -1;
}
}  // namespace

std::string abstract_name(uint32_t daemon_id) {
  std::string name(sizeof(sockaddr_un::sun_path), '\0');
  std::string text = "/etc/ostrel/daemon_socket" + std::to_string(daemon_id);
  name.replace(1, text.size(), text);
  return name;
}

int listen_unix(uint32_t daemon_id) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string name = abstract_name(daemon_id);
  std::memcpy(addr.sun_path, name.data(), sizeof addr.sun_path);
  // The whole 108-byte path is the name (address length 110), as the library connects.
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return fail_and_close(fd);
  if (::listen(fd, kBacklog) != 0) return fail_and_close(fd);
  return fd;
}

int listen_tcp(uint16_t port, uint16_t &bound_port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return fail_and_close(fd);
  if (::listen(fd, kBacklog) != 0) return fail_and_close(fd);
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) return fail_and_close(fd);
  bound_port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace hsmsim::daemon
