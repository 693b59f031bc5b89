// Feeds arbitrary bytes to the stand-in: as a stream of daemon messages
// (framing and splitting), and as the command record of an HSM operation
// on a session that exists.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <hsmsim/hsm.h>

#include "daemon/framing.h"
#include "wire/be_codec.h"

namespace {

using hsmsim::Hsm;
using hsmsim::HsmRequest;

constexpr uint16_t kServed[] = {13, 14, 36, 37, 38, 39, 43, 146, 147, 148, 152, 162, 221, 254, 999};

void frame_stream(std::span<const uint8_t> data) {
  size_t pos = 0;
  for (int guard = 0; guard < 64 && pos < data.size(); ++guard) {
    auto rest = data.subspan(pos);
    auto f = hsmsim::daemon::examine(rest);
    if (f.kind == hsmsim::daemon::FrameKind::NeedMore || f.length > rest.size() || f.close) return;
    if (f.kind == hsmsim::daemon::FrameKind::Full) {
      hsmsim::daemon::FullRequest req;
      if (hsmsim::daemon::split_full(rest.first(f.length), req)) {
        uint64_t total = 0;
        for (auto in : req.inputs) total += in.size();
        if (total > rest.size()) __builtin_trap();
      }
    }
    (void)hsmsim::daemon::plausible_header(rest.subspan(f.length));
    pos += f.length;
  }
}

uint32_t be32(const std::vector<uint8_t>& v, size_t off) {
  hsmsim::wire::BeReader r(v);
  r.skip(off);
  return r.u32();
}

HsmRequest mgmt(uint16_t opcode, std::span<const uint8_t> input, std::vector<uint32_t> outs, uint32_t sess) {
  HsmRequest q;
  q.opcode = opcode;
  if (!input.empty()) q.inputs.push_back(input);
  q.output_sizes = std::move(outs);
  q.session_handle = sess;
  return q;
}

void hsm_operation(std::span<const uint8_t> data) {
  if (data.size() < 4) return;
  Hsm hsm;
  // An application and a session to aim at.
  std::vector<uint8_t> init;
  hsmsim::wire::BeWriter(init).zeros(16).text("PARTITION_1", 16);
  auto a = hsm.execute(mgmt(146, init, {20}, 0));
  uint32_t app = be32(a.payload, 16), nonce = be32(a.payload, 4);
  std::vector<uint8_t> open;
  hsmsim::wire::BeWriter(open).zeros(12).u32(nonce).u32(2).u16(1).u16(0).u32(0).u32(app).u32(0);
  auto s = hsm.execute(mgmt(36, open, {20}, app));
  uint32_t sess = be32(s.payload, 16);

  uint16_t opcode = kServed[data[0] % std::size(kServed)];
  std::vector<uint8_t> record(data.begin() + 4, data.end());
  if ((data[1] & 1) && record.size() >= 16) {  // aim the record at the live session
    hsmsim::wire::BeWriter w(record);
    w.u32_at(12, sess);
    if (data[1] & 2) w.u32_at(8, nonce);
  }
  std::vector<uint32_t> outs;
  for (int i = 0; i < (data[2] & 3); ++i) outs.push_back(static_cast<uint32_t>(data[3]) * (i + 1) * 4);
  HsmRequest q = mgmt(opcode, record, outs, (data[1] & 4) ? sess : be32(record, 0));
  // Split the record over two segments now and then: records span segments.
  if ((data[1] & 8) && record.size() > 1) {
    std::span<const uint8_t> all(record);
    q.inputs = {all.first(record.size() / 2), all.subspan(record.size() / 2)};
  }
  auto r = hsm.execute(q);
  uint64_t cap = 0;
  for (auto o : outs) cap += o;
  if (r.payload.size() > cap) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::span<const uint8_t> rest(data + 1, size - 1);
  if (data[0] & 1)
    hsm_operation(rest);
  else
    frame_stream(rest);
  return 0;
}
