// M-of-N quorum: the records as sent, the refusals before any traffic, the
// results kept literal (raw lengths, the approved bit, cluster-incomplete
// answers), and the stand-in's tokens registered, approved, listed and
// deleted.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <functional>
#include <vector>

#include "admin_fixture.h"
#include "layout.h"
#include "qel2_admin2.h"

using namespace admin_test;

namespace {

class MofN : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    session_ = officer_session();
  }
  Uint32 new_token(token_t *t, Service service = USE_KEY, const char *user = "crypto_user") {
    Uint32 n = sizeof *t;
    Uint32 r = Qel2GetToken(session_, service, 0x1122334455667788ull,
                            const_cast<Int8 *>(reinterpret_cast<const Int8 *>(user)), t, &n, 0);
    if (r == 0) {
      EXPECT_EQ(htonl(80), n);  // ulTotalSize as its bytes arrived
    }
    return r;
  }
  static std::vector<uint8_t> approval(const std::string &who) {
    std::vector<uint8_t> a(QEL2_APPROVAL_SIZE, 0xA5);
    std::fill_n(a.begin(), 32, 0);
    std::copy(who.begin(), who.end(), a.begin());
    return a;
  }
  Uint32 session_ = 0;
};

TEST_F(MofN, RecordsAsSent) {
  // Device 1: the whole handle differs from the masked one.
  const Uint32 s = open(defaults::kPartition, 1);
  ASSERT_EQ(0u, login(s, KQ_CRYPTO_OFFICER, defaults::kOfficerName, defaults::kOfficerPassword));
  ASSERT_NE(s, s & 0x3FFFFFFF);
  d().clear_captured();

  Uint8 m = 0;
  Qel2SetMValue(s, USE_KEY, 3);
  Qel2GetMValue(s, USE_KEY, &m);
  token_t t{};
  Uint32 tlen = sizeof t;
  Qel2GetToken(s, USE_KEY, 0x1122334455667788ull,
               const_cast<Int8 *>(reinterpret_cast<const Int8 *>("crypto_user")), &t, &tlen, 9);
  std::vector<uint8_t> tokens(160, 0x11), approvals(3 * QEL2_APPROVAL_SIZE, 0x22);
  Uint32 status[3] = {};
  Qel2ApproveToken(s, &t, 2, tokens.data(), 3, approvals.data(), status);
  Uint32 size = 0, count = 0;
  Qel2ListTokens3(s, 7, nullptr, &size, &count, nullptr);
  Qel2DeleteToken(s, &t, 80, DEL_GIVEN_TOKEN);
  Qel2SetTokenTimeout(s, 30, 60, 12);
  Int32 ct = 0, at = 0;
  Qel2GetTokenTimeout(s, &ct, &at);
  Qel2GetTokenInfo(s, &t, nullptr, nullptr);
  Uint8 name[] = "approver", pswd[] = "password1";
  Qel2RegisterMofNKey(s, KQ_CRYPTO_USER, name, 8, pswd, 9, nullptr, nullptr);

  // The requests above, in the order sent; param2 is the response length.
  const std::vector<LayoutRow> sent = {
      {.opcode = KQ_SET_M_VALUE,
       .param2 = 16,
       .rlen = 16,
       .ins = {20},
       .outs = {16},
       .session = s,
       .fields = {{0, 3}, {8, 0}, {12, 0}, {16, USE_KEY}}},
      {.opcode = KQ_GET_M_VALUE,
       .param2 = 16,
       .rlen = 16,
       .ins = {20},
       .outs = {16},
       .session = s,
       .fields = {{0, 0}, {16, USE_KEY}}},
      {.opcode = KQ_GET_TOKEN,
       .param2 = 96,
       .rlen = 96,
       .ins = {104},
       .outs = {16, 80},
       .session = s,
       .fields = {{8, 9}, {12, 0}, {24, USE_KEY}, {32, 0x11223344}, {36, 0x55667788}}},
      {.opcode = KQ_APPROVE_TOKEN,
       .param2 = 36,
       .rlen = 36,
       .ins = {112, 160, 867},
       .outs = {24, 12},
       .session = s,
       .fields = {{8, 0}, {12, s}, {104, 0x00020003}, {108, 0}}},
      {.opcode = KQ_LIST_TOKENS,
       .param2 = 20,
       .rlen = 20,
       .ins = {24},
       .outs = {20},
       .session = s,
       .fields = {{12, s}, {20, 7}}},
      {.opcode = KQ_DELETE_TOKEN,
       .param2 = 16,
       .rlen = 16,
       .ins = {20, 4, 80},
       .outs = {16},
       .session = s,
       .fields = {{8, 0}, {16, htonl(80)}, {20, 0}}},
      {.opcode = KQ_TOKEN_TIMEOUT,
       .param2 = 24,
       .rlen = 24,
       .ins = {28},
       .outs = {24},
       .session = s,
       .fields = {{8, 3}, {16, 12}, {20, 30}, {24, 60}}},
      {.opcode = KQ_TOKEN_TIMEOUT,
       .index = 1,
       .param2 = 24,
       .rlen = 24,
       .ins = {28},
       .outs = {24},
       .session = s,
       .fields = {{8, 1}, {16, 0}, {20, 0}, {24, 0}}},
      {.opcode = KQ_GET_TOKEN,
       .index = 1,
       .param2 = 96,
       .rlen = 96,
       .ins = {104},
       .outs = {16},
       .session = s,
       .fields = {{8, 1}}},
      {.opcode = KQ_CHANGE_PSWD,
       .param2 = 16,
       .rlen = 16,
       .ins = {64, 9},
       .outs = {16},
       .session = s & 0x3FFFFFFF,
       .fields = {{8, 0x10}, {12, s & 0x3FFFFFFF}, {20, 1}, {24, 8}, {60, 9}}},
  };
  expect_layout(d(), sent);
  // The approval's token and the user's name travel as given.
  auto ap = sent_requests(d(), KQ_APPROVE_TOKEN)[0].body();
  EXPECT_EQ(0, memcmp(ap.data() + 24, &t, 80));
  auto gt = sent_requests(d(), KQ_GET_TOKEN)[0].body();
  EXPECT_EQ(0, memcmp(gt.data() + 56, "crypto_user\0", 12));
}

