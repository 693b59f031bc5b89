// Decoding a wrapped key with template: a table of blobs, accepted and each
// refusal, with the token value set in place only for accepted blobs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qel2.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Rec {
  uint32_t type;
  Bytes value;
};
Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes template_of(const std::vector<Rec> &recs) {
  Bytes t;
  for (const auto &r : recs) {
    for (uint32_t v : {r.type, uint32_t(r.value.size())})
      for (int i = 3; i >= 0; --i) t.push_back(uint8_t(v >> (8 * i)));
    t.insert(t.end(), r.value.begin(), r.value.end());
  }
  return t;
}
// Count and length in host order, the template, then key data.
Bytes blob(uint32_t count, const Bytes &tmpl, size_t key_len, int64_t t_len = -1) {
  Bytes b(8);
  const uint32_t t = t_len < 0 ? uint32_t(tmpl.size()) : uint32_t(t_len);
  std::memcpy(b.data(), &count, 4);
  std::memcpy(b.data() + 4, &t, 4);
  b.insert(b.end(), tmpl.begin(), tmpl.end());
  b.insert(b.end(), key_len, 0x5A);
  return b;
}

const std::vector<Rec> kAes = {{OBJ_ATTR_CLASS, text("4")},     {OBJ_ATTR_TOKEN, text("0")},
                               {OBJ_ATTR_KEY_TYPE, text("31")}, {OBJ_ATTR_ID, text("id")},
                               {OBJ_ATTR_LABEL, text("aes")},   {OBJ_ATTR_VALUE_LEN, text("16")}};

std::vector<Rec> with(std::vector<Rec> recs, Rec extra) {
  recs.push_back(std::move(extra));
  return recs;
}
std::vector<Rec> without(std::vector<Rec> recs, uint32_t type) {
  std::erase_if(recs, [&](const Rec &r) { return r.type == type; });
  return recs;
}

struct Case {
  const char *what;
  Bytes blob;
  Uint32 mech;
  Uint8 location;
  bool accepted;
};

