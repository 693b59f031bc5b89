#include "common/template/template_writer.h"

#include <cstdio>
#include <cstring>

#include "common/be_codec.h"
#include "common/template/attr_walk.h"

namespace qel2::tmpl {

uint8_t *TemplateWriter::reserve(uint32_t type, uint64_t n) {
  if (!ok_) return nullptr;
  const uint64_t need = uint64_t{kAttrHeadSize} + n;
  if (n > UINT32_MAX || need > cap_ - pos_) {
    fail();
    return nullptr;
  }
  uint8_t *head = buf_ + pos_;
  put_be32(head, type);
  put_be32(head + 4, static_cast<uint32_t>(n));
  pos_ += static_cast<size_t>(need);
  ++count_;
  return head + kAttrHeadSize;
}

bool TemplateWriter::raw(uint32_t type, const void *value, uint64_t n) {
  if (n && !value) return fail();
  uint8_t *dst = reserve(type, n);
  if (!dst) return false;
  if (n) std::memcpy(dst, value, static_cast<size_t>(n));
  return true;
}

bool TemplateWriter::number(uint32_t type, int32_t v) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%d\n", v);
  return raw(type, text, static_cast<uint64_t>(n));
}

bool TemplateWriter::number_plain(uint32_t type, int32_t v) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%d", v);
  return raw(type, text, static_cast<uint64_t>(n));
}

bool TemplateWriter::flag(uint32_t type, bool set) {
  const uint8_t value[2] = {static_cast<uint8_t>(set ? '1' : '0'), 0};
  return raw(type, value, sizeof value);
}

bool TemplateWriter::be32(uint32_t type, uint32_t v) {
  uint8_t value[4];
  put_be32(value, v);
  return raw(type, value, sizeof value);
}

}  // namespace qel2::tmpl
