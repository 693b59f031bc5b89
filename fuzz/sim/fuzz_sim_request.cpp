// Feeds arbitrary bytes to the stand-in: as a stream of daemon messages
// (framing and splitting), and as the command record of an HSM operation
// on a session that exists.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <hsmsim/hsm.h>

#include "daemon/framing.h"
#include "sim_session.h"
#include "wire/be_codec.h"

namespace {

using hsmsim::Hsm;
using hsmsim::HsmRequest;
using simfuzz::be32;
using simfuzz::mgmt;

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

void hsm_operation(std::span<const uint8_t> data) {
  if (data.size() < 4) return;
  Hsm hsm;
  // An application and a session to aim at.
  const simfuzz::Session opened = simfuzz::open_session(hsm);
  const uint32_t sess = opened.handle, nonce = opened.nonce;

  uint16_t opcode = kServed[data[0] % std::size(kServed)];
  std::vector<uint8_t> record(data.begin() + 4, data.end());
  if ((data[1] & 1) && record.size() >= 16) {  // aim the record at the live session
    hsmsim::wire::BeWriter w(record);
    w.u32_at(12, sess);
    if (data[1] & 2) w.u32_at(8, nonce);
  }
  std::vector<uint32_t> outs;
  for (int i = 0; i < (data[2] & 3); ++i)
    outs.push_back(static_cast<uint32_t>(data[3]) * (i + 1) * 4);
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::span<const uint8_t> rest(data + 1, size - 1);
  if (data[0] & 1)
    hsm_operation(rest);
  else
    frame_stream(rest);
  return 0;
}
