// Cryptography natives: AES and 3DES (CBC, ECB, CTR), the RSA operations,
// AES-GCM, AES key wrap of a host buffer and ECDH, all with keys on the HSM.
//
// Arrays the natives only read are released with kDiscard whatever happens:
// copying them back would overwrite what Java may have changed meanwhile.
#include <algorithm>
#include <cstring>

#include "com_ostrel_qel2_Cryptography.h"
#include "common/be_codec.h"
#include "jniutils.h"
#include "qel2_crypto.h"
#include "qel2_errors.h"
#include "qel2_wrap.h"

namespace jce {
namespace {

// A Java int that travels whole in a 16-bit SDK length.
bool fits_u16_length(jint n) { return n >= 0 && fits_u16(static_cast<uint64_t>(n)); }

uint64_t round_up(uint64_t n, uint64_t block) { return (n + block - 1) / block * block; }

using cipher_iv_fn = Uint32 (*)(Uint32, request_type, Uint16, Uint8 *, Uint8 *, Uint8 *, Uint64,
                                Uint32 *);
using cipher_ecb_fn = Uint32 (*)(Uint32, request_type, Uint16, Uint8 *, Uint8 *, Uint64, Uint32 *);

// One slot of processAESDES: the SDK function, the IV it reads, and the
// block the output is rounded up to (1: the input length).
struct cipher_slot {
  cipher_iv_fn with_iv;
  cipher_ecb_fn ecb;
  size_t iv_len;
  size_t out_block;
};

constexpr size_t kAesIv = 16, kDesIv = 8;

// Indexed by the Java operation; slot 0 is empty.
const cipher_slot kCipherSlots[] = {
    {nullptr, nullptr, 0, 0},
    {Qel2EncryptAes, nullptr, kAesIv, 16},    // 1 AES-CBC encrypt
    {Qel2DecryptAes, nullptr, kAesIv, 1},     // 2 AES-CBC decrypt
    {Qel2Encrypt3Des, nullptr, kDesIv, 8},    // 3 3DES-CBC encrypt
    {Qel2Decrypt3Des, nullptr, kDesIv, 1},    // 4 3DES-CBC decrypt
    {nullptr, Qel2EncryptAesECB, 0, 1},       // 5 AES-ECB encrypt
    {nullptr, Qel2DecryptAesECB, 0, 1},       // 6 AES-ECB decrypt
    {nullptr, Qel2Encrypt3DesECB, 0, 8},      // 7 3DES-ECB encrypt
    {nullptr, Qel2Decrypt3DesECB, 0, 8},      // 8 3DES-ECB decrypt
    {Qel2EncryptAesCtr, nullptr, kAesIv, 1},  // 9 AES-CTR
    {Qel2DecryptAesCtr, nullptr, kAesIv, 1},  // 10 AES-CTR
};

// Cryptography.processAESDES.
class process_aes_des {
 public:
  process_aes_des(JNIEnv *env, const jint &session_handle, const jbyteArray &input,
                  const jbyteArray &output, const jbyteArray &iv, const jlong &key_handle,
                  jint operation)
      : session_handle(session_handle),
        input_ptr(env, input, kDiscard),
        output_ptr(env, output, flag),
        iv_ptr(env, iv, kDiscard),
        key_handle(key_handle),
        operation(operation) {}

