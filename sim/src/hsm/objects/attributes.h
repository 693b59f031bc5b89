// Attribute numbers the object store knows, how each is kept, and the
// conversions between the forms a value takes: as templates carry it, as the
// store keeps it (the all-attribute form), and as a single-attribute read
// answers it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hsmsim::hsm::obj {

namespace attr {
inline constexpr uint32_t kClass = 0x0;
inline constexpr uint32_t kToken = 0x1;
inline constexpr uint32_t kPrivate = 0x2;
inline constexpr uint32_t kLabel = 0x3;
inline constexpr uint32_t kValue = 0x11;
inline constexpr uint32_t kTrusted = 0x86;
inline constexpr uint32_t kKeyType = 0x100;
inline constexpr uint32_t kId = 0x102;
inline constexpr uint32_t kSensitive = 0x103;
inline constexpr uint32_t kEncrypt = 0x104;
inline constexpr uint32_t kDecrypt = 0x105;
inline constexpr uint32_t kWrap = 0x106;
inline constexpr uint32_t kUnwrap = 0x107;
inline constexpr uint32_t kSign = 0x108;
inline constexpr uint32_t kSignRecover = 0x109;
inline constexpr uint32_t kVerify = 0x10A;
inline constexpr uint32_t kVerifyRecover = 0x10B;
inline constexpr uint32_t kDerive = 0x10C;
inline constexpr uint32_t kModulus = 0x120;
inline constexpr uint32_t kModulusBits = 0x121;  // EC keys: the curve (OpenSSL curve number)
inline constexpr uint32_t kPublicExponent = 0x122;
inline constexpr uint32_t kPrime = 0x130;
inline constexpr uint32_t kSubprime = 0x131;
inline constexpr uint32_t kBase = 0x132;
inline constexpr uint32_t kPrimeBits = 0x133;
inline constexpr uint32_t kValueLen = 0x161;
inline constexpr uint32_t kExtractable = 0x162;
inline constexpr uint32_t kLocal = 0x163;
inline constexpr uint32_t kNeverExtractable = 0x164;
inline constexpr uint32_t kAlwaysSensitive = 0x165;
inline constexpr uint32_t kModifiable = 0x170;
inline constexpr uint32_t kAccess = 0x171;
inline constexpr uint32_t kDestroyable = 0x172;
inline constexpr uint32_t kKcv = 0x173;
inline constexpr uint32_t kAll = 0x200;
inline constexpr uint32_t kWrapWithTrusted = 0x210;
inline constexpr uint32_t kEkcv = 0x1003;
inline constexpr uint32_t kWrapTemplate = 0x40000211;
inline constexpr uint32_t kUnwrapTemplate = 0x40000212;
inline constexpr uint32_t kVendorDefined = 0x80000000;  // sub-records; kept: the CRT length
}  // namespace attr

namespace key_class {
inline constexpr uint8_t kPublic = 2;
inline constexpr uint8_t kPrivate = 3;
inline constexpr uint8_t kSecret = 4;
}  // namespace key_class

namespace key_type {
inline constexpr uint8_t kRsa = 0;
inline constexpr uint8_t kDsa = 1;
inline constexpr uint8_t kEc = 3;
inline constexpr uint8_t kGenericSecret = 16;
inline constexpr uint8_t kRc4 = 18;
inline constexpr uint8_t kDes = 19;
inline constexpr uint8_t kDes3 = 21;
inline constexpr uint8_t kAes = 31;
}  // namespace key_type

// How a value is kept (and so how it is read back).
enum class Kind : uint8_t {
  Flag,      // kept as one byte 0 or 1; read as '0' or '1'
  Small,     // class, key type: kept as one byte; read as decimal text
  Number,    // kept as 32 bits big-endian; read as decimal text
  Bytes,     // kept and read as the bytes
  Exponent,  // bytes without leading zeros; templates may carry decimal text
  Nested,    // an Object head and its attributes, kept as given
  Secret,    // key material: never part of the all-attribute form
  Derived,   // computed from the object, never kept (OBJ_ATTR_ACCESS)
};

struct AttrInfo {
  uint32_t type;
  Kind kind;
  bool settable;  // may change after creation (further rules in the set handler)
};

// The table entry of a number, none for numbers the HSM does not know
// (OBJ_ATTR_ALL and vendor-defined are not in it).
const AttrInfo *attr_info(uint32_t type);

// A template value in the kept form; none when it is not a valid value of its kind.
// Numbers are decimal text with an optional newline or NUL after the digits;
// flags "1"/"0" with the same optional end, or one byte 1/0; exponents of a
// public-key template may be decimal text, otherwise big-endian bytes.
std::optional<std::vector<uint8_t>> parse_value(Kind kind, std::span<const uint8_t> value,
                                                bool text_exponent);
std::optional<uint32_t> parse_number(std::span<const uint8_t> value);

// The kept form as a single-attribute read answers it.
std::vector<uint8_t> read_form(Kind kind, std::span<const uint8_t> kept);

std::vector<uint8_t> kept_number(uint32_t v);
uint32_t kept_to_number(std::span<const uint8_t> kept);  // Flag, Small and Number forms
std::vector<uint8_t> strip_leading_zeros(std::span<const uint8_t> b);
std::string decimal(uint32_t v);

}  // namespace hsmsim::hsm::obj
