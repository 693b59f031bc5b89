// Cipher and signature natives called through a stand-in JNI function table
// against the test's own stand-in daemon: what reaches the wire (the SDK
// function each selector picks, the staged GCM IV) and how every Java array
// is released. The fake JVM hands out exact-size heap copies, so a native
// that writes past a Java array is caught by the sanitizers.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "com_ostrel_qel2_Cryptography.h"
#include "com_ostrel_qel2_LoginManager.h"
#include "com_ostrel_qel2_Signatures.h"
#include "com_ostrel_qel2_Util.h"
#include "crypto_fixture.h"
#include "jce_keys.h"

namespace {

using crypto_test::Bytes;
using support::Request;
using support::sent_last;

// One Java array of the fake JVM: its contents, and how each pin ended.
struct FakeArray {
  Bytes bytes;             // byte arrays
  std::vector<jint> ints;  // int arrays
  bool is_int = false;
  int open_pins = 0;
  std::vector<jint> release_modes;
};

Bytes random_bytes(size_t n) {
  Bytes b(n);
  RAND_bytes(b.data(), static_cast<int>(n));
  return b;
}

size_t length_of(const FakeArray *a) { return a->is_int ? a->ints.size() : a->bytes.size(); }

jsize JNICALL get_length(JNIEnv *, jarray a) {
  return static_cast<jsize>(length_of(reinterpret_cast<FakeArray *>(a)));
}

// Exact-size copies, as a JVM that copies hands them out.
jbyte *JNICALL get_bytes(JNIEnv *, jbyteArray a, jboolean *) {
  auto *f = reinterpret_cast<FakeArray *>(a);
  ++f->open_pins;
  auto *copy = static_cast<jbyte *>(malloc(f->bytes.size() ? f->bytes.size() : 1));
  if (!f->bytes.empty()) memcpy(copy, f->bytes.data(), f->bytes.size());
  return copy;
}
void JNICALL release_bytes(JNIEnv *, jbyteArray a, jbyte *p, jint mode) {
  auto *f = reinterpret_cast<FakeArray *>(a);
  if (mode != JNI_ABORT && !f->bytes.empty()) memcpy(f->bytes.data(), p, f->bytes.size());
  if (mode != JNI_COMMIT) {
    free(p);
    --f->open_pins;
  }
  f->release_modes.push_back(mode);
}
jint *JNICALL get_ints(JNIEnv *, jintArray a, jboolean *) {
  auto *f = reinterpret_cast<FakeArray *>(a);
  ++f->open_pins;
  auto *copy = static_cast<jint *>(malloc(f->ints.size() ? f->ints.size() * sizeof(jint) : 1));
  if (!f->ints.empty()) memcpy(copy, f->ints.data(), f->ints.size() * sizeof(jint));
  return copy;
}
void JNICALL release_ints(JNIEnv *, jintArray a, jint *p, jint mode) {
  auto *f = reinterpret_cast<FakeArray *>(a);
  if (mode != JNI_ABORT && !f->ints.empty())
    memcpy(f->ints.data(), p, f->ints.size() * sizeof(jint));
  if (mode != JNI_COMMIT) {
    free(p);
    --f->open_pins;
  }
  f->release_modes.push_back(mode);
}
jboolean JNICALL no_exception(JNIEnv *) { return JNI_FALSE; }

class Natives : public crypto_test::CryptoTest {
 protected:
  void SetUp() override {
    crypto_test::CryptoTest::SetUp();
    table_.GetArrayLength = get_length;
    table_.GetByteArrayElements = get_bytes;
    table_.ReleaseByteArrayElements = release_bytes;
    table_.GetIntArrayElements = get_ints;
    table_.ReleaseIntArrayElements = release_ints;
    table_.ExceptionCheck = no_exception;
    env_.functions = &table_;
    jce_keys::seed_and_export(d(), hsmsim::defaults::kUserName);
    rsa_priv_ = handle("QEL2_JNI_RSA_PRIV");
    rsa_pub_ = handle("QEL2_JNI_RSA_PUB");
    aes_ = handle("QEL2_JNI_AES");
    d().clear_captured();
  }

