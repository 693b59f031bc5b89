// Application initialise: check the daemon's version, register the
// application for a partition and keep its id and login nonce.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "daemon_intf/transport.h"
#include "mgmt/session/mgmt_workers.h"
#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/app_state.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr const char *kDefaultPartition = "PARTITION_1";
constexpr int kInitFailLine = 1018;

// AppInitCommandNew: no-session head with nonce 0, then the partition name,
// cut to 15 characters and NUL-padded (at most 15 bytes of the name are read).
void build_app_init(CommandRecord<sizeof(AppInitCommandNew)> &cmd, const char *partition_name) {
  size_t n = strnlen(partition_name, QEL2_PARTITION_NAME_FIELD - 1);
  put_nosession_header(cmd.w, 0);
  cmd.w.fixed(partition_name, n, QEL2_PARTITION_NAME_FIELD);
}

// A failed application initialise drops every connection of the process;
// the device stays marked started, so requests fail until Qel2SDKCleanup.
Uint32 fail_init(Uint32 r, Uint32 *pulAppID) {
  printf("%s:%d error %d : %s\n", "Qel2InitializeCommon", kInitFailLine, static_cast<int>(r),
         reinterpret_cast<const char *>(Qel2ResultAsString(r)));
  *pulAppID = 0;
  orx_tessaline_cli_delete_threads_table();
  process_id = -1;
  return r;
}

}  // namespace

Uint32 Qel2InitializeCommon(int dev_id, Int32 /*driver_handle*/, DmaMode dma_mode,
                            const char *partition_name, Uint32 *pulAppID) {
  if (!valid_device(dev_id)) return ERR_INVALID_INPUT;
  if (Uint32 r = Qel2SDKInit(dev_id, QEL1_driver_handle[dev_id])) return r;
  if (pulAppID == nullptr || partition_name == nullptr) return ERR_INVALID_INPUT;
  if (Uint32 r = GetPeerVersion(dev_id, pulAppID)) return r;

  CommandRecord<sizeof(AppInitCommandNew)> cmd;
  build_app_init(cmd, partition_name);
  uint8_t resp[sizeof(AppInitResponse)] = {};
  MgmtRequest rq(KQ_APP_INITIALIZE, 0);
  rq.command(cmd).out_local(resp, sizeof resp);
  rq.send();
  Uint32 r = rq.result();
  if (r != 0) return fail_init(r, pulAppID);

  ResponseHead head;
  read_response_head(resp, sizeof resp, &head);
  BeReader rd(resp + kResponseHeaderLen, sizeof resp - kResponseHeaderLen);
  Uint32 app_identifier = rd.u32();
  Uint32 app_id = (static_cast<Uint32>(dev_id) << QEL2_DEVICE_SHIFT) | app_identifier;
  *pulAppID = app_id;
  login_nonce[dev_id][app_index_of(app_id)] = head.flags;
  global_dma_mode = dma_mode;
  return 0;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2Initialize(int dev_id, DmaMode dma_mode) {
  if (!valid_device(dev_id)) return ERR_INVALID_INPUT;
  return Qel2InitializeCommon(dev_id, -1, dma_mode, kDefaultPartition,
                              &global_application_id[dev_id]);
}

QEL2_EXPORT Uint32 Qel2Initialize2(int dev_id, DmaMode dma_mode, Uint32 *pulAppID) {
  return Qel2InitializeCommon(dev_id, -1, dma_mode, kDefaultPartition, pulAppID);
}

QEL2_EXPORT Uint32 Qel2Initialize3(int dev_id, DmaMode dma_mode, const char *partition_name,
                                   Uint32 *pulAppID) {
  return Qel2InitializeCommon(dev_id, -1, dma_mode, partition_name, pulAppID);
}

QEL2_EXPORT Uint32 Qel2Initialize5(int dev_id, Int32 driver_handle, DmaMode dma_mode,
                                   const char *partition_name, Uint32 *pulAppID) {
  return Qel2InitializeCommon(dev_id, driver_handle, dma_mode, partition_name, pulAppID);
}

QEL2_EXPORT Uint32 Qel2InitializeNew(int dev_id, DmaMode dma_mode, const char *partition_name) {
  if (!valid_device(dev_id)) return ERR_INVALID_INPUT;
  return Qel2InitializeCommon(dev_id, -1, dma_mode, partition_name, &global_application_id[dev_id]);
}

QEL2_EXPORT Uint32 Qel2Initialize4(int dev_id, DmaMode dma_mode, const char *partition_name) {
  return Qel2InitializeNew(dev_id, dma_mode, partition_name);
}

}  // extern "C"
