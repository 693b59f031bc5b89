// Rebuilding a creation template from a key's attribute data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "mgmt/objects/objects_internal.h"
#include "obj_fixture.h"

using namespace obj_test;

namespace {

struct Free {
  void operator()(void *p) const { free(p); }
};
using Tmpl = std::unique_ptr<Uint8, Free>;

// The attribute data of an all-attributes read: an Object head and attributes.
Bytes object_data(const Bytes &attrs, uint32_t count) {
  return Be{}.u32(0).u32(count).u32(uint32_t(attrs.size())).bytes(attrs);
}

Bytes one(uint8_t b) { return Bytes{b}; }
Bytes word(uint32_t v) { return Be{}.u32(v); }
Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }
Bytes text_nul(const std::string &s) {
  Bytes b = text(s);
  b.push_back(0);
  return b;
}

struct Built {
  Tmpl tmpl;
  Uint32 size = 0, count = 0;
  std::string out;
  Bytes bytes() const { return tmpl ? Bytes(tmpl.get(), tmpl.get() + size) : Bytes{}; }
};

Built build(const Bytes &attrs, uint32_t count) {
  Bytes data = object_data(attrs, count);
  Built b;
  b.size = b.count = 0xEEEE;
  testing::internal::CaptureStdout();
  b.tmpl.reset(build_template_from_attributes(data.data(), data.size(), &b.size, &b.count));
  b.out = testing::internal::GetCapturedStdout();
  return b;
}

TEST(RebuildTemplate, SecretKeyInTheOrderOfItsData) {
  Be attrs;
  attrs.attr(OBJ_ATTR_CLASS, one(4)).attr(OBJ_ATTR_TOKEN, one(1)).attr(OBJ_ATTR_LABEL, text("k1"));
  attrs.attr(OBJ_ATTR_KEY_TYPE, one(31)).attr(OBJ_ATTR_VALUE_LEN, word(32));
  attrs.attr(OBJ_ATTR_SIGN, one(1))
      .attr(OBJ_ATTR_MODULUS_BITS, word(2048))
      .attr(OBJ_ATTR_LOCAL, one(1));
  attrs.attr(OBJ_ATTR_ENCRYPT, one(1)).attr(OBJ_ATTR_WRAP, one(0));
  Built b = build(attrs, 10);
  ASSERT_TRUE(b.tmpl) << b.out;
  Bytes want = Be{}.attr(OBJ_ATTR_CLASS, "4")
                   .attr(OBJ_ATTR_TOKEN, "1")
                   .attr(OBJ_ATTR_LABEL, text_nul("k1"))
                   .attr(OBJ_ATTR_KEY_TYPE, "31")
                   .attr(OBJ_ATTR_VALUE_LEN, "32")
                   .attr(OBJ_ATTR_ENCRYPT, "1")
                   .attr(OBJ_ATTR_WRAP, "0")
                   .attr(OBJ_ATTR_ACCESS, text_nul("1"))
                   .attr(OBJ_ATTR_SENSITIVE, text_nul("1"));
  EXPECT_EQ(want, b.bytes());
  EXPECT_EQ(want.size(), b.size);
  EXPECT_EQ(9u, b.count);
  EXPECT_EQ("", b.out);
}

