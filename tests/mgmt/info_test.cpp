// HSM information, partition information and the firmware version text.
#include <gtest/gtest.h>

#include <string>

#include "sim_fixture.h"

using namespace mgmt_test;

namespace {

// A GetHSMInfoResponse of the given length with recognisable fields.
std::vector<uint8_t> hsm_answer(uint32_t code, size_t len, const std::string &serial,
                                const std::string &boot, uint8_t hw_minor = 0x39) {
  Be b = resp(code).u32(644);
  b.text("label", 50).text("model", 32).text(serial, 32).zeros(2);
  for (uint32_t i = 0; i < 20; ++i) b.u32(0x100 + i);  // uiFlags .. uiSlaveConfig
  b.u32(1).u32(2).u32(3).u32(4);                       // manufacturerID
  b.u8('?').u8(hw_minor).u8(3).u8(2);                  // hardware, firmware versions
  b.text("2024-01-01", 16);
  for (int i = 0; i < 6; ++i) b.u32(0x200 + i);
  b.text("build", 16).text("firmware", 64).text("part", 64);
  b.text("vendorfp", 8).text("mco__fp_", 8).zeros(32).u32(7).text("rtc", 128).text(boot, 64);
  std::vector<uint8_t> v = b;
  v.resize(len);
  return v;
}

const Uint8 *u8(const char *s) { return reinterpret_cast<const Uint8 *>(s); }

using Info = SimTest;

TEST_F(Info, HsmInfoArrivesBigEndianWithTheVersionFromTheSerial) {
  start();
  d().script(KQ_MGMT_CMD, KQ_TOKEN_INFO, payload(hsm_answer(0, 664, "3.1-0042", "BL 1.2")));
  d().clear_captured();
  HSMInfo info;
  ASSERT_EQ(0u, Qel2GetHSMInfo(2, &info));
  EXPECT_EQ(0x33, info.hardwareVersion.major);
  EXPECT_EQ(0x31, info.hardwareVersion.minor);
  EXPECT_EQ(__builtin_bswap32(0x100u), info.uiFlags);
  EXPECT_EQ(__builtin_bswap32(0x100u + 13), info.uiFipsState);
  EXPECT_EQ(3, info.firmwareVersion.major);
  EXPECT_EQ("BL 1.2", std::string(reinterpret_cast<char *>(info.bootloaderString)));
  EXPECT_EQ("rtc", std::string(info.rtcTime));
  auto m = sent_requests(d(), KQ_TOKEN_INFO);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(0u, m[0].sess_handle);  // device 2 shifted away by the mask
  EXPECT_EQ(0, m[0].incnt);
  EXPECT_EQ(664, m[0].rlen);
  EXPECT_EQ(664, m[0].param2);
}

TEST_F(Info, SerialNumberParsing) {
  start();
  struct Case {
    std::string serial;
    uint8_t major, minor;
  } cases[] = {
      {"3.1", 0x33, 0x31},
      {"A-12", 0x41, 0x39},               // minor as the HSM sent it
      {"7.", 0x37, 0x39},                 // nothing after the dot
      {"", '?', 0x39},                    // empty: nothing changes
      {std::string(32, 'Z'), 'Z', 0x39},  // a full field without terminator
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.serial);
    d().clear_scripts();
    d().script(KQ_MGMT_CMD, KQ_TOKEN_INFO, payload(hsm_answer(0, 664, c.serial, "b")));
    HSMInfo info;
    ASSERT_EQ(0u, Qel2GetHSMInfo2(0x40000001, &info));
    EXPECT_EQ(c.major, info.hardwareVersion.major);
    EXPECT_EQ(c.minor, info.hardwareVersion.minor);
  }
}

