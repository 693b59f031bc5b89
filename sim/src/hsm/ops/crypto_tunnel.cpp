// The end-to-end record tunnel. The stand-in's firmware echoes: its write
// sequence is the host's plus one (64-bit big-endian), its answer record the
// host's record, cut to the answer buffer.
#include "hsm/codes.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;

constexpr uint16_t kTunnelParam = 0x20A7;

void echo(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  if (rc.inputs() != 2 || rc.outputs() != 2 || rc.in(0).size() != 8)
    return (void)rc.fail(code::kBadRecord);
  const auto record = rc.in(1);
  if (rc.p2() != kTunnelParam || rc.p1() != static_cast<uint16_t>(record.size() - 8))
    return (void)rc.fail(code::kBadRecord);
  uint64_t seq = 0;
  for (uint8_t b : rc.in(0)) seq = seq << 8 | b;
  ++seq;
  engine::Bytes fw(8);
  for (int i = 7; i >= 0; --i, seq >>= 8) fw[static_cast<size_t>(i)] = static_cast<uint8_t>(seq);
  rc.put(0, fw);
  rc.put(1, record.first(std::min<size_t>(record.size(), rc.out_cap(1))));
}

}  // namespace

void add_crypto_tunnel_ops(HandlerTable &t) {
  t.add(kTunnelCommand, raw_opcode(major::kTunnel, 0x30), echo);
}

}  // namespace hsmsim::hsm
