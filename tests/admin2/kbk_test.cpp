// Key backup key export and import: the records as sent (the whole session
// handle, the partition from it when none is named), short export buffers,
// the refusals before traffic, and a KBK carried from one partition of the
// stand-in to another.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "admin_fixture.h"
#include "qel2_admin2.h"

using namespace admin_test;

namespace {

class Kbk : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    admin_ = admin_session(1);  // device 1, partition 0
  }
  // One blob under a mechanism: AES key wrap is deterministic, so equal
  // blobs mean equal KBKs.
  std::vector<uint8_t> export_blob(Uint32 partition) {
    std::vector<uint8_t> b(256);
    Uint32 n = 256;
    EXPECT_EQ(0u, Qel2ExportKBK(admin_, b.data(), &n, nullptr, nullptr, partition, 0x1090));
    b.resize(n);
    return b;
  }
  Uint32 admin_ = 0;
};

TEST_F(Kbk, RecordsAsSent) {
  std::vector<uint8_t> buf(256);
  Uint32 l1 = 256, l2 = 0, l3 = 0;
  ASSERT_EQ(0u, Qel2ExportKBK(admin_, buf.data(), &l1, &l2, &l3, 0, 0));
  EXPECT_EQ(40u, l1);
  EXPECT_EQ(40u, l2);
  EXPECT_EQ(40u, l3);
  ASSERT_EQ(0u,
            Qel2ImportKBK(admin_, buf.data(), buf.data() + 40, buf.data() + 80, 40, 40, 40, 0, 0));
  Uint8 blob[40] = {};
  Qel2ImportKBK(admin_, blob, nullptr, nullptr, 40, 0, 0, 1, 0x1090);

  auto e = sent_requests(d(), KQ_WRAP_KBK);
  ASSERT_EQ(1u, e.size());
  EXPECT_EQ(admin_, e[0].sess_handle);
  EXPECT_EQ(std::vector<uint16_t>{28}, e[0].in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{28, 256}), e[0].out_sizes());
  EXPECT_EQ(28, e[0].param1);
  EXPECT_EQ(284, e[0].param2);
  EXPECT_EQ(284, e[0].rlen);
  EXPECT_EQ(admin_, be32(e[0].body(), 12));
  EXPECT_EQ(0u, be32(e[0].body(), 20));
  EXPECT_EQ(0u, be32(e[0].body(), 24));  // partition 0, from the handle

  auto i = sent_requests(d(), KQ_UNWRAP_KBK);
  ASSERT_EQ(2u, i.size());
  EXPECT_EQ((std::vector<uint16_t>{40, 40, 40, 40}), i[0].in_sizes());
  EXPECT_EQ(std::vector<uint16_t>{16}, i[0].out_sizes());
  EXPECT_EQ(16, i[0].param2);
  EXPECT_EQ(40u, be32(i[0].body(), 32));
  EXPECT_EQ((std::vector<uint16_t>{40, 40}), i[1].in_sizes());
  EXPECT_EQ(80, i[1].dlen);
  auto b = i[1].body();
  EXPECT_EQ(0x1090u, be32(b, 20));
  EXPECT_EQ(1u, be32(b, 24));
  EXPECT_EQ(40u, be32(b, 28));
  EXPECT_EQ(0u, be32(b, 32));
  EXPECT_EQ(0u, be32(b, 36));
}

