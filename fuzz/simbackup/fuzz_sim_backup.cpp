// The stand-in's backup and restore: the plain forms inside the blobs parsed
// from arbitrary bytes; the same bytes sealed under the partition's known
// key backup key and handed to the restore requests in well-formed
// records (so they reach the parsers behind the seal); and arbitrary
// records for every backup and restore opcode inside a run. Nothing may
// crash or answer beyond its output segments.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <hsmsim/hsm.h>

#include "../sim/sim_session.h"
#include "hsm/engine/crypto.h"
#include "hsm/ops/admin2_backup_blob.h"
#include "wire/be_codec.h"

namespace {

namespace bk = hsmsim::hsm::backup;
using hsmsim::Hsm;
using hsmsim::HsmRequest;
using simfuzz::mgmt;
using Bytes = std::vector<uint8_t>;

const Bytes kWrapping(32, 0x11), kKbk(32, 0x22);

void check(const HsmRequest &q, const hsmsim::HsmReply &r) {
  uint64_t cap = 0;
  for (auto o : q.output_sizes) cap += o;
  if (r.payload.size() > cap) __builtin_trap();
}

// Partition 1's officer logged in, its KBK the known one, a run begun.
uint32_t prepare(Hsm &hsm, bool restore) {
  hsm.set_kbk_wrapping_key(kWrapping);
  const uint32_t sess =
      simfuzz::officer(hsm, hsmsim::defaults::kPartition, hsmsim::defaults::kOfficerName,
                       hsmsim::defaults::kOfficerPassword);
  hsmsim::hsm::engine::Bytes wrapped;
  hsmsim::hsm::engine::cipher("id-aes256-wrap", kWrapping, {}, true, false, kKbk, wrapped);
  Bytes imp;
  hsmsim::wire::BeWriter(imp).zeros(12).u32(sess).u32(0).u32(0x1090).u32(1);
  hsmsim::wire::BeWriter(imp).u32(static_cast<uint32_t>(wrapped.size())).u32(0).u32(0);
  imp.insert(imp.end(), wrapped.begin(), wrapped.end());
  hsm.execute(mgmt(167, imp, {16}, sess));
  Bytes begin;
  hsmsim::wire::BeWriter(begin).zeros(12).u32(sess).u32(0).u32(0).u32(1);
  hsm.execute(mgmt(restore ? 176 : 168, begin, {16}, sess));
  return sess;
}

void parse_plain(uint8_t which, std::span<const uint8_t> b) {
  switch (which % 6) {
    case 0:
      (void)bk::user_from(b);
      break;
    case 1:
      (void)bk::partition_settings_from(b);
      break;
    case 2:
      (void)bk::hsm_config_from(b);
      break;
    case 3:
      (void)bk::key_from(b);
      break;
    case 4:
      (void)bk::object_blob_from(b);
      break;
    default:
      (void)bk::open(kKbk, bk::Kind::User, b);
  }
}

// The bytes sealed as the blob of a restore request, in its record.
void restore_sealed(Hsm &hsm, uint32_t sess, uint8_t which, std::span<const uint8_t> plain) {
  static constexpr bk::Kind kinds[] = {bk::Kind::PartitionConfig, bk::Kind::HsmConfig,
                                       bk::Kind::User, bk::Kind::Key, bk::Kind::Object};
  const bk::Kind kind = kinds[which % 5];
  const Bytes blob = bk::seal(kKbk, kind, plain);
  const auto len = static_cast<uint32_t>(blob.size());
  Bytes rec;
  hsmsim::wire::BeWriter w(rec);
  std::vector<Bytes> segs;
  uint16_t opcode = 0;
  switch (kind) {
    case bk::Kind::PartitionConfig:
      opcode = 178;
      w.zeros(12).u32(sess).u32(0).u32(0).u32(len).u32(1);
      break;
    case bk::Kind::HsmConfig:  // sealed under partition 1's KBK: refused, not parsed
      opcode = 183;
      w.zeros(12).u32(sess).u32(0).u32(len).u32(which & 3).u32(100).u32(10).u32(1);
      w.text("restored", 16).zeros(16);
      break;
    case bk::Kind::User:
      opcode = 179;
      w.zeros(12).u32(sess).u32(0).u8(0).zeros(3).u32(1).u32(1);
      segs.push_back(Bytes{0, 0, 0, static_cast<uint8_t>(len)});
      break;
    case bk::Kind::Key:
      opcode = 188;
      w.zeros(8).u32(which & 1).u32(sess).u32(0).u32(1).u32(len);
      break;
    case bk::Kind::Object:
      opcode = 204;
      w.zeros(12).u32(sess).u32(1).u32(0).u8(which & 3).u8(which >> 2 & 7).zeros(2).u32(len);
      break;
  }
  HsmRequest q = mgmt(opcode, rec, {32}, sess);
  for (const auto &s : segs) q.inputs.push_back(s);
  q.inputs.push_back(blob);
  check(q, hsm.execute(q));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  const std::span<const uint8_t> rest(data + 4, size - 4);
  const uint8_t mode = data[0] % 3;
  if (mode == 0) {
    parse_plain(data[1], rest);
    return 0;
  }
  Hsm hsm;
  const bool restore = data[1] & 1;
  const uint32_t sess = prepare(hsm, restore);
  if (mode == 1) {
    restore_sealed(hsm, sess, data[2], rest);
    return 0;
  }
  // Arbitrary records, aimed at the live session, split into up to three
  // input segments, with outputs sized by the input.
  static constexpr uint16_t kOps[] = {168, 169, 170, 171, 172, 173, 174, 175, 176, 177,
                                      178, 179, 180, 181, 182, 183, 187, 188, 203, 204};
  Bytes record(rest.begin(), rest.end());
  if (record.size() >= 16) hsmsim::wire::BeWriter(record).u32_at(12, sess);
  HsmRequest q;
  q.opcode = kOps[(data[1] >> 1) % std::size(kOps)];
  q.session_handle = sess;
  const size_t cut1 = record.empty() ? 0 : data[2] % (record.size() + 1);
  const size_t cut2 = cut1 + (record.size() - cut1) / 2;
  const std::span<const uint8_t> all(record);
  q.inputs.push_back(all.first(cut1));
  if (data[3] & 1) {
    q.inputs.push_back(all.subspan(cut1, cut2 - cut1));
    q.inputs.push_back(all.subspan(cut2));
  } else {
    q.inputs.push_back(all.subspan(cut1));
  }
  for (int i = 0; i < (data[3] >> 1 & 3); ++i) q.output_sizes.push_back(uint32_t{data[3]} * 4u);
  check(q, hsm.execute(q));
  return 0;
}
