#include <hsmsim/daemon.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "daemon/answer.h"
#include "daemon/capture.h"
#include "daemon/connection.h"
#include "daemon/framing.h"
#include "daemon/listener.h"
#include "daemon/scripts.h"

namespace hsmsim {

using namespace hsmsim::daemon;
using wire::MsgHeader;

struct Daemon::Impl {
  Options opts;
  uint32_t id = 0;
  uint16_t port = 0;
  int listen_fd = -1;
  int wake[2] = {-1, -1};  // written to stop the accept loop
  std::thread acceptor;

  Hsm hsm;
  ScriptBook scripts;
  CaptureLog capture;
  std::atomic<uint16_t> version{0x0302};  // minor << 8 | major
  std::atomic<int64_t> nonblocking_hold_ms{0};

  std::mutex conns_mu;
  std::list<std::unique_ptr<Connection>> conns;
  std::atomic<size_t> accepted{0};
  Activity activity;

  explicit Impl(Options o);
  ~Impl();

  void open_listener();
  void accept_loop();
  void reap_finished();
  bool idle();

  void handle(Connection &c, std::span<const uint8_t> msg, const Frame &f);
  void serve_full(Connection &c, std::span<const uint8_t> msg);
  void serve_control(Connection &c, const MsgHeader &h);
  void answer(Connection &c, const MsgHeader &h, uint32_t status, std::span<const uint8_t> payload,
              uint64_t op_ctx, const Answer *fault);
};

namespace {

uint32_t next_candidate_id() {
  static std::atomic<uint32_t> counter{0};
  uint32_t pid = static_cast<uint32_t>(::getpid());
  // Spread processes apart, and ids of one process by a counter.
  return 100000 + (pid % 20000000) * 64 + (counter.fetch_add(1) % 64);
}

Captured describe(std::span<const uint8_t> msg, int connection) {
  Captured c;
  c.bytes.assign(msg.begin(), msg.end());
  MsgHeader h = MsgHeader::decode(msg.data());
  c.operation = h.operation;
  c.msg_type = h.msg_type;
  c.req_type = h.req_type;
  c.flags = h.flags;
  c.opcode = h.opcode;
  c.req_id = h.req_id;
  c.sess_handle = h.sess_handle;
  if (wire::is_full_operation(h.operation) && msg.size() >= wire::kSegmentsOffset)
    c.command_type = wire::ReqDescriptor::decode(msg.data() + wire::kHeaderSize).command_type;
  c.connection = connection;
  return c;
}

HsmRequest to_hsm_request(const FullRequest &r, int connection) {
  HsmRequest q;
  q.command_type = r.desc.command_type;
  q.opcode = r.hdr.opcode;
  q.param1 = r.desc.param1;
  q.param2 = r.desc.param2;
  q.dlen = r.desc.dlen;
  q.rlen = r.desc.rlen;
  q.attest = r.desc.attest;
  q.session_handle = r.hdr.sess_handle;
  q.key_handle = r.desc.key_handle;
  q.ctx_ptr = r.desc.ctx_ptr;
  q.op_ctx = r.hdr.op_ctx;
  q.inputs = r.inputs;
  q.output_sizes = r.out_sizes;
  q.connection = connection;
  return q;
}

std::vector<uint8_t> echo_payload(const FullRequest &r) {
  std::vector<uint8_t> out;
  for (auto seg : r.inputs) {
    if (out.size() >= r.expected_len) break;
    size_t n = std::min<uint64_t>(seg.size(), r.expected_len - out.size());
    out.insert(out.end(), seg.begin(), seg.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return out;
}

}  // namespace

Daemon::Impl::Impl(Options o) : opts(o) {
  if (::pipe2(wake, O_CLOEXEC) != 0) throw std::runtime_error("hsm-sim: pipe failed");
  try {
    open_listener();
  } catch (...) {
    ::close(wake[0]);
    ::close(wake[1]);
    throw;
  }
  acceptor = std::thread([this] { accept_loop(); });
}

Daemon::Impl::~Impl() {
  char b = 1;
  (void)!::write(wake[1], &b, 1);
  if (acceptor.joinable()) acceptor.join();
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard lock(conns_mu);
    all.swap(conns);
  }
  for (auto &c : all) c->stop();
  all.clear();  // joins each connection's threads
  ::close(listen_fd);
  ::close(wake[0]);
  ::close(wake[1]);
}

void Daemon::Impl::open_listener() {
  if (opts.tcp) {
    listen_fd = listen_tcp(opts.port, port);
    if (listen_fd < 0)
      throw std::runtime_error("hsm-sim: cannot listen on TCP 127.0.0.1:" +
                               std::to_string(opts.port) + ": " + std::strerror(errno));
  }
  // The daemon id names the UNIX socket. Over TCP it only fills the setting
  // the library requires for both socket types.
  if (opts.daemon_id != 0) {
    id = opts.daemon_id;
    if (!opts.tcp) {
      listen_fd = listen_unix(id);
      if (listen_fd < 0)
        throw std::runtime_error("hsm-sim: cannot listen on daemon id " + std::to_string(id) +
                                 ": " + std::strerror(errno));
    }
    return;
  }
  for (int attempt = 0; attempt < 4096; ++attempt) {
    uint32_t candidate = next_candidate_id();
    if (opts.tcp) {
      id = candidate;
      return;
    }
    int fd = listen_unix(candidate);
    if (fd >= 0) {
      listen_fd = fd;
      id = candidate;
      return;
    }
    if (errno != EADDRINUSE) break;
  }
  throw std::runtime_error(std::string("hsm-sim: no free daemon id: ") + std::strerror(errno));
}

void Daemon::Impl::accept_loop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: the pending connection stays queued, so back off
      // instead of spinning until a connection ends and frees one.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        reap_finished();
        ::poll(&fds[1], 1, 10);
      }
      continue;
    }
    if (opts.tcp) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    reap_finished();
    int index = static_cast<int>(accepted.fetch_add(1));
    auto conn = std::make_unique<Connection>(
        fd, index,
        [this](Connection &c, std::span<const uint8_t> m, const Frame &f) { handle(c, m, f); },
        activity);
    Connection *raw = conn.get();
    {
      std::lock_guard lock(conns_mu);
      conns.push_back(std::move(conn));
    }
    raw->start();
  }
}

