// HSM information and firmware version text.
#include <cstring>

#include "mgmt/session/mgmt_workers.h"
#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/app_state.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kInfoOffset = offsetof(GetHSMInfoResponse, info);

// The hardware version is read from the serial number ("%c.%c"): its first
// character is the major, and after a dot the third one is the minor. Only
// bytes of the field itself are looked at.
void hardware_version_from_serial(HSMInfo *info) {
  const Uint8 *serial = info->serialNumber;
  if (serial[0] == 0) return;
  info->hardwareVersion.major = serial[0];
  if (serial[1] == '.' && serial[2] != 0) info->hardwareVersion.minor = serial[2];
}

void default_bootloader_string(HSMInfo *info) {
  if (info->bootloaderString[0] == 0) {
    info->bootloaderString[0] = '0';
    info->bootloaderString[1] = 0;
  }
}

}  // namespace

Uint32 Qel2GetHSMInfoCommon(Uint32 ulSessionHandle, HSMInfo *info) {
  if (info == nullptr) return ERR_INVALID_INPUT;
  uint8_t resp[sizeof(GetHSMInfoResponse)] = {};
  MgmtRequest rq(KQ_TOKEN_INFO, masked_session(ulSessionHandle));
  rq.out(resp, sizeof resp);
  rq.send();
  if (rq.result() != 0) {
    // An older HSM only answers the shorter record; whatever the first
    // attempt left beyond it stays in the buffer.
    MgmtRequest old(KQ_TOKEN_INFO, masked_session(ulSessionHandle));
    old.out(resp, QEL2_HSM_INFO_RESPONSE_OLD_LEN)
        .lengths(0, QEL2_HSM_INFO_RESPONSE_OLD_LEN)
        .params(0, sizeof(GetHSMInfoResponse));
    old.send();
    if (Uint32 r = old.result()) return r;
  }
  std::memcpy(info, resp + kInfoOffset, sizeof *info);
  default_bootloader_string(info);
  hardware_version_from_serial(info);
  return 0;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2GetHSMInfo(int dev_id, HSMInfo *info) {
  if (!valid_device(dev_id)) return ERR_INVALID_INPUT;
  return Qel2GetHSMInfoCommon(static_cast<Uint32>(dev_id) << QEL2_DEVICE_SHIFT, info);
}

QEL2_EXPORT Uint32 Qel2GetHSMInfo2(Uint32 ulSessionHandle, HSMInfo *info) {
  return Qel2GetHSMInfoCommon(ulSessionHandle, info);
}

QEL2_EXPORT Uint32 Qel2GetHSMInfoNew(Uint32 ulSessionHandle, HSMInfo *info) {
  return Qel2GetHSMInfoCommon(ulSessionHandle, info);
}

QEL2_EXPORT Uint32 Qel2FWVersion(Uint32 ulSessionHandle, Uint8 *version, Uint32 *version_length) {
  if (version == nullptr || version_length == nullptr) return ERR_INVALID_INPUT;
  // The answer is the version text alone, without a response record.
  MgmtRequest rq(KQ_GET_VERSION, masked_session(ulSessionHandle));
  rq.out(version, *version_length);
  rq.send();
  *version_length = QEL2_FW_VERSION_LEN;
  if (Uint32 r = rq.status_result()) return r;
  // A success reports no more text than arrived, and carries some.
  if (rq.received(0) == 0) return TESSALINE_INVALID_MSG;
  if (rq.received(0) < *version_length) *version_length = rq.received(0);
  return 0;
}

}  // extern "C"
