// The wrap mechanisms: IV lengths and initial values, declared once.
#include <iterator>

#include "mgmt/wrap/wrap_internal.h"

namespace qel2::wrap {

namespace {

constexpr uint64_t kRfc3394Iv = 0xA6A6A6A6A6A6A6A6ull;
// RFC 5649's constant with the message length indicator left 0.
constexpr uint64_t kRfc5649Iv = 0xA65959A600000000ull;

constexpr MechInfo kMechs[] = {
    {CRYPTO_MECH_RSA_PKCS_KEY_WRAP, 0, 0},
    {CRYPTO_MECH_RSA_OAEP_KEY_WRAP, 0, 0},
    {306, 0, 0},
    {307, 0, 0},
    {309, 8, 0},
    {CRYPTO_MECH_DES3_KEY_WRAP, 4, 0},
    {CRYPTO_MECH_RSA_AES_KEY_WRAP, 0, 0},
    {CRYPTO_MECH_AES_CBC_PAD, 16, 0},
    {CRYPTO_MECH_AES_GCM, 16, 0},
    {CRYPTO_MECH_AES_KEY_WRAP, 8, kRfc3394Iv},
    {CRYPTO_MECH_AES_KEY_WRAP_PAD, 8, kRfc5649Iv},
    {CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD, 8, kRfc3394Iv},
};

}  // namespace

MechInfo mech_info(uint32_t mech) {
  for (const MechInfo &m : kMechs)
    if (m.mech == mech) return m;
  return {mech, 0, 0};
}

uint64_t iv_value(const Uint8 *iv) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | iv[i];
  return v;
}

bool zero_iv_allowed(uint32_t mech) {
  return mech == CRYPTO_MECH_AES_KEY_WRAP || mech == CRYPTO_MECH_AES_KEY_WRAP_PAD ||
         mech == CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD || mech == CRYPTO_MECH_DES3_KEY_WRAP;
}

bool rsa_mech(uint32_t mech) {
  return mech == CRYPTO_MECH_RSA_PKCS_KEY_WRAP || mech == CRYPTO_MECH_RSA_OAEP_KEY_WRAP ||
         mech == CRYPTO_MECH_RSA_AES_KEY_WRAP;
}

uint32_t sent_mech(uint32_t mech) {
  return mech == CRYPTO_MECH_RSA_PKCS_KEY_WRAP ? CRYPTO_MECH_RSA_OAEP_KEY_WRAP : mech;
}

uint32_t pkcs_flag(uint32_t mech) {
  return mech == CRYPTO_MECH_RSA_PKCS_KEY_WRAP ? QEL2_WRAP_IS_PKCS_PAD : 0;
}

bool pick_iv(uint32_t mech, const Uint8 *iv, uint32_t iv_len, const Uint8 **out,
             uint32_t *out_len) {
  static const Uint8 kZeros[16] = {};
  if (iv) {
    *out = iv;
    *out_len = iv_len;
    return true;
  }
  *out = kZeros;
  *out_len = 0;
  if (zero_iv_allowed(mech)) {
    *out_len = mech_info(mech).iv_len;
    return true;
  }
  return rsa_mech(mech);
}

bool checked_key_mech(uint32_t mech) {
  switch (mech) {
    case CRYPTO_MECH_AES_KEY_WRAP:
    case CRYPTO_MECH_AES_KEY_WRAP_PAD:
    case CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD:
    case CRYPTO_MECH_RSA_AES_KEY_WRAP:
    case CRYPTO_MECH_RSA_PKCS_KEY_WRAP:
    case CRYPTO_MECH_RSA_OAEP_KEY_WRAP:
    case CRYPTO_MECH_DES3_KEY_WRAP:
      return true;
    default:
      return false;
  }
}

bool zero_iv8(const Uint8 *iv, uint32_t iv_len) {
  if (!iv || iv_len < 8) return false;
  for (int i = 0; i < 8; ++i)
    if (iv[i]) return false;
  return true;
}

void iv8_of(const Uint8 *iv, uint32_t iv_len, Uint8 out[8]) {
  for (uint32_t i = 0; i < 8; ++i) out[i] = iv && i < iv_len ? iv[i] : 0;
}

}  // namespace qel2::wrap

extern "C" {

const Uint8 wrap_iv[16] = {0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6};

QEL2_EXPORT Uint32 get_key_wrap_iv_len(Uint32 ulMech) {
  return qel2::wrap::mech_info(ulMech).iv_len;
}

QEL2_EXPORT Uint64 get_key_wrap_initial_value(Uint32 ulMech) {
  return qel2::wrap::mech_info(ulMech).initial_value;
}

}  // extern "C"
