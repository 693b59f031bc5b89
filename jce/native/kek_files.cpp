// The host's side of a key-encryption key: host key pairs written as PEM
// files, keys read back from PEM or DER files, and the master key derived
// from the secret agreed with the HSM (ECDH with the HSM's key that the
// establishment stored, or RSA decryption of the secret the HSM sent).
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <string.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "common/helpers/regular_file.h"
#include "qel2_errors.h"
#include "qel2_openssl_util.h"

namespace {

struct Free {
  void operator()(BIO *b) const { BIO_free_all(b); }
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
  void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
  void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
  void operator()(EC_GROUP *g) const { EC_GROUP_free(g); }
};
template <typename T>
using Ptr = std::unique_ptr<T, Free>;

constexpr const char *kBase = "/opt/hsm/";
constexpr const char *kHostPrivate = "kek_pri_key.pem";
constexpr const char *kHsmPublic = "kek_hsm_pub_key.pem";
constexpr Uint32 kNonceLen = 32;
constexpr Uint32 kEcdh = 0;
// The largest modulus OpenSSL will use; generating a larger key would take
// minutes or hours and give a key no derivation could decrypt with.
constexpr Uint32 kMaxModulusBits = OPENSSL_RSA_MAX_MODULUS_BITS;
// The smallest OpenSSL will generate (its own floor, not in its headers).
constexpr Uint32 kMinModulusBits = 512;

// A premaster secret, wiped when it goes.
struct Premaster {
  std::vector<unsigned char> bytes;
  ~Premaster() {
    if (!bytes.empty()) explicit_bzero(bytes.data(), bytes.size());
  }
};

// Fails where an encrypted key would otherwise prompt on the terminal.
int no_password(char *, int, int, void *) { return 0; }

// A file BIO that owns f; null (and f closed) when there is none.
BIO *bio_of(FILE *f) {
  if (!f) return nullptr;
  BIO *b = BIO_new_fp(f, BIO_CLOSE);
  if (!b) fclose(f);
  return b;
}

// Both names given, each free to take a key file (nothing there yet, a
// regular file or a symlink, which the write replaces), and not one file
// under two names (the public key would be left in place of the private
// one): checked before a key is made, so a refusal leaves both files as they
// were.
bool names_usable(const char *priv_file, const char *pub_file) {
  if (!priv_file || !pub_file) {
    puts("no key file specified");
    return false;
  }
  if (!qel2::key_file_name_usable(priv_file)) {
    printf("unable to open private key file: %s\n", priv_file);
    return false;
  }
  if (!qel2::key_file_name_usable(pub_file)) {
    printf("unable to open public key file: %s\n", pub_file);
    return false;
  }
  if (qel2::key_file_names_collide(priv_file, pub_file)) {
    printf("private and public key files are one file: %s, %s\n", priv_file, pub_file);
    return false;
  }
  return true;
}

// A PEM text made in memory (the secure heap where there is one) and wiped
// when it goes: one holds a private key.
class PemText {
 public:
  PemText() : bio_(BIO_new(BIO_s_secmem())) {}
  ~PemText() {
    char *data = nullptr;
    const long len = bio_ ? BIO_get_mem_data(bio_.get(), &data) : 0;
    if (data && len > 0) explicit_bzero(data, static_cast<size_t>(len));
  }
  PemText(const PemText &) = delete;
  PemText &operator=(const PemText &) = delete;

  BIO *bio() const { return bio_.get(); }
  qel2::KeyFileText file(const char *path, qel2::KeyFileAccess access) const {
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio_.get(), &data);
    return {path, data, len > 0 ? static_cast<size_t>(len) : 0, access};
  }

 private:
  Ptr<BIO> bio_;
};

// The pair's files replaced whole, as a pair: the private key file (0600
// when new) with its curve parameters when asked, then the key unencrypted
// in its traditional block; the public key in the other. Both texts are made
// before either file is touched.
Uint32 write_pair(EVP_PKEY *key, bool with_parameters, const char *priv_file,
                  const char *pub_file) {
  PemText priv, pub;
  if (!priv.bio() || !pub.bio()) {
    puts("BIO_new failed");
    return RET_ERROR;
  }
  if (with_parameters && PEM_write_bio_Parameters(priv.bio(), key) != 1) {
    puts("unable to write curve parameters");
    return RET_ERROR;
  }
  if (PEM_write_bio_PrivateKey_traditional(priv.bio(), key, nullptr, nullptr, 0, nullptr,
                                           nullptr) != 1) {
    puts("failed to write private key");
    return RET_ERROR;
  }
  if (PEM_write_bio_PUBKEY(pub.bio(), key) != 1) {
    puts("failed to write public key");
    return RET_ERROR;
  }
  const qel2::KeyFileText files[] = {priv.file(priv_file, qel2::KeyFileAccess::kPrivate),
                                     pub.file(pub_file, qel2::KeyFileAccess::kPublic)};
  size_t failed = 0;
  if (const Uint32 r = qel2::replace_key_files(files, &failed)) {
    printf("unable to %s %s key file: %s\n", r == ERR_OPEN_FILE ? "open" : "write",
           failed == 0 ? "private" : "public", files[failed].path);
    return RET_ERROR;
  }
  return 0;
}

