// What the library knows about each management opcode, declared once as
// data: the transport's time-out, token flags and handle marking, the
// status predicates and the request helper's result rule all read it here.
#ifndef QEL2_COMMON_OPCODE_TRAITS_H
#define QEL2_COMMON_OPCODE_TRAITS_H

#include <cstdint>

namespace qel2 {

// How a layer holding RET_CLUSTER_OPERATION_INCOMPLETE is read.
enum class ClusterRule : uint8_t {
  kNone,          // the code is a failure like any other
  kReturnCode,    // the layer passes; the cluster code is the result once the rest passes
  kResponseCode,  // the layer passes; the HSM's response code is the result
};

// Object handles an answer carries in output segment 0 (server-directed send).
enum class HandleMarks : uint8_t {
  kNone,
  kOneAt16,       // one 64-bit handle at offset 16
  kTwoAt16And24,  // public and private key handles at 16 and 24
};

struct OpcodeTraits {
  bool server_directed = false;  // sent to the cluster server named in the handle
  bool replicated = false;       // replicated to every server: longer wait
  bool object_creating = false;  // carries the thread's token flags
  ClusterRule cluster = ClusterRule::kNone;
  uint16_t extra_wait_s = 0;  // added to the request's own time-out by the transport
  HandleMarks marks = HandleMarks::kNone;
};

// Traits of a management opcode (command types 0); opcodes not listed have
// none. Only the low 16 bits count.
const OpcodeTraits &opcode_traits(uint16_t opcode);

// Command types whose requests carry raw operand segments: no response
// record, the HSM's verdict is the request status.
bool is_raw_command_type(uint16_t command_type);

// Seconds the transport adds to a request's time-out for the opcode.
uint32_t opcode_extra_wait(uint16_t opcode);

}  // namespace qel2

#endif
