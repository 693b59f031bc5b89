// Attribute names, the bounded walker and the bounded number reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/template/attr_walk.h"
#include "qel2_attributes.h"
#include "tmpl_util.h"

using namespace tmpltest;
using qel2::tmpl::AttrView;
using qel2::tmpl::AttrWalker;

namespace {

TEST(AttrNames, NameToType) {
  const struct {
    const char *name;
    uint32_t type;
  } cases[] = {
      {"OBJ_ATTR_ALL", 0x200},
      {"OBJ_ATTR_CLASS", 0},
      {"OBJ_ATTR_VENDOR_DEFINED", 0x80000000u},
      {"OBJ_ATTR_UNWRAP_TEMPLATE", 0x40000212u},
      {"OBJ_ATTR_ACCESS", 0x171},
      {"OBJ_ATTR_PRIME_BITS", 0x133},
      {"OBJ_ATTR_VALUE", OBJ_ATTR_NAME_UNKNOWN},  // named but not accepted
      {"OBJ_ATTR_SUBJECT", OBJ_ATTR_NAME_UNKNOWN},
      {"obj_attr_class", OBJ_ATTR_NAME_UNKNOWN},   // case counts
      {"OBJ_ATTR_CLASS ", OBJ_ATTR_NAME_UNKNOWN},  // whole text
      {"OBJ_ATTR_CLAS", OBJ_ATTR_NAME_UNKNOWN},
      {"", OBJ_ATTR_NAME_UNKNOWN},
  };
  for (const auto &c : cases) {
    std::string buf = c.name;
    std::string out = printed([&] { EXPECT_EQ(attr_name_to_type(buf.data()), c.type) << c.name; });
    EXPECT_EQ(out, "");
  }
  EXPECT_EQ(attr_name_to_type(nullptr), OBJ_ATTR_NAME_UNKNOWN);
}

TEST(AttrNames, TypeToName) {
  const struct {
    int type;
    const char *name;
    const char *printed;
  } cases[] = {
      {0x163, "OBJ_ATTR_LOCAL", ""},
      {0x104, "OBJ_ATTR_ENCRYPT", ""},
      {0x109, "OBJ_ATTR_SIGN_RECOVER", ""},
      {static_cast<int>(0x80000000u), "OBJ_ATTR_VENDOR_DEFINED", ""},
      {0x1003, "OBJ_ATTR_EKCV", ""},
      {4, "INVALID_ATTRIBUTE", "0x0004\n"},
      {0x12345, "INVALID_ATTRIBUTE", "0x12345\n"},
  };
  for (const auto &c : cases) {
    std::string name;
    std::string out =
        printed([&] { name = reinterpret_cast<const char *>(attr_type_to_name(c.type)); });
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(out, c.printed);
  }
}

TEST(AttrNames, Listing) {
  std::string out = printed([] { Qel2ListAttributes(); });
  EXPECT_EQ(out.rfind("\n\n      OBJ_ATTR_CLASS                  = 0\n      OBJ_ATTR_TOKEN", 0),
            0u);
  EXPECT_NE(out.find("\n      OBJ_ATTR_WRAP_TEMPLATE          = 1073742353"), std::string::npos);
  EXPECT_NE(out.find("\n      OBJ_ATTR_UNWRAP_TEMPLATE        = 1073742354"), std::string::npos);
  // LOCAL is listed 16th, between DERIVE and MODULUS; ALL is last.
  EXPECT_LT(out.find("OBJ_ATTR_DERIVE "), out.find("OBJ_ATTR_LOCAL "));
  EXPECT_LT(out.find("OBJ_ATTR_LOCAL "), out.find("OBJ_ATTR_MODULUS "));
  EXPECT_NE(out.find("OBJ_ATTR_ALL                    = 512\n"), std::string::npos);
  EXPECT_EQ(out.back(), '\n');
  for (const char *absent : {"OBJ_ATTR_ACCESS", "OBJ_ATTR_VENDOR_DEFINED", "OBJ_ATTR_PRIME ",
                             "OBJ_ATTR_BASE", "OBJ_ATTR_PRIME_BITS", "OBJ_ATTR_MODIFIABLE"})
    EXPECT_EQ(out.find(absent), std::string::npos) << absent;
  size_t lines = 0;
  for (size_t p = 0; (p = out.find("\n      ", p)) != std::string::npos; ++p) ++lines;
  EXPECT_EQ(lines, 30u);
}

TEST(ReadDecimal, BoundedByTheValue) {
  const struct {
    std::string text;
    size_t size;
    int64_t value;
  } cases[] = {
      {"4\n", 2, 4},
      {"31", 2, 31},
      {"1", 1, 1},
      {"12", 1, 1},  // stops at the value's size, not at a NUL
      {"-5\n", 3, -5},
      {"  7", 3, 7},
      {"+8", 2, 8},
      {"12abc", 5, 12},
      {"abc", 3, 0},
      {"", 0, 0},
      {"-", 1, 0},
      {std::string("\x01", 1), 1, 0},  // a raw byte is not decimal text
      {"99999999999999999999999", 23, INT64_MAX},
      {"-99999999999999999999999", 24, INT64_MIN},
      {"9223372036854775807", 19, INT64_MAX},
      {"-9223372036854775808", 20, INT64_MIN},
  };
  for (const auto &c : cases) {
    // Copy into an exact-size heap block so that ASan catches any over-read.
    std::unique_ptr<uint8_t[]> v(new uint8_t[c.size ? c.size : 1]);
    std::memcpy(v.get(), c.text.data(), c.size);
    EXPECT_EQ(qel2::tmpl::read_decimal(v.get(), c.size), c.value) << c.text;
  }
  const uint8_t big[] = {'2', '1', '4', '7', '4', '8', '3', '6', '4', '8'};
  EXPECT_EQ(qel2::tmpl::read_decimal_i32(big, sizeof big), INT32_MAX);
  EXPECT_EQ(qel2::tmpl::read_decimal(nullptr, 4), 0);
}

TEST(AttrWalker, ByLength) {
  Bytes t = encode({{1, "a"}, {2, ""}, {3, "xyz"}});
  AttrWalker w(t.data(), t.size());
  AttrView a;
  std::vector<uint32_t> seen;
  while (w.next(&a)) seen.push_back(a.type);
  EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_FALSE(w.malformed());
  EXPECT_EQ(w.count(), 3u);
  EXPECT_EQ(w.offset(), t.size());
}

// Walks a copy in an exact-size heap block, so that ASan sees any over-read.
std::pair<size_t, bool> walk(const Bytes &b) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() ? b.size() : 1]);
  std::memcpy(exact.get(), b.data(), b.size());
  AttrWalker w(exact.get(), b.size());
  AttrView a;
  size_t n = 0;
  while (w.next(&a)) ++n;
  return {n, w.malformed()};
}

