/* Attribute templates: the record layouts, the template builders, the
 * template checks and the attribute-file reader.
 *
 * A template is a run of attributes back to back, each a big-endian 32-bit
 * type, a big-endian 32-bit size and `size` value bytes; numbers travel as
 * decimal text. */
#ifndef QEL2_TEMPLATE_H
#define QEL2_TEMPLATE_H

#include <stdio.h>

#include "qel2_attributes.h"
#include "qel2_defs.h"

QEL2_EXTERN_C_BEGIN

#if defined(__GNUC__)
#define QEL2_PACKED __attribute__((packed))
#else
#define QEL2_PACKED
#endif

/* Key classes (PKCS#11 numbering). */
typedef Uint32 KeyClass;
#define OBJ_CLASS_DATA 0u
#define OBJ_CLASS_CERTIFICATE 1u
#define OBJ_CLASS_PUBLIC_KEY 2u
#define OBJ_CLASS_PRIVATE_KEY 3u
#define OBJ_CLASS_SECRET_KEY 4u
#define OBJ_CLASS_ANY 0xFFFFFFFFu

/* Key types (PKCS#11 numbering). */
typedef Uint32 KeyType;
#define KEY_TYPE_RSA 0u
#define KEY_TYPE_DSA 1u
#define KEY_TYPE_EC 3u
#define KEY_TYPE_GENERIC_SECRET 16u
#define KEY_TYPE_RC4 18u
#define KEY_TYPE_DES 19u
#define KEY_TYPE_DES3 21u
#define KEY_TYPE_AES 31u
#define KEY_TYPE_ANY 0xFFFFFFFFu

/* Where an object lives: the ucKeyLocation byte of the key calls
 * (qel2_keys.h, qel2_objects.h, qel2_wrap.h) and the value of OBJ_ATTR_TOKEN
 * in templates. A new key is a session or a token object; searches and
 * unwraps take STORAGE_LOCATION_ANY to leave the location open. */
typedef enum KeyLocation {
  STORAGE_RAM = 0,           /* session object */
  STORAGE_FLASH = 1,         /* token object */
  STORAGE_LOCATION_ANY = 255 /* not given */
} KeyLocation;

/* Template modes: the purpose of a template, passed as one byte. */
#define TEMPLATE_MODE_CREATE 2
#define TEMPLATE_MODE_KEY_GEN 4
#define TEMPLATE_MODE_SET_ATTRIBUTE 8
#define TEMPLATE_MODE_DERIVE 16
#define TEMPLATE_MODE_UNWRAP 32
#define TEMPLATE_MODE_FIND 64

/* Length bounds (bytes) of a secret key named in a nested template. */
#define GENERIC_SECRET_MIN_KEY_SIZE 1
#define GENERIC_SECRET_MAX_KEY_SIZE 800

/* One template attribute; the value (`size` bytes) follows the head.
 * Both fields are big-endian. Records lie at any byte offset. */
typedef struct QEL2_PACKED Attribute {
  Uint32 type;
  Uint32 size;
} Attribute;
QEL2_STATIC_ASSERT(sizeof(Attribute) == 8, "Attribute head is 8 bytes");

/* The 12-byte head in front of a template in requests and nested templates;
 * all fields big-endian. */
typedef struct QEL2_PACKED Object {
  Uint32 reserved;   /* 0 */
  Uint32 attr_count; /* attributes that follow */
  Uint32 obj_size;   /* template length + 12 */
} Object;
QEL2_STATIC_ASSERT(sizeof(Object) == 12, "Object head is 12 bytes");
QEL2_STATIC_ASSERT(offsetof(Object, obj_size) == 8, "obj_size at 8");

/* Optional extras of the extended key calls. */
typedef struct extendedTemplateArgs {
  Uint8 *pWrapTemplate;       /* Object head + attributes; none when null */
  Uint8 *pUnWrapTemplate;     /* same form */
  Uint32 ulWrapTemplateLen;   /* 0: none */
  Uint32 ulUnWrapTemplateLen; /* 0: none */
  Uint8 ucDerive;             /* 0 or 1: OBJ_ATTR_DERIVE in search templates; 2+: none */
  Uint32 ulEKCVLen;           /* 0: none */
  Uint8 *pEKCV;               /* OBJ_ATTR_EKCV in search templates */
} extendedTemplateArgs;

/* ---- builders: a 4096-byte heap buffer (release with free), or null ---- */

QEL2_EXPORT Uint8 *SetTemplate3(int dev_id, Uint8 mode, Uint32 ulKeyClass, Uint32 ulKeyType,
                                Uint8 ucKeyLocation, const Uint32 *pSessions,
                                Uint8 ucNumKeySessions, const Uint16 *pUsers, Uint8 ucNumKeyOwners,
                                Uint32 ulMValue, const Uint8 *pbID, Uint32 ulIDLen,
                                const Uint8 *pbLabel, Uint32 ulLabLen, const Uint8 *pKCV,
                                Uint32 ulKCVLen, Uint32 ulKeyLen, Uint32 ulModLenInBits,
                                const Uint8 *pModulus, Uint32 ulCrtLen, Uint32 ulPubExp,
                                Uint32 ulCurveId, Uint32 ulPrimeLenInBits, const Uint8 *pPrime,
                                Uint32 ulBaseLen, const Uint8 *pBase, Uint8 bExtractable,
                                const extendedTemplateArgs *extArgs, Uint32 *pulTemplateSz,
                                Uint32 *pulAtribCount);

