// Unwrapping a wrapped key into a new key object (opcode 226), with every
// mechanism the wrap side has: AES key wrap (RFC 3394 with the given IV,
// RFC 5649, PKCS#7 then RFC 3394), AES-CBC with PKCS#7, AES-GCM, RSA-OAEP,
// RSAES-PKCS1-v1_5 and RSA-AES. The request comes in segments: command,
// length, wrapped key, (AES-GCM: tag length byte, tag), Object head,
// template, IV, (AES-GCM: additional data).
#include <algorithm>
#include <span>

#include "hsm/engine/crypto.h"
#include "hsm/engine/values.h"
#include "hsm/ops/keygen_common.h"
#include "hsm/ops/wrap_common.h"

namespace hsmsim::hsm::wrapop {

namespace {

namespace attr = obj::attr;
namespace kt = obj::key_type;

constexpr uint32_t kIsPkcsPad = 0x2000;
constexpr uint32_t kGcm = 4231;
constexpr size_t kCommandLen = 40;
constexpr size_t kMaxWrapped = 8192 + 32;

struct UnwrapRequest {
  uint32_t mech = 0;
  uint32_t common_flags = 0;
  uint64_t unwrapping = 0;
  engine::In wrapped, tag, head, tmpl, iv, aad;
};

uint32_t be32(engine::In s) {
  uint32_t v = 0;
  for (uint8_t b : s.first(4)) v = v << 8 | b;
  return v;
}

// The segments after the command: 0, or RET_INVALID_INPUT when they do not
// hold together (count, the length word, the tag length, the Object head).
uint32_t read_segments(const Call &c, UnwrapRequest &u) {
  const bool gcm = u.mech == kGcm;
  if (c.input_count() != (gcm ? 9u : 6u) || c.input(0).size() != kCommandLen)
    return obj::rc::kInvalidInput;
  size_t i = 1;
  const engine::In len = c.input(i++);
  u.wrapped = c.input(i++);
  if (len.size() != 4 || be32(len) != u.wrapped.size() || u.wrapped.empty() ||
      u.wrapped.size() > kMaxWrapped)
    return obj::rc::kInvalidInput;
  if (gcm) {
    const engine::In tag_len = c.input(i++);
    u.tag = c.input(i++);
    if (tag_len.size() != 1 || tag_len[0] != u.tag.size() || u.tag.size() < 4 || u.tag.size() > 16)
      return obj::rc::kInvalidInput;
  }
  u.head = c.input(i++);
  u.tmpl = c.input(i++);
  if (u.head.size() != 12 || be32(u.head.subspan(8)) != u.tmpl.size() + 12)
    return obj::rc::kInvalidInput;
  u.iv = c.input(i++);
  if (gcm) u.aad = c.input(i++);
  return 0;
}

void wipe(engine::Bytes &v) {
  if (!v.empty()) explicit_bzero(v.data(), v.size());
}

bool all_zero(engine::In s) {
  return std::all_of(s.begin(), s.end(), [](uint8_t b) { return b == 0; });
}

// PKCS#7 padding of 1 to 8 bytes, removed in place.
uint32_t strip_pkcs7(engine::Bytes &v) {
  const uint8_t p = v.empty() ? 0 : v.back();
  if (p == 0 || p > 8 || p > v.size() ||
      !std::all_of(v.end() - p, v.end(), [p](uint8_t b) { return b == p; }))
    return rc::kKeyPadAmbiguity;
  v.resize(v.size() - p);
  return 0;
}

// The wrapped key's value, decrypted with the unwrapping key: 0, or the code.
uint32_t unwrap_value(const UnwrapRequest &u, const engine::Key &key, engine::Bytes &out) {
  const size_t klen = key.bytes().size();
  engine::RsaPadding oaep{engine::kPadOaep};
  oaep.md = engine::digest_name(u.common_flags & 0xFF) ? engine::digest_name(u.common_flags & 0xFF)
                                                       : "SHA1";
  switch (u.mech) {
    case 4240:
    case 4242: {
      if (u.iv.size() != 8 || u.wrapped.size() % 8 || u.wrapped.size() < 24)
        return obj::rc::kInvalidInput;
      uint32_t code = unwrap_code(engine::cipher(engine::aes_name(klen, "wrap"), key.bytes(), u.iv,
                                                 false, false, u.wrapped, out));
      if (!code && u.mech == 4242) code = strip_pkcs7(out);
      return code;
    }
    case 4241:
      if (!all_zero(u.iv)) return obj::rc::kInvalidInput;
      return unwrap_code(engine::cipher(engine::aes_name(klen, "wrap-pad"), key.bytes(), {}, false,
                                        false, u.wrapped, out));
    case 4229:
      if (u.iv.size() != 16) return obj::rc::kInvalidInput;
      return unwrap_code(engine::cipher(engine::aes_name(klen, "CBC"), key.bytes(), u.iv, false,
                                        true, u.wrapped, out));
    case kGcm:
      // The IV is the first 12 bytes of its field.
      if (u.iv.size() < 12) return obj::rc::kInvalidInput;
      return unwrap_code(engine::gcm_decrypt(engine::aes_name(klen, "GCM"), key.bytes(),
                                             u.iv.first(12), u.aad, u.wrapped, u.tag, out));
    case 9: {
      const engine::RsaPadding pad =
          u.common_flags & kIsPkcsPad ? engine::RsaPadding{engine::kPadPkcs1} : oaep;
      return unwrap_code(engine::rsa_decrypt(key, pad, u.wrapped, out));
    }
    case 4180: {
      // The sealed AES-256 key (one modulus long), then the value under it by RFC 5649.
      const size_t m = (key.bits() + 7) / 8;
      if (u.wrapped.size() <= m) return obj::rc::kInvalidInput;
      engine::Bytes eph;
      uint32_t code = unwrap_code(engine::rsa_decrypt(key, oaep, u.wrapped.first(m), eph));
      if (!code && eph.size() != 32) code = rc::kKeyPadAmbiguity;
      if (!code)
        code = unwrap_code(
            engine::cipher("id-aes256-wrap-pad", eph, {}, false, false, u.wrapped.subspan(m), out));
      wipe(eph);
      return code;
    }
    default:
      return obj::rc::kInvalidCryptoMechanism;
  }
}

// The key material of the new object from the unwrapped value, in the
// formats of the key values: secret bytes as they are, RSA's component
// block, EC's scalar (curve from the template), DSA's x (domain from the
// template). 0, or the value's code.
uint32_t material_of(const obj::ParsedTemplate &t, engine::Bytes value, obj::Material &m,
                     engine::Key &key) {
  const auto cls = t.number(attr::kClass);
  const auto type = t.number(attr::kKeyType);
  if (!cls || !type) return obj::rc::kTemplateInconsistent;
  if (*cls == obj::key_class::kSecret) {
    m.key = std::move(value);
    return 0;
  }
  if (*cls != obj::key_class::kPrivate) return obj::rc::kTemplateInconsistent;
  uint32_t code = obj::rc::kTemplateInconsistent;
  if (*type == kt::kRsa) {
    code = engine::rsa_private_from_block(value, key);
  } else if (*type == kt::kEc) {
    code = engine::ec_private_from_scalar(
        static_cast<int>(t.number(attr::kModulusBits).value_or(0)), value, key);
  } else if (*type == kt::kDsa) {
    const auto *p = t.find(attr::kPrime), *q = t.find(attr::kSubprime), *g = t.find(attr::kBase);
    if (p && q && g) code = engine::dsa_private_from_value({p->kept, q->kept, g->kept}, value, key);
  }
  wipe(value);
  if (code) return code;
  m.key = engine::private_value(key);
  m.public_data = engine::public_data(key);
  return 0;
}

void unwrap_key(HsmState &st, Call &c) {
  auto r = c.reader();
  keygen::KeygenHead k = keygen::read_keygen_head(st, r);
  UnwrapRequest u;
  u.common_flags = k.head.h.common_flags;
  u.mech = r.u32();
  u.unwrapping = r.u64();
  if (!k.head.code && !r.ok()) k.head.code = obj::rc::kInvalidInput;
  if (k.head.code) return c.fail(k.head.code);
  if (uint32_t code = read_segments(c, u)) return c.fail(code);
  obj::ParsedTemplate t;
  if (uint32_t code = obj::parse_template(u.tmpl, obj::Purpose::Create, t)) return c.fail(code);

  const bool rsa_mech = u.mech == 9 || u.mech == 4180;
  engine::Key key;
  if (uint32_t code =
          wrapping_key(st, k.head.actor, u.unwrapping, false, attr::kUnwrap, !rsa_mech, key))
    return c.fail(code);
  if (rsa_mech && (key.kind() != engine::Kind::Rsa || !key.has_private()))
    return c.fail(rc::kUnwrappingKeyTypeInconsistent);
  if (!rsa_mech && !engine::aes_name(key.bytes().size(), "wrap"))
    return c.fail(rc::kUnwrappingKeyTypeInconsistent);

  // The key's size is what unwrapped: a length the template states is not
  // the HSM's to check against it.
  std::erase_if(t.attrs, [](const obj::TemplateAttr &a) { return a.type == attr::kValueLen; });
  // Decrypting (with an RSA key's private half) and reading the new key's
  // value (an RSA key's pairwise check) run without the state lock: they
  // touch only the request, the template and the keys this request holds.
  obj::Material m;
  engine::Key made;
  const uint32_t made_code = c.unlocked([&] {
    engine::Bytes value;
    if (uint32_t code = unwrap_value(u, key, value)) {
      wipe(value);
      return code;
    }
    return material_of(t, std::move(value), m, made);
  });
  if (made_code) return c.fail(made_code);
  // The session and its login may have gone meanwhile.
  obj::Actor actor;
  if (uint32_t code = obj::actor_of(st, k.head.h.session, actor)) return c.fail(code);
  uint64_t handle = 0;
  const bool pair = !made.empty();
  if (uint32_t code = keygen::store_object(st, actor, t, std::move(m), handle,
                                           pair ? keygen::add_key_parts : nullptr, &made))
    return c.fail(code);
  const uint64_t handles[] = {handle};
  keygen::answer_new(st, c, k.want_attrs, handles);
  objop::attest(st, c);
}

}  // namespace

}  // namespace hsmsim::hsm::wrapop

namespace hsmsim::hsm {

void add_unwrap_key_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kUnwrapKey2, wrapop::unwrap_key);
}

}  // namespace hsmsim::hsm
