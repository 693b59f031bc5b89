// Util natives that move key material out of and into the HSM: a public
// key's bytes, a key's plain value through the fixed wrapping key, a key
// wrapped under another key on the HSM, and a wrapped key unwrapped into a
// new key object.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "com_ostrel_qel2_Util.h"
#include "jniutils.h"
#include "key_args.h"
#include "qel2_errors.h"
#include "qel2_objects.h"
#include "qel2_template.h"
#include "qel2_wrap.h"

namespace jce {
namespace {

constexpr size_t kGcmIvField = 16;
// A GCM tag's length travels in one byte.
constexpr jsize kMaxTagLen = 0xFF;

// A key_out / key_out_len pair: element 0 of key_out_len is the room in
// key_out on entry and the result length on return. The SDK writes into a
// stage of that room, so Java receives exactly the result bytes, and only
// when the operation succeeded; the needed length also reaches Java when
// the SDK reports the room too small.
class key_output {
 public:
  key_output(JNIEnv *env, const jbyteArray &key_out, const jintArray &key_out_len, const int &flag)
      : key_out_ptr(env, key_out, flag), key_out_len_ptr(env, key_out_len, flag) {}

  // Checks and pins both arrays and makes the stage; false: unusable.
  bool prepare() {
    if (!key_out_len_ptr.holds(1) || !key_out_len_ptr.pin()) return false;
    capacity = key_out_len_ptr.get()[0];
    if (!capacity_fits(key_out_ptr, capacity)) return false;
    if (!key_out_ptr.pin_optional()) return false;
    length = static_cast<Uint32>(capacity);
    if (!key_out_ptr.is_null()) stage = std::make_unique<staged_output>(length);
    return !stage || stage->ok();
  }
  Uint8 *buffer() { return stage ? stage->get() : nullptr; }
  Uint32 *length_ptr() { return &length; }

  // The result (bytes only for `with_bytes`) for Java; false when the SDK
  // claims more bytes than the room it was given.
  bool deliver(bool with_bytes) {
    if (with_bytes && stage) {
      if (length > static_cast<Uint32>(capacity)) return false;
      stage->deliver(key_out_ptr.get(), length);
    }
    key_out_len_ptr.get()[0] = static_cast<jint>(length);
    return true;
  }

 private:
  byte_array_pin key_out_ptr;
  int_array_pin key_out_len_ptr;
  jint capacity = 0;
  Uint32 length = 0;
  std::unique_ptr<staged_output> stage;
};

// Util.exportPublicKey and exportKey.
class export_key {
 public:
  enum key_type { KT_PUBLIC_KEY = 1, KT_PRIVATE_OR_RAW_KEY = 2 };

  export_key(JNIEnv *env, key_type kt, const jint &session_handle, const jlong &key_handle,
             const jbyteArray &key_out, const jintArray &key_out_len, const jint &wrap_mech)
      : kt(kt),
        session_handle(session_handle),
        key_handle(key_handle),
        out(env, key_out, key_out_len, flag),
        wrap_mech(wrap_mech) {}

  jint call() {
    if (!out.prepare()) return kUnusableArgument;
    const auto session = static_cast<Uint32>(session_handle);
    const auto mech = static_cast<Uint32>(wrap_mech);
    Uint32 r = 0;
    Uint32 too_small = 0;
    if (kt == KT_PUBLIC_KEY) {
      r = Qel2ExportPublicKey(session, static_cast<Uint64>(key_handle), out.buffer(),
                              out.length_ptr());
      too_small = RET_RESULT_SIZE;
    } else {
      r = Qel2ExportKey(session, fixed_key_iv(mech), mech, kFixedWrappingKey,
                        static_cast<Uint64>(key_handle), out.buffer(), out.length_ptr());
      too_small = ERR_BUFFER_TOO_SMALL;
    }
    if (r != 0 && r != too_small) return static_cast<jint>(r);
    if (!out.deliver(r == 0)) return kUnusableArgument;
    flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  int flag = kDiscard;
  const key_type kt;
  const jint &session_handle;
  const jlong &key_handle;
  key_output out;
  const jint &wrap_mech;
};

// Util.wrapKey: wrap_key_handle wrapped under wraping_key_handle, without a
// template prefix; AES-GCM also hands back the wrap's IV and tag.
class wrapkey {
 public:
  wrapkey(JNIEnv *env, const jint &session_handle, const jlong &wraping_key_handle,
          const jlong &wrap_key_handle, const jbyteArray &key_out, const jintArray &key_out_len,
          const jint &wrap_mech, const jint &hash_type, const jbyteArray &iv, const jbyteArray &tag)
      : session_handle(session_handle),
        wraping_key_handle(wraping_key_handle),
        wrap_key_handle(wrap_key_handle),
        out(env, key_out, key_out_len, flag),
        wrap_mech(wrap_mech),
        hash_type(hash_type),
        iv_ptr(env, iv, flag),
        tag_ptr(env, tag, flag) {}

