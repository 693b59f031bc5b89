// Feeds arbitrary segments to the stand-in's key unwrap (opcode 226) from a
// logged-in session: the command aimed (when the input asks) at a seeded
// AES unwrapping key or the fixed wrapping key, with a mechanism of the
// wrap side, and the rest cut into the segments the request carries.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <hsmsim/hsm.h>

#include "sim_session.h"
#include "wire/be_codec.h"

namespace {

using hsmsim::Hsm;
using hsmsim::HsmRequest;
using hsmsim::ObjectAttr;
using simfuzz::mgmt;

constexpr uint16_t kUnwrapKey2 = 226;
constexpr uint32_t kMechs[] = {1, 9, 310, 4180, 4229, 4231, 4240, 4241, 4242};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  Hsm hsm;
  const uint32_t sess = simfuzz::crypto_user(hsm);
  hsmsim::ObjectSeed kek;
  kek.attributes = {ObjectAttr::number(0, 4), ObjectAttr::number(256, 31),
                    ObjectAttr::flag(0x107, true)};
  kek.key = std::vector<uint8_t>(32, 0x42);
  const uint64_t kek_handle = hsm.seed_object(kek).handle;

  const uint8_t aim = data[0];
  const uint32_t mech = kMechs[data[1] % std::size(kMechs)];
  const size_t segments = 1 + data[2] % 10;  // 6 and 9 are the real counts
  std::vector<uint8_t> body(data + 8, data + size);
  // The command is the first 40 bytes; aimed, it names the session, the
  // mechanism and a usable unwrapping key.
  if (body.size() < 40) body.resize(40, 0);
  hsmsim::wire::BeWriter w(body);
  if (aim & 1) w.u32_at(12, sess);
  if (aim & 2) w.u32_at(20, mech);
  if (aim & 4) {
    w.u32_at(24, 0);
    w.u32_at(28, (aim & 8) ? 4u : static_cast<uint32_t>(kek_handle));
  }
  // Segment boundaries after the command from the header bytes.
  std::span<const uint8_t> all(body);
  HsmRequest q = mgmt(kUnwrapKey2, all.first(40), {}, sess);
  size_t off = 40;
  for (size_t i = 1; i < segments; ++i) {
    const size_t rest = body.size() - off;
    size_t n = i + 1 == segments ? rest : std::min<size_t>(rest, data[3 + (i % 5)] * (i % 3 + 1));
    if (i == 1 && (aim & 0x10)) n = std::min<size_t>(rest, 4);  // the length word
    q.inputs.push_back(all.subspan(off, n));
    off += n;
  }
  q.output_sizes = {24};
  if (aim & 0x20) q.output_sizes.push_back(512);
  q.attest = (aim & 0x40) != 0;
  if (q.attest) q.output_sizes.push_back(256);
  auto reply = hsm.execute(q);
  uint64_t room = 0;
  for (auto o : q.output_sizes) room += o;
  if (reply.payload.size() > room) __builtin_trap();
  return 0;
}
