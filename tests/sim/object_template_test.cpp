// The stand-in's own template reader: every form the library's builders
// emit, the sub-records, nested templates, and what it refuses.
#include <gtest/gtest.h>

#include "hsm/objects/template.h"
#include "object_client.h"

using namespace hsmsim::hsm::obj;
using simtest::bytes;
using simtest::Tmpl;

namespace {

constexpr uint32_t kInvalidInput = 0x81, kValueInvalid = 0xAA, kTypeInvalid = 0xAF,
                   kInconsistent = 0xB0;

ParsedTemplate parse_ok(const Tmpl &t, Purpose p = Purpose::Create) {
  ParsedTemplate out;
  EXPECT_EQ(parse_template(t.b, p, out), 0u);
  return out;
}

uint32_t parse_code(const std::vector<uint8_t> &b, Purpose p = Purpose::Create) {
  ParsedTemplate out;
  return parse_template(b, p, out);
}

}  // namespace

// The key-generation template of a 32-byte AES token key labelled k1, as the
// builder lays it out: 15 attributes, 168 bytes.
TEST(ObjectTemplate, ReadsTheBuildersKeyGenerationTemplate) {
  Tmpl t;
  t.num(attr::kClass, 4).flag(attr::kWrap, true).flag(attr::kUnwrap, true).num(attr::kKeyType, 31);
  t.num(attr::kToken, 1).num(attr::kAccess, 1).users({}).m_value(0).raw(attr::kLabel, bytes("k1"));
  t.flag(attr::kEncrypt, true).flag(attr::kDecrypt, true).flag(attr::kPrivate, true);
  t.flag(attr::kSensitive, true).flag(attr::kExtractable, true).num(attr::kValueLen, 32);
  ASSERT_EQ(t.b.size(), 168u);
  ParsedTemplate p = parse_ok(t);
  EXPECT_EQ(p.count, 15u);
  EXPECT_EQ(p.number(attr::kClass), 4u);
  EXPECT_EQ(p.number(attr::kKeyType), 31u);
  EXPECT_EQ(p.number(attr::kValueLen), 32u);
  EXPECT_EQ(p.number(attr::kExtractable), 1u);
  ASSERT_TRUE(p.users);
  EXPECT_TRUE(p.users->empty());
  EXPECT_EQ(p.m_value, 0u);
  EXPECT_FALSE(p.sessions);
  EXPECT_FALSE(p.find(attr::kAccess));  // computed by the HSM, never kept
  EXPECT_EQ(p.find(attr::kLabel)->kept, bytes("k1"));
}

TEST(ObjectTemplate, ValueForms) {
  struct Case {
    uint32_t type;
    std::vector<uint8_t> value;
    std::optional<std::vector<uint8_t>> kept;  // none: refused
  };
  const std::vector<uint8_t> k4{0, 0, 0, 4};
  const Case cases[] = {
      {attr::kValueLen, bytes("4\n"), k4},  // SetTemplate3
      {attr::kValueLen, bytes("4"), k4},    // rebuilt templates
      {attr::kValueLen, {'4', 0}, k4},
      {attr::kValueLen, bytes("4294967295"), std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}},
      {attr::kValueLen, bytes("4294967296"), std::nullopt},
      {attr::kValueLen, bytes("-1\n"), std::nullopt},
      {attr::kValueLen, bytes("4x"), std::nullopt},
      {attr::kValueLen, bytes("4\n\n"), std::nullopt},
      {attr::kValueLen, {}, std::nullopt},
      {attr::kClass, bytes("3\n"), std::vector<uint8_t>{3}},
      {attr::kClass, bytes("256"), std::nullopt},
      {attr::kSign, {'1', 0}, std::vector<uint8_t>{1}},
      {attr::kSign, {'0', 0}, std::vector<uint8_t>{0}},
      {attr::kSign, bytes("1"), std::vector<uint8_t>{1}},
      {attr::kSign, bytes("0\n"), std::vector<uint8_t>{0}},
      {attr::kSign, {1}, std::vector<uint8_t>{1}},
      {attr::kSign, {0}, std::vector<uint8_t>{0}},
      {attr::kSign, {'2', 0}, std::nullopt},
      {attr::kSign, bytes("10"), std::nullopt},
      {attr::kSign, {2}, std::nullopt},
      {attr::kLabel, {'k', 0}, std::vector<uint8_t>{'k', 0}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.value.begin(), c.value.end()) + " for type " +
                 std::to_string(c.type));
    ParsedTemplate p;
    uint32_t rc = parse_template(Tmpl().raw(c.type, c.value).b, Purpose::Create, p);
    if (!c.kept) {
      EXPECT_EQ(rc, kValueInvalid);
      continue;
    }
    ASSERT_EQ(rc, 0u);
    EXPECT_EQ(p.attrs.at(0).kept, *c.kept);
  }
}

