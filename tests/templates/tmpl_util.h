// Helpers of the template tests: encoding expected templates, decoding
// built ones, and capturing what the library prints.
#ifndef TESTS_TEMPLATES_TMPL_UTIL_H
#define TESTS_TEMPLATES_TMPL_UTIL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tmpltest {

using Bytes = std::vector<uint8_t>;

inline Bytes bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

inline void put32(Bytes &b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One attribute: type and value.
struct A {
  uint32_t type;
  Bytes value;
  A(uint32_t t, Bytes v) : type(t), value(std::move(v)) {}
  A(uint32_t t, const std::string &v) : type(t), value(bytes(v)) {}
};

inline Bytes encode(const std::vector<A> &attrs) {
  Bytes out;
  for (const A &a : attrs) {
    put32(out, a.type);
    put32(out, static_cast<uint32_t>(a.value.size()));
    out.insert(out.end(), a.value.begin(), a.value.end());
  }
  return out;
}

// An Object head and its attributes, as nested templates carry them.
inline Bytes object(const std::vector<A> &attrs, int count_override = -1) {
  Bytes body = encode(attrs);
  Bytes out;
  put32(out, 0);
  put32(out, count_override >= 0 ? static_cast<uint32_t>(count_override)
                                 : static_cast<uint32_t>(attrs.size()));
  put32(out, static_cast<uint32_t>(body.size() + 12));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

inline uint32_t be32(const uint8_t *p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Splits a well-formed template into its attributes.
inline std::vector<A> decode(const uint8_t *p, size_t len) {
  std::vector<A> out;
  size_t off = 0;
  while (off + 8 <= len) {
    uint32_t t = be32(p + off), n = be32(p + off + 4);
    if (off + 8 + n > len) break;
    out.emplace_back(t, Bytes(p + off + 8, p + off + 8 + n));
    off += 8 + n;
  }
  EXPECT_EQ(off, len) << "template does not decode cleanly";
  return out;
}

inline std::vector<uint32_t> types(const std::vector<A> &attrs) {
  std::vector<uint32_t> t;
  for (const A &a : attrs) t.push_back(a.type);
  return t;
}

struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Runs f with standard output captured; returns what was printed.
template <typename F>
std::string printed(F &&f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

}  // namespace tmpltest

#endif