TEST_F(Info, OlderHsmAnswersTheShortRecord) {
  start();
  // The full request fails, leaving its record in the buffer; the short one succeeds.
  d().script(KQ_MGMT_CMD, KQ_TOKEN_INFO,
             payload(hsm_answer(RET_INVALID_COMMAND, 664, "1.0", "left over"), 1));
  d().script(KQ_MGMT_CMD, KQ_TOKEN_INFO, payload(hsm_answer(0, 420, "2.5", "")));
  d().clear_captured();
  HSMInfo info;
  ASSERT_EQ(0u, Qel2GetHSMInfoNew(5, &info));
  EXPECT_EQ(0x32, info.hardwareVersion.major);
  EXPECT_EQ("part", std::string(reinterpret_cast<char *>(info.partNumber)));
  EXPECT_EQ("left over", std::string(reinterpret_cast<char *>(info.bootloaderString)));
  auto m = sent_requests(d(), KQ_TOKEN_INFO);
  ASSERT_EQ(2u, m.size());
  EXPECT_EQ(420, m[1].rlen);
  EXPECT_EQ(664, m[1].param2);
  EXPECT_EQ((std::vector<uint16_t>{420}), m[1].out_sizes());

  // When nothing came the first time, the empty boot loader text becomes "0".
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_TOKEN_INFO, status(TESSALINE_SERVER_NOT_READY, 1));
  d().script(KQ_MGMT_CMD, KQ_TOKEN_INFO, payload(hsm_answer(0, 420, "2.5", "")));
  ASSERT_EQ(0u, Qel2GetHSMInfoNew(5, &info));
  EXPECT_EQ("0", std::string(reinterpret_cast<char *>(info.bootloaderString)));

  // Both fail: the second failure is returned.
  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_TOKEN_INFO, payload(resp(RET_INVALID_COMMAND), 1));
  d().script(KQ_MGMT_CMD, KQ_TOKEN_INFO, payload(std::vector<uint8_t>(10, 0)));
  EXPECT_EQ(TESSALINE_INVALID_MSG, Qel2GetHSMInfoNew(5, &info));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetHSMInfo2(5, nullptr));
}

TEST_F(Info, PartitionInfoHandedOverAsSent) {
  start();
  std::vector<uint8_t> rec(248);
  for (size_t i = 0; i < rec.size(); ++i) rec[i] = uint8_t(i * 7);
  rec[48] = 0xFF;  // FIPS state that stops the Java login
  std::vector<uint8_t> answer = resp(0);
  answer.insert(answer.end(), rec.begin(), rec.end());
  d().script(KQ_MGMT_CMD, KQ_PARTITION_INFO, payload(answer));
  d().clear_captured();
  PartitionInfo info;
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2GetPartitionInfo2(0x41004001, u8("PARTITION_123456789"), 15, &info, &id));
  EXPECT_EQ(0, memcmp(rec.data(), &info, 248));
  EXPECT_EQ(0xFF, info.FipsState);
  auto m = sent_requests(d(), KQ_PARTITION_INFO);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(0x01004001u, m[0].sess_handle);
  EXPECT_EQ(36, m[0].dlen);
  EXPECT_EQ(264, m[0].rlen);
  EXPECT_EQ(std::vector<uint8_t>(Be{}.zeros(12).u32(0x01004001).u32(0).text("PARTITION_12345", 16)),
            m[0].body());
  EXPECT_EQ(d().captured().back().req_id, id);

  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_PARTITION_INFO, payload(resp(RET_INVALID_SESSION)));
  memset(&info, 0xAB, sizeof info);
  EXPECT_EQ(RET_INVALID_SESSION, Qel2GetPartitionInfo(1, u8("PARTITION_1"), 11, &info));
  EXPECT_EQ(0xAB, info.name[0]);  // not written on failure
}

TEST_F(Info, PartitionNameLengthChecked) {
  start();
  d().clear_captured();
  PartitionInfo info;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetPartitionInfo(1, u8("P"), 0, &info));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetPartitionInfo(1, u8("PARTITION_123456"), 16, &info));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetPartitionInfo(1, nullptr, 3, &info));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetPartitionInfo(1, u8("P"), 1, nullptr));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(
      "\nInvalid partition name len [0] and Max len [15]"
      "\nInvalid partition name len [16] and Max len [15]"
      "\nInvalid partition name len [3] and Max len [15]",
      out);
  EXPECT_EQ(0u, d().captured().size());
}

TEST_F(Info, FirmwareVersionLengthIsAlways50) {
  start();
  d().script(KQ_MGMT_CMD, KQ_GET_VERSION, payload(Be{}.text("fw 3.2.1", 50)));
  Uint8 version[100] = {};
  Uint32 len = sizeof version;
  ASSERT_EQ(0u, Qel2FWVersion(0x40000001, version, &len));
  EXPECT_EQ(50u, len);
  EXPECT_EQ("fw 3.2.1", std::string(reinterpret_cast<char *>(version)));
  auto m = sent_requests(d(), KQ_GET_VERSION);
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(0, m[0].incnt);
  EXPECT_EQ(100, m[0].rlen);
  EXPECT_EQ((std::vector<uint16_t>{100}), m[0].out_sizes());

  d().clear_scripts();
  d().script(KQ_MGMT_CMD, KQ_GET_VERSION, status(TESSALINE_SERVER_NOT_READY));
  len = sizeof version;
  EXPECT_EQ(TESSALINE_SERVER_NOT_READY, Qel2FWVersion(1, version, &len));
  EXPECT_EQ(50u, len);
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2FWVersion(1, nullptr, &len));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2FWVersion(1, version, nullptr));
}

}  // namespace
