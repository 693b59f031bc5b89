// The transport's entry points: send_request, the library's one way to send
// a full request, and the exported sends, thin shims over the same steps:
// find the calling thread's connection, hold its request lock for one
// exchange, and run the operation asked for.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/be_codec.h"
#include "common/opcode_traits.h"
#include "daemon_intf/transport_internal.h"
#include "qel2_errors.h"
#include "qel2_opcodes.h"

// Token flags of the next object-creating request sent through
// orx_tessaline_cli_send_daemon (update_thread_token_op sets them from
// templates); the library's own requests carry theirs in SendOptions and
// leave these alone.
__thread Uint8 bIsToken_op = 1;
__thread Uint8 bIsTokenAndSession_op = 0;

namespace {

// Read only by debugging code; initial-exec so the signal handler's access
// never allocates.
__thread volatile int timed_out __attribute__((tls_model("initial-exec"))) = 0;

constexpr Uint32 kRequestMarginSeconds = 30;

// What an exported send promises its callers beyond send_request.
struct Contract {
  // orx_tessaline_cli_send_daemon: an object-creating request takes the
  // thread's token flags and resets them; its signature leaves no other way.
  bool thread_token_flags = false;
  // orx_tessaline_cli_send_daemon_new: output sizes stay as given.
  bool keep_sizes = false;
  // The header's operation: 0, or 1 for a partition-information translation.
  op_type op = HSM_QEL1_OPERATION;
};

Uint8 take_token_flags() {
  Uint8 flags = static_cast<Uint8>((bIsToken_op ? kTokenObjectFlag : 0) |
                                   (bIsTokenAndSession_op ? kTokenAndSessionFlag : 0));
  bIsToken_op = 1;
  bIsTokenAndSession_op = 0;
  return flags;
}

Uint64 exchange_seconds(const request_buffer &rb) {
  const Uint64 t = Uint64{rb.timeout} + kRequestMarginSeconds;
  return t + qel2::opcode_extra_wait(rb.opcode);
}

// One full request on the thread's connection. *work (non-blocking only;
// work may be null) passes to the status entry, and is left null once the
// entry took it.
Int32 send_full(thread_record *thr, request_buffer *rb, const SendOptions &o, const Contract &c,
                PendingWork **work) {
  const bool to_server = o.route.server_directed;
  FrameOptions opts{};
  opts.op = c.op;
  opts.req_type = o.nonblocking ? 1 : 0;
  opts.op_ctx = to_server ? 0 : rb->ctx;
  opts.zero_tails = !to_server;
  opts.byte50 = to_server ? o.route.server : 0;
  Uint8 *raw = nullptr;
  size_t len = 0;
  if (Int32 r = frame_request(*rb, opts, thr->tx_buf, sizeof thr->tx_buf, &raw, &len)) return r;
  WipedBuffer msg(raw, len, raw != thr->tx_buf);
  if (!to_server && is_object_creating_opcode(rb->opcode))
    msg.get()[offsetof(ozv_msg_fixed, op_flags)] =
        c.thread_token_flags ? take_token_flags() : o.token_flags;

  Uint32 id;
  req_status *entry = nullptr;
  if (o.nonblocking) {
    id = next_nonblocking_id(thr);
    entry = add_req_stat(thr, id, *rb, o.callback, o.args, work ? *work : nullptr);
    if (!entry) {
      printf(to_server ? "y5dev_calloc failed: size %ld :couldn't store non-blocking req status\n"
                       : "y5dev_calloc failed:size %ld :couldn't storenon-blocking req status\n",
             static_cast<long>(sizeof(req_status)));
      return TESSALINE_MALLOC_FAIL;
    }
    if (work) *work = nullptr;
  } else {
    id = next_blocking_id(thr);
  }
  set_message_req_id(msg.get(), id);

  const Uint64 expected = sum_sizes(rb->outsize, rb->outcnt);  // at most 0xFFFFFFFF
  sock_snd_info sck{};
  sck.req_len = len;
  sck.resp_len = OZV_HDR_LEN + expected;
  sck.req_stat = entry;
  sck.req_id = id;
  sck.timeout = exchange_seconds(*rb);
  sck.socket_fd = thr->socket_fd;
  sck.req = msg.get();
  sck.resp_cap = static_cast<Uint32>(expected);
  sck.req_type = o.nonblocking ? OSTREL_NON_BLOCKING : OSTREL_BLOCKING;
  sck.pend = &thr->pend;
  const PayloadSink sink{rb->outptr, rb->outsize, rb->outcnt, !c.keep_sizes};
  if (!o.nonblocking) sck.sink = &sink;
  if (Int32 r = socket_send(&sck, thr)) {
    del_req_stat(entry, thr);
    return r;
  }
  msg.reset();

  rb->request_id = id;
  if (o.nonblocking) {
    rb->status = static_cast<Int32>(ERR_REQUEST_PENDING);
    return 0;
  }
  WipedBuffer payload(sck.resp, sck.resp_size);
  rb->status = static_cast<Int32>(sck.resp_hdr.status);
  if (!sck.spread)
    spread_payload(payload.get(), sck.resp_size, rb->outptr, rb->outsize, rb->outcnt,
                   sink.cut_sizes);
  if (!to_server) {
    rb->ctx = sck.resp_hdr.op_ctx;
  } else if (sck.resp_hdr.status == 0 && rb->command_type == KQ_MGMT_CMD) {
    update_buffer_resp_ekp(rb, &sck.resp_hdr);
  }
  return 0;
}

// Sends a header-only control message and receives its answer; only the
// first `cap` payload bytes are kept.
Int32 control_exchange(thread_record *thr, op_type op, Uint8 msg_type, Uint32 req_id,
                       Uint8 req_type, Uint32 cap, WipedBuffer *payload, Uint32 *size,
                       ozv_msg_fixed *hdr) {
  ozv_msg_fixed m = frame_control(op, msg_type, req_id, req_type);
  sock_snd_info sck{};
  sck.req_len = sizeof m;
  sck.resp_len = OZV_HDR_LEN + cap;
  sck.req_id = req_id;
  sck.timeout = kControlWaitSeconds;
  sck.socket_fd = thr->socket_fd;
  sck.req = reinterpret_cast<const Uint8 *>(&m);
  sck.resp_cap = cap;
  sck.req_type = OSTREL_BLOCKING;  // a control operation always waits for its answer
  sck.pend = &thr->pend;
  if (Int32 r = socket_send(&sck, thr)) return r;
  payload->reset(sck.resp, sck.resp_size);
  *size = sck.resp_size;
  *hdr = sck.resp_hdr;
  return 0;
}

// Operations 4, 5 and 8: a fixed-size record; a short answer fills what it
// covers and leaves the rest of the caller's record as it was.
Int32 fixed_record_op(thread_record *thr, void *data, op_type op, Uint8 msg_type, Uint32 req_type,
                      Uint32 record_size) {
  WipedBuffer payload;
  Uint32 size = 0;
  ozv_msg_fixed hdr{};
  if (Int32 r = control_exchange(thr, op, msg_type, next_blocking_id(thr),
                                 static_cast<Uint8>(req_type), record_size, &payload, &size, &hdr))
    return r;
  if (size) memcpy(data, payload.get(), size);
  if (op == HSM_HEALTH_DUMP && payload_len(hdr) == 0)
    printf("\nReceived empty response from the daemon ");
  return 0;
}

Int32 server_notice_op(thread_record *thr, Uint32 req_type, const void *args) {
  Uint32 letter_word;
  memcpy(&letter_word, args, sizeof letter_word);
  WipedBuffer payload;
  Uint32 size = 0;
  ozv_msg_fixed hdr{};
  return control_exchange(thr, HSM_OZV_SERVER_OPERATION, static_cast<Uint8>(letter_word),
                          next_blocking_id(thr), static_cast<Uint8>(req_type), 0, &payload, &size,
                          &hdr);
}

Int32 cluster_status_op(thread_record *thr, cluster_req_status *cs) {
  WipedBuffer payload;
  Uint32 size = 0;
  ozv_msg_fixed hdr{};
  note_asked_id(thr, cs->request_id);  // its answer carries that id, whoever gave it
  if (Int32 r = control_exchange(thr, CLUSTER_REQUEST_STATUS, OZV_MSG_TYPE_DAEMON, cs->request_id,
                                 0, sizeof cs->op_err, &payload, &size, &hdr))
    return r;
  if (payload_len(hdr) == 0) {
    printf("\n\tReceived empty cluster error info from the daemon");
    printf("\n\tMight not be a cluster operation");
    memset(cs->op_err, 0xFF, sizeof cs->op_err);
  } else if (size) {
    memcpy(cs->op_err, payload.get(), size);
  }
  return 0;
}

bool op_needs_data(op_type op) {
  switch (op) {
    case HSM_QEL1_OPERATION:
    case HSM_QEL1_TRANSLATE_PARTITION_INFO:
    case HSM_REQUEST_STATUS:
    case HSM_ALL_REQUEST_STATUS:
    case HSM_HEALTH_DUMP:
    case HSM_GET_FW_VERSION:
    case GET_DAEMON_VERSION:
    case CLUSTER_REQUEST_STATUS:
      return true;
    default:
      return false;
  }
}

// Pointers an operation writes through or reads from are checked before any
// traffic.
Int32 check_arguments(const void *data, op_type op, const void *args) {
  if (op_needs_data(op) && !data) {
    printf("Null data for transport operation %u\n", static_cast<unsigned>(op));
    return ERR_ARGUMENTS_BAD;
  }
  if (op == HSM_OZV_SERVER_OPERATION && !args) {
    printf("Null message type for transport operation %u\n", static_cast<unsigned>(op));
    return ERR_ARGUMENTS_BAD;
  }
  if (op == HSM_ALL_REQUEST_STATUS) {
    const auto *rl = static_cast<const request_status_list *>(data);
    if (rl->cnt && !rl->req_stat_buf) {
      printf("Null request status list\n");
      return ERR_ARGUMENTS_BAD;
    }
  }
  return 0;
}

// Runs fn with the calling thread's connection and its request lock held.
template <typename Fn>
Int32 with_connection(Fn fn) {
  SyncFreeLock sync(SyncFreeLock::kShared);
  thread_record *thr = nullptr;
  if (Int32 r = get_thread_info_and_create(&thr)) return r;
  pthread_mutex_lock(&thr->req_lock);
  sync.unlock();
  Int32 r = fn(thr);
  pthread_mutex_unlock(&thr->req_lock);
  return r;
}

// A full request on the calling thread's connection; the work of a
// non-blocking request that no entry took is finished unanswered.
Int32 send_on_connection(request_buffer &rb, const SendOptions &o, const Contract &c) {
  PendingWork *work = o.work;
  const Int32 r = with_connection([&](thread_record *thr) {
    return send_full(thr, &rb, o, c, o.nonblocking ? &work : nullptr);
  });
  if (work) {
    work->finish(false, 0, 0);
    delete work;
  }
  return r;
}

// The exported plain send of operation 0 or 1, on the thread's connection.
Int32 exported_full(thread_record *thr, request_buffer *rb, op_type op, Uint32 req_type,
                    callback_fn cb, void *args) {
  SendOptions o;
  o.nonblocking = req_type == OSTREL_NON_BLOCKING;
  o.callback = cb;
  o.args = args;
  Contract c;
  c.thread_token_flags = true;
  c.op = op;
  return send_full(thr, rb, o, c, nullptr);
}

// Runs operation op on the thread's connection, its arguments checked.
Int32 dispatch(void *data, op_type op, Uint32 req_type, callback_fn cb, void *args,
               thread_record *thdata) {
  switch (op) {
    case HSM_QEL1_OPERATION:
    case HSM_QEL1_TRANSLATE_PARTITION_INFO:
      return exported_full(thdata, static_cast<request_buffer *>(data), op, req_type, cb, args);
    case HSM_REQUEST_STATUS:
      return poll_one(thdata, static_cast<request_status *>(data));
    case HSM_ALL_REQUEST_STATUS:
      return poll_list(thdata, static_cast<request_status_list *>(data));
    case HSM_HEALTH_DUMP:
      return fixed_record_op(thdata, data, op, OZV_MSG_TYPE_MGMT, req_type, sizeof(hb_diag));
    case HSM_GET_FW_VERSION:
      return fixed_record_op(thdata, data, op, OZV_MSG_TYPE_MGMT, req_type, sizeof(VersionNumber));
    case GET_DAEMON_VERSION:
      return fixed_record_op(thdata, data, op, OZV_MSG_TYPE_DAEMON, req_type,
                             sizeof(ComponentVersion));
    case HSM_GET_DRIVER_STATE:
      return thdata->socket_fd != -1 ? 0 : TESSALINE_SOCKET_CONNECT;
    case HSM_OZV_SERVER_OPERATION:
      return server_notice_op(thdata, req_type, args);
    case CLUSTER_REQUEST_STATUS:
      return cluster_status_op(thdata, static_cast<cluster_req_status *>(data));
    default:
      return TESSALINE_INVALID_OPERATION;
  }
}

}  // namespace

