// Attribute files: fixture files for whole-file behaviour, a table of value
// forms, and the limits of the line and of the template buffer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "qel2_template.h"
#include "tmpl_util.h"

using namespace tmpltest;

namespace {

struct Result {
  uint8_t rc = 0xEE;
  Buffer buf;
  uint32_t len = 0xDEAD;
  uint32_t count = 0xDEAD;
  std::string out;
  bool returned_null = false;
};

Result read_file(const std::string &path, pub_exp_copy_fmt fmt = PUB_EXP_COPY_STRING_VALUE) {
  Result r;
  std::string p = path;
  uint8_t *attr = reinterpret_cast<uint8_t *>(0x1);  // must be overwritten
  r.out = printed([&] { r.rc = read_attr_file(p.data(), &attr, &r.len, &r.count, fmt); });
  r.returned_null = attr == nullptr;
  if (attr != reinterpret_cast<uint8_t *>(0x1)) r.buf.reset(attr);
  return r;
}

std::string fixture(const char *name) { return std::string(TEMPLATE_FIXTURES) + "/" + name; }

// A scratch file under /tmp, removed at the end of the test.
class ScratchFile {
 public:
  ScratchFile() {
    char path[] = "/tmp/qel2-attr-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    path_ = path;
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  const std::string &write(const std::string &content) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    return path_;
  }

 private:
  std::string path_;
};

TEST(AttrFile, EmptyAndBlankFilesGiveAnEmptyTemplate) {
  for (const char *f : {"empty.attr", "blanks.attr"}) {
    Result r = read_file(fixture(f));
    EXPECT_EQ(r.rc, 0) << f;
    EXPECT_TRUE(r.buf) << f;
    EXPECT_EQ(r.len, 0u);
    EXPECT_EQ(r.count, 0u);
  }
}

TEST(AttrFile, WholeFile) {
  Result r = read_file(fixture("aes_key.attr"));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(r.count, 6u);
  Bytes expected = encode({
      {OBJ_ATTR_CLASS, "4\n"},
      {OBJ_ATTR_KEY_TYPE, "31\n"},
      {OBJ_ATTR_TOKEN, "1\n"},
      {OBJ_ATTR_LABEL, std::string("my key\0", 7)},
      {OBJ_ATTR_KCV, Bytes{0x0A, 0x0B}},
      {OBJ_ATTR_VALUE_LEN, "32\n"},
  });
  EXPECT_EQ(Bytes(r.buf.get(), r.buf.get() + r.len), expected);
  for (size_t i = r.len; i < 4096; ++i) ASSERT_EQ(r.buf.get()[i], 0);
}

TEST(AttrFile, PublicExponentCopyFormats) {
  Result text = read_file(fixture("rsa_public.attr"), PUB_EXP_COPY_STRING_VALUE);
  ASSERT_EQ(text.rc, 0);
  auto attrs = decode(text.buf.get(), text.len);
  ASSERT_EQ(attrs.size(), 4u);
  EXPECT_EQ(attrs[2].value, bytes("65537\n"));
  EXPECT_EQ(attrs[3].value, Bytes{0x07});

  Result binary = read_file(fixture("rsa_public.attr"), PUB_EXP_COPY_U32_VALUE);
  ASSERT_EQ(binary.rc, 0);
  EXPECT_EQ(decode(binary.buf.get(), binary.len)[2].value, (Bytes{0, 1, 0, 1}));

  Result none = read_file(fixture("rsa_public.attr"), PUB_EXP_NOT_SUPPORTED);
  EXPECT_EQ(none.rc, 1);
  EXPECT_TRUE(none.returned_null);
  EXPECT_EQ(none.out,
            "Invalid copy format 0\n\tError: Reading OBJ_ATTR_PUBLIC_EXPONENT attribute value from "
            "file failed\n");
}

TEST(AttrFile, RefusedFiles) {
  const struct {
    const char *file;
    const char *out;
  } cases[] = {
      {"crlf.attr", "\n\tError: Reading OBJ_ATTR_CLASS attribute value from file failed\n"},
      {"unknown_name.attr",
       "\n\tInvalid attribute type :: OBJ_ATTR_VALUE, stopping parsing of the file \n"},
      {"dangling_name.attr",
       "\n\tError: Reading OBJ_ATTR_TOKEN attribute value from file failed\n"},
      {"bad_hex.attr", "\n\tError: Reading OBJ_ATTR_MODULUS attribute value from file failed\n"},
  };
  for (const auto &c : cases) {
    Result r = read_file(fixture(c.file));
    EXPECT_EQ(r.rc, 1) << c.file;
    EXPECT_TRUE(r.returned_null) << c.file;
    EXPECT_EQ(r.len, 0xDEADu) << c.file;
    EXPECT_EQ(r.out, c.out) << c.file;
  }
  Result missing = read_file(fixture("no_such.attr"));
  EXPECT_EQ(missing.rc, 1);
  EXPECT_EQ(missing.out,
            "Error: Unable to open the attribute file " + fixture("no_such.attr") + "\n");
}

TEST(AttrFile, RepeatsAreKeptForTheValidator) {
  Result r = read_file(fixture("repeated.attr"));
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.count, 2u);
}

