// Checks of templates that callers hand in: repeats, key class, wrap flags,
// and the per-class value rules for values the HSM does not support.
#include <bitset>
#include <cstdio>

#include "common/be_codec.h"
#include "common/template/attr_walk.h"
#include "common/template/validate.h"
#include "qel2_errors.h"
#include "qel2_template.h"

namespace qel2::tmpl {
namespace {

// Attributes the repeat check knows; each has its own seen-flag.
constexpr uint32_t kRecognised[] = {
    OBJ_ATTR_CLASS,
    OBJ_ATTR_TOKEN,
    OBJ_ATTR_PRIVATE,
    OBJ_ATTR_LABEL,
    OBJ_ATTR_TRUSTED,
    OBJ_ATTR_KEY_TYPE,
    OBJ_ATTR_SENSITIVE,
    OBJ_ATTR_ID,
    OBJ_ATTR_ENCRYPT,
    OBJ_ATTR_DECRYPT,
    OBJ_ATTR_WRAP,
    OBJ_ATTR_UNWRAP,
    OBJ_ATTR_SIGN,
    OBJ_ATTR_VERIFY,
    OBJ_ATTR_DERIVE,
    OBJ_ATTR_LOCAL,
    OBJ_ATTR_MODULUS,
    OBJ_ATTR_MODULUS_BITS,
    OBJ_ATTR_PUBLIC_EXPONENT,
    OBJ_ATTR_VALUE_LEN,
    OBJ_ATTR_EXTRACTABLE,
    OBJ_ATTR_NEVER_EXTRACTABLE,
    OBJ_ATTR_ALWAYS_SENSITIVE,
    OBJ_ATTR_MODIFIABLE,
    OBJ_ATTR_ACCESS,
    OBJ_ATTR_DESTROYABLE,
    OBJ_ATTR_KCV,
    OBJ_ATTR_WRAP_WITH_TRUSTED,
    OBJ_ATTR_WRAP_TEMPLATE,
    OBJ_ATTR_UNWRAP_TEMPLATE,
};
constexpr size_t kRecognisedCount = sizeof kRecognised / sizeof kRecognised[0];

// Vendor-defined sub-records, told apart by the start of the value.
enum VendorKind : size_t { kVdUsers, kVdSessions, kVdMValue, kVdCrtSize, kVendorKinds };

using SeenFlags = std::bitset<kRecognisedCount + kVendorKinds>;

VendorKind vendor_kind(const AttrView &a) {
  if (starts_with(a.value, a.size, "users:", 6)) return kVdUsers;
  if (starts_with(a.value, a.size, "sessns:", 7)) return kVdSessions;
  if (starts_with(a.value, a.size, "m_value:", 8)) return kVdMValue;
  return kVdCrtSize;
}

// The seen-flag of an attribute, or -1 for numbers the check does not know.
int seen_flag(const AttrView &a) {
  if (a.type == OBJ_ATTR_VENDOR_DEFINED) return static_cast<int>(kRecognisedCount + vendor_kind(a));
  for (size_t i = 0; i < kRecognisedCount; ++i)
    if (kRecognised[i] == a.type) return static_cast<int>(i);
  return -1;
}

const char *name_of(uint32_t type) {
  return reinterpret_cast<const char *>(attr_type_to_name(static_cast<int>(type)));
}

// What the whole-template rules need from the first walk.
struct TemplateFacts {
  uint32_t key_class = 0;
  uint32_t key_type = 0;
  bool has_wrap = false;
  bool has_unwrap = false;
  int64_t wrap = 0;
  int64_t unwrap = 0;
  bool has_wrap_template = false;
  bool has_unwrap_template = false;

