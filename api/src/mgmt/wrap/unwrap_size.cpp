// Unwrapping an AES-wrapped key when the caller states its type, size and
// modulus bits: the template comes from a wrapped key with template (and is
// checked against the stated values) or is built from them; either way it
// carries the stated size as OBJ_ATTR_VALUE_LEN.
#include <cstdio>
#include <cstring>

#include "mgmt/keys/keys_internal.h"
#include "mgmt/wrap/wrap_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;
using namespace qel2::wrap;

namespace {

constexpr Uint32 kMaxTemplate = 4096;
constexpr Uint32 kAttrHead = 8;
constexpr Uint32 kMaxKeyType = 31;

bool symmetric_type(Uint32 type) {
  return type == KEY_TYPE_GENERIC_SECRET || type == KEY_TYPE_RC4 || type == KEY_TYPE_DES ||
         type == KEY_TYPE_DES3 || type == KEY_TYPE_AES;
}
bool asymmetric_type(Uint32 type) {
  return type == KEY_TYPE_RSA || type == KEY_TYPE_DSA || type == KEY_TYPE_EC;
}

Uint32 modbits_refused(Uint32 mod_bits, Uint32 type) {
  printf(
      "Error : Don't pass modbits for symmetric, ECDSA and DSA(no template case) modbits %u "
      "keytype %u\n",
      mod_bits, type);
  return ERR_INVALID_INPUT;
}

// The mechanism, then the size the mechanism allows (4242 carries none).
Uint32 check_mech_and_size(Uint32 mech, Uint32 size) {
  if (mech != CRYPTO_MECH_AES_KEY_WRAP && mech != CRYPTO_MECH_AES_KEY_WRAP_PAD &&
      mech != CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD) {
    printf("Error : Mechanism %u not supported\n", mech);
    return ERR_INVALID_INPUT;
  }
  if (mech == CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD && size != 0) {
    printf("Error : Key size should not be passed for CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD");
    return ERR_INVALID_INPUT;
  }
  if (mech != CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD && size == 0) {
    printf("Error : Key size is zero for mech %u\n", mech);
    return ERR_INVALID_INPUT;
  }
  return 0;
}

// A number attribute of the template that must equal the stated value.
Uint32 check_stated(Uint8 *tmpl, Uint32 size, Uint32 type, Uint32 stated, const char *mismatch) {
  int32_t found = 0;
  if (!template_number(tmpl, size, type, &found)) {
    printf("Error : Attribute value not found");
    return ERR_INVALID_INPUT;
  }
  if (found < 0 || static_cast<Uint32>(found) != stated) {
    printf(mismatch, static_cast<int>(stated), static_cast<int>(found));
    return ERR_INVALID_INPUT;
  }
  return 0;
}

// The decoded template against the stated type, size and modulus bits.
Uint32 check_blob_template(Uint8 *tmpl, Uint32 size, Uint32 mech, Uint32 type, Uint32 key_size,
                           Uint32 mod_bits) {
  int32_t found = 0;
  if (!template_number(tmpl, size, OBJ_ATTR_KEY_TYPE, &found)) {
    printf("Error : Attribute type not found");
    return ERR_INVALID_INPUT;
  }
  if (found < 0 || static_cast<Uint32>(found) != type) {
    printf("Error : Passed key type %d and template key type %d not macthing\n",
           static_cast<int>(type), static_cast<int>(found));
    return ERR_INVALID_INPUT;
  }
  if (type > kMaxKeyType) {
    printf("Invalid key type(%u)\n", type);
    return ERR_INVALID_INPUT;
  }
  if (symmetric_type(type)) {
    if (mech != CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD) {
      if (!is_valid_symmetric_key_type_size(type, key_size)) return ERR_INVALID_INPUT;
      if (Uint32 r = check_stated(tmpl, size, OBJ_ATTR_VALUE_LEN, key_size,
                                  "Error : Passed key size %d and template key size %d not "
                                  "matching\n"))
        return r;
    }
    return mod_bits ? modbits_refused(mod_bits, type) : 0;
  }
  if (!asymmetric_type(type)) {
    printf("Invalid key type(%u)\n", type);
    return ERR_INVALID_INPUT;
  }
  if (type == KEY_TYPE_EC) {
    if (!mod_bits) return 0;
    printf("Don't pass mod bits for ECDSA key type");
    return modbits_refused(mod_bits, type);
  }
  return check_stated(tmpl, size, OBJ_ATTR_MODULUS_BITS, mod_bits,
                      "Error : Passed modules bits %d and template modules bits %d not "
                      "matching\n");
}

// The stated values alone: the class, and for secret keys the size against
// the wrapped length (m = length - 8; at least m - s with s 8 for 4240 and
// 7 for 4241). 0 and the class, or the refusal.
Uint32 check_stated_values(Uint32 mech, Uint32 type, Uint32 key_size, Uint32 mod_bits,
                           Uint32 wrapped_len, Uint32 *cls) {
  if (asymmetric_type(type)) {
    *cls = OBJ_CLASS_PRIVATE_KEY;
    if (type != KEY_TYPE_RSA && mod_bits) return modbits_refused(mod_bits, type);
    return 0;
  }
  if (!symmetric_type(type)) {
    printf("Error : Invalid key type(%u)\n", type);
    return ERR_INVALID_INPUT;
  }
  *cls = OBJ_CLASS_SECRET_KEY;
  if (mech != CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD) {
    if (!is_valid_symmetric_key_type_size(type, key_size)) return ERR_INVALID_INPUT;
    // A wrapped key shorter than its IV leaves no room at all (never a wrapped-round bound).
    const Uint32 m = wrapped_len >= 8 ? wrapped_len - 8 : 0;
    const Uint32 slack = mech == CRYPTO_MECH_AES_KEY_WRAP ? 8 : 7;
    if (key_size > m) {
      printf("Error :  Passed key size %u and atmost expected key size %u \n", key_size, m);
      return ERR_INVALID_INPUT;
    }
    if (m > slack && key_size < m - slack) {
      printf("Error : Passed key size %u and atleast expected key size %u", key_size, m - slack);
      return ERR_INVALID_INPUT;
    }
  }
  return mod_bits ? modbits_refused(mod_bits, type) : 0;
}

// The template with OBJ_ATTR_VALUE_LEN: as it is when it holds one, else a
// copy with one appended (size as decimal text, no newline). `owned` keeps
// the copy.
Uint32 with_value_len(Uint8 *tmpl, Uint32 size, Uint32 count, Uint32 key_size, FreedBuffer &owned,
                      Uint8 **out, Uint32 *out_size, Uint32 *out_count) {
  *out = tmpl;
  *out_size = size;
  *out_count = count;
  if (tmpl && get_attribute_template(tmpl, OBJ_ATTR_VALUE_LEN, size)) return 0;
  char digits[16];
  const int n = std::snprintf(digits, sizeof digits, "%u", key_size);
  const uint32_t n_digits = n > 0 ? static_cast<uint32_t>(n) : 0;
  const uint64_t total = uint64_t{size} + kAttrHead + n_digits;
  if (!tmpl || size < kAttrHead || total > kMaxTemplate) {
    printf(
        "template is null or ulCurTemplateSize less than min attr size or ulCurTemplateSize more "
        "than max supported");
    return ERR_INVALID_INPUT;
  }
  owned.reset(static_cast<Uint8 *>(std::calloc(kMaxTemplate, 1)));
  if (!owned) {
    printf("memory allocation failure for new template");
    return ERR_MEMORY_ALLOC_FAILURE;
  }
  std::memcpy(owned.get(), tmpl, size);
  BeWriter(owned.get() + size, kAttrHead + n_digits)
      .u32(OBJ_ATTR_VALUE_LEN)
      .u32(n_digits)
      .bytes(digits, n_digits);
  *out = owned.get();
  *out_size = static_cast<Uint32>(total);
  *out_count = count + 1;
  return 0;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2UnWrapKeyWithSize(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                         Uint32 ulWrappedKeyLen, Uint64 ulUnwrappingKeyHandle,
                                         Uint8 *pIV, Uint32 ulKeyType, Uint32 ulKeySize,
                                         Uint32 ulModLenInBits, Uint8 bTemplateExists,
                                         Uint8 *pLabel, Uint32 ulLabelLen, Uint64 *ulNewKey,
                                         Uint8 ucKeyLocation, Uint8 bExtractable, Uint32 ulMech,
                                         Uint32 *request_id) {
  Uint8 *tmpl = nullptr;
  Uint32 size = 0, count = 0;
  FreedBuffer built;
  const Uint8 *key = pWrappedKey;
  Uint32 key_len = ulWrappedKeyLen;
  if (bTemplateExists) {
    const Uint32 off =
        decodeTemplate(pWrappedKey, ulWrappedKeyLen, ucKeyLocation, ulMech, &tmpl, &size, &count);
    if (off == 0) {
      printf("Error : Template decode failed wrapped key length %d\n",
             static_cast<int>(ulWrappedKeyLen));
      return ERR_INVALID_INPUT;
    }
    if (Uint32 r = check_mech_and_size(ulMech, ulKeySize)) return r;
    if (Uint32 r = check_blob_template(tmpl, size, ulMech, ulKeyType, ulKeySize, ulModLenInBits))
      return r;
    if (Uint32 r = validateTemplateFromUser2(size, tmpl, &count, TEMPLATE_MODE_UNWRAP)) return r;
    key = pWrappedKey + off;
    key_len = ulWrappedKeyLen - off;
  } else {
    if (Uint32 r = check_mech_and_size(ulMech, ulKeySize)) return r;
    Uint32 cls = 0;
    if (Uint32 r = check_stated_values(ulMech, ulKeyType, ulKeySize, ulModLenInBits,
                                       ulWrappedKeyLen, &cls))
      return r;
    // Nobody shares the new key, and it needs no approvals.
    qel2::tmpl::ObjectAccess who;
    who.label = pLabel;
    who.label_len = ulLabelLen;
    who.location = ucKeyLocation;
    who.extractable = bExtractable;
    qel2::tmpl::BuildArgs b = qel2::tmpl::build_args(TEMPLATE_MODE_UNWRAP, cls, ulKeyType, who);
    b.key_len = ulKeySize;
    b.mod_bits = ulModLenInBits;
    built = build_template(b, &size, &count);
    if (!built) return ERR_SET_TEMPLATE;
    tmpl = built.get();
    if (Uint32 r = validateTemplateFromUser2(size, tmpl, &count, TEMPLATE_MODE_UNWRAP)) return r;
  }

  FreedBuffer extended;
  UnwrapArgs a;
  if (Uint32 r =
          with_value_len(tmpl, size, count, ulKeySize, extended, &tmpl, &a.tmpl_len, &a.count))
    return r;
  a.session = ulSessionHandle;
  a.mech = ulMech;
  a.iv = pIV;
  a.iv_len = 8;
  a.key = key;
  a.key_len = key_len;
  a.tmpl = tmpl;
  a.unwrapping = ulUnwrappingKeyHandle;
  a.handle = ulNewKey;
  a.request_id = request_id;
  a.location = ucKeyLocation;
  return unwrap_with_template_common(a);
}

}  // extern "C"