  static uint64_t handle(const char *var) { return std::strtoull(getenv(var), nullptr, 10); }

  jbyteArray bytes(Bytes b) {
    arrays_.push_back(std::make_unique<FakeArray>());
    arrays_.back()->bytes = std::move(b);
    return reinterpret_cast<jbyteArray>(arrays_.back().get());
  }
  jintArray ints(std::vector<jint> v) {
    arrays_.push_back(std::make_unique<FakeArray>());
    arrays_.back()->ints = std::move(v);
    arrays_.back()->is_int = true;
    return reinterpret_cast<jintArray>(arrays_.back().get());
  }
  static FakeArray &of(jarray a) { return *reinterpret_cast<FakeArray *>(a); }
  // Forgets how earlier calls released the array.
  static void reuse(jarray a) { of(a).release_modes.clear(); }

  // Every pin of the array ended with this one release mode.
  static void released_with(jarray a, jint mode, const char *what) {
    const FakeArray &f = of(a);
    EXPECT_EQ(0, f.open_pins) << what;
    for (jint m : f.release_modes) EXPECT_EQ(mode, m) << what;
  }

  // The opcode word the SDK sends for a call made directly.
  template <class Call>
  uint16_t opcode_of(Call call) {
    d().clear_captured();
    call();
    const uint16_t op = sent_last(d()).opcode;
    d().clear_captured();
    return op;
  }

