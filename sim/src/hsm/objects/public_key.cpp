#include "hsm/objects/public_key.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <memory>

#include "hsm/objects/codes.h"

namespace hsmsim::hsm::obj {

namespace {

struct BnDel {
  void operator()(BIGNUM *b) const { BN_free(b); }
};
struct BldDel {
  void operator()(OSSL_PARAM_BLD *b) const { OSSL_PARAM_BLD_free(b); }
};
struct ParamDel {
  void operator()(OSSL_PARAM *p) const { OSSL_PARAM_free(p); }
};
struct PkeyCtxDel {
  void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
struct PkeyDel {
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using Bn = std::unique_ptr<BIGNUM, BnDel>;

// Keeps the numbers alive until the parameters are built.
class Params {
 public:
  Params() : bld_(OSSL_PARAM_BLD_new()) {}
  bool number(const char *name, const std::vector<uint8_t> *bytes) {
    if (!bld_ || !bytes || bytes->empty()) return false;
    Bn bn(BN_bin2bn(bytes->data(), static_cast<int>(bytes->size()), nullptr));
    if (!bn || !OSSL_PARAM_BLD_push_BN(bld_.get(), name, bn.get())) return false;
    nums_.push_back(std::move(bn));
    return true;
  }
  bool octets(const char *name, const std::vector<uint8_t> &b) {
    return bld_ && !b.empty() &&
           OSSL_PARAM_BLD_push_octet_string(bld_.get(), name, b.data(), b.size());
  }
  bool text(const char *name, const char *s) {
    return bld_ && s && OSSL_PARAM_BLD_push_utf8_string(bld_.get(), name, s, 0);
  }

  // The DER SubjectPublicKeyInfo of a public key of algorithm `alg` from these parameters.
  bool der(const char *alg, std::vector<uint8_t> &out) {
    std::unique_ptr<OSSL_PARAM, ParamDel> params(bld_ ? OSSL_PARAM_BLD_to_param(bld_.get())
                                                      : nullptr);
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDel> ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, alg, nullptr));
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return false;
    EVP_PKEY *raw = nullptr;
    if (EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) return false;
    std::unique_ptr<EVP_PKEY, PkeyDel> key(raw);
    int n = i2d_PUBKEY(key.get(), nullptr);
    if (n <= 0) return false;
    out.assign(static_cast<size_t>(n), 0);
    unsigned char *p = out.data();
    return i2d_PUBKEY(key.get(), &p) == n;
  }

 private:
  std::unique_ptr<OSSL_PARAM_BLD, BldDel> bld_;
  std::vector<Bn> nums_;
};

bool rsa_der(const Object &o, std::vector<uint8_t> &out) {
  Params p;
  return p.number(OSSL_PKEY_PARAM_RSA_N, o.get(attr::kModulus)) &&
         p.number(OSSL_PKEY_PARAM_RSA_E, o.get(attr::kPublicExponent)) && p.der("RSA", out);
}

bool ec_der(const Object &o, std::vector<uint8_t> &out) {
  auto nid = o.number(attr::kModulusBits);
  const char *group = nid ? OBJ_nid2sn(static_cast<int>(*nid)) : nullptr;
  Params p;
  return group && p.text(OSSL_PKEY_PARAM_GROUP_NAME, group) &&
         p.octets(OSSL_PKEY_PARAM_PUB_KEY, o.public_data) && p.der("EC", out);
}

bool dsa_der(const Object &o, std::vector<uint8_t> &out) {
  Params p;
  return p.number(OSSL_PKEY_PARAM_FFC_P, o.get(attr::kPrime)) &&
         p.number(OSSL_PKEY_PARAM_FFC_Q, o.get(attr::kSubprime)) &&
         p.number(OSSL_PKEY_PARAM_FFC_G, o.get(attr::kBase)) &&
         p.number(OSSL_PKEY_PARAM_PUB_KEY, &o.public_data) && p.der("DSA", out);
}

}  // namespace

uint32_t public_key_der(const Object &o, std::vector<uint8_t> &out) {
  uint8_t cls = o.key_class();
  if (cls != key_class::kPublic && cls != key_class::kPrivate) return rc::kKeyTypeInconsistent;
  bool ok = false;
  switch (o.key_type()) {
    case key_type::kRsa:
      ok = rsa_der(o, out);
      break;
    case key_type::kEc:
      ok = ec_der(o, out);
      break;
    case key_type::kDsa:
      ok = dsa_der(o, out);
      break;
    default:
      break;
  }
  return ok ? rc::kOk : rc::kKeyTypeInconsistent;
}

}  // namespace hsmsim::hsm::obj
