// Signatures natives: RSA by mechanism (the HSM hashes and pads), RSA-PSS
// padded on the host around a raw exponentiation on the HSM, and ECDSA over
// a hash with the caller's nonce.
//
// Arrays the natives only read are released with kDiscard whatever happens:
// copying them back would overwrite what Java may have changed meanwhile.
#include <algorithm>
#include <vector>

#include "com_ostrel_qel2_Signatures.h"
#include "jniutils.h"
#include "openssl_util_pss.h"
#include "qel2_crypto.h"
#include "qel2_errors.h"
#include "qel2_openssl_util.h"
#include "qel2_sign.h"

namespace jce {
namespace {

enum operation { SIGN = 0, VERIFY = 1 };

// A Java int that travels whole in a 16-bit SDK length.
bool fits_u16_length(jint n) { return n >= 0 && fits_u16(static_cast<uint64_t>(n)); }

// Signatures.rsaSign / rsaVerify. For a verification `output` is the signature.
class rsa_sign {
 public:
  rsa_sign(operation op, JNIEnv *env, const jint &session_id, const jint &mechanism,
           const jbyteArray &data, const jlong &key_handle, const jbyteArray &output,
           const jintArray &output_size)
      : op(op),
        session_id(session_id),
        mechanism(mechanism),
        data_ptr(env, data, kDiscard),
        key_handle(key_handle),
        output_ptr(env, output, op == SIGN ? flag : kDiscard),
        output_size_ptr(env, output_size, flag) {}

  jint call() {
    const jsize out_len = output_ptr.length();
    if (out_len == 0 || !output_ptr.pin()) return kUnusableArgument;
    // A null message goes to the SDK as a null pointer of length 0.
    const jsize data_len = data_ptr.length();
    if (!data_ptr.pin_optional()) return kUnusableArgument;
    Uint8 *data = reinterpret_cast<Uint8 *>(data_ptr.get());
    Uint8 *out = reinterpret_cast<Uint8 *>(output_ptr.get());
    const Uint32 session = static_cast<Uint32>(session_id);
    const Uint32 mech = static_cast<Uint32>(mechanism);
    if (op == SIGN) {
      if (!output_size_ptr.holds(1)) return kUnusableArgument;
      Uint32 length = static_cast<Uint32>(out_len);
      if (Uint32 r = Qel2Sign2(session, data, static_cast<Uint32>(data_len), out, &length,
                               static_cast<Uint64>(key_handle), mech, 0))
        return static_cast<jint>(r);
      if (!output_size_ptr.pin()) return kUnusableArgument;
      output_size_ptr.get()[0] = static_cast<jint>(length);
    } else {
      if (Uint32 r =
              Qel2Verify2(session, data, static_cast<Uint32>(data_len), out,
                          static_cast<Uint32>(out_len), static_cast<Uint64>(key_handle), mech, 0))
        return static_cast<jint>(r);
    }
    flag = kCopyBack;
    return 0;
  }

 private:
  int flag = kDiscard;
  const operation op;
  const jint &session_id;
  const jint &mechanism;
  byte_array_pin data_ptr;
  const jlong &key_handle;
  byte_array_pin output_ptr;
  int_array_pin output_size_ptr;
};

// Signatures.rsaSignPSS / rsaVerifyPSS.
class pss_sign_verify {
 public:
  pss_sign_verify(operation op, JNIEnv *env, const jint &session_handle, const jlong &key_handle,
                  const jint &hash_type, const jint &mod_length, const jbyteArray &hash,
                  const jbyteArray &signature, const jbyteArray &hash_out, const jint &salt_len,
                  const jint &sig_length)
      : op(op),
        session_handle(session_handle),
        key_handle(key_handle),
        hash_type(hash_type),
        mod_length(mod_length),
        hash_ptr(env, hash, kDiscard),
        signature_ptr(env, signature, op == SIGN ? flag : kDiscard),
        hash_out_ptr(env, hash_out, kDiscard),
        salt_len(salt_len),
        sig_length(sig_length) {}

  jint call() {
    if (!hash_ptr.pin() || hash_ptr.length() == 0) return kUnusableArgument;
    // The helpers read the whole digest of the hash type.
    if (!hash_ptr.holds(get_hash_size(static_cast<HashType>(hash_type)))) return kUnusableArgument;
    if (!signature_ptr.pin()) return kUnusableArgument;
    return op == SIGN ? sign() : verify();
  }

