#include "hsm/engine/values.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "hsm/codes.h"
#include "hsm/engine/ossl.h"

namespace hsmsim::hsm::engine {

using ossl::Ptr;

namespace {

constexpr uint32_t kBad = code::kAttributeValueInvalid;

Bytes bn_param(const Key &k, const char *name, size_t width = 0) {
  BIGNUM *raw = nullptr;
  if (!k.pkey() || EVP_PKEY_get_bn_param(k.pkey(), name, &raw) != 1) return {};
  Ptr<BIGNUM> b(raw);
  return ossl::bytes(b.get(), width);
}

bool all_zero(std::span<const uint8_t> s) {
  for (uint8_t b : s)
    if (b) return false;
  return true;
}

// The OpenSSL key must agree with itself (public and private halves).
bool consistent(EVP_PKEY *k) {
  Ptr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr));
  return ctx && EVP_PKEY_pairwise_check(ctx.get()) == 1;
}

uint32_t adopt(EVP_PKEY *k, bool check, Key &out) {
  Key key = Key::adopt(k);
  if (key.empty() || (check && !consistent(key.pkey()))) return kBad;
  out = std::move(key);
  return code::kOk;
}

size_t field_bytes(const EC_GROUP *g) { return (EC_GROUP_get_degree(g) + 7) / 8; }
size_t order_bytes(const EC_GROUP *g) { return (EC_GROUP_order_bits(g) + 7) / 8; }

}  // namespace

// ---- RSA ----

uint32_t rsa_private_from_block(std::span<const uint8_t> block, Key &out) {
  size_t len = block.size();
  size_t m = 0;
  for (size_t cand : {2 * len / 11, (2 * len + 5) / 11})
    if (cand > 0 && 3 * cand + 5 * (cand / 2) == len) m = cand;
  if (m == 0) return kBad;
  size_t h = m / 2;
  auto field = [&](size_t at, size_t w) { return block.subspan(at, w); };
  auto n = field(0, m), d = field(m, m), q = field(2 * m, h), dq = field(2 * m + h, h),
       p = field(2 * m + 2 * h, h), dp = field(2 * m + 3 * h, h), qinv = field(2 * m + 4 * h, h),
       e = field(2 * m + 5 * h, m);
  if (all_zero(n) || all_zero(d) || all_zero(e)) return kBad;
  ossl::Params params;
  params.number(OSSL_PKEY_PARAM_RSA_N, n)
      .number(OSSL_PKEY_PARAM_RSA_E, e)
      .number(OSSL_PKEY_PARAM_RSA_D, d);
  bool crt = !all_zero(block.subspan(2 * m, 5 * h));
  if (crt)
    params.number(OSSL_PKEY_PARAM_RSA_FACTOR1, p)
        .number(OSSL_PKEY_PARAM_RSA_FACTOR2, q)
        .number(OSSL_PKEY_PARAM_RSA_EXPONENT1, dp)
        .number(OSSL_PKEY_PARAM_RSA_EXPONENT2, dq)
        .number(OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qinv);
  return adopt(params.build("RSA", EVP_PKEY_KEYPAIR), crt, out);
}

Bytes rsa_private_block(const Key &k) {
  if (k.kind() != Kind::Rsa || !k.has_private()) return {};
  Bytes n = bn_param(k, OSSL_PKEY_PARAM_RSA_N);
  size_t m = n.size(), h = m / 2;
  Bytes out;
  auto add = [&](const char *name, size_t w) {
    Bytes v = bn_param(k, name, w);
    if (v.empty()) v.assign(w, 0);  // absent CRT components stay zero
    out.insert(out.end(), v.begin(), v.end());
  };
  add(OSSL_PKEY_PARAM_RSA_N, m);
  add(OSSL_PKEY_PARAM_RSA_D, m);
  add(OSSL_PKEY_PARAM_RSA_FACTOR2, h);
  add(OSSL_PKEY_PARAM_RSA_EXPONENT2, h);
  add(OSSL_PKEY_PARAM_RSA_FACTOR1, h);
  add(OSSL_PKEY_PARAM_RSA_EXPONENT1, h);
  add(OSSL_PKEY_PARAM_RSA_COEFFICIENT1, h);
  add(OSSL_PKEY_PARAM_RSA_E, m);
  return out;
}

uint32_t rsa_public_from(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent,
                         Key &out) {
  if (all_zero(modulus) || all_zero(exponent)) return kBad;
  ossl::Params params;
  params.number(OSSL_PKEY_PARAM_RSA_N, modulus).number(OSSL_PKEY_PARAM_RSA_E, exponent);
  return adopt(params.build("RSA", EVP_PKEY_PUBLIC_KEY), false, out);
}