TEST(AttrFile, ValueForms) {
  const struct {
    std::string line;
    bool ok;
    Bytes value;
  } cases[] = {
      {"OBJ_ATTR_TOKEN 0x1", true, bytes("1\n")},
      {"OBJ_ATTR_TOKEN 010", true, bytes("8\n")},
      {"OBJ_ATTR_TOKEN 4294967295", true, bytes("-1\n")},
      {"OBJ_ATTR_TOKEN 4294967296", true, bytes("0\n")},
      {"OBJ_ATTR_TOKEN 18446744073709551614", true, bytes("-2\n")},
      {"OBJ_ATTR_TOKEN 18446744073709551615", false, {}},
      {"OBJ_ATTR_TOKEN 99999999999999999999", false, {}},
      {"OBJ_ATTR_TOKEN -1", false, {}},
      {"OBJ_ATTR_TOKEN 12abc", false, {}},
      {"OBJ_ATTR_TOKEN 1 ", false, {}},
      {"OBJ_ATTR_TOKEN 09", false, {}},
      {"OBJ_ATTR_TOKEN\n\n  \t 5", true, bytes("5\n")},
      {"OBJ_ATTR_LABEL my key", true, bytes(std::string("my key\0", 7))},
      {"OBJ_ATTR_ID a b  ", true, bytes(std::string("a b  \0", 6))},
      {"OBJ_ATTR_MODULUS 0x0A0b", true, Bytes{0x0A, 0x0B}},
      {"OBJ_ATTR_MODULUS 0X0a0B", true, Bytes{0x0A, 0x0B}},
      {"OBJ_ATTR_MODULUS ABC", false, {}},
      {"OBJ_ATTR_MODULUS 7", true, Bytes{0x07}},
      {"OBJ_ATTR_MODULUS 0x7", false, {}},
      {"OBJ_ATTR_MODULUS 0x", true, Bytes{}},
      {"OBJ_ATTR_MODULUS 0a0g", false, {}},
      {"OBJ_ATTR_MODULUS 0a 0b", false, {}},
      {"OBJ_ATTR_EKCV 00ff", true, Bytes{0x00, 0xFF}},
      {"OBJ_ATTR_PUBLIC_EXPONENT 3", true, bytes("3\n")},
  };
  ScratchFile f;
  for (const auto &c : cases) {
    Result r = read_file(f.write(c.line + "\n"));
    EXPECT_EQ(r.rc == 0, c.ok) << c.line << "\n" << r.out;
    if (r.rc == 0 && c.ok) {
      auto attrs = decode(r.buf.get(), r.len);
      ASSERT_EQ(attrs.size(), 1u) << c.line;
      EXPECT_EQ(attrs[0].value, c.value) << c.line;
    }
  }
}

TEST(AttrFile, LinesCutByTheLimitAreRefused) {
  ScratchFile f;
  // 4095 characters of value fit a line; the label then needs 4104 bytes
  // and is refused by size, not cut.
  Result full = read_file(f.write("OBJ_ATTR_LABEL " + std::string(4095, 'a') + "\n"));
  EXPECT_EQ(full.rc, 1);
  // A longer line is refused, not read as several values.
  Result cut =
      read_file(f.write("OBJ_ATTR_LABEL " + std::string(4200, 'a') + "OBJ_ATTR_TOKEN 1\n"));
  EXPECT_EQ(cut.rc, 1);
  EXPECT_EQ(cut.out, "\n\tError: Reading OBJ_ATTR_LABEL attribute value from file failed\n");
  // A hex value of 4095 characters fits a line and the buffer.
  Result hex = read_file(f.write("OBJ_ATTR_MODULUS 0x" + std::string(4092, 'f') + "\n"));
  ASSERT_EQ(hex.rc, 0) << hex.out;
  EXPECT_EQ(hex.len, 8u + 2046u);
  Result long_hex = read_file(f.write("OBJ_ATTR_MODULUS 0x" + std::string(4094, 'f') + "\n"));
  EXPECT_EQ(long_hex.rc, 1);
}

