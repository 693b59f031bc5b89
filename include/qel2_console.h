/* Console prompts for hidden input: one line read from standard input with
 * the terminal's echo switched off. */
#ifndef QEL2_CONSOLE_H
#define QEL2_CONSOLE_H

#include "qel2_defs.h"

QEL2_EXTERN_C_BEGIN

typedef enum hide_string_read_ret {
  HIDE_STRING_READ_RET_SUCCESS = 0,
  HIDE_STRING_READ_RET_FAILURE = 1,
  HIDE_STRING_READ_RET_INVALID_INPUT = 2,
  HIDE_STRING_READ_RET_MAX_LEN_ERR = 3,
  HIDE_STRING_READ_RET_STR_MISMATCH = 4
} hide_string_read_ret;

enum {
  HIDE_PSWD_READ_RET_SUCCESS = 0,
  HIDE_PSWD_READ_RET_FAILURE = 1,
  HIDE_PSWD_READ_RET_INVALID_INPUT = 2,
  HIDE_PSWD_READ_RET_MAX_LEN_ERR = 3,
  HIDE_PSWD_READ_RET_PSWD_MISMATCH = 4
};

/* Prompts with msg and reads one line without echo. With *pstring set the
 * text goes into that buffer of len bytes; with *pstring null the line is
 * handed over (release with free). */
QEL2_EXPORT hide_string_read_ret readhiddenstring(char **pstring, int len, char *msg);
QEL2_EXPORT hide_string_read_ret readhiddenpassword(char **ppasswd, int len, char *msg);

/* A password of at most 32 characters into the caller's 33-byte buffer,
 * confirmed with msg2 when given and the password is longer than 6. */
QEL2_EXPORT int read_and_verify_hidden_passwd(char *pHiddenPswd1, Uint32 *pPswdLen, char *msg1,
                                              char *msg2);

/* A text of any length into a new buffer in *ppHiddenstr1 (null on entry;
 * release with free), confirmed with msg2 when given. */
QEL2_EXPORT int read_and_verify_hidden_string(char **ppHiddenstr1, Uint32 *pStrLen, char *strName,
                                              char *msg1, char *msg2);

QEL2_EXTERN_C_END

#endif
