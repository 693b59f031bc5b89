#include "hsm/objects/attributes.h"

#include <algorithm>
#include <array>

namespace hsmsim::hsm::obj {

namespace {

using K = Kind;

// Every attribute number of the HSM, with the form it is kept in and
// whether it may change after creation.
constexpr std::array kAttrTable{
    AttrInfo{attr::kClass, K::Small, false},
    AttrInfo{attr::kToken, K::Flag, true},
    AttrInfo{attr::kPrivate, K::Flag, false},
    AttrInfo{attr::kLabel, K::Bytes, true},
    AttrInfo{0x10, K::Bytes, true},  // application
    AttrInfo{attr::kValue, K::Secret, false},
    AttrInfo{0x80, K::Number, false},  // certificate type
    AttrInfo{0x81, K::Bytes, true},    // issuer
    AttrInfo{0x82, K::Bytes, true},    // serial number
    AttrInfo{attr::kTrusted, K::Flag, true},
    AttrInfo{attr::kKeyType, K::Small, false},
    AttrInfo{0x101, K::Bytes, true},  // subject
    AttrInfo{attr::kId, K::Bytes, true},
    AttrInfo{attr::kSensitive, K::Flag, true},
    AttrInfo{attr::kEncrypt, K::Flag, true},
    AttrInfo{attr::kDecrypt, K::Flag, true},
    AttrInfo{attr::kWrap, K::Flag, true},
    AttrInfo{attr::kUnwrap, K::Flag, true},
    AttrInfo{attr::kSign, K::Flag, true},
    AttrInfo{attr::kSignRecover, K::Flag, true},
    AttrInfo{attr::kVerify, K::Flag, true},
    AttrInfo{attr::kVerifyRecover, K::Flag, true},
    AttrInfo{attr::kDerive, K::Flag, true},
    AttrInfo{0x110, K::Bytes, true},  // start date
    AttrInfo{0x111, K::Bytes, true},  // end date
    AttrInfo{attr::kModulus, K::Bytes, false},
    AttrInfo{attr::kModulusBits, K::Number, false},
    AttrInfo{attr::kPublicExponent, K::Exponent, false},
    AttrInfo{0x123, K::Secret, false},  // private exponent
    AttrInfo{0x124, K::Secret, false},  // prime 1
    AttrInfo{0x125, K::Secret, false},  // prime 2
    AttrInfo{0x126, K::Secret, false},  // exponent 1
    AttrInfo{0x127, K::Secret, false},  // exponent 2
    AttrInfo{0x128, K::Secret, false},  // coefficient
    AttrInfo{attr::kPrime, K::Bytes, false},
    AttrInfo{attr::kSubprime, K::Bytes, false},
    AttrInfo{attr::kBase, K::Bytes, false},
    AttrInfo{attr::kPrimeBits, K::Number, false},
    AttrInfo{0x160, K::Number, false},  // value bits
    AttrInfo{attr::kValueLen, K::Number, false},
    AttrInfo{attr::kExtractable, K::Flag, true},
    AttrInfo{attr::kLocal, K::Flag, false},
    AttrInfo{attr::kNeverExtractable, K::Flag, false},
    AttrInfo{attr::kAlwaysSensitive, K::Flag, false},
    AttrInfo{attr::kModifiable, K::Flag, false},
    AttrInfo{attr::kAccess, K::Derived, false},
    AttrInfo{attr::kDestroyable, K::Flag, true},
    AttrInfo{attr::kKcv, K::Bytes, false},
    AttrInfo{attr::kWrapWithTrusted, K::Flag, true},
    AttrInfo{attr::kEkcv, K::Bytes, false},
    AttrInfo{attr::kWrapTemplate, K::Nested, true},
    AttrInfo{attr::kUnwrapTemplate, K::Nested, true},
};

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// Digits, then at most one newline or NUL.
std::optional<std::span<const uint8_t>> decimal_digits(std::span<const uint8_t> v) {
  if (!v.empty() && (v.back() == '\n' || v.back() == 0)) v = v.first(v.size() - 1);
  if (v.empty() || !std::all_of(v.begin(), v.end(), is_digit)) return std::nullopt;
  return v;
}

}  // namespace

const AttrInfo *attr_info(uint32_t type) {
  for (const auto &a : kAttrTable)
    if (a.type == type) return &a;
  return nullptr;
}

std::optional<uint32_t> parse_number(std::span<const uint8_t> value) {
  auto digits = decimal_digits(value);
  if (!digits) return std::nullopt;
  uint64_t v = 0;
  for (uint8_t c : *digits) {
    v = v * 10 + (c - '0');
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

std::vector<uint8_t> kept_number(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

uint32_t kept_to_number(std::span<const uint8_t> kept) {
  uint32_t v = 0;
  for (size_t i = 0; i < kept.size() && i < 4; ++i) v = (v << 8) | kept[i];
  return v;
}

std::vector<uint8_t> strip_leading_zeros(std::span<const uint8_t> b) {
  size_t i = 0;
  while (i + 1 < b.size() && b[i] == 0) ++i;
  return {b.begin() + static_cast<std::ptrdiff_t>(i), b.end()};
}

std::string decimal(uint32_t v) { return std::to_string(v); }

std::optional<std::vector<uint8_t>> parse_value(Kind kind, std::span<const uint8_t> value,
                                                bool text_exponent) {
  switch (kind) {
    case Kind::Flag: {
      if (value.size() == 1 && value[0] <= 1) return std::vector<uint8_t>{value[0]};
      auto d = decimal_digits(value);
      if (!d || d->size() != 1 || (*d)[0] > '1') return std::nullopt;
      return std::vector<uint8_t>{static_cast<uint8_t>((*d)[0] - '0')};
    }
    case Kind::Small: {
      auto n = parse_number(value);
      if (!n || *n > 0xFF) return std::nullopt;
      return std::vector<uint8_t>{static_cast<uint8_t>(*n)};
    }
    case Kind::Number: {
      auto n = parse_number(value);
      if (!n) return std::nullopt;
      return kept_number(*n);
    }
    case Kind::Exponent: {
      if (value.empty()) return std::nullopt;
      if (text_exponent && decimal_digits(value)) {
        auto n = parse_number(value);
        if (!n || *n == 0) return std::nullopt;
        return strip_leading_zeros(kept_number(*n));
      }
      auto b = strip_leading_zeros(value);
      if (b.size() == 1 && b[0] == 0) return std::nullopt;
      return b;
    }
    case Kind::Bytes:
    case Kind::Nested:
    case Kind::Secret:
      return std::vector<uint8_t>(value.begin(), value.end());
    case Kind::Derived:
      return std::nullopt;
  }
  return std::nullopt;
}

std::vector<uint8_t> read_form(Kind kind, std::span<const uint8_t> kept) {
  switch (kind) {
    case Kind::Flag:
      return {static_cast<uint8_t>(!kept.empty() && kept[0] ? '1' : '0')};
    case Kind::Small:
    case Kind::Number:
    case Kind::Derived: {
      std::string s = decimal(kept_to_number(kept));
      return {s.begin(), s.end()};
    }
    default:
      return {kept.begin(), kept.end()};
  }
}

}  // namespace hsmsim::hsm::obj
