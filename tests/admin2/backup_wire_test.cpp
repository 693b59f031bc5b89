// Backup and restore on the wire: every request's layout as captured (the
// whole session handle, the partition from it when none is named), the
// answers decoded (short buffers, pages of users, the ICV), the HSM's
// refusals as the result, and the checks made before any traffic.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "admin_fixture.h"
#include "layout.h"
#include "qel2_admin2.h"

using namespace admin_test;

namespace {

// Device 3, partition 5: the partition every record carries when none is named.
constexpr Uint32 kHandle = 0xC5000123;

class BackupWire : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    start(3);
    d().clear_captured();
  }
  // The users answer: ResponseHeader (flags = next index), record length,
  // users in all, records here; then the records' bytes.
  static hsmsim::Answer users_answer(uint32_t next, uint32_t each, uint32_t total, uint32_t here,
                                     size_t data) {
    Be a = resp(0, next).u32(each).u32(total).u32(here);
    a.zeros(data);
    return payload(a, 1);
  }
};

TEST_F(BackupWire, LayoutsAsCaptured) {
  std::vector<Uint8> buf(4096), sig(100, 0x5C);
  Uint32 icv_len = 256, len = 100, idx = 7, hidx = 3, count = 0, key_len = 300, zero = 0,
         obj_len = 64, obj_zero = 0;
  Uint64 restored = 0;
  Uint8 name15[] = "abcdefghijklmno";
  // Every request carries the whole handle (device bits too), in the header and in the record.
  expect_layout(
      d(),
      {
          {.name = "backup begin, signed",
           .call = [&] { return Qel2BackupBegin(kHandle, 0, 0, sig.data(), 100, 1); },
           .opcode = 168,
           .param1 = 132,
           .param2 = 16,
           .dlen = 132,
           .rlen = 16,
           .ins = {28, 4, 100},
           .outs = {16},
           .fields = {{8, 1}, {20, 0}, {24, 5}, {28, 100}}},
          {.name = "HSM backup begin, no signature length",
           .call = [&] { return Qel2BackupBegin(kHandle, 1, 7, sig.data(), 0, 0); },
           .opcode = 169,
           .param1 = 28,
           .param2 = 16,
           .dlen = 28,
           .rlen = 16,
           .ins = {28},
           .outs = {16},
           .fields = {{8, 0}, {24, 7}}},
          {.name = "restore begin",
           .call = [&] { return Qel2RestoreBegin(kHandle, 0, 0, nullptr, 0, 0x5A); },
           .opcode = 176,
           .param1 = 28,
           .param2 = 16,
           .dlen = 28,
           .rlen = 16,
           .ins = {28},
           .outs = {16},
           .fields = {{8, 0x5A}, {24, 5}}},
          {.name = "backup end",
           .call = [&] { return Qel2BackupEnd(kHandle, 0, 0); },
           .opcode = 174,
           .param1 = 24,
           .param2 = 0,
           .dlen = 24,
           .rlen = 0,
           .ins = {24},
           .outs = {},
           .fields = {{20, 5}}},
          {.name = "HSM backup end with an ICV",
           .call = [&] { return Qel2BackupEnd2(kHandle, 2, 1, buf.data(), &icv_len); },
           .opcode = 175,
           .param1 = 24,
           .param2 = 260,
           .dlen = 24,
           .rlen = 260,
           .ins = {24},
           .outs = {4, 256},
           .fields = {{20, 2}}},
          {.name = "restore end with an ICV",
           .call = [&] { return Qel2RestoreEnd2(kHandle, 0, 0, buf.data(), 32); },
           .opcode = 180,
           .param1 = 60,
           .param2 = 0,
           .dlen = 60,
           .rlen = 0,
           .ins = {24, 4, 32},
           .outs = {},
           .fields = {{20, 5}, {24, 32}}},
          {.name = "HSM restore end",
           .call = [&] { return Qel2RestoreEnd(kHandle, 0, 1); },
           .opcode = 181,
           .param1 = 24,
           .param2 = 0,
           .dlen = 24,
           .rlen = 0,
           .ins = {24},
           .outs = {},
           .fields = {{20, 5}}},
          {.name = "configuration",
           .call = [&] { return Qel2BackupConfig(kHandle, 0, buf.data(), &len); },
           .opcode = 170,
           .param1 = 24,
           .param2 = 120,
           .dlen = 24,
           .rlen = 120,
           .ins = {24},
           .outs = {20, 100},
           .fields = {{20, 5}}},
          {.name = "HSM configuration",
           .call = [&] { return Qel2BackupHSMConfig(kHandle, buf.data(), &len, 9); },
           .opcode = 171,
           .param1 = 24,
           .param2 = 100,
           .dlen = 24,
           .rlen = 100,
           .ins = {24},
           .outs = {20, 100},
           .fields = {{20, 9, 1}, {21, 0, 1}, {22, 0, 1}, {23, 0, 1}}},
          {.name = "configuration restore",
           .call = [&] { return Qel2RestoreConfig(kHandle, 0, buf.data(), 50); },
           .opcode = 178,
           .param1 = 82,
           .param2 = 16,
           .dlen = 82,
           .rlen = 16,
           .ins = {32, 50},
           .outs = {16},
           .fields = {{20, 0}, {24, 50}, {28, 5}}},
          {.name = "HSM configuration restore",
           .call =
               [&] {
                 return Qel2RestoreHSMConfig(kHandle, buf.data(), 50, 3, 1000, 10, 2, name15);
               },
           .opcode = 183,
           .param1 = 122,
           .param2 = 16,
           .dlen = 122,
           .rlen = 16,
           .ins = {72, 50},
           .outs = {16},
           .fields = {{20, 50},
                      {24, 3},
                      {28, 1000},
                      {32, 10},
                      {36, 2},
                      {40, 0x61626364},
                      {54, 'o', 1},
                      {55, 0, 1},
                      {56, 0},
                      {68, 0}}},
          {.name = "users from an index",
           .call =
               [&] {
                 return Qel2BackupUsersFromIndex(kHandle, 0, &idx, buf.data(), &len, &count, 2);
               },
           .opcode = 172,
           .param1 = 28,
           .param2 = 100,
           .dlen = 28,
           .rlen = 100,
           .ins = {28},
           .outs = {28, 100},
           .fields = {{0, 7}, {4, 1}, {20, 2}, {24, 5}}},
          {.name = "HSM users from an index",
           .call =
               [&] {
                 return Qel2BackupHSMUsersFromIndex(kHandle, &hidx, buf.data(), &len, &count, 1, 4);
               },
           .opcode = 173,
           .param1 = 24,
           .param2 = 28,
           .dlen = 24,
           .rlen = 28,
           .ins = {24},
           .outs = {28, 100},
           .fields = {{0, 3}, {4, 1}, {20, 4, 1}, {21, 1, 1}, {22, 0, 1}}},
          {.name = "31 users restored: 30 go",
           .call =
               [&] { return Qel2RestoreUsersFromIndex(kHandle, 0, buf.data(), 100, &idx, 31, 1); },
           .opcode = 179,
           .param1 = 3152,
           .param2 = 16,
           .dlen = 3152,
           .rlen = 16,
           .ins =
               [] {
                 std::vector<uint16_t> v{32};
                 v.insert(v.end(), 30, 4);
                 v.push_back(3000);
                 return v;
               }(),
           .outs = {16},
           .fields = {{0, 1}, {20, 1, 1}, {21, 0, 1}, {24, 31}, {28, 5}, {32, 100}, {148, 100}}},
          {.name = "HSM users restored",
           .call = [&] { return Qel2RestoreHSMUsers(kHandle, buf.data(), 100, 2, 2, 6); },
           .opcode = 182,
           .param1 = 240,
           .param2 = 16,
           .dlen = 240,
           .rlen = 16,
           .ins = {32, 4, 4, 200},
           .outs = {16},
           .fields = {{0, 0}, {20, 2}, {24, 6}, {28, 2, 1}, {32, 100}}},
          {.name = "HSM users restored, none",
           .call = [&] { return Qel2RestoreHSMUsers(kHandle, buf.data(), 100, 0, 1, 0); },
           .opcode = 182,
           .param1 = 32,
           .param2 = 16,
           .dlen = 32,
           .rlen = 16,
           .ins = {32},
           .outs = {16},
           .fields = {{20, 0}}},
          {.name = "key",
           .call = [&] { return Qel2BackupKey(kHandle, 0, 0x812345678ull, buf.data(), &key_len); },
           .opcode = 187,
           .param1 = 0,
           .param2 = 320,
           .dlen = 32,
           .rlen = 320,
           .ins = {32},
           .outs = {20, 300},
           .fields = {{16, 5}, {20, 0}, {24, 8}, {28, 0x12345678}}},
          {.name = "key size only",
           .call = [&] { return Qel2BackupKey(kHandle, 9, 1, nullptr, &zero); },
           .opcode = 187,
           .param1 = 0,
           .param2 = 20,
           .dlen = 32,
           .rlen = 20,
           .ins = {32},
           .outs = {20},
           .fields = {{16, 9}}},
          {.name = "key restore, handle kept",
           .call = [&] { return Qel2RestoreKey(kHandle, 9, 1, buf.data(), 40, &restored); },
           .opcode = 188,
           .param1 = 68,
           .param2 = 32,
           .dlen = 68,
           .rlen = 32,
           .ins = {28, 40},
           .outs = {32},
           .fields = {{8, 1}, {16, 0}, {20, 9}, {24, 40}}},
          {.name = "object",
           .call =
               [&] {
                 return Qel2BackupObject(kHandle, 0, PARTITION_DATA, PO_CERT, buf.data(), &obj_len);
               },
           .opcode = 203,
           .param1 = 24,
           .param2 = 84,
           .dlen = 24,
           .rlen = 84,
           .ins = {24},
           .outs = {20, 64},
           .fields = {{16, 5}, {20, 3, 1}, {21, 3, 1}, {22, 0, 1}}},
          {.name = "object without a buffer: no segment for it",
           .call = [&] { return Qel2BackupObject(kHandle, 0, ALL, UNKNOWN, nullptr, &obj_zero); },
           .opcode = 203,
           .param1 = 24,
           .param2 = 20,
           .dlen = 24,
           .rlen = 20,
           .ins = {24},
           .outs = {20},
           .fields = {{16, 5}}},
          {.name = "object restore",
           .call =
               [&] {
                 return Qel2RestoreObject(kHandle, 0, PRIVATE, PARTITION_CSR, buf.data(), 10);
               },
           .opcode = 204,
           .param1 = 42,
           .param2 = 16,
           .dlen = 42,
           .rlen = 16,
           .ins = {32, 10},
           .outs = {16},
           .fields = {{16, 5}, {20, 0}, {24, 2, 1}, {25, 2, 1}, {28, 10}}},
      },
      {.command_type = 0, .timeout = 120, .session = kHandle, .fields = {{12, kHandle}}});
  // The signature follows its length word as sent.
  d().clear_captured();
  Qel2RestoreBegin(kHandle, 4, 1, sig.data(), 100, 0);
  auto m = sent_requests(d(), KQ_RESTORE_HSM_BEGIN);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(sig, m[0].input(2));
  EXPECT_EQ(4u, be32(m[0].body(), 24));
}

