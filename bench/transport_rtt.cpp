// Round trip of an empty blocking request through the library, against the
// floor: the same bytes over a raw socket to the same daemon. Measured twice:
// against a minimal answering daemon, where the library's own cost shows,
// and against the stand-in. Also the latency of polling a non-blocking
// request whose answer has not come.
//
//   transport_rtt [seconds per measurement, default 0.3] [thread counts ..., default 1 8 64 256]
//   transport_rtt --trips N
//
// The second form makes N library round trips on one thread against the
// minimal daemon and nothing else: for instruction counts per request, e.g.
//   valgrind --tool=callgrind --toggle-collect=orx_tessaline_cli_send_daemon
//
// Each figure is the median of 5 alternating runs of the raw floor and the
// library, so that load from elsewhere on the machine hits both alike.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <hsmsim/daemon.h>

#include "minimal_daemon.h"

#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"
#include "qel2_transport.h"

namespace {

using Clock = std::chrono::steady_clock;

// Request ids of the raw floor; the daemons answer any id.
constexpr uint32_t kFirstRawId = 0x40000000u;

request_buffer empty_request() {
  request_buffer rb{};
  rb.command_type = hsmsim::kEchoCommandType;
  rb.opcode = 1;
  rb.timeout = 10;
  return rb;
}

// The message the library sends for empty_request(), request id aside,
// laid out here from the public message structures: the header and the
// request descriptor, no segments.
std::vector<uint8_t> empty_message() {
  const request_buffer rb = empty_request();
  ozv_msg_fixed h{};
  h.operation = HSM_QEL1_OPERATION;
  h.in_len = sizeof(hsm_request_buffer);
  h.opcode = rb.opcode;
  h.msg_type = OZV_MSG_TYPE_CRYPTO;  // any command type other than 0 and 9
  hsm_request_buffer d{};
  d.command_type = rb.command_type;
  d.timeout = rb.timeout;
  std::vector<uint8_t> out(OZV_REQ_FIXED_LEN);
  memcpy(out.data(), &h, sizeof h);
  memcpy(out.data() + sizeof h, &d, sizeof d);
  return out;
}

int raw_connect(uint32_t daemon_id) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr = bench::MinimalDaemon::address(daemon_id);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) abort();
  return fd;
}

