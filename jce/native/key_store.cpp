// Util natives of the key store: finding keys by label or attributes,
// reading a key's attributes, deleting and persisting keys, the partition's
// key count and FIPS state, status texts, the process environment.
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <new>

#include "com_ostrel_qel2_Util.h"
#include "common/be_codec.h"
#include "jniutils.h"
#include "key_args.h"
#include "qel2_errors.h"
#include "qel2_objects.h"
#include "qel2_records.h"
#include "qel2_sdk.h"
#include "qel2_template.h"

namespace jce {
namespace {

constexpr Uint8 kAnyLocation = 255;
constexpr Uint8 kPartitionFipsStateOff = 0xFF;
// The handles a search can return at once: 24 + 8 per handle must fit the
// 16-bit response length.
constexpr Uint32 kMaxFetch = (0xFFFFu - 24u) / 8u;
// The head of the all-attributes answer, counted in the length the SDK states.
constexpr Uint32 kAnswerHead = 20;

bool ok_or_more(Uint32 status) { return status == 0 || status == RET_RESULT_SIZE; }

// Util.setenv: set (or replace) one variable of the process environment.
class setenv_impl {
 public:
  setenv_impl(JNIEnv *env, const jstring &name, const jstring &value)
      : name_ptr(env, name), value_ptr(env, value) {}

  jint call() {
    if (!name_ptr.pin() || !value_ptr.pin()) return kUnusableArgument;
    return ::setenv(name_ptr.get(), value_ptr.get(), 1);
  }

 private:
  java_string_pin name_ptr;
  java_string_pin value_ptr;
};

// Util.findKey: the first key whose label (sent with its NUL) matches.
class find_key {
 public:
  find_key(JNIEnv *env, const jint &session_handle, const jstring &label,
           const jlongArray &handle_out)
      : session_handle(session_handle),
        label_ptr(env, label),
        handle_out(handle_out),
        handle_out_ptr(env, this->handle_out, flag) {}

  jint call() {
    if (!handle_out_ptr.holds(1) || !label_ptr.pin()) return kUnusableArgument;
    const char *label = label_ptr.get();
    const size_t len = strlen(label) + 1;
    if (!fits_u32(len)) return kUnusableArgument;

    Uint32 count = 0;
    Uint32 r = search(label, static_cast<Uint32>(len), nullptr, &count);
    if (!ok_or_more(r) || count == 0) return static_cast<jint>(r);

    // Only the first handle is used, so more matches than one fetch can
    // carry are fine: the HSM's "more follow" answer counts as found.
    count = std::min(count, kMaxFetch);
    std::unique_ptr<Uint64[]> handles(new (std::nothrow) Uint64[count]());
    if (!handles) return kUnusableArgument;
    r = search(label, static_cast<Uint32>(len), handles.get(), &count);
    if (!ok_or_more(r)) return static_cast<jint>(r);
    if (count == 0) return kUnusableArgument;
    if (!put_handle(handle_out_ptr, handles[0])) return kUnusableArgument;
    flag = kCopyBack;
    return 0;
  }

 private:
  Uint32 search(const char *label, Uint32 len, Uint64 *keys, Uint32 *count) {
    return Qel2FindKeyFromIndexAsCount2(static_cast<Uint32>(session_handle), 0, 0, OBJ_CLASS_ANY,
                                        KEY_TYPE_ANY, kAnyLocation, nullptr, 0, nullptr, 0, nullptr,
                                        0, reinterpret_cast<const Uint8 *>(label), len, nullptr, 0,
                                        keys, count, nullptr);
  }

  int flag = kDiscard;
  const jint &session_handle;
  java_string_pin label_ptr;
  const jlongArray handle_out;
  long_array_pin handle_out_ptr;
};

// The search arguments that Java passes by value.
struct search_values {
  jint partition, next_index, key_class, key_type;
  jbyte store_loc;
};

// Util.searchKeyStore and searchKeyStore2: one page of handles by
// attributes; element 0 of num_keys is the room in keys_found on entry and
// the number of handles on return. With a key check value (kcv given as an
// argument, possibly null) the second search form is used.
class search_key_store {
 public:
  search_key_store(JNIEnv *env, const jint &session_handle, const search_values &v,
                   const jbyteArray &key_id, const jbyteArray &label, const jbyteArray &modulus,
                   const jbyteArray *kcv, const jlongArray &keys_found, const jintArray &num_keys)
      : session_handle(session_handle),
        v(v),
        key_id_ptr(env, key_id, flag),
        label_ptr(env, label, flag),
        modulus_ptr(env, modulus, flag),
        with_kcv(kcv != nullptr),
        kcv_ptr(env, kcv ? *kcv : no_kcv, flag),
        keys_found_ptr(env, keys_found, flag),
        num_keys_ptr(env, num_keys, flag) {}

