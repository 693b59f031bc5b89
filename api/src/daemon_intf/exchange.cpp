// One exchange on a thread's socket: sending a message, receiving answers
// (finishing a message an earlier exchange gave up on), request ids and
// waiting times.
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"

namespace {

std::atomic<Uint32> g_second_ms{1000};

int poll_ms(Uint64 ms) { return ms > INT_MAX ? INT_MAX : static_cast<int>(ms); }

// Sets SO_RCVTIMEO when it differs from what the socket already has.
void set_rcv_timeout(thread_record *thr, socket_t fd, Uint64 ms) {
  if (thr && thr->rcvtimeo_ms == static_cast<Int64>(ms)) return;
  // 5 microseconds on top, so a time-out of 0 never means "wait forever".
  const Uint64 us = ms * 1000 + 5;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(us / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
    printf("Couldn't set timeout for the receiving socket: errno : %s Proceeding anyway\n",
           strerror(errno));
    if (thr) thr->rcvtimeo_ms = -1;
    return;
  }
  if (thr) thr->rcvtimeo_ms = static_cast<Int64>(ms);
}

Uint64 now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Uint64>(ts.tv_sec) * 1000 + static_cast<Uint64>(ts.tv_nsec) / 1000000;
}

bool is_peer_gone(int err) { return err == EPIPE || err == ECONNRESET || err == ENOTCONN; }

// Where one receive reads from: the bytes the connection's buffer holds past
// the last message, then the socket. The whole receive is due by `end`; a
// message that has begun to arrive must be complete within `rest` of its
// first byte, and neither waiting time starts again for a later byte or for
// an answer to another request.
struct Reader {
  socket_t fd;
  thread_record *thr;  // owns the receive buffer
  bool dontwait;       // a poll: take only what is queued
  bool may_block;      // the first read may block: SO_RCVTIMEO equals the whole wait
  bool broken;         // the connection failed under the read
  bool msg_begun;      // a byte of the current message has come
  bool kept_cut;       // a failure cut the message kept from before the request
  bool last_full;      // the last recv filled its room: more may be queued
  bool answered;       // the awaited answer came, read through a copy
  Uint64 end;          // monotonic ms
  Uint64 rest;         // ms
  Uint64 msg_end;      // 0: not yet fixed (see wait_readable)
};

// The message's own deadline is fixed when the reader first has to wait for
// more of it: nothing waits between its first byte and that point, and a
// message that comes whole never reads the clock for it.
void begin_message(Reader &r) { r.msg_begun = true; }

// Takes n buffered bytes; a buffer that runs empty is wiped (answers carry keys).
void consume(thread_record *t, size_t n) {
  t->rx_off += static_cast<Uint32>(n);
  t->rx_len -= static_cast<Uint32>(n);
  if (t->rx_len == 0) {
    explicit_bzero(t->rx_buf, t->rx_off);
    t->rx_off = 0;
  }
}

// Takes n buffered bytes that held a payload, wiping them now rather than
// when the buffer runs empty.
void consume_wiped(thread_record *t, size_t n) {
  if (n < t->rx_len) explicit_bzero(t->rx_buf + t->rx_off, n);
  consume(t, n);
}

// Moves the buffered bytes to the buffer's start.
void compact(thread_record *t) {
  if (t->rx_off == 0) return;
  memmove(t->rx_buf, t->rx_buf + t->rx_off, t->rx_len);
  explicit_bzero(t->rx_buf + t->rx_len, t->rx_off);
  t->rx_off = 0;
}

// 0: readable (or worth another read); else the failure.
Int32 wait_readable(Reader &r) {
  const Uint64 now = now_ms();
  if (r.msg_begun && r.msg_end == 0) r.msg_end = std::min(r.end, now + r.rest);
  const Uint64 due = r.msg_end ? std::min(r.end, r.msg_end) : r.end;
  if (now >= due) return TESSALINE_SOCKET_RCV_TIMEOUT;
  pollfd p{r.fd, POLLIN, 0};
  int n = poll(&p, 1, poll_ms(due - now));
  if (n == 0) return TESSALINE_SOCKET_RCV_TIMEOUT;
  if (n < 0) return 0;  // interrupted or failed: the next read tells
  if (p.revents & POLLNVAL) {
    r.broken = true;
    return TESSALINE_SOCKET_RCV_PEER_DOWN;
  }
  return 0;
}

