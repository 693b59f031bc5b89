// The template builders: worked templates byte for byte, attribute choice
// by mode and class, bounds and refused arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qel2_errors.h"
#include "qel2_template.h"
#include "tmpl_util.h"

using namespace tmpltest;

namespace {

const std::string kSet("1\0", 2);
const std::string kCleared("0\0", 2);

Bytes users_record(std::vector<uint16_t> ids) {
  Bytes b = bytes(std::string("users:\0\0", 8));
  for (uint16_t u : ids) {
    b.push_back(static_cast<uint8_t>(u >> 8));
    b.push_back(static_cast<uint8_t>(u));
  }
  return b;
}

Bytes m_value_record(uint32_t m) {
  Bytes b = bytes("m_value:");
  put32(b, m);
  return b;
}

// The arguments of SetTemplate3 with neutral defaults.
struct Args {
  Uint8 mode = TEMPLATE_MODE_KEY_GEN;
  Uint32 key_class = OBJ_CLASS_SECRET_KEY;
  Uint32 key_type = KEY_TYPE_AES;
  Uint8 location = STORAGE_FLASH;
  const Uint32 *sessions = nullptr;
  Uint8 n_sessions = 0;
  const Uint16 *users = nullptr;
  Uint8 n_users = 0;
  Uint32 m_value = 0;
  const Uint8 *id = nullptr;
  Uint32 id_len = 0;
  const Uint8 *label = reinterpret_cast<const Uint8 *>("k1");
  Uint32 label_len = 2;
  const Uint8 *kcv = nullptr;
  Uint32 kcv_len = 0;
  Uint32 key_len = 0;
  Uint32 mod_bits = 0;
  const Uint8 *modulus = nullptr;
  Uint32 crt_len = 0;
  Uint32 pub_exp = 0;
  Uint32 curve_id = 0;
  Uint32 prime_bits = 0;
  const Uint8 *prime = nullptr;
  Uint32 base_len = 0;
  const Uint8 *base = nullptr;
  Uint8 extractable = 1;
  const extendedTemplateArgs *ext = nullptr;
};

struct Built {
  Buffer buf;
  Uint32 size = 0xDEAD;
  Uint32 count = 0xDEAD;
  std::vector<A> attrs() const { return decode(buf.get(), size); }
};

Built build3(const Args &a) {
  Built b;
  b.buf.reset(SetTemplate3(0, a.mode, a.key_class, a.key_type, a.location, a.sessions, a.n_sessions,
                           a.users, a.n_users, a.m_value, a.id, a.id_len, a.label, a.label_len,
                           a.kcv, a.kcv_len, a.key_len, a.mod_bits, a.modulus, a.crt_len, a.pub_exp,
                           a.curve_id, a.prime_bits, a.prime, a.base_len, a.base, a.extractable,
                           a.ext, &b.size, &b.count));
  return b;
}

Built build_old(const Args &a) {
  Built b;
  b.buf.reset(SetTemplate(0, a.mode, a.key_class, a.key_type, a.location, a.sessions, a.n_sessions,
                          a.users, a.n_users, a.m_value, a.id, a.id_len, a.label, a.label_len,
                          a.kcv, a.kcv_len, a.key_len, a.mod_bits, a.modulus, a.crt_len, a.pub_exp,
                          a.curve_id, a.prime_bits, a.prime, a.base_len, a.base, &b.size,
                          &b.count));
  return b;
}

bool has(const std::vector<A> &attrs, uint32_t type) {
  for (const A &a : attrs)
    if (a.type == type) return true;
  return false;
}

const A *first(const std::vector<A> &attrs, uint32_t type) {
  for (const A &a : attrs)
    if (a.type == type) return &a;
  return nullptr;
}

TEST(SetTemplate3, AesTokenKeyGenerationByteForByte) {
  Args a;
  a.key_len = 32;
  Built b = build3(a);
  ASSERT_TRUE(b.buf);
  Bytes expected = encode({
      {OBJ_ATTR_CLASS, "4\n"},
      {OBJ_ATTR_WRAP, kSet},
      {OBJ_ATTR_UNWRAP, kSet},
      {OBJ_ATTR_KEY_TYPE, "31\n"},
      {OBJ_ATTR_TOKEN, "1\n"},
      {OBJ_ATTR_ACCESS, "1\n"},
      {OBJ_ATTR_VENDOR_DEFINED, users_record({})},
      {OBJ_ATTR_VENDOR_DEFINED, m_value_record(0)},
      {OBJ_ATTR_LABEL, "k1"},
      {OBJ_ATTR_ENCRYPT, kSet},
      {OBJ_ATTR_DECRYPT, kSet},
      {OBJ_ATTR_PRIVATE, kSet},
      {OBJ_ATTR_SENSITIVE, kSet},
      {OBJ_ATTR_EXTRACTABLE, kSet},
      {OBJ_ATTR_VALUE_LEN, "32\n"},
  });
  EXPECT_EQ(b.count, 15u);
  EXPECT_EQ(b.size, 168u);
  ASSERT_EQ(expected.size(), 168u);
  EXPECT_EQ(Bytes(b.buf.get(), b.buf.get() + b.size), expected);
  // The rest of the 4096-byte buffer stays zero.
  for (size_t i = b.size; i < 4096; ++i) ASSERT_EQ(b.buf.get()[i], 0) << i;
}

TEST(SetTemplate3, SessionKeyCarriesSessionsRightAfterToken) {
  const Uint32 sessions[] = {7, 9};
  Args a;
  a.location = STORAGE_RAM;
  a.sessions = sessions;
  a.n_sessions = 2;
  Built b = build3(a);
  ASSERT_TRUE(b.buf);
  auto attrs = b.attrs();
  ASSERT_GE(attrs.size(), 6u);
  EXPECT_EQ(attrs[4].type, OBJ_ATTR_TOKEN);
  EXPECT_EQ(attrs[4].value, bytes("0\n"));
  Bytes rec = bytes(std::string("sessns:\0\x02", 9));
  put32(rec, 7);
  put32(rec, 9);
  EXPECT_EQ(attrs[5].type, OBJ_ATTR_VENDOR_DEFINED);
  EXPECT_EQ(attrs[5].value, rec);
  EXPECT_EQ(attrs[5].value.size(), 17u);
}

TEST(SetTemplate3, UsersAndMValue) {
  const Uint16 users[] = {1, 2};
  Args a;
  a.users = users;
  a.n_users = 2;
  a.m_value = 2;
  Built b = build3(a);
  ASSERT_TRUE(b.buf);
  auto attrs = b.attrs();
  EXPECT_EQ(attrs[5].type, OBJ_ATTR_ACCESS);
  EXPECT_EQ(attrs[5].value, bytes("3\n"));
  EXPECT_EQ(attrs[6].value, users_record({1, 2}));
  EXPECT_EQ(attrs[7].value, m_value_record(2));

  a.m_value = 4;
  std::string out = printed([&] { EXPECT_FALSE(build3(a).buf); });
  EXPECT_EQ(out, "key m_value = 4 and shared user count = 3\n");
}

TEST(SetTemplate3, AccessCountIsNotTruncatedToEightBits) {
  std::vector<Uint16> users(255);
  for (size_t i = 0; i < users.size(); ++i) users[i] = static_cast<Uint16>(i + 1);
  Args a;
  a.users = users.data();
  a.n_users = 9;
  Built nine = build3(a);
  ASSERT_TRUE(nine.buf);
  EXPECT_EQ(first(nine.attrs(), OBJ_ATTR_ACCESS)->value, bytes("10\n"));

  a.n_users = 255;
  a.m_value = 256;  // not above the shared count
  Built all = build3(a);
  ASSERT_TRUE(all.buf);
  EXPECT_EQ(first(all.attrs(), OBJ_ATTR_ACCESS)->value, bytes("256\n"));
}

TEST(SetTemplate3, ClassAndTypePairs) {
  struct Case {
    Uint32 key_class, key_type;
    bool builds;
  } cases[] = {
      {3, 16, false}, {2, 31, false},          {4, 0, false},
      {4, 3, false},  {3, 21, false},          {1, 31, true},
      {0, 0, true},   {5, 31, true},           {2, 3, true},
      {4, 18, true},  {3, KEY_TYPE_ANY, true}, {OBJ_CLASS_ANY, 31, true},
  };
  for (const Case &c : cases) {
    Args a;
    a.mode = TEMPLATE_MODE_FIND;
    a.key_class = c.key_class;
    a.key_type = c.key_type;
    EXPECT_EQ(static_cast<bool>(build3(a).buf), c.builds) << c.key_class << "/" << c.key_type;
  }
}

TEST(SetTemplate3, RequiredLocationTypeAndLabelByMode) {
  struct Case {
    Uint8 mode;
    Uint8 location;
    Uint32 key_type;
    bool label;
    bool builds;
  } cases[] = {
      {TEMPLATE_MODE_KEY_GEN, 255, KEY_TYPE_AES, true, false},
      {TEMPLATE_MODE_KEY_GEN, 1, KEY_TYPE_AES, false, false},
      {TEMPLATE_MODE_KEY_GEN, 1, KEY_TYPE_ANY, true, false},
      {TEMPLATE_MODE_DERIVE, 255, KEY_TYPE_AES, true, false},
      {TEMPLATE_MODE_DERIVE, 1, KEY_TYPE_AES, false, false},
      {TEMPLATE_MODE_UNWRAP, 1, KEY_TYPE_AES, false, true},  // unwrap needs no label
      {TEMPLATE_MODE_UNWRAP, 255, KEY_TYPE_AES, true, false},
      {TEMPLATE_MODE_FIND, 255, KEY_TYPE_ANY, false, true},
  };
  for (const Case &c : cases) {
    Args a;
    a.mode = c.mode;
    a.location = c.location;
    a.key_type = c.key_type;
    if (!c.label) {
      a.label = nullptr;
      a.label_len = 0;
    }
    Built b = build3(a);
    EXPECT_EQ(static_cast<bool>(b.buf), c.builds) << int(c.mode) << " " << int(c.location);
    if (b.buf && c.mode == TEMPLATE_MODE_FIND) {
      EXPECT_FALSE(has(b.attrs(), OBJ_ATTR_TOKEN));
      EXPECT_FALSE(has(b.attrs(), OBJ_ATTR_LABEL));
    }
  }
}

TEST(SetTemplate3, SearchTemplateHasNoUsageFlags) {
  Args a;
  a.mode = TEMPLATE_MODE_FIND;
  a.key_class = OBJ_CLASS_PRIVATE_KEY;
  a.key_type = KEY_TYPE_RSA;
  Built b = build3(a);
  ASSERT_TRUE(b.buf);
  for (uint32_t t : {OBJ_ATTR_SIGN, OBJ_ATTR_PRIVATE, OBJ_ATTR_SENSITIVE, OBJ_ATTR_DECRYPT})
    EXPECT_FALSE(has(b.attrs(), t)) << t;
}

TEST(SetTemplate3, PublicExponentForm) {
  Args unwrap;
  unwrap.mode = TEMPLATE_MODE_UNWRAP;
  unwrap.key_class = OBJ_CLASS_PRIVATE_KEY;
  unwrap.key_type = KEY_TYPE_RSA;
  unwrap.pub_exp = 65537;
  Built u = build3(unwrap);
  ASSERT_TRUE(u.buf);
  EXPECT_EQ(first(u.attrs(), OBJ_ATTR_PUBLIC_EXPONENT)->value, (Bytes{0x00, 0x01, 0x00, 0x01}));

  Args create;
  create.mode = TEMPLATE_MODE_CREATE;
  create.key_class = OBJ_CLASS_PUBLIC_KEY;
  create.key_type = KEY_TYPE_RSA;
  create.pub_exp = 65537;
  Built c = build3(create);
  ASSERT_TRUE(c.buf);
  EXPECT_EQ(first(c.attrs(), OBJ_ATTR_PUBLIC_EXPONENT)->value, bytes("65537\n"));

  // A private key outside unwrap carries no exponent.
  Args gen = unwrap;
  gen.mode = TEMPLATE_MODE_KEY_GEN;
  EXPECT_FALSE(has(build3(gen).attrs(), OBJ_ATTR_PUBLIC_EXPONENT));
}

TEST(SetTemplate3, ExtractableFlag) {
  Args a;
  a.extractable = 0;
  EXPECT_EQ(first(build3(a).attrs(), OBJ_ATTR_EXTRACTABLE)->value, bytes(kCleared));
  a.extractable = 255;
  EXPECT_FALSE(has(build3(a).attrs(), OBJ_ATTR_EXTRACTABLE));
}

TEST(SetTemplate3, RsaPrivateUnwrapTemplate) {
  Args a;
  a.mode = TEMPLATE_MODE_UNWRAP;
  a.key_class = OBJ_CLASS_PRIVATE_KEY;
  a.key_type = KEY_TYPE_RSA;
  a.pub_exp = 65537;
  a.crt_len = 640;
  a.mod_bits = 2048;
  a.extractable = 0;
  Built b = build3(a);
  ASSERT_TRUE(b.buf);
  Bytes expected = encode({
      {OBJ_ATTR_CLASS, "3\n"},
      {OBJ_ATTR_UNWRAP, kSet},
      {OBJ_ATTR_KEY_TYPE, "0\n"},
      {OBJ_ATTR_TOKEN, "1\n"},
      {OBJ_ATTR_ACCESS, "1\n"},
      {OBJ_ATTR_VENDOR_DEFINED, users_record({})},
      {OBJ_ATTR_VENDOR_DEFINED, m_value_record(0)},
      {OBJ_ATTR_LABEL, "k1"},
      {OBJ_ATTR_SIGN, kSet},
      {OBJ_ATTR_DECRYPT, kSet},
      {OBJ_ATTR_PRIVATE, kSet},
      {OBJ_ATTR_SENSITIVE, kSet},
      {OBJ_ATTR_EXTRACTABLE, kCleared},
      {OBJ_ATTR_PUBLIC_EXPONENT, Bytes{0, 1, 0, 1}},
      {OBJ_ATTR_VENDOR_DEFINED, "640\n"},
      {OBJ_ATTR_MODULUS_BITS, "2048\n"},
  });
  EXPECT_EQ(b.count, 16u);
  EXPECT_EQ(Bytes(b.buf.get(), b.buf.get() + b.size), expected);
}

TEST(SetTemplate3, FullPublicRsaSearchTemplate) {
  const Uint8 modulus[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const Uint8 prime[4] = {0xA, 0xB, 0xC, 0xD};
  const Uint8 base[3] = {2, 0, 2};
  const Uint8 kcv[3] = {0x11, 0x22, 0x33};
  const Uint8 ekcv[5] = {1, 2, 3, 4, 5};
  Bytes wrap_t = object({{OBJ_ATTR_CLASS, "4"}});
  Bytes unwrap_t = object({{OBJ_ATTR_KEY_TYPE, "31"}});
  extendedTemplateArgs ext{wrap_t.data(),
                           unwrap_t.data(),
                           static_cast<Uint32>(wrap_t.size()),
                           static_cast<Uint32>(unwrap_t.size()),
                           1,
                           sizeof ekcv,
                           const_cast<Uint8 *>(ekcv)};
  Args a;
  a.mode = TEMPLATE_MODE_FIND;
  a.key_class = OBJ_CLASS_PUBLIC_KEY;
  a.key_type = KEY_TYPE_RSA;
  a.location = STORAGE_LOCATION_ANY;
  a.label = nullptr;
  a.label_len = 0;
  a.mod_bits = 64;
  a.modulus = modulus;
  a.curve_id = 415;
  a.prime_bits = 32;
  a.prime = prime;
  a.base = base;
  a.base_len = sizeof base;
  a.kcv = kcv;
  a.kcv_len = sizeof kcv;
  a.ext = &ext;
  Built b = build3(a);
  ASSERT_TRUE(b.buf);
  Bytes expected = encode({
      {OBJ_ATTR_CLASS, "2\n"},
      {OBJ_ATTR_KEY_TYPE, "0\n"},
      {OBJ_ATTR_ACCESS, "1\n"},
      {OBJ_ATTR_VENDOR_DEFINED, users_record({})},
      {OBJ_ATTR_VENDOR_DEFINED, m_value_record(0)},
      {OBJ_ATTR_MODULUS, Bytes(modulus, modulus + 8)},
      {OBJ_ATTR_MODULUS_BITS, "64\n"},
      {OBJ_ATTR_MODULUS_BITS, "415\n"},
      {OBJ_ATTR_PRIME_BITS, "32\n"},
      {OBJ_ATTR_PRIME, Bytes(prime, prime + 4)},
      {OBJ_ATTR_BASE, Bytes(base, base + 3)},
      {OBJ_ATTR_KCV, Bytes(kcv, kcv + 3)},
      {OBJ_ATTR_EKCV, Bytes(ekcv, ekcv + 5)},
      {OBJ_ATTR_DERIVE, "1\n"},
      {OBJ_ATTR_WRAP_TEMPLATE, wrap_t},
      {OBJ_ATTR_UNWRAP_TEMPLATE, unwrap_t},
  });
  EXPECT_EQ(b.count, 16u);
  EXPECT_EQ(Bytes(b.buf.get(), b.buf.get() + b.size), expected);
}

TEST(SetTemplate3, SearchOnlyExtrasStayOutOfOtherModes) {
  const Uint8 kcv[3] = {1, 2, 3};
  const Uint8 ekcv[2] = {4, 5};
  extendedTemplateArgs ext{nullptr, nullptr, 0, 0, 1, sizeof ekcv, const_cast<Uint8 *>(ekcv)};
  Args a;
  a.kcv = kcv;
  a.kcv_len = sizeof kcv;
  a.ext = &ext;
  auto gen = build3(a).attrs();
  for (uint32_t t : {OBJ_ATTR_KCV, OBJ_ATTR_EKCV, OBJ_ATTR_DERIVE}) EXPECT_FALSE(has(gen, t)) << t;
  a.mode = TEMPLATE_MODE_FIND;
  auto find = build3(a).attrs();
  ASSERT_TRUE(first(find, OBJ_ATTR_DERIVE));
  EXPECT_EQ(first(find, OBJ_ATTR_DERIVE)->value, bytes("1\n"));
  EXPECT_TRUE(has(find, OBJ_ATTR_KCV));
}

TEST(SetTemplate3, NestedTemplatesByClass) {
  Bytes nested = object({{OBJ_ATTR_CLASS, "4"}});
  extendedTemplateArgs ext{nested.data(),
                           nested.data(),
                           static_cast<Uint32>(nested.size()),
                           static_cast<Uint32>(nested.size()),
                           2,
                           0,
                           nullptr};
  Args a;
  a.mode = TEMPLATE_MODE_KEY_GEN;
  a.key_type = KEY_TYPE_RSA;
  a.ext = &ext;
  a.key_class = OBJ_CLASS_PRIVATE_KEY;
  auto priv = build3(a).attrs();
  EXPECT_FALSE(has(priv, OBJ_ATTR_WRAP_TEMPLATE));
  EXPECT_TRUE(has(priv, OBJ_ATTR_UNWRAP_TEMPLATE));
  a.key_class = OBJ_CLASS_PUBLIC_KEY;
  auto pub = build3(a).attrs();
  EXPECT_TRUE(has(pub, OBJ_ATTR_WRAP_TEMPLATE));
  EXPECT_FALSE(has(pub, OBJ_ATTR_UNWRAP_TEMPLATE));
}

TEST(SetTemplate3, NeverGrowsPastItsBuffer) {
  // Head: CLASS 10, WRAP 10, UNWRAP 10, KEY_TYPE 11, TOKEN 10, ACCESS 10,
  // users 16, m_value 20 = 97 bytes; after the label come five flags (50).
  const size_t before_label = 97, after_label = 50;
  std::string label(4096, 'x');
  Args a;
  a.label = reinterpret_cast<const Uint8 *>(label.data());
  a.label_len = static_cast<Uint32>(4096 - before_label - after_label - 8);
  Built exact = build3(a);
  ASSERT_TRUE(exact.buf);
  EXPECT_EQ(exact.size, 4096u);
  ++a.label_len;
  EXPECT_FALSE(build3(a).buf);
  a.label_len = 0xFFFFFFF8u;  // 8 + length wraps in 32 bits
  EXPECT_FALSE(build3(a).buf);
}

TEST(SetTemplate3, NullArraysWithCountsFailTheBuild) {
  Args base;
  std::vector<std::pair<const char *, Args>> cases;
  Args sessions = base;
  sessions.location = STORAGE_RAM;
  sessions.n_sessions = 2;
  cases.push_back({"sessions", sessions});
  Args users = base;
  users.n_users = 1;
  cases.push_back({"users", users});
  Args label = base;
  label.label = nullptr;
  label.label_len = 3;
  cases.push_back({"label", label});
  Args id = base;
  id.id_len = 4;
  cases.push_back({"id", id});
  Args kcv = base;
  kcv.mode = TEMPLATE_MODE_FIND;
  kcv.kcv_len = 3;
  cases.push_back({"kcv", kcv});
  extendedTemplateArgs bad_ekcv{nullptr, nullptr, 0, 0, 2, 8, nullptr};
  Args ekcv = kcv;
  ekcv.kcv_len = 0;
  ekcv.ext = &bad_ekcv;
  cases.push_back({"ekcv", ekcv});
  extendedTemplateArgs bad_wrap{nullptr, nullptr, 20, 0, 2, 0, nullptr};
  Args wrap = base;
  wrap.ext = &bad_wrap;
  cases.push_back({"wrap template", wrap});
  for (auto &[what, args] : cases) EXPECT_FALSE(build3(args).buf) << what;

  // A session list is not read for a token object.
  Args token = base;
  token.n_sessions = 3;
  EXPECT_TRUE(build3(token).buf);
}

TEST(SetTemplate3, FailureLeavesOutputsUntouched) {
  Args a;
  a.label_len = 0;
  Built b = build3(a);
  EXPECT_FALSE(b.buf);
  EXPECT_EQ(b.size, 0xDEADu);
  EXPECT_EQ(b.count, 0xDEADu);
}

TEST(SetTemplate2, IsSetTemplate3WithoutExtras) {
  Uint32 size = 0, count = 0;
  Buffer b(SetTemplate2(0, TEMPLATE_MODE_KEY_GEN, 4, 31, 1, nullptr, 0, nullptr, 0, 0, nullptr, 0,
                        reinterpret_cast<const Uint8 *>("k1"), 2, 32, 0, nullptr, 0, 0, 0, 0,
                        nullptr, 0, nullptr, 1, &size, &count));
  Args a;
  a.key_len = 32;
  Built ref = build3(a);
  ASSERT_TRUE(b);
  EXPECT_EQ(Bytes(b.get(), b.get() + size), Bytes(ref.buf.get(), ref.buf.get() + ref.size));
  EXPECT_EQ(count, ref.count);
}

// ---- the older builder ----

TEST(SetTemplateOld, HeadOrderForAesAndDes3) {
  Args a;
  auto aes = types(build_old(a).attrs());
  ASSERT_GE(aes.size(), 5u);
  EXPECT_EQ(std::vector<uint32_t>(aes.begin(), aes.begin() + 5),
            (std::vector<uint32_t>{OBJ_ATTR_CLASS, OBJ_ATTR_EXTRACTABLE, OBJ_ATTR_WRAP,
                                   OBJ_ATTR_UNWRAP, OBJ_ATTR_KEY_TYPE}));
  a.key_type = KEY_TYPE_DES3;
  auto des3 = types(build_old(a).attrs());
  ASSERT_GE(des3.size(), 3u);
  EXPECT_EQ(std::vector<uint32_t>(des3.begin(), des3.begin() + 3),
            (std::vector<uint32_t>{OBJ_ATTR_CLASS, OBJ_ATTR_EXTRACTABLE, OBJ_ATTR_KEY_TYPE}));
}

TEST(SetTemplateOld, SearchForPrivateKeyKeepsUsageFlags) {
  Args a;
  a.mode = TEMPLATE_MODE_FIND;
  a.key_class = OBJ_CLASS_PRIVATE_KEY;
  a.key_type = KEY_TYPE_RSA;
  auto attrs = build_old(a).attrs();
  for (uint32_t t : {OBJ_ATTR_SIGN, OBJ_ATTR_PRIVATE, OBJ_ATTR_SENSITIVE})
    EXPECT_TRUE(has(attrs, t)) << t;
  EXPECT_FALSE(has(attrs, OBJ_ATTR_DECRYPT));
}

TEST(SetTemplateOld, OwnersAndMValue) {
  Args a;
  a.m_value = 3;
  Built b = build_old(a);
  ASSERT_TRUE(b.buf);
  auto attrs = b.attrs();
  EXPECT_EQ(first(attrs, OBJ_ATTR_ACCESS)->value, bytes("1\n"));
  EXPECT_FALSE(has(attrs, OBJ_ATTR_VENDOR_DEFINED));

  a.n_users = 255;
  std::string out = printed([&] { EXPECT_FALSE(build_old(a).buf); });
  EXPECT_EQ(out, "Owner Attribute 255 is unsupported for this mode\n");
  a.mode = TEMPLATE_MODE_FIND;
  Built find = build_old(a);
  ASSERT_TRUE(find.buf);
  EXPECT_FALSE(has(find.attrs(), OBJ_ATTR_ACCESS));
}

TEST(SetTemplateOld, DeriveNeedsNoTypeOrLocation) {
  Args a;
  a.mode = TEMPLATE_MODE_DERIVE;
  a.key_type = KEY_TYPE_ANY;
  a.location = STORAGE_LOCATION_ANY;
  EXPECT_TRUE(build_old(a).buf);
  a.mode = TEMPLATE_MODE_KEY_GEN;
  EXPECT_FALSE(build_old(a).buf);
}

TEST(SetTemplateOld, KcvInEveryMode) {
  const Uint8 kcv[3] = {1, 2, 3};
  Args a;
  a.kcv = kcv;
  a.kcv_len = 3;
  EXPECT_TRUE(has(build_old(a).attrs(), OBJ_ATTR_KCV));
}

// ---- finding and overwriting ----

TEST(UpdateAttribute, OverwritesWithinTheAttribute) {
  Bytes t = encode({{OBJ_ATTR_CLASS, "4\n"}, {OBJ_ATTR_TOKEN, "1\n"}, {OBJ_ATTR_LABEL, "abc"}});
  EXPECT_EQ(UpdateAttribute(t.data(), static_cast<Uint32>(t.size()), OBJ_ATTR_TOKEN,
                            reinterpret_cast<const Uint8 *>("0\n"), 2),
            0);
  EXPECT_EQ(decode(t.data(), t.size())[1].value, bytes("0\n"));

  std::string out = printed([&] {
    EXPECT_EQ(UpdateAttribute(t.data(), static_cast<Uint32>(t.size()), OBJ_ATTR_TOKEN,
                              reinterpret_cast<const Uint8 *>("0\n\n"), 3),
              static_cast<int>(ERR_INVALID_MEMCPY_OP));
  });
  EXPECT_EQ(out, "Memcpy failed while coping attribute value");
  // A shorter value keeps the rest of the old one and the old size.
  EXPECT_EQ(UpdateAttribute(t.data(), static_cast<Uint32>(t.size()), OBJ_ATTR_LABEL,
                            reinterpret_cast<const Uint8 *>("X"), 1),
            0);
  EXPECT_EQ(decode(t.data(), t.size())[2].value, bytes("Xbc"));
  EXPECT_EQ(UpdateAttribute(t.data(), static_cast<Uint32>(t.size()), OBJ_ATTR_ID,
                            reinterpret_cast<const Uint8 *>("1"), 1),
            static_cast<int>(ERR_DATA_LEN_RANGE));
}

TEST(UpdateAttribute, RefusesBadArgumentsAndOverlongAttributes) {
  Bytes t = encode({{OBJ_ATTR_CLASS, "4\n"}, {OBJ_ATTR_TOKEN, "1\n"}});
  std::string out = printed([&] {
    EXPECT_EQ(UpdateAttribute(nullptr, 20, OBJ_ATTR_TOKEN, reinterpret_cast<const Uint8 *>("0"), 1),
              static_cast<int>(ERR_INVALID_INPUT));
  });
  EXPECT_EQ(out, "Null parameters are passed");
  EXPECT_EQ(UpdateAttribute(t.data(), 7, OBJ_ATTR_CLASS, reinterpret_cast<const Uint8 *>("3"), 1),
            static_cast<int>(ERR_INVALID_INPUT));

  // The token attribute claims 200 bytes: it is refused, not written past the end.
  Bytes bad = t;
  bad[10 + 7] = 200;
  Bytes guard = bad;
  EXPECT_EQ(UpdateAttribute(bad.data(), static_cast<Uint32>(bad.size()), OBJ_ATTR_TOKEN,
                            reinterpret_cast<const Uint8 *>("0\n\n\n\n"), 5),
            static_cast<int>(ERR_DATA_LEN_RANGE));
  EXPECT_EQ(bad, guard);
  // A template cut inside a head.
  EXPECT_EQ(UpdateAttribute(t.data(), 14, OBJ_ATTR_TOKEN, reinterpret_cast<const Uint8 *>("0"), 1),
            static_cast<int>(ERR_DATA_LEN_RANGE));
}

TEST(GetAttributeTemplate, FindsOnlyWholeAttributes) {
  Bytes t = encode({{OBJ_ATTR_CLASS, "4\n"}, {OBJ_ATTR_TOKEN, "1\n"}, {OBJ_ATTR_TOKEN, "0\n"}});
  Attribute *a = get_attribute_template(t.data(), OBJ_ATTR_TOKEN, static_cast<Uint32>(t.size()));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(reinterpret_cast<uint8_t *>(a), t.data() + 10);
  EXPECT_EQ(get_attribute_template(t.data(), OBJ_ATTR_LABEL, static_cast<Uint32>(t.size())),
            nullptr);
  // Cut inside the token's value: not returned.
  EXPECT_EQ(get_attribute_template(t.data(), OBJ_ATTR_TOKEN, 19), nullptr);
  std::string out = printed([] { EXPECT_EQ(get_attribute_template(nullptr, 1, 10), nullptr); });
  EXPECT_NE(out.find("pTemplate is NULL\n"), std::string::npos);
  EXPECT_EQ(out.rfind("get_attribute_template ", 0), 0u);
}

}  // namespace
