// Logged in on a stand-in of the test's own, with seeded AES keys of known
// value and the host's OpenSSL key wrap to check the HSM's against.
#pragma once

#include <openssl/evp.h>

#include <string>

#include "keys_fixture.h"

namespace wrap_test {

using namespace keys_test;
using hsmsim::ObjectAttr;
using hsmsim::ObjectSeed;

inline Bytes hex(const std::string &s) {
  Bytes out;
  for (size_t i = 0; i + 1 < s.size(); i += 2)
    out.push_back(uint8_t(std::stoul(s.substr(i, 2), nullptr, 16)));
  return out;
}

inline Bytes counting(size_t n, uint8_t from = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(from + i);
  return b;
}

// RFC 3394 (pad false) or RFC 5649 (pad true) on the host; an 8-byte iv
// replaces RFC 3394's default. Empty on failure.
inline Bytes host_wrap(const Bytes &kek, bool pad, bool encrypt, const Bytes &in,
                       const Bytes &iv = {}) {
  const char *names[2][3] = {{"id-aes128-wrap", "id-aes192-wrap", "id-aes256-wrap"},
                             {"id-aes128-wrap-pad", "id-aes192-wrap-pad", "id-aes256-wrap-pad"}};
  EVP_CIPHER *c = EVP_CIPHER_fetch(nullptr, names[pad][kek.size() / 8 - 2], nullptr);
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n = 0, m = 0;
  bool ok = c && ctx &&
            EVP_CipherInit_ex2(ctx, c, kek.data(), iv.empty() ? nullptr : iv.data(), encrypt,
                               nullptr) == 1 &&
            EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
            EVP_CipherFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(c);
  out.resize(ok ? size_t(n + m) : 0);
  return out;
}

class WrapTest : public LoggedIn {
 protected:
  // An AES key of that value; encrypt and decrypt as given.
  uint64_t aes(const Bytes &value, bool encrypt = true, bool decrypt = true) {
    ObjectSeed s;
    s.attributes = {
        ObjectAttr::number(OBJ_ATTR_CLASS, 4), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
        ObjectAttr::flag(OBJ_ATTR_ENCRYPT, encrypt), ObjectAttr::flag(OBJ_ATTR_DECRYPT, decrypt)};
    s.key = value;
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }

  // Host-buffer wrap (flag 1) or unwrap (0) with Qel2AesWrapUnwrapBuffer4;
  // the status, the result in out.
  Uint32 run(uint64_t key, Uint32 mech, Uint8 flag, const Bytes &in, Bytes &out, uint64_t iv = 0) {
    Uint32 len = Uint32(in.size() + 16);
    out.assign(len, 0);
    Bytes data = in;
    Uint32 r = Qel2AesWrapUnwrapBuffer4(session_, key, data.data(), Uint32(data.size()), iv,
                                        out.data(), &len, flag, mech, nullptr);
    out.resize(r == 0 ? len : 0);
    return r;
  }
};

inline constexpr uint64_t kRfc3394Iv = 0xA6A6A6A6A6A6A6A6ull;

}  // namespace wrap_test
