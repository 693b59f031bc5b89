// A stand-in of the test's own with a logged-in crypto-user session, and
// OpenSSL helpers for checking keys on the host.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "obj_fixture.h"
#include "wire.h"

namespace keys_test {

using namespace obj_test;
using namespace support;
namespace defaults = hsmsim::defaults;

// String literals stay valid: records may keep pointers to them.
inline Uint8 *u8(const char *s) { return reinterpret_cast<Uint8 *>(const_cast<char *>(s)); }
inline Uint8 *u8(const std::string &s) {
  return reinterpret_cast<Uint8 *>(const_cast<char *>(s.data()));
}

struct PkeyFree {
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

inline Pkey parse_spki(const Bytes &der) {
  const unsigned char *p = der.data();
  return Pkey(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
}
inline Bytes spki_of(EVP_PKEY *k) {
  int n = i2d_PUBKEY(k, nullptr);
  Bytes out(n > 0 ? size_t(n) : 0);
  unsigned char *p = out.data();
  if (n > 0) i2d_PUBKEY(k, &p);
  return out;
}

// Logged in as the seeded crypto user on a real stand-in (no scripts).
class LoggedIn : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(session_ = log_in(kCryptoUser));
    app_ = apps_[0];
  }

  // The DER public key of a key object, read back through the SDK.
  Bytes exported(uint64_t key) {
    Uint32 len = 0;
    EXPECT_EQ(Uint32(RET_RESULT_SIZE), Qel2ExportPublicKey(session_, key, nullptr, &len));
    Bytes der(len);
    EXPECT_EQ(0u, Qel2ExportPublicKey(session_, key, der.data(), &len));
    der.resize(len);
    return der;
  }
  Bytes value_of(uint64_t key) {
    auto o = d().hsm().object(key);
    return o ? o->key : Bytes{};
  }

  Uint32 app_ = 0, session_ = 0;
};

}  // namespace keys_test
