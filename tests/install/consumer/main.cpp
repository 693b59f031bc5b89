// Starts the library, reads the HSM's serial number and shuts down: enough to
// show that the installed headers, the imported target and libqel2.so work
// together in a C++ program built outside the source tree.
#include <qel2.h>

#include <cstdio>
#include <cstring>

int main() {
  Uint32 app = 0;
  Uint32 r = Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app);
  if (r != 0) {
    std::printf("start: 0x%08x %s\n", r, reinterpret_cast<const char *>(Qel2ResultAsString(r)));
    Qel2SDKCleanup();
    return 1;
  }
  HSMInfo info{};
  r = Qel2GetHSMInfo(0, &info);
  if (r == 0)
    std::printf("consumer: HSM serial number %.*s\n",
                static_cast<int>(strnlen(reinterpret_cast<const char *>(info.serialNumber),
                                         sizeof info.serialNumber)),
                reinterpret_cast<const char *>(info.serialNumber));
  else
    std::printf("HSM information: 0x%08x\n", r);
  Uint32 s = Qel2Shutdown2(app);
  if (s != 0) Qel2SDKCleanup();
  return r == 0 && s == 0 ? 0 : 1;
}
