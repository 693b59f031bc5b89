// The template validator on arbitrary templates: first byte the mode, the
// rest the template, in an exact-size heap block.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "qel2_template.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The validator reports on standard output; keep the run quiet and fast.
  if (!freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const Uint8 kModes[] = {TEMPLATE_MODE_CREATE,        TEMPLATE_MODE_KEY_GEN,
                                 TEMPLATE_MODE_SET_ATTRIBUTE, TEMPLATE_MODE_DERIVE,
                                 TEMPLATE_MODE_UNWRAP,        TEMPLATE_MODE_FIND};
  const Uint8 mode = kModes[data[0] % sizeof kModes];
  const size_t len = size - 1;
  std::unique_ptr<uint8_t[]> tmpl(new uint8_t[len ? len : 1]);
  if (len) std::memcpy(tmpl.get(), data + 1, len);
  Uint32 count = 0;
  validate_template_from_user_ext(static_cast<Uint32>(len), tmpl.get(), &count, mode);
  return 0;
}
