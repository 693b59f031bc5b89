// Importing keys: known keys go in plain through the fixed wrapping key and
// come back out by a plain export unchanged; the requests an import makes;
// the refusals before anything is sent.
#include <openssl/obj_mac.h>

#include <functional>

#include "unwrap_fixture.h"

using namespace unwrap_test;

namespace {

class Import : public UnwrapTest {
 protected:
  // The plain value of a key, exported through the fixed wrapping key.
  Bytes export_plain(uint64_t key) {
    Bytes out(4096), iv(8, 0);
    Uint32 len = Uint32(out.size());
    EXPECT_EQ(0u, Qel2ExportKey(session_, iv.data(), CRYPTO_MECH_AES_KEY_WRAP_PAD,
                                QEL2_FIXED_WRAPPING_KEY, key, out.data(), &len));
    out.resize(len);
    return out;
  }
};

// Each private and secret import of a known key: the object exports plain
// as the bytes that went in.
TEST_F(Import, KnownKeysExportPlainAsImported) {
  Pkey rsa = sign_test::host_rsa(), ec = sign_test::host_ec("P-256");
  const Bytes rsa_value = rsa_block(rsa.get());
  const Bytes ec_value = bn_param(ec.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32);
  const Bytes aes_value = counting(16, 0x61);
  const std::string label = "imported";
  Uint8 kek[16] = {};  // not used by these calls
  auto rsa_import = [&](Bytes k, uint64_t *h) {
    return Qel2ImportRSAPrivateKey(session_, kek, 16, QEL2_FIXED_WRAPPING_KEY, k.data(),
                                   Uint32(k.size()), u8(label), Uint32(label.size()), 0, 65537, h);
  };
  auto ec_import = [&](Bytes k, uint64_t *h) {
    return Qel2ImportECDSAPrivateKey(session_, kek, 16, QEL2_FIXED_WRAPPING_KEY, k.data(),
                                     Uint32(k.size()), u8(label), Uint32(label.size()),
                                     NID_X9_62_prime256v1, h);
  };
  auto aes_import = [&](Bytes k, uint64_t *h) {
    return Qel2ImportSymmetricKey(session_, kek, 16, QEL2_FIXED_WRAPPING_KEY, KEY_TYPE_AES,
                                  k.data(), Uint32(k.size()), u8(label), Uint32(label.size()), h);
  };
  struct Case {
    const char *name;
    std::function<Uint32(Bytes, uint64_t *)> import;
    Bytes value;
  } cases[] = {{"RSA", rsa_import, rsa_value},
               {"EC P-256", ec_import, ec_value},
               {"AES-128", aes_import, aes_value}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    d().clear_captured();
    uint64_t h = 0;
    ASSERT_EQ(0u, c.import(c.value, &h));
    // Wrapped on the HSM (4241, zero IV) and unwrapped: two requests.
    const Request wrap = sent_only(d(), KQ_NIST_AES_WRAP_UNWRAP2),
                  unwrap = sent_only(d(), KQ_UNWRAP_KEY2);
    EXPECT_EQ(4241u, be32(wrap.input(0), 8));
    EXPECT_EQ(0u, be64(wrap.input(0), 40));
    EXPECT_EQ(c.value, wrap.input(1));
    EXPECT_EQ(c.value.size() + 8 + (8 - c.value.size() % 8) % 8, unwrap.input(2).size());
    const auto o = d().hsm().object(h);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->token);
    EXPECT_EQ(c.value, export_plain(h));
  }
}

// The bridge's call: extractable as given.
TEST_F(Import, Import4KeepsTheExtractableFlag) {
  Bytes value = counting(32, 3), iv(8, 0);
  uint64_t h = 0;
  ASSERT_EQ(0u, Qel2ImportKey4(session_, KEY_TYPE_AES, PLAIN, value.data(), Uint32(value.size()), 0,
                               0, 0, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, iv.data(),
                               CRYPTO_MECH_AES_KEY_WRAP_PAD, 0, QEL2_FIXED_WRAPPING_KEY, &h,
                               nullptr, nullptr, 0));
  EXPECT_EQ(value, value_of(h));
  EXPECT_FALSE(d().hsm().object(h)->token);
  Bytes out(64);
  Uint32 len = Uint32(out.size());
  EXPECT_EQ(0x11Eu, Qel2ExportKey(session_, iv.data(), CRYPTO_MECH_AES_KEY_WRAP_PAD,
                                  QEL2_FIXED_WRAPPING_KEY, h, out.data(), &len));
}

