// Key-encryption and password-encryption keys end to end: host key pairs
// made by the bridge's helpers, established with the stand-in through the
// library, and the master key derived on the host compared with the
// stand-in's; OpenSSL on the host checks the agreed secrets. Every check
// runs where /opt/hsm is a private temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <hsmsim/daemon.h>

#include "fifo_peer.h"
#include "private_opt.h"
#include "qel2.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "qel2_openssl_util.h"
#include "request/mgmt_request.h"
#include "wire.h"
#include "wire_view.h"

namespace {

using namespace mgmt_test;
using namespace support;
using Bytes = std::vector<uint8_t>;
using kek_test::Plant;
using kek_test::with_private_opt;

constexpr char kKekLabel[] = "key encryption key";
constexpr char kPekLabel[] = "password encryption key";
constexpr char kSerial[] = "SIM-KEK-0042";

std::string key_path(int dev, int partition, const char *name) {
  return "/opt/hsm/pxdv" + std::to_string(dev) + "/" + name + "_" + std::to_string(partition);
}
Bytes slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}
void spill(const std::string &path, const Bytes &b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}
Int8 *i8(const std::string &s) { return reinterpret_cast<Int8 *>(const_cast<char *>(s.c_str())); }
Uint8 *u8(const char *s) { return reinterpret_cast<Uint8 *>(const_cast<char *>(s)); }
Bytes nonce_of(uint8_t seed) {
  Bytes n(32);
  for (size_t i = 0; i < n.size(); ++i) n[i] = static_cast<uint8_t>(seed + 7 * i);
  return n;
}

