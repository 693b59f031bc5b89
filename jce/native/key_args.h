// Pieces shared by the key store, key generation, import, export and wrap
// natives: result handles, labels, key locations, the wrap IVs, and staging
// for outputs that Java may see only once the operation succeeded.
#ifndef QEL2_JCE_KEY_ARGS_H
#define QEL2_JCE_KEY_ARGS_H

#include <string.h>

#include <cstdint>
#include <memory>
#include <new>

#include "jniutils.h"
#include "qel2_defs.h"

namespace jce {

// The RFC 3394 initial value (A6 x 8, then eight zero bytes) and the zero IV;
// the SDK reads as many bytes as the mechanism's IV length.
inline constexpr Uint8 kRfc3394Iv[16] = {0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6};
inline constexpr Uint8 kZeroIv[16] = {};

inline constexpr Uint32 kMechAesKeyWrapPad = 4241;
inline constexpr Uint32 kMechAesGcm = 4231;
inline constexpr Uint32 kMechRsaOaep = 9;
inline constexpr Uint32 kMechRsaAes = 4180;
// The HSM's fixed wrapping key, through which plain key bytes travel.
inline constexpr Uint64 kFixedWrappingKey = 4;

// A token object for a persistent key, else a session object.
inline Uint8 key_location(jboolean persistent) { return persistent ? 1 : 0; }

// The IV of an export or import through the fixed wrapping key.
inline Uint8 *fixed_key_iv(Uint32 mech) {
  return const_cast<Uint8 *>(mech == kMechAesKeyWrapPad ? kZeroIv : kRfc3394Iv);
}

// The SDK's view of a pinned label: its bytes and length without the NUL.
inline Uint8 *label_bytes(const char *label) {
  return reinterpret_cast<Uint8 *>(const_cast<char *>(label));
}
inline Uint32 label_length(const char *label) { return static_cast<Uint32>(strlen(label)); }

// Writes a handle into element 0 of a result array that was checked to
// hold one; false when the JVM cannot supply the elements.
inline bool put_handle(long_array_pin &out, Uint64 handle) {
  jlong *p = out.pin();
  if (!p) return false;
  p[0] = static_cast<jlong>(handle);
  return true;
}

// The capacity a caller states in element 0 of a length array for the
// bytes of `data`: usable only when it is not negative and the array
// really has that room (a null `data` asks only for the length).
inline bool capacity_fits(const byte_array_pin &data, jint capacity) {
  return capacity >= 0 && (data.is_null() || data.length() >= capacity);
}

// Scratch memory an SDK call writes into, so that a Java array receives
// only the bytes of a finished result; wiped when it goes, since it may hold
// a plain key.
class staged_output {
 public:
  explicit staged_output(size_t size)
      : size_(size), data_(size ? new (std::nothrow) Uint8[size]() : nullptr) {}
  ~staged_output() {
    if (data_) explicit_bzero(data_.get(), size_);
  }
  staged_output(const staged_output &) = delete;
  staged_output &operator=(const staged_output &) = delete;

  // False when memory for a non-empty stage could not be had.
  bool ok() const { return size_ == 0 || data_ != nullptr; }
  Uint8 *get() { return data_.get(); }
  // Copies the first `n` bytes (at most the stage's size) to `to`.
  void deliver(jbyte *to, size_t n) const {
    if (to && n) memcpy(to, data_.get(), n < size_ ? n : size_);
  }

 private:
  size_t size_;
  std::unique_ptr<Uint8[]> data_;
};

}  // namespace jce

#endif
