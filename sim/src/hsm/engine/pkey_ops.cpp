// Public-key operations: signatures, RSA encryption, modular
// exponentiation, key agreement and elliptic-curve point arithmetic.
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/rsa.h>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/ossl.h"

namespace hsmsim::hsm::engine {

using ossl::Ptr;

static_assert(kPadPkcs1 == RSA_PKCS1_PADDING && kPadNone == RSA_NO_PADDING &&
              kPadOaep == RSA_PKCS1_OAEP_PADDING && kPadPss == RSA_PKCS1_PSS_PADDING);
static_assert(kSaltDigest == RSA_PSS_SALTLEN_DIGEST && kSaltAuto == RSA_PSS_SALTLEN_AUTO);

namespace {

bool asymmetric(const Key &k) { return k.pkey() != nullptr; }

// Applies the RSA padding choices to an initialised context; DSA and EC
// take only the digest.
bool set_padding(EVP_PKEY_CTX *ctx, const Key &k, const RsaPadding &p, bool signing) {
  if (k.kind() != Kind::Rsa) {
    const EVP_MD *md = p.md && signing ? ossl::md(p.md) : nullptr;
    return !md || EVP_PKEY_CTX_set_signature_md(ctx, md) == 1;
  }
  if (EVP_PKEY_CTX_set_rsa_padding(ctx, p.mode) != 1) return false;
  const char *mgf1 = p.mgf1_md ? p.mgf1_md : p.md;
  if (p.mode == RSA_PKCS1_OAEP_PADDING) {
    if (p.md && EVP_PKEY_CTX_set_rsa_oaep_md_name(ctx, p.md, nullptr) != 1) return false;
    if (mgf1 && EVP_PKEY_CTX_set_rsa_mgf1_md_name(ctx, mgf1, nullptr) != 1) return false;
    if (!p.label.empty()) {
      // The context takes ownership of its own copy.
      auto *copy = static_cast<unsigned char *>(OPENSSL_memdup(p.label.data(), p.label.size()));
      if (!copy ||
          EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, copy, static_cast<int>(p.label.size())) != 1) {
        OPENSSL_free(copy);
        return false;
      }
    }
    return true;
  }
  if (signing && p.md) {
    const EVP_MD *md = ossl::md(p.md);
    if (!md || EVP_PKEY_CTX_set_signature_md(ctx, md) != 1) return false;
  }
  if (p.mode == RSA_PKCS1_PSS_PADDING) {
    if (mgf1 && EVP_PKEY_CTX_set_rsa_mgf1_md_name(ctx, mgf1, nullptr) != 1) return false;
    if (EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, p.salt_len) != 1) return false;
  }
  return true;
}

// An OpenSSL call of the (out, &len) shape: once for the size, then for the
// bytes. A failure leaves `out` empty.
template <typename F>
bool sized(F call, Bytes &out) {
  size_t n = 0;
  if (call(nullptr, &n) != 1) return false;
  out.assign(n, 0);
  if (call(out.data(), &n) != 1) {
    explicit_bzero(out.data(), out.size());
    out.clear();
    return false;
  }
  out.resize(n);
  return true;
}

// One EVP_PKEY_sign, _encrypt or _decrypt of `in` into `out`.
using OneShot = int (*)(EVP_PKEY_CTX *, unsigned char *, size_t *, const unsigned char *, size_t);
bool run(EVP_PKEY_CTX *ctx, OneShot op, In in, Bytes &out) {
  return sized([&](uint8_t *o, size_t *n) { return op(ctx, o, n, in.data(), in.size()); }, out);
}

Ptr<EVP_PKEY_CTX> ctx_of(const Key &k) {
  return Ptr<EVP_PKEY_CTX>(EVP_PKEY_CTX_new_from_pkey(nullptr, k.pkey(), nullptr));
}

// A context of the key for one operation (its init function), padded; null
// when OpenSSL refuses either.
Ptr<EVP_PKEY_CTX> ready(const Key &k, int (*init)(EVP_PKEY_CTX *), const RsaPadding &p,
                        bool signing) {
  Ptr<EVP_PKEY_CTX> ctx = ctx_of(k);
  if (!ctx || init(ctx.get()) != 1 || !set_padding(ctx.get(), k, p, signing)) return nullptr;
  return ctx;
}

}  // namespace

