#include "daemon/framing.h"

namespace hsmsim::daemon {

using namespace hsmsim::wire;

namespace {

Frame need(size_t n) { return Frame{FrameKind::NeedMore, n, 0, false}; }

Frame malformed(size_t length, bool close) {
  return Frame{FrameKind::Malformed, length, kStatusInvalidMsg, close};
}

// Length of a full request from its descriptors; 0 when they cannot be read yet.
struct Layout {
  size_t segments_end = 0;  // offset after the segment descriptors
  uint64_t length = 0;      // whole message, segments at their 16-bit sizes
  bool directions_ok = true;
};

Layout layout_of(std::span<const uint8_t> buf, unsigned incnt, unsigned outcnt) {
  Layout l;
  l.segments_end = kSegmentsOffset + kSegDescSize * (incnt + outcnt);
  uint64_t inputs = 0;
  for (unsigned i = 0; i < incnt + outcnt; ++i) {
    SegDesc d = SegDesc::decode(buf.data() + kSegmentsOffset + kSegDescSize * i);
    if (d.inout != (i < incnt ? 0 : 1)) l.directions_ok = false;
    if (i < incnt) inputs += d.size;
  }
  l.length = l.segments_end + inputs;
  return l;
}

}  // namespace

Frame examine(std::span<const uint8_t> buf) {
  if (buf.size() < kHeaderSize) return need(kHeaderSize);
  MsgHeader h = MsgHeader::decode(buf.data());
  if (is_control_operation(h.operation)) return Frame{FrameKind::Control, kHeaderSize, 0, false};
  if (!is_full_operation(h.operation)) {
    // A header-only message keeps the stream in step; anything longer is lost.
    return Frame{FrameKind::Unknown, kHeaderSize, kStatusInvalidOperation, h.in_len != 0};
  }
  if (buf.size() < kSegmentsOffset) return need(kSegmentsOffset);
  ReqDescriptor d = ReqDescriptor::decode(buf.data() + kHeaderSize);
  if (d.incnt > kMaxSegments || d.outcnt > kMaxSegments) return malformed(buf.size(), true);
  size_t segments_end = kSegmentsOffset + kSegDescSize * (d.incnt + d.outcnt);
  if (buf.size() < segments_end) return need(segments_end);
  Layout l = layout_of(buf, d.incnt, d.outcnt);
  if (((l.length - kHeaderSize) & 0xFFFF) != h.in_len) return malformed(buf.size(), true);
  if (l.length > kMaxMessage) return malformed(buf.size(), true);
  if (buf.size() < l.length) return need(static_cast<size_t>(l.length));
  if (!l.directions_ok) return malformed(static_cast<size_t>(l.length), false);
  return Frame{FrameKind::Full, static_cast<size_t>(l.length), 0, false, d.incnt != 0};
}

bool plausible_header(std::span<const uint8_t> p) {
  auto zero = [&](size_t from, size_t to) {
    for (size_t i = from; i < to && i < p.size(); ++i)
      if (p[i] != 0) return false;
    return true;
  };
  // status, app_sess_handle, serv_pending_req, priv, inconnid, e2e_msg, srv_flag: 0 in requests
  if (!zero(0, 4) || !zero(12, 16) || !zero(22, 40) || !zero(52, 54)) return false;
  if (p.size() > 51 && p[51] > 1) return false;
  if (p.size() > 49) {
    uint8_t op = p[49];
    if (is_full_operation(op)) {
      uint8_t t = p[48];
      if (t != 0x56 && t != 0x57 && t != 0x58) return false;
    } else if (!is_control_operation(op)) {
      return false;
    }
  }
  return true;
}

bool split_full(std::span<const uint8_t> msg, FullRequest &out) {
  if (msg.size() < kSegmentsOffset) return false;
  out.hdr = MsgHeader::decode(msg.data());
  out.desc = ReqDescriptor::decode(msg.data() + kHeaderSize);
  unsigned incnt = out.desc.incnt, outcnt = out.desc.outcnt;
  if (incnt > kMaxSegments || outcnt > kMaxSegments) return false;
  size_t segments_end = kSegmentsOffset + kSegDescSize * (incnt + outcnt);
  if (msg.size() < segments_end) return false;

  out.in_desc.clear();
  out.out_desc.clear();
  for (unsigned i = 0; i < incnt + outcnt; ++i) {
    SegDesc d = SegDesc::decode(msg.data() + kSegmentsOffset + kSegDescSize * i);
    (i < incnt ? out.in_desc : out.out_desc).push_back(d);
  }

  uint64_t declared = 0;
  for (const auto &d : out.in_desc) declared += d.size;
  uint64_t body = msg.size() - segments_end;
  if (body < declared) return false;
  uint64_t extra = body - declared;  // 64 KiB multiples the 16-bit sizes lost
  if (extra != 0 && (incnt == 0 || extra % 0x10000 != 0)) return false;

  out.inputs.clear();
  size_t pos = segments_end;
  for (unsigned i = 0; i < incnt; ++i) {
    uint64_t n = out.in_desc[i].size + (i + 1 == incnt ? extra : 0);
    out.inputs.push_back(msg.subspan(pos, static_cast<size_t>(n)));
    pos += static_cast<size_t>(n);
  }

  // Output capacities: the header's expected length is exact, the descriptors
  // hold 16 bits each; the difference belongs to the last output segment.
  out.expected_len = out.hdr.payload_len();
  out.out_sizes.clear();
  uint64_t sum = 0;
  for (const auto &d : out.out_desc) {
    out.out_sizes.push_back(d.size);
    sum += d.size;
  }
  if (outcnt != 0 && out.expected_len > sum && (out.expected_len - sum) % 0x10000 == 0)
    out.out_sizes.back() += static_cast<uint32_t>(out.expected_len - sum);
  else
    out.expected_len = sum;
  return true;
}

}  // namespace hsmsim::daemon
