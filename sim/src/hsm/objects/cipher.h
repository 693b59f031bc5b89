// A keyed OpenSSL cipher context, for the store's own uses of a cipher (key
// check values, masking objects).
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <span>

namespace hsmsim::hsm::obj {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// The cipher of that name (key wrap allowed), keyed to encrypt or decrypt,
// without IV; null when OpenSSL lacks it or refuses the key.
CipherCtx keyed_cipher(const char *name, std::span<const uint8_t> key, bool encrypt);

}  // namespace hsmsim::hsm::obj
