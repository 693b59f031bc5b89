// Partition private data: the chunks as sent, the stand-in's blobs written
// and read back in chunks, short and over-claiming answers, and the checks
// made before any traffic.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "admin_fixture.h"
#include "qel2_admin2.h"

using namespace admin_test;

namespace {

class PrivateData : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    session_ = officer_session();
  }
  Uint32 put(const std::string &name, std::vector<uint8_t> &data, Uint32 offset = 0) {
    return Qel2UpdatePartnPriveData(session_, const_cast<Uint8 *>(u8(name)), len(name), data.data(),
                                    static_cast<Uint32>(data.size()), offset);
  }
  Uint32 get(const std::string &name, std::vector<uint8_t> &buf, Uint32 *n, Uint32 offset = 0) {
    *n = static_cast<Uint32>(buf.size());
    return Qel2GetPartnPriveData(session_, const_cast<Uint8 *>(u8(name)), len(name), buf.data(), n,
                                 offset);
  }
  static std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
  }
  Uint32 session_ = 0;
};

TEST_F(PrivateData, ChunksAsSent) {
  struct Case {
    size_t len;
    std::vector<std::pair<uint32_t, uint32_t>> chunks;  // size, flag
  } cases[] = {
      {8140, {{8140, 3}}},
      {8141, {{8140, 1}, {1, 2}}},
      {20000, {{8140, 1}, {8140, 0}, {3720, 2}}},
  };
  for (const auto &c : cases) {
    d().clear_captured();
    auto data = pattern(c.len);
    ASSERT_EQ(0u, put("blob", data, 5)) << c.len;
    auto sent = sent_requests(d(), KQ_PARTN_STORAGE_UPDATE);
    ASSERT_EQ(c.chunks.size(), sent.size()) << c.len;
    uint32_t pos = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
      const auto &m = sent[i];
      const auto [size, flag] = c.chunks[i];
      EXPECT_EQ((std::vector<uint16_t>{52, static_cast<uint16_t>(size)}), m.in_sizes());
      EXPECT_EQ(std::vector<uint16_t>{16}, m.out_sizes());
      EXPECT_EQ(session_ & 0x3FFFFFFF, m.sess_handle);
      EXPECT_EQ(52 + size, m.dlen);
      auto b = m.body();
      EXPECT_EQ(std::vector<uint8_t>(20, 0), std::vector<uint8_t>(b.begin(), b.begin() + 20));
      EXPECT_EQ(size, be32(b, 20));
      EXPECT_EQ(c.len, be32(b, 24));
      EXPECT_EQ(5 + pos, be32(b, 28));
      EXPECT_EQ(flag, be32(b, 32));
      EXPECT_EQ(0, memcmp(b.data() + 36, "blob\0\0\0\0\0\0\0\0\0\0\0\0", 16));
      EXPECT_EQ(0, memcmp(b.data() + 52, data.data() + pos, size));
      pos += size;
    }
  }
}

TEST_F(PrivateData, WrittenAndReadBackInChunks) {
  auto big = pattern(20000), small = pattern(5000);
  ASSERT_EQ(0u, put("big", big));
  ASSERT_EQ(0u, put("small", small));

  std::vector<uint8_t> buf(30000);
  Uint32 n = 0;
  ASSERT_EQ(0u, get("big", buf, &n));
  ASSERT_EQ(20000u, n);
  EXPECT_TRUE(std::equal(big.begin(), big.end(), buf.begin()));

  // A buffer of 10000 from 5000 bytes: one chunk asks 8140, gets 5000.
  d().clear_captured();
  buf.assign(10000, 0);
  ASSERT_EQ(0u, get("small", buf, &n));
  EXPECT_EQ(5000u, n);
  EXPECT_TRUE(std::equal(small.begin(), small.end(), buf.begin()));
  auto reads = sent_requests(d(), KQ_PARTN_STORAGE_GET);
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ(std::vector<uint16_t>{44}, reads[0].in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{16, 8140}), reads[0].out_sizes());
  EXPECT_EQ(8140u, be32(reads[0].body(), 20));

  // At an offset, into a buffer that fills before the blob ends.
  buf.assign(9000, 0);
  ASSERT_EQ(0u, get("big", buf, &n, 10000));
  EXPECT_EQ(9000u, n);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), big.begin() + 10000));

  // Deleted, it is gone; the other blob stays.
  ASSERT_EQ(0u, Qel2DeletePartnPriveData(session_, const_cast<Uint8 *>(u8("big")), 3));
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, get("big", buf, &n));
  EXPECT_EQ(0u, n);
  buf.assign(5000, 0);
  EXPECT_EQ(0u, get("small", buf, &n));
}

