#include "jniutils.h"

#include <limits>
#include <new>

namespace jce {

void release_java_byte_array(JNIEnv *env, const jbyteArray &java_array, jbyte *cpointer, int flag) {
  if (cpointer) env->ReleaseByteArrayElements(java_array, cpointer, flag);
}

void release_java_int_array(JNIEnv *env, const jintArray &java_array, jint *cpointer, int flag) {
  if (cpointer) env->ReleaseIntArrayElements(java_array, cpointer, flag);
}

void release_java_long_array(JNIEnv *env, const jlongArray &java_array, jlong *cpointer, int flag) {
  if (cpointer) env->ReleaseLongArrayElements(java_array, cpointer, flag);
}

void release_java_string(JNIEnv *env, const jstring &java_string, const char *cstring) {
  if (cstring) env->ReleaseStringUTFChars(java_string, cstring);
}

jsize java_array_length(JNIEnv *env, jarray array) {
  return array ? env->GetArrayLength(array) : 0;
}

bool java_array_holds(JNIEnv *env, jarray array, size_t needed) {
  return array && static_cast<size_t>(env->GetArrayLength(array)) >= needed;
}

namespace detail {
void clear_pending_exception(JNIEnv *env) {
  if (env->ExceptionCheck()) env->ExceptionClear();
}
}  // namespace detail

const char *java_string_pin::pin() {
  if (!ptr_ && ref_) {
    ptr_ = env_->GetStringUTFChars(ref_, nullptr);
    if (!ptr_) detail::clear_pending_exception(env_);
  }
  return ptr_;
}

java_secret_pin::~java_secret_pin() {
  if (buf_) explicit_bzero(buf_.get(), len_ + 1);
}

const char *java_secret_pin::pin() {
  if (buf_ || !ref_) return buf_.get();
  const jsize chars = env_->GetStringLength(ref_);
  // A character takes at most 3 bytes of modified UTF-8; beyond this the
  // JVM's int length may wrap, and the copy would overrun the buffer.
  if (chars < 0 || chars > std::numeric_limits<jsize>::max() / 3) return nullptr;
  const jsize utf_len = env_->GetStringUTFLength(ref_);
  if (utf_len < chars) return nullptr;
  std::unique_ptr<char[]> buf(new (std::nothrow) char[static_cast<size_t>(utf_len) + 1]);
  if (!buf) return nullptr;
  env_->GetStringUTFRegion(ref_, 0, chars, buf.get());
  if (env_->ExceptionCheck()) {
    env_->ExceptionClear();
    explicit_bzero(buf.get(), static_cast<size_t>(utf_len) + 1);
    return nullptr;
  }
  buf[utf_len] = '\0';
  len_ = static_cast<size_t>(utf_len);
  buf_ = std::move(buf);
  return buf_.get();
}

}  // namespace jce
