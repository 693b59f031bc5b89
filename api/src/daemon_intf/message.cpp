// The request message and the spreading of an answer's payload over the
// caller's output segments.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/be_codec.h"
#include "daemon_intf/transport_internal.h"
#include "qel2_errors.h"
#include "qel2_opcodes.h"

Uint8 msg_type_for(Uint16 command_type) {
  if (command_type == KQ_MGMT_CMD) return OZV_MSG_TYPE_MGMT;
  if (command_type == KQ_CERT_AUTH_CMD) return OZV_MSG_TYPE_CERT;
  return OZV_MSG_TYPE_CRYPTO;
}

Uint64 sum_sizes(const Uint32 *sizes, Uint16 cnt) {
  Uint64 sum = 0;
  for (Uint16 i = 0; i < cnt; ++i) sum += sizes[i];
  return sum;
}

static hsm_request_buffer descriptor_of(const request_buffer &rb) {
  hsm_request_buffer d{};
  d.dma_mode = static_cast<Uint8>(rb.dma_mode);
  d.incnt = static_cast<Uint8>(rb.incnt);
  d.outcnt = static_cast<Uint8>(rb.outcnt);
  d.attest = rb.attest;
  d.param1 = rb.param1;
  d.param2 = rb.param2;
  d.dlen = rb.dlen;
  d.rlen = rb.rlen;
  d.command_type = rb.command_type;
  d.queue_id = rb.queue_id;
  d.timeout = rb.timeout;
  d.ctx_ptr = rb.ctx_ptr;
  d.key_handle = rb.key_handle;
  return d;
}

static hsm_req_data segment_of(Uint8 inout, Uint32 offset, Uint32 size) {
  hsm_req_data s{};
  s.inout = inout;
  s.offset = static_cast<Uint16>(offset);
  s.size = static_cast<Uint16>(size);
  return s;
}

static Int32 check_request(const request_buffer &rb) {
  if (rb.incnt > MAX_SEGMENTS || rb.outcnt > MAX_SEGMENTS) {
    printf("Invalid segment count: incnt %u outcnt %u, at most %d\n", rb.incnt, rb.outcnt,
           MAX_SEGMENTS);
    return ERR_ARGUMENTS_BAD;
  }
  for (Uint16 i = 0; i < rb.incnt; ++i) {
    if (rb.insize[i] && !rb.inptr[i]) {
      printf("Null input segment %u of %u bytes\n", i, rb.insize[i]);
      return ERR_ARGUMENTS_BAD;
    }
  }
  // The header carries the expected payload in 32 bits.
  if (sum_sizes(rb.outsize, rb.outcnt) > 0xFFFFFFFFull) {
    printf("Expected response too large: %llu bytes\n",
           static_cast<unsigned long long>(sum_sizes(rb.outsize, rb.outcnt)));
    return ERR_ARGUMENTS_BAD;
  }
  return 0;
}

Int32 frame_request(const request_buffer &rb, const FrameOptions &opts, Uint8 **msg, size_t *len) {
  return frame_request(rb, opts, nullptr, 0, msg, len);
}

