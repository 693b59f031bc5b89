// Firmware and bootloader update from image files: the steps in order with
// their lengths as sent, the stand-in checking the image against the
// SHA-256 (computed here by OpenSSL) that begins its authentication code,
// the file errors, and the limits held before any traffic.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>

#include "maintenance_fixture.h"

using namespace maint_test;

namespace {

std::vector<uint8_t> sha256(const std::vector<uint8_t> &data) {
  std::vector<uint8_t> md(32);
  unsigned int n = 0;
  EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), md.data(), &n, EVP_sha256(), nullptr));
  return md;
}

class Firmware : public MaintenanceTest {
 protected:
  // An image file and its authentication code: the image's SHA-256, then
  // filler up to code_len bytes.
  void files(const std::vector<uint8_t> &image, size_t code_len = 256) {
    image_ = write("image.bin", image);
    auto code = sha256(image);
    code.resize(code_len, 0xC5);
    auth_ = write("image.auth", code);
  }
  Uint32 update(Uint32 len, Uint32 auth_len, Uint32 zeroize = 0) {
    return Qel2FirmwareUpdate2(admin_, c_str(image_), len, c_str(auth_), auth_len, zeroize);
  }
  std::vector<uint16_t> opcodes() {
    std::vector<uint16_t> ops;
    for (const auto &c : d().captured())
      if (c.operation <= 1) ops.push_back(c.opcode);
    return ops;
  }
  std::string image_, auth_;
};

TEST_F(Firmware, ImageSentInChunksAndVouchedFor) {
  const auto image = pattern(2 * QEL2_FW_CHUNK + 1);
  files(image);
  ASSERT_EQ(0u, Qel2FirmwareUpdate(admin_, c_str(image_), static_cast<Uint32>(image.size()),
                                   c_str(auth_), 256));

  EXPECT_EQ((std::vector<uint16_t>{KQ_FW_UPDATE_BEGIN, KQ_FW_UPDATE, KQ_FW_UPDATE, KQ_FW_UPDATE,
                                   KQ_FW_UPDATE_END}),
            opcodes());
  const auto begin = sent_requests(d(), KQ_FW_UPDATE_BEGIN).at(0);
  EXPECT_EQ(std::vector<uint16_t>{32}, begin.in_sizes());
  EXPECT_EQ(std::vector<uint16_t>{16}, begin.out_sizes());
  EXPECT_EQ(admin_ & 0x3FFFFFFF, begin.sess_handle);
  EXPECT_EQ(120u, begin.timeout);
  EXPECT_EQ(admin_ & 0x3FFFFFFF, be32(begin.body(), 12));
  // flags, auth length, image length, platform
  EXPECT_EQ((std::vector<uint32_t>{0, 0, static_cast<uint32_t>(image.size()), 0}),
            (std::vector<uint32_t>{be32(begin.body(), 8), be32(begin.body(), 20),
                                   be32(begin.body(), 24), be32(begin.body(), 28)}));

  const uint32_t sizes[] = {QEL2_FW_CHUNK, QEL2_FW_CHUNK, 1};
  size_t pos = 0;
  auto chunks = sent_requests(d(), KQ_FW_UPDATE);
  ASSERT_EQ(3u, chunks.size());
  for (size_t i = 0; i < 3; ++i) {
    const auto &m = chunks[i];
    EXPECT_EQ((std::vector<uint16_t>{32, static_cast<uint16_t>(sizes[i])}), m.in_sizes());
    EXPECT_EQ(32 + sizes[i], m.dlen);
    EXPECT_EQ(sizes[i], be32(m.body(), 24));
    EXPECT_EQ(0u, be32(m.body(), 20));
    EXPECT_TRUE(std::equal(m.in[1].bytes.begin(), m.in[1].bytes.end(), image.begin() + pos));
    pos += sizes[i];
  }

  const auto end = sent_requests(d(), KQ_FW_UPDATE_END).at(0);
  EXPECT_EQ((std::vector<uint16_t>{32, 256}), end.in_sizes());
  EXPECT_EQ(0u, be32(end.body(), 8));  // no zeroisation asked
  EXPECT_EQ(256u, be32(end.body(), 20));
  EXPECT_EQ(0u, be32(end.body(), 24));

  auto installed = d().hsm().installed_images();
  ASSERT_EQ(1u, installed.size());
  EXPECT_FALSE(installed[0].bootloader);
  EXPECT_EQ(image.size(), installed[0].length);
  EXPECT_EQ(sha256(image), installed[0].sha256);
}

