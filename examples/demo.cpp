// qel2-demo: one walk down the SDK's main road against a daemon.
//
//   qel2-demo [partition] [user] [password]
//
// Missing arguments come from QEL2_DEMO_PARTITION, QEL2_DEMO_USER and
// QEL2_DEMO_PASSWORD, then from the stand-in HSM's defaults. The daemon is
// found through tessaline_daemon_id (and the socket-type variables).
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qel2.h"

namespace {

std::string pick(int argc, char **argv, int i, const char *env, const char *fallback) {
  if (argc > i) return argv[i];
  const char *v = std::getenv(env);
  return v && *v ? v : fallback;
}

// Prints one step with its status text; true when it succeeded.
bool step(const char *what, Uint32 status) {
  std::printf("%-28s 0x%08x  %s\n", what, status,
              reinterpret_cast<const char *>(Qel2ResultAsString(status)));
  return status == 0;
}

// Fields of the HSM and partition records travel big-endian.
Uint32 be32(Uint32 v) { return __builtin_bswap32(v); }
Uint16 be16(Uint16 v) { return __builtin_bswap16(v); }

std::string text(const Uint8 *field, size_t n) {
  size_t len = strnlen(reinterpret_cast<const char *>(field), n);
  return std::string(reinterpret_cast<const char *>(field), len);
}

void show_hsm(const HSMInfo &h) {
  std::printf("  label          %s\n", text(h.label, sizeof h.label).c_str());
  std::printf("  model          %s\n", text(h.model, sizeof h.model).c_str());
  std::printf("  serial number  %s\n", text(h.serialNumber, sizeof h.serialNumber).c_str());
  std::printf("  firmware       %s\n", text(h.firmwareString, sizeof h.firmwareString).c_str());
  std::printf("  boot loader    %s\n", text(h.bootloaderString, sizeof h.bootloaderString).c_str());
  std::printf("  hardware       %c.%c\n", h.hardwareVersion.major ? h.hardwareVersion.major : '?',
              h.hardwareVersion.minor ? h.hardwareVersion.minor : '?');
  std::printf("  sessions       %u of %u\n", be32(h.uiSessionCount), be32(h.uiMaxSessionCount));
  std::printf("  password len   %u to %u\n", be32(h.uiMinPinLen), be32(h.uiMaxPinLen));
  std::printf("  FIPS state     %u\n", be32(h.uiFipsState));
}

void show_partition(const PartitionInfo &p) {
  std::printf("  name           %s\n", text(p.name, sizeof p.name).c_str());
  std::printf("  status         %u\n", p.status);
  std::printf("  users          %u of %u free\n", be16(p.AvailableUsers), be16(p.MaxUsers));
  std::printf("  keys           %u token keys, at most %u\n", be32(p.OccupiedTokenKeys),
              be32(p.MaxKeys));
  std::printf("  sessions       %u (%u read-write)\n", be32(p.SessionCount),
              be32(p.RwSessionCount));
  std::printf("  FIPS state     %u\n", p.FipsState);
}

void show_session(const SessionInfo &s) {
  static const char *const kStates[] = {
      "read-only public",       "read-only user",
      "read-write public",      "read-write user",
      "read-write officer",     "read-write appliance user",
      "read-write pre-officer", "read-write public officer default"};
  const char *state = s.state < sizeof kStates / sizeof kStates[0] ? kStates[s.state] : "unknown";
  std::printf("  slot %u, state %u (%s), flags 0x%x, device error %u\n", s.slotID, s.state, state,
              s.flags, s.deviceError);
}

// A DER public key as PEM (base64 in lines of 64 characters), indented.
void print_pem(const std::vector<Uint8> &der) {
  // EVP_EncodeBlock writes 4 characters per 3 bytes and a closing NUL.
  std::vector<unsigned char> b64((der.size() + 2) / 3 * 4 + 1);
  const int n = EVP_EncodeBlock(b64.data(), der.data(), static_cast<int>(der.size()));
  const std::string text(reinterpret_cast<const char *>(b64.data()), n > 0 ? n : 0);
  std::printf("  -----BEGIN PUBLIC KEY-----\n");
  for (size_t i = 0; i < text.size(); i += 64) std::printf("  %s\n", text.substr(i, 64).c_str());
  std::printf("  -----END PUBLIC KEY-----\n");
}

// Signs a message with the private key on the HSM and checks the signature
// on the host with OpenSSL and the exported public key; prints the verdict.
bool sign_and_check(Uint32 session, Uint64 priv, const std::vector<Uint8> &der) {
  static const char kMessage[] = "a message signed on the HSM";
  Uint8 *msg = reinterpret_cast<Uint8 *>(const_cast<char *>(kMessage));
  const size_t msg_len = sizeof kMessage - 1;
  std::vector<Uint8> sig(1024);
  Uint32 len = static_cast<Uint32>(sig.size());
  if (!step("sign on the HSM (SHA-256)", Qel2Sign(session, msg, static_cast<Uint32>(msg_len),
                                                  sig.data(), &len, priv, MECH_SHA256_RSA_PKCS)))
    return false;
  std::printf("  signature of %u bytes\n", len);
  const unsigned char *p = der.data();
  EVP_PKEY *pub = d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  const bool valid =
      pub && ctx &&
      EVP_DigestVerifyInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, pub, nullptr) == 1 &&
      EVP_DigestVerify(ctx, sig.data(), len, msg, msg_len) == 1;
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(pub);
  std::printf("%-28s %s\n", "verify on the host",
              valid ? "the signature is valid" : "the signature is NOT valid");
  return valid;
}

