#include "common/template/attr_walk.h"

#include <cstring>

#include "common/be_codec.h"

namespace qel2::tmpl {

AttrWalker::AttrWalker(const void *data, size_t len)
    : data_(static_cast<const uint8_t *>(data)), len_(data ? len : 0) {}

AttrWalker AttrWalker::by_count(const void *data, size_t len, uint64_t count) {
  AttrWalker w(data, len);
  w.by_count_ = true;
  w.limit_ = count;
  return w;
}

bool AttrWalker::next(AttrView *out) {
  if (malformed_) return false;
  if (by_count_) {
    if (limit_ == 0) return false;
  } else if (offset_ >= len_) {
    return false;
  }
  const size_t left = len_ - offset_;
  if (left < kAttrHeadSize) {
    malformed_ = true;
    return false;
  }
  const uint8_t *head = data_ + offset_;
  const uint32_t size = be32_at(head + 4);
  if (size > left - kAttrHeadSize) {
    malformed_ = true;
    return false;
  }
  out->type = be32_at(head);
  out->size = size;
  out->head = head;
  out->value = head + kAttrHeadSize;
  out->offset = offset_;
  offset_ += kAttrHeadSize + size;
  ++count_;
  if (by_count_) --limit_;
  return true;
}

bool find_attr(const void *tmpl, size_t len, uint32_t type, AttrView *out) {
  AttrWalker w(tmpl, len);
  AttrView a;
  while (w.next(&a)) {
    if (a.type == type) {
      *out = a;
      return true;
    }
  }
  return false;
}

bool read_object_head(const void *data, size_t len, ObjectView *out) {
  if (!data || len < kObjectHeadSize) return false;
  const uint8_t *p = static_cast<const uint8_t *>(data);
  out->attr_count = be32_at(p + 4);
  out->obj_size = be32_at(p + 8);
  out->attrs = p + kObjectHeadSize;
  out->attrs_len = len - kObjectHeadSize;
  return true;
}

namespace {
bool is_space(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

int64_t read_decimal(const uint8_t *value, size_t size) {
  if (!value) return 0;
  size_t i = 0;
  while (i < size && is_space(value[i])) ++i;
  bool negative = false;
  if (i < size && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  // Accumulate as a negative number so that INT64_MIN fits.
  int64_t acc = 0;
  for (; i < size && value[i] >= '0' && value[i] <= '9'; ++i) {
    const int d = value[i] - '0';
    if (acc < (INT64_MIN + d) / 10) {
      acc = INT64_MIN;
      // Saturated: skip the remaining digits.
      while (i < size && value[i] >= '0' && value[i] <= '9') ++i;
      break;
    }
    acc = acc * 10 - d;
  }
  if (negative) return acc;
  return acc == INT64_MIN ? INT64_MAX : -acc;
}

int32_t read_decimal_i32(const uint8_t *value, size_t size) {
  const int64_t v = read_decimal(value, size);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

size_t bounded_strlen(const uint8_t *p, size_t n) {
  if (!p) return 0;
  const void *nul = std::memchr(p, 0, n);
  return nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - p) : n;
}

bool equals_nocase(const void *p, size_t n, const char *word) {
  if (!p || !word) return false;
  const uint8_t *b = static_cast<const uint8_t *>(p);
  size_t i = 0;
  for (; i < n; ++i) {
    const uint8_t w = static_cast<uint8_t>(word[i]);
    if (w == 0) return false;
    auto lower = [](uint8_t c) { return static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    if (lower(b[i]) != lower(w)) return false;
  }
  return word[i] == 0;
}

bool starts_with(const void *p, size_t n, const char *prefix, size_t prefix_len) {
  return p && n >= prefix_len && std::memcmp(p, prefix, prefix_len) == 0;
}

}  // namespace qel2::tmpl
