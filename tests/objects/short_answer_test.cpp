// Answers that claim more than they carry: a length or count the caller is
// given never exceeds what arrived, and such an answer is an invalid message.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "obj_fixture.h"

using namespace obj_test;

namespace {

class ShortAnswers : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  Uint32 session_ = 0;
};

TEST_F(ShortAnswers, ClaimedLengthsMustHaveArrived) {
  struct Case {
    const char *what;
    uint16_t opcode;
    Bytes answer;
    std::function<Uint32(Uint32, Uint32 *)> call;  // returns the result, *reported the length
    Uint32 want;
    Uint32 reported;  // what the caller sees in its length or count
  } cases[] = {
      {"attribute value of 10 with 3 sent", KQ_GET_ATTRIBUTE_VALUE,
       Be{}.bytes(resp(0)).u32(10).bytes({1, 2, 3}),
       [](Uint32 s, Uint32 *n) {
         static Uint8 buf[16];
         *n = sizeof buf;
         return Qel2GetAttribute(s, 7, OBJ_ATTR_LABEL, buf, n);
       },
       TESSALINE_INVALID_MSG, 16},
      {"attribute value sent whole", KQ_GET_ATTRIBUTE_VALUE,
       Be{}.bytes(resp(0)).u32(3).bytes({1, 2, 3}),
       [](Uint32 s, Uint32 *n) {
         static Uint8 buf[16];
         *n = sizeof buf;
         return Qel2GetAttribute(s, 7, OBJ_ATTR_LABEL, buf, n);
       },
       0, 3},
      {"masked object of 40 with 8 sent", KQ_EXTRACT_MASKED_OBJECT,
       Be{}.bytes(resp(0)).u32(40).bytes(Bytes(8, 0x5A)),
       [](Uint32 s, Uint32 *n) {
         static Uint8 buf[64];
         *n = sizeof buf;
         return Qel2ExtractMaskedObject(s, 7, 4, buf, n);
       },
       TESSALINE_INVALID_MSG, 64},
      {"public key of 40 bytes with 8 sent", KQ_EXPORT_PUB_KEY,
       Be{}.u32(0).u32(0).u32(0).u32(40).bytes(Bytes(8, 0x33)),
       [](Uint32 s, Uint32 *n) {
         static Uint8 buf[64];
         *n = sizeof buf;
         return Qel2ExportPublicKey(s, 7, buf, n);
       },
       TESSALINE_INVALID_MSG, 64},
      {"search finding 4 with 1 handle sent", KQ_FIND_OBJECTS_USING_COUNT,
       Be{}.bytes(resp(0)).u32(4).u32(0).u64(9),
       [](Uint32 s, Uint32 *n) {
         static Uint64 keys[8];
         *n = 8;
         return Qel2FindKeyFromIndexAsCountTemplate(s, 0, reinterpret_cast<const Uint8 *>(""), 0, 0,
                                                    keys, n, nullptr, nullptr);
       },
       TESSALINE_INVALID_MSG, 8},
      {"user objects: 2 with 1 record sent", KQ_FIND_ALL_OBJECTS_IN_RANGE,
       Be{}.bytes(resp(0)).u32(2).u32(0).u64(9).u8(1),
       [](Uint32 s, Uint32 *n) {
         static Uint64 keys[4];
         *n = 4;
         return Qel2FindAllKeysFromIndex(s, 0, 1, keys, nullptr, n);
       },
       TESSALINE_INVALID_MSG, 4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    d().clear_scripts();
    answer(c.opcode, c.answer);
    Uint32 reported = 0;
    EXPECT_EQ(c.want, c.call(session_, &reported));
    EXPECT_EQ(c.reported, reported);
  }
}

// A success whose response record stopped short is not decoded as zeros.
TEST_F(ShortAnswers, HeadOnlySuccessIsAnInvalidMessage) {
  answer(KQ_INSERT_MASKED_OBJECT, resp(0));
  Uint64 handle = 0x77;
  Bytes masked(24, 1);
  EXPECT_EQ(TESSALINE_INVALID_MSG,
            Qel2InsertMaskedObject(session_, &handle, masked.data(), Uint32(masked.size()), 0));
  EXPECT_EQ(0x77u, handle);
  answer(KQ_GET_OBJECT_INFO, resp(0));
  Uint8 sc = 8, uc = 8, m = 0xEE;
  EXPECT_EQ(TESSALINE_INVALID_MSG,
            Qel2GetKeyInfo(session_, 1, nullptr, &sc, nullptr, &uc, &m, nullptr));
  EXPECT_EQ(0xEE, m);
}

}  // namespace

namespace {

// A template's stated size is checked before the template is read (under
// ASan a read past the 16-byte template fails the test).
TEST_F(ShortAnswers, SearchTemplateSizeCheckedBeforeReading) {
  std::unique_ptr<Uint8[]> tmpl(new Uint8[16]());
  Uint64 keys[2];
  Uint32 n = 2;
  EXPECT_EQ(ERR_BUFFER_TOO_BIG, Qel2FindKeyPkcs(session_, 0, 9000, tmpl.get(), keys, &n));
  EXPECT_EQ(0u, sent_count(d()));
}

}  // namespace
