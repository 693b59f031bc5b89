// Wrapping key objects: the command as it travels, the template prefix,
// every mechanism checked by unwrapping or decrypting on the host with
// OpenSSL, the plain export and the refusals.
#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <cstdlib>

#include "mgmt/objects/objects_internal.h"
#include "wrap_fixture.h"

using namespace wrap_test;

namespace {

constexpr Uint32 kNoHash = 0xFFFFFFFF;

Bytes host_cipher(const char *name, const Bytes &key, const Bytes &iv, const Bytes &in) {
  EVP_CIPHER *c = EVP_CIPHER_fetch(nullptr, name, nullptr);
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n = 0, m = 0;
  bool ok = c && ctx && EVP_DecryptInit_ex2(ctx, c, key.data(), iv.data(), nullptr) == 1 &&
            EVP_DecryptUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
            EVP_DecryptFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(c);
  out.resize(ok ? size_t(n + m) : 0);
  return out;
}

Bytes host_gcm_decrypt(const Bytes &key, const Bytes &iv, const Bytes &aad, const Bytes &in,
                       Bytes tag) {
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size());
  int n = 0, m = 0, ivl = int(iv.size());
  OSSL_PARAM p[] = {OSSL_PARAM_construct_int(OSSL_CIPHER_PARAM_IVLEN, &ivl), OSSL_PARAM_END};
  bool ok = EVP_DecryptInit_ex2(ctx, EVP_aes_256_gcm(), nullptr, nullptr, p) == 1 &&
            EVP_DecryptInit_ex2(ctx, nullptr, key.data(), iv.data(), nullptr) == 1 &&
            EVP_DecryptUpdate(ctx, nullptr, &n, aad.data(), int(aad.size())) == 1 &&
            EVP_DecryptUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, int(tag.size()), tag.data()) == 1 &&
            EVP_DecryptFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  out.resize(ok ? size_t(n + m) : 0);
  return out;
}

Bytes host_rsa_decrypt(EVP_PKEY *k, int padding, const char *md, const Bytes &in) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr);
  size_t n = 0;
  bool ok = ctx && EVP_PKEY_decrypt_init(ctx) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
            (!md || EVP_PKEY_CTX_set_rsa_oaep_md_name(ctx, md, nullptr) == 1) &&
            EVP_PKEY_decrypt(ctx, nullptr, &n, in.data(), in.size()) == 1;
  Bytes out(ok ? n : 0);
  ok = ok && EVP_PKEY_decrypt(ctx, out.data(), &n, in.data(), in.size()) == 1;
  EVP_PKEY_CTX_free(ctx);
  out.resize(ok ? n : 0);
  return out;
}

class WrapKey : public WrapTest {
 protected:
  // A key that may wrap and unwrap (and, for plain export, encrypt and decrypt).
  uint64_t kek(const Bytes &value) {
    ObjectSeed s;
    s.attributes = {
        ObjectAttr::number(OBJ_ATTR_CLASS, 4),    ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
        ObjectAttr::flag(OBJ_ATTR_WRAP, true),    ObjectAttr::flag(OBJ_ATTR_UNWRAP, true),
        ObjectAttr::flag(OBJ_ATTR_ENCRYPT, true), ObjectAttr::flag(OBJ_ATTR_DECRYPT, true)};
    s.key = value;
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }
  uint64_t secret(const Bytes &value, bool extractable = true, Uint32 type = 31) {
    ObjectSeed s;
    s.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 4),
                    ObjectAttr::number(OBJ_ATTR_KEY_TYPE, type),
                    ObjectAttr::text(OBJ_ATTR_LABEL, "wrapped"),
                    ObjectAttr::flag(OBJ_ATTR_EXTRACTABLE, extractable)};
    s.key = value;
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }
  // The public half of a host RSA key as a wrapping key object.
  uint64_t rsa_public(EVP_PKEY *k) {
    BIGNUM *n = nullptr;
    EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_RSA_N, &n);
    Bytes mod(size_t(BN_num_bytes(n)));
    BN_bn2bin(n, mod.data());
    BN_free(n);
    ObjectSeed s;
    s.attributes = {ObjectAttr::number(OBJ_ATTR_CLASS, 2), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 0),
                    ObjectAttr::bytes(OBJ_ATTR_MODULUS, mod),
                    ObjectAttr::number(OBJ_ATTR_PUBLIC_EXPONENT, 65537),
                    ObjectAttr::flag(OBJ_ATTR_WRAP, true)};
    auto r = d().hsm().seed_object(s);
    EXPECT_EQ(0u, r.code);
    return r.handle;
  }
  // Wrap without a template prefix, encrypted output.
  Uint32 wrap(uint64_t wrapping, uint64_t key, Uint32 mech, Bytes iv, Bytes &out,
              Uint32 hash = kNoHash) {
    out.assign(1024, 0);
    Uint32 len = Uint32(out.size());
    Uint32 r = Qel2WrapKey5(session_, wrapping, key, iv.empty() ? nullptr : iv.data(), mech, hash,
                            ENCRYPTED, out.data(), &len, 1, nullptr);
    out.resize(r == 0 ? len : 0);
    return r;
  }
};

