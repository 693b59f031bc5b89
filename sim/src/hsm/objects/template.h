// The HSM's reading of an attribute template: attributes back to back, each
// a big-endian type and size and the value; numbers as decimal text (with or
// without a newline), flags in their text or byte forms, the vendor-defined
// sub-records (sessions, users, M value, CRT length) and nested templates.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hsm/objects/attributes.h"

namespace hsmsim::hsm::obj {

struct TemplateAttr {
  uint32_t type = 0;
  Kind kind = Kind::Bytes;
  std::vector<uint8_t> kept;  // the value in the kept form
};

struct ParsedTemplate {
  std::vector<TemplateAttr> attrs;  // template order; the CRT length as attr::kVendorDefined
  std::optional<std::vector<uint32_t>> sessions;
  std::optional<std::vector<uint16_t>> users;
  std::optional<uint32_t> m_value;
  uint32_t count = 0;  // attributes walked, sub-records and OBJ_ATTR_ACCESS included

  const TemplateAttr *find(uint32_t type) const;
  std::optional<uint32_t> number(uint32_t type) const;  // Flag, Small and Number attributes
};

enum class Purpose {
  Create,  // an object is made from it: no attribute twice
  Find,    // a search: repeats allowed
};

// 0 and the parsed template, or the HSM's code: RET_INVALID_INPUT for a
// template that does not hold together, RET_ATTRIBUTE_TYPE_INVALID for an
// unknown attribute number, RET_ATTRIBUTE_VALUE_INVALID for a value that is
// not of its attribute's form, RET_TEMPLATE_INCONSISTENT for a repeat.
uint32_t parse_template(std::span<const uint8_t> bytes, Purpose purpose, ParsedTemplate &out);

// An Object head and the template after it (nested templates, object data):
// 0 when the head's count and size agree with `bytes`. The size may count
// the head (requests) or not (the HSM's own object data).
uint32_t check_object(std::span<const uint8_t> bytes);

}  // namespace hsmsim::hsm::obj
