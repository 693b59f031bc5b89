// The tests' own reader of the request messages the stand-in captured. It
// reads every field at its fixed offset with its own little-endian loads,
// never through the library's structs, so that a layout mistake in those
// would show; and the accessors tests pick the requests with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <hsmsim/daemon.h>

namespace support {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

// Little-endian (host order) reads; 0 where the bytes end first.
uint16_t le16(ByteSpan b, size_t off);
uint32_t le32(ByteSpan b, size_t off);
uint64_t le64(ByteSpan b, size_t off);

// One segment descriptor and, for an input, the bytes that followed.
struct Segment {
  uint8_t inout = 0;    // 0 input, 1 output
  uint16_t offset = 0;  // meaningful length
  uint16_t size = 0;    // low 16 bits of the size
  ByteSpan bytes{};     // inputs: as sent, cut where the message ends
};

// One message: the 56-byte header and, for a full request, the 40-byte
// request descriptor, the segment descriptors from offset 96 (inputs
// first) and the input bytes. Fields past the end of a short message stay 0.
struct Request {
  // Header.
  uint32_t status = 0, req_id = 0, sess_handle = 0, app_sess_handle = 0;
  uint16_t in_len = 0, out_len = 0, opcode = 0, serv_pending_req = 0;
  uint64_t priv = 0, inconnid = 0, op_ctx = 0;
  uint8_t msg_type = 0, operation = 0, serveridx = 0, req_type = 0, e2e_msg = 0, srv_flag = 0;
  uint16_t out_len2 = 0;
  // Request descriptor.
  uint8_t dma_mode = 0, incnt = 0, outcnt = 0, attest = 0;
  uint16_t param1 = 0, param2 = 0, dlen = 0, rlen = 0, command_type = 0;
  uint32_t queue_id = 0, timeout = 0;
  uint64_t ctx_ptr = 0, key_handle = 0;
  std::vector<Segment> in{}, out{};
  int connection = 0;                  // the stand-in's connection it came on
  std::shared_ptr<const Bytes> raw{};  // the message; the inputs' bytes point into it

  std::vector<uint16_t> in_sizes() const;
  std::vector<uint16_t> out_sizes() const;
  Bytes input(size_t i) const;  // a copy of input i's bytes; empty when there is none
  Bytes body() const;           // every input's bytes back to back
};

// Reads one message. A descriptor whose direction byte disagrees with its
// place (inputs first) is a test failure.
Request decode_request(Bytes message);
Request decode_request(const hsmsim::Captured &c);

// Full requests (operations 0 and 1) captured so far, in arrival order: all, or of one opcode.
std::vector<Request> sent_requests(const hsmsim::Daemon &d);
std::vector<Request> sent_requests(const hsmsim::Daemon &d, uint16_t opcode);
size_t sent_count(const hsmsim::Daemon &d);
// The one full request of this opcode; a test failure (and an empty Request) otherwise.
Request sent_only(const hsmsim::Daemon &d, uint16_t opcode);
// The last full request; a test failure (and an empty Request) when there is none.
Request sent_last(const hsmsim::Daemon &d);

}  // namespace support
