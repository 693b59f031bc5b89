// Numbering tables: compact indices of a caller into OpenSSL curve numbers
// and the SDK's key types and mechanism numbers.
#include <cstdio>
#include <iterator>

#include "qel2_openssl_util.h"

namespace {

constexpr int kNotInTable = -1;  // 0xFFFFFFFF

// Index 0 is no curve; the prime curves that came later follow the binary ones.
constexpr int kCurveNumbers[] = {
    0,
    409,  // UTIL_EC_CURVE_ID_X9_62_prime192v1
    415,  // UTIL_EC_CURVE_ID_X9_62_prime256v1
    721,  // UTIL_EC_CURVE_ID_sect163k1
    723,  // UTIL_EC_CURVE_ID_sect163r2
    726,  // UTIL_EC_CURVE_ID_sect233k1
    727,  // UTIL_EC_CURVE_ID_sect233r1
    729,  // UTIL_EC_CURVE_ID_sect283k1
    730,  // UTIL_EC_CURVE_ID_sect283r1
    731,  // UTIL_EC_CURVE_ID_sect409k1
    732,  // UTIL_EC_CURVE_ID_sect409r1
    733,  // UTIL_EC_CURVE_ID_sect571k1
    734,  // UTIL_EC_CURVE_ID_sect571r1
    713,  // UTIL_EC_CURVE_ID_secp224r1
    715,  // UTIL_EC_CURVE_ID_secp384r1
    716,  // UTIL_EC_CURVE_ID_secp521r1
    714,  // UTIL_EC_CURVE_ID_secp256k1
};

struct KeyTypePair {
  Uint32 evp_type;
  int key_type;
};
constexpr KeyTypePair kKeyTypes[] = {
    {6, 0},    // RSA: KEY_TYPE_RSA
    {116, 1},  // DSA: KEY_TYPE_DSA
    {408, 3},  // EC: KEY_TYPE_EC
};

constexpr int kWrapMechanisms[] = {
    4229,  // AES-CBC with padding
    4227,  // AES-CBC
    309,   // 3DES
    307,   // 3DES
    4241,  // AES key wrap with padding (RFC 5649)
    4240,  // AES key wrap (RFC 3394)
    310,   // 3DES with padding
    4180,  // RSA-AES
    9,     // RSA-OAEP
    4231,  // AES-GCM
};

// RSA and RSA-PSS run SHA-1, -256, -384, -512, -224; DSA and ECDSA run
// SHA-1, -224, -256, -384, -512.
constexpr int kSignMechanisms[] = {
    6,    64,   65,   66,   70,    // RSA PKCS#1 v1.5
    14,   67,   68,   69,   71,    // RSA-PSS
    18,   19,   20,   21,   22,    // DSA
    4162, 4166, 4163, 4164, 4165,  // ECDSA
};

constexpr int kDeriveMechanisms[] = {4176, 33};

template <size_t N>
int lookup(const int (&table)[N], Uint32 index) {
  return index < N ? table[index] : kNotInTable;
}

}  // namespace

extern "C" {

int get_openssl_curve_id(int id) {
  if (id < 1 || id >= static_cast<int>(std::size(kCurveNumbers))) {
    printf("Invalid EC Curve ID %d\n", id);
    return 0;
  }
  return kCurveNumbers[id];
}

int get_key_type(Uint32 evp_pkey_type) {
  for (const KeyTypePair &k : kKeyTypes)
    if (k.evp_type == evp_pkey_type) return k.key_type;
  return kNotInTable;
}

int get_wrap_mechanism(Uint32 ulMech) { return lookup(kWrapMechanisms, ulMech); }
int get_sign_mechanism(Uint32 ulMech) { return lookup(kSignMechanisms, ulMech); }
int get_derive_mechanism(Uint32 ulMech) { return lookup(kDeriveMechanisms, ulMech); }

}  // extern "C"