// A public-key template carries the exponent as text, a private-key template
// as four big-endian bytes; both are kept without leading zeros.
TEST(ObjectTemplate, PublicExponentByClass) {
  const std::vector<uint8_t> e{1, 0, 1};
  EXPECT_EQ(parse_ok(Tmpl().num(attr::kClass, 2).num(attr::kPublicExponent, 65537))
                .find(attr::kPublicExponent)
                ->kept,
            e);
  EXPECT_EQ(parse_ok(Tmpl().num(attr::kClass, 3).raw(attr::kPublicExponent, {0, 1, 0, 1}))
                .find(attr::kPublicExponent)
                ->kept,
            e);
  // Digits in a private-key template are bytes, not text.
  EXPECT_EQ(parse_ok(Tmpl().num(attr::kClass, 3).raw(attr::kPublicExponent, bytes("3")))
                .find(attr::kPublicExponent)
                ->kept,
            bytes("3"));
  EXPECT_EQ(parse_code(Tmpl().num(attr::kClass, 3).raw(attr::kPublicExponent, {0, 0}).b),
            kValueInvalid);
}

TEST(ObjectTemplate, SubRecords) {
  Tmpl t;
  t.num(attr::kToken, 0).sessions({7, 0x40000009}).num(attr::kAccess, 3).users({1, 2}).m_value(2);
  t.raw(attr::kVendorDefined, bytes("640\n"));  // CRT length: no prefix
  ParsedTemplate p = parse_ok(t);
  EXPECT_EQ(*p.sessions, (std::vector<uint32_t>{7, 9}));  // device bits are not the HSM's
  EXPECT_EQ(*p.users, (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(p.m_value, 2u);
  EXPECT_EQ(p.number(attr::kVendorDefined), 640u);

  auto sessions_of = [](std::vector<uint8_t> v) {
    return parse_code(Tmpl().raw(attr::kVendorDefined, v).b);
  };
  EXPECT_EQ(sessions_of({'s', 'e', 's', 's', 'n', 's', ':', 0, 2, 0, 0, 0, 7}),
            kInvalidInput);  // count 2, one handle
  EXPECT_EQ(sessions_of({'u', 's', 'e', 'r', 's', ':', 0, 0, 0}), kInvalidInput);  // odd id bytes
  EXPECT_EQ(sessions_of({'m', '_', 'v', 'a', 'l', 'u', 'e', ':', 0, 0, 2}),
            kInvalidInput);  // short M value
  EXPECT_EQ(sessions_of(bytes("crt")), kValueInvalid);
  // A creating template names each sub-record once; a search may repeat them.
  EXPECT_EQ(parse_code(Tmpl().users({1}).users({2}).b), kInconsistent);
  EXPECT_EQ(parse_code(Tmpl().users({1}).users({2}).b, Purpose::Find), 0u);
}

TEST(ObjectTemplate, NestedTemplates) {
  Tmpl inner;
  inner.num(attr::kClass, 4).num(attr::kKeyType, 31).num(attr::kValueLen, 16);
  EXPECT_EQ(parse_code(Tmpl().raw(attr::kWrapTemplate, inner.object()).b), 0u);
  auto obj = inner.object();
  obj[7] = 2;  // attribute count
  EXPECT_EQ(parse_code(Tmpl().raw(attr::kWrapTemplate, obj).b), kInvalidInput);
  obj = inner.object();
  obj.pop_back();  // the last attribute cut short
  EXPECT_EQ(parse_code(Tmpl().raw(attr::kUnwrapTemplate, obj).b), kInvalidInput);
  // No template within a nested one.
  Tmpl deep;
  deep.raw(attr::kWrapTemplate, inner.object());
  EXPECT_EQ(parse_code(Tmpl().raw(attr::kWrapTemplate, deep.object()).b), kInconsistent);
}

TEST(ObjectTemplate, Refusals) {
  auto t = Tmpl().num(attr::kClass, 4).b;
  EXPECT_EQ(parse_code({t.begin(), t.end() - 1}), kInvalidInput);    // value runs past the end
  EXPECT_EQ(parse_code({t.begin(), t.begin() + 5}), kInvalidInput);  // header cut
  EXPECT_EQ(parse_code(Tmpl().num(4, 1).b), kTypeInvalid);           // no attribute 4
  EXPECT_EQ(parse_code(Tmpl().num(attr::kAll, 1).b), kTypeInvalid);
  EXPECT_EQ(parse_code(Tmpl().num(attr::kClass, 4).num(attr::kClass, 4).b), kInconsistent);
  ParsedTemplate p;
  ASSERT_EQ(parse_template(Tmpl().num(attr::kModulusBits, 64).num(attr::kModulusBits, 415).b,
                           Purpose::Find, p),
            0u);
  EXPECT_EQ(p.attrs.size(), 2u);
  ASSERT_EQ(parse_template({}, Purpose::Find, p), 0u);
  EXPECT_EQ(p.count, 0u);
}