// "/opt/hsm//pxdv<dev>/<name>_<partition>".
struct KeyPath {
  char text[128];
  KeyPath(int dev_id, Uint32 session_handle, const char *name) {
    snprintf(text, sizeof text, "%s/pxdv%d/%s_%d", kBase, dev_id, name,
             static_cast<int>((session_handle >> 24) & 0x3F));
  }
};

// ECDH of the host's private key with the HSM's stored public key.
bool ecdh_premaster(EVP_PKEY *host, int dev_id, Uint32 session_handle, Premaster &pm) {
  if (!EVP_PKEY_is_a(host, "EC")) {
    puts("the host's key is not an EC key");
    return false;
  }
  Ptr<EVP_PKEY> hsm(load_pkey(KeyPath(dev_id, session_handle, kHsmPublic).text, QEL2_KEY_FORMAT_PEM,
                              QEL2_KEY_PUBLIC));
  if (!hsm || !EVP_PKEY_is_a(hsm.get(), "EC")) return false;
  // The peer must be on the host key's curve; the derivation refuses another.
  Ptr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, host, nullptr));
  size_t len = 0;
  if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 ||
      EVP_PKEY_derive_set_peer(ctx.get(), hsm.get()) != 1 ||
      EVP_PKEY_derive(ctx.get(), nullptr, &len) != 1)
    return false;
  pm.bytes.resize(len);
  if (EVP_PKEY_derive(ctx.get(), pm.bytes.data(), &len) != 1) return false;
  pm.bytes.resize(len);
  return true;
}

// The secret the HSM encrypted to the host's RSA key, as wide as the modulus.
bool rsa_premaster(EVP_PKEY *host, const Uint8 *secret, Uint32 secret_len, Premaster &pm) {
  if (!EVP_PKEY_is_a(host, "RSA")) {
    puts("the host's key is not an RSA key");
    return false;
  }
  Ptr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, host, nullptr));
  size_t len = 0;
  if (!secret || !ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1 ||
      EVP_PKEY_decrypt(ctx.get(), nullptr, &len, secret, secret_len) != 1)
    return false;
  pm.bytes.resize(len);  // sized for this key, whatever its modulus
  if (EVP_PKEY_decrypt(ctx.get(), pm.bytes.data(), &len, secret, secret_len) != 1) return false;
  pm.bytes.resize(len);
  return true;
}

}  // namespace

extern "C" {

Uint32 generate_kek_ecc_key_pair(Int8 *curve_name, Int8 *priv_key_file, Int8 *pub_key_file) {
  const char *curve = reinterpret_cast<const char *>(curve_name);
  const int nid = curve ? OBJ_sn2nid(curve) : NID_undef;
  if (nid == NID_undef) {
    printf("unknown curve name: %s\n", curve ? curve : "(null)");
    return RET_ERROR;
  }
  Ptr<EC_GROUP> group(EC_GROUP_new_by_curve_name(nid));
  if (!group) {
    printf("unable to create curve: %s\n", curve);
    return RET_ERROR;
  }
  const char *priv = reinterpret_cast<const char *>(priv_key_file);
  const char *pub = reinterpret_cast<const char *>(pub_key_file);
  if (!names_usable(priv, pub)) return RET_ERROR;
  Ptr<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", OBJ_nid2sn(nid)));
  if (!key) {
    puts("failed to generate key");
    return RET_ERROR;
  }
  return write_pair(key.get(), true, priv, pub);
}

Uint32 generate_kek_rsa_key_pair(Uint32 mod_size, Int8 *priv_key_file, Int8 *pub_key_file) {
  // Both bounds before any file is touched.
  if (mod_size > kMaxModulusBits) {
    printf("modulus size %u is above %u bits\n", mod_size, kMaxModulusBits);
    return RET_ERROR;
  }
  if (mod_size < kMinModulusBits) {
    printf("modulus size %u is below %u bits\n", mod_size, kMinModulusBits);
    return RET_ERROR;
  }
  const char *priv = reinterpret_cast<const char *>(priv_key_file);
  const char *pub = reinterpret_cast<const char *>(pub_key_file);
  if (!names_usable(priv, pub)) return RET_ERROR;
  // OpenSSL's default public exponent is 65537.
  Ptr<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(mod_size)));
  if (!key) {
    puts("failed to generate key");
    return RET_ERROR;
  }
  return write_pair(key.get(), false, priv, pub);
}

