// Generator natives: RSA and EC key pairs, AES, 3DES and generic secret keys
// generated on the HSM, their handles handed to Java.
#include "com_ostrel_qel2_Generator.h"
#include "jniutils.h"
#include "key_args.h"
#include "qel2_keys.h"
#include "qel2_template.h"

namespace jce {
namespace {

constexpr Uint32 kPairMValue = 1;
constexpr Uint8 kSecretMValue = 1;
constexpr Uint8 kPartitionOfSession = 0;
constexpr jint kDes3KeyBits = 192;

// Generator.generateRSAKeyPair and generateECKeyPair.
class keypair_generator {
 public:
  struct values {
    Uint32 key_type;
    jint curve_id, strength, exponent;
  };

  keypair_generator(JNIEnv *env, const jint &session_handle, const values &v,
                    const jstring &public_label, const jstring &private_label,
                    const jboolean &extractable, const jboolean &persistent,
                    const jlongArray &public_key_out, const jlongArray &private_key_out)
      : session_handle(session_handle),
        v(v),
        public_label_ptr(env, public_label),
        private_label_ptr(env, private_label),
        extractable(extractable),
        persistent(persistent),
        public_key_out_ptr(env, public_key_out, flag),
        private_key_out_ptr(env, private_key_out, flag) {}

  jint call() {
    // Both handles must have somewhere to go before a key pair is made.
    if (!public_key_out_ptr.holds(1) || !private_key_out_ptr.holds(1)) return kUnusableArgument;
    if (!private_label_ptr.pin() || !public_label_ptr.pin()) return kUnusableArgument;
    const char *pub = public_label_ptr.get();
    const char *priv = private_label_ptr.get();
    Uint64 pub_handle = 0, priv_handle = 0;
    if (Uint32 r = Qel2GenerateKeyPair4(
            static_cast<Uint32>(session_handle), v.key_type, static_cast<Uint32>(v.strength),
            static_cast<Uint32>(v.exponent), static_cast<Uint32>(v.curve_id), 0, nullptr, 0,
            nullptr, nullptr, 0, nullptr, 0, kPairMValue, nullptr, 0, label_bytes(pub),
            label_length(pub), label_bytes(priv), label_length(priv), key_location(persistent),
            extractable ? 1 : 0, kPartitionOfSession, &pub_handle, &priv_handle, nullptr, nullptr))
      return static_cast<jint>(r);
    if (!put_handle(private_key_out_ptr, priv_handle) ||
        !put_handle(public_key_out_ptr, pub_handle))
      return kUnusableArgument;
    flag = kCopyBack;
    return 0;
  }

 private:
  int flag = kDiscard;
  const jint &session_handle;
  const values v;
  java_string_pin public_label_ptr;
  java_string_pin private_label_ptr;
  const jboolean &extractable;
  const jboolean &persistent;
  long_array_pin public_key_out_ptr;
  long_array_pin private_key_out_ptr;
};

// Generator.generateAESKey, generateDESKey and generateGenericSecretKey.
class generate_symmetric_key {
 public:
  generate_symmetric_key(JNIEnv *env, Uint32 key_type, const jint &session_handle,
                         const jint &key_size, const jstring &key_lable,
                         const jboolean &extractable, const jboolean &persistent,
                         const jlongArray &key_handle_out)
      : key_type(key_type),
        session_handle(session_handle),
        key_size(key_size),
        key_lable_ptr(env, key_lable),
        extractable(extractable),
        persistent(persistent),
        key_handle_out_ptr(env, key_handle_out, flag) {}

  jint call() {
    if (!key_handle_out_ptr.holds(1) || !key_lable_ptr.pin()) return kUnusableArgument;
    const char *label = key_lable_ptr.get();
    Uint64 handle = 0;
    // Bits to bytes, rounded toward zero; the SDK judges the size.
    if (Uint32 r = Qel2GenerateSymmetricKey3(static_cast<Uint32>(session_handle), key_type,
                                             static_cast<Uint32>(key_size / 8), nullptr, 0, nullptr,
                                             0, kSecretMValue, nullptr, 0, label_bytes(label),
                                             label_length(label), key_location(persistent),
                                             extractable ? 1 : 0, &handle, nullptr, nullptr))
      return static_cast<jint>(r);
    if (!put_handle(key_handle_out_ptr, handle)) return kUnusableArgument;
    flag = kCopyBack;
    return 0;
  }

 private:
  int flag = kDiscard;
  const Uint32 key_type;
  const jint &session_handle;
  const jint &key_size;
  java_string_pin key_lable_ptr;
  const jboolean &extractable;
  const jboolean &persistent;
  long_array_pin key_handle_out_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Generator_generateRSAKeyPair(
    JNIEnv *env, jclass, jint session_handle, jint strength, jint exponent, jstring publicLabel,
    jstring privateLabel, jboolean extractable, jboolean persistent, jlongArray publicKeyOut,
    jlongArray privateKeyOut) {
  return jce::guarded_call([&] {
    const jce::keypair_generator::values v{KEY_TYPE_RSA, 0, strength, exponent};
    jce::keypair_generator cmd(env, session_handle, v, publicLabel, privateLabel, extractable,
                               persistent, publicKeyOut, privateKeyOut);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Generator_generateECKeyPair(
    JNIEnv *env, jclass, jint session_handle, jint curve_id, jstring public_label,
    jstring private_label, jboolean extractable, jboolean persistent, jlongArray public_key_out,
    jlongArray private_key_out) {
  return jce::guarded_call([&] {
    const jce::keypair_generator::values v{KEY_TYPE_EC, curve_id, 0, 0};
    jce::keypair_generator cmd(env, session_handle, v, public_label, private_label, extractable,
                               persistent, public_key_out, private_key_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Generator_generateAESKey(
    JNIEnv *env, jclass, jint session_handle, jint key_size, jstring key_lable,
    jboolean extractable, jboolean persistent, jlongArray key_handle_out) {
  return jce::guarded_call([&] {
    jce::generate_symmetric_key cmd(env, KEY_TYPE_AES, session_handle, key_size, key_lable,
                                    extractable, persistent, key_handle_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Generator_generateDESKey(
    JNIEnv *env, jclass, jint session_handle, jstring key_lable, jboolean extractable,
    jboolean persistent, jlongArray key_handle_out) {
  return jce::guarded_call([&] {
    jce::generate_symmetric_key cmd(env, KEY_TYPE_DES3, session_handle, jce::kDes3KeyBits,
                                    key_lable, extractable, persistent, key_handle_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Generator_generateGenericSecretKey(
    JNIEnv *env, jclass, jint session_handle, jint key_size, jstring key_lable,
    jboolean extractable, jboolean persistent, jlongArray key_handle_out) {
  return jce::guarded_call([&] {
    jce::generate_symmetric_key cmd(env, KEY_TYPE_GENERIC_SECRET, session_handle, key_size,
                                    key_lable, extractable, persistent, key_handle_out);
    return cmd.call();
  });
}

}  // extern "C"
