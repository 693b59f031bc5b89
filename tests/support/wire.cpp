#include "wire.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace support {

namespace {

constexpr size_t kHeaderLen = 56;      // the message header
constexpr size_t kFixedLen = 96;       // header and request descriptor
constexpr size_t kSegmentDescLen = 6;  // one segment descriptor

uint64_t le(ByteSpan b, size_t off, size_t width) {
  if (off > b.size() || b.size() - off < width) return 0;
  uint64_t v = 0;
  for (size_t i = width; i-- > 0;) v = v << 8 | b[off + i];
  return v;
}

}  // namespace

uint16_t le16(ByteSpan b, size_t off) { return uint16_t(le(b, off, 2)); }
uint32_t le32(ByteSpan b, size_t off) { return uint32_t(le(b, off, 4)); }
uint64_t le64(ByteSpan b, size_t off) { return le(b, off, 8); }

std::vector<uint16_t> Request::in_sizes() const {
  std::vector<uint16_t> v;
  for (const Segment &s : in) v.push_back(s.size);
  return v;
}
std::vector<uint16_t> Request::out_sizes() const {
  std::vector<uint16_t> v;
  for (const Segment &s : out) v.push_back(s.size);
  return v;
}
Bytes Request::input(size_t i) const {
  return i < in.size() ? Bytes(in[i].bytes.begin(), in[i].bytes.end()) : Bytes{};
}
Bytes Request::body() const {
  Bytes all;
  for (const Segment &s : in) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
  return all;
}

Request decode_request(Bytes message) {
  Request m;
  m.raw = std::make_shared<const Bytes>(std::move(message));
  const ByteSpan b = *m.raw;
  m.status = le32(b, 0);
  m.req_id = le32(b, 4);
  m.sess_handle = le32(b, 8);
  m.app_sess_handle = le32(b, 12);
  m.in_len = le16(b, 16);
  m.out_len = le16(b, 18);
  m.opcode = le16(b, 20);
  m.serv_pending_req = le16(b, 22);
  m.priv = le64(b, 24);
  m.inconnid = le64(b, 32);
  m.op_ctx = le64(b, 40);
  m.msg_type = uint8_t(le(b, 48, 1));
  m.operation = uint8_t(le(b, 49, 1));
  m.serveridx = uint8_t(le(b, 50, 1));
  m.req_type = uint8_t(le(b, 51, 1));
  m.e2e_msg = uint8_t(le(b, 52, 1));
  m.srv_flag = uint8_t(le(b, 53, 1));
  m.out_len2 = le16(b, 54);
  if (b.size() < kFixedLen) return m;  // a header alone (control operations)
  m.dma_mode = b[kHeaderLen];
  m.incnt = b[kHeaderLen + 1];
  m.outcnt = b[kHeaderLen + 2];
  m.attest = b[kHeaderLen + 3];
  m.param1 = le16(b, 60);
  m.param2 = le16(b, 62);
  m.dlen = le16(b, 64);
  m.rlen = le16(b, 66);
  m.command_type = le16(b, 68);
  m.queue_id = le32(b, 72);
  m.timeout = le32(b, 76);
  m.ctx_ptr = le64(b, 80);
  m.key_handle = le64(b, 88);
  // Descriptors: incnt inputs, then outcnt outputs, as far as the message holds them.
  size_t off = kFixedLen;
  for (int i = 0; i < m.incnt + m.outcnt && b.size() - off >= kSegmentDescLen;
       ++i, off += kSegmentDescLen) {
    Segment s{.inout = b[off], .offset = le16(b, off + 2), .size = le16(b, off + 4)};
    const bool input = i < m.incnt;
    EXPECT_EQ(input ? 0 : 1, s.inout) << "direction byte of segment descriptor " << i;
    (input ? m.in : m.out).push_back(s);
  }
  // The inputs' bytes back to back after the descriptors.
  for (Segment &s : m.in) {
    const size_t n = std::min<size_t>(s.size, b.size() - off);
    s.bytes = b.subspan(off, n);
    off += n;
  }
  return m;
}

Request decode_request(const hsmsim::Captured &c) {
  Request m = decode_request(c.bytes);
  m.connection = c.connection;
  return m;
}

std::vector<Request> sent_requests(const hsmsim::Daemon &d) {
  std::vector<Request> out;
  for (const auto &c : d.captured())
    if (c.operation <= 1) out.push_back(decode_request(c));
  return out;
}

std::vector<Request> sent_requests(const hsmsim::Daemon &d, uint16_t opcode) {
  std::vector<Request> out;
  for (const auto &c : d.captured())
    if (c.operation <= 1 && c.opcode == opcode) out.push_back(decode_request(c));
  return out;
}

size_t sent_count(const hsmsim::Daemon &d) {
  size_t n = 0;
  for (const auto &c : d.captured()) n += c.operation <= 1;
  return n;
}

Request sent_only(const hsmsim::Daemon &d, uint16_t opcode) {
  auto m = sent_requests(d, opcode);
  EXPECT_EQ(1u, m.size()) << "opcode " << opcode;
  return m.empty() ? Request{} : m[0];
}

Request sent_last(const hsmsim::Daemon &d) {
  auto m = sent_requests(d);
  EXPECT_FALSE(m.empty());
  return m.empty() ? Request{} : m.back();
}

}  // namespace support
