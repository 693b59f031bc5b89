// Bounded big-endian reader and writer for HSM records.
//
// Every record the library hands to or reads from the HSM goes through these
// two classes. Neither ever touches memory outside the buffer it was given:
// a read or write that would cross the end sets a sticky failure flag, reads
// then return zero and writes are dropped. Check ok() once after a sequence.
#ifndef QEL2_COMMON_BE_CODEC_H
#define QEL2_COMMON_BE_CODEC_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qel2 {

class BeWriter {
 public:
  BeWriter(void *buf, size_t cap) : p_(static_cast<uint8_t *>(buf)), cap_(buf ? cap : 0) {}

  BeWriter &u8(uint8_t v) { return put(v, 1); }
  BeWriter &u16(uint16_t v) { return put(v, 2); }
  BeWriter &u32(uint32_t v) { return put(v, 4); }
  BeWriter &u64(uint64_t v) { return put(v, 8); }

  // Copies n bytes; a null source with n > 0 is a failure.
  BeWriter &bytes(const void *src, size_t n) {
    if (!reserve(n) || (n && !src)) return fail();
    if (n) std::memcpy(p_ + pos_, src, n);
    pos_ += n;
    return *this;
  }
  // Writes n bytes of value v (filler, padding).
  BeWriter &fill(uint8_t v, size_t n) {
    if (!reserve(n)) return fail();
    if (n) std::memset(p_ + pos_, v, n);
    pos_ += n;
    return *this;
  }
  BeWriter &zeros(size_t n) { return fill(0, n); }
  // Copies at most n bytes of src into a field of n bytes, zero-padded.
  BeWriter &fixed(const void *src, size_t src_len, size_t n) {
    if (!reserve(n)) return fail();
    size_t c = src_len < n ? src_len : n;
    if (c && !src) return fail();
    if (c) std::memcpy(p_ + pos_, src, c);
    if (n > c) std::memset(p_ + pos_ + c, 0, n - c);
    pos_ += n;
    return *this;
  }
  // Moves the write position to an absolute offset within the buffer.
  BeWriter &seek(size_t off) {
    if (off > cap_) return fail();
    pos_ = off;
    return *this;
  }

  bool ok() const { return ok_; }
  size_t size() const { return pos_; }
  size_t capacity() const { return cap_; }
  size_t remaining() const { return cap_ - pos_; }

 private:
  bool reserve(size_t n) const { return ok_ && n <= cap_ - pos_; }
  BeWriter &fail() {
    ok_ = false;
    return *this;
  }
  BeWriter &put(uint64_t v, size_t n) {
    if (!reserve(n)) return fail();
    for (size_t i = 0; i < n; ++i) p_[pos_ + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
    pos_ += n;
    return *this;
  }

  uint8_t *p_;
  size_t cap_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class BeReader {
 public:
  BeReader(const void *buf, size_t len)
      : p_(static_cast<const uint8_t *>(buf)), len_(buf ? len : 0) {}

  uint8_t u8() { return static_cast<uint8_t>(get(1)); }
  uint16_t u16() { return static_cast<uint16_t>(get(2)); }
  uint32_t u32() { return static_cast<uint32_t>(get(4)); }
  uint64_t u64() { return get(8); }

  // Copies n bytes to dst; on failure dst is zeroed (when not null).
  BeReader &bytes(void *dst, size_t n) {
    if (!have(n) || (n && !dst)) {
      if (dst && n) std::memset(dst, 0, n);
      return fail();
    }
    if (n) std::memcpy(dst, p_ + pos_, n);
    pos_ += n;
    return *this;
  }
  // Returns a pointer to the next n bytes and advances, or null on failure.
  const uint8_t *view(size_t n) {
    if (!have(n)) {
      fail();
      return nullptr;
    }
    const uint8_t *v = p_ + pos_;
    pos_ += n;
    return v;
  }
  BeReader &skip(size_t n) {
    if (!have(n)) return fail();
    pos_ += n;
    return *this;
  }
  BeReader &seek(size_t off) {
    if (off > len_) return fail();
    pos_ = off;
    return *this;
  }

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t size() const { return len_; }
  size_t remaining() const { return len_ - pos_; }

 private:
  bool have(size_t n) const { return ok_ && n <= len_ - pos_; }
  BeReader &fail() {
    ok_ = false;
    return *this;
  }
  uint64_t get(size_t n) {
    if (!have(n)) {
      fail();
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p_[pos_ + i];
    pos_ += n;
    return v;
  }

  const uint8_t *p_;
  size_t len_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Single-value helpers for fields at a known offset of a record that is
// already known to be large enough.
inline uint16_t be16_at(const void *p) {
  const uint8_t *b = static_cast<const uint8_t *>(p);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
inline uint32_t be32_at(const void *p) {
  const uint8_t *b = static_cast<const uint8_t *>(p);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}
inline uint64_t be64_at(const void *p) {
  const uint8_t *b = static_cast<const uint8_t *>(p);
  return (uint64_t{be32_at(b)} << 32) | be32_at(b + 4);
}
inline void put_be16(void *p, uint16_t v) {
  uint8_t *b = static_cast<uint8_t *>(p);
  b[0] = static_cast<uint8_t>(v >> 8);
  b[1] = static_cast<uint8_t>(v);
}
inline void put_be32(void *p, uint32_t v) {
  uint8_t *b = static_cast<uint8_t *>(p);
  b[0] = static_cast<uint8_t>(v >> 24);
  b[1] = static_cast<uint8_t>(v >> 16);
  b[2] = static_cast<uint8_t>(v >> 8);
  b[3] = static_cast<uint8_t>(v);
}
inline void put_be64(void *p, uint64_t v) {
  put_be32(p, static_cast<uint32_t>(v >> 32));
  put_be32(static_cast<uint8_t *>(p) + 4, static_cast<uint32_t>(v));
}
// Converts a host value to/from big-endian in place (for fields of host
// structs that travel as the HSM's big-endian bytes).
inline uint16_t to_be16(uint16_t v) {
  uint16_t r;
  put_be16(&r, v);
  return r;
}
inline uint32_t to_be32(uint32_t v) {
  uint32_t r;
  put_be32(&r, v);
  return r;
}
inline uint64_t to_be64(uint64_t v) {
  uint64_t r;
  put_be64(&r, v);
  return r;
}
inline uint16_t from_be16(uint16_t v) { return be16_at(&v); }
inline uint32_t from_be32(uint32_t v) { return be32_at(&v); }
inline uint64_t from_be64(uint64_t v) { return be64_at(&v); }

}  // namespace qel2

#endif