// Receives up to cap bytes into dst; *n > 0 on success.
Int32 recv_some(Reader &r, Uint8 *dst, size_t cap, size_t *n) {
  for (;;) {
    const bool block = r.may_block && !r.msg_begun;
    r.may_block = false;
    ssize_t k = recv(r.fd, dst, cap, block ? 0 : MSG_DONTWAIT);
    r.last_full = k == static_cast<ssize_t>(cap);
    if (k > 0) {
      *n = static_cast<size_t>(k);
      begin_message(r);
      return 0;
    }
    if (k == 0) {
      printf(
          "TIMEOUT/ERROR: Application Failed to Recieve the Message:PEER SHUTDOWN: return: "
          "%d, errno :%s\n",
          0, strerror(errno));
      r.broken = true;
      return TESSALINE_SOCKET_RCV_PEER_DOWN;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      r.broken = true;
      return TESSALINE_SOCKET_RCV_TIMEOUT;  // a failure of the socket
    }
    if (r.dontwait || block) return TESSALINE_SOCKET_RCV_TIMEOUT;  // the socket's own time-out
    if (Int32 w = wait_readable(r)) return w;
  }
}

// Reads len bytes of the current message; the first keep go to buf + got,
// the rest are dropped. *got counts bytes read so far (also on failure).
Int32 read_part(Reader &r, Uint8 *buf, size_t keep, size_t len, size_t *got) {
  if (!buf) keep = 0;
  thread_record *t = r.thr;
  while (*got < len) {
    if (t->rx_len > 0) {
      begin_message(r);
      const size_t n = std::min<size_t>(len - *got, t->rx_len);
      const size_t k = *got < keep ? std::min(n, keep - *got) : 0;
      if (k) memcpy(buf + *got, t->rx_buf + t->rx_off, k);
      consume(t, n);
      *got += n;
      continue;
    }
    size_t n = 0;
    if (*got < keep && keep - *got >= QEL2_RX_BUF_LEN) {
      // A large kept part goes straight to its place.
      if (Int32 e = recv_some(r, buf + *got, keep - *got, &n)) return e;
      *got += n;
      continue;
    }
    if (Int32 e = recv_some(r, t->rx_buf, QEL2_RX_BUF_LEN, &n)) return e;
    t->rx_off = 0;
    t->rx_len = static_cast<Uint32>(n);
  }
  return 0;
}

// Makes a payload of len bytes that fits the receive buffer lie whole in
// it. False when it does not fit or a read fails; the ordinary path then
// reads on from what is buffered and meets the failure itself.
bool buffer_whole(Reader &r, Uint32 len) {
  thread_record *t = r.thr;
  if (len > QEL2_RX_BUF_LEN) return false;
  while (t->rx_len < len) {
    if (size_t{t->rx_off} + len > QEL2_RX_BUF_LEN) compact(t);
    const size_t end = size_t{t->rx_off} + t->rx_len;
    size_t n = 0;
    if (recv_some(r, t->rx_buf + end, QEL2_RX_BUF_LEN - end, &n)) return false;
    t->rx_len += static_cast<Uint32>(n);
  }
  return true;
}

// Payload bytes worth keeping of an answer nobody waits for right now: what
// the entry it answers can take, else nothing.
Uint32 keep_for_unawaited(thread_record *thr, const ozv_msg_fixed &hdr, Uint32 len,
                          Uint64 made_before) {
  if (len == 0) return 0;
  const req_status *e = entry_answered_by(thr, hdr, made_before);
  if (!e) return 0;
  return static_cast<Uint32>(std::min<Uint64>(len, req_stat_capacity(e)));
}

// Allocates the kept part of a payload; on failure the payload is still
// read (and dropped) so that the stream stays in step.
Uint8 *alloc_payload(Uint32 keep, Uint32 len, bool *lost, const char *what) {
  *lost = false;
  if (keep == 0) return nullptr;
  auto *data = static_cast<Uint8 *>(malloc(keep));
  if (!data) {
    printf(what, static_cast<int>(len));
    *lost = true;
  }
  return data;
}

// A message begun and not finished is kept for the next exchange, with the
// entries that were outstanding when it began: only those may take it, and
// when the exchange that kept it ended.
void note_kept_now(thread_record *thr) {
  thr->kept_cutoff = thr->entries_made;
  thr->kept_after_wait = 0;
  thr->kept_at_ms = now_ms();
}

