// Bounded big-endian reader and writer for the HSM's command and response
// records. Every read is checked against the end of its buffer: a short
// record sets the failed flag and yields zeros instead of reading past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace hsmsim::wire {

class BeReader {
 public:
  explicit BeReader(std::span<const uint8_t> data) : data_(data) {}

  uint8_t u8() { return static_cast<uint8_t>(take(1)); }
  uint16_t u16() { return static_cast<uint16_t>(take(2)); }
  uint32_t u32() { return static_cast<uint32_t>(take(4)); }
  uint64_t u64() { return take(8); }

  // n raw bytes; an empty span (and the failed flag) when fewer remain.
  std::span<const uint8_t> bytes(size_t n) {
    if (!has(n)) {
      failed_ = true;
      pos_ = data_.size();
      return {};
    }
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  void skip(size_t n) { (void)bytes(n); }

  bool has(size_t n) const { return n <= data_.size() - pos_; }
  size_t remaining() const { return data_.size() - pos_; }
  size_t position() const { return pos_; }
  bool ok() const { return !failed_; }

 private:
  uint64_t take(size_t n) {
    if (!has(n)) {
      failed_ = true;
      pos_ = data_.size();
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | data_[pos_ + i];
    pos_ += n;
    return v;
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool failed_ = false;
};

// Appends big-endian fields to a growing buffer; put_at patches a field that
// was reserved earlier (sizes known only after the variable part).
class BeWriter {
 public:
  explicit BeWriter(std::vector<uint8_t> &out) : out_(out) {}

  BeWriter &u8(uint8_t v) { return put(v, 1); }
  BeWriter &u16(uint16_t v) { return put(v, 2); }
  BeWriter &u32(uint32_t v) { return put(v, 4); }
  BeWriter &u64(uint64_t v) { return put(v, 8); }
  BeWriter &bytes(std::span<const uint8_t> b) {
    out_.insert(out_.end(), b.begin(), b.end());
    return *this;
  }
  BeWriter &zeros(size_t n) {
    out_.insert(out_.end(), n, 0);
    return *this;
  }
  // A text in a fixed-size field, cut to the field and zero-padded.
  BeWriter &text(const std::string &s, size_t field) {
    size_t n = s.size() < field ? s.size() : field;
    out_.insert(out_.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    return zeros(field - n);
  }
  void u32_at(size_t offset, uint32_t v) {
    if (offset + 4 > out_.size()) return;
    for (int i = 3; i >= 0; --i, v >>= 8)
      out_[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(v);
  }
  size_t size() const { return out_.size(); }

 private:
  BeWriter &put(uint64_t v, size_t n) {
    for (size_t i = n; i-- > 0;) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  std::vector<uint8_t> &out_;
};

// A zero-terminated text read from a fixed-size field (stops at the first zero).
inline std::string field_text(std::span<const uint8_t> field) {
  size_t n = 0;
  while (n < field.size() && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char *>(field.data()), n);
}

}  // namespace hsmsim::wire
