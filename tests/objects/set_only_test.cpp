// A program that changes attributes but never reads one itself still gets
// the check that reads the object's class and type first (this binary links
// the static archive).
#include <gtest/gtest.h>

#include "obj_fixture.h"

using namespace obj_test;

namespace {

using SetOnly = ObjTest;

TEST_F(SetOnly, CheckReadsClassAndTypeBeforeTheChange) {
  const Uint32 session = start_session();
  answer(KQ_GET_ATTRIBUTE_VALUE, Be{}.bytes(resp(0).u32(1)).u8('2'));
  answer(KQ_MODIFY_OBJECT, resp(0));
  Uint8 one[] = {'1', 0};
  testing::internal::CaptureStdout();
  const Uint32 rc = Qel2SetAttribute(session, 5, OBJ_ATTR_SIGN, one, 2);  // signing on a public key
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ERR_INVALID_INPUT, rc);
  EXPECT_EQ(2u, sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE).size());
  EXPECT_TRUE(sent_requests(d(), KQ_MODIFY_OBJECT).empty());
}

}  // namespace
