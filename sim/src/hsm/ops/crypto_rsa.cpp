// RSA on the HSM: PKCS#1 v1.5 block types 1 and 2, OAEP, PSS and modular
// exponentiation. Which exponent an operation uses follows from what it is
// (see sim/README.md): padding for encryption and checking a block use the
// public exponent (any RSA key object); signing, decrypting and raw
// exponentiation with a key use the private one (a private key object).
#include <optional>

#include "hsm/codes.h"
#include "hsm/engine/values.h"
#include "hsm/objects/attributes.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;
using engine::Bytes;
using In = std::span<const uint8_t>;

enum : uint8_t { kPlain = 0, kDec = 1, kCrtDec = 2, kEnc = 3, kCrtEnc = 4, kCrt = 8 };
constexpr uint16_t kEncryptBit = 0x8000;

Bytes be(uint32_t v, size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[n - 1 - i] = static_cast<uint8_t>(v >> (8 * i));
  return b;
}

// Left-pads to the modulus length (a shorter operand is a smaller number).
Bytes widen(In v, size_t k) {
  Bytes b(k > v.size() ? k - v.size() : 0, 0);
  b.insert(b.end(), v.begin(), v.end());
  return b;
}

// x^e mod n with the key's public half.
uint32_t public_op(const engine::Key &k, In x, Bytes &out) {
  return engine::modexp(x, engine::rsa_exponent(k), engine::rsa_modulus(k), out);
}

// x^d mod n with the private half.
uint32_t private_op(const engine::Key &k, In x, Bytes &out) {
  if (!k.has_private()) return code::kKeyTypeInconsistent;
  const size_t width = (k.bits() + 7) / 8;  // the modulus's bytes
  engine::RsaPadding raw;
  raw.mode = engine::kPadNone;
  return engine::rsa_decrypt(k, raw, widen(x, width), out);
}

// Removes block type 1 padding (00 01 FF.. 00 M) from a recovered block.
uint32_t unpad_type1(const Bytes &em, Bytes &m) {
  if (em.size() < 11 || em[0] != 0 || em[1] != 1) return code::kBadPkcsData;
  size_t i = 2;
  while (i < em.size() && em[i] == 0xFF) ++i;
  if (i < 10 || i >= em.size() || em[i] != 0) return code::kBadPkcsData;
  m.assign(em.begin() + static_cast<long>(i + 1), em.end());
  return code::kOk;
}

// A result for the request's context (command type 7): the operation runs
// without the state lock, so it is kept here until the lock is back.
using ForContext = std::optional<Bytes>;

// The result of a request to the host or into its context. The
// length-prefixed form (attest 1) answers the length word, then as much
// of the result as fits (183 when it does not; a request without a result
// segment asks only for the length).
void deliver(RawCall &rc, const Bytes &result, bool with_word, ForContext &kept) {
  if (rc.req().command_type == kCryptoCtxKeyCommand) {
    kept = result;
    return;
  }
  if (rc.req().attest || with_word) {
    if (!rc.put(0, be(static_cast<uint32_t>(result.size()), 2))) return;
    if (rc.outputs() > 1) rc.put(1, result);
    return;
  }
  rc.put(0, result);
}

engine::RsaPadding padding(int mode, uint32_t hash_type) {
  engine::RsaPadding p;
  p.mode = mode;
  p.md = engine::digest_name(hash_type);
  return p;
}

// PKCS#1 v1.5, minors 1-4: param2 the block type (0: type 1, 1: type 2).
void v15(RawCall &rc, const engine::Key &k, uint8_t minor, ForContext &kept) {
  const auto data = rc.in(1);
  const bool type2 = rc.p2() == 1;
  if (rc.p2() > 1) return (void)rc.fail(code::kBadEncryptType);
  Bytes out;
  uint32_t r = 0;
  if (minor == kEnc || minor == kCrtEnc) {
    // Type 2 encrypts with the public exponent; type 1 signs the data as given.
    r = type2 ? engine::rsa_encrypt(k, padding(engine::kPadPkcs1, 0), data, out)
              : engine::sign(k, padding(engine::kPadPkcs1, 0), data, out);
    if (rc.ok(r)) deliver(rc, out, false, kept);
    return;
  }
  if (type2) {
    r = engine::rsa_decrypt(k, padding(engine::kPadPkcs1, 0), data, out);
  } else {
    Bytes em;
    r = public_op(k, data, em);
    if (r == 0) r = unpad_type1(em, out);
  }
  if (rc.ok(r)) deliver(rc, out, true, kept);  // the plain form has its length word too
}

