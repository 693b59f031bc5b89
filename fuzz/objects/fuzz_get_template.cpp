// Arbitrary attribute data, as an all-attributes read of a key returns it,
// through the rebuilding of a creation template. Whatever comes back must be
// a well-formed template within its 4096-byte buffer.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "common/template/attr_walk.h"
#include "mgmt/objects/objects_internal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Uint32 tmpl_size = 0, count = 0;
  Uint8 *tmpl = build_template_from_attributes(data, size, &tmpl_size, &count);
  if (!tmpl) return 0;
  if (tmpl_size > 4096 || count < 1) abort();
  qel2::tmpl::AttrWalker walk(tmpl, tmpl_size);
  qel2::tmpl::AttrView a;
  bool saw_access = false;
  while (walk.next(&a)) saw_access |= a.type == OBJ_ATTR_ACCESS;
  if (walk.malformed() || walk.count() != count || walk.offset() != tmpl_size || !saw_access)
    abort();
  free(tmpl);
  return 0;
}
