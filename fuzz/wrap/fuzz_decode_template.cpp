// The wrapped-key-with-template decoder on arbitrary blobs: the first byte
// picks the location and mechanism, the rest is the blob, in an exact-size
// heap block (a read or write past it is a finding). A refused blob must be
// left as it was; an accepted one may only have its token value changed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "qel2_wrap.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 9000) return 0;
  static const Uint32 kMechs[] = {9, 310, 4180, 4241, 4240, 4242, 0};
  const Uint8 location = (data[0] & 0x80) ? 1 : (data[0] & 0x40) ? 0 : 255;
  const Uint32 mech = kMechs[(data[0] & 0x3F) % (sizeof kMechs / sizeof kMechs[0])];
  const size_t len = size - 1;
  std::unique_ptr<uint8_t[]> blob(new uint8_t[len ? len : 1]);
  if (len) std::memcpy(blob.get(), data + 1, len);
  Uint8 *tmpl = nullptr;
  Uint32 t_len = 0, count = 0;
  const Uint32 off =
      decodeTemplate(blob.get(), static_cast<Uint32>(len), location, mech, &tmpl, &t_len, &count);
  if (off == 0) {
    if (len && std::memcmp(blob.get(), data + 1, len) != 0) abort();
    return 0;
  }
  if (off != t_len + 8u || off >= len || tmpl != blob.get() + 8) abort();
  return 0;
}
