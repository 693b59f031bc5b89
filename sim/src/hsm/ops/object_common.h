// What the object store's handlers share: their opcodes, the actor of a
// session command, the room a request gives for variable output, and the
// attestation segment.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "hsm/objects/access.h"
#include "hsm/objects/codes.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm::objop {

using namespace hsmsim::hsm::op;  // the opcodes

inline constexpr size_t kAttestationSize = 256;

// The header of a session command and the actor behind it; `code` is 0 or
// the answer (a short record: RET_INVALID_INPUT).
struct Head {
  SessionHeader h;
  obj::Actor actor;
  uint32_t code = 0;
};
inline Head read_head(HsmState &st, wire::BeReader &r) {
  Head hd;
  hd.h = SessionHeader::read(r);
  if (!r.ok()) {
    hd.code = obj::rc::kInvalidInput;
    return hd;
  }
  hd.code = obj::actor_of(st, hd.h.session, hd.actor);
  return hd;
}

// Output segments that take data: all but an attestation segment.
inline size_t data_segments(const Call &c) {
  size_t n = c.out.count();
  return c.req.attest && n > 0 ? n - 1 : n;
}
// Bytes the request has room for in data segment `i` (0 when it has none).
inline uint32_t room(const Call &c, size_t i) {
  return i < data_segments(c) ? c.out.capacity(i) : 0;
}

// A response header followed by the given 32-bit fields.
inline std::vector<uint8_t> record(uint32_t code, uint32_t total, uint32_t buffer,
                                   std::span<const uint32_t> fields) {
  std::vector<uint8_t> out = std_response(code, 0, total, buffer);
  wire::BeWriter w(out);
  for (uint32_t f : fields) w.u32(f);
  return out;
}

// Fills the attestation segment of a request that asked for one: HMAC-SHA-256
// blocks under the HSM's attestation key over the answer's other segments.
void attest(HsmState &, Call &);

// Registration, one per file.
void add_object_info_ops(HandlerTable &);
void add_masked_object_ops(HandlerTable &);
void add_attribute_ops(HandlerTable &);
void add_find_ops(HandlerTable &);

}  // namespace hsmsim::hsm::objop
