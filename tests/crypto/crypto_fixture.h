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

// The first eight bytes (fewer when shorter) as a big-endian number.
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
