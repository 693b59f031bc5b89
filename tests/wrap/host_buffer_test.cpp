// Host-buffer AES key wrap: the request as it travels, the length rules
// and size queries, refusals before any traffic, the key capability check,
// and wraps checked with OpenSSL on the host in both directions.
#include "wrap_fixture.h"

using namespace wrap_test;

namespace {

using HostBuffer = WrapTest;

TEST_F(HostBuffer, RequestCarriesRecordDataAndResultSegments) {
  const uint64_t key = aes(counting(16));
  Bytes data = counting(20), out(40);
  Uint32 len = Uint32(out.size()), id = 0;
  ASSERT_EQ(0u, Qel2AesWrapUnwrapBuffer3(session_ | 0xC0000000u, key, data.data(), 20, 0,
                                         out.data(), &len, 1, &id));
  EXPECT_EQ(32u, len);
  // The capability read comes first; then the wrap itself.
  ASSERT_EQ(1u, sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE).size());
  const Request m = sent_only(d(), KQ_NIST_AES_WRAP_UNWRAP2);
  EXPECT_EQ(0u, m.command_type);
  EXPECT_EQ(120u, m.timeout);
  EXPECT_EQ(key, m.key_handle);
  EXPECT_EQ(std::vector<uint16_t>({48, 20}), m.in_sizes());
  EXPECT_EQ(std::vector<uint16_t>({16, 40}), m.out_sizes());
  EXPECT_EQ(68u, m.dlen);
  EXPECT_EQ(68u, m.param1);
  EXPECT_EQ(56u, m.rlen);
  EXPECT_EQ(56u, m.param2);
  const Bytes rec = m.input(0);
  EXPECT_EQ(0u, be64(rec, 0));
  EXPECT_EQ(4241u, be32(rec, 8));
  EXPECT_EQ(session_ & 0x3FFFFFFFu, be32(rec, 12));
  EXPECT_EQ(0u, be32(rec, 16));
  EXPECT_EQ(0u, be32(rec, 20));
  EXPECT_EQ(key, be64(rec, 24));
  EXPECT_EQ(1u, be32(rec, 32));
  EXPECT_EQ(20u, be32(rec, 36));
  EXPECT_EQ(0u, be64(rec, 40));
  EXPECT_EQ(data, m.input(1));
  EXPECT_NE(0u, id);
}

TEST_F(HostBuffer, SizeQueriesNeedNoWrapRequest) {
  struct Case {
    Uint32 mech;
    Uint8 flag;
    Uint32 len, needed;
  };
  const Case cases[] = {{4241, 1, 20, 32}, {4240, 1, 20, 28}, {4242, 1, 20, 32},
                        {4242, 1, 16, 32}, {4241, 0, 40, 32}, {4240, 0, 12, 4}};
  const uint64_t key = aes(counting(32));
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.mech << " flag " << int(c.flag) << " len " << c.len);
    Bytes data(c.len, 1);
    Uint32 len = 0;
    EXPECT_EQ(Uint32(ERR_BUFFER_TOO_SMALL),
              Qel2AesWrapUnwrapBuffer4(session_, key, data.data(), c.len, 0, nullptr, &len, c.flag,
                                       c.mech, nullptr));
    EXPECT_EQ(c.needed, len);
    len = c.needed - 1;
    Bytes out(c.needed);
    EXPECT_EQ(Uint32(ERR_BUFFER_TOO_SMALL),
              Qel2AesWrapUnwrapBuffer4(session_, key, data.data(), c.len, 0, out.data(), &len,
                                       c.flag, c.mech, nullptr));
    EXPECT_EQ(c.needed, len);
  }
  EXPECT_TRUE(sent_requests(d(), KQ_NIST_AES_WRAP_UNWRAP2).empty());
}

