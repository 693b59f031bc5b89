// The attribute data the HSM returns for new objects, as arbitrary bytes:
// the lengths it claims are read only within the bytes that arrived (the
// buffer handed over is exactly that long, so a read past it is caught).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mgmt/keys/keys_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  const Uint32 capacity = qel2::be32_at(data);
  const std::vector<uint8_t> got(data + 4, data + size);  // what arrived, no more
  uint64_t needed = 0;
  if (qel2::mgmt::one_object_needed(got.data(), got.size(), &needed) && needed < 12)
    __builtin_trap();
  needed = 0;
  if (qel2::mgmt::key_pair_needed(got.data(), got.size(), capacity, &needed) == 0 && needed < 12)
    __builtin_trap();
  return 0;
}
