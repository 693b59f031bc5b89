// Bounded walking of attribute templates and bounded reading of the decimal
// numbers inside attribute values.
//
// Every place that walks a template or reads a number from a value goes
// through these: a walker never yields an attribute whose head or value
// crosses the end it was given, and the number reader never looks past the
// value's size (values are not NUL-terminated).
#ifndef QEL2_COMMON_TEMPLATE_ATTR_WALK_H
#define QEL2_COMMON_TEMPLATE_ATTR_WALK_H

#include <cstddef>
#include <cstdint>

namespace qel2::tmpl {

inline constexpr size_t kAttrHeadSize = 8;     // type + size
inline constexpr size_t kObjectHeadSize = 12;  // reserved + attr_count + obj_size

// One attribute as found in a template; `value` holds `size` bytes, all
// inside the walked range.
struct AttrView {
  uint32_t type = 0;
  uint32_t size = 0;
  const uint8_t *head = nullptr;   // the 8-byte head
  const uint8_t *value = nullptr;  // head + 8
  size_t offset = 0;               // offset of the head from the walk's start
};

// Yields the attributes of a byte range in order.
//
// By length (the default): stops once the offset reaches the end.
// By count (Object heads): yields exactly `count` attributes; running out of
// bytes first is malformed. Either way a head or value that would cross the
// end stops the walk and marks it malformed.
class AttrWalker {
 public:
  AttrWalker(const void *data, size_t len);
  static AttrWalker by_count(const void *data, size_t len, uint64_t count);

  // The next attribute, or false at the end or when malformed.
  bool next(AttrView *out);

  bool malformed() const { return malformed_; }
  size_t count() const { return count_; }    // attributes yielded so far
  size_t offset() const { return offset_; }  // bytes consumed so far

 private:
  const uint8_t *data_;
  size_t len_;
  size_t offset_ = 0;
  size_t count_ = 0;
  uint64_t limit_ = UINT64_MAX;  // count mode: attributes still due
  bool by_count_ = false;
  bool malformed_ = false;
};

// The first attribute of `type` in a template. False when absent, or when
// the walk meets a malformed attribute first.
bool find_attr(const void *tmpl, size_t len, uint32_t type, AttrView *out);

// An Object head (12 bytes, big-endian) and the bytes after it.
struct ObjectView {
  uint32_t attr_count = 0;
  uint32_t obj_size = 0;
  const uint8_t *attrs = nullptr;  // right after the head
  size_t attrs_len = 0;            // bytes available after the head
};

// Reads the head of a nested template of `len` bytes; false when shorter
// than a head.
bool read_object_head(const void *data, size_t len, ObjectView *out);

// A walker over the `attr_count` attributes of an Object.
inline AttrWalker object_walker(const ObjectView &obj) {
  return AttrWalker::by_count(obj.attrs, obj.attrs_len, obj.attr_count);
}

// Decimal text as the HSM and the builders write it: optional leading
// white space, an optional sign, then digits, stopping at the first other
// byte or at the end of the value. No digits reads as 0. Saturates instead
// of overflowing.
int64_t read_decimal(const uint8_t *value, size_t size);
inline int64_t read_decimal(const AttrView &a) { return read_decimal(a.value, a.size); }

// The same, clamped to the signed 32-bit range (the width the numbers are
// written with).
int32_t read_decimal_i32(const uint8_t *value, size_t size);
inline int32_t read_decimal_i32(const AttrView &a) { return read_decimal_i32(a.value, a.size); }

// Length of the text at p up to its first NUL, at most n.
size_t bounded_strlen(const uint8_t *p, size_t n);

// True when the n bytes at p spell `word` (ASCII, case-insensitive) exactly.
bool equals_nocase(const void *p, size_t n, const char *word);

// True when the n bytes at p begin with the bytes of `prefix`.
bool starts_with(const void *p, size_t n, const char *prefix, size_t prefix_len);

}  // namespace qel2::tmpl

#endif
