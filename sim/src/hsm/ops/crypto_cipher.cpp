// 3DES and AES in CBC and ECB, and AES-CTR, with a key object on the HSM.
// Encryption pads the data with zeros to whole blocks (the requests size
// their outputs so); decryption takes whole blocks only.
#include "hsm/codes.h"
#include "hsm/objects/attributes.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;

enum class Mode { kCbc, kEcb, kCtr };

void run(HsmState &st, Call &c, bool aes, bool encrypt, Mode mode) {
  RawCall rc(st, c);
  if (mode != Mode::kCtr) {  // param1: the cipher mode times 8 (CBC 0, ECB 2)
    if (rc.p1() == 16)
      mode = Mode::kEcb;
    else if (rc.p1() != 0)
      return (void)rc.fail(code::kBadEncryptType);
  }
  const size_t block = aes ? 16 : 8;
  const size_t iv_len = mode == Mode::kEcb ? 0 : block;
  const size_t first = iv_len ? 1 : 0;
  if (rc.inputs() != first + 2 || (iv_len && rc.in(0).size() != iv_len))
    return (void)rc.fail(code::kBadRecord);
  engine::Key key;
  if (!rc.key(first, {aes ? obj::key_type::kAes : obj::key_type::kDes3}, key)) return;
  const char *m = mode == Mode::kCbc ? "CBC" : mode == Mode::kEcb ? "ECB" : "CTR";
  const char *name = aes                  ? engine::aes_name(key.bytes().size(), m)
                     : mode == Mode::kCbc ? "DES-EDE3-CBC"
                     : mode == Mode::kEcb ? "DES-EDE3-ECB"
                                          : nullptr;
  if (!name) return (void)rc.fail(code::kKeyTypeInconsistent);
  auto data = rc.in(first + 1);
  if (mode == Mode::kCtr && rc.p1() != data.size()) return (void)rc.fail(code::kBadLength);
  engine::Bytes in(data.begin(), data.end());
  if (mode != Mode::kCtr) {
    if (!encrypt && in.size() % block) return (void)rc.fail(code::kBadLength);
    in.resize((in.size() + block - 1) / block * block, 0);
  }
  engine::Bytes out;
  const auto iv = iv_len ? rc.in(0) : std::span<const uint8_t>{};
  if (rc.ok(engine::cipher(name, key.bytes(), iv, encrypt, false, in, out))) rc.put(0, out);
}

void des3_enc(HsmState &st, Call &c) { run(st, c, false, true, Mode::kCbc); }
void des3_dec(HsmState &st, Call &c) { run(st, c, false, false, Mode::kCbc); }
void aes_enc(HsmState &st, Call &c) { run(st, c, true, true, Mode::kCbc); }
void aes_dec(HsmState &st, Call &c) { run(st, c, true, false, Mode::kCbc); }
void ctr_enc(HsmState &st, Call &c) { run(st, c, true, true, Mode::kCtr); }
void ctr_dec(HsmState &st, Call &c) { run(st, c, true, false, Mode::kCtr); }

}  // namespace

void add_crypto_cipher_ops(HandlerTable &t) {
  t.add(kCryptoKeyCommand, raw_opcode(major::kCipher, 4), des3_enc);
  t.add(kCryptoKeyCommand, raw_opcode(major::kCipher, 5), des3_dec);
  t.add(kCryptoKeyCommand, raw_opcode(major::kCipher, 6), aes_enc);
  t.add(kCryptoKeyCommand, raw_opcode(major::kCipher, 7), aes_dec);
  t.add(kCryptoKeyCommand, raw_opcode(major::kAesCtr, 0), ctr_enc);
  t.add(kCryptoKeyCommand, raw_opcode(major::kAesCtr, 1), ctr_dec);
}

}  // namespace hsmsim::hsm
