// Hostile answers to the firmware, clone, diagnostic and core-dump calls: a
// stand-in daemon of the fuzzer's own answers every request the call sends
// with the fuzzed request status and payload. Caller buffers are heap blocks
// exactly as long as the call is told, so ASan sees the first byte written
// or read past them; files go to a mkdtemp directory.
//
// Input: byte 0 picks the call, byte 1 the request status (bits 0-1) and
// whether a result buffer is given (bit 2), bytes 2-3 the caller's buffer
// length (big-endian); the rest is the answer's payload.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <hsmsim/daemon.h>

#include "../common/stand_in_daemon.h"

#include "qel2.h"
#include "qel2_admin2.h"
#include "request/mgmt_request.h"

namespace {

constexpr size_t kHead = 4;
constexpr size_t kMaxPayload = 12 * 1024;
constexpr Uint32 kSession = 0x4105C007;  // device bits set: only the header keeps them

hsmsim::Daemon *daemon_ptr = nullptr;
std::string dir;

struct Exact {
  uint8_t *p;
  explicit Exact(size_t n) : p(static_cast<uint8_t *>(malloc(n ? n : 1))) { memset(p, 0xA5, n); }
  ~Exact() { free(p); }
};

std::string file(const char *name) { return dir + "/" + name; }
Int8 *c_str(std::string &s) { return reinterpret_cast<Int8 *>(s.data()); }

void script(uint16_t command_type, const std::vector<uint16_t> &ops, uint32_t status,
            const std::vector<uint8_t> &body) {
  for (uint16_t op : ops) {
    hsmsim::Answer a;
    a.status = status;
    a.payload = body;
    daemon_ptr->script(command_type, op, a);
  }
}

void call(int which, uint8_t flags, uint32_t len, uint32_t status,
          const std::vector<uint8_t> &body) {
  const bool given = flags & 4;
  switch (which) {
    case 0: {  // clone steps, with and without a blob and certificate data
      script(KQ_MGMT_CMD, {KQ_CLONE_SOURCE_INIT, KQ_CLONE_TARGET_INIT}, status, body);
      Exact out(len), blob(40), cert(16);
      Uint32 n = len;
      Qel2CloneSourceInit(kSession, given ? out.p : nullptr, &n);
      n = len;
      Qel2Clone2TargetInit(kSession, 3, blob.p, 40, cert.p, 16, given ? out.p : nullptr, &n);
      break;
    }
    case 1: {
      script(KQ_MGMT_CMD, {KQ_GET_HSM_DIAG_INFO}, status, body);
      Exact info(sizeof(HSMDiagInfo));
      Qel2GetHSMDiagInfo(kSession, reinterpret_cast<HSMDiagInfo *>(info.p));
      Qel2GetCoreFlag(static_cast<int>(kSession));
      break;
    }
    case 2: {  // core dumps: the flag query and the dump answered alike
      script(KQ_MGMT_CMD, {KQ_GET_HSM_DIAG_INFO, KQ_GET_CORE_DUMP, KQ_DELETE_CORE_DUMP}, status,
             body);
      std::string f = file("core");
      Qel2GetCoreDump(kSession, f.data(), MGMT_DAEMON_CORE_FILE_FLAG, len & 7, flags & 1);
      Qel2DeleteCoreDump(kSession, PASSTHROUGH_CORE_FILE_FLAG, flags & 1);
      break;
    }
    case 3: {  // the dump: the fuzzed piece, then the end
      hsmsim::Answer piece, end;
      piece.status = status;
      piece.payload = body;
      piece.count = 2;
      end.payload = std::vector<uint8_t>{};
      daemon_ptr->script(KQ_DIAG_CMD, 0, piece);
      daemon_ptr->script(KQ_DIAG_CMD, 0, end);
      std::string f = file("diag");
      Qel2DumpIt(kSession, c_str(f));
      break;
    }
    case 4: {
      script(KQ_DIAG_CMD, {0}, status, body);
      Exact out(len);
      Uint32 n = len;
      Qel2DumpItFetch(kSession, reinterpret_cast<Int8 *>(out.p), &n);
      break;
    }
    case 5: {  // a whole firmware update, every step answered alike
      script(KQ_MGMT_CMD, {KQ_FW_UPDATE_BEGIN, KQ_FW_UPDATE, KQ_FW_UPDATE_END}, status, body);
      std::string image = file("image"), auth = file("auth");
      Qel2FirmwareUpdate2(kSession, c_str(image), 9000, c_str(auth), 32, flags & 1);
      Qel2BootloaderUpdate(kSession, c_str(image), 9000, c_str(auth), 32);
      break;
    }
    default: {
      hsmsim::Answer a;
      a.status = status;
      a.payload = body;
      daemon_ptr->script_control(HSM_HEALTH_DUMP, a);
      hb_diag hb;
      Qel2HealthDump(0, &hb);
      Qel2InvokeFips(kSession);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  int devnull = open("/dev/null", O_WRONLY);  // the calls print, core dumps echo
  if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
  char tmpl[] = "/tmp/qel2-fuzz-maint-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  dir = tmpl;
  std::atexit([] {
    for (const char *n : {"core", "diag", "image", "auth"}) unlink(file(n).c_str());
    rmdir(dir.c_str());
  });
  std::vector<uint8_t> image(9000, 0x3C), auth(32, 0x11);
  FILE *f = fopen(file("image").c_str(), "wb");
  fwrite(image.data(), 1, image.size(), f);
  fclose(f);
  f = fopen(file("auth").c_str(), "wb");
  fwrite(auth.data(), 1, auth.size(), f);
  fclose(f);
  qel2::mgmt::set_retry_pause_us(0);
  daemon_ptr = fuzz::start_stand_in_daemon();
  Uint32 app = 0;
  Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHead || size - kHead > kMaxPayload) return 0;
  const uint32_t len = (uint32_t{data[2]} << 8) | data[3];
  static const uint32_t statuses[] = {0, RET_RESULT_SIZE, RET_INVALID_INPUT, TESSALINE_RETRY_OP};
  const std::vector<uint8_t> body(data + kHead, data + size);
  call(data[0] % 7, data[1], len, statuses[data[1] & 3], body);
  daemon_ptr->clear_scripts();
  fuzz::settle_stand_in_daemon();
  return 0;
}
