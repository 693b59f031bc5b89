// Key search: by arguments, by the caller's template, and the objects of a user.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "mgmt/objects/objects_internal.h"
#include "obj_fixture.h"

using namespace obj_test;

namespace {

using Attrs = std::vector<std::pair<uint32_t, Bytes>>;

// The attributes of a template, for comparison.
Attrs attrs_of(const Bytes &t) {
  Attrs out;
  size_t off = 0;
  while (off + 8 <= t.size()) {
    const uint32_t type = be32(t, off), size = be32(t, off + 4);
    if (off + 8 + size > t.size()) break;
    out.emplace_back(type, Bytes(t.begin() + long(off + 8), t.begin() + long(off + 8 + size)));
    off += 8 + size;
  }
  return out;
}
const Bytes *find(const Attrs &a, uint32_t type) {
  for (const auto &p : a)
    if (p.first == type) return &p.second;
  return nullptr;
}
Bytes str(const std::string &s) { return Bytes(s.begin(), s.end()); }

// The head of a search answer, then handles.
Bytes find_answer(uint32_t code, uint32_t matches, const std::vector<uint64_t> &handles = {}) {
  Be b = resp(code).u32(matches).u32(0);
  for (uint64_t h : handles) b.u64(h);
  return b;
}

class Find : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  Uint32 count_search(const Uint8 *label, Uint32 label_len, Uint64 *keys, Uint32 *n,
                      Uint32 *id = nullptr, Uint32 key_class = 0xFFFFFFFF,
                      Uint32 key_type = 0xFFFFFFFF) {
    return Qel2FindKeyFromIndexAsCount2(session_, 0, 0, key_class, key_type, 255, nullptr, 0,
                                        nullptr, 0, nullptr, 0, label, label_len, nullptr, 0, keys,
                                        n, id);
  }
  Uint32 session_ = 0;
};

const Uint8 *u8(const char *s) { return reinterpret_cast<const Uint8 *>(s); }

TEST_F(Find, CountQueryAsksForTheHeadOnly) {
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 7));
  Uint32 n = 0;
  Uint32 id = 0;
  ASSERT_EQ(0u, count_search(u8("k1"), 2, nullptr, &n, &id));
  EXPECT_EQ(7u, n);
  Request r = sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT);
  EXPECT_EQ((std::vector<uint16_t>{24}), r.out_sizes());
  ASSERT_EQ(3u, r.in.size());
  const Bytes &tmpl = r.input(2);
  EXPECT_EQ(Bytes(Be{}.zeros(8).u32(0).u32(session_ & 0x3FFFFFFF).u32(1)),
            r.input(0));  // partition 1
  const Attrs a = attrs_of(tmpl);
  EXPECT_EQ(Bytes(Be{}.u32(0).u32(uint32_t(a.size())).u32(uint32_t(tmpl.size() + 12))), r.input(1));
  EXPECT_EQ(tmpl.size() + 32, r.dlen);
  ASSERT_NE(nullptr, find(a, OBJ_ATTR_LABEL));
  EXPECT_EQ(str("k1"), *find(a, OBJ_ATTR_LABEL));
  EXPECT_EQ(nullptr, find(a, OBJ_ATTR_CLASS));
  EXPECT_EQ(nullptr, find(a, OBJ_ATTR_TOKEN));
  EXPECT_EQ(d().captured().back().req_id, id);
}

TEST_F(Find, HandlesLandInHostOrder) {
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 3, {0x1122334455667788ull, 2, 3}), 1);
  Uint64 keys[10];
  std::fill(std::begin(keys), std::end(keys), 0xAAAAAAAAAAAAAAAAull);
  Uint32 n = 10;
  ASSERT_EQ(0u, count_search(nullptr, 0, keys, &n));
  EXPECT_EQ(3u, n);
  EXPECT_EQ(0x1122334455667788ull, keys[0]);
  EXPECT_EQ(3u, keys[2]);
  EXPECT_EQ(0xAAAAAAAAAAAAAAAAull, keys[3]);  // nothing arrived there
  EXPECT_EQ((std::vector<uint16_t>{24, 80}),
            sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT).out_sizes());

  // Room for 2 of 3: two handles, the count stays 2.
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 3, {5, 6}), 1);
  n = 2;
  ASSERT_EQ(0u, count_search(nullptr, 0, keys, &n));
  EXPECT_EQ(2u, n);
  EXPECT_EQ(6u, keys[1]);

  // 183 from the HSM is decoded and returned.
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(RET_RESULT_SIZE, 1, {9}), 1);
  n = 4;
  EXPECT_EQ(RET_RESULT_SIZE, count_search(nullptr, 0, keys, &n));
  EXPECT_EQ(1u, n);
  EXPECT_EQ(9u, keys[0]);

  // A zero count with an array: nothing asked beyond the head, the count stays 0.
  d().clear_captured();
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 3), 1);
  n = 0;
  ASSERT_EQ(0u, count_search(nullptr, 0, keys, &n));
  EXPECT_EQ(0u, n);
  EXPECT_EQ((std::vector<uint16_t>{24}), sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT).out_sizes());

  // Other failures return at once.
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(RET_INVALID_USER, 3), 1);
  n = 4;
  EXPECT_EQ(RET_INVALID_USER, count_search(nullptr, 0, keys, &n));
  EXPECT_EQ(4u, n);
}

