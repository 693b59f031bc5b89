// The receive path on a socket pair: polls, time-outs, messages cut by a
// time-out and finished by the next exchange, answers for other requests,
// peers that go away, and payloads larger than what the request can take.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"
#include "test_util.h"

using tt::Bytes;
using Clock = std::chrono::steady_clock;

namespace {

long ms_since(Clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

class Exchange : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
    thr_.socket_fd = fds_[0];
    thr_.rcvtimeo_ms = -1;
    thr_.pend.header = 1;
    thr_.b_req_id = kFirstBlockingReqId;
  }
  void TearDown() override {
    clear_pending(&thr_.pend);
    free_all_req_stats(&thr_);
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
    transport_seam_set_second_ms(1000);
  }

  void peer_write(const Bytes &b) {
    ASSERT_EQ(write(fds_[1], b.data(), b.size()), static_cast<ssize_t>(b.size()));
  }
  // As peer_write, for a writer thread: stops when this side goes away.
  void peer_send(const Bytes &b) {
    for (size_t done = 0; done < b.size();) {
      ssize_t n = send(fds_[1], b.data() + done, b.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // A new socket pair in place of the old one, the connection state cleared.
  void renew() {
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
    thr_.socket_fd = fds_[0];
    thr_.rcvtimeo_ms = -1;
    consume_all();
  }
  void peer_close() {
    close(fds_[1]);
    fds_[1] = -1;
  }

  sock_snd_info exchange(Uint32 awaited, Uint64 seconds, request_type type, Uint32 cap) {
    sock_snd_info s{};
    s.req_id = awaited;
    s.timeout = seconds;
    s.socket_fd = fds_[0];
    s.resp_cap = cap;
    s.req_type = type;
    s.pend = &thr_.pend;
    return s;
  }
  Int32 poll_recv(Uint32 awaited = kNoReqAwaited, Uint32 cap = 0) {
    sock_snd_info s = exchange(awaited, 0, OSTREL_NON_BLOCKING, cap);
    Int32 r = socket_recv(&s, &thr_);
    free(s.resp);
    return r;
  }
  // Forgets what the connection holds, as a new connection would.
  void consume_all() {
    clear_pending(&thr_.pend);
    explicit_bzero(thr_.rx_buf, sizeof thr_.rx_buf);
    thr_.rx_off = 0;
    thr_.rx_len = 0;
    thr_.stream_dead = 0;
  }
  // A non-blocking entry with output buffers of these sizes.
  req_status *entry(Uint32 id, std::vector<Bytes> &bufs) {
    request_buffer rb{};
    for (Bytes &b : bufs) tt::add_output(rb, b);
    return add_req_stat(&thr_, id, rb, nullptr, nullptr);
  }

  int fds_[2] = {-1, -1};
  thread_record thr_{};
};

}  // namespace

TEST_F(Exchange, PollOnAnIdleSocketReturnsAtOnceAndStoresNothing) {
  auto t0 = Clock::now();
  for (int i = 0; i < 100; ++i) EXPECT_EQ(poll_recv(), TESSALINE_SOCKET_RCV_TIMEOUT);
  EXPECT_LT(ms_since(t0), 100);  // no scheduler tick per poll
  EXPECT_EQ(thr_.pend.pending, 0);
}

TEST_F(Exchange, BlockingReceiveReturnsTheAwaitedPayloadAndHeader) {
  Bytes payload = tt::pattern(300, 1);
  peer_write(tt::answer(0x40000005, 0x77, payload, 0, 0xABCDEF, 4));
  sock_snd_info s = exchange(0x40000005, 40, OSTREL_BLOCKING, 1000);
  ASSERT_EQ(socket_recv(&s, &thr_), 0);
  EXPECT_EQ(Bytes(s.resp, s.resp + s.resp_size), payload);
  EXPECT_EQ(s.resp_hdr.status, 0x77u);
  EXPECT_EQ(Uint64{s.resp_hdr.op_ctx}, 0xABCDEFu);  // a copy: the header is packed
  EXPECT_EQ(s.resp_hdr.serveridx, 4);
  free(s.resp);
}

TEST_F(Exchange, FirstBytesWaitAtLeastSixtyUnitsTheRestOfAMessageOnlyT) {
  transport_seam_set_second_ms(10);  // T = 40 -> 400 ms; the floor 60 -> 600 ms
  auto t0 = Clock::now();
  sock_snd_info s = exchange(0x40000001, 40, OSTREL_BLOCKING, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(socket_recv(&s, &thr_), TESSALINE_SOCKET_RCV_TIMEOUT);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(
                "TIMEOUT/ERROR: Application Failed to Recieve the Message:return: 1073741893"),
            std::string::npos);
  long idle = ms_since(t0);
  EXPECT_GE(idle, 590);

  Bytes a = tt::answer(0x40000001, 0, {});
  peer_write(Bytes(a.begin(), a.begin() + 10));
  t0 = Clock::now();
  s = exchange(0x40000001, 40, OSTREL_BLOCKING, 0);
  EXPECT_EQ(socket_recv(&s, &thr_), TESSALINE_SOCKET_RCV_TIMEOUT);
  long rest = ms_since(t0);
  EXPECT_GE(rest, 390);
  EXPECT_LT(rest, 590);
  EXPECT_EQ(thr_.pend.pending, 1);
  EXPECT_EQ(thr_.pend.stored_len, 10u);
}

TEST_F(Exchange, WaitBoundsTheWholeAnswerNotEachByteNorEachOtherAnswer) {
  // T = 40 -> 800 ms; the first bytes 60 -> 1200 ms. The answer starts at
  // 1000 ms: a rest given a T of its own would end at 1800 ms.
  transport_seam_set_second_ms(20);
  std::atomic<bool> stop{false};
  std::thread peer([&] {  // late answers to other requests, one every 50 ms for 3 s
    for (int i = 0; i < 60 && !stop; ++i) {
      peer_write(tt::answer(0x40000100 + i, 0, {1, 2}));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  auto t0 = Clock::now();
  sock_snd_info s = exchange(0x40000001, 40, OSTREL_BLOCKING, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(socket_recv(&s, &thr_), TESSALINE_SOCKET_RCV_TIMEOUT);
  testing::internal::GetCapturedStdout();
  long waited = ms_since(t0);
  stop = true;
  peer.join();
  EXPECT_GE(waited, 590);
  EXPECT_LT(waited, 1500);
}

TEST_F(Exchange, BlockingSendBoundsTheWholeAnswerFromTheSend) {
  // T = 40 -> 800 ms; the first bytes 60 -> 1200 ms. The answer starts at
  // 1000 ms: a rest given a T of its own would end at 1800 ms.
  transport_seam_set_second_ms(20);
  const Bytes request(OZV_HDR_LEN, 0);
  std::thread peer([&] {  // the answer's first bytes come late, the rest never
    Bytes got(request.size());
    ASSERT_EQ(read(fds_[1], got.data(), got.size()), static_cast<ssize_t>(got.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    Bytes a = tt::answer(0x40000001, 0, {1, 2, 3});
    peer_write(Bytes(a.begin(), a.begin() + 10));
  });
  sock_snd_info s = exchange(0x40000001, 40, OSTREL_BLOCKING, 3);
  s.req = request.data();
  s.req_len = request.size();
  testing::internal::CaptureStdout();
  auto t0 = Clock::now();
  EXPECT_EQ(socket_send(&s, &thr_), TESSALINE_SOCKET_RCV_TIMEOUT);
  const long waited = ms_since(t0);
  testing::internal::GetCapturedStdout();
  peer.join();
  EXPECT_GE(waited, 1190);  // the whole first wait, counted from the send
  EXPECT_LT(waited, 1600);  // not T more for the rest of the message
  EXPECT_EQ(thr_.pend.stored_len, 10u);
}

TEST_F(Exchange, HeaderCutByATimeoutIsFinishedByTheNextExchange) {
  std::vector<Bytes> bufs = {Bytes(4, 0), Bytes(4, 0)};
  req_status *e = entry(7, bufs);
  Bytes nb = tt::answer(7, 0x12, tt::pattern(6, 9), 1);
  peer_write(Bytes(nb.begin(), nb.begin() + 20));
  EXPECT_EQ(poll_recv(), TESSALINE_SOCKET_RCV_TIMEOUT);
  EXPECT_EQ(thr_.pend.pending, 1);
  EXPECT_EQ(thr_.pend.header, 1);
  EXPECT_EQ(thr_.pend.stored_len, 20u);
  EXPECT_EQ(thr_.pend.pending_len, 36u);

  peer_write(Bytes(nb.begin() + 20, nb.end()));
  peer_write(tt::answer(0x40000002, 0, {1, 2, 3}));
  sock_snd_info s = exchange(0x40000002, 40, OSTREL_BLOCKING, 3);
  ASSERT_EQ(socket_recv(&s, &thr_), 0);
  EXPECT_EQ(Bytes(s.resp, s.resp + s.resp_size), Bytes({1, 2, 3}));
  free(s.resp);
  EXPECT_EQ(thr_.pend.pending, 0);
  EXPECT_EQ(e->status, 0x12);
  Bytes want = tt::pattern(6, 9);
  EXPECT_EQ(bufs[0], Bytes(want.begin(), want.begin() + 4));
  EXPECT_EQ(Bytes(bufs[1].begin(), bufs[1].begin() + 2), Bytes(want.begin() + 4, want.end()));
  EXPECT_EQ(e->outsize[1], 4u);  // entries keep their sizes
}

TEST_F(Exchange, PayloadOfWhichNothingArrivedIsFinishedByTheNextExchange) {
  std::vector<Bytes> bufs = {Bytes(8, 0)};
  req_status *e = entry(3, bufs);
  Bytes nb = tt::answer(3, 0, tt::pattern(8, 2), 1);
  peer_write(Bytes(nb.begin(), nb.begin() + 56));
  EXPECT_EQ(poll_recv(), TESSALINE_SOCKET_RCV_TIMEOUT);
  EXPECT_EQ(thr_.pend.header, 0);
  EXPECT_EQ(thr_.pend.stored_len, 0u);
  EXPECT_EQ(thr_.pend.pending_len, 8u);
  peer_write(Bytes(nb.begin() + 56, nb.end()));
  EXPECT_EQ(poll_recv(), TESSALINE_SOCKET_RCV_TIMEOUT);  // finished, then nothing queued
  EXPECT_EQ(thr_.pend.pending, 0);
  EXPECT_EQ(e->status, 0);
  EXPECT_EQ(bufs[0], tt::pattern(8, 2));
}

TEST_F(Exchange, StoredHeaderWithoutPayloadCompletesAtOnce) {
  std::vector<Bytes> bufs = {Bytes(8, 0)};
  req_status *e = entry(4, bufs);
  Bytes nb = tt::answer(4, 0x55, {}, 1);
  peer_write(Bytes(nb.begin(), nb.begin() + 30));
  EXPECT_EQ(poll_recv(), TESSALINE_SOCKET_RCV_TIMEOUT);
  peer_write(Bytes(nb.begin() + 30, nb.end()));
  EXPECT_EQ(poll_recv(), TESSALINE_SOCKET_RCV_TIMEOUT);
  EXPECT_EQ(thr_.pend.pending, 0);
  EXPECT_EQ(thr_.pend.data, nullptr);
  EXPECT_EQ(e->status, 0x55);
}

TEST_F(Exchange, StrayAndLateAnswersAreReportedAndDropped) {
  peer_write(tt::answer(0x40000001, 0, tt::pattern(100, 1)));  // late blocking answer
  peer_write(tt::answer(99, 0, tt::pattern(5, 1), 1));         // unknown non-blocking id
  peer_write(tt::answer(0x40000002, 0, {9}));
  sock_snd_info s = exchange(0x40000002, 40, OSTREL_BLOCKING, 1);
  testing::internal::CaptureStdout();
  ASSERT_EQ(socket_recv(&s, &thr_), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Invalid req_id 1073741825 actual 1073741826 in Message Header: Ignoring the "
                     "Message\n"),
            std::string::npos);
  EXPECT_NE(out.find("Invalid req_id 99 in Message Header: Ignoring the Message\n"),
            std::string::npos);
  EXPECT_EQ(Bytes(s.resp, s.resp + s.resp_size), Bytes({9}));
  free(s.resp);
}

TEST_F(Exchange, PeerThatClosesGivesPeerDownWithItsText) {
  peer_close();
  testing::internal::CaptureStdout();
  EXPECT_EQ(poll_recv(), TESSALINE_SOCKET_RCV_PEER_DOWN);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(
                "TIMEOUT/ERROR: Application Failed to Recieve the Message:PEER SHUTDOWN: return: "
                "0, errno :"),
            std::string::npos);

  Bytes msg(96, 0);
  sock_snd_info s = exchange(0x40000001, 40, OSTREL_NON_BLOCKING, 0);
  s.req = msg.data();
  s.req_len = msg.size();
  EXPECT_EQ(socket_send(&s, &thr_), TESSALINE_SOCKET_SND_PEER_DOWN);  // and no SIGPIPE
}

TEST_F(Exchange, PeerThatClosesInTheMiddleOfASendGivesPartialFatal) {
  int small = 4096;
  setsockopt(fds_[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::thread peer([&] {
    Bytes sink(1000);
    ssize_t n = read(fds_[1], sink.data(), sink.size());
    (void)n;
    peer_close();
  });
  Bytes msg(8 << 20, 0x5A);
  sock_snd_info s = exchange(0x40000001, 40, OSTREL_NON_BLOCKING, 0);
  s.req = msg.data();
  s.req_len = msg.size();
  testing::internal::CaptureStdout();
  EXPECT_EQ(socket_send(&s, &thr_), TESSALINE_SOCKET_SND_PARTIAL_FATAL);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(
                "Error Sending the Message to Daemon : partial send: errno "),
            std::string::npos);
  peer.join();
}

TEST_F(Exchange, PeerThatStopsReadingMakesTheSendTimeOut) {
  transport_seam_set_second_ms(10);  // T = 5 -> 50 ms
  int small = 4096;
  setsockopt(fds_[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  Bytes msg(1 << 20, 0x5A);
  sock_snd_info s = exchange(0x40000001, 5, OSTREL_NON_BLOCKING, 0);
  s.req = msg.data();
  s.req_len = msg.size();
  auto t0 = Clock::now();
  testing::internal::CaptureStdout();
  EXPECT_EQ(socket_send(&s, &thr_), TESSALINE_SOCKET_SND_PARTIAL_FATAL);  // part went out
  testing::internal::GetCapturedStdout();
  EXPECT_LT(ms_since(t0), 5000);

  // The buffers are full now: not a byte goes out.
  t0 = Clock::now();
  EXPECT_EQ(socket_send(&s, &thr_), TESSALINE_SOCKET_SND_TIMEOUT);
  long waited = ms_since(t0);
  EXPECT_GE(waited, 45);
  EXPECT_LT(waited, 5000);
}

TEST_F(Exchange, HugeAnnouncedPayloadKeepsOnlyWhatTheRequestCanTake) {
  // The awaited answer (a poll's: marked non-blocking) announces 32 KiB more
  // than the 16 bytes the request expects (4 GiB - 1 is refused: see the
  // margin test).
  peer_write(tt::header_announcing(3, 16 + 0x8000, 1));
  peer_write(tt::pattern(5000, 1));
  EXPECT_EQ(poll_recv(3, 16), TESSALINE_SOCKET_RCV_TIMEOUT);
  EXPECT_EQ(thr_.pend.pending, 1);
  EXPECT_EQ(thr_.pend.data_len, 16u);
  EXPECT_EQ(thr_.pend.stored_len, 5000u);
  EXPECT_EQ(thr_.pend.pending_len, 16u + 0x8000 - 5000);

  // A stray message announcing a large payload is read through without keeping it.
  clear_pending(&thr_.pend);
  Bytes other(56 + 300000, 0);
  Bytes h = tt::header_announcing(0x40000004, 300000);
  std::copy(h.begin(), h.end(), other.begin());
  std::thread peer([&] {
    peer_write(other);
    peer_write(tt::answer(0x40000005, 0, {7, 7}));
  });
  sock_snd_info s = exchange(0x40000005, 40, OSTREL_BLOCKING, 2);
  testing::internal::CaptureStdout();
  EXPECT_EQ(socket_recv(&s, &thr_), 0);
  testing::internal::GetCapturedStdout();
  peer.join();
  EXPECT_EQ(Bytes(s.resp, s.resp + s.resp_size), Bytes({7, 7}));
  free(s.resp);
}

TEST_F(Exchange, AnnouncementMayExceedWhatItsTargetTakesByTheMarginNoMore) {
  // An answer may run 64 KiB past what the awaited request or its pending
  // entry can take; an answer nobody waits for may announce 16 MiB.
  constexpr Uint32 kMargin = 0x10000, kCeiling = 16u << 20;
  // Nothing here waits in vain, but 16 MiB through the socket may take a
  // while on a loaded machine: the rest of a message may take 4 s.
  transport_seam_set_second_ms(100);
  std::vector<Bytes> bufs = {Bytes(32, 0)};
  req_status *e = entry(5, bufs);
  const struct {
    const char *what;
    Uint32 id;  // 0x40000010 is awaited (room 16), 5 is the pending entry (room 32)
    uint8_t req_type;
    Uint32 announced;
    Int32 want;
  } cases[] = {
      {"awaited, at the margin", 0x40000010, 0, 16 + kMargin, 0},
      {"awaited, past it", 0x40000010, 0, 16 + kMargin + 1, TESSALINE_INVALID_MSG},
      {"pending entry, at the margin", 5, 1, 32 + kMargin, 0},
      {"pending entry, past it", 5, 1, 32 + kMargin + 1, TESSALINE_INVALID_MSG},
      {"nobody's, at the ceiling", 0x40000003, 0, kCeiling, 0},
      {"nobody's, past it", 0x40000003, 0, kCeiling + 1, TESSALINE_INVALID_MSG},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    e->status = static_cast<Int32>(ERR_REQUEST_PENDING);
    Bytes msg = tt::header_announcing(c.id, c.announced, c.req_type);
    if (c.want == 0) {
      msg.resize(56 + size_t{c.announced}, 0xA5);
      if (c.id != 0x40000010) {
        Bytes awaited = tt::answer(0x40000010, 0, {});
        msg.insert(msg.end(), awaited.begin(), awaited.end());
      }
    }
    std::thread peer([&] { peer_send(msg); });
    sock_snd_info s = exchange(0x40000010, 40, OSTREL_BLOCKING, 16);
    testing::internal::CaptureStdout();
    EXPECT_EQ(socket_recv(&s, &thr_), c.want);
    testing::internal::GetCapturedStdout();
    shutdown(fds_[0], SHUT_RDWR);  // a peer still writing stops
    peer.join();
    free(s.resp);
    EXPECT_EQ(thr_.pend.pending, 0);
    EXPECT_EQ(thr_.rx_len, 0u);
    if (c.id == 5) {
      EXPECT_EQ(e->status == 0, c.want == 0);
    }
    renew();
  }
}

TEST_F(Exchange, BytesBehindAnAnswerThatCannotBeginAMessageRefuseIt) {
  transport_seam_set_second_ms(10);
  const struct {
    const char *what;
    Bytes behind;
    Int32 want;
    size_t kept;  // bytes of a message begun, kept for the next exchange
  } cases[] = {
      {"a whole late answer", tt::answer(0x40000001, 0, tt::pattern(9, 1)), 0, 0},
      {"a header's first 51 bytes, whatever they are", Bytes(51, 0xEE), 0, 51},
      {"a header marked neither blocking nor non-blocking", tt::header_announcing(7, 0, 2),
       TESSALINE_INVALID_MSG, 0},
      {"a header's first 52 bytes, so marked", Bytes(52, 0x02), TESSALINE_INVALID_MSG, 0},
      {"a header announcing what no request can take", tt::header_announcing(7, 0xFFFFFFFF, 1),
       TESSALINE_INVALID_MSG, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    for (size_t len : {size_t{8}, size_t{0}}) {  // spread from the buffer, and an empty payload
      const Uint32 id = thr_.b_req_id++;
      Bytes a = tt::answer(id, 0, tt::pattern(len, 3));
      a.insert(a.end(), c.behind.begin(), c.behind.end());
      peer_write(a);
      Bytes out(8, 0);
      const Uint64 outptr[1] = {tt::addr(out.data())};
      Uint32 outsize[1] = {8};
      const PayloadSink sink{outptr, outsize, 1, true};
      sock_snd_info s = exchange(id, 40, OSTREL_BLOCKING, 8);
      s.sink = &sink;
      testing::internal::CaptureStdout();
      EXPECT_EQ(socket_recv(&s, &thr_), c.want);
      const std::string printed = testing::internal::GetCapturedStdout();
      free(s.resp);
      if (c.want) {
        EXPECT_NE(printed.find("dropping the connection"), std::string::npos);
        EXPECT_EQ(out, Bytes(8, 0));  // a refused answer reaches no output
      } else {
        EXPECT_EQ(out, len ? tt::pattern(8, 3) : Bytes(8, 0));
        // Judged at once (a whole message) or kept as a message begun;
        // nothing is left in the receive buffer.
        EXPECT_EQ(thr_.rx_len, 0u);
        EXPECT_EQ(thr_.pend.pending ? thr_.pend.stored_len : 0u, c.kept);
      }
      consume_all();
    }
  }
}

TEST_F(Exchange, AnswerLongerThanExpectedIsCutToTheExpectation) {
  std::vector<Bytes> bufs{Bytes(1, 0)};
  req_status *e = entry(6, bufs);
  peer_write(tt::answer(0x40000006, 0, tt::pattern(100, 4)));
  peer_write(tt::answer(6, 0, {1}, 1));  // behind it, a pending request's answer
  sock_snd_info s = exchange(0x40000006, 40, OSTREL_BLOCKING, 10);
  ASSERT_EQ(socket_recv(&s, &thr_), 0);
  EXPECT_EQ(s.resp_size, 10u);
  free(s.resp);
  // The stream is still in step: the bytes behind the cut answer were read
  // as the next message.
  EXPECT_EQ(poll_recv(), TESSALINE_SOCKET_RCV_TIMEOUT);
  EXPECT_EQ(e->status, 0);
  EXPECT_EQ(bufs[0], Bytes({1}));
  del_req_stat(e, &thr_);
  peer_write(tt::answer(0x40000007, 0, {1}));
  s = exchange(0x40000007, 40, OSTREL_BLOCKING, 1);
  ASSERT_EQ(socket_recv(&s, &thr_), 0);
  EXPECT_EQ(s.resp_size, 1u);
  free(s.resp);
}

TEST_F(Exchange, OneReceiveTakesWhatIsQueuedAndFillsTheEntryBehindTheAnswer) {
  std::vector<Bytes> bufs{Bytes(30, 0)};
  req_status *e = entry(9, bufs);
  Bytes both = tt::answer(0x40000008, 0, tt::pattern(40, 1));
  Bytes next = tt::answer(9, 0, tt::pattern(30, 2), 1);
  both.insert(both.end(), next.begin(), next.end());
  peer_write(both);
  sock_snd_info s = exchange(0x40000008, 40, OSTREL_BLOCKING, 40);
  ASSERT_EQ(socket_recv(&s, &thr_), 0);
  EXPECT_EQ(Bytes(s.resp, s.resp + s.resp_size), tt::pattern(40, 1));
  free(s.resp);
  int queued = -1;
  ASSERT_EQ(ioctl(fds_[0], FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 0);  // the second answer came with the first receive
  EXPECT_EQ(e->status, 0);
  EXPECT_EQ(bufs[0], tt::pattern(30, 2));
  EXPECT_EQ(thr_.rx_len, 0u);
  EXPECT_EQ(Bytes(thr_.rx_buf, thr_.rx_buf + sizeof thr_.rx_buf), Bytes(sizeof thr_.rx_buf, 0));
  del_req_stat(e, &thr_);
}

TEST_F(Exchange, PayloadThatFitsTheBufferIsSpreadFromItAndWiped) {
  struct Case {
    const char *what;
    size_t len;
    size_t first;  // bytes of the answer written at once; the rest a little later
    bool spread;
  };
  const Case cases[] = {
      {"whole at once", 40, 56 + 40, true},
      {"in two pieces", 5000, 56 + 100, true},
      {"larger than the buffer", 9000, 56 + 9000, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Uint32 id = thr_.b_req_id++;
    Bytes a = tt::answer(id, 0, tt::pattern(c.len, 9));
    peer_write(Bytes(a.begin(), a.begin() + static_cast<long>(c.first)));
    std::thread rest([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      peer_write(Bytes(a.begin() + static_cast<long>(c.first), a.end()));
    });
    Bytes o1(c.len / 2, 0), o2(c.len, 0);
    const Uint64 outptr[2] = {tt::addr(o1.data()), tt::addr(o2.data())};
    Uint32 outsize[2] = {static_cast<Uint32>(o1.size()), static_cast<Uint32>(o2.size())};
    const PayloadSink sink{outptr, outsize, 2, true};
    sock_snd_info s = exchange(id, 40, OSTREL_BLOCKING, static_cast<Uint32>(c.len));
    s.sink = &sink;
    ASSERT_EQ(socket_recv(&s, &thr_), 0);
    rest.join();
    EXPECT_EQ(s.spread, c.spread);
    EXPECT_EQ(s.resp_size, c.len);
    if (c.spread) {
      EXPECT_EQ(s.resp, nullptr);
      o1.insert(o1.end(), o2.begin(), o2.begin() + outsize[1]);
      EXPECT_EQ(o1, tt::pattern(c.len, 9));
      EXPECT_EQ(outsize[1], c.len - c.len / 2);  // cut to what each received
      // The payload's bytes in the buffer are wiped.
      EXPECT_EQ(thr_.rx_len, 0u);
      EXPECT_EQ(Bytes(thr_.rx_buf, thr_.rx_buf + sizeof thr_.rx_buf), Bytes(sizeof thr_.rx_buf, 0));
    } else {
      EXPECT_EQ(Bytes(s.resp, s.resp + s.resp_size), tt::pattern(c.len, 9));
      free(s.resp);
    }
    peer_write(tt::answer(id + 1, 0, {1}));  // the next request's answer
    s = exchange(id + 1, 40, OSTREL_BLOCKING, 1);
    ASSERT_EQ(socket_recv(&s, &thr_), 0);
    EXPECT_EQ(Bytes(s.resp, s.resp + s.resp_size), Bytes({1}));
    free(s.resp);
  }
}

TEST_F(Exchange, ReceiveTimeoutIsSetOnlyWhenItChanges) {
  peer_write(tt::answer(1, 0, {}));
  sock_snd_info s = exchange(1, 40, OSTREL_BLOCKING, 0);
  ASSERT_EQ(socket_recv(&s, &thr_), 0);
  EXPECT_EQ(thr_.rcvtimeo_ms, 60000);
  peer_write(tt::answer(2, 0, {}));
  timeval tv{};
  socklen_t len = sizeof tv;
  ASSERT_EQ(getsockopt(fds_[0], SOL_SOCKET, SO_RCVTIMEO, &tv, &len), 0);
  EXPECT_EQ(tv.tv_sec, 60);
  s = exchange(2, 100, OSTREL_BLOCKING, 0);
  ASSERT_EQ(socket_recv(&s, &thr_), 0);
  EXPECT_EQ(thr_.rcvtimeo_ms, 100000);
}

TEST(TimeoutHandler, WritesItsLineFromASignal) {
  struct sigaction sa {
  }, old{};
  sa.sa_handler = timeout;
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
  errno = EDOM;
  testing::internal::CaptureStdout();
  raise(SIGUSR1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "timeout: signal received\n");
  EXPECT_EQ(errno, EDOM);  // the handler leaves errno as it was
  sigaction(SIGUSR1, &old, nullptr);
}
