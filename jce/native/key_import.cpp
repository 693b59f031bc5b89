// ImportKey natives: key material held by Java becomes a key object on the
// HSM. Public keys are created directly; private and secret keys travel as
// plain bytes through the HSM's fixed wrapping key.
#include "com_ostrel_qel2_ImportKey.h"
#include "jniutils.h"
#include "key_args.h"
#include "qel2_keys.h"
#include "qel2_template.h"
#include "qel2_wrap.h"

namespace jce {
namespace {

// What an import method fixes besides the Java arguments.
struct import_values {
  Uint32 key_type;
  bool is_public;
  jint public_exponent, mod_len_bits, curve_id, wrap_mech;
  jboolean extractable;
};

class import_key {
 public:
  import_key(JNIEnv *env, const jint &session_handle, const import_values &v, const jbyteArray &key,
             const jstring &label, const jboolean &persistent, const jlongArray &key_out)
      : session_handle(session_handle),
        v(v),
        key_ptr(env, key, flag),
        label_ptr(env, label),
        persistent(persistent),
        key_out_ptr(env, key_out, flag) {}

  jint call() {
    // The new object's handle must have somewhere to go before it is made.
    if (!key_out_ptr.holds(1)) return kUnusableArgument;
    if (!key_ptr.pin() || key_ptr.length() == 0 || !label_ptr.pin()) return kUnusableArgument;
    Uint64 handle = 0;
    if (Uint32 r = create(&handle)) return static_cast<jint>(r);
    if (!put_handle(key_out_ptr, handle)) return kUnusableArgument;
    flag = kCopyBack;
    return 0;
  }

 private:
  Uint32 create(Uint64 *handle) {
    const auto session = static_cast<Uint32>(session_handle);
    auto *bytes = reinterpret_cast<Uint8 *>(key_ptr.get());
    const auto len = static_cast<Uint32>(key_ptr.length());
    const char *label = label_ptr.get();
    const Uint8 location = key_location(persistent);
    if (v.is_public && v.key_type == KEY_TYPE_RSA)
      return Qel2CreateRSAPublicKey(session, bytes, len, static_cast<Uint32>(v.public_exponent),
                                    nullptr, 0, label_bytes(label), label_length(label), location,
                                    handle);
    if (v.is_public && v.key_type == KEY_TYPE_EC)
      return Qel2CreatePublicKey(session, KEY_TYPE_EC, 0, 0, static_cast<Uint32>(v.curve_id), 0,
                                 nullptr, 0, nullptr, bytes, len, nullptr, 0, nullptr, 0, nullptr,
                                 0, label_bytes(label), label_length(label), location, handle);
    return Qel2ImportKey4(
        session, v.key_type, PLAIN, bytes, len, 0, static_cast<Uint32>(v.public_exponent),
        static_cast<Uint32>(v.mod_len_bits), static_cast<Uint32>(v.curve_id), nullptr, 0, nullptr,
        0, nullptr, 0, label_bytes(label), label_length(label),
        fixed_key_iv(static_cast<Uint32>(v.wrap_mech)), static_cast<Uint32>(v.wrap_mech), location,
        kFixedWrappingKey, handle, nullptr, nullptr, v.extractable ? 1 : 0);
  }

  int flag = kDiscard;
  const jint &session_handle;
  const import_values v;
  byte_array_pin key_ptr;
  java_string_pin label_ptr;
  const jboolean &persistent;
  long_array_pin key_out_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_ImportKey_importRSAPublicKey(
    JNIEnv *env, jclass, jint session_handle, jbyteArray key_data, jint public_exponent,
    jstring label, jboolean persistent, jlongArray key_out) {
  return jce::guarded_call([&] {
    const jce::import_values v{KEY_TYPE_RSA, true, public_exponent, 0, 0, 0, JNI_FALSE};
    jce::import_key cmd(env, session_handle, v, key_data, label, persistent, key_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_ImportKey_importECPublicKey(
    JNIEnv *env, jclass, jint session_handle, jbyteArray key_data, jint curve_id, jstring label,
    jboolean persistent, jlongArray key_out) {
  return jce::guarded_call([&] {
    const jce::import_values v{KEY_TYPE_EC, true, 0, 0, curve_id, 0, JNI_FALSE};
    jce::import_key cmd(env, session_handle, v, key_data, label, persistent, key_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_ImportKey_importSymmetricKey(
    JNIEnv *env, jclass, jint session_handle, jint key_type, jbyteArray key_data, jstring label,
    jboolean persistent, jboolean extractable, jlongArray key_out, jint wrap_mech) {
  return jce::guarded_call([&] {
    const jce::import_values v{
        static_cast<Uint32>(key_type), false, 0, 0, 0, wrap_mech, extractable};
    jce::import_key cmd(env, session_handle, v, key_data, label, persistent, key_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_ImportKey_importRSAPrivateKey(
    JNIEnv *env, jclass, jint session_handle, jbyteArray key_data, jstring label,
    jint public_exponent, jint mod_len_bits, jboolean persistent, jboolean extractable,
    jlongArray key_out, jint wrap_mech) {
  return jce::guarded_call([&] {
    const jce::import_values v{KEY_TYPE_RSA, false,      public_exponent, mod_len_bits, 0,
                               wrap_mech,    extractable};
    jce::import_key cmd(env, session_handle, v, key_data, label, persistent, key_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_ImportKey_importECPrivateKey(
    JNIEnv *env, jclass, jint session_handle, jbyteArray key_data, jstring label, jint curve_id,
    jboolean persistent, jboolean extractable, jlongArray key_out, jint wrap_mech) {
  return jce::guarded_call([&] {
    const jce::import_values v{KEY_TYPE_EC, false, 0, 0, curve_id, wrap_mech, extractable};
    jce::import_key cmd(env, session_handle, v, key_data, label, persistent, key_out);
    return cmd.call();
  });
}

}  // extern "C"
