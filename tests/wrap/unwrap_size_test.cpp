// Unwrapping with a stated key size: the size, type and modulus-bit rules
// with and without a wrapped key with template, and the OBJ_ATTR_VALUE_LEN
// the template is given.
#include <functional>

#include "unwrap_fixture.h"

using namespace unwrap_test;

namespace {

const Bytes kKek = counting(32, 0x40);

class UnwrapSize : public UnwrapTest {
 protected:
  void SetUp() override {
    UnwrapTest::SetUp();
    kek_ = unwrapping_aes(kKek);
  }
  // Without a blob, label "sized", a session object.
  Uint32 stated(Bytes wrapped, Uint32 mech, Uint32 type, Uint32 size, Uint32 mod_bits, uint64_t *h,
                Bytes iv = Bytes(8, 0)) {
    const std::string label = "sized";
    return Qel2UnWrapKeyWithSize(session_, wrapped.data(), Uint32(wrapped.size()), kek_, iv.data(),
                                 type, size, mod_bits, 0, u8(label), Uint32(label.size()), h, 0, 1,
                                 mech, nullptr);
  }
  // The OBJ_ATTR_VALUE_LEN the unwrap's template carried, as text.
  std::string sent_value_len() {
    const Request m = sent_only(d(), KQ_UNWRAP_KEY2);
    if (m.in.size() < 5) return "(none)";
    const Bytes &t = m.input(4);
    for (size_t off = 0; off + 8 <= t.size();) {
      const uint32_t type = be32(t, off), size = be32(t, off + 4);
      if (off + 8 + size > t.size()) break;
      if (type == OBJ_ATTR_VALUE_LEN)
        return std::string(t.begin() + long(off + 8), t.begin() + long(off + 8 + size));
      off += 8 + size;
    }
    return "(none)";
  }
  uint64_t kek_ = 0;
};

// Keys wrapped on the host come out with the stated size in their template.
TEST_F(UnwrapSize, StatedSizeReachesTheTemplate) {
  const Bytes value = counting(16, 0x70);
  uint64_t h = 0;
  ASSERT_EQ(0u, stated(host_wrap(kKek, true, true, value), 4241, KEY_TYPE_AES, 16, 0, &h));
  EXPECT_EQ(value, value_of(h));
  EXPECT_EQ(16, std::stoi(sent_value_len()));

  // 4242 takes no size: the template says "0" and the HSM keeps what unwrapped.
  d().clear_captured();
  Bytes padded = value;
  padded.insert(padded.end(), 8, 8);
  const Bytes a6 = hex("A6A6A6A6A6A6A6A6");
  ASSERT_EQ(0u, stated(host_wrap(kKek, false, true, padded, a6), 4242, KEY_TYPE_AES, 0, 0, &h, a6));
  EXPECT_EQ(value, value_of(h));
  EXPECT_EQ("0", sent_value_len());
}

TEST_F(UnwrapSize, FromAWrappedKeyWithTemplate) {
  ObjectSeed s;
  s.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 4), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
                  ObjectAttr::text(OBJ_ATTR_ID, "sized-1"),
                  ObjectAttr::flag(OBJ_ATTR_EXTRACTABLE, true)};
  s.key = counting(32, 5);
  const uint64_t key = d().hsm().seed_object(s).handle;
  Bytes blob(4096);
  Uint32 len = Uint32(blob.size());
  ASSERT_EQ(0u, Qel2WrapKey(session_, QEL2_FIXED_WRAPPING_KEY, key, blob.data(), &len));
  blob.resize(len);
  auto with_blob = [&](Uint32 type, Uint32 size, uint64_t *h) {
    Bytes b = blob, iv(8, 0);
    return Qel2UnWrapKeyWithSize(session_, b.data(), Uint32(b.size()), QEL2_FIXED_WRAPPING_KEY,
                                 iv.data(), type, size, 0, 1, nullptr, 0, h, 1, 1, 4241, nullptr);
  };
  uint64_t h = 0;
  ASSERT_EQ(0u, with_blob(KEY_TYPE_AES, 32, &h));
  EXPECT_EQ(s.key, value_of(h));
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), with_blob(KEY_TYPE_DES3, 24, &h)) << "type 21 vs 31";
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), with_blob(KEY_TYPE_AES, 16, &h)) << "size 16 vs 32";
}

// The rules on the stated values, none of which sends anything when broken.
TEST_F(UnwrapSize, Rules) {
  uint64_t h = 0;
  const Bytes b24(24, 1), b40(40, 1);
  struct Case {
    const char *name;
    std::function<Uint32()> call;
    bool sent;
  } cases[] = {
      {"4241, 24 bytes, generic secret of 16", [&] { return stated(b24, 4241, 16, 16, 0, &h); },
       true},
      {"... of 17: above m = 16", [&] { return stated(b24, 4241, 16, 17, 0, &h); }, false},
      {"... of 8: below m - 7", [&] { return stated(b24, 4241, 16, 8, 0, &h); }, false},
      {"4240, 40 bytes, AES of 24", [&] { return stated(b40, 4240, 31, 24, 0, &h); }, true},
      {"... AES of 32", [&] { return stated(b40, 4240, 31, 32, 0, &h); }, true},
      {"... AES of 16: below m - 8", [&] { return stated(b40, 4240, 31, 16, 0, &h); }, false},
      {"... AES of 20: not an AES size", [&] { return stated(b40, 4240, 31, 20, 0, &h); }, false},
      {"4242 with a size", [&] { return stated(b40, 4242, 31, 32, 0, &h); }, false},
      {"4241 without a size", [&] { return stated(b40, 4241, 31, 0, 0, &h); }, false},
      {"4231 is not taken", [&] { return stated(b40, 4231, 31, 32, 0, &h); }, false},
      {"secret with modulus bits", [&] { return stated(b40, 4240, 31, 32, 256, &h); }, false},
      {"EC with modulus bits", [&] { return stated(b40, 4241, 3, 32, 256, &h); }, false},
      {"DSA with modulus bits", [&] { return stated(b40, 4241, 1, 32, 2048, &h); }, false},
      {"RSA may state modulus bits", [&] { return stated(b40, 4241, 0, 32, 2048, &h); }, true},
      {"an unknown key type", [&] { return stated(b40, 4241, 5, 32, 0, &h); }, false},
      {"4 bytes: no room for a key", [&] { return stated(Bytes(4, 1), 4240, 16, 1, 0, &h); },
       false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    d().clear_captured();
    const Uint32 r = c.call();
    EXPECT_EQ(c.sent ? 1u : 0u, sent_requests(d(), KQ_UNWRAP_KEY2).size());
    if (!c.sent) {
      EXPECT_EQ(Uint32(ERR_INVALID_INPUT), r);
    }
  }
}

}  // namespace