void store_partial_header(thread_record *thr, const ozv_msg_fixed &hdr, size_t got) {
  pending *p = &thr->pend;
  p->pending = 1;
  p->header = 1;
  p->hdr = hdr;
  p->stored_len = static_cast<Uint32>(got);
  p->pending_len = static_cast<Uint32>(OZV_HDR_LEN - got);
  note_kept_now(thr);
}

void store_partial_payload(thread_record *thr, const ozv_msg_fixed &hdr, Uint8 *data, Uint32 keep,
                           bool lost, Uint32 len, size_t got) {
  pending *p = &thr->pend;
  p->pending = 1;
  p->header = 0;
  p->hdr = hdr;
  p->data = data;
  p->data_len = keep;
  p->data_lost = lost ? 1 : 0;
  p->stored_len = static_cast<Uint32>(got);
  p->pending_len = static_cast<Uint32>(len - got);
  note_kept_now(thr);
}

// Operation byte of the request this exchange sent; -1 when it sent none.
int sent_operation(const sock_snd_info *sck) {
  if (!sck->req || sck->req_len < OZV_HDR_LEN) return -1;
  return sck->req[offsetof(ozv_msg_fixed, operation)];
}

// How far an answer may run past what its request can take: a longer one is
// read through and cut. One segment's worth (a segment's size travels in 16
// bits) covers any daemon that counts a little more than it was asked for.
constexpr Uint64 kOverrunMargin = 0x10000;
// A message nothing waits for (a late answer to a request that timed out, a
// stray one) is read through and dropped. The library's operations expect at
// most 32 segments of 0xFFFF bytes, some 2 MiB, far below this ceiling; only
// a caller of the transport's own interface can ask for more, and a late
// answer to such a request then costs the connection.
constexpr Uint64 kUnawaitedCeiling = Uint64{16} << 20;

// The most payload a message may announce: what its target (the awaited
// request, or the pending entry it answers) can take plus the margin; a
// control operation's record never grows; `nobodys` when it has no target.
// Beyond that it answers nothing the thread sent, and waiting for its bytes
// would only hold the thread until its time-out.
Uint64 payload_limit(thread_record *thr, const sock_snd_info *sck, const ozv_msg_fixed &hdr,
                     bool awaited, Uint64 made_before, Uint64 nobodys) {
  if (awaited) {
    switch (sent_operation(sck)) {
      case HSM_HEALTH_DUMP:
      case HSM_GET_FW_VERSION:
      case GET_DAEMON_VERSION:
      case CLUSTER_REQUEST_STATUS:
        return sck->resp_cap;
      default:
        return sck->resp_cap + kOverrunMargin;
    }
  }
  if (const req_status *e = entry_answered_by(thr, hdr, made_before))
    return req_stat_capacity(e) + kOverrunMargin;
  return nobodys;
}

// Whether a header can be that of a message from the daemon; when it cannot,
// the stream is out of step (or the daemon lies) and is not read on.
bool can_begin_message(thread_record *thr, const sock_snd_info *sck, const ozv_msg_fixed &hdr,
                       bool awaited, Uint64 made_before, Uint64 nobodys = kUnawaitedCeiling) {
  return hdr.req_type <= OSTREL_NON_BLOCKING &&
         payload_len(hdr) <= payload_limit(thr, sck, hdr, awaited, made_before, nobodys);
}

// Whether a message is the answer the exchange waits for. Only the
// cluster-status query awaits an id a non-blocking request may also hold,
// and neither may take the other's answer: a poll takes only an answer
// marked non-blocking (a late cluster record is not its request's answer),
// and the query leaves an answer so marked to the request still pending.
// A drain awaits nothing.
bool is_awaited(thread_record *thr, const sock_snd_info *sck, const ozv_msg_fixed &hdr) {
  if (hdr.req_id != sck->req_id || sck->req_id == kNoReqAwaited) return false;
  if (sck->req_type != OSTREL_BLOCKING) return hdr.req_type == OSTREL_NON_BLOCKING;
  return hdr.req_type != OSTREL_NON_BLOCKING || !find_req_stat(thr, hdr.req_id);
}

void print_out_of_step(const ozv_msg_fixed &hdr) {
  printf("Invalid Message from Daemon: req_id %u announces %u bytes: dropping the connection\n",
         hdr.req_id, payload_len(hdr));
}

