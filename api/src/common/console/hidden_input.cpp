// Console prompts for secrets: one line from standard input with the
// terminal's echo off, optionally confirmed by a second entry.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qel2_console.h"

namespace {

constexpr int kPasswordBufferSize = 33;  // 32 characters and a NUL
constexpr size_t kMaxPasswordLen = 32;
constexpr size_t kConfirmMinLen = 7;  // shorter passwords are not confirmed

// Compares two texts in a fixed number of rounds, never stopping early; a
// shorter text keeps presenting its NUL.
bool same_text(const char *a, const char *b, size_t rounds) {
  unsigned acc = 0;
  size_t i = 0, j = 0;
  for (size_t r = 0; r < rounds; ++r) {
    acc |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[j]);
    if (a[i]) ++i;
    if (b[j]) ++j;
  }
  return acc == 0;
}

void wipe_and_free(char *s, size_t n) {
  if (!s) return;
  explicit_bzero(s, n);
  std::free(s);
}

void wipe_and_free(char *s) {
  if (s) wipe_and_free(s, std::strlen(s));
}

// Makes room for `need` bytes in *line (capacity *cap, `used` of them
// filled). A larger buffer takes the text over and the old one is wiped,
// so no copy of a secret is left in freed memory.
bool make_room(char **line, size_t *cap, size_t used, size_t need) {
  if (need <= *cap) return true;
  size_t grown = *cap ? *cap : 64;
  while (grown < need) grown *= 2;
  char *bigger = static_cast<char *>(std::malloc(grown));
  if (!bigger) return false;
  if (used) std::memcpy(bigger, *line, used);
  wipe_and_free(*line, *cap);
  *line = bigger;
  *cap = grown;
  return true;
}

// One line of standard input, as getline reads it: the count includes the
// newline; -1 at the end of input, on an error or when memory runs out.
ssize_t read_line(char **line, size_t *cap) {
  size_t n = 0;
  int c = 0;
  while ((c = std::getc(stdin)) != EOF) {
    if (!make_room(line, cap, n, n + 2)) return -1;  // the character and a NUL
    (*line)[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0 || (c == EOF && std::ferror(stdin))) return -1;
  (*line)[n] = '\0';
  return static_cast<ssize_t>(n);
}

}  // namespace

extern "C" {

QEL2_EXPORT hide_string_read_ret readhiddenstring(char **pstring, int len, char *msg) {
  if (!pstring) return HIDE_STRING_READ_RET_INVALID_INPUT;
  struct termios saved;
  if (tcgetattr(STDIN_FILENO, &saved) != 0) {
    printf("Error: Failed to get console attribute");
    return HIDE_STRING_READ_RET_FAILURE;
  }
  struct termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
    printf("Error: Failed to set non-echo console attribute");
    return HIDE_STRING_READ_RET_FAILURE;
  }
  printf("%s ", msg ? msg : "");
  fflush(stdout);

  hide_string_read_ret result = HIDE_STRING_READ_RET_SUCCESS;
  char *line = nullptr;
  size_t cap = 0;
  clearerr(stdin);  // an earlier end of input must not answer this prompt
  ssize_t n = read_line(&line, &cap);
  if (n < 0) {
    result = HIDE_STRING_READ_RET_FAILURE;
  } else {
    if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
    if (*pstring) {
      if (n >= len)
        result = HIDE_STRING_READ_RET_MAX_LEN_ERR;
      else
        std::memcpy(*pstring, line, static_cast<size_t>(n) + 1);
    }
  }

  printf("\n");  // the operator's Enter was not echoed
  fflush(stdout);
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved) != 0) {
    printf("Error: Failed to set echo console mode");
    result = HIDE_STRING_READ_RET_FAILURE;
  }
  if (!*pstring && result == HIDE_STRING_READ_RET_SUCCESS) {
    *pstring = line;
    return result;
  }
  wipe_and_free(line, cap);
  return result;
}

QEL2_EXPORT hide_string_read_ret readhiddenpassword(char **ppasswd, int len, char *msg) {
  return readhiddenstring(ppasswd, len, msg);
}

QEL2_EXPORT int read_and_verify_hidden_passwd(char *pHiddenPswd1, Uint32 *pPswdLen, char *msg1,
                                              char *msg2) {
  if (!pHiddenPswd1 || !msg1) {
    printf("Invalid input");
    return HIDE_PSWD_READ_RET_INVALID_INPUT;
  }
  if (pPswdLen) *pPswdLen = 0;
  char *entry = pHiddenPswd1;
  int rc = readhiddenpassword(&entry, kPasswordBufferSize, msg1);
  if (rc == HIDE_PSWD_READ_RET_FAILURE) {
    printf("Failed to read password");
    return rc;
  }
  if (rc != HIDE_PSWD_READ_RET_SUCCESS) return rc;

  const size_t len = strnlen(pHiddenPswd1, kMaxPasswordLen);
  if (msg2 && len >= kConfirmMinLen) {
    char confirm[kPasswordBufferSize] = {};
    char *again = confirm;
    rc = readhiddenpassword(&again, kPasswordBufferSize, msg2);
    const bool same =
        rc == HIDE_PSWD_READ_RET_SUCCESS && same_text(pHiddenPswd1, confirm, kPasswordBufferSize);
    explicit_bzero(confirm, sizeof confirm);
    if (rc != HIDE_PSWD_READ_RET_SUCCESS) {
      if (rc == HIDE_PSWD_READ_RET_FAILURE) printf("Failed to read confirm password");
      return rc;
    }
    if (!same) {
      printf("Password Mismatch");
      return HIDE_PSWD_READ_RET_PSWD_MISMATCH;
    }
  }
  if (pPswdLen) *pPswdLen = static_cast<Uint32>(len);
  return HIDE_PSWD_READ_RET_SUCCESS;
}

QEL2_EXPORT int read_and_verify_hidden_string(char **ppHiddenstr1, Uint32 *pStrLen, char *strName,
                                              char *msg1, char *msg2) {
  if (!ppHiddenstr1 || !msg1 || *ppHiddenstr1 || !strName) {
    printf("Invalid input");
    return HIDE_STRING_READ_RET_INVALID_INPUT;
  }
  if (pStrLen) *pStrLen = 0;
  char *text = nullptr;
  int rc = readhiddenstring(&text, 0, msg1);
  if (rc != HIDE_STRING_READ_RET_SUCCESS) {
    printf("Failed to read %s\n", strName);
    return rc;
  }
  const size_t len = std::strlen(text);
  if (len == 0) {
    printf("Entered invalid %s\n", strName);
    wipe_and_free(text);
    return HIDE_STRING_READ_RET_INVALID_INPUT;
  }
  if (msg2) {
    char *again = nullptr;
    rc = readhiddenstring(&again, 0, msg2);
    if (rc != HIDE_STRING_READ_RET_SUCCESS) {
      printf("Failed to read %s confirmation\n", strName);
      wipe_and_free(text);
      return rc;
    }
    if (again[0] == '\0') {
      printf("Entered invalid %s confirmation\n", strName);
      wipe_and_free(again);
      wipe_and_free(text);
      return HIDE_STRING_READ_RET_INVALID_INPUT;
    }
    const bool same = same_text(text, again, len + 1);
    wipe_and_free(again);
    if (!same) {
      printf("%s Mismatch\n", strName);
      wipe_and_free(text);
      return HIDE_STRING_READ_RET_STR_MISMATCH;
    }
  }
  *ppHiddenstr1 = text;
  if (pStrLen) *pStrLen = static_cast<Uint32>(len);
  return HIDE_STRING_READ_RET_SUCCESS;
}

}  // extern "C"
