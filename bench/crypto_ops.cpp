// Cryptographic operations end to end through the library against the
// stand-in, beside the same handler run in-process (Hsm::execute, no
// sockets), so the library's and the transport's share shows:
//
//   crypto_ops [seconds per measurement, default 0.5]
//
// For each operation and thread count: ops/s end to end, the latency per
// operation, the handler's own time, OpenSSL's own time for the same
// computation on the same key and bytes (measured in the same run, on as
// many threads) and the handler's time over it, and for the transport-bound
// operations (null, SHA-256, AES-GCM) the ratio of their latency to the null
// operation's round trip plus the handler's time (target: within 1.15).
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <hsmsim/daemon.h>
#include <hsmsim/hsm.h>

#include "qel2.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

double g_seconds = 0.5;

// Runs op on each of n threads for the measurement time; operations per second.
double rate(int n, const std::function<std::function<bool()>(int)> &make) {
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> total{0}, failures{0};
  std::vector<std::thread> ts;
  for (int i = 0; i < n; ++i)
    ts.emplace_back([&, i] {
      auto op = make(i);
      uint64_t done = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        if (!op()) failures++;
        ++done;
      }
      total += done;
    });
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(g_seconds));
  stop = true;
  for (auto &t : ts) t.join();
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  if (failures)
    fprintf(stderr, "  (%llu failed operations)\n", (unsigned long long)failures.load());
  return double(total) / s;
}

Bytes bn_param(EVP_PKEY *k, const char *name, size_t width) {
  BIGNUM *b = nullptr;
  EVP_PKEY_get_bn_param(k, name, &b);
  Bytes out(width);
  BN_bn2binpad(b, out.data(), int(width));
  BN_free(b);
  return out;
}

uint64_t seed(hsmsim::Hsm &hsm, uint32_t cls, uint32_t type, Bytes key,
              std::vector<hsmsim::ObjectAttr> extra = {}, Bytes pub = {}) {
  hsmsim::ObjectSeed s;
  s.attributes = {hsmsim::ObjectAttr::number(OBJ_ATTR_CLASS, cls),
                  hsmsim::ObjectAttr::number(OBJ_ATTR_KEY_TYPE, type)};
  s.attributes.insert(s.attributes.end(), extra.begin(), extra.end());
  s.key = std::move(key);
  s.public_data = std::move(pub);
  auto r = hsm.seed_object(s);
  if (r.code) {
    fprintf(stderr, "seeding a key failed: 0x%x\n", r.code);
    exit(1);
  }
  return r.handle;
}

struct Op {
  const char *name;
  bool transport_bound;
  // A library call on a session; true on success.
  std::function<bool(Uint32 session)> call;
  // The same request as the handler sees it.
  std::function<hsmsim::HsmRequest(Uint32 session)> request;
  // OpenSSL computing the same on its own: makes one thread's operation
  // (its contexts set up once, as OpenSSL's own speed test does); none
  // where there is nothing to compute.
  std::function<std::function<bool()>()> openssl;
};

struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyCtx = std::shared_ptr<EVP_PKEY_CTX>;

