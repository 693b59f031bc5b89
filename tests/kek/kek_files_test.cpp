// The host-side key helpers on their own: key pair files checked with
// OpenSSL, key loading in each format, the derivation's inputs, and the
// master key's refusals (its key files under a private /opt/hsm).
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fifo_peer.h"
#include "private_opt.h"
#include "qel2_errors.h"
#include "qel2_openssl_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kek_test::Plant;
using kek_test::with_private_opt;

struct Free {
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
  void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
  void operator()(BIO *b) const { BIO_free(b); }
  void operator()(BIGNUM *b) const { BN_free(b); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Free>;

std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
mode_t mode_of(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
// The names in a directory.
std::set<std::string> entries(const std::string &dir) {
  std::set<std::string> out;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    out.insert(e.path().filename().string());
  return out;
}
Int8 *i8(const char *s) { return reinterpret_cast<Int8 *>(const_cast<char *>(s)); }
Int8 *i8(const std::string &s) { return i8(s.c_str()); }
Uint8 *u8(const char *s) { return reinterpret_cast<Uint8 *>(const_cast<char *>(s)); }

// The PEM block names of a file, in order.
std::vector<std::string> blocks(const std::string &text) {
  std::vector<std::string> out;
  const std::string begin = "-----BEGIN ";
  for (size_t p = text.find(begin); p != std::string::npos; p = text.find(begin, p + 1))
    out.push_back(
        text.substr(p + begin.size(), text.find("-----", p + begin.size()) - p - begin.size()));
  return out;
}

// A key's PEM text; the private key unencrypted.
std::string pem_of(EVP_PKEY *k, bool priv) {
  std::unique_ptr<BIO, Free> b(BIO_new(BIO_s_mem()));
  if (!b || (priv ? PEM_write_bio_PrivateKey(b.get(), k, nullptr, nullptr, 0, nullptr, nullptr)
                  : PEM_write_bio_PUBKEY(b.get(), k)) != 1)
    return {};
  char *data = nullptr;
  const long n = BIO_get_mem_data(b.get(), &data);
  return std::string(data, static_cast<size_t>(n));
}

template <class Fn>
std::string printed(Fn fn) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

class KeyFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qel2-kekfiles.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string at(const char *name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(KeyFiles, EcPairBlocksAndKeys) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem");
  uint32_t r = 0;
  EXPECT_EQ("unknown curve name: nosuchcurve\n",
            printed([&] { r = generate_kek_ecc_key_pair(i8("nosuchcurve"), i8(priv), i8(pub)); }));
  EXPECT_EQ(RET_ERROR, r);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));  // no file made

  ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("secp384r1"), i8(priv), i8(pub)));
  EXPECT_EQ((std::vector<std::string>{"EC PARAMETERS", "EC PRIVATE KEY"}), blocks(slurp(priv)));
  EXPECT_EQ(std::vector<std::string>{"PUBLIC KEY"}, blocks(slurp(pub)));
  Pkey k(load_pkey(priv.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
  Pkey p(load_pkey(pub.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PUBLIC));
  ASSERT_TRUE(k && p);
  EXPECT_EQ(1, EVP_PKEY_eq(k.get(), p.get()));
  char group[32] = {};
  ASSERT_EQ(1, EVP_PKEY_get_group_name(k.get(), group, sizeof group, nullptr));
  EXPECT_STREQ("secp384r1", group);
}

TEST_F(KeyFiles, RsaPairBlocksAndExponent) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem");
  ASSERT_EQ(0u, generate_kek_rsa_key_pair(2048, i8(priv), i8(pub)));
  EXPECT_EQ(std::vector<std::string>{"RSA PRIVATE KEY"}, blocks(slurp(priv)));
  EXPECT_EQ(std::vector<std::string>{"PUBLIC KEY"}, blocks(slurp(pub)));
  Pkey k(load_pkey(priv.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
  Pkey p(load_pkey(pub.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PUBLIC));
  ASSERT_TRUE(k && p);
  EXPECT_EQ(1, EVP_PKEY_eq(k.get(), p.get()));
  EXPECT_EQ(2048, EVP_PKEY_get_bits(k.get()));
  BIGNUM *e = nullptr;
  ASSERT_EQ(1, EVP_PKEY_get_bn_param(k.get(), OSSL_PKEY_PARAM_RSA_E, &e));
  std::unique_ptr<BIGNUM, Free> owned(e);
  EXPECT_TRUE(BN_is_word(e, 65537));
  // A file that cannot be made.
  uint32_t r = 0;
  EXPECT_EQ("unable to open private key file: /nonexistent/dir/p\n", printed([&] {
              r = generate_kek_rsa_key_pair(2048, i8("/nonexistent/dir/p"), i8(pub));
            }));
  EXPECT_EQ(RET_ERROR, r);
}

TEST_F(KeyFiles, LoadEachFormat) {
  Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime256v1"));
  ASSERT_TRUE(key);
  auto write = [&](const char *name, const std::function<int(BIO *)> &w) {
    std::unique_ptr<BIO, Free> b(BIO_new_file(at(name).c_str(), "w"));
    ASSERT_TRUE(b && w(b.get()) == 1);
  };
  write("pub.der", [&](BIO *b) { return i2d_PUBKEY_bio(b, key.get()); });
  write("priv.der", [&](BIO *b) { return i2d_PrivateKey_bio(b, key.get()); });
  write("priv.pem", [&](BIO *b) {
    return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  write("locked.pem", [&](BIO *b) {
    return PEM_write_bio_PrivateKey(b, key.get(), EVP_aes_256_cbc(), nullptr, 0, nullptr,
                                    const_cast<char *>("secret"));
  });
  const std::string missing = at("missing.pem");
  struct Case {
    const char *file;
    int format, type;
    bool loads;
    std::string message;
  } cases[] = {
      {"pub.der", QEL2_KEY_FORMAT_DER, QEL2_KEY_PUBLIC, true, ""},
      {"priv.der", QEL2_KEY_FORMAT_DER, QEL2_KEY_PRIVATE, true, ""},
      {"priv.pem", QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE, true, ""},
      {"priv.pem", QEL2_KEY_FORMAT_PEM, QEL2_KEY_PUBLIC, false, "PEM_read_bio_Key failed\n"},
      {"priv.pem", QEL2_KEY_FORMAT_PEM, 3, false, "PEM_read_bio_Key failed\n"},
      {"priv.pem", 3, QEL2_KEY_PUBLIC, false, "bad input format specified for key file\n"},
      // An encrypted key is refused, never prompted for.
      {"locked.pem", QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE, false, "PEM_read_bio_Key failed\n"},
      {"missing.pem", QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE, false,
       "Error opening " + missing + " \n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.format) + std::to_string(c.type));
    Pkey got;
    EXPECT_EQ(c.message,
              printed([&] { got.reset(load_pkey(at(c.file).c_str(), c.format, c.type)); }));
    ASSERT_EQ(c.loads, got != nullptr);
    if (c.loads) {
      EXPECT_EQ(1, EVP_PKEY_eq(key.get(), got.get()));
    }
  }
  EXPECT_EQ("no keyfile specified\n",
            printed([] { EXPECT_EQ(nullptr, load_pkey(nullptr, 2, 1)); }));
}

// A FIFO at a key file's name is a file that cannot be opened: refused at
// once, never waited on. A planted symlink at the name of a file to write is
// replaced, never written through. A symlink to a regular key file still
// reads as before.
TEST_F(KeyFiles, OnlyRegularFilesAreKeyFiles) {
  Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime256v1"));
  ASSERT_TRUE(key);
  const std::string pem = pem_of(key.get(), true), victim = at("victim"), planted = at("key.pem"),
                    other = at("other.pem");
  std::ofstream(victim) << "precious";
  auto ec_pair = [](const std::string &priv, const std::string &pub) {
    return generate_kek_ecc_key_pair(i8("prime256v1"), i8(priv), i8(pub)) == RET_ERROR;
  };
  struct Case {
    const char *what;
    Plant plant;
    std::function<bool()> as_expected;
    std::string message;
  } cases[] = {
      {"reading a FIFO",
       {Plant::kFeedingFifo, pem},
       [&] {
         return Pkey(load_pkey(planted.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE)) == nullptr;
       },
       "Error opening " + planted + " \n"},
      {"the private key file a FIFO",
       {Plant::kDrainingFifo, ""},
       [&] { return ec_pair(planted, other); },
       "unable to open private key file: " + planted + "\n"},
      {"the public key file a FIFO",
       {Plant::kDrainingFifo, ""},
       [&] { return ec_pair(other, planted); },
       "unable to open public key file: " + planted + "\n"},
      {"the private key file a planted symlink, replaced",
       {Plant::kSymlink, victim},
       [&] { return generate_kek_rsa_key_pair(2048, i8(planted), i8(other)) == 0; },
       ""},
      {"the public key file a planted symlink, replaced",
       {Plant::kSymlink, victim},
       [&] { return generate_kek_ecc_key_pair(i8("prime256v1"), i8(other), i8(planted)) == 0; },
       ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<kek_test::FifoPeer> peer;
    ASSERT_TRUE(kek_test::put(planted, c.plant, peer));
    bool as_expected = false;
    EXPECT_EQ(c.message, printed([&] { as_expected = c.as_expected(); }));
    EXPECT_TRUE(as_expected);
    EXPECT_EQ("precious", slurp(victim));
    peer.reset();
    std::filesystem::remove(planted);
    std::filesystem::remove(other);
  }
  const std::string real = at("real.pem");
  std::ofstream(real) << pem;
  ASSERT_EQ(0, symlink(real.c_str(), planted.c_str()));
  Pkey via(load_pkey(planted.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
  ASSERT_TRUE(via);
  EXPECT_EQ(1, EVP_PKEY_eq(key.get(), via.get()));
}

// Above the largest modulus OpenSSL will use: refused before any file is
// touched (generating such a key would take minutes, or for ever).
TEST_F(KeyFiles, RsaModulusAbove16384BitsRefused) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem");
  std::ofstream(priv) << "earlier";
  for (Uint32 bits : {16385u, 100000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(bits);
    printed([&] { EXPECT_EQ(RET_ERROR, generate_kek_rsa_key_pair(bits, i8(priv), i8(pub))); });
    EXPECT_EQ("earlier", slurp(priv));
    EXPECT_FALSE(std::filesystem::exists(pub));
  }
}

// A new private key file is the owner's alone whatever the umask, even one
// that would take the owner's write bit or none at all; a new public file
// follows the umask. (A file already at a name keeps its mode: see below.)
TEST_F(KeyFiles, PrivateKeyFileIs0600WhateverTheUmask) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem");
  const std::pair<const char *, std::function<Uint32()>> generators[] = {
      {"EC", [&] { return generate_kek_ecc_key_pair(i8("prime256v1"), i8(priv), i8(pub)); }},
      {"RSA", [&] { return generate_kek_rsa_key_pair(1024, i8(priv), i8(pub)); }},
  };
  struct Case {
    mode_t umask, pub_mode;
  } cases[] = {{022, 0644}, {0277, 0400}, {0, 0666}};
  for (const Case &c : cases) {
    for (const auto &[what, generate] : generators) {
      char mask[8];
      snprintf(mask, sizeof mask, "%04o", static_cast<unsigned>(c.umask));
      SCOPED_TRACE(std::string(what) + " under umask " + mask);
      for (const std::string &name : {priv, pub}) std::filesystem::remove(name);
      const mode_t before = umask(c.umask);
      const Uint32 r = generate();
      umask(before);
      ASSERT_EQ(0u, r);
      EXPECT_EQ(0600u, mode_of(priv));
      EXPECT_EQ(c.pub_mode, mode_of(pub));
    }
  }
}

// Hard links at both names: each name gets a file of its own with the new
// key, and the linked files keep their bytes.
TEST_F(KeyFiles, HardLinksAtTheNamesAreReplaced) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem"), a = at("a"), b = at("b");
  std::ofstream(a) << "precious a";
  std::ofstream(b) << "precious b";
  ASSERT_EQ(0, link(a.c_str(), priv.c_str()));
  ASSERT_EQ(0, link(b.c_str(), pub.c_str()));
  ASSERT_EQ(0u, generate_kek_ecc_key_pair(i8("prime256v1"), i8(priv), i8(pub)));
  EXPECT_EQ("precious a", slurp(a));
  EXPECT_EQ("precious b", slurp(b));
  Pkey k(load_pkey(priv.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
  Pkey p(load_pkey(pub.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PUBLIC));
  ASSERT_TRUE(k && p);
  EXPECT_EQ(1, EVP_PKEY_eq(k.get(), p.get()));
}

// A generation that fails leaves both files as they were and nothing beside
// them, whichever argument is wrong; the public file's name is checked, and
// its new file written, before the private file changes.
TEST_F(KeyFiles, FailedGenerationLeavesBothFiles) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem"), lost = at("missing/pub.pem");
  auto ec = [](const char *curve, const char *p, const char *q) {
    return generate_kek_ecc_key_pair(i8(curve), i8(p), i8(q));
  };
  auto rsa = [](Uint32 bits, const char *p, const char *q) {
    return generate_kek_rsa_key_pair(bits, i8(p), i8(q));
  };
  struct Case {
    const char *what;
    std::function<Uint32()> call;
    std::string message;
    bool pub_a_fifo;
  } cases[] = {
      {"RSA of 100 bits", [&] { return rsa(100, priv.c_str(), pub.c_str()); },
       "modulus size 100 is below 512 bits\n", false},
      {"RSA of 511 bits", [&] { return rsa(511, priv.c_str(), pub.c_str()); },
       "modulus size 511 is below 512 bits\n", false},
      {"no private name", [&] { return rsa(2048, nullptr, pub.c_str()); },
       "no key file specified\n", false},
      {"no public name", [&] { return ec("prime256v1", priv.c_str(), nullptr); },
       "no key file specified\n", false},
      {"an unknown curve", [&] { return ec("nosuchcurve", priv.c_str(), pub.c_str()); },
       "unknown curve name: nosuchcurve\n", false},
      {"EC, the public name a FIFO", [&] { return ec("prime256v1", priv.c_str(), pub.c_str()); },
       "unable to open public key file: " + pub + "\n", true},
      {"RSA, the public name a FIFO", [&] { return rsa(1024, priv.c_str(), pub.c_str()); },
       "unable to open public key file: " + pub + "\n", true},
      {"the public name in no directory",
       [&] { return ec("prime256v1", priv.c_str(), lost.c_str()); },
       "unable to open public key file: " + lost + "\n", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(priv) << "earlier private";
    std::unique_ptr<kek_test::FifoPeer> peer;
    if (c.pub_a_fifo) {
      ASSERT_TRUE(kek_test::put(pub, {Plant::kDrainingFifo, ""}, peer));
    } else {
      std::ofstream(pub) << "earlier public";
    }
    Uint32 r = 0;
    EXPECT_EQ(c.message, printed([&] { r = c.call(); }));
    EXPECT_EQ(RET_ERROR, r);
    EXPECT_EQ("earlier private", slurp(priv));
    if (!c.pub_a_fifo) {
      EXPECT_EQ("earlier public", slurp(pub));
    }
    EXPECT_EQ((std::set<std::string>{"priv.pem", "pub.pem"}), entries(dir_));
    peer.reset();
    std::filesystem::remove(pub);
  }
  // The floor is OpenSSL's own: it makes no 511-bit key, and a 512-bit pair
  // is made.
  EXPECT_EQ(nullptr, Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{511})));
  ERR_clear_error();
  ASSERT_EQ(0u, rsa(512, priv.c_str(), pub.c_str()));
  Pkey k(load_pkey(priv.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
  ASSERT_TRUE(k);
  EXPECT_EQ(512, EVP_PKEY_get_bits(k.get()));
}

// Ids no account on the host holds: two users (each with a group of the same
// number) and a group neither is in.
constexpr uid_t kAlice = 4321, kBob = 4322;
constexpr gid_t kStrangers = 4399;

// fn's result (0 to 254) in a child running as uid with its own group alone,
// as setpriv --reuid --regid --clear-groups would run it, under the umask; 255
// when the switch fails. Root stays root. What the child prints shows in the
// parent's standard output.
int as_user(uid_t uid, mode_t mask, const std::function<int()> &fn) {
  fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    umask(mask);
    if (uid != 0 && (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
                     setresuid(uid, uid, uid) != 0))
      _exit(255);
    const int r = fn();
    fflush(stdout);
    _exit(r);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A file's owner, group and permission bits.
struct Owned {
  uid_t uid;
  gid_t gid;
  mode_t mode;
  bool operator==(const Owned &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Owned &o) {
  char mode[8];
  snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(o.mode));
  return os << o.uid << ":" << o.gid << " " << mode;
}
Owned owned(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return {0, 0, 0};
  return {st.st_uid, st.st_gid, st.st_mode & 07777};
}
// A file with that text, owner, group and mode.
void plant(const std::string &path, const std::string &text, const Owned &o) {
  std::ofstream(path) << text;
  ASSERT_EQ(0, chown(path.c_str(), o.uid, o.gid));
  ASSERT_EQ(0, chmod(path.c_str(), o.mode));
}
// A directory with that owner, group and mode (a sticky bit kept).
void make_dir(const std::string &path, const Owned &o) {
  ASSERT_EQ(0, mkdir(path.c_str(), 0700));
  ASSERT_EQ(0, chown(path.c_str(), o.uid, o.gid));
  ASSERT_EQ(0, chmod(path.c_str(), o.mode));
}
void make_dir(const std::string &path, uid_t uid, mode_t mode) { make_dir(path, {uid, uid, mode}); }
// Where a symlink points; "" for anything else.
std::string link_of(const std::string &path) {
  char target[256];
  const ssize_t n = readlink(path.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}
// The files hold a new matching pair (read as root).
void expect_new_pair(const std::string &priv, const std::string &pub) {
  EXPECT_NE("earlier private", slurp(priv));
  Pkey k(load_pkey(priv.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
  Pkey p(load_pkey(pub.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PUBLIC));
  ASSERT_TRUE(k && p);
  EXPECT_EQ(1, EVP_PKEY_eq(k.get(), p.get()));
}

// Each pair helper, on its own names.
struct Generator {
  const char *what;
  std::function<Uint32(const std::string &, const std::string &)> generate;
};
const Generator kGenerators[] = {
    {"EC",
     [](const std::string &priv, const std::string &pub) {
       return generate_kek_ecc_key_pair(i8("prime256v1"), i8(priv), i8(pub));
     }},
    {"RSA",
     [](const std::string &priv, const std::string &pub) {
       return generate_kek_rsa_key_pair(1024, i8(priv), i8(pub));
     }},
};

// A pair is replaced as a pair: when the public key file cannot be replaced
// (a sticky directory, the file another user's), the private key file is
// put back as it was, or removed again where there was none, and nothing
// new is left beside them.
TEST_F(KeyFiles, APairIsReplacedWholeOrNotAtAll) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
  ASSERT_EQ(0, chmod(dir_.c_str(), 0711));
  const std::string shared = at("shared"), priv = shared + "/priv.pem", pub = shared + "/pub.pem";
  make_dir(shared, 0, 01777);
  for (const Generator &g : kGenerators) {
    for (const bool priv_before : {true, false}) {
      SCOPED_TRACE(std::string(g.what) + (priv_before ? ", a private key file there" : ", none"));
      std::set<std::string> names = {"pub.pem"};
      if (priv_before) {
        plant(priv, "earlier private", {kAlice, kAlice, 0600});
        names.insert("priv.pem");
      }
      plant(pub, "earlier public", {kBob, kBob, 0644});
      int r = 0;
      EXPECT_EQ("unable to write public key file: " + pub + "\n", printed([&] {
                  r = as_user(kAlice, 022, [&] { return int(g.generate(priv, pub)); });
                }));
      EXPECT_EQ(RET_ERROR, r);
      EXPECT_EQ(names, entries(shared));
      if (priv_before) {
        EXPECT_EQ("earlier private", slurp(priv));
        EXPECT_EQ((Owned{kAlice, kAlice, 0600}), owned(priv));
      }
      EXPECT_EQ("earlier public", slurp(pub));
      EXPECT_EQ((Owned{kBob, kBob, 0644}), owned(pub));
      std::filesystem::remove(priv);
      std::filesystem::remove(pub);
    }
  }
}

// A directory the caller may write and enter but not read: the pair is
// replaced, and the directory's sync, which needs it opened, is left out
// rather than failing a call whose files are in place.
TEST_F(KeyFiles, ADirectoryThatCannotBeReadTakesThePair) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(0, chmod(dir_.c_str(), 0711));
  const std::string hidden = at("hidden"), priv = hidden + "/priv.pem", pub = hidden + "/pub.pem";
  make_dir(hidden, kAlice, 0300);
  for (const Generator &g : kGenerators) {
    for (const bool before : {true, false}) {
      SCOPED_TRACE(std::string(g.what) + (before ? ", files there" : ", no files there"));
      if (before) {
        plant(priv, "earlier private", {kAlice, kAlice, 0600});
        plant(pub, "earlier public", {kAlice, kAlice, 0644});
      }
      EXPECT_EQ(0, as_user(kAlice, 022, [&] { return int(g.generate(priv, pub)); }));
      expect_new_pair(priv, pub);
      EXPECT_EQ((std::set<std::string>{"priv.pem", "pub.pem"}), entries(hidden));
      EXPECT_EQ((Owned{kAlice, kAlice, 0600}), owned(priv));
      EXPECT_EQ((Owned{kAlice, kAlice, 0644}), owned(pub));
      std::filesystem::remove(priv);
      std::filesystem::remove(pub);
    }
  }
}

// A file replaced keeps its owner, group and permission bits as far as the
// caller may set them; a private key file loses the others' bits, and the
// group's when its group could not be kept.
TEST_F(KeyFiles, ReplacedFilesKeepOwnerGroupAndMode) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(0, chmod(dir_.c_str(), 0711));
  const std::string keys = at("keys"), priv = keys + "/priv.pem", pub = keys + "/pub.pem";
  make_dir(keys, kAlice, 0755);
  struct Case {
    const char *what;
    uid_t caller;
    Owned priv_before, pub_before, priv_after, pub_after;
  } cases[] = {
      {"root regenerating a service account's pair",
       0,
       {kAlice, kBob, 0640},
       {kAlice, kBob, 0644},
       {kAlice, kBob, 0640},
       {kAlice, kBob, 0644}},
      {"root, a private key file others may read",
       0,
       {kAlice, kBob, 0644},
       {kBob, kAlice, 0666},
       {kAlice, kBob, 0640},
       {kBob, kAlice, 0666}},
      {"root, no owner bits",
       0,
       {kAlice, kBob, 0047},
       {kAlice, kBob, 0404},
       {kAlice, kBob, 0040},
       {kAlice, kBob, 0404}},
      {"the owner, in a group she is not in",
       kAlice,
       {kAlice, kStrangers, 0660},
       {kAlice, kStrangers, 0664},
       {kAlice, kAlice, 0600},
       {kAlice, kAlice, 0664}},
  };
  for (const Case &c : cases) {
    for (const Generator &g : kGenerators) {
      SCOPED_TRACE(std::string(c.what) + ", " + g.what);
      plant(priv, "earlier private", c.priv_before);
      plant(pub, "earlier public", c.pub_before);
      // A umask that would take everything from a new file.
      EXPECT_EQ(0, as_user(c.caller, 0777, [&] { return int(g.generate(priv, pub)); }));
      expect_new_pair(priv, pub);
      EXPECT_EQ(c.priv_after, owned(priv));
      EXPECT_EQ(c.pub_after, owned(pub));
      EXPECT_EQ((std::set<std::string>{"priv.pem", "pub.pem"}), entries(keys));
      std::filesystem::remove(priv);
      std::filesystem::remove(pub);
    }
  }
}

// The old file's owner, group and mode are kept only where nobody but the
// directory's owner could have put it there. Elsewhere (a sticky directory
// all may write, or one the planter's group may write) empty files another
// user made first at both names give him nothing: root's new files are
// root's, the private one 0600, and he cannot read it.
TEST_F(KeyFiles, AnOwnerIsKeptOnlyWhereNoOtherUserCouldHaveMadeTheName) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(0, chmod(dir_.c_str(), 0711));
  const std::string keys = at("keys"), priv = keys + "/priv.pem", pub = keys + "/pub.pem";
  struct Case {
    const char *what;
    Owned dir, priv_before, pub_before, priv_after, pub_after;
    bool planted;  // Bob made the names: he must not read the new private key
  } cases[] = {
      {"Bob's empty files in a sticky directory all may write",
       {0, 0, 01777},
       {kBob, kBob, 0600},
       {kBob, kBob, 0600},
       {0, 0, 0600},
       {0, 0, 0644},
       true},
      {"Bob's empty files in a directory his group may write",
       {kAlice, kBob, 0775},
       {kBob, kBob, 0600},
       {kBob, kBob, 0600},
       {0, 0, 0600},
       {0, 0, 0644},
       true},
      {"root regenerating a service account's pair in its own directory",
       {kAlice, kAlice, 0700},
       {kAlice, kBob, 0640},
       {kAlice, kBob, 0644},
       {kAlice, kBob, 0640},
       {kAlice, kBob, 0644},
       false},
  };
  for (const Case &c : cases) {
    for (const Generator &g : kGenerators) {
      SCOPED_TRACE(std::string(c.what) + ", " + g.what);
      make_dir(keys, c.dir);
      plant(priv, "", c.priv_before);
      plant(pub, "", c.pub_before);
      EXPECT_EQ(0, as_user(0, 022, [&] { return int(g.generate(priv, pub)); }));
      expect_new_pair(priv, pub);
      EXPECT_EQ(c.priv_after, owned(priv));
      EXPECT_EQ(c.pub_after, owned(pub));
      if (c.planted) {
        EXPECT_EQ(EACCES, as_user(kBob, 022, [&] {
                    const int fd = open(priv.c_str(), O_RDONLY | O_CLOEXEC);
                    return fd < 0 ? errno : 0;
                  }));
      }
      std::filesystem::remove_all(keys);
    }
  }
}

// In this process from now on, renameat2 refuses to swap names or to keep
// one from being replaced (EINVAL), as on a file system without them; false
// when that cannot be arranged here.
bool refuse_name_swaps() {
#if defined(__x86_64__)
  constexpr __u32 kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr __u32 kArch = AUDIT_ARCH_AARCH64;
#else
  return false;
#endif
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),  // the flags' low half
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, RENAME_EXCHANGE | RENAME_NOREPLACE, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog prog = {static_cast<unsigned short>(std::size(code)), code};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0)
    return false;
  return renameat2(AT_FDCWD, "/nonexistent/a", AT_FDCWD, "/nonexistent/b", RENAME_EXCHANGE) != 0 &&
         errno == EINVAL;
}

// Where names cannot be swapped, a hard link keeps each old file until the
// pair is in place, and puts it back when the pair cannot be.
TEST_F(KeyFiles, WhereNamesCannotBeSwappedALinkKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
  ASSERT_EQ(0, chmod(dir_.c_str(), 0711));
  const std::string shared = at("shared"), priv = shared + "/priv.pem", pub = shared + "/pub.pem";
  make_dir(shared, 0, 01777);
  struct Case {
    const char *what;
    bool priv_there;
    Owned pub_before;
    int result;
  } cases[] = {
      {"both files hers", true, {kAlice, kAlice, 0644}, 0},
      {"the public file another user's", true, {kBob, kBob, 0666}, RET_ERROR},
      {"no private file, the public file another user's", false, {kBob, kBob, 0644}, RET_ERROR},
      {"no private file, the public file hers", false, {kAlice, kAlice, 0644}, 0},
  };
  for (const Case &c : cases) {
    for (const Generator &g : kGenerators) {
      SCOPED_TRACE(std::string(c.what) + ", " + g.what);
      if (c.priv_there) plant(priv, "earlier private", {kAlice, kAlice, 0640});
      plant(pub, "earlier public", c.pub_before);
      const std::set<std::string> before = entries(shared);
      int r = 0;
      printed([&] {
        r = as_user(kAlice, 022,
                    [&] { return refuse_name_swaps() ? int(g.generate(priv, pub)) : 254; });
      });
      EXPECT_EQ(c.result, r);
      if (c.result == 0) {
        expect_new_pair(priv, pub);
        EXPECT_EQ((std::set<std::string>{"priv.pem", "pub.pem"}), entries(shared));
        // Whatever the old file's mode: in a directory others may write, the
        // name is taken as empty.
        EXPECT_EQ((Owned{kAlice, kAlice, 0600u}), owned(priv));
      } else {
        EXPECT_EQ(before, entries(shared));
        if (c.priv_there) {
          EXPECT_EQ("earlier private", slurp(priv));
        }
        EXPECT_EQ("earlier public", slurp(pub));
      }
      EXPECT_EQ(c.pub_before, owned(pub));
      std::filesystem::remove(priv);
      std::filesystem::remove(pub);
    }
  }
}

// Names that lead to one file are refused before anything changes: the
// public key would otherwise take the private key's place.
TEST_F(KeyFiles, TwoNamesForOneFileRefused) {
  const std::string sub = at("sub"), alias = at("alias"), k = sub + "/k.pem",
                    other = sub + "/other.pem";
  ASSERT_TRUE(std::filesystem::create_directory(sub));
  ASSERT_EQ(0, symlink("sub", alias.c_str()));
  struct Case {
    const char *what;
    std::string priv, pub;
    std::function<void()> plant;  // beyond k.pem's "earlier"
    bool k_there;
  } cases[] = {
      {"the same path", k, k, [] {}, true},
      {"the same path, nothing there yet", k, k, [] {}, false},
      {"dir/./k.pem and dir/k.pem", sub + "/./k.pem", k, [] {}, true},
      {"dir/k.pem and dir/./k.pem, nothing there yet", k, sub + "/./k.pem", [] {}, false},
      {"the directory through a symlink", alias + "/k.pem", k, [] {}, true},
      {"the public name a symlink to the private one", k, other,
       [&] { ASSERT_EQ(0, symlink("k.pem", other.c_str())); }, true},
      {"the private name a symlink to the public one", other, k,
       [&] { ASSERT_EQ(0, symlink(k.c_str(), other.c_str())); }, true},
      {"two hard links of one file", k, other,
       [&] { ASSERT_EQ(0, link(k.c_str(), other.c_str())); }, true},
  };
  for (const Case &c : cases) {
    for (const Generator &g : kGenerators) {
      SCOPED_TRACE(std::string(c.what) + ", " + g.what);
      if (c.k_there) std::ofstream(k) << "earlier";
      c.plant();
      const std::set<std::string> before = entries(sub);
      const std::string link_before = link_of(other);
      Uint32 r = 0;
      EXPECT_EQ("private and public key files are one file: " + c.priv + ", " + c.pub + "\n",
                printed([&] { r = g.generate(c.priv, c.pub); }));
      EXPECT_EQ(RET_ERROR, r);
      EXPECT_EQ(before, entries(sub));
      if (c.k_there) {
        EXPECT_EQ("earlier", slurp(k));
      }
      EXPECT_EQ(link_before, link_of(other));
      std::filesystem::remove(k);
      std::filesystem::remove(other);
    }
  }
}

// In this process from now on, each fsync and renameat2 waits until at(nr,
// nth) has run in a thread of its own (nr the call, nth how many of that
// call there have been, from 1), then goes on as made: a test acts at an
// exact step of the code under test. False when that cannot be arranged.
bool hold_calls(std::function<void(long nr, int nth)> at) {
#if defined(__x86_64__)
  constexpr __u32 kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr __u32 kArch = AUDIT_ARCH_AARCH64;
#else
  return false;
#endif
  auto listener = std::make_shared<std::atomic<int>>(-1);
  std::thread([listener, at = std::move(at)] {
    int fd = -1;
    while ((fd = listener->load()) == -1) std::this_thread::yield();
    std::map<long, int> seen;
    while (fd >= 0) {
      seccomp_notif req{};
      if (ioctl(fd, SECCOMP_IOCTL_NOTIF_RECV, &req) != 0) {
        if (errno == EINTR) continue;
        return;
      }
      at(req.data.nr, ++seen[req.data.nr]);
      seccomp_notif_resp resp{};
      resp.id = req.id;
      resp.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
      ioctl(fd, SECCOMP_IOCTL_NOTIF_SEND, &resp);
    }
  }).detach();
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fsync, 1, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog prog = {static_cast<unsigned short>(std::size(code)), code};
  const int fd = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
                     ? static_cast<int>(syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                                                SECCOMP_FILTER_FLAG_NEW_LISTENER, &prog))
                     : -1;
  listener->store(fd >= 0 ? fd : -2);
  return fd >= 0;
}

// Two processes started together on one pair, round after round, from an
// old pair and from none: whichever runs report success, the names hold a
// whole pair of one run (never one run's private key with the other's
// public key, never a name emptied), a round in which both fail leaves the
// old pair, and no new file stays beside the names. Each waits a moment at
// its first swap for the other to get there too, so that the two overlap
// where they otherwise would only now and then.
TEST_F(KeyFiles, TwoWritersOfOnePairLeaveAWholePair) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem");
  constexpr int kRounds = 300;
  constexpr auto kMeet = std::chrono::milliseconds(2);
  // How many of this round's runs got to their first swap, seen by both.
  void *shared = mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(MAP_FAILED, shared);
  std::atomic<int> *arrived = new (shared) std::atomic<int>(0);
  struct Case {
    const char *what;
    bool old_pair;
  } cases[] = {{"from an old pair", true}, {"from no files", false}};
  bool held = true;  // calls could be held in the runs
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    int wrong = 0;
    std::string first;
    printed([&] {
      for (int round = 0; round < kRounds; ++round) {
        std::filesystem::remove(priv);
        std::filesystem::remove(pub);
        if (c.old_pair) {
          std::ofstream(priv) << "earlier private";
          std::ofstream(pub) << "earlier public";
        }
        arrived->store(0);
        // Both wait for the end of one pipe, which the parent closes.
        int go[2];
        ASSERT_EQ(0, pipe(go));
        pid_t pids[2];
        fflush(stdout);
        for (pid_t &pid : pids) {
          pid = fork();
          if (pid == 0) {
            close(go[1]);
            char byte;
            [[maybe_unused]] const ssize_t n = read(go[0], &byte, 1);
            if (!hold_calls([&](long nr, int nth) {
                  if (nr != SYS_renameat2 || nth != 1) return;
                  const auto until = std::chrono::steady_clock::now() + kMeet;
                  for (arrived->fetch_add(1);
                       arrived->load() < 2 && std::chrono::steady_clock::now() < until;)
                    std::this_thread::yield();
                  // Then up to 0.1 ms more, told by the process id, so that
                  // either may go first and by more or less.
                  const auto after = std::chrono::steady_clock::now() +
                                     std::chrono::microseconds(getpid() * 7919 % 100);
                  while (std::chrono::steady_clock::now() < after) continue;
                }))
              _exit(254);
            const Uint32 r = generate_kek_ecc_key_pair(i8("prime256v1"), i8(priv), i8(pub));
            fflush(stdout);
            _exit(r == 0 ? 0 : 1);
          }
        }
        close(go[0]);
        close(go[1]);
        int succeeded = 0;
        for (pid_t pid : pids) {
          int status = 0;
          if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
            succeeded += WEXITSTATUS(status) == 0;
            held = held && WEXITSTATUS(status) != 254;
          }
        }
        std::string what;
        const auto names = succeeded > 0 || c.old_pair
                               ? std::set<std::string>{"priv.pem", "pub.pem"}
                               : std::set<std::string>{};
        if (entries(dir_) != names) {
          what = "the directory holds other names";
        } else if (succeeded > 0) {
          Pkey k(load_pkey(priv.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
          Pkey p(load_pkey(pub.c_str(), QEL2_KEY_FORMAT_PEM, QEL2_KEY_PUBLIC));
          if (!k || !p || EVP_PKEY_eq(k.get(), p.get()) != 1) what = "no whole pair of one run";
        } else if (c.old_pair &&
                   (slurp(priv) != "earlier private" || slurp(pub) != "earlier public")) {
          what = "both failed, the old pair changed";
        }
        if (!what.empty() && wrong++ == 0)
          first = "round " + std::to_string(round) + " (" + std::to_string(succeeded) +
                  " succeeded): " + what;
      }
    });
    if (!held) break;
    EXPECT_EQ(0, wrong) << wrong << " of " << kRounds << " rounds went wrong; the first, " << first;
  }
  munmap(shared, sizeof(std::atomic<int>));
  if (!held) GTEST_SKIP() << "calls cannot be held here (no seccomp user notification)";
}

// A writer waits a few seconds for another writer's lock on the directory:
// let go meanwhile, the pair is written; held all that while, the call fails
// with both files as they were and nothing beside them.
TEST_F(KeyFiles, AnotherWritersLockIsWaitedForAFewSeconds) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem");
  struct Case {
    const char *what;
    bool let_go;
    Uint32 result;
    std::string message;
  } cases[] = {
      {"let go after a moment", true, 0, ""},
      {"held for the whole wait", false, RET_ERROR,
       "unable to open private key file: " + priv + "\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(priv) << "earlier private";
    std::ofstream(pub) << "earlier public";
    const int held = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    std::thread other([&] {
      if (!c.let_go) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      flock(held, LOCK_UN);
    });
    Uint32 r = 0;
    EXPECT_EQ(c.message,
              printed([&] { r = generate_kek_ecc_key_pair(i8("prime256v1"), i8(priv), i8(pub)); }));
    other.join();
    close(held);
    EXPECT_EQ(c.result, r);
    EXPECT_EQ((std::set<std::string>{"priv.pem", "pub.pem"}), entries(dir_));
    if (c.result == 0) {
      expect_new_pair(priv, pub);
    } else {
      EXPECT_EQ("earlier private", slurp(priv));
      EXPECT_EQ("earlier public", slurp(pub));
    }
  }
}

// The steps of a pair's writing a test acts at, as the calls made then (a
// name that holds a file takes one exchange).
struct Moment {
  const char *what;
  long nr;
  int nth;
};
const Moment kMoments[] = {
    {"while the first new file is synced", SYS_fsync, 1},
    {"before the first swap", SYS_renameat2, 1},
    {"between the swaps", SYS_renameat2, 2},
};

// The EC pair written by root in a child where `at` runs at each held call
// (see hold_calls); 254 when calls cannot be held here.
int ec_pair_holding_calls(const std::string &priv, const std::string &pub,
                          const std::function<void(long, int)> &at) {
  return as_user(0, 022, [&] {
    if (!hold_calls(at)) return 254;
    return int(generate_kek_ecc_key_pair(i8("prime256v1"), i8(priv), i8(pub)));
  });
}

// A symlinked directory on the names' paths flipped during the call (as
// release tools flip a `current` link between versions): every step stays
// in the directory each name led to when the call began. With both names
// through the link the pair lands whole in the first directory, and the
// other's files keep their bytes; with the private name in `a` and the
// public one through a link flipped to `a`, each file lands where its name
// first led, never one over the other.
TEST_F(KeyFiles, ASymlinkFlippedDuringTheCallMovesNoStep) {
  const std::string a = at("a"), b = at("b"), current = at("current");
  ASSERT_TRUE(std::filesystem::create_directory(a) && std::filesystem::create_directory(b));
  struct Layout {
    const char *what;
    const char *from, *to;  // where `current` points before the flip and after
    std::string priv, pub;  // the names given
    std::string priv_lands, pub_lands;
    std::vector<std::string> others;  // files that keep their bytes
  } layouts[] = {
      {"both names through the link",
       "a",
       "b",
       current + "/priv.pem",
       current + "/pub.pem",
       a + "/priv.pem",
       a + "/pub.pem",
       {b + "/priv.pem", b + "/pub.pem"}},
      {"the private name in a, the public one through the link",
       "b",
       "a",
       a + "/host.pem",
       current + "/host.pem",
       a + "/host.pem",
       b + "/host.pem",
       {}},
  };
  for (const Layout &l : layouts) {
    for (const Moment &m : kMoments) {
      SCOPED_TRACE(std::string(l.what) + ", flipped " + m.what);
      std::ofstream(l.priv_lands) << "earlier private";
      std::ofstream(l.pub_lands) << "earlier public";
      for (const std::string &o : l.others) std::ofstream(o) << "other";
      std::filesystem::remove(current);
      ASSERT_EQ(0, symlink(l.from, current.c_str()));
      const std::set<std::string> in_a = entries(a), in_b = entries(b);
      int r = 0;
      EXPECT_EQ("", printed([&] {
                  r = ec_pair_holding_calls(l.priv, l.pub, [&](long nr, int nth) {
                    if (nr != m.nr || nth != m.nth) return;
                    // Flipped in one step, as such tools do.
                    const std::string next = current + ".next";
                    if (symlink(l.to, next.c_str()) == 0) rename(next.c_str(), current.c_str());
                  });
                }));
      if (r == 254) GTEST_SKIP() << "calls cannot be held here (no seccomp user notification)";
      EXPECT_EQ(0, r);
      EXPECT_EQ(l.to, link_of(current));  // flipped during the call
      expect_new_pair(l.priv_lands, l.pub_lands);
      for (const std::string &o : l.others) EXPECT_EQ("other", slurp(o));
      EXPECT_EQ(in_a, entries(a));
      EXPECT_EQ(in_b, entries(b));
      for (const std::string &d : {a, b})
        for (const auto &e : std::filesystem::directory_iterator(d))
          std::filesystem::remove(e.path());
    }
  }
}

// A directory moved in at a name after the check, just before that name's
// swap: it is swapped back to its name, whole, and the call fails as the
// check would have, the other name as it was and nothing left beside them.
TEST_F(KeyFiles, ADirectoryMovedInAtANameAfterTheCheckGoesBack) {
  const std::string priv = at("priv.pem"), pub = at("pub.pem");
  struct Case {
    const char *what;
    std::string name, other;  // where the directory comes; the other name
    bool file_there;          // a file at that name before
    int swap;                 // the swap it comes before, from 1
    std::string message;
  } cases[] = {
      {"the private name", priv, pub, true, 1, "unable to open private key file: " + priv + "\n"},
      {"the private name, which held nothing", priv, pub, false, 1,
       "unable to open private key file: " + priv + "\n"},
      {"the public name, the private file swapped in already", pub, priv, true, 2,
       "unable to open public key file: " + pub + "\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(priv) << "earlier";
    std::ofstream(pub) << "earlier";
    if (!c.file_there) std::filesystem::remove(c.name);
    const std::string inner = c.name + "/inner";
    int r = 0;
    EXPECT_EQ(c.message, printed([&] {
                r = ec_pair_holding_calls(priv, pub, [&](long nr, int nth) {
                  if (nr != SYS_renameat2 || nth != c.swap) return;
                  std::filesystem::remove(c.name);
                  std::filesystem::create_directory(c.name);
                  std::ofstream(inner) << "kept";
                });
              }));
    if (r == 254) GTEST_SKIP() << "calls cannot be held here (no seccomp user notification)";
    EXPECT_EQ(RET_ERROR, r);
    EXPECT_EQ("kept", slurp(inner));
    EXPECT_EQ("earlier", slurp(c.other));
    EXPECT_EQ((std::set<std::string>{"priv.pem", "pub.pem"}), entries(dir_));
    std::filesystem::remove_all(priv);
    std::filesystem::remove_all(pub);
  }
}

TEST(Kdf, InputsInTheirOrder) {
  Bytes pmk(48, 0x5A), hn(32), tn(256);
  for (size_t i = 0; i < hn.size(); ++i) hn[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < tn.size(); ++i) tn[i] = static_cast<uint8_t>(255 - i);
  auto kdf = [&](Bytes &host, Bytes &tgt, const char *serial) {
    Bytes mk(64);
    EXPECT_EQ(0u, KDF(pmk.data(), 48, u8("label"), static_cast<Uint32>(host.size()), host.data(),
                      static_cast<Uint32>(tgt.size()), tgt.data(), u8("gid"), u8("gpw"), u8(serial),
                      mk.data()));
    return mk;
  };
  const Bytes mk = kdf(hn, tn, "SN-1");
  EXPECT_EQ(mk, kdf(hn, tn, "SN-1"));
  EXPECT_NE(mk, kdf(tn, hn, "SN-1"));  // the nonces are not interchangeable
  EXPECT_NE(mk, kdf(hn, tn, "SN-2"));
  // SHA-512 of the inputs as the table orders them.
  Bytes all(4, 0);
  all.insert(all.end(), pmk.begin(), pmk.end());
  for (const char *s : {"label"}) all.insert(all.end(), s, s + 5);
  all.insert(all.end(), hn.begin(), hn.end());
  all.insert(all.end(), tn.begin(), tn.end());
  all.insert(all.end(), {'S', 'N', '-', '1'});
  Bytes expect(64);
  unsigned n = 0;
  ASSERT_EQ(1, EVP_Digest(all.data(), all.size(), expect.data(), &n, EVP_sha512(), nullptr));
  EXPECT_EQ(expect, mk);
  EXPECT_EQ(RET_ERROR, KDF(pmk.data(), 48, u8("l"), 32, hn.data(), 32, tn.data(), nullptr, nullptr,
                           u8("s"), nullptr));
}

// Writes a key's PEM to path; the private key unencrypted.
void write_key(const std::string &path, EVP_PKEY *k, bool priv) {
  std::unique_ptr<BIO, Free> b(BIO_new_file(path.c_str(), "w"));
  ASSERT_TRUE(b);
  ASSERT_EQ(1, priv ? PEM_write_bio_PrivateKey(b.get(), k, nullptr, nullptr, 0, nullptr, nullptr)
                    : PEM_write_bio_PUBKEY(b.get(), k));
}

TEST(ComputeMasterKey, KeysThatDoNotFitTheMethod) {
  with_private_opt([] {
    std::filesystem::create_directories("/opt/hsm/pxdv1");
    const Uint32 s = 0x45000000;  // device 1, partition 5
    const std::string priv = "/opt/hsm/pxdv1/kek_pri_key.pem_5",
                      hsm = "/opt/hsm/pxdv1/kek_hsm_pub_key.pem_5";
    Bytes in(32, 1), out(512, 2), mk(64, 0xC3);
    auto derive = [&](Uint32 method, Uint32 out_len) {
      return compute_master_key(1, s, method, in.data(), out.data(), out_len, u8("l"), u8("s"),
                                mk.data());
    };
    uint32_t r = 0;
    const std::string named = "/opt/hsm//pxdv1/kek_pri_key.pem_5";  // the same file
    EXPECT_EQ("Error opening " + named + " \nFailed loading the key from the file " + named + "\n",
              printed([&] { r = derive(0, 32); }));
    EXPECT_EQ(RET_ERROR, r);

    Pkey rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}));
    Pkey p256(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime256v1"));
    Pkey p384(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "secp384r1"));
    struct Case {
      const char *what;
      EVP_PKEY *host, *peer;
      Uint32 method, out_len;
    } cases[] = {
        {"ECDH with an RSA key", rsa.get(), p256.get(), 0, 32},
        {"ECDH with an RSA peer", p256.get(), rsa.get(), 0, 32},
        {"ECDH across curves", p256.get(), p384.get(), 0, 32},
        {"RSA with an EC key", p256.get(), p256.get(), 1, 256},
        {"RSA secret longer than the caller's bytes", rsa.get(), p256.get(), 1, 100},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      write_key(priv, c.host, true);
      write_key(hsm, c.peer, false);
      printed([&] { EXPECT_EQ(RET_ERROR, derive(c.method, c.out_len)); });
      EXPECT_EQ(Bytes(64, 0xC3), mk);  // nothing written
    }
  });
}

// The derivation's key files as FIFOs: refused as keys that cannot be
// loaded, without waiting for a writer.
TEST(ComputeMasterKey, KeyFilesThatAreFifos) {
  with_private_opt([] {
    std::filesystem::create_directories("/opt/hsm/pxdv0");
    const std::string priv = "/opt/hsm/pxdv0/kek_pri_key.pem_2",
                      hsm = "/opt/hsm/pxdv0/kek_hsm_pub_key.pem_2";
    Pkey host(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime256v1"));
    Pkey peer(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime256v1"));
    ASSERT_TRUE(host && peer);
    const std::string host_pem = pem_of(host.get(), true), peer_pem = pem_of(peer.get(), false);
    struct Case {
      const char *what;
      std::string fifo, fed, regular, regular_text, message;
    } cases[] = {
        {"the host's private key", priv, host_pem, hsm, peer_pem,
         "Error opening /opt/hsm//pxdv0/kek_pri_key.pem_2 \nFailed loading the key from the file "
         "/opt/hsm//pxdv0/kek_pri_key.pem_2\n"},
        {"the HSM's public key", hsm, peer_pem, priv, host_pem,
         "Error opening /opt/hsm//pxdv0/kek_hsm_pub_key.pem_2 \n"},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      std::ofstream(c.regular) << c.regular_text;
      std::unique_ptr<kek_test::FifoPeer> fifo;
      ASSERT_TRUE(kek_test::put(c.fifo, {Plant::kFeedingFifo, c.fed}, fifo));
      Bytes in(32, 1), out(32, 2), mk(64, 0xC3);
      uint32_t r = 0;
      EXPECT_EQ(c.message, printed([&] {
                  r = compute_master_key(0, 0x02000000, 0, in.data(), out.data(), 32, u8("l"),
                                         u8("s"), mk.data());
                }));
      EXPECT_EQ(RET_ERROR, r);
      EXPECT_EQ(Bytes(64, 0xC3), mk);
      fifo.reset();
      std::filesystem::remove(c.fifo);
      std::filesystem::remove(c.regular);
    }
  });
}

// A 16384-bit key: its raw secret is 2048 bytes, twice a fixed 1024-byte buffer.
TEST(ComputeMasterKey, RsaSecretAsWideAsALargeModulus) {
  const std::string pem = slurp(KEK_TEST_DATA "/rsa16384.pem");
  ASSERT_FALSE(pem.empty());
  with_private_opt([&] {
    std::filesystem::create_directories("/opt/hsm/pxdv0");
    std::ofstream("/opt/hsm/pxdv0/kek_pri_key.pem_1") << pem;
    Pkey k(load_pkey("/opt/hsm/pxdv0/kek_pri_key.pem_1", QEL2_KEY_FORMAT_PEM, QEL2_KEY_PRIVATE));
    ASSERT_TRUE(k);
    ASSERT_EQ(16384, EVP_PKEY_get_bits(k.get()));
    Bytes secret(2048, 0x3C), enc(2048);
    secret[0] = 0;
    std::unique_ptr<EVP_PKEY_CTX, Free> c(EVP_PKEY_CTX_new(k.get(), nullptr));
    size_t n = enc.size();
    ASSERT_TRUE(c && EVP_PKEY_encrypt_init(c.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(c.get(), RSA_NO_PADDING) == 1 &&
                EVP_PKEY_encrypt(c.get(), enc.data(), &n, secret.data(), secret.size()) == 1);
    Bytes in(32, 7), mk(64), expect(64);
    ASSERT_EQ(0u, compute_master_key(0, 0x01000000, 1, in.data(), enc.data(), 2048, u8("l"),
                                     u8("sn"), mk.data()));
    ASSERT_EQ(0u, KDF(secret.data(), 2048, u8("l"), 32, in.data(), 2048, enc.data(), nullptr,
                      nullptr, u8("sn"), expect.data()));
    EXPECT_EQ(expect, mk);
  });
}

}  // namespace