TEST_F(WrapKey, RsaPkcsMechanismTravelsAsOaepWithThePadFlag) {
  Pkey rsa(EVP_RSA_gen(2048));
  const uint64_t wrapping = rsa_public(rsa.get());
  const Bytes value = counting(32, 0x33);
  const uint64_t key = secret(value);
  Bytes out(2048);
  Uint32 len = Uint32(out.size());
  ASSERT_EQ(0u, Qel2WrapKey2(session_, wrapping, key, nullptr, 1, out.data(), &len));
  const Request m = sent_only(d(), KQ_WRAP_KEY2);
  ASSERT_EQ(1u, m.in.size()) << "no IV for RSA";
  const Bytes rec = m.input(0);
  ASSERT_EQ(40u, rec.size());
  EXPECT_EQ(0u, be32(rec, 8));
  EXPECT_EQ(session_ & 0x3FFFFFFFu, be32(rec, 12));
  EXPECT_EQ(0x000020FFu, be32(rec, 16));
  EXPECT_EQ(9u, be32(rec, 20));
  EXPECT_EQ(wrapping, be64(rec, 24));
  EXPECT_EQ(key, be64(rec, 32));
  EXPECT_EQ(key, m.key_handle);
  // The prefix, then the key sealed with PKCS#1 v1.5 in the rest of the buffer.
  Uint32 t_len = 0;
  std::memcpy(&t_len, out.data() + 4, 4);
  EXPECT_EQ(40u, m.dlen);
  EXPECT_EQ(20u + 2048u - (t_len + 8), m.rlen);
  ASSERT_EQ(len, t_len + 8 + 256);
  EXPECT_EQ(value, host_rsa_decrypt(rsa.get(), RSA_PKCS1_PADDING, nullptr,
                                    Bytes(out.begin() + 8 + t_len, out.begin() + len)));
}

