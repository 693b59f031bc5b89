// Reading a wrapped key with template: the template's allow-list, the key
// data's length by mechanism, the token flag of the new object.
#include <cstdio>
#include <cstring>

#include "common/be_codec.h"
#include "common/template/attr_walk.h"
#include "mgmt/wrap/wrap_internal.h"
#include "qel2_attributes.h"
#include "qel2_errors.h"

namespace {

constexpr uint32_t kMaxTemplate = 4096;
constexpr uint32_t kMaxBlob = 8192;
constexpr uint32_t kHead = 8;  // count and template length

// One row of the allow-list: sizes from min to max (0: any non-zero size).
struct Allowed {
  uint32_t type;
  uint32_t min, max;
};
constexpr Allowed kAllowed[] = {
    {OBJ_ATTR_CLASS, 1, 1},        {OBJ_ATTR_TOKEN, 1, 1},           {OBJ_ATTR_PRIVATE, 1, 1},
    {OBJ_ATTR_LABEL, 1, 128},      {OBJ_ATTR_KEY_TYPE, 1, 2},        {OBJ_ATTR_ID, 1, 128},
    {OBJ_ATTR_SENSITIVE, 1, 1},    {OBJ_ATTR_ENCRYPT, 1, 1},         {OBJ_ATTR_DECRYPT, 1, 1},
    {OBJ_ATTR_WRAP, 1, 1},         {OBJ_ATTR_UNWRAP, 1, 1},          {OBJ_ATTR_SIGN, 1, 1},
    {OBJ_ATTR_MODULUS_BITS, 1, 4}, {OBJ_ATTR_PUBLIC_EXPONENT, 4, 4}, {OBJ_ATTR_VALUE_LEN, 1, 0},
    {OBJ_ATTR_ACCESS, 2, 2},       {OBJ_ATTR_VENDOR_DEFINED, 1, 0},
};

int hex_digit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The key-data rule of the mechanism; false (printed) when broken.
bool key_data_fits(uint32_t mech, uint32_t k) {
  const char *msg = nullptr;
  switch (mech) {
    case CRYPTO_MECH_RSA_OAEP_KEY_WRAP:
      if (k < 128 || k > 512 || k % 32) msg = "Invalid key data size %u for RSA_OAEP unwrap\n";
      break;
    case CRYPTO_MECH_DES3_KEY_WRAP:
      if (k % 4) msg = "Invalid key data size %u for 3DES key unwrap\n";
      break;
    case CRYPTO_MECH_RSA_AES_KEY_WRAP:
      if (k <= 128 || k % 8) msg = "Invalid key data size %u for RSA_AES unwrap \n";
      break;
    case CRYPTO_MECH_AES_KEY_WRAP_PAD:
      if (k % 8) msg = "Invalid key data size %u for AES key unwrap\n";
      break;
    default:
      break;
  }
  if (!msg) return true;
  printf(msg, k);
  return false;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 checkValidAttribute(const Attribute *pAttr) {
  if (!pAttr) return ERR_INVALID_INPUT;
  const auto *head = reinterpret_cast<const uint8_t *>(pAttr);
  const uint32_t type = qel2::be32_at(head), size = qel2::be32_at(head + 4);
  for (const Allowed &a : kAllowed) {
    if (a.type != type) continue;
    if (size < a.min || (a.max && size > a.max)) return ERR_INVALID_INPUT;
    if (type == OBJ_ATTR_CLASS) {
      const int v = hex_digit(head[8]);
      if (v != 3 && v != 4) return ERR_INVALID_INPUT;
    }
    return 0;
  }
  printf("Invalid attribute 0x%x\n", type);
  return ERR_INVALID_INPUT;
}

QEL2_EXPORT Uint32 validateWrappedKeyTemplate(const Uint8 *pTemplate, Uint32 ulTemplateSize,
                                              Uint32 ulAttributeCount) {
  if (ulTemplateSize > kMaxTemplate || ulAttributeCount == 0 || !pTemplate) {
    printf("%s:%d: Invalid parameters are passed\n", __func__, __LINE__);
    return ERR_INVALID_INPUT;
  }
  // Every record lies wholly inside the template: one that crosses its end
  // is refused, never read past.
  qel2::tmpl::AttrWalker walk(pTemplate, ulTemplateSize);
  qel2::tmpl::AttrView a;
  while (walk.next(&a)) {
    if (Uint32 r = checkValidAttribute(reinterpret_cast<const Attribute *>(a.head))) {
      printf("Validation of attributes in template failed");
      return r;
    }
  }
  if (walk.malformed()) {
    printf("Validation of attributes in template failed");
    return ERR_INVALID_INPUT;
  }
  if (ulTemplateSize == 0 || walk.count() != ulAttributeCount) {
    printf("%s:%d : Attribute count not matching\n", __func__, __LINE__);
    return ERR_INVALID_INPUT;
  }
  return 0;
}

QEL2_EXPORT Uint32 decodeTemplate(Uint8 *pWrappedKey, Uint32 ulWrappedKeyLen, Uint8 ucKeyLocation,
                                  Uint32 ulMech, Uint8 **pTemplate, Uint32 *ulTemplateSize,
                                  Uint32 *ulAttributeCount) {
  if (!pWrappedKey || !pTemplate || !ulTemplateSize || !ulAttributeCount ||
      ulWrappedKeyLen <= kHead || ulWrappedKeyLen > kMaxBlob)
    return 0;
  Uint32 count = 0, t_len = 0;
  std::memcpy(&count, pWrappedKey, 4);
  std::memcpy(&t_len, pWrappedKey + 4, 4);
  *ulAttributeCount = count;
  *ulTemplateSize = t_len;
  if (uint64_t{t_len} + kHead >= ulWrappedKeyLen) return 0;
  Uint8 *tmpl = pWrappedKey + kHead;
  *pTemplate = tmpl;
  if (validateWrappedKeyTemplate(tmpl, t_len, count)) {
    printf("[ %s ] : [%d] : validateWrappedKeyTemplate returned error\n", __func__, __LINE__);
    return 0;
  }
  if (!key_data_fits(ulMech, ulWrappedKeyLen - t_len - kHead)) return 0;
  // The ID is required before anything is written: a refused blob stays as it was.
  qel2::tmpl::AttrView id;
  if (t_len < kHead || !qel2::tmpl::find_attr(tmpl, t_len, OBJ_ATTR_ID, &id)) return 0;
  const Uint8 token = ucKeyLocation == 1 ? '1' : '0';
  if (UpdateAttribute(tmpl, t_len, OBJ_ATTR_TOKEN, &token, 1) != 0) {
    printf("[ %s ] : [%d] : UpdateAttribute returned error\n", __func__, __LINE__);
    return 0;
  }
  return t_len + kHead;
}

}  // extern "C"
