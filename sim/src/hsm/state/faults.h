// Request statuses injected by tests: the next N requests of a command type
// and opcode are answered with the status and not executed.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>

namespace hsmsim::hsm {

class Faults {
 public:
  void add(uint16_t command_type, uint16_t opcode, uint32_t status, int times) {
    if (times <= 0) return;
    book_[key(command_type, opcode)].push_back({status, times});
  }
  std::optional<uint32_t> take(uint16_t command_type, uint16_t opcode) {
    auto it = book_.find(key(command_type, opcode));
    if (it == book_.end() || it->second.empty()) return std::nullopt;
    auto &f = it->second.front();
    uint32_t status = f.status;
    if (--f.left == 0) it->second.pop_front();
    return status;
  }
  void clear() { book_.clear(); }

 private:
  struct Entry {
    uint32_t status;
    int left;
  };
  static uint32_t key(uint16_t ct, uint16_t op) { return (uint32_t{ct} << 16) | op; }
  std::map<uint32_t, std::deque<Entry>> book_;
};

}  // namespace hsmsim::hsm
