// The request message byte for byte, the control headers, the spreading of
// answers over output segments and the request-id cycles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "daemon_intf/transport_internal.h"
#include "qel2_errors.h"
#include "test_util.h"

using tt::Bytes;
using tt::get_le;
using tt::put_le;

namespace {

Bytes frame(const request_buffer &rb, FrameOptions opts = {HSM_QEL1_OPERATION, 0, 0, 0, true}) {
  Uint8 *msg = nullptr;
  size_t len = 0;
  EXPECT_EQ(frame_request(rb, opts, &msg, &len), 0);
  Bytes out(msg, msg + len);
  free(msg);
  return out;
}

Int32 frame_status(const request_buffer &rb) {
  Uint8 *msg = nullptr;
  size_t len = 0;
  Int32 r = frame_request(rb, {HSM_QEL1_OPERATION, 0, 0, 0, true}, &msg, &len);
  free(msg);
  EXPECT_TRUE(r == 0 || msg == nullptr);
  return r;
}

}  // namespace

TEST(Framing, EveryFieldAtItsOffset) {
  Bytes in0 = tt::pattern(5, 1), in1 = tt::pattern(3, 50);
  Bytes out0(16), out1(7);
  request_buffer rb{};
  tt::add_input(rb, in0);
  tt::add_input(rb, in1);
  tt::add_output(rb, out0, 9);
  tt::add_output(rb, out1);
  rb.dma_mode = OSTREL_SCATTER_GATHER;
  rb.opcode = 0x1234;
  rb.param1 = 0x1111;
  rb.param2 = 0x2222;
  rb.dlen = 8;
  rb.rlen = 23;
  rb.command_type = 1;
  rb.queue_id = 0xA1A2A3A4;
  rb.session_handle = 0x3FFFC001;
  rb.timeout = 10;
  rb.ctx_ptr = 0x0102030405060708ull;
  rb.attest = 1;
  rb.key_handle = 0x1112131415161718ull;
  rb.ctx = 0xCAFEBABEDEADBEEFull;

  Bytes msg = frame(rb, {HSM_QEL1_TRANSLATE_PARTITION_INFO, 0x03, 1, rb.ctx, true});

  // Built independently, from the documented offsets.
  Bytes want(96 + 6 * 4, 0);
  put_le(want, 8, 0x3FFFC001, 4);
  put_le(want, 16, want.size() + 8 - 56, 2);
  put_le(want, 18, 23, 2);
  put_le(want, 20, 0x1234, 2);
  put_le(want, 40, 0xCAFEBABEDEADBEEFull, 8);
  want[48] = 0x57;
  want[49] = 1;
  want[50] = 0x03;
  want[51] = 1;
  want[56] = 1;
  want[57] = 2;
  want[58] = 2;
  want[59] = 1;
  put_le(want, 60, 0x1111, 2);
  put_le(want, 62, 0x2222, 2);
  put_le(want, 64, 8, 2);
  put_le(want, 66, 23, 2);
  put_le(want, 68, 1, 2);
  put_le(want, 72, 0xA1A2A3A4, 4);
  put_le(want, 76, 10, 4);
  put_le(want, 80, 0x0102030405060708ull, 8);
  put_le(want, 88, 0x1112131415161718ull, 8);
  const uint32_t seg[4][3] = {{0, 0, 5}, {0, 0, 3}, {1, 9, 16}, {1, 0, 7}};
  for (int i = 0; i < 4; ++i) {
    want[96 + 6 * i] = static_cast<uint8_t>(seg[i][0]);
    put_le(want, 96 + 6 * i + 2, seg[i][1], 2);
    put_le(want, 96 + 6 * i + 4, seg[i][2], 2);
  }
  want.insert(want.end(), in0.begin(), in0.end());
  want.insert(want.end(), in1.begin(), in1.end());
  EXPECT_EQ(msg, want);

  set_message_req_id(msg.data(), 0x40000007);
  EXPECT_EQ(get_le(msg, 4, 4), 0x40000007u);
}