TEST_F(Kbk, ShortExportBuffers) {
  struct Case {
    uint32_t k1, k2, k3, code;
    std::string printed;
  } cases[] = {
      {40, 50, 60, 0, ""},
      {100, 100, 100, ERR_BUFFER_TOO_SMALL, "Provided buffer is smaller than required 300\n"},
      // Lengths whose 32-bit sum would wrap below the buffer size.
      {0xFFFFFFF0u, 0x20, 0, ERR_BUFFER_TOO_SMALL,
       "Provided buffer is smaller than required 4294967312\n"},
  };
  for (const auto &c : cases) {
    Be answer = Be{}.u32(0).u32(0).u32(0).u32(0).u32(c.k1).u32(c.k2).u32(c.k3);
    answer.zeros(c.code ? 0 : 150);
    d().script(KQ_MGMT_CMD, KQ_WRAP_KBK, payload(answer, 1));
    std::vector<uint8_t> buf(256);
    Uint32 l1 = 256, l2 = 0, l3 = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.code, Qel2ExportKBK(admin_, buf.data(), &l1, &l2, &l3, 0, 0)) << c.k1;
    EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout());
    EXPECT_EQ(c.k1, l1);
    EXPECT_EQ(c.k2, l2);
    EXPECT_EQ(c.k3, l3);
  }
  // The HSM's refusal is the request status: no such partition.
  std::vector<uint8_t> buf(256);
  Uint32 l1 = 256;
  EXPECT_EQ(0xBDu, Qel2ExportKBK(admin_, buf.data(), &l1, nullptr, nullptr, 9, 0x1090));
  EXPECT_EQ(256u, l1);
}

TEST_F(Kbk, RefusedBeforeAnyTraffic) {
  Uint8 k[40] = {};
  Uint32 l = 40;
  std::vector<uint8_t> big(8200);
  struct Case {
    const char *what;
    Uint32 expect;
    std::function<Uint32()> call;
  } cases[] = {
      {"no buffer", ERR_ARGUMENTS_BAD,
       [&] { return Qel2ExportKBK(admin_, nullptr, &l, &l, &l, 0, 0); }},
      {"three parts without length 3", ERR_ARGUMENTS_BAD,
       [&] { return Qel2ExportKBK(admin_, k, &l, &l, nullptr, 0, 0); }},
      {"import without part 1", ERR_ARGUMENTS_BAD,
       [&] { return Qel2ImportKBK(admin_, nullptr, k, k, 40, 40, 40, 0, 0); }},
      {"three parts with length 2 of 0", ERR_ARGUMENTS_BAD,
       [&] { return Qel2ImportKBK(admin_, k, k, k, 40, 0, 40, 0, 0); }},
      {"three parts without part 3", ERR_ARGUMENTS_BAD,
       [&] { return Qel2ImportKBK(admin_, k, k, nullptr, 40, 40, 40, 0, 0); }},
      {"parts past the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2ImportKBK(admin_, big.data(), k, k, 8150, 40, 40, 0, 0); }},
  };
  for (const auto &c : cases) EXPECT_EQ(c.expect, c.call()) << c.what;
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(Kbk, CarriedFromOnePartitionToAnother) {
  const auto p1 = export_blob(1), p0 = export_blob(0);
  ASSERT_EQ(40u, p1.size());
  ASSERT_NE(p1, p0);
  // Three parts of partition 1's KBK, imported into partition 0.
  std::vector<uint8_t> parts(256);
  Uint32 l1 = 256, l2 = 0, l3 = 0;
  ASSERT_EQ(0u, Qel2ExportKBK(admin_, parts.data(), &l1, &l2, &l3, 1, 0));
  ASSERT_EQ(0u, Qel2ImportKBK(admin_, parts.data(), parts.data() + l1, parts.data() + l1 + l2, l1,
                              l2, l3, 0, 0));
  EXPECT_EQ(p1, export_blob(0));
  // A part altered in transit does not unwrap; the KBK stays.
  parts[3] ^= 1;
  EXPECT_NE(0u, Qel2ImportKBK(admin_, parts.data(), parts.data() + l1, parts.data() + l1 + l2, l1,
                              l2, l3, 0, 0));
  EXPECT_EQ(p1, export_blob(0));
  // The single blob imports as well.
  ASSERT_EQ(0u, Qel2ImportKBK(admin_, const_cast<Uint8 *>(p0.data()), nullptr, nullptr, 40, 0, 0, 0,
                              0x1090));
  EXPECT_EQ(p0, export_blob(0));
}

}  // namespace
