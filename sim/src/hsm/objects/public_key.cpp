#include "hsm/objects/public_key.h"

#include "hsm/engine/values.h"
#include "hsm/objects/codes.h"

namespace hsmsim::hsm::obj {

namespace {

std::span<const uint8_t> attr_bytes(const Object &o, uint32_t type) {
  const auto *v = o.get(type);
  return v ? std::span<const uint8_t>(*v) : std::span<const uint8_t>{};
}

bool rsa_der(const Object &o, std::vector<uint8_t> &out) {
  return engine::rsa_public_der(attr_bytes(o, attr::kModulus), attr_bytes(o, attr::kPublicExponent),
                                out);
}

bool ec_der(const Object &o, std::vector<uint8_t> &out) {
  auto nid = o.number(attr::kModulusBits);
  return nid && engine::ec_public_der(static_cast<int>(*nid), o.public_data, out);
}

bool dsa_der(const Object &o, std::vector<uint8_t> &out) {
  auto bytes = [&](uint32_t type) {
    auto b = attr_bytes(o, type);
    return engine::Bytes(b.begin(), b.end());
  };
  return engine::dsa_public_der({bytes(attr::kPrime), bytes(attr::kSubprime), bytes(attr::kBase)},
                                o.public_data, out);
}

}  // namespace

uint32_t public_key_der(const Object &o, std::vector<uint8_t> &out) {
  uint8_t cls = o.key_class();
  if (cls != key_class::kPublic && cls != key_class::kPrivate) return rc::kKeyTypeInconsistent;
  bool ok = false;
  switch (o.key_type()) {
    case key_type::kRsa:
      ok = rsa_der(o, out);
      break;
    case key_type::kEc:
      ok = ec_der(o, out);
      break;
    case key_type::kDsa:
      ok = dsa_der(o, out);
      break;
    default:
      break;
  }
  return ok ? rc::kOk : rc::kKeyTypeInconsistent;
}

}  // namespace hsmsim::hsm::obj
