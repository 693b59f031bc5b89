// AES-GCM and GMAC with a key object on the HSM. The 16-byte IV segment
// carries the 96-bit GCM IV in its first 12 bytes; the HSM answers the
// initial counter block it used (the IV, then 00 00 00 01). Encryption tags
// are 16 bytes, decryption checks 4 to 16.
#include "hsm/codes.h"
#include "hsm/objects/attributes.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;

constexpr uint16_t kGmac = 0x8000;
constexpr size_t kIvSeg = 16, kIvLen = 12;

void run(HsmState &st, Call &c, bool encrypt) {
  RawCall rc(st, c);
  const size_t data_len = rc.p1();
  // [AAD length word] [IV] [key] [AAD, rounded, when any] [data, when any] [tag: decryption]
  const auto word = rc.in(0);
  if (word.size() != 8) return (void)rc.fail(code::kBadRecord);
  const size_t aad_len = size_t{word[0]} << 8 | word[1];
  if (!rc.padded(word, 2)) return;
  const size_t aad_seg = aad_len ? 1 : 0, data_seg = data_len ? 1 : 0;
  if (rc.inputs() != 3 + aad_seg + data_seg + (encrypt ? 0 : 1) || rc.in(1).size() != kIvSeg)
    return (void)rc.fail(code::kBadRecord);
  const bool gmac = (rc.p2() & kGmac) != 0;
  if (gmac != (data_len == 0)) return (void)rc.fail(code::kBadLength);
  const auto aad = aad_len ? rc.in(3) : std::span<const uint8_t>{};
  if (aad.size() != (aad_len + 7) / 8 * 8) return (void)rc.fail(code::kBadAdnlLen);
  if (!rc.padded(aad, aad_len)) return;
  const auto data = data_len ? rc.in(3 + aad_seg) : std::span<const uint8_t>{};
  if (data.size() != data_len) return (void)rc.fail(code::kBadLength);
  engine::Key key;
  if (!rc.key(2, {obj::key_type::kAes}, key)) return;
  const char *name = engine::aes_name(key.bytes().size(), "GCM");
  if (!name) return (void)rc.fail(code::kBadGcmKeyLength);
  const auto iv = rc.in(1).first(kIvLen);
  engine::Bytes out, tag;
  if (encrypt) {
    if ((rc.p2() & ~kGmac) != 0x21) return (void)rc.fail(code::kBadEncryptType);
    if (!rc.ok(engine::gcm_encrypt(name, key.bytes(), iv, aad.first(aad_len), data, 16, out, tag)))
      return;
    engine::Bytes j0(iv.begin(), iv.end());
    j0.insert(j0.end(), {0, 0, 0, 1});
    if (!rc.put(0, j0) || (data_len && !rc.put(1, out))) return;
    rc.put(1 + data_seg, tag);
    return;
  }
  const auto t = rc.in(rc.inputs() - 1);
  if (t.size() < 4 || t.size() > 16 || t.size() % 4 ||
      (rc.p2() & ~kGmac) != (0x20 | ((t.size() / 4 - 1) << 3)))
    return (void)rc.fail(code::kBadEncryptType);
  if (!rc.ok(engine::gcm_decrypt(name, key.bytes(), iv, aad.first(aad_len), data, t, out))) return;
  if (data_len) rc.put(0, out);
}

void gcm_enc(HsmState &st, Call &c) { run(st, c, true); }
void gcm_dec(HsmState &st, Call &c) { run(st, c, false); }

}  // namespace

void add_crypto_gcm_ops(HandlerTable &t) {
  t.add(kCryptoKeyCommand, raw_opcode(major::kCipher, 8), gcm_enc);
  t.add(kCryptoKeyCommand, raw_opcode(major::kCipher, 9), gcm_dec);
}

}  // namespace hsmsim::hsm
