// The HSM's operations, one handler per (command type, opcode). Each topic
// adds its handlers; the table is built once.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "hsm/opcodes.h"
#include "hsm/ops/call.h"

namespace hsmsim::hsm {

// How a request holds its partition's lock (the partition of its session
// handle): shared, so requests of a partition run side by side and a long
// one does not stall the others; or whole, for changes to the partition as a
// whole, which wait until its running requests have finished.
enum class PartitionLock { Shared, Whole };

class HandlerTable {
 public:
  struct Entry {
    Handler handler = nullptr;
    PartitionLock lock = PartitionLock::Shared;
  };

  void add(uint16_t command_type, uint16_t opcode, Handler h,
           PartitionLock lock = PartitionLock::Shared) {
    map_[key(command_type, opcode)] = Entry{h, lock};
  }
  // Raw-form opcodes are found without their DMA bit.
  Entry entry(uint16_t command_type, uint16_t opcode) const {
    if (!is_management_form(command_type)) opcode &= static_cast<uint16_t>(~kDmaBit);
    auto it = map_.find(key(command_type, opcode));
    return it == map_.end() ? Entry{} : it->second;
  }
  Handler find(uint16_t command_type, uint16_t opcode) const {
    return entry(command_type, opcode).handler;
  }

 private:
  static uint32_t key(uint16_t ct, uint16_t op) { return (uint32_t{ct} << 16) | op; }
  std::unordered_map<uint32_t, Entry> map_;
};

const HandlerTable &handlers();

// One registration per topic.
void add_application_ops(HandlerTable &);
void add_session_ops(HandlerTable &);
void add_login_ops(HandlerTable &);
void add_keygen_ops(HandlerTable &);  // key generation, creation and derivation
void add_info_ops(HandlerTable &);
void add_object_store_ops(HandlerTable &);  // key objects, attributes, search, masked objects
void add_sign_ops(HandlerTable &);          // signing and verifying with key objects
void add_ssl_ctx_ops(HandlerTable &);       // SSL contexts, premaster, ECDH, EAP-FAST, FIPS random

}  // namespace hsmsim::hsm
