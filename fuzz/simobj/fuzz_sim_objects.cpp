// Feeds arbitrary bytes to the stand-in's object store: as a template, as a
// masked object, and as the command of an object operation from a logged-in
// session, aimed now and then at objects that exist.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <hsmsim/hsm.h>

#include "hsm/objects/masking.h"
#include "hsm/objects/template.h"
#include "sim_session.h"
#include "wire/be_codec.h"

namespace {

using hsmsim::Hsm;
using hsmsim::HsmRequest;
using hsmsim::ObjectAttr;
using simfuzz::mgmt;

constexpr uint16_t kObjectOps[] = {16, 17,  18,  19,  20,  21,  22,  31,  33,  34, 45,
                                   46, 129, 130, 191, 205, 206, 240, 241, 242, 243};

void store_operation(std::span<const uint8_t> data) {
  if (data.size() < 6) return;
  Hsm hsm;
  uint32_t sess = simfuzz::crypto_user(hsm);
  hsmsim::ObjectSeed aes;
  aes.attributes = {ObjectAttr::number(0, 4), ObjectAttr::number(256, 31),
                    ObjectAttr::number(353, 32)};
  hsmsim::ObjectSeed session_key = aes;
  session_key.session = sess;
  session_key.attributes.push_back(ObjectAttr::number(1, 0));
  hsmsim::ObjectSeed pub;
  pub.attributes = {ObjectAttr::number(0, 2), ObjectAttr::number(256, 0),
                    ObjectAttr::bytes(288, std::vector<uint8_t>(64, 0xC3)),
                    ObjectAttr::number(290, 65537)};
  const uint64_t handles[] = {hsm.seed_object(aes).handle, hsm.seed_object(session_key).handle,
                              hsm.seed_object(pub).handle, 0};

  uint16_t opcode = kObjectOps[data[0] % std::size(kObjectOps)];
  uint8_t aim = data[1];
  std::vector<uint8_t> record(data.begin() + 6, data.end());
  hsmsim::wire::BeWriter w(record);
  if ((aim & 1) && record.size() >= 16) w.u32_at(12, sess);
  if ((aim & 2) && record.size() >= 32) {
    w.u32_at(24, 0);
    w.u32_at(28, static_cast<uint32_t>(handles[(aim >> 2) & 3]));
  }
  std::vector<uint32_t> outs;
  for (int i = 0; i < (data[2] & 3); ++i)
    outs.push_back(static_cast<uint32_t>(data[3]) * (i + 1) * 4);
  HsmRequest q = mgmt(opcode, record, outs, sess);
  q.attest = data[4] & 1;
  q.op_ctx = data[5] & 0x0F;
  if ((aim & 0x10) && record.size() > 1) {  // records may span segments
    std::span<const uint8_t> all(record);
    q.inputs = {all.first(record.size() / 2), all.subspan(record.size() / 2)};
  }
  auto reply = hsm.execute(q);
  uint64_t room = 0;
  for (auto o : outs) room += o;
  if (reply.payload.size() > room) __builtin_trap();
  // A search may leave a context to continue from.
  if (reply.op_ctx) {
    q.op_ctx = reply.op_ctx;
    hsm.execute(q);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::span<const uint8_t> in(data, size);
  hsmsim::hsm::obj::ParsedTemplate t;
  (void)hsmsim::hsm::obj::parse_template(in, hsmsim::hsm::obj::Purpose::Create, t);
  (void)hsmsim::hsm::obj::parse_template(in, hsmsim::hsm::obj::Purpose::Find, t);
  static const std::vector<uint8_t> key(32, 0x42);
  hsmsim::hsm::obj::Unmasked u;
  (void)hsmsim::hsm::obj::unmask_object(in, key, u);
  store_operation(in);
  return 0;
}
