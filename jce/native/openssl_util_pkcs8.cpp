// The components of a PKCS#8 RSA private key as fixed-width big-endian
// fields, the layout key import and the HSM's key values use.
#define OPENSSL_API_COMPAT 30000
#define OPENSSL_NO_DEPRECATED
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "qel2_errors.h"
#include "qel2_openssl_util.h"

namespace {

struct BnFree {
  void operator()(BIGNUM *b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

struct Pkcs8Free {
  void operator()(PKCS8_PRIV_KEY_INFO *p) const { PKCS8_PRIV_KEY_INFO_free(p); }
};
struct PkeyFree {
  void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};

Bn get_bn(const EVP_PKEY *pkey, const char *name) {
  BIGNUM *b = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, name, &b) != 1) return nullptr;
  return Bn(b);
}

size_t bytes_of(const Bn &b) { return b ? static_cast<size_t>(BN_num_bytes(b.get())) : 0; }

// Writes a value right-aligned into a field that is already zero.
void put_right_aligned(Uint8 *field, size_t width, const Bn &value) {
  if (value) BN_bn2binpad(value.get(), field, static_cast<int>(width));
}

}  // namespace

extern "C" {

Uint32 getRawKeyFromRsaPkcs8(Uint8 *pinKey, Uint32 inKeyLen, Uint8 *pOutKey, Uint32 *pulKeyLen,
                             Uint32 *ulModLen) {
  if (!pinKey || !ulModLen || !pOutKey || !pulKeyLen) return ERR_ARGUMENTS_BAD;

  const unsigned char *der = pinKey;
  std::unique_ptr<PKCS8_PRIV_KEY_INFO, Pkcs8Free> info(
      d2i_PKCS8_PRIV_KEY_INFO(nullptr, &der, static_cast<long>(inKeyLen)));
  if (!info) return ERR_KEY_INCONSISTENT;
  std::unique_ptr<EVP_PKEY, PkeyFree> pkey(EVP_PKCS82PKEY(info.get()));
  if (!pkey) {
    puts("failed to convert to private key format\n");
    return ERR_KEY_INCONSISTENT;
  }
  if (!EVP_PKEY_is_a(pkey.get(), "RSA") && !EVP_PKEY_is_a(pkey.get(), "RSA-PSS")) {
    puts("failed to convert to get RSA key \n");
    return ERR_KEY_INCONSISTENT;
  }

  const Bn n = get_bn(pkey.get(), OSSL_PKEY_PARAM_RSA_N);
  const Bn e = get_bn(pkey.get(), OSSL_PKEY_PARAM_RSA_E);
  const Bn d = get_bn(pkey.get(), OSSL_PKEY_PARAM_RSA_D);
  // Block order: q, d mod (q-1), p, d mod (p-1), q^-1 mod p.
  const Bn crt[5] = {get_bn(pkey.get(), OSSL_PKEY_PARAM_RSA_FACTOR2),
                     get_bn(pkey.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2),
                     get_bn(pkey.get(), OSSL_PKEY_PARAM_RSA_FACTOR1),
                     get_bn(pkey.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1),
                     get_bn(pkey.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1)};

  const size_t mod = bytes_of(n);
  if (mod == 0 || bytes_of(d) == 0) {
    puts("Incorrect modulus or priv_exp size \n");
    return ERR_KEY_INCONSISTENT;
  }
  size_t present = 0;
  for (const Bn &c : crt) present += c ? 1 : 0;
  if (present != 0 && present != 5) {
    puts("failed to get valid CRT components\n");
    return ERR_KEY_INCONSISTENT;
  }
  const size_t half = mod / 2;
  bool sizes_ok = bytes_of(d) <= mod && bytes_of(e) <= mod;
  for (const Bn &c : crt) sizes_ok = sizes_ok && bytes_of(c) <= half;
  if (!sizes_ok) {
    puts("Incorrect RSA component sizes\n");
    return ERR_KEY_INCONSISTENT;
  }

  const uint64_t needed = 3 * uint64_t{mod} + 5 * uint64_t{half};
  if (needed > 0xFFFFFFFFu) return ERR_KEY_INCONSISTENT;
  if (*pulKeyLen < needed) {
    *pulKeyLen = static_cast<Uint32>(needed);
    return ERR_BUFFER_TOO_SMALL;
  }
  // Every field starts zeroed: the values are right-aligned, and a key
  // without CRT components leaves those five fields empty.
  memset(pOutKey, 0, needed);
  Uint8 *out = pOutKey;
  put_right_aligned(out, mod, n);
  out += mod;
  put_right_aligned(out, mod, d);
  out += mod;
  for (const Bn &c : crt) {
    put_right_aligned(out, half, c);
    out += half;
  }
  put_right_aligned(out, mod, e);
  *ulModLen = static_cast<Uint32>(mod);
  *pulKeyLen = static_cast<Uint32>(needed);
  return 0;
}

}  // extern "C"