  jint call() {
    if (operation < 1 || operation >= static_cast<jint>(std::size(kCipherSlots)))
      return kUnusableArgument;
    const cipher_slot &slot = kCipherSlots[operation];
    if (!input_ptr.pin() || !output_ptr.pin()) return kUnusableArgument;
    const jsize length = input_ptr.length();
    if (!fits_u16_length(length)) return kUnusableArgument;
    // What the SDK writes: encryption rounds up to whole blocks.
    if (!output_ptr.holds(round_up(static_cast<uint64_t>(length), slot.out_block)))
      return kUnusableArgument;
    Uint8 *in = reinterpret_cast<Uint8 *>(input_ptr.get());
    Uint8 *out = reinterpret_cast<Uint8 *>(output_ptr.get());
    const Uint32 session = static_cast<Uint32>(session_handle);
    Uint32 r;
    if (slot.with_iv) {
      if (!iv_ptr.pin() || !iv_ptr.holds(slot.iv_len)) return kUnusableArgument;
      r = slot.with_iv(session, OSTREL_BLOCKING, static_cast<Uint16>(length), in, out,
                       reinterpret_cast<Uint8 *>(iv_ptr.get()), static_cast<Uint64>(key_handle),
                       nullptr);
    } else {
      r = slot.ecb(session, OSTREL_BLOCKING, static_cast<Uint16>(length), in, out,
                   static_cast<Uint64>(key_handle), nullptr);
    }
    if (r == 0) flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  int flag = kDiscard;
  const jint &session_handle;
  byte_array_pin input_ptr;
  byte_array_pin output_ptr;
  byte_array_pin iv_ptr;
  const jlong &key_handle;
  const jint operation;
};

// Cryptography.pkcs1v15Enc/Dec, pkcs1v22Enc/Dec, modExpEnc/Dec.
class process_rsa_pkcs {
 public:
  enum OpType { PKCS15ENC = 0, PKCS15DEC, PKCS22ENC, PKCS22DEC, MODEXPENC, MODEXPDEC };

  process_rsa_pkcs(JNIEnv *env, OpType optype, const jint &session_handle, const jlong &key_handle,
                   const jint &modlength, const jint &block_type, const jint &hash_type,
                   const jbyteArray &ciphertext, const jbyteArray &ciphertext_out,
                   const jbyteArray &plaintext, const jbyteArray &plaintext_out,
                   const jintArray &plaintext_len_out)
      : optype(optype),
        session_handle(session_handle),
        key_handle(key_handle),
        modlength(modlength),
        block_type(block_type),
        hash_type(hash_type),
        ciphertext_ptr(env, ciphertext, kDiscard),
        ciphertext_out_ptr(env, ciphertext_out, flag),
        plaintext_ptr(env, plaintext, kDiscard),
        plaintext_out_ptr(env, plaintext_out, flag),
        plaintext_len_out_ptr(env, plaintext_len_out, flag) {}

  jint call() {
    static constexpr jint (process_rsa_pkcs::*kOps[])() = {
        &process_rsa_pkcs::pkcs15enc, &process_rsa_pkcs::pkcs15dec, &process_rsa_pkcs::pkcs22enc,
        &process_rsa_pkcs::pkcs22dec, &process_rsa_pkcs::modexpenc, &process_rsa_pkcs::modexpdec};
    if (optype < PKCS15ENC || optype > MODEXPDEC) return kUnusableArgument;
    // The modulus length goes to the SDK as 16 bits and sizes the outputs.
    if (modlength <= 0 || !fits_u16_length(modlength)) return kUnusableArgument;
    const jint r = (this->*kOps[optype])();
    if (r == 0) flag = kCopyBack;
    return r;
  }

 private:
  // Input of its own length (16 bits) and an output of modlength bytes.
  bool init_encrypt_arrays() {
    return plaintext_ptr.pin() && ciphertext_out_ptr.pin() &&
           fits_u16_length(plaintext_ptr.length()) && ciphertext_out_ptr.holds(mod());
  }
  // The SDK reads modlength bytes of ciphertext and writes up to modlength.
  bool init_decrypt_arrays(size_t ciphertext_needed) {
    return ciphertext_ptr.pin() && plaintext_out_ptr.pin() &&
           ciphertext_ptr.holds(ciphertext_needed) && plaintext_out_ptr.holds(mod());
  }

