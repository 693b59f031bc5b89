#include "common/template/builder_parts.h"

#include <cstdlib>

#include "common/be_codec.h"

namespace qel2::tmpl {

bool BuildArgs::find() const { return in(TEMPLATE_MODE_FIND); }
bool BuildArgs::unwrap() const { return in(TEMPLATE_MODE_UNWRAP); }

BuildArgs build_args(uint8_t mode, uint32_t key_class, uint32_t key_type, const ObjectAccess &who) {
  BuildArgs a;
  a.mode = mode;
  a.key_class = key_class;
  a.key_type = key_type;
  a.location = who.location;
  a.sessions = who.sessions;
  a.n_sessions = who.n_sessions;
  a.users = who.users;
  a.n_users = who.n_users;
  a.m_value = who.m_value;
  a.id = who.id;
  a.id_len = who.id_len;
  a.label = who.label;
  a.label_len = who.label_len;
  a.extractable = who.extractable;
  a.ext = who.ext;
  return a;
}

bool class_type_allowed(uint32_t key_class, uint32_t key_type) {
  switch (key_class) {
    case OBJ_CLASS_PUBLIC_KEY:
    case OBJ_CLASS_PRIVATE_KEY:
      return key_type == KEY_TYPE_RSA || key_type == KEY_TYPE_DSA || key_type == KEY_TYPE_EC ||
             key_type == KEY_TYPE_ANY;
    case OBJ_CLASS_SECRET_KEY:
      return key_type == KEY_TYPE_GENERIC_SECRET || key_type == KEY_TYPE_RC4 ||
             key_type == KEY_TYPE_DES || key_type == KEY_TYPE_DES3 || key_type == KEY_TYPE_AES ||
             key_type == KEY_TYPE_ANY;
    default:
      return true;
  }
}

bool add_class(TemplateWriter &w, const BuildArgs &a) {
  return a.key_class == OBJ_CLASS_ANY ||
         w.number(OBJ_ATTR_CLASS, static_cast<int32_t>(a.key_class));
}

bool add_type_and_location(TemplateWriter &w, const BuildArgs &a, uint8_t required_in) {
  if (a.key_type != KEY_TYPE_ANY) {
    if (!w.number(OBJ_ATTR_KEY_TYPE, static_cast<int32_t>(a.key_type))) return false;
  } else if (a.in(required_in)) {
    return false;
  }
  if (a.location != STORAGE_LOCATION_ANY) {
    if (!w.number(OBJ_ATTR_TOKEN, a.location)) return false;
    if (a.location == STORAGE_RAM && a.n_sessions != 0 &&
        !add_sessions(w, a.sessions, a.n_sessions))
      return false;
  } else if (a.in(required_in)) {
    return false;
  }
  return true;
}

bool add_sessions(TemplateWriter &w, const uint32_t *sessions, uint8_t n) {
  if (n && !sessions) return false;
  uint8_t *v = w.reserve(OBJ_ATTR_VENDOR_DEFINED, 9 + 4 * uint64_t{n});
  if (!v) return false;
  BeWriter out(v, 9 + 4 * size_t{n});
  out.bytes("sessns:", 7).u8(0).u8(n);
  for (uint8_t i = 0; i < n; ++i) out.u32(sessions[i]);
  return out.ok();
}

bool add_users(TemplateWriter &w, const uint16_t *users, uint8_t n) {
  if (n && !users) return false;
  uint8_t *v = w.reserve(OBJ_ATTR_VENDOR_DEFINED, 8 + 2 * uint64_t{n});
  if (!v) return false;
  BeWriter out(v, 8 + 2 * size_t{n});
  out.bytes("users:", 6).zeros(2);
  for (uint8_t i = 0; i < n; ++i) out.u16(users[i]);
  return out.ok();
}

bool add_m_value(TemplateWriter &w, uint32_t m_value) {
  uint8_t *v = w.reserve(OBJ_ATTR_VENDOR_DEFINED, 12);
  if (!v) return false;
  BeWriter out(v, 12);
  out.bytes("m_value:", 8).u32(m_value);
  return out.ok();
}

bool add_crt_length(TemplateWriter &w, uint32_t crt_len) {
  return w.number(OBJ_ATTR_VENDOR_DEFINED, static_cast<int32_t>(crt_len));
}

bool add_access(TemplateWriter &w, uint8_t n_users) {
  return w.number(OBJ_ATTR_ACCESS, static_cast<int32_t>(uint32_t{n_users} + 1));
}

bool add_bytes_if_given(TemplateWriter &w, uint32_t type, const uint8_t *p, uint32_t len) {
  if (len == 0) return true;
  return p && w.raw(type, p, len);
}

bool add_key_size_attrs(TemplateWriter &w, const BuildArgs &a) {
  if (a.key_class == OBJ_CLASS_SECRET_KEY && a.key_len != 0 &&
      !w.number(OBJ_ATTR_VALUE_LEN, static_cast<int32_t>(a.key_len)))
    return false;

  if (a.key_type == KEY_TYPE_RSA || a.find()) {
    if (a.pub_exp != 0 && (a.key_class == OBJ_CLASS_PUBLIC_KEY || a.unwrap())) {
      // A private-key template carries the exponent as binary.
      const bool ok = a.key_class == OBJ_CLASS_PRIVATE_KEY
                          ? w.be32(OBJ_ATTR_PUBLIC_EXPONENT, a.pub_exp)
                          : w.number(OBJ_ATTR_PUBLIC_EXPONENT, static_cast<int32_t>(a.pub_exp));
      if (!ok) return false;
    }
    if (a.modulus && a.mod_bits != 0 && a.in(kModesCreateFind)) {
      if (!w.raw(OBJ_ATTR_MODULUS, a.modulus, a.mod_bits / 8)) return false;
    } else if (a.crt_len != 0 && a.in(kModesUnwrapFind)) {
      if (!add_crt_length(w, a.crt_len)) return false;
    }
  }

  const bool rsa_or_dsa = a.key_type == KEY_TYPE_RSA || a.key_type == KEY_TYPE_DSA;
  if (a.mod_bits != 0 && rsa_or_dsa &&
      (a.key_class == OBJ_CLASS_PUBLIC_KEY ||
       (a.in(TEMPLATE_MODE_KEY_GEN) && a.key_type == KEY_TYPE_DSA) || a.unwrap()) &&
      !w.number(OBJ_ATTR_MODULUS_BITS, static_cast<int32_t>(a.mod_bits)))
    return false;

  // EC keys (and searches) name their curve in the same attribute.
  if (a.curve_id != 0 && (a.key_type == KEY_TYPE_EC || a.find()) &&
      !w.number(OBJ_ATTR_MODULUS_BITS, static_cast<int32_t>(a.curve_id)))
    return false;
  return true;
}

bool add_domain_params(TemplateWriter &w, const BuildArgs &a) {
  if (!a.find() || a.key_class != OBJ_CLASS_PUBLIC_KEY) return true;
  if (a.prime_bits != 0) {
    if (!w.number(OBJ_ATTR_PRIME_BITS, static_cast<int32_t>(a.prime_bits))) return false;
    if (a.prime && !w.raw(OBJ_ATTR_PRIME, a.prime, a.prime_bits / 8)) return false;
  }
  if (a.base && a.base_len != 0 && !w.raw(OBJ_ATTR_BASE, a.base, a.base_len)) return false;
  return true;
}

uint8_t *run_builder(const BuildArgs &a, BuildSteps steps, uint32_t *pulTemplateSz,
                     uint32_t *pulAtribCount) {
  if (!class_type_allowed(a.key_class, a.key_type)) return nullptr;
  uint8_t *buf = static_cast<uint8_t *>(std::calloc(1, kTemplateBufferSize));
  if (!buf) return nullptr;
  TemplateWriter w(buf, kTemplateBufferSize);
  if (!steps(w, a) || !w.ok()) {
    std::free(buf);
    return nullptr;
  }
  if (pulTemplateSz) *pulTemplateSz = static_cast<uint32_t>(w.size());
  if (pulAtribCount) *pulAtribCount = w.count();
  return buf;
}

}  // namespace qel2::tmpl
