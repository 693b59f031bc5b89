// The management request convention: one command record in input segment 0,
// one response record in output segment 0, the descriptor filled the same
// way by every operation, and the result formed in three layers (transport
// status, request status, the HSM's response code).
#ifndef QEL2_MGMT_MGMT_REQUEST_H
#define QEL2_MGMT_MGMT_REQUEST_H

#include <cstddef>
#include <cstdint>

#include "common/be_codec.h"
#include "qel2_opcodes.h"
#include "qel2_records.h"
#include "qel2_transport.h"

namespace qel2::mgmt {

inline constexpr uint32_t kMgmtTimeout = 120;   // seconds
inline constexpr uint32_t kLongTimeout = 1080;  // session encryption, key pairs
inline constexpr uint32_t kMaxDataLen = 8192;   // bytes of command data
inline constexpr size_t kResponseHeaderLen = sizeof(ResponseHeader);

inline uint32_t masked_session(uint32_t handle) { return handle & QEL2_SESSION_HANDLE_MASK; }
inline uint32_t masked_app(uint32_t app_id) { return app_id & QEL2_APP_ID_MASK; }

// ResponseHeader in host order.
struct ResponseHead {
  uint32_t code = 0;
  uint32_t flags = 0;
  uint32_t total_size = 0;
  uint32_t buffer_size = 0;
};
// Reads the head of an answer; false when fewer than 16 bytes are given.
bool read_response_head(const void *resp, size_t len, ResponseHead *out);

// CommandHeaderWithSession: reserved words, ulFlags, the (already masked)
// session handle, then the reserved1/commonFlags word.
void put_session_header(BeWriter &w, uint32_t session_handle, uint32_t flags = 0,
                        uint32_t common_flags = 0, uint32_t reserved0 = 0, uint32_t reserved1 = 0);
// CommandHeaderWithNoSession: 12 zero bytes, then the login nonce.
void put_nosession_header(BeWriter &w, uint32_t login_nonce);

// Prints the message and returns ERR_ARGUMENTS_BAD when a non-blocking request
// has nowhere to put its request id; 0 otherwise.
uint32_t check_request_id_arg(uint32_t req_type, const Uint32 *request_id);

// One management request. Typical use:
//   uint8_t cmd[24]; BeWriter w(cmd, sizeof cmd); put_session_header(w, h); w.u32(x);
//   uint8_t resp[16] = {};
//   MgmtRequest rq(KQ_SOMETHING, h);
//   rq.in(cmd, sizeof cmd).out(resp, sizeof resp);
//   rq.send();
//   uint32_t r = rq.result();
class MgmtRequest {
 public:
  MgmtRequest(uint16_t opcode, uint32_t session_handle, uint16_t command_type = KQ_MGMT_CMD,
              uint32_t timeout = kMgmtTimeout);

  // Segments, in order. Adding more than 32 of a kind marks the request
  // unusable; send() then refuses it with ERR_INVALID_INPUT.
  MgmtRequest &in(const void *data, uint32_t size);
  MgmtRequest &out(void *buf, uint32_t size);

  // By default dlen = param1 = sum of input sizes, rlen = param2 = sum of
  // output sizes. These override the parts an operation sets differently.
  MgmtRequest &params(uint16_t param1, uint16_t param2);
  MgmtRequest &lengths(uint16_t dlen, uint16_t rlen);
  MgmtRequest &key_handle(uint64_t h);
  MgmtRequest &ctx_ptr(uint64_t c);

  // Sum of the input sizes, for the 8192-byte limit of variable data.
  uint64_t data_len() const { return in_total_; }
  // ERR_BUFFER_TOO_BIG when the command data exceeds the limit, else 0.
  uint32_t check_data_len(uint64_t limit = kMaxDataLen) const;

  // Sends blocking (req_type 0) or non-blocking (any other value); returns
  // the transport status. Output sizes are restored first, and on a resend
  // the output buffers are cleared, so a request can be sent again as it
  // was built.
  uint32_t send(uint32_t req_type = OSTREL_BLOCKING);
  // Request-id form: refuses type 1 without a pointer, sends, then stores the
  // request id whenever a pointer is given (also after a failed send).
  // Returns the transport status or the refusal.
  uint32_t send(uint32_t req_type, Uint32 *request_id);
  // Sends blocking to one cluster server (the server-directed route of the
  // requests about one object); returns the transport status.
  uint32_t send_to_server(uint8_t serveridx);
  // The argument handed to the transport beside the request (an event buffer).
  MgmtRequest &callback_args(void *args) {
    cb_args_ = args;
    return *this;
  }

  // The three-layer result of the last blocking send:
  // transport status, else request status, else the response code. A layer
  // holding RET_CLUSTER_OPERATION_INCOMPLETE for a replicated object opcode
  // counts as passed, and that code is returned when the later layers pass.
  // An answer too short to hold a ResponseHeader is TESSALINE_INVALID_MSG.
  uint32_t result() const;
  // Result of a request whose answer carries no response record: transport
  // status, else request status.
  uint32_t status_result() const;
  // Result of a request-id variant: for a non-blocking send the transport
  // status or the pending request status; for a blocking one, result().
  uint32_t async_result() const;
  // True when the outputs may be decoded: result() is 0 or a passed
  // cluster-incomplete code.
  bool decodable() const;

  // The answer's response header (host order); false when the answer was
  // shorter than 16 bytes or nothing was received.
  bool response_head(ResponseHead *out) const;
  // Bytes the last blocking answer placed in output segment i.
  uint32_t received(unsigned i) const;

  uint32_t transport_status() const { return transport_; }
  uint32_t request_status() const { return static_cast<uint32_t>(rb_.status); }
  uint32_t request_id() const { return rb_.request_id; }
  uint16_t opcode() const { return rb_.opcode; }
  request_buffer &raw() { return rb_; }
  const request_buffer &raw() const { return rb_; }

 private:
  void fill_lengths();
  void reset_outputs();

  request_buffer rb_{};
  uint32_t out_cap_[MAX_SEGMENTS] = {};
  uint64_t in_total_ = 0;
  uint64_t out_total_ = 0;
  bool params_set_ = false;
  bool lengths_set_ = false;
  bool overflow_ = false;
  bool sent_ = false;
  bool nonblocking_ = false;
  uint32_t transport_ = 0;
  void *cb_args_ = nullptr;
};

// Pause between login/logout resends, in microseconds (200 ms). Tests lower it.
uint32_t retry_pause_us();
void set_retry_pause_us(uint32_t us);

}  // namespace qel2::mgmt

#endif