TEST_F(MofN, RefusedBeforeAnyTraffic) {
  token_t t{};
  Uint32 n = 80, size = 0, count = 0, st = 0;
  Int32 ct = 0;
  Uint8 blob[QEL2_APPROVAL_SIZE] = {};
  std::string long_user(32, 'u'), name32(32, 'n');
  Uint8 pswd[] = "password1";
  struct Case {
    const char *what;
    Uint32 expect;
    std::function<Uint32()> call;
  } cases[] = {
      {"delete flags 6", RET_INVALID_INPUT,
       [&] { return Qel2DeleteToken(session_, &t, 80, static_cast<DelTokenFlag>(6)); }},
      {"c time-out -1 with flag 4", RET_INVALID_INPUT,
       [&] { return Qel2SetTokenTimeout(session_, -1, 5, 4); }},
      {"a time-out -1 with flag 8", RET_INVALID_INPUT,
       [&] { return Qel2SetTokenTimeout(session_, 5, -1, 8); }},
      {"user of 32", ERR_INVALID_STRING_OP,
       [&] {
         return Qel2GetToken(session_, USE_KEY, 1, reinterpret_cast<Int8 *>(long_user.data()), &t,
                             &n, 0);
       }},
      {"no token length", ERR_INVALID_INPUT,
       [&] {
         return Qel2GetToken(session_, USE_KEY, 1, reinterpret_cast<Int8 *>(pswd), &t, nullptr, 0);
       }},
      {"no token", ERR_INVALID_INPUT,
       [&] { return Qel2GetTokenInfo(session_, nullptr, nullptr, nullptr); }},
      {"no approvals", RET_INVALID_INPUT,
       [&] { return Qel2ApproveToken(session_, &t, 1, blob, 1, nullptr, &st); }},
      {"no status", RET_INVALID_INPUT,
       [&] { return Qel2ApproveToken(session_, &t, 1, blob, 1, blob, nullptr); }},
      {"approvals past the limit", ERR_BUFFER_TOO_BIG,
       [&] {
         static std::vector<uint8_t> many(29 * QEL2_APPROVAL_SIZE);
         static Uint32 sts[29];
         return Qel2ApproveToken(session_, &t, 1, blob, 29, many.data(), sts);
       }},
      {"list without size", RET_INVALID_INPUT,
       [&] { return Qel2ListTokens(session_, nullptr, nullptr, &count); }},
      {"list without count", RET_INVALID_INPUT,
       [&] { return Qel2ListTokens(session_, nullptr, &size, nullptr); }},
      {"time-outs without a", RET_INVALID_INPUT,
       [&] { return Qel2GetTokenTimeout(session_, &ct, nullptr); }},
      {"register without password", ERR_INVALID_INPUT,
       [&] { return Qel2RegisterMofNKey(session_, 1, pswd, 9, pswd, 0, nullptr, nullptr); }},
      {"register a name of 32", ERR_INVALID_STRING_OP,
       [&] {
         return Qel2RegisterMofNKey(session_, 1, reinterpret_cast<Uint8 *>(name32.data()), 32, pswd,
                                    9, nullptr, nullptr);
       }},
  };
  testing::internal::CaptureStdout();
  for (const auto &c : cases) EXPECT_EQ(c.expect, c.call()) << c.what;
  EXPECT_EQ("Invalid Flags passed\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0u, sent_count(d()));
  // The edges that are sent: 31 characters, a negative time-out not selected.
  std::string user31(31, 'u');
  EXPECT_NE(Uint32{ERR_INVALID_STRING_OP},
            Qel2GetToken(session_, USE_KEY, 1, reinterpret_cast<Int8 *>(user31.data()), &t, &n, 0));
  EXPECT_EQ(0u, Qel2SetTokenTimeout(session_, -1, 5, 8));
  EXPECT_EQ(2u, sent_count(d()));
}

TEST_F(MofN, QuorumOnTheStandIn) {
  Uint8 m = 0;
  ASSERT_EQ(0u, Qel2SetMValue(session_, USE_KEY, 2));
  ASSERT_EQ(0u, Qel2GetMValue(session_, USE_KEY, &m));
  EXPECT_EQ(2, m);
  EXPECT_EQ(Uint32{0xD1}, Qel2SetMValue(session_, USE_KEY, 200));  // RET_INVALID_M_VALUE

  token_t t{}, other{};
  ASSERT_EQ(0u, new_token(&t));
  ASSERT_EQ(0u, new_token(&other, BACKUP_BY_CO, "crypto_officer"));
  EXPECT_EQ(USE_KEY, ntohs(t.s_id));
  EXPECT_EQ(0, strcmp(reinterpret_cast<char *>(t.r_user), "crypto_user"));

  // Not yet approved: two required, none so far.
  std::vector<uint8_t> info(256);
  Uint32 ti_size = static_cast<Uint32>(info.size());
  ASSERT_EQ(
      0u, Qel2GetTokenInfo(session_, &t, reinterpret_cast<token_info_t *>(info.data()), &ti_size));
  EXPECT_EQ(htonl(84), ti_size);  // ulBufferSize as its bytes arrived
  EXPECT_EQ(0, info[80] << 8 | info[81]);
  EXPECT_EQ(2, info[82] << 8 | info[83]);

  // One approval, then the same approver again and an unknown one.
  auto a1 = approval(defaults::kOfficerName), bad = approval("nobody");
  std::vector<uint8_t> two = a1;
  two.insert(two.end(), bad.begin(), bad.end());
  Uint32 status[2] = {};
  ASSERT_EQ(0u,
            Qel2ApproveToken(session_, &t, 1, reinterpret_cast<Uint8 *>(&t), 1, a1.data(), status));
  EXPECT_EQ(0u, status[0]);
  ASSERT_EQ(
      0u, Qel2ApproveToken(session_, &t, 1, reinterpret_cast<Uint8 *>(&t), 2, two.data(), status));
  EXPECT_EQ(htonl(0xA6), status[0]);  // already approved by this user
  EXPECT_EQ(htonl(0xCE), status[1]);  // no such user
  ti_size = static_cast<Uint32>(info.size());
  EXPECT_EQ(
      0u, Qel2GetTokenInfo(session_, &t, reinterpret_cast<token_info_t *>(info.data()), &ti_size));

  // The second approver reaches the quorum: the approved bit.
  auto a2 = approval(defaults::kUserName);
  ASSERT_EQ(0u, Qel2ApproveToken(session_, nullptr, 1, reinterpret_cast<Uint8 *>(&t), 1, a2.data(),
                                 status));
  ti_size = static_cast<Uint32>(info.size());
  EXPECT_EQ(0x20000000u, Qel2GetTokenInfo(session_, &t,
                                          reinterpret_cast<token_info_t *>(info.data()), &ti_size));
  EXPECT_EQ(htonl(84 + 64), ti_size);

  // Listed: a size query, then in pages of one record.
  Uint32 size = 0, count = 0, parsed = 0;
  ASSERT_EQ(0u, Qel2ListTokens(session_, nullptr, &size, &count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(148u + 84u, size);
  std::vector<uint8_t> page(150);
  size = static_cast<Uint32>(page.size());
  EXPECT_EQ(Uint32{RET_RESULT_SIZE},
            Qel2ListTokens3(session_, 0, reinterpret_cast<token_info_t *>(page.data()), &size,
                            &count, &parsed));
  EXPECT_EQ(148u, size);
  EXPECT_EQ(htonl(1), parsed);
  EXPECT_EQ(0, memcmp(page.data(), &t, 2));
  size = static_cast<Uint32>(page.size());
  ASSERT_EQ(0u, Qel2ListTokens3(session_, 1, reinterpret_cast<token_info_t *>(page.data()), &size,
                                &count, &parsed));
  EXPECT_EQ(84u, size);
  EXPECT_EQ(1u, count);
  EXPECT_EQ(0, memcmp(page.data(), &other, 80));

  // Time-outs, then deletion: the given token, then all of a user's.
  Int32 ct = 0, at = 0;
  ASSERT_EQ(0u, Qel2SetTokenTimeout(session_, 40, 90, 4 | 8));
  ASSERT_EQ(0u, Qel2GetTokenTimeout(session_, &ct, &at));
  EXPECT_EQ(40, ct);
  EXPECT_EQ(90, at);
  ASSERT_EQ(0u, Qel2DeleteToken(session_, &t, 80, DEL_GIVEN_TOKEN));
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2DeleteToken(session_, &t, 80, DEL_GIVEN_TOKEN));
  ASSERT_EQ(0u, Qel2DeleteToken(session_, nullptr, 0, DEL_ALL_USER_TOKENS));
  ASSERT_EQ(0u, Qel2ListTokens(session_, nullptr, &size, &count));
  EXPECT_EQ(0u, count);
}

TEST_F(MofN, AnswersKeptAsTheyCame) {
  // A cluster-incomplete request status on a list is decoded and yields the
  // answer's response code.
  hsmsim::Answer a = payload(Be{}.u32(0).u32(0).u32(0).u32(0).u32(3), 1);
  a.status = 0x30000081;
  d().script(KQ_MGMT_CMD, KQ_LIST_TOKENS, a);
  Uint32 size = 0, count = 0;
  EXPECT_EQ(0u, Qel2ListTokens(session_, nullptr, &size, &count));
  EXPECT_EQ(3u, count);
  // On the time-outs the same status is a failure.
  hsmsim::Answer b = payload(Be{}.u32(0).zeros(20), 1);
  b.status = 0x30000081;
  d().script(KQ_MGMT_CMD, KQ_TOKEN_TIMEOUT, b);
  Int32 ct = 7, at = 7;
  EXPECT_EQ(0x30000081u, Qel2GetTokenTimeout(session_, &ct, &at));
  EXPECT_EQ(7, ct);

  // A request id is stored; an event buffer ends the call undecoded.
  token_t t{};
  Uint32 n = 80, id = 0;
  char ev[64] = {};
  auto *user = const_cast<Int8 *>(reinterpret_cast<const Int8 *>("crypto_user"));
  ASSERT_EQ(0u, Qel2GetToken2(session_, USE_KEY, 1, user, &t, &n, 0, nullptr, &id));
  EXPECT_NE(0u, id);
  n = 80;
  id = 0;
  EXPECT_EQ(0u, Qel2GetToken2(session_, USE_KEY, 1, user, &t, &n, 0, ev, &id));
  EXPECT_EQ(80u, n);
  EXPECT_EQ(0u, id);
}

}  // namespace