struct PkeyFree {
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
  void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyFree>;

Pkey load(const std::string &path, int type) {
  return Pkey(load_pkey(path.c_str(), QEL2_KEY_FORMAT_PEM, type));
}

// OpenSSL's own ECDH and raw RSA decryption: the secret the host should hold.
Bytes openssl_ecdh(EVP_PKEY *mine, EVP_PKEY *peer) {
  PkeyCtx c(EVP_PKEY_CTX_new(mine, nullptr));
  size_t n = 0;
  if (!c || EVP_PKEY_derive_init(c.get()) != 1 || EVP_PKEY_derive_set_peer(c.get(), peer) != 1 ||
      EVP_PKEY_derive(c.get(), nullptr, &n) != 1)
    return {};
  Bytes out(n);
  if (EVP_PKEY_derive(c.get(), out.data(), &n) != 1) return {};
  return out;
}
Bytes openssl_rsa_raw(EVP_PKEY *priv, const Bytes &in) {
  PkeyCtx c(EVP_PKEY_CTX_new(priv, nullptr));
  size_t n = 0;
  if (!c || EVP_PKEY_decrypt_init(c.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(c.get(), RSA_NO_PADDING) != 1 ||
      EVP_PKEY_decrypt(c.get(), nullptr, &n, in.data(), in.size()) != 1)
    return {};
  Bytes out(n);
  if (EVP_PKEY_decrypt(c.get(), out.data(), &n, in.data(), in.size()) != 1) return {};
  return out;
}

// The key-encryption key files of device 0, partition 1.
struct KekFiles {
  std::string priv = key_path(0, 1, "kek_pri_key.pem"), pub = key_path(0, 1, "kek_pub_key.pem"),
              hsm = key_path(0, 1, "kek_hsm_pub_key.pem");
};

// A stand-in and a session of the child's own (see private_opt.h).
struct Bench {
  hsmsim::Daemon d;
  Bench() {
    qel2::mgmt::set_retry_pause_us(0);
    d.export_env();
    d.hsm().set_serial_number(kSerial);
  }
  ~Bench() { Qel2SDKCleanup(); }
  Uint32 session(const char *partition = "PARTITION_1", int dev = 0) {
    Uint32 app = 0, s = 0;
    EXPECT_EQ(0u, Qel2Initialize3(dev, OSTREL_DIRECT, partition, &app));
    EXPECT_EQ(0u, Qel2OpenSession2(app, &s));
    std::filesystem::create_directories("/opt/hsm/pxdv" + std::to_string(dev));
    d.clear_captured();
    return s;
  }
  std::optional<hsmsim::KeyEstablishmentView> agreed(bool pek = false,
                                                     const char *partition = "PARTITION_1") {
    return d.hsm().key_establishment(partition, pek);
  }
};

// The host's master key for what the last establishment exchanged.
Bytes host_master_key(int dev, Uint32 s, Uint32 method, Bytes nonce_in, Bytes nonce_out) {
  Bytes mk(QEL2_KEK_MASTER_KEY_LEN);
  EXPECT_EQ(0u, compute_master_key(dev, s, method, nonce_in.data(), nonce_out.data(),
                                   static_cast<Uint32>(nonce_out.size()), u8(kKekLabel),
                                   u8(kSerial), mk.data()));
  return mk;
}

TEST(KekEstablish, EcdhOnEachCurveGivesTheHsmsMasterKey) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    const KekFiles f;
    const std::string &priv = f.priv, &pub = f.pub, &hsm = f.hsm;
    for (const char *curve : {"prime256v1", "secp384r1", "secp521r1", "secp256k1"}) {
      SCOPED_TRACE(curve);
      ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8(curve), i8(priv), i8(pub)));
      Bytes in = nonce_of(1), out(64, 0xEE);
      Uint32 len = 64;  // asks for 32 all the same
      ASSERT_EQ(0u, Qel2GenKeyEncKeyNew(s, 0, in.data(), &len, out.data()));
      EXPECT_EQ(32u, len);
      EXPECT_EQ(0xEE, out[32]);
      out.resize(32);
      auto v = b.agreed();
      ASSERT_TRUE(v);
      EXPECT_EQ(0, v->method);
      EXPECT_EQ(in, v->host_nonce);
      EXPECT_EQ(out, v->target_nonce);
      // The stored key is the HSM's, on the host key's curve: OpenSSL agrees
      // with the HSM on the secret.
      Pkey host = load(priv, QEL2_KEY_PRIVATE), peer = load(hsm, QEL2_KEY_PUBLIC);
      ASSERT_TRUE(host && peer);
      EXPECT_EQ(v->premaster, openssl_ecdh(host.get(), peer.get()));
      EXPECT_EQ(v->master_key, host_master_key(0, s, 0, in, out));
    }
    // The fixed-size form is the same establishment.
    Bytes in = nonce_of(9), out(32);
    ASSERT_EQ(0u, Qel2GenKeyEncKey(s, in.data(), out.data()));
    EXPECT_EQ(out, b.agreed()->target_nonce);
    EXPECT_EQ(b.agreed()->master_key, host_master_key(0, s, 0, in, out));
  });
}

TEST(KekEstablish, DeviceAndPartitionNameTheFiles) {
  with_private_opt([] {
    Bench b;
    ASSERT_TRUE(b.d.hsm().add_partition("PARTITION_2"));
    ASSERT_TRUE(b.d.hsm().add_partition("PARTITION_3"));
    const Uint32 s = b.session("PARTITION_3", 1);
    ASSERT_EQ(1u, s >> 30);
    ASSERT_EQ(3u, (s >> 24) & 0x3F);
    ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(key_path(1, 3, "kek_pri_key.pem")),
                                            i8(key_path(1, 3, "kek_pub_key.pem"))));
    Bytes in = nonce_of(3), out(32);
    Uint32 len = 32;
    ASSERT_EQ(0u, Qel2GenKeyEncKeyNew(s, 0, in.data(), &len, out.data()));
    EXPECT_FALSE(slurp(key_path(1, 3, "kek_hsm_pub_key.pem")).empty());
    auto v = b.agreed(false, "PARTITION_3");
    ASSERT_TRUE(v);
    // The derivation's doubled slash names the same files.
    EXPECT_EQ(v->master_key, host_master_key(1, s, 0, in, out));
  });
}

