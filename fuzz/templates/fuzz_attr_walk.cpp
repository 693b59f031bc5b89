// The bounded walker, the number reader and the functions built on them,
// on arbitrary bytes in an exact-size heap block.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/template/attr_walk.h"
#include "qel2_template.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace qel2::tmpl;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(buf.get(), data, size);

  // By length: every attribute yielded lies inside; offsets only grow.
  AttrWalker w(buf.get(), size);
  AttrView a;
  size_t last = 0;
  int64_t sum = 0;
  while (w.next(&a)) {
    if (a.value < buf.get() || a.value + a.size > buf.get() + size || a.offset < last)
      __builtin_trap();
    last = a.offset;
    sum += read_decimal(a) & 1;
    sum += read_decimal_i32(a) & 1;
    sum += static_cast<int64_t>(bounded_strlen(a.value, a.size));
  }
  if (!w.malformed() && w.offset() < size) __builtin_trap();

  // As a nested template.
  ObjectView obj;
  if (read_object_head(buf.get(), size, &obj)) {
    AttrWalker n = object_walker(obj);
    while (n.next(&a))
      if (a.value + a.size > buf.get() + size) __builtin_trap();
  }

  if (size >= 1) {
    const uint32_t type = data[0] % 4;
    AttrView found;
    (void)find_attr(buf.get(), size, type, &found);
    (void)get_attribute_template(buf.get(), type, static_cast<Uint32>(size));
    const Uint8 value[3] = {'0', '\n', 0};
    (void)UpdateAttribute(buf.get(), static_cast<Uint32>(size), type, value, 1 + data[0] % 3);
  }
  return sum == -1;  // keep the reads alive
}
