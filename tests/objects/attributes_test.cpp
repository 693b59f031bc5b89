// Reading attributes (one, all, attested), changing one, the RSA public key
// as modulus and exponent, and the thread's token flags.
#include <gtest/gtest.h>

#include <string>

#include "mgmt/objects/objects_internal.h"
#include "obj_fixture.h"

using namespace obj_test;

namespace {

class Attributes : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    session_ = start_session();
  }
  // A GetAttributeResponse with ulAttrLen, then the value bytes.
  static Bytes read_answer(uint32_t code, uint32_t attr_len, const Bytes &value = {}) {
    return Be{}.bytes(resp(code).u32(attr_len)).bytes(value);
  }
  // Answers the set-attribute check's two reads: class and key type as text.
  void script_class_and_type(const std::string &cls, const std::string &type) {
    answer(KQ_GET_ATTRIBUTE_VALUE,
           read_answer(0, uint32_t(cls.size()), Bytes(cls.begin(), cls.end())), 1);
    answer(KQ_GET_ATTRIBUTE_VALUE,
           read_answer(0, uint32_t(type.size()), Bytes(type.begin(), type.end())), 1);
  }
  Uint32 session_ = 0;
};

constexpr uint64_t kKey = 0x0000000100000000ull | (2u << 27) | 0x42;

TEST_F(Attributes, SizeQueryAndValueRead) {
  answer(KQ_GET_ATTRIBUTE_SIZE, read_answer(0, 6), 1);
  Uint32 len = 0;
  ASSERT_EQ(0u, Qel2GetAttribute(session_, kKey, OBJ_ATTR_LABEL, nullptr, &len));
  EXPECT_EQ(6u, len);
  Request r = sent_only(d(), KQ_GET_ATTRIBUTE_SIZE);
  EXPECT_EQ(kKey, r.key_handle);
  EXPECT_EQ(0, r.serveridx);  // the plain route
  EXPECT_EQ((std::vector<uint16_t>{40}), r.in_sizes());
  EXPECT_EQ((std::vector<uint16_t>{20}), r.out_sizes());
  EXPECT_EQ(Bytes(Be{}.zeros(12)
                      .u32(session_ & 0x3FFFFFFF)
                      .u32(0x100)
                      .u32(0)
                      .u64(kKey)
                      .u32(OBJ_ATTR_LABEL)
                      .zeros(4)),
            r.body());

  d().clear_captured();
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(0, 6, Bytes{'k', 'e', 'y', '-', '0', '1'}), 1);
  Uint8 buf[8] = {};
  len = sizeof buf;
  ASSERT_EQ(0u, Qel2GetAttribute(session_, kKey, OBJ_ATTR_LABEL, buf, &len));
  EXPECT_EQ(6u, len);
  EXPECT_EQ("key-01", std::string(reinterpret_cast<char *>(buf), 6));
  r = sent_only(d(), KQ_GET_ATTRIBUTE_VALUE);
  EXPECT_EQ((std::vector<uint16_t>{20, 8}), r.out_sizes());
  EXPECT_EQ(28, r.rlen);
}

TEST_F(Attributes, ShortBufferAnd183) {
  // A 6-byte value for a 4-byte buffer: success becomes a short buffer, with the length.
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(0, 6, Bytes{1, 2, 3, 4}), 1);
  Uint8 buf[4] = {};
  Uint32 len = sizeof buf;
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2GetAttribute(session_, kKey, OBJ_ATTR_LABEL, buf, &len));
  EXPECT_EQ(6u, len);
  // The HSM's own 183 stays 183, with the length.
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(RET_RESULT_SIZE, 9), 1);
  len = sizeof buf;
  EXPECT_EQ(RET_RESULT_SIZE, Qel2GetAttribute(session_, kKey, OBJ_ATTR_LABEL, buf, &len));
  EXPECT_EQ(9u, len);
  // Other failures leave the length alone.
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(RET_INVALID_USER, 9), 1);
  len = sizeof buf;
  EXPECT_EQ(RET_INVALID_USER, Qel2GetAttribute(session_, kKey, OBJ_ATTR_LABEL, buf, &len));
  EXPECT_EQ(4u, len);
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetAttribute(session_, kKey, OBJ_ATTR_LABEL, buf, nullptr));
}

