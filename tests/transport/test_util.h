// Helpers shared by the transport tests: little-endian byte building and
// reading, patterned buffers, and descriptor set-up.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "qel2_transport.h"

namespace tt {

using Bytes = std::vector<uint8_t>;

inline void put_le(Bytes &b, size_t off, uint64_t v, int n) {
  if (b.size() < off + n) b.resize(off + n);
  for (int i = 0; i < n; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint64_t get_le(const Bytes &b, size_t off, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b.at(off + i);
  return v;
}

inline Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

inline uint64_t addr(const void *p) { return reinterpret_cast<uintptr_t>(p); }

// Adds an input segment that points at `data`.
inline void add_input(request_buffer &rb, const Bytes &data, uint32_t inoffset = 0) {
  rb.inptr[rb.incnt] = addr(data.data());
  rb.insize[rb.incnt] = static_cast<uint32_t>(data.size());
  rb.inoffset[rb.incnt] = inoffset;
  rb.incnt++;
}

inline void add_output(request_buffer &rb, Bytes &buf, uint32_t outoffset = 0) {
  rb.outptr[rb.outcnt] = addr(buf.data());
  rb.outsize[rb.outcnt] = static_cast<uint32_t>(buf.size());
  rb.outoffset[rb.outcnt] = outoffset;
  rb.outcnt++;
}

// An answer as the daemon writes it: 56-byte header and payload.
inline Bytes answer(uint32_t req_id, uint32_t status, const Bytes &payload, uint8_t req_type = 0,
                    uint64_t op_ctx = 0, uint8_t serveridx = 0) {
  Bytes b(56, 0);
  put_le(b, 0, status, 4);
  put_le(b, 4, req_id, 4);
  put_le(b, 18, payload.size() & 0xFFFF, 2);
  put_le(b, 40, op_ctx, 8);
  b[50] = serveridx;
  b[51] = req_type;
  put_le(b, 54, (payload.size() >> 16) & 0xFFFF, 2);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

// A header announcing `announced` payload bytes regardless of what follows.
inline Bytes header_announcing(uint32_t req_id, uint32_t announced, uint8_t req_type = 0) {
  Bytes b(56, 0);
  put_le(b, 4, req_id, 4);
  put_le(b, 18, announced & 0xFFFF, 2);
  b[51] = req_type;
  put_le(b, 54, announced >> 16, 2);
  return b;
}

}  // namespace tt