TEST_F(WrapKey, TemplatePrefixRecreatesTheKeyAttributes) {
  const Bytes kv = counting(32, 1), value = counting(16, 0x70);
  const uint64_t wrapping = kek(kv), key = secret(value);
  Uint32 t_len = 0, count = 0;
  Uint8 *t = GetTemplate(session_, key, &t_len, &count);
  ASSERT_TRUE(t);
  const Bytes tmpl(t, t + t_len);
  free(t);
  Bytes out(t_len + 8 + 24);
  // A capacity that leaves no room after the prefix, and a size query, are refused.
  Uint32 len = t_len + 8;
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), Qel2WrapKey(session_, wrapping, key, out.data(), &len));
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT), Qel2WrapKey(session_, wrapping, key, nullptr, &len));
  // The HSM's short-buffer answer counts the prefix.
  len = t_len + 8 + 10;
  EXPECT_EQ(Uint32(RET_RESULT_SIZE), Qel2WrapKey(session_, wrapping, key, out.data(), &len));
  EXPECT_EQ(t_len + 8 + 24, len);
  ASSERT_EQ(0u, Qel2WrapKey(session_, wrapping, key, out.data(), &len));
  ASSERT_EQ(t_len + 8 + 24, len);
  Uint32 got_count = 0, got_len = 0;
  std::memcpy(&got_count, out.data(), 4);
  std::memcpy(&got_len, out.data() + 4, 4);
  EXPECT_EQ(count, got_count);
  EXPECT_EQ(t_len, got_len);
  EXPECT_EQ(tmpl, Bytes(out.begin() + 8, out.begin() + 8 + t_len));
  EXPECT_EQ(value, host_wrap(kv, true, false, Bytes(out.begin() + 8 + t_len, out.end())));
  // Mechanism 4241 with eight zero bytes of IV.
  const Request m = sent_requests(d(), KQ_WRAP_KEY2).back();
  EXPECT_EQ(4241u, be32(m.input(0), 20));
  EXPECT_EQ(0x000000FFu, be32(m.input(0), 16));
  EXPECT_EQ(Bytes(8, 0), m.input(1));
}

TEST_F(WrapKey, EveryMechanismUnwrapsOnTheHost) {
  const Bytes kv = counting(32, 9), value = counting(24, 0xA0);
  const uint64_t wrapping = kek(kv), key = secret(value);
  Bytes out;
  // RFC 3394 with its initial value, and with a zero IV taken as given.
  ASSERT_EQ(0u, wrap(wrapping, key, 4240, Bytes(8, 0xA6), out));
  EXPECT_EQ(value, host_wrap(kv, false, false, out));
  ASSERT_EQ(0u, wrap(wrapping, key, 4240, Bytes(8, 0), out));
  EXPECT_EQ(value, host_wrap(kv, false, false, out, Bytes(8, 0)));
  // PKCS#7 to whole blocks, then RFC 3394.
  ASSERT_EQ(0u, wrap(wrapping, key, 4242, Bytes(8, 0xA6), out));
  Bytes padded = value;
  padded.insert(padded.end(), 8, 8);
  EXPECT_EQ(padded, host_wrap(kv, false, false, out));
  // AES-CBC with PKCS#7 padding.
  const Bytes iv16 = counting(16, 0x55);
  Uint32 len = 1024;
  out.assign(1024, 0);
  ASSERT_EQ(0u, Qel2WrapKey3(session_, wrapping, key, const_cast<Uint8 *>(iv16.data()), 4229,
                             ENCRYPTED, out.data(), &len));
  ASSERT_GT(len, 32u);
  EXPECT_EQ(value,
            host_cipher("AES-256-CBC", kv, iv16, Bytes(out.begin() + len - 32, out.begin() + len)));
  // RSA: OAEP with the hash named (SHA-1 when none), PKCS#1 v1.5, and RSA-AES.
  Pkey rsa(EVP_RSA_gen(2048));
  const uint64_t rsa_key = rsa_public(rsa.get());
  ASSERT_EQ(0u, wrap(rsa_key, key, 9, {}, out, 3));
  EXPECT_EQ(value, host_rsa_decrypt(rsa.get(), RSA_PKCS1_OAEP_PADDING, "SHA256", out));
  ASSERT_EQ(0u, wrap(rsa_key, key, 9, {}, out));
  EXPECT_EQ(value, host_rsa_decrypt(rsa.get(), RSA_PKCS1_OAEP_PADDING, "SHA1", out));
  ASSERT_EQ(0u, wrap(rsa_key, key, 1, {}, out));
  EXPECT_EQ(value, host_rsa_decrypt(rsa.get(), RSA_PKCS1_PADDING, nullptr, out));
  ASSERT_EQ(0u, wrap(rsa_key, key, 4180, {}, out));
  ASSERT_EQ(256u + 32u, out.size());
  const Bytes eph = host_rsa_decrypt(rsa.get(), RSA_PKCS1_OAEP_PADDING, "SHA1",
                                     Bytes(out.begin(), out.begin() + 256));
  ASSERT_EQ(32u, eph.size());
  EXPECT_EQ(value, host_wrap(eph, true, false, Bytes(out.begin() + 256, out.end())));
  // 3DES key wrap is not defined: the mechanism status.
  EXPECT_EQ(0x11Fu, wrap(wrapping, key, 310, Bytes(4, 0), out));
}

