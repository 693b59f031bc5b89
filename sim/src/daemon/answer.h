// Building answer messages: the header the daemon sends back, and the
// payloads of the control operations.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include <hsmsim/daemon.h>

#include "wire/daemon_msg.h"

namespace hsmsim::daemon {

// Header + payload of the answer to `req`. `fault` (a scripted answer) may
// change the id, the announced length, byte 51, the server index and op_ctx.
std::vector<uint8_t> build_answer(const wire::MsgHeader &req, uint32_t status,
                                  std::span<const uint8_t> payload, uint64_t op_ctx,
                                  const Answer *fault);

inline constexpr size_t kHealthRecordSize = 72;
inline constexpr size_t kClusterRecordSize = 256;  // 32 x {node, rc}

std::vector<uint8_t> health_record();
std::vector<uint8_t> cluster_record(uint32_t status);

// Opcodes the cluster replicates to every server: the daemon keeps their
// per-node results for CLUSTER_REQUEST_STATUS.
bool is_replicated_opcode(uint16_t opcode);

}  // namespace hsmsim::daemon
