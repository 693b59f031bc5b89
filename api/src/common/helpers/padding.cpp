// Block padding of key material to 8-byte blocks.
#include <cstdio>
#include <cstring>

#include "qel2_errors.h"
#include "qel2_helpers.h"

void add_padding(Uint8 *data, Uint8 pad_len) {
  if (!data) {
    printf("Null parameters are passed");
    return;
  }
  memset(data, pad_len, pad_len);
}

Uint32 verify_and_remove_aes_padding(Uint8 *data, Uint32 *data_len) {
  if (!data || !data_len) {
    printf("Null parameters are passed");
    return RET_INVALID_INPUT;
  }
  if (*data_len == 0) return RET_INVALID_INPUT;
  const Uint8 pad = data[*data_len - 1];
  if (pad < 1 || pad > PKCS8_MAX_PAD_SIZE || pad > *data_len) {
    printf("invalid aes pad data len %d\n", pad);
    return RET_INVALID_INPUT;
  }
  for (Uint32 i = *data_len - pad; i < *data_len; ++i) {
    if (data[i] != pad) {
      printf("invalid pad data %s\n", "verify_and_remove_aes_padding");
      return RET_INVALID_INPUT;
    }
  }
  *data_len -= pad;
  return 0;
}
