// Key information, sharing, destruction and tombstones (routed to the cluster
// server that holds the object), masked export and import, public-key export.
#include <gtest/gtest.h>

#include <functional>

#include "obj_fixture.h"

using namespace obj_test;

namespace {

// Server 3, handle 5 on it, and bits above the 32 that must not reach the command.
constexpr uint64_t kRoutedHandle = 0x0000000700000000ull | (3u << 27) | 5u;

class ObjectOps : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  Uint32 session_ = 0;
};

// GetObjectInfoResponse with the given counts, sessions and users.
Bytes key_info_answer(uint32_t code, uint8_t sess_count, uint8_t user_byte,
                      std::vector<uint32_t> sessions, std::vector<uint16_t> users) {
  Be b = resp(code).u8(sess_count).u8(user_byte).zeros(2);
  sessions.resize(8);
  users.resize(8);
  for (uint32_t s : sessions) b.u32(s);
  for (uint16_t u : users) b.u16(u);
  return b;
}

TEST_F(ObjectOps, KeyInfoGoesToTheServerOfTheHandleWithTheLocalHandle) {
  answer(KQ_GET_OBJECT_INFO, key_info_answer(0, 0, 0x32, {}, {11, 12, 13}));
  Uint32 sessions[8] = {};
  Uint16 users[8] = {};
  Uint8 sess_count = 8, user_count = 8, m = 0xEE;
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2GetKeyInfo(session_, kRoutedHandle, sessions, &sess_count, users, &user_count,
                               &m, &id));
  EXPECT_EQ(0, sess_count);
  EXPECT_EQ(3, user_count);
  EXPECT_EQ(2, m);
  EXPECT_EQ(11, users[0]);
  EXPECT_EQ(13, users[2]);

  Request r = sent_only(d(), KQ_GET_OBJECT_INFO);
  EXPECT_EQ(3, r.serveridx);
  EXPECT_EQ(kRoutedHandle, r.key_handle);
  EXPECT_EQ(session_ & 0x3FFFFFFFu, r.sess_handle);
  EXPECT_EQ((std::vector<uint16_t>{68}), r.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{68}), r.out_sizes());
  EXPECT_EQ(68, r.dlen);
  EXPECT_EQ(68, r.rlen);
  EXPECT_EQ(120u, r.timeout);
  Bytes want = Be{}.zeros(8).u32(0).u32(session_ & 0x3FFFFFFFu).u32(0).u32(0).u64(5).zeros(36);
  EXPECT_EQ(want, r.body());
  EXPECT_EQ(d().captured().back().req_id, id);
}

TEST_F(ObjectOps, KeyInfoSizeQueriesAndShortArrays) {
  answer(KQ_GET_OBJECT_INFO, key_info_answer(0, 5, 0x21, {1, 2, 3, 4, 5}, {9, 8}));
  Uint32 sessions[8] = {};
  Uint16 users[8] = {};

  // Room for 2 of 5 sessions: 183 with the count needed; M value and users untouched.
  Uint8 sess_count = 2, user_count = 8, m = 0xEE;
  EXPECT_EQ(RET_RESULT_SIZE,
            Qel2GetKeyInfo(session_, 1, sessions, &sess_count, users, &user_count, &m, nullptr));
  EXPECT_EQ(5, sess_count);
  EXPECT_EQ(0u, sessions[0]);
  EXPECT_EQ(0xEE, m);
  EXPECT_EQ(8, user_count);

  // No session array: a size query.
  sess_count = 0;
  ASSERT_EQ(0u, Qel2GetKeyInfo(session_, 1, nullptr, &sess_count, users, &user_count, &m, nullptr));
  EXPECT_EQ(5, sess_count);
  EXPECT_EQ(1, m);
  EXPECT_EQ(2, user_count);
  EXPECT_EQ(8, users[1]);

  // Enough room: host order.
  sess_count = 8;
  ASSERT_EQ(0u,
            Qel2GetKeyInfo(session_, 1, sessions, &sess_count, users, &user_count, &m, nullptr));
  EXPECT_EQ(5u, sessions[4]);

  // Users short by one.
  user_count = 1;
  EXPECT_EQ(RET_RESULT_SIZE,
            Qel2GetKeyInfo(session_, 1, sessions, &sess_count, users, &user_count, &m, nullptr));
  EXPECT_EQ(2, user_count);
}