TEST_F(Find, HandleArraysAreBoundedByWhatOneAnswerCarries) {
  const Uint32 most = kMaxFindHandles;
  std::vector<uint64_t> handles(most);
  for (Uint32 i = 0; i < most; ++i) handles[i] = i + 1;
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 100000, handles), 1);
  std::vector<Uint64> keys(100000, 0);
  Uint32 n = 100000;
  ASSERT_EQ(0u, count_search(nullptr, 0, keys.data(), &n));
  EXPECT_EQ(most, n);
  EXPECT_EQ(most, keys[most - 1]);
  EXPECT_EQ(0u, keys[most]);
  Request r = sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT);
  EXPECT_EQ((std::vector<uint16_t>{24, uint16_t(most * 8)}), r.out_sizes());
  EXPECT_EQ(24 + most * 8, r.rlen);
}

TEST_F(Find, ReservedLabelsAndArgumentChecks) {
  Uint32 n = 0;
  // The label check comes first, without regard to case, within the label's length.
  EXPECT_EQ(ERR_BAD_LABEL, count_search(u8("PUBLIC"), 6, nullptr, &n, nullptr, 77));
  EXPECT_EQ(ERR_BAD_LABEL, count_search(u8("Private"), 7, nullptr, &n));
  EXPECT_EQ(ERR_BAD_LABEL, count_search(u8("privateKEY"), 7, nullptr, &n));
  EXPECT_EQ(ERR_BAD_LABEL, count_search(u8("public\0xyz"), 10, nullptr, &n));
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_INVALID_INPUT, count_search(nullptr, 0, nullptr, &n, nullptr, 1));
  EXPECT_EQ(ERR_INVALID_INPUT, count_search(nullptr, 0, nullptr, &n, nullptr, 4, 2));
  EXPECT_EQ("Invalid key class 1 \nInvalid key type 2 \n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(ERR_INVALID_INPUT, count_search(nullptr, 0, nullptr, nullptr));
  // A class and type the builder refuses together.
  EXPECT_EQ(ERR_SET_TEMPLATE, count_search(nullptr, 0, nullptr, &n, nullptr, 3, 31));
  EXPECT_EQ(0u, sent_count(d()));

  // "publicity" and a shorter "pub" are ordinary labels.
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 0));
  EXPECT_EQ(0u, count_search(u8("publicity"), 9, nullptr, &n));
  EXPECT_EQ(0u, count_search(u8("public"), 3, nullptr, &n));
  auto sent = sent_requests(d(), KQ_FIND_OBJECTS_USING_COUNT);
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(str("pub"), *find(attrs_of(sent[1].input(2)), OBJ_ATTR_LABEL));
}

