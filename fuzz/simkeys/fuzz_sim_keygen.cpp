// Feeds arbitrary bytes to the stand-in's key-making operations (secret and
// password-based generation, key pairs, object creation, derivation) from a
// logged-in session, with base keys to derive from.
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

constexpr uint16_t kKeyOps[] = {15, 23, 25, 69, 155};
constexpr uint16_t kKeyPair = 25;
constexpr uint32_t kEcKeyPairGen = 4160;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6) return 0;
  Hsm hsm;
  const uint32_t sess = simfuzz::crypto_user(hsm);
  hsmsim::ObjectSeed aes, generic;
  aes.attributes = {ObjectAttr::number(0, 4), ObjectAttr::number(256, 31),
                    ObjectAttr::number(353, 16)};
  generic.attributes = {ObjectAttr::number(0, 4), ObjectAttr::number(256, 16),
                        ObjectAttr::number(353, 40)};
  const uint64_t bases[] = {hsm.seed_object(aes).handle, hsm.seed_object(generic).handle};

  const uint16_t opcode = kKeyOps[data[0] % std::size(kKeyOps)];
  const uint8_t aim = data[1];
  std::vector<uint8_t> record(data + 6, data + size);
  hsmsim::wire::BeWriter w(record);
  if ((aim & 1) && record.size() >= 16) w.u32_at(12, sess);
  // RSA and DSA generation is OpenSSL's and slow: key pairs are fuzzed as EC.
  if (opcode == kKeyPair && record.size() >= 24) w.u32_at(20, kEcKeyPairGen);
  if (opcode == 69 && (aim & 2) && record.size() >= 32) {
    w.u32_at(24, 0);
    w.u32_at(28, static_cast<uint32_t>(bases[(aim >> 2) & 1]));
  }
  std::vector<uint32_t> outs;
  for (int i = 0; i < (data[2] & 3); ++i)
    outs.push_back(static_cast<uint32_t>(data[3]) * (i + 1) * 8);
  HsmRequest q = mgmt(opcode, record, outs, sess);
  q.attest = data[4] & 1;
  if ((aim & 0x10) && record.size() > 1) {
    std::span<const uint8_t> all(record);
    q.inputs = {all.first(record.size() / 2), all.subspan(record.size() / 2)};
  }
  auto reply = hsm.execute(q);
  uint64_t room = 0;
  for (auto o : outs) room += o;
  if (reply.payload.size() > room) __builtin_trap();
  return 0;
}