TEST(KekEstablish, RsaSecretAndLongerModuli) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    const KekFiles f;
    const std::string &priv = f.priv, &pub = f.pub, &hsm = f.hsm;
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    spill(hsm, earlier);
    struct Case {
      Uint32 bits;
    } cases[] = {{2048}, {4096}};
    for (const Case &c : cases) {
      SCOPED_TRACE(c.bits);
      ASSERT_EQ(0u, generate_kek_rsa_key_pair(c.bits, i8(priv), i8(pub)));
      const Uint32 width = c.bits / 8;
      Bytes in = nonce_of(5), out(width);
      Uint32 len = 256;
      if (width > 256) {
        // The HSM's secret does not fit: the length needed comes back and
        // nothing is established.
        auto before = b.agreed();
        EXPECT_EQ(RET_RESULT_SIZE, Qel2GenKeyEncKeyNew(s, 1, in.data(), &len, out.data()));
        EXPECT_EQ(width, len);
        EXPECT_EQ(before->target_nonce, b.agreed()->target_nonce);
      }
      len = width;
      ASSERT_EQ(0u, Qel2GenKeyEncKeyNew(s, 1, in.data(), &len, out.data()));
      EXPECT_EQ(width, len);
      auto v = b.agreed();
      ASSERT_TRUE(v);
      EXPECT_EQ(1, v->method);
      EXPECT_EQ(out, v->target_nonce);
      Pkey host = load(priv, QEL2_KEY_PRIVATE);
      EXPECT_EQ(v->premaster, openssl_rsa_raw(host.get(), out));
      EXPECT_EQ(v->master_key, host_master_key(0, s, 1, in, out));
      EXPECT_EQ(earlier, slurp(hsm));  // only the ECDH method stores a key
    }
  });
}

TEST(KekEstablish, PasswordKey) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    const std::string priv = key_path(0, 1, "pek_pri_key.pem"),
                      pub = key_path(0, 1, "pek_pub_key.pem");
    ASSERT_EQ(0u, generate_kek_rsa_key_pair(2048, i8(priv), i8(pub)));
    Bytes in = nonce_of(11), out(300);
    Uint32 len = 300;
    ASSERT_EQ(0u, Qel2GenPswdEncKey(s, in.data(), &len, out.data()));
    ASSERT_EQ(256u, len);
    out.resize(len);
    auto v = b.agreed(true);
    ASSERT_TRUE(v);
    EXPECT_FALSE(b.agreed(false));  // a key of its own, not the KEK
    Pkey host = load(priv, QEL2_KEY_PRIVATE);
    EXPECT_EQ(v->premaster, openssl_rsa_raw(host.get(), out));
    Bytes mk(64);
    ASSERT_EQ(0u, KDF(v->premaster.data(), static_cast<Uint32>(v->premaster.size()), u8(kPekLabel),
                      32, in.data(), len, out.data(), nullptr, nullptr, u8(kSerial), mk.data()));
    EXPECT_EQ(v->master_key, mk);
    // Nothing is written beside the host's files.
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator("/opt/hsm/pxdv0"), {}));

    // The password key is RSA only.
    ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(priv), i8(pub)));
    len = 300;
    EXPECT_EQ(RET_KEY_TYPE_INCONSISTENT, Qel2GenPswdEncKey(s, in.data(), &len, out.data()));
  });
}