 private:
  jint sign() {
    // The signature takes mod_length bytes; sizes the helper cannot take
    // are its to refuse (27).
    if (fits_u16_length(mod_length) && !signature_ptr.holds(static_cast<size_t>(mod_length)))
      return kUnusableArgument;
    // The block is built natively, so that only the signature ever reaches
    // the Java array, whatever the JVM pins.
    std::vector<Uint8> block(fits_u16_length(mod_length) ? static_cast<size_t>(mod_length) : 0);
    if (tzl_add_rsa_pss_padding(block.empty() ? nullptr : block.data(),
                                reinterpret_cast<Uint8 *>(hash_ptr.get()),
                                static_cast<HashType>(hash_type), mod_length, salt_len) != 0)
      return ERR_BAD_PKCS_DATA;
    const Uint16 len = static_cast<Uint16>(mod_length);
    if (Uint32 r = Qel2ModExpWithKeyOnHSM(
            static_cast<Uint32>(session_handle), OSTREL_BLOCKING, static_cast<Uint64>(key_handle),
            true, len, block.data(), len, reinterpret_cast<Uint8 *>(signature_ptr.get()), nullptr))
      return static_cast<jint>(r);
    flag = kCopyBack;
    return 0;
  }

  jint verify() {
    if (!hash_out_ptr.pin()) return kUnusableArgument;
    if (!pss_verify_limits_hold(static_cast<HashType>(hash_type), mod_length, salt_len))
      return ERR_BAD_PKCS_DATA;
    if (sig_length <= 0 || !fits_u16_length(sig_length)) return kUnusableArgument;
    const size_t sig_len = static_cast<size_t>(sig_length);
    // The exponentiation writes sig_length bytes; the check reads mod_length.
    const size_t work_len = std::max<size_t>(sig_len, mod_length > 0 ? mod_length : 0);
    if (!signature_ptr.holds(sig_len) || !hash_out_ptr.holds(work_len)) return kUnusableArgument;
    Uint8 *block = reinterpret_cast<Uint8 *>(hash_out_ptr.get());
    const Uint16 len = static_cast<Uint16>(sig_length);
    if (Uint32 r = Qel2ModExpWithKeyOnHSM(
            static_cast<Uint32>(session_handle), OSTREL_BLOCKING, static_cast<Uint64>(key_handle),
            false, len, reinterpret_cast<Uint8 *>(signature_ptr.get()), len, block, nullptr))
      return static_cast<jint>(r);
    // The recovered block is work space: hash_out is not written back.
    if (tzl_verify_rsa_pss_padding(block, reinterpret_cast<Uint8 *>(hash_ptr.get()),
                                   static_cast<HashType>(hash_type), mod_length, salt_len) != 0)
      return ERR_BAD_PKCS_DATA;
    return 0;
  }

  int flag = kDiscard;
  const operation op;
  const jint &session_handle;
  const jlong &key_handle;
  const jint &hash_type;
  const jint &mod_length;
  byte_array_pin hash_ptr;
  byte_array_pin signature_ptr;
  byte_array_pin hash_out_ptr;
  const jint &salt_len;
  const jint &sig_length;
};

// Signatures.ecdsaSign / ecdsaVerify: r and s apart, each the prime length.
class ecdsa_sign {
 public:
  ecdsa_sign(JNIEnv *env, const operation &op, const jint &session_handle, const jlong &key_handle,
             const jint &curve_id, const jbyteArray &data, const jbyteArray &random,
             const jbyteArray &r, const jbyteArray &s)
      : op(op),
        session_handle(session_handle),
        key_handle(key_handle),
        curve_id(curve_id),
        data_ptr(env, data, kDiscard),
        random_ptr(env, random, kDiscard),
        r_ptr(env, r, op == SIGN ? flag : kDiscard),
        s_ptr(env, s, op == SIGN ? flag : kDiscard) {}

