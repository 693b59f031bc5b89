// The management request convention: one command record in input segment 0,
// one response record in output segment 0, the descriptor filled the same
// way by every operation, and the result formed in three layers (transport
// status, request status, the HSM's response code).
#ifndef QEL2_REQUEST_MGMT_REQUEST_H
#define QEL2_REQUEST_MGMT_REQUEST_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/be_codec.h"
#include "common/opcode_traits.h"
#include "daemon_intf/transport.h"
#include "qel2_opcodes.h"
#include "qel2_records.h"
#include "qel2_transport.h"

namespace qel2::mgmt {

inline constexpr uint32_t kMgmtTimeout = 120;   // seconds
inline constexpr uint32_t kLongTimeout = 1080;  // session encryption, key pairs
inline constexpr uint32_t kMaxDataLen = 8192;   // bytes of command data
inline constexpr size_t kResponseHeaderLen = sizeof(ResponseHeader);
// A segment's size travels in 16 bits: no answer to one output segment is
// longer, and nothing sized by an answer's length is allocated beyond it.
inline constexpr uint32_t kMaxSegmentLen = 0xFFFF;

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

// Prints the message and returns ERR_ARGUMENTS_BAD when a request that goes
// out non-blocking (any non-zero type) has nowhere to put its request id, so
// that nobody could collect it; 0 otherwise.
uint32_t check_request_id_arg(uint32_t req_type, const Uint32 *request_id);

// A command record: zeroed bytes and the bounded writer that fills them. The
// request refuses a record written short or long (the writer's state is
// checked once, by MgmtRequest::command).
template <size_t N>
struct CommandRecord {
  uint8_t bytes[N] = {};
  BeWriter w{bytes, N};
};

// What a request's outputs look like when it completes: for a blocking
// request right after the answer, for a non-blocking one when it is
// collected. seg(i) is where segment i's bytes are (owned scratch for the
// segments the request owns), received(i) how many arrived.
struct Completion {
  bool answered = false;  // the answer arrived with request status 0 and, for a
                          // blocking request, a result that allows decoding
  uint32_t status = 0;    // the request status
  uint8_t *segs[MAX_SEGMENTS] = {};
  uint32_t got[MAX_SEGMENTS] = {};
  uint8_t *seg(unsigned i) const { return i < MAX_SEGMENTS ? segs[i] : nullptr; }
  uint32_t received(unsigned i) const { return i < MAX_SEGMENTS ? got[i] : 0; }
};
using Finisher = std::function<void(const Completion &)>;
// Judges a non-blocking answer when it arrives (answered: status 0): the
// status its entry then records, which every poll reports.
using Judge = std::function<uint32_t(const Completion &)>;

struct OwnedOutputs;

// One management request. Typical use (an operation reads as its steps):
//
//   CommandRecord<sizeof(SomeCommand)> cmd;            // zeroed
//   put_session_header(cmd.w, masked_session(h));
//   cmd.w.u32(x);                                      // short or long: refused at send
//   uint8_t resp[sizeof(SomeResponse)] = {};
//   MgmtRequest rq(KQ_SOMETHING, masked_session(h));
//   rq.command(cmd).out_local(resp, sizeof resp);      // + in()/out() for variable data
//   rq.send(req_type, request_id);                     // stores the id; refuses an
//                                                      // uncollectable non-blocking send
//   if (req_type) return rq.async_result();            // pending: nothing to decode
//   if (uint32_t r = rq.result()) return r;            // three layers, cluster rule, whole record
//   *out = be32_at(resp + 16);
//
// A request whose answer is only a StdResponse uses out_std_response(); a
// server-directed opcode names its object with object(handle) and send()
// routes it. A non-blocking output that must be converted when it arrives
// (a big-endian length word into the caller's Uint32) is an out_local
// segment with an on_complete finisher that reads it through
// Completion::seg().
//
// The result rule reads the opcode's traits (common/opcode_traits.h): a
// layer holding RET_CLUSTER_OPERATION_INCOMPLETE passes for the opcodes that
// allow it, and the result is then that code or the response code, as the
// opcode declares. decode() tells what the outputs may be used for (183: the
// record holds the length needed); check_arrived() refuses lengths the answer
// claims beyond what it carried.
//
// Non-blocking requests: every output segment the operation reads itself
// (out_local), every rounded copy of a caller buffer (out_copy) and every
// segment nobody reads (out_discard) is owned by the pending request, never
// by the sending frame; finishers (on_complete) convert or copy them when the
// request is collected by a poll or dropped. Caller buffers given with out()
// must stay valid until then, as for any non-blocking request.
//
// Raw (cryptographic) requests: a raw command type has no response record;
// result() is then the transport status, else the request status.
class MgmtRequest {
 public:
  MgmtRequest(uint16_t opcode, uint32_t session_handle, uint16_t command_type = KQ_MGMT_CMD,
              uint32_t timeout = kMgmtTimeout);
  ~MgmtRequest();
  MgmtRequest(const MgmtRequest &) = delete;
  MgmtRequest &operator=(const MgmtRequest &) = delete;

  // Input segment holding a command record; a record its writer failed on or
  // did not fill to the end makes send() refuse the request with
  // ERR_INVALID_INPUT.
  template <size_t N>
  MgmtRequest &command(const CommandRecord<N> &rec) {
    return command(rec.bytes, rec.w);
  }
  MgmtRequest &command(const uint8_t *bytes, const BeWriter &w);

