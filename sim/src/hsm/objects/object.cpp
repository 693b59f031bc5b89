#include "hsm/objects/object.h"

#include "hsm/objects/codes.h"
#include "wire/be_codec.h"

namespace hsmsim::hsm::obj {

uint32_t Object::key_material(engine::Key &out) const {
  if (!material_made) return engine::key_of(*this, out);  // not stored (yet)
  out = material;
  return material_code;
}

Kind kind_of(uint32_t type) {
  if (type == attr::kVendorDefined) return Kind::Number;
  const AttrInfo *info = attr_info(type);
  return info ? info->kind : Kind::Bytes;
}

std::vector<uint8_t> all_attributes_data(const Object &o) {
  std::vector<uint8_t> out;
  wire::BeWriter w(out);
  w.u32(0).u32(0).u32(0);
  uint32_t count = 0;
  for (const auto &[type, kept] : o.attrs) {
    if (kind_of(type) == Kind::Secret) continue;
    w.u32(type).u32(static_cast<uint32_t>(kept.size())).bytes(kept);
    ++count;
  }
  w.u32_at(4, count);
  w.u32_at(8, static_cast<uint32_t>(out.size() - 12));
  return out;
}

uint32_t attribute_value(const Object &o, uint32_t type, std::vector<uint8_t> &out) {
  Kind kind = kind_of(type);
  if (type == attr::kAccess) {
    out = read_form(Kind::Derived, kept_number(static_cast<uint32_t>(o.users.size() + 1)));
    return rc::kOk;
  }
  if (type == attr::kValue && o.key_class() == key_class::kSecret) {
    if (o.flag(attr::kSensitive) || !o.flag(attr::kExtractable)) return rc::kKeyUnextractable;
    out.assign(o.key.bytes().begin(), o.key.bytes().end());
    return rc::kOk;
  }
  if (kind == Kind::Secret)
    return o.key_class() == key_class::kPrivate ? rc::kKeyUnextractable : rc::kAttributeTypeInvalid;
  const auto *kept = o.get(type);
  if (!kept) return rc::kAttributeTypeInvalid;
  out = read_form(kind, *kept);
  return rc::kOk;
}

}  // namespace hsmsim::hsm::obj