// Generates an AES key and an RSA and an EC key pair; prints the handles and
// the public keys.
bool make_keys(Uint32 session) {
  Uint8 label[] = {'d', 'e', 'm', 'o'};
  Uint64 aes = 0, pub = 0, priv = 0;
  bool ok = step("generate an AES-256 key",
                 Qel2GenerateSymmetricKey(session, KEY_TYPE_AES, 32, nullptr, 0, nullptr, 0, 0,
                                          nullptr, 0, label, sizeof label, STORAGE_RAM, &aes));
  if (ok) std::printf("  AES key handle %llu\n", static_cast<unsigned long long>(aes));
  struct {
    const char *what;
    Uint32 type, bits, curve;
  } pairs[] = {{"generate an RSA-2048 key pair", KEY_TYPE_RSA, 2048, 0},
               {"generate an EC P-256 key pair", KEY_TYPE_EC, 0, 415}};
  for (const auto &p : pairs) {
    if (!step(p.what,
              Qel2GenerateKeyPair(session, p.type, p.bits, 65537, p.curve, 0, nullptr, 0, nullptr,
                                  nullptr, 0, nullptr, 0, nullptr, 0, label, sizeof label, label,
                                  sizeof label, STORAGE_RAM, &pub, &priv))) {
      ok = false;
      continue;
    }
    std::printf("  public key handle %llu, private key handle %llu\n",
                static_cast<unsigned long long>(pub), static_cast<unsigned long long>(priv));
    std::vector<Uint8> der(2048);
    Uint32 len = static_cast<Uint32>(der.size());
    if (!step("read the public key", Qel2ExportPublicKey(session, pub, der.data(), &len))) {
      ok = false;
      continue;
    }
    der.resize(len);
    print_pem(der);
    if (p.type == KEY_TYPE_RSA && !sign_and_check(session, priv, der)) ok = false;
  }
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::printf("usage: qel2-demo [partition] [user] [password]\n");
    return 0;
  }
  std::string partition = pick(argc, argv, 1, "QEL2_DEMO_PARTITION", "PARTITION_1");
  std::string user = pick(argc, argv, 2, "QEL2_DEMO_USER", "crypto_user");
  std::string password = pick(argc, argv, 3, "QEL2_DEMO_PASSWORD", "user_password");

  Uint32 app_id = 0;
  if (!step("start the library", Qel2Initialize3(0, OSTREL_DIRECT, partition.c_str(), &app_id))) {
    Qel2SDKCleanup();
    return 1;
  }
  std::printf("  application id 0x%08x (partition %s)\n", app_id, partition.c_str());

  bool ok = true;
  HSMInfo hsm = {};
  if (step("HSM information", Qel2GetHSMInfo(0, &hsm)))
    show_hsm(hsm);
  else
    ok = false;

  Uint32 session = 0;
  if (!step("open a session", Qel2OpenSession2(app_id, &session))) {
    step("shut down", Qel2Shutdown2(app_id));
    Qel2SDKCleanup();
    return 1;
  }
  std::printf("  session handle 0x%08x\n", session);

  PartitionInfo part = {};
  if (step("partition information",
           Qel2GetPartitionInfo(session, reinterpret_cast<const Uint8 *>(partition.c_str()),
                                static_cast<Uint32>(partition.size()), &part)))
    show_partition(part);
  else
    ok = false;

  std::string login_step = "log in as " + user;
  bool logged_in =
      step(login_step.c_str(),
           Qel2LoginHSM(session, KQ_CRYPTO_USER, reinterpret_cast<const Uint8 *>(user.c_str()),
                        static_cast<Uint32>(user.size()),
                        reinterpret_cast<const Uint8 *>(password.data()),
                        static_cast<Uint32>(password.size())));
  ok = ok && logged_in;

  SessionInfo info = {};
  if (step("session information", Qel2GetSessionInfo(session, &info)))
    show_session(info);
  else
    ok = false;

  if (logged_in && !make_keys(session)) ok = false;
  if (logged_in && !step("log out", Qel2LogoutHSM2(session))) ok = false;
  if (!step("close the session", Qel2CloseSession(session))) ok = false;
  if (!step("shut down", Qel2Shutdown2(app_id))) {
    ok = false;
    Qel2SDKCleanup();
  }
  std::printf("%s\n", ok ? "demo finished" : "demo finished with failures");
  return ok ? 0 : 1;
}
