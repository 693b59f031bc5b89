#include "hsm/objects/template.h"

#include <cstring>

#include "hsm/objects/codes.h"
#include "wire/be_codec.h"

namespace hsmsim::hsm::obj {

namespace {

struct RawAttr {
  uint32_t type;
  std::span<const uint8_t> value;
};

// The attributes of `bytes`, none when a header or value runs past the end.
std::optional<std::vector<RawAttr>> walk(std::span<const uint8_t> bytes) {
  std::vector<RawAttr> out;
  wire::BeReader r(bytes);
  while (r.remaining() > 0) {
    uint32_t type = r.u32();
    uint32_t size = r.u32();
    if (!r.ok() || !r.has(size)) return std::nullopt;
    out.push_back({type, r.bytes(size)});
  }
  return out;
}

bool starts_with(std::span<const uint8_t> v, const char *prefix, size_t n) {
  return v.size() >= n && std::memcmp(v.data(), prefix, n) == 0;
}

bool zeros(std::span<const uint8_t> v) {
  for (uint8_t b : v)
    if (b) return false;
  return true;
}

// "sessns:", a zero byte, the count, then that many 32-bit handles.
uint32_t read_sessions(std::span<const uint8_t> v, ParsedTemplate &t) {
  if (v.size() < 9 || v[7] != 0 || v.size() != 9u + 4u * v[8]) return rc::kInvalidInput;
  wire::BeReader r(v.subspan(9));
  std::vector<uint32_t> s;
  for (uint8_t i = 0; i < v[8]; ++i) s.push_back(r.u32() & 0x3FFFFFFF);
  t.sessions = std::move(s);
  return 0;
}

// "users:", two zero bytes, then 16-bit user ids up to the end.
uint32_t read_users(std::span<const uint8_t> v, ParsedTemplate &t) {
  if (v.size() < 8 || !zeros(v.subspan(6, 2)) || (v.size() - 8) % 2) return rc::kInvalidInput;
  wire::BeReader r(v.subspan(8));
  std::vector<uint16_t> u;
  while (r.remaining() >= 2) u.push_back(r.u16());
  t.users = std::move(u);
  return 0;
}

uint32_t read_m_value(std::span<const uint8_t> v, ParsedTemplate &t) {
  if (v.size() != 12) return rc::kInvalidInput;
  wire::BeReader r(v.subspan(8));
  t.m_value = r.u32();
  return 0;
}

uint32_t read_vendor(std::span<const uint8_t> v, Purpose purpose, ParsedTemplate &t) {
  auto once = [&](bool present) { return present && purpose == Purpose::Create; };
  if (starts_with(v, "sessns:", 7)) {
    if (once(t.sessions.has_value())) return rc::kTemplateInconsistent;
    return read_sessions(v, t);
  }
  if (starts_with(v, "users:", 6)) {
    if (once(t.users.has_value())) return rc::kTemplateInconsistent;
    return read_users(v, t);
  }
  if (starts_with(v, "m_value:", 8)) {
    if (once(t.m_value.has_value())) return rc::kTemplateInconsistent;
    return read_m_value(v, t);
  }
  // Anything else is the length of a CRT private key, as decimal text.
  auto n = parse_number(v);
  if (!n) return rc::kAttributeValueInvalid;
  if (once(t.find(attr::kVendorDefined) != nullptr)) return rc::kTemplateInconsistent;
  t.attrs.push_back({attr::kVendorDefined, Kind::Number, kept_number(*n)});
  return 0;
}

// A public exponent may be decimal text unless the template is for a key of
// another class than public (private-key templates carry big-endian bytes).
bool text_exponent(const std::vector<RawAttr> &raw) {
  for (const auto &a : raw)
    if (a.type == attr::kClass) {
      auto c = parse_number(a.value);
      return c && *c == key_class::kPublic;
    }
  return true;
}

uint32_t read_attr(const RawAttr &a, Purpose purpose, bool text_exp, ParsedTemplate &t) {
  if (a.type == attr::kVendorDefined) return read_vendor(a.value, purpose, t);
  const AttrInfo *info = attr_info(a.type);
  if (!info) return rc::kAttributeTypeInvalid;
  if (info->kind == Kind::Derived) {  // OBJ_ATTR_ACCESS: users + 1, computed by the HSM
    return parse_number(a.value) ? 0 : rc::kAttributeValueInvalid;
  }
  if (info->kind == Kind::Nested) {
    if (uint32_t rc = check_object(a.value)) return rc;
  }
  auto kept = parse_value(info->kind, a.value, text_exp);
  if (!kept) return rc::kAttributeValueInvalid;
  if (purpose == Purpose::Create && t.find(a.type)) return rc::kTemplateInconsistent;
  t.attrs.push_back({a.type, info->kind, std::move(*kept)});
  return 0;
}

uint32_t parse_attrs(std::span<const uint8_t> bytes, Purpose purpose, bool nested,
                     ParsedTemplate &out) {
  auto raw = walk(bytes);
  if (!raw) return rc::kInvalidInput;
  ParsedTemplate t;
  bool text_exp = text_exponent(*raw);
  for (const auto &a : *raw) {
    const AttrInfo *info = attr_info(a.type);
    if (nested && info && info->kind == Kind::Nested) return rc::kTemplateInconsistent;
    if (uint32_t rc = read_attr(a, purpose, text_exp, t)) return rc;
  }
  t.count = static_cast<uint32_t>(raw->size());
  out = std::move(t);
  return 0;
}

}  // namespace

const TemplateAttr *ParsedTemplate::find(uint32_t type) const {
  for (const auto &a : attrs)
    if (a.type == type) return &a;
  return nullptr;
}

std::optional<uint32_t> ParsedTemplate::number(uint32_t type) const {
  const TemplateAttr *a = find(type);
  if (!a || !(a->kind == Kind::Flag || a->kind == Kind::Small || a->kind == Kind::Number))
    return std::nullopt;
  return kept_to_number(a->kept);
}

uint32_t parse_template(std::span<const uint8_t> bytes, Purpose purpose, ParsedTemplate &out) {
  return parse_attrs(bytes, purpose, false, out);
}

uint32_t check_object(std::span<const uint8_t> bytes) {
  wire::BeReader r(bytes);
  r.u32();
  uint32_t count = r.u32();
  uint32_t size = r.u32();
  if (!r.ok()) return rc::kInvalidInput;
  uint64_t body = bytes.size() - 12;
  if (size != body + 12 && size != body) return rc::kInvalidInput;
  ParsedTemplate inner;
  if (uint32_t rc = parse_attrs(bytes.subspan(12), Purpose::Create, true, inner)) return rc;
  return inner.count == count ? 0 : rc::kInvalidInput;
}

}  // namespace hsmsim::hsm::obj
