// Signing with a private key object and verifying with a public one
// (KQ_SIGN 49, KQ_VERIFY 50): RSA PKCS#1 v1.5 and PSS, DSA and ECDSA, each
// with its hash; with dropInternalHashing the message is the digest. DSA
// and ECDSA signatures travel as r || s, each as wide as the group order.
#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/values.h"
#include "hsm/ops/object_common.h"

namespace hsmsim::hsm {

namespace {

using namespace objop;
namespace rc = obj::rc;
using obj::Right;

using engine::Bytes;
using engine::Kind;

struct Mechanism {
  uint32_t number;
  Kind kind;
  const char *md;
  bool pss;
};
constexpr Mechanism kMechanisms[] = {
    {6, Kind::Rsa, "SHA1", false},     {64, Kind::Rsa, "SHA256", false},
    {65, Kind::Rsa, "SHA384", false},  {66, Kind::Rsa, "SHA512", false},
    {70, Kind::Rsa, "SHA224", false},  {14, Kind::Rsa, "SHA1", true},
    {67, Kind::Rsa, "SHA256", true},   {68, Kind::Rsa, "SHA384", true},
    {69, Kind::Rsa, "SHA512", true},   {71, Kind::Rsa, "SHA224", true},
    {18, Kind::Dsa, "SHA1", false},    {19, Kind::Dsa, "SHA224", false},
    {20, Kind::Dsa, "SHA256", false},  {21, Kind::Dsa, "SHA384", false},
    {22, Kind::Dsa, "SHA512", false},  {4162, Kind::Ec, "SHA1", false},
    {4163, Kind::Ec, "SHA256", false}, {4164, Kind::Ec, "SHA384", false},
    {4165, Kind::Ec, "SHA512", false}, {4166, Kind::Ec, "SHA224", false},
};
const Mechanism *mechanism(uint32_t number) {
  for (const auto &m : kMechanisms)
    if (m.number == number) return &m;
  return nullptr;
}

engine::RsaPadding padding_of(const Mechanism &m) {
  engine::RsaPadding p;
  p.mode = m.pss ? engine::kPadPss : engine::kPadPkcs1;
  p.md = m.md;  // DigestInfo (v1.5), the PSS hash; DSA and ECDSA: the digest
  return p;
}

// Bytes of r and of s: the group order's width (q for DSA).
size_t half_width(const engine::Key &k) {
  if (k.kind() == Kind::Ec) return (k.bits() + 7) / 8;
  return engine::dsa_domain(k).q.size();
}

// The key a command names for the mechanism: 0, or the answer's code.
uint32_t key_for(HsmState &st, const Head &hd, uint64_t handle, const Mechanism *m,
                 bool need_private, engine::Key &key) {
  if (!m) return rc::kInvalidCryptoMechanism;
  obj::Object *o = nullptr;
  if (uint32_t code = obj::object_for(st, hd.actor, handle, Right::Use, o)) return code;
  if (uint32_t code = o->key_material(key)) return code;
  if (key.kind() != m->kind || (need_private && !key.has_private()))
    return code::kKeyTypeInconsistent;
  return 0;
}

void sign(HsmState &st, Call &c) {
  auto r = c.reader();
  Head hd = read_head(st, r);
  const uint32_t msg_len = r.u32();
  r.u32();
  const Mechanism *m = mechanism(r.u32());
  const uint64_t handle = r.u64();
  auto msg = r.bytes(msg_len);
  if (!r.ok() || r.remaining() != 0) return c.fail(rc::kInvalidInput);
  if (hd.code) return c.fail(hd.code);
  engine::Key key;
  if (uint32_t code = key_for(st, hd, handle, m, true, key)) return c.fail(code);

  const bool prehashed = hd.h.flags != 0;
  const engine::RsaPadding pad = padding_of(*m);
  Bytes sig;
  // The request's own copy of the key signs without the state lock.
  uint32_t code = c.unlocked([&] {
    return prehashed ? engine::sign(key, pad, msg, sig)
                     : engine::sign_message(key, m->md, pad, msg, sig);
  });
  if (code) return c.fail(code);
  if (m->kind != Kind::Rsa) {
    Bytes raw;
    if (!engine::ecdsa_raw(sig, half_width(key), raw)) return c.fail(rc::kError);
    sig = std::move(raw);
  }
  const auto len = static_cast<uint32_t>(sig.size());
  const bool fits = len <= room(c, 1);
  c.respond(std_response(fits ? rc::kOk : rc::kResultSize, 0, len, len));
  if (fits) c.out.segment(1) = std::move(sig);
}

void verify(HsmState &st, Call &c) {
  auto r = c.reader();
  Head hd = read_head(st, r);
  const uint32_t sig_len = r.u32();
  const uint32_t msg_len = r.u32();
  const Mechanism *m = mechanism(r.u32());
  r.u32();
  const uint32_t handle = r.u32();
  auto sig = r.bytes(sig_len);
  auto msg = r.bytes(msg_len);
  if (!r.ok() || r.remaining() != 0) return c.fail(rc::kInvalidInput);
  if (hd.code) return c.fail(hd.code);
  engine::Key key;
  if (uint32_t code = key_for(st, hd, handle, m, false, key)) return c.fail(code);

  Bytes der;
  if (m->kind != Kind::Rsa) {
    if (sig.size() != 2 * half_width(key) || !engine::ecdsa_der(sig, der))
      return c.fail(code::kSignatureVerificationFailed);
    sig = der;
  }
  const engine::RsaPadding pad = padding_of(*m);
  const uint32_t code = c.unlocked([&] {
    return hd.h.flags != 0 ? engine::verify(key, pad, msg, sig)
                           : engine::verify_message(key, m->md, pad, msg, sig);
  });
  // Any failure to check (a digest of the wrong length included) is a
  // signature that does not verify.
  c.respond(std_response(code ? code::kSignatureVerificationFailed : rc::kOk));
}

}  // namespace

void add_sign_ops(HandlerTable &t) {
  t.add(kMgmtCommand, kSign, sign);
  t.add(kMgmtCommand, kVerify, verify);
}

}  // namespace hsmsim::hsm
