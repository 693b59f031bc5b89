// Diagnostics and core dumps: the dump streamed into a mkdtemp file until
// the empty answer, the diagnostic record and the HSM refusal its response
// code carries, the FIPS self-tests, the daemon's health record, and core
// dumps fetched into a file (only the bytes that arrived), reported absent
// and deleted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "maintenance_fixture.h"

using namespace maint_test;

namespace {

class Diagnostics : public MaintenanceTest {
 protected:
  Uint32 dump_to(std::string &file) { return Qel2DumpIt(admin_, c_str(file)); }
  Uint32 core_to(std::string &file, CoreDumpFileFlag which, uint32_t backup, int flag) {
    return Qel2GetCoreDump(admin_, file.data(), which, backup, flag);
  }
  // Runs f with standard output captured; returns what it printed.
  static std::string printed(const std::function<void()> &f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(Diagnostics, DumpStreamedIntoAFile) {
  const auto dump = pattern(2 * 4096 + 100, 5);
  d().hsm().set_diagnostic_dump(dump);
  std::string file = path("diag.txt");
  ASSERT_EQ(0u, dump_to(file));
  EXPECT_EQ(dump, read(file));
  auto fetches = sent_requests(d(), 0);
  ASSERT_EQ(4u, fetches.size());  // 4096, 4096, 100, then the empty answer
  for (const auto &m : fetches) {
    EXPECT_EQ(KQ_DIAG_CMD, m.command_type);
    EXPECT_TRUE(m.in_sizes().empty());
    EXPECT_EQ(std::vector<uint16_t>{4096}, m.out_sizes());
    EXPECT_EQ(4096, m.rlen);
    EXPECT_EQ(4096, m.param2);
  }

  // The stand-in's own dump starts again for the next reader.
  d().hsm().set_diagnostic_dump(pattern(10));
  ASSERT_EQ(0u, dump_to(file));
  EXPECT_EQ(pattern(10), read(file));
}

TEST_F(Diagnostics, DumpFailures) {
  // A fetch failure ends the dump with its code; what came before stays.
  d().script(KQ_DIAG_CMD, 0, payload(pattern(4096), 1));
  d().script(KQ_DIAG_CMD, 0, status(RET_USER_NOT_LOGGED_IN, 1));
  std::string file = path("cut.txt");
  EXPECT_EQ(Uint32{RET_USER_NOT_LOGGED_IN}, dump_to(file));
  EXPECT_EQ(pattern(4096), read(file));

  std::string nowhere = path("no/such/dir");
  EXPECT_EQ(Uint32{ERR_OPEN_FILE}, dump_to(nowhere));
  EXPECT_EQ(Uint32{ERR_OPEN_FILE}, Qel2DumpIt(admin_, nullptr));
  Uint32 n = 8;
  Int8 buf[8];
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2DumpItFetch(admin_, nullptr, &n));
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2DumpItFetch(admin_, buf, nullptr));

  // A dump the disk did not take is not a dump taken.
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to fail the writes";
  std::string full = "/dev/full";
  EXPECT_EQ(Uint32{ERR_WRITE_OUTPUT_FILE}, dump_to(full));
}

TEST_F(Diagnostics, InformationRecord) {
  ASSERT_TRUE(d().hsm().set_core_dump(MGMT_DAEMON_CORE_FILE_FLAG, 0, pattern(10)));
  HSMDiagInfo info;
  ASSERT_EQ(0u, Qel2GetHSMDiagInfo(admin_, &info));
  EXPECT_EQ(45, info.temperature);
  EXPECT_EQ(0, info.ucPassthroughCoreFileExist);
  EXPECT_EQ(1, info.ucMgmtCoreFileExist);
  EXPECT_STREQ("vantor0", reinterpret_cast<const char *>(info.stats[0].name));
  EXPECT_EQ(8u << 20, __builtin_bswap32(info.uiTotalRAM));  // as the HSM sent it

  auto m = sent_requests(d(), KQ_GET_HSM_DIAG_INFO).at(0);
  EXPECT_EQ(std::vector<uint16_t>{20}, m.in_sizes());
  EXPECT_EQ(std::vector<uint16_t>{6160}, m.out_sizes());
  EXPECT_EQ(admin_ & 0x3FFFFFFF, m.sess_handle);
  EXPECT_EQ(admin_, be32(m.body(), 12));  // the whole handle, device bits too
  EXPECT_NE(admin_ & 0x3FFFFFFF, admin_);

  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2GetHSMDiagInfo(admin_, nullptr));
}

