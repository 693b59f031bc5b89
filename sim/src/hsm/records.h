// The heads shared by every management command and answer, and the way an
// answer is laid into the request's output segments.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "wire/be_codec.h"

namespace hsmsim::hsm {

inline constexpr uint32_t kSessionMask = 0x3FFFFFFF;
inline constexpr uint32_t kAppIdMask = 0x3FFFC000;

inline constexpr size_t kResponseHeaderSize = 16;
inline constexpr size_t kSessionHeaderSize = 20;
inline constexpr size_t kNoSessionHeaderSize = 16;

// CommandHeaderWithSession
struct SessionHeader {
  uint32_t reserved0 = 0, reserved1 = 0;
  uint32_t flags = 0;
  uint32_t session = 0;  // masked to 30 bits on reading
  uint32_t common_flags = 0;

  static SessionHeader read(wire::BeReader &r) {
    SessionHeader h;
    h.reserved0 = r.u32();
    h.reserved1 = r.u32();
    h.flags = r.u32();
    h.session = r.u32() & kSessionMask;
    h.common_flags = r.u32();
    return h;
  }
};

// CommandHeaderWithNoSession: 12 reserved bytes, then the login nonce.
inline uint32_t read_nonce_header(wire::BeReader &r) {
  r.skip(12);
  return r.u32();
}

// The answer to one request: output segment i receives segment(i); the
// payload is the segments back to back, each padded to its capacity up to
// the last one written, none longer than its capacity.
class Output {
 public:
  explicit Output(std::span<const uint32_t> capacities)
      : caps_(capacities.begin(), capacities.end()) {}

  size_t count() const { return caps_.size(); }
  uint32_t capacity(size_t i) const { return i < caps_.size() ? caps_[i] : 0; }
  uint64_t total_capacity() const {
    uint64_t t = 0;
    for (auto c : caps_) t += c;
    return t;
  }

  std::vector<uint8_t> &segment(size_t i) {
    if (segs_.size() <= i) segs_.resize(i + 1);
    return segs_[i];
  }

  std::vector<uint8_t> payload() const {
    std::vector<uint8_t> out;
    size_t last = segs_.size();
    while (last > 0 && segs_[last - 1].empty()) --last;
    for (size_t i = 0; i < last && i < caps_.size(); ++i) {
      size_t n = segs_[i].size() < caps_[i] ? segs_[i].size() : caps_[i];
      out.insert(out.end(), segs_[i].begin(), segs_[i].begin() + static_cast<std::ptrdiff_t>(n));
      if (i + 1 < last) out.resize(out.size() + (caps_[i] - n), 0);
    }
    return out;
  }

 private:
  std::vector<uint32_t> caps_;
  std::vector<std::vector<uint8_t>> segs_;
};

// ResponseHeader followed by nothing: a StdResponse.
inline std::vector<uint8_t> std_response(uint32_t code, uint32_t flags = 0, uint32_t total = 0,
                                         uint32_t buffer = 0) {
  std::vector<uint8_t> out;
  wire::BeWriter(out).u32(code).u32(flags).u32(total).u32(buffer);
  return out;
}

}  // namespace hsmsim::hsm
