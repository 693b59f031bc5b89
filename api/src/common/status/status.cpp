// Texts of the status codes and the predicates that classify codes.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "common/opcode_traits.h"
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
  return qel2::opcode_traits(opcode).replicated ? 1 : 0;
}

QEL2_EXPORT uint8_t is_valid_cluster_ha_op_response(uint16_t opcode, uint32_t cond_code) {
  return cond_code == RET_CLUSTER_OPERATION_INCOMPLETE &&
                 qel2::opcode_traits(opcode).cluster != qel2::ClusterRule::kNone
             ? 1
             : 0;
}

}  // extern "C"
