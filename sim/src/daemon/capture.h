// The record of every request received, for tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include <hsmsim/daemon.h>

namespace hsmsim::daemon {

class CaptureLog {
 public:
  // Only the newest requests are kept, so that a long run cannot exhaust memory.
  static constexpr size_t kKept = 100000;

  bool enabled() const { return on_.load(std::memory_order_relaxed); }
  void set_enabled(bool on) { on_.store(on, std::memory_order_relaxed); }

  void add(Captured c) {
    {
      std::lock_guard lock(mu_);
      log_.push_back(std::move(c));
      if (log_.size() > kKept) log_.pop_front();
      ++total_;
    }
    cv_.notify_all();
  }
  std::vector<Captured> snapshot() const {
    std::lock_guard lock(mu_);
    return {log_.begin(), log_.end()};
  }
  void clear() {
    std::lock_guard lock(mu_);
    log_.clear();
    total_ = 0;
  }
  bool wait(size_t n, std::chrono::milliseconds max) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, max, [&] { return total_ >= n; });
  }

 private:
  std::atomic<bool> on_{true};
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Captured> log_;
  size_t total_ = 0;  // since the last clear
};

}  // namespace hsmsim::daemon
