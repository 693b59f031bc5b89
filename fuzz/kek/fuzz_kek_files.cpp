// Key files as load_pkey reads them, in both formats and for both key
// types: any bytes give a key or null, never a crash or a prompt.
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "qel2_openssl_util.h"

namespace {

char g_path[] = "/tmp/qel2-fuzz-kek.XXXXXX";

// One scratch file for the run, removed at exit.
const char *file_path() {
  static const bool made = [] {
    const int fd = mkstemp(g_path);
    if (fd < 0) return false;
    close(fd);
    atexit([] { unlink(g_path); });
    return true;
  }();
  return made ? g_path : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The helper reports every refusal on standard output.
  if (!freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *path = file_path();
  FILE *f = path ? fopen(path, "wb") : nullptr;
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  for (int format : {QEL2_KEY_FORMAT_DER, QEL2_KEY_FORMAT_PEM})
    for (int type : {QEL2_KEY_PUBLIC, QEL2_KEY_PRIVATE})
      EVP_PKEY_free(load_pkey(path, format, type));
  return 0;
}