TEST(KekEstablish, RequestLayouts) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(key_path(0, 1, "kek_pri_key.pem")),
                                            i8(key_path(0, 1, "kek_pub_key.pem"))));
    ASSERT_EQ(0u, generate_kek_rsa_key_pair(2048, i8(key_path(0, 1, "pek_pri_key.pem")),
                                            i8(key_path(0, 1, "pek_pub_key.pem"))));
    const Bytes ec_key = slurp(key_path(0, 1, "kek_pub_key.pem")),
                rsa_key = slurp(key_path(0, 1, "pek_pub_key.pem"));
    Bytes in = nonce_of(21), out(300);
    struct Case {
      const char *what;
      std::function<Uint32(Uint32 *)> call;
      Uint32 buffer;
      uint16_t opcode;
      const Bytes &key;
      std::vector<uint16_t> out_sizes;
    } cases[] = {
        {"KEK, ECDH, a 64-byte buffer",
         [&](Uint32 *l) { return Qel2GenKeyEncKeyNew(s, 0, in.data(), l, out.data()); },
         64,
         KQ_GEN_KEY_ENC_KEY,
         ec_key,
         {20, 32, uint16_t(ec_key.size())}},
        {"PEK",
         [&](Uint32 *l) { return Qel2GenPswdEncKey(s, in.data(), l, out.data()); },
         300,
         KQ_GEN_PSWD_ENC_KEY,
         rsa_key,
         {20, 300}},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      b.d.clear_captured();
      Uint32 len = c.buffer;
      ASSERT_EQ(0u, c.call(&len));
      auto m = sent_requests(b.d, c.opcode);
      ASSERT_EQ(1u, m.size());
      const uint16_t k = static_cast<uint16_t>(c.key.size());
      EXPECT_EQ(s & 0x3FFFFFFF, m[0].sess_handle);
      EXPECT_EQ(KQ_MGMT_CMD, m[0].command_type);
      EXPECT_EQ(120u, m[0].timeout);
      EXPECT_EQ((std::vector<uint16_t>{24, 32, k}), m[0].in_sizes());
      EXPECT_EQ(c.out_sizes, m[0].out_sizes());
      EXPECT_EQ(56 + k, m[0].param1);
      EXPECT_EQ(56 + k, m[0].dlen);
      EXPECT_EQ(c.out_sizes.back(), m[0].param2);  // the last output segment only
      EXPECT_EQ(c.out_sizes.back(), m[0].rlen);
      EXPECT_EQ(s & 0x3FFFFFFF, be32(m[0].input(0), 12));
      EXPECT_EQ(k + 32u, be32(m[0].input(0), 20));
      EXPECT_EQ(in, m[0].input(1));
      EXPECT_EQ(c.key, m[0].input(2));
    }
  });
}

// Scripted answers of the KEK request: a nonce size and the bytes after the
// record.
Bytes kek_answer(uint32_t code, uint32_t nonce_size, size_t nonce_bytes, size_t key_bytes) {
  Be a = resp(code);
  a.u32(nonce_size);
  for (size_t i = 0; i < nonce_bytes + key_bytes; ++i) a.u8(static_cast<uint8_t>('k' + i % 7));
  return a;
}