TEST(Framing, RequestWithoutSegmentsIs96Bytes) {
  request_buffer rb{};
  Bytes msg = frame(rb);
  ASSERT_EQ(msg.size(), 96u);
  EXPECT_EQ(get_le(msg, 16, 2), 40u);
  EXPECT_EQ(get_le(msg, 18, 2), 0u);
  EXPECT_EQ(get_le(msg, 54, 2), 0u);
}

TEST(Framing, LengthsAbove16BitsKeepTheirLowBitsInDescriptors) {
  Bytes big = tt::pattern(70000, 9);
  Bytes out(65536);
  request_buffer rb{};
  tt::add_input(rb, big);
  tt::add_output(rb, out);
  Bytes msg = frame(rb);
  ASSERT_EQ(msg.size(), 96u + 12 + 70000);
  EXPECT_EQ(get_le(msg, 16, 2), (96u + 12 + 70000 - 56) & 0xFFFF);
  EXPECT_EQ(get_le(msg, 96 + 4, 2), 70000u & 0xFFFF);  // input descriptor size
  EXPECT_EQ(get_le(msg, 102 + 4, 2), 0u);              // 65536 -> 0
  EXPECT_EQ(get_le(msg, 18, 2), 0u);                   // expected 65536: out_len 0 ...
  EXPECT_EQ(get_le(msg, 54, 2), 1u);                   // ... out_len2 1
  EXPECT_TRUE(std::equal(big.begin(), big.end(), msg.begin() + 108));
}

TEST(Framing, MessageTypeFollowsCommandType) {
  const struct {
    uint16_t command_type;
    uint8_t letter;
  } cases[] = {{0, 'V'}, {9, 'X'}, {1, 'W'}, {2, 'W'},     {3, 'W'},
               {4, 'W'}, {7, 'W'}, {8, 'W'}, {0xFEFF, 'W'}};
  for (const auto &c : cases) {
    request_buffer rb{};
    rb.command_type = c.command_type;
    EXPECT_EQ(frame(rb)[48], c.letter) << c.command_type;
  }
}

TEST(Framing, MeaningfulLengthZeroesTheRestOfAnInputInThePlainSendOnly) {
  const struct {
    uint32_t inoffset;
    size_t zeroed_from;  // 8: nothing zeroed
  } cases[] = {{0, 8}, {8, 8}, {9, 8}, {5, 5}, {1, 1}};
  Bytes in = tt::pattern(8, 0x40);
  for (const auto &c : cases) {
    request_buffer rb{};
    tt::add_input(rb, in, c.inoffset);
    Bytes plain = frame(rb);
    Bytes direct = frame(rb, {HSM_QEL1_OPERATION, 0, 0, 0, false});
    for (size_t i = 0; i < 8; ++i) {
      EXPECT_EQ(plain[102 + i], i < c.zeroed_from ? in[i] : 0) << c.inoffset << " " << i;
      EXPECT_EQ(direct[102 + i], in[i]);
    }
    EXPECT_EQ(get_le(plain, 96 + 2, 2), c.inoffset & 0xFFFF);
  }
}

TEST(Framing, RefusesCountsAndLengthsOutsideTheModel) {
  Bytes small(4);
  request_buffer many_in{};
  many_in.incnt = 33;
  request_buffer many_out{};
  many_out.outcnt = 33;
  request_buffer null_input{};
  null_input.incnt = 1;
  null_input.insize[0] = 4;
  request_buffer huge_expect{};  // 32 x 256 MiB does not fit the 32-bit expected length
  huge_expect.outcnt = 32;
  for (int i = 0; i < 32; ++i) {
    huge_expect.outptr[i] = tt::addr(small.data());
    huge_expect.outsize[i] = 0x10000000;
  }
  EXPECT_EQ(frame_status(many_in), ERR_ARGUMENTS_BAD);
  EXPECT_EQ(frame_status(many_out), ERR_ARGUMENTS_BAD);
  EXPECT_EQ(frame_status(null_input), ERR_ARGUMENTS_BAD);
  EXPECT_EQ(frame_status(huge_expect), ERR_ARGUMENTS_BAD);

  request_buffer max_ok{};  // 32 + 32 segments and an expected 0xFFFFFFFF are fine
  max_ok.incnt = 32;
  max_ok.outcnt = 32;
  for (int i = 0; i < 32; ++i) max_ok.outsize[i] = i < 31 ? 0x08000000 : 0x07FFFFFF;
  EXPECT_EQ(frame_status(max_ok), 0);
}