TEST_F(BackupWire, UserPages) {
  std::vector<Uint8> buf(4096);
  struct Case {
    const char *what;
    Uint32 given;
    hsmsim::Answer answer;
    Uint32 code, index, len, count;
    std::string printed;
  } cases[] = {
      {"first of two pages", 4096, users_answer(10, 100, 20, 10, 1000), RET_RESULT_SIZE, 10, 100,
       10, ""},
      {"the last page", 4096, users_answer(20, 100, 10, 10, 1000), 0, 20, 100, 10, ""},
      // A page the buffer cannot hold: refused whole, the index stays so that
      // the caller retries it with room instead of skipping its users.
      {"short buffer", 500, users_answer(10, 100, 20, 10, 500), ERR_BUFFER_TOO_SMALL, 7, 100, 10,
       "Provided buffer is smaller than required: 1000 \n"},
      {"short buffer, HSM said more follow", 500,
       [] {
         auto a = users_answer(10, 100, 20, 10, 0);
         a.status = RET_RESULT_SIZE;
         return a;
       }(),
       ERR_BUFFER_TOO_SMALL, 7, 100, 10, "Provided buffer is smaller than required: 1000 \n"},
      // 16 x 0x10000001 wraps to 16 in 32 bits.
      {"a product past 32 bits", 4096, users_answer(23, 0x10000001, 16, 16, 0),
       ERR_BUFFER_TOO_SMALL, 7, 0x10000001, 16,
       "Provided buffer is smaller than required: 4294967312 \n"},
      {"records claimed beyond those received", 4096, users_answer(10, 100, 10, 10, 300),
       TESSALINE_INVALID_MSG, 7, 100, 10, ""},
      {"the HSM's refusal", 4096, status(RET_NO_USERS_TO_BACKUP, 1), RET_NO_USERS_TO_BACKUP, 7,
       4096, 0xEEEE, ""},
  };
  for (auto &c : cases) {
    d().script(KQ_MGMT_CMD, KQ_BACKUP_USERS, c.answer);
    Uint32 index = 7, len = c.given, count = 0xEEEE;
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.code, Qel2BackupUsersFromIndex(kHandle, 0, &index, buf.data(), &len, &count, 0))
        << c.what;
    EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout()) << c.what;
    EXPECT_EQ(c.index, index) << c.what;
    EXPECT_EQ(c.len, len) << c.what;
    EXPECT_EQ(c.count, count) << c.what;
    d().clear_scripts();
  }
}

