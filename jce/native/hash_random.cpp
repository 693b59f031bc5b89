// Util natives of message digests, HMAC with a key on the HSM, and random
// bytes from the HSM's ordinary or FIPS generator.
#include <algorithm>

#include "com_ostrel_qel2_Util.h"
#include "jniutils.h"
#include "qel2_crypto.h"
#include "qel2_sign.h"

namespace jce {
namespace {

// One random request carries at most this many bytes (a 16-bit length).
constexpr size_t kRandomPiece = 0xFFFF;

// Util.generateHash and generateHmac: the digest (or the HMAC under the key
// key_handle) of message into the first bytes of digest_out.
class generate_digest {
 public:
  generate_digest(JNIEnv *env, bool hmac, const jint &session_handle, const jint &algorithm,
                  const jlong &key_handle, const jbyteArray &message, const jbyteArray &digest_out)
      : hmac(hmac),
        session_handle(session_handle),
        algorithm(algorithm),
        key_handle(key_handle),
        message_ptr(env, message, flag),
        digest_out_ptr(env, digest_out, flag) {}

  jint call() {
    const auto type = static_cast<HashType>(algorithm);
    // The message length travels in 16 bits; the digest must fit the output.
    if (!fits_u16(static_cast<uint64_t>(message_ptr.length())) ||
        !digest_out_ptr.holds(get_hash_size(type)))
      return kUnusableArgument;
    if (!message_ptr.pin_optional()) return kUnusableArgument;
    if (!digest_out_ptr.pin()) return kUnusableArgument;
    const auto len = static_cast<Uint16>(message_ptr.length());
    auto *msg = reinterpret_cast<Uint8 *>(message_ptr.get());
    auto *out = reinterpret_cast<Uint8 *>(digest_out_ptr.get());
    const auto session = static_cast<Uint32>(session_handle);
    const Uint32 r = hmac ? Qel2Hmac(session, OSTREL_BLOCKING, type,
                                     static_cast<Uint64>(key_handle), len, msg, out, nullptr)
                          : Qel2Hash(session, OSTREL_BLOCKING, type, len, msg, out, nullptr);
    if (r == 0) flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  int flag = kDiscard;
  const bool hmac;
  const jint &session_handle;
  const jint &algorithm;
  const jlong &key_handle;
  byte_array_pin message_ptr;
  byte_array_pin digest_out_ptr;
};

// Util.secureRandom: the whole of bytes filled from the HSM.
class secure_random {
 public:
  secure_random(JNIEnv *env, const jint &session_handle, const jboolean &fips,
                const jbyteArray &bytes)
      : session_handle(session_handle), fips(fips), bytes_ptr(env, bytes, flag) {}

  jint call() {
    if (!bytes_ptr.pin()) return kUnusableArgument;
    const size_t len = static_cast<size_t>(bytes_ptr.length());
    if (len == 0) return kUnusableArgument;
    auto *out = reinterpret_cast<Uint8 *>(bytes_ptr.get());
    const auto session = static_cast<Uint32>(session_handle);
    Uint32 r = 0;
    if (fips) {
      r = Qel2GenerateFipsRandom(session, out, static_cast<Uint32>(len));
    } else {
      // Whole array, piece by piece: a longer array is never cut short.
      for (size_t done = 0; r == 0 && done < len; done += kRandomPiece) {
        const size_t piece = std::min(len - done, kRandomPiece);
        r = Qel2Random(session, OSTREL_BLOCKING, static_cast<Uint16>(piece), out + done, nullptr);
      }
    }
    if (r == 0) flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  int flag = kDiscard;
  const jint &session_handle;
  const jboolean &fips;
  byte_array_pin bytes_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_generateHash(JNIEnv *env, jclass,
                                                              jint session_handle, jint algorithm,
                                                              jbyteArray message,
                                                              jbyteArray digest_out) {
  return jce::guarded_call([&] {
    const jlong no_key = 0;
    jce::generate_digest cmd(env, false, session_handle, algorithm, no_key, message, digest_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_generateHmac(JNIEnv *env, jclass,
                                                              jint session_handle, jint algorithm,
                                                              jlong key_handle, jbyteArray message,
                                                              jbyteArray digest_out) {
  return jce::guarded_call([&] {
    jce::generate_digest cmd(env, true, session_handle, algorithm, key_handle, message, digest_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_secureRandom(JNIEnv *env, jclass,
                                                              jint session_handle, jboolean fips,
                                                              jbyteArray bytes) {
  return jce::guarded_call([&] {
    jce::secure_random cmd(env, session_handle, fips, bytes);
    return cmd.call();
  });
}

}  // extern "C"
