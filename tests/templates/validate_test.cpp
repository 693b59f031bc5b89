// Template validation as a table of (template, mode, expected status), the
// nested template rules, and the set-attribute check with a fake reader.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/template/attr_reader.h"
#include "qel2_errors.h"
#include "qel2_template.h"
#include "tmpl_util.h"

using namespace tmpltest;

namespace {

const std::string kSet("1\0", 2);
const std::string kCleared("0\0", 2);
const Bytes kUsers = bytes(std::string("users:\0\0\0\x01", 10));
const Bytes kSessions = bytes(std::string("sessns:\0\x01\0\0\0\x07", 13));

constexpr Uint8 kCreate = TEMPLATE_MODE_CREATE, kGen = TEMPLATE_MODE_KEY_GEN,
                kDerive = TEMPLATE_MODE_DERIVE, kUnwrap = TEMPLATE_MODE_UNWRAP,
                kFind = TEMPLATE_MODE_FIND;

struct Case {
  const char *name;
  Bytes tmpl;
  Uint8 mode;
  Uint32 status;
  const char *output;  // expected within what is printed ("" for nothing to check)
};

std::vector<Case> cases() {
  const A secret_class{OBJ_ATTR_CLASS, "4\n"};
  const A aes{OBJ_ATTR_KEY_TYPE, "31\n"};
  Bytes wrap_t =
      object({{OBJ_ATTR_CLASS, "4"}, {OBJ_ATTR_KEY_TYPE, "31"}, {OBJ_ATTR_VALUE_LEN, "32"}});
  Bytes truncated = encode({secret_class, {OBJ_ATTR_LABEL, "k1"}});
  truncated.pop_back();
  Bytes size_past_end = encode({secret_class, {OBJ_ATTR_LABEL, "k1"}});
  size_past_end[10 + 7] = 0x40;
  Bytes tail = encode({secret_class});
  tail.insert(tail.end(), {0, 0, 0});
  return {
      {"label twice in find", encode({{OBJ_ATTR_LABEL, "a"}, {OBJ_ATTR_LABEL, "b"}}), kFind,
       RET_INVALID_INPUT, "\n\tOBJ_ATTR_LABEL repeated in the template\n"},
      {"label twice in key generation",
       encode({secret_class, {OBJ_ATTR_LABEL, "a"}, {OBJ_ATTR_LABEL, "a"}}), kGen,
       RET_INVALID_INPUT, "\n\tOBJ_ATTR_LABEL repeated in the template\n"},
      {"two users records",
       encode({secret_class, {OBJ_ATTR_VENDOR_DEFINED, kUsers}, {OBJ_ATTR_VENDOR_DEFINED, kUsers}}),
       kGen, RET_INVALID_INPUT,
       "\n\tOBJ_ATTR_VENDOR_DEFINED has duplicate users:\n\n\tOBJ_ATTR_VENDOR_DEFINED repeated in "
       "the template\n"},
      {"users and sessions",
       encode({secret_class,
               aes,
               {OBJ_ATTR_VENDOR_DEFINED, kUsers},
               {OBJ_ATTR_VENDOR_DEFINED, kSessions}}),
       kGen, 0, ""},
      {"duplicate crt text without NUL",
       encode(
           {secret_class, {OBJ_ATTR_VENDOR_DEFINED, "640\n"}, {OBJ_ATTR_VENDOR_DEFINED, "640\n"}}),
       kUnwrap, RET_INVALID_INPUT, "has duplicate 640\n\n"},
      {"ekcv passes with a please-add line", encode({secret_class, {OBJ_ATTR_EKCV, "\x01\x02"}}),
       kGen, 0, "\n\tPlease add OBJ_ATTR_EKCV in this list\n"},
      {"unknown number", encode({secret_class, {0x4444, "x"}}), kGen, 0,
       "0x4444\n\n\tPlease add INVALID_ATTRIBUTE in this list\n"},
      {"empty in find", {}, kFind, 0, ""},
      {"no class", encode({aes, {OBJ_ATTR_LABEL, "k"}}), kGen, ERR_INVALID_INPUT,
       "\n\tInvalid Key class 0\n"},
      {"class 1", encode({{OBJ_ATTR_CLASS, "1\n"}}), kCreate, ERR_INVALID_INPUT,
       "\n\tInvalid Key class 1\n"},
      {"no class in find", encode({aes}), kFind, 0, ""},
      {"wrap 0 with wrap template",
       encode({secret_class, {OBJ_ATTR_WRAP, kCleared}, {OBJ_ATTR_WRAP_TEMPLATE, wrap_t}}), kGen,
       ERR_INVALID_INPUT,
       "\n\tInvalid OBJ_ATTR_WRAP/UNWRAP value for OBJ_ATTR_WRAP_TEMPLATE/UNWRAP_TEMPLATE"},
      {"unwrap 0 with unwrap template",
       encode({secret_class, {OBJ_ATTR_UNWRAP, "0"}, {OBJ_ATTR_UNWRAP_TEMPLATE, wrap_t}}), kGen,
       ERR_INVALID_INPUT, ""},
      {"wrap template alone", encode({secret_class, {OBJ_ATTR_WRAP_TEMPLATE, wrap_t}}), kGen, 0,
       ""},
      {"wrap 1 with wrap template",
       encode({secret_class, {OBJ_ATTR_WRAP, kSet}, {OBJ_ATTR_WRAP_TEMPLATE, wrap_t}}), kGen, 0,
       ""},
      {"sensitive 0 in key generation", encode({secret_class, {OBJ_ATTR_SENSITIVE, kCleared}}),
       kGen, ERR_INVALID_INPUT,
       "\n\tHSM doesn't support OBJ_ATTR_SENSITIVE value 0 for KEY_GEN\n\n\tValidation failed Key "
       "class 4 and key "
       "type 0x0 OBJ_ATTR_SENSITIVE\n"},
      {"sensitive 0 in unwrap", encode({secret_class, {OBJ_ATTR_SENSITIVE, kCleared}}), kUnwrap, 0,
       ""},
      {"local 0 in key generation", encode({secret_class, {OBJ_ATTR_LOCAL, "0"}}), kGen,
       ERR_INVALID_INPUT, ""},
      {"private 0 secret", encode({secret_class, {OBJ_ATTR_PRIVATE, kCleared}}), kUnwrap,
       ERR_INVALID_INPUT, "\n\tHSM doesn't support OBJ_ATTR_PRIVATE value 0\n"},
      {"private 0 private key", encode({{OBJ_ATTR_CLASS, "3"}, {OBJ_ATTR_PRIVATE, kCleared}}),
       kDerive, ERR_INVALID_INPUT, ""},
      {"private 0 public key", encode({{OBJ_ATTR_CLASS, "2"}, {OBJ_ATTR_PRIVATE, "0\n"}}), kCreate,
       ERR_INVALID_INPUT, ""},
      {"public rsa exponent 0",
       encode({{OBJ_ATTR_CLASS, "2\n"},
               {OBJ_ATTR_KEY_TYPE, "0\n"},
               {OBJ_ATTR_PUBLIC_EXPONENT, "0\n"}}),
       kCreate, ERR_INVALID_INPUT,
       "\n\tHSM doesn't support OBJ_ATTR_PUBLIC_EXPONENT value 0 for Public key type 0x0\n"},
      {"public rsa exponent negative",
       encode({{OBJ_ATTR_CLASS, "2\n"},
               {OBJ_ATTR_KEY_TYPE, "0\n"},
               {OBJ_ATTR_PUBLIC_EXPONENT, "-3\n"}}),
       kCreate, ERR_INVALID_INPUT, ""},
      {"public rsa exponent 65537",
       encode({{OBJ_ATTR_CLASS, "2\n"},
               {OBJ_ATTR_KEY_TYPE, "0\n"},
               {OBJ_ATTR_PUBLIC_EXPONENT, "65537\n"}}),
       kCreate, 0, ""},
      {"public ec exponent 0",
       encode({{OBJ_ATTR_CLASS, "2\n"},
               {OBJ_ATTR_KEY_TYPE, "3\n"},
               {OBJ_ATTR_PUBLIC_EXPONENT, "0\n"}}),
       kCreate, 0, ""},
      {"public not extractable",
       encode(
           {{OBJ_ATTR_CLASS, "2\n"}, {OBJ_ATTR_KEY_TYPE, "3\n"}, {OBJ_ATTR_EXTRACTABLE, kCleared}}),
       kCreate, ERR_INVALID_INPUT, "value 0 for Public key type 0x3\n"},
      {"public sign 1 outside set-attribute",
       encode({{OBJ_ATTR_CLASS, "2\n"}, {OBJ_ATTR_SIGN, kSet}}), kCreate, 0, ""},
      {"repeated modulus bits in find",
       encode({{OBJ_ATTR_MODULUS_BITS, "64\n"}, {OBJ_ATTR_MODULUS_BITS, "415\n"}}), kFind,
       RET_INVALID_INPUT, "OBJ_ATTR_MODULUS_BITS repeated"},
      {"last attribute past the end", size_past_end, kGen, RET_INVALID_INPUT, "runs past the end"},
      {"template cut in a value", truncated, kFind, RET_INVALID_INPUT, ""},
      {"trailing bytes", tail, kFind, RET_INVALID_INPUT, ""},
  };
}

TEST(ValidateTemplate, Table) {
  for (const Case &c : cases()) {
    Bytes t = c.tmpl;
    // Exact-size heap copy: any read past the template shows under ASan.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[t.size() + 1]);
    if (!t.empty()) std::memcpy(exact.get(), t.data(), t.size());
    Uint32 count = 0xFFFF;
    Uint32 rc = 0;
    std::string out = printed([&] {
      rc = validate_template_from_user_ext(static_cast<Uint32>(t.size()), exact.get(), &count,
                                           c.mode);
    });
    EXPECT_EQ(rc, c.status) << c.name << "\n" << out;
    if (*c.output) {
      EXPECT_NE(out.find(c.output), std::string::npos) << c.name << "\n" << out;
    }
    if (c.status == 0) {
      EXPECT_EQ(count, decode(t.data(), t.size()).size()) << c.name;
    }
  }
}

TEST(ValidateTemplate, EntryPointsAndMessages) {
  Uint32 count = 7;
  Uint8 dummy = 0;
  std::string out = printed(
      [&] { EXPECT_EQ(validateTemplateFromUser2(0, &dummy, &count, kGen), ERR_INVALID_INPUT); });
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(
      out, "\n\tInvalid Key class 0\n\n\tValidation of template is failed with error 0x4000021c\n");
  out = printed(
      [&] { EXPECT_EQ(validateTemplateFromUser2(4, nullptr, &count, kGen), ERR_INVALID_INPUT); });
  EXPECT_EQ(out.rfind("\n\tNull parameters are passed", 0), 0u);
  out = printed([&] {
    EXPECT_EQ(validate_template_from_user_ext(4, &dummy, nullptr, kGen), ERR_INVALID_INPUT);
  });
  EXPECT_EQ(out, "\n\tNull parameters are passed");

  Bytes ok = encode({{OBJ_ATTR_CLASS, "4\n"}, {OBJ_ATTR_KEY_TYPE, "31\n"}});
  out = printed([&] {
    EXPECT_EQ(
        validateTemplateFromUser(static_cast<Uint32>(ok.size()), ok.data(), 999, &count, kGen), 0u);
  });
  EXPECT_EQ(out, "");
  EXPECT_EQ(count, 2u);
}

TEST(ValidateTemplate, BuiltTemplatesPass) {
  Uint32 size = 0, count = 0, walked = 0;
  const Uint8 label[] = {'k', '1'};
  Buffer aes(SetTemplate3(0, kGen, 4, 31, 1, nullptr, 0, nullptr, 0, 0, nullptr, 0, label, 2,
                          nullptr, 0, 32, 0, nullptr, 0, 0, 0, 0, nullptr, 0, nullptr, 1, nullptr,
                          &size, &count));
  ASSERT_TRUE(aes);
  EXPECT_EQ(validate_template_from_user_ext(size, aes.get(), &walked, kGen), 0u);
  EXPECT_EQ(walked, count);
  Buffer rsa(SetTemplate3(0, kUnwrap, 3, 0, 1, nullptr, 0, nullptr, 0, 0, nullptr, 0, label, 2,
                          nullptr, 0, 0, 2048, nullptr, 640, 65537, 0, 0, nullptr, 0, nullptr, 0,
                          nullptr, &size, &count));
  ASSERT_TRUE(rsa);
  EXPECT_EQ(validate_template_from_user_ext(size, rsa.get(), &walked, kUnwrap), 0u);
}

struct NestedCase {
  const char *name;
  Bytes obj;
  Uint32 status;
  const char *output;
};

TEST(ValidateTemplate, NestedTemplates) {
  Bytes short_head = {0, 0, 0, 0, 0, 0, 0, 1};
  const NestedCase nested[] = {
      {"secret aes",
       object({{OBJ_ATTR_CLASS, "4"}, {OBJ_ATTR_KEY_TYPE, "31"}, {OBJ_ATTR_VALUE_LEN, "800"}}), 0,
       ""},
      {"empty head", object({}), 0, ""},
      {"no value", {}, 0, ""},
      {"class 4 with ec type", object({{OBJ_ATTR_CLASS, "4"}, {OBJ_ATTR_KEY_TYPE, "3"}}),
       RET_INVALID_INPUT, "\n\tInvalid Key Class 4 for keyType 3 in wrap/unwrap template\n"},
      {"class 3 with aes type", object({{OBJ_ATTR_CLASS, "3"}, {OBJ_ATTR_KEY_TYPE, "31"}}),
       RET_INVALID_INPUT, "for keyType 31"},
      {"type 20", object({{OBJ_ATTR_CLASS, "4"}, {OBJ_ATTR_KEY_TYPE, "20"}}), RET_INVALID_INPUT,
       "\n\tInvalid Key Type 20 in wrap/unwrap template\n"},
      {"type 32", object({{OBJ_ATTR_KEY_TYPE, "32"}}), RET_INVALID_INPUT, "Invalid Key Type 32"},
      {"class 2", object({{OBJ_ATTR_CLASS, "2"}}), RET_INVALID_INPUT,
       "\n\tInvalid Key Class 2 in wrap/unwrap template\n"},
      {"value length 801", object({{OBJ_ATTR_CLASS, "4"}, {OBJ_ATTR_VALUE_LEN, "801"}}),
       RET_INVALID_INPUT, "\n\tInvalid value 801 for OBJ_ATTR_VALUE_LEN\n"},
      {"value length 0", object({{OBJ_ATTR_CLASS, "4"}, {OBJ_ATTR_VALUE_LEN, "0"}}),
       RET_INVALID_INPUT, ""},
      {"value length 801 without class", object({{OBJ_ATTR_VALUE_LEN, "801"}}), 0, ""},
      {"never extractable", object({{OBJ_ATTR_NEVER_EXTRACTABLE, "1"}}), RET_INVALID_INPUT,
       "\n\tHSM doesn't support OBJ_ATTR_NEVER_EXTRACTABLE as part of OBJ_ATTR_WRAP_TEMPLATE\n"},
      {"modifiable", object({{OBJ_ATTR_MODIFIABLE, "1"}}), RET_INVALID_INPUT, ""},
      {"count past the value", object({{OBJ_ATTR_CLASS, "4"}}, 3), RET_INVALID_INPUT, ""},
      {"shorter than a head", short_head, RET_INVALID_INPUT, ""},
  };
  for (const NestedCase &c : nested) {
    Bytes t = encode({{OBJ_ATTR_CLASS, "4\n"}, {OBJ_ATTR_WRAP_TEMPLATE, c.obj}});
    std::unique_ptr<uint8_t[]> exact(new uint8_t[t.size()]);
    std::memcpy(exact.get(), t.data(), t.size());
    Uint32 count = 0, rc = 0;
    std::string out = printed([&] {
      rc = validate_template_from_user_ext(static_cast<Uint32>(t.size()), exact.get(), &count,
                                           kUnwrap);
    });
    EXPECT_EQ(rc, c.status) << c.name << "\n" << out;
    if (*c.output) {
      EXPECT_NE(out.find(c.output), std::string::npos) << c.name << "\n" << out;
    }
  }
}

TEST(ValidateTemplate, NestedEntryPointBoundByItsHead) {
  Bytes good = object({{OBJ_ATTR_CLASS, "4"}, {OBJ_ATTR_KEY_TYPE, "31"}});
  EXPECT_EQ(validate_wrap_unwrap_template(OBJ_ATTR_UNWRAP_TEMPLATE, good.data()), 0u);
  // No template and a head without attributes have nothing to break a rule.
  EXPECT_EQ(validate_wrap_unwrap_template(OBJ_ATTR_UNWRAP_TEMPLATE, nullptr), 0u);
  Bytes none = object({});
  EXPECT_EQ(validate_wrap_unwrap_template(OBJ_ATTR_UNWRAP_TEMPLATE, none.data()), 0u);
  // A head stating a size no request can carry is refused before the walk
  // (under ASan, reading past the 20-byte template would fail the test).
  Bytes huge = good;
  huge[8] = 0x7F;
  printed([&] {
    EXPECT_EQ(validate_wrap_unwrap_template(OBJ_ATTR_UNWRAP_TEMPLATE, huge.data()),
              RET_INVALID_INPUT);
  });
  // obj_size says 12: the attribute after the head lies outside it.
  Bytes lying = good;
  lying[11] = 12;
  printed([&] {
    EXPECT_EQ(validate_wrap_unwrap_template(OBJ_ATTR_UNWRAP_TEMPLATE, lying.data()),
              RET_INVALID_INPUT);
  });
}

TEST(ValidateTemplate, SingleAttributeEntryPoints) {
  Bytes sign = encode({{OBJ_ATTR_SIGN, kSet}});
  Attribute *a = reinterpret_cast<Attribute *>(sign.data());
  printed([&] {
    EXPECT_EQ(template_validate_attribute(a, 2, 0, TEMPLATE_MODE_SET_ATTRIBUTE), ERR_INVALID_INPUT);
    EXPECT_EQ(template_validate_attribute(a, 2, 0, kCreate), 0u);
    EXPECT_EQ(template_validate_attribute(a, 5, 0, kCreate), ERR_INVALID_INPUT);
    EXPECT_EQ(template_validate_attribute(nullptr, 2, 0, kCreate), ERR_INVALID_INPUT);
    EXPECT_EQ(validate_common_attribute(nullptr, kCreate), ERR_INVALID_INPUT);
  });
  Bytes priv = encode({{OBJ_ATTR_PRIVATE, "0"}});
  printed([&] {
    EXPECT_EQ(validate_common_attribute(reinterpret_cast<Attribute *>(priv.data()), kFind),
              ERR_INVALID_INPUT);
  });
}

// ---- the set-attribute check, with the object's attributes faked ----

struct FakeObject {
  std::string key_class = "2";
  std::string key_type = "0";
  Uint32 class_status = 0;
  Uint32 type_status = 0;
  int reads = 0;
};
FakeObject g_object;

Uint32 fake_get_attribute(Uint32, Uint64, Uint32 attr, Uint8 *buf, Uint32 *len) {
  ++g_object.reads;
  const std::string &v = attr == OBJ_ATTR_CLASS ? g_object.key_class : g_object.key_type;
  const Uint32 status = attr == OBJ_ATTR_CLASS ? g_object.class_status : g_object.type_status;
  if (status) return status;
  if (v.size() > *len) {
    *len = static_cast<Uint32>(v.size());
    return ERR_BUFFER_TOO_SMALL;
  }
  std::memcpy(buf, v.data(), v.size());
  *len = static_cast<Uint32>(v.size());
  return 0;
}

class SetAttributeCheck : public testing::Test {
 protected:
  void SetUp() override {
    g_object = FakeObject{};
    qel2::tmpl::set_attribute_reader(fake_get_attribute);
  }
  void TearDown() override { qel2::tmpl::set_attribute_reader(nullptr); }

