#include "hsm/engine/generate.h"

#include <openssl/core_names.h>
#include <openssl/objects.h>

#include <bit>

#include "hsm/codes.h"
#include "hsm/engine/ossl.h"
#include "hsm/engine/secure.h"
#include "hsm/engine/values.h"
#include "hsm/objects/attributes.h"

namespace hsmsim::hsm::engine {

using ossl::Ptr;

void set_odd_parity(std::span<uint8_t> key) {
  for (auto &b : key)
    if (std::popcount(static_cast<uint8_t>(b & 0xFE)) % 2 == 0)
      b = static_cast<uint8_t>(b | 1);
    else
      b = static_cast<uint8_t>(b & 0xFE);
}

uint32_t generate_secret(uint8_t key_type, size_t len, Key &out) {
  if (len == 0 || len > 4096) return code::kKeySizeRange;
  std::vector<uint8_t> v(len);
  fill_random(v);
  if (key_type == obj::key_type::kDes || key_type == obj::key_type::kDes3) set_odd_parity(v);
  out = Key::secret(v);
  explicit_bzero(v.data(), v.size());
  return code::kOk;
}

namespace {

// Runs a key generation of `ctx` (initialised for keygen) into `out`.
uint32_t keygen(EVP_PKEY_CTX *ctx, Key &out) {
  EVP_PKEY *k = nullptr;
  if (EVP_PKEY_generate(ctx, &k) != 1) return code::kError;
  out = Key::adopt(k);
  return out.empty() ? code::kError : code::kOk;
}

}  // namespace

uint32_t generate_rsa(uint32_t modulus_bits, std::span<const uint8_t> exponent, Key &out) {
  if (modulus_bits <= 512 || modulus_bits > 8192 || modulus_bits % 256 != 0)
    return code::kKeySizeRange;
  Ptr<BIGNUM> e = ossl::bn(exponent);
  if (!e || BN_num_bits(e.get()) > 64 || !BN_is_odd(e.get()) || BN_is_one(e.get()))
    return code::kAttributeValueInvalid;
  Ptr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  Ptr<OSSL_PARAM_BLD> bld(OSSL_PARAM_BLD_new());
  if (!ctx || !bld ||
      !OSSL_PARAM_BLD_push_size_t(bld.get(), OSSL_PKEY_PARAM_RSA_BITS, modulus_bits) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e.get()))
    return code::kError;
  Ptr<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(bld.get()));
  if (!params || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_params(ctx.get(), params.get()) != 1)
    return code::kError;
  return keygen(ctx.get(), out);
}

uint32_t generate_dsa(uint32_t prime_bits, Key &out) {
  size_t pbits = prime_bits, qbits = 0;
  switch (prime_bits) {
    case 1024:
      qbits = 160;
      break;
    case 2048:
    case 3072:
      qbits = 256;
      break;
    default:
      return code::kKeySizeRange;
  }
  Ptr<EVP_PKEY_CTX> pctx(EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr));
  OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_PKEY_PARAM_FFC_PBITS, &pbits),
                         OSSL_PARAM_construct_size_t(OSSL_PKEY_PARAM_FFC_QBITS, &qbits),
                         OSSL_PARAM_construct_end()};
  EVP_PKEY *dom = nullptr;
  if (!pctx || EVP_PKEY_paramgen_init(pctx.get()) != 1 ||
      EVP_PKEY_CTX_set_params(pctx.get(), params) != 1 || EVP_PKEY_paramgen(pctx.get(), &dom) != 1)
    return code::kError;
  Ptr<EVP_PKEY_CTX> kctx(EVP_PKEY_CTX_new_from_pkey(nullptr, dom, nullptr));
  EVP_PKEY_free(dom);
  if (!kctx || EVP_PKEY_keygen_init(kctx.get()) != 1) return code::kError;
  return keygen(kctx.get(), out);
}

uint32_t generate_dsa(const DsaDomain &d, Key &out) {
  ossl::Params params;
  params.number(OSSL_PKEY_PARAM_FFC_P, d.p)
      .number(OSSL_PKEY_PARAM_FFC_Q, d.q)
      .number(OSSL_PKEY_PARAM_FFC_G, d.g);
  EVP_PKEY *dom = params.build("DSA", EVP_PKEY_KEY_PARAMETERS);
  if (!dom) return code::kAttributeValueInvalid;
  Ptr<EVP_PKEY_CTX> kctx(EVP_PKEY_CTX_new_from_pkey(nullptr, dom, nullptr));
  EVP_PKEY_free(dom);
  if (!kctx || EVP_PKEY_keygen_init(kctx.get()) != 1) return code::kAttributeValueInvalid;
  uint32_t r = keygen(kctx.get(), out);
  return r == code::kOk ? r : code::kAttributeValueInvalid;
}

uint32_t generate_ec(int curve_nid, Key &out) {
  const char *name = curve_nid > 0 ? OBJ_nid2sn(curve_nid) : nullptr;
  Ptr<EC_GROUP> g(name ? EC_GROUP_new_by_curve_name(curve_nid) : nullptr);
  if (!g) return code::kAttributeValueInvalid;
  Ptr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char *>(name), 0),
      OSSL_PARAM_construct_end()};
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_params(ctx.get(), params) != 1)
    return code::kAttributeValueInvalid;
  return keygen(ctx.get(), out);
}

}  // namespace hsmsim::hsm::engine
