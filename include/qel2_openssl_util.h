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

QEL2_EXTERN_C_END

#endif
