/* keys: new keys on the HSM, in C11.
 *
 *   keys [partition] [user] [password]
 *
 * After login, generates an AES-256 key, an RSA-2048 key pair and an EC
 * P-256 key pair as session objects (they go when the session closes), reads
 * both public keys back as DER SubjectPublicKeyInfo and checks on the host
 * with OpenSSL that they are what was asked for; then deletes the EC pair. */
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include "example_session.h"

/* Reads a public key from the HSM and opens it with the host's libcrypto;
 * the caller frees the result. NULL when either fails. */
static EVP_PKEY *read_public_key(Uint32 session, Uint64 pub) {
  Uint8 der[2048];
  Uint32 len = sizeof der; /* in: the buffer's size, out: the key's length */
  const unsigned char *p = der;
  EVP_PKEY *key;
  if (!step("read the public key (DER)", Qel2ExportPublicKey(session, pub, der, &len))) return NULL;
  key = d2i_PUBKEY(NULL, &p, (long)len);
  if (!key || p != der + len) {
    printf("  the host cannot read the %lu bytes as a public key\n", (unsigned long)len);
    EVP_PKEY_free(key);
    return NULL;
  }
  return key;
}

int main(int argc, char **argv) {
  Uint32 app = 0, session = 0;
  Uint8 label[] = "example";
  Uint32 label_len = (Uint32)strlen((const char *)label);
  Uint64 aes = 0, rsa_pub = 0, rsa_priv = 0, ec_pub = 0, ec_priv = 0;
  EVP_PKEY *key;
  char group[64] = "";
  int ok = 1;

  if (!example_login(argc, argv, &app, &session)) return 1;

  /* A 32-byte AES key: no sharing (no sessions, no users), M value 0, no
   * id, a label, kept in the session (STORAGE_FLASH would make it a token
   * object that outlives the session). */
  if (step("generate an AES-256 key",
           Qel2GenerateSymmetricKey(session, KEY_TYPE_AES, 32, NULL, 0, NULL, 0, 0, NULL, 0, label,
                                    label_len, STORAGE_RAM, &aes)))
    printf("  key handle %llu\n", (unsigned long long)aes);
  else
    ok = 0;

  /* An RSA key pair: modulus bits and public exponent; no curve, prime or
   * base; both halves labelled. */
  if (step("generate an RSA-2048 key pair",
           Qel2GenerateKeyPair(session, KEY_TYPE_RSA, 2048, 65537, 0, 0, NULL, 0, NULL, NULL, 0,
                               NULL, 0, NULL, 0, label, label_len, label, label_len, STORAGE_RAM,
                               &rsa_pub, &rsa_priv))) {
    printf("  public key handle %llu, private key handle %llu\n", (unsigned long long)rsa_pub,
           (unsigned long long)rsa_priv);
    key = read_public_key(session, rsa_pub);
    if (key && EVP_PKEY_is_a(key, "RSA") && EVP_PKEY_get_bits(key) == 2048)
      printf("  on the host: an RSA public key of %d bits\n", EVP_PKEY_get_bits(key));
    else
      ok = 0;
    EVP_PKEY_free(key);
  } else {
    ok = 0;
  }

  /* An EC key pair: the curve is OpenSSL's curve number (NID), here P-256
   * (415); no modulus length or exponent. */
  if (step("generate an EC P-256 key pair",
           Qel2GenerateKeyPair(session, KEY_TYPE_EC, 0, 0, NID_X9_62_prime256v1, 0, NULL, 0, NULL,
                               NULL, 0, NULL, 0, NULL, 0, label, label_len, label, label_len,
                               STORAGE_RAM, &ec_pub, &ec_priv))) {
    printf("  public key handle %llu, private key handle %llu\n", (unsigned long long)ec_pub,
           (unsigned long long)ec_priv);
    key = read_public_key(session, ec_pub);
    if (key && EVP_PKEY_is_a(key, "EC") &&
        EVP_PKEY_get_group_name(key, group, sizeof group, NULL) == 1 &&
        strcmp(group, "prime256v1") == 0)
      printf("  on the host: an EC public key on %s\n", group);
    else
      ok = 0;
    EVP_PKEY_free(key);
  } else {
    ok = 0;
  }

  /* Deleting removes one object: the two halves of a key pair are two
   * objects, so the public key stays until it is deleted too. */
  if (ec_priv && ec_pub) {
    if (!step("delete the EC private key", Qel2DeleteKey(session, ec_priv))) ok = 0;
    key = read_public_key(session, ec_pub);
    if (key)
      printf("  the public key is still there\n");
    else
      ok = 0;
    EVP_PKEY_free(key);
    if (!step("delete the EC public key", Qel2DeleteKey(session, ec_pub))) ok = 0;
  }

  return example_logout(app, session, ok);
}
