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

/* ---- key-encryption key files and the master key ----
 * The host's side of a key-encryption key: key pairs written as PEM files the
 * caller names, keys read from PEM or DER files, and the 64-byte master key
 * derived from what Qel2GenKeyEncKeyNew exchanged with the HSM. Results are
 * 0 or RET_ERROR (128), after a message on standard output. */

#define QEL2_KEK_MASTER_KEY_LEN 64
#define QEL2_KEY_FORMAT_DER 1
#define QEL2_KEY_FORMAT_PEM 2
#define QEL2_KEY_PUBLIC 1
#define QEL2_KEY_PRIVATE 2

struct evp_pkey_st; /* OpenSSL's EVP_PKEY */

/* EC key pair on the curve of that OpenSSL short name ("prime256v1"): the
 * private file holds the curve parameters and the unencrypted private key,
 * the public file the public key (PUBKEY). The files are replaced whole and
 * as a pair (new files swapped in at the names, so a link at a name is
 * replaced, not written through), every step in the directories the names
 * led to when the call began. In a directory that only its owner may write,
 * a file replaced keeps its owner, group and permission bits as far as the
 * caller may set them, except that a private key file gives others no
 * access, nor its group when the group could not be kept. Anywhere else, and
 * where nothing was, the file is the caller's and new: a private key file
 * 0600 whatever the umask. Writers of one pair take turns (a lock on each
 * directory; a call that waits for it some seconds in vain fails with the
 * files unchanged). Every argument is checked before any file is touched,
 * and a refused or failed call leaves both names as they were. A FIFO,
 * device or directory at a name is refused, and so are two names that lead
 * to one file (the same path, the same entry spelled two ways, a link from
 * one name to the other): RET_ERROR. */
QEL2_EXPORT Uint32 generate_kek_ecc_key_pair(Int8 *curve_name, Int8 *priv_key_file,
                                             Int8 *pub_key_file);
/* RSA key pair of mod_size bits (512 to 16384), public exponent 65537: the
 * unencrypted private key (RSA PRIVATE KEY) and the public key (PUBKEY),
 * written as for the EC pair. */
QEL2_EXPORT Uint32 generate_kek_rsa_key_pair(Uint32 mod_size, Int8 *priv_key_file,
                                             Int8 *pub_key_file);
/* The key in the file (format 1 DER, 2 PEM; key_type 1 public, 2 private),
 * to be freed with EVP_PKEY_free; null when none could be read. */
QEL2_EXPORT struct evp_pkey_st *load_pkey(const char *file, int format, int key_type);
/* SHA-512 over four zero bytes, the premaster, the label up to its NUL, the
 * host nonce, the target nonce and the serial number up to its NUL, into
 * the 64 bytes at mk. g_id and g_pswd are not used. Always 0. */
QEL2_EXPORT Uint32 KDF(Uint8 *pmk, Uint32 pmk_len, Uint8 *label, Uint32 host_nonce_len,
                       Uint8 *s_nonce, Uint32 tgt_nonce_len, Uint8 *t_nonce, Uint8 *g_id,
                       Uint8 *g_pswd, Uint8 *serial_number, Uint8 *mk);
/* The master key of a key-encryption key, from the host's private key
 * "/opt/hsm//pxdv<dev_id>/kek_pri_key.pem_<partition>" (partition from the
 * session handle). Method 0 (ECDH) agrees with the HSM's key stored beside it
 * and takes the 32 nonce bytes at nonce_out as the target nonce; any other
 * method decrypts the nonce_out_len bytes at nonce_out (RSA, no padding) and
 * takes as many as the secret is long. nonce_in is the host's 32-byte nonce. */
QEL2_EXPORT Uint32 compute_master_key(int dev_id, Uint32 session_handle, Uint32 kek_method,
                                      Uint8 *nonce_in, Uint8 *nonce_out, Uint32 nonce_out_len,
                                      Uint8 *label, Uint8 *serial_number, Uint8 *mk);

QEL2_EXTERN_C_END

#endif
