// Diagnostics for administration tools: the daemon's health record, the
// diagnostic dump streamed into a file, the FIPS self-tests, the HSM's
// diagnostic information record, and the core dumps the HSM keeps for its
// pass-through and management daemons.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mgmt/admin2/file_handle.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr uint32_t kDumpPiece = 4096;
constexpr uint32_t kFipsTimeout = 360;  // seconds: the self-tests take long
constexpr size_t kDiagCmdLen = 20;      // GetHSMDiagInfoCommand
constexpr size_t kDiagRespLen = kResponseHeaderLen + sizeof(HSMDiagInfo);
constexpr int kDiagErrorLine = 8232;  // the line number tools have always been shown
constexpr size_t kCoreCmdLen = 28;    // GetCoreDumpCommand
constexpr uint32_t kCoreMaxData = 8192;
constexpr uint32_t kCoreHeadLen = 20;  // ResponseHeader + ulDataSize
constexpr uint32_t kCoreRespLen = kCoreHeadLen + kCoreMaxData;
constexpr int kSkipFlagQuery = 1;  // cmd_flag bit 0

const char *core_file_name(uint32_t which) {
  switch (which) {
    case PASSTHROUGH_CORE_FILE_FLAG:
      return "/opt/logs/core_passthrough";
    case MGMT_DAEMON_CORE_FILE_FLAG:
      return "/opt/logs/core_mgmt_daemon";
    default:
      return "None";
  }
}

// Both requests answer the core-dump record; the second parameter names the file.
void core_request(MgmtRequest &rq, uint8_t *resp, uint32_t which) {
  rq.out_local(resp, kCoreRespLen)
      .params(static_cast<uint16_t>(rq.data_len()), static_cast<uint16_t>(which & 0xFFFF));
  rq.raw().outoffset[0] = kCoreHeadLen;  // meaningful length of the answer segment
}

bool write_all(FILE *f, const void *data, size_t n) { return n == 0 || fwrite(data, 1, n, f) == n; }

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2HealthDump(int, struct hb_diag *buffer) {
  if (buffer == nullptr) return RET_INVALID_INPUT;
  hb_diag hb{};
  const Int32 r =
      orx_tessaline_cli_send_daemon(&hb, HSM_HEALTH_DUMP, OSTREL_BLOCKING, nullptr, nullptr);
  if (r == 0) *buffer = hb;
  return static_cast<Uint32>(r);
}

QEL2_EXPORT Uint32 Qel2DumpItFetch(Uint32 ulSessionHandle, Int8 *diag, Uint32 *diag_len) {
  if (diag == nullptr || diag_len == nullptr) return RET_INVALID_INPUT;
  // A segment's size travels in 16 bits.
  const Uint32 want = std::min<Uint32>(*diag_len, kMaxSegmentLen);
  MgmtRequest rq(0, masked_session(ulSessionHandle), KQ_DIAG_CMD);
  rq.out(diag, want);
  rq.send();
  const Uint32 r = rq.status_result();
  if (r == 0) *diag_len = rq.received(0);
  return r;
}

QEL2_EXPORT Uint32 Qel2DumpIt(Uint32 ulSessionHandle, Int8 *diag_file) {
  FileHandle f = open_file(reinterpret_cast<const char *>(diag_file), "w");
  if (!f) return ERR_OPEN_FILE;
  std::vector<Int8> piece(kDumpPiece);
  for (;;) {
    Uint32 n = kDumpPiece;
    if (Uint32 r = Qel2DumpItFetch(ulSessionHandle, piece.data(), &n)) return r;
    if (n == 0) break;  // the dump ended
    // A dump cut short on the disk is not a dump taken.
    if (!write_all(f.get(), piece.data(), n)) return ERR_WRITE_OUTPUT_FILE;
  }
  return fclose(f.release()) == 0 ? 0 : ERR_WRITE_OUTPUT_FILE;
}

QEL2_EXPORT Uint32 Qel2InvokeFips(Uint32 ulSessionHandle) {
  MgmtRequest rq(KQ_INVOKE_FIPS, masked_session(ulSessionHandle), KQ_MGMT_CMD, kFipsTimeout);
  rq.send();
  return rq.status_result();
}