TEST_F(Attributes, FlagsWordOfTheReads) {
  answer(KQ_GET_ATTRIBUTE_SIZE, read_answer(0, 1));
  answer(KQ_GET_ALL_ATTRIBUTE_SIZE, read_answer(0, 1));
  Uint32 len = 0;
  ASSERT_EQ(0u, Qel2GetAttribute3(session_, kKey, 0, 1, nullptr, &len, nullptr, nullptr, nullptr));
  ASSERT_EQ(0u, Qel2GetAttribute3(session_, kKey, 0, 0xFFFFFFFE, nullptr, &len, nullptr, nullptr,
                                  nullptr));
  ASSERT_EQ(0u, Qel2GetAllAttributes3(session_, kKey, 1, nullptr, &len, nullptr, nullptr, nullptr));
  ASSERT_EQ(0u, Qel2GetAllAttributes(session_, kKey, nullptr, &len));
  auto one = sent_requests(d(), KQ_GET_ATTRIBUTE_SIZE);
  auto all = sent_requests(d(), KQ_GET_ALL_ATTRIBUTE_SIZE);
  ASSERT_EQ(2u, one.size());
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(0x1100u, be32(one[0].body(), 16));
  EXPECT_EQ(0x0100u, be32(one[1].body(), 16));
  EXPECT_EQ(0x1100u, be32(all[0].body(), 16));
  EXPECT_EQ(0x0100u, be32(all[1].body(), 16));
  EXPECT_EQ((std::vector<uint16_t>{32}), all[0].in_sizes());
}

TEST_F(Attributes, AllAttributesReportTheDataPlusTwenty) {
  answer(KQ_GET_ALL_ATTRIBUTE_SIZE, read_answer(0, 50), 1);
  Uint32 len = 0;
  ASSERT_EQ(0u, Qel2GetAllAttributes(session_, kKey, nullptr, &len));
  EXPECT_EQ(70u, len);

  Bytes data(50, 0x33);
  answer(KQ_GET_ALL_ATTRIBUTE_VALUE, read_answer(0, 50, data), 1);
  Bytes buf(len);
  ASSERT_EQ(0u, Qel2GetAllAttributes(session_, kKey, buf.data(), &len));
  EXPECT_EQ(70u, len);
  EXPECT_EQ(0x33, buf[49]);
  EXPECT_EQ(0, buf[50]);

  // Too small: the message, a short buffer, and still data + 20.
  answer(KQ_GET_ALL_ATTRIBUTE_VALUE, read_answer(0, 50, Bytes(10, 1)), 1);
  len = 10;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2GetAllAttributes(session_, kKey, buf.data(), &len));
  EXPECT_EQ("10 size 2 50\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(70u, len);

  // A data length near 4 GiB does not wrap into a small buffer size.
  answer(KQ_GET_ALL_ATTRIBUTE_SIZE, read_answer(0, 0xFFFFFFF0u), 1);
  ASSERT_EQ(0u, Qel2GetAllAttributes(session_, kKey, nullptr, &len));
  EXPECT_EQ(0xFFFFFFFFu, len);
}

