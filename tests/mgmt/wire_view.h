// Test-side view of captured request messages and builders of big-endian
// answer payloads.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <hsmsim/daemon.h>

namespace mgmt_test {

// One full request as the library framed it (header and descriptor fields in
// host order, segment bytes as sent).
struct Msg {
  uint32_t sess_handle = 0;
  uint16_t in_len = 0, out_len = 0, opcode = 0;
  uint8_t msg_type = 0, operation = 0, req_type = 0;
  uint8_t incnt = 0, outcnt = 0;
  uint16_t param1 = 0, param2 = 0, dlen = 0, rlen = 0, command_type = 0;
  uint32_t timeout = 0;
  std::vector<uint16_t> in_sizes, out_sizes;
  std::vector<std::vector<uint8_t>> inputs;
  int connection = 0;

  std::vector<uint8_t> body() const {
    std::vector<uint8_t> all;
    for (const auto &s : inputs) all.insert(all.end(), s.begin(), s.end());
    return all;
  }
};

template <typename T>
T host_at(const std::vector<uint8_t> &b, size_t off) {
  T v{};
  if (off + sizeof v <= b.size()) std::memcpy(&v, b.data() + off, sizeof v);
  return v;
}

inline Msg parse(const hsmsim::Captured &c) {
  const auto &b = c.bytes;
  Msg m;
  m.connection = c.connection;
  m.sess_handle = host_at<uint32_t>(b, 8);
  m.in_len = host_at<uint16_t>(b, 16);
  m.out_len = host_at<uint16_t>(b, 18);
  m.opcode = host_at<uint16_t>(b, 20);
  m.msg_type = host_at<uint8_t>(b, 48);
  m.operation = host_at<uint8_t>(b, 49);
  m.req_type = host_at<uint8_t>(b, 51);
  if (b.size() < 96) return m;
  m.incnt = b[57];
  m.outcnt = b[58];
  m.param1 = host_at<uint16_t>(b, 60);
  m.param2 = host_at<uint16_t>(b, 62);
  m.dlen = host_at<uint16_t>(b, 64);
  m.rlen = host_at<uint16_t>(b, 66);
  m.command_type = host_at<uint16_t>(b, 68);
  m.timeout = host_at<uint32_t>(b, 76);
  size_t off = 96;
  for (int i = 0; i < m.incnt + m.outcnt; ++i, off += 6) {
    uint16_t size = host_at<uint16_t>(b, off + 4);
    (b[off] == 0 ? m.in_sizes : m.out_sizes).push_back(size);
  }
  for (uint16_t s : m.in_sizes) {
    size_t end = off + s <= b.size() ? off + s : b.size();
    m.inputs.emplace_back(b.begin() + static_cast<long>(off), b.begin() + static_cast<long>(end));
    off = end;
  }
  return m;
}

// Full requests (operations 0 and 1) with this opcode, in arrival order.
inline std::vector<Msg> requests(const hsmsim::Daemon &d, uint16_t opcode) {
  std::vector<Msg> out;
  for (const auto &c : d.captured())
    if (c.operation <= 1 && c.opcode == opcode) out.push_back(parse(c));
  return out;
}

inline size_t full_requests(const hsmsim::Daemon &d) {
  size_t n = 0;
  for (const auto &c : d.captured()) n += c.operation <= 1;
  return n;
}

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