TEST(DecodeTemplate, TableOfBlobs) {
  const Bytes aes = template_of(kAes);
  const std::vector<Rec> rsa = {{OBJ_ATTR_CLASS, text("3")},
                                {OBJ_ATTR_TOKEN, text("1")},
                                {OBJ_ATTR_KEY_TYPE, text("0")},
                                {OBJ_ATTR_ID, text("r")},
                                {OBJ_ATTR_PUBLIC_EXPONENT, Bytes{0, 1, 0, 1}}};
  const Bytes rsa_t = template_of(rsa);
  Bytes crossing = aes;
  crossing[crossing.size() - 6] = 0x7F;  // VALUE_LEN's size runs past the end
  const Case cases[] = {
      {"AES with 4241, token object", blob(6, aes, 24), 4241, 1, true},
      {"AES, session object", blob(6, aes, 24), 4241, 0, true},
      {"AES, location not given", blob(6, aes, 24), 4241, 255, true},
      {"no key data", blob(6, aes, 0), 4241, 1, false},
      {"8 bytes", blob(0, {}, 0), 4241, 1, false},
      {"8193 bytes", blob(6, aes, 8193 - 8 - aes.size()), 4240, 1, false},
      {"template length beyond the blob", blob(6, aes, 24, int64_t(aes.size() + 24)), 4241, 1,
       false},
      {"template length near 2^32", blob(6, aes, 24, 0xFFFFFFF7), 4241, 1, false},
      {"a record crossing the template's end", blob(6, crossing, 24), 4241, 1, false},
      {"template above 4096 bytes",
       blob(7, template_of(with(kAes, {OBJ_ATTR_VENDOR_DEFINED, Bytes(4100, 1)})), 24), 4240, 1,
       false},
      {"EXTRACTABLE is not allowed",
       blob(7, template_of(with(kAes, {OBJ_ATTR_EXTRACTABLE, text("1")})), 24), 4241, 1, false},
      {"no ID", blob(5, template_of(without(kAes, OBJ_ATTR_ID)), 24), 4241, 1, false},
      {"ID of 129 bytes",
       blob(6, template_of(with(without(kAes, OBJ_ATTR_ID), {OBJ_ATTR_ID, Bytes(129, 'i')})), 24),
       4241, 1, false},
      {"ID of 128 bytes",
       blob(6, template_of(with(without(kAes, OBJ_ATTR_ID), {OBJ_ATTR_ID, Bytes(128, 'i')})), 24),
       4241, 1, true},
      {"count differs", blob(5, aes, 24), 4241, 1, false},
      {"count 0", blob(0, aes, 24), 4241, 1, false},
      {"public key class",
       blob(6, template_of(with(without(kAes, OBJ_ATTR_CLASS), {OBJ_ATTR_CLASS, text("2")})), 24),
       4241, 1, false},
      {"no token attribute", blob(5, template_of(without(kAes, OBJ_ATTR_TOKEN)), 24), 4241, 1,
       false},
      {"4241 key data not whole blocks", blob(6, aes, 20), 4241, 1, false},
      {"4240 has no key-data rule", blob(6, aes, 20), 4240, 1, true},
      {"RSA-OAEP 256 bytes", blob(5, rsa_t, 256), 9, 1, true},
      {"RSA-OAEP 250 bytes", blob(5, rsa_t, 250), 9, 1, false},
      {"RSA-OAEP 544 bytes", blob(5, rsa_t, 544), 9, 1, false},
      {"RSA-AES 136 bytes", blob(5, rsa_t, 136), 4180, 1, true},
      {"RSA-AES 128 bytes", blob(5, rsa_t, 128), 4180, 1, false},
      {"3DES 18 bytes", blob(5, rsa_t, 18), 310, 1, false},
      {"public exponent of 3 bytes",
       blob(5,
            template_of(with(without(rsa, OBJ_ATTR_PUBLIC_EXPONENT),
                             {OBJ_ATTR_PUBLIC_EXPONENT, Bytes{1, 0, 1}})),
            256),
       9, 1, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = c.blob;
    Uint8 *tmpl = nullptr;
    Uint32 t_len = 0, count = 0;
    const Uint32 off =
        decodeTemplate(b.data(), Uint32(b.size()), c.location, c.mech, &tmpl, &t_len, &count);
    if (!c.accepted) {
      EXPECT_EQ(0u, off);
      EXPECT_EQ(c.blob, b) << "a refused blob is left unchanged";
      continue;
    }
    ASSERT_EQ(t_len + 8, off);
    EXPECT_EQ(b.data() + 8, tmpl);
    Uint32 want_count = 0;
    std::memcpy(&want_count, c.blob.data(), 4);
    EXPECT_EQ(want_count, count);
    // Only the token value changed.
    Attribute *tok = get_attribute_template(tmpl, OBJ_ATTR_TOKEN, t_len);
    ASSERT_TRUE(tok);
    const size_t at = reinterpret_cast<Uint8 *>(tok) - b.data() + 8;
    EXPECT_EQ(c.location == 1 ? '1' : '0', b[at]);
    Bytes rest = b;
    rest[at] = c.blob[at];
    EXPECT_EQ(c.blob, rest);
  }
}

TEST(DecodeTemplate, NullArgumentsAreRefused) {
  Bytes b = blob(6, template_of(kAes), 24);
  Uint8 *tmpl = nullptr;
  Uint32 t_len = 0, count = 0;
  EXPECT_EQ(0u, decodeTemplate(nullptr, 40, 1, 4241, &tmpl, &t_len, &count));
  EXPECT_EQ(0u, decodeTemplate(b.data(), Uint32(b.size()), 1, 4241, nullptr, &t_len, &count));
  EXPECT_EQ(0u, decodeTemplate(b.data(), Uint32(b.size()), 1, 4241, &tmpl, nullptr, &count));
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), validateWrappedKeyTemplate(nullptr, 10, 1));
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), checkValidAttribute(nullptr));
}

}  // namespace
