// Pieces shared by the two template builders.
#ifndef QEL2_COMMON_TEMPLATE_BUILDER_PARTS_H
#define QEL2_COMMON_TEMPLATE_BUILDER_PARTS_H

#include <cstdint>

#include "common/template/template_writer.h"
#include "qel2_template.h"

namespace qel2::tmpl {

// Mode masks the builders test.
inline constexpr uint8_t kModesCreateGenUnwrap = 0x26;
inline constexpr uint8_t kModesCreateGenDeriveUnwrap = 0x36;
inline constexpr uint8_t kModesCreateGenDerive = 0x16;
inline constexpr uint8_t kModesCreateGen = 0x06;
inline constexpr uint8_t kModesCreateFind = 0x42;
inline constexpr uint8_t kModesUnwrapFind = 0x60;

// The builder arguments, one record for both builders. The fields follow the
// order of the exported builders' arguments, so each fills the record with
// one brace list; the older builder stops before the last two.
struct BuildArgs {
  uint8_t mode = 0;
  uint32_t key_class = 0;
  uint32_t key_type = 0;
  uint8_t location = 0;
  const uint32_t *sessions = nullptr;
  uint8_t n_sessions = 0;
  const uint16_t *users = nullptr;
  uint8_t n_users = 0;
  uint32_t m_value = 0;
  const uint8_t *id = nullptr;
  uint32_t id_len = 0;
  const uint8_t *label = nullptr;
  uint32_t label_len = 0;
  const uint8_t *kcv = nullptr;
  uint32_t kcv_len = 0;
  uint32_t key_len = 0;
  uint32_t mod_bits = 0;
  const uint8_t *modulus = nullptr;
  uint32_t crt_len = 0;
  uint32_t pub_exp = 0;
  uint32_t curve_id = 0;
  uint32_t prime_bits = 0;
  const uint8_t *prime = nullptr;
  uint32_t base_len = 0;
  const uint8_t *base = nullptr;
  uint8_t extractable = 255;  // 0 or 1: OBJ_ATTR_EXTRACTABLE; 2 and above: none
  const extendedTemplateArgs *ext = nullptr;

  bool in(uint8_t mask) const { return (mode & mask) != 0; }
  bool find() const;
  bool unwrap() const;
};

// Who may use an object and how it is known: the sessions and users that
// share it, the approvals its use needs (M value), its id and label, where
// it is kept, whether it may leave the HSM, and the extended arguments. The
// key calls take these alike, in this order; build_args maps them.
struct ObjectAccess {
  const uint32_t *sessions = nullptr;
  uint8_t n_sessions = 0;
  const uint16_t *users = nullptr;
  uint8_t n_users = 0;
  uint32_t m_value = 0;
  const uint8_t *id = nullptr;
  uint32_t id_len = 0;
  const uint8_t *label = nullptr;
  uint32_t label_len = 0;
  uint8_t location = STORAGE_LOCATION_ANY;
  uint8_t extractable = 255;  // 0 or 1: OBJ_ATTR_EXTRACTABLE; 2 and above: none
  const extendedTemplateArgs *ext = nullptr;
};

// The builder arguments of a template of this mode, class and type for an
// object of `who`; the key-size fields stay zero for the caller to set.
BuildArgs build_args(uint8_t mode, uint32_t key_class, uint32_t key_type, const ObjectAccess &who);

// SetTemplate3 on arguments already gathered: a 4096-byte buffer to free,
// or nullptr.
uint8_t *set_template3(const BuildArgs &a, uint32_t *pulTemplateSz, uint32_t *pulAtribCount);

// Class 2/3 take asymmetric types, class 4 secret types; other classes any.
bool class_type_allowed(uint32_t key_class, uint32_t key_type);

// OBJ_ATTR_CLASS unless the class is any.
bool add_class(TemplateWriter &w, const BuildArgs &a);

// OBJ_ATTR_KEY_TYPE unless the type is any, then OBJ_ATTR_TOKEN unless the
// location is any (for a session object followed by its sessions); a missing
// type or location fails the build in the modes of `required_in`.
bool add_type_and_location(TemplateWriter &w, const BuildArgs &a, uint8_t required_in);

// Sub-records of OBJ_ATTR_VENDOR_DEFINED.
bool add_sessions(TemplateWriter &w, const uint32_t *sessions, uint8_t n);
bool add_users(TemplateWriter &w, const uint16_t *users, uint8_t n);
bool add_m_value(TemplateWriter &w, uint32_t m_value);
bool add_crt_length(TemplateWriter &w, uint32_t crt_len);

// OBJ_ATTR_ACCESS: the user count plus one, counted in 32 bits.
bool add_access(TemplateWriter &w, uint8_t n_users);

// A byte string attribute when its length is not zero; a null pointer with
// a non-zero length fails the build.
bool add_bytes_if_given(TemplateWriter &w, uint32_t type, const uint8_t *p, uint32_t len);

// Value length, public exponent, modulus or CRT length, modulus bits and
// curve id, in that order.
bool add_key_size_attrs(TemplateWriter &w, const BuildArgs &a);

// Find mode, public key: prime bits, prime and base.
bool add_domain_params(TemplateWriter &w, const BuildArgs &a);

// Appends a builder's attributes in its own order; false fails the build.
using BuildSteps = bool (*)(TemplateWriter &w, const BuildArgs &a);

// One build: refuses a class and type that do not go together before
// allocating, then fills a zero-filled 4096-byte buffer with `steps`. Hands
// the buffer over with its length and count (each when asked for), or frees
// it and returns nullptr.
uint8_t *run_builder(const BuildArgs &a, BuildSteps steps, uint32_t *pulTemplateSz,
                     uint32_t *pulAtribCount);

}  // namespace qel2::tmpl

#endif
