// Where a test's own daemon listens: the abstract name the library connects
// to for a daemon id, with an id of this process's own so that test
// processes running side by side never meet.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace tt {

// A listening socket for the first free id of this process's range above
// `base` (its id in *id), or -1.
inline int listen_as_daemon(uint32_t base, int backlog, uint32_t *id) {
  for (uint32_t i = 0; i < 64; ++i) {
    *id = base + static_cast<uint32_t>(getpid() % 1000000) * 64 + i;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string name = "/etc/ostrel/daemon_socket" + std::to_string(*id);
    std::copy(name.begin(), name.end(), a.sun_path + 1);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd, backlog) == 0)
      return fd;
    close(fd);
  }
  return -1;
}

}  // namespace tt