Bytes rsa_modulus(const Key &k) {
  return k.kind() == Kind::Rsa ? bn_param(k, OSSL_PKEY_PARAM_RSA_N) : Bytes{};
}
Bytes rsa_exponent(const Key &k) {
  return k.kind() == Kind::Rsa ? bn_param(k, OSSL_PKEY_PARAM_RSA_E) : Bytes{};
}

// ---- EC ----

uint32_t ec_private_from_scalar(int curve_nid, std::span<const uint8_t> scalar, Key &out) {
  const EC_GROUP *g = ossl::group(curve_nid);
  if (!g || scalar.empty() || scalar.size() > order_bytes(g)) return kBad;
  Ptr<BIGNUM> k = ossl::bn(scalar);
  if (!k || BN_is_zero(k.get()) || BN_cmp(k.get(), EC_GROUP_get0_order(g)) >= 0) return kBad;
  Ptr<EC_POINT> pub(EC_POINT_new(g));
  if (!pub || EC_POINT_mul(g, pub.get(), k.get(), nullptr, nullptr, nullptr) != 1) return kBad;
  Bytes point(1 + 2 * field_bytes(g));
  if (EC_POINT_point2oct(g, pub.get(), POINT_CONVERSION_UNCOMPRESSED, point.data(), point.size(),
                         nullptr) != point.size())
    return kBad;
  ossl::Params params;
  params.text(OSSL_PKEY_PARAM_GROUP_NAME, OBJ_nid2sn(curve_nid))
      .number(OSSL_PKEY_PARAM_PRIV_KEY, k.get())
      .octets(OSSL_PKEY_PARAM_PUB_KEY, point);
  return adopt(params.build("EC", EVP_PKEY_KEYPAIR), false, out);
}

uint32_t ec_public_from_point(int curve_nid, std::span<const uint8_t> point, Key &out) {
  const EC_GROUP *g = ossl::group(curve_nid);
  if (!g || point.size() != 1 + 2 * field_bytes(g) || point[0] != 4) return kBad;
  ossl::Params params;
  params.text(OSSL_PKEY_PARAM_GROUP_NAME, OBJ_nid2sn(curve_nid))
      .octets(OSSL_PKEY_PARAM_PUB_KEY, point);
  return adopt(params.build("EC", EVP_PKEY_PUBLIC_KEY), false, out);
}

int ec_curve(const Key &k) { return k.kind() == Kind::Ec ? k.curve() : 0; }

Bytes ec_private_scalar(const Key &k) {
  const EC_GROUP *g = ossl::group(ec_curve(k));
  return g ? bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY, order_bytes(g)) : Bytes{};
}

Bytes ec_public_point(const Key &k) {
  if (k.kind() != Kind::Ec) return {};
  size_t len = 0;
  if (EVP_PKEY_get_octet_string_param(k.pkey(), OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0, &len) != 1)
    return {};
  Bytes out(len);
  if (EVP_PKEY_get_octet_string_param(k.pkey(), OSSL_PKEY_PARAM_PUB_KEY, out.data(), len, &len) !=
      1)
    return {};
  out.resize(len);
  return out;
}

// ---- DSA ----

namespace {
bool domain_ok(const DsaDomain &d) {
  return !all_zero(d.p) && !all_zero(d.q) && !all_zero(d.g) && d.q.size() < d.p.size();
}
ossl::Params dsa_params(const DsaDomain &d) {
  ossl::Params params;
  params.number(OSSL_PKEY_PARAM_FFC_P, d.p)
      .number(OSSL_PKEY_PARAM_FFC_Q, d.q)
      .number(OSSL_PKEY_PARAM_FFC_G, d.g);
  return params;
}
}  // namespace

uint32_t dsa_private_from_value(const DsaDomain &d, std::span<const uint8_t> x, Key &out) {
  if (!domain_ok(d) || x.empty()) return kBad;
  Ptr<BIGNUM> p = ossl::bn(d.p), q = ossl::bn(d.q), g = ossl::bn(d.g), bx = ossl::bn(x);
  Ptr<BIGNUM> y(BN_new());
  Ptr<BN_CTX> ctx(BN_CTX_new());
  if (!p || !q || !g || !bx || !y || !ctx || BN_is_zero(bx.get()) ||
      BN_cmp(bx.get(), q.get()) >= 0 || BN_cmp(g.get(), p.get()) >= 0 ||
      BN_mod_exp(y.get(), g.get(), bx.get(), p.get(), ctx.get()) != 1)
    return kBad;
  ossl::Params params = dsa_params(d);
  params.number(OSSL_PKEY_PARAM_PRIV_KEY, bx.get()).number(OSSL_PKEY_PARAM_PUB_KEY, y.get());
  return adopt(params.build("DSA", EVP_PKEY_KEYPAIR), false, out);
}