TEST_F(Attributes, AttestedReadCarriesAnswerThenAttestation) {
  Bytes attestation(256);
  for (size_t i = 0; i < attestation.size(); ++i) attestation[i] = uint8_t(0x80 + i);
  Bytes value{'4'};
  answer(KQ_GET_ATTRIBUTE_VALUE, Be{}.bytes(read_answer(0, 1, value)).zeros(3).bytes(attestation),
         1);
  Uint8 buf[4] = {};
  Uint32 len = sizeof buf;
  // R = 20 + 4: the attested buffer needs 280 bytes.
  Bytes attested(280, 0xEE);
  Uint32 attested_len = 279;
  Uint32 id = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2GetAttribute2(session_, kKey, OBJ_ATTR_CLASS, buf, &len,
                                                    attested.data(), &attested_len, &id));
  EXPECT_EQ("Buffer is too small", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0u, sent_count(d()));

  attested_len = 280;
  ASSERT_EQ(0u, Qel2GetAttribute2(session_, kKey, OBJ_ATTR_CLASS, buf, &len, attested.data(),
                                  &attested_len, &id));
  EXPECT_EQ(1u, len);
  EXPECT_EQ('4', buf[0]);
  EXPECT_EQ(280u, attested_len);
  EXPECT_EQ(read_answer(0, 1, value), Bytes(attested.begin(), attested.begin() + 21));
  EXPECT_EQ(attestation, Bytes(attested.begin() + 24, attested.end()));
  Request r = sent_only(d(), KQ_GET_ATTRIBUTE_VALUE);
  EXPECT_EQ(1, r.attest);
  EXPECT_EQ((std::vector<uint16_t>{20, 4, 256}), r.out_sizes());
  EXPECT_EQ(280, r.rlen);
  EXPECT_EQ(280, r.param2);
  EXPECT_EQ(d().captured().back().req_id, id);
}

TEST_F(Attributes, AttestationRefusals) {
  qel2::mgmt::MgmtRequest big(KQ_GET_ALL_ATTRIBUTE_VALUE, 1);
  static Uint8 room[9100];
  big.out(room, 8745);
  Bytes attested(9100);
  Uint32 attested_len = 9100;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_BUFFER_TOO_BIG,
            qel2::mgmt::appendAttestation(&big, attested.data(), &attested_len));
  EXPECT_EQ(ERR_INVALID_INPUT, qel2::mgmt::appendAttestation(&big, nullptr, &attested_len));
  EXPECT_EQ(ERR_INVALID_INPUT,
            qel2::mgmt::appendAttestation(nullptr, attested.data(), &attested_len));
  EXPECT_EQ("Response length is too largeAttestation Buffer empty",
            testing::internal::GetCapturedStdout());
  // A caller length near 4 GiB does not wrap past the response check.
  Uint32 len = 0xFFFFFFF0u;
  attested_len = 300;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL, Qel2GetAttribute2(session_, kKey, 0, room, &len, attested.data(),
                                                    &attested_len, nullptr));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(Attributes, SetAttributeChecksThenSends) {
  script_class_and_type("4", "31");
  answer(KQ_MODIFY_OBJECT, resp(0));
  Uint8 value[] = {'0', 0};
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2SetAttribute2(session_, kKey, OBJ_ATTR_TOKEN, value, 2, nullptr, &id));
  // The check read class and type, 4-byte buffers each.
  auto reads = sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE);
  ASSERT_EQ(2u, reads.size());
  EXPECT_EQ(uint32_t(OBJ_ATTR_CLASS), be32(reads[0].body(), 32));
  EXPECT_EQ(uint32_t(OBJ_ATTR_KEY_TYPE), be32(reads[1].body(), 32));
  EXPECT_EQ((std::vector<uint16_t>{20, 4}), reads[0].out_sizes());
  Request r = sent_only(d(), KQ_MODIFY_OBJECT);
  EXPECT_EQ(kKey, r.key_handle);
  EXPECT_EQ((std::vector<uint16_t>{32, 8, 2}), r.in_sizes());
  EXPECT_EQ(42, r.dlen);
  EXPECT_EQ(Bytes(Be{}.zeros(12)
                      .u32(session_ & 0x3FFFFFFF)
                      .u32(0)
                      .u32(0)
                      .u64(kKey)
                      .u32(OBJ_ATTR_TOKEN)
                      .u32(2)
                      .u8('0')
                      .u8(0)),
            r.body());
  EXPECT_EQ(d().captured().back().req_id, id);
}