TEST(RebuildTemplate, RsaPrivateKey) {
  Be attrs;
  attrs.attr(OBJ_ATTR_KEY_TYPE, one(0))
      .attr(OBJ_ATTR_CLASS, one(3))
      .attr(OBJ_ATTR_SENSITIVE, one(1));
  attrs.attr(OBJ_ATTR_PUBLIC_EXPONENT, Bytes{1, 0, 1}).attr(OBJ_ATTR_MODULUS_BITS, word(2048));
  attrs.attr(OBJ_ATTR_SIGN, one(1)).attr(OBJ_ATTR_ENCRYPT, one(1)).attr(OBJ_ATTR_WRAP, one(1));
  attrs.attr(OBJ_ATTR_VENDOR_DEFINED, word(640)).attr(OBJ_ATTR_VALUE_LEN, word(9));
  attrs.attr(OBJ_ATTR_ID, Bytes{0, 1, 2, 0})
      .attr(OBJ_ATTR_DECRYPT, one(1))
      .attr(OBJ_ATTR_UNWRAP, one(0));
  Built b = build(attrs, 13);
  ASSERT_TRUE(b.tmpl) << b.out;
  Bytes want = Be{}.attr(OBJ_ATTR_KEY_TYPE, "0")
                   .attr(OBJ_ATTR_CLASS, "3")
                   .attr(OBJ_ATTR_SENSITIVE, "1")
                   .attr(OBJ_ATTR_PUBLIC_EXPONENT, Bytes{0, 1, 0, 1})
                   .attr(OBJ_ATTR_MODULUS_BITS, "2048")
                   .attr(OBJ_ATTR_SIGN, "1")
                   .attr(OBJ_ATTR_VENDOR_DEFINED, "640")
                   .attr(OBJ_ATTR_ID, Bytes{0, 1, 2, 0})
                   .attr(OBJ_ATTR_DECRYPT, "1")
                   .attr(OBJ_ATTR_UNWRAP, "0")
                   .attr(OBJ_ATTR_ACCESS, text_nul("1"));  // the key had SENSITIVE: no second one
  EXPECT_EQ(want, b.bytes());
  EXPECT_EQ(11u, b.count);
}

TEST(RebuildTemplate, ValuesAreReadWithinTheirSize) {
  Be attrs;
  // Class and type with no bytes read as 0; an EC private key drops the vendor attribute.
  attrs.attr(OBJ_ATTR_CLASS, Bytes{}).attr(OBJ_ATTR_KEY_TYPE, one(3));
  attrs.attr(OBJ_ATTR_LABEL, text("ab")).u32(OBJ_ATTR_TOKEN).u32(1).u8('7');
  Built b = build(attrs, 4);
  ASSERT_TRUE(b.tmpl) << b.out;
  EXPECT_EQ(Bytes(Be{}.attr(OBJ_ATTR_CLASS, "0")
                      .attr(OBJ_ATTR_KEY_TYPE, "3")
                      .attr(OBJ_ATTR_LABEL, text_nul("ab"))
                      .attr(OBJ_ATTR_TOKEN, "55")
                      .attr(OBJ_ATTR_ACCESS, text_nul("1"))
                      .attr(OBJ_ATTR_SENSITIVE, text_nul("1"))),
            b.bytes());

  // A label holding a NUL stops there; short numbers and long exponents.
  Be more;
  more.attr(OBJ_ATTR_CLASS, Bytes{3, 9}).attr(OBJ_ATTR_KEY_TYPE, one(0));
  more.attr(OBJ_ATTR_LABEL, Bytes{'a', 'b', 0, 'c', 'd'})
      .attr(OBJ_ATTR_MODULUS_BITS, Bytes{0x08, 0x00});
  more.attr(OBJ_ATTR_PUBLIC_EXPONENT, Bytes{9, 9, 0, 1, 0, 1})
      .attr(OBJ_ATTR_VENDOR_DEFINED, Bytes{});
  b = build(more, 6);
  ASSERT_TRUE(b.tmpl) << b.out;
  EXPECT_EQ(Bytes(Be{}.attr(OBJ_ATTR_CLASS, "3")
                      .attr(OBJ_ATTR_KEY_TYPE, "0")
                      .attr(OBJ_ATTR_LABEL, text_nul("ab"))
                      .attr(OBJ_ATTR_MODULUS_BITS, "2048")
                      .attr(OBJ_ATTR_PUBLIC_EXPONENT, Bytes{0, 1, 0, 1})
                      .attr(OBJ_ATTR_VENDOR_DEFINED, "0")
                      .attr(OBJ_ATTR_ACCESS, text_nul("1"))
                      .attr(OBJ_ATTR_SENSITIVE, text_nul("1"))),
            b.bytes());
}

