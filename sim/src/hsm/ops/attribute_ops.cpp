// Reading one attribute (as text for numbers and flags), all attributes
// (the kept binary form behind an Object head), optionally attested, and
// changing one attribute.
#include "hsm/objects/create.h"
#include "hsm/objects/template.h"
#include "hsm/ops/object_common.h"

namespace hsmsim::hsm::objop {

namespace {

namespace rc = obj::rc;
namespace attr = obj::attr;
using obj::Object;

// The value, or its length alone when the request has no room for it
// (RET_RESULT_SIZE; a request without a value segment asks for the size).
void answer_value(Call &c, std::vector<uint8_t> value) {
  auto len = static_cast<uint32_t>(value.size());
  bool fits = len <= room(c, 1);
  const uint32_t field[] = {len};
  c.respond(record(fits ? rc::kOk : rc::kResultSize, len, fits ? len : 0, field));
  if (fits && len) c.out.segment(1) = std::move(value);
}

// Session header (common flags: get_new_attrs, get_nd_attrs), a reserved
// word, the handle and, for one attribute, its number.
void read_attribute(HsmState &st, Call &c, bool all) {
  auto r = c.reader();
  Head head = read_head(st, r);
  r.u32();
  uint64_t handle = r.u64();
  uint32_t type = all ? 0 : r.u32();
  if (!head.code && !r.ok()) head.code = rc::kInvalidInput;
  if (head.code) return c.fail(head.code);
  Object *o = nullptr;
  if (uint32_t code = obj::object_for(st, head.actor, handle, obj::Right::Use, o))
    return c.fail(code);
  if (all) return answer_value(c, obj::all_attributes_data(*o));
  std::vector<uint8_t> value;
  if (uint32_t code = obj::attribute_value(*o, type, value)) return c.fail(code);
  answer_value(c, std::move(value));
}

void get_attribute(HsmState &st, Call &c) {
  read_attribute(st, c, false);
  attest(st, c);
}

void get_all_attributes(HsmState &st, Call &c) {
  read_attribute(st, c, true);
  attest(st, c);
}

// One-way changes: a session object may become a token object, a key may
// become sensitive or unextractable, never back.
uint32_t check_change(const Object &o, uint32_t type, uint8_t now) {
  bool before = o.flag(type);
  if (type == attr::kToken && before && !now) return rc::kAttributeReadOnly;
  if (type == attr::kSensitive && before && !now) return rc::kAttributeReadOnly;
  if (type == attr::kExtractable && !before && now) return rc::kAttributeReadOnly;
  if (now && !obj::usage_allowed(o.key_class(), type)) return rc::kTemplateInconsistent;
  return rc::kOk;
}

uint32_t set_value(Object &o, uint32_t type, std::span<const uint8_t> value) {
  const obj::AttrInfo *info = obj::attr_info(type);
  if (!info)
    return type == attr::kVendorDefined ? rc::kAttributeReadOnly : rc::kAttributeTypeInvalid;
  if (!info->settable || !o.flag(attr::kModifiable)) return rc::kAttributeReadOnly;
  if (info->kind == obj::Kind::Nested)
    if (uint32_t code = obj::check_object(value)) return code;
  auto kept = obj::parse_value(info->kind, value, false);
  if (!kept) return rc::kAttributeValueInvalid;
  if (info->kind == obj::Kind::Flag)
    if (uint32_t code = check_change(o, type, (*kept)[0])) return code;
  if (type == attr::kToken && (*kept)[0]) o.session = 0;
  o.attrs[type] = std::move(*kept);
  return rc::kOk;
}

// Session header, a reserved word, the handle, then an attribute: type,
// size and the value.
void set_attribute(HsmState &st, Call &c) {
  auto r = c.reader();
  Head head = read_head(st, r);
  r.u32();
  uint64_t handle = r.u64();
  uint32_t type = r.u32();
  uint32_t size = r.u32();
  if (!head.code && (!r.ok() || !r.has(size))) head.code = rc::kInvalidInput;
  if (head.code) return c.fail(head.code);
  auto value = r.bytes(size);
  Object *o = nullptr;
  if (uint32_t code = obj::object_for(st, head.actor, handle, obj::Right::Manage, o))
    return c.fail(code);
  if (uint32_t code = set_value(*o, type, value)) return c.fail(code);
  c.ok();
}

}  // namespace

void add_attribute_ops(HandlerTable &t) {
  t.add(kMgmtCommand, kGetAttributeValue, get_attribute);
  t.add(kMgmtCommand, kGetAttributeSize, get_attribute);
  t.add(kMgmtCommand, kGetAllAttributeValue, get_all_attributes);
  t.add(kMgmtCommand, kGetAllAttributeSize, get_all_attributes);
  t.add(kMgmtCommand, kModifyObject, set_attribute);
}

}  // namespace hsmsim::hsm::objop