  jint pkcs15enc() {
    if (!init_encrypt_arrays()) return kUnusableArgument;
    auto fn = block_type == BT1   ? Qel2Pkcs1v15CrtEnc
              : block_type == BT2 ? Qel2Pkcs1v15Enc
                                  : nullptr;
    if (!fn) return kUnusableArgument;
    return static_cast<jint>(fn(session(), OSTREL_BLOCKING, key(),
                                static_cast<RsaBlockType>(block_type), mod16(), plaintext_len(),
                                plaintext(), ciphertext_out(), nullptr));
  }

  jint pkcs15dec() {
    if (!init_decrypt_arrays(mod()) || !plaintext_len_out_ptr.holds(1)) return kUnusableArgument;
    auto fn = block_type == BT1   ? Qel2Pkcs1v15Dec
              : block_type == BT2 ? Qel2Pkcs1v15CrtDec
                                  : nullptr;
    if (!fn) return kUnusableArgument;
    Uint16 length = 0;  // big-endian as the HSM reports it
    if (Uint32 r = fn(session(), OSTREL_BLOCKING, key(), static_cast<RsaBlockType>(block_type),
                      mod16(), ciphertext(), plaintext_out(), RES_HOST, &length, nullptr))
      return static_cast<jint>(r);
    return put_length(qel2::from_be16(length));
  }

  jint pkcs22enc() {
    if (!init_encrypt_arrays()) return kUnusableArgument;
    return static_cast<jint>(
        Qel2Pkcs1v22Enc(session(), OSTREL_BLOCKING, key(), static_cast<RsaPaddingType>(block_type),
                        static_cast<HashType>(hash_type), true, mod16(), plaintext_len(),
                        plaintext(), ciphertext_out(), nullptr));
  }

  jint pkcs22dec() {
    if (!init_decrypt_arrays(mod()) || !plaintext_len_out_ptr.holds(1)) return kUnusableArgument;
    Uint32 length = 0;  // big-endian as the HSM reports it
    if (Uint32 r = Qel2Pkcs1v22Dec(session(), OSTREL_BLOCKING, key(),
                                   static_cast<RsaPaddingType>(block_type),
                                   static_cast<HashType>(hash_type), true, mod16(), ciphertext(),
                                   plaintext_out(), &length, RES_HOST, nullptr))
      return static_cast<jint>(r);
    return put_length(qel2::from_be32(length));
  }

  jint modexpenc() {
    if (!init_encrypt_arrays()) return kUnusableArgument;
    return static_cast<jint>(Qel2ModExpWithKeyOnHSM(session(), OSTREL_BLOCKING, key(), true,
                                                    plaintext_len(), plaintext(), mod16(),
                                                    ciphertext_out(), nullptr));
  }

  jint modexpdec() {
    if (!init_decrypt_arrays(0) || !fits_u16_length(ciphertext_ptr.length()))
      return kUnusableArgument;
    return static_cast<jint>(Qel2ModExpWithKeyOnHSM(
        session(), OSTREL_BLOCKING, key(), true, static_cast<Uint16>(ciphertext_ptr.length()),
        ciphertext(), mod16(), plaintext_out(), nullptr));
  }

  jint put_length(uint32_t length) {
    if (!plaintext_len_out_ptr.pin()) return kUnusableArgument;
    plaintext_len_out_ptr.get()[0] = static_cast<jint>(length);
    return 0;
  }

  Uint32 session() const { return static_cast<Uint32>(session_handle); }
  Uint64 key() const { return static_cast<Uint64>(key_handle); }
  size_t mod() const { return static_cast<size_t>(modlength); }
  Uint16 mod16() const { return static_cast<Uint16>(modlength); }
  Uint16 plaintext_len() const { return static_cast<Uint16>(plaintext_ptr.length()); }
  Uint8 *plaintext() const { return reinterpret_cast<Uint8 *>(plaintext_ptr.get()); }
  Uint8 *ciphertext() const { return reinterpret_cast<Uint8 *>(ciphertext_ptr.get()); }
  Uint8 *plaintext_out() const { return reinterpret_cast<Uint8 *>(plaintext_out_ptr.get()); }
  Uint8 *ciphertext_out() const { return reinterpret_cast<Uint8 *>(ciphertext_out_ptr.get()); }

