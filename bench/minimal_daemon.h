// A minimal answering daemon for benchmarks: it answers every request at
// once with a header carrying the request's id and type and a zero payload
// of the length the request expects, so that what a round trip costs beyond
// the sockets is the client's own. One thread per connection.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class MinimalDaemon {
 public:
  explicit MinimalDaemon(uint32_t daemon_id) : id_(daemon_id) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a = address(daemon_id);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(fd_, 512) != 0)
      throw std::runtime_error("minimal daemon: cannot listen");
    acceptor_ = std::thread([this] { accept_loop(); });
  }
  ~MinimalDaemon() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    acceptor_.join();
    {
      std::lock_guard lock(mu_);
      for (int c : conns_) shutdown(c, SHUT_RDWR);
    }
    for (auto &t : workers_) t.join();
    for (int c : conns_) close(c);
    close(fd_);
  }
  uint32_t daemon_id() const { return id_; }

  static sockaddr_un address(uint32_t daemon_id) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string name = "/etc/ostrel/daemon_socket" + std::to_string(daemon_id);
    memcpy(a.sun_path + 1, name.data(), name.size());
    return a;
  }

 private:
  static constexpr size_t kHdr = 56;

  void accept_loop() {
    for (;;) {
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) {
        if (stop_) return;
        continue;
      }
      std::lock_guard lock(mu_);
      conns_.push_back(c);
      workers_.emplace_back([c] { serve(c); });
    }
  }

  static uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

  // Requests arrive whole or in pieces; each complete one is answered.
  static void serve(int c) {
    std::vector<uint8_t> in(1 << 16), out;
    size_t have = 0;
    for (;;) {
      ssize_t n = recv(c, in.data() + have, in.size() - have, 0);
      if (n <= 0) return;
      have += static_cast<size_t>(n);
      size_t at = 0;
      out.clear();
      while (have - at >= kHdr) {
        const uint8_t *h = in.data() + at;
        const size_t len = kHdr + le16(h + 16);  // in_len
        if (have - at < len) break;
        const uint32_t expected = uint32_t{le16(h + 54)} << 16 | le16(h + 18);
        const size_t o = out.size();
        out.resize(o + kHdr + expected, 0);
        memcpy(out.data() + o + 4, h + 4, 4);    // req_id
        memcpy(out.data() + o + 18, h + 18, 2);  // out_len
        memcpy(out.data() + o + 54, h + 54, 2);  // out_len2
        out[o + 51] = h[51];                     // req_type
        at += len;
      }
      for (size_t sent = 0; sent < out.size();) {
        ssize_t k = send(c, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (k <= 0) return;
        sent += static_cast<size_t>(k);
      }
      memmove(in.data(), in.data() + at, have - at);
      have -= at;
      if (have == in.size()) in.resize(in.size() * 2);
    }
  }

  uint32_t id_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::vector<int> conns_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace bench
