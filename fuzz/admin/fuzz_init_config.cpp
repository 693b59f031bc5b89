// The two parsers of an HSM configuration: a configuration file of
// name=value lines with arbitrary contents, and the same bytes cut at their
// NULs into name and value strings. The library is not started, so a
// configuration that parses ends at the transport without traffic.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "qel2_admin.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!freopen("/dev/null", "w", stdout)) return 0;
  g_path = "/tmp/qel2-fuzz-init-" + std::to_string(getpid());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *f = fopen(g_path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  Qel2InitHSM(0, reinterpret_cast<Int8 *>(g_path.data()));
  unlink(g_path.c_str());

  std::string text(reinterpret_cast<const char *>(data), size);
  text.push_back('\0');  // the last piece is terminated too
  std::vector<char *> params;
  for (size_t at = 0; at + 1 < text.size();) {
    params.push_back(&text[at]);
    at = text.find('\0', at);
    if (at == std::string::npos) break;
    ++at;
  }
  Qel2InitHSMNew(0, params.data(), static_cast<Uint32>(params.size()));
  return 0;
}