// What the imports send besides the key: the mechanism's IV length whatever
// the caller says, and the caller's count as given.
TEST_F(Import, IvLengthByMechanismAndCountAsGiven) {
  Bytes value = counting(16, 9), iv(8, 0);
  uint64_t h = 0;
  ASSERT_EQ(
      0u, Qel2ImportKey5(session_, KEY_TYPE_AES, PLAIN, CRYPTO_MECH_AES_KEY_WRAP_PAD, iv.data(), 0,
                         value.data(), Uint32(value.size()), 0, 0, 0, 0, nullptr, 0, nullptr, 0,
                         nullptr, 0, nullptr, 0, 1, nullptr, QEL2_FIXED_WRAPPING_KEY, &h, nullptr,
                         nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(8u, sent_only(d(), KQ_UNWRAP_KEY2).input(5).size());

  d().clear_captured();
  const Bytes fixed = counting(32, 0xC0);
  ASSERT_TRUE(d().hsm().set_fixed_wrapping_key(fixed));
  const Bytes wrapped = host_wrap(fixed, true, true, value);
  Bytes t = secret_template(KEY_TYPE_AES, 16), w = wrapped;
  ASSERT_EQ(0u, Qel2ImportUnWrapKey(session_, w.data(), Uint32(w.size()), QEL2_FIXED_WRAPPING_KEY,
                                    iv.data(), t.data(), Uint32(t.size()), 77, &h, nullptr, nullptr,
                                    nullptr, 1));
  EXPECT_EQ(77u, be32(sent_only(d(), KQ_UNWRAP_KEY2).input(3), 4));
  EXPECT_EQ(value, value_of(h));
}

TEST_F(Import, RefusalsBeforeAnyRequest) {
  Bytes value = counting(16), iv(8, 0);
  auto by_args = [&](Uint32 type, const std::string &label, Uint32 input, Uint8 location) {
    uint64_t h = 0;
    return Qel2ImportKey(session_, type, InputType(input), value.data(), Uint32(value.size()), 0, 0,
                         0, 0, nullptr, 0, nullptr, 0, nullptr, 0, u8(label), Uint32(label.size()),
                         iv.data(), CRYPTO_MECH_AES_KEY_WRAP_PAD, location, QEL2_FIXED_WRAPPING_KEY,
                         &h);
  };
  Bytes bad = secret_template(KEY_TYPE_AES, 16);
  bad[3] = 0x77;  // an attribute number nobody knows
  struct Case {
    const char *name;
    std::function<Uint32()> call;
    Uint32 want;
  } cases[] = {
      {"DES is not importable", [&] { return by_args(KEY_TYPE_DES, "k", PLAIN, 1); },
       ERR_INVALID_INPUT},
      {"key type 32", [&] { return by_args(32, "k", PLAIN, 1); }, ERR_INVALID_INPUT},
      {"label public", [&] { return by_args(KEY_TYPE_AES, "public", PLAIN, 1); }, ERR_BAD_LABEL},
      {"label PRIVATE", [&] { return by_args(KEY_TYPE_AES, "PRIVATE", PLAIN, 1); }, ERR_BAD_LABEL},
      {"input format 4", [&] { return by_args(KEY_TYPE_AES, "k", 4, 1); }, ERR_INVALID_INPUT},
      {"location 2", [&] { return by_args(KEY_TYPE_AES, "k", PLAIN, 2); }, ERR_INVALID_INPUT},
      {"a template validation refuses",
       [&] {
         uint64_t h = 0;
         return Qel2ImportKeyTemplate(session_, PLAIN, CRYPTO_MECH_AES_KEY_WRAP_PAD, iv.data(),
                                      value.data(), Uint32(value.size()), bad.data(),
                                      Uint32(bad.size()), QEL2_FIXED_WRAPPING_KEY, &h, nullptr,
                                      nullptr);
       },
       ERR_INVALID_INPUT},
      {"plain input with a mechanism the host-buffer wrap refuses",
       [&] {
         uint64_t h = 0;
         Bytes t = secret_template(KEY_TYPE_AES, 16);
         return Qel2ImportKeyPkcs(session_, 0, PLAIN, value.data(), Uint32(value.size()), 0, 0, 0,
                                  0, iv.data(), CRYPTO_MECH_AES_KEY_WRAP, Uint32(t.size()),
                                  t.data(), QEL2_FIXED_WRAPPING_KEY, &h, nullptr, nullptr);
       },
       ERR_INVALID_INPUT},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    d().clear_captured();
    EXPECT_EQ(c.want, c.call());
    EXPECT_EQ(0u, sent_count(d()));
  }
}

}  // namespace