TEST(RebuildTemplate, MissingClassOrTypeAndPublicKeys) {
  struct Case {
    Bytes attrs;
    uint32_t count;
    std::string out;
  } cases[] = {
      {Be{}.attr(OBJ_ATTR_CLASS, one(2)).attr(OBJ_ATTR_KEY_TYPE, one(0)), 2,
       "Invalid key class for this operation 2\n"},
      {Be{}.attr(OBJ_ATTR_CLASS, one(4)), 1, "key Type attribute is not found in the list"},
      {Be{}.attr(OBJ_ATTR_KEY_TYPE, one(31)), 1, "key class attribute is not found in the list"},
      {Be{}.attr(OBJ_ATTR_LABEL, text("x")), 1,
       "key class attribute is not found in the listkey Type attribute is not found in the list"},
      {Bytes{}, 0, "key class attribute is not found in the list"},
      // A public key without a type reports the missing type first.
      {Be{}.attr(OBJ_ATTR_CLASS, one(2)), 1, "key Type attribute is not found in the list"},
  };
  for (const Case &c : cases) {
    Built b = build(c.attrs, c.count);
    EXPECT_FALSE(b.tmpl);
    EXPECT_EQ(c.out, b.out);
    EXPECT_EQ(0xEEEEu, b.size);
    EXPECT_EQ(0xEEEEu, b.count);
  }
  // Fewer than a head's bytes.
  Bytes tiny{0, 0, 0};
  Uint32 size = 0, count = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, build_template_from_attributes(tiny.data(), tiny.size(), &size, &count));
  EXPECT_EQ("key class attribute is not found in the list", testing::internal::GetCapturedStdout());
}

TEST(RebuildTemplate, TemplateSizeLimit) {
  // class 9 + type 10 + sensitive 9 bytes, then an id: the template may fill 4086
  // bytes before the 10-byte access attribute.
  auto key_with_id = [](size_t id_len) {
    return Be{}
        .attr(OBJ_ATTR_CLASS, one(4))
        .attr(OBJ_ATTR_KEY_TYPE, one(31))
        .attr(OBJ_ATTR_SENSITIVE, one(1))
        .attr(OBJ_ATTR_ID, Bytes(id_len, 0x11));
  };
  Built fits = build(key_with_id(4050), 4);
  ASSERT_TRUE(fits.tmpl) << fits.out;
  EXPECT_EQ(4096u, fits.size);

  Built over = build(key_with_id(4051), 4);
  EXPECT_FALSE(over.tmpl);
  EXPECT_EQ("Attributes size exceeds the max template size", over.out);

  // Without SENSITIVE the appended one needs 10 more bytes.
  Built no_room = build(Be{}.attr(OBJ_ATTR_CLASS, one(4))
                            .attr(OBJ_ATTR_KEY_TYPE, one(31))
                            .attr(OBJ_ATTR_ID, Bytes(4059, 0x11)),
                        3);
  EXPECT_FALSE(no_room.tmpl);
  EXPECT_EQ("Attributes size exceeds the max template size", no_room.out);

  // One attribute alone larger than the template.
  Built huge = build(Be{}.attr(OBJ_ATTR_CLASS, one(4))
                         .attr(OBJ_ATTR_KEY_TYPE, one(31))
                         .attr(OBJ_ATTR_LABEL, Bytes(5000, 'L')),
                     3);
  EXPECT_FALSE(huge.tmpl);
}

TEST(RebuildTemplate, AttributesRunningPastTheDataAreRefused) {
  Bytes good = Be{}.attr(OBJ_ATTR_CLASS, one(4)).attr(OBJ_ATTR_KEY_TYPE, one(31));
  // A size that runs past the data.
  Bytes cut = Be{}.bytes(good).u32(OBJ_ATTR_LABEL).u32(0x7FFFFFFF).text("abc");
  Built b = build(cut, 3);
  EXPECT_FALSE(b.tmpl);
  // More attributes counted than present.
  b = build(good, 5);
  EXPECT_FALSE(b.tmpl);
  // A count that stops early leaves the rest unread.
  b = build(Be{}.bytes(good).attr(OBJ_ATTR_TOKEN, one(1)), 2);
  ASSERT_TRUE(b.tmpl);
  EXPECT_EQ(4u, b.count);  // class, type, access, sensitive
}

