// A stand-in daemon of the test's own with an application and a session
// started on it with scripted answers, and builders of big-endian answers;
// requests are read with the shared decoder (wire.h).
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
#include "wire.h"

namespace obj_test {

using namespace support;

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
};

}  // namespace obj_test