bool raw_round_trip(int fd, std::vector<uint8_t> &msg, uint32_t id) {
  memcpy(msg.data() + offsetof(ozv_msg_fixed, req_id), &id, sizeof id);
  if (send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(msg.size()))
    return false;
  uint8_t hdr[OZV_HDR_LEN];
  size_t got = 0;
  while (got < sizeof hdr) {
    ssize_t n = recv(fd, hdr + got, sizeof hdr - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

struct Result {
  double us_per_rtt;  // mean round trip seen by one thread
  double per_sec;     // all threads together
  double cpu_us;      // CPU time of the calling threads per round trip
};

// CPU time (user and system) the calling thread has used, in microseconds;
// less disturbed by a loaded machine than the wall clock.
double thread_cpu_us() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

// Runs `threads` threads doing round trips for about `seconds`.
template <typename Setup, typename Trip, typename Teardown>
Result run(int threads, double seconds, Setup setup, Trip trip, Teardown teardown) {
  std::atomic<bool> stop{false};
  std::atomic<long> total{0};
  std::atomic<long> cpu_ns{0};
  std::barrier ready(threads + 1);
  std::vector<std::thread> ts;
  for (int t = 0; t < threads; ++t)
    ts.emplace_back([&] {
      auto state = setup();
      ready.arrive_and_wait();  // connected and warm
      ready.arrive_and_wait();  // go
      const double cpu0 = thread_cpu_us();
      long n = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        if (!trip(state, n)) {
          fprintf(stderr, "round trip failed\n");
          abort();
        }
        ++n;
      }
      total += n;
      cpu_ns += static_cast<long>((thread_cpu_us() - cpu0) * 1000);
      ready.arrive_and_wait();
      teardown(state);
    });
  ready.arrive_and_wait();
  auto t0 = Clock::now();
  ready.arrive_and_wait();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  ready.arrive_and_wait();
  double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  for (auto &t : ts) t.join();
  double n = static_cast<double>(total.load());
  return Result{elapsed * threads / n * 1e6, n / elapsed, cpu_ns.load() / 1000.0 / n};
}

// Like the raw floor, which sends a message it built once, each thread
// builds its request once; the library writes only its outputs (status, id,
// context) into it.
Result library_run(int threads, double seconds) {
  struct State {
    request_buffer rb;
  };
  return run(
      threads, seconds,
      [] {
        State s{empty_request()};
        if (orx_tessaline_cli_send_daemon(&s.rb, HSM_QEL1_OPERATION, 0, nullptr, nullptr) != 0)
          abort();
        return s;
      },
      [](State &s, long) {
        return orx_tessaline_cli_send_daemon(&s.rb, HSM_QEL1_OPERATION, 0, nullptr, nullptr) == 0 &&
               s.rb.status == 0;
      },
      [](State &) { orx_tessaline_cli_unregister_thread(); });
}

Result raw_run(int threads, double seconds, uint32_t daemon_id) {
  struct State {
    int fd;
    std::vector<uint8_t> msg;
  };
  return run(
      threads, seconds,
      [daemon_id] {
        State s{raw_connect(daemon_id), empty_message()};
        if (!raw_round_trip(s.fd, s.msg, kFirstRawId)) abort();
        return s;
      },
      [](State &s, long n) {
        return raw_round_trip(s.fd, s.msg, kFirstRawId + 1 + static_cast<uint32_t>(n));
      },
      [](State &s) { close(s.fd); });
}

double idle_poll_us(hsmsim::Daemon &d) {
  d.set_nonblocking_delay(std::chrono::seconds(60));
  request_buffer rb = empty_request();
  if (orx_tessaline_cli_send_daemon(&rb, HSM_QEL1_OPERATION, 1, nullptr, nullptr) != 0) abort();
  const int n = 200000;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i)
    if (Qel2CheckForCompletion(rb.request_id) != ERR_REQUEST_PENDING) abort();
  double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / n;
  d.set_nonblocking_delay(std::chrono::milliseconds(0));
  return us;
}

// Starts the library's connection table against daemon `id`.
bool start_against(uint32_t id) {
  transport_seam_stop();
  setenv("tessaline_daemon_id", std::to_string(id).c_str(), 1);
  unsetenv("tessaline_daemon_socket_type");
  transport_seam_set_config_path("/nonexistent/qel2-bench.cfg");
  return transport_seam_start() == 0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void compare(const char *daemon, uint32_t id, const std::vector<int> &counts, double seconds) {
  if (!start_against(id)) {
    fprintf(stderr, "cannot start the transport against the %s\n", daemon);
    exit(1);
  }
  printf("blocking round trip of an empty request (96 bytes out, 56 back), UNIX socket, %s\n",
         daemon);
  printf("%8s %12s %12s %12s %12s %12s %12s %12s\n", "threads", "raw us/rtt", "lib us/rtt",
         "raw rtt/s", "lib rtt/s", "lib/raw", "raw cpu us", "lib cpu us");
  for (int threads : counts) {
    std::vector<double> raw_us, lib_us, raw_s, lib_s, ratio, raw_cpu, lib_cpu;
    for (int rep = 0; rep < 5; ++rep) {
      Result r = raw_run(threads, seconds, id);
      Result l = library_run(threads, seconds);
      raw_us.push_back(r.us_per_rtt);
      lib_us.push_back(l.us_per_rtt);
      raw_s.push_back(r.per_sec);
      lib_s.push_back(l.per_sec);
      ratio.push_back(l.per_sec / r.per_sec);
      raw_cpu.push_back(r.cpu_us);
      lib_cpu.push_back(l.cpu_us);
    }
    printf("%8d %12.2f %12.2f %12.0f %12.0f %12.3f %12.2f %12.2f\n", threads, median(raw_us),
           median(lib_us), median(raw_s), median(lib_s), median(ratio), median(raw_cpu),
           median(lib_cpu));
    fflush(stdout);
  }
}

}  // namespace

// N round trips after a first one that connects; 0 when all went well.
int trips_only(long n) {
  bench::MinimalDaemon minimal(1900000000u + static_cast<uint32_t>(getpid() % 100000000));
  if (!start_against(minimal.daemon_id())) return 1;
  for (long i = 0; i <= n; ++i) {
    request_buffer rb = empty_request();
    if (orx_tessaline_cli_send_daemon(&rb, HSM_QEL1_OPERATION, 0, nullptr, nullptr) != 0) return 1;
  }
  transport_seam_stop();
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--trips") == 0) return trips_only(atol(argv[2]));
  const double seconds = argc > 1 ? atof(argv[1]) : 0.3;
  std::vector<int> counts;
  for (int i = 2; i < argc; ++i) counts.push_back(atoi(argv[i]));
  if (counts.empty()) counts = {1, 8, 64, 256};
  {
    bench::MinimalDaemon minimal(1900000000u + static_cast<uint32_t>(getpid() % 100000000));
    compare("minimal daemon", minimal.daemon_id(), counts, seconds);
    transport_seam_stop();
  }
  hsmsim::Daemon d;
  d.set_capture(false);
  compare("stand-in", d.daemon_id(), counts, seconds);
  printf("idle non-blocking poll: %.3f us\n", idle_poll_us(d));
  transport_seam_stop();
  return 0;
}
