// Argument checks for hash lengths, key classes and key types.
#include "qel2_helpers.h"

namespace {

template <typename T, size_t N>
bool one_of(T v, const T (&set)[N]) {
  for (T s : set)
    if (s == v) return true;
  return false;
}

constexpr Uint16 kHashLengths[] = {0, 16, 20, 28, 32, 48, 64};
constexpr Uint32 kAnyValue = 0xFFFFFFFFu;
// Public, private and secret key objects.
constexpr Uint32 kKeyClasses[] = {2, 3, 4, kAnyValue};
// RSA, DSA, EC, generic secret, RC4, DES, DES3, AES.
constexpr Uint32 kKeyTypes[] = {0, 1, 3, 16, 18, 19, 21, 31, kAnyValue};

}  // namespace

int is_valid_hashlen(Uint16 ulHashLen) { return one_of(ulHashLen, kHashLengths) ? 1 : 0; }

int validate_key_class_arg(Uint32 ulKeyClass) { return one_of(ulKeyClass, kKeyClasses) ? 1 : 0; }

int validate_key_type_arg(Uint32 ulKeyType) { return one_of(ulKeyType, kKeyTypes) ? 1 : 0; }
