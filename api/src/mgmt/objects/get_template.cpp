// Rebuilding, from the attributes of an existing private or secret key, a
// template that creates or unwraps an equal key: a selection of the key's
// attributes with booleans and numbers as decimal text, plus access and
// (when the key has none) sensitive.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/be_codec.h"
#include "common/template/attr_walk.h"
#include "common/template/template_writer.h"
#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"
#include "qel2_template.h"

using namespace qel2;
using namespace qel2::tmpl;

namespace {

// Which keys an attribute is taken over for.
enum Keys : uint8_t { kPrivateKeys = 1, kSecretKeys = 2, kEveryKey = 0xFF };

// How a taken attribute is written.
enum class Form {
  kFirstByte,  // "%d" of the first value byte
  kLabel,      // up to the first NUL, then one NUL
  kBytes,      // unchanged
  kNumber,     // "%d" of the first four bytes, big-endian
  kExponent,   // 4 bytes big-endian, the last four value bytes counting
};

struct Taken {
  uint32_t type;
  uint8_t keys;
  Form form;
  bool rsa_only;
};

// In the order of the key's data, not of this table.
constexpr Taken kTaken[] = {
    {OBJ_ATTR_CLASS, kEveryKey, Form::kFirstByte, false},
    {OBJ_ATTR_TOKEN, kEveryKey, Form::kFirstByte, false},
    {OBJ_ATTR_PRIVATE, kEveryKey, Form::kFirstByte, false},
    {OBJ_ATTR_LABEL, kEveryKey, Form::kLabel, false},
    {OBJ_ATTR_KEY_TYPE, kEveryKey, Form::kFirstByte, false},
    {OBJ_ATTR_ID, kEveryKey, Form::kBytes, false},
    {OBJ_ATTR_SENSITIVE, kEveryKey, Form::kFirstByte, false},
    {OBJ_ATTR_ENCRYPT, kSecretKeys, Form::kFirstByte, false},
    {OBJ_ATTR_DECRYPT, kEveryKey, Form::kFirstByte, false},
    {OBJ_ATTR_WRAP, kSecretKeys, Form::kFirstByte, false},
    {OBJ_ATTR_UNWRAP, kEveryKey, Form::kFirstByte, false},
    {OBJ_ATTR_SIGN, kPrivateKeys, Form::kFirstByte, false},
    {OBJ_ATTR_MODULUS_BITS, kPrivateKeys, Form::kNumber, false},
    {OBJ_ATTR_PUBLIC_EXPONENT, kEveryKey, Form::kExponent, false},
    {OBJ_ATTR_VALUE_LEN, kSecretKeys, Form::kNumber, false},
    {OBJ_ATTR_VENDOR_DEFINED, kPrivateKeys, Form::kNumber, true},
};

const Taken *taken_entry(uint32_t type, uint8_t key_class, uint8_t key_type) {
  const uint8_t keys = key_class == OBJ_CLASS_PRIVATE_KEY  ? kPrivateKeys
                       : key_class == OBJ_CLASS_SECRET_KEY ? kSecretKeys
                                                           : 0;
  for (const Taken &t : kTaken) {
    if (t.type != type) continue;
    if (t.keys != kEveryKey && !(t.keys & keys)) return nullptr;
    if (t.rsa_only && key_type != KEY_TYPE_RSA) return nullptr;
    return &t;
  }
  return nullptr;
}

// Value readers: none of them looks past the value's size.
uint8_t first_byte(const AttrView &a) { return a.size ? a.value[0] : 0; }

uint32_t leading_be32(const AttrView &a) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < a.size && i < 4; ++i) v = (v << 8) | a.value[i];
  return v;
}

uint32_t trailing_be32(const AttrView &a) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < a.size; ++i) v = (v << 8) | a.value[i];
  return v;
}

bool write_label(TemplateWriter &w, const AttrView &a) {
  const size_t n = bounded_strlen(a.value, a.size);
  uint8_t *dst = w.reserve(a.type, uint64_t{n} + 1);
  if (!dst) return false;
  if (n) std::memcpy(dst, a.value, n);
  dst[n] = 0;
  return true;
}

bool write_taken(TemplateWriter &w, const Taken &t, const AttrView &a) {
  switch (t.form) {
    case Form::kFirstByte:
      return w.number_plain(a.type, first_byte(a));
    case Form::kLabel:
      return write_label(w, a);
    case Form::kBytes:
      return w.raw(a.type, a.value, a.size);
    case Form::kNumber:
      return w.number_plain(a.type, static_cast<int32_t>(leading_be32(a)));
    case Form::kExponent:
      return w.be32(a.type, trailing_be32(a));
  }
  return false;
}

struct KeyKind {
  bool have_class = false, have_type = false;
  uint8_t key_class = 0, key_type = 0;
};

