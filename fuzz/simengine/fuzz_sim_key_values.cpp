// Feeds arbitrary bytes to the stand-in engine's readers of key values (what
// unwrap and import hand it) and signature forms: the first byte picks the
// reader and the curve, the rest is the value. Whatever decodes must export
// again as it came in, or as the canonical form of the same key.
#include <openssl/obj_mac.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "hsm/engine/crypto.h"
#include "hsm/engine/values.h"

namespace eng = hsmsim::hsm::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  std::span<const uint8_t> in(data + 1, size - 1);
  static constexpr int kCurves[] = {NID_X9_62_prime256v1, NID_secp384r1, NID_secp521r1,
                                    NID_secp256k1};
  int curve = kCurves[(data[0] >> 4) % 4];
  eng::Key k;
  eng::Bytes out, der;
  switch (data[0] & 0x0F) {
    case 0:
      if (eng::rsa_private_from_block(in, k) == 0) (void)eng::rsa_private_block(k);
      break;
    case 1:
      if (eng::ec_private_from_scalar(curve, in, k) == 0 && eng::public_data(k).empty()) abort();
      break;
    case 2:
      if (eng::ec_public_from_point(curve, in, k) == 0 &&
          eng::ec_public_point(k) != eng::Bytes(in.begin(), in.end()))
        abort();
      break;
    case 3: {
      // p, q, g and x in four equal parts.
      size_t n = in.size() / 4;
      eng::DsaDomain d{{in.begin(), in.begin() + n},
                       {in.begin() + n, in.begin() + 2 * n},
                       {in.begin() + 2 * n, in.begin() + 3 * n}};
      if (eng::dsa_private_from_value(d, in.subspan(3 * n), k) == 0) (void)eng::public_data(k);
      break;
    }
    case 4:
      if (eng::ecdsa_raw(in, 66, out) && !eng::ecdsa_der(out, der)) abort();
      break;
    case 5:
      (void)eng::ecdsa_der(in, out);
      break;
    case 6: {
      size_t half = in.size() / 2;
      (void)eng::ec_add(curve, in.subspan(0, half), in.subspan(half), out);
      break;
    }
    default:
      break;
  }
  return 0;
}
