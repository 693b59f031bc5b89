// Sort order of key file names "key_<n>" and "key_<node>_<n>".
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "qel2_helpers.h"

namespace {

int underscores_in_name(const char *path) {
  const char *slash = strrchr(path, '/');
  const char *name = slash ? slash + 1 : path;
  int n = 0;
  for (; *name; ++name)
    if (*name == '_') ++n;
  return n;
}

// The number that orders a path; 0 when it has none.
unsigned long order_number(const char *path, bool node_form) {
  const char *key = strstr(path, "key_");
  if (!key) return 0;
  unsigned long first = 0;
  unsigned long second = 0;
  if (node_form) return sscanf(key, "key_%lu_%lu\n", &first, &second) == 2 ? second : 0;
  return sscanf(key, "key_%lu\n", &first) == 1 ? first : 0;
}

}  // namespace

int cmpstring_nodeid(const void *p1, const void *p2) {
  const char *a = p1 ? *static_cast<const char *const *>(p1) : nullptr;
  const char *b = p2 ? *static_cast<const char *const *>(p2) : nullptr;
  if (!a || !b) {
    printf("Null parameters are passed");
    return 0;
  }
  const bool node_form = underscores_in_name(a) == 2;
  const uint32_t na = static_cast<uint32_t>(order_number(a, node_form));
  const uint32_t nb = static_cast<uint32_t>(order_number(b, node_form));
  return static_cast<int32_t>(na - nb);
}
