// Hostile daemon answers through the public management calls: a stand-in
// daemon of the fuzzer's own answers every management request with the
// fuzzed request status and payload, and one public call decodes it. Caller
// buffers are heap blocks exactly as long as the call is told, so ASan sees
// the first byte written or read past them.
//
// Input: byte 0 picks the call, byte 1 the request status (bits 0-1), the
// size query or variant (bit 4) and the attested buffer's slack (bits 2-7),
// bytes 2-3 the caller's buffer length (big-endian), bytes 4-7 a word some
// calls take (request status, attribute id, search index, flags); the rest
// is the answer's payload.
//
// Blocking calls only, and no transport faults (cut answers, dropped
// connections): non-blocking outputs and the transport's desync and
// dead-connection handling are being reworked; the transport's own fuzzer
// drives its receive path meanwhile.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <hsmsim/daemon.h>

#include "../common/stand_in_daemon.h"

#include "daemon_intf/transport_seam.h"
#include "mgmt/objects/objects_internal.h"
#include "qel2.h"
#include "request/mgmt_request.h"

namespace {

constexpr size_t kHead = 8;
constexpr size_t kMaxPayload = 12 * 1024;
constexpr uint32_t kSession = 0x0105C007;
constexpr uint64_t kKey = (3ull << QEL2_OBJECT_SERVER_SHIFT) | 0x1234;

constexpr int kCalls = 30;

hsmsim::Daemon *daemon_ptr = nullptr;
uint32_t app_id = 0;
// The management opcodes each call sends, learnt once from the stand-in.
std::vector<uint16_t> call_opcodes[kCalls];

// A heap block of exactly n bytes (n 0 gives a 1-byte block the call is not
// told about), freed on scope exit.
struct Exact {
  uint8_t *p;
  explicit Exact(size_t n) : p(static_cast<uint8_t *>(malloc(n ? n : 1))) { memset(p, 0xA5, n); }
  ~Exact() { free(p); }
  template <class T>
  T *as() {
    return reinterpret_cast<T *>(p);
  }
};

// Every opcode the call sends answers with the same scripted answer, so a
// call that sends several requests sees the hostile answer each time.
void script_call(int which, uint32_t status, const uint8_t *payload, size_t n) {
  hsmsim::Daemon &d = *daemon_ptr;
  d.clear_scripts();
  std::vector<uint8_t> body(payload, payload + n);
  for (uint16_t op : call_opcodes[which]) {
    hsmsim::Answer a;
    a.status = status;
    a.payload = body;
    d.script(KQ_MGMT_CMD, op, a);
  }
  hsmsim::Answer v;  // daemon version: the fuzzed bytes too
  v.payload = std::vector<uint8_t>(payload, payload + (n < 2 ? n : 2));
  d.script_control(8, v);
}

uint32_t pick_status(uint8_t sel, uint32_t word) {
  switch (sel & 3) {
    case 0:
      return 0;
    case 1:
      return word;
    case 2:
      return RET_CLUSTER_OPERATION_INCOMPLETE;
    default:
      return ERR_ILLEGAL_KEY_HANDLE;
  }
}

// Find calls share their long argument lists; only the outputs vary.
struct FindOut {
  Uint32 cap;
  Exact keys;
  Uint32 num;
  explicit FindOut(Uint32 c) : cap(c), keys(size_t{c} * 8), num(c) {}
  Uint64 *k() { return keys.as<Uint64>(); }
};

// A call with a caller buffer of len bytes and its in/out length; a size
// query passes no buffer.
template <class F>
void sized(uint32_t len, bool size_query, F f) {
  Exact buf(len);
  Uint32 bl = len;
  f(size_query ? nullptr : buf.p, &bl);
}

// Attested reads: the answer and the 256-byte attestation share one
// buffer, sometimes a little too small for both.
void attested(bool all, uint8_t flags, uint32_t len, uint32_t word) {
  const Uint32 al0 = len + QEL2_ATTESTATION_LEN + (flags >> 2);
  Exact buf(len), att(al0);
  Uint32 bl = len, al = al0;
  if (all)
    Qel2GetAllAttributes3(kSession, kKey, word, buf.p, &bl, att.p, &al, nullptr);
  else
    Qel2GetAttribute2(kSession, kKey, OBJ_ATTR_LABEL, buf.p, &bl, att.p, &al, nullptr);
}

void call(int which, uint8_t flags, uint32_t len, uint32_t word) {
  const uint32_t s = kSession;
  Uint32 rid = 0;
  switch (which) {
    case 0: {
      Uint32 app = 0;
      Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app);
      break;
    }
    case 1: {
      Uint32 h = 0;
      Qel2OpenSession3(app_id, flags & 0x10 ? 2 : 0, &h);
      break;
    }
    case 2: {
      SessionInfo info;
      Qel2GetSessionInfo(s, &info);
      break;
    }
    case 3: {
      Exact r(sizeof(GetSessionInfoResponse));
      Qel2GetSessionInfo2(s, r.as<GetSessionInfoResponse>(), OSTREL_BLOCKING, &rid);
      break;
    }
    case 4: {
      static const Uint8 name[] = "crypto_user";
      Uint8 pswd[16] = {1, 2, 3};
      Qel2LoginHSM(s, KQ_CRYPTO_USER, name, sizeof name - 1, pswd, sizeof pswd);
      break;
    }
    case 5:
      Qel2LogoutHSM2(s);
      break;
    case 6: {
      Uint32 st = 0;
      Qel2GetLoginStatus(s, &st);
      Uint32 fails = 0;
      static const Uint8 name[] = "co";
      Qel2GetLoginFailureCount(s, KQ_CRYPTO_OFFICER, name, 2, &fails);
      break;
    }
    case 7: {
      Exact info(sizeof(HSMInfo));
      if (flags & 0x10)
        Qel2GetHSMInfo(0, info.as<HSMInfo>());
      else
        Qel2GetHSMInfo2(s, info.as<HSMInfo>());
      break;
    }
    case 8: {
      static const Uint8 name[] = "PARTITION_1";
      Exact info(sizeof(PartitionInfo));
      Qel2GetPartitionInfo(s, name, sizeof name - 1, info.as<PartitionInfo>());
      break;
    }
    case 9: {
      sized(len, false, [&](Uint8 *p, Uint32 *l) { Qel2FWVersion(s, p, l); });
      break;
    }
    case 10: {
      Exact sessions(QEL2_MAX_SHARED_SESSIONS * 4), users(QEL2_MAX_SHARED_USERS * 2);
      Uint8 sc = 0, uc = 0, m = 0;
      Qel2GetKeyInfo(s, kKey, sessions.as<Uint32>(), &sc, users.as<Uint16>(), &uc, &m, nullptr);
      break;
    }
    case 11: {
      const Uint32 sessions[2] = {1, 2};
      const Uint16 users[1] = {7};
      Qel2ShareKey(s, kKey, 1, sessions, 2, users, 1, nullptr);
      Qel2DeleteKey(s, kKey);
      Qel2TombstoneKey(s, kKey);
      Qel2DeleteTombstoneKey(s, kKey);
      break;
    }
    case 12: {
      sized(len, false, [&](Uint8 *p, Uint32 *l) {
        Qel2ExtractMaskedObject(s, kKey, OBJ_CLASS_SECRET_KEY, p, l);
      });
      break;
    }
    case 13: {
      sized(len, false, [&](Uint8 *p, Uint32 *l) {
        Qel2ExtractMaskedObjectWithUserInfo(s, kKey, p, l, nullptr);
      });
      break;
    }
    case 14: {
      Exact obj(24);
      memset(obj.p, 0x11, 24);
      Uint64 h = 0;
      Qel2InsertMaskedObject(s, &h, obj.p, 24, OBJ_CLASS_SECRET_KEY);
      Qel2InsertMaskedObjectWithUserInfo(s, &h, obj.p, 24, 1, nullptr);
      break;
    }
    case 15: {
      sized(len, flags & 0x10, [&](Uint8 *p, Uint32 *l) { Qel2ExportPublicKey(s, kKey, p, l); });
      break;
    }
    case 16: {
      Uint32 e = 0;
      sized(len, false,
            [&](Uint8 *p, Uint32 *l) { Qel2ExportRSAPublicKeyPlain(s, kKey, p, l, &e); });
      break;
    }
    case 17: {
      sized(len, flags & 0x10,
            [&](Uint8 *p, Uint32 *l) { Qel2GetAttribute(s, kKey, word & 0xFFFF, p, l); });
      break;
    }
    case 18: {
      attested(false, flags, len, word);
      break;
    }
    case 19: {
      sized(len, flags & 0x10, [&](Uint8 *p, Uint32 *l) { Qel2GetAllAttributes(s, kKey, p, l); });
      break;
    }
    case 20: {
      attested(true, flags, len, word);
      break;
    }
    case 21: {
      // The template check reads the key's attributes first.
      Uint8 label[6] = {'l', 'a', 'b', 'e', 'l', 0};
      Qel2SetAttribute(s, kKey, OBJ_ATTR_LABEL, label, sizeof label);
      break;
    }
    case 22: {
      Uint32 size = 0, count = 0;
      Uint8 *t = GetTemplate(s, kKey, &size, &count);
      if (t && size > 4096) abort();
      free(t);
      break;
    }
    case 23: {
      FindOut o(len / 8);
      static const Uint8 label[] = "aes";
      Qel2FindKey(s, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 1, nullptr, 0, nullptr, 0, nullptr, 0,
                  label, 3, nullptr, 0, 0, o.k(), &o.num);
      break;
    }
    case 24: {
      FindOut o(len / 8);
      Uint64 ctx = word;
      Qel2FindKeyFromIndexAsCount3(s, 0, word, OBJ_CLASS_PRIVATE_KEY, KEY_TYPE_RSA, 0, nullptr, 0,
                                   nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                   o.k(), &o.num, &ctx, nullptr);
      break;
    }
    case 25: {
      FindOut o(len / 8);
      o.num = o.cap;
      Qel2FindKeyFromIndex(s, 0, word, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 1, nullptr, 0, nullptr,
                           0, nullptr, 0, nullptr, 0, nullptr, 0, 0, o.k(), &o.num);
      break;
    }
    case 26: {
      FindOut o(len / 8);
      Exact info(o.cap);
      Qel2FindAllKeysFromIndex(s, word & 0xFFFF, 5, o.k(), info.p, &o.num);
      break;
    }
    case 27: {
      FindOut o(len / 8);
      Exact info(o.cap);
      Qel2FindAllKeysFromIndexAsCount(s, word & 0xFFFF, 5, o.k(), info.p, &o.num);
      Uint32 total = 0;
      Qel2FindAllKeys(s, 5, &total);
      break;
    }
    case 28: {
      Exact v(4);  // the daemon's version, then the library's
      get_peer_version(v.p);
      Uint32 app = 0;
      GetPeerVersion(0, &app);
      break;
    }
    default: {
      Qel2AuthorizeSession(s, kSession + 1);
      Qel2CloseSession(s);
      break;
    }
  }
  (void)rid;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The calls report every failure on standard output.
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
  qel2::mgmt::set_retry_pause_us(0);
  transport_seam_set_second_ms(1);
  daemon_ptr = fuzz::start_stand_in_daemon();
  Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app_id);
  // Learn the opcodes: each call once against the stand-in's own answers,
  // with and without the flag bit some calls branch on.
  for (int c = 0; c < kCalls; ++c) {
    daemon_ptr->set_capture(true);
    daemon_ptr->clear_captured();
    call(c, 0, 64, 0);
    call(c, 0xF0, 64, 0);
    for (const hsmsim::Captured &q : daemon_ptr->captured()) {
      if (q.operation > 1 || q.command_type != KQ_MGMT_CMD) continue;
      bool seen = false;
      for (uint16_t op : call_opcodes[c]) seen |= op == q.opcode;
      if (!seen) call_opcodes[c].push_back(q.opcode);
    }
  }
  daemon_ptr->set_capture(false);
  daemon_ptr->clear_captured();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHead || size - kHead > kMaxPayload) return 0;
  const uint32_t len = (uint32_t{data[2]} << 8) | data[3];
  const uint32_t word =
      (uint32_t{data[4]} << 24) | (uint32_t{data[5]} << 16) | (uint32_t{data[6]} << 8) | data[7];
  const int which = data[0] % kCalls;
  script_call(which, pick_status(data[1], word), data + kHead, size - kHead);
  call(which, data[1], len, word);
  // Scripts freed within the input that made them: an input that allocates
  // more than it frees costs a leak scan.
  daemon_ptr->clear_scripts();
  // A refused application initialise or daemon version drops every
  // connection; start again with the stand-in's own answers.
  if (orx_tessaline_cli_threads_table == nullptr) {
    Qel2SDKCleanup();
    Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app_id);
  }
  fuzz::settle_stand_in_daemon();
  return 0;
}