  jint call() {
    const auto mech = static_cast<Uint32>(wrap_mech);
    const bool gcm = mech == kMechAesGcm;
    if (gcm) {
      if (tag_ptr.length() > kMaxTagLen) return kUnusableArgument;
    } else if (!iv_ptr.is_null() && !iv_ptr.holds(get_key_wrap_iv_len(mech))) {
      // The SDK reads the mechanism's IV length from a given IV.
      return kUnusableArgument;
    }
    if (!out.prepare()) return kUnusableArgument;
    if (!iv_ptr.pin_optional() || !tag_ptr.pin_optional()) return kUnusableArgument;
    const Uint32 r = gcm ? wrap_gcm() : wrap_other(mech);
    if (r != 0 && r != ERR_BUFFER_TOO_SMALL) return static_cast<jint>(r);
    if (!out.deliver(r == 0)) return kUnusableArgument;
    if (gcm && r == 0) {
      if (iv_ptr.get())
        memcpy(iv_ptr.get(), iv_field, std::min<size_t>(iv_ptr.length(), kGcmIvField));
      tag->deliver(tag_ptr.get(), static_cast<size_t>(tag_ptr.length()));
    }
    flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  Uint32 wrap_gcm() {
    const auto tag_len = static_cast<size_t>(tag_ptr.length());
    tag = std::make_unique<staged_output>(tag_len);
    if (!tag->ok()) return static_cast<Uint32>(kUnusableArgument);
    extendedArgs args{};
    args.pAad = nullptr;
    args.ulAadLen = 0;
    args.pIV = iv_field;  // zero: the HSM picks the IV and returns it here
    args.pGcmTag = tag->get();
    args.IVLen = kGcmIvField;
    args.GcmTagLen = static_cast<Uint8>(tag_len);
    return Qel2WrapWithTemplateExtended(static_cast<Uint32>(session_handle), 1, ENCRYPTED,
                                        kMechAesGcm, static_cast<Uint64>(wraping_key_handle),
                                        static_cast<Uint64>(wrap_key_handle), out.buffer(),
                                        out.length_ptr(), &args, nullptr);
  }

  Uint32 wrap_other(Uint32 mech) {
    Uint8 *iv = mech == kMechRsaOaep || mech == kMechRsaAes
                    ? const_cast<Uint8 *>(kZeroIv)
                    : reinterpret_cast<Uint8 *>(iv_ptr.get());
    return Qel2WrapKey5(
        static_cast<Uint32>(session_handle), static_cast<Uint64>(wraping_key_handle),
        static_cast<Uint64>(wrap_key_handle), iv, mech, static_cast<Uint32>(hash_type), 0,
        out.buffer(), out.length_ptr(), 1, nullptr);
  }

  int flag = kDiscard;
  const jint &session_handle;
  const jlong &wraping_key_handle;
  const jlong &wrap_key_handle;
  key_output out;
  const jint &wrap_mech;
  const jint &hash_type;
  byte_array_pin iv_ptr;
  byte_array_pin tag_ptr;
  Uint8 iv_field[kGcmIvField] = {};
  std::unique_ptr<staged_output> tag;
};

// Key types that unwrap into a private key or a secret key; others: none.
Uint32 unwrap_key_class(Uint32 key_type) {
  switch (key_type) {
    case KEY_TYPE_RSA:
    case KEY_TYPE_DSA:
    case KEY_TYPE_EC:
      return OBJ_CLASS_PRIVATE_KEY;
    case KEY_TYPE_GENERIC_SECRET:
    case KEY_TYPE_RC4:
    case KEY_TYPE_DES3:
    case KEY_TYPE_AES:
      return OBJ_CLASS_SECRET_KEY;
    default:
      return 0;
  }
}

constexpr size_t kGcmIvLen = 12;
constexpr jint kMaxGcmTag = 16;

// Util.unwrapKey: the wrapped key_data unwrapped under wrapping_kh into a
// new key object described by a template the bridge builds.
class unwrapkey {
 public:
  struct values {
    Uint32 key_type;
    jlong wrapping_kh;
    jint wrap_mech, hash_type, tag_len, key_size;
  };

