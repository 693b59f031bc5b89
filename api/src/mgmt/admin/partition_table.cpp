// The firmware's raw partition table and the daemon's translation of it
// into partition information records.
#include <cstdio>

#include "qel2_admin.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {
constexpr uint32_t kPartitionTableTimeout = 10;  // seconds
constexpr uint16_t kRawTableOpcode = 0;
constexpr uint16_t kTranslateOpcode = 1;
constexpr uint32_t kTranslatedLen = QEL2_MAX_PARTITIONS * sizeof(PartitionInfo);
}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2PartitionInfo(int /*dev_id*/, uint8_t *partn_info, Uint32 *max_partns,
                                     Uint32 application_id) {
  if (partn_info == nullptr || max_partns == nullptr) return ERR_INVALID_INPUT;
  Uint8 count = 0;
  MgmtRequest rq(kRawTableOpcode, application_id, FW_PARTN_INFO, kPartitionTableTimeout);
  rq.out(&count, 1).out(partn_info, QEL2_RAW_PARTITION_TABLE_LEN);
  rq.send();
  if (Uint32 r = rq.status_result()) return r;
  *max_partns = count;
  return 0;
}

// The translation is the daemon's own operation: the raw table goes in, the
// 33 records come back.
QEL2_EXPORT Uint32 Qel2TranslatePartitionInfo(int /*dev_id*/, void *partn_info, void *fw_info) {
  if (partn_info == nullptr || fw_info == nullptr) return ERR_INVALID_INPUT;
  request_buffer rb{};
  rb.opcode = kTranslateOpcode;
  rb.command_type = FW_PARTN_INFO;
  rb.timeout = kPartitionTableTimeout;
  rb.inptr[0] = reinterpret_cast<uintptr_t>(fw_info);
  rb.insize[0] = QEL2_RAW_PARTITION_TABLE_LEN;
  rb.incnt = 1;
  rb.outptr[0] = reinterpret_cast<uintptr_t>(partn_info);
  rb.outsize[0] = kTranslatedLen;
  rb.outcnt = 1;
  rb.dlen = rb.param1 = QEL2_RAW_PARTITION_TABLE_LEN;
  rb.rlen = rb.param2 = static_cast<Uint16>(kTranslatedLen);
  Int32 t =
      orx_tessaline_cli_send_daemon(&rb, HSM_QEL1_TRANSLATE_PARTITION_INFO, 0, nullptr, nullptr);
  if (t != 0) return static_cast<Uint32>(t);
  return static_cast<Uint32>(rb.status);
}

}  // extern "C"
