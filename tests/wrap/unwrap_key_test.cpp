// Unwrapping keys into new objects: keys wrapped on the host with OpenSSL
// under every mechanism come out on the HSM with their value; the command
// and segments as they travel; the refusals of the library and of the HSM;
// the attestation mark; a wrapped key with template carried to another
// partition.
#include <functional>

#include "layout.h"
#include "unwrap_fixture.h"

using namespace unwrap_test;

namespace {

const Bytes kKek = counting(32, 0x40);
const Bytes kValue = counting(32, 0x90);  // the AES-256 key that travels wrapped

class Unwrap : public UnwrapTest {};

// Every mechanism, wrapped on the host, unwrapped on the HSM through
// Qel2UnWrapWithTemplate2; the new object holds the value that was wrapped.
TEST_F(Unwrap, HostWrappedKeysComeOutWithTheirValue) {
  const uint64_t aes_kek = unwrapping_aes(kKek);
  Pkey rsa = sign_test::host_rsa();
  const uint64_t rsa_kek = unwrapping_rsa(rsa.get());
  const Bytes iv3394 = hex("0102030405060708"), iv_cbc = counting(16, 7);
  const Bytes a6 = hex("A6A6A6A6A6A6A6A6");
  Bytes padded = kValue;
  padded.insert(padded.end(), 8, 8);  // PKCS#7 of a whole number of blocks
  // RSA-AES: a fresh AES-256 key under OAEP (SHA-1), then the value under it by RFC 5649.
  const Bytes eph = counting(32, 0x11);
  const Bytes rsa_aes = cat({host_rsa_encrypt(rsa.get(), RSA_PKCS1_OAEP_PADDING, nullptr, eph),
                             host_wrap(eph, true, true, kValue)});
  struct Case {
    const char *name;
    uint64_t kek;
    Uint32 mech, hash;
    Bytes iv, wrapped;
  } cases[] = {
      {"RFC 3394 with its IV", aes_kek, 4240, kNoHash, iv3394,
       host_wrap(kKek, false, true, kValue, iv3394)},
      {"RFC 5649", aes_kek, 4241, kNoHash, Bytes(8, 0), host_wrap(kKek, true, true, kValue)},
      {"PKCS#7 then RFC 3394", aes_kek, 4242, kNoHash, a6,
       host_wrap(kKek, false, true, padded, a6)},
      {"OAEP SHA-1",
       rsa_kek,
       9,
       kNoHash,
       {},
       host_rsa_encrypt(rsa.get(), RSA_PKCS1_OAEP_PADDING, nullptr, kValue)},
      {"OAEP SHA-256",
       rsa_kek,
       9,
       3,
       {},
       host_rsa_encrypt(rsa.get(), RSA_PKCS1_OAEP_PADDING, "SHA256", kValue)},
      {"PKCS#1 v1.5",
       rsa_kek,
       1,
       kNoHash,
       {},
       host_rsa_encrypt(rsa.get(), RSA_PKCS1_PADDING, nullptr, kValue)},
      {"RSA-AES", rsa_kek, 4180, kNoHash, {}, rsa_aes},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.wrapped.empty());
    uint64_t h = 0;
    ASSERT_EQ(0u, unwrap2(c.kek, c.mech, c.iv, c.hash, c.wrapped, &h));
    EXPECT_NE(0u, h);
    EXPECT_EQ(kValue, value_of(h));
  }
  // AES-CBC is no mechanism of the template unwraps: the extended call takes it.
  Bytes t = secret_template(KEY_TYPE_AES, 32);
  Bytes cbc = host_encrypt("AES-256-CBC", kKek, iv_cbc, kValue), iv = iv_cbc;
  extendedArgs ext{nullptr, 0, iv.data(), nullptr, 16, 0};
  uint64_t h = 0;
  ASSERT_EQ(
      0u, Qel2UnwrapWithTemplateExtended(session_, ENCRYPTED, CRYPTO_MECH_AES_CBC_PAD, cbc.data(),
                                         Uint32(cbc.size()), t.data(), Uint32(t.size()), 0, aes_kek,
                                         &h, nullptr, nullptr, nullptr, nullptr, 1, &ext, nullptr));
  EXPECT_EQ(kValue, value_of(h));
}