  int flag = kDiscard;
  const OpType optype;
  const jint &session_handle;
  const jlong &key_handle;
  const jint &modlength;
  const jint &block_type;
  const jint &hash_type;
  byte_array_pin ciphertext_ptr;
  byte_array_pin ciphertext_out_ptr;
  byte_array_pin plaintext_ptr;
  byte_array_pin plaintext_out_ptr;
  int_array_pin plaintext_len_out_ptr;
};

// Cryptography.processAESGCM: encrypt 1, decrypt 2.
class process_aes_gcm {
 public:
  process_aes_gcm(JNIEnv *env, const jint &session_handle, const jint &operation,
                  const jbyteArray &input, const jbyteArray &output, const jintArray &output_len,
                  const jbyteArray &aad, const jbyteArray &aad_tag, const jbyteArray &aad_tag_out,
                  const jbyteArray &iv, const jlong &key_handle)
      : session_handle(session_handle),
        operation(operation),
        input_ptr(env, input, kDiscard),
        output_ptr(env, output, flag),
        output_len_ptr(env, output_len, kDiscard),
        aad_ptr(env, aad, kDiscard),
        aad_tag_ptr(env, aad_tag, kDiscard),
        aad_tag_out_ptr(env, aad_tag_out, flag),
        iv_ptr(env, iv, operation == kEncrypt ? flag : kDiscard),
        key_handle(key_handle) {}

  jint call() {
    if (operation != kEncrypt && operation != kDecrypt) return kUnusableArgument;
    if (!input_ptr.pin_optional()) return kUnusableArgument;
    if (!output_ptr.pin()) return kUnusableArgument;
    if (!aad_ptr.pin_optional()) return kUnusableArgument;
    if (!iv_ptr.pin()) return kUnusableArgument;
    const jsize in_len = input_ptr.length(), aad_len = aad_ptr.length(), iv_len = iv_ptr.length();
    if (!fits_u16_length(in_len) || !fits_u16_length(aad_len)) return kUnusableArgument;
    if (!output_ptr.holds(static_cast<size_t>(in_len))) return kUnusableArgument;
    // The SDK reads and (encrypting) writes a 16-byte IV field; Java's IV
    // of 12 to 16 bytes is staged into it, zero-padded.
    if (iv_len < static_cast<jsize>(kMinIv) || iv_len > static_cast<jsize>(kIvField))
      return kUnusableArgument;
    Uint8 iv_field[kIvField] = {};
    memcpy(iv_field, iv_ptr.get(), static_cast<size_t>(iv_len));

    const Uint32 session = static_cast<Uint32>(session_handle);
    Uint8 *in = reinterpret_cast<Uint8 *>(input_ptr.get());
    Uint8 *out = reinterpret_cast<Uint8 *>(output_ptr.get());
    Uint8 *aad = reinterpret_cast<Uint8 *>(aad_ptr.get());
    if (operation == kEncrypt) {
      const jsize tag_len = aad_tag_out_ptr.length();
      if (tag_len == 0 || !fits_u16_length(tag_len) || !aad_tag_out_ptr.pin())
        return kUnusableArgument;
      Uint8 tag[kTagField] = {};
      if (Uint32 r =
              Qel2EncryptAesGcm(session, OSTREL_BLOCKING, iv_field, static_cast<Uint64>(key_handle),
                                static_cast<Uint16>(aad_len), aad, static_cast<Uint16>(in_len), in,
                                out, tag, nullptr))
        return static_cast<jint>(r);
      memcpy(aad_tag_out_ptr.get(), tag, std::min<size_t>(static_cast<size_t>(tag_len), kTagField));
      // The IV the HSM used goes back in Java's own length.
      memcpy(iv_ptr.get(), iv_field, static_cast<size_t>(iv_len));
    } else {
      if (!aad_tag_ptr.pin()) return kUnusableArgument;
      const jsize tag_len = aad_tag_ptr.length();
      if (tag_len == 0 || !fits_u16_length(tag_len)) return kUnusableArgument;
      if (Uint32 r =
              Qel2DecryptAesGcm(session, OSTREL_BLOCKING, iv_field, static_cast<Uint64>(key_handle),
                                static_cast<Uint16>(aad_len), aad, static_cast<Uint16>(in_len), in,
                                static_cast<Uint16>(tag_len),
                                reinterpret_cast<Uint8 *>(aad_tag_ptr.get()), out, nullptr))
        return static_cast<jint>(r);
    }
    flag = kCopyBack;
    return 0;
  }