TEST_F(Diagnostics, InformationRefusals) {
  struct Case {
    const char *what;
    hsmsim::Answer answer;
    Uint32 expect;
  } cases[] = {
      // Both status layers 0: the refusal is in the response code alone.
      {"response code", payload(resp(RET_USER_PERMISION_DENIED).zeros(6144)),
       RET_USER_PERMISION_DENIED},
      {"response code, header only", payload(resp(RET_INVALID_SESSION)), RET_INVALID_SESSION},
      {"request status", status(RET_INVALID_SESSION), RET_INVALID_SESSION},
      {"record cut short", payload(resp(0).zeros(100)), TESSALINE_INVALID_MSG},
  };
  for (auto &c : cases) {
    d().clear_scripts();
    d().script(KQ_MGMT_CMD, KQ_GET_HSM_DIAG_INFO, c.answer);
    HSMDiagInfo info;
    memset(&info, 0x5A, sizeof info);
    Uint32 r = 0;
    const std::string out = printed([&] { r = Qel2GetHSMDiagInfo(admin_, &info); });
    EXPECT_EQ(c.expect, r) << c.what;
    EXPECT_EQ("\nioctl error " + std::to_string(static_cast<int>(c.expect)) + " at line 8232\n",
              out)
        << c.what;
    EXPECT_EQ(0x5A, info.temperature) << c.what;
    EXPECT_EQ(0x5A5A5A5Au, info.uiFreeRAM) << c.what;
  }
  // Refused records show no core dump.
  EXPECT_EQ(0, Qel2GetCoreFlag(static_cast<int>(admin_)));
}

TEST_F(Diagnostics, FipsSelfTestsAndHealthRecord) {
  ASSERT_EQ(0u, Qel2InvokeFips(admin_));
  auto m = sent_requests(d(), KQ_INVOKE_FIPS).at(0);
  EXPECT_EQ(0, m.incnt);
  EXPECT_EQ(0, m.outcnt);
  EXPECT_EQ(360u, m.timeout);
  d().script(KQ_MGMT_CMD, KQ_INVOKE_FIPS, status(RET_ERROR, 1));
  EXPECT_EQ(Uint32{RET_ERROR}, Qel2InvokeFips(admin_));

  hb_diag hb;
  memset(&hb, 0xEE, sizeof hb);
  ASSERT_EQ(0u, Qel2HealthDump(0, &hb));
  EXPECT_EQ(1u, hb.vantor_chips);
  EXPECT_EQ(16u, hb.vantor_cores);
  EXPECT_EQ(1u, hb.heartbeat_crypto.state);
  EXPECT_EQ(0u, hb.vantor_base_addr[0]);
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2HealthDump(0, nullptr));
}