TEST_F(ObjectOps, KeyInfoCountsAboveTheRecordCopyOnlyWhatItHolds) {
  // 200 sessions claimed: the caller's room suffices, eight entries exist.
  answer(KQ_GET_OBJECT_INFO,
         key_info_answer(0, 200, 0xF0, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}));
  Uint32 sessions[9] = {};
  sessions[8] = 0xABCDEF;
  Uint16 users[9] = {};
  users[8] = 0x4242;
  Uint8 sess_count = 255, user_count = 15, m = 0;
  ASSERT_EQ(0u,
            Qel2GetKeyInfo(session_, 1, sessions, &sess_count, users, &user_count, &m, nullptr));
  EXPECT_EQ(200, sess_count);
  EXPECT_EQ(15, user_count);
  EXPECT_EQ(8u, sessions[7]);
  EXPECT_EQ(0xABCDEFu, sessions[8]);
  EXPECT_EQ(0x4242, users[8]);
}

TEST_F(ObjectOps, KeyInfoRefusesMissingOutputsWithoutTraffic) {
  Uint8 c = 0;
  EXPECT_EQ(ERR_INVALID_INPUT,
            Qel2GetKeyInfo(session_, 1, nullptr, nullptr, nullptr, &c, &c, nullptr));
  EXPECT_EQ(ERR_INVALID_INPUT,
            Qel2GetKeyInfo(session_, 1, nullptr, &c, nullptr, nullptr, &c, nullptr));
  EXPECT_EQ(ERR_INVALID_INPUT,
            Qel2GetKeyInfo(session_, 1, nullptr, &c, nullptr, &c, nullptr, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(ObjectOps, ShareListAndRouting) {
  answer(KQ_SHARE_OBJECT, resp(0));
  const Uint32 sessions[] = {0x11223344, 7};
  const Uint16 users[] = {0x0506};
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2ShareKey(session_, kRoutedHandle, 1, sessions, 2, users, 1, &id));
  Request r = sent_only(d(), KQ_SHARE_OBJECT);
  EXPECT_EQ(3, r.serveridx);
  EXPECT_EQ(kRoutedHandle, r.key_handle);
  EXPECT_EQ((std::vector<uint16_t>{32, 28}), r.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{16}), r.out_sizes());
  EXPECT_EQ(60, r.dlen);
  EXPECT_EQ(16, r.rlen);
  EXPECT_EQ(1u, be32(r.input(0), 16));
  EXPECT_EQ(5u, be64(r.input(0), 24));
  Bytes list = Be{}.text("sessns:")
                   .u8(0)
                   .u8(2)
                   .u32(0x11223344)
                   .u32(7)
                   .text("users:")
                   .zeros(2)
                   .u8(1)
                   .u16(0x0506);
  EXPECT_EQ(list, r.input(1));
  EXPECT_NE(0u, id);

  // Unsharing users only: the word is 0 and the list holds the user block alone.
  d().clear_captured();
  ASSERT_EQ(0u, Qel2ShareKey(session_, 9, 0, nullptr, 0, users, 1, nullptr));
  r = sent_only(d(), KQ_SHARE_OBJECT);
  EXPECT_EQ(0, r.serveridx);
  EXPECT_EQ(0u, be32(r.input(0), 16));
  EXPECT_EQ((Bytes(Be{}.text("users:").zeros(2).u8(1).u16(0x0506))), r.input(1));
}

TEST_F(ObjectOps, ShareRefusalsSendNothing) {
  const Uint32 sessions[9] = {};
  const Uint16 users[9] = {};
  struct Case {
    const Uint32 *s;
    Uint8 ns;
    const Uint16 *u;
    Uint8 nu;
  } cases[] = {
      {sessions, 0, users, 0},  {sessions, 9, nullptr, 0}, {nullptr, 0, users, 9},
      {nullptr, 1, nullptr, 0}, {nullptr, 0, nullptr, 2},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ERR_INVALID_INPUT, Qel2ShareKey(session_, 1, 1, c.s, c.ns, c.u, c.nu, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(ObjectOps, ShareResultLayers) {
  const Uint16 users[] = {1};
  // An incomplete cluster result passes on to the response code, which is the result.
  d().script(KQ_MGMT_CMD, KQ_SHARE_OBJECT,
             with_status(RET_CLUSTER_OPERATION_INCOMPLETE, resp(0), 1));
  EXPECT_EQ(0u, Qel2ShareKey(session_, 1, 1, nullptr, 0, users, 1, nullptr));
  d().script(KQ_MGMT_CMD, KQ_SHARE_OBJECT,
             with_status(RET_CLUSTER_OPERATION_INCOMPLETE, resp(RET_INVALID_USER), 1));
  EXPECT_EQ(RET_INVALID_USER, Qel2ShareKey(session_, 1, 1, nullptr, 0, users, 1, nullptr));
  d().script(KQ_MGMT_CMD, KQ_SHARE_OBJECT, with_status(TESSALINE_RETRY_OP, resp(0), 1));
  EXPECT_EQ(TESSALINE_RETRY_OP, Qel2ShareKey(session_, 1, 1, nullptr, 0, users, 1, nullptr));
}

TEST_F(ObjectOps, DestroyAndTombstonesAreRoutedWithTheirOwnDescriptorHandle) {
  struct Case {
    uint16_t opcode;
    std::function<Uint32(Uint32, Uint64)> call;
    bool whole_handle_in_descriptor;
  } cases[] = {
      {KQ_DESTROY_OBJECT, [](Uint32 s, Uint64 h) { return Qel2DeleteKey(s, h); }, true},
      {KQ_DESTROY_OBJECT, [](Uint32 s, Uint64 h) { return Qel2DeleteKey2(s, h, nullptr); }, true},
      {KQ_TOMBSTONE_OBJECT, [](Uint32 s, Uint64 h) { return Qel2TombstoneKey(s, h); }, false},
      {KQ_DELETE_TOMBSTONED_OBJECT, [](Uint32 s, Uint64 h) { return Qel2DeleteTombstoneKey(s, h); },
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.opcode);
    d().clear_captured();
    d().clear_scripts();
    answer(c.opcode, resp(0));
    ASSERT_EQ(0u, c.call(session_, kRoutedHandle));
    Request r = sent_only(d(), c.opcode);
    EXPECT_EQ(3, r.serveridx);
    EXPECT_EQ(c.whole_handle_in_descriptor ? kRoutedHandle : 0u, r.key_handle);
    EXPECT_EQ((std::vector<uint16_t>{32}), r.in_sizes());
    EXPECT_EQ((std::vector<uint16_t>{16}), r.out_sizes());
    EXPECT_EQ(Bytes(Be{}.zeros(12).u32(session_ & 0x3FFFFFFF).u32(0).u32(0).u64(5)), r.body());

    // The HSM's refusal comes back unchanged.
    d().clear_scripts();
    answer(c.opcode, resp(RET_INVALID_USER));
    EXPECT_EQ(RET_INVALID_USER, c.call(session_, kRoutedHandle));

    // An answer without a whole response header is no success on this route either.
    for (size_t n : {size_t{0}, size_t{15}}) {
      d().clear_scripts();
      answer(c.opcode, Bytes(n, 0));
      EXPECT_EQ(TESSALINE_INVALID_MSG, c.call(session_, kRoutedHandle)) << n << " bytes";
    }
  }
  // Every server index reaches the header.
  d().clear_captured();
  d().clear_scripts();
  answer(KQ_DESTROY_OBJECT, resp(0));
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2DeleteKey2(session_, (31ull << 27) | 0x7FFFFFF, &id));
  Request r = sent_only(d(), KQ_DESTROY_OBJECT);
  EXPECT_EQ(31, r.serveridx);
  EXPECT_EQ(0x7FFFFFFu, be64(r.body(), 24));
  EXPECT_EQ(d().captured().back().req_id, id);
}

TEST_F(ObjectOps, MaskedExtraction) {
  // Size query: only the 20-byte answer is asked for.
  answer(KQ_EXTRACT_MASKED_OBJECT, resp(0).u32(40), 1);
  Uint8 buf[64] = {};
  Uint32 len = 0;
  ASSERT_EQ(0u, Qel2ExtractMaskedObject(session_, kRoutedHandle, 4, buf, &len));
  EXPECT_EQ(40u, len);
  Request r = sent_only(d(), KQ_EXTRACT_MASKED_OBJECT);
  EXPECT_EQ(0, r.serveridx);
  EXPECT_EQ(kRoutedHandle, r.key_handle);
  EXPECT_EQ((std::vector<uint16_t>{40}), r.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{20}), r.out_sizes());
  EXPECT_EQ(Bytes(Be{}.zeros(12)
                      .u32(session_ & 0x3FFFFFFF)
                      .u8(4)
                      .zeros(3)
                      .u32(0)
                      .u64(kRoutedHandle)
                      .u32(0)
                      .zeros(4)),
            r.body());

  // With the buffer: the object lands there.
  d().clear_captured();
  Bytes object(40, 0x5A);
  answer(KQ_EXTRACT_MASKED_OBJECT_USER, Be{}.bytes(resp(0).u32(40)).bytes(object), 1);
  len = sizeof buf;
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2ExtractMaskedObjectWithUserInfo(session_, 7, buf, &len, &id));
  EXPECT_EQ(40u, len);
  EXPECT_EQ(0x5A, buf[39]);
  r = sent_only(d(), KQ_EXTRACT_MASKED_OBJECT_USER);
  EXPECT_EQ((std::vector<uint16_t>{20, 64}), r.out_sizes());
  EXPECT_EQ(84, r.rlen);
  EXPECT_EQ(0, r.body()[16]);  // object class 0
  EXPECT_NE(0u, id);

  // A failure leaves the length alone.
  answer(KQ_EXTRACT_MASKED_OBJECT, resp(RET_INVALID_USER).u32(40), 1);
  len = 33;
  EXPECT_EQ(RET_INVALID_USER, Qel2ExtractMaskedObject(session_, 7, 4, buf, &len));
  EXPECT_EQ(33u, len);

  // Success claiming more than the buffer took is a short buffer, with the length.
  answer(KQ_EXTRACT_MASKED_OBJECT, Be{}.bytes(resp(0).u32(200)).bytes(Bytes(64, 1)), 1);
  len = sizeof buf;
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2ExtractMaskedObject(session_, 7, 4, buf, &len));
  EXPECT_EQ(200u, len);

  d().clear_captured();
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2ExtractMaskedObject(session_, 7, 4, nullptr, &len));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2ExtractMaskedObject(session_, 7, 4, buf, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(ObjectOps, MaskedInsertionLengths) {
  answer(KQ_INSERT_MASKED_OBJECT, resp(0).u64(0x99));
  static Uint8 object[9000];
  struct Case {
    Uint32 len;
    Uint32 want;
  } cases[] = {
      {8, 0},
      {24, 0},
      {8152, 0},
      {0, ERR_INVALID_INPUT},
      {16, ERR_INVALID_INPUT},
      {7, ERR_INVALID_INPUT},
      {8153, ERR_INVALID_INPUT},
      {8168, ERR_BUFFER_TOO_BIG},
      {8184, ERR_BUFFER_TOO_BIG},
      {8u + 16u * 0x0FFFFFFFu, ERR_BUFFER_TOO_BIG},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.len);
    d().clear_captured();
    Uint64 handle = 0;
    EXPECT_EQ(c.want, Qel2InsertMaskedObject(session_, &handle, object, c.len, 4));
    EXPECT_EQ(c.want == 0 ? 1u : 0u, sent_count(d()));
    EXPECT_EQ(c.want == 0 ? 0x99u : 0u, handle);
  }
  Uint64 handle = 0;
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2InsertMaskedObject(session_, nullptr, object, 8, 4));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2InsertMaskedObject(session_, &handle, nullptr, 8, 4));
}