TEST_F(Unwrap, GcmWithTagAndAdditionalDataThroughTheExtendedCall) {
  const uint64_t kek = unwrapping_aes(kKek);
  const Bytes iv12 = counting(12, 0x21);
  Bytes aad = counting(20, 0x55);
  Bytes tag;
  Bytes wrapped = host_gcm(kKek, iv12, aad, kValue, 12, tag);
  Bytes iv16 = iv12;
  iv16.resize(16, 0);
  Bytes t = secret_template(KEY_TYPE_AES, 32);
  extendedArgs ext{aad.data(), Uint32(aad.size()), iv16.data(), tag.data(), 16, 12};
  uint64_t h = 0;
  ASSERT_EQ(
      0u, Qel2UnwrapWithTemplateExtended(session_, ENCRYPTED, CRYPTO_MECH_AES_GCM, wrapped.data(),
                                         Uint32(wrapped.size()), t.data(), Uint32(t.size()), 0, kek,
                                         &h, nullptr, nullptr, nullptr, nullptr, 1, &ext, nullptr));
  EXPECT_EQ(kValue, value_of(h));
  // The segments in their order: the tag behind its length byte, the
  // template, the IV field, the additional data last.
  const Request m = sent_only(d(), KQ_UNWRAP_KEY2);
  ASSERT_EQ(9u, m.in.size());
  EXPECT_EQ(0x00000100u, be32(m.input(0), 16)) << "no hash byte";
  EXPECT_EQ(Bytes{12}, m.input(3));
  EXPECT_EQ(tag, m.input(4));
  EXPECT_EQ(t, m.input(6));
  EXPECT_EQ(iv16, m.input(7));
  EXPECT_EQ(aad, m.input(8));
  EXPECT_EQ(44u + wrapped.size() + 1 + 12 + 12 + t.size() + 16 + aad.size(), m.dlen);

  // A tag that does not authenticate is the HSM's integrity failure.
  tag[0] ^= 1;
  EXPECT_EQ(0x104u, Qel2UnwrapWithTemplateExtended(session_, ENCRYPTED, CRYPTO_MECH_AES_GCM,
                                                   wrapped.data(), Uint32(wrapped.size()), t.data(),
                                                   Uint32(t.size()), 0, kek, &h, nullptr, nullptr,
                                                   nullptr, nullptr, 1, &ext, nullptr));
}

