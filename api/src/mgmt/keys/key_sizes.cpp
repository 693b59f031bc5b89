// Which sizes suit which secret key type, and the generation mechanism of
// each type.
#include <cstdio>

#include "mgmt/keys/keys_internal.h"

namespace qel2::mgmt {

namespace {

// Indexed by key type − 16 (types 16 to 31); 0: no generation mechanism.
constexpr Uint32 kSecretMechanisms[16] = {QEL2_MECH_GENERIC_SECRET_KEY_GEN,
                                          0,
                                          QEL2_MECH_RC4_KEY_GEN,
                                          0,
                                          0,
                                          QEL2_MECH_DES3_KEY_GEN,
                                          0,
                                          0,
                                          0,
                                          0,
                                          0,
                                          0,
                                          0,
                                          0,
                                          0,
                                          QEL2_MECH_AES_KEY_GEN};

}  // namespace

Uint32 secret_key_mechanism(Uint32 key_type) {
  if (key_type < KEY_TYPE_GENERIC_SECRET || key_type > KEY_TYPE_AES) return 0;
  return kSecretMechanisms[key_type - KEY_TYPE_GENERIC_SECRET];
}

}  // namespace qel2::mgmt

extern "C" QEL2_EXPORT Uint8 is_valid_symmetric_key_type_size(Uint32 ulKeyType, Uint32 ulKeySize) {
  bool ok = false;
  switch (ulKeyType) {
    case KEY_TYPE_GENERIC_SECRET:
      ok = ulKeySize <= 4096;
      break;
    case KEY_TYPE_RC4:
      ok = ulKeySize <= 256;
      break;
    case KEY_TYPE_DES:
      break;  // no size: DES keys are not generated
    case KEY_TYPE_DES3:
      ok = ulKeySize == 24;
      break;
    case KEY_TYPE_AES:
      ok = ulKeySize == 16 || ulKeySize == 24 || ulKeySize == 32;
      break;
    default:
      return 0;
  }
  if (!ok) printf("\n Error passed key size %u invalid for key type %u\n", ulKeySize, ulKeyType);
  return ok ? 1 : 0;
}
