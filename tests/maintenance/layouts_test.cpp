// Every request of the firmware, clone and diagnostic calls as captured:
// command type, opcode, segment sizes, lengths, parameters, time-out and the
// session handle in the descriptor and in the command header.
#include <gtest/gtest.h>

#include <functional>

#include "layout.h"
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
  // Every request carries the masked handle in its header; command type 0
  // and time-out 120 unless a row says otherwise.
  const LayoutRow::Field masked_header{12, masked, 4, "the masked handle in the command header"};
  expect_layout(
      d(),
      {
          {.name = "firmware begin",
           .call = [&] { return Qel2FirmwareUpdateBegin(s, 1000); },
           .opcode = 150,
           .param1 = 32,
           .param2 = 16,
           .dlen = 32,
           .rlen = 16,
           .ins = {32},
           .outs = {16},
           .fields = {masked_header}},
          {.name = "bootloader begin",
           .call = [&] { return Qel2BootloaderUpdateBegin(s, 7); },
           .opcode = 150,
           .param1 = 32,
           .param2 = 16,
           .dlen = 32,
           .rlen = 16,
           .ins = {32},
           .outs = {16},
           .fields = {masked_header}},
          {.name = "chunk",
           .call = [&] { return Qel2FirmwareUpdateChunk(s, buf.data(), 100); },
           .opcode = 5,
           .param1 = 132,
           .param2 = 16,
           .dlen = 132,
           .rlen = 16,
           .ins = {32, 100},
           .outs = {16},
           .fields = {masked_header}},
          {.name = "end",
           .call = [&] { return Qel2FirmwareUpdateEnd(s, buf.data(), 64, 1); },
           .opcode = 151,
           .param1 = 96,
           .param2 = 16,
           .dlen = 96,
           .rlen = 16,
           .ins = {32, 64},
           .outs = {16},
           .fields = {masked_header}},
          {.name = "clone source init",
           .call =
               [&] {
                 n = 50;
                 return Qel2CloneSourceInit(s, buf.data(), &n);
               },
           .opcode = 80,
           .param1 = 28,
           .param2 = 70,
           .dlen = 28,
           .rlen = 70,
           .ins = {28},
           .outs = {20, 50},
           .fields = {masked_header}},
          {.name = "clone target stage 1, partition named",
           .call =
               [&] {
                 n = 50;
                 return Qel2Clone2TargetStage1(s, 5, buf.data(), 10, buf.data() + 100, &n);
               },
           .opcode = 83,
           .param1 = 38,
           .param2 = 70,
           .dlen = 38,
           .rlen = 70,
           .ins = {28, 10},
           .outs = {20, 50},
           .fields = {masked_header}},
          {.name = "dump fetch",
           .call =
               [&] {
                 n = 300;
                 return Qel2DumpItFetch(s, reinterpret_cast<Int8 *>(buf.data()), &n);
               },
           .command_type = KQ_DIAG_CMD,
           .opcode = 0,
           .param1 = 0,
           .param2 = 300,
           .dlen = 0,
           .rlen = 300,
           .ins = {},
           .outs = {300}},
          {.name = "FIPS self-tests",
           .call = [&] { return Qel2InvokeFips(s); },
           .opcode = 157,
           .param1 = 0,
           .param2 = 0,
           .dlen = 0,
           .rlen = 0,
           .ins = {},
           .outs = {},
           .timeout = 360},
          {.name = "diagnostic information",
           .call =
               [&] {
                 HSMDiagInfo info;
                 testing::internal::CaptureStdout();
                 const Uint32 r = Qel2GetHSMDiagInfo(s, &info);
                 testing::internal::GetCapturedStdout();
                 return r;
               },
           .opcode = 229,
           .param1 = 20,
           .param2 = 6160,
           .dlen = 20,
           .rlen = 6160,
           .ins = {20},
           .outs = {6160},
           .fields = {{12, s, 4, "the whole handle in the command header"}}},
          {.name = "core dump",
           .call =
               [&] {
                 testing::internal::CaptureStdout();
                 const Uint32 r = Qel2GetCoreDump(s, file.data(), PASSTHROUGH_CORE_FILE_FLAG, 4, 1);
                 testing::internal::GetCapturedStdout();
                 return r;
               },
           .opcode = 7,
           .param1 = 28,
           .param2 = 1,
           .dlen = 28,
           .rlen = 8212,
           .ins = {28},
           .outs = {8212}},
          {.name = "delete core dump",
           .call = [&] { return Qel2DeleteCoreDump(s, MGMT_DAEMON_CORE_FILE_FLAG, 1); },
           .opcode = 8,
           .param1 = 0,
           .param2 = 2,
           .dlen = 0,
           .rlen = 8212,
           .ins = {},
           .outs = {8212}},
      },
      {.command_type = 0, .timeout = 120, .session = masked});
}

}  // namespace
