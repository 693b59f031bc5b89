// Steps the key-making operations share: label checks, the attribute data
// returned for new objects, and numbers read from caller templates.
#include <cstdio>

#include "common/template/attr_walk.h"
#include "mgmt/keys/keys_internal.h"
#include "qel2_errors.h"

namespace qel2::mgmt {

bool reserved_label(const Uint8 *label, Uint32 len) {
  const size_t n = tmpl::bounded_strlen(label, len);
  return tmpl::equals_nocase(label, n, "public") || tmpl::equals_nocase(label, n, "private");
}

void add_keygen_outputs(MgmtRequest &rq, AttrOut attrs, KeyGenAttest *attestation) {
  if (attrs.asked()) rq.out(attrs.buf, *attrs.len);
  if (attestation) {
    rq.out(attestation, sizeof(KeyGenAttest));
    rq.raw().attest = 1;
  }
}

bool one_object_needed(const Uint8 *data, uint64_t got, uint64_t *needed) {
  if (!data || got < tmpl::kObjectHeadSize) return false;
  *needed = uint64_t{be32_at(data + offsetof(Object, obj_size))} + tmpl::kObjectHeadSize;
  return true;
}

uint32_t report_attr_len(AttrOut attrs, uint64_t needed, const char *message) {
  const Uint32 capacity = *attrs.len;
  // A length beyond 32 bits cannot be stored; no buffer could hold it either.
  *attrs.len = needed > UINT32_MAX ? UINT32_MAX : static_cast<Uint32>(needed);
  if (needed <= capacity) return 0;
  puts(message);
  return ERR_BUFFER_TOO_SMALL;
}

bool template_number(Uint8 *tmpl, Uint32 size, Uint32 type, int32_t *out) {
  const Attribute *a = get_attribute_template(tmpl, type, size);
  if (!a) return false;
  // get_attribute_template yields only attributes lying wholly within the template.
  const auto *value = reinterpret_cast<const uint8_t *>(a) + tmpl::kAttrHeadSize;
  *out = tmpl::read_decimal_i32(value, be32_at(&a->size));
  return true;
}

}  // namespace qel2::mgmt
