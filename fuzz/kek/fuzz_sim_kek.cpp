// The stand-in's key-encryption and password-encryption key requests on
// arbitrary records and host keys, from an open session of PARTITION_1: no
// request may crash it or answer beyond its output segments.
//   byte 0: bit 0 the password key (opcode 29), bit 1 set ulSize to what
//           follows the record, bit 2 no key segment
//   byte 1: nonce segment size / 4; byte 2: key segment size / 8
//   then the request's bytes (record, nonce, host key)
#include <cstddef>
#include <cstdint>
#include <vector>

#include <hsmsim/hsm.h>

#include "../sim/sim_session.h"
#include "wire/be_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  static hsmsim::Hsm hsm;
  static const simfuzz::Session s = simfuzz::open_session(hsm);
  std::vector<uint8_t> body(data + 3, data + size);
  if ((data[0] & 2) && body.size() >= 24) {
    hsmsim::wire::BeWriter w(body);
    w.u32_at(20, static_cast<uint32_t>(body.size() - 24));
  }
  std::vector<uint32_t> outs = {20, uint32_t{data[1]} * 4};
  if (!(data[0] & 4)) outs.push_back(uint32_t{data[2]} * 8);
  const uint16_t opcode = (data[0] & 1) ? 29 : 28;
  auto r = hsm.execute(simfuzz::mgmt(opcode, body, outs, s.handle));
  uint64_t cap = 0;
  for (auto o : outs) cap += o;
  if (r.payload.size() > cap) __builtin_trap();
  return 0;
}