TEST_F(Find, IndexAndPartitionPlacement) {
  answer(KQ_FIND_OBJECTS_FROM_INDEX, find_answer(0, 0));
  answer(KQ_FIND_OBJECTS, find_answer(0, 0));
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 0));
  Uint32 n = 0;
  ASSERT_EQ(0u, Qel2FindKeyFromIndex(session_, 9, (1ull << 32) + 5, 4, 31, 1, nullptr, 0, nullptr,
                                     0, nullptr, 0, nullptr, 0, nullptr, 0, 0, nullptr, &n));
  ASSERT_EQ(0u, Qel2FindKeyFromIndexAsCount(session_, 0, 0x01020304, 4, 31, 1, nullptr, 0, nullptr,
                                            0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &n));
  ASSERT_EQ(0u, Qel2FindKey(session_, 0, 3, 0, 255, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                            nullptr, 0, 0x0102030405060708ull, nullptr, &n));
  const Uint32 masked = session_ & 0x3FFFFFFF;
  EXPECT_EQ(Bytes(Be{}.u64(5).u32(0).u32(masked).u32(9)),
            sent_only(d(), KQ_FIND_OBJECTS_FROM_INDEX).input(0));
  EXPECT_EQ(Bytes(Be{}.u32(0x01020304).u32(0).u32(0).u32(masked).u32(1)),
            sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT).input(0));
  Request r = sent_only(d(), KQ_FIND_OBJECTS);
  EXPECT_EQ(Bytes(Be{}.u64(0).u32(0).u32(masked).u32(1)), r.input(0));
  // The check value as a number travels as 8 big-endian bytes.
  const Attrs sent = attrs_of(r.input(2));
  const Bytes *kcv = find(sent, OBJ_ATTR_KCV);
  ASSERT_NE(nullptr, kcv);
  EXPECT_EQ(Bytes(Be{}.u64(0x0102030405060708ull)), *kcv);
  // A check value of 0 is none.
  EXPECT_EQ(nullptr,
            find(attrs_of(sent_only(d(), KQ_FIND_OBJECTS_FROM_INDEX).input(2)), OBJ_ATTR_KCV));
}

TEST_F(Find, SearchTemplateFromArguments) {
  answer(KQ_FIND_OBJECTS_FROM_INDEX, find_answer(0, 0));
  std::vector<Uint16> users(255);
  for (size_t i = 0; i < users.size(); ++i) users[i] = Uint16(i);
  const Uint32 sessions[] = {0x01000002};
  Uint8 modulus[16];
  for (int i = 0; i < 16; ++i) modulus[i] = Uint8(i);
  const Uint8 kcv[] = {0xA, 0xB, 0xC};
  Uint8 ekcv[] = {0xE};
  extendedTemplateArgs ext{};
  ext.ucDerive = 1;
  ext.pEKCV = ekcv;
  ext.ulEKCVLen = 1;
  Uint32 n = 0;
  ASSERT_EQ(
      0u, Qel2FindKeyFromIndex5(session_, 0, 0, 2, 0, 0, sessions, 1, users.data(), 255, u8("id"),
                                2, u8("lbl"), 3, modulus, 16, kcv, 3, &ext, nullptr, &n, nullptr));
  const Attrs a = attrs_of(sent_only(d(), KQ_FIND_OBJECTS_FROM_INDEX).input(2));
  ASSERT_NE(nullptr, find(a, OBJ_ATTR_ACCESS));
  EXPECT_EQ(str("256\n"), *find(a, OBJ_ATTR_ACCESS));  // the user count is not cut to 8 bits
  EXPECT_EQ(str("2\n"), *find(a, OBJ_ATTR_CLASS));
  EXPECT_EQ(str("0\n"), *find(a, OBJ_ATTR_TOKEN));
  EXPECT_EQ(str("id"), *find(a, OBJ_ATTR_ID));
  EXPECT_EQ(Bytes(modulus, modulus + 16), *find(a, OBJ_ATTR_MODULUS));
  EXPECT_EQ(str("128\n"), *find(a, OBJ_ATTR_MODULUS_BITS));
  EXPECT_EQ(Bytes(kcv, kcv + 3), *find(a, OBJ_ATTR_KCV));
  EXPECT_EQ(Bytes{0xE}, *find(a, OBJ_ATTR_EKCV));
  EXPECT_EQ(str("1\n"), *find(a, OBJ_ATTR_DERIVE));
  EXPECT_EQ(nullptr, find(a, OBJ_ATTR_EXTRACTABLE));
  EXPECT_EQ(nullptr, find(a, OBJ_ATTR_VERIFY));
}