TEST(AttrWalker, StopsAtAnythingCrossingTheEnd) {
  const Bytes t = encode({{1, "a"}, {3, "xyz"}});
  Bytes value_cut(t.begin(), t.end() - 1);
  Bytes head_cut(t.begin(), t.begin() + 14);
  Bytes tail = t;
  tail.insert(tail.end(), {0, 0, 0});
  Bytes huge = encode({{1, "a"}});  // a size near 2^32 must not wrap
  huge[4] = huge[5] = huge[6] = 0xFF;
  huge[7] = 0xFA;
  EXPECT_EQ(walk(t), std::make_pair(size_t{2}, false));
  EXPECT_EQ(walk(value_cut), std::make_pair(size_t{1}, true));
  EXPECT_EQ(walk(head_cut), std::make_pair(size_t{1}, true));
  EXPECT_EQ(walk(tail), std::make_pair(size_t{2}, true));
  EXPECT_EQ(walk(huge), std::make_pair(size_t{0}, true));
}

TEST(AttrWalker, ByCount) {
  Bytes obj = object({{1, "a"}, {2, "bb"}});
  qel2::tmpl::ObjectView o;
  ASSERT_TRUE(qel2::tmpl::read_object_head(obj.data(), obj.size(), &o));
  EXPECT_EQ(o.attr_count, 2u);
  EXPECT_EQ(o.obj_size, obj.size());
  AttrWalker w = qel2::tmpl::object_walker(o);
  AttrView a;
  size_t n = 0;
  while (w.next(&a)) ++n;
  EXPECT_EQ(n, 2u);
  EXPECT_FALSE(w.malformed());

  Bytes over = object({{1, "a"}}, 5);  // claims five attributes, holds one
  ASSERT_TRUE(qel2::tmpl::read_object_head(over.data(), over.size(), &o));
  AttrWalker w2 = qel2::tmpl::object_walker(o);
  n = 0;
  while (w2.next(&a)) ++n;
  EXPECT_EQ(n, 1u);
  EXPECT_TRUE(w2.malformed());
  EXPECT_FALSE(qel2::tmpl::read_object_head(obj.data(), 11, &o));
}

TEST(TextHelpers, BoundedComparisons) {
  EXPECT_TRUE(qel2::tmpl::equals_nocase("PUBLIC", 6, "public"));
  EXPECT_FALSE(qel2::tmpl::equals_nocase("PUBLIC", 5, "public"));
  EXPECT_FALSE(qel2::tmpl::equals_nocase("publicx", 7, "public"));
  EXPECT_TRUE(qel2::tmpl::equals_nocase("Private", 7, "private"));
  EXPECT_EQ(qel2::tmpl::bounded_strlen(reinterpret_cast<const uint8_t *>("abc"), 2), 2u);
  EXPECT_EQ(qel2::tmpl::bounded_strlen(reinterpret_cast<const uint8_t *>("a\0c"), 3), 1u);
}

}  // namespace
