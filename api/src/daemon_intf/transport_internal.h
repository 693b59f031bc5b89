// Internal interfaces of the daemon transport, shared by its files, the
// white-box tests and the fuzzers.
#ifndef QEL2_DAEMON_INTF_TRANSPORT_INTERNAL_H
#define QEL2_DAEMON_INTF_TRANSPORT_INTERNAL_H

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "daemon_intf/transport.h"
#include "qel2_transport.h"

// ---- a thread's connection record ----
// Per-connection receive buffer: most answers arrive with one receive.
#define QEL2_RX_BUF_LEN 8192
// Per-connection send buffer: a request message that fits is framed here
// rather than on the heap.
#define QEL2_TX_BUF_LEN 8192
// The record behind every thread_info of the table: what the exported table
// shows, then what only the transport uses.
struct thread_record : thread_info_t {
  Int64 rcvtimeo_ms;  // receive time-out last set on socket_fd; -1: none
  // The stream fell out of step or the peer went away: the thread's next
  // request drops this connection and connects anew.
  Int8 stream_dead;
  // Status entries made on this connection so far; each entry keeps its
  // number, so a message can be held to the requests outstanding when it
  // began to arrive.
  Uint64 entries_made;
  // The kept message (pend) may answer only entries made before this count.
  Uint64 kept_cutoff;
  // When the exchange that kept it ended (monotonic ms).
  Uint64 kept_at_ms;
  // The kept message was still unfinished when an exchange's whole wait for
  // kept_awaited ended: from a daemon in step it is that answer or one to a
  // request pending then (see finish_pending).
  Int8 kept_after_wait;
  Uint32 kept_awaited;
  // Every id of a counter's range has been given (it wrapped round).
  Int8 b_ids_wrapped;
  Int8 nb_ids_wrapped;
  // The last ids the cluster-status query asked about: its answer carries
  // an id that neither counter gave.
  Uint32 asked_ids[4];
  Uint8 asked_used;  // slots in use
  Uint8 asked_next;  // the slot the next id takes
  // The most payload and the longest wait (seconds) of any request sent on
  // this connection: what a message nothing waits for may still be.
  Uint32 largest_sent;
  Uint64 longest_wait_s;
  // Bytes received past the message being read. An exchange that ends in
  // step leaves nothing here (what follows an answer is judged or kept in
  // pend); one that does not marks the stream dead, and the bytes go with it.
  Uint32 rx_off;
  Uint32 rx_len;
  Uint8 rx_buf[QEL2_RX_BUF_LEN];
  // Wiped after every send (requests carry passwords and keys).
  Uint8 tx_buf[QEL2_TX_BUF_LEN];
};
// Every thread_info in the table is a thread_record (null stays null).
inline thread_record *record_of(thread_info *t) { return static_cast<thread_record *>(t); }

// ---- ids and limits ----
inline constexpr Uint32 kFirstBlockingReqId = 0x40000000u;
inline constexpr Uint32 kNoReqAwaited = 0xFFFFFFFFu;
inline constexpr Uint32 kNonBlockingIdLimit = 0x40000000u;
inline constexpr Uint16 kControlOpcode = 255;
inline constexpr Uint32 kControlWaitSeconds = 60;
inline constexpr Uint32 kRecvFloorSeconds = 60;

// ---- buffers that may hold secrets ----
// A request message carries the caller's input segments (passwords, key
// material) and an answer's payload may carry keys: both are wiped before
// they are freed.
inline void free_wiped(void *p, size_t n) {
  if (!p) return;
  explicit_bzero(p, n);
  free(p);
}
// Wipes n bytes when done, and frees them when they were malloc'd (owned);
// otherwise they belong to a buffer that lives on (a connection's).
class WipedBuffer {
 public:
  WipedBuffer() = default;
  WipedBuffer(Uint8 *p, size_t n, bool owned = true) : p_(p), n_(n), owned_(owned) {}
  ~WipedBuffer() { release(); }
  WipedBuffer(const WipedBuffer &) = delete;
  WipedBuffer &operator=(const WipedBuffer &) = delete;
  Uint8 *get() const { return p_; }
  void reset(Uint8 *p = nullptr, size_t n = 0, bool owned = true) {
    release();
    p_ = p;
    n_ = n;
    owned_ = owned;
  }