uint32_t dsa_public_from_value(const DsaDomain &d, std::span<const uint8_t> y, Key &out) {
  if (!domain_ok(d) || all_zero(y) || y.size() > d.p.size()) return kBad;
  ossl::Params params = dsa_params(d);
  params.number(OSSL_PKEY_PARAM_PUB_KEY, y);
  return adopt(params.build("DSA", EVP_PKEY_PUBLIC_KEY), false, out);
}

DsaDomain dsa_domain(const Key &k) {
  if (k.kind() != Kind::Dsa) return {};
  return {bn_param(k, OSSL_PKEY_PARAM_FFC_P), bn_param(k, OSSL_PKEY_PARAM_FFC_Q),
          bn_param(k, OSSL_PKEY_PARAM_FFC_G)};
}
Bytes dsa_private_value(const Key &k) {
  if (k.kind() != Kind::Dsa) return {};
  return bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY, bn_param(k, OSSL_PKEY_PARAM_FFC_Q).size());
}
Bytes dsa_public_value(const Key &k) {
  if (k.kind() != Kind::Dsa) return {};
  return bn_param(k, OSSL_PKEY_PARAM_PUB_KEY, bn_param(k, OSSL_PKEY_PARAM_FFC_P).size());
}

// ---- any kind ----

Key public_key_from_pem(std::span<const uint8_t> pem) {
  Ptr<BIO> in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return Key::adopt(in ? PEM_read_bio_PUBKEY(in.get(), nullptr, nullptr, nullptr) : nullptr);
}

Bytes public_key_pem(const Key &k) {
  Ptr<BIO> out(BIO_new(BIO_s_mem()));
  if (!out || !k.pkey() || PEM_write_bio_PUBKEY(out.get(), k.pkey()) != 1) return {};
  char *data = nullptr;
  const long n = BIO_get_mem_data(out.get(), &data);
  return n > 0 ? Bytes(data, data + n) : Bytes{};
}

namespace {

// The DER SubjectPublicKeyInfo of the public key of algorithm `alg` that
// `params` describe; false when a part is missing or OpenSSL refuses it.
bool spki(ossl::Params &params, bool parts_ok, const char *alg, Bytes &out) {
  if (!parts_ok) return false;
  Ptr<EVP_PKEY> key(params.build(alg, EVP_PKEY_PUBLIC_KEY));
  int n = key ? i2d_PUBKEY(key.get(), nullptr) : 0;
  if (n <= 0) return false;
  out.assign(static_cast<size_t>(n), 0);
  unsigned char *p = out.data();
  return i2d_PUBKEY(key.get(), &p) == n;
}

}  // namespace

bool rsa_public_der(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent,
                    Bytes &out) {
  ossl::Params p;
  p.number(OSSL_PKEY_PARAM_RSA_N, modulus).number(OSSL_PKEY_PARAM_RSA_E, exponent);
  return spki(p, !modulus.empty() && !exponent.empty(), "RSA", out);
}

bool ec_public_der(int curve_nid, std::span<const uint8_t> point, Bytes &out) {
  const char *group = curve_nid > 0 ? OBJ_nid2sn(curve_nid) : nullptr;
  ossl::Params p;
  p.text(OSSL_PKEY_PARAM_GROUP_NAME, group).octets(OSSL_PKEY_PARAM_PUB_KEY, point);
  return spki(p, group && !point.empty(), "EC", out);
}

bool dsa_public_der(const DsaDomain &d, std::span<const uint8_t> y, Bytes &out) {
  ossl::Params p = dsa_params(d);
  p.number(OSSL_PKEY_PARAM_PUB_KEY, y);
  return spki(p, !d.p.empty() && !d.q.empty() && !d.g.empty() && !y.empty(), "DSA", out);
}

Bytes private_value(const Key &k) {
  switch (k.kind()) {
    case Kind::Secret:
      return Bytes(k.bytes().begin(), k.bytes().end());
    case Kind::Rsa:
      return rsa_private_block(k);
    case Kind::Ec:
      return k.has_private() ? ec_private_scalar(k) : Bytes{};
    case Kind::Dsa:
      return k.has_private() ? dsa_private_value(k) : Bytes{};
    default:
      return {};
  }
}

Bytes public_data(const Key &k) {
  if (k.kind() == Kind::Ec) return ec_public_point(k);
  if (k.kind() == Kind::Dsa) return dsa_public_value(k);
  return {};
}

}  // namespace hsmsim::hsm::engine