TEST_F(HostBuffer, RefusalsSendNoWrapRequest) {
  Bytes data(8200, 7), out(8300), iv8(8, 0);
  Uint32 len = 0;
  auto buf4 = [&](Uint32 n, Uint8 flag, Uint32 mech, uint64_t iv = 0) {
    len = Uint32(out.size());
    return Qel2AesWrapUnwrapBuffer4(session_, 4, data.data(), n, iv, out.data(), &len, flag, mech,
                                    nullptr);
  };
  struct Case {
    const char *what;
    Uint32 status;
    std::function<Uint32()> call;
  };
  const Case cases[] = {
      {"unwrap of 7 bytes, 4240", ERR_INVALID_INPUT, [&] { return buf4(7, 0, 4240); }},
      {"unwrap of 7 bytes, 4241", ERR_INVALID_INPUT, [&] { return buf4(7, 0, 4241); }},
      {"unwrap of 7 bytes, 4242", ERR_INVALID_INPUT, [&] { return buf4(7, 0, 4242); }},
      {"unwrap of 12 bytes", ERR_INVALID_INPUT, [&] { return buf4(12, 0, 4241); }},
      {"flag 2", ERR_INVALID_INPUT, [&] { return buf4(16, 2, 4241); }},
      {"empty data", ERR_INVALID_INPUT, [&] { return buf4(0, 1, 4241); }},
      {"8192 bytes padded by 4242", ERR_INVALID_INPUT, [&] { return buf4(8192, 1, 4242); }},
      {"8193 bytes", ERR_INVALID_INPUT, [&] { return buf4(8193, 1, 4241); }},
      {"4241 with its initial value as IV", ERR_INVALID_INPUT,
       [&] { return buf4(16, 1, 4241, 0xA65959A600000000ull); }},
      {"Buffer4 with 4229", ERR_INVALID_INPUT, [&] { return buf4(16, 1, 4229); }},
      {"host key wrap without IV", RET_INVALID_INPUT,
       [&] {
         len = 64;
         return Qel2WrapHostKey2(session_, data.data(), 16, out.data(), &len, 4, 4241, nullptr,
                                 nullptr);
       }},
      {"export unwrap with 4240", ERR_INVALID_INPUT,
       [&] {
         len = 64;
         return Qel2ExportUnwrapKey(session_, data.data(), 24, out.data(), &len, 4, 4240,
                                    iv8.data(), nullptr);
       }},
      {"import wrap with 4229", ERR_INVALID_INPUT,
       [&] {
         len = 64;
         return Qel2ImportWrapKey(session_, data.data(), 16, out.data(), &len, 4, 4229, iv8.data(),
                                  nullptr);
       }},
  };
  for (const auto &c : cases) EXPECT_EQ(c.status, c.call()) << c.what;
  EXPECT_TRUE(sent_requests(d(), KQ_NIST_AES_WRAP_UNWRAP2).empty());
  // The largest data that is not padded on the host goes out.
  EXPECT_EQ(0u, buf4(8192, 1, 4240, kRfc3394Iv));
  EXPECT_EQ(8200u, len);
  EXPECT_EQ(0u, buf4(8192, 1, 4241));
  EXPECT_EQ(8200u, len);
}

TEST_F(HostBuffer, KeyWithoutCapabilityIsRefusedAfterOneAttributeRead) {
  const uint64_t no_encrypt = aes(counting(16), false, true);
  const uint64_t no_decrypt = aes(counting(16), true, false);
  Bytes out;
  EXPECT_EQ(Uint32(RET_WRAPPING_KEY_INVALID), run(no_encrypt, 4241, 1, counting(16), out));
  EXPECT_EQ(Uint32(RET_UNWRAPPING_KEY_INVALID), run(no_decrypt, 4241, 0, counting(24), out));
  EXPECT_EQ(2u, sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE).size());
  EXPECT_TRUE(sent_requests(d(), KQ_NIST_AES_WRAP_UNWRAP2).empty());
  // An unknown key: the attribute read's own status.
  EXPECT_EQ(Uint32(RET_INVALID_OBJ_HANDLE), run(0x7FFFFF0, 4241, 1, counting(16), out));
  // The fixed wrapping key is not asked about.
  d().clear_captured();
  EXPECT_EQ(0u, run(4, 4241, 1, counting(16), out));
  EXPECT_TRUE(sent_requests(d(), KQ_GET_ATTRIBUTE_VALUE).empty());
}

