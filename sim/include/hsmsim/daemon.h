// The stand-in client daemon: listens where the library looks for its daemon,
// answers every request like the daemon and the HSM behind it would, and lets
// tests capture requests, script answers and inject faults.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <hsmsim/hsm.h>

namespace hsmsim {

// Full requests of this command type are echoed: the payload is the input
// segments back to back, cut to the sum of the output segment sizes; status 0.
inline constexpr uint16_t kEchoCommandType = 0x7E57;

struct Captured {  // one request as received, in arrival order
  std::vector<uint8_t>
      bytes{};  // the whole message (header + descriptor + segment descriptors + inputs)
  uint8_t operation = 0, msg_type = 0, req_type = 0, flags = 0;  // header bytes 49, 48, 51, 50
  uint16_t opcode = 0,
           command_type = 0;  // header opcode; descriptor command_type (0 for control ops)
  uint32_t req_id = 0, sess_handle = 0;
  int connection = 0;  // accept order, from 0
};

struct Answer {         // a scripted answer
  uint32_t status = 0;  // non-zero: the request status (the request is then not executed)
  std::optional<std::vector<uint8_t>>
      payload{};                             // none: the normal payload (echo / HSM / control op)
  std::chrono::milliseconds delay{0};        // wait before answering
  size_t chunk = 0;                          // >0: write the answer in pieces of this size ...
  std::chrono::milliseconds chunk_pause{0};  // ... pausing this long between pieces
  std::optional<size_t>
      close_after{};  // write this many bytes of the answer, then close the connection
  std::optional<uint32_t> req_id{};  // answer with this id instead of the request's
  std::optional<uint32_t>
      announced_len{};                // header announces this payload length (out_len/out_len2)
  std::optional<uint8_t> req_type{};  // header byte 51 of the answer (default: the request's)
  uint8_t serveridx = 0;              // header byte 50 of the answer
  uint64_t op_ctx = 0;                // non-zero: header op_ctx of the answer
  bool drop = false;                  // never answer this request
  int count = -1;                     // applies to the next N matching requests; -1: until cleared
};

struct DaemonOptions {
  uint32_t daemon_id = 0;  // 0: choose a free id from the pid and a counter
  bool tcp = false;        // true: listen on TCP 127.0.0.1
  uint16_t port = 0;       // TCP port; 0: an ephemeral one
};

class Daemon {
 public:
  using Options = DaemonOptions;

  explicit Daemon(Options = {});  // listening when the constructor returns; throws
                                  // std::runtime_error when it cannot
  ~Daemon();                      // stops and joins its threads, closes every connection
  Daemon(const Daemon &) = delete;
  Daemon &operator=(const Daemon &) = delete;

  uint32_t daemon_id() const;
  uint16_t port() const;  // TCP port; 0 for the UNIX-domain socket
  bool tcp() const;
  std::string endpoint() const;  // human-readable description of where it listens

  // setenv tessaline_daemon_id, tessaline_daemon_socket_type (and the TCP
  // port) so that the library in this process connects here.
  void export_env() const;

  void set_daemon_version(uint8_t major, uint8_t minor);  // GET_DAEMON_VERSION answer, default 2.3

  // Scripts are kept in the order given per key; the first one still valid applies.
  void script(uint16_t command_type, uint16_t opcode,
              Answer);                             // full requests (operations 0 and 1)
  void script_control(uint8_t operation, Answer);  // control operations 4, 5, 8, 9, 10
  void clear_scripts();

  std::vector<Captured> captured() const;
  void clear_captured();
  void set_capture(bool on);  // default on; the executable turns it off
  bool wait_captured(size_t n,
                     std::chrono::milliseconds max);  // wait until n requests were captured

  size_t connections_accepted() const;
  size_t connections_open() const;

  // Requests framed so far, and those whose handling is over: answered (or
  // dropped, or discarded with their connection) and everything the answer
  // held released.
  size_t requests_read() const;
  size_t requests_answered() const;
  // Wait until every request read is answered and no open connection has
  // bytes waiting to be read; false when `max` passes first. Returns at once
  // when already idle.
  bool wait_idle(std::chrono::milliseconds max) const;

  // Answers to non-blocking requests are held this long; several due
  // together go out in reverse order of arrival.
  void set_nonblocking_delay(std::chrono::milliseconds);

  Hsm &hsm();  // the HSM behind the daemon

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace hsmsim