uint32_t sign(const Key &k, const RsaPadding &p, In digest, Bytes &sig) {
  if (!asymmetric(k) || !k.has_private()) return code::kKeyTypeInconsistent;
  Ptr<EVP_PKEY_CTX> ctx = ready(k, EVP_PKEY_sign_init, p, true);
  if (!ctx) return code::kUnsupportedOpcode;
  return run(ctx.get(), EVP_PKEY_sign, digest, sig) ? code::kOk : code::kBadLength;
}

uint32_t verify(const Key &k, const RsaPadding &p, In digest, In sig) {
  if (!asymmetric(k)) return code::kKeyTypeInconsistent;
  Ptr<EVP_PKEY_CTX> ctx = ready(k, EVP_PKEY_verify_init, p, true);
  if (!ctx) return code::kUnsupportedOpcode;
  return EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size()) == 1
             ? code::kOk
             : code::kSignatureMismatch;
}

uint32_t sign_message(const Key &k, const char *md, const RsaPadding &p, In msg, Bytes &sig) {
  Bytes h;
  if (uint32_t r = digest(md, msg, h)) return r;
  RsaPadding with = p;
  with.md = md;
  return sign(k, with, h, sig);
}

uint32_t verify_message(const Key &k, const char *md, const RsaPadding &p, In msg, In sig) {
  Bytes h;
  if (uint32_t r = digest(md, msg, h)) return r;
  RsaPadding with = p;
  with.md = md;
  return verify(k, with, h, sig);
}

uint32_t rsa_encrypt(const Key &k, const RsaPadding &p, In data, Bytes &out) {
  if (k.kind() != Kind::Rsa) return code::kKeyTypeInconsistent;
  Ptr<EVP_PKEY_CTX> ctx = ready(k, EVP_PKEY_encrypt_init, p, false);
  if (!ctx) return code::kUnsupportedOpcode;
  return run(ctx.get(), EVP_PKEY_encrypt, data, out) ? code::kOk : code::kBadLength;
}

uint32_t rsa_decrypt(const Key &k, const RsaPadding &p, In data, Bytes &out) {
  if (k.kind() != Kind::Rsa || !k.has_private()) return code::kKeyTypeInconsistent;
  Ptr<EVP_PKEY_CTX> ctx = ready(k, EVP_PKEY_decrypt_init, p, false);
  if (!ctx) return code::kUnsupportedOpcode;
  if (run(ctx.get(), EVP_PKEY_decrypt, data, out)) return code::kOk;
  return p.mode == RSA_NO_PADDING ? code::kBadLength : code::kBadPkcsData;
}

uint32_t rsa_tls_premaster(const Key &k, In encrypted, unsigned client_version, Bytes &out) {
  if (k.kind() != Kind::Rsa || !k.has_private()) return code::kKeyTypeInconsistent;
  Ptr<EVP_PKEY_CTX> pc = ctx_of(k);
  if (!pc || EVP_PKEY_decrypt_init(pc.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(pc.get(), RSA_PKCS1_WITH_TLS_PADDING) != 1)
    return code::kError;
  unsigned cv = client_version, nv = client_version;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_uint(OSSL_ASYM_CIPHER_PARAM_TLS_CLIENT_VERSION, &cv),
      OSSL_PARAM_construct_uint(OSSL_ASYM_CIPHER_PARAM_TLS_NEGOTIATED_VERSION, &nv),
      OSSL_PARAM_construct_end()};
  if (EVP_PKEY_CTX_set_params(pc.get(), params) != 1) return code::kError;
  out.assign(encrypted.size(), 0);
  size_t n = out.size();
  if (EVP_PKEY_decrypt(pc.get(), out.data(), &n, encrypted.data(), encrypted.size()) != 1 ||
      n != 48) {
    explicit_bzero(out.data(), out.size());
    out.clear();
    return code::kError;
  }
  out.resize(n);
  return code::kOk;
}

uint32_t modexp(In base, In exponent, In modulus, Bytes &out) {
  Ptr<BIGNUM> b = ossl::bn(base), e = ossl::bn(exponent), m = ossl::bn(modulus);
  Ptr<BIGNUM> r(BN_new());
  Ptr<BN_CTX> ctx(BN_CTX_new());
  if (!b || !e || !m || !r || !ctx) return code::kError;
  if (BN_is_zero(m.get()) || !BN_is_odd(m.get()) || BN_cmp(b.get(), m.get()) >= 0)
    return code::kBadLength;
  if (BN_mod_exp(r.get(), b.get(), e.get(), m.get(), ctx.get()) != 1) return code::kError;
  out = ossl::bytes(r.get(), static_cast<size_t>(BN_num_bytes(m.get())));
  return code::kOk;
}

