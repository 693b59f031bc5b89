// Feeds arbitrary TLS handshake and record requests to the stand-in: the
// parameter words, sizes and segments come from the input; the context
// (keyed by a handshake once, so records reach the engine) and the keys are
// real, so decoding runs up to the cryptography.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <hsmsim/hsm.h>

#include "sim_session.h"
#include "wire/be_codec.h"

namespace {

using hsmsim::Hsm;
using hsmsim::HsmRequest;

struct Op {
  uint16_t command_type, opcode;
};
constexpr Op kOps[] = {{3, 0x2005}, {3, 0x6003}, {3, 0x0005}, {3, 0x4003}, {1, 0x200A}, {1, 0x700A},
                       {1, 0x000A}, {1, 0x500A}, {3, 0x2015}, {3, 0x2815}, {1, 0x000B}, {1, 0x000C},
                       {1, 0x400C}, {1, 0x000D}, {1, 0x300D}, {1, 0x200D}};
constexpr uint16_t kOffsets[] = {0, 176, 256, 272, 304, 456, 496, 656, 8};

struct World {
  Hsm hsm;
  uint32_t session = 0;
  uint64_t ctx = 0;
  World() {
    session = simfuzz::crypto_user(hsm);
    HsmRequest alloc;
    alloc.command_type = 2;
    alloc.opcode = 1;
    alloc.output_sizes = {24};
    alloc.session_handle = session;
    auto a = hsm.execute(alloc);
    ctx = a.payload.size() == 24
              ? (uint64_t{simfuzz::be32(a.payload, 16)} << 32) | simfuzz::be32(a.payload, 20)
              : 0;
  }
  // A TLS 1.2 AES-128-CBC-SHA handshake from a given premaster secret, so
  // the context holds write states.
  void key_context() {
    const std::vector<uint8_t> zeros8(8), iv(16), pm(48, 3), random(32, 5), msgs(40, 1);
    HsmRequest q;
    q.command_type = 1;
    q.opcode = 0x300A;
    q.param1 = 0x8000 | 48;
    q.param2 = static_cast<uint16_t>((0x801 << 2) | 0x80 | 2 | (5 << 3) | 0x300);
    q.session_handle = session;
    q.ctx_ptr = ctx;
    q.inputs = {zeros8, iv, zeros8, iv, pm, random, random, msgs};
    q.output_sizes = {16, 16};
    hsm.execute(q);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  static World *world = [] {
    auto *w = new World;
    w->key_context();
    return w;
  }();
  const Op op = kOps[data[0] % std::size(kOps)];
  HsmRequest q;
  q.command_type = op.command_type;
  q.opcode = static_cast<uint16_t>(op.opcode | ((data[1] & 1) ? 0x80 : 0));
  q.param1 = static_cast<uint16_t>(data[2] << 8 | data[3]);
  q.param2 = static_cast<uint16_t>(data[4] << 8 | data[5]);
  // Records on the keyed context need the word of its suite exactly.
  if (data[1] & 2) q.param2 = static_cast<uint16_t>((data[1] & 4) ? 0x20AE : 0x202E | data[5] << 8);
  q.session_handle = world->session;
  q.ctx_ptr = world->ctx + kOffsets[data[6] % std::size(kOffsets)];
  const uint8_t outs = data[7] & 7;
  std::vector<uint32_t> out_sizes;
  size_t pos = 8;
  for (uint8_t i = 0; i < outs && pos < size; ++i) out_sizes.push_back(uint32_t{data[pos++]} * 2);
  // The rest: segments, each prefixed by a one-byte length.
  std::span<const uint8_t> all(data, size);
  while (pos < size) {
    const size_t want = data[pos++];
    const size_t n = std::min(want, size - pos);
    q.inputs.push_back(all.subspan(pos, n));
    pos += n;
  }
  q.output_sizes = out_sizes;
  auto reply = world->hsm.execute(q);
  uint64_t room = 0;
  for (auto o : out_sizes) room += o;
  if (reply.payload.size() > room) __builtin_trap();
  // A handshake that succeeded rekeys the context; start again from a known one.
  if (reply.status == 0 && data[0] % std::size(kOps) < 13) world->key_context();
  return 0;
}
