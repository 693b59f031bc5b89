// Partitions and policies: the records as sent, the refusals before any
// traffic, HSM refusals carried only in the response code, and the
// stand-in's partitions (created, counted, labelled, resized, deleted).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "admin_fixture.h"
#include "qel2_admin.h"

using namespace admin_test;

namespace {

// A Policy head with room for a small value after it.
struct PolicyBuf {
  PolicyBuf(Uint32 id, Uint32 size, std::vector<Uint8> value = {}) {
    p()->id = id;
    p()->size = size;
    std::copy(value.begin(), value.end(), p()->value);
  }
  Policy *p() { return reinterpret_cast<Policy *>(bytes); }
  alignas(Policy) Uint8 bytes[sizeof(Policy) + 16] = {};
};

class Partitions : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    session_ = admin_session(1);  // device 1: bit 30 of the handle is set
    ASSERT_NE(0u, session_ & 0x40000000);
  }
  Uint32 create(const std::string &name, Uint32 keys = 1000, Uint8 idx = 0) {
    return Qel2CreatePartition3(session_, u8(name), static_cast<Uint8>(name.size()), keys, 16, 1, 0,
                                nullptr, 0, idx);
  }
  Uint32 session_ = 0;
};

TEST_F(Partitions, RecordsAsSent) {
  Qel2CreatePartitionNew(session_, u8("p_one"), 5, 1000, 16, 2, 1, u8("alias"), 5, 7);
  Qel2DeletePartition2(session_, u8("p_one"), 5, 3);
  Qel2ResizePartition(session_, u8("p_one"), 5, 2000, 1, 0, 0, 3, 0, 1);
  std::vector<PartitionInfo> all(QEL2_MAX_PARTITIONS);
  Qel2GetAllPartitionInfo(session_, all.data(), nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
  const Uint32 whole = session_, masked = session_ & 0x3FFFFFFF;

  auto c = sent_requests(d(), KQ_CREATE_PARTITION);
  ASSERT_EQ(1u, c.size());
  EXPECT_EQ(std::vector<uint16_t>{72}, c[0].in_sizes());
  EXPECT_EQ(std::vector<uint16_t>{32}, c[0].out_sizes());
  EXPECT_EQ(masked, c[0].sess_handle);
  auto b = c[0].body();
  EXPECT_EQ(whole, be32(b, 12));
  EXPECT_EQ(0, memcmp(b.data() + 20, "p_one\0", 6));
  EXPECT_EQ(1000u, be32(b, 36));
  EXPECT_EQ(16u, be32(b, 40));
  EXPECT_EQ(2u, be32(b, 44));
  EXPECT_EQ(1u, be32(b, 48));
  EXPECT_EQ(0, memcmp(b.data() + 52, "alias\0", 6));
  EXPECT_EQ(7, b[68]);

  auto del = sent_requests(d(), KQ_DELETE_PARTITION);
  ASSERT_EQ(1u, del.size());
  EXPECT_EQ(std::vector<uint16_t>{36}, del[0].in_sizes());
  EXPECT_EQ(std::vector<uint16_t>{16}, del[0].out_sizes());
  EXPECT_EQ(1u, be32(del[0].body(), 8));  // forced: bit 0 only
  EXPECT_EQ(whole, be32(del[0].body(), 12));

  auto rs = sent_requests(d(), KQ_RESIZE_PARTITION);
  ASSERT_EQ(1u, rs.size());
  EXPECT_EQ(std::vector<uint16_t>{60}, rs[0].in_sizes());
  EXPECT_EQ(std::vector<uint16_t>{28}, rs[0].out_sizes());
  b = rs[0].body();
  EXPECT_EQ(1u, be32(b, 8));  // backup-policy change
  EXPECT_EQ(0x01000000u, be32(b, 36));
  EXPECT_EQ(2000u, be32(b, 40));
  EXPECT_EQ(0u, be32(b, 44));
  EXPECT_EQ(0u, be32(b, 48));
  EXPECT_EQ(0u, be32(b, 52));
  EXPECT_EQ(3u, be32(b, 56));

  auto ai = sent_requests(d(), KQ_ALL_PARTITION_INFO);
  ASSERT_EQ(1u, ai.size());
  EXPECT_EQ(std::vector<uint16_t>{20}, ai[0].in_sizes());
  EXPECT_EQ(std::vector<uint16_t>{8220}, ai[0].out_sizes());
  EXPECT_EQ(whole, be32(ai[0].body(), 12));
}

TEST_F(Partitions, RawRequestsAsSent) {
  Uint8 count = 0, index[33];
  Uint32 keys[33], ssl[33], acclr[33], max = 0;
  Uint8 label[50];
  std::vector<uint8_t> table(1024);
  Uint8 policies[64];
  getPolicyArgs get{session_, 0, sizeof policies, policies};
  PolicyBuf policy(1, 4, {0, 0, 0, 9});
  setPolicyArgs set{session_, policy.p()};
  Qel2GetPartitionCount(session_, &count, index, keys, ssl, acclr);
  Qel2GetHSMLabel(session_, label);
  Qel2GetPolicySet(&get);
  Qel2SetPolicy(&set);
  Qel2PartitionInfo(0, table.data(), &max, 0x40054000);

  auto n = sent_requests(d(), KQ_GET_PARTITION_COUNT);
  ASSERT_EQ(1u, n.size());
  EXPECT_TRUE(n[0].in_sizes().empty());
  EXPECT_EQ(std::vector<uint16_t>{432}, n[0].out_sizes());
  EXPECT_EQ(432, n[0].rlen);
  EXPECT_EQ(432, n[0].param2);
  EXPECT_EQ(session_, n[0].sess_handle);  // the whole handle
  auto l = sent_requests(d(), KQ_GET_HSM_LABEL);
  ASSERT_EQ(1u, l.size());
  EXPECT_EQ(std::vector<uint16_t>{50}, l[0].out_sizes());
  EXPECT_EQ(session_, l[0].sess_handle);
  auto g = sent_requests(d(), KQ_GET_POLICY_SET);
  ASSERT_EQ(1u, g.size());
  EXPECT_EQ((std::vector<uint16_t>{8, 64}), g[0].out_sizes());
  EXPECT_EQ(72, g[0].rlen);
  auto s = sent_requests(d(), KQ_SET_POLICY);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ((std::vector<uint16_t>{72, 4}), s[0].in_sizes());
  EXPECT_TRUE(s[0].out_sizes().empty());
  EXPECT_EQ(76, s[0].dlen);
  EXPECT_EQ(0, s[0].param1);
  EXPECT_EQ(1u, be32(s[0].body(), 64));
  EXPECT_EQ(4u, be32(s[0].body(), 68));
  EXPECT_EQ(9u, be32(s[0].body(), 72));
  auto t = sent_requests(d(), 0);
  ASSERT_EQ(1u, t.size());
  EXPECT_EQ(FW_PARTN_INFO, t[0].command_type);
  EXPECT_EQ(0x40054000u, t[0].sess_handle);
  EXPECT_EQ((std::vector<uint16_t>{1, 1024}), t[0].out_sizes());
  EXPECT_EQ(1025, t[0].rlen);
  EXPECT_EQ(10u, t[0].timeout);
}

TEST_F(Partitions, RefusedBeforeAnyTraffic) {
  std::vector<PartitionInfo> all(33);
  Uint8 count, index[33];
  Uint32 sizes[33], max;
  std::vector<Uint8> big(9000);
  auto *huge = reinterpret_cast<Policy *>(big.data());
  huge->id = 1;
  huge->size = 8192 - 72 + 1;
  setPolicyArgs too_big{session_, huge};
  PolicyBuf wrap(1, 0xFFFFFFF0u);
  setPolicyArgs near_4g{session_, wrap.p()};
  setPolicyArgs no_policy{session_, nullptr};
  struct Case {
    const char *what;
    std::function<Uint32()> call;
    Uint32 code;
  } cases[] = {
      {"length 4 for five characters",
       [&] { return Qel2CreatePartition(session_, u8("p_one"), 4, 1, 1, 1, 0); },
       ERR_INVALID_INPUT},
      {"length 16", [&] { return Qel2DeletePartition(session_, u8("a_long_partition_name"), 16); },
       ERR_INVALID_INPUT},
      {"null name", [&] { return Qel2DeletePartition2(session_, nullptr, 0, 1); },
       ERR_INVALID_INPUT},
      {"alternative name of 16",
       [&] {
         return Qel2CreatePartition2(session_, u8("p"), 1, 1, 1, 1, 0, u8("sixteen_chars_xx"), 16);
       },
       ERR_INVALID_STRING_OP},
      {"resize nothing",
       [&] { return Qel2ResizePartition(session_, u8("p"), 1, 0, 1, 0, 1, 0, 1, 0); },
       ERR_INVALID_INPUT},
      {"all info without records",
       [&] {
         return Qel2GetAllPartitionInfo(session_, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
       },
       ERR_INVALID_INPUT},
      {"count without arrays",
       [&] { return Qel2GetPartitionCount(session_, &count, index, sizes, nullptr, sizes); },
       ERR_INVALID_INPUT},
      {"label without buffer", [&] { return Qel2GetHSMLabel(session_, nullptr); },
       ERR_INVALID_INPUT},
      {"policy set without args", [&] { return Qel2GetPolicySet(nullptr); }, ERR_INVALID_INPUT},
      {"set policy without policy", [&] { return Qel2SetPolicy(&no_policy); }, ERR_INVALID_INPUT},
      {"set policy above 8192", [&] { return Qel2SetPolicy(&too_big); }, ERR_BUFFER_TOO_BIG},
      {"set policy near 4 GiB", [&] { return Qel2SetPolicy(&near_4g); }, ERR_BUFFER_TOO_BIG},
      {"raw table without count", [&] { return Qel2PartitionInfo(0, big.data(), nullptr, 1); },
       ERR_INVALID_INPUT},
      {"translate without table",
       [&] { return Qel2TranslatePartitionInfo(0, all.data(), nullptr); }, ERR_INVALID_INPUT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.code, c.call());
  }
  EXPECT_EQ(0u, sent_count(d()));
  (void)max;
}

// Both status layers 0: the response code decides, and nothing is decoded
// from a refused answer.
TEST_F(Partitions, RefusalInTheResponseCodeIsNotSuccess) {
  d().script(KQ_MGMT_CMD, KQ_CREATE_PARTITION, payload(resp(RET_PARTITION_EXISTS).zeros(16), 1));
  EXPECT_EQ(RET_PARTITION_EXISTS, create("p_one"));
  d().script(KQ_MGMT_CMD, KQ_DELETE_PARTITION, payload(resp(RET_PARTITION_DEL_DENIED)));
  EXPECT_EQ(RET_PARTITION_DEL_DENIED, Qel2DeletePartition(session_, u8("p_one"), 5));
  d().script(KQ_MGMT_CMD, KQ_RESIZE_PARTITION, payload(resp(RET_INVALID_PARTITION_SIZE)));
  EXPECT_EQ(RET_INVALID_PARTITION_SIZE,
            Qel2ResizePartition(session_, u8("p_one"), 5, 9, 1, 0, 0, 0, 0, 0));
  d().script(KQ_MGMT_CMD, KQ_ALL_PARTITION_INFO,
             payload(resp(RET_USER_PERMISION_DENIED).u32(7).u32(7).u32(7).u32(7).u32(0x07070707)));
  std::vector<PartitionInfo> all(33);
  Uint32 total = 0xAA;
  EXPECT_EQ(RET_USER_PERMISION_DENIED,
            Qel2GetAllPartitionInfo(session_, all.data(), &total, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(0xAAu, total);
  d().script(KQ_MGMT_CMD, KQ_CREATE_PARTITION, status(TESSALINE_RETRY_OP));
  EXPECT_EQ(TESSALINE_RETRY_OP, create("p_two"));
}

TEST_F(Partitions, MalformedCountsAndLabels) {
  Uint8 count = 0, index[33];
  Uint32 keys[33], ssl[33], acclr[33];
  for (Uint8 bad : {Uint8{0}, Uint8{34}}) {
    d().script(KQ_MGMT_CMD, KQ_GET_PARTITION_COUNT, payload(Be{}.zeros(396).u8(bad).zeros(35), 1));
    EXPECT_EQ(QEL2_INVALID_PARTITION_COUNT,
              Qel2GetPartitionCount(session_, &count, index, keys, ssl, acclr));
    EXPECT_EQ(bad, count);
  }
  // A failed request still reports the count and the entries it carried.
  hsmsim::Answer failed = payload(Be{}.u32(500).zeros(392).u8(1).u8(9).zeros(34), 1);
  failed.status = TESSALINE_RETRY_OP;
  d().script(KQ_MGMT_CMD, KQ_GET_PARTITION_COUNT, failed);
  EXPECT_EQ(TESSALINE_RETRY_OP, Qel2GetPartitionCount(session_, &count, index, keys, ssl, acclr));
  EXPECT_EQ(1, count);
  EXPECT_EQ(9, index[0]);
  EXPECT_EQ(500u, keys[0]);

  Uint8 label[50];
  d().script(KQ_MGMT_CMD, KQ_GET_HSM_LABEL, payload(Be{}.text(std::string(50, 'L'), 50), 1));
  EXPECT_EQ(ERR_INVALID_STRING_OP, Qel2GetHSMLabel(session_, label));
  d().script(KQ_MGMT_CMD, KQ_GET_HSM_LABEL, payload(Be{}.text(std::string(49, 'L'), 50), 1));
  ASSERT_EQ(0u, Qel2GetHSMLabel(session_, label));
  EXPECT_EQ(std::string(49, 'L'), reinterpret_cast<char *>(label));
}

TEST_F(Partitions, CreatedCountedDescribedResizedDeleted) {
  // A 20-character name given with length 15 is its first 15 characters.
  ASSERT_EQ(0u, Qel2CreatePartition(session_, u8("accounts_payable_eu1"), 15, 3000, 32, 2, 0));
  ASSERT_EQ(0u, create("p_two", 1000, 20));
  EXPECT_EQ(RET_PARTITION_EXISTS, create("p_two"));
  EXPECT_EQ(RET_INVALID_PARTITION_SIZE, create("p_big", 0x7FFFFFFF));
  auto names = d().hsm().partitions();
  EXPECT_NE(std::find(names.begin(), names.end(), "accounts_payabl"), names.end());

  Uint8 count = 0, index[33];
  Uint32 keys[33], ssl[33], acclr[33];
  ASSERT_EQ(0u, Qel2GetPartitionCount(session_, &count, index, keys, ssl, acclr));
  ASSERT_EQ(4, count);
  EXPECT_EQ(20, index[3]);
  EXPECT_EQ(1000u, keys[3]);

  ASSERT_EQ(0u, Qel2ResizePartition(session_, u8("p_two"), 5, 5000, 1, 64, 1, 0, 0, 0));
  std::vector<PartitionInfo> all(33);
  Uint32 total = 0, free_parts = 0, total_keys = 0, free_keys = 0;
  ASSERT_EQ(0u, Qel2GetAllPartitionInfo(session_, all.data(), &total, &free_parts, &total_keys,
                                        &free_keys, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(4u, total);
  EXPECT_EQ(29u, free_parts);
  EXPECT_EQ(std::string("p_two"), reinterpret_cast<char *>(all[20].name));
  EXPECT_EQ(5000u, be32(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&all[20]),
                                             reinterpret_cast<uint8_t *>(&all[21])),
                        52));  // MaxKeys, big-endian
  EXPECT_EQ(total_keys - free_keys, 16384u * 2 + 3000 + 5000);

  // Raw table, translated by the daemon.
  std::vector<uint8_t> table(1024);
  Uint32 max = 0;
  ASSERT_EQ(0u, Qel2PartitionInfo(0, table.data(), &max, apps_[1]));
  EXPECT_EQ(4u, max);
  std::vector<PartitionInfo> translated(33);
  ASSERT_EQ(0u, Qel2TranslatePartitionInfo(0, translated.data(), table.data()));
  EXPECT_EQ(std::string("p_two"), reinterpret_cast<char *>(translated[3].name));

  // Not empty (its officer has company): only a forced delete goes.
  Uint32 s2 = open("p_two", 2);
  ASSERT_EQ(0u, login(s2, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
  ASSERT_EQ(0u, Qel2CreateCUPIN(s2, u8("teller"), 6, u8("teller_pw"), 9));
  EXPECT_EQ(RET_PARTITION_ALREADY_HAS_USERS, Qel2DeletePartition(session_, u8("p_two"), 5));
  ASSERT_EQ(0u, Qel2DeletePartition2(session_, u8("p_two"), 5, 1));
  EXPECT_EQ(RET_INVALID_SESSION, Qel2GetPartitionCount(s2, &count, index, keys, ssl, acclr));
  EXPECT_EQ(RET_INVALID_PARTITION_ID, Qel2DeletePartition(session_, u8("p_two"), 5));
  EXPECT_EQ(RET_PARTITION_DEL_DENIED, Qel2DeletePartition(session_, u8("PARTITION_0"), 11));

  // Only officers of partition 0 administer partitions.
  Uint32 s1 = officer_session();
  EXPECT_EQ(RET_USER_PERMISION_DENIED, Qel2CreatePartition(s1, u8("p3"), 2, 10, 1, 1, 0));
}

TEST_F(Partitions, UpToTheMaximum) {
  for (int i = 2; i < 33; ++i) ASSERT_EQ(0u, create("p" + std::to_string(i), 100)) << i;
  EXPECT_EQ(RET_MAX_PARTITIONS, create("one_more", 100));
}

TEST_F(Partitions, PolicySetAndOnePolicy) {
  getPolicyArgs q{session_, 0, 0, nullptr};
  ASSERT_EQ(0u, Qel2GetPolicySet(&q));  // size query
  EXPECT_EQ(3, q.num_policies);
  EXPECT_EQ(36, q.total_size);
  Uint8 shortbuf[20];
  getPolicyArgs s{session_, 0, sizeof shortbuf, shortbuf};
  EXPECT_EQ(RET_RESULT_SIZE, Qel2GetPolicySet(&s));
  EXPECT_EQ(36, s.total_size);

  PolicyBuf p(3, 4, {0, 0, 0, 24});
  setPolicyArgs set{session_, p.p()};
  ASSERT_EQ(0u, Qel2SetPolicy(&set));
  p.p()->id = 99;
  EXPECT_EQ(RET_INVALID_POLICY, Qel2SetPolicy(&set));

  Uint8 buf[64];
  getPolicyArgs g{session_, 0, sizeof buf, buf};
  ASSERT_EQ(0u, Qel2GetPolicySet(&g));
  std::vector<uint8_t> set_bytes(buf, buf + g.total_size);
  EXPECT_EQ(3u, be32(set_bytes, 24));  // the third policy: id, size, value
  EXPECT_EQ(4u, be32(set_bytes, 28));
  EXPECT_EQ(24u, be32(set_bytes, 32));
}

}  // namespace
