#include "daemon/connection.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hsmsim::daemon {

namespace {
constexpr size_t kInitialBuffer = 64 * 1024;
constexpr size_t kContinuation = 0x10000;
constexpr size_t kClusterRecords = 4096;
}  // namespace

Connection::Connection(int fd, int index, MessageHandler handler, Activity &activity)
    : fd_(fd),
      index_(index),
      handler_(std::move(handler)),
      activity_(activity),
      buf_(kInitialBuffer) {}

Connection::~Connection() {
  stop();
  if (reader_.joinable()) reader_.join();
  {
    std::lock_guard lock(q_mu_);
    writer_stop_ = true;
  }
  q_cv_.notify_all();
  if (writer_.joinable()) writer_.join();
  std::lock_guard lock(fd_mu_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Connection::start() {
  reader_ = std::thread([this] { read_loop(); });
}

void Connection::stop() {
  stopping_.store(true, std::memory_order_release);
  shutdown_socket();
  q_cv_.notify_all();
}

size_t Connection::unread_bytes() {
  std::lock_guard lock(fd_mu_);
  int n = 0;
  if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<size_t>(n);
}

void Connection::shutdown_socket() {
  std::lock_guard lock(fd_mu_);
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

// ---- reading ----

bool Connection::fill(size_t need) {
  while (end_ - start_ < need) {
    if (start_ + need > buf_.size()) {  // make room: compact, then grow
      std::memmove(buf_.data(), buf_.data() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
      if (need > buf_.size()) buf_.resize(std::max(need, buf_.size() * 2));
    }
    ssize_t n = ::recv(fd_, buf_.data() + end_, buf_.size() - end_, 0);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

void Connection::peek_more() {
  if (end_ == buf_.size()) {
    if (start_ == 0) buf_.resize(buf_.size() * 2);
    std::memmove(buf_.data(), buf_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  ssize_t n = ::recv(fd_, buf_.data() + end_, buf_.size() - end_, MSG_DONTWAIT);
  if (n > 0) end_ += static_cast<size_t>(n);
}

void Connection::read_loop() {
  while (!stopping_.load(std::memory_order_acquire)) {
    std::span<const uint8_t> avail(buf_.data() + start_, end_ - start_);
    Frame f = examine(avail);
    if (f.kind == FrameKind::NeedMore) {
      if (!fill(f.length)) break;
      continue;
    }
    size_t len = f.length;
    bool lost = false;
    if (f.kind == FrameKind::Full && f.may_continue) {
      // A segment longer than 65535 bytes declares only its low 16 bits, so
      // the message may go on: bytes after it that cannot begin a request
      // header are its next 64 KiB. Without input segments nothing can go
      // on, and the look past the end (a read of its own) is spared.
      for (;;) {
        if (end_ - start_ == len) peek_more();
        size_t after = end_ - start_ - len;
        if (after == 0) break;
        std::span<const uint8_t> next(buf_.data() + start_ + len,
                                      std::min(after, wire::kHeaderSize));
        if (plausible_header(next)) break;
        if (len + kContinuation > kMaxMessage) {
          lost = true;
          break;
        }
        len += kContinuation;
        if (!fill(len)) {
          lost = true;
          break;
        }
      }
      if (lost) {
        f = Frame{FrameKind::Malformed, end_ - start_, kStatusInvalidMsg, true};
        len = f.length;
      }
    } else if (f.kind == FrameKind::Malformed && !f.close && !fill(len)) {
      break;
    }
    activity_.read.fetch_add(1);
    to_writer_ = false;
    handler_(*this, std::span<const uint8_t>(buf_.data() + start_, len), f);
    // The handler's locals are gone now; a queued answer counts once written.
    if (!to_writer_) answered(1);
    start_ += len;
    if (f.close) {
      shutdown_socket();
      break;
    }
    if (start_ == end_) {
      start_ = end_ = 0;
      if (buf_.size() > (1u << 20)) {
        buf_.resize(kInitialBuffer);
        buf_.shrink_to_fit();
      }
    }
  }
  // The peer is gone or the daemon stops: drop what is still queued.
  size_t dropped = 0;
  {
    std::lock_guard lock(q_mu_);
    writer_stop_ = true;
    dropped = timed_.size() + held_.size();
    timed_.clear();
    held_.clear();
  }
  answered(dropped);
  q_cv_.notify_all();
  if (writer_.joinable()) writer_.join();
  {
    std::lock_guard lock(fd_mu_);
    ::close(fd_);
    fd_ = -1;
  }
  finished_.store(true, std::memory_order_release);
}

// ---- writing ----

bool Connection::write_all(const uint8_t *p, size_t n) {
  while (n > 0) {
    ssize_t w = ::send(fd_, p, n, MSG_NOSIGNAL);
    if (w > 0) {
      p += w;
      n -= static_cast<size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

void Connection::deliver(Delivery d, milliseconds delay, milliseconds nonblocking_hold) {
  if (d.plain() && delay.count() <= 0 && nonblocking_hold.count() <= 0) {
    std::lock_guard lock(write_mu_);
    write_all(d.bytes.data(), d.bytes.size());
    return;
  }
  {
    std::lock_guard lock(q_mu_);
    if (writer_stop_) return;
    auto now = Clock::now();
    if (delay.count() <= 0 && nonblocking_hold.count() > 0) {
      if (held_.empty()) held_due_ = now + nonblocking_hold;
      held_.push_back(std::move(d));
    } else {
      auto pos = std::upper_bound(timed_.begin(), timed_.end(), now + delay,
                                  [](Clock::time_point t, const Timed &x) { return t < x.due; });
      timed_.insert(pos, Timed{now + delay, seq_++, std::move(d)});
    }
    to_writer_ = true;
    ensure_writer();
  }
  q_cv_.notify_all();
}

void Connection::ensure_writer() {
  if (writer_started_) return;
  writer_started_ = true;
  writer_ = std::thread([this] { write_loop(); });
}

void Connection::write_loop() {
  std::unique_lock lock(q_mu_);
  while (!writer_stop_) {
    bool have_timed = !timed_.empty(), have_held = !held_.empty();
    if (!have_timed && !have_held) {
      q_cv_.wait(lock);
      continue;
    }
    Clock::time_point next = Clock::time_point::max();
    if (have_timed) next = timed_.front().due;
    if (have_held) next = std::min(next, held_due_);
    auto now = Clock::now();
    if (now < next) {
      q_cv_.wait_until(lock, next);
      continue;
    }
    size_t sent = 0;
    {
      std::vector<Delivery> due;
      while (!timed_.empty() && timed_.front().due <= now) {
        due.push_back(std::move(timed_.front().d));
        timed_.erase(timed_.begin());
      }
      if (have_held && held_due_ <= now) {
        // Held together, they go out newest first.
        for (auto it = held_.rbegin(); it != held_.rend(); ++it) due.push_back(std::move(*it));
        held_.clear();
      }
      lock.unlock();
      for (const auto &d : due) write_delivery(d);
      sent = due.size();
    }
    answered(sent);  // with `due` released
    lock.lock();
  }
}

void Connection::write_delivery(const Delivery &d) {
  std::unique_lock wlock(write_mu_);
  size_t total = d.close_after ? std::min(*d.close_after, d.bytes.size()) : d.bytes.size();
  size_t piece = d.chunk ? d.chunk : total;
  for (size_t done = 0; done < total;) {
    size_t n = std::min(piece, total - done);
    if (!write_all(d.bytes.data() + done, n)) return;
    done += n;
    if (done < total && d.pause.count() > 0) {
      std::unique_lock qlock(q_mu_);
      if (q_cv_.wait_for(qlock, d.pause, [this] { return writer_stop_; })) return;
    }
  }
  if (d.close_after) {
    shutdown_socket();
    size_t dropped = 0;
    {
      std::lock_guard qlock(q_mu_);
      dropped = timed_.size() + held_.size();
      timed_.clear();
      held_.clear();
    }
    answered(dropped);
  }
}

// ---- cluster results ----

void Connection::remember_cluster(uint32_t req_id, uint32_t status) {
  if (cluster_.insert_or_assign(req_id, status).second) cluster_order_.push_back(req_id);
  while (cluster_order_.size() > kClusterRecords) {
    cluster_.erase(cluster_order_.front());
    cluster_order_.pop_front();
  }
}

std::optional<uint32_t> Connection::cluster_status(uint32_t req_id) const {
  auto it = cluster_.find(req_id);
  if (it == cluster_.end()) return std::nullopt;
  return it->second;
}

}  // namespace hsmsim::daemon