 private:
  static constexpr jint kEncrypt = 1, kDecrypt = 2;
  static constexpr size_t kIvField = 16, kMinIv = 12, kTagField = 16;

  int flag = kDiscard;
  const jint &session_handle;
  const jint &operation;
  byte_array_pin input_ptr;
  byte_array_pin output_ptr;
  int_array_pin output_len_ptr;  // not used
  byte_array_pin aad_ptr;
  byte_array_pin aad_tag_ptr;
  byte_array_pin aad_tag_out_ptr;
  byte_array_pin iv_ptr;
  const jlong &key_handle;
};

// Cryptography.aesWrap: PKCS padding, then RFC 3394, on the HSM.
class key_wrap {
 public:
  enum operation { UNWRAP = 0, WRAP = 1 };

  key_wrap(JNIEnv *env, operation op, const jint &session_handle, const jlong &key_handle,
           const jbyteArray &key_data, const jbyteArray &key_out, const jintArray &key_out_len)
      : op(op),
        session_handle(session_handle),
        key_handle(key_handle),
        key_data_ptr(env, key_data, kDiscard),
        key_out_ptr(env, key_out, flag),
        key_out_len_ptr(env, key_out_len, flag) {}

  jint call() {
    if (!key_data_ptr.pin() || key_data_ptr.length() == 0) return kUnusableArgument;
    // No key_out: a size query.
    if (!key_out_ptr.pin_optional()) return kUnusableArgument;
    if (!key_out_len_ptr.holds(1) || !key_out_len_ptr.pin()) return kUnusableArgument;
    // The SDK writes up to the capacity Java states: no more than the array has.
    const jint capacity = key_out_len_ptr.get()[0];
    if (capacity < 0 || (!key_out_ptr.is_null() && capacity > key_out_ptr.length()))
      return kUnusableArgument;
    Uint32 length = static_cast<Uint32>(capacity);
    const Uint32 r = Qel2AesWrapUnwrapBuffer4(
        static_cast<Uint32>(session_handle), static_cast<Uint64>(key_handle),
        reinterpret_cast<Uint8 *>(key_data_ptr.get()), static_cast<Uint32>(key_data_ptr.length()),
        kRfc3394Iv, reinterpret_cast<Uint8 *>(key_out_ptr.get()), &length, static_cast<Uint8>(op),
        kMechAesKeyWrapPkcsPad, nullptr);
    if (r != 0 && r != ERR_BUFFER_TOO_SMALL) return static_cast<jint>(r);
    key_out_len_ptr.get()[0] = static_cast<jint>(length);
    flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  static constexpr Uint64 kRfc3394Iv = 0xA6A6A6A6A6A6A6A6ull;
  static constexpr Uint32 kMechAesKeyWrapPkcsPad = 4242;

  int flag = kDiscard;
  const operation op;
  const jint &session_handle;
  const jlong &key_handle;
  byte_array_pin key_data_ptr;
  byte_array_pin key_out_ptr;
  int_array_pin key_out_len_ptr;
};

// Cryptography.ecdhAgreement: the peer's point times the private key on the HSM.
class key_agreement {
 public:
  key_agreement(JNIEnv *env, const jint &session_handle, const jint &cid, const jbyteArray &prime,
                const jbyteArray &peer_pub_x, const jbyteArray &peer_pub_y,
                const jlong &priv_key_handle, const jbyteArray &pub_x, const jbyteArray &pub_y)
      : session_handle(session_handle),
        cid(cid),
        prime_ptr(env, prime, kDiscard),
        peer_pub_x_ptr(env, peer_pub_x, kDiscard),
        peer_pub_y_ptr(env, peer_pub_y, kDiscard),
        priv_key_handle(priv_key_handle),
        pub_x_ptr(env, pub_x, flag),
        pub_y_ptr(env, pub_y, flag) {}