TEST_F(Diagnostics, CoreDumpIntoAFile) {
  const auto dump = pattern(5000, 1);
  ASSERT_TRUE(d().hsm().set_core_dump(MGMT_DAEMON_CORE_FILE_FLAG, 0, dump));
  EXPECT_EQ(MGMT_DAEMON_CORE_FILE_FLAG, Qel2GetCoreFlag(static_cast<int>(admin_)));
  EXPECT_EQ(MGMT_DAEMON_CORE_FILE_FLAG,
            Qel2ResetCoreFlag(static_cast<int>(admin_), MGMT_DAEMON_CORE_FILE_FLAG));
  d().clear_captured();

  std::string file = path("core");
  Uint32 r = 1;
  const std::string out = printed([&] { r = core_to(file, MGMT_DAEMON_CORE_FILE_FLAG, 0, 0); });
  ASSERT_EQ(0u, r);
  EXPECT_EQ(dump, read(file));
  EXPECT_EQ(std::string(dump.begin(), dump.end()) + "\nDump file is stored at: " + file + "\n\n",
            out);

  // The flag query, then the dump request.
  const auto all = d().captured();
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(KQ_GET_HSM_DIAG_INFO, all[0].opcode);
  auto m = sent_requests(d(), KQ_GET_CORE_DUMP).at(0);
  EXPECT_EQ(std::vector<uint16_t>{28}, m.in_sizes());
  EXPECT_EQ(std::vector<uint16_t>{8212}, m.out_sizes());
  EXPECT_EQ(28, m.param1);
  EXPECT_EQ(2, m.param2);
  EXPECT_EQ(8212, m.rlen);
  const uint32_t masked = admin_ & 0x3FFFFFFF;
  EXPECT_EQ(masked, le32(m.body(), 12));  // host order in this header
  EXPECT_EQ(2u, be32(m.body(), 20));
  EXPECT_EQ(0u, be32(m.body(), 24));
  // The answer segment's descriptor: output, meaningful length 20, size 8212.
  ASSERT_EQ(1u, m.out.size());
  EXPECT_EQ(1, m.out[0].inout);
  EXPECT_EQ(20, m.out[0].offset);

  // Deleted, the flag clears and a flag-checked fetch is refused unsent.
  ASSERT_EQ(0u, Qel2DeleteCoreDump(admin_, MGMT_DAEMON_CORE_FILE_FLAG, 0));
  auto del = sent_requests(d(), KQ_DELETE_CORE_DUMP).at(0);
  EXPECT_TRUE(del.in_sizes().empty());
  EXPECT_EQ(std::vector<uint16_t>{8212}, del.out_sizes());
  EXPECT_EQ(2, del.param2);
  EXPECT_EQ(0, Qel2GetCoreFlag(static_cast<int>(admin_)));
  d().clear_captured();
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, core_to(file, MGMT_DAEMON_CORE_FILE_FLAG, 0, 0));
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2DeleteCoreDump(admin_, MGMT_DAEMON_CORE_FILE_FLAG, 0));
  EXPECT_TRUE(sent_requests(d(), KQ_GET_CORE_DUMP).empty());
  EXPECT_TRUE(sent_requests(d(), KQ_DELETE_CORE_DUMP).empty());
}

TEST_F(Diagnostics, CoreDumpAbsentOrShort) {
  std::string file = path("core");
  struct Case {
    CoreDumpFileFlag which;
    uint32_t backup;
    const char *message;
  } cases[] = {
      {PASSTHROUGH_CORE_FILE_FLAG, 0,
       "\nCore dump file /opt/logs/core_passthrough is not present in Y5DEV\n"},
      {MGMT_DAEMON_CORE_FILE_FLAG, 3,
       "\nCore dump file /opt/logs/core_mgmt_daemon.3.bak is not present in Y5DEV\n"},
      {NO_CORE_FILE_FLAG, 0, "\nCore dump file None.0.bak is not present in Y5DEV\n"},
  };
  for (const auto &c : cases) {
    d().clear_captured();
    Uint32 r = 1;
    EXPECT_EQ(c.message, printed([&] { r = core_to(file, c.which, c.backup, 1); }));
    EXPECT_EQ(0u, r);
    EXPECT_TRUE(sent_requests(d(), KQ_GET_HSM_DIAG_INFO).empty());  // bit 0: no flag query
  }
  EXPECT_FALSE(std::filesystem::exists(file));

  // An answer claiming more than it carries: only the bytes that arrived.
  d().script(KQ_MGMT_CMD, KQ_GET_CORE_DUMP, payload(resp(0).u32(8192).zeros(100), 1));
  Uint32 r = 1;
  printed([&] { r = core_to(file, PASSTHROUGH_CORE_FILE_FLAG, 0, 1); });
  EXPECT_EQ(0u, r);
  EXPECT_EQ(100u, read(file).size());

  // No file name, and a file that cannot be opened after the dump arrived.
  ASSERT_TRUE(d().hsm().set_core_dump(PASSTHROUGH_CORE_FILE_FLAG, 0, pattern(10)));
  d().clear_captured();
  EXPECT_EQ(Uint32{RET_INVALID_INPUT},
            Qel2GetCoreDump(admin_, nullptr, PASSTHROUGH_CORE_FILE_FLAG, 0, 1));
  EXPECT_EQ(0u, sent_count(d()));
  std::string nowhere = path("no/such/dir");
  EXPECT_EQ(Uint32{ERR_INVALID_INPUT}, core_to(nowhere, PASSTHROUGH_CORE_FILE_FLAG, 0, 1));
  // Only partition 0's administrators reach the core dumps.
  const Uint32 officer = officer_session();
  EXPECT_EQ(Uint32{RET_USER_PERMISION_DENIED},
            Qel2GetCoreDump(officer, file.data(), PASSTHROUGH_CORE_FILE_FLAG, 0, 1));
}

}  // namespace