// ---- through the library, with scripted answers ----

class GetTemplateCalls : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  Uint32 session_ = 0;
};

TEST_F(GetTemplateCalls, SizeThenDataThenTemplate) {
  Bytes data = object_data(Be{}.attr(OBJ_ATTR_CLASS, one(4)).attr(OBJ_ATTR_KEY_TYPE, one(21)), 2);
  const uint32_t l = uint32_t(data.size());
  answer(KQ_GET_ALL_ATTRIBUTE_SIZE, Be{}.bytes(resp(0)).u32(l));
  answer(KQ_GET_ALL_ATTRIBUTE_VALUE, Be{}.bytes(resp(0)).u32(l).bytes(data));
  Uint32 size = 0, count = 0;
  Tmpl t(GetTemplate(session_, 0x1234, &size, &count));
  ASSERT_TRUE(t);
  EXPECT_EQ(4u, count);
  EXPECT_EQ(Bytes(Be{}.attr(OBJ_ATTR_CLASS, "4")
                      .attr(OBJ_ATTR_KEY_TYPE, "21")
                      .attr(OBJ_ATTR_ACCESS, text_nul("1"))
                      .attr(OBJ_ATTR_SENSITIVE, text_nul("1"))),
            Bytes(t.get(), t.get() + size));
  auto reads = sent_requests(d(), KQ_GET_ALL_ATTRIBUTE_VALUE);
  ASSERT_EQ(1u, reads.size());
  // The buffer offered is the reported size: data + 20.
  EXPECT_EQ((std::vector<uint16_t>{20, uint16_t(l + 20)}), reads[0].out_sizes());
  EXPECT_EQ(0x1234u, reads[0].key_handle);
}

TEST_F(GetTemplateCalls, FailuresPrintAndReturnNull) {
  answer(KQ_GET_ALL_ATTRIBUTE_SIZE, Be{}.bytes(resp(RET_INVALID_USER)).u32(0), 1);
  Uint32 size = 7, count = 7;
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, GetTemplate(session_, 1, &size, &count));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, out.find("GetTemplate:")) << out;
  EXPECT_NE(std::string::npos, out.find(": Qel2GetAllAttributes2 failed: "));
  EXPECT_NE(std::string::npos,
            out.find(reinterpret_cast<const char *>(Qel2ResultAsString(RET_INVALID_USER))));
  EXPECT_EQ(7u, size);

  // The data grew between the two reads: the second read fails.
  answer(KQ_GET_ALL_ATTRIBUTE_SIZE, Be{}.bytes(resp(0)).u32(10), 1);
  answer(KQ_GET_ALL_ATTRIBUTE_VALUE, Be{}.bytes(resp(0)).u32(100).bytes(Bytes(30, 0)), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, GetTemplate(session_, 1, &size, &count));
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos,
            out.find(reinterpret_cast<const char *>(Qel2ResultAsString(ERR_BUFFER_TOO_SMALL))))
      << out;

  // A length that cannot be allocated plus one.
  answer(KQ_GET_ALL_ATTRIBUTE_SIZE, Be{}.bytes(resp(0)).u32(0xFFFFFFF0u), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, GetTemplate(session_, 1, &size, &count));
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find(": Memory alloction failed for attributes\n")) << out;
  EXPECT_EQ(7u, size);
  EXPECT_EQ(7u, count);

  // A length no answer to one segment can have is not allocated, nor read.
  d().clear_captured();
  answer(KQ_GET_ALL_ATTRIBUTE_SIZE, Be{}.bytes(resp(0)).u32(0x10000000u), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, GetTemplate(session_, 1, &size, &count));
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find(": Memory alloction failed for attributes\n")) << out;
  EXPECT_TRUE(sent_requests(d(), KQ_GET_ALL_ATTRIBUTE_VALUE).empty());
}

}  // namespace