TEST(KekEstablish, AnswersThatHoldNoWholeKeyLeaveTheFileAlone) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    const std::string hsm = key_path(0, 1, "kek_hsm_pub_key.pem");
    spill(key_path(0, 1, "kek_pub_key.pem"), Bytes(300, 'h'));  // room for a 300-byte key
    const Bytes earlier(400, 'e');  // longer than the key that replaces it
    struct Case {
      const char *what;
      Bytes answer;
      Uint32 expect;
    } cases[] = {
        {"no key after the nonce", kek_answer(0, 32, 32, 0), TESSALINE_INVALID_MSG},
        {"a size below the nonce", kek_answer(0, 16, 32, 0), TESSALINE_INVALID_MSG},
        {"a key longer than arrived", kek_answer(0, 32 + 178, 32, 100), TESSALINE_INVALID_MSG},
        {"a nonce cut short", kek_answer(0, 32 + 1, 20, 0), TESSALINE_INVALID_MSG},
        {"a key longer than its room", kek_answer(0, 32 + 301, 32, 300), ERR_BUFFER_TOO_SMALL},
        {"the HSM's refusal", kek_answer(RET_USER_NOT_LOGGED_IN, 0, 0, 0), RET_USER_NOT_LOGGED_IN},
        {"a size the response code asks for", kek_answer(RET_RESULT_SIZE, 32 + 400, 0, 0),
         RET_RESULT_SIZE},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      spill(hsm, earlier);
      b.d.script(KQ_MGMT_CMD, KQ_GEN_KEY_ENC_KEY, payload(c.answer, 1));
      Bytes in = nonce_of(2), out(32);
      Uint32 len = 32;
      EXPECT_EQ(c.expect, Qel2GenKeyEncKeyNew(s, 0, in.data(), &len, out.data()));
      EXPECT_EQ(earlier, slurp(hsm));
    }
    // A whole answer replaces the file with exactly the key's bytes.
    Bytes answer = kek_answer(0, 32 + 178, 32, 178);
    b.d.script(KQ_MGMT_CMD, KQ_GEN_KEY_ENC_KEY, payload(answer, 1));
    Bytes in = nonce_of(2), out(32);
    Uint32 len = 32;
    ASSERT_EQ(0u, Qel2GenKeyEncKeyNew(s, 0, in.data(), &len, out.data()));
    EXPECT_EQ(Bytes(answer.end() - 178, answer.end()), slurp(hsm));
    EXPECT_EQ(Bytes(answer.begin() + 20, answer.begin() + 52), out);
    // A key that cannot be stored.
    std::filesystem::remove(hsm);
    std::filesystem::create_directory(hsm);
    b.d.script(KQ_MGMT_CMD, KQ_GEN_KEY_ENC_KEY, payload(answer, 1));
    EXPECT_EQ(ERR_WRITE_OUTPUT_FILE, Qel2GenKeyEncKeyNew(s, 0, in.data(), &len, out.data()));
  });
}

TEST(KekEstablish, NoncesCutToTheBuffer) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    spill(key_path(0, 1, "kek_pub_key.pem"), Bytes(450, 'r'));
    struct Case {
      const char *what;
      Bytes answer;
      Uint32 expect, len;
    } cases[] = {
        {"longer than the buffer", kek_answer(0, 300, 256, 0), ERR_BUFFER_TOO_SMALL, 300},
        {"longer than arrived", kek_answer(0, 200, 100, 0), TESSALINE_INVALID_MSG, 256},
        {"the HSM asks for more", kek_answer(RET_RESULT_SIZE, 512, 0, 0), RET_RESULT_SIZE, 512},
        {"whole", kek_answer(0, 200, 200, 0), 0, 200},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      b.d.script(KQ_MGMT_CMD, KQ_GEN_KEY_ENC_KEY, payload(c.answer, 1));
      Bytes in = nonce_of(4), out(256);
      Uint32 len = 256;
      EXPECT_EQ(c.expect, Qel2GenKeyEncKeyNew(s, 1, in.data(), &len, out.data()));
      EXPECT_EQ(c.len, len);
    }
  });
}

// Key files that are not regular files: a FIFO in place of a host key is a
// key that cannot be read (nothing is sent, nothing waits for a writer); a
// FIFO at the HSM key's name is a file that cannot be written; a planted
// symlink there is replaced, and its target stays as it was.
TEST(KekEstablish, KeyFilesThatAreNotRegularFiles) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    const KekFiles f;
    ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(f.priv), i8(f.pub)));
    const Bytes host_key = slurp(f.pub);
    const std::string host_text(host_key.begin(), host_key.end());
    const std::string pek = key_path(0, 1, "pek_pub_key.pem"), victim = "/opt/hsm/victim";
    const Bytes precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
    spill(victim, precious);
    Bytes in = nonce_of(8), out(256);
    auto kek = [&] { return Qel2GenKeyEncKey(s, in.data(), out.data()); };
    auto pek_call = [&] {
      Uint32 len = 256;
      return Qel2GenPswdEncKey(s, in.data(), &len, out.data());
    };
    struct Case {
      const char *what;
      std::string name;
      Plant plant;
      std::function<Uint32()> call;
      Uint32 expect;
      size_t sent;
    } cases[] = {
        {"the host's KEK key a FIFO",
         f.pub,
         {Plant::kFeedingFifo, host_text},
         kek,
         ERR_PUBLIC_KEY,
         0},
        {"the host's PEK key a FIFO",
         pek,
         {Plant::kFeedingFifo, host_text},
         pek_call,
         ERR_PUBLIC_KEY,
         0},
        {"the HSM key's name a FIFO",
         f.hsm,
         {Plant::kDrainingFifo, ""},
         kek,
         ERR_WRITE_OUTPUT_FILE,
         1},
        {"the HSM key's name a planted symlink", f.hsm, {Plant::kSymlink, victim}, kek, 0, 1},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      std::unique_ptr<kek_test::FifoPeer> peer;
      ASSERT_TRUE(kek_test::put(c.name, c.plant, peer));
      b.d.clear_captured();
      EXPECT_EQ(c.expect, c.call());
      EXPECT_EQ(c.sent, sent_count(b.d));
      EXPECT_EQ(precious, slurp(victim));
      peer.reset();
      std::filesystem::remove(c.name);
      spill(f.pub, host_key);
    }
  });
}