  jint call() {
    if (!data_ptr.pin() || data_ptr.length() == 0) return kUnusableArgument;
    if (!fits_u16_length(data_ptr.length())) return kUnusableArgument;
    if (!r_ptr.pin() || !s_ptr.pin()) return kUnusableArgument;
    // An unknown curve has prime length 0, which the SDK refuses itself.
    const Uint32 plen = get_prime_length(static_cast<CurveId>(curve_id));
    if (!r_ptr.holds(plen) || !s_ptr.holds(plen)) return kUnusableArgument;
    const Uint32 session = static_cast<Uint32>(session_handle);
    const Uint64 key = static_cast<Uint64>(key_handle);
    Uint8 *hash = reinterpret_cast<Uint8 *>(data_ptr.get());
    const Uint16 hash_len = static_cast<Uint16>(data_ptr.length());
    Uint8 *r = reinterpret_cast<Uint8 *>(r_ptr.get());
    Uint8 *s = reinterpret_cast<Uint8 *>(s_ptr.get());
    Uint32 status;
    if (op == VERIFY) {
      status = Qel2ECDSAVerify2(session, OSTREL_BLOCKING, static_cast<Uint16>(plen), key, hash,
                                hash_len, r, s, 0, nullptr);
    } else {
      if (!random_ptr.pin() || random_ptr.length() == 0) return kUnusableArgument;
      if (!fits_u16_length(random_ptr.length())) return kUnusableArgument;
      status =
          Qel2ECDSASign(session, OSTREL_BLOCKING, static_cast<CurveId>(curve_id), key,
                        reinterpret_cast<Uint8 *>(random_ptr.get()),
                        static_cast<Uint16>(random_ptr.length()), hash, hash_len, r, s, nullptr);
    }
    if (status != 0) return static_cast<jint>(status);
    flag = kCopyBack;
    return 0;
  }

 private:
  int flag = kDiscard;
  const operation &op;
  const jint &session_handle;
  const jlong &key_handle;
  const jint &curve_id;
  byte_array_pin data_ptr;
  byte_array_pin random_ptr;
  byte_array_pin r_ptr;
  byte_array_pin s_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Signatures_rsaSign(JNIEnv *env, jclass, jint session_id,
                                                               jint mechanism, jbyteArray data,
                                                               jlong key_handle, jbyteArray output,
                                                               jintArray output_size) {
  return jce::guarded_call([&] {
    jce::rsa_sign cmd(jce::SIGN, env, session_id, mechanism, data, key_handle, output, output_size);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Signatures_rsaVerify(JNIEnv *env, jclass,
                                                                 jint session_id, jint mechanism,
                                                                 jbyteArray data,
                                                                 jbyteArray signature,
                                                                 jlong key_handle) {
  return jce::guarded_call([&] {
    const jintArray output_size = nullptr;
    jce::rsa_sign cmd(jce::VERIFY, env, session_id, mechanism, data, key_handle, signature,
                      output_size);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Signatures_rsaSignPSS(
    JNIEnv *env, jclass, jint session_handle, jlong key_handle, jint hash_type, jint mod_length,
    jbyteArray hash, jbyteArray signature, jint salt_len) {
  return jce::guarded_call([&] {
    const jbyteArray hash_out = nullptr;
    const jint sig_length = 0;
    jce::pss_sign_verify cmd(jce::SIGN, env, session_handle, key_handle, hash_type, mod_length,
                             hash, signature, hash_out, salt_len, sig_length);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Signatures_rsaVerifyPSS(
    JNIEnv *env, jclass, jint session_handle, jlong key_handle, jint hash_type, jint mod_length,
    jbyteArray hash, jbyteArray signature, jbyteArray hash_out, jint salt_len, jint sig_length) {
  return jce::guarded_call([&] {
    jce::pss_sign_verify cmd(jce::VERIFY, env, session_handle, key_handle, hash_type, mod_length,
                             hash, signature, hash_out, salt_len, sig_length);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Signatures_ecdsaSign(JNIEnv *env, jclass,
                                                                 jint session_handle,
                                                                 jlong key_handle, jint curve_id,
                                                                 jbyteArray data, jbyteArray random,
                                                                 jbyteArray r, jbyteArray s) {
  return jce::guarded_call([&] {
    const jce::operation op = jce::SIGN;
    jce::ecdsa_sign cmd(env, op, session_handle, key_handle, curve_id, data, random, r, s);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Signatures_ecdsaVerify(JNIEnv *env, jclass,
                                                                   jint session_handle,
                                                                   jlong key_handle, jint curve_id,
                                                                   jbyteArray data, jbyteArray r,
                                                                   jbyteArray s) {
  return jce::guarded_call([&] {
    const jce::operation op = jce::VERIFY;
    const jbyteArray random = nullptr;
    jce::ecdsa_sign cmd(env, op, session_handle, key_handle, curve_id, data, random, r, s);
    return cmd.call();
  });
}

}  // extern "C"
