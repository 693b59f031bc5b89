// The stand-in's firmware, clone, diagnostic and core-dump requests on
// arbitrary records, several in a row so that later steps meet the state
// earlier ones left (an update begun, a clone exchange under way, a dump
// half read): no request may crash it or answer beyond its output segments.
//
// Input: byte 0 picks the session (bit 0: the administrator of partition 0,
// else partition 1's officer), then up to four requests, each a 4-byte head
// (opcode pick, aim the record at the session, output size, record length)
// and its record.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <hsmsim/hsm.h>

#include "../sim/sim_session.h"
#include "wire/be_codec.h"

namespace {

using hsmsim::Hsm;
using simfuzz::be32;
using simfuzz::mgmt;

struct Op {
  uint16_t command_type, opcode;
};
constexpr Op kOps[] = {{0, 150}, {0, 5},   {0, 151}, {0, 80}, {0, 81}, {0, 82},
                       {0, 83},  {0, 229}, {0, 157}, {0, 7},  {0, 8},  {8, 0}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  Hsm hsm;
  namespace d = hsmsim::defaults;
  const uint32_t sess =
      (data[0] & 1) ? simfuzz::officer(hsm, d::kAdminPartition, d::kAdminName, d::kAdminPassword)
                    : simfuzz::officer(hsm, d::kPartition, d::kOfficerName, d::kOfficerPassword);
  hsm.set_core_dump(2, 0, std::vector<uint8_t>(300, 0xC0));
  size_t pos = 1;
  for (int i = 0; i < 4 && pos + 4 <= size; ++i) {
    const uint8_t *h = data + pos;
    pos += 4;
    const size_t len = std::min<size_t>(h[3] * 4u, size - pos);
    std::vector<uint8_t> record(data + pos, data + pos + len);
    pos += len;
    if ((h[1] & 1) && record.size() >= 16) hsmsim::wire::BeWriter(record).u32_at(12, sess);
    const Op op = kOps[h[0] % std::size(kOps)];
    std::vector<uint32_t> outs;
    for (int k = 0; k < (h[1] >> 1 & 3); ++k) outs.push_back(uint32_t{h[2]} * 37u * (k + 1));
    hsmsim::HsmRequest q = mgmt(op.opcode, record, outs, (h[1] & 8) ? be32(record, 0) : sess);
    q.command_type = op.command_type;
    if (h[1] & 16 && record.size() > 24)  // a second input segment, as the chunks and blobs go
      q.inputs = {std::span<const uint8_t>(record).first(24),
                  std::span<const uint8_t>(record).subspan(24)};
    q.param2 = static_cast<uint16_t>(h[1] >> 5);
    auto r = hsm.execute(q);
    uint64_t cap = 0;
    for (auto o : outs) cap += o;
    if (r.payload.size() > cap) __builtin_trap();
  }
  return 0;
}
