// The engine's primitive operations, on bytes and Keys. Each returns 0 or
// a code for the request status (hsm/codes.h): ERR_BAD_LENGTH for operands
// of the wrong size, ERR_UNSUPPORTED_OPCODE for an algorithm OpenSSL lacks,
// ERR_SIGNATURE_MISMATCH_V2 for a failed verification or authentication
// tag, ERR_BAD_PKCS_DATA for padding that does not decode,
// RET_KEY_TYPE_INCONSISTENT for a key of the wrong kind.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "hsm/engine/key.h"

// OpenSSL's contexts, by name only.
typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace hsmsim::hsm::engine {

using In = std::span<const uint8_t>;

// ---- digests and MACs (digest names as digest_name() gives them) ----
uint32_t digest(const char *md, In data, Bytes &out);
// Incremental digest for hash contexts kept between requests.
class Digest {
 public:
  explicit Digest(const char *md);
  Digest(const Digest &);  // copies the state so far
  ~Digest();
  Digest &operator=(const Digest &) = delete;
  bool ok() const { return ctx_ != nullptr; }
  bool update(In data);
  uint32_t finish(Bytes &out);  // ends the context

 private:
  EVP_MD_CTX *ctx_ = nullptr;
};
uint32_t hmac(const char *md, In key, In data, Bytes &out);
uint32_t cmac_aes(In key, In data, Bytes &out);

// ---- symmetric ciphers ----
// Any EVP cipher by OpenSSL name ("AES-128-CBC", "DES-EDE3-ECB", "RC4",
// "AES-256-CTR", "id-aes128-wrap-pad", ...): key and IV must have the
// cipher's sizes (ERR_BAD_LENGTH); `pad` adds or removes PKCS#7 padding
// (block ciphers only); data of a block mode without padding must be whole
// blocks (ERR_BAD_LENGTH); a padding that does not decode ERR_BAD_PKCS_DATA;
// a key wrap that does not unwrap ERR_SIGNATURE_MISMATCH_V2. Names OpenSSL
// keeps in its legacy provider (single DES, RC4) are taken from there.
uint32_t cipher(const char *name, In key, In iv, bool encrypt, bool pad, In data, Bytes &out);
// A cipher whose state runs on from call to call (the RC4 stream of TLS
// records); ok() false when OpenSSL lacks it or refuses the key.
class RunningCipher {
 public:
  RunningCipher(const char *name, In key, bool encrypt);
  ~RunningCipher();
  RunningCipher(const RunningCipher &) = delete;
  RunningCipher &operator=(const RunningCipher &) = delete;
  bool ok() const { return ctx_ != nullptr; }
  // `in` through the cipher into `out` (as long as `in`); false on a failure.
  bool update(In in, Bytes &out);

 private:
  EVP_CIPHER_CTX *ctx_ = nullptr;
};
// AES-GCM ("AES-128-GCM" ...): IV of any non-zero length, tag of 4 to 16 bytes.
uint32_t gcm_encrypt(const char *name, In key, In iv, In aad, In data, size_t tag_len, Bytes &out,
                     Bytes &tag);
uint32_t gcm_decrypt(const char *name, In key, In iv, In aad, In data, In tag, Bytes &out);
// The AES cipher name for a key of that many bytes and a mode ("CBC",
// "ECB", "CTR", "GCM", "wrap", "wrap-pad"); null for another key size.
const char *aes_name(size_t key_len, const char *mode);

// ---- public-key operations ----
// RSA paddings and PSS salt lengths, numbered as OpenSSL numbers them
// (RSA_PKCS1_PADDING, RSA_NO_PADDING, ... and RSA_PSS_SALTLEN_*).
inline constexpr int kPadPkcs1 = 1, kPadNone = 3, kPadOaep = 4, kPadPss = 6;
inline constexpr int kSaltDigest = -1, kSaltAuto = -2;
struct RsaPadding {
  int mode = kPadPkcs1;           // kPadNone, kPadPkcs1, kPadOaep, kPadPss
  const char *md = nullptr;       // OAEP and PSS hash; PKCS#1 v1.5 signatures: DigestInfo of it
  const char *mgf1_md = nullptr;  // null: as md
  In label{};                     // OAEP label (points at the caller's bytes)
  int salt_len = kSaltDigest;     // PSS salt
};

// Signs a digest already computed (`md` of the padding names it; without
// one RSA signs the data as given, DSA and ECDSA sign it as the hash).
// ECDSA and DSA signatures are DER; see ecdsa_raw/ecdsa_der.
uint32_t sign(const Key &, const RsaPadding &, In digest, Bytes &sig);
uint32_t verify(const Key &, const RsaPadding &, In digest, In sig);
// Hashes and signs / verifies the message in one step.
uint32_t sign_message(const Key &, const char *md, const RsaPadding &, In msg, Bytes &sig);
uint32_t verify_message(const Key &, const char *md, const RsaPadding &, In msg, In sig);

uint32_t rsa_encrypt(const Key &, const RsaPadding &, In data, Bytes &out);
uint32_t rsa_decrypt(const Key &, const RsaPadding &, In data, Bytes &out);
// The premaster secret of a TLS RSA key exchange: PKCS#1 v1.5 decryption
// with TLS's implicit rejection (a bad block or a version other than
// `client_version` yields random bytes, never an error), 48 bytes.
// RET_ERROR when OpenSSL refuses the key or the sizes.
uint32_t rsa_tls_premaster(const Key &, In encrypted, unsigned client_version, Bytes &out);
// base^exponent mod modulus, as wide as the modulus; ERR_BAD_LENGTH for a
// zero or even modulus and for a base not below it.
uint32_t modexp(In base, In exponent, In modulus, Bytes &out);
// The same through the Chinese remainder theorem: m1 = base^dp mod p, m2 =
// base^dq mod q, result m2 + q * (qinv * (m1 - m2) mod p), `width` bytes;
// ERR_BAD_LENGTH for a zero p or q or numbers that do not compute.
uint32_t modexp_crt(In base, In p, In q, In dp, In dq, In qinv, size_t width, Bytes &out);

// ECDSA with the caller's k: r = (kG).x mod n, s = k^-1 (e + r d) mod n, each
// `width` bytes. ERR_POINT_AT_INFINITY for k a multiple of n, ERR_BAD_LENGTH
// for k not below n or an r or s of 0, RET_KEY_TYPE_INCONSISTENT for a key
// that is not a private EC key of a named curve.
uint32_t ecdsa_sign_with_k(const Key &, In k, In e, size_t width, Bytes &r, Bytes &s);

// ECDSA/DSA signature forms: DER SEQUENCE { r, s } and r || s of `width` bytes each.
bool ecdsa_raw(In der, size_t width, Bytes &raw);
bool ecdsa_der(In raw, Bytes &der);

// ECDH (or DH) shared secret of our private key with the peer's public key.
uint32_t derive(const Key &mine, const Key &peer, Bytes &secret);

// ---- elliptic-curve points (uncompressed 04 || X || Y) ----
// k * P, or k * G when `point` is empty; a + b, or 2 * a when `b` is empty. A point not on the
// curve ERR_BAD_PUBLIC_KEY, a result at infinity ERR_POINT_AT_INFINITY.
uint32_t ec_mul(int curve_nid, In scalar, In point, Bytes &out);
uint32_t ec_add(int curve_nid, In a, In b, Bytes &out);
// The curve's field prime, big-endian without leading zeros, and its length
// (a coordinate's width); empty and 0 for an unknown curve.
Bytes ec_prime(int curve_nid);
size_t ec_field_bytes(int curve_nid);

// ---- key derivation ----
// NIST SP 800-108 in counter mode with HMAC of `md` (OpenSSL's KBKDF),
// `out_len` bytes.
uint32_t kbkdf_counter_hmac(const char *md, In key, In label, In context, size_t out_len,
                            Bytes &out);
// PKCS#12 key derivation (RFC 7292, B.2) of `len` bytes: the password as
// given (the caller makes the BMPString), key material `id` (1: key).
uint32_t pkcs12_kdf(const char *md, In password, In salt, uint64_t iterations, int id, size_t len,
                    Bytes &out);
// The TLS PRF (OpenSSL's TLS1-PRF): P_<md> of RFC 5246, 5 over `seed` (the
// label then the seed proper); md "MD5-SHA1" gives TLS 1.0's P_MD5 XOR
// P_SHA1 over the secret's two halves (ceil(n/2) bytes each, sharing the
// middle byte when n is odd). ERR_UNSUPPORTED_OPCODE for an unknown md,
// RET_ERROR when OpenSSL refuses the sizes.
uint32_t tls1_prf(const char *md, In secret, In seed, size_t len, Bytes &out);

}  // namespace hsmsim::hsm::engine
