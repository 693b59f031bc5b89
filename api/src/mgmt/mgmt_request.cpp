#include "mgmt/mgmt_request.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "daemon_intf/transport_internal.h"
#include "qel2_errors.h"

namespace qel2::mgmt {

namespace {
std::atomic<uint32_t> g_retry_pause_us{200000};

bool passes_as_cluster_incomplete(uint16_t opcode, uint32_t code) {
  return is_valid_cluster_ha_op_response(opcode, code) != 0;
}
}  // namespace

uint32_t retry_pause_us() { return g_retry_pause_us.load(std::memory_order_relaxed); }
void set_retry_pause_us(uint32_t us) { g_retry_pause_us.store(us, std::memory_order_relaxed); }

bool read_response_head(const void *resp, size_t len, ResponseHead *out) {
  BeReader r(resp, len);
  ResponseHead h;
  h.code = r.u32();
  h.flags = r.u32();
  h.total_size = r.u32();
  h.buffer_size = r.u32();
  if (!r.ok()) return false;
  if (out) *out = h;
  return true;
}

void put_session_header(BeWriter &w, uint32_t session_handle, uint32_t flags, uint32_t common_flags,
                        uint32_t reserved0, uint32_t reserved1) {
  w.u32(reserved0).u32(reserved1).u32(flags).u32(session_handle).u32(common_flags);
}

void put_nosession_header(BeWriter &w, uint32_t login_nonce) { w.zeros(12).u32(login_nonce); }

uint32_t check_request_id_arg(uint32_t req_type, const Uint32 *request_id) {
  if (req_type == OSTREL_NON_BLOCKING && request_id == nullptr) {
    printf("null request_id pointer in non blocking request");
    return ERR_ARGUMENTS_BAD;
  }
  return 0;
}

MgmtRequest::MgmtRequest(uint16_t opcode, uint32_t session_handle, uint16_t command_type,
                         uint32_t timeout) {
  rb_.opcode = opcode;
  rb_.session_handle = session_handle;
  rb_.command_type = command_type;
  rb_.timeout = timeout;
}

MgmtRequest &MgmtRequest::in(const void *data, uint32_t size) {
  if (rb_.incnt >= MAX_SEGMENTS) {
    overflow_ = true;
    return *this;
  }
  rb_.inptr[rb_.incnt] = reinterpret_cast<uintptr_t>(data);
  rb_.insize[rb_.incnt] = size;
  ++rb_.incnt;
  in_total_ += size;
  return *this;
}

MgmtRequest &MgmtRequest::out(void *buf, uint32_t size) {
  if (rb_.outcnt >= MAX_SEGMENTS) {
    overflow_ = true;
    return *this;
  }
  rb_.outptr[rb_.outcnt] = reinterpret_cast<uintptr_t>(buf);
  rb_.outsize[rb_.outcnt] = size;
  out_cap_[rb_.outcnt] = size;
  ++rb_.outcnt;
  out_total_ += size;
  return *this;
}

MgmtRequest &MgmtRequest::params(uint16_t param1, uint16_t param2) {
  rb_.param1 = param1;
  rb_.param2 = param2;
  params_set_ = true;
  return *this;
}

MgmtRequest &MgmtRequest::lengths(uint16_t dlen, uint16_t rlen) {
  rb_.dlen = dlen;
  rb_.rlen = rlen;
  lengths_set_ = true;
  return *this;
}

MgmtRequest &MgmtRequest::key_handle(uint64_t h) {
  rb_.key_handle = h;
  return *this;
}

MgmtRequest &MgmtRequest::ctx_ptr(uint64_t c) {
  rb_.ctx_ptr = c;
  return *this;
}

uint32_t MgmtRequest::check_data_len(uint64_t limit) const {
  return in_total_ > limit ? static_cast<uint32_t>(ERR_BUFFER_TOO_BIG) : 0u;
}

void MgmtRequest::fill_lengths() {
  if (!lengths_set_) {
    rb_.dlen = static_cast<uint16_t>(in_total_);
    rb_.rlen = static_cast<uint16_t>(out_total_);
  }
  if (!params_set_) {
    rb_.param1 = static_cast<uint16_t>(in_total_);
    rb_.param2 = static_cast<uint16_t>(out_total_);
  }
}

// A resend must see the buffers as the first send did: the transport shrinks
// outsize to what arrived, and a stale response code must not survive an
// answer that carries none. The first send leaves the caller's buffers alone.
void MgmtRequest::reset_outputs() {
  for (unsigned i = 0; i < rb_.outcnt; ++i) {
    rb_.outsize[i] = out_cap_[i];
    if (sent_ && rb_.outptr[i] && out_cap_[i])
      std::memset(reinterpret_cast<void *>(static_cast<uintptr_t>(rb_.outptr[i])), 0, out_cap_[i]);
  }
  rb_.status = 0;
  rb_.request_id = 0;
}

uint32_t MgmtRequest::send(uint32_t req_type) {
  if (overflow_) return ERR_INVALID_INPUT;
  fill_lengths();
  reset_outputs();
  nonblocking_ = req_type != OSTREL_BLOCKING;
  rb_.req_type = static_cast<request_type>(req_type);
  transport_ = static_cast<uint32_t>(orx_tessaline_cli_send_daemon(
      &rb_, HSM_QEL1_OPERATION, nonblocking_ ? 1 : 0, nullptr, cb_args_));
  sent_ = true;
  return transport_;
}

uint32_t MgmtRequest::send_to_server(uint8_t serveridx) {
  if (overflow_) return ERR_INVALID_INPUT;
  fill_lengths();
  reset_outputs();
  nonblocking_ = false;
  rb_.req_type = OSTREL_BLOCKING;
  uint32_t got = 0;
  transport_ = static_cast<uint32_t>(send_daemon_new_counted(&rb_, serveridx, &got));
  sent_ = true;
  // This route leaves the segment sizes as they were; record what arrived the
  // way the plain route does, so a short or empty answer is not read as a
  // zeroed success.
  if (transport_ == 0) {
    for (unsigned i = 0; i < rb_.outcnt; ++i) {
      rb_.outsize[i] = std::min(rb_.outsize[i], got);
      got -= rb_.outsize[i];
    }
  }
  return transport_;
}

uint32_t MgmtRequest::send(uint32_t req_type, Uint32 *request_id) {
  if (uint32_t r = check_request_id_arg(req_type, request_id)) return r;
  uint32_t t = send(req_type);
  if (request_id) *request_id = rb_.request_id;
  return t;
}

uint32_t MgmtRequest::received(unsigned i) const {
  if (!sent_ || nonblocking_ || i >= rb_.outcnt) return 0;
  // After a transport failure nothing was copied and outsize still holds the capacity.
  if (transport_ != 0 && !passes_as_cluster_incomplete(rb_.opcode, transport_)) return 0;
  return rb_.outsize[i];
}

bool MgmtRequest::response_head(ResponseHead *out) const {
  if (rb_.outcnt == 0) return false;
  uint32_t n = received(0);
  if (n > out_cap_[0]) n = out_cap_[0];
  return read_response_head(reinterpret_cast<const void *>(static_cast<uintptr_t>(rb_.outptr[0])),
                            n, out);
}

uint32_t MgmtRequest::result() const {
  if (!sent_) return ERR_INVALID_INPUT;
  uint32_t passed = 0;
  if (transport_ != 0) {
    if (!passes_as_cluster_incomplete(rb_.opcode, transport_)) return transport_;
    passed = transport_;
  }
  uint32_t status = request_status();
  if (status != 0) {
    if (!passes_as_cluster_incomplete(rb_.opcode, status)) return status;
    passed = status;
  }
  ResponseHead head;
  if (!response_head(&head)) return TESSALINE_INVALID_MSG;
  if (head.code != 0) return head.code;
  return passed;
}

uint32_t MgmtRequest::status_result() const {
  if (!sent_) return ERR_INVALID_INPUT;
  return transport_ != 0 ? transport_ : request_status();
}

uint32_t MgmtRequest::async_result() const {
  if (!sent_) return ERR_INVALID_INPUT;
  if (nonblocking_) return status_result();
  return result();
}

bool MgmtRequest::decodable() const {
  uint32_t r = result();
  return r == 0 || passes_as_cluster_incomplete(rb_.opcode, r);
}

}  // namespace qel2::mgmt
