// A daemon that answers every request, correctly but slowly and messily,
// within the waiting rules: a thread per accepted connection, each answer
// exactly once on the connection its request came on, every message whole
// and contiguous in the stream. Its stream is chopped at random points with
// short pauses; a few blocking answers stall past their time-out and finish
// late; non-blocking answers are held and released out of order behind later
// answers; stray messages come in between, each repeating an id the thread
// sent earlier and no longer holds (a daemon answers only what it was sent);
// and now and then a request is answered by closing the connection.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "daemon_listener.h"
#include "test_util.h"

namespace chaos {

using tt::Bytes;
using Clock = std::chrono::steady_clock;

// Which test thread sent a request, and its number there; carried as the
// request's whole input.
struct Tag {
  uint32_t thread = 0;
  uint32_t seq = 0;
};
inline constexpr uint32_t kTagMagic = 0x7A900000u;
inline constexpr uint32_t kMaxThreads = 16;

inline Bytes tag_bytes(Tag t) {
  Bytes b;
  tt::put_le(b, 0, kTagMagic | t.thread, 4);
  tt::put_le(b, 4, t.seq, 4);
  return b;
}

// The payload a tag is answered with (n >= 8): it begins with the tag, so a
// payload that went astray says whose it was.
inline Bytes payload_for(Tag t, size_t n) {
  Bytes b(n);
  uint32_t h = (t.thread + 1) * 0x9E3779B1u ^ t.seq * 0x85EBCA77u;
  for (size_t i = 0; i < n; ++i) {
    h = h * 1664525u + 1013904223u;
    b[i] = static_cast<uint8_t>(h >> 24);
  }
  const Bytes tag = tag_bytes(t);
  std::copy(tag.begin(), tag.begin() + static_cast<long>(std::min<size_t>(8, n)), b.begin());
  return b;
}

// Whose payload b is, for failure messages.
inline std::string owner_of(const Bytes &b) {
  if (b.size() < 8 || (tt::get_le(b, 0, 4) & 0xFFFF0000u) != kTagMagic) return "nobody's";
  return "thread " + std::to_string(tt::get_le(b, 0, 4) & 0xFFFF) + " #" +
         std::to_string(tt::get_le(b, 4, 4)) + "'s";
}

struct Settings {
  uint32_t seed = 1;
  int unit_ms = 20;         // one waiting unit of the library
  int stall_pct = 4;        // blocking answers stalled past their time-out
  int close_permille = 12;  // requests answered by closing the connection
  int hold_pct = 70;        // non-blocking answers held back
  int release_pct = 30;     // a request releases held answers behind its own
  int stray_pct = 8;        // a request brings a stray message along
  int quiet_units = 3;      // held answers all go out after this long without a request
};

class ChaosPeer {
 public:
  explicit ChaosPeer(const Settings &m) : m_(m) {
    fd_ = tt::listen_as_daemon(1800000000u, 16, &id_);
    if (fd_ < 0) throw std::runtime_error("chaos peer: cannot listen");
    acceptor_ = std::thread([this] { accept_loop(); });
  }
  ~ChaosPeer() {
    stopping_ = true;
    shutdown(fd_, SHUT_RDWR);
    acceptor_.join();
    for (auto &t : conns_) t.join();
    close(fd_);
  }
  ChaosPeer(const ChaosPeer &) = delete;
  ChaosPeer &operator=(const ChaosPeer &) = delete;

  uint32_t daemon_id() const { return id_; }
  bool stalled(Tag t) const {
    std::lock_guard lock(mu_);
    return stalled_.count(key(t)) != 0;
  }
  // Closes of a thread's connections, counted before the close and after
  // it: a request sent while a close is under way may still be lost to it.
  int closes_begun(uint32_t thread) const { return closing_[thread % kMaxThreads].load(); }
  int closes_done(uint32_t thread) const { return closed_[thread % kMaxThreads].load(); }

  // The thread collected its non-blocking request `id`: a stray may now
  // carry that id.
  void collected(uint32_t thread, uint32_t id) {
    std::lock_guard lock(mu_);
    collected_[thread % kMaxThreads].push_back(id);
  }

  struct Stats {
    int requests, stalls, closes, strays, held_behind;
  };
  Stats stats() const {
    return {requests_.load(), stalls_.load(), closes_.load(), strays_.load(), held_behind_.load()};
  }

