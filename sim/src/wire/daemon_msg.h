// The client daemon's message layouts: the 56-byte header of every message,
// the 40-byte request descriptor and the 6-byte segment descriptors of a full
// request. These integers travel in host byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace hsmsim::wire {

inline constexpr size_t kHeaderSize = 56;
inline constexpr size_t kDescriptorSize = 40;
inline constexpr size_t kSegDescSize = 6;
inline constexpr size_t kSegmentsOffset = kHeaderSize + kDescriptorSize;  // 96
inline constexpr unsigned kMaxSegments = 32;

// Transport operations (header byte 49).
enum Operation : uint8_t {
  kOpFull = 0,
  kOpTranslatePartitionInfo = 1,
  kOpHealthDump = 4,
  kOpFirmwareVersion = 5,
  kOpDaemonVersion = 8,
  kOpServerNotice = 9,
  kOpClusterStatus = 10,
};

inline bool is_full_operation(uint8_t op) {
  return op == kOpFull || op == kOpTranslatePartitionInfo;
}
inline bool is_control_operation(uint8_t op) {
  return op == kOpHealthDump || op == kOpFirmwareVersion || op == kOpDaemonVersion ||
         op == kOpServerNotice || op == kOpClusterStatus;
}

// Host-order loads and stores at fixed offsets; callers check the bounds.
template <typename T>
inline T load(const uint8_t *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
inline void store(uint8_t *p, T v) {
  std::memcpy(p, &v, sizeof v);
}

struct MsgHeader {
  uint32_t status = 0;
  uint32_t req_id = 0;
  uint32_t sess_handle = 0;
  uint32_t app_sess_handle = 0;
  uint16_t in_len = 0;
  uint16_t out_len = 0;
  uint16_t opcode = 0;
  uint16_t serv_pending_req = 0;
  uint64_t priv = 0;
  uint64_t inconnid = 0;
  uint64_t op_ctx = 0;
  uint8_t msg_type = 0;
  uint8_t operation = 0;
  uint8_t flags = 0;  // token flags or server index
  uint8_t req_type = 0;
  uint8_t e2e_msg = 0;
  uint8_t srv_flag = 0;
  uint16_t out_len2 = 0;

  uint32_t payload_len() const { return (uint32_t{out_len2} << 16) | out_len; }
  void set_payload_len(uint32_t n) {
    out_len = static_cast<uint16_t>(n & 0xFFFF);
    out_len2 = static_cast<uint16_t>(n >> 16);
  }

  // p must hold kHeaderSize bytes.
  static MsgHeader decode(const uint8_t *p) {
    MsgHeader h;
    h.status = load<uint32_t>(p + 0);
    h.req_id = load<uint32_t>(p + 4);
    h.sess_handle = load<uint32_t>(p + 8);
    h.app_sess_handle = load<uint32_t>(p + 12);
    h.in_len = load<uint16_t>(p + 16);
    h.out_len = load<uint16_t>(p + 18);
    h.opcode = load<uint16_t>(p + 20);
    h.serv_pending_req = load<uint16_t>(p + 22);
    h.priv = load<uint64_t>(p + 24);
    h.inconnid = load<uint64_t>(p + 32);
    h.op_ctx = load<uint64_t>(p + 40);
    h.msg_type = p[48];
    h.operation = p[49];
    h.flags = p[50];
    h.req_type = p[51];
    h.e2e_msg = p[52];
    h.srv_flag = p[53];
    h.out_len2 = load<uint16_t>(p + 54);
    return h;
  }
  void encode(uint8_t *p) const {
    store(p + 0, status);
    store(p + 4, req_id);
    store(p + 8, sess_handle);
    store(p + 12, app_sess_handle);
    store(p + 16, in_len);
    store(p + 18, out_len);
    store(p + 20, opcode);
    store(p + 22, serv_pending_req);
    store(p + 24, priv);
    store(p + 32, inconnid);
    store(p + 40, op_ctx);
    p[48] = msg_type;
    p[49] = operation;
    p[50] = flags;
    p[51] = req_type;
    p[52] = e2e_msg;
    p[53] = srv_flag;
    store(p + 54, out_len2);
  }
};

struct ReqDescriptor {
  uint8_t dma_mode = 0;
  uint8_t incnt = 0;
  uint8_t outcnt = 0;
  uint8_t attest = 0;
  uint16_t param1 = 0;
  uint16_t param2 = 0;
  uint16_t dlen = 0;
  uint16_t rlen = 0;
  uint16_t command_type = 0;
  uint32_t queue_id = 0;
  uint32_t timeout = 0;
  uint64_t ctx_ptr = 0;
  uint64_t key_handle = 0;

  // p must hold kDescriptorSize bytes (the descriptor starts at message offset 56).
  static ReqDescriptor decode(const uint8_t *p) {
    ReqDescriptor d;
    d.dma_mode = p[0];
    d.incnt = p[1];
    d.outcnt = p[2];
    d.attest = p[3];
    d.param1 = load<uint16_t>(p + 4);
    d.param2 = load<uint16_t>(p + 6);
    d.dlen = load<uint16_t>(p + 8);
    d.rlen = load<uint16_t>(p + 10);
    d.command_type = load<uint16_t>(p + 12);
    d.queue_id = load<uint32_t>(p + 16);
    d.timeout = load<uint32_t>(p + 20);
    d.ctx_ptr = load<uint64_t>(p + 24);
    d.key_handle = load<uint64_t>(p + 32);
    return d;
  }
  void encode(uint8_t *p) const {
    std::memset(p, 0, kDescriptorSize);
    p[0] = dma_mode;
    p[1] = incnt;
    p[2] = outcnt;
    p[3] = attest;
    store(p + 4, param1);
    store(p + 6, param2);
    store(p + 8, dlen);
    store(p + 10, rlen);
    store(p + 12, command_type);
    store(p + 16, queue_id);
    store(p + 20, timeout);
    store(p + 24, ctx_ptr);
    store(p + 32, key_handle);
  }
};

struct SegDesc {
  uint8_t inout = 0;  // 0 input, 1 output
  uint16_t offset = 0;
  uint16_t size = 0;  // low 16 bits of the segment's size

  static SegDesc decode(const uint8_t *p) {
    return SegDesc{p[0], load<uint16_t>(p + 2), load<uint16_t>(p + 4)};
  }
  void encode(uint8_t *p) const {
    p[0] = inout;
    p[1] = 0;
    store(p + 2, offset);
    store(p + 4, size);
  }
};

}  // namespace hsmsim::wire
