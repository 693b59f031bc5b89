// A logged-in stand-in of the test's own, caller buffers filled with a tag
// byte per role so that a segment read back from the wire tells which
// buffer it came from, and tables of expected layouts.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "crypto_fixture.h"
#include "qel2_ssl.h"
#include "request/app_state.h"

namespace ssl_test {

using namespace crypto_test;

// Tags of the caller's input buffers; the SHA-2 initial values are told by
// their own first bytes.
enum Tag : uint8_t {
  kAny = 0,
  kCms = 0x11,  // client message sequence number
  kCseq = 0x12,
  kCiv = 0x13,
  kSms = 0x21,
  kSseq = 0x22,
  kSiv = 0x23,
  kCrand = 0x31,
  kSrand = 0x32,
  kHs = 0x40,
  kEms = 0x48,
  kMsg = 0x50,
  kRec = 0x60,
  kPms = 0x70,
  kPrime = 0x80,
  kPeerX = 0x81,
  kPeerY = 0x82,
  kGx = 0x83,
  kGy = 0x84,
  kKey = 0x5A,  // first byte of the test's key handles
  kIv384 = 0xCB,
  kIv512 = 0x6A,
  kIv224 = 0xC1,
};

inline constexpr Uint64 kCtx = 0x10000;
inline constexpr Uint64 kKeyHandle = 0x5A00'0000'0000'0042ull;

struct Buf {
  std::array<Uint8, 1024> b{};
  explicit Buf(uint8_t tag = 0) { b.fill(tag); }
  Uint8 *operator*() { return b.data(); }
};

// Every caller buffer an operation may take.
struct Bufs {
  Buf cms{kCms}, cseq{kCseq}, civ{kCiv}, sms{kSms}, sseq{kSseq}, siv{kSiv};
  Buf crand{kCrand}, srand{kSrand}, hs{kHs}, ems{kEms}, msg{kMsg}, rec{kRec}, pms{kPms};
  Buf prime{kPrime}, px{kPeerX}, py{kPeerY}, gx{kGx}, gy{kGy};
  // Outputs.
  Buf ec, es, uc, us, ems_out, vd, pubx, puby, out;
  Uint16 len = 0xEEEE;
  Uint32 id = 0;
};

// Expected input segment: size and the tag of its first byte.
struct In {
  uint16_t size;
  uint8_t tag;
};

struct Layout {
  std::string name;
  std::function<Uint32(Bufs &)> call;
  uint16_t command_type, opcode, param1, param2;
  uint64_t ctx_offset;
  std::vector<In> in;
  std::vector<uint16_t> out;
};

class SslTest : public CryptoTest {
 protected:
  // A zero-length success for the opcode: the layout is what is looked at.
  void answer_empty(uint16_t command_type, uint16_t opcode) {
    hsmsim::Answer a;
    a.payload = Bytes{};
    d().script(command_type, opcode, a);
  }
  void answer(uint16_t command_type, uint16_t opcode, Bytes payload, uint32_t status = 0) {
    hsmsim::Answer a;
    a.payload = std::move(payload);
    a.status = status;
    d().script(command_type, opcode, a);
  }

  // Runs each row against a fresh capture and compares what was framed with
  // expect_layout: the row's fields, dlen and rlen the sums of its segments,
  // the tag of each input's first byte, and what every TLS request carries
  // (10-second time-out, the masked session, no key handle).
  void check_layouts(const std::vector<Layout> &rows) {
    Bufs b;  // the caller's buffers, alive until every row is checked
    std::vector<LayoutRow> table;
    for (const Layout &row : rows) {
      LayoutRow want{.name = row.name.c_str(),
                     .call =
                         [this, &row, &b] {
                           d().clear_scripts();
                           answer_empty(row.command_type, row.opcode);
                           b = Bufs();
                           return row.call(b);
                         },
                     .command_type = row.command_type,
                     .opcode = row.opcode,
                     .param1 = row.param1,
                     .param2 = row.param2,
                     .ins = {},
                     .outs = {},
                     .ctx_ptr = kCtx + row.ctx_offset};
      uint32_t dlen = 0, rlen = 0;
      for (const In &i : row.in) {
        if (i.tag != kAny && i.size != 0) want.fields.push_back({dlen, i.tag, 1, "input tag"});
        want.ins.list.emplace_back(i.size);
        dlen += i.size;
      }
      for (uint16_t size : row.out) want.outs.list.emplace_back(size), rlen += size;
      want.dlen = uint16_t(dlen);
      want.rlen = uint16_t(rlen);
      table.push_back(std::move(want));
    }
    expect_layout(d(), table, {.timeout = 10, .session = session_ & 0x3FFFFFFFu, .key_handle = 0});
    d().clear_scripts();
  }

  // Runs each refusal and checks that nothing went out.
  struct Refusal {
    std::string name;
    std::function<Uint32(Bufs &)> call;
    Uint32 want;
  };
  void check_refusals(const std::vector<Refusal> &rows) {
    for (const Refusal &row : rows) {
      SCOPED_TRACE(row.name);
      d().clear_captured();
      Bufs b;
      EXPECT_EQ(row.want, row.call(b));
      EXPECT_EQ(0u, sent_count(d()));
    }
  }
};

}  // namespace ssl_test