TEST_F(ObjectOps, MaskedInsertionRecordAndResults) {
  Bytes object(24);
  for (size_t i = 0; i < object.size(); ++i) object[i] = uint8_t(i);
  answer(KQ_INSERT_MASKED_OBJECT_USER, resp(0).u64(0x1234567890ull), 1);
  Uint64 handle = 0xAB;
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2InsertMaskedObjectWithUserInfo(session_, &handle, object.data(), 24, 0x01020304,
                                                   &id));
  EXPECT_EQ(0x1234567890ull, handle);
  Request r = sent_only(d(), KQ_INSERT_MASKED_OBJECT_USER);
  EXPECT_EQ(0u, r.key_handle);
  EXPECT_EQ((std::vector<uint16_t>{32, 4, 24}), r.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{24}), r.out_sizes());
  EXPECT_EQ(60, r.dlen);
  Bytes want = Be{}.zeros(12)
                   .u32(session_ & 0x3FFFFFFF)
                   .u32(0x01020304)
                   .u32(0)
                   .u64(0xAB)
                   .u32(24)
                   .bytes(object);
  EXPECT_EQ(want, r.body());
  EXPECT_NE(0u, id);

  // The 8-bit class of the older form is the force-insert word.
  d().clear_captured();
  answer(KQ_INSERT_MASKED_OBJECT, resp(0).u64(1), 1);
  handle = 0;
  ASSERT_EQ(0u, Qel2InsertMaskedObject(session_, &handle, object.data(), 24, 3));
  EXPECT_EQ(3u, be32(sent_only(d(), KQ_INSERT_MASKED_OBJECT).body(), 16));

  // Stored on part of the cluster: the handle and that code.
  d().script(KQ_MGMT_CMD, KQ_INSERT_MASKED_OBJECT,
             with_status(RET_CLUSTER_OPERATION_INCOMPLETE, resp(0).u64(0x77), 1));
  handle = 0;
  EXPECT_EQ(RET_CLUSTER_OPERATION_INCOMPLETE,
            Qel2InsertMaskedObject(session_, &handle, object.data(), 24, 0));
  EXPECT_EQ(0x77u, handle);

  // Refused: the handle stays.
  answer(KQ_INSERT_MASKED_OBJECT, resp(RET_INVALID_INPUT).u64(0x66), 1);
  handle = 5;
  EXPECT_EQ(RET_INVALID_INPUT, Qel2InsertMaskedObject(session_, &handle, object.data(), 24, 0));
  EXPECT_EQ(5u, handle);
  d().script(KQ_MGMT_CMD, KQ_INSERT_MASKED_OBJECT,
             with_status(TESSALINE_RETRY_OP, resp(0).u64(0x66), 1));
  EXPECT_EQ(TESSALINE_RETRY_OP, Qel2InsertMaskedObject(session_, &handle, object.data(), 24, 0));
  EXPECT_EQ(5u, handle);
}