TEST_F(Find, CallerTemplates) {
  answer(KQ_FIND_OBJECTS, find_answer(0, 1));
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 1));
  Bytes good = Be{}.attr(OBJ_ATTR_CLASS, "4\n").attr(OBJ_ATTR_LABEL, "k");
  Bytes twice = Be{}.attr(OBJ_ATTR_LABEL, "a").attr(OBJ_ATTR_LABEL, "b");
  Uint32 n = 0;
  ASSERT_EQ(0u, Qel2FindKeyPkcs(session_, 0, uint32_t(good.size()), good.data(), nullptr, &n));
  Request r = sent_only(d(), KQ_FIND_OBJECTS);
  EXPECT_EQ(good, r.input(2));
  EXPECT_EQ(2u, be32(r.input(1), 4));

  // The validator refuses repeats; nothing is sent.
  d().clear_captured();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_INVALID_INPUT,
            Qel2FindKeyPkcs(session_, 0, uint32_t(twice.size()), twice.data(), nullptr, &n));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2FindKeyFromIndexPkcs(session_, 0, 0, uint32_t(twice.size()),
                                                        twice.data(), nullptr, &n));
  EXPECT_EQ(ERR_INVALID_INPUT,
            Qel2FindKeyFromIndexAsCountPkcs(session_, 0, 0, uint32_t(twice.size()), twice.data(),
                                            nullptr, &n, nullptr, nullptr));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, sent_count(d()));

  // The template form sends the caller's template and count unchecked.
  Uint32 id = 0;
  ASSERT_EQ(
      0u, Qel2FindKeyFromIndexAsCountTemplate(session_, 3, twice.data(), uint32_t(twice.size()), 77,
                                              nullptr, &n, nullptr, &id));
  r = sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT);
  EXPECT_EQ(twice, r.input(2));
  EXPECT_EQ(77u, be32(r.input(1), 4));
  EXPECT_EQ(3u, be32(r.input(0), 0));
  EXPECT_EQ(1u, be32(r.input(0), 16));
  EXPECT_NE(0u, id);
}

TEST_F(Find, TemplateSizeLimits) {
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(0, 0));
  Bytes t(8161, 0);
  Uint32 n = 0;
  EXPECT_EQ(ERR_BUFFER_TOO_BIG, Qel2FindKeyFromIndexAsCountTemplate(session_, 0, t.data(), 8161, 1,
                                                                    nullptr, &n, nullptr, nullptr));
  EXPECT_EQ(ERR_BUFFER_TOO_BIG,
            Qel2FindKeyFromIndexAsCountTemplate(session_, 0, t.data(), 0xFFFFFFF0u, 1, nullptr, &n,
                                                nullptr, nullptr));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2FindKeyFromIndexAsCountTemplate(session_, 0, nullptr, 10, 1,
                                                                   nullptr, &n, nullptr, nullptr));
  EXPECT_EQ(ERR_INVALID_INPUT,
            Qel2FindKeyFromIndexAsCountTemplate(session_, 0, t.data(), 10, 1, nullptr, nullptr,
                                                nullptr, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
  ASSERT_EQ(0u, Qel2FindKeyFromIndexAsCountTemplate(session_, 0, t.data(), 8160, 1, nullptr, &n,
                                                    nullptr, nullptr));
  EXPECT_EQ(8192, sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT).dlen);
}

TEST_F(Find, EventBufferAndContext) {
  // With an event argument: the transport's status at once, handles as sent.
  answer(KQ_FIND_OBJECTS_USING_COUNT, find_answer(RET_INVALID_USER, 1, {0x0102}), 1);
  Bytes t = Be{}.attr(OBJ_ATTR_LABEL, "k");
  Uint64 keys[2] = {};
  Uint32 n = 2, id = 0xFEED;
  int ev = 0;
  ASSERT_EQ(0u, Qel2FindKeyFromIndexAsCountTemplate(session_, 0, t.data(), uint32_t(t.size()), 1,
                                                    keys, &n, &ev, &id));
  EXPECT_EQ(__builtin_bswap64(0x0102ull), keys[0]);
  EXPECT_EQ(2u, n);
  EXPECT_EQ(0xFEEDu, id);

  // No array: the declared 8800 bytes are not kept anywhere.
  d().clear_captured();
  answer(KQ_FIND_OBJECTS_USING_COUNT, Be{}.bytes(find_answer(0, 1)).zeros(8800), 1);
  ASSERT_EQ(0u, Qel2FindKeyFromIndexAsCountTemplate(session_, 0, t.data(), uint32_t(t.size()), 1,
                                                    nullptr, &n, &ev, nullptr));
  EXPECT_EQ((std::vector<uint16_t>{24, 8800}),
            sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT).out_sizes());

  // The continuation context goes out as the message's context and comes back.
  d().clear_captured();
  hsmsim::Answer a = payload(find_answer(0, 0), 1);
  a.op_ctx = 0xC0FFEE;
  d().script(KQ_MGMT_CMD, KQ_FIND_OBJECTS_USING_COUNT, a);
  Uint64 ctx = 0x1234;
  ASSERT_EQ(0u, Qel2FindKeyFromIndexAsCount3(session_, 0, 0, 4, 31, 255, nullptr, 0, nullptr, 0,
                                             nullptr, 0, nullptr, 0, nullptr, 0, u8("kcv"), 3,
                                             nullptr, &n, &ctx, nullptr));
  EXPECT_EQ(0x1234u, sent_only(d(), KQ_FIND_OBJECTS_USING_COUNT).op_ctx);
  EXPECT_EQ(0xC0FFEEu, ctx);
}