 private:
  void release() {
    if (owned_)
      free_wiped(p_, n_);
    else if (p_)
      explicit_bzero(p_, n_);
  }
  Uint8 *p_ = nullptr;
  size_t n_ = 0;
  bool owned_ = true;
};

// ---- message framing and spreading (message.cpp) ----
struct FrameOptions {
  op_type op;
  Uint8 byte50;     // token flags (plain send) or server index
  Uint8 req_type;   // 0 blocking, 1 non-blocking
  Uint64 op_ctx;    // plain send: request_buffer.ctx; else 0
  bool zero_tails;  // plain send: zero bytes inoffset..insize-1
};
// Builds the full request message (request id left 0: set_message_req_id).
// ERR_ARGUMENTS_BAD for counts above 32, a null input segment with bytes or
// an expected payload above 0xFFFFFFFF; TESSALINE_MALLOC_FAIL when the
// message cannot be allocated. *msg is released with free_wiped(*msg, *len).
Int32 frame_request(const request_buffer &rb, const FrameOptions &opts, Uint8 **msg, size_t *len);
// The same into buf when the message fits in cap bytes (*msg == buf: the
// caller wipes it), else on the heap as above.
Int32 frame_request(const request_buffer &rb, const FrameOptions &opts, Uint8 *buf, size_t cap,
                    Uint8 **msg, size_t *len);
// Header-only message of a control operation.
ozv_msg_fixed frame_control(op_type op, Uint8 msg_type, Uint32 req_id, Uint8 req_type);
void set_message_req_id(Uint8 *msg, Uint32 req_id);
Uint8 msg_type_for(Uint16 command_type);
// Sum of the first cnt sizes, 64-bit.
Uint64 sum_sizes(const Uint32 *sizes, Uint16 cnt);
// Payload length an answer header announces.
inline Uint32 payload_len(const ozv_msg_fixed &h) { return (Uint32{h.out_len2} << 16) | h.out_len; }
// Copies payload over the output segments in order; each segment gets at most
// its size and nothing past the payload's end. cut_sizes: the size of every
// segment becomes what it received.
void spread_payload(const Uint8 *payload, Uint32 len, const Uint64 *outptr, Uint32 *outsize,
                    Uint16 outcnt, bool cut_sizes);

// ---- request ids (exchange.cpp) ----
Uint32 next_blocking_id(thread_record *t);
Uint32 next_nonblocking_id(thread_record *t);
// Remembers an id the cluster-status query asks about.
void note_asked_id(thread_record *t, Uint32 id);

// ---- the exchange (exchange.cpp) ----
// Output segments an awaited answer's payload may be spread over straight
// from the receive buffer (spread_payload's rules), sparing a copy.
struct PayloadSink {
  const Uint64 *outptr;
  Uint32 *outsize;
  Uint16 outcnt;
  bool cut_sizes;
};
struct sock_snd_info {
  size_t req_len;        // bytes of req to send
  Uint64 resp_len;       // 56 + expected payload; informational
  req_status *req_stat;  // non-blocking entry of this request, if any
  Uint32 req_id;         // id of the answer awaited; kNoReqAwaited: none
  Uint64 timeout;        // T, seconds
  socket_t socket_fd;
  const Uint8 *req;
  Uint32 resp_cap;         // most payload bytes of the awaited answer the caller uses
  Uint8 *resp;             // out: kept payload (free_wiped(resp, resp_size)) or null
  Uint32 resp_size;        // out: bytes in resp
  ozv_msg_fixed resp_hdr;  // out: header of the awaited answer
  request_type req_type;   // 1: send only / poll time-out; 0: blocking
  pending *pend;
  // Optional: when the whole awaited payload is in the receive buffer it is
  // spread over sink's segments from there; then spread is set and resp
  // stays null (resp_size still counts the bytes used).
  const PayloadSink *sink;
  bool spread;
};
// Sends sck->req; for a blocking request then receives the awaited answer.
Int32 socket_send(sock_snd_info *sck, thread_record *thr);
// Receives until the awaited answer arrives or a read fails.
Int32 socket_recv(sock_snd_info *sck, thread_record *thr);
// A failed receive or send that leaves the stream unusable (the peer gone,
// a socket error, bytes that cannot begin a message, an announcement nothing
// could take, half a request sent) sets the record's stream_dead; its
// thread's next request connects anew. A time-out keeps the stream and what
// came of a message, unless the message still unfinished began before the
// exchange's request was sent: it has had the whole wait to end, so the
// stream is out of step (TESSALINE_INVALID_MSG, stream dead). A message kept
// from one exchange for a later one is judged again once its header is
// whole (it must answer a request the thread sent, and what a wait that
// ended in it awaited); a poll, which never waits, drops a kept message
// unfinished for a whole waiting time.
// Milliseconds one waiting time of `seconds` lasts (test seam scales it).
Uint64 wait_ms(Uint64 seconds);
// Drops a stored partial message.
void clear_pending(pending *p);