// Whether the thread has given an id: each counter hands its ids out in
// order, so those given lie below it (all of them once it has wrapped).
bool id_given(const thread_record *thr, Uint32 id) {
  if (id >= kFirstBlockingReqId)
    return id != kNoReqAwaited && (thr->b_ids_wrapped || id < thr->b_req_id);
  return thr->nb_ids_wrapped || id < thr->nb_req_id;
}

bool id_asked(const thread_record *thr, Uint32 id) {
  for (Uint8 i = 0; i < thr->asked_used; ++i)
    if (thr->asked_ids[i] == id) return true;
  return false;
}

// Whether a message answers a request the thread sent: a daemon answers
// only what it received. An answer marked non-blocking carries an id either
// counter gave (a control operation goes out so marked when its caller asks);
// one marked blocking, a blocking id or an id the cluster-status query asked
// about.
bool answers_something_sent(thread_record *thr, const ozv_msg_fixed &hdr) {
  if (hdr.req_type == OSTREL_NON_BLOCKING)
    return id_given(thr, hdr.req_id) || find_req_stat(thr, hdr.req_id);
  return (hdr.req_id >= kFirstBlockingReqId && id_given(thr, hdr.req_id)) ||
         id_asked(thr, hdr.req_id);
}

// Whether a message still unfinished when an exchange's whole wait ended can
// be what a daemon in step was sending then: that exchange's answer, or the
// answer to a request still waiting for its own.
bool answers_what_waited(thread_record *thr, const ozv_msg_fixed &hdr, Uint64 cutoff) {
  if (hdr.req_id == thr->kept_awaited &&
      (hdr.req_type != OSTREL_NON_BLOCKING || !find_req_stat(thr, hdr.req_id)))
    return true;
  const req_status *e = entry_answered_by(thr, hdr, cutoff);
  return e && e->status == static_cast<Int32>(ERR_REQUEST_PENDING);
}

// Whether the kept message's header, once whole, is one a daemon in step
// could have sent. A framing fault shows here: the bytes it left take the
// start of the next answer, whose end is kept in turn, exchange after
// exchange, however whole each answer comes; a check of what one exchange
// reads alone cannot see it.
bool kept_in_step(thread_record *thr, const sock_snd_info *sck, const ozv_msg_fixed &hdr,
                  Uint64 cutoff) {
  // Nothing waits for it unless a pending entry does; without one, it can
  // be no longer than a request sent on this connection could take.
  const Uint64 nobodys = std::min(kUnawaitedCeiling, Uint64{thr->largest_sent} + kOverrunMargin);
  if (!can_begin_message(thr, sck, hdr, false, cutoff, nobodys)) {
    print_out_of_step(hdr);
    return false;
  }
  if (!answers_something_sent(thr, hdr)) {
    printf(
        "Invalid Message from Daemon: req_id %u answers no request sent: dropping the "
        "connection\n",
        hdr.req_id);
    return false;
  }
  if (thr->kept_after_wait && !answers_what_waited(thr, hdr, cutoff)) {
    printf(
        "Invalid Message from Daemon: req_id %u, unfinished when the wait for req_id %u "
        "ended, answers neither: dropping the connection\n",
        hdr.req_id, thr->kept_awaited);
    return false;
  }
  return true;
}

