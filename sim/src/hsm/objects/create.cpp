#include "hsm/objects/create.h"

#include <string.h>

#include <algorithm>
#include <array>

#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "hsm/objects/codes.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm::obj {

namespace {

struct ClassRules {
  uint8_t key_class;
  std::array<uint32_t, 6>
      usage;  // usage flags a key of the class has (0-terminated), default false
  std::array<uint32_t, 4> forbidden;  // usage flags it may not have set (0-terminated)
  bool secret_part;                   // has a secret part: sensitive and private defaults
};

constexpr std::array kClassRules{
    ClassRules{key_class::kPublic,
               {attr::kEncrypt, attr::kWrap, attr::kVerify, attr::kVerifyRecover, 0, 0},
               {attr::kDecrypt, attr::kUnwrap, attr::kSign, attr::kSignRecover},
               false},
    ClassRules{key_class::kPrivate,
               {attr::kDecrypt, attr::kUnwrap, attr::kSign, attr::kSignRecover, 0, 0},
               {attr::kEncrypt, attr::kWrap, attr::kVerify, attr::kVerifyRecover},
               true},
    ClassRules{
        key_class::kSecret,
        {attr::kEncrypt, attr::kDecrypt, attr::kWrap, attr::kUnwrap, attr::kSign, attr::kVerify},
        {0, 0, 0, 0},
        true},
};

const ClassRules *rules_of(uint32_t key_class) {
  for (const auto &r : kClassRules)
    if (r.key_class == key_class) return &r;
  return nullptr;
}

bool type_fits_class(uint32_t cls, uint32_t type) {
  if (cls == key_class::kSecret)
    return type == key_type::kGenericSecret || type == key_type::kRc4 || type == key_type::kDes ||
           type == key_type::kDes3 || type == key_type::kAes;
  return type == key_type::kRsa || type == key_type::kDsa || type == key_type::kEc;
}

struct SizeRule {
  uint8_t type;
  size_t min, max;
  bool aes_sizes;
};
constexpr std::array kSecretSizes{
    SizeRule{key_type::kGenericSecret, 1, 4096, false},
    SizeRule{key_type::kRc4, 1, 256, false},
    SizeRule{key_type::kDes, 8, 8, false},
    SizeRule{key_type::kDes3, 24, 24, false},
    SizeRule{key_type::kAes, 16, 32, true},
};

bool secret_size_ok(uint8_t type, size_t n) {
  for (const auto &r : kSecretSizes)
    if (r.type == type) return n >= r.min && n <= r.max && (!r.aes_sizes || n % 8 == 0);
  return false;
}

void set_default(Object &o, uint32_t type, uint8_t v) {
  o.attrs.try_emplace(type, std::vector<uint8_t>{v});
}
void set_flag(Object &o, uint32_t type, bool v) {
  o.attrs[type] = {static_cast<uint8_t>(v ? 1 : 0)};
}

uint32_t modulus_bits(std::span<const uint8_t> m) {
  auto s = strip_leading_zeros(m);
  if (s.empty() || (s.size() == 1 && s[0] == 0)) return 0;
  uint32_t bits = static_cast<uint32_t>(s.size() - 1) * 8;
  for (uint8_t b = s[0]; b; b >>= 1) ++bits;
  return bits;
}

uint32_t apply_flags(const ParsedTemplate &t, const ClassRules &rules, Object &o) {
  for (uint32_t f : rules.forbidden)
    if (f && t.number(f).value_or(0)) return rc::kTemplateInconsistent;
  auto priv = t.number(attr::kPrivate);
  if (priv && *priv == 0) return rc::kAttributeValueInvalid;  // every object of this HSM is private
  set_flag(o, attr::kPrivate, true);
  set_default(o, attr::kToken, 1);
  set_default(o, attr::kModifiable, 1);
  set_default(o, attr::kDestroyable, 1);
  set_default(o, attr::kDerive, 0);
  set_default(o, attr::kExtractable, 1);
  for (uint32_t f : rules.usage)
    if (f) set_default(o, f, 0);
  if (rules.secret_part) {
    set_default(o, attr::kSensitive, 1);
    set_flag(o, attr::kAlwaysSensitive, o.flag(attr::kSensitive));
    set_flag(o, attr::kNeverExtractable, !o.flag(attr::kExtractable));
  }
  return rc::kOk;
}

uint32_t apply_secret(const ParsedTemplate &t, Material &m, Object &o) {
  auto len = t.number(attr::kValueLen);
  if (m.key.empty()) {
    if (!len) return rc::kTemplateInconsistent;
    if (!secret_size_ok(o.key_type(), *len)) return rc::kKeySizeRange;
    m.key.resize(*len);
    if (!engine::random_bytes(m.key)) return rc::kTemplateInconsistent;
  } else if (len && *len != m.key.size()) {
    return rc::kTemplateInconsistent;
  }
  if (!secret_size_ok(o.key_type(), m.key.size())) return rc::kKeySizeRange;
  o.attrs[attr::kValueLen] = kept_number(static_cast<uint32_t>(m.key.size()));
  auto kcv = key_check_value(o.key_type(), m.key);
  if (!kcv.empty()) o.attrs.try_emplace(attr::kKcv, std::move(kcv));
  return rc::kOk;
}

uint32_t apply_sharing(HsmState &st, const Creator &c, const ParsedTemplate &t, Object &o) {
  o.users = t.users.value_or(std::vector<uint16_t>{});
  if (uint32_t r = check_users(st, c.partition, c.owner, o.users)) return r;
  o.sessions = t.sessions.value_or(std::vector<uint32_t>{});
  if (uint32_t r = check_sessions(st, c.partition, o.sessions)) return r;
  uint32_t m = t.m_value.value_or(0);
  if (m > o.users.size() + 1) return rc::kInvalidMValue;
  o.m_value = static_cast<uint8_t>(m);
  return rc::kOk;
}

}  // namespace