uint32_t modexp_crt(In base, In p, In q, In dp, In dq, In qinv, size_t width, Bytes &out) {
  Ptr<BIGNUM> bq = ossl::bn(q), bdq = ossl::bn(dq), bp = ossl::bn(p), bdp = ossl::bn(dp),
              bqinv = ossl::bn(qinv), b = ossl::bn(base);
  Ptr<BIGNUM> m1(BN_new()), m2(BN_new()), t(BN_new());
  Ptr<BN_CTX> ctx(BN_CTX_new());
  const bool ok =
      bq && bp && b && m1 && m2 && t && ctx && !BN_is_zero(bp.get()) && !BN_is_zero(bq.get()) &&
      BN_mod_exp(m1.get(), b.get(), bdp.get(), bp.get(), ctx.get()) &&
      BN_mod_exp(m2.get(), b.get(), bdq.get(), bq.get(), ctx.get()) &&
      BN_mod_sub(t.get(), m1.get(), m2.get(), bp.get(), ctx.get()) &&
      BN_mod_mul(t.get(), t.get(), bqinv.get(), bp.get(), ctx.get()) &&
      BN_mul(t.get(), t.get(), bq.get(), ctx.get()) && BN_add(t.get(), t.get(), m2.get());
  if (!ok) return code::kBadLength;
  out = ossl::bytes(t.get(), width);
  return code::kOk;
}

bool ecdsa_raw(In der, size_t width, Bytes &raw) {
  const unsigned char *p = der.data();
  ECDSA_SIG *sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
  if (!sig) return false;
  const BIGNUM *r = nullptr, *s = nullptr;
  ECDSA_SIG_get0(sig, &r, &s);
  Bytes br = ossl::bytes(r, width), bs = ossl::bytes(s, width);
  ECDSA_SIG_free(sig);
  if (br.empty() || bs.empty() || p != der.data() + der.size()) return false;
  raw = std::move(br);
  raw.insert(raw.end(), bs.begin(), bs.end());
  return true;
}

bool ecdsa_der(In raw, Bytes &der) {
  if (raw.empty() || raw.size() % 2) return false;
  size_t w = raw.size() / 2;
  ECDSA_SIG *sig = ECDSA_SIG_new();
  BIGNUM *r = BN_bin2bn(raw.data(), static_cast<int>(w), nullptr);
  BIGNUM *s = BN_bin2bn(raw.data() + w, static_cast<int>(w), nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig, r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(sig);
    return false;
  }
  int n = i2d_ECDSA_SIG(sig, nullptr);
  bool ok = n > 0;
  if (ok) {
    der.assign(static_cast<size_t>(n), 0);
    unsigned char *p = der.data();
    ok = i2d_ECDSA_SIG(sig, &p) == n;
  }
  ECDSA_SIG_free(sig);
  return ok;
}

uint32_t derive(const Key &mine, const Key &peer, Bytes &secret) {
  if (!asymmetric(mine) || !asymmetric(peer) || !mine.has_private() || mine.kind() != peer.kind())
    return code::kKeyTypeInconsistent;
  Ptr<EVP_PKEY_CTX> ctx = ctx_of(mine);
  if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1) return code::kUnsupportedOpcode;
  if (EVP_PKEY_derive_set_peer(ctx.get(), peer.pkey()) != 1) return code::kBadPublicKey;
  bool ok = sized([&](uint8_t *o, size_t *n) { return EVP_PKEY_derive(ctx.get(), o, n); }, secret);
  return ok ? code::kOk : code::kError;
}

namespace {

struct Curve {
  const EC_GROUP *g;
  Ptr<BN_CTX> bn{BN_CTX_new()};
  explicit Curve(int nid) : g(ossl::group(nid)) {}
  bool ok() const { return g && bn; }

  Ptr<EC_POINT> point(In enc) const {
    Ptr<EC_POINT> p(EC_POINT_new(g));
    size_t fb = (EC_GROUP_get_degree(g) + 7) / 8;
    if (!p || enc.size() != 1 + 2 * fb || enc[0] != 4 ||
        EC_POINT_oct2point(g, p.get(), enc.data(), enc.size(), bn.get()) != 1)
      return nullptr;
    return p;
  }
  uint32_t encode(const EC_POINT *p, Bytes &out) const {
    if (EC_POINT_is_at_infinity(g, p)) return code::kPointAtInfinity;
    out.assign(1 + 2 * ((EC_GROUP_get_degree(g) + 7) / 8), 0);
    if (EC_POINT_point2oct(g, p, POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(), bn.get()) !=
        out.size())
      return code::kError;
    return code::kOk;
  }
};

}  // namespace

