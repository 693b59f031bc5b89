// A bare client for the stand-in daemon: builds request messages byte by
// byte at the documented offsets (independently of the stand-in's own
// codec) and reads answers off the socket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <hsmsim/daemon.h>

namespace simtest {

template <typename T>
void put(std::vector<uint8_t> &b, size_t off, T v) {
  std::memcpy(b.data() + off, &v, sizeof v);
}
template <typename T>
T get(const std::vector<uint8_t> &b, size_t off) {
  T v;
  std::memcpy(&v, b.data() + off, sizeof v);
  return v;
}

struct Request {
  uint8_t operation = 0;
  uint8_t req_type = 0;
  uint32_t req_id = 0x40000000;
  uint16_t opcode = 0;
  uint16_t command_type = 0;
  uint32_t sess_handle = 0;
  uint64_t op_ctx = 0;
  bool attest = false;
  std::vector<std::vector<uint8_t>> inputs;
  std::vector<uint32_t> outputs;  // output segment sizes
};

inline std::vector<uint8_t> build(const Request &r) {
  size_t n = r.inputs.size() + r.outputs.size();
  size_t len = 96 + 6 * n;
  for (const auto &in : r.inputs) len += in.size();
  std::vector<uint8_t> m(len, 0);
  uint64_t expected = 0;
  for (auto o : r.outputs) expected += o;
  put<uint32_t>(m, 4, r.req_id);
  put<uint32_t>(m, 8, r.sess_handle);
  put<uint16_t>(m, 16, static_cast<uint16_t>(len - 56));
  put<uint16_t>(m, 18, static_cast<uint16_t>(expected & 0xFFFF));
  put<uint16_t>(m, 20, r.opcode);
  put<uint64_t>(m, 40, r.op_ctx);
  m[48] = r.command_type == 0 ? 0x56 : (r.command_type == 9 ? 0x58 : 0x57);
  m[49] = r.operation;
  m[51] = r.req_type;
  put<uint16_t>(m, 54, static_cast<uint16_t>(expected > 0xFFFF ? expected >> 16 : 0));
  m[57] = static_cast<uint8_t>(r.inputs.size());
  m[58] = static_cast<uint8_t>(r.outputs.size());
  m[59] = r.attest ? 1 : 0;
  put<uint16_t>(m, 68, r.command_type);
  size_t d = 96;
  for (const auto &in : r.inputs) {
    m[d] = 0;
    put<uint16_t>(m, d + 4, static_cast<uint16_t>(in.size()));
    d += 6;
  }
  for (auto o : r.outputs) {
    m[d] = 1;
    put<uint16_t>(m, d + 4, static_cast<uint16_t>(o));
    d += 6;
  }
  for (const auto &in : r.inputs) {
    if (!in.empty()) std::memcpy(m.data() + d, in.data(), in.size());
    d += in.size();
  }
  return m;
}

inline std::vector<uint8_t> control(uint8_t op, uint32_t req_id, uint8_t msg_type,
                                    uint16_t out_len) {
  std::vector<uint8_t> m(56, 0);
  put<uint32_t>(m, 4, req_id);
  put<uint16_t>(m, 18, out_len);
  put<uint16_t>(m, 20, 255);
  m[48] = msg_type;
  m[49] = op;
  return m;
}

struct Reply {
  uint32_t status = 0, req_id = 0;
  uint64_t op_ctx = 0;
  uint8_t serveridx = 0, req_type = 0;
  std::vector<uint8_t> payload;
};

class RawClient {
 public:
  explicit RawClient(const hsmsim::Daemon &d) {
    if (d.tcp()) {
      fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(d.port());
      if (::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) close_fd();
    } else {
      fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      std::string name = "#/etc/ostrel/daemon_socket" + std::to_string(d.daemon_id());
      std::memcpy(a.sun_path, name.data(), name.size());
      a.sun_path[0] = 0;
      if (::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) close_fd();
    }
  }
  ~RawClient() { close_fd(); }
  RawClient(const RawClient &) = delete;
  RawClient &operator=(const RawClient &) = delete;

  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool send_bytes(const std::vector<uint8_t> &b) {
    size_t done = 0;
    while (done < b.size()) {
      ssize_t n = ::send(fd_, b.data() + done, b.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Reads exactly n bytes; false on end of stream or after timeout_ms without data.
  bool read_exact(uint8_t *p, size_t n, int timeout_ms = 5000) {
    size_t got = 0;
    while (got < n) {
      pollfd pf{fd_, POLLIN, 0};
      if (::poll(&pf, 1, timeout_ms) <= 0) return false;
      ssize_t r = ::recv(fd_, p + got, n - got, 0);
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    return true;
  }

  std::optional<Reply> read_reply(int timeout_ms = 5000) {
    std::vector<uint8_t> h(56);
    if (!read_exact(h.data(), 56, timeout_ms)) return std::nullopt;
    Reply r;
    r.status = get<uint32_t>(h, 0);
    r.req_id = get<uint32_t>(h, 4);
    r.op_ctx = get<uint64_t>(h, 40);
    r.serveridx = h[50];
    r.req_type = h[51];
    size_t p = (size_t{get<uint16_t>(h, 54)} << 16) | get<uint16_t>(h, 18);
    r.payload.resize(p);
    if (p && !read_exact(r.payload.data(), p, timeout_ms)) return std::nullopt;
    return r;
  }

  std::optional<Reply> call(const Request &req) {
    if (!send_bytes(build(req))) return std::nullopt;
    return read_reply();
  }

  // True when the daemon closed the connection (end of stream within the wait).
  bool closed_by_peer(int timeout_ms = 5000) {
    uint8_t b;
    pollfd pf{fd_, POLLIN, 0};
    if (::poll(&pf, 1, timeout_ms) <= 0) return false;
    return ::recv(fd_, &b, 1, 0) == 0;
  }

 private:
  void close_fd() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

inline std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

}  // namespace simtest
