// RSA, DSA and EC key pair generation. RSA and DSA generation runs without
// the HSM's state lock, so other connections are served meanwhile.
#include "hsm/engine/generate.h"
#include "hsm/engine/values.h"
#include "hsm/ops/keygen_common.h"

namespace hsmsim::hsm::keygen {

namespace {

namespace rc = obj::rc;
namespace attr = obj::attr;
namespace kt = obj::key_type;

constexpr uint32_t kRsaMech = 10, kDsaMech = 16, kEcMech = 4160;
constexpr uint8_t kF4[] = {0x01, 0x00, 0x01};

// A number from the public template, else the private one.
std::optional<uint32_t> pair_number(const obj::ParsedTemplate &pub, const obj::ParsedTemplate &priv,
                                    uint32_t type) {
  auto v = pub.number(type);
  return v ? v : priv.number(type);
}
const obj::TemplateAttr *pair_attr(const obj::ParsedTemplate &pub, const obj::ParsedTemplate &priv,
                                   uint32_t type) {
  const auto *a = pub.find(type);
  return a ? a : priv.find(type);
}

// The curves the cryptographic requests number (CurveId 0-5), by OpenSSL curve number.
bool known_curve(uint32_t nid) {
  for (uint32_t id = 0; engine::curve_nid(id) != 0; ++id)
    if (static_cast<uint32_t>(engine::curve_nid(id)) == nid) return true;
  return false;
}

// What generation needs, read under the state lock.
struct Plan {
  uint8_t type = 0;
  uint32_t bits = 0;  // RSA modulus, DSA prime
  std::vector<uint8_t> exponent;
  engine::DsaDomain domain;  // DSA under given parameters
  int curve = 0;
};

uint32_t plan_of(uint32_t mech, const obj::ParsedTemplate &pub, const obj::ParsedTemplate &priv,
                 Plan &p) {
  switch (mech) {
    case kRsaMech:
      p.type = kt::kRsa;
      break;
    case kDsaMech:
      p.type = kt::kDsa;
      break;
    case kEcMech:
      p.type = kt::kEc;
      break;
    default:
      return rc::kInvalidCryptoMechanism;
  }
  if (pub.number(attr::kClass) != obj::key_class::kPublic ||
      priv.number(attr::kClass) != obj::key_class::kPrivate ||
      pub.number(attr::kKeyType) != p.type || priv.number(attr::kKeyType) != p.type)
    return rc::kTemplateInconsistent;
  if (p.type == kt::kEc) {
    auto nid = pair_number(pub, priv, attr::kModulusBits);
    if (!nid) return rc::kTemplateInconsistent;
    if (!known_curve(*nid)) return rc::kAttributeValueInvalid;
    p.curve = static_cast<int>(*nid);
    return rc::kOk;
  }
  if (p.type == kt::kDsa) {
    const auto *prime = pair_attr(pub, priv, attr::kPrime);
    const auto *sub = pair_attr(pub, priv, attr::kSubprime);
    const auto *base = pair_attr(pub, priv, attr::kBase);
    if (prime && sub && base) {
      p.domain = {prime->kept, sub->kept, base->kept};
      return rc::kOk;
    }
  }
  auto bits = pair_number(pub, priv, attr::kModulusBits);
  if (!bits && p.type == kt::kDsa) bits = pair_number(pub, priv, attr::kPrimeBits);
  if (!bits) return rc::kTemplateInconsistent;
  p.bits = *bits;
  if (p.type == kt::kRsa) {
    const auto *e = pair_attr(pub, priv, attr::kPublicExponent);
    p.exponent = e ? e->kept : std::vector<uint8_t>(std::begin(kF4), std::end(kF4));
  }
  return rc::kOk;
}

uint32_t generate(const Plan &p, engine::Key &key) {
  switch (p.type) {
    case kt::kRsa:
      return engine::generate_rsa(p.bits, p.exponent, key);
    case kt::kDsa:
      return p.domain.p.empty() ? engine::generate_dsa(p.bits, key)
                                : engine::generate_dsa(p.domain, key);
    default:
      return engine::generate_ec(p.curve, key);
  }
}

}  // namespace

void add_public_parts(obj::Object &o, const void *arg) {
  const auto &key = *static_cast<const engine::Key *>(arg);
  switch (key.kind()) {
    case engine::Kind::Rsa:
      o.attrs[attr::kModulus] = engine::rsa_modulus(key);
      o.attrs[attr::kPublicExponent] = engine::rsa_exponent(key);
      o.attrs[attr::kModulusBits] = obj::kept_number(key.bits());
      break;
    case engine::Kind::Dsa: {
      engine::DsaDomain d = engine::dsa_domain(key);
      o.attrs[attr::kPrime] = d.p;
      o.attrs[attr::kSubprime] = d.q;
      o.attrs[attr::kBase] = d.g;
      o.attrs[attr::kModulusBits] = obj::kept_number(key.bits());
      break;
    }
    case engine::Kind::Ec:
      o.attrs[attr::kModulusBits] = obj::kept_number(static_cast<uint32_t>(engine::ec_curve(key)));
      break;
    default:
      break;
  }
}

void add_key_parts(obj::Object &o, const void *arg) {
  add_public_parts(o, arg);
  o.set_material(*static_cast<const engine::Key *>(arg));
}

namespace {

// Command (header, mechanism, two 16-bit offsets), then the public and the
// private template, each behind its Object head.
void generate_key_pair(HsmState &st, Call &c) {
  auto r = c.reader();
  KeygenHead k = read_keygen_head(st, r);
  const uint32_t mech = r.u32();
  r.u32();  // obj_offset
  if (!k.head.code && !r.ok()) k.head.code = rc::kInvalidInput;
  if (k.head.code) return c.fail(k.head.code);
  obj::ParsedTemplate pub, priv;
  if (uint32_t code = read_template(r, pub)) return c.fail(code);
  if (uint32_t code = read_template(r, priv)) return c.fail(code);
  Plan plan;
  if (uint32_t code = plan_of(mech, pub, priv, plan)) return c.fail(code);

  engine::Key key;
  const uint32_t gen = c.unlocked([&] { return generate(plan, key); });
  if (gen) return c.fail(gen);
  // The session and its login may have gone while the key was made.
  obj::Actor actor;
  if (uint32_t code = obj::actor_of(st, k.head.h.session, actor)) return c.fail(code);

  obj::Material pm;
  pm.public_data = engine::public_data(key);
  pm.local = true;
  uint64_t pub_handle = 0, priv_handle = 0;
  if (uint32_t code =
          store_object(st, actor, pub, std::move(pm), pub_handle, add_public_parts, &key))
    return c.fail(code);
  obj::Material sm;
  sm.key = engine::private_value(key);
  sm.public_data = engine::public_data(key);
  sm.local = true;
  if (uint32_t code =
          store_object(st, actor, priv, std::move(sm), priv_handle, add_key_parts, &key)) {
    st.objects.erase(pub_handle);
    return c.fail(code);
  }
  const uint64_t handles[] = {pub_handle, priv_handle};
  answer_new(st, c, k.want_attrs, handles, kKeyGenAttestSize, true);
}

}  // namespace

void add_keygen_pair_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kGenerateKeyPair, generate_key_pair);
}

}  // namespace hsmsim::hsm::keygen
