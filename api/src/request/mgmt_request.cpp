#include "request/mgmt_request.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/opcode_traits.h"
#include "qel2_errors.h"
#include "qel2_objects.h"

namespace qel2::mgmt {

namespace {
std::atomic<uint32_t> g_retry_pause_us{200000};

uint8_t *seg_ptr(uint64_t p) { return reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(p)); }
}  // namespace

// Scratch segments, copy-outs and finishers of one request. A blocking
// request keeps them until it is destroyed; a non-blocking one hands them to
// its status entry, which finishes them when the request is collected.
struct OwnedOutputs final : PendingWork {
  struct Copy {
    unsigned seg;
    void *dest;
    uint32_t len;
  };
  std::vector<std::pair<std::unique_ptr<uint8_t[]>, uint32_t>> bufs;
  std::vector<Copy> copies;
  std::vector<Finisher> finishers;
  Judge judge_answer;
  uint16_t outcnt = 0;
  uint8_t *ptrs[MAX_SEGMENTS] = {};
  uint32_t caps[MAX_SEGMENTS] = {};

  ~OwnedOutputs() override {
    for (auto &b : bufs) explicit_bzero(b.first.get(), b.second);
  }
  uint8_t *alloc(uint32_t n) {
    bufs.emplace_back(std::make_unique<uint8_t[]>(n ? n : 1), n);  // zeroed
    return bufs.back().first.get();
  }
  void run(const Completion &c) {
    if (c.answered)
      for (const Copy &k : copies)
        if (c.seg(k.seg) && k.dest)
          memcpy(k.dest, c.seg(k.seg), std::min(c.received(k.seg), k.len));
    for (const Finisher &f : finishers) f(c);
  }
  // The entry's payload of `received` bytes fills the segments in order.
  Completion completion(bool answered, Int32 status, Uint32 received) const {
    Completion c;
    c.answered = answered && status == 0;
    c.status = static_cast<uint32_t>(status);
    for (unsigned i = 0; i < outcnt; ++i) {
      c.segs[i] = ptrs[i];
      c.got[i] = answered ? std::min(caps[i], received) : 0;
      received -= c.got[i];
    }
    return c;
  }
  Int32 judge(Int32 status, Uint32 received) override {
    if (!judge_answer) return status;
    return static_cast<Int32>(judge_answer(completion(true, status, received)));
  }
  void finish(bool answered, Int32 status, Uint32 received) override {
    run(completion(answered, status, received));
  }
};

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
  if (req_type != OSTREL_BLOCKING && request_id == nullptr) {
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

MgmtRequest::~MgmtRequest() = default;

OwnedOutputs &MgmtRequest::owned() {
  if (!owned_) owned_ = std::make_unique<OwnedOutputs>();
  return *owned_;
}

MgmtRequest &MgmtRequest::command(const uint8_t *bytes, const BeWriter &w) {
  if (!w.ok() || w.size() != w.capacity()) bad_record_ = true;
  return in(bytes, static_cast<uint32_t>(w.capacity()));
}

MgmtRequest &MgmtRequest::out_local(void *buf, uint32_t size) {
  const unsigned i = rb_.outcnt;
  out(buf, size);
  if (i < MAX_SEGMENTS && rb_.outcnt > i) kind_[i] = SegKind::kLocal;
  return *this;
}

MgmtRequest &MgmtRequest::out_std_response() {
  const unsigned i = rb_.outcnt;
  if (i >= MAX_SEGMENTS) return out(nullptr, kResponseHeaderLen);
  out(owned().alloc(kResponseHeaderLen), kResponseHeaderLen);
  kind_[i] = SegKind::kOwned;
  return *this;
}

MgmtRequest &MgmtRequest::out_discard(uint32_t size) { return out(nullptr, size); }

MgmtRequest &MgmtRequest::out_copy(void *dest, uint32_t dest_len, uint32_t seg_size) {
  const unsigned i = rb_.outcnt;
  if (i >= MAX_SEGMENTS) return out(nullptr, seg_size);  // marks the overflow
  OwnedOutputs &o = owned();
  out(o.alloc(seg_size), seg_size);
  kind_[i] = SegKind::kOwned;
  o.copies.push_back({i, dest, dest_len});
  return *this;
}

MgmtRequest &MgmtRequest::on_complete(Finisher f) {
  owned().finishers.push_back(std::move(f));
  return *this;
}

MgmtRequest &MgmtRequest::judge(Judge j) {
  owned().judge_answer = std::move(j);
  return *this;
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
  if (overflow_ || bad_record_) return ERR_INVALID_INPUT;
  // Requests about one object go to the server holding it (blocking only).
  if (object_set_ && opcode_traits(rb_.opcode).server_directed)
    return send_to_server(
        static_cast<uint8_t>((object_ >> QEL2_OBJECT_SERVER_SHIFT) & QEL2_OBJECT_SERVER_MASK));
  SendOptions o;
  o.nonblocking = req_type != OSTREL_BLOCKING;
  o.callback = cb_;
  o.args = cb_args_;
  o.token_flags = token_flags_;
  return transmit(req_type, o);
}

uint32_t MgmtRequest::send_to_server(uint8_t serveridx) {
  if (overflow_ || bad_record_) return ERR_INVALID_INPUT;
  SendOptions o;
  o.route = Route::to_server(serveridx);
  return transmit(OSTREL_BLOCKING, o);
}

// The steps both routes share: lengths, outputs as first built, the send,
// then the outputs: finished here for a blocking request, handed to the
// pending entry for a non-blocking one.
uint32_t MgmtRequest::transmit(uint32_t req_type, SendOptions &opts) {
  fill_lengths();
  reset_outputs();
  nonblocking_ = opts.nonblocking;
  rb_.req_type = static_cast<request_type>(req_type);
  if (nonblocking_) opts.work = prepare_nonblocking();
  transport_ = static_cast<uint32_t>(send_request(rb_, opts));
  sent_ = true;
  if (nonblocking_) {
    // Whatever the entry owns (or the refused send freed) is no longer this
    // request's to touch.
    for (unsigned i = 0; i < rb_.outcnt; ++i)
      if (kind_[i] == SegKind::kOwned) rb_.outptr[i] = 0;
  } else {
    complete_blocking();
  }
  return transport_;
}

// The owned outputs move to the pending entry: local segments are pointed at
// owned scratch, and nothing of this frame is left in the entry. Null when
// the request owns no outputs.
PendingWork *MgmtRequest::prepare_nonblocking() {
  bool any = owned_ != nullptr;
  for (unsigned i = 0; i < rb_.outcnt; ++i) any = any || kind_[i] == SegKind::kLocal;
  if (!any) return nullptr;
  OwnedOutputs &o = owned();
  for (unsigned i = 0; i < rb_.outcnt; ++i) {
    if (kind_[i] == SegKind::kLocal) {
      rb_.outptr[i] = reinterpret_cast<uintptr_t>(o.alloc(out_cap_[i]));
      kind_[i] = SegKind::kOwned;
    }
    o.ptrs[i] = seg_ptr(rb_.outptr[i]);
    o.caps[i] = out_cap_[i];
  }
  o.outcnt = rb_.outcnt;
  return owned_.release();
}

void MgmtRequest::complete_blocking() {
  if (!owned_) return;
  Completion c;
  c.answered = decodable();
  c.status = request_status();
  for (unsigned i = 0; i < rb_.outcnt; ++i) {
    c.segs[i] = seg_ptr(rb_.outptr[i]);
    c.got[i] = received(i);
  }
  owned_->run(c);
}

uint32_t MgmtRequest::send_to_server(uint8_t serveridx, Uint32 *request_id) {
  uint32_t t = send_to_server(serveridx);
  if (request_id) *request_id = rb_.request_id;
  return t;
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
  if (transport_ != 0 && !passes(transport_)) return 0;
  return rb_.outsize[i];
}

bool MgmtRequest::response_head(ResponseHead *out) const {
  if (rb_.outcnt == 0) return false;
  uint32_t n = received(0);
  if (n > out_cap_[0]) n = out_cap_[0];
  return read_response_head(reinterpret_cast<const void *>(static_cast<uintptr_t>(rb_.outptr[0])),
                            n, out);
}

// The cluster rule belongs to management opcodes; other command types number
// their opcodes apart.
ClusterRule MgmtRequest::rule() const {
  return rule_set_ ? rule_ : opcode_traits(rb_.opcode).cluster;
}

bool MgmtRequest::passes(uint32_t code) const {
  if (rb_.command_type != KQ_MGMT_CMD) return false;
  if (rule_set_) return rule_ != ClusterRule::kNone && code == RET_CLUSTER_OPERATION_INCOMPLETE;
  return is_valid_cluster_ha_op_response(rb_.opcode, code) != 0;
}

bool MgmtRequest::record_whole() const {
  const uint32_t need = record_len_set_ ? record_len_ : out_cap_[0];
  return rb_.outcnt > 0 && received(0) >= std::min(need, out_cap_[0]);
}

uint32_t MgmtRequest::result() const {
  if (!sent_) return ERR_INVALID_INPUT;
  if (is_raw_command_type(rb_.command_type)) return status_result();
  uint32_t passed = 0;
  if (transport_ != 0) {
    if (!passes(transport_)) return transport_;
    passed = transport_;
  }
  uint32_t status = request_status();
  if (status != 0) {
    if (!passes(status)) return status;
    passed = status;
  }
  ResponseHead head;
  if (!response_head(&head)) return TESSALINE_INVALID_MSG;
  if (head.code != 0) return head.code;
  // A success whose record did not arrive whole would decode as zeros.
  if (!record_whole()) return TESSALINE_INVALID_MSG;
  return rule() == ClusterRule::kResponseCode ? 0 : passed;
}

MgmtRequest::Decode MgmtRequest::decode() const {
  const uint32_t r = result();
  if (r == RET_RESULT_SIZE) return record_whole() ? Decode::kSize : Decode::kNo;
  return r == 0 || passes(r) ? Decode::kYes : Decode::kNo;
}

MgmtRequest::Decode MgmtRequest::status_decode() const {
  const uint32_t r = status_result();
  if (r == RET_RESULT_SIZE) return Decode::kSize;
  return r == 0 ? Decode::kYes : Decode::kNo;
}

uint32_t MgmtRequest::check_arrived(unsigned seg, uint64_t claimed) const {
  return claimed > received(seg) ? static_cast<uint32_t>(TESSALINE_INVALID_MSG) : 0u;
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
  return r == 0 || passes(r);
}

}  // namespace qel2::mgmt