// ---- configuration and connecting (config.cpp) ----
int read_configuration(const char *conf_file, int what);
enum ConfigSetting { kConfDaemonId = 0, kConfSocketType = 1, kConfPort = 2 };
// A connected socket as a_conf says, or -1.
socket_t connect_daemon_socket();

// ---- thread table (thread_table.cpp) ----
thread_record *get_thread_info();
Int32 get_thread_info_and_create(thread_record **ret_thr_info);
void del_thread_info(pthread_t thread_id);
// Closes a record's connection and ends what belonged to it (entries still
// waiting for their answer, a stored partial message, buffered bytes); the
// record stays, unconnected, with the entries already answered. Caller: the record's own thread,
// with sync_free_cli_th_tbl_lock held, or whoever holds its req_lock.
void drop_connection(thread_record *t);
// sync_free_cli_th_tbl_lock: held from a record's lookup until its req_lock
// is taken (shared: lookups of different threads do not wait for each other,
// and take a shard of their own), and while records are unlinked for freeing
// (exclusive: every shard).
class SyncFreeLock {
 public:
  enum Mode { kShared, kExclusive };
  explicit SyncFreeLock(Mode mode);
  ~SyncFreeLock();
  void unlock();
  SyncFreeLock(const SyncFreeLock &) = delete;
  SyncFreeLock &operator=(const SyncFreeLock &) = delete;

 private:
  pthread_rwlock_t *shard_;  // null when held exclusive
  bool held_;
};

// ---- non-blocking status entries (nonblocking.cpp) ----
req_status *find_req_stat(thread_info *thr, Uint32 req_id);
// Entries made before any message began to arrive may take it.
inline constexpr Uint64 kAnyEntry = ~Uint64{0};
// The entry a message answers: a non-blocking answer's, made before
// made_before (see thread_record::entries_made); null when there is none.
req_status *entry_answered_by(thread_record *thr, const ozv_msg_fixed &hdr, Uint64 made_before);
// Appends a pending entry for a request; null when it cannot be allocated.
// The entry owns work from then on (nothing taken when it is null).
req_status *add_req_stat(thread_record *thr, Uint32 req_id, const request_buffer &rb,
                         callback_fn cb, void *args, PendingWork *work = nullptr);
void del_req_stat(req_status *req_stat, thread_info *thr_info);
// Frees every entry of a record without running callbacks.
void free_all_req_stats(thread_info *thr);
// Frees, without callbacks, the entries whose answer has not come: it
// cannot come on another connection. Answered ones stay for their polls.
void free_waiting_req_stats(thread_info *thr);
Uint64 req_stat_capacity(const req_status *e);
// An answer nobody waits for right now: fills the entry it answers (see
// entry_answered_by) or is dropped. kept: the message was finished from
// bytes an earlier exchange kept.
void deliver_unawaited(thread_record *thr, const ozv_msg_fixed &hdr, const Uint8 *data,
                       Uint32 data_len, bool data_lost, bool kept, Uint32 awaited,
                       Uint64 made_before);
Int32 poll_one(thread_record *thr, request_status *rs);
Int32 poll_list(thread_record *thr, request_status_list *rl);

// ---- completion (completion.cpp) ----
Uint32 Qel2CheckForCompletionCommon(Uint32 dev_id, Uint32 request_id);

// ---- dispatch (dispatch.cpp) ----
void update_buffer_resp_ekp(request_buffer *buffer, const ozv_msg_fixed *header);
bool is_object_creating_opcode(Uint16 opcode);

#endif
