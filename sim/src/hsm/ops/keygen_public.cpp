// Objects made from key material the caller holds: public keys from an RSA
// modulus and exponent, an EC point (on the template's curve) or a DSA
// public value; secret keys from their value.
#include <algorithm>

#include "hsm/engine/values.h"
#include "hsm/ops/keygen_common.h"

namespace hsmsim::hsm::keygen {

namespace {

namespace rc = obj::rc;
namespace attr = obj::attr;
namespace kt = obj::key_type;

// Checks the public key a template and its key data describe and fills
// `m` with what the object keeps beside its attributes.
// An RSA key's modulus and its length in bits.
struct RsaParts {
  std::vector<uint8_t> modulus;
  uint32_t bits = 0;
};

uint32_t public_material(const obj::ParsedTemplate &t, std::span<const uint8_t> data,
                         obj::Material &m, RsaParts &rsa) {
  const auto type = t.number(attr::kKeyType);
  engine::Key key;
  switch (type.value_or(0xFF)) {
    case kt::kRsa: {
      const auto *mod = t.find(attr::kModulus);
      const auto *exp = t.find(attr::kPublicExponent);
      // The key data is the modulus again, or the modulus the template lacks.
      if (mod && !data.empty() &&
          !std::equal(data.begin(), data.end(), mod->kept.begin(), mod->kept.end()))
        return rc::kAttributeValueInvalid;
      rsa.modulus = mod ? mod->kept : std::vector<uint8_t>(data.begin(), data.end());
      if (rsa.modulus.empty() || !exp) return rc::kTemplateInconsistent;
      if (uint32_t code = engine::rsa_public_from(rsa.modulus, exp->kept, key)) return code;
      rsa.bits = key.bits();
      return rc::kOk;
    }
    case kt::kEc: {
      auto nid = t.number(attr::kModulusBits);
      if (!nid || data.empty()) return rc::kTemplateInconsistent;
      // A point off the curve (or of another curve's size) does not decode.
      if (uint32_t code = engine::ec_public_from_point(static_cast<int>(*nid), data, key))
        return code;
      m.public_data = engine::ec_public_point(key);
      return rc::kOk;
    }
    case kt::kDsa: {
      if (data.empty()) return rc::kTemplateInconsistent;
      const auto *p = t.find(attr::kPrime), *q = t.find(attr::kSubprime), *g = t.find(attr::kBase);
      if (p && q && g)
        if (uint32_t code = engine::dsa_public_from_value({p->kept, q->kept, g->kept}, data, key))
          return code;
      m.public_data.assign(data.begin(), data.end());
      return rc::kOk;
    }
    default:
      return rc::kTemplateInconsistent;
  }
}

void set_rsa_parts(obj::Object &o, const void *arg) {
  const auto &rsa = *static_cast<const RsaParts *>(arg);
  if (rsa.modulus.empty()) return;
  o.attrs[attr::kModulus] = rsa.modulus;
  o.attrs[attr::kModulusBits] = obj::kept_number(rsa.bits);
}

// Command, the template behind its Object head, the key data's length
// word and the key data.
void create_object(HsmState &st, Call &c) {
  auto r = c.reader();
  KeygenHead k = read_keygen_head(st, r);
  if (!k.head.code && !r.ok()) k.head.code = rc::kInvalidInput;
  if (k.head.code) return c.fail(k.head.code);
  obj::ParsedTemplate t;
  if (uint32_t code = read_template(r, t)) return c.fail(code);
  const uint32_t data_len = r.u32();
  auto data = r.bytes(data_len);
  if (!r.ok()) return c.fail(rc::kInvalidInput);

  obj::Material m;
  RsaParts rsa;
  const auto cls = t.number(attr::kClass);
  if (cls == obj::key_class::kPublic) {
    if (uint32_t code = public_material(t, data, m, rsa)) return c.fail(code);
  } else if (cls == obj::key_class::kSecret) {
    m.key.assign(data.begin(), data.end());  // empty: the value in the template
  } else {
    return c.fail(rc::kTemplateInconsistent);  // private keys come by unwrap and import
  }
  uint64_t handle = 0;
  if (uint32_t code = store_object(st, k.head.actor, t, std::move(m), handle,
                                   cls == obj::key_class::kPublic ? set_rsa_parts : nullptr, &rsa))
    return c.fail(code);
  const uint64_t handles[] = {handle};
  answer_new(st, c, k.want_attrs, handles);
}

}  // namespace

void add_keygen_public_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kCreateObject, create_object);
}

}  // namespace hsmsim::hsm::keygen