TEST(Framing, ControlHeaders) {
  const struct {
    op_type op;
    uint8_t letter;
    uint16_t out_len;
  } cases[] = {{HSM_HEALTH_DUMP, 'V', 72},
               {HSM_GET_FW_VERSION, 'V', 2},
               {GET_DAEMON_VERSION, 'U', 2},
               {HSM_OZV_SERVER_OPERATION, 'Q', 0},
               {CLUSTER_REQUEST_STATUS, 'U', 256}};
  for (const auto &c : cases) {
    ozv_msg_fixed h = frame_control(c.op, c.letter, 0x40000009, 1);
    Bytes b(reinterpret_cast<uint8_t *>(&h), reinterpret_cast<uint8_t *>(&h) + sizeof h);
    Bytes want(56, 0);
    put_le(want, 4, 0x40000009, 4);
    put_le(want, 18, c.out_len, 2);
    put_le(want, 20, 255, 2);
    want[48] = c.letter;
    want[49] = static_cast<uint8_t>(c.op);
    want[51] = 1;
    EXPECT_EQ(b, want) << c.op;
  }
}

TEST(Spreading, ShortLongAndEmptyAnswers) {
  struct Case {
    size_t payload;
    std::vector<uint32_t> sizes;
    bool cut;
    std::vector<uint32_t> sizes_after;
    size_t copied;
  } cases[] = {
      {10, {8, 8}, true, {8, 2}, 10},
      {20, {8, 8}, true, {8, 8}, 16},
      {0, {16, 4096}, true, {0, 0}, 0},
      {10, {8, 8}, false, {8, 8}, 10},
      {65536, {32768, 32768}, true, {32768, 32768}, 65536},
      {5, {0, 8, 8}, true, {0, 5, 0}, 5},
  };
  for (const auto &c : cases) {
    Bytes payload = tt::pattern(c.payload, 3);
    std::vector<Bytes> bufs;
    Uint64 ptr[MAX_SEGMENTS] = {};
    Uint32 size[MAX_SEGMENTS] = {};
    for (size_t i = 0; i < c.sizes.size(); ++i) bufs.emplace_back(c.sizes[i], 0xEE);
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      ptr[i] = tt::addr(bufs[i].data());
      size[i] = c.sizes[i];
    }
    spread_payload(payload.data(), static_cast<Uint32>(payload.size()), ptr, size,
                   static_cast<Uint16>(c.sizes.size()), c.cut);
    Bytes seen;
    size_t left = c.copied;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      EXPECT_EQ(size[i], c.sizes_after[i]) << c.payload << " seg " << i;
      size_t n = std::min<size_t>(left, c.sizes[i]);
      seen.insert(seen.end(), bufs[i].begin(), bufs[i].begin() + n);
      EXPECT_EQ(static_cast<size_t>(std::count(bufs[i].begin() + n, bufs[i].end(), 0xEE)),
                c.sizes[i] - n);
      left -= n;
    }
    EXPECT_EQ(seen, Bytes(payload.begin(), payload.begin() + c.copied));
  }
}

TEST(RequestIds, BothCountersWrapIntoTheirOwnRanges) {
  thread_record t{};
  t.b_req_id = 0xFFFFFFFE;
  t.nb_req_id = 0x3FFFFFFF;
  EXPECT_EQ(next_blocking_id(&t), 0xFFFFFFFEu);
  EXPECT_EQ(next_blocking_id(&t), 0x40000000u);  // 0xFFFFFFFF is never given
  EXPECT_EQ(next_blocking_id(&t), 0x40000001u);
  EXPECT_EQ(next_nonblocking_id(&t), 0x3FFFFFFFu);
  EXPECT_EQ(next_nonblocking_id(&t), 0u);
  EXPECT_EQ(next_nonblocking_id(&t), 1u);
}
