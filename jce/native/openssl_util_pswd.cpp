// Password checks before a login: length limits and a bounded copy into the
// caller's login buffer. The password reaches the login command unchanged.
#include <cstdio>
#include <cstring>

#include "qel2_errors.h"
#include "qel2_openssl_util.h"

namespace {

// The only password a zeroize accepts.
constexpr char kZeroizePassword[] = "quillop";

// Steps every password function shares: presence and length.
Uint32 check_pswd(const Uint8 *pswd, Uint32 pswd_len, const Uint8 *enc_pswd,
                  const Uint32 *enc_pswd_len) {
  // A missing output would otherwise be written through a null pointer.
  if (!pswd || pswd_len == 0 || !enc_pswd || !enc_pswd_len) return ERR_ARGUMENTS_BAD;
  if (pswd_len < QEL2_PSWD_MIN_LEN || pswd_len > QEL2_PSWD_MAX_LEN) {
    printf("min pswd len %d and max pswd len %d\n", QEL2_PSWD_MIN_LEN, QEL2_PSWD_MAX_LEN);
    return ERR_ARGUMENTS_BAD;
  }
  return 0;
}

}  // namespace

extern "C" {

Uint32 y5dev_strncpy(char *dest, const char *src, size_t destbuf_len, size_t srcstr_len) {
  if (srcstr_len >= destbuf_len) return ERR_INVALID_STRING_OP;
  strncpy(dest, src, srcstr_len);
  dest[srcstr_len] = '\0';
  return 0;
}

Uint32 encrypt_pswd2(Uint32 session_handle, Uint8 *pswd, Uint32 pswd_len, Uint8 *enc_pswd,
                     Uint32 *enc_pswd_len, Uint8 *PEK, Uint32 PEK_len) {
  (void)session_handle;
  (void)PEK;
  (void)PEK_len;
  if (Uint32 r = check_pswd(pswd, pswd_len, enc_pswd, enc_pswd_len)) return r;
  if (Uint32 r = y5dev_strncpy(reinterpret_cast<char *>(enc_pswd),
                               reinterpret_cast<const char *>(pswd), QEL2_PSWD_BUF_LEN, pswd_len))
    return r;
  *enc_pswd_len = pswd_len;
  return 0;
}

Uint32 encrypt_pswd(Uint32 session_handle, Uint8 *pswd, Uint32 pswd_len, Uint8 *enc_pswd,
                    Uint32 *enc_pswd_len) {
  return encrypt_pswd2(session_handle, pswd, pswd_len, enc_pswd, enc_pswd_len, nullptr, 0);
}

Uint32 encrypt_pswd_in_zeroize(Uint32 session_handle, Uint8 *pswd, Uint32 pswd_len, Uint8 *enc_pswd,
                               Uint32 *enc_pswd_len) {
  (void)session_handle;
  if (Uint32 r = check_pswd(pswd, pswd_len, enc_pswd, enc_pswd_len)) return r;
  if (strncmp(reinterpret_cast<const char *>(pswd), kZeroizePassword, pswd_len) != 0)
    return RET_USER_LOGIN_FAILURE;
  if (y5dev_strncpy(reinterpret_cast<char *>(enc_pswd), reinterpret_cast<const char *>(pswd),
                    QEL2_PSWD_BUF_LEN, pswd_len))
    return RET_USER_LOGIN_FAILURE;
  *enc_pswd_len = pswd_len;
  return 0;
}

}  // extern "C"