bool is_object_creating_opcode(Uint16 opcode) {
  return qel2::opcode_traits(opcode).object_creating;
}

Int32 orx_tessaline_cli_send_daemon1(void *data, op_type op, Uint32 req_type, callback_fn cb,
                                     void *args, thread_info *thdata) {
  if (Int32 r = check_arguments(data, op, args)) return r;
  return dispatch(data, op, req_type, cb, args, record_of(thdata));
}

Int32 orx_tessaline_cli_send_daemon(void *data, op_type op, Uint32 req_type, callback_fn cb,
                                    void *args) {
  // Checked before the connection is looked up: a refused call sends nothing.
  if (Int32 r = check_arguments(data, op, args)) return r;
  return with_connection(
      [&](thread_record *thr) { return dispatch(data, op, req_type, cb, args, thr); });
}

Int32 orx_tessaline_cli_send_daemon_new(request_buffer *buffer, Uint8 serveridx) {
  if (!buffer) {
    printf("Null request buffer\n");
    return ERR_ARGUMENTS_BAD;
  }
  SendOptions o;
  o.nonblocking = buffer->req_type == OSTREL_NON_BLOCKING;
  o.route = Route::to_server(serveridx);
  Contract c;
  c.keep_sizes = true;
  return send_on_connection(*buffer, o, c);
}