  // Output segment the operation reads itself after the answer (a response
  // record, a length word). Blocking: buf receives the bytes. Non-blocking:
  // the bytes go to zeroed scratch owned by the pending request and buf is
  // never written.
  MgmtRequest &out_local(void *buf, uint32_t size);
  // Output segment 0 as a bare StdResponse held by the request, for the
  // requests whose answer is only the response header.
  MgmtRequest &out_std_response();
  // Names the object a server-directed opcode (see its traits) is about:
  // send() then goes to the cluster server in bits 27-31 of the handle.
  MgmtRequest &object(uint64_t handle) {
    object_ = handle;
    object_set_ = true;
    return *this;
  }
  // Output segment whose bytes nobody reads: the transport advances over them.
  MgmtRequest &out_discard(uint32_t size);
  // Output segment of seg_size bytes received into owned zeroed scratch; on
  // completion the first min(received, dest_len) bytes are copied to dest
  // (a caller buffer shorter than the segment, e.g. rounded to 8 bytes).
  MgmtRequest &out_copy(void *dest, uint32_t dest_len, uint32_t seg_size);
  // Runs f on completion (blocking: after the answer; non-blocking: when the
  // request is collected, before its callback; also when it is dropped,
  // with answered false). Finishers read owned segments through Completion.
  MgmtRequest &on_complete(Finisher f);
  // Non-blocking only: j judges the answer as it fills the request's entry,
  // before any finisher runs (which then sees the judged status). Gives the
  // request a pending entry of its own even when it owns no outputs.
  MgmtRequest &judge(Judge j);
  // The completion callback of a non-blocking request and its argument.
  MgmtRequest &callback(callback_fn cb, void *args) {
    cb_ = cb;
    cb_args_ = args;
    return *this;
  }
  // Bytes of the response record in output segment 0 that must arrive for
  // the outputs to be decoded; by default the whole of segment 0.
  // The cluster-incomplete rule of an operation whose Part reads it apart
  // from the opcode's traits (e.g. a creating opcode that admits no partly
  // completed cluster).
  MgmtRequest &cluster_rule(ClusterRule rule) {
    rule_ = rule;
    rule_set_ = true;
    return *this;
  }
  MgmtRequest &record_len(uint32_t n) {
    record_len_ = n;
    record_len_set_ = true;
    return *this;
  }
  // The header flags of an object-creating request, from its templates
  // (kTokenObjectFlag, kTokenAndSessionFlag); without them the request
  // makes a token object. They travel with this request only.
  MgmtRequest &token_flags(uint8_t flags) {
    token_flags_ = flags;
    return *this;
  }

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
  // Request-id form: refuses every non-zero (non-blocking) type without a
  // pointer (check_request_id_arg), sends, then stores the request id
  // whenever a pointer is given (also after a failed send).
  // Returns the transport status or the refusal.
  uint32_t send(uint32_t req_type, Uint32 *request_id);
  // Sends blocking to one cluster server (the server-directed route of the
  // requests about one object); returns the transport status.
  uint32_t send_to_server(uint8_t serveridx);
  // The same, storing the request id when a pointer is given.
  uint32_t send_to_server(uint8_t serveridx, Uint32 *request_id);
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
  // What the outputs may be used for after a blocking send.
  enum class Decode { kNo, kYes, kSize };
  // kYes as decodable(); kSize for RET_RESULT_SIZE, whose response record
  // (arrived whole) holds the length needed; kNo otherwise.
  Decode decode() const;
  // The same for a request whose result is status_result() (the response
  // code left unread): kSize when that status is RET_RESULT_SIZE.
  Decode status_decode() const;
  // TESSALINE_INVALID_MSG when the answer claims more bytes in segment seg
  // than arrived there; 0 otherwise.
  uint32_t check_arrived(unsigned seg, uint64_t claimed) const;

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
  enum class SegKind : uint8_t { kCaller, kLocal, kOwned };
  void fill_lengths();
  void reset_outputs();
  uint32_t transmit(uint32_t req_type, SendOptions &opts);
  PendingWork *prepare_nonblocking();
  void complete_blocking();
  OwnedOutputs &owned();
  bool record_whole() const;
  bool passes(uint32_t code) const;
  ClusterRule rule() const;

  request_buffer rb_{};
  uint32_t out_cap_[MAX_SEGMENTS] = {};
  uint64_t in_total_ = 0;
  uint64_t out_total_ = 0;
  bool params_set_ = false;
  bool lengths_set_ = false;
  bool overflow_ = false;
  bool bad_record_ = false;
  bool record_len_set_ = false;
  bool rule_set_ = false;
  ClusterRule rule_ = ClusterRule::kNone;
  bool object_set_ = false;
  uint64_t object_ = 0;
  uint32_t record_len_ = 0;
  SegKind kind_[MAX_SEGMENTS] = {};
  std::unique_ptr<OwnedOutputs> owned_;
  callback_fn cb_ = nullptr;
  bool sent_ = false;
  bool nonblocking_ = false;
  uint32_t transport_ = 0;
  void *cb_args_ = nullptr;
  uint8_t token_flags_ = kDefaultTokenFlags;
};

// Pause between login/logout resends, in microseconds (200 ms). Tests lower it.
uint32_t retry_pause_us();
void set_retry_pause_us(uint32_t us);

}  // namespace qel2::mgmt

#endif