 private:
  // An answer on its way out: its bytes, how many went, and where it stalls.
  struct Out {
    Bytes b;
    size_t off = 0;
    long stall_at = -1;  // offset the stream halts at; -1: none (or passed)
    Clock::time_point read_at{};
    Clock::time_point first_at{};  // its first byte went
  };
  struct Conn {
    int fd = -1;
    std::mt19937 rng;
    Bytes in;
    std::deque<Out> out;
    std::vector<Out> held;
    std::vector<uint32_t> blocking_ids;  // of the requests read so far
    int thread = -1;
    Clock::time_point last_request = Clock::now();
    Clock::time_point next_write = Clock::now();
  };

  static uint64_t key(Tag t) { return uint64_t{t.thread} << 32 | t.seq; }
  Clock::duration units(int n) const { return std::chrono::milliseconds(m_.unit_ms) * n; }
  static int pct(std::mt19937 &rng) { return static_cast<int>(rng() % 100); }

  void accept_loop() {
    for (uint32_t n = 0;; ++n) {
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (c < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      conns_.emplace_back([this, c, n] { serve(c, m_.seed * 1000003u + n); });
    }
  }

  void serve(int fd, uint32_t conn_seed) {
    Conn c;
    c.fd = fd;
    c.rng.seed(conn_seed);
    while (!stopping_ && c.fd >= 0) {
      const auto now = Clock::now();
      if (!c.held.empty() && now - c.last_request >= units(m_.quiet_units)) release(c, 100);
      bool blocked = false;
      while (!c.out.empty() && Clock::now() >= c.next_write && !blocked) {
        const int r = write_chunk(c);
        if (r < 0) return finish(c);
        blocked = r == 0;
      }
      auto wake = Clock::now() + std::chrono::milliseconds(10);  // looks at stopping_
      if (!c.out.empty() && !blocked) wake = std::min(wake, c.next_write);
      if (!c.held.empty()) wake = std::min(wake, c.last_request + units(m_.quiet_units));
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
      pollfd p{c.fd, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
      if (poll(&p, 1, static_cast<int>(std::max<long>(0, ms.count()) + 1)) <= 0) continue;
      if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      uint8_t buf[4096];
      const ssize_t k = recv(c.fd, buf, sizeof buf, 0);
      if (k == 0 || (k < 0 && errno != EAGAIN && errno != EINTR)) return finish(c);
      if (k > 0) c.in.insert(c.in.end(), buf, buf + k);
      while (c.fd >= 0 && c.in.size() >= 56) {
        const size_t whole = 56 + tt::get_le(c.in, 16, 2);
        if (c.in.size() < whole) break;
        const Bytes msg(c.in.begin(), c.in.begin() + static_cast<long>(whole));
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(whole));
        handle(c, msg);
      }
    }
    finish(c);
  }
  static void finish(Conn &c) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
  }

  void handle(Conn &c, const Bytes &msg) {
    const auto now = Clock::now();
    const uint32_t req_id = static_cast<uint32_t>(tt::get_le(msg, 4, 4));
    const uint8_t req_type = msg[51];
    const size_t expected = tt::get_le(msg, 54, 2) << 16 | tt::get_le(msg, 18, 2);
    Tag tag;
    if (msg.size() >= 56 + 8) {
      const uint32_t w = static_cast<uint32_t>(tt::get_le(msg, msg.size() - 8, 4));
      if ((w & 0xFFFF0000u) == kTagMagic) {
        tag = {w & 0xFFFF, static_cast<uint32_t>(tt::get_le(msg, msg.size() - 4, 4))};
        c.thread = static_cast<int>(tag.thread);
      }
    }
    ++requests_;
    c.last_request = now;
    if (c.thread >= 0 && static_cast<int>(c.rng() % 1000) < m_.close_permille) {
      // Everything held or queued for this connection goes with it.
      ++closing_[c.thread % kMaxThreads];
      finish(c);
      ++closed_[c.thread % kMaxThreads];
      ++closes_;
      return;
    }
    Out a{tt::answer(req_id, 0, payload_for(tag, expected), req_type)};
    a.read_at = now;
    if (req_type == 0) {
      c.blocking_ids.push_back(req_id);
      if (pct(c.rng) < m_.stall_pct) {
        // Before the first byte, inside the header, or inside the payload.
        const size_t len = a.b.size();
        switch (c.rng() % 3) {
          case 0:
            a.stall_at = 0;
            break;
          case 1:
            a.stall_at = 1 + static_cast<long>(c.rng() % 55);
            break;
          default:
            a.stall_at = static_cast<long>(56 + c.rng() % (len - 56));
            break;
        }
        std::lock_guard lock(mu_);
        stalled_.insert(key(tag));
        ++stalls_;
      }
      if (pct(c.rng) < 25) release(c, 50);
      c.out.push_back(std::move(a));
    } else if (pct(c.rng) < m_.hold_pct) {
      c.held.push_back(std::move(a));
    } else {
      c.out.push_back(std::move(a));
    }
    if (pct(c.rng) < m_.release_pct) held_behind_ += release(c, 50);
    if (pct(c.rng) < m_.stray_pct) {
      if (const auto stray = stray_id(c)) {
        c.out.push_back(
            Out{tt::answer(stray->id, 0, tt::pattern(c.rng() % 100, 9), stray->nb ? 1 : 0)});
        ++strays_;
      }
    }
  }

