// What the wrap operations share: the mechanism table and the host-buffer
// wrap worker that key export, unwrap and import call.
#ifndef QEL2_MGMT_WRAP_WRAP_INTERNAL_H
#define QEL2_MGMT_WRAP_WRAP_INTERNAL_H

#include <cstdint>

#include "qel2_wrap.h"

namespace qel2::wrap {

// One row of the wrap mechanism table.
struct MechInfo {
  uint32_t mech;
  uint32_t iv_len;
  uint64_t initial_value;
};
// The row of a mechanism; a row of IV length 0 and value 0 for numbers not
// in the table.
MechInfo mech_info(uint32_t mech);

// The host-buffer wrap (flag 1) or unwrap (flag 0) with any mechanism:
// length rules, key capability check, host padding for 4242, the request.
Uint32 aes_wrap_unwrap_pad(Uint32 session, Uint64 key, const Uint8 *data, Uint32 data_len,
                           Uint64 iv, Uint8 *result, Uint32 *result_len, Uint8 flag,
                           Uint32 *request_id, Uint32 mech);

// The 8 bytes at iv as a 64-bit value, first byte first.
uint64_t iv_value(const Uint8 *iv);

// ---- what the key wrap and unwrap requests share ----

// Mechanisms that go with a zero IV of the table's length when none is given.
bool zero_iv_allowed(uint32_t mech);
// Mechanisms that take no IV at all (RSA).
bool rsa_mech(uint32_t mech);
// The number that travels: mechanism 1 goes as 9 with the isPkcsPad flag.
uint32_t sent_mech(uint32_t mech);
uint32_t pkcs_flag(uint32_t mech);
// The IV of a request: the caller's with its length, else zero bytes of the
// table's length for the mechanisms that allow it, none for RSA; false for
// any other mechanism without an IV.
bool pick_iv(uint32_t mech, const Uint8 *iv, uint32_t iv_len, const Uint8 **out, uint32_t *out_len);
// The mechanisms the checked key wrap and unwrap calls take: 4240, 4241,
// 4242, 4180, 1, 9 and 310.
bool checked_key_mech(uint32_t mech);
// True when the IV holds at least 8 bytes and the first 8 are zero (the
// padded AES wrap's rule; a shorter IV is none of its IVs).
bool zero_iv8(const Uint8 *iv, uint32_t iv_len);
// The first 8 bytes of an IV, zero-filled when it is shorter.
void iv8_of(const Uint8 *iv, uint32_t iv_len, Uint8 out[8]);

// ---- key unwrap (opcode 226) ----

// One unwrap request as its workers take it: the new object from a template
// the caller (or a blob, or the argument builder) gives.
struct UnwrapArgs {
  Uint32 session = 0;  // as the caller gave it; masked where it travels
  Uint32 input = ENCRYPTED;
  Uint32 mech = 0;
  Uint32 hash = 0xFFFFFFFF;  // the plain request's hash byte (none: 0xFF)
  const Uint8 *iv = nullptr;
  Uint32 iv_len = 0;
  const Uint8 *key = nullptr;
  Uint32 key_len = 0;
  const Uint8 *tmpl = nullptr;
  Uint32 tmpl_len = 0;
  Uint32 count = 0;
  Uint64 unwrapping = 0;
  Uint64 *handle = nullptr;
  Uint8 *attrs = nullptr;  // the new object's attributes, when both are given
  Uint32 *attr_len = nullptr;
  Uint8 *attested = nullptr;  // attestation, when both are given
  Uint32 *attested_len = nullptr;
  Uint32 *request_id = nullptr;
  Uint8 location = 255;  // 0 session object, 1 token object, 255 not given
};

// The plain request (IV from the arguments, hash byte) and the extended one
// (IV, GCM tag and additional data from ext).
Uint32 unwrap_with_template_common(const UnwrapArgs &a);
Uint32 unwrap_with_template_common_extended(const UnwrapArgs &a, const extendedArgs *ext);

}  // namespace qel2::wrap

#endif