Int32 frame_request(const request_buffer &rb, const FrameOptions &opts, Uint8 *place, size_t cap,
                    Uint8 **msg, size_t *len) {
  *msg = nullptr;
  *len = 0;
  if (Int32 r = check_request(rb)) return r;

  const Uint16 nseg = static_cast<Uint16>(rb.incnt + rb.outcnt);
  const Uint64 total =
      OZV_REQ_FIXED_LEN + Uint64{OZV_SEG_DESC_LEN} * nseg + sum_sizes(rb.insize, rb.incnt);
  const Uint64 expected = sum_sizes(rb.outsize, rb.outcnt);
  const bool in_place = place && total <= cap;
  Uint8 *buf = in_place            ? place
               : total <= SIZE_MAX ? static_cast<Uint8 *>(malloc(static_cast<size_t>(total)))
                                   : nullptr;
  if (!buf) {
    printf("y5dev_calloc failed: size %llu :while sending message to Daemon socket\n",
           static_cast<unsigned long long>(total));
    return TESSALINE_MALLOC_FAIL;
  }

  ozv_msg_fixed h{};
  h.operation = static_cast<Uint8>(opts.op);
  h.in_len = static_cast<Uint16>(total - OZV_HDR_LEN);
  h.opcode = rb.opcode;
  h.sess_handle = rb.session_handle;
  h.req_type = opts.req_type;
  h.msg_type = msg_type_for(rb.command_type);
  h.op_ctx = opts.op_ctx;
  h.serveridx = opts.byte50;
  h.out_len = static_cast<Uint16>(expected);
  h.out_len2 = static_cast<Uint16>(expected >> 16);
  const hsm_request_buffer d = descriptor_of(rb);

  qel2::BeWriter w(buf, static_cast<size_t>(total));
  w.bytes(&h, sizeof h).bytes(&d, sizeof d);
  for (Uint16 i = 0; i < rb.incnt; ++i) {
    const hsm_req_data s = segment_of(0, rb.inoffset[i], rb.insize[i]);
    w.bytes(&s, sizeof s);
  }
  for (Uint16 i = 0; i < rb.outcnt; ++i) {
    const hsm_req_data s = segment_of(1, rb.outoffset[i], rb.outsize[i]);
    w.bytes(&s, sizeof s);
  }
  for (Uint16 i = 0; i < rb.incnt; ++i) {
    const size_t at = w.size();
    w.bytes(reinterpret_cast<const void *>(static_cast<uintptr_t>(rb.inptr[i])), rb.insize[i]);
    // Only the first inoffset bytes of such a segment are meaningful.
    if (opts.zero_tails && w.ok() && rb.inoffset[i] != 0 && rb.inoffset[i] < rb.insize[i])
      memset(buf + at + rb.inoffset[i], 0, rb.insize[i] - rb.inoffset[i]);
  }
  if (!w.ok() || w.size() != total) {  // cannot happen: the length was computed above
    if (in_place)
      explicit_bzero(buf, static_cast<size_t>(total));
    else
      free_wiped(buf, static_cast<size_t>(total));
    return TESSALINE_MALLOC_FAIL;
  }
  *msg = buf;
  *len = static_cast<size_t>(total);
  return 0;
}

ozv_msg_fixed frame_control(op_type op, Uint8 msg_type, Uint32 req_id, Uint8 req_type) {
  ozv_msg_fixed h{};
  h.operation = static_cast<Uint8>(op);
  h.msg_type = msg_type;
  h.req_id = req_id;
  h.opcode = kControlOpcode;
  h.req_type = req_type;
  switch (op) {
    case HSM_HEALTH_DUMP:
      h.out_len = sizeof(hb_diag);
      break;
    case HSM_GET_FW_VERSION:
      h.out_len = sizeof(VersionNumber);
      break;
    case GET_DAEMON_VERSION:
      h.out_len = sizeof(ComponentVersion);
      break;
    case CLUSTER_REQUEST_STATUS:
      h.out_len = sizeof(op_error_state_t) * 32;
      break;
    default:
      break;
  }
  return h;
}

void set_message_req_id(Uint8 *msg, Uint32 req_id) {
  memcpy(msg + offsetof(ozv_msg_fixed, req_id), &req_id, sizeof req_id);
}

void spread_payload(const Uint8 *payload, Uint32 len, const Uint64 *outptr, Uint32 *outsize,
                    Uint16 outcnt, bool cut_sizes) {
  Uint32 done = 0;
  for (Uint16 i = 0; i < outcnt && i < MAX_SEGMENTS; ++i) {
    Uint32 n = outsize[i];
    if (n > len - done) n = len - done;
    void *dst = reinterpret_cast<void *>(static_cast<uintptr_t>(outptr[i]));
    if (n && dst) memcpy(dst, payload + done, n);
    if (cut_sizes) outsize[i] = n;
    done += n;
  }
}