QEL2_EXPORT Uint8 *SetTemplate2(int dev_id, Uint8 mode, Uint32 ulKeyClass, Uint32 ulKeyType,
                                Uint8 ucKeyLocation, const Uint32 *pSessions,
                                Uint8 ucNumKeySessions, const Uint16 *pUsers, Uint8 ucNumKeyOwners,
                                Uint32 ulMValue, const Uint8 *pbID, Uint32 ulIDLen,
                                const Uint8 *pbLabel, Uint32 ulLabLen, Uint32 ulKeyLen,
                                Uint32 ulModLenInBits, const Uint8 *pModulus, Uint32 ulCrtLen,
                                Uint32 ulPubExp, Uint32 ulCurveId, Uint32 ulPrimeLenInBits,
                                const Uint8 *pPrime, Uint32 ulBaseLen, const Uint8 *pBase,
                                Uint8 bExtractable, Uint32 *pulTemplateSz, Uint32 *pulAtribCount);

/* The older builder (no extractable flag, no extras; ucNumKeyOwners 255
 * writes no access attribute). */
QEL2_EXPORT Uint8 *SetTemplate(int dev_id, Uint8 mode, Uint32 ulKeyClass, Uint32 ulKeyType,
                               Uint8 ucKeyLocation, const Uint32 *pSessions, Uint8 ucNumKeySessions,
                               const Uint16 *pUsers, Uint8 ucNumKeyOwners, Uint32 ulMValue,
                               const Uint8 *pbID, Uint32 ulIDLen, const Uint8 *pbLabel,
                               Uint32 ulLabLen, const Uint8 *pKCV, Uint32 ulKCVLen, Uint32 ulKeyLen,
                               Uint32 ulModLenInBits, const Uint8 *pModulus, Uint32 ulCrtLen,
                               Uint32 ulPubExp, Uint32 ulCurveId, Uint32 ulPrimeLenInBits,
                               const Uint8 *pPrime, Uint32 ulBaseLen, const Uint8 *pBase,
                               Uint32 *pulTemplateSz, Uint32 *pulAtribCount);

/* Overwrites the start of the value of the first attribute of that number;
 * the attribute's size stays. */
QEL2_EXPORT int UpdateAttribute(Uint8 *pTemplate, Uint32 ulTemplateSize, Uint32 ulAttributeType,
                                const Uint8 *ucAttributeValue, Uint32 ucAttributeLen);

/* The first attribute of that number lying wholly within the template, or null. */
QEL2_EXPORT Attribute *get_attribute_template(Uint8 *pTemplate, Uint32 attr_type,
                                              Uint32 ulTemplateSize);

/* ---- checks of caller templates ---- */

QEL2_EXPORT Uint32 validateTemplateFromUser2(Uint32 ulTemplate_size, Uint8 *pTemplate,
                                             Uint32 *attr_cnt, Uint8 mode);
QEL2_EXPORT Uint32 validateTemplateFromUser(Uint32 ulTemplate_size, Uint8 *pTemplate,
                                            Uint32 ulKeyType, Uint32 *attr_cnt, Uint8 mode);
QEL2_EXPORT Uint32 validate_template_from_user_ext(Uint32 ulTemplate_size, Uint8 *pTemplate,
                                                   Uint32 *attr_cnt, Uint8 mode);
/* `attr` is trusted to hold its stated size. */
QEL2_EXPORT Uint32 template_validate_attribute(Attribute *attr, Uint32 ulKeyClass, Uint32 ulKeyType,
                                               Uint8 mode);
QEL2_EXPORT Uint32 validate_common_attribute(Attribute *attr, Uint8 mode);
/* `pObj` points at an Object head; its obj_size (at most 8192) bounds the walk;
 * null is ERR_INVALID_INPUT. */
QEL2_EXPORT Uint32 validate_wrap_unwrap_template(Uint32 attr_type, Uint8 *pObj);
QEL2_EXPORT Uint32 validate_setAttribute_template(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                                  Uint32 ulAttrID, Uint8 *pAttrBuf,
                                                  Uint32 ulBufLen);

/* ---- attribute files ---- */

typedef enum pub_exp_copy_fmt {
  PUB_EXP_NOT_SUPPORTED = 0,
  PUB_EXP_COPY_STRING_VALUE = 1, /* "%d\n" text */
  PUB_EXP_COPY_U32_VALUE = 2     /* 4 bytes big-endian */
} pub_exp_copy_fmt;

/* 0 on success with a 4096-byte template buffer in *attr (release with free);
 * 1 on any failure. */
QEL2_EXPORT uint8_t read_attr_file(char *file, uint8_t **attr, uint32_t *attr_len,
                                   uint32_t *attr_count, pub_exp_copy_fmt copy_fmt);

/* Value readers: read one value line from fp and write size and value at
 * attr, which lies *psize bytes into a 4096-byte template buffer. On success
 * they add 8 + the value size to *psize and return 0; else 1. */
QEL2_EXPORT Uint32 copy_str_value(FILE *fp, Attribute *attr, Uint32 *psize);
QEL2_EXPORT Uint32 copy_byte_value(FILE *fp, Attribute *attr, Uint32 *psize);
QEL2_EXPORT Uint32 copy_int_value(FILE *fp, Attribute *attr, Uint32 *psize);
QEL2_EXPORT Uint32 copy_pub_exp_value(FILE *fp, Attribute *attr, Uint32 *psize,
                                      pub_exp_copy_fmt copy_fmt);

QEL2_EXTERN_C_END

#endif
