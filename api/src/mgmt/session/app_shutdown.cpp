// Application finalise and the teardown of the process's connections.
#include <unistd.h>

#include <cstdio>

#include "daemon_intf/transport.h"
#include "mgmt/mgmt_common.h"
#include "mgmt/session/mgmt_workers.h"
#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/app_state.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

bool application_known(Uint32 ulAppID) {
  PthreadLock lock(cli_th_tbl_lock);
  return orx_tessaline_cli_threads_table != nullptr && masked_app(ulAppID) != 0;
}

void forget_sdk_start() {
  orx_tessaline_cli_delete_threads_table();
  process_id = -1;
  QEL1_driver_handle[0] = -1;
  global_dma_mode = OSTREL_DIRECT;
}

}  // namespace

Uint32 Qel2ShutdownCommon(Uint32 ulAppID) {
  if (!application_known(ulAppID)) {
    printf("Qel2Shutdown: Application is not initialized ");
    return ERR_LIB_NOT_INITIALIZED;
  }
  // Only the process that started the SDK finalises the application; a
  // forked child leaves the parent's application and connections alone.
  if (getpid() != process_id) return 0;

  CommandRecord<sizeof(AppFinalizeCommand)> cmd;
  put_nosession_header(cmd.w, 0);
  cmd.w.u32(masked_app(ulAppID)).u32(nonce_for(ulAppID));
  MgmtRequest rq(KQ_APP_FINALIZE, masked_app(ulAppID));
  rq.command(cmd).out_std_response();
  rq.send();
  Uint32 r = rq.result();
  if (r == 0) forget_sdk_start();
  return r;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2Shutdown(int dev_id) {
  if (!valid_device(dev_id)) return ERR_INVALID_INPUT;
  return Qel2ShutdownCommon(global_application_id[dev_id]);
}

QEL2_EXPORT Uint32 Qel2Shutdown2(Uint32 ulAppID) { return Qel2ShutdownCommon(ulAppID); }

}  // extern "C"
