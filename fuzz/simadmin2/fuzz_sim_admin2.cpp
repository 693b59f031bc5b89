// The stand-in's second administration requests (partition private data,
// M-of-N tokens and values, key backup key wrap and shares, certificate
// authentication) on arbitrary records and segments, from an officer's
// session: no request may crash it or answer beyond its output segments.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <hsmsim/hsm.h>

#include "../sim/sim_session.h"
#include "wire/be_codec.h"

namespace {

struct Op {
  uint16_t command_type, opcode;
};
constexpr uint16_t kMgmt = 0, kCert = 9;
constexpr Op kOps[] = {{kMgmt, 163}, {kMgmt, 164}, {kMgmt, 192}, {kMgmt, 193}, {kMgmt, 194},
                       {kMgmt, 218}, {kMgmt, 219}, {kMgmt, 220}, {kMgmt, 222}, {kMgmt, 224},
                       {kMgmt, 217}, {kMgmt, 166}, {kMgmt, 167}, {kCert, 0},   {kCert, 1},
                       {kCert, 2},   {kCert, 3},   {kCert, 4},   {kCert, 5},   {kCert, 6},
                       {kCert, 7},   {kCert, 8}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6) return 0;
  hsmsim::Hsm hsm;
  namespace d = hsmsim::defaults;
  const uint32_t sess =
      (data[1] & 16) ? simfuzz::officer(hsm, d::kAdminPartition, d::kAdminName, d::kAdminPassword)
                     : simfuzz::officer(hsm, d::kPartition, d::kOfficerName, d::kOfficerPassword);
  const Op op = kOps[data[0] % std::size(kOps)];
  std::vector<uint8_t> rest(data + 6, data + size);
  if ((data[1] & 1) && rest.size() >= 16) hsmsim::wire::BeWriter(rest).u32_at(12, sess);
  // Up to three input segments cut from the rest at the two given points.
  const size_t cut1 = std::min<size_t>(rest.size(), data[4] * 4u);
  const size_t cut2 = std::min<size_t>(rest.size(), cut1 + data[5] * 4u);
  const std::span<const uint8_t> all(rest);
  hsmsim::HsmRequest q = simfuzz::mgmt(op.opcode, all.first(cut1), {}, (data[1] & 4) ? sess : 0);
  if (op.command_type) q.command_type = op.command_type;
  if (cut2 > cut1) q.inputs.push_back(all.subspan(cut1, cut2 - cut1));
  if (rest.size() > cut2) q.inputs.push_back(all.subspan(cut2));
  for (int i = 0; i < (data[2] & 3); ++i)
    q.output_sizes.push_back(static_cast<uint32_t>(data[3]) * static_cast<uint32_t>(i + 1) * 4);
  q.param1 = static_cast<uint16_t>(data[5] << 8 | data[4]);
  q.param2 = static_cast<uint16_t>(data[3] << 8 | data[2]);
  auto r = hsm.execute(q);
  uint64_t cap = 0;
  for (auto o : q.output_sizes) cap += o;
  if (r.payload.size() > cap) __builtin_trap();
  return 0;
}