TEST_F(ObjectOps, PublicKeyExport) {
  // No buffer: the key's length.
  answer(KQ_EXPORT_PUB_KEY, resp(0, 0, 0, 270), 1);
  Uint32 len = 0;
  ASSERT_EQ(0u, Qel2ExportPublicKey(session_, kRoutedHandle, nullptr, &len));
  EXPECT_EQ(270u, len);
  Request r = sent_only(d(), KQ_EXPORT_PUB_KEY);
  EXPECT_EQ(kRoutedHandle, r.key_handle);
  EXPECT_EQ(0, r.serveridx);
  EXPECT_EQ((std::vector<uint16_t>{16}), r.out_sizes());
  EXPECT_EQ(kRoutedHandle, be64(r.body(), 24));

  // With a buffer: the key, then one dropped byte.
  d().clear_captured();
  Bytes key(100, 0xC3);
  answer(KQ_EXPORT_PUB_KEY, Be{}.bytes(resp(0, 0, 0, 100)).bytes(key).u8(0xFF), 1);
  Uint8 buf[100] = {};
  len = sizeof buf;
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2ExportPublicKey2(session_, 1, buf, &len, &id));
  EXPECT_EQ(100u, len);
  EXPECT_EQ(0xC3, buf[99]);
  r = sent_only(d(), KQ_EXPORT_PUB_KEY);
  EXPECT_EQ((std::vector<uint16_t>{16, 100, 1}), r.out_sizes());
  EXPECT_EQ(117, r.rlen);
  EXPECT_NE(0u, id);

  // 183 from the HSM: the length needed.
  answer(KQ_EXPORT_PUB_KEY, resp(RET_RESULT_SIZE, 0, 0, 300), 1);
  len = sizeof buf;
  EXPECT_EQ(RET_RESULT_SIZE, Qel2ExportPublicKey(session_, 1, buf, &len));
  EXPECT_EQ(300u, len);

  // Success claiming more than the buffer holds.
  answer(KQ_EXPORT_PUB_KEY, Be{}.bytes(resp(0, 0, 0, 300)).bytes(key), 1);
  len = sizeof buf;
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2ExportPublicKey(session_, 1, buf, &len));
  EXPECT_EQ(300u, len);

  EXPECT_EQ(ERR_INVALID_INPUT, Qel2ExportPublicKey(session_, 1, buf, nullptr));
}

}  // namespace