  Uint32 check(Uint32 attr, const std::string &value, std::string *out = nullptr) {
    std::unique_ptr<Uint8[]> v(new Uint8[value.size() + 1]);
    std::memcpy(v.get(), value.data(), value.size());
    Uint32 rc = 0;
    std::string o = printed([&] {
      rc = validate_setAttribute_template(5, 0x1234, attr, v.get(),
                                          static_cast<Uint32>(value.size()));
    });
    if (out) *out = o;
    return rc;
  }
};

TEST_F(SetAttributeCheck, RulesByObjectClass) {
  const struct {
    const char *key_class;
    Uint32 attr;
    std::string value;
    Uint32 status;
  } cases[] = {
      {"2", OBJ_ATTR_SIGN, kSet, ERR_INVALID_INPUT},
      {"2", OBJ_ATTR_SIGN, kCleared, 0},
      {"2", OBJ_ATTR_DECRYPT, "1", ERR_INVALID_INPUT},
      {"2", OBJ_ATTR_LABEL, "new", 0},
      {"3", OBJ_ATTR_ENCRYPT, kSet, ERR_INVALID_INPUT},
      {"3", OBJ_ATTR_WRAP, "1\n", ERR_INVALID_INPUT},
      {"3", OBJ_ATTR_SIGN, kSet, 0},
      {"4", OBJ_ATTR_ENCRYPT, kSet, 0},
      {"4", OBJ_ATTR_PRIVATE, kCleared, ERR_INVALID_INPUT},
      {"0", OBJ_ATTR_LABEL, "x", ERR_INVALID_INPUT},
      {"1", OBJ_ATTR_LABEL, "x", ERR_INVALID_INPUT},
  };
  for (const auto &c : cases) {
    g_object.key_class = c.key_class;
    std::string out;
    EXPECT_EQ(check(c.attr, c.value, &out), c.status) << c.key_class << " " << c.attr << "\n"
                                                      << out;
  }
  g_object.key_class = "1";
  std::string out;
  check(OBJ_ATTR_LABEL, "x", &out);
  EXPECT_EQ(out, "\n\tInvalid key class 1\n");
  g_object.key_class = "2";
  check(OBJ_ATTR_SIGN, kSet, &out);
  EXPECT_EQ(out, "\n\tHSM doesn't support OBJ_ATTR_SIGN value 1 for Public key type 0x0\n");
  g_object.key_class = "3";
  check(OBJ_ATTR_VERIFY, kSet, &out);
  EXPECT_EQ(out, "\n\tHSM doesn't support OBJ_ATTR_VERIFY value 1 for Private key type 0x0 \n");
}

TEST_F(SetAttributeCheck, TrustedNeedsNoRead) {
  EXPECT_EQ(check(OBJ_ATTR_TRUSTED, kSet), 0u);
  EXPECT_EQ(g_object.reads, 0);
}

TEST_F(SetAttributeCheck, ReadFailures) {
  g_object.class_status = RET_INVALID_OBJ_HANDLE;
  EXPECT_EQ(check(OBJ_ATTR_LABEL, "x"), static_cast<Uint32>(RET_INVALID_OBJ_HANDLE));
  g_object = FakeObject{};
  g_object.key_class = "12345";  // does not fit the 4-byte buffer
  EXPECT_EQ(check(OBJ_ATTR_LABEL, "x"), ERR_BUFFER_TOO_SMALL);
  // A failed key-type read leaves the type unknown and goes on.
  g_object = FakeObject{};
  g_object.type_status = RET_ATTRIBUTE_TYPE_INVALID;
  std::string out;
  EXPECT_EQ(check(OBJ_ATTR_SIGN, kSet, &out), ERR_INVALID_INPUT);
  EXPECT_NE(out.find("Public key type 0xffffffff"), std::string::npos);
}

TEST_F(SetAttributeCheck, ValueLengthsFromTheCaller) {
  // Without a value the attribute reads as zeros, whatever length is claimed.
  g_object.key_class = "2";
  printed([] {
    EXPECT_EQ(validate_setAttribute_template(5, 1, OBJ_ATTR_SIGN, nullptr, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(validate_setAttribute_template(5, 1, OBJ_ATTR_EXTRACTABLE, nullptr, 0xFFFFFFF8u),
              ERR_INVALID_INPUT);
    EXPECT_EQ(validate_setAttribute_template(5, 1, OBJ_ATTR_WRAP_TEMPLATE, nullptr, 0xFFFFFFFFu),
              0u);
  });
  // A nested template is checked within the caller's length.
  Bytes nested = object({{OBJ_ATTR_CLASS, "4"}, {OBJ_ATTR_KEY_TYPE, "3"}});
  std::string value(nested.begin(), nested.end());
  EXPECT_EQ(check(OBJ_ATTR_UNWRAP_TEMPLATE, value), RET_INVALID_INPUT);
  EXPECT_EQ(check(OBJ_ATTR_UNWRAP_TEMPLATE, value.substr(0, value.size() - 1)), RET_INVALID_INPUT);
}

}  // namespace