  unwrapkey(JNIEnv *env, const jint &session_handle, const values &v, const jbyteArray &key,
            const jstring &label, const jboolean &persistent, const jboolean &extractable,
            const jlongArray &key_out, const jbyteArray &iv)
      : session_handle(session_handle),
        v(v),
        key_ptr(env, key, flag),
        label_ptr(env, label),
        persistent(persistent),
        extractable(extractable),
        key_out_ptr(env, key_out, flag),
        iv_ptr(env, iv, flag) {}

  jint call() {
    // The new handle must have somewhere to go before the key is made.
    if (!key_out_ptr.holds(1)) return kUnusableArgument;
    if (!key_ptr.pin() || key_ptr.length() == 0 || !label_ptr.pin()) return kUnusableArgument;
    if (!iv_ptr.pin_optional()) return kUnusableArgument;
    const auto mech = static_cast<Uint32>(v.wrap_mech);
    const jsize key_len = key_ptr.length();
    if (mech == kMechAesGcm) {
      if (!iv_ptr.holds(kGcmIvLen) || v.tag_len < 0 || v.tag_len > kMaxGcmTag ||
          v.tag_len > key_len)
        return kUnusableArgument;
    } else if (!iv_ptr.is_null() && !iv_ptr.holds(get_key_wrap_iv_len(mech))) {
      return kUnusableArgument;
    }
    const Uint32 key_class = unwrap_key_class(v.key_type);
    if (key_class == 0) return static_cast<jint>(ERR_INVALID_INPUT);

    const char *label = label_ptr.get();
    const Uint8 location = key_location(persistent);
    Uint32 size = 0, count = 0;
    std::unique_ptr<Uint8, decltype(&free)> tmpl(
        SetTemplate3(static_cast<int>(static_cast<Uint32>(session_handle) >> 30),
                     TEMPLATE_MODE_UNWRAP, key_class, v.key_type, location, nullptr, 0, nullptr, 0,
                     0, nullptr, 0, label_bytes(label), label_length(label), nullptr, 0,
                     static_cast<Uint32>(v.key_size), 0, nullptr, 0, 0, 0, 0, nullptr, 0, nullptr,
                     extractable ? 1 : 0, nullptr, &size, &count),
        &free);
    if (!tmpl) return static_cast<jint>(ERR_SET_TEMPLATE);

    Uint64 handle = 0;
    const Uint32 r = mech == kMechAesGcm
                         ? unwrap_gcm(tmpl.get(), size, count, location, &handle)
                         : unwrap_other(mech, tmpl.get(), size, count, location, &handle);
    if (r != 0) return static_cast<jint>(r);
    if (!put_handle(key_out_ptr, handle)) return kUnusableArgument;
    flag = kCopyBack;
    return 0;
  }

