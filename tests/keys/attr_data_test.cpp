// The attribute data of new objects is read only within the bytes that
// arrived, its length reported in 64 bits, and a short buffer gives
// ERR_BUFFER_TOO_SMALL with the length needed while the new handle is kept.
#include "keys_fixture.h"

using namespace keys_test;

namespace {

constexpr uint64_t kNew = 0x4242, kNew2 = 0x4343;

class AttrData : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  // Generation asking for attributes into a buffer of `cap` bytes that
  // holds 0xFF (stale memory whose head would claim a huge size).
  Uint32 generate(Uint32 cap) {
    buf_.assign(cap, 0xFF);
    len_ = cap;
    handle_ = 0;
    return Qel2GenerateSymmetricKey2(session_, KEY_TYPE_AES, 16, nullptr, 0, nullptr, 0, 0, nullptr,
                                     0, u8("k"), 1, STORAGE_FLASH, &handle_, buf_.data(), &len_);
  }
  Uint32 create(Uint32 cap) {
    buf_.assign(cap, 0xFF);
    len_ = cap;
    handle_ = 0;
    Bytes t = Be{}.attr(OBJ_ATTR_CLASS, "2\n").attr(OBJ_ATTR_KEY_TYPE, "3\n");
    return Qel2CreatePublicKeyPkcs(session_, 0, 0, 0, nullptr, 0, Uint32(t.size()), t.data(), 0,
                                   &handle_, buf_.data(), &len_);
  }
  Uint32 pair(Uint32 cap) {
    buf_.assign(cap, 0xFF);
    len_ = cap;
    handle_ = handle2_ = 0;
    return Qel2GenerateKeyPair3(session_, KEY_TYPE_EC, 0, 0, 415, 0, nullptr, 0, nullptr, nullptr,
                                0, nullptr, 0, 1, nullptr, 0, u8("p"), 1, u8("q"), 1, STORAGE_FLASH,
                                0, &handle_, &handle2_, buf_.data(), &len_);
  }
  // An Object head claiming `size` attribute bytes, then `n` bytes of them.
  static Bytes object(uint32_t size, size_t n) { return Be{}.u32(0).u32(3).u32(size).zeros(n); }

  Uint32 session_ = 0;
  Bytes buf_;
  Uint32 len_ = 0;
  Uint64 handle_ = 0, handle2_ = 0;
};

TEST_F(AttrData, SecretKeyAttributes) {
  struct Case {
    const char *name;
    Uint32 cap;
    Bytes attrs;  // what arrives in the attribute segment
    Uint32 result, len;
  } cases[] = {
      {"fits", 64, object(40, 40), 0, 52},
      {"too small: the head tells the size", 64, object(100, 52), ERR_BUFFER_TOO_SMALL, 112},
      {"too small for the head itself", 8, Bytes(8, 0), ERR_BUFFER_TOO_SMALL, 12},
      {"head cut short", 64, Bytes(8, 0), TESSALINE_INVALID_MSG, 64},
      {"size beyond 32 bits", 64, object(0xFFFFFFFF, 52), ERR_BUFFER_TOO_SMALL, 0xFFFFFFFF},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    d().clear_scripts();
    answer(KQ_GENERATE_KEY, Be{}.bytes(resp(0).u64(kNew)).bytes(c.attrs));
    testing::internal::CaptureStdout();
    const Uint32 r = generate(c.cap);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.result, r);
    EXPECT_EQ(c.len, len_);
    EXPECT_EQ(kNew, handle_);  // the key exists whatever became of its attributes
  }
}

TEST_F(AttrData, RefusedGenerationWritesNothing) {
  answer(KQ_GENERATE_KEY, resp(RET_RESULT_SIZE).u64(kNew));
  EXPECT_EQ(Uint32(RET_RESULT_SIZE), generate(64));
  EXPECT_EQ(0u, handle_);
  EXPECT_EQ(64u, len_);
  EXPECT_EQ(Bytes(64, 0xFF), buf_);
}

TEST_F(AttrData, CreatedObjectSizeAnswer) {
  // 183 with the head: the length needed, no handle.
  answer(KQ_CREATE_OBJECT, Be{}.bytes(resp(RET_RESULT_SIZE).u64(kNew)).bytes(object(100, 4)), 1);
  testing::internal::CaptureStdout();
  const Uint32 r = create(16);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Uint32(RET_RESULT_SIZE), r);
  EXPECT_EQ(112u, len_);
  EXPECT_EQ(0u, handle_);
  // 183 without any attribute bytes: nothing is read from the stale buffer.
  answer(KQ_CREATE_OBJECT, resp(RET_RESULT_SIZE).u64(kNew), 1);
  EXPECT_EQ(Uint32(RET_RESULT_SIZE), create(64));
  EXPECT_EQ(64u, len_);
  EXPECT_EQ(0u, handle_);
}

TEST_F(AttrData, KeyPairAttributes) {
  const Bytes both = Be{}.bytes(object(100, 100)).bytes(object(50, 50));
  struct Case {
    const char *name;
    Uint32 cap;
    Uint32 result, len;
  } cases[] = {
      {"both fit", 300, 0, 174},
      {"room for both heads, not the private data", 140, ERR_BUFFER_TOO_SMALL, 174},
      // Below the public object and the private head only the public object's
      // length is reported, and a buffer holding it passes as large enough.
      {"room for the public object only", 120, 0, 112},
      {"room for part of the public object", 100, ERR_BUFFER_TOO_SMALL, 112},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    d().clear_scripts();
    answer(KQ_GENERATE_KEY_PAIR,
           Be{}.bytes(resp(0).u64(kNew).u64(kNew2).zeros(952))
               .bytes(Bytes(both.begin(), both.begin() + std::min<size_t>(c.cap, both.size()))));
    testing::internal::CaptureStdout();
    const Uint32 r = pair(c.cap);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.result, r);
    EXPECT_EQ(c.len, len_);
    EXPECT_EQ(kNew, handle_);
    EXPECT_EQ(kNew2, handle2_);
  }
}

}  // namespace
