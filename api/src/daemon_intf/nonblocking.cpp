// Status entries of non-blocking requests, answers that arrive while the
// thread waits for something else, and the polls that collect results.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "daemon_intf/pending_work.h"
#include "daemon_intf/transport_internal.h"
#include "qel2_errors.h"

namespace {

// Every status entry is allocated with the outputs it owns behind it; the
// transport and callbacks see only the req_status at its head.
struct Entry {
  req_status e;
  PendingWork *work;
  Uint32 received;
  Uint64 made;  // its number among the connection's entries
};
static_assert(offsetof(Entry, e) == 0, "the status entry heads its box");

Entry *box_of(req_status *e) { return reinterpret_cast<Entry *>(e); }

// Finishes and frees what the entry owns, once.
void finish_work(req_status *e, bool answered) {
  Entry *b = box_of(e);
  PendingWork *w = b->work;
  b->work = nullptr;
  if (!w) return;
  w->finish(answered, e->status, b->received);
  delete w;
}

void fill_entry(req_status *e, const Uint8 *data, Uint32 len, Int32 status) {
  spread_payload(data, len, e->outptr, e->outsize, e->outcnt, false);
  Entry *b = box_of(e);
  b->received = static_cast<Uint32>(std::min<Uint64>(len, req_stat_capacity(e)));
  // Judged once the segments hold what the poll will hand out.
  e->status = b->work ? b->work->judge(status, b->received) : status;
}

req_hash &list_of(thread_info *thr, Uint32 req_id) {
  return thr->reqs_table[req_id % REQS_TABLE_SIZE];
}

// Collecting an answered entry: its outputs are finished first, so the
// callback sees them as the caller will.
void run_callback(req_status *e) {
  finish_work(e, true);
  if (e->callback_fn) e->callback_fn(e);
}

// Receives only what is already queued on the thread's socket.
sock_snd_info poll_exchange(thread_info *thr, Uint32 awaited, Uint32 cap) {
  sock_snd_info sck{};
  sck.req_id = awaited;
  sck.timeout = 0;
  sck.socket_fd = thr->socket_fd;
  sck.resp_cap = cap;
  sck.req_type = OSTREL_NON_BLOCKING;
  sck.pend = &thr->pend;
  return sck;
}

}  // namespace

req_status *find_req_stat(thread_info *thr, Uint32 req_id) {
  for (req_status *e = list_of(thr, req_id).next; e; e = e->next)
    if (e->req_id == req_id) return e;
  return nullptr;
}

req_status *entry_answered_by(thread_record *thr, const ozv_msg_fixed &hdr, Uint64 made_before) {
  if (hdr.req_type != OSTREL_NON_BLOCKING) return nullptr;
  req_status *e = find_req_stat(thr, hdr.req_id);
  return e && box_of(e)->made < made_before ? e : nullptr;
}

req_status *add_req_stat(thread_record *thr, Uint32 req_id, const request_buffer &rb,
                         callback_fn cb, void *args, PendingWork *work) {
  auto *box = static_cast<Entry *>(calloc(1, sizeof(Entry)));
  if (!box) return nullptr;
  box->work = work;
  box->made = thr->entries_made++;
  req_status *e = &box->e;
  e->req_id = req_id;
  e->status = static_cast<Int32>(ERR_REQUEST_PENDING);
  e->outcnt = rb.outcnt <= MAX_SEGMENTS ? rb.outcnt : MAX_SEGMENTS;
  memcpy(e->outsize, rb.outsize, sizeof(Uint32) * e->outcnt);
  memcpy(e->outptr, rb.outptr, sizeof(Uint64) * e->outcnt);
  e->args = args;
  e->callback_fn = cb;
  req_status **tail = &list_of(thr, req_id).next;
  req_status *prev = nullptr;
  while (*tail) {
    prev = *tail;
    tail = &(*tail)->next;
  }
  e->prev = prev;
  *tail = e;
  return e;
}

void del_req_stat(req_status *req_stat, thread_info *thr_info) {
  if (!req_stat) return;
  req_hash &head = list_of(thr_info, req_stat->req_id);
  bool linked = false;
  for (req_status *e = head.next; e; e = e->next) {
    if (e == req_stat) {
      linked = true;
      break;
    }
  }
  if (linked) {
    if (req_stat->prev)
      req_stat->prev->next = req_stat->next;
    else
      head.next = req_stat->next;
    if (req_stat->next) req_stat->next->prev = req_stat->prev;
  }
  finish_work(req_stat, false);
  free(box_of(req_stat));
}