// A context of `key` for one kind of operation, shared by one thread's calls.
PkeyCtx pkey_ctx(EVP_PKEY *key, int (*init)(EVP_PKEY_CTX *), int rsa_padding = 0) {
  PkeyCtx c(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr), PkeyCtxFree{});
  if (!c || init(c.get()) != 1 ||
      (rsa_padding && EVP_PKEY_CTX_set_rsa_padding(c.get(), rsa_padding) != 1)) {
    fprintf(stderr, "OpenSSL refuses the benchmark's key\n");
    exit(1);
  }
  return c;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1) g_seconds = atof(argv[1]);
  hsmsim::Daemon d;
  d.set_capture(false);
  d.export_env();
  hsmsim::Hsm &hsm = d.hsm();
  Uint32 app = 0, session = 0;
  const std::string user = hsmsim::defaults::kUserName, pw = hsmsim::defaults::kUserPassword;
  if (Qel2Initialize3(0, OSTREL_DIRECT, hsmsim::defaults::kPartition, &app) ||
      Qel2OpenSession2(app, &session) ||
      Qel2LoginHSM(session, KQ_CRYPTO_USER, (const Uint8 *)user.data(), Uint32(user.size()),
                   (const Uint8 *)pw.data(), Uint32(pw.size()))) {
    fprintf(stderr, "cannot start a session on the stand-in\n");
    return 1;
  }

  const uint64_t aes = seed(hsm, 4, 31, Bytes(32, 0x42));
  EVP_PKEY *rsa = EVP_RSA_gen(2048);
  Bytes block = bn_param(rsa, OSSL_PKEY_PARAM_RSA_N, 256);
  for (const char *p : {OSSL_PKEY_PARAM_RSA_D})
    for (uint8_t b : bn_param(rsa, p, 256)) block.push_back(b);
  for (const char *p :
       {OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_FACTOR1,
        OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_COEFFICIENT1})
    for (uint8_t b : bn_param(rsa, p, 128)) block.push_back(b);
  for (uint8_t b : bn_param(rsa, OSSL_PKEY_PARAM_RSA_E, 256)) block.push_back(b);
  const uint64_t rsa_key =
      seed(hsm, 3, 0, block,
           {hsmsim::ObjectAttr::bytes(OBJ_ATTR_MODULUS, bn_param(rsa, OSSL_PKEY_PARAM_RSA_N, 256)),
            hsmsim::ObjectAttr::bytes(OBJ_ATTR_PUBLIC_EXPONENT, Bytes{1, 0, 1})});
  EVP_PKEY *ec = EVP_EC_gen("P-256");
  Bytes pub(65);
  size_t pub_len = 0;
  EVP_PKEY_get_octet_string_param(ec, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size(), &pub_len);
  const uint64_t ec_key = seed(hsm, 3, 3, bn_param(ec, OSSL_PKEY_PARAM_PRIV_KEY, 32),
                               {hsmsim::ObjectAttr::number(OBJ_ATTR_MODULUS_BITS, 415)}, pub);

  static Bytes msg64(64, 0x61), gcm_in(16384, 0x62), gcm_aad(16, 0x63), rsa_in(256, 0x11),
      k(32, 0x05), hash(32, 0x33), iv(16, 0x07), key_be(8), ctrl(8);
  rsa_in[0] = 0;
  auto be = [](uint64_t v) {
    Bytes b(8);
    for (int i = 7; i >= 0; --i, v >>= 8) b[size_t(i)] = uint8_t(v);
    return b;
  };
  static Bytes aes_be = be(aes), rsa_be = be(rsa_key), ec_be = be(ec_key);
  static Bytes gcm_word = be(uint64_t(16) << 48), ecdsa_word = be(uint64_t(32) << 16 | 32);

  const std::vector<Op> ops = {
      {"null (random 0)", true,
       [](Uint32 s) {
         Uint8 b[1];
         return Qel2Random(s, OSTREL_BLOCKING, 0, b, nullptr) == 0;
       },
       [](Uint32 s) {
         hsmsim::HsmRequest r;
         r.command_type = 1, r.opcode = 0x0101, r.session_handle = s, r.output_sizes = {0};
         return r;
       },
       nullptr},
      {"SHA-256 of 64 bytes", true,
       [](Uint32 s) {
         Uint8 h[32];
         return Qel2Hash(s, OSTREL_BLOCKING, SHA256_TYPE, 64, msg64.data(), h, nullptr) == 0;
       },
       [](Uint32 s) {
         hsmsim::HsmRequest r;
         r.command_type = 1, r.opcode = 0x0606, r.param2 = 3, r.session_handle = s;
         r.inputs = {msg64}, r.output_sizes = {32};
         return r;
       },
       [] {
         return [] {
           Uint8 h[32];
           return EVP_Q_digest(nullptr, "SHA256", nullptr, msg64.data(), 64, h, nullptr) == 1;
         };
       }},
      {"AES-GCM of 16 KiB", true,
       [=](Uint32 s) {
         static thread_local Bytes out(16384), tag(16), v(16);
         v.assign(16, 0x07);
         return Qel2EncryptAesGcm(s, OSTREL_BLOCKING, v.data(), aes, 16, gcm_aad.data(), 16384,
                                  gcm_in.data(), out.data(), tag.data(), nullptr) == 0;
       },
       [=](Uint32 s) {
         hsmsim::HsmRequest r;
         r.command_type = 4, r.opcode = 0x080E, r.param1 = 16384, r.param2 = 0x21;
         r.session_handle = s, r.key_handle = aes;
         r.inputs = {gcm_word, iv, aes_be, gcm_aad, gcm_in}, r.output_sizes = {16, 16384, 16};
         return r;
       },
       [] {
         auto ctx = std::shared_ptr<EVP_CIPHER_CTX>(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
         auto out = std::make_shared<Bytes>(16384 + 16);
         return [ctx, out] {
           static const Bytes key(32, 0x42), v(12, 0x07);
           int n = 0;
           Uint8 tag[16];
           return EVP_EncryptInit_ex2(ctx.get(), EVP_aes_256_gcm(), key.data(), v.data(),
                                      nullptr) == 1 &&
                  EVP_EncryptUpdate(ctx.get(), nullptr, &n, gcm_aad.data(), 16) == 1 &&
                  EVP_EncryptUpdate(ctx.get(), out->data(), &n, gcm_in.data(), 16384) == 1 &&
                  EVP_EncryptFinal_ex(ctx.get(), out->data() + n, &n) == 1 &&
                  EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, tag) == 1;
         };
       }},
      {"RSA-2048 private", false,
       [=](Uint32 s) {
         Uint8 out[256];
         return Qel2ModExpWithKeyOnHSM(s, OSTREL_BLOCKING, rsa_key, true, 256, rsa_in.data(), 256,
                                       out, nullptr) == 0;
       },
       [=](Uint32 s) {
         hsmsim::HsmRequest r;
         r.command_type = 4, r.opcode = 0x0804, r.param1 = 256, r.session_handle = s;
         r.key_handle = rsa_key, r.inputs = {rsa_be, rsa_in}, r.output_sizes = {256};
         return r;
       },
       [=] {
         PkeyCtx c = pkey_ctx(rsa, EVP_PKEY_decrypt_init, RSA_NO_PADDING);
         return [c] {
           Uint8 out[256];
           size_t n = sizeof out;
           return EVP_PKEY_decrypt(c.get(), out, &n, rsa_in.data(), 256) == 1;
         };
       }},
      {"P-256 ECDSA sign", false,
       [=](Uint32 s) {
         Uint8 r[32], sg[32];
         return Qel2ECDSASign(s, OSTREL_BLOCKING, P256, ec_key, k.data(), 32, hash.data(), 32, r,
                              sg, nullptr) == 0;
       },
       [=](Uint32 s) {
         hsmsim::HsmRequest r;
         r.command_type = 4, r.opcode = 0x601E, r.param1 = 0x2002, r.session_handle = s;
         r.key_handle = ec_key, r.inputs = {ecdsa_word, k, ec_be, hash};
         r.output_sizes = {32, 32};
         return r;
       },
       [=] {
         PkeyCtx c = pkey_ctx(ec, EVP_PKEY_sign_init);
         return [c] {
           Uint8 sig[80];
           size_t n = sizeof sig;
           return EVP_PKEY_sign(c.get(), sig, &n, hash.data(), 32) == 1;
         };
       }},
  };

  printf("%-20s %7s %12s %11s %11s %11s %8s %8s\n", "operation", "threads", "e2e ops/s",
         "e2e us/op", "handler us", "openssl us", "x ossl", "ratio");
  for (int threads : {1, 8}) {
    double null_us = 0;
    for (const Op &op : ops) {
      std::vector<Uint32> sessions(static_cast<size_t>(threads), 0u);
      for (auto &s : sessions)
        if (Qel2OpenSession2(app, &s)) return 1;
      const double e2e = rate(threads, [&](int i) {
        const Uint32 s = sessions[size_t(i)];
        return [&op, s] { return op.call(s); };
      });
      const double in_proc = rate(threads, [&](int i) {
        auto req = std::make_shared<hsmsim::HsmRequest>(op.request(sessions[size_t(i)]));
        return [&hsm, req] { return hsm.execute(*req).status == 0; };
      });
      const double e2e_us = 1e6 * threads / e2e, handler_us = 1e6 * threads / in_proc;
      char ossl_us[16] = "-", vs_ossl[16] = "-";
      if (op.openssl) {
        const double own = 1e6 * threads / rate(threads, [&](int) { return op.openssl(); });
        snprintf(ossl_us, sizeof ossl_us, "%.2f", own);
        snprintf(vs_ossl, sizeof vs_ossl, "%.2f", handler_us / own);
      }
      if (std::string(op.name).rfind("null", 0) == 0) null_us = e2e_us;
      char ratio[16] = "-";
      if (op.transport_bound)
        snprintf(ratio, sizeof ratio, "%.2f", e2e_us / (null_us + handler_us));
      printf("%-20s %7d %12.0f %11.1f %11.2f %11s %8s %8s\n", op.name, threads, e2e, e2e_us,
             handler_us, ossl_us, vs_ossl, ratio);
      for (auto s : sessions) Qel2CloseSession(s);
    }
  }
  Qel2Shutdown(0);
  EVP_PKEY_free(rsa);
  EVP_PKEY_free(ec);
  return 0;
}