bool usage_allowed(uint8_t key_class, uint32_t flag) {
  const ClassRules *rules = rules_of(key_class);
  return !rules || std::find(rules->forbidden.begin(), rules->forbidden.end(), flag) ==
                       rules->forbidden.end();
}

std::vector<uint8_t> key_check_value(uint8_t type, std::span<const uint8_t> key) {
  const char *name = nullptr;
  size_t block = 16;
  if (type == key_type::kAes) {
    name = key.size() == 16   ? "AES-128-ECB"
           : key.size() == 24 ? "AES-192-ECB"
           : key.size() == 32 ? "AES-256-ECB"
                              : nullptr;
  } else if (type == key_type::kDes3 && key.size() == 24) {
    name = "DES-EDE3-ECB";
    block = 8;
  }
  if (!name) return {};
  const std::array<uint8_t, 16> zero{};
  std::vector<uint8_t> out;
  if (engine::cipher(name, key, {}, true, false, std::span(zero).first(block), out) != 0 ||
      out.size() < 3)
    return {};
  return {out.begin(), out.begin() + 3};
}

uint32_t check_users(HsmState &st, uint8_t partition, uint32_t owner,
                     std::vector<uint16_t> &users) {
  Partition *p = st.partitions.at(partition);
  if (!p) return rc::kInvalidPartitionId;
  std::vector<uint16_t> kept;
  for (uint16_t u : users) {
    bool exists =
        std::any_of(p->users.begin(), p->users.end(), [&](const User &x) { return x.id == u; });
    if (!exists) return rc::kUserDoesNotExist;
    if (u != owner && std::find(kept.begin(), kept.end(), u) == kept.end()) kept.push_back(u);
  }
  if (kept.size() > kMaxShares) return rc::kInvalidInput;
  users = std::move(kept);
  return rc::kOk;
}

uint32_t check_sessions(HsmState &st, uint8_t partition, std::vector<uint32_t> &sessions) {
  std::vector<uint32_t> kept;
  for (uint32_t h : sessions) {
    Session *s = st.sessions.find(h);
    if (!s || s->partition != partition) return rc::kInvalidSession;
    if (std::find(kept.begin(), kept.end(), s->handle) == kept.end()) kept.push_back(s->handle);
  }
  if (kept.size() > kMaxShares) return rc::kInvalidInput;
  sessions = std::move(kept);
  return rc::kOk;
}

uint32_t build_object(HsmState &st, const Creator &c, const ParsedTemplate &t, Material m,
                      Object &out) {
  struct Wipe {
    std::vector<uint8_t> &v;
    ~Wipe() {
      if (!v.empty()) explicit_bzero(v.data(), v.size());
    }
  } wipe{m.key};
  auto cls = t.number(attr::kClass);
  auto type = t.number(attr::kKeyType);
  const ClassRules *rules = cls ? rules_of(*cls) : nullptr;
  if (!rules || !type || !type_fits_class(*cls, *type)) return rc::kTemplateInconsistent;

  Object o;
  o.partition = c.partition;
  o.owner = c.owner;
  for (const auto &a : t.attrs) {
    if (a.type == attr::kValue) {  // the key value in the template itself
      if (!m.key.empty() || *cls != key_class::kSecret) return rc::kTemplateInconsistent;
      m.key = a.kept;
      continue;
    }
    if (a.kind == Kind::Secret) return rc::kTemplateInconsistent;
    o.attrs[a.type] = a.kept;
  }
  if (uint32_t r = apply_flags(t, *rules, o)) return r;
  set_flag(o, attr::kLocal, m.local);
  if (*cls == key_class::kSecret) {
    if (uint32_t r = apply_secret(t, m, o)) return r;
  } else if (const auto *mod = o.get(attr::kModulus); mod && *type == key_type::kRsa) {
    o.attrs.try_emplace(attr::kModulusBits, kept_number(modulus_bits(*mod)));
  }
  if (uint32_t r = apply_sharing(st, c, t, o)) return r;
  if (!o.token()) {
    if (!c.session) return rc::kInvalidSession;
    o.session = c.session & 0x3FFFFFFF;
  }
  o.key = Secret(std::move(m.key));
  o.public_data = std::move(m.public_data);
  out = std::move(o);
  return rc::kOk;
}

}  // namespace hsmsim::hsm::obj
