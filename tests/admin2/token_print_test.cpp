// Token printing against expected text: well-formed tokens and runs of
// token information, and records that do not fit the stated size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qel2_admin2.h"
#include "wire_view.h"

using mgmt_test::Be;

namespace {

// An 80-byte token as the HSM sends it.
Be token(uint16_t id, uint16_t service, uint32_t node, uint64_t key, const std::string &user,
         uint64_t c_time, uint64_t a_time) {
  Be b;
  b.u16(id).u16(service).u32(node).u32(uint32_t(key >> 32)).u32(uint32_t(key)).zeros(16);
  b.text(user, 32).u32(uint32_t(c_time >> 32)).u32(uint32_t(c_time));
  b.u32(uint32_t(a_time >> 32)).u32(uint32_t(a_time));
  return b;
}

Be info(const Be &t, uint16_t required, const std::vector<std::string> &approvers) {
  Be b = t;
  b.u16(static_cast<uint16_t>(approvers.size())).u16(required);
  for (const auto &a : approvers) b.text(a, 32);
  return b;
}

template <typename F>
std::string printed(F f, int *ret = nullptr) {
  testing::internal::CaptureStdout();
  int r = f();
  fflush(stdout);
  if (ret) *ret = r;
  return testing::internal::GetCapturedStdout();
}

const std::string kToken = "Token:\nId:1a\nService:5\nNode:7\nKey Handle:4294967298\nUser:alice\n";

std::string record(int number, const std::string &validity, const std::string &rest) {
  return "-------- Token - " + std::to_string(number) + " ----------\n" + kToken + validity + rest;
}

TEST(TokenPrint, OneToken) {
  struct Case {
    uint32_t tlen;
    int flag;
    uint64_t c_time, a_time;
    std::string text;
  } cases[] = {
      {80, 0, 5, 6, kToken},
      {80, 1, 40, 30, kToken + "Token Validity: 40 sec\n"},
      {80, 1, 0, 30, kToken + "Token Validity: 30 sec\n"},
      {80, 1, 0, 0, kToken + "Token Validity : 0 sec\n"},
      {160, 1, 0, 0, "Multi token print is not supported by Qel2PrintToken\n"},
  };
  for (const auto &c : cases) {
    std::vector<uint8_t> t = token(0x1A, 5, 7, 0x100000002ull, "alice", c.c_time, c.a_time);
    auto *tp = reinterpret_cast<token_t *>(t.data());
    EXPECT_EQ(c.text, printed([&] { return Qel2PrintToken(tp, c.tlen, c.flag); }))
        << c.tlen << " " << c.c_time << " " << c.a_time;
  }
}

TEST(TokenPrint, UserNameBoundedToItsField) {
  std::vector<uint8_t> t = token(0x1A, 5, 7, 0x100000002ull, "", 0, 0);
  std::fill(t.begin() + 32, t.begin() + 64, 'x');  // no NUL in the field
  std::fill(t.begin() + 64, t.end(), 'y');
  auto out = printed([&] { return Qel2PrintToken(reinterpret_cast<token_t *>(t.data()), 80, 0); });
  EXPECT_NE(std::string::npos, out.find("User:" + std::string(32, 'x') + "\n"));
}

TEST(TokenPrint, InfoRuns) {
  const Be t = token(0x1A, 5, 7, 0x100000002ull, "alice", 0, 30);
  std::vector<uint8_t> one = info(t, 3, {"bob", "carol"});
  ASSERT_EQ(148u, one.size());
  const std::string counts2 = "Required num of approvers : 3\nCurrent num of approvals : 2\n";
  const std::string first =
      record(1, "Token Validity: 30 sec\n", counts2 + "Approver-0: bob\nApprover-1: carol\n");
  int r = 0;
  EXPECT_EQ(first, printed([&] { return Qel2PrintTokenInfo(one.data(), 148, 5); }, &r));
  EXPECT_EQ(148, r);

  // Ten bytes more than the records: the size message after the last one.
  std::vector<uint8_t> padded = one;
  padded.resize(158);
  const std::string differs = " total size differs offset=148 and ti_size=158\n";
  EXPECT_EQ(
      record(3, "Token Validity: 30 sec\n", counts2 + "Approver-0: bob\nApprover-1: carol\n") +
          differs,
      printed([&] { return Qel2PrintTokenInfo2(padded.data(), 158, 1, 2); }, &r));
  EXPECT_EQ(static_cast<int>(differs.size()), r);
}

TEST(TokenPrint, RecordsThatDoNotFitAreNotPrinted) {
  const Be t = token(0x1A, 5, 7, 0x100000002ull, "alice", 0, 30);
  std::vector<uint8_t> two = info(t, 1, {});
  std::vector<uint8_t> second = info(t, 2, {"bob"});
  two.insert(two.end(), second.begin(), second.end());
  ASSERT_EQ(84u + 116u, two.size());
  const std::string first = record(4, "Token Validity: 30 sec\n",
                                   "Required num of approvers : 1\nCurrent num of approvals : 0\n");

  // Bounded walk: the second record's offset line, then its number. Its
  // approval count lies past ti_size and is not read: the line shows the
  // head's length.
  std::vector<uint8_t> cut150(two.begin(), two.begin() + 150);
  int r = 0;
  EXPECT_EQ("offset: 0, len: 84, ti_size: 150, i: 4\n" + first +
                "offset: 84, len: 84, ti_size: 150, i: 5\n",
            printed([&] { return Qel2PrintTokenInfo3(cut150.data(), 150, 2, 4); }, &r));
  EXPECT_EQ(5, r);

  // Walk from the start, the same run cut at 150 or inside the first head:
  // nothing is read past ti_size (ASan watches the exact-size copies).
  struct Case {
    uint32_t size;
    std::string text;
  } cases[] = {
      {150, record(1, "Token Validity: 30 sec\n",
                   "Required num of approvers : 1\nCurrent num of approvals : 0\n") +
                " total size differs offset=84 and ti_size=150\n"},
      {60, " total size differs offset=0 and ti_size=60\n"},
  };
  for (const auto &c : cases) {
    std::vector<uint8_t> cut(two.begin(), two.begin() + c.size);
    EXPECT_EQ(c.text, printed([&] { return Qel2PrintTokenInfo(cut.data(), c.size, 2); })) << c.size;
  }
  std::vector<uint8_t> head(two.begin(), two.begin() + 60);
  EXPECT_EQ("offset: 0, len: 84, ti_size: 60, i: 0\n",
            printed([&] { return Qel2PrintTokenInfo3(head.data(), 60, 1, 0); }));
}

}  // namespace
