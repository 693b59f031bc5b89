/* gcm: AES-GCM with a key that stays on the HSM, in C11.
 *
 *   gcm [partition] [user] [password]
 *
 * After login, generates an AES-256 key, encrypts a message with additional
 * authenticated data, decrypts it again, and shows that a changed tag is
 * refused. Then, as a check that the HSM computed real AES-GCM, it exports
 * the key's value (wrapped and unwrapped with a second AES key, so it must be
 * extractable) and decrypts the ciphertext on the host with OpenSSL. */
#include <openssl/evp.h>

#include "example_session.h"

/* Decrypts with the host's libcrypto; 1 when the tag verifies and the
 * plaintext comes out. */
static int host_gcm_decrypt(const Uint8 *key, const Uint8 *iv12, const Uint8 *aad, int aad_len,
                            const Uint8 *ct, int len, const Uint8 *tag, Uint8 *out) {
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  int n = 0, fin = 0;
  int ok = ctx && EVP_DecryptInit_ex2(ctx, EVP_aes_256_gcm(), NULL, NULL, NULL) == 1 &&
           EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, 12, NULL) == 1 &&
           EVP_DecryptInit_ex2(ctx, NULL, key, iv12, NULL) == 1 &&
           EVP_DecryptUpdate(ctx, NULL, &n, aad, aad_len) == 1 &&
           EVP_DecryptUpdate(ctx, out, &n, ct, len) == 1 && n == len &&
           EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, (void *)tag) == 1 &&
           EVP_DecryptFinal_ex(ctx, out + n, &fin) == 1;
  EVP_CIPHER_CTX_free(ctx);
  return ok;
}

static void show_hex(const char *name, const Uint8 *b, size_t n) {
  size_t i;
  printf("  %-11s", name);
  for (i = 0; i < n; ++i) printf("%02x", b[i]);
  printf("\n");
}

int main(int argc, char **argv) {
  static const char kMessage[] = "attack at dawn, bring the HSM";
  static const char kAad[] = "header v1";
  const Uint16 len = (Uint16)(sizeof kMessage - 1);
  const Uint16 aad_len = (Uint16)(sizeof kAad - 1);
  Uint32 app = 0, session = 0;
  Uint8 label[] = "example";
  Uint64 key = 0, wrapping_key = 0;
  Uint8 iv[16] = {0}, sent_iv[16], tag[16], ct[sizeof kMessage], pt[sizeof kMessage];
  Uint8 value[64], host_pt[sizeof kMessage];
  Uint32 value_len = sizeof value;
  int ok = 1;

  if (!example_login(argc, argv, &app, &session)) return 1;

  if (!step("generate an AES-256 key",
            Qel2GenerateSymmetricKey(session, KEY_TYPE_AES, 32, NULL, 0, NULL, 0, 0, NULL, 0, label,
                                     sizeof label - 1, STORAGE_RAM, &key)))
    return example_logout(app, session, 0);

  /* The IV argument is 16 bytes, read and written. Here bytes 0-11 hold a
   * fresh 96-bit IV from the HSM's random generator and the rest are zero;
   * the stand-in takes the GCM IV from bytes 0-11. */
  if (!step("12 random bytes for the IV", Qel2Random(session, OSTREL_BLOCKING, 12, iv, NULL)))
    return example_logout(app, session, 0);
  memcpy(sent_iv, iv, sizeof iv);

  /* Encrypt: blocking (no request id); the tag is 16 bytes, and iv is
   * written back with the IV the HSM used. */
  if (!step("encrypt with AES-GCM",
            Qel2EncryptAesGcm(session, OSTREL_BLOCKING, iv, key, aad_len, (Uint8 *)kAad, len,
                              (Uint8 *)kMessage, ct, tag, NULL)))
    return example_logout(app, session, 0);
  show_hex("IV sent", sent_iv, sizeof sent_iv);
  show_hex("IV used", iv, sizeof iv);
  show_hex("ciphertext", ct, len);
  show_hex("tag", tag, sizeof tag);

  /* Decrypt with the IV the HSM returned, the same AAD and the tag. */
  memset(pt, 0, sizeof pt);
  if (step("decrypt with AES-GCM",
           Qel2DecryptAesGcm(session, OSTREL_BLOCKING, iv, key, aad_len, (Uint8 *)kAad, len, ct,
                             sizeof tag, tag, pt, NULL)) &&
      memcmp(pt, kMessage, len) == 0) {
    printf("  plaintext  \"%.*s\"\n", (int)len, (const char *)pt);
  } else {
    printf("  the plaintext is not the message\n");
    ok = 0;
  }

  /* One changed bit of the tag: the HSM refuses, and the output must not be
   * used. */
  tag[0] ^= 1;
  {
    Uint32 r = Qel2DecryptAesGcm(session, OSTREL_BLOCKING, iv, key, aad_len, (Uint8 *)kAad, len, ct,
                                 sizeof tag, tag, pt, NULL);
    printf("%-32s 0x%08x  %s\n", "decrypt with a changed tag", (unsigned)r,
           (const char *)Qel2ResultAsString(r));
    if (r == 0) {
      printf("  a changed tag was accepted\n");
      ok = 0;
    }
  }
  tag[0] ^= 1;

  /* The check on the host: the key's value, through a second AES key. */
  if (step("generate a wrapping key",
           Qel2GenerateSymmetricKey(session, KEY_TYPE_AES, 32, NULL, 0, NULL, 0, 0, NULL, 0, label,
                                    sizeof label - 1, STORAGE_RAM, &wrapping_key)) &&
      step("export the key's value",
           Qel2ExportSymmetricKey(session, key, wrapping_key, value, &value_len, 0)) &&
      value_len == 32 &&
      host_gcm_decrypt(value, sent_iv, (const Uint8 *)kAad, aad_len, ct, len, tag, host_pt) &&
      memcmp(host_pt, kMessage, len) == 0) {
    printf("%-32s the tag verifies and the plaintext is the message\n", "decrypt on the host");
  } else {
    printf("%-32s FAILED\n", "decrypt on the host");
    ok = 0;
  }
  OPENSSL_cleanse(value, sizeof value);

  return example_logout(app, session, ok);
}
