// A stand-in daemon of the test's own with the crypto user logged in, keys
// seeded through the stand-in's test hooks, and a reader of the requests the
// library framed (its own, with the meaningful lengths of the segments).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <hsmsim/daemon.h>
#include <hsmsim/hsm.h>

#include "qel2.h"
#include "vectors.h"

namespace crypto_test {

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

class CryptoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_ = std::make_unique<hsmsim::Daemon>();
    daemon_->export_env();
    ASSERT_EQ(0u, Qel2Initialize3(0, OSTREL_DIRECT, hsmsim::defaults::kPartition, &app_));
    ASSERT_EQ(0u, Qel2OpenSession2(app_, &session_));
    const std::string name = hsmsim::defaults::kUserName;
    const std::string pw = hsmsim::defaults::kUserPassword;
    ASSERT_EQ(0u, Qel2LoginHSM(session_, KQ_CRYPTO_USER, (const Uint8 *)name.data(),
                               Uint32(name.size()), (const Uint8 *)pw.data(), Uint32(pw.size())));
    d().clear_captured();
  }
  void TearDown() override {
    Qel2SDKCleanup();
    daemon_.reset();
  }
  hsmsim::Daemon &d() { return *daemon_; }

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

  // The full requests framed since the last clear, in order.
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

  std::unique_ptr<hsmsim::Daemon> daemon_;
  Uint32 app_ = 0, session_ = 0;
};

}  // namespace crypto_test
