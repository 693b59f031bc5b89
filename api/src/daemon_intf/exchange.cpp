// One exchange on a thread's socket: sending a message, receiving answers
// (finishing a message an earlier exchange gave up on), request ids and
// waiting times.
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
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
void set_rcv_timeout(thread_info *thr, socket_t fd, Uint64 ms) {
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

// 0: readable (or worth another read); else the failure.
Int32 wait_readable(socket_t fd, Uint64 ms) {
  pollfd p{fd, POLLIN, 0};
  int r = poll(&p, 1, poll_ms(ms));
  if (r == 0) return TESSALINE_SOCKET_RCV_TIMEOUT;
  if (r < 0) return 0;  // interrupted or failed: the next read tells
  if (p.revents & POLLNVAL) return TESSALINE_SOCKET_RCV_PEER_DOWN;
  return 0;
}

// Where bytes nobody keeps are read to; they may be secret as well.
struct Scratch {
  Uint8 bytes[4096];
  bool used = false;
  ~Scratch() {
    if (used) explicit_bzero(bytes, sizeof bytes);
  }
};

bool is_peer_gone(int err) { return err == EPIPE || err == ECONNRESET || err == ENOTCONN; }

// Payload bytes worth keeping of an answer nobody waits for right now: what
// its non-blocking entry can take, else nothing.
Uint32 keep_for_unawaited(thread_info *thr, const ozv_msg_fixed &hdr, Uint32 len) {
  if (hdr.req_type != OSTREL_NON_BLOCKING || len == 0) return 0;
  const req_status *e = find_req_stat(thr, hdr.req_id);
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

void store_partial_header(pending *p, const ozv_msg_fixed &hdr, size_t got) {
  p->pending = 1;
  p->header = 1;
  p->hdr = hdr;
  p->stored_len = static_cast<Uint32>(got);
  p->pending_len = static_cast<Uint32>(OZV_HDR_LEN - got);
}

void store_partial_payload(pending *p, const ozv_msg_fixed &hdr, Uint8 *data, Uint32 keep,
                           bool lost, Uint32 len, size_t got) {
  p->pending = 1;
  p->header = 0;
  p->hdr = hdr;
  p->data = data;
  p->data_len = keep;
  p->data_lost = lost ? 1 : 0;
  p->stored_len = static_cast<Uint32>(got);
  p->pending_len = static_cast<Uint32>(len - got);
}

// Finishes the message an earlier exchange stored; it is never the answer
// awaited now.
Int32 finish_pending(sock_snd_info *sck, thread_info *thr, Uint64 wait, bool dontwait) {
  pending *p = sck->pend;
  if (p->header) {
    size_t got = p->stored_len;
    Int32 r = recv_timeout(sck->socket_fd, reinterpret_cast<Uint8 *>(&p->hdr), OZV_HDR_LEN,
                           OZV_HDR_LEN, wait, dontwait, &got);
    if (r) {
      p->stored_len = static_cast<Uint32>(got);
      p->pending_len = static_cast<Uint32>(OZV_HDR_LEN - got);
      return r;
    }
    const Uint32 len = payload_len(p->hdr);
    p->header = 0;
    p->stored_len = 0;
    p->pending_len = len;
    bool lost = false;
    const Uint32 keep = keep_for_unawaited(thr, p->hdr, len);
    p->data = alloc_payload(keep, len, &lost, "malloc failed");
    p->data_len = lost ? 0 : keep;
    p->data_lost = lost ? 1 : 0;
  }
  if (p->pending_len > 0) {
    const size_t total = size_t{p->stored_len} + p->pending_len;
    size_t got = p->stored_len;
    Int32 r = recv_timeout(sck->socket_fd, p->data, p->data_len, total, wait, dontwait, &got);
    if (r) {
      p->stored_len = static_cast<Uint32>(got);
      p->pending_len = static_cast<Uint32>(total - got);
      return r;
    }
  }
  deliver_unawaited(thr, p->hdr, p->data, p->data_len, p->data_lost != 0, true, sck->req_id);
  clear_pending(p);
  return 0;
}

}  // namespace

void transport_seam_set_second_ms(Uint32 ms) { g_second_ms.store(ms ? ms : 1); }

Uint64 wait_ms(Uint64 seconds) { return seconds * g_second_ms.load(std::memory_order_relaxed); }

Uint32 next_blocking_id(thread_info *t) {
  if (t->b_req_id == 0xFFFFFFFFu || t->b_req_id < kFirstBlockingReqId) {
    t->b_req_id = kFirstBlockingReqId + 1;
    return kFirstBlockingReqId;
  }
  return t->b_req_id++;
}

Uint32 next_nonblocking_id(thread_info *t) {
  if (t->nb_req_id >= kNonBlockingIdLimit) {
    t->nb_req_id = 1;
    return 0;
  }
  return t->nb_req_id++;
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

Int32 recv_timeout(socket_t fd, Uint8 *buf, size_t keep, size_t len, Uint64 wait, bool dontwait,
                   size_t *got) {
  Scratch scratch;
  bool progressed = false;
  while (*got < len) {
    Uint8 *dst;
    size_t want;
    if (*got < keep && buf) {
      dst = buf + *got;
      want = keep - *got;
    } else {
      dst = scratch.bytes;
      want = std::min(len - *got, sizeof scratch.bytes);
      scratch.used = true;
    }
    // Once part of the message is in, the rest may take up to `wait`.
    const int flags = (dontwait || progressed) ? MSG_DONTWAIT : 0;
    ssize_t n = recv(fd, dst, want, flags);
    if (n > 0) {
      *got += static_cast<size_t>(n);
      progressed = true;
      continue;
    }
    if (n == 0) {
      printf(
          "TIMEOUT/ERROR: Application Failed to Recieve the Message:PEER SHUTDOWN: return: "
          "%d, errno :%s\n",
          0, strerror(errno));
      return TESSALINE_SOCKET_RCV_PEER_DOWN;
    }
    if (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && progressed)) {
      if (Int32 r = wait_readable(fd, wait)) return r;
      continue;
    }
    return TESSALINE_SOCKET_RCV_TIMEOUT;  // the socket's own time-out, or a failure
  }
  return 0;
}

Int32 socket_send(sock_snd_info *sck, thread_info *thr) {
  const Uint64 wait = wait_ms(sck->timeout);
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
    if (sent == 0) return fail;
    printf("Error Sending the Message to Daemon : partial send: errno %s\n", strerror(errno));
    return TESSALINE_SOCKET_SND_PARTIAL_FATAL;
  }
  if (sck->req_type == OSTREL_NON_BLOCKING) return 0;
  if (Int32 r = socket_recv(sck, thr)) {
    printf("Error Receiving the Message from Daemon");
    return r;
  }
  return 0;
}