EVP_PKEY *load_pkey(const char *file, int format, int key_type) {
  if (!file) {
    puts("no keyfile specified");
    return nullptr;
  }
  // A key file: a FIFO or a device at the name is refused, never waited on.
  FILE *f = qel2::fopen_regular_for_reading(file);
  if (!f) {
    printf("Error opening %s \n", file);
    return nullptr;
  }
  Ptr<BIO> in(bio_of(f));
  if (!in) {
    puts("BIO_new failed");
    return nullptr;
  }
  EVP_PKEY *key = nullptr;
  if (format == QEL2_KEY_FORMAT_DER) {
    if (key_type == QEL2_KEY_PUBLIC) key = d2i_PUBKEY_bio(in.get(), nullptr);
    if (key_type == QEL2_KEY_PRIVATE) key = d2i_PrivateKey_bio(in.get(), nullptr);
  } else if (format == QEL2_KEY_FORMAT_PEM) {
    if (key_type == QEL2_KEY_PUBLIC)
      key = PEM_read_bio_PUBKEY(in.get(), nullptr, no_password, nullptr);
    if (key_type == QEL2_KEY_PRIVATE)
      key = PEM_read_bio_PrivateKey(in.get(), nullptr, no_password, nullptr);
  } else {
    puts("bad input format specified for key file");
    return nullptr;
  }
  if (!key) puts("PEM_read_bio_Key failed");
  return key;
}

Uint32 KDF(Uint8 *pmk, Uint32 pmk_len, Uint8 *label, Uint32 host_nonce_len, Uint8 *s_nonce,
           Uint32 tgt_nonce_len, Uint8 *t_nonce, Uint8 *g_id, Uint8 *g_pswd, Uint8 *serial_number,
           Uint8 *mk) {
  (void)g_id;
  (void)g_pswd;
  if (!mk || (!pmk && pmk_len) || (!s_nonce && host_nonce_len) || (!t_nonce && tgt_nonce_len))
    return RET_ERROR;
  static const unsigned char kCounter[4] = {0, 0, 0, 0};  // the one block
  const char *lbl = label ? reinterpret_cast<const char *>(label) : "";
  const char *serial = serial_number ? reinterpret_cast<const char *>(serial_number) : "";
  Ptr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  const bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha512(), nullptr) == 1 &&
                  EVP_DigestUpdate(ctx.get(), kCounter, sizeof kCounter) == 1 &&
                  EVP_DigestUpdate(ctx.get(), pmk, pmk_len) == 1 &&
                  EVP_DigestUpdate(ctx.get(), lbl, strlen(lbl)) == 1 &&
                  EVP_DigestUpdate(ctx.get(), s_nonce, host_nonce_len) == 1 &&
                  EVP_DigestUpdate(ctx.get(), t_nonce, tgt_nonce_len) == 1 &&
                  EVP_DigestUpdate(ctx.get(), serial, strlen(serial)) == 1 &&
                  EVP_DigestFinal_ex(ctx.get(), digest, &n) == 1 && n == QEL2_KEK_MASTER_KEY_LEN;
  if (ok) memcpy(mk, digest, QEL2_KEK_MASTER_KEY_LEN);
  explicit_bzero(digest, sizeof digest);
  return ok ? 0 : RET_ERROR;
}

Uint32 compute_master_key(int dev_id, Uint32 session_handle, Uint32 kek_method, Uint8 *nonce_in,
                          Uint8 *nonce_out, Uint32 nonce_out_len, Uint8 *label,
                          Uint8 *serial_number, Uint8 *mk) {
  if (!nonce_in || !nonce_out || !mk) return RET_ERROR;
  const KeyPath path(dev_id, session_handle, kHostPrivate);
  Ptr<EVP_PKEY> host(load_pkey(path.text, QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
  if (!host) {
    printf("Failed loading the key from the file %s\n", path.text);
    return RET_ERROR;
  }
  Premaster pm;
  Uint32 tgt_len = kNonceLen;
  if (kek_method == kEcdh) {
    if (!ecdh_premaster(host.get(), dev_id, session_handle, pm)) return RET_ERROR;
  } else {
    if (!rsa_premaster(host.get(), nonce_out, nonce_out_len, pm)) return RET_ERROR;
    // The target nonce is as long as the secret: no further than the caller's bytes.
    if (pm.bytes.size() > nonce_out_len) return RET_ERROR;
    tgt_len = static_cast<Uint32>(pm.bytes.size());
  }
  return KDF(pm.bytes.data(), static_cast<Uint32>(pm.bytes.size()), label, kNonceLen, nonce_in,
             tgt_len, nonce_out, nullptr, nullptr, serial_number, mk);
}

}  // extern "C"
