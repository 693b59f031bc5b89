// The frame every native method shares: pinning of Java arrays and strings,
// their release, and the statuses the bridge gives Java for arguments it
// cannot use.
//
// A native method builds one command object from its arguments, runs its
// call(), and lets the object go. The pins below are members of the command
// objects; their destructors are the only place where anything is released,
// so every way out of a method (including a C++ exception, which
// guarded_call() turns into a status) releases exactly what was pinned.
// Outputs go back to Java only when call() set the command's flag to
// kCopyBack: a failed call leaves every Java array as it was.
#ifndef QEL2_JCE_JNIUTILS_H
#define QEL2_JCE_JNIUTILS_H

#include <jni.h>
#include <string.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace jce {

// Status for a Java argument the bridge cannot use (null, empty, too short
// for what will be written into it, too long for the SDK parameter), or an
// operation selector out of range. Given before or instead of any request.
inline constexpr jint kUnusableArgument = -1;

// Release modes of pinned arrays. Every command starts at kDiscard and moves
// to kCopyBack when its operation succeeded.
inline constexpr int kCopyBack = 0;
inline constexpr int kDiscard = JNI_ABORT;

void release_java_byte_array(JNIEnv *env, const jbyteArray &java_array, jbyte *cpointer, int flag);
void release_java_int_array(JNIEnv *env, const jintArray &java_array, jint *cpointer, int flag);
void release_java_long_array(JNIEnv *env, const jlongArray &java_array, jlong *cpointer, int flag);
void release_java_string(JNIEnv *env, const jstring &java_string, const char *cstring);

// Length of a Java array; 0 for a null reference.
jsize java_array_length(JNIEnv *env, jarray array);

// Whether a Java array exists and has room for `needed` elements.
bool java_array_holds(JNIEnv *env, jarray array, size_t needed);

// Whether a length travels whole in an SDK parameter of 16 or 32 bits.
constexpr bool fits_u16(uint64_t n) { return n <= 0xFFFFu; }
constexpr bool fits_u32(uint64_t n) { return n <= 0xFFFFFFFFu; }

namespace detail {
template <class Array>
struct array_ops;
template <>
struct array_ops<jbyteArray> {
  using element = jbyte;
  static element *get(JNIEnv *env, jbyteArray a) { return env->GetByteArrayElements(a, nullptr); }
  static void release(JNIEnv *env, const jbyteArray &a, element *p, int mode) {
    release_java_byte_array(env, a, p, mode);
  }
};
template <>
struct array_ops<jintArray> {
  using element = jint;
  static element *get(JNIEnv *env, jintArray a) { return env->GetIntArrayElements(a, nullptr); }
  static void release(JNIEnv *env, const jintArray &a, element *p, int mode) {
    release_java_int_array(env, a, p, mode);
  }
};
template <>
struct array_ops<jlongArray> {
  using element = jlong;
  static element *get(JNIEnv *env, jlongArray a) { return env->GetLongArrayElements(a, nullptr); }
  static void release(JNIEnv *env, const jlongArray &a, element *p, int mode) {
    release_java_long_array(env, a, p, mode);
  }
};

// A failed Get...Elements leaves an OutOfMemoryError pending; the bridge
// reports such an argument as unusable instead of raising anything in Java.
void clear_pending_exception(JNIEnv *env);
}  // namespace detail

// One Java array argument, pinned on demand and released with the owning
// command's release mode when the pin goes out of scope.
template <class Array>
class java_array_pin {
 public:
  using element = typename detail::array_ops<Array>::element;

  // `flag` is the owning command's release mode; it must outlive the pin
  // (declare it before the pins).
  java_array_pin(JNIEnv *env, const Array &ref, const int &flag)
      : env_(env), ref_(ref), flag_(flag) {}
  ~java_array_pin() {
    if (ptr_) detail::array_ops<Array>::release(env_, ref_, ptr_, written_ ? kCopyBack : flag_);
  }
  java_array_pin(const java_array_pin &) = delete;
  java_array_pin &operator=(const java_array_pin &) = delete;

  // Pins the elements on the first call; null for a null reference or when
  // the JVM cannot supply them.
  element *pin() {
    if (!ptr_ && ref_) {
      ptr_ = detail::array_ops<Array>::get(env_, ref_);
      if (!ptr_) detail::clear_pending_exception(env_);
    }
    return ptr_;
  }
  // An optional argument: absent is fine, one given must pin.
  bool pin_optional() { return is_null() || pin() != nullptr; }
  element *get() const { return ptr_; }
  bool is_null() const { return ref_ == nullptr; }
  jsize length() const { return java_array_length(env_, ref_); }
  bool holds(size_t needed) const { return java_array_holds(env_, ref_, needed); }
  // Copies this array back even when the operation fails later (used for
  // results that Java must see whatever follows).
  void copy_back_always() { written_ = true; }

 private:
  JNIEnv *env_;
  const Array &ref_;
  const int &flag_;
  element *ptr_ = nullptr;
  bool written_ = false;
};

using byte_array_pin = java_array_pin<jbyteArray>;
using int_array_pin = java_array_pin<jintArray>;
using long_array_pin = java_array_pin<jlongArray>;

// One Java string argument as modified UTF-8, pinned on demand.
class java_string_pin {
 public:
  java_string_pin(JNIEnv *env, const jstring &ref) : env_(env), ref_(ref) {}
  ~java_string_pin() { release_java_string(env_, ref_, ptr_); }
  java_string_pin(const java_string_pin &) = delete;
  java_string_pin &operator=(const java_string_pin &) = delete;

  const char *pin();
  const char *get() const { return ptr_; }

 private:
  JNIEnv *env_;
  const jstring &ref_;
  const char *ptr_ = nullptr;
};

// A secret Java string (a password). The JVM's own UTF copy would be freed
// without being cleared, so the characters are read straight into memory
// the bridge owns and wipes before freeing.
class java_secret_pin {
 public:
  java_secret_pin(JNIEnv *env, const jstring &ref) : env_(env), ref_(ref) {}
  ~java_secret_pin();
  java_secret_pin(const java_secret_pin &) = delete;
  java_secret_pin &operator=(const java_secret_pin &) = delete;

  // The characters as modified UTF-8; null for a null reference, a string
  // too long to measure safely (over a third of 2^31 characters), or when
  // the JVM cannot supply them.
  const char *pin();
  const char *get() const { return buf_.get(); }
  size_t length() const { return len_; }

 private:
  JNIEnv *env_;
  const jstring &ref_;
  std::unique_ptr<char[]> buf_;
  size_t len_ = 0;
};

// Fixed-size scratch memory for secrets, wiped when it goes out of scope.
template <size_t N>
struct wiped_buffer {
  unsigned char data[N] = {};
  wiped_buffer() = default;
  ~wiped_buffer() { explicit_bzero(data, N); }
  wiped_buffer(const wiped_buffer &) = delete;
  wiped_buffer &operator=(const wiped_buffer &) = delete;
};

// Runs one native method body; no C++ exception reaches the JVM.
template <class Body>
jint guarded_call(Body &&body) noexcept {
  try {
    return body();
  } catch (...) {
    return kUnusableArgument;
  }
}

}  // namespace jce

#endif