Int32 send_request(request_buffer &rb, const SendOptions &opts) {
  return send_on_connection(rb, opts, Contract{});
}

void update_buffer_resp_ekp(request_buffer *buffer, const ozv_msg_fixed *header) {
  if (buffer->outcnt == 0 || !buffer->outptr[0]) return;
  auto *out = reinterpret_cast<Uint8 *>(static_cast<uintptr_t>(buffer->outptr[0]));
  const Uint32 server_bits = Uint32{header->serveridx} << 27;
  auto mark = [&](size_t off) {
    if (buffer->outsize[0] < off + 8) return;
    const Uint32 low = static_cast<Uint32>(qel2::be64_at(out + off));
    qel2::put_be64(out + off, Uint64{low | server_bits});
  };
  switch (qel2::opcode_traits(buffer->opcode).marks) {
    case qel2::HandleMarks::kTwoAt16And24:
      mark(16);
      mark(24);
      break;
    case qel2::HandleMarks::kOneAt16:
      mark(16);
      break;
    case qel2::HandleMarks::kNone:
      break;
  }
}

void timeout(int sig) {
  (void)sig;
  static const char kLine[] = "timeout: signal received\n";
  const int saved = errno;
  ssize_t w = write(STDOUT_FILENO, kLine, sizeof kLine - 1);
  (void)w;
  timed_out = 1;
  errno = saved;
}
