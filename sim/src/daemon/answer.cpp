#include "daemon/answer.h"

#include <algorithm>
#include <cstring>

namespace hsmsim::daemon {

using wire::MsgHeader;

std::vector<uint8_t> build_answer(const MsgHeader &req, uint32_t status,
                                  std::span<const uint8_t> payload, uint64_t op_ctx,
                                  const Answer *fault) {
  MsgHeader h;
  h.status = status;
  h.req_id = fault && fault->req_id ? *fault->req_id : req.req_id;
  h.sess_handle = req.sess_handle;
  h.opcode = req.opcode;
  h.msg_type = req.msg_type;
  h.operation = req.operation;
  h.op_ctx = fault && fault->op_ctx ? fault->op_ctx : op_ctx;
  h.flags = fault ? fault->serveridx : 0;
  h.req_type = fault && fault->req_type ? *fault->req_type : req.req_type;
  h.set_payload_len(fault && fault->announced_len ? *fault->announced_len
                                                  : static_cast<uint32_t>(payload.size()));
  std::vector<uint8_t> out(wire::kHeaderSize + payload.size());
  h.encode(out.data());
  if (!payload.empty()) std::memcpy(out.data() + wire::kHeaderSize, payload.data(), payload.size());
  return out;
}

std::vector<uint8_t> health_record() {
  std::vector<uint8_t> rec(kHealthRecordSize, 0);
  // base addresses and read indexes stay 0; one chip of 16 cores; both heartbeats alive
  wire::store<uint32_t>(rec.data() + 48, 1);
  wire::store<uint32_t>(rec.data() + 52, 16);
  wire::store<uint64_t>(rec.data() + 56, 1);
  wire::store<uint64_t>(rec.data() + 64, 1);
  return rec;
}

std::vector<uint8_t> cluster_record(uint32_t status) {
  // The stand-in is one node (node 0); the other 31 slots name no node.
  std::vector<uint8_t> rec(kClusterRecordSize, 0xFF);
  wire::store<uint32_t>(rec.data(), 0);
  wire::store<uint32_t>(rec.data() + 4, status);
  return rec;
}

bool is_replicated_opcode(uint16_t opcode) {
  static constexpr uint16_t kReplicated[] = {9,   13,  14,  15,  18,  21,  23,  25,  27,  45, 69,
                                             130, 155, 191, 205, 218, 219, 220, 222, 226, 241};
  return std::find(std::begin(kReplicated), std::end(kReplicated), opcode) != std::end(kReplicated);
}

}  // namespace hsmsim::daemon
