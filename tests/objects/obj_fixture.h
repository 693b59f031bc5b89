// A stand-in daemon of the test's own with an application and a session
// started on it, a view of the requests the library framed, and builders of
// big-endian answers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <hsmsim/daemon.h>

#include "qel2.h"
#include "stand_in.h"

namespace obj_test {

inline constexpr uint32_t kAppIdentifier = 0x00054000;  // application index 21
inline constexpr uint32_t kNonce = 0x600DF00D;
inline constexpr uint32_t kHsmSession = 0x0105C007;  // partition 1, application index 23

using Bytes = std::vector<uint8_t>;

// Big-endian payload builder.
struct Be {
  Bytes v;
  Be &u8(uint8_t x) {
    v.push_back(x);
    return *this;
  }
  Be &u16(uint16_t x) { return u8(uint8_t(x >> 8)).u8(uint8_t(x)); }
  Be &u32(uint32_t x) { return u16(uint16_t(x >> 16)).u16(uint16_t(x)); }
  Be &u64(uint64_t x) { return u32(uint32_t(x >> 32)).u32(uint32_t(x)); }
  Be &zeros(size_t n) {
    v.insert(v.end(), n, 0);
    return *this;
  }
  Be &bytes(const Bytes &b) {
    v.insert(v.end(), b.begin(), b.end());
    return *this;
  }
  Be &text(const std::string &s) {
    v.insert(v.end(), s.begin(), s.end());
    return *this;
  }
  // One template attribute: type, size, value.
  Be &attr(uint32_t type, const Bytes &value) {
    return u32(type).u32(uint32_t(value.size())).bytes(value);
  }
  Be &attr(uint32_t type, const std::string &value) {
    return attr(type, Bytes(value.begin(), value.end()));
  }
  operator Bytes() const { return v; }
};

// A ResponseHeader.
inline Be resp(uint32_t code, uint32_t flags = 0, uint32_t total = 0, uint32_t buffer_size = 0) {
  return Be{}.u32(code).u32(flags).u32(total).u32(buffer_size);
}

inline uint32_t be32(const Bytes &b, size_t off) {
  return off + 4 <= b.size() ? (uint32_t{b[off]} << 24) | (uint32_t{b[off + 1]} << 16) |
                                   (uint32_t{b[off + 2]} << 8) | b[off + 3]
                             : 0xDEADBEEF;
}
inline uint64_t be64(const Bytes &b, size_t off) {
  return (uint64_t{be32(b, off)} << 32) | be32(b, off + 4);
}

inline hsmsim::Answer payload(Bytes p, int count = -1) {
  hsmsim::Answer a;
  a.payload = std::move(p);
  a.count = count;
  return a;
}
inline hsmsim::Answer with_status(uint32_t s, Bytes p = {}, int count = -1) {
  hsmsim::Answer a;
  a.status = s;
  if (!p.empty()) a.payload = std::move(p);
  a.count = count;
  return a;
}

// One full request as the library framed it.
struct Msg {
  uint16_t opcode = 0;
  uint8_t serveridx = 0;  // header byte 50
  uint32_t sess_handle = 0;
  uint64_t op_ctx = 0;
  uint8_t incnt = 0, outcnt = 0, attest = 0;
  uint16_t param1 = 0, param2 = 0, dlen = 0, rlen = 0, command_type = 0;
  uint32_t timeout = 0;
  uint64_t key_handle = 0;
  std::vector<uint16_t> in_sizes, out_sizes;
  std::vector<Bytes> inputs;

  Bytes body() const {
    Bytes all;
    for (const auto &s : inputs) all.insert(all.end(), s.begin(), s.end());
    return all;
  }
};

inline Msg parse(const hsmsim::Captured &c) {
  const Bytes &b = c.bytes;
  Msg m;
  ozv_msg_fixed h{};
  if (b.size() >= sizeof h) std::memcpy(&h, b.data(), sizeof h);
  m.opcode = h.opcode;
  m.serveridx = h.serveridx;
  m.sess_handle = h.sess_handle;
  m.op_ctx = h.op_ctx;
  if (b.size() < OZV_REQ_FIXED_LEN) return m;
  hsm_request_buffer d{};
  std::memcpy(&d, b.data() + OZV_HDR_LEN, sizeof d);
  m.incnt = d.incnt;
  m.outcnt = d.outcnt;
  m.attest = d.attest;
  m.param1 = d.param1;
  m.param2 = d.param2;
  m.dlen = d.dlen;
  m.rlen = d.rlen;
  m.command_type = d.command_type;
  m.timeout = d.timeout;
  m.key_handle = d.key_handle;
  size_t off = OZV_REQ_FIXED_LEN;
  for (int i = 0; i < m.incnt + m.outcnt && off + OZV_SEG_DESC_LEN <= b.size();
       ++i, off += OZV_SEG_DESC_LEN) {
    hsm_req_data s{};
    std::memcpy(&s, b.data() + off, sizeof s);
    (i < m.incnt ? m.in_sizes : m.out_sizes).push_back(s.size);
  }
  for (uint16_t s : m.in_sizes) {
    const size_t end = off + s <= b.size() ? off + s : b.size();
    m.inputs.emplace_back(b.begin() + static_cast<long>(off), b.begin() + static_cast<long>(end));
    off = end;
  }
  return m;
}

class ObjTest : public support::StandIn {
 protected:
  // Starts the library and opens a session with scripted answers; returns the handle.
  uint32_t start_session() {
    d().script(KQ_MGMT_CMD, KQ_APP_INITIALIZE, payload(resp(0, kNonce).u32(kAppIdentifier)));
    Uint32 app = 0;
    EXPECT_EQ(0u, Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app));
    d().script(KQ_MGMT_CMD, KQ_OPEN_SESSION, payload(resp(0).u32(kHsmSession)));
    Uint32 session = 0;
    EXPECT_EQ(0u, Qel2OpenSession2(app, &session));
    d().clear_captured();
    return session;
  }

  void answer(uint16_t opcode, Bytes p, int count = -1) {
    d().script(KQ_MGMT_CMD, opcode, payload(std::move(p), count));
  }

  // Full requests with this opcode, in arrival order.
  std::vector<Msg> requests(uint16_t opcode) {
    std::vector<Msg> out;
    for (const auto &c : d().captured())
      if (c.operation <= 1 && c.opcode == opcode) out.push_back(parse(c));
    return out;
  }
  size_t full_requests() {
    size_t n = 0;
    for (const auto &c : d().captured()) n += c.operation <= 1;
    return n;
  }
  // The single request of this opcode (fails the test otherwise).
  Msg only(uint16_t opcode) {
    auto m = requests(opcode);
    EXPECT_EQ(1u, m.size()) << "opcode " << opcode;
    return m.empty() ? Msg{} : m[0];
  }
};

}  // namespace obj_test