// The bytes buffered behind the awaited answer (after its first `skip`
// bytes, which are still the answer's) came before the thread's next
// request was sent, so they never answer it: they are judged now, against
// the requests outstanding now. Whole messages fill their entries or are
// dropped; a message begun is kept for the next exchange, which finishes it
// under the same judgement. False at bytes that cannot begin a message (a
// whole header that fails, or one begun that already shows a request type
// no message has): the answer's announcement fell short of the payload that
// followed it, so the answer is cut and the stream out of step. Answers
// that came whole before those bytes still count: the connection's
// replacement frees only the requests still waiting. The caller consumes
// the bytes.
bool take_leftover(thread_record *thr, const sock_snd_info *sck, Uint32 skip) {
  const Uint8 *b = thr->rx_buf + thr->rx_off + skip;
  Uint64 left = thr->rx_len - skip;
  while (left > 0) {
    ozv_msg_fixed hdr{};
    if (left < OZV_HDR_LEN) {
      memcpy(&hdr, b, left);
      if (left > offsetof(ozv_msg_fixed, req_type) && hdr.req_type > OSTREL_NON_BLOCKING)
        return false;
      store_partial_header(thr, hdr, left);
      return true;
    }
    memcpy(&hdr, b, OZV_HDR_LEN);
    if (!can_begin_message(thr, sck, hdr, false, kAnyEntry)) return false;
    const Uint32 len = payload_len(hdr);
    const Uint32 keep = keep_for_unawaited(thr, hdr, len, kAnyEntry);
    const Uint64 here = left - OZV_HDR_LEN;
    if (here >= len) {
      deliver_unawaited(thr, hdr, b + OZV_HDR_LEN, keep, false, false, sck->req_id, kAnyEntry);
      b += OZV_HDR_LEN + size_t{len};
      left -= OZV_HDR_LEN + Uint64{len};
      continue;
    }
    bool lost = false;
    Uint8 *data = alloc_payload(keep, len, &lost,
                                "malloc failed : size %d : while recieving data from socket\n");
    const Uint32 kept = lost ? 0 : keep;
    if (kept) memcpy(data, b + OZV_HDR_LEN, std::min<Uint64>(here, kept));
    store_partial_payload(thr, hdr, data, kept, lost, len, here);
    return true;
  }
  return true;
}

// Finishes the message an earlier exchange kept; it is never the answer
// awaited now, and only an entry outstanding when it began may take it.
Int32 finish_pending(Reader &rd, sock_snd_info *sck, thread_record *thr) {
  pending *p = sck->pend;
  const Uint64 cutoff = thr->kept_cutoff;
  begin_message(rd);  // part of it came already
  if (p->header) {
    size_t got = p->stored_len;
    Int32 r = read_part(rd, reinterpret_cast<Uint8 *>(&p->hdr), OZV_HDR_LEN, OZV_HDR_LEN, &got);
    if (r) {
      p->stored_len = static_cast<Uint32>(got);
      p->pending_len = static_cast<Uint32>(OZV_HDR_LEN - got);
      return r;
    }
  }
  // A header kept whole was judged when it came, but not yet as kept.
  if (!kept_in_step(thr, sck, p->hdr, cutoff)) return TESSALINE_INVALID_MSG;
  if (p->header) {
    const Uint32 len = payload_len(p->hdr);
    p->header = 0;
    p->stored_len = 0;
    p->pending_len = len;
    bool lost = false;
    const Uint32 keep = keep_for_unawaited(thr, p->hdr, len, cutoff);
    p->data = alloc_payload(keep, len, &lost, "malloc failed");
    p->data_len = lost ? 0 : keep;
    p->data_lost = lost ? 1 : 0;
  }
  if (p->pending_len > 0) {
    const size_t total = size_t{p->stored_len} + p->pending_len;
    size_t got = p->stored_len;
    Int32 r = read_part(rd, p->data, p->data_len, total, &got);
    if (r) {
      p->stored_len = static_cast<Uint32>(got);
      p->pending_len = static_cast<Uint32>(total - got);
      return r;
    }
  }
  deliver_unawaited(thr, p->hdr, p->data, p->data_len, p->data_lost != 0, true, sck->req_id,
                    cutoff);
  clear_pending(p);
  return 0;
}

