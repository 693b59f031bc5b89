/* Object attribute numbers, their OBJ_ATTR_ names and the conversions between
 * name and number. */
#ifndef QEL2_ATTRIBUTES_H
#define QEL2_ATTRIBUTES_H

#include "qel2_defs.h"

QEL2_EXTERN_C_BEGIN

/* ObjectAttribute: a 32-bit attribute number (PKCS#11 numbering for the
 * standard ones). Plain constants: some numbers do not fit a C enum. */
typedef Uint32 ObjectAttribute;

#define OBJ_ATTR_CLASS 0x0u
#define OBJ_ATTR_TOKEN 0x1u
#define OBJ_ATTR_PRIVATE 0x2u
#define OBJ_ATTR_LABEL 0x3u
#define OBJ_ATTR_APPLICATION 0x10u
#define OBJ_ATTR_VALUE 0x11u
#define OBJ_ATTR_CERTIFICATE_TYPE 0x80u
#define OBJ_ATTR_ISSUER 0x81u
#define OBJ_ATTR_SERIAL_NUMBER 0x82u
#define OBJ_ATTR_TRUSTED 0x86u
#define OBJ_ATTR_KEY_TYPE 0x100u
#define OBJ_ATTR_SUBJECT 0x101u
#define OBJ_ATTR_ID 0x102u
#define OBJ_ATTR_SENSITIVE 0x103u
#define OBJ_ATTR_ENCRYPT 0x104u
#define OBJ_ATTR_DECRYPT 0x105u
#define OBJ_ATTR_WRAP 0x106u
#define OBJ_ATTR_UNWRAP 0x107u
#define OBJ_ATTR_SIGN 0x108u
#define OBJ_ATTR_SIGN_RECOVER 0x109u
#define OBJ_ATTR_VERIFY 0x10Au
#define OBJ_ATTR_VERIFY_RECOVER 0x10Bu
#define OBJ_ATTR_DERIVE 0x10Cu
#define OBJ_ATTR_START_DATE 0x110u
#define OBJ_ATTR_END_DATE 0x111u
#define OBJ_ATTR_MODULUS 0x120u
#define OBJ_ATTR_MODULUS_BITS 0x121u
#define OBJ_ATTR_PUBLIC_EXPONENT 0x122u
#define OBJ_ATTR_PRIVATE_EXPONENT 0x123u
#define OBJ_ATTR_PRIME_1 0x124u
#define OBJ_ATTR_PRIME_2 0x125u
#define OBJ_ATTR_EXPONENT_1 0x126u
#define OBJ_ATTR_EXPONENT_2 0x127u
#define OBJ_ATTR_COEFFICIENT 0x128u
#define OBJ_ATTR_PRIME 0x130u
#define OBJ_ATTR_SUBPRIME 0x131u
#define OBJ_ATTR_BASE 0x132u
#define OBJ_ATTR_PRIME_BITS 0x133u
#define OBJ_ATTR_VALUE_BITS 0x160u
#define OBJ_ATTR_VALUE_LEN 0x161u
#define OBJ_ATTR_EXTRACTABLE 0x162u
#define OBJ_ATTR_LOCAL 0x163u
#define OBJ_ATTR_NEVER_EXTRACTABLE 0x164u
#define OBJ_ATTR_ALWAYS_SENSITIVE 0x165u
#define OBJ_ATTR_MODIFIABLE 0x170u
#define OBJ_ATTR_ACCESS 0x171u /* users sharing the object, plus one, as decimal text */
#define OBJ_ATTR_DESTROYABLE 0x172u
#define OBJ_ATTR_KCV 0x173u /* key check value bytes */
#define OBJ_ATTR_ALL 0x200u
#define OBJ_ATTR_WRAP_WITH_TRUSTED 0x210u
#define OBJ_ATTR_EKCV 0x1003u /* extended key check value bytes */
#define OBJ_ATTR_WRAP_TEMPLATE 0x40000211u
#define OBJ_ATTR_UNWRAP_TEMPLATE 0x40000212u
#define OBJ_ATTR_VENDOR_DEFINED 0x80000000u

/* The attribute numbers the Java bridge and the wrapper calls name. */
typedef enum AttrType {
  ATTR_CLASS = 0,
  ATTR_TOKEN = 1,
  ATTR_PRIVATE = 2,
  ATTR_LABEL = 3,
  ATTR_KEY_TYPE = 256,
  ATTR_ENCRYPT = 260,
  ATTR_DECRYPT = 261,
  ATTR_WRAP = 262,
  ATTR_UNWRAP = 263,
  ATTR_SIGN = 264,
  ATTR_VERIFY = 266,
  ATTR_MODULUS = 288,
  ATTR_MODULUS_BITS = 289,
  ATTR_PUBLIC_EXPONENT = 290,
  ATTR_VALUE_LEN = 353,
  ATTR_EXTRACTABLE = 354,
  ATTR_CKA_LOCAL = 355,
  ATTR_ALL = 512
} AttrType;

/* What attr_name_to_type gives for a name it does not accept. */
#define OBJ_ATTR_NAME_UNKNOWN 0x11111111u

/* The constant name of an attribute number; "INVALID_ATTRIBUTE" (after
 * printing the number) for any other number. */
QEL2_EXPORT uint8_t *attr_type_to_name(int type);

/* The number of a name (exact, case-sensitive); OBJ_ATTR_NAME_UNKNOWN when
 * the name is not one the conversion accepts. */
QEL2_EXPORT uint32_t attr_name_to_type(char *buf);

/* Prints the listed attribute names and numbers. */
QEL2_EXPORT void Qel2ListAttributes(void);

QEL2_EXTERN_C_END

#endif
