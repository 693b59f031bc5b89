#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/be_codec.h"

using qel2::BeReader;
using qel2::BeWriter;

TEST(BeCodec, WritesBigEndianAndStopsAtTheEnd) {
  uint8_t buf[16];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  BeWriter w(buf, 14);
  w.u8(1).u16(0x0203).u32(0x04050607).u64(0x08090A0B0C0D0E0Full);
  EXPECT_FALSE(w.ok());  // 14 bytes hold only 7 of the 8 bytes of the last field
  EXPECT_EQ(7u, w.size());
  const uint8_t want[7] = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(0, memcmp(want, buf, 7));
  EXPECT_EQ(0xEE, buf[7]);  // nothing of the refused field was written
  w.u8(9);                  // failure is sticky
  EXPECT_EQ(7u, w.size());
}

TEST(BeCodec, FixedFieldsPadAndCut) {
  uint8_t buf[8];
  BeWriter w(buf, sizeof buf);
  w.fixed("abcdef", 6, 4).fixed("x", 1, 4);
  ASSERT_TRUE(w.ok());
  const uint8_t want[8] = {'a', 'b', 'c', 'd', 'x', 0, 0, 0};
  EXPECT_EQ(0, memcmp(want, buf, 8));
  BeWriter n(nullptr, 100);
  n.u8(1);
  EXPECT_FALSE(n.ok());
}

TEST(BeCodec, ReaderFailsWithoutTouchingMemoryPastTheEnd) {
  const uint8_t data[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  BeReader r(data, sizeof data);
  EXPECT_EQ(0x12345678u, r.u32());
  EXPECT_EQ(0u, r.u32());
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(0u, r.u16());  // still failed, even though two bytes remain

  BeReader v(data, sizeof data);
  EXPECT_EQ(nullptr, v.skip(2).view(5));
  uint8_t out[4] = {1, 1, 1, 1};
  BeReader b(data, 3);
  b.bytes(out, 4);
  EXPECT_FALSE(b.ok());
  EXPECT_EQ(0, out[0]);  // refused copies leave a zeroed destination
  EXPECT_EQ(0x9ABCu, qel2::be16_at(data + 4));
  EXPECT_EQ(0x0000123456789ABCull,
            qel2::be64_at(std::vector<uint8_t>{0, 0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}.data()));
}
