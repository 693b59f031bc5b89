#include "hsm/engine/key.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include "hsm/codes.h"
#include "hsm/engine/values.h"
#include "hsm/objects/object.h"

namespace hsmsim::hsm::engine {

Key Key::secret(std::span<const uint8_t> bytes) {
  Key k;
  k.kind_ = Kind::Secret;
  k.secret_ = std::make_shared<const Secret>(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  k.has_private_ = true;
  k.bits_ = static_cast<uint32_t>(bytes.size() * 8);
  return k;
}

namespace {

bool has_bn(EVP_PKEY *k, const char *name) {
  BIGNUM *b = nullptr;
  bool has = EVP_PKEY_get_bn_param(k, name, &b) == 1;
  BN_clear_free(b);
  return has;
}

int curve_of(EVP_PKEY *k) {
  char name[80];
  if (EVP_PKEY_get_utf8_string_param(k, OSSL_PKEY_PARAM_GROUP_NAME, name, sizeof name, nullptr) !=
      1)
    return 0;
  int nid = OBJ_sn2nid(name);
  if (nid == NID_undef) nid = EC_curve_nist2nid(name);
  if (nid == NID_undef) nid = OBJ_txt2nid(name);
  return nid;
}

}  // namespace

Key Key::adopt(EVP_PKEY *pkey) {
  Key k;
  if (!pkey) return k;
  k.pkey_.reset(pkey, EVP_PKEY_free);
  if (EVP_PKEY_is_a(pkey, "RSA")) {
    k.kind_ = Kind::Rsa;
    k.has_private_ = has_bn(pkey, OSSL_PKEY_PARAM_RSA_D);
  } else if (EVP_PKEY_is_a(pkey, "DSA")) {
    k.kind_ = Kind::Dsa;
    k.has_private_ = has_bn(pkey, OSSL_PKEY_PARAM_PRIV_KEY);
  } else if (EVP_PKEY_is_a(pkey, "EC")) {
    k.kind_ = Kind::Ec;
    k.has_private_ = has_bn(pkey, OSSL_PKEY_PARAM_PRIV_KEY);
    k.curve_ = curve_of(pkey);
    BIGNUM *order = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_EC_ORDER, &order) == 1)
      k.bits_ = static_cast<uint32_t>(BN_num_bits(order));
    BN_free(order);
    return k;
  } else {
    k.pkey_.reset();
    return k;
  }
  const int b = EVP_PKEY_get_bits(pkey);
  k.bits_ = b > 0 ? static_cast<uint32_t>(b) : 0;
  return k;
}

namespace {

uint32_t asymmetric_of(const obj::Object &o, bool priv, Key &out) {
  using namespace obj;
  std::span<const uint8_t> value = o.key.bytes();
  auto attr_bytes = [&](uint32_t type) {
    const auto *v = o.get(type);
    return v ? std::span<const uint8_t>(*v) : std::span<const uint8_t>{};
  };
  uint32_t r = code::kKeyTypeInconsistent;
  switch (o.key_type()) {
    case key_type::kRsa:
      r = priv
              ? rsa_private_from_block(value, out)
              : rsa_public_from(attr_bytes(attr::kModulus), attr_bytes(attr::kPublicExponent), out);
      break;
    case key_type::kEc: {
      int nid = static_cast<int>(o.number(attr::kModulusBits).value_or(0));
      r = priv ? ec_private_from_scalar(nid, value, out)
               : ec_public_from_point(nid, o.public_data, out);
      break;
    }
    case key_type::kDsa: {
      DsaDomain dom;
      auto copy = [&](uint32_t type, Bytes &to) {
        auto b = attr_bytes(type);
        to.assign(b.begin(), b.end());
      };
      copy(attr::kPrime, dom.p);
      copy(attr::kSubprime, dom.q);
      copy(attr::kBase, dom.g);
      r = priv ? dsa_private_from_value(dom, value, out)
               : dsa_public_from_value(dom, o.public_data, out);
      break;
    }
    default:
      break;
  }
  if (r != code::kOk) return code::kKeyTypeInconsistent;
  // The public data kept with a private key must be that key's.
  if (priv && !o.public_data.empty() && public_data(out) != o.public_data) {
    out = Key();
    return code::kKeyTypeInconsistent;
  }
  return code::kOk;
}

}  // namespace

uint32_t key_of(const obj::Object &o, Key &out) {
  out = Key();
  switch (o.key_class()) {
    case obj::key_class::kSecret:
      if (o.key.empty()) return code::kKeyTypeInconsistent;
      out = Key::secret(o.key.bytes());
      return code::kOk;
    case obj::key_class::kPrivate:
      return asymmetric_of(o, true, out);
    case obj::key_class::kPublic:
      return asymmetric_of(o, false, out);
    default:
      return code::kKeyTypeInconsistent;
  }
}

int curve_nid(uint32_t curve_id) {
  static constexpr int kNids[] = {NID_X9_62_prime192v1, NID_secp224r1, NID_X9_62_prime256v1,
                                  NID_secp384r1,        NID_secp521r1, NID_secp256k1};
  return curve_id < std::size(kNids) ? kNids[curve_id] : 0;
}

const char *digest_name(uint32_t hash_type) {
  static constexpr const char *kNames[] = {nullptr,  "MD5",    "SHA1",  "SHA256",
                                           "SHA384", "SHA512", "SHA224"};
  return hash_type < std::size(kNames) ? kNames[hash_type] : nullptr;
}

}  // namespace hsmsim::hsm::engine
