#include "layout.h"

#include <gtest/gtest.h>

#include <string>

#include "wire.h"

namespace support {

namespace {

template <typename T>
std::optional<T> pick(const std::optional<T> &own, const std::optional<T> &common) {
  return own ? own : common;
}

LayoutRow merged(const LayoutRow &row, const LayoutRow &common) {
  LayoutRow m = row;
  m.result = pick(row.result, common.result);
  m.command_type = pick(row.command_type, common.command_type);
  m.opcode = pick(row.opcode, common.opcode);
  m.param1 = pick(row.param1, common.param1);
  m.param2 = pick(row.param2, common.param2);
  m.dlen = pick(row.dlen, common.dlen);
  m.rlen = pick(row.rlen, common.rlen);
  m.ins = row.ins.checked ? row.ins : common.ins;
  m.outs = row.outs.checked ? row.outs : common.outs;
  m.attest = pick(row.attest, common.attest);
  m.dma_mode = pick(row.dma_mode, common.dma_mode);
  m.msg_type = pick(row.msg_type, common.msg_type);
  m.timeout = pick(row.timeout, common.timeout);
  m.session = pick(row.session, common.session);
  m.ctx_ptr = pick(row.ctx_ptr, common.ctx_ptr);
  m.key_handle = pick(row.key_handle, common.key_handle);
  m.fields = common.fields;
  m.fields.insert(m.fields.end(), row.fields.begin(), row.fields.end());
  return m;
}

template <typename T, typename U>
void expect(const std::optional<T> &want, U got, const char *what) {
  if (!want) return;
  const uint64_t expected = *want, actual = got;
  EXPECT_EQ(expected, actual) << what;
}

void expect_segments(const LayoutRow::Segs &want, const std::vector<Segment> &got,
                     const char *what) {
  if (!want.checked) return;
  std::vector<uint16_t> want_sizes, got_sizes;
  for (const LayoutRow::Seg &s : want.list) want_sizes.push_back(s.size);
  for (const Segment &s : got) got_sizes.push_back(s.size);
  EXPECT_EQ(want_sizes, got_sizes) << what << " sizes";
  for (size_t i = 0; i < want.list.size() && i < got.size(); ++i)
    if (want.list[i].meaningful) {
      EXPECT_EQ(*want.list[i].meaningful, got[i].offset)
          << what << " " << i << " meaningful length";
    }
}

uint64_t read_be(const Bytes &b, size_t at, int width) {
  if (at > b.size() || b.size() - at < size_t(width)) return 0xDEADBEEFDEADBEEFull;
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = v << 8 | b[at + size_t(i)];
  return v;
}

}  // namespace

void expect_layout(hsmsim::Daemon &d, const std::vector<LayoutRow> &rows, const LayoutRow &common,
                   CallSite where) {
  for (const LayoutRow &row : rows) {
    const LayoutRow want = merged(row, common);
    const ::testing::ScopedTrace trace(where.file, where.line,
                                       *row.name
                                           ? std::string(row.name)
                                           : "opcode " + std::to_string(want.opcode.value_or(0)) +
                                                 " request " + std::to_string(row.index));
    Request m;
    if (row.call) {
      d.clear_captured();
      const uint32_t got = row.call();
      if (want.result) {
        ASSERT_EQ(*want.result, got) << "the call's result";
      }
      const auto sent = sent_requests(d);
      ASSERT_EQ(1u, sent.size()) << "full requests sent";
      m = sent[0];
    } else {
      ASSERT_TRUE(want.opcode) << "a row without a call names its opcode";
      const auto sent = sent_requests(d, *want.opcode);
      ASSERT_GT(sent.size(), row.index) << "requests of the opcode captured";
      m = sent[row.index];
    }
    expect(want.command_type, m.command_type, "command type");
    expect(want.opcode, m.opcode, "opcode");
    expect(want.param1, m.param1, "param1");
    expect(want.param2, m.param2, "param2");
    expect(want.dlen, m.dlen, "dlen");
    expect(want.rlen, m.rlen, "rlen");
    expect_segments(want.ins, m.in, "input");
    expect_segments(want.outs, m.out, "output");
    expect(want.attest, m.attest, "attest");
    expect(want.dma_mode, m.dma_mode, "DMA mode");
    expect(want.msg_type, m.msg_type, "message type");
    expect(want.timeout, m.timeout, "time-out");
    expect(want.session, m.sess_handle, "session handle");
    expect(want.ctx_ptr, m.ctx_ptr, "context");
    expect(want.key_handle, m.key_handle, "key handle");
    const Bytes body = m.body();
    for (const LayoutRow::Field &f : want.fields)
      EXPECT_EQ(f.value, read_be(body, f.at, f.width)) << "body at " << f.at << " " << f.what;
  }
}

}  // namespace support