  // An id for a stray that no request of the library waits for: a blocking
  // one this connection was sent before (its answer is queued ahead of the
  // stray, and the thread sends one blocking request at a time), or a
  // non-blocking one whose request the thread collected.
  struct StrayId {
    uint32_t id;
    bool nb;
  };
  std::optional<StrayId> stray_id(Conn &c) {
    if (c.rng() % 2 && c.thread >= 0) {
      std::lock_guard lock(mu_);
      const std::vector<uint32_t> &ids = collected_[c.thread % kMaxThreads];
      if (!ids.empty()) return StrayId{ids[c.rng() % ids.size()], true};
    }
    if (c.blocking_ids.empty()) return std::nullopt;
    return StrayId{c.blocking_ids[c.rng() % c.blocking_ids.size()], false};
  }

  // Queues each held answer with probability p%, in random order; how many.
  static int release(Conn &c, int p) {
    std::shuffle(c.held.begin(), c.held.end(), c.rng);
    std::vector<Out> keep;
    int n = 0;
    for (Out &o : c.held) {
      if (pct(c.rng) < p) {
        c.out.push_back(std::move(o));
        ++n;
      } else {
        keep.push_back(std::move(o));
      }
    }
    c.held = std::move(keep);
    return n;
  }

  // Writes one chunk of random size from the queue's front, never past a
  // stall point. 1: wrote or stalled; 0: the socket is full; -1: it failed.
  int write_chunk(Conn &c) {
    Out &front = c.out.front();
    if (front.stall_at >= 0 && front.off == static_cast<size_t>(front.stall_at)) {
      // Past the library's wait for this answer (60 units from the request
      // went, 40 from its first byte) by 20 units; so it also ends within
      // 20 units of the thread's next request.
      auto due = front.read_at + units(60);
      if (front.off > 0) due = std::min(due, front.first_at + units(40));
      c.next_write = due + units(20);
      front.stall_at = -1;
      return 1;
    }
    size_t want;
    const int r = pct(c.rng);
    if (r < 50)
      want = 1 + c.rng() % 16;
    else if (r < 80)
      want = 17 + c.rng() % 184;
    else
      want = 1u << 20;
    Bytes chunk;
    for (const Out &o : c.out) {
      const size_t lim = o.stall_at >= 0 ? static_cast<size_t>(o.stall_at) : o.b.size();
      const size_t take = std::min(want - chunk.size(), lim - o.off);
      chunk.insert(chunk.end(), o.b.begin() + static_cast<long>(o.off),
                   o.b.begin() + static_cast<long>(o.off + take));
      if (chunk.size() == want || lim < o.b.size()) break;
    }
    const ssize_t k = send(c.fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (k < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    const auto now = Clock::now();
    size_t n = static_cast<size_t>(k);
    while (n > 0) {
      Out &o = c.out.front();
      if (o.off == 0) o.first_at = now;
      const size_t take = std::min(n, o.b.size() - o.off);
      o.off += take;
      n -= take;
      if (o.off == o.b.size()) c.out.pop_front();
    }
    if (pct(c.rng) < 40) c.next_write = now + std::chrono::microseconds(50 + c.rng() % 1500);
    return 1;
  }

  const Settings m_;
  uint32_t id_ = 0;
  int fd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> conns_;  // only the acceptor adds, before the join
  mutable std::mutex mu_;
  std::set<uint64_t> stalled_;
  std::vector<uint32_t> collected_[kMaxThreads];
  std::atomic<int> closing_[kMaxThreads] = {};
  std::atomic<int> closed_[kMaxThreads] = {};
  std::atomic<int> requests_{0}, stalls_{0}, closes_{0}, strays_{0}, held_behind_{0};
};

}  // namespace chaos