  void note(const AttrView &a) {
    switch (a.type) {
      case OBJ_ATTR_CLASS:
        key_class = static_cast<uint32_t>(read_decimal_i32(a));
        break;
      case OBJ_ATTR_KEY_TYPE:
        key_type = static_cast<uint32_t>(read_decimal_i32(a));
        break;
      case OBJ_ATTR_WRAP:
        has_wrap = true;
        wrap = read_decimal(a);
        break;
      case OBJ_ATTR_UNWRAP:
        has_unwrap = true;
        unwrap = read_decimal(a);
        break;
      case OBJ_ATTR_WRAP_TEMPLATE:
        has_wrap_template = true;
        break;
      case OBJ_ATTR_UNWRAP_TEMPLATE:
        has_unwrap_template = true;
        break;
      default:
        break;
    }
  }
};

Uint32 report_repeat(const AttrView &a) {
  if (a.type == OBJ_ATTR_VENDOR_DEFINED) {
    const size_t n = bounded_strlen(a.value, a.size);
    printf("\n\t%s has duplicate %.*s\n", "OBJ_ATTR_VENDOR_DEFINED", static_cast<int>(n),
           reinterpret_cast<const char *>(a.value));
  }
  printf("\n\t%s repeated in the template\n", name_of(a.type));
  return RET_INVALID_INPUT;
}

// First walk: repeats, the facts, and the attribute count.
Uint32 scan_template(const uint8_t *tmpl, size_t size, TemplateFacts *facts, uint32_t *count) {
  SeenFlags seen;
  AttrWalker w(tmpl, size);
  AttrView a;
  while (w.next(&a)) {
    const int flag = seen_flag(a);
    if (flag < 0) {
      printf("\n\tPlease add %s in this list\n", name_of(a.type));
      continue;
    }
    if (seen.test(static_cast<size_t>(flag))) return report_repeat(a);
    seen.set(static_cast<size_t>(flag));
    facts->note(a);
  }
  if (w.malformed()) {
    printf("\n\tAttribute at offset %zu runs past the end of the template\n", w.offset());
    return RET_INVALID_INPUT;
  }
  *count = static_cast<uint32_t>(w.count());
  return 0;
}

bool is_secret_type(uint32_t t) {
  return t == KEY_TYPE_GENERIC_SECRET || t == KEY_TYPE_RC4 || t == KEY_TYPE_DES ||
         t == KEY_TYPE_DES3 || t == KEY_TYPE_AES;
}
bool is_asymmetric_type(uint32_t t) {
  return t == KEY_TYPE_RSA || t == KEY_TYPE_DSA || t == KEY_TYPE_EC;
}

Uint32 refuse_public(const AttrView &a, int64_t value, uint32_t key_type) {
  printf("\n\tHSM doesn't support %s value %u for Public key type 0x%x\n", name_of(a.type),
         static_cast<unsigned>(value), key_type);
  return ERR_INVALID_INPUT;
}

}  // namespace

// Rules for a nested wrap or unwrap template of `len` bytes (Object head
// and attributes); nothing past `len` is read.
Uint32 validate_nested_template(uint32_t attr_type, const uint8_t *obj, size_t len) {
  if (!obj || len == 0) return 0;
  ObjectView head;
  if (!read_object_head(obj, len, &head)) {
    printf("\n\t%s is shorter than its head\n", name_of(attr_type));
    return RET_INVALID_INPUT;
  }
  if (head.attr_count == 0) return 0;

  bool has_class = false, has_type = false, has_value_len = false;
  uint32_t key_class = 0, key_type = 0;
  int64_t value_len = 0;
  AttrWalker w = object_walker(head);
  AttrView a;
  while (w.next(&a)) {
    switch (a.type) {
      case OBJ_ATTR_CLASS:
        has_class = true;
        key_class = static_cast<uint32_t>(read_decimal_i32(a));
        break;
      case OBJ_ATTR_KEY_TYPE:
        has_type = true;
        key_type = static_cast<uint32_t>(read_decimal_i32(a));
        break;
      case OBJ_ATTR_VALUE_LEN:
        has_value_len = true;
        value_len = read_decimal(a);
        break;
      case OBJ_ATTR_NEVER_EXTRACTABLE:
      case OBJ_ATTR_MODIFIABLE:
        printf("\n\tHSM doesn't support %s as part of %s\n", name_of(a.type), name_of(attr_type));
        return RET_INVALID_INPUT;
      default:
        break;
    }
  }
  if (w.malformed()) {
    printf("\n\tAttributes of %s run past its end\n", name_of(attr_type));
    return RET_INVALID_INPUT;
  }
  if (has_class && key_class != OBJ_CLASS_PRIVATE_KEY && key_class != OBJ_CLASS_SECRET_KEY) {
    printf("\n\tInvalid Key Class %u in wrap/unwrap template\n", key_class);
    return RET_INVALID_INPUT;
  }
  if (has_type) {
    if (!is_secret_type(key_type) && !is_asymmetric_type(key_type)) {
      printf("\n\tInvalid Key Type %u in wrap/unwrap template\n", key_type);
      return RET_INVALID_INPUT;
    }
    if (has_class && ((is_secret_type(key_type) && key_class != OBJ_CLASS_SECRET_KEY) ||
                      (is_asymmetric_type(key_type) && key_class != OBJ_CLASS_PRIVATE_KEY))) {
      printf("\n\tInvalid Key Class %u for keyType %u in wrap/unwrap template\n", key_class,
             key_type);
      return RET_INVALID_INPUT;
    }
  }
  if (has_class && key_class == OBJ_CLASS_SECRET_KEY && has_value_len &&
      (value_len < GENERIC_SECRET_MIN_KEY_SIZE || value_len > GENERIC_SECRET_MAX_KEY_SIZE)) {
    printf("\n\tInvalid value %u for OBJ_ATTR_VALUE_LEN\n", static_cast<unsigned>(value_len));
    return RET_INVALID_INPUT;
  }
  return 0;
}

Uint32 validate_common(const AttrView &a, uint8_t mode) {
  const int64_t value = read_decimal(a);
  if (a.type == OBJ_ATTR_PRIVATE && value == 0) {
    printf("\n\tHSM doesn't support %s value %u\n", name_of(a.type), 0u);
    return ERR_INVALID_INPUT;
  }
  if ((a.type == OBJ_ATTR_SENSITIVE || a.type == OBJ_ATTR_LOCAL) && value == 0 &&
      (mode & TEMPLATE_MODE_KEY_GEN)) {
    printf("\n\tHSM doesn't support %s value %u for KEY_GEN\n", name_of(a.type), 0u);
    return ERR_INVALID_INPUT;
  }
  return 0;
}

Uint32 validate_attribute(const AttrView &a, uint32_t key_class, uint32_t key_type, uint8_t mode) {
  if (a.type == OBJ_ATTR_WRAP_TEMPLATE || a.type == OBJ_ATTR_UNWRAP_TEMPLATE)
    return validate_nested_template(a.type, a.value, a.size);
  const bool set_attribute = (mode & TEMPLATE_MODE_SET_ATTRIBUTE) != 0;
  const int64_t value = read_decimal(a);
  switch (key_class) {
    case OBJ_CLASS_PRIVATE_KEY:
      if (a.type == OBJ_ATTR_ENCRYPT || a.type == OBJ_ATTR_WRAP || a.type == OBJ_ATTR_VERIFY) {
        if (set_attribute && value == 1) {
          printf("\n\tHSM doesn't support %s value %u for Private key type 0x%x \n",
                 name_of(a.type), 1u, key_type);
          return ERR_INVALID_INPUT;
        }
        return 0;
      }
      return validate_common(a, mode);
    case OBJ_CLASS_SECRET_KEY:
      return validate_common(a, mode);
    case OBJ_CLASS_PUBLIC_KEY:
      if (a.type == OBJ_ATTR_DECRYPT || a.type == OBJ_ATTR_UNWRAP || a.type == OBJ_ATTR_SIGN) {
        if (set_attribute && value == 1) return refuse_public(a, value, key_type);
        return 0;
      }
      if (a.type == OBJ_ATTR_PUBLIC_EXPONENT && key_type == KEY_TYPE_RSA && value <= 0)
        return refuse_public(a, value, KEY_TYPE_RSA);
      // Public keys stay extractable.
      if (a.type == OBJ_ATTR_EXTRACTABLE && value == 0) return refuse_public(a, value, key_type);
      return validate_common(a, mode);
    default:
      printf("\n\tInvalid key class %u\n", key_class);
      return ERR_INVALID_INPUT;
  }
}

}  // namespace qel2::tmpl