// Inlined at both its callers: the round trip's own, where it is the hot
// path, and the drain behind an answer.
[[gnu::always_inline]] inline Int32 receive_answer(Reader &rd, sock_snd_info *sck,
                                                   thread_record *thr) {
  pending *p = sck->pend;
  // The kept message began before this exchange's request was sent.
  if (p->pending) {
    if (Int32 r = finish_pending(rd, sck, thr)) {
      rd.kept_cut = true;
      return r;
    }
  }
  for (;;) {
    ozv_msg_fixed hdr{};
    size_t got = 0;
    rd.msg_begun = false;
    rd.msg_end = 0;
    Int32 r = read_part(rd, reinterpret_cast<Uint8 *>(&hdr), OZV_HDR_LEN, OZV_HDR_LEN, &got);
    if (r) {
      if (got > 0) store_partial_header(thr, hdr, got);
      if (r == TESSALINE_SOCKET_RCV_TIMEOUT && sck->req_type == OSTREL_BLOCKING)
        printf("TIMEOUT/ERROR: Application Failed to Recieve the Message:return: %d, errno :%s\n",
               r, strerror(errno));
      return r;
    }

    const Uint32 len = payload_len(hdr);
    const bool awaited = is_awaited(thr, sck, hdr);
    if (!can_begin_message(thr, sck, hdr, awaited, kAnyEntry)) {
      print_out_of_step(hdr);
      return TESSALINE_INVALID_MSG;
    }
    const Uint32 keep =
        awaited ? std::min(len, sck->resp_cap) : keep_for_unawaited(thr, hdr, len, kAnyEntry);
    // A payload that fits the receive buffer is used from there. An awaited
    // one that may have more queued behind it on the socket takes the
    // ordinary path, which reads that too before the answer is used.
    if (len > 0 && buffer_whole(rd, len) && !(awaited && rd.last_full)) {
      const Uint8 *buffered = thr->rx_buf + thr->rx_off;
      if (!awaited) {
        deliver_unawaited(thr, hdr, buffered, keep, false, false, sck->req_id, kAnyEntry);
        consume_wiped(thr, len);
        continue;
      }
      if (sck->sink) {
        // Bytes behind the answer are rare: nothing is called without them.
        if (thr->rx_len > len && !take_leftover(thr, sck, len)) {
          print_out_of_step(hdr);
          return TESSALINE_INVALID_MSG;
        }
        const PayloadSink &k = *sck->sink;
        spread_payload(buffered, keep, k.outptr, k.outsize, k.outcnt, k.cut_sizes);
        consume_wiped(thr, thr->rx_len);
        sck->spread = true;
        sck->resp_size = keep;
        sck->resp_hdr = hdr;
        return 0;
      }
    }
    bool lost = false;
    Uint8 *data = alloc_payload(keep, len, &lost,
                                "malloc failed : size %d : while recieving data from socket\n");
    const Uint32 kept = lost ? 0 : keep;
    if (len > 0) {
      got = 0;
      r = read_part(rd, data, kept, len, &got);
      if (r) {
        store_partial_payload(thr, hdr, data, kept, lost, len, got);
        if (r == TESSALINE_SOCKET_RCV_TIMEOUT && sck->req_type == OSTREL_BLOCKING)
          printf(
              "TIMEOUT/ERROR: Application Failed to Recieve the Message-1:return: %d, errno "
              ":%s\n",
              r, strerror(errno));
        return r;
      }
    }
    if (awaited) {
      if (thr->rx_len > 0) {
        if (!take_leftover(thr, sck, 0)) {
          free_wiped(data, kept);
          print_out_of_step(hdr);
          return TESSALINE_INVALID_MSG;
        }
        consume_wiped(thr, thr->rx_len);
      }
      rd.answered = true;
      if (lost) return TESSALINE_MALLOC_FAIL;
      sck->resp = data;
      sck->resp_size = kept;
      sck->resp_hdr = hdr;
      return 0;
    }
    deliver_unawaited(thr, hdr, data, kept, lost, false, sck->req_id, kAnyEntry);
    free_wiped(data, kept);
  }
}

// What the daemon queued behind the awaited answer came before the thread's
// next request. Called when the last read may have left some of it on the
// socket (it filled its room: a payload read straight into its own buffer,
// or one ending at the receive buffer's end): the rest is read now, without
// waiting, and judged against the entries outstanding now. A read that did
// not fill its room found the socket empty, and costs nothing more.
// TESSALINE_INVALID_MSG when those bytes cannot be messages, else 0.
[[gnu::noinline]] Int32 drain_behind(const Reader &rd, const sock_snd_info *sck,
                                     thread_record *thr) {
  sock_snd_info d{};
  d.req_id = kNoReqAwaited;
  d.socket_fd = sck->socket_fd;
  d.req_type = OSTREL_NON_BLOCKING;
  d.pend = sck->pend;
  Reader dr{};
  dr.fd = rd.fd;
  dr.thr = thr;
  dr.dontwait = true;
  const Int32 r = receive_answer(dr, &d, thr);
  // A peer gone after its answer: the answer stands, the next request
  // connects anew.
  if (dr.broken) thr->stream_dead = 1;
  return r == TESSALINE_INVALID_MSG ? r : 0;
}

}  // namespace

void transport_seam_set_second_ms(Uint32 ms) { g_second_ms.store(ms ? ms : 1); }

Uint64 wait_ms(Uint64 seconds) { return seconds * g_second_ms.load(std::memory_order_relaxed); }

