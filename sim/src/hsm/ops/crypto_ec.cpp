// Elliptic-curve point operations and ECDSA. Points travel as X and Y
// segments rounded to 8 bytes; the engine works on 04 || X || Y. ECDSA
// signing uses the caller's k (r = (kG).x mod n, s = k^-1 (e + r d) mod n);
// verification takes s before r.
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/engine/values.h"
#include "hsm/objects/attributes.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;
using engine::Bytes;
using In = std::span<const uint8_t>;

enum : uint8_t { kAdd = 0x00, kDouble = 0x10, kMul = 0x20, kSign = 0x60, kVerify = 0x70 };

size_t r8(size_t n) { return (n + 7) / 8 * 8; }

// A curve by OpenSSL curve number: its field prime and that prime's length.
struct Curve {
  int nid = 0;
  Bytes p;
  size_t plen = 0;
  explicit Curve(int n) : nid(n), p(engine::ec_prime(n)), plen(p.size()) {}
  bool ok() const { return plen != 0; }
};

// A coordinate segment: rounded, padding zero (strict), the plen bytes.
bool coordinate(RawCall &rc, In seg, size_t plen, In &out) {
  if (seg.size() != r8(plen)) return rc.fail(code::kBadRecord);
  if (!rc.padded(seg, plen)) return false;
  out = seg.first(plen);
  return true;
}

Bytes point(In x, In y) {
  Bytes p{0x04};
  p.insert(p.end(), x.begin(), x.end());
  p.insert(p.end(), y.begin(), y.end());
  return p;
}

// 04 || X || Y into output segments 0 and 1.
void put_point(RawCall &rc, const Bytes &p, size_t plen) {
  if (p.size() != 1 + 2 * plen) return (void)rc.fail(code::kPointAtInfinity);
  if (rc.put(0, In(p).subspan(1, plen))) rc.put(1, In(p).subspan(1 + plen, plen));
}

void points(HsmState &st, Call &c) {
  RawCall rc(st, c);
  const uint8_t minor = minor_of(c.req.opcode);
  const bool with_key = c.req.command_type == kCryptoKeyCommand;
  if (!with_key && !rc.session()) return;
  Curve cv(engine::curve_nid(rc.p1()));
  if (!cv.ok()) return (void)rc.fail(code::kUnsupportedCurve);
  const size_t want = minor == kAdd ? 5 : minor == kDouble ? 3 : 4;
  if (rc.inputs() != want) return (void)rc.fail(code::kBadRecord);
  In x1, y1, x2, y2, prime;
  if (!coordinate(rc, rc.in(0), cv.plen, x1) || !coordinate(rc, rc.in(1), cv.plen, y1) ||
      !coordinate(rc, rc.in(want - 1), cv.plen, prime))
    return;
  if (!std::equal(prime.begin(), prime.end(), cv.p.begin(), cv.p.end()))
    return (void)rc.fail(code::kUnsupportedPrime);
  // The arithmetic needs only the request's numbers and the key this
  // request holds: it runs without the state lock.
  Bytes out;
  uint32_t r = 0;
  if (minor == kAdd) {
    if (!coordinate(rc, rc.in(2), cv.plen, x2) || !coordinate(rc, rc.in(3), cv.plen, y2)) return;
    r = c.unlocked([&] { return engine::ec_add(cv.nid, point(x1, y1), point(x2, y2), out); });
  } else if (minor == kDouble) {
    r = c.unlocked([&] { return engine::ec_add(cv.nid, point(x1, y1), {}, out); });
  } else if (with_key) {
    engine::Key k;
    if (!rc.key(2, {obj::key_type::kEc}, k)) return;
    if (engine::ec_curve(k) != cv.nid || !k.has_private())
      return (void)rc.fail(code::kKeyTypeInconsistent);
    r = c.unlocked([&] {
      Bytes scalar = engine::ec_private_scalar(k);
      const uint32_t code = engine::ec_mul(cv.nid, scalar, point(x1, y1), out);
      engine::wipe(scalar);
      return code;
    });
  } else {
    const In scalar = rc.in(2);
    const size_t len = rc.p2();
    if (scalar.size() != r8(len) || !rc.padded(scalar, len)) {
      if (rc.status() == 0) rc.fail(code::kBadRecord);
      return;
    }
    r = c.unlocked([&] { return engine::ec_mul(cv.nid, scalar.first(len), point(x1, y1), out); });
  }
  if (rc.ok(r)) put_point(rc, out, cv.plen);
}

uint64_t be64(In b) {
  uint64_t v = 0;
  for (uint8_t x : b) v = v << 8 | x;
  return v;
}

