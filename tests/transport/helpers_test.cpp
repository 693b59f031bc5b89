// File, buffer, argument and device helpers.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "qel2_errors.h"
#include "qel2_helpers.h"
#include "test_util.h"

using tt::Bytes;

namespace {

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qel2-helpers-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir_).c_str()), 0); }
  std::string file(const char *name) const { return dir_ + "/" + name; }
  static long size_of(const std::string &p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
  }
  std::string dir_;
};

std::string captured(void (*fn)()) {
  testing::internal::CaptureStdout();
  fn();
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(ReadConnData, ReturnsWhatCameBeforeThePeerClosed) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  Bytes ten = tt::pattern(10, 1);
  ASSERT_EQ(write(fds[1], ten.data(), ten.size()), 10);
  close(fds[1]);
  Bytes buf(16, 0);
  EXPECT_EQ(read_conn_data(fds[0], buf.data(), 16), 10);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 10), ten);
  EXPECT_EQ(read_conn_data(fds[0], buf.data(), 0), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(read_conn_data(fds[0], nullptr, 4), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Null parameters are passed");
  close(fds[0]);
  testing::internal::CaptureStdout();
  EXPECT_EQ(read_conn_data(fds[0], buf.data(), 4), -1);  // a closed descriptor
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "recv function failed");
}

TEST_F(TempDir, WriteAppendAndReadWholeFiles) {
  Bytes data = tt::pattern(250, 3);
  const std::string f = file("a.bin");
  EXPECT_EQ(write_file(f.c_str(), data.data(), 0), ERR_WRITE_OUTPUT_FILE);
  EXPECT_EQ(size_of(f), 0);  // created empty all the same

  Bytes buf(250);
  Uint32 len = 77;
  EXPECT_EQ(read_file(f.c_str(), buf.data(), 250, &len), ERR_READ_INPUT_FILE);
  EXPECT_EQ(len, 0u);

  EXPECT_EQ(write_file(f.c_str(), data.data(), 200), 0u);
  EXPECT_EQ(append_file(f.c_str(), data.data() + 200, 50), 0u);
  EXPECT_EQ(read_file(f.c_str(), buf.data(), 250, &len), 0u);
  EXPECT_EQ(len, 250u);
  EXPECT_EQ(buf, data);
  EXPECT_EQ(read_file(f.c_str(), buf.data(), 249, &len), ERR_INVALID_INPUT);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(read_file(f.c_str(), buf.data(), 250, nullptr), 0u);

  // Exactly a multiple of the 100-byte pieces.
  EXPECT_EQ(write_file(f.c_str(), data.data(), 200), 0u);
  EXPECT_EQ(read_file(f.c_str(), buf.data(), 200, &len), 0u);
  EXPECT_EQ(len, 200u);

  EXPECT_EQ(read_file(file("missing").c_str(), buf.data(), 250, &len), ERR_OPEN_FILE);
  EXPECT_EQ(write_file(file("no/such/dir").c_str(), data.data(), 1), ERR_OPEN_FILE);
  testing::internal::CaptureStdout();
  EXPECT_EQ(read_file(nullptr, buf.data(), 1, &len), ERR_INVALID_INPUT);
  EXPECT_EQ(write_file(f.c_str(), nullptr, 1), ERR_INVALID_INPUT);
  EXPECT_EQ(append_file(nullptr, data.data(), 1), ERR_INVALID_INPUT);
  testing::internal::GetCapturedStdout();
}

TEST(WriteFile, AFailedFlushIsAFailedWrite) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Bytes data(10, 1);
  EXPECT_EQ(write_file("/dev/full", data.data(), 10), ERR_WRITE_OUTPUT_FILE);
}

TEST(ArgumentChecks, HashLengthsKeyClassesAndTypes) {
  for (Uint16 ok : {0, 16, 20, 28, 32, 48, 64}) EXPECT_EQ(is_valid_hashlen(ok), 1) << ok;
  for (Uint16 bad : {1, 24, 63, 65}) EXPECT_EQ(is_valid_hashlen(bad), 0) << bad;
  for (Uint32 ok : {2u, 3u, 4u, 0xFFFFFFFFu}) EXPECT_EQ(validate_key_class_arg(ok), 1);
  for (Uint32 bad : {0u, 1u, 5u}) EXPECT_EQ(validate_key_class_arg(bad), 0);
  for (Uint32 ok : {0u, 1u, 3u, 16u, 18u, 19u, 21u, 31u, 0xFFFFFFFFu})
    EXPECT_EQ(validate_key_type_arg(ok), 1) << ok;
  for (Uint32 bad : {2u, 17u, 20u, 32u}) EXPECT_EQ(validate_key_type_arg(bad), 0) << bad;
}

