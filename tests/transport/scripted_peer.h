// A daemon whose every byte the test chooses: it listens where the library
// looks for its daemon, reads whole requests, and answers each with what the
// test queued for it (by default a header and as many zero bytes as the
// request expects). The test may also write to the current connection at
// any moment, so that an answer can arrive in pieces exactly where it wants.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "daemon_listener.h"
#include "test_util.h"

namespace tt {

class ScriptedPeer {
 public:
  struct Request {
    uint32_t req_id = 0;
    uint8_t req_type = 0;
    uint32_t expected = 0;  // payload length the request announces
  };
  // Bytes to write for a request; empty: no answer.
  using Responder = std::function<Bytes(const Request &)>;

  ScriptedPeer() {
    fd_ = listen_as_daemon(1700000000u, 8, &id_);
    if (fd_ < 0) throw std::runtime_error("scripted peer: cannot listen");
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedPeer() {
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
      for (int c : conns_) shutdown(c, SHUT_RDWR);
    }
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    for (int c : conns_) close(c);
    close(fd_);
  }
  ScriptedPeer(const ScriptedPeer &) = delete;
  ScriptedPeer &operator=(const ScriptedPeer &) = delete;

  uint32_t daemon_id() const { return id_; }

  // The next request read is answered by r (in the order queued).
  void expect(Responder r) {
    std::lock_guard lock(mu_);
    responders_.push_back(std::move(r));
  }
  // Writes to the latest connection.
  void write(const Bytes &b) {
    std::lock_guard lock(mu_);
    write_all(current_, b.data(), b.size());
  }
  // The i-th request read (from 0), waiting up to 5 s for it.
  Request request(size_t i) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::seconds(5), [&] { return requests_.size() > i; });
    return i < requests_.size() ? requests_[i] : Request{0xFFFFFFFFu, 0xFF, 0};
  }
  size_t requests() const {
    std::lock_guard lock(mu_);
    return requests_.size();
  }
  int accepted() const {
    std::lock_guard lock(mu_);
    return static_cast<int>(conns_.size());
  }
  // A connect completes before accept() returns: waits up to 5 s for n.
  bool wait_accepted(int n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(5),
                        [&] { return static_cast<int>(conns_.size()) >= n; });
  }

 private:
  static bool read_all(int fd, uint8_t *p, size_t n) {
    while (n > 0) {
      ssize_t k = recv(fd, p, n, 0);
      if (k <= 0) return false;
      p += k;
      n -= static_cast<size_t>(k);
    }
    return true;
  }
  static void write_all(int fd, const uint8_t *p, size_t n) {
    while (n > 0) {
      ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
      if (k <= 0) return;
      p += k;
      n -= static_cast<size_t>(k);
    }
  }

  // One connection at a time: the library closes a connection it drops
  // before it connects anew.
  void run() {
    for (;;) {
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      {
        std::lock_guard lock(mu_);
        if (stopping_) shutdown(c, SHUT_RDWR);
        conns_.push_back(c);
        current_ = c;
        cv_.notify_all();
      }
      serve(c);
    }
  }
  void serve(int c) {
    for (;;) {
      Bytes h(56);
      if (!read_all(c, h.data(), h.size())) return;
      Bytes body(get_le(h, 16, 2));  // the test's requests stay below 64 KiB
      if (!body.empty() && !read_all(c, body.data(), body.size())) return;
      Request r{static_cast<uint32_t>(get_le(h, 4, 4)), h[51],
                static_cast<uint32_t>(get_le(h, 54, 2) << 16 | get_le(h, 18, 2))};
      std::lock_guard lock(mu_);
      requests_.push_back(r);
      cv_.notify_all();
      Bytes a;
      if (responders_.empty()) {
        a = answer(r.req_id, 0, Bytes(r.expected, 0), r.req_type);
      } else {
        a = responders_.front()(r);
        responders_.pop_front();
      }
      write_all(c, a.data(), a.size());
    }
  }

  uint32_t id_ = 0;
  int fd_ = -1;
  std::thread thread_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool stopping_ = false;
  std::vector<int> conns_;
  int current_ = -1;
  std::deque<Responder> responders_;
  std::vector<Request> requests_;
};

}  // namespace tt
