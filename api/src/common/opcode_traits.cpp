#include "common/opcode_traits.h"

#include <array>
#include <cstddef>
#include <iterator>

#include "qel2_opcodes.h"

namespace qel2 {

namespace {

// A replicated request (and the destruction of an object, which the cluster
// also carries to every server) may wait this much longer for its answer.
constexpr uint16_t kReplicatedWait = 300;

struct Row {
  uint16_t opcode;
  OpcodeTraits traits;
};

constexpr OpcodeTraits replicated() {
  OpcodeTraits t;
  t.replicated = true;
  t.extra_wait_s = kReplicatedWait;
  return t;
}
// Replicated and changing objects: an incomplete cluster result still
// carries the HSM's answer.
constexpr OpcodeTraits changing(ClusterRule rule = ClusterRule::kReturnCode) {
  OpcodeTraits t = replicated();
  t.cluster = rule;
  return t;
}
constexpr OpcodeTraits creating(HandleMarks marks = HandleMarks::kNone,
                                ClusterRule rule = ClusterRule::kReturnCode) {
  OpcodeTraits t = changing(rule);
  t.object_creating = true;
  t.marks = marks;
  return t;
}
constexpr OpcodeTraits on_server(OpcodeTraits t) {
  t.server_directed = true;
  return t;
}
constexpr OpcodeTraits with_wait(OpcodeTraits t, uint16_t s) {
  t.extra_wait_s = s;
  return t;
}

constexpr Row kRows[] = {
    {KQ_CHANGE_PSWD, replicated()},
    {KQ_LOGIN, replicated()},
    {KQ_LOGOUT, replicated()},
    {KQ_CREATE_OBJECT, creating(HandleMarks::kOneAt16)},
    {KQ_GET_OBJECT_INFO, on_server({})},
    {KQ_DESTROY_OBJECT, on_server(with_wait({}, kReplicatedWait))},
    {KQ_SHARE_OBJECT, on_server(changing(ClusterRule::kResponseCode))},
    {KQ_MODIFY_OBJECT, changing(ClusterRule::kResponseCode)},
    {KQ_GENERATE_KEY, creating(HandleMarks::kOneAt16)},
    {KQ_GENERATE_KEY_PAIR, creating(HandleMarks::kTwoAt16And24)},
    {KQ_UNWRAP_KEY, creating(HandleMarks::kOneAt16)},
    {KQ_TOMBSTONE_OBJECT, on_server(replicated())},
    {KQ_DELETE_TOMBSTONED_OBJECT, on_server({})},
    {KQ_DERIVE_KEY, creating(HandleMarks::kNone, ClusterRule::kResponseCode)},
    {KQ_INSERT_MASKED_OBJECT, creating()},
    {KQ_GENERATE_PBE_KEY, creating(HandleMarks::kOneAt16)},
    {KQ_FIND_OBJECTS_FROM_INDEX, replicated()},
    {KQ_FIND_OBJECTS_USING_COUNT, replicated()},
    // M-of-N tokens: an incomplete cluster operation still yields the HSM's verdict.
    {KQ_GET_TOKEN, changing(ClusterRule::kResponseCode)},
    {KQ_APPROVE_TOKEN, changing(ClusterRule::kResponseCode)},
    {KQ_LIST_TOKENS, changing(ClusterRule::kResponseCode)},
    {KQ_DELETE_TOKEN, changing(ClusterRule::kResponseCode)},
    {KQ_UNWRAP_KEY2, creating()},
    {KQ_INSERT_MASKED_OBJECT_USER, creating()},
};

constexpr bool unique_rows() {
  for (size_t i = 0; i < std::size(kRows); ++i)
    for (size_t j = i + 1; j < std::size(kRows); ++j)
      if (kRows[i].opcode == kRows[j].opcode) return false;
  return true;
}
static_assert(unique_rows(), "one row per opcode");

constexpr OpcodeTraits kNoTraits{};

// Looked up on every request: a direct index instead of a scan.
// kIndex[opcode] is the row's position + 1, 0 for an opcode without a row.
constexpr size_t kIndexed = 256;
constexpr std::array<uint8_t, kIndexed> make_index() {
  std::array<uint8_t, kIndexed> index{};
  for (size_t i = 0; i < std::size(kRows); ++i)
    index[kRows[i].opcode] = static_cast<uint8_t>(i + 1);
  return index;
}
constexpr bool rows_indexable() {
  for (const Row &r : kRows)
    if (r.opcode >= kIndexed) return false;
  return std::size(kRows) < 255;
}
static_assert(rows_indexable(), "every row's opcode fits the index");
constexpr std::array<uint8_t, kIndexed> kIndex = make_index();

}  // namespace

const OpcodeTraits &opcode_traits(uint16_t opcode) {
  if (opcode >= kIndexed || kIndex[opcode] == 0) return kNoTraits;
  return kRows[kIndex[opcode] - 1].traits;
}

bool is_raw_command_type(uint16_t command_type) {
  switch (command_type) {
    case KQ_VANTOR_CMD:
    case KQ_VNX_KEY_CMD:
    case KQ_NON_SSL_VANTOR_CMD:
    case KQ_VNX_CTX_KEY_CMD:
    case 0xEEE0:
      return true;
    default:
      return false;
  }
}

uint32_t opcode_extra_wait(uint16_t opcode) { return opcode_traits(opcode).extra_wait_s; }

}  // namespace qel2
