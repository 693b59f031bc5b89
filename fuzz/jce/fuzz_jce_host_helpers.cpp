// The bridge's host-side parsers on arbitrary bytes. First byte even: a
// PKCS#8 key split into components, the next 4 bytes the output capacity
// (the output buffer is exactly that long, so a write past it is caught).
// Odd: a PSS block of all remaining bytes checked against a fixed hash,
// with the hash type and salt length from the first byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "qel2_errors.h"
#include "qel2_openssl_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5) return 0;
  const uint8_t selector = data[0];
  if ((selector & 1) == 0) {
    const Uint32 capacity =
        (Uint32{data[1]} << 8 | data[2]) & 0x1FFF;  // up to 8 KiB: keys to 16384 bits
    std::vector<Uint8> der(data + 3, data + size);  // what arrived, no more
    std::vector<Uint8> out(capacity);
    Uint32 len = capacity, mod = 0;
    const Uint32 r =
        getRawKeyFromRsaPkcs8(der.data(), static_cast<Uint32>(der.size()), out.data(), &len, &mod);
    if (r == 0 && (len > capacity || mod == 0 || len != 3 * mod + 5 * (mod / 2))) abort();
    if (r == ERR_BUFFER_TOO_SMALL && len <= capacity) abort();
    return 0;
  }
  std::vector<unsigned char> em(data + 1, data + size);
  unsigned char hash[64] = {1, 2, 3};
  const HashType type = static_cast<HashType>(2 + (selector >> 1) % 5);
  const int salt = selector >> 4;
  tzl_verify_rsa_pss_padding(em.data(), hash, type, static_cast<int>(em.size()), salt);
  return 0;
}