TEST(Padding, AddAndVerify) {
  Bytes b(16, 0xAA);
  add_padding(b.data() + 8, 8);
  EXPECT_EQ(Bytes(b.begin() + 8, b.end()), Bytes(8, 8));
  Uint32 len = 16;
  EXPECT_EQ(verify_and_remove_aes_padding(b.data(), &len), 0u);
  EXPECT_EQ(len, 8u);

  const struct {
    Bytes data;
    const char *message;
  } bad[] = {
      {Bytes{1, 2, 9}, "invalid aes pad data len 9\n"},
      {Bytes{1, 2, 0}, "invalid aes pad data len 0\n"},
      {Bytes{4, 4}, "invalid aes pad data len 4\n"},  // longer than the data
      {Bytes{1, 3, 3}, "invalid pad data verify_and_remove_aes_padding\n"},
  };
  for (auto c : bad) {
    len = static_cast<Uint32>(c.data.size());
    testing::internal::CaptureStdout();
    EXPECT_EQ(verify_and_remove_aes_padding(c.data.data(), &len), RET_INVALID_INPUT);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    EXPECT_EQ(len, c.data.size());
  }
  len = 0;
  EXPECT_EQ(verify_and_remove_aes_padding(b.data(), &len), RET_INVALID_INPUT);
}

TEST(HexDump, SixteenBytesALineBetweenTags) {
  std::string out = captured([] {
    unsigned char data[17];
    for (int i = 0; i < 17; ++i) data[i] = static_cast<unsigned char>(i);
    char tag[] = "T";
    hex_dump(tag, data, 17);
  });
  EXPECT_EQ(out, "T\n00000000:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n00000010:10 \nT\n");
  EXPECT_EQ(captured([] {
              char tag[] = "E";
              hex_dump(tag, nullptr, 0);
            }),
            "E\nE\n");
}

TEST(KeyFileOrder, SortsByTheRightNumber) {
  std::vector<const char *> plain = {"/tmp/key_100", "/tmp/key_12", "/tmp/key_7"};
  qsort(plain.data(), plain.size(), sizeof(char *), cmpstring_nodeid);
  EXPECT_STREQ(plain[0], "/tmp/key_7");
  EXPECT_STREQ(plain[1], "/tmp/key_12");
  EXPECT_STREQ(plain[2], "/tmp/key_100");

  const char *a = "/d/key_5_20";
  const char *b = "/d/key_3_30";
  EXPECT_LT(cmpstring_nodeid(&a, &b), 0);
  const char *none = "/d/nothing";
  const char *one = "/d/key_1";
  EXPECT_LT(cmpstring_nodeid(&none, &one), 0);  // no number counts as 0
  testing::internal::CaptureStdout();
  EXPECT_EQ(cmpstring_nodeid(nullptr, &one), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Null parameters are passed");
}

TEST(DeviceFiles, RangeAndOpenChecks) {
  for (int bad : {16, -1}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(CspInitialize(bad), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Y5DEV device " + std::to_string(bad) + " does not exist\n");
  }
  EXPECT_EQ(CspShutdown(16), 0);
  EXPECT_EQ(CspShutdown(3), 0);
  if (access("/dev/y5dev2", F_OK) != 0) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(CspInitialize(2), 1);  // no such device here
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Couldn't open file"), std::string::npos);
  }
  CspDebugStruct dbs{};
  testing::internal::CaptureStdout();
  EXPECT_EQ(CspDebug(nullptr, 0), static_cast<int>(ERR_INVALID_INPUT));
  EXPECT_EQ(CspDebug(&dbs, 16), -1);
  EXPECT_EQ(CspDebug(&dbs, 5), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Null parameters are passedY5DEV device 16 does not exist\nDevice file is not open");
}