 private:
  Uint32 unwrap_gcm(Uint8 *tmpl, Uint32 size, Uint32 count, Uint8 location, Uint64 *handle) {
    // The Java data is the wrapped key followed by its tag.
    const auto len = static_cast<Uint32>(key_ptr.length());
    const auto tag_len = static_cast<Uint32>(v.tag_len);
    auto *data = reinterpret_cast<Uint8 *>(key_ptr.get());
    Uint8 iv_field[16] = {};
    Uint8 tag[16] = {};
    memcpy(iv_field, iv_ptr.get(), kGcmIvLen);
    memcpy(tag, data + (len - tag_len), tag_len);
    extendedArgs args{};
    args.pIV = iv_field;
    args.pGcmTag = tag;
    args.IVLen = sizeof iv_field;
    args.GcmTagLen = static_cast<Uint8>(tag_len);
    return Qel2UnwrapWithTemplateExtended(static_cast<Uint32>(session_handle), ENCRYPTED,
                                          kMechAesGcm, data, len - tag_len, tmpl, size, count,
                                          static_cast<Uint64>(v.wrapping_kh), handle, nullptr,
                                          nullptr, nullptr, nullptr, location, &args, nullptr);
  }

  Uint32 unwrap_other(Uint32 mech, Uint8 *tmpl, Uint32 size, Uint32 count, Uint8 location,
                      Uint64 *handle) {
    Uint8 *iv = mech == kMechRsaOaep || mech == kMechRsaAes
                    ? const_cast<Uint8 *>(kZeroIv)
                    : reinterpret_cast<Uint8 *>(iv_ptr.get());
    return Qel2UnWrapWithTemplate2(
        static_cast<Uint32>(session_handle), reinterpret_cast<Uint8 *>(key_ptr.get()),
        static_cast<Uint32>(key_ptr.length()), static_cast<Uint64>(v.wrapping_kh), iv,
        get_key_wrap_iv_len(mech), mech, static_cast<Uint32>(v.hash_type), tmpl, size, count,
        handle, nullptr, nullptr, nullptr, location);
  }

  int flag = kDiscard;
  const jint &session_handle;
  const values v;
  byte_array_pin key_ptr;
  java_string_pin label_ptr;
  const jboolean &persistent;
  const jboolean &extractable;
  long_array_pin key_out_ptr;
  byte_array_pin iv_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_exportKey(JNIEnv *env, jclass, jint session_handle,
                                                           jlong key_handle, jbyteArray key_out,
                                                           jintArray key_out_len, jint wrap_mech) {
  return jce::guarded_call([&] {
    jce::export_key cmd(env, jce::export_key::KT_PRIVATE_OR_RAW_KEY, session_handle, key_handle,
                        key_out, key_out_len, wrap_mech);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_exportPublicKey(JNIEnv *env, jclass,
                                                                 jint session_handle,
                                                                 jlong key_handle,
                                                                 jbyteArray key_out,
                                                                 jintArray key_out_len) {
  return jce::guarded_call([&] {
    const jint no_mech = 0;
    jce::export_key cmd(env, jce::export_key::KT_PUBLIC_KEY, session_handle, key_handle, key_out,
                        key_out_len, no_mech);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_wrapKey(JNIEnv *env, jclass, jint session_handle,
                                                         jlong wraping_key_handle,
                                                         jlong wrap_key_handle, jbyteArray key_out,
                                                         jintArray key_out_len, jint wrap_mech,
                                                         jbyteArray iv, jint hash_type,
                                                         jbyteArray tag) {
  return jce::guarded_call([&] {
    jce::wrapkey cmd(env, session_handle, wraping_key_handle, wrap_key_handle, key_out, key_out_len,
                     wrap_mech, hash_type, iv, tag);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_unwrapKey(
    JNIEnv *env, jclass, jint session_handle, jint key_type, jbyteArray key_data, jstring label,
    jboolean persistent, jboolean extractable, jlongArray key_out, jlong wrapping_kh,
    jint wrap_mech, jbyteArray iv, jint hash_type, jint tag_len, jint key_size) {
  return jce::guarded_call([&] {
    const jce::unwrapkey::values v{
        static_cast<Uint32>(key_type), wrapping_kh, wrap_mech, hash_type, tag_len, key_size};
    jce::unwrapkey cmd(env, session_handle, v, key_data, label, persistent, extractable, key_out,
                       iv);
    return cmd.call();
  });
}

}  // extern "C"