  jint call() {
    if (!num_keys_ptr.holds(1) || !num_keys_ptr.pin()) return kUnusableArgument;
    const jint room = num_keys_ptr.get()[0];
    // The SDK writes as many handles as element 0 says (at most one fetch).
    if (room < 0) return kUnusableArgument;
    if (!keys_found_ptr.is_null() &&
        !keys_found_ptr.holds(std::min(static_cast<Uint32>(room), kMaxFetch)))
      return kUnusableArgument;
    if (!key_id_ptr.pin_optional() || !label_ptr.pin_optional() || !modulus_ptr.pin_optional() ||
        !kcv_ptr.pin_optional() || !keys_found_ptr.pin_optional())
      return kUnusableArgument;

    Uint32 count = static_cast<Uint32>(room);
    auto *keys = reinterpret_cast<Uint64 *>(keys_found_ptr.get());
    const Uint32 r =
        with_kcv ? Qel2FindKeyFromIndexAsCount3(
                       static_cast<Uint32>(session_handle), static_cast<Uint32>(v.partition),
                       static_cast<Uint32>(v.next_index), static_cast<Uint32>(v.key_class),
                       static_cast<Uint32>(v.key_type), static_cast<Uint8>(v.store_loc), nullptr, 0,
                       nullptr, 0, bytes(key_id_ptr), len(key_id_ptr), bytes(label_ptr),
                       len(label_ptr), bytes(modulus_ptr), len(modulus_ptr), bytes(kcv_ptr),
                       len(kcv_ptr), keys, &count, nullptr, nullptr)
                 : Qel2FindKeyFromIndexAsCount2(
                       static_cast<Uint32>(session_handle), static_cast<Uint32>(v.partition),
                       static_cast<Uint32>(v.next_index), static_cast<Uint32>(v.key_class),
                       static_cast<Uint32>(v.key_type), static_cast<Uint8>(v.store_loc), nullptr, 0,
                       nullptr, 0, bytes(key_id_ptr), len(key_id_ptr), bytes(label_ptr),
                       len(label_ptr), bytes(modulus_ptr), len(modulus_ptr), keys, &count, nullptr);
    if (!ok_or_more(r)) return static_cast<jint>(r);
    num_keys_ptr.get()[0] = static_cast<jint>(count);
    flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  static const Uint8 *bytes(const byte_array_pin &p) {
    return reinterpret_cast<const Uint8 *>(p.get());
  }
  static Uint32 len(const byte_array_pin &p) { return static_cast<Uint32>(p.length()); }

  int flag = kDiscard;
  const jint &session_handle;
  const search_values v;
  byte_array_pin key_id_ptr;
  byte_array_pin label_ptr;
  byte_array_pin modulus_ptr;
  const bool with_kcv;
  const jbyteArray no_kcv = nullptr;
  byte_array_pin kcv_ptr;
  long_array_pin keys_found_ptr;
  int_array_pin num_keys_ptr;
};

// Util.getKeyAttributes: the key's attribute data, or with no buffer its
// length (183).
class get_key_attributes {
 public:
  get_key_attributes(JNIEnv *env, const jint &session_handle, const jlong &key_handle,
                     const jbyteArray &attributes_out, const jintArray &attributes_len_out)
      : session_handle(session_handle),
        key_handle(key_handle),
        attributes_out_ptr(env, attributes_out, flag),
        attributes_len_out_ptr(env, attributes_len_out, flag) {}

  jint call() {
    if (!attributes_len_out_ptr.holds(1) || !attributes_len_out_ptr.pin()) return kUnusableArgument;
    const jint capacity = attributes_len_out_ptr.get()[0];
    if (!capacity_fits(attributes_out_ptr, capacity)) return kUnusableArgument;
    const bool query = attributes_out_ptr.is_null();
    if (!query && !attributes_out_ptr.pin()) return kUnusableArgument;

    // A size query stages nothing, whatever room element 0 states.
    staged_output stage(query ? 0 : static_cast<size_t>(capacity));
    if (!query && !stage.ok()) return kUnusableArgument;
    Uint32 length = static_cast<Uint32>(capacity);
    const Uint32 r =
        Qel2GetAllAttributes2(static_cast<Uint32>(session_handle), static_cast<Uint64>(key_handle),
                              query ? nullptr : stage.get(), &length, nullptr, nullptr, nullptr);
    if (query ? r != RET_RESULT_SIZE : r != 0) return static_cast<jint>(r);
    // The stated length counts the answer's head beside the attribute data;
    // only the data is Java's.
    if (!query)
      stage.deliver(attributes_out_ptr.get(), length > kAnswerHead ? length - kAnswerHead : 0);
    attributes_len_out_ptr.get()[0] = static_cast<jint>(length);
    flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  int flag = kDiscard;
  const jint &session_handle;
  const jlong &key_handle;
  byte_array_pin attributes_out_ptr;
  int_array_pin attributes_len_out_ptr;
};

// Util.getKeyCount and getFipsState: one number from the partition's
// information.
class partition_number {
 public:
  enum class what { key_count, fips_state };

  partition_number(JNIEnv *env, what w, const jint &session_id, const jstring &partition_name,
                   const jintArray &out)
      : w(w),
        session_id(session_id),
        partition_name_ptr(env, partition_name),
        out_ptr(env, out, flag) {}