void Daemon::Impl::reap_finished() {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard lock(conns_mu);
    for (auto it = conns.begin(); it != conns.end();) {
      if ((*it)->finished()) {
        done.push_back(std::move(*it));
        it = conns.erase(it);
      } else {
        ++it;
      }
    }
  }
}

bool Daemon::Impl::idle() {
  // Answered first: a request read and answered between the two loads cannot
  // make them look equal.
  size_t done = activity.answered.load();
  if (done != activity.read.load()) return false;
  std::lock_guard lock(conns_mu);
  for (const auto &c : conns)
    if (!c->finished() && c->unread_bytes() != 0) return false;
  return true;
}

// ---- serving one message ----

void Daemon::Impl::handle(Connection &c, std::span<const uint8_t> msg, const Frame &f) {
  if (capture.enabled() && msg.size() >= wire::kHeaderSize) capture.add(describe(msg, c.index()));
  MsgHeader h = MsgHeader::decode(msg.data());
  switch (f.kind) {
    case FrameKind::Full:
      serve_full(c, msg);
      break;
    case FrameKind::Control:
      serve_control(c, h);
      break;
    default:
      answer(c, h, f.status, {}, 0, nullptr);
      break;
  }
}

void Daemon::Impl::serve_full(Connection &c, std::span<const uint8_t> msg) {
  FullRequest req;
  if (!split_full(msg, req)) {
    answer(c, MsgHeader::decode(msg.data()), kStatusInvalidMsg, {}, 0, nullptr);
    return;
  }
  std::optional<Answer> script = scripts.take_full(req.desc.command_type, req.hdr.opcode);
  const Answer *fault = script ? &*script : nullptr;
  if (fault && fault->drop) return;

  uint32_t status = 0;
  uint64_t op_ctx = 0;
  std::vector<uint8_t> payload;
  if (fault && fault->payload) {
    status = fault->status;
    payload = *fault->payload;
  } else if (req.desc.command_type == kEchoCommandType) {
    status = fault ? fault->status : 0;
    payload = echo_payload(req);
  } else if (fault && fault->status != 0) {
    status = fault->status;  // refused before the HSM saw it
  } else {
    HsmReply r = hsm.execute(to_hsm_request(req, c.index()));
    status = r.status;
    op_ctx = r.op_ctx;
    payload = std::move(r.payload);
    if (payload.size() > req.expected_len) payload.resize(static_cast<size_t>(req.expected_len));
  }
  if (req.desc.command_type == 0 && is_replicated_opcode(req.hdr.opcode))
    c.remember_cluster(req.hdr.req_id, status);
  answer(c, req.hdr, status, payload, op_ctx, fault);
}

