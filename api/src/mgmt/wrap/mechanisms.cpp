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
