// Scripted answers, per (command type, opcode) for full requests and per
// control operation. Kept in the order given; the first still valid applies.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include <hsmsim/daemon.h>

namespace hsmsim::daemon {

class ScriptBook {
 public:
  void add_full(uint16_t command_type, uint16_t opcode, Answer a) {
    add(full_, key(command_type, opcode), std::move(a));
  }
  void add_control(uint8_t operation, Answer a) { add(control_, operation, std::move(a)); }
  std::optional<Answer> take_full(uint16_t command_type, uint16_t opcode) {
    return take(full_, key(command_type, opcode));
  }
  std::optional<Answer> take_control(uint8_t operation) { return take(control_, operation); }
  void clear() {
    std::lock_guard lock(mu_);
    full_.clear();
    control_.clear();
    live_.store(0, std::memory_order_release);
  }

 private:
  using Book = std::map<uint32_t, std::deque<Answer>>;
  static uint32_t key(uint16_t ct, uint16_t op) { return (uint32_t{ct} << 16) | op; }

  void add(Book &book, uint32_t k, Answer a) {
    if (a.count == 0 || a.count < -1) return;  // applies to nothing
    std::lock_guard lock(mu_);
    book[k].push_back(std::move(a));
    live_.fetch_add(1, std::memory_order_release);
  }

  std::optional<Answer> take(Book &book, uint32_t k) {
    if (live_.load(std::memory_order_acquire) == 0)
      return std::nullopt;  // the common, unscripted case
    std::lock_guard lock(mu_);
    auto it = book.find(k);
    if (it == book.end() || it->second.empty()) return std::nullopt;
    Answer a = it->second.front();
    if (a.count > 0 && --it->second.front().count == 0) {
      it->second.pop_front();
      live_.fetch_sub(1, std::memory_order_release);
    }
    return a;
  }

  std::mutex mu_;
  Book full_, control_;
  std::atomic<size_t> live_{0};
};

}  // namespace hsmsim::daemon