// The command record and segments of the plain request, read with the
// test's own reader.
TEST_F(Unwrap, PlainRequestLayout) {
  Pkey rsa = sign_test::host_rsa();
  const uint64_t kek = unwrapping_rsa(rsa.get());
  const Bytes wrapped = host_rsa_encrypt(rsa.get(), RSA_PKCS1_PADDING, nullptr, kValue);
  Bytes t = secret_template(KEY_TYPE_AES, 32);
  Bytes attrs(2048);
  Uint32 attr_len = Uint32(attrs.size());
  uint64_t h = 0;
  Bytes w = wrapped;
  const uint16_t data_len = uint16_t(56 + wrapped.size() + t.size());
  // Inputs: the command record, the wrapped key's length word and bytes, the
  // Object head, the template, and no IV (RSA).
  ASSERT_NO_FATAL_FAILURE(expect_layout(
      d(), {{.name = "plain unwrap into a template",
             .call =
                 [&] {
                   return Qel2UnWrapWithTemplate3(session_, w.data(), Uint32(w.size()), kek,
                                                  nullptr, 0, 1, kNoHash, t.data(),
                                                  Uint32(t.size()), 99, &h, nullptr, nullptr,
                                                  nullptr, attrs.data(), &attr_len, 1);
                 },
             .result = 0,
             .opcode = KQ_UNWRAP_KEY2,
             .param1 = data_len,
             .dlen = data_len,
             .rlen = uint16_t(24 + attrs.size()),
             .ins = {40, 4, uint16_t(wrapped.size()), 12, uint16_t(t.size()), 0},
             .timeout = 120,
             .key_handle = kek,
             .fields = {{0, 1, 4, "reserved[0]: attributes asked for"},
                        {4, 0, 4, "reserved[1]"},
                        {8, 0, 4, "ulFlags: not RAW"},
                        {12, session_ & 0x3FFFFFFFu, 4, "masked session"},
                        {16, 0x000021FFu, 4, "get_new_attrs, isPkcsPad, hash byte 0xFF"},
                        {20, 9, 4, "mechanism 1 travels as 9"},
                        {24, kek, 8, "the unwrapping key"},
                        {32, 0, 4, "pad_len"},
                        {36, 0, 4, "padding"},
                        {40, wrapped.size(), 4, "the wrapped key's length word"}}}}));
  const Request m = sent_only(d(), KQ_UNWRAP_KEY2);
  EXPECT_EQ(wrapped, m.input(2));
  // The Object head counts what validation counted, not the caller's 99.
  Uint32 count = 0;
  ASSERT_EQ(0u,
            validateTemplateFromUser2(Uint32(t.size()), t.data(), &count, TEMPLATE_MODE_UNWRAP));
  EXPECT_EQ(0u, be32(m.input(3), 0));
  EXPECT_EQ(count, be32(m.input(3), 4));
  EXPECT_EQ(t.size() + 12, be32(m.input(3), 8));
  EXPECT_EQ(t, m.input(4));
  // The new object's attributes arrived in the caller's buffer.
  EXPECT_EQ(0u, be32(attrs, 0));
  EXPECT_NE(0u, be32(attrs, 4));
  EXPECT_EQ(kValue, value_of(h));
}

