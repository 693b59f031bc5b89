// Secret key generation (AES, 3DES, generic secret, RC4) and 3DES keys
// derived from a password by the PKCS#12 key derivation with SHA-1.
#include <string.h>

#include "hsm/engine/generate.h"
#include "hsm/ops/keygen_common.h"

namespace hsmsim::hsm::keygen {

namespace {

namespace rc = obj::rc;
namespace attr = obj::attr;
namespace kt = obj::key_type;

constexpr uint32_t kPbeMech = 0x8203;     // password as a BMPString (PKCS#12)
constexpr uint32_t kPbeMechOld = 0x820D;  // the password's bytes as they are
constexpr uint32_t kMaxIterations = 10000;
constexpr size_t kDes3Len = 24;

// The key type a generation mechanism makes; 0xFF for none.
uint8_t type_of_mechanism(uint32_t mech) {
  switch (mech) {
    case 848:
      return kt::kGenericSecret;
    case 272:
      return kt::kRc4;
    case 305:
      return kt::kDes3;
    case 4224:
      return kt::kAes;
    default:
      return 0xFF;
  }
}

void generate_key(HsmState &st, Call &c) {
  auto r = c.reader();
  KeygenHead k = read_keygen_head(st, r);
  const uint32_t mech = r.u32();
  if (!k.head.code && !r.ok()) k.head.code = rc::kInvalidInput;
  if (k.head.code) return c.fail(k.head.code);
  obj::ParsedTemplate t;
  if (uint32_t code = read_template(r, t)) return c.fail(code);
  const uint8_t type = type_of_mechanism(mech);
  if (type == 0xFF) return c.fail(rc::kInvalidCryptoMechanism);
  if (t.number(attr::kKeyType) != type || t.number(attr::kClass) != obj::key_class::kSecret)
    return c.fail(rc::kTemplateInconsistent);
  // 3DES keys have one size; every other type must name its own.
  auto len = t.number(attr::kValueLen);
  if (!len && type == kt::kDes3) len = kDes3Len;
  if (!len) return c.fail(rc::kTemplateInconsistent);
  engine::Key key;
  if (uint32_t code = engine::generate_secret(type, *len, key)) return c.fail(code);
  obj::Material m;
  m.key.assign(key.bytes().begin(), key.bytes().end());
  m.local = true;
  uint64_t handle = 0;
  if (uint32_t code = store_object(st, k.head.actor, t, std::move(m), handle)) return c.fail(code);
  const uint64_t handles[] = {handle};
  answer_new(st, c, k.want_attrs, handles);
}

// PKCS#12 key derivation (SHA-1, key material id 1) of a 24-byte key.
bool pkcs12_key(std::span<const uint8_t> password, bool bmp, std::span<const uint8_t> salt,
                uint32_t iterations, std::vector<uint8_t> &out) {
  std::vector<uint8_t> pass;
  if (bmp) {  // each byte as a UTF-16BE unit, then the two-byte terminator
    for (uint8_t b : password) pass.insert(pass.end(), {0, b});
    pass.insert(pass.end(), {0, 0});
  } else {
    pass.assign(password.begin(), password.end());
  }
  const bool ok = engine::pkcs12_kdf("SHA1", pass, salt, iterations, 1, kDes3Len, out) == 0;
  if (!pass.empty()) explicit_bzero(pass.data(), pass.size());
  return ok;
}

// Command, password length and bytes, salt length and bytes, iteration
// count, then the template behind its Object head.
void generate_pbe_key(HsmState &st, Call &c) {
  auto r = c.reader();
  KeygenHead k = read_keygen_head(st, r);
  const uint32_t mech = r.u32();
  const uint32_t password_len = r.u32();
  auto password = r.bytes(password_len);
  const uint32_t salt_len = r.u32();
  auto salt = r.bytes(salt_len);
  const uint32_t iterations = r.u32();
  if (!k.head.code && !r.ok()) k.head.code = rc::kInvalidInput;
  if (k.head.code) return c.fail(k.head.code);
  obj::ParsedTemplate t;
  if (uint32_t code = read_template(r, t)) return c.fail(code);
  if (mech != kPbeMech && mech != kPbeMechOld) return c.fail(rc::kInvalidCryptoMechanism);
  if (iterations == 0 || iterations > kMaxIterations) return c.fail(rc::kInvalidInput);
  if (t.number(attr::kKeyType) != kt::kDes3 || t.number(attr::kClass) != obj::key_class::kSecret)
    return c.fail(rc::kTemplateInconsistent);
  if (auto len = t.number(attr::kValueLen); len && *len != kDes3Len)
    return c.fail(rc::kKeySizeRange);
  obj::Material m;
  if (!pkcs12_key(password, mech == kPbeMech, salt, iterations, m.key))
    return c.fail(rc::kInvalidInput);
  engine::set_odd_parity(m.key);
  m.local = true;
  uint64_t handle = 0;
  if (uint32_t code = store_object(st, k.head.actor, t, std::move(m), handle)) return c.fail(code);
  const uint64_t handles[] = {handle};
  answer_new(st, c, false, handles);
}

}  // namespace

void add_keygen_secret_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kGenerateKey, generate_key);
  t.add(kMgmtCommand, op::kGeneratePbeKey, generate_pbe_key);
}

}  // namespace hsmsim::hsm::keygen