TEST_F(WrapKey, GcmReturnsTheChosenIvAndTheTag) {
  const Bytes kv = counting(32, 2), value = counting(32, 0x10);
  const uint64_t wrapping = kek(kv), key = secret(value);
  for (Uint8 tag_len : {4, 12, 16}) {
    SCOPED_TRACE(int(tag_len));
    Bytes iv(16, 0), tag(tag_len, 0), aad = counting(20), out(64);
    extendedArgs a{aad.data(), Uint32(aad.size()), iv.data(), tag.data(), 16, tag_len};
    Uint32 len = Uint32(out.size());
    ASSERT_EQ(0u, Qel2WrapWithTemplateExtended(session_, 1, ENCRYPTED, 4231, wrapping, key,
                                               out.data(), &len, &a, nullptr));
    ASSERT_EQ(32u, len);
    out.resize(len);
    EXPECT_NE(Bytes(12, 0), Bytes(iv.begin(), iv.begin() + 12)) << "the HSM chose an IV";
    EXPECT_EQ(value, host_gcm_decrypt(kv, Bytes(iv.begin(), iv.begin() + 12), aad, out, tag));
  }
  // A given IV is used as it is.
  Bytes iv = counting(16, 0x61), tag(16), out(64);
  extendedArgs a{nullptr, 0, iv.data(), tag.data(), 16, 16};
  Uint32 len = 64;
  ASSERT_EQ(0u, Qel2WrapWithTemplateExtended(session_, 1, ENCRYPTED, 4231, wrapping, key,
                                             out.data(), &len, &a, nullptr));
  EXPECT_EQ(counting(16, 0x61), iv);
  out.resize(len);
  EXPECT_EQ(value, host_gcm_decrypt(kv, Bytes(iv.begin(), iv.begin() + 12), {}, out, tag));
  const Request m = sent_requests(d(), KQ_WRAP_KEY2).back();
  EXPECT_EQ(3u, m.in.size());
  EXPECT_EQ(std::vector<uint16_t>({20, 16, 16, 64}), m.out_sizes());
  EXPECT_EQ(0u, be32(m.input(0), 16)) << "no hash byte";
}

TEST_F(WrapKey, PlainExportGivesTheKeyValue) {
  const Bytes kv = counting(32, 4), value = counting(32, 0xC0);
  const uint64_t wrapping = kek(kv), key = secret(value);
  Bytes zero(8, 0), a6(8, 0xA6), out(64);
  for (auto [mech, iv] : {std::pair{4241u, zero}, std::pair{4242u, a6}}) {
    SCOPED_TRACE(mech);
    Uint32 len = 64;
    ASSERT_EQ(0u, Qel2ExportKey(session_, iv.data(), mech, wrapping, key, out.data(), &len));
    EXPECT_EQ(value, Bytes(out.begin(), out.begin() + len));
  }
  Uint32 len = 64;
  ASSERT_EQ(0u, Qel2ExportSymmetricKey(session_, key, wrapping, out.data(), &len, 0));
  EXPECT_EQ(value, Bytes(out.begin(), out.begin() + len));
  // Another mechanism leaves the wrapped bytes.
  len = 64;
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT),
            Qel2ExportKey(session_, a6.data(), 4240, wrapping, key, out.data(), &len));
  EXPECT_EQ(40u, len);
  EXPECT_EQ(value, host_wrap(kv, false, false, Bytes(out.begin(), out.begin() + 40)));
  // A non-zero IV with 4241 never reaches the HSM.
  d().clear_captured();
  len = 64;
  EXPECT_EQ(Uint32(ERR_INVALID_INPUT),
            Qel2ExportSymmetricKey(session_, key, wrapping, out.data(), &len, 1));
  EXPECT_TRUE(sent_requests(d(), KQ_WRAP_KEY2).empty());
  // The size query without a prefix.
  len = 0;
  EXPECT_EQ(Uint32(ERR_BUFFER_TOO_SMALL),
            Qel2ExportWrapKey(session_, wrapping, key, zero.data(), 4241, ENCRYPTED, nullptr, &len,
                              1, nullptr));
  EXPECT_EQ(40u, len);
}