// A hard link or a symlink at the HSM key's name: the name gets a file of its
// own holding the HSM's key, and the linked file keeps its bytes.
TEST(KekEstablish, LinksAtTheHsmKeysNameAreReplaced) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    const KekFiles f;
    ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(f.priv), i8(f.pub)));
    const std::string victim = "/opt/hsm/victim";
    const Bytes precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
    struct Case {
      const char *what;
      int (*plant)(const char *, const char *);
    } cases[] = {{"a hard link", link}, {"a symlink", symlink}};
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      spill(victim, precious);
      std::filesystem::remove(f.hsm);
      ASSERT_EQ(0, c.plant(victim.c_str(), f.hsm.c_str()));
      Bytes in = nonce_of(12), out(32);
      ASSERT_EQ(0u, Qel2GenKeyEncKey(s, in.data(), out.data()));
      EXPECT_EQ(precious, slurp(victim));
      struct stat st {};
      ASSERT_EQ(0, lstat(f.hsm.c_str(), &st));
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(1u, st.st_nlink);
      Pkey host = load(f.priv, QEL2_KEY_PRIVATE), peer = load(f.hsm, QEL2_KEY_PUBLIC);
      ASSERT_TRUE(host && peer);
      EXPECT_EQ(b.agreed()->premaster, openssl_ecdh(host.get(), peer.get()));
    }
  });
}

// The HSM key's file keeps the owner, group and mode of the file it replaces
// (root storing it for a service account); a new one follows the umask.
TEST(KekEstablish, TheHsmKeyFileKeepsItsOwnerGroupAndMode) {
  with_private_opt(
      [] {
        Bench b;
        const Uint32 s = b.session();
        const KekFiles f;
        ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(f.priv), i8(f.pub)));
        struct Case {
          const char *what;
          bool there;
          uid_t uid;
          gid_t gid;
          mode_t mode;
        } cases[] = {
            {"a service account's file", true, 4321, 4322, 0640},
            {"a file all may write", true, 4322, 4321, 0666},
            {"no file there yet", false, 0, 0, 0644},
        };
        umask(022);
        for (const Case &c : cases) {
          SCOPED_TRACE(c.what);
          std::filesystem::remove(f.hsm);
          if (c.there) {
            spill(f.hsm, {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
            ASSERT_EQ(0, chown(f.hsm.c_str(), c.uid, c.gid));
            ASSERT_EQ(0, chmod(f.hsm.c_str(), c.mode));
          }
          Bytes in = nonce_of(14), out(32);
          ASSERT_EQ(0u, Qel2GenKeyEncKey(s, in.data(), out.data()));
          struct stat st {};
          ASSERT_EQ(0, lstat(f.hsm.c_str(), &st));
          EXPECT_EQ(c.uid, st.st_uid);
          EXPECT_EQ(c.gid, st.st_gid);
          EXPECT_EQ(c.mode, st.st_mode & 07777);
          Pkey host = load(f.priv, QEL2_KEY_PRIVATE), peer = load(f.hsm, QEL2_KEY_PUBLIC);
          ASSERT_TRUE(host && peer);
          EXPECT_EQ(b.agreed()->premaster, openssl_ecdh(host.get(), peer.get()));
        }
      },
      kek_test::Ids::kAll);
}