// Each mechanism and key size, wrapped on the HSM and unwrapped on the host,
// then wrapped on the host and unwrapped on the HSM.
TEST_F(HostBuffer, AgreesWithOpenSslBothWays) {
  for (size_t kek_len : {16, 24, 32}) {
    const Bytes kek = counting(kek_len, 0x40);
    const uint64_t key = aes(kek);
    for (size_t n : {8, 16, 20, 37, 64}) {
      const Bytes plain = counting(n, 0x90);
      SCOPED_TRACE(testing::Message() << "kek " << kek_len << " data " << n);
      Bytes w, back;
      // RFC 5649.
      ASSERT_EQ(0u, run(key, 4241, 1, plain, w));
      EXPECT_EQ(plain, host_wrap(kek, true, false, w));
      ASSERT_EQ(0u, run(key, 4241, 0, host_wrap(kek, true, true, plain), back));
      EXPECT_EQ(plain, back);
      // PKCS#7 to whole blocks on the host, then RFC 3394.
      Bytes padded = plain;
      padded.insert(padded.end(), 8 - n % 8, uint8_t(8 - n % 8));
      ASSERT_EQ(0u, run(key, 4242, 1, plain, w, kRfc3394Iv));
      EXPECT_EQ(padded, host_wrap(kek, false, false, w));
      ASSERT_EQ(0u, run(key, 4242, 0, host_wrap(kek, false, true, padded), back, kRfc3394Iv));
      EXPECT_EQ(plain, back);
      if (n % 8 || n < 16) continue;
      // RFC 3394 with its default value, and with a zero IV taken as given.
      ASSERT_EQ(0u, run(key, 4240, 1, plain, w, kRfc3394Iv));
      EXPECT_EQ(w, host_wrap(kek, false, true, plain));
      ASSERT_EQ(0u, run(key, 4240, 1, plain, w, 0));
      EXPECT_EQ(w, host_wrap(kek, false, true, plain, Bytes(8, 0)));
      ASSERT_EQ(0u, run(key, 4240, 0, w, back, 0));
      EXPECT_EQ(plain, back);
    }
  }
}

TEST_F(HostBuffer, HostKeyFormsTakeTheIvBytesInOrder) {
  const Bytes kek = counting(32, 3);
  const uint64_t key = aes(kek);
  Bytes plain = counting(24), iv = hex("0102030405060708"), w(32), back(32);
  Uint32 len = 32;
  ASSERT_EQ(0u, Qel2WrapHostKey2(session_, plain.data(), 24, w.data(), &len, key, 4240, iv.data(),
                                 nullptr));
  ASSERT_EQ(32u, len);
  EXPECT_EQ(0x0102030405060708ull, be64(sent_only(d(), KQ_NIST_AES_WRAP_UNWRAP2).input(0), 40));
  EXPECT_EQ(w, host_wrap(kek, false, true, plain, iv));
  ASSERT_EQ(0u, Qel2UnWrapHostKey2(session_, w.data(), 32, back.data(), &len, key, 4240, iv.data(),
                                   nullptr));
  back.resize(len);
  EXPECT_EQ(plain, back);
  // Import and export forms: 4241 with a zero IV, 4242 with its initial value.
  Bytes zero(8, 0), a6(8, 0xA6);
  len = 32;
  ASSERT_EQ(0u, Qel2ImportWrapKey(session_, plain.data(), 20, w.data(), &len, key, 4241,
                                  zero.data(), nullptr));
  ASSERT_EQ(32u, len);
  back.assign(32, 0);
  ASSERT_EQ(0u, Qel2ExportUnwrapKey(session_, w.data(), 32, back.data(), &len, key, 4241,
                                    zero.data(), nullptr));
  EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 20), Bytes(back.begin(), back.begin() + len));
  len = 32;
  ASSERT_EQ(0u, Qel2ImportWrapKey(session_, plain.data(), 16, w.data(), &len, key, 4242, a6.data(),
                                  nullptr));
  ASSERT_EQ(32u, len);  // a whole block of padding
  len = 32;
  ASSERT_EQ(0u, Qel2ExportUnwrapKey(session_, w.data(), 32, back.data(), &len, key, 4242, a6.data(),
                                    nullptr));
  EXPECT_EQ(16u, len);
}

