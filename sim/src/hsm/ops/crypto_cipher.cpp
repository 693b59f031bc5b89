// 3DES and AES in CBC and ECB, and AES-CTR, with a key object on the HSM.
// Encryption pads the data with zeros to whole blocks (the requests size
// their outputs so); decryption takes whole blocks only.
#include <openssl/evp.h>

#include <string>

#include "hsm/objects/cipher.h"
#include "hsm/objects/object.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;

enum class Mode { kCbc, kEcb, kCtr };

// The EVP cipher of a key and mode; null for a key length it lacks.
const EVP_CIPHER *cipher_of(bool aes, size_t key_len, Mode m) {
  if (!aes) {
    if (key_len != 24 || m == Mode::kCtr) return nullptr;
    return m == Mode::kCbc ? EVP_des_ede3_cbc() : EVP_des_ede3_ecb();
  }
  switch (key_len) {
    case 16:
      return m == Mode::kCbc   ? EVP_aes_128_cbc()
             : m == Mode::kEcb ? EVP_aes_128_ecb()
                               : EVP_aes_128_ctr();
    case 24:
      return m == Mode::kCbc   ? EVP_aes_192_cbc()
             : m == Mode::kEcb ? EVP_aes_192_ecb()
                               : EVP_aes_192_ctr();
    case 32:
      return m == Mode::kCbc   ? EVP_aes_256_cbc()
             : m == Mode::kEcb ? EVP_aes_256_ecb()
                               : EVP_aes_256_ctr();
    default:
      return nullptr;
  }
}

void run(HsmState &st, Call &c, bool aes, bool encrypt, Mode mode) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  if (mode != Mode::kCtr) {
    if (rc.p1() == 16)
      mode = Mode::kEcb;
    else if (rc.p1() != 0)
      return (void)rc.fail(ec::kBadEncryptType);
  }
  const size_t block = aes ? 16 : 8;
  const size_t iv_len = mode == Mode::kEcb ? 0 : block;
  const size_t first = iv_len ? 1 : 0;
  if (rc.inputs() != first + 2 || (iv_len && rc.in(0).size() != iv_len))
    return (void)rc.fail(ec::kBadRecord);
  obj::Object *k = rc.key(rc.in(first), {aes ? obj::key_type::kAes : obj::key_type::kDes3});
  if (!k) return;
  const EVP_CIPHER *cipher = cipher_of(aes, k->key.size(), mode);
  if (!cipher) return (void)rc.fail(ec::kKeyTypeInconsistent);
  auto data = rc.in(first + 1);
  if (mode == Mode::kCtr && rc.p1() != data.size()) return (void)rc.fail(ec::kBadLength);
  std::vector<uint8_t> in(data.begin(), data.end());
  if (mode != Mode::kCtr) {
    if (!encrypt && in.size() % block) return (void)rc.fail(ec::kBadLength);
    in.resize((in.size() + block - 1) / block * block, 0);
  }
  if (rc.outputs() == 0 || rc.out_cap(0) < in.size()) return (void)rc.fail(ec::kResultSize);
  obj::CipherCtx ctx(EVP_CIPHER_CTX_new());
  std::vector<uint8_t> out(in.size() + block);
  int n = 0, m = 0;
  const bool ok = ctx &&
                  EVP_CipherInit_ex(ctx.get(), cipher, nullptr, k->key.bytes().data(),
                                    iv_len ? rc.in(0).data() : nullptr, encrypt ? 1 : 0) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
                  EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), int(in.size())) == 1 &&
                  EVP_CipherFinal_ex(ctx.get(), out.data() + n, &m) == 1;
  if (!ok) return (void)rc.fail(ec::kBadLength);
  out.resize(size_t(n + m));
  rc.put(0, std::move(out));
}

void des3_enc(HsmState &st, Call &c) { run(st, c, false, true, Mode::kCbc); }
void des3_dec(HsmState &st, Call &c) { run(st, c, false, false, Mode::kCbc); }
void aes_enc(HsmState &st, Call &c) { run(st, c, true, true, Mode::kCbc); }
void aes_dec(HsmState &st, Call &c) { run(st, c, true, false, Mode::kCbc); }
void ctr_enc(HsmState &st, Call &c) { run(st, c, true, true, Mode::kCtr); }
void ctr_dec(HsmState &st, Call &c) { run(st, c, true, false, Mode::kCtr); }

}  // namespace

void add_crypto_cipher_ops(HandlerTable &t) {
  add_dma_pair(t, 4, 0x040E, des3_enc);
  add_dma_pair(t, 4, 0x050E, des3_dec);
  add_dma_pair(t, 4, 0x060E, aes_enc);
  add_dma_pair(t, 4, 0x070E, aes_dec);
  t.add(4, 0x0018, ctr_enc);  // AES-CTR never carries the DMA bit
  t.add(4, 0x0118, ctr_dec);
}

}  // namespace hsmsim::hsm