TEST_F(Firmware, FileDrivenOutcomes) {
  struct Case {
    const char *what;
    size_t image_len;  // bytes in the file
    int64_t stated;    // length told to the call; -1: the file's
    size_t code_len;   // bytes in the code file
    Uint32 auth_len;
    Uint32 zeroize;
    Uint32 expect;
    size_t chunks;
    bool ended;
    bool installed;
  } cases[] = {
      {"empty image", 0, -1, 256, 256, 0, 0, 0, true, true},
      {"code file longer than stated", 20000, -1, 300, 256, 0, ERR_READ_INPUT_FILE, 3, false,
       false},
      {"code file as stated", 20000, -1, 300, 300, 0, 0, 3, true, true},
      {"code above 1024 bytes", 100, -1, 1100, 1100, 0, ERR_READ_INPUT_FILE, 1, false, false},
      {"code of 1024 from a longer file", 100, -1, 1100, 1024, 0, 0, 1, true, true},
      {"zeroising update answers 250: success", 100, -1, 64, 64, 1, 0, 1, true, true},
      {"truncated image", 100, 200, 64, 64, 0, RET_INVALID_INPUT, 1, true, false},
      {"longer than stated", 300, 200, 64, 64, 0, RET_INVALID_INPUT, 1, false, false},
  };
  for (const auto &c : cases) {
    d().clear_captured();
    const size_t before = d().hsm().installed_images().size();
    files(pattern(c.image_len, 7), c.code_len);
    const Uint32 stated = c.stated < 0 ? static_cast<Uint32>(c.image_len) : Uint32(c.stated);
    EXPECT_EQ(c.expect, update(stated, c.auth_len, c.zeroize)) << c.what;
    EXPECT_EQ(c.chunks, sent_requests(d(), KQ_FW_UPDATE).size()) << c.what;
    EXPECT_EQ(c.ended, sent_requests(d(), KQ_FW_UPDATE_END).size() == 1) << c.what;
    const auto installed = d().hsm().installed_images();
    ASSERT_EQ(before + c.installed, installed.size()) << c.what;
    if (c.installed) {
      EXPECT_EQ(c.zeroize, installed.back().zeroize) << c.what;
    }
  }
}

TEST_F(Firmware, CodeThatDoesNotVouchForTheImage) {
  files(pattern(500));
  auto code = read(auth_);
  code[3] ^= 1;
  write("image.auth", code);
  EXPECT_EQ(Uint32{RET_SIGNATURE_VERIFICATION_FAILED}, update(500, 256));
  EXPECT_TRUE(d().hsm().installed_images().empty());
}

TEST_F(Firmware, Bootloader) {
  const auto image = pattern(9000, 3);
  files(image, 128);
  testing::internal::CaptureStdout();
  ASSERT_EQ(0u, Qel2BootloaderUpdate(admin_, c_str(image_), 9000, c_str(auth_), 128));
  EXPECT_EQ("\n\tStarting update process.  This may take several minutes.  Please wait.\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ(2u, be32(sent_requests(d(), KQ_FW_UPDATE_BEGIN).at(0).body(), 8));
  EXPECT_EQ(0u, be32(sent_requests(d(), KQ_FW_UPDATE_END).at(0).body(), 8));
  auto installed = d().hsm().installed_images();
  ASSERT_EQ(1u, installed.size());
  EXPECT_TRUE(installed[0].bootloader);
  EXPECT_EQ(sha256(image), installed[0].sha256);

  // RET_ZEROIZE is a success only for firmware.
  d().script(KQ_MGMT_CMD, KQ_FW_UPDATE_END, payload(resp(RET_ZEROIZE)));
  testing::internal::CaptureStdout();
  EXPECT_EQ(Uint32{RET_ZEROIZE},
            Qel2BootloaderUpdate(admin_, c_str(image_), 9000, c_str(auth_), 128));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, Qel2FirmwareUpdateNew(admin_, c_str(image_), 9000, c_str(auth_), 128, 0));
}

