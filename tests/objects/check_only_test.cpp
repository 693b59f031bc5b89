// A program that checks a set-attribute value itself, and neither reads nor
// changes an attribute, still gets the object's class and type read from
// the HSM (this binary links the static archive).
#include <gtest/gtest.h>

#include "obj_fixture.h"

using namespace obj_test;

namespace {

using CheckOnly = ObjTest;

TEST_F(CheckOnly, CheckReadsClassAndType) {
  const Uint32 session = start_session();
  answer(KQ_GET_ATTRIBUTE_VALUE, Be{}.bytes(resp(0).u32(1)).u8('2'));
  Uint8 one[] = {'1', 0};
  testing::internal::CaptureStdout();
  const Uint32 rc =
      validate_setAttribute_template(session, 5, OBJ_ATTR_SIGN, one, 2);  // signing on a public key
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ERR_INVALID_INPUT, rc);
  EXPECT_EQ(2u, sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE).size());
}

}  // namespace