Uint32 next_blocking_id(thread_record *t) {
  if (t->b_req_id == 0xFFFFFFFFu || t->b_req_id < kFirstBlockingReqId) {
    if (t->b_req_id == 0xFFFFFFFFu) t->b_ids_wrapped = 1;
    t->b_req_id = kFirstBlockingReqId + 1;
    return kFirstBlockingReqId;
  }
  return t->b_req_id++;
}

Uint32 next_nonblocking_id(thread_record *t) {
  // Once the counter has wrapped, an id may still be held by a request whose
  // entry waits to be collected: its answer must not meet a second entry.
  // (Should every id be held, which memory forbids, the last one is given.)
  for (Uint32 tries = 1;; ++tries) {
    Uint32 id;
    if (t->nb_req_id >= kNonBlockingIdLimit) {
      t->nb_ids_wrapped = 1;
      t->nb_req_id = 1;
      id = 0;
    } else {
      id = t->nb_req_id++;
    }
    if (tries >= kNonBlockingIdLimit || !find_req_stat(t, id)) return id;
  }
}

void note_asked_id(thread_record *t, Uint32 id) {
  constexpr Uint8 n = sizeof t->asked_ids / sizeof t->asked_ids[0];
  t->asked_ids[t->asked_next] = id;
  t->asked_next = static_cast<Uint8>((t->asked_next + 1) % n);
  if (t->asked_used < n) ++t->asked_used;
}

void clear_pending(pending *p) {
  // The state is reset before the payload is freed: a child forked in
  // between must not find the freed buffer in its copy of the record.
  Uint8 *data = p->data;
  const Uint32 n = p->data_len;
  *p = pending{};
  p->header = 1;
  free_wiped(data, n);
}

namespace {

// Whether the kept message has stayed unfinished for as long as a blocking
// request on this connection would wait for its answer's first bytes.
bool kept_overdue(const thread_record *thr) {
  const Uint64 wait = wait_ms(std::max<Uint64>(kRecvFloorSeconds, thr->longest_wait_s));
  return now_ms() - thr->kept_at_ms >= wait;
}

// `sent_at`: when the request went (monotonic ms); 0: the waiting starts now.
Int32 receive_recorded(sock_snd_info *sck, thread_record *thr, Uint64 sent_at) {
  sck->resp = nullptr;
  sck->resp_size = 0;
  sck->spread = false;
  Uint64 first_wait_s = sck->timeout;
  if (first_wait_s < kRecvFloorSeconds && sck->req_type == OSTREL_BLOCKING)
    first_wait_s = kRecvFloorSeconds;
  Reader rd{};
  rd.fd = sck->socket_fd;
  rd.thr = thr;
  // A poll must not wait: not even a scheduler tick for a tiny time-out.
  rd.dontwait = first_wait_s == 0;
  if (!rd.dontwait) {
    const Uint64 first_ms = wait_ms(first_wait_s);
    set_rcv_timeout(thr, sck->socket_fd, first_ms);
    rd.may_block = thr->rcvtimeo_ms == static_cast<Int64>(first_ms);
    rd.end = (sent_at ? sent_at : now_ms()) + first_ms;
    rd.rest = wait_ms(sck->timeout);
  }
  Int32 r = receive_answer(rd, sck, thr);
  if (rd.answered && rd.last_full) {
    if (Int32 e = drain_behind(rd, sck, thr)) {
      free_wiped(sck->resp, sck->resp_size);
      sck->resp = nullptr;
      sck->resp_size = 0;
      r = e;
    }
  }
  // A time-out keeps what came of a message and the connection: a slow
  // daemon finishes it, and the next exchange reads it. Only a message that
  // began before this exchange's request was sent and is still unfinished
  // at its time-out has had a whole waiting time to end: the daemon has
  // written later messages into it, or stopped, and the stream is out of
  // step; waiting on it would fail every later request too.
  if (r == TESSALINE_SOCKET_RCV_TIMEOUT && !rd.dontwait && rd.kept_cut) {
    printf(
        "Invalid Message from Daemon: a message begun before req_id %u never ended: dropping "
        "the connection\n",
        sck->req_id);
    r = TESSALINE_INVALID_MSG;
  } else if (r == TESSALINE_SOCKET_RCV_TIMEOUT && !rd.dontwait && sck->pend->pending) {
    // A message begun during the wait: the next exchange judges it by
    // what was awaited when the wait ended.
    thr->kept_after_wait = 1;
    thr->kept_awaited = sck->req_id;
  } else if (r == TESSALINE_SOCKET_RCV_TIMEOUT && rd.dontwait && rd.kept_cut && kept_overdue(thr)) {
    // A poll never waits, so the clock stands in for the time-out: the
    // kept message has had a whole waiting time to end.
    printf(
        "Invalid Message from Daemon: a message kept a whole waiting time ago never ended: "
        "dropping the connection\n");
    r = TESSALINE_INVALID_MSG;
  }
  // A failed socket or a stream out of step cannot be read on.
  if (r && (rd.broken || r == TESSALINE_INVALID_MSG)) thr->stream_dead = 1;
  return r;
}

// A caller without a record reads without keeping leftovers. Out of line:
// the local record's buffers would otherwise widen every receive's stack
// frame by some 17 KB.
[[gnu::noinline]] Int32 receive_unrecorded(sock_snd_info *sck, Uint64 sent_at) {
  thread_record local{};
  local.rcvtimeo_ms = -1;
  Int32 r = receive_recorded(sck, &local, sent_at);
  consume(&local, local.rx_len);
  clear_pending(&local.pend);
  return r;
}

Int32 receive(sock_snd_info *sck, thread_record *thr, Uint64 sent_at) {
  return thr ? receive_recorded(sck, thr, sent_at) : receive_unrecorded(sck, sent_at);
}

}  // namespace