Int32 socket_recv(sock_snd_info *sck, thread_info *thr) {
  sck->resp = nullptr;
  sck->resp_size = 0;
  pending *p = sck->pend;
  const Uint64 wait = wait_ms(sck->timeout);
  Uint64 first_wait_s = sck->timeout;
  if (first_wait_s < kRecvFloorSeconds && sck->req_type == OSTREL_BLOCKING)
    first_wait_s = kRecvFloorSeconds;
  // A poll must not wait: not even a scheduler tick for a tiny time-out.
  const bool dontwait = first_wait_s == 0;
  if (!dontwait) set_rcv_timeout(thr, sck->socket_fd, wait_ms(first_wait_s));

  if (p->pending) {
    if (Int32 r = finish_pending(sck, thr, wait, dontwait)) return r;
  }

  for (;;) {
    ozv_msg_fixed hdr{};
    size_t got = 0;
    Int32 r = recv_timeout(sck->socket_fd, reinterpret_cast<Uint8 *>(&hdr), OZV_HDR_LEN,
                           OZV_HDR_LEN, wait, dontwait, &got);
    if (r) {
      if (got > 0) store_partial_header(p, hdr, got);
      if (r == TESSALINE_SOCKET_RCV_TIMEOUT && sck->req_type == OSTREL_BLOCKING)
        printf("TIMEOUT/ERROR: Application Failed to Recieve the Message:return: %d, errno :%s\n",
               r, strerror(errno));
      return r;
    }

    const Uint32 len = payload_len(hdr);
    const bool awaited = hdr.req_id == sck->req_id;
    const Uint32 keep = awaited ? std::min(len, sck->resp_cap) : keep_for_unawaited(thr, hdr, len);
    bool lost = false;
    Uint8 *data = alloc_payload(keep, len, &lost,
                                "malloc failed : size %d : while recieving data from socket\n");
    const Uint32 kept = lost ? 0 : keep;
    if (len > 0) {
      got = 0;
      r = recv_timeout(sck->socket_fd, data, kept, len, wait, dontwait, &got);
      if (r) {
        store_partial_payload(p, hdr, data, kept, lost, len, got);
        if (r == TESSALINE_SOCKET_RCV_TIMEOUT && sck->req_type == OSTREL_BLOCKING)
          printf(
              "TIMEOUT/ERROR: Application Failed to Recieve the Message-1:return: %d, errno "
              ":%s\n",
              r, strerror(errno));
        return r;
      }
    }
    if (awaited) {
      if (lost) return TESSALINE_MALLOC_FAIL;
      sck->resp = data;
      sck->resp_size = kept;
      sck->resp_hdr = hdr;
      return 0;
    }
    deliver_unawaited(thr, hdr, data, kept, lost, false, sck->req_id);
    free_wiped(data, kept);
  }
}