  JNINativeInterface_ table_{};
  JNIEnv env_{};
  std::vector<std::unique_ptr<FakeArray>> arrays_;
  uint64_t rsa_priv_ = 0, rsa_pub_ = 0, aes_ = 0;
};

TEST_F(Natives, GcmStagesAJavaIvOfTwelveBytesIntoTheSixteenByteField) {
  const Bytes iv12 = random_bytes(12);
  jbyteArray input = bytes(random_bytes(40)), output = bytes(Bytes(40)),
             aad = bytes(random_bytes(9));
  jbyteArray tag = bytes(Bytes(16)), iv = bytes(iv12);
  ASSERT_EQ(0, Java_com_ostrel_qel2_Cryptography_processAESGCM(&env_, nullptr, jint(session_), 1,
                                                               input, output, nullptr, aad, nullptr,
                                                               tag, iv, jlong(aes_)));
  const Request w = sent_last(d());
  ASSERT_GE(w.in.size(), 2u);
  Bytes field = iv12;
  field.resize(16, 0);
  EXPECT_EQ(field, w.input(1)) << "the IV field: Java's 12 bytes, zero-padded";
  EXPECT_EQ(iv12, of(iv).bytes) << "the HSM's counter block does not spill into Java's IV";
  released_with(input, JNI_ABORT, "input");
  released_with(aad, JNI_ABORT, "aad");
  released_with(output, 0, "output");
  released_with(tag, 0, "tag");
  released_with(iv, 0, "iv");

  // A decryption that fails its tag writes nothing back anywhere.
  jbyteArray bad_tag = bytes(Bytes(16, 0x33)), out2 = bytes(Bytes(40, 0x77));
  reuse(iv);
  EXPECT_NE(0, Java_com_ostrel_qel2_Cryptography_processAESGCM(&env_, nullptr, jint(session_), 2,
                                                               output, out2, nullptr, aad, bad_tag,
                                                               nullptr, iv, jlong(aes_)));
  EXPECT_EQ(Bytes(40, 0x77), of(out2).bytes);
  released_with(out2, JNI_ABORT, "failed output");
  released_with(iv, JNI_ABORT, "iv of a decryption");
}

TEST_F(Natives, EachRsaSelectorPicksItsSdkFunction) {
  Bytes msg = random_bytes(40), block(256);
  Uint16 len = 0;
  const uint16_t crt_enc = opcode_of([&] {
    Qel2Pkcs1v15CrtEnc(session_, OSTREL_BLOCKING, rsa_priv_, BT1, 256, 40, msg.data(), block.data(),
                       nullptr);
  });
  const uint16_t plain_enc = opcode_of([&] {
    Qel2Pkcs1v15Enc(session_, OSTREL_BLOCKING, rsa_pub_, BT2, 256, 40, msg.data(), block.data(),
                    nullptr);
  });
  const uint16_t plain_dec = opcode_of([&] {
    Qel2Pkcs1v15Dec(session_, OSTREL_BLOCKING, rsa_pub_, BT1, 256, block.data(), msg.data(), 0,
                    &len, nullptr);
  });
  const uint16_t crt_dec = opcode_of([&] {
    Qel2Pkcs1v15CrtDec(session_, OSTREL_BLOCKING, rsa_priv_, BT2, 256, block.data(), msg.data(), 0,
                       &len, nullptr);
  });
  ASSERT_EQ(4u, std::set<uint16_t>({crt_enc, plain_enc, plain_dec, crt_dec}).size());

  jbyteArray plain = bytes(random_bytes(40)), ct = bytes(Bytes(256));
  // Block type 0 (private-key padding) encrypts with the CRT form.
  ASSERT_EQ(0, Java_com_ostrel_qel2_Cryptography_pkcs1v15Enc(&env_, nullptr, jint(session_),
                                                             jlong(rsa_priv_), 256, 0, plain, ct));
  EXPECT_EQ(crt_enc, sent_last(d()).opcode);
  released_with(plain, JNI_ABORT, "plaintext");
  released_with(ct, 0, "ciphertext");
  jbyteArray pt = bytes(Bytes(256));
  jintArray lens = ints({-1});
  reuse(ct);
  ASSERT_EQ(0, Java_com_ostrel_qel2_Cryptography_pkcs1v15Dec(
                   &env_, nullptr, jint(session_), jlong(rsa_pub_), 256, 0, ct, pt, lens));
  EXPECT_EQ(plain_dec, sent_last(d()).opcode);
  EXPECT_EQ(40, of(lens).ints[0]);
  EXPECT_EQ(of(plain).bytes, Bytes(of(pt).bytes.begin(), of(pt).bytes.begin() + 40));
  released_with(ct, JNI_ABORT, "ciphertext as input");
  // Block type 1 (public-key padding) the other way round.
  jbyteArray ct2 = bytes(Bytes(256));
  ASSERT_EQ(0, Java_com_ostrel_qel2_Cryptography_pkcs1v15Enc(&env_, nullptr, jint(session_),
                                                             jlong(rsa_pub_), 256, 1, plain, ct2));
  EXPECT_EQ(plain_enc, sent_last(d()).opcode);
  ASSERT_EQ(0, Java_com_ostrel_qel2_Cryptography_pkcs1v15Dec(
                   &env_, nullptr, jint(session_), jlong(rsa_priv_), 256, 1, ct2, pt, lens));
  EXPECT_EQ(crt_dec, sent_last(d()).opcode);
  EXPECT_EQ(40, of(lens).ints[0]);
}

TEST_F(Natives, PssSignsWithTheCrtFormAndVerifiesWithThePlainOne) {
  Bytes a(256, 1), r(256);
  const uint16_t crt = opcode_of([&] {
    Qel2ModExpWithKeyOnHSM(session_, OSTREL_BLOCKING, rsa_priv_, true, 256, a.data(), 256, r.data(),
                           nullptr);
  });
  const uint16_t plain = opcode_of([&] {
    Qel2ModExpWithKeyOnHSM(session_, OSTREL_BLOCKING, rsa_pub_, false, 256, a.data(), 256, r.data(),
                           nullptr);
  });
  ASSERT_NE(crt, plain);

  jbyteArray hash = bytes(random_bytes(32)), sig = bytes(Bytes(256));
  ASSERT_EQ(0,
            Java_com_ostrel_qel2_Signatures_rsaSignPSS(
                &env_, nullptr, jint(session_), jlong(rsa_priv_), SHA256_TYPE, 256, hash, sig, 32));
  EXPECT_EQ(crt, sent_last(d()).opcode);
  released_with(hash, JNI_ABORT, "hash");
  released_with(sig, 0, "signature");

  const Bytes signature = of(sig).bytes;
  reuse(sig);
  reuse(hash);
  jbyteArray work = bytes(Bytes(256, 0x44));
  ASSERT_EQ(0, Java_com_ostrel_qel2_Signatures_rsaVerifyPSS(&env_, nullptr, jint(session_),
                                                            jlong(rsa_pub_), SHA256_TYPE, 256, hash,
                                                            sig, work, 32, 256));
  EXPECT_EQ(plain, sent_last(d()).opcode);
  EXPECT_EQ(Bytes(256, 0x44), of(work).bytes) << "the recovered block stays native";
  EXPECT_EQ(signature, of(sig).bytes);
  released_with(sig, JNI_ABORT, "signature as input");
  released_with(work, JNI_ABORT, "work array");
}

TEST_F(Natives, RsaSignReleasesTheMessageUnwrittenAndTheResultsWritten) {
  jbyteArray msg = bytes(random_bytes(100)), out = bytes(Bytes(256));
  jintArray len = ints({0});
  ASSERT_EQ(0, Java_com_ostrel_qel2_Signatures_rsaSign(&env_, nullptr, jint(session_), 64, msg,
                                                       jlong(rsa_priv_), out, len));
  EXPECT_EQ(256, of(len).ints[0]);
  released_with(msg, JNI_ABORT, "message");
  released_with(out, 0, "signature");
  released_with(len, 0, "length");
  reuse(out);
  ASSERT_EQ(0, Java_com_ostrel_qel2_Signatures_rsaVerify(&env_, nullptr, jint(session_), 64, msg,
                                                         out, jlong(rsa_pub_)));
  released_with(out, JNI_ABORT, "signature as input");
}

// P-521: coordinates, r and s of 66 bytes, which the requests round to 72.
// Exact-size Java arrays receive exactly the meaningful bytes.
TEST_F(Natives, P521ValuesFillTheirJavaArraysExactly) {
  EVP_PKEY *k = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-521");
  ASSERT_NE(nullptr, k);
  Bytes point(133);
  size_t plen = 0;
  ASSERT_EQ(1, EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                               point.size(), &plen));
  BIGNUM *priv = nullptr;
  ASSERT_EQ(1, EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY, &priv));
  Bytes scalar(66);
  BN_bn2binpad(priv, scalar.data(), 66);
  BN_clear_free(priv);
  hsmsim::ObjectSeed s;
  s.attributes = {hsmsim::ObjectAttr::number(OBJ_ATTR_CLASS, 3),
                  hsmsim::ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 3),
                  hsmsim::ObjectAttr::number(OBJ_ATTR_MODULUS_BITS, NID_secp521r1)};
  s.key = scalar;
  s.public_data = point;
  const auto seeded = d().hsm().seed_object(s);
  ASSERT_EQ(0u, seeded.code);
  const jlong key = jlong(seeded.handle);
  const Bytes qx(point.begin() + 1, point.begin() + 67), qy(point.begin() + 67, point.end());

  jbyteArray x = bytes(Bytes(66)), y = bytes(Bytes(66));
  ASSERT_EQ(0, Java_com_ostrel_qel2_Util_getECPublicPoint(&env_, nullptr, jint(session_), key, P521,
                                                          x, y));
  EXPECT_EQ(qx, of(x).bytes);
  EXPECT_EQ(qy, of(y).bytes);

  // ECDSA over a SHA-512 hash with a k below the order; OpenSSL checks it.
  const Bytes hash = random_bytes(64);
  Bytes nonce = random_bytes(66);
  nonce[0] = 0;
  jbyteArray r = bytes(Bytes(66)), sv = bytes(Bytes(66));
  ASSERT_EQ(0, Java_com_ostrel_qel2_Signatures_ecdsaSign(&env_, nullptr, jint(session_), key, P521,
                                                         bytes(hash), bytes(nonce), r, sv));
  ECDSA_SIG *sig = ECDSA_SIG_new();
  ECDSA_SIG_set0(sig, BN_bin2bn(of(r).bytes.data(), 66, nullptr),
                 BN_bin2bn(of(sv).bytes.data(), 66, nullptr));
  unsigned char *der = nullptr;
  const int der_len = i2d_ECDSA_SIG(sig, &der);
  ECDSA_SIG_free(sig);
  EVP_PKEY_CTX *vc = EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr);
  ASSERT_EQ(1, EVP_PKEY_verify_init(vc));
  EXPECT_EQ(1, EVP_PKEY_verify(vc, der, size_t(der_len), hash.data(), hash.size()));
  EVP_PKEY_CTX_free(vc);
  OPENSSL_free(der);
  EXPECT_EQ(0, Java_com_ostrel_qel2_Signatures_ecdsaVerify(&env_, nullptr, jint(session_), key,
                                                           P521, bytes(hash), r, sv));

  // ECDH with a peer made here: the x coordinate is OpenSSL's shared secret.
  EVP_PKEY *peer = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-521");
  Bytes peer_point(133);
  ASSERT_EQ(1, EVP_PKEY_get_octet_string_param(peer, OSSL_PKEY_PARAM_PUB_KEY, peer_point.data(),
                                               peer_point.size(), &plen));
  EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_secp521r1);
  BIGNUM *p = BN_new();
  EC_GROUP_get_curve(g, p, nullptr, nullptr, nullptr);
  Bytes prime(66);
  BN_bn2binpad(p, prime.data(), 66);
  BN_free(p);
  EC_GROUP_free(g);
  jbyteArray sx = bytes(Bytes(66)), sy = bytes(Bytes(66));
  ASSERT_EQ(0, Java_com_ostrel_qel2_Cryptography_ecdhAgreement(
                   &env_, nullptr, jint(session_), P521, bytes(prime),
                   bytes(Bytes(peer_point.begin() + 1, peer_point.begin() + 67)),
                   bytes(Bytes(peer_point.begin() + 67, peer_point.end())), key, sx, sy));
  EVP_PKEY_CTX *dc = EVP_PKEY_CTX_new_from_pkey(nullptr, peer, nullptr);
  ASSERT_EQ(1, EVP_PKEY_derive_init(dc));
  ASSERT_EQ(1, EVP_PKEY_derive_set_peer(dc, k));
  size_t secret_len = 66;
  Bytes secret(secret_len);
  ASSERT_EQ(1, EVP_PKEY_derive(dc, secret.data(), &secret_len));
  EVP_PKEY_CTX_free(dc);
  EXPECT_EQ(secret, of(sx).bytes);
  EVP_PKEY_free(peer);
  EVP_PKEY_free(k);
}

TEST_F(Natives, Sha256ReleasesItsInputWithoutCopyingBack) {
  const Bytes msg = random_bytes(33);
  jbyteArray input = bytes(msg), output = bytes(Bytes(32));
  ASSERT_EQ(0, Java_com_ostrel_qel2_LoginManager_getSHA256Hash(&env_, nullptr, input, output));
  Bytes want(32);
  unsigned int n = 0;
  ASSERT_EQ(1, EVP_Digest(msg.data(), msg.size(), want.data(), &n, EVP_sha256(), nullptr));
  EXPECT_EQ(want, of(output).bytes);
  released_with(input, JNI_ABORT, "input");
  released_with(output, 0, "output");
}

}  // namespace
