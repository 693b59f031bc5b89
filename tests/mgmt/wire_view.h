// Builders of big-endian answer payloads and a big-endian reader for the
// records; captured requests are read with the shared decoder (wire.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <hsmsim/daemon.h>

#include "wire.h"

namespace mgmt_test {

using namespace support;

inline uint32_t be32(const std::vector<uint8_t> &b, size_t off) {
  return off + 4 <= b.size() ? (uint32_t{b[off]} << 24) | (uint32_t{b[off + 1]} << 16) |
                                   (uint32_t{b[off + 2]} << 8) | b[off + 3]
                             : 0xDEADBEEF;
}

// Big-endian payload builder.
struct Be {
  std::vector<uint8_t> v;
  Be &u8(uint8_t x) {
    v.push_back(x);
    return *this;
  }
  Be &u16(uint16_t x) { return u8(uint8_t(x >> 8)).u8(uint8_t(x)); }
  Be &u32(uint32_t x) { return u16(uint16_t(x >> 16)).u16(uint16_t(x)); }
  Be &zeros(size_t n) {
    v.insert(v.end(), n, 0);
    return *this;
  }
  Be &text(const std::string &s, size_t field) {
    for (size_t i = 0; i < field; ++i) u8(i < s.size() ? uint8_t(s[i]) : 0);
    return *this;
  }
  operator std::vector<uint8_t>() const { return v; }
};

// A ResponseHeader (code, flags, total size, buffer size).
inline Be resp(uint32_t code, uint32_t flags = 0) {
  return Be{}.u32(code).u32(flags).u32(0).u32(0);
}

inline hsmsim::Answer payload(std::vector<uint8_t> p, int count = -1) {
  hsmsim::Answer a;
  a.payload = std::move(p);
  a.count = count;
  return a;
}
inline hsmsim::Answer status(uint32_t s, int count = -1) {
  hsmsim::Answer a;
  a.status = s;
  a.count = count;
  return a;
}

}  // namespace mgmt_test