TEST_F(Firmware, RefusalsStopTheSequence) {
  files(pattern(20000));
  // A refused chunk ends the update there: no further chunk, no end.
  d().script(KQ_MGMT_CMD, KQ_FW_UPDATE, payload(resp(0), 1));
  d().script(KQ_MGMT_CMD, KQ_FW_UPDATE, payload(resp(RET_USER_PERMISION_DENIED), 1));
  EXPECT_EQ(Uint32{RET_USER_PERMISION_DENIED}, update(20000, 256));
  EXPECT_EQ(2u, sent_requests(d(), KQ_FW_UPDATE).size());
  EXPECT_TRUE(sent_requests(d(), KQ_FW_UPDATE_END).empty());
  // A refused begin sends nothing more.
  d().clear_captured();
  d().script(KQ_MGMT_CMD, KQ_FW_UPDATE_BEGIN, status(TESSALINE_RETRY_OP, 1));
  EXPECT_EQ(Uint32{TESSALINE_RETRY_OP}, update(20000, 256));
  EXPECT_EQ(1u, sent_count(d()));
  // Only partition 0's administrators update the HSM.
  d().clear_captured();
  const Uint32 officer = officer_session();
  EXPECT_EQ(Uint32{RET_USER_PERMISION_DENIED},
            Qel2FirmwareUpdate(officer, c_str(image_), 20000, c_str(auth_), 256));
}

TEST_F(Firmware, RefusedBeforeAnyTraffic) {
  files(pattern(10));
  std::string missing = path("missing");
  std::vector<uint8_t> big(QEL2_FW_CHUNK + 1);
  Uint8 code[8] = {};
  struct Case {
    const char *what;
    Uint32 expect;
    std::function<Uint32()> call;
  } cases[] = {
      {"no image name", ERR_INVALID_INPUT,
       [&] { return Qel2FirmwareUpdate(admin_, nullptr, 10, c_str(auth_), 256); }},
      {"no code name", ERR_INVALID_INPUT,
       [&] { return Qel2BootloaderUpdate(admin_, c_str(image_), 10, nullptr, 256); }},
      {"missing image", ERR_OPEN_FILE,
       [&] { return Qel2FirmwareUpdate(admin_, c_str(missing), 10, c_str(auth_), 256); }},
      {"missing code", ERR_OPEN_FILE,
       [&] { return Qel2FirmwareUpdate(admin_, c_str(image_), 10, c_str(missing), 256); }},
      {"chunk over the limit", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2FirmwareUpdateChunk(admin_, big.data(), QEL2_FW_CHUNK + 1); }},
      // 32 + the length wraps to a small number in 32 bits.
      {"chunk length that wraps", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2FirmwareUpdateChunk(admin_, big.data(), 0xFFFFFFF0u); }},
      {"code length that wraps", ERR_BUFFER_TOO_BIG,
       [&] { return Qel2FirmwareUpdateEnd(admin_, code, 0xFFFFFFE8u, 0); }},
      {"null chunk", ERR_INVALID_INPUT,
       [&] { return Qel2FirmwareUpdateChunk(admin_, nullptr, 10); }},
      {"null code", ERR_INVALID_INPUT,
       [&] { return Qel2FirmwareUpdateEnd(admin_, nullptr, 8, 0); }},
  };
  for (const auto &c : cases) EXPECT_EQ(c.expect, c.call()) << c.what;
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(Firmware, SingleStepsOutOfOrderAreRefused) {
  auto image = pattern(100);
  auto code = sha256(image);
  // A chunk or end without a begin, and a chunk past the announced length.
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2FirmwareUpdateChunk(admin_, image.data(), 100));
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2FirmwareUpdateEnd(admin_, code.data(), 32, 0));
  ASSERT_EQ(0u, Qel2FirmwareUpdateBegin(admin_, 60));
  EXPECT_EQ(Uint32{RET_INVALID_INPUT}, Qel2FirmwareUpdateChunk(admin_, image.data(), 100));
  // The steps one by one.
  ASSERT_EQ(0u, Qel2FirmwareUpdateBegin(admin_, 100));
  ASSERT_EQ(0u, Qel2FirmwareUpdateChunk(admin_, image.data(), 40));
  ASSERT_EQ(0u, Qel2FirmwareUpdateChunk(admin_, image.data() + 40, 60));
  ASSERT_EQ(0u, Qel2FirmwareUpdateEnd(admin_, code.data(), 32, 0));
  EXPECT_EQ(1u, d().hsm().installed_images().size());
}

}  // namespace