TEST_F(WrapKey, Refusals) {
  const Bytes kv = counting(32, 4);
  const uint64_t wrapping = kek(kv), key = secret(counting(16)),
                 locked = secret(counting(16), false), plain_aes = aes(counting(16));
  Bytes out, zero(8, 0);
  struct Case {
    const char *what;
    Uint32 status;
    uint64_t wrapping, key;
    Uint32 mech;
    Bytes iv;
  };
  const Case cases[] = {
      {"not extractable", RET_KEY_UNEXTRACTABLE, wrapping, locked, 4241, zero},
      {"fixed wrapping key is not extractable", RET_KEY_UNEXTRACTABLE, wrapping, 4, 4241, zero},
      {"wrapping key may not wrap", RET_WRAPPING_KEY_INVALID, plain_aes, key, 4241, zero},
      {"unknown key", RET_INVALID_OBJ_HANDLE, wrapping, 0x7FFFFF0, 4241, zero},
      {"AES key for RSA-OAEP", RET_WRAPPING_KEY_TYPE_INCONSISTENT, wrapping, key, 9, {}},
      {"unknown wrapping key", RET_INVALID_OBJ_HANDLE, 0x7FFFFF1, key, 4241, zero},
      {"GCM outside WrapKey5's list", ERR_INVALID_INPUT, wrapping, key, 4231, Bytes(16, 0)},
  };
  for (const auto &c : cases) {
    out.assign(256, 0);
    Uint32 len = 256;
    Bytes iv = c.iv;
    const Uint32 r = Qel2WrapKey5(session_, c.wrapping, c.key, iv.empty() ? nullptr : iv.data(),
                                  c.mech, kNoHash, ENCRYPTED, out.data(), &len, 1, nullptr);
    EXPECT_EQ(c.status, r) << c.what;
  }
  // Through the fixed wrapping key, an extractable key wraps.
  EXPECT_EQ(0u, wrap(4, key, 4241, zero, out));
}

}  // namespace

namespace {

// Neither wrap passes an incomplete cluster operation: it is their error.
TEST_F(WrapKey, ClusterIncompleteIsAnError) {
  Bytes data(24, 1), out(64, 0xEE), zero(8, 0);
  answer(KQ_NIST_AES_WRAP_UNWRAP2,
         resp(RET_CLUSTER_OPERATION_INCOMPLETE, 0, 16, 16).bytes(Bytes(16, 2)));
  Uint32 len = 64;
  EXPECT_EQ(
      Uint32(RET_CLUSTER_OPERATION_INCOMPLETE),
      Qel2AesWrapUnwrapBuffer3(session_, 4, data.data(), 24, 0, out.data(), &len, 0, nullptr));
  answer(KQ_WRAP_KEY2,
         resp(RET_CLUSTER_OPERATION_INCOMPLETE, 0, 24, 24).u32(24).bytes(Bytes(24, 3)));
  len = 64;
  EXPECT_EQ(Uint32(RET_CLUSTER_OPERATION_INCOMPLETE),
            Qel2ExportWrapKey(session_, 4, 0x20, zero.data(), 4241, ENCRYPTED, out.data(), &len, 1,
                              nullptr));
  EXPECT_EQ(64u, len) << "length untouched";
}

}  // namespace
