// Key files as load_pkey reads them, in both formats and for both key
// types: any bytes give a key or null, never a crash or a prompt.
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qel2_openssl_util.h"

namespace {

std::string file_path() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/qel2-fuzz-kek.XXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    return std::string(tmpl);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The helper reports every refusal on standard output.
  if (!freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = file_path();
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  for (int format : {QEL2_KEY_FORMAT_DER, QEL2_KEY_FORMAT_PEM})
    for (int type : {QEL2_KEY_PUBLIC, QEL2_KEY_PRIVATE})
      EVP_PKEY_free(load_pkey(path.c_str(), format, type));
  return 0;
}
