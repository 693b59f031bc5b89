// Texts of the status codes and the predicates that classify codes.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "qel2_errors.h"

namespace {

struct StatusText {
  Uint32 code;
  const char *text;
};

constexpr StatusText kStatusTexts[] = {
#include "common/status/status_table.inc"
};

constexpr bool sorted_and_unique() {
  for (size_t i = 1; i < std::size(kStatusTexts); ++i)
    if (kStatusTexts[i - 1].code >= kStatusTexts[i].code) return false;
  return true;
}
static_assert(sorted_and_unique(), "the status table must be sorted by code without repeats");

constexpr const char kUnknownText[] =
    "Error: new error from underlying FW/SW, might need to upgrade to new SW to decode";

// Opcodes the HSM cluster replicates to every server.
constexpr uint16_t kReplicatedOpcodes[] = {
    9,    // KQ_CHANGE_PSWD
    13,   // KQ_LOGIN
    14,   // KQ_LOGOUT
    15,   // KQ_CREATE_OBJECT
    18,   // KQ_SHARE_OBJECT
    21,   // KQ_MODIFY_OBJECT
    23,   // KQ_GENERATE_KEY
    25,   // KQ_GENERATE_KEY_PAIR
    27,   // KQ_UNWRAP_KEY
    45,   // KQ_TOMBSTONE_OBJECT
    69,   // KQ_DERIVE_KEY
    130,  // KQ_INSERT_MASKED_OBJECT
    155,  // KQ_GENERATE_PBE_KEY
    191,  // KQ_FIND_OBJECTS_FROM_INDEX
    205,  // KQ_FIND_OBJECTS_USING_COUNT
    218,  // KQ_GET_TOKEN
    219,  // KQ_APPROVE_TOKEN
    220,  // KQ_LIST_TOKENS
    222,  // KQ_DELETE_TOKEN
    226,  // KQ_UNWRAP_KEY2
    241,  // KQ_INSERT_MASKED_OBJECT_USER
};

// The replicated opcodes that change objects: an incomplete cluster result on
// them still carries the HSM's answer.
constexpr uint16_t kObjectChangingOpcodes[] = {
    15, 18, 21, 23, 25, 27, 69, 130, 155, 218, 219, 220, 222, 226, 241,
};

template <size_t N>
constexpr bool contains(const uint16_t (&list)[N], uint16_t opcode) {
  return std::find(std::begin(list), std::end(list), opcode) != std::end(list);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint8 *Qel2ResultAsString(Uint32 ret) {
  const auto *end = std::end(kStatusTexts);
  const auto *it = std::lower_bound(std::begin(kStatusTexts), end, ret,
                                    [](const StatusText &e, Uint32 v) { return e.code < v; });
  // The interface hands out non-const bytes; callers must not write through them.
  if (it != end && it->code == ret) return reinterpret_cast<Uint8 *>(const_cast<char *>(it->text));
  printf("error code %x\n", ret);
  return reinterpret_cast<Uint8 *>(const_cast<char *>(kUnknownText));
}

QEL2_EXPORT Uint8 tessaline_error_code(Uint32 ret) {
  return ret >= TESSALINE_SOCKET_CONNECT && ret <= TESSALINE_ERR_END ? 1 : 0;
}

QEL2_EXPORT uint8_t is_valid_ha_op(uint16_t opcode) {
  return contains(kReplicatedOpcodes, opcode) ? 1 : 0;
}

QEL2_EXPORT uint8_t is_valid_cluster_ha_op_response(uint16_t opcode, uint32_t cond_code) {
  return cond_code == RET_CLUSTER_OPERATION_INCOMPLETE && contains(kObjectChangingOpcodes, opcode)
             ? 1
             : 0;
}

}  // extern "C"
