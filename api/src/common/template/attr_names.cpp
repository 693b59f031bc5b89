// Attribute numbers and their names.
#include "common/template/attr_names.h"

#include <cstdio>
#include <cstring>

#include "qel2_attributes.h"

namespace {

struct AttrName {
  uint32_t type;
  const char *name;
  bool by_name;  // accepted by attr_name_to_type
  int listed;    // position in Qel2ListAttributes, 0: not listed
};

#define ATTR_ROW(n, by_name, listed) \
  { n, #n, by_name, listed }

constexpr AttrName kAttrNames[] = {
    ATTR_ROW(OBJ_ATTR_CLASS, true, 1),
    ATTR_ROW(OBJ_ATTR_TOKEN, true, 2),
    ATTR_ROW(OBJ_ATTR_PRIVATE, true, 3),
    ATTR_ROW(OBJ_ATTR_LABEL, true, 4),
    ATTR_ROW(OBJ_ATTR_APPLICATION, false, 0),
    ATTR_ROW(OBJ_ATTR_VALUE, false, 0),
    ATTR_ROW(OBJ_ATTR_CERTIFICATE_TYPE, false, 0),
    ATTR_ROW(OBJ_ATTR_ISSUER, false, 0),
    ATTR_ROW(OBJ_ATTR_SERIAL_NUMBER, false, 0),
    ATTR_ROW(OBJ_ATTR_TRUSTED, true, 5),
    ATTR_ROW(OBJ_ATTR_KEY_TYPE, true, 6),
    ATTR_ROW(OBJ_ATTR_SUBJECT, false, 0),
    ATTR_ROW(OBJ_ATTR_ID, true, 7),
    ATTR_ROW(OBJ_ATTR_SENSITIVE, true, 8),
    ATTR_ROW(OBJ_ATTR_ENCRYPT, true, 9),
    ATTR_ROW(OBJ_ATTR_DECRYPT, true, 10),
    ATTR_ROW(OBJ_ATTR_WRAP, true, 11),
    ATTR_ROW(OBJ_ATTR_UNWRAP, true, 12),
    ATTR_ROW(OBJ_ATTR_SIGN, true, 13),
    ATTR_ROW(OBJ_ATTR_SIGN_RECOVER, false, 0),
    ATTR_ROW(OBJ_ATTR_VERIFY, true, 14),
    ATTR_ROW(OBJ_ATTR_VERIFY_RECOVER, false, 0),
    ATTR_ROW(OBJ_ATTR_DERIVE, true, 15),
    ATTR_ROW(OBJ_ATTR_START_DATE, false, 0),
    ATTR_ROW(OBJ_ATTR_END_DATE, false, 0),
    ATTR_ROW(OBJ_ATTR_MODULUS, true, 17),
    ATTR_ROW(OBJ_ATTR_MODULUS_BITS, true, 18),
    ATTR_ROW(OBJ_ATTR_PUBLIC_EXPONENT, true, 19),
    ATTR_ROW(OBJ_ATTR_PRIVATE_EXPONENT, false, 0),
    ATTR_ROW(OBJ_ATTR_PRIME_1, false, 0),
    ATTR_ROW(OBJ_ATTR_PRIME_2, false, 0),
    ATTR_ROW(OBJ_ATTR_EXPONENT_1, false, 0),
    ATTR_ROW(OBJ_ATTR_EXPONENT_2, false, 0),
    ATTR_ROW(OBJ_ATTR_COEFFICIENT, false, 0),
    ATTR_ROW(OBJ_ATTR_PRIME, true, 0),
    ATTR_ROW(OBJ_ATTR_SUBPRIME, false, 0),
    ATTR_ROW(OBJ_ATTR_BASE, true, 0),
    ATTR_ROW(OBJ_ATTR_PRIME_BITS, true, 0),
    ATTR_ROW(OBJ_ATTR_VALUE_BITS, false, 0),
    ATTR_ROW(OBJ_ATTR_VALUE_LEN, true, 20),
    ATTR_ROW(OBJ_ATTR_EXTRACTABLE, true, 21),
    ATTR_ROW(OBJ_ATTR_LOCAL, true, 16),
    ATTR_ROW(OBJ_ATTR_NEVER_EXTRACTABLE, true, 22),
    ATTR_ROW(OBJ_ATTR_ALWAYS_SENSITIVE, true, 23),
    ATTR_ROW(OBJ_ATTR_MODIFIABLE, true, 0),
    ATTR_ROW(OBJ_ATTR_ACCESS, true, 0),
    ATTR_ROW(OBJ_ATTR_DESTROYABLE, true, 24),
    ATTR_ROW(OBJ_ATTR_KCV, true, 25),
    ATTR_ROW(OBJ_ATTR_ALL, true, 30),
    ATTR_ROW(OBJ_ATTR_WRAP_WITH_TRUSTED, true, 26),
    ATTR_ROW(OBJ_ATTR_EKCV, true, 27),
    ATTR_ROW(OBJ_ATTR_WRAP_TEMPLATE, true, 28),
    ATTR_ROW(OBJ_ATTR_UNWRAP_TEMPLATE, true, 29),
    ATTR_ROW(OBJ_ATTR_VENDOR_DEFINED, true, 0),
};

#undef ATTR_ROW

constexpr int kListedCount = 30;

}  // namespace

namespace qel2::tmpl {

const char *attr_name(uint32_t type) {
  for (const AttrName &a : kAttrNames)
    if (a.type == type) return a.name;
  return nullptr;
}

}  // namespace qel2::tmpl

extern "C" {

QEL2_EXPORT uint8_t *attr_type_to_name(int type) {
  const uint32_t number = static_cast<uint32_t>(type);
  const char *name = qel2::tmpl::attr_name(number);
  if (!name) {
    printf("0x%04x\n", number);
    name = "INVALID_ATTRIBUTE";
  }
  // Static text handed out through the historical non-const type.
  return reinterpret_cast<uint8_t *>(const_cast<char *>(name));
}

QEL2_EXPORT uint32_t attr_name_to_type(char *buf) {
  if (buf) {
    for (const AttrName &a : kAttrNames)
      if (a.by_name && std::strcmp(a.name, buf) == 0) return a.type;
  }
  return OBJ_ATTR_NAME_UNKNOWN;
}

QEL2_EXPORT void Qel2ListAttributes(void) {
  printf("\n");
  for (int pos = 1; pos <= kListedCount; ++pos) {
    for (const AttrName &a : kAttrNames) {
      if (a.listed == pos) printf("\n      %-32s= %d", a.name, static_cast<int>(a.type));
    }
  }
  printf("\n");
}

}  // extern "C"