uint32_t ec_mul(int curve_nid, In scalar, In point, Bytes &out) {
  Curve c(curve_nid);
  if (!c.ok()) return code::kUnsupportedCurve;
  Ptr<BIGNUM> k = ossl::bn(scalar);
  Ptr<EC_POINT> r(EC_POINT_new(c.g));
  if (!k || !r) return code::kError;
  int ok = 0;
  if (point.empty()) {
    ok = EC_POINT_mul(c.g, r.get(), k.get(), nullptr, nullptr, c.bn.get());
  } else {
    Ptr<EC_POINT> p = c.point(point);
    if (!p) return code::kBadPublicKey;
    ok = EC_POINT_mul(c.g, r.get(), nullptr, p.get(), k.get(), c.bn.get());
  }
  if (ok != 1) return code::kError;
  return c.encode(r.get(), out);
}

uint32_t ec_add(int curve_nid, In a, In b, Bytes &out) {
  Curve c(curve_nid);
  if (!c.ok()) return code::kUnsupportedCurve;
  Ptr<EC_POINT> pa = c.point(a);
  Ptr<EC_POINT> pb = b.empty() ? nullptr : c.point(b);
  if (!pa || (!b.empty() && !pb)) return code::kBadPublicKey;
  Ptr<EC_POINT> r(EC_POINT_new(c.g));
  if (!r) return code::kError;
  int ok = pb ? EC_POINT_add(c.g, r.get(), pa.get(), pb.get(), c.bn.get())
              : EC_POINT_dbl(c.g, r.get(), pa.get(), c.bn.get());
  if (ok != 1) return code::kError;
  return c.encode(r.get(), out);
}

Bytes ec_prime(int curve_nid) {
  const EC_GROUP *g = ossl::group(curve_nid);
  Ptr<BIGNUM> p(BN_new());
  if (!g || !p || EC_GROUP_get_curve(g, p.get(), nullptr, nullptr, nullptr) != 1) return {};
  return ossl::bytes(p.get());
}

size_t ec_field_bytes(int curve_nid) { return ec_prime(curve_nid).size(); }

uint32_t ecdsa_sign_with_k(const Key &key, In k, In e, size_t width, Bytes &r_out, Bytes &s_out) {
  if (key.kind() != Kind::Ec || !key.has_private()) return code::kKeyTypeInconsistent;
  Curve c(key.curve());
  if (!c.ok()) return code::kKeyTypeInconsistent;
  BIGNUM *d_raw = nullptr;
  if (EVP_PKEY_get_bn_param(key.pkey(), OSSL_PKEY_PARAM_PRIV_KEY, &d_raw) != 1)
    return code::kKeyTypeInconsistent;
  Ptr<BIGNUM> d(d_raw);
  const BIGNUM *order = EC_GROUP_get0_order(c.g);
  Ptr<BIGNUM> bk = ossl::bn(k), be = ossl::bn(e), r(BN_new()), s(BN_new()), t(BN_new());
  Ptr<EC_POINT> kg(EC_POINT_new(c.g));
  if (!bk || !be || !r || !s || !t || !kg) return code::kError;
  // r = (kG).x: a k that is a multiple of n gives the point at infinity.
  if (EC_POINT_mul(c.g, kg.get(), bk.get(), nullptr, nullptr, c.bn.get()) != 1) return code::kError;
  if (EC_POINT_is_at_infinity(c.g, kg.get())) return code::kPointAtInfinity;
  if (EC_POINT_get_affine_coordinates(c.g, kg.get(), r.get(), nullptr, c.bn.get()) != 1)
    return code::kError;
  if (BN_is_zero(bk.get()) || BN_cmp(bk.get(), order) >= 0) return code::kBadLength;
  const bool ok = BN_nnmod(r.get(), r.get(), order, c.bn.get()) && !BN_is_zero(r.get()) &&
                  BN_mod_mul(t.get(), r.get(), d.get(), order, c.bn.get()) &&
                  BN_mod_add(t.get(), t.get(), be.get(), order, c.bn.get()) &&
                  BN_mod_inverse(s.get(), bk.get(), order, c.bn.get()) &&
                  BN_mod_mul(s.get(), s.get(), t.get(), order, c.bn.get()) && !BN_is_zero(s.get());
  if (!ok) return code::kBadLength;
  r_out = ossl::bytes(r.get(), width);
  s_out = ossl::bytes(s.get(), width);
  return code::kOk;
}

}  // namespace hsmsim::hsm::engine