  jint call() {
    byte_array_pin *all[] = {&prime_ptr, &peer_pub_x_ptr, &peer_pub_y_ptr, &pub_x_ptr, &pub_y_ptr};
    // Each is one value of the curve's prime length (an unknown curve is the SDK's to refuse).
    const Uint32 plen = get_prime_length(static_cast<CurveId>(cid));
    for (byte_array_pin *a : all)
      if (!a->pin() || !a->holds(plen)) return kUnusableArgument;
    const Uint32 r = Qel2PointMulWithScalarOnHSM(
        static_cast<Uint32>(session_handle), OSTREL_BLOCKING, static_cast<CurveId>(cid),
        bytes(prime_ptr), static_cast<Uint64>(priv_key_handle), bytes(peer_pub_x_ptr),
        bytes(peer_pub_y_ptr), bytes(pub_x_ptr), bytes(pub_y_ptr), nullptr);
    if (r == 0) flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  static Uint8 *bytes(const byte_array_pin &p) { return reinterpret_cast<Uint8 *>(p.get()); }

  int flag = kDiscard;
  const jint &session_handle;
  const jint &cid;
  byte_array_pin prime_ptr;
  byte_array_pin peer_pub_x_ptr;
  byte_array_pin peer_pub_y_ptr;
  const jlong &priv_key_handle;
  byte_array_pin pub_x_ptr;
  byte_array_pin pub_y_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_processAESDES(
    JNIEnv *env, jclass, jint session_handle, jbyteArray input, jbyteArray output, jbyteArray iv,
    jlong key_handle, jint operation) {
  return jce::guarded_call([&] {
    jce::process_aes_des cmd(env, session_handle, input, output, iv, key_handle, operation);
    return cmd.call();
  });
}

namespace {
// One RSA operation: encryptions take plaintext in and ciphertext out, the
// decryptions the reverse; a method without a block type or hash passes 0.
jint rsa_encrypt(JNIEnv *env, jce::process_rsa_pkcs::OpType op, jint session_handle,
                 jlong key_handle, jint modlength, jint block_type, jint hash_type,
                 jbyteArray plaintext, jbyteArray ciphertext_out) {
  return jce::guarded_call([&] {
    jce::process_rsa_pkcs cmd(env, op, session_handle, key_handle, modlength, block_type, hash_type,
                              nullptr, ciphertext_out, plaintext, nullptr, nullptr);
    return cmd.call();
  });
}

jint rsa_decrypt(JNIEnv *env, jce::process_rsa_pkcs::OpType op, jint session_handle,
                 jlong key_handle, jint modlength, jint block_type, jint hash_type,
                 jbyteArray ciphertext, jbyteArray plaintext_out, jintArray plaintext_len_out) {
  return jce::guarded_call([&] {
    jce::process_rsa_pkcs cmd(env, op, session_handle, key_handle, modlength, block_type, hash_type,
                              ciphertext, nullptr, nullptr, plaintext_out, plaintext_len_out);
    return cmd.call();
  });
}
}  // namespace

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_pkcs1v15Enc(
    JNIEnv *env, jclass, jint session_handle, jlong key_handle, jint modlength, jint block_type,
    jbyteArray plaintext, jbyteArray ciphertext_out) {
  return rsa_encrypt(env, jce::process_rsa_pkcs::PKCS15ENC, session_handle, key_handle, modlength,
                     block_type, 0, plaintext, ciphertext_out);
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_pkcs1v15Dec(
    JNIEnv *env, jclass, jint session_handle, jlong key_handle, jint modlength, jint block_type,
    jbyteArray ciphertext, jbyteArray plaintext_out, jintArray plaintext_len_out) {
  return rsa_decrypt(env, jce::process_rsa_pkcs::PKCS15DEC, session_handle, key_handle, modlength,
                     block_type, 0, ciphertext, plaintext_out, plaintext_len_out);
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_pkcs1v22Enc(
    JNIEnv *env, jclass, jint session_handle, jlong key_handle, jint modlength, jint hash_type,
    jbyteArray plaintext, jbyteArray ciphertext_out) {
  return rsa_encrypt(env, jce::process_rsa_pkcs::PKCS22ENC, session_handle, key_handle, modlength,
                     OAEP, hash_type, plaintext, ciphertext_out);
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_pkcs1v22Dec(
    JNIEnv *env, jclass, jint session_handle, jlong key_handle, jint modlength, jint hash_type,
    jbyteArray ciphertext, jbyteArray plaintext_out, jintArray plaintext_len_out) {
  return rsa_decrypt(env, jce::process_rsa_pkcs::PKCS22DEC, session_handle, key_handle, modlength,
                     OAEP, hash_type, ciphertext, plaintext_out, plaintext_len_out);
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_modExpEnc(JNIEnv *env, jclass,
                                                                   jint session_handle,
                                                                   jlong key_handle, jint modlength,
                                                                   jbyteArray plaintext,
                                                                   jbyteArray ciphertext_out) {
  return rsa_encrypt(env, jce::process_rsa_pkcs::MODEXPENC, session_handle, key_handle, modlength,
                     0, 0, plaintext, ciphertext_out);
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_modExpDec(JNIEnv *env, jclass,
                                                                   jint session_handle,
                                                                   jlong key_handle, jint modlength,
                                                                   jbyteArray ciphertext,
                                                                   jbyteArray plaintext_out) {
  return rsa_decrypt(env, jce::process_rsa_pkcs::MODEXPDEC, session_handle, key_handle, modlength,
                     0, 0, ciphertext, plaintext_out, nullptr);
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_processAESGCM(
    JNIEnv *env, jclass, jint session_handle, jint operation, jbyteArray input, jbyteArray output,
    jintArray output_len, jbyteArray aad, jbyteArray aad_tag, jbyteArray aad_tag_out, jbyteArray iv,
    jlong key_handle) {
  return jce::guarded_call([&] {
    jce::process_aes_gcm cmd(env, session_handle, operation, input, output, output_len, aad,
                             aad_tag, aad_tag_out, iv, key_handle);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_aesWrap(
    JNIEnv *env, jclass, jint session_handle, jlong key_handle, jbyteArray key_data,
    jbyteArray key_out, jintArray key_out_len) {
  return jce::guarded_call([&] {
    jce::key_wrap cmd(env, jce::key_wrap::WRAP, session_handle, key_handle, key_data, key_out,
                      key_out_len);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Cryptography_ecdhAgreement(
    JNIEnv *env, jclass, jint session_handle, jint cid, jbyteArray prime, jbyteArray peer_pub_x,
    jbyteArray peer_pub_y, jlong priv_key_handle, jbyteArray pub_x, jbyteArray pub_y) {
  return jce::guarded_call([&] {
    jce::key_agreement cmd(env, session_handle, cid, prime, peer_pub_x, peer_pub_y, priv_key_handle,
                           pub_x, pub_y);
    return cmd.call();
  });
}

}  // extern "C"