TEST_F(BackupWire, AnswersDecoded) {
  std::vector<Uint8> buf(512);
  // Configuration: a short buffer is told the length; only the partition
  // scope prints.
  d().script(KQ_MGMT_CMD, KQ_BACKUP_CONFIG, payload(resp(0).u32(40), 1));
  Uint32 len = 10;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2BackupConfig(kHandle, 0, buf.data(), &len));
  EXPECT_EQ("Buffer is too small\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(40u, len);
  d().script(KQ_MGMT_CMD, KQ_BACKUP_HSM_CONFIG, payload(resp(0).u32(40), 1));
  len = 10;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2BackupHSMConfig(kHandle, buf.data(), &len, 0));
  EXPECT_EQ("", testing::internal::GetCapturedStdout());

  // Key: the size asked without a buffer; a short one is ERR_ARGUMENTS_BAD.
  d().script(KQ_MGMT_CMD, KQ_BACKUP_KEY, payload(resp(0).u32(77)));
  len = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_ARGUMENTS_BAD, Qel2BackupKey(kHandle, 0, 1, nullptr, &len));
  EXPECT_EQ("Provided buffer of size 0 is too small than required 77\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ(77u, len);
  len = 100;
  EXPECT_EQ(0u, Qel2BackupKey(kHandle, 0, 1, nullptr, &len));
  EXPECT_EQ(77u, len);
  d().clear_scripts();

  // Object: a short buffer.
  d().script(KQ_MGMT_CMD, KQ_BACKUP_OBJECT, payload(resp(0).u32(90), 1));
  len = 64;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2BackupObject(kHandle, 0, ALL, UNKNOWN, buf.data(), &len));
  EXPECT_EQ("Provided buffer is smaller than required 90\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ(90u, len);

  // The ICV's length arrives big-endian in the caller's word and is turned.
  d().script(KQ_MGMT_CMD, KQ_BACKUP_END, payload(Be{}.u32(32).zeros(32), 1));
  Uint32 icv_len = 256;
  EXPECT_EQ(0u, Qel2BackupEnd2(kHandle, 0, 0, buf.data(), &icv_len));
  EXPECT_EQ(32u, icv_len);

  // Restored key: the new handle on success only.
  d().script(KQ_MGMT_CMD, KQ_RESTORE_KEY, payload(resp(0).u32(0).u32(0x11).u32(0x8).u32(0x22), 1));
  Uint64 h = 0;
  EXPECT_EQ(0u, Qel2RestoreKey(kHandle, 0, 1, buf.data(), 40, &h));
  EXPECT_EQ(0x800000022ull, h);
  d().script(KQ_MGMT_CMD, KQ_RESTORE_KEY, status(RET_PARTITION_KEY_STORE_FULL, 1));
  h = 5;
  EXPECT_EQ(Uint32(RET_PARTITION_KEY_STORE_FULL),
            Qel2RestoreKey(kHandle, 0, 1, buf.data(), 40, &h));
  EXPECT_EQ(5u, h);

  // The response code is not examined: the request status is the result.
  d().script(KQ_MGMT_CMD, KQ_RESTORE_CONFIG, payload(resp(0x55), 1));
  EXPECT_EQ(0u, Qel2RestoreConfig(kHandle, 0, buf.data(), 20));
  d().script(KQ_MGMT_CMD, KQ_RESTORE_USERS, payload(resp(0, 12), 1));
  Uint32 idx = 0;
  EXPECT_EQ(0u, Qel2RestoreUsersFromIndex(kHandle, 0, buf.data(), 100, &idx, 3, 1));
  EXPECT_EQ(12u, idx);
}

