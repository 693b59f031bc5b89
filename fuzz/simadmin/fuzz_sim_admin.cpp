// The stand-in's administration requests on arbitrary records, sent from
// an officer's session of partition 1 or the administrator's of partition
// 0: no request may crash it or answer beyond its output segments.
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
using simfuzz::officer;

constexpr uint16_t kAdmin[] = {0,   1,   3,   4,   6,   9,   32,  35,  47,  52,
                               113, 114, 149, 154, 158, 159, 160, 161, 165, 184,
                               189, 208, 209, 213, 223, 244, 252, 253};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  Hsm hsm;
  namespace d = hsmsim::defaults;
  const uint32_t sess = (data[1] & 16)
                            ? officer(hsm, d::kAdminPartition, d::kAdminName, d::kAdminPassword)
                            : officer(hsm, d::kPartition, d::kOfficerName, d::kOfficerPassword);
  const uint16_t opcode = kAdmin[data[0] % std::size(kAdmin)];
  std::vector<uint8_t> record(data + 4, data + size);
  if ((data[1] & 1) && record.size() >= 16) {  // aim the record at the live session
    hsmsim::wire::BeWriter w(record);
    w.u32_at(12, sess);
  }
  std::vector<uint32_t> outs;
  for (int i = 0; i < (data[2] & 3); ++i)
    outs.push_back(static_cast<uint32_t>(data[3]) * static_cast<uint32_t>(i + 1) * 4);
  hsmsim::HsmRequest q = mgmt(opcode, record, outs, (data[1] & 4) ? sess : be32(record, 0));
  if (data[1] & 32) q.command_type = 0xFEFF;  // the raw partition table and its translation
  q.param2 = static_cast<uint16_t>(data[3] << 8 | data[2]);
  auto r = hsm.execute(q);
  uint64_t cap = 0;
  for (auto o : outs) cap += o;
  if (r.payload.size() > cap) __builtin_trap();
  return 0;
}
