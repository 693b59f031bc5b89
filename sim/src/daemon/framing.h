// Finding where one request message ends in the bytes read from a
// connection, and splitting a full request into its segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "wire/daemon_msg.h"

namespace hsmsim::daemon {

inline constexpr uint32_t kStatusInvalidOperation = 0x40000048;  // unknown transport operation
inline constexpr uint32_t kStatusInvalidMsg = 0x4000004B;  // lengths or counts that do not add up
inline constexpr size_t kMaxMessage = 32u << 20;           // larger messages close the connection

enum class FrameKind { NeedMore, Full, Control, Unknown, Malformed };

struct Frame {
  FrameKind kind = FrameKind::NeedMore;
  size_t length = 0;          // NeedMore: bytes needed in all; otherwise the message's length
  uint32_t status = 0;        // Unknown / Malformed: the status to answer with
  bool close = false;         // the message's end is unknown: answer, then close the connection
  bool may_continue = false;  // Full: it has input segments, so 64 KiB continuations may follow
};

// Looks at the bytes from the start of a message. A full request's length is
// taken from its descriptors (each input segment's low 16 bits); the caller
// extends it by 64 KiB steps when the bytes that follow are not a header.
Frame examine(std::span<const uint8_t> buf);

// Whether the bytes after a message can be the start of the next request
// header. Only the bytes present are judged.
bool plausible_header(std::span<const uint8_t> prefix);

struct FullRequest {
  wire::MsgHeader hdr;
  wire::ReqDescriptor desc;
  std::vector<wire::SegDesc> in_desc, out_desc;
  std::vector<std::span<const uint8_t>> inputs;  // every input segment's bytes
  std::vector<uint32_t> out_sizes;               // capacities of the output segments
  uint64_t expected_len = 0;                     // sum of the output sizes
};

// Splits a full request of exactly msg.size() bytes (as framed by examine,
// plus any 64 KiB continuations, which belong to the last input segment).
// False when the message does not hold together.
bool split_full(std::span<const uint8_t> msg, FullRequest &out);

}  // namespace hsmsim::daemon
