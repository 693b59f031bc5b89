// The crypto user logged in on a stand-in of the test's own, keys seeded
// through the stand-in's test hooks, and the shared reader of the requests
// the library framed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <hsmsim/daemon.h>
#include <hsmsim/hsm.h>

#include "layout.h"
#include "qel2.h"
#include "stand_in.h"
#include "vectors.h"
#include "wire.h"

namespace crypto_test {

using namespace support;

// The reader of ssl and jni, until they read with the shared one.
// One segment as framed: size, meaningful length and (inputs) the bytes.
struct Seg {
  uint16_t size = 0, offset = 0;
  Bytes bytes;
};

// One full request as the library framed it, read at the documented offsets.
struct Wire {
  uint32_t sess_handle = 0;
  uint16_t opcode = 0;
  uint8_t msg_type = 0, req_type = 0;
  uint8_t dma_mode = 0, attest = 0;
  uint16_t param1 = 0, param2 = 0, dlen = 0, rlen = 0, command_type = 0;
  uint32_t timeout = 0;
  uint64_t ctx_ptr = 0, key_handle = 0;
  std::vector<Seg> in, out;
};

template <typename T>
T host_at(const Bytes &b, size_t off) {
  T v{};
  if (off + sizeof v <= b.size()) std::memcpy(&v, b.data() + off, sizeof v);
  return v;
}

inline Wire parse(const Bytes &b) {
  Wire w;
  w.sess_handle = host_at<uint32_t>(b, 8);
  w.opcode = host_at<uint16_t>(b, 20);
  w.msg_type = host_at<uint8_t>(b, 48);
  w.req_type = host_at<uint8_t>(b, 51);
  if (b.size() < 96) return w;
  w.dma_mode = b[56];
  const uint8_t incnt = b[57], outcnt = b[58];
  w.attest = b[59];
  w.param1 = host_at<uint16_t>(b, 60);
  w.param2 = host_at<uint16_t>(b, 62);
  w.dlen = host_at<uint16_t>(b, 64);
  w.rlen = host_at<uint16_t>(b, 66);
  w.command_type = host_at<uint16_t>(b, 68);
  w.timeout = host_at<uint32_t>(b, 76);
  w.ctx_ptr = host_at<uint64_t>(b, 80);
  w.key_handle = host_at<uint64_t>(b, 88);
  size_t off = 96;
  for (int i = 0; i < incnt + outcnt; ++i, off += 6) {
    Seg s;
    s.offset = host_at<uint16_t>(b, off + 2);
    s.size = host_at<uint16_t>(b, off + 4);
    (b[off] == 0 ? w.in : w.out).push_back(s);
  }
  for (Seg &s : w.in) {
    const size_t end = off + s.size <= b.size() ? off + s.size : b.size();
    s.bytes.assign(b.begin() + long(off), b.begin() + long(end));
    off = end;
  }
  return w;
}

inline uint64_t be64(const Bytes &b) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8 && i < b.size(); ++i) v = v << 8 | b[i];
  return v;
}

class CryptoTest : public StandIn {
 protected:
  void SetUp() override {
    StandIn::SetUp();
    ASSERT_NO_FATAL_FAILURE(session_ = log_in(kCryptoUser));
  }

  // A secret key of that type (PKCS#11 numbering) holding exactly these bytes.
  uint64_t secret(uint8_t key_type, const Bytes &value) {
    hsmsim::ObjectSeed s;
    s.attributes = {hsmsim::ObjectAttr::number(OBJ_ATTR_CLASS, 4),
                    hsmsim::ObjectAttr::number(OBJ_ATTR_KEY_TYPE, key_type),
                    hsmsim::ObjectAttr::flag(OBJ_ATTR_ENCRYPT, true),
                    hsmsim::ObjectAttr::flag(OBJ_ATTR_DECRYPT, true),
                    hsmsim::ObjectAttr::flag(OBJ_ATTR_SIGN, true),
                    hsmsim::ObjectAttr::flag(OBJ_ATTR_VERIFY, true)};
    s.key = value;
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }

  // The old reader's accessors, for ssl and jni until they read with the shared one.
  std::vector<Wire> wires() {
    std::vector<Wire> out;
    for (const auto &c : d().captured())
      if (c.operation <= 1) out.push_back(parse(c.bytes));
    return out;
  }
  Wire last() {
    auto w = wires();
    EXPECT_FALSE(w.empty());
    return w.empty() ? Wire{} : w.back();
  }
  size_t sent() { return wires().size(); }

  // Collects a non-blocking request by polling; its final status.
  Uint32 collect(Uint32 id) {
    for (int i = 0; i < 2000; ++i) {
      Uint32 r = Qel2CheckForCompletion(id);
      if (r != ERR_REQUEST_PENDING) return r;
      usleep(1000);
    }
    return ERR_REQUEST_PENDING;
  }

  Uint32 session_ = 0;
};

}  // namespace crypto_test
