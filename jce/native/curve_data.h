// The six curves the cryptographic requests number (CurveId 0 to 5): their
// published domain parameters as big-endian byte strings, each value
// right-aligned in a field of the curve's prime length.
#ifndef QEL2_JCE_CURVE_DATA_H
#define QEL2_JCE_CURVE_DATA_H

#include <cstddef>

#include "qel2_crypto.h"

namespace jce {

struct ec_curve {
  const Uint8 *seed;
  const Uint8 *p;
  const Uint8 *a;
  const Uint8 *b;
  const Uint8 *x;  // base point G
  const Uint8 *y;
  const Uint8 *order;  // order n of G; every cofactor is 1
};

inline constexpr size_t kCurveCount = 6;

// curve[cid] for cid 0 to kCurveCount - 1. The values are taken from
// libcrypto's curves at the first use (once, whichever thread comes first)
// and stay for the life of the process.
struct curve_table {
  const ec_curve &operator[](int cid) const;
};
extern const curve_table curve;

// Bytes of a curve's seed (secp256k1 has none: 32 zero bytes); 0 for an
// unknown curve, or one libcrypto could not give.
size_t curve_seed_length(int cid);
// Bytes of p, a, b, x, y and order; 0 for an unknown curve, or one
// libcrypto could not give.
size_t curve_prime_length(int cid);

}  // namespace jce

#endif