// PKCS#1 v2.2 by the padding word; param2 0 is exponentiation with the key.
void v22(RawCall &rc, const engine::Key &k, ForContext &kept) {
  const uint16_t w = rc.p2();
  const uint32_t hash = (w & 0x7FFF) >> 2;
  const auto data = rc.in(1);
  Bytes out;
  if (w == 0) {
    // A public key object exponentiates with the exponent it has (checking
    // a signature padded on the host); a private one with its private half.
    const uint32_t r = k.has_private() ? private_op(k, data, out) : public_op(k, data, out);
    if (rc.ok(r)) rc.put(0, out);
    return;
  }
  const bool encrypt = (w & kEncryptBit) != 0;
  const unsigned pad = w & 3;
  if (pad >= 2 && !engine::digest_name(hash)) return (void)rc.fail(code::kBadAuthType);
  if (encrypt && pad == 3) {  // PSS signature of the hash
    auto p = padding(engine::kPadPss, hash);
    if (rc.ok(engine::sign(k, p, data, out))) deliver(rc, out, false, kept);
  } else if (encrypt) {
    uint32_t r = pad == 2   ? engine::rsa_encrypt(k, padding(engine::kPadOaep, hash), data, out)
                 : pad == 1 ? engine::rsa_encrypt(k, padding(engine::kPadPkcs1, 0), data, out)
                            : engine::sign(k, padding(engine::kPadPkcs1, 0), data, out);
    if (rc.ok(r)) deliver(rc, out, false, kept);
  } else if (pad == 2) {  // OAEP decryption
    if (!rc.ok(engine::rsa_decrypt(k, padding(engine::kPadOaep, hash), data, out))) return;
    if (rc.req().command_type == kCryptoCtxKeyCommand || rc.req().attest) {
      deliver(rc, out, false, kept);
    } else {  // the result area, then its length as a 32-bit word
      if (rc.put(0, out)) rc.put(1, be(static_cast<uint32_t>(out.size()), 4));
    }
  } else if (pad == 3) {  // PSS verification: [signature] [hash]
    auto p = padding(engine::kPadPss, hash);
    p.salt_len = engine::kSaltAuto;
    Bytes em;
    if (!rc.ok(public_op(k, data, em))) return;
    if (!rc.ok(engine::verify(k, p, rc.in(2), data))) return;
    deliver(rc, em, false, kept);
  } else {
    rc.fail(code::kBadEncryptType);
  }
}

void with_key(HsmState &st, Call &c) {
  RawCall rc(st, c);
  engine::Key k;
  if (!rc.key(0, {obj::key_type::kRsa}, k)) return;
  const uint8_t minor = minor_of(c.req.opcode);
  const size_t want = (minor == kPlain || minor == kCrt) && (c.req.param2 & 0x8003) == 3 ? 3 : 2;
  if (rc.inputs() != want) return (void)rc.fail(code::kBadRecord);
  // The key is the request's own copy: computing with it (the private half
  // included) needs no state lock, only the request's segments.
  ForContext kept;
  c.unlocked([&] {
    if (minor >= kDec && minor <= kCrtEnc)
      v15(rc, k, minor, kept);
    else
      v22(rc, k, kept);
  });
  if (kept) st.contexts.results[{rc.partition(), c.req.ctx_ptr}] = std::move(*kept);
}

// Key-less exponentiation: [modulus] [exponent or CRT components] [base].
void mod_exp(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  if (rc.inputs() != 3) return (void)rc.fail(code::kBadRecord);
  const auto m = rc.in(0), x = rc.in(1), a = rc.in(2);
  // The request's own numbers only: computed without the state lock.
  c.unlocked([&] {
    Bytes out;
    if (minor_of(c.req.opcode) != kCrt) {
      if (rc.ok(engine::modexp(a, x, m, out))) rc.put(0, out);
      return;
    }
    // CRT components as the key values keep them: q, d mod (q-1), p, d mod (p-1), q^-1 mod p.
    const size_t h = m.size() / 2;
    if (h == 0 || x.size() != 5 * h) return (void)rc.fail(code::kBadLength);
    if (rc.ok(engine::modexp_crt(a, x.subspan(2 * h, h), x.subspan(0, h), x.subspan(3 * h, h),
                                 x.subspan(h, h), x.subspan(4 * h, h), m.size(), out)))
      rc.put(0, out);
  });
}

}  // namespace

void add_crypto_rsa_ops(HandlerTable &t) {
  for (uint8_t major : {major::kRsa, major::kRsaLarge}) {
    for (uint8_t minor : {kPlain, kCrt}) t.add(kCryptoCommand, raw_opcode(major, minor), mod_exp);
    for (uint8_t minor : {kPlain, kDec, kCrtDec, kEnc, kCrtEnc, kCrt}) {
      t.add(kCryptoKeyCommand, raw_opcode(major, minor), with_key);
      t.add(kCryptoCtxKeyCommand, raw_opcode(major, minor), with_key);
    }
  }
}

}  // namespace hsmsim::hsm