Int32 socket_send(sock_snd_info *sck, thread_record *thr) {
  const Uint64 wait = wait_ms(sck->timeout);
  // The answer's waiting time counts from here: the clock is read before the
  // request goes, so the receive follows the send with nothing in between.
  const bool awaits = sck->req_type != OSTREL_NON_BLOCKING;
  Uint64 sent_at = awaits ? now_ms() : 0;
  size_t sent = 0;
  size_t left = sck->req_len;
  Int32 fail = 0;
  while (left > 0) {
    // Never blocks inside send: a daemon that stops reading meets the
    // time-out below instead of holding the thread for ever.
    ssize_t n = send(sck->socket_fd, sck->req + sent, left, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(left)) {
      sent += left;
      left = 0;
      break;
    }
    if (n > 0) {
      sent += static_cast<size_t>(n);
      left -= static_cast<size_t>(n);
    } else if (n == 0) {
      fail = TESSALINE_SOCKET_SND_PEER_DOWN;
      break;
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      fail = is_peer_gone(errno) ? TESSALINE_SOCKET_SND_PEER_DOWN : TESSALINE_SOCKET_SND_ERROR;
      break;
    }
    sent_at = 0;  // a send that had to wait: the answer's time starts after it
    pollfd p{sck->socket_fd, POLLOUT, 0};
    int r = poll(&p, 1, poll_ms(wait));
    if (r == 0) {
      fail = TESSALINE_SOCKET_SND_TIMEOUT;
      break;
    }
    if (r < 0) {
      if (errno == EINTR) continue;
      fail = TESSALINE_SOCKET_SND_ERROR;
      break;
    }
    if (!(p.revents & POLLOUT)) {
      fail = TESSALINE_SOCKET_SND_PEER_DOWN;
      break;
    }
  }
  if (fail) {
    // A peer that is gone stays gone, and half a message on the stream
    // would garble every later request: the next request connects anew.
    if (thr && (fail == TESSALINE_SOCKET_SND_PEER_DOWN || sent > 0)) thr->stream_dead = 1;
    if (sent == 0) return fail;
    printf("Error Sending the Message to Daemon : partial send: errno %s\n", strerror(errno));
    return TESSALINE_SOCKET_SND_PARTIAL_FATAL;
  }
  if (thr) {  // what an answer on this connection may still be
    if (sck->resp_cap > thr->largest_sent) thr->largest_sent = sck->resp_cap;
    if (sck->timeout > thr->longest_wait_s) thr->longest_wait_s = sck->timeout;
  }
  if (!awaits) return 0;
  if (Int32 r = receive(sck, thr, sent_at)) {
    printf("Error Receiving the Message from Daemon");
    return r;
  }
  return 0;
}

Int32 socket_recv(sock_snd_info *sck, thread_record *thr) { return receive(sck, thr, 0); }