namespace {

// Unlinks and frees, without callbacks, the entries `drop` picks.
template <typename Pick>
void free_req_stats_if(thread_info *thr, Pick drop) {
  for (req_hash &head : thr->reqs_table) {
    req_status **link = &head.next;
    while (req_status *e = *link) {
      if (!drop(e)) {
        link = &e->next;
        continue;
      }
      *link = e->next;
      if (e->next) e->next->prev = e->prev;
      finish_work(e, false);
      free(box_of(e));
    }
  }
}

}  // namespace

void free_all_req_stats(thread_info *thr) {
  free_req_stats_if(thr, [](const req_status *) { return true; });
}

void free_waiting_req_stats(thread_info *thr) {
  free_req_stats_if(thr, [](const req_status *e) {
    return e->status == static_cast<Int32>(ERR_REQUEST_PENDING);
  });
}

Uint64 req_stat_capacity(const req_status *e) { return sum_sizes(e->outsize, e->outcnt); }

void deliver_unawaited(thread_record *thr, const ozv_msg_fixed &hdr, const Uint8 *data,
                       Uint32 data_len, bool data_lost, bool kept, Uint32 awaited,
                       Uint64 made_before) {
  req_status *e = entry_answered_by(thr, hdr, made_before);
  if (!e) {
    if (kept)
      printf("Invalid req_id in Message Header: Ignoring the Message");
    else if (hdr.req_type != OSTREL_NON_BLOCKING)
      printf("Invalid req_id %d actual %d in Message Header: Ignoring the Message\n",
             static_cast<int>(hdr.req_id), static_cast<int>(awaited));
    else
      printf("Invalid req_id %d in Message Header: Ignoring the Message\n",
             static_cast<int>(hdr.req_id));
    return;
  }
  if (data_lost) {  // the payload could not be kept: report that, not an empty result
    e->status = static_cast<Int32>(TESSALINE_MALLOC_FAIL);
    return;
  }
  fill_entry(e, data, data_len, static_cast<Int32>(hdr.status));
}

Int32 poll_one(thread_record *thr, request_status *rs) {
  req_status *e = find_req_stat(thr, rs->request_id);
  if (!e) {
    printf("Invalid Request ID : %d\n", static_cast<int>(rs->request_id));
    return TESSALINE_INVALID_REQID;
  }
  if (e->status == static_cast<Int32>(ERR_REQUEST_PENDING)) {
    sock_snd_info sck =
        poll_exchange(thr, rs->request_id,
                      static_cast<Uint32>(std::min<Uint64>(req_stat_capacity(e), 0xFFFFFFFFu)));
    Int32 r = socket_recv(&sck, thr);
    if (r == 0) {
      const bool had_payload = payload_len(sck.resp_hdr) > 0;
      fill_entry(e, sck.resp, sck.resp_size, static_cast<Int32>(sck.resp_hdr.status));
      free_wiped(sck.resp, sck.resp_size);
      rs->status = static_cast<Uint32>(e->status);
      run_callback(e);
      del_req_stat(e, thr);
      return had_payload ? 0 : static_cast<Int32>(rs->status);
    }
    // Unless the receive finished the answer an earlier exchange began (kept
    // bytes are never the awaited answer, so it went to the entry).
    if (e->status == static_cast<Int32>(ERR_REQUEST_PENDING)) {
      rs->status = ERR_REQUEST_PENDING;
      return r == TESSALINE_SOCKET_RCV_TIMEOUT ? 0 : r;
    }
  }
  rs->status = static_cast<Uint32>(e->status);
  run_callback(e);
  del_req_stat(e, thr);
  return 0;
}

Int32 poll_list(thread_record *thr, request_status_list *rl) {
  // Drain: every queued answer fills its entry; running dry ends it.
  sock_snd_info sck = poll_exchange(thr, kNoReqAwaited, 0);
  Int32 r = socket_recv(&sck, thr);
  free_wiped(sck.resp, sck.resp_size);
  if (r == TESSALINE_SOCKET_RCV_TIMEOUT) r = 0;
  if (rl->cnt == 0) return r;

  auto *list = reinterpret_cast<request_status *>(static_cast<uintptr_t>(rl->req_stat_buf));
  for (Uint32 i = 0; i < rl->cnt; ++i) {
    request_status &item = list[i];
    req_status *e = find_req_stat(thr, item.request_id);
    if (!e) {
      printf("Invalid Request ID : %d\n", static_cast<int>(item.request_id));
      continue;
    }
    item.status = static_cast<Uint32>(e->status);
    if (e->status == static_cast<Int32>(ERR_REQUEST_PENDING)) continue;
    if (e->status == 0) rl->res_cnt++;
    run_callback(e);
    del_req_stat(e, thr);
  }
  return r;
}
