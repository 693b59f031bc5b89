// Hex dump of a buffer between two copies of a tag.
#include <cstdio>

#include "qel2_helpers.h"

void hex_dump(char *tag, unsigned char *data, Uint32 len) {
  const char *t = tag ? tag : "";
  printf("%s", t);
  for (Uint32 i = 0; data && i < len; ++i) {
    if (i % 16 == 0) printf("\n%08x:", i);
    printf("%02x ", data[i]);
  }
  printf("\n%s\n", t);
}