// Where another user could have made the HSM key's name first (a sticky
// directory all may write, or one his group may write), the empty file he
// planted there gives him nothing: the HSM's key is stored in a file of
// root's, with a new file's mode.
TEST(KekEstablish, TheHsmKeyFileTakesNoOwnerFromANameAnotherUserCouldMake) {
  with_private_opt(
      [] {
        Bench b;
        const Uint32 s = b.session();
        const KekFiles f;
        ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(f.priv), i8(f.pub)));
        const std::string dir = "/opt/hsm/pxdv0";
        constexpr uid_t kPlanter = 4321;
        struct Case {
          const char *what;
          gid_t dir_gid;
          mode_t dir_mode;
        } cases[] = {
            {"a sticky directory all may write", 0, 01777},
            {"a directory the planter's group may write", kPlanter, 0775},
        };
        umask(022);
        for (const Case &c : cases) {
          SCOPED_TRACE(c.what);
          ASSERT_EQ(0, chown(dir.c_str(), 0, c.dir_gid));
          ASSERT_EQ(0, chmod(dir.c_str(), c.dir_mode));
          std::filesystem::remove(f.hsm);
          spill(f.hsm, {});
          ASSERT_EQ(0, chown(f.hsm.c_str(), kPlanter, kPlanter));
          ASSERT_EQ(0, chmod(f.hsm.c_str(), 0600));
          Bytes in = nonce_of(15), out(32);
          ASSERT_EQ(0u, Qel2GenKeyEncKey(s, in.data(), out.data()));
          struct stat st {};
          ASSERT_EQ(0, lstat(f.hsm.c_str(), &st));
          EXPECT_EQ(0u, st.st_uid);
          EXPECT_EQ(0u, st.st_gid);
          EXPECT_EQ(0644u, st.st_mode & 07777);
          Pkey host = load(f.priv, QEL2_KEY_PRIVATE), peer = load(f.hsm, QEL2_KEY_PUBLIC);
          ASSERT_TRUE(host && peer);
          EXPECT_EQ(b.agreed()->premaster, openssl_ecdh(host.get(), peer.get()));
        }
      },
      kek_test::Ids::kAll);
}

// The names in a directory.
std::set<std::string> entries(const std::string &dir) {
  std::set<std::string> out;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    out.insert(e.path().filename().string());
  return out;
}

// An HSM key that cannot be stored: whatever the name held keeps its bytes
// and no new file stays behind in the directory, whether the name is a
// directory, a file mounted there (no rename can replace it) or a file on a
// file system with no room for the new one.
TEST(KekEstablish, AKeyThatCannotBeStoredLeavesTheDirectoryAsItWas) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    const std::string dir = "/opt/hsm/pxdv0", held = "/opt/hsm/held";
    ASSERT_EQ(0, mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k,mode=0755"));
    const KekFiles f;
    ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(f.priv), i8(f.pub)));
    const Bytes earlier(300, 'e');
    const std::string inner = f.hsm + "/inner", filler = dir + "/filler";
    // Takes every block the file system has left.
    auto fill = [&] {
      const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      const Bytes block(4096, 'f');
      while (write(fd, block.data(), block.size()) > 0) continue;
      close(fd);
    };
    struct Case {
      const char *what;
      std::function<void()> plant, undo;
      std::string kept;  // the file whose bytes must stay `earlier`
    } cases[] = {
        {"a directory that holds a file",
         [&] {
           std::filesystem::create_directory(f.hsm);
           spill(inner, earlier);
         },
         [&] { std::filesystem::remove_all(f.hsm); }, inner},
        {"a file mounted at the name",
         [&] {
           spill(held, earlier);
           spill(f.hsm, {});
           ASSERT_EQ(0, mount(held.c_str(), f.hsm.c_str(), nullptr, MS_BIND, nullptr));
         },
         [&] {
           EXPECT_EQ(0, umount2(f.hsm.c_str(), 0));
           std::filesystem::remove(f.hsm);
         },
         held},
        {"a full file system",
         [&] {
           spill(f.hsm, earlier);
           fill();
         },
         [&] {
           std::filesystem::remove(filler);
           std::filesystem::remove(f.hsm);
         },
         f.hsm},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      c.plant();
      const std::set<std::string> before = entries(dir);
      Bytes in = nonce_of(13), out(32);
      EXPECT_EQ(ERR_WRITE_OUTPUT_FILE, Qel2GenKeyEncKey(s, in.data(), out.data()));
      EXPECT_EQ(earlier, slurp(c.kept));
      EXPECT_EQ(before, entries(dir));
      c.undo();
    }
  });
}

