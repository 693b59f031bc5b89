// What the bridge needs of the PSS helpers besides their exported entry points.
#ifndef QEL2_JCE_OPENSSL_UTIL_PSS_H
#define QEL2_JCE_OPENSSL_UTIL_PSS_H

#include "qel2_defs.h"

namespace jce {

// Whether tzl_verify_rsa_pss_padding accepts this hash type, modulus size and
// salt length (printing its message when not), so that a verification that
// could never check is refused before the exponentiation is requested.
bool pss_verify_limits_hold(HashType hType, int modSize, int sLen);

}  // namespace jce

#endif