TEST_F(HostBuffer, PkcsPadMechanismPadsAFullBlockOnTheHost) {
  const Bytes data = counting(16);
  Bytes out;
  ASSERT_EQ(0u, run(4, 4242, 1, data, out, kRfc3394Iv));
  EXPECT_EQ(32u, out.size());
  const Request m = sent_only(d(), KQ_NIST_AES_WRAP_UNWRAP2);
  ASSERT_EQ(24u, m.input(1).size());
  EXPECT_EQ(Bytes(8, 8), Bytes(m.in[1].bytes.begin() + 16, m.in[1].bytes.end()));
  EXPECT_EQ(72u, m.dlen);
}

TEST_F(HostBuffer, FirstFormsUseTheComputedLength) {
  Bytes data = counting(16), out(24, 0), back(16, 0);
  Uint32 id = 0;
  ASSERT_EQ(0u, Qel2AesWrapUnwrapBuffer2(session_, 4, data.data(), 16, 0, out.data(), 1, &id));
  EXPECT_NE(0u, id);
  EXPECT_EQ(24u, sent_only(d(), KQ_NIST_AES_WRAP_UNWRAP2).out_sizes().at(1));
  ASSERT_EQ(0u, Qel2AesWrapUnwrapBuffer(session_, 4, out.data(), 24, 0, back.data(), 0));
  EXPECT_EQ(data, back);
  EXPECT_EQ(Uint32(ERR_BUFFER_TOO_SMALL),
            Qel2AesWrapUnwrapBuffer(session_, 4, data.data(), 16, 0, nullptr, 1));
}

TEST_F(HostBuffer, HsmRefusalsComeBackUnchanged) {
  const uint64_t key = aes(counting(16));
  Bytes w, back;
  ASSERT_EQ(0u, run(key, 4241, 1, counting(20), w));
  w[5] ^= 1;
  EXPECT_EQ(0x104u, run(key, 4241, 0, w, back)) << "integrity";
  // The result length follows the failed answer.
  Bytes out(32);
  Uint32 len = 32;
  EXPECT_EQ(0x104u,
            Qel2AesWrapUnwrapBuffer3(session_, key, w.data(), 32, 0, out.data(), &len, 0, nullptr));
  EXPECT_EQ(0u, len);
  // A DES key cannot wrap on the HSM.
  ObjectSeed s;
  s.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 4), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 21),
                  ObjectAttr::flag(OBJ_ATTR_ENCRYPT, true)};
  s.key = counting(24);
  const uint64_t des3 = d().hsm().seed_object(s).handle;
  EXPECT_EQ(Uint32(RET_WRAPPING_KEY_TYPE_INCONSISTENT), run(des3, 4241, 1, counting(16), w));
}

// Answers that claim more than they carry, or a padding that cannot come
// from a correct wrap, never make the caller read beyond what arrived.
TEST_F(HostBuffer, ShortOrBadlyPaddedAnswersAreBounded) {
  Bytes data(40, 1), out(32, 0xEE);
  Uint32 len = 32;
  answer(KQ_NIST_AES_WRAP_UNWRAP2, resp(0, 0, 32, 32).bytes(Bytes(8, 0x11)));
  EXPECT_EQ(
      0u, Qel2AesWrapUnwrapBuffer3(session_, 4, data.data(), 40, 0, out.data(), &len, 0, nullptr));
  EXPECT_EQ(8u, len);
  struct Case {
    const char *what;
    Bytes result;
  };
  const Case cases[] = {{"pad count 0", Bytes(8, 0)},
                        {"pad count 9", Bytes(16, 9)},
                        {"pad bytes differ", Bytes{1, 2, 3, 4, 5, 6, 7, 2}},
                        {"pad count above the length", Bytes{9, 9, 9, 9, 9, 9, 9, 9}},
                        {"nothing arrived", Bytes{}}};
  for (const auto &c : cases) {
    answer(KQ_NIST_AES_WRAP_UNWRAP2,
           resp(0, 0, 16, Uint32(c.result.empty() ? 16 : c.result.size())).bytes(c.result));
    len = 32;
    EXPECT_EQ(Uint32(RET_INVALID_INPUT),
              Qel2AesWrapUnwrapBuffer4(session_, 4, data.data(), 24, kRfc3394Iv, out.data(), &len,
                                       0, 4242, nullptr))
        << c.what;
    EXPECT_LE(len, 32u) << c.what;
  }
}

}  // namespace