TEST_F(PrivateData, AnswersClaimingMoreThanAsked) {
  Uint8 name[] = "x";
  std::vector<uint8_t> buf(50);
  // More than asked: the needed length and ERR_BUFFER_TOO_SMALL.
  d().script(KQ_MGMT_CMD, KQ_PARTN_STORAGE_GET,
             payload(Be{}.u32(0).u32(0).u32(0).u32(100).zeros(50), 1));
  Uint32 n = 50;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Uint32{ERR_BUFFER_TOO_SMALL},
            Qel2GetPartnPriveDatachunk(session_, name, 1, buf.data(), &n, 0));
  EXPECT_EQ("Provided buffer is too small\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(100u, n);
  // Within the buffer but more than arrived: not read as data.
  d().script(KQ_MGMT_CMD, KQ_PARTN_STORAGE_GET,
             payload(Be{}.u32(0).u32(0).u32(0).u32(40).zeros(10), 1));
  n = 50;
  EXPECT_EQ(Uint32{TESSALINE_INVALID_MSG},
            Qel2GetPartnPriveDatachunk(session_, name, 1, buf.data(), &n, 0));
  EXPECT_EQ(50u, n);
}

TEST_F(PrivateData, RefusedBeforeAnyTraffic) {
  Uint8 data[16] = {};
  Uint8 name15[] = "abcdefghijklmno", name16[] = "abcdefghijklmnop", name[] = "abc";
  std::vector<uint8_t> big(8141);
  Uint32 n = 8;
  struct Case {
    const char *what;
    Uint32 expect;
    std::function<Uint32()> call;
  } cases[] = {
      {"length differs", ERR_INVALID_INPUT,
       [&] { return Qel2UpdatePartnPriveData(session_, name, 2, data, 4, 0); }},
      {"null name", ERR_INVALID_INPUT,
       [&] { return Qel2UpdatePartnPriveData(session_, nullptr, 0, data, 4, 0); }},
      {"null data", ERR_INVALID_INPUT,
       [&] { return Qel2UpdatePartnPriveDataChunk(session_, name, 3, nullptr, 4, 4, 0, 3); }},
      {"empty blob", ERR_INVALID_INPUT,
       [&] { return Qel2UpdatePartnPriveData(session_, name, 3, data, 0, 0); }},
      {"blob past 32 bits", ERR_INVALID_INPUT,
       [&] { return Qel2UpdatePartnPriveData(session_, name, 3, data, 16, 0xFFFFFFF8u); }},
      {"chunk over the limit", ERR_BUFFER_TOO_BIG,
       [&] {
         return Qel2UpdatePartnPriveDataChunk(session_, name, 3, big.data(), 8141, 8141, 0, 3);
       }},
      {"16 characters as 16", ERR_INVALID_INPUT,
       [&] { return Qel2DeletePartnPriveData(session_, name16, 16); }},
      {"null length", ERR_INVALID_INPUT,
       [&] { return Qel2GetPartnPriveDatachunk(session_, name, 3, data, nullptr, 0); }},
      {"null buffer", ERR_INVALID_INPUT,
       [&] { return Qel2GetPartnPriveData(session_, name, 3, nullptr, &n, 0); }},
  };
  for (const auto &c : cases) EXPECT_EQ(c.expect, c.call()) << c.what;
  EXPECT_EQ(0u, sent_count(d()));

  // 15 characters, and a longer name given as its first 15, are the same name.
  std::vector<uint8_t> v = pattern(10);
  ASSERT_EQ(0u, Qel2UpdatePartnPriveData(session_, name15, 15, v.data(), 10, 0));
  std::vector<uint8_t> back(10);
  n = 10;
  ASSERT_EQ(0u, Qel2GetPartnPriveData(session_, name16, 15, back.data(), &n, 0));
  EXPECT_EQ(v, back);
}

}  // namespace
