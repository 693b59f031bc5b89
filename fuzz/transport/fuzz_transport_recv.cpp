// Arbitrary daemon byte streams through the receive path: the awaited
// answer, non-blocking entries, single and list polls, drains, messages cut
// between two exchanges, and a peer that goes away.
//
// Input: byte 0 picks the entry point and the entries, byte 1 where the
// stream is cut between the two exchanges, byte 2 the awaited answer's room;
// the rest is what the daemon sends.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "daemon_intf/transport_internal.h"
#include "qel2_errors.h"

namespace {

constexpr size_t kMaxStream = 64 * 1024;

struct Peer {
  int fds[2] = {-1, -1};
  Peer() {
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    int big = 1 << 20;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);  // never let the fuzzer block on a full pipe
  }
  ~Peer() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
  void feed(const uint8_t *p, size_t n) {
    while (n > 0) {
      ssize_t w = write(fds[1], p, n);
      if (w <= 0) return;
      p += w;
      n -= static_cast<size_t>(w);
    }
  }
  void hang_up() {
    close(fds[1]);
    fds[1] = -1;
  }
};

struct Thread {
  thread_record t{};
  std::vector<std::vector<uint8_t>> bufs;
  explicit Thread(int fd) {
    t.socket_fd = fd;
    t.rcvtimeo_ms = -1;
    t.pend.header = 1;
    // Ids already given: a message kept across exchanges must carry one.
    t.b_req_id = kFirstBlockingReqId + 8;
    t.nb_req_id = 101;
    bufs.reserve(8);
  }
  ~Thread() {
    clear_pending(&t.pend);
    free_all_req_stats(&t);
  }
  // Non-blocking entry `id` with outputs of the given sizes.
  void add_entry(Uint32 id, std::initializer_list<uint32_t> sizes) {
    request_buffer rb{};
    for (uint32_t n : sizes) {
      bufs.emplace_back(n);
      rb.outptr[rb.outcnt] = reinterpret_cast<uintptr_t>(bufs.back().data());
      rb.outsize[rb.outcnt] = n;
      rb.outcnt++;
    }
    add_req_stat(&t, id, rb, nullptr, nullptr);
  }
};

void exchange(Thread &th, uint8_t mode, Uint32 cap) {
  switch (mode % 4) {
    case 0: {  // a poll-timed wait for a blocking answer, spread from the buffer when whole
      std::vector<uint8_t> out(cap);
      const Uint64 outptr[2] = {reinterpret_cast<uintptr_t>(out.data()),
                                reinterpret_cast<uintptr_t>(out.data() + cap / 2)};
      Uint32 outsize[2] = {cap / 2, cap - cap / 2};
      const PayloadSink sink{outptr, outsize, 2, true};
      sock_snd_info s{};
      s.req_id = kFirstBlockingReqId;
      s.socket_fd = th.t.socket_fd;
      s.resp_cap = cap;
      s.req_type = OSTREL_NON_BLOCKING;
      s.pend = &th.t.pend;
      if (mode & 4) s.sink = &sink;
      if (socket_recv(&s, &th.t) == 0 && s.resp_size > cap) abort();
      if (outsize[0] + outsize[1] > cap) abort();
      free(s.resp);
      break;
    }
    case 1: {
      request_status rs{0, 0, 0};
      poll_one(&th.t, &rs);
      break;
    }
    case 2: {
      request_status list[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
      request_status_list rl{3, 0, reinterpret_cast<uintptr_t>(list)};
      poll_list(&th.t, &rl);
      break;
    }
    default: {  // drain
      sock_snd_info s{};
      s.req_id = kNoReqAwaited;
      s.socket_fd = th.t.socket_fd;
      s.req_type = OSTREL_NON_BLOCKING;
      s.pend = &th.t.pend;
      socket_recv(&s, &th.t);
      free(s.resp);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The receive path reports every dropped message on standard output.
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3 || size - 3 > kMaxStream) return 0;
  const uint8_t ctl = data[0];
  const size_t stream_len = size - 3;
  const size_t cut = stream_len * data[1] / 255;
  const Uint32 cap = data[2];
  const uint8_t *stream = data + 3;

  Peer peer;
  if (peer.fds[0] < 0) return 0;
  Thread th(peer.fds[0]);
  if (ctl & 0x10) th.add_entry(0, {8, 0, 16});
  if (ctl & 0x20) th.add_entry(1, {1});
  if (ctl & 0x40) th.add_entry(2, {0});
  if (ctl & 0x80) th.add_entry(100, {32});  // same list as entry 0

  peer.feed(stream, cut);
  exchange(th, ctl, cap);
  peer.feed(stream + cut, stream_len - cut);
  exchange(th, ctl >> 2, cap);
  exchange(th, 3, cap);
  peer.hang_up();
  exchange(th, ctl >> 1, cap);
  return 0;
}