// ---- objects of a user ----

Bytes user_records(uint32_t matches, const std::vector<std::pair<uint64_t, uint8_t>> &recs) {
  Be b = resp(0).u32(matches).u32(0);
  for (const auto &r : recs) b.u64(r.first).u8(r.second);
  return b;
}

TEST_F(Find, ObjectsOfAUser) {
  answer(KQ_FIND_ALL_OBJECTS_IN_RANGE, user_records(2, {{0x10, 1}, {0x20, 0}}), 1);
  Uint64 keys[4] = {};
  Uint8 info[4] = {9, 9, 9, 9};
  Uint32 n = 4;
  ASSERT_EQ(0u, Qel2FindAllKeysFromIndex(session_, 17, 0x0203, keys, info, &n));
  EXPECT_EQ(2u, n);
  EXPECT_EQ(0x20u, keys[1]);
  EXPECT_EQ(1, info[0]);
  EXPECT_EQ(0, info[1]);
  EXPECT_EQ(0, info[2]);  // records beyond the matches arrive zero-filled
  Request r = sent_only(d(), KQ_FIND_ALL_OBJECTS_IN_RANGE);
  EXPECT_EQ((std::vector<uint16_t>{20}), r.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{24, 36}), r.out_sizes());
  EXPECT_EQ(60, r.rlen);
  EXPECT_EQ(Bytes(Be{}.u32(17).u32(0).u32(0).u32(session_ & 0x3FFFFFFF).u32(0x0203)), r.input(0));

  // Only the info array.
  answer(KQ_FIND_ALL_OBJECTS_USING_COUNT, user_records(5, {{1, 7}, {2, 8}}), 1);
  n = 2;
  ASSERT_EQ(0u, Qel2FindAllKeysFromIndexAsCount(session_, 0, 1, nullptr, info, &n));
  EXPECT_EQ(2u, n);
  EXPECT_EQ(8, info[1]);
}

TEST_F(Find, ObjectsOfAUserLimits) {
  answer(KQ_FIND_ALL_OBJECTS_IN_RANGE, user_records(0, {}));
  Uint32 n = 5000;
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2FindAllKeysFromIndex(session_, 102400, 1, nullptr, nullptr, &n));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2FindAllKeysFromIndex(session_, 0, 1, nullptr, nullptr, nullptr));
  EXPECT_EQ(5000u, n);
  EXPECT_EQ(0u, sent_count(d()));
  // 5000 becomes 980 before sending; with no arrays the count is the matches.
  ASSERT_EQ(0u, Qel2FindAllKeysFromIndex(session_, 102399, 1, nullptr, nullptr, &n));
  EXPECT_EQ(0u, n);
  Request r = sent_only(d(), KQ_FIND_ALL_OBJECTS_IN_RANGE);
  EXPECT_EQ(24 + 980 * 9, r.rlen);

  // The all-keys count: index 0, any input count only enlarges a discarded answer.
  answer(KQ_FIND_ALL_OBJECTS, user_records(42, {{1, 1}}));
  n = 1;
  ASSERT_EQ(0u, Qel2FindAllKeys(session_, 7, &n));
  EXPECT_EQ(42u, n);
  n = 0;
  ASSERT_EQ(0u, Qel2FindAllKeys(session_, 7, &n));
  EXPECT_EQ(42u, n);
  auto all = sent_requests(d(), KQ_FIND_ALL_OBJECTS);
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ((std::vector<uint16_t>{24, 9}), all[0].out_sizes());
  EXPECT_EQ((std::vector<uint16_t>{24}), all[1].out_sizes());
  EXPECT_EQ(7u, be32(all[1].input(0), 16));
}

}  // namespace