// Class and key type: the first byte of each, the scan stopping once both
// are known or the data end.
KeyKind find_key_kind(const ObjectView &obj) {
  KeyKind k;
  AttrWalker walk = object_walker(obj);
  AttrView a;
  while (!(k.have_class && k.have_type) && walk.next(&a)) {
    if (a.type == OBJ_ATTR_CLASS && !k.have_class) {
      k.have_class = true;
      k.key_class = first_byte(a);
    } else if (a.type == OBJ_ATTR_KEY_TYPE && !k.have_type) {
      k.have_type = true;
      k.key_type = first_byte(a);
    }
  }
  return k;
}

void print_size_exceeded() { printf("Attributes size exceeds the max template size"); }

}  // namespace

Uint8 *build_template_from_attributes(const Uint8 *data, size_t data_len, Uint32 *pulTemplateSize,
                                      Uint32 *pulAttributeCount) {
  ObjectView obj;
  if (!read_object_head(data, data_len, &obj) || obj.attr_count == 0) {
    printf("key class attribute is not found in the list");
    return nullptr;
  }
  const KeyKind kind = find_key_kind(obj);
  if (!kind.have_class) printf("key class attribute is not found in the list");
  if (!kind.have_type) printf("key Type attribute is not found in the list");
  if (!kind.have_class || !kind.have_type) return nullptr;
  if (kind.key_class == OBJ_CLASS_PUBLIC_KEY) {
    printf("Invalid key class for this operation %x\n", kind.key_class);
    return nullptr;
  }

  mgmt::FreedBuffer out(static_cast<Uint8 *>(calloc(1, kTemplateBufferSize)));
  if (!out) return nullptr;
  TemplateWriter w(out.get(), kTemplateBufferSize);
  bool saw_sensitive = false;
  AttrWalker walk = object_walker(obj);
  AttrView a;
  while (walk.next(&a)) {
    const Taken *t = taken_entry(a.type, kind.key_class, kind.key_type);
    if (!t) continue;
    saw_sensitive |= a.type == OBJ_ATTR_SENSITIVE;
    if (!write_taken(w, *t, a)) {
      print_size_exceeded();
      return nullptr;
    }
  }
  if (walk.malformed()) {
    printf("Attribute data runs past its length\n");
    return nullptr;
  }

  static const uint8_t kSet[2] = {'1', 0};
  if (!w.raw(OBJ_ATTR_ACCESS, kSet, sizeof kSet) ||
      (!saw_sensitive && !w.raw(OBJ_ATTR_SENSITIVE, kSet, sizeof kSet))) {
    print_size_exceeded();
    return nullptr;
  }
  *pulTemplateSize = static_cast<Uint32>(w.size());
  *pulAttributeCount = w.count();
  return out.release();
}

Uint8 *GetTemplate(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *pulTemplateSize,
                   Uint32 *pulAttributeCount) {
  if (!pulTemplateSize || !pulAttributeCount) return nullptr;
  Uint32 r = 0, len = 0;
  if (mgmt::all_attributes_len(ulSessionHandle, ulKeyHandle, &r, &len) ==
      mgmt::MgmtRequest::Decode::kNo) {
    printf("%s:%d: Qel2GetAllAttributes2 failed: %s\n", __func__, __LINE__,
           reinterpret_cast<const char *>(Qel2ResultAsString(r)));
    return nullptr;
  }
  // No answer to one output segment is longer than a segment's 16-bit size.
  mgmt::FreedBuffer attrs(
      len > mgmt::kMaxSegmentLen ? nullptr : static_cast<Uint8 *>(calloc(1, size_t{len} + 1)));
  if (!attrs) {
    printf("%s:%d: Memory alloction failed for attributes\n", __func__, __LINE__);
    return nullptr;
  }
  const Uint32 capacity = len;
  r = Qel2GetAllAttributes2(ulSessionHandle, ulKeyHandle, attrs.get(), &len, nullptr, nullptr,
                            nullptr);
  if (r != 0) {
    printf("%s:%d: Qel2GetAllAttributes2 failed: %s\n", __func__, __LINE__,
           reinterpret_cast<const char *>(Qel2ResultAsString(r)));
    return nullptr;
  }
  // The reported length counts the answer's 20-byte head; the data itself
  // never reaches past what the buffer could take.
  const size_t head = sizeof(GetAllAttributeResponse);
  size_t data_len = len > head ? len - head : 0;
  if (data_len > capacity) data_len = capacity;
  Uint32 size = 0, count = 0;
  Uint8 *tmpl = build_template_from_attributes(attrs.get(), data_len, &size, &count);
  if (!tmpl) return nullptr;
  *pulTemplateSize = size;
  *pulAttributeCount = count;
  return tmpl;
}
