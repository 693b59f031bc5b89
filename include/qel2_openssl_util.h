/* Host-side helpers of the Java bridge that native callers may use too. */
#ifndef QEL2_OPENSSL_UTIL_H
#define QEL2_OPENSSL_UTIL_H

#include "qel2_defs.h"

QEL2_EXTERN_C_BEGIN

/* ---- passwords ----
 * The password functions check a password's length (7 to 32 characters) and
 * copy it, NUL-terminated, into the caller's login buffer of at least 256
 * bytes; the length is reported without the NUL. Nothing is written when a
 * check fails. The session handle and PEK arguments are not used. */

#define QEL2_PSWD_MIN_LEN 7
#define QEL2_PSWD_MAX_LEN 32
#define QEL2_PSWD_BUF_LEN 256

/* Copies at most srcstr_len characters of src (stopping at a NUL, zero-filling
 * the rest) and a NUL after them when srcstr_len < destbuf_len: 0. Otherwise
 * copies nothing: ERR_INVALID_STRING_OP. */
QEL2_EXPORT Uint32 y5dev_strncpy(char *dest, const char *src, size_t destbuf_len,
                                 size_t srcstr_len);

/* 0, ERR_ARGUMENTS_BAD (missing or out-of-range password, missing output;
 * a length refusal prints "min pswd len 7 and max pswd len 32"), or the copy's code. */
QEL2_EXPORT Uint32 encrypt_pswd2(Uint32 session_handle, Uint8 *pswd, Uint32 pswd_len,
                                 Uint8 *enc_pswd, Uint32 *enc_pswd_len, Uint8 *PEK, Uint32 PEK_len);
QEL2_EXPORT Uint32 encrypt_pswd(Uint32 session_handle, Uint8 *pswd, Uint32 pswd_len,
                                Uint8 *enc_pswd, Uint32 *enc_pswd_len);
/* As encrypt_pswd, and the password must be the zeroize text, else
 * RET_USER_LOGIN_FAILURE. */
QEL2_EXPORT Uint32 encrypt_pswd_in_zeroize(Uint32 session_handle, Uint8 *pswd, Uint32 pswd_len,
                                           Uint8 *enc_pswd, Uint32 *enc_pswd_len);

/* ---- RSA-PSS blocks around a raw exponentiation on the HSM ----
 * EMSA-PSS with MGF1 of the same digest (hash types 2 to 6), for a modulus of
 * modSize bytes (128 to 512) whose block has 8 * modSize - 1 significant bits;
 * salt lengths 0 to min(hash length, modSize - hash length - 2). EM holds
 * modSize bytes, mHash the digest. 0 on success; ERR_ARGUMENTS_BAD for the
 * arguments, ERR_MEMORY_ALLOC_FAILURE, RET_ERROR when the block cannot be
 * made or does not check. */
QEL2_EXPORT int tzl_add_rsa_pss_padding(unsigned char *EM, unsigned char *mHash, HashType hType,
                                        int modSize, int sLen);
QEL2_EXPORT int tzl_verify_rsa_pss_padding(unsigned char *EM, unsigned char *mHash, HashType hType,
                                           int modSize, int sLen);

/* ---- RSA private key components ----
 * Splits a DER PKCS#8 RSA private key into the block n, d (mod bytes each),
 * q, d mod (q-1), p, d mod (p-1), q^-1 mod p (mod / 2 bytes each), e (mod
 * bytes), every value right-aligned in a zero-filled field. *pulKeyLen: the
 * buffer size on entry, the block length on return (also with
 * ERR_BUFFER_TOO_SMALL, when nothing is written); *ulModLen: mod.
 * ERR_ARGUMENTS_BAD, ERR_KEY_INCONSISTENT for anything but a usable RSA key. */
QEL2_EXPORT Uint32 getRawKeyFromRsaPkcs8(Uint8 *pinKey, Uint32 inKeyLen, Uint8 *pOutKey,
                                         Uint32 *pulKeyLen, Uint32 *ulModLen);

/* ---- numbering tables ---- */
/* Compact curve indices of get_openssl_curve_id. */
enum {
  UTIL_EC_CURVE_ID_X9_62_prime192v1 = 1,
  UTIL_EC_CURVE_ID_X9_62_prime256v1,
  UTIL_EC_CURVE_ID_sect163k1,
  UTIL_EC_CURVE_ID_sect163r2,
  UTIL_EC_CURVE_ID_sect233k1,
  UTIL_EC_CURVE_ID_sect233r1,
  UTIL_EC_CURVE_ID_sect283k1,
  UTIL_EC_CURVE_ID_sect283r1,
  UTIL_EC_CURVE_ID_sect409k1,
  UTIL_EC_CURVE_ID_sect409r1,
  UTIL_EC_CURVE_ID_sect571k1,
  UTIL_EC_CURVE_ID_sect571r1,
  UTIL_EC_CURVE_ID_secp224r1,
  UTIL_EC_CURVE_ID_secp384r1,
  UTIL_EC_CURVE_ID_secp521r1,
  UTIL_EC_CURVE_ID_secp256k1
};
/* The OpenSSL curve number (a key object's curve); 0 and a message for an
 * index outside the table. */
QEL2_EXPORT int get_openssl_curve_id(int id);
/* KeyType of an OpenSSL key type (RSA, DSA, EC); the others below give
 * mechanism numbers by compact index. All return 0xFFFFFFFF (-1) outside
 * their table. */
QEL2_EXPORT int get_key_type(Uint32 evp_pkey_type);
QEL2_EXPORT int get_wrap_mechanism(Uint32 ulMech);
QEL2_EXPORT int get_sign_mechanism(Uint32 ulMech);
QEL2_EXPORT int get_derive_mechanism(Uint32 ulMech);

QEL2_EXTERN_C_END

#endif