namespace {

// No request carries more than 8192 bytes of data, so no nested template is larger.
constexpr uint32_t kMaxNestedTemplate = 8192;

// A view of a caller's Attribute record, trusted to hold its stated size.
qel2::tmpl::AttrView view_of(const Attribute *attr) {
  const uint8_t *head = reinterpret_cast<const uint8_t *>(attr);
  qel2::tmpl::AttrView v;
  v.type = qel2::be32_at(head);
  v.size = qel2::be32_at(head + 4);
  v.head = head;
  v.value = head + qel2::tmpl::kAttrHeadSize;
  return v;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 validate_template_from_user_ext(Uint32 ulTemplate_size, Uint8 *pTemplate,
                                                   Uint32 *attr_cnt, Uint8 mode) {
  using namespace qel2::tmpl;
  if (!pTemplate || !attr_cnt) {
    printf("\n\tNull parameters are passed");
    return ERR_INVALID_INPUT;
  }
  if (ulTemplate_size == 0) {
    *attr_cnt = 0;
    if (mode & TEMPLATE_MODE_FIND) return 0;
    printf("\n\tInvalid Key class %d\n", 0);
    return ERR_INVALID_INPUT;
  }
  TemplateFacts facts;
  uint32_t count = 0;
  if (Uint32 rc = scan_template(pTemplate, ulTemplate_size, &facts, &count)) return rc;
  *attr_cnt = count;
  if (mode & TEMPLATE_MODE_FIND) return 0;

  if (facts.key_class != OBJ_CLASS_PUBLIC_KEY && facts.key_class != OBJ_CLASS_PRIVATE_KEY &&
      facts.key_class != OBJ_CLASS_SECRET_KEY) {
    printf("\n\tInvalid Key class %d\n", static_cast<int>(facts.key_class));
    return ERR_INVALID_INPUT;
  }
  if ((facts.has_wrap && facts.wrap == 0 && facts.has_wrap_template) ||
      (facts.has_unwrap && facts.unwrap == 0 && facts.has_unwrap_template)) {
    printf("\n\tInvalid OBJ_ATTR_WRAP/UNWRAP value for OBJ_ATTR_WRAP_TEMPLATE/UNWRAP_TEMPLATE");
    return ERR_INVALID_INPUT;
  }
  AttrWalker w(pTemplate, ulTemplate_size);
  AttrView a;
  while (w.next(&a)) {
    if (Uint32 rc = validate_attribute(a, facts.key_class, facts.key_type, mode)) {
      printf("\n\tValidation failed Key class %d and key type 0x%x %s\n",
             static_cast<int>(facts.key_class), facts.key_type, name_of(a.type));
      return rc;
    }
  }
  return 0;
}

QEL2_EXPORT Uint32 validateTemplateFromUser2(Uint32 ulTemplate_size, Uint8 *pTemplate,
                                             Uint32 *attr_cnt, Uint8 mode) {
  const Uint32 rc = validate_template_from_user_ext(ulTemplate_size, pTemplate, attr_cnt, mode);
  if (rc != 0) printf("\n\tValidation of template is failed with error 0x%x\n", rc);
  return rc;
}

QEL2_EXPORT Uint32 validateTemplateFromUser(Uint32 ulTemplate_size, Uint8 *pTemplate,
                                            Uint32 ulKeyType, Uint32 *attr_cnt, Uint8 mode) {
  (void)ulKeyType;
  return validateTemplateFromUser2(ulTemplate_size, pTemplate, attr_cnt, mode);
}

QEL2_EXPORT Uint32 template_validate_attribute(Attribute *attr, Uint32 ulKeyClass, Uint32 ulKeyType,
                                               Uint8 mode) {
  if (!attr) {
    printf("\n\tNull parameters are passed");
    return ERR_INVALID_INPUT;
  }
  return qel2::tmpl::validate_attribute(view_of(attr), ulKeyClass, ulKeyType, mode);
}

QEL2_EXPORT Uint32 validate_common_attribute(Attribute *attr, Uint8 mode) {
  if (!attr) {
    printf("\n\tNull parameters are passed");
    return ERR_INVALID_INPUT;
  }
  return qel2::tmpl::validate_common(view_of(attr), mode);
}

QEL2_EXPORT Uint32 validate_wrap_unwrap_template(Uint32 attr_type, Uint8 *pObj) {
  // No template sets no attribute: nothing to check.
  if (!pObj) return 0;
  // Without a length from the caller the head's own size bounds the walk; a
  // size no request could carry is refused before anything past the head is read.
  const uint32_t obj_size = qel2::be32_at(pObj + 8);
  if (obj_size > kMaxNestedTemplate) {
    printf("\n\t%s is larger than a request can carry\n", qel2::tmpl::name_of(attr_type));
    return RET_INVALID_INPUT;
  }
  const size_t len =
      obj_size < qel2::tmpl::kObjectHeadSize ? qel2::tmpl::kObjectHeadSize : obj_size;
  return qel2::tmpl::validate_nested_template(attr_type, pObj, len);
}

}  // extern "C"