// Refusals before anything is sent, and the HSM's codes.
TEST_F(Unwrap, Refusals) {
  const uint64_t kek = unwrapping_aes(kKek);
  const uint64_t no_unwrap = unwrapping_aes(kKek, false);
  Pkey rsa = sign_test::host_rsa();
  const uint64_t rsa_kek = unwrapping_rsa(rsa.get());
  const Bytes good = host_wrap(kKek, true, true, kValue);
  Bytes tampered = host_wrap(kKek, false, true, kValue);
  tampered[5] ^= 1;
  // PKCS#7 then RFC 3394 whose pad byte is 0.
  Bytes zero_pad = counting(40, 1);
  zero_pad[39] = 0;
  const Bytes a6 = hex("A6A6A6A6A6A6A6A6");
  const Bytes bad_pad = host_wrap(kKek, false, true, zero_pad, a6);
  const Bytes wrapped20 = host_wrap(kKek, true, true, counting(20));
  struct Case {
    const char *name;
    uint64_t kek;
    Uint32 mech;
    Bytes iv, wrapped;
    Uint32 want;
    bool sent;
  } cases[] = {
      {"8193 bytes", kek, 4241, Bytes(8, 0), Bytes(8193, 1), ERR_INVALID_INPUT, false},
      {"4241 with a non-zero IV", kek, 4241, hex("A65959A600000000"), good, ERR_INVALID_INPUT,
       false},
      {"4241 with an IV shorter than 8", kek, 4241, Bytes(4, 0), good, ERR_INVALID_INPUT, false},
      {"4231 without an IV", kek, 4231, {}, good, ERR_INVALID_INPUT, false},
      {"4229: not a template-unwrap mechanism", kek, 4229, Bytes(16, 0), good, ERR_INVALID_INPUT,
       false},
      {"unknown handle", 0x7777, 4241, Bytes(8, 0), good, 0xA8, true},
      {"key without unwrap", no_unwrap, 4241, Bytes(8, 0), good, 0x11B, true},
      {"AES mechanism with an RSA key", rsa_kek, 4241, Bytes(8, 0), good, 0x11A, true},
      {"RSA mechanism with an AES key", kek, 9, {}, Bytes(256, 1), 0x11A, true},
      {"integrity", kek, 4240, a6, tampered, 0x104, true},
      {"padding", kek, 4242, a6, bad_pad, 0x120, true},
      {"a size the key type refuses", kek, 4241, Bytes(8, 0), wrapped20, 0xB1, true},
      {"310 is no mechanism of the HSM's", kek, 310, Bytes(4, 0), Bytes(32, 1), 0x11F, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    d().clear_captured();
    uint64_t h = 0xFFFF;
    EXPECT_EQ(c.want, unwrap2(c.kek, c.mech, c.iv, kNoHash, c.wrapped, &h));
    EXPECT_EQ(c.sent ? 1u : 0u, sent_requests(d(), KQ_UNWRAP_KEY2).size());
    if (c.sent) {
      EXPECT_EQ(0u, h) << "the answer's handle field, also on failure";
    }
  }
  // A template outside the unwrap rules is refused by validation.
  Bytes t = secret_template(KEY_TYPE_AES, 32);
  t[3] = 0x77;  // an attribute number nobody knows
  uint64_t h = 0;
  Bytes w = good;
  EXPECT_NE(0u, Qel2UnWrapWithTemplate2(session_, w.data(), Uint32(w.size()), kek,
                                        Bytes(8, 0).data(), 8, 4241, kNoHash, t.data(),
                                        Uint32(t.size()), 0, &h, nullptr, nullptr, nullptr, 1));
}

// A session object's attested answer is marked in byte 21; a buffer too
// short for the attested answer is refused and never written.
TEST_F(Unwrap, AttestationMarksSessionObjectsOnlyInACopyThatWasMade) {
  const uint64_t kek = unwrapping_aes(kKek);
  const Bytes wrapped = host_wrap(kKek, true, true, kValue);
  for (Uint8 location : {Uint8(0), Uint8(1)}) {
    SCOPED_TRACE(int(location));
    Bytes t = secret_template(KEY_TYPE_AES, 32, location);
    Bytes w = wrapped, iv(8, 0), attested(24 + 256 + 8, 0xEE);
    Uint32 attested_len = Uint32(attested.size());
    uint64_t h = 0;
    ASSERT_EQ(0u, Qel2UnWrapWithTemplate(session_, w.data(), Uint32(w.size()), kek, iv.data(),
                                         t.data(), Uint32(t.size()), 0, &h, attested.data(),
                                         &attested_len, nullptr, location));
    EXPECT_EQ(24u + 256u, attested_len);
    uint8_t handle_byte = uint8_t(h >> 16);  // byte 21 of the copy: bits 16-23 of the handle
    EXPECT_EQ(location == 0 ? (handle_byte | 0x02) : handle_byte, attested[21]);
  }
  // Too short: refused before sending, and byte 21 (past the buffer) untouched.
  Bytes t = secret_template(KEY_TYPE_AES, 32, 0);
  Bytes w = wrapped, iv(8, 0), guard(64, 0xEE);
  Uint32 short_len = 16;
  uint64_t h = 0;
  d().clear_captured();
  EXPECT_EQ(Uint32(ERR_BUFFER_TOO_SMALL),
            Qel2UnWrapWithTemplate(session_, w.data(), Uint32(w.size()), kek, iv.data(), t.data(),
                                   Uint32(t.size()), 0, &h, guard.data(), &short_len, nullptr, 0));
  EXPECT_EQ(Bytes(64, 0xEE), guard);
  EXPECT_TRUE(sent_requests(d(), KQ_UNWRAP_KEY2).empty());
}

// Plain input: wrapped on the HSM with the unwrapping key first (opcode 227),
// then unwrapped (226).
TEST_F(Unwrap, PlainInputIsWrappedOnTheHsmFirst) {
  const uint64_t kek = unwrapping_aes(kKek);
  Bytes t = secret_template(KEY_TYPE_AES, 32);
  Bytes key = kValue, iv(16, 0);
  extendedArgs ext{nullptr, 0, iv.data(), nullptr, 8, 0};
  uint64_t h = 0;
  ASSERT_EQ(
      0u, Qel2UnwrapWithTemplateExtended(session_, PLAIN, CRYPTO_MECH_AES_KEY_WRAP_PAD, key.data(),
                                         Uint32(key.size()), t.data(), Uint32(t.size()), 0, kek, &h,
                                         nullptr, nullptr, nullptr, nullptr, 1, &ext, nullptr));
  EXPECT_EQ(kValue, value_of(h));
  EXPECT_EQ(1u, sent_requests(d(), KQ_NIST_AES_WRAP_UNWRAP2).size());
  const Request m = sent_only(d(), KQ_UNWRAP_KEY2);
  EXPECT_EQ(host_wrap(kKek, true, true, kValue), m.input(2));
}

// A key wrapped with its template under the fixed wrapping key comes back in
// another partition with the same attributes.
TEST_F(Unwrap, WrappedKeyWithTemplateRecreatesTheKeyInAnotherPartition) {
  ObjectSeed s;
  s.attributes = {
      ObjectAttr::number(OBJ_ATTR_CLASS, 4),          ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
      ObjectAttr::text(OBJ_ATTR_LABEL, "travelling"), ObjectAttr::text(OBJ_ATTR_ID, "key-7"),
      ObjectAttr::flag(OBJ_ATTR_ENCRYPT, true),       ObjectAttr::flag(OBJ_ATTR_DECRYPT, false),
      ObjectAttr::flag(OBJ_ATTR_EXTRACTABLE, true)};
  s.key = kValue;
  const uint64_t key = d().hsm().seed_object(s).handle;
  Bytes blob(4096);
  Uint32 len = Uint32(blob.size());
  ASSERT_EQ(0u, Qel2WrapKey(session_, QEL2_FIXED_WRAPPING_KEY, key, blob.data(), &len));
  blob.resize(len);

  ASSERT_TRUE(d().hsm().add_partition("PARTITION_2"));
  ASSERT_TRUE(d().hsm().add_user("PARTITION_2", "other_user", hsmsim::UserType::CryptoUser,
                                 "other-password"));
  Uint32 app = 0, session = 0;
  ASSERT_EQ(0u, Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_2", &app));
  ASSERT_EQ(0u, Qel2OpenSession2(app, &session));
  const std::string name = "other_user", pw = "other-password";
  ASSERT_EQ(0u, Qel2LoginHSM(session, KQ_CRYPTO_USER, u8(name), Uint32(name.size()), u8(pw),
                             Uint32(pw.size())));
  uint64_t copy = 0;
  ASSERT_EQ(
      0u, Qel2UnWrapKey(session, QEL2_FIXED_WRAPPING_KEY, blob.data(), Uint32(blob.size()), &copy));
  const auto orig = d().hsm().object(key), made = d().hsm().object(copy);
  ASSERT_TRUE(orig && made);
  EXPECT_EQ(kValue, made->key);
  EXPECT_TRUE(made->token);
  EXPECT_NE(orig->owner, made->owner);
  for (Uint32 a : {OBJ_ATTR_CLASS, OBJ_ATTR_KEY_TYPE, OBJ_ATTR_ID, OBJ_ATTR_ENCRYPT,
                   OBJ_ATTR_DECRYPT, OBJ_ATTR_VALUE_LEN})
    EXPECT_EQ(d().hsm().object_attribute(key, a), d().hsm().object_attribute(copy, a)) << a;
  // The rebuilt template carries the label with its NUL.
  const std::string label = "travelling";
  Bytes with_nul(label.begin(), label.end());
  with_nul.push_back(0);
  EXPECT_EQ(with_nul, d().hsm().object_attribute(copy, OBJ_ATTR_LABEL));
}

// The blob variants as they travel: the mechanism and IV each sends, the
// RAW bit in ulFlags, the hash byte, and the location's token value.
TEST_F(Unwrap, BlobVariantsOnTheWire) {
  ObjectSeed s;
  s.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 4), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
                  ObjectAttr::text(OBJ_ATTR_ID, "blob"),
                  ObjectAttr::flag(OBJ_ATTR_EXTRACTABLE, true)};
  s.key = kValue;
  const uint64_t key = d().hsm().seed_object(s).handle;
  Bytes blob(4096);
  Uint32 len = Uint32(blob.size());
  ASSERT_EQ(0u, Qel2WrapKey(session_, QEL2_FIXED_WRAPPING_KEY, key, blob.data(), &len));
  blob.resize(len);
  const uint64_t kek = QEL2_FIXED_WRAPPING_KEY;
  Bytes iv(8, 0);
  struct Case {
    const char *name;
    std::function<Uint32(Bytes &, uint64_t *)> call;
    uint32_t flags, common, mech;
    char token;
  } cases[] = {
      {"UnWrapKey: token object, zero IV",
       [&](Bytes &b, uint64_t *h) {
         return Qel2UnWrapKey(session_, kek, b.data(), Uint32(b.size()), h);
       },
       0, 0x1FF, 4241, '1'},
      {"UnWrapKey2 with 310: the 3DES rule, still 4241",
       [&](Bytes &b, uint64_t *h) {
         return Qel2UnWrapKey2(session_, kek, b.data(), Uint32(b.size()), iv.data(), 310, 0, h);
       },
       0, 0x1FF, 4241, '0'},
      {"UnWrapKey3 RAW",
       [&](Bytes &b, uint64_t *h) {
         return Qel2UnWrapKey3(session_, kek, b.data(), Uint32(b.size()), iv.data(), 4241,
                               ENCRYPTED_RAW, 1, h);
       },
       1, 0x1FF, 4241, '1'},
      {"UnWrapKey5 with SHA-256",
       [&](Bytes &b, uint64_t *h) {
         return Qel2UnWrapKey5(session_, kek, b.data(), Uint32(b.size()), iv.data(), 4241, 3,
                               ENCRYPTED, 0, h, nullptr, nullptr, nullptr);
       },
       0, 0x103, 4241, '0'},
      {"UnWrapKeyExtended without an IV: 8 zero bytes",
       [&](Bytes &b, uint64_t *h) {
         extendedArgs ext{};
         return Qel2UnWrapKeyExtended(session_, kek, b.data(), Uint32(b.size()), 4241, ENCRYPTED, 0,
                                      h, nullptr, nullptr, &ext, nullptr);
       },
       0, 0x100, 4241, '0'},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    d().clear_captured();
    Bytes b = blob;
    uint64_t h = 0;
    ASSERT_EQ(0u, c.call(b, &h));
    EXPECT_EQ(kValue, value_of(h));
    const Request m = sent_only(d(), KQ_UNWRAP_KEY2);
    EXPECT_EQ(c.flags, be32(m.input(0), 8));
    EXPECT_EQ(c.common, be32(m.input(0), 16));
    EXPECT_EQ(c.mech, be32(m.input(0), 20));
    EXPECT_EQ(Bytes(8, 0), m.input(5));
    EXPECT_EQ(c.token == '1', d().hsm().object(h)->token);
  }
  // 4229 is refused after the decoding by the checked variant.
  Bytes b = blob;
  uint64_t h = 0;
  d().clear_captured();
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT),
            Qel2UnWrapKey5(session_, kek, b.data(), Uint32(b.size()), iv.data(), 4229, 3, ENCRYPTED,
                           0, &h, nullptr, nullptr, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
}

}  // namespace