TEST_F(Attributes, SetAttributeArgumentsAndLimits) {
  // Over the data limit: refused before the check reads anything.
  static Uint8 big[8200];
  EXPECT_EQ(ERR_BUFFER_TOO_BIG, Qel2SetAttribute(session_, kKey, OBJ_ATTR_LABEL, big, 8153));
  EXPECT_EQ(ERR_BUFFER_TOO_BIG, Qel2SetAttribute(session_, kKey, OBJ_ATTR_LABEL, big, 0xFFFFFFF0u));
  // A length without a value.
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2SetAttribute(session_, kKey, OBJ_ATTR_LABEL, nullptr, 4));
  EXPECT_EQ(0u, sent_count(d()));

  // No value: two segments, 40 bytes. OBJ_ATTR_TRUSTED needs no check.
  answer(KQ_MODIFY_OBJECT, resp(0));
  ASSERT_EQ(0u, Qel2SetAttribute(session_, kKey, OBJ_ATTR_TRUSTED, nullptr, 0));
  Request r = sent_only(d(), KQ_MODIFY_OBJECT);
  EXPECT_EQ((std::vector<uint16_t>{32, 8}), r.in_sizes());
  EXPECT_EQ(40, r.dlen);
  EXPECT_TRUE(sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE).empty());

  // 8152 value bytes fit exactly.
  d().clear_captured();
  ASSERT_EQ(0u, Qel2SetAttribute(session_, kKey, OBJ_ATTR_TRUSTED, big, 8152));
  EXPECT_EQ(8192, sent_only(d(), KQ_MODIFY_OBJECT).dlen);
}

TEST_F(Attributes, SetAttributeRefusedByTheCheckSendsNoChange) {
  // Sign on a public key.
  script_class_and_type("2", "0");
  Uint8 one[] = {'1', 0};
  testing::internal::CaptureStdout();
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2SetAttribute(session_, kKey, OBJ_ATTR_SIGN, one, 2));
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(sent_requests(d(), KQ_MODIFY_OBJECT).empty());
  // A failed class read is the result.
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(RET_INVALID_USER, 0), 1);
  EXPECT_EQ(RET_INVALID_USER, Qel2SetAttribute(session_, kKey, OBJ_ATTR_SIGN, one, 2));
  EXPECT_TRUE(sent_requests(d(), KQ_MODIFY_OBJECT).empty());
}

TEST_F(Attributes, SetAttributeResults) {
  Uint8 one[] = {'1', 0};
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(0, 1, Bytes{'4'}));
  d().script(KQ_MGMT_CMD, KQ_MODIFY_OBJECT,
             with_status(RET_CLUSTER_OPERATION_INCOMPLETE, resp(0), 1));
  // Decoded like success: the response code is the result.
  EXPECT_EQ(0u, Qel2SetAttribute(session_, kKey, OBJ_ATTR_DECRYPT, one, 2));
  answer(KQ_MODIFY_OBJECT, resp(RET_INVALID_USER), 1);
  EXPECT_EQ(RET_INVALID_USER, Qel2SetAttribute(session_, kKey, OBJ_ATTR_DECRYPT, one, 2));
  // With an event buffer only the transport's status counts.
  answer(KQ_MODIFY_OBJECT, resp(RET_INVALID_USER), 1);
  int ev = 0;
  Uint32 id = 0xABCD;
  EXPECT_EQ(0u, Qel2SetAttribute2(session_, kKey, OBJ_ATTR_DECRYPT, one, 2, &ev, &id));
  EXPECT_EQ(0xABCDu, id);
}

TEST_F(Attributes, RsaPublicKeyPlain) {
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(0, 3, Bytes{1, 0, 1}), 1);
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(0, 4, Bytes{0xC0, 0xFF, 0xEE, 0x01}), 1);
  Uint32 exponent = 0;
  Uint8 modulus[8] = {};
  Uint32 mod_len = sizeof modulus;
  ASSERT_EQ(0u, Qel2ExportRSAPublicKeyPlain(session_, kKey, modulus, &mod_len, &exponent));
  const Uint8 *e = reinterpret_cast<const Uint8 *>(&exponent);
  EXPECT_EQ((Bytes{1, 0, 1, 0}), Bytes(e, e + 4));  // raw bytes as they came
  EXPECT_EQ(4u, mod_len);
  EXPECT_EQ(0xEE, modulus[2]);
  auto reads = sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE);
  ASSERT_EQ(2u, reads.size());
  EXPECT_EQ(290u, be32(reads[0].body(), 32));
  EXPECT_EQ((std::vector<uint16_t>{20, 4}), reads[0].out_sizes());
  EXPECT_EQ(288u, be32(reads[1].body(), 32));

  // An exponent longer than four bytes stops before the modulus.
  d().clear_captured();
  answer(KQ_GET_ATTRIBUTE_VALUE, read_answer(0, 5, Bytes{1, 2, 3, 4}), 1);
  EXPECT_EQ(ERR_BUFFER_TOO_SMALL,
            Qel2ExportRSAPublicKeyPlain(session_, kKey, modulus, &mod_len, &exponent));
  EXPECT_EQ(1u, sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE).size());

  EXPECT_EQ(ERR_INVALID_INPUT,
            Qel2ExportRSAPublicKeyPlain(session_, kKey, modulus, nullptr, &exponent));
  EXPECT_EQ(ERR_INVALID_INPUT,
            Qel2ExportRSAPublicKeyPlain(session_, kKey, modulus, &mod_len, nullptr));
}

