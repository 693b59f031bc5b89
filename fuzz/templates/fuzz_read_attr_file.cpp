// The attribute-file reader on arbitrary file contents (first byte picks the
// public exponent's copy format), plus the value readers through a memory
// file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qel2_template.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!freopen("/dev/null", "w", stdout)) return 0;
  g_path = "/tmp/qel2-fuzz-attr-" + std::to_string(getpid());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const pub_exp_copy_fmt fmt = static_cast<pub_exp_copy_fmt>(data[0] % 3);
  FILE *f = fopen(g_path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data + 1, 1, size - 1, f);
  fclose(f);

  uint8_t *attr = nullptr;
  uint32_t len = 0, count = 0;
  if (read_attr_file(g_path.data(), &attr, &len, &count, fmt) == 0) {
    if (!attr || len > 4096) __builtin_trap();
    free(attr);
  } else if (attr) {
    __builtin_trap();  // a failure hands back no template
  }
  unlink(g_path.c_str());

  // The readers directly, near the end of the buffer.
  static uint8_t buf[4096];
  std::string copy(reinterpret_cast<const char *>(data + 1), size - 1);
  if (copy.empty()) return 0;
  FILE *m = fmemopen(copy.data(), copy.size(), "r");
  if (!m) return 0;
  Uint32 at = 4096 - (data[0] % 64);
  Attribute *place = reinterpret_cast<Attribute *>(buf + (at < 4096 - 8 ? at : 4096 - 8));
  Uint32 psize = at;
  switch (data[0] % 4) {
    case 0:
      copy_str_value(m, place, &psize);
      break;
    case 1:
      copy_byte_value(m, place, &psize);
      break;
    case 2:
      copy_int_value(m, place, &psize);
      break;
    default:
      copy_pub_exp_value(m, place, &psize, fmt);
      break;
  }
  fclose(m);
  return 0;
}