QEL2_EXPORT Uint32 Qel2GetHSMDiagInfo(Uint32 ulSessionHandle, HSMDiagInfo *stats) {
  if (stats == nullptr) return RET_INVALID_INPUT;
  CommandRecord<kDiagCmdLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);  // the whole handle
  std::vector<uint8_t> resp(kDiagRespLen);
  MgmtRequest rq(KQ_GET_HSM_DIAG_INFO, masked_session(ulSessionHandle));
  rq.command(cmd).out_local(resp.data(), static_cast<uint32_t>(resp.size()));
  rq.send();
  Uint32 r = rq.status_result();
  // An HSM refusal travels in the response code alone; it is not a success.
  ResponseHead head;
  if (r == 0 && rq.response_head(&head) && head.code != 0) r = head.code;
  if (r == 0 && rq.received(0) < kDiagRespLen) r = TESSALINE_INVALID_MSG;
  if (r != 0) {
    printf("\nioctl error %d at line %d\n", static_cast<int>(r), kDiagErrorLine);
    return r;
  }
  memcpy(stats, resp.data() + kResponseHeaderLen, sizeof(HSMDiagInfo));
  return 0;
}

// The HSM reports its core files in its diagnostic information: the flag
// has bit 0 for the pass-through daemon's and bit 1 for the management
// daemon's.
QEL2_EXPORT int Qel2GetCoreFlag(int ulSessionHandle) {
  HSMDiagInfo info;
  if (Qel2GetHSMDiagInfo(static_cast<Uint32>(ulSessionHandle), &info) != 0) return 0;
  return (info.ucPassthroughCoreFileExist ? PASSTHROUGH_CORE_FILE_FLAG : 0) |
         (info.ucMgmtCoreFileExist ? MGMT_DAEMON_CORE_FILE_FLAG : 0);
}

// The flag follows the HSM's core files: it clears when the dump is deleted
// (Qel2DeleteCoreDump). A reset that deleted the dump would lose it, so the
// flag is read again and reported as it stands.
QEL2_EXPORT int Qel2ResetCoreFlag(int ulSessionHandle, CoreDumpFileFlag) {
  return Qel2GetCoreFlag(ulSessionHandle);
}

QEL2_EXPORT Uint32 Qel2GetCoreDump(Uint32 ulSessionHandle, char *dump_file,
                                   CoreDumpFileFlag which_file, uint32_t backup_num, int cmd_flag) {
  const uint32_t which = static_cast<uint32_t>(which_file);
  if (!(cmd_flag & kSkipFlagQuery)) {
    const int flag = Qel2GetCoreFlag(static_cast<int>(ulSessionHandle));
    if (backup_num == 0 && flag == 0) return RET_INVALID_INPUT;
  }
  if (dump_file == nullptr) return RET_INVALID_INPUT;

  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<kCoreCmdLen> cmd;
  // The header's session handle travels in host order here.
  cmd.w.zeros(8).u32(0).bytes(&session, sizeof session).u32(0);
  cmd.w.u32(which).u32(backup_num);
  std::vector<uint8_t> resp(kCoreRespLen);
  MgmtRequest rq(KQ_GET_CORE_DUMP, session);
  rq.command(cmd).record_len(kCoreHeadLen);
  core_request(rq, resp.data(), which);
  rq.send();
  if (Uint32 r = rq.result()) return r;

  // Only the bytes that arrived are the dump, however many the answer claims.
  const uint32_t claimed = be32_at(resp.data() + kResponseHeaderLen);
  const uint32_t n = std::min({claimed, kCoreMaxData, rq.received(0) - kCoreHeadLen});
  if (claimed == 0) {
    if ((which == PASSTHROUGH_CORE_FILE_FLAG || which == MGMT_DAEMON_CORE_FILE_FLAG) &&
        backup_num == 0)
      printf("\nCore dump file %s is not present in Y5DEV\n", core_file_name(which));
    else
      printf("\nCore dump file %s.%d.%s is not present in Y5DEV\n", core_file_name(which),
             static_cast<int>(backup_num), "bak");
    return 0;
  }
  FileHandle f = open_file(dump_file, "w");
  if (!f) return ERR_INVALID_INPUT;
  const uint8_t *data = resp.data() + kCoreHeadLen;
  const bool written = write_all(f.get(), data, n);
  fwrite(data, 1, n, stdout);
  if (!written || fclose(f.release()) != 0) return ERR_WRITE_OUTPUT_FILE;
  printf("\nDump file is stored at: %s\n\n", dump_file);
  return 0;
}

QEL2_EXPORT Uint32 Qel2DeleteCoreDump(Uint32 ulSessionHandle, CoreDumpFileFlag which_file,
                                      int cmd_flag) {
  if (!(cmd_flag & kSkipFlagQuery) && Qel2GetCoreFlag(static_cast<int>(ulSessionHandle)) == 0)
    return RET_INVALID_INPUT;
  std::vector<uint8_t> resp(kCoreRespLen);
  MgmtRequest rq(KQ_DELETE_CORE_DUMP, masked_session(ulSessionHandle));
  rq.record_len(kResponseHeaderLen);
  core_request(rq, resp.data(), static_cast<uint32_t>(which_file));
  rq.send();
  return rq.result();
}

}  // extern "C"