// ---- token flags (no traffic) ----

Bytes token_template(const std::string &token_value) {
  Be b = Be{}.attr(OBJ_ATTR_CLASS, "4\n");
  if (!token_value.empty()) b.attr(OBJ_ATTR_TOKEN, token_value);
  return b.attr(OBJ_ATTR_LABEL, "k1");
}

TEST(TokenFlags, TokenTemplates) {
  Bytes t0 = token_template("0\n"), t1 = token_template("1\n"), none = token_template("");
  EXPECT_FALSE(is_token_template(uint32_t(t0.size()), t0.data()));
  EXPECT_TRUE(is_token_template(uint32_t(t1.size()), t1.data()));
  EXPECT_TRUE(is_token_template(uint32_t(none.size()), none.data()));
  EXPECT_TRUE(is_token_template(0, nullptr));
  // Not NUL-terminated text, read within its size: "1" followed by a digit in the next attribute.
  Bytes tight = Be{}.attr(OBJ_ATTR_TOKEN, "1").attr(7, "5");
  EXPECT_TRUE(is_token_template(uint32_t(tight.size()), tight.data()));
  // The token attribute beyond the stated size is not looked at.
  EXPECT_TRUE(is_token_template(14, t0.data()));
  // A token attribute whose size runs past the template is not read.
  Bytes cut = Be{}.u32(OBJ_ATTR_TOKEN).u32(100).text("0");
  EXPECT_TRUE(is_token_template(uint32_t(cut.size()), cut.data()));
}

TEST(TokenFlags, UpdateFromOneOrTwoTemplates) {
  Bytes t0 = token_template("0\n"), t1 = token_template("1\n");
  const Uint32 n0 = uint32_t(t0.size()), n1 = uint32_t(t1.size());
  auto reset = [] {
    bIsToken_op = 1;
    bIsTokenAndSession_op = 0;
  };
  reset();
  update_thread_token_op(n0, t0.data());
  EXPECT_EQ(0, bIsToken_op);
  EXPECT_EQ(0, bIsTokenAndSession_op);
  // Public session, private token: both flags 1.
  reset();
  update_thread_token_op(n0, t0.data(), t1.data(), n1);
  EXPECT_EQ(1, bIsToken_op);
  EXPECT_EQ(1, bIsTokenAndSession_op);
  // Public token, private session.
  reset();
  update_thread_token_op(n1, t1.data(), t0.data(), n0);
  EXPECT_EQ(1, bIsToken_op);
  EXPECT_EQ(1, bIsTokenAndSession_op);
  // Agreeing templates leave the mixed flag alone.
  reset();
  bIsTokenAndSession_op = 1;
  update_thread_token_op(n0, t0.data(), t0.data(), n0);
  EXPECT_EQ(0, bIsToken_op);
  EXPECT_EQ(1, bIsTokenAndSession_op);
  // The second template is searched within its own length only.
  reset();
  update_thread_token_op(n1, t1.data(), t0.data(), 14);
  EXPECT_EQ(0, bIsTokenAndSession_op);
  // A null first template changes nothing.
  reset();
  bIsToken_op = 0;
  testing::internal::CaptureStdout();
  update_thread_token_op(n1, nullptr, t1.data(), n1);
  EXPECT_EQ("\n\tNull parameters are passed", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, bIsToken_op);
  reset();
}

}  // namespace
