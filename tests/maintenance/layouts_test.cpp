// Every request of the firmware, clone and diagnostic calls as captured:
// command type, opcode, segment sizes, lengths, parameters, time-out and the
// session handle in the descriptor and in the command header.
#include <gtest/gtest.h>

#include <functional>

#include "maintenance_fixture.h"

using namespace maint_test;

namespace {

class Layouts : public MaintenanceTest {};

TEST_F(Layouts, RequestsAsSent) {
  std::vector<uint8_t> buf(512);
  std::string file = path("core");
  Uint32 n = 0;
  const Uint32 s = admin_, masked = admin_ & 0x3FFFFFFF;
  ASSERT_NE(s, masked);  // device bits set: the header shows which handle is sent
  enum : int64_t { kNoHeader = -1 };
  struct Case {
    const char *what;
    std::function<void()> call;
    uint16_t command_type, opcode;
    std::vector<uint16_t> in, out;
    uint16_t dlen, rlen, param1, param2;
    uint32_t timeout;
    int64_t header_session;  // big-endian word at 12 of the command
  } cases[] = {
      {"firmware begin",
       [&] { Qel2FirmwareUpdateBegin(s, 1000); },
       0,
       150,
       {32},
       {16},
       32,
       16,
       32,
       16,
       120,
       masked},
      {"bootloader begin",
       [&] { Qel2BootloaderUpdateBegin(s, 7); },
       0,
       150,
       {32},
       {16},
       32,
       16,
       32,
       16,
       120,
       masked},
      {"chunk",
       [&] { Qel2FirmwareUpdateChunk(s, buf.data(), 100); },
       0,
       5,
       {32, 100},
       {16},
       132,
       16,
       132,
       16,
       120,
       masked},
      {"end",
       [&] { Qel2FirmwareUpdateEnd(s, buf.data(), 64, 1); },
       0,
       151,
       {32, 64},
       {16},
       96,
       16,
       96,
       16,
       120,
       masked},
      {"clone source init",
       [&] {
         n = 50;
         Qel2CloneSourceInit(s, buf.data(), &n);
       },
       0,
       80,
       {28},
       {20, 50},
       28,
       70,
       28,
       70,
       120,
       masked},
      {"clone target stage 1, partition named",
       [&] {
         n = 50;
         Qel2Clone2TargetStage1(s, 5, buf.data(), 10, buf.data() + 100, &n);
       },
       0,
       83,
       {28, 10},
       {20, 50},
       38,
       70,
       38,
       70,
       120,
       masked},
      {"dump fetch",
       [&] {
         n = 300;
         Qel2DumpItFetch(s, reinterpret_cast<Int8 *>(buf.data()), &n);
       },
       KQ_DIAG_CMD,
       0,
       {},
       {300},
       0,
       300,
       0,
       300,
       120,
       kNoHeader},
      {"FIPS self-tests", [&] { Qel2InvokeFips(s); }, 0, 157, {}, {}, 0, 0, 0, 0, 360, kNoHeader},
      {"diagnostic information",
       [&] {
         HSMDiagInfo info;
         testing::internal::CaptureStdout();
         Qel2GetHSMDiagInfo(s, &info);
         testing::internal::GetCapturedStdout();
       },
       0,
       229,
       {20},
       {6160},
       20,
       6160,
       20,
       6160,
       120,
       s},
      {"core dump",
       [&] {
         testing::internal::CaptureStdout();
         Qel2GetCoreDump(s, file.data(), PASSTHROUGH_CORE_FILE_FLAG, 4, 1);
         testing::internal::GetCapturedStdout();
       },
       0,
       7,
       {28},
       {8212},
       28,
       8212,
       28,
       1,
       120,
       kNoHeader},
      {"delete core dump",
       [&] { Qel2DeleteCoreDump(s, MGMT_DAEMON_CORE_FILE_FLAG, 1); },
       0,
       8,
       {},
       {8212},
       0,
       8212,
       0,
       2,
       120,
       kNoHeader},
  };
  for (const auto &c : cases) {
    d().clear_captured();
    c.call();
    ASSERT_EQ(1u, full_requests(d())) << c.what;
    const Msg m = parse(d().captured().at(0));
    EXPECT_EQ(c.command_type, m.command_type) << c.what;
    EXPECT_EQ(c.opcode, m.opcode) << c.what;
    EXPECT_EQ(c.in, m.in_sizes) << c.what;
    EXPECT_EQ(c.out, m.out_sizes) << c.what;
    EXPECT_EQ(c.dlen, m.dlen) << c.what;
    EXPECT_EQ(c.rlen, m.rlen) << c.what;
    EXPECT_EQ(c.param1, m.param1) << c.what;
    EXPECT_EQ(c.param2, m.param2) << c.what;
    EXPECT_EQ(c.timeout, m.timeout) << c.what;
    EXPECT_EQ(masked, m.sess_handle) << c.what;
    if (c.header_session != kNoHeader) {
      EXPECT_EQ(static_cast<uint32_t>(c.header_session), be32(m.body(), 12)) << c.what;
    }
  }
}

}  // namespace
