#include "hsm/objects/cipher.h"

namespace hsmsim::hsm::obj {

namespace {
struct CipherFree {
  void operator()(EVP_CIPHER *c) const { EVP_CIPHER_free(c); }
};
}  // namespace

CipherCtx keyed_cipher(const char *name, std::span<const uint8_t> key, bool encrypt) {
  // The context keeps its own reference to the cipher.
  std::unique_ptr<EVP_CIPHER, CipherFree> cipher(EVP_CIPHER_fetch(nullptr, name, nullptr));
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!cipher || !ctx) return nullptr;
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  if (EVP_CipherInit_ex2(ctx.get(), cipher.get(), key.data(), nullptr, encrypt ? 1 : 0, nullptr) !=
      1)
    return nullptr;
  return ctx;
}

}  // namespace hsmsim::hsm::obj