TEST(AttrFile, ValuesMustFitTheTemplateBuffer) {
  ScratchFile f;
  // Two labels: 8 + 2001 bytes each leave 4096 - 4018 = 78 bytes.
  const std::string two =
      "OBJ_ATTR_LABEL " + std::string(2000, 'a') + "\nOBJ_ATTR_ID " + std::string(2000, 'b') + "\n";
  // An id of 69 characters takes 8 + 70 = 78 bytes: an exact fit.
  Result exact = read_file(f.write(two + "OBJ_ATTR_ID " + std::string(69, 'c') + "\n"));
  ASSERT_EQ(exact.rc, 0) << exact.out;
  EXPECT_EQ(exact.len, 4096u);
  EXPECT_EQ(exact.count, 3u);
  Result over = read_file(f.write(two + "OBJ_ATTR_ID " + std::string(70, 'c') + "\n"));
  EXPECT_EQ(over.rc, 1);
  Result number =
      read_file(f.write(two + "OBJ_ATTR_ID " + std::string(69, 'c') + "\nOBJ_ATTR_TOKEN 1\n"));
  EXPECT_EQ(number.rc, 1);
  // A hex value is reckoned at half its text, prefix included: "0x" and
  // 138 digits reckon 70 bytes and fit the 78 left (69 are written);
  // "0x" and 140 digits reckon 71 and do not.
  Result hex = read_file(f.write(two + "OBJ_ATTR_KCV 0x" + std::string(138, '1') + "\n"));
  ASSERT_EQ(hex.rc, 0) << hex.out;
  EXPECT_EQ(hex.len, 4018u + 8u + 69u);
  Result hex_over = read_file(f.write(two + "OBJ_ATTR_KCV 0x" + std::string(140, '1') + "\n"));
  EXPECT_EQ(hex_over.rc, 1);
}

TEST(AttrFile, ValueReadersDirectly) {
  uint8_t buf[4096] = {};
  char text[] = "  42\nrest";
  FILE *fp = fmemopen(text, sizeof text - 1, "r");
  ASSERT_TRUE(fp);
  Uint32 size = 0;
  EXPECT_EQ(copy_int_value(fp, reinterpret_cast<Attribute *>(buf), &size), 0u);
  EXPECT_EQ(size, 8u + 3u);
  EXPECT_EQ(Bytes(buf + 4, buf + 11), (Bytes{0, 0, 0, 3, '4', '2', '\n'}));
  // Near the end of the buffer the value no longer fits; the length stays.
  size = 4096 - 10;
  rewind(fp);
  EXPECT_EQ(copy_int_value(fp, reinterpret_cast<Attribute *>(buf + size), &size), 1u);
  EXPECT_EQ(size, 4086u);
  size = 5000;
  rewind(fp);
  EXPECT_EQ(copy_str_value(fp, reinterpret_cast<Attribute *>(buf), &size), 1u);
  fclose(fp);
  size = 0;
  EXPECT_EQ(copy_str_value(nullptr, reinterpret_cast<Attribute *>(buf), &size), 1u);
  EXPECT_EQ(copy_byte_value(nullptr, nullptr, &size), 1u);
  EXPECT_EQ(copy_pub_exp_value(nullptr, reinterpret_cast<Attribute *>(buf), &size,
                               PUB_EXP_COPY_U32_VALUE),
            1u);
}

TEST(AttrFile, NullArguments) {
  std::string p = fixture("aes_key.attr");
  EXPECT_EQ(read_attr_file(p.data(), nullptr, nullptr, nullptr, PUB_EXP_COPY_STRING_VALUE), 1);
  uint8_t *attr = nullptr;
  std::string out = printed([&] {
    EXPECT_EQ(read_attr_file(nullptr, &attr, nullptr, nullptr, PUB_EXP_COPY_STRING_VALUE), 1);
  });
  EXPECT_EQ(out, "Error: Unable to open the attribute file (null)\n");
  // Length and count are optional.
  EXPECT_EQ(read_attr_file(p.data(), &attr, nullptr, nullptr, PUB_EXP_COPY_STRING_VALUE), 0);
  free(attr);
}

}  // namespace