TEST_F(BackupWire, RefusedBeforeAnyTraffic) {
  std::vector<Uint8> buf(9000);
  Uint8 *b = buf.data();
  Uint32 l = 100, n = 0;
  Uint64 h = 0;
  Uint8 name16[] = "abcdefghijklmnop";
  struct Case {
    const char *what;
    Uint32 expect;
    std::function<Uint32()> call;
  } cases[] = {
      {"configuration without buffer", ERR_ARGUMENTS_BAD,
       [&] { return Qel2BackupConfig(kHandle, 0, nullptr, &l); }},
      {"HSM configuration without length", ERR_ARGUMENTS_BAD,
       [&] { return Qel2BackupHSMConfig(kHandle, b, nullptr, 0); }},
      {"configuration restore of nothing", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreConfig(kHandle, 0, b, 0); }},
      {"configuration restore past the limit, wrapping in 32 bits", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2RestoreConfig(kHandle, 0, b, 0xFFFFFFF0u); }},
      {"HSM configuration of partition 33", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreHSMConfig(kHandle, b, 10, 33, 1, 1, 1, name16); }},
      {"HSM configuration, no key store", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreHSMConfig(kHandle, b, 10, 1, 0, 1, 1, name16); }},
      {"HSM configuration without a name", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreHSMConfig(kHandle, b, 10, 1, 1, 1, 1, nullptr); }},
      {"HSM configuration, 16 characters", ERR_INVALID_STRING_OP,
       [&] { return Qel2RestoreHSMConfig(kHandle, b, 10, 1, 1, 1, 1, name16); }},
      {"users without count", ERR_ARGUMENTS_BAD,
       [&] { return Qel2BackupUsers(kHandle, 0, b, &l, nullptr, 1); }},
      {"HSM users of type 3", ERR_ARGUMENTS_BAD,
       [&] { return Qel2BackupHSMUsers(kHandle, b, &l, &n, 3, 0); }},
      {"1025 users", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreUsers(kHandle, 0, b, 100, 1025, 1); }},
      {"no users", RET_NO_USERS_TO_RESTORE,
       [&] { return Qel2RestoreUsers(kHandle, 0, b, 100, 0, 1); }},
      {"records of 609 bytes", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreUsers(kHandle, 0, b, 609, 2, 1); }},
      {"user records without data", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreUsers(kHandle, 0, nullptr, 100, 2, 1); }},
      // 30 x 0x08888889 wraps to 0x1E in 32 bits.
      {"HSM user records past the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2RestoreHSMUsers(kHandle, b, 0x08888889u, 30, 1, 0); }},
      {"HSM user records without data", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreHSMUsers(kHandle, nullptr, 100, 1, 1, 0); }},
      {"key without length", RET_INVALID_INPUT,
       [&] { return Qel2BackupKey(kHandle, 0, 1, b, nullptr); }},
      {"key restore without a handle out", RET_INVALID_INPUT,
       [&] { return Qel2RestoreKey(kHandle, 0, 0, b, 40, nullptr); }},
      {"key restore past the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2RestoreKey(kHandle, 0, 0, b, 8170, &h); }},
      {"object without length", ERR_ARGUMENTS_BAD,
       [&] { return Qel2BackupObject(kHandle, 0, ALL, UNKNOWN, b, nullptr); }},
      {"object restore of nothing", ERR_ARGUMENTS_BAD,
       [&] { return Qel2RestoreObject(kHandle, 0, ALL, UNKNOWN, nullptr, 10); }},
      {"signature past the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2BackupBegin(kHandle, 0, 0, b, 0xFFFFFFF0u, 0); }},
      {"ICV past the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2RestoreEnd2(kHandle, 0, 0, b, 0xFFFFFFFFu); }},
  };
  for (const auto &c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.expect, c.call()) << c.what;
    testing::internal::GetCapturedStdout();
  }
  EXPECT_EQ(0u, sent_count(d()));
}

}  // namespace
