// Appends attributes to a template buffer, whole or not at all.
//
// Each append checks that the 8-byte head and the value fit in what is left
// of the buffer (in 64 bits) before writing anything; a failed append makes
// ok() false for good, so a builder can append a run and test once.
#ifndef QEL2_COMMON_TEMPLATE_TEMPLATE_WRITER_H
#define QEL2_COMMON_TEMPLATE_TEMPLATE_WRITER_H

#include <cstddef>
#include <cstdint>

namespace qel2::tmpl {

inline constexpr size_t kTemplateBufferSize = 4096;

class TemplateWriter {
 public:
  TemplateWriter(uint8_t *buf, size_t cap) : buf_(buf), cap_(buf ? cap : 0) {}

  // Value bytes as given; a null value with n > 0 fails.
  bool raw(uint32_t type, const void *value, uint64_t n);
  // The number as signed decimal text and a newline ("%d\n").
  bool number(uint32_t type, int32_t v);
  // The number as signed decimal text without a newline ("%d").
  bool number_plain(uint32_t type, int32_t v);
  // A flag: "1" or "0" followed by a NUL.
  bool flag(uint32_t type, bool set);
  // Four bytes, big-endian.
  bool be32(uint32_t type, uint32_t v);
  // Appends a head with the given size and returns where its value goes,
  // or nullptr when it does not fit; the caller fills exactly `n` bytes.
  uint8_t *reserve(uint32_t type, uint64_t n);

  bool ok() const { return ok_; }
  size_t size() const { return pos_; }
  uint32_t count() const { return count_; }

 private:
  bool fail() { return ok_ = false; }

  uint8_t *buf_;
  size_t cap_;
  size_t pos_ = 0;
  uint32_t count_ = 0;
  bool ok_ = true;
};

}  // namespace qel2::tmpl

#endif