// [control word] [k] [key] [hash]; r and s, or (the "2" form, attest 1) the
// length of both, then r and s.
void sign(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (rc.inputs() != 4 || rc.in(0).size() != 8) return (void)rc.fail(code::kBadRecord);
  engine::Key key;
  if (!rc.key(2, {obj::key_type::kEc}, key)) return;
  Curve cv(engine::ec_curve(key));
  if (!cv.ok() || !key.has_private()) return (void)rc.fail(code::kKeyTypeInconsistent);
  const size_t plen = rc.p1() >> 8;
  if (plen != cv.plen) return (void)rc.fail(code::kUnsupportedCurve);
  const uint64_t word = be64(rc.in(0));
  const size_t klen = (word >> 16) & 0xFFFF, hlen = word & 0xFFFF;
  if (rc.in(1).size() != r8(klen) || rc.in(3).size() != r8(hlen))
    return (void)rc.fail(code::kBadRecord);
  if (!rc.padded(rc.in(1), klen) || !rc.padded(rc.in(3), hlen)) return;
  Bytes r, s;
  // With the request's own copy of the key: no state lock while it signs.
  const uint32_t signed_code = c.unlocked([&] {
    return engine::ecdsa_sign_with_k(key, rc.in(1).first(klen), rc.in(3).first(hlen), cv.plen, r,
                                     s);
  });
  if (!rc.ok(signed_code)) return;
  size_t first = 0;
  if (c.req.attest) {  // the length word of the "2" form: r and s together
    const uint16_t both = static_cast<uint16_t>(2 * plen);
    const uint8_t word_bytes[2] = {static_cast<uint8_t>(both >> 8), static_cast<uint8_t>(both)};
    if (!rc.put(0, word_bytes)) return;
    first = 1;
  }
  if (rc.outputs() > first) rc.put(first, r);
  if (rc.outputs() > first + 1) rc.put(first + 1, s);
}

// [control word] [s] [r] [key | Qx Qy] [hash]. Without r, s and hash the
// request asks only whether the key can verify: 183 when it can.
void verify(HsmState &st, Call &c) {
  RawCall rc(st, c);
  const bool with_key = c.req.command_type == kCryptoKeyCommand;
  if (rc.inputs() != (with_key ? 5u : 6u) || rc.in(0).size() != 8)
    return (void)rc.fail(code::kBadRecord);
  engine::Key key;
  size_t plen = rc.p1() >> 8;
  if (with_key) {
    if (!rc.key(3, {obj::key_type::kEc}, key)) return;
    if (rc.in(1).empty() && rc.in(2).empty() && rc.in(4).empty())
      return (void)rc.fail(engine::ec_curve(key) ? code::kResultSize : code::kKeyTypeInconsistent);
  } else {
    if (!rc.session()) return;
    Curve cv(engine::curve_nid(rc.p1() & 0xFF));
    if (!cv.ok()) return (void)rc.fail(code::kUnsupportedCurve);
    In qx, qy;
    if (!coordinate(rc, rc.in(3), cv.plen, qx) || !coordinate(rc, rc.in(4), cv.plen, qy)) return;
    if (!rc.ok(engine::ec_public_from_point(cv.nid, point(qx, qy), key))) return;
  }
  Curve cv(engine::ec_curve(key));
  if (!cv.ok() || plen != cv.plen) return (void)rc.fail(code::kUnsupportedCurve);
  const size_t hlen = be64(rc.in(0)) & 0xFFFF;
  In s, r;
  const In hash = rc.in(rc.inputs() - 1);
  if (!coordinate(rc, rc.in(1), plen, s) || !coordinate(rc, rc.in(2), plen, r)) return;
  if (hash.size() != r8(hlen) || !rc.padded(hash, hlen)) {
    if (rc.status() == 0) rc.fail(code::kBadRecord);
    return;
  }
  Bytes raw(r.begin(), r.end()), der;
  raw.insert(raw.end(), s.begin(), s.end());
  if (!engine::ecdsa_der(raw, der)) return (void)rc.fail(code::kSignatureMismatch);
  engine::RsaPadding none;
  rc.ok(c.unlocked([&] { return engine::verify(key, none, hash.first(hlen), der); }));
}

}  // namespace

void add_crypto_ec_ops(HandlerTable &t) {
  for (uint8_t minor : {kAdd, kDouble, kMul})
    t.add(kCryptoCommand, raw_opcode(major::kEc, minor), points);
  t.add(kCryptoKeyCommand, raw_opcode(major::kEc, kMul), points);
  t.add(kCryptoKeyCommand, raw_opcode(major::kEc, kSign), sign);
  t.add(kCryptoKeyCommand, raw_opcode(major::kEc, kVerify), verify);
  t.add(kCryptoCommand, raw_opcode(major::kEc, kVerify), verify);
}

}  // namespace hsmsim::hsm