  jint call() {
    if (!out_ptr.holds(1) || !partition_name_ptr.pin() || !out_ptr.pin()) return kUnusableArgument;
    const char *name = partition_name_ptr.get();
    PartitionInfo info;
    if (Uint32 r =
            Qel2GetPartitionInfo(static_cast<Uint32>(session_id),
                                 reinterpret_cast<const Uint8 *>(name), label_length(name), &info))
      return static_cast<jint>(r);
    jint value = info.FipsState;
    if (w == what::key_count) {
      if (info.FipsState == kPartitionFipsStateOff) return kUnusableArgument;
      value = static_cast<jint>(qel2::from_be32(info.OccupiedTokenKeys) +
                                qel2::from_be32(info.OccupiedSessionKeys));
    }
    out_ptr.get()[0] = value;
    flag = kCopyBack;
    return 0;
  }

 private:
  int flag = kDiscard;
  const what w;
  const jint &session_id;
  java_string_pin partition_name_ptr;
  int_array_pin out_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jstring JNICALL Java_com_ostrel_qel2_Util_getQelErrorText(JNIEnv *env, jclass,
                                                                    jint code) {
  try {
    const Uint8 *text = Qel2ResultAsString(static_cast<Uint32>(code));
    jstring s = env->NewStringUTF(reinterpret_cast<const char *>(text));
    if (!s && env->ExceptionCheck()) env->ExceptionClear();
    return s;
  } catch (...) {
    return nullptr;
  }
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_setenv(JNIEnv *env, jclass, jstring name,
                                                        jstring value) {
  return jce::guarded_call([&] {
    jce::setenv_impl cmd(env, name, value);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_findKey(JNIEnv *env, jclass, jint session_handle,
                                                         jstring label, jlongArray handle_out) {
  return jce::guarded_call([&] {
    jce::find_key cmd(env, session_handle, label, handle_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_searchKeyStore(
    JNIEnv *env, jclass, jint session_handle, jint partition, jint nextIndex, jint key_class,
    jint key_type, jbyte store_loc, jbyteArray key_id, jbyteArray label, jbyteArray modulus,
    jlongArray keys_found, jintArray num_keys) {
  return jce::guarded_call([&] {
    const jce::search_values v{partition, nextIndex, key_class, key_type, store_loc};
    jce::search_key_store cmd(env, session_handle, v, key_id, label, modulus, nullptr, keys_found,
                              num_keys);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_searchKeyStore2(
    JNIEnv *env, jclass, jint session_handle, jint partition, jint nextIndex, jint key_class,
    jint key_type, jbyte store_loc, jbyteArray key_id, jbyteArray label, jbyteArray modulus,
    jbyteArray kcv, jlongArray keys_found, jintArray num_keys) {
  return jce::guarded_call([&] {
    const jce::search_values v{partition, nextIndex, key_class, key_type, store_loc};
    jce::search_key_store cmd(env, session_handle, v, key_id, label, modulus, &kcv, keys_found,
                              num_keys);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_getKeyAttributes(JNIEnv *env, jclass,
                                                                  jint session_handle,
                                                                  jlong key_handle,
                                                                  jbyteArray attributes_out,
                                                                  jintArray attributes_len_out) {
  return jce::guarded_call([&] {
    jce::get_key_attributes cmd(env, session_handle, key_handle, attributes_out,
                                attributes_len_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_deleteKey(JNIEnv *, jclass, jint session_handle,
                                                           jlong key_handle) {
  return jce::guarded_call([&] {
    return static_cast<jint>(
        Qel2DeleteKey(static_cast<Uint32>(session_handle), static_cast<Uint64>(key_handle)));
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_persistKey(JNIEnv *, jclass, jint session_handle,
                                                            jlong key_handle) {
  return jce::guarded_call([&] {
    Uint8 token[] = {'1', '\0'};
    return static_cast<jint>(Qel2SetAttribute(static_cast<Uint32>(session_handle),
                                              static_cast<Uint64>(key_handle), OBJ_ATTR_TOKEN,
                                              token, sizeof token));
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_getKeyCount(JNIEnv *env, jclass, jint sessionId,
                                                             jstring partition_name,
                                                             jintArray key_count_out) {
  return jce::guarded_call([&] {
    jce::partition_number cmd(env, jce::partition_number::what::key_count, sessionId,
                              partition_name, key_count_out);
    return cmd.call();
  });
}

JNIEXPORT jboolean JNICALL Java_com_ostrel_qel2_Util_isClientMode(JNIEnv *, jclass) {
  return JNI_TRUE;
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_getFipsState(JNIEnv *env, jclass, jint sessionId,
                                                              jstring partition_name,
                                                              jintArray fips_state_out) {
  return jce::guarded_call([&] {
    jce::partition_number cmd(env, jce::partition_number::what::fips_state, sessionId,
                              partition_name, fips_state_out);
    return cmd.call();
  });
}

}  // extern "C"
