/* sign: sign on the HSM, verify on the host, in C11.
 *
 *   sign [partition] [user] [password]
 *
 * After login, generates an RSA-2048 and an EC P-256 key pair, signs a
 * message with each private key on the HSM (the HSM hashes it with
 * SHA-256), verifies each signature on the HSM with the public key object,
 * and then on the host with OpenSSL and the public key read from the HSM.
 * A changed message must fail both verifications. */
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include "example_session.h"

/* ECDSA signatures come from the HSM as r || s, each half the length; the
 * host's verifier takes the DER form. 0 when it cannot be converted. */
static int ecdsa_raw_to_der(const Uint8 *sig, Uint32 len, Uint8 *der, size_t der_size) {
  ECDSA_SIG *s = ECDSA_SIG_new();
  BIGNUM *r = BN_bin2bn(sig, (int)(len / 2), NULL);
  BIGNUM *sv = BN_bin2bn(sig + len / 2, (int)(len / 2), NULL);
  int n = 0;
  if (s && r && sv && len % 2 == 0 && ECDSA_SIG_set0(s, r, sv) == 1) {
    r = sv = NULL; /* now owned by s */
    if (i2d_ECDSA_SIG(s, NULL) <= (int)der_size) n = i2d_ECDSA_SIG(s, &der);
  }
  BN_free(r);
  BN_free(sv);
  ECDSA_SIG_free(s);
  return n > 0 ? n : 0;
}

/* Verifies with the host's libcrypto and the DER public key: 1 valid. */
static int host_verify(const Uint8 *pub_der, Uint32 pub_len, const Uint8 *msg, size_t msg_len,
                       const Uint8 *sig, size_t sig_len) {
  const unsigned char *p = pub_der;
  EVP_PKEY *pub = d2i_PUBKEY(NULL, &p, (long)pub_len);
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  int valid = pub && ctx &&
              EVP_DigestVerifyInit_ex(ctx, NULL, "SHA256", NULL, NULL, pub, NULL) == 1 &&
              EVP_DigestVerify(ctx, sig, sig_len, msg, msg_len) == 1;
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(pub);
  return valid;
}

/* One key pair: generate, sign, verify on the HSM and on the host. */
static int sign_and_verify(Uint32 session, const char *what, Uint32 key_type, Uint32 bits,
                           Uint32 curve, Uint32 mech) {
  static const char kMessage[] = "a message signed on the HSM";
  static const char kChanged[] = "a message signed on the HSN";
  const Uint32 msg_len = (Uint32)(sizeof kMessage - 1);
  Uint8 label[] = "example";
  Uint64 pub = 0, priv = 0;
  Uint8 sig[512], der_sig[600], pub_der[2048];
  Uint32 sig_len = sizeof sig, pub_len = sizeof pub_der;
  const Uint8 *host_sig = sig;
  size_t host_sig_len;
  int ok = 1;

  printf("-- %s\n", what);
  if (!step("generate the key pair",
            Qel2GenerateKeyPair(session, key_type, bits, bits ? 65537 : 0, curve, 0, NULL, 0, NULL,
                                NULL, 0, NULL, 0, NULL, 0, label, sizeof label - 1, label,
                                sizeof label - 1, STORAGE_RAM, &pub, &priv)))
    return 0;

  /* sig_len: the buffer's size in, the signature's length out. */
  if (!step("sign on the HSM",
            Qel2Sign(session, (Uint8 *)kMessage, msg_len, sig, &sig_len, priv, mech)))
    return 0;
  printf("  a signature of %lu bytes\n", (unsigned long)sig_len);

  /* On the HSM the result is the verdict: 0 for a valid signature. */
  if (!step("verify on the HSM",
            Qel2Verify(session, (Uint8 *)kMessage, msg_len, sig, sig_len, pub, mech)))
    ok = 0;
  {
    Uint32 r = Qel2Verify(session, (Uint8 *)kChanged, msg_len, sig, sig_len, pub, mech);
    printf("%-32s 0x%08x  %s\n", "verify a changed message", (unsigned)r,
           (const char *)Qel2ResultAsString(r));
    if (r == 0) ok = 0;
  }

  /* On the host: the public key as DER SubjectPublicKeyInfo. */
  if (!step("read the public key (DER)", Qel2ExportPublicKey(session, pub, pub_der, &pub_len)))
    return 0;
  host_sig_len = sig_len;
  if (key_type == KEY_TYPE_EC) {
    host_sig_len = (size_t)ecdsa_raw_to_der(sig, sig_len, der_sig, sizeof der_sig);
    host_sig = der_sig;
  }
  if (host_sig_len &&
      host_verify(pub_der, pub_len, (const Uint8 *)kMessage, msg_len, host_sig, host_sig_len)) {
    printf("%-32s the signature is valid\n", "verify on the host");
  } else {
    printf("%-32s the signature is NOT valid\n", "verify on the host");
    ok = 0;
  }
  if (host_sig_len &&
      host_verify(pub_der, pub_len, (const Uint8 *)kChanged, msg_len, host_sig, host_sig_len)) {
    printf("  the host accepted it for a changed message\n");
    ok = 0;
  }
  return ok;
}

int main(int argc, char **argv) {
  Uint32 app = 0, session = 0;
  int ok = 1;

  if (!example_login(argc, argv, &app, &session)) return 1;
  if (!sign_and_verify(session, "RSA-2048, PKCS #1 v1.5 with SHA-256", KEY_TYPE_RSA, 2048, 0,
                       MECH_SHA256_RSA_PKCS))
    ok = 0;
  if (!sign_and_verify(session, "EC P-256, ECDSA with SHA-256", KEY_TYPE_EC, 0,
                       NID_X9_62_prime256v1, MECH_ECDSA_SHA256))
    ok = 0;
  return example_logout(app, session, ok);
}