TEST(KekEstablish, RefusedBeforeAnyTraffic) {
  with_private_opt([] {
    Bench b;
    const Uint32 s = b.session();
    const std::string kek = key_path(0, 1, "kek_pub_key.pem"),
                      pek = key_path(0, 1, "pek_pub_key.pem");
    Bytes in = nonce_of(6), out(256);
    Uint32 len = 256;
    auto kek_call = [&](Uint8 method, Uint32 l, Uint8 *nin, Uint8 *nout) {
      len = l;
      return Qel2GenKeyEncKeyNew(s, method, nin, &len, nout);
    };
    struct Case {
      const char *what;
      std::function<void()> files;
      std::function<Uint32()> call;
      Uint32 expect;
    } cases[] = {
        {"no host key", [] {}, [&] { return kek_call(0, 32, in.data(), out.data()); },
         ERR_PUBLIC_KEY},
        {"an empty host key", [&] { spill(kek, {}); },
         [&] { return kek_call(0, 32, in.data(), out.data()); }, ERR_PUBLIC_KEY},
        {"a host key of 1025 bytes", [&] { spill(kek, Bytes(1025, 'x')); },
         [&] { return kek_call(0, 32, in.data(), out.data()); }, ERR_PUBLIC_KEY},
        {"no password host key", [] {},
         [&] { return Qel2GenPswdEncKey(s, in.data(), &len, out.data()); }, ERR_PUBLIC_KEY},
        {"RSA into 255 bytes", [&] { spill(kek, Bytes(1024, 'x')); },
         [&] { return kek_call(1, 255, in.data(), out.data()); }, ERR_INVALID_INPUT},
        {"ECDH into 31 bytes", [] {}, [&] { return kek_call(0, 31, in.data(), out.data()); },
         ERR_INVALID_INPUT},
        {"no nonce in", [] {}, [&] { return kek_call(0, 32, nullptr, out.data()); },
         ERR_INVALID_INPUT},
        {"no nonce buffer", [] {}, [&] { return kek_call(0, 32, in.data(), nullptr); },
         ERR_INVALID_INPUT},
        {"no nonce length", [] {},
         [&] { return Qel2GenKeyEncKeyNew(s, 1, in.data(), nullptr, out.data()); },
         ERR_INVALID_INPUT},
        {"PEK without a length", [&] { spill(pek, Bytes(400, 'p')); },
         [&] { return Qel2GenPswdEncKey(s, in.data(), nullptr, out.data()); }, ERR_INVALID_INPUT},
        {"PEK without a nonce", [] {},
         [&] {
           len = 256;
           return Qel2GenPswdEncKey(s, nullptr, &len, out.data());
         },
         ERR_INVALID_INPUT},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      c.files();
      b.d.clear_captured();
      EXPECT_EQ(c.expect, c.call());
      EXPECT_EQ(0u, sent_count(b.d));
    }
  });
}

}  // namespace