void Daemon::Impl::serve_control(Connection &c, const MsgHeader &h) {
  std::optional<Answer> script = scripts.take_control(h.operation);
  const Answer *fault = script ? &*script : nullptr;
  if (fault && fault->drop) return;
  std::vector<uint8_t> payload;
  if (fault && fault->payload) {
    payload = *fault->payload;
  } else {
    switch (h.operation) {
      case wire::kOpHealthDump:
        payload = health_record();
        break;
      case wire::kOpFirmwareVersion: {
        auto v = hsm.firmware_version();
        payload.assign(v.begin(), v.end());
        break;
      }
      case wire::kOpDaemonVersion: {
        uint16_t v = version.load();
        payload = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
        break;
      }
      case wire::kOpClusterStatus:
        if (auto s = c.cluster_status(h.req_id)) payload = cluster_record(*s);
        break;
      default:  // the server notice needs no payload
        break;
    }
  }
  answer(c, h, fault ? fault->status : 0, payload, 0, fault);
}

void Daemon::Impl::answer(Connection &c, const MsgHeader &h, uint32_t status,
                          std::span<const uint8_t> payload, uint64_t op_ctx, const Answer *fault) {
  Delivery d;
  d.bytes = build_answer(h, status, payload, op_ctx, fault);
  milliseconds delay{0};
  if (fault) {
    d.chunk = fault->chunk;
    d.pause = fault->chunk_pause;
    d.close_after = fault->close_after;
    delay = fault->delay;
  }
  milliseconds hold{h.req_type == 1 ? nonblocking_hold_ms.load(std::memory_order_relaxed) : 0};
  c.deliver(std::move(d), delay, hold);
}

// ---- the public face ----

Daemon::Daemon(Options o) : impl_(std::make_unique<Impl>(o)) {}
Daemon::~Daemon() = default;

uint32_t Daemon::daemon_id() const { return impl_->id; }
uint16_t Daemon::port() const { return impl_->port; }
bool Daemon::tcp() const { return impl_->opts.tcp; }

std::string Daemon::endpoint() const {
  if (impl_->opts.tcp)
    return "TCP 127.0.0.1:" + std::to_string(impl_->port) + " (daemon id " +
           std::to_string(impl_->id) + ")";
  return "abstract UNIX socket \"\\0/etc/ostrel/daemon_socket" + std::to_string(impl_->id) +
         "\" (daemon id " + std::to_string(impl_->id) + ")";
}

void Daemon::export_env() const {
  ::setenv("tessaline_daemon_id", std::to_string(impl_->id).c_str(), 1);
  if (impl_->opts.tcp) {
    ::setenv("tessaline_daemon_socket_type", "TCPSOCKET", 1);
    ::setenv("tessaline_daemon_tcp_port", std::to_string(impl_->port).c_str(), 1);
  } else {
    ::setenv("tessaline_daemon_socket_type", "UNIXSOCKET", 1);
    ::unsetenv("tessaline_daemon_tcp_port");
  }
}

void Daemon::set_daemon_version(uint8_t major, uint8_t minor) {
  impl_->version.store(static_cast<uint16_t>(minor << 8 | major));
}

void Daemon::script(uint16_t command_type, uint16_t opcode, Answer a) {
  impl_->scripts.add_full(command_type, opcode, std::move(a));
}
void Daemon::script_control(uint8_t operation, Answer a) {
  impl_->scripts.add_control(operation, std::move(a));
}
void Daemon::clear_scripts() { impl_->scripts.clear(); }

std::vector<Captured> Daemon::captured() const { return impl_->capture.snapshot(); }
void Daemon::clear_captured() { impl_->capture.clear(); }
void Daemon::set_capture(bool on) { impl_->capture.set_enabled(on); }
bool Daemon::wait_captured(size_t n, std::chrono::milliseconds max) {
  return impl_->capture.wait(n, max);
}

size_t Daemon::connections_accepted() const { return impl_->accepted.load(); }
size_t Daemon::connections_open() const {
  std::lock_guard lock(impl_->conns_mu);
  size_t n = 0;
  for (const auto &c : impl_->conns) n += c->finished() ? 0 : 1;
  return n;
}

size_t Daemon::requests_read() const { return impl_->activity.read.load(); }
size_t Daemon::requests_answered() const { return impl_->activity.answered.load(); }

bool Daemon::wait_idle(std::chrono::milliseconds max) const {
  const auto deadline = std::chrono::steady_clock::now() + max;
  while (!impl_->idle()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return true;
}

void Daemon::set_nonblocking_delay(std::chrono::milliseconds d) {
  impl_->nonblocking_hold_ms.store(d.count());
}

Hsm &Daemon::hsm() { return impl_->hsm; }

}  // namespace hsmsim
